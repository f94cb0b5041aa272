#include "external/model/KarnList.h"

#include <cstddef>
#include <new>
#include <type_traits>

namespace
{

// The storage of one point or vector item: the value first, so that the item pointer the list holds is
// the slot's address, then where the slot came from (null for a plain heap allocation).
template <class T> struct KarnItemSlot
{
    T value;
    CKarnItemPool* pPool;
};

static_assert(std::is_standard_layout<KarnItemSlot<vemoFloatPoint>>::value &&
                  std::is_standard_layout<KarnItemSlot<vemoVector>>::value,
              "the item pointer must convert to its slot");
static_assert(sizeof(KarnItemSlot<vemoFloatPoint>) == sizeof(KarnItemSlot<vemoVector>) &&
                  alignof(KarnItemSlot<vemoFloatPoint>) == alignof(KarnItemSlot<vemoVector>),
              "one pool serves both item types");

} // namespace

// Fixed-size slots for the items of one CKarnList, carved out of chunks that grow geometrically.
// Freed slots go to a free list. When the last live slot is freed (a DeleteAll), every chunk but the
// newest is released, so a list that once held millions of items does not keep them all after the
// flush. The pool outlives its list while items that left the list without being destroyed remain;
// the last of them to be destroyed frees the pool.
class CKarnItemPool
{
public:
    static constexpr std::size_t kSlotSize = sizeof(KarnItemSlot<vemoFloatPoint>);

    CKarnItemPool() : m_pChunks(nullptr), m_pBump(nullptr), m_pBumpEnd(nullptr), m_pFree(nullptr), m_nLive(0)
    {
    }
    ~CKarnItemPool()
    {
        while (m_pChunks != nullptr)
        {
            Chunk* pNext = m_pChunks->pNext;
            ::operator delete(m_pChunks);
            m_pChunks = pNext;
        }
    }
    CKarnItemPool(const CKarnItemPool&) = delete;
    CKarnItemPool& operator=(const CKarnItemPool&) = delete;

    // Raw storage for one slot; throws std::bad_alloc.
    void* Allocate()
    {
        void* pSlot;
        if (m_pFree != nullptr)
        {
            pSlot = m_pFree;
            m_pFree = m_pFree->pNext;
        }
        else
        {
            if (m_pBump == m_pBumpEnd)
                AddChunk();
            pSlot = m_pBump;
            m_pBump += kSlotSize;
        }
        ++m_nLive;
        return pSlot;
    }

    // Takes back the storage of a slot whose object has been destroyed.
    void Release(void* pSlot)
    {
        m_pFree = ::new (pSlot) FreeSlot{m_pFree};
        if (--m_nLive != 0)
            return;
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
    struct FreeSlot
    {
        FreeSlot* pNext;
    };
    struct Chunk
    {
        Chunk* pNext;
        std::size_t nSlots;
    };
    static_assert(sizeof(Chunk) % alignof(KarnItemSlot<vemoFloatPoint>) == 0, "slots follow the header");
    static_assert(sizeof(FreeSlot) <= kSlotSize && alignof(FreeSlot) <= alignof(KarnItemSlot<vemoFloatPoint>),
                  "a free slot holds its link");

    static constexpr std::size_t kFirstChunkSlots = 64;
    static constexpr std::size_t kMaxChunkSlots = 8192;

    static unsigned char* SlotsOf(Chunk* pChunk) { return reinterpret_cast<unsigned char*>(pChunk + 1); }

    void AddChunk()
    {
        std::size_t nSlots = kFirstChunkSlots;
        if (m_pChunks != nullptr)
            nSlots = m_pChunks->nSlots < kMaxChunkSlots ? m_pChunks->nSlots * 2 : kMaxChunkSlots;
        Chunk* pChunk = static_cast<Chunk*>(::operator new(sizeof(Chunk) + nSlots * kSlotSize));
        pChunk->pNext = m_pChunks;
        pChunk->nSlots = nSlots;
        m_pChunks = pChunk;
        m_pBump = SlotsOf(pChunk);
        m_pBumpEnd = m_pBump + nSlots * kSlotSize;
    }

    // Every slot is free: keep only the newest (largest) chunk and hand it out from its start again.
    void Trim()
    {
        if (m_pChunks == nullptr)
            return;
        Chunk* pOld = m_pChunks->pNext;
        while (pOld != nullptr)
        {
            Chunk* pNext = pOld->pNext;
            ::operator delete(pOld);
            pOld = pNext;
        }
        m_pChunks->pNext = nullptr;
        m_pFree = nullptr;
        m_pBump = SlotsOf(m_pChunks);
        m_pBumpEnd = m_pBump + m_pChunks->nSlots * kSlotSize;
    }

    Chunk* m_pChunks; // newest first
    unsigned char* m_pBump;
    unsigned char* m_pBumpEnd;
    FreeSlot* m_pFree;
    std::size_t m_nLive;
    bool m_bAbandoned = false;
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
        *ppItem = &(new KarnItemSlot<T>{T(), nullptr})->value;
        return true;
    case ListDataDestroy:
        if (*ppItem != nullptr)
        {
            KarnItemSlot<T>* pSlot = reinterpret_cast<KarnItemSlot<T>*>(*ppItem);
            CKarnItemPool* pPool = pSlot->pPool;
            if (pPool == nullptr)
            {
                delete pSlot;
            }
            else
            {
                pSlot->~KarnItemSlot<T>();
                pPool->Release(pSlot);
            }
        }
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

bool CKarnList::AddTailCopy(void* pSource)
{
    void* pItem = CreatePooledCopy(pSource);
    if (pItem == nullptr)
        return CBasicList::AddTailCopy(pSource);
    try
    {
        if (AddTail(pItem))
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

bool CKarnList::AddHeadCopy(void* pSource)
{
    void* pItem = CreatePooledCopy(pSource);
    if (pItem == nullptr)
        return CBasicList::AddHeadCopy(pSource);
    try
    {
        if (AddHead(pItem))
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
        return &(::new (pRaw)
                     KarnItemSlot<vemoFloatPoint>{*static_cast<const vemoFloatPoint*>(pSource), m_pItemPool})
                    ->value;
    return &(::new (pRaw) KarnItemSlot<vemoVector>{*static_cast<const vemoVector*>(pSource), m_pItemPool})
                ->value;
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
