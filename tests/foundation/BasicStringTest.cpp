#include "foundation/BasicString.h"
#include "tests/support/WideText.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace
{

// The code units of a string, for exact comparisons that include embedded NULs.
std::vector<unsigned> Units(const CBasicString& s)
{
    return std::vector<unsigned>(s.GetWideString(), s.GetWideString() + s.GetLength());
}

// The string's text as UTF-8, for readable assertions.
std::string Utf8(const CBasicString& s)
{
    return BasicToUtf8(s.GetWideString());
}

} // namespace

TEST(BasicStringTest, ConstructionAssignmentAndAppending)
{
    // A char is widened as a signed value; narrow text goes through the platform's conversion, whose
    // rules the platform tests pin.
    EXPECT_EQ(std::vector<unsigned>{0xFFE9}, Units(CBasicString('\xE9')));
    EXPECT_EQ((std::vector<unsigned>{0x63, 0xE9}), Units(CBasicString("c" NARROW_E_ACUTE)));
    for (const CBasicString& empty : {CBasicString(static_cast<const char*>(nullptr)), CBasicString(""),
                                      CBasicString(static_cast<const WideChar*>(nullptr)),
                                      CBasicString(static_cast<const CBasicString*>(nullptr))})
        EXPECT_EQ(0, empty.GetLength());
    CBasicString empty, nul('\0');
    EXPECT_STREQ("", empty.GetNarrowString());
    EXPECT_EQ(nullptr, nul.GetNarrowString());

    // The narrow copy is read after each operation that must keep it; under AddressSanitizer a copy that
    // was freed instead would fail the test.
    CBasicString s("abc");
    const char* p = s.GetNarrowString();
    CBasicString& self = s;
    s = self;
    EXPECT_FALSE(s.Assign(self) || s.Append(CBasicString()) || s.Truncate(5));
    EXPECT_TRUE(s.SetAt(0, u'x') && s.MakeUpper());
    EXPECT_STREQ("abc", p);
    EXPECT_EQ("XBC", Utf8(s));
    EXPECT_TRUE(s.Assign(CBasicString(&s) + W("def")));
    s.SetString(s.GetWideString() + 2);
    EXPECT_EQ("Cdef", Utf8(s));

    // Appending a string to itself, or its own wide or narrow text.
    s = "ab";
    s += s;
    EXPECT_TRUE(s.Append(s) && s.Append(s.GetWideString()) && s.Append(s.GetNarrowString()));
    EXPECT_EQ("abababababababababababababababab", Utf8(s));
    EXPECT_TRUE(s.Append(""));
    EXPECT_FALSE(s.Append(static_cast<const char*>(nullptr)) ||
                 s.Append(static_cast<const WideChar*>(nullptr)));

    // A range of bytes ends at its end or at a NUL.
    const char bytes[] = "xyz\0w";
    CBasicString r;
    EXPECT_FALSE(r.AppendRange(bytes + 2, bytes) || r.AppendRange(bytes, bytes) ||
                 r.AppendRange(nullptr, bytes));
    EXPECT_TRUE(r.AppendRange(bytes, bytes + 2) && r.AppendRange(bytes, bytes + 5));
    EXPECT_EQ("xyxyz", Utf8(r));
}

TEST(BasicStringTest, SearchSubstringsAndCharacters)
{
    const CBasicString s("abcabc");
    EXPECT_EQ(-1, CBasicString().Find(CBasicString(), 0));
    const std::tuple<const char*, int, int> finds[] = {{"", 3, 3},     {"", 6, -1},  {"bc", 0, 1},
                                                       {"bc", 2, 4},   {"bc", 4, 4}, {"bcd", 0, -1},
                                                       {"abc", 4, -1}, {"a", -1, -1}};
    for (const auto& [pszWhat, nStart, nFound] : finds)
        EXPECT_EQ(nFound, s.Find(CBasicString(pszWhat), nStart)) << '"' << pszWhat << "\" from " << nStart;
    // A last index below first - 1 gives the empty text, not the tail.
    const std::tuple<int, int, const char*> mids[] = {
        {0, -1, "abcabc"}, {1, 3, "bca"}, {6, -1, ""},           {2, 6, ""},
        {3, 2, ""},        {3, 0, ""},    {INT_MIN, INT_MAX, ""}};
    for (const auto& [nFirst, nLast, pszText] : mids)
        EXPECT_EQ(pszText, Utf8(s.Mid(nFirst, nLast))) << nFirst << ".." << nLast;
    CBasicString withNul("ab");
    withNul.SetAt(1, 0);
    withNul += "cd";
    EXPECT_EQ(1, withNul.Mid(0, -1).GetLength());

    const CBasicString abca("abca");
    EXPECT_EQ(u'c', abca.GetAt(2));
    EXPECT_EQ(0, abca.GetAt(-1) + abca.GetAt(4) + CBasicString().GetLastChar());
    EXPECT_EQ(u'a', abca.GetFirstChar());
    EXPECT_EQ(3, abca.ReverseFind('a', 0)); // 0: from the last index
    EXPECT_EQ(0, abca.ReverseFind('a', 1));
    EXPECT_EQ(-1, abca.ReverseFind('c', 1));
    EXPECT_EQ(-1, abca.ReverseFind(WideChar(u'a'), 4));
    EXPECT_EQ(0, CBasicString('\xE9').ReverseFind('\xE9', 0));
}

