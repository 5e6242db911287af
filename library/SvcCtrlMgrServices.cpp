// The connection's services: service objects found, created and deleted by name, name
// translations, and snapshots of the database. The connection keeps no object of its own: every
// lookup makes a new one for the caller.

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <set>
#include <vector>

#include "HandleGuard.h"
#include "Memory.h"
#include "Platform.h"
#include "QuorvanException.h"
#include "SizedQuery.h"
#include "StringFunctions.h"
#include "SvcCtrlMgr.h"

namespace ServicesManagement {

namespace {

// A success leaves the caller's last-error value as it was found.
int SucceedKeeping(DWORD lastError) {
    ::SetLastError(lastError);
    return 1;
}

// An existing service's class follows its type bits; Win32 bits win over driver bits.
CSvcObj* NewObjectOfType(DWORD serviceType, CSvcCtrlMgr* manager, const wchar_t* serviceName) {
    if (serviceType & SvcObjTypeService)
        return new CService(manager, serviceName);
    if (serviceType & SvcObjTypeDriver)
        return new CDriver(manager, serviceName);
    std::wcerr << L"Unknown service type..." << std::endl;
    ::SetLastError(ERROR_UNKNOWN_PROPERTY);
    return nullptr;
}

// Refuses, with the platform's code, a service type that does not belong to `kind`.
bool IsTypeOfKind(SvcObjType kind, unsigned long serviceType) {
    if (kind != SvcObjTypeService && kind != SvcObjTypeDriver) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (serviceType & ~static_cast<unsigned long>(kind)) {
        ::SetLastError(ERROR_INVALID_FLAGS);
        return false;
    }
    return true;
}

// Marks the service behind `opened` (null when the open failed) for deletion; closes the handle.
int DeleteOpenedService(SC_HANDLE opened, DWORD lastErrorBefore) {
    UniqueServiceHandle service(opened);
    if (!service || !Os().DeleteService(service.get()))
        return 0;
    return SucceedKeeping(lastErrorBefore);
}

// What every object's reads need (its configuration, status and dependents), asked together so
// that the one handle serves them all.
const DWORD ObjectReadAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;

// Opens the service for an object with the reads' rights and `operationAccess`. A caller may hold
// each right and still be refused them together (OpenService: ERROR_ACCESS_DENIED when the
// service's security grants not all of them): it then opens with what the lookup itself needs,
// and its operations open their own handles. `granted` receives the rights of the handle.
SC_HANDLE OpenForObject(SC_HANDLE manager, const wchar_t* serviceName, DWORD operationAccess, DWORD& granted) {
    const DWORD before = ::GetLastError();
    granted = ObjectReadAccess | operationAccess;
    if (SC_HANDLE service = Os().OpenServiceW(manager, serviceName, granted))
        return service;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return nullptr;
    ::SetLastError(before);
    granted = SERVICE_QUERY_CONFIG;
    return Os().OpenServiceW(manager, serviceName, granted);
}

using NameTranslation = BOOL (Platform::*)(SC_HANDLE, LPCWSTR, LPWSTR, LPDWORD);

// A name is at most 256 characters (CreateService's lpServiceName and lpDisplayName), so a buffer
// with room for that and the terminator reads it in one call. A longer one, refused with
// ERROR_INSUFFICIENT_BUFFER and its length without the terminator, is read again with room for
// it. The size handed to each read is that of the buffer really allocated, so that an absurd
// length cannot make the platform write past its end.
const DWORD LongestName = 256;

bool ReadName(SC_HANDLE manager, NameTranslation translate, const wchar_t* name, SimpleString& translated,
              DWORD length) {
    translated.Alloc((length + 1) * sizeof(wchar_t));
    DWORD size = MemGetSize(translated) / sizeof(wchar_t);
    if ((Os().*translate)(manager, name, translated, &size))
        return true;
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= length)
        return false;
    return ReadName(manager, translate, name, translated, size);
}

int TranslateName(SC_HANDLE manager, NameTranslation translate, const wchar_t* name, SimpleString& translated) {
    const DWORD before = ::GetLastError();
    if (ReadName(manager, translate, name, translated, LongestName))
        return SucceedKeeping(before);
    const DWORD failure = ::GetLastError();
    translated.Alloc(sizeof(wchar_t));
    ::SetLastError(failure);
    return 0;
}

// The most that one enumeration call returns (EnumServicesStatusExW: 256 KB); a larger database
// comes in several pages, each continuing at the resume handle that the one before left.
const DWORD MaximumEnumerationPage = 256 * 1024;

size_t TextBytes(const wchar_t* text) {
    return text ? (std::wcslen(text) + 1) * sizeof(wchar_t) : 0;
}

// Copies `text` (null stays null) to `next` and moves `next` past it.
wchar_t* CopyText(const wchar_t* text, BYTE*& next) {
    if (!text)
        return nullptr;
    const size_t bytes = TextBytes(text);
    auto* copy = reinterpret_cast<wchar_t*>(next);
    std::memcpy(copy, text, bytes);
    next += bytes;
    return copy;
}

struct NameLess {
    bool operator()(const wchar_t* a, const wchar_t* b) const { return StrIComp(a, b) < 0; }
};

// The pages of one enumeration, joined into the one block that callers receive. Services added
// in front of the resume handle while the pages are read push a record already read into the
// next page: each service is kept once, where it was first read.
template <typename Record>
class Snapshot {
public:
    // Takes the block of a page that holds `count` records; true when one of them is new.
    bool Take(void* block, DWORD count) {
        m_pages.emplace_back(static_cast<Record*>(block));
        bool anyNew = false;
        for (DWORD i = 0; i < count; ++i) {
            const Record& record = m_pages.back().get()[i];
            if (!m_names.insert(record.lpServiceName).second)
                continue;
            m_kept.push_back(&record);
            m_textBytes += TextBytes(record.lpServiceName) + TextBytes(record.lpDisplayName);
            anyNew = true;
        }
        return anyNew;
    }

