// Random command lines from the whole command tree against simulated machines that hold what a
// careless command could harm: a shared service host, a critical process, a service of the system
// process, hung services with every kind of failure action, the remote-registry service, and
// other machines that refuse, cannot be reached or stop answering; Ctrl+C comes at random waits.
// After each line the machine's ledger of changes is checked against what the line may change
// (LedgerRules). A seed makes one session; ORVEL_LEDGER_SEED runs another one instead.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwctype>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CommandFixture.h"
#include "CommandLine.h"
#include "CommandRunner.h"
#include "ConfigCommands.h"
#include "Connections.h"
#include "FakePlatform.h"
#include "LedgerRules.h"
#include "ServiceGroups.h"
#include "StandardStreams.h"

namespace {

const DWORD SharedHost = 900;
const DWORD CriticalHost = 950;
const DWORD SystemProcess = 4;
const wchar_t SilentMachine[] = L"SRV2";
const wchar_t UnreachableMachine[] = L"FAR";
const wchar_t DebuggerKey[] = L"hklm\\software\\microsoft\\windows nt\\currentversion\\aedebug";

SERVICE_STATUS_PROCESS StatusOf(DWORD type, DWORD state, DWORD processId, DWORD flags = 0) {
    const DWORD accepted = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    const DWORD waitHint = state == SERVICE_STOP_PENDING ? 3000 : 0;
    return {type, state, accepted, 0, 0, 0, waitHint, state == SERVICE_STOPPED ? 0 : processId, flags};
}

FakeService& Running(FakePlatform& fake, const std::wstring& name, DWORD processId, DWORD flags = 0,
                     DWORD type = SERVICE_WIN32_OWN_PROCESS) {
    FakeService& service = fake.AddService(name, type);
    service.status = StatusOf(type, SERVICE_RUNNING, processId, flags);
    if (processId != SystemProcess)
        fake.runningProcesses.insert(processId);
    return service;
}

// Once asked, it reports STOP_PENDING for good: a stop waits for it to its time-out.
FakeService& Hung(FakeService& service) {
    service.scriptedStatuses = {service.status,
                                StatusOf(service.serviceType, SERVICE_STOP_PENDING,
                                         service.status.dwProcessId, service.status.dwServiceFlags)};
    return service;
}

void SetActions(FakeService& service, std::vector<SC_ACTION> actions) {
    service.actions = std::move(actions);
    service.resetPeriod = 86400;
}

// The services, groups and debugger that every machine shows: the simulated machines share one
// database.
void BuildServices(FakePlatform& fake) {
    Running(fake, L"Plain", 5001);
    Running(fake, L"Upper", 5002).dependencies = {L"Plain"};
    Running(fake, L"SharedA", SharedHost, 0, SERVICE_WIN32_SHARE_PROCESS);
    Running(fake, L"SharedB", SharedHost, 0, SERVICE_WIN32_SHARE_PROCESS);
    Hung(Running(fake, L"HungShared", SharedHost, 0, SERVICE_WIN32_SHARE_PROCESS));
    Hung(
        Running(fake, L"SysSvc", SystemProcess, SERVICE_RUNS_IN_SYSTEM_PROCESS, SERVICE_WIN32_SHARE_PROCESS));
    Hung(Running(fake, L"CritSvc", CriticalHost));
    fake.criticalProcesses.insert(CriticalHost);
    Hung(Running(fake, L"HungNone", 5101));
    SetActions(Hung(Running(fake, L"HungRestart", 5102)), {{SC_ACTION_RESTART, 60000}});
    SetActions(Hung(Running(fake, L"HungReboot", 5103)), {{SC_ACTION_NONE, 0}, {SC_ACTION_REBOOT, 0}});
    SetActions(Hung(Running(fake, L"HungRun", 5104)), {{SC_ACTION_RUN_COMMAND, 1000}});
    fake.AddService(L"Idle");
    fake.AddService(L"RemoteRegistry", SERVICE_WIN32_SHARE_PROCESS);
    ServiceGroups::SetGroupList(fake, {L"Base", L"NDIS", L"PnP"});
    fake.registry[ServiceGroups::ServicesKey];
    fake.SetRegistryString(DebuggerKey, L"Debugger", L"\"C:\\dbg.exe\" -p %ld -e %ld");
    fake.unreachableMachines.insert(UnreachableMachine);
}

// What differs from session to session: the remote-registry service's state, the caller's rights
// and when the silent machine stops answering (each time counted in `outages`).
void VaryMachines(FakePlatform& fake, std::mt19937& random, int& outages) {
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    FakeService& registry = *fake.FindService(L"RemoteRegistry");
    registry.startType = chance(50) ? SERVICE_DISABLED : SERVICE_DEMAND_START;
    if (chance(25))
        registry.status =
            StatusOf(SERVICE_WIN32_SHARE_PROCESS, chance(50) ? SERVICE_RUNNING : SERVICE_PAUSED, 960);
    fake.remoteAdministrator = chance(75);
    fake.elevated = chance(90);
    // Now and then the machine goes silent for a while, and comes back restarted.
    DWORD tick = 0;
    for (int outage = 0; outage < 12; ++outage) {
        tick += std::uniform_int_distribution<DWORD>(30000, 400000)(random);
        fake.timedEvents.push_back({tick, [&fake, &outages] {
                                        fake.StopAnswering(SilentMachine);
                                        ++outages;
                                    }});
        tick += std::uniform_int_distribution<DWORD>(30000, 400000)(random);
        fake.timedEvents.push_back({tick, [&fake] { fake.AnswerAgain(SilentMachine); }});
    }
}

const std::vector<std::wstring> ServiceNames = {L"Plain",          L"Upper",      L"SharedA", L"SharedB",
                                                L"HungShared",     L"SysSvc",     L"CritSvc", L"HungNone",
                                                L"HungRestart",    L"HungReboot", L"HungRun", L"Idle",
                                                L"RemoteRegistry", L"NewSvc",     L"Nobody"};
const std::vector<std::wstring> MachineNames = {L"quorvan-pc", L"\\\\QUORVAN-PC", L"QUORVAN-PC.",     L"SRV1",
                                                L"\\\\SRV1",   SilentMachine,     UnreachableMachine, L"."};
const std::vector<std::wstring> Rights = {L"", L"1", L"4", L"5", L"8", L"12", L"16", L"24", L"983103"};

// Command lines from every part of the command tree, weighted towards those that change things.
class LineMaker {
public:
    explicit LineMaker(std::mt19937& random) : m_random(random) {
        auto service = [this] { return Pick(ServiceNames); };
        m_kinds = {
            {12, [this] { return L"connect " + Pick(MachineNames) + L" " + Pick(Rights); }},
            {4, [this] { return L"sactc " + std::to_wstring(Between(0, 3)); }},
            {3, [this] { return L"cc " + std::to_wstring(Between(1, 3)); }},
            {1, [] { return std::wstring(L"cactc"); }},
            {1, [] { return std::wstring(L"callc"); }},
            {2, [] { return std::wstring(L"cl"); }},
            {5, [=] { return L"start " + service(); }},
            {10, [=] { return L"stop " + service(); }},
            {3, [=] { return L"pause " + service(); }},
            {3, [=] { return L"continue " + service(); }},
            {1, [=] { return L"interrogate " + service(); }},
            {6, [=] { return L"debug " + service(); }},
            {4, [] { return std::wstring(L"lock on"); }},
            {4, [] { return std::wstring(L"lock off"); }},
            {1, [] { return std::wstring(L"lock status"); }},
            {2, [] { return std::wstring(L"boot ok"); }},
            {6, [] { return std::wstring(L"boot bad"); }},
            {3,
             [this] {
                 return L"enum services " + Pick({L"", L"tous", L"pilotes actifs"});
             }},
            {4, [] { return std::wstring(L"enum service_group"); }},
            {2, [] { return std::wstring(L"enum service_group_load_order"); }},
            {1, [=] { return L"enum dependent_services " + service(); }},
            {5,
             [this] {
                 return L"create service_group " + Pick({L"Audio", L"base", L"Video"}) + L" " +
                        Pick({L"", L"order=0", L"order=1", L"order=7", L"order=premier",
                              L"set_group_at_the_end"});
             }},
            {4,
             [this] {
                 return L"delete service_group " + Pick({L"order=0", L"order=2", L"order=9", L"order=premier",
                                                         L"name=Audio", L"name=NDIS"});
             }},
            {2, [] { return std::wstring(L"create service_object NewSvc"); }},
            {1, [=] { return L"delete service_object " + service(); }},
            {2,
             [=] {
                 return L"query " + Pick({L"status", L"config", L"configex"}) + L" " + service();
             }},
            {1, [=] { return L"get service pid " + service(); }},
            {3, [=] { return L"set configex " + service(); }},
        };
        for (const Kind& kind : m_kinds)
            m_totalWeight += kind.weight;
    }

