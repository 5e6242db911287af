#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "Memory.h"
#include "OutputCapture.h"
#include "SvcCtrlMgr.h"

using namespace ServicesManagement;

namespace {

// A value no platform call leaves behind: it shows what an operation did to the last-error value.
const DWORD Marker = 0xBEEF;

// Also records what reaches the creation call, and can make the database grow before every
// enumeration read.
class ObservingPlatform : public FakePlatform {
public:
    SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD access,
                             DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName,
                             LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                             LPCWSTR password) override {
        passwordReceived = password ? std::optional<std::wstring>(password) : std::nullopt;
        tagPointerReceived = tagId;
        return FakePlatform::CreateServiceW(manager, serviceName, displayName, access, serviceType, startType,
                                            errorControl, binaryPathName, loadOrderGroup, tagId, dependencies,
                                            serviceStartName, password);
    }
    BOOL EnumServicesStatusExW(SC_HANDLE manager, SC_ENUM_TYPE level, DWORD serviceType, DWORD serviceState,
                               LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle,
                               LPCWSTR group) override {
        GrowBeforeRead(buffer);
        return FakePlatform::EnumServicesStatusExW(manager, level, serviceType, serviceState, buffer, size, needed,
                                                   returned, resumeHandle, group);
    }
    BOOL EnumServiceGroupW(SC_HANDLE manager, DWORD serviceType, DWORD serviceState, LPENUM_SERVICE_STATUSW buffer,
                           DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resumeHandle,
                           LPCWSTR group) override {
        GrowBeforeRead(buffer);
        return FakePlatform::EnumServiceGroupW(manager, serviceType, serviceState, buffer, size, needed, returned,
                                               resumeHandle, group);
    }

    // A display-name read answers that its buffer is too small for a name of this length instead
    // of the true one; each read checks that it was not promised more room than its buffer has.
    BOOL GetServiceDisplayNameW(SC_HANDLE manager, LPCWSTR keyName, LPWSTR displayName, LPDWORD size) override {
        if (displayName) {
            EXPECT_LE(static_cast<unsigned long long>(*size) * sizeof(wchar_t), MemGetSize(displayName));
        }
        if (!nameLengthReported)
            return FakePlatform::GetServiceDisplayNameW(manager, keyName, displayName, size);
        *size = *nameLengthReported;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }

    std::optional<DWORD> nameLengthReported;
    std::optional<std::wstring> passwordReceived;
    LPDWORD tagPointerReceived = nullptr;
    bool growsBeforeEveryRead = false;

private:
    void GrowBeforeRead(const void* buffer) {
        if (growsBeforeEveryRead && buffer)
            servicesAddedBeforeNextEnumerationRead.push_back(L"Late" + std::to_wstring(services.size()));
    }
};

// The two enumerations behind one signature, with the names of the records they return.
struct Enumeration {
    const char* operation;
    std::function<int(const CSvcCtrlMgr&, DWORD type, const wchar_t* group, void** block, unsigned long* count)> run;
    std::function<std::vector<std::wstring>(const void* block, unsigned long count)> names;
};

template <typename Record>
std::vector<std::wstring> NamesOf(const void* block, unsigned long count) {
    std::vector<std::wstring> names;
    for (unsigned long i = 0; i < count; ++i)
        names.emplace_back(static_cast<const Record*>(block)[i].lpServiceName);
    return names;
}

const Enumeration Enumerations[] = {
    {"EnumServicesStatusExW",
     [](const CSvcCtrlMgr& connection, DWORD type, const wchar_t* group, void** block, unsigned long* count) {
         return connection.EnumServices(type, SERVICE_STATE_ALL, group,
                                        reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW**>(block), count);
     },
     NamesOf<ENUM_SERVICE_STATUS_PROCESSW>},
    {"EnumServiceGroupW",
     [](const CSvcCtrlMgr& connection, DWORD type, const wchar_t* group, void** block, unsigned long* count) {
         return connection.EnumServicesByGroupW(type, SERVICE_STATE_ALL, group,
                                                reinterpret_cast<ENUM_SERVICE_STATUSW**>(block), count);
     },
     NamesOf<ENUM_SERVICE_STATUSW>},
};

