#include <gtest/gtest.h>

#include <iostream>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Console.h"
#include "FakePlatform.h"
#include "OutputCapture.h"
#include "Program.h"

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
    EXPECT_EQ(capture.Out(), L"\nEfface l'\u00E9cran.\n\nUTILISATION :\n"
                             L"    Mode Batch      : ORVEL CLS\n"
                             L"    Mode Interactif : CLS\n\n"
                             L"    Quand la sortie n'est pas une console (redirection vers un fichier),\n"
                             L"    CLS \u00E9crit un caract\u00E8re de saut de page.\n\n"
                             L"EXEMPLE :\n    CLS\n\n");
    EXPECT_EQ(fake.filledCells, 0u);
}

// Each text says what it means once: a console receives those characters, any other output the
// bytes it has always received (here each byte widened to one character).
class ConsoleTextTest : public CommandFixture {
protected:
    ConsoleTextTest() {
        fake.AddService(L"Spooler").displayName = L"Spouleur \u03A9";
        fake.AddService(L"Coeur").displayName = L"C\u0153ur d\u2019\u0152uvre \u2013 \u20AC";
        fake.AddService(L"Smile").displayName = L"\U0001F600 \u00E9";
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
        {L"get service display_name Coeur", L"C\u0153ur d\u2019\u0152uvre \u2013 \u20AC\n",
         L"C\u009Cur d\u0092\u008Cuvre \u0096 \u0080\n"},
        {L"get service display_name Smile", L"\U0001F600 \u00E9\n", L"? \u00E9\n"},
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

// Both directions of the table, for every byte and every character, against the platform's own
// code page 1252 without its best-fit guesses (a character it cannot hold is its default, '?').
TEST(Windows1252Test, MatchesThePlatformsCodePageInBothDirections) {
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        const char narrow = static_cast<char>(byte);
        wchar_t expected = 0;
        ASSERT_EQ(::MultiByteToWideChar(1252, 0, &narrow, 1, &expected, 1), 1);
        EXPECT_EQ(Windows1252Character(static_cast<unsigned char>(byte)), expected) << "byte " << byte;
    }
    for (unsigned character = 0; character <= 0xFFFF; ++character) {
        if (character >= 0xD800 && character <= 0xDFFF)
            continue;
        const wchar_t wide = static_cast<wchar_t>(character);
        char expected = 0;
        ASSERT_EQ(::WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &wide, 1, &expected, 1, "?", nullptr), 1);
        EXPECT_EQ(Windows1252Byte(wide), expected) << "character " << character;
    }
}

// A text longer than one console write, with surrogate pairs across the places where it is cut.
TEST_F(ConsoleTextTest, AConsoleReceivesNoSurrogatePairCutInTwo) {
    fake.outputIsConsole = true;
    fake.consoleText.clear();
    std::wstring text = L"x";
    for (int i = 0; i < 5000; ++i)
        text += L"\U0001F600";
    {
        OutputCapture capture;
        std::wcout << text << std::flush;
        for (wchar_t c : text)
            std::wcout.put(c);
        std::wcout << std::flush;
    }
    EXPECT_EQ(fake.consoleText, text + text);
}

} // namespace
