// The load order of random machines, through the library and through the passes and sweeps read
// directly: both must agree entry for entry.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
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

// Random machines: groups listed, repeated, unknown or differing in case; tag vectors repeated,
// missing, truncated or overstating their count; services with and without keys and values.
class RandomMachine {
public:
    explicit RandomMachine(unsigned seed) : m_random(seed) {}

    // Fills `fake` and returns the group to ask for (none: all groups).
    std::optional<std::wstring> Fill(FakePlatform& fake) {
        fake.services.clear();
        fake.registry.clear();
        const bool large = Chance(3);
        const int groups = large ? Between(10, 100) : Between(1, 12);
        const int tags = large ? Between(10, 300) : Between(1, 12);
        FillGroupList(fake, groups);
        if (Chance(95))
            FillTagVectors(fake, groups, tags);
        if (Chance(98))
            fake.registry[ServicesKey];
        const int services = large ? Between(100, 300) : Between(0, 40);
        for (int i = 0; i < services; ++i)
            AddService(fake, L"s" + std::to_wstring(i), groups, tags);
        if (Chance(70))
            return std::nullopt;
        return Chance(15) ? std::wstring() : GroupName(groups);
    }

private:
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    bool Chance(int percent) { return Between(1, 100) <= percent; }

    // A group of the pool in random case, or now and then one that no list names.
    std::wstring GroupName(int groups) {
        if (Chance(10))
            return L"Unknown" + std::to_wstring(Between(0, 2));
        return (Chance(50) ? L"g" : L"G") + std::to_wstring(Between(0, groups - 1));
    }

    void FillGroupList(FakePlatform& fake, int groups) {
        if (Chance(5))
            return;
        std::vector<std::wstring> names;
        for (int i = Between(0, groups + 2); i > 0; --i)
            names.push_back((Chance(50) ? L"g" : L"G") + std::to_wstring(Between(0, groups - 1)));
        std::vector<BYTE> bytes = BytesOf(MultiStringUnits(names));
        if (Chance(10))
            bytes.resize(bytes.size() - Between(0, 4) % (bytes.size() + 1));
        SetGroupListBytes(fake, bytes, Chance(95) ? REG_MULTI_SZ : REG_SZ);
    }

    void FillTagVectors(FakePlatform& fake, int groups, int tags) {
        fake.registry[TagVectorsKey];
        for (int group = 0; group < groups; ++group) {
            if (Chance(30))
                continue;
            std::vector<DWORD> words{0};
            for (int i = Between(0, std::min(tags, 30)); i > 0; --i)
                words.push_back(static_cast<DWORD>(Between(0, tags)));
            words[0] = static_cast<DWORD>(words.size() - 1 + (Chance(10) ? Between(1, 5) : 0));
            std::vector<BYTE> bytes = BytesOf(words);
            if (Chance(10))
                bytes.resize(static_cast<size_t>(Between(0, static_cast<int>(bytes.size()))));
            SetTagVectorBytes(fake, (Chance(50) ? L"g" : L"G") + std::to_wstring(group), bytes);
        }
    }

    void AddService(FakePlatform& fake, const std::wstring& name, int groups, int tags) {
        FakeService& service = fake.AddService(name);
        service.startType = static_cast<DWORD>(Between(SERVICE_BOOT_START, SERVICE_DISABLED));
        if (Chance(85))
            service.group = Chance(5) ? std::wstring() : GroupName(groups);
        service.tag = static_cast<DWORD>(Between(0, tags));
        if (Chance(5))
            return;
        const std::wstring key = ServiceKey(name);
        fake.registry[key];
        if (Chance(90) && (service.group || Chance(10)))
            fake.SetRegistryString(key, L"Group", service.group.value_or(L""), Chance(95) ? REG_SZ : REG_EXPAND_SZ);
        if (Chance(80))
            fake.registry[key][L"tag"] = {Chance(95) ? DWORD{REG_DWORD} : DWORD{REG_BINARY},
                                          BytesOf(std::vector<DWORD>{service.tag})};
    }

    std::mt19937 m_random;
};

class GroupLoadOrderModelTest : public ::testing::Test {
protected:
    FakePlatform fake;
};

TEST_F(GroupLoadOrderModelTest, IndexedLoadOrderMatchesThePassesAndSweepsOnRandomMachines) {
    RandomMachine machine(20240611);
    CSvcCtrlMgr connection(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (int round = 0; round < 2000; ++round) {
        const std::optional<std::wstring> group = machine.Fill(fake);
        const wchar_t* asked = group ? group->c_str() : nullptr;
        _GROUP_LOAD_ORDER* order = nullptr;
        ASSERT_EQ(connection.GroupLoadOrder(asked, &order, nullptr), 1) << "round " << round;
        const std::unique_ptr<_GROUP_LOAD_ORDER, void (*)(_GROUP_LOAD_ORDER*)> owned(order, ReleaseGroupLoadOrder);
        ASSERT_EQ(RowsOf(*order), ReferenceLoadOrder(fake, asked).Rows()) << "round " << round;
    }
}

} // namespace
