#include "sysinfo/NetworkMonitor.h"

#include "platform/Logging.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/HandOff.h"
#include "sysinfo/Logging.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"

#include <QDeadlineTimer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using platform::network::AddressRow;
using platform::network::Endpoint;
using platform::network::InterfaceRow;
using platform::network::NetworkSource;

namespace {

QString FileNamePart(const QString &Path)
{
    const qsizetype slash = Path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? Path : Path.mid(slash + 1);
}

QString MACTextOf(const std::array<quint8, 8> &Bytes, quint32 Length)
{
    QStringList parts;
    for (quint32 i = 0; i < Length && i < Bytes.size(); ++i)
        parts << QStringLiteral("%1").arg(Bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char('-'));
}

// The difference of two readings of a counter; a counter that went back was reset and
// counts nothing for this interval.
quint64 CounterDelta(quint64 Now, quint64 Before)
{
    return Now >= Before ? Now - Before : 0;
}

// How long the component's end waits for a worker that is still reading.
constexpr std::chrono::milliseconds kEndWait(500);
// The slice of a bounded wait between looks at what the worker hands over.
constexpr int kWaitSliceMs = 2;

} // namespace

// ---- owning processes ----------------------------------------------------------------------

namespace NetworkMonitor {

QString TProcessHelper::GetProcessPath(quint32 Pid)
{
    NetworkSource &source = platform::network::DefaultNetworkSource();
    platform::processes::ProcStat st;
    if (Pid == 0 || Pid > 0x7FFFFFFFu || !platform::processes::ReadStat(qint32(Pid), st))
        return QString();
    return GetProcessPath(Pid, st.StartTime, source);
}

QString TProcessHelper::GetProcessPath(quint32 Pid, quint64 StartTime, NetworkSource &Source)
{
    const auto path = Source.ProcessPath(Pid, StartTime);
    return path ? NormalizePath(*path) : QString();
}

bool TProcessHelper::TerminateProcess(quint32 Pid, std::optional<quint64> StartTime, TOperationHandOver *HandOver)
{
    return ::TProcessHelper::Terminate(Pid, StartTime, 0, HandOver);
}

} // namespace NetworkMonitor

bool TConnectionItem::Terminate()
{
    return NetworkMonitor::TProcessHelper::TerminateProcess(ProcessID, ProcessStartTime);
}

std::unique_ptr<TConnectionItem> MakeConnectionItem(const TConnectionList &List, quint32 Key)
{
    if (Key >= List.Count())
        return nullptr;
    const TEndpointRecord &r = List.At(Key);
    std::unique_ptr<TConnectionItem> item;
    SYSTEMTIME *created = nullptr;
    if (Key < List.TcpCount()) {
        auto tcp = std::make_unique<TTCPItem>();
        tcp->State = r.State;
        tcp->LocalAddress = r.LocalAddress;
        tcp->LocalPort = r.LocalPort;
        tcp->RemoteAddress = r.RemoteAddress;
        tcp->RemotePort = r.RemotePort;
        created = &tcp->CreateTime;
        item = std::move(tcp);
    } else {
        auto udp = std::make_unique<TUDPItem>();
        udp->LocalAddress = r.LocalAddress;
        udp->LocalPort = r.LocalPort;
        created = &udp->CreateTime;
        item = std::move(udp);
    }
    if (const TConnectionOwner *owner = List.TableOf(Key).OwnerOf(r)) {
        item->HasOwner = true;
        item->ProcessID = owner->ProcessID;
        item->ProcessStartTime = owner->StartTime;
        item->ProcessName = owner->ProcessName;
        item->ProcessPath = owner->ProcessPath;
        item->SystemProcess = owner->SystemProcess;
        *created = owner->CreateTime;
    }
    return item;
}

// ---- the worker ----------------------------------------------------------------------------

struct TNetworkMonitor::TWorker
{
    struct TJob
    {
        TJobKind Kind = TJobKind::Refresh;
        std::function<void()> Work;
        std::function<void()> Apply;
    };

