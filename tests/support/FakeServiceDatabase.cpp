// The simulated machine's service database, registry and processes.

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "FailureActionType.h"
#include "FakePlatform.h"

namespace {

bool SameName(const std::wstring& a, const wchar_t* b) {
    return b && _wcsicmp(a.c_str(), b) == 0;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Lays out fixed records first and their strings after them, as the platform does.
class RecordWriter {
public:
    RecordWriter(LPBYTE buffer, size_t fixedBytes) : m_buffer(buffer), m_next(fixedBytes) {}
    // Copies the text (null stays null) and returns where it went.
    wchar_t* Text(const std::optional<std::wstring>& text) {
        if (!text)
            return nullptr;
        auto* place = reinterpret_cast<wchar_t*>(m_buffer + m_next);
        std::wmemcpy(place, text->c_str(), text->size() + 1);
        m_next += (text->size() + 1) * sizeof(wchar_t);
        return place;
    }
    wchar_t* List(const std::vector<std::wstring>& items) {
        auto* place = reinterpret_cast<wchar_t*>(m_buffer + m_next);
        for (const auto& item : items)
            Text(item);
        *reinterpret_cast<wchar_t*>(m_buffer + m_next) = L'\0';
        m_next += sizeof(wchar_t);
        return place;
    }

private:
    LPBYTE m_buffer;
    size_t m_next;
};

size_t TextBytes(const std::optional<std::wstring>& text) {
    return text ? (text->size() + 1) * sizeof(wchar_t) : 0;
}

size_t ListBytes(const std::vector<std::wstring>& items) {
    size_t bytes = sizeof(wchar_t);
    for (const auto& item : items)
        bytes += (item.size() + 1) * sizeof(wchar_t);
    return bytes;
}

std::optional<std::wstring> Optional(const wchar_t* text) {
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

bool InState(const FakeService& service, DWORD state) {
    const bool active = service.status.dwCurrentState != SERVICE_STOPPED;
    return (state & SERVICE_ACTIVE && active) || (state & SERVICE_INACTIVE && !active);
}

SERVICE_STATUS Short(const SERVICE_STATUS_PROCESS& status) {
    return {status.dwServiceType,
            status.dwCurrentState,
            status.dwControlsAccepted,
            status.dwWin32ExitCode,
            status.dwServiceSpecificExitCode,
            status.dwCheckPoint,
            status.dwWaitHint};
}

void FillRecord(ENUM_SERVICE_STATUSW& record, const FakeService& service) {
    record.ServiceStatus = Short(service.status);
}
void FillRecord(ENUM_SERVICE_STATUS_PROCESSW& record, const FakeService& service) {
    record.ServiceStatusProcess = service.status;
}

} // namespace

FakeService& FakePlatform::AddService(const std::wstring& name, DWORD serviceType) {
    FakeService service;
    service.name = name;
    service.displayName = name + L" (display)";
    service.serviceType = serviceType;
    service.status.dwServiceType = serviceType;
    services.push_back(service);
    return services.back();
}

FakeService* FakePlatform::IndexedService(const std::wstring& lowerName) {
    auto found = m_serviceIndex.find(lowerName);
    if (found == m_serviceIndex.end() || found->second >= services.size())
        return nullptr;
    if (!SameName(services[found->second].name, lowerName.c_str()))
        return nullptr;
    m_lastFound = found->second;
    return &services[m_lastFound];
}

// Large simulated machines look services up by the thousand: a scan per lookup would dominate.
FakeService* FakePlatform::FindService(const std::wstring& name) {
    if (m_lastFound < services.size() && SameName(services[m_lastFound].name, name.c_str()))
        return &services[m_lastFound];
    const std::wstring lowerName = Lower(name);
    if (FakeService* service = IndexedService(lowerName))
        return service;
    m_serviceIndex.clear();
    for (size_t i = 0; i < services.size(); ++i)
        m_serviceIndex.emplace(Lower(services[i].name), i);
    if (FakeService* service = IndexedService(lowerName))
        return service;
    // The platform's comparison may fold characters that the index's lowering keeps apart.
    for (FakeService& service : services)
        if (SameName(service.name, name.c_str()))
            return &service;
    return nullptr;
}

FakeService* FakePlatform::ServiceFor(SC_HANDLE handle, DWORD access) {
    auto found = m_serviceHandles.find(handle);
    if (found == m_serviceHandles.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (Unanswered(found->second.machine))
        return nullptr;
    if ((found->second.access & access) != access) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    FakeService* service = FindService(found->second.name);
    if (!service)
        ::SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return service;
}

namespace {

// The numbers that a command line holds, in order: the ids it may name a process by.
std::vector<DWORD> NumbersIn(const std::wstring& commandLine) {
    std::vector<DWORD> numbers;
    for (size_t at = commandLine.find_first_of(L"0123456789"); at != std::wstring::npos;) {
        const size_t end = commandLine.find_first_not_of(L"0123456789", at);
        numbers.push_back(static_cast<DWORD>(std::wcstoul(commandLine.substr(at, end - at).c_str(), nullptr, 10)));
        at = end == std::wstring::npos ? end : commandLine.find_first_of(L"0123456789", end);
    }
    return numbers;
}

bool HasRebootAction(const FakeService& service) {
    return std::any_of(service.actions.begin(), service.actions.end(),
                       [](const SC_ACTION& action) { return ActionTypeNumber(action) == SC_ACTION_REBOOT; });
}

} // namespace

LedgerEntry FakePlatform::ServiceEntry(const char* call, SC_HANDLE handle) {
    MeetControlHandler();
    const auto opened = m_serviceHandles.find(handle);
    if (opened == m_serviceHandles.end())
        return NewEntry(call, L"");
    LedgerEntry entry = NewEntry(call, opened->second.machine);
    entry.target = opened->second.name;
    if (const FakeService* service = FindService(opened->second.name)) {
        entry.previous = service->startType;
        std::set<std::wstring> seen;
        std::vector<std::wstring> pending = service->dependencies;
        while (!pending.empty()) {
            const std::wstring name = pending.back();
            pending.pop_back();
            if (!seen.insert(Lower(name)).second)
                continue;
            entry.dependsOn.push_back(name);
            if (const FakeService* dependency = FindService(name))
                pending.insert(pending.end(), dependency->dependencies.begin(), dependency->dependencies.end());
        }
    }
    return entry;
}

LedgerProcess FakePlatform::ProcessFacts(DWORD processId) const {
    LedgerProcess process;
    process.id = processId;
    process.critical = criticalProcesses.count(processId) != 0;
    process.system = processId == 4;
    for (const FakeService& service : services) {
        if (service.status.dwProcessId != processId || service.status.dwCurrentState == SERVICE_STOPPED)
            continue;
        process.services.push_back(service.name);
        process.system = process.system || (service.status.dwServiceFlags & SERVICE_RUNS_IN_SYSTEM_PROCESS);
        process.rebootOnFailure = process.rebootOnFailure || HasRebootAction(service);
    }
    return process;
}

LedgerEntry FakePlatform::RegistryEntry(const char* call, HKEY key, const std::wstring& target) {
    MeetControlHandler();
    const auto machine = m_registryMachines.find(key);
    LedgerEntry entry = NewEntry(call, machine == m_registryMachines.end() ? std::wstring() : machine->second);
    entry.target = target;
    return entry;
}

SC_HANDLE FakePlatform::OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) {
    if (Fails("OpenServiceW"))
        return nullptr;
    serviceOpenings.push_back(access);
    serviceNamesOpened.push_back(serviceName ? serviceName : L"");
    if (ManagerAccess(manager) < 0)
        return nullptr;
    FakeService* service = serviceName ? FindService(serviceName) : nullptr;
    if (!service) {
        ::SetLastError(serviceName ? ERROR_SERVICE_DOES_NOT_EXIST : ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    // OpenService page: the access asked is checked against the service's security descriptor
    // as a whole, and a refusal is ERROR_ACCESS_DENIED.
    const auto refusedTogether = [access](DWORD rights) { return (access & rights) == rights; };
    if ((access & ~service->grantableAccess) ||
        std::any_of(service->refusedCombinations.begin(), service->refusedCombinations.end(), refusedTogether)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if ((access & ACCESS_SYSTEM_SECURITY) && !IsPrivilegeEnabled(L"SeSecurityPrivilege")) {
        ::SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return nullptr;
    }
    auto handle = static_cast<SC_HANDLE>(NewToken());
    m_serviceHandles[handle] = {service->name, access, m_managerMachines[manager]};
    return handle;
}

SC_HANDLE FakePlatform::CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName,
                                       DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                                       LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId,
                                       LPCWSTR dependencies, LPCWSTR serviceStartName, LPCWSTR) {
    LedgerEntry entry = ManagerEntry("CreateServiceW", manager);
    entry.target = serviceName ? serviceName : L"";
    return Recorded(entry, [&]() -> SC_HANDLE {
        if (Fails("CreateServiceW"))
            return nullptr;
        const long long managerAccess = ManagerAccess(manager);
        if (managerAccess < 0)
            return nullptr;
        if (!(managerAccess & SC_MANAGER_CREATE_SERVICE)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if (!serviceName || !*serviceName) {
            ::SetLastError(ERROR_INVALID_NAME);
            return nullptr;
        }
        // CreateServiceW: a name still held by a service marked for deletion gives
        // ERROR_SERVICE_MARKED_FOR_DELETE.
        if (const FakeService* existing = FindService(serviceName)) {
            ::SetLastError(existing->markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
            return nullptr;
        }
        FakeService& service = AddService(serviceName, serviceType);
        service.displayName = displayName ? displayName : serviceName;
        service.startType = startType;
        service.errorControl = errorControl;
        service.binaryPath = binaryPathName ? std::optional<std::wstring>(binaryPathName) : std::nullopt;
        if (loadOrderGroup)
            service.group = std::wstring(loadOrderGroup);
        if (tagId && loadOrderGroup && *loadOrderGroup)
            *tagId = service.tag = nextTag++;
        for (const wchar_t* p = dependencies; p && *p; p += std::wcslen(p) + 1)
            service.dependencies.emplace_back(p);
        if (serviceStartName)
            service.account = std::wstring(serviceStartName);
        auto handle = static_cast<SC_HANDLE>(NewToken());
        m_serviceHandles[handle] = {service.name, access, m_managerMachines[manager]};
        return handle;
    });
}

BOOL FakePlatform::DeleteService(SC_HANDLE handle) {
    LedgerEntry entry = ServiceEntry("DeleteService", handle);
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("DeleteService"))
            return FALSE;
        FakeService* service = ServiceFor(handle, DELETE);
        if (!service)
            return FALSE;
        // DeleteService page: the service is only marked; its entry goes when every handle to it is
        // closed and it is not running (see RemoveIfDeletable). The service manager's remote protocol
        // (RDeleteService) also disables a marked service, so that it can no longer be started.
        // Opening, querying and stopping it go on as before.
        if (service->markedForDeletion)
            return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
        service->markedForDeletion = true;
        service->startType = SERVICE_DISABLED;
        return TRUE;
    });
}

void FakePlatform::RemoveIfDeletable(const std::wstring& name) {
    FakeService* service = FindService(name);
    if (!service || !service->markedForDeletion || service->status.dwCurrentState != SERVICE_STOPPED)
        return;
    for (const auto& [handle, opened] : m_serviceHandles)
        if (SameName(opened.name, name.c_str()))
            return;
    services.erase(services.begin() + (service - services.data()));
}

BOOL FakePlatform::StartServiceW(SC_HANDLE handle, DWORD argumentCount, LPCWSTR* arguments) {
    LedgerEntry entry = ServiceEntry("StartServiceW", handle);
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("StartServiceW"))
            return FALSE;
        FakeService* service = ServiceFor(handle, SERVICE_START);
        if (!service)
            return FALSE;
        if (service->status.dwCurrentState != SERVICE_STOPPED)
            return Fail(ERROR_SERVICE_ALREADY_RUNNING);
        // StartService page: a service marked for deletion gives ERROR_SERVICE_MARKED_FOR_DELETE.
        if (service->markedForDeletion)
            return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
        if (service->startType == SERVICE_DISABLED)
            return Fail(ERROR_SERVICE_DISABLED);
        service->startArguments.assign(arguments, arguments + argumentCount);
        if (service->scriptedStatuses.empty()) {
            service->status.dwCurrentState = SERVICE_RUNNING;
            service->status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
            service->status.dwProcessId = 4000 + static_cast<DWORD>(service - services.data());
            runningProcesses.insert(service->status.dwProcessId);
        }
        return TRUE;
    });
}

