// The driving side of the load benchmark: running measuring processes and whole programs, each in a
// process of its own, and what their figures are made into.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace slp_bench
{

// What a measuring process printed (Measure.h), with its peak resident memory from wait4.
struct CSample
{
    double m_dSeconds = 0.0;
    long long m_nCount = 0;
    long long m_nLoadedKiB = 0;
    long m_nRssBeforeKiB = 0;
    long m_nPeakRssKiB = 0;
    double m_dCpuSeconds = 0.0;
    double m_dThreadCpuSeconds = 0.0;
};

// Runs a measuring process (argv[0] is the program's path) and reads its line; false when it could not
// be started, failed, or printed no such line. Its error output is this program's.
bool RunMeasure(const std::vector<std::string>& argv, CSample& sample);

// A whole program's run, as wait4 tells it: elapsed time (from the fork to the wait), processor time of
// the process and its threads (user and system), peak resident memory, exit status.
struct CProcessRun
{
    double m_dSeconds = 0.0;
    double m_dCpuSeconds = 0.0;
    long m_nPeakRssKiB = 0;
    int m_nExitStatus = -1; // -1 when it did not exit normally
};

// Runs a program with its standard input and error on /dev/null and its output into pOutput (or onto
// /dev/null when null); false when it could not be started.
bool RunProcess(const std::vector<std::string>& argv, CProcessRun& run, std::string* pOutput = nullptr);

template <class T> T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of one member of items: MedianOf(runs, &CProcessRun::m_dSeconds).
template <class Item, class T> T MedianOf(const std::vector<Item>& items, T Item::*pMember)
{
    std::vector<T> values;
    values.reserve(items.size());
    for (const Item& item : items)
        values.push_back(item.*pMember);
    return Median(std::move(values));
}

long long FileSize(const std::string& path);

// The whole-program table (ProgramBench.cpp): PROGRAM's info, check and convert on each case's .slp
// file, and a batch conversion of copies of the 300,000-facet file.
int RunProgramBenchmark(const std::string& program, const std::string& folder,
                        const std::vector<std::string>& cases, int nRounds);

} // namespace slp_bench
