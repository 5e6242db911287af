// enum, create and delete against Wine's service control manager and registry: the list of
// ordered groups, the load order, dependents, and services created and deleted by the console.
//
// The "List" value and the GroupOrderList values are machine-wide, so every run that reads or
// writes them is in one test, which puts them back as it found them whatever happens.
// Wine keeps no tag for the services it creates (it reads "Tag" values only when its manager
// starts) and its enumeration by group compares case-sensitively: the expected load orders take
// both from what the platform reports.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ByteComparison.h"
#include "HandleGuard.h"
#include "OrvelRunner.h"
#include "SavedValue.h"
#include "ServiceInstaller.h"
#include "ShellText.h"
#include "TestEnvironment.h"

namespace {

const wchar_t kGroupListKey[] = L"System\\CurrentControlSet\\Control\\ServiceGroupOrder";
const wchar_t kTagVectorsKey[] = L"System\\CurrentControlSet\\Control\\GroupOrderList";
const std::wstring kGrpA = L"QuorvanE2EGrpA";
const std::wstring kGrpB = L"QuorvanE2EGrpB";
const std::wstring kGrpC = L"QuorvanE2EGrpC";
const std::wstring kGrpALower = L"quorvane2egrpa";
const std::wstring kNew = L"QuorvanE2EGrpNew";
const std::wstring kAllRights = L"983103"; // SC_MANAGER_ALL_ACCESS

bool SameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// The banner, the command's output, then the line break of the connections being closed.
std::vector<BYTE> MultiSz(const std::vector<std::wstring>& names) {
    std::wstring units;
    for (const std::wstring& name : names)
        units += name + L'\0';
    units += L'\0';
    const BYTE* bytes = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t));
}

std::vector<BYTE> TagVector(const std::vector<DWORD>& tags) {
    std::vector<DWORD> words = {static_cast<DWORD>(tags.size())};
    words.insert(words.end(), tags.begin(), tags.end());
    const BYTE* bytes = reinterpret_cast<const BYTE*>(words.data());
    return std::vector<BYTE>(bytes, bytes + words.size() * sizeof(DWORD));
}

// A service that may take part in the load order, as the platform reports it.
struct Candidate {
    std::wstring name;
    std::wstring group;
    DWORD startType;
    DWORD tag;
    bool hasGroup;
    bool hasTag;
    bool operator==(const Candidate& o) const {
        return name == o.name && group == o.group && startType == o.startType && tag == o.tag &&
               hasGroup == o.hasGroup && hasTag == o.hasTag;
    }
};

bool HasValue(HKEY key, const wchar_t* name, DWORD expectedType) {
    DWORD type = REG_NONE, size = 0;
    return RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == expectedType;
}

// The boot-, system- and auto-start services enumerated with `groupFilter`, in enumeration order.
std::vector<Candidate> Candidates(const wchar_t* groupFilter) {
    std::vector<Candidate> candidates;
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    std::vector<BYTE> block(256 * 1024);
    DWORD needed = 0, returned = 0, resume = 0;
    EXPECT_TRUE(EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_TYPE_ALL, SERVICE_STATE_ALL,
                                      block.data(), static_cast<DWORD>(block.size()), &needed, &returned, &resume,
                                      groupFilter));
    const auto* records = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(block.data());
    for (DWORD i = 0; i < returned; ++i) {
        const std::wstring name = records[i].lpServiceName;
        UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
        std::vector<BYTE> config(8192);
        if (!service || !QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()),
                                             static_cast<DWORD>(config.size()), &needed))
            continue;
        const auto& c = *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data());
        if (c.dwStartType > SERVICE_AUTO_START)
            continue;
        Candidate candidate{name, c.lpLoadOrderGroup ? c.lpLoadOrderGroup : L"", c.dwStartType, c.dwTagId, false,
                            false};
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"System\\CurrentControlSet\\Services\\" + name).c_str(), 0,
                          KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            candidate.hasGroup = HasValue(key, L"Group", REG_SZ);
            candidate.hasTag = HasValue(key, L"Tag", REG_DWORD);
            RegCloseKey(key);
        }
        candidates.push_back(candidate);
    }
    return candidates;
}

const Candidate* Find(const std::vector<Candidate>& candidates, const std::wstring& name) {
    for (const Candidate& c : candidates)
        if (c.name == name)
            return &c;
    return nullptr;
}

std::vector<DWORD> ReadTagVector(const std::wstring& group) {
    std::vector<BYTE> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kTagVectorsKey, group.c_str(), RRF_RT_ANY, nullptr, data.data(), &size) !=
            ERROR_SUCCESS ||
        size < sizeof(DWORD))
        return {};
    const DWORD* words = reinterpret_cast<const DWORD*>(data.data());
    return std::vector<DWORD>(words + 1, words + 1 + std::min<DWORD>(words[0], (size - 1) / 4));
}

