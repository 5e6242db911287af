// One service or driver of a connection's database: status, configuration, dependents,
// security, control codes and the debugger. The state changes with their waits are in
// SvcObjStateChanges.cpp.

#include "SvcObj.h"

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <optional>
#include <utility>
#include <vector>

#include "FailureActionType.h"
#include "HandleGuard.h"
#include "Memory.h"
#include "ObjectSecurity.h"
#include "OpenedService.h"
#include "Platform.h"
#include "PrivilegeHold.h"
#include "ServiceProcess.h"
#include "SimpleString.h"
#include "SizedQuery.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"

namespace ServicesManagement {

namespace {

// What Control's forwarded stop hands on to the stops of the dependents.
const unsigned long DependentStopTimeout = 120000;

// The size protocol into `*record`: a block never smaller than the record's fixed part.
template <typename Record, typename Call>
Outcome ReadRecord(Record** record, Call call, DWORD expectedError, DWORD minimumSize = sizeof(Record)) {
    *record = static_cast<Record*>(QueryVariableSize(call, expectedError, minimumSize, UsualRecordBytes));
    return OutcomeOf(*record != nullptr);
}

// The fixed part of the records of the known levels; other levels get what the platform asks for.
DWORD Config2RecordSize(ConfigInfoLevel level) {
    switch (level) {
    case ConfigInfoDescription:
        return sizeof(SERVICE_DESCRIPTIONW);
    case ConfigInfoFailureActions:
        return sizeof(SERVICE_FAILURE_ACTIONSW);
    case ConfigInfoDelayedAutoStart:
        return sizeof(SERVICE_DELAYED_AUTO_START_INFO);
    default:
        return 0;
    }
}

struct FailureActionNeeds {
    DWORD access;
    bool shutdownPrivilege;
};

// Restart actions need the right to start the service, reboot actions the shutdown privilege.
FailureActionNeeds NeedsOf(const void* info, ConfigInfoLevel level) {
    FailureActionNeeds needs = {SERVICE_CHANGE_CONFIG, false};
    const auto* failureActions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
    if (level != ConfigInfoFailureActions || !failureActions || !failureActions->lpsaActions)
        return needs;
    for (DWORD i = 0; i < failureActions->cActions; ++i) {
        const DWORD type = ActionTypeNumber(failureActions->lpsaActions[i]);
        if (type == SC_ACTION_RESTART)
            needs.access |= SERVICE_START;
        else if (type == SC_ACTION_REBOOT)
            needs.shutdownPrivilege = true;
    }
    return needs;
}

// The dependents in `state`, in a block never smaller than one record. A size query that
// succeeds says that there is none: no block then.
Outcome ReadDependents(SC_HANDLE service, DWORD state, ENUM_SERVICE_STATUSW** services,
                       unsigned long* count) {
    DWORD returned = 0;
    auto enumerate = [&](void* buffer, DWORD size, DWORD* needed) {
        return Os().EnumDependentServicesW(service, state, static_cast<LPENUM_SERVICE_STATUSW>(buffer), size,
                                           needed, &returned);
    };
    DWORD needed = 0;
    if (enumerate(nullptr, 0, &needed))
        return Outcome::Done;
    const DWORD size = std::max<DWORD>(needed, sizeof(ENUM_SERVICE_STATUSW));
    void* block = MemAlloc(size, 1, 0);
    if (!enumerate(block, size, &needed)) {
        const DWORD failure = ::GetLastError();
        MemRelease(block);
        ::SetLastError(failure);
        return Outcome::Failed;
    }
    *services = static_cast<ENUM_SERVICE_STATUSW*>(block);
    if (count)
        *count = returned;
    return Outcome::Done;
}

DWORD QuerySecurityAccess(unsigned long information) {
    return information == SACL_SECURITY_INFORMATION ? ACCESS_SYSTEM_SECURITY : READ_CONTROL;
}

DWORD SetSecurityAccess(unsigned long information) {
    switch (information) {
    case SACL_SECURITY_INFORMATION:
        return ACCESS_SYSTEM_SECURITY;
    case DACL_SECURITY_INFORMATION:
        return WRITE_DAC;
    default:
        return WRITE_OWNER;
    }
}

// The system access control list can only be opened under the security privilege, which is held
// for the open alone.
template <typename Work>
int WithSecurityAccess(SC_HANDLE manager, const wchar_t* serviceName, unsigned long information, DWORD access,
                       Work work) {
    std::optional<PrivilegeHold> security(std::in_place, L"SeSecurityPrivilege",
                                          information == SACL_SECURITY_INFORMATION);
    return WithService(manager, serviceName, access, [&](UniqueServiceHandle& service) {
        security.reset();
        return work(service);
    });
}

// How a control code is sent: the right it needs besides reading the status, and the flag of
// dwControlsAccepted without which it is not sent (0: none).
struct ControlRule {
    DWORD access;
    DWORD acceptance;
};

ControlRule RuleOf(unsigned long control) {
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
        return {SERVICE_INTERROGATE, 0};
    case SERVICE_CONTROL_SHUTDOWN:
        return {SERVICE_PAUSE_CONTINUE, SERVICE_ACCEPT_SHUTDOWN};
    case SERVICE_CONTROL_PARAMCHANGE:
        return {SERVICE_PAUSE_CONTINUE, SERVICE_ACCEPT_PARAMCHANGE};
    case SERVICE_CONTROL_NETBINDADD:
    case SERVICE_CONTROL_NETBINDREMOVE:
    case SERVICE_CONTROL_NETBINDENABLE:
    case SERVICE_CONTROL_NETBINDDISABLE:
        return {SERVICE_PAUSE_CONTINUE, SERVICE_ACCEPT_NETBINDCHANGE};
    case SERVICE_CONTROL_DEVICEEVENT:
        return {SERVICE_PAUSE_CONTINUE, 0};
    case SERVICE_CONTROL_HARDWAREPROFILECHANGE:
        return {SERVICE_PAUSE_CONTINUE, SERVICE_ACCEPT_HARDWAREPROFILECHANGE};
    case SERVICE_CONTROL_POWEREVENT:
        return {SERVICE_PAUSE_CONTINUE, SERVICE_ACCEPT_POWEREVENT};
    case SERVICE_CONTROL_SESSIONCHANGE:
        return {SERVICE_PAUSE_CONTINUE, SERVICE_ACCEPT_SESSIONCHANGE};
    default:
        return {SERVICE_USER_DEFINED_CONTROL, 0};
    }
}

int RefuseServiceType() {
    ::SetLastError(ERROR_INVALID_FLAGS);
    return 0;
}

// Driver paths may carry the object manager's prefix, which the configuration does not take.
const wchar_t* WithoutObjectManagerPrefix(const wchar_t* binaryPathName) {
    const wchar_t Prefix[] = L"\\??\\";
    const unsigned int prefixLength = sizeof Prefix / sizeof Prefix[0] - 1;
    return StrNComp(binaryPathName, Prefix, prefixLength) == 0 ? binaryPathName + prefixLength
                                                               : binaryPathName;
}

// Registry calls return their code; the library reports it in the last-error value.
bool RegistryCallSucceeded(LSTATUS status) {
    if (status == ERROR_SUCCESS)
        return true;
    ::SetLastError(static_cast<DWORD>(status));
    return false;
}

// The debugger's command-line template: the REG_SZ "Debugger" value of this machine's AeDebug key.
// The registry does not promise a terminator, so the text gets room for one of its own, even
// after an odd number of bytes.
bool ReadDebuggerTemplate(SimpleString& text) {
    const wchar_t Key[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
    UniqueRegistryKey key;
    // The 64-bit view: a 32-bit build reads the debugger that the system itself would start.
    if (!RegistryCallSucceeded(
            Os().RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put())))
        return false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (!RegistryCallSucceeded(
            Os().RegQueryValueExW(key.get(), L"Debugger", nullptr, &type, nullptr, &size)) ||
        type != REG_SZ)
        return false;
    text.Alloc(size + 2 * sizeof(wchar_t));
    return RegistryCallSucceeded(Os().RegQueryValueExW(key.get(), L"Debugger", nullptr, nullptr,
                                                       reinterpret_cast<LPBYTE>(static_cast<wchar_t*>(text)),
                                                       &size));
}

// The conversions of a debugger template: up to two integers (the process id, then the event),
// then, in the documented templates of current debuggers, at most one pointer (the address of
// the exception's record). Anything else could read arguments that are not there.
struct DebuggerTemplateShape {
    bool safe = true;
    int integers = 0;
    bool pointer = false;
};

DebuggerTemplateShape ShapeOfDebuggerTemplate(const wchar_t* text) {
    DebuggerTemplateShape shape;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c != L'%' || *++c == L'%')
            continue;
        c += std::wcsspn(c, L"-+ #0");
        c += std::wcsspn(c, L"0123456789");
        const bool isLong = *c == L'l';
        if (isLong)
            ++c;
        if (*c == L'p' && !isLong && !shape.pointer) {
            shape.pointer = true;
        } else if (!*c || !std::wcschr(L"diouxX", *c) || shape.pointer || ++shape.integers > 2) {
            shape.safe = false;
            return shape;
        }
    }
    return shape;
}

