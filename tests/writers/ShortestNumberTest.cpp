// The writers' own shortest number text (writers/ShortestNumber.h), which stands in for std::to_chars
// where the standard library has no floating point <charconv> (the WebAssembly build), must write the
// very text std::to_chars writes, or the files written there would differ from this build's.
#include "writers/ShortestNumber.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace
{

template <class Value> std::string Expected(Value v)
{
    char szText[64];
    return std::string(szText, std::to_chars(szText, szText + sizeof(szText), v).ptr);
}

std::string Actual(float f)
{
    char szText[32];
    return std::string(szText, ShortestFloatText(f, szText));
}

std::string Actual(double d)
{
    char szText[32];
    return std::string(szText, ShortestDoubleText(d, szText));
}

// Values at the edges of the choices: zeros, the ends of the range, subnormals, powers of two (whose
// rounding interval is lopsided) and of ten (where fixed and scientific notation trade places).
template <class Value> void CheckEdges()
{
    using Limits = std::numeric_limits<Value>;
    for (Value v : {Value(0), -Value(0), Limits::min(), Limits::max(), Limits::denorm_min(), Limits::lowest(),
                    Value(0.1), Value(1) / Value(3), Value(123456789), Value(-0.0001), Value(1e-5)})
        EXPECT_EQ(Actual(v), Expected(v));
    for (int e = Limits::min_exponent - Limits::digits; e < Limits::max_exponent; ++e)
        EXPECT_EQ(Actual(std::ldexp(Value(1), e)), Expected(std::ldexp(Value(1), e))) << "2^" << e;
    for (int e = Limits::min_exponent10; e <= Limits::max_exponent10; ++e)
        for (Value m : {Value(1), Value(-2.5), Value(9.999)})
        {
            const Value v = m * std::pow(Value(10), static_cast<Value>(e));
            if (std::isfinite(v))
            {
                EXPECT_EQ(Actual(v), Expected(v));
            }
        }
}

// Finite values of random bits: every exponent and digit count comes up.
template <class Value, class Bits> void CheckRandom(int nCount)
{
    std::mt19937_64 random(20240601);
    for (int i = 0; i < nCount; ++i)
    {
        const Bits nBits = static_cast<Bits>(random());
        Value v;
        std::memcpy(&v, &nBits, sizeof(v));
        if (std::isfinite(v))
        {
            ASSERT_EQ(Actual(v), Expected(v)) << "bits " << nBits;
        }
    }
}

TEST(ShortestNumberTest, FloatsAsToChars)
{
    CheckEdges<float>();
    CheckRandom<float, std::uint32_t>(200000);
}

TEST(ShortestNumberTest, DoublesAsToChars)
{
    CheckEdges<double>();
    CheckRandom<double, std::uint64_t>(100000);
}

// A process locale whose decimal separator is a comma changes nothing.
TEST(ShortestNumberTest, CommaLocale)
{
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const std::string text = Actual(0.15625f) + " " + Actual(-2.5e-7);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(text, "0.15625 -2.5e-07");
}

} // namespace
