// Times the load order of every group on a large simulated machine, through the library and
// through the passes and sweeps read directly, and checks that both give the same entries. Both
// read the machine through the platform layer, the direct one as the passes need it: the
// enumeration, then each service looked up, its configuration read and its key's values; and it
// grows its record by one entry for each service placed.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "LoadOrderModel.h"
#include "ServiceGroups.h"
#include "Memory.h"
#include "Platform.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"
#include "SvcObj.h"

using namespace ServicesManagement;
using namespace ServiceGroups;

namespace {

constexpr int ServiceCount = 20000;
constexpr int GroupCount = 200;
constexpr DWORD TagsPerGroup = 50;
constexpr int Repetitions = 3;

// Every group listed with a shuffled tag vector; the services spread over the groups in turn, with
// start types from boot to demand (the last takes no part) and tags of which a few are in no vector.
void FillMachine(FakePlatform& fake) {
    std::mt19937 random(20240611);
    std::vector<std::wstring> groups;
    for (int i = 0; i < GroupCount; ++i)
        groups.push_back(L"Group" + std::to_wstring(i));
    SetGroupList(fake, groups);
    fake.registry[TagVectorsKey];
    std::vector<DWORD> tags(TagsPerGroup);
    std::iota(tags.begin(), tags.end(), DWORD{1});
    for (const std::wstring& group : groups) {
        std::shuffle(tags.begin(), tags.end(), random);
        SetTagVector(fake, group, tags);
    }
    std::uniform_int_distribution<DWORD> startType(SERVICE_BOOT_START, SERVICE_DEMAND_START);
    std::uniform_int_distribution<DWORD> tag(1, TagsPerGroup + 5);
    for (int i = 0; i < ServiceCount; ++i)
        AddGroupedService(fake, L"Service" + std::to_wstring(i), startType(random), groups[i % GroupCount],
                          tag(random));
}

bool ValueHasType(HKEY key, const wchar_t* name, DWORD type) {
    DWORD found = REG_NONE;
    DWORD bytes = 0;
    return Os().RegQueryValueExW(key, name, nullptr, &found, nullptr, &bytes) == ERROR_SUCCESS && found == type;
}

std::optional<ReferenceCandidate> ReadCandidate(CSvcCtrlMgr& connection, HKEY services, const wchar_t* name) {
    const OwnedSvcObj service(connection.FindSvcObj(name));
    QUERY_SERVICE_CONFIGW* config = nullptr;
    if (!service || !service->QueryConfig(&config))
        return std::nullopt;
    const MemBlock<QUERY_SERVICE_CONFIGW> owned(config);
    ReferenceCandidate candidate{name, OptionalText(config->lpLoadOrderGroup), config->dwStartType, config->dwTagId,
                                 false, false};
    HKEY key = nullptr;
    if (Os().RegOpenKeyExW(services, name, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        candidate.hasGroup = ValueHasType(key, L"Group", REG_SZ);
        candidate.hasTag = ValueHasType(key, L"Tag", REG_DWORD);
        Os().RegCloseKey(key);
    }
    return candidate;
}

std::vector<ReferenceCandidate> ReadCandidates(CSvcCtrlMgr& connection) {
    std::vector<ReferenceCandidate> candidates;
    ENUM_SERVICE_STATUS_PROCESSW* records = nullptr;
    unsigned long count = 0;
    HKEY services = nullptr;
    if (!connection.EnumServices(SERVICE_TYPE_ALL, SERVICE_STATE_ALL, nullptr, &records, &count))
        return candidates;
    const MemBlock<ENUM_SERVICE_STATUS_PROCESSW> snapshot(records);
    if (Os().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services", 0, KEY_QUERY_VALUE,
                           &services) != ERROR_SUCCESS)
        return candidates;
    for (unsigned long i = 0; i < count; ++i)
        if (auto candidate = ReadCandidate(connection, services, records[i].lpServiceName))
            candidates.push_back(std::move(*candidate));
    Os().RegCloseKey(services);
    return candidates;
}

OwnedGroupLoadOrder GrowRecord(const std::vector<Row>& rows) {
    constexpr size_t header = offsetof(_GROUP_LOAD_ORDER, Entries);
    constexpr size_t entry = sizeof(_GROUP_LOAD_ORDER_ENTRY);
    OwnedGroupLoadOrder order(new (MemAlloc(header + entry, 1, 0)) _GROUP_LOAD_ORDER());
    for (const Row& row : rows) {
        const auto bytes = static_cast<unsigned int>(header + (order->dwCount + 1) * entry);
        order.reset(static_cast<_GROUP_LOAD_ORDER*>(MemReAlloc(order.release(), bytes, 1, 0)));
        _GROUP_LOAD_ORDER_ENTRY& added = order->Entries[order->dwCount++];
        added = {0, StrDup(row.name.c_str()), row.group ? StrDup(row.group->c_str()) : nullptr, row.groupListed,
                 row.hasGroup, row.startType, row.tag, row.tagListed, row.hasTag};
    }
    return order;
}

OwnedGroupLoadOrder DirectLoadOrder(FakePlatform& fake, CSvcCtrlMgr& connection) {
    return GrowRecord(ReferenceLoadOrder(fake, ReadCandidates(connection), nullptr).Rows());
}

template <typename Result>
struct Measured {
    double milliseconds;
    Result result;
};

// The median time of a few runs of `compute`, and the result of the last; freeing a result is
// left out of the time.
template <typename Compute>
auto Measure(Compute compute) {
    std::vector<double> times;
    decltype(compute()) result;
    for (int i = 0; i < Repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto computed = compute();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        result = std::move(computed);
    }
    std::sort(times.begin(), times.end());
    return Measured<decltype(result)>{times[times.size() / 2], std::move(result)};
}

} // namespace

