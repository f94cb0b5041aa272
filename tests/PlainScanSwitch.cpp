// Linked into the test programs that read SLP text: with SLP_TEST_PLAIN_SCAN set, every input they
// open is scanned without vector instructions, the way processors without them read, so one test
// program covers both ways (the build registers a run of each program so).
#include "external/tokenizer/ByteScan.h"

#include <cstdlib>

namespace
{
const bool g_bPlainScan = []
{
    const bool bPlain = std::getenv("SLP_TEST_PLAIN_SCAN") != nullptr;
    GenericForcePlainScan(bPlain);
    return bPlain;
}();
} // namespace
