/// \file
/// Value types of the geometry kernel: points, vectors, colours, axis-aligned boxes, owned wide texts,
/// materials, material records and triangles.
///
/// All of them are plain values with copy semantics. None of them throws except vemoWRope, whose
/// constructors and assignment allocate with the throwing allocation (std::bad_alloc).
#pragma once

#include "foundation/Platform.h"
#include "model/Export.h"

#include <cstddef>
#include <new>
#include <string>

/// A yes/no flag as the kernel passes it: 0 is no, any other value is yes.
typedef int vemoBool;

/// A position in model space.
///
/// Points made with new come from storage of the model library that holds them without per-item
/// overhead (CKarnList keeps its point items there); delete gives them back. Any point made with new
/// may be handed to a point list, whose handler frees it, and a point a list made may be freed with
/// delete once it has left the list. Arrays (new[]) and points in other storage are ordinary objects.
struct KARN_API vemoFloatPoint
{
    /// The origin (0, 0, 0).
    vemoFloatPoint() : x(0.0f), y(0.0f), z(0.0f) {}
    vemoFloatPoint(float fX, float fY, float fZ) : x(fX), y(fY), z(fZ) {}

    /// The item storage; the plain form throws std::bad_alloc, the nothrow form returns null.
    static void* operator new(std::size_t nSize);
    static void* operator new(std::size_t nSize, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t, void* pPlace) noexcept { return pPlace; }
    static void operator delete(void* pItem, std::size_t nSize) noexcept;
    static void operator delete(void*, void*) noexcept {}

    float x, y, z;
};

/// A direction in model space (not necessarily of unit length); the same layout as vemoFloatPoint, and
/// made with new from the same storage.
struct KARN_API vemoVector
{
    /// The null vector (0, 0, 0).
    vemoVector() : x(0.0f), y(0.0f), z(0.0f) {}
    vemoVector(float fX, float fY, float fZ) : x(fX), y(fY), z(fZ) {}

    static void* operator new(std::size_t nSize);
    static void* operator new(std::size_t nSize, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t, void* pPlace) noexcept { return pPlace; }
    static void operator delete(void* pItem, std::size_t nSize) noexcept;
    static void operator delete(void*, void*) noexcept {}

    float x, y, z;
};

/// A colour with opacity, each channel nominally in [0, 1]; values are stored as given, never clamped.
struct KARN_API vemoChroma
{
    /// Opaque black: (0, 0, 0, 1).
    vemoChroma() : red(0.0f), green(0.0f), blue(0.0f), alpha(1.0f) {}
    vemoChroma(float fRed, float fGreen, float fBlue, float fAlpha)
        : red(fRed), green(fGreen), blue(fBlue), alpha(fAlpha)
    {
    }

    float red, green, blue, alpha;
};

/// An axis-aligned box that is either empty or encloses every point and box it was updated with.
/// A new box is empty. An empty box reports (0, 0, 0) as both its minimum and its maximum.
class KARN_API vemoBBox
{
public:
    vemoBBox();

    /// Empties the box.
    void Reset();
    /// Grows this box to enclose the other one; an empty other box changes nothing.
    void Update(const vemoBBox& other);
    /// Grows this box to enclose the point. A point with a NaN coordinate is ignored (the box cannot
    /// enclose it); infinite coordinates are taken as they are. Inline: meshes call it per vertex.
    void Update(const vemoFloatPoint& point)
    {
        // A NaN would make every later comparison false and leave the box neither growing nor
        // consistent (a NaN is the only value that differs from itself).
        if (point.x != point.x || point.y != point.y || point.z != point.z)
            return;
        if (m_bEmpty)
        {
            m_Min = point;
            m_Max = point;
            m_bEmpty = false;
            return;
        }
        // Plain comparisons (neither side is a NaN here), which compile to min and max instructions.
        m_Min.x = point.x < m_Min.x ? point.x : m_Min.x;
        m_Min.y = point.y < m_Min.y ? point.y : m_Min.y;
        m_Min.z = point.z < m_Min.z ? point.z : m_Min.z;
        m_Max.x = point.x > m_Max.x ? point.x : m_Max.x;
        m_Max.y = point.y > m_Max.y ? point.y : m_Max.y;
        m_Max.z = point.z > m_Max.z ? point.z : m_Max.z;
    }

    bool IsEmpty() const { return m_bEmpty; }
    /// The corner with the smallest coordinates; (0, 0, 0) for an empty box.
    const vemoFloatPoint& GetMin() const { return m_Min; }
    /// The corner with the largest coordinates; (0, 0, 0) for an empty box.
    const vemoFloatPoint& GetMax() const { return m_Max; }

private:
    vemoFloatPoint m_Min;
    vemoFloatPoint m_Max;
    bool m_bEmpty;
};

/// An owned copy of a NUL-terminated text of 16-bit code units (a group name, for instance).
class KARN_API vemoWRope
{
public:
    /// The empty text.
    vemoWRope();
    /// Copies the text up to its terminating NUL; a null pointer gives the empty text. Throws
    /// std::bad_alloc when the copy cannot be allocated.
    vemoWRope(const WideChar* pszText);
    vemoWRope(const vemoWRope& other);
    vemoWRope& operator=(const vemoWRope& other);
    ~vemoWRope();

    /// The text, NUL-terminated; never null, valid until this object is changed or destroyed.
    const WideChar* GetText() const { return m_Text.c_str(); }
    /// The number of code units before the terminating NUL.
    int GetLength() const { return static_cast<int>(m_Text.size()); }
    bool IsEmpty() const { return m_Text.empty(); }

private:
    std::basic_string<WideChar> m_Text;
};

/// Surface properties of a mesh. A new material has opaque black (vemoChroma()) as diffuse colour and
/// a shininess of 0. Values are stored as given.
class KARN_API vemoMaterial
{
public:
    vemoMaterial();

    void SetDiffuse(const vemoChroma& diffuse) { m_Diffuse = diffuse; }
    const vemoChroma& GetDiffuse() const { return m_Diffuse; }
    /// The specular exponent, nominally in [0, 128].
    void SetShininess(float fShininess) { m_fShininess = fShininess; }
    float GetShininess() const { return m_fShininess; }

private:
    vemoChroma m_Diffuse;
    float m_fShininess;
};

/// The material record of a mesh object: the material of the front faces, the material of the back
/// faces, and how they apply (m_nMode): 0 front faces only, 1 the front material on both sides, 2 each
/// side its own material; other values are stored as given and mean nothing to this kernel. A new
/// record has two default materials and mode 0.
struct KARN_API vemoMatProps
{
    vemoMatProps() : m_nMode(0) {}

    vemoMaterial m_Front;
    vemoMaterial m_Back;
    int m_nMode;
};

/// One triangle: three vertices, then the normal at each vertex, in the same order. A new triangle has
/// all six at (0, 0, 0).
struct KARN_API vemoTRex
{
    vemoFloatPoint m_Vertex[3];
    vemoVector m_Normal[3];
};
