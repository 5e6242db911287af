#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "CommandTree.h"
#include "Commands.h"
#include "ConfigCommands.h"
#include "Connections.h"
#include "FailureActionType.h"
#include "FakePlatform.h"
#include "ServiceSettings.h"
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

// Every setting word of set config, in each of its forms, reaches the configuration as typed.
TEST_F(ConfigCommandsTest, SetConfigTakesEverySettingInEachOfItsForms) {
    using Check = std::function<void(const FakeService&)>;
    auto startType = [](DWORD type, bool delayed) {
        return Check([=](const FakeService& s) {
            EXPECT_EQ(s.startType, type);
            EXPECT_EQ(s.delayedAutoStart, delayed);
        });
    };
    auto errorControl = [](DWORD control) { return Check([=](const FakeService& s) { EXPECT_EQ(s.errorControl, control); }); };
    auto serviceType = [](DWORD type) { return Check([=](const FakeService& s) { EXPECT_EQ(s.serviceType, type); }); };
    const struct {
        const wchar_t* settings;
        Check check;
    } cases[] = {
        {L"start_type=d\u00E9sactiv\u00E9", startType(SERVICE_DISABLED, false)},
        {L"start_type=DESACTIVE", startType(SERVICE_DISABLED, false)},
        {L"start_type=disabled", startType(SERVICE_DISABLED, false)},
        {L"start_type=2", startType(SERVICE_AUTO_START, false)},
        {L"start_type=automatique_diff\u00E9r\u00E9", startType(SERVICE_AUTO_START, true)},
        {L"start_type=\"automatique diff\u00E9r\u00E9\"", startType(SERVICE_AUTO_START, true)},
        {L"start_type=delayed_auto", startType(SERVICE_AUTO_START, true)},
        {L"start_type=Manuel", startType(SERVICE_DEMAND_START, false)},
        {L"start_type=demand", startType(SERVICE_DEMAND_START, false)},
        {L"start_type=d\u00E9marrage", startType(SERVICE_BOOT_START, false)},
        {L"start_type=boot", startType(SERVICE_BOOT_START, false)},
        {L"start_type=syst\u00E8me", startType(SERVICE_SYSTEM_START, false)},
        {L"start_type=automatique", startType(SERVICE_AUTO_START, false)},
        {L"error_control=grave", errorControl(SERVICE_ERROR_SEVERE)},
        {L"error_control=critical", errorControl(SERVICE_ERROR_CRITICAL)},
        {L"error_control=ignorer", errorControl(SERVICE_ERROR_IGNORE)},
        {L"error_control=1", errorControl(SERVICE_ERROR_NORMAL)},
        {L"type=partag\u00E9", serviceType(SERVICE_WIN32_SHARE_PROCESS)},
        {L"type=own_interactive", serviceType(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS)},
        {L"type=propre", serviceType(SERVICE_WIN32_OWN_PROCESS)},
        {L"binary_path=\"\\\"C:\\Program Files\\svc.exe\\\" -k\"",
         [](const FakeService& s) { EXPECT_EQ(*s.binaryPath, L"\"C:\\Program Files\\svc.exe\" -k"); }},
        {L"group=Base", [](const FakeService& s) {
             EXPECT_EQ(*s.group, L"Base");
             EXPECT_NE(s.tag, 0u) << "the group gives a tag";
         }},
        {L"group=", [](const FakeService& s) { EXPECT_EQ(*s.group, L""); }},
        {L"dependencies=Audio/+Base", [](const FakeService& s) {
             EXPECT_EQ(s.dependencies, (std::vector<std::wstring>{L"Audio", L"+Base"}));
         }},
        {L"dependencies=", [](const FakeService& s) { EXPECT_TRUE(s.dependencies.empty()); }},
        {L"account=.\\Gestion password=secret", [&](const FakeService& s) {
             EXPECT_EQ(*s.account, L".\\Gestion");
             EXPECT_EQ(*fake.lastConfigChange->password, L"secret");
         }},
        {L"display_name=\"Mon service\"", [](const FakeService& s) { EXPECT_EQ(s.displayName, L"Mon service"); }},
        {L"description=\"Une = description\"", [](const FakeService& s) {
             EXPECT_EQ(*s.description, L"Une = description");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.settings)));
        ::SetLastError(0);
        const CommandOutcome outcome = Answer("", (L"set config Spooler " + std::wstring(c.settings)).c_str());
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(::GetLastError(), 0u);
        c.check(service);
        EXPECT_EQ(outcome.out.find(L"secret"), std::wstring::npos) << "a password is never written";
    }
}

