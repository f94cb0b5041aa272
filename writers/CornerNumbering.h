// The vertices of meshes merged on several threads: each mesh's corners numbered by vertex record in
// order of first appearance, exactly as a CVertexIndex given them one by one numbers them, whatever the
// number of threads. Internal to the writers library.
#pragma once

#include "writers/ModelWalk.h"
#include "writers/PartRunner.h"

#include <cstdint>
#include <functional>
#include <vector>

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
    // The box of the vertices' positions where they are finite (of equal values, -0 and 0, the first
    // in vertex order; min +inf and max -inf for a mesh without vertices).
    float m_aMin[3];
    float m_aMax[3];
};

// Fills the records of a triangle's three corners; false leaves the triangle out. Called on any of the
// threads, for any triangle, in any order.
using CornerFill = std::function<bool(const vemoTRex& triangle, CVertexRecord* pCorners)>;

// Where the numbers of a mesh's corners go: room for 3 per triangle, which the caller keeps.
using CornerIdPlace = std::function<std::uint32_t*(const vemoSTL& mesh)>;

// Walks the exported meshes of the groups in order: fills their corners' records and numbers them (into
// place's room, where it is given), and calls visit with each mesh (the progress advanced by its triangles
// before). A mesh of 32,768 triangles and more is numbered on the runner's threads, smaller ones on the
// calling thread, where visit runs. False, at once, when visit returns false, or when a mesh has more corners
// than MaxIndexedVertices (it is not visited). Memory: 28 bytes per corner of the largest mesh numbered on
// the calling thread, and 36 per corner of the largest numbered on several threads (with a table of up to 32
// per corner of the bucket that each thread indexes); 4 fewer where place gives the numbers their room.
// Throws std::bad_alloc only, besides what fill, visit and place throw.
bool NumberMeshes(const std::vector<const vemoBaseGroup*>& groups, CPartRunner& runner,
                  const CornerFill& fill, const std::function<bool(const CNumberedMesh&)>& visit,
                  CExportProgress& progress, const CornerIdPlace& place = CornerIdPlace());