TEST(BasicStringTest, OrderingAndHash)
{
    EXPECT_TRUE(CBasicString() == static_cast<const char*>(nullptr));
    EXPECT_TRUE(CBasicString() == static_cast<const WideChar*>(nullptr));
    EXPECT_FALSE(CBasicString("a") == static_cast<const char*>(nullptr));
    EXPECT_TRUE(CBasicString(NARROW_E_ACUTE) == W("\u00E9"));
    EXPECT_TRUE(CBasicString("A") != "a" && CBasicString("A") < CBasicString("a"));
    EXPECT_TRUE(CBasicString("ab") < "abc" && CBasicString("b") > W("abc"));
    EXPECT_FALSE(CBasicString("abc") < CBasicString("abc"));
    // Units compare unsigned, and a NUL unit is compared like any other.
    EXPECT_TRUE(CBasicString(WideChar(0xFFFF)) > "a");
    EXPECT_TRUE(CBasicString(WideChar(0)) > CBasicString());
    EXPECT_EQ(0, CBasicString("MiXed").CompareNoCase(CBasicString("mixED")));
    EXPECT_LT(CBasicString("abc").CompareNoCase(CBasicString("ABD")), 0);
    // The hash is zlib's CRC-32 of the UTF-16LE bytes.
    EXPECT_EQ(0u, CBasicString().GetHashValue());
    EXPECT_EQ(0x358A073Eu, CBasicString(W("caf\u00E9 \U0001F600")).GetHashValue());
}

TEST(BasicStringTest, EditingCaseAndWhiteSpace)
{
    // Replacing never searches inserted text again, and occurrences do not overlap.
    const std::tuple<const char*, const char*, const char*, const char*> replaces[] = {
        {"aXa", "a", "aa", "aaXaa"}, {"aaa", "aa", "b", "ba"}, {"a-b-c", "-", "", "abc"}};
    for (const auto& [pszText, pszWhat, pszWith, pszResult] : replaces)
    {
        CBasicString s(pszText);
        EXPECT_TRUE(s.Replace(CBasicString(pszWhat), CBasicString(pszWith)));
        EXPECT_EQ(pszResult, Utf8(s));
    }
    CBasicString s("abc");
    EXPECT_FALSE(s.Replace(CBasicString("z"), CBasicString("y")) ||
                 s.Replace(CBasicString(), CBasicString("y")));
    EXPECT_TRUE(s.Replace(s, CBasicString("whole")));
    EXPECT_EQ("whole", Utf8(s));

    // The length limit is checked before the text grows: 46,341 units each become 46,341.
    CBasicString many(std::basic_string<WideChar>(46341, u'a').c_str());
    const CBasicString huge(many);
    EXPECT_THROW(many.Replace(CBasicString("a"), huge), std::length_error);
    EXPECT_EQ(46341, many.GetLength());

    s = "abc";
    EXPECT_TRUE(s.RemoveAt(1));
    EXPECT_FALSE(s.RemoveAt(2) || s.Truncate(2) || s.Truncate(-1));
    EXPECT_TRUE(s.Truncate(0));
    EXPECT_FALSE(s.Clear() || s.MakeUpper() || s.RemoveAt(0));

    s = "  x \t\n";
    EXPECT_TRUE(s.TrimLeft() && s.TrimRight());
    EXPECT_EQ("x", Utf8(s));
    EXPECT_FALSE(s.TrimLeft());
    EXPECT_TRUE(s.TrimRight()); // true for any non-empty text
    s = "   ";
    EXPECT_TRUE(s.TrimLeft() && s.GetLength() == 0);
    s = "   ";
    EXPECT_TRUE(s.TrimRight() && s.GetLength() == 0);
    EXPECT_FALSE(s.TrimRight());

    s = "MiXed 1";
    EXPECT_TRUE(s.MakeLower());
    EXPECT_EQ("mixed 1", Utf8(s));
    EXPECT_TRUE(s.MakeUpper());
    EXPECT_EQ("MIXED 1", Utf8(s));
}

TEST(BasicStringTest, FormatAndLoadString)
{
    CBasicString s("keep");
    EXPECT_FALSE(s.Format(nullptr) || s.Format(W("")) || s.Format(W("%s"), W("")) ||
                 s.Format(W("%4096d"), 1));
    EXPECT_EQ("keep", Utf8(s));
    EXPECT_TRUE(s.Format(W("%s=%d %S %.2f"), W("n"), -12, "caf" NARROW_E_ACUTE, 0.125));
    EXPECT_EQ("n=-12 caf\u00E9 0.12", Utf8(s));

#if defined(_WIN32)
    // Strings 9001 and 9002 come from the test program's resource script.
    HMODULE hOther = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&BasicLoadString), &hOther));
#else
    const std::basic_string<WideChar> longText(5000, u'L');
    ASSERT_TRUE(BasicRegisterString(nullptr, 9001, W("resource")));
    ASSERT_TRUE(BasicRegisterString(nullptr, 9002, longText.c_str()));
    static char otherModuleTag;
    const ModuleHandle hOther = &otherModuleTag;
#endif
    EXPECT_FALSE(s.LoadString(0, nullptr) || s.LoadString(-5, nullptr) || s.LoadString(9003, nullptr));
    EXPECT_FALSE(s.LoadString(9001, hOther));
    EXPECT_EQ("n=-12 caf\u00E9 0.12", Utf8(s));
    EXPECT_TRUE(s.LoadString(9001, nullptr));
    EXPECT_EQ("resource", Utf8(s));
    EXPECT_TRUE(s.LoadString(9002, BasicGetModuleHandle(nullptr)));
    EXPECT_EQ(4095, s.GetLength()); // cut to the buffer
}
