#include "external/model/KarnList.h"

#include "foundation/Platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>

namespace
{

static_assert(sizeof(vemoFloatPoint) == sizeof(vemoVector) && alignof(vemoFloatPoint) == alignof(vemoVector),
              "one pool serves both item types");
static_assert(std::is_trivially_destructible<vemoFloatPoint>::value &&
                  std::is_trivially_destructible<vemoVector>::value,
              "items are given back to the pool without running code");

} // namespace

// Slots of exactly one point or vector (12 bytes, no per-item header) for the items of one CKarnList,
// carved out of chunks that grow from 16 KiB to 256 KiB. Every chunk starts at a multiple of 256 KiB
// and begins with a header naming its pool, so the pool of any item is found from the item's address
// alone. Freed slots go to a free list. When the last live slot is freed (a DeleteAll), every chunk but
// the newest is released, so a list that once held millions of items does not keep them all after the
// flush. The pool outlives its list while items that left the list without being destroyed remain; the
// last of them to be destroyed frees the pool. Items created through the handlers themselves come from
// one process-wide pool, which is locked because lists of different threads may share it.
class CKarnItemPool
{
public:
    static constexpr std::size_t kSlotSize = sizeof(vemoFloatPoint);
    static constexpr std::size_t kChunkAlign = 256 * 1024;

    explicit CKarnItemPool(bool bShared = false) : m_bShared(bShared) {}
    ~CKarnItemPool()
    {
        while (m_pChunks != nullptr)
        {
            Chunk* pNext = m_pChunks->pNext;
            FreeChunk(m_pChunks);
            m_pChunks = pNext;
        }
    }
    CKarnItemPool(const CKarnItemPool&) = delete;
    CKarnItemPool& operator=(const CKarnItemPool&) = delete;

    // The pool of the process-wide items; never destroyed, so items may be freed during exit.
    static CKarnItemPool& Shared()
    {
        static CKarnItemPool* const s_pShared = new CKarnItemPool(true);
        return *s_pShared;
    }

    // The pool that an item of any pool belongs to.
    static CKarnItemPool* PoolOf(const void* pItem)
    {
        const std::uintptr_t nAddress = reinterpret_cast<std::uintptr_t>(pItem) & ~(kChunkAlign - 1);
        return reinterpret_cast<const Chunk*>(nAddress)->pPool;
    }

    // Raw storage for one slot; throws std::bad_alloc.
    void* Allocate()
    {
        if (m_bShared)
        {
            const std::lock_guard<std::mutex> lock(m_Mutex);
            return AllocateUnlocked();
        }
        return AllocateUnlocked();
    }

    // Takes back the storage of a slot whose object has been destroyed.
    void Release(void* pSlot)
    {
        if (m_bShared)
        {
            const std::lock_guard<std::mutex> lock(m_Mutex);
            ReleaseUnlocked(pSlot);
            return;
        }
        ReleaseUnlocked(pSlot);
        if (m_nLive == 0 && m_bAbandoned)
            delete this;
    }

    // The number of slots handed out and not released.
    std::size_t GetLiveCount() const { return m_nLive; }

    // Takes back every live slot at once (their objects destroyed); only for a pool of one list.
    void ReleaseAll()
    {
        m_nLive = 0;
        if (m_bAbandoned)
            delete this;
        else
            Trim();
    }

    // The owning list is gone; the pool frees itself now or with its last live slot.
    void Abandon()
    {
        m_bAbandoned = true;
        if (m_nLive == 0)
            delete this;
    }

private:
    struct Chunk
    {
        CKarnItemPool* pPool;
        Chunk* pNext;
        std::size_t nBytes;
    };
    static_assert(sizeof(Chunk) % alignof(vemoFloatPoint) == 0, "slots follow the header");

    static constexpr std::size_t kFirstChunkBytes = 16 * 1024;

    void* AllocateUnlocked()
    {
        void* pSlot;
        if (m_pFree != nullptr)
        {
            pSlot = m_pFree;
            // A free slot holds the address of the next one (copied: slots are only 4-byte aligned).
            std::memcpy(&m_pFree, pSlot, sizeof(m_pFree));
        }
        else
        {
            if (m_nBumpLeft == 0)
                AddChunk();
            pSlot = m_pBump;
            m_pBump += kSlotSize;
            --m_nBumpLeft;
        }
        ++m_nLive;
        return pSlot;
    }

