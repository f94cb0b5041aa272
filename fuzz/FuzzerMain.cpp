// The libFuzzer entry of one harness; SLP_FUZZ_ENTRY names the harness function.

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    return SLP_FUZZ_ENTRY(pData, nSize);
}
