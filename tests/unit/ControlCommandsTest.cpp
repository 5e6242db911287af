#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Commands.h"
#include "Connections.h"
#include "FakePlatform.h"

namespace {

class ControlCommandsTest : public CommandFixture {
protected:
    ControlCommandsTest() : service(fake.AddService(L"Alpha")) {
        service.status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
        OpenConnection(L"", SC_MANAGER_CONNECT);
    }
    FakeService& service;
};

TEST_F(ControlCommandsTest, WrongWordCountsShowTheUsageAndTouchNothing) {
    const struct {
        const wchar_t* line;
        COMMAND_HELP help;
    } cases[] = {{L"start", StartHelp},
                 {L"stop", StopHelp},
                 {L"stop Alpha 1:2:8 comment more", StopHelp},
                 {L"pause", PauseHelp},
                 {L"pause Alpha x", PauseHelp},
                 {L"continue", ContinueHelp},
                 {L"continue Alpha x", ContinueHelp},
                 {L"interrogate", InterrogateHelp},
                 {L"interrogate a b", InterrogateHelp},
                 {L"debug", DebugHelp},
                 {L"debug a b", DebugHelp}};
    for (const auto& c : cases) {
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, 0) << c.line;
        EXPECT_EQ(outcome.out, UsageOf(c.help)) << c.line;
        EXPECT_EQ(CommandLineSlip(), static_cast<unsigned long>(ERROR_INVALID_PARAMETER)) << c.line;
    }
    EXPECT_TRUE(fake.serviceOpenings.empty());
    RunCommandLine(L"interrogate Alpha");
    EXPECT_EQ(CommandLineSlip(), 0u) << "a command that ran clears the slip of the line before";
}

TEST_F(ControlCommandsTest, StartPassesTheWordsAfterTheNameAsTyped) {
    const CommandOutcome outcome = RunCommandLine(L"start Alpha one key=\"two words\"");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, L"\n");
    EXPECT_EQ(service.startArguments, (std::vector<std::wstring>{L"one", L"key=\"two words\""}));
}