    // A new block laid out as the platform lays out one page: the records, then their strings.
    Record* Join(unsigned long* count) const {
        const size_t bytes = std::max(m_kept.size() * sizeof(Record) + m_textBytes, sizeof(Record));
        auto* joined = static_cast<Record*>(MemAlloc(static_cast<unsigned int>(bytes), 1, 0));
        BYTE* next = reinterpret_cast<BYTE*>(joined + m_kept.size());
        for (size_t i = 0; i < m_kept.size(); ++i) {
            joined[i] = *m_kept[i];
            joined[i].lpServiceName = CopyText(m_kept[i]->lpServiceName, next);
            joined[i].lpDisplayName = CopyText(m_kept[i]->lpDisplayName, next);
        }
        if (count)
            *count = static_cast<unsigned long>(m_kept.size());
        return joined;
    }

private:
    std::vector<MemBlock<Record>> m_pages;
    std::set<const wchar_t*, NameLess> m_names;
    std::vector<const Record*> m_kept;
    size_t m_textBytes = 0;
};

// `enumerate(buffer, size, &needed, &returned, &resume)` is one enumeration call. The pages are
// read to the end, however many there are, and handed over as one block.
template <typename Record, typename Enumerate>
int ReadSnapshot(Enumerate enumerate, Record** records, unsigned long* count) {
    const DWORD before = ::GetLastError();
    DWORD resume = 0;
    DWORD returned = 0;
    Snapshot<Record> snapshot;
    const bool read = ReadPages(
        [&](void* buffer, DWORD size, DWORD* needed) {
            returned = 0;
            return enumerate(static_cast<Record*>(buffer), size, needed, &returned, &resume);
        },
        sizeof(Record), MaximumEnumerationPage, [&](void* block) { return snapshot.Take(block, returned); });
    if (!read)
        return 0;
    *records = snapshot.Join(count);
    return SucceedKeeping(before);
}

template <typename Record>
void ClearSnapshot(Record** records, unsigned long* count) {
    *records = nullptr;
    if (count)
        *count = 0;
}

} // namespace