// Words that are no setting, values that do not parse, a setting twice or none: the usage, 87,
// and nothing asked of the service.
TEST_F(ConfigCommandsTest, SetConfigRefusesWhatItCannotTakeAndChangesNothing) {
    const std::wstring usage = RunCommandLine(L"help set config").out;
    ASSERT_NE(usage.find(L"SET CONFIG <service>"), std::wstring::npos) << usage;
    for (const wchar_t* line :
         {L"set config", L"set config Spooler", L"set config Spooler start=auto", L"set config Spooler start_type",
          L"set config Spooler start_type=bient\u00F4t", L"set config Spooler start_type=5",
          L"set config Spooler error_control=4", L"set config Spooler type=noyau",
          L"set config Spooler dependencies=A//B", L"set config Spooler dependencies=/A",
          L"set config Spooler dependencies=A/", L"set config Spooler binary_path=",
          L"set config Spooler display_name=", L"set config Spooler start_type=auto start_type=manuel",
          L"set config Spooler START_TYPE=auto Start_Type=2"})
        ExpectRefusedWithUsage(line, usage);
    EXPECT_TRUE(fake.serviceOpenings.empty());
}

// One configuration call for the settings, one for the delayed start when it changes, one for the
// description; the report shows each setting given before and after. A call that fails after a
// change says what was changed and what was not; a locked database changes nothing.
TEST_F(ConfigCommandsTest, SetConfigMakesItsCallsInOrderAndReportsWhatItChanged) {
    const std::wstring rule(40, L'=');
    CommandOutcome outcome = Answer("", L"set config Spooler start_type=automatique_diff\u00E9r\u00E9 display_name=Nouveau");
    EXPECT_EQ(outcome.out, L"\nConfiguration de Spooler :\n" + rule +
                               L"\nType de d\u00E9marrage      : 3 (manuel) -> 2 (automatique diff\u00E9r\u00E9)\n"
                               L"Nom complet            : Spooler (display) -> Nouveau\n" +
                               rule + L"\n\n");
    EXPECT_EQ(fake.Calls("ChangeServiceConfigW"), 1);
    EXPECT_EQ(fake.Calls("ChangeServiceConfig2W"), 1);

    // Another start type clears the flag; one that was not delayed needs no call for it.
    Answer("", L"set config Spooler start_type=manuel");
    EXPECT_FALSE(service.delayedAutoStart);
    EXPECT_EQ(fake.Calls("ChangeServiceConfig2W"), 2);
    Answer("", L"set config Spooler start_type=d\u00E9sactiv\u00E9");
    EXPECT_EQ(fake.Calls("ChangeServiceConfig2W"), 2);

    fake.FailCall("ChangeServiceConfig2W", ERROR_ACCESS_DENIED);
    ::SetLastError(0);
    outcome = Answer("", L"set config Spooler error_control=critique description=Neuve");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome.err, L"Chang\u00E9 : la configuration. Non chang\u00E9 : la description (erreur 5).\n");
    EXPECT_NE(outcome.out.find(L"Contr\u00F4le des erreurs   : 1 (normal) -> 3 (critique)\n"), std::wstring::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find(L"Description            : Ancienne description -> Ancienne description\n"),
              std::wstring::npos);

    fake.lockedByOther = L".\\Autre";
    ::SetLastError(0);
    outcome = Answer("", L"set config Spooler start_type=auto");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
    EXPECT_EQ(outcome.out, L"\n") << "nothing changed: no report";
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_DISABLED));
}

// A password is never shown: "*" asks for it without echo (from the answers when the input is no
// console), and a script's echo hides one typed on its line.
TEST_F(ConfigCommandsTest, APasswordIsNeverShown) {
    CommandOutcome outcome = Answer("Cach\u00E9123\nsuite\n", L"set config Spooler account=.\\u password=*");
    EXPECT_EQ(*fake.lastConfigChange->password, L"Cach\u00E9123");
    EXPECT_EQ(outcome.out.rfind(L"Mot de passe : ", 0), 0u) << outcome.out;
    EXPECT_EQ(outcome.out.find(L"Cach"), std::wstring::npos);
    EXPECT_EQ(unread, "suite\n");

    fake.inputIsConsole = true;
    fake.typedLines = {L"Secret42"};
    SetConfigAnswerInput(nullptr);
    outcome = RunCommandLine(L"set config Spooler account=.\\u password=*");
    EXPECT_EQ(*fake.lastConfigChange->password, L"Secret42");
    EXPECT_EQ(fake.consoleText.find(L"Secret42"), std::wstring::npos) << "typed without echo";
    EXPECT_NE(fake.inputMode & ENABLE_ECHO_INPUT, 0u) << "the echo is back on";

    EXPECT_EQ(WithPasswordsHidden(L"set config S account=x password=\"p w\" PASSWORD=abc password=*"),
              L"set config S account=x password=******** PASSWORD=******** password=*");
}

} // namespace
