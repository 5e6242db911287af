#include <gtest/gtest.h>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "Commands.h"
#include "Connections.h"
#include "FakePlatform.h"
#include "ServiceGroups.h"

namespace {

using namespace ServiceGroups;

std::wstring Listed(FakePlatform& fake) {
    const std::vector<BYTE> bytes = GroupListBytes(fake);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

class GroupCommandsTest : public CommandFixture {
protected:
    GroupCommandsTest() { OpenConnection(L"", SC_MANAGER_ALL_ACCESS); }

    // `line`, run on the list A, B, C, fails with `code` and leaves the list as it was.
    void ExpectRefusedLeavingABC(const wchar_t* line, DWORD code) {
        SetGroupList(fake, {L"A", L"B", L"C"});
        ::SetLastError(0);
        EXPECT_EQ(RunCommandLine(line).result, 0) << line;
        EXPECT_EQ(::GetLastError(), code) << line;
        EXPECT_EQ(Listed(fake), MultiStringUnits({L"A", L"B", L"C"})) << line;
    }
};

TEST_F(GroupCommandsTest, GroupListSaysGroupOrGroupsAndOnlyTheFailureWhenUnread) {
    const struct {
        std::vector<std::wstring> names;
        const wchar_t* expected;
    } cases[] = {
        {{}, L"Il y a 0 groupe.\n\nGroupes :\n=========\n\n\n"},
        {{L"Base"}, L"Il y a 1 groupe.\n\nGroupes :\n=========\nBase\n\n\n"},
        {{L"Base", L"Extended Base"}, L"Il y a 2 groupes.\n\nGroupes :\n=========\nBase\nExtended Base\n\n\n"},
    };
    for (const auto& c : cases) {
        SetGroupList(fake, c.names);
        const CommandOutcome outcome = RunCommandLine(L"enum service_group ignored words");
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.out, c.expected);
    }
    // A list that cannot be read is not a list of no group.
    fake.registry[GroupListKey].erase(L"list");
    ::SetLastError(0);
    const CommandOutcome unread = RunCommandLine(L"enum service_group");
    EXPECT_EQ(unread.result, 0);
    EXPECT_EQ(unread.out, L"");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(GroupCommandsTest, LoadOrderMarksWhatTheListAndTheTagsDoNotPlace) {
    SetGroupList(fake, {L"A", L"B"});
    SetTagVector(fake, L"A", {5, 3});
    AddGroupedService(fake, L"x", SERVICE_AUTO_START, std::wstring(L"A"), 3);
    AddGroupedService(fake, L"y", SERVICE_AUTO_START, std::wstring(L"A"), 5);
    AddGroupedService(fake, L"z", SERVICE_AUTO_START, std::wstring(L"A"), std::nullopt);
    AddGroupedService(fake, L"w", SERVICE_AUTO_START, std::wstring(L"B"), 1);
    AddGroupedService(fake, L"v", SERVICE_AUTO_START, std::nullopt, std::nullopt);
    AddGroupedService(fake, L"u", SERVICE_AUTO_START, std::wstring(L"C"), std::nullopt);
    AddGroupedService(fake, L"d", SERVICE_DEMAND_START, std::wstring(L"A"), std::nullopt);
    CommandOutcome outcome = RunCommandLine(L"enum service_group_load_order");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, L"Groupe : '< Tous les groupes >'.\n"
                           L"Service 'y'\t\tGroup : 'A'\tTag : 5\n"
                           L"Service 'x'\t\tGroup : 'A'\tTag : 3\n"
                           L"Service 'z'\t\tGroup : 'A'\tTag : n/a*\n"
                           L"Service 'w'\t\tGroup : 'B'\tTag : 1*\n"
                           L"Service 'v'\t\tGroup : 'n/a'*\tTag : n/a*\n"
                           L"Service 'u'\t\tGroup : 'C'*\tTag : n/a*\n"
                           L"\n");
    outcome = RunCommandLine(L"enum service_group_load_order C more words");
    EXPECT_EQ(outcome.out, L"Groupe : 'C'.\nService 'u'\t\tGroup : 'C'*\tTag : n/a*\n\n");
}

TEST_F(GroupCommandsTest, LoadOrderWithoutARegistryWritesOneEmptyLine) {
    {
        OutputCapture discard;
        CloseAllConnections();
    }
    OpenConnection(L"FAR", SC_MANAGER_ALL_ACCESS);
    fake.unreachableMachines.insert(L"FAR");
    const CommandOutcome outcome = RunCommandLine(L"enum service_group_load_order");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, L"\n");
}

