// The load order of random machines, through the library and through the passes and sweeps read
// directly: both must agree entry for entry.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "LoadOrderModel.h"
#include "MultiString.h"
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
        const OwnedGroupLoadOrder owned(order);
        ASSERT_EQ(RowsOf(*order), ReferenceLoadOrder(fake, asked).Rows()) << "round " << round;
    }
}

// Any bytes at all: units drawn from the characters of the group names and NUL, cut at any byte.
std::vector<BYTE> RandomListBytes(std::mt19937& random) {
    const wchar_t units[] = {L'g', L'G', L'0', L'1', L'2', L'\0', L'\0', L'\0'};
    std::vector<BYTE> bytes;
    for (int i = std::uniform_int_distribution<int>(0, 30)(random); i > 0; --i) {
        const wchar_t unit = units[std::uniform_int_distribution<size_t>(0, std::size(units) - 1)(random)];
        bytes.push_back(static_cast<BYTE>(unit));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    bytes.resize(bytes.size() - std::min<size_t>(bytes.size(), std::uniform_int_distribution<size_t>(0, 1)(random)));
    return bytes;
}

// Random words, the first (the count) now and then far beyond what follows, cut at any byte.
std::vector<BYTE> RandomTagVectorBytes(std::mt19937& random) {
    std::vector<DWORD> words(std::uniform_int_distribution<size_t>(0, 6)(random));
    for (DWORD& word : words)
        word = std::uniform_int_distribution<DWORD>(0, 4)(random);
    if (!words.empty() && std::uniform_int_distribution<int>(0, 3)(random) == 0)
        words[0] = std::uniform_int_distribution<DWORD>(0, 0xFFFFFFFF)(random);
    std::vector<BYTE> bytes = BytesOf(words);
    bytes.resize(bytes.size() - std::min<size_t>(bytes.size(), std::uniform_int_distribution<size_t>(0, 3)(random)));
    return bytes;
}

TEST_F(GroupLoadOrderModelTest, ListsAndTagVectorsOfRandomBytesReadAsTheStringsAndTagsTheyHold) {
    RandomMachine machine(20260612);
    std::mt19937 random(31337);
    CSvcCtrlMgr connection(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (int round = 0; round < 1500; ++round) {
        const std::optional<std::wstring> group = machine.Fill(fake);
        const DWORD listType = std::uniform_int_distribution<int>(0, 9)(random) == 0 ? REG_BINARY : REG_MULTI_SZ;
        SetGroupListBytes(fake, RandomListBytes(random), listType);
        fake.registry[TagVectorsKey];
        for (const wchar_t* name : {L"g0", L"g1", L"G2", L"g10"})
            SetTagVectorBytes(fake, name, RandomTagVectorBytes(random));

        MultiString groups;
        ::SetLastError(0);
        EXPECT_EQ(connection.EnumServiceGroups(groups), listType == REG_MULTI_SZ ? 1 : 0) << "round " << round;
        if (listType == REG_MULTI_SZ)
            EXPECT_EQ(ElementsOf(groups), ReferenceGroupList(fake)) << "round " << round;
        else
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATATYPE)) << "round " << round;

        const wchar_t* asked = group ? group->c_str() : nullptr;
        _GROUP_LOAD_ORDER* order = nullptr;
        ASSERT_EQ(connection.GroupLoadOrder(asked, &order, nullptr), 1) << "round " << round;
        const OwnedGroupLoadOrder owned(order);
        ASSERT_EQ(RowsOf(*order), ReferenceLoadOrder(fake, asked).Rows()) << "round " << round;

        // An insertion writes back, well formed, the strings the list held and the new one; a
        // name the list already holds is refused and the bytes stay as they were.
        if (listType != REG_MULTI_SZ)
            continue;
        std::vector<std::wstring> expected = ReferenceGroupList(fake);
        const unsigned long position = std::uniform_int_distribution<unsigned long>(0, 4)(random);
        const bool listed = std::any_of(expected.begin(), expected.end(),
                                        [](const std::wstring& name) { return SameText(name, L"g1"); });
        if (listed) {
            const std::vector<BYTE> before = GroupListBytes(fake);
            ::SetLastError(0);
            EXPECT_EQ(connection.CreateServiceGroup(L"g1", 0, position), 0) << "round " << round;
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "round " << round;
            EXPECT_EQ(GroupListBytes(fake), before) << "round " << round;
            continue;
        }
        expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(position, expected.size())),
                        L"g1");
        EXPECT_EQ(connection.CreateServiceGroup(L"g1", 0, position), 1) << "round " << round;
        EXPECT_EQ(GroupListBytes(fake), BytesOf(MultiStringUnits(expected))) << "round " << round;
    }
}

} // namespace
