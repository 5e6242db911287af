// start, stop, pause, continue, interrogate, control and debug against Wine's service control
// manager, on services installed from the project's test service: the exact bytes written, the
// exit code, what reached the service (its start arguments and the controls it received) and the
// state it ends in.
//
// Wine's EnumDependentServicesW always answers with an empty list, so no dependents' report can
// appear here; and its manager keeps showing the last state a service reported after the
// service's process has died.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ByteComparison.h"
#include "HandleGuard.h"
#include "OrvelRunner.h"
#include "ServiceInstaller.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

const DWORD kStateTimeoutMs = 20000;

// A script line and what the command writes after its echo; every control command but `control`
// writes one empty line.
struct ScriptLine {
    std::wstring line;
    std::wstring output = L"\n";
};

// Runs a script that connects to this machine and then runs `lines`; `expected` receives what it
// must write on standard output: each line echoed after the prompt of the connection, then the
// prompt and the empty echo at the end of the file, then the line break of the closing.
OrvelRun RunConnectedScript(const std::vector<ScriptLine>& lines, std::string& expected) {
    const std::wstring computer = ComputerName();
    const std::string prompt = Bytes(L"Quorvan @ " + computer + L" (local) | 1 > ");
    std::wstring script = L"connect " + computer + L"\n";
    expected = Banner() + Prompted(L"connect " + computer) + kLineBreak;
    for (const ScriptLine& line : lines) {
        script += line.line + L"\n";
        expected += prompt + Bytes(line.line + L"\n" + line.output);
    }
    expected += prompt + kLineBreak + kLineBreak;
    return RunOrvelScript(Bytes(script));
}

DWORD StateOf(const InstalledTestService& service) {
    SERVICE_STATUS_PROCESS status = {};
    EXPECT_TRUE(QueryStatus(service.handle(), status)) << "error " << GetLastError();
    return status.dwCurrentState;
}

// Starts the service directly, without the console, and waits until it runs.
SERVICE_STATUS_PROCESS StartedDirectly(const InstalledTestService& service) {
    SERVICE_STATUS_PROCESS status = {};
    EXPECT_TRUE(StartServiceW(service.handle(), 0, nullptr)) << "error " << GetLastError();
    EXPECT_TRUE(WaitForServiceState(service.handle(), SERVICE_RUNNING, kStateTimeoutMs, status))
        << testing::PrintToString(service.name()) << " is in state " << status.dwCurrentState;
    return status;
}

TEST(ControlE2E, StartArgumentsReachTheServiceAsTheScriptLineSplitsThem) {
    struct Case {
        std::wstring name;
        std::wstring words;
        std::vector<std::string> arguments;
    };
    const std::vector<Case> cases = {
        {L"QuorvanE2ECtlArgsTwo", L"un deux", {"un", "deux"}},
        // From the "=" on, the word is copied as typed: its quotes stay and protect the blank.
        {L"QuorvanE2ECtlArgsRaw",
         L"name=\"a b\" \"c d\" cle=C:\\x\\\\\"y z\"",
         {"name=\"a b\"", "c d", "cle=C:\\x\\\\\"y z\""}},
        {L"QuorvanE2ECtlArgsSlash",
         L"C:\\dossier\\f.txt a\\\\\"b c\" \\\"q\\\"",
         {"C:\\dossier\\f.txt", "a\\b c", "\"q\""}},
        {L"QuorvanE2ECtlArgsNone", L"", {}},
    };
    std::vector<std::unique_ptr<TemporaryFile>> files;
    std::vector<std::unique_ptr<InstalledTestService>> services;
    std::vector<ScriptLine> lines;
    for (const Case& c : cases) {
        files.push_back(std::make_unique<TemporaryFile>());
        services.push_back(std::make_unique<InstalledTestService>(
            c.name, std::vector<std::wstring>{L"/args:" + files.back()->path()}));
        ASSERT_TRUE(services.back()->installed());
        lines.push_back({L"start " + c.name + (c.words.empty() ? L"" : L" " + c.words)});
    }
    std::string expected;
    const OrvelRun run = RunConnectedScript(lines, expected);
    EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0u);
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(StateOf(*services[i]), static_cast<DWORD>(SERVICE_RUNNING))
            << testing::PrintToString(cases[i].name);
        std::vector<std::string> arguments = {std::string(cases[i].name.begin(), cases[i].name.end())};
        arguments.insert(arguments.end(), cases[i].arguments.begin(), cases[i].arguments.end());
        EXPECT_EQ(arguments, files[i]->ReadLines()) << testing::PrintToString(cases[i].name);
    }
}

