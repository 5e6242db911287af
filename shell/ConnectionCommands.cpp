// connect, cl, sactc, cc, cactc, callc.

#include <cwchar>
#include <iostream>

#include "Commands.h"
#include "Connections.h"
#include "Platform.h"
#include "UsageText.h"

namespace {

// The listing that the help of `sactc` and `cc` show as what `cl` returns.
#define CONNECTION_LIST_SAMPLE                                                                                      \
    L"    1 : nom_ordi_no_1 | droits_1", L"   ...       ...          ...", L"    N : nom_ordi_no_N | droits_N"

#define PROMPT_BACK_TO_UNCONNECTED                                                                                  \
    L"    Aussi, l'invite :", L"        Quorvan @ nom_ordi | droits >", L"    se transforme en :",                   \
        L"        Quorvan>"

// A number typed by the user, read as the runtime reads it: text that is not a number is 0,
// and a negative number, taken as unsigned, is larger than any count.
unsigned long NumberWord(const wchar_t* word) { return static_cast<unsigned long>(std::wcstol(word, nullptr, 10)); }

// " : machine<TAB>(local)<TAB>| rights", then the lock marker when the lock status can be read,
// or the marker of a lost connection.
void DescribeConnection(CSvcCtrlMgr* connection) {
    ServicesManagement::_SCM_PROPERTIES properties;
    connection->GetProperties(&properties);
    LastErrorKeeper keep;
    std::wcout << L" : " << properties.szMachineName << L'\t'
               << (connection->IsLocal() ? L"(local)" : L"") << L"\t| "
               << properties.dwDesiredAccess;
    switch (ReadConnectionState(connection)) {
    case ConnectionState::Unlocked:
        std::wcout << L' ';
        break;
    case ConnectionState::Locked:
        std::wcout << L' ' << L'\f';
        break;
    case ConnectionState::Lost:
        std::wcout << L' ' << LostConnectionMarker(connection);
        break;
    case ConnectionState::Unknown:
        break;
    }
}

// A number that names no open connection, as typed: one line says so, and the command fails.
// Always 0.
int ReportNoSuchConnection(const wchar_t* word) {
    std::wcerr << L"La connexion " << word << L" n'existe pas : 'cl' liste les connexions ouvertes." << std::endl;
    ::SetLastError(ERROR_NOT_CONNECTED);
    return 0;
}

// The connection commands end their output with a line break, after what they did.
int EndWithLineBreak(int result) {
    std::wcout << std::endl;
    return result;
}

} // namespace

int ConnectCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1 || argc == 2, ConnectHelp))
        return 0;
    const unsigned long rights = (argc == 2 ? NumberWord(argv[1]) : 0) | SC_MANAGER_CONNECT;
    return EndWithLineBreak(OpenConnection(argv[0], rights));
}

int ConnectionListCommand(unsigned long argc, wchar_t**) {
    if (ShowUsageUnless(argc == 0, ConnectionListHelp))
        return 0;
    if (ConnectionCount() == 0) {
        std::wcout << L"Aucun ordinateur n'est connecté pour le moment..." << L'\n';
    } else {
        std::wcout << L"Ordinateurs actuellement connectés :" << L'\n';
        for (unsigned long number = 1; number <= ConnectionCount(); ++number) {
            std::wcout << number;
            DescribeConnection(GetConnection(number));
            std::wcout << L'\n';
        }
        std::wcout << L'\n';
        if (CSvcCtrlMgr* active = GetConnection(ActiveConnectionNumber())) {
            std::wcout << L"Connection active => " << ActiveConnectionNumber();
            DescribeConnection(active);
            std::wcout << L'\n';
        } else {
            std::wcout << L"Aucune connection active..." << L'\n';
        }
    }
    return EndWithLineBreak(1);
}

int SetActiveConnectionCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, SetActiveConnectionHelp))
        return 0;
    return EndWithLineBreak(SetActiveConnection(NumberWord(argv[0])) || ReportNoSuchConnection(argv[0]));
}

int CloseConnectionCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, CloseConnectionHelp))
        return 0;
    return EndWithLineBreak(CloseConnection(NumberWord(argv[0])) || ReportNoSuchConnection(argv[0]));
}

int CloseActiveConnectionCommand(unsigned long argc, wchar_t**) {
    if (ShowUsageUnless(argc == 0, CloseActiveConnectionHelp))
        return 0;
    if (ActiveConnectionNumber() == 0) {
        ReportNoActiveConnection();
        return EndWithLineBreak(0);
    }
    return EndWithLineBreak(CloseConnection(ActiveConnectionNumber()));
}

// CloseAllConnections writes a line break of its own, so this ends with an empty line too.
int CloseAllConnectionsCommand(unsigned long argc, wchar_t**) {
    if (ShowUsageUnless(argc == 0, CloseAllConnectionsHelp))
        return 0;
    return EndWithLineBreak(CloseAllConnections());
}