// No exception is being debugged: the pointer conversion gets a null address.
SimpleString DebuggerCommandLine(const wchar_t* commandTemplate, const DebuggerTemplateShape& shape,
                                 unsigned long processId, unsigned long event) {
    void* const noException = nullptr;
    SimpleString commandLine;
    if (!shape.pointer)
        commandLine.Format(commandTemplate, processId, event);
    else if (shape.integers == 0)
        commandLine.Format(commandTemplate, noException);
    else if (shape.integers == 1)
        commandLine.Format(commandTemplate, processId, noException);
    else
        commandLine.Format(commandTemplate, processId, event, noException);
    return commandLine;
}

// The attribute list of a process that inherits one handle and nothing else.
class InheritedHandleList {
public:
    explicit InheritedHandleList(HANDLE handle) : m_handle(handle) {
        // The size query fails as it should with ERROR_INSUFFICIENT_BUFFER.
        SIZE_T size = 0;
        if (!Os().InitializeProcThreadAttributeList(nullptr, 1, 0, &size) &&
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return;
        m_storage.resize(size);
        if (!Os().InitializeProcThreadAttributeList(List(), 1, 0, &size))
            return;
        m_initialized = true;
        m_ready = Os().UpdateProcThreadAttribute(List(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &m_handle,
                                                 sizeof m_handle, nullptr, nullptr) != FALSE;
    }
    ~InheritedHandleList() {
        if (m_initialized)
            Os().DeleteProcThreadAttributeList(List());
    }
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;

    // False, with the platform's code, when the list could not be made.
    bool Ready() const { return m_ready; }
    LPPROC_THREAD_ATTRIBUTE_LIST List() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data()); }

private:
    HANDLE m_handle;
    std::vector<BYTE> m_storage;
    bool m_initialized = false;
    bool m_ready = false;
};

