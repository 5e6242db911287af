// set configex: edits a service's description and failure actions through a short dialogue on
// the console's input; set config: changes the settings of a service's configuration given as
// words.

#include "ConfigCommands.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "Connections.h"
#include "FailureActionType.h"
#include "Memory.h"
#include "Platform.h"
#include "ServiceSettings.h"
#include "StandardStreams.h"
#include "StringFunctions.h"
#include "UsageText.h"

using ServicesManagement::CSvcObj;

namespace {

TextInput* AnswerInput = nullptr;

const size_t AnswerCapacity = 4096;
// No failure policy needs more; a larger count is a typing slip, and it bounds what is allocated.
const DWORD MaxActions = 32;

using AnswerBuffer = std::array<wchar_t, AnswerCapacity>;

// Reads the answers as the command loop reads its lines. Numbers are read the way the console's
// stream extraction reads them: white space, line ends included, is skipped first, and several
// numbers may share one line.
class AnswerReader {
public:
    explicit AnswerReader(TextInput& input) : m_input(input) {}

    // One line without its line end; what does not fit is dropped up to the end of the line.
    void ReadText(wchar_t* buffer, size_t capacity) {
        LineReader(m_input).ReadLine(buffer, capacity);
        m_midLine = false;
    }

    // Text that is no number, a number beyond 32 bits and the end of the input all read as 0;
    // the rest of such a line is dropped so that no later question takes it as its answer.
    DWORD ReadNumber() {
        DWORD value = 0;
        if (ParseNumber(value)) {
            m_midLine = true;
            return value;
        }
        SkipLine();
        m_midLine = false;
        return 0;
    }

    // Drops what the last number left of its line, and nothing when a line end was read since.
    void DropRestOfLine() {
        if (m_midLine)
            SkipLine();
        m_midLine = false;
    }

private:
    // White space as the C locale counts it.
    static bool IsBlank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    int NextNonBlank() {
        int c = m_input.Get();
        while (c != TextInput::End && IsBlank(c))
            c = m_input.Get();
        return c;
    }

    // A sign is accepted and a minus wraps around, as the stream extraction of an unsigned does.
    // The character after the number stays in the input.
    bool ParseNumber(DWORD& value) {
        int c = NextNonBlank();
        const bool negative = c == '-';
        if (c == '-' || c == '+')
            c = m_input.Get();
        bool anyDigit = false;
        unsigned long long number = 0;
        for (; c >= '0' && c <= '9'; c = m_input.Get()) {
            anyDigit = true;
            if (number <= MAXDWORD)
                number = number * 10 + static_cast<unsigned>(c - '0');
        }
        m_input.Unget(c);
        if (!anyDigit || number > MAXDWORD)
            return false;
        value = negative ? 0u - static_cast<DWORD>(number) : static_cast<DWORD>(number);
        return true;
    }

    void SkipLine() {
        int c = m_input.Get();
        while (c != TextInput::End && c != '\n')
            c = m_input.Get();
    }

