// What every measuring process of the load benchmark shares (slp_bench in a measuring mode and the peer
// programs beside it): its clocks and the one line it prints for slp_bench to read.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>

namespace slp_bench
{

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double ClockSeconds(clockid_t clock)
{
    struct timespec now;
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The processor time of this process so far, every thread's, in seconds: unlike the elapsed time, it
// does not grow while other programs of a busy machine have the processor.
inline double CpuSeconds()
{
    return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

// The processor time of the calling thread alone.
inline double ThreadCpuSeconds()
{
    return ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

// Times one measured part: elapsed, the process's and the calling thread's processor time.
class CStopwatch
{
public:
    CStopwatch() : m_dCpu(CpuSeconds()), m_dThreadCpu(ThreadCpuSeconds()), m_Start(Clock::now()) {}
    void Stop()
    {
        m_dSeconds = SecondsSince(m_Start);
        m_dCpu = CpuSeconds() - m_dCpu;
        m_dThreadCpu = ThreadCpuSeconds() - m_dThreadCpu;
    }
    double Seconds() const { return m_dSeconds; }
    double Cpu() const { return m_dCpu; }
    double ThreadCpu() const { return m_dThreadCpu; }

private:
    double m_dCpu;
    double m_dThreadCpu;
    Clock::time_point m_Start;
    double m_dSeconds = 0.0;
};

// The line a measuring process prints: elapsed seconds, the count it made (facets, numbers, tokens or
// bytes), a check value, the resident memory with the result loaded and the peak resident memory before
// the load (KiB; 0 and 0 where not measured), the processor seconds of the measured part, every
// thread's, and those of the calling thread alone.
inline void PrintMeasurement(const CStopwatch& watch, long long nCount, double dCheck, long long nLoadedKiB,
                             long nBeforeKiB)
{
    std::printf("%.9f %lld %.6g %lld %ld %.9f %.9f\n", watch.Seconds(), nCount, dCheck, nLoadedKiB,
                nBeforeKiB, watch.Cpu(), watch.ThreadCpu());
}

} // namespace slp_bench
