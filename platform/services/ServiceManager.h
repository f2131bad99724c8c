#pragma once

// The service manager of the machine: systemd's service units, reached over D-Bus.
// Only this unit talks to systemd. A service is a unit of type ".service"; its name here is
// the unit name without that suffix. States, start types and service types are reported in the
// values the program uses everywhere (see the constants below).

#include "platform/system/TestSeams.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace platform::services {

// Service states.
enum : quint8 {
    StateStopped = 1,
    StateStartPending = 2,
    StateStopPending = 3,
    StateRunning = 4,
    StateContinuePending = 5,
    StatePausePending = 6,
    StatePaused = 7,
};

// Start types: enabled units start automatically, masked ones are disabled, every other unit
// (disabled, static, indirect, generated …) is started on demand only.
enum : quint8 { StartAutomatic = 2, StartManual = 3, StartDisabled = 4 };

// Service types: every unit runs its own processes.
enum : quint8 { TypeOwnProcess = 0x10, TypeShareProcess = 0x20 };

// The test suite points the program at a private bus with this variable (read in builds for
// tests only); unset, the system bus.
inline constexpr const char *kBusAddressVariable = "TASKVANE_SYSTEMD_BUS_ADDRESS";

struct ServiceStatus
{
    quint8 State = 0;
    // The time the manager expects the pending step to take (ms). systemd names none (its start
    // and stop timeouts are limits, not estimates), so this is always 0.
    quint32 WaitHint = 0;
    quint32 ProcessID = 0; // main process, 0 when none
    bool AcceptsStop = false;
    bool AcceptsPause = false;
};

struct ServiceConfig
{
    QString DisplayName;
    QString Description;
    QString Account; // the unit's user; "root" when it names none
    QString BinaryPath;
    QString LoadOrderGroup;
    quint8 StartType = StartManual;
    // Enabled, disabled and masked units can be switched between the start types; static,
    // indirect, generated, transient, linked and alias units cannot (their start type is fixed
    // by other units or by the system).
    bool StartTypeSettable = false;
    quint8 ServiceType = TypeOwnProcess;
    bool Interactive = false;
};

struct ServiceEntry
{
    QString Name;
    QString DisplayName;
    quint8 ServiceType = TypeOwnProcess;
    quint8 State = StateStopped;
};

// One service as the manager describes it: the entry and what the unit itself answers. A listing
// and a single opened service are read into it by the same code.
struct ServiceInfo
{
    ServiceEntry Entry;
    // The unit's own properties arrived; without them only the entry's fields hold.
    bool Read = false;
    // Without them, the manager's list of unit files gave the start type (Config's StartType and
    // StartTypeSettable hold).
    bool StartTypeRead = false;
    ServiceConfig Config;
    ServiceStatus Status;
    // Services that depend on this one (required, bound or wanted by), as the unit names them.
    QStringList Dependents;
};

#if TASKVANE_TEST_SEAMS
// Watches the calls the service layer sends to the manager: the test suite and the benchmarks
// count them. Called on the thread that makes the call.
class CallObserver
{
public:
    virtual ~CallObserver() = default;
    // A call to the object at Path is on its way.
    virtual void Sent(const QString &Member, const QString &Path) = 0;
    // Its answer (or error) has been taken in.
    virtual void Answered(const QString &Member, const QString &Path) = 0;
};
// Null removes the observer.
void SetCallObserver(CallObserver *Observer);

namespace detail {
// Tell the observer, when there is one.
void NoteSent(const QString &Member, const QString &Path);
void NoteAnswered(const QString &Member, const QString &Path);
} // namespace detail
#endif

class ServiceManager;

// One opened service: the unit's object and what was last read from it.
class ServiceHandle
{
public:
    const QString &Name() const { return m_Name; }

private:
    friend class ServiceManager;
    QString m_Name;
    QString m_Unit;
    QString m_Path;
    ServiceInfo m_Info;
    QString m_UnitFileState;
    QString m_LoadState;
    bool m_Fresh = false; // read and not yet used for a status
};

