#pragma once
// One service or driver of a connection's database, named by its key name. On a remote machine
// every opening is a round trip, so an object found by its connection (FindSvcObj) keeps the
// handle that finding it opened, for its own life: the reads' rights together (SERVICE_QUERY_CONFIG,
// SERVICE_QUERY_STATUS and SERVICE_ENUMERATE_DEPENDENTS) and those the finder said its operations
// need. Where the platform refuses those rights together, the object keeps the handle that today's
// lookup opens, with SERVICE_QUERY_CONFIG alone. An operation whose rights the kept handle holds
// works on it; any other opens the service with exactly the rights it needs and closes that
// handle before it returns, as does every operation of an object made otherwise (constructed or
// copied), which keeps no handle. The kept handle closes when the object is released
// (ReleaseSvcObj) or when its connection closes, whichever comes first, even on another thread
// (the console's control handler): a handle never keeps a deleted service in the database past
// either. Operations keep the last-error value of the call that mattered. Blocks handed out
// through pointer-to-pointer arguments are library blocks (MemRelease); they are null after a
// failed read and untouched when the service could not be opened.

#include <memory>

#include <windows.h>

#include "VelmarikApi.h"

namespace ServicesManagement {

class CSvcCtrlMgr;

// The information levels of QueryConfig2 and ChangeConfig2 (other values go to the platform as they are).
enum ConfigInfoLevel : unsigned long {
    ConfigInfoDescription = 1,
    ConfigInfoFailureActions = 2,
    ConfigInfoDelayedAutoStart = 3,
};

// The progress callback of the state changes: called with the milliseconds waited so far in the
// wait under way (see Start below).
typedef void (*SVC_PROGRESS_CALLBACK)(unsigned long);

// How a wait of a state change goes, for its progress callback: passed as the state change's
// `context` by a caller that wants more than the milliseconds, owned by that caller, and filled by
// the wait before each call.
struct SVC_WAIT_PROGRESS {
    // The service waited for: the one asked for, or the dependent a stop is stopping first. Valid
    // during the call only.
    const wchar_t* serviceName;
    // The last status read.
    SERVICE_STATUS_PROCESS status;
    // The wait gives up once millisecondsTowardBound reaches boundMilliseconds. A start, pause or
    // continue counts from the last move of the checkpoint, toward its wait hint (at least 30000);
    // a stop counts from its wait's start, toward 30000.
    unsigned long boundMilliseconds;
    unsigned long millisecondsTowardBound;
    // Set on the call that says the wait has ended, whatever its outcome (the bound then as the
    // last poll saw it); 0 on the others.
    int waitEnded;
};

class VELMARIK_API CSvcObj {
public:
    // Does not check that the service exists, and keeps no handle. The manager must outlive the object.
    CSvcObj(CSvcCtrlMgr* manager, const wchar_t* serviceName);
    // A copy keeps no handle of its own.
    CSvcObj(const CSvcObj& other);
    CSvcObj& operator=(const CSvcObj& other);
    virtual ~CSvcObj();

    // Changes the configuration (SERVICE_NO_CHANGE and null strings keep a setting). The service
    // type must suit the class, else ERROR_INVALID_FLAGS.
    virtual int ChangeConfig(unsigned long serviceType, unsigned long startType, unsigned long errorControl,
                             const wchar_t* binaryPathName, const wchar_t* loadOrderGroup, unsigned long* tagId,
                             const wchar_t* dependencies, const wchar_t* serviceStartName, const wchar_t* password,
                             const wchar_t* displayName) = 0;
    // Starts the system's debugger on the service's process (services only).
    virtual int AttachToADebugger() = 0;

    const wchar_t* GetName() const { return m_lpServiceName; }
    // A new service handle with `access` (null on failure), closed by ReleaseServiceHandle.
    SC_HANDLE GetHandle(unsigned long access) const;

    int QueryStatus(SERVICE_STATUS_PROCESS** status) const;
    int Interrogate(SERVICE_STATUS_PROCESS** status) const;
    // One read into the caller's record.
    int FastQueryStatus(SERVICE_STATUS_PROCESS* status) const;
    // Asks the service for its status; a stopped service still yields the status it has.
    int Interrogate(SERVICE_STATUS* status);
    int QueryConfig(QUERY_SERVICE_CONFIGW** config) const;
    int QueryConfig2(void** info, ConfigInfoLevel level) const;
    // Applies a whole configuration record through the virtual ChangeConfig.
    int ChangeConfig(QUERY_SERVICE_CONFIGW* config, const wchar_t* password);
    // Restart actions need the right to start the service, reboot actions the shutdown privilege,
    // which is held only around the change.
    int ChangeConfig2(void* info, ConfigInfoLevel level);
    // Dependents in `state` (SERVICE_ACTIVE, SERVICE_INACTIVE or SERVICE_STATE_ALL). No dependent:
    // 1 with a null array and a count of 0.
    int EnumDependentServicesW(unsigned long state, ENUM_SERVICE_STATUSW** services, unsigned long* count) const;
    // 0 when it cannot be read.
    unsigned long GetProcessId() const;
    unsigned long GetType() const;
    // One of OWNER_, GROUP_, DACL_ or SACL_SECURITY_INFORMATION, else ERROR_INVALID_PARAMETER.
    int QuerySecurity(unsigned long securityInformation, void** descriptor) const;
    int SetSecurity(unsigned long securityInformation, void* descriptor);
    // Stop, pause and continue go through the state changes below, with `value`, `context` and
    // `progress`; other codes are sent when the service accepts them (when it does not: 0, with the
    // code the manager gives for the refusal).
    int Control(unsigned long control, unsigned long value, void* context, SVC_PROGRESS_CALLBACK progress);
    // The rights that Control asks for `control`, besides the status read; 0 for stop, pause and
    // continue, whose waits work on a handle of their own. For FindSvcObj's `operationAccess`.
    static unsigned long ControlAccess(unsigned long control);

