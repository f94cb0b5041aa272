/// \file
/// CSlpTextWriter: SLP text that a load reads back as exactly what was given to it: the same groups
/// with the same names, the same meshes (one per run given), the same colours and every float bit for
/// bit. ExportWorld writes a model with it (ExportFormatSlp), and `slp fix` writes a repaired file.
#pragma once

#include "model/VemoTypes.h"
#include "writers/Export.h"

#include <cstddef>
#include <string>

class CFileSink;

/// Writes SLP text to a sink, solid by solid and triangle by triangle, as a load would read it back:
///   - a solid's name is written as the token a load takes for it; OpenSolid takes the name as the bytes
///     of that token (what the loader's tokenizer gives, up to a NUL), so names that are keywords,
///     numbers, brackets, quoted texts (quotes included) or not UTF-8 read back unchanged;
///   - every triangle carries its three normals, one before each vertex, inside facet ... endfacet;
///   - a run (the triangles between two EndRun calls, or a solid's start and end) is one mesh: where two
///     runs follow each other in one solid, a colour line stands between them, since the loader ends a
///     mesh only at "solid", "endsolid", "color" or the end of the file;
///   - a colour line is written before a run whose colour differs from the one in force in the text (the
///     loader starts with opaque white), with the three components; the alpha is always 1 in a load;
///   - numbers are the shortest text that reads back to the same float ("-0", "inf", "-inf", "nan" and
///     "-nan" included), in any locale.
/// Nesting is shown by indentation up to a modest depth, beyond which lines start at the margin, so
/// deep trees do not grow the text by the square of their depth. Nothing here recurses.
class SLPEXPORT_API CSlpTextWriter
{
public:
    explicit CSlpTextWriter(CFileSink& out);

    /// Opens a solid inside the current one, named by the bytes of its name token. An empty name is the
    /// solid a load makes when "solid" is the last token of the file: it is written as that, and nothing
    /// can follow it (Finish then leaves every solid open, and later calls write nothing).
    void OpenSolid(const std::string& nameToken);
    /// Closes the innermost open solid; does nothing when none is open.
    void CloseSolid();
    /// The colour of the runs that start from now on.
    void SetColour(float fRed, float fGreen, float fBlue);
    /// Adds a triangle to the current run (starting one when none is under way).
    void Triangle(const vemoFloatPoint* pVertices, const vemoVector* pNormals);
    /// The most bytes of FacetText.
    static constexpr size_t FacetTextBytes = 1024;
    /// The text that Triangle writes for a triangle after the first of a run, put at pOut, which has
    /// room for FacetTextBytes; its length (0 once the unnamed solid ended the text). It depends only on
    /// the solids open, so several threads may format the triangles of a run at once, to be written in
    /// order after its first.
    size_t FacetText(const vemoFloatPoint* pVertices, const vemoVector* pNormals, char* pOut) const;
    /// Ends the current run: the next triangle starts another mesh.
    void EndRun();
    /// Closes every open solid (unless the unnamed solid was written last).
    void Finish();

    long long GetOpenSolids() const { return m_nDepth; }

private:
    void Indent(long long nExtra);
    void Number(float f);

    CFileSink& m_Out;
    long long m_nDepth = 0;
    bool m_bEnded = false;    ///< the unnamed solid was written: nothing may follow
    bool m_bInRun = false;    ///< triangles of the current run were written
    bool m_bRunEnded = false; ///< a run ended and no solid or colour line has been written since
    float m_aColour[3] = {1.0f, 1.0f, 1.0f};  ///< the colour wanted for the next run
    float m_aWritten[3] = {1.0f, 1.0f, 1.0f}; ///< the colour in force in the text written
};

/// The bytes to write for a name (as the loader's tokenizer would give them) so that a load reads the
/// same name back: the name itself when it is one token as it stands, else the name with the bytes that
/// would split or end the token (white space, brackets, quotes) replaced by '_' (an empty name becomes
/// "_"). bExact tells which.
SLPEXPORT_API std::string SlpNameToken(const std::string& name, bool& bExact);