TEST_F(GroupCommandsTest, DependentsAreListedByKeyNameWithAPluralThatNeverChanges) {
    fake.AddService(L"Base");
    fake.AddService(L"Top").dependencies = {L"base"};
    fake.AddService(L"Upper").dependencies = {L"Top"};
    fake.AddService(L"Alone");
    EXPECT_EQ(RunCommandLine(L"enum dependent_services base").out,
              L"D\u00E9pendances de base :\nIl y a 2 d\u00E9pendances.\n\nUpper\nTop\n\n")
        << "direct or not, in the reverse of the start order";
    EXPECT_EQ(RunCommandLine(L"enum dependent_services Alone").out,
              L"D\u00E9pendances de Alone :\nIl y a 0 d\u00E9pendances.\n\n\n");
    EXPECT_EQ(RunCommandLine(L"enum dependent_services").out, UsageOf(EnumDependentsHelp));
    EXPECT_EQ(RunCommandLine(L"enum dependent_services Nobody").out, L"\n");
}

// Rows sorted as command words compare names (a case-sensitive or upper-case fold would put
// Charlie before beta, or SvcA before Svc_B), the states in words, the columns padded with spaces.
TEST_F(GroupCommandsTest, ServicesAreListedByKeyNameWithTheirStatesAligned) {
    const struct {
        const wchar_t* name;
        DWORD type;
        DWORD state;
    } machine[] = {
        {L"zeta", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING},
        {L"Alpha", SERVICE_WIN32_SHARE_PROCESS, SERVICE_STOPPED},
        {L"beta", SERVICE_WIN32_OWN_PROCESS, SERVICE_PAUSED},
        {L"Charlie", SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING},
        {L"Svc_B", SERVICE_WIN32_OWN_PROCESS, SERVICE_STOP_PENDING},
        {L"SvcA", SERVICE_WIN32_OWN_PROCESS, SERVICE_CONTINUE_PENDING},
        {L"d", SERVICE_WIN32_OWN_PROCESS, SERVICE_PAUSE_PENDING},
        {L"Fs", SERVICE_FILE_SYSTEM_DRIVER, SERVICE_RUNNING},
        {L"Beep", SERVICE_KERNEL_DRIVER, SERVICE_RUNNING},
    };
    for (const auto& entry : machine)
        fake.AddService(entry.name, entry.type).status.dwCurrentState = entry.state;
    fake.FindService(L"zeta")->displayName = L"Z\u00EAta affich\u00E9e";
    const std::wstring usage = RunCommandLine(L"help enum services").out;
    ASSERT_NE(usage.find(L"ENUM SERVICES [type] [\u00E9tat]"), std::wstring::npos) << usage;
    const std::wstring allServices = L"Il y a 7 services.\n\nServices :\n==========\n"
                                     L"Alpha    Arr\u00EAt\u00E9                  Alpha (display)\n"
                                     L"beta     En pause                beta (display)\n"
                                     L"Charlie  D\u00E9marrage en cours      Charlie (display)\n"
                                     L"d        Mise en pause en cours  d (display)\n"
                                     L"Svc_B    Arr\u00EAt en cours          Svc_B (display)\n"
                                     L"SvcA     Reprise en cours        SvcA (display)\n"
                                     L"zeta     En cours d'ex\u00E9cution    Z\u00EAta affich\u00E9e\n\n";
    const struct {
        const wchar_t* line;
        int result;
        std::wstring out;
    } cases[] = {
        {L"enum services", 1, allServices},
        {L"enum SERVICES Services Tous", 1, allServices},
        {L"enum services services inactifs", 1,
         L"Il y a 1 service.\n\nServices :\n==========\nAlpha  Arr\u00EAt\u00E9  Alpha (display)\n\n"},
        {L"enum services pilotes ACTIFS", 1,
         L"Il y a 2 pilotes.\n\nPilotes :\n=========\n"
         L"Beep  En cours d'ex\u00E9cution  Beep (display)\n"
         L"Fs    En cours d'ex\u00E9cution  Fs (display)\n\n"},
        {L"enum services tous actifs", 1,
         L"Il y a 8 services / pilotes.\n\nServices / pilotes :\n====================\n"
         L"Beep     En cours d'ex\u00E9cution    Beep (display)\n"
         L"beta     En pause                beta (display)\n"
         L"Charlie  D\u00E9marrage en cours      Charlie (display)\n"
         L"d        Mise en pause en cours  d (display)\n"
         L"Fs       En cours d'ex\u00E9cution    Fs (display)\n"
         L"Svc_B    Arr\u00EAt en cours          Svc_B (display)\n"
         L"SvcA     Reprise en cours        SvcA (display)\n"
         L"zeta     En cours d'ex\u00E9cution    Z\u00EAta affich\u00E9e\n\n"},
        {L"enum services pilotes inactifs", 1, L"Il y a 0 pilote.\n\nPilotes :\n=========\n\n"},
        // A state word alone is the state; "tous" alone stays the kind.
        {L"enum services Inactifs", 1,
         L"Il y a 1 service.\n\nServices :\n==========\nAlpha  Arr\u00EAt\u00E9  Alpha (display)\n\n"},
        {L"enum services tous", 1,
         L"Il y a 9 services / pilotes.\n\nServices / pilotes :\n====================\n"
         L"Alpha    Arr\u00EAt\u00E9                  Alpha (display)\n"
         L"Beep     En cours d'ex\u00E9cution    Beep (display)\n"
         L"beta     En pause                beta (display)\n"
         L"Charlie  D\u00E9marrage en cours      Charlie (display)\n"
         L"d        Mise en pause en cours  d (display)\n"
         L"Fs       En cours d'ex\u00E9cution    Fs (display)\n"
         L"Svc_B    Arr\u00EAt en cours          Svc_B (display)\n"
         L"SvcA     Reprise en cours        SvcA (display)\n"
         L"zeta     En cours d'ex\u00E9cution    Z\u00EAta affich\u00E9e\n\n"},
        {L"enum services actifs services", 0, usage},
        {L"enum services services en_cours", 0, usage},
        {L"enum services tous tous tous", 0, usage},
    };
    for (const auto& c : cases) {
        ::SetLastError(0);
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, c.result) << c.line;
        EXPECT_EQ(outcome.out, c.out) << c.line;
        EXPECT_EQ(::GetLastError(), 0u) << c.line;
    }
}