    TextInput& m_input;
    bool m_midLine = false;
};

// An empty answer leaves the value as it is (null); "<NULL>" removes it (an empty text).
wchar_t* AskText(AnswerReader& answers, const wchar_t* question, AnswerBuffer& answer) {
    std::wcout << question << std::endl;
    answers.ReadText(answer.data(), answer.size());
    if (answer[0] == L'\0')
        return nullptr;
    if (StrIComp(answer.data(), L"<NULL>") == 0)
        answer[0] = L'\0';
    return answer.data();
}

// The user types the answer right after the question, on the same line.
DWORD AskNumber(AnswerReader& answers) {
    std::wcout << std::flush;
    return answers.ReadNumber();
}

void ReportChange(int succeeded) {
    const DWORD code = ::GetLastError();
    std::wcout << (succeeded ? L"OK !!" : L"Oh oh ??") << std::endl << L"GetLastError() = " << code << std::endl;
}

void ShowDescriptionAnswer(const wchar_t* description) {
    if (!description)
        std::wcout << L"Description ignorée." << std::endl;
    else if (!*description)
        std::wcout << L"Description réinitialisée." << std::endl;
    else
        std::wcout << L"Nouvelle description : '" << description << L"'" << std::endl;
}

void ChangeDescription(CSvcObj& object, AnswerReader& answers) {
    AnswerBuffer answer;
    std::wcout << std::endl;
    SERVICE_DESCRIPTIONW description = {
        AskText(answers,
                L"Nouvelle description du service (tapez \"<NULL>\" pour supprimer la description existante ou "
                L"laissez une chaîne vide pour ne pas la modifier) :",
                answer)};
    std::wcout << std::endl;
    ShowDescriptionAnswer(description.lpDescription);
    ReportChange(object.ChangeConfig2(&description, ServicesManagement::ConfigInfoDescription));
}

DWORD AskActionCount(AnswerReader& answers) {
    std::wcout << std::endl << std::endl << L"svcFailureActions.cActions = ";
    DWORD count = AskNumber(answers);
    while (count > MaxActions) {
        answers.DropRestOfLine();
        std::wcout << L"Nombre d'actions trop grand (" << MaxActions << L" au plus)." << std::endl
                   << L"svcFailureActions.cActions = ";
        count = AskNumber(answers);
    }
    return count;
}

// Nothing typed is dropped between these questions: one line may answer several of them.
std::vector<SC_ACTION> AskActions(AnswerReader& answers) {
    std::vector<SC_ACTION> actions(AskActionCount(answers));
    for (size_t i = 0; i < actions.size(); ++i) {
        std::wcout << std::endl << L"svcFailureActions.lpsaActions[" << i << L"].Type  = ";
        SetActionTypeNumber(actions[i], AskNumber(answers));
        std::wcout << L"svcFailureActions.lpsaActions[" << i << L"].Delay = ";
        actions[i].Delay = AskNumber(answers);
    }
    return actions;
}

const wchar_t* OrDefault(const wchar_t* text) { return text ? text : L"< the default value >"; }

// The heading's é has always left as code page 437's 0x82.
void PrintSummary(const SERVICE_FAILURE_ACTIONSW& record) {
    const wchar_t* const Rule = L"===============";
    std::wcout << std::endl << std::endl << Cp437(L"Récapitulatif :") << std::endl << Rule << std::endl << std::endl
               << L"svcFailureActions.dwResetPeriod = ";
    // Without an action array the platform ignores the reset period (SERVICE_FAILURE_ACTIONS):
    // the one in place stays.
    if (record.lpsaActions)
        std::wcout << record.dwResetPeriod << std::endl;
    else
        std::wcout << OrDefault(nullptr) << std::endl;
    ConsolePrintf(L"svcFailureActions.lpRebootMsg   = %s\n", OrDefault(record.lpRebootMsg));
    ConsolePrintf(L"svcFailureActions.lpCommand     = %s\n", OrDefault(record.lpCommand));
    std::wcout << std::endl << L"Actions" << std::endl << L"=======" << std::endl << std::endl
               << L"svcFailureActions.cActions = " << record.cActions << std::endl;
    for (DWORD i = 0; i < record.cActions; ++i) {
        std::wcout << std::endl
                   << L"svcFailureActions.lpsaActions[" << i << L"].Type  = "
                   << static_cast<int>(ActionTypeNumber(record.lpsaActions[i])) << std::endl
                   << L"svcFailureActions.lpsaActions[" << i << L"].Delay = " << record.lpsaActions[i].Delay
                   << std::endl;
    }
    std::wcout << std::endl << L"=======" << std::endl << std::endl << Rule << std::endl;
}

void ChangeFailureActions(CSvcObj& object, AnswerReader& answers) {
    SERVICE_FAILURE_ACTIONSW record = {};
    std::wcout << std::endl << L"svcFailureActions.dwResetPeriod = ";
    record.dwResetPeriod = AskNumber(answers);
    answers.DropRestOfLine();
    std::wcout << std::endl;
    AnswerBuffer rebootMessage;
    AnswerBuffer command;
    record.lpRebootMsg = AskText(answers,
                                 L"svcFailureActions.lpRebootMsg = (tapez \"<NULL>\" pour supprimer le message "
                                 L"existant ou laissez une chaîne vide pour ne pas le modifier) :",
                                 rebootMessage);
    std::wcout << std::endl;
    record.lpCommand = AskText(answers,
                               L"svcFailureActions.lpCommand = (tapez \"<NULL>\" pour supprimer la commande "
                               L"existante ou laissez une chaîne vide pour ne pas la modifier) :",
                               command);
    std::vector<SC_ACTION> actions = AskActions(answers);
    record.cActions = static_cast<DWORD>(actions.size());
    record.lpsaActions = actions.empty() ? nullptr : actions.data();
    PrintSummary(record);
    ReportChange(object.ChangeConfig2(&record, ServicesManagement::ConfigInfoFailureActions));
}

} // namespace