    std::wstring Next() {
        int draw = Between(0, m_totalWeight - 1);
        for (const Kind& kind : m_kinds) {
            if (draw < kind.weight)
                return kind.make();
            draw -= kind.weight;
        }
        return L"cl";
    }

    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    std::wstring Pick(const std::vector<std::wstring>& from) {
        return from[static_cast<size_t>(Between(0, static_cast<int>(from.size()) - 1))];
    }

private:
    struct Kind {
        int weight;
        std::function<std::wstring()> make;
    };
    std::mt19937& m_random;
    std::vector<Kind> m_kinds;
    int m_totalWeight = 0;
};

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

bool NamesThisComputer(const std::wstring& machine) {
    const std::wstring name = LedgerRules::Machine(machine);
    return name.empty() || name == L"quorvan-pc" || name == L"quorvan-pc.corp.example";
}

// The ledger names the machine as the caller did, says whether it is this computer, and records
// refusals with their code.
class LedgerTest : public CommandFixture {
protected:
    LedgerTest() { BuildServices(fake); }

    // The last entry of `call` that `line` (after `setup`) asked for.
    LedgerEntry LastOf(const wchar_t* setup, const wchar_t* line, const std::string& call) {
        RunCommandLine(setup);
        const size_t from = fake.ledger.size();
        RunCommandLine(line);
        const std::vector<LedgerEntry> entries = fake.LedgerOf(call, from);
        EXPECT_FALSE(entries.empty()) << Narrow(line);
        return entries.empty() ? LedgerEntry() : entries.back();
    }
};

TEST_F(LedgerTest, EachChangeIsRecordedWithItsMachineTargetAndOutcome) {
    const struct {
        const wchar_t* setup;
        const wchar_t* line;
        const char* call;
        const wchar_t* machine;
        bool thisComputer;
        const wchar_t* target;
        DWORD outcome;
        DWORD detail;
    } cases[] = {
        {L"connect SRV1 983103", L"start Idle", "StartServiceW", L"SRV1", false, L"Idle", ERROR_SUCCESS, 0},
        {L"connect \\\\QUORVAN-PC 1", L"lock on", "LockServiceDatabase", L"QUORVAN-PC", true, L"QUORVAN-PC",
         ERROR_ACCESS_DENIED, 0},
        {L"callc", L"boot bad", "NotifyBootConfigStatus", L"", true, L"", ERROR_SUCCESS, FALSE},
        {L"connect quorvan-pc 983103", L"pause Plain", "ControlService", L"quorvan-pc", true, L"Plain",
         ERROR_SUCCESS, SERVICE_CONTROL_PAUSE},
        {L"connect SRV1 983103", L"create service_object Plain", "CreateServiceW", L"SRV1", false, L"Plain",
         ERROR_SERVICE_EXISTS, 0},
        {L"connect SRV1 983103", L"delete service_object Idle", "DeleteService", L"SRV1", false, L"Idle",
         ERROR_SUCCESS, 0},
        {L"connect quorvan-pc 983103", L"create service_group Audio", "RegSetValueExW", L"", true,
         L"hklm\\system\\currentcontrolset\\control\\servicegrouporder\\list", ERROR_SUCCESS, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.line));
        const LedgerEntry entry = LastOf(c.setup, c.line, c.call);
        EXPECT_EQ(entry.machine, c.machine);
        EXPECT_EQ(entry.thisComputer, c.thisComputer);
        EXPECT_EQ(entry.target, c.target);
        EXPECT_EQ(entry.outcome, c.outcome);
        if (entry.call != "LockServiceDatabase") {
            EXPECT_EQ(entry.detail, c.detail);
        }
    }
}

