#include "ServiceInstaller.h"

#include <gtest/gtest.h>

#include "TestEnvironment.h"

namespace {

const DWORD kPollIntervalMs = 50;
const DWORD kStopTimeoutMs = 15000;
const DWORD kProcessEndTimeoutMs = 10000;

void EndProcess(DWORD processId) {
    UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (process) {
        TerminateProcess(process.get(), ERROR_TIMEOUT);
        WaitForSingleObject(process.get(), kProcessEndTimeoutMs);
    }
}

// A service that accepts stop is asked to; one that refuses, or is already stuck in a pending
// state, loses its process at once rather than making every cleanup wait. The control manager
// need not notice that end before the deletion (Wine's keeps showing the last state reported).
void BringToStop(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status = {};
    if (!QueryStatus(service, status) || status.dwCurrentState == SERVICE_STOPPED) {
        return;
    }
    SERVICE_STATUS ignored;
    bool stopped = (status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0 &&
                   ControlService(service, SERVICE_CONTROL_STOP, &ignored) &&
                   WaitForServiceState(service, SERVICE_STOPPED, kStopTimeoutMs, status);
    if (!stopped && status.dwProcessId != 0) {
        EndProcess(status.dwProcessId);
    }
}

// Deletion completes once the last handle is closed; the name is then free for the next test.
void WaitUntilGone(SC_HANDLE manager, const std::wstring& name) {
    for (DWORD waited = 0; waited < kStopTimeoutMs; waited += kPollIntervalMs) {
        UniqueServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS));
        if (!service) {
            return;
        }
        Sleep(kPollIntervalMs);
    }
    ADD_FAILURE() << "the test service " << testing::PrintToString(name) << " is still installed";
}

void Remove(SC_HANDLE manager, UniqueServiceHandle service, const std::wstring& name) {
    BringToStop(service.get());
    if (!DeleteService(service.get())) {
        ADD_FAILURE() << "DeleteService failed for " << testing::PrintToString(name) << ", error "
                      << GetLastError();
    }
    service.reset();
    WaitUntilGone(manager, name);
}

void RemoveLeftover(SC_HANDLE manager, const std::wstring& name) {
    UniqueServiceHandle leftover(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
    if (leftover) {
        Remove(manager, std::move(leftover), name);
    }
}

} // namespace

std::wstring TestServiceCommandLine(const std::vector<std::wstring>& switches) {
    return JoinCommandLine(DirectoryOfThisProgram() + L"\\QuorvanTestService.exe", switches);
}

InstalledTestService::InstalledTestService(const std::wstring& name,
                                           const std::vector<std::wstring>& switches, DWORD startType,
                                           const wchar_t* dependencies)
    : m_name(name), m_manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    if (!m_manager) {
        ADD_FAILURE() << "OpenSCManagerW failed, error " << GetLastError();
        return;
    }
    RemoveLeftover(m_manager.get(), name);
    const std::wstring binaryPath = TestServiceCommandLine(switches);
    m_service.reset(CreateServiceW(m_manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                   binaryPath.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr));
    if (!m_service) {
        ADD_FAILURE() << "CreateServiceW failed for " << testing::PrintToString(name) << ", error "
                      << GetLastError();
    }
}

InstalledTestService::~InstalledTestService() {
    if (m_service) {
        Remove(m_manager.get(), std::move(m_service), m_name);
    }
}

bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS& last) {
    for (DWORD waited = 0;; waited += kPollIntervalMs) {
        if (!QueryStatus(service, last)) {
            return false;
        }
        if (last.dwCurrentState == state) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(kPollIntervalMs);
    }
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof status, &needed) != FALSE;
}
