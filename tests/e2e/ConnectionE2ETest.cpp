// The connection list and its commands (connect, cl, sactc, cc, cactc, callc), the prompt that
// shows the active connection, the lock and boot commands, and batch mode's connection argument,
// seen from outside under Wine: exact bytes on both streams and the exit code.
//
// Wine's SCM shapes what these runs can show: LockServiceDatabase always succeeds,
// QueryServiceLockStatusW always fails without touching the last-error value (so neither the
// prompt nor `cl` ever shows the lock marker and `lock status` prints nothing), and
// OpenSCManagerW binds lazily, so any machine name opens.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteComparison.h"
#include "OrvelRunner.h"
#include "ShellText.h"

namespace {

std::wstring ComputerNameIn(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    GetComputerNameExW(format, nullptr, &size);
    std::wstring name(size + 1, L'\0');
    size = static_cast<DWORD>(name.size());
    if (!GetComputerNameExW(format, &name[0], &size)) {
        return std::wstring();
    }
    name.resize(size);
    return name;
}

// The name the tests connect to; read at run time because every Wine prefix has its own.
const std::wstring& Computer() {
    static const std::wstring name = ComputerNameIn(ComputerNameNetBIOS);
    return name;
}

// Whether the console must mark `name` "(local)": empty, or one of the machine's eight names
// as is, with a trailing dot, with two leading backslashes, or both, whatever the case. Wine
// has an empty DNS domain, which makes "." and "\\" local too.
bool NamesThisMachine(const std::wstring& name) {
    if (name.empty()) {
        return true;
    }
    for (int format = ComputerNameNetBIOS; format <= ComputerNamePhysicalDnsFullyQualified; ++format) {
        const std::wstring own = ComputerNameIn(static_cast<COMPUTER_NAME_FORMAT>(format));
        for (const std::wstring& candidate : {own, own + L".", L"\\\\" + own, L"\\\\" + own + L"."}) {
            if (_wcsicmp(candidate.c_str(), name.c_str()) == 0) {
                return true;
            }
        }
    }
    return false;
}

std::string Narrow(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c);
    }
    return bytes;
}

struct Connection {
    std::wstring machine;
    unsigned long rights;
};

std::wstring Described(const Connection& c) {
    return c.machine + L"\t" + (NamesThisMachine(c.machine) ? L"(local)" : L"") + L"\t| " +
           std::to_wstring(c.rights);
}

// The prompt with an active connection followed by a script line as the script mode echoes it.
std::string PromptedAt(const Connection& active, const std::wstring& line) {
    return Bytes(L"Quorvan @ " + active.machine + (NamesThisMachine(active.machine) ? L" (local)" : L"") +
                 L" | " + std::to_wstring(active.rights) + L" > " + line + L"\n");
}

// What `cl` writes for `list`, with connection `active` (1-based, 0 for none) marked.
std::string ConnectionList(const std::vector<Connection>& list, size_t active) {
    if (list.empty()) {
        return Bytes(L"Aucun ordinateur n'est connecté pour le moment...\n\n");
    }
    std::wstring text = L"Ordinateurs actuellement connectés :\n";
    for (size_t i = 0; i < list.size(); ++i) {
        text += std::to_wstring(i + 1) + L" : " + Described(list[i]) + L"\n";
    }
    text += L"\n";
    if (active == 0) {
        text += L"Aucune connection active...\n";
    } else {
        text +=
            L"Connection active => " + std::to_wstring(active) + L" : " + Described(list[active - 1]) + L"\n";
    }
    return Bytes(text + L"\n");
}

// Every connection command but `cl` and `callc` ends with one line break; `callc` writes the one
// of the closing and one more; the end of a run closes everything and writes one.
const std::string kDone = "\r\n";
const std::string kAllClosed = "\r\n\r\n";

