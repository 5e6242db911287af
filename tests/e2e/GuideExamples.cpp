// Checks the examples of the user guide against runs of Orvel.exe or, with --write, puts what the
// runs printed in their place. An example is a comment line followed by a fenced text block:
//
//   <!-- exemple: ARGUMENTS -->          Orvel.exe run with these arguments
//   <!-- script: LINE | LINE | ... -->   Orvel.exe /s on a file of these lines
//
// with, between the two, an optional <!-- entrée: LINE | LINE | ... --> for the standard input.
// The block shows the command line, then both output streams in the order written, without the
// start banner, read as Windows-1252 (a control character other than tab and line feed as its
// picture, such as ␌ for U+000C), then, when the exit code is not 0, that code as cmd echoes it.
// The computer's name, typed and printed, reads MONPC. The examples run in the order of the guide
// against a few demonstration services installed for the run; give them a Wine prefix of their
// own, so that nothing else changes what they print.
//
//   GuideExamples GUIDE [--write]

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "OrvelRunner.h"
#include "ServiceInstaller.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

std::wstring g_guidePath;
bool g_write = false;

const std::wstring kComputerPlaceholder = L"MONPC";
const std::string kBlockStart = "```text";
const std::string kBlockEnd = "```";

std::wstring Widen(const std::string& text, UINT codePage) {
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool IsWordCharacter(wchar_t c) { return std::iswalnum(c) || c == L'_' || c == L'-'; }

// Whole words only, so that a short computer name inside another word is left alone.
std::wstring ReplaceWord(std::wstring text, const std::wstring& word, const std::wstring& by) {
    for (size_t at = text.find(word); at != std::wstring::npos; at = text.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at == 0 || !IsWordCharacter(text[at - 1])) && (end == text.size() || !IsWordCharacter(text[end]))) {
            text.replace(at, word.size(), by);
            at += by.size() - 1;
        }
    }
    return text;
}

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L' ');
    return first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

std::vector<std::wstring> SplitAtBars(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t bar = text.find(L'|'); bar != std::wstring::npos; start = bar + 1, bar = text.find(L'|', start))
        lines.push_back(Trimmed(text.substr(start, bar - start)));
    lines.push_back(Trimmed(text.substr(start)));
    return lines;
}

// Words separated by blanks; double quotes keep blanks inside a word and are dropped.
std::vector<std::wstring> SplitArguments(const std::wstring& text) {
    std::vector<std::wstring> words;
    std::wstring word;
    bool inWord = false;
    bool quoted = false;
    for (wchar_t c : text) {
        if (c == L' ' && !quoted) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == L'"')
            quoted = !quoted;
        else
            word += c;
    }
    if (inWord)
        words.push_back(word);
    return words;
}

// The bytes of text lines as a script file or a keyboard holds them: one byte a character.
std::string LinesAsBytes(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines)
        text += line + L"\n";
    return Bytes(text);
}

// The program's bytes as a Windows-1252 console shows them, with plain line feeds.
std::wstring Displayed(const std::string& bytes) {
    std::wstring shown;
    for (wchar_t c : ReplaceAll(Widen(bytes, 1252), L"\r\n", L"\n")) {
        const bool control = c < 0x20 && c != L'\t' && c != L'\n';
        shown += control ? static_cast<wchar_t>(0x2400 + c) : c;
    }
    return shown;
}

struct Example {
    std::string marker;
    bool script = false;
    std::wstring command;
    std::vector<std::wstring> input;
    size_t firstLine = 0; // of the block's content
    size_t endLine = 0;   // the closing fence
};

bool CommentPayload(const std::string& line, const std::string& keyword, std::wstring& payload) {
    const std::string start = "<!-- " + keyword + ": ";
    const std::string end = " -->";
    if (line.size() < start.size() + end.size() || line.compare(0, start.size(), start) != 0 ||
        line.compare(line.size() - end.size(), end.size(), end) != 0)
        return false;
    payload = Widen(line.substr(start.size(), line.size() - start.size() - end.size()), CP_UTF8);
    return true;
}

// Reads the example that starts at `line`, if one does; a marker without its block fails the run.
bool ReadExample(const std::vector<std::string>& lines, size_t line, Example& example) {
    example.marker = lines[line];
    example.script = CommentPayload(lines[line], "script", example.command);
    if (!example.script && !CommentPayload(lines[line], "exemple", example.command))
        return false;
    std::wstring input;
    if (line + 1 < lines.size() && CommentPayload(lines[line + 1], "entrée", input)) {
        example.input = SplitAtBars(input);
        ++line;
    }
    ++line;
    if (line >= lines.size() || lines[line] != kBlockStart) {
        ADD_FAILURE() << example.marker << " is not followed by a " << kBlockStart << " block";
        return false;
    }
    example.firstLine = line + 1;
    for (example.endLine = example.firstLine; example.endLine < lines.size(); ++example.endLine) {
        if (lines[example.endLine] == kBlockEnd)
            return true;
    }
    ADD_FAILURE() << "the block of " << example.marker << " does not end";
    return false;
}

std::vector<Example> FindExamples(const std::vector<std::string>& lines) {
    std::vector<Example> examples;
    for (size_t line = 0; line < lines.size(); ++line) {
        Example example;
        if (ReadExample(lines, line, example)) {
            examples.push_back(example);
            line = example.endLine;
        }
    }
    return examples;
}

