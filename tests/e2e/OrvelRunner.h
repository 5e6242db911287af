#pragma once
// Runs Orvel.exe, found next to the test program, as a child without a console (as in CI): its
// standard input is fed from a string and closed, and both output streams are collected as raw
// bytes, so that tests compare exactly what the program wrote.

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HandleGuard.h"

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

// What `Orvel help <path>` writes after its banner, the usage text of that command, as the tests
// write texts (see ShellText.h). A command shows the same text for words it cannot take.
std::wstring UsageText(const std::vector<std::wstring>& path);

// Writes `script` (bytes, as a script file holds them) to a temporary file, runs Orvel.exe with
// /s and that file, and deletes the file.
OrvelRun RunOrvelScript(const std::string& script, const std::string& input = std::string());

// Orvel.exe in interactive mode, fed line by line while it runs, so that a test can look at the
// process between commands.
class OrvelSession {
public:
    OrvelSession();
    ~OrvelSession();
    OrvelSession(const OrvelSession&) = delete;
    OrvelSession& operator=(const OrvelSession&) = delete;

    bool started() const { return static_cast<bool>(m_process); }
    HANDLE process() const { return m_process.get(); }
    void Send(const std::string& lines);
    // Waits until the program shows its prompt for the `count`-th time (counted from its start),
    // that is until it has run every command before that prompt and waits for the next one.
    // False when that takes longer than `timeoutMs`.
    bool WaitForPrompt(size_t count, DWORD timeoutMs);
    // Closes the input, which ends the program as exit does, and gives back all it wrote.
    OrvelRun Finish();

private:
    size_t PromptsShown();

    UniqueKernelHandle m_input;
    UniqueKernelHandle m_outputRead;
    UniqueKernelHandle m_errorRead;
    UniqueKernelHandle m_process;
    std::mutex m_lock;
    OrvelRun m_run;
    std::thread m_outReader;
    std::thread m_errReader;
};
