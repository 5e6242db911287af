// The console's modes, its dispatcher and its help, seen from outside: the exact bytes it writes
// on both streams and its exit code.

#include <gtest/gtest.h>

#include "ByteComparison.h"
#include "OrvelRunner.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

const DWORD kScriptCannotBeOpened = 0xFFFFFFFF;

std::string HelpUsage() {
    return Bytes(LR"(
Affiche l'ensemble des commandes disponibles, ou fournit de l'aide sur
une commande en particulier.

UTILISATION :
    Mode Batch      : ORVEL HELP [commande]
    Mode Interactif : HELP [commande]

    [commande]    Affiche des informations d'aide sur cette commande ;
                  pour un groupe (LOCK, GET SERVICE...), la liste de ses
                  commandes.

EXEMPLE :
    HELP GET SERVICE PID

)");
}

std::string CmdtreeUsage() {
    return Bytes(LR"(
Affiche l'ensemble des commandes disponibles sous forme d'une arborescence,
ce qui permet de comprendre le rapport qu'elles entretiennent entre elles
et de repérer leur nom complet plus rapidement.

UTILISATION :
    Mode Batch      : ORVEL CMDTREE [/A]
    Mode Interactif : CMDTREE [/A]

    [/A]    Utilise des caractères ASCII au lieu des caractères étendus.

EXEMPLE :
    CMDTREE /A

)");
}

std::string ClsUsage() {
    return Bytes(LR"(
Efface l'écran.

UTILISATION :
    Mode Batch      : ORVEL CLS
    Mode Interactif : CLS

    Quand la sortie n'est pas une console (redirection vers un fichier),
    CLS écrit un caractère de saut de page.

EXEMPLE :
    CLS

)");
}

TEST(ShellScriptE2E, ListsDrawsAndReportsUnknownWords) {
    OrvelRun run = RunOrvelScript("help\n"
                                  "cmdtree /a\n"
                                  "HELP lock\n"
                                  "get service\n"
                                  "get nothing\n"
                                  "hel\n"
                                  "\n"
                                  "exit\n");

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Banner() +                                                            //
                            Prompted(L"help") + RootListing() +                               //
                            Prompted(L"cmdtree /a") + kLineBreak + AsciiTree() + kLineBreak + //
                            Prompted(L"HELP lock") + LockListing() +                          //
                            Prompted(L"get service") + GetServiceListing() +                  //
                            Prompted(L"get nothing") + GetListing() +                         //
                            Prompted(L"hel") + RootListing() +                                //
                            Prompted(L"") +                                                   //
                            Prompted(L"exit") + kLineBreak,
                        run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, UnknownCommand(L"nothing") + UnknownCommand(L"hel"), run.err);
}

TEST(ShellScriptE2E, DrawsTheExtendedTreeAndShowsUsageTexts) {
    OrvelRun run = RunOrvelScript("cmdtree\n"
                                  "cmdtree /b\n"
                                  "cmdtree /A extra\n"
                                  "help help\n"
                                  "Help cmdtree\n"
                                  "help cls\n"
                                  "cls now\n"
                                  "cls\n"
                                  "help get service pid\n"
                                  "bye\n");

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Banner() +                                                            //
                            Prompted(L"cmdtree") + kLineBreak + ExtendedTree() + kLineBreak + //
                            Prompted(L"cmdtree /b") + CmdtreeUsage() +                        //
                            Prompted(L"cmdtree /A extra") + CmdtreeUsage() +                  //
                            Prompted(L"help help") + HelpUsage() +                            //
                            Prompted(L"Help cmdtree") + CmdtreeUsage() +                      //
                            Prompted(L"help cls") + ClsUsage() +                              //
                            Prompted(L"cls now") + ClsUsage() +                               //
                            Prompted(L"cls") + "\f" +                                         //
                            Prompted(L"help get service pid") + PidUsage() +                  //
                            Prompted(L"bye") + kLineBreak,
                        run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, std::string(), run.err);
}