unsigned int CSvcCtrlMgr::GetCount() const {
    ENUM_SERVICE_STATUS_PROCESSW* services = nullptr;
    unsigned long count = 0;
    EnumServices(SERVICE_TYPE_ALL, SERVICE_STATE_ALL, nullptr, &services, &count);
    MemRelease(services);
    return count;
}

CSvcObj* CSvcCtrlMgr::FindSvcObj(const SimpleString& serviceName) {
    QUERY_SERVICE_CONFIGW* configuration = nullptr;
    CSvcObj* object = FindSvcObj(serviceName, &configuration);
    MemRelease(configuration);
    return object;
}

CSvcObj* CSvcCtrlMgr::FindSvcObj(const SimpleString& serviceName, QUERY_SERVICE_CONFIGW** configuration) {
    return FindSvcObj(serviceName, configuration, 0);
}

CSvcObj* CSvcCtrlMgr::FindSvcObj(const SimpleString& serviceName, QUERY_SERVICE_CONFIGW** configuration,
                                 unsigned long operationAccess) {
    *configuration = nullptr;
    if (!m_hSCManager)
        return nullptr;
    const DWORD before = ::GetLastError();
    DWORD granted = 0;
    UniqueServiceHandle service(OpenForObject(m_hSCManager, serviceName, operationAccess, granted));
    if (!service)
        return nullptr;
    MemBlock<QUERY_SERVICE_CONFIGW> config(static_cast<QUERY_SERVICE_CONFIGW*>(QueryVariableSize(
        [&](void* buffer, DWORD size, DWORD* needed) {
            return Os().QueryServiceConfigW(service.get(), static_cast<LPQUERY_SERVICE_CONFIGW>(buffer), size,
                                            needed);
        },
        0, sizeof(QUERY_SERVICE_CONFIGW), UsualRecordBytes)));
    if (!config)
        return nullptr;
    CSvcObj* object = NewObjectOfType(config->dwServiceType, this, serviceName);
    if (!object)
        return nullptr;
    object->KeepHandle(service.release(), granted);
    *configuration = config.release();
    ::SetLastError(before);
    return object;
}

int CSvcCtrlMgr::CreateSvcObj(SvcObjType kind, const wchar_t* serviceName, const wchar_t* displayName,
                              unsigned long desiredAccess, unsigned long serviceType, unsigned long startType,
                              unsigned long errorControl, const wchar_t* binaryPathName,
                              const wchar_t* loadOrderGroup, unsigned long* tagId, const wchar_t* dependencies,
                              const wchar_t* serviceStartName, const wchar_t* password) {
    if (!m_hSCManager || !IsTypeOfKind(kind, serviceType))
        return 0;
    std::wcout << L"Cr\u00E9ation du service " << (serviceName ? serviceName : L"") << L"...";
    const DWORD before = ::GetLastError();
    // The platform assigns a tag only within a group; drivers run under no account of their own.
    unsigned long* tagWithinGroup = loadOrderGroup && *loadOrderGroup ? tagId : nullptr;
    const wchar_t* servicePassword = kind == SvcObjTypeService ? password : nullptr;
    UniqueServiceHandle created(Os().CreateServiceW(m_hSCManager, serviceName, displayName, desiredAccess,
                                                    serviceType, startType, errorControl, binaryPathName,
                                                    loadOrderGroup, tagWithinGroup, dependencies, serviceStartName,
                                                    servicePassword));
    const bool succeeded = static_cast<bool>(created);
    const DWORD outcome = succeeded ? before : ::GetLastError();
    created.reset();
    std::wcout << (succeeded ? L"OK" : L"PROBL\u00C8ME") << std::endl;
    ::SetLastError(outcome);
    return succeeded ? 1 : 0;
}

