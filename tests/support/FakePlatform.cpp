#include "FakePlatform.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

const HANDLE FakeStdInput = reinterpret_cast<HANDLE>(0x10);
const HANDLE FakeStdOutput = reinterpret_cast<HANDLE>(0x11);
const HANDLE FakeStdError = reinterpret_cast<HANDLE>(0x12);
const HANDLE CurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

} // namespace

FakePlatform::FakePlatform()
    : m_administrators(new FakeSid{SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}}),
      m_previous(Platform::Install(this)) {
    privileges[L"SeSecurityPrivilege"] = {{8, 0}, true, false};
    privileges[L"SeShutdownPrivilege"] = {{19, 0}, true, false};
    // An administrator's token holds the debug privilege, switched off until a program asks for it.
    privileges[L"SeDebugPrivilege"] = {{20, 0}, true, false};
    messages[5] = L"Accès refusé.\r\n";
    messages[1060] = L"Le service spécifié n'existe pas en tant que service installé.\r\n";
}

size_t FakePlatform::s_objectsLeftOpen = 0;
const wchar_t FakePlatform::CtrlC[] = L"<Ctrl+C>";

FakePlatform::~FakePlatform() {
    if (m_handlerThread.joinable())
        m_handlerThread.join();
    const size_t open = OpenObjects();
    s_objectsLeftOpen += open > m_keptOpen ? open - m_keptOpen : 0;
    Platform::Install(m_previous);
    for (FakeSid* sid : m_sids)
        delete sid;
    for (wchar_t* block : m_localBlocks)
        delete[] block;
}

void FakePlatform::FailCall(const std::string& operation, DWORD code, int occurrence, int times) {
    m_injections[operation] = {occurrence, code, times};
}

int FakePlatform::Calls(const std::string& operation) const {
    auto found = m_calls.find(operation);
    return found == m_calls.end() ? 0 : found->second;
}

std::map<std::string, int> FakePlatform::FailableCalls() const {
    std::map<std::string, int> calls;
    for (const std::string& operation : m_failable)
        calls[operation] = Calls(operation);
    return calls;
}

size_t FakePlatform::OpenObjects() const {
    return OpenHandles() + m_managers.size() + m_serviceHandles.size() + m_registryKeys.size() + m_locks.size() +
           m_sids.size() + m_localBlocks.size();
}

bool FakePlatform::Fails(const char* operation) {
    MeetControlHandler();
    if (!ctrlCDuringCall.empty() && ctrlCDuringCall == operation) {
        ctrlCDuringCall.clear();
        RunControlHandler();
    }
    auto counted = m_calls.find(operation);
    if (counted == m_calls.end())
        counted = m_calls.emplace(operation, 0).first;
    ++counted->second;
    if (m_failable.find(operation) == m_failable.end())
        m_failable.emplace(operation);
    auto found = m_injections.find(operation);
    if (found == m_injections.end() || --found->second.countdown > 0)
        return false;
    const DWORD code = found->second.code;
    if (--found->second.times == 0)
        m_injections.erase(found);
    else
        found->second.countdown = 1;
    ::SetLastError(code);
    return true;
}

LSTATUS FakePlatform::RegistryFailure(const char* operation) {
    const DWORD before = ::GetLastError();
    if (!Fails(operation))
        return ERROR_SUCCESS;
    const auto injected = static_cast<LSTATUS>(::GetLastError());
    ::SetLastError(before);
    return injected;
}

BOOL FakePlatform::Fail(DWORD code) {
    ::SetLastError(code);
    return FALSE;
}

HANDLE FakePlatform::NewHandle(HandleKind kind) {
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_handles[handle] = kind;
    return handle;
}

bool FakePlatform::IsHandle(HANDLE handle, HandleKind kind) const {
    auto found = m_handles.find(handle);
    return found != m_handles.end() && found->second == kind;
}

bool FakePlatform::IsPrivilegeEnabled(const std::wstring& name) const {
    auto found = privileges.find(name);
    return found != privileges.end() && found->second.enabled;
}

DWORD FakePlatform::FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD, va_list*) {
    if (Fails("FormatMessageW"))
        return 0;
    auto found = messages.find(messageId);
    if (found == messages.end() || !(flags & FORMAT_MESSAGE_ALLOCATE_BUFFER))
        return Fail(ERROR_MR_MID_NOT_FOUND);
    auto* text = new wchar_t[found->second.size() + 1];
    std::wcscpy(text, found->second.c_str());
    m_localBlocks.insert(text);
    *reinterpret_cast<wchar_t**>(buffer) = text;
    return static_cast<DWORD>(found->second.size());
}

HLOCAL FakePlatform::LocalFree(HLOCAL memory) {
    auto* block = static_cast<wchar_t*>(memory);
    if (m_localBlocks.erase(block) == 0)
        return memory;
    delete[] block;
    return nullptr;
}