class ServiceLookupTest : public ::testing::Test {
protected:
    void TearDown() override {
        connection.reset();
        EXPECT_EQ(fake.OpenServiceHandles(), 0u) << "service handles left open";
        EXPECT_EQ(fake.OpenManagers(), 0u) << "manager handles left open";
    }

    // What a creation of "Gamma" in `group` wrote; the tag variable starts at 77.
    int Create(SvcObjType kind, DWORD type, const wchar_t* group, DWORD* tag, std::wstring* output) {
        OutputCapture capture;
        *tag = 77;
        const int result = connection->CreateSvcObj(kind, L"Gamma", L"Gamma service", SERVICE_ALL_ACCESS, type,
                                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"C:\\gamma.exe",
                                                    group, tag, L"Alpha\0", L".\\gamma", L"secret");
        EXPECT_EQ(capture.Err(), L"");
        *output = capture.Out();
        return result;
    }

    ObservingPlatform fake;
    std::unique_ptr<CSvcCtrlMgr> connection = std::make_unique<CSvcCtrlMgr>(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
};

TEST_F(ServiceLookupTest, FindSvcObjChoosesTheClassFromTheTypeBits) {
    enum Kind { Service, Driver, Unknown };
    const struct {
        DWORD type;
        Kind kind;
    } cases[] = {
        {SERVICE_WIN32_OWN_PROCESS, Service},
        {SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS, Service},
        {SERVICE_INTERACTIVE_PROCESS, Service},
        {SERVICE_KERNEL_DRIVER, Driver},
        {SERVICE_RECOGNIZER_DRIVER | SERVICE_ADAPTER, Driver},
        {SERVICE_WIN32_OWN_PROCESS | SERVICE_FILE_SYSTEM_DRIVER, Service},
        {0x40, Unknown},
        {0, Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        fake.services.clear();
        fake.AddService(L"Alpha", c.type);
        OutputCapture capture;
        ::SetLastError(Marker);
        const unsigned long blocks = MemLiveBlocks();
        QUERY_SERVICE_CONFIGW* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(0x1234);
        CSvcObj* object = connection->FindSvcObj(L"Alpha", &config);
        EXPECT_EQ(fake.serviceOpenings.back(),
                  static_cast<DWORD>(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS));
        if (c.kind == Unknown) {
            EXPECT_EQ(object, nullptr);
            EXPECT_EQ(config, nullptr);
            EXPECT_EQ(MemLiveBlocks(), blocks) << "the configuration read is given back";
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PROPERTY));
            EXPECT_EQ(capture.Err(), L"Unknown service type...\n");
            continue;
        }
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(dynamic_cast<CService*>(object) != nullptr, c.kind == Service);
        EXPECT_EQ(dynamic_cast<CDriver*>(object) != nullptr, c.kind == Driver);
        EXPECT_STREQ(object->GetName(), L"Alpha");
        ASSERT_NE(config, nullptr);
        EXPECT_EQ(config->dwServiceType, c.type) << "the configuration the lookup read";
        EXPECT_EQ(::GetLastError(), Marker);
        EXPECT_EQ(capture.Err(), L"");
        MemRelease(config);
        ReleaseSvcObj(object);
    }
}

