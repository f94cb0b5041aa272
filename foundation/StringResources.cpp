// String resources. On Windows they are the string tables compiled into a module (LoadStringW);
// elsewhere a process-wide table, keyed by module handle and id, that programs fill with
// BasicRegisterString.
#include "foundation/StringResources.h"

#include "foundation/Platform.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "foundation/WindowsApi.h"

namespace
{

typedef std::basic_string<WideChar> WideText;

#if !defined(_WIN32)
// The string-resource table: one map per process, keyed by module handle and id.
struct ResourceTable
{
    std::mutex mutex;
    std::map<std::pair<ModuleHandle, unsigned int>, WideText> strings;
};

ResourceTable& GetResourceTable()
{
    // Built on first use, so no global constructor runs when the library loads.
    static ResourceTable table;
    return table;
}

// The address of this object is the handle of the main program: fixed, non-null and never a real
// module handle of this process.
const char s_mainModuleTag = 0;

ModuleHandle MainModule()
{
    return const_cast<char*>(&s_mainModuleTag);
}

#endif // !_WIN32

} // namespace

#if !defined(_WIN32)
ModuleHandle BasicGetModuleHandle(const WideChar* pszName)
{
    return pszName == nullptr ? MainModule() : nullptr;
}

int BasicLoadString(ModuleHandle hModule, unsigned int nId, WideChar* pBuffer, int nCount)
{
    if (pBuffer == nullptr || nCount <= 0)
    {
        return 0;
    }
    pBuffer[0] = 0;
    if (hModule == nullptr)
    {
        hModule = MainModule();
    }
    ResourceTable& table = GetResourceTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.strings.find(std::make_pair(hModule, nId));
    if (it == table.strings.end())
    {
        return 0;
    }
    const size_t n = std::min(it->second.size(), static_cast<size_t>(nCount - 1));
    std::copy(it->second.begin(), it->second.begin() + static_cast<std::ptrdiff_t>(n), pBuffer);
    pBuffer[n] = 0;
    return static_cast<int>(n);
}

bool BasicRegisterString(ModuleHandle hModule, unsigned int nId, const WideChar* pszText)
{
    if (nId == 0)
    {
        return false;
    }
    if (hModule == nullptr)
    {
        hModule = MainModule();
    }
    const auto key = std::make_pair(hModule, nId);
    ResourceTable& table = GetResourceTable();
    if (pszText == nullptr || *pszText == 0)
    {
        // A string table holds no empty strings: an empty text removes the entry as null does.
        std::lock_guard<std::mutex> lock(table.mutex);
        table.strings.erase(key);
        return true;
    }
    // Copy outside the lock; only the insertion needs it.
    WideText text(pszText, static_cast<size_t>(BasicWideLength(pszText)));
    std::lock_guard<std::mutex> lock(table.mutex);
    table.strings[key] = std::move(text);
    return true;
}
#endif // !_WIN32

#if defined(_WIN32)
ModuleHandle BasicGetModuleHandle(const WideChar* pszName)
{
    return ::GetModuleHandleW(pszName);
}

int BasicLoadString(ModuleHandle hModule, unsigned int nId, WideChar* pBuffer, int nCount)
{
    // A count of 0 would ask LoadStringW for a pointer to the read-only resource instead of a copy.
    if (pBuffer == nullptr || nCount <= 0)
    {
        return 0;
    }
    pBuffer[0] = 0;
    if (hModule == nullptr)
    {
        hModule = ::GetModuleHandleW(nullptr);
    }
    const int n = ::LoadStringW(hModule, nId, pBuffer, nCount);
    if (n <= 0)
    {
        pBuffer[0] = 0;
        return 0;
    }
    return n;
}

bool BasicRegisterString(ModuleHandle, unsigned int, const WideChar*)
{
    // String resources are part of a module's image here, compiled from a resource script.
    return false;
}
#endif // _WIN32
