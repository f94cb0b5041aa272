// Running the measuring processes and whole programs of the load benchmark (Driver.h).
#include "Driver.h"

#include "Measure.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace slp_bench
{

namespace
{

// Forks and runs argv with its output into a pipe (when bCapture) or onto /dev/null, its input on
// /dev/null and its error output on this process's (when bShowErrors) or on /dev/null; collects what it
// wrote and waits for it.
bool Run(const std::vector<std::string>& argv, bool bCapture, bool bShowErrors, std::string& output,
         int& nStatus, struct rusage& usage, double& dSeconds)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int aPipe[2] = {-1, -1};
    if (bCapture && ::pipe(aPipe) != 0)
        return false;
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        if (bCapture)
        {
            ::close(aPipe[0]);
            ::close(aPipe[1]);
        }
        return false;
    }
    if (pid == 0)
    {
        const int nNull = ::open("/dev/null", O_RDWR);
        ::dup2(nNull, STDIN_FILENO);
        if (!bShowErrors)
            ::dup2(nNull, STDERR_FILENO);
        if (bCapture)
        {
            ::dup2(aPipe[1], STDOUT_FILENO);
            ::close(aPipe[0]);
            ::close(aPipe[1]);
        }
        else
            ::dup2(nNull, STDOUT_FILENO);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    if (bCapture)
    {
        ::close(aPipe[1]);
        char sz[256];
        ssize_t n;
        while ((n = ::read(aPipe[0], sz, sizeof(sz))) > 0 || (n < 0 && errno == EINTR))
            if (n > 0)
                output.append(sz, static_cast<std::size_t>(n));
        ::close(aPipe[0]);
    }
    while (::wait4(pid, &nStatus, 0, &usage) < 0)
        if (errno != EINTR)
            return false;
    dSeconds = SecondsSince(start);
    return true;
}

double Seconds(const struct timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

} // namespace

bool RunMeasure(const std::vector<std::string>& argv, CSample& sample)
{
    std::string output;
    int nStatus = 0;
    struct rusage usage;
    double dSeconds = 0.0;
    if (!Run(argv, true, true, output, nStatus, usage, dSeconds) || !WIFEXITED(nStatus) ||
        WEXITSTATUS(nStatus) != 0)
        return false;
    double dCheck = 0.0;
    if (std::sscanf(output.c_str(), "%lf %lld %lf %lld %ld %lf %lf", &sample.m_dSeconds, &sample.m_nCount,
                    &dCheck, &sample.m_nLoadedKiB, &sample.m_nRssBeforeKiB, &sample.m_dCpuSeconds,
                    &sample.m_dThreadCpuSeconds) != 7)
        return false;
    sample.m_nPeakRssKiB = usage.ru_maxrss;
    return true;
}

bool RunProcess(const std::vector<std::string>& argv, CProcessRun& run, std::string* pOutput)
{
    std::string output;
    int nStatus = 0;
    struct rusage usage;
    if (!Run(argv, pOutput != nullptr, false, output, nStatus, usage, run.m_dSeconds))
        return false;
    run.m_dCpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.m_nPeakRssKiB = usage.ru_maxrss;
    run.m_nExitStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    if (pOutput != nullptr)
        *pOutput = output;
    return true;
}

long long FileSize(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

} // namespace slp_bench
