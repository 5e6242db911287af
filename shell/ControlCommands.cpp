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
#include "WaitProgress.h"

using ServicesManagement::CSvcObj;
using ServicesManagement::SVC_PROGRESS_CALLBACK;

namespace {

// The shared steps of the service commands: the usage text for a wrong count, the operation on
// the service of the active connection (found with the rights `access` its operation needs
// besides the reads), and the closing empty line. Failures show through the banner only.
template <typename Operation>
int RunOnService(bool accepted, COMMAND_HELP help, const wchar_t* serviceName, Operation operation,
                 unsigned long access = 0) {
    if (ShowUsageUnless(accepted, help))
        return 0;
    int result = 0;
    WithActiveService(serviceName, [&](CSvcObj& object) { result = operation(object); }, access);
    std::wcout << std::endl;
    return result;
}

// The same for a state change, whose long waits show on the console.
template <typename StateChange>
int RunStateChange(bool accepted, COMMAND_HELP help, const wchar_t* serviceName, StateChange change) {
    return RunOnService(accepted, help, serviceName, [&](CSvcObj& object) {
        WaitProgressLine line;
        return change(object, line.Context(), line.Callback());
    });
}

} // namespace

int StartCommand(unsigned long argc, wchar_t** argv) {
    return RunStateChange(
        argc >= 1, StartHelp, argv[0], [&](CSvcObj& object, void* context, SVC_PROGRESS_CALLBACK progress) {
            return object.Start(argc - 1, const_cast<const wchar_t**>(argv + 1), 0, context, progress);
        });
}

// The reason and the comment are accepted for the usage's sake and not used.
int StopCommand(unsigned long argc, wchar_t** argv) {
    return RunStateChange(argc >= 1 && argc <= 3, StopHelp, argv[0],
                          [](CSvcObj& object, void* context, SVC_PROGRESS_CALLBACK progress) {
                              return object.Stop(1, 120000, 1, 0, context, progress);
                          });
}

int PauseCommand(unsigned long argc, wchar_t** argv) {
    return RunStateChange(argc == 1, PauseHelp, argv[0],
                          [](CSvcObj& object, void* context, SVC_PROGRESS_CALLBACK progress) {
                              return object.Pause(0, context, progress);
                          });
}

int ContinueCommand(unsigned long argc, wchar_t** argv) {
    return RunStateChange(argc == 1, ContinueHelp, argv[0],
                          [](CSvcObj& object, void* context, SVC_PROGRESS_CALLBACK progress) {
                              return object.Resume(0, context, progress);
                          });
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

void ControlCodeWords(std::vector<std::wstring>& words) {
    for (const ControlWord& control : ControlWords)
        words.push_back(control.word);
}

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
    }, code ? CSvcObj::ControlAccess(*code) : 0);
}

int DebugCommand(unsigned long argc, wchar_t** argv) {
    return RunOnService(argc == 1, DebugHelp, argv[0], [](CSvcObj& object) { return object.AttachToADebugger(); });
}

void StartHelp() {
    PrintUsageText({
        L"Démarre un service / pilote avec les arguments donnés et attend qu'il soit",
        L"en cours d'exécution ; échoue (1053) quand il cesse de progresser. Un",
        L"service qui tourne déjà n'est pas touché.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> START <service> [arguments...]",
        L"    Mode Interactif : START <service> [arguments...]",
        L"",
        L"    <service>         Nom système du service (première colonne de",
        L"                      ENUM SERVICES), et non son nom complet.",
        L"    [arguments...]    Mots passés au service, tels qu'ils sont tapés.",
        L"",
        L"EXEMPLE :",
        L"    START Spooler",
    });
}

void StopHelp() {
    PrintUsageText({
        L"Arrête les services actifs qui dépendent du service / pilote, puis le",
        L"service lui-même, en attendant 30 secondes au plus chacun ; sur cet",
        L"ordinateur, le processus d'un service qui ne s'arrête pas peut être terminé.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> STOP <service> [raison [commentaire]]",
        L"    Mode Interactif : STOP <service> [raison [commentaire]]",
        L"",
        L"    <service>   Nom système du service (première colonne de ENUM SERVICES),",
        L"                et non son nom complet.",
        L"    [raison]    Numéro du code de raison facultatif pour l'arrêt du service",
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
        L"    [commentaire]    Commentaire facultatif de la raison ci-dessus.",
        L"",
        L"    La raison et le commentaire sont acceptés mais ne sont pas utilisés.",
        L"",
        L"EXEMPLE :",
        L"    STOP Spooler",
    });
}

void PauseHelp() {
    PrintUsageText({
        L"Met en pause un service et attend qu'il soit en pause ; échoue pour un",
        L"service arrêté ou qui n'accepte pas la pause.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> PAUSE <service>",
        L"    Mode Interactif : PAUSE <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    PAUSE LanmanServer",
    });
}

void ContinueHelp() {
    PrintUsageText({
        L"Fait sortir de pause un service et attend qu'il soit de nouveau en cours",
        L"d'exécution.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CONTINUE <service>",
        L"    Mode Interactif : CONTINUE <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    CONTINUE LanmanServer",
    });
}

void InterrogateHelp() {
    PrintUsageText({
        L"Vérifie que le service / pilote existe et peut être ouvert sur la",
        L"connexion active. Aucune demande n'est envoyée au service.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> INTERROGATE <service>",
        L"    Mode Interactif : INTERROGATE <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    INTERROGATE Spooler",
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
        L"Attache au processus du service le débogueur défini par la valeur Debugger",
        L"de HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug. Le",
        L"débogueur démarre sur cet ordinateur ; le fermer termine le processus.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> DEBUG <service>",
        L"    Mode Interactif : DEBUG <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"    Refusé sur la connexion d'un autre ordinateur, pour un service arrêté,",
        L"    pour un pilote (utilisez le débogueur noyau) et pour un processus que",
        L"    STOP ne terminerait pas (processus du système, processus qui héberge",
        L"    d'autres services actifs...).",
        L"",
        L"EXEMPLE :",
        L"    DEBUG Spooler",
    });
}