// The object found keeps the lookup's handle for its reads; it closes when the object is
// released or when the connection closes first, and a deletion by another caller meanwhile takes
// effect at that moment, not later.
TEST_F(ServiceLookupTest, AFoundObjectKeepsItsHandleUntilReleasedOrItsConnectionCloses) {
    for (const bool connectionClosesFirst : {false, true}) {
        SCOPED_TRACE(connectionClosesFirst ? "connection closed first" : "object released first");
        fake.AddService(L"Alpha");
        QUERY_SERVICE_CONFIGW* config = nullptr;
        CSvcObj* object = connection->FindSvcObj(L"Alpha", &config);
        MemRelease(config);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(fake.OpenServiceHandles(), 1u);

        SC_HANDLE other = fake.OpenServiceW(connection->Handle(), L"Alpha", DELETE);
        EXPECT_TRUE(fake.DeleteService(other));
        fake.CloseServiceHandle(other);
        EXPECT_NE(fake.FindService(L"Alpha"), nullptr) << "held by the object's handle";

        const int openings = fake.Calls("OpenServiceW");
        SERVICE_STATUS_PROCESS* status = nullptr;
        EXPECT_EQ(object->QueryStatus(&status), 1);
        MemRelease(status);
        EXPECT_EQ(fake.Calls("OpenServiceW"), openings) << "the read works on the kept handle";

        if (connectionClosesFirst)
            connection->Close();
        else
            ReleaseSvcObj(object);
        EXPECT_EQ(fake.OpenServiceHandles(), 0u);
        EXPECT_EQ(fake.FindService(L"Alpha"), nullptr);
        if (!connectionClosesFirst)
            continue;
        const int closes = fake.Calls("CloseServiceHandle");
        EXPECT_EQ(object->QueryStatus(&status), 0) << "no handle once the connection is closed";
        ReleaseSvcObj(object);
        EXPECT_EQ(fake.Calls("CloseServiceHandle"), closes) << "closed once, by the connection";
    }
}

