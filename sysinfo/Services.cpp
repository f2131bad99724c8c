#include "sysinfo/Services.h"

#include "sysinfo/HandOff.h"
#include "sysinfo/Logging.h"

#include "platform/services/ServiceManager.h"
#include "sysinfo/Processes.h"

#include "platform/Logging.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <exception>
#include <optional>

using platform::services::ServiceHandle;
using platform::services::ServiceManager;
using platform::services::ServiceStatus;

namespace ps = platform::services;

namespace {

QString CaseKey(const QString &Name)
{
    return Name.toCaseFolded();
}

// A state no operation passes through on its way anywhere.
bool IsSettled(quint8 State)
{
    return State == ps::StateStopped || State == ps::StateRunning || State == ps::StatePaused;
}

struct TControlOp
{
    quint8 Pending;
    quint8 Target;
    bool StopsDependents;
};

// In the order of TServiceControl.
const TControlOp kControlOps[4] = {
    {ps::StateStartPending, ps::StateRunning, false},
    {ps::StateStopPending, ps::StateStopped, true},
    {ps::StatePausePending, ps::StatePaused, true},
    {ps::StateContinuePending, ps::StateRunning, false},
};

class TWaitClock
{
public:
    explicit TWaitClock(quint32 Wait) : m_Wait(Wait) { m_Timer.start(); }
    bool Expired() const { return m_Wait != TServiceHelper::WAIT_INFINITE && m_Timer.elapsed() > qint64(m_Wait); }

private:
    quint32 m_Wait;
    QElapsedTimer m_Timer;
};

// Polls until the service reaches Target. False on a time-out, a failed query, or when the
// service settles somewhere else: with no time limit such a wait would never end.
bool WaitForState(ServiceManager &Manager, ServiceHandle &Handle, ServiceStatus &Status, quint8 Target,
                  const TWaitClock &Clock)
{
    if (Status.State == Target)
        return true;
    const quint32 interval = TServiceHelper::PollInterval(Status.WaitHint);
    for (;;) {
        if (IsSettled(Status.State))
            return false;
        QThread::msleep(interval);
        if (!Manager.QueryStatus(Handle, Status))
            return false;
        if (Status.State == Target)
            return true;
        if (Clock.Expired())
            return false;
    }
}

bool StopActiveDependents(ServiceManager &Manager, ServiceHandle &Handle, const TWaitClock &Clock)
{
    const auto names = Manager.Dependents(Handle, true);
    if (!names)
        return false;
    for (const QString &name : *names) {
        auto dep = Manager.OpenService(name);
        if (!dep || !Manager.Stop(*dep))
            return false;
        ServiceStatus st;
        if (!Manager.QueryStatus(*dep, st))
            return false;
        if (!WaitForState(Manager, *dep, st, ps::StateStopped, Clock))
            return false;
    }
    return true;
}

bool DoControl(const QString &Name, TServiceControl Op, quint32 Wait)
{
    const TControlOp &op = kControlOps[quint8(Op)];
    ServiceManager manager;
    if (!manager.IsConnected())
        return false;
    // systemd keeps no lock on its configuration that another program could hold, so the
    // operations that would lock it first simply go ahead.
    auto handle = manager.OpenService(Name);
    if (!handle)
        return false;
    ServiceStatus st;
    if (!manager.QueryStatus(*handle, st))
        return false;
    if (st.State == op.Target)
        return true;
    const TWaitClock clock(Wait);
    const quint32 interval = TServiceHelper::PollInterval(st.WaitHint);
    // Let a change of the same kind that is already under way finish first.
    while (st.State == op.Pending) {
        QThread::msleep(interval);
        if (!manager.QueryStatus(*handle, st))
            return false;
        if (st.State == op.Target)
            return true;
        if (clock.Expired())
            return false;
    }
    if (op.StopsDependents && !StopActiveDependents(manager, *handle, clock))
        return false;
    bool issued = false;
    switch (Op) {
    case TServiceControl::Start:
        issued = manager.Start(*handle);
        break;
    case TServiceControl::Stop:
        issued = manager.Stop(*handle);
        break;
    case TServiceControl::Pause:
        issued = manager.Pause(*handle);
        break;
    case TServiceControl::Continue:
        issued = manager.Resume(*handle);
        break;
    }
    if (!issued)
        return false;
    if (!manager.QueryStatus(*handle, st))
        return false;
    return WaitForState(manager, *handle, st, op.Target, clock);
}

void TakeConfig(TServiceItem &Item, const ps::ServiceConfig &Config)
{
    Item.Account = Config.Account;
    Item.BinaryPath = NormalizePath(Config.BinaryPath);
    Item.LoadOrderGroup = Config.LoadOrderGroup;
    Item.StartType = TServiceStartType(Config.StartType);
    Item.StartTypeSettable = Config.StartTypeSettable;
    Item.Description = Config.Description;
}

void TakeStatus(TServiceItem &Item, const ServiceStatus &Status)
{
    Item.State = TServiceState(Status.State);
    Item.ProcessID = Status.ProcessID;
    Item.AcceptsStop = Status.AcceptsStop;
    Item.AcceptsPause = Status.AcceptsPause;
}

} // namespace

