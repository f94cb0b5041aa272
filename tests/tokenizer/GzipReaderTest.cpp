// The file reader on gzipped files: the text they hold, block by block, whatever their name, with the
// compressed position for progress, the watcher on the compressed reads, and corrupt or cut data as a
// read failure.
#include "tests/support/TestFiles.h"
#include "tokenizer/KarnFileInterface.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <string>
#include <vector>

namespace
{

// One gzip member holding the text, as gzip writes it.
std::string Gzip(const std::string& text)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A text that does not compress to nothing: numbers that vary.
std::string SampleText(int nLines)
{
    std::string text = "solid part\n";
    for (int i = 0; i < nLines; ++i)
        text += "vertex " + std::to_string(i) + " " + std::to_string(i * 7 % 13) + " " +
                std::to_string(i % 5) + "\n";
    return text;
}

struct Watcher : CKarnReadWatcher
{
    std::vector<long long> offsets;
    long long nBytes = 0;
    int AfterRead(long long nOffset, const char*, size_t nLength) override
    {
        offsets.push_back(nOffset);
        nBytes += static_cast<long long>(nLength);
        return 0;
    }
};

struct ReadResult
{
    std::string text;
    bool bFailed = false;
    int nError = 0;
    bool bCorrupt = false;
    std::vector<long long> fileSizes;     // GetFileSize after each block
    std::vector<long long> sourceOffsets; // GetSourceOffset after each block
    long long nSourceSize = 0;            // at the end
    bool bSeeks = false;                  // a seek back to the start works
};

ReadResult ReadAll(const std::string& path, Watcher* pWatcher = nullptr)
{
    CKarnFileInterface file;
    file.SetBlockSize(1000);
    file.SetReadWatcher(pWatcher);
    ReadResult result;
    EXPECT_EQ(file.OpenFile(path.c_str()), GenericLoadSuccess);
    result.fileSizes.push_back(file.GetFileSize());
    for (;;)
    {
        if (!file.ReadNextBlockFromFile())
        {
            result.bFailed = true;
            break;
        }
        result.fileSizes.push_back(file.GetFileSize());
        result.sourceOffsets.push_back(file.GetSourceOffset());
        if (file.GetBlockLength() == 0)
            break;
        EXPECT_EQ(file.GetBlockOffset(), static_cast<long long>(result.text.size()));
        result.text.append(file.GetBlockData(), file.GetBlockLength());
    }
    result.nError = file.GetSystemError();
    result.bCorrupt = file.GetCorruptGzip();
    result.nSourceSize = file.GetSourceSize();
    result.bSeeks = file.SeekToOffset(0);
    return result;
}

} // namespace

TEST(GzipReaderTest, ReadsTheTextOfEveryMemberAsAStreamWithTheCompressedPosition)
{
    const std::string first = SampleText(3000);
    const std::string second = SampleText(50);
    const std::string packed = Gzip(first) + Gzip(second);
    ASSERT_GT(packed.size(), 3000u); // several compressed reads of 1000 bytes
    const TempFile file(packed);     // named .slp: the bytes tell, not the name
    Watcher watcher;
    const ReadResult result = ReadAll(file.path, &watcher);
    EXPECT_FALSE(result.bFailed);
    EXPECT_EQ(result.text, first + second);
    // A stream: the size is unknown from the open until the end is read.
    EXPECT_EQ(result.fileSizes.front(), -1);
    EXPECT_EQ(result.fileSizes[result.fileSizes.size() - 2], -1);
    EXPECT_EQ(result.fileSizes.back(), static_cast<long long>(first.size() + second.size()));
    // The compressed position grows to the file's size, which the reader tells once read.
    EXPECT_LT(result.sourceOffsets.front(), static_cast<long long>(packed.size()));
    EXPECT_EQ(result.sourceOffsets.back(), static_cast<long long>(packed.size()));
    EXPECT_EQ(result.nSourceSize, static_cast<long long>(packed.size()));
    EXPECT_FALSE(result.bSeeks);
    // The watcher sees the compressed reads at their offsets in the file.
    ASSERT_GE(watcher.offsets.size(), 4u);
    EXPECT_EQ(watcher.offsets[0], 0);
    EXPECT_EQ(watcher.offsets[1], 1000);
    EXPECT_EQ(watcher.nBytes, static_cast<long long>(packed.size()));

    // A plain file reads as before: its size at the open, offsets of its own bytes.
    const TempFile plain(first);
    const ReadResult text = ReadAll(plain.path);
    EXPECT_EQ(text.text, first);
    EXPECT_EQ(text.fileSizes.front(), static_cast<long long>(first.size()));
    EXPECT_EQ(text.nSourceSize, static_cast<long long>(first.size()));
    EXPECT_TRUE(text.bSeeks);
}

TEST(GzipReaderTest, CorruptOrCutDataFailsTheReadWithEilseq)
{
    const std::string packed = Gzip(SampleText(3000));
    std::string corrupt = packed;
    corrupt[packed.size() / 2] = static_cast<char>(corrupt[packed.size() / 2] ^ 0x55);
    std::string badTrailer = packed;
    badTrailer[packed.size() - 6] = static_cast<char>(badTrailer[packed.size() - 6] ^ 1); // the CRC
    for (const std::string& bytes : {corrupt, packed.substr(0, packed.size() - 4), packed.substr(0, 40),
                                     badTrailer, packed + "trailing words"})
    {
        const TempFile file(bytes);
        const ReadResult result = ReadAll(file.path);
        EXPECT_TRUE(result.bFailed) << bytes.size();
        EXPECT_EQ(result.nError, EILSEQ);
        EXPECT_TRUE(result.bCorrupt);
    }
}
