#pragma once
// Owners for the few kinds of handle the end-to-end harness opens, so that a failing assertion
// in the middle of a test still closes everything.

#include <windows.h>

#include <memory>

struct KernelHandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

struct ServiceHandleCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};

using UniqueHandle = std::unique_ptr<void, KernelHandleCloser>;
using UniqueServiceHandle = std::unique_ptr<SC_HANDLE__, ServiceHandleCloser>;
