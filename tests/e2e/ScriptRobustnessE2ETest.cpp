// Script files are whatever bytes a user hands over: the console must read every byte as one
// character, survive odd line endings, overlong lines and stray quotes, and keep going.

#include <gtest/gtest.h>

#include "ByteComparison.h"
#include "OrvelRunner.h"
#include "ShellText.h"

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

} // namespace
