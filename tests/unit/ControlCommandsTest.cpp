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

TEST_F(ControlCommandsTest, StopUsageCarriesTheWholeReasonTable) {
    const std::wstring usage = UsageOf(StopHelp);
    EXPECT_EQ(usage.rfind(L"\nEnvoie une demande de contr\u00F4le STOP \u00E0 un service.\n\nUTILISATION :\n", 0), 0u);
    EXPECT_NE(usage.find(L"\n           22           -   D\u00E9sinstallation de correctif de s\u00E9curit\u00E9\n"),
              std::wstring::npos);
    EXPECT_EQ(usage.find(L"\n           21 "), std::wstring::npos);
    EXPECT_EQ(std::count(usage.begin(), usage.end(), L'\n'), 52);
}

} // namespace
