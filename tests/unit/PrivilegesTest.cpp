#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "Privileges.h"

namespace {

class PrivilegesTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(fake.OpenHandles(), 0u) << "token handles left open";
        EXPECT_EQ(fake.LiveSids(), 0u) << "SIDs left allocated";
    }
    FakePlatform fake;
};

TEST_F(PrivilegesTest, EnableAndDisableAHeldPrivilege) {
    ::SetLastError(0);
    EXPECT_EQ(EnablePrivilege(L"SeSecurityPrivilege", nullptr, 1), 1);
    EXPECT_TRUE(fake.IsPrivilegeEnabled(L"SeSecurityPrivilege"));
    EXPECT_EQ(EnablePrivilege(L"SeSecurityPrivilege", nullptr, 0), 1);
    EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeSecurityPrivilege"));
    EXPECT_EQ(::GetLastError(), 0u);
}

TEST_F(PrivilegesTest, PrivilegeNotHeldStillCountsAsAdjustedAndLeavesNoCode) {
    fake.privileges[L"SeDebugPrivilege"].held = false;
    ::SetLastError(0);
    EXPECT_EQ(EnablePrivilege(L"SeDebugPrivilege", nullptr, 1), 1);
    EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeDebugPrivilege"));
    EXPECT_EQ(::GetLastError(), 0u);
}

TEST_F(PrivilegesTest, FailuresReportTheFailingCallsCode) {
    EXPECT_EQ(EnablePrivilege(L"SeNoSuchPrivilege", nullptr, 1), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_EQ(fake.Calls("AdjustTokenPrivileges"), 0);
    fake.FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
    EXPECT_EQ(EnablePrivilege(L"SeSecurityPrivilege", nullptr, 1), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    fake.FailCall("AdjustTokenPrivileges", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EnablePrivilege(L"SeSecurityPrivilege", nullptr, 1), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PrivilegesTest, GroupListCountsTheAdministratorsGroupWhateverItsAttributes) {
    EXPECT_EQ(IsUserAnAdmin(), 0);
    fake.tokenHasAdministrators = true;
    fake.administratorsAttributes = SE_GROUP_USE_FOR_DENY_ONLY;
    ::SetLastError(0);
    EXPECT_EQ(IsUserAnAdmin(), 1);
    EXPECT_EQ(::GetLastError(), 0u) << "the size query's 122 must not leak";
}

TEST_F(PrivilegesTest, MembershipTestImpersonatesAPrimaryToken) {
    fake.tokenHasAdministrators = true;
    HANDLE token = nullptr;
    ASSERT_TRUE(fake.OpenProcessToken(fake.GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_EQ(IsUserAnAdmin(token), 1);
    EXPECT_EQ(fake.Calls("DuplicateTokenEx"), 1);
    fake.administratorsAttributes = SE_GROUP_USE_FOR_DENY_ONLY;
    EXPECT_EQ(IsUserAnAdmin(token), 0) << "the membership test honours deny-only groups";
    fake.FailCall("DuplicateTokenEx", ERROR_ACCESS_DENIED);
    EXPECT_EQ(IsUserAnAdmin(token), 0);
    fake.CloseHandle(token);
}

TEST_F(PrivilegesTest, FailedTokenReadGivesZero) {
    fake.tokenHasAdministrators = true;
    fake.FailCall("GetTokenInformation", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(IsUserAnAdmin(), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

} // namespace
