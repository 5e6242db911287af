// Script files are whatever bytes a user hands over: the console must read them in the encodings
// that Windows writes, survive odd line endings, overlong lines and stray quotes, and keep going.

#include <gtest/gtest.h>

#include <windows.h>

#include "ByteComparison.h"
#include "OrvelRunner.h"
#include "ServiceInstaller.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

const size_t kLongestLine = 4095;

// What every script run writes after its last command when the script ends with a line feed:
// one more prompt with the empty line of the final read, then the line break of the closing.
std::string EndOfScript() {
    return Prompted(L"") + kLineBreak;
}

struct ScriptCase {
    const char* what;
    std::string script;
    std::string out;
    std::string err;
};

void ExpectRuns(const ScriptCase& c) {
    SCOPED_TRACE(c.what);
    OrvelRun run = RunOrvelScript(c.script);

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual, Banner() + c.out, run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, c.err, run.err);
}

TEST(ScriptRobustnessE2E, HandlesEveryKindOfLineEnding) {
    const ScriptCase cases[] = {
        {"CR LF endings", "help lock\r\nhel\r\n",
         Prompted(L"help lock") + LockListing() + Prompted(L"hel") + RootListing() + EndOfScript(),
         UnknownCommand(L"hel")},
        {"no line feed after the last line", "hel\nhelp lock",
         Prompted(L"hel") + RootListing() + Prompted(L"help lock") + LockListing() + kLineBreak,
         UnknownCommand(L"hel")},
        {"carriage return inside a line", "help\rlock\n",
         Prompted(L"help\rlock") + RootListing() + EndOfScript(), UnknownCommand(L"help\rlock")},
        {"empty file", "", EndOfScript(), ""},
    };
    for (const ScriptCase& c : cases) {
        ExpectRuns(c);
    }
}

TEST(ScriptRobustnessE2E, ReadsEveryByteAsTheCharacterOfTheSameValue) {
    ExpectRuns({"bytes above 0x7F", "\xE9t\xE9 \x80\xFF\n",
                Prompted(L"\u00E9t\u00E9 \u0080\u00FF") + RootListing() + EndOfScript(),
                UnknownCommand(L"\u00E9t\u00E9")});
}

TEST(ScriptRobustnessE2E, GoesOnAfterALineWithNulBytes) {
    OrvelRun run = RunOrvelScript(std::string("he\0lp\nhelp lock\n", 17));

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEndWith, Prompted(L"help lock") + LockListing() + EndOfScript(), run.out);
    // The line ends, for the splitter, at its first NUL.
    EXPECT_PRED_FORMAT2(BytesEqual, UnknownCommand(L"he"), run.err);
}

TEST(ScriptRobustnessE2E, KeepsTheFirst4095CharactersOfALongLineAndDropsTheRest) {
    // Were the tail kept, cmdtree would get /a (or /a would run as a command of its own).
    const std::wstring kept = L"cmdtree" + std::wstring(kLongestLine - 7, L' ');
    const std::string longLine =
        std::string(kept.begin(), kept.end()) + "/a" + std::string(5000 - kLongestLine - 2, 'x');
    const std::wstring fullLine = L"help" + std::wstring(kLongestLine - 4, L' ');

    const ScriptCase cases[] = {
        {"5000 characters", longLine + "\nhelp lock\n",
         Prompted(kept) + kLineBreak + ExtendedTree() + kLineBreak + Prompted(L"help lock") + LockListing() +
             EndOfScript(),
         ""},
        {"exactly 4095 characters", std::string(fullLine.begin(), fullLine.end()) + "\nhelp lock\n",
         Prompted(fullLine) + RootListing() + Prompted(L"help lock") + LockListing() + EndOfScript(), ""},
    };
    for (const ScriptCase& c : cases) {
        ExpectRuns(c);
    }
}

TEST(ScriptRobustnessE2E, SplitsQuotesAndBackslashesOfScriptLines) {
    ExpectRuns({"quotes and backslashes",
                "help \"lock\n"
                "help \"lo\"ck\n"
                "help \\\\\\\\lock\n"
                "help a\\\\\"b c\"\n"
                "help \\\"lock\\\"\n"
                "help lock=\" x\"\n",
                Prompted(L"help \"lock") + LockListing() +           //
                    Prompted(L"help \"lo\"ck") + LockListing() +     //
                    Prompted(L"help \\\\\\\\lock") + RootListing() + //
                    Prompted(L"help a\\\\\"b c\"") + RootListing() + //
                    Prompted(L"help \\\"lock\\\"") + RootListing() + //
                    Prompted(L"help lock=\" x\"") + RootListing() + EndOfScript(),
                UnknownCommand(L"\\\\\\\\lock") + UnknownCommand(L"a\\b c") + UnknownCommand(L"\"lock\"") +
                    UnknownCommand(L"lock=\" x\"")});
}