namespace {

// What a control does to a service that nothing scripts, and the code of a refused one.
// ControlService: the codes that an application may send (the others are the system's own, such
// as SERVICE_CONTROL_SHUTDOWN, or undefined), and the acceptance each needs of the service.
bool IsSendableControl(DWORD control) {
    return (control >= SERVICE_CONTROL_STOP && control <= SERVICE_CONTROL_INTERROGATE) ||
           (control >= SERVICE_CONTROL_PARAMCHANGE && control <= SERVICE_CONTROL_NETBINDDISABLE) ||
           (control >= 128 && control <= 255);
}

DWORD AcceptanceOf(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_ACCEPT_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return SERVICE_ACCEPT_PAUSE_CONTINUE;
    case SERVICE_CONTROL_PARAMCHANGE:
        return SERVICE_ACCEPT_PARAMCHANGE;
    case SERVICE_CONTROL_NETBINDADD:
    case SERVICE_CONTROL_NETBINDREMOVE:
    case SERVICE_CONTROL_NETBINDENABLE:
    case SERVICE_CONTROL_NETBINDDISABLE:
        return SERVICE_ACCEPT_NETBINDCHANGE;
    default:
        return 0;
    }
}

DWORD ApplyControl(FakeService& service, DWORD control) {
    SERVICE_STATUS_PROCESS& status = service.status;
    if (control == SERVICE_CONTROL_INTERROGATE)
        return status.dwCurrentState == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SUCCESS;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SERVICE_NOT_ACTIVE;
    // ControlService page: no control reaches a service that is starting or stopping.
    if (status.dwCurrentState == SERVICE_START_PENDING || status.dwCurrentState == SERVICE_STOP_PENDING)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    const DWORD needed = AcceptanceOf(control);
    if (needed && !(status.dwControlsAccepted & needed))
        return ERROR_INVALID_SERVICE_CONTROL;
    if (!service.scriptedStatuses.empty())
        return ERROR_SUCCESS;
    if (control == SERVICE_CONTROL_STOP) {
        status.dwCurrentState = SERVICE_STOPPED;
        status.dwControlsAccepted = 0;
        status.dwProcessId = 0;
    } else if (control == SERVICE_CONTROL_PAUSE) {
        status.dwCurrentState = SERVICE_PAUSED;
    } else if (control == SERVICE_CONTROL_CONTINUE) {
        status.dwCurrentState = SERVICE_RUNNING;
    }
    return ERROR_SUCCESS;
}

