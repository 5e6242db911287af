#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "CommandFixture.h"
#include "CommandRunner.h"
#include "CommandTree.h"
#include "Commands.h"
#include "Connections.h"
#include "FakePlatform.h"
#include "OutputCapture.h"
#include "Program.h"
#include "TemporaryFile.h"

namespace {

const DWORD Marker = 0xBEEF;
const std::wstring NoConnection =
    L"Aucune connexion n'est active : ouvrez-en une avec 'connect', ou choisissez-en une avec 'sactc'.\n";

// Runs command lines through the registered tree, as the loop does, with the list emptied after
// each test so that tests stay independent.
class ConnectionCommandsTest : public CommandFixture {
protected:
    static void SetUpTestSuite() { RegisterCommands(); }

    static int Run(std::vector<std::wstring> words) {
        std::vector<wchar_t*> pointers;
        for (auto& word : words)
            pointers.push_back(&word[0]);
        pointers.push_back(nullptr);
        return ExecuteCommand(pointers.data() + 1, pointers[0], &CommandRoot,
                              static_cast<unsigned long>(words.size() - 1));
    }

    // Runs a command whose output is of no interest.
    static int Quiet(std::vector<std::wstring> words) {
        OutputCapture discard;
        return Run(words);
    }

    // Runs a command and returns what it wrote on standard output.
    static std::wstring Output(std::vector<std::wstring> words, int expectedResult) {
        OutputCapture capture;
        EXPECT_EQ(Run(words), expectedResult) << words[0];
        EXPECT_EQ(capture.Err(), L"") << words[0];
        return capture.Out();
    }

    static std::wstring MachineOf(unsigned long number) {
        CSvcCtrlMgr* connection = GetConnection(number);
        if (!connection)
            return L"<none>";
        ServicesManagement::_SCM_PROPERTIES properties;
        connection->GetProperties(&properties);
        return static_cast<const wchar_t*>(properties.szMachineName);
    }

    static unsigned long RightsOf(unsigned long number) {
        ServicesManagement::_SCM_PROPERTIES properties;
        GetConnection(number)->GetProperties(&properties);
        return properties.dwDesiredAccess;
    }

    // Runs a command that fails with ERROR_NOT_CONNECTED after the one line `why` on the error
    // stream, and returns what it wrote on standard output.
    static std::wstring NotConnected(std::vector<std::wstring> words, const std::wstring& why) {
        OutputCapture capture;
        ::SetLastError(0);
        EXPECT_EQ(Run(words), 0) << words[0];
        EXPECT_EQ(capture.Err(), why) << words[0];
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_CONNECTED)) << words[0];
        return capture.Out();
    }

    static std::wstring NoSuchConnection(const std::wstring& word) {
        return L"La connexion " + word + L" n'existe pas : 'cl' liste les connexions ouvertes.\n";
    }

    void Connect(const std::wstring& machine, const std::wstring& rights = L"1") {
        ASSERT_EQ(Output({L"connect", machine, rights}, 1), L"\n");
    }
};

TEST_F(ConnectionCommandsTest, ConnectAppendsAndActivates) {
    fake.outputIsConsole = true;
    EXPECT_EQ(Output({L"connect", L"SRV1"}, 1), L"");
    EXPECT_EQ(fake.title, L"Quorvan version 0.3.4d - Connection sur SRV1...");
    EXPECT_EQ(Output({L"connect", L"quorvan-pc"}, 1), L"");
    EXPECT_EQ(fake.title, L"Quorvan version 0.3.4d - Connection sur Ordinateur Local (quorvan-pc)...");
    EXPECT_EQ(fake.consoleText, L"\n\n") << "standard output is the console";
    fake.outputIsConsole = false;
    Connect(L"SRV1");
    EXPECT_EQ(ConnectionCount(), 3u) << "the same machine twice gives two entries";
    EXPECT_EQ(ActiveConnectionNumber(), 3u);
    EXPECT_EQ(MachineOf(2), L"quorvan-pc");
    EXPECT_EQ(RightsOf(2), 1u);
    EXPECT_EQ(fake.openedMachines, (std::vector<std::wstring>{L"SRV1", L"quorvan-pc", L"SRV1"}));
}

TEST_F(ConnectionCommandsTest, ConnectRightsAreADecimalNumberWithTheConnectRight) {
    const std::pair<const wchar_t*, unsigned long> cases[] = {
        {L"24", 25}, {L"983103", 983103}, {L"abc", 1}, {L"0x3F", 1}, {L"-1", 0xFFFFFFFF},
        {L"99999999999", 0x7FFFFFFF}, {L"16abc", 17},
    };
    unsigned long number = 0;
    for (const auto& [word, rights] : cases) {
        Connect(L"SRV", word);
        EXPECT_EQ(RightsOf(++number), rights) << word;
    }
}

TEST_F(ConnectionCommandsTest, ConnectNeedsAMachineAndAtMostTheRights) {
    const std::wstring usage = UsageOf(ConnectHelp);
    EXPECT_EQ(usage.rfind(L"\nSe connecte à un ordinateur distant et active la connection.\n\nUTILISATION :\n", 0), 0u) << usage;
    EXPECT_EQ(Output({L"connect"}, 0), usage);
    EXPECT_EQ(Output({L"connect", L"SRV", L"1", L"extra"}, 0), usage);
    EXPECT_EQ(ConnectionCount(), 0u);
    EXPECT_EQ(fake.Calls("OpenSCManagerW"), 0);
}