TEST_F(GroupCommandsTest, CreateGroupPlacesByTheLastOption) {
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> after;
    } cases[] = {
        {L"create service_group grp", {L"A", L"B", L"C", L"grp"}},
        {L"create service_group grp order=1", {L"A", L"grp", L"B", L"C"}},
        {L"create service_group grp order=2 set_group_at_the_end", {L"A", L"B", L"C", L"grp"}},
        {L"create service_group grp set_group_at_the_end order=2", {L"A", L"B", L"grp", L"C"}},
        {L"create service_group \"Mon groupe\" order=0", {L"Mon groupe", L"A", L"B", L"C"}},
        {L"create service_group grp order=-1", {L"A", L"B", L"C", L"grp"}},
    };
    for (const auto& c : cases) {
        SetGroupList(fake, {L"A", L"B", L"C"});
        EXPECT_EQ(RunCommandLine(c.line).result, 1) << c.line;
        EXPECT_EQ(Listed(fake), MultiStringUnits(c.after)) << c.line;
    }
}

// A second copy of a listed name, wherever it would go, would be removed with the first by a
// later deletion by name.
TEST_F(GroupCommandsTest, CreateGroupRefusesANameTheListHoldsInAnyCase) {
    for (const wchar_t* line : {L"create service_group a order=0", L"create service_group b order=0",
                                L"create service_group C", L"create service_group \"B\" set_group_at_the_end"})
        ExpectRefusedLeavingABC(line, ERROR_ALREADY_EXISTS);
}