std::string ConnectUsage() {
    return Bytes(LR"(
Se connecte à un ordinateur distant et active la connection.

UTILISATION :
    Mode Batch      : ORVEL CONNECT:<serveur>[,droits] <commande> [mots...]
                      (bien penser à mettre les ':', et aussi la ','
                      si les droits optionnels sont spécifiés).
    Mode Interactif : CONNECT <serveur> [droits]

    <serveur>    Peut être soit un nom complet d'ordinateur, un nom de
                 la forme \\nom_serveur, une adresse IPv4.
    [droits]     Numéro en décimal, ou somme de numéros, des droits de
                 connection (SC_MANAGER_CONNECT seul par défaut) :

                          Droits de connection
           ----------------------------------------------------
                (hex)    (dec)     (valeur #define)
               0x00001  1       SC_MANAGER_CONNECT
               0x00002  2       SC_MANAGER_CREATE_SERVICE
               0x00004  4       SC_MANAGER_ENUMERATE_SERVICE
               0x00008  8       SC_MANAGER_LOCK
               0x00010  16      SC_MANAGER_QUERY_LOCK_STATUS
               0x00020  32      SC_MANAGER_MODIFY_BOOT_CONFIG
               0xf003f  983103  SC_MANAGER_ALL_ACCESS

    Quand la connection échoue, aucune connection ne reste active (celles
    qui sont ouvertes le restent).

EXEMPLE :
    CONNECT SRV01 983103
    ORVEL CONNECT:SRV01,5 ENUM SERVICES

)");
}

std::string ClUsage() {
    return Bytes(LR"(
Affiche la liste de toutes les connections ouvertes ainsi que
la connection active. La liste se présente sous la forme :

    1 : nom_ordi_no_1 | droits_1
   ...       ...          ...
    N : nom_ordi_no_N | droits_N

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> CL
    Mode Interactif : CL

    (local) marque une connection à cet ordinateur, et (perdue, erreur n)
    une connection dont l'ordinateur ne répond plus.

EXEMPLE :
    CL

)");
}

std::string SactcUsage() {
    return Bytes(LR"(
Active une connection donnée parmi celles déjà présentes
(pour les afficher, utilisez la commande 'CL').

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> SACTC <n>
    Mode Interactif : SACTC <n>

    <n>    Numéro de connection à activer.

EXEMPLE :
    Si un appel à la commande 'CL' renvoie :

    1 : nom_ordi_no_1 | droits_1
   ...       ...          ...
    N : nom_ordi_no_N | droits_N

    Le fait de taper : 'SACTC 1' va activer la connection numéro 1,
    c'est-à-dire activer l'ordinateur nom_ordi_no_1.
    Aussi, l'invite :
        Quorvan>
    ou bien :
        Quorvan @ nom_ordi | droits >
    se transforme en :
        Quorvan @ nom_ordi_no_1 | droits_1 >

REMARQUE : L'appel : 'SACTC 0' fait passer le programme en mode
           'déconnection' sans toutefois fermer la connection active
           (contrairement à l'action de la commande 'CACTC').

)");
}

std::string CcUsage() {
    return Bytes(LR"(
Ferme une connection donnée parmi celles déjà présentes
(pour les afficher, utilisez la commande 'CL'). Les connections
suivantes sont renumérotées.

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> CC <n>
    Mode Interactif : CC <n>

    <n>    Numéro de connection à fermer.

EXEMPLE :
    Si un appel à la commande 'CL' renvoie :

    1 : nom_ordi_no_1 | droits_1
   ...       ...          ...
    N : nom_ordi_no_N | droits_N

    Le fait de taper : 'CC 1' va fermer la connection numéro 1.

)");
}

std::string CactcUsage() {
    return Bytes(LR"(
Ferme la connection active.

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> CACTC
    Mode Interactif : CACTC

    Aussi, l'invite :
        Quorvan @ nom_ordi | droits >
    se transforme en :
        Quorvan>

EXEMPLE :
    CACTC

)");
}

std::string CallcUsage() {
    return Bytes(LR"(
Ferme toutes les connections (pour les afficher,
utilisez la commande 'CL').

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> CALLC
    Mode Interactif : CALLC

    Aussi, l'invite :
        Quorvan @ nom_ordi | droits >
    se transforme en :
        Quorvan>

EXEMPLE :
    CALLC

)");
}

std::string BootUsage() {
    return Bytes(LR"(
Indique si le dernier démarrage doit être enregistré comme la
dernière configuration valide connue sur l'ordinateur local.
Refusé quand la connexion active est celle d'un autre ordinateur,
après un CONNECT qui a échoué, ou sur une connexion perdue.

UTILISATION :
    Mode Batch      : ORVEL <CONNECT:...> BOOT <OK | BAD>
    Mode Interactif : BOOT <OK | BAD>

    OK     Enregistre le démarrage en cours comme la dernière
           configuration valide connue.
    BAD    Signale le démarrage en cours comme mauvais : l'ordinateur
           redémarre aussitôt, sans confirmation, avec la dernière
           configuration valide connue. Le travail non enregistré des
           programmes ouverts est perdu.

EXEMPLE :
    BOOT OK

)");
}

// Runs a script that must end cleanly, with `expectedErr` (by default nothing) on the error stream.
void ExpectScript(const std::string& script, const std::string& expectedOut,
                  const std::string& expectedErr = std::string()) {
    OrvelRun run = RunOrvelScript(script);

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual, Banner() + expectedOut, run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, expectedErr, run.err);
}

// What a script line writes on the error stream when it needs a connection and none is active.
std::string NoConnection() {
    return Bytes(L"Aucune connexion n'est active : ouvrez-en une avec 'connect', ou choisissez-en une avec 'sactc'.\n") +
           ErrorBanner(ERROR_NOT_CONNECTED);
}

// The same for a connection number, as typed, that names no connection.
std::string NoSuchConnection(const std::wstring& word) {
    return Bytes(L"La connexion " + word + L" n'existe pas : 'cl' liste les connexions ouvertes.\n") +
           ErrorBanner(ERROR_NOT_CONNECTED);
}

class ConnectionScriptE2E : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Computer().empty()) << "GetComputerNameExW gave no NetBIOS name";
        ASSERT_TRUE(NamesThisMachine(Computer()));
        ASSERT_TRUE(NamesThisMachine(L"\\\\" + Computer()));
        ASSERT_FALSE(NamesThisMachine(L"far"));
    }

    const std::wstring& name = Computer();
    const std::string nameBytes = Narrow(Computer());
};

