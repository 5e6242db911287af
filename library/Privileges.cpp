#include "Privileges.h"

#include <cstddef>

#include "HandleGuard.h"
#include "Memory.h"
#include "Platform.h"
#include "PrivilegeHold.h"
#include "SizedQuery.h"

namespace {

// The SID of the local Administrators group, freed by its guard.
UniqueSid AdministratorsSid() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid sid;
    Os().AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, sid.put());
    return sid;
}

} // namespace

int EnablePrivilege(const wchar_t* privilegeName, const wchar_t* systemName, int enable) {
    const DWORD before = ::GetLastError();
    UniqueKernelHandle token;
    if (!Os().OpenProcessToken(Os().GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()))
        return 0;
    TOKEN_PRIVILEGES request = {};
    request.PrivilegeCount = 1;
    if (!Os().LookupPrivilegeValueW(systemName, privilegeName, &request.Privileges[0].Luid))
        return 0;
    request.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!Os().AdjustTokenPrivileges(token.get(), FALSE, &request, sizeof request, nullptr, nullptr))
        return 0;
    // A success may leave ERROR_NOT_ALL_ASSIGNED behind; it is no failure of ours to report.
    ::SetLastError(before);
    return 1;
}

int IsUserAnAdmin(HANDLE token) {
    const DWORD before = ::GetLastError();
    UniqueSid administrators = AdministratorsSid();
    if (!administrators)
        return 0;
    BOOL isMember = FALSE;
    if (Os().CheckTokenMembership(token, administrators.get(), &isMember)) {
        ::SetLastError(before);
        return isMember ? 1 : 0;
    }
    if (::GetLastError() != ERROR_NO_IMPERSONATION_TOKEN)
        return 0;
    UniqueKernelHandle impersonation;
    if (!Os().DuplicateTokenEx(token, TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation,
                               TokenImpersonation, impersonation.put()))
        return 0;
    if (!Os().CheckTokenMembership(impersonation.get(), administrators.get(), &isMember))
        return 0;
    ::SetLastError(before);
    return isMember ? 1 : 0;
}

int IsUserAnAdmin() {
    const DWORD before = ::GetLastError();
    UniqueKernelHandle token;
    if (!Os().OpenProcessToken(Os().GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return 0;
    auto* groups = static_cast<TOKEN_GROUPS*>(QueryVariableSize(
        [&](void* buffer, DWORD size, DWORD* needed) {
            return Os().GetTokenInformation(token.get(), TokenGroups, buffer, size, needed);
        },
        0, sizeof(TOKEN_GROUPS)));
    token.reset();
    if (!groups)
        return 0;
    // Never trust the count beyond what the block holds.
    const DWORD room = (MemGetSize(groups) - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES);
    const DWORD count = groups->GroupCount < room ? groups->GroupCount : room;
    UniqueSid administrators = AdministratorsSid();
    int found = 0;
    if (administrators) {
        for (DWORD i = 0; i < count && !found; ++i)
            found = Os().EqualSid(groups->Groups[i].Sid, administrators.get()) ? 1 : 0;
        ::SetLastError(before);
    }
    MemRelease(groups);
    return found;
}

PrivilegeHold::PrivilegeHold(const wchar_t* privilege, bool wanted) {
    if (!wanted)
        return;
    LastErrorKeeper keep;
    if (!Os().OpenProcessToken(Os().GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, m_token.put()))
        return;
    TOKEN_PRIVILEGES request = {};
    request.PrivilegeCount = 1;
    request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD previousSize = 0;
    if (!Os().LookupPrivilegeValueW(nullptr, privilege, &request.Privileges[0].Luid) ||
        !Os().AdjustTokenPrivileges(m_token.get(), FALSE, &request, sizeof m_previous, &m_previous, &previousSize))
        m_previous.PrivilegeCount = 0;
}

PrivilegeHold::~PrivilegeHold() {
    if (m_previous.PrivilegeCount == 0)
        return;
    LastErrorKeeper keep;
    Os().AdjustTokenPrivileges(m_token.get(), FALSE, &m_previous, 0, nullptr, nullptr);
}
