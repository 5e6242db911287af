// set configex against Wine's service control manager: the commands come from a script, the
// dialogue's answers from standard input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteComparison.h"
#include "OrvelRunner.h"
#include "ServiceInstaller.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

// The two report lines for a change, as the platform answers the same change asked directly.
std::wstring Report(bool succeeded, DWORD code) {
    return std::wstring(succeeded ? L"OK !!" : L"Oh oh ??") + L"\nGetLastError() = " + std::to_wstring(code) + L"\n";
}

std::wstring WineAnswer(SC_HANDLE service, SERVICE_FAILURE_ACTIONSW& actions) {
    SetLastError(0);
    const bool succeeded = ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions) != FALSE;
    return Report(succeeded, GetLastError());
}

TEST(ConfigE2E, DialogueOnStandardInputSetsTheDescriptionThatQueryThenShows) {
    InstalledTestService service(L"QuorvanE2EConfigEx", {});
    ASSERT_TRUE(service.installed());
    SC_ACTION restart = {SC_ACTION_RESTART, 60000};
    SERVICE_FAILURE_ACTIONSW actions = {0, nullptr, nullptr, 1, &restart};
    const std::wstring failureActionsReport = WineAnswer(service.handle(), actions);

    const std::wstring computer = ComputerName();
    const std::wstring name = service.name();
    const OrvelRun run = RunOrvelScript(
        Bytes(L"connect " + computer + L"\nset configex " + name + L"\nquery configex " + name + L"\n"),
        Bytes(L"Service de test décrit\n0\n\n\n1 1 60000\n"));

    const std::string prompt = Bytes(L"Quorvan @ " + computer + L" (local) | 1 > ");
    const std::wstring dialogue =
        L"\nNouvelle description du service (tapez \"<NULL>\" pour supprimer la description existante ou laissez "
        L"une chaîne vide pour ne pas la modifier) :\n"
        L"\nNouvelle description : 'Service de test décrit'\n" +
        Report(true, 0) +
        L"\nsvcFailureActions.dwResetPeriod = \n"
        L"svcFailureActions.lpRebootMsg = (tapez \"<NULL>\" pour supprimer le message existant ou laissez une "
        L"chaîne vide pour ne pas le modifier) :\n\n"
        L"svcFailureActions.lpCommand = (tapez \"<NULL>\" pour supprimer la commande existante ou laissez une "
        L"chaîne vide pour ne pas la modifier) :\n\n\n"
        L"svcFailureActions.cActions = \n"
        L"svcFailureActions.lpsaActions[0].Type  = svcFailureActions.lpsaActions[0].Delay = \n\n"
        L"R\u0082capitulatif :\n===============\n\n"
        L"svcFailureActions.dwResetPeriod = 0\n"
        L"svcFailureActions.lpRebootMsg   = < the default value >\n"
        L"svcFailureActions.lpCommand     = < the default value >\n"
        L"\nActions\n=======\n\nsvcFailureActions.cActions = 1\n"
        L"\nsvcFailureActions.lpsaActions[0].Type  = 1\nsvcFailureActions.lpsaActions[0].Delay = 60000\n"
        L"\n=======\n\n===============\n" +
        failureActionsReport + L"\n";
    // Wine keeps no failure actions, so the query shows the description alone.
    const std::wstring query = L"\nPropri\u0082t\u0082s :\n============\n\n"
                               L"lpSvcDescription->lpDescription    = Service de test décrit\n"
                               L"\n============\n\n";
    EXPECT_PRED_FORMAT2(BytesEqual,
                        Banner() + Prompted(L"connect " + computer) + kLineBreak + prompt +
                            Bytes(L"set configex " + name + L"\n" + dialogue) + prompt +
                            Bytes(L"query configex " + name + L"\n" + query) + prompt + kLineBreak + kLineBreak,
                        run.out);
    EXPECT_EQ(run.err, "");
}

// The configuration as the platform holds it.
struct HeldConfig {
    DWORD startType = 0;
    std::wstring binaryPath, group, dependencies, account, displayName;
};

HeldConfig ReadConfig(SC_HANDLE service) {
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    HeldConfig held;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed)) {
        ADD_FAILURE() << "QueryServiceConfigW: " << GetLastError();
        return held;
    }
    auto text = [](const wchar_t* value) { return std::wstring(value ? value : L""); };
    held.startType = config->dwStartType;
    held.binaryPath = text(config->lpBinaryPathName);
    held.group = text(config->lpLoadOrderGroup);
    held.dependencies = text(config->lpDependencies);
    held.account = text(config->lpServiceStartName);
    held.displayName = text(config->lpDisplayName);
    return held;
}

