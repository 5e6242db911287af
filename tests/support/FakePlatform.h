#pragma once
// A small simulated machine behind the platform seam: tokens and privileges, a console, a clock
// that moves only when the code sleeps, message texts, and failures injected on demand. It
// installs itself for its lifetime and counts every call and every handle still open.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Platform.h"

class FakePlatform : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    // The `occurrence`-th next call of `operation` (its platform name) fails with `code`.
    void FailCall(const std::string& operation, DWORD code, int occurrence = 1);
    int Calls(const std::string& operation) const;
    // Handles and SIDs handed out and not yet closed or freed.
    size_t OpenHandles() const { return m_handles.size(); }
    size_t LiveSids() const { return m_sids.size(); }

    // Service control manager. Every machine can be reached but those listed here.
    std::set<std::wstring> unreachableMachines;
    std::vector<std::wstring> openedMachines;
    // The database lock: held through one of our lock handles, or by another process.
    std::wstring lockedByOther;
    DWORD lockDuration = 0;
    // The platform may not know who holds the lock: the record's owner is then null.
    bool lockOwnerKnown = true;
    size_t OpenLocks() const { return m_locks.size(); }
    bool IsDatabaseLocked() const { return !m_locks.empty() || !lockedByOther.empty(); }
    std::vector<BOOL> bootNotices;
    std::vector<BYTE> managerSecurity = std::vector<BYTE>(20, 0x5A);
    SECURITY_INFORMATION lastSecuritySet = 0;
    bool securityPrivilegeEnabledDuringQuery = false;
    // Names of this computer, by format (an empty one: the machine has none in that format).
    std::wstring computerNames[8] = {L"QUORVAN-PC", L"quorvan-pc", L"corp.example", L"quorvan-pc.corp.example",
                                     L"QUORVAN-PC", L"quorvan-pc", L"corp.example", L"quorvan-pc.corp.example"};
    std::vector<std::wstring> registryConnections;
    size_t OpenManagers() const { return m_managers.size(); }
    size_t OpenRegistryKeys() const { return m_registryKeys.size(); }

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

    // Console
    bool outputIsConsole = false;
    std::wstring title;
    std::wstring consoleText;
    COORD screenSize = {80, 25};
    DWORD filledCells = 0;
    COORD cursor = {5, 5};

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
    LSTATUS RegConnectRegistryW(LPCWSTR machineName, HKEY root, PHKEY result) override;
    LSTATUS RegCloseKey(HKEY key) override;
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
    BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) override;
    BOOL FillConsoleOutputCharacterW(HANDLE console, WCHAR c, DWORD length, COORD origin, LPDWORD written) override;
    BOOL SetConsoleCursorPosition(HANDLE console, COORD position) override;
    BOOL WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) override;
    BOOL WriteConsoleA(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) override;

protected:
    // Counts the call and reports whether an injected failure applies (the code is then set).
    bool Fails(const char* operation);
    BOOL Fail(DWORD code);
    enum class HandleKind { ProcessToken, ImpersonationToken, Other };
    HANDLE NewHandle(HandleKind kind);
    // The access granted to an open manager handle, or -1 (with ERROR_INVALID_HANDLE set).
    long long ManagerAccess(SC_HANDLE manager);
    void* NewToken() { return reinterpret_cast<void*>(m_nextHandle += 4); }
    bool IsHandle(HANDLE handle, HandleKind kind) const;

private:
    struct FakeSid {
        SID_IDENTIFIER_AUTHORITY authority;
        std::vector<DWORD> subAuthorities;
    };
    struct Injection {
        int countdown;
        DWORD code;
    };
    std::map<std::string, int> m_calls;
    std::map<std::string, Injection> m_injections;
    std::map<HANDLE, HandleKind> m_handles;
    std::map<SC_HANDLE, DWORD> m_managers;
    std::set<SC_LOCK> m_locks;
    std::set<HKEY> m_registryKeys;
    std::set<FakeSid*> m_sids;
    std::set<wchar_t*> m_localBlocks;
    std::unique_ptr<FakeSid> m_administrators;
    uintptr_t m_nextHandle = 0x1000;
    Platform* m_previous;
};
