// The attachment of a machine's registry, which the group operations need. On a remote machine
// the registry is reached through the remote-registry service: it is brought up for the
// attachment and, at detaching, put back as it was, and only then.

#include "SvcCtrlMgr.h"

#include <iostream>
#include <utility>

#include "Memory.h"
#include "Platform.h"
#include "StringFunctions.h"

namespace ServicesManagement {

namespace {

const wchar_t RemoteRegistryService[] = L"RemoteRegistry";

// Flags of m_dwRemoteRegistryChanges. Each is set before its change is asked for, so that
// whatever ends the program meanwhile (the control handler included) puts it back.
const unsigned long RemoteRegistryStarted = 1;
const unsigned long RemoteRegistryResumed = 2;
const unsigned long RemoteRegistryStartTypeLifted = 4;

int SetStartType(CSvcObj& service, unsigned long startType) {
    return service.ChangeConfig(SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr);
}

// Puts a lifted start type back to disabled; on failure the flag stays, for a later try.
bool RestoreStartType(CSvcObj& service, unsigned long& changes) {
    if (!(changes & RemoteRegistryStartTypeLifted))
        return true;
    if (!SetStartType(service, SERVICE_DISABLED))
        return false;
    changes &= ~RemoteRegistryStartTypeLifted;
    return true;
}

// Starts a stopped service, lifting a disabled start type only for the time of the start.
void StartForAttachment(CSvcObj& service, unsigned long& changes) {
    QUERY_SERVICE_CONFIGW* config = nullptr;
    if (service.QueryConfig(&config)) {
        const bool disabled = config->dwStartType == SERVICE_DISABLED;
        MemRelease(config);
        if (disabled) {
            changes |= RemoteRegistryStartTypeLifted;
            if (!SetStartType(service, SERVICE_DEMAND_START))
                changes &= ~RemoteRegistryStartTypeLifted;
        }
    }
    changes |= RemoteRegistryStarted;
    if (!service.Start(0, nullptr, 0, nullptr, nullptr))
        changes &= ~RemoteRegistryStarted;
    RestoreStartType(service, changes);
}

// Brings the service up when it is stopped or paused, recording what it changes in `changes`.
void BringUp(CSvcObj& service, unsigned long& changes) {
    SERVICE_STATUS_PROCESS status = {};
    if (!service.FastQueryStatus(&status))
        return;
    switch (status.dwCurrentState) {
    case SERVICE_STOPPED:
    case SERVICE_STOP_PENDING:
        StartForAttachment(service, changes);
        break;
    case SERVICE_PAUSE_PENDING:
    case SERVICE_PAUSED:
        changes |= RemoteRegistryResumed;
        if (!service.Resume(0, nullptr, nullptr))
            changes &= ~RemoteRegistryResumed;
        break;
    default:
        break;
    }
}

// With the platform's code when the failure left one (a stop that timed out leaves none).
void ReportFailedPutBack(const wchar_t* machineName, const wchar_t* what) {
    const DWORD code = ::GetLastError();
    std::wcerr << L"Le service " << RemoteRegistryService << L" de " << machineName << L" n'a pas pu \u00EAtre "
               << what;
    if (code != ERROR_SUCCESS)
        std::wcerr << L" (erreur " << code << L")";
    std::wcerr << L"." << std::endl;
}

// The start type first, in one call: the control handler of a closing window has only a few
// seconds. The service alone is stopped again: its dependents are no change of ours, and its
// process, which it usually shares with other services, is never ended. What is put back leaves
// `changes`; what is not stays there for the next try.
void PutBack(CSvcObj& service, unsigned long& changes, const wchar_t* machineName) {
    ::SetLastError(ERROR_SUCCESS);
    if (!RestoreStartType(service, changes))
        ReportFailedPutBack(machineName, L"remis \u00E0 l'\u00E9tat d\u00E9sactiv\u00E9");
    ::SetLastError(ERROR_SUCCESS);
    if (changes & RemoteRegistryStarted) {
        if (service.Stop(0, 120000, 0, 0, nullptr, nullptr))
            changes &= ~RemoteRegistryStarted;
        else
            ReportFailedPutBack(machineName, L"arr\u00EAt\u00E9 de nouveau");
    } else if (changes & RemoteRegistryResumed) {
        if (service.Pause(0, nullptr, nullptr))
            changes &= ~RemoteRegistryResumed;
        else
            ReportFailedPutBack(machineName, L"suspendu de nouveau");
    }
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
    if (IsLocal()) {
        m_hRegistryKey = rootKey;
        return 1;
    }
    // Bringing the service up may fail silently: only the registry connection decides.
    const DWORD before = ::GetLastError();
    const bool wasLocked = __ReleaseLockIfLocked();
    if (CSvcObj* service = FindSvcObj(RemoteRegistryService)) {
        BringUp(*service, m_dwRemoteRegistryChanges);
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
    // The key goes first: once the service is stopped again, the channel under it is gone. The
    // control handler may have closed the connection while a group command was attaching the
    // registry: the key that the command attached afterwards is still closed here.
    const HKEY key = std::exchange(m_hRegistryKey, nullptr);
    const int closed = key && Os().RegCloseKey(key) == ERROR_SUCCESS ? 1 : 0;
    if (m_hSCManager)
        PutBackRemoteRegistry();
    return closed;
}

int CSvcCtrlMgr::PutBackRemoteRegistry() {
    if (m_dwRemoteRegistryChanges == 0)
        return 1;
    if (!m_hSCManager)
        return 0;
    const DWORD before = ::GetLastError();
    const bool wasLocked = __ReleaseLockIfLocked();
    if (CSvcObj* service = FindSvcObj(RemoteRegistryService)) {
        PutBack(*service, m_dwRemoteRegistryChanges, m_szMachineName);
        ReleaseSvcObj(service);
    } else {
        ReportFailedPutBack(m_szMachineName, L"remis dans son \u00E9tat");
    }
    ::SetLastError(before);
    if (wasLocked)
        __RetakeLock();
    return m_dwRemoteRegistryChanges == 0 ? 1 : 0;
}

} // namespace ServicesManagement