TEST_F(ControlCommandsTest, StopIgnoresReasonAndCommentAndPauseContinueFollow) {
    RunCommandLine(L"start Alpha");
    EXPECT_EQ(RunCommandLine(L"pause Alpha").result, 1);
    EXPECT_EQ(service.status.dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
    EXPECT_EQ(RunCommandLine(L"continue Alpha").result, 1);
    EXPECT_EQ(RunCommandLine(L"stop Alpha 1:2:8 \"disque plein\"").result, 1);
    EXPECT_EQ(service.status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(service.controlsReceived,
              (std::vector<DWORD>{SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_STOP}));
}

TEST_F(ControlCommandsTest, InterrogateOnlyOpensTheService) {
    EXPECT_EQ(RunCommandLine(L"interrogate Alpha").result, 1);
    EXPECT_TRUE(service.controlsReceived.empty());
    ::SetLastError(0);
    const CommandOutcome missing = RunCommandLine(L"interrogate Nobody");
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.out, L"\n");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// control sends a service's own code, or a notice that has no command of its own, with the right
// its page asks, and shows the state as query status does; a code another command owns, or any
// other word, shows the usage and sends nothing.
TEST_F(ControlCommandsTest, ControlSendsItsCodeWithItsRightAndShowsTheState) {
    service.status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING,
                      SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PARAMCHANGE, 0, 0, 0, 0, 4300, 0};
    const DWORD UserControl = SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS;
    const DWORD Notice = SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS;
    const struct {
        const wchar_t* line;
        int result;
        DWORD lastError;
        std::vector<DWORD> sent;
        DWORD access;
    } cases[] = {
        {L"control Alpha 130", 1, 0, {130}, UserControl},
        {L"control Alpha 255", 1, 0, {255}, UserControl},
        {L"control Alpha 128", 1, 0, {128}, UserControl},
        {L"control Alpha PARAMCHANGE", 1, 0, {SERVICE_CONTROL_PARAMCHANGE}, Notice},
        {L"control Alpha 6", 1, 0, {SERVICE_CONTROL_PARAMCHANGE}, Notice},
        {L"control Alpha netbindadd", 0, ERROR_INVALID_SERVICE_CONTROL, {}, Notice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        service.controlsReceived.clear();
        fake.serviceOpenings.clear();
        ::SetLastError(0);
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(::GetLastError(), c.lastError);
        EXPECT_EQ(service.controlsReceived, c.sent);
        // One opening, the lookup's, with the reads' rights and the control's: the control and
        // the status shown work on the handle it keeps.
        const DWORD reads = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;
        EXPECT_EQ(fake.serviceOpenings, std::vector<DWORD>{reads | c.access});
        EXPECT_EQ(outcome.out, c.result ? RunCommandLine(L"query status Alpha").out : L"\n");
    }
    const std::wstring usage = UsageOf(ControlHelp);
    fake.serviceOpenings.clear();
    for (const wchar_t* line : {L"control Alpha", L"control Alpha 130 x", L"control Alpha 1", L"control Alpha 2",
                                L"control Alpha 3", L"control Alpha 4", L"control Alpha 5", L"control Alpha 11",
                                L"control Alpha 127", L"control Alpha 256", L"control Alpha -130",
                                L"control Alpha stop", L"control Alpha 0x80"})
        ExpectRefusedWithUsage(line, usage);
    EXPECT_TRUE(fake.serviceOpenings.empty());
    EXPECT_NE(usage.find(L"STOP, PAUSE, CONTINUE et INTERROGATE"), std::wstring::npos) << "it names their commands";

    // A stopped service takes no control: the manager's code.
    service.status.dwCurrentState = SERVICE_STOPPED;
    ::SetLastError(0);
    EXPECT_EQ(RunCommandLine(L"control Alpha 130").result, 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
}

// Without a connection the output is the empty line alone, and one line on the error stream says
// why nothing happened: after a failed connect it names the machine that could not be reached.
TEST_F(ControlCommandsTest, WithoutAConnectionOnlyTheEmptyLineIsWrittenAndTheReasonSaid) {
    {
        OutputCapture discard;
        CloseAllConnections();
    }
    const std::wstring none = L"Aucune connexion n'est active";
    fake.unreachableMachines.insert(L"far");
    // One command of each family that needs a connection.
    const wchar_t* const lines[] = {L"start Alpha",           L"control Alpha 130",      L"debug Alpha",
                                    L"lock on",               L"create service_group G", L"delete service_object Alpha",
                                    L"enum services",         L"enum service_group",     L"query status Alpha",
                                    L"get service pid Alpha", L"get properties",         L"set configex Alpha",
                                    L"set config Alpha start_type=auto"};
    for (const bool afterFailedConnect : {false, true}) {
        if (afterFailedConnect) {
            OutputCapture discard;
            OpenConnection(L"far", SC_MANAGER_CONNECT);
        }
        for (const wchar_t* line : lines) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(line)));
            ::SetLastError(0);
            const CommandOutcome outcome = RunCommandLine(line);
            EXPECT_EQ(outcome.result, 0);
            EXPECT_EQ(outcome.err, afterFailedConnect ? none + L" : la connexion \u00E0 far a \u00E9chou\u00E9 (erreur 1722). "
                                                               L"Reconnectez-vous avec 'connect far'.\n"
                                                     : none + L" : ouvrez-en une avec 'connect', ou choisissez-en une "
                                                              L"avec 'sactc'.\n");
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_CONNECTED));
        }
        EXPECT_EQ(RunCommandLine(L"start Alpha").out, L"\n") << "the output keeps its empty line";
    }
    EXPECT_TRUE(fake.serviceOpenings.empty());
    EXPECT_TRUE(fake.ledger.empty()) << "nothing asked of any machine";
}

