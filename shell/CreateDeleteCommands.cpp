// create service_object, create service_group, delete service_object, delete service_group.

#include <cwchar>
#include <iostream>
#include <optional>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "ConfigCommands.h"
#include "Connections.h"
#include "Memory.h"
#include "ServiceSettings.h"
#include "StringFunctions.h"
#include "UsageText.h"

using ServicesManagement::SvcObjTypeDriver;
using ServicesManagement::SvcObjTypeService;

namespace {

// The fixed test configuration: an interactive own-process service started on demand that runs
// the calculator through a service wrapper in the root folder of drive C.
const wchar_t TestServiceCommandLine[] =
    L"\"C:\\QuorvanServiceWrapper.exe\" /RunAsService:aah C:\\windows\\system32\\calc.exe"
    L"                                    ";

// The words of an option such as order=5, split at "=" with quotes removed.
class OptionWords {
public:
    explicit OptionWords(const wchar_t* option) { SplitCommandLine(L"=", L"", option, &m_count, &m_words); }
    ~OptionWords() { MemRelease(m_words); }
    OptionWords(const OptionWords&) = delete;
    OptionWords& operator=(const OptionWords&) = delete;

    // True for exactly "<name>=<value>".
    bool Is(const wchar_t* name) const { return m_count == 2 && StrIComp(m_words[0], name) == 0; }
    // True for "<name>=<number>": a position mistyped as text would otherwise read as 0, and remove
    // the first group of the list or put a new one before every group, which the administrator
    // did not ask for.
    bool IsNumbered(const wchar_t* name) const {
        if (!Is(name))
            return false;
        wchar_t* end = nullptr;
        std::wcstol(m_words[1], &end, 10);
        return end != m_words[1];
    }
    const wchar_t* Value() const { return m_words[1]; }
    unsigned long Number() const { return static_cast<unsigned long>(std::wcstol(m_words[1], nullptr, 10)); }

private:
    unsigned long m_count = 0;
    wchar_t** m_words = nullptr;
};

} // namespace

namespace {

const wchar_t* TextOf(const std::optional<std::wstring>& value) { return value ? value->c_str() : nullptr; }

bool IsDriverType(DWORD serviceType) { return (serviceType & SERVICE_DRIVER) != 0; }

// What CreateServiceW cannot set: the description and the delayed start, each a call of its own
// on the new service. When one fails the service stays, and the line says what it lacks.
int CompleteCreatedService(CSvcCtrlMgr& connection, const wchar_t* name, const ServiceSettings& settings) {
    if (!settings.description && !settings.delayed)
        return 1;
    const ServicesManagement::OwnedSvcObj created(connection.FindSvcObj(SimpleString(name)));
    int result = created ? 1 : 0;
    if (result && settings.delayed) {
        SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
        result = created->ChangeConfig2(&delayed, ServicesManagement::ConfigInfoDelayedAutoStart);
    }
    if (result && settings.description) {
        std::wstring text = *settings.description;
        SERVICE_DESCRIPTIONW description = {&text[0]};
        result = created->ChangeConfig2(&description, ServicesManagement::ConfigInfoDescription);
    }
    if (!result) {
        const DWORD code = ::GetLastError();
        std::wcerr << L"Le service " << name << L" a \u00E9t\u00E9 cr\u00E9\u00E9, mais sans "
                   << (settings.delayed ? L"son d\u00E9marrage diff\u00E9r\u00E9 ni sa description" : L"sa description")
                   << L" (erreur " << code << L")." << std::endl;
        ::SetLastError(code);
    }
    return result;
}

// A service or a driver with the settings given; where a setting is absent: its own process,
// started on demand, normal error control, the key name as display name, LocalSystem.
int CreateConfigured(CSvcCtrlMgr& connection, const wchar_t* name, const ServiceSettings& settings) {
    const DWORD serviceType = settings.serviceType.value_or(SERVICE_WIN32_OWN_PROCESS);
    std::wstring password = PasswordGivenOrAsked(settings);
    unsigned long tag = 0;
    const int created = connection.CreateSvcObj(
        IsDriverType(serviceType) ? SvcObjTypeDriver : SvcObjTypeService, name,
        settings.displayName ? settings.displayName->c_str() : name, SERVICE_ALL_ACCESS, serviceType,
        settings.startType.value_or(SERVICE_DEMAND_START), settings.errorControl.value_or(SERVICE_ERROR_NORMAL),
        TextOf(settings.binaryPath), TextOf(settings.group), &tag, TextOf(settings.dependencies),
        TextOf(settings.account), settings.password ? password.c_str() : nullptr);
    SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
    return created && CompleteCreatedService(connection, name, settings);
}

} // namespace

// With the name alone, the fixed test configuration; with settings, the service they describe.
int CreateSvcObjCommand(unsigned long argc, wchar_t** argv) {
    ServiceSettings settings;
    const bool configured = argc > 1 && ParseServiceSettings(argc - 1, argv + 1, true, settings) &&
                            settings.binaryPath;
    if (ShowUsageUnless(argc == 1 || configured, CreateSvcObjHelp))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
    if (configured)
        return CreateConfigured(*connection, argv[0], settings);
    unsigned long tag = 0;
    return connection->CreateSvcObj(SvcObjTypeService, argv[0], nullptr, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, TestServiceCommandLine, nullptr, &tag, nullptr, nullptr,
                                    nullptr);
}

