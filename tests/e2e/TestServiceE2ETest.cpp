// The project's test service under Wine's real service control manager: it must start with the
// arguments given, move through the states it is asked for, record what it received, and leave
// nothing behind, since the console's service tests are built on it.

#include <gtest/gtest.h>

#include <algorithm>

#include "ServiceInstaller.h"
#include "TestEnvironment.h"

namespace {

const DWORD kStateTimeoutMs = 20000;

void ExpectControlReachesState(SC_HANDLE service, DWORD control, DWORD state) {
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, control, &status))
        << "control " << control << ", error " << GetLastError();
    SERVICE_STATUS_PROCESS last = {};
    EXPECT_TRUE(WaitForServiceState(service, state, kStateTimeoutMs, last))
        << "after control " << control << " the state is " << last.dwCurrentState;
}

TEST(TestServiceE2E, StartsWithItsArgumentsAndFollowsEveryControl) {
    TemporaryFile arguments;
    TemporaryFile controls;
    InstalledTestService service(
        L"QuorvanE2ESmoke", {L"/args:" + arguments.path(), L"/controls:" + controls.path(), L"/start:300",
                             L"/pause:200", L"/continue:200", L"/stop:200", L"/waithint:500"});
    ASSERT_TRUE(service.installed());

    const wchar_t* startArguments[] = {L"alpha", L"beta gamma"};
    ASSERT_TRUE(StartServiceW(service.handle(), 2, startArguments)) << "error " << GetLastError();
    SERVICE_STATUS_PROCESS status = {};
    ASSERT_TRUE(WaitForServiceState(service.handle(), SERVICE_RUNNING, kStateTimeoutMs, status))
        << "state " << status.dwCurrentState;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE),
              status.dwControlsAccepted);
    EXPECT_NE(0u, status.dwProcessId);
    EXPECT_EQ((std::vector<std::string>{"QuorvanE2ESmoke", "alpha", "beta gamma"}), arguments.ReadLines());

    ExpectControlReachesState(service.handle(), SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    ExpectControlReachesState(service.handle(), SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    ExpectControlReachesState(service.handle(), SERVICE_CONTROL_INTERROGATE, SERVICE_RUNNING);
    ExpectControlReachesState(service.handle(), 200, SERVICE_RUNNING);
    ExpectControlReachesState(service.handle(), SERVICE_CONTROL_STOP, SERVICE_STOPPED);

    EXPECT_EQ((std::vector<std::string>{"2", "3", "4", "200", "1"}), controls.ReadLines());
}

TEST(TestServiceE2E, ReportsItsRefusalsStartFailuresAndMistypedSwitches) {
    InstalledTestService refusing(L"QuorvanE2ERefusing", {L"/nopause", L"/nostop"});
    InstalledTestService failing(L"QuorvanE2EFailing", {L"/startfail:1064"});
    InstalledTestService mistyped(L"QuorvanE2EMistyped", {L"/stop:soon"});
    ASSERT_TRUE(refusing.installed());
    ASSERT_TRUE(failing.installed());
    ASSERT_TRUE(mistyped.installed());

    ASSERT_TRUE(StartServiceW(refusing.handle(), 0, nullptr)) << "error " << GetLastError();
    SERVICE_STATUS_PROCESS status = {};
    ASSERT_TRUE(WaitForServiceState(refusing.handle(), SERVICE_RUNNING, kStateTimeoutMs, status));
    EXPECT_EQ(0u, status.dwControlsAccepted);

    ASSERT_TRUE(StartServiceW(failing.handle(), 0, nullptr)) << "error " << GetLastError();
    ASSERT_TRUE(WaitForServiceState(failing.handle(), SERVICE_STOPPED, kStateTimeoutMs, status));
    EXPECT_EQ(1064u, status.dwWin32ExitCode);

    ASSERT_TRUE(StartServiceW(mistyped.handle(), 0, nullptr)) << "error " << GetLastError();
    ASSERT_TRUE(WaitForServiceState(mistyped.handle(), SERVICE_STOPPED, kStateTimeoutMs, status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), status.dwWin32ExitCode);
}

// Later tests lean on the library's waits, which watch the checkpoint and the wait hint.
TEST(TestServiceE2E, AnnouncesProgressWithAGrowingCheckpointWhileStarting) {
    InstalledTestService slow(L"QuorvanE2ESlowStart", {L"/start:1500", L"/waithint:700"});
    ASSERT_TRUE(slow.installed());

    ASSERT_TRUE(StartServiceW(slow.handle(), 0, nullptr)) << "error " << GetLastError();
    std::vector<DWORD> checkPoints;
    SERVICE_STATUS_PROCESS status = {};
    for (DWORD waited = 0; waited < kStateTimeoutMs; waited += 100) {
        ASSERT_TRUE(QueryStatus(slow.handle(), status)) << "error " << GetLastError();
        if (status.dwCurrentState != SERVICE_START_PENDING) {
            break;
        }
        EXPECT_EQ(700u, status.dwWaitHint);
        if (checkPoints.empty() || checkPoints.back() != status.dwCheckPoint) {
            checkPoints.push_back(status.dwCheckPoint);
        }
        Sleep(100);
    }

    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    EXPECT_LE(3u, checkPoints.size());
    EXPECT_TRUE(std::is_sorted(checkPoints.begin(), checkPoints.end()))
        << testing::PrintToString(checkPoints);
}

// The guard must also remove a service that never finishes stopping: later tests rely on it.
TEST(TestServiceE2E, GuardRemovesAServiceHangingInStopPending) {
    const std::wstring name = L"QuorvanE2EHanging";
    {
        InstalledTestService hanging(name, {L"/hangstop"});
        ASSERT_TRUE(hanging.installed());
        ASSERT_TRUE(StartServiceW(hanging.handle(), 0, nullptr)) << "error " << GetLastError();
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(WaitForServiceState(hanging.handle(), SERVICE_RUNNING, kStateTimeoutMs, status));
        ExpectControlReachesState(hanging.handle(), SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING);
    }
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    SetLastError(0);
    EXPECT_EQ(nullptr, OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
}

} // namespace
