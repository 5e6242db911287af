// The service groups of the connection's machine: the ordered list of group names, each group's
// tag vector and the services' groups and tags, all read from the machine's registry.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>

#include "HandleGuard.h"
#include "LoadOrder.h"
#include "Memory.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"

namespace ServicesManagement {

namespace {

const wchar_t GroupListKey[] = L"System\\CurrentControlSet\\Control\\ServiceGroupOrder";
const wchar_t GroupListValue[] = L"List";
const wchar_t TagVectorsKey[] = L"System\\CurrentControlSet\\Control\\GroupOrderList";
const wchar_t ServicesKey[] = L"System\\CurrentControlSet\\Services";

int FailWith(LSTATUS status) {
    ::SetLastError(static_cast<DWORD>(status));
    return 0;
}

// A failed open may leave anything in the key's slot: it is dropped, not closed.
LSTATUS KeepIfOpened(LSTATUS status, UniqueRegistryKey& key) {
    if (status != ERROR_SUCCESS)
        key.release();
    return status;
}

LSTATUS OpenForReading(HKEY parent, const wchar_t* path, UniqueRegistryKey& key) {
    return KeepIfOpened(Os().RegOpenKeyExW(parent, path, 0, KEY_QUERY_VALUE, key.put()), key);
}

UniqueRegistryKey OpenForReading(HKEY parent, const wchar_t* path) {
    UniqueRegistryKey key;
    OpenForReading(parent, path, key);
    return key;
}

LSTATUS OpenForChanging(HKEY parent, const wchar_t* path, UniqueRegistryKey& key) {
    return KeepIfOpened(Os().RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, key.put(), nullptr),
                        key);
}

bool HasValueOfType(HKEY key, const wchar_t* name, DWORD expectedType) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    return Os().RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
           type == expectedType;
}

// Reads a list value as the strings it holds and never past its end, whether or not it is closed
// by two NULs and whatever its byte count: the data lands in a block with room for two more NULs,
// and a trailing odd byte is no unit of text.
LSTATUS ReadList(HKEY key, bool multiStringTypeOnly, MultiString& list) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = Os().RegQueryValueExW(key, GroupListValue, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (multiStringTypeOnly && type != REG_MULTI_SZ)
        return ERROR_INVALID_DATATYPE;
    std::vector<wchar_t> units(size / sizeof(wchar_t) + 2, L'\0');
    DWORD read = size;
    status = Os().RegQueryValueExW(key, GroupListValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(units.data()),
                                   &read);
    if (status != ERROR_SUCCESS)
        return status;
    const std::size_t end = std::min<std::size_t>(read, size) / sizeof(wchar_t);
    units[end] = units[end + 1] = L'\0';
    list = MultiString(units.data(), 1);
    return ERROR_SUCCESS;
}

// An unreadable list reads as an empty one, so that every service then falls under no known group.
// The ordered group names. A machine without the key has an empty list; one whose key holds no
// readable "List" value has no list at all (nullopt), and then orders no group.
std::optional<std::vector<SimpleString>> ReadGroupNames(HKEY root) {
    std::vector<SimpleString> names;
    UniqueRegistryKey key = OpenForReading(root, GroupListKey);
    if (!key)
        return names;
    MultiString list;
    if (ReadList(key.get(), false, list) != ERROR_SUCCESS)
        return std::nullopt;
    for (const wchar_t* name = list; name && *name; name += StrLen(name) + 1)
        names.emplace_back(name);
    return names;
}

DWORD LittleEndianWordAt(const std::vector<BYTE>& data, std::size_t offset) {
    return data[offset] | data[offset + 1] << 8 | data[offset + 2] << 16 | static_cast<DWORD>(data[offset + 3]) << 24;
}

