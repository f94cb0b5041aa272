#include "model/VemoTypes.h"

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
