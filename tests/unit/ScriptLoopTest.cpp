// The script loop fed random bytes: NUL, CR, bytes above 0x7F, quotes and backslashes, and lines
// far beyond the line buffer. It echoes each line as the line rules cut it, runs it, and reaches
// the end of the file whatever the bytes. Then the encodings a script file or redirected input
// may come in.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "CommandLineModel.h"
#include "CommandRunner.h"
#include "FakePlatform.h"
#include "Program.h"
#include "StandardStreams.h"
#include "TemporaryFile.h"

namespace {

const size_t LongestLine = 4095;

// The characters of a file without a mark, by the platform's own conversions: UTF-8 when the
// bytes are valid UTF-8 beyond ASCII, Windows-1252 otherwise.
std::wstring ReferenceText(const std::string& bytes) {
    if (bytes.empty())
        return {};
    const int count = static_cast<int>(bytes.size());
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
    const int utf8 = ascii ? 0 : ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), count, nullptr, 0);
    const UINT codePage = utf8 > 0 ? CP_UTF8 : 1252;
    std::wstring text(static_cast<size_t>(::MultiByteToWideChar(codePage, 0, bytes.data(), count, nullptr, 0)), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), count, &text[0], static_cast<int>(text.size()));
    return text;
}

// What redirected output holds of a text: its Windows-1252 bytes, each widened to one character.
std::wstring ReferenceBytes(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        char byte = 0;
        ::WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &c, 1, &byte, 1, "?", nullptr);
        shown += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    }
    return shown;
}

// The lines as the loop must read them: a line feed ends a line and takes a carriage return right
// before it along; the end of the input ends the last one; what a line holds beyond the buffer is
// dropped.
std::vector<std::wstring> ReferenceLines(const std::string& bytes) {
    const std::wstring text = ReferenceText(bytes);
    std::vector<std::wstring> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n') {
            if (!lines.back().empty() && lines.back().back() == L'\r' && text[i - 1] == L'\r')
                lines.back().pop_back();
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    for (std::wstring& line : lines)
        line = line.substr(0, LongestLine);
    return lines;
}

class RandomScript {
public:
    explicit RandomScript(unsigned seed) : m_random(seed) {}

    // Lines of random bytes, some after a command that takes any words and writes nothing, one
    // now and then far too long, ended by LF, CR LF or nothing at the very end.
    std::string Make() {
        std::string bytes;
        for (int line = Between(0, 40); line > 0; --line) {
            if (Between(0, 2) == 0)
                bytes += "control ";
            bytes += Noise(Between(0, 9) == 0 ? Between(LongestLine - 10, 2 * LongestLine) : Between(0, 30));
            bytes += Between(0, 3) == 0 ? "\r\n" : "\n";
        }
        if (Between(0, 1) == 0)
            bytes += Noise(Between(0, 10));
        return bytes;
    }

private:
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    // No letter: no word of it names a command.
    std::string Noise(int length) {
        const char bytes[] = {'\0', '\r', '\r', '\xFF', '\xE9', '\x80', '"', '\\', ' ', '\t', '=', '1'};
        std::string noise;
        for (int i = 0; i < length; ++i)
            noise += bytes[Between(0, static_cast<int>(std::size(bytes)) - 1)];
        return noise;
    }

    std::mt19937 m_random;
};

// Runs the program on `script` in script mode and gives back what it wrote.
CommandOutcome RunScriptFile(const std::string& script) {
    TemporaryFile file;
    file.Write(script);
    std::wstring path = file.path();
    wchar_t program[] = L"Orvel.exe";
    wchar_t scriptSwitch[] = L"/s";
    wchar_t* arguments[] = {program, scriptSwitch, &path[0], nullptr};
    OutputCapture capture;
    const int result = RunOrvel(3, arguments);
    return {result, capture.Out(), capture.Err()};
}

TEST(ScriptLoopTest, RandomBytesAreEchoedAsTheLinesTheyMakeAndRunToTheEnd) {
    FakePlatform fake;
    const std::wstring rootListing = RunCommandLine(L"\u00FF").out;
    // No line that these bytes make sends a code: control shows its usage.
    const std::wstring controlUsage = RunCommandLine(L"help control").out;
    const std::wstring banner = RunScriptFile("").out;
    ASSERT_EQ(banner.substr(banner.size() - std::wstring(L"Quorvan> \n\n").size()), L"Quorvan> \n\n");
    const std::wstring start = banner.substr(0, banner.size() - std::wstring(L"Quorvan> \n\n").size());
    RandomScript scripts(20260613);
    for (int round = 0; round < 40; ++round) {
        const std::string script = scripts.Make();
        std::wstring out = start;
        std::wstring err;
        for (const std::wstring& line : ReferenceLines(script)) {
            const std::wstring typed = line.substr(0, line.find(L'\0'));
            out += L"Quorvan> " + ReferenceBytes(typed) + L"\n";
            const std::vector<std::wstring> words = ReferenceSplit(typed, L" \t", L"=");
            if (words.empty())
                continue;
            if (words[0] == L"control") {
                out += controlUsage;
                continue;
            }
            out += rootListing;
            err += L"ERROR : '" + ReferenceBytes(words[0]) + L"' : unknown command.\n";
        }
        const CommandOutcome outcome = RunScriptFile(script);
        EXPECT_EQ(outcome.result, 0) << "round " << round;
        ASSERT_EQ(outcome.out, out + L"\n") << "round " << round;
        ASSERT_EQ(outcome.err, err) << "round " << round;
    }
}