// ---- TServiceItem -------------------------------------------------------------------------

TServiceItem::TServiceItem() = default;

TServiceItem::~TServiceItem() = default;

bool TServiceItem::Start(quint32 Wait)
{
    const bool result = TServiceHelper::Start(Name, Wait);
    Reload();
    return result;
}

bool TServiceItem::Stop(quint32 Wait)
{
    const bool result = TServiceHelper::Stop(Name, Wait);
    Reload();
    return result;
}

bool TServiceItem::Pause(quint32 Wait)
{
    const bool result = TServiceHelper::Pause(Name, Wait);
    Reload();
    return result;
}

bool TServiceItem::Resume(quint32 Wait)
{
    const bool result = TServiceHelper::Continue(Name, Wait);
    Reload();
    return result;
}

bool TServiceItem::Restart(quint32 Wait)
{
    const bool result = TServiceHelper::Restart(Name, Wait);
    Reload();
    return result;
}

bool TServiceItem::ChangeStartType(TServiceStartType AStartType)
{
    const bool result = TServiceHelper::SetStartType(Name, AStartType);
    Reload();
    return result;
}

bool TServiceItem::SetStartType(TServiceStartType AStartType)
{
    TServiceHelper::SetStartType(Name, AStartType);
    return Reload();
}

bool TServiceItem::Reload()
{
    return TServiceHelper::ReloadItem(Name, this);
}

void TServiceItem::TakeReading(const TServiceItem &Source)
{
    Account = Source.Account;
    BinaryPath = Source.BinaryPath;
    LoadOrderGroup = Source.LoadOrderGroup;
    StartType = Source.StartType;
    StartTypeSettable = Source.StartTypeSettable;
    Description = Source.Description;
    State = Source.State;
    ProcessID = Source.ProcessID;
    AcceptsStop = Source.AcceptsStop;
    AcceptsPause = Source.AcceptsPause;
}

// ---- TServiceHelper -----------------------------------------------------------------------

quint32 TServiceHelper::PollInterval(quint32 WaitHint)
{
    return qBound(1000u, WaitHint / 10, 10000u);
}

bool TServiceHelper::ManagerReachable()
{
    try {
        ServiceManager manager;
        return manager.IsConnected() && manager.Ping();
    } catch (const std::exception &e) {
        qCWarning(lcSysinfo) << "services:" << e.what();
        return false;
    }
}

bool TServiceHelper::RunBeside(const std::function<bool()> &Work)
{
    struct TRun
    {
        std::atomic<bool> Ended{false};
        bool Result = false;
    };
    auto run = std::make_shared<TRun>();
    // Told by the worker once it ends: a posted call wakes the loop below.
    QObject waker;
    std::thread worker([run, &Work, &waker] {
        try {
            run->Result = Work();
        } catch (...) {
            qCWarning(lcSysinfo) << "services:" << platform::CurrentExceptionText();
            run->Result = false;
        }
        run->Ended = true;
        QMetaObject::invokeMethod(
            &waker, [] {}, Qt::QueuedConnection);
    });
    // Not the loop's exec: that returns at once once the application is asked to quit, and the
    // worker still uses what the caller gave it.
    QEventLoop loop;
    while (!run->Ended.load())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    return run->Result;
}

bool TServiceHelper::IsRunning(const QString &Name)
{
    if (Name.trimmed().isEmpty())
        return false;
    try {
        ServiceManager manager;
        auto handle = manager.OpenService(Name);
        ServiceStatus st;
        return handle && manager.QueryStatus(*handle, st) && st.State == ps::StateRunning;
    } catch (const std::exception &e) {
        qCWarning(lcSysinfo) << "services:" << e.what();
        return false;
    }
}

bool TServiceHelper::Control(const QString &Name, TServiceControl Op, quint32 Wait)
{
    if (Name.trimmed().isEmpty() || quint8(Op) > quint8(TServiceControl::Continue))
        return false;
    try {
        return DoControl(Name, Op, Wait);
    } catch (const std::exception &e) {
        qCWarning(lcSysinfo) << "services:" << e.what();
        return false;
    }
}

bool TServiceHelper::Start(const QString &Name, quint32 Wait)
{
    return Control(Name, TServiceControl::Start, Wait);
}

bool TServiceHelper::Stop(const QString &Name, quint32 Wait)
{
    return Control(Name, TServiceControl::Stop, Wait);
}

