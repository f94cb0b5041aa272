/// \file
/// CBasicMap: a CBasicList that keeps its items in insertion order and adds an index from signed 32-bit
/// keys to its elements, in a fixed number of buckets of chained entries. Text keys are reduced to an
/// integer key by CBasicString::GetHashValue (CRC-32), optionally after upper-casing; only that number is
/// kept, so two texts with the same CRC-32 are the same key. Several entries may carry the same key; the
/// most recently added one is found first.
///
/// The bucket array (10009 buckets unless SetBucketCount chose another number before) is allocated with
/// a plain allocation on the first AddWithKey; its failure makes AddWithKey return false with nothing
/// added. Entries, elements and handler items are allocated with the throwing allocation
/// (std::bad_alloc), after which the map is unchanged. Items belong to the caller unless the map has an
/// item handler, as for CBasicList; destroying the map does not destroy items (call DeleteAll first).
///
/// The virtual operations continue the slot order of CBasicList; do not reorder them.
#pragma once

#include "foundation/BasicList.h"
#include "foundation/BasicString.h"

/// One entry of a bucket chain.
class BASIC_API CBasicMapElement
{
public:
    CBasicMapElement();
    virtual ~CBasicMapElement();

    CBasicMapElement* m_pNext;     ///< next entry of the same bucket; null at the chain's end
    CBasicListElement* m_pElement; ///< the list element holding the entry's item
    int m_nKey;
};

class BASIC_API CBasicMap : public CBasicList
{
public:
    /// An empty map with 10009 buckets and no bucket array yet; allocates nothing.
    CBasicMap();
    /// Drops every entry and element and frees the bucket array; items are not destroyed.
    ~CBasicMap() override; ///< slot 0

    /// Removing a single element through the list's operations also drops the entry that refers to it,
    /// found through an index from elements to entries, so no entry is ever left referring to an
    /// unlinked element and a removal costs about what an add costs, whatever the bucket count.
    bool Remove(void* pItem) override; ///< slot 11
    void* RemoveHead() override;       ///< slot 12
    /// Drops every entry (the bucket array stays), then the list's RemoveAll.
    bool RemoveAll() override;             ///< slot 13
    bool DeleteData(void* pItem) override; ///< slot 23
    /// Drops every entry, then the list's DeleteAll: without a handler the elements stay in the list but
    /// can no longer be found by key.
    bool DeleteAll() override; ///< slot 24

    /// Appends pItem (a copy through the item handler if there is one, else the pointer itself) and
    /// files it under the key. The text key is a copy, upper-cased first when bUpperCase is set; its
    /// CRC-32 read as signed is the integer key. False when the bucket array cannot be allocated or the
    /// list refuses the item (a null item without a handler); nothing is added then.
    virtual bool AddWithKey(CBasicString strKey, void* pItem, bool bUpperCase); ///< slot 34
    virtual bool AddWithKey(int nKey, void* pItem);                             ///< slot 35
    /// Removes the most recent entry with the key together with the very element it refers to, destroying
    /// its item through the handler if there is one. False when no entry has the key.
    virtual bool RemoveKey(CBasicString strKey, bool bUpperCase); ///< slot 36
    virtual bool RemoveKey(int nKey);                             ///< slot 37
    /// The item of the most recent entry with the key; null when there is none. Allocates nothing.
    virtual void* LookupKey(CBasicString strKey, bool bUpperCase); ///< slot 38
    virtual void* LookupKey(int nKey);                             ///< slot 39
    virtual int GetBucketCount() const;                            ///< slot 40
    /// Chooses the number of buckets; ignored for a count below 1 or once the bucket array exists. A
    /// count whose array would exceed 2 GiB makes AddWithKey fail.
    virtual void SetBucketCount(int nCount); ///< slot 41

protected:
    /// Drops any entries, then allocates an empty bucket array of the bucket count; false (size 0) when it
    /// cannot be had.
    bool AllocateBuckets();
    /// Destroys every entry and empties every bucket; false without a bucket array. Elements and items
    /// are untouched.
    bool ClearBuckets();

    CBasicMapElement** m_ppBuckets;
    int m_nBucketArraySize; ///< in bytes; 0 while there is no array
    int m_nBucketCount;

private:
    /// The bucket of a key: the key's magnitude (as unsigned, so -2147483648 has one) modulo the count.
    int BucketOf(int nKey) const;
    /// The integer key of a text key.
    static int KeyOf(CBasicString& strKey, bool bUpperCase);
    /// Drops the entry that refers to pElement, if there is one.
    void ForgetElement(CBasicListElement* pElement);

    /// Unlinks an entry from its bucket's chain and from the element index, and destroys it.
    void DropEntry(CBasicMapElement* pEntry);

    /// Which entry refers to which element, so that an element removed through the list's operations
    /// finds its entry without a search; created with the bucket array.
    class CEntryIndex;
    CEntryIndex* m_pEntryIndex;
};
