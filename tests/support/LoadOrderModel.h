#pragma once
// The load order as a plain reading of how it is defined, read straight from the simulated
// machine: three passes by start type, each walking the groups, each group with one sweep over
// every service per tag of its vector and one more for the rest. The library indexes instead of
// sweeping; both must agree entry for entry.

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FakePlatform.h"
#include "ServiceGroups.h"
#include "StringFunctions.h"

namespace ServiceGroups {

inline bool SameText(const std::wstring& a, const std::wstring& b) {
    return StrIComp(a.c_str(), b.c_str()) == 0;
}

inline const FakePlatform::RegistryValue* FindValue(const FakePlatform& fake, const std::wstring& key,
                                                    const std::wstring& name) {
    auto keyFound = fake.registry.find(key);
    if (keyFound == fake.registry.end())
        return nullptr;
    auto valueFound = keyFound->second.find(Lower(name));
    return valueFound == keyFound->second.end() ? nullptr : &valueFound->second;
}

inline bool HasValueOfType(const FakePlatform& fake, const std::wstring& key, const wchar_t* name, DWORD type) {
    const FakePlatform::RegistryValue* value = FindValue(fake, key, name);
    return value && value->type == type;
}

// The strings of the list value, up to its first empty one or its end.
inline std::vector<std::wstring> ReferenceGroupList(const FakePlatform& fake) {
    std::vector<std::wstring> names;
    const FakePlatform::RegistryValue* value = FindValue(fake, GroupListKey, L"List");
    // An empty value's data may be no pointer at all, which even a copy of nothing may not read.
    if (!value || value->data.size() < sizeof(wchar_t))
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

inline std::vector<DWORD> ReferenceTagVector(const FakePlatform& fake, const std::wstring& group) {
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
    std::wstring name;
    std::optional<std::wstring> group;
    DWORD startType;
    DWORD tag;
    bool hasGroup;
    bool hasTag;
};

// The services that the enumeration of `group` yields, with the flags of their keys.
inline std::vector<ReferenceCandidate> ReferenceCandidates(const FakePlatform& fake, const wchar_t* group) {
    std::vector<ReferenceCandidate> candidates;
    if (!fake.registry.count(ServicesKey))
        return candidates;
    for (const FakeService& service : fake.services) {
        const bool enumerated = !group || (*group ? service.group && SameText(*service.group, group)
                                                  : !service.group || service.group->empty());
        if (enumerated)
            candidates.push_back({service.name, service.group, service.startType, service.tag,
                                  HasValueOfType(fake, ServiceKey(service.name), L"Group", REG_SZ),
                                  HasValueOfType(fake, ServiceKey(service.name), L"Tag", REG_DWORD)});
    }
    return candidates;
}

class ReferenceLoadOrder {
public:
    ReferenceLoadOrder(const FakePlatform& fake, const wchar_t* group)
        : ReferenceLoadOrder(fake, ReferenceCandidates(fake, group), group) {}

    // With candidates read some other way, the list and the tag vectors still read from `fake`.
    ReferenceLoadOrder(const FakePlatform& fake, std::vector<ReferenceCandidate> candidates, const wchar_t* group)
        : m_fake(fake), m_list(ReferenceGroupList(fake)), m_candidates(std::move(candidates)) {
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
        const std::wstring text = candidate.group.value_or(L"");
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
                if (candidate.startType == pass && candidate.hasTag && candidate.tag == tags[i] &&
                    Matches(candidate, group))
                    Add(candidate, listed, true);
        }
        for (const ReferenceCandidate& candidate : m_candidates)
            if (candidate.startType == pass && Matches(candidate, group) &&
                !(listed && candidate.hasTag && Holds(tags, candidate.tag, tags.size())))
                Add(candidate, listed, false);
    }

    void Add(const ReferenceCandidate& candidate, bool listed, bool tagListed) {
        m_rows.push_back({candidate.name, candidate.group, listed && candidate.hasGroup, candidate.hasGroup,
                          candidate.startType, candidate.tag, tagListed, candidate.hasTag});
    }

    const FakePlatform& m_fake;
    std::vector<std::wstring> m_list;
    std::vector<ReferenceCandidate> m_candidates;
    std::vector<Row> m_rows;
};

} // namespace ServiceGroups
