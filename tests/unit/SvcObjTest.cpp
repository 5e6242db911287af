#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "Memory.h"
#include "OutputCapture.h"
#include "SvcCtrlMgr.h"
#include "SvcObj.h"

using namespace ServicesManagement;

namespace {

// A value no platform call leaves behind: it shows what an operation did to the last-error value.
const DWORD Marker = 0xBEEF;
void* const Untouched = reinterpret_cast<void*>(0x1234);
const wchar_t DebuggerKey[] = L"hklm\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";

// A running service "Spooler" with a running dependent "Fax", and a driver "Beep".
class SvcObjTest : public ::testing::Test {
protected:
    SvcObjTest() {
        fake.AddService(L"Spooler").status = {
            SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 3, 0, 0, 0, 0, 4242, 0};
        fake.AddService(L"Fax").dependencies = {L"Spooler"};
        fake.FindService(L"Fax")->status.dwCurrentState = SERVICE_RUNNING;
        fake.AddService(L"Beep", SERVICE_KERNEL_DRIVER);
    }
    void TearDown() override {
        service.reset();
        driver.reset();
        manager.reset();
        EXPECT_EQ(fake.OpenServiceHandles(), 0u) << "service handles left open";
        EXPECT_EQ(fake.OpenHandles(), 0u) << "events, processes or threads left open";
        EXPECT_EQ(fake.OpenRegistryKeys(), 0u) << "registry keys left open";
    }
    FakeService& Spooler() { return *fake.FindService(L"Spooler"); }

