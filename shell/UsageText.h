#pragma once
// Usage texts: an empty line, the given lines, and an empty line, each flushed.

#include <initializer_list>

#include "CommandTree.h"

void PrintUsageText(std::initializer_list<const wchar_t*> lines);
// The lines alone, without the surrounding empty lines.
void PrintLines(std::initializer_list<const wchar_t*> lines);

// The explanation of the <service> word that the commands on one service share: the name they
// take is the key name, which administrators often confuse with the display name.
#define SERVICE_NAME_WORD                                                                                    \
    L"    <service>    Nom système du service (première colonne de ENUM SERVICES),",                         \
        L"                 et non son nom complet."

// Shows the usage text when a command got words it does not take, and notes that slip of the
// command line; true when it did. A command without a usage text (null) shows nothing, and the
// slip is noted all the same.
bool ShowUsageUnless(bool accepted, COMMAND_HELP help);
