#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <utility>

#include "FakePlatform.h"
#include "Memory.h"
#include "OutputCapture.h"
#include "QuorvanException.h"
#include "SvcCtrlMgr.h"

using ServicesManagement::_SCM_PROPERTIES;
using ServicesManagement::CSvcCtrlMgr;

namespace {

// A value no platform call leaves behind: it shows what an operation did to the last-error value.
const DWORD Marker = 0xBEEF;

class SvcCtrlMgrTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(fake.OpenManagers(), 0u) << "manager handles left open";
        EXPECT_EQ(fake.OpenLocks(), 0u) << "database locks left held";
        EXPECT_EQ(fake.OpenRegistryKeys(), 0u) << "registry keys left open";
    }

    static _SCM_PROPERTIES PropertiesOf(const CSvcCtrlMgr& connection) {
        _SCM_PROPERTIES properties;
        EXPECT_EQ(connection.GetProperties(&properties), 1);
        return properties;
    }

    // Whether the connection's own lock status query reports the database locked.
    static bool IsLocked(const CSvcCtrlMgr& connection) {
        QUERY_SERVICE_LOCK_STATUSW* status = nullptr;
        if (!connection.QueryLockStatus(&status))
            return false;
        const bool locked = status->fIsLocked != 0;
        MemRelease(status);
        return locked;
    }

    FakePlatform fake;
};

TEST_F(SvcCtrlMgrTest, ClosedConnectionRefusesEverythingButLeavesTheLastErrorAlone) {
    CSvcCtrlMgr connection;
    const _SCM_PROPERTIES properties = PropertiesOf(connection);
    EXPECT_EQ(static_cast<const wchar_t*>(properties.szMachineName), nullptr);
    EXPECT_EQ(static_cast<const wchar_t*>(properties.szDatabaseName), nullptr);
    EXPECT_EQ(properties.dwDesiredAccess, 0u);

    ::SetLastError(Marker);
    EXPECT_EQ(connection.Close(), 0);
    EXPECT_EQ(connection.Unlock(), 0);
    EXPECT_EQ(connection.CanBeLocked(), 0);
    auto* status = reinterpret_cast<QUERY_SERVICE_LOCK_STATUSW*>(0x1234);
    EXPECT_EQ(connection.QueryLockStatus(&status), 0);
    EXPECT_EQ(status, nullptr);
    void* descriptor = &status;
    EXPECT_EQ(connection.QuerySecurity(DACL_SECURITY_INFORMATION, &descriptor), 0);
    EXPECT_EQ(descriptor, &status) << "the caller's pointer is left alone";
    EXPECT_EQ(connection.SetSecurity(DACL_SECURITY_INFORMATION, descriptor), 0);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.Calls("QueryServiceLockStatusW") + fake.Calls("QueryServiceObjectSecurity") +
                  fake.Calls("SetServiceObjectSecurity") + fake.Calls("CloseServiceHandle"),
              0);

    // Locking is left to the platform, which reports the missing handle.
    EXPECT_EQ(connection.Lock(), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SvcCtrlMgrTest, OpenStoresTheDefaultDatabaseAndAddsTheConnectRight) {
    CSvcCtrlMgr connection;
    ::SetLastError(Marker);
    EXPECT_EQ(connection.Open(L"\\\\SRV", nullptr, 0), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.OpenManagers(), 1u);
    ASSERT_EQ(fake.openedMachines.size(), 1u);
    EXPECT_EQ(fake.openedMachines[0], L"\\\\SRV") << "the name goes to the platform unchanged";
    _SCM_PROPERTIES properties = PropertiesOf(connection);
    EXPECT_EQ(properties.szMachineName, L"\\\\SRV");
    EXPECT_EQ(properties.szDatabaseName, L"ServicesActive");
    EXPECT_EQ(properties.dwDesiredAccess, static_cast<DWORD>(SC_MANAGER_CONNECT));
    EXPECT_EQ(connection.CanBeLocked(), 0);

    EXPECT_EQ(connection.Open(L"", L"ServicesFailed", SC_MANAGER_LOCK), 1);
    properties = PropertiesOf(connection);
    EXPECT_EQ(properties.szMachineName, L"");
    EXPECT_EQ(properties.szDatabaseName, L"ServicesFailed");
    EXPECT_EQ(properties.dwDesiredAccess, 9u);
    EXPECT_EQ(connection.CanBeLocked(), 1);

    EXPECT_EQ(connection.Open(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_CONNECT), 1);
    EXPECT_EQ(PropertiesOf(connection).dwDesiredAccess, 5u);
    EXPECT_EQ(connection.CanBeLocked(), 0);
    EXPECT_EQ(fake.OpenManagers(), 1u) << "each Open closes the previous connection";
}