// A count and then the tags. A count larger than the value holds is cut to the whole tags that
// follow it; a value too short to hold the count is an empty vector.
std::vector<DWORD> ReadTagVector(HKEY tagVectors, const wchar_t* group) {
    std::vector<DWORD> tags;
    DWORD size = 0;
    if (!tagVectors || Os().RegQueryValueExW(tagVectors, group, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return tags;
    std::vector<BYTE> data(std::max<DWORD>(size, 2 * sizeof(DWORD)), 0);
    DWORD read = static_cast<DWORD>(data.size());
    if (Os().RegQueryValueExW(tagVectors, group, nullptr, nullptr, data.data(), &read) != ERROR_SUCCESS ||
        read < sizeof(DWORD))
        return tags;
    const DWORD held = std::min<DWORD>(read, static_cast<DWORD>(data.size())) / sizeof(DWORD) - 1;
    const DWORD count = std::min(LittleEndianWordAt(data, 0), held);
    for (DWORD i = 1; i <= count; ++i)
        tags.push_back(LittleEndianWordAt(data, i * sizeof(DWORD)));
    return tags;
}

// The configuration that the lookup reads anyway; a service of neither kind has none.
MemBlock<QUERY_SERVICE_CONFIGW> ReadConfiguration(CSvcCtrlMgr& manager, const wchar_t* name) {
    QUERY_SERVICE_CONFIGW* config = nullptr;
    ReleaseSvcObj(manager.FindSvcObj(name, &config));
    return MemBlock<QUERY_SERVICE_CONFIGW>(config);
}

// Services that never start by themselves take no part, so their keys are not read.
std::optional<LoadOrderCandidate> ReadCandidate(CSvcCtrlMgr& manager, HKEY services, const wchar_t* name) {
    const auto config = ReadConfiguration(manager, name);
    if (!config || config->dwStartType > SERVICE_AUTO_START)
        return std::nullopt;
    LoadOrderCandidate candidate{name, config->lpLoadOrderGroup, config->dwStartType, config->dwTagId, false,
                                 false};
    if (UniqueRegistryKey key = OpenForReading(services, name)) {
        candidate.hasGroup = HasValueOfType(key.get(), L"Group", REG_SZ);
        candidate.hasTag = HasValueOfType(key.get(), L"Tag", REG_DWORD);
    }
    return candidate;
}

// The enumerated services (of `group` only, unless it is null) that can be read, in the order of
// the enumeration. Without the services' keys no service can tell its group and tag: none takes part.
// A group that no service names has none; any other failure of the enumeration (a connection
// without the right to enumerate, for one) is the load order's failure, not an empty order.
std::optional<std::vector<LoadOrderCandidate>> ReadCandidates(CSvcCtrlMgr& manager, HKEY root,
                                                              const wchar_t* group) {
    std::vector<LoadOrderCandidate> candidates;
    UniqueRegistryKey services = OpenForReading(root, ServicesKey);
    if (!services)
        return candidates;
    ENUM_SERVICE_STATUS_PROCESSW* records = nullptr;
    unsigned long count = 0;
    if (!manager.EnumServices(SERVICE_TYPE_ALL, SERVICE_STATE_ALL, group, &records, &count)) {
        if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            return candidates;
        return std::nullopt;
    }
    const MemBlock<ENUM_SERVICE_STATUS_PROCESSW> snapshot(records);
    for (unsigned long i = 0; i < count; ++i)
        if (auto candidate = ReadCandidate(manager, services.get(), records[i].lpServiceName))
            candidates.push_back(std::move(*candidate));
    return candidates;
}

_GROUP_LOAD_ORDER* AllocateLoadOrder(std::size_t entries) {
    const std::size_t bytes = offsetof(_GROUP_LOAD_ORDER, Entries) +
                              std::max<std::size_t>(entries, 1) * sizeof(_GROUP_LOAD_ORDER_ENTRY);
    if (entries > UINT_MAX / sizeof(_GROUP_LOAD_ORDER_ENTRY) || bytes > UINT_MAX)
        throw std::bad_alloc();
    return new (MemAlloc(static_cast<unsigned int>(bytes), 1, 0)) _GROUP_LOAD_ORDER();
}

// The record of the placements, built so that an exhausted heap midway leaks nothing.
_GROUP_LOAD_ORDER* NewLoadOrder(const wchar_t* group, const std::vector<LoadOrderCandidate>& candidates,
                                const std::vector<LoadOrderPlacement>& placements) {
    OwnedGroupLoadOrder order(AllocateLoadOrder(placements.size()));
    order->lpGroupName = StrDup(group);
    _GROUP_LOAD_ORDER_ENTRY* const entries = order->Entries;
    for (const LoadOrderPlacement& placement : placements) {
        const LoadOrderCandidate& candidate = candidates[placement.candidate];
        _GROUP_LOAD_ORDER_ENTRY& entry = entries[order->dwCount++];
        entry.bGroupListed = placement.groupListed;
        entry.bHasGroup = candidate.hasGroup;
        entry.dwStartType = candidate.startType;
        entry.dwTagId = candidate.tag;
        entry.bTagListed = placement.tagListed;
        entry.bHasTag = candidate.hasTag;
        entry.lpServiceName = StrDup(candidate.name);
        entry.lpLoadOrderGroup = StrDup(candidate.group);
    }
    return order.release();
}

// An empty list is still closed by two NULs.
LSTATUS WriteList(HKEY key, const MultiString& list) {
    static const wchar_t emptyList[] = {L'\0', L'\0'};
    const bool empty = list.Length() == 0;
    const wchar_t* units = empty ? emptyList : static_cast<const wchar_t*>(list);
    const DWORD bytes = empty ? sizeof emptyList : (list.Length() + 1) * sizeof(wchar_t);
    return Os().RegSetValueExW(key, GroupListValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(units), bytes);
}

// Opens the group list's key (for changing: creating it when missing) and reads its "List" value,
// which must be a multi-string.
LSTATUS OpenGroupList(HKEY root, bool forChanging, UniqueRegistryKey& key, MultiString& list) {
    const LSTATUS status =
        forChanging ? OpenForChanging(root, GroupListKey, key) : OpenForReading(root, GroupListKey, key);
    return status == ERROR_SUCCESS ? ReadList(key.get(), true, list) : status;
}

// Whether the list holds `name`, compared as the edits compare names: without regard to case.
bool Holds(const MultiString& list, const wchar_t* name) {
    for (const wchar_t* element = list; element && *element; element += StrLen(element) + 1)
        if (StrIComp(element, name) == 0)
            return true;
    return false;
}

// Reads the list, lets `edit` change it and writes it back. An edit that refuses returns its
// reason, and the list is then not written.
template <typename Edit>
int EditGroupList(HKEY root, Edit edit) {
    const DWORD before = ::GetLastError();
    UniqueRegistryKey key;
    MultiString list;
    LSTATUS status = OpenGroupList(root, true, key, list);
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    status = static_cast<LSTATUS>(edit(list));
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    status = WriteList(key.get(), list);
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    ::SetLastError(before);
    return 1;
}

} // namespace

template <typename Work>
int CSvcCtrlMgr::__WithRegistry(Work work) {
    if (!m_hSCManager)
        return 0;
    // Also when the registry cannot be reached: what the attempt started is put back at once.
    struct Detach {
        CSvcCtrlMgr& manager;
        ~Detach() {
            LastErrorKeeper keep;
            manager.__StopRemoteRegistryService();
        }
    } detach{*this};
    if (!__StartRemoteRegistryService(HKEY_LOCAL_MACHINE))
        return 0;
    return work(m_hRegistryKey);
}

int CSvcCtrlMgr::GroupLoadOrder(const wchar_t* group, _GROUP_LOAD_ORDER** order, unsigned long* count) {
    *order = nullptr;
    if (count)
        *count = 0;
    return __WithRegistry([&](HKEY root) {
        const DWORD before = ::GetLastError();
        const std::optional<std::vector<SimpleString>> groupList = ReadGroupNames(root);
        const UniqueRegistryKey tagVectors = OpenForReading(root, TagVectorsKey);
        const std::optional<std::vector<LoadOrderCandidate>> read = ReadCandidates(*this, root, group);
        if (!read)
            return 0;
        const std::vector<LoadOrderCandidate>& candidates = *read;
        // Without a list, walking all groups walks none (not even the unnamed one).
        const std::vector<LoadOrderPlacement> placements =
            !groupList && !group ? std::vector<LoadOrderPlacement>()
                                 : PlaceInLoadOrder(candidates, groupList.value_or(std::vector<SimpleString>()),
                                                    group, [&](const wchar_t* name) {
                                                        return ReadTagVector(tagVectors.get(), name);
                                                    });
        *order = NewLoadOrder(group, candidates, placements);
        if (count)
            *count = (*order)->dwCount;
        ::SetLastError(before);
        return 1;
    });
}

int CSvcCtrlMgr::EnumServiceGroups(MultiString& groups) {
    return __WithRegistry([&](HKEY root) {
        const DWORD before = ::GetLastError();
        UniqueRegistryKey key;
        MultiString list;
        const LSTATUS status = OpenGroupList(root, false, key, list);
        if (status != ERROR_SUCCESS)
            return FailWith(status);
        groups = list;
        ::SetLastError(before);
        return 1;
    });
}

// A name already listed is refused: a second copy would be removed with the first by a later
// deletion by name, and only the first copy orders anything.
int CSvcCtrlMgr::CreateServiceGroup(const SimpleString& name, int append, unsigned long position) {
    return __WithRegistry([&](HKEY root) {
        return EditGroupList(root, [&](MultiString& list) -> DWORD {
            if (Holds(list, name))
                return ERROR_ALREADY_EXISTS;
            list.Add(name, append, position, 1);
            return ERROR_SUCCESS;
        });
    });
}

int CSvcCtrlMgr::DeleteServiceGroup(unsigned long position) {
    return __WithRegistry([&](HKEY root) {
        return EditGroupList(root, [&](MultiString& list) -> DWORD {
            if (position >= list.NumberOfElements())
                return ERROR_NOT_FOUND;
            list.Delete(position);
            return ERROR_SUCCESS;
        });
    });
}

int CSvcCtrlMgr::DeleteServiceGroup(const SimpleString& name) {
    return __WithRegistry([&](HKEY root) {
        return EditGroupList(root, [&](MultiString& list) -> DWORD {
            list.Delete(name);
            return ERROR_SUCCESS;
        });
    });
}

} // namespace ServicesManagement