// A cluster's virtual name may be served by another node: its group list is that node's,
// reached through its registry service, never this computer's own registry.
TEST_F(GroupCommandsTest, AClusterNameIsReachedAsAnotherMachine) {
    fake.computerNames[ComputerNameNetBIOS] = L"GRAPPE";
    fake.computerNames[ComputerNameDnsFullyQualified] = L"grappe.corp.example";
    for (const wchar_t* name : {L"GRAPPE", L"grappe.corp.example", L"QUORVAN-PC"}) {
        SetGroupList(fake, {L"A"});
        OpenConnection(name, SC_MANAGER_ALL_ACCESS);
        EXPECT_EQ(RunCommandLine(L"create service_group grp").result, 1) << name;
    }
    EXPECT_EQ(fake.registryConnections, (std::vector<std::wstring>{L"\\\\GRAPPE", L"\\\\grappe.corp.example"}));
}

TEST_F(GroupCommandsTest, DeleteGroupByNameOrPosition) {
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> after;
    } cases[] = {
        {L"delete service_group name=b", {L"A", L"C"}},
        {L"delete service_group NAME=\"B\"", {L"A", L"C"}},
        {L"delete service_group order=0", {L"B", L"C"}},
        {L"delete service_group order=2", {L"A", L"B"}},
        {L"delete service_group name=Z", {L"A", L"B", L"C"}},
    };
    for (const auto& c : cases) {
        SetGroupList(fake, {L"A", L"B", L"C"});
        EXPECT_EQ(RunCommandLine(c.line).result, 1) << c.line;
        EXPECT_EQ(Listed(fake), MultiStringUnits(c.after)) << c.line;
    }
    // A position that holds no group removes nothing, and says so.
    for (const wchar_t* line : {L"delete service_group order=3", L"delete service_group order=99999999999",
                                L"delete service_group order=-1"})
        ExpectRefusedLeavingABC(line, ERROR_NOT_FOUND);
}

TEST_F(GroupCommandsTest, MalformedOptionsShowTheUsageLineAndChangeNothing) {
    SetGroupList(fake, {L"A"});
    const struct {
        const wchar_t* line;
        COMMAND_HELP usage;
    } cases[] = {
        {L"create service_group grp order=2=3", CreateServiceGroupHelp},
        {L"create service_group grp orders=2", CreateServiceGroupHelp},
        {L"create service_group", CreateServiceGroupHelp},
        {L"create service_group a b c d", CreateServiceGroupHelp},
        {L"delete service_group grp", DeleteServiceGroupHelp},
        {L"delete service_group name=", DeleteServiceGroupHelp},
        {L"delete service_group name=a b", DeleteServiceGroupHelp},
        {L"delete service_group order=abc", DeleteServiceGroupHelp},
        // A word where the position belongs would read as 0, before every group.
        {L"create service_group grp order=premier", CreateServiceGroupHelp},
        {L"create service_object", CreateSvcObjHelp},
        {L"create service_object Essai type=own", CreateSvcObjHelp},
        {L"create service_object Essai binary_path=C:\\s.exe start_type=jamais", CreateSvcObjHelp},
        {L"delete service_object a b", DeleteSvcObjHelp},
        {L"delete service_object", DeleteSvcObjHelp},
    };
    for (const auto& c : cases) {
        const CommandOutcome outcome = RunCommandLine(c.line);
        EXPECT_EQ(outcome.result, 0) << c.line;
        EXPECT_EQ(outcome.out, UsageOf(c.usage)) << c.line;
        EXPECT_EQ(CommandLineSlip(), static_cast<unsigned long>(ERROR_INVALID_PARAMETER)) << c.line;
    }
    EXPECT_EQ(fake.FindService(L"Essai"), nullptr);
    EXPECT_EQ(Listed(fake), MultiStringUnits({L"A"}));
}

