// query config, query configex, query status, get properties, get service key_name,
// display_name, pid, type: dumps of the platform's records, one field per line.

#include <iostream>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "Connections.h"
#include "FailureActionType.h"
#include "Memory.h"
#include "Platform.h"
#include "UsageText.h"

using ServicesManagement::CSvcObj;

namespace {

const wchar_t* const Rule = L"============";

// The heading's two é have always left as code page 437's 0x82.
void PrintHeader() { std::wcout << std::endl << Cp437(L"Propriétés :") << std::endl << Rule << std::endl; }

void PrintClosingRule() { std::wcout << std::endl << Rule << std::endl; }

const wchar_t* OrNull(const wchar_t* text) { return text ? text : L"< NULL >"; }

void PrintStatus(const SERVICE_STATUS_PROCESS& status) {
    std::wcout << L"lpSvcStatusProcess->dwCheckPoint              = " << status.dwCheckPoint << std::endl
               << L"lpSvcStatusProcess->dwControlsAccepted        = " << status.dwControlsAccepted << std::endl
               << L"lpSvcStatusProcess->dwCurrentState            = " << status.dwCurrentState << std::endl
               << L"lpSvcStatusProcess->dwProcessId               = " << status.dwProcessId << std::endl
               << L"lpSvcStatusProcess->dwServiceFlags            = " << status.dwServiceFlags << std::endl
               << L"lpSvcStatusProcess->dwServiceSpecificExitCode = " << status.dwServiceSpecificExitCode << std::endl
               << L"lpSvcStatusProcess->dwServiceType             = " << status.dwServiceType << std::endl
               << L"lpSvcStatusProcess->dwWaitHint                = " << status.dwWaitHint << std::endl
               << L"lpSvcStatusProcess->dwWin32ExitCode           = " << status.dwWin32ExitCode << std::endl;
}

// The dependencies are one wide string here: only the first name shows.
void PrintConfig(const QUERY_SERVICE_CONFIGW& config) {
    std::wcout << L"lpSvcConfig->dwErrorControl     = " << config.dwErrorControl << std::endl
               << L"lpSvcConfig->dwServiceType      = " << config.dwServiceType << std::endl
               << L"lpSvcConfig->dwStartType        = " << config.dwStartType << std::endl
               << L"lpSvcConfig->dwTagId            = " << config.dwTagId << std::endl
               << L"lpSvcConfig->lpBinaryPathName   = " << OrNull(config.lpBinaryPathName) << std::endl
               << L"lpSvcConfig->lpDependencies     = " << OrNull(config.lpDependencies) << std::endl
               << L"lpSvcConfig->lpDisplayName      = " << OrNull(config.lpDisplayName) << std::endl
               << L"lpSvcConfig->lpLoadOrderGroup   = " << OrNull(config.lpLoadOrderGroup) << std::endl
               << L"lpSvcConfig->lpServiceStartName = " << OrNull(config.lpServiceStartName) << std::endl;
}

// The number of actions that really lie inside the block, whatever count the record claims.
DWORD ActionsInBlock(const SERVICE_FAILURE_ACTIONSW& actions) {
    if (!actions.lpsaActions)
        return 0;
    const auto* start = reinterpret_cast<const BYTE*>(&actions);
    const auto* first = reinterpret_cast<const BYTE*>(actions.lpsaActions);
    const size_t size = MemGetSize(&actions);
    if (first < start || first > start + size)
        return 0;
    const size_t room = static_cast<size_t>(start + size - first) / sizeof(SC_ACTION);
    return actions.cActions < room ? actions.cActions : static_cast<DWORD>(room);
}

void PrintFailureActions(const SERVICE_FAILURE_ACTIONSW& actions) {
    std::wcout << L"lpSvcFailureActions->dwResetPeriod = " << actions.dwResetPeriod << std::endl;
    ConsolePrintf(L"lpSvcFailureActions->lpRebootMsg   = %s\n", OrNull(actions.lpRebootMsg));
    ConsolePrintf(L"lpSvcFailureActions->lpCommand     = %s\n", OrNull(actions.lpCommand));
    std::wcout << std::endl << L"Actions" << std::endl << L"=======" << std::endl << std::endl;
    const DWORD count = ActionsInBlock(actions);
    std::wcout << L"lpSvcFailureActions->cActions = " << count << std::endl;
    for (DWORD i = 0; i < count; ++i) {
        std::wcout << std::endl
                   << L"lpSvcFailureActions->lpsaActions[" << i << L"].Type  = "
                   << static_cast<int>(ActionTypeNumber(actions.lpsaActions[i])) << std::endl
                   << L"lpSvcFailureActions->lpsaActions[" << i << L"].Delay = " << actions.lpsaActions[i].Delay
                   << std::endl;
    }
    std::wcout << std::endl << L"=======" << std::endl;
}

// Dumps a record between the heading and the closing rule.
template <typename Record>
void DumpRecord(const Record& record, void (*print)(const Record&)) {
    PrintHeader();
    std::wcout << std::endl;
    print(record);
    PrintClosingRule();
}

// A section that cannot be read is left out; that is no failure of the command, so its code
// does not reach the banner.
template <typename Record>
void PrintExtendedSection(const CSvcObj& object, ServicesManagement::ConfigInfoLevel level,
                          void (*print)(const Record&)) {
    LastErrorKeeper keep;
    void* record = nullptr;
    if (!object.QueryConfig2(&record, level))
        return;
    const MemBlock<void> owned(record);
    print(*static_cast<const Record*>(record));
}

void PrintDescription(const SERVICE_DESCRIPTIONW& description) {
    ConsolePrintf(L"lpSvcDescription->lpDescription    = %s\n", OrNull(description.lpDescription));
}

} // namespace

