#include <gtest/gtest.h>

#include "Console.h"
#include "FakePlatform.h"
#include "OutputCapture.h"

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

} // namespace
