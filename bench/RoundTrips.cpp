// Counts the service control manager and registry calls that each console command makes, run as
// the console runs it (batch mode: connect, the command, close) on a simulated machine shaped like
// the one bench/run installs, and sets them against the least that the same output needs.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "OutputCapture.h"
#include "Program.h"
#include "ServiceGroups.h"

using namespace ServiceGroups;

namespace {

constexpr int ServiceCount = 500;
constexpr int GroupCount = 10;
// Services that start by themselves, one per group: the load order reads their keys.
constexpr int AutomaticCount = GroupCount;
const wchar_t* const Service = L"OrvelBench007";

const char* const ManagerCalls[] = {
    "OpenSCManagerW", "CloseServiceHandle", "LockServiceDatabase", "UnlockServiceDatabase",
    "QueryServiceLockStatusW", "NotifyBootConfigStatus", "QueryServiceObjectSecurity", "SetServiceObjectSecurity",
    "OpenServiceW", "CreateServiceW", "DeleteService", "StartServiceW", "ControlService", "QueryServiceStatus",
    "QueryServiceStatusEx", "QueryServiceConfigW", "QueryServiceConfig2W", "ChangeServiceConfigW",
    "ChangeServiceConfig2W", "EnumDependentServicesW", "GetServiceKeyNameW", "GetServiceDisplayNameW",
    "EnumServicesStatusExW", "EnumServiceGroupW"};
const char* const RegistryCalls[] = {"RegConnectRegistryW", "RegOpenKeyExW",  "RegCreateKeyExW",
                                     "RegQueryValueExW",    "RegSetValueExW", "RegCloseKey"};

std::wstring Numbered(const wchar_t* prefix, int number, int width) {
    wchar_t digits[16];
    std::swprintf(digits, 16, L"%0*d", width, number);
    return prefix + std::wstring(digits);
}

void FillMachine(FakePlatform& fake) {
    std::vector<std::wstring> groups;
    for (int g = 0; g < GroupCount; ++g)
        groups.push_back(Numbered(L"OrvelBenchGroup", g, 1));
    SetGroupList(fake, groups);
    std::vector<std::vector<DWORD>> tags(GroupCount);
    for (int i = 0; i < ServiceCount + AutomaticCount; ++i) {
        const bool automatic = i >= ServiceCount;
        const DWORD tag = static_cast<DWORD>(i / GroupCount + 1);
        FakeService& service =
            AddGroupedService(fake, automatic ? Numbered(L"OrvelAuto", i, 3) : Numbered(L"OrvelBench", i, 3),
                              automatic ? SERVICE_AUTO_START : SERVICE_DEMAND_START, groups[i % GroupCount], tag);
        service.displayName = Numbered(L"Orvel bench service ", i, 3);
        tags[i % GroupCount].insert(tags[i % GroupCount].begin(), tag);
    }
    fake.registry[TagVectorsKey];
    for (int g = 0; g < GroupCount; ++g)
        SetTagVector(fake, groups[g], tags[g]);
}

struct Counts {
    int manager = 0;
    int registry = 0;
};

Counts CountOf(const FakePlatform& fake) {
    Counts counts;
    for (const char* call : ManagerCalls)
        counts.manager += fake.Calls(call);
    for (const char* call : RegistryCalls)
        counts.registry += fake.Calls(call);
    return counts;
}

Counts RunOnFreshMachine(std::vector<std::wstring> arguments) {
    FakePlatform fake;
    FillMachine(fake);
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments)
        argv.push_back(&argument[0]);
    OutputCapture discard;
    RunOrvel(static_cast<int>(argv.size()), argv.data());
    return CountOf(fake);
}

Counts RunBatch(std::vector<std::wstring> words) {
    words.insert(words.begin(), {L"Orvel.exe", L"connect:,5"});
    return RunOnFreshMachine(words);
}

// One script: a connection and then `lines` times the same command.
Counts RunScript(const std::wstring& command, int lines) {
    wchar_t path[MAX_PATH];
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"orv", 0, path);
    if (FILE* script = _wfopen(path, L"wb")) {
        std::string text = "connect QUORVAN-PC\r\n";
        for (int i = 0; i < lines; ++i)
            text += std::string(command.begin(), command.end()) + "\r\n";
        std::fwrite(text.data(), 1, text.size(), script);
        std::fclose(script);
    }
    const Counts counts = RunOnFreshMachine({L"Orvel.exe", L"/s", path});
    _wremove(path);
    return counts;
}

// Lines typed at the console, after a connection with `rights`.
Counts RunTyped(const wchar_t* rights, std::wstring line) {
    FakePlatform fake;
    FillMachine(fake);
    fake.inputIsConsole = fake.outputIsConsole = true;
    fake.typedLines = {std::wstring(L"connect QUORVAN-PC ") + rights, std::move(line)};
    wchar_t program[] = L"Orvel.exe";
    wchar_t* argv[] = {program, nullptr};
    OutputCapture discard;
    RunOrvel(1, argv);
    return CountOf(fake);
}