std::string Utf16(const std::wstring& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : text) {
        const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// One script in each encoding that Windows writes runs as its Windows-1252 form does, the mark no
// part of its first line; a script whose mark its bytes do not follow runs nothing.
TEST(ScriptEncodingTest, EveryEncodingRunsTheSameScriptAndABrokenOneRunsNothing) {
    FakePlatform fake;
    fake.AddService(L"Coeur").displayName = L"C\u0153ur d\u2019\u00E9t\u00E9";
    const std::string windows1252 = "connect .\r\nget service key_name \"C\x9Cur d\x92\xE9t\xE9\"\r\nhelp \x80";
    const std::string utf8 = "connect .\r\nget service key_name \"C\xC5\x93ur d\xE2\x80\x99\xC3\xA9t\xC3\xA9\"\r\n"
                             "help \xE2\x82\xAC";
    const std::wstring text = L"connect .\r\nget service key_name \"C\u0153ur d\u2019\u00E9t\u00E9\"\r\nhelp \u20AC";
    const CommandOutcome expected = RunScriptFile(windows1252);
    ASSERT_NE(expected.out.find(L"Key Name = Coeur\n"), std::wstring::npos) << expected.out;
    ASSERT_NE(expected.out.find(L"Quorvan @ . | 1 > help \u0080\n"), std::wstring::npos) << expected.out;
    for (const std::string& script : {utf8, "\xEF\xBB\xBF" + utf8, Utf16(text, false), Utf16(text, true)}) {
        const CommandOutcome outcome = RunScriptFile(script);
        EXPECT_EQ(outcome.result, expected.result);
        EXPECT_EQ(outcome.out, expected.out);
        EXPECT_EQ(outcome.err, expected.err);
    }
    const struct {
        std::string script;
        const wchar_t* reason;
    } broken[] = {
        {Utf16(L"help", false) + "x", L"sa marque annonce de l'UTF-16 LE, mais son nombre d'octets est impair."},
        {Utf16(L"help", true) + "x", L"sa marque annonce de l'UTF-16 BE, mais son nombre d'octets est impair."},
        {"\xEF\xBB\xBFhelp \xE9t\xE9", L"sa marque annonce de l'UTF-8, mais l'octet n\u00B0 9 n'en est pas."},
    };
    const std::wstring banner = RunScriptFile("").out;
    for (const auto& c : broken) {
        const CommandOutcome outcome = RunScriptFile(c.script);
        EXPECT_EQ(outcome.result, static_cast<int>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_EQ(banner.find(outcome.out), 0u) << "nothing runs: " << outcome.out;
        EXPECT_NE(outcome.err.find(L"' illisible : " + std::wstring(c.reason) + L"\n"), std::wstring::npos)
            << outcome.err;
    }
}

// Redirected input cannot be read to its end before it is used: a mark decides for the whole
// stream, and without one each line is decided alone; a line too long to decode at once is
// decoded in parts that never cut a character.
TEST(ScriptEncodingTest, RedirectedInputIsDecodedLineByLine) {
    const std::string partCut = std::string(65535, 'x') + "\xC3\xA9\nok";
    const struct {
        const char* what;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"one line of each", "caf\xC3\xA9\ncaf\xE9\n\xC3\xA9\x80\n", L"caf\u00E9\ncaf\u00E9\n\u00C3\u00A9\u20AC\n"},
        {"a UTF-8 mark", "\xEF\xBB\xBF\xC3\xA9\r\n\xE9", L"\u00E9\r\n\uFFFD"},
        {"UTF-16 LE", Utf16(L"\u0153\r\n\U0001F600", false), L"\u0153\r\n\U0001F600"},
        {"UTF-16 BE", Utf16(L"\u0153\n\u2019\n", true), L"\u0153\n\u2019\n"},
        {"UTF-16 and an odd last byte", Utf16(L"a\n", false) + "b", L"a\n\uFFFD"},
        {"no more than a mark's first byte", "\xEFx\n", L"\u00EFx\n"},
        {"a character across two parts", partCut, std::wstring(65535, L'x') + L"\u00E9\nok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryFile file;
        file.Write(c.bytes);
        FILE* stream = file.OpenToRead();
        ASSERT_NE(stream, nullptr);
        StreamTextInput input(stream);
        std::wstring text;
        for (int character = input.Get(); character != TextInput::End; character = input.Get())
            text += static_cast<wchar_t>(character);
        std::fclose(stream);
        EXPECT_EQ(text, c.text);
    }
}

} // namespace
