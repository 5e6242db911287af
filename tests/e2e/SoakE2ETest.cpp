// A long session: 5,000 commands open and close connections, create and delete services, drive a
// test service through its states, edit the group list and query everything, all in one run of
// the console. Afterwards nothing is left behind, the console holds no more handles than after
// its first round, and no error banner has been shown.
//
// Long, and it edits the machine-wide group list: it runs apart (label soak) and alone.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HandleGuard.h"
#include "OrvelRunner.h"
#include "SavedValue.h"
#include "ServiceInstaller.h"
#include "TestEnvironment.h"

namespace {

const int kRounds = 200;
const int kCommandsPerRound = 25;
// Every so many rounds the test service is started, paused, continued and stopped.
const int kStateChangeEvery = 10;
const DWORD kRoundTimeoutMs = 60000;
const DWORD kSessionTimeoutMs = 20 * 60000;

const wchar_t kGroupListKey[] = L"System\\CurrentControlSet\\Control\\ServiceGroupOrder";
const wchar_t kService[] = L"QvnSoakSvc";
const wchar_t kCreated[] = L"QvnSoakTmp";

std::string Bytes(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<BYTE> ListBytes(const std::wstring& units) {
    const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t));
}

int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// One round: two connections opened and closed again, a service created, read and deleted, a
// group added and removed, and the test service either driven or queried.
std::string Round(int round, const std::wstring& computer) {
    const std::wstring created = kCreated;
    const std::wstring service = kService;
    std::vector<std::wstring> commands = {
        L"connect " + computer + L" 983103",
        L"cl",
        L"create service_object " + created,
        L"query config " + created,
        L"query configex " + created,
        L"query status " + created,
        L"get service display_name " + created,
        L"get service type " + created,
        L"delete service_object " + created,
        L"create service_group QvnSoakGrp order=0",
        L"enum service_group",
        L"enum service_group_load_order QvnSoakGrp",
        L"delete service_group name=QvnSoakGrp",
        L"get properties",
        L"lock on",
        L"lock off",
        L"connect " + computer + L" 1",
        L"sactc 1",
        L"enum dependent_services " + service,
        L"cc 2",
    };
    if (round % kStateChangeEvery == 0) {
        for (const wchar_t* change : {L"start ", L"pause ", L"continue ", L"stop "})
            commands.push_back(change + service);
    } else {
        for (const wchar_t* query : {L"interrogate ", L"get service pid ", L"query status ", L"get service key_name "})
            commands.push_back(query + service);
    }
    commands.push_back(round % 2 == 0 ? L"cactc" : L"callc");
    std::string lines;
    for (const std::wstring& command : commands)
        lines += Bytes(command) + "\r\n";
    EXPECT_EQ(commands.size(), static_cast<size_t>(kCommandsPerRound));
    return lines;
}

TEST(SoakE2E, FiveThousandCommandsLeaveNothingBehind) {
    InstalledTestService service(kService, {});
    ASSERT_TRUE(service.installed());
    SavedValue list(kGroupListKey, L"List");
    const std::vector<BYTE> knownList = ListBytes(std::wstring(L"QvnSoakBase\0\0", 13));
    list.Set(REG_MULTI_SZ, knownList);

    OrvelSession session;
    ASSERT_TRUE(session.started());
    const std::wstring computer = ComputerName();
    session.Send(Round(0, computer));
    ASSERT_TRUE(session.WaitForPrompt(1 + kCommandsPerRound, kRoundTimeoutMs)) << "the first round does not end";
    const unsigned long handlesAfterFirstRound = OpenHandleCount(session.process());
    for (int round = 1; round < kRounds; ++round)
        session.Send(Round(round, computer));
    ASSERT_TRUE(session.WaitForPrompt(1 + kRounds * kCommandsPerRound, kSessionTimeoutMs)) << "the session does not end";
    EXPECT_EQ(OpenHandleCount(session.process()), handlesAfterFirstRound) << "handles the console kept open";
    const OrvelRun run = session.Finish();

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.err, "") << "error banners or messages the session did not expect";
    // What every round must have done, as the console reports it.
    EXPECT_EQ(Occurrences(run.out, "Cr\xE9" "ation du service QvnSoakTmp...OK\r\n"), kRounds);
    EXPECT_EQ(Occurrences(run.out, "Il y a 2 groupes.\r\n\r\nGroupes :\r\n=========\r\nQvnSoakGrp\r\nQvnSoakBase\r\n"),
              kRounds);
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle leftover(OpenServiceW(manager.get(), kCreated, SERVICE_QUERY_STATUS));
    EXPECT_FALSE(leftover) << "the created service is left behind";
    SERVICE_STATUS_PROCESS status = {};
    EXPECT_TRUE(QueryStatus(service.handle(), status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    EXPECT_TRUE(list.Read(type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(data, knownList) << "the group list is not as it was";
}

} // namespace