DWORD ControlAccess(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE:
        return SERVICE_INTERROGATE;
    default:
        return control >= 128 ? SERVICE_USER_DEFINED_CONTROL : SERVICE_PAUSE_CONTINUE;
    }
}

} // namespace

BOOL FakePlatform::ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
    LedgerEntry entry = ServiceEntry("ControlService", handle);
    entry.detail = control;
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("ControlService"))
            return FALSE;
        if (!IsSendableControl(control))
            return Fail(ERROR_INVALID_PARAMETER);
        FakeService* service = ServiceFor(handle, ControlAccess(control));
        if (!service)
            return FALSE;
        // The manager refuses to stop a service that active services depend on.
        if (control == SERVICE_CONTROL_STOP && HasActiveDependents(service->name))
            return Fail(ERROR_DEPENDENT_SERVICES_RUNNING);
        service->controlsReceived.push_back(control);
        const DWORD outcome = ApplyControl(*service, control);
        *status = Short(service->status);
        return outcome == ERROR_SUCCESS ? TRUE : Fail(outcome);
    });
}

BOOL FakePlatform::QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
    SERVICE_STATUS_PROCESS full;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&full), sizeof full,
                              &needed))
        return FALSE;
    *status = Short(full);
    return TRUE;
}

BOOL FakePlatform::QueryServiceStatusEx(SC_HANDLE handle, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                                        LPDWORD needed) {
    if (Fails("QueryServiceStatusEx"))
        return FALSE;
    FakeService* service = ServiceFor(handle, SERVICE_QUERY_STATUS);
    if (!service)
        return FALSE;
    if (level != SC_STATUS_PROCESS_INFO)
        return Fail(ERROR_INVALID_LEVEL);
    *needed = sizeof(SERVICE_STATUS_PROCESS);
    if (size < sizeof(SERVICE_STATUS_PROCESS))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (!service->scriptedStatuses.empty()) {
        service->status = service->scriptedStatuses.front();
        service->scriptedStatuses.pop_front();
    }
    std::memcpy(buffer, &service->status, sizeof service->status);
    return TRUE;
}

