#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CommandRunner.h"
#include "CommandTree.h"
#include "Commands.h"
#include "FakePlatform.h"
#include "OutputCapture.h"

namespace {

std::vector<std::wstring> g_received;
int RecordingHandler(unsigned long argc, wchar_t** argv) {
    g_received.assign(argv, argv + argc);
    return argv[argc] == nullptr ? 7 : -1;
}
int g_helpShown = 0;
void CountingHelp() { ++g_helpShown; }

// A tree of our own: "run" (a command that also hides a subgroup of the same name), "grp" with
// "leaf", and "grp sub" with "deep".
class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() : root(L"Root", L"Root commands") {
        AddCommand(&root, L"run", L"Runs", CountingHelp, RecordingHandler);
        _COMMAND_GROUP* hidden = AddCommandGroup(&root, L"run", L"Hidden group");
        AddCommand(hidden, L"never", L"Never reached", nullptr, RecordingHandler);
        _COMMAND_GROUP* group = AddCommandGroup(&root, L"grp", L"Group");
        AddCommand(group, L"leaf", L"Leaf", nullptr, nullptr);
        _COMMAND_GROUP* sub = AddCommandGroup(group, L"sub", L"Subgroup");
        AddCommand(sub, L"deep", L"Deep", CountingHelp, RecordingHandler);
        g_received.clear();
        g_helpShown = 0;
    }
    int Execute(std::vector<std::wstring> words) {
        std::vector<wchar_t*> pointers;
        for (auto& word : words)
            pointers.push_back(&word[0]);
        pointers.push_back(nullptr);
        return ExecuteCommand(pointers.data() + 1, pointers[0], &root, static_cast<unsigned long>(words.size() - 1));
    }
    FakePlatform fake;
    _COMMAND_GROUP root;
};

TEST_F(DispatchTest, HandlerGetsOnlyTheWordsAfterItsPath) {
    OutputCapture capture;
    EXPECT_EQ(Execute({L"GRP", L"Sub", L"deep", L"one", L"two words"}), 7);
    EXPECT_EQ(g_received, (std::vector<std::wstring>{L"one", L"two words"}));
    EXPECT_EQ(Execute({L"run"}), 7);
    EXPECT_TRUE(g_received.empty());
    EXPECT_EQ(capture.Out(), L"");
}

TEST_F(DispatchTest, CommandHidesSubgroupOfTheSameName) {
    OutputCapture capture;
    EXPECT_EQ(Execute({L"run", L"never"}), 7);
    EXPECT_EQ(g_received, (std::vector<std::wstring>{L"never"}));
}

TEST_F(DispatchTest, UnknownWordReportsAndListsTheGroupWhereItWasSought) {
    OutputCapture capture;
    ::SetLastError(1234);
    EXPECT_EQ(Execute({L"grp", L"nothing"}), 0);
    EXPECT_EQ(::GetLastError(), 1234u);
    EXPECT_EQ(capture.Err(), L"ERROR : 'nothing' : unknown command.\n");
    EXPECT_EQ(capture.Out(), L"\nGroup\n\nLEAF            - Leaf\nSUB             - Subgroup\n\n");
}

TEST_F(DispatchTest, NamesMatchWholeOnly) {
    OutputCapture capture;
    EXPECT_EQ(Execute({L"ru"}), 0);
    EXPECT_EQ(capture.Err(), L"ERROR : 'ru' : unknown command.\n");
}

TEST_F(DispatchTest, GroupAloneIsListedAndNothingRuns) {
    OutputCapture capture;
    EXPECT_EQ(Execute({L"grp", L"sub"}), 0);
    EXPECT_EQ(capture.Out(), L"\nSubgroup\n\nDEEP            - Deep\n\n");
    EXPECT_EQ(capture.Err(), L"");
    EXPECT_TRUE(g_received.empty());
}

TEST_F(DispatchTest, CommandWithoutHandlerReturnsZero) {
    OutputCapture capture;
    EXPECT_EQ(Execute({L"grp", L"leaf", L"x"}), 0);
    EXPECT_EQ(capture.Out(), L"");
}

