#include "model/KarnList.h"

#include "foundation/BasicListItems.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>

namespace
{

// Points and vectors are equal when their coordinates are. They are made with new and freed with
// delete, which take them from and give them back to the item types' own storage, so any item of the
// type, whoever made it, can be destroyed by the handler.
template <class T> bool EqualCoordinates(const T& a, const T& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

} // namespace

bool PointDataHandler(int nOperation, void** ppItem, void* pOther)
{
    return BasicHandleItem<vemoFloatPoint, EqualCoordinates<vemoFloatPoint>>(nOperation, ppItem, pOther);
}

bool VectorDataHandler(int nOperation, void** ppItem, void* pOther)
{
    return BasicHandleItem<vemoVector, EqualCoordinates<vemoVector>>(nOperation, ppItem, pOther);
}

CKarnList::CKarnList() = default;

CKarnList::CKarnList(const CKarnList& other) : CBasicList()
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

CKarnList::~CKarnList() = default;

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
