// Every platform call of every console command made to fail in turn: the command returns, leaves
// the call's code for the banner (or keeps the value where the failure is no failure of the
// command's), gives back everything it took, and the next command works.

#include <gtest/gtest.h>

#include <cstdio>
#include <cwctype>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "CommandRunner.h"
#include "ConfigCommands.h"
#include "Connections.h"
#include "FakePlatform.h"
#include "ServiceGroups.h"
#include "StandardStreams.h"
#include "TemporaryFile.h"

namespace {

using namespace ServiceGroups;

// A plausible code for a failure of each operation.
DWORD CodeFor(const std::string& operation) {
    static const std::map<std::string, DWORD> codes = {
        {"OpenSCManagerW", ERROR_ACCESS_DENIED},
        {"CloseServiceHandle", ERROR_INVALID_HANDLE},
        {"LockServiceDatabase", ERROR_SERVICE_DATABASE_LOCKED},
        {"UnlockServiceDatabase", ERROR_INVALID_SERVICE_LOCK},
        {"QueryServiceLockStatusW", ERROR_ACCESS_DENIED},
        {"NotifyBootConfigStatus", ERROR_BOOT_ALREADY_ACCEPTED},
        {"OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST},
        {"CreateServiceW", ERROR_SERVICE_EXISTS},
        {"DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE},
        {"StartServiceW", ERROR_SERVICE_REQUEST_TIMEOUT},
        {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {"QueryServiceStatusEx", ERROR_ACCESS_DENIED},
        {"QueryServiceConfigW", ERROR_NOT_ENOUGH_MEMORY},
        {"QueryServiceConfig2W", ERROR_INVALID_LEVEL},
        {"ChangeServiceConfigW", ERROR_SERVICE_MARKED_FOR_DELETE},
        {"ChangeServiceConfig2W", ERROR_ACCESS_DENIED},
        {"EnumDependentServicesW", ERROR_INVALID_HANDLE},
        {"GetServiceKeyNameW", ERROR_SERVICE_DOES_NOT_EXIST},
        {"GetServiceDisplayNameW", ERROR_SERVICE_DOES_NOT_EXIST},
        {"EnumServicesStatusExW", ERROR_NOT_ENOUGH_MEMORY},
        {"EnumServiceGroupW", ERROR_NOT_ENOUGH_MEMORY},
        {"RegConnectRegistryW", ERROR_BAD_NETPATH},
        {"RegOpenKeyExW", ERROR_ACCESS_DENIED},
        {"RegCreateKeyExW", ERROR_ACCESS_DENIED},
        {"RegQueryValueExW", ERROR_ACCESS_DENIED},
        {"RegSetValueExW", ERROR_NO_SYSTEM_RESOURCES},
        {"RegCloseKey", ERROR_INVALID_HANDLE},
        {"OpenProcess", ERROR_ACCESS_DENIED},
        {"TerminateProcess", ERROR_ACCESS_DENIED},
        {"IsProcessCritical", ERROR_ACCESS_DENIED},
        {"CreateProcessW", ERROR_FILE_NOT_FOUND},
        {"CreateEventW", ERROR_NO_SYSTEM_RESOURCES},
        {"GetComputerNameExW", ERROR_NOT_ENOUGH_MEMORY},
        {"FormatMessageW", ERROR_MR_MID_NOT_FOUND},
        {"WideCharToMultiByte", ERROR_NO_UNICODE_TRANSLATION},
        {"OpenProcessToken", ERROR_ACCESS_DENIED},
        {"LookupPrivilegeValueW", ERROR_NO_SUCH_PRIVILEGE},
        {"AdjustTokenPrivileges", ERROR_ACCESS_DENIED},
        {"GetTokenInformation", ERROR_ACCESS_DENIED},
        {"CloseHandle", ERROR_INVALID_HANDLE},
        {"SetConsoleTitleW", ERROR_NOT_ENOUGH_MEMORY},
        {"GetConsoleTitleW", ERROR_INVALID_HANDLE},
        {"GetConsoleScreenBufferInfo", ERROR_INVALID_HANDLE},
        {"FillConsoleOutputCharacterW", ERROR_INVALID_HANDLE},
        {"SetConsoleCursorPosition", ERROR_INVALID_HANDLE},
        {"WriteConsoleW", ERROR_INVALID_HANDLE},
    };
    auto found = codes.find(operation);
    return found == codes.end() ? ERROR_GEN_FAILURE : found->second;
}

// A failed close leaves its object open on the simulated machine; nothing else can be done about it.
bool ClosesAnObject(const std::string& operation) {
    return operation == "CloseServiceHandle" || operation == "RegCloseKey" || operation == "CloseHandle" ||
           operation == "UnlockServiceDatabase";
}

// A machine with something for every command: a stopped service, a running one with a running
// dependent, one that never finishes stopping, groups with a tag vector, a debugger, a disabled
// remote-registry service and a machine that cannot be reached.
void FurnishMachine(FakePlatform& fake, bool console) {
    fake.outputIsConsole = console;
    FakeService& alpha = AddGroupedService(fake, L"Alpha", SERVICE_AUTO_START, std::wstring(L"Base"), 1);
    alpha.description = std::wstring(L"Premier");
    alpha.actions = {{SC_ACTION_RESTART, 1000}};
    DWORD processId = 900;
    for (const wchar_t* name : {L"Beta", L"Gamma", L"Stuck"}) {
        FakeService& service =
            AddGroupedService(fake, name, SERVICE_AUTO_START, std::wstring(L"Extended"), std::nullopt);
        service.status.dwCurrentState = SERVICE_RUNNING;
        service.status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
        fake.runningProcesses.insert(service.status.dwProcessId = ++processId);
    }
    fake.FindService(L"Gamma")->dependencies = {L"Beta"};
    FakeService& stuck = *fake.FindService(L"Stuck");
    stuck.scriptedStatuses = {stuck.status, stuck.status};
    stuck.scriptedStatuses.back().dwCurrentState = SERVICE_STOP_PENDING;
    stuck.scriptedStatuses.back().dwWaitHint = 3000;
    SetGroupList(fake, {L"Base", L"Extended"});
    SetTagVector(fake, L"Base", {1});
    fake.SetRegistryString(L"hklm\\software\\microsoft\\windows nt\\currentversion\\aedebug", L"Debugger",
                           L"dbg.exe -p %ld -e %ld");
    fake.AddService(L"RemoteRegistry", SERVICE_WIN32_SHARE_PROCESS).startType = SERVICE_DISABLED;
    fake.unreachableMachines.insert(L"OFFLINE");
}

// What the last-error value holds after the failure: the failed call's code, what the command
// leaves without the failure, or another code.
const DWORD Injected = 0xFFFFFFFF;
const DWORD AsWithout = 0xFFFFFFFE;

// `call` is an operation, an operation and its occurrence in the command ("OpenServiceW#2"), or
// "*" for every call.
struct Expectation {
    std::string call;
    DWORD lastError;
};
using Expectations = std::vector<Expectation>;

// Failures that no command reports, because they are no failure of the command's.
const Expectations Everywhere = {
    // Whether a name is this computer's is a question, not an operation.
    {"GetComputerNameExW", AsWithout},
    // The title and the choice between console and stream never change the value.
    {"SetConsoleTitleW", AsWithout},
    {"GetConsoleTitleW", AsWithout},
    {"GetConsoleMode", AsWithout},
    {"GetConsoleScreenBufferInfo", AsWithout},
    {"FillConsoleOutputCharacterW", AsWithout},
    {"SetConsoleCursorPosition", AsWithout},
    // Text for the console window is output, like the streams', whose failures set no code.
    {"WriteConsoleW", AsWithout},
    // The library's handle guards close without changing the value.
    {"CloseServiceHandle", AsWithout},
    {"RegCloseKey", AsWithout},
    {"CloseHandle", AsWithout},
    // Describing a failure keeps its code.
    {"FormatMessageW", AsWithout},
    {"WideCharToMultiByte", AsWithout},
    // Privileges are switched around a call without changing the value.
    {"OpenProcessToken", AsWithout},
    {"LookupPrivilegeValueW", AsWithout},
    {"AdjustTokenPrivileges", AsWithout},
    // Ending the process of a service that would not stop is a last resort, tried quietly.
    {"OpenProcess", AsWithout},
    {"TerminateProcess", AsWithout},
    {"IsProcessCritical", AsWithout},
};

// The lookup of a service reads its configuration into the usual block and goes on after any
// failure: the read that follows, in a block of the record's fixed size, fails for want of room.
const Expectation Lookup = {"QueryServiceConfigW#1", ERROR_INSUFFICIENT_BUFFER};

const Expectation LoadOrderEnumeration = {"EnumServicesStatusExW#2", Injected};

// Closing the manager is the work of the connection commands, and its failure is theirs.
const Expectation ManagerClose = {"CloseServiceHandle", Injected};

// On another machine, bringing up the remote-registry service and putting it back may fail quietly.
const Expectations RemoteRegistryService = {
    {"OpenServiceW", AsWithout},           {"QueryServiceConfigW", AsWithout},
    {"QueryServiceStatusEx", AsWithout},   {"StartServiceW", AsWithout},
    {"ChangeServiceConfigW", AsWithout},   {"ControlService", AsWithout},
    {"EnumDependentServicesW", AsWithout}, {"QueryServiceLockStatusW", AsWithout},
};

// A section of the extended configuration that cannot be read is left out; the command succeeds.
const Expectations ConfigEx = {Lookup,
                               {"OpenServiceW#2", AsWithout},
                               {"OpenServiceW#3", AsWithout},
                               {"QueryServiceConfig2W", AsWithout}};

Expectations With(Expectations first, const Expectations& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

struct Scenario {
    const wchar_t* line;
    // The connection open before the command (null: none), and commands run before it.
    const wchar_t* machine;
    std::vector<const wchar_t*> before;
    Expectations expected;
    // What set configex reads.
    const char* answers;
    bool console;
};

// Named by its command line in test reports.
void PrintTo(const Scenario& scenario, std::ostream* out) {
    for (const wchar_t* c = scenario.line; *c; ++c)
        *out << static_cast<char>(*c <= 0x7F ? *c : L'?');
    if (scenario.machine && *scenario.machine)
        *out << " on another machine";
}

Scenario On(const wchar_t* line, Expectations expected = {}, std::vector<const wchar_t*> before = {},
            const wchar_t* machine = L"") {
    return {line, machine, std::move(before), std::move(expected), "", false};
}

// A stopped service of Stop's that cannot be seen (a dependent that stays, a failed read) keeps
// the manager from stopping the service that it depends on.
const DWORD DependentRuns = ERROR_DEPENDENT_SERVICES_RUNNING;

const Scenario Scenarios[] = {
    On(L"connect SRV 983103", {}, {}, nullptr),
    On(L"connect OFFLINE 1", {}, {}, nullptr),
    On(L"connect quorvan-pc.corp.example"),
    // A lock status that cannot be read only leaves the lock marker out of the row.
    On(L"cl", {{"QueryServiceLockStatusW", AsWithout}}, {L"connect SRV 9"}),
    On(L"cc 1", {ManagerClose}),
    On(L"cactc", {ManagerClose}),
    On(L"callc", {ManagerClose}, {L"connect SRV"}),
    On(L"lock on"),
    // Unlocking forgets the lock whatever the platform answers.
    On(L"lock off", {{"UnlockServiceDatabase", AsWithout}}, {L"lock on"}),
    On(L"lock status", {}, {L"lock on"}),
    On(L"boot ok"),
    On(L"start Alpha", {Lookup}),
    On(L"stop Beta",
       {Lookup,
        // The dependent Gamma cannot be listed, found, read or stopped.
        {"EnumDependentServicesW#1", DependentRuns},
        {"EnumDependentServicesW#2", DependentRuns},
        {"OpenServiceW#3", DependentRuns},
        {"QueryServiceConfigW#2", DependentRuns},
        {"OpenServiceW#4", DependentRuns},
        {"QueryServiceStatusEx#2", DependentRuns},
        {"ControlService#1", DependentRuns},
        {"OpenServiceW#5", DependentRuns},
        // Gamma's own dependents that cannot be listed are skipped: it has none.
        {"EnumDependentServicesW#3", AsWithout},
        {"OpenServiceW#6", AsWithout},
        // After the stop control, the status that it returned already shows the service stopped.
        {"QueryServiceStatusEx#3", AsWithout},
        {"QueryServiceStatusEx#4", AsWithout}}),
    // A service without dependents whose list cannot be had is stopped all the same. Its process
    // is spared, quietly as to the code, when the checks before the kill cannot be made.
    On(L"stop Stuck", {Lookup,
                       {"OpenServiceW#3", AsWithout},
                       {"EnumDependentServicesW", AsWithout},
                       {"OpenSCManagerW", AsWithout},
                       {"EnumServicesStatusExW", AsWithout},
                       {"QueryServiceConfig2W", AsWithout},
                       {"QueryServiceStatusEx#14", AsWithout}}),
    // After the control, the status that it returned already shows the target state.
    On(L"pause Beta", {Lookup, {"QueryServiceStatusEx#2", AsWithout}}),
    On(L"continue Beta", {Lookup, {"QueryServiceStatusEx#2", AsWithout}}, {L"pause Beta"}),
    On(L"interrogate Alpha", {Lookup}),
    // A process id that cannot be read starts no debugger: the read's code is the command's. A
    // process that cannot be judged is refused: its open's code, or ERROR_NOT_SUPPORTED when it may
    // be critical. The enumeration's size query and a system that knows no failure actions
    // (ERROR_INVALID_LEVEL) are no failure.
    On(L"debug Beta", {Lookup,
                       {"EnumServicesStatusExW#1", AsWithout},
                       {"QueryServiceConfig2W", AsWithout},
                       {"OpenProcess", Injected},
                       {"IsProcessCritical", ERROR_NOT_SUPPORTED}}),
    On(L"create service_object Delta"),
    On(L"create service_group Nouveau order=1"),
    On(L"delete service_object Alpha"),
    On(L"delete service_group name=Base"),
    On(L"delete service_group order=1"),
    On(L"enum service_group"),
    // Whatever cannot be read once the registry is attached only leaves services out; but the
    // enumeration's read (its size query is not looked at) is the command's failure.
    On(L"enum service_group_load_order", {{"*", AsWithout}, LoadOrderEnumeration}),
    On(L"enum service_group_load_order Base", {{"*", AsWithout}, LoadOrderEnumeration}),
    // The size query's result is not looked at: the read, in a block for one record, lacks room.
    On(L"enum dependent_services Beta", {Lookup, {"EnumDependentServicesW#1", ERROR_MORE_DATA}}),
    // As the count's: the enumeration's size query is not looked at.
    On(L"enum services tous", {{"EnumServicesStatusExW#1", AsWithout}}),
    On(L"query config Alpha", {Lookup}),
    On(L"query configex Alpha", ConfigEx),
    On(L"query status Alpha", {Lookup}),
    // The count's enumeration ignores its size query and reads again when it lacks room.
    On(L"get properties", {{"EnumServicesStatusExW#1", AsWithout}}),
    // A name translation reads in one call, into room for the longest name: its failure is the command's.
    On(L"get service key_name \"Alpha (display)\""),
    On(L"get service display_name Alpha"),
    On(L"get service pid Beta", {Lookup}),
    On(L"get service type Alpha", {Lookup}),
    {L"set configex Alpha", L"", {}, {Lookup}, "Nouvelle\n60\nreboot\ncmd\n1\n2\n5000\n", false},
    {L"query configex Alpha", L"", {}, ConfigEx, "", true},
    {L"cls", L"", {}, {}, "", true},
    On(L"enum service_group", RemoteRegistryService, {}, L"FAR"),
    On(L"enum service_group_load_order",
       {{"*", AsWithout}, LoadOrderEnumeration, {"RegConnectRegistryW", Injected}}, {}, L"FAR"),
    // The connection gives its lock up while the remote-registry service is brought up and put
    // back. A lock it could not give up is still held, so that taking it back fails as locked;
    // taking it back after the detaching fails quietly, and the connection comes out without it.
    On(L"create service_group Nouveau",
       With({{"UnlockServiceDatabase#1", ERROR_SERVICE_DATABASE_LOCKED},
             {"UnlockServiceDatabase#2", AsWithout},
             {"LockServiceDatabase#2", AsWithout}},
            RemoteRegistryService),
       {L"lock on"}, L"FAR"),
};

DWORD ExpectedLastError(const Scenario& scenario, const std::string& operation, int occurrence) {
    const std::string call = operation + "#" + std::to_string(occurrence);
    for (const std::string& key : {call, operation, std::string("*")})
        for (const Expectation& expectation : scenario.expected)
            if (expectation.call == key)
                return expectation.lastError;
    for (const Expectation& expectation : Everywhere)
        if (expectation.call == operation)
            return expectation.lastError;
    return Injected;
}

// One run of a scenario on a new machine, with `failure` (when set) injected into the command.
class InjectedRun {
public:
    struct Failure {
        std::string operation;
        int occurrence;
    };

    InjectedRun(const Scenario& scenario, const Failure* failure) : blocksAtStart(MemLiveBlocks()) {
        FurnishMachine(fake, scenario.console);
        {
            OutputCapture discard;
            if (scenario.machine)
                OpenConnection(scenario.machine, SC_MANAGER_ALL_ACCESS);
            for (const wchar_t* line : scenario.before)
                RunCommandLine(line);
        }
        callsBefore = fake.FailableCalls();
        if (failure) {
            fake.FailCall(failure->operation, CodeFor(failure->operation), failure->occurrence);
            fake.KeepOpen(ClosesAnObject(failure->operation) ? 1 : 0);
        }
        TemporaryFile answerFile;
        answerFile.Write(scenario.answers);
        FILE* answers = answerFile.OpenToRead();
        if (!answers)
            return;
        StreamTextInput stream(answers);
        SetConfigAnswerInput(&stream);
        ::SetLastError(0);
        outcome = RunCommandLine(scenario.line);
        lastError = ::GetLastError();
        SetConfigAnswerInput(nullptr);
        std::fclose(answers);
        blocksTaken = MemLiveBlocks() - blocksAtStart;
        objectsHeld = fake.OpenObjects();
    }
    ~InjectedRun() {
        OutputCapture discard;
        CloseAllConnections();
    }

    // The calls that the command made, by operation.
    std::map<std::string, int> CommandCalls() const {
        std::map<std::string, int> calls;
        for (const auto& [operation, count] : fake.FailableCalls()) {
            auto before = callsBefore.find(operation);
            const int made = count - (before == callsBefore.end() ? 0 : before->second);
            if (made > 0)
                calls[operation] = made;
        }
        return calls;
    }

    // Whether a command that meets no failure works afterwards, on a connection of its own if the
    // command left none active.
    bool NextCommandWorks() {
        OutputCapture discard;
        if (!GetActiveConnection())
            OpenConnection(L"", SC_MANAGER_ALL_ACCESS);
        ::SetLastError(0);
        return RunCommandLine(L"query status Beta").result == 1 && ::GetLastError() == 0;
    }

    // What is still taken once every connection is closed.
    std::pair<size_t, unsigned long> LeftAfterClosing() {
        {
            OutputCapture discard;
            CloseAllConnections();
        }
        return {fake.OpenObjects(), MemLiveBlocks() - blocksAtStart};
    }

    FakePlatform fake;
    const unsigned long blocksAtStart;
    std::map<std::string, int> callsBefore;
    CommandOutcome outcome{};
    DWORD lastError = 0;
    unsigned long blocksTaken = 0;
    size_t objectsHeld = 0;
};

class FaultInjectionTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultInjectionTest, EachFailingCallIsReportedAndWhatWasTakenIsGivenBack) {
    const Scenario& scenario = GetParam();
    std::map<std::string, int> calls;
    DWORD lastErrorWithout = 0;
    size_t objectsWithout = 0;
    unsigned long blocksWithout = 0;
    {
        InjectedRun clean(scenario, nullptr);
        calls = clean.CommandCalls();
        lastErrorWithout = clean.lastError;
        objectsWithout = clean.objectsHeld;
        blocksWithout = clean.blocksTaken;
    }
    ASSERT_FALSE(calls.empty()) << "a command that makes no platform call has nothing to fail";
    for (const auto& [operation, count] : calls) {
        for (int occurrence = 1; occurrence <= count; ++occurrence) {
            SCOPED_TRACE(operation + " #" + std::to_string(occurrence) + " fails");
            const InjectedRun::Failure failure{operation, occurrence};
            InjectedRun run(scenario, &failure);
            const DWORD expected = ExpectedLastError(scenario, operation, occurrence);
            EXPECT_EQ(run.lastError, expected == Injected    ? CodeFor(operation)
                                     : expected == AsWithout ? lastErrorWithout
                                                             : expected);
            const size_t leftOpen = ClosesAnObject(operation) ? 1 : 0;
            EXPECT_LE(run.objectsHeld, objectsWithout + leftOpen) << "holds more than without the failure";
            EXPECT_LE(run.blocksTaken, blocksWithout) << "holds more than without the failure";
            EXPECT_TRUE(run.NextCommandWorks());
            const auto [objectsLeft, blocksLeft] = run.LeftAfterClosing();
            EXPECT_LE(objectsLeft, leftOpen) << "left open";
            EXPECT_EQ(blocksLeft, 0ul) << "blocks leaked";
        }
    }
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) {
    std::string name;
    for (const wchar_t* c = info.param.line; *c; ++c)
        if (std::iswalnum(*c))
            name += static_cast<char>(*c);
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultInjectionTest, ::testing::ValuesIn(Scenarios), ScenarioName);

} // namespace
