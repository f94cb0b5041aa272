#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/WindowsApi.h"
#if defined(_WIN32)
#include <cxxabi.h>
#endif

// The loader library's only export is CSLPParser: every defined dynamic symbol (every name of the
// export table, on Windows) is one of its members.
TEST(SLPExportTest, LoaderExportsOnlyTheParser)
{
    std::vector<std::string> names;
#if defined(SLP_LOADER_FILE) && defined(SLP_NM_PROGRAM)
    const std::string command = std::string(SLP_NM_PROGRAM) + " -D -C --defined-only \"" SLP_LOADER_FILE "\"";
    FILE* pPipe = popen(command.c_str(), "r");
    ASSERT_NE(pPipe, nullptr);
    char szLine[4096];
    while (std::fgets(szLine, sizeof(szLine), pPipe) != nullptr)
    {
        // "address type name": symbols of the parser, or the versioning markers a linker may add.
        const std::string line(szLine);
        const std::string::size_type nName = line.find(' ', line.find(' ') + 1);
        ASSERT_NE(nName, std::string::npos) << line;
        names.push_back(line.substr(nName + 1));
    }
    EXPECT_EQ(pclose(pPipe), 0);
#elif defined(_WIN32) && defined(SLP_LOADER_NAME)
    // The export table of the loaded DLL, read from its image.
    const HMODULE hLoader = GetModuleHandleA(SLP_LOADER_NAME);
    ASSERT_NE(hLoader, nullptr);
    const unsigned char* pBase = reinterpret_cast<const unsigned char*>(hLoader);
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase);
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& table = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(table.VirtualAddress, 0u);
    const auto* pExports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(pBase + table.VirtualAddress);
    // Nothing is exported by ordinal alone.
    EXPECT_EQ(pExports->NumberOfFunctions, pExports->NumberOfNames);
    const auto* pNames = reinterpret_cast<const DWORD*>(pBase + pExports->AddressOfNames);
    for (DWORD i = 0; i < pExports->NumberOfNames; ++i)
    {
        const char* pszMangled = reinterpret_cast<const char*>(pBase + pNames[i]);
        int nStatus = -1;
        char* pszName = abi::__cxa_demangle(pszMangled, nullptr, nullptr, &nStatus);
        names.push_back(nStatus == 0 ? pszName : pszMangled);
        std::free(pszName);
    }
#else
    GTEST_SKIP() << "the loader is not a shared library here, or nm is missing";
#endif
    int nParserSymbols = 0;
    for (const std::string& name : names)
    {
        if (name.rfind("CSLPParser::", 0) == 0)
            ++nParserSymbols;
        else
            ADD_FAILURE() << "unexpected export: " << name;
    }
    EXPECT_GT(nParserSymbols, 30);
}