// The last option decides where the group goes; the position is that of the last order= word.
int CreateServiceGroupCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc >= 1 && argc <= 3, CreateServiceGroupHelp))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnectionWithRegistry();
    if (!connection)
        return 0;
    int append = 1;
    unsigned long position = 0;
    for (unsigned long i = 1; i < argc; ++i) {
        if (StrIComp(argv[i], L"set_group_at_the_end") == 0) {
            append = 1;
            continue;
        }
        const OptionWords option(argv[i]);
        if (ShowUsageUnless(option.IsNumbered(L"order"), CreateServiceGroupHelp))
            return 0;
        position = option.Number();
        append = 0;
    }
    return connection->CreateServiceGroup(SimpleString(argv[0]), append, position);
}

int DeleteSvcObjCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, DeleteSvcObjHelp))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnection();
    return connection ? connection->DeleteSvcObj(SimpleString(argv[0])) : 0;
}

int DeleteServiceGroupCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, DeleteServiceGroupHelp))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnectionWithRegistry();
    if (!connection)
        return 0;
    const OptionWords option(argv[0]);
    if (option.Is(L"name"))
        return connection->DeleteServiceGroup(SimpleString(option.Value()));
    if (option.IsNumbered(L"order"))
        return connection->DeleteServiceGroup(option.Number());
    ShowUsageUnless(false, DeleteServiceGroupHelp);
    return 0;
}

void CreateSvcObjHelp() {
    PrintUsageText({
        L"Cr\u00E9e un service ou un pilote. Avec son nom seul, un service de test fixe",
        L"(un programme C:\\QuorvanServiceWrapper.exe qui n'est pas livr\u00E9 : il ne d\u00E9marre",
        L"pas) ; avec des param\u00E8tres, le service ou le pilote qu'ils d\u00E9crivent.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CREATE SERVICE_OBJECT <nom> [...]",
        L"    Mode Interactif : CREATE SERVICE_OBJECT <nom> [...]",
        L"",
        L"    [...]  des <param\u00E8tre>=<valeur>, ceux de SET CONFIG ; binary_path est",
        L"           obligatoire. type accepte aussi noyau | syst\u00E8me_de_fichiers",
        L"           (ou kernel | filesys) : un pilote. Par d\u00E9faut : processus propre,",
        L"           d\u00E9marrage manuel, contr\u00F4le des erreurs normal, le nom comme nom",
        L"           complet, le compte LocalSystem.",
        L"",
        L"EXEMPLE :",
        L"    CREATE SERVICE_OBJECT Essai binary_path=C:\\Outils\\essai.exe type=partag\u00E9",
    });
}

void CreateServiceGroupHelp() {
    PrintUsageText({
        L"Ajoute un groupe à la liste ordonnée des groupes de services (celle",
        L"qu'affiche ENUM SERVICE_GROUP), à la fin ou à la position donnée.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> CREATE SERVICE_GROUP <nom> [option]",
        L"    Mode Interactif : CREATE SERVICE_GROUP <nom> [option]",
        L"",
        L"    <nom>       Nom du groupe, que la liste ne contient pas encore (sans",
        L"                distinction de casse).",
        L"    [option]    SET_GROUP_AT_THE_END : ajoute le groupe à la fin de la",
        L"                liste (par défaut) ;",
        L"                ORDER=n : l'insère à la position n, à partir de 0 (une",
        L"                position au-delà de la fin l'ajoute à la fin).",
        L"                Une seconde option est acceptée : la dernière décide.",
        L"",
        L"EXEMPLE :",
        L"    CREATE SERVICE_GROUP \"Mon groupe\" ORDER=2",
    });
}

void DeleteSvcObjHelp() {
    PrintUsageText({
        L"Supprime un service / pilote. Windows le marque pour suppression : il",
        L"disparaît une fois arrêté et fermé par tous les programmes qui l'ont",
        L"ouvert.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> DELETE SERVICE_OBJECT <service>",
        L"    Mode Interactif : DELETE SERVICE_OBJECT <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"EXEMPLE :",
        L"    DELETE SERVICE_OBJECT MonService",
    });
}

void DeleteServiceGroupHelp() {
    PrintUsageText({
        L"Retire un groupe de la liste ordonnée des groupes de services, par son",
        L"nom ou par sa position. Les services du groupe ne sont pas modifiés.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> DELETE SERVICE_GROUP <groupe>",
        L"    Mode Interactif : DELETE SERVICE_GROUP <groupe>",
        L"",
        L"    <groupe>    NAME=nom : retire toutes les entrées de ce nom (sans",
        L"                distinction de casse) ; réussit aussi quand la liste ne",
        L"                le contient pas ;",
        L"                ORDER=n : retire le groupe de la position n, à partir",
        L"                de 0 ; échoue (1168) quand il n'y en a pas.",
        L"",
        L"EXEMPLE :",
        L"    DELETE SERVICE_GROUP NAME=\"Mon groupe\"",
    });
}
