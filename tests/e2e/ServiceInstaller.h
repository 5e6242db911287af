#pragma once
// Installs the project's test service in the local service control manager for the length of a
// test. Whatever happens in the test, the destructor stops the service (ending its process if it
// will not stop) and deletes it, so no test leaves a service behind. Tests that may run at the
// same time must use different service names.

#include <windows.h>

#include <string>
#include <vector>

#include "HandleGuard.h"

// The binary path of QuorvanTestService.exe (next to the test program) with `switches`.
std::wstring TestServiceCommandLine(const std::vector<std::wstring>& switches);

class InstalledTestService {
public:
    // Creates the service `name` running the test service with `switches`. A service of that name
    // left behind by an earlier, interrupted run is removed first. Failure fails the current test
    // and leaves installed() false.
    InstalledTestService(const std::wstring& name, const std::vector<std::wstring>& switches,
                         DWORD startType = SERVICE_DEMAND_START, const wchar_t* dependencies = nullptr);
    ~InstalledTestService();
    InstalledTestService(const InstalledTestService&) = delete;
    InstalledTestService& operator=(const InstalledTestService&) = delete;

    bool installed() const { return static_cast<bool>(m_service); }
    const std::wstring& name() const { return m_name; }
    // Opened with SERVICE_ALL_ACCESS; owned by this object.
    SC_HANDLE handle() const { return m_service.get(); }

private:
    std::wstring m_name;
    UniqueServiceHandle m_manager;
    UniqueServiceHandle m_service;
};

// Polls the service's status until it is `state` or `timeoutMs` has passed; `last` receives the
// last status read. False on a time-out or a failed read.
bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS& last);

// QueryServiceStatusEx at the process level; false (with the last error set) when it fails.
bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status);