std::wstring Line(const Candidate& c, bool groupListed, bool tagListed) {
    return L"Service '" + c.name + L"'\t\tGroup : '" + (c.hasGroup ? c.group : L"n/a") + L"'" +
           (groupListed ? L"" : L"*") + L"\tTag : " +
           (c.hasTag ? std::to_wstring(static_cast<int>(c.tag)) : L"n/a") + (tagListed ? L"" : L"*") + L"\n";
}

// The load order as the passes and sweeps place the platform's services: by start type, then the
// listed groups in list order (each by its tag vector, then its other services), then the services
// of no listed group. `group` null asks for all groups.
std::wstring ExpectedLoadOrder(const std::vector<Candidate>& candidates, const std::vector<std::wstring>& list,
                               const wchar_t* group) {
    auto inList = [&](const std::wstring& name) {
        return std::any_of(list.begin(), list.end(), [&](const std::wstring& l) { return SameText(l, name); });
    };
    std::vector<std::wstring> walk;
    if (group) {
        walk.push_back(group);
    } else {
        for (const std::wstring& name : list)
            if (std::none_of(walk.begin(), walk.end(), [&](const std::wstring& w) { return SameText(w, name); }))
                walk.push_back(name);
        walk.push_back(L"");
    }
    std::wstring text = L"Groupe : '" + std::wstring(group ? group : L"< Tous les groupes >") + L"'.\n";
    for (DWORD pass = SERVICE_BOOT_START; pass <= SERVICE_AUTO_START; ++pass) {
        for (const std::wstring& g : walk) {
            const bool listed = !g.empty() && inList(g);
            const std::vector<DWORD> tags = listed ? ReadTagVector(g) : std::vector<DWORD>();
            auto matches = [&](const Candidate& c) {
                return c.startType == pass && (g.empty() ? !c.hasGroup || !inList(c.group)
                                                         : c.hasGroup && SameText(c.group, g));
            };
            for (size_t i = 0; i < tags.size(); ++i)
                if (std::find(tags.begin(), tags.begin() + i, tags[i]) == tags.begin() + i)
                    for (const Candidate& c : candidates)
                        if (matches(c) && c.hasTag && c.tag == tags[i])
                            text += Line(c, c.hasGroup, true);
            for (const Candidate& c : candidates)
                if (matches(c) && !(c.hasTag && std::find(tags.begin(), tags.end(), c.tag) != tags.end()))
                    text += Line(c, listed && c.hasGroup, false);
        }
    }
    return text + L"\n";
}

// Other programs may add or remove services meanwhile (which can also make the console's
// enumeration fail): retried until the platform's view held still around a matching run.
void ExpectLoadOrder(const wchar_t* group, const std::vector<std::wstring>& list) {
    std::vector<std::wstring> command = {L"enum", L"service_group_load_order"};
    if (group)
        command.push_back(group);
    for (int attempt = 0;; ++attempt) {
        const std::vector<Candidate> before = Candidates(group);
        const OrvelRun run = RunOrvelBatch(command);
        const std::string expected = Batch(ExpectedLoadOrder(before, list, group));
        if ((Candidates(group) != before || run.out != expected) && attempt < 4)
            continue;
        EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.err, "");
        return;
    }
}

std::wstring GroupListing(const std::vector<std::wstring>& names) {
    std::wstring text = L"Il y a " + std::to_wstring(names.size()) + L" groupe" + (names.size() > 1 ? L"s" : L"") +
                        L".\n\nGroupes :\n=========\n";
    for (const std::wstring& name : names)
        text += name + L"\n";
    return text + L"\n\n";
}

void SetTag(const InstalledTestService& service, DWORD tag) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"System\\CurrentControlSet\\Services\\" + service.name()).c_str(),
                            0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"Tag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&tag), sizeof tag),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetGroup(const InstalledTestService& service, const std::wstring& group) {
    ASSERT_TRUE(ChangeServiceConfigW(service.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     nullptr, group.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr))
        << GetLastError();
}

