// Vectors for large buffers that are written whole before they are read. Internal to the writers
// library.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// An allocator whose resize leaves new elements of trivial types uninitialised: zeroing a buffer that
// is overwritten anyway would touch every page once more, and on the calling thread alone, where the
// writing is shared among threads.
template <class T> class CNoInitAllocator : public std::allocator<T>
{
public:
    template <class U> struct rebind
    {
        using other = CNoInitAllocator<U>;
    };

    CNoInitAllocator() noexcept = default;
    template <class U> CNoInitAllocator(const CNoInitAllocator<U>&) noexcept {}

    template <class U> void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A vector whose resize does not initialise trivial elements.
template <class T> using CBufferVector = std::vector<T, CNoInitAllocator<T>>;
