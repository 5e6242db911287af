#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Commands.h"
#include "Connections.h"
#include "FailureActionType.h"
#include "FakePlatform.h"

namespace {

const std::wstring Header = L"\nPropri\u0082t\u0082s :\n============\n";
const std::wstring ClosingRule = L"\n============\n";

class QueryGetCommandsTest : public CommandFixture {
protected:
    QueryGetCommandsTest() {
        FakeService& spooler = fake.AddService(L"Spooler", SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS);
        spooler.displayName = L"Spouleur d'impression";
        spooler.startType = SERVICE_AUTO_START;
        spooler.group = std::wstring(L"SpoolerGroup");
        spooler.tag = 7;
        spooler.dependencies = {L"RPCSS", L"http"};
        spooler.account = std::nullopt;
        spooler.status.dwCurrentState = SERVICE_RUNNING;
        spooler.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        spooler.status.dwProcessId = 1234;
        spooler.status.dwWin32ExitCode = 1077;
        fake.AddService(L"Beep", SERVICE_KERNEL_DRIVER);
        OpenConnection(L"", SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    }
};

TEST_F(QueryGetCommandsTest, StatusIsDumpedFieldByFieldInDecimal) {
    const CommandOutcome outcome = RunCommandLine(L"query status spooler");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, Header + L"\n"
                                    L"lpSvcStatusProcess->dwCheckPoint              = 0\n"
                                    L"lpSvcStatusProcess->dwControlsAccepted        = 1\n"
                                    L"lpSvcStatusProcess->dwCurrentState            = 4\n"
                                    L"lpSvcStatusProcess->dwProcessId               = 1234\n"
                                    L"lpSvcStatusProcess->dwServiceFlags            = 0\n"
                                    L"lpSvcStatusProcess->dwServiceSpecificExitCode = 0\n"
                                    L"lpSvcStatusProcess->dwServiceType             = 288\n"
                                    L"lpSvcStatusProcess->dwWaitHint                = 0\n"
                                    L"lpSvcStatusProcess->dwWin32ExitCode           = 1077\n" +
                               ClosingRule + L"\n");
}

TEST_F(QueryGetCommandsTest, ConfigShowsTheFirstDependencyAndNullStrings) {
    const CommandOutcome outcome = RunCommandLine(L"query config Spooler");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, Header + L"\n"
                                    L"lpSvcConfig->dwErrorControl     = 1\n"
                                    L"lpSvcConfig->dwServiceType      = 288\n"
                                    L"lpSvcConfig->dwStartType        = 2\n"
                                    L"lpSvcConfig->dwTagId            = 7\n"
                                    L"lpSvcConfig->lpBinaryPathName   = C:\\Services\\service.exe\n"
                                    L"lpSvcConfig->lpDependencies     = RPCSS\n"
                                    L"lpSvcConfig->lpDisplayName      = Spouleur d'impression\n"
                                    L"lpSvcConfig->lpLoadOrderGroup   = SpoolerGroup\n"
                                    L"lpSvcConfig->lpServiceStartName = < NULL >\n" +
                               ClosingRule + L"\n");
}

TEST_F(QueryGetCommandsTest, ExtendedConfigListsDescriptionAndEveryAction) {
    FakeService& spooler = *fake.FindService(L"Spooler");
    spooler.description = std::wstring(L"100% fiable");
    spooler.resetPeriod = 86400;
    spooler.command = std::wstring(L"notify.cmd");
    SC_ACTION noEnumerator{SC_ACTION_NONE, 5};
    SetActionTypeNumber(noEnumerator, MAXDWORD);
    spooler.actions = {{SC_ACTION_RESTART, 60000}, noEnumerator};
    const CommandOutcome outcome = RunCommandLine(L"query configex Spooler");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, Header + L"\n"
                                    L"lpSvcDescription->lpDescription    = 100% fiable\n"
                                    L"lpSvcFailureActions->dwResetPeriod = 86400\n"
                                    L"lpSvcFailureActions->lpRebootMsg   = < NULL >\n"
                                    L"lpSvcFailureActions->lpCommand     = notify.cmd\n"
                                    L"\nActions\n=======\n\n"
                                    L"lpSvcFailureActions->cActions = 2\n"
                                    L"\nlpSvcFailureActions->lpsaActions[0].Type  = 1\n"
                                    L"lpSvcFailureActions->lpsaActions[0].Delay = 60000\n"
                                    L"\nlpSvcFailureActions->lpsaActions[1].Type  = -1\n"
                                    L"lpSvcFailureActions->lpsaActions[1].Delay = 5\n"
                                    L"\n=======\n" +
                               ClosingRule + L"\n");
}

