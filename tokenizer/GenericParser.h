/// \file
/// CGenericParser: the generic tokenizer. Splits a file or an in-memory text into tokens with a
/// one-token lookahead.
#pragma once

#include "foundation/BasicString.h"
#include "tokenizer/ByteScan.h"
#include "tokenizer/Export.h"
#include "tokenizer/GenericIOState.h"
#include "tokenizer/GenericToken.h"
#include "tokenizer/KarnFileInterface.h"
#include "tokenizer/KeywordIndex.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace generic_scan
{
class CReadAhead;
}

/// Reads of a regular file ahead of the parser in pieces of this many bytes (rounded up to whole
/// blocks), whatever the file's size, on the threads a parser allows (EnableReadAhead); 0 restores the
/// default (pieces of 1 MiB, for files of 32 MiB and more). For tests, which force pieces at every byte of
/// small files; the results are the same whatever the pieces.
GENERIC_API void GenericForceReadAheadPieces(size_t nBytes);

/// Token syntax. White space is space, tab, CR, LF, vertical tab, form feed and NUL; a UTF-8 byte-order
/// mark at the very start of the input is skipped. "{", "}", "[", "]", "(", ")" are tokens of their own
/// wherever they stand. A double quote starts a quoted-string token that runs to the next double quote
/// (both kept in the text, everything between kept as written) or, when there is none on the line, up
/// to but excluding the next CR or LF, or to the end of the input. Everything else up to white space, a
/// bracket or a double quote is a word, classified in this order:
///   - a decimal number (optional sign, digits with an optional fraction or a fraction alone, optional
///     exponent with optional sign): a number token. Values beyond the range of a double (1e999) read
///     as the infinity of their sign, values too small for one (1e-400) as zero of their sign.
///     Conversion is correctly rounded, happens once per token and does not depend on the process
///     locale. Non-finite values as C runtimes print them are number tokens too: "inf", "infinity" and
///     "nan" in any case, and "1.#INF", "1.#QNAN", "1.#SNAN", "1.#IND" followed by any digits, each
///     with an optional sign, read as the infinity of that sign or a NaN of that sign. Hexadecimal
///     forms, "1,5", "1.5abc", "infinite" and "nanometre" are not numbers. A keyword row that is one of
///     these spellings is shadowed by the number;
///   - a keyword-table row's text, compared without regard to ASCII case: a keyword token with the
///     row's id (the first matching row wins);
///   - TRUE or FALSE in any case: a boolean token;
///   - anything else: a GenericTokenWord token.
/// Token texts are the input's bytes exactly as written and have no length limit; a token that
/// straddles two blocks of a file reads exactly as in one block.
///
/// Input comes from a file (SetFilename, OpenAndInitialize) read in blocks, or from memory
/// (SetInputStringValue, SetInputBuffer), which is read in place and never copied. The end of the
/// input is a GenericTokenEndOfFile token with empty text.
///
/// Errors are reported by results; nothing is logged. Only std::bad_alloc (and std::length_error for a
/// token longer than memory can hold) are raised, leaving the parser valid. The hot path allocates
/// nothing once the token buffers have grown to the longest token.
class GENERIC_API CGenericParser
{
public:
    /// No keyword table, no input, default block size.
    CGenericParser();
    /// Copies the keyword table pointer (the table itself is never copied), the file name and the block
    /// size. The copy has no file open and no input: it reads as an empty input.
    CGenericParser(const CGenericParser& other);
    /// Closes this parser's file and drops its input, then copies the settings as the copy constructor
    /// does. The argument is not changed. Self-assignment does nothing.
    CGenericParser& operator=(CGenericParser& other);
    /// Closes an open file.
    ~CGenericParser();

    /// The keyword table (not copied; it must outlive every parser that uses it, and its texts must not
    /// change while a parser reads with it) and its row count. A null table or a count of 0 or less
    /// means no keywords.
    void SetKeywordTable(ParserKeywordEntry* pTable);
    void SetKeywordTableSize(int nSize);

