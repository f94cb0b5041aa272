#include "foundation/BasicString.h"
#include "tests/support/WideText.h"

#include <gtest/gtest.h>
#include <zlib.h>

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
    std::vector<unsigned> units;
    for (int i = 0; i < s.GetLength(); ++i)
    {
        units.push_back(static_cast<unsigned short>(s.GetWideString()[i]));
    }
    return units;
}

// The string's text as UTF-8, for readable assertions. Windows converts itself, its narrow text being
// the ANSI code page.
std::string Utf8(const CBasicString& s)
{
#if defined(_WIN32)
    if (s.GetLength() > 0 && s.GetWideString()[0] == 0)
        return "<null>";
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.GetWideString(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.GetWideString(), -1, &text[0], n, nullptr, nullptr);
    text.resize(static_cast<size_t>(n - 1));
    return text;
#else
    CBasicString copy(s);
    const char* p = copy.GetNarrowString();
    return p != nullptr ? std::string(p) : std::string("<null>");
#endif
}

} // namespace

TEST(BasicStringTest, ConstructionAndConversion)
{
    // A char is widened as a signed value; narrow text goes through the platform's conversion, whose
    // rules the platform tests pin.
    EXPECT_EQ(std::vector<unsigned>{0x22}, Units(CBasicString('"')));
    EXPECT_EQ(std::vector<unsigned>{0}, Units(CBasicString('\0')));
    EXPECT_EQ(std::vector<unsigned>{0xFFE9}, Units(CBasicString('\xE9')));
    EXPECT_EQ(std::vector<unsigned>{0xE9}, Units(CBasicString("\xE9")));
    EXPECT_EQ((std::vector<unsigned>{0x63, 0xE9}), Units(CBasicString("c" NARROW_E_ACUTE)));
    for (const CBasicString& empty : {CBasicString(static_cast<const char*>(nullptr)), CBasicString(""),
                                      CBasicString(static_cast<const WideChar*>(nullptr)),
                                      CBasicString(static_cast<const CBasicString*>(nullptr))})
        EXPECT_EQ(0, empty.GetLength());
    const CBasicString original("abc");
    EXPECT_EQ(original, CBasicString(&original));

    CBasicString empty;
    ASSERT_NE(nullptr, empty.GetNarrowString());
    EXPECT_STREQ("", empty.GetNarrowString());
    CBasicString nul('\0');
    EXPECT_EQ(nullptr, nul.GetNarrowString());
    CBasicString text(W("\u00E9"));
    EXPECT_STREQ(NARROW_E_ACUTE, text.GetNarrowString());
}

TEST(BasicStringTest, AssignmentAndNarrowCopyLife)
{
    // The narrow copy is read after each operation that must keep it; under AddressSanitizer a copy that
    // was freed instead would fail the test.
    CBasicString s("abc");
    const char* p = s.GetNarrowString();
    CBasicString& self = s;
    s = self;
    EXPECT_FALSE(s.Assign(self));
    EXPECT_FALSE(s.Append(CBasicString()));
    EXPECT_TRUE(s.SetAt(0, u'x'));
    EXPECT_TRUE(s.MakeUpper());
    EXPECT_FALSE(s.Truncate(5));
    EXPECT_STREQ("abc", p);
    EXPECT_EQ("XBC", Utf8(s));

    EXPECT_TRUE(s.Assign(CBasicString("other")));
    EXPECT_EQ("other", Utf8(s));
    s = W("wide");
    EXPECT_EQ("wide", Utf8(s));
    s.SetString(static_cast<const char*>(nullptr));
    EXPECT_EQ(0, s.GetLength());
    s = CBasicString("abcdef");
    s.SetString(s.GetWideString() + 2);
    EXPECT_EQ("cdef", Utf8(s));
}