// The debugger starts on this computer, and the boot notice always reaches it: neither may act
// on what another machine's id or connection names, the debugger on no process that the stop's
// kill would spare, and the notice not after a connection that failed or was lost. Each refusal
// says why, with its own code, and nothing is started, noticed or restarted.
TEST_F(ControlCommandsTest, DebugAndBootActOnlyOnThisComputer) {
    fake.SetRegistryString(L"hklm\\software\\microsoft\\windows nt\\currentversion\\aedebug", L"Debugger",
                           L"dbg.exe -p %ld -e %ld");
    RunCommandLine(L"start Alpha");
    // Processes that a debugger, which ends its debuggees when it exits, must not reach.
    auto running = [this](const wchar_t* name, DWORD processId, DWORD flags = 0) -> FakeService& {
        FakeService& added = fake.AddService(name, SERVICE_WIN32_SHARE_PROCESS);
        added.status = {SERVICE_WIN32_SHARE_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0, processId,
                        flags};
        fake.runningProcesses.insert(processId);
        return added;
    };
    running(L"Host1", 5100);
    running(L"Host2", 5100);
    running(L"Kernel", 4, SERVICE_RUNS_IN_SYSTEM_PROCESS);
    running(L"Critical", 5200);
    fake.criticalProcesses = {5200};
    running(L"Rebooter", 5300).actions = {{SC_ACTION_RESTART, 0}, {SC_ACTION_REBOOT, 0}};
    const std::wstring notAttached = L" n'a pas \u00E9t\u00E9 attach\u00E9 au d\u00E9bogueur : ";
    const std::wstring system = L"c'est un processus du syst\u00E8me.\n";
    auto loseTheConnection = [](FakePlatform& machine) {
        {
            OutputCapture discard;
            CloseAllConnections();
            OpenConnection(L"FAR", SC_MANAGER_CONNECT);
        }
        machine.StopAnswering(L"FAR");
        ReadConnectionState(GetConnection(1));
    };
    const struct {
        const wchar_t* machine;
        const wchar_t* line;
        int result;
        DWORD lastError;
        std::wstring err;
        size_t debuggers;
        // Run once the connection is opened.
        std::function<void(FakePlatform&)> arrange = [](FakePlatform&) {};
    } cases[] = {
        {L"", L"debug Alpha", 1, 0, L"", 1},
        {L"\\\\quorvan-pc", L"debug Alpha", 1, 0, L"", 1},
        {L"SRV", L"debug Alpha", 0, ERROR_NOT_SUPPORTED,
         L"Le d\u00E9bogueur d\u00E9marre sur cet ordinateur : il ne peut pas s'attacher \u00E0 un service de SRV.\n", 0},
        {L"", L"debug Stopped", 0, ERROR_SERVICE_NOT_ACTIVE,
         L"Le service Stopped ne tourne pas : il n'a pas de processus auquel attacher le d\u00E9bogueur.\n", 0},
        {L"", L"debug Host1", 0, ERROR_NOT_SUPPORTED,
         L"Le processus 5100 du service Host1" + notAttached + L"il h\u00E9berge aussi Host2.\n", 0},
        {L"", L"debug Kernel", 0, ERROR_NOT_SUPPORTED, L"Le processus 4 du service Kernel" + notAttached + system, 0},
        {L"", L"debug Critical", 0, ERROR_NOT_SUPPORTED,
         L"Le processus 5200 du service Critical" + notAttached + system, 0},
        {L"", L"debug Rebooter", 0, ERROR_NOT_SUPPORTED,
         L"Le processus 5300 du service Rebooter" + notAttached +
             L"le gestionnaire de services red\u00E9marrerait l'ordinateur, selon ses actions en cas d'\u00E9chec.\n",
         0},
        {L"SRV", L"boot bad", 0, ERROR_NOT_SUPPORTED,
         L"boot n'agit que sur cet ordinateur : la connexion active est celle de SRV.\n", 0},
        {L"SRV", L"boot ok", 0, ERROR_NOT_SUPPORTED,
         L"boot n'agit que sur cet ordinateur : la connexion active est celle de SRV.\n", 0},
        {L"quorvan-pc.", L"boot ok", 1, 0, L"", 0},
        {L"GRAPPE", L"debug Alpha", 0, ERROR_NOT_SUPPORTED,
         L"Le d\u00E9bogueur d\u00E9marre sur cet ordinateur : il ne peut pas s'attacher \u00E0 un service de "
         L"GRAPPE.\n",
         0},
        {L"grappe.corp.example", L"boot bad", 0, ERROR_NOT_SUPPORTED,
         L"boot n'agit que sur cet ordinateur : la connexion active est celle de grappe.corp.example.\n", 0},
        // The commands after a failed connect were meant for the machine that could not be reached.
        {L"OFFLINE", L"boot bad", 0, RPC_S_SERVER_UNAVAILABLE,
         L"boot n'agit que sur cet ordinateur : la connexion \u00E0 OFFLINE a \u00E9chou\u00E9 (erreur 1722) et "
         L"aucune connexion n'est active.\n",
         0},
        {L"FAR", L"boot bad", 0, RPC_S_SERVER_UNAVAILABLE,
         L"La connection 1 avec FAR est perdue (erreur 1722) : fermez-la avec 'cc 1', puis reconnectez-vous avec "
         L"'connect FAR'.\n",
         0, loseTheConnection},
        // No connection asked for: the notice is this computer's.
        {L"OFFLINE", L"boot ok", 1, 0, L"", 0,
         [](FakePlatform& machine) {
             machine.bootAccepted = false;
             RunCommandLine(L"sactc 0");
         }},
    };
    fake.AddService(L"Stopped");
    fake.unreachableMachines.insert(L"OFFLINE");
    // A node of a cluster, whose virtual name another node may be serving.
    fake.computerNames[ComputerNameNetBIOS] = L"GRAPPE";
    fake.computerNames[ComputerNameDnsHostname] = L"grappe";
    fake.computerNames[ComputerNameDnsFullyQualified] = L"grappe.corp.example";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.machine) + L" " + c.line));
        {
            OutputCapture discard;
            OpenConnection(c.machine, SC_MANAGER_CONNECT);
        }
        c.arrange(fake);
        const size_t started = fake.startedCommandLines.size();
        const size_t notices = fake.bootNotices.size();
        ::SetLastError(0);
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(::GetLastError(), c.lastError);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(fake.startedCommandLines.size(), started + c.debuggers);
        EXPECT_EQ(fake.bootNotices.size(), notices + (c.result && c.line[0] == L'b' ? 1 : 0));
    }
    EXPECT_FALSE(fake.restartRequested);
    EXPECT_TRUE(fake.terminatedProcesses.empty());
    // Back from its restart, the machine has forgotten the lost connection's handle.
    fake.AnswerAgain(L"FAR");
}