    explicit TWorker(QObject *Context) : HandOff(Context) {}

    // Runs on the worker until Stop: one job after the other, each handing its result over.
    void Run()
    {
        for (;;) {
            TJob job;
            {
                std::unique_lock l(Lock);
                Wake.wait(l, [this] { return Stop || !Jobs.empty(); });
                if (Stop)
                    break;
                job = std::move(Jobs.front());
                Jobs.pop_front();
                ++Running;
            }
            RunJob(job);
            std::lock_guard l(Lock);
            --Running;
        }
        {
            std::lock_guard l(Lock);
            Ended = true;
        }
        EndedCond.notify_all();
    }

    void RunJob(TJob &Job)
    {
        try {
            Job.Work();
        } catch (...) {
            qCWarning(lcSysinfo) << "network reading ended by" << platform::CurrentExceptionText();
        }
        // Runs only while the hand-off is open, that is while the component lives.
        if (Job.Apply)
            HandOff.Synchronize(Job.Apply);
    }

    // Inside a long job, on the worker: the questions about owners and the interface samples that
    // came meanwhile go first.
    void RunUrgent()
    {
        for (;;) {
            TJob job;
            {
                std::lock_guard l(Lock);
                if (Stop)
                    return;
                const auto it = std::find_if(Jobs.begin(), Jobs.end(), [](const TJob &J) {
                    return J.Kind == TJobKind::Owner || J.Kind == TJobKind::Interfaces;
                });
                if (it == Jobs.end())
                    return;
                job = std::move(*it);
                Jobs.erase(it);
            }
            RunJob(job);
        }
    }

    bool Stopping()
    {
        std::lock_guard l(Lock);
        return Stop;
    }

    THandOff HandOff;
    std::mutex Lock;
    std::condition_variable Wake;
    std::condition_variable EndedCond;
    std::deque<TJob> Jobs; // by kind, in the order of TJobKind; within a kind as they came
    int Running = 0;
    bool Stop = false;
    bool Ended = false;
    std::thread Thread;
};

struct TNetworkMonitor::TOwnerQuestion
{
    std::mutex Lock;
    std::condition_variable Answered;
    bool Ready = false;
    TOwnerProgram Answer;
    // The component's thread alone: the question was given up, and what runs when the answer comes.
    bool GaveUp = false;
    std::function<void()> Late;
};

TNetworkMonitor::TWorker &TNetworkMonitor::Worker()
{
    if (!m_Worker) {
        m_Worker = std::make_shared<TWorker>(this);
        // The thread keeps the worker's state alive, the component may go first.
        m_Worker->Thread = std::thread([worker = m_Worker] {
            platform::network::LowerReaderPriority();
            worker->Run();
        });
    }
    return *m_Worker;
}

void TNetworkMonitor::Queue(TJobKind Kind, std::function<void()> Work, std::function<void()> Apply)
{
    Worker();
    const quint64 generation = m_Generation;
    TWorker::TJob job{Kind, std::move(Work), [this, generation, apply = std::move(Apply)] {
                          if (generation == m_Generation && apply)
                              apply();
                      }};
    {
        std::lock_guard l(m_Worker->Lock);
        auto &jobs = m_Worker->Jobs;
        // A list waiting to be read or ordered is read or ordered once, for the latest request.
        if (Kind == TJobKind::Refresh || Kind == TJobKind::Prepare) {
            const auto same =
                std::find_if(jobs.begin(), jobs.end(), [Kind](const TWorker::TJob &J) { return J.Kind == Kind; });
            if (same != jobs.end()) {
                *same = std::move(job);
                return;
            }
        }
        const auto after =
            std::find_if(jobs.begin(), jobs.end(), [Kind](const TWorker::TJob &J) { return J.Kind > Kind; });
        jobs.insert(after, std::move(job));
    }
    m_Worker->Wake.notify_all();
}

bool TNetworkMonitor::Busy() const
{
    if (!m_Worker)
        return false;
    std::lock_guard l(m_Worker->Lock);
    return m_Worker->Running > 0 || !m_Worker->Jobs.empty();
}