TEST_F(ConnectionScriptE2E, ConnectsToThisMachineByNameAndByBackslashedNameAndListsThem) {
    const Connection plain{name, 1};
    const Connection backslashed{L"\\\\" + name, 9};
    const Connection remote{L"far", 17};
    ExpectScript("cl\n"
                 "connect " +
                     nameBytes +
                     "\n"
                     "connect \\\\" +
                     nameBytes +
                     " 8\n"
                     "cl\n"
                     "connect far 16\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"cl") + ConnectionList({}, 0) +                                         //
                     Prompted(L"connect " + name) + kDone +                                        //
                     PromptedAt(plain, L"connect \\\\" + name + L" 8") + kDone +                   //
                     PromptedAt(backslashed, L"cl") + ConnectionList({plain, backslashed}, 2) +    //
                     PromptedAt(backslashed, L"connect far 16") + kDone +                          //
                     PromptedAt(remote, L"cl") + ConnectionList({plain, backslashed, remote}, 3) + //
                     PromptedAt(remote, L"exit") + kLineBreak);
}

// Two connections to this machine, a switch to the first, its closing, and the list again.
TEST_F(ConnectionScriptE2E, KeepsTwoEntriesForOneMachineAndRenumbersWhenTheFirstCloses) {
    const Connection first{name, 1};
    const Connection second{name, 1};
    ExpectScript("connect " + nameBytes +
                     "\n"
                     "connect " +
                     nameBytes +
                     "\n"
                     "cl\n"
                     "sactc 1\n"
                     "cc 1\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"connect " + name) + kDone +                               //
                     PromptedAt(first, L"connect " + name) + kDone +                  //
                     PromptedAt(second, L"cl") + ConnectionList({first, second}, 2) + //
                     PromptedAt(second, L"sactc 1") + kDone +                         //
                     PromptedAt(first, L"cc 1") + kDone +                             //
                     Prompted(L"cl") + ConnectionList({second}, 0) +                  //
                     Prompted(L"exit") + kLineBreak);
}

