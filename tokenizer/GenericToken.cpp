#include "tokenizer/GenericToken.h"

#include <cstring>
#include <stdexcept>

CGenericToken::CGenericToken()
    : m_eDataType(GenericTokenNone), m_nUserDefinedType(0), m_dNumericValue(0.0), m_bBooleanValue(false),
      m_nEndOffset(0), m_nLine(0), m_nColumn(0), m_pText(m_szInline), m_nLength(0),
      m_nCapacity(InlineCapacity)
{
    // All of it, not only the first byte: number conversion and keyword matching read whole words of
    // the buffer past the text (and ignore those bytes).
    std::memset(m_szInline, 0, sizeof(m_szInline));
}

CGenericToken::CGenericToken(const CGenericToken& other) : CGenericToken()
{
    *this = other;
}

CGenericToken& CGenericToken::operator=(const CGenericToken& other)
{
    if (this == &other)
        return *this;
    Reserve(other.m_nLength);
    std::memcpy(m_pText, other.m_pText, other.m_nLength + 1);
    m_nLength = other.m_nLength;
    m_eDataType = other.m_eDataType;
    m_nUserDefinedType = other.m_nUserDefinedType;
    m_dNumericValue = other.m_dNumericValue;
    m_bBooleanValue = other.m_bBooleanValue;
    m_nEndOffset = other.m_nEndOffset;
    m_nLine = other.m_nLine;
    m_nColumn = other.m_nColumn;
    return *this;
}

CGenericToken::~CGenericToken()
{
    if (m_pText != m_szInline)
        delete[] m_pText;
}

void CGenericToken::Clear()
{
    m_eDataType = GenericTokenNone;
    m_nUserDefinedType = 0;
    m_dNumericValue = 0.0;
    m_bBooleanValue = false;
    m_nEndOffset = 0;
    m_nLine = 0;
    m_nColumn = 0;
    m_nLength = 0;
    m_pText[0] = '\0';
}

void CGenericToken::Reserve(size_t nNeeded)
{
    if (nNeeded < m_nCapacity)
        return;
    if (nNeeded >= static_cast<size_t>(-1) / 2)
        throw std::length_error("token too long");
    size_t nNewCapacity = m_nCapacity * 2;
    if (nNewCapacity < nNeeded + 1)
        nNewCapacity = nNeeded + 1;
    char* pNew = new char[nNewCapacity]();
    std::memcpy(pNew, m_pText, m_nLength + 1);
    if (m_pText != m_szInline)
        delete[] m_pText;
    m_pText = pNew;
    m_nCapacity = nNewCapacity;
}
