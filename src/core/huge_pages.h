/*
** huge_pages.h -- large working blocks on 2 MB pages.
**
** A run touches a few hundred megabytes, most of it once.  On 4 kB pages
** the first touch of every page is a fault of its own, and a fault costs
** microseconds (more under a hypervisor), so the records alone would cost
** tens of thousands of faults.  Asking for 2 MB pages where the kernel has
** them makes it one fault per 2 MB.  The kernel only uses a 2 MB page for
** a 2 MB-aligned stretch, so map_huge_block aligns its blocks.
**
** HugePageAllocator keeps the storage of a std::vector or std::string in
** such a block; it is meant for the few buffers of a megabyte or more
** that are reserved once (the file writers' slot texts and write buffer),
** not for small or often resized containers.
*/
#ifndef MORVENDA_RUN_HUGE_PAGES_H
#define MORVENDA_RUN_HUGE_PAGES_H

#include <cstddef>
#include <new>

/* The size of a huge page on x86-64 (a page-directory-level page). */
constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

/* Zeroed memory of `bytes`, 2 MB-aligned, advised to 2 MB pages; nullptr
** when memory is short. */
void* map_huge_block(std::size_t bytes);
/* Returns a block of map_huge_block (of the same size) to the system. */
void unmap_huge_block(void* block, std::size_t bytes);

template <typename T>
struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        void* block = map_huge_block(n * sizeof(T));
        if (block == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t n) noexcept { unmap_huge_block(p, n * sizeof(T)); }

    template <typename U>
    bool operator==(const HugePageAllocator<U>&) const noexcept { return true; }
};

#endif
