#include "OrvelRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ShellText.h"
#include "TestEnvironment.h"
#include "HandleGuard.h"

namespace {

// Generous: the first program started in a fresh Wine prefix may take several seconds.
const DWORD kRunTimeoutMs = 60000;

struct Pipe {
    UniqueKernelHandle read;
    UniqueKernelHandle write;
};

// The child's end is inheritable, ours is not, so the child's exit closes its streams for good.
Pipe CreatePipeWithInheritableEnd(bool childReads) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0)) {
        ADD_FAILURE() << "CreatePipe failed, error " << GetLastError();
        return Pipe();
    }
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return Pipe{UniqueKernelHandle(read), UniqueKernelHandle(write)};
}

void ReadAll(HANDLE pipe, std::string& bytes) {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
}

// The same for a reader whose bytes another thread looks at while they come in.
void ReadAllGuarded(HANDLE pipe, std::string& bytes, std::mutex& lock) {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        const std::lock_guard<std::mutex> guard(lock);
        bytes.append(buffer, read);
    }
}

// A child that exits without reading its input breaks the pipe: nothing to report then.
void WriteAllAndClose(UniqueKernelHandle pipe, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

UniqueKernelHandle StartDetached(std::wstring commandLine, const std::wstring& program, HANDLE input, HANDLE output,
                           HANDLE error) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process = {};
    // DETACHED_PROCESS: no console at all, so nothing the program writes can bypass the pipes.
    // Under load, Wine now and then fails a start with ERROR_INTERNAL_ERROR before the program
    // runs at all: that is tried again, a few times, and is no result of the program's.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 3; ++attempt) {
        started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                 nullptr, nullptr, &startup, &process);
        if (started || GetLastError() != ERROR_INTERNAL_ERROR)
            break;
    }
    if (!started) {
        ADD_FAILURE() << "cannot start " << testing::PrintToString(program) << ", error " << GetLastError();
        return UniqueKernelHandle();
    }
    CloseHandle(process.hThread);
    return UniqueKernelHandle(process.hProcess);
}

DWORD WaitForExitCode(HANDLE process) {
    if (WaitForSingleObject(process, kRunTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, ERROR_TIMEOUT);
        WaitForSingleObject(process, INFINITE);
        ADD_FAILURE() << "Orvel.exe did not end within " << kRunTimeoutMs / 1000 << " s and was ended";
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    return exitCode;
}

// With `combined`, the error stream shares the output's pipe and nothing is read separately.
OrvelRun Run(const std::vector<std::wstring>& arguments, const std::string& input, bool combined) {
    const std::wstring program = DirectoryOfThisProgram() + L"\\Orvel.exe";
    Pipe in = CreatePipeWithInheritableEnd(true);
    Pipe out = CreatePipeWithInheritableEnd(false);
    Pipe err = combined ? Pipe() : CreatePipeWithInheritableEnd(false);
    OrvelRun run;
    UniqueKernelHandle process = StartDetached(JoinCommandLine(program, arguments), program, in.read.get(),
                                         out.write.get(), combined ? out.write.get() : err.write.get());
    in.read.reset();
    out.write.reset();
    err.write.reset();
    if (!process) {
        return run;
    }
    std::thread writer(WriteAllAndClose, std::move(in.write), std::cref(input));
    std::thread outReader(ReadAll, out.read.get(), std::ref(run.out));
    std::thread errReader;
    if (!combined) {
        errReader = std::thread(ReadAll, err.read.get(), std::ref(run.err));
    }
    run.exitCode = WaitForExitCode(process.get());
    writer.join();
    outReader.join();
    if (errReader.joinable()) {
        errReader.join();
    }
    return run;
}

} // namespace

OrvelRun RunOrvel(const std::vector<std::wstring>& arguments, const std::string& input) {
    return Run(arguments, input, false);
}

OrvelRun RunOrvelCombined(const std::vector<std::wstring>& arguments, const std::string& input) {
    return Run(arguments, input, true);
}

OrvelRun RunOrvelScript(const std::string& script, const std::string& input) {
    TemporaryFile file;
    file.Write(script);
    return RunOrvel({L"/s", file.path()}, input);
}

OrvelRun RunOrvelBatch(const std::vector<std::wstring>& command, const std::wstring& rights) {
    std::vector<std::wstring> arguments = {L"connect:," + rights};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return RunOrvel(arguments);
}

// Each byte read back as the character of the same value, and each CR LF as a line feed; a text
// that Bytes would not give back byte for byte fails the test.
std::wstring UsageText(const std::vector<std::wstring>& path) {
    std::vector<std::wstring> arguments = {L"help"};
    arguments.insert(arguments.end(), path.begin(), path.end());
    const OrvelRun run = RunOrvel(arguments);
    const std::string banner = Banner();
    EXPECT_EQ(run.out.compare(0, banner.size(), banner), 0) << "the banner comes first";
    const std::string bytes = run.out.substr(std::min(banner.size(), run.out.size()));
    std::wstring text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes.compare(i, kLineBreak.size(), kLineBreak) == 0)
            i += kLineBreak.size() - 1;
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    }
    EXPECT_EQ(Bytes(text), bytes);
    EXPECT_NE(text.find(L"\nUTILISATION :\n"), std::wstring::npos) << "a usage text follows it";
    return text;
}

OrvelSession::OrvelSession() {
    const std::wstring program = DirectoryOfThisProgram() + L"\\Orvel.exe";
    Pipe in = CreatePipeWithInheritableEnd(true);
    Pipe out = CreatePipeWithInheritableEnd(false);
    Pipe err = CreatePipeWithInheritableEnd(false);
    m_process = StartDetached(JoinCommandLine(program, {}), program, in.read.get(), out.write.get(), err.write.get());
    m_input = std::move(in.write);
    m_outputRead = std::move(out.read);
    m_errorRead = std::move(err.read);
    if (!m_process)
        return;
    m_outReader = std::thread(ReadAllGuarded, m_outputRead.get(), std::ref(m_run.out), std::ref(m_lock));
    m_errReader = std::thread(ReadAllGuarded, m_errorRead.get(), std::ref(m_run.err), std::ref(m_lock));
}

OrvelSession::~OrvelSession() {
    if (m_outReader.joinable())
        Finish();
}

void OrvelSession::Send(const std::string& lines) {
    DWORD written = 0;
    if (!WriteFile(m_input.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) ||
        written != lines.size())
        ADD_FAILURE() << "cannot write to Orvel.exe, error " << GetLastError();
}

// Every prompt starts with the product's short name followed by "> " or " @ "; no other text of
// the console has either.
size_t OrvelSession::PromptsShown() {
    const std::lock_guard<std::mutex> guard(m_lock);
    size_t prompts = 0;
    for (const char* form : {"Quorvan> ", "Quorvan @ "})
        for (size_t at = m_run.out.find(form); at != std::string::npos; at = m_run.out.find(form, at + 1))
            ++prompts;
    return prompts;
}

bool OrvelSession::WaitForPrompt(size_t count, DWORD timeoutMs) {
    const DWORD pollMs = 20;
    for (DWORD waited = 0; PromptsShown() < count; waited += pollMs) {
        if (waited >= timeoutMs)
            return false;
        Sleep(pollMs);
    }
    return true;
}

OrvelRun OrvelSession::Finish() {
    m_input.reset();
    if (m_process)
        m_run.exitCode = WaitForExitCode(m_process.get());
    if (m_outReader.joinable())
        m_outReader.join();
    if (m_errReader.joinable())
        m_errReader.join();
    return m_run;
}
