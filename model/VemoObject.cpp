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
    // Grown in a local box, which stays in registers while the triangles' vertices are read.
    vemoBBox box;
    for (int i = 0; m_pTriangles != nullptr && i < m_nTriangleCount; ++i)
    {
        const vemoTRex& triangle = m_pTriangles[i];
        box.Update(triangle.m_Vertex[0]);
        box.Update(triangle.m_Vertex[1]);
        box.Update(triangle.m_Vertex[2]);
    }
    m_BBox = box;
}