void SetConfigAnswerInput(TextInput* input) { AnswerInput = input; }

// Once started, the dialogue runs to its end and both changes are always asked of the platform.
int SetConfigExCommand(unsigned long argc, wchar_t** argv) {
    if (ShowUsageUnless(argc == 1, SetConfigExHelp))
        return 0;
    int result = 0;
    WithActiveService(argv[0], [&](CSvcObj& object) {
        const std::unique_ptr<TextInput> opened = AnswerInput ? nullptr : OpenStandardInput();
        AnswerReader answers(AnswerInput ? *AnswerInput : *opened);
        ChangeDescription(object, answers);
        ChangeFailureActions(object, answers);
        answers.DropRestOfLine();
        result = 1;
    });
    std::wcout << std::endl;
    return result;
}

namespace {

using ServicesManagement::ConfigInfoDelayedAutoStart;
using ServicesManagement::ConfigInfoDescription;

const wchar_t AskedPassword[] = L"*";

// A second-level record of the service, or null when it cannot be read (no failure of the command).
MemBlock<void> ReadConfig2(const CSvcObj& object, ServicesManagement::ConfigInfoLevel level) {
    LastErrorKeeper keep;
    void* info = nullptr;
    if (!object.QueryConfig2(&info, level))
        return nullptr;
    return MemBlock<void>(info);
}

// What the report shows of the settings given, as the platform holds them.
struct HeldSettings {
    const QUERY_SERVICE_CONFIGW* config = nullptr;
    MemBlock<QUERY_SERVICE_CONFIGW> read;
    bool delayed = false;
    std::wstring description;
};

// `known`: the configuration the lookup has just read, which needs no second read.
HeldSettings ReadHeldSettings(const CSvcObj& object, const ServiceSettings& settings,
                              const QUERY_SERVICE_CONFIGW* known) {
    HeldSettings held;
    LastErrorKeeper keep;
    QUERY_SERVICE_CONFIGW* config = nullptr;
    if (!known && object.QueryConfig(&config))
        held.read.reset(config);
    held.config = known ? known : held.read.get();
    if (settings.Has(Setting::StartType))
        if (const MemBlock<void> info = ReadConfig2(object, ConfigInfoDelayedAutoStart))
            held.delayed = static_cast<const SERVICE_DELAYED_AUTO_START_INFO*>(info.get())->fDelayedAutostart != FALSE;
    if (settings.Has(Setting::Description))
        if (const MemBlock<void> info = ReadConfig2(object, ConfigInfoDescription))
            if (const wchar_t* text = static_cast<const SERVICE_DESCRIPTIONW*>(info.get())->lpDescription)
                held.description = text;
    return held;
}

std::wstring TextShown(const wchar_t* text) {
    return text && *text ? std::wstring(text) : std::wstring(L"(aucun)");
}

// The names of a dependency list, separated by "/" as they are typed.
std::wstring DependenciesShown(const wchar_t* list) {
    std::wstring shown;
    for (const wchar_t* name = list; name && *name; name += std::wcslen(name) + 1)
        shown += (shown.empty() ? L"" : L"/") + std::wstring(name);
    return TextShown(shown.c_str());
}

std::wstring ValueShown(Setting setting, const HeldSettings& held) {
    if (!held.config)
        return L"(illisible)";
    const QUERY_SERVICE_CONFIGW& config = *held.config;
    switch (setting) {
    case Setting::StartType:
        return StartTypeShown(config.dwStartType, held.delayed);
    case Setting::ErrorControl:
        return ErrorControlShown(config.dwErrorControl);
    case Setting::Type:
        return ServiceTypeShown(config.dwServiceType);
    case Setting::BinaryPath:
        return TextShown(config.lpBinaryPathName);
    case Setting::Group:
        return TextShown(config.lpLoadOrderGroup) +
               (config.dwTagId != 0 ? L" (tag " + std::to_wstring(config.dwTagId) + L")" : L"");
    case Setting::Dependencies:
        return DependenciesShown(config.lpDependencies);
    case Setting::Account:
        return TextShown(config.lpServiceStartName);
    case Setting::DisplayName:
        return TextShown(config.lpDisplayName);
    case Setting::Description:
        return TextShown(held.description.c_str());
    case Setting::Password:
        break;
    }
    return L"(jamais affich\u00E9)";
}

const wchar_t* const SetConfigRule = L"========================================";

void PrintChangeReport(const wchar_t* serviceName, const ServiceSettings& settings, const HeldSettings& before,
                       const HeldSettings& after, bool passwordChanged) {
    std::wcout << std::endl << L"Configuration de " << serviceName << L" :" << std::endl << SetConfigRule << std::endl;
    for (Setting setting : settings.given) {
        std::wstring label = SettingLabel(setting);
        label.resize(std::max<size_t>(label.size(), 22), L' ');
        std::wcout << label << L" : ";
        if (setting == Setting::Password)
            std::wcout << (passwordChanged ? L"chang\u00E9" : L"inchang\u00E9") << std::endl;
        else
            std::wcout << ValueShown(setting, before) << L" -> " << ValueShown(setting, after) << std::endl;
    }
    std::wcout << SetConfigRule << std::endl;
}

// One call that the change makes; the changes are made in this order, and stop at the first
// that fails.
struct ChangeStep {
    const wchar_t* what;
    std::function<int()> make;
};

std::vector<ChangeStep> ChangeSteps(CSvcObj& object, const ServiceSettings& settings, const wchar_t* password,
                                    bool delayedBefore, unsigned long& tag) {
    std::vector<ChangeStep> steps;
    if (settings.ChangesConfiguration())
        steps.push_back({L"la configuration", [&, password] {
                             const auto text = [](const std::optional<std::wstring>& value) {
                                 return value ? value->c_str() : nullptr;
                             };
                             return object.ChangeConfig(
                                 settings.serviceType.value_or(SERVICE_NO_CHANGE),
                                 settings.startType.value_or(SERVICE_NO_CHANGE),
                                 settings.errorControl.value_or(SERVICE_NO_CHANGE), text(settings.binaryPath),
                                 text(settings.group), &tag, text(settings.dependencies), text(settings.account),
                                 password, text(settings.displayName));
                         }});
    // Any other start type than the delayed automatic one clears the flag, where it was set.
    if (settings.startType && (settings.delayed || delayedBefore))
        steps.push_back({L"le d\u00E9marrage diff\u00E9r\u00E9", [&] {
                             SERVICE_DELAYED_AUTO_START_INFO info = {settings.delayed ? TRUE : FALSE};
                             return object.ChangeConfig2(&info, ConfigInfoDelayedAutoStart);
                         }});
    if (settings.description)
        steps.push_back({L"la description", [&] {
                             std::wstring text = *settings.description;
                             SERVICE_DESCRIPTIONW info = {&text[0]};
                             return object.ChangeConfig2(&info, ConfigInfoDescription);
                         }});
    return steps;
}

// Makes the steps in order; after a failure that follows a change, says what was changed and
// what was not. The number of steps made.
size_t MakeChanges(const std::vector<ChangeStep>& steps) {
    for (size_t made = 0; made < steps.size(); ++made) {
        if (steps[made].make())
            continue;
        const DWORD code = ::GetLastError();
        if (made != 0) {
            std::wcerr << L"Chang\u00E9 :";
            for (size_t i = 0; i < made; ++i)
                std::wcerr << (i ? L"," : L"") << L' ' << steps[i].what;
            std::wcerr << L". Non chang\u00E9 :";
            for (size_t i = made; i < steps.size(); ++i)
                std::wcerr << (i != made ? L"," : L"") << L' ' << steps[i].what;
            std::wcerr << L" (erreur " << code << L")." << std::endl;
        }
        ::SetLastError(code);
        return made;
    }
    return steps.size();
}

} // namespace

