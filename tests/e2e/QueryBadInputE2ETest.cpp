// query and get commands given names the control manager cannot or will not match, and a
// connection that may not enumerate. Every code expected here is the one the platform itself
// gives for the same name or handle, asked directly by the test.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ByteComparison.h"
#include "OrvelRunner.h"
#include "ServiceInstaller.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

const std::wstring Header = L"\nPropri\u0082t\u0082s :\n============\n";
const wchar_t* const kServiceCommands[][3] = {{L"query", L"status", nullptr},
                                              {L"query", L"config", nullptr},
                                              {L"query", L"configex", nullptr},
                                              {L"get", L"service", L"pid"},
                                              {L"get", L"service", L"type"}};

// The code OpenServiceW leaves for `name` on a plain connection (ERROR_SUCCESS when it opens).
DWORD OpenServiceCode(const std::wstring& name) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    return service ? ERROR_SUCCESS : GetLastError();
}

// A script that connects to this machine first, and what it writes before and after its lines.
std::string Connected(const std::string& lines) {
    return std::string(Bytes(L"connect " + ComputerName() + L"\n")) + lines;
}
std::string Prompt() {
    return Bytes(L"Quorvan @ " + ComputerName() + L" (local) | 1 > ");
}
std::string ConnectedOut(const std::string& body) {
    return Banner() + Prompted(L"connect " + ComputerName()) + kLineBreak + body + Prompt() + kLineBreak +
           kLineBreak;
}

// Each service command on names that match no service the way they are given: the command
// writes one empty line and the exit code is the platform's.
TEST(QueryBadInputE2E, UnmatchedNamesGiveThePlatformsCodeAfterOneEmptyLine) {
    InstalledTestService service(L"QuorvanE2EBadDisplay", {});
    ASSERT_TRUE(service.installed());
    const std::wstring displayName = L"Quorvan E2E nom affich\u00E9";
    ASSERT_TRUE(ChangeServiceConfigW(service.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     displayName.c_str()));
    ASSERT_EQ(OpenServiceCode(displayName), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    // Every command on the display name; the other names through the two record reads. An empty
    // argument is a word on the command line, unlike "" in a typed line.
    std::vector<std::pair<std::vector<std::wstring>, std::wstring>> cases;
    for (const auto& path : kServiceCommands)
        cases.push_back({std::vector<std::wstring>(path, path + (path[2] ? 3 : 2)), displayName});
    for (const std::wstring& name :
         {std::wstring(300, L'Q'), std::wstring(L"Quorvan\\E2E"), std::wstring()}) {
        cases.push_back({{L"query", L"status"}, name});
        cases.push_back({{L"query", L"config"}, name});
    }
    for (auto& c : cases) {
        const DWORD code = OpenServiceCode(c.second);
        ASSERT_NE(code, static_cast<DWORD>(ERROR_SUCCESS));
        SCOPED_TRACE(testing::Message() << testing::PrintToString(c.first.back()) << " on a name of "
                                        << c.second.size() << " characters");
        c.first.push_back(c.second);
        const OrvelRun run = RunOrvelBatch(c.first);
        EXPECT_EQ(run.exitCode, code);
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), run.out);
        EXPECT_EQ(run.err, "");
    }
}

