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
void CreateServiceGroupHelp() { PrintLines({L"CreateServiceGroupHelp()", L""}); }
void DeleteSvcObjHelp() { PrintLines({L"DeleteSvcObjHelp()", L""}); }
void DeleteServiceGroupHelp() { PrintLines({L"DeleteServiceGroupHelp()", L""}); }
