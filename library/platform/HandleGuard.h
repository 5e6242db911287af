#pragma once
// One move-only owner for every kind of platform handle: the close runs through the platform
// layer and never changes the thread's last-error value, so an early return after a failed call
// still reports that call's code.

#include <utility>

#include "Platform.h"

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() : m_h(Traits::Invalid()) {}
    explicit UniqueHandle(Handle h) : m_h(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return m_h; }
    explicit operator bool() const { return m_h != Traits::Invalid(); }
    // For out-parameters: closes what is held and hands out the slot.
    Handle* put() {
        reset();
        return &m_h;
    }
    Handle release() { return std::exchange(m_h, Traits::Invalid()); }
    void reset(Handle h = Traits::Invalid()) {
        Handle old = std::exchange(m_h, h);
        if (old != Traits::Invalid()) {
            LastErrorKeeper keep;
            Traits::Close(old);
        }
    }

private:
    Handle m_h;
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { Os().CloseHandle(h); }
};

struct SidTraits {
    using Handle = PSID;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { Os().FreeSid(h); }
};

struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { Os().LocalFree(h); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { Os().CloseServiceHandle(h); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { Os().RegCloseKey(h); }
};

// Tokens, processes, events.
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueSid = UniqueHandle<SidTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
// Service control manager and service handles.
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;

// Holds a lock of the platform's for its scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(PSRWLOCK lock) : m_lock(lock) { Os().AcquireSRWLockExclusive(m_lock); }
    ~ExclusiveLock() { Os().ReleaseSRWLockExclusive(m_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    PSRWLOCK m_lock;
};
