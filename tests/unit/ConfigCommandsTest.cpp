#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Commands.h"
#include "ConfigCommands.h"
#include "Connections.h"
#include "FailureActionType.h"
#include "FakePlatform.h"
#include "StandardStreams.h"
#include "TemporaryFile.h"

namespace {

const std::wstring DescriptionQuestion =
    L"Nouvelle description du service (tapez \"<NULL>\" pour supprimer la description existante ou laissez une "
    L"chaîne vide pour ne pas la modifier) :";
const std::wstring RebootMessageQuestion =
    L"svcFailureActions.lpRebootMsg = (tapez \"<NULL>\" pour supprimer le message existant ou laissez une chaîne "
    L"vide pour ne pas le modifier) :";
const std::wstring CommandQuestion =
    L"svcFailureActions.lpCommand = (tapez \"<NULL>\" pour supprimer la commande existante ou laissez une chaîne "
    L"vide pour ne pas la modifier) :";
const std::wstring Default = L"< the default value >";

std::wstring Report(bool succeeded, DWORD code) {
    return std::wstring(succeeded ? L"OK !!" : L"Oh oh ??") + L"\nGetLastError() = " + std::to_wstring(code) + L"\n";
}

std::wstring ActionLines(size_t i, const std::wstring& type, const std::wstring& delay) {
    const std::wstring field = L"svcFailureActions.lpsaActions[" + std::to_wstring(i) + L"].";
    return field + L"Type  = " + type + field + L"Delay = " + delay;
}

// Everything the dialogue writes, from the answers it took in.
struct Transcript {
    std::wstring descriptionLine = L"Description ignorée.";
    std::wstring descriptionReport = Report(true, 0);
    DWORD resetPeriod = 0;
    std::wstring rebootMessage = Default;
    std::wstring command = Default;
    int refusedCounts = 0;
    std::vector<SC_ACTION> actions;
    std::wstring actionsReport = Report(true, 0);

    std::wstring Text() const {
        std::wstring text = L"\n" + DescriptionQuestion + L"\n\n" + descriptionLine + L"\n" + descriptionReport +
                            L"\nsvcFailureActions.dwResetPeriod = \n" + RebootMessageQuestion + L"\n\n" +
                            CommandQuestion + L"\n\n\nsvcFailureActions.cActions = ";
        for (int i = 0; i < refusedCounts; ++i)
            text += L"Nombre d'actions trop grand (32 au plus).\nsvcFailureActions.cActions = ";
        for (size_t i = 0; i < actions.size(); ++i)
            text += L"\n" + ActionLines(i, L"", L"");
        // Without actions the platform ignores the reset period: the summary does not claim it.
        text += L"\n\nR\u0082capitulatif :\n===============\n\nsvcFailureActions.dwResetPeriod = " +
                (actions.empty() ? Default : std::to_wstring(resetPeriod)) +
                L"\nsvcFailureActions.lpRebootMsg   = " + rebootMessage +
                L"\nsvcFailureActions.lpCommand     = " + command +
                L"\n\nActions\n=======\n\nsvcFailureActions.cActions = " + std::to_wstring(actions.size()) + L"\n";
        for (size_t i = 0; i < actions.size(); ++i)
            text += L"\n" + ActionLines(i, std::to_wstring(static_cast<int>(ActionTypeNumber(actions[i]))) + L"\n",
                                        std::to_wstring(actions[i].Delay) + L"\n");
        return text + L"\n=======\n\n===============\n" + actionsReport + L"\n";
    }
};

std::vector<std::pair<DWORD, DWORD>> Pairs(const std::vector<SC_ACTION>& actions) {
    std::vector<std::pair<DWORD, DWORD>> pairs;
    for (const SC_ACTION& action : actions)
        pairs.emplace_back(ActionTypeNumber(action), action.Delay);
    return pairs;
}

class ConfigCommandsTest : public CommandFixture {
protected:
    ConfigCommandsTest() : service(fake.AddService(L"Spooler")) {
        service.description = std::wstring(L"Ancienne description");
        service.rebootMessage = std::wstring(L"Ancien message");
        service.command = std::wstring(L"ancienne.cmd");
        service.actions = {{SC_ACTION_REBOOT, 10}};
        service.resetPeriod = 3600;
        OpenConnection(L"", SC_MANAGER_CONNECT);
    }
    // Runs `line` with `answers` (bytes, as typed) waiting on the dialogue's input, and keeps in
    // `unread` what the command left of them.
    CommandOutcome Answer(const std::string& answers, const wchar_t* line = L"set configex Spooler") {
        TemporaryFile file;
        file.Write(answers);
        FILE* input = file.OpenToRead();
        if (!input)
            return {};
        StreamTextInput stream(input);
        SetConfigAnswerInput(&stream);
        CommandOutcome outcome = RunCommandLine(line);
        SetConfigAnswerInput(nullptr);
        unread.clear();
        for (int c = std::getc(input); c != EOF; c = std::getc(input))
            unread += static_cast<char>(c);
        std::fclose(input);
        return outcome;
    }

    FakeService& service;
    std::string unread;
};

TEST_F(ConfigCommandsTest, EmptyAnswersAndNoActionsChangeNothing) {
    const CommandOutcome outcome = Answer("\n0\n\n\n0\n");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, Transcript().Text());
    EXPECT_EQ(fake.Calls("ChangeServiceConfig2W"), 2);
    EXPECT_EQ(service.description, std::wstring(L"Ancienne description"));
    EXPECT_EQ(service.rebootMessage, std::wstring(L"Ancien message"));
    EXPECT_EQ(service.command, std::wstring(L"ancienne.cmd"));
    EXPECT_EQ(Pairs(service.actions), Pairs({{SC_ACTION_REBOOT, 10}}));
    EXPECT_EQ(unread, "");
}

