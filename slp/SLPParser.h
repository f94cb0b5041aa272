/// \file
/// CSLPParser: loads an SLP file into a model world.
///
/// This header gives a host everything a load needs: the parser, the result and token enumerations, the
/// model classes the load fills (CKarnWorld, its groups and mesh objects) and CBasicString.
///
///     CKarnWorld world;
///     CSLPParser parser;
///     parser.SetFileName(CBasicString("part.slp"));
///     parser.SetLoaderPtr(&OnProgress);          // optional: void OnProgress(int percent)
///     if (parser.Parse(&world) == SLPLoadSuccess) { ... read the world ... }
///
/// The parser never owns the world or anything a load attaches to it. A load runs on the caller's
/// thread; the progress callback is called from inside it. Failures are reported through results; only
/// allocation failures (std::bad_alloc) and over-long strings (std::length_error) throw, and the parser
/// catches none.
#pragma once

#include "foundation/BasicString.h"
#include "model/KarnGroup.h"
#include "model/KarnList.h"
#include "model/KarnStl.h"
#include "model/KarnWorld.h"
#include "model/VemoTypes.h"
#include "slp/CollectedArray.h"
#include "slp/Export.h"
#include "slp/SLPIOManager.h"
#include "slp/SLPTypes.h"

#include <memory>
#include <unordered_map>
#include <vector>

/// The host's progress callback: receives the load's percentage, from 1 to 99, each time it grows.
typedef void(SLP_STDCALL* SLPLoaderCallback)(int nPercentage);

class SLP_API CSLPParser
{
public:
    /// A parser with the defaults of InitializeVariables, an empty file name and empty lists.
    CSLPParser();
    /// Member-wise copy: the copy shares the source's world and current group (the model is not
    /// copied), copies its lists and settings, and has no file open. A copy made during a load (from its
    /// callback) keeps the groups the load opened as a load leaves them, so that its own next load drops
    /// them once they are gone.
    CSLPParser(const CSLPParser& other);
    /// Member-wise assignment, in declaration order.
    CSLPParser& operator=(CSLPParser& other);
    /// Empties the group stack and frees the collected points and normals; the model is untouched.
    ~CSLPParser();

    /// Sets the defaults: no world, no current group, last percentage 0, no callback, opaque white,
    /// an empty estimated box, decimation magnitude 0, and the list types of the point and normal
    /// lists. The file name, the tokenizer and the contents of the lists are left as they are.
    void InitializeVariables();

    /// Loads the file named by SetFileName into pWorld: one group per solid (nested solids become child
    /// groups), one mesh object per run of facets between "SOLID", "ENDSOLID", "COLOR" and the end of
    /// the file, carrying the colour in force. Returns SLPLoadFailure without touching the file for an
    /// empty file name or a null world, the tokenizer's open outcome when the file cannot be opened or
    /// read, SLPLoadResult2 too when a read fails part way (the walk ends there: the groups and meshes
    /// made before stay in the world, the run being collected is dropped, the world's box is not
    /// updated; GetIOManager()->GetFileInterface()->GetSystemError() tells why), SLPLoadSuccess when
    /// the world then holds any group or object, else SLPLoadFailure. The
    /// colour, the estimated box, the last percentage and groups left open carry over into the next
    /// Parse (a stack whose groups are no longer in the world being loaded is dropped first).
    SLPLoadResultTypes Parse(CKarnWorld* pWorld);
    /// Loads a file's content held in memory, nSize bytes at pData (read in place, not copied; it must
    /// stay unchanged until this returns), into pWorld as Parse loads a file, with the same results and
    /// progress reports (but SLPLoadResult2, which no read gives here), the callback on the calling
    /// thread, and on the threads SetThreadCount allows, as a regular file. The file name is not used. A
    /// null pData is an empty input.
    SLPLoadResultTypes ParseBuffer(CKarnWorld* pWorld, const char* pData, size_t nSize);
    /// Reads up to three consecutive number tokens starting at the current one into the arguments (an
    /// argument whose number is missing is not written); true when at least one was read. Ends on the
    /// third number, or on the first token after one or two numbers.
    bool ReadNumericTriplet(double& dFirst, double& dSecond, double& dThird);
    /// Advances while the current token has no SLP meaning; returns at the end of the input at the
    /// latest.
    void MoveUpToInterestingToken();
    /// Turns the collected points and normals into one mesh object of the current group with the
    /// current colour: triangle i from points and normals 3i to 3i+2. False, with nothing added, when
    /// there is no current group, no point, fewer than three points, or a normal count that differs
    /// from the point count. Both lists are empty afterwards whenever it returns.
    bool FlushGeometryToWorld();
    /// Removes every double quote (U+0022) from the text; true when at least one was removed.
    bool RemoveQuotes(CBasicString& strText);
    /// The vertices that flushes dropped since the last Parse began reading (or since construction):
    /// runs whose normals and vertices did not pair up, runs outside any solid, and the one or two
    /// vertices after a run's last whole triangle. 0 means every vertex read reached a mesh; what was
    /// dropped, and where, is what a check of the file (checker/SLPChecker.h) lists.
    long long GetDiscardedPointCount() const { return m_nDiscardedPoints; }

