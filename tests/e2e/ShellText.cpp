#include "ShellText.h"

#include <stdexcept>

const std::string kLineBreak = "\r\n";

std::string Bytes(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        if (c > 0xFF) {
            throw std::invalid_argument("an expected text holds a character beyond one byte");
        }
        if (c == L'\n') {
            bytes += kLineBreak;
        } else {
            bytes += static_cast<char>(c);
        }
    }
    return bytes;
}

std::string Banner() {
    return Bytes(L"\n"
                 L"Quorvan version 0.3.4d\n"
                 L"Console version.\n"
                 L"(c) 2026 Equipe Orvel et Velmarik. Tous droits réservés.\n"
                 L"\n");
}

std::string Batch(const std::wstring& output) { return Banner() + Bytes(output) + kLineBreak; }

std::string Prompted(const std::wstring& line) {
    return Bytes(L"Quorvan> " + line + L"\n");
}

std::string ErrorBanner(unsigned long lastError) {
    const std::wstring rule(44, L'=');
    return Bytes(L"\n" + rule + L"\n| Error, GetLastError() = " + std::to_wstring(lastError) + L"\n" + rule +
                 L"\n\n");
}

std::string UnknownCommand(const std::wstring& word) {
    return Bytes(L"ERROR : '" + word + L"' : unknown command.\n");
}

std::string RootListing() {
    return Bytes(LR"(
Liste des commandes disponibles :
=================================

HELP            - Affiche de l'aide sur l'ensemble des commandes disponibles.
CMDTREE         - Affiche l'ensemble des commandes sous forme d'un arbre.
CLS             - Efface l'écran.
CONNECT         - Se connecte à un ordinateur distant et active la connexion.
CL              - Liste l'ensemble des connections disponibles.
SACTC           - Active une connexion.
CC              - Ferme une connexion.
CACTC           - Ferme la connection active.
CALLC           - Ferme toutes les connexions.
BOOT            - Indique si le dernier démarrage doit être enregistré comme la dernière configuration valide connue.
START           - Démarre un service / pilote.
STOP            - Arrête un service / pilote.
PAUSE           - Met en pause un service / pilote.
CONTINUE        - Fait sortir de pause un service / pilote.
INTERROGATE     - Interroge l'état d'un service / pilote.
CONTROL         - Envoie un code de contrôle à un service / pilote.
DEBUG           - Débuggue un service.
LOCK            - Verrouillage de la base des services...
CREATE          - Création d'un service / pilote ou d'un groupe de services...
DELETE          - Suppression d'un service / pilote ou d'un groupe de services...
ENUM            - Énumération...
QUERY           - Affichage de la configuration ou de l'état d'exécution d'un service / pilote...
GET             - Affichage de diverses propriétés...
SET             - Définit diverses propriétés...

)");
}

std::string PidUsage() {
    return Bytes(LR"(
Affiche le numéro du processus d'un service (0 quand il ne tourne pas).

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> GET SERVICE PID <service>
    Mode Interactif : GET SERVICE PID <service>

    <service>    Nom système du service (première colonne de ENUM SERVICES),
                 et non son nom complet.

EXEMPLE :
    GET SERVICE PID Spooler

)");
}

std::string LockListing() {
    return Bytes(LR"(
Verrouillage de la base des services...

CAN_BE_LOCKED   - Demande si la base des services peut être verrouillée.
ON              - Verrouille la base des services.
OFF             - Déverrouille la base des services.
STATUS          - Affiche l'état de verrouillage de la base des services.

)");
}

std::string GetListing() {
    return Bytes(LR"(
Affichage de diverses propriétés...

PROPERTIES      - Affiche les propriétés de la base de services.
SERVICE         - Affichage de propriétés d'un service / pilote...

)");
}

std::string GetServiceListing() {
    return Bytes(LR"(
Affichage de propriétés d'un service / pilote...

KEY_NAME        - Affiche le nom système d'un service / pilote.
DISPLAY_NAME    - Affiche le nom complet d'un service / pilote.
PID             - Affiche le PID d'un service.
TYPE            - Affiche le type d'un service / pilote.

)");
}

namespace {

const wchar_t kAsciiTree[] = LR"([ Quorvan version 0.3.4d ]
  +--- help
  +--- cmdtree
  +--- cls
  +--- connect
  +--- cl
  +--- sactc
  +--- cc
  +--- cactc
  +--- callc
  +--- boot
  +--- start
  +--- stop
  +--- pause
  +--- continue
  +--- interrogate
  +--- control
  +--- debug
  +---[ lock ]
  |     +--- can_be_locked
  |     +--- on
  |     +--- off
  |     \--- status
  +---[ create ]
  |     +--- service_object
  |     \--- service_group
  +---[ delete ]
  |     +--- service_object
  |     \--- service_group
  +---[ enum ]
  |     +--- service_group
  |     +--- service_group_load_order
  |     +--- dependent_services
  |     \--- services
  +---[ query ]
  |     +--- config
  |     +--- configex
  |     \--- status
  +---[ get ]
  |     +--- properties
  |     \---[ service ]
  |           +--- key_name
  |           +--- display_name
  |           +--- pid
  |           \--- type
  \---[ set ]
        +--- configex
        \--- config
)";

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

std::string AsciiTree() {
    return Bytes(kAsciiTree);
}

// The same drawing with the OEM code pages' box-drawing bytes: ├─── for +---, └─── for \--- and │
// for the continuation column (no command name holds any of these characters).
std::string ExtendedTree() {
    std::wstring tree = kAsciiTree;
    ReplaceAll(tree, L"+---", L"\u00C3\u00C4\u00C4\u00C4");
    ReplaceAll(tree, L"\\---", L"\u00C0\u00C4\u00C4\u00C4");
    ReplaceAll(tree, L"|", L"\u00B3");
    return Bytes(tree);
}