TEST(GroupE2E, GroupListEditsAndLoadOrderOnTheMachineWideValues) {
    SavedValue list(kGroupListKey, L"List");
    SavedValue vectorA(kTagVectorsKey, kGrpA);
    SavedValue vectorC(kTagVectorsKey, kGrpC);
    auto setList = [&](const std::vector<std::wstring>& names) { list.Set(REG_MULTI_SZ, MultiSz(names)); };
    const std::wstring createUsage = UsageText({L"create", L"service_group"});
    const std::wstring deleteUsage = UsageText({L"delete", L"service_group"});

    {
        SCOPED_TRACE("enum service_group");
        // Not closed by two NULs, and an odd byte count.
        std::vector<BYTE> unclosed = MultiSz({kGrpA, kGrpB});
        unclosed.resize(unclosed.size() - 3);
        struct Case {
            DWORD type;
            std::vector<BYTE> data;
            std::wstring output;
            DWORD exitCode = 0;
        };
        // A list that cannot be read shows only the failure: no count, no "(null)".
        const std::vector<Case> cases = {
            {REG_NONE, {}, L"", ERROR_FILE_NOT_FOUND}, // absent
            {REG_SZ, MultiSz({kGrpA}), L"", ERROR_INVALID_DATATYPE},
            {REG_MULTI_SZ, {}, GroupListing({})},
            {REG_MULTI_SZ, MultiSz({kGrpA}), GroupListing({kGrpA})},
            {REG_MULTI_SZ, MultiSz({kGrpA, L"Quorvan E2E Grp"}), GroupListing({kGrpA, L"Quorvan E2E Grp"})},
            {REG_MULTI_SZ, unclosed, GroupListing({kGrpA, kGrpB})},
        };
        for (const Case& c : cases) {
            if (c.type == REG_NONE)
                list.Remove();
            else
                list.Set(c.type, c.data);
            const OrvelRun run = RunOrvelBatch({L"enum", L"service_group", L"ignored"});
            EXPECT_PRED_FORMAT2(BytesEqual, Batch(c.output), run.out);
            EXPECT_EQ(run.exitCode, c.exitCode);
        }
        // Written back well formed.
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(L""), RunOrvelBatch({L"create", L"service_group", kNew}).out);
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        EXPECT_TRUE(list.Read(type, data));
        EXPECT_EQ(data, MultiSz({kGrpA, kGrpB, kNew}));
    }
    {
        SCOPED_TRACE("create and delete service_group");
        const std::vector<std::wstring> base = {kGrpA, kGrpB};
        struct Case {
            std::vector<std::wstring> initial;
            std::vector<std::wstring> words;
            std::vector<std::wstring> result;
            std::wstring output = L"";
            DWORD exitCode = 0;
        };
        const std::wstring nine = L"order=99999999999";
        const DWORD listed = ERROR_ALREADY_EXISTS;
        const DWORD noGroupThere = ERROR_NOT_FOUND;
        const DWORD usage = ERROR_INVALID_PARAMETER;
        const std::vector<Case> cases = {
            {base, {L"create", L"service_group", kNew, L"order=1"}, {kGrpA, kNew, kGrpB}},
            {base, {L"create", L"service_group", kNew, L"order=1", L"SET_GROUP_AT_THE_END"}, {kGrpA, kGrpB, kNew}},
            {base, {L"create", L"service_group", kNew, L"set_group_at_the_end", L"ORDER=1"}, {kGrpA, kNew, kGrpB}},
            {base, {L"create", L"service_group", kNew}, {kGrpA, kGrpB, kNew}},
            // A word where the position belongs would put the group before every other.
            {base, {L"create", L"service_group", kNew, L"order=premier"}, base, createUsage, usage},
            {base, {L"create", L"service_group", kNew, L"order= +1st"}, {kGrpA, kNew, kGrpB}},
            {base, {L"create", L"service_group", kNew, L"order=-1"}, {kGrpA, kGrpB, kNew}},
            {base, {L"create", L"service_group", kNew, nine}, {kGrpA, kGrpB, kNew}},
            // A name already listed, in any case and wherever it would go, is refused.
            {base, {L"create", L"service_group", kGrpALower, L"order=0"}, base, L"", listed},
            {base, {L"create", L"service_group", kGrpALower, L"order=1"}, base, L"", listed},
            {base, {L"create", L"service_group", kGrpB}, base, L"", listed},
            {{}, {L"create", L"service_group", kNew, L"order=3"}, {kNew}},
            {base, {L"create", L"service_group", L"Quorvan E2E Grp", L"order=1"}, {kGrpA, L"Quorvan E2E Grp", kGrpB}},
            {base, {L"create", L"service_group", kNew, L"order=2=3"}, base, createUsage, usage},
            {base, {L"create", L"service_group", kNew, L"orders=2"}, base, createUsage, usage},
            {base, {L"create", L"service_group", kNew, L"order="}, base, createUsage, usage},
            {base, {L"create", L"service_group", kNew, L"order=1", L"order=2", L"order=0"}, base, createUsage, usage},
            {base, {L"create", L"service_group"}, base, createUsage, usage},
            {base, {L"delete", L"service_group", L"name=" + kGrpB}, {kGrpA}},
            {{kGrpA, kGrpB, L"QUORVANE2EGRPA"}, {L"delete", L"service_group", L"NAME=" + kGrpALower}, {kGrpB}},
            {base, {L"delete", L"service_group", L"name=QuorvanE2EGrpMissing"}, base},
            {{kGrpA, L"Quorvan E2E Grp", kGrpB}, {L"delete", L"service_group", L"name=\"Quorvan E2E Grp\""}, base},
            {base, {L"delete", L"service_group", L"order=0"}, {kGrpB}},
            {base, {L"delete", L"service_group", L"Order=1"}, {kGrpA}},
            {base, {L"delete", L"service_group", L"order=2"}, base, L"", noGroupThere},
            {base, {L"delete", L"service_group", L"order=-1"}, base, L"", noGroupThere},
            {base, {L"delete", L"service_group", nine}, base, L"", noGroupThere},
            {base, {L"delete", L"service_group", L"order=x"}, base, deleteUsage, usage},
            {base, {L"delete", L"service_group", L"name="}, base, deleteUsage, usage},
            {base, {L"delete", L"service_group", kGrpA}, base, deleteUsage, usage},
            {base, {L"delete", L"service_group", L"name=" + kGrpA + L"=x"}, base, deleteUsage, usage},
            {base, {L"delete", L"service_group", L"names=" + kGrpA}, base, deleteUsage, usage},
            {base, {L"delete", L"service_group", L"name=" + kGrpA, L"order=0"}, base, deleteUsage, usage},
            {base, {L"delete", L"service_group"}, base, deleteUsage, usage},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.words));
            setList(c.initial);
            const OrvelRun run = RunOrvelBatch(c.words);
            EXPECT_PRED_FORMAT2(BytesEqual, Batch(c.output), run.out);
            EXPECT_EQ(run.exitCode, c.exitCode);
            DWORD type = REG_NONE;
            std::vector<BYTE> data;
            EXPECT_TRUE(list.Read(type, data));
            EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
            EXPECT_EQ(data, MultiSz(c.result));
        }
        // Never written: a list of another type, or none.
        const std::vector<std::vector<std::wstring>> edits = {{L"create", L"service_group", kGrpA, L"order=0"},
                                                               {L"delete", L"service_group", L"name=" + kGrpA}};
        for (const std::vector<std::wstring>& words : edits) {
            list.Set(REG_SZ, MultiSz({kGrpA}));
            EXPECT_PRED_FORMAT2(BytesEqual, Batch(L""), RunOrvelBatch(words).out);
            DWORD type = REG_NONE;
            std::vector<BYTE> data;
            EXPECT_TRUE(list.Read(type, data));
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(data, MultiSz({kGrpA}));
            list.Remove();
            EXPECT_PRED_FORMAT2(BytesEqual, Batch(L""), RunOrvelBatch(words).out);
            EXPECT_FALSE(list.Read(type, data));
        }
    }
    {
        SCOPED_TRACE("group names with blanks in a script");
        setList({kGrpA, kGrpB});
        const std::wstring computer = ComputerName();
        const std::string prompt = Bytes(L"Quorvan @ " + computer + L" (local) | 1 > ");
        const std::wstring lines[] = {L"create service_group \"Quorvan E2E Grp\" order=1",
                                      L"delete service_group name=Quorvan E2E Grp", L"enum service_group",
                                      L"delete service_group name=\"Quorvan E2E Grp\"", L"enum service_group"};
        const std::wstring outputs[] = {L"", deleteUsage, GroupListing({kGrpA, L"Quorvan E2E Grp", kGrpB}), L"",
                                        GroupListing({kGrpA, kGrpB})};
        std::wstring script = L"connect " + computer + L"\n";
        std::string expected = Banner() + Prompted(L"connect " + computer) + kLineBreak;
        for (size_t i = 0; i < 5; ++i) {
            script += lines[i] + L"\n";
            expected += prompt + Bytes(lines[i] + L"\n" + outputs[i]);
        }
        const OrvelRun run = RunOrvelScript(Bytes(script));
        EXPECT_PRED_FORMAT2(BytesEqual, expected + prompt + kLineBreak + kLineBreak, run.out);
        EXPECT_EQ(run.err, "");
    }
    {
        SCOPED_TRACE("enum service_group_load_order");
        // Created in this order so that the tag sweep visibly comes before the enumeration order.
        InstalledTestService plain(L"QuorvanE2EGrpPlain", {}, SERVICE_AUTO_START);
        InstalledTestService tagged(L"QuorvanE2EGrpTagged", {}, SERVICE_AUTO_START);
        InstalledTestService otherCase(L"QuorvanE2EGrpCase", {}, SERVICE_AUTO_START);
        InstalledTestService demand(L"QuorvanE2EGrpDemand", {}, SERVICE_DEMAND_START);
        InstalledTestService unlisted(L"QuorvanE2EGrpOther", {}, SERVICE_AUTO_START);
        InstalledTestService inB(L"QuorvanE2EGrpInB", {}, SERVICE_AUTO_START);
        InstalledTestService none(L"QuorvanE2EGrpNone", {}, SERVICE_AUTO_START);
        for (const InstalledTestService* s : {&plain, &tagged, &otherCase, &demand, &unlisted, &inB, &none})
            ASSERT_TRUE(s->installed());
        SetGroup(plain, kGrpA);
        SetGroup(tagged, kGrpA);
        SetGroup(otherCase, kGrpALower);
        SetGroup(demand, kGrpA);
        SetGroup(unlisted, kGrpC);
        SetGroup(inB, kGrpB);
        // Only the presence of the value counts: the tag itself is the configuration's.
        for (const InstalledTestService* s : {&tagged, &otherCase, &demand, &unlisted, &inB})
            SetTag(*s, 9);
        const std::vector<Candidate> all = Candidates(nullptr);
        const Candidate* taggedSeen = Find(all, tagged.name());
        ASSERT_NE(taggedSeen, nullptr);
        ASSERT_TRUE(taggedSeen->hasTag && taggedSeen->hasGroup);
        const DWORD tag = taggedSeen->tag;
        const std::wstring shownTag = std::to_wstring(static_cast<int>(tag));
        vectorA.Set(REG_BINARY, TagVector({tag + 1, tag}));
        vectorC.Set(REG_BINARY, TagVector({tag}));

        // A group of the machine's own whose services carry tags: its vector lists them backwards.
        std::wstring tagGroup;
        for (const Candidate& c : all)
            if (c.hasGroup && c.hasTag && tagGroup.empty() && c.name.rfind(L"QuorvanE2E", 0) != 0)
                tagGroup = c.group;
        std::vector<DWORD> machineTags;
        for (const Candidate& c : all)
            if (!tagGroup.empty() && c.hasTag && SameText(c.group, tagGroup))
                machineTags.insert(machineTags.begin(), c.tag);
        std::unique_ptr<SavedValue> machineVector;
        if (!tagGroup.empty()) {
            machineVector = std::make_unique<SavedValue>(kTagVectorsKey, tagGroup);
            machineVector->Set(REG_BINARY, TagVector(machineTags));
        }
        std::vector<std::wstring> groups = {kGrpA, kGrpB, L"QUORVANE2EGRPA"};
        if (!tagGroup.empty())
            groups.push_back(tagGroup);
        setList(groups);

        OrvelRun run = RunOrvelBatch({L"enum", L"service_group_load_order", kGrpA, L"ignored"});
        const std::wstring byTag = L"Groupe : '" + kGrpA + L"'.\n" +
                                   L"Service 'QuorvanE2EGrpTagged'\t\tGroup : 'QuorvanE2EGrpA'\tTag : " + shownTag +
                                   L"\n" + L"Service 'QuorvanE2EGrpPlain'\t\tGroup : 'QuorvanE2EGrpA'\tTag : n/a*\n\n";
        std::vector<std::wstring> enumeratedInA;
        for (const Candidate& c : Candidates(kGrpA.c_str()))
            enumeratedInA.push_back(c.name);
        // Wine's enumeration by group leaves out the group written in other case.
        ASSERT_EQ(enumeratedInA, (std::vector<std::wstring>{plain.name(), tagged.name()}));
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(byTag), run.out);
        EXPECT_EQ(run.exitCode, 0u);

        // An unlisted group has no tag vector, even when GroupOrderList holds one under its name.
        run = RunOrvelBatch({L"enum", L"service_group_load_order", kGrpC});
        EXPECT_PRED_FORMAT2(BytesEqual,
                            Batch(L"Groupe : 'QuorvanE2EGrpC'.\nService 'QuorvanE2EGrpOther'\t\tGroup : "
                                  L"'QuorvanE2EGrpC'*\tTag : " +
                                  shownTag + L"*\n\n"),
                            run.out);
        run = RunOrvelBatch({L"enum", L"service_group_load_order", L"QuorvanE2EGrpEmpty"});
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"Groupe : 'QuorvanE2EGrpEmpty'.\n\n"), run.out);

        ExpectLoadOrder(kGrpALower.c_str(), groups);
        if (!tagGroup.empty())
            ExpectLoadOrder(tagGroup.c_str(), groups);
        ExpectLoadOrder(nullptr, groups);
        setList({});
        ExpectLoadOrder(nullptr, {});

        // The type of the list is not looked at when placing services.
        list.Set(REG_SZ, MultiSz({kGrpA}));
        run = RunOrvelBatch({L"enum", L"service_group_load_order", kGrpA});
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(byTag), run.out);

        // Without a list value no group is listed, and the walk of all groups has no group at
        // all, not even that of the unknown groups.
        list.Remove();
        ExpectLoadOrder(kGrpA.c_str(), {});
        run = RunOrvelBatch({L"enum", L"service_group_load_order"});
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"Groupe : '< Tous les groupes >'.\n\n"), run.out);
        EXPECT_EQ(run.exitCode, 0u);
    }
}