BOOL FakePlatform::QueryServiceConfigW(SC_HANDLE handle, LPQUERY_SERVICE_CONFIGW config, DWORD size,
                                       LPDWORD needed) {
    if (Fails("QueryServiceConfigW"))
        return FALSE;
    FakeService* service = ServiceFor(handle, SERVICE_QUERY_CONFIG);
    if (!service)
        return FALSE;
    const std::optional<std::wstring> display(service->displayName);
    *needed = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + TextBytes(service->binaryPath) +
                                 TextBytes(service->group) + ListBytes(service->dependencies) +
                                 TextBytes(service->account) + TextBytes(display));
    if (!config || size < *needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    RecordWriter writer(reinterpret_cast<LPBYTE>(config), sizeof(QUERY_SERVICE_CONFIGW));
    config->dwServiceType = service->serviceType;
    config->dwStartType = service->startType;
    config->dwErrorControl = service->errorControl;
    config->lpBinaryPathName = writer.Text(service->binaryPath);
    config->lpLoadOrderGroup = writer.Text(service->group);
    config->dwTagId = service->tag;
    config->lpDependencies = writer.List(service->dependencies);
    config->lpServiceStartName = writer.Text(service->account);
    config->lpDisplayName = writer.Text(display);
    return TRUE;
}

BOOL FakePlatform::QueryServiceConfig2W(SC_HANDLE handle, DWORD level, LPBYTE buffer, DWORD size,
                                        LPDWORD needed) {
    if (Fails("QueryServiceConfig2W"))
        return FALSE;
    FakeService* service = ServiceFor(handle, SERVICE_QUERY_CONFIG);
    if (!service)
        return FALSE;
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        *needed = static_cast<DWORD>(sizeof(SERVICE_DESCRIPTIONW) + TextBytes(service->description));
        if (!buffer || size < *needed)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        RecordWriter writer(buffer, sizeof(SERVICE_DESCRIPTIONW));
        reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer)->lpDescription = writer.Text(service->description);
        return TRUE;
    }
    if (level == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
        *needed = sizeof(SERVICE_DELAYED_AUTO_START_INFO);
        if (!buffer || size < *needed)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(buffer)->fDelayedAutostart = service->delayedAutoStart;
        return TRUE;
    }
    if (level != SERVICE_CONFIG_FAILURE_ACTIONS)
        return Fail(ERROR_INVALID_LEVEL);
    const size_t actionBytes = service->actions.size() * sizeof(SC_ACTION);
    *needed = static_cast<DWORD>(sizeof(SERVICE_FAILURE_ACTIONSW) + actionBytes +
                                 TextBytes(service->rebootMessage) + TextBytes(service->command));
    if (!buffer || size < *needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* record = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
    auto* actions = reinterpret_cast<SC_ACTION*>(record + 1);
    std::copy(service->actions.begin(), service->actions.end(), actions);
    RecordWriter writer(buffer, sizeof(SERVICE_FAILURE_ACTIONSW) + actionBytes);
    record->dwResetPeriod = service->resetPeriod;
    record->lpRebootMsg = writer.Text(service->rebootMessage);
    record->lpCommand = writer.Text(service->command);
    record->cActions = static_cast<DWORD>(service->actions.size());
    record->lpsaActions = service->actions.empty() ? nullptr : actions;
    return TRUE;
}

BOOL FakePlatform::ChangeServiceConfigW(SC_HANDLE handle, DWORD serviceType, DWORD startType,
                                        DWORD errorControl, LPCWSTR binaryPathName, LPCWSTR loadOrderGroup,
                                        LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                                        LPCWSTR password, LPCWSTR displayName) {
    LedgerEntry entry = ServiceEntry("ChangeServiceConfigW", handle);
    entry.detail = startType;
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("ChangeServiceConfigW"))
            return FALSE;
        FakeService* service = ServiceFor(handle, SERVICE_CHANGE_CONFIG);
        if (!service)
            return FALSE;
        // ChangeServiceConfig page: a locked database, and a service marked for deletion, refuse.
        if (!lockedByOther.empty())
            return Fail(ERROR_SERVICE_DATABASE_LOCKED);
        if (service->markedForDeletion)
            return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
        lastConfigChange = ConfigChange{Optional(binaryPathName), tagId != nullptr, Optional(password)};
        if (serviceType != SERVICE_NO_CHANGE)
            service->serviceType = service->status.dwServiceType = serviceType;
        if (startType != SERVICE_NO_CHANGE)
            service->startType = startType;
        if (errorControl != SERVICE_NO_CHANGE)
            service->errorControl = errorControl;
        if (binaryPathName)
            service->binaryPath = std::wstring(binaryPathName);
        if (loadOrderGroup)
            service->group = std::wstring(loadOrderGroup);
        if (tagId && loadOrderGroup && *loadOrderGroup)
            *tagId = service->tag = nextTag++;
        if (dependencies) {
            service->dependencies.clear();
            for (const wchar_t* p = dependencies; *p; p += std::wcslen(p) + 1)
                service->dependencies.emplace_back(p);
        }
        if (serviceStartName)
            service->account = std::wstring(serviceStartName);
        if (displayName)
            service->displayName = displayName;
        return TRUE;
    });
}

