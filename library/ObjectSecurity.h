#pragma once
// Security descriptors of manager and service handles, as the connection and the service objects
// read them.

#include <windows.h>

#include <iostream>

#include "Platform.h"
#include "SizedQuery.h"

// One of the four single parts of a descriptor. Anything else, combinations included, is refused
// with a message and ERROR_INVALID_PARAMETER.
inline bool IsSingleSecurityInformation(unsigned long information) {
    switch (information) {
    case OWNER_SECURITY_INFORMATION:
    case GROUP_SECURITY_INFORMATION:
    case DACL_SECURITY_INFORMATION:
    case SACL_SECURITY_INFORMATION:
        return true;
    default:
        std::wcerr << L"Wrong parameter!" << std::endl;
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
}

// One part of the descriptor of `handle`, in a block of exactly the size the platform asks for
// (null on failure); the outcome of the size query is written to standard output.
inline void* QueryTracedSecurity(SC_HANDLE handle, unsigned long information) {
    bool traced = false;
    return QueryVariableSize(
        [&](void* buffer, DWORD size, DWORD* needed) {
            const BOOL done = Os().QueryServiceObjectSecurity(handle, information, buffer, size, needed);
            if (!traced) {
                traced = true;
                LastErrorKeeper keep;
                std::wcout << L"::QueryServiceObjectSecurity ==> GetLastError() = " << ::GetLastError()
                           << L" ; BufSize = " << *needed << std::endl;
            }
            return done;
        },
        0, 0);
}
