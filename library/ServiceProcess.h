#pragma once
// Whether the process of a service may go down: the stop's kill ends it, and a debugger that exits
// ends the processes it is attached to (DebugSetProcessKillOnExit: the default). Either way the
// manager counts the service as failed (SERVICE_FAILURE_ACTIONS: a service that ends without
// reporting SERVICE_STOPPED has failed), and whatever else runs in the process goes down with it.
// One rule serves both, so that the debugger never reaches a process that the kill would spare.

#include <windows.h>

#include "HandleGuard.h"
#include "SimpleString.h"

namespace ServicesManagement {

class CSvcCtrlMgr;

// What the rule found for one process.
struct ProcessVerdict {
    // Why the process must be left alone, as the end of a French sentence; empty when it may go down.
    SimpleString reason;
    // When it may go down: what the manager may do next by the service's failure actions (restart
    // it, run a command), as the end of a French sentence; empty when it does nothing.
    SimpleString aftermath;
    // When it may go down: the process, opened with the access asked for.
    UniqueKernelHandle process;
};

// Decides for the process that `status` names. `service` is the service's handle with
// SERVICE_QUERY_STATUS and SERVICE_QUERY_CONFIG; `status` is read again once the process is held
// (its id can then no longer pass to another process) and keeps what that read gave. A reason
// leaves its code in the last-error value: the code of the read that failed, or
// ERROR_NOT_SUPPORTED for a process that must not go down.
ProcessVerdict JudgeServiceProcess(const CSvcCtrlMgr& manager, SC_HANDLE service, const wchar_t* serviceName,
                                   SERVICE_STATUS_PROCESS& status, DWORD processAccess);

// The machine's own processes, which no service's process is: the idle process and the system process.
bool IsSystemProcessId(DWORD processId);

} // namespace ServicesManagement
