#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "Memory.h"

namespace {

using MemoryTest = ::testing::Test;

bool AllBytesAre(const void* block, unsigned int size, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (unsigned int i = 0; i < size; ++i) {
        if (bytes[i] != value) {
            return false;
        }
    }
    return true;
}

TEST_F(MemoryTest, AllocRecordsSizeFillsOnRequestAndKeeps16ByteAlignment) {
    for (unsigned int size : {0u, 1u, 7u, 16u, 33u}) {
        void* block = MemAlloc(size, 1, 0xAB);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(MemGetSize(block), size);
        EXPECT_TRUE(AllBytesAre(block, size, 0xAB));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u) << "size " << size;
        MemRelease(block);
    }
}

TEST_F(MemoryTest, LiveBlocksCountsAllocationsAndReleases) {
    const unsigned long before = MemLiveBlocks();
    void* first = MemAlloc(4, 0, 0);
    void* second = MemAlloc(4, 0, 0);
    EXPECT_EQ(MemLiveBlocks(), before + 2);
    MemRelease(first);
    MemRelease(nullptr);
    EXPECT_EQ(MemLiveBlocks(), before + 1);
    MemRelease(second);
}

TEST_F(MemoryTest, ReAllocOfNullActsAsAlloc) {
    void* block = MemReAlloc(nullptr, 8, 1, 0x5A);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(MemGetSize(block), 8u);
    EXPECT_TRUE(AllBytesAre(block, 8, 0x5A));
    MemRelease(block);
}

TEST_F(MemoryTest, ReAllocToZeroReleasesTheBlock) {
    const unsigned long before = MemLiveBlocks();
    void* block = MemAlloc(8, 0, 0);
    EXPECT_EQ(MemReAlloc(block, 0, 0, 0), nullptr);
    EXPECT_EQ(MemLiveBlocks(), before);
}

TEST_F(MemoryTest, ReAllocToTheSameSizeReturnsTheBlockUntouched) {
    void* block = MemAlloc(6, 1, 0x11);
    EXPECT_EQ(MemReAlloc(block, 6, 1, 0x22), block);
    EXPECT_TRUE(AllBytesAre(block, 6, 0x11));
    MemRelease(block);
}

TEST_F(MemoryTest, GrowingKeepsOldBytesAndFillsTheRest) {
    void* block = MemAlloc(4, 0, 0);
    std::memcpy(block, "wxyz", 4);
    void* grown = MemReAlloc(block, 10, 1, 0xEE);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(MemGetSize(grown), 10u);
    EXPECT_EQ(std::memcmp(grown, "wxyz", 4), 0);
    EXPECT_TRUE(AllBytesAre(static_cast<unsigned char*>(grown) + 4, 6, 0xEE));
    MemRelease(grown);
}

TEST_F(MemoryTest, ShrinkingKeepsTheLeadingBytes) {
    void* block = MemAlloc(8, 0, 0);
    std::memcpy(block, "abcdefgh", 8);
    void* shrunk = MemReAlloc(block, 3, 0, 0);
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(MemGetSize(shrunk), 3u);
    EXPECT_EQ(std::memcmp(shrunk, "abc", 3), 0);
    MemRelease(shrunk);
}

} // namespace
