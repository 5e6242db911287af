#include "StringFunctions.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <limits>

#include "UnitBlock.h"

namespace {

// Every function reads a null argument as the empty string.
const wchar_t* OrEmpty(const wchar_t* s) {
    return s ? s : L"";
}

wchar_t Unchanged(wchar_t c) {
    return c;
}

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// Difference of the first units, within `limit`, that differ after `fold`; it stops at the end of
// the strings. The units are unsigned, so the sign is that of an unsigned comparison.
template <typename Fold>
int FoldedDifference(const wchar_t* a, const wchar_t* b, std::size_t limit, Fold fold) {
    a = OrEmpty(a);
    b = OrEmpty(b);
    for (std::size_t i = 0; i < limit; ++i) {
        const int unitA = fold(a[i]);
        const int unitB = fold(b[i]);
        if (unitA != unitB || unitA == 0) {
            return unitA - unitB;
        }
    }
    return 0;
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

bool IsIn(wchar_t c, unsigned int first, unsigned int last) {
    return c >= first && c <= last;
}

// Units of s before its terminator, looking at no more than `limit` of them.
unsigned int BoundedLength(const wchar_t* s, unsigned int limit) {
    unsigned int length = 0;
    while (length < limit && s[length]) {
        ++length;
    }
    return length;
}

} // namespace

unsigned int StrLen(const wchar_t* s) {
    return s ? static_cast<unsigned int>(std::wcslen(s)) : 0;
}

int StrComp(const wchar_t* a, const wchar_t* b) {
    return Sign(FoldedDifference(a, b, kUnlimited, Unchanged));
}

int StrNComp(const wchar_t* a, const wchar_t* b, unsigned int n) {
    return FoldedDifference(a, b, n, Unchanged);
}

int StrIComp(const wchar_t* a, const wchar_t* b) {
    return FoldedDifference(a, b, kUnlimited, ToLower);
}

int StrNIComp(const wchar_t* a, const wchar_t* b, unsigned int n) {
    return FoldedDifference(a, b, n, ToLower);
}

wchar_t* StrDup(const wchar_t* s) {
    if (!s) {
        return nullptr;
    }
    return StrNDup(s, StrLen(s), 0, 0);
}

wchar_t* StrNDup(const wchar_t* s, unsigned int count, unsigned int before, unsigned int after) {
    if (!s) {
        return AllocateUnits(1);
    }
    count = BoundedLength(s, count);
    wchar_t* block = AllocateUnits(std::uint64_t{before} + count + after + 1);
    std::copy_n(s, count, block + before);
    return block;
}

wchar_t* StrCat(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) {
        return StrDup(a ? a : b);
    }
    const unsigned int lengthA = StrLen(a);
    const unsigned int lengthB = StrLen(b);
    wchar_t* block = AllocateUnits(std::uint64_t{lengthA} + lengthB + 1);
    std::copy_n(b, lengthB, std::copy_n(a, lengthA, block));
    return block;
}

// The letters of Windows-1252, applied to UTF-16 code units.
wchar_t ToUpper(wchar_t c) {
    if (IsIn(c, 0x61, 0x7A) || (IsIn(c, 0xE0, 0xFE) && c != 0xF7)) {
        return static_cast<wchar_t>(c - 0x20);
    }
    if (c == 0x9A || c == 0x9C || c == 0x9E) {
        return static_cast<wchar_t>(c - 0x10);
    }
    return c;
}

wchar_t ToLower(wchar_t c) {
    if (IsIn(c, 0x41, 0x5A) || (IsIn(c, 0xC0, 0xDE) && c != 0xD7)) {
        return static_cast<wchar_t>(c + 0x20);
    }
    if (c == 0x8A || c == 0x8C || c == 0x8E) {
        return static_cast<wchar_t>(c + 0x10);
    }
    return c;
}

unsigned int MultiStrLen(const wchar_t* m) {
    if (!m) {
        return 0;
    }
    const wchar_t* end = m;
    while (*end) {
        end += std::wcslen(end) + 1;
    }
    return static_cast<unsigned int>(end - m);
}