    /// The file that the next OpenAndInitialize opens (see CKarnFileInterface::OpenFile for wide names;
    /// make it with CBasicString::FromPath from a name the system gave).
    void SetFilename(CBasicString strFileName);

    /// Closes any open file and drops any in-memory input, resets the tokens (the current token is a
    /// GenericTokenNone token with empty text, offset 0) and opens the file named by SetFilename, then
    /// reads its first block. Outcomes:
    ///   GenericLoadSuccess (0)    the file is open and tokens can be read; an empty file included;
    ///   GenericLoadOpenFailed (1) it cannot be opened: empty name, missing, no permission, or a
    ///                             directory (pipes, terminals and devices are read as streams);
    ///   GenericLoadReadFailed (2) it opened but reading its first block failed; it is closed again.
    /// After 1 or 2 there is no input.
    GenericLoadResultTypes OpenAndInitialize();

    /// The lookahead token becomes current and the token after it is scanned. Returns true when a token
    /// became current. The call that makes the end-of-input token current returns true; every later
    /// call returns false and leaves the end-of-input token current (and as the lookahead). Without any
    /// input the first call makes the end-of-input token current.
    bool Tokenize();

    /// Makes up to nMax tokens current one after another, as that many Tokenize calls would, and
    /// describes each in pOut (CGenericTokenSummary: no text), for readers that walk many tokens and
    /// need few texts. Afterwards the parser stands exactly where those calls would have left it: the
    /// last token described is current, with its text, and the one after it is the lookahead. It stops
    /// early: before a token that ends at or after input offset nBefore; before a keyword whose id is
    /// below 64 and whose bit is set in nStopIds; and where a token is not in the block's list (a
    /// quote, a word across blocks, the end of the input), so that Tokenize takes those one by one.
    /// Returns the number of tokens described: 0 when the next token is one of those. Not while lines
    /// are tracked (0 then). Allocates nothing once the token buffers have grown.
    size_t ReadTokens(CGenericTokenSummary* pOut, size_t nMax, long long nBefore,
                      unsigned long long nStopIds);

    /// Reads, without moving, the run that the tokens from the lookahead on form: keywords of the sets
    /// (ids below 64), each on its own or followed by exactly three number tokens as the sets say. It is
    /// for readers that take the common lines of a mesh file ("vertex x y z" and the keywords around
    /// it) without their texts. Each keyword is a step (the quiet ones too, which a reader passes
    /// over). The run stops before a step with a token ending at or after input offset nBefore, before a
    /// keyword of the triple set that three numbers do not follow, before any other token, and where the
    /// bytes at hand end, so that other readers take those. False when the lookahead starts no run (or
    /// lines are tracked). The steps stay valid until the next call, TakeRunTo or move. Allocates a
    /// buffer for the steps the first time (std::bad_alloc).
    bool ScanKeywordRun(CGenericRun& run, long long nBefore, const CGenericRunKeywords& sets);
    /// Moves, as Tokenize calls would, to the token of the run just scanned that starts at input offset
    /// nStart (a step's m_nKeywordStart or m_nLastStart): it becomes current, with its text, and the
    /// token after it the lookahead. False, with nothing changed, when the parser has moved since the
    /// scan or the offset is no token of the run. Allocates only what Tokenize would (token texts).
    bool TakeRunTo(long long nStart);

    /// Lets the reads of a regular file opened from its start go ahead of the parser on nThreads threads,
    /// the calling thread among them, which find the keyword runs of the pieces they read: 1 or less
    /// reads on the calling thread alone; 0 lets the parser choose (as many threads as the processor
    /// has, for files of 32 MiB and more). Takes effect at the first keyword run of the next open (or of
    /// the input at hand). Nothing a caller sees changes but the time: the runs are those the parser
    /// finds itself, the blocks those it reads.
    void EnableReadAhead(int nThreads);
    int GetReadAheadThreads() const { return m_nReadAheadThreads; }
    /// Runs work(0) to work(nParts - 1), on the threads that read ahead when there are (the calling
    /// thread among them), else one after another here; returns when all are done. For work a reader
    /// does in bulk where no host code runs (a large copy). The parts must not throw.
    void ShareWork(size_t nParts, const std::function<void(size_t)>& work);

