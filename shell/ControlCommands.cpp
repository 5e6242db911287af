// start, stop, pause, continue, interrogate, control, debug.

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <iterator>
#include <optional>

#include "Commands.h"
#include "Connections.h"
#include "Memory.h"
#include "StringFunctions.h"
#include "UsageText.h"

using ServicesManagement::CSvcObj;

namespace {

// The shared steps of the service commands: the usage text for a wrong count, the operation on
// the service of the active connection, and the closing empty line. Failures show through the
// banner only.
template <typename Operation>
int RunOnService(bool accepted, COMMAND_HELP help, const wchar_t* serviceName, Operation operation) {
    if (ShowUsageUnless(accepted, help))
        return 0;
    int result = 0;
    WithActiveService(serviceName, [&](CSvcObj& object) { result = operation(object); });
    std::wcout << std::endl;
    return result;
}

} // namespace

int StartCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc >= 1, StartHelp, argv[0], [&](CSvcObj& object) {
        return object.Start(argc - 1, const_cast<const wchar_t**>(argv + 1), 0, nullptr, nullptr);
    });
}

// The reason and the comment are accepted for the usage's sake and not used.
int StopCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc >= 1 && argc <= 3, StopHelp, argv[0],
                        [](CSvcObj& object) { return object.Stop(1, 120000, 1, 0, nullptr, nullptr); });
}

int PauseCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc == 1, PauseHelp, argv[0],
                        [](CSvcObj& object) { return object.Pause(0, nullptr, nullptr); });
}

int ContinueCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc == 1, ContinueHelp, argv[0],
                        [](CSvcObj& object) { return object.Resume(0, nullptr, nullptr); });
}

// Only checks that the service can be opened: nothing is sent to it.
int InterrogateCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc == 1, InterrogateHelp, argv[0], [](CSvcObj&) { return 1; });
}

namespace {

// The standard controls that carry no other meaning here; stop, pause, continue and interrogate
// have commands of their own.
struct ControlWord {
    const wchar_t* word;
    DWORD code;
};
const ControlWord ControlWords[] = {
    {L"paramchange", SERVICE_CONTROL_PARAMCHANGE},       {L"netbindadd", SERVICE_CONTROL_NETBINDADD},
    {L"netbindremove", SERVICE_CONTROL_NETBINDREMOVE},   {L"netbindenable", SERVICE_CONTROL_NETBINDENABLE},
    {L"netbinddisable", SERVICE_CONTROL_NETBINDDISABLE},
};
const DWORD FirstUserControl = 128;
const DWORD LastUserControl = 255;

// The code that `control` sends for `word`: a word of ControlWords, or a decimal number that is a
// service's own code or one of theirs; none for anything else.
std::optional<DWORD> ControlCodeOf(const wchar_t* word) {
    for (const ControlWord& control : ControlWords)
        if (StrIComp(word, control.word) == 0)
            return control.code;
    const size_t length = std::wcslen(word);
    if (length == 0 || length > 3 || std::wcsspn(word, L"0123456789") != length)
        return std::nullopt;
    const DWORD code = std::wcstoul(word, nullptr, 10);
    const bool named = std::any_of(std::begin(ControlWords), std::end(ControlWords),
                                   [code](const ControlWord& control) { return control.code == code; });
    if (named || (code >= FirstUserControl && code <= LastUserControl))
        return code;
    return std::nullopt;
}

} // namespace

// Sends the code, then shows the service's state as `query status` does.
int ControlCommand(unsigned long argc, wchar_t** argv) {
    const std::optional<DWORD> code = argc == 2 ? ControlCodeOf(argv[1]) : std::nullopt;
    return RunOnService(code.has_value(), ControlHelp, argv[0], [&](CSvcObj& object) {
        SERVICE_STATUS_PROCESS* status = nullptr;
        if (!object.Control(*code, 0, nullptr, nullptr) || !object.QueryStatus(&status))
            return 0;
        const MemBlock<SERVICE_STATUS_PROCESS> owned(status);
        PrintStatusRecord(*status);
        return 1;
    });
}

int DebugCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc == 1, DebugHelp, argv[0], [](CSvcObj& object) { return object.AttachToADebugger(); });
}

