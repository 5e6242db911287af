#pragma once
// What a command line may change, read from the simulated machine's ledger: on which machine,
// which services, processes and registry values, when this computer may be restarted or a
// debugger started, what must be as it was once the line has ended, and who may hold the lock.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "FakePlatform.h"

// A connection of the console's list as the test sees it before a line.
struct ConnectionView {
    // The connection object, to follow one connection from line to line.
    const void* identity = nullptr;
    // As the user named it.
    std::wstring machine;
    bool thisComputer = false;
    // Not marked lost, and its machine answers.
    bool answering = false;
};

// What is known before a line runs.
struct LineStart {
    std::vector<ConnectionView> connections;
    // Index of the active connection in `connections`; -1 for none.
    int active = -1;
    // The last `connect` failed and no command has chosen a connection since.
    bool connectFailed = false;
};

// What happened during the line besides its command.
struct LineEvents {
    // The console's control handler ran (Ctrl+C): every connection was closed, and the console ends.
    bool ctrlC = false;
    // The machines (as Machine() gives them) that stopped answering during the line, whether or
    // not they answer again by its end: they forget their handles and locks.
    std::set<std::wstring> stoppedAnswering;
    // The machines that do not answer once the line has ended.
    std::set<std::wstring> silent;
};

struct Violation {
    std::string rule;
    std::string detail;
};

class LedgerRules {
public:
    // Checks the ledger entries of one line, in order; the lock is followed from line to line.
    std::vector<Violation> Check(const std::vector<std::wstring>& words, const LineStart& start,
                                 const LineEvents& events, const std::vector<LedgerEntry>& entries);
    // A machine's name without leading backslashes or a final dot, in lower case.
    static std::wstring Machine(const std::wstring& name);

private:
    void CheckLocks(const std::vector<std::wstring>& words, const LineStart& start, const LineEvents& events,
                    const std::vector<LedgerEntry>& entries, std::vector<Violation>& found);

    // The locks taken and not given back, by number, with their machine.
    std::map<DWORD, std::wstring> m_held;
    // The connection whose `lock on` took the lock that is held; null when none is in force.
    const void* m_holder = nullptr;
};