// The debugger inherits the event it is to signal once attached, and nothing else of ours. Nothing
// waits for it, so the handles of its process and thread are closed at once.
bool StartDebugger(SimpleString& commandLine, HANDLE attached) {
    InheritedHandleList inherited(attached);
    if (!inherited.Ready())
        return false;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited.List();
    PROCESS_INFORMATION started = {};
    if (!Os().CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE,
                             NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                             &startup.StartupInfo, &started))
        return false;
    UniqueKernelHandle process(started.hProcess);
    UniqueKernelHandle thread(started.hThread);
    return true;
}

} // namespace

CSvcObj::CSvcObj(CSvcCtrlMgr* manager, const wchar_t* serviceName)
    : m_lpServiceName(StrDup(serviceName)), m_pSvcCtrlMgr(manager) {}

CSvcObj::CSvcObj(const CSvcObj& other) : CSvcObj(other.m_pSvcCtrlMgr, other.m_lpServiceName) {}

CSvcObj& CSvcObj::operator=(const CSvcObj& other) {
    wchar_t* name = StrDup(other.m_lpServiceName);
    ReleaseKeptHandle();
    MemRelease(m_lpServiceName);
    m_lpServiceName = name;
    m_pSvcCtrlMgr = other.m_pSvcCtrlMgr;
    return *this;
}

CSvcObj::~CSvcObj() {
    ReleaseKeptHandle();
    MemRelease(m_lpServiceName);
}

void CSvcObj::KeepHandle(SC_HANDLE handle, unsigned long access) {
    UniqueServiceHandle owned(handle);
    const ExclusiveLock kept(&m_pSvcCtrlMgr->m_keptLock);
    if (!m_pSvcCtrlMgr->m_bKeepsHandles)
        return;
    m_pSvcCtrlMgr->m_keepers.push_back(this);
    m_bKeeper = true;
    m_hService = owned.release();
    m_dwServiceAccess = access;
}

void CSvcObj::CloseKeptHandle() {
    const UniqueServiceHandle closing(std::exchange(m_hService, nullptr));
    m_dwServiceAccess = 0;
}