TEST(ControlE2E, HundredStartArgumentsFromTheCommandLineReachTheServiceInOrder) {
    TemporaryFile arguments;
    InstalledTestService service(L"QuorvanE2ECtlArgsHundred", {L"/args:" + arguments.path()});
    ASSERT_TRUE(service.installed());
    std::vector<std::wstring> command = {L"start", service.name()};
    std::vector<std::string> expected = {"QuorvanE2ECtlArgsHundred"};
    for (int i = 1; i <= 100; ++i) {
        // Every tenth one with a blank, a quote or a backslash, which the command line must keep.
        const std::wstring word = L"arg" + std::to_wstring(i) + (i % 10 == 0 ? L" a\\\"b\\" : L"");
        command.push_back(word);
        expected.emplace_back(word.begin(), word.end());
    }
    const OrvelRun run = RunOrvelBatch(command);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), run.out);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(StateOf(service), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(expected, arguments.ReadLines());
}

// Start returns only once the service has left START_PENDING, whichever state it settles in; a
// service that stops while starting has not started: its own exit code is the command's.
TEST(ControlE2E, StartWaitsThroughThePendingStateUntilTheServiceSettles) {
    struct Case {
        std::wstring name;
        std::vector<std::wstring> switches;
        DWORD finalState;
        DWORD exitCodeOfService;
        DWORD minimumMs;
        DWORD exitCode;
    };
    const Case cases[] = {
        {L"QuorvanE2ECtlSlowStart", {L"/start:1500", L"/waithint:700"}, SERVICE_RUNNING, NO_ERROR, 1500, 0},
        {L"QuorvanE2ECtlStartFail", {L"/start:500", L"/startfail:1234"}, SERVICE_STOPPED, 1234, 500, 1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        InstalledTestService service(c.name, c.switches);
        ASSERT_TRUE(service.installed());
        const DWORD before = GetTickCount();
        const OrvelRun run = RunOrvelBatch({L"start", c.name});
        const DWORD elapsed = GetTickCount() - before;
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(QueryStatus(service.handle(), status));
        EXPECT_EQ(status.dwCurrentState, c.finalState);
        EXPECT_EQ(status.dwWin32ExitCode, c.exitCodeOfService);
        EXPECT_GE(elapsed, c.minimumMs);
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), run.out);
        EXPECT_EQ(run.exitCode, c.exitCode);
    }
}