TEST_F(ConnectionScriptE2E, ClosingAConnectionBeforeTheActiveOneMovesTheActiveNumberDown) {
    const Connection one{name, 1};
    const Connection two{name, 9};
    const Connection three{name, 17};
    ExpectScript("connect " + nameBytes +
                     "\n"
                     "connect " +
                     nameBytes +
                     " 8\n"
                     "connect " +
                     nameBytes +
                     " 16\n"
                     "cc 1\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"connect " + name) + kDone +                           //
                     PromptedAt(one, L"connect " + name + L" 8") + kDone +        //
                     PromptedAt(two, L"connect " + name + L" 16") + kDone +       //
                     PromptedAt(three, L"cc 1") + kDone +                         //
                     PromptedAt(three, L"cl") + ConnectionList({two, three}, 2) + //
                     PromptedAt(three, L"exit") + kLineBreak);
}

TEST_F(ConnectionScriptE2E, ClosingTheActiveConnectionLeavesNoneActiveAndRenumbersTheNextOne) {
    const Connection one{name, 1};
    const Connection two{name, 9};
    const Connection three{name, 17};
    ExpectScript("connect " + nameBytes +
                     "\n"
                     "connect " +
                     nameBytes +
                     " 8\n"
                     "connect " +
                     nameBytes +
                     " 16\n"
                     "sactc 2\n"
                     "cc 2\n"
                     "cl\n"
                     "sactc 2\n"
                     "cc 1\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"connect " + name) + kDone +                      //
                     PromptedAt(one, L"connect " + name + L" 8") + kDone +   //
                     PromptedAt(two, L"connect " + name + L" 16") + kDone +  //
                     PromptedAt(three, L"sactc 2") + kDone +                 //
                     PromptedAt(two, L"cc 2") + kDone +                      //
                     Prompted(L"cl") + ConnectionList({one, three}, 0) +     //
                     Prompted(L"sactc 2") + kDone +                          //
                     PromptedAt(three, L"cc 1") + kDone +                    //
                     PromptedAt(three, L"cl") + ConnectionList({three}, 1) + //
                     PromptedAt(three, L"exit") + kLineBreak);
}

TEST_F(ConnectionScriptE2E, SwitchesDeactivatesAndClosesTheActiveOrEveryConnection) {
    const Connection one{name, 1};
    const Connection two{L"far", 1};
    ExpectScript("cactc\n"
                 "callc\n"
                 "connect " +
                     nameBytes +
                     "\n"
                     "connect far\n"
                     "sactc 1\n"
                     "sactc 0\n"
                     "cl\n"
                     "cactc\n"
                     "sactc 2\n"
                     "cactc\n"
                     "cl\n"
                     "connect far\n"
                     "callc\n"
                     "cl\n"
                     "callc\n"
                     "exit\n",
                 Prompted(L"cactc") + kDone +                          //
                     Prompted(L"callc") + kAllClosed +                 //
                     Prompted(L"connect " + name) + kDone +            //
                     PromptedAt(one, L"connect far") + kDone +         //
                     PromptedAt(two, L"sactc 1") + kDone +             //
                     PromptedAt(one, L"sactc 0") + kDone +             //
                     Prompted(L"cl") + ConnectionList({one, two}, 0) + //
                     Prompted(L"cactc") + kDone +                      //
                     Prompted(L"sactc 2") + kDone +                    //
                     PromptedAt(two, L"cactc") + kDone +               //
                     Prompted(L"cl") + ConnectionList({one}, 0) +      //
                     Prompted(L"connect far") + kDone +                //
                     PromptedAt(two, L"callc") + kAllClosed +          //
                     Prompted(L"cl") + ConnectionList({}, 0) +         //
                     Prompted(L"callc") + kAllClosed +                 //
                     Prompted(L"exit") + kLineBreak,
                 NoConnection() + NoConnection());
}

