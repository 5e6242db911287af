// Installs and removes the benchmark's services in one process (one process per service is slow
// under Wine), keeps the group registry values it changes in a file until it restores them, and
// makes the bare platform calls that the timings of the console are set against.
//
//   BenchServices install COUNT GROUPS BINARY BACKUP   services, group list and tag vectors
//   BenchServices remove COUNT GROUPS BACKUP           services gone, values as they were
//   BenchServices enumerate | config NAME | displayname NAME   one bare read, printed

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t GroupListKey[] = L"System\\CurrentControlSet\\Control\\ServiceGroupOrder";
const wchar_t TagVectorsKey[] = L"System\\CurrentControlSet\\Control\\GroupOrderList";

std::wstring Numbered(const wchar_t* prefix, int number, int width) {
    wchar_t digits[16];
    std::swprintf(digits, 16, L"%0*d", width, number);
    return prefix + std::wstring(digits);
}

std::wstring ServiceName(int i) { return Numbered(L"OrvelBench", i, 3); }
std::wstring GroupName(int g) { return Numbered(L"OrvelBenchGroup", g, 1); }

struct SavedValue {
    DWORD present = 0;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

HKEY CreateKey(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

SavedValue ReadValue(HKEY key, const wchar_t* name) {
    SavedValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS) {
        value.present = 1;
        value.data.resize(size);
    }
    return value;
}

void WriteValue(HKEY key, const wchar_t* name, const SavedValue& value) {
    if (value.present)
        RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    else
        RegDeleteValueW(key, name);
}

// The values touched, in a fixed order: the group list, then each group's tag vector.
struct Backup {
    SavedValue list;
    std::vector<SavedValue> vectors;
};

bool SaveBackup(const wchar_t* path, const Backup& backup) {
    FILE* file = _wfopen(path, L"wb");
    if (!file)
        return false;
    auto put = [&](const SavedValue& value) {
        const DWORD size = static_cast<DWORD>(value.data.size());
        std::fwrite(&value.present, sizeof(DWORD), 1, file);
        std::fwrite(&value.type, sizeof(DWORD), 1, file);
        std::fwrite(&size, sizeof(DWORD), 1, file);
        std::fwrite(value.data.data(), 1, size, file);
    };
    put(backup.list);
    for (const SavedValue& value : backup.vectors)
        put(value);
    return std::fclose(file) == 0;
}

bool LoadBackup(const wchar_t* path, int groups, Backup& backup) {
    FILE* file = _wfopen(path, L"rb");
    if (!file)
        return false;
    auto get = [&](SavedValue& value) {
        DWORD size = 0;
        if (std::fread(&value.present, sizeof(DWORD), 1, file) != 1 || std::fread(&value.type, sizeof(DWORD), 1, file) != 1 ||
            std::fread(&size, sizeof(DWORD), 1, file) != 1)
            return false;
        value.data.resize(size);
        return std::fread(value.data.data(), 1, size, file) == size;
    };
    bool complete = get(backup.list);
    backup.vectors.resize(groups);
    for (SavedValue& value : backup.vectors)
        complete = complete && get(value);
    std::fclose(file);
    return complete;
}

// The list as it was (when it was a list of names) with the benchmark's groups after it.
std::vector<BYTE> ListWithGroups(const SavedValue& original, int groups) {
    std::wstring units;
    if (original.present && original.type == REG_MULTI_SZ) {
        const auto* text = reinterpret_cast<const wchar_t*>(original.data.data());
        const size_t count = original.data.size() / sizeof(wchar_t);
        for (size_t i = 0; i < count && text[i];) {
            const std::wstring name(text + i, wcsnlen(text + i, count - i));
            units += name + L'\0';
            i += name.size() + 1;
        }
    }
    for (int g = 0; g < groups; ++g)
        units += GroupName(g) + L'\0';
    units += L'\0';
    const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t));
}