    FakePlatform fake;
    std::unique_ptr<CSvcCtrlMgr> manager =
        std::make_unique<CSvcCtrlMgr>(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::unique_ptr<CSvcObj> service = std::make_unique<CService>(manager.get(), L"Spooler");
    std::unique_ptr<CSvcObj> driver = std::make_unique<CDriver>(manager.get(), L"Beep");
};

using Operation = std::function<int(CSvcObj&, void** out)>;

template <typename Record> Record** As(void** out) {
    return reinterpret_cast<Record**>(out);
}
Operation QuerySecurity(unsigned long information) {
    return [information](CSvcObj& s, void** out) { return s.QuerySecurity(information, out); };
}
Operation SetSecurity(unsigned long information) {
    return [information](CSvcObj& s, void**) {
        BYTE descriptor[20] = {};
        return s.SetSecurity(information, descriptor);
    };
}

TEST_F(SvcObjTest, EachOperationOpensWithItsRightsAndKeepsTheLastErrorOrReportsTheFailingCall) {
    const struct {
        const char* label;
        DWORD access;
        // The read after the open of the operations that hand out a block (else null).
        const char* read;
        // Which call of `read` to fail, and how many from there, for the read to fail: a record
        // that usually fits is read first into the usual block; the others ask for the size first.
        int failingCall;
        int failures;
        Operation run;
    } operations[] = {
        {"QueryStatus", SERVICE_QUERY_STATUS, "QueryServiceStatusEx", 1, 1,
         [](CSvcObj& s, void** out) { return s.QueryStatus(As<SERVICE_STATUS_PROCESS>(out)); }},
        {"Interrogate to a block", SERVICE_QUERY_STATUS, "QueryServiceStatusEx", 1, 1,
         [](CSvcObj& s, void** out) { return s.Interrogate(As<SERVICE_STATUS_PROCESS>(out)); }},
        {"FastQueryStatus", SERVICE_QUERY_STATUS, nullptr, 0, 0,
         [](CSvcObj& s, void**) {
             SERVICE_STATUS_PROCESS status;
             return s.FastQueryStatus(&status);
         }},
        {"Interrogate", SERVICE_INTERROGATE, nullptr, 0, 0,
         [](CSvcObj& s, void**) {
             SERVICE_STATUS status;
             return s.Interrogate(&status);
         }},
        {"QueryConfig", SERVICE_QUERY_CONFIG, "QueryServiceConfigW", 1, 1,
         [](CSvcObj& s, void** out) { return s.QueryConfig(As<QUERY_SERVICE_CONFIGW>(out)); }},
        // Any failure of its first call goes on to the read.
        {"QueryConfig2", SERVICE_QUERY_CONFIG, "QueryServiceConfig2W", 1, 2,
         [](CSvcObj& s, void** out) { return s.QueryConfig2(out, ConfigInfoDescription); }},
        {"ChangeConfig", SERVICE_CHANGE_CONFIG, nullptr, 0, 0,
         [](CSvcObj& s, void**) {
             return s.ChangeConfig(SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"ChangeConfig2", SERVICE_CHANGE_CONFIG, nullptr, 0, 0,
         [](CSvcObj& s, void**) {
             SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(L"Imprime.")};
             return s.ChangeConfig2(&description, ConfigInfoDescription);
         }},
        {"EnumDependentServicesW", SERVICE_ENUMERATE_DEPENDENTS, "EnumDependentServicesW", 2, 1,
         [](CSvcObj& s, void** out) {
             return s.EnumDependentServicesW(3, As<ENUM_SERVICE_STATUSW>(out), nullptr);
         }},
        {"QuerySecurity owner", READ_CONTROL, "QueryServiceObjectSecurity", 2, 1,
         QuerySecurity(OWNER_SECURITY_INFORMATION)},
        {"QuerySecurity group", READ_CONTROL, "QueryServiceObjectSecurity", 2, 1,
         QuerySecurity(GROUP_SECURITY_INFORMATION)},
        {"QuerySecurity dacl", READ_CONTROL, "QueryServiceObjectSecurity", 2, 1,
         QuerySecurity(DACL_SECURITY_INFORMATION)},
        {"QuerySecurity sacl", ACCESS_SYSTEM_SECURITY, "QueryServiceObjectSecurity", 2, 1,
         QuerySecurity(SACL_SECURITY_INFORMATION)},
        {"SetSecurity owner", WRITE_OWNER, nullptr, 0, 0, SetSecurity(OWNER_SECURITY_INFORMATION)},
        {"SetSecurity group", WRITE_OWNER, nullptr, 0, 0, SetSecurity(GROUP_SECURITY_INFORMATION)},
        {"SetSecurity dacl", WRITE_DAC, nullptr, 0, 0, SetSecurity(DACL_SECURITY_INFORMATION)},
        {"SetSecurity sacl", ACCESS_SYSTEM_SECURITY, nullptr, 0, 0, SetSecurity(SACL_SECURITY_INFORMATION)},
        {"Control", SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS, nullptr, 0, 0,
         [](CSvcObj& s, void**) { return s.Control(200, 0, nullptr, nullptr); }},
    };
    OutputCapture capture;
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.label);
        const DWORD allRights = SERVICE_ALL_ACCESS | ACCESS_SYSTEM_SECURITY;
        Spooler().grantableAccess = allRights;
        fake.serviceOpenings.clear();
        void* out = Untouched;
        ::SetLastError(Marker);
        EXPECT_EQ(operation.run(*service, &out), 1);
        EXPECT_EQ(::GetLastError(), Marker);
        EXPECT_EQ(fake.serviceOpenings, std::vector<DWORD>{operation.access});
        if (operation.read)
            MemRelease(out);

        Spooler().grantableAccess = allRights & ~operation.access;
        out = Untouched;
        EXPECT_EQ(operation.run(*service, &out), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        const bool clearsFirst = operation.read && std::strcmp(operation.read, "EnumDependentServicesW") == 0;
        EXPECT_EQ(out, clearsFirst ? nullptr : Untouched) << "only the dependents' outputs are cleared first";

        Spooler().grantableAccess = allRights;
        if (operation.read) {
            fake.FailCall(operation.read, ERROR_NOT_ENOUGH_MEMORY, operation.failingCall, operation.failures);
            EXPECT_EQ(operation.run(*service, &out), 0);
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            EXPECT_EQ(out, nullptr) << "the block of a failed read is released";
        }
    }
    EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeSecurityPrivilege")) << "held for the open only";
}

TEST_F(SvcObjTest, InterrogationOfAStoppedServiceReadsItsStatusInstead) {
    const struct {
        DWORD state;
        DWORD controlFailure;
        int result;
        DWORD lastError;
        std::vector<DWORD> openings;
    } cases[] = {
        {SERVICE_RUNNING, 0, 1, Marker, {SERVICE_INTERROGATE}},
        {SERVICE_STOPPED, 0, 1, Marker, {SERVICE_INTERROGATE, SERVICE_QUERY_STATUS}},
        {SERVICE_RUNNING,
         ERROR_SERVICE_REQUEST_TIMEOUT,
         0,
         ERROR_SERVICE_REQUEST_TIMEOUT,
         {SERVICE_INTERROGATE}},
    };
    for (const auto& c : cases) {
        Spooler().status.dwCurrentState = c.state;
        if (c.controlFailure)
            fake.FailCall("ControlService", c.controlFailure);
        fake.serviceOpenings.clear();
        SERVICE_STATUS status = {};
        ::SetLastError(Marker);
        EXPECT_EQ(service->Interrogate(&status), c.result);
        EXPECT_EQ(::GetLastError(), c.lastError);
        EXPECT_EQ(fake.serviceOpenings, c.openings);
        EXPECT_EQ(status.dwCurrentState, c.result ? c.state : 0);
    }
}

TEST_F(SvcObjTest, ChangeConfigAppliesTheRulesOfEachKind) {
    using Text = std::optional<std::wstring>;
    const wchar_t* path = L"C:\\drivers\\x.sys";
    const struct {
        bool isDriver;
        DWORD serviceType;
        const wchar_t* path;
        const wchar_t* group;
        int result;
        Text pathPassed;
        bool tagRequested;
        Text passwordPassed;
    } cases[] = {
        {false, SERVICE_KERNEL_DRIVER, nullptr, nullptr, 0, {}, false, {}},
        {false, SERVICE_WIN32_OWN_PROCESS | 0x40, nullptr, nullptr, 0, {}, false, {}},
        {false, SERVICE_NO_CHANGE, L"\\??\\C:\\s.exe", nullptr, 1, L"\\??\\C:\\s.exe", false, L"pw"},
        {false, SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS, nullptr, L"", 1, {}, false, L"pw"},
        {false, SERVICE_WIN32_OWN_PROCESS, nullptr, L"G", 1, {}, true, L"pw"},
        {true, SERVICE_WIN32_OWN_PROCESS, nullptr, nullptr, 0, {}, false, {}},
        {true, SERVICE_KERNEL_DRIVER, L"\\??\\C:\\drivers\\x.sys", nullptr, 1, path, false, {}},
        {true, 15, path, L"G", 1, path, true, {}},
        {true, SERVICE_NO_CHANGE, nullptr, nullptr, 1, {}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.isDriver << " " << c.serviceType);
        fake.lastConfigChange.reset();
        unsigned long tag = 0;
        ::SetLastError(Marker);
        EXPECT_EQ((c.isDriver ? driver : service)
                      ->ChangeConfig(c.serviceType, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, c.path, c.group,
                                     &tag, nullptr, nullptr, L"pw", nullptr),
                  c.result);
        EXPECT_EQ(::GetLastError(), c.result ? Marker : static_cast<DWORD>(ERROR_INVALID_FLAGS));
        ASSERT_EQ(fake.lastConfigChange.has_value(), c.result == 1)
            << "a refused type reaches no platform call";
        if (c.result) {
            EXPECT_EQ(fake.lastConfigChange->binaryPath, c.pathPassed);
            EXPECT_EQ(fake.lastConfigChange->tagRequested, c.tagRequested);
            EXPECT_EQ(fake.lastConfigChange->password, c.passwordPassed);
        }
    }

    // A whole record goes through the class's own rule.
    QUERY_SERVICE_CONFIGW* config = nullptr;
    ASSERT_EQ(service->QueryConfig(&config), 1);
    config->lpDisplayName = const_cast<wchar_t*>(L"Spouleur");
    EXPECT_EQ(service->ChangeConfig(config, L"secret"), 1);
    EXPECT_EQ(Spooler().displayName, L"Spouleur");
    EXPECT_EQ(fake.lastConfigChange->password, Text(L"secret"));
    config->dwServiceType = SERVICE_KERNEL_DRIVER;
    EXPECT_EQ(service->ChangeConfig(config, nullptr), 0);
    MemRelease(config);
}

TEST_F(SvcObjTest, FailureActionsAskForTheStartRightAndTheShutdownPrivilegeOnlyAroundTheChange) {
    SC_ACTION restartAndReboot[] = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_REBOOT, 2000}};
    SC_ACTION runCommand[] = {{SC_ACTION_RUN_COMMAND, 0}};
    const DWORD Change = SERVICE_CHANGE_CONFIG;
    const struct {
        SC_ACTION* actions;
        DWORD count;
        DWORD changeFailure;
        DWORD access;
        bool privilegeDuringChange;
    } cases[] = {
        {restartAndReboot, 2, 0, Change | SERVICE_START, true},
        {restartAndReboot, 2, ERROR_INVALID_PARAMETER, Change | SERVICE_START, false},
        {nullptr, 3, 0, Change, false},
        {runCommand, 1, 0, Change, false},
    };
    for (const auto& c : cases) {
        fake.serviceOpenings.clear();
        fake.shutdownPrivilegeEnabledDuringChange = false;
        if (c.changeFailure)
            fake.FailCall("ChangeServiceConfig2W", c.changeFailure);
        SERVICE_FAILURE_ACTIONSW failureActions = {60, nullptr, nullptr, c.count, c.actions};
        ::SetLastError(Marker);
        EXPECT_EQ(service->ChangeConfig2(&failureActions, ConfigInfoFailureActions), c.changeFailure ? 0 : 1);
        EXPECT_EQ(::GetLastError(), c.changeFailure ? c.changeFailure : Marker);
        EXPECT_EQ(fake.serviceOpenings, std::vector<DWORD>{c.access});
        EXPECT_EQ(fake.shutdownPrivilegeEnabledDuringChange, c.privilegeDuringChange);
        EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeShutdownPrivilege"));
    }
}