TEST_F(ConfigCommandsTest, NullInAnyCaseRemovesAndLineEndsMayBeCrLf) {
    const CommandOutcome outcome = Answer("<null>\r\n5\r\n<Null>\r\ncmd.exe /c echo\r\n0\r\n");
    Transcript expected;
    expected.descriptionLine = L"Description réinitialisée.";
    expected.resetPeriod = 5;
    expected.rebootMessage = L"";
    expected.command = L"cmd.exe /c echo";
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(service.description, std::nullopt);
    EXPECT_EQ(service.rebootMessage, std::wstring());
    EXPECT_EQ(service.command, std::wstring(L"cmd.exe /c echo"));
    EXPECT_EQ(service.resetPeriod, 3600u) << "ignored without an action array";
    EXPECT_EQ(Pairs(service.actions), Pairs({{SC_ACTION_REBOOT, 10}}));
}

// With a console's CR LF line ends: after the action count each number follows a CR.
TEST_F(ConfigCommandsTest, TwoActionsAreAskedAndSummedUpInOrder) {
    const CommandOutcome outcome =
        Answer("Nouveau d\xE9marrage\r\n86400\r\n\r\nrun.cmd\r\n2\r\n1\r\n60000\r\n2\r\n120000\r\n");
    Transcript expected;
    expected.descriptionLine = L"Nouvelle description : 'Nouveau démarrage'";
    expected.resetPeriod = 86400;
    expected.command = L"run.cmd";
    expected.actions = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_REBOOT, 120000}};
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(service.description, std::wstring(L"Nouveau démarrage"));
    EXPECT_EQ(Pairs(service.actions), Pairs(expected.actions));
    EXPECT_TRUE(fake.shutdownPrivilegeEnabledDuringChange);
}

TEST_F(ConfigCommandsTest, NumbersShareALineOnlyAfterTheActionCount) {
    const CommandOutcome outcome = Answer("\n300 secondes, pas plus\n\n\n2 1 1000 3 2000\nquery status Spooler\n");
    Transcript expected;
    expected.resetPeriod = 300;
    expected.actions = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_RUN_COMMAND, 2000}};
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(service.rebootMessage, std::wstring(L"Ancien message"));
    EXPECT_EQ(unread, "query status Spooler\n");
}

TEST_F(ConfigCommandsTest, RefusedChangeIsReportedWithItsCodeAndTheDialogueGoesOn) {
    fake.FailCall("ChangeServiceConfig2W", ERROR_ACCESS_DENIED, 2);
    const CommandOutcome outcome = Answer("\n0\n\n\n0\n");
    Transcript expected;
    expected.actionsReport = Report(false, ERROR_ACCESS_DENIED);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ConfigCommandsTest, WhatIsNoNumberReadsAsZeroAndDropsItsLine) {
    const CommandOutcome outcome = Answer("\nbeaucoup 12\nmsg\n\n1 x 9\n4294967297\n2\nsuite\n");
    Transcript expected;
    expected.rebootMessage = L"msg";
    expected.actions = {{SC_ACTION_NONE, 0}};
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(unread, "2\nsuite\n");
}

TEST_F(ConfigCommandsTest, TooManyActionsAreRefusedAndAskedAgain) {
    const CommandOutcome outcome = Answer("\n0\n\n\n33 1 2\n1000\n1 4294967295 5\n");
    Transcript expected;
    expected.refusedCounts = 2;
    SC_ACTION noEnumerator{SC_ACTION_NONE, 5};
    SetActionTypeNumber(noEnumerator, MAXDWORD);
    expected.actions = {noEnumerator};
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(Pairs(service.actions), Pairs(expected.actions));
}

TEST_F(ConfigCommandsTest, EndOfInputAnswersWithEmptyTextsAndZeros) {
    EXPECT_EQ(Answer("").out, Transcript().Text());
    const CommandOutcome outcome = Answer("Texte\n7\n\n\n40\n2 1");
    Transcript expected;
    expected.descriptionLine = L"Nouvelle description : 'Texte'";
    expected.resetPeriod = 7;
    expected.refusedCounts = 1;
    expected.actions = {{SC_ACTION_RESTART, 0}, {SC_ACTION_NONE, 0}};
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, expected.Text());
    EXPECT_EQ(fake.Calls("ChangeServiceConfig2W"), 4);
}

TEST_F(ConfigCommandsTest, LongAnswerKeepsItsFirst4095Characters) {
    Answer(std::string(5000, 'a') + "\n0\n\n\n0\n");
    EXPECT_EQ(service.description, std::wstring(4095, L'a'));
    EXPECT_EQ(service.rebootMessage, std::wstring(L"Ancien message"));
}

TEST_F(ConfigCommandsTest, WrongWordCountsAndUnknownServicesReadNoAnswer) {
    const std::wstring usage = UsageOf(SetConfigExHelp);
    const struct {
        const wchar_t* line;
        std::wstring out;
    } cases[] = {
        {L"set configex", usage}, {L"set configex Spooler more", usage}, {L"set configex Nobody", L"\n"}};
    for (const auto& c : cases) {
        const CommandOutcome outcome = Answer("Texte\n", c.line);
        EXPECT_EQ(outcome.result, 0) << c.line;
        EXPECT_EQ(outcome.out, c.out) << c.line;
        EXPECT_EQ(unread, "Texte\n") << c.line;
    }
    EXPECT_EQ(fake.Calls("ChangeServiceConfig2W"), 0);
    EXPECT_EQ(service.description, std::wstring(L"Ancienne description"));
}

} // namespace
