#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// The loader library's only export is CSLPParser: every defined dynamic symbol is one of its members.
TEST(SLPExportTest, LoaderExportsOnlyTheParser)
{
#if defined(SLP_LOADER_FILE) && defined(SLP_NM_PROGRAM)
    const std::string command = std::string(SLP_NM_PROGRAM) + " -D -C --defined-only \"" SLP_LOADER_FILE "\"";
    FILE* pPipe = popen(command.c_str(), "r");
    ASSERT_NE(pPipe, nullptr);
    char szLine[4096];
    int nParserSymbols = 0;
    while (std::fgets(szLine, sizeof(szLine), pPipe) != nullptr)
    {
        // "address type name": symbols of the parser, or the versioning markers a linker may add.
        std::string line(szLine);
        const std::string::size_type nName = line.find(' ', line.find(' ') + 1);
        ASSERT_NE(nName, std::string::npos) << line;
        const std::string name = line.substr(nName + 1);
        if (name.rfind("CSLPParser::", 0) == 0)
            ++nParserSymbols;
        else
            ADD_FAILURE() << "unexpected export: " << name;
    }
    EXPECT_EQ(pclose(pPipe), 0);
    EXPECT_GT(nParserSymbols, 30);
#else
    GTEST_SKIP() << "the loader is not a shared library here, or nm is missing";
#endif
}