TEST_F(ServiceLookupTest, FindSvcObjReportsTheCodeOfTheCallThatFailed) {
    const struct {
        const char* what;
        const wchar_t* name;
        DWORD grantable;
        // The lookup goes on after any failure of its first configuration call: both must fail.
        int failingConfigReads;
        DWORD code;
    } cases[] = {
        {"display name", L"Alpha (display)", SERVICE_ALL_ACCESS, 0, ERROR_SERVICE_DOES_NOT_EXIST},
        {"no query right", L"Alpha", SERVICE_START, 0, ERROR_ACCESS_DENIED},
        {"configuration read", L"Alpha", SERVICE_ALL_ACCESS, 2, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.services.clear();
        fake.AddService(L"Alpha").grantableAccess = c.grantable;
        if (c.failingConfigReads)
            fake.FailCall("QueryServiceConfigW", c.code, 1, c.failingConfigReads);
        OutputCapture capture;
        ::SetLastError(Marker);
        EXPECT_EQ(connection->FindSvcObj(c.name), nullptr);
        EXPECT_EQ(::GetLastError(), c.code);
        EXPECT_EQ(capture.Err(), L"");
    }
}

TEST_F(ServiceLookupTest, EachLookupMakesItsOwnObject) {
    fake.AddService(L"Alpha");
    CSvcObj* first = connection->FindSvcObj(L"Alpha");
    CSvcObj* second = connection->FindSvcObj(L"Alpha");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    ReleaseSvcObj(first);
    EXPECT_STREQ(second->GetName(), L"Alpha");
    EXPECT_EQ(connection->DeleteSvcObj(second), 1) << "the other object still reaches its service";
    EXPECT_EQ(fake.FindService(L"Alpha"), nullptr);
    ReleaseSvcObj(nullptr);
}

TEST_F(ServiceLookupTest, CreateSvcObjRefusesTypesOutsideTheKindBeforeWritingAnything) {
    const struct {
        SvcObjType kind;
        DWORD type;
        DWORD code;
    } cases[] = {
        {SvcObjTypeDriver, SERVICE_WIN32_OWN_PROCESS, ERROR_INVALID_FLAGS},
        {SvcObjTypeDriver, 0x10F, ERROR_INVALID_FLAGS},
        {SvcObjTypeService, SERVICE_KERNEL_DRIVER, ERROR_INVALID_FLAGS},
        {SvcObjTypeService, SERVICE_WIN32_OWN_PROCESS | 0x40, ERROR_INVALID_FLAGS},
        {static_cast<SvcObjType>(SERVICE_WIN32_OWN_PROCESS), SERVICE_WIN32_OWN_PROCESS, ERROR_INVALID_PARAMETER},
        {static_cast<SvcObjType>(0), 0, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << c.type);
        DWORD tag = 0;
        std::wstring output;
        EXPECT_EQ(Create(c.kind, c.type, L"Group", &tag, &output), 0);
        EXPECT_EQ(::GetLastError(), c.code);
        EXPECT_EQ(output, L"");
        EXPECT_EQ(tag, 77u);
    }
    EXPECT_EQ(fake.Calls("CreateServiceW"), 0);
}

TEST_F(ServiceLookupTest, CreateSvcObjPassesTheTagOnlyWithinAGroupAndThePasswordOnlyToServices) {
    const struct {
        SvcObjType kind;
        DWORD type;
        const wchar_t* group;
        bool tagPassed;
        std::optional<std::wstring> password;
    } cases[] = {
        {SvcObjTypeService, SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS, L"Group", true, L"secret"},
        {SvcObjTypeService, SERVICE_WIN32_OWN_PROCESS, L"", false, L"secret"},
        {SvcObjTypeService, SERVICE_WIN32_OWN_PROCESS, nullptr, false, L"secret"},
        {SvcObjTypeDriver, SERVICE_KERNEL_DRIVER | SERVICE_RECOGNIZER_DRIVER, L"Group", true, std::nullopt},
        {SvcObjTypeDriver, SERVICE_FILE_SYSTEM_DRIVER, nullptr, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << (c.group ? c.group : L"(null)"));
        fake.services.clear();
        DWORD tag = 0;
        std::wstring output;
        ::SetLastError(Marker);
        EXPECT_EQ(Create(c.kind, c.type, c.group, &tag, &output), 1);
        EXPECT_EQ(::GetLastError(), Marker);
        EXPECT_EQ(output, L"Cr\u00E9ation du service Gamma...OK\n");
        EXPECT_EQ(fake.tagPointerReceived, c.tagPassed ? &tag : nullptr);
        EXPECT_EQ(fake.passwordReceived, c.password);
        const FakeService* created = fake.FindService(L"Gamma");
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(created->serviceType, c.type);
        EXPECT_EQ(created->displayName, L"Gamma service");
        EXPECT_EQ(created->binaryPath, L"C:\\gamma.exe") << "passed unchanged";
        EXPECT_EQ(created->dependencies, std::vector<std::wstring>{L"Alpha"});
        EXPECT_EQ(created->account, L".\\gamma");
        EXPECT_EQ(tag, c.tagPassed ? created->tag : 77u);
    }
}

TEST_F(ServiceLookupTest, CreateSvcObjReportsAPlatformRefusalOnItsProgressLine) {
    fake.AddService(L"Gamma");
    DWORD tag = 0;
    std::wstring output;
    ::SetLastError(Marker);
    EXPECT_EQ(Create(SvcObjTypeService, SERVICE_WIN32_OWN_PROCESS, nullptr, &tag, &output), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(output, L"Cr\u00E9ation du service Gamma...PROBL\u00C8ME\n");
}

TEST_F(ServiceLookupTest, BothDeletionsOpenWithDeleteAndKeepTheFailingCode) {
    const struct {
        const char* what;
        DWORD grantable;
        const char* failingCall;
        DWORD code; // Marker: the deletion goes through
    } cases[] = {
        {"deleted", SERVICE_ALL_ACCESS, nullptr, Marker},
        {"open refused", SERVICE_ALL_ACCESS & ~DELETE, nullptr, ERROR_ACCESS_DENIED},
        {"deletion refused", SERVICE_ALL_ACCESS, "DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE},
    };
    for (const bool byObject : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << (byObject ? " by object" : " by name"));
            fake.services.clear();
            fake.AddService(L"Alpha");
            CSvcObj* object = byObject ? connection->FindSvcObj(L"Alpha") : nullptr;
            fake.FindService(L"Alpha")->grantableAccess = c.grantable;
            if (c.failingCall)
                fake.FailCall(c.failingCall, c.code);
            ::SetLastError(Marker);
            const int result = byObject ? connection->DeleteSvcObj(object) : connection->DeleteSvcObj(L"Alpha");
            EXPECT_EQ(result, c.code == Marker ? 1 : 0);
            EXPECT_EQ(::GetLastError(), c.code);
            EXPECT_EQ(fake.serviceOpenings.back(), static_cast<DWORD>(DELETE));
            EXPECT_EQ(fake.FindService(L"Alpha") == nullptr, c.code == Marker);
        }
    }
    // Deleting by name an unknown service fails as its open does.
    EXPECT_EQ(connection->DeleteSvcObj(L"Nobody"), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    ::SetLastError(Marker);
    EXPECT_EQ(connection->DeleteSvcObj(static_cast<CSvcObj*>(nullptr)), 0);
    EXPECT_EQ(::GetLastError(), Marker);
}

TEST_F(ServiceLookupTest, NameTranslationsGoBothWaysAndLeaveAnEmptyTextForUnknownNames) {
    fake.AddService(L"Alpha").displayName = L"Le service \u00C0lpha";
    const std::wstring longest(256, L'L'), longer(300, L'M');
    fake.AddService(L"Longest").displayName = longest;
    fake.AddService(L"Longer").displayName = longer;
    using Translation = int (CSvcCtrlMgr::*)(const SimpleString&, SimpleString&) const;
    const struct {
        Translation translate;
        const char* call;
        std::wstring known;
        std::wstring translated;
        // One read into a buffer of the longest name; a name past it costs one more.
        int calls;
    } cases[] = {
        {&CSvcCtrlMgr::GetServiceKeyNameW, "GetServiceKeyNameW", L"Le service \u00C0lpha", L"Alpha", 1},
        {&CSvcCtrlMgr::GetServiceDisplayNameW, "GetServiceDisplayNameW", L"Alpha", L"Le service \u00C0lpha", 1},
        {&CSvcCtrlMgr::GetServiceKeyNameW, "GetServiceKeyNameW", longest, L"Longest", 1},
        {&CSvcCtrlMgr::GetServiceDisplayNameW, "GetServiceDisplayNameW", L"Longest", longest, 1},
        {&CSvcCtrlMgr::GetServiceDisplayNameW, "GetServiceDisplayNameW", L"Longer", longer, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.known.size()));
        SimpleString output(L"previous");
        ::SetLastError(Marker);
        const int callsBefore = fake.Calls(c.call);
        EXPECT_EQ(((*connection).*c.translate)(c.known.c_str(), output), 1);
        EXPECT_EQ(fake.Calls(c.call) - callsBefore, c.calls);
        EXPECT_EQ(::GetLastError(), Marker);
        EXPECT_STREQ(output, c.translated.c_str());

        EXPECT_EQ(((*connection).*c.translate)(L"Nobody", output), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        ASSERT_NE(static_cast<const wchar_t*>(output), nullptr);
        EXPECT_STREQ(output, L"");
    }

    // A length reported short, or too large to allocate, never lets the read write past the buffer.
    for (const DWORD reported : {DWORD{2}, DWORD{0x80000000}}) {
        SCOPED_TRACE(reported);
        fake.nameLengthReported = reported;
        SimpleString output;
        EXPECT_EQ(connection->GetServiceDisplayNameW(L"Alpha", output), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_STREQ(output, L"");
    }
}

TEST_F(ServiceLookupTest, EnumerationsReturnOneBlockAndTheirCount) {
    fake.AddService(L"Alpha").group = L"Net";
    fake.AddService(L"Beta", SERVICE_KERNEL_DRIVER).group = L"Net";
    fake.AddService(L"Gamma", SERVICE_WIN32_SHARE_PROCESS);
    const struct {
        DWORD type;
        const wchar_t* group;
        std::vector<std::wstring> names;
    } cases[] = {
        {SERVICE_TYPE_ALL, nullptr, {L"Alpha", L"Beta", L"Gamma"}},
        {SERVICE_WIN32, nullptr, {L"Alpha", L"Gamma"}},
        {SERVICE_TYPE_ALL, L"Net", {L"Alpha", L"Beta"}},
        {SERVICE_RECOGNIZER_DRIVER, nullptr, {}},
    };
    for (const Enumeration& enumeration : Enumerations) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << enumeration.operation << " " << c.type << " "
                                            << (c.group ? c.group : L"(null)"));
            void* block = nullptr;
            unsigned long count = 99;
            ::SetLastError(Marker);
            EXPECT_EQ(enumeration.run(*connection, c.type, c.group, &block, &count), 1);
            EXPECT_EQ(::GetLastError(), Marker);
            ASSERT_NE(block, nullptr) << "a block also when nothing matches";
            EXPECT_EQ(enumeration.names(block, count), c.names);
            MemRelease(block);

            // Without a count the records are there all the same.
            EXPECT_EQ(enumeration.run(*connection, c.type, c.group, &block, nullptr), 1);
            EXPECT_EQ(enumeration.names(block, static_cast<unsigned long>(c.names.size())), c.names);
            MemRelease(block);
        }
    }
}

