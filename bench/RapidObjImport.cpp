// slp_bench_rapidobj: rapidobj, a multi-threaded OBJ loader, as a peer of the load benchmark, run by
// slp_bench as
//
//   slp_bench_rapidobj --measure rapidobj FILE THREADS
//
// It reads FILE (the OBJ triangle soup of a case) with rapidobj::ParseFile and prints the line of a
// measuring process (Measure.h) with the faces it made. A program of its own, so that its memory is its
// own; the header comes from the folder SLP_BENCH_PEERS_DIR names and is not part of this repository.
//
// rapidobj takes no thread count: it reads as many threads as std::thread::hardware_concurrency() gives,
// for its parse, its merge and its triangulation. This program is linked with
// -Wl,--wrap=_ZNSt6thread20hardware_concurrencyEv, so those calls come here instead and get THREADS
// (0: the machine's count, which the wrapped function still gives). It checks that the answer was asked
// for at least once, so that a library that stops asking (or a build without the wrap) fails the
// measurement instead of measuring another thread count than the row says.
#include <rapidobj.hpp>

#include "Measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
unsigned g_nThreads = 0;
int g_nAsked = 0;
} // namespace

extern "C" unsigned __real__ZNSt6thread20hardware_concurrencyEv();

// std::thread::hardware_concurrency() as rapidobj sees it (the link's --wrap).
extern "C" unsigned __wrap__ZNSt6thread20hardware_concurrencyEv()
{
    ++g_nAsked;
    return g_nThreads != 0 ? g_nThreads : __real__ZNSt6thread20hardware_concurrencyEv();
}

int main(int argc, char** argv)
{
    if (argc != 5 || std::strcmp(argv[1], "--measure") != 0 || std::strcmp(argv[2], "rapidobj") != 0)
    {
        std::fprintf(stderr, "usage: %s --measure rapidobj FILE THREADS\n", argv[0]);
        return 2;
    }
    g_nThreads = static_cast<unsigned>(std::max(0, std::atoi(argv[4])));
    long long nFaces = 0;
    double dCheck = 0.0;
    slp_bench::CStopwatch watch;
    {
        // The result is destroyed after the timing, as Parse's world is.
        watch = slp_bench::CStopwatch();
        rapidobj::Result result = rapidobj::ParseFile(argv[3], rapidobj::MaterialLibrary::Ignore());
        watch.Stop();
        if (result.error)
        {
            std::fprintf(stderr, "rapidobj: %s (line %zu)\n", result.error.code.message().c_str(),
                         result.error.line_num);
            return 1;
        }
        for (const rapidobj::Shape& shape : result.shapes)
            nFaces += static_cast<long long>(shape.mesh.num_face_vertices.size());
        if (result.attributes.positions.size() > 0)
            dCheck = static_cast<double>(result.attributes.positions[0]);
    }
    if (g_nAsked == 0)
    {
        std::fprintf(stderr, "rapidobj: the thread count was never asked for; the measurement would not "
                             "be of the threads requested\n");
        return 1;
    }
    slp_bench::PrintMeasurement(watch, nFaces, dCheck, 0, 0);
    return 0;
}
