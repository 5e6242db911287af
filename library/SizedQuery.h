#pragma once
// The two-call size protocol for variable-size platform records: ask for the size with no buffer,
// then read into a zero-filled library block of that size (never less than the record's fixed
// part). The block belongs to the caller (MemRelease). On success the last-error value is left as
// it was found, since the size query's expected failure is no failure of the caller's; on failure
// it holds the code of the call that failed.

#include <windows.h>

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
