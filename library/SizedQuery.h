#pragma once
// The two-call size protocol for variable-size platform records: ask for the size with no buffer,
// then read into a zero-filled library block of that size (never less than the record's fixed
// part). The block belongs to the caller (MemRelease). On success the last-error value is left as
// it was found, since the size query's expected failure is no failure of the caller's; on failure
// it holds the code of the call that failed.

#include <windows.h>

#include "Memory.h"

// `call(buffer, size, &needed)` returns non-zero on success. `expectedError` is the code that the
// size query must leave for the protocol to go on (0: any failure goes on).
template <typename Call>
void* QueryVariableSize(Call call, DWORD expectedError, DWORD minimumSize) {
    const DWORD before = ::GetLastError();
    DWORD needed = 0;
    if (call(nullptr, 0, &needed)) {
        needed = 0;
    } else if (expectedError != 0 && ::GetLastError() != expectedError) {
        return nullptr;
    }
    const DWORD size = needed < minimumSize ? minimumSize : needed;
    void* block = MemAlloc(size, 1, 0);
    if (!call(block, size, &needed)) {
        const DWORD failure = ::GetLastError();
        MemRelease(block);
        ::SetLastError(failure);
        return nullptr;
    }
    ::SetLastError(before);
    return block;
}
