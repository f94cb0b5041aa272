// slp_bench: measures loading the files that slp_bench_gen wrote, beside the floor and the peer loader.
//
//   slp_bench FOLDER [--rounds N] [--large]
//
// For each case it runs, interleaved and for N rounds (default 5), four loaders, each in a process of
// its own (this program re-executed with a mode argument) so that time and peak memory are not shared:
//   floor   read the SLP file in blocks and convert every whitespace-separated word that is a number
//           with std::from_chars, keeping only their sum: the cost that no loader of the format avoids;
//   tokens  the loader's tokenizer alone, reading the SLP file in batches as Parse does and summing the
//           numbers: the tokenizer's share of a load;
//   Parse   CSLPParser::Parse of the SLP file into a fresh CKarnWorld, with a progress callback set
//           (the world is destroyed after the timing);
//   assimp  the assimp library importing the ASCII STL file of the same triangles, no post-processing
//           (only when the benchmark was built with assimp). It runs in a program of its own,
//           slp_bench_assimp beside this one, so that neither loader's process carries the other's
//           libraries in its memory figures.
// It prints a Markdown table of the medians: elapsed and processor time, MB/s, million facets/s, peak
// resident memory, and the ratios of processor time to the floor's (Parse and tokens), of Parse's
// processor time per facet to the peer's, and of Parse's peak memory to the peer's. Processor time is
// what the ratios use because, unlike elapsed time, it does not grow while other programs of a busy
// machine have the processor.
//
// A measuring process prints one line: elapsed seconds, facets (or numbers for the floor), a check
// value, for Parse the resident memory with the model loaded and the peak resident memory before the
// load (KiB; else 0 and 0), and the processor seconds of the measured part.
#include "model/GroupWalk.h"
#include "slp/SLPIOManager.h"
#include "slp/SLPParser.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The processor time of this process so far, in seconds: unlike the elapsed time, it does not grow
// while other programs of a busy machine have the processor.
double CpuSeconds()
{
    struct timespec now;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

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
    const double dCpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
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
    const double dSeconds = SecondsSince(start);
    const double dCpu = CpuSeconds() - dCpuStart;
    std::printf("%.9f %lld %.6g 0 0 %.9f\n", dSeconds, nNumbers, dSum, dCpu);
    return 0;
}

// The loader's tokenizer alone, with its keywords, taking tokens in batches as the load does and
// summing the numbers: the share of a load that goes to tokens.
int MeasureTokens(const char* pszPath)
{
    const double dCpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
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
    const double dSeconds = SecondsSince(start);
    const double dCpu = CpuSeconds() - dCpuStart;
    std::printf("%.9f %lld %.6g 0 0 %.9f\n", dSeconds, nTokens, dSum, dCpu);
    return 0;
}

volatile int g_nLastReported = 0;

void SLP_STDCALL OnProgress(int nPercentage)
{
    g_nLastReported = nPercentage;
}