BOOL FakePlatform::ChangeServiceConfig2W(SC_HANDLE handle, DWORD level, LPVOID info) {
    LedgerEntry entry = ServiceEntry("ChangeServiceConfig2W", handle);
    entry.detail = level;
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("ChangeServiceConfig2W"))
            return FALSE;
        FakeService* service = ServiceFor(handle, SERVICE_CHANGE_CONFIG);
        if (!service)
            return FALSE;
        // The service manager's remote protocol (RChangeServiceConfig2W) refuses a marked service.
        if (service->markedForDeletion)
            return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
        shutdownPrivilegeEnabledDuringChange =
            shutdownPrivilegeEnabledDuringChange || IsPrivilegeEnabled(L"SeShutdownPrivilege");
        if (level == SERVICE_CONFIG_DESCRIPTION) {
            const wchar_t* text = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
            if (text)
                service->description = *text ? std::optional<std::wstring>(text) : std::nullopt;
            return TRUE;
        }
        // SERVICE_DELAYED_AUTO_START_INFO page: kept for any service, used for automatic ones.
        if (level == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
            service->delayedAutoStart = static_cast<SERVICE_DELAYED_AUTO_START_INFO*>(info)->fDelayedAutostart != FALSE;
            return TRUE;
        }
        if (level != SERVICE_CONFIG_FAILURE_ACTIONS)
            return Fail(ERROR_INVALID_LEVEL);
        // SERVICE_FAILURE_ACTIONS page: without an action array the count and the reset period are
        // ignored; a count of 0 with an array deletes the reset period and the actions.
        const auto* record = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        if (record->lpRebootMsg)
            service->rebootMessage = std::wstring(record->lpRebootMsg);
        if (record->lpCommand)
            service->command = std::wstring(record->lpCommand);
        if (record->lpsaActions) {
            service->resetPeriod = record->cActions == 0 ? 0 : record->dwResetPeriod;
            service->actions.assign(record->lpsaActions, record->lpsaActions + record->cActions);
        }
        return TRUE;
    });
}

// A depth-first walk that lists a service after everything that depends on it, whatever its
// state: a stopped dependent does not hide the running services that depend on it. `seen` holds
// the services already reached (and the one asked about), so that a dependency loop ends.
void FakePlatform::CollectDependents(const std::wstring& name, std::set<const FakeService*>& seen,
                                     std::vector<const FakeService*>& found) const {
    for (const FakeService& other : services) {
        const bool dependsOnName = std::any_of(other.dependencies.begin(), other.dependencies.end(),
                                               [&](const std::wstring& dependency) {
                                                   return SameName(dependency, name.c_str());
                                               });
        if (!dependsOnName || !seen.insert(&other).second)
            continue;
        CollectDependents(other.name, seen, found);
        found.push_back(&other);
    }
}

bool FakePlatform::HasActiveDependents(const std::wstring& name) const {
    for (const FakeService& other : services)
        for (const std::wstring& dependency : other.dependencies)
            if (SameName(dependency, name.c_str()) && InState(other, SERVICE_ACTIVE))
                return true;
    return false;
}

BOOL FakePlatform::EnumDependentServicesW(SC_HANDLE handle, DWORD state, LPENUM_SERVICE_STATUSW buffer,
                                          DWORD size, LPDWORD needed, LPDWORD returned) {
    if (Fails("EnumDependentServicesW"))
        return FALSE;
    FakeService* service = ServiceFor(handle, SERVICE_ENUMERATE_DEPENDENTS);
    if (!service)
        return FALSE;
    // EnumDependentServicesW page: every dependent, direct or not, in the reverse of the start
    // order (the first one listed would start last).
    std::vector<const FakeService*> dependents;
    std::set<const FakeService*> seen = {service};
    CollectDependents(service->name, seen, dependents);
    dependents.erase(std::remove_if(dependents.begin(), dependents.end(),
                                    [state](const FakeService* dependent) { return !InState(*dependent, state); }),
                     dependents.end());
    size_t bytes = dependents.size() * sizeof(ENUM_SERVICE_STATUSW);
    for (const FakeService* dependent : dependents)
        bytes += TextBytes(dependent->name) + TextBytes(dependent->displayName);
    *needed = static_cast<DWORD>(bytes);
    *returned = 0;
    if (size < bytes)
        return Fail(ERROR_MORE_DATA);
    RecordWriter writer(reinterpret_cast<LPBYTE>(buffer), dependents.size() * sizeof(ENUM_SERVICE_STATUSW));
    for (const FakeService* dependent : dependents) {
        ENUM_SERVICE_STATUSW& record = buffer[(*returned)++];
        record.lpServiceName = writer.Text(dependent->name);
        record.lpDisplayName = writer.Text(dependent->displayName);
        FillRecord(record, *dependent);
    }
    return TRUE;
}

