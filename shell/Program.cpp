// Start-up, the choice of mode, and the command loop of the interactive and script modes.

#include "Program.h"

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <memory>
#include <string>

#include "CommandLine.h"
#include "CommandTree.h"
#include "Completion.h"
#include "ConfigCommands.h"
#include "Connections.h"
#include "Console.h"
#include "Memory.h"
#include "Platform.h"
#include "QuorvanException.h"
#include "ServiceSettings.h"
#include "StandardStreams.h"
#include "StringFunctions.h"

namespace {

const unsigned int LineCapacity = 4096;
const wchar_t* const HelpSwitches[] = {L"/?", L"-?", L"--?", L"/h", L"-h", L"--h"};
const wchar_t* const ExitWords[] = {L"exit", L"quit", L"bye"};

bool StartsWithNoCase(const wchar_t* argument, const wchar_t* prefix) {
    return StrNIComp(argument, prefix, StrLen(prefix)) == 0;
}

bool IsExitWord(const wchar_t* word) {
    for (const wchar_t* exitWord : ExitWords)
        if (StrIComp(word, exitWord) == 0)
            return true;
    return false;
}

// " @ machine (local) | rights " and, when the database is locked, the lock marker; for a lost
// connection its marker instead, and nothing is asked of its machine.
void ShowConnectionInPrompt(CSvcCtrlMgr* connection) {
    ServicesManagement::_SCM_PROPERTIES properties;
    connection->GetProperties(&properties);
    const int isLocal = connection->IsLocal();
    UpdateConsoleTitle(ConnectedTitle(properties.szMachineName, isLocal), 0);
    std::wcout << L" @ " << properties.szMachineName << (isLocal ? L" (local)" : L"") << L" | "
               << properties.dwDesiredAccess << L' ';
    switch (ReadConnectionState(connection)) {
    case ConnectionState::Locked:
        UpdateConsoleTitle(L"Verrouillé", 1);
        std::wcout << L'\f' << L' ';
        break;
    case ConnectionState::Lost:
        UpdateConsoleTitle(L"Connection perdue", 1);
        std::wcout << LostConnectionMarker(connection) << L' ';
        break;
    case ConnectionState::Unlocked:
    case ConnectionState::Unknown:
        break;
    }
}

// What the prompt needs to read is no command's failure: it leaves the last-error value alone.
void ShowPrompt() {
    LastErrorKeeper keep;
    std::wcout << L"Quorvan";
    if (CSvcCtrlMgr* connection = GetConnection(ActiveConnectionNumber()))
        ShowConnectionInPrompt(connection);
    else
        UpdateConsoleTitle(L"Non connecté", 0);
    std::wcout << L"> " << std::flush;
}

// Shows the command's failure, if any, and starts the next command with a clean value. On a
// console the banner also says what the code means; redirected, it stays as scripts read it.
void ReportLastError() {
    const DWORD code = ::GetLastError();
    if (code != 0) {
        const wchar_t* rule = L"============================================";
        std::wcerr << L'\n' << rule << L'\n' << L"| Error, GetLastError() = " << code << L'\n';
        if (ConsoleBehind(STD_ERROR_HANDLE)) {
            const SimpleString meaning = SystemMessageLine(code);
            if (meaning.Length() != 0)
                std::wcerr << L"| " << meaning << L'\n';
        }
        std::wcerr << rule << L'\n' << std::endl;
    }
    ::SetLastError(0);
}

// Splits one line and runs it; returns false when it asks to leave.
bool RunLine(const wchar_t* line) {
    unsigned long count = 0;
    wchar_t** words = nullptr;
    SplitCommandLine(L" \t", L"=", line, &count, &words);
    bool goOn = true;
    if (count != 0) {
        if (IsExitWord(words[0])) {
            goOn = false;
        } else {
            ExecuteCommand(words + 1, words[0], &CommandRoot, count - 1);
            NoteCommandEnd();
            ReportLastError();
        }
    }
    MemRelease(words);
    return goOn;
}

// The end of the input ends the loop as `exit` does, for the keyboard as for a script. On a console
// Ctrl+C ends the pending read too, while the control handler closes the connections beside the
// loop: closing them is exclusive (Connections.h).
int RunLoop(TextInput& input, bool echo) {
    static wchar_t line[LineCapacity];
    LineReader reader(input);
    bool running = true;
    while (running && !reader.AtEnd()) {
        ShowPrompt();
        // Tab completes the command line only, never an answer that a command asks for.
        LineCompletion completion;
        input.CompleteWith(&completion);
        reader.ReadLine(line, LineCapacity);
        input.CompleteWith(nullptr);
        // A password given on a script line is no output.
        if (echo)
            std::wcout << WithPasswordsHidden(line) << L'\n';
        running = RunLine(line);
    }
    CloseAllConnections();
    return 0;
}

// Every byte of the file, read before any command runs.
std::string ReadWholeFile(FILE* file) {
    std::string bytes;
    char block[16384];
    for (size_t read; (read = std::fread(block, 1, sizeof block, file)) != 0;)
        bytes.append(block, read);
    return bytes;
}

// The script's text, its encoding decided once for the whole file. A file whose mark announces an
// encoding that its bytes do not follow is refused before anything runs: run half-read, its
// commands would do other things than the ones written.
bool DecodeScript(const wchar_t* path, const std::string& bytes, std::wstring& text) {
    const ByteOrderMark mark = FindByteOrderMark(bytes.data(), bytes.size());
    const TextEncoding encoding =
        mark.length != 0 ? mark.encoding : EncodingWithoutMark(bytes.data(), bytes.size());
    const size_t invalid = DecodeText(encoding, bytes.data() + mark.length, bytes.size() - mark.length, text);
    if (invalid == std::string::npos)
        return true;
    std::wcerr << L"Fichier '" << path << L"' illisible : sa marque annonce de l'" << EncodingName(encoding);
    if (encoding == TextEncoding::Utf8)
        std::wcerr << L", mais l'octet n\u00B0 " << mark.length + invalid + 1 << L" n'en est pas." << std::endl;
    else
        std::wcerr << L", mais son nombre d'octets est impair." << std::endl;
    return false;
}

// set configex reads its answers from the standard input, through one reader for the whole run.
int RunLoopAnswering(TextInput& input, TextInput& answers, bool echo) {
    SetConfigAnswerInput(&answers);
    const int code = RunLoop(input, echo);
    SetConfigAnswerInput(nullptr);
    return code;
}

int RunInteractive() {
    const std::unique_ptr<TextInput> input = OpenStandardInput();
    return RunLoopAnswering(*input, *input, false);
}

int RunScript(const wchar_t* path) {
    FILE* script = _wfopen(path, L"rb");
    if (!script) {
        std::wcerr << L"Fichier '" << path << L"' inexistant." << std::endl;
        return -1;
    }
    const std::string bytes = ReadWholeFile(script);
    std::fclose(script);
    std::wstring text;
    if (!DecodeScript(path, bytes, text))
        return ERROR_NO_UNICODE_TRANSLATION;
    TextBufferInput lines(std::move(text));
    const std::unique_ptr<TextInput> answers = OpenStandardInput();
    return RunLoopAnswering(lines, *answers, true);
}

int RunHelp(int argc, wchar_t** argv) {
    ShowCommandHelp(argv + 3, argv[2], &CommandRoot, static_cast<unsigned long>(argc > 2 ? argc - 3 : 0));
    return 0;
}

// "connect:machine,rights" names the machine (text up to the first comma) and the rights
// (decimal; 1 when there is no comma).
struct BatchConnection {
    wchar_t* machineName = nullptr;
    unsigned long desiredAccess = SC_MANAGER_CONNECT;
    bool given = false;

