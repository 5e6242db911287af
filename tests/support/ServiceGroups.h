#pragma once
// Service groups on the simulated machine: the registry values (the ordered group list, the
// groups' tag vectors and the services' own "Group" and "Tag" values) and the load order read back.

#include <cstring>
#include <cwctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "GroupLoadOrder.h"

namespace ServiceGroups {

const std::wstring GroupListKey = L"hklm\\system\\currentcontrolset\\control\\servicegrouporder";
const std::wstring TagVectorsKey = L"hklm\\system\\currentcontrolset\\control\\grouporderlist";
const std::wstring ServicesKey = L"hklm\\system\\currentcontrolset\\services";

inline std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

inline std::wstring ServiceKey(const std::wstring& service) {
    return ServicesKey + L"\\" + Lower(service);
}

inline std::vector<BYTE> BytesOf(const std::wstring& units) {
    const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t));
}

inline std::vector<BYTE> BytesOf(const std::vector<DWORD>& words) {
    std::vector<BYTE> bytes(words.size() * sizeof(DWORD));
    if (!words.empty())
        std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

// Each name closed by a NUL, and the whole by one more.
inline std::wstring MultiStringUnits(const std::vector<std::wstring>& names) {
    std::wstring units;
    for (const std::wstring& name : names)
        units += name + L'\0';
    return units + L'\0';
}

// The elements of a double-NUL-terminated list (none for null).
inline std::vector<std::wstring> ElementsOf(const wchar_t* list) {
    std::vector<std::wstring> elements;
    for (const wchar_t* element = list; element && *element; element += elements.back().size() + 1)
        elements.emplace_back(element);
    return elements;
}

inline void SetGroupListBytes(FakePlatform& fake, std::vector<BYTE> bytes, DWORD type = REG_MULTI_SZ) {
    fake.registry[GroupListKey][L"list"] = {type, std::move(bytes)};
}

inline void SetGroupList(FakePlatform& fake, const std::vector<std::wstring>& names) {
    SetGroupListBytes(fake, BytesOf(MultiStringUnits(names)));
}

inline std::vector<BYTE> GroupListBytes(FakePlatform& fake) {
    return fake.registry[GroupListKey][L"list"].data;
}

// The words are the count and then the tags; any byte vector may stand in for a malformed one.
inline void SetTagVectorBytes(FakePlatform& fake, const std::wstring& group, std::vector<BYTE> bytes) {
    fake.registry[TagVectorsKey][Lower(group)] = {REG_BINARY, std::move(bytes)};
}

inline void SetTagVector(FakePlatform& fake, const std::wstring& group, const std::vector<DWORD>& tags) {
    std::vector<DWORD> words{static_cast<DWORD>(tags.size())};
    words.insert(words.end(), tags.begin(), tags.end());
    SetTagVectorBytes(fake, group, BytesOf(words));
}

// A service whose configuration and key agree: the key holds a "Group" value exactly when the
// service has a group, and a "Tag" value exactly when it has a tag.
inline FakeService& AddGroupedService(FakePlatform& fake, const std::wstring& name, DWORD startType,
                                      const std::optional<std::wstring>& group, std::optional<DWORD> tag) {
    FakeService& service = fake.AddService(name);
    service.startType = startType;
    service.group = group;
    service.tag = tag.value_or(0);
    fake.registry[ServicesKey];
    auto& values = fake.registry[ServiceKey(name)];
    if (group)
        fake.SetRegistryString(ServiceKey(name), L"Group", *group);
    if (tag)
        values[L"tag"] = {REG_DWORD, BytesOf(std::vector<DWORD>{*tag})};
    return service;
}

// One entry of a load order, comparable and printable.
struct Row {
    std::wstring name;
    std::optional<std::wstring> group;
    BOOL groupListed;
    BOOL hasGroup;
    DWORD startType;
    DWORD tag;
    BOOL tagListed;
    BOOL hasTag;

    bool operator==(const Row& other) const {
        return name == other.name && group == other.group && groupListed == other.groupListed &&
               hasGroup == other.hasGroup && startType == other.startType && tag == other.tag &&
               tagListed == other.tagListed && hasTag == other.hasTag;
    }
};

inline void PrintTo(const Row& row, std::ostream* out) {
    *out << std::string(row.name.begin(), row.name.end()) << " group="
         << (row.group ? std::string(row.group->begin(), row.group->end()) : "(null)")
         << " groupListed=" << row.groupListed << " hasGroup=" << row.hasGroup << " start=" << row.startType
         << " tag=" << row.tag << " tagListed=" << row.tagListed << " hasTag=" << row.hasTag;
}

inline std::optional<std::wstring> OptionalText(const wchar_t* text) {
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

inline std::vector<Row> RowsOf(const ServicesManagement::_GROUP_LOAD_ORDER& order) {
    std::vector<Row> rows;
    const ServicesManagement::_GROUP_LOAD_ORDER_ENTRY* entries = order.Entries;
    for (unsigned long i = 0; i < order.dwCount; ++i) {
        const ServicesManagement::_GROUP_LOAD_ORDER_ENTRY& e = entries[i];
        rows.push_back({e.lpServiceName, OptionalText(e.lpLoadOrderGroup), e.bGroupListed, e.bHasGroup,
                        e.dwStartType, e.dwTagId, e.bTagListed, e.bHasTag});
    }
    return rows;
}

} // namespace ServiceGroups