namespace {

// Key and display names: a size query reports the length without the terminator.
BOOL TranslateName(const std::wstring* found, LPWSTR buffer, LPDWORD size) {
    if (!found) {
        *size = 0;
        ::SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    if (!buffer || *size <= found->size()) {
        *size = static_cast<DWORD>(found->size());
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::wmemcpy(buffer, found->c_str(), found->size() + 1);
    *size = static_cast<DWORD>(found->size());
    return TRUE;
}

} // namespace

// GetServiceKeyNameW and GetServiceDisplayNameW pages: any manager handle; they name no right.
BOOL FakePlatform::GetServiceKeyNameW(SC_HANDLE manager, LPCWSTR displayName, LPWSTR keyName, LPDWORD size) {
    if (Fails("GetServiceKeyNameW") || ManagerAccess(manager) < 0)
        return FALSE;
    const std::wstring* found = nullptr;
    for (const FakeService& service : services)
        if (SameName(service.displayName, displayName))
            found = &service.name;
    return TranslateName(found, keyName, size);
}

BOOL FakePlatform::GetServiceDisplayNameW(SC_HANDLE manager, LPCWSTR keyName, LPWSTR displayName,
                                          LPDWORD size) {
    if (Fails("GetServiceDisplayNameW") || ManagerAccess(manager) < 0)
        return FALSE;
    FakeService* service = keyName ? FindService(keyName) : nullptr;
    return TranslateName(service ? &service->displayName : nullptr, displayName, size);
}

namespace {

size_t EnumerationBytes(const FakeService& service, size_t recordSize) {
    return recordSize + TextBytes(service.name) + TextBytes(service.displayName);
}

} // namespace

// EnumServicesStatusExW page: a call returns at most 256 KB of records. When more remain it fails
// with ERROR_MORE_DATA, keeps the records that fit, reports in `needed` the bytes of the remaining
// ones and in the resume handle the next one to read, where the next call starts. The resume
// handle is a position in the database order: 0 starts at the beginning, and a call that reads to
// the end sets it back to 0.
template <typename Record>
BOOL FakePlatform::Enumerate(DWORD serviceType, DWORD serviceState, LPCWSTR group, LPBYTE buffer, DWORD size,
                             LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle) {
    if (buffer && size != 0) {
        for (auto name = servicesAddedBeforeNextEnumerationRead.rbegin();
             name != servicesAddedBeforeNextEnumerationRead.rend(); ++name) {
            AddService(*name);
            std::rotate(services.begin(), services.end() - 1, services.end());
        }
        servicesAddedBeforeNextEnumerationRead.clear();
    }
    std::vector<size_t> matching;
    for (size_t i = resumeHandle ? *resumeHandle : 0; i < services.size(); ++i) {
        const FakeService& service = services[i];
        const bool groupMatches = !group || (*group ? service.group && SameName(*service.group, group)
                                                    : !service.group || service.group->empty());
        if ((service.serviceType & serviceType) && InState(service, serviceState) && groupMatches)
            matching.push_back(i);
    }
    const size_t room = buffer ? std::min<size_t>(size, MaximumEnumerationBytes) : 0;
    size_t fitting = 0, used = 0;
    while (fitting < matching.size() &&
           used + EnumerationBytes(services[matching[fitting]], sizeof(Record)) <= room)
        used += EnumerationBytes(services[matching[fitting++]], sizeof(Record));
    auto* records = reinterpret_cast<Record*>(buffer);
    RecordWriter writer(buffer, fitting * sizeof(Record));
    for (*returned = 0; *returned < fitting; ++*returned) {
        const FakeService& service = services[matching[*returned]];
        Record& record = records[*returned];
        record.lpServiceName = writer.Text(service.name);
        record.lpDisplayName = writer.Text(service.displayName);
        FillRecord(record, service);
    }
    size_t remaining = 0;
    for (size_t i = fitting; i < matching.size(); ++i)
        remaining += EnumerationBytes(services[matching[i]], sizeof(Record));
    *needed = static_cast<DWORD>(remaining);
    if (resumeHandle)
        *resumeHandle = fitting < matching.size() ? static_cast<DWORD>(matching[fitting]) : 0;
    return fitting < matching.size() ? Fail(ERROR_MORE_DATA) : TRUE;
}

// EnumServicesStatusExW page: the manager handle must have SC_MANAGER_ENUMERATE_SERVICE.
bool FakePlatform::MayEnumerate(SC_HANDLE manager) {
    const long long access = ManagerAccess(manager);
    if (access < 0)
        return false;
    if (!(access & SC_MANAGER_ENUMERATE_SERVICE)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

BOOL FakePlatform::EnumServicesStatusExW(SC_HANDLE manager, SC_ENUM_TYPE level, DWORD serviceType,
                                         DWORD serviceState, LPBYTE buffer, DWORD size, LPDWORD needed,
                                         LPDWORD returned, LPDWORD resumeHandle, LPCWSTR group) {
    if (Fails("EnumServicesStatusExW") || !MayEnumerate(manager))
        return FALSE;
    if (level != SC_ENUM_PROCESS_INFO)
        return Fail(ERROR_INVALID_LEVEL);
    return Enumerate<ENUM_SERVICE_STATUS_PROCESSW>(serviceType, serviceState, group, buffer, size, needed,
                                                   returned, resumeHandle);
}

// Not documented: the same contract as EnumServicesStatusExW, with the shorter records. The
// service manager's remote protocol (REnumServiceGroupW) asks the same SC_MANAGER_ENUMERATE_SERVICE.
BOOL FakePlatform::EnumServiceGroupW(SC_HANDLE manager, DWORD serviceType, DWORD serviceState,
                                     LPENUM_SERVICE_STATUSW buffer, DWORD size, LPDWORD needed,
                                     LPDWORD returned, LPDWORD resumeHandle, LPCWSTR group) {
    if (Fails("EnumServiceGroupW") || !MayEnumerate(manager))
        return FALSE;
    return Enumerate<ENUM_SERVICE_STATUSW>(serviceType, serviceState, group, reinterpret_cast<LPBYTE>(buffer),
                                           size, needed, returned, resumeHandle);
}

void FakePlatform::SetRegistryString(const std::wstring& keyPath, const std::wstring& name,
                                     const std::wstring& text, DWORD type) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    registry[Lower(keyPath)][Lower(name)] = {
        type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

const std::wstring& FakePlatform::KeyPath(HKEY key) const {
    static const std::wstring localMachine = L"hklm", unknown;
    if (key == HKEY_LOCAL_MACHINE)
        return localMachine;
    auto found = m_registryKeys.find(key);
    return found == m_registryKeys.end() ? unknown : found->second;
}

// A remote registry is modelled as the same registry as the local one.
LSTATUS FakePlatform::RegConnectRegistryW(LPCWSTR machineName, HKEY root, PHKEY result) {
    if (const LSTATUS injected = RegistryFailure("RegConnectRegistryW"))
        return injected;
    const std::wstring machine = machineName ? machineName : L"";
    registryConnections.push_back(machine);
    if (unreachableMachines.count(machine.substr(machine.find_first_not_of(L'\\') == std::wstring::npos
                                                     ? machine.size()
                                                     : machine.find_first_not_of(L'\\'))))
        return ERROR_BAD_NETPATH;
    *result = static_cast<HKEY>(NewToken());
    m_registryKeys[*result] = KeyPath(root);
    m_registryMachines[*result] = machine.substr(std::min(machine.size(), machine.find_first_not_of(L'\\')));
    return ERROR_SUCCESS;
}

// "Registry Redirector": a 32-bit program on 64-bit Windows that opens a key under
// HKEY_LOCAL_MACHINE\Software reaches its 32-bit copy under WOW6432Node, unless it asks for the
// 64-bit view.
std::wstring FakePlatform::RegistryView(std::wstring path, REGSAM access) const {
    const std::wstring software = L"hklm\\software";
    if (!wow64Process || (access & KEY_WOW64_64KEY) || path.compare(0, software.size(), software) != 0 ||
        (path.size() > software.size() && path[software.size()] != L'\\'))
        return path;
    return path.insert(software.size(), L"\\wow6432node");
}

LSTATUS FakePlatform::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (const LSTATUS injected = RegistryFailure("RegOpenKeyExW"))
        return injected;
    const std::wstring base = KeyPath(key);
    if (base.empty())
        return ERROR_INVALID_HANDLE;
    const std::wstring path = RegistryView(subKey && *subKey ? base + L"\\" + Lower(subKey) : base, access);
    if (!registry.count(path) && path != L"hklm")
        return ERROR_FILE_NOT_FOUND;
    *result = static_cast<HKEY>(NewToken());
    m_registryKeys[*result] = path;
    m_registryMachines[*result] = m_registryMachines[key];
    return ERROR_SUCCESS;
}

LSTATUS FakePlatform::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                                      const LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    const std::wstring base = KeyPath(key);
    const std::wstring path = subKey && *subKey ? base + L"\\" + Lower(subKey) : base;
    LedgerEntry entry = RegistryEntry("RegCreateKeyExW", key, path);
    if (const LSTATUS injected = RegistryFailure("RegCreateKeyExW"))
        return RecordedRegistry(entry, injected);
    if (base.empty())
        return RecordedRegistry(entry, ERROR_INVALID_HANDLE);
    if (disposition)
        *disposition = registry.count(path) ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    registry[path];
    *result = static_cast<HKEY>(NewToken());
    m_registryKeys[*result] = path;
    m_registryMachines[*result] = m_registryMachines[key];
    return RecordedRegistry(entry, ERROR_SUCCESS);
}

LSTATUS FakePlatform::RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                                       LPDWORD size) {
    if (const LSTATUS injected = RegistryFailure("RegQueryValueExW"))
        return injected;
    auto keyFound = registry.find(KeyPath(key));
    if (keyFound == registry.end())
        return ERROR_INVALID_HANDLE;
    auto valueFound = keyFound->second.find(Lower(valueName ? valueName : L""));
    if (valueFound == keyFound->second.end())
        return ERROR_FILE_NOT_FOUND;
    const RegistryValue& value = valueFound->second;
    if (type)
        *type = value.type;
    const DWORD available = size ? *size : 0;
    if (size)
        *size = static_cast<DWORD>(value.data.size());
    if (!data)
        return ERROR_SUCCESS;
    if (available < value.data.size())
        return ERROR_MORE_DATA;
    std::copy(value.data.begin(), value.data.end(), data);
    return ERROR_SUCCESS;
}

LSTATUS FakePlatform::RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                                     DWORD size) {
    const std::wstring name = Lower(valueName ? valueName : L"");
    LedgerEntry entry = RegistryEntry("RegSetValueExW", key, KeyPath(key) + L"\\" + name);
    if (const LSTATUS injected = RegistryFailure("RegSetValueExW"))
        return RecordedRegistry(entry, injected);
    auto keyFound = registry.find(KeyPath(key));
    if (keyFound == registry.end())
        return RecordedRegistry(entry, ERROR_INVALID_HANDLE);
    RegistryValue& value = keyFound->second[name];
    entry.dataBefore = value.data;
    value = {type, std::vector<BYTE>(data, data + size)};
    entry.dataAfter = value.data;
    return RecordedRegistry(entry, ERROR_SUCCESS);
}

// Predefined root keys close without complaint, as on the platform.
LSTATUS FakePlatform::RegCloseKey(HKEY key) {
    if (const LSTATUS injected = RegistryFailure("RegCloseKey"))
        return injected;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_PERFORMANCE_DATA,
                      HKEY_CURRENT_CONFIG, HKEY_DYN_DATA})
        if (key == root)
            return ERROR_SUCCESS;
    m_registryMachines.erase(key);
    return m_registryKeys.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

