// The connection list shared by every command, and its opening and closing.

#include "Connections.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "Console.h"
#include "HandleGuard.h"
#include "Platform.h"
#include "QuorvanException.h"

namespace {

std::vector<CSvcCtrlMgr*> g_connections;
unsigned long g_active = 0;
// The lost connections and the code that lost each.
std::map<const CSvcCtrlMgr*, DWORD> g_lost;
// The connection that the running command reached through GetActiveConnection, and whether the
// command reached its machine's registry too.
CSvcCtrlMgr* g_reached = nullptr;
bool g_reachedRegistry = false;
// The `connect` that failed, while no connection has been made active since.
std::wstring g_failedMachine;
DWORD g_failedCode = ERROR_SUCCESS;

// Held while the list changes and while connections close, by the main thread and by the control
// handler's thread alike; the main thread reads the list without it, since only it changes the list.
SRWLOCK g_closing = SRWLOCK_INIT;

SimpleString MachineTitle(const wchar_t* prefix, const wchar_t* machineName, int isLocal) {
    SimpleString title(prefix);
    if (isLocal)
        title += L"Ordinateur Local (";
    title += machineName;
    if (isLocal)
        title += L")";
    return title;
}

// Builds the connection, or reports why it cannot be made and returns null.
CSvcCtrlMgr* Connect(const wchar_t* machineName, unsigned long desiredAccess) {
    try {
        return new CSvcCtrlMgr(machineName, nullptr, desiredAccess);
    } catch (const CQuorvanException& failure) {
        failure.Display(std::wcerr);
        // The runtime may touch the value while it unwinds; the record keeps the code.
        ::SetLastError(static_cast<DWORD>(failure.m_nCode));
    } catch (...) {
        std::wcerr << L"Exception non traîtée..." << std::endl;
    }
    return nullptr;
}

// The codes that say a machine no longer answers ("System Error Codes (1700-3999)"): the RPC
// server is unavailable (1722), the call failed (1726) or failed and did not run (1727), the
// binding (1702) or the context handle (1775) is no longer valid. Once the binding is gone the
// manager's calls fail with ERROR_INVALID_HANDLE, which on this machine means no such thing.
bool SaysMachineLost(DWORD code, const CSvcCtrlMgr& connection) {
    switch (code) {
    case RPC_S_SERVER_UNAVAILABLE:
    case RPC_S_CALL_FAILED:
    case RPC_S_CALL_FAILED_DNE:
    case RPC_S_INVALID_BINDING:
    case RPC_X_SS_IN_NULL_CONTEXT:
        return true;
    case ERROR_INVALID_HANDLE:
        return !connection.IsLocal();
    default:
        return false;
    }
}

bool IsListed(const CSvcCtrlMgr* connection) {
    return connection && std::find(g_connections.begin(), g_connections.end(), connection) != g_connections.end();
}

// The code with which the manager itself says that it no longer answers, asked once; 0 when it
// answers (a refusal is an answer).
DWORD ManagerLossCode(const CSvcCtrlMgr& connection) {
    QUERY_SERVICE_LOCK_STATUSW* status = nullptr;
    if (connection.QueryLockStatus(&status)) {
        MemRelease(status);
        return 0;
    }
    const DWORD code = ::GetLastError();
    return SaysMachineLost(code, connection) ? code : 0;
}

// Marks the connection lost when `code` says so. The registry is reached through a channel of its
// own (the remote-registry service, RegConnectRegistryW), whose failure says nothing of the
// manager's: after a command that used it, the manager decides. The control handler reads the
// marks while it closes the connections, so they change under the closing lock.
void NoteFailure(CSvcCtrlMgr* connection, DWORD code, bool throughRegistry) {
    if (!IsListed(connection) || g_lost.count(connection) || !SaysMachineLost(code, *connection))
        return;
    const DWORD lossCode = throughRegistry ? ManagerLossCode(*connection) : code;
    if (lossCode == 0)
        return;
    const ExclusiveLock exclusive(&g_closing);
    g_lost[connection] = lossCode;
}

// One line on the error stream: what happened and how to recover.
void ReportLost(unsigned long number, const CSvcCtrlMgr& connection, DWORD code) {
    ServicesManagement::_SCM_PROPERTIES properties;
    connection.GetProperties(&properties);
    std::wcerr << L"La connection " << number << L" avec " << properties.szMachineName
               << L" est perdue (erreur " << code << L") : fermez-la avec 'cc " << number
               << L"', puis reconnectez-vous avec 'connect " << properties.szMachineName;
    if (properties.dwDesiredAccess != SC_MANAGER_CONNECT)
        std::wcerr << L' ' << properties.dwDesiredAccess;
    std::wcerr << L"'." << std::endl;
}

} // namespace

void ReportNoActiveConnection() {
    std::wcerr << L"Aucune connexion n'est active";
    if (g_failedCode != ERROR_SUCCESS)
        std::wcerr << L" : la connexion \u00E0 " << g_failedMachine << L" a \u00E9chou\u00E9 (erreur " << g_failedCode
                   << L"). Reconnectez-vous avec 'connect " << g_failedMachine << L"'";
    else
        std::wcerr << L" : ouvrez-en une avec 'connect', ou choisissez-en une avec 'sactc'";
    std::wcerr << L"." << std::endl;
    ::SetLastError(ERROR_NOT_CONNECTED);
}

