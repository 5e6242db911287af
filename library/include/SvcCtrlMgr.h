#pragma once
// One connection to the service control manager of one machine and one of its databases.

#include <windows.h>

#include <vector>

#include "GroupLoadOrder.h"
#include "MultiString.h"
#include "SimpleString.h"
#include "SvcObj.h"
#include "VelmarikApi.h"

namespace ServicesManagement {

// The kind of object CreateSvcObj makes; each value is the mask of its kind's service-type bits.
enum SvcObjType : unsigned long {
    SvcObjTypeService = 0x130,
    SvcObjTypeDriver = 0x0F,
};

// What GetProperties reports of a connection. The names belong to the record.
struct VELMARIK_API _SCM_PROPERTIES {
    _SCM_PROPERTIES();
    _SCM_PROPERTIES(const _SCM_PROPERTIES& other);
    _SCM_PROPERTIES& operator=(const _SCM_PROPERTIES& other);
    ~_SCM_PROPERTIES();
    // Clears the mask only; the names stay until the record is reassigned or destroyed.
    void Free();

    SimpleString szMachineName;
    SimpleString szDatabaseName;
    unsigned long dwDesiredAccess;
};

// Owns its manager handle, its database lock and its registry attachment, and releases them in
// Close and in its destructor. Service objects made from a connection point back to it, so it
// must outlive them. Operations return 1 on success and 0 on failure with the platform's code in
// the last-error value; a success leaves that value as it was found.
class VELMARIK_API CSvcCtrlMgr {
public:
    CSvcCtrlMgr();
    // Opens at once; throws CQuorvanException (and no object exists) when that fails.
    CSvcCtrlMgr(const wchar_t* machineName, const wchar_t* databaseName, unsigned long desiredAccess);
    // A copy shares the source's handles: only one of the two may be closed while the other is used.
    CSvcCtrlMgr(const CSvcCtrlMgr& other);
    CSvcCtrlMgr& operator=(const CSvcCtrlMgr& other);
    ~CSvcCtrlMgr();

    // Closes what was open, then opens `machineName` (null or empty: this machine) with
    // `desiredAccess` | SC_MANAGER_CONNECT on `databaseName` (null: "ServicesActive"). Throws
    // CQuorvanException with the platform's code on failure and leaves the connection closed.
    int Open(const wchar_t* machineName, const wchar_t* databaseName, unsigned long desiredAccess);
    // Releases the lock, the registry attachment and the handle; the names stay. 0 when nothing was open.
    int Close();
    // Forgets the lock, the registry attachment and the handle without a call, for a machine that
    // no longer answers: each call would wait for the RPC time-out, and the machine releases its
    // side of them itself when the connection breaks. The names stay; a later Close does nothing.
    void Abandon();
    int GetProperties(_SCM_PROPERTIES* properties) const;
    // 1 when the connection's machine is the one the program runs on (IsLocalMachine of its name).
    int IsLocal() const;

    // Locking a database that this connection already locked succeeds and keeps the held lock.
    int Lock();
    // 0, with the last-error value untouched, when this connection holds no lock.
    int Unlock();
    int CanBeLocked() const;
    // `*status` receives a library block (MemRelease), or null on failure.
    int QueryLockStatus(QUERY_SERVICE_LOCK_STATUSW** status) const;
    // Tells the local manager whether this boot is to be kept as the last known good one.
    static int DoesTheConfigShouldBeSavedAsTheLastKnownGoodConfig(int bootAcceptable);

    // One of OWNER_, GROUP_, DACL_ or SACL_SECURITY_INFORMATION; `*descriptor` receives a library
    // block (MemRelease). Any other value fails with ERROR_INVALID_PARAMETER.
    int QuerySecurity(unsigned long securityInformation, void** descriptor) const;
    int SetSecurity(unsigned long securityInformation, void* descriptor);
    // The number of services and drivers in the database; 0 when it cannot be enumerated.
    unsigned int GetCount() const;

    // A new CService or CDriver (by the service's type) for the service with this key name, owned
    // by the caller (ReleaseSvcObj); null when it cannot be opened or its type is of neither kind
    // (ERROR_UNKNOWN_PROPERTY).
    CSvcObj* FindSvcObj(const SimpleString& serviceName);
    // The same lookup, handing out the configuration it read to learn the type (a library block
    // owned by the caller, null when no object is returned), for callers that need it anyway.
    CSvcObj* FindSvcObj(const SimpleString& serviceName, QUERY_SERVICE_CONFIGW** configuration);
    // The same lookup for a caller whose operations will need `operationAccess` besides the reads:
    // the object's kept handle is asked for with them (see CSvcObj), so that those operations
    // open nothing more. A refusal of them costs one more opening and no failure.
    CSvcObj* FindSvcObj(const SimpleString& serviceName, QUERY_SERVICE_CONFIGW** configuration,
                        unsigned long operationAccess);
    // Creates a service of `kind`; writes "Création du service <name>..." and "OK" or "PROBLÈME".
    // The tag is written only for a non-empty group; drivers never get a password.
    int CreateSvcObj(SvcObjType kind, const wchar_t* serviceName, const wchar_t* displayName,
                     unsigned long desiredAccess, unsigned long serviceType, unsigned long startType,
                     unsigned long errorControl, const wchar_t* binaryPathName, const wchar_t* loadOrderGroup,
                     unsigned long* tagId, const wchar_t* dependencies, const wchar_t* serviceStartName,
                     const wchar_t* password);
    // Marks the object's service for deletion and releases the object (when one was given and the
    // connection is open).
    int DeleteSvcObj(CSvcObj* object);
    int DeleteSvcObj(const SimpleString& serviceName);
    // On failure the output holds an empty (not null) text.
    int GetServiceKeyNameW(const SimpleString& displayName, SimpleString& keyName) const;
    int GetServiceDisplayNameW(const SimpleString& keyName, SimpleString& displayName) const;
    // Snapshots of the database (a null group selects every service): one library block holding
    // the records and their strings, and the number of records (the count pointer may be null).
    int EnumServices(unsigned long serviceType, unsigned long serviceState, const wchar_t* group,
                     ENUM_SERVICE_STATUS_PROCESSW** services, unsigned long* count) const;
    // The same snapshot for a connection that may have been opened without
    // SC_MANAGER_ENUMERATE_SERVICE, which the enumeration needs: it then goes through a manager
    // handle of its own to the same machine and database, opened with that right alone and closed
    // before the return. The connection's own rights stay as they were asked.
    int EnumServicesWithEnumerateRight(unsigned long serviceType, unsigned long serviceState,
                                       ENUM_SERVICE_STATUS_PROCESSW** services, unsigned long* count) const;
    int EnumServicesByGroupW(unsigned long serviceType, unsigned long serviceState, const wchar_t* group,
                             ENUM_SERVICE_STATUSW** services, unsigned long* count) const;

