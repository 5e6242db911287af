// start, stop, pause, continue, interrogate, control, debug.

#include <iostream>

#include "Commands.h"
#include "Connections.h"
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

// Sends nothing yet.
int ControlCommand(unsigned long, wchar_t**) { return 0; }

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
void ControlHelp() {}

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