TEST_F(ServiceLookupTest, EnumerationsGoOnWhenTheDatabaseGrowsButNotForever) {
    fake.AddService(L"Alpha");
    for (const Enumeration& enumeration : Enumerations) {
        SCOPED_TRACE(enumeration.operation);
        // The new service comes first and takes the room that the size query asked for: Alpha
        // comes in a second page.
        fake.servicesAddedBeforeNextEnumerationRead = {L"Late"};
        void* block = nullptr;
        unsigned long count = 0;
        ::SetLastError(Marker);
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 1);
        EXPECT_EQ(::GetLastError(), Marker) << "the further pages are no failure of the caller's";
        EXPECT_EQ(enumeration.names(block, count), (std::vector<std::wstring>{L"Late", L"Alpha"}));
        MemRelease(block);
        fake.services.erase(fake.services.begin());

        // A page that brings only what was read already is asked for again with more room.
        fake.growsBeforeEveryRead = true;
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 1);
        EXPECT_EQ(enumeration.names(block, count), (std::vector<std::wstring>{L"Late1", L"Alpha"}));
        MemRelease(block);
        fake.growsBeforeEveryRead = false;
        fake.services.erase(fake.services.begin(), fake.services.end() - 1);

        // Pages that never bring anything are asked for up to the largest page, not forever.
        fake.FailCall(enumeration.operation, ERROR_MORE_DATA, 1, 1000);
        const int callsBefore = fake.Calls(enumeration.operation);
        count = 99;
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(count, 0u);
        EXPECT_LT(fake.Calls(enumeration.operation) - callsBefore, 20);
    }
}