// An ended or debugged process is described as it was when the call was asked, whoever asked:
// here another program, since the console itself no longer reaches these processes.
TEST_F(LedgerTest, EndedAndDebuggedProcessesAreDescribedAsTheyWere) {
    size_t from = fake.ledger.size();
    // A LocalSystem service's process opens for its end under the debug privilege.
    fake.privileges[L"SeDebugPrivilege"].enabled = true;
    const HANDLE process = fake.OpenProcess(PROCESS_TERMINATE, FALSE, 5103);
    ASSERT_NE(process, nullptr);
    EXPECT_TRUE(fake.TerminateProcess(process, 1));
    fake.CloseHandle(process);
    const std::vector<LedgerEntry> ends = fake.LedgerOf("TerminateProcess", from);
    ASSERT_EQ(ends.size(), 1u);
    ASSERT_EQ(ends[0].processes.size(), 1u);
    EXPECT_EQ(ends[0].processes[0].id, 5103u);
    EXPECT_EQ(ends[0].processes[0].services, std::vector<std::wstring>{L"HungReboot"});
    EXPECT_TRUE(ends[0].processes[0].rebootOnFailure);
    EXPECT_FALSE(ends[0].processes[0].critical || ends[0].processes[0].system);

    auto debuggerStarted = [&](std::wstring commandLine) {
        from = fake.ledger.size();
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        EXPECT_TRUE(fake.CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &started));
        fake.CloseHandle(started.hProcess);
        fake.CloseHandle(started.hThread);
        const std::vector<LedgerEntry> starts = fake.LedgerOf("CreateProcessW", from);
        return starts.empty() ? LedgerEntry() : starts.back();
    };
    const LedgerEntry debugger = debuggerStarted(L"\"C:\\dbg.exe\" -p 4 -e 77");
    ASSERT_FALSE(debugger.processes.empty());
    EXPECT_EQ(debugger.processes[0].id, SystemProcess);
    EXPECT_TRUE(debugger.processes[0].system);
    EXPECT_EQ(debugger.commandLine, L"\"C:\\dbg.exe\" -p 4 -e 77");

    const LedgerEntry shared = debuggerStarted(L"dbg -p 900");
    ASSERT_FALSE(shared.processes.empty());
    EXPECT_EQ(shared.processes[0].services,
              (std::vector<std::wstring>{L"SharedA", L"SharedB", L"HungShared"}));
}

