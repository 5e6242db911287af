// The attachment of a machine's registry, which the group operations need. On a remote machine
// the registry is reached through the remote-registry service: it is brought up for the
// attachment and, at detaching, put back as it was, and only then.

#include "SvcCtrlMgr.h"

#include "Memory.h"
#include "Platform.h"
#include "StringFunctions.h"

namespace ServicesManagement {

namespace {

const wchar_t RemoteRegistryService[] = L"RemoteRegistry";

// Flags of m_dwRemoteRegistryChanges.
const unsigned long RemoteRegistryStarted = 1;
const unsigned long RemoteRegistryResumed = 2;

int SetStartType(CSvcObj& service, unsigned long startType) {
    return service.ChangeConfig(SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr);
}

// Starts a stopped service, lifting a disabled start type only for the time of the start.
unsigned long StartForAttachment(CSvcObj& service) {
    bool reenable = false;
    QUERY_SERVICE_CONFIGW* config = nullptr;
    if (service.QueryConfig(&config)) {
        if (config->dwStartType == SERVICE_DISABLED)
            reenable = SetStartType(service, SERVICE_DEMAND_START) != 0;
        MemRelease(config);
    }
    const int started = service.Start(0, nullptr, 0, nullptr, nullptr);
    if (reenable)
        SetStartType(service, SERVICE_DISABLED);
    return started ? RemoteRegistryStarted : 0;
}

// Brings the service up when it is stopped or paused; returns what was changed.
unsigned long BringUp(CSvcObj& service) {
    SERVICE_STATUS_PROCESS status = {};
    if (!service.FastQueryStatus(&status))
        return 0;
    switch (status.dwCurrentState) {
    case SERVICE_STOPPED:
    case SERVICE_STOP_PENDING:
        return StartForAttachment(service);
    case SERVICE_PAUSE_PENDING:
    case SERVICE_PAUSED:
        return service.Resume(0, nullptr, nullptr) ? RemoteRegistryResumed : 0;
    default:
        return 0;
    }
}

void PutBack(CSvcObj& service, unsigned long changes) {
    if (changes & RemoteRegistryStarted)
        service.Stop(1, 120000, 1, 0, nullptr, nullptr);
    else if (changes & RemoteRegistryResumed)
        service.Pause(0, nullptr, nullptr);
}

} // namespace

bool CSvcCtrlMgr::__ReleaseLockIfLocked() {
    QUERY_SERVICE_LOCK_STATUSW* status = nullptr;
    if (!QueryLockStatus(&status))
        return false;
    const bool locked = status->fIsLocked != 0;
    MemRelease(status);
    if (locked && m_hLock) {
        Os().UnlockServiceDatabase(m_hLock);
        m_hLock = nullptr;
    }
    return locked;
}

void CSvcCtrlMgr::__RetakeLock() {
    SC_LOCK lock = Os().LockServiceDatabase(m_hSCManager);
    const DWORD failure = ::GetLastError();
    if (lock || failure != ERROR_SERVICE_DATABASE_LOCKED)
        m_hLock = lock;
    if (!m_hLock)
        ::SetLastError(failure);
}

int CSvcCtrlMgr::__StartRemoteRegistryService(HKEY rootKey) {
    if (m_hRegistryKey) {
        Os().RegCloseKey(m_hRegistryKey);
        m_hRegistryKey = nullptr;
    }
    if (IsLocalMachine(m_szMachineName)) {
        m_hRegistryKey = rootKey;
        return 1;
    }
    // Bringing the service up may fail silently: only the registry connection decides.
    const DWORD before = ::GetLastError();
    const bool wasLocked = __ReleaseLockIfLocked();
    if (CSvcObj* service = FindSvcObj(RemoteRegistryService)) {
        m_dwRemoteRegistryChanges |= BringUp(*service);
        ReleaseSvcObj(service);
    }
    ::SetLastError(before);
    if (wasLocked)
        __RetakeLock();
    SimpleString target(m_szMachineName);
    if (target.Length() != 0 && StrNIComp(target, L"\\\\", 2) != 0)
        target = L"\\\\" + target;
    // The key is kept only once it is known to be open; a failure's code is the command's reason.
    HKEY remoteRoot = nullptr;
    const LSTATUS status = Os().RegConnectRegistryW(target, rootKey, &remoteRoot);
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return 0;
    }
    m_hRegistryKey = remoteRoot;
    return 1;
}

int CSvcCtrlMgr::__StopRemoteRegistryService() {
    if (!m_hSCManager)
        return 0;
    if (m_dwRemoteRegistryChanges != 0) {
        const DWORD before = ::GetLastError();
        const bool wasLocked = __ReleaseLockIfLocked();
        if (CSvcObj* service = FindSvcObj(RemoteRegistryService)) {
            PutBack(*service, m_dwRemoteRegistryChanges);
            ReleaseSvcObj(service);
        }
        m_dwRemoteRegistryChanges = 0;
        ::SetLastError(before);
        if (wasLocked)
            __RetakeLock();
    }
    HKEY key = m_hRegistryKey;
    m_hRegistryKey = nullptr;
    return key && Os().RegCloseKey(key) == ERROR_SUCCESS ? 1 : 0;
}

} // namespace ServicesManagement
