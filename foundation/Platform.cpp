// Case mapping, comparison without regard to case and the length of wide text, through the C
// runtime (and _wcsicmp on Windows); and prefaulting of fresh memory where the system offers it.
#include "foundation/Platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cwctype>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(_WIN32)
#include <wchar.h>
#endif

#if !defined(_WIN32)
WideChar BasicToUpper(WideChar c)
{
    const wint_t r = std::towupper(static_cast<wint_t>(static_cast<uint16_t>(c)));
    // A mapping outside the 16-bit range cannot be stored in one unit; keep the unit then.
    return r <= 0xFFFF ? static_cast<WideChar>(r) : c;
}

WideChar BasicToLower(WideChar c)
{
    const wint_t r = std::towlower(static_cast<wint_t>(static_cast<uint16_t>(c)));
    return r <= 0xFFFF ? static_cast<WideChar>(r) : c;
}

bool BasicIsSpace(WideChar c)
{
    return std::iswspace(static_cast<wint_t>(static_cast<uint16_t>(c))) != 0;
}

int BasicCompareNoCase(const WideChar* pszA, const WideChar* pszB)
{
    static const WideChar kEmpty = 0;
    const WideChar* a = pszA != nullptr ? pszA : &kEmpty;
    const WideChar* b = pszB != nullptr ? pszB : &kEmpty;
    for (;; ++a, ++b)
    {
        const int ca = static_cast<uint16_t>(BasicToLower(*a));
        const int cb = static_cast<uint16_t>(BasicToLower(*b));
        if (ca != cb || ca == 0)
        {
            return ca - cb;
        }
    }
}

#endif // !_WIN32

int BasicWideLength(const WideChar* pszText)
{
    if (pszText == nullptr)
    {
        return 0;
    }
    size_t n = 0;
    while (pszText[n] != 0 && n < static_cast<size_t>(INT_MAX))
    {
        ++n;
    }
    return static_cast<int>(n);
}

#if defined(_WIN32)
// wint_t is 16 bits here, so every mapping fits in one unit.
WideChar BasicToUpper(WideChar c)
{
    return static_cast<WideChar>(std::towupper(static_cast<wint_t>(c)));
}

WideChar BasicToLower(WideChar c)
{
    return static_cast<WideChar>(std::towlower(static_cast<wint_t>(c)));
}

bool BasicIsSpace(WideChar c)
{
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

int BasicCompareNoCase(const WideChar* pszA, const WideChar* pszB)
{
    static const WideChar kEmpty = 0;
    return ::_wcsicmp(pszA != nullptr ? pszA : &kEmpty, pszB != nullptr ? pszB : &kEmpty);
}

#endif // _WIN32

void BasicPrefaultForWriting(const void* pBegin, size_t nBytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    static std::atomic<bool> s_bUnsupported(false);
    if (s_bUnsupported.load(std::memory_order_relaxed) || pBegin == nullptr || nBytes == 0)
        return;
    // The call takes whole pages. Those that the range shares with its neighbours belong to mappings
    // that are already there (the same allocation or the heap), and populating them changes nothing.
    const std::uintptr_t nPage = 4096;
    const std::uintptr_t nStart = reinterpret_cast<std::uintptr_t>(pBegin) & ~(nPage - 1);
    const std::uintptr_t nEnd = reinterpret_cast<std::uintptr_t>(pBegin) + nBytes;
    if (::madvise(reinterpret_cast<void*>(nStart), nEnd - nStart, MADV_POPULATE_WRITE) != 0 &&
        errno == EINVAL)
        s_bUnsupported.store(true, std::memory_order_relaxed);
#else
    (void)pBegin;
    (void)nBytes;
#endif
}