TEST_F(DispatchTest, HelpWalkShowsHelpOrListing) {
    OutputCapture capture;
    std::wstring grp = L"grp", sub = L"sub", deep = L"deep", leaf = L"leaf";
    wchar_t* toDeep[] = {&sub[0], &deep[0], nullptr};
    EXPECT_EQ(ShowCommandHelp(toDeep, &grp[0], &root, 2), 1);
    EXPECT_EQ(g_helpShown, 1);
    wchar_t* toLeaf[] = {&leaf[0], nullptr};
    EXPECT_EQ(ShowCommandHelp(toLeaf, &grp[0], &root, 1), 1) << "a command without help still counts as found";
    wchar_t* none[] = {nullptr};
    EXPECT_EQ(ShowCommandHelp(none, &grp[0], &root, 0), 1);
    EXPECT_EQ(capture.Out(), L"\nGroup\n\nLEAF            - Leaf\nSUB             - Subgroup\n\n");
    EXPECT_TRUE(g_received.empty());
}

TEST_F(DispatchTest, ListingRowsReachAConsoleInOrderWithTheRest) {
    fake.outputIsConsole = true;
    OutputCapture capture;
    ListCommands(&root);
    EXPECT_EQ(capture.Out(), L"");
    EXPECT_EQ(capture.Out() + fake.consoleText,
              L"\nRoot commands\n\nRUN             - Runs\nRUN             - Hidden group\nGRP             - Group\n\n");
}

class CommandTableTest : public ::testing::Test {
protected:
    CommandTableTest() { RegisterCommands(); }
    std::wstring Run(std::vector<std::wstring> words, int expected) {
        OutputCapture capture;
        std::vector<wchar_t*> pointers;
        for (auto& word : words)
            pointers.push_back(&word[0]);
        pointers.push_back(nullptr);
        EXPECT_EQ(ExecuteCommand(pointers.data() + 1, pointers[0], &CommandRoot,
                                 static_cast<unsigned long>(words.size() - 1)),
                  expected);
        return capture.Out() + L"|" + capture.Err();
    }
    FakePlatform fake;
};

TEST_F(CommandTableTest, RegisteringTwiceKeepsOneTree) {
    const unsigned long commands = CommandRoot.commands.count;
    RegisterCommands();
    EXPECT_EQ(CommandRoot.commands.count, commands);
    EXPECT_EQ(commands, 17u);
    EXPECT_EQ(CommandRoot.subgroups.count, 7u);
}

TEST_F(CommandTableTest, LongNamesAreNotCut) {
    const std::wstring out = Run({L"enum"}, 0);
    EXPECT_NE(out.find(L"\nSERVICE_GROUP_LOAD_ORDER - Affiche l'ordre"), std::wstring::npos) << out;
    EXPECT_NE(out.find(L"\nSERVICE_GROUP   - \u00C9num\u00E8re les groupes de services.\n"), std::wstring::npos);
}

TEST_F(CommandTableTest, LockAloneListsItsFourCommands) {
    EXPECT_EQ(Run({L"lock"}, 0),
              L"\nVerrouillage de la base des services...\n\n"
              L"CAN_BE_LOCKED   - Demande si la base des services peut \u00EAtre verrouill\u00E9e.\n"
              L"ON              - Verrouille la base des services.\n"
              L"OFF             - D\u00E9verrouille la base des services.\n"
              L"STATUS          - Affiche l'\u00E9tat de verrouillage de la base des services.\n\n|");
}

TEST_F(CommandTableTest, HelpOfACommandPrintsItsUsageText) {
    EXPECT_EQ(Run({L"help", L"get", L"service", L"pid"}, 1), UsageOf(GetProcessIdHelp) + L"|");
    EXPECT_EQ(Run({L"help", L"control"}, 1), UsageOf(ControlHelp) + L"|");
}

// Every command of the group and below it, with its path as typed (words joined by spaces).
void CollectCommands(const _COMMAND_GROUP& group, const std::wstring& path,
                     std::vector<std::pair<std::wstring, const _COMMAND*>>& commands) {
    for (auto* node = group.commands.head; node; node = node->next)
        commands.emplace_back(path + static_cast<const wchar_t*>(node->item->name), node->item);
    for (auto* node = group.subgroups.head; node; node = node->next)
        CollectCommands(*node->item, path + static_cast<const wchar_t*>(node->item->name) + L" ", commands);
}

std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// The console writes Windows-1252 and is 80 columns wide: a character beyond that code page would
// show as another, and a line of 80 characters would be followed by an empty one.
void ExpectEveryLineFitsTheConsole(const std::wstring& usage) {
    std::wistringstream lines(usage);
    for (std::wstring line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 80u) << line;
        BOOL usedDefault = FALSE;
        char bytes[256];
        ::WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, line.c_str(), static_cast<int>(line.size()), bytes,
                              sizeof bytes, nullptr, &usedDefault);
        EXPECT_FALSE(usedDefault) << line;
    }
}

