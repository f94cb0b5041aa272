// slp_bench_assimp: the peer loader of the load benchmark, run by slp_bench as
//
//   slp_bench_assimp --measure assimp FILE
//
// It imports FILE (the ASCII STL file of a case) with assimp and no post-processing, and prints what a
// measuring process of slp_bench prints: the seconds the import took, the facets it made, three
// zeros and the processor seconds of the import. A program of its own, so that the assimp libraries are not
// in the memory figures of the other loaders.
#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--measure") != 0 || std::strcmp(argv[2], "assimp") != 0)
    {
        std::fprintf(stderr, "usage: %s --measure assimp FILE\n", argv[0]);
        return 2;
    }
    long long nFacets = 0;
    double dSeconds;
    double dCpu;
    {
        // The importer, and the scene it owns, are destroyed after the timing, as Parse's world is.
        Assimp::Importer importer;
        struct timespec cpuStart, cpuEnd;
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
        const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        const aiScene* pScene = importer.ReadFile(argv[3], 0);
        dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
        dCpu = static_cast<double>(cpuEnd.tv_sec - cpuStart.tv_sec) +
               static_cast<double>(cpuEnd.tv_nsec - cpuStart.tv_nsec) * 1e-9;
        if (pScene == nullptr)
        {
            std::fprintf(stderr, "assimp: %s\n", importer.GetErrorString());
            return 1;
        }
        for (unsigned int i = 0; i < pScene->mNumMeshes; ++i)
            nFacets += pScene->mMeshes[i]->mNumFaces;
    }
    std::printf("%.9f %lld 0 0 0 %.9f\n", dSeconds, nFacets, dCpu);
    return 0;
}
