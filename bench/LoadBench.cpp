// slp_bench: measures loading the files that slp_bench_gen wrote, beside the floor and the peer loaders.
//
//   slp_bench FOLDER [--rounds N] [--large] [--simulate] [--program PATH_TO_slp]
//
// For each case it runs, interleaved and for N rounds (default 5), these loaders, each in a process of
// its own (this program re-executed with a mode argument, or a peer's program beside it) so that time
// and peak memory are not shared:
//   floor     read the SLP file in blocks and convert every whitespace-separated word that is a number
//             with std::from_chars, keeping only their sum: the cost that no loader of the format avoids;
//   tokens    the loader's tokenizer alone, reading the SLP file in batches of tokens and summing the
//             numbers;
//   Parse     CSLPParser::Parse of the SLP file into a fresh CKarnWorld, with a progress callback set
//             (the world is destroyed after the timing), on 1, 2 and 4 threads (SetThreadCount), and on
//             the machine's count when that is none of these;
//   assimp    the assimp library importing the ASCII STL file of the same triangles, no post-processing
//             (slp_bench_assimp, when the benchmark was built with assimp);
//   fast_obj  fast_obj reading the OBJ triangle soup of the same triangles, one thread
//             (slp_bench_fast_obj, when its header was found);
//   rapidobj  rapidobj reading the same OBJ file on 1 thread and on the machine's count
//             (slp_bench_rapidobj, when its header was found).
// It prints a Markdown table of the medians: elapsed and processor time (every thread's), MB/s, million
// facets/s, peak resident memory, and the ratios: of processor time to the floor's (tokens and Parse on
// 1 thread), of Parse's processor time per facet on 1 thread to assimp's, of each Parse's peak memory to
// assimp's, of the elapsed and processor time on N threads to those on 1 (Parse and rapidobj), and of
// Parse's MB/s on its SLP file to fast_obj's (1 thread) and rapidobj's (same threads) on the OBJ file.
// Processor time is what the single-thread ratios use because, unlike elapsed time, it does not grow
// while other programs of a busy machine have the processor; more threads show in elapsed time.
//
// --simulate adds a report that estimates a load's elapsed time on 1, 2, 4 and 8 threads from measured
// parts (the walk's share of a load on the calling thread and the pass over the file's bytes); see
// SimulateReport. --program PATH adds the whole-program table of the slp program at PATH
// (ProgramBench.cpp).
//
// A measuring process prints one line (Measure.h).
#include "Driver.h"
#include "Measure.h"

#include "model/GroupWalk.h"
#include "slp/SLPIOManager.h"
#include "slp/SLPParser.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace slp_bench;

