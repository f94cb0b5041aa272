/// \file
/// CGzipInflate: gzip data (one member or several, one after another, as gzip writes them) inflated
/// piece by piece, for the file reader (CKarnFileInterface) to read gzipped files as the text they
/// hold. Internal to the tokenizer library. Built with zlib where SLP_WITH_GZIP is set; without it
/// Create gives null and gzipped files are refused (ENOTSUP).
#pragma once

#include <cstddef>
#include <memory>

class CGzipInflate
{
public:
    enum Status
    {
        GzipMore,   ///< more output may come: call again (after Feed when NeedsInput)
        GzipEnded,  ///< the input ended at the end of a member: the whole text has been given
        GzipCorrupt ///< the data is not valid gzip, or the input ended inside a member
    };

    /// Whether gzip data starts at p (n bytes): the two magic bytes 1f 8b.
    static bool StartsGzip(const char* p, size_t n)
    {
        return n >= 2 && static_cast<unsigned char>(p[0]) == 0x1F && static_cast<unsigned char>(p[1]) == 0x8B;
    }
    /// Whether this build inflates gzip data.
    static bool IsAvailable();
    /// A new inflation whose input buffer holds nInputCapacity bytes; null without zlib. Raises
    /// std::bad_alloc when memory runs out.
    static std::unique_ptr<CGzipInflate> Create(size_t nInputCapacity);
    virtual ~CGzipInflate();

    /// Where the next compressed bytes go, and how many fit; Feed tells how many were put there. Only
    /// while NeedsInput: the bytes given before have all been taken.
    virtual char* InputBuffer() = 0;
    virtual size_t InputCapacity() const = 0;
    virtual void Feed(size_t nBytes) = 0;
    virtual bool NeedsInput() const = 0;
    /// Inflates into pOut, up to nRoom bytes; nProduced tells how many were written. bInputEnded: no
    /// more input will be fed (the file's end was read).
    virtual Status Inflate(char* pOut, size_t nRoom, bool bInputEnded, size_t& nProduced) = 0;
};