    /// Drops the reading ahead of this input when the file changed (as far as its size and times tell)
    /// or the block size did since it began, so that what the parser reads is what the file holds now.
    /// For a reader that let other code run (a progress callback).
    void RecheckReadAhead();
    /// Stops the reading ahead of this input for good (its threads joined): the parser reads on by
    /// itself. For a reader that leaves the input where it is (it failed with an exception) while its
    /// caller may free a buffer the threads read.
    void StopReadAhead();

    /// The current token and the lookahead (scanned on first request). References stay valid as long
    /// as the parser; their texts change with the next Tokenize, RestoreIOState or open.
    CGenericToken& GetCurrentToken();
    CGenericToken& GetNextToken();
    /// The token's value as GetNumericValue, GetBooleanValue and GetString of the token give it.
    double GetCurrentTokenNumericValue();
    double GetNextTokenNumericValue();
    bool GetCurrentTokenBooleanValue();
    bool GetNextTokenBooleanValue();
    char* GetCurrentTokenString();
    char* GetNextTokenString();

    /// The size of the input (file size at open, or the in-memory length; 0 without input), and the
    /// number of bytes of input up to the end of the current token (the end-of-input token: the size).
    /// A stream (a pipe, a terminal) has no size in advance: it reads as 0 until the end of the input
    /// is reached, then as the number of bytes the stream held, so a progress percentage computed from
    /// the two is reported only at the end. The int forms clamp to INT_MAX; the 64-bit forms are exact.
    int GetTotalFileSize();
    int GetCurrentFileOffset();
    long long GetTotalFileSize64();
    long long GetCurrentFileOffset64();

    /// Records the current token, the lookahead and the read position. False, and the state left as it
    /// was, when there is no input. May allocate for the token texts.
    bool SaveIOState(CGenericIOState& state);
    /// Returns exactly to a saved state, also across blocks of a file (the file is re-read from the
    /// saved position). False, and nothing changed, when there is no input, the state is empty, or it
    /// was saved from another input (another open, another parser). False when re-reading the file
    /// fails; the input then reads as ended.
    bool RestoreIOState(CGenericIOState& state);

    /// Whether reading a block of the file failed after the open (or while RestoreIOState re-read it):
    /// the input then ended there, and GetFileInterface()->GetSystemError() tells why. A load that sees
    /// it has not read the whole file. Kept when the file is closed; cleared by the next open or in-memory
    /// input.
    bool GetReadFailed() const { return m_bReadFailed; }

    /// Closes the open file. The tokens already scanned (current and lookahead) stay; after them the
    /// input reads as ended. False, and nothing changed, when no file was open.
    bool CloseFile();

    /// The file reader; never null. Owned by the parser.
    CKarnFileInterface* GetFileInterface();

    /// A non-null text becomes the input, read in place up to its NUL (not copied: it must stay valid
    /// and unchanged while it is read): any open file is closed and the tokens reset as by an open.
    /// Null means no string input is pending: it drops in-memory input (the input then reads as ended)
    /// and does nothing while a file is read.
    void SetInputStringValue(const char* pszText);
    /// As SetInputStringValue with a non-null text, for nSize bytes that may hold NUL bytes (white
    /// space); also not copied. A null pData is an empty input.
    void SetInputBuffer(const char* pData, size_t nSize);

    /// The number of bytes each file block holds; 0 restores the default. Takes effect at the next
    /// block read.
    void SetBlockSize(size_t nBytes);

