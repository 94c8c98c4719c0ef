// Blocks on 2 MB pages: aligned, zero, writable, and containers that keep
// their contents as they grow from one block to the next.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "core/huge_pages.h"
#include "core/records.h"

namespace {

TEST(HugePages, BlocksAreAlignedZeroAndWritable)
{
    EXPECT_EQ(map_huge_block(0), nullptr);
    for (std::size_t bytes : {std::size_t{1}, HUGE_PAGE - 1, HUGE_PAGE, 3 * HUGE_PAGE + 17}) {
        auto* block = static_cast<unsigned char*>(map_huge_block(bytes));
        ASSERT_NE(block, nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % HUGE_PAGE, 0u) << bytes;
        std::size_t nonzero = 0;
        for (std::size_t i = 0; i < bytes; i += 4093)
            nonzero += block[i] != 0;
        EXPECT_EQ(nonzero + block[bytes - 1], 0u) << bytes;
        block[bytes - 1] = 2;
        EXPECT_EQ(block[bytes - 1], 2) << bytes;
        unmap_huge_block(block, bytes);
    }
}

TEST(HugePages, ContainersKeepTheirContentsAsTheyGrow)
{
    std::vector<int, HugePageAllocator<int>> numbers;
    std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>> text;
    for (int i = 0; i < 1200000; i++) { /* past two blocks of 2 MB */
        numbers.push_back(i);
        text += static_cast<char>('a' + i % 26);
    }
    std::size_t wrong = 0;
    for (int i = 0; i < 1200000; i++)
        wrong += numbers[i] != i || text[i] != static_cast<char>('a' + i % 26);
    EXPECT_EQ(wrong, 0u);
    EXPECT_THROW(numbers.reserve(numbers.max_size()), std::bad_alloc); /* no room: no block */
}

/* A cleared stretch reads zero however it lies across the 2 MB pages, and
** the bytes around it keep their values. */
TEST(HugePages, ClearingAcrossWholeAndPartPages)
{
    const std::size_t bytes = 3 * HUGE_PAGE;
    auto* block = static_cast<unsigned char*>(map_huge_block(bytes));
    ASSERT_NE(block, nullptr);
    for (std::size_t first : {std::size_t{0}, std::size_t{5}, HUGE_PAGE - 3})
        for (std::size_t count : {std::size_t{7}, HUGE_PAGE, HUGE_PAGE + 9, bytes - first - 1}) {
            for (std::size_t i = 0; i < bytes; i++)
                block[i] = 0x5a;
            CLEAR_BLOCK(block + first, count);
            std::size_t wrong = 0;
            for (std::size_t i = 0; i < bytes; i++)
                wrong += block[i] != (i >= first && i < first + count ? 0 : 0x5a);
            EXPECT_EQ(wrong, 0u) << first << " " << count;
        }
    unmap_huge_block(block, bytes);
}

} // namespace