TEST(ShellScriptE2E, EndsOnTheFirstWordExitQuitOrByeWhateverItsCase) {
    for (const std::string ending : {"EXIT", "Quit", "bye", "exit now"}) {
        SCOPED_TRACE(ending);
        OrvelRun run = RunOrvelScript(ending + "\nhelp\n");

        EXPECT_EQ(0u, run.exitCode);
        EXPECT_PRED_FORMAT2(BytesEqual,
                            Banner() + Prompted(std::wstring(ending.begin(), ending.end())) + kLineBreak,
                            run.out);
        EXPECT_PRED_FORMAT2(BytesEqual, std::string(), run.err);
    }
}

TEST(ShellScriptE2E, TreatsAWordThatOnlyBeginsWithExitAsUnknown) {
    OrvelRun run = RunOrvelScript("exiting\nquit\n");

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Banner() + Prompted(L"exiting") + RootListing() + Prompted(L"quit") + kLineBreak,
                        run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, UnknownCommand(L"exiting"), run.err);
}

TEST(ShellInteractiveE2E, ReadsCommandsFromStandardInputWithoutEchoingThem) {
    OrvelRun run = RunOrvel({}, "help lock\nhel\nquit\n");

    EXPECT_EQ(0u, run.exitCode);
    const std::string prompt = Bytes(L"Quorvan> ");
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Banner() + prompt + LockListing() + prompt + RootListing() + prompt + kLineBreak,
                        run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, UnknownCommand(L"hel"), run.err);
}

TEST(ShellScriptE2E, AcceptsTheScriptSwitchInEitherCaseAndIgnoresFurtherArguments) {
    TemporaryFile script;
    script.Write("help lock\n");

    for (const wchar_t* scriptSwitch : {L"/s", L"/S"}) {
        SCOPED_TRACE(testing::PrintToString(scriptSwitch));
        OrvelRun run = RunOrvel({scriptSwitch, script.path(), L"help", L"cmdtree"});

        EXPECT_EQ(0u, run.exitCode);
        EXPECT_PRED_FORMAT2(BytesEqual,
                            Banner() + Prompted(L"help lock") + LockListing() + Prompted(L"") + kLineBreak,
                            run.out);
        EXPECT_PRED_FORMAT2(BytesEqual, std::string(), run.err);
    }
}

TEST(ShellScriptE2E, ReportsAMissingScriptFileAndEndsWithMinusOne) {
    const std::wstring missing = DirectoryOfThisProgram() + L"\\no such folder\\script.txt";

    OrvelRun run = RunOrvel({L"/s", missing});

    EXPECT_EQ(kScriptCannotBeOpened, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual, Banner(), run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, Bytes(L"Fichier '" + missing + L"' inexistant.\n"), run.err);
}

TEST(ShellHelpModeE2E, PrintsTheBannerTwiceForEveryHelpSwitchAsAPrefix) {
    for (const wchar_t* helpSwitch : {L"/?", L"-?", L"--?", L"/H", L"-help", L"--h", L"/help"}) {
        SCOPED_TRACE(testing::PrintToString(helpSwitch));
        OrvelRun run = RunOrvel({helpSwitch});

        EXPECT_EQ(0u, run.exitCode);
        EXPECT_PRED_FORMAT2(BytesEqual, Banner() + Banner() + kLineBreak, run.out);
        EXPECT_PRED_FORMAT2(BytesEqual, std::string(), run.err);
    }
}

TEST(ShellHelpModeE2E, ShowsHelpForTheWordsAfterHelp) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{L"help"}, Banner() + RootListing(), ""},
        {{L"helpful"}, Banner() + RootListing(), ""},
        {{L"HELP", L"lock"}, Banner() + LockListing(), ""},
        {{L"help", L"get", L"service"}, Banner() + GetServiceListing(), ""},
        {{L"help", L"cmdtree"}, Banner() + CmdtreeUsage(), ""},
        {{L"help", L"get", L"service", L"pid"}, Banner() + PidUsage(), ""},
        {{L"help", L"nothing"}, Banner() + RootListing(), UnknownCommand(L"nothing")},
        {{L"help", L"get", L"nothing"}, Banner() + GetListing(), UnknownCommand(L"nothing")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        OrvelRun run = RunOrvel(c.arguments);

        EXPECT_EQ(0u, run.exitCode);
        EXPECT_PRED_FORMAT2(BytesEqual, c.out, run.out);
        EXPECT_PRED_FORMAT2(BytesEqual, c.err, run.err);
    }
}

} // namespace
