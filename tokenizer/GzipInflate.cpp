#include "tokenizer/GzipInflate.h"

#include <new>

#if defined(SLP_WITH_GZIP)
#include <zlib.h>

namespace
{

class CZlibInflate : public CGzipInflate
{
public:
    explicit CZlibInflate(size_t nCapacity) : m_pInput(new char[nCapacity]), m_nCapacity(nCapacity)
    {
        m_Stream.zalloc = Z_NULL;
        m_Stream.zfree = Z_NULL;
        m_Stream.opaque = Z_NULL;
        m_Stream.next_in = Z_NULL;
        m_Stream.avail_in = 0;
        // 16 + the largest window: gzip members only, with their header and trailer checked.
        if (inflateInit2(&m_Stream, 16 + MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
    }
    ~CZlibInflate() override { inflateEnd(&m_Stream); }

    char* InputBuffer() override { return m_pInput.get(); }
    size_t InputCapacity() const override { return m_nCapacity; }
    void Feed(size_t nBytes) override
    {
        m_Stream.next_in = reinterpret_cast<Bytef*>(m_pInput.get());
        m_Stream.avail_in = static_cast<uInt>(nBytes);
    }
    bool NeedsInput() const override { return m_Stream.avail_in == 0; }

    Status Inflate(char* pOut, size_t nRoom, bool bInputEnded, size_t& nProduced) override
    {
        nProduced = 0;
        while (nProduced < nRoom)
        {
            if (m_Stream.avail_in == 0)
            {
                if (!bInputEnded)
                    return GzipMore;
                // The end of the file: whole only where a member ended.
                return m_bMemberEnded ? GzipEnded : GzipCorrupt;
            }
            if (m_bMemberEnded)
            {
                // More bytes after a member: the next member starts there.
                if (inflateReset(&m_Stream) != Z_OK)
                    return GzipCorrupt;
                m_bMemberEnded = false;
            }
            const size_t nAsk = nRoom - nProduced;
            m_Stream.next_out = reinterpret_cast<Bytef*>(pOut + nProduced);
            m_Stream.avail_out = static_cast<uInt>(nAsk > 0x40000000u ? 0x40000000u : nAsk);
            const uInt nBefore = m_Stream.avail_out;
            const uInt nInputBefore = m_Stream.avail_in;
            const int nResult = inflate(&m_Stream, Z_NO_FLUSH);
            nProduced += nBefore - m_Stream.avail_out;
            if (nResult == Z_STREAM_END)
                m_bMemberEnded = true;
            else if (nResult == Z_MEM_ERROR)
                throw std::bad_alloc();
            else if (nResult != Z_OK && nResult != Z_BUF_ERROR)
                return GzipCorrupt; // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
            else if (nResult == Z_BUF_ERROR && m_Stream.avail_in == nInputBefore &&
                     m_Stream.avail_out == nBefore && m_Stream.avail_in > 0)
                return GzipCorrupt; // input and room, and still no step: nothing valid can follow
        }
        return GzipMore;
    }

private:
    z_stream m_Stream{};
    std::unique_ptr<char[]> m_pInput;
    size_t m_nCapacity;
    bool m_bMemberEnded = false;
};

} // namespace

bool CGzipInflate::IsAvailable()
{
    return true;
}

std::unique_ptr<CGzipInflate> CGzipInflate::Create(size_t nInputCapacity)
{
    return std::unique_ptr<CGzipInflate>(new CZlibInflate(nInputCapacity));
}
#else
bool CGzipInflate::IsAvailable()
{
    return false;
}

std::unique_ptr<CGzipInflate> CGzipInflate::Create(size_t)
{
    return nullptr;
}
#endif

CGzipInflate::~CGzipInflate() = default;