TEST_F(SvcCtrlMgrTest, CloseKeepsTheNamesAndClearsTheMask) {
    CSvcCtrlMgr connection(L"SRV", L"ServicesActive", SC_MANAGER_ALL_ACCESS);
    EXPECT_EQ(PropertiesOf(connection).dwDesiredAccess, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
    ::SetLastError(Marker);
    EXPECT_EQ(connection.Close(), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.OpenManagers(), 0u);
    EXPECT_EQ(connection.Close(), 0) << "nothing is left to close";
    _SCM_PROPERTIES properties = PropertiesOf(connection);
    EXPECT_EQ(properties.szMachineName, L"SRV");
    EXPECT_EQ(properties.szDatabaseName, L"ServicesActive");
    EXPECT_EQ(properties.dwDesiredAccess, 0u);
    EXPECT_EQ(connection.CanBeLocked(), 0);

    // Free clears the mask only; a copy has its own names.
    _SCM_PROPERTIES copy = properties;
    properties.Free();
    EXPECT_EQ(properties.szMachineName, L"SRV");
    properties.szMachineName = L"OTHER";
    EXPECT_EQ(copy.szMachineName, L"SRV");
}

TEST_F(SvcCtrlMgrTest, SecondOpenReleasesTheLockOfTheFirst) {
    CSvcCtrlMgr connection(L"SRV1", nullptr, SC_MANAGER_LOCK);
    ASSERT_EQ(connection.Lock(), 1);
    EXPECT_TRUE(fake.IsDatabaseLocked());
    EXPECT_EQ(connection.Open(L"SRV2", nullptr, SC_MANAGER_LOCK), 1);
    EXPECT_EQ(fake.OpenLocks(), 0u);
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_EQ(fake.OpenManagers(), 1u);
    EXPECT_EQ(connection.Unlock(), 0) << "the new connection holds no lock";
}

TEST_F(SvcCtrlMgrTest, FailedOpenThrowsTheCodeAndLeavesTheConnectionClosed) {
    fake.unreachableMachines.insert(L"FAR");
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_LOCK);
    ASSERT_EQ(connection.Lock(), 1);
    try {
        connection.Open(L"FAR", L"ServicesActive", SC_MANAGER_ALL_ACCESS);
        FAIL() << "Open must throw";
    } catch (const CQuorvanException& failure) {
        EXPECT_EQ(failure.m_nLine, 293);
        EXPECT_EQ(failure.m_nCode, static_cast<int>(RPC_S_SERVER_UNAVAILABLE));
        EXPECT_EQ(failure.m_strFile, L"SvcCtrlMgr");
        EXPECT_EQ(failure.m_strFunction,
                  L"int __thiscall ServicesManagement::CSvcCtrlMgr::Open(const wchar_t *,const wchar_t *,unsigned "
                  L"long)");
    }
    EXPECT_EQ(fake.OpenManagers(), 0u);
    EXPECT_EQ(fake.OpenLocks(), 0u);
    const _SCM_PROPERTIES properties = PropertiesOf(connection);
    EXPECT_EQ(properties.szMachineName, L"FAR");
    EXPECT_EQ(properties.szDatabaseName, L"ServicesActive");
    EXPECT_EQ(properties.dwDesiredAccess, 0u);
    EXPECT_EQ(connection.Close(), 0);
}

TEST_F(SvcCtrlMgrTest, OpeningConstructorLetsTheExceptionThrough) {
    fake.FailCall("OpenSCManagerW", ERROR_ACCESS_DENIED);
    try {
        CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
        FAIL() << "the constructor must throw";
    } catch (const CQuorvanException& failure) {
        EXPECT_EQ(failure.m_nCode, static_cast<int>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(failure.m_nLine, 293);
    }
    EXPECT_EQ(fake.OpenManagers(), 0u);
}

TEST_F(SvcCtrlMgrTest, LockTwiceKeepsTheFirstLockAndUnlockTwiceReportsNothingHeld) {
    CSvcCtrlMgr connection(nullptr, nullptr, SC_MANAGER_LOCK | SC_MANAGER_QUERY_LOCK_STATUS);
    EXPECT_FALSE(IsLocked(connection));
    ::SetLastError(Marker);
    EXPECT_EQ(connection.Lock(), 1);
    EXPECT_EQ(connection.Lock(), 1);
    EXPECT_EQ(::GetLastError(), Marker) << "the second attempt's 1055 is no failure";
    EXPECT_EQ(fake.Calls("LockServiceDatabase"), 2);
    EXPECT_EQ(fake.OpenLocks(), 1u);
    EXPECT_TRUE(IsLocked(connection));

    EXPECT_EQ(connection.Unlock(), 1);
    EXPECT_EQ(fake.OpenLocks(), 0u) << "the lock released is the one held";
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_EQ(connection.Unlock(), 0);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_FALSE(IsLocked(connection));

    // Locked again, then closed: Close gives the lock back.
    EXPECT_EQ(connection.Lock(), 1);
    EXPECT_EQ(connection.Close(), 1);
    EXPECT_EQ(fake.OpenLocks(), 0u);
    EXPECT_EQ(connection.Unlock(), 0);
}

TEST_F(SvcCtrlMgrTest, DestructorReleasesTheLockAndTheHandleAndKeepsTheLastError) {
    {
        CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_LOCK);
        ASSERT_EQ(connection.Lock(), 1);
        ::SetLastError(Marker);
    }
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_EQ(fake.Calls("CloseServiceHandle"), 1);
}

