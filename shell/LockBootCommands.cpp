// lock can_be_locked, lock on, lock off, lock status, boot.

#include "Commands.h"
#include "UsageText.h"

void BootHelp() {
    PrintUsageText({
        L"Indique si le dernier démarrage doit être enregistré comme la",
        L"dernière configuration valide connue sur l'ordinateur local.",
        L"Si le nom du serveur est spécifié, il est ignoré.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> BOOT <OK | BAD>",
        L"    Mode Interactif : BOOT <OK | BAD>",
    });
}
