/*
** huge_pages.cpp -- mapping 2 MB-aligned blocks advised to 2 MB pages.
*/
#include "core/huge_pages.h"

#include <cstdint>

#include <sys/mman.h>

namespace {

std::size_t round_up(std::size_t bytes)
{
    return (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
}

} // namespace

void* map_huge_block(std::size_t bytes)
{
    if (bytes == 0 || bytes > SIZE_MAX - 2 * HUGE_PAGE)
        return nullptr;
    const std::size_t size = round_up(bytes);
    /* map a huge page more than needed, then trim both ends to alignment */
    const std::size_t span = size + HUGE_PAGE;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (begin + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (aligned > begin)
        munmap(raw, aligned - begin);
    const std::uintptr_t tail = aligned + size;
    if (begin + span > tail)
        munmap(reinterpret_cast<void*>(tail), begin + span - tail);
    void* block = reinterpret_cast<void*>(aligned);
    madvise(block, size, MADV_HUGEPAGE); /* advice only: small pages still work */
    return block;
}

void unmap_huge_block(void* block, std::size_t bytes)
{
    if (block != nullptr && bytes > 0)
        munmap(block, round_up(bytes));
}