// The rest of the usage's line that begins with `start`; empty when there is none.
std::wstring LineAfter(const std::wstring& usage, const std::wstring& start) {
    const size_t at = usage.find(L"\n" + start);
    if (at == std::wstring::npos)
        return L"";
    const size_t from = at + 1 + start.size();
    return usage.substr(from, usage.find(L'\n', from) - from);
}

// True when `words` hold the whole command `path`, in capitals, and not only the start of a longer
// name: the batch form has its connection and options around it, or CONNECT its colon.
bool NamesCommand(const std::wstring& words, const std::wstring& path) {
    const std::wstring padded = L" " + words + L" ";
    const size_t at = padded.find(L" " + Upper(path));
    if (at == std::wstring::npos)
        return false;
    const wchar_t next = padded[at + 1 + path.size()];
    return next == L' ' || next == L':';
}

// Each command says what it does, how it is typed in both modes, what its words mean and gives an
// example, with the console's own syntax.
TEST_F(CommandTableTest, EveryCommandHasARealUsageText) {
    std::vector<std::pair<std::wstring, const _COMMAND*>> commands;
    CollectCommands(CommandRoot, L"", commands);
    size_t checked = 0;
    for (const auto& [path, command] : commands) {
        SCOPED_TRACE(testing::PrintToString(path));
        ASSERT_NE(command->help, nullptr);
        const std::wstring usage = UsageOf(command->help);
        ++checked;
        ASSERT_GT(usage.size(), 4u);
        EXPECT_TRUE(usage[0] == L'\n' && usage[1] != L'\n') << "one empty line before the text";
        EXPECT_TRUE(usage.compare(usage.size() - 2, 2, L"\n\n") == 0 && usage[usage.size() - 3] != L'\n')
            << "one empty line after it";
        EXPECT_NE(usage.find(L"\n\nUTILISATION :\n"), std::wstring::npos) << usage;
        EXPECT_NE(usage.find(L"\n\nEXEMPLE :\n    "), std::wstring::npos) << usage;
        // Both forms name the command as it is typed; the interactive one begins with it.
        EXPECT_TRUE(NamesCommand(LineAfter(usage, L"    Mode Batch      : ORVEL"), path)) << usage;
        const std::wstring interactive = LineAfter(usage, L"    Mode Interactif : ");
        EXPECT_TRUE(NamesCommand(interactive, path) && interactive.rfind(Upper(path), 0) == 0) << usage;
        // No function name of the code, no other tool's syntax.
        EXPECT_EQ(usage.find(L"()"), std::wstring::npos) << usage;
        EXPECT_EQ(Lower(usage).find(L"sc "), std::wstring::npos) << usage;
        ExpectEveryLineFitsTheConsole(usage);
    }
    EXPECT_EQ(checked, commands.size());
    EXPECT_GE(checked, 39u);
}

TEST_F(CommandTableTest, HelpOfAnUnknownWordReports) {
    EXPECT_EQ(Run({L"Help", L"nope"}, 0).substr(0, 1), L"\n");
    EXPECT_NE(Run({L"help", L"nope"}, 0).find(L"|ERROR : 'nope' : unknown command.\n"), std::wstring::npos);
}

TEST_F(CommandTableTest, CommandTreeTakesOnlySlashA) {
    const std::wstring usage = Run({L"cmdtree", L"/b"}, 0);
    EXPECT_NE(usage.find(L"    Mode Interactif : CMDTREE [/A]\n"), std::wstring::npos);
    EXPECT_EQ(Run({L"cmdtree", L"/a", L"x"}, 0), usage);
    EXPECT_EQ(Run({L"CMDTREE", L"/A"}, 1), Run({L"cmdtree", L"/a"}, 1));
}

TEST_F(CommandTableTest, ExtendedTreeUsesOemBoxDrawingCharacters) {
    const std::wstring tree = Run({L"cmdtree"}, 1);
    EXPECT_EQ(tree.substr(0, 28), L"\n[ Quorvan version 0.3.4d ]\n");
    EXPECT_NE(tree.find(L"\n  \u00C3\u00C4\u00C4\u00C4 help\n"), std::wstring::npos);
    EXPECT_NE(tree.find(L"\n  \u00B3     \u00C0\u00C4\u00C4\u00C4 status\n"), std::wstring::npos);
    EXPECT_NE(tree.find(L"\n  \u00C0\u00C4\u00C4\u00C4[ set ]\n        \u00C3\u00C4\u00C4\u00C4 configex\n"
                        L"        \u00C0\u00C4\u00C4\u00C4 config\n\n|"),
              std::wstring::npos);
}

} // namespace