// The list stays as it was, but the connection that was active is no longer: what follows was
// meant for the machine that could not be reached.
TEST_F(ConnectionCommandsTest, UnreachableMachineLeavesTheListAsItWasAndNoneActive) {
    Connect(L"SRV");
    fake.unreachableMachines.insert(L"FAR");
    OutputCapture capture;
    EXPECT_EQ(Run({L"connect", L"FAR", L"24"}), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(capture.Out(), L"\n");
    EXPECT_NE(capture.Err().find(L"1722"), std::wstring::npos) << capture.Err();
    EXPECT_NE(capture.Err().find(L"SvcCtrlMgr"), std::wstring::npos) << capture.Err();
    EXPECT_EQ(ConnectionCount(), 1u);
    EXPECT_EQ(ActiveConnectionNumber(), 0u);
    EXPECT_EQ(fake.OpenManagers(), 1u);
}

TEST_F(ConnectionCommandsTest, ListShowsEveryConnectionAndTheActiveOne) {
    EXPECT_EQ(Output({L"cl"}, 1), L"Aucun ordinateur n'est connecté pour le moment...\n\n");

    Connect(L"");
    Connect(L"SRV2", L"983103");
    Connect(L"\\\\QUORVAN-PC.", L"16");
    ::SetLastError(Marker);
    EXPECT_EQ(Output({L"cl"}, 1), L"Ordinateurs actuellement connectés :\n"
                                  L"1 : \t(local)\t| 1\n"
                                  L"2 : SRV2\t\t| 983103 \n"
                                  L"3 : \\\\QUORVAN-PC.\t(local)\t| 17 \n"
                                  L"\n"
                                  L"Connection active => 3 : \\\\QUORVAN-PC.\t(local)\t| 17 \n"
                                  L"\n");
    EXPECT_EQ(::GetLastError(), Marker) << "the lock status query of the first connection fails quietly";

    EXPECT_EQ(Output({L"sactc", L"2"}, 1), L"\n");
    EXPECT_EQ(Output({L"lock", L"on"}, 1), L"");
    EXPECT_EQ(Output({L"cl"}, 1), L"Ordinateurs actuellement connectés :\n"
                                  L"1 : \t(local)\t| 1\n"
                                  L"2 : SRV2\t\t| 983103 \f\n"
                                  L"3 : \\\\QUORVAN-PC.\t(local)\t| 17 \f\n"
                                  L"\n"
                                  L"Connection active => 2 : SRV2\t\t| 983103 \f\n"
                                  L"\n");

    EXPECT_EQ(Output({L"sactc", L"0"}, 1), L"\n");
    EXPECT_EQ(Output({L"cl"}, 1), L"Ordinateurs actuellement connectés :\n"
                                  L"1 : \t(local)\t| 1\n"
                                  L"2 : SRV2\t\t| 983103 \f\n"
                                  L"3 : \\\\QUORVAN-PC.\t(local)\t| 17 \f\n"
                                  L"\n"
                                  L"Aucune connection active...\n"
                                  L"\n");
    EXPECT_EQ(ConnectionCount(), 3u) << "sactc 0 closes nothing";
}

TEST_F(ConnectionCommandsTest, ListTakesNoWord) {
    EXPECT_EQ(Output({L"cl", L"x"}, 0),
              L"\n"
              L"Affiche la liste de toutes les connections ouvertes ainsi que\n"
              L"la connection active. La liste se présente sous la forme :\n"
              L"\n"
              L"    1 : nom_ordi_no_1 | droits_1\n"
              L"   ...       ...          ...\n"
              L"    N : nom_ordi_no_N | droits_N\n"
              L"\n"
              L"UTILISATION :\n"
              L"    Mode Batch      : ORVEL <CONNECT:...> CL\n"
              L"    Mode Interactif : CL\n"
              L"\n"
              L"    (local) marque une connection à cet ordinateur, et (perdue, erreur n)\n"
              L"    une connection dont l'ordinateur ne répond plus.\n"
              L"\n"
              L"EXEMPLE :\n"
              L"    CL\n"
              L"\n");
}

TEST_F(ConnectionCommandsTest, SetActiveAcceptsOnlyExistingNumbers) {
    Connect(L"A");
    Connect(L"B");
    Connect(L"C");
    const std::wstring usage = UsageOf(SetActiveConnectionHelp);
    EXPECT_EQ(usage.rfind(L"\nActive une connection donnée parmi celles déjà présentes\n", 0), 0u) << usage;
    EXPECT_EQ(Output({L"sactc"}, 0), usage);
    EXPECT_EQ(Output({L"sactc", L"1", L"2"}, 0), usage);
    EXPECT_EQ(ActiveConnectionNumber(), 3u);

    for (const wchar_t* word : {L"4", L"-1", L"99999999999"})
        EXPECT_EQ(NotConnected({L"sactc", word}, NoSuchConnection(word)), L"\n");
    EXPECT_EQ(ActiveConnectionNumber(), 3u);
    EXPECT_EQ(Output({L"sactc", L"1"}, 1), L"\n");
    EXPECT_EQ(GetActiveConnection(), GetConnection(1));
    EXPECT_EQ(Output({L"sactc", L"abc"}, 1), L"\n") << "a word reads as 0";
    EXPECT_EQ(GetActiveConnection(), nullptr);
    EXPECT_EQ(ConnectionCount(), 3u);
}

TEST_F(ConnectionCommandsTest, CloseBeforeTheActiveRenumbersAndKeepsItActive) {
    Connect(L"A");
    Connect(L"B");
    Connect(L"C");
    EXPECT_EQ(Output({L"cc", L"1"}, 1), L"\n");
    EXPECT_EQ(ConnectionCount(), 2u);
    EXPECT_EQ(MachineOf(1), L"B");
    EXPECT_EQ(MachineOf(2), L"C");
    EXPECT_EQ(ActiveConnectionNumber(), 2u);
    EXPECT_EQ(fake.OpenManagers(), 2u);
}

TEST_F(ConnectionCommandsTest, CloseTheActiveLeavesNoneActive) {
    Connect(L"A");
    Connect(L"B");
    Connect(L"C");
    Quiet({L"sactc", L"2"});
    EXPECT_EQ(Output({L"cc", L"2"}, 1), L"\n");
    EXPECT_EQ(ConnectionCount(), 2u);
    EXPECT_EQ(MachineOf(2), L"C");
    EXPECT_EQ(ActiveConnectionNumber(), 0u);

    // After the active one: the active number stays.
    Quiet({L"sactc", L"1"});
    EXPECT_EQ(Output({L"cc", L"2"}, 1), L"\n");
    EXPECT_EQ(ActiveConnectionNumber(), 1u);
    EXPECT_EQ(MachineOf(1), L"A");
}

TEST_F(ConnectionCommandsTest, CloseOfNoSuchConnectionChangesNothing) {
    Connect(L"A");
    Connect(L"B");
    for (const wchar_t* word : {L"0", L"-1", L"abc", L"3", L"4294967297"})
        EXPECT_EQ(NotConnected({L"cc", word}, NoSuchConnection(word)), L"\n") << word;
    const std::wstring usage = UsageOf(CloseConnectionHelp);
    EXPECT_EQ(usage.rfind(L"\nFerme une connection donnée parmi celles déjà présentes\n", 0), 0u) << usage;
    EXPECT_EQ(Output({L"cc"}, 0), usage);
    EXPECT_EQ(Output({L"cc", L"1", L"2"}, 0), usage);
    EXPECT_EQ(ConnectionCount(), 2u);
    EXPECT_EQ(ActiveConnectionNumber(), 2u);
    EXPECT_EQ(fake.Calls("CloseServiceHandle"), 0);
}

TEST_F(ConnectionCommandsTest, CloseActiveNeedsAnActiveConnection) {
    Connect(L"A");
    Connect(L"B");
    EXPECT_EQ(Output({L"cactc"}, 1), L"\n");
    EXPECT_EQ(ConnectionCount(), 1u);
    EXPECT_EQ(MachineOf(1), L"A");
    EXPECT_EQ(ActiveConnectionNumber(), 0u);
    EXPECT_EQ(NotConnected({L"cactc"}, NoConnection), L"\n");
    EXPECT_EQ(ConnectionCount(), 1u);
    const std::wstring usage = UsageOf(CloseActiveConnectionHelp);
    EXPECT_EQ(usage.rfind(L"\nFerme la connection active.\n", 0), 0u) << usage;
    Quiet({L"sactc", L"1"});
    EXPECT_EQ(Output({L"cactc", L"1"}, 0), usage);
    EXPECT_EQ(ConnectionCount(), 1u);
}

TEST_F(ConnectionCommandsTest, CloseAllWritesTwoLineBreaks) {
    EXPECT_EQ(Output({L"callc"}, 1), L"\n\n");
    Connect(L"A", L"8");
    Connect(L"B");
    ASSERT_EQ(Quiet({L"sactc", L"1"}), 1);
    ASSERT_EQ(Quiet({L"lock", L"on"}), 1);
    EXPECT_EQ(Output({L"callc"}, 1), L"\n\n");
    EXPECT_EQ(ConnectionCount(), 0u);
    EXPECT_EQ(GetActiveConnection(), nullptr);
    EXPECT_EQ(fake.OpenManagers(), 0u);
    EXPECT_EQ(fake.OpenLocks(), 0u);
    Connect(L"A");
    const std::wstring usage = UsageOf(CloseAllConnectionsHelp);
    EXPECT_EQ(usage.rfind(L"\nFerme toutes les connections (pour les afficher,\n", 0), 0u) << usage;
    EXPECT_EQ(Output({L"callc", L"now"}, 0), usage);
    EXPECT_EQ(ConnectionCount(), 1u);
}

TEST_F(ConnectionCommandsTest, LockLeavesDoNothingWithoutAnActiveConnectionOrWithAWord) {
    const struct {
        const wchar_t* word;
        COMMAND_HELP usage;
    } leaves[] = {{L"can_be_locked", CanBeLockedHelp},
                  {L"on", LockOnHelp},
                  {L"off", LockOffHelp},
                  {L"status", LockStatusHelp}};
    for (const auto& leaf : leaves)
        EXPECT_EQ(NotConnected({L"lock", leaf.word}, NoConnection), L"") << leaf.word;
    Connect(L"SRV", L"983103");
    Quiet({L"sactc", L"0"});
    for (const auto& leaf : leaves)
        EXPECT_EQ(NotConnected({L"lock", leaf.word}, NoConnection), L"") << leaf.word;
    Quiet({L"sactc", L"1"});
    for (const auto& leaf : leaves) {
        EXPECT_EQ(Output({L"lock", leaf.word, L"now"}, 0), UsageOf(leaf.usage)) << leaf.word;
        EXPECT_EQ(CommandLineSlip(), static_cast<unsigned long>(ERROR_INVALID_PARAMETER)) << leaf.word;
    }
    EXPECT_FALSE(fake.IsDatabaseLocked());
    EXPECT_EQ(fake.Calls("QueryServiceLockStatusW"), 0);
}

TEST_F(ConnectionCommandsTest, CanBeLockedFollowsTheLockRight) {
    Connect(L"SRV", L"8");
    EXPECT_EQ(Output({L"lock", L"can_be_locked"}, 1), L"Can be locked = yes\n\n");
    Connect(L"SRV", L"983095");
    EXPECT_EQ(Output({L"lock", L"can_be_locked"}, 1), L"Can be locked = no\n\n");
}

TEST_F(ConnectionCommandsTest, LockOnAndOffHoldTheLockOfTheActiveConnection) {
    Connect(L"SRV", L"8");
    ::SetLastError(Marker);
    EXPECT_EQ(Output({L"lock", L"on"}, 1), L"");
    EXPECT_EQ(Output({L"lock", L"on"}, 1), L"");
    EXPECT_EQ(fake.OpenLocks(), 1u);
    Connect(L"SRV", L"8");
    EXPECT_EQ(Output({L"lock", L"off"}, 0), L"") << "another connection's lock is not this one's";
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(Output({L"lock", L"on"}, 0), L"");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
    Quiet({L"sactc", L"1"});
    EXPECT_EQ(Output({L"lock", L"off"}, 1), L"");
    EXPECT_FALSE(fake.IsDatabaseLocked());
    ::SetLastError(Marker);
    EXPECT_EQ(Output({L"lock", L"off"}, 0), L"");
    EXPECT_EQ(::GetLastError(), Marker);

    Connect(L"SRV");
    EXPECT_EQ(Output({L"lock", L"on"}, 0), L"");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ConnectionCommandsTest, LockStatusShowsOwnerAndDuration) {
    Connect(L"SRV", L"16");
    EXPECT_EQ(Output({L"lock", L"status"}, 1),
              L"Is locked     = no\nLocked by     = \nLock duration = 0 second.\n\n");
    fake.lockedByOther = L"CORP\\admin";
    fake.lockDuration = 1;
    EXPECT_EQ(Output({L"lock", L"status"}, 1),
              L"Is locked     = yes\nLocked by     = CORP\\admin\nLock duration = 1 second.\n\n");
    fake.lockDuration = 2;
    fake.lockOwnerKnown = false;
    EXPECT_EQ(Output({L"lock", L"status"}, 1),
              L"Is locked     = yes\nLocked by     = < Don't know the owner >\nLock duration = 2 seconds.\n\n");
    fake.lockDuration = 4294967295u;
    EXPECT_EQ(Output({L"lock", L"status"}, 1),
              L"Is locked     = yes\nLocked by     = < Don't know the owner >\nLock duration = 4294967295 "
              L"seconds.\n\n");

    Connect(L"SRV", L"8");
    EXPECT_EQ(Output({L"lock", L"status"}, 0), L"");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ConnectionCommandsTest, BootConfirmsOrRejectsWithoutAConnection) {
    EXPECT_EQ(Output({L"boot", L"ok"}, 1), L"\n");
    EXPECT_EQ(Output({L"boot", L"OK"}, 0), L"\n") << "the boot is accepted once";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BOOT_ALREADY_ACCEPTED));
    EXPECT_EQ(Output({L"boot", L"Ok"}, 0), L"\n");
    EXPECT_FALSE(fake.restartRequested);
    EXPECT_EQ(Output({L"boot", L"bad"}, 1), L"\n");
    EXPECT_EQ(Output({L"boot", L"BAD"}, 1), L"\n");
    EXPECT_TRUE(fake.restartRequested);
    EXPECT_EQ(fake.bootNotices, (std::vector<BOOL>{1, 1, 1, 0, 0}));
    EXPECT_EQ(ConnectionCount(), 0u);

    fake.elevated = false;
    EXPECT_EQ(Output({L"boot", L"bad"}, 0), L"\n");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ConnectionCommandsTest, WithoutElevationOnlyTheRightsOfEveryUserOpen) {
    fake.elevated = false;
    for (const wchar_t* rights : {L"1", L"20", L"131072"})
        Connect(L"SRV", rights);
    EXPECT_EQ(ConnectionCount(), 3u);
    for (const wchar_t* rights : {L"2", L"8", L"32", L"983103", L"536870912"}) {
        OutputCapture capture;
        EXPECT_EQ(Run({L"connect", L"SRV", rights}), 0) << rights;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << rights;
    }
    EXPECT_EQ(ConnectionCount(), 3u);
    EXPECT_EQ(NotConnected({L"lock", L"on"}, L"Aucune connexion n'est active : la connexion \u00E0 SRV a \u00E9chou\u00E9 "
                                             L"(erreur 5). Reconnectez-vous avec 'connect SRV'.\n"),
              L"");
}

