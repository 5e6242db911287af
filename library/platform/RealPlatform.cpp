// The implementation in force outside tests: each operation forwards to the platform.

#include "Platform.h"

namespace {

class RealPlatform final : public Platform {
public:
    SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD access) override {
        return ::OpenSCManagerW(machineName, databaseName, access);
    }
    BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }
    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override { return ::LockServiceDatabase(manager); }
    BOOL UnlockServiceDatabase(SC_LOCK lock) override { return ::UnlockServiceDatabase(lock); }
    BOOL QueryServiceLockStatusW(SC_HANDLE manager, LPQUERY_SERVICE_LOCK_STATUSW status, DWORD size,
                                 LPDWORD needed) override {
        return ::QueryServiceLockStatusW(manager, status, size, needed);
    }
    BOOL NotifyBootConfigStatus(BOOL bootAcceptable) override { return ::NotifyBootConfigStatus(bootAcceptable); }
    BOOL QueryServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                    PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed) override {
        return ::QueryServiceObjectSecurity(handle, information, descriptor, size, needed);
    }
    BOOL SetServiceObjectSecurity(SC_HANDLE handle, SECURITY_INFORMATION information,
                                  PSECURITY_DESCRIPTOR descriptor) override {
        return ::SetServiceObjectSecurity(handle, information, descriptor);
    }

    SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) override {
        return ::OpenServiceW(manager, serviceName, access);
    }
    SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD access,
                             DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName,
                             LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                             LPCWSTR password) override {
        return ::CreateServiceW(manager, serviceName, displayName, access, serviceType, startType, errorControl,
                                binaryPathName, loadOrderGroup, tagId, dependencies, serviceStartName, password);
    }
    BOOL DeleteService(SC_HANDLE service) override { return ::DeleteService(service); }
    BOOL StartServiceW(SC_HANDLE service, DWORD argumentCount, LPCWSTR* arguments) override {
        return ::StartServiceW(service, argumentCount, arguments);
    }
    BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) override {
        return ::ControlService(service, control, status);
    }
    BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) override {
        return ::QueryServiceStatus(service, status);
    }
    BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                              LPDWORD needed) override {
        return ::QueryServiceStatusEx(service, level, buffer, size, needed);
    }
    BOOL QueryServiceConfigW(SC_HANDLE service, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed) override {
        return ::QueryServiceConfigW(service, config, size, needed);
    }
    BOOL QueryServiceConfig2W(SC_HANDLE service, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) override {
        return ::QueryServiceConfig2W(service, level, buffer, size, needed);
    }
    BOOL ChangeServiceConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                              LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies,
                              LPCWSTR serviceStartName, LPCWSTR password, LPCWSTR displayName) override {
        return ::ChangeServiceConfigW(service, serviceType, startType, errorControl, binaryPathName, loadOrderGroup,
                                      tagId, dependencies, serviceStartName, password, displayName);
    }
    BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info) override {
        return ::ChangeServiceConfig2W(service, level, info);
    }
    BOOL EnumDependentServicesW(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
                                LPDWORD needed, LPDWORD returned) override {
        return ::EnumDependentServicesW(service, state, services, size, needed, returned);
    }
    BOOL GetServiceKeyNameW(SC_HANDLE manager, LPCWSTR displayName, LPWSTR keyName, LPDWORD size) override {
        return ::GetServiceKeyNameW(manager, displayName, keyName, size);
    }
    BOOL GetServiceDisplayNameW(SC_HANDLE manager, LPCWSTR keyName, LPWSTR displayName, LPDWORD size) override {
        return ::GetServiceDisplayNameW(manager, keyName, displayName, size);
    }
    BOOL EnumServicesStatusExW(SC_HANDLE manager, SC_ENUM_TYPE level, DWORD serviceType, DWORD serviceState,
                               LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle,
                               LPCWSTR group) override {
        return ::EnumServicesStatusExW(manager, level, serviceType, serviceState, buffer, size, needed, returned,
                                       resumeHandle, group);
    }
    BOOL EnumServiceGroupW(SC_HANDLE manager, DWORD serviceType, DWORD serviceState, LPENUM_SERVICE_STATUSW buffer,
                           DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle,
                           LPCWSTR group) override {
        using EnumServiceGroupFunction = BOOL(WINAPI*)(SC_HANDLE, DWORD, DWORD, LPENUM_SERVICE_STATUSW, DWORD,
                                                       LPDWORD, LPDWORD, LPDWORD, LPCWSTR);
        static const auto enumServiceGroup = reinterpret_cast<EnumServiceGroupFunction>(
            reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "EnumServiceGroupW")));
        if (!enumServiceGroup) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        return enumServiceGroup(manager, serviceType, serviceState, buffer, size, needed, returned, resumeHandle,
                                group);
    }

    LSTATUS RegConnectRegistryW(LPCWSTR machineName, HKEY root, PHKEY result) override {
        return ::RegConnectRegistryW(machineName, root, result);
    }
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
        return ::RegOpenKeyExW(key, subKey, options, access, result);
    }
    LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM access,
                            const LPSECURITY_ATTRIBUTES attributes, PHKEY result, LPDWORD disposition) override {
        return ::RegCreateKeyExW(key, subKey, reserved, className, options, access, attributes, result, disposition);
    }
    LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) override {
        return ::RegQueryValueExW(key, valueName, reserved, type, data, size);
    }
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) override {
        return ::RegSetValueExW(key, valueName, reserved, type, data, size);
    }

    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override {
        return ::OpenProcess(access, inherit, processId);
    }
    BOOL TerminateProcess(HANDLE process, UINT exitCode) override { return ::TerminateProcess(process, exitCode); }
    BOOL IsProcessCritical(HANDLE process, PBOOL critical) override {
        using IsProcessCriticalFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
        static const auto isProcessCritical = reinterpret_cast<IsProcessCriticalFunction>(
            reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsProcessCritical")));
        if (!isProcessCritical) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        return isProcessCritical(process, critical);
    }
    BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                        LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                        LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                        LPPROCESS_INFORMATION processInformation) override {
        return ::CreateProcessW(applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
                                creationFlags, environment, currentDirectory, startupInfo, processInformation);
    }
    HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) override {
        return ::CreateEventW(attributes, manualReset, initialState, name);
    }
    BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD count, DWORD flags,
                                           PSIZE_T size) override {
        return ::InitializeProcThreadAttributeList(list, count, flags, size);
    }
    BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute, PVOID value,
                                   SIZE_T size, PVOID previousValue, PSIZE_T returnSize) override {
        return ::UpdateProcThreadAttribute(list, flags, attribute, value, size, previousValue, returnSize);
    }
    void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) override {
        ::DeleteProcThreadAttributeList(list);
    }
    LSTATUS RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }

    BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size) override {
        return ::GetComputerNameExW(format, buffer, size);
    }

    DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                         DWORD size, va_list* arguments) override {
        return ::FormatMessageW(flags, source, messageId, languageId, buffer, size, arguments);
    }
    HLOCAL LocalFree(HLOCAL memory) override { return ::LocalFree(memory); }
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideCount, LPSTR narrow, int narrowSize,
                            LPCCH defaultChar, LPBOOL usedDefault) override {
        return ::WideCharToMultiByte(codePage, flags, wide, wideCount, narrow, narrowSize, defaultChar,
                                     usedDefault);
    }

    HANDLE GetCurrentProcess() override { return ::GetCurrentProcess(); }
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override {
        return ::OpenProcessToken(process, access, token);
    }
    BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) override {
        return ::LookupPrivilegeValueW(systemName, name, luid);
    }
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                               PTOKEN_PRIVILEGES previousState, PDWORD returnLength) override {
        return ::AdjustTokenPrivileges(token, disableAll, newState, length, previousState, returnLength);
    }
    BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                             PDWORD returnLength) override {
        return ::GetTokenInformation(token, infoClass, info, length, returnLength);
    }
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                  DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                  PSID* sid) override {
        return ::AllocateAndInitializeSid(authority, count, sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7, sid);
    }
    BOOL EqualSid(PSID a, PSID b) override { return ::EqualSid(a, b); }
    BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) override {
        return ::CheckTokenMembership(token, sid, isMember);
    }
    BOOL DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                          SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) override {
        return ::DuplicateTokenEx(token, access, attributes, level, type, newToken);
    }
    PVOID FreeSid(PSID sid) override { return ::FreeSid(sid); }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

    DWORD GetTickCount() override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }

    BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) override {
        return ::SetConsoleCtrlHandler(handler, add);
    }
    BOOL SetConsoleTitleW(LPCWSTR title) override { return ::SetConsoleTitleW(title); }
    DWORD GetConsoleTitleW(LPWSTR title, DWORD size) override { return ::GetConsoleTitleW(title, size); }
    HANDLE GetStdHandle(DWORD which) override { return ::GetStdHandle(which); }
    BOOL GetConsoleMode(HANDLE console, LPDWORD mode) override { return ::GetConsoleMode(console, mode); }
    BOOL SetConsoleMode(HANDLE console, DWORD mode) override { return ::SetConsoleMode(console, mode); }
    BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) override {
        return ::GetConsoleScreenBufferInfo(console, info);
    }
    BOOL FillConsoleOutputCharacterW(HANDLE console, WCHAR c, DWORD length, COORD origin,
                                     LPDWORD written) override {
        return ::FillConsoleOutputCharacterW(console, c, length, origin, written);
    }
    BOOL SetConsoleCursorPosition(HANDLE console, COORD position) override {
        return ::SetConsoleCursorPosition(console, position);
    }
    BOOL WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written, LPVOID reserved) override {
        return ::WriteConsoleW(console, text, length, written, reserved);
    }
    BOOL ReadConsoleW(HANDLE console, LPVOID text, DWORD length, LPDWORD read,
                      PCONSOLE_READCONSOLE_CONTROL control) override {
        return ::ReadConsoleW(console, text, length, read, control);
    }
    void AcquireSRWLockExclusive(PSRWLOCK lock) override { ::AcquireSRWLockExclusive(lock); }
    void ReleaseSRWLockExclusive(PSRWLOCK lock) override { ::ReleaseSRWLockExclusive(lock); }
};

RealPlatform g_realPlatform;
Platform* g_current = &g_realPlatform;

} // namespace

Platform::~Platform() = default;

Platform& Platform::Current() { return *g_current; }

Platform* Platform::Install(Platform* replacement) {
    Platform* previous = g_current;
    g_current = replacement ? replacement : &g_realPlatform;
    return previous;
}
