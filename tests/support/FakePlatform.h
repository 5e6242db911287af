#pragma once
// A small simulated machine behind the platform seam: tokens and privileges, a console, a clock
// that moves only when the code sleeps, message texts, and failures injected on demand. It
// installs itself for its lifetime and counts every call and every handle still open.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Platform.h"

// One service of the simulated database. Strings that may be null on the platform are optional.
struct FakeService {
    std::wstring name;
    std::wstring displayName;
    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::optional<std::wstring> binaryPath = std::wstring(L"C:\\Services\\service.exe");
    std::optional<std::wstring> group;
    DWORD tag = 0;
    std::vector<std::wstring> dependencies;
    std::optional<std::wstring> account = std::wstring(L"LocalSystem");
    std::optional<std::wstring> description;
    bool delayedAutoStart = false;
    DWORD resetPeriod = 0;
    std::optional<std::wstring> rebootMessage;
    std::optional<std::wstring> command;
    std::vector<SC_ACTION> actions;
    SERVICE_STATUS_PROCESS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0, 0, 0};
    // While not empty, each status read takes the next status (and controls change nothing), so
    // that a test scripts what the service goes through.
    std::deque<SERVICE_STATUS_PROCESS> scriptedStatuses;
    // The rights that OpenServiceW grants; more is refused with ERROR_ACCESS_DENIED.
    DWORD grantableAccess = SERVICE_ALL_ACCESS | ACCESS_SYSTEM_SECURITY;
    // Sets of rights refused when asked together although each is grantable alone: what a machine
    // may answer, and the one case where asking more at once could fail a caller. A request that
    // holds all the rights of one of them is refused with ERROR_ACCESS_DENIED.
    std::vector<DWORD> refusedCombinations;
    std::vector<std::wstring> startArguments;
    std::vector<DWORD> controlsReceived;
    std::vector<BYTE> security = std::vector<BYTE>(24, 0x33);
    // DeleteService marks the service; it leaves the database once no handle is open on it and
    // it is stopped.
    bool markedForDeletion = false;
};

// A process as it was when a change named it.
struct LedgerProcess {
    DWORD id = 0;
    // The services that it hosted and that were not stopped.
    std::vector<std::wstring> services;
    bool critical = false;
    // The system process, or a process that hosts a service that runs in it.
    bool system = false;
    // One of its services has the machine restarted when it fails (SC_ACTION_REBOOT).
    bool rebootOnFailure = false;
};

// One change that a simulated machine was asked to make, in order, with what came of it.
struct LedgerEntry {
    // As the caller named it, without leading backslashes; and whether that is this computer.
    std::wstring machine;
    bool thisComputer = true;
    // The platform's name of the call.
    std::string call;
    // The service's key name, the registry value (key path and value name), or the machine.
    std::wstring target;
    // ERROR_SUCCESS, or the code of the refusal.
    DWORD outcome = ERROR_SUCCESS;
    // The control code, the information level, the start type asked for (ChangeServiceConfigW),
    // the lock, or the boot notice (TRUE: good).
    DWORD detail = 0;
    // The start type before a ChangeServiceConfigW.
    DWORD previous = 0;
    // The services that the target service depends on, directly or not.
    std::vector<std::wstring> dependsOn;
    // The command line of a started process.
    std::wstring commandLine;
    // A registry value before and after the write.
    std::vector<BYTE> dataBefore;
    std::vector<BYTE> dataAfter;
    // TerminateProcess: the process ended; CreateProcessW: each process that its command line
    // names by its id, in order.
    std::vector<LedgerProcess> processes;
};

