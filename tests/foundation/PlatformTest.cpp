#include "foundation/Platform.h"
#include "tests/support/WideText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace
{

typedef std::basic_string<WideChar> WideText;

// A conversion through the size protocol: the size query, then the conversion into exactly that room.
template <typename Out, typename In>
Out Convert(int (*pConvert)(const In*, typename Out::value_type*, int), const In* pszText)
{
    Out text(static_cast<size_t>(pConvert(pszText, nullptr, 0)), 0);
    EXPECT_EQ(static_cast<int>(text.size()), pConvert(pszText, &text[0], static_cast<int>(text.size())));
    text.pop_back();
    return text;
}

WideText Widen(const char* pszText)
{
    return Convert<WideText>(BasicMultiByteToWide, pszText);
}

// The formatted text as UTF-8, or "<invalid>" when the formatter refuses.
std::string Fmt(const WideChar* pszFormat, ...)
{
    WideChar buffer[4096];
    va_list args;
    va_start(args, pszFormat);
    const int n = BasicFormatV(buffer, 4096, pszFormat, args);
    va_end(args);
    EXPECT_EQ(n < 0 ? 0 : n, BasicWideLength(buffer));
    return n < 0 ? "<invalid>" : BasicToUtf8(buffer);
}

} // namespace

TEST(PlatformTest, ConversionSizeProtocol)
{
    EXPECT_EQ(0, BasicMultiByteToWide(nullptr, nullptr, 0) + BasicWideToMultiByte(nullptr, nullptr, 0));
    EXPECT_EQ(1, BasicMultiByteToWide("", nullptr, 0));
#if !defined(_WIN32)
    EXPECT_EQ(4, BasicMultiByteToWide("\xC3\xA9xy", nullptr, 0)); // three units and the NUL
#else
    EXPECT_EQ(5, BasicMultiByteToWide("\xC3\xA9xy", nullptr, 0)); // a unit per byte, and the NUL
#endif
    WideChar small[3] = {9, 9, 9};
    EXPECT_EQ(0, BasicMultiByteToWide("abc", small, 3));
    EXPECT_EQ(WideText(W("abc")), Widen("abc")); // exactly the room asked for

#if !defined(_WIN32)
    const WideChar* pszText = W("\u00E9"); // UTF-8 off Windows
    const char* pszBytes = "\xC3\xA9";
#else
    const WideChar* pszText = W("\u00E9\u20AC");                  // the ANSI code page on Windows
    const char* pszBytes = "\xE9\x80";
#endif
    char bytes[3];
    EXPECT_EQ(3, BasicWideToMultiByte(pszText, nullptr, 0));
    EXPECT_EQ(0, BasicWideToMultiByte(pszText, bytes, 2));
    EXPECT_EQ(3, BasicWideToMultiByte(pszText, bytes, 3));
    EXPECT_STREQ(pszBytes, bytes);
    // UTF-8 output (names in JSON, glTF and OBJ) whatever the narrow code page is.
    const WideChar text[] = {u'L', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
    EXPECT_EQ("L\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", BasicToUtf8(text));
    EXPECT_EQ("", BasicToUtf8(nullptr));
}

#if defined(_WIN32)
TEST(PlatformTest, AnsiCodePage)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the expectations are those of Windows-1252; this system's ANSI code page is "
                     << GetACP();
    // No UTF-8 here: every byte is one character of the code page, its undefined bytes keeping their value.
    EXPECT_EQ(WideText(W("\u00C3\u00A9\u20AC\u0081\u201A\u008D\u0153\u0178")),
              Widen("\xC3\xA9\x80\x81\x82\x8D\x9C\x9F"));
    // Characters the code page lacks, a lone surrogate included, become its default character.
    const WideChar text[] = {0xE9, 0x263A, 0xD83D, u'a', 0x20AC, 0};
    char bytes[8];
    EXPECT_EQ(6, BasicWideToMultiByte(text, bytes, 8));
    EXPECT_STREQ("\xE9??a\x80", bytes);
}
#else
TEST(PlatformTest, StrictUtf8ElseWindows1252)
{
    EXPECT_EQ(WideText(W("\u00E9\u20AC\U0001F600")), Widen("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
    // One bad sequence anywhere turns the whole text to Windows-1252, byte for byte.
    EXPECT_EQ(WideText(W("\u00C3\u00A9\u00E9")), Widen("\xC3\xA9\xE9"));
    EXPECT_EQ(WideText(W("\u00C0\u00AF")), Widen("\xC0\xAF"));                     // overlong '/'
    EXPECT_EQ(WideText(W("\u00E0\u20AC\u00AF")), Widen("\xE0\x80\xAF"));           // overlong 3-byte
    EXPECT_EQ(WideText(W("\u00ED\u00A0\u20AC")), Widen("\xED\xA0\x80"));           // encoded surrogate
    EXPECT_EQ(WideText(W("\u00F4\u0090\u20AC\u20AC")), Widen("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_EQ(WideText(W("\u00E2\u201A")), Widen("\xE2\x82"));                     // truncated
    // The 0x80..0x9F row of the code page, the undefined bytes keeping their value.
    EXPECT_EQ(WideText(W("\u20AC\u0081\u201A\u008D\u008F\u0090\u0153\u009D\u0178")),
              Widen("\x80\x81\x82\x8D\x8F\x90\x9C\x9D\x9F"));
    // Lone surrogates are written as U+FFFD.
    const WideChar lone[] = {0xD83D, u'a', 0xDE00, 0};
    EXPECT_EQ("\xEF\xBF\xBD"
              "a\xEF\xBF\xBD",
              BasicToUtf8(lone));
}

TEST(PlatformTest, FileNamesRoundTripTheirBytes)
{
    // Every byte string comes back as the same bytes: UTF-8 decodes as UTF-8 (as the code page
    // conversion does), every other byte travels alone as U+DC80..U+DCFF.
    auto toWide = [](const std::string& bytes) { return Convert<WideText>(BasicPathToWide, bytes.c_str()); };
    auto toPath = [](const WideText& text) { return Convert<std::string>(BasicWideToPath, text.c_str()); };
    EXPECT_EQ(WideText(W("lat")) + WideChar(0xDCE9) + WideText(W(".slp \u00E9")),
              toWide("lat\xE9.slp \xC3\xA9"));
    EXPECT_EQ(WideText(W("\U0001F600")) + WideChar(0xDCED) + WideChar(0xDCA0) + WideChar(0xDC80),
              toWide("\xF0\x9F\x98\x80\xED\xA0\x80"));
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    for (const std::string& bytes : {all, std::string("\xC3\xA9\xE9\xC3"), std::string("\xF4\x90\x80\x80")})
        EXPECT_EQ(bytes, toPath(toWide(bytes)));
    // Lone surrogates that no byte stands for, and text for UTF-8 output, give U+FFFD.
    const WideChar text[] = {0xD800, u'x', 0xDC41, 0xDCE9, 0};
    EXPECT_EQ("\xEF\xBF\xBDx\xEF\xBF\xBD\xE9", toPath(text));
    EXPECT_EQ("\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD", BasicToUtf8(text));
}
#endif

TEST(PlatformTest, FormatNumbers)
{
    EXPECT_EQ("42|   42|42   |00042|+42| 42|-7",
              Fmt(W("%d|%5d|%-5d|%05d|%+d|% d|%i"), 42, 42, 42, 42, 42, 42, -7));
    EXPECT_EQ("ff FF 0xff 010 4294967295", Fmt(W("%x %X %#x %#o %u"), 255, 255, 255, 8, UINT_MAX));
    // Each length reads an argument of its own size: a 32-bit -9 is not 4294967287, a size_t of 2^33
    // is not 0.
    EXPECT_EQ("-9 44 4464 -9223372036854775808 1099511627776 8589934592 -3 5 2 -1 255 ffff",
              Fmt(W("%I32d %hhd %hd %lld %I64d %zu %jd %td %qd %ld %hhu %hx"), -9, 300, 70000, LLONG_MIN,
                  1LL << 40, size_t(1) << 33, intmax_t(-3), ptrdiff_t(5), 2LL, -1L, 511, -1));
    EXPECT_EQ("   7|7   |7   |3.14|1.500000|007|2",
              Fmt(W("%*d|%-*d|%*d|%.*f|%.*f|%.3d|%.f"), 4, 7, 4, 7, -4, 7, 2, 3.14159, -1, 1.5, 7, 2.25));
    EXPECT_EQ(std::string(2 * sizeof(void*) - 4, '0') + "12AB",
              Fmt(W("%p"), reinterpret_cast<void*>(0x12AB)));
    EXPECT_EQ("1.234500e+03 1.234500E+03 0.0001 1E+20 0x1p+0 2.500000 2.50 1",
              Fmt(W("%e %E %g %G %a %F %.2Lf %.5000g"), 1234.5, 1234.5, 0.0001, 1e20, 1.0, 2.5, 2.5L, 1.0));
}

TEST(PlatformTest, FormatTextAndErrors)
{
    EXPECT_EQ("wide|narrow|l|h|w|X|y|Z|q|\u263A|\u00E9",
              Fmt(W("%s|%S|%ls|%hs|%ws|%c|%C|%lc|%hc|%c|%C"), W("wide"), "narrow", W("l"), "h", W("w"), u'X',
                  'y', u'Z', 'q', 0x263A, '\xE9'));
    // A precision counts code units of wide text and bytes of narrow text.
    EXPECT_EQ("caf\u00E9|abc|  ab|ab  |ca|%",
              Fmt(W("%S|%.3s|%4.2s|%-4S|%.2S|%%"), "caf" NARROW_E_ACUTE, W("abcdef"), W("abc"), "ab", "caf"));
    EXPECT_EQ("(null) (null) (n", Fmt(W("%s %S %.2hs"), static_cast<WideChar*>(nullptr),
                                      static_cast<char*>(nullptr), static_cast<char*>(nullptr)));
    // Precision bounds the read: the text need not be terminated within it.
    const WideChar unterminated[2] = {u'o', u'k'};
    EXPECT_EQ("ok", Fmt(W("%.2s"), unterminated));

    int nWritten = 0;
    EXPECT_EQ("<invalid>", Fmt(W("a%n"), &nWritten));
    EXPECT_EQ("<invalid>", Fmt(W("%k"), 1));
    EXPECT_EQ("<invalid>", Fmt(W("abc%")));
    EXPECT_EQ("<invalid>", Fmt(W("%99999999999d"), 1));
    EXPECT_EQ(4095u, Fmt(W("%4095d"), 1).size());
    EXPECT_EQ("<invalid>", Fmt(W("%4096d"), 1));
    EXPECT_EQ("<invalid>", Fmt(W("%.4096f"), 1.0));
    EXPECT_EQ("<invalid>", Fmt(W("%s%4094s"), W("ab"), W("")));
}

#if defined(_WIN32)
TEST(PlatformTest, StringResourcesOfAModule)
{
    // Strings 7001 and 7003 come from the test program's resource script; the foundation DLL has none.
    const ModuleHandle hMain = BasicGetModuleHandle(nullptr);
    EXPECT_EQ(nullptr, BasicGetModuleHandle(W("other.dll")));
    HMODULE hOther = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&BasicLoadString), &hOther));
    ASSERT_TRUE(hMain != nullptr && hMain != hOther);

    WideChar buffer[16];
    EXPECT_EQ(4, BasicLoadString(hMain, 7001, buffer, 16));
    EXPECT_EQ(2, BasicLoadString(nullptr, 7001, buffer, 3)); // cut to the buffer
    EXPECT_EQ(WideText(W("ma")), WideText(buffer));
    EXPECT_EQ(6, BasicLoadString(nullptr, 7003, buffer, 16));
    EXPECT_EQ(WideText(W("caf\u00E9 \u20AC")), WideText(buffer));
    EXPECT_EQ(0, BasicLoadString(hOther, 7001, buffer, 16));
    EXPECT_EQ(0, buffer[0]);
    EXPECT_EQ(0, BasicLoadString(hMain, 7002, buffer, 16) + BasicLoadString(hMain, 7001, buffer, 0) +
                     BasicLoadString(hMain, 7001, nullptr, 16));
    // Resources are compiled into a module; there is no table to add to at run time.
    EXPECT_FALSE(BasicRegisterString(nullptr, 7002, W("added")));
}
#else
TEST(PlatformTest, StringResourceTable)
{
    const ModuleHandle hMain = BasicGetModuleHandle(nullptr);
    ASSERT_NE(nullptr, hMain);
    EXPECT_EQ(nullptr, BasicGetModuleHandle(W("other.dll")));
    static char otherModuleTag;
    const ModuleHandle hOther = &otherModuleTag;
    EXPECT_FALSE(BasicRegisterString(nullptr, 0, W("zero")));
    EXPECT_TRUE(BasicRegisterString(nullptr, 7001, W("main")) &&
                BasicRegisterString(hOther, 7001, W("other")));

    WideChar buffer[16];
    EXPECT_EQ(4, BasicLoadString(hMain, 7001, buffer, 16));
    EXPECT_EQ(WideText(W("main")), WideText(buffer));
    EXPECT_EQ(2, BasicLoadString(hOther, 7001, buffer, 3)); // cut to the buffer
    EXPECT_EQ(WideText(W("ot")), WideText(buffer));
    EXPECT_EQ(0, BasicLoadString(hMain, 7002, buffer, 16) + BasicLoadString(hMain, 7001, buffer, 0));

    EXPECT_TRUE(BasicRegisterString(hOther, 7001, nullptr)); // removed
    EXPECT_EQ(0, BasicLoadString(hOther, 7001, buffer, 16));
    EXPECT_EQ(4, BasicLoadString(nullptr, 7001, buffer, 16));
}
#endif