    explicit BatchConnection(const wchar_t* argument) {
        const wchar_t prefix[] = L"connect:";
        if (StrNIComp(argument, prefix, StrLen(prefix)) != 0)
            return;
        given = true;
        const wchar_t* name = std::wcschr(argument, L':') + 1;
        if (const wchar_t* comma = std::wcschr(name, L',')) {
            machineName = StrNDup(name, static_cast<unsigned int>(comma - name), 0, 0);
            desiredAccess = static_cast<unsigned long>(std::wcstol(comma + 1, nullptr, 10));
        } else {
            machineName = StrDup(name);
        }
    }
    ~BatchConnection() { MemRelease(machineName); }
    BatchConnection(const BatchConnection&) = delete;
    BatchConnection& operator=(const BatchConnection&) = delete;
};

int RunBatch(int argc, wchar_t** argv) {
    const BatchConnection connection(argv[1]);
    if (!OpenConnection(connection.machineName, connection.desiredAccess))
        return static_cast<int>(::GetLastError());
    UpdateConsoleTitle(ConnectedTitle(connection.machineName, GetConnection(ActiveConnectionNumber())->IsLocal()), 0);
    const int first = connection.given ? 2 : 1;
    ExecuteCommand(argv + first + 1, argv[first], &CommandRoot, static_cast<unsigned long>(argc > first ? argc - first - 1 : 0));
    NoteCommandEnd();
    // A command line that ran nothing is a failure too, for the script that reads the exit code.
    const DWORD failure = ::GetLastError();
    const int code = static_cast<int>(failure != ERROR_SUCCESS ? failure : CommandLineSlip());
    CloseAllConnections();
    return code;
}

} // namespace

int RunOrvel(int argc, wchar_t** argv) {
    ::SetLastError(0);
    {
        LastErrorKeeper keep;
        Os().SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
    }
    UpdateConsoleTitle(L"", 0);
    PrintBanner();
    RegisterCommands();

    if (argc < 2)
        return RunInteractive();
    if (argc >= 3 && StrIComp(argv[1], L"/s") == 0)
        return RunScript(argv[2]);
    for (const wchar_t* helpSwitch : HelpSwitches) {
        if (StartsWithNoCase(argv[1], helpSwitch)) {
            PrintBanner();
            std::wcout << std::endl;
            return 0;
        }
    }
    if (StartsWithNoCase(argv[1], L"help"))
        return RunHelp(argc, argv);
    return RunBatch(argc, argv);
}
