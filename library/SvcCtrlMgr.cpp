// One connection to a service control manager: opening, closing, properties, the database lock,
// the lock status, the boot notice, the manager's security and the registry attachment.

#include "SvcCtrlMgr.h"

#include "HandleGuard.h"
#include "Memory.h"
#include "ObjectSecurity.h"
#include "Platform.h"
#include "Privileges.h"
#include "QuorvanException.h"
#include "SizedQuery.h"
#include "StringFunctions.h"

namespace ServicesManagement {

_SCM_PROPERTIES::_SCM_PROPERTIES() : dwDesiredAccess(0) {}

_SCM_PROPERTIES::_SCM_PROPERTIES(const _SCM_PROPERTIES& other)
    : szMachineName(other.szMachineName), szDatabaseName(other.szDatabaseName),
      dwDesiredAccess(other.dwDesiredAccess) {}

_SCM_PROPERTIES& _SCM_PROPERTIES::operator=(const _SCM_PROPERTIES& other) {
    szMachineName = other.szMachineName;
    szDatabaseName = other.szDatabaseName;
    dwDesiredAccess = other.dwDesiredAccess;
    return *this;
}

_SCM_PROPERTIES::~_SCM_PROPERTIES() { dwDesiredAccess = 0; }

void _SCM_PROPERTIES::Free() { dwDesiredAccess = 0; }

CSvcCtrlMgr::CSvcCtrlMgr()
    : m_hSCManager(nullptr), m_hLock(nullptr), m_dwDesiredAccess(0), m_hRegistryKey(nullptr),
      m_dwRemoteRegistryChanges(0) {}

CSvcCtrlMgr::CSvcCtrlMgr(const wchar_t* machineName, const wchar_t* databaseName, unsigned long desiredAccess)
    : CSvcCtrlMgr() {
    Open(machineName, databaseName, desiredAccess);
}

CSvcCtrlMgr::CSvcCtrlMgr(const CSvcCtrlMgr& other)
    : m_hSCManager(other.m_hSCManager), m_hLock(other.m_hLock), m_szMachineName(other.m_szMachineName),
      m_szDatabaseName(other.m_szDatabaseName), m_dwDesiredAccess(other.m_dwDesiredAccess),
      m_hRegistryKey(other.m_hRegistryKey), m_dwRemoteRegistryChanges(other.m_dwRemoteRegistryChanges) {}

CSvcCtrlMgr& CSvcCtrlMgr::operator=(const CSvcCtrlMgr& other) {
    m_hSCManager = other.m_hSCManager;
    m_hLock = other.m_hLock;
    m_szMachineName = other.m_szMachineName;
    m_szDatabaseName = other.m_szDatabaseName;
    m_dwDesiredAccess = other.m_dwDesiredAccess;
    m_hRegistryKey = other.m_hRegistryKey;
    m_dwRemoteRegistryChanges = other.m_dwRemoteRegistryChanges;
    return *this;
}

CSvcCtrlMgr::~CSvcCtrlMgr() {
    LastErrorKeeper keep;
    Close();
}

int CSvcCtrlMgr::Open(const wchar_t* machineName, const wchar_t* databaseName, unsigned long desiredAccess) {
    Close();
    m_szMachineName = machineName;
    m_szDatabaseName = databaseName ? databaseName : L"ServicesActive";
    m_dwDesiredAccess = desiredAccess | SC_MANAGER_CONNECT;
    m_hRegistryKey = nullptr;
    m_hSCManager = Os().OpenSCManagerW(m_szMachineName, m_szDatabaseName, m_dwDesiredAccess);
    const DWORD failure = ::GetLastError();
    if (m_hSCManager) {
        const ExclusiveLock kept(&m_keptLock);
        m_bKeepsHandles = true;
        return 1;
    }
    Close();
    throw CQuorvanException(L"SvcCtrlMgr",
                            L"int __thiscall ServicesManagement::CSvcCtrlMgr::Open(const wchar_t *,const wchar_t "
                            L"*,unsigned long)",
                            293, static_cast<int>(failure));
}

// Under the lock, so that no object is working on its handle while it closes, nor keeps a new one
// past this point.
void CSvcCtrlMgr::__EndKeptHandles(bool close) {
    const ExclusiveLock kept(&m_keptLock);
    m_bKeepsHandles = false;
    for (CSvcObj* keeper : m_keepers) {
        if (close)
            keeper->CloseKeptHandle();
        keeper->m_hService = nullptr;
        keeper->m_dwServiceAccess = 0;
    }
    m_keepers.clear();
}

// The kept service handles close first: they belong to the manager handle's session.
int CSvcCtrlMgr::Close() {
    __EndKeptHandles(true);
    if (m_hLock) {
        LastErrorKeeper keep;
        Os().UnlockServiceDatabase(m_hLock);
        m_hLock = nullptr;
    }
    __StopRemoteRegistryService();
    const int result = m_hSCManager ? (Os().CloseServiceHandle(m_hSCManager) ? 1 : 0) : 0;
    m_hSCManager = nullptr;
    m_hLock = nullptr;
    m_hRegistryKey = nullptr;
    m_dwDesiredAccess = 0;
    return result;
}

void CSvcCtrlMgr::Abandon() {
    __EndKeptHandles(false);
    m_hSCManager = nullptr;
    m_hLock = nullptr;
    m_hRegistryKey = nullptr;
    m_dwDesiredAccess = 0;
    m_dwRemoteRegistryChanges = 0;
}

int CSvcCtrlMgr::GetProperties(_SCM_PROPERTIES* properties) const {
    properties->szMachineName = m_szMachineName;
    properties->szDatabaseName = m_szDatabaseName;
    properties->dwDesiredAccess = m_dwDesiredAccess;
    return 1;
}

int CSvcCtrlMgr::IsLocal() const { return IsLocalMachine(m_szMachineName); }

int CSvcCtrlMgr::Lock() {
    const DWORD before = ::GetLastError();
    SC_LOCK lock = Os().LockServiceDatabase(m_hSCManager);
    const DWORD failure = ::GetLastError();
    if (lock || failure != ERROR_SERVICE_DATABASE_LOCKED)
        m_hLock = lock;
    ::SetLastError(m_hLock ? before : failure);
    return m_hLock ? 1 : 0;
}

int CSvcCtrlMgr::Unlock() {
    if (!m_hLock)
        return 0;
    {
        LastErrorKeeper keep;
        Os().UnlockServiceDatabase(m_hLock);
    }
    m_hLock = nullptr;
    return 1;
}

int CSvcCtrlMgr::CanBeLocked() const { return (m_dwDesiredAccess & SC_MANAGER_LOCK) ? 1 : 0; }

int CSvcCtrlMgr::QueryLockStatus(QUERY_SERVICE_LOCK_STATUSW** status) const {
    *status = nullptr;
    if (!m_hSCManager)
        return 0;
    *status = static_cast<QUERY_SERVICE_LOCK_STATUSW*>(QueryVariableSize(
        [this](void* buffer, DWORD size, DWORD* needed) {
            return Os().QueryServiceLockStatusW(m_hSCManager, static_cast<LPQUERY_SERVICE_LOCK_STATUSW>(buffer),
                                                size, needed);
        },
        ERROR_INSUFFICIENT_BUFFER, sizeof(QUERY_SERVICE_LOCK_STATUSW), UsualRecordBytes));
    return *status ? 1 : 0;
}

int CSvcCtrlMgr::DoesTheConfigShouldBeSavedAsTheLastKnownGoodConfig(int bootAcceptable) {
    const DWORD before = ::GetLastError();
    if (!Os().NotifyBootConfigStatus(bootAcceptable))
        return 0;
    ::SetLastError(before);
    return 1;
}

namespace {

// The system access control list needs the security privilege: it is switched on and straight
// off again, as the platform only checks that the token holds it.
void TouchSecurityPrivilegeFor(unsigned long information) {
    if (information != SACL_SECURITY_INFORMATION)
        return;
    LastErrorKeeper keep;
    EnablePrivilege(L"SeSecurityPrivilege", nullptr, 1);
    EnablePrivilege(L"SeSecurityPrivilege", nullptr, 0);
}

} // namespace

int CSvcCtrlMgr::QuerySecurity(unsigned long securityInformation, void** descriptor) const {
    if (!m_hSCManager || !IsSingleSecurityInformation(securityInformation))
        return 0;
    TouchSecurityPrivilegeFor(securityInformation);
    *descriptor = QueryTracedSecurity(m_hSCManager, securityInformation);
    return *descriptor ? 1 : 0;
}

int CSvcCtrlMgr::SetSecurity(unsigned long securityInformation, void* descriptor) {
    if (!m_hSCManager || !IsSingleSecurityInformation(securityInformation))
        return 0;
    TouchSecurityPrivilegeFor(securityInformation);
    const DWORD before = ::GetLastError();
    if (!Os().SetServiceObjectSecurity(m_hSCManager, securityInformation, descriptor))
        return 0;
    ::SetLastError(before);
    return 1;
}

int ReleaseServiceHandle(SC_HANDLE handle) {
    if (!handle)
        return 0;
    return Os().CloseServiceHandle(handle) ? 1 : 0;
}

} // namespace ServicesManagement