class ServiceManager
{
public:
    // A question about one unit still unanswered after this long is given up, with that unit
    // alone, once the manager has answered a question asked after it: the manager answers in
    // order, so it has passed this one by. A call about a single service, made while its caller
    // waits, gives up this long after it began, whatever the manager answers meanwhile: opening a
    // service (finding the unit and reading it) is one such call, and so is each later reading.
    static constexpr int kQueryTimeoutMs = 5000;
    // A listing waits this long for a manager that answers nothing (it may be busy starting units
    // or reloading); a change that may ask the user for authorisation as long.
    static constexpr int kManagerWaitMs = 120000;
    static constexpr int kActionTimeoutMs = 120000;
    // Bounds the entries a listing reads in the manager's unit folders together.
    static constexpr std::size_t kMaxUnitFolderEntries = 200000;

    // Connects nothing yet: the bus of the service manager is opened by the first use that needs
    // it, so an object made only to read a handle costs no connection.
    ServiceManager();
    ~ServiceManager();
    ServiceManager(const ServiceManager &) = delete;
    ServiceManager &operator=(const ServiceManager &) = delete;

    bool IsConnected() const;
    // True when the service manager answers on the bus.
    bool Ping();
    // The error text of the last failed call (empty after a success).
    const QString &LastError() const { return m_LastError; }

    // The questions about single units a listing keeps in flight at once.
    static constexpr int kListingCallsInFlight = 64;

    // Every service unit, each with its configuration, status and dependents: loaded ones in the
    // manager's order, then the unit files not yet loaded by name, found in the manager's unit
    // folders as the manager finds them. Template units and other names of a unit are left out.
    // Per unit only the properties shown are asked for, many questions in flight together, waited
    // for without running any event loop. A unit that cannot be read keeps what the manager's list
    // gave, and the start type its list of unit files gives. Empty optional when the manager
    // itself cannot be asked (its list, the connection), or once Cancelled says so (it is asked
    // several times a second).
    std::optional<std::vector<ServiceInfo>> ListServices(const std::function<bool()> &Cancelled = {});

    // Opens a service by name; none when no such unit exists.
    std::optional<ServiceHandle> OpenService(const QString &Name);

    bool QueryConfig(ServiceHandle &Handle, ServiceConfig &Config);
    bool QueryStatus(ServiceHandle &Handle, ServiceStatus &Status);
    // Names of the services that depend on this one (required, wanted or bound by), in the unit's
    // order; with ActiveOnly only those that are not stopped. Other kinds of unit are passed over.
    std::optional<QStringList> Dependents(ServiceHandle &Handle, bool ActiveOnly);

    bool Start(ServiceHandle &Handle);
    bool Stop(ServiceHandle &Handle);
    bool Pause(ServiceHandle &Handle);  // freezes the unit's processes
    bool Resume(ServiceHandle &Handle); // thaws them
    // Enables, disables (on demand only) or masks the unit's file and reloads the manager; true
    // only when the unit reports the new start type afterwards.
    bool SetStartType(ServiceHandle &Handle, quint8 StartType);

    // Pure mappings, exposed for their callers' tests.
    static quint8 StateOf(const QString &ActiveState, const QString &FreezerState, const QString &JobType);
    static quint8 StartTypeOf(const QString &UnitFileState);
    static bool StartTypeSettableOf(const QString &UnitFileState);
    static QString UnitName(const QString &Name) { return Name + QStringLiteral(".service"); }

private:
    struct BusCloser
    {
        void operator()(sd_bus *Bus) const;
    };

    // One call to the manager's object, waited for; Append adds its arguments. False, with the
    // manager's error kept, when it fails.
    bool Call(const char *Interface, const char *Method, const std::function<int(sd_bus_message *)> &Append,
              bool Action, QString *ObjectPath = nullptr,
              const QDeadlineTimer &Deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    // Reads the unit's properties anew, all of it by the deadline (the query time-out from now
    // when none is given).
    bool Fetch(ServiceHandle &Handle);
    bool Fetch(ServiceHandle &Handle, const QDeadlineTimer &Deadline);
    bool UnitCall(ServiceHandle &Handle, const char *Method, const std::function<int(sd_bus_message *)> &Append);

    // The bus, opened on the first call; null, with m_ConnectError saying why, when it cannot be.
    sd_bus *Bus() const;

    // Opened once, by Bus() alone.
    mutable std::unique_ptr<sd_bus, BusCloser> m_Bus;
    mutable bool m_BusOpened = false;
    mutable QString m_ConnectError; // why there is no connection
    // Kept for the caller and logged, as nothing above shows it.
    void SetLastError(const QString &Error);
    QString m_LastError;
};

} // namespace platform::services