// ---- the monitor ---------------------------------------------------------------------------

TNetworkMonitor::TNetworkMonitor(QObject *AOwner, NetworkSource *Source)
    : QObject(AOwner), m_Source(Source ? Source : &platform::network::DefaultNetworkSource())
{}

TNetworkMonitor::~TNetworkMonitor()
{
    if (!m_Worker)
        return;
    TWorker &w = *m_Worker;
    std::deque<TWorker::TJob> dropped;
    {
        std::lock_guard l(w.Lock);
        w.Stop = true;
        dropped.swap(w.Jobs);
    }
    w.Wake.notify_all();
    // A worker waiting to hand something over is let go at once.
    w.HandOff.Close();
    bool ended = false;
    {
        std::unique_lock l(w.Lock);
        ended = w.EndedCond.wait_for(l, kEndWait, [&w] { return w.Ended; });
    }
    // A read that does not return keeps its thread; it ends on its own, holding only its own state.
    if (ended)
        w.Thread.join();
    else
        w.Thread.detach();
}

#if TASKVANE_TEST_SEAMS
void TNetworkMonitor::SetSource(NetworkSource *Source)
{
    m_Source = Source ? Source : &platform::network::DefaultNetworkSource();
    ++m_Generation;
    m_Connections = TConnectionList();
    m_Interfaces.clear();
}
#endif

void TNetworkMonitor::MakeTable(NetworkSource &Source, bool Tcp, const std::vector<Endpoint> &Rows,
                                TEndpointTable &Table, TOwnerCache &Owners, const std::function<void()> &Between)
{
    Table.Rows.reserve(Rows.size());
    QHash<QPair<quint32, quint64>, quint32> owned; // owner -> its index in this table
    TFileProperties properties;
    for (const Endpoint &row : Rows) {
        TEndpointRecord r;
        r.Protocol = Tcp ? 0 : 1;
        r.LocalAddress = row.Row.LocalAddress;
        r.LocalPort = quint16(row.Row.LocalPort);
        if (Tcp) {
            r.State = row.Row.State;
            r.RemoteAddress = row.Row.RemoteAddress;
            r.RemotePort = quint16(row.Row.RemotePort);
        }
        // Time wait, a kernel socket or another user's: no process to show.
        if (row.Owned) {
            const auto key = qMakePair(row.Owner.Pid, row.Owner.StartTime);
            auto at = owned.constFind(key);
            if (at == owned.cend()) {
                auto known = Owners.constFind(key);
                if (known == Owners.cend()) {
                    TConnectionOwner o;
                    o.ProcessID = row.Owner.Pid;
                    o.StartTime = row.Owner.StartTime;
                    const bool kernel = Source.IsKernelProcess(o.ProcessID);
                    o.SystemProcess = o.ProcessID == 0 || kernel;
                    o.ProcessPath = kernel
                        ? QStringLiteral("System")
                        : NetworkMonitor::TProcessHelper::GetProcessPath(o.ProcessID, row.Owner.StartTime, Source);
                    o.ProcessName = FileNamePart(o.ProcessPath);
                    if (const auto start = Source.ProcessStart(o.ProcessID, row.Owner.StartTime))
                        o.CreateTime = platform::LocalSystemTime(start->Seconds, start->Nanoseconds);
                    // The icon of the file the owner runs, opened through the process, never what
                    // its path names.
                    if (!o.SystemProcess && !kernel &&
                        properties.LoadFromImage(Source.OpenOwnerImage(o.ProcessID, row.Owner.StartTime), o.ProcessPath,
                                                 QString()))
                        o.IconIndex = properties.GeneralInfo()->IconIndex;
                    properties.Clear();
                    known = Owners.insert(key, o);
                    if (Between)
                        Between();
                }
                Table.Owners.push_back(*known);
                at = owned.insert(key, quint32(Table.Owners.size() - 1));
            }
            r.Owner = *at;
        }
        Table.Rows.push_back(r);
    }
}

