#include <gtest/gtest.h>

#include <algorithm>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Commands.h"
#include "Connections.h"
#include "FakePlatform.h"

namespace {

std::wstring UsageOf(COMMAND_HELP help) {
    OutputCapture capture;
    help();
    return capture.Out();
}

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
    } cases[] = {{L"start", StartHelp},      {L"stop", StopHelp},           {L"stop Alpha 1:2:8 comment more", StopHelp},
                 {L"pause", PauseHelp},      {L"pause Alpha x", PauseHelp}, {L"continue", ContinueHelp},
                 {L"interrogate a b", InterrogateHelp}, {L"debug", DebugHelp}, {L"debug a b", DebugHelp}};
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

TEST_F(ControlCommandsTest, ControlDoesNothingAndItsHelpIsEmpty) {
    const CommandOutcome outcome = RunCommandLine(L"control Alpha 200");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, L"");
    EXPECT_EQ(RunCommandLine(L"help control").out, L"");
    EXPECT_TRUE(fake.serviceOpenings.empty());
}

TEST_F(ControlCommandsTest, WithoutAConnectionOnlyTheEmptyLineIsWritten) {
    {
        OutputCapture discard;
        CloseAllConnections();
    }
    ::SetLastError(0);
    const CommandOutcome outcome = RunCommandLine(L"start Alpha");
    EXPECT_EQ(outcome.out, L"\n");
    EXPECT_EQ(::GetLastError(), 0u);
    EXPECT_TRUE(fake.serviceOpenings.empty());
}

// The debugger starts on this computer, and the boot notice always reaches it: neither may act
// on what another machine's id or connection names. Each refusal says why, with its own code,
// and nothing is started, noticed or restarted.
TEST_F(ControlCommandsTest, DebugAndBootActOnlyOnThisComputer) {
    fake.SetRegistryString(L"hklm\\software\\microsoft\\windows nt\\currentversion\\aedebug", L"Debugger",
                           L"dbg.exe -p %ld -e %ld");
    RunCommandLine(L"start Alpha");
    const struct {
        const wchar_t* machine;
        const wchar_t* line;
        int result;
        DWORD lastError;
        std::wstring err;
        size_t debuggers;
    } cases[] = {
        {L"", L"debug Alpha", 1, 0, L"", 1},
        {L"\\\\quorvan-pc", L"debug Alpha", 1, 0, L"", 1},
        {L"SRV", L"debug Alpha", 0, ERROR_NOT_SUPPORTED,
         L"Le d\u00E9bogueur d\u00E9marre sur cet ordinateur : il ne peut pas s'attacher \u00E0 un service de SRV.\n", 0},
        {L"", L"debug Stopped", 0, ERROR_SERVICE_NOT_ACTIVE,
         L"Le service Stopped ne tourne pas : il n'a pas de processus auquel attacher le d\u00E9bogueur.\n", 0},
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
    };
    fake.AddService(L"Stopped");
    // A node of a cluster, whose virtual name another node may be serving.
    fake.computerNames[ComputerNameNetBIOS] = L"GRAPPE";
    fake.computerNames[ComputerNameDnsHostname] = L"grappe";
    fake.computerNames[ComputerNameDnsFullyQualified] = L"grappe.corp.example";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.machine) + L" " + c.line));
        const size_t started = fake.startedCommandLines.size();
        const size_t notices = fake.bootNotices.size();
        OpenConnection(c.machine, SC_MANAGER_CONNECT);
        ::SetLastError(0);
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(::GetLastError(), c.lastError);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(fake.startedCommandLines.size(), started + c.debuggers);
        EXPECT_EQ(fake.bootNotices.size(), notices + (c.result && c.line[0] == L'b' ? 1 : 0));
    }
    EXPECT_FALSE(fake.restartRequested);
}

// As their pages say: a service marked for deletion cannot be started, and no control reaches a
// service that is starting or stopping. The command reports the platform's code.
TEST_F(ControlCommandsTest, MarkedAndPendingServicesRefuseTheStartAndTheControls) {
    // Another program's handle keeps the deleted service in the database.
    SC_HANDLE held = fake.OpenServiceW(GetActiveConnection()->Handle(), L"Alpha", SERVICE_QUERY_STATUS);
    service.markedForDeletion = true;
    service.startType = SERVICE_DISABLED;
    FakeService& starting = fake.AddService(L"Beta");
    starting.status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, SERVICE_ACCEPT_PAUSE_CONTINUE, 0, 0, 1, 0,
                       4100, 0};
    const struct {
        const wchar_t* line;
        DWORD lastError;
    } cases[] = {{L"start Alpha", ERROR_SERVICE_MARKED_FOR_DELETE}, {L"pause Beta", ERROR_SERVICE_CANNOT_ACCEPT_CTRL}};
    for (const auto& c : cases) {
        ::SetLastError(0);
        EXPECT_EQ(RunCommandLine(c.line).result, 0) << c.line;
        EXPECT_EQ(::GetLastError(), c.lastError) << c.line;
    }
    EXPECT_EQ(starting.status.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    fake.CloseServiceHandle(held);
}

TEST_F(ControlCommandsTest, StopUsageCarriesTheWholeReasonTable) {
    const std::wstring usage = UsageOf(StopHelp);
    EXPECT_EQ(usage.rfind(L"\nEnvoie une demande de contr\u00F4le STOP \u00E0 un service.\n\nUTILISATION :\n", 0), 0u);
    EXPECT_NE(usage.find(L"\n           22           -   D\u00E9sinstallation de correctif de s\u00E9curit\u00E9\n"),
              std::wstring::npos);
    EXPECT_EQ(usage.find(L"\n           21 "), std::wstring::npos);
    EXPECT_EQ(std::count(usage.begin(), usage.end(), L'\n'), 52);
}

} // namespace
