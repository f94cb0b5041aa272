/// \file
/// CBasicString: text of 16-bit code units with an owned narrow copy made on request.
///
/// Lengths and indexes count code units and are signed 32-bit; a string holds at most 2,147,483,646
/// units (longer results raise std::length_error "string too long"). Index arguments outside the text
/// give neutral results (-1, 0, false or the empty string); nothing raises "invalid string position".
/// Narrow text is converted through the platform layer (foundation/Platform.h); a narrow argument of
/// more bytes than the maximum length raises the length error too. Length errors are raised before any
/// storage grows, so the string keeps its text. Out of memory raises std::bad_alloc and leaves every
/// existing string valid.
#pragma once

#include "foundation/Platform.h"

#include <string>

// windows.h defines LoadString as a macro (LoadStringW or LoadStringA). The member keeps its own name whether
// a host includes windows.h before or after this header: the macro is set aside for the class definition, and
// members under the two expanded names forward to it for a host whose calls the macro renames.
#if defined(_WIN32)
#pragma push_macro("LoadString")
#undef LoadString
#endif

class BASIC_API CBasicString
{
public:
    /// Construction. Null text arguments give the empty text.
    CBasicString();
    CBasicString(const CBasicString& other);
    CBasicString(const CBasicString* pOther);
    CBasicString(const char* pszText);
    CBasicString(const WideChar* pszText);
    /// A text of exactly one code unit: the character taken as a signed 8-bit value and widened
    /// (0x80..0xFF become 0xFF80..0xFFFF), without code-page conversion.
    explicit CBasicString(char c);
    /// A text of exactly one code unit, that character.
    explicit CBasicString(WideChar c);
    /// A file name as the system gives it (a program's argument, say), kept so that the file reader
    /// opens exactly that file: off Windows bytes that are not UTF-8 travel as lone surrogates (see
    /// BasicPathToWide), where the narrow constructor would read such a name as Windows-1252 and so
    /// name another file. On Windows the same as the narrow constructor.
    static CBasicString FromPath(const char* pszPath);
    virtual ~CBasicString();

    /// Assignment. Every form but self-assignment releases the narrow copy.
    CBasicString& operator=(const CBasicString& other);
    CBasicString& operator=(const char* pszText);
    CBasicString& operator=(const WideChar* pszText);
    void SetString(const char* pszText);
    void SetString(const WideChar* pszText);
    /// False, and no change, when other is this object.
    bool Assign(const CBasicString& other);

    /// Access.
    int GetLength() const;
    /// The NUL-terminated text; never null; valid until the string is next modified or destroyed.
    const WideChar* GetWideString() const;
    /// Converts the text afresh and keeps the result as the narrow copy, which stays valid until the
    /// next GetNarrowString, ReleaseNarrowString, a modification that releases it, or destruction. An
    /// empty string gives an empty narrow text; a text that converts to nothing (its first unit is NUL)
    /// gives null.
    char* GetNarrowString();
    void ReleaseNarrowString();

    /// Concatenation. Narrow arguments are converted first; null arguments add nothing.
    CBasicString operator+(const CBasicString& other) const;
    CBasicString operator+(const char* pszText) const;
    CBasicString operator+(const WideChar* pszText) const;
    CBasicString& operator+=(const CBasicString& other);
    CBasicString& operator+=(const char* pszText);
    CBasicString& operator+=(const WideChar* pszText);
    /// False, and no change, for an empty string or a null text; otherwise true (also when a non-null
    /// text adds nothing).
    bool Append(const CBasicString& other);
    bool Append(const char* pszText);
    bool Append(const WideChar* pszText);
    /// Appends the bytes from pFirst up to pLast (excluded) as narrow text; a NUL byte ends it. False
    /// when either is null or pLast is not above pFirst.
    bool AppendRange(const char* pFirst, const char* pLast);

    /// Search and substrings.
    /// The lowest index at or after nStart where what occurs, or -1; an empty what gives nStart when
    /// nStart is a valid index.
    int Find(const CBasicString& what, int nStart) const;
    /// The code units nFirst through nLast, both included (nLast -1 means the last index); empty when
    /// either index lies outside the text or nLast is below nFirst. The result ends at its first NUL.
    CBasicString Mid(int nFirst, int nLast) const;

    /// Comparison by 16-bit code unit values, the shorter text first when one is a prefix of the other.
    /// Null text arguments count as the empty text.
    bool operator==(const CBasicString& other) const;
    bool operator==(const char* pszText) const;
    bool operator==(const WideChar* pszText) const;
    bool operator!=(const CBasicString& other) const;
    bool operator!=(const char* pszText) const;
    bool operator!=(const WideChar* pszText) const;
    bool operator<(const CBasicString& other) const;
    bool operator<(const char* pszText) const;
    bool operator<(const WideChar* pszText) const;
    bool operator>(const CBasicString& other) const;
    bool operator>(const char* pszText) const;
    bool operator>(const WideChar* pszText) const;

    /// Comparison without regard to case (up to the first NUL of each text): negative, 0 or positive.
    int CompareNoCase(const CBasicString& other) const;
    /// CRC-32 (as zlib's) of the code units taken as bytes, low byte first; 0 for the empty string.
    unsigned int GetHashValue() const;

    /// Character access: 0 (or false) for an index outside the text.
    WideChar GetAt(int nIndex) const;
    WideChar GetFirstChar() const;
    WideChar GetLastChar() const;
    bool SetAt(int nIndex, WideChar c);
    bool IsValidIndex(int nIndex) const;

    /// The highest index at or below nStart holding c, or -1; nStart 0 means the last index. A narrow c
    /// is widened as a signed 8-bit value.
    int ReverseFind(char c, int nStart) const;
    int ReverseFind(WideChar c, int nStart) const;

    /// Editing, case and white space.
    bool RemoveAt(int nIndex);
    /// Replaces every occurrence of what by with, never searching inserted text again; true when at
    /// least one occurrence was replaced. NUL code units in the text are kept. The final length is
    /// checked first: a result that would be too long raises the length error with the text unchanged.
    bool Replace(const CBasicString& what, const CBasicString& with);
    bool Truncate(int nLength);
    bool Clear();
    bool MakeUpper();
    bool MakeLower();
    /// False when nothing was removed.
    bool TrimLeft();
    /// True for every non-empty string, also when nothing was removed.
    bool TrimRight();

    /// Formats into a buffer of 4,096 code units with the legacy wide conventions (%s and %c take wide
    /// text and characters, %S and %C narrow ones). False, and no change, for a null format, empty
    /// output, an invalid format (%n included) or output longer than 4,095 units. The conversions are
    /// those of BasicFormatV. Arguments must match their conversions, as with printf.
    bool Format(const WideChar* pszFormat, ...);
    /// Loads string resource nId of a module (null: the main program), cut to 4,095 code units. False,
    /// and no change, for an id of 0 or less, a missing or empty string, or no main module.
    bool LoadString(int nId, ModuleHandle hModule);

private:
    std::basic_string<WideChar> m_strText;
    char* m_pszNarrow;

#if defined(_WIN32)
public:
    bool LoadStringA(int nId, ModuleHandle hModule)
    {
        return LoadString(nId, hModule);
    }
    bool LoadStringW(int nId, ModuleHandle hModule)
    {
        return LoadString(nId, hModule);
    }
#endif
};

#if defined(_WIN32)
#pragma pop_macro("LoadString")
#endif