int Install(int count, int groups, const wchar_t* binary, const wchar_t* backupPath) {
    HKEY listKey = CreateKey(GroupListKey);
    HKEY vectorKey = CreateKey(TagVectorsKey);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!listKey || !vectorKey || !manager) {
        std::fwprintf(stderr, L"BenchServices: cannot open the registry or the service manager (%lu)\n",
                      GetLastError());
        return 1;
    }
    // A backup left by an interrupted run holds the values from before it: it is kept.
    Backup backup;
    if (!LoadBackup(backupPath, groups, backup)) {
        backup.list = ReadValue(listKey, L"List");
        for (int g = 0; g < groups; ++g)
            backup.vectors.push_back(ReadValue(vectorKey, GroupName(g).c_str()));
        if (!SaveBackup(backupPath, backup)) {
            std::fwprintf(stderr, L"BenchServices: cannot write %ls\n", backupPath);
            return 1;
        }
    }
    const std::vector<BYTE> list = ListWithGroups(backup.list, groups);
    RegSetValueExW(listKey, L"List", 0, REG_MULTI_SZ, list.data(), static_cast<DWORD>(list.size()));

    std::vector<std::vector<DWORD>> tags(groups);
    for (int i = 0; i < count; ++i) {
        const std::wstring name = ServiceName(i);
        const std::wstring display = Numbered(L"Orvel bench service ", i, 3);
        const std::wstring group = GroupName(i % groups);
        DWORD tag = 0;
        SC_HANDLE service = CreateServiceW(manager, name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           binary, group.c_str(), &tag, nullptr, nullptr, nullptr);
        if (!service && GetLastError() != ERROR_SERVICE_EXISTS) {
            std::fwprintf(stderr, L"BenchServices: CreateServiceW %ls failed (%lu)\n", name.c_str(), GetLastError());
            return 1;
        }
        if (service)
            CloseServiceHandle(service);
        // The platform may assign no tag: the service's number then stands for it.
        tags[i % groups].push_back(tag ? tag : static_cast<DWORD>(i / groups + 1));
    }
    // Each vector lists its group's tags backwards, so that tag order and creation order differ.
    for (int g = 0; g < groups; ++g) {
        std::vector<DWORD> words{static_cast<DWORD>(tags[g].size())};
        words.insert(words.end(), tags[g].rbegin(), tags[g].rend());
        RegSetValueExW(vectorKey, GroupName(g).c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(words.data()),
                       static_cast<DWORD>(words.size() * sizeof(DWORD)));
    }
    CloseServiceHandle(manager);
    RegCloseKey(listKey);
    RegCloseKey(vectorKey);
    return 0;
}

int Remove(int count, int groups, const wchar_t* backupPath) {
    int failures = 0;
    if (SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        for (int i = 0; i < count; ++i) {
            SC_HANDLE service = OpenServiceW(manager, ServiceName(i).c_str(), DELETE);
            if (!service)
                continue;
            if (!DeleteService(service))
                ++failures;
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    Backup backup;
    if (LoadBackup(backupPath, groups, backup)) {
        HKEY listKey = CreateKey(GroupListKey);
        HKEY vectorKey = CreateKey(TagVectorsKey);
        if (listKey && vectorKey) {
            WriteValue(listKey, L"List", backup.list);
            for (int g = 0; g < groups; ++g)
                WriteValue(vectorKey, GroupName(g).c_str(), backup.vectors[g]);
            _wremove(backupPath);
        } else {
            ++failures;
        }
        if (listKey)
            RegCloseKey(listKey);
        if (vectorKey)
            RegCloseKey(vectorKey);
    }
    return failures ? 1 : 0;
}

// The bare reads, each with the two-call size protocol, printed like a minimal tool would.
int Enumerate() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    DWORD needed = 0, returned = 0, resume = 0;
    EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, nullptr, 0, &needed,
                          &returned, &resume, nullptr);
    std::vector<BYTE> buffer(needed);
    resume = 0;
    const BOOL read = EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_TYPE_ALL, SERVICE_STATE_ALL,
                                            buffer.data(), needed, &needed, &returned, &resume, nullptr);
    const auto* records = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; read && i < returned; ++i)
        std::wprintf(L"%ls %lu\n", records[i].lpServiceName, records[i].ServiceStatusProcess.dwCurrentState);
    CloseServiceHandle(manager);
    return read ? 0 : 1;
}

int Config(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    const BOOL read = QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed);
    if (read)
        std::wprintf(L"%lu %lu %lu %lu %ls %ls\n", config->dwServiceType, config->dwStartType, config->dwErrorControl,
                     config->dwTagId, config->lpBinaryPathName, config->lpDisplayName);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return read ? 0 : 1;
}

int DisplayName(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    wchar_t display[4096];
    DWORD size = 4096;
    const BOOL read = GetServiceDisplayNameW(manager, name, display, &size);
    if (read)
        std::wprintf(L"%ls\n", display);
    CloseServiceHandle(manager);
    return read ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"install" && argc == 6)
        return Install(_wtoi(argv[2]), _wtoi(argv[3]), argv[4], argv[5]);
    if (verb == L"remove" && argc == 5)
        return Remove(_wtoi(argv[2]), _wtoi(argv[3]), argv[4]);
    if (verb == L"enumerate")
        return Enumerate();
    if (verb == L"config" && argc == 3)
        return Config(argv[2]);
    if (verb == L"displayname" && argc == 3)
        return DisplayName(argv[2]);
    std::fwprintf(stderr, L"usage: BenchServices install COUNT GROUPS BINARY BACKUP | remove COUNT GROUPS BACKUP |"
                          L" enumerate | config NAME | displayname NAME\n");
    return 2;
}