TEST_F(QueryGetCommandsTest, ExtendedConfigLeavesOutWhatCannotBeRead) {
    // The second level's first call and the read it goes on to.
    fake.FailCall("QueryServiceConfig2W", ERROR_INVALID_LEVEL, 2, 2);
    const CommandOutcome outcome = RunCommandLine(L"query configex Spooler");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, Header + L"\nlpSvcDescription->lpDescription    = < NULL >\n" + ClosingRule + L"\n");
}

TEST_F(QueryGetCommandsTest, FailuresWriteOnlyAnEmptyLine) {
    for (const wchar_t* line : {L"query status nothing", L"query config nothing", L"query configex nothing",
                                L"get service pid nothing", L"get service type nothing"}) {
        ::SetLastError(0);
        const CommandOutcome outcome = RunCommandLine(line);
        EXPECT_EQ(outcome.result, 0) << line;
        EXPECT_EQ(outcome.out, L"\n") << line;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST)) << line;
    }
    fake.FailCall("QueryServiceStatusEx", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunCommandLine(L"query status Spooler").out, L"\n");
}

TEST_F(QueryGetCommandsTest, WrongWordCountsShowTheUsageAndOpenNothing) {
    const struct {
        const wchar_t* line;
        COMMAND_HELP usage;
    } cases[] = {
        {L"query status", QueryStatusHelp},        {L"query status a b", QueryStatusHelp},
        {L"query config", QueryConfigHelp},        {L"query configex a b", QueryConfigExHelp},
        {L"get service pid", GetProcessIdHelp},    {L"get service type a b", GetTypeHelp},
        {L"get service key_name", GetKeyNameHelp}, {L"get service display_name a b", GetDisplayNameHelp}};
    for (const auto& c : cases) {
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, 0) << c.line;
        EXPECT_EQ(outcome.out, UsageOf(c.usage)) << c.line;
        EXPECT_EQ(CommandLineSlip(), static_cast<unsigned long>(ERROR_INVALID_PARAMETER)) << c.line;
    }
    EXPECT_TRUE(fake.serviceNamesOpened.empty());
}

TEST_F(QueryGetCommandsTest, PropertiesCountTheDatabaseAndIgnoreWords) {
    const CommandOutcome outcome = RunCommandLine(L"get properties whatever words");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, Header + L"szMachineName   =  (Ordinateur local)\n"
                                    L"szDatabaseName  = ServicesActive\n"
                                    L"dwDesiredAccess = 5\n"
                                    L"Nombres d'objets services : 2\n"
                                    L"============\n\n\n");
}

TEST_F(QueryGetCommandsTest, NamesTranslateBothWays) {
    EXPECT_EQ(RunCommandLine(L"get service key_name \"Spouleur d'impression\"").out, L"Key Name = Spooler\n\n");
    EXPECT_EQ(RunCommandLine(L"get service display_name spooler").out,
              L"Display Name = Spouleur d'impression\n\n");
    const CommandOutcome unknown = RunCommandLine(L"get service key_name Nobody");
    EXPECT_EQ(unknown.result, 1);
    EXPECT_EQ(unknown.out, L"\n");
}

TEST_F(QueryGetCommandsTest, PidAndTypeAlwaysReturnZero) {
    CommandOutcome outcome = RunCommandLine(L"get service pid Spooler");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, L"PID = 1234\n\n");
    outcome = RunCommandLine(L"get service type beep");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, L"Type = 1\n\n");
}

TEST_F(QueryGetCommandsTest, WithoutAConnectionOnlyServiceQueriesWriteTheirEmptyLine) {
    {
        OutputCapture discard;
        CloseAllConnections();
    }
    EXPECT_EQ(RunCommandLine(L"query status Spooler").out, L"\n");
    EXPECT_EQ(RunCommandLine(L"get properties").out, L"");
    EXPECT_EQ(RunCommandLine(L"get service display_name Spooler").out, L"");
}

// A query whose platform call `call`, if any, fails (from its `occurrence`-th next call, `times`
// calls in a row): what it writes, returns and leaves for the banner. The lookup opens the
// service first, so occurrence 2 of OpenServiceW is the query's own open.
struct InjectedFailure {
    const wchar_t* line;
    const char* call;
    DWORD code;
    int occurrence;
    int times;
    std::wstring out;
    int result;
    DWORD leftError;
};

