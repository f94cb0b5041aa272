// Loaded into the slp program by a test (LD_PRELOAD): the second array of exactly 1 MiB that the
// program allocates, which is the buffer of a conversion's second output file (each output's buffer is
// 1 MiB), fails with std::bad_alloc, as when memory runs out while both output files are open.
#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<int> g_nBuffers(0);
}

void* operator new[](std::size_t nBytes)
{
    if (nBytes == (1u << 20) && ++g_nBuffers == 2)
        throw std::bad_alloc();
    if (void* p = std::malloc(nBytes != 0 ? nBytes : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