bool FakePlatform::IsSystemServiceProcess(DWORD processId) const {
    for (const FakeService& service : services)
        if (service.status.dwProcessId == processId &&
            (!service.account || SameName(*service.account, L"LocalSystem")))
            return true;
    return false;
}

// OpenProcess page: the idle process (0) gives ERROR_INVALID_PARAMETER; the system process (4)
// and the client-server runtime processes give ERROR_ACCESS_DENIED, whatever the privileges, and
// so do protected processes here. The process of a service that runs as LocalSystem is protected
// by the system's security: only a token with SeDebugPrivilege enabled may open it to end it.
HANDLE FakePlatform::OpenProcess(DWORD access, BOOL, DWORD processId) {
    if (Fails("OpenProcess"))
        return nullptr;
    if (processId == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (processId == 4 || unopenableProcesses.count(processId)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!runningProcesses.count(processId)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((access & PROCESS_TERMINATE) && IsSystemServiceProcess(processId) &&
        !IsPrivilegeEnabled(L"SeDebugPrivilege")) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HANDLE process = NewToken();
    m_processHandles[process] = {processId, access};
    return process;
}

BOOL FakePlatform::TerminateProcess(HANDLE process, UINT exitCode) {
    LedgerEntry entry = NewEntry("TerminateProcess", L"");
    const auto held = m_processHandles.find(process);
    if (held != m_processHandles.end()) {
        entry.target = std::to_wstring(held->second.processId);
        entry.processes.push_back(ProcessFacts(held->second.processId));
    }
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("TerminateProcess"))
            return FALSE;
        auto found = m_processHandles.find(process);
        if (found == m_processHandles.end())
            return Fail(ERROR_INVALID_HANDLE);
        if (!(found->second.access & PROCESS_TERMINATE))
            return Fail(ERROR_ACCESS_DENIED);
        const DWORD processId = found->second.processId;
        terminatedProcesses.emplace_back(processId, exitCode);
        // IsProcessCritical page: a critical process is one whose end stops the system.
        if (criticalProcesses.count(processId))
            machineStopped = true;
        EndProcess(processId);
        return TRUE;
    });
}

