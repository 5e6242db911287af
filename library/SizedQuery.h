#pragma once
// The two-call size protocol for variable-size platform records: ask for the size with no buffer,
// then read into a zero-filled library block of that size (never less than the record's fixed
// part). The block belongs to the caller (MemRelease). On success the last-error value is left as
// it was found, since the size query's expected failure is no failure of the caller's; on failure
// it holds the code of the call that failed. Records that the platform hands out in pages (the
// service enumerations) are read with the same size query and then one block per page.

#include <windows.h>

#include <algorithm>

#include "Memory.h"

// Room for the usual configuration, description, status and lock-status records: read into a
// block this size first, they cost one round trip.
constexpr DWORD UsualRecordBytes = 2048;

// A new zero-filled block of `size` bytes read by `call`; null (with the call's code) on failure.
template <typename Call>
void* ReadIntoNewBlock(Call& call, DWORD size, DWORD* needed) {
    void* block = MemAlloc(size, 1, 0);
    if (call(block, size, needed))
        return block;
    const DWORD failure = ::GetLastError();
    MemRelease(block);
    ::SetLastError(failure);
    return nullptr;
}

// `call(buffer, size, &needed)` returns non-zero on success. `expectedError` is the code that the
// size query must leave for the protocol to go on (0: any failure goes on). A non-zero `firstTry`
// makes the size query a read into a block of that many bytes: records that usually fit are then
// read in one round trip, and a larger one costs no more than the two calls.
template <typename Call>
void* QueryVariableSize(Call call, DWORD expectedError, DWORD minimumSize, DWORD firstTry = 0) {
    const DWORD before = ::GetLastError();
    DWORD needed = 0;
    void* block = nullptr;
    bool sizeQueryFailed = false;
    if (firstTry) {
        block = ReadIntoNewBlock(call, firstTry < minimumSize ? minimumSize : firstTry, &needed);
        sizeQueryFailed = !block;
    } else if (!call(nullptr, 0, &needed)) {
        sizeQueryFailed = true;
    } else {
        needed = 0;
    }
    if (sizeQueryFailed && expectedError != 0 && ::GetLastError() != expectedError)
        return nullptr;
    if (!block)
        block = ReadIntoNewBlock(call, needed < minimumSize ? minimumSize : needed, &needed);
    if (block)
        ::SetLastError(before);
    return block;
}

// Paged records: each read fills what fits of the records left and, while more remain, fails with
// ERROR_MORE_DATA, reports the bytes of the rest in `needed` and moves the call's own resume handle
// on. After the size query (whose result, as above, is not looked at), every page is read into a
// new zero-filled block of the size last reported, kept between `minimumSize` and `maximumSize`,
// and handed to `takePage(block)`, which owns it from then on and tells whether it brought any
// record not read before. A page that brought none (the records grew between two reads) is asked
// for again with twice the room; at `maximumSize` it would be asked for forever, and the read
// fails with ERROR_MORE_DATA instead. True once the last page is taken.
template <typename Call, typename TakePage>
bool ReadPages(Call call, DWORD minimumSize, DWORD maximumSize, TakePage takePage) {
    const DWORD before = ::GetLastError();
    DWORD needed = 0;
    if (call(nullptr, 0, &needed))
        needed = 0;
    DWORD size = std::clamp(needed, minimumSize, maximumSize);
    for (;;) {
        void* block = MemAlloc(size, 1, 0);
        const bool last = call(block, size, &needed) != 0;
        if (!last && ::GetLastError() != ERROR_MORE_DATA) {
            const DWORD failure = ::GetLastError();
            MemRelease(block);
            ::SetLastError(failure);
            return false;
        }
        const bool progressed = takePage(block);
        if (last) {
            ::SetLastError(before);
            return true;
        }
        if (!progressed && size == maximumSize) {
            ::SetLastError(ERROR_MORE_DATA);
            return false;
        }
        const DWORD wanted =
            progressed ? needed : std::max(needed, size > maximumSize / 2 ? maximumSize : size * 2);
        size = std::clamp(wanted, minimumSize, maximumSize);
    }
}