void ConnectHelp() {
    PrintUsageText({
        L"Se connecte à un ordinateur distant et active la connection.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL CONNECT:<serveur>[,droits] <commande> [mots...]",
        L"                      (bien penser à mettre les ':', et aussi la ','",
        L"                      si les droits optionnels sont spécifiés).",
        L"    Mode Interactif : CONNECT <serveur> [droits]",
        L"",
        L"    <serveur>    Peut être soit un nom complet d'ordinateur, un nom de",
        L"                 la forme \\\\nom_serveur, une adresse IPv4.",
        L"    [droits]     Numéro en décimal, ou somme de numéros, des droits de",
        L"                 connection (SC_MANAGER_CONNECT seul par défaut) :",
        L"",
        L"                          Droits de connection",
        L"           ----------------------------------------------------",
        L"                (hex)    (dec)     (valeur #define)",
        L"               0x00001  1       SC_MANAGER_CONNECT",
        L"               0x00002  2       SC_MANAGER_CREATE_SERVICE",
        L"               0x00004  4       SC_MANAGER_ENUMERATE_SERVICE",
        L"               0x00008  8       SC_MANAGER_LOCK",
        L"               0x00010  16      SC_MANAGER_QUERY_LOCK_STATUS",
        L"               0x00020  32      SC_MANAGER_MODIFY_BOOT_CONFIG",
        L"               0xf003f  983103  SC_MANAGER_ALL_ACCESS",
        L"",
        L"    Quand la connection échoue, aucune connection ne reste active (celles",
        L"    qui sont ouvertes le restent).",
        L"",
        L"EXEMPLE :",
        L"    CONNECT SRV01 983103",
        L"    ORVEL CONNECT:SRV01,5 ENUM SERVICES",
    });
}

void ConnectionListHelp() {
    PrintUsageText({
        L"Affiche la liste de toutes les connections ouvertes ainsi que",
        L"la connection active. La liste se présente sous la forme :",
        L"",
        CONNECTION_LIST_SAMPLE,
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CL",
        L"    Mode Interactif : CL",
        L"",
        L"    (local) marque une connection à cet ordinateur, et (perdue, erreur n)",
        L"    une connection dont l'ordinateur ne répond plus.",
        L"",
        L"EXEMPLE :",
        L"    CL",
    });
}

void SetActiveConnectionHelp() {
    PrintUsageText({
        L"Active une connection donnée parmi celles déjà présentes",
        L"(pour les afficher, utilisez la commande 'CL').",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> SACTC <n>",
        L"    Mode Interactif : SACTC <n>",
        L"",
        L"    <n>    Numéro de connection à activer.",
        L"",
        L"EXEMPLE :",
        L"    Si un appel à la commande 'CL' renvoie :",
        L"",
        CONNECTION_LIST_SAMPLE,
        L"",
        L"    Le fait de taper : 'SACTC 1' va activer la connection numéro 1,",
        L"    c'est-à-dire activer l'ordinateur nom_ordi_no_1.",
        L"    Aussi, l'invite :",
        L"        Quorvan>",
        L"    ou bien :",
        L"        Quorvan @ nom_ordi | droits >",
        L"    se transforme en :",
        L"        Quorvan @ nom_ordi_no_1 | droits_1 >",
        L"",
        L"REMARQUE : L'appel : 'SACTC 0' fait passer le programme en mode",
        L"           'déconnection' sans toutefois fermer la connection active",
        L"           (contrairement à l'action de la commande 'CACTC').",
    });
}

void CloseConnectionHelp() {
    PrintUsageText({
        L"Ferme une connection donnée parmi celles déjà présentes",
        L"(pour les afficher, utilisez la commande 'CL'). Les connections",
        L"suivantes sont renumérotées.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CC <n>",
        L"    Mode Interactif : CC <n>",
        L"",
        L"    <n>    Numéro de connection à fermer.",
        L"",
        L"EXEMPLE :",
        L"    Si un appel à la commande 'CL' renvoie :",
        L"",
        CONNECTION_LIST_SAMPLE,
        L"",
        L"    Le fait de taper : 'CC 1' va fermer la connection numéro 1.",
    });
}

void CloseActiveConnectionHelp() {
    PrintUsageText({
        L"Ferme la connection active.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CACTC",
        L"    Mode Interactif : CACTC",
        L"",
        PROMPT_BACK_TO_UNCONNECTED,
        L"",
        L"EXEMPLE :",
        L"    CACTC",
    });
}

void CloseAllConnectionsHelp() {
    PrintUsageText({
        L"Ferme toutes les connections (pour les afficher,",
        L"utilisez la commande 'CL').",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CALLC",
        L"    Mode Interactif : CALLC",
        L"",
        PROMPT_BACK_TO_UNCONNECTED,
        L"",
        L"EXEMPLE :",
        L"    CALLC",
    });
}