TEST(GroupE2E, DependentsOfAServiceWithoutAny) {
    InstalledTestService service(L"QuorvanE2EGrpDeps", {});
    ASSERT_TRUE(service.installed());
    const std::wstring dependentsUsage = UsageText({L"enum", L"dependent_services"});
    // The heading carries the name as typed.
    for (const std::wstring& typed : {service.name(), std::wstring(L"quorvanE2EgrpDEPS")}) {
        const OrvelRun run = RunOrvelBatch({L"enum", L"dependent_services", typed});
        EXPECT_PRED_FORMAT2(BytesEqual,
                            Batch(L"D\u00E9pendances de " + typed + L" :\nIl y a 0 d\u00E9pendances.\n\n\n"), run.out);
        EXPECT_EQ(run.exitCode, 0u);
    }
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(dependentsUsage), RunOrvelBatch({L"enum", L"dependent_services"}).out);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(dependentsUsage),
                        RunOrvelBatch({L"enum", L"dependent_services", service.name(), L"x"}).out);
    const OrvelRun unknown = RunOrvelBatch({L"enum", L"dependent_services", L"QuorvanE2EGrpNoSuchService"});
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L"\n"), unknown.out);
    EXPECT_EQ(unknown.exitCode, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// A service or driver as the platform lists it.
struct ListedService {
    std::wstring name;
    std::wstring displayName;
    DWORD state;
};

std::vector<ListedService> PlatformServices(DWORD serviceType, DWORD serviceState) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    std::vector<BYTE> block(256 * 1024);
    DWORD needed = 0, returned = 0, resume = 0;
    EXPECT_TRUE(EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, serviceType, serviceState, block.data(),
                                      static_cast<DWORD>(block.size()), &needed, &returned, &resume, nullptr));
    const auto* records = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(block.data());
    std::vector<ListedService> listed;
    for (DWORD i = 0; i < returned; ++i)
        listed.push_back({records[i].lpServiceName, records[i].lpDisplayName ? records[i].lpDisplayName : L"",
                          records[i].ServiceStatusProcess.dwCurrentState});
    return listed;
}

