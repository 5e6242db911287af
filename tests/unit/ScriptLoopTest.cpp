// The script loop fed random bytes: NUL, CR, bytes above 0x7F, quotes and backslashes, and lines
// far beyond the line buffer. It echoes each line as the line rules cut it, runs it, and reaches
// the end of the file whatever the bytes.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "CommandLineModel.h"
#include "CommandRunner.h"
#include "FakePlatform.h"
#include "Program.h"
#include "TemporaryFile.h"

namespace {

const size_t LongestLine = 4095;

// The lines as the loop must read them: a line feed ends a line and takes a carriage return right
// before it along; the end of the input ends the last one; what a line holds beyond the buffer is
// dropped.
std::vector<std::wstring> ReferenceLines(const std::string& bytes) {
    std::vector<std::wstring> lines(1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            if (!lines.back().empty() && lines.back().back() == L'\r' && bytes[i - 1] == '\r')
                lines.back().pop_back();
            lines.emplace_back();
        } else {
            lines.back() += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
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
            out += L"Quorvan> " + typed + L"\n";
            const std::vector<std::wstring> words = ReferenceSplit(typed, L" \t", L"=");
            if (words.empty() || words[0] == L"control")
                continue;
            out += rootListing;
            err += L"ERROR : '" + words[0] + L"' : unknown command.\n";
        }
        const CommandOutcome outcome = RunScriptFile(script);
        EXPECT_EQ(outcome.result, 0) << "round " << round;
        ASSERT_EQ(outcome.out, out + L"\n") << "round " << round;
        ASSERT_EQ(outcome.err, err) << "round " << round;
    }
}

} // namespace
