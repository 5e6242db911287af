// A service program for the end-to-end tests. Wine's service control manager starts it; the
// switches of its binary path decide how it moves between states, which controls it accepts and
// where it records what it received, so that tests can drive the console against a service whose
// behaviour they know. Switches (case-insensitive, MS in milliseconds):
//
//   /start:MS /stop:MS /pause:MS /continue:MS   time spent in the matching pending state
//   /waithint:MS      wait hint announced with every pending status (default 1000)
//   /startfail:CODE   after the start delay, stop with this Win32 exit code instead of running
//   /nopause          do not accept pause and continue
//   /nostop           do not accept stop
//   /hangstop         on stop, stay in STOP_PENDING for ever (only ending the process ends it)
//   /args:FILE        write the start arguments (ServiceMain's argv), UTF-8, one per line
//   /controls:FILE    append the code of every control received, one per line
//
// An unknown switch makes the service stop at once with ERROR_INVALID_PARAMETER, so that a
// mistyped test fails visibly instead of testing the defaults.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <deque>
#include <string>

namespace {

struct Options {
    DWORD startDelay = 0;
    DWORD stopDelay = 0;
    DWORD pauseDelay = 0;
    DWORD continueDelay = 0;
    DWORD waitHint = 1000;
    DWORD startFailure = NO_ERROR;
    bool acceptPause = true;
    bool acceptStop = true;
    bool hangOnStop = false;
    std::wstring argsFile;
    std::wstring controlsFile;
};

Options g_options;
bool g_optionsValid = true;

// Status and requests are shared between the control handler (dispatcher thread) and the
// ServiceMain thread, which does all the slow work so that the handler always answers at once.
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_requestArrived = CONDITION_VARIABLE_INIT;
std::deque<DWORD> g_requests;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, NO_ERROR, 0, 0, 0};

class ExclusiveLock {
public:
    ExclusiveLock() { AcquireSRWLockExclusive(&g_lock); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&g_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
};

bool ReadNumber(const wchar_t* text, DWORD& value) {
    wchar_t* end = nullptr;
    unsigned long parsed = wcstoul(text, &end, 10);
    if (end == text || *end != L'\0') {
        return false;
    }
    value = parsed;
    return true;
}

// Returns the text after "name:" when `arg` is that switch, null otherwise.
const wchar_t* SwitchValue(const wchar_t* arg, const wchar_t* name) {
    size_t length = wcslen(name);
    if (_wcsnicmp(arg, name, length) != 0 || arg[length] != L':') {
        return nullptr;
    }
    return arg + length + 1;
}

bool ParseFlag(const wchar_t* arg, const wchar_t* name, bool& flag, bool valueWhenPresent) {
    if (_wcsicmp(arg, name) != 0) {
        return false;
    }
    flag = valueWhenPresent;
    return true;
}

bool ParseOption(const wchar_t* arg, Options& options) {
    struct NumberSwitch {
        const wchar_t* name;
        DWORD* value;
    };
    const NumberSwitch numbers[] = {
        {L"/start", &options.startDelay},  {L"/stop", &options.stopDelay},
        {L"/pause", &options.pauseDelay},  {L"/continue", &options.continueDelay},
        {L"/waithint", &options.waitHint}, {L"/startfail", &options.startFailure},
    };
    for (const NumberSwitch& number : numbers) {
        if (const wchar_t* text = SwitchValue(arg, number.name)) {
            return ReadNumber(text, *number.value);
        }
    }
    if (const wchar_t* path = SwitchValue(arg, L"/args")) {
        options.argsFile = path;
        return true;
    }
    if (const wchar_t* path = SwitchValue(arg, L"/controls")) {
        options.controlsFile = path;
        return true;
    }
    return ParseFlag(arg, L"/nopause", options.acceptPause, false) ||
           ParseFlag(arg, L"/nostop", options.acceptStop, false) ||
           ParseFlag(arg, L"/hangstop", options.hangOnStop, true);
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (!ParseOption(argv[i], options)) {
            return false;
        }
    }
    return true;
}

std::string ToUtf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

// Best effort: a record that cannot be written must not bring the service down.
void WriteToFile(const std::wstring& path, DWORD disposition, DWORD access, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void RecordStartArguments(DWORD argc, LPWSTR* argv) {
    if (g_options.argsFile.empty()) {
        return;
    }
    std::string lines;
    for (DWORD i = 0; i < argc; ++i) {
        lines += ToUtf8(argv[i]) + "\n";
    }
    WriteToFile(g_options.argsFile, CREATE_ALWAYS, GENERIC_WRITE, lines);
}

void RecordControl(DWORD control) {
    if (g_options.controlsFile.empty()) {
        return;
    }
    WriteToFile(g_options.controlsFile, OPEN_ALWAYS, FILE_APPEND_DATA, std::to_string(control) + "\n");
}

DWORD ControlsAcceptedIn(DWORD state) {
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED) {
        return 0;
    }
    return (g_options.acceptStop ? SERVICE_ACCEPT_STOP : 0) |
           (g_options.acceptPause ? SERVICE_ACCEPT_PAUSE_CONTINUE : 0);
}

void ReportStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
    ExclusiveLock lock;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = ControlsAcceptedIn(state);
    g_status.dwCheckPoint = checkPoint;
    g_status.dwWaitHint = waitHint;
    g_status.dwWin32ExitCode = exitCode;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD CurrentState() {
    ExclusiveLock lock;
    return g_status.dwCurrentState;
}

// Spends `delay` in a pending state, announcing progress with a growing checkpoint.
void PassThroughPendingState(DWORD pendingState, DWORD delay) {
    const DWORD step = 100;
    DWORD checkPoint = 1;
    ReportStatus(pendingState, checkPoint, g_options.waitHint);
    for (DWORD elapsed = 0; elapsed < delay; elapsed += step) {
        Sleep(delay - elapsed < step ? delay - elapsed : step);
        ReportStatus(pendingState, ++checkPoint, g_options.waitHint);
    }
}

void Transition(DWORD pendingState, DWORD delay, DWORD finalState) {
    PassThroughPendingState(pendingState, delay);
    ReportStatus(finalState, 0, 0);
}

DWORD NextRequest() {
    AcquireSRWLockExclusive(&g_lock);
    while (g_requests.empty()) {
        SleepConditionVariableSRW(&g_requestArrived, &g_lock, INFINITE, 0);
    }
    DWORD control = g_requests.front();
    g_requests.pop_front();
    ReleaseSRWLockExclusive(&g_lock);
    return control;
}

void PostRequest(DWORD control) {
    {
        ExclusiveLock lock;
        g_requests.push_back(control);
    }
    WakeConditionVariable(&g_requestArrived);
}

void HangInStopPending() {
    ReportStatus(SERVICE_STOP_PENDING, 1, g_options.waitHint);
    for (;;) {
        Sleep(INFINITE);
    }
}

// Serves pause, continue and stop requests until the service has stopped.
void ServeRequests() {
    for (;;) {
        DWORD control = NextRequest();
        DWORD state = CurrentState();
        if (control == SERVICE_CONTROL_STOP) {
            if (g_options.hangOnStop) {
                HangInStopPending();
            }
            Transition(SERVICE_STOP_PENDING, g_options.stopDelay, SERVICE_STOPPED);
            return;
        }
        if (control == SERVICE_CONTROL_PAUSE && state == SERVICE_RUNNING) {
            Transition(SERVICE_PAUSE_PENDING, g_options.pauseDelay, SERVICE_PAUSED);
        } else if (control == SERVICE_CONTROL_CONTINUE && state == SERVICE_PAUSED) {
            Transition(SERVICE_CONTINUE_PENDING, g_options.continueDelay, SERVICE_RUNNING);
        }
    }
}

bool IsAccepted(DWORD control) {
    ExclusiveLock lock;
    DWORD accepted = g_status.dwControlsAccepted;
    if (control == SERVICE_CONTROL_STOP) {
        return (accepted & SERVICE_ACCEPT_STOP) != 0;
    }
    return (accepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0;
}

void ReportCurrentStatus() {
    ExclusiveLock lock;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    RecordControl(control);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        if (!IsAccepted(control)) {
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
        PostRequest(control);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        ReportCurrentStatus();
        return NO_ERROR;
    default:
        return control >= 128 && control <= 255 ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Wine's StartServiceW answers 1053 (request timeout) when, by the time it looks at the service,
// the service has already left START_PENDING for STOPPED. A failing start therefore stays pending
// for a while, so that the failure shows as a stop with its exit code, as on Windows.
void FailStart(DWORD exitCode) {
    const DWORD leastPendingMs = 300;
    Sleep(leastPendingMs);
    ReportStatus(SERVICE_STOPPED, 0, 0, exitCode);
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", ControlHandler, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    if (!g_optionsValid) {
        ReportStatus(SERVICE_START_PENDING, 1, g_options.waitHint);
        FailStart(ERROR_INVALID_PARAMETER);
        return;
    }
    RecordStartArguments(argc, argv);
    PassThroughPendingState(SERVICE_START_PENDING, g_options.startDelay);
    if (g_options.startFailure != NO_ERROR) {
        FailStart(g_options.startFailure);
        return;
    }
    ReportStatus(SERVICE_RUNNING, 0, 0);
    ServeRequests();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    g_optionsValid = ParseOptions(argc, argv, g_options);
    // Own-process service: the control manager ignores the name of the table's single entry.
    wchar_t anyName[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{anyName, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        fwprintf(stderr, L"QuorvanTestService runs only under the service control manager (error %lu).\n",
                 GetLastError());
        return 1;
    }
    return 0;
}
