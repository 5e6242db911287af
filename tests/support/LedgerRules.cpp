#include "LedgerRules.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <optional>

namespace {

const std::wstring GroupListKey = L"hklm\\system\\currentcontrolset\\control\\servicegrouporder";
const std::wstring GroupListValue = GroupListKey + L"\\list";
const wchar_t RemoteRegistry[] = L"RemoteRegistry";

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool Same(const std::wstring& a, const std::wstring& b) {
    return Lower(a) == Lower(b);
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

std::string Describe(const LedgerEntry& entry) {
    return entry.call + "(" + Narrow(entry.target) + ", " + std::to_string(entry.detail) + ") on '" +
           Narrow(entry.machine) + "'";
}

// The words of the line as the commands compare them, and what it names.
struct Line {
    std::vector<std::wstring> words;

    std::wstring Word(size_t i) const { return i < words.size() ? Lower(words[i]) : std::wstring(); }
    bool Is(const wchar_t* command, const wchar_t* leaf = nullptr) const {
        return Word(0) == command && (!leaf || Word(1) == leaf);
    }
    // The service that a service command names.
    std::wstring Service() const {
        for (const wchar_t* command : {L"start", L"stop", L"pause", L"continue", L"interrogate", L"debug"})
            if (Is(command))
                return words.size() > 1 ? words[1] : std::wstring();
        if (Is(L"set", L"configex") || Is(L"create", L"service_object") || Is(L"delete", L"service_object"))
            return words.size() > 2 ? words[2] : std::wstring();
        return {};
    }
    bool NamesService(const std::wstring& name) const { return !Service().empty() && Same(Service(), name); }
    bool AttachesRegistry() const {
        return Is(L"enum", L"service_group") || Is(L"enum", L"service_group_load_order") ||
               Is(L"create", L"service_group") || Is(L"delete", L"service_group");
    }
    bool EditsGroups() const { return Is(L"create", L"service_group") || Is(L"delete", L"service_group"); }
};

// The connections that the line closes.
std::vector<const ConnectionView*> Closed(const Line& line, const LineStart& start,
                                          const LineEvents& events) {
    std::vector<const ConnectionView*> closed;
    const bool all = events.ctrlC || (line.Is(L"callc") && line.words.size() == 1);
    for (size_t i = 0; i < start.connections.size(); ++i) {
        const bool named = line.Is(L"cc") && line.words.size() == 2 &&
                           std::wcstol(line.words[1].c_str(), nullptr, 10) == static_cast<long>(i + 1);
        const bool active =
            line.Is(L"cactc") && line.words.size() == 1 && static_cast<int>(i) == start.active;
        if (all || named || active)
            closed.push_back(&start.connections[i]);
    }
    return closed;
}

const ConnectionView* Active(const LineStart& start) {
    return start.active < 0 ? nullptr : &start.connections[static_cast<size_t>(start.active)];
}

bool OnMachineOf(const LedgerEntry& entry, const ConnectionView& connection) {
    return (entry.thisComputer && connection.thisComputer) ||
           LedgerRules::Machine(entry.machine) == LedgerRules::Machine(connection.machine);
}

// The calls that touch this computer whatever the connection: they have rules of their own.
bool IsLocalAction(const LedgerEntry& entry) {
    return entry.call == "NotifyBootConfigStatus" || entry.call == "TerminateProcess" ||
           entry.call == "CreateProcessW";
}

bool IsControl(const LedgerEntry& entry, DWORD control) {
    return entry.call == "ControlService" && entry.detail == control;
}

bool IsLockCall(const LedgerEntry& entry) {
    return entry.call == "LockServiceDatabase" || entry.call == "UnlockServiceDatabase";
}

// What the remote-registry attachment changes to bring the service up and to put it back.
bool IsRemoteRegistryChange(const LedgerEntry& entry) {
    return Same(entry.target, RemoteRegistry) &&
           (entry.call == "StartServiceW" || entry.call == "ChangeServiceConfigW" ||
            IsControl(entry, SERVICE_CONTROL_STOP) || IsControl(entry, SERVICE_CONTROL_PAUSE) ||
            IsControl(entry, SERVICE_CONTROL_CONTINUE));
}

// Closing a connection gives its lock back and puts its machine's remote-registry service back.
bool ClosingMayMake(const LedgerEntry& entry) {
    return entry.call == "UnlockServiceDatabase" ||
           (Same(entry.target, RemoteRegistry) &&
            (entry.call == "ChangeServiceConfigW" || IsControl(entry, SERVICE_CONTROL_STOP) ||
             IsControl(entry, SERVICE_CONTROL_PAUSE)));
}

bool CommandMayMake(const Line& line, const LedgerEntry& entry) {
    const std::wstring service = line.Service();
    const bool onService = !service.empty() && Same(entry.target, service);
    if (line.Is(L"start"))
        return entry.call == "StartServiceW" && onService;
    if (line.Is(L"stop"))
        return entry.call == "TerminateProcess" ||
               (IsControl(entry, SERVICE_CONTROL_STOP) &&
                (onService || std::any_of(entry.dependsOn.begin(), entry.dependsOn.end(),
                                          [&](const std::wstring& name) { return Same(name, service); })));
    if (line.Is(L"pause"))
        return IsControl(entry, SERVICE_CONTROL_PAUSE) && onService;
    if (line.Is(L"continue"))
        return IsControl(entry, SERVICE_CONTROL_CONTINUE) && onService;
    if (line.Is(L"debug"))
        return entry.call == "CreateProcessW";
    if (line.Is(L"lock", L"on"))
        return entry.call == "LockServiceDatabase";
    if (line.Is(L"lock", L"off"))
        return entry.call == "UnlockServiceDatabase";
    if (line.Is(L"boot"))
        return entry.call == "NotifyBootConfigStatus";
    if (line.Is(L"set", L"configex"))
        return entry.call == "ChangeServiceConfig2W" && onService;
    if (line.Is(L"create", L"service_object"))
        return entry.call == "CreateServiceW" && onService;
    if (line.Is(L"delete", L"service_object"))
        return entry.call == "DeleteService" && onService;
    if (line.AttachesRegistry()) {
        const bool groupList = (entry.call == "RegCreateKeyExW" && entry.target == GroupListKey) ||
                               (entry.call == "RegSetValueExW" && entry.target == GroupListValue);
        return IsRemoteRegistryChange(entry) || IsLockCall(entry) || (line.EditsGroups() && groupList);
    }
    return false;
}

bool HostsOnly(const LedgerProcess& process, const std::wstring& service) {
    return process.services.size() == 1 && Same(process.services[0], service);
}

// Why ending (or debugging, which ends it with the debugger) the process must not be done.
std::string ReasonToSpare(const LedgerProcess& process, const std::wstring& service) {
    std::string reasons;
    if (!HostsOnly(process, service)) {
        reasons += " it hosts";
        for (const std::wstring& hosted : process.services)
            reasons += " " + Narrow(hosted);
        if (process.services.empty())
            reasons += " no service";
    }
    if (process.critical)
        reasons += " critical;";
    if (process.system)
        reasons += " system;";
    return reasons;
}

bool ActiveIsThisComputer(const LineStart& start) {
    const ConnectionView* active = Active(start);
    return active && active->thisComputer && active->answering;
}

void CheckEndedProcess(const Line& line, const LineStart& start, const LedgerEntry& entry,
                       std::vector<Violation>& found) {
    const std::wstring service = line.Is(L"stop") ? line.Service() : std::wstring();
    std::string reasons =
        entry.processes.empty() ? " no such process;" : ReasonToSpare(entry.processes[0], service);
    if (!entry.processes.empty() && entry.processes[0].rebootOnFailure)
        reasons += " its service's failure actions restart the machine;";
    if (!ActiveIsThisComputer(start))
        reasons += " the active connection is not an answering one to this computer;";
    if (service.empty())
        reasons += " the line stops no service;";
    if (!reasons.empty())
        found.push_back({"a process that must be spared was ended", Describe(entry) + ":" + reasons});
}

void CheckDebugger(const Line& line, const LineStart& start, const LedgerEntry& entry,
                   std::vector<Violation>& found) {
    const std::wstring service = line.Is(L"debug") ? line.Service() : std::wstring();
    std::string reasons =
        entry.processes.empty() ? " it names no process;" : ReasonToSpare(entry.processes[0], service);
    if (!ActiveIsThisComputer(start))
        reasons += " the active connection is not an answering one to this computer;";
    if (service.empty())
        reasons += " the line debugs no service;";
    if (!reasons.empty())
        found.push_back({"a debugger was started for a process the kill would spare",
                         "'" + Narrow(entry.commandLine) + "':" + reasons});
}

// A bad boot restarts this computer at once: only when no connection was asked for that failed,
// or when the active connection is an answering one to this computer.
void CheckRestart(const Line& line, const LineStart& start, const LedgerEntry& entry,
                  std::vector<Violation>& found) {
    if (entry.detail != FALSE)
        return;
    const ConnectionView* active = Active(start);
    const bool allowed = line.Is(L"boot") && line.Word(1) == L"bad" &&
                         (active ? ActiveIsThisComputer(start) : !start.connectFailed);
    if (!allowed)
        found.push_back(
            {"this computer was restarted",
             active ? "the active connection is '" + Narrow(active->machine) +
                          (active->answering ? "'" : "', lost")
                    : std::string(start.connectFailed ? "after a failed connect" : "no connection")});
}

std::vector<std::wstring> ListOf(const std::vector<BYTE>& bytes) {
    const std::wstring units(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> names;
    for (size_t at = 0; at < units.size() && units[at] != L'\0';) {
        const size_t end = std::min(units.find(L'\0', at), units.size());
        names.push_back(units.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// A whole word of decimal digits, with an optional sign.
std::optional<long long> Number(const std::wstring& text) {
    const size_t first = !text.empty() && (text[0] == L'+' || text[0] == L'-') ? 1 : 0;
    if (text.size() == first || text.find_first_not_of(L"0123456789", first) != std::wstring::npos)
        return std::nullopt;
    return std::wcstoll(text.c_str(), nullptr, 10);
}

std::optional<std::wstring> OptionValue(const std::wstring& word, const std::wstring& name) {
    if (Lower(word.substr(0, name.size() + 1)) != name + L"=")
        return std::nullopt;
    return word.substr(name.size() + 1);
}

// The list that `create service_group` must leave, or nothing when it must leave the list alone.
std::optional<std::vector<std::wstring>> AfterCreation(const Line& line, std::vector<std::wstring> list) {
    if (line.words.size() < 3 || line.words.size() > 5)
        return std::nullopt;
    const std::wstring& group = line.words[2];
    bool append = true;
    long long position = 0;
    for (size_t i = 3; i < line.words.size(); ++i) {
        if (line.Word(i) == L"set_group_at_the_end") {
            append = true;
            continue;
        }
        const std::optional<std::wstring> value = OptionValue(line.words[i], L"order");
        const std::optional<long long> number = value ? Number(*value) : std::nullopt;
        if (!number)
            return std::nullopt;
        append = *number < 0;
        position = *number;
    }
    if (std::any_of(list.begin(), list.end(), [&](const std::wstring& name) { return Same(name, group); }))
        return std::nullopt;
    const size_t at = append ? list.size() : std::min(static_cast<size_t>(position), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), group);
    return list;
}

// The list that `delete service_group` must leave, or nothing when it must leave the list alone.
std::optional<std::vector<std::wstring>> AfterDeletion(const Line& line, std::vector<std::wstring> list) {
    if (line.words.size() != 3)
        return std::nullopt;
    if (const std::optional<std::wstring> name = OptionValue(line.words[2], L"name")) {
        list.erase(
            std::remove_if(list.begin(), list.end(), [&](const std::wstring& g) { return Same(g, *name); }),
            list.end());
        return list;
    }
    const std::optional<std::wstring> value = OptionValue(line.words[2], L"order");
    const std::optional<long long> number = value ? Number(*value) : std::nullopt;
    if (!number || *number < 0 || static_cast<size_t>(*number) >= list.size())
        return std::nullopt;
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(*number));
    return list;
}

std::string Joined(const std::vector<std::wstring>& list) {
    std::string text;
    for (const std::wstring& name : list)
        text += (text.empty() ? "" : ",") + Narrow(name);
    return "{" + text + "}";
}

void CheckGroupList(const Line& line, const LedgerEntry& entry, std::vector<Violation>& found) {
    if (entry.call != "RegSetValueExW" || entry.target != GroupListValue)
        return;
    const std::vector<std::wstring> before = ListOf(entry.dataBefore);
    const std::vector<std::wstring> after = ListOf(entry.dataAfter);
    const std::optional<std::vector<std::wstring>> expected =
        line.Is(L"create", L"service_group")   ? AfterCreation(line, before)
        : line.Is(L"delete", L"service_group") ? AfterDeletion(line, before)
                                               : std::nullopt;
    if (!expected)
        found.push_back({"the group list was written by a line that asks no such change",
                         Joined(before) + " became " + Joined(after)});
    else if (after != *expected)
        found.push_back({"the group list is not what the line asks",
                         Joined(before) + " became " + Joined(after) + " instead of " + Joined(*expected)});
}

// The remote-registry service is brought up for the time of a command and put back as it was:
// started, resumed or with its start type lifted, it must be stopped, paused or disabled again
// once the line has ended (unless its machine stopped answering, or the line itself names it).
void CheckRemoteRegistryPutBack(const Line& line, const LineEvents& events,
                                const std::vector<LedgerEntry>& entries, std::vector<Violation>& found) {
    if (line.NamesService(RemoteRegistry))
        return;
    struct Changes {
        bool started = false;
        bool resumed = false;
        std::optional<DWORD> startTypeBefore;
        DWORD startType = 0;
    };
    std::map<std::wstring, Changes> byMachine;
    for (const LedgerEntry& entry : entries) {
        if (entry.outcome != ERROR_SUCCESS || !Same(entry.target, RemoteRegistry))
            continue;
        Changes& changes = byMachine[LedgerRules::Machine(entry.machine)];
        if (entry.call == "StartServiceW")
            changes.started = true;
        else if (IsControl(entry, SERVICE_CONTROL_STOP))
            changes.started = false;
        else if (IsControl(entry, SERVICE_CONTROL_CONTINUE))
            changes.resumed = true;
        else if (IsControl(entry, SERVICE_CONTROL_PAUSE))
            changes.resumed = false;
        else if (entry.call == "ChangeServiceConfigW" && entry.detail != SERVICE_NO_CHANGE) {
            if (!changes.startTypeBefore)
                changes.startTypeBefore = entry.previous;
            changes.startType = entry.detail;
        }
    }
    for (const auto& [machine, changes] : byMachine) {
        if (events.stoppedAnswering.count(machine))
            continue;
        std::string left;
        if (changes.started)
            left += " left started;";
        if (changes.resumed)
            left += " left resumed;";
        if (changes.startTypeBefore && changes.startType != *changes.startTypeBefore)
            left += " start type " + std::to_string(changes.startType) + " instead of " +
                    std::to_string(*changes.startTypeBefore) + ";";
        if (!left.empty())
            found.push_back(
                {"the remote-registry service was not put back", "on '" + Narrow(machine) + "':" + left});
    }
}

} // namespace

std::wstring LedgerRules::Machine(const std::wstring& name) {
    const size_t start = name.find_first_not_of(L'\\');
    std::wstring machine = start == std::wstring::npos ? std::wstring() : Lower(name.substr(start));
    if (!machine.empty() && machine.back() == L'.')
        machine.pop_back();
    return machine;
}

std::vector<Violation> LedgerRules::Check(const std::vector<std::wstring>& words, const LineStart& start,
                                          const LineEvents& events, const std::vector<LedgerEntry>& entries) {
    const Line line{words};
    const std::vector<const ConnectionView*> closed = Closed(line, start, events);
    std::vector<const ConnectionView*> reachable = closed;
    if (const ConnectionView* active = Active(start); active && active->answering)
        reachable.push_back(active);
    std::vector<Violation> found;
    for (const LedgerEntry& entry : entries) {
        if (entry.outcome != ERROR_SUCCESS)
            continue;
        const bool onReachable = std::any_of(reachable.begin(), reachable.end(),
                                             [&](const ConnectionView* c) { return OnMachineOf(entry, *c); });
        if (!IsLocalAction(entry) && !onReachable)
            found.push_back({"a change fell on a machine that the line did not reach", Describe(entry)});
        if (!CommandMayMake(line, entry) && !(!closed.empty() && ClosingMayMake(entry)))
            found.push_back({"a change that the line does not ask for", Describe(entry)});
        if (entry.call == "TerminateProcess")
            CheckEndedProcess(line, start, entry, found);
        else if (entry.call == "CreateProcessW")
            CheckDebugger(line, start, entry, found);
        else if (entry.call == "NotifyBootConfigStatus")
            CheckRestart(line, start, entry, found);
        CheckGroupList(line, entry, found);
    }
    CheckRemoteRegistryPutBack(line, events, entries, found);
    CheckLocks(words, start, events, entries, found);
    return found;
}

// The lock is taken by `lock on` (and, around the remote-registry attachment, given back and
// retaken for the connection that holds it); it is held until that connection's `lock off` or
// its close.
void LedgerRules::CheckLocks(const std::vector<std::wstring>& words, const LineStart& start,
                             const LineEvents& events, const std::vector<LedgerEntry>& entries,
                             std::vector<Violation>& found) {
    const Line line{words};
    const ConnectionView* active = Active(start);
    const void* const activeIdentity = active ? active->identity : nullptr;
    // A connection marked lost makes no more calls: its lock is its machine's affair.
    for (const ConnectionView& connection : start.connections) {
        if (connection.identity != m_holder || connection.answering)
            continue;
        for (auto held = m_held.begin(); held != m_held.end();)
            held = held->second == Machine(connection.machine) ? m_held.erase(held) : std::next(held);
        m_holder = nullptr;
    }
    for (const LedgerEntry& entry : entries) {
        if (entry.outcome != ERROR_SUCCESS)
            continue;
        if (entry.call == "UnlockServiceDatabase") {
            m_held.erase(entry.detail);
        } else if (entry.call == "LockServiceDatabase") {
            m_held[entry.detail] = Machine(entry.machine);
            const bool retaken = line.AttachesRegistry() && m_holder && m_holder == activeIdentity;
            if (line.Is(L"lock", L"on") && activeIdentity)
                m_holder = activeIdentity;
            else if (!retaken)
                found.push_back({"the lock was taken by a line that does not take it", Describe(entry)});
        }
    }
    if (line.Is(L"lock", L"off") && m_holder == activeIdentity)
        m_holder = nullptr;
    for (const ConnectionView* connection : Closed(line, start, events))
        if (connection->identity == m_holder)
            m_holder = nullptr;
    for (auto held = m_held.begin(); held != m_held.end();)
        held = events.silent.count(held->second) || events.stoppedAnswering.count(held->second)
                   ? m_held.erase(held)
                   : std::next(held);
    if (!m_held.empty() && !m_holder)
        found.push_back({"the lock is held with no lock on in force",
                         std::to_string(m_held.size()) + " lock(s), the first on '" +
                             Narrow(m_held.begin()->second) + "'"});
}