TEST(ScriptRobustnessE2E, RunsNothingForLinesOfOnlySeparatorsOrQuotes) {
    ExpectRuns(
        {"separators and quotes only",
         " \t \t\n"
         "\"\" \"\"\n"
         "\"\"\"\n"
         "\"\n",
         Prompted(L" \t \t") + Prompted(L"\"\" \"\"") + Prompted(L"\"\"\"") + Prompted(L"\"") + EndOfScript(),
         ""});
}

// The encodings of one text, made here by the platform's own conversions (PowerShell 5.1's
// Out-File and Notepad's "Unicode" write UTF-16 LE with a mark, Notepad's default and PowerShell 7
// UTF-8 without one).
std::string Encoded(const std::wstring& text, UINT codePage) {
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::string Utf16LeWithMark(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// A display name with what French needs beyond Latin-1: the ligature and the typographic apostrophe.
TEST(ScriptRobustnessE2E, RunsTheSameScriptAlikeInEveryEncodingThatWindowsWrites) {
    InstalledTestService service(L"QuorvanE2EEncodings", {});
    ASSERT_TRUE(service.installed());
    const std::wstring displayName = L"Quorvan E2E c\u0153ur d\u2019\u0153uvre \u00E9t\u00E9";
    ASSERT_TRUE(ChangeServiceConfigW(service.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, displayName.c_str()));
    const std::wstring connect = L"connect " + ComputerName();
    const std::wstring script = connect + L"\r\n"
                                L"get service key_name \"" + displayName + L"\"\r\n"
                                L"get service display_name QuorvanE2EEncodings\r\n"
                                L"query status \"" + displayName + L"\"\r\n";
    // The same text as Windows-1252 bytes, written out by hand: œ is 0x9C, ’ is 0x92.
    const std::string shownName = "Quorvan E2E c\x9C" "ur d\x92\x9C" "uvre \xE9t\xE9";
    const std::string prompt = Bytes(L"Quorvan @ " + ComputerName() + L" (local) | 1 > ");
    const std::string expected =
        Banner() + Prompted(connect) + kLineBreak +                                        //
        prompt + "get service key_name \"" + shownName + "\"\r\n" +                       //
        "Key Name = QuorvanE2EEncodings\r\n\r\n" +                                        //
        prompt + "get service display_name QuorvanE2EEncodings\r\n" +                     //
        "Display Name = " + shownName + "\r\n\r\n" +                                        //
        prompt + "query status \"" + shownName + "\"\r\n\r\n" +                            //
        prompt + "\r\n" + kLineBreak;
    const struct {
        const char* what;
        std::string bytes;
    } encodings[] = {
        {"UTF-16 LE with a mark", Utf16LeWithMark(script)},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + Encoded(script, CP_UTF8)},
        {"UTF-8 without a mark", Encoded(script, CP_UTF8)},
        {"Windows-1252", Encoded(script, 1252)},
    };
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding.what);
        const OrvelRun run = RunOrvelScript(encoding.bytes);
        // The display name is no key name: query status fails as the platform says.
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
        EXPECT_PRED_FORMAT2(BytesEqual, ErrorBanner(ERROR_SERVICE_DOES_NOT_EXIST), run.err);
    }
}

// A mark that its bytes do not follow: nothing runs, and the exit code says why.
TEST(ScriptRobustnessE2E, RefusesAScriptThatItsMarkDoesNotDescribe) {
    const OrvelRun run = RunOrvelScript(std::string("\xFF\xFEh\0e\0l\0p\0\n", 11));
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_PRED_FORMAT2(BytesEqual, Banner(), run.out);
    EXPECT_NE(run.err.find(" illisible : sa marque annonce de l'UTF-16 LE, mais son nombre d'octets est impair.\r\n"),
              std::string::npos)
        << run.err;
}

} // namespace
