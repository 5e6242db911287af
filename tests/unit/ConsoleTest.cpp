#include <gtest/gtest.h>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Console.h"
#include "FakePlatform.h"
#include "OutputCapture.h"
#include "Program.h"
#include "StandardStreams.h"

namespace {

class ConsoleTest : public ::testing::Test {
protected:
    FakePlatform fake;
};

TEST_F(ConsoleTest, TitleIsTheProductStringOrABaseWithTheText) {
    fake.outputIsConsole = true;
    UpdateConsoleTitle(L"", 0);
    EXPECT_EQ(fake.title, L"Quorvan version 0.3.4d");
    UpdateConsoleTitle(L"Connecté sur SRV", 0);
    EXPECT_EQ(fake.title, L"Quorvan version 0.3.4d - Connecté sur SRV");
    UpdateConsoleTitle(L"Verrouillé", 1);
    EXPECT_EQ(fake.title, L"Quorvan version 0.3.4d - Connecté sur SRV - Verrouillé");
}

TEST_F(ConsoleTest, TitleWithoutAConsoleLeavesTheLastErrorAlone) {
    ::SetLastError(0);
    UpdateConsoleTitle(L"Non connecté", 0);
    UpdateConsoleTitle(L"Verrouillé", 1);
    EXPECT_EQ(::GetLastError(), 0u);
    EXPECT_EQ(fake.Calls("SetConsoleTitleW"), 2);
}

TEST_F(ConsoleTest, ClearScreenBlanksTheBufferAndHomesTheCursor) {
    fake.outputIsConsole = true;
    fake.screenSize = {120, 300};
    OutputCapture capture;
    EXPECT_EQ(ClearScreen(0, nullptr), 1);
    EXPECT_EQ(fake.filledCells, 36000u);
    EXPECT_EQ(fake.cursor.X, 0);
    EXPECT_EQ(fake.cursor.Y, 0);
    EXPECT_EQ(capture.Out(), L"");
}

TEST_F(ConsoleTest, ClearScreenWithoutAConsoleWritesAFormFeedAndNoError) {
    OutputCapture capture;
    ::SetLastError(0);
    EXPECT_EQ(ClearScreen(0, nullptr), 1);
    EXPECT_EQ(capture.Out(), L"\f");
    EXPECT_EQ(::GetLastError(), 0u);
}

TEST_F(ConsoleTest, ClearScreenWithAWordShowsItsUsage) {
    OutputCapture capture;
    wchar_t word[] = L"now";
    wchar_t* words[] = {word, nullptr};
    EXPECT_EQ(ClearScreen(1, words), 0);
    EXPECT_EQ(capture.Out(), L"\nEfface l'\u00E9cran.\n\nUTILISATION :\n    CLS\n\n");
    EXPECT_EQ(fake.filledCells, 0u);
}

// Each text says what it means once: a console receives those characters, any other output the
// bytes it has always received (here each byte widened to one character).
class ConsoleTextTest : public CommandFixture {
protected:
    ConsoleTextTest() {
        fake.AddService(L"Spooler").displayName = L"Spouleur \u03A9";
        OutputCapture discard;
        OpenConnection(nullptr, SC_MANAGER_ALL_ACCESS);
    }

    std::wstring Shown(const wchar_t* line, bool console) {
        fake.outputIsConsole = console;
        fake.consoleText.clear();
        const CommandOutcome outcome = RunCommandLine(line);
        return console ? fake.consoleText : outcome.out;
    }
};

TEST_F(ConsoleTextTest, EachTextReachesAConsoleAsMeantAndAnythingElseAsItsBytes) {
    const struct {
        const wchar_t* line;
        std::wstring console;
        std::wstring redirected;
    } cases[] = {
        {L"help cls", L"Efface l'écran.", L"Efface l'\u00E9cran."},
        {L"query status Spooler", L"\nPropriétés :\n", L"\nPropri\u0082t\u0082s :\n"},
        {L"cmdtree", L"\n  │     └─── status\n", L"\n  \u00B3     \u00C0\u00C4\u00C4\u00C4 status\n"},
        {L"get service display_name Spooler", L"Spouleur \u03A9\n", L"Spouleur ?\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_NE(Shown(c.line, true).find(c.console), std::wstring::npos);
        EXPECT_NE(Shown(c.line, false).find(c.redirected), std::wstring::npos);
    }
}

TEST_F(ConsoleTextTest, ALineTypedAtTheConsoleArrivesAsTypedAfterAVisiblePrompt) {
    fake.AddService(L"Demo").displayName = L"Démo àccentuée";
    fake.inputIsConsole = fake.outputIsConsole = true;
    fake.typedLines = {L"get service key_name \"Démo àccentuée\""};
    wchar_t program[] = L"Orvel.exe";
    wchar_t* argv[] = {program, nullptr};
    {
        OutputCapture capture;
        EXPECT_EQ(RunOrvel(1, argv), 0);
    }
    // The console echoes what is typed where the cursor is: after the prompt only if it was shown.
    EXPECT_NE(fake.consoleText.find(L"> get service key_name \"Démo àccentuée\"\r\nKey Name = Demo\n"),
              std::wstring::npos)
        << fake.consoleText;
}

// The console takes a text at most 4,096 characters a write: a longer one without a line end leaves
// in parts, each once and in order.
TEST_F(ConsoleTextTest, ATextLongerThanOneConsoleWriteArrivesWhole) {
    fake.outputIsConsole = true;
    fake.consoleText.clear();
    std::wstring text;
    for (int part = 0; text.size() < 4096 + 100; ++part)
        text += std::to_wstring(part) + L"é ";
    {
        FileTextBuffer console(STD_OUTPUT_HANDLE, stdout);
        std::wostream out(&console);
        out << text << std::flush;
    }
    EXPECT_EQ(fake.consoleText, text);
}

// The console hands a long typed line over 4,096 characters at a time; Ctrl+Z at the start of the
// second part is in the middle of the line and ends nothing.
TEST_F(ConsoleTextTest, CtrlZInTheMiddleOfALongTypedLineIsNoEndOfInput) {
    fake.inputIsConsole = fake.outputIsConsole = true;
    fake.typedLines = {L"cl" + std::wstring(4094, L' ') + L"\x1A", L"help cls"};
    wchar_t program[] = L"Orvel.exe";
    wchar_t* argv[] = {program, nullptr};
    {
        OutputCapture capture;
        EXPECT_EQ(RunOrvel(1, argv), 0);
    }
    EXPECT_NE(fake.consoleText.find(L"Efface l'écran."), std::wstring::npos) << "the input ended early";
}

} // namespace
