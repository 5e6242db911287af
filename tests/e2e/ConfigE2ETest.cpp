// set configex against Wine's service control manager: the commands come from a script, the
// dialogue's answers from standard input.

#include <gtest/gtest.h>

#include <string>

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

} // namespace
