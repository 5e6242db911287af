// The connection list shared by every command, and its opening and closing.

#include "Connections.h"

#include <iostream>
#include <vector>

#include "Console.h"
#include "Platform.h"
#include "QuorvanException.h"

namespace {

std::vector<CSvcCtrlMgr*> g_connections;
unsigned long g_active = 0;

// Held while the list changes and while connections close, by the main thread and by the control
// handler's thread alike; the main thread reads the list without it, since only it changes the list.
SRWLOCK g_closing = SRWLOCK_INIT;

class ClosingLock {
public:
    ClosingLock() { Os().AcquireSRWLockExclusive(&g_closing); }
    ~ClosingLock() { Os().ReleaseSRWLockExclusive(&g_closing); }
    ClosingLock(const ClosingLock&) = delete;
    ClosingLock& operator=(const ClosingLock&) = delete;
};

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

} // namespace

CSvcCtrlMgr* GetConnection(unsigned long number) {
    return number == 0 || number > g_connections.size() ? nullptr : g_connections[number - 1];
}

CSvcCtrlMgr* GetActiveConnection() { return GetConnection(g_active); }
unsigned long ActiveConnectionNumber() { return g_active; }
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
        return 0;
    }
    {
        const ClosingLock exclusive;
        g_connections.push_back(connection);
    }
    g_active = ConnectionCount();
    return 1;
}

int SetActiveConnection(unsigned long number) {
    if (number > ConnectionCount())
        return 0;
    g_active = number;
    return 1;
}

int CloseConnection(unsigned long number) {
    CSvcCtrlMgr* connection = GetConnection(number);
    if (!connection)
        return 0;
    {
        const ClosingLock exclusive;
        connection->Close();
        g_connections.erase(g_connections.begin() + (number - 1));
        delete connection;
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
        const ClosingLock exclusive;
        for (CSvcCtrlMgr* connection : g_connections) {
            if (allClosed && !connection->Close())
                allClosed = 0;
            delete connection;
        }
        g_connections.clear();
    }
    g_active = 0;
    std::wcout << std::endl;
    return allClosed;
}

BOOL WINAPI ConsoleCtrlHandler(DWORD) {
    const ClosingLock exclusive;
    for (CSvcCtrlMgr* connection : g_connections)
        connection->Close();
    return FALSE;
}
