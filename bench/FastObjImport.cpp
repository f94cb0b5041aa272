// slp_bench_fast_obj: fast_obj, a single-threaded OBJ loader, as a peer of the load benchmark, run by
// slp_bench as
//
//   slp_bench_fast_obj --measure fast_obj FILE
//
// It reads FILE (the OBJ triangle soup of a case) with fast_obj_read and prints the line of a measuring
// process (Measure.h) with the faces it made. A program of its own, so that its memory is its own; the
// header comes from the folder SLP_BENCH_PEERS_DIR names and is not part of this repository.
#define FAST_OBJ_IMPLEMENTATION
#include <fast_obj.h>

#include "Measure.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--measure") != 0 || std::strcmp(argv[2], "fast_obj") != 0)
    {
        std::fprintf(stderr, "usage: %s --measure fast_obj FILE\n", argv[0]);
        return 2;
    }
    slp_bench::CStopwatch watch;
    fastObjMesh* pMesh = fast_obj_read(argv[3]);
    watch.Stop();
    if (pMesh == nullptr)
    {
        std::fprintf(stderr, "fast_obj: cannot read %s\n", argv[3]);
        return 1;
    }
    // The faces, and the first vertex's x as a check that the numbers were read.
    const long long nFaces = pMesh->face_count;
    const double dCheck = pMesh->position_count > 1 ? static_cast<double>(pMesh->positions[3]) : 0.0;
    // Destroyed after the timing, as Parse's world is.
    fast_obj_destroy(pMesh);
    slp_bench::PrintMeasurement(watch, nFaces, dCheck, 0, 0);
    return 0;
}
