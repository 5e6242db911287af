#pragma once
// How the service objects reach their service: through the handle an object keeps when it holds
// the operation's rights, else by the open-call-close pattern, which opens the service with
// exactly the rights the operation needs, works on the handle and closes it before it returns,
// whatever happened in between.

#include <windows.h>

#include "HandleGuard.h"
#include "Platform.h"
#include "SvcCtrlMgr.h"
#include "SvcObj.h"

namespace ServicesManagement {

// What an operation came to. `Done` leaves the caller's last-error value as it was found;
// `Failed` leaves the reason: the code of the platform call that failed, or the one the operation
// chose with `FailWith` for a request that did not happen.
enum class Outcome { Done, Failed };

inline Outcome OutcomeOf(BOOL succeeded) {
    return succeeded ? Outcome::Done : Outcome::Failed;
}

inline Outcome FailWith(DWORD code) {
    ::SetLastError(code);
    return Outcome::Failed;
}

// The code the manager itself gives for a control the service does not take in `state`
// (ControlService: ERROR_SERVICE_NOT_ACTIVE for a service that has not been started,
// ERROR_SERVICE_CANNOT_ACCEPT_CTRL while it is pending, ERROR_INVALID_SERVICE_CONTROL when the
// service does not accept that control).
inline DWORD RefusedControlCode(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return ERROR_SERVICE_NOT_ACTIVE;
    case SERVICE_START_PENDING:
    case SERVICE_STOP_PENDING:
    case SERVICE_CONTINUE_PENDING:
    case SERVICE_PAUSE_PENDING:
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    default:
        return ERROR_INVALID_SERVICE_CONTROL;
    }
}

// Opens `serviceName` with `access`, hands the open handle to `work` (which returns an Outcome
// and may reopen the handle) and closes it. 1 when the work is done, else 0.
template <typename Work>
int WithService(SC_HANDLE manager, const wchar_t* serviceName, DWORD access, Work work) {
    const DWORD before = ::GetLastError();
    UniqueServiceHandle service(Os().OpenServiceW(manager, serviceName, access));
    if (!service)
        return 0;
    if (work(service) == Outcome::Failed)
        return 0;
    ::SetLastError(before);
    return 1;
}

// The kept handle is looked at and used under the connection's lock, so that a close on the
// control handler's thread waits for the work on it, and the work never meets a closed handle.
template <typename Work>
int CSvcObj::WithHandle(unsigned long access, Work work) const {
    if (m_bKeeper) {
        const DWORD before = ::GetLastError();
        const ExclusiveLock kept(&m_pSvcCtrlMgr->m_keptLock);
        if (m_hService && (m_dwServiceAccess & access) == access) {
            if (work(m_hService) == Outcome::Failed)
                return 0;
            ::SetLastError(before);
            return 1;
        }
    }
    return WithService(ManagerHandle(), m_lpServiceName, access,
                       [&](UniqueServiceHandle& service) { return work(service.get()); });
}

// One status read; the record keeps what it held when the read fails.
inline bool ReadStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    SERVICE_STATUS_PROCESS read = {};
    DWORD needed = 0;
    if (!Os().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&read),
                                   sizeof read, &needed))
        return false;
    status = read;
    return true;
}

// ControlService reports into the leading SERVICE_STATUS part of the record.
inline LPSERVICE_STATUS AsServiceStatus(SERVICE_STATUS_PROCESS& status) {
    return reinterpret_cast<LPSERVICE_STATUS>(&status);
}

} // namespace ServicesManagement