std::wstring PasswordGivenOrAsked(const ServiceSettings& settings) {
    if (!settings.password || *settings.password != AskedPassword)
        return settings.password.value_or(L"");
    std::wcout << L"Mot de passe : " << std::flush;
    const std::unique_ptr<TextInput> opened = AnswerInput ? nullptr : OpenStandardInput();
    return ReadHiddenLine(AnswerInput ? *AnswerInput : *opened);
}

int SetConfigCommand(unsigned long argc, wchar_t** argv) {
    ServiceSettings settings;
    if (ShowUsageUnless(argc >= 1 && ParseServiceSettings(argc - 1, argv + 1, false, settings), SetConfigHelp))
        return 0;
    int result = 0;
    WithActiveServiceConfig(argv[0], [&](CSvcObj& object, const QUERY_SERVICE_CONFIGW& configuration) {
        const HeldSettings before = ReadHeldSettings(object, settings, &configuration);
        std::wstring password = PasswordGivenOrAsked(settings);
        unsigned long tag = 0;
        const std::vector<ChangeStep> steps =
            ChangeSteps(object, settings, settings.password ? password.c_str() : nullptr, before.delayed, tag);
        const size_t made = MakeChanges(steps);
        SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
        if (made == 0 && !steps.empty())
            return;
        const DWORD code = ::GetLastError();
        const bool passwordChanged = settings.ChangesConfiguration() && made != 0;
        PrintChangeReport(object.GetName(), settings, before, ReadHeldSettings(object, settings, nullptr),
                          passwordChanged);
        ::SetLastError(code);
        result = made == steps.size() ? 1 : 0;
    }, SERVICE_CHANGE_CONFIG);
    std::wcout << std::endl;
    return result;
}