// The OEM code page is modelled as the identity on the first 256 characters.
int FakePlatform::WideCharToMultiByte(UINT, DWORD, LPCWCH wide, int wideCount, LPSTR narrow, int narrowSize, LPCCH,
                                      LPBOOL) {
    if (Fails("WideCharToMultiByte"))
        return 0;
    const int count = wideCount < 0 ? static_cast<int>(std::wcslen(wide)) + 1 : wideCount;
    if (narrowSize == 0)
        return count;
    if (narrowSize < count)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    for (int i = 0; i < count; ++i)
        narrow[i] = static_cast<char>(wide[i] <= 0xFF ? wide[i] : L'?');
    return count;
}

HANDLE FakePlatform::GetCurrentProcess() { return CurrentProcess; }

BOOL FakePlatform::OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    if (Fails("OpenProcessToken"))
        return FALSE;
    if (process != CurrentProcess)
        return Fail(ERROR_INVALID_HANDLE);
    *token = NewHandle(HandleKind::ProcessToken);
    return TRUE;
}

BOOL FakePlatform::LookupPrivilegeValueW(LPCWSTR, LPCWSTR name, PLUID luid) {
    if (Fails("LookupPrivilegeValueW"))
        return FALSE;
    auto found = privileges.find(name ? name : L"");
    if (found == privileges.end())
        return Fail(ERROR_NO_SUCH_PRIVILEGE);
    *luid = found->second.luid;
    return TRUE;
}

// AdjustTokenPrivileges: PreviousState receives the privileges that the call changed, with their
// attributes before; a PreviousState too small fails the call before anything changes.
BOOL FakePlatform::AdjustTokenPrivileges(HANDLE token, BOOL, PTOKEN_PRIVILEGES newState, DWORD length,
                                         PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
    if (Fails("AdjustTokenPrivileges"))
        return FALSE;
    if (!IsHandle(token, HandleKind::ProcessToken))
        return Fail(ERROR_INVALID_HANDLE);
    std::vector<std::pair<Privilege*, bool>> changes;
    DWORD outcome = ERROR_SUCCESS;
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        for (auto& [name, privilege] : privileges) {
            if (privilege.luid.LowPart != entry.Luid.LowPart)
                continue;
            const bool enable = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            if (!privilege.held)
                outcome = ERROR_NOT_ALL_ASSIGNED;
            else if (privilege.enabled != enable)
                changes.emplace_back(&privilege, enable);
        }
    }
    if (previousState) {
        const DWORD bytes = static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                                               changes.size() * sizeof(LUID_AND_ATTRIBUTES));
        if (!returnLength)
            return Fail(ERROR_INVALID_PARAMETER);
        *returnLength = bytes;
        if (length < bytes)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        previousState->PrivilegeCount = static_cast<DWORD>(changes.size());
        for (size_t i = 0; i < changes.size(); ++i)
            previousState->Privileges[i] = {changes[i].first->luid,
                                            changes[i].first->enabled ? SE_PRIVILEGE_ENABLED : 0u};
    }
    for (auto& [privilege, enable] : changes)
        privilege->enabled = enable;
    ::SetLastError(outcome);
    return TRUE;
}

BOOL FakePlatform::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                       PDWORD returnLength) {
    if (Fails("GetTokenInformation"))
        return FALSE;
    if (!IsHandle(token, HandleKind::ProcessToken) || infoClass != TokenGroups)
        return Fail(ERROR_INVALID_PARAMETER);
    // A user SID group and, when configured, the Administrators group.
    static FakeSid users{SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}};
    std::vector<SID_AND_ATTRIBUTES> groups = {{&users, SE_GROUP_ENABLED}};
    if (tokenHasAdministrators)
        groups.push_back({m_administrators.get(), administratorsAttributes});
    const DWORD needed =
        static_cast<DWORD>(offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES));
    *returnLength = needed;
    if (length < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* list = static_cast<TOKEN_GROUPS*>(info);
    list->GroupCount = static_cast<DWORD>(groups.size());
    std::memcpy(list->Groups, groups.data(), groups.size() * sizeof(SID_AND_ATTRIBUTES));
    return TRUE;
}

BOOL FakePlatform::AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                            DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                            PSID* sid) {
    if (Fails("AllocateAndInitializeSid"))
        return FALSE;
    if (count > 8)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD all[] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    auto* made = new FakeSid{*authority, std::vector<DWORD>(all, all + count)};
    m_sids.insert(made);
    *sid = made;
    return TRUE;
}

BOOL FakePlatform::EqualSid(PSID a, PSID b) {
    const auto* left = static_cast<const FakeSid*>(a);
    const auto* right = static_cast<const FakeSid*>(b);
    ::SetLastError(ERROR_SUCCESS);
    return std::memcmp(&left->authority, &right->authority, sizeof left->authority) == 0 &&
           left->subAuthorities == right->subAuthorities;
}

