// enum service_group, enum service_group_load_order, enum dependent_services.

#include <iostream>

#include "Commands.h"
#include "Connections.h"
#include "GroupLoadOrder.h"
#include "Memory.h"
#include "MultiString.h"

using ServicesManagement::CSvcObj;

int EnumServiceGroupsCommand(unsigned long, wchar_t**) {
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
    MultiString groups;
    connection->EnumServiceGroups(groups);
    const unsigned int count = groups.NumberOfElements();
    std::wcout << L"Il y a " << count << L" groupe" << (count > 1 ? L"s" : L"") << L"." << std::endl
               << std::endl
               << L"Groupes :" << std::endl
               << L"=========" << std::endl
               << groups << std::endl
               << std::endl;
    return 1;
}

namespace {

// The group text as the configuration holds it, or "n/a" when the service has no group value.
const wchar_t* GroupShown(const ServicesManagement::_GROUP_LOAD_ORDER_ENTRY& entry) {
    if (!entry.bHasGroup)
        return L"n/a";
    return entry.lpLoadOrderGroup ? entry.lpLoadOrderGroup : L"";
}

void PrintLoadOrderEntry(const ServicesManagement::_GROUP_LOAD_ORDER_ENTRY& entry) {
    std::wcout << L"Service '" << entry.lpServiceName << L"'" << L"\t\tGroup : '" << GroupShown(entry) << L"'"
               << (entry.bGroupListed ? L"" : L"*")
               << L"\tTag : ";
    if (entry.bHasTag)
        std::wcout << static_cast<int>(entry.dwTagId);
    else
        std::wcout << L"n/a";
    std::wcout << (entry.bTagListed ? L"" : L"*") << std::endl;
}

} // namespace

// A star after the group marks a group missing from the machine's ordered list; a star after
// the tag marks a service that was not placed by its tag.
int EnumLoadOrderCommand(unsigned long argc, wchar_t** argv) {
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
    ServicesManagement::_GROUP_LOAD_ORDER* order = nullptr;
    unsigned long count = 0;
    const int result = connection->GroupLoadOrder(argc != 0 ? argv[0] : nullptr, &order, &count);
    if (result) {
        std::wcout << L"Groupe : '" << (order->lpGroupName ? order->lpGroupName : L"< Tous les groupes >") << L"'."
                   << std::endl;
        for (unsigned long i = 0; i < order->dwCount; ++i)
            PrintLoadOrderEntry(order->Entries[i]);
        ServicesManagement::ReleaseGroupLoadOrder(order);
    }
    std::wcout << std::endl;
    return result;
}

int EnumDependentsCommand(unsigned long argc, wchar_t** argv) {
    if (argc != 1)
        return 0;
    WithActiveService(argv[0], [](CSvcObj& object) {
        std::wcout << L"Dépendances de " << object.GetName() << L" :" << std::endl;
        ENUM_SERVICE_STATUSW* dependents = nullptr;
        unsigned long count = 0;
        const int listed = object.EnumDependentServicesW(SERVICE_STATE_ALL, &dependents, &count);
        std::wcout << L"Il y a " << count << L" dépendances." << std::endl << std::endl;
        if (listed && count != 0) {
            for (unsigned long i = 0; i < count; ++i)
                std::wcout << dependents[i].lpServiceName << std::endl;
        }
        MemRelease(dependents);
    });
    std::wcout << std::endl;
    return 0;
}
