// slp_bench_decimals: checks the tokenizer's conversion of the decimals mesh files hold on many
// millions of them, beyond what the test suite can afford.
//
//   slp_bench_decimals [MILLIONS] [--seed N]
//
// It generates MILLIONS million decimals (default 20) of up to 15 significant digits with at most 8
// after the point, in three kinds: random digits, decimals next to the midpoint between two adjacent
// floats (where rounding to a double first could give the wrong float), and decimals next to the
// midpoint between two adjacent doubles. It reads them with the tokenizer in batches, as a load does,
// with the fastest scan the processor has, the SSE2 one and the plain one, and compares every value
// bit for bit with std::from_chars (the locale-free strtod and strtof): the double, and the float a
// load stores. Then it loads them as the coordinates of facets' "normal" and "vertex" lines, the lines
// a load converts in runs (on one thread and on two, read ahead in pieces), and compares every float of
// the meshes. It prints the counts and the first mismatches, and exits with 1 when there was any.
#include "slp/SLPParser.h"
#include "tokenizer/ByteScan.h"
#include "tokenizer/GenericParser.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace
{

class CRandom
{
public:
    explicit CRandom(unsigned long long nSeed) : m_nState(nSeed) {}
    unsigned long long Next()
    {
        m_nState = m_nState * 6364136223846793005ULL + 1442695040888963407ULL;
        return m_nState >> 11;
    }

private:
    unsigned long long m_nState;
};

// A decimal of at most 15 significant digits and 8 fraction digits close to dValue.
void AppendNear(double dValue, bool bNegative, std::string& out)
{
    const int nInteger = dValue < 1 ? 1 : static_cast<int>(std::log10(dValue)) + 1;
    char sz[64];
    std::snprintf(sz, sizeof sz, "%s%.*f ", bNegative ? "-" : "", std::max(0, std::min(8, 15 - nInteger)),
                  dValue);
    out += sz;
}

void AppendWord(CRandom& random, std::string& out)
{
    const unsigned long long nKind = random.Next() % 3;
    const bool bNegative = random.Next() % 2 == 0;
    if (nKind == 0)
    {
        // Random digits with the point anywhere in the last nine places.
        std::string digits = std::to_string(random.Next() % 1000000000000000ULL);
        const size_t nFraction = random.Next() % 9;
        if (nFraction > 0 && nFraction < digits.size())
            digits.insert(digits.size() - nFraction, ".");
        out += (bNegative ? "-" : "") + digits + ' ';
        return;
    }
    if (nKind == 1)
    {
        // Next to the midpoint of two floats below 1e15.
        const auto nBits = static_cast<unsigned>(random.Next() % 0x57800000u);
        float f;
        std::memcpy(&f, &nBits, sizeof f);
        AppendNear((static_cast<double>(f) + static_cast<double>(std::nextafter(f, 1e30f))) / 2, bNegative,
                   out);
        return;
    }
    // Next to the midpoint of two doubles between 1e-8 and 1e15.
    const double d = std::exp2(static_cast<double>(random.Next() % 77) - 27) *
                     (1 + static_cast<double>(random.Next() % 1000000) / 1000000);
    AppendNear(d + (std::nextafter(d, 1e300) - d) / 2, bNegative, out);
}

struct CResult
{
    long long nNumbers = 0;
    long long nMismatches = 0;
    double dSeconds = 0;
};

// Reads the words of text in batches and compares each value with from_chars.
void Check(const std::string& text, CResult& result)
{
    CGenericParser parser;
    parser.SetInputBuffer(text.data(), text.size());
    CGenericTokenSummary aBatch[512];
    const char* pWord = text.data();
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> values;
    for (size_t nBatch;
         (nBatch = parser.ReadTokens(aBatch, 512, std::numeric_limits<long long>::max(), 0)) > 0 ||
         parser.Tokenize();)
    {
        if (nBatch == 0)
        {
            if (parser.GetCurrentToken().GetDataType() == GenericTokenEndOfFile)
                break;
            aBatch[nBatch++].m_dNumericValue = parser.GetCurrentTokenNumericValue();
        }
        for (size_t i = 0; i < nBatch; ++i)
            values.push_back(aBatch[i].m_dNumericValue);
    }
    result.dSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const double dValue : values)
    {
        const char* const pEnd = std::strchr(pWord, ' ');
        double dExpected = 0;
        float fExpected = 0;
        std::from_chars(pWord, pEnd, dExpected);
        std::from_chars(pWord, pEnd, fExpected);
        const float fValue = static_cast<float>(dValue);
        if (std::memcmp(&dValue, &dExpected, sizeof dValue) != 0 ||
            std::memcmp(&fValue, &fExpected, sizeof fValue) != 0)
        {
            if (++result.nMismatches <= 10)
                std::printf("mismatch: %.*s gives %.17g (float %.9g), from_chars %.17g (float %.9g)\n",
                            static_cast<int>(pEnd - pWord), pWord, dValue, static_cast<double>(fValue),
                            dExpected, static_cast<double>(fExpected));
        }
        ++result.nNumbers;
        pWord = pEnd + 1;
    }
}

