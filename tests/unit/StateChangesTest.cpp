#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "FakePlatform.h"
#include "OutputCapture.h"
#include "SvcCtrlMgr.h"
#include "SvcObj.h"

using namespace ServicesManagement;

namespace {

// A value no platform call leaves behind: it shows what an operation did to the last-error value.
const DWORD Marker = 0xBEEF;
const DWORD ProcessId = 4242;
const DWORD NearTheWrap = 0xFFFFFFFF - 10000;

SERVICE_STATUS_PROCESS Status(DWORD state, DWORD accepted, DWORD checkPoint = 0, DWORD waitHint = 0) {
    return {SERVICE_WIN32_OWN_PROCESS, state, accepted, 0, 0, checkPoint, waitHint, ProcessId, 0};
}

using Terminations = std::vector<std::pair<DWORD, UINT>>;

std::vector<DWORD> Sleeps(size_t count, DWORD milliseconds) { return std::vector<DWORD>(count, milliseconds); }

// A service that reports START_PENDING with a checkpoint that grows at every read, for longer
// than the time-out of a service that makes no progress, and then runs.
std::deque<SERVICE_STATUS_PROCESS> SlowButSteadyStart() {
    std::deque<SERVICE_STATUS_PROCESS> statuses;
    for (DWORD checkPoint = 1; checkPoint <= 200; ++checkPoint)
        statuses.push_back(Status(SERVICE_START_PENDING, 0, checkPoint, 0));
    statuses.push_back(Status(SERVICE_RUNNING, SERVICE_ACCEPT_STOP));
    return statuses;
}

// A service that has stopped with these exit codes.
SERVICE_STATUS_PROCESS StoppedWith(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
    SERVICE_STATUS_PROCESS status = Status(SERVICE_STOPPED, 0);
    status.dwWin32ExitCode = win32ExitCode;
    status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    return status;
}

// The codes a state change leaves when the service does not reach the state asked for.
const DWORD Timeout = ERROR_SERVICE_REQUEST_TIMEOUT;
const DWORD NotActive = ERROR_SERVICE_NOT_ACTIVE;
const DWORD NotNow = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
const DWORD NotAccepted = ERROR_INVALID_SERVICE_CONTROL;
const DWORD Denied = ERROR_ACCESS_DENIED;

const DWORD Stop = SERVICE_ACCEPT_STOP;
const DWORD PauseContinue = SERVICE_ACCEPT_PAUSE_CONTINUE;

// A simulated machine with a connection to it and the object of its service "Spooler", whose
// status reads take the scripted statuses one after the other (the last one stays).
struct Machine {
    explicit Machine(std::deque<SERVICE_STATUS_PROCESS> statuses = {}, const wchar_t* name = nullptr)
        : spooler(fake.AddService(L"Spooler")), manager(name, nullptr, SC_MANAGER_ALL_ACCESS),
          service(&manager, L"Spooler") {
        spooler.scriptedStatuses = std::move(statuses);
        fake.runningProcesses = {ProcessId};
    }
    ~Machine() {
        EXPECT_EQ(fake.OpenServiceHandles(), 0u) << "service handles left open";
        EXPECT_EQ(fake.OpenHandles(), 0u) << "process handles left open";
    }

    FakePlatform fake;
    FakeService& spooler;
    CSvcCtrlMgr manager;
    CService service;
};

// What a wait told its progress callback at one call: the milliseconds, then the record's service,
// state, checkpoint, bound, milliseconds toward the bound and end mark.
using Told = std::tuple<unsigned long, std::wstring, DWORD, DWORD, unsigned long, unsigned long, int>;

// The progress callback of the tests and the record it is given. Each call spoils the last-error
// value, which the state change must undo.
class ProgressRecorder {
public:
    ProgressRecorder() { s_current = this; }
    ~ProgressRecorder() { s_current = nullptr; }
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;

    static void Callback(unsigned long waited) { s_current->Record(waited); }

    SVC_WAIT_PROGRESS record = {};
    std::vector<unsigned long> waits;
    std::vector<Told> told;

private:
    void Record(unsigned long waited) {
        waits.push_back(waited);
        told.emplace_back(waited, record.serviceName ? record.serviceName : L"", record.status.dwCurrentState,
                          record.status.dwCheckPoint, record.boundMilliseconds,
                          record.millisecondsTowardBound, record.waitEnded);
        ::SetLastError(ERROR_GEN_FAILURE);
    }

