// Runs every file of the repository's fuzz corpus, and every SLP fixture, through the fuzz harnesses.
// A harness aborts on a broken contract, naming the input it was given.

#include "FuzzTargets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

typedef int (*FuzzEntry)(const uint8_t*, size_t);

std::vector<fs::path> FilesIn(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Feeds each file to the harness; returns how many were fed.
size_t Replay(FuzzEntry pEntry, const std::vector<fs::path>& files)
{
    for (const fs::path& file : files)
    {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string strName = file.string();
        g_pszFuzzInputName = strName.c_str();
        EXPECT_EQ(pEntry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << strName;
        g_pszFuzzInputName = nullptr;
    }
    return files.size();
}

size_t ReplayCorpus(const char* pszHarness, FuzzEntry pEntry)
{
    return Replay(pEntry, FilesIn(fs::path(SLP_FUZZ_CORPUS_DIR) / pszHarness));
}

} // namespace

TEST(CorpusReplayTest, Tokenizer)
{
    EXPECT_GT(ReplayCorpus("tokenizer", &FuzzTokenizer), 0u);
    EXPECT_GT(Replay(&FuzzTokenizer, FilesIn(SLP_TEST_DATA_DIR)), 0u);
}

TEST(CorpusReplayTest, Parse)
{
    EXPECT_GT(ReplayCorpus("parse", &FuzzParse), 0u);
    EXPECT_GT(Replay(&FuzzParse, FilesIn(SLP_TEST_DATA_DIR)), 0u);
}

TEST(CorpusReplayTest, String)
{
    EXPECT_GT(ReplayCorpus("string", &FuzzString), 0u);
}

TEST(CorpusReplayTest, Containers)
{
    EXPECT_GT(ReplayCorpus("containers", &FuzzContainers), 0u);
}

TEST(CorpusReplayTest, Writers)
{
    EXPECT_GT(ReplayCorpus("writers", &FuzzWriters), 0u);
    EXPECT_GT(Replay(&FuzzWriters, FilesIn(SLP_TEST_DATA_DIR)), 0u);
}