void TNetworkMonitor::RefreshTCP()
{
    auto table = std::make_shared<TEndpointTable>();
    try {
        std::vector<Endpoint> rows;
        TOwnerCache owners;
        if (m_Source->TcpEndpoints(rows))
            MakeTable(*m_Source, true, rows, *table, owners);
    } catch (...) {
        // A failed row ends the refresh with what was taken so far.
        qCWarning(lcSysinfo) << "TCP table refresh ended by" << platform::CurrentExceptionText();
    }
    m_Connections.Tcp = std::move(table);
}

void TNetworkMonitor::RefreshUDP()
{
    auto table = std::make_shared<TEndpointTable>();
    try {
        std::vector<Endpoint> rows;
        TOwnerCache owners;
        if (m_Source->UdpEndpoints(rows))
            MakeTable(*m_Source, false, rows, *table, owners);
    } catch (...) {
        // As for TCP: the refresh ends quietly with what was taken so far.
        qCWarning(lcSysinfo) << "UDP table refresh ended by" << platform::CurrentExceptionText();
    }
    m_Connections.Udp = std::move(table);
}

void TNetworkMonitor::RefreshInBackground(TPrepare Prepare, TPrepared Done)
{
    struct TResult
    {
        TConnectionList List;
        std::vector<quint32> Prepared;
    };
    auto result = std::make_shared<TResult>();
    // The work touches nothing of the component's: it may be gone before the work ends.
    Queue(
        TJobKind::Refresh,
        [result, source = m_Source, worker = &Worker(), prepare = std::move(Prepare)] {
            std::vector<Endpoint> tcpRows, udpRows;
            bool tcpRead = false, udpRead = false;
            source->Endpoints(tcpRows, tcpRead, udpRows, udpRead);
            const auto between = [worker] { worker->RunUrgent(); };
            between();
            auto tcp = std::make_shared<TEndpointTable>();
            auto udp = std::make_shared<TEndpointTable>();
            TOwnerCache owners;
            if (tcpRead)
                MakeTable(*source, true, tcpRows, *tcp, owners, between);
            std::vector<Endpoint>().swap(tcpRows);
            if (udpRead)
                MakeTable(*source, false, udpRows, *udp, owners, between);
            std::vector<Endpoint>().swap(udpRows);
            between();
            if (worker->Stopping())
                return;
            result->List.Tcp = std::move(tcp);
            result->List.Udp = std::move(udp);
            if (prepare)
                result->Prepared = prepare(result->List);
        },
        [this, result, done = std::move(Done)] {
            m_Connections = result->List;
            if (done)
                done(result->Prepared);
        });
}

void TNetworkMonitor::PrepareInBackground(std::function<std::vector<quint32>()> Prepare, TPrepared Done)
{
    auto prepared = std::make_shared<std::vector<quint32>>();
    Queue(
        TJobKind::Prepare,
        [prepared, prepare = std::move(Prepare)] {
            if (prepare)
                *prepared = prepare();
        },
        [prepared, done = std::move(Done)] {
            if (done)
                done(*prepared);
        });
}

// ---- interfaces --------------------------------------------------------------------------

TNetworkMonitor::TInterfaceReading TNetworkMonitor::ReadInterfaces(NetworkSource &Source)
{
    TInterfaceReading reading;
    reading.Read = Source.Interfaces(reading.Rows) && !reading.Rows.empty();
    if (reading.Read)
        reading.AddressesRead = Source.Addresses(reading.Addresses);
    return reading;
}