// The words of text (18 to a facet, the last ones left out) as facets, loaded from memory on nThreads
// threads; each float of the mesh is compared with from_chars's float of its word.
void CheckFacets(const std::string& text, int nThreads, CResult& result)
{
    std::vector<std::pair<const char*, const char*>> words;
    for (const char* p = text.data(); *p != 0;)
    {
        const char* const pEnd = std::strchr(p, ' ');
        words.emplace_back(p, pEnd);
        p = pEnd + 1;
    }
    words.resize(words.size() / 18 * 18);
    std::string file = "solid decimals\n";
    for (size_t i = 0; i < words.size(); i += 6)
    {
        if (i % 18 == 0)
            file += "facet\nouter loop\n";
        for (int k = 0; k < 6; ++k)
            file.append(k == 0   ? "normal "
                        : k == 3 ? "\nvertex "
                                 : " ")
                .append(words[i + k].first, words[i + k].second);
        file += "\n";
        if (i % 18 == 12)
            file += "endloop\nendfacet\n";
    }
    file += "endsolid\n";
    CKarnWorld world;
    CSLPParser parser;
    parser.SetThreadCount(nThreads);
    const auto start = std::chrono::steady_clock::now();
    parser.ParseBuffer(&world, file.data(), file.size());
    result.dSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const vemoSTL* const pMesh = world.GetNumGroups() == 1 && world.GetGroup(0)->GetNumObjects() == 1
                                     ? dynamic_cast<const vemoSTL*>(world.GetGroup(0)->GetObject(0))
                                     : nullptr;
    if (pMesh == nullptr || static_cast<size_t>(pMesh->m_nTriangleCount) * 18 != words.size())
    {
        std::printf("facets on %d threads: the mesh is not the file's\n", nThreads);
        ++result.nMismatches;
        return;
    }
    for (size_t i = 0; i < words.size(); ++i)
    {
        const vemoTRex& triangle = pMesh->m_pTriangles[i / 18];
        const size_t nCorner = i % 18 / 6;
        const float aNormal[3] = {triangle.m_Normal[nCorner].x, triangle.m_Normal[nCorner].y,
                                  triangle.m_Normal[nCorner].z};
        const float aVertex[3] = {triangle.m_Vertex[nCorner].x, triangle.m_Vertex[nCorner].y,
                                  triangle.m_Vertex[nCorner].z};
        const float fValue = i % 6 < 3 ? aNormal[i % 3] : aVertex[i % 3];
        float fExpected = 0;
        std::from_chars(words[i].first, words[i].second, fExpected);
        if (std::memcmp(&fValue, &fExpected, sizeof fValue) != 0 && ++result.nMismatches <= 10)
            std::printf("mismatch in a facet on %d threads: %.*s gives %.9g, from_chars %.9g\n", nThreads,
                        static_cast<int>(words[i].second - words[i].first), words[i].first,
                        static_cast<double>(fValue), static_cast<double>(fExpected));
        ++result.nNumbers;
    }
}

} // namespace

int main(int argc, char** argv)
{
    long long nMillions = 20;
    unsigned long long nSeed = 1;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            nSeed = std::strtoull(argv[++i], nullptr, 10);
        else if (argv[i][0] != '-' && std::atoll(argv[i]) > 0)
            nMillions = std::atoll(argv[i]);
        else
        {
            std::fprintf(stderr, "usage: %s [MILLIONS] [--seed N]\n", argv[0]);
            return 2;
        }
    }
    CRandom random(nSeed);
    const GenericScanLevels aWays[] = {GenericScanAvx2, GenericScanSse2, GenericScanPlain};
    const char* const aNames[] = {"fastest scan", "SSE2 scan", "plain scan", "facets, 1 thread",
                                  "facets, 2 threads"};
    CResult results[5];
    for (long long nChunk = 0; nChunk < nMillions; ++nChunk)
    {
        std::string text;
        for (int i = 0; i < 1000000; ++i)
            AppendWord(random, text);
        for (int k = 0; k < 3; ++k)
        {
            GenericLimitScan(aWays[k]);
            Check(text, results[k]);
        }
        GenericLimitScan(GenericScanAvx2);
        CheckFacets(text, 1, results[3]);
        CheckFacets(text, 2, results[4]);
    }
    long long nMismatches = 0;
    for (int k = 0; k < 5; ++k)
    {
        std::printf("%-17s %lld decimals, %lld mismatches, %.1f M/s\n", aNames[k], results[k].nNumbers,
                    results[k].nMismatches,
                    static_cast<double>(results[k].nNumbers) / results[k].dSeconds / 1e6);
        nMismatches += results[k].nMismatches;
    }
    return nMismatches == 0 ? 0 : 1;
}