    /// Whether tokens carry the line and column where they start (CGenericToken::GetLine). Off by
    /// default, since loads do not need it; set it before the first Tokenize of an input. Lines are
    /// counted by line feeds (CR LF is one line end, a lone CR none).
    void SetLineTracking(bool bTrack) { m_bTrackLines = bTrack; }

protected:
    /// Called when the scanner has used up the current block of a file (once per block, never for
    /// in-memory input). Returns true when it read the file interface's next block, which the scanner
    /// then continues from (an empty block meaning the end of the file), false when there is no more
    /// input. This implementation reads the next block when a file is open.
    virtual bool ReadNextBlock();

private:
    enum InputKinds
    {
        InputNone,
        InputFile,
        InputMemory
    };

    void ResetTokens();
    /// Closes any file and forgets any input; the next scans give the end of the input.
    void DropInput();
    void StartMemoryInput(const char* pData, size_t nSize);
    void EnsureLookahead();
    /// The next token: from the block's list of tokens where it has one, else byte by byte.
    void ScanToken(CGenericToken& token);
    /// Lists the tokens of the block from the scan position (moving to the next blocks over white
    /// space); false when the next token is not one the list takes (a quote, a word that reaches the
    /// block's end, the input's first word) or the input has ended.
    bool ListSpans();
    void ScanTokenSlowly(CGenericToken& token);
    void ScanWord(CGenericToken& token);
    void ScanQuoted(CGenericToken& token);
    void MakeEndToken(CGenericToken& token) const;
    /// Counts the line feeds among the white space skipped from input offset nFrom, which is
    /// [pFrom, pTo) in the current block.
    void CountLines(const char* pFrom, const char* pTo, long long nFrom);
    /// Stamps the token with the line and column of input offset nStart.
    void PlaceToken(CGenericToken& token, long long nStart) const;
    /// Moves on to the next block of a file; false when the input has ended.
    bool FetchBlock();
    // Classifies the token's text; pText holds the same bytes with at least 32 readable bytes (the
    // token's own buffer, or the block when the word lies well inside it, which is faster to read than
    // bytes just written).
    /// The data type and value of a word (pText has at least 32 readable bytes).
    void ClassifyWord(const char* pText, size_t nLength, CGenericTokenSummary& summary);
    /// The same for a word or bracket of the block's list, without touching a token.
    void ClassifySpan(const char* pWord, size_t nLength, size_t nReadable, CGenericTokenSummary& summary);
    /// Describes the block's listed tokens from m_nSpanNext on into pOut (at most nMax), stopping
    /// before a token that ends at or past block offset nLimit and after a keyword whose id's bit is
    /// set in nStopIds (which is described, but not counted). Returns the number described and leaves
    /// m_nSpanNext at the first entry not counted. One copy per scan level: the AVX2 one is compiled
    /// for the instructions that come with AVX2.
    template <generic_scan::ScanLevels eLevel>
    size_t DescribeListed(CGenericTokenSummary* pOut, size_t nMax, long long nLimit,
                          unsigned long long nStopIds);
    /// Notes where the parser stands, for TakeRunTo.
    void RememberRun();
    /// Makes the read-ahead of this input when it is allowed and fits.
    void StartReadAhead();
    /// Their shared body; bVector selects the vector number conversion.
    template <bool bVector>
    size_t DescribeListedWith(CGenericTokenSummary* pOut, size_t nMax, long long nLimit,
                              unsigned long long nStopIds);
    void PrepareKeywordIndex();
    static void TakeSummary(CGenericToken& token, const CGenericTokenSummary& summary)
    {
        token.m_eDataType = summary.m_eDataType;
        token.m_nUserDefinedType = summary.m_nUserDefinedType;
        token.m_dNumericValue = summary.m_dNumericValue;
        token.m_bBooleanValue = summary.m_bBooleanValue;
    }
    bool MatchKeyword(const char* pText, size_t nLength, int& nId);
    CGenericToken& Current() { return m_Tokens[m_nCurrentIndex]; }
    CGenericToken& Next() { return m_Tokens[m_nCurrentIndex ^ 1]; }

