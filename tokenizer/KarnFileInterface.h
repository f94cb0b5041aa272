/// \file
/// CKarnFileInterface: block-wise reading of one file for the generic tokenizer.
#pragma once

#include "foundation/Platform.h"
#include "tokenizer/Export.h"

#include <cstddef>
#include <memory>

class CGzipInflate;

/// The outcome of opening an input file.
enum GenericLoadResultTypes
{
    GenericLoadSuccess = 0,    ///< the file is open and readable (an empty file included)
    GenericLoadOpenFailed = 1, ///< the file cannot be opened: missing, no permission, not a regular file
    GenericLoadReadFailed = 2  ///< the file opened but reading it failed
};

/// Watches the block reads of a CKarnFileInterface (SetReadWatcher): for a host that must be able to
/// stop a load that waits on a slow or endless input (a signal, a user's cancel), a program that refuses
/// input it will not read on, and tests that make a read fail. Each member returns 0 to let the read go
/// on, or a system error code (an errno value) with which the read then fails as though the system had
/// failed it: GetSystemError gives that code, and a load ends as one whose file could not be read. When
/// a load reads with several threads the members may be called from any of them, also at the same time.
class GENERIC_API CKarnReadWatcher
{
public:
    virtual ~CKarnReadWatcher();
    /// Before a block is read from nOffset, and again each time the system interrupts the wait for
    /// data with a signal (EINTR), which is retried when this returns 0.
    virtual int BeforeRead(long long nOffset);
    /// After nLength bytes (0 at the end of the input) were read from nOffset into pData.
    virtual int AfterRead(long long nOffset, const char* pData, size_t nLength);
};

/// Lends blocks of a file that were read already, on other threads (SetBlockSource): a file interface
/// takes the bytes it would read from there, instead of reading them again.
class GENERIC_API CKarnBlockSource
{
public:
    virtual ~CKarnBlockSource();
    /// The nLength bytes of the file at nOffset, when they are at hand: pData, and a holder that keeps
    /// them valid while it lives. False when they are not (the file interface then reads them itself).
    virtual bool LendBlock(long long nOffset, size_t nLength, const char*& pData,
                           std::shared_ptr<const void>& keep) = 0;
};

/// Reads one file front to back in blocks of a set size (the last block may be shorter; a block of 0
/// bytes means the end of the file). A gzipped file (one that starts with the bytes 1f 8b, whatever its
/// name) is read as the text it holds: its blocks are inflated (members one after another, as gzip
/// writes them), it reads as a stream (size unknown until its end, no seeks, no ReadAt), the read
/// watcher watches the compressed reads, and corrupt or truncated data fails the read with EILSEQ
/// (GetCorruptGzip). Builds without zlib refuse such a file at its first block with ENOTSUP. The file may be
/// a regular file or a stream: a pipe (standard input from another program, a named pipe, a shell's <(...)),
/// a terminal, a socket or a device. Offsets are exact for both; a stream's size is known only once its end
/// is read, and it cannot seek. The current block is a buffer owned by this object, valid until the next
/// read, seek, block-size change taking effect, or destruction. Sizes and offsets are 64-bit, so files over 4
/// GiB read completely. Not copyable; the destructor closes the file. Nothing throws except std::bad_alloc
/// when the block buffer cannot be allocated.
class GENERIC_API CKarnFileInterface
{
public:
    static const size_t DefaultBlockSize = 256 * 1024;

    CKarnFileInterface();
    ~CKarnFileInterface();
    CKarnFileInterface(const CKarnFileInterface&) = delete;
    CKarnFileInterface& operator=(const CKarnFileInterface&) = delete;

    /// Closes any open file, then opens the file at the narrow path for reading: bytes as they are on
    /// POSIX systems (UTF-8 by convention), ANSI code page text on Windows. GenericLoadOpenFailed for a
    /// null or empty path, a missing file, no permission, or a directory. A named pipe without a writer
    /// opens at once and reads as empty, rather than waiting for a writer. The name "/dev/stdin" is the
    /// process's standard input on every system (Windows included). The first block is not read yet;
    /// the current block is empty. Allocates a copy of the path (std::bad_alloc).
    GenericLoadResultTypes OpenFile(const char* pszPath);
    /// The same for a path as wide text, which Windows takes as it is (so any name opens there) and
    /// POSIX systems as the bytes it stands for (BasicWideToPath: UTF-8, with the bytes that
    /// CBasicString::FromPath escaped restored), so a name that is not UTF-8 opens that very file.
    GenericLoadResultTypes OpenFile(const WideChar* pszPath);
    /// Closes the file and empties the current block. False when no file was open.
    bool CloseFile();
    bool GetFileHandleIsValid() const { return m_nHandle >= 0; }
    /// The system's error code (errno) of the last open or read that failed, 0 when the last one
    /// succeeded: what to tell a user about a file that would not open or read.
    int GetSystemError() const { return m_nSystemError; }
    /// Whether the first block read since the file was opened holds a NUL byte, as binary files
    /// nearly always do and text files never: what to tell a user about a file that loaded nothing.
    bool GetStartsAsBinary() const { return m_bStartsAsBinary; }

