#include "foundation/BasicListElementPool.h"

#include <new>

CBasicListElementPool::~CBasicListElementPool()
{
    Chunk* pChunk = m_pFirstChunk;
    while (pChunk)
    {
        Chunk* pNext = pChunk->pNext;
        ::operator delete(pChunk);
        pChunk = pNext;
    }
}

void* CBasicListElementPool::Allocate()
{
    if (m_pFreeList)
    {
        FreeSlot* pSlot = m_pFreeList;
        m_pFreeList = pSlot->pNext;
        return pSlot;
    }
    if (m_pCurrentChunk && m_nUsedInCurrent < m_pCurrentChunk->nCapacity)
    {
        if (m_nUsedInCurrent == m_nResidentInCurrent)
            MakeResidentAhead();
        return &SlotsOf(m_pCurrentChunk)[m_nUsedInCurrent++];
    }

    // The current chunk is exhausted: move on to a chunk kept by Reset, or add one.
    if (m_pCurrentChunk && m_pCurrentChunk->pNext)
    {
        m_pCurrentChunk = m_pCurrentChunk->pNext;
    }
    else
    {
        std::size_t nSlots = kFirstChunkSlots;
        if (m_pCurrentChunk)
        {
            nSlots = m_pCurrentChunk->nCapacity * 2;
            if (nSlots > kMaxChunkSlots)
                nSlots = kMaxChunkSlots;
        }
        Chunk* pChunk = static_cast<Chunk*>(::operator new(sizeof(Chunk) + nSlots * sizeof(Slot)));
        pChunk->pNext = nullptr;
        pChunk->nCapacity = nSlots;
        if (m_pCurrentChunk)
            m_pCurrentChunk->pNext = pChunk;
        else
            m_pFirstChunk = pChunk;
        m_pCurrentChunk = pChunk;
    }
    m_nUsedInCurrent = 0;
    m_nResidentInCurrent = 0;
    MakeResidentAhead();
    m_nUsedInCurrent = 1;
    return &SlotsOf(m_pCurrentChunk)[0];
}

void CBasicListElementPool::Release(void* pSlot)
{
    m_pFreeList = new (pSlot) FreeSlot{m_pFreeList};
}

void CBasicListElementPool::Reset()
{
    // Chunks only grow along the chain, so the last is the largest: it stays for the next filling and
    // the others are freed, so that a list once holding millions of elements does not keep their
    // storage (tens of megabytes) for as long as the list lives.
    Chunk* pKeep = m_pFirstChunk;
    while (pKeep && pKeep->pNext)
    {
        Chunk* pNext = pKeep->pNext;
        ::operator delete(pKeep);
        pKeep = pNext;
    }
    m_pFirstChunk = pKeep;
    m_pCurrentChunk = pKeep;
    m_nUsedInCurrent = 0;
    m_nResidentInCurrent = 0;
    m_pFreeList = nullptr;
}