std::wstring StateInWords(DWORD state) {
    static const wchar_t* const words[] = {
        L"Arr\u00EAt\u00E9",      L"D\u00E9marrage en cours",     L"Arr\u00EAt en cours",
        L"En cours d'ex\u00E9cution", L"Reprise en cours", L"Mise en pause en cours", L"En pause"};
    return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED ? words[state - 1] : std::to_wstring(state);
}

// The listing of `enum services`: sorted by key name without regard to case, columns padded to
// the longest key name and state, two spaces between them.
std::wstring ServiceListing(std::vector<ListedService> services, const std::wstring& singular,
                            const std::wstring& plural, const std::wstring& title) {
    std::sort(services.begin(), services.end(), [](const ListedService& a, const ListedService& b) {
        return _wcsicmp(a.name.c_str(), b.name.c_str()) < 0;
    });
    size_t nameWidth = 0, stateWidth = 0;
    for (const ListedService& service : services) {
        nameWidth = std::max(nameWidth, service.name.size());
        stateWidth = std::max(stateWidth, StateInWords(service.state).size());
    }
    std::wstring text = L"Il y a " + std::to_wstring(services.size()) + L" " +
                        (services.size() > 1 ? plural : singular) + L".\n\n" + title + L"\n" +
                        std::wstring(title.size(), L'=') + L"\n";
    for (const ListedService& service : services) {
        const std::wstring state = StateInWords(service.state);
        text += service.name + std::wstring(nameWidth - service.name.size() + 2, L' ') + state +
                std::wstring(stateWidth - state.size() + 2, L' ') + service.displayName + L"\n";
    }
    return text + L"\n";
}