// What completing a service name costs a typed line: the same line typed whole, and with Tab
// pressed three times to reach the name.
Counts CompletionCost(const wchar_t* rights) {
    const Counts whole = RunTyped(rights, L"query status OrvelBench007");
    const Counts completed = RunTyped(rights, L"query status OrvelBench00\t\t\t\t\t\t\t\t");
    return {completed.manager - whole.manager, completed.registry - whole.registry};
}

struct CountRow {
    const char* what;
    Counts made;
    Counts least;
    const char* why;
};

void Print(const CountRow& row) {
    const int made = row.made.manager + row.made.registry;
    const int least = row.least.manager + row.least.registry;
    std::printf("%-44s %6d %6d %6d %6d %6.2f  %s\n", row.what, row.made.manager, row.made.registry,
                row.least.manager, row.least.registry, least ? static_cast<double>(made) / least : 0.0, row.why);
}

} // namespace

int wmain() {
    const std::wstring service = Service;
    // The batch frame (open and close of the manager) is in every batch row, made and least.
    const int frame = 2;
    const int groups = GroupCount;
    const int services = ServiceCount + AutomaticCount;
    std::vector<CountRow> rows = {
        {"query config S", RunBatch({L"query", L"config", service}), {frame + 3, 0},
         "open service, one read into a block that holds the usual record, close"},
        {"query status S", RunBatch({L"query", L"status", service}), {frame + 3, 0},
         "open service, one fixed-size QueryServiceStatusEx, close"},
        {"query configex S", RunBatch({L"query", L"configex", service}), {frame + 4, 0},
         "open once, one read for each of the two levels, close"},
        {"get service display_name S", RunBatch({L"get", L"service", L"display_name", L"Orvel bench service 007"}),
         {frame + 1, 0}, "one GetServiceDisplayNameW into a buffer of the longest name (256)"},
        {"get service key_name D", RunBatch({L"get", L"service", L"key_name", L"Orvel bench service 007"}),
         {frame + 1, 0}, "one GetServiceKeyNameW into a buffer of the longest name (256)"},
        {"get service pid S", RunBatch({L"get", L"service", L"pid", service}), {frame + 3, 0}, "as query status"},
        {"get service type S", RunBatch({L"get", L"service", L"type", service}), {frame + 3, 0},
         "open, one configuration read (it holds the type), close"},
        {"get properties", RunBatch({L"get", L"properties"}), {frame + 2, 0},
         "the count: enumeration size query + read"},
        {"enum dependent_services S", RunBatch({L"enum", L"dependent_services", service}), {frame + 4, 0},
         "open, size query + read (the list has no usual size), close"},
        {"enum service_group", RunBatch({L"enum", L"service_group"}), {frame, 4},
         "open List's key, size query + read, close"},
        {"enum services", RunBatch({L"enum", L"services"}), {frame + 2, 0},
         "one enumeration: size query + one page (the records fit in 256 KB); no call per service"},
        {"set config S display_name=...", RunBatch({L"set", L"config", service, L"display_name=Banc"}),
         {frame + 5, 0}, "open, configuration read (before), ChangeServiceConfigW, read (after), close"},
        {"control S 130", RunBatch({L"control", service, L"130"}), {frame + 4, 0},
         "open, ControlService, one QueryServiceStatusEx for the state shown, close"},
        {"enum service_group_load_order (all)", RunBatch({L"enum", L"service_group_load_order"}),
         {frame + 2 + 3 * services, 4 + 2 + 2 * groups + 2 + 4 * AutomaticCount},
         "enumeration (2); per service open + config read + close (the start type and group are "
         "in the configuration only); registry: List (4), GroupOrderList open/close + 2 per group, Services "
         "open/close, per self-starting service key open + 2 value queries + close"},
    };
    // A script's lines, less its connection: the per-line prompt reads the lock status.
    const Counts one = RunScript(L"query status " + service, 0);
    const Counts many = RunScript(L"query status " + service, ServiceCount);
    rows.push_back({"script: query status S, per line",
                    {(many.manager - one.manager) / ServiceCount, (many.registry - one.registry) / ServiceCount},
                    {1 + 3, 0}, "prompt: lock status read; open service, one QueryServiceStatusEx, close"});

    rows.push_back({"Tab: service names, per line (rights 5)", CompletionCost(L"5"), {2, 0},
                    "one enumeration for the whole line, however many Tabs: size query + one page"});
    rows.push_back({"Tab: service names, per line (rights 1)", CompletionCost(L"1"), {4, 0},
                    "the same through a handle of its own with the enumeration right: open, 2, close"});

    std::printf("%-44s %6s %6s %6s %6s %6s\n", "command (batch: manager open/close included)", "scm", "reg",
                "scm-min", "reg-min", "ratio");
    for (const CountRow& row : rows)
        Print(row);
    return 0;
}
