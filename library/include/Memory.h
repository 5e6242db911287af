#pragma once
// The library's heap. Every block that the library hands to a caller comes from MemAlloc and
// goes back with MemRelease, and only with it.

#include <memory>

#include "VelmarikApi.h"

// Returns a new block of `size` bytes, each set to `fillByte` when `fill` is non-zero.
// Exhaustion throws std::bad_alloc.
VELMARIK_API void* MemAlloc(unsigned int size, int fill, unsigned char fillByte);

// Resizes a block (null acts as MemAlloc). Size 0 releases the block and returns null. A new
// block is filled whole when `fill` is set, then receives the old bytes. On failure null is
// returned and the old block stays valid and owned by the caller.
VELMARIK_API void* MemReAlloc(void* block, unsigned int size, int fill, unsigned char fillByte);

// Releases a block of MemAlloc; null is ignored.
VELMARIK_API void MemRelease(void* block);

// The size in bytes that was asked for when `block` (not null) was allocated.
VELMARIK_API unsigned int MemGetSize(const void* block);

// Number of blocks allocated and not yet released, for leak checks in tests.
VELMARIK_API unsigned long MemLiveBlocks();

// Owns a library block in C++ code and releases it with MemRelease.
struct MemBlockRelease {
    void operator()(void* block) const { MemRelease(block); }
};
template <typename Record>
using MemBlock = std::unique_ptr<Record, MemBlockRelease>;
