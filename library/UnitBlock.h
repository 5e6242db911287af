#pragma once
// Zero-filled library blocks counted in UTF-16 units, for the string code.

#include <cstdint>
#include <limits>
#include <new>

#include "Memory.h"

// The count is taken 64 bits wide so that a sum of string lengths and reserved units cannot wrap
// around into a short block; a size that MemAlloc cannot express is an exhaustion like any other.
inline wchar_t* AllocateUnits(std::uint64_t units) {
    if (units > std::numeric_limits<unsigned int>::max() / sizeof(wchar_t)) {
        throw std::bad_alloc();
    }
    return static_cast<wchar_t*>(MemAlloc(static_cast<unsigned int>(units * sizeof(wchar_t)), 1, 0));
}