void PrintStatusRecord(const SERVICE_STATUS_PROCESS& status) { DumpRecord(status, PrintStatus); }

// The lookup has just read the configuration: it is dumped as read.
int QueryConfigCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, QueryConfigHelp))
        return 0;
    const bool found = WithActiveServiceConfig(
        argv[0], [](CSvcObj&, const QUERY_SERVICE_CONFIGW& config) { DumpRecord(config, PrintConfig); });
    std::wcout << std::endl;
    return found ? 1 : 0;
}

int QueryStatusCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, QueryStatusHelp))
        return 0;
    int result = 0;
    WithActiveService(argv[0], [&](CSvcObj& object) {
        SERVICE_STATUS_PROCESS* status = nullptr;
        if (!object.QueryStatus(&status))
            return;
        const MemBlock<SERVICE_STATUS_PROCESS> owned(status);
        PrintStatusRecord(*status);
        result = 1;
    });
    std::wcout << std::endl;
    return result;
}

int QueryConfigExCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, QueryConfigExHelp))
        return 0;
    int result = 0;
    WithActiveService(argv[0], [&](CSvcObj& object) {
        PrintHeader();
        std::wcout << std::endl;
        PrintExtendedSection(object, ServicesManagement::ConfigInfoDescription, PrintDescription);
        PrintExtendedSection(object, ServicesManagement::ConfigInfoFailureActions, PrintFailureActions);
        PrintClosingRule();
        result = 1;
    });
    std::wcout << std::endl;
    return result;
}

int GetPropertiesCommand(unsigned long, wchar_t**) {
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
    ServicesManagement::_SCM_PROPERTIES properties;
    if (connection->GetProperties(&properties)) {
        PrintHeader();
        std::wcout << L"szMachineName   = " << properties.szMachineName
                   << (connection->IsLocal() ? L" (Ordinateur local)" : L"") << std::endl
                   << L"szDatabaseName  = " << properties.szDatabaseName << std::endl
                   << L"dwDesiredAccess = " << properties.dwDesiredAccess << std::endl
                   << L"Nombres d'objets services : " << connection->GetCount() << std::endl
                   << Rule << std::endl
                   << std::endl;
    }
    std::wcout << std::endl;
    return 1;
}

namespace {

using NameTranslation = int (CSvcCtrlMgr::*)(const SimpleString&, SimpleString&) const;

int PrintTranslatedName(unsigned long argc, wchar_t** argv, COMMAND_HELP help, NameTranslation translate,
                        const wchar_t* label) {
    if (ShowUsageUnless(argc == 1, help))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
    SimpleString name;
    if ((connection->*translate)(SimpleString(argv[0]), name))
        std::wcout << label << name << std::endl;
    std::wcout << std::endl;
    return 1;
}

// `pid` and `type` report through the banner only: their result is always 0.
template <typename Read>
int PrintServiceNumber(unsigned long argc, wchar_t** argv, COMMAND_HELP help, const wchar_t* label,
                       Read read) {
    if (ShowUsageUnless(argc == 1, help))
        return 0;
    WithActiveServiceConfig(argv[0], [&](CSvcObj& object, const QUERY_SERVICE_CONFIGW& config) {
        std::wcout << label << read(object, config) << std::endl;
    });
    std::wcout << std::endl;
    return 0;
}

} // namespace