void TNetworkMonitor::ApplyInterfaces(const TInterfaceReading &Reading)
{
    if (!Reading.Read)
        return;
    // Rows are matched to items by interface index, so that an interface that comes or
    // goes does not mix the counters of the others.
    std::vector<std::unique_ptr<TNetInterface>> added;
    for (const InterfaceRow &row : Reading.Rows) {
        TNetInterface *item = nullptr;
        for (const auto &i : m_Interfaces) {
            if (i->InterfaceIndex == row.Index) {
                item = i.get();
                break;
            }
        }
        if (!item) {
            for (const auto &i : added) {
                if (i->InterfaceIndex == row.Index)
                    item = i.get(); // a table that lists an index twice
            }
        }
        if (!item) {
            added.push_back(std::make_unique<TNetInterface>());
            item = added.back().get();
        }
        item->InterfaceIndex = row.Index;
        item->Name = row.Name;
        item->Description = row.Description;
        item->InterfaceType = row.Type;
        item->OperStatus = row.OperStatus;
        item->PhysAddress = row.PhysAddress;
        item->MACText = MACTextOf(row.PhysAddress, row.PhysLength);
        item->OutOctets = row.OutOctets;
        item->InOctets = row.InOctets;
        if (!item->FirstPass) {
            item->OutDelta = CounterDelta(item->OutOctets, item->PrevOutOctets);
            item->InDelta = CounterDelta(item->InOctets, item->PrevInOctets);
        } else {
            item->FirstPass = false;
        }
        item->PrevOutOctets = item->OutOctets;
        item->PrevInOctets = item->InOctets;
    }
    for (auto &i : added)
        m_Interfaces.push_back(std::move(i));

    if (!Reading.AddressesRead || Reading.Addresses.empty() || m_Interfaces.empty())
        return;
    for (const auto &item : m_Interfaces) {
        for (const AddressRow &a : Reading.Addresses) {
            if (a.Index == item->InterfaceIndex) {
                item->IPAddress = a.Address;
                break;
            }
        }
    }
}

void TNetworkMonitor::RefreshInterfaces()
{
    try {
        ApplyInterfaces(ReadInterfaces(*m_Source));
    } catch (...) {
        // The interfaces keep what they had; nothing is raised to the pages.
        qCWarning(lcSysinfo) << "interface table refresh ended by" << platform::CurrentExceptionText();
    }
}

void TNetworkMonitor::RefreshInterfacesInBackground(std::function<void()> Done)
{
    auto reading = std::make_shared<TInterfaceReading>();
    Queue(
        TJobKind::Interfaces, [reading, source = m_Source] { *reading = ReadInterfaces(*source); },
        [this, reading, done = std::move(Done)] {
            ApplyInterfaces(*reading);
            if (done)
                done();
        });
}

// ---- owners' programs ----------------------------------------------------------------------

namespace {

// An owner whose program can be read: a process of its own, not the idle process or a kernel thread.
bool HasOwnProgram(const TConnectionItem &Item)
{
    return Item.HasOwner && Item.ProcessID != 0 && Item.ProcessStartTime && Item.ProcessPath != QLatin1String("System");
}

QString ImagePathOf(NetworkSource &Source, quint32 Pid, quint64 StartTime, const QString &Path)
{
    if (Path.isEmpty())
        return QString();
    return Source.OwnerPathIsImage(Pid, StartTime, Path) ? Path : QString();
}

} // namespace

bool TNetworkMonitor::Terminate(const TConnectionItem &Item, int WaitMs)
{
    if (!m_Terminations)
        m_Terminations = std::make_unique<TProcessReaders>(4, 2);
    const quint32 pid = Item.ProcessID;
    const std::optional<quint64> start = Item.ProcessStartTime;
    auto handOver = std::make_shared<TOperationHandOver>();
    auto job = m_Terminations->Ask<bool>(
        {qint32(pid), start.value_or(0)}, 0, 0, QString(),
        [handOver, pid, start] {
            // Whatever way it leaves, the caller hears of it.
            struct TFinish
            {
                TOperationHandOver &HandOver;
                bool Result = false;
                ~TFinish() { HandOver.Finish(Result); }
            } finish{*handOver};
            if (!handOver->GivenUp())
                finish.Result = NetworkMonitor::TProcessHelper::TerminateProcess(pid, start, handOver.get());
            return std::optional<bool>(finish.Result);
        },
        TProcessReaders::TReuse::Never, true);
    const bool result = handOver->Wait(WaitMs);
    // A termination given up before it ran is let go when it has.
    if (job->Done())
        m_Terminations->Forget(job);
    else
        m_Terminations->ForgetProcess({qint32(pid), start.value_or(0)});
    return result;
}