    void ReleaseUnlocked(void* pSlot)
    {
        static_assert(sizeof(void*) <= kSlotSize, "a free slot holds its link");
        std::memcpy(pSlot, &m_pFree, sizeof(m_pFree));
        m_pFree = static_cast<unsigned char*>(pSlot);
        if (--m_nLive == 0 && !m_bAbandoned)
            Trim();
    }

    void AddChunk()
    {
        std::size_t nBytes = kFirstChunkBytes;
        if (m_pChunks != nullptr)
            nBytes = m_pChunks->nBytes < kChunkAlign ? m_pChunks->nBytes * 2 : kChunkAlign;
        Chunk* pChunk = static_cast<Chunk*>(::operator new(nBytes, std::align_val_t(kChunkAlign)));
        if (nBytes == kChunkAlign)
            BasicPrefaultForWriting(pChunk, nBytes);
        pChunk->pPool = this;
        pChunk->pNext = m_pChunks;
        pChunk->nBytes = nBytes;
        m_pChunks = pChunk;
        StartBump(pChunk);
    }

    void StartBump(Chunk* pChunk)
    {
        m_pBump = reinterpret_cast<unsigned char*>(pChunk + 1);
        m_nBumpLeft = (pChunk->nBytes - sizeof(Chunk)) / kSlotSize;
    }

    static void FreeChunk(Chunk* pChunk) { ::operator delete(pChunk, std::align_val_t(kChunkAlign)); }

    // Every slot is free: keep only the newest (largest) chunk and hand it out from its start again.
    void Trim()
    {
        if (m_pChunks == nullptr)
            return;
        Chunk* pOld = m_pChunks->pNext;
        while (pOld != nullptr)
        {
            Chunk* pNext = pOld->pNext;
            FreeChunk(pOld);
            pOld = pNext;
        }
        m_pChunks->pNext = nullptr;
        m_pFree = nullptr;
        StartBump(m_pChunks);
    }

    Chunk* m_pChunks = nullptr; // newest first
    unsigned char* m_pBump = nullptr;
    std::size_t m_nBumpLeft = 0;
    unsigned char* m_pFree = nullptr;
    std::size_t m_nLive = 0;
    bool m_bAbandoned = false;
    const bool m_bShared;
    std::mutex m_Mutex; // used only by the shared pool
};

namespace
{

template <class T> bool HandleKarnItem(int nOperation, void** ppItem, void* pOther)
{
    if (ppItem == nullptr)
        return false;
    switch (nOperation)
    {
    case ListDataCreate:
        *ppItem = ::new (CKarnItemPool::Shared().Allocate()) T();
        return true;
    case ListDataDestroy:
        if (*ppItem != nullptr)
            CKarnItemPool::PoolOf(*ppItem)->Release(*ppItem);
        *ppItem = nullptr;
        return true;
    case ListDataCopy:
        if (pOther == nullptr || *ppItem == nullptr)
            return false;
        *static_cast<T*>(*ppItem) = *static_cast<const T*>(pOther);
        return true;
    case ListDataEqual:
    {
        if (pOther == nullptr || *ppItem == nullptr)
            return false;
        const T& item = *static_cast<const T*>(*ppItem);
        const T& other = *static_cast<const T*>(pOther);
        return item.x == other.x && item.y == other.y && item.z == other.z;
    }
    default:
        return false;
    }
}

} // namespace

bool PointDataHandler(int nOperation, void** ppItem, void* pOther)
{
    return HandleKarnItem<vemoFloatPoint>(nOperation, ppItem, pOther);
}

bool VectorDataHandler(int nOperation, void** ppItem, void* pOther)
{
    return HandleKarnItem<vemoVector>(nOperation, ppItem, pOther);
}

CKarnList::CKarnList() : m_pItemPool(nullptr) {}

CKarnList::CKarnList(const CKarnList& other) : CBasicList(), m_pItemPool(nullptr)
{
    try
    {
        SetDataHandler(other.GetDataHandler());
        CopyItemsFrom(other);
    }
    catch (...)
    {
        // No destructor of ours runs for a constructor that throws: free the copies made so far.
        if (m_pDataHandler != nullptr)
            DeleteAll();
        if (m_pItemPool != nullptr)
            m_pItemPool->Abandon();
        throw;
    }
}

