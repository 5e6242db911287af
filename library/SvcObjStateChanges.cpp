// Starting, stopping, pausing and continuing a service, each followed by a wait for the new
// state. The waits poll the status, and take their time from the platform's 32-bit tick counter
// (differences in unsigned arithmetic, so that its wrapping does no harm) and its sleep. Each
// works on a handle of its own, never on the one the object keeps: that one is used under the
// connection's lock, and the console's control handler, which closes the connection, would wait
// for the whole wait.

#include <algorithm>
#include <iostream>
#include <memory>

#include "HandleGuard.h"
#include "Memory.h"
#include "OpenedService.h"
#include "Platform.h"
#include "ServiceProcess.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"
#include "SvcObj.h"

namespace ServicesManagement {

namespace {

// A service that reports no progress is given at least this long, or its wait hint if longer.
const DWORD MinimumProgressTimeout = 30000;
// A tenth of the wait hint, within these bounds.
const DWORD MinimumPollInterval = 200;
const DWORD MaximumPollInterval = 5000;
// A stop is waited for this long after the first status read, whatever the service reports.
const DWORD StopTimeout = 30000;
// The wait hint, within these bounds: a service that gives no hint is not asked back to back.
const DWORD MinimumStopPollInterval = 200;
const DWORD MaximumStopPollInterval = 3000;
const UINT EndedProcessExitCode = 1;

// Whether the wait for `target` goes on in `state`.
using WaitRule = bool (*)(DWORD state, DWORD target);

bool WhileStartPending(DWORD state, DWORD) {
    return state == SERVICE_START_PENDING;
}
bool UntilTarget(DWORD state, DWORD target) {
    return state != target;
}

// Why a wait ended short of its target, when no status read failed.
using ShortfallCode = DWORD (*)(const SERVICE_STATUS_PROCESS& status);

// The waits of a pause and a continue go on until the target: they end short of it only when the
// service made no progress for too long.
DWORD RanOutOfTime(const SERVICE_STATUS_PROCESS&) {
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

// Still pending, a start ran out of time; settled in another state, the service's own exit code
// says why (ERROR_SERVICE_SPECIFIC_ERROR when its code is in dwServiceSpecificExitCode), and a
// service that gave none is simply not running.
DWORD WhyNotStarted(const SERVICE_STATUS_PROCESS& status) {
    if (status.dwCurrentState == SERVICE_START_PENDING)
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    return status.dwWin32ExitCode != NO_ERROR ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
}

// Where a wait tells the caller how it goes: its progress callback, and the record it passed as
// the context, if any.
struct ProgressReceiver {
    void* context;
    SVC_PROGRESS_CALLBACK progress;
};

// Tells the caller's callback, when there is one, how one wait goes: at each poll, and once more
// when the wait ends if it told anything, so that what the caller shows goes before the next
// text. `status` is the wait's record of the last status read. Without a callback it reads
// nothing, not even the clock.
class WaitReport {
public:
    WaitReport(const wchar_t* serviceName, const SERVICE_STATUS_PROCESS& status,
               const ProgressReceiver& receiver, DWORD start)
        : m_status(status), m_receiver(receiver), m_start(start), m_record{serviceName, {}, 0, 0, 0} {}
    ~WaitReport() {
        if (m_told)
            Tell(Os().GetTickCount(), true);
    }
    WaitReport(const WaitReport&) = delete;
    WaitReport& operator=(const WaitReport&) = delete;

    // The wait gives up once `bound` ms have passed since `boundStart`.
    void Poll(DWORD boundStart, DWORD bound) {
        if (!m_receiver.progress)
            return;
        const DWORD now = Os().GetTickCount();
        m_record.boundMilliseconds = bound;
        m_record.millisecondsTowardBound = now - boundStart;
        Tell(now, false);
        m_told = true;
    }

private:
    void Tell(DWORD now, bool ended) {
        LastErrorKeeper keep;
        m_record.status = m_status;
        m_record.waitEnded = ended;
        if (m_receiver.context)
            *static_cast<SVC_WAIT_PROGRESS*>(m_receiver.context) = m_record;
        m_receiver.progress(now - m_start);
    }

    const SERVICE_STATUS_PROCESS& m_status;
    ProgressReceiver m_receiver;
    DWORD m_start;
    // The bound stays as the last poll saw it.
    SVC_WAIT_PROGRESS m_record;
    bool m_told = false;
};

// Polls until the rule lets go, a read fails, or the service has reported no progress of its
// checkpoint for its wait hint (at least MinimumProgressTimeout). Each pass sleeps a tenth of the
// wait hint read in the pass before. Done when the last status read shows the target; otherwise
// failed with the code of the read that failed, or with the one `shortfall` gives.
Outcome WaitForState(SC_HANDLE service, const wchar_t* serviceName, SERVICE_STATUS_PROCESS& status,
                     DWORD target, WaitRule goesOn, ShortfallCode shortfall,
                     const ProgressReceiver& receiver) {
    DWORD lastProgress = Os().GetTickCount();
    WaitReport report(serviceName, status, receiver, lastProgress);
    while (goesOn(status.dwCurrentState, target)) {
        const DWORD oldCheckPoint = status.dwCheckPoint;
        const DWORD pollInterval = status.dwWaitHint / 10;
        // The last successful read did not show the target, or the rule would have let go.
        if (!ReadStatus(service, status))
            return Outcome::Failed;
        const DWORD bound = std::max(status.dwWaitHint, MinimumProgressTimeout);
        if (status.dwCheckPoint > oldCheckPoint)
            lastProgress = Os().GetTickCount();
        else if (Os().GetTickCount() - lastProgress >= bound)
            break;
        if (goesOn(status.dwCurrentState, target))
            report.Poll(lastProgress, bound);
        Os().Sleep(std::clamp(pollInterval, MinimumPollInterval, MaximumPollInterval));
    }
    return status.dwCurrentState == target ? Outcome::Done : FailWith(shortfall(status));
}

// Pause and continue differ only by these.
struct RunStateChange {
    DWORD target;
    DWORD pending;
    DWORD control;
};

const RunStateChange PauseChange = {SERVICE_PAUSED, SERVICE_PAUSE_PENDING, SERVICE_CONTROL_PAUSE};
const RunStateChange ResumeChange = {SERVICE_RUNNING, SERVICE_CONTINUE_PENDING, SERVICE_CONTROL_CONTINUE};

// A service already on its way to the target is waited for, whatever it accepts meanwhile.
Outcome ChangeRunState(SC_HANDLE service, const wchar_t* serviceName, const RunStateChange& change,
                       const ProgressReceiver& receiver) {
    SERVICE_STATUS_PROCESS status = {};
    if (!ReadStatus(service, status))
        return Outcome::Failed;
    if (status.dwCurrentState == change.target)
        return Outcome::Done;
    if (status.dwCurrentState != change.pending) {
        if (!(status.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE))
            return FailWith(RefusedControlCode(status.dwCurrentState));
        if (!Os().ControlService(service, change.control, AsServiceStatus(status)))
            return Outcome::Failed;
    }
    if (!ReadStatus(service, status))
        return status.dwCurrentState == change.target ? Outcome::Done : Outcome::Failed;
    return WaitForState(service, serviceName, status, change.target, UntilTarget, RanOutOfTime, receiver);
}

// The dependent alone: those that depend on it come before it in the list being worked through.
bool StopDependent(CSvcCtrlMgr& manager, const wchar_t* name, unsigned long timeout, int killOnTimeout,
                   const ProgressReceiver& receiver) {
    const OwnedSvcObj dependent(manager.FindSvcObj(name));
    return dependent &&
           dependent->Stop(0, timeout, killOnTimeout, 0, receiver.context, receiver.progress) == 1;
}

// Stops the active dependents one after the other, writing each one's verdict. The platform lists
// every dependent, direct or not, in the reverse of the start order, so each comes after all that
// depend on it: stopping them in that order, each without its own dependents, stops every one of
// them once.
void StopActiveDependents(const CSvcObj& service, CSvcCtrlMgr& manager, unsigned long timeout,
                          int killOnTimeout, const ProgressReceiver& receiver) {
    ENUM_SERVICE_STATUSW* dependents = nullptr;
    unsigned long count = 0;
    const bool listed = service.EnumDependentServicesW(SERVICE_ACTIVE, &dependents, &count);
    // A list can come back empty in a block of its own: it is released all the same.
    const MemBlock<ENUM_SERVICE_STATUSW> list(dependents);
    if (!listed || count == 0)
        return;
    std::wcout << L"\n\nIl y a " << count << L" d\u00E9pendances actives." << std::endl;
    for (unsigned long i = 0; i < count; ++i) {
        std::wcout << dependents[i].lpServiceName << L" : ";
        const bool stopped =
            StopDependent(manager, dependents[i].lpServiceName, timeout, killOnTimeout, receiver);
        std::wcout << (stopped ? L"Succ\u00E8s" : L"Echec") << std::endl;
    }
}

// The one line that says what became of the process of a service that would not stop.
void ReportProcessEnd(const wchar_t* serviceName, DWORD processId, const SimpleString& outcome) {
    std::wcerr << L"Le processus " << processId << L" du service " << serviceName << L' '
               << static_cast<const wchar_t*>(outcome) << L"." << std::endl;
}

SimpleString Spared(const SimpleString& reason) {
    return L"n'a pas \u00E9t\u00E9 termin\u00E9 : " + reason;
}

// Ends the process of a service that would not stop, unless the rule of JudgeServiceProcess
// spares it, and says in one line what became of it. A service that stopped meanwhile needs
// nothing more: its stop succeeded.
void EndServiceProcess(SC_HANDLE service, SERVICE_STATUS_PROCESS& status, const CSvcCtrlMgr& manager,
                       const wchar_t* serviceName) {
    LastErrorKeeper keep;
    const DWORD processId = status.dwProcessId;
    const ProcessVerdict verdict = JudgeServiceProcess(manager, service, serviceName, status, PROCESS_TERMINATE);
    if (status.dwCurrentState == SERVICE_STOPPED)
        return;
    if (verdict.reason.Length() != 0) {
        ReportProcessEnd(serviceName, processId, Spared(verdict.reason));
        return;
    }
    if (!Os().TerminateProcess(verdict.process.get(), EndedProcessExitCode)) {
        const DWORD code = ::GetLastError();
        ReportProcessEnd(serviceName, processId, Spared(SimpleString::Form(L"sa fin a \u00E9chou\u00E9 (erreur %lu)", code)));
        return;
    }
    SimpleString ended(L"a \u00E9t\u00E9 termin\u00E9");
    if (verdict.aftermath.Length() != 0)
        ended += L" ; " + verdict.aftermath;
    ReportProcessEnd(serviceName, processId, ended);
}

// Polls until the service has stopped; false when more than StopTimeout ms have passed. The
// checkpoint plays no part, and a failed read leaves the record as it was (its code in
// `readFailure`).
bool PollUntilStopped(SC_HANDLE service, const wchar_t* serviceName, SERVICE_STATUS_PROCESS& status,
                      DWORD& readFailure, const ProgressReceiver& receiver) {
    const DWORD start = Os().GetTickCount();
    WaitReport report(serviceName, status, receiver, start);
    while (status.dwCurrentState != SERVICE_STOPPED) {
        report.Poll(start, StopTimeout);
        Os().Sleep(std::clamp(status.dwWaitHint, MinimumStopPollInterval, MaximumStopPollInterval));
        if (!ReadStatus(service, status))
            readFailure = ::GetLastError();
        if (Os().GetTickCount() - start > StopTimeout)
            return false;
    }
    return true;
}

Outcome WaitForStop(SC_HANDLE service, SERVICE_STATUS_PROCESS& status, const CSvcCtrlMgr& manager,
                    const wchar_t* serviceName, int killOnTimeout, const ProgressReceiver& receiver) {
    if (!ReadStatus(service, status))
        return status.dwCurrentState == SERVICE_STOPPED ? Outcome::Done : Outcome::Failed;
    DWORD readFailure = ERROR_SUCCESS;
    if (!PollUntilStopped(service, serviceName, status, readFailure, receiver) && killOnTimeout)
        EndServiceProcess(service, status, manager, serviceName);
    if (status.dwCurrentState == SERVICE_STOPPED)
        return Outcome::Done;
    // Reads that kept failing say more than the time-out they led to.
    return FailWith(readFailure != ERROR_SUCCESS ? readFailure
                                                 : static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
}

} // namespace

int CSvcObj::Start(unsigned long argumentCount, const wchar_t** arguments, unsigned long, void* context,
                   SVC_PROGRESS_CALLBACK progress) {
    return WithService(ManagerHandle(), m_lpServiceName, SERVICE_QUERY_STATUS | SERVICE_START,
                       [&](UniqueServiceHandle& service) {
                           if (!Os().StartServiceW(service.get(), argumentCount, arguments))
                               return ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? Outcome::Done
                                                                                        : Outcome::Failed;
                           SERVICE_STATUS_PROCESS status = {};
                           if (!ReadStatus(service.get(), status))
                               return Outcome::Failed;
                           return WaitForState(service.get(), m_lpServiceName, status, SERVICE_RUNNING,
                                               WhileStartPending, WhyNotStarted, {context, progress});
                       });
}

int CSvcObj::Stop(int stopDependents, unsigned long timeout, int killOnTimeout, unsigned long, void* context,
                  SVC_PROGRESS_CALLBACK progress) {
    const ProgressReceiver receiver = {context, progress};
    // The kill reads the failure actions through the same handle.
    const DWORD access = SERVICE_QUERY_STATUS | SERVICE_STOP | (killOnTimeout ? SERVICE_QUERY_CONFIG : 0);
    return WithService(
        ManagerHandle(), m_lpServiceName, access,
        [&](UniqueServiceHandle& service) {
            SERVICE_STATUS_PROCESS status = {};
            if (!ReadStatus(service.get(), status))
                return Outcome::Failed;
            if (status.dwCurrentState == SERVICE_STOPPED)
                return Outcome::Done;
            // A service already stopping is waited for even when it accepts no more controls: the
            // stop asked for is under way.
            if (status.dwCurrentState != SERVICE_STOP_PENDING) {
                if (!(status.dwControlsAccepted & SERVICE_ACCEPT_STOP))
                    return FailWith(RefusedControlCode(status.dwCurrentState));
                // A dependent that does not stop does not keep the service itself from being asked.
                if (stopDependents)
                    StopActiveDependents(*this, *m_pSvcCtrlMgr, timeout, killOnTimeout, receiver);
                if (!Os().ControlService(service.get(), SERVICE_CONTROL_STOP, AsServiceStatus(status)))
                    return Outcome::Failed;
            }
            return WaitForStop(service.get(), status, *m_pSvcCtrlMgr, m_lpServiceName, killOnTimeout,
                               receiver);
        });
}

int CSvcObj::Pause(unsigned long, void* context, SVC_PROGRESS_CALLBACK progress) {
    return WithService(
        ManagerHandle(), m_lpServiceName, SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE,
        [&](UniqueServiceHandle& service) {
            return ChangeRunState(service.get(), m_lpServiceName, PauseChange, {context, progress});
        });
}

int CSvcObj::Resume(unsigned long, void* context, SVC_PROGRESS_CALLBACK progress) {
    return WithService(
        ManagerHandle(), m_lpServiceName, SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE,
        [&](UniqueServiceHandle& service) {
            return ChangeRunState(service.get(), m_lpServiceName, ResumeChange, {context, progress});
        });
}

} // namespace ServicesManagement