TEST_F(ConnectionScriptE2E, PrintsUsageTextsForWrongWordCountsAndChangesNothing) {
    const Connection one{name, 1};
    ExpectScript("connect\n"
                 "connect \"\"\n"
                 "connect " +
                     nameBytes +
                     "\n"
                     "connect a 1 extra\n"
                     "cl now\n"
                     "sactc\n"
                     "sactc 1 2\n"
                     "cc\n"
                     "cc 1 2\n"
                     "cactc now\n"
                     "callc all\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"connect") + ConnectUsage() +                      //
                     Prompted(L"connect \"\"") + ConnectUsage() +             //
                     Prompted(L"connect " + name) + kDone +                   //
                     PromptedAt(one, L"connect a 1 extra") + ConnectUsage() + //
                     PromptedAt(one, L"cl now") + ClUsage() +                 //
                     PromptedAt(one, L"sactc") + SactcUsage() +               //
                     PromptedAt(one, L"sactc 1 2") + SactcUsage() +           //
                     PromptedAt(one, L"cc") + CcUsage() +                     //
                     PromptedAt(one, L"cc 1 2") + CcUsage() +                 //
                     PromptedAt(one, L"cactc now") + CactcUsage() +           //
                     PromptedAt(one, L"callc all") + CallcUsage() +           //
                     PromptedAt(one, L"cl") + ConnectionList({one}, 1) +      //
                     PromptedAt(one, L"exit") + kLineBreak);
}

// The rights word is read as a decimal long (anything else reads as 0, out-of-range values are
// clamped) and SC_MANAGER_CONNECT is always added; the prompt shows the mask as unsigned.
TEST_F(ConnectionScriptE2E, ReadsOddRightsWordsAsDecimalAndAlwaysAddsTheConnectRight) {
    const Connection word{name, 1};
    const Connection negative{name, 4294967291ul};
    const Connection hexadecimal{name, 1};
    const Connection huge{name, 2147483647ul};
    const Connection hugeNegative{name, 2147483649ul};
    const Connection trailing{name, 13};
    ExpectScript("connect " + nameBytes +
                     " rights\n"
                     "connect " +
                     nameBytes +
                     " -5\n"
                     "connect " +
                     nameBytes +
                     " 0x3F\n"
                     "connect " +
                     nameBytes +
                     " 99999999999\n"
                     "connect " +
                     nameBytes +
                     " -99999999999\n"
                     "connect " +
                     nameBytes +
                     " 12abc\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"connect " + name + L" rights") + kDone +                                  //
                     PromptedAt(word, L"connect " + name + L" -5") + kDone +                          //
                     PromptedAt(negative, L"connect " + name + L" 0x3F") + kDone +                    //
                     PromptedAt(hexadecimal, L"connect " + name + L" 99999999999") + kDone +          //
                     PromptedAt(huge, L"connect " + name + L" -99999999999") + kDone +                //
                     PromptedAt(hugeNegative, L"connect " + name + L" 12abc") + kDone +               //
                     PromptedAt(trailing, L"cl") +                                                    //
                     ConnectionList({word, negative, hexadecimal, huge, hugeNegative, trailing}, 6) + //
                     PromptedAt(trailing, L"exit") + kLineBreak);
}