int MeasureParse(const char* pszPath)
{
    const long nRssBefore = PeakRssKiB();
    CKarnWorld* pWorld = new CKarnWorld();
    SLPLoadResultTypes eResult;
    double dSeconds;
    double dCpu;
    {
        CSLPParser parser;
        parser.SetFileName(CBasicString(pszPath));
        parser.SetLoaderPtr(&OnProgress);
        const double dCpuStart = CpuSeconds();
        const Clock::time_point start = Clock::now();
        eResult = parser.Parse(pWorld);
        dSeconds = SecondsSince(start);
        dCpu = CpuSeconds() - dCpuStart;
    }
    // Count what was loaded.
    long long nFacets = 0;
    long long nObjects = 0;
    for (CGroupWalk walk(*pWorld); walk.Next();)
        for (int i = 0; i < walk.GetGroup().GetNumObjects(); ++i)
            if (const vemoSTL* pMesh = dynamic_cast<const vemoSTL*>(walk.GetGroup().GetObject(i)))
            {
                nFacets += pMesh->m_nTriangleCount;
                ++nObjects;
            }
    // Resident with the model loaded (the load's working memory already freed): the model's cost.
    const long nRssLoaded = CurrentRssKiB();
    delete pWorld;
    if (eResult != SLPLoadSuccess)
        return 1;
    std::printf("%.9f %lld %d %lld %ld %.9f\n", dSeconds, nFacets, g_nLastReported,
                static_cast<long long>(nRssLoaded), nRssBefore, dCpu);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// The driver

struct CSample
{
    double m_dSeconds = 0.0;
    long long m_nCount = 0;
    long long m_nLoadedKiB = 0;
    long m_nRssBeforeKiB = 0;
    long m_nPeakRssKiB = 0;
    double m_dCpuSeconds = 0.0;
};

// Runs this program in mode pszMode on a file and collects what it printed and its peak memory.
bool RunChild(const std::string& program, const char* pszMode, const std::string& path, CSample& sample)
{
    int aPipe[2];
    if (::pipe(aPipe) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0)
    {
        ::dup2(aPipe[1], STDOUT_FILENO);
        ::close(aPipe[0]);
        ::close(aPipe[1]);
        const char* const argv[] = {program.c_str(), "--measure", pszMode, path.c_str(), nullptr};
        ::execv(program.c_str(), const_cast<char* const*>(argv));
        std::_Exit(127);
    }
    ::close(aPipe[1]);
    std::string output;
    char sz[256];
    ssize_t n;
    while ((n = ::read(aPipe[0], sz, sizeof(sz))) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            output.append(sz, static_cast<std::size_t>(n));
    ::close(aPipe[0]);
    int nStatus = 0;
    struct rusage usage;
    while (::wait4(pid, &nStatus, 0, &usage) < 0)
        if (errno != EINTR)
            return false;
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
        return false;
    double dCheck = 0.0;
    if (std::sscanf(output.c_str(), "%lf %lld %lf %lld %ld %lf", &sample.m_dSeconds, &sample.m_nCount,
                    &dCheck, &sample.m_nLoadedKiB, &sample.m_nRssBeforeKiB, &sample.m_dCpuSeconds) != 6)
        return false;
    sample.m_nPeakRssKiB = usage.ru_maxrss;
    return true;
}

template <class T> T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct CMethod
{
    const char* m_pszMode;
    const char* m_pszLabel;
    const char* m_pszExtension;
    std::vector<CSample> m_Samples;
    double m_dSeconds = 0.0;
    double m_dCpuSeconds = 0.0;
    long m_nPeakRssKiB = 0;
};

long long FileSize(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

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

int RunBenchmark(const std::string& self, const std::string& folder, int nRounds, bool bLarge)
{
    std::vector<std::string> cases = {"one_solid_30000", "one_solid_300000", "assembly_300000"};
    if (bLarge)
        cases.push_back("one_solid_3000000");

    std::printf("Machine: %s, %ld cores online; compiler: %s\n", CpuName().c_str(),
                ::sysconf(_SC_NPROCESSORS_ONLN), __VERSION__);
#ifdef SLP_BENCH_HAVE_ASSIMP
    std::printf("Peer: assimp %s (Debian package), ASCII STL of the same triangles, no post-processing\n",
                SLP_BENCH_ASSIMP_VERSION);
#else
    std::printf("Peer: not measured (assimp was not found when the benchmark was built)\n");
#endif
    std::printf("Medians of %d interleaved rounds, each measurement in its own process.\n\n", nRounds);
    std::printf(
        "| case | loader | file MB | time ms | CPU ms | MB/s | M facets/s | peak RSS MiB | CPU / floor | "
        "CPU per facet / peer | RSS / peer |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);

    const std::string peer = self.substr(0, self.find_last_of('/') + 1) + "slp_bench_assimp";
    std::vector<std::string> notes;
    for (const std::string& name : cases)
    {
        std::vector<CMethod> methods = {{"floor", "floor (from_chars)", ".slp", {}},
                                        {"tokens", "tokens only", ".slp", {}},
                                        {"parse", "CSLPParser::Parse", ".slp", {}}};
#ifdef SLP_BENCH_HAVE_ASSIMP
        methods.push_back({"assimp", "assimp (STL)", ".stl", {}});
#endif
        const std::string base = folder + "/" + name;
        if (FileSize(base + ".slp") <= 0)
        {
            std::fprintf(stderr, "missing %s.slp: run slp_bench_gen %s first\n", base.c_str(),
                         folder.c_str());
            return 1;
        }
        for (int r = 0; r < nRounds; ++r)
            for (CMethod& method : methods)
            {
                CSample sample;
                const bool bPeer = std::strcmp(method.m_pszMode, "assimp") == 0;
                if (!RunChild(bPeer ? peer : self, method.m_pszMode, base + method.m_pszExtension, sample))
                {
                    std::fprintf(stderr, "%s failed on %s%s\n", method.m_pszMode, base.c_str(),
                                 method.m_pszExtension);
                    return 1;
                }
                method.m_Samples.push_back(sample);
            }

        std::vector<double> parseRss;
        for (CMethod& method : methods)
        {
            std::vector<double> seconds;
            std::vector<double> cpu;
            std::vector<long> rss;
            for (const CSample& sample : method.m_Samples)
            {
                seconds.push_back(sample.m_dSeconds);
                cpu.push_back(sample.m_dCpuSeconds);
                rss.push_back(sample.m_nPeakRssKiB);
            }
            method.m_dSeconds = Median(seconds);
            method.m_dCpuSeconds = Median(cpu);
            method.m_nPeakRssKiB = Median(rss);
        }
        const CMethod& floor = methods[0];
        const CMethod& tokens = methods[1];
        const CMethod& parse = methods[2];
        const long long nFacets = parse.m_Samples[0].m_nCount;
        const CMethod* pPeer = methods.size() > 3 ? &methods[3] : nullptr;
        if (pPeer != nullptr && pPeer->m_Samples[0].m_nCount != nFacets)
            notes.push_back(name + ": the peer loaded " + std::to_string(pPeer->m_Samples[0].m_nCount) +
                            " facets, Parse " + std::to_string(nFacets));

        for (const CMethod& method : methods)
        {
            const double dMB = static_cast<double>(FileSize(base + method.m_pszExtension)) / 1e6;
            std::string ratios = " | | | |";
            char sz[128];
            if (&method == &tokens)
            {
                std::snprintf(sz, sizeof(sz), " | %.2f | | |", tokens.m_dCpuSeconds / floor.m_dCpuSeconds);
                ratios = sz;
            }
            else if (&method == &parse)
            {
                if (pPeer != nullptr)
                    std::snprintf(
                        sz, sizeof(sz), " | %.2f | %.2f | %.2f |", parse.m_dCpuSeconds / floor.m_dCpuSeconds,
                        parse.m_dCpuSeconds / static_cast<double>(nFacets) /
                            (pPeer->m_dCpuSeconds / static_cast<double>(pPeer->m_Samples[0].m_nCount)),
                        static_cast<double>(parse.m_nPeakRssKiB) / static_cast<double>(pPeer->m_nPeakRssKiB));
                else
                    std::snprintf(sz, sizeof(sz), " | %.2f | | |", parse.m_dCpuSeconds / floor.m_dCpuSeconds);
                ratios = sz;
            }
            std::printf("| %s | %s | %.1f | %.1f | %.1f | %.0f | %.2f | %.1f%s\n", name.c_str(),
                        method.m_pszLabel, dMB, method.m_dSeconds * 1e3, method.m_dCpuSeconds * 1e3,
                        dMB / method.m_dSeconds, static_cast<double>(nFacets) / method.m_dSeconds / 1e6,
                        static_cast<double>(method.m_nPeakRssKiB) / 1024.0, ratios.c_str());
        }
        std::fflush(stdout);

        std::vector<long> before;
        std::vector<long> loaded;
        for (const CSample& sample : parse.m_Samples)
        {
            before.push_back(sample.m_nRssBeforeKiB);
            loaded.push_back(static_cast<long>(sample.m_nLoadedKiB));
        }
        const double dModelMiB = static_cast<double>(Median(loaded) - Median(before)) / 1024.0;
        const double dPeakMiB = static_cast<double>(parse.m_nPeakRssKiB - Median(before)) / 1024.0;
        char sz[768];
        std::snprintf(sz, sizeof(sz),
                      "%s: Parse made %lld facets (triangle arrays %.1f MiB); resident model %.1f MiB; peak "
                      "above the process before the load %.1f MiB, above the loaded model %.1f MiB; %.1f ns "
                      "(processor: %.1f ns) per facet; the tokenizer took %.0f%% of Parse's processor time",
                      name.c_str(), nFacets,
                      static_cast<double>(nFacets) * static_cast<double>(sizeof(vemoTRex)) / 1048576.0,
                      dModelMiB, dPeakMiB, dPeakMiB - dModelMiB,
                      parse.m_dSeconds / static_cast<double>(nFacets) * 1e9,
                      parse.m_dCpuSeconds / static_cast<double>(nFacets) * 1e9,
                      100.0 * tokens.m_dCpuSeconds / parse.m_dCpuSeconds);
        notes.push_back(sz);
    }
    std::printf("\n");
    for (const std::string& note : notes)
        std::printf("%s\n", note.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0)
    {
        const std::string mode = argv[2];
        if (mode == "floor")
            return MeasureFloor(argv[3]);
        if (mode == "parse")
            return MeasureParse(argv[3]);
        if (mode == "tokens")
            return MeasureTokens(argv[3]);
        return 2;
    }
    if (argc < 2 || argv[1][0] == '-')
    {
        std::fprintf(stderr, "usage: %s FOLDER [--rounds N] [--large]\n", argv[0]);
        return 2;
    }
    int nRounds = 5;
    bool bLarge = false;
    for (int i = 2; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            nRounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--large") == 0)
            bLarge = true;
        else
        {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    // The children are this very program however it was started, and the peer's program beside it.
    char szSelf[4096];
    const ssize_t nSelf = ::readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    if (nSelf <= 0)
        return 1;
    return RunBenchmark(std::string(szSelf, static_cast<std::size_t>(nSelf)), argv[1], nRounds, bLarge);
}