BOOL FakePlatform::CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
    if (Fails("CheckTokenMembership"))
        return FALSE;
    if (IsHandle(token, HandleKind::ProcessToken) && membershipNeedsImpersonation)
        return Fail(ERROR_NO_IMPERSONATION_TOKEN);
    if (!IsHandle(token, HandleKind::ProcessToken) && !IsHandle(token, HandleKind::ImpersonationToken))
        return Fail(ERROR_INVALID_HANDLE);
    const bool enabledAdministrators =
        tokenHasAdministrators && (administratorsAttributes & SE_GROUP_ENABLED) != 0;
    *isMember = enabledAdministrators && EqualSid(sid, m_administrators.get());
    return TRUE;
}

BOOL FakePlatform::DuplicateTokenEx(HANDLE token, DWORD, LPSECURITY_ATTRIBUTES, SECURITY_IMPERSONATION_LEVEL,
                                    TOKEN_TYPE type, PHANDLE newToken) {
    if (Fails("DuplicateTokenEx"))
        return FALSE;
    if (!IsHandle(token, HandleKind::ProcessToken))
        return Fail(ERROR_INVALID_HANDLE);
    *newToken = NewHandle(type == TokenImpersonation ? HandleKind::ImpersonationToken : HandleKind::ProcessToken);
    return TRUE;
}

PVOID FakePlatform::FreeSid(PSID sid) {
    auto* fake = static_cast<FakeSid*>(sid);
    if (m_sids.erase(fake) == 0)
        return sid;
    delete fake;
    return nullptr;
}

BOOL FakePlatform::CloseHandle(HANDLE handle) {
    if (Fails("CloseHandle"))
        return FALSE;
    if (m_handles.erase(handle) == 0 && m_processHandles.erase(handle) == 0)
        return Fail(ERROR_INVALID_HANDLE);
    m_inheritable.erase(handle);
    return TRUE;
}

DWORD FakePlatform::GetTickCount() {
    ++m_calls["GetTickCount"];
    for (auto event = timedEvents.begin(); event != timedEvents.end();) {
        if (tick < event->tick) {
            ++event;
            continue;
        }
        const std::function<void()> action = std::move(event->action);
        event = timedEvents.erase(event);
        action();
    }
    return tick;
}

void FakePlatform::Sleep(DWORD milliseconds) {
    ++m_calls["Sleep"];
    sleeps.push_back(milliseconds);
    tick += milliseconds;
    if (ctrlCAtSleep > 0 && --ctrlCAtSleep == 0)
        RunControlHandler();
}

// SetConsoleCtrlHandler: the last handler added is the first called.
BOOL FakePlatform::SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    if (Fails("SetConsoleCtrlHandler"))
        return FALSE;
    if (add)
        m_controlHandler = handler;
    return TRUE;
}

// Without a console, as in CI, the title cannot be set.
BOOL FakePlatform::SetConsoleTitleW(LPCWSTR text) {
    if (Fails("SetConsoleTitleW"))
        return FALSE;
    if (!outputIsConsole)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    title = text;
    return TRUE;
}

DWORD FakePlatform::GetConsoleTitleW(LPWSTR text, DWORD size) {
    if (Fails("GetConsoleTitleW") || size == 0)
        return 0;
    const size_t copied = title.size() < size ? title.size() : size - 1;
    std::wmemcpy(text, title.c_str(), copied);
    text[copied] = L'\0';
    return static_cast<DWORD>(copied);
}

HANDLE FakePlatform::GetStdHandle(DWORD which) {
    ++m_calls["GetStdHandle"];
    switch (which) {
    case STD_INPUT_HANDLE: return FakeStdInput;
    case STD_OUTPUT_HANDLE: return FakeStdOutput;
    case STD_ERROR_HANDLE: return FakeStdError;
    default: return nullptr;
    }
}

bool FakePlatform::IsConsoleOutput(HANDLE handle) const {
    return (handle == FakeStdOutput && outputIsConsole) || (handle == FakeStdError && errorIsConsole);
}

// GetConsoleMode: fails on a handle that is no console (a redirected one); a new console has line,
// processed and echo input, and processed output with wrapping.
BOOL FakePlatform::GetConsoleMode(HANDLE console, LPDWORD mode) {
    if (Fails("GetConsoleMode"))
        return FALSE;
    if (console == FakeStdInput && inputIsConsole) {
        *mode = inputMode;
        return TRUE;
    }
    if (!IsConsoleOutput(console))
        return Fail(ERROR_INVALID_HANDLE);
    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    return TRUE;
}

// SetConsoleMode: the input modes of the input console; ENABLE_ECHO_INPUT needs ENABLE_LINE_INPUT.
BOOL FakePlatform::SetConsoleMode(HANDLE console, DWORD mode) {
    if (Fails("SetConsoleMode"))
        return FALSE;
    if (console != FakeStdInput || !inputIsConsole)
        return Fail(ERROR_INVALID_HANDLE);
    if ((mode & ENABLE_ECHO_INPUT) && !(mode & ENABLE_LINE_INPUT))
        return Fail(ERROR_INVALID_PARAMETER);
    inputMode = mode;
    return TRUE;
}