LedgerEntry Change(const char* call, const std::wstring& target, const std::wstring& machine = L"",
                   DWORD detail = 0) {
    LedgerEntry entry;
    entry.call = call;
    entry.target = target;
    entry.machine = machine;
    entry.thisComputer = NamesThisComputer(machine);
    entry.detail = detail;
    return entry;
}

LedgerEntry Ended(const std::vector<std::wstring>& services, bool reboot = false) {
    LedgerEntry entry = Change("TerminateProcess", L"5001");
    entry.processes.push_back({5001, services, false, false, reboot});
    return entry;
}

LedgerEntry Debugged(const std::vector<std::wstring>& services) {
    LedgerEntry entry = Change("CreateProcessW", L"dbg -p 5001");
    entry.processes.push_back({5001, services, false, false, false});
    return entry;
}

LedgerEntry GroupListWritten(const std::vector<std::wstring>& before,
                             const std::vector<std::wstring>& after) {
    LedgerEntry entry =
        Change("RegSetValueExW", L"hklm\\system\\currentcontrolset\\control\\servicegrouporder\\list");
    entry.dataBefore = ServiceGroups::BytesOf(ServiceGroups::MultiStringUnits(before));
    entry.dataAfter = ServiceGroups::BytesOf(ServiceGroups::MultiStringUnits(after));
    return entry;
}