void ExpectInjectedFailures(FakePlatform& fake, const std::vector<InjectedFailure>& cases) {
    for (const InjectedFailure& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.call ? c.call : "no failure") << " in "
                                        << std::string(c.line, c.line + wcslen(c.line)));
        if (c.call)
            fake.FailCall(c.call, c.code, c.occurrence, c.times);
        ::SetLastError(0);
        const CommandOutcome outcome = RunCommandLine(c.line);
        const DWORD left = ::GetLastError(); // before a failure report can change it
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(left, c.leftError);
        EXPECT_EQ(fake.OpenServiceHandles(), 0u);
    }
}

TEST_F(QueryGetCommandsTest, AServiceDeletedAfterTheLookupLeavesTheCodeOfTheFailedCall) {
    const DWORD marked = ERROR_SERVICE_MARKED_FOR_DELETE;
    ExpectInjectedFailures(
        fake,
        {
            {L"query status Spooler", "QueryServiceStatusEx", marked, 1, 1, L"\n", 0, marked},
            {L"get service pid Spooler", "QueryServiceStatusEx", marked, 1, 1, L"PID = 0\n\n", 0, marked},
            // Both sections are left out (each read is tried twice: into the usual block, then into
            // one of the size asked); a missing section is no failure of the command.
            {L"query configex Spooler", "QueryServiceConfig2W", marked, 1, 4,
             Header + L"\n" + ClosingRule + L"\n", 1, 0},
        });
}

// The configuration and the type are those that the lookup read: one open, one read.
TEST_F(QueryGetCommandsTest, ConfigurationAndTypeComeFromTheLookupsOwnRead) {
    for (const wchar_t* line : {L"query config Spooler", L"get service type Spooler"}) {
        const int opens = fake.Calls("OpenServiceW"), reads = fake.Calls("QueryServiceConfigW");
        RunCommandLine(line);
        EXPECT_EQ(fake.Calls("OpenServiceW") - opens, 1) << line;
        EXPECT_EQ(fake.Calls("QueryServiceConfigW") - reads, 1) << line;
    }
}