class FakePlatform : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    // The `occurrence`-th next call of `operation` (its platform name) fails with `code`, and so
    // do the `times` - 1 calls after it.
    void FailCall(const std::string& operation, DWORD code, int occurrence = 1, int times = 1);
    int Calls(const std::string& operation) const;
    // The calls so far of every operation that FailCall can make fail, by name.
    std::map<std::string, int> FailableCalls() const;
    // Everything handed out and not yet given back: handles of every kind, locks, SIDs and
    // message blocks.
    size_t OpenObjects() const;
    // What the simulated machines destroyed so far still had handed out, less what their tests
    // meant to leave (KeepOpen), for the leak check that runs after every test.
    static size_t ObjectsLeftOpen() { return s_objectsLeftOpen; }
    static void ForgetObjectsLeftOpen() { s_objectsLeftOpen = 0; }
    // `count` objects are left open on purpose (a close that the test made fail, for instance).
    void KeepOpen(size_t count) { m_keptOpen += count; }
    // Handles and SIDs handed out and not yet closed or freed.
    size_t OpenHandles() const { return m_handles.size() + m_processHandles.size(); }
    size_t LiveSids() const { return m_sids.size(); }

    // Service control manager. Every machine can be reached but those listed here.
    std::set<std::wstring> unreachableMachines;
    // A remote machine that stops answering (it restarts, or the network goes): from then on every
    // opening of its manager and every call on a handle opened from it waits for the RPC time-out
    // and fails with RPC_S_SERVER_UNAVAILABLE. Once it answers again it has forgotten the handles
    // of its former run, as a restarted machine has: calls on them fail with ERROR_INVALID_HANDLE,
    // and the locks taken through them are gone.
    void StopAnswering(const std::wstring& machine) { m_silentMachines.insert(machine); }
    void AnswerAgain(const std::wstring& machine);
    // The calls that waited for the time-out, and the time-out, added to the clock at each.
    int unansweredCalls = 0;
    static constexpr DWORD RpcTimeout = 45000;
    std::vector<std::wstring> openedMachines;
    // The database lock: held through one of our lock handles, or by another process.
    std::wstring lockedByOther;
    DWORD lockDuration = 0;
    // The platform may not know who holds the lock: the record's owner is then null.
    bool lockOwnerKnown = true;
    size_t OpenLocks() const { return m_locks.size(); }
    bool IsDatabaseLocked() const { return !m_locks.empty() || !lockedByOther.empty(); }
    // An unelevated caller gets from the manager only what its default security grants to
    // authenticated users; the notice of the boot needs an administrator.
    bool elevated = true;
    // Whether the caller is an administrator of the other machines; one that is not gets only
    // SC_MANAGER_CONNECT from their managers.
    bool remoteAdministrator = true;
    std::vector<BOOL> bootNotices;
    // The system accepts the boot itself at the first logon; a notice of a good boot is then refused.
    bool bootAccepted = false;
    // A notice of a bad boot restarts the machine at once, with the last known good configuration.
    bool restartRequested = false;
    std::vector<BYTE> managerSecurity = std::vector<BYTE>(20, 0x5A);
    SECURITY_INFORMATION lastSecuritySet = 0;
    bool securityPrivilegeEnabledDuringQuery = false;
    // Names of this computer, by format (an empty one: the machine has none in that format).
    std::wstring computerNames[8] = {L"QUORVAN-PC", L"quorvan-pc", L"corp.example", L"quorvan-pc.corp.example",
                                     L"QUORVAN-PC", L"quorvan-pc", L"corp.example", L"quorvan-pc.corp.example"};
    std::vector<std::wstring> registryConnections;
    size_t OpenManagers() const { return m_managers.size(); }
    size_t OpenRegistryKeys() const { return m_registryKeys.size(); }

    // Services, in the order of enumeration.
    std::vector<FakeService> services;
    FakeService& AddService(const std::wstring& name, DWORD serviceType = SERVICE_WIN32_OWN_PROCESS);
    FakeService* FindService(const std::wstring& name);
    // The access asked by every OpenServiceW call, in order.
    std::vector<DWORD> serviceOpenings;
    // The name passed to every OpenServiceW call that was not failed on purpose, in order.
    std::vector<std::wstring> serviceNamesOpened;
    size_t OpenServiceHandles() const { return m_serviceHandles.size(); }
    // Privileges seen enabled while a change or query ran.
    bool shutdownPrivilegeEnabledDuringChange = false;
    // Services added to the database right before the next enumeration read (to make it grow).
    // They take the first places of the database order, as names that sort first would: a paged
    // enumeration that already passed them then reads again, at its resume handle, the record
    // that they pushed back.
    std::vector<std::wstring> servicesAddedBeforeNextEnumerationRead;
    // The most an enumeration call fills, whatever the size of the buffer.
    static constexpr DWORD MaximumEnumerationBytes = 256 * 1024;
    DWORD nextTag = 1;
    // The arguments of the last ChangeServiceConfigW call that reached a service.
    struct ConfigChange {
        std::optional<std::wstring> binaryPath;
        bool tagRequested;
        std::optional<std::wstring> password;
    };
    std::optional<ConfigChange> lastConfigChange;

    // Registry: keys by lower-case path from "hklm", values by name.
    struct RegistryValue {
        DWORD type;
        std::vector<BYTE> data;
    };
    std::unordered_map<std::wstring, std::map<std::wstring, RegistryValue>> registry;
    // A 32-bit program on 64-bit Windows, whose keys under Software are redirected.
    bool wow64Process = false;
    void SetRegistryString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& text,
                           DWORD type = REG_SZ);

    // Processes. Several services may report the same process id (a shared service host): ending
    // the process ends every one of them.
    std::set<DWORD> runningProcesses;
    std::vector<std::pair<DWORD, UINT>> terminatedProcesses;
    std::vector<std::wstring> startedCommandLines;
    // The handles that each started process inherited, in the order of startedCommandLines.
    std::vector<std::vector<HANDLE>> startedInheritance;
    // Processes that no one may open, whatever the privileges: the client-server runtime processes
    // and the protected ones. The idle (0) and system (4) processes are refused as well.
    std::set<DWORD> unopenableProcesses;
    // Processes whose end stops the machine (IsProcessCritical), and whether that happened.
    std::set<DWORD> criticalProcesses;
    bool machineStopped = false;
    // Systems before Windows 8.1 lack IsProcessCritical.
    bool hasIsProcessCritical = true;
    // Services that ended without reporting SERVICE_STOPPED, whose failure actions the service
    // manager runs (SERVICE_FAILURE_ACTIONS), in order.
    std::vector<std::wstring> failureActionsRun;
    // Ends a process as if it crashed or was ended: every service it hosts has failed.
    void EndProcess(DWORD processId);
    // Ends a process and gives its id to a new process that has nothing to do with it.
    void ReuseProcessId(DWORD processId);
    // Actions that run on the first reading of the clock at or after their tick.
    struct TimedEvent {
        DWORD tick;
        std::function<void()> action;
    };
    std::vector<TimedEvent> timedEvents;
    // The console's user presses Ctrl+C during the `n`-th sleep from now (0: never).
    int ctrlCAtSleep = 0;

    // Tokens
    struct Privilege {
        LUID luid;
        bool held;
        bool enabled;
    };
    std::map<std::wstring, Privilege> privileges;
    // Whether the process token lists the Administrators group, and with which attributes.
    bool tokenHasAdministrators = false;
    DWORD administratorsAttributes = SE_GROUP_ENABLED;
    // Membership tests on a primary token fail with ERROR_NO_IMPERSONATION_TOKEN, as on Windows.
    bool membershipNeedsImpersonation = true;
    bool IsPrivilegeEnabled(const std::wstring& name) const;

    // Clock
    DWORD tick = 0;
    std::vector<DWORD> sleeps;

    // Console: which standard handles are the console, what it shows (whatever the handle
    // written to), and what the user types, line by line; a line that is CtrlC presses Ctrl+C.
    bool outputIsConsole = false;
    bool errorIsConsole = false;
    bool inputIsConsole = false;
    std::wstring title;
    std::wstring consoleText;
    std::deque<std::wstring> typedLines;
    // The input console's mode: a line typed while ENABLE_ECHO_INPUT is off does not show.
    DWORD inputMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT;
    static const wchar_t CtrlC[];
    // In a typed line, Shift+Tab (a Tab is itself).
    static const wchar_t ShiftTab = L'\xE000';
    // Ctrl+C pressed while the main thread makes this call to the machine (once), as it may be
    // while a command is busy.
    std::string ctrlCDuringCall;
    // Times the main thread went on (a call to the machine, or a lock that the handler did not
    // hold) while the control handler was halfway through its work.
    int callsBesideControlHandler = 0;
    COORD screenSize = {80, 25};
    DWORD filledCells = 0;
    // Where the console's cursor stands. A write moves its column as the console does with
    // processed output: a character one cell on (to the next line's start past the last cell), a
    // backspace one back (never past the line's start), a carriage return or a line feed to the
    // line's start. The line it stands on is not followed.
    COORD cursor = {5, 5};
    // What the console shows once consoleText has reached it, as lines that end with a line feed
    // (the last one with whatever follows): a backspace moves one cell back on its line, a
    // character takes the cell under the cursor, a carriage return goes back to the line's start;
    // cells never written and blanks at the end of a line show as nothing. The first line starts
    // at the left edge, and lines longer than the screen stay one line here.
    std::wstring ConsoleShows() const;

    // Every change asked of the machines, refused ones included, in order.
    std::vector<LedgerEntry> ledger;
    // The entries of one call, from position `from` on.
    std::vector<LedgerEntry> LedgerOf(const std::string& call, size_t from = 0) const;
    // Whether `machine` (named as the caller named it) answers.
    bool Answers(const std::wstring& machine) const;
    // Drops every failure injected and not yet used.
    void ClearFailures() { m_injections.clear(); }

    // Message texts of FormatMessageW, by code.
    std::map<DWORD, std::wstring> messages;

    SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD access) override;
    BOOL CloseServiceHandle(SC_HANDLE handle) override;
    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override;
    BOOL UnlockServiceDatabase(SC_LOCK lock) override;
    BOOL QueryServiceLockStatusW(SC_HANDLE manager, LPQUERY_SERVICE_LOCK_STATUSW status, DWORD size,
                                 LPDWORD needed) override;
    BOOL NotifyBootConfigStatus(BOOL bootAcceptable) override;
    BOOL QueryServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                    PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed) override;
    BOOL SetServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                  PSECURITY_DESCRIPTOR descriptor) override;
    SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) override;
    SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD access,
                             DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName,
                             LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                             LPCWSTR password) override;
    BOOL DeleteService(SC_HANDLE service) override;
    BOOL StartServiceW(SC_HANDLE service, DWORD argumentCount, LPCWSTR* arguments) override;
    BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) override;
    BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) override;
    BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                              LPDWORD needed) override;
    BOOL QueryServiceConfigW(SC_HANDLE service, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed) override;
    BOOL QueryServiceConfig2W(SC_HANDLE service, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) override;
    BOOL ChangeServiceConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                              LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies,
                              LPCWSTR serviceStartName, LPCWSTR password, LPCWSTR displayName) override;
    BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info) override;
    BOOL EnumDependentServicesW(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
                                LPDWORD needed, LPDWORD returned) override;
    BOOL GetServiceKeyNameW(SC_HANDLE manager, LPCWSTR displayName, LPWSTR keyName, LPDWORD size) override;
    BOOL GetServiceDisplayNameW(SC_HANDLE manager, LPCWSTR keyName, LPWSTR displayName, LPDWORD size) override;
    BOOL EnumServicesStatusExW(SC_HANDLE manager, SC_ENUM_TYPE level, DWORD serviceType, DWORD serviceState,
                               LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle,
                               LPCWSTR group) override;
    BOOL EnumServiceGroupW(SC_HANDLE manager, DWORD serviceType, DWORD serviceState, LPENUM_SERVICE_STATUSW buffer,
                           DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle, LPCWSTR group) override;
    LSTATUS RegConnectRegistryW(LPCWSTR machineName, HKEY root, PHKEY result) override;
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override;
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM access,
                            const LPSECURITY_ATTRIBUTES attributes, PHKEY result, LPDWORD disposition) override;
    LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) override;
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) override;
    LSTATUS RegCloseKey(HKEY key) override;
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
    BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
    BOOL IsProcessCritical(HANDLE process, PBOOL critical) override;
    BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                        LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                        LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                        LPPROCESS_INFORMATION processInformation) override;
    HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) override;
    BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD count, DWORD flags,
                                           PSIZE_T size) override;
    BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute, PVOID value,
                                   SIZE_T size, PVOID previousValue, PSIZE_T returnSize) override;
    void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) override;
    BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size) override;
    DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                         va_list* arguments) override;
    HLOCAL LocalFree(HLOCAL memory) override;
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideCount, LPSTR narrow, int narrowSize,
                            LPCCH defaultChar, LPBOOL usedDefault) override;
    HANDLE GetCurrentProcess() override;
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override;
    BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                               PTOKEN_PRIVILEGES previousState, PDWORD returnLength) override;
    BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                             PDWORD returnLength) override;
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1, DWORD sub2,
                                  DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid) override;
    BOOL EqualSid(PSID a, PSID b) override;
    BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) override;
    BOOL DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                          SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) override;
    PVOID FreeSid(PSID sid) override;
    BOOL CloseHandle(HANDLE handle) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;
    BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) override;
    BOOL SetConsoleTitleW(LPCWSTR text) override;
    DWORD GetConsoleTitleW(LPWSTR text, DWORD size) override;
    HANDLE GetStdHandle(DWORD which) override;
    BOOL GetConsoleMode(HANDLE console, LPDWORD mode) override;
    BOOL SetConsoleMode(HANDLE console, DWORD mode) override;
    BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) override;
    BOOL FillConsoleOutputCharacterW(HANDLE console, WCHAR c, DWORD length, COORD origin, LPDWORD written) override;
    BOOL SetConsoleCursorPosition(HANDLE console, COORD position) override;
    BOOL WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) override;
    BOOL ReadConsoleW(HANDLE console, LPVOID text, DWORD length, LPDWORD read,
                      PCONSOLE_READCONSOLE_CONTROL control) override;
    void AcquireSRWLockExclusive(PSRWLOCK lock) override;
    void ReleaseSRWLockExclusive(PSRWLOCK lock) override;