int GetKeyNameCommand(unsigned long argc, wchar_t** argv) {
    return PrintTranslatedName(argc, argv, GetKeyNameHelp, &CSvcCtrlMgr::GetServiceKeyNameW, L"Key Name = ");
}

int GetDisplayNameCommand(unsigned long argc, wchar_t** argv) {
    return PrintTranslatedName(argc, argv, GetDisplayNameHelp, &CSvcCtrlMgr::GetServiceDisplayNameW,
                               L"Display Name = ");
}

int GetProcessIdCommand(unsigned long argc, wchar_t** argv) {
    return PrintServiceNumber(
        argc, argv, GetProcessIdHelp, L"PID = ",
        [](CSvcObj& object, const QUERY_SERVICE_CONFIGW&) { return object.GetProcessId(); });
}

int GetTypeCommand(unsigned long argc, wchar_t** argv) {
    // The type is the one of the configuration that the lookup read.
    return PrintServiceNumber(
        argc, argv, GetTypeHelp, L"Type = ",
        [](CSvcObj&, const QUERY_SERVICE_CONFIGW& config) { return config.dwServiceType; });
}

void QueryConfigHelp() {
    PrintUsageText({
        L"Affiche la configuration d'un service / pilote, un champ par ligne",
        L"(valeurs en décimal). Seule la première de ses dépendances est affichée.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> QUERY CONFIG <service>",
        L"    Mode Interactif : QUERY CONFIG <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    QUERY CONFIG Spooler",
    });
}

void QueryConfigExHelp() {
    PrintUsageText({
        L"Affiche la configuration étendue d'un service / pilote : sa description",
        L"et ses actions en cas d'échec. Une partie illisible est omise.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> QUERY CONFIGEX <service>",
        L"    Mode Interactif : QUERY CONFIGEX <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    QUERY CONFIGEX Spooler",
    });
}

void QueryStatusHelp() {
    PrintUsageText({
        L"Affiche l'état d'exécution d'un service / pilote, un champ par ligne.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> QUERY STATUS <service>",
        L"    Mode Interactif : QUERY STATUS <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"    dwCurrentState : 1 arrêté, 2 démarrage en cours, 3 arrêt en cours,",
        L"    4 en cours d'exécution, 5 reprise en cours, 6 mise en pause en cours,",
        L"    7 en pause.",
        L"",
        L"EXEMPLE :",
        L"    QUERY STATUS Spooler",
    });
}

void GetPropertiesHelp() {
    PrintUsageText({
        L"Affiche les propriétés de la connexion active : la machine, la base des",
        L"services, les droits demandés et le nombre de services et pilotes (0",
        L"sans le droit SC_MANAGER_ENUMERATE_SERVICE, 4).",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> GET PROPERTIES",
        L"    Mode Interactif : GET PROPERTIES",
        L"",
        L"EXEMPLE :",
        L"    GET PROPERTIES",
    });
}

void GetKeyNameHelp() {
    PrintUsageText({
        L"Affiche le nom système (nom de clé) d'un service / pilote dont on connaît",
        L"le nom complet : c'est le nom qu'attendent les autres commandes.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> GET SERVICE KEY_NAME <nom_complet>",
        L"    Mode Interactif : GET SERVICE KEY_NAME <nom_complet>",
        L"",
        L"    <nom_complet>    Nom complet du service, entre guillemets s'il contient",
        L"                     des espaces.",
        L"",
        L"EXEMPLE :",
        L"    GET SERVICE KEY_NAME \"Spouleur d'impression\"",
    });
}

void GetDisplayNameHelp() {
    PrintUsageText({
        L"Affiche le nom complet d'un service / pilote.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> GET SERVICE DISPLAY_NAME <service>",
        L"    Mode Interactif : GET SERVICE DISPLAY_NAME <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    GET SERVICE DISPLAY_NAME Spooler",
    });
}

void GetProcessIdHelp() {
    PrintUsageText({
        L"Affiche le numéro du processus d'un service (0 quand il ne tourne pas).",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> GET SERVICE PID <service>",
        L"    Mode Interactif : GET SERVICE PID <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    GET SERVICE PID Spooler",
    });
}

void GetTypeHelp() {
    PrintUsageText({
        L"Affiche le type d'un service / pilote : 1 pilote noyau, 2 pilote de",
        L"système de fichiers, 16 service dans son propre processus, 32 service",
        L"qui partage son processus ; 256 s'y ajoute pour un service interactif.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> GET SERVICE TYPE <service>",
        L"    Mode Interactif : GET SERVICE TYPE <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    GET SERVICE TYPE Spooler",
    });
}