TEST(BasicStringTest, Concatenation)
{
    const CBasicString ab("ab");
    EXPECT_EQ("abcd", Utf8(ab + "cd"));
    EXPECT_EQ("ab", Utf8(ab + static_cast<const WideChar*>(nullptr)));
    EXPECT_EQ("abxy", Utf8(ab + W("xy")));

    CBasicString s("ab");
    s += s;
    EXPECT_EQ("abab", Utf8(s));
    EXPECT_TRUE(s.Append(s));
    EXPECT_EQ("abababab", Utf8(s));
    s = "xy";
    EXPECT_TRUE(s.Append(s.GetWideString()));
    EXPECT_TRUE(s.Append(s.GetNarrowString()));
    s += s.GetNarrowString();
    EXPECT_EQ("xyxyxyxyxyxyxyxy", Utf8(s));
    EXPECT_TRUE(s.Append(""));
    EXPECT_FALSE(s.Append(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(s.Append(static_cast<const WideChar*>(nullptr)));

    const char bytes[] = "xyz\0w";
    CBasicString r;
    EXPECT_FALSE(r.AppendRange(bytes + 2, bytes) || r.AppendRange(bytes, bytes) ||
                 r.AppendRange(nullptr, bytes));
    EXPECT_TRUE(r.AppendRange(bytes, bytes + 3));
    EXPECT_TRUE(r.AppendRange(bytes, bytes + 5)); // the NUL ends the appended text
    EXPECT_EQ("xyzxyz", Utf8(r));
}

TEST(BasicStringTest, SearchAndSubstrings)
{
    const CBasicString s("abcabc");
    EXPECT_EQ(-1, CBasicString().Find(CBasicString(), 0));
    const std::tuple<const char*, int, int> finds[] = {
        {"", 3, 3}, {"", 6, -1}, {"bc", 0, 1}, {"bc", 2, 4}, {"bcd", 0, -1}, {"abc", 4, -1}, {"a", -1, -1}};
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
}

TEST(BasicStringTest, Ordering)
{
    EXPECT_TRUE(CBasicString() == static_cast<const char*>(nullptr));
    EXPECT_TRUE(CBasicString() == static_cast<const WideChar*>(nullptr));
    EXPECT_FALSE(CBasicString("a") == static_cast<const char*>(nullptr));
    EXPECT_TRUE(CBasicString(NARROW_E_ACUTE) == W("\u00E9"));
    EXPECT_TRUE(CBasicString("A") != "a");
    EXPECT_TRUE(CBasicString("A") < CBasicString("a"));
    EXPECT_TRUE(CBasicString("ab") < "abc");
    EXPECT_TRUE(CBasicString("b") > W("abc"));
    EXPECT_TRUE(CBasicString() < CBasicString("a"));
    EXPECT_FALSE(CBasicString("abc") < CBasicString("abc"));
    // Units compare unsigned, and a NUL unit is compared like any other.
    EXPECT_TRUE(CBasicString(WideChar(0xFFFF)) > "a");
    EXPECT_TRUE(CBasicString(WideChar(0)) > CBasicString());
    EXPECT_EQ(0, CBasicString("MiXed").CompareNoCase(CBasicString("mixED")));
}

TEST(BasicStringTest, CharacterAccessAndReverseFind)
{
    CBasicString s("abca");
    EXPECT_EQ(u'c', s.GetAt(2));
    EXPECT_EQ(0, s.GetAt(-1));
    EXPECT_EQ(0, s.GetAt(4));
    EXPECT_EQ(u'a', s.GetFirstChar());
    EXPECT_EQ(0, CBasicString().GetLastChar());
    EXPECT_FALSE(CBasicString().IsValidIndex(0));
    EXPECT_FALSE(s.SetAt(4, u'x'));
    EXPECT_EQ(3, s.ReverseFind('a', 0));
    EXPECT_EQ(0, s.ReverseFind('a', 1));
    EXPECT_EQ(-1, s.ReverseFind('c', 1));
    EXPECT_EQ(-1, s.ReverseFind(WideChar(u'a'), 4));
    EXPECT_EQ(-1, CBasicString().ReverseFind('a', 0));
    EXPECT_EQ(0, CBasicString('\xE9').ReverseFind('\xE9', 0));
}

TEST(BasicStringTest, EditingCaseAndWhiteSpace)
{
    CBasicString s("aXa");
    EXPECT_TRUE(s.Replace(CBasicString("a"), CBasicString("aa")));
    EXPECT_EQ("aaXaa", Utf8(s));
    s = "aaa";
    EXPECT_TRUE(s.Replace(CBasicString("aa"), CBasicString("b")));
    EXPECT_EQ("ba", Utf8(s));
    s = "a-b-c";
    EXPECT_TRUE(s.Replace(CBasicString("-"), CBasicString()));
    EXPECT_EQ("abc", Utf8(s));
    EXPECT_FALSE(s.Replace(CBasicString("z"), CBasicString("y")));
    EXPECT_FALSE(s.Replace(CBasicString(), CBasicString("y")));
    EXPECT_TRUE(s.Replace(s, CBasicString("whole")));
    EXPECT_EQ("whole", Utf8(s));

    // The length limit is checked before the text grows: 46,341 units each become 46,341.
    CBasicString many(std::basic_string<WideChar>(46341, u'a').c_str());
    const CBasicString huge(many);
    EXPECT_THROW(many.Replace(CBasicString("a"), huge), std::length_error);
    EXPECT_EQ(46341, many.GetLength());

    s = "abc";
    EXPECT_TRUE(s.RemoveAt(1));
    EXPECT_FALSE(s.RemoveAt(2));
    EXPECT_FALSE(s.Truncate(2));
    EXPECT_FALSE(s.Truncate(-1));
    EXPECT_TRUE(s.Truncate(0));
    EXPECT_FALSE(s.Clear());
    EXPECT_FALSE(s.MakeUpper());
    EXPECT_FALSE(s.RemoveAt(0));

    s = "  x";
    EXPECT_TRUE(s.TrimLeft());
    EXPECT_EQ("x", Utf8(s));
    EXPECT_FALSE(s.TrimLeft());
    EXPECT_TRUE(s.TrimRight()); // true for any non-empty text
    s = "x \t\n";
    EXPECT_TRUE(s.TrimRight());
    EXPECT_EQ("x", Utf8(s));
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

TEST(BasicStringTest, Format)
{
    CBasicString s("keep");
    EXPECT_FALSE(s.Format(nullptr));
    EXPECT_FALSE(s.Format(W("")));
    EXPECT_FALSE(s.Format(W("%s"), W("")));
    EXPECT_FALSE(s.Format(W("%4096d"), 1));
    EXPECT_EQ("keep", Utf8(s));
    EXPECT_TRUE(s.Format(W("%s=%d %S %.2f"), W("n"), -12, "caf" NARROW_E_ACUTE, 0.125));
    EXPECT_EQ("n=-12 caf\u00E9 0.12", Utf8(s));
}

TEST(BasicStringTest, LoadString)
{
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

    CBasicString s("keep");
    EXPECT_FALSE(s.LoadString(0, nullptr));
    EXPECT_FALSE(s.LoadString(-5, nullptr));
    EXPECT_FALSE(s.LoadString(9003, nullptr));
    EXPECT_EQ("keep", Utf8(s));
    EXPECT_TRUE(s.LoadString(9001, nullptr));
    EXPECT_EQ("resource", Utf8(s));
    EXPECT_TRUE(s.LoadString(9002, BasicGetModuleHandle(nullptr)));
    EXPECT_EQ(4095, s.GetLength());
    EXPECT_EQ(u'L', s.GetLastChar());
    EXPECT_FALSE(s.LoadString(9001, hOther));
}

TEST(BasicStringTest, HashMatchesZlibCrc32)
{
    EXPECT_EQ(0u, CBasicString().GetHashValue());
    for (const char* pszText : {"abc", "a", "The quick brown fox", "caf\xC3\xA9 \xF0\x9F\x98\x80"})
    {
        const CBasicString s(pszText);
        std::vector<unsigned char> bytes;
        for (unsigned unit : Units(s))
        {
            bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
            bytes.push_back(static_cast<unsigned char>(unit >> 8));
        }
        const uLong expected = crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size()));
        EXPECT_EQ(static_cast<unsigned>(expected), s.GetHashValue()) << pszText;
    }
    CBasicString grown("ab");
    grown += "c";
    EXPECT_EQ(CBasicString("abc").GetHashValue(), grown.GetHashValue());
}