    /// The block of an input that has none (or has ended).
    static const char s_szEmptyBlock[1];
    /// The tokens listed ahead at a time: enough to amortise a scan of 64-byte chunks, small enough to
    /// stay in the cache beside the block.
    static constexpr size_t kSpanRoom = 2048;
    /// The most bytes one listing covers: its offsets must fit 32 bits.
    static constexpr size_t kSpanWindow = size_t(1) << 30;

    ParserKeywordEntry* m_pKeywordTable;
    int m_nKeywordTableSize;
    generic_scan::CKeywordIndex m_KeywordIndex;
    bool m_bKeywordIndexReady;
    /// The keywords of the last keyword run's sets (built when first needed, again when they change).
    generic_scan::CRunKeywords m_RunKeywords;
    CBasicString m_strFileName;
    CKarnFileInterface m_FileInterface;

    /// The two tokens alternate between current and lookahead, so no text is copied per token.
    CGenericToken m_Tokens[2];
    unsigned int m_nCurrentIndex;
    bool m_bLookaheadReady;

    InputKinds m_eInput;
    const char* m_pBlock; ///< the bytes being scanned: the file's current block or the memory input
    size_t m_nBlockLength;
    size_t m_nPosition;       ///< scan position in m_pBlock
    long long m_nBlockOffset; ///< input offset of m_pBlock[0]
    long long m_nTotalSize;
    bool m_bSizeAtEnd;  ///< a stream: the size is 0 until the end of the input, then what it held
    bool m_bInputEnded; ///< no further block will come
    bool m_bReadFailed; ///< a block read failed: the input ended early
    unsigned long long m_nInputSerial;
    bool m_bTrackLines;
    long long m_nLine;      ///< the line at the scan position, when tracked
    long long m_nLineStart; ///< the input offset where that line starts
    generic_scan::ScanLevels m_eScanLevel;
    /// The tokens of the block ahead of the scan position, listed a block at a time: where each starts
    /// and ends in the block.
    std::unique_ptr<std::uint32_t[]> m_pSpanStarts; ///< one allocation for both lists
    std::uint32_t* m_pSpanEnds;
    /// The lists' offsets count from this block offset: 0, except in a block too large for 32-bit
    /// offsets (an in-memory input over kSpanWindow), which is listed a window at a time.
    size_t m_nSpanBase;
    size_t m_nSpanNext;
    size_t m_nSpanCount;
    /// How many tokens ScanToken still scans one by one rather than listing the block's (after a
    /// keyword run, which reads without the lists).
    size_t m_nSlowTokens;
    /// The steps of runs read from the block.
    static constexpr size_t kRunSteps = 256;
    std::unique_ptr<CGenericRunStep[]> m_pRunSteps;
    /// Reading ahead: the threads allowed, whether this input was considered yet, and the read-ahead
    /// with the file's stamp and the block size when it began.
    int m_nReadAheadThreads;
    bool m_bReadAheadConsidered;
    std::unique_ptr<generic_scan::CReadAhead> m_pReadAhead;
    unsigned long long m_nReadAheadStamp;
    /// Where the last keyword run was scanned (input, block, position), for TakeRunTo.
    long long m_nRunBlockOffset;
    unsigned long long m_nRunSerial;
    size_t m_nRunPosition;
};

// The queries that a load makes for every token, defined here so that callers in other libraries
// reach the members without a call.
inline CGenericToken& CGenericParser::GetCurrentToken()
{
    return Current();
}

inline double CGenericParser::GetCurrentTokenNumericValue()
{
    return Current().GetNumericValue();
}

inline long long CGenericParser::GetTotalFileSize64()
{
    return m_nTotalSize;
}

inline long long CGenericParser::GetCurrentFileOffset64()
{
    return Current().GetEndOffset();
}
