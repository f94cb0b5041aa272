// The vertices of meshes merged on several threads: each mesh's corners numbered by vertex record in
// order of first appearance, exactly as a CVertexIndex given them one by one numbers them, whatever the
// number of threads. Internal to the writers library.
#pragma once

#include "writers/ModelWalk.h"

#include <cstdint>
#include <functional>
#include <vector>

// Runs work(nPart) for each part in [0, nParts) on up to nThreads threads, the calling thread among them,
// and returns when every part is done. Parts start in order. The first exception that work throws is
// thrown here once the other threads have stopped (parts not started by then are left). Threads that
// cannot be started leave their share to the others. Throws std::bad_alloc only, besides work's own.
void RunParts(int nThreads, size_t nParts, const std::function<void(size_t)>& work);

// The threads an export of nTriangles triangles uses: the options' count, or for 0 the processor's cores
// when there are enough triangles to gain from them, else 1; at most 64 (1 in a build without threads).
int ExportThreadCount(const CExportOptions& options, unsigned long long nTriangles);

// The number of a corner that a writer leaves out.
constexpr std::uint32_t NotNumbered = 0xFFFFFFFFu;

// One mesh with its corners numbered, 3 per triangle in order.
struct CNumberedMesh
{
    size_t m_nGroup; // its group's position in the list walked
    const vemoBaseGroup* m_pGroup;
    int m_nObject;
    const vemoSTL* m_pMesh;
    const std::uint32_t* m_pIds;      // each corner's vertex number, or NotNumbered for a corner left out
    const CVertexRecord* m_pVertices; // the distinct records in the order of their numbers
    std::uint32_t m_nVertices;
};

// Fills the records of a triangle's three corners; false leaves the triangle out. Called on any of the
// threads, for any triangle, in any order.
using CornerFill = std::function<bool(const vemoTRex& triangle, CVertexRecord* pCorners)>;

// Walks the exported meshes of the groups in order: fills their corners' records and numbers them on up
// to nThreads threads, a window of meshes at a time (several meshes at once, each on one thread, and a
// large mesh on every thread), and calls visit with each mesh in order on the calling thread (the
// progress advanced by its triangles before). False, at once, when visit returns false, or when a mesh
// has more corners than MaxIndexedVertices (nothing of it is visited; *pTooLarge is set). Memory: 28
// bytes per corner of a window, which holds the largest mesh or about 1 M corners, and 32 more per
// corner of a large mesh on several threads. Throws std::bad_alloc only, besides what fill and visit
// throw.
bool NumberMeshes(const std::vector<const vemoBaseGroup*>& groups, int nThreads, const CornerFill& fill,
                  const std::function<bool(const CNumberedMesh&)>& visit, CExportProgress& progress,
                  bool* pTooLarge = nullptr);