// Other tests add and remove services meanwhile: retried until the platform's view held still
// around a matching run. Gives back the run's output.
// `connected`: through a connection with rights; otherwise through batch mode's own, which has
// the connection right alone.
std::string ExpectServiceListing(const std::vector<std::wstring>& words, DWORD serviceType, DWORD serviceState,
                                 const std::wstring& singular, const std::wstring& plural,
                                 const std::wstring& title, bool connected = true) {
    std::vector<std::wstring> command = {L"enum", L"services"};
    command.insert(command.end(), words.begin(), words.end());
    for (int attempt = 0;; ++attempt) {
        const std::wstring before = ServiceListing(PlatformServices(serviceType, serviceState), singular, plural, title);
        const OrvelRun run = connected ? RunOrvelBatch(command) : RunOrvel(command);
        const std::string expected = Batch(before);
        if ((ServiceListing(PlatformServices(serviceType, serviceState), singular, plural, title) != before ||
             run.out != expected) &&
            attempt < 4)
            continue;
        EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.err, "");
        return run.out;
    }
}

TEST(GroupE2E, ServicesAndDriversAreListedWithTheirStatesAndDisplayNames) {
    InstalledTestService service(L"QuorvanE2EGrpListed", {});
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(ChangeServiceConfigW(service.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     L"D\u00E9mo \u00E9num\u00E9r\u00E9e"))
        << GetLastError();

    std::string out = ExpectServiceListing({}, SERVICE_WIN32, SERVICE_STATE_ALL, L"service", L"services", L"Services :");
    ExpectServiceListing({}, SERVICE_WIN32, SERVICE_STATE_ALL, L"service", L"services", L"Services :", false);
    // The display name in the bytes that the rest of the console writes (Windows-1252).
    EXPECT_TRUE(std::regex_search(
        out, std::regex(Bytes(L"\nQuorvanE2EGrpListed +Arr\u00EAt\u00E9 +D\u00E9mo \u00E9num\u00E9r\u00E9e\n"))))
        << EscapeBytes(out);
    SERVICE_STATUS spooler{};
    {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        UniqueServiceHandle handle(OpenServiceW(manager.get(), L"Spooler", SERVICE_QUERY_STATUS));
        ASSERT_TRUE(QueryServiceStatus(handle.get(), &spooler)) << GetLastError();
    }
    EXPECT_TRUE(std::regex_search(out, std::regex(Bytes(L"\nSpooler +" + StateInWords(spooler.dwCurrentState) + L" "))))
        << EscapeBytes(out);

    out = ExpectServiceListing({L"pilotes", L"actifs"}, SERVICE_DRIVER, SERVICE_ACTIVE, L"pilote", L"pilotes",
                               L"Pilotes :");
    EXPECT_EQ(out.find("Il y a 0 "), std::string::npos) << "Wine runs drivers of its own";
    ExpectServiceListing({L"Tous", L"TOUS"}, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL, L"service / pilote",
                         L"services / pilotes", L"Services / pilotes :");
    // A state word alone is the state.
    ExpectServiceListing({L"actifs"}, SERVICE_WIN32, SERVICE_ACTIVE, L"service", L"services", L"Services :");

    const std::wstring usage =
        L"\n\u00C9num\u00E8re les services et pilotes de la connexion active, tri\u00E9s par nom\n"
        L"syst\u00E8me, avec leur \u00E9tat et leur nom complet. Le nom syst\u00E8me (premi\u00E8re\n"
        L"colonne) est celui qu'attendent les autres commandes.\n"
        L"\n"
        L"UTILISATION :\n"
        L"    Mode Batch      : ORVEL <CONNECT:...> ENUM SERVICES [type] [\u00E9tat]\n"
        L"    Mode Interactif : ENUM SERVICES [type] [\u00E9tat]\n"
        L"\n"
        L"    [type]    SERVICES : les services (par d\u00E9faut) ;\n"
        L"              PILOTES  : les pilotes ;\n"
        L"              TOUS     : les services et les pilotes.\n"
        L"    [\u00E9tat]    TOUS     : quel que soit leur \u00E9tat (par d\u00E9faut) ;\n"
        L"              ACTIFS   : ceux qui ne sont pas arr\u00EAt\u00E9s ;\n"
        L"              INACTIFS : ceux qui sont arr\u00EAt\u00E9s.\n"
        L"\n"
        L"EXEMPLE :\n"
        L"    ENUM SERVICES PILOTES ACTIFS\n"
        L"\n";
    for (const std::vector<std::wstring>& words : std::vector<std::vector<std::wstring>>{
             {L"enum", L"services", L"actifs", L"services"}, {L"enum", L"services", L"pilotes", L"arretes"},
             {L"enum", L"services", L"tous", L"tous", L"tous"}})
        EXPECT_PRED_FORMAT2(BytesEqual, Batch(usage), RunOrvelBatch(words).out);
}

