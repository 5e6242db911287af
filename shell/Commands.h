#pragma once
// The handlers and help functions of every command of the tree, by family.

#include <windows.h>

#include <string>
#include <vector>

// help, cmdtree
int HelpCommand(unsigned long argc, wchar_t** argv);
void HelpCommandHelp();
int CommandTreeCommand(unsigned long argc, wchar_t** argv);
void CommandTreeCommandHelp();
// The fixed words of cmdtree.
void CommandTreeWords(std::vector<std::wstring>& words);

// connect, cl, sactc, cc, cactc, callc
int ConnectCommand(unsigned long argc, wchar_t** argv);
int ConnectionListCommand(unsigned long argc, wchar_t** argv);
int SetActiveConnectionCommand(unsigned long argc, wchar_t** argv);
int CloseConnectionCommand(unsigned long argc, wchar_t** argv);
int CloseActiveConnectionCommand(unsigned long argc, wchar_t** argv);
int CloseAllConnectionsCommand(unsigned long argc, wchar_t** argv);
void ConnectHelp();
void ConnectionListHelp();
void SetActiveConnectionHelp();
void CloseConnectionHelp();
void CloseActiveConnectionHelp();
void CloseAllConnectionsHelp();

// lock can_be_locked, lock on, lock off, lock status, boot
int CanBeLockedCommand(unsigned long argc, wchar_t** argv);
int LockOnCommand(unsigned long argc, wchar_t** argv);
int LockOffCommand(unsigned long argc, wchar_t** argv);
int LockStatusCommand(unsigned long argc, wchar_t** argv);
int BootCommand(unsigned long argc, wchar_t** argv);
void CanBeLockedHelp();
void LockOnHelp();
void LockOffHelp();
void LockStatusHelp();
void BootHelp();
void BootWords(std::vector<std::wstring>& words);

// start, stop, pause, continue, interrogate, control, debug
int StartCommand(unsigned long argc, wchar_t** argv);
int StopCommand(unsigned long argc, wchar_t** argv);
int PauseCommand(unsigned long argc, wchar_t** argv);
int ContinueCommand(unsigned long argc, wchar_t** argv);
int InterrogateCommand(unsigned long argc, wchar_t** argv);
int ControlCommand(unsigned long argc, wchar_t** argv);
int DebugCommand(unsigned long argc, wchar_t** argv);
void StartHelp();
void StopHelp();
void PauseHelp();
void ContinueHelp();
void InterrogateHelp();
void ControlHelp();
void DebugHelp();
// The codes that control takes by name.
void ControlCodeWords(std::vector<std::wstring>& words);

// query config, query configex, query status, get properties, get service key_name, display_name,
// pid, type
// The status record as query status prints it: the heading, one field a line, the rule.
void PrintStatusRecord(const SERVICE_STATUS_PROCESS& status);
int QueryConfigCommand(unsigned long argc, wchar_t** argv);
int QueryConfigExCommand(unsigned long argc, wchar_t** argv);
int QueryStatusCommand(unsigned long argc, wchar_t** argv);
int GetPropertiesCommand(unsigned long argc, wchar_t** argv);
int GetKeyNameCommand(unsigned long argc, wchar_t** argv);
int GetDisplayNameCommand(unsigned long argc, wchar_t** argv);
int GetProcessIdCommand(unsigned long argc, wchar_t** argv);
int GetTypeCommand(unsigned long argc, wchar_t** argv);
void QueryConfigHelp();
void QueryConfigExHelp();
void QueryStatusHelp();
void GetPropertiesHelp();
void GetKeyNameHelp();
void GetDisplayNameHelp();
void GetProcessIdHelp();
void GetTypeHelp();

// set configex
int SetConfigCommand(unsigned long argc, wchar_t** argv);
void SetConfigHelp();
int SetConfigExCommand(unsigned long argc, wchar_t** argv);
void SetConfigExHelp();

// enum service_group, enum service_group_load_order, enum dependent_services, enum services
int EnumServiceGroupsCommand(unsigned long argc, wchar_t** argv);
int EnumLoadOrderCommand(unsigned long argc, wchar_t** argv);
int EnumDependentsCommand(unsigned long argc, wchar_t** argv);
int EnumServicesCommand(unsigned long argc, wchar_t** argv);
void EnumServiceGroupsHelp();
void EnumLoadOrderHelp();
void EnumDependentsHelp();
void EnumServicesHelp();
// The kinds and states that enum services takes.
void EnumServicesWords(std::vector<std::wstring>& words);
// A service's state in words, as `enum services` lists it and a wait shows it; a value the
// platform may add later shows as its number.
std::wstring StateShown(DWORD state);

// create service_object, create service_group, delete service_object, delete service_group
int CreateSvcObjCommand(unsigned long argc, wchar_t** argv);
int CreateServiceGroupCommand(unsigned long argc, wchar_t** argv);
int DeleteSvcObjCommand(unsigned long argc, wchar_t** argv);
int DeleteServiceGroupCommand(unsigned long argc, wchar_t** argv);
void CreateSvcObjHelp();
void CreateServiceGroupHelp();
void DeleteSvcObjHelp();
void DeleteServiceGroupHelp();