// IsProcessCritical page: the handle needs PROCESS_QUERY_LIMITED_INFORMATION.
BOOL FakePlatform::IsProcessCritical(HANDLE process, PBOOL critical) {
    if (Fails("IsProcessCritical"))
        return FALSE;
    if (!hasIsProcessCritical)
        return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    auto found = m_processHandles.find(process);
    if (found == m_processHandles.end())
        return Fail(ERROR_INVALID_HANDLE);
    if (!(found->second.access & (PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION)))
        return Fail(ERROR_ACCESS_DENIED);
    *critical = criticalProcesses.count(found->second.processId) ? TRUE : FALSE;
    return TRUE;
}

// A service whose process ends without its reporting SERVICE_STOPPED has failed: the manager
// shows it stopped and runs its failure actions (SERVICE_FAILURE_ACTIONS page).
void FakePlatform::EndProcess(DWORD processId) {
    runningProcesses.erase(processId);
    for (FakeService& service : services) {
        if (service.status.dwProcessId != processId || service.status.dwCurrentState == SERVICE_STOPPED)
            continue;
        service.scriptedStatuses.clear();
        service.status = {service.serviceType, SERVICE_STOPPED, 0, ERROR_PROCESS_ABORTED, 0, 0, 0, 0, 0};
        failureActionsRun.push_back(service.name);
    }
}

void FakePlatform::ReuseProcessId(DWORD processId) {
    EndProcess(processId);
    runningProcesses.insert(processId);
}

namespace {

// What InitializeProcThreadAttributeList lays out in the caller's block: the handle list alone.
struct FakeAttributeList {
    static constexpr DWORD Initialized = 0x4C495354;
    DWORD state;
    DWORD handleCount;
    HANDLE handles[4];
};

} // namespace

// InitializeProcThreadAttributeList page: called without a list, it fails with
// ERROR_INSUFFICIENT_BUFFER and gives the size the list needs.
BOOL FakePlatform::InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD, DWORD,
                                                      PSIZE_T size) {
    if (Fails("InitializeProcThreadAttributeList"))
        return FALSE;
    const SIZE_T needed = sizeof(FakeAttributeList);
    if (!list || *size < needed) {
        *size = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    *reinterpret_cast<FakeAttributeList*>(list) = {FakeAttributeList::Initialized, 0, {}};
    return TRUE;
}

// UpdateProcThreadAttribute page: the handle list is an array of handles, its size in bytes.
BOOL FakePlatform::UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD, DWORD_PTR attribute,
                                             PVOID value, SIZE_T size, PVOID, PSIZE_T) {
    if (Fails("UpdateProcThreadAttribute"))
        return FALSE;
    auto* fake = reinterpret_cast<FakeAttributeList*>(list);
    const SIZE_T count = size / sizeof(HANDLE);
    if (attribute != PROC_THREAD_ATTRIBUTE_HANDLE_LIST || fake->state != FakeAttributeList::Initialized ||
        size % sizeof(HANDLE) != 0 || count == 0 || count > 4)
        return Fail(ERROR_INVALID_PARAMETER);
    fake->handleCount = static_cast<DWORD>(count);
    std::memcpy(fake->handles, value, size);
    return TRUE;
}

void FakePlatform::DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) {
    reinterpret_cast<FakeAttributeList*>(list)->state = 0;
}

// UpdateProcThreadAttribute page: the handles of the list must have been created inheritable.
std::optional<std::vector<HANDLE>> FakePlatform::InheritedBy(DWORD creationFlags, LPSTARTUPINFOW startupInfo) const {
    if (!(creationFlags & EXTENDED_STARTUPINFO_PRESENT))
        return std::vector<HANDLE>(m_inheritable.begin(), m_inheritable.end());
    const auto* list =
        reinterpret_cast<const FakeAttributeList*>(reinterpret_cast<LPSTARTUPINFOEXW>(startupInfo)->lpAttributeList);
    if (!list || list->state != FakeAttributeList::Initialized) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    std::vector<HANDLE> handles(list->handles, list->handles + list->handleCount);
    for (HANDLE handle : handles) {
        if (!m_inheritable.count(handle)) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return std::nullopt;
        }
    }
    return handles;
}

// CreateProcessW page: a child inherits only when `inheritHandles` is set.
BOOL FakePlatform::CreateProcessW(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                  BOOL inheritHandles, DWORD creationFlags, LPVOID, LPCWSTR,
                                  LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION information) {
    LedgerEntry entry = NewEntry("CreateProcessW", L"");
    entry.commandLine = commandLine ? commandLine : L"";
    entry.target = entry.commandLine;
    for (DWORD processId : NumbersIn(entry.commandLine))
        entry.processes.push_back(ProcessFacts(processId));
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("CreateProcessW"))
            return FALSE;
        std::optional<std::vector<HANDLE>> inherited = std::vector<HANDLE>();
        if (inheritHandles && !(inherited = InheritedBy(creationFlags, startupInfo)))
            return FALSE;
        startedInheritance.push_back(*inherited);
        startedCommandLines.emplace_back(commandLine ? commandLine : L"");
        information->dwProcessId = 7000 + static_cast<DWORD>(startedCommandLines.size());
        information->dwThreadId = information->dwProcessId + 1;
        information->hProcess = NewToken();
        m_processHandles[information->hProcess] = {information->dwProcessId, PROCESS_ALL_ACCESS};
        information->hThread = NewHandle(HandleKind::Other);
        return TRUE;
    });
}

HANDLE FakePlatform::CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL, BOOL, LPCWSTR) {
    if (Fails("CreateEventW"))
        return nullptr;
    HANDLE event = NewHandle(HandleKind::Other);
    if (attributes && attributes->bInheritHandle)
        m_inheritable.insert(event);
    return event;
}