bool TServiceHelper::Pause(const QString &Name, quint32 Wait)
{
    return Control(Name, TServiceControl::Pause, Wait);
}

bool TServiceHelper::Continue(const QString &Name, quint32 Wait)
{
    return Control(Name, TServiceControl::Continue, Wait);
}

bool TServiceHelper::Restart(const QString &Name, quint32 Wait)
{
    return Stop(Name, Wait) && Start(Name, Wait);
}

bool TServiceHelper::SetStartType(const QString &Name, TServiceStartType StartType)
{
    if (Name.trimmed().isEmpty())
        return false;
    try {
        ServiceManager manager;
        auto handle = manager.OpenService(Name);
        return handle && manager.SetStartType(*handle, quint8(StartType));
    } catch (const std::exception &e) {
        qCWarning(lcSysinfo) << "services:" << e.what();
        return false;
    }
}

bool TServiceHelper::FillItem(ServiceHandle *ServiceHandle, TServiceItem *Item)
{
    if (!ServiceHandle || !Item)
        return false;
    ServiceManager manager;
    ps::ServiceConfig config;
    if (manager.QueryConfig(*ServiceHandle, config))
        TakeConfig(*Item, config);
    ServiceStatus st;
    if (manager.QueryStatus(*ServiceHandle, st))
        TakeStatus(*Item, st);
    return true;
}

bool TServiceHelper::ReloadItem(const QString &Name, TServiceItem *Item)
{
    if (Name.trimmed().isEmpty() || !Item)
        return false;
    try {
        ServiceManager manager;
        auto handle = manager.OpenService(Name);
        if (!handle)
            return false;
        FillItem(&*handle, Item);
        return true;
    } catch (const std::exception &e) {
        qCWarning(lcSysinfo) << "services:" << e.what();
        return false;
    }
}

// ---- TServices ----------------------------------------------------------------------------

namespace {

// Fills the two name lists of the items from First on; Index finds the items by case-folded name.
void BuildDependencies(std::vector<std::unique_ptr<TServiceItem>> &Items, const QHash<QString, TServiceItem *> &Index,
                       const std::vector<ps::ServiceInfo> &Services, std::size_t First)
{
    // The names come with each service's own answers; an item left out has none here.
    QHash<QString, const ps::ServiceInfo *> byName;
    for (const ps::ServiceInfo &s : Services)
        byName.insert(s.Entry.Name, &s);
    for (std::size_t i = First; i < Items.size(); ++i) {
        TServiceItem &item = *Items[i];
        item.Dependencies.clear();
        item.Dependents.clear();
        const ps::ServiceInfo *info = byName.value(item.Name, nullptr);
        if (!info)
            continue;
        for (const QString &name : info->Dependents) {
            // Names that are not listed are passed over.
            if (TServiceItem *dep = Index.value(CaseKey(name), nullptr))
                item.Dependents.append(dep->Name);
        }
    }
    // B depends on A when A names B among its dependents; the pairs are found through the
    // exact names, in list order.
    QHash<QString, TServiceItem *> exact;
    for (std::size_t i = First; i < Items.size(); ++i)
        exact.insert(Items[i]->Name, Items[i].get());
    for (std::size_t i = First; i < Items.size(); ++i) {
        const TServiceItem &b = *Items[i];
        for (const QString &s : b.Dependents) {
            TServiceItem *a = exact.value(s, nullptr);
            if (a && a != &b && a->Name != b.Name)
                a->Dependencies.append(b.Name);
        }
    }
}

} // namespace

// A reading in the background: its hand-off to the component's thread, and the wish to stop it.
struct TServices::TReading
{
    explicit TReading(QObject *Context) : HandOff(Context) {}
    THandOff HandOff;
    std::atomic<bool> Stop{false};
};

TServices::TServices(QObject *AOwner) : QObject(AOwner) {}

TServices::~TServices()
{
    m_Closing = true;
    if (m_Reading) {
        // The worker sees the wish within a tick of its wait; its list is then handed to nobody.
        m_Reading->Stop = true;
        m_Reading->HandOff.Close();
    }
    if (m_Worker.joinable())
        m_Worker.join();
    Clear();
}

void TServices::Clear()
{
    m_ByName.clear();
    m_Items.clear();
    m_RefreshFailed = false;
}

void TServices::Reload()
{
    Clear();
    Refresh();
}

void TServices::Refresh()
{
    m_RefreshFailed = !ReadServices(m_Items, m_ByName, {});
}

