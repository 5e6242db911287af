#pragma once
// Runs Orvel.exe, found next to the test program, as a child without a console (as in CI): its
// standard input is fed from a string and closed, and both output streams are collected as raw
// bytes, so that tests compare exactly what the program wrote.

#include <windows.h>

#include <string>
#include <vector>

struct OrvelRun {
    // The full 32-bit code from GetExitCodeProcess (Wine would keep only 8 bits of it for Linux).
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

// Runs Orvel.exe with `arguments`, each reaching the program as one argument whatever it holds.
// A run that does not end in time is ended and fails the current test.
OrvelRun RunOrvel(const std::vector<std::wstring>& arguments, const std::string& input = std::string());

// As RunOrvel, with both output streams on one pipe: `out` holds all the program wrote, in the
// order in which it reached that pipe (as a console shows it), and `err` stays empty.
OrvelRun RunOrvelCombined(const std::vector<std::wstring>& arguments, const std::string& input = std::string());

// Runs one command in batch mode, connected to this machine with `rights`.
OrvelRun RunOrvelBatch(const std::vector<std::wstring>& command, const std::wstring& rights = L"5");

// Writes `script` (bytes, as a script file holds them) to a temporary file, runs Orvel.exe with
// /s and that file, and deletes the file.
OrvelRun RunOrvelScript(const std::string& script, const std::string& input = std::string());