// Deletes the service by name at the end of the test if the console left it behind.
class ServiceRemover {
public:
    explicit ServiceRemover(std::wstring name) : m_name(std::move(name)) { Remove(); }
    ~ServiceRemover() { Remove(); }
    ServiceRemover(const ServiceRemover&) = delete;
    ServiceRemover& operator=(const ServiceRemover&) = delete;
    bool Exists() const {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        return static_cast<bool>(UniqueServiceHandle(OpenServiceW(manager.get(), m_name.c_str(), SERVICE_QUERY_STATUS)));
    }
    // Deletion completes once the last handle is closed.
    bool Gone() const {
        for (int i = 0; i < 100 && Exists(); ++i)
            Sleep(50);
        return !Exists();
    }

private:
    void Remove() {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        UniqueServiceHandle service(OpenServiceW(manager.get(), m_name.c_str(), DELETE));
        if (service) {
            DeleteService(service.get());
            service.reset();
            EXPECT_TRUE(Gone());
        }
    }
    std::wstring m_name;
};

DWORD CreateErrorOfThePlatform(DWORD managerRights, const std::wstring& name) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, managerRights));
    UniqueServiceHandle service(CreateServiceW(manager.get(), name.c_str(), nullptr, SERVICE_ALL_ACCESS, 0x110,
                                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"C:\\x.exe", nullptr,
                                               nullptr, nullptr, nullptr, nullptr));
    const DWORD error = GetLastError();
    EXPECT_FALSE(service) << "the platform created " << testing::PrintToString(name);
    if (service)
        DeleteService(service.get());
    return error;
}

