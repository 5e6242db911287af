#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "CommandTree.h"
#include "Completion.h"
#include "Connections.h"
#include "FakePlatform.h"
#include "OutputCapture.h"
#include "Program.h"

namespace {

const wchar_t Tab = L'\t';
const wchar_t ShiftTab = FakePlatform::ShiftTab;

class CompletionTest : public CommandFixture {
protected:
    static void SetUpTestSuite() { RegisterCommands(); }

    void SetUp() override {
        fake.AddService(L"Spooler").displayName = L"Spouleur d'impression";
        fake.AddService(L"SpoolerExt").displayName = L"Extension du spouleur";
        fake.AddService(L"Quorvan Demo").displayName = L"Démo";
        fake.AddService(L"Quote\"Name").displayName = L"Guillemet";
        fake.AddService(L"Tcpip", SERVICE_KERNEL_DRIVER).displayName = L"Pilote TCP/IP";
    }

    static void Connect(const wchar_t* machine) {
        OutputCapture discard;
        OpenConnection(machine, SC_MANAGER_CONNECT);
    }

    // The line after `keys` are typed at the end of the line, Tab and Shift+Tab included, as the
    // console hands them over: one completion for the whole line.
    static std::wstring Typed(const std::wstring& keys) {
        LineCompletion completion;
        std::wstring line;
        for (wchar_t key : keys) {
            if (key == Tab || key == ShiftTab)
                line = completion.Complete(line, L"", key == ShiftTab);
            else
                line += key;
        }
        return line;
    }

    int Enumerations() const { return fake.Calls("EnumServicesStatusExW"); }
};

TEST_F(CompletionTest, CompletesTheWordsThatTheTreeAllowsWhereTheCursorIs) {
    Connect(L".");
    Connect(L"srv");
    const struct {
        std::wstring keys;
        std::wstring line;
    } cases[] = {
        // Command and group words at every level, after help too, without regard to case.
        {L"sto\t", L"stop "},
        {L"STO\t", L"stop "},
        {L"q\t", L"query "},
        {L"query st\t", L"query status "},
        {L"get service p\t", L"get service pid "},
        {L"help lo\t", L"help lock "},
        {L"help lock o\t", L"help lock off "},
        {L"help \t", L"help boot "},
        // Alphabetical, round and round, and back with Shift+Tab.
        {L"s\t", L"sactc "},
        {L"s\t\t", L"set "},
        {L"s\t\t\t\t", L"stop "},
        {L"s\t\t\t\t\t", L"sactc "},
        {std::wstring(L"s") + ShiftTab, L"stop "},
        {std::wstring(L"s\t") + ShiftTab, L"stop "},
        {std::wstring(L"s\t\t") + ShiftTab, L"sactc "},
        // What is typed after a completion starts a new one.
        {L"s\tx\t", L"sactc x"},
        {L"stop Sp\t \t", L"stop Spooler  "},
        // The fixed words of the command reached, from its own definitions, each once.
        {L"boot \t", L"boot bad "},
        {L"cmdtree /\t", L"cmdtree /a "},
        {L"enum services a\t", L"enum services actifs "},
        {L"enum services t\t\t", L"enum services tous "},
        {L"enum services pilotes i\t", L"enum services pilotes inactifs "},
        {L"control Spooler param\t", L"control Spooler paramchange "},
        {L"set config Spooler sta\t", L"set config Spooler start_type="},
        {L"set config Spooler start_type=auto d\t\t", L"set config Spooler start_type=auto description="},
        {L"create service_object Nouveau bin\t", L"create service_object Nouveau binary_path="},
        // Key names, drivers included; a display name offers its service's key name.
        {L"stop Spo\t", L"stop Spooler "},
        {L"stop Spo\t\t", L"stop SpoolerExt "},
        {L"start tc\t", L"start Tcpip "},
        {L"query config Spouleur\t", L"query config Spooler "},
        {L"query config ext\t", L"query config SpoolerExt "},
        {L"delete service_object D\t", L"delete service_object \"Quorvan Demo\" "},
        // Inside quotes when a name holds a space or a quote, from a quoted start too.
        {L"stop Quorvan\t", L"stop \"Quorvan Demo\" "},
        {L"stop \"Quorvan D\t", L"stop \"Quorvan Demo\" "},
        {L"stop Quot\t", L"stop \"Quote\\\"Name\" "},
        {L"stop \"Quote\\\"N\t", L"stop \"Quote\\\"Name\" "},
        {L"sactc \t\t", L"sactc 2 "},
        {L"cc 1\t", L"cc 1 "},
        // No candidate: the line stays as it was.
        {L"stop Nothing\t", L"stop Nothing"},
        {L"nosuch x\t", L"nosuch x"},
        {L"connect \t", L"connect "},
        {L"stop Spooler \t", L"stop Spooler "},
        {L"get service key_name Spou\t", L"get service key_name Spou"},
        {L"help start Sp\t", L"help start Sp"},
        {L"lock on \t", L"lock on "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.keys));
        EXPECT_EQ(Typed(c.keys), c.line);
    }
}

