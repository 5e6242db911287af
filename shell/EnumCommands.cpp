// enum service_group, enum service_group_load_order, enum dependent_services, enum services.

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Connections.h"
#include "GroupLoadOrder.h"
#include "Memory.h"
#include "MultiString.h"
#include "StringFunctions.h"
#include "UsageText.h"

using ServicesManagement::CSvcObj;

int EnumServiceGroupsCommand(unsigned long, wchar_t**) {
    CSvcCtrlMgr* connection = GetActiveConnectionWithRegistry();
    if (!connection)
        return 0;
    MultiString groups;
    // A list that cannot be read is no list of none: only the failure shows.
    if (!connection->EnumServiceGroups(groups))
        return 0;
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
    CSvcCtrlMgr* connection = GetActiveConnectionWithRegistry();
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
    if (ShowUsageUnless(argc == 1, EnumDependentsHelp))
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

void EnumServiceGroupsHelp() {
    PrintUsageText({
        L"Affiche la liste ordonnée des groupes de services de la machine de la",
        L"connexion active, dans l'ordre où le système les charge.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> ENUM SERVICE_GROUP",
        L"    Mode Interactif : ENUM SERVICE_GROUP",
        L"",
        L"EXEMPLE :",
        L"    ENUM SERVICE_GROUP",
    });
}

void EnumLoadOrderHelp() {
    PrintUsageText({
        L"Affiche l'ordre de chargement des services et pilotes que le système",
        L"démarre lui-même (démarrage boot, system ou automatique), pour un",
        L"groupe ou pour tous.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> ENUM SERVICE_GROUP_LOAD_ORDER",
        L"                      [groupe]",
        L"    Mode Interactif : ENUM SERVICE_GROUP_LOAD_ORDER [groupe]",
        L"",
        L"    [groupe]    Nom du groupe ; sans lui, tous les groupes dans l'ordre de",
        L"                la liste, puis les services sans groupe ou d'un groupe",
        L"                absent de la liste.",
        L"",
        L"    Une * après le groupe signale un groupe absent de la liste ordonnée ;",
        L"    une * après le tag, un service qui n'a pas été placé par son tag.",
        L"",
        L"EXEMPLE :",
        L"    ENUM SERVICE_GROUP_LOAD_ORDER \"System Bus Extender\"",
    });
}

void EnumDependentsHelp() {
    PrintUsageText({
        L"Liste les services qui dépendent du service donné, directement ou non,",
        L"le plus éloigné en premier, quel que soit leur état.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> ENUM DEPENDENT_SERVICES <service>",
        L"    Mode Interactif : ENUM DEPENDENT_SERVICES <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    ENUM DEPENDENT_SERVICES RpcSs",
    });
}

std::wstring StateShown(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return L"Arrêté";
    case SERVICE_START_PENDING:
        return L"Démarrage en cours";
    case SERVICE_STOP_PENDING:
        return L"Arrêt en cours";
    case SERVICE_RUNNING:
        return L"En cours d'exécution";
    case SERVICE_CONTINUE_PENDING:
        return L"Reprise en cours";
    case SERVICE_PAUSE_PENDING:
        return L"Mise en pause en cours";
    case SERVICE_PAUSED:
        return L"En pause";
    default:
        return std::to_wstring(state);
    }
}

