#pragma once
// The open connections, numbered from 1 in order of opening, and the active one (0: none).

#include "Memory.h"
#include "SvcCtrlMgr.h"
#include "SvcObj.h"

using ServicesManagement::CSvcCtrlMgr;

// Null for 0 or a number past the end.
CSvcCtrlMgr* GetConnection(unsigned long number);
// The connection every service command works on; null when none is active, after a line on the
// error stream that says so (naming the machine of a `connect` that failed) and with
// ERROR_NOT_CONNECTED in the last-error value. When the active connection is lost (below), it is
// null too: the command then fails at once, with the code that lost the connection in the
// last-error value and a line on the error stream that says how to recover. The connection a
// command reached is remembered for NoteCommandEnd.
CSvcCtrlMgr* GetActiveConnection();
// The same for a command that also reaches the machine's registry (the group commands): a failure
// of that channel alone does not lose the connection (NoteCommandEnd).
CSvcCtrlMgr* GetActiveConnectionWithRegistry();
unsigned long ActiveConnectionNumber();
unsigned long ConnectionCount();
// The line of GetActiveConnection when no connection is active, and its code (ERROR_NOT_CONNECTED).
void ReportNoActiveConnection();
// While no connection is active because the last `connect` failed (and none was made active
// since): that failure's code and the machine it named; 0 otherwise.
DWORD FailedConnectionCode();
const wchar_t* FailedConnectionMachine();

// Opens a connection, appends it and makes it active; on failure the reason has been written to
// the error stream, the last-error value holds its code and no connection is active (the open
// ones stay open).
int OpenConnection(const wchar_t* machineName, unsigned long desiredAccess);
// Makes connection `number` active (0: none). 0, and nothing changes, past the last connection.
int SetActiveConnection(unsigned long number);
// Closes and frees connection `number` and keeps the active mark on the same connection (or on
// none when it was the active one). 0 when there is no such connection.
int CloseConnection(unsigned long number);
// Closes and frees every connection and writes a line break. 1 when every explicit close succeeded.
int CloseAllConnections();
// A connection is lost once its machine stopped answering: a call on it failed with one of the
// codes by which the RPC runtime says so. Nothing more is asked of a lost machine, since each call
// would wait for the RPC time-out again: the prompt and `cl` show it lost, and closing it makes no
// call. The code that lost it, or 0 while it answers.
DWORD ConnectionLossCode(const CSvcCtrlMgr* connection);
// What the prompt and `cl` show after the rights: the lock status read from the machine, unless
// the connection is lost; a failed read that says the machine no longer answers marks it lost.
enum class ConnectionState { Unlocked, Locked, Unknown, Lost };
ConnectionState ReadConnectionState(CSvcCtrlMgr* connection);
// The marker of a lost connection in the prompt and in `cl`.
SimpleString LostConnectionMarker(const CSvcCtrlMgr* connection);
// After a command: the connection it reached is marked lost when the command failed for that
// reason, and what earlier commands could not put back of a remote-registry service is tried
// again on every connection that answers. The last-error value stays as it is.
void NoteCommandEnd();

// The console control handler. It runs on a thread of the system's, beside the main thread, and
// closes every connection that answers (releasing database locks) without freeing any: the main thread may be
// using one, and the process ends right after. Closing is exclusive, so a connection is never
// closed by both threads, and one that the handler closed closes again harmlessly.
BOOL WINAPI ConsoleCtrlHandler(DWORD controlType);

// Runs `action(object, configuration)` on a service object of the active connection for the key
// name `serviceName`, with the configuration that the lookup read, and releases both. False, and
// nothing runs, without an active connection or when the service cannot be found (the lookup's
// last-error value then stays set). The object keeps its service handle, with the rights
// `operationAccess` that the action will need besides the reads, until it is released here.
template <typename Action>
bool WithActiveServiceConfig(const wchar_t* serviceName, Action action, unsigned long operationAccess = 0) {
    CSvcCtrlMgr* connection = GetActiveConnection();
    if (!connection)
        return false;
    QUERY_SERVICE_CONFIGW* configuration = nullptr;
    const ServicesManagement::OwnedSvcObj object(
        connection->FindSvcObj(SimpleString(serviceName), &configuration, operationAccess));
    const MemBlock<QUERY_SERVICE_CONFIGW> ownedConfiguration(configuration);
    if (!object)
        return false;
    action(*object, *configuration);
    return true;
}

// The same for an action that needs the object only.
template <typename Action>
bool WithActiveService(const wchar_t* serviceName, Action action, unsigned long operationAccess = 0) {
    return WithActiveServiceConfig(
        serviceName, [&](ServicesManagement::CSvcObj& object, const QUERY_SERVICE_CONFIGW&) { action(object); },
        operationAccess);
}

// The title that shows the machine of a connection: "Connecté sur ..." with the local marker.
SimpleString ConnectedTitle(const wchar_t* machineName, int isLocal);