// The created service runs a wrapper that does not exist: it is never started.
TEST(GroupE2E, CreatedServiceObjectHasTheFixedTestConfigurationUntilDeleted) {
    const std::wstring name = L"QuorvanE2EGrpCreated";
    ServiceRemover remover(name);
    const std::wstring creating = L"Cr\u00E9ation du service " + name + L"...";

    const DWORD refused = CreateErrorOfThePlatform(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE, name);
    OrvelRun run = RunOrvelBatch({L"create", L"service_object", name});
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(creating + L"PROBL\u00C8ME\n"), run.out);
    EXPECT_EQ(run.exitCode, refused);
    EXPECT_FALSE(remover.Exists());

    run = RunOrvelBatch({L"create", L"service_object", name}, kAllRights);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(creating + L"OK\n"), run.out);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(remover.Exists());

    std::vector<BYTE> block(8192);
    {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block.data()),
                                        static_cast<DWORD>(block.size()), &needed));
    }
    const auto& c = *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(block.data());
    EXPECT_EQ(c.dwServiceType, 0x110u);
    EXPECT_EQ(c.dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(c.dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    const std::wstring path = c.lpBinaryPathName ? c.lpBinaryPathName : L"";
    EXPECT_TRUE(std::regex_match(path, std::wregex(LR"(^"C:\\[^\\"]+" /RunAsService:aah C:\\windows\\system32\\calc\.exe {36}$)")))
        << testing::PrintToString(path);
    auto orNull = [](const wchar_t* text) { return std::wstring(text ? text : L"< NULL >"); };
    run = RunOrvelBatch({L"query", L"config", name});
    EXPECT_PRED_FORMAT2(
        BytesEqual,
        Batch(L"\nPropri\u0082t\u0082s :\n============\n\nlpSvcConfig->dwErrorControl     = 1"
              L"\nlpSvcConfig->dwServiceType      = 272\nlpSvcConfig->dwStartType        = 3"
              L"\nlpSvcConfig->dwTagId            = " + std::to_wstring(c.dwTagId) +
              L"\nlpSvcConfig->lpBinaryPathName   = " + path +
              L"\nlpSvcConfig->lpDependencies     = " + orNull(c.lpDependencies) +
              L"\nlpSvcConfig->lpDisplayName      = " + orNull(c.lpDisplayName) +
              L"\nlpSvcConfig->lpLoadOrderGroup   = " + orNull(c.lpLoadOrderGroup) +
              L"\nlpSvcConfig->lpServiceStartName = " + orNull(c.lpServiceStartName) +
              L"\n\n============\n\n"),
        run.out);

    const DWORD exists = CreateErrorOfThePlatform(SC_MANAGER_ALL_ACCESS, name);
    run = RunOrvelBatch({L"create", L"service_object", name}, kAllRights);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(creating + L"PROBL\u00C8ME\n"), run.out);
    EXPECT_EQ(run.exitCode, exists);

    EXPECT_PRED_FORMAT2(BytesEqual, Batch(UsageText({L"create", L"service_object"})),
                        RunOrvelBatch({L"create", L"service_object", name, L"x"}, kAllRights).out);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(UsageText({L"delete", L"service_object"})),
                        RunOrvelBatch({L"delete", L"service_object"}, kAllRights).out);
    EXPECT_TRUE(remover.Exists());

    run = RunOrvelBatch({L"delete", L"service_object", name}, kAllRights);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L""), run.out);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(remover.Gone());
    run = RunOrvelBatch({L"delete", L"service_object", name}, kAllRights);
    EXPECT_PRED_FORMAT2(BytesEqual, Batch(L""), run.out);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

} // namespace