// Wine lists no dependents, so the stop prints no report and reaches the service alone.
TEST(ControlE2E, StopOfAServiceWithARunningDependentStopsOnlyThatService) {
    TemporaryFile baseControls;
    TemporaryFile dependentControls;
    InstalledTestService base(L"QuorvanE2ECtlBase", {L"/controls:" + baseControls.path()});
    InstalledTestService dependent(L"QuorvanE2ECtlDependent", {L"/controls:" + dependentControls.path()},
                                   SERVICE_DEMAND_START, L"QuorvanE2ECtlBase\0");
    ASSERT_TRUE(base.installed());
    ASSERT_TRUE(dependent.installed());
    StartedDirectly(base);
    StartedDirectly(dependent);

    const OrvelRun run = RunOrvelBatch({L"stop", base.name(), L"1:2:8", L"commentaire"});
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), run.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(StateOf(base), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(StateOf(dependent), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(std::vector<std::string>{"1"}, baseControls.ReadLines());
    EXPECT_EQ(std::vector<std::string>{}, dependentControls.ReadLines());
}

// A control the service does not accept is not sent; the command fails with the code the manager
// gives for it. A service already in the state asked for (a stopped one for stop, a running one
// for continue) needs nothing: that succeeds.
TEST(ControlE2E, ControlsTheServiceRefusesAreNotSentAndFailWithTheManagersCode) {
    TemporaryFile controls;
    InstalledTestService refusing(L"QuorvanE2ECtlRefusing",
                                  {L"/nopause", L"/nostop", L"/controls:" + controls.path()});
    InstalledTestService stopped(L"QuorvanE2ECtlStopped", {});
    ASSERT_TRUE(refusing.installed());
    ASSERT_TRUE(stopped.installed());
    StartedDirectly(refusing);
    struct Case {
        const InstalledTestService& service;
        std::wstring command;
        DWORD stateAfter;
        DWORD exitCode;
    };
    const Case cases[] = {
        {refusing, L"pause", SERVICE_RUNNING, ERROR_INVALID_SERVICE_CONTROL},
        {refusing, L"continue", SERVICE_RUNNING, NO_ERROR},
        {refusing, L"stop", SERVICE_RUNNING, ERROR_INVALID_SERVICE_CONTROL},
        {stopped, L"pause", SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE},
        {stopped, L"continue", SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE},
        {stopped, L"stop", SERVICE_STOPPED, NO_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.command + L" " + c.service.name()));
        const OrvelRun run = RunOrvelBatch({c.command, c.service.name()});
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), run.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(StateOf(c.service), c.stateAfter);
    }
    EXPECT_EQ(std::vector<std::string>{}, controls.ReadLines());

    // In a script the same failures show their banner, and the script still ends with 0.
    InstalledTestService failing(L"QuorvanE2ECtlStartFailNow", {L"/startfail:1234"});
    ASSERT_TRUE(failing.installed());
    std::string expected;
    const OrvelRun script =
        RunConnectedScript({{L"pause " + refusing.name()}, {L"start " + failing.name()}}, expected);
    EXPECT_PRED_FORMAT2(BytesEqual, expected, script.out);
    EXPECT_PRED_FORMAT2(BytesEqual, ErrorBanner(ERROR_INVALID_SERVICE_CONTROL) + ErrorBanner(1234), script.err);
    EXPECT_EQ(script.exitCode, 0u);
}

// The three services go through start, pause, continue and stop in one script and end in three
// different states; each receives exactly the controls its commands required.
TEST(ControlE2E, ScriptDrivesThreeServicesToTheStatesItAsksFor) {
    const std::vector<std::wstring> timing = {L"/start:300", L"/pause:200", L"/continue:200", L"/stop:200",
                                              L"/waithint:500"};
    struct Target {
        std::wstring name;
        DWORD finalState;
        std::vector<std::string> controls;
    };
    const Target targets[] = {
        {L"QuorvanE2ECtlTrioRunning", SERVICE_RUNNING, {"2", "3"}},
        {L"QuorvanE2ECtlTrioPaused", SERVICE_PAUSED, {"2"}},
        {L"QuorvanE2ECtlTrioStopped", SERVICE_STOPPED, {"2", "3", "1"}},
    };
    std::vector<std::unique_ptr<TemporaryFile>> files;
    std::vector<std::unique_ptr<InstalledTestService>> services;
    for (const Target& target : targets) {
        files.push_back(std::make_unique<TemporaryFile>());
        std::vector<std::wstring> switches = timing;
        switches.push_back(L"/controls:" + files.back()->path());
        services.push_back(std::make_unique<InstalledTestService>(target.name, switches));
        ASSERT_TRUE(services.back()->installed());
    }
    const std::wstring& running = targets[0].name;
    const std::wstring& paused = targets[1].name;
    const std::wstring& stopped = targets[2].name;
    // Starting a running service and pausing a paused one succeed without sending anything.
    std::string expected;
    const OrvelRun run = RunConnectedScript({{L"start " + running},
                                             {L"start " + paused},
                                             {L"start " + stopped},
                                             {L"start " + running},
                                             {L"pause " + running},
                                             {L"pause " + paused},
                                             {L"pause " + stopped},
                                             {L"pause " + paused},
                                             {L"continue " + running},
                                             {L"continue " + stopped},
                                             {L"stop " + stopped + L" 1:2:8 \"arr\u00EAt pr\u00E9vu\""}},
                                            expected);
    EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0u);
    for (size_t i = 0; i < services.size(); ++i) {
        SCOPED_TRACE(testing::PrintToString(targets[i].name));
        EXPECT_EQ(StateOf(*services[i]), targets[i].finalState);
        EXPECT_EQ(targets[i].controls, files[i]->ReadLines());
    }
}