void SetConfigHelp() {
    PrintUsageText({
        L"Modifie la configuration d'un service ou d'un pilote, puis affiche, pour",
        L"chaque param\u00E8tre donn\u00E9, sa valeur avant et apr\u00E8s.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> SET CONFIG <service> <p>=<v> ...",
        L"    Mode Interactif : SET CONFIG <service> <param\u00E8tre>=<valeur> ...",
        L"",
        L"    start_type=     automatique | automatique_diff\u00E9r\u00E9 | manuel | d\u00E9sactiv\u00E9",
        L"                    (pilotes : d\u00E9marrage | syst\u00E8me), sans accents aussi, ou",
        L"                    auto | delayed_auto | demand | disabled | boot | system,",
        L"                    ou 0 \u00E0 4",
        L"    error_control=  ignorer | normal | grave | critique, ou",
        L"                    ignore | normal | severe | critical, ou 0 \u00E0 3",
        L"    binary_path=    la ligne de commande du programme (entre guillemets)",
        L"    group=          le groupe d'ordre de chargement (vide : aucun)",
        L"    dependencies=   les services s\u00E9par\u00E9s par /, un groupe pr\u00E9c\u00E9d\u00E9 de +",
        L"                    (vide : aucune)",
        L"    account=        le compte sous lequel le service tourne",
        L"    password=       son mot de passe ; * le demande sans l'afficher",
        L"    display_name=   le nom complet",
        L"    description=    la description",
        L"    type=           propre | partag\u00E9, suivis de _interactif pour un service",
        L"                    interactif, ou own | share | own_interactive |",
        L"                    share_interactive",
        L"",
        L"EXEMPLE :",
        L"    SET CONFIG Spooler start_type=d\u00E9sactiv\u00E9",
    });
}

void SetConfigExHelp() {
    PrintUsageText({
        L"Modifie la configuration étendue d'un service / pilote : sa description,",
        L"puis ses actions en cas d'échec, par des questions posées sur l'entrée",
        L"standard (même en mode script).",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL <CONNECT:...> SET CONFIGEX <service>",
        L"    Mode Interactif : SET CONFIGEX <service>",
        L"",
        SERVICE_NAME_WORD,
        L"",
        L"    Pour un texte, une réponse vide garde la valeur en place et <NULL>",
        L"    l'efface. Types d'action : 0 aucune, 1 redémarrer le service,",
        L"    2 redémarrer l'ordinateur, 3 exécuter la commande ; délais en",
        L"    millisecondes. N actions remplacent toutes les actions du service ;",
        L"    0 action les garde.",
        L"",
        L"EXEMPLE :",
        L"    SET CONFIGEX Spooler",
    });
}
