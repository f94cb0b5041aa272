// slp_bench_assimp: the STL peer loader of the load benchmark, run by slp_bench as
//
//   slp_bench_assimp --measure assimp FILE
//
// It imports FILE (the ASCII STL file of a case) with assimp and no post-processing, and prints the line
// of a measuring process (Measure.h) with the facets it made. A program of its own, so that the assimp
// libraries are not in the memory figures of the other loaders.
#include "Measure.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--measure") != 0 || std::strcmp(argv[2], "assimp") != 0)
    {
        std::fprintf(stderr, "usage: %s --measure assimp FILE\n", argv[0]);
        return 2;
    }
    long long nFacets = 0;
    slp_bench::CStopwatch watch;
    {
        // The importer, and the scene it owns, are destroyed after the timing, as Parse's world is.
        Assimp::Importer importer;
        watch = slp_bench::CStopwatch();
        const aiScene* pScene = importer.ReadFile(argv[3], 0);
        watch.Stop();
        if (pScene == nullptr)
        {
            std::fprintf(stderr, "assimp: %s\n", importer.GetErrorString());
            return 1;
        }
        for (unsigned int i = 0; i < pScene->mNumMeshes; ++i)
            nFacets += pScene->mMeshes[i]->mNumFaces;
    }
    slp_bench::PrintMeasurement(watch, nFacets, 0.0, 0, 0);
    return 0;
}