TEST_F(GroupCommandsTest, CreateServiceObjectUsesTheFixedTestConfiguration) {
    CommandOutcome outcome = RunCommandLine(L"create service_object Essai");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, L"Cr\u00E9ation du service Essai...OK\n");
    const FakeService* created = fake.FindService(L"Essai");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
    EXPECT_EQ(created->startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(*created->binaryPath, L"\"C:\\QuorvanServiceWrapper.exe\" /RunAsService:aah "
                                    L"C:\\windows\\system32\\calc.exe" +
                                        std::wstring(36, L' '));
    outcome = RunCommandLine(L"create service_object Essai");
    EXPECT_EQ(outcome.out, L"Cr\u00E9ation du service Essai...PROBL\u00C8ME\n");
    EXPECT_EQ(RunCommandLine(L"delete service_object essai").result, 1);
    EXPECT_EQ(fake.FindService(L"Essai"), nullptr);
}

// With settings, the service or driver they describe, each setting as typed and the others at
// their defaults; what CreateServiceW cannot set follows in calls of its own.
TEST_F(GroupCommandsTest, CreateServiceObjectWithSettingsMakesTheServiceTheyDescribe) {
    CommandOutcome outcome = RunCommandLine(
        L"create service_object Neuf binary_path=\"\\\"C:\\Outils\\neuf.exe\\\" -s\" start_type=automatique_diff\u00E9r\u00E9 "
        L"description=\"Un service neuf\"");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, L"Cr\u00E9ation du service Neuf...OK\n");
    const FakeService* created = fake.FindService(L"Neuf");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(*created->binaryPath, L"\"C:\\Outils\\neuf.exe\" -s");
    EXPECT_EQ(created->serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(created->startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_TRUE(created->delayedAutoStart);
    EXPECT_EQ(created->errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(created->displayName, L"Neuf") << "the key name as display name";
    EXPECT_EQ(*created->description, L"Un service neuf");

    outcome = RunCommandLine(L"create service_object Pilote binary_path=C:\\pilote.sys type=noyau start_type=syst\u00E8me");
    EXPECT_EQ(outcome.result, 1);
    ASSERT_NE(fake.FindService(L"Pilote"), nullptr);
    EXPECT_EQ(fake.FindService(L"Pilote")->serviceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(fake.FindService(L"Pilote")->startType, static_cast<DWORD>(SERVICE_SYSTEM_START));

    // The service stays when its description cannot be set, and the line says what it lacks.
    fake.FailCall("ChangeServiceConfig2W", ERROR_ACCESS_DENIED);
    ::SetLastError(0);
    outcome = RunCommandLine(L"create service_object Autre binary_path=C:\\a.exe description=Texte");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome.err, L"Le service Autre a \u00E9t\u00E9 cr\u00E9\u00E9, mais sans sa description (erreur 5).\n");
    EXPECT_NE(fake.FindService(L"Autre"), nullptr);
}

// A deletion only marks the service: it stays, and keeps its name, until it is stopped and the
// last handle to it is closed. The console holds none once a command is over.
TEST_F(GroupCommandsTest, ADeletedServiceCanBeCreatedAgainInTheSameSessionOnceStopped) {
    FakeService& running = fake.AddService(L"Essai");
    running.status.dwCurrentState = SERVICE_RUNNING;
    running.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    EXPECT_EQ(RunCommandLine(L"delete service_object Essai").result, 1);
    ASSERT_NE(fake.FindService(L"Essai"), nullptr) << "kept while it runs";
    EXPECT_EQ(RunCommandLine(L"delete service_object Essai").result, 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(RunCommandLine(L"create service_object Essai").out,
              L"Cr\u00E9ation du service Essai...PROBL\u00C8ME\n");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(RunCommandLine(L"stop Essai").result, 1);
    EXPECT_EQ(fake.FindService(L"Essai"), nullptr) << "gone once stopped and no longer held";
    EXPECT_EQ(RunCommandLine(L"create service_object Essai").out, L"Cr\u00E9ation du service Essai...OK\n");

    EXPECT_EQ(RunCommandLine(L"delete service_object Essai").result, 1);
    EXPECT_EQ(RunCommandLine(L"create service_object Essai").out, L"Cr\u00E9ation du service Essai...OK\n")
        << "a stopped service goes at once";
}

} // namespace
