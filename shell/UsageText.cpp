#include "UsageText.h"

#include <windows.h>

#include <iostream>

void PrintLines(std::initializer_list<const wchar_t*> lines) {
    for (const wchar_t* line : lines)
        std::wcout << line << std::endl;
}

void PrintUsageText(std::initializer_list<const wchar_t*> lines) {
    std::wcout << std::endl;
    PrintLines(lines);
    std::wcout << std::endl;
}

bool ShowUsageUnless(bool accepted, COMMAND_HELP help) {
    if (!accepted) {
        if (help)
            help();
        NoteCommandLineSlip(ERROR_INVALID_PARAMETER);
    }
    return !accepted;
}