LineStart ActiveOn(const std::wstring& machine, bool answering = true) {
    LineStart start;
    start.connections.push_back({&start, machine, NamesThisComputer(machine), answering});
    start.active = 0;
    return start;
}

// Each rule breaks on what it guards against and lets pass what the line asks.
TEST(LedgerRulesTest, EachRuleCatchesWhatItGuardsAgainst) {
    LineStart afterFailedConnect;
    afterFailedConnect.connectFailed = true;
    LedgerEntry stopDependent = Change("ControlService", L"Upper", L"srv1", SERVICE_CONTROL_STOP);
    stopDependent.dependsOn = {L"Plain"};
    const struct {
        const wchar_t* line;
        LineStart start;
        std::vector<LedgerEntry> entries;
        const char* rule;
    } cases[] = {
        {L"boot bad", LineStart(), {Change("NotifyBootConfigStatus", L"", L"", FALSE)}, ""},
        {L"boot bad",
         afterFailedConnect,
         {Change("NotifyBootConfigStatus", L"", L"", FALSE)},
         "this computer was restarted"},
        {L"boot bad",
         ActiveOn(L"quorvan-pc", false),
         {Change("NotifyBootConfigStatus", L"", L"", FALSE)},
         "this computer was restarted"},
        {L"boot bad", ActiveOn(L"quorvan-pc"), {Change("NotifyBootConfigStatus", L"", L"", FALSE)}, ""},
        {L"stop Plain", ActiveOn(L"quorvan-pc"), {Ended({L"Plain"})}, ""},
        {L"stop Plain",
         ActiveOn(L"quorvan-pc"),
         {Ended({L"Plain"}, true)},
         "a process that must be spared was ended"},
        {L"stop Plain",
         ActiveOn(L"quorvan-pc"),
         {Ended({L"Plain", L"Other"})},
         "a process that must be spared was ended"},
        {L"debug Plain", ActiveOn(L"quorvan-pc"), {Debugged({L"Plain"})}, ""},
        {L"debug SharedA",
         ActiveOn(L"quorvan-pc"),
         {Debugged({L"SharedA", L"SharedB"})},
         "a debugger was started for a process the kill would spare"},
        {L"create service_group G order=1",
         ActiveOn(L"quorvan-pc"),
         {GroupListWritten({L"A", L"B"}, {L"A", L"G", L"B"})},
         ""},
        {L"create service_group G order=1",
         ActiveOn(L"quorvan-pc"),
         {GroupListWritten({L"A", L"B"}, {L"G", L"A", L"B"})},
         "the group list is not what the line asks"},
        {L"create service_group G order=premier",
         ActiveOn(L"quorvan-pc"),
         {GroupListWritten({L"A", L"B"}, {L"G", L"A", L"B"})},
         "the group list was written by a line that asks no such change"},
        {L"enum service_group",
         ActiveOn(L"SRV1"),
         {Change("StartServiceW", L"RemoteRegistry", L"SRV1")},
         "the remote-registry service was not put back"},
        {L"enum service_group",
         ActiveOn(L"SRV1"),
         {Change("StartServiceW", L"RemoteRegistry", L"SRV1"),
          Change("ControlService", L"RemoteRegistry", L"\\\\srv1", SERVICE_CONTROL_STOP)},
         ""},
        {L"start Plain",
         ActiveOn(L"SRV1"),
         {Change("StartServiceW", L"Plain", L"SRV3")},
         "a change fell on a machine that the line did not reach"},
        {L"start Plain",
         ActiveOn(L"SRV1"),
         {Change("StartServiceW", L"Idle", L"SRV1")},
         "a change that the line does not ask for"},
        {L"stop Plain", ActiveOn(L"SRV1"), {stopDependent}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.line));
        LedgerRules rules;
        std::set<std::string> found;
        for (const Violation& violation :
             rules.Check(CommandLineWords(c.line), c.start, LineEvents(), c.entries))
            found.insert(violation.rule);
        EXPECT_EQ(found, *c.rule ? std::set<std::string>{c.rule} : std::set<std::string>());
    }
}

