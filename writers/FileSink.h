/// \file
/// CFileSink: the output of the writers and of the slp program: bytes, little-endian binary numbers,
/// locale-independent text numbers and JSON strings, written in large blocks, to a temporary file
/// beside the target that moves into place only when the whole output is complete, or to a stream.
#pragma once

#include "writers/Export.h"
#include "writers/WorldExport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

// An output file that never destroys what it replaces: Open creates a temporary file in the target's
// folder, Commit moves it over the target, and a sink that is not committed removes its temporary file
// (on destruction, on failure, and from a signal handler or at exit through ExportRemovePendingFiles).
// A path that is a symbolic link, or a chain of them, is written at the file it leads to (created
// there when missing), so the links stay and lead to the new file. A target that exists and is not a
// regular file (a device such as /dev/null, a named pipe) is written directly and never removed; a name
// of one of the process's descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written on that
// descriptor where it stands, as a stream is. A sink may instead write to a stream it does not own
// (standard output), or only count the bytes it is given.
//
// Write errors are sticky: after the first failed block write, further writes are dropped and Close
// reports the failure. Nothing here throws except std::bad_alloc from the buffer.
class SLPEXPORT_API CFileSink
{
public:
    CFileSink();
    // Removes the temporary file if it was not committed.
    ~CFileSink();
    CFileSink(const CFileSink&) = delete;
    CFileSink& operator=(const CFileSink&) = delete;

    // Prepares to write the file at the path (UTF-8). False (with GetError set) when no temporary file
    // can be created beside it.
    bool Open(const std::string& path);
    // Writes to the stream, which stays the caller's and open.
    bool OpenStream(std::FILE* pStream, const std::string& name);
    // Makes this sink a counter: nothing is written anywhere, GetCount grows.
    void OpenCounter();
    // Flushes and closes the temporary file (flushes a stream); true when every byte reached it. On
    // failure the temporary file is removed. A counter just returns true.
    bool Close();
    // Moves the closed temporary file over the target; true when it is in place (and for direct and
    // stream outputs). On failure the temporary file is removed.
    bool Commit();
    // Moves this closed output and its closed companion into place as a pair: on failure both targets
    // are what they were (the files of an old pair are kept aside until the new pair stands, then
    // removed), and the temporary files are removed. True when both are in place.
    bool CommitPair(CFileSink& companion);
    // Closes and removes the temporary file, if any; the target is left as it was.
    void Discard();

    // The cause of the last failure in plain words ("cannot write out.glb: No space left on device").
    const std::string& GetError() const { return m_strError; }
    // The target's path as given.
    const std::string& GetPath() const { return m_strPath; }
    // The file written (UTF-8): the path's symbolic links followed; the path itself for a stream.
    std::string GetTarget() const { return m_Target.empty() ? m_strPath : m_Target.u8string(); }
    // Whether the output goes to a descriptor or a stream that was open already.
    bool WritesToStream() const { return m_bDescriptor || (m_pFile != nullptr && !m_bOwnsFile); }
    // Bytes given to the sink so far.
    unsigned long long GetCount() const { return m_nCount; }

    void Write(const void* pData, size_t nBytes)
    {
        m_nCount += nBytes;
        if (m_pFile == nullptr)
            return;
        if (m_nUsed + nBytes > BlockSize || nBytes >= DirectBytes)
            Spill(pData, nBytes);
        else
        {
            std::memcpy(m_pBuffer.get() + m_nUsed, pData, nBytes);
            m_nUsed += nBytes;
        }
    }
    CFileSink& operator<<(const char* psz) { return Text(psz, std::strlen(psz)); }
    CFileSink& operator<<(const std::string& str) { return Text(str.data(), str.size()); }
    CFileSink& operator<<(char c) { return Text(&c, 1); }
    CFileSink& operator<<(unsigned long long n);
    CFileSink& operator<<(long long n);
    CFileSink& operator<<(int n) { return *this << static_cast<long long>(n); }
    CFileSink& operator<<(unsigned n) { return *this << static_cast<unsigned long long>(n); }
    // The shortest text that reads back to the same float ("nan", "inf", "-inf" where not finite).
    CFileSink& Float(float f)
    {
        char szText[FloatTextBytes];
        return Text(szText, FloatText(f, szText));
    }
    // The text Float writes, put at pOut, which has room for FloatTextBytes; its length.
    static constexpr size_t FloatTextBytes = 32;
    static size_t FloatText(float f, char* pOut);
    // As Float, for doubles.
    CFileSink& Double(double d);
    // A float for JSON: as Float, with null where the value is not finite.
    CFileSink& JsonFloat(float f);
    // A JSON string literal of UTF-8 text: quotes and backslashes escaped, tabs and line ends as \t,
    // \n and \r, other control characters (and DEL) as \u00XX.
    CFileSink& JsonString(const std::string& strUtf8);
    // Writes what is buffered to a stream output and flushes it (for output that a reader watches);
    // false after a write failure.
    bool Flush();
    // Whether bytes given before can be changed (Rewrite): true for the temporary file of a target.
    bool CanRewrite() const { return m_pFile != nullptr && !m_Temporary.empty(); }
    // Puts the bytes over those given before at the offset (all of them given before), where
    // CanRewrite; false, and nothing changed, where it cannot, or after a write failure.
    bool Rewrite(unsigned long long nOffset, const void* pData, size_t nBytes);

    void U8(std::uint8_t n) { Write(&n, 1); }
    void U16(std::uint16_t n);
    void U32(std::uint32_t n);
    void F32(float f);

private:
    static constexpr size_t BlockSize = 1 << 20;
    // Blocks this large go to the file as they are, after what is buffered, rather than copied.
    static constexpr size_t DirectBytes = 1 << 16;

    CFileSink& Text(const char* p, size_t n)
    {
        Write(p, n);
        return *this;
    }
    bool Opened();
    void Fail(const char* pszWhat);
    static std::string PutBack(const std::filesystem::path& aside, const std::filesystem::path& target);
    static void RemoveQuietly(const std::filesystem::path& path);
    void Spill(const void* pData, size_t nBytes);
    bool FlushBuffer();
    void SetError(const char* pszWhat, int nError);
    void RemoveTemporary();

    std::FILE* m_pFile;
    bool m_bOwnsFile;
    bool m_bDescriptor; // a copy of one of the process's descriptors, named by the path
    std::unique_ptr<char[]> m_pBuffer;
    size_t m_nUsed;
    unsigned long long m_nCount;
    bool m_bFailed;
    std::string m_strPath;             // the target as given
    std::filesystem::path m_Target;    // where the committed file goes (a link's target resolved)
    std::filesystem::path m_Temporary; // empty when the output goes straight to its target or a stream
    int m_nPendingSlot;                // the temporary file's slot in the pending list, or -1
    std::string m_strError;
};

// Opens the main output at the path (or the options' stream, when they name one) and, when pCompanion is
// given, the format's companion file beside the file the path leads to (ExportCompanionTarget); on
// failure fills the report (the first failure's cause) and leaves nothing behind. A companion cannot go
// with a stream or a descriptor.
SLPEXPORT_API bool OpenOutputs(const CExportOptions& options, CExportReport& report, CFileSink& main,
                               const std::string& path, CFileSink* pCompanion = nullptr,
                               ExportFormatTypes eFormat = ExportFormatUnknown);

// Closes the outputs and moves them into place (a pair through CommitPair), then lists them in the
// report. On failure fills the report's result and message and removes every temporary file: what was
// there before stays.
SLPEXPORT_API bool FinishOutputs(CExportReport& report, CFileSink& main, CFileSink* pCompanion = nullptr);
