#pragma once
// The handlers and help functions of every command of the tree, by family.

// help, cmdtree
int HelpCommand(unsigned long argc, wchar_t** argv);
void HelpCommandHelp();
int CommandTreeCommand(unsigned long argc, wchar_t** argv);
void CommandTreeCommandHelp();

// connect, cl, sactc, cc, cactc, callc
void ConnectHelp();
void ConnectionListHelp();
void SetActiveConnectionHelp();
void CloseConnectionHelp();
void CloseActiveConnectionHelp();
void CloseAllConnectionsHelp();

// boot
void BootHelp();

// start, stop, pause, continue, interrogate, control, debug
void StartHelp();
void StopHelp();
void PauseHelp();
void ContinueHelp();
void InterrogateHelp();
void ControlHelp();
void DebugHelp();

// create service_object, create service_group, delete service_object, delete service_group
void CreateSvcObjHelp();
void CreateServiceGroupHelp();
void DeleteSvcObjHelp();
void DeleteServiceGroupHelp();
