#pragma once
// The open-call-close pattern of the service objects: an object holds no handle, so each
// operation opens its service with exactly the rights it needs, works on the handle and closes it
// before it returns, whatever happened in between.

#include <windows.h>

#include "HandleGuard.h"
#include "Platform.h"

namespace ServicesManagement {

// What an operation came to. `NotDone` is a result of 0 that no platform call caused (a refused
// control, a wait that ended in another state): like `Done`, it leaves the caller's last-error
// value as it was found. `Failed` leaves the code of the platform call that failed.
enum class Outcome { Done, NotDone, Failed };

inline Outcome OutcomeOf(BOOL succeeded) {
    return succeeded ? Outcome::Done : Outcome::Failed;
}

// Opens `serviceName` with `access`, hands the open handle to `work` (which returns an Outcome
// and may reopen the handle) and closes it. 1 when the work is done, else 0.
template <typename Work>
int WithService(SC_HANDLE manager, const wchar_t* serviceName, DWORD access, Work work) {
    const DWORD before = ::GetLastError();
    UniqueServiceHandle service(Os().OpenServiceW(manager, serviceName, access));
    if (!service)
        return 0;
    const Outcome outcome = work(service);
    if (outcome != Outcome::Failed)
        ::SetLastError(before);
    return outcome == Outcome::Done ? 1 : 0;
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
