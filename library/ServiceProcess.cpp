// The rule that decides whether a service's process may go down (the stop's kill, the debugger).

#include "ServiceProcess.h"

#include "FailureActionType.h"
#include "Memory.h"
#include "OpenedService.h"
#include "Platform.h"
#include "PrivilegeHold.h"
#include "SizedQuery.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"

namespace ServicesManagement {

namespace {

const DWORD IdleProcessId = 0;
const DWORD SystemProcessId = 4;

const wchar_t SystemProcessReason[] = L"c'est un processus du syst\u00E8me";

// Why a process is left alone, and the code that says it.
struct Refusal {
    SimpleString reason;
    DWORD code = ERROR_SUCCESS;
};

Refusal NotSupported(const SimpleString& reason) {
    return {reason, ERROR_NOT_SUPPORTED};
}

// A read that failed: its code goes into the reason and stays the refusal's.
Refusal FailedRead(const wchar_t* what) {
    const DWORD code = ::GetLastError();
    return {what + SimpleString::Form(L" (erreur %lu)", code), code};
}

// What the manager does when the service fails, by kind of action.
struct FailureActionKinds {
    bool reboot = false;
    bool restart = false;
    bool command = false;
};

// False, with the read's code, when the failure actions cannot be read. A system that does not
// know their level (ERROR_INVALID_LEVEL) has none to run.
bool ReadFailureActionKinds(SC_HANDLE service, FailureActionKinds& kinds) {
    const MemBlock<SERVICE_FAILURE_ACTIONSW> actions(static_cast<SERVICE_FAILURE_ACTIONSW*>(QueryVariableSize(
        [&](void* buffer, DWORD size, DWORD* needed) {
            return Os().QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, static_cast<LPBYTE>(buffer),
                                             size, needed);
        },
        ERROR_INSUFFICIENT_BUFFER, sizeof(SERVICE_FAILURE_ACTIONSW), UsualRecordBytes)));
    if (!actions)
        return ::GetLastError() == ERROR_INVALID_LEVEL;
    for (DWORD i = 0; actions->lpsaActions && i < actions->cActions; ++i) {
        switch (ActionTypeNumber(actions->lpsaActions[i])) {
        case SC_ACTION_REBOOT:
            kinds.reboot = true;
            break;
        case SC_ACTION_RESTART:
            kinds.restart = true;
            break;
        case SC_ACTION_RUN_COMMAND:
            kinds.command = true;
            break;
        default:
            break;
        }
    }
    return true;
}

// Which action runs depends on how often the service failed lately, which only the manager knows.
SimpleString Aftermath(const FailureActionKinds& kinds) {
    if (!kinds.restart && !kinds.command)
        return SimpleString();
    SimpleString text(L"le gestionnaire de services peut maintenant ");
    if (kinds.restart)
        text += L"red\u00E9marrer le service";
    if (kinds.restart && kinds.command)
        text += L" ou ";
    if (kinds.command)
        text += L"ex\u00E9cuter sa commande en cas d'\u00E9chec";
    return text + L", selon ses actions en cas d'\u00E9chec";
}

// The other active services whose process is `processId`, named and separated by commas in
// `others`; false when the active services cannot be listed.
bool OtherServicesOfProcess(const CSvcCtrlMgr& manager, const wchar_t* serviceName, DWORD processId,
                            SimpleString& others) {
    ENUM_SERVICE_STATUS_PROCESSW* services = nullptr;
    unsigned long count = 0;
    if (!manager.EnumServicesWithEnumerateRight(SERVICE_WIN32, SERVICE_ACTIVE, &services, &count))
        return false;
    const MemBlock<ENUM_SERVICE_STATUS_PROCESSW> list(services);
    for (unsigned long i = 0; i < count; ++i) {
        if (services[i].ServiceStatusProcess.dwProcessId != processId ||
            StrIComp(services[i].lpServiceName, serviceName) == 0)
            continue;
        if (others.Length() != 0)
            others += L", ";
        others += services[i].lpServiceName;
    }
    return true;
}

// IsProcessCritical: a system that lacks the call (before Windows 8.1) cannot tell, and the
// other checks stand alone; one that has it and fails leaves the doubt, which spares the process.
bool MayBeCritical(HANDLE process) {
    BOOL critical = FALSE;
    if (Os().IsProcessCritical(process, &critical))
        return critical != FALSE;
    return ::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
}

// The processes of services that run as LocalSystem open only under the debug privilege.
HANDLE OpenServiceProcess(DWORD processId, DWORD access) {
    const PrivilegeHold debug(L"SeDebugPrivilege", true);
    return Os().OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
}

// The checks once the process is held.
Refusal RefusalOnceHeld(const CSvcCtrlMgr& manager, SC_HANDLE service, const wchar_t* serviceName,
                        SERVICE_STATUS_PROCESS& status, HANDLE process) {
    const DWORD processId = status.dwProcessId;
    if (!ReadStatus(service, status))
        return FailedRead(L"l'\u00E9tat du service n'a pas pu \u00EAtre relu");
    if (status.dwProcessId != processId)
        return NotSupported(L"le service n'y tourne plus");
    SimpleString others;
    if (!OtherServicesOfProcess(manager, serviceName, processId, others))
        return FailedRead(L"les services qu'il h\u00E9berge n'ont pas pu \u00EAtre list\u00E9s");
    if (others.Length() != 0)
        return NotSupported(L"il h\u00E9berge aussi " + others);
    if (MayBeCritical(process))
        return NotSupported(SystemProcessReason);
    return Refusal();
}

Refusal RefusalOf(const CSvcCtrlMgr& manager, SC_HANDLE service, const wchar_t* serviceName,
                  SERVICE_STATUS_PROCESS& status, DWORD processAccess, FailureActionKinds& kinds,
                  UniqueKernelHandle& process) {
    // The process id names a process of the manager's machine, which is not this one.
    if (!manager.IsLocal()) {
        _SCM_PROPERTIES properties;
        manager.GetProperties(&properties);
        return NotSupported(L"il tourne sur un autre ordinateur (" + properties.szMachineName + L")");
    }
    if (IsSystemProcessId(status.dwProcessId) || (status.dwServiceFlags & SERVICE_RUNS_IN_SYSTEM_PROCESS))
        return NotSupported(SystemProcessReason);
    if (!ReadFailureActionKinds(service, kinds))
        return FailedRead(L"ses actions en cas d'\u00E9chec n'ont pas pu \u00EAtre lues");
    if (kinds.reboot)
        return NotSupported(
            L"le gestionnaire de services red\u00E9marrerait l'ordinateur, selon ses actions en cas d'\u00E9chec");
    process.reset(OpenServiceProcess(status.dwProcessId, processAccess));
    if (!process)
        return FailedRead(L"il n'a pas pu \u00EAtre ouvert");
    return RefusalOnceHeld(manager, service, serviceName, status, process.get());
}

} // namespace

bool IsSystemProcessId(DWORD processId) {
    return processId == IdleProcessId || processId == SystemProcessId;
}

ProcessVerdict JudgeServiceProcess(const CSvcCtrlMgr& manager, SC_HANDLE service, const wchar_t* serviceName,
                                   SERVICE_STATUS_PROCESS& status, DWORD processAccess) {
    ProcessVerdict verdict;
    FailureActionKinds kinds;
    const Refusal refusal = RefusalOf(manager, service, serviceName, status, processAccess, kinds, verdict.process);
    if (refusal.reason.Length() != 0) {
        verdict.process.reset();
        verdict.reason = refusal.reason;
        ::SetLastError(refusal.code);
        return verdict;
    }
    verdict.aftermath = Aftermath(kinds);
    return verdict;
}

} // namespace ServicesManagement