namespace {

// Frees a connection; a lost one is forgotten first, so that its destruction makes no call.
void Free(CSvcCtrlMgr* connection) {
    if (g_lost.erase(connection) != 0)
        connection->Abandon();
    if (g_reached == connection)
        g_reached = nullptr;
    delete connection;
}

} // namespace

CSvcCtrlMgr* GetConnection(unsigned long number) {
    return number == 0 || number > g_connections.size() ? nullptr : g_connections[number - 1];
}

CSvcCtrlMgr* GetActiveConnection() {
    CSvcCtrlMgr* connection = GetConnection(g_active);
    if (!connection) {
        ReportNoActiveConnection();
        return nullptr;
    }
    if (const DWORD code = ConnectionLossCode(connection)) {
        ReportLost(g_active, *connection, code);
        ::SetLastError(code);
        return nullptr;
    }
    g_reached = connection;
    return connection;
}

DWORD ConnectionLossCode(const CSvcCtrlMgr* connection) {
    const auto found = g_lost.find(connection);
    return found == g_lost.end() ? 0 : found->second;
}

ConnectionState ReadConnectionState(CSvcCtrlMgr* connection) {
    if (ConnectionLossCode(connection))
        return ConnectionState::Lost;
    LastErrorKeeper keep;
    QUERY_SERVICE_LOCK_STATUSW* status = nullptr;
    if (!connection->QueryLockStatus(&status)) {
        NoteFailure(connection, ::GetLastError(), false);
        return ConnectionLossCode(connection) ? ConnectionState::Lost : ConnectionState::Unknown;
    }
    const bool locked = status->fIsLocked != 0;
    MemRelease(status);
    return locked ? ConnectionState::Locked : ConnectionState::Unlocked;
}

SimpleString LostConnectionMarker(const CSvcCtrlMgr* connection) {
    return SimpleString::Form(L"(perdue, erreur %lu)", ConnectionLossCode(connection));
}

CSvcCtrlMgr* GetActiveConnectionWithRegistry() {
    CSvcCtrlMgr* connection = GetActiveConnection();
    g_reachedRegistry = connection != nullptr;
    return connection;
}

void NoteCommandEnd() {
    const DWORD code = ::GetLastError();
    NoteFailure(g_reached, code, g_reachedRegistry);
    g_reached = nullptr;
    g_reachedRegistry = false;
    // What an earlier command could not put back of a remote-registry service is tried again.
    for (CSvcCtrlMgr* connection : g_connections)
        if (!ConnectionLossCode(connection))
            connection->PutBackRemoteRegistry();
    ::SetLastError(code);
}
unsigned long ActiveConnectionNumber() { return g_active; }

DWORD FailedConnectionCode() { return g_active == 0 ? g_failedCode : ERROR_SUCCESS; }

const wchar_t* FailedConnectionMachine() { return g_failedMachine.c_str(); }
unsigned long ConnectionCount() { return static_cast<unsigned long>(g_connections.size()); }

SimpleString ConnectedTitle(const wchar_t* machineName, int isLocal) {
    return MachineTitle(L"Connecté sur ", machineName, isLocal);
}

int OpenConnection(const wchar_t* machineName, unsigned long desiredAccess) {
    const int isLocal = IsLocalMachine(machineName);
    UpdateConsoleTitle(MachineTitle(L"Connection sur ", machineName, isLocal) + L"...", 0);
    CSvcCtrlMgr* connection = Connect(machineName, desiredAccess);
    if (!connection) {
        // The commands that follow were meant for the machine that could not be reached: they
        // must not fall on the one that was active before.
        g_active = 0;
        g_failedMachine = machineName ? machineName : L"";
        g_failedCode = ::GetLastError();
        return 0;
    }
    g_failedCode = ERROR_SUCCESS;
    {
        const ExclusiveLock exclusive(&g_closing);
        g_connections.push_back(connection);
    }
    g_active = ConnectionCount();
    return 1;
}

int SetActiveConnection(unsigned long number) {
    if (number > ConnectionCount())
        return 0;
    g_active = number;
    g_failedCode = ERROR_SUCCESS;
    return 1;
}

int CloseConnection(unsigned long number) {
    CSvcCtrlMgr* connection = GetConnection(number);
    if (!connection)
        return 0;
    {
        const ExclusiveLock exclusive(&g_closing);
        if (!ConnectionLossCode(connection))
            connection->Close();
        g_connections.erase(g_connections.begin() + (number - 1));
        Free(connection);
    }
    if (number < g_active)
        --g_active;
    else if (number == g_active)
        g_active = 0;
    return 1;
}

int CloseAllConnections() {
    int allClosed = 1;
    {
        const ExclusiveLock exclusive(&g_closing);
        for (CSvcCtrlMgr* connection : g_connections) {
            if (allClosed && !ConnectionLossCode(connection) && !connection->Close())
                allClosed = 0;
            Free(connection);
        }
        g_connections.clear();
    }
    g_active = 0;
    std::wcout << std::endl;
    return allClosed;
}

BOOL WINAPI ConsoleCtrlHandler(DWORD) {
    const ExclusiveLock exclusive(&g_closing);
    for (CSvcCtrlMgr* connection : g_connections)
        if (!ConnectionLossCode(connection))
            connection->Close();
    return FALSE;
}
