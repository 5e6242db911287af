#pragma once
// The placing of services in load order: by start type (boot, system, then automatic), then by
// the order of the groups, then inside a group by its tag vector, and last the services whose
// group is unknown. The services are indexed once by start type and group, and each group's
// services by tag, so the cost follows the number of services and tags, not their product.

#include <cstddef>
#include <functional>
#include <vector>

#include <windows.h>

#include "SimpleString.h"

namespace ServicesManagement {

// What the load order needs of one service.
struct LoadOrderCandidate {
    SimpleString name;
    // The group text of the configuration; it counts only with hasGroup.
    SimpleString group;
    unsigned long startType;
    // The tag of the configuration; it counts only with hasTag.
    unsigned long tag;
    // The service's key holds a "Group" value of type REG_SZ.
    bool hasGroup;
    // The service's key holds a "Tag" value of type REG_DWORD.
    bool hasTag;
};

// One service placed: its index among the candidates and how it was placed.
struct LoadOrderPlacement {
    std::size_t candidate;
    bool groupListed;
    bool tagListed;
};

// The tag vector of a group named in the list, in load order.
using TagVectorReader = std::function<std::vector<DWORD>(const wchar_t* group)>;

// The candidates in load order. `groupList` is the machine's ordered list of group names.
// With a null `group` every group is walked, in list order and then the unknown ones; otherwise
// only `group` (the empty name standing for the services without a known group). Candidates of
// other start types than boot, system and automatic never appear; the others appear once.
std::vector<LoadOrderPlacement> PlaceInLoadOrder(const std::vector<LoadOrderCandidate>& candidates,
                                                 const std::vector<SimpleString>& groupList, const wchar_t* group,
                                                 const TagVectorReader& readTagVector);

} // namespace ServicesManagement