// The lookup needs SERVICE_QUERY_CONFIG, the status SERVICE_QUERY_STATUS; the manager must
// enumerate for the count.
// A command opens its service once, with the lookup, and the handle closes with the command: a
// service that another caller deleted is gone from the database right after it. The state
// changes open their own handle for their waits.
TEST_F(QueryGetCommandsTest, EachCommandOpensItsServiceOnceAndLeavesNothingOpen) {
    const struct {
        const wchar_t* line;
        int openings;
    } cases[] = {
        {L"query status Gone", 1},
        {L"query configex Gone", 1},
        {L"get service pid Gone", 1},
        {L"enum dependent_services Gone", 1},
        {L"control Gone 130", 1},
        {L"set config Gone display_name=Parti", 1},
        {L"interrogate Gone", 1},
        {L"stop Gone", 2},
        {L"start Gone", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        fake.AddService(L"Gone").markedForDeletion = true;
        const int openings = fake.Calls("OpenServiceW");
        RunCommandLine(c.line);
        EXPECT_EQ(fake.Calls("OpenServiceW") - openings, c.openings);
        EXPECT_EQ(fake.OpenServiceHandles(), 0u);
        EXPECT_EQ(fake.FindService(L"Gone"), nullptr) << "the deleted service outlived the command";
    }
}

// Where the reads' rights are refused together but granted alone, the lookup opens as it always
// did, with SERVICE_QUERY_CONFIG, and the command shows the same: one opening more than before
// (the refused one), none where the reads are of the configuration only.
TEST_F(QueryGetCommandsTest, ReadRightsRefusedTogetherCostOneOpeningAndNoFailure) {
    const struct {
        const wchar_t* line;
        // The refused opening, the lookup's and, for a read it does not serve, the read's own.
        int openings;
    } cases[] = {
        {L"query status Spooler", 3},
        {L"get service pid Spooler", 3},
        {L"enum dependent_services Spooler", 3},
        {L"query configex Spooler", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        FakeService& spooler = *fake.FindService(L"Spooler");
        spooler.refusedCombinations.clear();
        const CommandOutcome together = RunCommandLine(c.line);
        spooler.refusedCombinations = {SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS};
        const int openings = fake.Calls("OpenServiceW");
        ::SetLastError(0);
        const CommandOutcome apart = RunCommandLine(c.line);
        EXPECT_EQ(::GetLastError(), 0u);
        EXPECT_EQ(apart.result, together.result);
        EXPECT_EQ(apart.out, together.out);
        EXPECT_EQ(apart.err, together.err);
        EXPECT_EQ(fake.Calls("OpenServiceW") - openings, c.openings);
    }
}

TEST_F(QueryGetCommandsTest, MissingRightsLeaveAccessDeniedForTheBanner) {
    FakeService& spooler = *fake.FindService(L"Spooler");
    spooler.grantableAccess = SERVICE_ALL_ACCESS & ~SERVICE_QUERY_STATUS;
    const DWORD denied = ERROR_ACCESS_DENIED;
    ExpectInjectedFailures(fake,
                           {
                               {L"query status Spooler", nullptr, 0, 1, 1, L"\n", 0, denied},
                               {L"get service pid Spooler", nullptr, 0, 1, 1, L"PID = 0\n\n", 0, denied},
                               {L"get service type Spooler", nullptr, 0, 1, 1, L"Type = 288\n\n", 0, 0},
                           });
    spooler.grantableAccess = SERVICE_ALL_ACCESS & ~SERVICE_QUERY_CONFIG;
    std::vector<InjectedFailure> lookupRefused;
    for (const wchar_t* line : {L"query status Spooler", L"query config Spooler", L"query configex Spooler",
                                L"get service pid Spooler", L"get service type Spooler"})
        lookupRefused.push_back({line, nullptr, 0, 1, 1, L"\n", 0, denied});
    ExpectInjectedFailures(fake, lookupRefused);
    ExpectInjectedFailures(
        fake, {{L"get properties", "EnumServicesStatusExW", denied, 1, 2,
                Header + L"szMachineName   =  (Ordinateur local)\nszDatabaseName  = ServicesActive\n"
                         L"dwDesiredAccess = 5\nNombres d'objets services : 0\n============\n\n\n",
                1, denied}});
}

// Quotes, backslashes, blanks, characters beyond one byte and overlong names are the platform's
// business: the typed name reaches it unchanged, once split as a command line is.
TEST_F(QueryGetCommandsTest, NamesReachThePlatformExactlyAsTyped) {
    const std::wstring longName(300, L'q');
    const struct {
        std::wstring typed;
        std::wstring name;
    } cases[] = {
        {L"Say\\\"Hi\\\"", L"Say\"Hi\""},
        {L"\"C:\\Dir\\Svc\"", L"C:\\Dir\\Svc"},
        {L"back\\\\\\\"slash", L"back\\\"slash"},
        {L"\"Nom  avec blancs\"", L"Nom  avec blancs"},
        {L"\u0152uvre\u20AC\U0001F600", L"\u0152uvre\u20AC\U0001F600"},
        {longName, longName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed " << c.typed.size() << " characters");
        FakeService& added = fake.AddService(c.name);
        added.displayName = L"[" + c.name + L"]";
        fake.serviceNamesOpened.clear();
        const CommandOutcome status = RunCommandLine((L"query status " + c.typed).c_str());
        EXPECT_EQ(status.result, 1);
        ASSERT_FALSE(fake.serviceNamesOpened.empty());
        for (const std::wstring& opened : fake.serviceNamesOpened)
            EXPECT_EQ(opened, c.name);
        std::wstring shown;
        for (wchar_t unit : c.name)
            shown += static_cast<wchar_t>(static_cast<unsigned char>(Windows1252Byte(unit)));
        // A surrogate pair is one character, and one '?'.
        const size_t pair = shown.find(L"??");
        if (pair != std::wstring::npos)
            shown.erase(pair, 1);
        EXPECT_EQ(RunCommandLine((L"get service display_name " + c.typed).c_str()).out,
                  L"Display Name = [" + shown + L"]\n\n")
            << "where the output is not a console, each character leaves as its Windows-1252 byte";
        fake.services.pop_back();
    }
    EXPECT_EQ(fake.OpenServiceHandles(), 0u);
}

TEST_F(QueryGetCommandsTest, AQuotedEmptyNameIsNoWord) {
    const struct {
        const wchar_t* line;
        COMMAND_HELP usage;
    } cases[] = {{L"query status \"\"", QueryStatusHelp},
                 {L"query config \"\" \"\"", QueryConfigHelp},
                 {L"get service pid \"\"", GetProcessIdHelp},
                 {L"get service display_name \"\"", GetDisplayNameHelp}};
    for (const auto& c : cases) {
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.out, UsageOf(c.usage)) << c.line;
        EXPECT_EQ(outcome.result, 0) << c.line;
    }
    EXPECT_TRUE(fake.serviceNamesOpened.empty());
}

} // namespace
