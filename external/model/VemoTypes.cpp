#include "external/model/VemoTypes.h"

#include <cmath>

vemoBBox::vemoBBox() : m_bEmpty(true) {}

void vemoBBox::Reset()
{
    m_Min = vemoFloatPoint();
    m_Max = vemoFloatPoint();
    m_bEmpty = true;
}

void vemoBBox::Update(const vemoBBox& other)
{
    if (other.m_bEmpty)
        return;
    if (m_bEmpty)
    {
        *this = other;
        return;
    }
    m_Min.x = std::fmin(m_Min.x, other.m_Min.x);
    m_Min.y = std::fmin(m_Min.y, other.m_Min.y);
    m_Min.z = std::fmin(m_Min.z, other.m_Min.z);
    m_Max.x = std::fmax(m_Max.x, other.m_Max.x);
    m_Max.y = std::fmax(m_Max.y, other.m_Max.y);
    m_Max.z = std::fmax(m_Max.z, other.m_Max.z);
}

void vemoBBox::Update(const vemoFloatPoint& point)
{
    // A NaN would make every later comparison false and leave the box neither growing nor consistent.
    if (std::isnan(point.x) || std::isnan(point.y) || std::isnan(point.z))
        return;
    if (m_bEmpty)
    {
        m_Min = point;
        m_Max = point;
        m_bEmpty = false;
        return;
    }
    // Plain comparisons (neither side is a NaN here), which compile to min and max instructions where
    // fmin and fmax would be calls of the maths library.
    m_Min.x = point.x < m_Min.x ? point.x : m_Min.x;
    m_Min.y = point.y < m_Min.y ? point.y : m_Min.y;
    m_Min.z = point.z < m_Min.z ? point.z : m_Min.z;
    m_Max.x = point.x > m_Max.x ? point.x : m_Max.x;
    m_Max.y = point.y > m_Max.y ? point.y : m_Max.y;
    m_Max.z = point.z > m_Max.z ? point.z : m_Max.z;
}

vemoWRope::vemoWRope() = default;

vemoWRope::vemoWRope(const WideChar* pszText)
{
    if (pszText != nullptr)
        m_Text = pszText;
}

vemoWRope::vemoWRope(const vemoWRope& other) = default;

vemoWRope& vemoWRope::operator=(const vemoWRope& other) = default;

vemoWRope::~vemoWRope() = default;

vemoMaterial::vemoMaterial() : m_fShininess(0.0f) {}
