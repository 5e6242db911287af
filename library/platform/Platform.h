#pragma once
// The one door of the library (and of the console) to the operating system. Operations keep the
// platform's names and signatures; failure reasons travel in the thread's last-error value as on
// the platform itself. Tests install another implementation (a simulated machine) with Install.

#include <windows.h>

#include "VelmarikApi.h"

class VELMARIK_API Platform {
public:
    virtual ~Platform();

    // The implementation in force: the real platform unless a test installed another.
    static Platform& Current();
    // Installs `replacement` (null: the real platform again) and returns the one it replaces.
    static Platform* Install(Platform* replacement);

    // Service control manager
    virtual SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD access) = 0;
    virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;
    virtual SC_LOCK LockServiceDatabase(SC_HANDLE manager) = 0;
    virtual BOOL UnlockServiceDatabase(SC_LOCK lock) = 0;
    virtual BOOL QueryServiceLockStatusW(SC_HANDLE manager, LPQUERY_SERVICE_LOCK_STATUSW status, DWORD size,
                                         LPDWORD needed) = 0;
    virtual BOOL NotifyBootConfigStatus(BOOL bootAcceptable) = 0;
    virtual BOOL QueryServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                            PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed) = 0;
    virtual BOOL SetServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                          PSECURITY_DESCRIPTOR descriptor) = 0;

    // Services
    virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) = 0;
    virtual SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD access,
                                     DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName,
                                     LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies,
                                     LPCWSTR serviceStartName, LPCWSTR password) = 0;
    virtual BOOL DeleteService(SC_HANDLE service) = 0;
    virtual BOOL StartServiceW(SC_HANDLE service, DWORD argumentCount, LPCWSTR* arguments) = 0;
    virtual BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) = 0;
    virtual BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) = 0;
    virtual BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                                      LPDWORD needed) = 0;
    virtual BOOL QueryServiceConfigW(SC_HANDLE service, LPQUERY_SERVICE_CONFIGW config, DWORD size,
                                     LPDWORD needed) = 0;
    virtual BOOL QueryServiceConfig2W(SC_HANDLE service, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) = 0;
    virtual BOOL ChangeServiceConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                                      LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId,
                                      LPCWSTR dependencies, LPCWSTR serviceStartName, LPCWSTR password,
                                      LPCWSTR displayName) = 0;
    virtual BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info) = 0;
    virtual BOOL EnumDependentServicesW(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
                                        LPDWORD needed, LPDWORD returned) = 0;
    virtual BOOL GetServiceKeyNameW(SC_HANDLE manager, LPCWSTR displayName, LPWSTR keyName, LPDWORD size) = 0;
    virtual BOOL GetServiceDisplayNameW(SC_HANDLE manager, LPCWSTR keyName, LPWSTR displayName, LPDWORD size) = 0;
    virtual BOOL EnumServicesStatusExW(SC_HANDLE manager, SC_ENUM_TYPE level, DWORD serviceType, DWORD serviceState,
                                       LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned,
                                       LPDWORD resumeHandle, LPCWSTR group) = 0;
    // Reached at run time: the platform exports it without declaring it. Same contract as
    // EnumServicesStatusExW with ENUM_SERVICE_STATUSW records.
    virtual BOOL EnumServiceGroupW(SC_HANDLE manager, DWORD serviceType, DWORD serviceState,
                                   LPENUM_SERVICE_STATUSW buffer, DWORD size, LPDWORD needed, LPDWORD returned,
                                   LPDWORD resumeHandle, LPCWSTR group) = 0;

    // Registry
    virtual LSTATUS RegConnectRegistryW(LPCWSTR machineName, HKEY root, PHKEY result) = 0;
    virtual LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) = 0;
    virtual LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                                    REGSAM access, const LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                                    LPDWORD disposition) = 0;
    virtual LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                     LPDWORD size) = 0;
    virtual LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                   DWORD size) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;

    // Processes
    virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) = 0;
    virtual BOOL TerminateProcess(HANDLE process, UINT exitCode) = 0;
    // Reached at run time: systems before Windows 8.1 lack it, and then it fails with
    // ERROR_CALL_NOT_IMPLEMENTED. The process needs PROCESS_QUERY_LIMITED_INFORMATION.
    virtual BOOL IsProcessCritical(HANDLE process, PBOOL critical) = 0;
    virtual BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                                LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                LPPROCESS_INFORMATION processInformation) = 0;
    virtual HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                                LPCWSTR name) = 0;
    // The attribute list of a process to start (STARTUPINFOEXW), for the handles it may inherit.
    virtual BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD count, DWORD flags,
                                                   PSIZE_T size) = 0;
    virtual BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                                           PVOID value, SIZE_T size, PVOID previousValue, PSIZE_T returnSize) = 0;
    virtual void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) = 0;

    // Names
    virtual BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size) = 0;

    // Errors and text
    virtual DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                 LPWSTR buffer, DWORD size, va_list* arguments) = 0;
    virtual HLOCAL LocalFree(HLOCAL memory) = 0;
    virtual int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideCount, LPSTR narrow,
                                    int narrowSize, LPCCH defaultChar, LPBOOL usedDefault) = 0;

    // Tokens and privileges
    virtual HANDLE GetCurrentProcess() = 0;
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) = 0;
    virtual BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) = 0;
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                                       PTOKEN_PRIVILEGES previousState, PDWORD returnLength) = 0;
    virtual BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                     PDWORD returnLength) = 0;
    virtual BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                          DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                          PSID* sid) = 0;
    virtual BOOL EqualSid(PSID a, PSID b) = 0;
    virtual BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) = 0;
    virtual BOOL DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                  SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) = 0;
    virtual PVOID FreeSid(PSID sid) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;

    // Time
    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;

    // Console
    virtual BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) = 0;
    virtual BOOL SetConsoleTitleW(LPCWSTR title) = 0;
    virtual DWORD GetConsoleTitleW(LPWSTR title, DWORD size) = 0;
    virtual HANDLE GetStdHandle(DWORD which) = 0;
    virtual BOOL GetConsoleMode(HANDLE console, LPDWORD mode) = 0;
    virtual BOOL SetConsoleMode(HANDLE console, DWORD mode) = 0;
    virtual BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) = 0;
    virtual BOOL FillConsoleOutputCharacterW(HANDLE console, WCHAR c, DWORD length, COORD origin,
                                             LPDWORD written) = 0;
    virtual BOOL SetConsoleCursorPosition(HANDLE console, COORD position) = 0;
    virtual BOOL WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written,
                               LPVOID reserved) = 0;
    virtual BOOL ReadConsoleW(HANDLE console, LPVOID text, DWORD length, LPDWORD read,
                              PCONSOLE_READCONSOLE_CONTROL control) = 0;

    // Threads (the console control handler runs on a thread of its own)
    virtual void AcquireSRWLockExclusive(PSRWLOCK lock) = 0;
    virtual void ReleaseSRWLockExclusive(PSRWLOCK lock) = 0;
};

// Short name for the implementation in force.
inline Platform& Os() { return Platform::Current(); }

// Keeps the thread's last-error value across calls whose own failure is expected and handled,
// so that only a command's real failure reaches the error banner.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_dwSaved(::GetLastError()) {}
    ~LastErrorKeeper() { ::SetLastError(m_dwSaved); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD m_dwSaved;
};
