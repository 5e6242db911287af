// `help` and `cmdtree`: the commands that describe the tree itself.

#include <iostream>

#include "CommandTree.h"
#include "Commands.h"
#include "StringFunctions.h"
#include "UsageText.h"

int HelpCommand(unsigned long argc, wchar_t** argv) {
    if (argc == 0) {
        ListCommands(&CommandRoot);
        return 1;
    }
    return ShowCommandHelp(argv + 1, argv[0], &CommandRoot, argc - 1);
}

void HelpCommandHelp() {
    PrintUsageText({
        L"Affiche l'ensemble des commandes disponibles, ou fournit de l'aide sur",
        L"une commande en particulier.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL HELP [commande]",
        L"    Mode Interactif : HELP [commande]",
        L"",
        L"    [commande]    Affiche des informations d'aide sur cette commande ;",
        L"                  pour un groupe (LOCK, GET SERVICE...), la liste de ses",
        L"                  commandes.",
        L"",
        L"EXEMPLE :",
        L"    HELP GET SERVICE PID",
    });
}

namespace {

// Draws the tree with ASCII characters.
const wchar_t* const AsciiSwitch = L"/a";

} // namespace

void CommandTreeWords(std::vector<std::wstring>& words) {
    words.push_back(AsciiSwitch);
}

int CommandTreeCommand(unsigned long argc, wchar_t** argv) {
    const bool ascii = argc == 1 && StrIComp(argv[0], AsciiSwitch) == 0;
    if (ShowUsageUnless(argc == 0 || ascii, CommandTreeCommandHelp))
        return 0;
    std::wcout << L'\n';
    PrintCommandTree(&CommandRoot, !ascii, SimpleString(L""));
    std::wcout << std::endl;
    return 1;
}

void CommandTreeCommandHelp() {
    PrintUsageText({
        L"Affiche l'ensemble des commandes disponibles sous forme d'une arborescence,",
        L"ce qui permet de comprendre le rapport qu'elles entretiennent entre elles",
        L"et de repérer leur nom complet plus rapidement.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL CMDTREE [/A]",
        L"    Mode Interactif : CMDTREE [/A]",
        L"",
        L"    [/A]    Utilise des caractères ASCII au lieu des caractères étendus.",
        L"",
        L"EXEMPLE :",
        L"    CMDTREE /A",
    });
}