// OpenSCManager: another machine grants a caller that is not one of its administrators only
// the right to connect; this computer answers after its own token.
TEST_F(ConnectionCommandsTest, AnotherMachineGrantsANonAdministratorOnlyTheConnectRight) {
    fake.remoteAdministrator = false;
    const struct {
        const wchar_t* machine;
        const wchar_t* rights;
        int result;
    } cases[] = {{L"SRV", L"1", 1}, {L"SRV", L"4", 0}, {L"\\\\SRV", L"983103", 0}, {L"quorvan-pc", L"983103", 1}};
    for (const auto& c : cases) {
        OutputCapture capture;
        ::SetLastError(0);
        EXPECT_EQ(Run({L"connect", c.machine, c.rights}), c.result) << c.machine << L" " << c.rights;
        EXPECT_EQ(::GetLastError(), c.result ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(ConnectionCount(), 2u);
}

TEST_F(ConnectionCommandsTest, BootTakesExactlyOkOrBad) {
    const std::wstring usage = L"\n"
                               L"Indique si le dernier démarrage doit être enregistré comme la\n"
                               L"dernière configuration valide connue sur l'ordinateur local.\n"
                               L"Refusé quand la connexion active est celle d'un autre ordinateur,\n"
                               L"après un CONNECT qui a échoué, ou sur une connexion perdue.\n"
                               L"\n"
                               L"UTILISATION :\n"
                               L"    Mode Batch      : ORVEL <CONNECT:...> BOOT <OK | BAD>\n"
                               L"    Mode Interactif : BOOT <OK | BAD>\n"
                               L"\n"
                               L"    OK     Enregistre le démarrage en cours comme la dernière\n"
                               L"           configuration valide connue.\n"
                               L"    BAD    Signale le démarrage en cours comme mauvais : l'ordinateur\n"
                               L"           redémarre aussitôt, sans confirmation, avec la dernière\n"
                               L"           configuration valide connue. Le travail non enregistré des\n"
                               L"           programmes ouverts est perdu.\n"
                               L"\n"
                               L"EXEMPLE :\n"
                               L"    BOOT OK\n"
                               L"\n";
    EXPECT_EQ(Output({L"boot"}, 0), usage);
    EXPECT_EQ(Output({L"boot", L"maybe"}, 0), usage);
    EXPECT_EQ(Output({L"boot", L"oki"}, 0), usage);
    EXPECT_EQ(Output({L"boot", L"ok", L"bad"}, 0), usage);
    EXPECT_TRUE(fake.bootNotices.empty());
}

// The whole program in batch mode, with the banner and the tree set up on each run.
class BatchModeTest : public ConnectionCommandsTest {
protected:
    int RunProgram(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), L"Orvel.exe");
        std::vector<wchar_t*> argv;
        for (auto& argument : arguments)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        OutputCapture capture;
        const int code = RunOrvel(static_cast<int>(arguments.size()), argv.data());
        out = fake.outputIsConsole ? fake.consoleText : capture.Out();
        err = capture.Err();
        return code;
    }

    // What follows the banner.
    std::wstring AfterBanner() const {
        const std::wstring banner = L"(c) 2026 Equipe Orvel et Velmarik. Tous droits réservés.\n\n";
        const size_t at = out.find(banner);
        return at == std::wstring::npos ? L"<no banner>" : out.substr(at + banner.size());
    }

    std::wstring out;
    std::wstring err;
};