BOOL FakePlatform::GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) {
    if (Fails("GetConsoleScreenBufferInfo"))
        return FALSE;
    if (!IsConsoleOutput(console))
        return Fail(ERROR_INVALID_HANDLE);
    *info = {};
    info->dwSize = screenSize;
    info->dwCursorPosition = cursor;
    return TRUE;
}

BOOL FakePlatform::FillConsoleOutputCharacterW(HANDLE, WCHAR, DWORD length, COORD, LPDWORD written) {
    if (Fails("FillConsoleOutputCharacterW"))
        return FALSE;
    filledCells = *written = length;
    return TRUE;
}

BOOL FakePlatform::SetConsoleCursorPosition(HANDLE, COORD position) {
    if (Fails("SetConsoleCursorPosition"))
        return FALSE;
    cursor = position;
    return TRUE;
}

// WriteConsole: fails on a standard handle that was redirected to something other than a console.
BOOL FakePlatform::WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID) {
    if (Fails("WriteConsoleW"))
        return FALSE;
    if (!IsConsoleOutput(console))
        return Fail(ERROR_INVALID_HANDLE);
    // The WriteConsole page says nothing of surrogate pairs: the strictest reading is taken, each
    // write read on its own, so that half of a pair cut from its other half by the end or the start
    // of a write shows as the replacement character.
    const auto* characters = static_cast<const wchar_t*>(text);
    for (DWORD i = 0; i < length; ++i) {
        const wchar_t c = characters[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        const bool pairedHigh = high && i + 1 < length && characters[i + 1] >= 0xDC00 && characters[i + 1] <= 0xDFFF;
        const bool pairedLow = low && i > 0 && characters[i - 1] >= 0xD800 && characters[i - 1] <= 0xDBFF;
        ShowOnConsole((high && !pairedHigh) || (low && !pairedLow) ? L'\xFFFD' : c);
    }
    *written = length;
    return TRUE;
}

// Processed output (the ENABLE_PROCESSED_OUTPUT and ENABLE_WRAP_AT_EOL_OUTPUT modes of
// SetConsoleMode's page): backspace, carriage return and line feed move the cursor, and a line
// that reaches the last cell goes on at the start of the next.
void FakePlatform::ShowOnConsole(wchar_t c) {
    consoleText += c;
    switch (c) {
    case L'\b':
        cursor.X = static_cast<SHORT>(std::max(cursor.X - 1, 0));
        break;
    case L'\r':
    case L'\n':
        cursor.X = 0;
        break;
    default:
        cursor.X = static_cast<SHORT>(cursor.X + 1 < screenSize.X ? cursor.X + 1 : 0);
    }
}

std::wstring FakePlatform::ConsoleShows() const {
    std::wstring shown;
    std::wstring line;
    size_t column = 0;
    auto endLine = [&] {
        line.erase(line.find_last_not_of(L' ') + 1);
        shown += line;
        line.clear();
        column = 0;
    };
    for (wchar_t c : consoleText) {
        if (c == L'\b') {
            column -= column > 0 ? 1 : 0;
        } else if (c == L'\r') {
            column = 0;
        } else if (c == L'\n') {
            endLine();
            shown += L'\n';
        } else {
            line.resize(std::max(line.size(), column + 1), L' ');
            line[column++] = c;
        }
    }
    endLine();
    return shown;
}

// ReadConsole with line, processed and echo input (GetConsoleMode's page): a read returns once
// Enter is pressed, with the line and CR LF, echoed to the screen; a read smaller than the line
// leaves the rest for the next one. Ctrl+C is no input: the system runs the control handlers on a
// new thread (HandlerRoutine's page) and, as on Windows, the pending read returns with nothing.
// With nothing more typed, the user ends the input as console users do, with Ctrl+Z and Enter.
BOOL FakePlatform::ReadConsoleW(HANDLE console, LPVOID text, DWORD length, LPDWORD read,
                                PCONSOLE_READCONSOLE_CONTROL control) {
    if (Fails("ReadConsoleW"))
        return FALSE;
    if (console != FakeStdInput || !inputIsConsole)
        return Fail(ERROR_INVALID_HANDLE);
    if (control && (control->dwCtrlWakeupMask & (1UL << L'\t')) && m_pendingInput.empty() && !typedLines.empty() &&
        typedLines.front() != CtrlC)
        return ReadConsoleUntilTab(static_cast<wchar_t*>(text), length, read, *control);
    if (m_pendingInput.empty()) {
        const std::wstring line = typedLines.empty() ? std::wstring(L"\x1A") : typedLines.front();
        if (!typedLines.empty())
            typedLines.pop_front();
        if (line == CtrlC) {
            RunControlHandler();
            *read = 0;
            return TRUE;
        }
        m_pendingInput.assign(line.begin(), line.end());
        m_pendingInput.push_back(L'\r');
        m_pendingInput.push_back(L'\n');
        if (inputMode & ENABLE_ECHO_INPUT)
            for (wchar_t c : line + L"\r\n")
                ShowOnConsole(c);
    }
    const DWORD count = static_cast<DWORD>(std::min<size_t>(length, m_pendingInput.size()));
    std::copy(m_pendingInput.begin(), m_pendingInput.begin() + count, static_cast<wchar_t*>(text));
    m_pendingInput.erase(m_pendingInput.begin(), m_pendingInput.begin() + count);
    *read = count;
    return TRUE;
}

// A read that a Tab ends (CONSOLE_READCONSOLE_CONTROL's page): the characters typed go after the
// initial ones that the caller kept in the buffer, and the Tab, where the cursor is, ends the read
// with the whole line; the keys typed after it wait for the next read. Shift+Tab is a Tab with
// the Shift key's state. The console shows what is typed, not the Tab.
BOOL FakePlatform::ReadConsoleUntilTab(wchar_t* text, DWORD length, LPDWORD read,
                                       CONSOLE_READCONSOLE_CONTROL& control) {
    if (control.nLength != sizeof control || control.nInitialChars >= length)
        return Fail(ERROR_INVALID_PARAMETER);
    std::wstring keys = typedLines.front();
    typedLines.pop_front();
    const size_t tab = keys.find_first_of(std::wstring{L'\t', ShiftTab});
    std::wstring typed = keys.substr(0, tab);
    control.dwControlKeyState = 0;
    if (inputMode & ENABLE_ECHO_INPUT)
        for (wchar_t c : typed + (tab == std::wstring::npos ? L"\r\n" : L""))
            ShowOnConsole(c);
    if (tab == std::wstring::npos) {
        typed += L"\r\n";
    } else {
        control.dwControlKeyState = keys[tab] == ShiftTab ? SHIFT_PRESSED : 0;
        typed += L'\t';
        typedLines.push_front(keys.substr(tab + 1));
    }
    // As without a Tab, what the buffer cannot hold waits for the next read.
    const DWORD count = std::min<DWORD>(length - control.nInitialChars, static_cast<DWORD>(typed.size()));
    std::copy(typed.begin(), typed.begin() + count, text + control.nInitialChars);
    m_pendingInput.assign(typed.begin() + count, typed.end());
    *read = control.nInitialChars + count;
    return TRUE;
}

void FakePlatform::RunControlHandler() {
    if (!m_controlHandler)
        return;
    const LastErrorKeeper keep;
    if (m_handlerThread.joinable())
        m_handlerThread.join();
    std::unique_lock<std::mutex> lock(m_handlerMutex);
    m_handlerState = HandlerState::Running;
    m_handlerThread = std::thread([this] {
        m_controlHandler(CTRL_C_EVENT);
        const std::lock_guard<std::mutex> finished(m_handlerMutex);
        m_handlerState = HandlerState::Finished;
        m_handlerChanged.notify_all();
    });
    m_handlerChanged.wait(lock, [this] {
        return m_handlerState == HandlerState::Halted || m_handlerState == HandlerState::WaitingForLock ||
               m_handlerState == HandlerState::Finished;
    });
}

// The thread library may touch the last-error value; the calls of the machine keep it.
void FakePlatform::MeetControlHandler() {
    const LastErrorKeeper keep;
    std::unique_lock<std::mutex> lock(m_handlerMutex);
    if (std::this_thread::get_id() == m_handlerThread.get_id()) {
        if (m_handlerState != HandlerState::Running)
            return;
        m_handlerState = HandlerState::Halted;
        m_handlerChanged.notify_all();
        m_handlerChanged.wait(lock, [this] { return m_handlerState != HandlerState::Halted; });
        return;
    }
    if (m_handlerState != HandlerState::Halted)
        return;
    ++callsBesideControlHandler;
    m_handlerState = HandlerState::Resumed;
    m_handlerChanged.notify_all();
    m_handlerChanged.wait(lock, [this] { return m_handlerState == HandlerState::Finished; });
}

// AcquireSRWLockExclusive: a real lock, since the control handler's thread is real. A main thread
// that waits for it while the control handler is halfway through its work lets the handler go on
// and waits its turn; when the handler does not hold the lock, the two threads would work at once:
// that is counted, and the main thread waits for the handler to finish. A handler that finds the
// lock held by the main thread (Ctrl+C pressed in the middle of a command) waits for it, and then
// works alone: the main thread that lets that lock go (not another one) waits for it to finish.
void FakePlatform::AcquireSRWLockExclusive(PSRWLOCK lock) {
    const LastErrorKeeper keep;
    std::unique_lock<std::mutex> guard(m_handlerMutex);
    if (m_handlerThread.joinable() && std::this_thread::get_id() == m_handlerThread.get_id()) {
        if (::TryAcquireSRWLockExclusive(lock))
            return;
        m_handlerState = HandlerState::WaitingForLock;
        m_handlerAwaits = lock;
        m_handlerChanged.notify_all();
        guard.unlock();
        ::AcquireSRWLockExclusive(lock);
        guard.lock();
        m_handlerState = HandlerState::Resumed;
        return;
    }
    if (m_handlerState == HandlerState::Halted && std::this_thread::get_id() != m_handlerThread.get_id()) {
        const bool heldByHandler = !::TryAcquireSRWLockExclusive(lock);
        if (!heldByHandler) {
            ::ReleaseSRWLockExclusive(lock);
            ++callsBesideControlHandler;
        }
        m_handlerState = HandlerState::Resumed;
        m_handlerChanged.notify_all();
        if (!heldByHandler)
            m_handlerChanged.wait(guard, [this] { return m_handlerState == HandlerState::Finished; });
    }
    guard.unlock();
    ::AcquireSRWLockExclusive(lock);
}

void FakePlatform::ReleaseSRWLockExclusive(PSRWLOCK lock) {
    const LastErrorKeeper keep;
    ::ReleaseSRWLockExclusive(lock);
    std::unique_lock<std::mutex> guard(m_handlerMutex);
    if (m_handlerState == HandlerState::WaitingForLock && lock == m_handlerAwaits &&
        std::this_thread::get_id() != m_handlerThread.get_id())
        m_handlerChanged.wait(guard, [this] { return m_handlerState == HandlerState::Finished; });
}

long long FakePlatform::ManagerAccess(SC_HANDLE manager) {
    auto found = m_managers.find(manager);
    if (found == m_managers.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (Unanswered(m_managerMachines[manager]))
        return -1;
    return found->second;
}

// "System Error Codes (1700-3999)": RPC_S_SERVER_UNAVAILABLE, the RPC server is unavailable.
bool FakePlatform::Unanswered(const std::wstring& machine) {
    if (!m_silentMachines.count(machine))
        return false;
    ++unansweredCalls;
    tick += RpcTimeout;
    ::SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return true;
}

bool FakePlatform::Answers(const std::wstring& machine) const {
    const size_t start = machine.find_first_not_of(L'\\');
    const std::wstring name = start == std::wstring::npos ? std::wstring() : machine.substr(start);
    return !unreachableMachines.count(machine) && !m_silentMachines.count(name);
}

void FakePlatform::AnswerAgain(const std::wstring& machine) {
    m_silentMachines.erase(machine);
    for (auto manager = m_managerMachines.begin(); manager != m_managerMachines.end();) {
        if (manager->second == machine) {
            m_managers.erase(manager->first);
            manager = m_managerMachines.erase(manager);
        } else {
            ++manager;
        }
    }
    for (auto service = m_serviceHandles.begin(); service != m_serviceHandles.end();)
        service = service->second.machine == machine ? m_serviceHandles.erase(service) : std::next(service);
    for (auto lock = m_locks.begin(); lock != m_locks.end();)
        lock = lock->second == machine ? m_locks.erase(lock) : std::next(lock);
}

namespace {

std::wstring WithoutLeadingBackslashes(const std::wstring& machine) {
    const size_t start = machine.find_first_not_of(L'\\');
    return start == std::wstring::npos ? std::wstring() : machine.substr(start);
}

} // namespace

LedgerEntry FakePlatform::NewEntry(const char* call, const std::wstring& machine) {
    MeetControlHandler();
    LedgerEntry entry;
    entry.machine = WithoutLeadingBackslashes(machine);
    entry.thisComputer = IsThisComputer(machine);
    entry.call = call;
    return entry;
}

LedgerEntry FakePlatform::ManagerEntry(const char* call, SC_HANDLE manager) {
    MeetControlHandler();
    const auto found = m_managerMachines.find(manager);
    LedgerEntry entry = NewEntry(call, found == m_managerMachines.end() ? std::wstring() : found->second);
    entry.target = entry.machine;
    return entry;
}

std::vector<LedgerEntry> FakePlatform::LedgerOf(const std::string& call, size_t from) const {
    std::vector<LedgerEntry> entries;
    for (size_t i = from; i < ledger.size(); ++i)
        if (ledger[i].call == call)
            entries.push_back(ledger[i]);
    return entries;
}

LSTATUS FakePlatform::RecordedRegistry(LedgerEntry& entry, LSTATUS status) {
    entry.outcome = static_cast<DWORD>(status);
    ledger.push_back(entry);
    return status;
}

namespace {

// "Service Security and Access Rights": the generic rights of the manager and their specific ones.
DWORD SpecificManagerAccess(DWORD access) {
    const struct {
        DWORD generic;
        DWORD specific;
    } mapping[] = {
        {GENERIC_READ, STANDARD_RIGHTS_READ | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS},
        {GENERIC_WRITE, STANDARD_RIGHTS_WRITE | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG},
        {GENERIC_EXECUTE, STANDARD_RIGHTS_EXECUTE | SC_MANAGER_CONNECT | SC_MANAGER_LOCK},
        {GENERIC_ALL, SC_MANAGER_ALL_ACCESS},
    };
    DWORD specific = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    for (const auto& entry : mapping)
        if (access & entry.generic)
            specific |= entry.specific;
    return specific;
}

// The same page: what the manager's default security grants to a local authenticated user.
const DWORD UnelevatedManagerAccess =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;

} // namespace

// OpenSCManagerW: a right that the caller's token may not have fails the open with ERROR_ACCESS_DENIED.
SC_HANDLE FakePlatform::OpenSCManagerW(LPCWSTR machineName, LPCWSTR, DWORD access) {
    if (Fails("OpenSCManagerW"))
        return nullptr;
    const std::wstring machine = machineName ? machineName : L"";
    if (unreachableMachines.count(machine)) {
        ::SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    if (Unanswered(WithoutLeadingBackslashes(machine)))
        return nullptr;
    const DWORD granted = SpecificManagerAccess(access);
    if (!elevated && (granted & ~UnelevatedManagerAccess)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // The same page: a remote authenticated user is granted SC_MANAGER_CONNECT alone.
    if (!remoteAdministrator && !IsThisComputer(machine) && (granted & ~SC_MANAGER_CONNECT)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto manager = static_cast<SC_HANDLE>(NewToken());
    m_managers[manager] = granted;
    m_managerMachines[manager] = WithoutLeadingBackslashes(machine);
    openedMachines.push_back(machine);
    return manager;
}

BOOL FakePlatform::CloseServiceHandle(SC_HANDLE handle) {
    if (Fails("CloseServiceHandle"))
        return FALSE;
    auto manager = m_managerMachines.find(handle);
    if (manager != m_managerMachines.end() && Unanswered(manager->second))
        return FALSE;
    if (m_managers.erase(handle) != 0) {
        m_managerMachines.erase(handle);
        return TRUE;
    }
    auto service = m_serviceHandles.find(handle);
    if (service == m_serviceHandles.end())
        return Fail(ERROR_INVALID_HANDLE);
    if (Unanswered(service->second.machine))
        return FALSE;
    const std::wstring name = service->second.name;
    m_serviceHandles.erase(service);
    RemoveIfDeletable(name);
    return TRUE;
}

namespace {

// The ledger names a lock by its handle, which the fake hands out as a small number.
DWORD LockNumber(SC_LOCK lock) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(lock));
}

} // namespace

SC_LOCK FakePlatform::LockServiceDatabase(SC_HANDLE manager) {
    LedgerEntry entry = ManagerEntry("LockServiceDatabase", manager);
    return Recorded(entry, [&]() -> SC_LOCK {
        if (Fails("LockServiceDatabase"))
            return nullptr;
        const long long access = ManagerAccess(manager);
        if (access < 0)
            return nullptr;
        if (!(access & SC_MANAGER_LOCK)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if (IsDatabaseLocked()) {
            ::SetLastError(ERROR_SERVICE_DATABASE_LOCKED);
            return nullptr;
        }
        SC_LOCK lock = NewToken();
        m_locks[lock] = m_managerMachines[manager];
        entry.detail = LockNumber(lock);
        return lock;
    });
}

BOOL FakePlatform::UnlockServiceDatabase(SC_LOCK lock) {
    LedgerEntry entry = NewEntry("UnlockServiceDatabase", L"");
    const auto held = m_locks.find(lock);
    if (held != m_locks.end()) {
        entry.machine = held->second;
        entry.thisComputer = IsThisComputer(held->second);
    }
    entry.target = entry.machine;
    entry.detail = LockNumber(lock);
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("UnlockServiceDatabase"))
            return FALSE;
        if (m_locks.erase(lock) == 0)
            return Fail(ERROR_INVALID_SERVICE_LOCK);
        return TRUE;
    });
}

BOOL FakePlatform::QueryServiceLockStatusW(SC_HANDLE manager, LPQUERY_SERVICE_LOCK_STATUSW status, DWORD size,
                                           LPDWORD needed) {
    if (Fails("QueryServiceLockStatusW"))
        return FALSE;
    const long long access = ManagerAccess(manager);
    if (access < 0)
        return FALSE;
    if (!(access & SC_MANAGER_QUERY_LOCK_STATUS))
        return Fail(ERROR_ACCESS_DENIED);
    const std::wstring owner = !lockedByOther.empty() ? lockedByOther : (m_locks.empty() ? L"" : L".\\Orvel");
    const DWORD bytes = static_cast<DWORD>(sizeof(QUERY_SERVICE_LOCK_STATUSW) + (owner.size() + 1) * sizeof(wchar_t));
    *needed = bytes;
    if (size < bytes)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* text = reinterpret_cast<wchar_t*>(status + 1);
    std::wcscpy(text, owner.c_str());
    status->fIsLocked = IsDatabaseLocked();
    status->lpLockOwner = lockOwnerKnown ? text : nullptr;
    status->dwLockDuration = lockDuration;
    return TRUE;
}

// NotifyBootConfigStatus: administrators only; a good boot is saved once; a bad one restarts the
// machine and the call never returns (here it does, with the restart recorded).
BOOL FakePlatform::NotifyBootConfigStatus(BOOL bootAcceptable) {
    LedgerEntry entry = NewEntry("NotifyBootConfigStatus", L"");
    entry.detail = bootAcceptable ? TRUE : FALSE;
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("NotifyBootConfigStatus"))
            return FALSE;
        if (!elevated)
            return Fail(ERROR_ACCESS_DENIED);
        bootNotices.push_back(bootAcceptable);
        if (!bootAcceptable) {
            restartRequested = true;
            return TRUE;
        }
        if (bootAccepted)
            return Fail(ERROR_BOOT_ALREADY_ACCEPTED);
        bootAccepted = true;
        return TRUE;
    });
}

