// The command tree: its nodes, the walk from words to a command, the listings and the drawing.

#include "CommandTree.h"

#include <iostream>

#include "Console.h"
#include "ConsoleOutput.h"
#include "Platform.h"

_COMMAND_GROUP CommandRoot(ProductString,
                           L"Liste des commandes disponibles :\n=================================");

_COMMAND_GROUP* AddCommandGroup(_COMMAND_GROUP* parent, const wchar_t* name, const wchar_t* description) {
    auto* group = new _COMMAND_GROUP(name, description);
    parent->subgroups.Append(group);
    return group;
}

_COMMAND* AddCommand(_COMMAND_GROUP* parent, const wchar_t* name, const wchar_t* description,
                     COMMAND_HELP help, COMMAND_HANDLER handler, const COMMAND_WORDS& words) {
    auto* command = new _COMMAND{name, description, help, handler, words};
    parent->commands.Append(command);
    return command;
}

// The lists free their subgroups first, then the commands, then the group's own strings.
void ReleaseCommandGroup(_COMMAND_GROUP* group) {
    delete group;
}

namespace {

unsigned long g_commandLineSlip = 0;

// An unknown word is the user's slip, not a platform failure: the last-error value stays.
void ReportUnknownWord(const wchar_t* word, const _COMMAND_GROUP* group) {
    LastErrorKeeper keep;
    std::wcerr << L"ERROR : '" << word << L"' : unknown command." << std::endl;
    ListCommands(group);
}

enum class Purpose { Run, Help };

// Both walks share the rules: commands are searched before subgroups, names match whole and
// without regard to case, and every word after a command belongs to that command.
int Walk(wchar_t** words, wchar_t* word, _COMMAND_GROUP* group, unsigned long count, Purpose purpose) {
    for (;;) {
        if (!word) {
            // A command line that names no command ran nothing.
            ListCommands(group);
            if (purpose == Purpose::Run)
                NoteCommandLineSlip(ERROR_INVALID_FUNCTION);
            return 0;
        }
        if (_COMMAND* command = FindByName(group->commands, word)) {
            if (purpose == Purpose::Help) {
                if (command->help)
                    command->help();
                return 1;
            }
            return command->handler ? command->handler(count, words) : 0;
        }
        _COMMAND_GROUP* subgroup = FindByName(group->subgroups, word);
        if (!subgroup) {
            ReportUnknownWord(word, group);
            if (purpose == Purpose::Run)
                NoteCommandLineSlip(ERROR_INVALID_FUNCTION);
            return 0;
        }
        if (count == 0) {
            ListCommands(subgroup);
            if (purpose == Purpose::Help)
                return 1;
            NoteCommandLineSlip(ERROR_INVALID_FUNCTION);
            return 0;
        }
        group = subgroup;
        word = *words++;
        --count;
    }
}

// The extended drawing's box characters have always left as code page 437's bytes.
const wchar_t* const MiddleBranch[] = {L"  +---", L"  ├───"};
const wchar_t* const LastBranch[] = {L"  \\---", L"  └───"};
const wchar_t* const ContinuationColumn[] = {L"  |   ", L"  │   "};
const wchar_t* const AfterLastGroup = L"      ";

} // namespace

int ExecuteCommand(wchar_t** words, wchar_t* first, _COMMAND_GROUP* group, unsigned long count) {
    g_commandLineSlip = 0;
    return Walk(words, first, group, count, Purpose::Run);
}

unsigned long CommandLineSlip() {
    return g_commandLineSlip;
}

void NoteCommandLineSlip(unsigned long code) {
    g_commandLineSlip = code;
}

int ShowCommandHelp(wchar_t** words, wchar_t* first, _COMMAND_GROUP* group, unsigned long count) {
    return Walk(words, first, group, count, Purpose::Help);
}

void ListCommands(const _COMMAND_GROUP* group) {
    std::wcout << L'\n' << group->description << L'\n' << L'\n';
    auto printRow = [](const auto* item) {
        SimpleString upper(item->name);
        upper.ToUpper();
        ConsolePrintf(L"%-15s - %s\n", static_cast<const wchar_t*>(upper),
                      static_cast<const wchar_t*>(item->description));
    };
    for (auto* node = group->commands.head; node; node = node->next)
        printRow(node->item);
    for (auto* node = group->subgroups.head; node; node = node->next)
        printRow(node->item);
    std::wcout << L'\n';
}

void PrintCommandTree(const _COMMAND_GROUP* group, int extended, const SimpleString& prefix) {
    const int style = extended ? 1 : 0;
    std::wcout << L"[ " << group->name << L" ]" << L'\n';
    const bool hasSubgroups = group->subgroups.count != 0;
    for (auto* node = group->commands.head; node; node = node->next) {
        const bool last = !node->next && !hasSubgroups;
        std::wcout << Cp437(prefix) << Cp437((last ? LastBranch : MiddleBranch)[style]) << L' '
                   << node->item->name << L'\n';
    }
    for (auto* node = group->subgroups.head; node; node = node->next) {
        const bool last = !node->next;
        std::wcout << Cp437(prefix) << Cp437((last ? LastBranch : MiddleBranch)[style]);
        PrintCommandTree(node->item, extended, prefix + (last ? AfterLastGroup : ContinuationColumn[style]));
    }
}