OrvelRun RunExample(const Example& example) {
    const std::wstring command = ReplaceAll(example.command, kComputerPlaceholder, ComputerName());
    const std::string input = example.input.empty() ? std::string() : LinesAsBytes(example.input);
    if (!example.script)
        return RunOrvelCombined(SplitArguments(command), input);
    TemporaryFile script;
    script.Write(LinesAsBytes(SplitAtBars(command)));
    return RunOrvelCombined({L"/s", script.path()}, input);
}

std::string Render(const Example& example, const OrvelRun& run) {
    std::string output = run.out;
    const std::string banner = Banner();
    if (output.compare(0, banner.size(), banner) == 0)
        output.erase(0, banner.size());
    else
        ADD_FAILURE() << example.marker << " printed no start banner";
    std::wstring block = L"C:\\> Orvel.exe " + (example.script ? L"/s commandes.txt" : example.command) + L"\n" +
                         ReplaceWord(Displayed(output), ComputerName(), kComputerPlaceholder);
    if (block.back() != L'\n')
        block += L'\n';
    if (run.exitCode != 0)
        block += L"C:\\> echo %ERRORLEVEL%\n" + std::to_wstring(static_cast<LONG>(run.exitCode)) + L"\n";
    return Utf8(block);
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return bytes;
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, read);
    std::fclose(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start))
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, size_t first, size_t end) {
    std::string text;
    for (size_t line = first; line < end; ++line)
        text += lines[line] + "\n";
    return text;
}

// The services the examples act on. QuorvanDemo and QuorvanDemoAuto are never started, so their
// binary path can be one that reads the same on every machine; QuorvanDemoRun runs the test service.
class DemoServices {
public:
    DemoServices() {
        const std::wstring binary = L"C:\\Program Files\\Quorvan\\QuorvanDemo.exe";
        SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(L"Service de démonstration de la console Orvel.")};
        m_ready = m_demo.installed() && m_auto.installed() && m_run.installed() &&
                  ChangeServiceConfigW(m_demo.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                       binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                       L"Service de démonstration Quorvan") &&
                  ChangeServiceConfig2W(m_demo.handle(), SERVICE_CONFIG_DESCRIPTION, &description) &&
                  ChangeServiceConfigW(m_auto.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                       binary.c_str(), L"QuorvanDemoGroup", nullptr, nullptr, nullptr, nullptr,
                                       nullptr);
    }
    bool ready() const { return m_ready; }

private:
    InstalledTestService m_demo{L"QuorvanDemo", {}};
    InstalledTestService m_auto{L"QuorvanDemoAuto", {}, SERVICE_AUTO_START};
    InstalledTestService m_run{L"QuorvanDemoRun", {}};
    bool m_ready = false;
};

// The services that the listings show running. A Wine session starts the RPC service only when a
// program first needs it, which a slow run may reach after the listings, and it starts the others
// while the first programs already run; started and waited for here, they read the same every run.
const wchar_t* const kServicesShownRunning[] = {L"Eventlog", L"PlugPlay", L"RpcSs", L"Winedevice1",
                                                L"Winedevice2"};

// The name of the first service that cannot be brought to run, or an empty text.
std::wstring StartServicesShownRunning() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const wchar_t* name : kServicesShownRunning) {
        const UniqueServiceHandle service(
            OpenServiceW(manager.get(), name, SERVICE_START | SERVICE_QUERY_STATUS));
        SERVICE_STATUS_PROCESS status;
        if (!service ||
            (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) ||
            !WaitForServiceState(service.get(), SERVICE_RUNNING, 30000, status))
            return name;
    }
    return std::wstring();
}

TEST(GuideExamples, EachBlockHoldsWhatItsRunPrints) {
    std::vector<std::string> lines = SplitLines(ReadFileBytes(g_guidePath));
    const std::vector<Example> examples = FindExamples(lines);
    ASSERT_FALSE(examples.empty()) << "no example in the guide";
    DemoServices demo;
    ASSERT_TRUE(demo.ready()) << "the demonstration services cannot be installed, error " << GetLastError();
    const std::wstring notRunning = StartServicesShownRunning();
    ASSERT_TRUE(notRunning.empty()) << Utf8(notRunning) << " cannot be started, error " << GetLastError();

    std::vector<std::string> rendered;
    for (const Example& example : examples)
        rendered.push_back(Render(example, RunExample(example)));
    for (size_t i = examples.size(); i-- > 0;) {
        const Example& example = examples[i];
        if (!g_write) {
            EXPECT_EQ(JoinLines(lines, example.firstLine, example.endLine), rendered[i]) << "in " << example.marker;
            continue;
        }
        std::vector<std::string> block = SplitLines(rendered[i]);
        block.pop_back(); // the empty piece after the last line feed
        lines.erase(lines.begin() + example.firstLine, lines.begin() + example.endLine);
        lines.insert(lines.begin() + example.firstLine, block.begin(), block.end());
    }
    if (g_write) {
        std::string text = JoinLines(lines, 0, lines.size());
        text.pop_back(); // SplitLines gave the text after the last line feed as a last line
        EXPECT_TRUE(WriteFileBytes(g_guidePath, text)) << "cannot write the guide";
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2 || argc > 3 || (argc == 3 && std::wstring(argv[2]) != L"--write")) {
        std::fputs("usage: GuideExamples GUIDE [--write]\n", stderr);
        return 2;
    }
    g_guidePath = argv[1];
    g_write = argc == 3;
    return RUN_ALL_TESTS();
}
