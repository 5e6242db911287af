#pragma once
// Files and command lines for the end-to-end tests: where the programs under test are, temporary
// files that disappear with the test, and quoting that the runtime of the child splits back into
// exactly the arguments given.

#include <string>
#include <vector>

#include "TemporaryFile.h"

// The folder of the running test program, where the build puts Orvel.exe and the test service.
std::wstring DirectoryOfThisProgram();

std::wstring QuoteArgument(const std::wstring& argument);
// The program path and the arguments, each quoted as needed and separated by one space.
std::wstring JoinCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);

// This computer's NetBIOS name, as the console shows it in the prompt.
std::wstring ComputerName();

// The handles open in `process` (this one, or a child opened with PROCESS_DUP_HANDLE) of the kinds
// that the programs here open and must close again: registry keys, tokens, processes, and files
// and pipes (a service manager connection is a pipe). The events and threads that the runtime
// keeps for itself when it sees fit are not counted. Counted one by one, since Wine's
// GetProcessHandleCount always reports 0.
unsigned long OpenHandleCount(void* process);
