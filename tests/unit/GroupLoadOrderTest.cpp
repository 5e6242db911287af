#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "ServiceGroups.h"
#include "SvcCtrlMgr.h"

using namespace ServicesManagement;
using namespace ServiceGroups;

namespace {

// A value no platform call leaves behind: it shows what an operation did to the last-error value.
const DWORD Marker = 0xBEEF;

std::vector<std::wstring> Names(const std::vector<Row>& rows) {
    std::vector<std::wstring> names;
    for (const Row& row : rows)
        names.push_back(row.name);
    return names;
}

class GroupLoadOrderTest : public ::testing::Test {
protected:
    GroupLoadOrderTest() : connection(std::make_unique<CSvcCtrlMgr>(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}

    void TearDown() override {
        connection.reset();
        EXPECT_EQ(fake.OpenRegistryKeys(), 0u);
        EXPECT_EQ(fake.OpenServiceHandles(), 0u);
    }

    // List "A", "B"; A's tag vector 5, 3; automatic services x (A, tag 3), y (A, tag 5),
    // z (A, no tag), w (B, tag 1), v (no group), u (C, unknown to the list); d (A) starts on demand.
    void SetUpExample() {
        SetGroupList(fake, {L"A", L"B"});
        SetTagVector(fake, L"A", {5, 3});
        AddGroupedService(fake, L"x", SERVICE_AUTO_START, L"A", 3);
        AddGroupedService(fake, L"y", SERVICE_AUTO_START, L"A", 5);
        AddGroupedService(fake, L"z", SERVICE_AUTO_START, L"A", std::nullopt);
        AddGroupedService(fake, L"w", SERVICE_AUTO_START, L"B", 1);
        AddGroupedService(fake, L"v", SERVICE_AUTO_START, std::nullopt, std::nullopt);
        AddGroupedService(fake, L"u", SERVICE_AUTO_START, L"C", 7);
        AddGroupedService(fake, L"d", SERVICE_DEMAND_START, L"A", 3);
    }

    // The load order of `group`, checked for what every successful call must hold.
    std::vector<Row> LoadOrder(const wchar_t* group) {
        _GROUP_LOAD_ORDER* order = nullptr;
        unsigned long count = 99;
        ::SetLastError(Marker);
        EXPECT_EQ(connection->GroupLoadOrder(group, &order, &count), 1);
        EXPECT_EQ(::GetLastError(), Marker);
        if (!order)
            return {};
        EXPECT_EQ(count, order->dwCount);
        EXPECT_EQ(OptionalText(order->lpGroupName), OptionalText(group));
        const _GROUP_LOAD_ORDER_ENTRY* entries = order->Entries;
        for (unsigned long i = 0; i < order->dwCount; ++i)
            EXPECT_EQ(entries[i].dwReserved, 0u);
        std::vector<Row> rows = RowsOf(*order);
        ReleaseGroupLoadOrder(order);
        return rows;
    }

    std::vector<std::wstring> LoadOrderNames(const wchar_t* group) { return Names(LoadOrder(group)); }

    FakePlatform fake;
    std::unique_ptr<CSvcCtrlMgr> connection;
};

// Rows of the automatic services of the example.
const Row X{L"x", L"A", 1, 1, SERVICE_AUTO_START, 3, 1, 1};
const Row Y{L"y", L"A", 1, 1, SERVICE_AUTO_START, 5, 1, 1};
const Row Z{L"z", L"A", 1, 1, SERVICE_AUTO_START, 0, 0, 0};
const Row W{L"w", L"B", 1, 1, SERVICE_AUTO_START, 1, 0, 1};
const Row V{L"v", std::nullopt, 0, 0, SERVICE_AUTO_START, 0, 0, 0};
const Row U{L"u", L"C", 0, 1, SERVICE_AUTO_START, 7, 0, 1};

TEST_F(GroupLoadOrderTest, AllGroupsFollowTheListTheirTagVectorsAndThenTheUnknownGroups) {
    SetUpExample();
    EXPECT_EQ(LoadOrder(nullptr), (std::vector<Row>{Y, X, Z, W, V, U}));
}

TEST_F(GroupLoadOrderTest, OneListedGroupInAnyCaseKeepsItsTagOrder) {
    SetUpExample();
    EXPECT_EQ(LoadOrder(L"a"), (std::vector<Row>{Y, X, Z}));
}

TEST_F(GroupLoadOrderTest, GroupUnknownToTheListHasNoTagVector) {
    SetUpExample();
    SetTagVector(fake, L"C", {7});
    EXPECT_EQ(LoadOrder(L"C"), (std::vector<Row>{U}));
}

TEST_F(GroupLoadOrderTest, BootThenSystemThenAutomaticServicesWhateverTheirGroups) {
    SetGroupList(fake, {L"A", L"B"});
    AddGroupedService(fake, L"auto", SERVICE_AUTO_START, L"A", std::nullopt);
    AddGroupedService(fake, L"disabled", SERVICE_DISABLED, L"A", std::nullopt);
    AddGroupedService(fake, L"system", SERVICE_SYSTEM_START, std::nullopt, std::nullopt);
    AddGroupedService(fake, L"boot-b", SERVICE_BOOT_START, L"B", std::nullopt);
    AddGroupedService(fake, L"boot-a", SERVICE_BOOT_START, L"A", std::nullopt);
    EXPECT_EQ(LoadOrderNames(nullptr), (std::vector<std::wstring>{L"boot-a", L"boot-b", L"system", L"auto"}));
}

TEST_F(GroupLoadOrderTest, TagCountBeyondTheValueIsCutToTheWholeTagsItHolds) {
    SetUpExample();
    // Read past its end, the 13-byte value would yield a third tag, 1.
    AddGroupedService(fake, L"t", SERVICE_AUTO_START, L"A", 1);
    const Row T{L"t", L"A", 1, 1, SERVICE_AUTO_START, 1, 0, 1};
    const std::vector<BYTE> words = BytesOf(std::vector<DWORD>{9, 5, 3, 1});
    for (size_t size : {12, 13}) {
        SetTagVectorBytes(fake, L"A", std::vector<BYTE>(words.begin(), words.begin() + size));
        EXPECT_EQ(LoadOrder(L"A"), (std::vector<Row>{Y, X, Z, T})) << size << " bytes";
    }
}

TEST_F(GroupLoadOrderTest, ValueTooShortForItsCountIsAnEmptyTagVector) {
    SetUpExample();
    for (size_t size : {0, 3}) {
        SetTagVectorBytes(fake, L"A", std::vector<BYTE>(size, 2));
        EXPECT_EQ(LoadOrderNames(L"A"), (std::vector<std::wstring>{L"x", L"y", L"z"})) << size << " bytes";
    }
}

TEST_F(GroupLoadOrderTest, GroupNamedTwiceInTheListIsWalkedOnce) {
    SetUpExample();
    SetGroupList(fake, {L"A", L"B", L"a"});
    EXPECT_EQ(LoadOrderNames(nullptr), (std::vector<std::wstring>{L"y", L"x", L"z", L"w", L"v", L"u"}));
}

TEST_F(GroupLoadOrderTest, TagRepeatedInTheVectorPlacesItsServicesOnce) {
    SetUpExample();
    AddGroupedService(fake, L"y2", SERVICE_AUTO_START, L"A", 5);
    SetTagVector(fake, L"A", {5, 3, 5});
    EXPECT_EQ(LoadOrderNames(L"A"), (std::vector<std::wstring>{L"y", L"y2", L"x", L"z"}));
}

TEST_F(GroupLoadOrderTest, ServiceWhoseConfigurationCannotBeReadIsLeftOut) {
    SetUpExample();
    // x is enumerated first: its configuration is read first (size, then data).
    fake.FailCall("QueryServiceConfigW", ERROR_ACCESS_DENIED, 1, 2);
    EXPECT_EQ(LoadOrderNames(nullptr), (std::vector<std::wstring>{L"y", L"z", L"w", L"v", L"u"}));
}

TEST_F(GroupLoadOrderTest, ServiceWithoutKeyFallsUnderNoKnownGroupUntagged) {
    SetUpExample();
    fake.registry.erase(ServiceKey(L"x"));
    const Row bare{L"x", L"A", 0, 0, SERVICE_AUTO_START, 3, 0, 0};
    EXPECT_EQ(LoadOrder(nullptr), (std::vector<Row>{Y, Z, W, bare, V, U}));
}

// Without the key every service falls under no known group; a key without a readable list
// orders no group at all when all groups are asked for, and orders one group as unlisted.
TEST_F(GroupLoadOrderTest, WithoutGroupListKeyOrValue) {
    SetUpExample();
    fake.registry[GroupListKey].erase(L"list");
    EXPECT_TRUE(LoadOrderNames(nullptr).empty()) << "list value missing";
    EXPECT_EQ(LoadOrderNames(L"A"), (std::vector<std::wstring>{L"x", L"y", L"z"})) << "list value missing";
    fake.registry.erase(GroupListKey);
    EXPECT_EQ(LoadOrderNames(nullptr), (std::vector<std::wstring>{L"x", L"y", L"z", L"w", L"v", L"u"}))
        << "list key missing";
}

// A group that no service names orders nothing; an enumeration that is refused (its size query
// and its read) is the load order's failure, with its code, and no record.
TEST_F(GroupLoadOrderTest, RefusedEnumerationFailsButAGroupWithoutServicesIsEmpty) {
    SetUpExample();
    fake.FailCall("EnumServicesStatusExW", ERROR_SERVICE_DOES_NOT_EXIST, 1, 2);
    EXPECT_TRUE(LoadOrder(L"A").empty());
    fake.FailCall("EnumServicesStatusExW", ERROR_ACCESS_DENIED, 1, 2);
    _GROUP_LOAD_ORDER* order = reinterpret_cast<_GROUP_LOAD_ORDER*>(0x1234);
    unsigned long count = 99;
    EXPECT_EQ(connection->GroupLoadOrder(nullptr, &order, &count), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(order, nullptr);
    EXPECT_EQ(count, 0u);
}

TEST_F(GroupLoadOrderTest, WithoutServicesKeyNoServiceTakesPart) {
    SetUpExample();
    fake.registry.erase(ServicesKey);
    EXPECT_TRUE(LoadOrder(nullptr).empty());
}

TEST_F(GroupLoadOrderTest, UnreachableRegistryGivesNoRecord) {
    connection = std::make_unique<CSvcCtrlMgr>(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS);
    fake.FailCall("RegConnectRegistryW", ERROR_BAD_NETPATH);
    _GROUP_LOAD_ORDER* order = nullptr;
    unsigned long count = 99;
    EXPECT_EQ(connection->GroupLoadOrder(nullptr, &order, &count), 0);
    EXPECT_EQ(order, nullptr);
    EXPECT_EQ(count, 0u);
    connection = std::make_unique<CSvcCtrlMgr>();
    EXPECT_EQ(connection->GroupLoadOrder(nullptr, &order, nullptr), 0) << "no connection";
}

class ServiceGroupListTest : public GroupLoadOrderTest {
protected:
    std::vector<std::wstring> StoredList() {
        const std::vector<BYTE> bytes = GroupListBytes(fake);
        EXPECT_EQ(fake.registry[GroupListKey][L"list"].type, static_cast<DWORD>(REG_MULTI_SZ));
        EXPECT_EQ(bytes.size() % sizeof(wchar_t), 0u);
        std::wstring units(bytes.size() / sizeof(wchar_t), L'\0');
        std::memcpy(&units[0], bytes.data(), bytes.size());
        EXPECT_GE(units.size(), 2u);
        EXPECT_EQ(units.substr(units.size() - 2), std::wstring(2, L'\0')) << "closed by two NULs";
        return ElementsOf(units.c_str());
    }
    int Expect(int result, DWORD lastError) {
        EXPECT_EQ(::GetLastError(), lastError);
        return result;
    }
};

TEST_F(ServiceGroupListTest, EnumerationReadsMalformedListsAsTheStringsTheyHold) {
    const std::wstring unclosed = std::wstring(L"A\0B", 3);
    std::vector<BYTE> odd = BytesOf(MultiStringUnits({L"A", L"B"}));
    odd.push_back('C');
    for (const std::vector<BYTE>& bytes : {BytesOf(MultiStringUnits({L"A", L"B"})), BytesOf(unclosed), odd}) {
        SetGroupListBytes(fake, bytes);
        MultiString groups;
        ::SetLastError(Marker);
        EXPECT_EQ(Expect(connection->EnumServiceGroups(groups), Marker), 1);
        EXPECT_EQ(ElementsOf(groups), (std::vector<std::wstring>{L"A", L"B"})) << bytes.size() << " bytes";
    }
}

TEST_F(ServiceGroupListTest, ListMissingOrOfAnotherTypeIsNeitherReadNorCreated) {
    fake.registry[GroupListKey];
    MultiString groups(L"kept", 0);
    EXPECT_EQ(Expect(connection->EnumServiceGroups(groups), ERROR_FILE_NOT_FOUND), 0);
    EXPECT_EQ(Expect(connection->CreateServiceGroup(L"N", 1, 0), ERROR_FILE_NOT_FOUND), 0);
    EXPECT_FALSE(fake.registry[GroupListKey].count(L"list"));
    fake.SetRegistryString(GroupListKey, L"List", L"A");
    EXPECT_EQ(Expect(connection->EnumServiceGroups(groups), ERROR_INVALID_DATATYPE), 0);
    EXPECT_EQ(Expect(connection->DeleteServiceGroup(0ul), ERROR_INVALID_DATATYPE), 0);
    EXPECT_EQ(fake.registry[GroupListKey][L"list"].type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ElementsOf(groups), (std::vector<std::wstring>{L"kept"}));
}

TEST_F(ServiceGroupListTest, CreationAtTheFrontRefusesANameAlreadyListed) {
    SetGroupList(fake, {L"A", L"B"});
    ::SetLastError(Marker);
    EXPECT_EQ(Expect(connection->CreateServiceGroup(L"N", 0, 0), Marker), 1);
    EXPECT_EQ(StoredList(), (std::vector<std::wstring>{L"N", L"A", L"B"}));
    EXPECT_EQ(Expect(connection->CreateServiceGroup(L"n", 0, 0), ERROR_ALREADY_EXISTS), 0);
    EXPECT_EQ(Expect(connection->CreateServiceGroup(L"b", 0, 0), ERROR_ALREADY_EXISTS), 0);
    EXPECT_EQ(StoredList(), (std::vector<std::wstring>{L"N", L"A", L"B"}));
    EXPECT_EQ(fake.Calls("RegSetValueExW"), 1) << "a refused edit writes nothing";
}

TEST_F(ServiceGroupListTest, DeletingANameNotInTheListRewritesItUnchanged) {
    SetGroupList(fake, {L"A", L"B"});
    const std::vector<BYTE> before = GroupListBytes(fake);
    EXPECT_EQ(connection->DeleteServiceGroup(SimpleString(L"C")), 1);
    EXPECT_EQ(fake.Calls("RegSetValueExW"), 1);
    EXPECT_EQ(GroupListBytes(fake), before);
}

TEST_F(ServiceGroupListTest, DeletionByPositionAndByNameInAnyCase) {
    SetGroupList(fake, {L"A", L"B", L"a"});
    EXPECT_EQ(connection->DeleteServiceGroup(1ul), 1);
    EXPECT_EQ(StoredList(), (std::vector<std::wstring>{L"A", L"a"}));
    EXPECT_EQ(connection->DeleteServiceGroup(SimpleString(L"A")), 1);
    EXPECT_TRUE(StoredList().empty());
}

TEST_F(ServiceGroupListTest, MalformedListIsWrittenBackWellFormed) {
    SetGroupListBytes(fake, BytesOf(std::wstring(L"A\0B", 3)));
    EXPECT_EQ(connection->CreateServiceGroup(L"N", 1, 0), 1);
    EXPECT_EQ(GroupListBytes(fake), BytesOf(MultiStringUnits({L"A", L"B", L"N"})));
}

TEST_F(ServiceGroupListTest, FailedWriteReportsItsCode) {
    SetGroupList(fake, {L"A"});
    fake.FailCall("RegSetValueExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Expect(connection->CreateServiceGroup(L"N", 1, 0), ERROR_ACCESS_DENIED), 0);
    EXPECT_EQ(StoredList(), (std::vector<std::wstring>{L"A"}));
}

} // namespace