// The lock is followed from line to line: given back by the close of its connection, or left held.
TEST(LedgerRulesTest, TheLockEndsWithItsConnection) {
    const LineStart start = ActiveOn(L"SRV1");
    LedgerEntry lock = Change("LockServiceDatabase", L"SRV1", L"SRV1", 77);
    for (bool unlocked : {true, false}) {
        LedgerRules rules;
        EXPECT_TRUE(rules.Check(CommandLineWords(L"lock on"), start, LineEvents(), {lock}).empty());
        std::vector<LedgerEntry> closing;
        if (unlocked)
            closing.push_back(Change("UnlockServiceDatabase", L"SRV1", L"SRV1", 77));
        const std::vector<Violation> found =
            rules.Check(CommandLineWords(L"cc 1"), start, LineEvents(), closing);
        EXPECT_EQ(found.size(), unlocked ? 0u : 1u);
        std::set<std::string> retaken;
        for (const Violation& violation :
             rules.Check(CommandLineWords(L"enum service_group"), start, LineEvents(), {lock}))
            retaken.insert(violation.rule);
        EXPECT_EQ(retaken.count("the lock was taken by a line that does not take it"), 1u)
            << "only the holder's lock is taken again around the registry's attachment";
    }
}

struct Finding {
    int lines = 0;
    std::string first;
};

class ChangeLedgerTest : public CommandFixture, public ::testing::WithParamInterface<unsigned> {
protected:
    static constexpr int LinesPerSession = 500;

    ~ChangeLedgerTest() override { SetConfigAnswerInput(nullptr); }

    void RunSession(unsigned seed) {
        std::mt19937 random(seed);
        BuildServices(fake);
        VaryMachines(fake, random, m_outages);
        LineMaker lines(random);
        for (int number = 1; number <= LinesPerSession; ++number)
            RunAndCheck(seed, number, lines);
        ForgetAbandonedHandles();
    }

    void RunAndCheck(unsigned seed, int number, LineMaker& lines) {
        const std::wstring line = lines.Next();
        const std::vector<std::wstring> words = CommandLineWords(line);
        const int outagesBefore = m_outages;
        ShowPrompt();
        const LineStart start = Snapshot();
        const std::set<const void*> lostBefore = LostConnections();
        const unsigned long countBefore = ConnectionCount();
        Arm(words, start, lines);
        // Each line's entries are read alone: the session's ledger is not kept.
        fake.ledger.clear();
        const CommandOutcome outcome = RunCommandLine(line.c_str());
        const int result = outcome.result;
        NoteCommandEnd();
        ::SetLastError(0);
        fake.ClearFailures();
        LineEvents events;
        events.ctrlC = m_ctrlCArmed && fake.ctrlCAtSleep == 0;
        fake.ctrlCAtSleep = 0;
        m_ctrlCArmed = false;
        if (events.ctrlC)
            EndConsole();
        events.silent = SilentMachines();
        if (m_outages != outagesBefore)
            events.stoppedAnswering.insert(LedgerRules::Machine(SilentMachine));
        const std::vector<LedgerEntry> entries = std::move(fake.ledger);
        const std::string where = "seed " + std::to_string(seed) + ", line " + std::to_string(number) + " `" +
                                  Narrow(line) + (events.ctrlC ? "` (Ctrl+C)" : "`") + m_injected;
        if (std::getenv("ORVEL_LEDGER_TRANSCRIPT"))
            std::cout << where << " -> " << result << ", " << entries.size() << " change(s) asked\n"
                      << Narrow(outcome.err);
        for (const Violation& violation : m_rules.Check(words, start, events, entries))
            Note(violation, where);
        if (m_outages == outagesBefore)
            NoteConnectionsLostWhileAnswering(lostBefore, where);
        FollowConnectionChoice(words, result, countBefore, events.ctrlC);
    }

