/// \file
/// The SLP checker: walks a file as the loader does and lists, with line and column, what a load would
/// lose or read differently from what the file seems to say.
///
/// The loader is lenient by design: it reports no syntax error, and where a run of facets cannot become
/// a mesh (its vertices and normals do not pair up, or no solid is open) it drops the run silently.
/// The checker follows the same token walk (the same keywords, triples, flush points and solid stack)
/// without building a model, so its counts of solids, meshes and triangles are the loader's, and says
/// where each loss comes from.
#pragma once

#include "checker/Export.h"
#include "foundation/BasicString.h"
#include "slp/SLPTypes.h"
#include "tokenizer/KarnFileInterface.h"

#include <functional>
#include <string>
#include <vector>

/// How much a finding matters: an error loses geometry (vertices the loader drops), a warning marks
/// text the loader reads differently from how it looks (a stray word after a name, a triple cut short,
/// a facet without three vertices, a solid left open).
enum CheckSeverityTypes
{
    CheckError = 0,
    CheckWarning = 1
};

/// The severity as the program, its JSON and the bindings name it: "error" or "warning".
inline const char* CheckSeverityName(CheckSeverityTypes eSeverity)
{
    return eSeverity == CheckError ? "error" : "warning";
}

/// One finding. Codes are stable, for scripts:
///   run-discarded           (error)   a run of facets whose vertex and normal counts differ is dropped
///   outside-solid           (error)   facets before any solid (or after its end) are dropped
///   leftover-vertices       (error)   one or two vertices after a run's last whole triangle are dropped
///   facet-vertex-count      (warning) a facet without exactly three vertices: triangles form across facets
///   number-expected         (warning) a normal, vertex or colour with fewer than three numbers
///   name-has-more-words     (warning) words after a solid's name on its line, which the loader passes over
///   keyword-as-name         (warning) a keyword right after "solid" names the solid and does not act
///   endsolid-without-solid  (warning) "endsolid" with no solid open
///   solid-left-open         (warning) a solid still open at the end of the file
///   no-solid                (error)   no solid at all: a load of the file fails (empty, binary, not SLP)
struct SLPCHECK_API CCheckFinding
{
    CheckSeverityTypes m_eSeverity = CheckWarning;
    std::string m_strCode;
    /// Where it is: the line (from 1, counting line feeds) and column (in bytes, from 1).
    long long m_nLine = 0;
    long long m_nColumn = 0;
    /// One sentence in plain words, UTF-8.
    std::string m_strMessage;
    /// Whether `slp fix` repairs it (the message then ends with "(slp fix repairs this)"): a discarded
    /// run or facets outside any solid, whose vertices a fixed file keeps, and a solid left open.
    bool m_bFixable = false;
};

/// What a check found, and the loader's counts for the file.
struct SLPCHECK_API CCheckReport
{
    /// SLPLoadSuccess when the file was read; otherwise the open outcome, as Parse gives it (and the
    /// system's error code, 0 when there is none), and nothing else is filled.
    SLPLoadResultTypes m_eOpen = SLPLoadSuccess;
    int m_nSystemError = 0;
    long long m_nErrors = 0;
    long long m_nWarnings = 0;
    /// The findings in order of line and column, up to the limit of CCheckOptions (the counts above count
    /// them all).
    std::vector<CCheckFinding> m_Findings;
    long long m_nSolids = 0;    ///< groups a load makes
    long long m_nMeshes = 0;    ///< mesh objects a load makes
    long long m_nTriangles = 0; ///< triangles a load keeps
    long long m_nLostVertices = 0;
    long long m_nLostTriangles = 0; ///< whole triangles among the lost vertices
    long long m_nBytes = 0;         ///< the size of the input
};

/// How to check.
struct SLPCHECK_API CCheckOptions
{
    /// Called with each finding, in order of line and column (all of them, whatever the limit). A
    /// finding is made up to a run, a facet or a solid after the place it names, so each is given once
    /// nothing can come before it any more: a solid left open, or a file without a solid, holds its
    /// findings until the end (at most 100,000 of them wait; beyond that the earliest go out at once).
    std::function<void(const CCheckFinding&)> onFinding;
    /// Called with the percentage read, from 1 to 99, each time it grows (not for input of unknown size).
    std::function<void(int)> onProgress;
    /// The most findings kept in the report; the rest are only counted (and given to onFinding).
    size_t m_nKeptFindings = 10000;
    /// Watches the file's reads (see CKarnReadWatcher): a failure it asks for makes the file one that
    /// cannot be read. Not owned; null for none.
    CKarnReadWatcher* m_pReadWatcher = nullptr;
};

/// What a file that does not load holds instead of SLP text, as the program, the page and the Python
/// package say it: "binary data, not SLP text" when its first block holds a NUL byte, "empty file" for
/// a size of 0, else "no solid in the file".
SLPCHECK_API const char* DescribeNotSLP(long long nSize, bool bStartsAsBinary);

/// Refuses binary input as soon as its first block shows it, rather than reading it all (an endless
/// device such as /dev/zero would never end): a first block that holds a NUL byte before any "solid"
/// fails to read with EILSEQ, which the explanations of LoadFailure.h tell as binary data. Text whose
/// first block holds a NUL byte after its first "solid" (padding, say) reads as before, and so does
/// gzipped input (first bytes 1f 8b), which the file reader inflates. Stateless: one
/// guard may watch any number of readers and threads.
class SLPCHECK_API CBinaryInputGuard : public CKarnReadWatcher
{
public:
    /// pNext, when given, watches the reads too (after the guard); not owned.
    explicit CBinaryInputGuard(CKarnReadWatcher* pNext = nullptr) : m_pNext(pNext) {}
    int BeforeRead(long long nOffset) override;
    int AfterRead(long long nOffset, const char* pData, size_t nLength) override;

private:
    CKarnReadWatcher* m_pNext;
};

/// Checks the file at the path (make it with CBasicString::FromPath from a name the system gave;
/// "/dev/stdin" reads the standard input). Binary input is refused at its first block (a no-solid
/// error); a read that fails part way gives the report of a file that cannot be read (m_eOpen
/// SLPLoadResult2, with the system's error). Never throws but std::bad_alloc.
SLPCHECK_API CCheckReport CheckSLPFile(const CBasicString& path,
                                       const CCheckOptions& options = CCheckOptions());