// `interrogate` only opens the service and `control` does nothing at all: neither sends a control.
TEST(ControlE2E, InterrogateOnlyOpensTheServiceAndControlSendsItsCode) {
    TemporaryFile controls;
    InstalledTestService service(L"QuorvanE2ECtlInterrogate", {L"/controls:" + controls.path()});
    ASSERT_TRUE(service.installed());
    StartedDirectly(service);
    std::string expected;
    const OrvelRun run = RunConnectedScript({{L"interrogate QuorvanE2ECtlNoSuchService"},
                                             {L"interrogate " + service.name()}},
                                            expected);
    EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, ErrorBanner(ERROR_SERVICE_DOES_NOT_EXIST), run.err);
    EXPECT_EQ(StateOf(service), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(std::vector<std::string>{}, controls.ReadLines());

    const OrvelRun batch = RunOrvelBatch({L"interrogate", L"QuorvanE2ECtlNoSuchService"});
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), batch.out);
    EXPECT_EQ(batch.exitCode, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    // The service's own code reaches it, and the state shows as query status shows it.
    const OrvelRun sent = RunOrvelBatch({L"control", service.name(), L"130"});
    EXPECT_EQ(sent.exitCode, 0u);
    EXPECT_PRED_FORMAT2(BytesEqual, RunOrvelBatch({L"query", L"status", service.name()}).out, sent.out);
    EXPECT_EQ(std::vector<std::string>{"130"}, controls.ReadLines());
    // A code that another command owns shows the usage and sends nothing.
    const OrvelRun refused = RunOrvelBatch({L"control", service.name(), L"4"});
    EXPECT_EQ(refused.exitCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_NE(refused.out.find("CONTROL <service> <code>"), std::string::npos);
    EXPECT_EQ(std::vector<std::string>{"130"}, controls.ReadLines());
    SERVICE_STATUS stopping = {};
    ASSERT_TRUE(ControlService(service.handle(), SERVICE_CONTROL_STOP, &stopping)) << GetLastError();
    SERVICE_STATUS_PROCESS last = {};
    ASSERT_TRUE(WaitForServiceState(service.handle(), SERVICE_STOPPED, 10000, last));
    EXPECT_EQ(RunOrvelBatch({L"control", service.name(), L"130"}).exitCode, static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
}

// Sets the machine's debugger command template for the length of a test and puts back whatever
// was there before (or nothing), even when the test fails.
class DebuggerTemplate {
public:
    explicit DebuggerTemplate(const std::wstring& commandTemplate) {
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                            &m_key, nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot open the AeDebug key";
            m_key = nullptr;
            return;
        }
        DWORD size = 0;
        m_hadValue = RegQueryValueExW(m_key, kValue, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS;
        m_previous.resize(size);
        if (m_hadValue && size > 0) {
            m_hadValue =
                RegQueryValueExW(m_key, kValue, nullptr, &m_type, m_previous.data(), &size) == ERROR_SUCCESS;
        }
        Set(REG_SZ, reinterpret_cast<const BYTE*>(commandTemplate.c_str()),
            static_cast<DWORD>((commandTemplate.size() + 1) * sizeof(wchar_t)));
    }
    ~DebuggerTemplate() {
        if (!m_key) {
            return;
        }
        if (m_hadValue) {
            Set(m_type, m_previous.data(), static_cast<DWORD>(m_previous.size()));
        } else {
            RegDeleteValueW(m_key, kValue);
        }
        RegCloseKey(m_key);
    }
    DebuggerTemplate(const DebuggerTemplate&) = delete;
    DebuggerTemplate& operator=(const DebuggerTemplate&) = delete;

private:
    void Set(DWORD type, const BYTE* data, DWORD size) {
        EXPECT_EQ(RegSetValueExW(m_key, kValue, 0, type, data, size), ERROR_SUCCESS);
    }

    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
    static constexpr const wchar_t* kValue = L"Debugger";
    HKEY m_key = nullptr;
    bool m_hadValue = false;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_previous;
};

// The recorder's line "PID EVENT", once it has written it (it is not waited for by the console).
std::string RecordedLine(const TemporaryFile& record) {
    for (DWORD waited = 0; waited < kStateTimeoutMs; waited += 100) {
        const std::string text = record.Read();
        if (!text.empty() && text.back() == '\n') {
            return text.substr(0, text.size() - 1);
        }
        Sleep(100);
    }
    ADD_FAILURE() << "the debugger recorder wrote nothing";
    return std::string();
}

TEST(ControlE2E, DebugStartsTheTemplatesCommandWithTheServicesProcessId) {
    TemporaryFile record;
    InstalledTestService service(L"QuorvanE2ECtlDebug", {});
    ASSERT_TRUE(service.installed());
    const SERVICE_STATUS_PROCESS status = StartedDirectly(service);
    const std::wstring command =
        L"\"" + DirectoryOfThisProgram() + L"\\DebuggerRecorder.exe\" \"" + record.path() + L"\" ";
    {
        DebuggerTemplate debugger(command + L"%ld %ld");
        const OrvelRun run = RunOrvelBatch({L"debug", service.name()});
        const std::string recorded = RecordedLine(record);
        const std::string pid = recorded.substr(0, recorded.find(' '));
        EXPECT_EQ(pid, std::to_string(status.dwProcessId));
        EXPECT_NE(recorded.find(' '), std::string::npos);
        // The second number is the event's handle value, known only from what the recorder got.
        EXPECT_PRED_FORMAT2(
            BytesEqual,
            Batch(L"\nDebugging: " + command + std::wstring(recorded.begin(), recorded.end()) + L"\n\n"),
            run.out);
        EXPECT_EQ(run.exitCode, 0u);
    }
    record.Write("");
    {
        // The template that current debuggers register: the address of the exception's record,
        // of which there is none here, comes last.
        DebuggerTemplate debugger(command + L"-p %ld -e %ld -j 0x%p");
        const OrvelRun run = RunOrvelBatch({L"debug", service.name()});
        const std::string recorded = RecordedLine(record);
        const std::string noAddress = " -j 0x" + std::string(2 * sizeof(void*), '0');
        EXPECT_EQ(recorded.rfind("-p " + std::to_string(status.dwProcessId) + " -e ", 0), 0u) << recorded;
        EXPECT_EQ(recorded.substr(recorded.size() - std::min(recorded.size(), noAddress.size())), noAddress);
        EXPECT_EQ(run.exitCode, 0u);
    }
    record.Write("");
    {
        // A conversion that would read a text where a number is passed is refused before anything runs.
        DebuggerTemplate debugger(command + L"%s %ld");
        std::string expected;
        const OrvelRun run = RunConnectedScript({{L"debug " + service.name()}}, expected);
        EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
        EXPECT_PRED_FORMAT2(BytesEqual, ErrorBanner(ERROR_INVALID_DATA), run.err);
        Sleep(1000);
        EXPECT_EQ(record.Read(), "");
    }
    EXPECT_EQ(StateOf(service), static_cast<DWORD>(SERVICE_RUNNING));
}

// Takes the full stop time-out (30 s): skip with a filter on "Slow".
TEST(ControlE2ESlow, StopEndsTheProcessOfAServiceHangingInStopPending) {
    InstalledTestService service(L"QuorvanE2ECtlHangStop", {L"/hangstop"});
    ASSERT_TRUE(service.installed());
    const SERVICE_STATUS_PROCESS status = StartedDirectly(service);
    UniqueKernelHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId));
    ASSERT_TRUE(process) << "error " << GetLastError();

    const DWORD before = GetTickCount();
    const OrvelRun run = RunOrvelBatch({L"stop", service.name()});
    const DWORD elapsed = GetTickCount() - before;
    EXPECT_GT(elapsed, 30000u);
    // The manager still shows STOP_PENDING after the kill, so the stop fails as a time-out. Wine
    // knows no failure actions (ERROR_INVALID_LEVEL): none follow the end.
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), run.out);
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Bytes(L"Le processus " + std::to_wstring(status.dwProcessId) + L" du service " + service.name() +
                              L" a \u00E9t\u00E9 termin\u00E9.\n"),
                        run.err);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(exitCode, 1u);
}

} // namespace