namespace
{

// The resident memory of this process now, in KiB (0 where /proc is missing).
long CurrentRssKiB()
{
    long nPages = 0;
    long nResident = 0;
    std::FILE* pFile = std::fopen("/proc/self/statm", "r");
    if (pFile == nullptr)
        return 0;
    if (std::fscanf(pFile, "%ld %ld", &nPages, &nResident) != 2)
        nResident = 0;
    std::fclose(pFile);
    return nResident * (::sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKiB()
{
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// ---------------------------------------------------------------------------------------------------
// The measuring modes (run in a child process)

int MeasureFloor(const char* pszPath)
{
    CStopwatch watch;
    const int fd = ::open(pszPath, O_RDONLY);
    if (fd < 0)
        return 1;
    // Blocks of 256 KiB as the loader reads them; a word cut by a block end is carried to the next.
    const std::size_t nBlock = 256 * 1024;
    std::vector<char> buffer(nBlock + 4096);
    std::size_t nCarry = 0;
    double dSum = 0.0;
    long long nNumbers = 0;
    bool bEnd = false;
    while (!bEnd)
    {
        const ssize_t nRead = ::read(fd, buffer.data() + nCarry, nBlock);
        if (nRead < 0)
            return 1;
        bEnd = nRead == 0;
        const char* p = buffer.data();
        const char* const pEnd = buffer.data() + nCarry + static_cast<std::size_t>(nRead);
        for (;;)
        {
            while (p < pEnd && static_cast<unsigned char>(*p) <= ' ')
                ++p;
            const char* const pWord = p;
            while (p<pEnd&& static_cast<unsigned char>(*p)> ' ')
                ++p;
            if (p == pEnd && !bEnd)
            {
                // Possibly cut: keep it for the next block.
                nCarry = static_cast<std::size_t>(pEnd - pWord);
                if (nCarry + nBlock > buffer.size())
                    buffer.resize(nCarry + nBlock);
                std::memmove(buffer.data(), pWord, nCarry);
                break;
            }
            if (pWord == p)
                break;
            double dValue = 0.0;
            const std::from_chars_result result = std::from_chars(pWord, p, dValue);
            if (result.ec == std::errc() && result.ptr == p)
            {
                dSum += dValue;
                ++nNumbers;
            }
        }
    }
    ::close(fd);
    watch.Stop();
    PrintMeasurement(watch, nNumbers, dSum, 0, 0);
    return 0;
}

// The loader's tokenizer alone, with its keywords, taking tokens in batches and summing the numbers.
int MeasureTokens(const char* pszPath)
{
    CStopwatch watch;
    CSLPIOManager tokens;
    tokens.SetFilename(CBasicString(pszPath));
    if (tokens.OpenInputFile() != SLPLoadSuccess)
        return 1;
    CGenericTokenSummary aBatch[512];
    long long nTokens = 0;
    double dSum = 0.0;
    for (;;)
    {
        const size_t nBatch = tokens.ReadTokens(aBatch, 512, std::numeric_limits<long long>::max(), 0);
        for (size_t i = 0; i < nBatch; ++i)
            if (aBatch[i].m_eDataType == GenericTokenNumber)
                dSum += aBatch[i].m_dNumericValue;
        nTokens += static_cast<long long>(nBatch);
        if (nBatch == 0)
        {
            if (!tokens.Tokenize())
                break;
            ++nTokens;
        }
    }
    watch.Stop();
    PrintMeasurement(watch, nTokens, dSum, 0, 0);
    return 0;
}

// The keyword runs alone: what the reading threads of a load do with its pieces (and a load on one
// thread with its blocks), the lines "normal x y z", "vertex x y z", "color r g b" and the keywords that
// frame a facet read as runs of steps with their numbers converted, with the same keyword sets as
// Parse's walk, summing the numbers and building nothing. What Parse takes on top of this is its walk:
// the steps taken one by one into the collected points and normals, the triangles, the groups and
// meshes, and the progress reports. The tokens between runs (a solid's name) are read one by one.
int MeasureRuns(const char* pszPath, int nThreads)
{
    CStopwatch watch;
    CSLPIOManager tokens;
    tokens.SetFilename(CBasicString(pszPath));
    tokens.EnableReadAhead(nThreads);
    if (tokens.OpenInputFile() != SLPLoadSuccess)
        return 1;
    const unsigned long long nQuietIds = (1ull << SLPTokenFacet) | (1ull << SLPTokenEndFacet) |
                                         (1ull << SLPTokenOuter) | (1ull << SLPTokenLoop) |
                                         (1ull << SLPTokenEndLoop);
    const CGenericRunKeywords keywords = {nQuietIds | (1ull << SLPTokenEndSolid), nQuietIds,
                                          (1ull << SLPTokenNormal) | (1ull << SLPTokenVertex) |
                                              (1ull << SLPTokenColor)};
    CGenericRun run{nullptr, 0, -1};
    long long nSteps = 0;
    double dSum = 0.0;
    tokens.Tokenize();
    for (;;)
    {
        if (tokens.ScanKeywordRun(run, LLONG_MAX, keywords))
        {
            for (size_t i = 0; i < run.m_nSteps; ++i)
                if (run.m_pSteps[i].m_nId != SLPTokenEndSolid)
                    dSum += run.m_pSteps[i].m_dValues[0] + run.m_pSteps[i].m_dValues[1] +
                            run.m_pSteps[i].m_dValues[2];
            nSteps += static_cast<long long>(run.m_nSteps);
            tokens.TakeRunTo(run.m_nLastStart);
        }
        else
        {
            // A token the runs leave (a solid's name), or a step cut where the bytes at hand end, which
            // is taken token by token as the walk takes it.
            if (!tokens.Tokenize())
                break;
            const CGenericToken& token = tokens.GetCurrentToken();
            const unsigned long long nBit =
                token.GetDataType() == GenericTokenKeyword ? 1ull << token.GetUserDefinedType() : 0;
            if ((nBit & (keywords.m_nAloneIds & ~keywords.m_nQuietIds)) != 0)
                ++nSteps;
            if ((nBit & keywords.m_nTripleIds) == 0)
                continue;
            ++nSteps;
            for (int i = 0; i < 3 && tokens.GetNextToken().GetDataType() == GenericTokenNumber; ++i)
            {
                tokens.Tokenize();
                dSum += tokens.GetCurrentTokenNumericValue();
            }
        }
    }
    watch.Stop();
    PrintMeasurement(watch, nSteps, dSum, 0, 0);
    return 0;
}

volatile int g_nLastReported = 0;

void SLP_STDCALL OnProgress(int nPercentage)
{
    g_nLastReported = nPercentage;
}

// Parse on nThreads threads (SetThreadCount; the parser's own choice when negative).
int MeasureParse(const char* pszPath, int nThreads)
{
    const long nRssBefore = PeakRssKiB();
    CKarnWorld* pWorld = new CKarnWorld();
    SLPLoadResultTypes eResult;
    CStopwatch watch;
    {
        CSLPParser parser;
        parser.SetFileName(CBasicString(pszPath));
        parser.SetLoaderPtr(&OnProgress);
        if (nThreads >= 0)
            parser.SetThreadCount(nThreads);
        watch = CStopwatch();
        eResult = parser.Parse(pWorld);
        watch.Stop();
    }
    // Count what was loaded.
    long long nFacets = 0;
    for (CGroupWalk walk(*pWorld); walk.Next();)
        for (int i = 0; i < walk.GetGroup().GetNumObjects(); ++i)
            if (const vemoSTL* pMesh = dynamic_cast<const vemoSTL*>(walk.GetGroup().GetObject(i)))
                nFacets += pMesh->m_nTriangleCount;
    // Resident with the model loaded (the load's working memory already freed): the model's cost.
    const long nRssLoaded = CurrentRssKiB();
    delete pWorld;
    if (eResult != SLPLoadSuccess)
        return 1;
    PrintMeasurement(watch, nFacets, g_nLastReported, nRssLoaded, nRssBefore);
    return 0;
}

// The newlines of a range of memory, counted in one streaming pass that the compiler vectorises (byte
// counters over stretches of 255 bytes) rather than a call per line, so that the pass is bound by the
// reading of memory.
long long CountNewlines(const char* p, const char* pEnd)
{
    long long nLines = 0;
    while (p < pEnd)
    {
        const std::size_t nStretch = std::min<std::size_t>(255, static_cast<std::size_t>(pEnd - p));
        unsigned char nCount = 0;
        for (std::size_t i = 0; i < nStretch; ++i)
            nCount = static_cast<unsigned char>(nCount + (p[i] == '\n'));
        nLines += nCount;
        p += nStretch;
    }
    return nLines;
}

// A pass over the file's bytes on nThreads threads as the reading ahead of a load makes it: pieces of
// 1 MiB, each read with pread into its thread's buffer and its newlines counted, the pieces
// handed out in file order. The least time any loader of the file on that many threads can take.
int MeasureReadPass(const char* pszPath, int nThreads)
{
    CStopwatch watch;
    const int fd = ::open(pszPath, O_RDONLY);
    if (fd < 0)
        return 1;
    const long long nSize = FileSize(pszPath);
    const long long nPiece = 1 << 20;
    std::atomic<long long> nNext{0};
    std::atomic<long long> nLines{0};
    std::atomic<bool> bFailed{false};
    const auto work = [&]()
    {
        std::vector<char> buffer(static_cast<std::size_t>(nPiece));
        long long nMine = 0;
        for (long long nAt; (nAt = nNext.fetch_add(nPiece)) < nSize;)
        {
            const ssize_t nRead = ::pread(fd, buffer.data(), static_cast<std::size_t>(nPiece), nAt);
            if (nRead < 0)
                bFailed = true;
            if (nRead <= 0)
                break;
            nMine += CountNewlines(buffer.data(), buffer.data() + nRead);
        }
        nLines += nMine;
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < nThreads; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    ::close(fd);
    watch.Stop();
    if (bFailed)
        return 1;
    PrintMeasurement(watch, nSize, static_cast<double>(nLines), 0, 0);
    return 0;
}

// The same count over the file's bytes already in memory (read before the timing), each of nThreads
// threads taking an equal share: the reading of memory alone, without the system's copy.
int MeasureMemoryPass(const char* pszPath, int nThreads)
{
    const long long nSize = FileSize(pszPath);
    std::vector<char> bytes(static_cast<std::size_t>(std::max(nSize, 1LL)));
    std::FILE* pFile = std::fopen(pszPath, "rb");
    if (pFile == nullptr)
        return 1;
    const bool bRead = std::fread(bytes.data(), 1, static_cast<std::size_t>(nSize), pFile) ==
                       static_cast<std::size_t>(nSize);
    std::fclose(pFile);
    if (!bRead)
        return 1;
    CStopwatch watch;
    std::atomic<long long> nLines{0};
    const auto work = [&](int k)
    {
        const long long nFrom = nSize * k / nThreads;
        const long long nTo = nSize * (k + 1) / nThreads;
        nLines += CountNewlines(bytes.data() + nFrom, bytes.data() + nTo);
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < nThreads; ++i)
        threads.emplace_back(work, i);
    work(0);
    for (std::thread& thread : threads)
        thread.join();
    watch.Stop();
    PrintMeasurement(watch, nSize, static_cast<double>(nLines), 0, 0);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// The driver

enum Programs
{
    ProgramSelf,
    ProgramAssimp,
    ProgramFastObj,
    ProgramRapidObj
};

struct CMethod
{
    std::string m_Mode;
    std::string m_Label;
    std::string m_Extension;
    Programs m_eProgram;
    int m_nThreads;  // passed to the measuring process; -1: not passed (one thread)
    bool m_bInTable; // a row of the load table (else measured for the simulation only)
    std::vector<CSample> m_Samples;
    double m_dSeconds = 0.0;
    double m_dCpuSeconds = 0.0;
    double m_dThreadCpuSeconds = 0.0;
    long m_nPeakRssKiB = 0;

    int Threads() const { return m_nThreads < 0 ? 1 : m_nThreads; }
    long long Count() const { return m_Samples.empty() ? 0 : m_Samples[0].m_nCount; }
};

std::string CpuName()
{
    std::FILE* pFile = std::fopen("/proc/cpuinfo", "r");
    std::string name = "unknown CPU";
    if (pFile == nullptr)
        return name;
    char sz[512];
    while (std::fgets(sz, sizeof(sz), pFile))
        if (std::strncmp(sz, "model name", 10) == 0)
        {
            const char* p = std::strchr(sz, ':');
            if (p != nullptr)
            {
                name = p + 2;
                name.erase(name.find_last_not_of(" \n") + 1);
            }
            break;
        }
    std::fclose(pFile);
    return name;
}

// The machine's thread count as the parser's automatic choice and rapidobj see it.
int MachineThreads()
{
    const unsigned nThreads = std::thread::hardware_concurrency();
    return nThreads == 0 ? 1 : static_cast<int>(nThreads);
}

const CMethod* Find(const std::vector<CMethod>& methods, const char* pszMode, int nThreads)
{
    for (const CMethod& method : methods)
        if (method.m_Mode == pszMode && method.Threads() == nThreads)
            return &method;
    return nullptr;
}

std::string Format(const char* pszFormat, double dValue)
{
    char sz[64];
    std::snprintf(sz, sizeof(sz), pszFormat, dValue);
    return sz;
}

// The estimate of a load's elapsed time on 1, 2, 4 and 8 threads from measured parts, for one case.
// Measured: Parse's processor time on 1 thread (P1); the keyword runs alone on 1 thread (S1), the work
// that the reading threads take over; so the walk, which stays on the calling thread whatever the
// count, W = P1 - S1; the processor time of every thread on 2 threads against 1 (o, the cost of
// working in pieces); the pass over the file's bytes (pread and a count of its newlines) on 1, 2 (and the
// machine's) threads. Extrapolated: on N threads a load takes at least the walk, at least P1 * o / N (all the
// work evenly shared), and at least the pass over the bytes on N threads. Where the pass was not measured on
// N threads, its rate is N times the rate on 1 thread, capped at the rate on the most threads measured
// (M) when that fell short of M times the rate on 1 by more than a fifth (the memory seen to saturate);
// otherwise uncapped, which only a machine with more cores can confirm: the report gives the rate a load
// would need beside the rates measured.
std::vector<std::string> SimulateReport(const std::string& caseName, const std::string& path,
                                        const std::vector<CMethod>& methods, int nMachineThreads)
{
    std::vector<std::string> lines;
    const CMethod* pParse1 = Find(methods, "parse", 1);
    const CMethod* pParse2 = Find(methods, "parse", 2);
    const CMethod* pRuns1 = Find(methods, "runs", 1);
    const CMethod* pPass1 = Find(methods, "readpass", 1);
    if (pParse1 == nullptr || pRuns1 == nullptr || pPass1 == nullptr)
        return lines;
    const double dP1 = pParse1->m_dCpuSeconds;
    const double dWalk = std::max(0.0, dP1 - pRuns1->m_dCpuSeconds);
    const double dOverhead = pParse2 != nullptr ? std::max(1.0, pParse2->m_dCpuSeconds / dP1) : 1.0;
    const double dMB = static_cast<double>(FileSize(path)) / 1e6;
    double dEstimate8 = 0.0;
    // The pass on the most threads measured, and whether it saturated.
    const CMethod* pPassTop = pPass1;
    for (const CMethod& method : methods)
        if (method.m_Mode == "readpass" && method.Threads() > pPassTop->Threads())
            pPassTop = &method;
    const bool bSaturated =
        pPassTop->Threads() > 1 && pPass1->m_dSeconds / pPassTop->m_dSeconds < 0.8 * pPassTop->Threads();
    for (int nThreads : {1, 2, 4, 8})
    {
        const CMethod* pPass = Find(methods, "readpass", nThreads);
        double dPass = pPass != nullptr ? pPass->m_dSeconds : 0.0;
        if (pPass == nullptr)
            dPass = std::max(pPass1->m_dSeconds / nThreads, bSaturated ? pPassTop->m_dSeconds : 0.0);
        const double dWork = nThreads == 1 ? dP1 : dP1 * dOverhead / nThreads;
        double dEstimate = dWork;
        const char* pszBound = "all the work / threads";
        if (dWalk > dEstimate)
        {
            dEstimate = dWalk;
            pszBound = "the walk";
        }
        if (dPass > dEstimate)
        {
            dEstimate = dPass;
            pszBound = "the pass over the bytes";
        }
        const CMethod* pMeasured = Find(methods, "parse", nThreads);
        std::string measured = " | | |";
        if (pMeasured != nullptr)
            measured =
                " | " + Format("%.1f", pMeasured->m_dSeconds * 1e3) +
                (nThreads > nMachineThreads ? " (" + std::to_string(nMachineThreads) + " cores)" : "") +
                " | " + Format("%.2f", pParse1->m_dSeconds / pMeasured->m_dSeconds) + " | " +
                Format("%.1f", pMeasured->m_dThreadCpuSeconds * 1e3);
        dEstimate8 = dEstimate;
        lines.push_back(
            "| " + caseName + " | " + std::to_string(nThreads) + " | " + Format("%.1f", dWalk * 1e3) + " | " +
            Format("%.1f", dWork * 1e3) + " | " + Format("%.1f", dPass * 1e3) +
            (pPass == nullptr ? std::string(bSaturated ? " (held)" : " (linear)") : std::string()) + " | " +
            Format("%.1f", dEstimate * 1e3) + " | " + Format("%.2f", dP1 / dEstimate) + " | " + pszBound +
            measured + " |");
    }
    // What was measured, in words.
    std::string note = caseName + ": Parse on 1 thread " + Format("%.1f", dP1 * 1e3) +
                       " ms of processor time; the runs alone " +
                       Format("%.1f", pRuns1->m_dCpuSeconds * 1e3) + " ms on 1 thread";
    for (const CMethod& method : methods)
        if (method.m_Mode == "runs" && method.Threads() > 1)
            note += ", " + Format("%.1f", method.m_dSeconds * 1e3) + " ms elapsed on " +
                    std::to_string(method.Threads()) + " (" + Format("%.1f", method.m_dCpuSeconds * 1e3) +
                    " ms of processor time)";
    note +=
        "; so the walk takes " + Format("%.1f", dWalk * 1e3) + " ms, " + Format("%.0f", 100.0 * dWalk / dP1) +
        "% of a load" +
        (dWalk > 0.0 ? " (at most " + Format("%.1f", dP1 / dWalk) + " times faster on any number of threads)"
                     : std::string()) +
        "; processor time on 2 threads / 1 thread " + Format("%.2f", dOverhead) +
        ". At the estimate for 8 threads a load reads " + Format("%.1f", dMB / dEstimate8 / 1e3) +
        " GB/s of its file. Pass over the bytes (newlines counted):";
    for (const char* pszMode : {"readpass", "mempass"})
        for (const CMethod& method : methods)
            if (method.m_Mode == pszMode)
                note += std::string(" ") + (method.m_Mode == "readpass" ? "from the file" : "in memory") +
                        " on " + std::to_string(method.Threads()) + " thread" +
                        (method.Threads() > 1 ? "s " : " ") + Format("%.1f", method.m_dSeconds * 1e3) +
                        " ms (" + Format("%.1f", dMB / method.m_dSeconds / 1e3) + " GB/s);";
    lines.push_back(note);
    return lines;
}

struct COptions
{
    int m_nRounds = 5;
    bool m_bLarge = false;
    bool m_bSimulate = false;
    std::string m_Program; // the slp program for the whole-program table, or empty
};

int RunBenchmark(const std::string& self, const std::string& folder, const COptions& options)
{
    std::vector<std::string> cases = {"one_solid_30000", "one_solid_300000", "assembly_300000"};
    if (options.m_bLarge)
        cases.push_back("one_solid_3000000");
    const int nMachineThreads = MachineThreads();

    std::printf("Machine: %s, %ld cores online, %d threads for the parser's automatic count; compiler: %s\n",
                CpuName().c_str(), ::sysconf(_SC_NPROCESSORS_ONLN), nMachineThreads, __VERSION__);
#ifdef SLP_BENCH_HAVE_ASSIMP
    std::printf("Peer: assimp %s (Debian package), ASCII STL of the same triangles, no post-processing\n",
                SLP_BENCH_ASSIMP_VERSION);
#else
    std::printf("Peer: assimp not measured (not found when the benchmark was built)\n");
#endif
#ifdef SLP_BENCH_HAVE_FAST_OBJ
    std::printf("Peer: fast_obj, the OBJ triangle soup of the same triangles, one thread\n");
#else
    std::printf("Peer: fast_obj not measured (its header was not found when the benchmark was built)\n");
#endif
#ifdef SLP_BENCH_HAVE_RAPIDOBJ
    std::printf("Peer: rapidobj, the same OBJ file, its thread count set through "
                "std::thread::hardware_concurrency (see RapidObjImport.cpp)\n");
#else
    std::printf("Peer: rapidobj not measured (its header was not found when the benchmark was built)\n");
#endif
    std::printf("Medians of %d interleaved round%s, each measurement in its own process.\n\n",
                options.m_nRounds, options.m_nRounds == 1 ? "" : "s");
    std::printf("| case | loader | threads | file MB | time ms | CPU ms | MB/s | M facets/s | peak RSS MiB | "
                "CPU / floor | CPU per facet / assimp | RSS / assimp | time / 1 thread | CPU / 1 thread | "
                "MB/s / fast_obj | MB/s / rapidobj |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);

    const std::string beside = self.substr(0, self.find_last_of('/') + 1);
    const std::string aPrograms[4] = {self, beside + "slp_bench_assimp", beside + "slp_bench_fast_obj",
                                      beside + "slp_bench_rapidobj"};
    std::vector<int> parseThreads = {1, 2, 4};
    if (std::find(parseThreads.begin(), parseThreads.end(), nMachineThreads) == parseThreads.end())
        parseThreads.push_back(nMachineThreads);
    std::vector<int> passThreads = {1};
    if (nMachineThreads >= 2)
        passThreads.push_back(2);
    if (nMachineThreads > 2)
        passThreads.push_back(nMachineThreads);

    std::vector<std::string> notes;
    std::vector<std::string> simulation;
    for (const std::string& name : cases)
    {
        std::vector<CMethod> methods = {{"floor", "floor (from_chars)", ".slp", ProgramSelf, -1, true, {}},
                                        {"tokens", "tokens only", ".slp", ProgramSelf, -1, true, {}}};
        for (int nThreads : parseThreads)
            methods.push_back({"parse", "CSLPParser::Parse", ".slp", ProgramSelf, nThreads, true, {}});
#ifdef SLP_BENCH_HAVE_ASSIMP
        methods.push_back({"assimp", "assimp (STL)", ".stl", ProgramAssimp, -1, true, {}});
#endif
#ifdef SLP_BENCH_HAVE_FAST_OBJ
        methods.push_back({"fast_obj", "fast_obj (OBJ)", ".obj", ProgramFastObj, -1, true, {}});
#endif
#ifdef SLP_BENCH_HAVE_RAPIDOBJ
        methods.push_back({"rapidobj", "rapidobj (OBJ)", ".obj", ProgramRapidObj, 1, true, {}});
        if (nMachineThreads > 1)
            methods.push_back(
                {"rapidobj", "rapidobj (OBJ)", ".obj", ProgramRapidObj, nMachineThreads, true, {}});
#endif
        if (options.m_bSimulate)
        {
            methods.push_back({"runs", "", ".slp", ProgramSelf, 1, false, {}});
            for (int nThreads : passThreads)
            {
                if (nThreads > 1)
                    methods.push_back({"runs", "", ".slp", ProgramSelf, nThreads, false, {}});
                methods.push_back({"readpass", "", ".slp", ProgramSelf, nThreads, false, {}});
                methods.push_back({"mempass", "", ".slp", ProgramSelf, nThreads, false, {}});
            }
        }
        const std::string base = folder + "/" + name;
        for (const char* pszExtension : {".slp", ".stl", ".obj"})
            if (FileSize(base + pszExtension) <= 0)
            {
                std::fprintf(stderr, "missing %s%s: run slp_bench_gen %s first\n", base.c_str(), pszExtension,
                             folder.c_str());
                return 1;
            }
        for (int r = 0; r < options.m_nRounds; ++r)
            for (CMethod& method : methods)
            {
                std::vector<std::string> argv = {aPrograms[method.m_eProgram], "--measure", method.m_Mode,
                                                 base + method.m_Extension};
                if (method.m_nThreads >= 0)
                    argv.push_back(std::to_string(method.m_nThreads));
                CSample sample;
                if (!RunMeasure(argv, sample))
                {
                    std::fprintf(stderr, "%s failed on %s%s\n", method.m_Mode.c_str(), base.c_str(),
                                 method.m_Extension.c_str());
                    return 1;
                }
                method.m_Samples.push_back(sample);
            }

        for (CMethod& method : methods)
        {
            method.m_dSeconds = MedianOf(method.m_Samples, &CSample::m_dSeconds);
            method.m_dCpuSeconds = MedianOf(method.m_Samples, &CSample::m_dCpuSeconds);
            method.m_dThreadCpuSeconds = MedianOf(method.m_Samples, &CSample::m_dThreadCpuSeconds);
            method.m_nPeakRssKiB = MedianOf(method.m_Samples, &CSample::m_nPeakRssKiB);
        }
        const CMethod& floor = *Find(methods, "floor", 1);
        const CMethod& parse = *Find(methods, "parse", 1);
        const long long nFacets = parse.Count();
        const CMethod* pAssimp = Find(methods, "assimp", 1);
        const CMethod* pFastObj = Find(methods, "fast_obj", 1);
        for (const CMethod& method : methods)
            if (method.m_bInTable && method.m_eProgram != ProgramSelf && method.Count() != nFacets)
                notes.push_back(name + ": " + method.m_Label + " made " + std::to_string(method.Count()) +
                                " facets, Parse " + std::to_string(nFacets));

        const auto ratio = [](double dValue) { return Format(" %.2f |", dValue); };
        const auto mbPerSecond = [&](const CMethod& method)
        { return static_cast<double>(FileSize(base + method.m_Extension)) / 1e6 / method.m_dSeconds; };
        for (const CMethod& method : methods)
        {
            if (!method.m_bInTable)
                continue;
            const double dMB = static_cast<double>(FileSize(base + method.m_Extension)) / 1e6;
            const bool bParse = method.m_Mode == "parse";
            const CMethod* pOneThread = Find(methods, method.m_Mode.c_str(), 1);
            const CMethod* pRapid = Find(methods, "rapidobj", method.Threads());
            std::string ratios;
            // CPU / floor
            ratios += method.m_Mode == "tokens" || &method == &parse
                          ? ratio(method.m_dCpuSeconds / floor.m_dCpuSeconds)
                          : std::string(" |");
            // CPU per facet / assimp, then RSS / assimp
            ratios += &method == &parse && pAssimp != nullptr
                          ? ratio(method.m_dCpuSeconds / static_cast<double>(nFacets) /
                                  (pAssimp->m_dCpuSeconds / static_cast<double>(pAssimp->Count())))
                          : std::string(" |");
            ratios += bParse && pAssimp != nullptr ? ratio(static_cast<double>(method.m_nPeakRssKiB) /
                                                           static_cast<double>(pAssimp->m_nPeakRssKiB))
                                                   : std::string(" |");
            // Elapsed and processor time on N threads / on 1
            if (method.Threads() > 1 && pOneThread != nullptr)
                ratios += ratio(method.m_dSeconds / pOneThread->m_dSeconds) +
                          ratio(method.m_dCpuSeconds / pOneThread->m_dCpuSeconds);
            else
                ratios += " | |";
            // MB/s / fast_obj (1 thread), MB/s / rapidobj (same threads)
            ratios += &method == &parse && pFastObj != nullptr
                          ? ratio(mbPerSecond(method) / mbPerSecond(*pFastObj))
                          : std::string(" |");
            ratios += bParse && pRapid != nullptr ? ratio(mbPerSecond(method) / mbPerSecond(*pRapid))
                                                  : std::string(" |");
            std::printf("| %s | %s | %d | %.1f | %.1f | %.1f | %.0f | %.2f | %.1f |%s\n", name.c_str(),
                        method.m_Label.c_str(), method.Threads(), dMB, method.m_dSeconds * 1e3,
                        method.m_dCpuSeconds * 1e3, dMB / method.m_dSeconds,
                        static_cast<double>(nFacets) / method.m_dSeconds / 1e6,
                        static_cast<double>(method.m_nPeakRssKiB) / 1024.0, ratios.c_str());
        }
        std::fflush(stdout);

        const long nBefore = MedianOf(parse.m_Samples, &CSample::m_nRssBeforeKiB);
        const long long nLoaded = MedianOf(parse.m_Samples, &CSample::m_nLoadedKiB);
        const double dModelMiB = static_cast<double>(nLoaded - nBefore) / 1024.0;
        const double dPeakMiB = static_cast<double>(parse.m_nPeakRssKiB - nBefore) / 1024.0;
        const CMethod& tokens = *Find(methods, "tokens", 1);
        char sz[768];
        std::snprintf(
            sz, sizeof(sz),
            "%s: Parse on 1 thread made %lld facets (triangle arrays %.1f MiB); resident model %.1f "
            "MiB; peak above the process before the load %.1f MiB, above the loaded model %.1f MiB; "
            "%.1f ns (processor: %.1f ns) per facet; tokens only took %.0f%% of its processor time",
            name.c_str(), nFacets,
            static_cast<double>(nFacets) * static_cast<double>(sizeof(vemoTRex)) / 1048576.0, dModelMiB,
            dPeakMiB, dPeakMiB - dModelMiB, parse.m_dSeconds / static_cast<double>(nFacets) * 1e9,
            parse.m_dCpuSeconds / static_cast<double>(nFacets) * 1e9,
            100.0 * tokens.m_dCpuSeconds / parse.m_dCpuSeconds);
        notes.push_back(sz);
        if (options.m_bSimulate)
        {
            const std::vector<std::string> lines =
                SimulateReport(name, base + ".slp", methods, nMachineThreads);
            simulation.insert(simulation.end(), lines.begin(), lines.end());
        }
    }
    std::printf("\n");
    for (const std::string& note : notes)
        std::printf("%s\n", note.c_str());

    if (options.m_bSimulate)
    {
        std::printf(
            "\nWhat limits more threads. Measured: Parse on 1, 2 and 4 threads (elapsed, processor "
            "time, and the calling thread's processor time); the keyword runs alone on 1 thread, what "
            "the reading threads take over, so that the walk, which stays on the calling thread, is "
            "Parse's processor time on 1 thread less theirs; a pass over the file's bytes (pread of "
            "1 MiB pieces, newlines counted) on 1 and %d threads. Estimated: a load on N threads takes at "
            "least "
            "the walk, at least all its work shared evenly (its processor time on 1 thread times the "
            "growth measured on 2 threads, divided by N), and at least the pass on N threads (where "
            "not measured: N times the rate on 1 thread, held at the rate on the most threads "
            "measured if that fell short of linear by more than a fifth). Everything beyond %d "
            "threads is extrapolated.\n\n",
            std::min(nMachineThreads, 2) == 1 ? 1 : nMachineThreads, nMachineThreads);
        std::printf(
            "| case | threads | walk ms | work / threads ms | pass ms | estimate ms | estimated speedup | "
            "bound | measured ms | measured speedup | calling thread CPU ms |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
        std::vector<std::string> words;
        for (const std::string& line : simulation)
            if (line[0] == '|')
                std::printf("%s\n", line.c_str());
            else
                words.push_back(line);
        std::printf("\n");
        for (const std::string& line : words)
            std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);

    if (!options.m_Program.empty())
        return RunProgramBenchmark(options.m_Program, folder, cases, options.m_nRounds);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--measure") == 0)
    {
        const std::string mode = argv[2];
        const int nThreads = argc == 5 ? std::atoi(argv[4]) : -1;
        if (mode == "floor")
            return MeasureFloor(argv[3]);
        if (mode == "tokens")
            return MeasureTokens(argv[3]);
        if (mode == "parse")
            return MeasureParse(argv[3], nThreads);
        if (mode == "runs")
            return MeasureRuns(argv[3], std::max(1, nThreads));
        if (mode == "readpass")
            return MeasureReadPass(argv[3], std::max(1, nThreads));
        if (mode == "mempass")
            return MeasureMemoryPass(argv[3], std::max(1, nThreads));
        return 2;
    }
    if (argc < 2 || argv[1][0] == '-')
    {
        std::fprintf(stderr, "usage: %s FOLDER [--rounds N] [--large] [--simulate] [--program PATH_TO_slp]\n",
                     argv[0]);
        return 2;
    }
    COptions options;
    for (int i = 2; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            options.m_nRounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--large") == 0)
            options.m_bLarge = true;
        else if (std::strcmp(argv[i], "--simulate") == 0)
            options.m_bSimulate = true;
        else if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc)
            options.m_Program = argv[++i];
        else
        {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    // A program named by a relative path is found from the current folder, whatever its runs' folders.
    if (!options.m_Program.empty())
    {
        char* pszProgram = ::realpath(options.m_Program.c_str(), nullptr);
        if (pszProgram == nullptr || ::access(pszProgram, X_OK) != 0)
        {
            std::fprintf(stderr, "--program %s: no such program\n", options.m_Program.c_str());
            std::free(pszProgram);
            return 2;
        }
        options.m_Program = pszProgram;
        std::free(pszProgram);
    }
    // The children are this very program however it was started, and the peers' programs beside it.
    char szSelf[4096];
    const ssize_t nSelf = ::readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    if (nSelf <= 0)
        return 1;
    return RunBenchmark(std::string(szSelf, static_cast<std::size_t>(nSelf)), argv[1], options);
}