void CSvcObj::ReleaseKeptHandle() {
    if (!m_bKeeper)
        return;
    const ExclusiveLock kept(&m_pSvcCtrlMgr->m_keptLock);
    std::vector<CSvcObj*>& keepers = m_pSvcCtrlMgr->m_keepers;
    keepers.erase(std::remove(keepers.begin(), keepers.end(), this), keepers.end());
    CloseKeptHandle();
    m_bKeeper = false;
}

SC_HANDLE CSvcObj::ManagerHandle() const {
    return m_pSvcCtrlMgr ? m_pSvcCtrlMgr->Handle() : nullptr;
}

SC_HANDLE CSvcObj::GetHandle(unsigned long access) const {
    const DWORD before = ::GetLastError();
    SC_HANDLE service = Os().OpenServiceW(ManagerHandle(), m_lpServiceName, access);
    if (service)
        ::SetLastError(before);
    return service;
}

int CSvcObj::QueryStatus(SERVICE_STATUS_PROCESS** status) const {
    return WithHandle(SERVICE_QUERY_STATUS, [&](SC_HANDLE service) {
        return ReadRecord(
            status,
            [&](void* buffer, DWORD size, DWORD* needed) {
                return Os().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, static_cast<LPBYTE>(buffer),
                                                 size, needed);
            },
            ERROR_INSUFFICIENT_BUFFER);
    });
}

int CSvcObj::Interrogate(SERVICE_STATUS_PROCESS** status) const {
    return QueryStatus(status);
}

int CSvcObj::FastQueryStatus(SERVICE_STATUS_PROCESS* status) const {
    return WithHandle(SERVICE_QUERY_STATUS,
                      [&](SC_HANDLE service) { return OutcomeOf(ReadStatus(service, *status)); });
}

int CSvcObj::Interrogate(SERVICE_STATUS* status) {
    const DWORD before = ::GetLastError();
    bool stopped = false;
    const int asked = WithHandle(SERVICE_INTERROGATE, [&](SC_HANDLE service) {
        *status = {};
        if (Os().ControlService(service, SERVICE_CONTROL_INTERROGATE, status))
            return Outcome::Done;
        stopped = ::GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
        return Outcome::Failed;
    });
    if (asked || !stopped)
        return asked;
    // A stopped service cannot be asked; its status is read instead.
    ::SetLastError(before);
    return WithHandle(SERVICE_QUERY_STATUS,
                      [&](SC_HANDLE service) { return OutcomeOf(Os().QueryServiceStatus(service, status)); });
}

int CSvcObj::QueryConfig(QUERY_SERVICE_CONFIGW** config) const {
    return WithHandle(SERVICE_QUERY_CONFIG, [&](SC_HANDLE service) {
        return ReadRecord(
            config,
            [&](void* buffer, DWORD size, DWORD* needed) {
                return Os().QueryServiceConfigW(service, static_cast<LPQUERY_SERVICE_CONFIGW>(buffer), size,
                                                needed);
            },
            ERROR_INSUFFICIENT_BUFFER);
    });
}

int CSvcObj::QueryConfig2(void** info, ConfigInfoLevel level) const {
    return WithHandle(SERVICE_QUERY_CONFIG, [&](SC_HANDLE service) {
        return ReadRecord(
            info,
            [&](void* buffer, DWORD size, DWORD* needed) {
                return Os().QueryServiceConfig2W(service, level, static_cast<LPBYTE>(buffer), size, needed);
            },
            0, Config2RecordSize(level));
    });
}

int CSvcObj::ChangeServiceConfiguration(unsigned long serviceType, unsigned long startType,
                                        unsigned long errorControl, const wchar_t* binaryPathName,
                                        const wchar_t* loadOrderGroup, unsigned long* tagId,
                                        const wchar_t* dependencies, const wchar_t* serviceStartName,
                                        const wchar_t* password, const wchar_t* displayName) {
    unsigned long* tag = StrLen(loadOrderGroup) != 0 ? tagId : nullptr;
    return WithHandle(SERVICE_CHANGE_CONFIG, [&](SC_HANDLE service) {
        return OutcomeOf(Os().ChangeServiceConfigW(service, serviceType, startType, errorControl, binaryPathName,
                                                   loadOrderGroup, tag, dependencies, serviceStartName, password,
                                                   displayName));
    });
}

int CSvcObj::ChangeConfig(QUERY_SERVICE_CONFIGW* config, const wchar_t* password) {
    return ChangeConfig(config->dwServiceType, config->dwStartType, config->dwErrorControl,
                        config->lpBinaryPathName, config->lpLoadOrderGroup, &config->dwTagId,
                        config->lpDependencies, config->lpServiceStartName, password, config->lpDisplayName);
}