TEST_F(ServiceLookupTest, EnumerationsReadALargeDatabaseToItsEndWithEachServiceOnce) {
    std::vector<std::wstring> names;
    for (int i = 0; i < 2000; ++i) {
        names.push_back(L"Service" + std::to_wstring(i));
        fake.AddService(names.back()).displayName = std::wstring(150, L'd');
    }
    for (const Enumeration& enumeration : Enumerations) {
        SCOPED_TRACE(enumeration.operation);
        const int callsBefore = fake.Calls(enumeration.operation);
        void* block = nullptr;
        unsigned long count = 0;
        ::SetLastError(Marker);
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 1);
        EXPECT_EQ(::GetLastError(), Marker);
        EXPECT_EQ(enumeration.names(block, count), names);
        EXPECT_GT(fake.Calls(enumeration.operation) - callsBefore, 3) << "the records exceed two pages";
        MemRelease(block);

        // Each read adds a service in front of the resume handle, which pushes the last record of
        // a page into the next one.
        fake.growsBeforeEveryRead = true;
        std::vector<std::wstring> grown = {L"Late2000"};
        grown.insert(grown.end(), names.begin(), names.end());
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 1);
        EXPECT_EQ(enumeration.names(block, count), grown);
        MemRelease(block);
        fake.growsBeforeEveryRead = false;
        fake.services.erase(fake.services.begin(), fake.services.end() - 2000);
    }
    EXPECT_EQ(connection->GetCount(), 2000u);
}