int CSvcCtrlMgr::DeleteSvcObj(CSvcObj* object) {
    if (!object || !m_hSCManager)
        return 0;
    const DWORD before = ::GetLastError();
    const int result = DeleteOpenedService(object->GetHandle(DELETE), before);
    ReleaseSvcObj(object);
    return result;
}

int CSvcCtrlMgr::DeleteSvcObj(const SimpleString& serviceName) {
    if (!m_hSCManager)
        return 0;
    const DWORD before = ::GetLastError();
    return DeleteOpenedService(Os().OpenServiceW(m_hSCManager, serviceName, DELETE), before);
}

int CSvcCtrlMgr::GetServiceKeyNameW(const SimpleString& displayName, SimpleString& keyName) const {
    if (!m_hSCManager)
        return 0;
    return TranslateName(m_hSCManager, &Platform::GetServiceKeyNameW, displayName, keyName);
}

int CSvcCtrlMgr::GetServiceDisplayNameW(const SimpleString& keyName, SimpleString& displayName) const {
    if (!m_hSCManager)
        return 0;
    return TranslateName(m_hSCManager, &Platform::GetServiceDisplayNameW, keyName, displayName);
}

int CSvcCtrlMgr::EnumServices(unsigned long serviceType, unsigned long serviceState, const wchar_t* group,
                              ENUM_SERVICE_STATUS_PROCESSW** services, unsigned long* count) const {
    ClearSnapshot(services, count);
    if (!m_hSCManager)
        return 0;
    return ReadSnapshot(
        [&](ENUM_SERVICE_STATUS_PROCESSW* buffer, DWORD size, DWORD* needed, DWORD* returned, DWORD* resume) {
            return Os().EnumServicesStatusExW(m_hSCManager, SC_ENUM_PROCESS_INFO, serviceType, serviceState,
                                              reinterpret_cast<LPBYTE>(buffer), size, needed, returned, resume,
                                              group);
        },
        services, count);
}

namespace {

// The rights that include the enumeration's (OpenSCManager: GENERIC_READ maps to it).
bool HoldsEnumerateRight(unsigned long desiredAccess) {
    return (desiredAccess & (SC_MANAGER_ENUMERATE_SERVICE | GENERIC_READ | GENERIC_ALL)) != 0;
}

} // namespace

int CSvcCtrlMgr::EnumServicesWithEnumerateRight(unsigned long serviceType, unsigned long serviceState,
                                                ENUM_SERVICE_STATUS_PROCESSW** services, unsigned long* count) const {
    if (!m_hSCManager || HoldsEnumerateRight(m_dwDesiredAccess))
        return EnumServices(serviceType, serviceState, nullptr, services, count);
    ClearSnapshot(services, count);
    try {
        const CSvcCtrlMgr lister(m_szMachineName, m_szDatabaseName, SC_MANAGER_ENUMERATE_SERVICE);
        return lister.EnumServices(serviceType, serviceState, nullptr, services, count);
    } catch (const CQuorvanException& failure) {
        ::SetLastError(static_cast<DWORD>(failure.m_nCode));
        return 0;
    }
}

int CSvcCtrlMgr::EnumServicesByGroupW(unsigned long serviceType, unsigned long serviceState, const wchar_t* group,
                                      ENUM_SERVICE_STATUSW** services, unsigned long* count) const {
    ClearSnapshot(services, count);
    if (!m_hSCManager)
        return 0;
    return ReadSnapshot(
        [&](ENUM_SERVICE_STATUSW* buffer, DWORD size, DWORD* needed, DWORD* returned, DWORD* resume) {
            return Os().EnumServiceGroupW(m_hSCManager, serviceType, serviceState, buffer, size, needed, returned,
                                          resume, group);
        },
        services, count);
}

} // namespace ServicesManagement