int CService::ChangeConfig(unsigned long serviceType, unsigned long startType, unsigned long errorControl,
                           const wchar_t* binaryPathName, const wchar_t* loadOrderGroup, unsigned long* tagId,
                           const wchar_t* dependencies, const wchar_t* serviceStartName,
                           const wchar_t* password, const wchar_t* displayName) {
    if (serviceType != SERVICE_NO_CHANGE && (serviceType & ~static_cast<unsigned long>(SvcObjTypeService)))
        return RefuseServiceType();
    return ChangeServiceConfiguration(serviceType, startType, errorControl, binaryPathName, loadOrderGroup, tagId,
                                      dependencies, serviceStartName, password, displayName);
}

int CDriver::ChangeConfig(unsigned long serviceType, unsigned long startType, unsigned long errorControl,
                          const wchar_t* binaryPathName, const wchar_t* loadOrderGroup, unsigned long* tagId,
                          const wchar_t* dependencies, const wchar_t* serviceStartName, const wchar_t*,
                          const wchar_t* displayName) {
    if (serviceType != SERVICE_NO_CHANGE && (serviceType & ~static_cast<unsigned long>(SvcObjTypeDriver)))
        return RefuseServiceType();
    return ChangeServiceConfiguration(serviceType, startType, errorControl, WithoutObjectManagerPrefix(binaryPathName),
                                      loadOrderGroup, tagId, dependencies, serviceStartName, nullptr, displayName);
}

int CSvcObj::ChangeConfig2(void* info, ConfigInfoLevel level) {
    const FailureActionNeeds needs = NeedsOf(info, level);
    return WithHandle(needs.access, [&](SC_HANDLE service) {
        PrivilegeHold shutdown(L"SeShutdownPrivilege", needs.shutdownPrivilege);
        return OutcomeOf(Os().ChangeServiceConfig2W(service, level, info));
    });
}

int CSvcObj::EnumDependentServicesW(unsigned long state, ENUM_SERVICE_STATUSW** services,
                                    unsigned long* count) const {
    if (count)
        *count = 0;
    *services = nullptr;
    return WithHandle(SERVICE_ENUMERATE_DEPENDENTS,
                      [&](SC_HANDLE service) { return ReadDependents(service, state, services, count); });
}

unsigned long CSvcObj::GetProcessId() const {
    SERVICE_STATUS_PROCESS* status = nullptr;
    if (!QueryStatus(&status))
        return 0;
    const unsigned long processId = status->dwProcessId;
    MemRelease(status);
    return processId;
}

unsigned long CSvcObj::GetType() const {
    QUERY_SERVICE_CONFIGW* config = nullptr;
    if (!QueryConfig(&config))
        return 0;
    const unsigned long serviceType = config->dwServiceType;
    MemRelease(config);
    return serviceType;
}

int CSvcObj::QuerySecurity(unsigned long securityInformation, void** descriptor) const {
    if (!IsSingleSecurityInformation(securityInformation))
        return 0;
    return WithSecurityAccess(ManagerHandle(), m_lpServiceName, securityInformation,
                              QuerySecurityAccess(securityInformation), [&](UniqueServiceHandle& service) {
                                  *descriptor = QueryTracedSecurity(service.get(), securityInformation);
                                  return OutcomeOf(*descriptor != nullptr);
                              });
}

int CSvcObj::SetSecurity(unsigned long securityInformation, void* descriptor) {
    if (!IsSingleSecurityInformation(securityInformation))
        return 0;
    return WithSecurityAccess(
        ManagerHandle(), m_lpServiceName, securityInformation, SetSecurityAccess(securityInformation),
        [&](UniqueServiceHandle& service) {
            return OutcomeOf(Os().SetServiceObjectSecurity(service.get(), securityInformation, descriptor));
        });
}