    static ProgressRecorder* s_current;
};
ProgressRecorder* ProgressRecorder::s_current = nullptr;

// A state change made either without a callback, as before, or with the recorder's.
class Reporting {
public:
    explicit Reporting(bool on) : m_on(on) {}
    void* Context() { return m_on ? &m_recorder.record : nullptr; }
    SVC_PROGRESS_CALLBACK Callback() const { return m_on ? ProgressRecorder::Callback : nullptr; }

private:
    bool m_on;
    ProgressRecorder m_recorder;
};

using StateChangesTest = ::testing::Test;

TEST_F(StateChangesTest, StartWaitsWhileTheServiceMakesProgress) {
    const SERVICE_STATUS_PROCESS pending = Status(SERVICE_START_PENDING, 0, 5, 0);
    const struct {
        const char* label;
        std::deque<SERVICE_STATUS_PROCESS> statuses;
        DWORD startTick;
        // The status read that fails, counted from 1 (0: none).
        int failingRead;
        int result;
        // The last-error value left (0: the caller's, untouched).
        DWORD error;
        std::vector<DWORD> sleeps;
    } cases[] = {
        {"short wait hints poll every 200 ms",
         {Status(SERVICE_START_PENDING, 0, 1, 2000), Status(SERVICE_START_PENDING, 0, 2, 2000), Status(SERVICE_RUNNING, 0)},
         0, 0, 1, 0, Sleeps(2, 200)},
        {"long ones every 5000 ms until the hint has passed", {Status(SERVICE_START_PENDING, 0, 5, 60000)}, 0, 0, 0,
         Timeout, Sleeps(12, 5000)},
        {"no progress for 30000 ms", {pending}, 0, 0, 0, Timeout, Sleeps(150, 200)},
        {"the same across the tick counter's wrap", {pending}, NearTheWrap, 0, 0, Timeout, Sleeps(150, 200)},
        {"a growing checkpoint", SlowButSteadyStart(), 0, 0, 1, 0, Sleeps(200, 200)},
        {"stopped while starting, without a code", {pending, Status(SERVICE_STOPPED, 0)}, 0, 0, 0, NotActive,
         Sleeps(1, 200)},
        {"stopped with its own exit code", {pending, StoppedWith(1234, 0)}, 0, 0, 0, 1234, Sleeps(1, 200)},
        {"stopped with a service-specific code", {pending, StoppedWith(ERROR_SERVICE_SPECIFIC_ERROR, 42)}, 0, 0, 0,
         ERROR_SERVICE_SPECIFIC_ERROR, Sleeps(1, 200)},
        {"the first read fails", {pending}, 0, 1, 0, Denied, {}},
        {"a read fails while waiting", {pending, pending}, 0, 3, 0, Denied, Sleeps(1, 200)},
    };
    const wchar_t* arguments[] = {L"-v", L"name=\"a b\""};
    // A progress callback changes nothing of what the start does.
    for (const auto& c : cases)
        for (const bool reported : {false, true}) {
            SCOPED_TRACE(c.label + std::string(reported ? ", reported" : ""));
            Machine machine(c.statuses);
            machine.fake.tick = c.startTick;
            if (c.failingRead)
                machine.fake.FailCall("QueryServiceStatusEx", ERROR_ACCESS_DENIED, c.failingRead);
            Reporting reporting(reported);
            ::SetLastError(Marker);
            EXPECT_EQ(machine.service.Start(2, arguments, 0, reporting.Context(), reporting.Callback()),
                      c.result);
            EXPECT_EQ(::GetLastError(), c.error ? c.error : Marker);
            EXPECT_EQ(machine.fake.sleeps, c.sleeps);
            EXPECT_EQ(machine.fake.serviceOpenings, std::vector<DWORD>{SERVICE_QUERY_STATUS | SERVICE_START});
            EXPECT_EQ(machine.spooler.startArguments, (std::vector<std::wstring>{L"-v", L"name=\"a b\""}));
        }

    // A code left from before is no answer of the start's: the service is still waited for.
    Machine machine({pending, Status(SERVICE_RUNNING, 0)});
    ::SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(machine.service.Start(0, nullptr, 0, nullptr, nullptr), 1);
    EXPECT_EQ(machine.fake.Calls("QueryServiceStatusEx"), 2);

    machine.spooler.status = Status(SERVICE_RUNNING, Stop);
    ::SetLastError(Marker);
    EXPECT_EQ(machine.service.Start(0, nullptr, 0, nullptr, nullptr), 1) << "already running";
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(machine.fake.Calls("QueryServiceStatusEx"), 2) << "nothing to wait for";
    machine.spooler.status = Status(SERVICE_STOPPED, 0);
    machine.spooler.startType = SERVICE_DISABLED;
    EXPECT_EQ(machine.service.Start(0, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
}

TEST_F(StateChangesTest, PauseAndContinueWaitUntilTheTargetState) {
    const SERVICE_STATUS_PROCESS running = Status(SERVICE_RUNNING, PauseContinue);
    const SERVICE_STATUS_PROCESS paused = Status(SERVICE_PAUSED, PauseContinue);
    const SERVICE_STATUS_PROCESS continuing = Status(SERVICE_CONTINUE_PENDING, PauseContinue, 1, 40000);
    const struct {
        const char* label;
        bool pause;
        std::deque<SERVICE_STATUS_PROCESS> statuses;
        DWORD controlFailure;
        int result;
        // The last-error value left (0: the caller's, untouched).
        DWORD error;
        std::vector<DWORD> controls;
        std::vector<DWORD> sleeps;
    } cases[] = {
        {"pause of a paused service", true, {paused}, 0, 1, 0, {}, {}},
        {"pause refused", true, {Status(SERVICE_RUNNING, Stop)}, 0, 0, NotAccepted, {}, {}},
        {"continue of a stopped service", false, {Status(SERVICE_STOPPED, 0)}, 0, 0, NotActive, {}, {}},
        {"pause of a service still starting", true, {Status(SERVICE_START_PENDING, 0)}, 0, 0, NotNow, {}, {}},
        {"pause taken at once", true, {running, paused}, 0, 1, 0, {SERVICE_CONTROL_PAUSE}, {}},
        {"already pausing: nothing is sent", true,
         {Status(SERVICE_PAUSE_PENDING, PauseContinue), Status(SERVICE_PAUSE_PENDING, PauseContinue, 1), paused}, 0,
         1, 0, {}, Sleeps(1, 200)},
        {"already pausing and accepting nothing: waited for all the same", true,
         {Status(SERVICE_PAUSE_PENDING, 0), Status(SERVICE_PAUSE_PENDING, 0, 1), paused}, 0, 1, 0, {},
         Sleeps(1, 200)},
        {"still running after the pause", true, {running, running}, 0, 0, Timeout, {SERVICE_CONTROL_PAUSE},
         Sleeps(150, 200)},
        {"continue refused by the platform", false, {paused}, NotNow, 0, NotNow, {}, {}},
        {"each poll from the wait hint read before it", false, {paused, continuing, continuing, running}, 0, 1, 0,
         {SERVICE_CONTROL_CONTINUE}, Sleeps(2, 4000)},
    };
    for (const auto& c : cases)
        for (const bool reported : {false, true}) {
            SCOPED_TRACE(c.label + std::string(reported ? ", reported" : ""));
            Machine machine(c.statuses);
            if (c.controlFailure)
                machine.fake.FailCall("ControlService", c.controlFailure);
            Reporting reporting(reported);
            ::SetLastError(Marker);
            CSvcObj& service = machine.service;
            EXPECT_EQ(c.pause ? service.Pause(0, reporting.Context(), reporting.Callback())
                              : service.Resume(0, reporting.Context(), reporting.Callback()),
                      c.result);
            EXPECT_EQ(::GetLastError(), c.error ? c.error : Marker);
            EXPECT_EQ(machine.spooler.controlsReceived, c.controls);
            EXPECT_EQ(machine.fake.sleeps, c.sleeps);
            EXPECT_EQ(machine.fake.serviceOpenings,
                      std::vector<DWORD>{SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE});
        }
}

TEST_F(StateChangesTest, StopWaitsAFixedTimeAndEndsTheProcessOfALocalServiceThatHangs) {
    const SERVICE_STATUS_PROCESS running = Status(SERVICE_RUNNING, Stop);
    const SERVICE_STATUS_PROCESS stopped = Status(SERVICE_STOPPED, 0);
    const std::deque<SERVICE_STATUS_PROCESS> hanging = {running, Status(SERVICE_STOP_PENDING, Stop, 0, 3000)};
    const std::vector<DWORD> sent = {SERVICE_CONTROL_STOP};
    const struct {
        const char* label;
        std::deque<SERVICE_STATUS_PROCESS> statuses;
        int killOnTimeout;
        const wchar_t* machine;
        // The call that fails from its `firstFailing`-th use on (null: none).
        const char* failing;
        int firstFailing;
        int result;
        // The last-error value left (0: the caller's, untouched).
        DWORD error;
        std::vector<DWORD> controls;
        std::vector<DWORD> sleeps;
        bool killed;
    } cases[] = {
        {"already stopped", {stopped}, 1, nullptr, nullptr, 0, 1, 0, {}, {}, false},
        {"stop refused", {Status(SERVICE_RUNNING, PauseContinue)}, 1, nullptr, nullptr, 0, 0, NotAccepted, {}, {},
         false},
        {"stop of a service still starting", {Status(SERVICE_START_PENDING, 0)}, 1, nullptr, nullptr, 0, 0, NotNow,
         {}, {}, false},
        {"already stopping: nothing is sent",
         {Status(SERVICE_STOP_PENDING, Stop, 1, 1000), Status(SERVICE_STOP_PENDING, Stop, 2, 1000), stopped}, 1,
         nullptr, nullptr, 0, 1, 0, {}, Sleeps(1, 1000), false},
        {"already stopping and accepting nothing: waited for all the same",
         {Status(SERVICE_STOP_PENDING, 0, 1, 1000), Status(SERVICE_STOP_PENDING, 0, 2, 1000), stopped}, 1, nullptr,
         nullptr, 0, 1, 0, {}, Sleeps(1, 1000), false},
        {"a wait hint of 10000 ms polls every 3000 ms",
         {running, Status(SERVICE_STOP_PENDING, Stop, 1, 10000), Status(SERVICE_STOP_PENDING, Stop, 1, 10000),
          stopped},
         1, nullptr, nullptr, 0, 1, 0, sent, Sleeps(2, 3000), false},
        {"a wait hint of 0 still pauses 200 ms",
         {running, Status(SERVICE_STOP_PENDING, Stop), Status(SERVICE_STOP_PENDING, Stop), stopped}, 1, nullptr,
         nullptr, 0, 1, 0, sent, Sleeps(2, 200), false},
        {"a hint of 0 that never ends polls 151 times", {running, Status(SERVICE_STOP_PENDING, Stop)}, 0, nullptr,
         nullptr, 0, 0, Timeout, sent, Sleeps(151, 200), false},
        {"30000 ms exactly is not yet a time-out", {running, Status(SERVICE_STOP_PENDING, Stop, 0, 1000)}, 0,
         nullptr, nullptr, 0, 0, Timeout, sent, Sleeps(31, 1000), false},
        {"a hanging service is ended", hanging, 1, nullptr, nullptr, 0, 0, Timeout, sent, Sleeps(11, 3000), true},
        {"not without the flag", hanging, 0, nullptr, nullptr, 0, 0, Timeout, sent, Sleeps(11, 3000), false},
        {"never on another machine", hanging, 1, L"\\\\FARAWAY", nullptr, 0, 0, Timeout, sent, Sleeps(11, 3000),
         false},
        {"this machine by its name", hanging, 1, L"\\\\quorvan-pc", nullptr, 0, 0, Timeout, sent,
         Sleeps(11, 3000), true},
        // The process is ended only once the service is seen to be still in it.
        {"reads that keep failing", hanging, 1, nullptr, "QueryServiceStatusEx", 3, 0, Denied, sent,
         Sleeps(11, 3000), false},
        {"the control fails", {running}, 1, nullptr, "ControlService", 1, 0, Denied, {}, {}, false},
    };
    for (const auto& c : cases)
        for (const bool reported : {false, true}) {
            SCOPED_TRACE(c.label + std::string(reported ? ", reported" : ""));
            Machine machine(c.statuses, c.machine);
            machine.fake.tick = NearTheWrap;
            if (c.failing)
                machine.fake.FailCall(c.failing, ERROR_ACCESS_DENIED, c.firstFailing, 1000);
            OutputCapture capture;
            Reporting reporting(reported);
            ::SetLastError(Marker);
            EXPECT_EQ(machine.service.Stop(1, 120000, c.killOnTimeout, 0, reporting.Context(),
                                           reporting.Callback()),
                      c.result);
            EXPECT_EQ(::GetLastError(), c.error ? c.error : Marker);
            EXPECT_EQ(machine.spooler.controlsReceived, c.controls);
            EXPECT_EQ(machine.fake.sleeps, c.sleeps);
            EXPECT_EQ(machine.fake.terminatedProcesses,
                      (c.killed ? Terminations{{ProcessId, 1}} : Terminations{}));
            // The kill reads the failure actions through the stop's handle.
            EXPECT_EQ(machine.fake.serviceOpenings.at(0),
                      static_cast<DWORD>(SERVICE_QUERY_STATUS | SERVICE_STOP |
                                         (c.killOnTimeout ? SERVICE_QUERY_CONFIG : 0)));
            EXPECT_FALSE(machine.fake.IsPrivilegeEnabled(L"SeDebugPrivilege")) << "the token is as it was";
        }
}

// The kill ends the named service's process only: never one that hosts other active services,
// that the system runs, that is critical, that the service has left (its id may since name an
// unrelated process), or whose end would restart the computer by the service's failure actions.
// What became of the process is said in one line on the error stream; the stop fails as a
// time-out does.
TEST_F(StateChangesTest, TheKillEndsNothingButTheProcessOfTheNamedService) {
    const std::wstring spared = L"Le processus 4242 du service Spooler n'a pas \u00E9t\u00E9 termin\u00E9 : ";
    const std::wstring system = spared + L"c'est un processus du syst\u00E8me.\n";
    const std::wstring ended = L"Le processus 4242 du service Spooler a \u00E9t\u00E9 termin\u00E9";
    const std::wstring aftermath = L" ; le gestionnaire de services peut maintenant ";
    const std::wstring byActions = L", selon ses actions en cas d'\u00E9chec.\n";
    auto actions = [](std::vector<SC_ACTION_TYPE> types) {
        return [=](Machine& machine) {
            for (SC_ACTION_TYPE type : types)
                machine.spooler.actions.push_back({type, 60000});
        };
    };
    auto hostAlso = [](const wchar_t* name, DWORD state) {
        return [=](Machine& machine) {
            FakeService& other = machine.fake.AddService(name, SERVICE_WIN32_SHARE_PROCESS);
            other.status = Status(state, Stop);
            if (state == SERVICE_STOPPED)
                other.status.dwProcessId = 0;
        };
    };
    auto runInSystemProcess = [](Machine& machine) {
        for (SERVICE_STATUS_PROCESS& status : machine.spooler.scriptedStatuses)
            status.dwServiceFlags = SERVICE_RUNS_IN_SYSTEM_PROCESS;
    };
    auto critical = [](Machine& machine) { machine.fake.criticalProcesses = {ProcessId}; };
    const struct {
        const char* label;
        std::function<void(Machine&)> arrange;
        int result;
        bool killed;
        std::wstring err;
        std::vector<std::wstring> failed;
        const wchar_t* machineName = nullptr;
    } cases[] = {
        {"alone in its process", [](Machine&) {}, 0, true, ended + L".\n", {L"Spooler"}},
        {"a restart among its failure actions", actions({SC_ACTION_NONE, SC_ACTION_RESTART}), 0, true,
         ended + aftermath + L"red\u00E9marrer le service" + byActions, {L"Spooler"}},
        {"a restart and a command", actions({SC_ACTION_RUN_COMMAND, SC_ACTION_RESTART}), 0, true,
         ended + aftermath + L"red\u00E9marrer le service ou ex\u00E9cuter sa commande en cas d'\u00E9chec" +
             byActions,
         {L"Spooler"}},
        {"a restart of the computer among them", actions({SC_ACTION_RESTART, SC_ACTION_REBOOT}), 0, false,
         spared + L"le gestionnaire de services red\u00E9marrerait l'ordinateur, selon ses actions en cas "
                  L"d'\u00E9chec.\n",
         {}},
        {"failure actions that cannot be read",
         [](Machine& m) { m.fake.FailCall("QueryServiceConfig2W", ERROR_ACCESS_DENIED); }, 0, false,
         spared + L"ses actions en cas d'\u00E9chec n'ont pas pu \u00EAtre lues (erreur 5).\n", {}},
        {"a system that knows no failure actions",
         [](Machine& m) { m.fake.FailCall("QueryServiceConfig2W", ERROR_INVALID_LEVEL); }, 0, true, ended + L".\n",
         {L"Spooler"}},
        {"a process that cannot be opened", [](Machine& m) { m.fake.unopenableProcesses = {ProcessId}; }, 0, false,
         spared + L"il n'a pas pu \u00EAtre ouvert (erreur 5).\n", {}},
        {"an end that fails", [](Machine& m) { m.fake.FailCall("TerminateProcess", ERROR_ACCESS_DENIED); }, 0, false,
         spared + L"sa fin a \u00E9chou\u00E9 (erreur 5).\n", {}},
        {"another computer", [](Machine&) {}, 0, false,
         spared + L"il tourne sur un autre ordinateur (\\\\FARAWAY).\n", {}, L"\\\\FARAWAY"},
        {"a host with another running service", hostAlso(L"Audio", SERVICE_RUNNING), 0, false,
         spared + L"il h\u00E9berge aussi Audio.\n", {}},
        {"a host with two",
         [&](Machine& m) {
             hostAlso(L"Audio", SERVICE_RUNNING)(m);
             hostAlso(L"Net", SERVICE_PAUSED)(m);
         },
         0, false, spared + L"il h\u00E9berge aussi Audio, Net.\n", {}},
        {"a stopped co-hosted service is no reason", hostAlso(L"Audio", SERVICE_STOPPED), 0, true, ended + L".\n",
         {L"Spooler"}},
        {"a service of a system process", runInSystemProcess, 0, false, system, {}},
        {"a critical process", critical, 0, false, system, {}},
        {"a system without the critical check", [](Machine& m) { m.fake.hasIsProcessCritical = false; }, 0, true,
         ended + L".\n", {L"Spooler"}},
        {"the critical check fails", [](Machine& m) { m.fake.FailCall("IsProcessCritical", ERROR_ACCESS_DENIED); },
         0, false, system, {}},
        {"the services cannot be listed",
         [](Machine& m) { m.fake.FailCall("EnumServicesStatusExW", ERROR_ACCESS_DENIED, 1, 10); }, 0, false,
         spared + L"les services qu'il h\u00E9berge n'ont pas pu \u00EAtre list\u00E9s (erreur 5).\n", {}},
        {"its id given to an unrelated process just before",
         [](Machine& m) { m.fake.timedEvents.push_back({30001, [&m] { m.fake.ReuseProcessId(ProcessId); }}); }, 1,
         false, L"", {L"Spooler"}},
        {"the idle process's id",
         [](Machine& m) {
             for (SERVICE_STATUS_PROCESS& status : m.spooler.scriptedStatuses)
                 status.dwProcessId = 0;
         },
         0, false, L"Le processus 0 du service Spooler n'a pas \u00E9t\u00E9 termin\u00E9 : c'est un processus du syst\u00E8me.\n", {}},
        {"the system process's id",
         [](Machine& m) {
             for (SERVICE_STATUS_PROCESS& status : m.spooler.scriptedStatuses)
                 status.dwProcessId = 4;
         },
         0, false, L"Le processus 4 du service Spooler n'a pas \u00E9t\u00E9 termin\u00E9 : c'est un processus du syst\u00E8me.\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Machine machine({Status(SERVICE_RUNNING, Stop), Status(SERVICE_STOP_PENDING, Stop, 0, 3000)}, c.machineName);
        c.arrange(machine);
        OutputCapture capture;
        ::SetLastError(Marker);
        EXPECT_EQ(machine.service.Stop(1, 120000, 1, 0, nullptr, nullptr), c.result);
        EXPECT_EQ(::GetLastError(), c.result ? Marker : Timeout);
        EXPECT_EQ(machine.fake.terminatedProcesses, (c.killed ? Terminations{{ProcessId, 1}} : Terminations{}));
        EXPECT_EQ(capture.Err(), c.err);
        EXPECT_EQ(machine.fake.failureActionsRun, c.failed);
        EXPECT_FALSE(machine.fake.machineStopped);
        EXPECT_EQ(machine.fake.runningProcesses.count(ProcessId), c.killed ? 0u : 1u);
    }
}

// The process of a LocalSystem service opens only under the debug privilege, which the kill
// switches on for the open alone and leaves as it found it.
TEST_F(StateChangesTest, TheKillOfAHangingServiceHoldsTheDebugPrivilegeForTheOpen) {
    const std::deque<SERVICE_STATUS_PROCESS> hanging = {Status(SERVICE_RUNNING, Stop),
                                                        Status(SERVICE_STOP_PENDING, Stop, 0, 3000)};
    const struct {
        const char* label;
        bool held;
        bool enabledBefore;
        bool killed;
    } cases[] = {
        {"an administrator's token, privilege off", true, false, true},
        {"already switched on: it stays on", true, true, true},
        {"a token without it: the process stays", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Machine machine(hanging);
        auto& debug = machine.fake.privileges[L"SeDebugPrivilege"];
        debug.held = c.held;
        debug.enabled = c.enabledBefore;
        ::SetLastError(Marker);
        EXPECT_EQ(machine.service.Stop(1, 120000, 1, 0, nullptr, nullptr), 0);
        EXPECT_EQ(::GetLastError(), Timeout) << "the kill's own failure is not the stop's";
        EXPECT_EQ(machine.fake.terminatedProcesses, (c.killed ? Terminations{{ProcessId, 1}} : Terminations{}));
        EXPECT_EQ(debug.enabled, c.enabledBefore);
    }
}

// The platform lists every dependent, direct or not, each before those it depends on: each is
// stopped once, in that order, even the one that cannot be stopped.
TEST_F(StateChangesTest, StopReportsTheActiveDependentsItStopsFirst) {
    Machine machine;
    auto add = [&machine](const wchar_t* name, DWORD state, DWORD accepted, const wchar_t* dependency) {
        FakeService& added = machine.fake.AddService(name);
        added.status = Status(state, accepted);
        added.dependencies = {dependency};
    };
    add(L"A", SERVICE_RUNNING, Stop, L"Spooler");
    add(L"A1", SERVICE_RUNNING, PauseContinue, L"A");
    add(L"B", SERVICE_RUNNING, Stop, L"Spooler");
    add(L"B1", SERVICE_RUNNING, Stop, L"B");
    add(L"C", SERVICE_STOPPED, 0, L"Spooler");
    machine.fake.FindService(L"Spooler")->status = Status(SERVICE_RUNNING, Stop);
    {
        OutputCapture capture;
        EXPECT_EQ(machine.service.Stop(1, 120000, 1, 0, nullptr, nullptr), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING)) << "A still runs";
        EXPECT_EQ(capture.Out(), L"\n\nIl y a 4 d\u00E9pendances actives.\n"
                                 L"A1 : Echec\n"
                                 L"A : Echec\n"
                                 L"B1 : Succ\u00E8s\n"
                                 L"B : Succ\u00E8s\n");
    }
    for (const wchar_t* name : {L"A", L"A1"})
        machine.fake.FindService(name)->status = Status(SERVICE_STOPPED, 0);
    OutputCapture capture;
    EXPECT_EQ(machine.service.Stop(1, 120000, 1, 0, nullptr, nullptr), 1);
    EXPECT_EQ(machine.fake.FindService(L"Spooler")->status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(capture.Out(), L"") << "no report without active dependents";
}

// Each wait tells the callback at every poll while the service is on its way, with the
// milliseconds of that wait, and once more when a wait that told anything ends; the record names
// the service waited for (a dependent that a stop stops first included), its last status and the
// bound after which the wait gives up. Without a record the callback gets the same milliseconds.
TEST_F(StateChangesTest, WaitsTellTheirProgressToTheCallback) {
    using Change = std::function<int(CSvcObj&, void*, SVC_PROGRESS_CALLBACK)>;
    const Change start = [](CSvcObj& s, void* context, SVC_PROGRESS_CALLBACK progress) {
        return s.Start(0, nullptr, 0, context, progress);
    };
    const Change stop = [](CSvcObj& s, void* context, SVC_PROGRESS_CALLBACK progress) {
        return s.Stop(1, 120000, 1, 0, context, progress);
    };
    const Change pause = [](CSvcObj& s, void* context, SVC_PROGRESS_CALLBACK progress) {
        return s.Pause(0, context, progress);
    };
    const Change resume = [](CSvcObj& s, void* context, SVC_PROGRESS_CALLBACK progress) {
        return s.Resume(0, context, progress);
    };
    const Change continueByControl = [](CSvcObj& s, void* context, SVC_PROGRESS_CALLBACK progress) {
        return s.Control(SERVICE_CONTROL_CONTINUE, 0, context, progress);
    };
    const DWORD starting = SERVICE_START_PENDING;
    const DWORD stopping = SERVICE_STOP_PENDING;
    const DWORD running = SERVICE_RUNNING;
    const DWORD stopped = SERVICE_STOPPED;
    auto slowDependent = [](Machine& machine) {
        FakeService& dependent = machine.fake.AddService(L"A");
        dependent.dependencies = {L"Spooler"};
        dependent.status = Status(SERVICE_RUNNING, Stop);
        dependent.scriptedStatuses = {dependent.status, Status(SERVICE_STOP_PENDING, Stop, 1, 1000),
                                      Status(SERVICE_STOPPED, 0)};
        // Adding a service may move the others: Spooler is found again.
        machine.fake.FindService(L"Spooler")->status = Status(SERVICE_RUNNING, Stop);
    };
    const struct {
        const char* label;
        Change change;
        std::deque<SERVICE_STATUS_PROCESS> statuses;
        std::function<void(Machine&)> arrange;
        std::vector<Told> told;
    } cases[] = {
        {"a start whose checkpoint moves, then stalls",
         start,
         {Status(starting, 0, 1, 2000), Status(starting, 0, 2, 2000), Status(starting, 0, 2, 2000),
          Status(starting, 0, 2, 2000), Status(running, Stop)},
         nullptr,
         {{0, L"Spooler", starting, 2, 30000, 0, 0},
          {200, L"Spooler", starting, 2, 30000, 200, 0},
          {400, L"Spooler", starting, 2, 30000, 400, 0},
          {800, L"Spooler", running, 0, 30000, 400, 1}}},
        {"a pause with a wait hint beyond 30 s",
         pause,
         {Status(running, PauseContinue), Status(SERVICE_PAUSE_PENDING, PauseContinue, 1, 40000),
          Status(SERVICE_PAUSE_PENDING, PauseContinue, 1, 40000), Status(SERVICE_PAUSED, PauseContinue)},
         nullptr,
         {{0, L"Spooler", SERVICE_PAUSE_PENDING, 1, 40000, 0, 0},
          {8000, L"Spooler", SERVICE_PAUSED, 0, 40000, 0, 1}}},
        {"a continue sent by control",
         continueByControl,
         {Status(SERVICE_PAUSED, PauseContinue), Status(SERVICE_CONTINUE_PENDING, PauseContinue, 1, 0),
          Status(SERVICE_CONTINUE_PENDING, PauseContinue, 2, 0), Status(running, PauseContinue)},
         nullptr,
         {{0, L"Spooler", SERVICE_CONTINUE_PENDING, 2, 30000, 0, 0},
          {400, L"Spooler", running, 0, 30000, 0, 1}}},
        {"a continue over at the first poll tells nothing",
         resume,
         {Status(SERVICE_PAUSED, PauseContinue), Status(SERVICE_CONTINUE_PENDING, PauseContinue),
          Status(running, PauseContinue)},
         nullptr,
         {}},
        {"a stop, counted from its wait's start",
         stop,
         {Status(running, Stop), Status(stopping, Stop, 3, 1000), Status(stopping, Stop, 3, 1000),
          Status(stopped, 0)},
         nullptr,
         {{0, L"Spooler", stopping, 3, 30000, 0, 0},
          {1000, L"Spooler", stopping, 3, 30000, 1000, 0},
          {2000, L"Spooler", stopped, 0, 30000, 1000, 1}}},
        {"a stop that waits for a dependent first",
         stop,
         {},
         slowDependent,
         {{0, L"A", stopping, 1, 30000, 0, 0}, {1000, L"A", stopped, 0, 30000, 0, 1}}},
    };
    for (const auto& c : cases)
        for (const bool withRecord : {true, false}) {
            SCOPED_TRACE(c.label + std::string(withRecord ? "" : ", without a record"));
            Machine machine(c.statuses);
            if (c.arrange)
                c.arrange(machine);
            OutputCapture capture;
            ProgressRecorder recorder;
            ::SetLastError(Marker);
            EXPECT_EQ(c.change(machine.service, withRecord ? &recorder.record : nullptr,
                               ProgressRecorder::Callback),
                      1);
            EXPECT_EQ(::GetLastError(), Marker);
            std::vector<unsigned long> waits;
            for (const Told& told : c.told)
                waits.push_back(std::get<0>(told));
            EXPECT_EQ(recorder.waits, waits);
            if (withRecord)
                EXPECT_EQ(recorder.told, c.told);
            else
                EXPECT_EQ(recorder.record.serviceName, nullptr) << "no record to fill";
        }
}

} // namespace