namespace {

// This computer's name in one format; empty when the machine has none in it.
SimpleString ComputerName(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    Os().GetComputerNameExW(format, nullptr, &size);
    if (size < 1)
        size = 1;
    SimpleString name;
    name.Alloc((size + 1) * sizeof(wchar_t));
    if (!Os().GetComputerNameExW(format, name, &size))
        name = L"";
    return name;
}

bool NamesThisComputer(const wchar_t* machineName, const SimpleString& name) {
    const SimpleString candidates[] = {name, name + L'.', L"\\\\" + name, L"\\\\" + name + L'.'};
    for (const SimpleString& candidate : candidates)
        if (StrIComp(machineName, candidate) == 0)
            return true;
    return false;
}

// A domain's name is shared by every machine of the domain: it names none of them. An empty one
// (a machine outside any domain) is still compared, so that "." names this computer there.
bool NamesDomain(COMPUTER_NAME_FORMAT format, const SimpleString& name) {
    return format == ComputerNamePhysicalDnsDomain && name.Length() != 0;
}

} // namespace

int IsLocalMachine(const wchar_t* machineName) {
    if (StrLen(machineName) == 0)
        return 1;
    LastErrorKeeper keep;
    // Only the physical names: on a cluster node the others name the cluster's virtual server,
    // which another node may be serving (GetComputerNameEx). Elsewhere both give the same names.
    for (int value = ComputerNamePhysicalNetBIOS; value <= ComputerNamePhysicalDnsFullyQualified; ++value) {
        const auto format = static_cast<COMPUTER_NAME_FORMAT>(value);
        const SimpleString name = ComputerName(format);
        if (!NamesDomain(format, name) && NamesThisComputer(machineName, name))
            return 1;
    }
    return 0;
}