namespace {

// QueryServiceObjectSecurity: the handle needs READ_CONTROL for the owner, the group and the DACL,
// and ACCESS_SYSTEM_SECURITY for the SACL.
DWORD SecurityReadAccess(SECURITY_INFORMATION information) {
    DWORD access = 0;
    if (information & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION))
        access |= READ_CONTROL;
    if (information & SACL_SECURITY_INFORMATION)
        access |= ACCESS_SYSTEM_SECURITY;
    return access;
}

} // namespace

bool FakePlatform::GrantedOnEitherHandle(SC_HANDLE handle, DWORD access, FakeService*& service) {
    if (m_serviceHandles.count(handle))
        return (service = ServiceFor(handle, access)) != nullptr;
    const long long granted = ManagerAccess(handle);
    if (granted < 0)
        return false;
    if ((granted & access) != access) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

BOOL FakePlatform::QueryServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                              PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed) {
    if (Fails("QueryServiceObjectSecurity"))
        return FALSE;
    FakeService* service = nullptr;
    if (!GrantedOnEitherHandle(handle, SecurityReadAccess(information), service))
        return FALSE;
    const std::vector<BYTE>& security = service ? service->security : managerSecurity;
    securityPrivilegeEnabledDuringQuery =
        securityPrivilegeEnabledDuringQuery || (information == SACL_SECURITY_INFORMATION &&
                                                IsPrivilegeEnabled(L"SeSecurityPrivilege"));
    *needed = static_cast<DWORD>(security.size());
    if (size < security.size())
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(descriptor, security.data(), security.size());
    return TRUE;
}