TEST_F(BatchModeTest, ConnectionArgumentOpensTheMachineForTheCommand) {
    EXPECT_EQ(RunProgram({L"connect:srv,3", L"cl"}), 0);
    EXPECT_EQ(AfterBanner(), L"Ordinateurs actuellement connectés :\n"
                             L"1 : srv\t\t| 3\n"
                             L"\n"
                             L"Connection active => 1 : srv\t\t| 3\n"
                             L"\n"
                             L"\n");
    EXPECT_EQ(err, L"");
    EXPECT_EQ(fake.openedMachines, (std::vector<std::wstring>{L"srv"}));
    EXPECT_EQ(ConnectionCount(), 0u) << "the run closes its connections";

    EXPECT_EQ(RunProgram({L"CONNECT:srv", L"lock", L"can_be_locked"}), 0);
    EXPECT_EQ(AfterBanner(), L"Can be locked = no\n\n\n");
}

TEST_F(BatchModeTest, ExitCodeIsTheCommandsLastError) {
    EXPECT_EQ(RunProgram({L"connect:srv,1", L"lock", L"on"}), static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(err, L"") << "batch mode shows no error banner";
    EXPECT_EQ(RunProgram({L"connect:srv,8", L"lock", L"on"}), 0);
    EXPECT_EQ(fake.OpenLocks(), 0u);
    EXPECT_EQ(fake.OpenManagers(), 0u);
}

TEST_F(BatchModeTest, UnreachableMachineRunsNothing) {
    fake.unreachableMachines.insert(L"far");
    EXPECT_EQ(RunProgram({L"connect:far,3", L"boot", L"ok"}), static_cast<int>(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_TRUE(fake.bootNotices.empty());
    EXPECT_EQ(AfterBanner(), L"");
    EXPECT_NE(err.find(L"1722"), std::wstring::npos) << err;
}

TEST_F(BatchModeTest, WithoutConnectionArgumentTheCommandRunsOnThisMachine) {
    EXPECT_EQ(RunProgram({L"boot", L"ok"}), 0);
    EXPECT_EQ(fake.bootNotices, (std::vector<BOOL>{1}));
    EXPECT_EQ(fake.Calls("OpenSCManagerW"), 1);
    EXPECT_EQ(AfterBanner(), L"\n\n");
}

// Batch mode connects with the connection right alone: the listing of the services asks for the
// enumeration's right through a manager handle of its own, closed with the command.
TEST_F(BatchModeTest, EnumServicesListsOnTheDefaultConnection) {
    fake.AddService(L"Spooler");
    EXPECT_EQ(RunProgram({L"enum", L"services"}), 0);
    EXPECT_NE(AfterBanner().find(L"\nSpooler  "), std::wstring::npos) << AfterBanner();
    EXPECT_EQ(fake.Calls("OpenSCManagerW"), 2);
    EXPECT_EQ(fake.OpenManagers(), 0u);
}

TEST_F(BatchModeTest, ConnectionArgumentAloneListsTheRoot) {
    std::wstring rootListing;
    {
        OutputCapture capture;
        ExecuteCommand(nullptr, nullptr, &CommandRoot, 0);
        rootListing = capture.Out();
    }
    ASSERT_NE(rootListing, L"");
    EXPECT_EQ(RunProgram({L"connect:"}), static_cast<int>(ERROR_INVALID_FUNCTION)) << "it ran nothing";
    EXPECT_EQ(fake.openedMachines, (std::vector<std::wstring>{L""}));
    EXPECT_EQ(AfterBanner(), rootListing + L"\n");
}

// Script mode shows the active connection, its rights and its lock in the prompt.
class PromptTest : public BatchModeTest {
protected:
    int RunScript(const char* text) {
        TemporaryFile script;
        script.Write(text);
        return RunProgram({L"/s", script.path()});
    }
};

TEST_F(PromptTest, PromptFollowsTheActiveConnection) {
    fake.outputIsConsole = true;
    EXPECT_EQ(RunScript("connect srv 24\nlock on\nconnect quorvan-pc\nsactc 0\nsactc 1\n"), 0);
    EXPECT_EQ(AfterBanner(), L"Quorvan> connect srv 24\n\n"
                             L"Quorvan @ srv | 25 > lock on\n"
                             L"Quorvan @ srv | 25 \f > connect quorvan-pc\n\n"
                             L"Quorvan @ quorvan-pc (local) | 1 > sactc 0\n\n"
                             L"Quorvan> sactc 1\n\n"
                             L"Quorvan @ srv | 25 \f > \n"
                             L"\n");
    EXPECT_EQ(fake.title, L"Quorvan version 0.3.4d - Connecté sur srv - Verrouillé");
    EXPECT_EQ(err, L"");
    EXPECT_EQ(fake.OpenLocks(), 0u);
}

// On a console, Ctrl+C runs the control handler on a thread of its own and ends the pending read
// with nothing, so that the loop closes the connections at the same moment as the handler.
TEST_F(BatchModeTest, CtrlCAtThePromptClosesEachConnectionOnce) {
    fake.inputIsConsole = true;
    fake.typedLines = {L"connect srv 24", L"lock on", FakePlatform::CtrlC};
    EXPECT_EQ(RunProgram({}), 0);
    EXPECT_EQ(fake.callsBesideControlHandler, 0) << "both threads closed at once";
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_EQ(ConnectionCount(), 0u);
}

// Ctrl+C pressed while `cc 1` closes its connection: the handler waits until that connection is
// closed and gone from the list, then closes the one left; neither closes what the other does.
TEST_F(BatchModeTest, CtrlCWhileCcClosesAConnectionWaitsForIt) {
    fake.inputIsConsole = true;
    fake.typedLines = {L"connect srv 24", L"lock on", L"connect srv 24", L"cc 1"};
    fake.ctrlCDuringCall = "UnlockServiceDatabase";
    EXPECT_EQ(RunProgram({}), 0);
    EXPECT_EQ(fake.callsBesideControlHandler, 0) << "both threads closed at once";
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 1);
    EXPECT_EQ(fake.Calls("CloseServiceHandle"), 2);
    EXPECT_EQ(ConnectionCount(), 0u);
}

// Ctrl+C while a command reads through the handle its service object keeps: the handler's close
// of the connection waits for that read, then closes the kept handle with the connection; the
// object released afterwards closes nothing twice.
TEST_F(BatchModeTest, CtrlCDuringAReadOnAKeptHandleClosesItWithTheConnection) {
    FakeService& spooler = fake.AddService(L"Spooler");
    spooler.status.dwCurrentState = SERVICE_RUNNING;
    fake.inputIsConsole = true;
    fake.typedLines = {L"connect srv", L"query status Spooler"};
    fake.ctrlCDuringCall = "QueryServiceStatusEx";
    EXPECT_EQ(RunProgram({}), 0);
    EXPECT_EQ(fake.callsBesideControlHandler, 0) << "the handler closed the handle while it was read";
    EXPECT_EQ(fake.Calls("OpenServiceW"), 1);
    EXPECT_EQ(fake.Calls("CloseServiceHandle"), 2) << "the kept handle and the manager, once each";
    EXPECT_EQ(fake.OpenServiceHandles(), 0u);
    EXPECT_EQ(ConnectionCount(), 0u);
}

// After a failed connect the script's next command falls on no machine, not on the one that was
// active before; the open connection stays listed.
TEST_F(PromptTest, AFailedConnectLeavesNoConnectionForTheCommandsThatFollow) {
    FakeService& spooler = fake.AddService(L"Spooler");
    spooler.status.dwCurrentState = SERVICE_RUNNING;
    spooler.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    fake.unreachableMachines.insert(L"far");
    EXPECT_EQ(RunScript("connect quorvan-pc\nconnect far\nstop Spooler\ncl\n"), 0);
    EXPECT_EQ(AfterBanner(), L"Quorvan> connect quorvan-pc\n\n"
                             L"Quorvan @ quorvan-pc (local) | 1 > connect far\n\n"
                             L"Quorvan> stop Spooler\n\n"
                             L"Quorvan> cl\n"
                             L"Ordinateurs actuellement connectés :\n"
                             L"1 : quorvan-pc\t(local)\t| 1\n"
                             L"\n"
                             L"Aucune connection active...\n"
                             L"\n"
                             L"Quorvan> \n"
                             L"\n");
    EXPECT_NE(err.find(L"1722"), std::wstring::npos) << err;
    EXPECT_TRUE(spooler.controlsReceived.empty());
    EXPECT_EQ(spooler.status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(fake.serviceOpenings.empty()) << "no service was even opened";
}

// Ctrl+C, or a closed window, while a group command starts another machine's disabled
// remote-registry service: the control handler puts the start type back before anything else.
TEST_F(BatchModeTest, CtrlCDuringTheRemoteRegistryStartPutsTheStartTypeBack) {
    FakeService& registry = fake.AddService(L"RemoteRegistry", SERVICE_WIN32_SHARE_PROCESS);
    registry.startType = SERVICE_DISABLED;
    const SERVICE_STATUS_PROCESS starting = {SERVICE_WIN32_SHARE_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 1, 2000,
                                             900, 0};
    SERVICE_STATUS_PROCESS running = starting;
    running.dwCurrentState = SERVICE_RUNNING;
    running.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    registry.scriptedStatuses = {registry.status, starting, starting, running};
    fake.inputIsConsole = true;
    fake.typedLines = {L"connect srv", L"enum service_group"};
    fake.ctrlCAtSleep = 1;
    EXPECT_EQ(RunProgram({}), 0);
    EXPECT_EQ(registry.startType, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_TRUE(fake.terminatedProcesses.empty());
    EXPECT_EQ(ConnectionCount(), 0u);
}

// On a console the banner says what the code means, in the platform's first line of text;
// redirected, or without a text, it is the same bytes as ever.
TEST_F(PromptTest, CommandFailureIsReportedOnceAndCleared) {
    const std::wstring rule = L"============================================";
    const std::wstring plain = L"\n" + rule + L"\n| Error, GetLastError() = 5\n" + rule + L"\n\n";
    const struct {
        bool errorIsConsole;
        bool platformHasText;
        std::wstring banner;
    } cases[] = {
        {false, true, plain},
        {true, false, plain},
        {true, true, L"\n" + rule + L"\n| Error, GetLastError() = 5\n| Accès refusé.\n" + rule + L"\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.errorIsConsole << c.platformHasText);
        fake.errorIsConsole = c.errorIsConsole;
        fake.messages.clear();
        if (c.platformHasText)
            fake.messages[ERROR_ACCESS_DENIED] = L"Accès refusé.\r\nSecond line.\r\n";
        fake.consoleText.clear();
        EXPECT_EQ(RunScript("connect srv\nlock on\ncl\ncallc\n"), 0);
        EXPECT_EQ(c.errorIsConsole ? fake.consoleText : err, c.banner);
        EXPECT_EQ(::GetLastError(), 0u) << "the next command starts clean";
    }
}

// A remote machine that stops answering: the first call that waits for it marks its connection
// lost, and from then on nothing is asked of it, neither by the prompt nor by cl nor by closing
// it; a command on it fails at once and says how to recover, which then works.
TEST_F(PromptTest, ALostConnectionIsShownAndClosedWithoutWaitingAgain) {
    fake.AddService(L"Spooler");
    Quiet({L"connect", L"srv2", L"24"});
    fake.StopAnswering(L"srv2");
    const int closesBefore = fake.Calls("CloseServiceHandle");
    EXPECT_EQ(RunScript("cl\nquery status Spooler\ncc 1\nconnect srv2\n"), 0);
    const std::wstring lost = L"(perdue, erreur 1722)";
    EXPECT_EQ(AfterBanner(), L"Quorvan @ srv2 | 25 " + lost + L" > cl\n"
                             L"Ordinateurs actuellement connectés :\n"
                             L"1 : srv2\t\t| 25 " + lost + L"\n"
                             L"\n"
                             L"Connection active => 1 : srv2\t\t| 25 " + lost + L"\n"
                             L"\n"
                             L"Quorvan @ srv2 | 25 " + lost + L" > query status Spooler\n"
                             L"\n"
                             L"Quorvan @ srv2 | 25 " + lost + L" > cc 1\n"
                             L"\n"
                             L"Quorvan> connect srv2\n"
                             L"\n"
                             L"Quorvan> \n"
                             L"\n");
    EXPECT_EQ(err.find(L"La connection 1 avec srv2 est perdue (erreur 1722) : fermez-la avec 'cc 1', puis "
                       L"reconnectez-vous avec 'connect srv2 25'.\n\n===="),
              0u)
        << err;
    EXPECT_EQ(fake.unansweredCalls, 2) << "one read of the lock by the first prompt, one opening by connect";
    EXPECT_EQ(fake.tick, 2 * FakePlatform::RpcTimeout);
    EXPECT_EQ(fake.Calls("CloseServiceHandle"), closesBefore) << "closing a lost connection makes no call";

    fake.AnswerAgain(L"srv2");
    EXPECT_EQ(RunScript("connect srv2 24\nlock on\n"), 0);
    EXPECT_EQ(AfterBanner(), L"Quorvan> connect srv2 24\n\n"
                             L"Quorvan @ srv2 | 25 > lock on\n"
                             L"Quorvan @ srv2 | 25 \f > \n"
                             L"\n");
    EXPECT_EQ(fake.unansweredCalls, 2);
}

// Only the codes by which the RPC runtime says that a machine no longer answers lose a connection;
// ERROR_INVALID_HANDLE does once the binding to a remote machine is gone, never on this machine.
TEST_F(ConnectionCommandsTest, OnlyTheCodesOfAMachineThatNoLongerAnswersLoseItsConnection) {
    const struct {
        const wchar_t* machine;
        DWORD code;
        bool lost;
    } cases[] = {
        {L"srv2", RPC_S_SERVER_UNAVAILABLE, true}, {L"srv2", RPC_S_CALL_FAILED, true},
        {L"srv2", RPC_S_CALL_FAILED_DNE, true},    {L"srv2", RPC_S_INVALID_BINDING, true},
        {L"srv2", RPC_X_SS_IN_NULL_CONTEXT, true}, {L"srv2", ERROR_INVALID_HANDLE, true},
        {L"quorvan-pc", ERROR_INVALID_HANDLE, false}, {L"srv2", RPC_S_SERVER_TOO_BUSY, false},
        {L"srv2", ERROR_ACCESS_DENIED, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.code << " on " << c.machine);
        Quiet({L"connect", c.machine, L"16"});
        fake.FailCall("QueryServiceLockStatusW", c.code);
        const std::wstring list = Output({L"cl"}, 1);
        EXPECT_EQ(list.find(L"(perdue, erreur " + std::to_wstring(c.code) + L")") != std::wstring::npos, c.lost)
            << list;
        EXPECT_EQ(ConnectionLossCode(GetConnection(1)), c.lost ? c.code : 0u);
        Quiet({L"callc"});
        fake.AnswerAgain(c.machine);
    }
}

// Another machine's registry is reached through its remote-registry service, a channel of its own
// (RegConnectRegistryW): its failure loses the connection only when the manager, asked once, does
// not answer either. A connection that still answers is closed at the end, as any other.
TEST_F(BatchModeTest, ARegistryChannelFailureLosesTheConnectionOnlyWithTheManager) {
    fake.AddService(L"RemoteRegistry", SERVICE_WIN32_SHARE_PROCESS);
    for (const bool managerAnswers : {true, false}) {
        SCOPED_TRACE(managerAnswers ? "the manager answers" : "the manager fails too");
        fake.FailCall("RegConnectRegistryW", RPC_S_SERVER_UNAVAILABLE);
        if (!managerAnswers)
            fake.FailCall("QueryServiceLockStatusW", RPC_S_CALL_FAILED, 1, 10);
        EXPECT_EQ(RunProgram({L"connect:srv2,1", L"enum", L"service_group"}),
                  static_cast<int>(RPC_S_SERVER_UNAVAILABLE));
        EXPECT_EQ(fake.OpenManagers(), managerAnswers ? 0u : 1u);
        EXPECT_EQ(fake.FindService(L"RemoteRegistry")->status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        fake.AnswerAgain(L"srv2");
    }
}

// The exit code of a command line that ran nothing through its own slip: 1 for words that name
// no command, 87 for words that the command does not take, with or without a usage text.
TEST_F(BatchModeTest, ACommandLineSlipEndsWithItsOwnCode) {
    fake.AddService(L"Spooler");
    const DWORD unknown = ERROR_INVALID_FUNCTION;
    const DWORD wrongWords = ERROR_INVALID_PARAMETER;
    const struct {
        std::vector<std::wstring> arguments;
        DWORD code;
    } cases[] = {
        {{L"nosuchcommand"}, unknown},
        {{L"connect:srv"}, unknown},
        {{L"lock"}, unknown},
        {{L"get", L"service"}, unknown},
        {{L"query", L"status"}, wrongWords},
        {{L"query", L"status", L"Spooler", L"Spooler"}, wrongWords},
        {{L"query", L"config"}, wrongWords},
        {{L"query", L"configex", L"a", L"b"}, wrongWords},
        {{L"get", L"service", L"key_name"}, wrongWords},
        {{L"get", L"service", L"pid", L"a", L"b"}, wrongWords},
        {{L"enum", L"dependent_services"}, wrongWords},
        {{L"lock", L"on", L"extra"}, wrongWords},
        {{L"set", L"configex", L"Spooler", L"extra"}, wrongWords},
        {{L"start"}, wrongWords},
        {{L"create", L"service_group", L"G", L"order=premier"}, wrongWords},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(RunProgram(c.arguments), static_cast<int>(c.code));
        EXPECT_TRUE(fake.serviceOpenings.empty()) << "nothing was asked of the machine";
    }
}

// A password typed on a script's line is no output: the echo hides it.
TEST_F(PromptTest, AScriptEchoHidesThePasswordOfItsLines) {
    fake.AddService(L"Spooler");
    EXPECT_EQ(RunScript("connect srv 9\nset config Spooler account=.\\u password=S3cret\n"), 0);
    EXPECT_EQ(fake.lastConfigChange->password, std::optional<std::wstring>(L"S3cret"));
    EXPECT_EQ(out.find(L"S3cret"), std::wstring::npos) << out;
    EXPECT_NE(out.find(L"> set config Spooler account=.\\u password=********\n"), std::wstring::npos) << out;
}

// A command that failed with a machine's code names no connection it did not reach: the one that
// an earlier command reached is not marked lost.
TEST_F(PromptTest, AFailureLosesOnlyTheConnectionThatTheCommandReached) {
    fake.AddService(L"Spooler");
    fake.unreachableMachines.insert(L"far");
    EXPECT_EQ(RunScript("connect srv1\nquery status Spooler\nconnect far\nsactc 1\ncl\n"), 0);
    EXPECT_EQ(AfterBanner().find(L"perdue"), std::wstring::npos) << AfterBanner();
}

// Ctrl+C closes the connections that answer; a lost one is left to its machine, with no call.
TEST_F(ConnectionCommandsTest, CtrlCAsksNothingOfALostConnection) {
    Connect(L"srv2", L"9");
    Quiet({L"lock", L"on"});
    fake.StopAnswering(L"srv2");
    ReadConnectionState(GetConnection(1));
    ASSERT_NE(ConnectionLossCode(GetConnection(1)), 0u);
    const int unanswered = fake.unansweredCalls;
    const int closes = fake.Calls("CloseServiceHandle");
    ConsoleCtrlHandler(CTRL_C_EVENT);
    EXPECT_EQ(fake.unansweredCalls, unanswered);
    EXPECT_EQ(fake.Calls("CloseServiceHandle"), closes);
    EXPECT_EQ(fake.Calls("UnlockServiceDatabase"), 0);
    fake.AnswerAgain(L"srv2");
}

// A command that loses its connection in batch mode ends with the code, and the closing that
// follows asks nothing of the machine (no remote-registry stop, no handle closed).
TEST_F(BatchModeTest, ACommandThatLosesItsConnectionLeavesWithoutWaitingAgain) {
    fake.AddService(L"Spooler");
    fake.FailCall("QueryServiceStatusEx", RPC_S_CALL_FAILED);
    EXPECT_EQ(RunProgram({L"connect:srv2,5", L"query", L"status", L"Spooler"}), static_cast<int>(RPC_S_CALL_FAILED));
    EXPECT_EQ(fake.serviceNamesOpened, std::vector<std::wstring>(fake.serviceNamesOpened.size(), L"Spooler"))
        << "the remote-registry service is not stopped";
    EXPECT_EQ(fake.OpenManagers(), 1u) << "the lost connection's handle is left to the machine";
    fake.AnswerAgain(L"srv2");
}

} // namespace
