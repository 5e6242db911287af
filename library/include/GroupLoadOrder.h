#pragma once
// The load order of the services that start without being asked, as CSvcCtrlMgr::GroupLoadOrder
// computes it: one library block made of a header and its entries.

#include <memory>

#include <windows.h>

#include "VelmarikApi.h"

namespace ServicesManagement {

// One service in load order. The two strings belong to the record that holds the entry.
struct _GROUP_LOAD_ORDER_ENTRY {
    unsigned long dwReserved;
    // The service's key name.
    wchar_t* lpServiceName;
    // The group text of the service's configuration (null when it has none).
    wchar_t* lpLoadOrderGroup;
    // The service has a group value and was placed under a group named in the machine's list.
    BOOL bGroupListed;
    // The service's key holds a "Group" value of type REG_SZ.
    BOOL bHasGroup;
    unsigned long dwStartType;
    unsigned long dwTagId;
    // The service was placed by its tag: the tag is one of its group's tag vector.
    BOOL bTagListed;
    // The service's key holds a "Tag" value of type REG_DWORD.
    BOOL bHasTag;
};

// A header followed by dwCount entries. The type declares room for one entry; the block that
// GroupLoadOrder hands out holds all of them (and at least one entry's room), so a record is
// never copied: it is read where it lies and given back with ReleaseGroupLoadOrder.
struct VELMARIK_API _GROUP_LOAD_ORDER {
    _GROUP_LOAD_ORDER();
    _GROUP_LOAD_ORDER(const _GROUP_LOAD_ORDER&) = delete;
    _GROUP_LOAD_ORDER& operator=(const _GROUP_LOAD_ORDER&) = delete;
    ~_GROUP_LOAD_ORDER();
    // Releases the group name and the strings of every entry, then clears the header and the entries.
    void Free();

    // The group asked for; null when all groups were.
    wchar_t* lpGroupName;
    unsigned long dwCount;
    _GROUP_LOAD_ORDER_ENTRY Entries[1];
};

// Frees the record and releases its block; null is ignored.
VELMARIK_API void ReleaseGroupLoadOrder(_GROUP_LOAD_ORDER* order);

// Owns a load-order record in C++ code and releases it with ReleaseGroupLoadOrder.
struct GroupLoadOrderRelease {
    void operator()(_GROUP_LOAD_ORDER* order) const { ReleaseGroupLoadOrder(order); }
};
using OwnedGroupLoadOrder = std::unique_ptr<_GROUP_LOAD_ORDER, GroupLoadOrderRelease>;

} // namespace ServicesManagement