// As their pages say: a service marked for deletion cannot be started, and no control reaches a
// service that is starting or stopping. The command reports the platform's code.
TEST_F(ControlCommandsTest, MarkedAndPendingServicesRefuseTheStartAndTheControls) {
    // Another program's handle keeps the deleted service in the database.
    SC_HANDLE held = fake.OpenServiceW(GetActiveConnection()->Handle(), L"Alpha", SERVICE_QUERY_STATUS);
    service.markedForDeletion = true;
    service.startType = SERVICE_DISABLED;
    fake.AddService(L"Beta").status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING,
                                       SERVICE_ACCEPT_PAUSE_CONTINUE, 0, 0, 1, 0, 4100, 0};
    fake.AddService(L"Gamma").status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOP_PENDING, 0, 0, 0, 1, 0, 4200, 0};
    const struct {
        const wchar_t* line;
        DWORD lastError;
    } cases[] = {{L"start Alpha", ERROR_SERVICE_MARKED_FOR_DELETE},
                 {L"pause Beta", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
                 {L"pause Gamma", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
                 {L"continue Gamma", ERROR_SERVICE_CANNOT_ACCEPT_CTRL}};
    for (const auto& c : cases) {
        ::SetLastError(0);
        EXPECT_EQ(RunCommandLine(c.line).result, 0) << c.line;
        EXPECT_EQ(::GetLastError(), c.lastError) << c.line;
    }
    // A control code of the service's own is refused as the manager refuses it.
    const ServicesManagement::OwnedSvcObj gamma(GetActiveConnection()->FindSvcObj(L"Gamma"));
    ASSERT_TRUE(gamma);
    ::SetLastError(0);
    EXPECT_EQ(gamma->Control(200, 0, nullptr, nullptr), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(fake.FindService(L"Beta")->status.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    fake.CloseServiceHandle(held);
}

TEST_F(ControlCommandsTest, StopUsageCarriesTheWholeReasonTable) {
    const std::wstring usage = UsageOf(StopHelp);
    EXPECT_EQ(usage.rfind(
                  L"\nArr\u00EAte les services actifs qui d\u00E9pendent du service / pilote, puis le\n", 0),
              0u);
    EXPECT_NE(usage.find(L"\n    Mode Interactif : STOP <service> [raison [commentaire]]\n"),
              std::wstring::npos);
    EXPECT_NE(
        usage.find(L"\n    La raison et le commentaire sont accept\u00E9s mais ne sont pas utilis\u00E9s.\n"),
        std::wstring::npos);
    EXPECT_NE(usage.find(L"\n           22           -   D\u00E9sinstallation de correctif de s\u00E9curit\u00E9\n"),
              std::wstring::npos);
    EXPECT_EQ(usage.find(L"\n           21 "), std::wstring::npos);
    EXPECT_EQ(std::count(usage.begin(), usage.end(), L'\n'), 61);
}

// A service that stays pending for `polls` status reads of its wait, its checkpoint moving at
// each, then settles in `settled`; the first status is the one read before the wait.
std::deque<SERVICE_STATUS_PROCESS> PendingFor(DWORD pending, int polls, DWORD settled) {
    std::deque<SERVICE_STATUS_PROCESS> statuses;
    const DWORD accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    for (DWORD checkPoint = 1; checkPoint <= static_cast<DWORD>(polls) + 1; ++checkPoint)
        statuses.push_back({SERVICE_WIN32_OWN_PROCESS, pending, accepted, 0, 0, checkPoint, 1000, 4300, 0});
    statuses.push_back({SERVICE_WIN32_OWN_PROCESS, settled, accepted, 0, 0, 0, 0, 4300, 0});
    return statuses;
}

// The same, after a status in `state`: the one that a pause, a continue or a stop reads before it
// asks.
std::deque<SERVICE_STATUS_PROCESS> AskedIn(DWORD state, std::deque<SERVICE_STATUS_PROCESS> statuses) {
    SERVICE_STATUS_PROCESS before = statuses.back();
    before.dwCurrentState = state;
    statuses.push_front(before);
    return statuses;
}

// A wait of more than a second shows one line on the console, where the cursor stands (after
// a dependent's name in a stop), cut to the room left on the console's line, changed at each poll
// and wiped at the end: the console then shows what redirected output receives, and that never
// receives the line. A shorter wait draws nothing.
TEST_F(ControlCommandsTest, LongWaitsShowALineOnTheConsoleOnly) {
    FakeService& beta = fake.AddService(L"Beta");
    beta.dependencies = {L"Alpha"};
    const std::wstring stopReport = L"\n\nIl y a 1 d\u00E9pendances actives.\nBeta : Succ\u00E8s\n\n";
    const DWORD accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    const SERVICE_STATUS_PROCESS stopped = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0, 0, 0};
    const struct {
        const char* label;
        const wchar_t* line;
        DWORD state;
        std::deque<SERVICE_STATUS_PROCESS> alpha;
        std::deque<SERVICE_STATUS_PROCESS> beta;
        short width;
        std::wstring output;
        // What the console shows at the first clock reading from this tick on (0: not looked at,
        // and nothing drawn).
        DWORD lookedAt;
        std::wstring midway;
    } cases[] = {
        {"a start polled for 1 s",
         L"start Alpha",
         SERVICE_STOPPED,
         PendingFor(SERVICE_START_PENDING, 6, SERVICE_RUNNING),
         {},
         80,
         L"\n",
         0,
         L""},
        {"a start polled for 2 s",
         L"start Alpha",
         SERVICE_STOPPED,
         PendingFor(SERVICE_START_PENDING, 11, SERVICE_RUNNING),
         {},
         80,
         L"\n",
         1600,
         L"Alpha : D\u00E9marrage en cours, 1 s sur 31 s, point de contr\u00F4le 9"},
        {"a pause",
         L"pause Alpha",
         SERVICE_RUNNING,
         AskedIn(SERVICE_RUNNING, PendingFor(SERVICE_PAUSE_PENDING, 11, SERVICE_PAUSED)),
         {},
         80,
         L"\n",
         1600,
         L"Alpha : Mise en pause en cours, 1 s sur 31 s, point de contr\u00F4le 9"},
        {"a continue",
         L"continue Alpha",
         SERVICE_PAUSED,
         AskedIn(SERVICE_PAUSED, PendingFor(SERVICE_CONTINUE_PENDING, 11, SERVICE_RUNNING)),
         {},
         80,
         L"\n",
         1600,
         L"Alpha : Reprise en cours, 1 s sur 31 s, point de contr\u00F4le 9"},
        {"a dependent's stop on a narrow console",
         L"stop Alpha",
         SERVICE_RUNNING,
         {},
         AskedIn(SERVICE_RUNNING, PendingFor(SERVICE_STOP_PENDING, 3, SERVICE_STOPPED)),
         40,
         stopReport,
         2500,
         L"\n\nIl y a 1 d\u00E9pendances actives.\nBeta : Beta : Arr\u00EAt en cours, 2 s sur 3"},
    };
    for (const auto& c : cases)
        for (const bool console : {false, true}) {
            SCOPED_TRACE(c.label + std::string(console ? ", console" : ", redirected"));
            FakeService& alpha = *fake.FindService(L"Alpha");
            alpha.status = {SERVICE_WIN32_OWN_PROCESS, c.state, accepted, 0, 0, 0, 0, 4300, 0};
            alpha.scriptedStatuses = c.alpha;
            FakeService& dependent = *fake.FindService(L"Beta");
            dependent.status = c.beta.empty() ? stopped : c.beta.front();
            dependent.scriptedStatuses = c.beta;
            fake.outputIsConsole = console;
            fake.consoleText.clear();
            fake.screenSize = {c.width, 25};
            fake.tick = 0;
            std::wstring midway;
            if (c.lookedAt)
                fake.timedEvents = {{c.lookedAt, [&] { midway = fake.ConsoleShows(); }}};
            const CommandOutcome outcome = RunCommandLine(c.line);
            fake.timedEvents.clear();
            EXPECT_EQ(outcome.result, 1);
            if (console) {
                EXPECT_EQ(fake.ConsoleShows(), c.output);
                EXPECT_EQ(midway, c.midway);
                EXPECT_EQ(fake.consoleText.find(L'\b') != std::wstring::npos, !c.midway.empty()) << "drawn";
            } else {
                EXPECT_EQ(outcome.out, c.output);
                EXPECT_EQ(fake.consoleText, L"");
            }
        }
}

} // namespace