// A number that names no connection changes nothing and says so, as typed: zero and words
// deactivate with sactc but close nothing with cc; negative and overlarge numbers, taken as
// unsigned, are past the end.
TEST_F(ConnectionScriptE2E, IgnoresConnectionNumbersThatNameNoConnection) {
    const Connection one{name, 1};
    const Connection two{L"far", 1};
    ExpectScript("connect " + nameBytes +
                     "\n"
                     "connect far\n"
                     "sactc 3\n"
                     "sactc -1\n"
                     "sactc 99999999999\n"
                     "sactc -4294967295\n"
                     "cc 3\n"
                     "cc -1\n"
                     "cc 0\n"
                     "cc first\n"
                     "cc 99999999999\n"
                     "cl\n"
                     "sactc first\n"
                     "cl\n"
                     "sactc 1\n"
                     "sactc 0\n"
                     "cc 0\n"
                     "cl\n"
                     "exit\n",
                 Prompted(L"connect " + name) + kDone +                       //
                     PromptedAt(one, L"connect far") + kDone +                //
                     PromptedAt(two, L"sactc 3") + kDone +                    //
                     PromptedAt(two, L"sactc -1") + kDone +                   //
                     PromptedAt(two, L"sactc 99999999999") + kDone +          //
                     PromptedAt(two, L"sactc -4294967295") + kDone +          //
                     PromptedAt(two, L"cc 3") + kDone +                       //
                     PromptedAt(two, L"cc -1") + kDone +                      //
                     PromptedAt(two, L"cc 0") + kDone +                       //
                     PromptedAt(two, L"cc first") + kDone +                   //
                     PromptedAt(two, L"cc 99999999999") + kDone +             //
                     PromptedAt(two, L"cl") + ConnectionList({one, two}, 2) + //
                     PromptedAt(two, L"sactc first") + kDone +                //
                     Prompted(L"cl") + ConnectionList({one, two}, 0) +        //
                     Prompted(L"sactc 1") + kDone +                           //
                     PromptedAt(one, L"sactc 0") + kDone +                    //
                     Prompted(L"cc 0") + kDone +                              //
                     Prompted(L"cl") + ConnectionList({one, two}, 0) +        //
                     Prompted(L"exit") + kLineBreak,
                 NoSuchConnection(L"3") + NoSuchConnection(L"-1") + NoSuchConnection(L"99999999999") +
                     NoSuchConnection(L"-4294967295") + NoSuchConnection(L"3") + NoSuchConnection(L"-1") +
                     NoSuchConnection(L"0") + NoSuchConnection(L"first") + NoSuchConnection(L"99999999999") +
                     NoSuchConnection(L"0"));
}

// Names are passed on unchanged; under Wine every one of them opens. Quotes give a name with
// spaces, and a pair of quotes alone is no word at all, so the next word becomes the machine.
TEST_F(ConnectionScriptE2E, OpensOddMachineNamesAsTypedAndListsThemConsistently) {
    const std::wstring longName(300, L'm');
    const Connection longOne{longName, 1};
    const Connection spaced{L"with space", 9};
    const Connection twoBackslashes{L"\\\\", 1};
    const Connection fourBackslashes{L"\\\\\\\\", 1};
    const Connection quotesThenNumber{L"9", 1};
    ExpectScript(
        "connect " + Narrow(longName) +
            "\n"
            "connect \"with space\" 8\n"
            "connect \\\\\n"
            "connect \\\\\\\\\n"
            "connect \"\" 9\n"
            "cl\n"
            "cc 2\n"
            "cc 1\n"
            "sactc 2\n"
            "cl\n"
            "exit\n",
        Prompted(L"connect " + longName) + kDone +                                                    //
            PromptedAt(longOne, L"connect \"with space\" 8") + kDone +                                //
            PromptedAt(spaced, L"connect \\\\") + kDone +                                             //
            PromptedAt(twoBackslashes, L"connect \\\\\\\\") + kDone +                                 //
            PromptedAt(fourBackslashes, L"connect \"\" 9") + kDone +                                  //
            PromptedAt(quotesThenNumber, L"cl") +                                                     //
            ConnectionList({longOne, spaced, twoBackslashes, fourBackslashes, quotesThenNumber}, 5) + //
            PromptedAt(quotesThenNumber, L"cc 2") + kDone +                                           //
            PromptedAt(quotesThenNumber, L"cc 1") + kDone +                                           //
            PromptedAt(quotesThenNumber, L"sactc 2") + kDone +                                        //
            PromptedAt(fourBackslashes, L"cl") +                                                      //
            ConnectionList({twoBackslashes, fourBackslashes, quotesThenNumber}, 2) +                  //
            PromptedAt(fourBackslashes, L"exit") + kLineBreak);
}