    /// Token layer: advances one token and reports progress; false when no token could be read.
    bool Tokenize();
    /// Reports the load's percentage to the callback when it grew (at most 99): of the input read, or
    /// for a gzipped file of the compressed bytes read.
    void UpdateStatus();
    bool SaveIOState(CGenericIOState& state);
    bool RestoreIOState(CGenericIOState& state);
    SLPTokenTypes GetCurrentTokenType();
    SLPTokenTypes GetNextTokenType();
    GenericTokenTypes GetCurrentTokenDataType();
    GenericTokenTypes GetNextTokenDataType();
    double GetCurrentTokenNumericValue();
    double GetNextTokenNumericValue();
    bool GetCurrentTokenBooleanValue();
    bool GetNextTokenBooleanValue();
    /// The token's text, owned by the tokenizer and valid until the next Tokenize.
    char* GetCurrentTokenString();
    char* GetNextTokenString();
    bool GetCurrentTokenBeginType();
    bool GetNextTokenBeginType();
    bool GetCurrentTokenEndType();
    bool GetNextTokenEndType();

    /// Group stack. PushGroup attaches the group (owned by its new parent from then on) under the
    /// current group, or under the world when none is current, and makes it current; a null group, or
    /// no current group and no world, does nothing. PopGroup makes the next open group current (null
    /// when none); the group itself stays in the model. ClearGroupStack empties the stack and leaves the
    /// current group as it was.
    void PushGroup(CKarnGroup* pGroup);
    void PopGroup();
    void ClearGroupStack();
    /// The current group, else the world, else null.
    CKarnGroup* GetParentGroup();

    /// Collection lists: copies are appended; the Clear members free them.
    void AddPointToList(vemoFloatPoint& point);
    void AddNormalToList(vemoVector& normal);
    void ClearPointList();
    void ClearNormalList();