int CSvcObj::Control(unsigned long control, unsigned long value, void* context,
                     SVC_PROGRESS_CALLBACK progress) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return Stop(1, DependentStopTimeout, 1, value, context, progress);
    case SERVICE_CONTROL_PAUSE:
        return Pause(value, context, progress);
    case SERVICE_CONTROL_CONTINUE:
        return Resume(value, context, progress);
    default:
        break;
    }
    const ControlRule rule = RuleOf(control);
    // A quick exchange: it may work on the kept handle.
    return WithHandle(rule.access | SERVICE_QUERY_STATUS, [&](SC_HANDLE service) {
        // A status that cannot be read accepts nothing.
        SERVICE_STATUS_PROCESS status = {};
        const bool read = ReadStatus(service, status);
        if (rule.acceptance && !(status.dwControlsAccepted & rule.acceptance))
            return read ? FailWith(RefusedControlCode(status.dwCurrentState)) : Outcome::Failed;
        return OutcomeOf(Os().ControlService(service, control, AsServiceStatus(status)));
    });
}

unsigned long CSvcObj::ControlAccess(unsigned long control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return 0;
    default:
        return RuleOf(control).access;
    }
}

void ReleaseSvcObj(CSvcObj* object) {
    delete object;
}

CService::CService(CSvcCtrlMgr* manager, const wchar_t* serviceName) : CSvcObj(manager, serviceName) {}

namespace {

// The debugger starts on this computer and attaches to the process that has the service's id; a
// debugger that ends takes its debuggee down with it (DebugSetProcessKillOnExit: the default). So
// the id must name the service's own process, that of a running service of this computer, and one
// that the stop's kill would end too (JudgeServiceProcess). The refusal says why, with its own
// code, and nothing is started.
bool FindDebuggee(const CSvcCtrlMgr& manager, SC_HANDLE managerHandle, const wchar_t* serviceName,
                  unsigned long& processId) {
    if (!manager.IsLocal()) {
        _SCM_PROPERTIES properties;
        manager.GetProperties(&properties);
        std::wcerr << L"Le d\u00E9bogueur d\u00E9marre sur cet ordinateur : il ne peut pas s'attacher \u00E0 un "
                      L"service de "
                   << static_cast<const wchar_t*>(properties.szMachineName) << L"." << std::endl;
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return WithService(
               managerHandle, serviceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG,
               [&](UniqueServiceHandle& service) {
                   SERVICE_STATUS_PROCESS status = {};
                   if (!ReadStatus(service.get(), status))
                       return Outcome::Failed;
                   if (status.dwProcessId == 0) {
                       std::wcerr << L"Le service " << serviceName
                                  << L" ne tourne pas : il n'a pas de processus auquel attacher le d\u00E9bogueur."
                                  << std::endl;
                       return FailWith(ERROR_SERVICE_NOT_ACTIVE);
                   }
                   processId = status.dwProcessId;
                   const ProcessVerdict verdict = JudgeServiceProcess(manager, service.get(), serviceName, status, 0);
                   if (verdict.reason.Length() == 0)
                       return Outcome::Done;
                   const DWORD code = ::GetLastError();
                   std::wcerr << L"Le processus " << processId << L" du service " << serviceName
                              << L" n'a pas \u00E9t\u00E9 attach\u00E9 au d\u00E9bogueur : "
                              << static_cast<const wchar_t*>(verdict.reason) << L"." << std::endl;
                   return FailWith(code);
               }) != 0;
}

} // namespace

int CService::AttachToADebugger() {
    const DWORD before = ::GetLastError();
    unsigned long processId = 0;
    if (!FindDebuggee(*m_pSvcCtrlMgr, ManagerHandle(), m_lpServiceName, processId))
        return 0;
    SimpleString commandTemplate;
    if (!ReadDebuggerTemplate(commandTemplate))
        return 0;
    const DebuggerTemplateShape shape = ShapeOfDebuggerTemplate(commandTemplate);
    if (!shape.safe) {
        ::SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    // The debugger signals this event once it is attached (its own handle, inherited); nobody here
    // waits for it.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueKernelHandle attached(Os().CreateEventW(&inheritable, FALSE, FALSE, nullptr));
    if (!attached)
        return 0;
    SimpleString commandLine = DebuggerCommandLine(
        commandTemplate, shape, processId, static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(attached.get())));
    std::wcout << std::endl << L"Debugging: " << commandLine << std::endl;
    if (!StartDebugger(commandLine, attached.get()))
        return 0;
    ::SetLastError(before);
    return 1;
}

CDriver::CDriver(CSvcCtrlMgr* manager, const wchar_t* serviceName) : CSvcObj(manager, serviceName) {}

// The hint is the line that says why; the code tells a script that nothing was started.
int CDriver::AttachToADebugger() {
    std::wcout << L"\nUtilisez le d\u00E9boggeur noyau !!" << std::endl;
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

} // namespace ServicesManagement