TEST_F(SvcCtrlMgrTest, LockFailsWithThePlatformsCode) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_LOCK);
    fake.lockedByOther = L"OTHER\\admin";
    ::SetLastError(Marker);
    EXPECT_EQ(connection.Lock(), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
    EXPECT_EQ(connection.Unlock(), 0);
    fake.lockedByOther.clear();

    CSvcCtrlMgr withoutRight(L"SRV", nullptr, SC_MANAGER_QUERY_LOCK_STATUS);
    EXPECT_EQ(withoutRight.Lock(), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

}

TEST_F(SvcCtrlMgrTest, QueryLockStatusHandsOutTheRecordOrNull) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_QUERY_LOCK_STATUS);
    fake.lockedByOther = L"OTHER\\admin";
    fake.lockDuration = 42;
    QUERY_SERVICE_LOCK_STATUSW* status = nullptr;
    ::SetLastError(Marker);
    ASSERT_EQ(connection.QueryLockStatus(&status), 1);
    EXPECT_EQ(fake.Calls("QueryServiceLockStatusW"), 1) << "a usual record is read in one call";
    ASSERT_NE(status, nullptr);
    EXPECT_NE(status->fIsLocked, 0u);
    EXPECT_STREQ(status->lpLockOwner, L"OTHER\\admin");
    EXPECT_EQ(status->dwLockDuration, 42u);
    MemRelease(status);

    // An owner too long for the usual block: the platform's size, then the read.
    fake.lockedByOther = std::wstring(3000, L'o');
    ASSERT_EQ(connection.QueryLockStatus(&status), 1);
    EXPECT_EQ(::GetLastError(), Marker) << "the first call's 122 must not leak";
    EXPECT_EQ(fake.Calls("QueryServiceLockStatusW"), 3);
    EXPECT_EQ(status->lpLockOwner, fake.lockedByOther);
    EXPECT_GE(MemGetSize(status), sizeof(QUERY_SERVICE_LOCK_STATUSW) + 3001 * sizeof(wchar_t));
    MemRelease(status);

    // The first call fails for another reason than the buffer: no second call.
    fake.FailCall("QueryServiceLockStatusW", ERROR_ACCESS_DENIED);
    status = reinterpret_cast<QUERY_SERVICE_LOCK_STATUSW*>(0x1234);
    EXPECT_EQ(connection.QueryLockStatus(&status), 0);
    EXPECT_EQ(status, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fake.Calls("QueryServiceLockStatusW"), 4);

    // The second call fails: the block is given back.
    fake.FailCall("QueryServiceLockStatusW", ERROR_INVALID_HANDLE, 2);
    status = reinterpret_cast<QUERY_SERVICE_LOCK_STATUSW*>(0x1234);
    EXPECT_EQ(connection.QueryLockStatus(&status), 0);
    EXPECT_EQ(status, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    CSvcCtrlMgr withoutRight(L"SRV", nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(withoutRight.QueryLockStatus(&status), 0);
    EXPECT_EQ(status, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SvcCtrlMgrTest, SecurityInformationOtherThanOneKindIsAWrongParameter) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    for (unsigned long information : {3ul, 16ul, 0ul}) {
        OutputCapture capture;
        int sentinel = 0;
        void* descriptor = &sentinel;
        ::SetLastError(Marker);
        EXPECT_EQ(connection.QuerySecurity(information, &descriptor), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(descriptor, &sentinel);
        ::SetLastError(Marker);
        EXPECT_EQ(connection.SetSecurity(information, &sentinel), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(capture.Err(), L"Wrong parameter!\nWrong parameter!\n") << information;
        EXPECT_EQ(capture.Out(), L"");
    }
    EXPECT_EQ(fake.Calls("QueryServiceObjectSecurity") + fake.Calls("SetServiceObjectSecurity"), 0);
}

TEST_F(SvcCtrlMgrTest, QuerySecurityTracesTheSizeQueryAndHandsOutTheDescriptor) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    OutputCapture capture;
    void* descriptor = nullptr;
    ::SetLastError(Marker);
    ASSERT_EQ(connection.QuerySecurity(DACL_SECURITY_INFORMATION, &descriptor), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(capture.Out(), L"::QueryServiceObjectSecurity ==> GetLastError() = 122 ; BufSize = 20\n");
    ASSERT_NE(descriptor, nullptr);
    ASSERT_EQ(MemGetSize(descriptor), fake.managerSecurity.size());
    EXPECT_EQ(std::memcmp(descriptor, fake.managerSecurity.data(), fake.managerSecurity.size()), 0);
    MemRelease(descriptor);
    EXPECT_EQ(fake.Calls("AdjustTokenPrivileges"), 0) << "only the system list needs the privilege";

    fake.FailCall("QueryServiceObjectSecurity", ERROR_ACCESS_DENIED, 2);
    descriptor = &capture;
    EXPECT_EQ(connection.QuerySecurity(OWNER_SECURITY_INFORMATION, &descriptor), 0);
    EXPECT_EQ(descriptor, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    CSvcCtrlMgr withoutReadControl(L"SRV", nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    ::SetLastError(Marker);
    EXPECT_EQ(withoutReadControl.QuerySecurity(DACL_SECURITY_INFORMATION, &descriptor), 0);
    EXPECT_EQ(descriptor, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Each part written needs its own right of the manager handle.
    const std::pair<SECURITY_INFORMATION, DWORD> writes[] = {{DACL_SECURITY_INFORMATION, WRITE_DAC},
                                                             {OWNER_SECURITY_INFORMATION, WRITE_OWNER},
                                                             {GROUP_SECURITY_INFORMATION, WRITE_OWNER}};
    for (const auto& [information, right] : writes) {
        CSvcCtrlMgr withoutWriteRight(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS & ~right);
        EXPECT_EQ(withoutWriteRight.SetSecurity(information, &capture), 0) << information;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << information;
        CSvcCtrlMgr withWriteRight(L"SRV", nullptr, SC_MANAGER_CONNECT | right);
        EXPECT_EQ(withWriteRight.SetSecurity(information, &capture), 1) << information;
    }
}

TEST_F(SvcCtrlMgrTest, SystemListSwitchesThePrivilegeOnAndOffBeforeTheCall) {
    CSvcCtrlMgr connection(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS | ACCESS_SYSTEM_SECURITY);
    OutputCapture capture;
    void* descriptor = nullptr;
    ::SetLastError(Marker);
    ASSERT_EQ(connection.QuerySecurity(SACL_SECURITY_INFORMATION, &descriptor), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.Calls("AdjustTokenPrivileges"), 2);
    EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeSecurityPrivilege"));
    EXPECT_FALSE(fake.securityPrivilegeEnabledDuringQuery);
    EXPECT_EQ(capture.Out(), L"::QueryServiceObjectSecurity ==> GetLastError() = 122 ; BufSize = 20\n");

    EXPECT_EQ(connection.SetSecurity(SACL_SECURITY_INFORMATION, descriptor), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.lastSecuritySet, static_cast<SECURITY_INFORMATION>(SACL_SECURITY_INFORMATION));
    EXPECT_EQ(fake.Calls("AdjustTokenPrivileges"), 4);
    EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeSecurityPrivilege"));
    MemRelease(descriptor);

    fake.FailCall("SetServiceObjectSecurity", ERROR_ACCESS_DENIED);
    EXPECT_EQ(connection.SetSecurity(GROUP_SECURITY_INFORMATION, nullptr), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fake.Calls("AdjustTokenPrivileges"), 4);
}

TEST_F(SvcCtrlMgrTest, BootNoticeNeedsNoConnection) {
    ::SetLastError(Marker);
    EXPECT_EQ(CSvcCtrlMgr::DoesTheConfigShouldBeSavedAsTheLastKnownGoodConfig(1), 1);
    EXPECT_EQ(CSvcCtrlMgr::DoesTheConfigShouldBeSavedAsTheLastKnownGoodConfig(0), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.bootNotices, (std::vector<BOOL>{1, 0}));
    EXPECT_TRUE(fake.restartRequested);
    EXPECT_EQ(CSvcCtrlMgr::DoesTheConfigShouldBeSavedAsTheLastKnownGoodConfig(1), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BOOT_ALREADY_ACCEPTED));
}

TEST_F(SvcCtrlMgrTest, ReleaseServiceHandleClosesOnlyRealHandles) {
    ::SetLastError(Marker);
    EXPECT_EQ(ServicesManagement::ReleaseServiceHandle(nullptr), 0);
    EXPECT_EQ(::GetLastError(), Marker);
    SC_HANDLE manager = fake.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(ServicesManagement::ReleaseServiceHandle(manager), 1);
    EXPECT_EQ(ServicesManagement::ReleaseServiceHandle(manager), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

class IsLocalMachineTest : public SvcCtrlMgrTest {};

TEST_F(IsLocalMachineTest, NoNameIsThisMachine) {
    ::SetLastError(Marker);
    EXPECT_EQ(IsLocalMachine(nullptr), 1);
    EXPECT_EQ(IsLocalMachine(L""), 1);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.Calls("GetComputerNameExW"), 0);
}

// On a cluster node the formats that are not physical give the cluster's virtual names, which
// another node may be serving: only the physical ones name this computer.
TEST_F(IsLocalMachineTest, EveryPhysicalNameInAnyCaseWithDotAndBackslashesButTheDomain) {
    const wchar_t* const names[] = {L"NB", L"HOST", L"DOMAIN", L"FQ", L"PNB", L"PHOST", L"PDOMAIN", L"PFQ"};
    for (int format = 0; format < 8; ++format)
        fake.computerNames[format] = names[format];
    for (const wchar_t* name : names) {
        const std::wstring plain = name;
        std::wstring lower = plain;
        for (wchar_t& c : lower)
            c = static_cast<wchar_t>(std::towlower(c));
        // The domain's name is every member's: a connection to it is never this computer.
        const int local = plain[0] == L'P' && plain.find(L"DOMAIN") == std::wstring::npos ? 1 : 0;
        for (const std::wstring& candidate :
             {plain, lower, plain + L".", lower + L".", L"\\\\" + plain, L"\\\\" + lower, L"\\\\" + lower + L"."}) {
            ::SetLastError(Marker);
            EXPECT_EQ(IsLocalMachine(candidate.c_str()), local) << candidate;
            EXPECT_EQ(::GetLastError(), Marker) << candidate;
        }
        for (const std::wstring& candidate :
             {plain + L"..", L"\\" + plain, L"\\\\\\" + plain, L"." + plain, plain + L"X", L"\\\\" + plain + L"\\"})
            EXPECT_EQ(IsLocalMachine(candidate.c_str()), 0) << candidate;
    }
}

TEST_F(IsLocalMachineTest, AnotherMachineAskedInEveryPhysicalFormat) {
    ::SetLastError(Marker);
    EXPECT_EQ(IsLocalMachine(L"OTHER-PC"), 0);
    EXPECT_EQ(::GetLastError(), Marker) << "the size queries' 234 must not leak";
    EXPECT_EQ(fake.Calls("GetComputerNameExW"), 8);
    EXPECT_EQ(IsLocalMachine(L"127.0.0.1"), 0) << "addresses are not recognised";
    EXPECT_EQ(IsLocalMachine(L"localhost"), 0);
}

TEST_F(IsLocalMachineTest, DotIsLocalOnlyWhenAFormatHasNoName) {
    EXPECT_EQ(IsLocalMachine(L"."), 0);
    EXPECT_EQ(IsLocalMachine(L"\\\\"), 0);
    fake.computerNames[ComputerNameDnsDomain] = L"";
    fake.computerNames[ComputerNamePhysicalDnsDomain] = L"";
    EXPECT_EQ(IsLocalMachine(L"."), 1);
    EXPECT_EQ(IsLocalMachine(L"\\\\"), 1);
    EXPECT_EQ(IsLocalMachine(L"\\\\."), 1);
}

TEST_F(IsLocalMachineTest, AFormatThatCannotBeReadCountsAsNoName) {
    fake.computerNames[ComputerNamePhysicalNetBIOS] = L"NB";
    fake.FailCall("GetComputerNameExW", ERROR_INVALID_PARAMETER, 2);
    ::SetLastError(Marker);
    EXPECT_EQ(IsLocalMachine(L"NB"), 0) << "the NetBIOS name could not be read";
    EXPECT_EQ(::GetLastError(), Marker);
    fake.FailCall("GetComputerNameExW", ERROR_INVALID_PARAMETER, 2);
    EXPECT_EQ(IsLocalMachine(L"."), 1) << "an unreadable format yields the empty name";
    EXPECT_EQ(IsLocalMachine(L"NB"), 1);
}

} // namespace
