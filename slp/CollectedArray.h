/// \file
/// CSLPCollectedArray: the growable array in which a load collects a run's points and normals.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

/// A growable sequence of trivially copyable items in chunks that are never moved: growing allocates
/// the next chunk and copies nothing, so each page of a long run is touched once, where the doubling
/// of a std::vector copies the items and touches about twice their pages. Chunk k holds
/// kFirstChunk << min(k, kDoublings) items whatever the item type, a multiple of three, so two arrays
/// that hold the same number of items have the same chunks and no triangle of three consecutive items
/// crosses a chunk. Items may be dropped from the front (RemoveFront). Allocation failures raise
/// std::bad_alloc with the array unchanged; copies copy the items.
template <class T> class CSLPCollectedArray
{
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "items are copied with memcpy and never destroyed");

public:
    static constexpr size_t kFirstChunk = 768;
    static constexpr size_t kDoublings = 8;

    CSLPCollectedArray() = default;
    CSLPCollectedArray(const CSLPCollectedArray& other)
    {
        try
        {
            for (size_t k = 0; k < other.ChunkCount(); ++k)
            {
                const size_t nCount = other.ChunkSize(k);
                for (size_t i = 0; i < nCount; ++i)
                    Add(other.ChunkData(k)[i]);
            }
        }
        catch (...)
        {
            Release();
            throw;
        }
    }
    CSLPCollectedArray& operator=(const CSLPCollectedArray& other)
    {
        if (this != &other)
        {
            CSLPCollectedArray copy(other);
            m_Chunks.swap(copy.m_Chunks);
            std::swap(m_nFilled, copy.m_nFilled);
            std::swap(m_nFirst, copy.m_nFirst);
            std::swap(m_nFull, copy.m_nFull);
            std::swap(m_nRoom, copy.m_nRoom);
        }
        return *this;
    }
    ~CSLPCollectedArray() { Release(); }

    void Add(const T& item)
    {
        if (m_nFilled == m_nRoom)
            NextChunk();
        std::memcpy(static_cast<void*>(m_Chunks[m_nFull] + m_nFilled), &item, sizeof(T));
        ++m_nFilled;
    }
    /// The number of items (those dropped from the front not counted).
    size_t GetCount() const { return ItemsBefore(m_nFull) + m_nFilled - m_nFirst; }

    /// The chunks that hold items, in order: ChunkData(k)[0 .. ChunkSize(k)). Items dropped from the
    /// front are left out (a chunk may then be empty).
    size_t ChunkCount() const { return m_Chunks.empty() ? 0 : m_nFull + 1; }
    const T* ChunkData(size_t k) const { return m_Chunks[k] + DroppedIn(k); }
    size_t ChunkSize(size_t k) const { return (k == m_nFull ? m_nFilled : ChunkCapacity(k)) - DroppedIn(k); }

    /// Drops the first n items (all when n is larger), keeping the order of the others. Allocates
    /// nothing: the dropped items' room is reused after the next Clear.
    void RemoveFront(size_t n)
    {
        const size_t nSize = GetCount();
        m_nFirst += n < nSize ? n : nSize;
    }
    /// Empties the array. The first chunks are kept for the next items while together they take at
    /// most nKeptBytes; the others are given back.
    void Clear(size_t nKeptBytes)
    {
        size_t nKept = 0;
        size_t nBytes = 0;
        while (nKept < m_Chunks.size() && nBytes + ChunkCapacity(nKept) * sizeof(T) <= nKeptBytes)
            nBytes += ChunkCapacity(nKept++) * sizeof(T);
        while (m_Chunks.size() > nKept)
        {
            ::operator delete(static_cast<void*>(m_Chunks.back()));
            m_Chunks.pop_back();
        }
        m_nFull = m_nFilled = m_nFirst = 0;
        m_nRoom = m_Chunks.empty() ? 0 : ChunkCapacity(0);
    }

private:
    static size_t ChunkCapacity(size_t k) { return kFirstChunk << (k < kDoublings ? k : kDoublings); }
    // The items that the chunks before chunk k hold when full.
    static size_t ItemsBefore(size_t k)
    {
        if (k <= kDoublings)
            return kFirstChunk * ((size_t(1) << k) - 1);
        return kFirstChunk * ((size_t(1) << kDoublings) - 1) + (k - kDoublings) * ChunkCapacity(kDoublings);
    }
    // How many of chunk k's items were dropped from the front.
    size_t DroppedIn(size_t k) const
    {
        const size_t nStart = ItemsBefore(k);
        if (m_nFirst <= nStart)
            return 0;
        const size_t nHeld = k == m_nFull ? m_nFilled : ChunkCapacity(k);
        return m_nFirst - nStart < nHeld ? m_nFirst - nStart : nHeld;
    }
    void NextChunk()
    {
        // Chunks kept from before are filled again; else one more is allocated.
        const size_t nNext = m_Chunks.empty() ? 0 : m_nFull + 1;
        if (nNext == m_Chunks.size())
        {
            m_Chunks.reserve(m_Chunks.size() + 1);
            m_Chunks.push_back(static_cast<T*>(::operator new(ChunkCapacity(nNext) * sizeof(T))));
        }
        m_nFull = nNext;
        m_nFilled = 0;
        m_nRoom = ChunkCapacity(nNext);
    }
    void Release()
    {
        for (T* pChunk : m_Chunks)
            ::operator delete(static_cast<void*>(pChunk));
        m_Chunks.clear();
        m_nFull = m_nFilled = m_nFirst = 0;
        m_nRoom = 0;
    }

    std::vector<T*> m_Chunks; // every chunk allocated; chunk m_nFull is being filled
    size_t m_nFull = 0;       // the chunk being filled (those before it are full)
    size_t m_nFilled = 0;     // items in chunk m_nFull
    size_t m_nRoom = 0;       // the items chunk m_nFull holds (0 before the first chunk)
    size_t m_nFirst = 0;      // items dropped from the front
};