// Under Wine the lock always succeeds and its status can never be read, so lock on and off run
// silently, lock status prints nothing, and no error is left for the banner; without a
// connection each says so, and a word after one shows its usage.
TEST_F(ConnectionScriptE2E, AnswersLockCommandsAsWineAllowsThem) {
    const Connection plain{name, 1};
    const Connection lockable{name, 9};
    auto usage = [](const wchar_t* leaf) { return Bytes(UsageText({L"lock", leaf})); };
    ExpectScript("lock can_be_locked\n"
                 "lock on\n"
                 "lock status\n"
                 "connect " +
                     nameBytes +
                     "\n"
                     "lock can_be_locked\n"
                     "connect " +
                     nameBytes +
                     " 8\n"
                     "lock can_be_locked\n"
                     "lock can_be_locked now\n"
                     "lock on\n"
                     "lock status\n"
                     "cl\n"
                     "lock off\n"
                     "lock off\n"
                     "lock on extra\n"
                     "lock off\n"
                     "lock status now\n"
                     "lock off now\n"
                     "exit\n",
                 Prompted(L"lock can_be_locked") +                                               //
                     Prompted(L"lock on") +                                                      //
                     Prompted(L"lock status") +                                                  //
                     Prompted(L"connect " + name) + kDone +                                      //
                     PromptedAt(plain, L"lock can_be_locked") +                                  //
                     Bytes(L"Can be locked = no\n\n") +                                          //
                     PromptedAt(plain, L"connect " + name + L" 8") + kDone +                     //
                     PromptedAt(lockable, L"lock can_be_locked") +                               //
                     Bytes(L"Can be locked = yes\n\n") +                                         //
                     PromptedAt(lockable, L"lock can_be_locked now") + usage(L"can_be_locked") + //
                     PromptedAt(lockable, L"lock on") +                                          //
                     PromptedAt(lockable, L"lock status") +                                      //
                     PromptedAt(lockable, L"cl") + ConnectionList({plain, lockable}, 2) +        //
                     PromptedAt(lockable, L"lock off") +                                         //
                     PromptedAt(lockable, L"lock off") +                                         //
                     PromptedAt(lockable, L"lock on extra") + usage(L"on") +                     //
                     PromptedAt(lockable, L"lock off") +                                         //
                     PromptedAt(lockable, L"lock status now") + usage(L"status") +               //
                     PromptedAt(lockable, L"lock off now") + usage(L"off") +                     //
                     PromptedAt(lockable, L"exit") + kLineBreak,
                 NoConnection() + NoConnection() + NoConnection());
}

// The boot notice needs no connection; Wine's notification always succeeds.
TEST_F(ConnectionScriptE2E, ConfirmsOrRejectsTheBootInAnyCaseAndShowsUsageOtherwise) {
    const Connection plain{name, 1};
    ExpectScript("boot ok\n"
                 "boot BAD\n"
                 "boot Ok\n"
                 "boot maybe\n"
                 "boot\n"
                 "boot ok now\n"
                 "connect " +
                     nameBytes +
                     "\n"
                     "boot bad\n"
                     "exit\n",
                 Prompted(L"boot ok") + kLineBreak +               //
                     Prompted(L"boot BAD") + kLineBreak +          //
                     Prompted(L"boot Ok") + kLineBreak +           //
                     Prompted(L"boot maybe") + BootUsage() +       //
                     Prompted(L"boot") + BootUsage() +             //
                     Prompted(L"boot ok now") + BootUsage() +      //
                     Prompted(L"connect " + name) + kDone +        //
                     PromptedAt(plain, L"boot bad") + kLineBreak + //
                     PromptedAt(plain, L"exit") + kLineBreak);
}