// A line without the name shows the command's usage.
TEST(QueryBadInputE2E, AQuotedEmptyNameInAScriptIsNoWord) {
    const OrvelRun run = RunOrvelScript(Connected("query status \"\"\n"
                                                  "get service pid \"\" \"\"\n"
                                                  "get service key_name \"\"\n"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_PRED_FORMAT2(
        BytesEqual,
        ConnectedOut(Prompt() + Bytes(L"query status \"\"\n" + UsageText({L"query", L"status"})) + Prompt() +
                     Bytes(L"get service pid \"\" \"\"\n") + PidUsage() + Prompt() +
                     Bytes(L"get service key_name \"\"\n" + UsageText({L"get", L"service", L"key_name"}))),
        run.out);
    EXPECT_EQ(run.err, "");
}

// A Windows-1252 script reads each byte as the character that the code page gives it: 0xE9 is é
// and 0x9C is œ, a character beyond one byte that reaches the manager whole, as it does from the
// command line.
TEST(QueryBadInputE2E, QuotesBackslashesAndCharactersBeyondOneByteReachTheManagerAsGiven) {
    InstalledTestService quoted(L"QuorvanE2EBad\"Quote", {});
    InstalledTestService accented(L"QuorvanE2EBad\u00E9", {});
    InstalledTestService wide(L"QuorvanE2EBad\u0153", {});
    ASSERT_TRUE(quoted.installed() && accented.installed() && wide.installed());
    const DWORD backslashCode = OpenServiceCode(L"QuorvanE2E\\Bad");
    ASSERT_NE(backslashCode, static_cast<DWORD>(ERROR_SUCCESS));

    // Each line with what it writes.
    const std::pair<std::string, std::wstring> lines[] = {
        {"get service type QuorvanE2EBad\\\"Quote", L"Type = 16\n\n"},
        {"get service type \"QuorvanE2EBad\\\"Quote\"", L"Type = 16\n\n"},
        {"get service display_name QuorvanE2EBad\xE9", L"Display Name = QuorvanE2EBad\u00E9\n\n"},
        {"get service type QuorvanE2EBad\x9C", L"Type = 16\n\n"},
        {"get service type QuorvanE2E\\Bad", L"\n"},
    };
    std::string script, expected;
    for (const auto& line : lines) {
        script += line.first + "\n";
        expected += Prompt() + line.first + kLineBreak + Bytes(line.second);
    }
    const OrvelRun run = RunOrvelScript(Connected(script));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_PRED_FORMAT2(BytesEqual, ConnectedOut(expected), run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, ErrorBanner(backslashCode), run.err);

    const OrvelRun batch = RunOrvelBatch({L"get", L"service", L"type", wide.name()});
    EXPECT_EQ(batch.exitCode, 0u);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"Type = 16\n\n"), batch.out);
}

// SC_MANAGER_CONNECT alone does not allow enumeration: the properties still show, with a count
// of 0, and the refusal is the exit code.
TEST(QueryBadInputE2E, AConnectionThatMayNotEnumerateCountsNothing) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    DWORD needed = 0, returned = 0, resume = 0;
    ASSERT_FALSE(EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_TYPE_ALL,
                                       SERVICE_STATE_ALL, nullptr, 0, &needed, &returned, &resume, nullptr));
    const DWORD refusal = GetLastError();
    ASSERT_NE(refusal, static_cast<DWORD>(ERROR_MORE_DATA));

    const OrvelRun run = RunOrvelBatch({L"get", L"properties"}, L"1");
    EXPECT_EQ(run.exitCode, refusal);
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Batch(Header +
                              L"szMachineName   =  (Ordinateur local)\nszDatabaseName  = ServicesActive\n"
                              L"dwDesiredAccess = 1\nNombres d'objets services : 0\n============\n\n\n"),
                        run.out);
    EXPECT_EQ(run.err, "");
}

} // namespace

namespace {

// A command line that did not do what it asked ends with a code that says why, through the full
// 32-bit exit code; what it prints is what it printed before.
TEST(QueryBadInputE2E, CommandLinesThatDoNothingEndWithTheirCode) {
    const DWORD wrongWords = ERROR_INVALID_PARAMETER;
    const struct {
        std::vector<std::wstring> arguments;
        DWORD exitCode;
    } cases[] = {
        {{L"query", L"status"}, wrongWords},
        {{L"query", L"status", L"Spooler", L"Spooler"}, wrongWords},
        {{L"query", L"config"}, wrongWords},
        {{L"get", L"service", L"key_name"}, wrongWords},
        {{L"enum", L"dependent_services"}, wrongWords},
        {{L"lock", L"on", L"extra"}, wrongWords},
        {{L"set", L"configex", L"Spooler", L"extra"}, wrongWords},
        {{L"connect:" + ComputerName()}, ERROR_INVALID_FUNCTION},
        {{L"debug", L"NDIS"}, ERROR_NOT_SUPPORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const OrvelRun run = RunOrvel(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err, "");
    }
}

// A script with no connection says so on the error stream, once per command, before the banner.
TEST(QueryBadInputE2E, AScriptWithoutAConnectionSaysSo) {
    const OrvelRun run = RunOrvelScript("start Spooler\nexit\n");
    EXPECT_PRED_FORMAT2(BytesEqual, Banner() + Prompted(L"start Spooler") + kLineBreak + Prompted(L"exit") + kLineBreak,
                        run.out);
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Bytes(L"Aucune connexion n'est active : ouvrez-en une avec 'connect', ou choisissez-en une "
                              L"avec 'sactc'.\n") +
                            ErrorBanner(ERROR_NOT_CONNECTED),
                        run.err);
    EXPECT_EQ(run.exitCode, 0u);
}

} // namespace