TEST_F(SvcObjTest, ExtendedConfigurationOfAnUnknownLevelIsLeftToThePlatform) {
    void* info = Untouched;
    const int before = fake.Calls("QueryServiceConfig2W");
    EXPECT_EQ(service->QueryConfig2(&info, static_cast<ConfigInfoLevel>(5)), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(fake.Calls("QueryServiceConfig2W") - before, 2) << "the read is made for every level";
}

TEST_F(SvcObjTest, NoDependentsGiveNoBlock) {
    ENUM_SERVICE_STATUSW* dependents = static_cast<ENUM_SERVICE_STATUSW*>(Untouched);
    unsigned long count = 9;
    ::SetLastError(Marker);
    EXPECT_EQ(driver->EnumDependentServicesW(SERVICE_STATE_ALL, &dependents, &count), 1);
    EXPECT_EQ(dependents, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(fake.Calls("EnumDependentServicesW"), 1) << "a size query that succeeds says there is none";
}

TEST_F(SvcObjTest, ControlCodesNeedTheirRightAndTheServicesAcceptance) {
    const DWORD PauseContinue = SERVICE_PAUSE_CONTINUE;
    // The system's own notices cannot be sent by a program: the manager refuses them with 87.
    const bool Sent = true;
    const struct {
        DWORD code;
        DWORD access;
        DWORD acceptance;
        bool sent;
    } rules[] = {
        {SERVICE_CONTROL_INTERROGATE, SERVICE_INTERROGATE, 0, Sent},
        {SERVICE_CONTROL_SHUTDOWN, PauseContinue, SERVICE_ACCEPT_SHUTDOWN, !Sent},
        {SERVICE_CONTROL_PARAMCHANGE, PauseContinue, SERVICE_ACCEPT_PARAMCHANGE, Sent},
        {SERVICE_CONTROL_NETBINDADD, PauseContinue, SERVICE_ACCEPT_NETBINDCHANGE, Sent},
        {SERVICE_CONTROL_NETBINDREMOVE, PauseContinue, SERVICE_ACCEPT_NETBINDCHANGE, Sent},
        {SERVICE_CONTROL_NETBINDENABLE, PauseContinue, SERVICE_ACCEPT_NETBINDCHANGE, Sent},
        {SERVICE_CONTROL_NETBINDDISABLE, PauseContinue, SERVICE_ACCEPT_NETBINDCHANGE, Sent},
        {SERVICE_CONTROL_DEVICEEVENT, PauseContinue, 0, !Sent},
        {SERVICE_CONTROL_HARDWAREPROFILECHANGE, PauseContinue, SERVICE_ACCEPT_HARDWAREPROFILECHANGE, !Sent},
        {SERVICE_CONTROL_POWEREVENT, PauseContinue, SERVICE_ACCEPT_POWEREVENT, !Sent},
        {SERVICE_CONTROL_SESSIONCHANGE, PauseContinue, SERVICE_ACCEPT_SESSIONCHANGE, !Sent},
        {0, SERVICE_USER_DEFINED_CONTROL, 0, !Sent},
        {128, SERVICE_USER_DEFINED_CONTROL, 0, Sent},
        {255, SERVICE_USER_DEFINED_CONTROL, 0, Sent},
        {256, SERVICE_USER_DEFINED_CONTROL, 0, !Sent},
    };
    for (const auto& rule : rules) {
        SCOPED_TRACE(rule.code);
        Spooler().status.dwControlsAccepted = rule.acceptance;
        Spooler().controlsReceived.clear();
        fake.serviceOpenings.clear();
        ::SetLastError(Marker);
        EXPECT_EQ(service->Control(rule.code, 0, nullptr, nullptr), rule.sent ? 1 : 0);
        EXPECT_EQ(::GetLastError(), rule.sent ? Marker : static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(fake.serviceOpenings, std::vector<DWORD>{rule.access | SERVICE_QUERY_STATUS});
        EXPECT_EQ(Spooler().controlsReceived, rule.sent ? std::vector<DWORD>{rule.code} : std::vector<DWORD>{});
        if (!rule.acceptance)
            continue;
        Spooler().status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
        ::SetLastError(Marker);
        EXPECT_EQ(service->Control(rule.code, 0, nullptr, nullptr), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL))
            << "refused as the manager refuses it, without sending";
        Spooler().status.dwControlsAccepted = rule.acceptance;
        fake.FailCall("QueryServiceStatusEx", ERROR_ACCESS_DENIED);
        EXPECT_EQ(service->Control(rule.code, 0, nullptr, nullptr), 0) << "an unread status accepts nothing";
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(Spooler().controlsReceived.size(), rule.sent ? 1u : 0u);
    }

    // Stop, pause and continue go through the state changes, with their own rights.
    fake.FindService(L"Fax")->status.dwCurrentState = SERVICE_STOPPED;
    Spooler().status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    const struct {
        DWORD code;
        DWORD access;
        DWORD state;
    } changes[] = {
        {SERVICE_CONTROL_PAUSE, SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE, SERVICE_PAUSED},
        {SERVICE_CONTROL_CONTINUE, SERVICE_QUERY_STATUS | SERVICE_PAUSE_CONTINUE, SERVICE_RUNNING},
        // The forwarded stop ends a hanging service's process, after reading its failure actions.
        {SERVICE_CONTROL_STOP, SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_QUERY_CONFIG, SERVICE_STOPPED},
    };
    for (const auto& change : changes) {
        fake.serviceOpenings.clear();
        EXPECT_EQ(service->Control(change.code, 0, nullptr, nullptr), 1);
        EXPECT_EQ(Spooler().status.dwCurrentState, change.state);
        ASSERT_FALSE(fake.serviceOpenings.empty());
        EXPECT_EQ(fake.serviceOpenings[0], change.access);
    }
}

TEST_F(SvcObjTest, SecurityTakesOnePartAtATime) {
    OutputCapture capture;
    void* descriptor = Untouched;
    ::SetLastError(Marker);
    EXPECT_EQ(service->QuerySecurity(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &descriptor), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(service->SetSecurity(0, descriptor), 0);
    EXPECT_EQ(descriptor, Untouched);
    EXPECT_EQ(capture.Err(), L"Wrong parameter!\nWrong parameter!\n");
    EXPECT_TRUE(fake.serviceOpenings.empty());

    ASSERT_EQ(service->QuerySecurity(SACL_SECURITY_INFORMATION, &descriptor), 1);
    EXPECT_EQ(capture.Out(), L"::QueryServiceObjectSecurity ==> GetLastError() = 122 ; BufSize = 24\n");
    ASSERT_EQ(MemGetSize(descriptor), 24u) << "exactly the size asked for";
    EXPECT_EQ(std::memcmp(descriptor, Spooler().security.data(), 24), 0);
    MemRelease(descriptor);

    Spooler().grantableAccess = SERVICE_ALL_ACCESS;
    BYTE newDescriptor[20] = {};
    EXPECT_EQ(service->SetSecurity(SACL_SECURITY_INFORMATION, newDescriptor), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(fake.IsPrivilegeEnabled(L"SeSecurityPrivilege")) << "switched off after a failed open too";
}

TEST_F(SvcObjTest, DebuggerStartsFromATemplateOfAtMostTwoIntegerConversionsAndAnAddress) {
    // A 32-bit build reads the 64-bit view, where the system's own debugger setting is.
    fake.wow64Process = true;
    fake.runningProcesses = {4242};
    const std::wstring noAddress(2 * sizeof(void*), L'0');
    const struct {
        const wchar_t* text;
        std::wstring commandLineStart;
    } accepted[] = {
        {L"dbg.exe -p %ld -e %ld -g", L"dbg.exe -p 4242 -e "},
        {L"dbg %%d %lu", L"dbg %d 4242"},
        {L"dbg %-6u|%+d", L"dbg 4242  |+"},
        {L"dbg -p %ld -e %ld -j 0x%p", L"dbg -p 4242 -e "},
        {L"dbg -p %ld -c \".jdinfo 0x%p\"", L"dbg -p 4242 -c \".jdinfo 0x" + noAddress + L"\""},
        {L"dbg -j 0x%p", L"dbg -j 0x" + noAddress},
    };
    // Another inheritable handle of the program's, which the debugger must not receive.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE unrelated = fake.CreateEventW(&inheritable, FALSE, FALSE, nullptr);
    for (const auto& c : accepted) {
        fake.SetRegistryString(DebuggerKey, L"Debugger", c.text);
        OutputCapture capture;
        ::SetLastError(Marker);
        ASSERT_EQ(service->AttachToADebugger(), 1);
        EXPECT_EQ(::GetLastError(), Marker);
        const std::wstring commandLine = fake.startedCommandLines.back();
        EXPECT_EQ(commandLine.rfind(c.commandLineStart, 0), 0u) << commandLine;
        EXPECT_EQ(capture.Out(), L"\nDebugging: " + commandLine + L"\n");
        // The debugger inherits the event it is to signal, and that alone.
        ASSERT_EQ(fake.startedInheritance.back().size(), 1u);
        EXPECT_NE(fake.startedInheritance.back()[0], unrelated);
    }
    // The event's number is the one the command line passes.
    const std::wstring eventNumber =
        std::to_wstring(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(fake.startedInheritance[0][0])));
    EXPECT_EQ(fake.startedCommandLines[0], L"dbg.exe -p 4242 -e " + eventNumber + L" -g");
    fake.CloseHandle(unrelated);

    const struct {
        bool keyExists;
        DWORD type;
        const wchar_t* text;
        DWORD lastError;
    } refused[] = {
        {false, REG_SZ, L"", ERROR_FILE_NOT_FOUND},      {true, REG_EXPAND_SZ, L"dbg -p %ld", Marker},
        {true, REG_SZ, L"dbg %s", ERROR_INVALID_DATA},   {true, REG_SZ, L"dbg %d %d %d", ERROR_INVALID_DATA},
        {true, REG_SZ, L"dbg %n", ERROR_INVALID_DATA},   {true, REG_SZ, L"dbg %*d", ERROR_INVALID_DATA},
        {true, REG_SZ, L"dbg %lld", ERROR_INVALID_DATA}, {true, REG_SZ, L"dbg %I64d", ERROR_INVALID_DATA},
        {true, REG_SZ, L"dbg %.3d", ERROR_INVALID_DATA}, {true, REG_SZ, L"dbg 50%", ERROR_INVALID_DATA},
        {true, REG_SZ, L"dbg %p %d", ERROR_INVALID_DATA}, {true, REG_SZ, L"dbg %d %p %p", ERROR_INVALID_DATA},
        {true, REG_SZ, L"dbg %lp", ERROR_INVALID_DATA},
    };
    const size_t started = fake.startedCommandLines.size();
    const int events = fake.Calls("CreateEventW");
    OutputCapture capture;
    for (const auto& c : refused) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        fake.registry.clear();
        if (c.keyExists)
            fake.SetRegistryString(DebuggerKey, L"Debugger", c.text, c.type);
        ::SetLastError(Marker);
        EXPECT_EQ(service->AttachToADebugger(), 0);
        EXPECT_EQ(::GetLastError(), c.lastError);
    }
    EXPECT_EQ(capture.Out(), L"");
    fake.SetRegistryString(DebuggerKey, L"Debugger", L"dbg -p %ld");
    ::SetLastError(Marker);
    EXPECT_EQ(driver->AttachToADebugger(), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(capture.Out(), L"\nUtilisez le d\u00E9boggeur noyau !!\n");
    EXPECT_EQ(fake.startedCommandLines.size(), started);
    EXPECT_EQ(fake.Calls("CreateEventW"), events);
}

TEST_F(SvcObjTest, HandlesTypeProcessIdAndCopies) {
    SC_HANDLE handle = service->GetHandle(SERVICE_START);
    SC_HANDLE another = service->GetHandle(SERVICE_START);
    EXPECT_EQ(fake.serviceOpenings, (std::vector<DWORD>{SERVICE_START, SERVICE_START}));
    EXPECT_NE(another, handle) << "each call opens another handle";
    EXPECT_EQ(ReleaseServiceHandle(handle), 1);
    EXPECT_EQ(ReleaseServiceHandle(another), 1);
    EXPECT_EQ(service->GetType(), static_cast<unsigned long>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(driver->GetType(), static_cast<unsigned long>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(service->GetProcessId(), 4242u);

    CService missing(manager.get(), L"Missing");
    EXPECT_EQ(missing.GetHandle(SERVICE_START), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(missing.GetType(), 0u);
    EXPECT_EQ(missing.GetProcessId(), 0u);
    CService copy(missing);
    missing = CService(manager.get(), L"Spooler");
    EXPECT_STREQ(copy.GetName(), L"Missing");
    EXPECT_EQ(missing.GetProcessId(), 4242u);
}

} // namespace
