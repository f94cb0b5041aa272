// Linked into the test programs that read SLP text: SLP_TEST_SCAN=plain (or sse2) makes every input
// they open use the scan without vector instructions that processors without them use (or the SSE2
// one, which processors without AVX2 use), so one test program covers every way; the build registers
// a run of each program with each.
#include "tokenizer/ByteScan.h"

#include <cstdlib>
#include <cstring>

namespace
{
const bool g_bLimited = []
{
    const char* pszScan = std::getenv("SLP_TEST_SCAN");
    if (pszScan == nullptr)
        return false;
    GenericLimitScan(std::strcmp(pszScan, "sse2") == 0 ? GenericScanSse2 : GenericScanPlain);
    return true;
}();
} // namespace