CKarnList& CKarnList::operator=(const CKarnList& other)
{
    if (this == &other)
        return *this;
    SetDataHandler(other.GetDataHandler());
    CopyItemsFrom(other);
    return *this;
}

CKarnList::~CKarnList()
{
    if (m_pItemPool != nullptr)
        m_pItemPool->Abandon();
}

void CKarnList::SetListTypePoint()
{
    // A list that already holds points keeps them: re-stating the type is not a reset.
    if (GetDataHandler() != PointDataHandler)
        SetDataHandler(PointDataHandler);
}

void CKarnList::SetListTypeVector()
{
    if (GetDataHandler() != VectorDataHandler)
        SetDataHandler(VectorDataHandler);
}

bool CKarnList::AddPooledCopy(void* pSource, bool bAtHead)
{
    void* pItem = CreatePooledCopy(pSource);
    if (pItem == nullptr)
        return bAtHead ? CBasicList::AddHeadCopy(pSource) : CBasicList::AddTailCopy(pSource);
    try
    {
        if (bAtHead ? AddHead(pItem) : AddTail(pItem))
            return true;
    }
    catch (...)
    {
        m_pDataHandler(ListDataDestroy, &pItem, nullptr);
        throw;
    }
    m_pDataHandler(ListDataDestroy, &pItem, nullptr);
    return false;
}

bool CKarnList::AddTailCopy(void* pSource)
{
    return AddPooledCopy(pSource, false);
}

bool CKarnList::AddHeadCopy(void* pSource)
{
    return AddPooledCopy(pSource, true);
}

bool CKarnList::DeleteAll()
{
    const ListDataHandler pHandler = m_pDataHandler;
    if (m_pHead == nullptr || m_pItemPool == nullptr ||
        (pHandler != PointDataHandler && pHandler != VectorDataHandler))
        return CBasicList::DeleteAll();
    // Items of other storage (made by the handler itself) are destroyed as the walk meets them; the
    // list's own are counted. Destroying cannot fail for these handlers, and the order in which items
    // are destroyed is not observable.
    std::size_t nOwn = 0;
    for (CBasicListElement* pElement = m_pHead; pElement != nullptr; pElement = pElement->m_pNext)
    {
        if (CKarnItemPool::PoolOf(pElement->m_pData) == m_pItemPool)
            ++nOwn;
        else
            pHandler(ListDataDestroy, &pElement->m_pData, nullptr);
    }
    if (nOwn == m_pItemPool->GetLiveCount())
        m_pItemPool->ReleaseAll(); // the usual case: no item of the storage lives outside the list
    else
        for (CBasicListElement* pElement = m_pHead; pElement != nullptr; pElement = pElement->m_pNext)
            if (pElement->m_pData != nullptr)
                pHandler(ListDataDestroy, &pElement->m_pData, nullptr);
    m_pCurrent = nullptr;
    RemoveAll();
    return true;
}

void* CKarnList::CreatePooledCopy(const void* pSource)
{
    // Anything that is not a pooled case (no handler, a foreign handler, a null source) takes the
    // general path, which gives the same results as the handler would.
    const bool bPoint = m_pDataHandler == PointDataHandler;
    if (pSource == nullptr || (!bPoint && m_pDataHandler != VectorDataHandler))
        return nullptr;
    if (m_pItemPool == nullptr)
        m_pItemPool = new CKarnItemPool();
    void* pRaw = m_pItemPool->Allocate();
    if (bPoint)
        return ::new (pRaw) vemoFloatPoint(*static_cast<const vemoFloatPoint*>(pSource));
    return ::new (pRaw) vemoVector(*static_cast<const vemoVector*>(pSource));
}

void CKarnList::CopyItemsFrom(const CKarnList& other)
{
    // Walks the links directly, so the source's cursor does not move.
    for (const CBasicListElement* pElement = other.m_pHead; pElement != nullptr; pElement = pElement->m_pNext)
    {
        if (m_pDataHandler != nullptr)
            AddTailCopy(pElement->m_pData);
        else
            AddTail(pElement->m_pData);
    }
}