bool TServices::ReadServices(TItems &Items, TIndex &Index, const std::function<bool()> &Cancelled)
{
    std::optional<std::vector<ps::ServiceInfo>> services;
    try {
        ServiceManager manager;
        services = manager.ListServices(Cancelled);
    } catch (const std::exception &e) {
        qCWarning(lcSysinfo) << "services:" << e.what();
        return false;
    }
    if (!services)
        return false;
    const std::size_t first = Items.size();
    for (const ps::ServiceInfo &s : *services) {
        try {
            auto item = std::make_unique<TServiceItem>();
            item->ServiceType = quint8(s.Entry.ServiceType & ~0x100);
            item->Interactive = (s.Entry.ServiceType & 0x100) != 0;
            item->Name = s.Entry.Name;
            item->DisplayName = s.Entry.DisplayName;
            item->State = TServiceState(s.Entry.State);
            if (s.Read) {
                TakeConfig(*item, s.Config);
                TakeStatus(*item, s.Status);
            } else if (s.StartTypeRead) {
                item->StartType = TServiceStartType(s.Config.StartType);
                item->StartTypeSettable = s.Config.StartTypeSettable;
            }
            TServiceItem *raw = item.get();
            Items.push_back(std::move(item));
            // The first item of a name answers look-ups.
            if (!Index.contains(CaseKey(raw->Name)))
                Index.insert(CaseKey(raw->Name), raw);
        } catch (const std::exception &e) {
            qCWarning(lcSysinfo) << "services:" << e.what();
            // This entry is left out; the others go on.
        }
    }
    BuildDependencies(Items, Index, *services, first);
    return true;
}

void TServices::ReloadInBackground()
{
    if (m_Closing)
        return;
    if (m_Reading || m_Ending || m_Again) {
        // What it reads may be older than this request: it stops, and another reading follows
        // once its worker has left the hand-off. A start already queued covers this request; one
        // begun here instead would be joined by that start while its worker waits for this thread.
        if (m_Reading)
            m_Reading->Stop = true;
        m_Again = true;
        return;
    }
    StartReading();
}

void TServices::StartReading()
{
    m_Again = false;
    if (m_Closing)
        return;
    // The last worker has handed its list over and is ending.
    if (m_Worker.joinable())
        m_Worker.join();
    auto reading = std::make_shared<TReading>(this);
    m_Reading = reading;
    m_Worker = std::thread([this, reading] {
        TItems items;
        TIndex index;
        bool failed = true;
        try {
            failed = !ReadServices(items, index, [&reading] { return reading->Stop.load(); });
        } catch (...) {
            qCWarning(lcSysinfo) << "services:" << platform::CurrentExceptionText();
        }
        // Runs only while the hand-off is open, that is while this component lives.
        reading->HandOff.Synchronize([&] { ReadingEnded(reading, items, index, failed); });
    });
}

void TServices::ReadingEnded(const std::shared_ptr<TReading> &Reading, TItems &Items, TIndex &Index, bool Failed)
{
    if (m_Reading != Reading)
        return;
    m_Reading.reset();
    Reading->HandOff.Close();
    const bool taken = !Reading->Stop.load();
    if (taken) {
        m_Items.swap(Items);
        m_ByName.swap(Index);
        m_RefreshFailed = Failed;
    }
    // The items given up go here, on the thread that may have shown them.
    Index.clear();
    Items.clear();
    if (taken && OnReloaded) {
        m_Ending = true;
        OnReloaded();
        m_Ending = false;
    }
    // The next reading starts once this worker has left its hand-off.
    if (m_Again)
        QMetaObject::invokeMethod(this, &TServices::StartReading, Qt::QueuedConnection);
}

int TServices::GetCount() const
{
    return int(m_Items.size());
}

TServiceItem *TServices::GetItem(int Index) const
{
    if (quint32(Index) >= quint32(m_Items.size()))
        return nullptr;
    return m_Items[std::size_t(Index)].get();
}

TServiceItem *TServices::ItemByName(const QString &ServiceName) const
{
    return m_ByName.value(CaseKey(ServiceName), nullptr);
}

bool TServices::IsRunning(const QString &Name)
{
    return TServiceHelper::IsRunning(Name);
}

bool TServices::StartService(const QString &Name, quint32 Wait)
{
    return TServiceHelper::Start(Name, Wait);
}

bool TServices::StopService(const QString &Name, quint32 Wait)
{
    return TServiceHelper::Stop(Name, Wait);
}

bool TServices::SetServiceStartType(const QString &Name, TServiceStartType StartType)
{
    return TServiceHelper::SetStartType(Name, StartType);
}

// ---- start-up -----------------------------------------------------------------------------

void EnsureTerminalService()
{
    // No such unit exists on Linux: every step fails at once (each call to the service manager
    // is bounded by a time-out), and the results are ignored.
    const QString name = QStringLiteral("TermService");
    if (!TServices::IsRunning(name)) {
        TServices::SetServiceStartType(name, TServiceStartType::Automatic);
        TServices::StartService(name, TServiceHelper::WAIT_INFINITE);
    }
}
