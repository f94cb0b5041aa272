/// \file
/// The four operations of a list's item handler (see ListDataHandler in foundation/BasicList.h) for
/// items of one type, made with new T() and freed with delete, copied by assignment and compared by
/// Equal (== unless told otherwise). The handlers of the foundation's and the model's lists are made
/// of it; a host's own item types can use it too.
#pragma once

#include "foundation/BasicList.h"

template <class T> bool BasicItemsEqual(const T& a, const T& b)
{
    return a == b;
}

template <class T, bool (*Equal)(const T&, const T&) = BasicItemsEqual<T>>
bool BasicHandleItem(int nOperation, void** ppItem, void* pOther)
{
    if (ppItem == nullptr)
        return false;
    switch (nOperation)
    {
    case ListDataCreate:
        *ppItem = new T();
        return true;
    case ListDataDestroy:
        delete static_cast<T*>(*ppItem);
        *ppItem = nullptr;
        return true;
    case ListDataCopy:
        if (pOther == nullptr || *ppItem == nullptr)
            return false;
        *static_cast<T*>(*ppItem) = *static_cast<const T*>(pOther);
        return true;
    case ListDataEqual:
        if (pOther == nullptr || *ppItem == nullptr)
            return false;
        return Equal(*static_cast<const T*>(*ppItem), *static_cast<const T*>(pOther));
    default:
        return false;
    }
}