    std::set<const void*> LostConnections() const {
        std::set<const void*> lost;
        for (unsigned long number = 1; number <= ConnectionCount(); ++number)
            if (ConnectionLossCode(GetConnection(number)))
                lost.insert(GetConnection(number));
        return lost;
    }

    static std::wstring MachineOf(const CSvcCtrlMgr& connection) {
        ServicesManagement::_SCM_PROPERTIES properties;
        connection.GetProperties(&properties);
        const wchar_t* name = properties.szMachineName;
        return name ? name : L"";
    }

    // Not a matter of the ledger, but of what follows: a connection marked lost makes no more
    // calls, and its handle is left to a machine that still answers. Only a line during which no
    // machine went silent can say so.
    void NoteConnectionsLostWhileAnswering(const std::set<const void*>& lostBefore,
                                           const std::string& where) {
        for (unsigned long number = 1; number <= ConnectionCount(); ++number) {
            CSvcCtrlMgr* connection = GetConnection(number);
            const std::wstring machine = MachineOf(*connection);
            if (!ConnectionLossCode(connection) || lostBefore.count(connection) || !fake.Answers(machine))
                continue;
            m_abandonedMachines.insert(
                machine.substr(std::min(machine.size(), machine.find_first_not_of(L'\\'))));
            Note({"a connection to a machine that answers was marked lost",
                  "'" + Narrow(machine) + "', error " + std::to_string(ConnectionLossCode(connection))},
                 where);
        }
    }

    // The handles of the connections marked lost by mistake are forgotten, as their machines
    // would forget them, once that has been reported: the fixture then checks what else is left.
    void ForgetAbandonedHandles() {
        {
            OutputCapture discard;
            CloseAllConnections();
        }
        fake.AnswerAgain(SilentMachine);
        for (const std::wstring& machine : m_abandonedMachines)
            fake.AnswerAgain(machine);
    }

    // The prompt reads the active connection's lock status before each line, as the loop's does.
    void ShowPrompt() {
        if (CSvcCtrlMgr* active = GetConnection(ActiveConnectionNumber()))
            ReadConnectionState(active);
    }

    LineStart Snapshot() const {
        LineStart start;
        for (unsigned long number = 1; number <= ConnectionCount(); ++number) {
            CSvcCtrlMgr* connection = GetConnection(number);
            const std::wstring machine = MachineOf(*connection);
            start.connections.push_back({connection, machine, NamesThisComputer(machine),
                                         ConnectionLossCode(connection) == 0 && fake.Answers(machine)});
        }
        if (ActiveConnectionNumber() != 0)
            start.active = static_cast<int>(ActiveConnectionNumber()) - 1;
        start.connectFailed = m_connectFailed;
        return start;
    }

    std::set<std::wstring> SilentMachines() const {
        std::set<std::wstring> silent;
        for (const std::wstring& machine : MachineNames)
            if (!fake.Answers(machine))
                silent.insert(LedgerRules::Machine(machine));
        return silent;
    }

