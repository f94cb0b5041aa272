#include "writers/VertexIndex.h"

#include <algorithm>
#include <cstring>

CVertexIndex::CVertexIndex() : m_Slots(64, 0), m_nMask(63) {}

void CVertexIndex::Clear()
{
    // Clearing costs at most a constant per record of the last mesh: a table much larger than that
    // (left by a big mesh) is replaced by a small one rather than zeroed for every small mesh after it.
    if (m_Slots.size() > 8 * m_Records.size() + 64)
    {
        std::vector<std::uint32_t>(64, 0u).swap(m_Slots);
        m_nMask = 63;
    }
    else
        std::fill(m_Slots.begin(), m_Slots.end(), 0u);
    m_Records.clear();
}

std::uint64_t CVertexIndex::Hash(const CVertexRecord& record)
{
    std::uint64_t aWords[3];
    std::memcpy(aWords, record.m_aValues, sizeof(aWords));
    std::uint64_t h = aWords[0] * 0x9E3779B97F4A7C15ull;
    h ^= aWords[1] + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
    h ^= aWords[2] + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
    // Final avalanche, so that the low bits used as the slot depend on every input bit.
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

std::uint32_t CVertexIndex::Add(const CVertexRecord& record)
{
    // Keep the table at most half full, so probe runs stay short.
    if ((m_Records.size() + 1) * 2 > m_Slots.size())
        Grow();
    for (size_t nSlot = static_cast<size_t>(Hash(record)) & m_nMask;; nSlot = (nSlot + 1) & m_nMask)
    {
        const std::uint32_t nEntry = m_Slots[nSlot];
        if (nEntry == 0)
        {
            m_Records.push_back(record);
            m_Slots[nSlot] = static_cast<std::uint32_t>(m_Records.size());
            return static_cast<std::uint32_t>(m_Records.size() - 1);
        }
        if (std::memcmp(m_Records[nEntry - 1].m_aValues, record.m_aValues, sizeof(record.m_aValues)) == 0)
            return nEntry - 1;
    }
}

void CVertexIndex::Grow()
{
    std::vector<std::uint32_t> slots(m_Slots.size() * 2, 0u);
    const size_t nMask = slots.size() - 1;
    for (size_t i = 0; i < m_Records.size(); ++i)
    {
        size_t nSlot = static_cast<size_t>(Hash(m_Records[i])) & nMask;
        while (slots[nSlot] != 0)
            nSlot = (nSlot + 1) & nMask;
        slots[nSlot] = static_cast<std::uint32_t>(i + 1);
    }
    m_Slots.swap(slots);
    m_nMask = nMask;
}