// A completion keeps what follows the cursor, and a second Tab there cycles as at the end.
TEST_F(CompletionTest, TextAfterTheCursorIsKept) {
    Connect(L".");
    LineCompletion completion;
    std::wstring line = completion.Complete(L"stop Spo", L" raison", false);
    EXPECT_EQ(line, L"stop Spooler raison");
    EXPECT_EQ(completion.Complete(line, L"", false), L"stop SpoolerExt raison");
    EXPECT_EQ(LineCompletion().Complete(L"q", L"config", false), L"query config");
}

// Service names come from one enumeration per line, and none at all without a connection or from
// a lost one; a failed enumeration completes nothing and leaves the last-error value alone.
TEST_F(CompletionTest, ServiceNamesCostOneEnumerationPerLineAndNoneWithoutAConnection) {
    const DWORD marker = 0xBEEF;
    ::SetLastError(marker);
    EXPECT_EQ(Typed(L"stop Spo\t\t"), L"stop Spo");
    EXPECT_EQ(Enumerations(), 0);

    Connect(L".");
    const int before = Enumerations();
    EXPECT_EQ(Typed(L"stop Spo\t\t\t"), L"stop Spooler ");
    const int perLine = Enumerations() - before;
    EXPECT_GE(perLine, 1);
    EXPECT_EQ(Typed(L"sto\t"), L"stop ");
    EXPECT_EQ(Enumerations() - before, perLine) << "command words need no enumeration";
    const int beforeCommand = Enumerations();
    RunCommandLine(L"enum services tous");
    EXPECT_LE(perLine, Enumerations() - beforeCommand) << "no more than enum services asks";

    // The sizing call and the page both fail.
    fake.FailCall("EnumServicesStatusExW", ERROR_NOT_ENOUGH_MEMORY, 1, 2);
    ::SetLastError(marker);
    const int failedBefore = Enumerations();
    EXPECT_EQ(Typed(L"stop Spo\t\t"), L"stop Spo");
    EXPECT_EQ(Enumerations() - failedBefore, perLine) << "a failed enumeration is not tried again on the same line";
    EXPECT_EQ(::GetLastError(), marker);

    Connect(L"srv");
    fake.StopAnswering(L"srv");
    RunCommandLine(L"query status Spooler");
    NoteCommandEnd();
    ASSERT_NE(ConnectionLossCode(GetConnection(2)), 0u);
    const int unanswered = fake.unansweredCalls;
    const int lostBefore = Enumerations();
    EXPECT_EQ(Typed(L"stop Spo\t"), L"stop Spo");
    EXPECT_EQ(Enumerations(), lostBefore);
    EXPECT_EQ(fake.unansweredCalls, unanswered) << "nothing is asked of a lost machine";
    fake.AnswerAgain(L"srv");
}

// At the console's prompt: a Tab ends the read, the line shows completed, the read goes on from it,
// and the command receives the completed line without a Tab. An answer that a command asks for is
// read as typed, Tab included.
TEST_F(CompletionTest, TheConsolesPromptCompletesAndTheCommandGetsNoTab) {
    fake.inputIsConsole = fake.outputIsConsole = true;
    fake.typedLines = {L"connect .", L"query st\tSpo\t",
                       std::wstring(L"s\t\t") + ShiftTab + L"\tconfig Spooler password=*", L"ab\tc"};
    wchar_t program[] = L"Orvel.exe";
    wchar_t* argv[] = {program, nullptr};
    {
        OutputCapture capture;
        EXPECT_EQ(RunOrvel(1, argv), 0);
    }
    EXPECT_NE(fake.consoleText.find(L"query status Spooler \r\n\nPropri\u00E9t\u00E9s :"), std::wstring::npos)
        << fake.consoleText;
    ASSERT_TRUE(fake.lastConfigChange.has_value());
    EXPECT_EQ(*fake.lastConfigChange->password, L"ab\tc");
}

} // namespace