TEST_F(ServiceLookupTest, AFailedEnumerationReadLeavesNoBlockAndItsCode) {
    fake.AddService(L"Alpha");
    for (const Enumeration& enumeration : Enumerations) {
        SCOPED_TRACE(enumeration.operation);
        fake.FailCall(enumeration.operation, ERROR_ACCESS_DENIED, 2);
        void* block = &block;
        unsigned long count = 99;
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(fake.Calls(enumeration.operation), 2) << "only growth is worth another try";
    }
    const CSvcCtrlMgr withoutRight(nullptr, nullptr, SC_MANAGER_ALL_ACCESS & ~SC_MANAGER_ENUMERATE_SERVICE);
    for (const Enumeration& enumeration : Enumerations) {
        SCOPED_TRACE(enumeration.operation);
        void* block = &block;
        unsigned long count = 99;
        EXPECT_EQ(enumeration.run(withoutRight, SERVICE_TYPE_ALL, nullptr, &block, &count), 0);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the handle may not enumerate";
        EXPECT_EQ(block, nullptr);
    }
}

TEST_F(ServiceLookupTest, GetCountCountsServicesAndDriversOfEveryState) {
    fake.AddService(L"Alpha");
    fake.AddService(L"Beta", SERVICE_FILE_SYSTEM_DRIVER);
    fake.AddService(L"Gamma", SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS).status.dwCurrentState =
        SERVICE_RUNNING;
    ::SetLastError(Marker);
    EXPECT_EQ(connection->GetCount(), 3u);
    EXPECT_EQ(::GetLastError(), Marker);

    fake.FailCall("EnumServicesStatusExW", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(connection->GetCount(), 0u);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ServiceLookupTest, AClosedConnectionRefusesEverythingAndLeavesTheLastErrorAlone) {
    fake.AddService(L"Alpha");
    CSvcObj* object = connection->FindSvcObj(L"Alpha");
    ASSERT_NE(object, nullptr);
    connection->Close();
    const int openingsBefore = static_cast<int>(fake.serviceOpenings.size());

    OutputCapture capture;
    ::SetLastError(Marker);
    EXPECT_EQ(connection->FindSvcObj(L"Alpha"), nullptr);
    unsigned long tag = 77;
    EXPECT_EQ(connection->CreateSvcObj(SvcObjTypeService, L"Gamma", nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       L"C:\\gamma.exe", L"Group", &tag, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(tag, 77u);
    EXPECT_EQ(connection->DeleteSvcObj(L"Alpha"), 0);
    EXPECT_EQ(connection->DeleteSvcObj(object), 0);
    SimpleString name(L"previous");
    EXPECT_EQ(connection->GetServiceKeyNameW(L"Alpha (display)", name), 0);
    EXPECT_EQ(connection->GetServiceDisplayNameW(L"Alpha", name), 0);
    EXPECT_STREQ(name, L"previous");
    EXPECT_EQ(connection->GetCount(), 0u);
    for (const Enumeration& enumeration : Enumerations) {
        void* block = &block;
        unsigned long count = 99;
        EXPECT_EQ(enumeration.run(*connection, SERVICE_TYPE_ALL, nullptr, &block, &count), 0);
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(::GetLastError(), Marker);
    EXPECT_EQ(capture.Out() + capture.Err(), L"");
    EXPECT_EQ(static_cast<int>(fake.serviceOpenings.size()), openingsBefore);
    EXPECT_EQ(fake.Calls("CreateServiceW") + fake.Calls("GetServiceKeyNameW") + fake.Calls("GetServiceDisplayNameW") +
                  fake.Calls("EnumServicesStatusExW") + fake.Calls("EnumServiceGroupW"),
              0);
    // Still the caller's: the closed connection did not take it.
    ReleaseSvcObj(object);
}

} // namespace