    // State changes: each returns once the service has reached the state, settled in another one,
    // or made no progress for too long. 1 only when the service is in the state asked for; else 0
    // and the last-error value says why: the platform's code, the manager's code for a control the
    // service does not take now, ERROR_SERVICE_REQUEST_TIMEOUT for a wait that ran out, and for a
    // start that ended stopped the service's own exit code (ERROR_SERVICE_NOT_ACTIVE when it gave
    // none).
    //
    // Progress: when `progress` is not null, each wait calls it at every poll while the service is
    // still on its way, with the milliseconds waited so far in that wait (from 0, growing), and once
    // more when a wait that called it ends, before the state change writes anything else, so that
    // what the caller shows of the wait can go first. When `context` is not null too, it points at
    // the caller's SVC_WAIT_PROGRESS, filled before each call (waitEnded set on the last one). The
    // callback's effect on the last-error value is undone. `value` is not used; without a callback
    // `context` is not used either, and the state change makes the same platform calls.
    int Start(unsigned long argumentCount, const wchar_t** arguments, unsigned long value, void* context,
              SVC_PROGRESS_CALLBACK progress);
    // Stops the active dependents, direct or not, first when `stopDependents` is set (each once,
    // reporting each), and ends the service's process after a time-out when `killOnTimeout` is set
    // and the manager is connected to this machine. `timeout`, `context` and `progress` are handed
    // on to the dependents' stops, whose waits are reported as the service's own.
    int Stop(int stopDependents, unsigned long timeout, int killOnTimeout, unsigned long value, void* context,
             SVC_PROGRESS_CALLBACK progress);
    int Pause(unsigned long value, void* context, SVC_PROGRESS_CALLBACK progress);
    int Resume(unsigned long value, void* context, SVC_PROGRESS_CALLBACK progress);

protected:
    // The manager's current handle, or null when it is closed.
    SC_HANDLE ManagerHandle() const;
    // Runs `work(handle)` (an Outcome) on the kept handle when it holds `access`, under the
    // connection's lock of kept handles; else on a handle opened with `access` and closed after.
    // 1 when the work is done, else 0. Work that waits must not come here: a close of the
    // connection would wait for it. Defined in OpenedService.h, for the library's own sources.
    template <typename Work>
    int WithHandle(unsigned long access, Work work) const;

    wchar_t* m_lpServiceName;
    CSvcCtrlMgr* m_pSvcCtrlMgr;

    // Both kinds of object change the configuration alike once their own rules are applied. The
    // tag is asked for only where a group gives it a meaning.
    int ChangeServiceConfiguration(unsigned long serviceType, unsigned long startType, unsigned long errorControl,
                                   const wchar_t* binaryPathName, const wchar_t* loadOrderGroup,
                                   unsigned long* tagId, const wchar_t* dependencies,
                                   const wchar_t* serviceStartName, const wchar_t* password,
                                   const wchar_t* displayName);

private:
    friend class CSvcCtrlMgr;
    // Takes `handle` (granted `access`) for the object's life, when the connection still keeps
    // handles; else closes it at once.
    void KeepHandle(SC_HANDLE handle, unsigned long access);
    // Closes the kept handle; the caller holds the connection's lock of kept handles.
    void CloseKeptHandle();
    void ReleaseKeptHandle();

    // Null when none is kept, or once the connection closed it.
    SC_HANDLE m_hService = nullptr;
    unsigned long m_dwServiceAccess = 0;
    // Whether the connection lists this object among its keepers (set and read by the owner's
    // thread only): only then is the connection's lock taken.
    bool m_bKeeper = false;
};

// Win32 services: own-process or shared-process, interactive or not.
class VELMARIK_API CService : public CSvcObj {
public:
    CService(CSvcCtrlMgr* manager, const wchar_t* serviceName);
    int ChangeConfig(unsigned long serviceType, unsigned long startType, unsigned long errorControl,
                     const wchar_t* binaryPathName, const wchar_t* loadOrderGroup, unsigned long* tagId,
                     const wchar_t* dependencies, const wchar_t* serviceStartName, const wchar_t* password,
                     const wchar_t* displayName) override;
    // Formats the machine's AeDebug "Debugger" template with the process id and an event handle.
    // A template with other than integer conversions, or more than two, is refused with
    // ERROR_INVALID_DATA and starts nothing.
    int AttachToADebugger() override;
};

// Kernel and file-system drivers, adapters and recognizers.
class VELMARIK_API CDriver : public CSvcObj {
public:
    CDriver(CSvcCtrlMgr* manager, const wchar_t* serviceName);
    // A binary path beginning with "\??\" is passed without that prefix; no password is passed.
    int ChangeConfig(unsigned long serviceType, unsigned long startType, unsigned long errorControl,
                     const wchar_t* binaryPathName, const wchar_t* loadOrderGroup, unsigned long* tagId,
                     const wchar_t* dependencies, const wchar_t* serviceStartName, const wchar_t* password,
                     const wchar_t* displayName) override;
    // Drivers are debugged with the kernel debugger: writes a hint and fails with ERROR_NOT_SUPPORTED.
    int AttachToADebugger() override;
};

// Destroys an object of FindSvcObj; null is ignored.
VELMARIK_API void ReleaseSvcObj(CSvcObj* object);

// Owns a service object in C++ code and releases it with ReleaseSvcObj.
struct SvcObjRelease {
    void operator()(CSvcObj* object) const { ReleaseSvcObj(object); }
};
using OwnedSvcObj = std::unique_ptr<CSvcObj, SvcObjRelease>;

} // namespace ServicesManagement