namespace {

// SetServiceObjectSecurity page: WRITE_DAC for the DACL, WRITE_OWNER for the owner and the group,
// ACCESS_SYSTEM_SECURITY for the SACL; the manager's remote protocol (RSetServiceObjectSecurity)
// asks the same of a handle to the manager as of one to a service.
DWORD SecurityWriteAccess(SECURITY_INFORMATION information) {
    DWORD access = 0;
    if (information & DACL_SECURITY_INFORMATION)
        access |= WRITE_DAC;
    if (information & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION))
        access |= WRITE_OWNER;
    if (information & SACL_SECURITY_INFORMATION)
        access |= ACCESS_SYSTEM_SECURITY;
    return access;
}

} // namespace

BOOL FakePlatform::SetServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR) {
    MeetControlHandler();
    LedgerEntry entry = m_serviceHandles.count(handle) ? ServiceEntry("SetServiceObjectSecurity", handle)
                                                       : ManagerEntry("SetServiceObjectSecurity", handle);
    entry.detail = information;
    return Recorded(entry, [&]() -> BOOL {
        if (Fails("SetServiceObjectSecurity"))
            return FALSE;
        FakeService* service = nullptr;
        if (!GrantedOnEitherHandle(handle, SecurityWriteAccess(information), service))
            return FALSE;
        lastSecuritySet = information;
        return TRUE;
    });
}

// Other nodes of a cluster may serve its virtual name: only the physical names are this computer's.
bool FakePlatform::IsThisComputer(const std::wstring& machine) const {
    const size_t start = machine.find_first_not_of(L'\\');
    if (start == std::wstring::npos)
        return true;
    std::wstring name = machine.substr(start);
    if (!name.empty() && name.back() == L'.')
        name.pop_back();
    for (int format = ComputerNamePhysicalNetBIOS; format <= ComputerNamePhysicalDnsFullyQualified; ++format)
        if (format != ComputerNamePhysicalDnsDomain && _wcsicmp(name.c_str(), computerNames[format].c_str()) == 0)
            return true;
    return false;
}

BOOL FakePlatform::GetComputerNameExW(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size) {
    if (Fails("GetComputerNameExW"))
        return FALSE;
    if (format < 0 || format > 7)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::wstring& name = computerNames[format];
    if (!buffer || *size <= name.size()) {
        *size = static_cast<DWORD>(name.size() + 1);
        return Fail(ERROR_MORE_DATA);
    }
    std::wcscpy(buffer, name.c_str());
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}
