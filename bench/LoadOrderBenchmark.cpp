// Times the load order of every group on a large simulated machine, through the library and
// through the passes and sweeps read directly, and checks that both give the same entries.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "LoadOrderModel.h"
#include "ServiceGroups.h"
#include "SvcCtrlMgr.h"

using namespace ServicesManagement;
using namespace ServiceGroups;

namespace {

constexpr int ServiceCount = 20000;
constexpr int GroupCount = 200;
constexpr DWORD TagsPerGroup = 50;
constexpr int Repetitions = 5;

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

struct LoadOrderRelease {
    void operator()(_GROUP_LOAD_ORDER* order) const { ReleaseGroupLoadOrder(order); }
};
using OwnedLoadOrder = std::unique_ptr<_GROUP_LOAD_ORDER, LoadOrderRelease>;

} // namespace

int main() {
    FakePlatform fake;
    FillMachine(fake);
    CSvcCtrlMgr connection(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);

    const auto indexed = Measure([&] {
        _GROUP_LOAD_ORDER* order = nullptr;
        if (!connection.GroupLoadOrder(nullptr, &order, nullptr))
            std::fprintf(stderr, "GroupLoadOrder failed with %lu\n", GetLastError());
        return OwnedLoadOrder(order);
    });
    if (!indexed.result)
        return 2;
    const auto direct = Measure([&] { return std::make_unique<ReferenceLoadOrder>(fake, nullptr); });

    const std::vector<Row> indexedRows = RowsOf(*indexed.result);
    const bool same = indexedRows == direct.result->Rows();
    std::printf("%d services in %d groups, %lu tags each; median of %d runs\n\n", ServiceCount, GroupCount,
                TagsPerGroup, Repetitions);
    std::printf("%-28s %12s %12s %8s\n", "what", "indexed ms", "direct ms", "ratio");
    std::printf("%-28s %12.1f %12.1f %8.1f\n", "load order of all groups", indexed.milliseconds,
                direct.milliseconds, direct.milliseconds / indexed.milliseconds);
    std::printf("\nsame entries: %s (%zu indexed, %zu direct)\n", same ? "yes" : "no", indexedRows.size(),
                direct.result->Rows().size());
    return same ? 0 : 1;
}
