#include "model/VemoObject.h"

#include "model/VemoGroup.h"

vemoBaseObject::vemoBaseObject() : m_pOwnerGroup(nullptr) {}

vemoBaseObject::~vemoBaseObject()
{
    // Deleted directly while a group still lists it: leave no dangling pointer behind. A group that
    // destroys its own objects clears this link first.
    if (m_pOwnerGroup != nullptr)
        m_pOwnerGroup->ForgetObject(this);
}

vemoSTL::vemoSTL() : m_nTriangleCount(0), m_pTriangles(nullptr), m_dDecimationMagnitude(0.0) {}

vemoSTL::~vemoSTL()
{
    delete[] m_pTriangles;
}

void vemoSTL::ComputeBBoxFromPoints()
{
    m_BBox = m_pTriangles != nullptr && m_nTriangleCount > 0
                 ? BoxOfTriangles(m_pTriangles, static_cast<size_t>(m_nTriangleCount))
                 : vemoBBox();
}

vemoBBox vemoSTL::BoxOfTriangles(const vemoTRex* pTriangles, size_t nCount)
{
    // Grown in a local box, which stays in registers while the triangles' vertices are read.
    vemoBBox box;
    for (size_t i = 0; i < nCount; ++i)
    {
        const vemoTRex& triangle = pTriangles[i];
        box.Update(triangle.m_Vertex[0]);
        box.Update(triangle.m_Vertex[1]);
        box.Update(triangle.m_Vertex[2]);
    }
    return box;
}