// A command line as one word of set config: its quotes kept.
std::wstring QuotedValue(const std::wstring& setting, const std::wstring& commandLine) {
    std::wstring value = setting + L"=";
    for (wchar_t c : commandLine)
        value += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return value;
}

TEST(ConfigE2E, SetConfigChangesWhatItNamesAndTheServiceFollows) {
    InstalledTestService service(L"QuorvanE2ESetConfig", {});
    ASSERT_TRUE(service.installed());
    const std::wstring name = service.name();

    EXPECT_EQ(RunOrvelBatch({L"set", L"config", name, L"start_type=d\u00E9sactiv\u00E9"}).exitCode, 0u);
    EXPECT_EQ(ReadConfig(service.handle()).startType, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_NE(RunOrvelBatch({L"query", L"config", name}).out.find("dwStartType        = 4\r\n"), std::string::npos);
    EXPECT_EQ(RunOrvelBatch({L"start", name}).exitCode, static_cast<DWORD>(ERROR_SERVICE_DISABLED));

    EXPECT_EQ(RunOrvelBatch({L"set", L"config", name, L"start_type=manuel"}).exitCode, 0u);
    EXPECT_EQ(RunOrvelBatch({L"start", name}).exitCode, 0u);
    EXPECT_EQ(RunOrvelBatch({L"stop", name}).exitCode, 0u);

    const std::wstring binaryPath = TestServiceCommandLine({L"/nopause"});
    const OrvelRun changed =
        RunOrvelBatch({L"set", L"config", name, QuotedValue(L"binary_path", binaryPath), L"display_name=Test chang\u00E9",
                       L"account=LocalSystem", L"group=QuorvanE2EGroupe", L"dependencies=RpcSs"});
    EXPECT_EQ(changed.exitCode, 0u);
    EXPECT_NE(changed.out.find(Bytes(L"Nom complet            : ")), std::string::npos) << changed.out;
    const HeldConfig held = ReadConfig(service.handle());
    EXPECT_EQ(held.binaryPath, binaryPath);
    EXPECT_EQ(held.displayName, L"Test chang\u00E9");
    EXPECT_EQ(held.account, L"LocalSystem");
    EXPECT_EQ(held.group, L"QuorvanE2EGroupe");
    // What the platform keeps of the same list asked directly (Wine's manager keeps none).
    ASSERT_TRUE(ChangeServiceConfigW(service.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, L"RpcSs\0", nullptr, nullptr, nullptr));
    EXPECT_EQ(held.dependencies, ReadConfig(service.handle()).dependencies);

    // A setting word mistyped changes nothing, and says so with 87.
    const OrvelRun mistyped = RunOrvelBatch({L"set", L"config", name, L"start_typ=auto", L"display_name=Autre"});
    EXPECT_EQ(mistyped.exitCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ReadConfig(service.handle()).displayName, L"Test chang\u00E9");
    EXPECT_EQ(ReadConfig(service.handle()).startType, static_cast<DWORD>(SERVICE_DEMAND_START));
}

// A real service from its program: created with settings, started, stopped and deleted.
TEST(ConfigE2E, CreateServiceObjectWithSettingsMakesAServiceThatRuns) {
    const std::wstring name = L"QuorvanE2ECreated";
    struct Remover {
        std::wstring name;
        ~Remover() {
            UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
            UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | DELETE));
            SERVICE_STATUS status = {};
            if (service) {
                ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
                DeleteService(service.get());
            }
        }
    } remover{name};
    const OrvelRun created = RunOrvelBatch({L"create", L"service_object", name,
                                            QuotedValue(L"binary_path", TestServiceCommandLine({})),
                                            L"display_name=Service cr\u00E9\u00E9", L"description=Cr\u00E9\u00E9 par un test"},
                                           L"983103");
    EXPECT_EQ(created.exitCode, 0u);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"Cr\u00E9ation du service " + name + L"...OK\n"), created.out);
    EXPECT_EQ(RunOrvelBatch({L"start", name}).exitCode, 0u);
    EXPECT_NE(RunOrvelBatch({L"query", L"status", name}).out.find("dwCurrentState            = 4\r\n"),
              std::string::npos);
    EXPECT_EQ(RunOrvelBatch({L"stop", name}).exitCode, 0u);
    EXPECT_EQ(RunOrvelBatch({L"delete", L"service_object", name}).exitCode, 0u);
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (int i = 0; i < 100 && UniqueServiceHandle(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)); ++i)
        Sleep(50);
    EXPECT_FALSE(UniqueServiceHandle(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)));
}

} // namespace
