// The storage of every vemoFloatPoint and vemoVector made with new: slots of 12 bytes without a
// per-item header, carved out of chunks, so that a list of millions of points does not cost a general
// heap allocation (and its 16 bytes of overhead) per item. Because the allocation belongs to the item
// types themselves, new, delete, the lists' item handlers and the storage always agree: an item made
// by a host with new can be freed by a list, and an item a list made can be freed with delete.
#include "model/VemoTypes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>

namespace
{

static_assert(sizeof(vemoFloatPoint) == sizeof(vemoVector) && alignof(vemoFloatPoint) == alignof(vemoVector),
              "one storage serves both item types");
static_assert(std::is_trivially_destructible<vemoFloatPoint>::value &&
                  std::is_trivially_destructible<vemoVector>::value,
              "slots are given back without running code");

// Chunks of 256 KiB that start at a multiple of their size and begin with a header, so the chunk of
// any slot is found from the slot's address. Each chunk keeps its own free slots; chunks with room are
// linked, the one with the most recent activity first. A chunk whose last slot is freed is released,
// unless it is the only chunk with room, so a program that once held millions of items does not keep
// their storage, and one that adds and removes a few items does not allocate a chunk each time. One
// lock serves the whole process: items may be made on one thread and freed on another.
class CItemStorage
{
public:
    static constexpr std::size_t kSlotSize = sizeof(vemoFloatPoint);
    static constexpr std::size_t kChunkBytes = 256 * 1024;

    // Never destroyed, so items may still be freed while the program exits.
    static CItemStorage& Instance()
    {
        static CItemStorage* const s_pStorage = new CItemStorage();
        return *s_pStorage;
    }

    void* Allocate()
    {
        const std::lock_guard<std::mutex> lock(m_Mutex);
        if (m_pRoomy == nullptr)
            Link(NewChunk());
        Chunk* pChunk = m_pRoomy;
        unsigned char* pSlot = pChunk->pFree;
        if (pSlot != nullptr)
            std::memcpy(&pChunk->pFree, pSlot, sizeof(pChunk->pFree)); // slots are only 4-byte aligned
        else
        {
            pSlot = pChunk->pBump;
            pChunk->pBump += kSlotSize;
            --pChunk->nBumpLeft;
        }
        ++pChunk->nLive;
        if (pChunk->pFree == nullptr && pChunk->nBumpLeft == 0)
            Unlink(pChunk);
        return pSlot;
    }

    void Release(void* pItem) noexcept
    {
        const std::lock_guard<std::mutex> lock(m_Mutex);
        Chunk* pChunk = ChunkOf(pItem);
        unsigned char* pSlot = static_cast<unsigned char*>(pItem);
        std::memcpy(pSlot, &pChunk->pFree, sizeof(pChunk->pFree));
        pChunk->pFree = pSlot;
        --pChunk->nLive;
        if (!pChunk->bLinked)
            Link(pChunk);
        else if (pChunk->nLive == 0 && (pChunk->pNext != nullptr || pChunk->pPrev != nullptr))
        {
            Unlink(pChunk);
            ::operator delete(pChunk, std::align_val_t(kChunkBytes));
        }
    }

private:
    struct Chunk
    {
        Chunk* pPrev; // among the chunks with room
        Chunk* pNext;
        unsigned char* pFree; // freed slots, each holding the address of the next
        unsigned char* pBump; // slots never handed out start here
        std::size_t nBumpLeft;
        std::size_t nLive;
        bool bLinked;
    };
    static_assert(sizeof(void*) <= kSlotSize, "a free slot holds its link");

    CItemStorage() = default;

    static Chunk* ChunkOf(void* pItem)
    {
        return reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(pItem) & ~(kChunkBytes - 1));
    }

    static Chunk* NewChunk()
    {
        Chunk* pChunk = static_cast<Chunk*>(::operator new(kChunkBytes, std::align_val_t(kChunkBytes)));
        // Slots start after the header, at a multiple of the slot size.
        const std::size_t nHeader = (sizeof(Chunk) + kSlotSize - 1) / kSlotSize * kSlotSize;
        pChunk->pPrev = pChunk->pNext = nullptr;
        pChunk->pFree = nullptr;
        pChunk->pBump = reinterpret_cast<unsigned char*>(pChunk) + nHeader;
        pChunk->nBumpLeft = (kChunkBytes - nHeader) / kSlotSize;
        pChunk->nLive = 0;
        pChunk->bLinked = false;
        return pChunk;
    }

    void Link(Chunk* pChunk)
    {
        pChunk->pPrev = nullptr;
        pChunk->pNext = m_pRoomy;
        if (m_pRoomy != nullptr)
            m_pRoomy->pPrev = pChunk;
        m_pRoomy = pChunk;
        pChunk->bLinked = true;
    }

    void Unlink(Chunk* pChunk)
    {
        if (pChunk->pPrev != nullptr)
            pChunk->pPrev->pNext = pChunk->pNext;
        else
            m_pRoomy = pChunk->pNext;
        if (pChunk->pNext != nullptr)
            pChunk->pNext->pPrev = pChunk->pPrev;
        pChunk->pPrev = pChunk->pNext = nullptr;
        pChunk->bLinked = false;
    }

    std::mutex m_Mutex;
    Chunk* m_pRoomy = nullptr; // chunks with a free or never used slot
};

// Sizes other than the item's own come from a type derived from an item type: those use the general
// heap, and the sized delete sends them back there.
void* AllocateItem(std::size_t nSize)
{
    if (nSize != CItemStorage::kSlotSize)
        return ::operator new(nSize);
    return CItemStorage::Instance().Allocate();
}

void ReleaseItem(void* pItem, std::size_t nSize) noexcept
{
    if (pItem == nullptr)
        return;
    if (nSize != CItemStorage::kSlotSize)
        ::operator delete(pItem);
    else
        CItemStorage::Instance().Release(pItem);
}

void* AllocateItemNoThrow(std::size_t nSize) noexcept
{
    try
    {
        return AllocateItem(nSize);
    }
    catch (...)
    {
        return nullptr;
    }
}

} // namespace

void* vemoFloatPoint::operator new(std::size_t nSize)
{
    return AllocateItem(nSize);
}

void* vemoFloatPoint::operator new(std::size_t nSize, const std::nothrow_t&) noexcept
{
    return AllocateItemNoThrow(nSize);
}

void vemoFloatPoint::operator delete(void* pItem, std::size_t nSize) noexcept
{
    ReleaseItem(pItem, nSize);
}

void* vemoVector::operator new(std::size_t nSize)
{
    return AllocateItem(nSize);
}

void* vemoVector::operator new(std::size_t nSize, const std::nothrow_t&) noexcept
{
    return AllocateItemNoThrow(nSize);
}

void vemoVector::operator delete(void* pItem, std::size_t nSize) noexcept
{
    ReleaseItem(pItem, nSize);
}