int main() {
    FakePlatform fake;
    FillMachine(fake);
    CSvcCtrlMgr connection(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);

    const auto indexed = Measure([&] {
        _GROUP_LOAD_ORDER* order = nullptr;
        if (!connection.GroupLoadOrder(nullptr, &order, nullptr))
            std::fprintf(stderr, "GroupLoadOrder failed with %lu\n", GetLastError());
        return OwnedGroupLoadOrder(order);
    });
    if (!indexed.result)
        return 2;
    const auto direct = Measure([&] { return DirectLoadOrder(fake, connection); });
    const auto reading = Measure([&] { return ReadCandidates(connection).size(); });
    const auto sweeping =
        Measure([&] { return ReferenceLoadOrder(fake, ReferenceCandidates(fake, nullptr), nullptr).Rows().size(); });

    const std::vector<Row> indexedRows = RowsOf(*indexed.result);
    const std::vector<Row> directRows = RowsOf(*direct.result);
    const auto growing = Measure([&] { return GrowRecord(directRows); });
    const bool same = indexedRows == directRows;
    std::printf("%d services in %d groups, %lu tags each; median of %d runs\n\n", ServiceCount, GroupCount,
                TagsPerGroup, Repetitions);
    std::printf("%-28s %12s %12s %8s\n", "what", "indexed ms", "direct ms", "ratio");
    std::printf("%-28s %12.1f %12.1f %8.1f\n", "load order of all groups", indexed.milliseconds,
                direct.milliseconds, direct.milliseconds / indexed.milliseconds);
    std::printf("%-28s %12s %12.1f\n", "  direct: reading", "", reading.milliseconds);
    std::printf("%-28s %12s %12.1f\n", "  direct: passes and sweeps", "", sweeping.milliseconds);
    std::printf("%-28s %12s %12.1f\n", "  direct: record grown", "", growing.milliseconds);
    std::printf("\nsame entries: %s (%zu indexed, %zu direct)\n", same ? "yes" : "no", indexedRows.size(),
                directRows.size());
    return same ? 0 : 1;
}