protected:
    // Counts the call and reports whether an injected failure applies (the code is then set).
    bool Fails(const char* operation);
    // The same for a registry call, which reports through its result alone: the injected code,
    // or ERROR_SUCCESS, with the last-error value left as it was.
    LSTATUS RegistryFailure(const char* operation);
    BOOL Fail(DWORD code);
    enum class HandleKind { ProcessToken, ImpersonationToken, Other };
    HANDLE NewHandle(HandleKind kind);
    // The access granted to an open manager handle, or -1 (with ERROR_INVALID_HANDLE set, or the
    // code of a machine that does not answer).
    long long ManagerAccess(SC_HANDLE manager);
    // Whether the machine behind `machine` does not answer; the call has then waited and failed.
    bool Unanswered(const std::wstring& machine);
    void* NewToken() { return reinterpret_cast<void*>(m_nextHandle += 4); }
    bool HasActiveDependents(const std::wstring& name) const;
    bool IsSystemServiceProcess(DWORD processId) const;
    // Whether the manager handle may enumerate the database (the code set when not).
    bool MayEnumerate(SC_HANDLE manager);
    std::wstring RegistryView(std::wstring path, REGSAM access) const;
    // The service behind an open handle that was granted `access`, or null with the platform's code set.
    FakeService* ServiceFor(SC_HANDLE handle, DWORD access);
    // For the calls that take a manager or a service handle alike: whether `handle` was granted
    // `access` (false with the platform's code set); `service` is the service behind it, or null
    // for a manager.
    bool GrantedOnEitherHandle(SC_HANDLE handle, DWORD access, FakeService*& service);
    // Registry path of a key handle or predefined root; empty when unknown.
    const std::wstring& KeyPath(HKEY key) const;
    template <typename Record>
    BOOL Enumerate(DWORD serviceType, DWORD serviceState, LPCWSTR group, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned, LPDWORD resumeHandle);
    // Every service that depends on `name`, directly or not, each after those that depend on it.
    void CollectDependents(const std::wstring& name, std::set<const FakeService*>& seen,
                           std::vector<const FakeService*>& found) const;
    // Takes a service marked for deletion out of the database once nothing holds it there.
    void RemoveIfDeletable(const std::wstring& name);
    bool IsHandle(HANDLE handle, HandleKind kind) const;
    // A ledger entry for a change on `machine`; the control handler is met first, so that the
    // entry reads the machine as the call will find it.
    LedgerEntry NewEntry(const char* call, const std::wstring& machine);
    LedgerEntry ManagerEntry(const char* call, SC_HANDLE manager);
    LedgerEntry ServiceEntry(const char* call, SC_HANDLE service);
    LedgerEntry RegistryEntry(const char* call, HKEY key, const std::wstring& target);
    LedgerProcess ProcessFacts(DWORD processId) const;
    // Runs the call and records the entry with what came of it; the last-error value stays.
    template <typename Call>
    auto Recorded(LedgerEntry& entry, Call call) -> decltype(call()) {
        const auto result = call();
        const LastErrorKeeper keep;
        entry.outcome = result ? ERROR_SUCCESS : ::GetLastError();
        ledger.push_back(entry);
        return result;
    }
    LSTATUS RecordedRegistry(LedgerEntry& entry, LSTATUS status);

