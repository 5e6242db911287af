// The command table: every command and group, in the order of every listing and of the search.

#include "CommandTree.h"
#include "Commands.h"
#include "Console.h"
#include "ServiceSettings.h"

namespace {

// What the commands' words can be, for completion at the prompt.
const COMMAND_WORDS AService = {WordKind::ServiceName, WordKind::Free, nullptr};
const COMMAND_WORDS AConnection = {WordKind::ConnectionNumber, WordKind::Free, nullptr};
const COMMAND_WORDS ACommandPath = {WordKind::CommandPath, WordKind::CommandPath, nullptr};
const COMMAND_WORDS AServiceAndSettings = {WordKind::ServiceName, WordKind::Fixed, SettingWordsWithSign};
const COMMAND_WORDS ANameAndSettings = {WordKind::Free, WordKind::Fixed, SettingWordsWithSign};
const COMMAND_WORDS AServiceAndControlCode = {WordKind::ServiceName, WordKind::Fixed, ControlCodeWords};
const COMMAND_WORDS TreeSwitch = {WordKind::Fixed, WordKind::Free, CommandTreeWords};
const COMMAND_WORDS BootAnswer = {WordKind::Fixed, WordKind::Free, BootWords};
const COMMAND_WORDS KindsAndStates = {WordKind::Fixed, WordKind::Fixed, EnumServicesWords};

void RegisterRootCommands(_COMMAND_GROUP* root) {
    AddCommand(root, L"help", L"Affiche de l'aide sur l'ensemble des commandes disponibles.", HelpCommandHelp,
               HelpCommand, ACommandPath);
    AddCommand(root, L"cmdtree", L"Affiche l'ensemble des commandes sous forme d'un arbre.",
               CommandTreeCommandHelp, CommandTreeCommand, TreeSwitch);
    AddCommand(root, L"cls", L"Efface l'écran.", ClearScreenHelp, ClearScreen);
    AddCommand(root, L"connect", L"Se connecte à un ordinateur distant et active la connexion.", ConnectHelp,
               ConnectCommand);
    AddCommand(root, L"cl", L"Liste l'ensemble des connections disponibles.", ConnectionListHelp,
               ConnectionListCommand);
    AddCommand(root, L"sactc", L"Active une connexion.", SetActiveConnectionHelp, SetActiveConnectionCommand,
               AConnection);
    AddCommand(root, L"cc", L"Ferme une connexion.", CloseConnectionHelp, CloseConnectionCommand,
               AConnection);
    AddCommand(root, L"cactc", L"Ferme la connection active.", CloseActiveConnectionHelp,
               CloseActiveConnectionCommand);
    AddCommand(root, L"callc", L"Ferme toutes les connexions.", CloseAllConnectionsHelp,
               CloseAllConnectionsCommand);
    AddCommand(root, L"boot",
               L"Indique si le dernier démarrage doit être enregistré comme la dernière configuration valide "
               L"connue.",
               BootHelp, BootCommand, BootAnswer);
    AddCommand(root, L"start", L"Démarre un service / pilote.", StartHelp, StartCommand, AService);
    AddCommand(root, L"stop", L"Arrête un service / pilote.", StopHelp, StopCommand, AService);
    AddCommand(root, L"pause", L"Met en pause un service / pilote.", PauseHelp, PauseCommand, AService);
    AddCommand(root, L"continue", L"Fait sortir de pause un service / pilote.", ContinueHelp, ContinueCommand,
               AService);
    AddCommand(root, L"interrogate", L"Interroge l'état d'un service / pilote.", InterrogateHelp,
               InterrogateCommand, AService);
    AddCommand(root, L"control", L"Envoie un code de contrôle à un service / pilote.", ControlHelp,
               ControlCommand, AServiceAndControlCode);
    AddCommand(root, L"debug", L"Débuggue un service.", DebugHelp, DebugCommand, AService);
}

void RegisterLockGroup(_COMMAND_GROUP* root) {
    _COMMAND_GROUP* lock = AddCommandGroup(root, L"lock", L"Verrouillage de la base des services...");
    AddCommand(lock, L"can_be_locked", L"Demande si la base des services peut être verrouillée.",
               CanBeLockedHelp, CanBeLockedCommand);
    AddCommand(lock, L"on", L"Verrouille la base des services.", LockOnHelp, LockOnCommand);
    AddCommand(lock, L"off", L"Déverrouille la base des services.", LockOffHelp, LockOffCommand);
    AddCommand(lock, L"status", L"Affiche l'état de verrouillage de la base des services.", LockStatusHelp,
               LockStatusCommand);
}

void RegisterCreateAndDeleteGroups(_COMMAND_GROUP* root) {
    _COMMAND_GROUP* create =
        AddCommandGroup(root, L"create", L"Création d'un service / pilote ou d'un groupe de services...");
    AddCommand(create, L"service_object", L"Crée un service / pilote.", CreateSvcObjHelp, CreateSvcObjCommand,
               ANameAndSettings);
    AddCommand(create, L"service_group", L"Crée un groupe de services.", CreateServiceGroupHelp,
               CreateServiceGroupCommand);
    _COMMAND_GROUP* remove =
        AddCommandGroup(root, L"delete", L"Suppression d'un service / pilote ou d'un groupe de services...");
    AddCommand(remove, L"service_object", L"Supprime un service / pilote.", DeleteSvcObjHelp,
               DeleteSvcObjCommand, AService);
    AddCommand(remove, L"service_group", L"Supprime un groupe de services.", DeleteServiceGroupHelp,
               DeleteServiceGroupCommand);
}

void RegisterEnumGroup(_COMMAND_GROUP* root) {
    _COMMAND_GROUP* enumeration = AddCommandGroup(root, L"enum", L"Énumération...");
    AddCommand(enumeration, L"service_group", L"Énumère les groupes de services.", EnumServiceGroupsHelp,
               EnumServiceGroupsCommand);
    AddCommand(enumeration, L"service_group_load_order",
               L"Affiche l'ordre de chargement des services / pilotes.", EnumLoadOrderHelp,
               EnumLoadOrderCommand);
    AddCommand(enumeration, L"dependent_services", L"Liste les services qui dépendent du service spécifié.",
               EnumDependentsHelp, EnumDependentsCommand, AService);
    AddCommand(enumeration, L"services", L"Énumère les services et pilotes.", EnumServicesHelp,
               EnumServicesCommand, KindsAndStates);
}

void RegisterQueryGroup(_COMMAND_GROUP* root) {
    _COMMAND_GROUP* query = AddCommandGroup(
        root, L"query", L"Affichage de la configuration ou de l'état d'exécution d'un service / pilote...");
    AddCommand(query, L"config", L"Affiche la configuration d'un service / pilote.", QueryConfigHelp,
               QueryConfigCommand, AService);
    AddCommand(query, L"configex", L"Affiche la configuration étendue d'un service / pilote.",
               QueryConfigExHelp, QueryConfigExCommand, AService);
    AddCommand(query, L"status", L"Affiche l'état d'exécution d'un service / pilote.", QueryStatusHelp,
               QueryStatusCommand, AService);
}

void RegisterGetGroup(_COMMAND_GROUP* root) {
    _COMMAND_GROUP* get = AddCommandGroup(root, L"get", L"Affichage de diverses propriétés...");
    AddCommand(get, L"properties", L"Affiche les propriétés de la base de services.", GetPropertiesHelp,
               GetPropertiesCommand);
    _COMMAND_GROUP* service =
        AddCommandGroup(get, L"service", L"Affichage de propriétés d'un service / pilote...");
    AddCommand(service, L"key_name", L"Affiche le nom système d'un service / pilote.", GetKeyNameHelp,
               GetKeyNameCommand);
    AddCommand(service, L"display_name", L"Affiche le nom complet d'un service / pilote.", GetDisplayNameHelp,
               GetDisplayNameCommand, AService);
    AddCommand(service, L"pid", L"Affiche le PID d'un service.", GetProcessIdHelp, GetProcessIdCommand,
               AService);
    AddCommand(service, L"type", L"Affiche le type d'un service / pilote.", GetTypeHelp, GetTypeCommand,
               AService);
}

void RegisterSetGroup(_COMMAND_GROUP* root) {
    _COMMAND_GROUP* set = AddCommandGroup(root, L"set", L"Définit diverses propriétés...");
    AddCommand(set, L"configex",
               L"Définit la configuration étendue d'un service / pilote (Partiellement implémenté).",
               SetConfigExHelp, SetConfigExCommand, AService);
    AddCommand(set, L"config", L"Modifie la configuration d'un service / pilote.", SetConfigHelp,
               SetConfigCommand, AServiceAndSettings);
}

} // namespace

void RegisterCommands() {
    if (CommandRoot.commands.count != 0)
        return;
    RegisterRootCommands(&CommandRoot);
    RegisterLockGroup(&CommandRoot);
    RegisterCreateAndDeleteGroups(&CommandRoot);
    RegisterEnumGroup(&CommandRoot);
    RegisterQueryGroup(&CommandRoot);
    RegisterGetGroup(&CommandRoot);
    RegisterSetGroup(&CommandRoot);
}