void StartHelp() {
    PrintUsageText({
        L"Démarre l'exécution d'un service.",
        L"",
        L"UTILISATION :",
        L"    sc <serveur> start [nom_service] <arg1> <arg2> ...",
    });
}

void StopHelp() {
    PrintUsageText({
        L"Envoie une demande de contrôle STOP à un service.",
        L"",
        L"UTILISATION :",
        L"    sc <serveur> stop [nom service] <raison> <commentaire>",
        L"",
        L"    <raison>    Numéro du code de raison facultatif pour l'arrêt du service",
        L"                formé des éléments suivants au format :",
        L"",
        L"                Indicateur:Raison principale:Raison secondaire",
        L"",
        L"                [p. ex., 1:2:8 signifie Matériel : disque",
        L"                (non planifié)]",
        L"",
        L"                Indicateur                Raison principale",
        L"           ------------------       ---------------------------",
        L"           1    -   Non planifié    1       -   Autre",
        L"           2    -   Personnalisé    2       -   Matériel",
        L"           4    -   Planifié        3       -   Système d'exploitation",
        L"                                    4       -   Logiciel",
        L"                                    5       -   Application",
        L"                                    64-255  -   Personnalisé",
        L"",
        L"                    Raison secondaire",
        L"           -----------------------------------",
        L"           1            -   Autre",
        L"           2            -   Maintenance",
        L"           3            -   Installation",
        L"           4            -   Mise à niveau",
        L"           5            -   Reconfiguration",
        L"           6            -   Bloqué",
        L"           7            -   Instable",
        L"           8            -   Disque",
        L"           9            -   Carte réseau",
        L"           10           -   Environnement",
        L"           11           -   Pilote matériel",
        L"           12           -   Autre pilote",
        L"           13           -   Service Pack",
        L"           14           -   Mise à jour logicielle",
        L"           15           -   Correctif de sécurité",
        L"           16           -   Sécurité",
        L"           17           -   Connectivité réseau",
        L"           18           -   WMI",
        L"           19           -   Désinstallation de Service Pack",
        L"           20           -   Désinstallation de mise à jour logicielle",
        L"           22           -   Désinstallation de correctif de sécurité",
        L"           23           -   Console MMC",
        L"           256-65535    -   Personnalisé",
        L"",
        L"    <commentaire>    Commentaire facultatif de la raison ci-dessus",
        L"                     (127 caractères au maximum)",
    });
}

void PauseHelp() {
    PrintUsageText({
        L"Envoie une demande de contrôle PAUSE à un service.",
        L"",
        L"UTILISATION :",
        L"    sc <serveur> pause [nom_service]",
    });
}

void ContinueHelp() {
    PrintUsageText({
        L"Envoie une demande de contrôle CONTINUE à un service.",
        L"",
        L"UTILISATION :",
        L"    sc <serveur> continue [nom_service]",
    });
}

void InterrogateHelp() {
    PrintUsageText({
        L"Envoie une demande de contrôle INTERROGATE à un service.",
        L"",
        L"UTILISATION :",
        L"    sc <serveur> interrogate [nom_service]",
    });
}

// `control` sends nothing yet, so it has nothing to explain.
void ControlHelp() {
    PrintUsageText({
        L"Envoie un code de contr\u00F4le \u00E0 un service, puis affiche son \u00E9tat comme",
        L"QUERY STATUS. Pour arr\u00EAter, suspendre, reprendre ou interroger un service,",
        L"utilisez STOP, PAUSE, CONTINUE et INTERROGATE.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CONTROL <service> <code>",
        L"    Mode Interactif : CONTROL <service> <code>",
        L"",
        L"    <code>  128 \u00E0 255 : un code propre au service ;",
        L"            paramchange (6), netbindadd (7), netbindremove (8),",
        L"            netbindenable (9), netbinddisable (10), par leur nom ou leur",
        L"            num\u00E9ro.",
        L"",
        L"EXEMPLE :",
        L"    CONTROL MonService 130",
    });
}

void DebugHelp() {
    PrintUsageText({
        L"Attache un débogueur au processus du service.",
        L"",
        L"UTILISATION :",
        L"    sc <serveur> debug [nom_service]",
    });
}
