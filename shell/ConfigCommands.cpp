// set configex: edits a service's description and failure actions through a short dialogue on
// the console's input.

#include "ConfigCommands.h"

#include <array>
#include <iostream>
#include <memory>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "Connections.h"
#include "FailureActionType.h"
#include "Platform.h"
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