private:
    bool IsConsoleOutput(HANDLE handle) const;
    BOOL ReadConsoleUntilTab(wchar_t* text, DWORD length, LPDWORD read, CONSOLE_READCONSOLE_CONTROL& control);
    // Adds one character to consoleText and moves the cursor as the console does.
    void ShowOnConsole(wchar_t c);
    // The control handler's thread, as the system runs it on Ctrl+C: it stops at its first call to
    // the machine until the main thread either waits for a lock or calls the machine too (which
    // is counted, and then waits for the handler to finish), so the two meet the same way each run.
    // A handler that finds a lock held by the main thread waits for it, and the main thread, once it
    // lets the lock go, waits for the handler to finish.
    void RunControlHandler();
    void MeetControlHandler();
    enum class HandlerState { Idle, Running, WaitingForLock, Halted, Resumed, Finished };

    struct FakeSid {
        SID_IDENTIFIER_AUTHORITY authority;
        std::vector<DWORD> subAuthorities;
    };
    struct Injection {
        int countdown;
        DWORD code;
        int times;
    };
    // Transparent comparison: counting a call allocates nothing once its name is known.
    std::map<std::string, int, std::less<>> m_calls;
    std::set<std::string, std::less<>> m_failable;
    std::map<std::string, Injection, std::less<>> m_injections;
    std::map<HANDLE, HandleKind> m_handles;
    std::map<SC_HANDLE, DWORD> m_managers;
    // The locks held, with the machine of the manager that took each.
    std::map<SC_LOCK, std::wstring> m_locks;
    std::map<HKEY, std::wstring> m_registryKeys;
    // The machine each registry key belongs to, without leading backslashes (empty: this one).
    std::map<HKEY, std::wstring> m_registryMachines;
    struct ServiceHandle {
        std::wstring name;
        DWORD access;
        std::wstring machine;
    };
    // The machine each manager handle was opened on, without leading backslashes.
    std::map<SC_HANDLE, std::wstring> m_managerMachines;
    std::set<std::wstring> m_silentMachines;
    std::map<SC_HANDLE, ServiceHandle> m_serviceHandles;
    // Positions in `services` by lower-case name; tests change `services` directly, so a position
    // is trusted only when the service there still has the name, and the index is rebuilt on a miss.
    std::unordered_map<std::wstring, size_t> m_serviceIndex;
    // The last service found: an open and the queries that follow it look up the same name.
    size_t m_lastFound = 0;
    FakeService* IndexedService(const std::wstring& lowerName);
    struct ProcessHandle {
        DWORD processId;
        DWORD access;
    };
    std::map<HANDLE, ProcessHandle> m_processHandles;
    // Handles created inheritable and not yet closed.
    std::set<HANDLE> m_inheritable;
    // What a child started with `inheritHandles` set inherits: the handle list of its attribute
    // list, or else every inheritable handle; empty, with the code set, for a list that names one
    // that is not inheritable.
    std::optional<std::vector<HANDLE>> InheritedBy(DWORD creationFlags, LPSTARTUPINFOW startupInfo) const;
    // Whether `machine` names this computer (by any of its names, or none).
    bool IsThisComputer(const std::wstring& machine) const;
    std::set<FakeSid*> m_sids;
    std::set<wchar_t*> m_localBlocks;
    std::unique_ptr<FakeSid> m_administrators;
    uintptr_t m_nextHandle = 0x1000;
    size_t m_keptOpen = 0;
    static size_t s_objectsLeftOpen;
    PHANDLER_ROUTINE m_controlHandler = nullptr;
    std::thread m_handlerThread;
    std::mutex m_handlerMutex;
    std::condition_variable m_handlerChanged;
    HandlerState m_handlerState = HandlerState::Idle;
    // The lock the handler waits for while WaitingForLock.
    PSRWLOCK m_handlerAwaits = nullptr;
    std::deque<wchar_t> m_pendingInput;
    Platform* m_previous;
};