    // Ctrl+C at a random wait of a few lines; for the group commands on another machine, now and
    // then a call of the remote-registry service's put-back fails as a busy network makes it fail
    // (or the registry cannot be reached); set configex gets its answers.
    void Arm(const std::vector<std::wstring>& words, const LineStart& start, LineMaker& lines) {
        const std::wstring command = Lower(words[0]) + L" " + (words.size() > 1 ? Lower(words[1]) : L"");
        const bool groupCommand = command == L"enum service_group" || command == L"create service_group" ||
                                  command == L"delete service_group";
        const bool waits = groupCommand || Lower(words[0]) == L"stop" || Lower(words[0]) == L"start";
        if (waits && lines.Between(0, 99) < 15) {
            fake.ctrlCAtSleep = lines.Between(1, 8);
            m_ctrlCArmed = true;
        }
        const bool remote =
            start.active >= 0 && !start.connections[static_cast<size_t>(start.active)].thisComputer;
        m_injected.clear();
        if (groupCommand && remote) {
            switch (lines.Between(0, 4)) {
            case 1:
                Inject("ControlService", RPC_S_CALL_FAILED, 1, 1);
                break;
            case 2:
                Inject("ChangeServiceConfigW", RPC_S_CALL_FAILED, 2, 2);
                break;
            case 3:
                Inject("RegConnectRegistryW", RPC_S_SERVER_UNAVAILABLE, 1, 1);
                break;
            case 4:
                Inject("RegConnectRegistryW", ERROR_ACCESS_DENIED, 1, 1);
                break;
            default:
                break;
            }
        }
        if (command == L"set configex") {
            m_answers = std::make_unique<TextBufferInput>(L"Description\n0\n\n\n1\n" +
                                                          std::to_wstring(lines.Between(0, 3)) + L" 0\n");
            SetConfigAnswerInput(m_answers.get());
        }
    }

    void Inject(const char* operation, DWORD code, int occurrence, int times) {
        fake.FailCall(operation, code, occurrence, times);
        m_injected = std::string(" (") + operation + " call " + std::to_string(occurrence) +
                     (times > 1 ? " and the next" : "") + " of the line fail with " + std::to_string(code) +
                     ")";
    }

    // The control handler closed every connection and the console ends; it starts again.
    void EndConsole() {
        OutputCapture discard;
        CloseAllConnections();
        m_connectFailed = false;
    }

    // A failed connect leaves no connection active; choosing or closing one is a choice again.
    void FollowConnectionChoice(const std::vector<std::wstring>& words, int result, unsigned long countBefore,
                                bool ended) {
        const std::wstring command = Lower(words[0]);
        if (ended)
            m_connectFailed = false;
        else if (command == L"connect" && (words.size() == 2 || words.size() == 3))
            m_connectFailed = ConnectionCount() == countBefore;
        else if ((command == L"sactc" || command == L"cc" || command == L"cactc" || command == L"callc") &&
                 result)
            m_connectFailed = false;
    }

    void Note(const Violation& violation, const std::string& where) {
        if (std::getenv("ORVEL_LEDGER_TRANSCRIPT"))
            std::cout << "  " << violation.rule << ": " << violation.detail << "\n";
        Finding& finding = m_findings[violation.rule];
        if (finding.lines++ == 0)
            finding.first = where + ": " + violation.detail;
    }

    void Report() const {
        for (const auto& [rule, finding] : m_findings)
            ADD_FAILURE() << rule << " (" << finding.lines << " time(s)); first at " << finding.first;
    }

    LedgerRules m_rules;
    std::map<std::string, Finding> m_findings;
    int m_outages = 0;
    std::set<std::wstring> m_abandonedMachines;
    bool m_connectFailed = false;
    bool m_ctrlCArmed = false;
    // The failure injected for the line, as its report names it.
    std::string m_injected;
    std::unique_ptr<TextBufferInput> m_answers;
};

TEST_P(ChangeLedgerTest, EveryChangeIsOneTheLineMayMake) {
    const unsigned seed = GetParam();
    std::cout << "ChangeLedgerTest seed " << seed << " (ORVEL_LEDGER_SEED=" << seed << " runs it alone)"
              << std::endl;
    SCOPED_TRACE("seed " + std::to_string(seed));
    RunSession(seed);
    Report();
}

std::vector<unsigned> Seeds() {
    if (const char* chosen = std::getenv("ORVEL_LEDGER_SEED"))
        return {static_cast<unsigned>(std::strtoul(chosen, nullptr, 10))};
    return {20260101, 20260202, 20260303, 20260404, 20260505, 20260606, 20260707, 20260808};
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChangeLedgerTest, ::testing::ValuesIn(Seeds()),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return std::to_string(info.param);
                         });

} // namespace