    // Service groups, in the machine's registry (reached through the registry attachment). Each
    // returns 0 without a connection or when the registry cannot be reached.
    //
    // The load order of `group` (null: of all groups) for the services that start at boot, with
    // the system or automatically. `*order` receives a new record, given back with
    // ReleaseGroupLoadOrder; `*count` (may be null) its number of entries. Whatever cannot be read
    // later only leaves services out: the result is then still 1, with the last-error value as found.
    int GroupLoadOrder(const wchar_t* group, _GROUP_LOAD_ORDER** order, unsigned long* count);
    // The ordered group names; `groups` is untouched unless the list is read.
    int EnumServiceGroups(MultiString& groups);
    // Inserts `name` before the element at `position` (at the end when `append` is set or the
    // position is past the end). A name the list already holds, without regard to case, is
    // refused with ERROR_ALREADY_EXISTS and the list is left as it was.
    int CreateServiceGroup(const SimpleString& name, int append, unsigned long position);
    // Removes the group at `position` (counted from 0); a position past the end is refused with
    // ERROR_NOT_FOUND and the list is left as it was.
    int DeleteServiceGroup(unsigned long position);
    // Removes every group named `name` without regard to case.
    int DeleteServiceGroup(const SimpleString& name);
    // The list-editing members never create the list: a missing list, or one of another type than
    // REG_MULTI_SZ, fails. The list is written back whole, also when nothing changed, and closed by
    // two NULs whatever shape it was read in. The groups' tag vectors and services stay as they are.

    // Puts back what a detaching of the registry (below) could not yet put back of the
    // remote-registry service; makes no call when nothing is left. 1 when nothing is left.
    int PutBackRemoteRegistry();

    // The manager handle in use, for the service objects made from this connection.
    SC_HANDLE Handle() const { return m_hSCManager; }

private:
    friend struct CSvcCtrlMgrTestPeer;
    friend class CSvcObj;

    // Closes (or, for a lost machine, forgets) the handles that this connection's objects keep,
    // and lets no object keep one until the connection is opened again.
    void __EndKeptHandles(bool close);

    // Attaches the machine's registry under `rootKey`: the key itself on this machine; on another
    // one, the remote-registry service is started (or continued) first when it is not running.
    // A registry that cannot be reached gives 0 with its code in the last-error value.
    int __StartRemoteRegistryService(HKEY rootKey);
    // Detaches the registry (the key first), and puts the remote-registry service back only as far
    // as the attachments of this connection changed it: the start type it lifted first, then the
    // service alone stopped (never its dependents nor its process) or paused again. A put-back
    // that fails is reported on the error stream and kept for PutBackRemoteRegistry, Close or the
    // next detaching.
    int __StopRemoteRegistryService();
    // Runs `work(m_hRegistryKey)` with the registry attached and detaches it afterwards, keeping
    // the last-error value that the work left.
    template <typename Work>
    int __WithRegistry(Work work);
    // Gives up this connection's lock while the database is locked; returns whether it was.
    bool __ReleaseLockIfLocked();
    // Takes the lock back; when that fails the last-error value tells why.
    void __RetakeLock();

    SC_HANDLE m_hSCManager;
    SC_LOCK m_hLock;
    SimpleString m_szMachineName;
    SimpleString m_szDatabaseName;
    unsigned long m_dwDesiredAccess;
    HKEY m_hRegistryKey;
    // What the registry attachment changed on the remote machine, to be put back at detaching.
    unsigned long m_dwRemoteRegistryChanges;
    // The objects that keep a service handle of this connection, and whether more may. Both, and
    // each keeper's handle, change and are used under the lock: Close may run on the console's
    // control handler thread while the main thread works on a kept handle.
    SRWLOCK m_keptLock = SRWLOCK_INIT;
    std::vector<CSvcObj*> m_keepers;
    bool m_bKeepsHandles = false;
};

// Closes a manager or service handle; 0 for null.
VELMARIK_API int ReleaseServiceHandle(SC_HANDLE handle);

} // namespace ServicesManagement

// 1 when `machineName` (null, empty, a physical name of this computer in any of its formats, with
// an optional trailing dot and leading double backslash) denotes the machine the program runs on.
// A cluster's virtual name is not this computer's: another node may be serving it.
VELMARIK_API int IsLocalMachine(const wchar_t* machineName);