    /// Replaces the current block with the next bytes of the file, up to the block size. True when the
    /// read succeeded, including a 0-byte block at the end of the file. False without an open file or
    /// when reading failed; the current block is then empty.
    bool ReadNextBlockFromFile();
    /// Reads up to nCount bytes from byte nOffset into pBuffer without moving the read position or
    /// touching the current block (a regular file only; any number of threads may call it at once).
    /// Returns the number of bytes read, fewer only at the end of the file, or -1 when the read failed
    /// or there is no open regular file, with the system's error code in nError. The watcher sees it as
    /// a block read.
    long long ReadAt(long long nOffset, char* pBuffer, size_t nCount, int& nError) const;
    /// Whether the open file is a regular file read from its start (whose size is known and which ReadAt
    /// reads).
    bool IsRegularFile() const { return m_nHandle >= 0 && m_nFileSize >= 0 && !m_bStream && m_bFromStart; }

    /// The source of blocks read already, taken before a regular file is read (null for none); not
    /// owned, it must outlive its use. A block lent is what a read would give; the watcher saw it read.
    void SetBlockSource(CKarnBlockSource* pSource) { m_pSource = pSource; }
    /// A number that changes when the open file is changed (its size, times or identity), so that a
    /// reader can tell whether what was read ahead is still what the file holds; 0 when unknown.
    unsigned long long GetChangeStamp() const;

    /// The watcher of every read from now on (null for none); not owned, it must outlive its use.
    void SetReadWatcher(CKarnReadWatcher* pWatcher) { m_pWatcher = pWatcher; }
    CKarnReadWatcher* GetReadWatcher() const { return m_pWatcher; }

    /// Makes the next read start at byte nOffset of the file; the current block is emptied. False
    /// without an open file, for a negative offset, or when the system refuses the seek (always for a
    /// stream).
    bool SeekToOffset(long long nOffset);

    const char* GetBlockData() const { return m_pLent != nullptr ? m_pLent : m_pBlock; }
    /// The number of bytes in the current block.
    size_t GetBlockLength() const { return m_nBlockLength; }
    /// The offset in the file of the current block's first byte.
    long long GetBlockOffset() const { return m_nBlockOffset; }
    /// The size of a regular file when it was opened; 0 without an open file. For a stream -1 until
    /// its end has been read, then the number of bytes it held.
    long long GetFileSize() const { return m_nFileSize; }

    /// The file as stored: the bytes of it read so far and its size (-1 for a stream until its end has
    /// been read; 0 without an open file). For a plain file the same as the offset after the current
    /// block and GetFileSize; for a gzipped file they count the compressed bytes, so that a progress
    /// computed from them follows the reading where GetFileSize is unknown.
    long long GetSourceOffset() const;
    long long GetSourceSize() const;
    /// Whether the open file is gzipped: known at the open for a regular file, at the first block for a
    /// stream. Kept after the close, until the next open.
    bool GetIsGzip() const { return m_bGzip; }
    /// Whether the last read failed because the gzip data is corrupt or ends inside a member (the system
    /// error is then EILSEQ). Kept after the close, until the next open.
    bool GetCorruptGzip() const { return m_bCorruptGzip; }

    /// The number of bytes each read asks for; 0 restores the default. Takes effect at the next read.
    void SetBlockSize(size_t nBytes);
    size_t GetBlockSize() const { return m_nBlockSize; }

private:
    /// Gzip: the open's check of a regular file's first bytes, the switch of a stream whose first block
    /// is gzip data, and the read of an inflated block.
    void CheckGzipAtOpen();
    bool StartInflating(size_t nRawBytes);
    bool ReadInflatedBlock();
    void AllocateBlock();

    int m_nHandle;  ///< the system's file handle, -1 when none is open
    char* m_pBlock; ///< the block buffer, m_nBlockCapacity bytes
    size_t m_nBlockCapacity;
    size_t m_nBlockLength;
    size_t m_nBlockSize;
    long long m_nBlockOffset;
    long long m_nNextOffset; ///< where the next read starts
    long long m_nFileSize;
    int m_nSystemError;
    bool m_bStartsAsBinary;
    bool m_bStream; ///< not a regular file: its size is known only at its end
    CKarnReadWatcher* m_pWatcher;
    CKarnBlockSource* m_pSource;
    const char* m_pLent; ///< the current block when it was lent, else null
    std::shared_ptr<const void> m_LentKeep;
    long long m_nHandleOffset; ///< where the handle's own position stands (lent blocks do not move it)
    bool m_bFromStart;         ///< a regular file whose handle stood at its start when opened
    CGzipInflate* m_pGzip;     ///< the inflation of a gzipped file, else null
    bool m_bGzip;              ///< the file is gzipped (inflated, or refused without zlib)
    bool m_bCorruptGzip;       ///< the last read failed on corrupt gzip data
    bool m_bSourceEnded;       ///< the compressed file's end has been read
    long long m_nSourceOffset; ///< compressed bytes read (gzip only)
    long long m_nSourceSize;   ///< the compressed size, -1 for a stream until its end (gzip only)

    void NoteOpened();
    /// Where a block read reads: -1 from the handle's position, else at that offset.
    long long PositionalAt() const;
};
