#include "Memory.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Each block is preceded by a header that records its requested size. The header is as wide as
// the alignment, so the caller's pointer keeps the 16-byte alignment that SIMD types need.
constexpr std::size_t kAlignment = 16;
constexpr std::size_t kHeaderSize = kAlignment;
static_assert(sizeof(unsigned int) <= kHeaderSize, "the size must fit in the header");

std::atomic<unsigned long> g_liveBlocks{0};

unsigned char* BaseOf(const void* block) {
    return static_cast<unsigned char*>(const_cast<void*>(block)) - kHeaderSize;
}

} // namespace

void* MemAlloc(unsigned int size, int fill, unsigned char fillByte) {
    // On a 32-bit build the header could otherwise wrap a huge size around to a tiny block.
    if (size > std::numeric_limits<std::size_t>::max() - kHeaderSize) {
        throw std::bad_alloc();
    }
    auto* base =
        static_cast<unsigned char*>(::operator new (kHeaderSize + size, std::align_val_t{kAlignment}));
    std::memcpy(base, &size, sizeof size);
    void* block = base + kHeaderSize;
    if (fill) {
        std::memset(block, fillByte, size);
    }
    ++g_liveBlocks;
    return block;
}

void* MemReAlloc(void* block, unsigned int size, int fill, unsigned char fillByte) {
    if (size == 0) {
        MemRelease(block);
        return nullptr;
    }
    const unsigned int oldSize = block ? MemGetSize(block) : 0;
    if (size == oldSize) {
        return block;
    }
    void* resized = nullptr;
    try {
        resized = MemAlloc(size, fill, fillByte);
    } catch (const std::bad_alloc&) {
        // As with realloc, the caller keeps the old block and learns of the failure from null.
        return nullptr;
    }
    if (block) {
        std::memcpy(resized, block, std::min(oldSize, size));
        MemRelease(block);
    }
    return resized;
}

void MemRelease(void* block) {
    if (!block) {
        return;
    }
    ::operator delete (BaseOf(block), std::align_val_t{kAlignment});
    --g_liveBlocks;
}

unsigned int MemGetSize(const void* block) {
    unsigned int size = 0;
    std::memcpy(&size, BaseOf(block), sizeof size);
    return size;
}

unsigned long MemLiveBlocks() {
    return g_liveBlocks.load();
}
