#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "OutputCapture.h"
#include "SvcCtrlMgr.h"

namespace ServicesManagement {

// Reaches the registry attachment, which the group operations use from inside the connection.
struct CSvcCtrlMgrTestPeer {
    static int Attach(CSvcCtrlMgr& connection) { return connection.__StartRemoteRegistryService(HKEY_LOCAL_MACHINE); }
    static int Detach(CSvcCtrlMgr& connection) { return connection.__StopRemoteRegistryService(); }
};

} // namespace ServicesManagement

namespace {

using ServicesManagement::CSvcCtrlMgr;
using Peer = ServicesManagement::CSvcCtrlMgrTestPeer;

// A value no platform call leaves behind: it shows what an operation did to the last-error value.
const DWORD Marker = 0xBEEF;

class RemoteRegistryTest : public ::testing::Test {
protected:
    RemoteRegistryTest() {
        FakeService& service = fake.AddService(L"RemoteRegistry", SERVICE_WIN32_SHARE_PROCESS);
        service.startType = SERVICE_DISABLED;
    }
    void TearDown() override {
        EXPECT_EQ(fake.OpenServiceHandles(), 0u);
        EXPECT_EQ(fake.OpenRegistryKeys(), 0u);
    }
    FakeService& RemoteRegistry() { return *fake.FindService(L"RemoteRegistry"); }
    DWORD State() { return RemoteRegistry().status.dwCurrentState; }
    void SetState(DWORD state) {
        RemoteRegistry().status.dwCurrentState = state;
        RemoteRegistry().status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
        fake.runningProcesses.insert(RemoteRegistry().status.dwProcessId = 900);
    }
    FakePlatform fake;
};

TEST_F(RemoteRegistryTest, ThisMachineUsesTheRootKeyAndNeverTouchesTheService) {
    CSvcCtrlMgr connection(L"quorvan-pc", nullptr, SC_MANAGER_ALL_ACCESS);
    ::SetLastError(0);
    EXPECT_EQ(Peer::Attach(connection), 1);
    EXPECT_EQ(Peer::Detach(connection), 1);
    EXPECT_TRUE(fake.serviceOpenings.empty());
    EXPECT_TRUE(fake.registryConnections.empty());
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(::GetLastError(), 0u);
}

TEST_F(RemoteRegistryTest, DisabledServiceIsEnabledOnlyWhileItStartsAndStoppedAtDetaching) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_EQ(Peer::Attach(connection), 1);
    // The fake refuses to start a disabled service: running proves the start type was lifted.
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(RemoteRegistry().startType, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(fake.registryConnections, (std::vector<std::wstring>{L"\\\\SRV"}));
    EXPECT_EQ(fake.OpenRegistryKeys(), 1u);

    // The key goes before the service, whose stop takes the channel down; the stop's wait reads
    // the clock first.
    size_t keysDuringStop = 99;
    fake.timedEvents.push_back({fake.tick, [&] { keysDuringStop = fake.OpenRegistryKeys(); }});
    EXPECT_EQ(Peer::Detach(connection), 1);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(keysDuringStop, 0u);
    const size_t openings = fake.serviceOpenings.size();
    SetState(SERVICE_RUNNING);
    EXPECT_EQ(Peer::Detach(connection), 0) << "nothing attached any more";
    EXPECT_EQ(fake.serviceOpenings.size(), openings) << "a second detach leaves the service alone";
}

// What cannot be put back is said, with the platform's code, and tried again later. The put-back
// stops the service alone: a service that came to depend on it meanwhile keeps running, and keeps
// it running.
TEST_F(RemoteRegistryTest, APutBackThatFailsIsReportedKeptAndTheDependentsAreLeftAlone) {
    FakeService& dependent = fake.AddService(L"Consumer");
    dependent.dependencies = {L"RemoteRegistry"};
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    // The first change lifts the start type; the two that would put it back are refused.
    fake.FailCall("ChangeServiceConfigW", ERROR_ACCESS_DENIED, 2, 2);
    EXPECT_EQ(Peer::Attach(connection), 1);
    EXPECT_EQ(RemoteRegistry().startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    dependent.status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0, 901, 0};
    OutputCapture capture;
    ::SetLastError(Marker);
    EXPECT_EQ(Peer::Detach(connection), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(capture.Err(), L"Le service RemoteRegistry de SRV n'a pas pu \u00EAtre remis \u00E0 l'\u00E9tat "
                             L"d\u00E9sactiv\u00E9 (erreur 5).\n"
                             L"Le service RemoteRegistry de SRV n'a pas pu \u00EAtre arr\u00EAt\u00E9 de nouveau "
                             L"(erreur 1051).\n");
    EXPECT_EQ(dependent.status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(dependent.controlsReceived.empty());
    EXPECT_TRUE(fake.terminatedProcesses.empty());

    // The next try puts the start type back; the stop waits for the dependent to go.
    EXPECT_EQ(connection.PutBackRemoteRegistry(), 0);
    EXPECT_EQ(RemoteRegistry().startType, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
    dependent.status.dwCurrentState = SERVICE_STOPPED;
    EXPECT_EQ(connection.PutBackRemoteRegistry(), 1);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOPPED));
    const size_t openings = fake.serviceOpenings.size();
    EXPECT_EQ(connection.PutBackRemoteRegistry(), 1);
    EXPECT_EQ(fake.serviceOpenings.size(), openings) << "nothing left, nothing asked";
    EXPECT_EQ(::GetLastError(), Marker);
}

TEST_F(RemoteRegistryTest, ServiceThatWasAlreadyRunningIsLeftRunning) {
    SetState(SERVICE_RUNNING);
    CSvcCtrlMgr connection(L"\\\\SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_EQ(Peer::Attach(connection), 1);
    EXPECT_EQ(connection.Close(), 1);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(RemoteRegistry().controlsReceived.empty());
    EXPECT_EQ(fake.registryConnections, (std::vector<std::wstring>{L"\\\\SRV"}));
}

TEST_F(RemoteRegistryTest, PausedServiceIsContinuedAndPausedAgainWhenTheConnectionCloses) {
    SetState(SERVICE_PAUSED);
    {
        CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
        EXPECT_EQ(Peer::Attach(connection), 1);
        EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
    }
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_PAUSED));
    EXPECT_EQ(RemoteRegistry().controlsReceived,
              (std::vector<DWORD>{SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_PAUSE}));
}

TEST_F(RemoteRegistryTest, HeldLockIsGivenUpAroundTheServiceAndTakenBack) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_EQ(connection.Lock(), 1);
    EXPECT_EQ(Peer::Attach(connection), 1);
    EXPECT_EQ(fake.OpenLocks(), 1u);
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_EQ(Peer::Detach(connection), 1);
    EXPECT_EQ(fake.OpenLocks(), 1u);
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 2);
    EXPECT_EQ(connection.Unlock(), 1);
}

TEST_F(RemoteRegistryTest, LockTakenByAnotherMeanwhileIsReported) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_EQ(connection.Lock(), 1);
    fake.FailCall("LockServiceDatabase", ERROR_SERVICE_DATABASE_LOCKED, 1, 2);
    ::SetLastError(0);
    EXPECT_EQ(Peer::Attach(connection), 1);
    EXPECT_EQ(fake.OpenLocks(), 0u) << "the lock is lost";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
}

TEST_F(RemoteRegistryTest, UnreachableRegistryFailsTheAttachment) {
    fake.FailCall("RegConnectRegistryW", ERROR_BAD_NETPATH);
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    ::SetLastError(0);
    EXPECT_EQ(Peer::Attach(connection), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH)) << "the reason reaches the banner";
    EXPECT_EQ(connection.Close(), 1);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOPPED)) << "what the attachment started is stopped";
}

} // namespace
