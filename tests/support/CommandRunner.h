#pragma once
// Runs a typed line through the registered command tree as the console's loop does, and gives
// back what it wrote.

#include <string>

#include "CommandLine.h"
#include "CommandTree.h"
#include "Memory.h"
#include "OutputCapture.h"

struct CommandOutcome {
    int result;
    std::wstring out;
    std::wstring err;
};

inline CommandOutcome RunCommandLine(const wchar_t* line) {
    RegisterCommands();
    unsigned long count = 0;
    wchar_t** words = nullptr;
    SplitCommandLine(L" \t", L"=", line, &count, &words);
    OutputCapture capture;
    const int result = ExecuteCommand(words + 1, words[0], &CommandRoot, count - 1);
    MemRelease(words);
    return {result, capture.Out(), capture.Err()};
}

// What a command's help function prints.
inline std::wstring UsageOf(COMMAND_HELP help) {
    OutputCapture capture;
    help();
    return capture.Out();
}
