// The load order of random machines against a plain reading of how it is defined: three passes by
// start type, each walking the groups, each group with one sweep over every service per tag of its
// vector and one more for the rest. The library indexes instead of sweeping; both must agree
// entry for entry.

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "LeakCheckedTest.h"
#include "ServiceGroups.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"

using namespace ServicesManagement;
using namespace ServiceGroups;

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return StrIComp(a.c_str(), b.c_str()) == 0;
}

const FakePlatform::RegistryValue* FindValue(const FakePlatform& fake, const std::wstring& key,
                                             const std::wstring& name) {
    auto keyFound = fake.registry.find(key);
    if (keyFound == fake.registry.end())
        return nullptr;
    auto valueFound = keyFound->second.find(Lower(name));
    return valueFound == keyFound->second.end() ? nullptr : &valueFound->second;
}

bool HasValueOfType(const FakePlatform& fake, const std::wstring& key, const wchar_t* name, DWORD type) {
    const FakePlatform::RegistryValue* value = FindValue(fake, key, name);
    return value && value->type == type;
}

// The strings of the list value, up to its first empty one or its end.
std::vector<std::wstring> ReferenceGroupList(const FakePlatform& fake) {
    std::vector<std::wstring> names;
    const FakePlatform::RegistryValue* value = FindValue(fake, GroupListKey, L"List");
    if (!value)
        return names;
    std::wstring units(value->data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&units[0], value->data.data(), units.size() * sizeof(wchar_t));
    for (size_t start = 0; start < units.size() && units[start];) {
        const size_t end = std::min(units.find(L'\0', start), units.size());
        names.push_back(units.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::vector<DWORD> ReferenceTagVector(const FakePlatform& fake, const std::wstring& group) {
    std::vector<DWORD> tags;
    const FakePlatform::RegistryValue* value = FindValue(fake, TagVectorsKey, group);
    if (!value || value->data.size() < sizeof(DWORD))
        return tags;
    std::vector<DWORD> words(value->data.size() / sizeof(DWORD));
    std::memcpy(words.data(), value->data.data(), words.size() * sizeof(DWORD));
    tags.assign(words.begin() + 1, words.begin() + 1 + std::min<size_t>(words[0], words.size() - 1));
    return tags;
}

struct ReferenceCandidate {
    const FakeService* service;
    bool hasGroup;
    bool hasTag;
};

// The services that the enumeration of `group` yields, with the flags of their keys.
std::vector<ReferenceCandidate> ReferenceCandidates(const FakePlatform& fake, const wchar_t* group) {
    std::vector<ReferenceCandidate> candidates;
    if (!fake.registry.count(ServicesKey))
        return candidates;
    for (const FakeService& service : fake.services) {
        const bool enumerated = !group || (*group ? service.group && SameText(*service.group, group)
                                                  : !service.group || service.group->empty());
        if (enumerated)
            candidates.push_back({&service, HasValueOfType(fake, ServiceKey(service.name), L"Group", REG_SZ),
                                  HasValueOfType(fake, ServiceKey(service.name), L"Tag", REG_DWORD)});
    }
    return candidates;
}

class ReferenceLoadOrder {
public:
    ReferenceLoadOrder(const FakePlatform& fake, const wchar_t* group)
        : m_fake(fake), m_list(ReferenceGroupList(fake)), m_candidates(ReferenceCandidates(fake, group)) {
        for (DWORD pass = SERVICE_BOOT_START; pass <= SERVICE_AUTO_START; ++pass) {
            if (group) {
                WalkGroup(pass, group);
                continue;
            }
            for (size_t i = 0; i < m_list.size(); ++i)
                if (!NamedEarlier(m_list, i))
                    WalkGroup(pass, m_list[i]);
            WalkGroup(pass, L"");
        }
    }

    const std::vector<Row>& Rows() const { return m_rows; }

private:
    static bool NamedEarlier(const std::vector<std::wstring>& names, size_t position) {
        for (size_t i = 0; i < position; ++i)
            if (SameText(names[i], names[position]))
                return true;
        return false;
    }
    template <typename Item>
    static bool Holds(const std::vector<Item>& items, const Item& item, size_t end) {
        for (size_t i = 0; i < end; ++i)
            if (items[i] == item)
                return true;
        return false;
    }

    bool IsListed(const std::wstring& group) const {
        for (const std::wstring& name : m_list)
            if (SameText(name, group))
                return true;
        return false;
    }

    bool Matches(const ReferenceCandidate& candidate, const std::wstring& group) const {
        const std::wstring text = candidate.service->group.value_or(L"");
        if (!group.empty())
            return candidate.hasGroup && SameText(text, group);
        return !candidate.hasGroup || !IsListed(text);
    }

    void WalkGroup(DWORD pass, const std::wstring& group) {
        const bool listed = !group.empty() && IsListed(group);
        const std::vector<DWORD> tags = listed ? ReferenceTagVector(m_fake, group) : std::vector<DWORD>();
        for (size_t i = 0; i < tags.size(); ++i) {
            if (Holds(tags, tags[i], i))
                continue;
            for (const ReferenceCandidate& candidate : m_candidates)
                if (candidate.service->startType == pass && candidate.hasTag && candidate.service->tag == tags[i] &&
                    Matches(candidate, group))
                    Add(candidate, listed, true);
        }
        for (const ReferenceCandidate& candidate : m_candidates)
            if (candidate.service->startType == pass && Matches(candidate, group) &&
                !(listed && candidate.hasTag && Holds(tags, candidate.service->tag, tags.size())))
                Add(candidate, listed, false);
    }

    void Add(const ReferenceCandidate& candidate, bool listed, bool tagListed) {
        const FakeService& service = *candidate.service;
        m_rows.push_back({service.name, service.group, listed && candidate.hasGroup, candidate.hasGroup,
                          service.startType, service.tag, tagListed, candidate.hasTag});
    }

    const FakePlatform& m_fake;
    std::vector<std::wstring> m_list;
    std::vector<ReferenceCandidate> m_candidates;
    std::vector<Row> m_rows;
};

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

class GroupLoadOrderModelTest : public LeakCheckedTest {
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
