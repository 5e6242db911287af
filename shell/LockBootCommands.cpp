// lock can_be_locked, lock on, lock off, lock status, boot.

#include <iostream>

#include "Commands.h"
#include "Connections.h"
#include "Memory.h"
#include "StringFunctions.h"
#include "UsageText.h"

namespace {

// The lock leaves take no word and need an active connection; otherwise they do nothing.
CSvcCtrlMgr* LockTarget(unsigned long argc, COMMAND_HELP help) {
    return ShowUsageUnless(argc == 0, help) ? nullptr : GetActiveConnection();
}

const wchar_t* YesNo(bool yes) { return yes ? L"yes" : L"no"; }

} // namespace

int CanBeLockedCommand(unsigned long argc, wchar_t**) {
    CSvcCtrlMgr* connection = LockTarget(argc, CanBeLockedHelp);
    if (!connection)
        return 0;
    std::wcout << L"Can be locked = " << YesNo(connection->CanBeLocked()) << std::endl << std::endl;
    return 1;
}

int LockOnCommand(unsigned long argc, wchar_t**) {
    CSvcCtrlMgr* connection = LockTarget(argc, LockOnHelp);
    return connection ? connection->Lock() : 0;
}

int LockOffCommand(unsigned long argc, wchar_t**) {
    CSvcCtrlMgr* connection = LockTarget(argc, LockOffHelp);
    return connection ? connection->Unlock() : 0;
}

int LockStatusCommand(unsigned long argc, wchar_t**) {
    CSvcCtrlMgr* connection = LockTarget(argc, LockStatusHelp);
    QUERY_SERVICE_LOCK_STATUSW* status = nullptr;
    if (!connection || !connection->QueryLockStatus(&status))
        return 0;
    std::wcout << L"Is locked     = " << YesNo(status->fIsLocked) << std::endl;
    std::wcout << L"Locked by     = " << (status->lpLockOwner ? status->lpLockOwner : L"< Don't know the owner >")
               << std::endl;
    std::wcout << L"Lock duration = " << status->dwLockDuration << L" second"
               << (status->dwLockDuration > 1 ? L"s" : L"") << L"." << std::endl
               << std::endl;
    MemRelease(status);
    return 1;
}

void CanBeLockedHelp() {
    PrintUsageText({
        L"Indique (yes ou no) si la connexion active a été ouverte avec le droit de",
        L"verrouiller la base des services, SC_MANAGER_LOCK (8).",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> LOCK CAN_BE_LOCKED",
        L"    Mode Interactif : LOCK CAN_BE_LOCKED",
        L"",
        L"EXEMPLE :",
        L"    LOCK CAN_BE_LOCKED",
    });
}

void LockOnHelp() {
    PrintUsageText({
        L"Verrouille la base des services de la connexion active, ouverte avec le",
        L"droit SC_MANAGER_LOCK (8). Le verrou tombe quand cette connexion est",
        L"fermée ; depuis Windows Vista, il n'empêche plus rien.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> LOCK ON",
        L"    Mode Interactif : LOCK ON",
        L"",
        L"EXEMPLE :",
        L"    CONNECT SRV01 9",
        L"    LOCK ON",
    });
}

void LockOffHelp() {
    PrintUsageText({
        L"Déverrouille la base des services quand c'est la connexion active qui",
        L"l'a verrouillée (LOCK ON) ; sinon ne fait rien.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> LOCK OFF",
        L"    Mode Interactif : LOCK OFF",
        L"",
        L"EXEMPLE :",
        L"    LOCK OFF",
    });
}

void LockStatusHelp() {
    PrintUsageText({
        L"Affiche si la base des services est verrouillée, par qui et depuis combien",
        L"de secondes ; demande le droit SC_MANAGER_QUERY_LOCK_STATUS (16). Depuis",
        L"Windows Vista, la réponse ne renseigne plus sur le verrou.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> LOCK STATUS",
        L"    Mode Interactif : LOCK STATUS",
        L"",
        L"EXEMPLE :",
        L"    CONNECT SRV01 17",
        L"    LOCK STATUS",
    });
}

namespace {

// The boot notice has no machine: it always reaches this computer, and a bad boot restarts it at
// once. It goes only where the administrator's connections name this computer: none was asked
// for, or the active one is to this computer and answers. After a failed `connect`, or on a
// connection that no longer answers, the administrator meant another machine or cannot tell.
bool BootTargetIsThisComputer() {
    if (const DWORD code = FailedConnectionCode()) {
        std::wcerr << L"boot n'agit que sur cet ordinateur : la connexion \u00E0 " << FailedConnectionMachine()
                   << L" a \u00E9chou\u00E9 (erreur " << code << L") et aucune connexion n'est active." << std::endl;
        ::SetLastError(code);
        return false;
    }
    if (ActiveConnectionNumber() == 0)
        return true;
    // A lost connection is reported there, with its code.
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return false;
    if (connection->IsLocal())
        return true;
    ServicesManagement::_SCM_PROPERTIES properties;
    connection->GetProperties(&properties);
    std::wcerr << L"boot n'agit que sur cet ordinateur : la connexion active est celle de "
               << static_cast<const wchar_t*>(properties.szMachineName) << L"." << std::endl;
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

// What boot says of the last start: acceptable, or not.
const wchar_t* const BootAcceptable = L"ok";
const wchar_t* const BootNotAcceptable = L"bad";

} // namespace

void BootWords(std::vector<std::wstring>& words) {
    words.insert(words.end(), {BootAcceptable, BootNotAcceptable});
}

int BootCommand(unsigned long argc, wchar_t** argv) {
    const bool ok = argc == 1 && StrIComp(argv[0], BootAcceptable) == 0;
    const bool bad = argc == 1 && StrIComp(argv[0], BootNotAcceptable) == 0;
    if (ShowUsageUnless(ok || bad, BootHelp))
        return 0;
    if (!BootTargetIsThisComputer()) {
        std::wcout << std::endl;
        return 0;
    }
    const int result = CSvcCtrlMgr::DoesTheConfigShouldBeSavedAsTheLastKnownGoodConfig(ok ? 1 : 0);
    std::wcout << std::endl;
    return result;
}

void BootHelp() {
    PrintUsageText({
        L"Indique si le dernier démarrage doit être enregistré comme la",
        L"dernière configuration valide connue sur l'ordinateur local.",
        L"Refusé quand la connexion active est celle d'un autre ordinateur,",
        L"après un CONNECT qui a échoué, ou sur une connexion perdue.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> BOOT <OK | BAD>",
        L"    Mode Interactif : BOOT <OK | BAD>",
        L"",
        L"    OK     Enregistre le démarrage en cours comme la dernière",
        L"           configuration valide connue.",
        L"    BAD    Signale le démarrage en cours comme mauvais : l'ordinateur",
        L"           redémarre aussitôt, sans confirmation, avec la dernière",
        L"           configuration valide connue. Le travail non enregistré des",
        L"           programmes ouverts est perdu.",
        L"",
        L"EXEMPLE :",
        L"    BOOT OK",
    });
}
