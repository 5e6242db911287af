// create service_object, create service_group, delete service_object, delete service_group.

#include <cwchar>

#include "CommandLine.h"
#include "Commands.h"
#include "Connections.h"
#include "Memory.h"
#include "StringFunctions.h"
#include "UsageText.h"

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

int CreateSvcObjCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, CreateSvcObjHelp))
        return 0;
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return 0;
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

void CreateSvcObjHelp() { PrintLines({L"CreateSvcObjHelp()", L""}); }

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