std::optional<TOwnerProgram> TNetworkMonitor::OwnerProgram(const TConnectionItem &Item, bool WithVersion, int WaitMs,
                                                           const std::function<void()> &Late)
{
    if (!HasOwnProgram(Item))
        return TOwnerProgram();
    const auto key = qMakePair(Item.ProcessID, *Item.ProcessStartTime);
    if (const auto late = m_LateAnswers.constFind(key); late != m_LateAnswers.cend())
        return *late;

    auto question = std::make_shared<TOwnerQuestion>();
    Queue(
        TJobKind::Owner,
        [question, source = m_Source, pid = Item.ProcessID, start = *Item.ProcessStartTime, path = Item.ProcessPath,
         WithVersion] {
            TOwnerProgram answer;
            answer.Facts = source->OwnerImageFacts(pid, start);
            if (WithVersion) {
                TFileProperties properties;
                properties.LoadFromImage(source->OpenOwnerImage(pid, start), path,
                                         ImagePathOf(*source, pid, start, path));
                const TVersionInfo &v = *properties.VersionInfo();
                answer.ProductName = v.ProductName;
                answer.FileDescription = v.FileDescription;
                answer.CompanyName = v.CompanyName;
                answer.LegalCopyright = v.LegalCopyright;
            }
            {
                std::lock_guard l(question->Lock);
                question->Answer = std::move(answer);
                question->Ready = true;
            }
            question->Answered.notify_all();
        },
        [this, question, key] {
            if (!question->GaveUp || !question->Late)
                return;
            // Kept only until the late handler has run: it asks again and takes it. It runs from the
            // event loop, never inside another question's wait.
            m_LateAnswers.insert(key, question->Answer);
            QMetaObject::invokeMethod(
                this,
                [this, question, key] {
                    question->Late();
                    m_LateAnswers.remove(key);
                },
                Qt::QueuedConnection);
        });

    // The worker may be handing something over meanwhile: that is applied while waiting, so that
    // the answer is not held up behind it.
    const QDeadlineTimer deadline(WaitMs);
    std::unique_lock l(question->Lock);
    while (!question->Ready && !deadline.hasExpired()) {
        question->Answered.wait_for(l, std::chrono::milliseconds(qMin<qint64>(kWaitSliceMs, deadline.remainingTime())));
        if (question->Ready)
            break;
        l.unlock();
        m_Worker->HandOff.ServePending();
        l.lock();
    }
    if (question->Ready)
        return question->Answer;
    question->GaveUp = true;
    question->Late = Late;
    return std::nullopt;
}

int TNetworkMonitor::GetTCPCount() const
{
    return int(m_Connections.TcpCount());
}

int TNetworkMonitor::GetUDPCount() const
{
    return int(m_Connections.Udp->Rows.size());
}

int TNetworkMonitor::GetInterfaceCount() const
{
    return int(m_Interfaces.size());
}

std::unique_ptr<TTCPItem> TNetworkMonitor::GetTCPItem(int Index) const
{
    if (quint32(Index) >= m_Connections.TcpCount())
        return nullptr;
    return std::unique_ptr<TTCPItem>(
        static_cast<TTCPItem *>(MakeConnectionItem(m_Connections, quint32(Index)).release()));
}

std::unique_ptr<TUDPItem> TNetworkMonitor::GetUDPItem(int Index) const
{
    if (quint32(Index) >= m_Connections.Udp->Rows.size())
        return nullptr;
    return std::unique_ptr<TUDPItem>(static_cast<TUDPItem *>(
        MakeConnectionItem(m_Connections, m_Connections.TcpCount() + quint32(Index)).release()));
}

TNetInterface *TNetworkMonitor::GetInterface(int Index) const
{
    return quint32(Index) < m_Interfaces.size() ? m_Interfaces[quint32(Index)].get() : nullptr;
}