    /// Plain accessors.
    CKarnWorld* GetWorld() { return m_pWorld; }
    void SetWorld(CKarnWorld* pWorld) { m_pWorld = pWorld; }
    CKarnGroup* GetCurrentGroup() { return m_pCurrentGroup; }
    /// Sets the current group without touching the group stack.
    void SetCurrentGroup(CKarnGroup* pGroup);
    CSLPIOManager* GetIOManager() { return &m_IOManager; }
    CBasicString GetFileName();
    void SetFileName(CBasicString strFileName);
    int GetLastPercentage() { return m_nLastPercentage; }
    void SetLastPercentage(int nPercentage) { m_nLastPercentage = nPercentage; }
    SLPLoaderCallback GetLoaderPtr() { return m_pLoader; }
    void SetLoaderPtr(SLPLoaderCallback pLoader) { m_pLoader = pLoader; }
    CKarnList* GetGroupStack() { return &m_GroupStack; }
    /// The point list, holding every point collected since the last flush or clear, in file order.
    /// While no host asks for it, a load collects into a plain array; asking moves what was collected
    /// into the list, and the points of the same run that follow are added to the list too, until the
    /// next flush or clear. A host that reads the list during a load (from the progress callback) asks
    /// for it again after each flush.
    CKarnList* GetPointList();
    /// The same for the normal list.
    CKarnList* GetNormalList();
    vemoChroma& GetCurrentColor() { return m_CurrentColor; }
    void SetCurrentColor(vemoChroma color) { m_CurrentColor = color; }
    vemoBBox& GetEstimatedBoundingBox() { return m_EstimatedBBox; }
    void SetEstimatedBoundingBox(vemoBBox box) { m_EstimatedBBox = box; }
    double GetDecimationMagnitude() { return m_dDecimationMagnitude; }
    void SetDecimationMagnitude(double dMagnitude) { m_dDecimationMagnitude = dMagnitude; }
    /// The threads a load of a regular file or a buffer may use, the calling thread among them: 1 loads on
    /// the calling thread alone; 0, the default, lets the parser choose (as many as the processor has, for
    /// files of 32 MiB and more; one below, where threads cost more than they give). Other threads only
    /// read the file ahead and convert its common lines' numbers: the callback runs on the calling
    /// thread, and everything a host sees, the model, every token, every report and where it comes, the
    /// lists and every failure, is what a load on one thread gives. A stream (a pipe, the standard input)
    /// is read on the calling thread whatever the count. Negative counts count as 1.
    int GetThreadCount() const { return m_nThreadCount; }
    void SetThreadCount(int nThreads) { m_nThreadCount = nThreads < 0 ? 1 : nThreads; }

private:
    /// Drops a group stack (and current group) left by an earlier load or set by the host unless every
    /// group on it still exists and is part of the world being loaded. Whether a group still exists is
    /// told by the token recorded when the parser kept it, without touching the group; groups that a
    /// host put on the stack list directly have none and are taken as live.
    void DropStaleGroups();
    /// Parse and ParseBuffer from the open input on.
    SLPLoadResultTypes LoadInput();
    /// The token walk of Parse, from the first token to the end of the input.
    void WalkTokens();
    /// What the walk does for one step of a keyword run; the arrays are the walk's last normal, vertex
    /// and colour, which a triple cut short later takes its missing numbers from.
    void TakeStep(const CGenericRunStep& step, double* pNormal, double* pVertex, double* pColor);
    /// PushGroup without recording the group's token (a load records what it leaves open at its end).
    bool AttachGroup(CKarnGroup* pGroup);
    /// Records the tokens of the current group and of every group on the stack, forgetting the rest.
    void RecordOpenGroups();
    void RecordGroup(const CKarnGroup* pGroup);
    /// Moves the points (normals) collected in the array into the list, which from then on takes the
    /// run's further points (normals).
    void ListCollectedPoints();
    void ListCollectedNormals();
    /// Builds the triangles of a flush from the collected points and normals: the arrays, or the lists
    /// when they are in use.
    void FillTriangles(vemoTRex* pTriangles, int nFacets);
    /// The smallest file offset at which the percentage would exceed nLast for a file of nTotal bytes.
    static long long ReportThreshold(int nLast, long long nTotal);
    /// Where the load stands for its progress, and out of how much: the offset of the current token's
    /// end in the input and the input's size, or for a gzipped file the compressed bytes read and the
    /// compressed size (true then), so that the progress follows what is read of the file.
    bool ProgressPosition(long long& nOffset, long long& nTotal);
    /// UpdateStatus past the threshold, or with a threshold computed for other values.
    void ReportProgressAt(long long nOffset, long long nTotal);

    CKarnWorld* m_pWorld;
    CKarnGroup* m_pCurrentGroup;
    CSLPIOManager m_IOManager;
    CBasicString m_strFileName;
    int m_nLastPercentage;
    SLPLoaderCallback m_pLoader;
    CKarnList m_GroupStack;
    CKarnList m_PointList;
    CKarnList m_NormalList;
    vemoChroma m_CurrentColor;
    vemoBBox m_EstimatedBBox;
    double m_dDecimationMagnitude;
    // Below m_nReportOffset, UpdateStatus has nothing to report; the threshold follows from the last
    // percentage and the file size it was computed for, and is recomputed when either differs.
    long long m_nReportOffset;
    long long m_nReportTotal;
    int m_nReportLast;
    // The points and normals of the current run while no host has asked for the lists: a plain array
    // costs 12 bytes a vertex where a list costs an element and an item. Each flag tells that the list
    // has taken over until the next flush or clear.
    CSLPCollectedArray<vemoFloatPoint> m_CollectedPoints;
    CSLPCollectedArray<vemoVector> m_CollectedNormals;
    bool m_bPointsListed;
    bool m_bNormalsListed;
    // The life tokens of the groups the parser keeps between loads (see DropStaleGroups).
    std::unordered_map<const CKarnGroup*, std::weak_ptr<const void>> m_GroupTokens;
    long long m_nDiscardedPoints;
    int m_nThreadCount;
    bool m_bLoading; ///< a load is under way (the callback is running)
};