class ConnectionBatchE2E : public ConnectionScriptE2E {};

struct BatchCase {
    std::vector<std::wstring> arguments;
    std::string out;
    std::string err;
    // The last-error value after the command (none of these fails under Wine), or the code of a
    // command line that ran nothing.
    DWORD exitCode = 0;
};

void ExpectBatch(const BatchCase& c) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    OrvelRun run = RunOrvel(c.arguments);

    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_PRED_FORMAT2(BytesEqual, Banner() + c.out, run.out);
    EXPECT_PRED_FORMAT2(BytesEqual, c.err, run.err);
}

TEST_F(ConnectionBatchE2E, OpensTheConnectionGivenBeforeTheCommandAndClosesItAfterwards) {
    const BatchCase cases[] = {
        {{L"connect:,1", L"cl"}, ConnectionList({{L"", 1}}, 1) + kLineBreak, ""},
        {{L"connect:" + name + L",3", L"cl"}, ConnectionList({{name, 3}}, 1) + kLineBreak, ""},
        {{L"CONNECT:\\\\" + name, L"cl"}, ConnectionList({{L"\\\\" + name, 1}}, 1) + kLineBreak, ""},
        {{L"connect:far,16", L"cl"}, ConnectionList({{L"far", 17}}, 1) + kLineBreak, ""},
        {{L"connect:" + name + L",abc", L"cl"}, ConnectionList({{name, 1}}, 1) + kLineBreak, ""},
        {{L"connect:" + name + L",8", L"lock", L"can_be_locked"},
         Bytes(L"Can be locked = yes\n\n") + kLineBreak,
         ""},
        {{L"connect:" + name + L",8", L"lock", L"on"}, kLineBreak, ""},
        // A command line that names no command ran nothing, as a group without its command.
        {{L"connect:"}, RootListing() + kLineBreak, "", ERROR_INVALID_FUNCTION},
        {{L"connect:" + name, L"lock"}, LockListing() + kLineBreak, "", ERROR_INVALID_FUNCTION},
        {{L"connect:" + name, L"boot", L"BAD"}, kLineBreak + kLineBreak, ""},
        // The command runs whole, without a second split: "with space" stays one machine word,
        // and an empty argument is an empty machine name, which only batch mode can pass.
        {{L"connect:" + name, L"connect", L"with space", L"8"}, kDone + kLineBreak, ""},
        {{L"connect", L""}, kDone + kLineBreak, ""},
    };
    for (const BatchCase& c : cases) {
        ExpectBatch(c);
    }
}

// Without a connection argument the local machine is opened with a null name, which prints as
// every null string does.
TEST_F(ConnectionBatchE2E, OpensThisMachineUnnamedWithoutAConnectionArgument) {
    const BatchCase cases[] = {
        {{L"cl"},
         Bytes(L"Ordinateurs actuellement connectés :\n"
               L"1 : (null)\t(local)\t| 1\n"
               L"\n"
               L"Connection active => 1 : (null)\t(local)\t| 1\n"
               L"\n") +
             kLineBreak,
         ""},
        {{L"cc", L"1"}, kDone + kLineBreak, ""},
        {{L"boot", L"ok"}, kLineBreak + kLineBreak, ""},
        {{L"boot", L"maybe"}, BootUsage() + kLineBreak, "", ERROR_INVALID_PARAMETER},
        {{L"/s"}, RootListing() + kLineBreak, UnknownCommand(L"/s"), ERROR_INVALID_FUNCTION},
        {{L"frobnicate"}, RootListing() + kLineBreak, UnknownCommand(L"frobnicate"), ERROR_INVALID_FUNCTION},
    };
    for (const BatchCase& c : cases) {
        ExpectBatch(c);
    }
}

} // namespace
