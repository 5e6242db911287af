#pragma once
// Runs a typed line through the registered command tree as the console's loop does, and gives
// back what it wrote.

#include <gtest/gtest.h>

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

// Runs `line`, which its command refuses for its words: nothing done, the usage shown, the slip
// noted as ERROR_INVALID_PARAMETER.
inline void ExpectRefusedWithUsage(const wchar_t* line, const std::wstring& usage) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(line)));
    const CommandOutcome outcome = RunCommandLine(line);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, usage);
    EXPECT_EQ(CommandLineSlip(), static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
}
