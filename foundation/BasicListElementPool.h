/// \file
/// CBasicListElementPool: the storage of a list's elements. Internal to the foundation library (the
/// list holds a pointer to it).
#pragma once

#include "foundation/BasicList.h"
#include "foundation/Platform.h"

#include <cstddef>

// Fixed-size slots for CBasicListElement objects, carved from chunks that double in size up to a cap,
// with a free list of released slots. Reset makes every slot free again and keeps only the largest
// chunk, so a list that is filled and emptied over and over with short runs (the loader's point and
// normal lists on an assembly of small solids) stops allocating, while one long run does not leave its
// storage behind. The remaining chunk is freed when the pool is destroyed.
class CBasicListElementPool
{
public:
    CBasicListElementPool() = default;
    CBasicListElementPool(const CBasicListElementPool&) = delete;
    CBasicListElementPool& operator=(const CBasicListElementPool&) = delete;
    ~CBasicListElementPool();

    // Raw storage for one element; raises std::bad_alloc when no chunk can be had.
    void* Allocate();
    // Returns the storage of an element whose destructor has run.
    void Release(void* pSlot);
    // Makes every slot free; the caller has destroyed every element first.
    void Reset();

    // Called when the slots handed out reach those made resident: makes the next window of a large
    // current chunk resident (small chunks fault in as they are used).
    void MakeResidentAhead()
    {
        const std::size_t nWindowSlots = kPrefaultWindow / sizeof(Slot);
        const std::size_t nCapacity = m_pCurrentChunk->nCapacity;
        std::size_t nEnd = m_nResidentInCurrent + nWindowSlots;
        if (nEnd > nCapacity)
            nEnd = nCapacity;
        if (nCapacity >= nWindowSlots)
            BasicPrefaultForWriting(&SlotsOf(m_pCurrentChunk)[m_nResidentInCurrent],
                                    (nEnd - m_nResidentInCurrent) * sizeof(Slot));
        m_nResidentInCurrent = nEnd;
    }

private:
    // A released slot holds the link to the next released slot.
    struct FreeSlot
    {
        FreeSlot* pNext;
    };
    union Slot
    {
        alignas(CBasicListElement) unsigned char element[sizeof(CBasicListElement)];
        FreeSlot free;
    };
    // Chunk header; the slots follow it in the same allocation.
    struct alignas(Slot) Chunk
    {
        Chunk* pNext;
        std::size_t nCapacity;
    };

    // Large chunks are made resident a window at a time, ahead of the slots handed out: one system
    // call instead of a page fault per 4 KiB page, which on a list of millions of elements is a visible
    // share of a load. At most one window of not yet used memory is resident early. Elsewhere (or on a
    // kernel without the call) the pages simply fault in on first use.
    static constexpr std::size_t kPrefaultWindow = 256 * 1024;
    static constexpr std::size_t kFirstChunkSlots = 16;
    // 64 Ki slots (2 MiB with 64-bit pointers): large enough that chunk allocations are rare, small
    // enough that the unused tail of the last chunk stays modest.
    static constexpr std::size_t kMaxChunkSlots = std::size_t(1) << 16;

    static Slot* SlotsOf(Chunk* pChunk) { return reinterpret_cast<Slot*>(pChunk + 1); }

    Chunk* m_pFirstChunk = nullptr;
    Chunk* m_pCurrentChunk = nullptr;     // the chunk that slots are carved from
    std::size_t m_nUsedInCurrent = 0;     // slots of the current chunk handed out since it became current
    std::size_t m_nResidentInCurrent = 0; // slots of the current chunk made resident ahead of use
    FreeSlot* m_pFreeList = nullptr;
};
