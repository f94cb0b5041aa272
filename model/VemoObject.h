/// \file
/// Objects of the geometry kernel: the base of everything a group holds, and the triangle mesh.
#pragma once

#include "model/Export.h"
#include "model/VemoTypes.h"

#include <cstddef>

class vemoBaseGroup;

/// The base of every object a group holds. An object is held by at most one group at a time.
/// Objects are not copyable.
class KARN_API vemoBaseObject
{
public:
    /// An object in no group, with an empty box.
    vemoBaseObject();
    /// Destroying an object that a group still holds takes it out of that group first (in time linear
    /// in the group's object count), so the group never holds a dangling pointer. Never throws.
    virtual ~vemoBaseObject();

    vemoBaseObject(const vemoBaseObject&) = delete;
    vemoBaseObject& operator=(const vemoBaseObject&) = delete;

    /// The object's box; the reference stays valid while the object lives.
    const vemoBBox& GetBBox() const { return m_BBox; }
    /// The group that holds this object, or null.
    vemoBaseGroup* GetOwnerGroup() const { return m_pOwnerGroup; }

protected:
    vemoBBox m_BBox;

private:
    friend class vemoBaseGroup;

    vemoBaseGroup* m_pOwnerGroup;
};

/// A triangle mesh. The triangle array is allocated by the caller with new[] and stored in
/// m_pTriangles together with its length in m_nTriangleCount; from then on the mesh owns it and frees
/// it with delete[] when it is destroyed. A caller that replaces the array frees the old one itself.
class KARN_API vemoSTL : public vemoBaseObject
{
public:
    /// No triangles (count 0, null array), decimation magnitude 0.
    vemoSTL();
    ~vemoSTL() override;

    /// Stores the decimation magnitude as given (this kernel keeps it for hosts and does not decimate).
    void SetDecimationMagnitude(double dMagnitude) { m_dDecimationMagnitude = dMagnitude; }
    double GetDecimationMagnitude() const { return m_dDecimationMagnitude; }

    /// Recomputes the box from every vertex of the first m_nTriangleCount triangles; a null array or a
    /// count of 0 or less gives the empty box. Vertices with a NaN coordinate are left out. Never throws.
    void ComputeBBoxFromPoints();
    /// The box of the vertices of nCount triangles from pTriangles, as ComputeBBoxFromPoints makes it:
    /// the boxes of consecutive parts of an array, each Update-d into the one before in order, give the
    /// box of the whole (for a box computed in parts on several threads). Never throws.
    static vemoBBox BoxOfTriangles(const vemoTRex* pTriangles, size_t nCount);
    /// Sets the box, for one computed in parts (BoxOfTriangles).
    void SetBBox(const vemoBBox& box) { m_BBox = box; }

    int m_nTriangleCount;
    vemoTRex* m_pTriangles;

private:
    double m_dDecimationMagnitude;
};