namespace {

// The first word of `enum services`: which kind of entries, and how the heading names them.
struct ServiceKind {
    const wchar_t* word;
    unsigned long serviceType;
    const wchar_t* singular;
    const wchar_t* plural;
    const wchar_t* title;
};

const ServiceKind ServiceKinds[] = {
    {L"services", SERVICE_WIN32, L"service", L"services", L"Services :"},
    {L"pilotes", SERVICE_DRIVER, L"pilote", L"pilotes", L"Pilotes :"},
    {L"tous", SERVICE_WIN32 | SERVICE_DRIVER, L"service / pilote", L"services / pilotes", L"Services / pilotes :"},
};

// The second word: which states.
struct StateChoice {
    const wchar_t* word;
    unsigned long serviceState;
};

const StateChoice StateChoices[] = {
    {L"tous", SERVICE_STATE_ALL},
    {L"actifs", SERVICE_ACTIVE},
    {L"inactifs", SERVICE_INACTIVE},
};

// The entry whose word is `word` without regard to case, as commands are looked up; null for none.
template <typename Entry, size_t N>
const Entry* ChoiceNamed(const Entry (&entries)[N], const wchar_t* word) {
    for (const Entry& entry : entries)
        if (StrIComp(entry.word, word) == 0)
            return &entry;
    return nullptr;
}

struct ServiceRow {
    std::wstring keyName;
    std::wstring state;
    const wchar_t* displayName;
};

// One row per record, in the order in which command words compare names.
std::vector<ServiceRow> RowsByKeyName(const ENUM_SERVICE_STATUS_PROCESSW* services, unsigned long count) {
    std::vector<ServiceRow> rows;
    rows.reserve(count);
    for (unsigned long i = 0; i < count; ++i)
        rows.push_back({services[i].lpServiceName ? services[i].lpServiceName : L"",
                        StateShown(services[i].ServiceStatusProcess.dwCurrentState),
                        services[i].lpDisplayName ? services[i].lpDisplayName : L""});
    std::stable_sort(rows.begin(), rows.end(), [](const ServiceRow& a, const ServiceRow& b) {
        return StrIComp(a.keyName.c_str(), b.keyName.c_str()) < 0;
    });
    return rows;
}

std::wstring PaddedTo(const std::wstring& text, size_t width) {
    return text + std::wstring(width - text.size(), L' ');
}

void PrintServiceTable(const ServiceKind& kind, const std::vector<ServiceRow>& rows) {
    size_t keyWidth = 0;
    size_t stateWidth = 0;
    for (const ServiceRow& row : rows) {
        keyWidth = std::max(keyWidth, row.keyName.size());
        stateWidth = std::max(stateWidth, row.state.size());
    }
    std::wcout << L"Il y a " << rows.size() << L" " << (rows.size() > 1 ? kind.plural : kind.singular) << L"."
               << std::endl
               << std::endl
               << kind.title << std::endl
               << std::wstring(std::wcslen(kind.title), L'=') << std::endl;
    for (const ServiceRow& row : rows)
        std::wcout << PaddedTo(row.keyName, keyWidth) << L"  " << PaddedTo(row.state, stateWidth) << L"  "
                   << row.displayName << std::endl;
    std::wcout << std::endl;
}

} // namespace

void EnumServicesWords(std::vector<std::wstring>& words) {
    for (const ServiceKind& kind : ServiceKinds)
        words.push_back(kind.word);
    for (const StateChoice& state : StateChoices)
        words.push_back(state.word);
}

// One enumeration, every page of it, and no call per service: the state and display name come
// with the records. A connection opened without the enumeration's right (batch mode's, a
// `connect` without rights) lists all the same.
int EnumServicesCommand(unsigned long argc, wchar_t** argv) {
    // A state word alone is the state: the kind and state words differ but for "tous", which
    // stays the kind.
    const bool stateAlone =
        argc == 1 && !ChoiceNamed(ServiceKinds, argv[0]) && ChoiceNamed(StateChoices, argv[0]);
    const ServiceKind* kind = argc >= 1 && !stateAlone ? ChoiceNamed(ServiceKinds, argv[0]) : &ServiceKinds[0];
    const StateChoice* states = argc >= 2 ? ChoiceNamed(StateChoices, argv[1])
                                : stateAlone ? ChoiceNamed(StateChoices, argv[0])
                                             : &StateChoices[0];
    if (ShowUsageUnless(argc <= 2 && kind && states, EnumServicesHelp))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
    ENUM_SERVICE_STATUS_PROCESSW* services = nullptr;
    unsigned long count = 0;
    if (!connection->EnumServicesWithEnumerateRight(kind->serviceType, states->serviceState, &services, &count)) {
        std::wcout << std::endl;
        return 0;
    }
    const MemBlock<ENUM_SERVICE_STATUS_PROCESSW> owned(services);
    PrintServiceTable(*kind, RowsByKeyName(services, count));
    return 1;
}

void EnumServicesHelp() {
    PrintUsageText({
        L"Énumère les services et pilotes de la connexion active, triés par nom",
        L"système, avec leur état et leur nom complet. Le nom système (première",
        L"colonne) est celui qu'attendent les autres commandes.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> ENUM SERVICES [type] [état]",
        L"    Mode Interactif : ENUM SERVICES [type] [état]",
        L"",
        L"    [type]    SERVICES : les services (par défaut) ;",
        L"              PILOTES  : les pilotes ;",
        L"              TOUS     : les services et les pilotes.",
        L"    [état]    TOUS     : quel que soit leur état (par défaut) ;",
        L"              ACTIFS   : ceux qui ne sont pas arrêtés ;",
        L"              INACTIFS : ceux qui sont arrêtés.",
        L"",
        L"EXEMPLE :",
        L"    ENUM SERVICES PILOTES ACTIFS",
    });
}
