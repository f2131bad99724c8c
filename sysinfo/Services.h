#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace platform::services {
class ServiceHandle;
struct ServiceInfo;
} // namespace platform::services

class TServices;

// States and start types carry the values the rest of the program stores and shows.
enum class TServiceState : quint8 {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
    ContinuePending = 5,
    PausePending = 6,
    Paused = 7,
};
// The start types of services are written to the optimisation's backup file as these numbers.
enum class TServiceStartType : quint8 { Boot = 0, System = 1, Automatic = 2, Manual = 3, Disabled = 4 };
// What TServiceHelper::Control does.
enum class TServiceControl : quint8 { Start = 0, Stop = 1, Pause = 2, Continue = 3 };

// One service as the list knows it; service types 0x10 own process, 0x20 shared process.
class TServiceItem
{
public:
    TServiceItem();
    ~TServiceItem();
    TServiceItem(const TServiceItem &) = delete;
    TServiceItem &operator=(const TServiceItem &) = delete;

    QStringList Dependencies; // listed services this one depends on
    QStringList Dependents;   // listed services that depend on this one
    QString Name;
    QString DisplayName;
    QString Description;
    QString Account;
    QString BinaryPath;
    QString LoadOrderGroup;
    quint32 ProcessID = 0;
    TServiceState State{};
    TServiceStartType StartType{};
    quint8 ServiceType = 0;
    bool Interactive = false;
    bool AcceptsStop = false;
    bool AcceptsPause = false;
    // The start type can be changed: false for a unit whose start is fixed by other units or by
    // the system (static, indirect, generated, transient, linked, alias).
    bool StartTypeSettable = false;

    // Each acts on the service of this name and then re-reads the item, whatever the outcome.
    // Wait is in milliseconds; 0xFFFFFFFF waits without a time limit.
    bool Start(quint32 Wait);
    bool Stop(quint32 Wait);
    bool Pause(quint32 Wait);
    bool Resume(quint32 Wait);
    bool Restart(quint32 Wait);
    // The result of the change itself.
    bool ChangeStartType(TServiceStartType AStartType);
    // The result of the re-read after the change.
    bool SetStartType(TServiceStartType AStartType);
    // Re-reads configuration, description, status and process; the display name, the service
    // type and the two name lists stay as the last list reload left them.
    bool Reload();
    // Takes what Reload reads from another item of the same service, read elsewhere.
    void TakeReading(const TServiceItem &Source);
};

// The routines behind the items and the list: class functions without instance data.
class TServiceHelper
{
public:
    static constexpr quint32 WAIT_INFINITE = 0xFFFFFFFFu;

    static bool IsRunning(const QString &Name);
    // Any value but the four operations gives false.
    static bool Control(const QString &Name, TServiceControl Op, quint32 Wait);
    static bool Start(const QString &Name, quint32 Wait);
    static bool Stop(const QString &Name, quint32 Wait);
    static bool Pause(const QString &Name, quint32 Wait);
    static bool Continue(const QString &Name, quint32 Wait);
    static bool Restart(const QString &Name, quint32 Wait);
    static bool SetStartType(const QString &Name, TServiceStartType StartType);
    // Reads one opened service into Item; false only without a handle or an item.
    static bool FillItem(platform::services::ServiceHandle *ServiceHandle, TServiceItem *Item);
    static bool ReloadItem(const QString &Name, TServiceItem *Item);
    // The polling step for a wait hint (ms): a tenth of it, kept between 1000 and 10000.
    static quint32 PollInterval(quint32 WaitHint);
    // True when the service manager answers.
    static bool ManagerReachable();
    // Runs Work on a worker thread and gives its result once it has ended. Meanwhile the calling
    // thread keeps running its event loop (it repaints, answers the window system and serves the
    // calls posted to it), also once the application has been asked to quit, so that nothing the
    // manager delays holds it. Work must reach nothing those calls may change or free: it gets
    // names, and items of its own.
    static bool RunBeside(const std::function<bool()> &Work);
};

// The services of the machine, in the order the service manager lists them.
class TServices : public QObject
{
    Q_OBJECT

public:
    explicit TServices(QObject *AOwner = nullptr);
    // Stops a reading in the background and waits for its thread, which ends within a fraction of
    // a second.
    ~TServices() override;

    void Clear();
    void Reload();
    // Reload on a worker thread; returns at once. The new items take the old ones' place on the
    // component's thread, where the old ones are freed and OnReloaded then runs. A request while a
    // reading runs stops that reading and starts another, so that the list taken in is never older
    // than the last request.
    void ReloadInBackground();
    // A reading in the background runs or is about to start.
    bool Reloading() const { return m_Reading != nullptr || m_Again; }
    std::function<void()> OnReloaded;
    // Appends one item per service; does not clear the list first.
    void Refresh();
    int GetCount() const;
    // Null when Index is not below the count.
    TServiceItem *GetItem(int Index) const;
    // Ignores letter case; null when no service has the name.
    TServiceItem *ItemByName(const QString &ServiceName) const;
    // True when the last Refresh could not ask the service manager (it cannot be reached or
    // answered nonsense): an empty list then says nothing about the machine's services.
    bool RefreshFailed() const { return m_RefreshFailed; }

    // Name-based front ends; no list needed.
    static bool IsRunning(const QString &Name);
    static bool StartService(const QString &Name, quint32 Wait);
    static bool StopService(const QString &Name, quint32 Wait);
    static bool SetServiceStartType(const QString &Name, TServiceStartType StartType);

private:
    using TItems = std::vector<std::unique_ptr<TServiceItem>>;
    using TIndex = QHash<QString, TServiceItem *>;
    struct TReading;

    // Appends one item per service to Items and Index, with their name lists; false when the
    // service manager could not be asked (or Cancelled said so).
    static bool ReadServices(TItems &Items, TIndex &Index, const std::function<bool()> &Cancelled);
    void StartReading();
    // On the component's thread: the reading's list takes the old one's place unless the reading
    // was stopped.
    void ReadingEnded(const std::shared_ptr<TReading> &Reading, TItems &Items, TIndex &Index, bool Failed);

    TItems m_Items;  // enumeration order
    TIndex m_ByName; // case-folded name -> first item of it
    bool m_RefreshFailed = false;
    std::shared_ptr<TReading> m_Reading;
    std::thread m_Worker;
    bool m_Again = false;
    bool m_Ending = false; // OnReloaded runs, inside the worker's hand-off
    bool m_Closing = false;
};

// Makes sure, at program start, that the terminal service runs (the process unit calls it).
void EnsureTerminalService();
