#include "sysinfo/Processes.h"

#include "platform/Logging.h"
#include "platform/files/NameBytes.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/ProcessActions.h"
#include "platform/shell/Shell.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/HandOff.h"
#include "sysinfo/Logging.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/ReadingWorker.h"
#include "sysinfo/Services.h"
#include "sysinfo/Utils.h"

#include <QCoreApplication>
#include <QSet>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

using platform::processes::ImageFacts;
using platform::processes::ProcessEntry;
using platform::processes::ProcessHandle;
using platform::processes::ProcessSource;
using platform::processes::ProcStat;

namespace {

// The worker of the start-up check, owned by the application: a manager slow to answer holds
// neither the start nor the window, and the end waits for it a moment only.
class TUnitStart : public QObject
{
public:
    explicit TUnitStart(QObject *Application) : QObject(Application), Worker(this) {}
    TReadingWorker Worker;
};

} // namespace

void ProcessesUnitInitialization()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        EnsureTerminalService();
        return;
    }
    auto *start = new TUnitStart(app);
    // Gone before the application's end routines, which wait for a check left behind.
    QObject::connect(app, &QCoreApplication::aboutToQuit, start, [start] { delete start; });
    start->Worker.Start([] {
        EnsureTerminalService();
        return TReadingWorker::TApply();
    });
}

namespace {

// "\??\", "\SystemRoot\" or a drive letter at the start. On Linux these characters are
// ordinary ones anywhere in a file name or an argument, so nothing else is touched.
bool StartsInWindowsForm(const QString &Path)
{
    if (Path.startsWith(QLatin1String("\\??\\")) ||
        Path.startsWith(QLatin1String("\\SystemRoot\\"), Qt::CaseInsensitive))
        return true;
    if (Path.size() < 3)
        return false;
    const char16_t drive = Path[0].unicode();
    const bool letter = (drive >= u'a' && drive <= u'z') || (drive >= u'A' && drive <= u'Z');
    return letter && Path[1] == QLatin1Char(':') && Path[2] == QLatin1Char('\\');
}

} // namespace

QString NormalizePath(const QString &Path)
{
    if (!StartsInWindowsForm(Path))
        return Path;
    QString s = Path;
    s.replace(QStringLiteral("\\??\\"), QString(), Qt::CaseInsensitive);
    QString systemDir;
    GetSystemDir(systemDir);
    s.replace(QStringLiteral("\\SystemRoot\\System32\\"), systemDir, Qt::CaseInsensitive);
    s.replace(QStringLiteral("c:\\"), QStringLiteral("C:\\"), Qt::CaseInsensitive);
    s.replace(QStringLiteral("\\program files\\"), QStringLiteral("\\Program Files\\"), Qt::CaseInsensitive);
    return s;
}

namespace {

// Round to nearest, halves to even.
double RoundEven(double V)
{
    return std::nearbyint(V);
}

// Clock ticks as 100-nanosecond units, as ProcessSource::TicksTo100ns counts them.
quint64 TicksTo100ns(long TicksPerSecond, quint64 Ticks)
{
    if (TicksPerSecond <= 0)
        return 0;
    const quint64 hz = quint64(TicksPerSecond);
    return Ticks / hz * 10000000ull + Ticks % hz * 10000000ull / hz;
}

qint64 TicksToMs(long TicksPerSecond, quint64 Ticks)
{
    const quint64 v = TicksTo100ns(TicksPerSecond, Ticks);
    quint64 q = v / 10000;
    const quint64 r = v % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    return qint64(q);
}

} // namespace

// ---- TProcessMemory / TProcessTime -------------------------------------------------------

void TProcessMemory::Store(quint64 WorkingSet, quint64 Pagefile)
{
    const bool first = Owner->Owner->FirstPass;
    auto delta = [first](quint64 Now, quint64 Before) { return first ? qint64(0) : qint64(Now) - qint64(Before); };
    WorkingSetDelta = delta(WorkingSet, WorkingSetSize);
    PagefileDelta = delta(Pagefile, PagefileUsage);
    WorkingSetSize = WorkingSet;
    PeakWorkingSetSize = qMax(PeakWorkingSetSize, WorkingSet);
    PagefileUsage = Pagefile;
    PeakPagefileUsage = qMax(PeakPagefileUsage, Pagefile);
    // The faults of this pass come with its stat line; other readings leave them as they were.
    TProcessItem *item = Owner;
    if (item->m_SamplePass != 0 && item->m_SamplePass == item->Owner->m_Pass)
        PageFaultCount = item->m_SampleFaults;
    item->m_MemoryPass = item->Owner->m_Pass;
}

void TProcessMemory::Refresh()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    const auto m = item->Source().Resident(item->ProcessHandle, item->m_StatmInode);
    if (!m)
        return;
    Take(*m);
}

void TProcessMemory::Take(const platform::processes::ResidentMemory &Read)
{
    Store(Read.Resident, Read.Resident - qMin(Read.Shared, Read.Resident));
}

void TProcessMemory::RefreshAll()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    ProcessSource &src = item->Source();
    const auto m = src.Memory(item->ProcessHandle);
    if (!m)
        return;
    std::optional<quint64> faults;
    if (item->m_SamplePass == 0 || item->m_SamplePass != item->Owner->m_Pass) {
        if (const auto st = src.Stat(item->ProcessHandle))
            faults = st->Minflt + st->Majflt;
    }
    TakeAll(*m, faults);
}

void TProcessMemory::TakeAll(const platform::processes::MemoryStatus &Read, std::optional<quint64> Faults)
{
    TProcessItem *item = Owner;
    const bool first = item->Owner->FirstPass;
    auto delta = [first](quint64 Now, quint64 Before) { return first ? qint64(0) : qint64(Now) - qint64(Before); };
    PagedPoolDelta = delta(Read.VmPte, PagedPoolUsage);
    NonPagedPoolDelta = delta(Read.VmLck, NonPagedPoolUsage);
    PagedPoolUsage = Read.VmPte;
    PeakPagedPoolUsage = qMax(PeakPagedPoolUsage, Read.VmPte);
    NonPagedPoolUsage = Read.VmLck;
    PeakNonPagedPoolUsage = qMax(PeakNonPagedPoolUsage, Read.VmLck);
    Store(Read.VmRss, Read.RssAnon);
    // The kernel's own mark holds peaks no tick saw.
    PeakWorkingSetSize = qMax(PeakWorkingSetSize, Read.VmHwm);
    if (Faults && (item->m_SamplePass == 0 || item->m_SamplePass != item->Owner->m_Pass))
        PageFaultCount = *Faults;
}

std::optional<TProcessTime::TRead> TProcessTime::Read(ProcessSource &Source, const ProcessHandle &Handle)
{
    if (!Handle)
        return std::nullopt;
    const auto st = Source.Stat(Handle);
    if (!st)
        return std::nullopt;
    TRead r;
    r.Stat = *st;
    r.TicksPerSecond = Source.ClockTicksPerSecond();
    r.BootTime = Source.BootTimeSeconds();
    r.NowNs = Source.RealtimeNowNs();
    return r;
}

void TProcessTime::Refresh()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    if (const auto r = Read(item->Source(), item->ProcessHandle))
        Take(*r);
}

void TProcessTime::Take(const TRead &Read)
{
    const long hz = Read.TicksPerSecond;
    KernelTime = TicksToMs(hz, Read.Stat.Stime);
    UserTime = TicksToMs(hz, Read.Stat.Utime);
    if (Read.BootTime <= 0 || hz <= 0)
        return;
    const quint64 since = TicksTo100ns(hz, Read.Stat.StartTime); // 100 ns after boot
    StartTime =
        platform::LocalSystemTime(Read.BootTime + qint64(since / 10000000ull), quint32(since % 10000000ull) * 100u);
    const qint64 now = Read.NowNs;
    const SYSTEMTIME local = platform::LocalSystemTime(now / 1000000000ll, quint32(now % 1000000000ll));
    GetTimeSpan(StartTime, local, RunTime);
}

// ---- TProcessItem ------------------------------------------------------------------------

TProcessItem::TProcessItem(TProcesses *AOwner)
    : Owner(AOwner), Memory(std::make_unique<TProcessMemory>(this)), Times(std::make_unique<TProcessTime>(this)),
      IO(std::make_unique<TProcessIO>(this))
{}

TProcessItem::~TProcessItem() = default;

ProcessSource &TProcessItem::Source() const
{
    return Owner->Source();
}

void TProcessItem::TakeSample(const ProcessEntry &Entry, quint64 Pass)
{
    if (!Entry.HasTimes)
        return;
    m_SamplePass = Pass;
    m_SampleTicks = Entry.CpuTicks;
    m_SampleFaults = Entry.Faults;
}

platform::processes::ProcessHandle TProcessItem::Identity() const
{
    if (ProcessHandle)
        return ProcessHandle;
    return platform::processes::ProcessHandle{qint32(ProcessID), m_StartTime, true};
}

unsigned TProcessItem::ChangesIn(const ProcessEntry &Entry) const
{
    unsigned changes = 0;
    if (!Entry.NameIs(m_NameBytes))
        changes |= NameChanged;
    if (Entry.Layout.Known() && m_Layout.Known() && !(Entry.Layout == m_Layout))
        changes |= ImageChanged;
    // An exact uid is compared as it is; the directory's owner only when it moved, so
    // that a disagreement between the two never costs a read on every pass.
    if (Entry.Uid ? (UserSid && *Entry.Uid != *UserSid) : (Entry.OwnerUid && Entry.OwnerUid != m_OwnerUid))
        changes |= OwnerChanged;
    if (Entry.ProcInode && m_ProcInode && Entry.ProcInode != m_ProcInode)
        changes |= EntryChanged;
    return changes;
}

void TProcessItem::SetName(const ProcessEntry &Entry)
{
    m_NameBytes = Entry.NameBytes();
    Name = Entry.DisplayName();
    if (m_NameBytes.size() != 15 || IsSystemProcess())
        return;
    // The kernel keeps 15 bytes of a program's name: the program file, or failing that the
    // first argument, tells the whole of it. Bytes are compared, since the cut may fall
    // inside a character.
    for (const QString &whole : {Path, m_FirstArgument}) {
        const QString file = whole.section(QLatin1Char('/'), -1);
        const QByteArray bytes = file.toUtf8();
        if (bytes.size() > m_NameBytes.size() && bytes.startsWith(m_NameBytes)) {
            Name = file;
            return;
        }
    }
    if (!Entry.Name.isEmpty())
        return;
    // No whole name to be had: a character cut in two is left out, not shown as a mark.
    qsizetype keep = m_NameBytes.size();
    for (qsizetype i = keep - 1; i >= 0 && i >= keep - 4; --i) {
        const uchar c = uchar(m_NameBytes[i]);
        if ((c & 0xC0) == 0x80)
            continue; // inside a character
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (i + length > keep)
            keep = i;
        break;
    }
    Name = platform::files::DecodeNameBytes(m_NameBytes.left(keep));
}

bool TProcessItem::ReadUserAgain(const ProcessEntry &Entry)
{
    const auto uid = Entry.Uid ? Entry.Uid : Source().Uid(ProcessHandle);
    if (!uid || uid == UserSid)
        return false;
    UserSid = uid;
    UserName.clear();
    Domain.clear();
    ReadUserName();
    return true;
}

bool TProcessItem::Reload(const ProcessEntry &Entry, unsigned Changes)
{
    // A new name with the same layout is a rename; where the layout cannot be seen, a new
    // name may as well be a new program, and everything is read again. So is a new /proc
    // entry where pidfds have no inodes: it may be another process nothing else tells
    // apart. Kernel threads have no program: for them a new name is only a name.
    const bool image = !IsSystemProcess() &&
        ((Changes & ImageChanged) || ((Changes & NameChanged) && !(Entry.Layout.Known() && m_Layout.Known())) ||
         ((Changes & EntryChanged) && ProcessHandle.Inode == 0));
    if (image) {
        // What cannot be read of the new program stays empty rather than the old one's.
        Path.clear();
        CommandLine.clear();
        m_FirstArgument.clear();
        ReadImagePath();
        ReadCommandLine();
        ReadIcon();
    }
    if (Changes & (NameChanged | ImageChanged)) {
        SetName(Entry);
        m_Layout = Entry.Layout;
    }
    bool userChanged = false;
    if (image || (Changes & OwnerChanged))
        userChanged = ReadUserAgain(Entry); // a set-user-ID program changes both
    if (image) {
        // What is missing now is retried as for a new item, an exhausted item included.
        if (Path.isEmpty() || CommandLine.isEmpty() || UserName.isEmpty())
            DetailsComplete = false;
        if (!DetailsComplete && FillAttempts > 1)
            FillAttempts = 1;
    }
    return image || (Changes & (NameChanged | ImageChanged)) || userChanged;
}

void TProcessItem::UpdateCPUUsage()
{
    CPUUsage = 0;
    ProcessSource &src = Source();
    const double now = double(src.MonotonicNow());
    const double elapsed = (now - LastSystemTime) * double(Owner->ProcessorCount);
    if (ProcessID != 0) {
        if (!ProcessHandle)
            return;
        quint64 ticks = 0;
        if (m_SamplePass != 0 && m_SamplePass == Owner->m_Pass) {
            ticks = m_SampleTicks;
        } else if (const auto st = src.Stat(ProcessHandle)) {
            ticks = st->Utime + st->Stime;
        } else {
            return;
        }
        const double processTime = double(src.TicksTo100ns(ticks));
        if (LastSystemTime > 0 && elapsed != 0) {
            const double used = processTime - LastProcessTime;
            // Clamped, not wrapped: 150 is 100, not 49.
            CPUUsage = int(qBound(0.0, RoundEven(100.0 * used / elapsed), 100.0));
        }
        LastSystemTime = now;
        LastProcessTime = processTime;
        return;
    }
    const auto idle = src.IdleTime();
    if (!idle)
        return;
    const double idleTime = double(*idle);
    if (LastSystemTime > 0 && elapsed != 0) {
        const double used = idleTime - LastIdleTime;
        CPUUsage = int(qBound(0.0, RoundEven(100.0 * used / elapsed), 99.0));
    }
    LastSystemTime = now;
    LastIdleTime = idleTime;
}

void TProcessItem::CompleteDetails()
{
    if (IsSystemProcess())
        return;
    if (FillAttempts == 0) {
        FillAttempts = 1;
        return;
    }
    if (DetailsComplete || m_ReloadPass == Owner->m_Pass)
        return;
    // A read that waits on the process is no attempt that failed: its answer completes the item.
    if (Owner->ReadsPending(*this))
        return;
    if (FillAttempts > 5) {
        if (Owner->OnProcessReloaded)
            Owner->OnProcessReloaded(Owner, ProcessID);
        return;
    }
    bool tried = false;
    bool incomplete = false;
    if (!ProcessHandle) {
        tried = true;
        if (const auto h = Source().Open(ProcessID, m_StartTime))
            ProcessHandle = *h;
        if (!ProcessHandle)
            incomplete = true;
    }
    if (UserName.isEmpty() || Domain.isEmpty()) {
        tried = true;
        if (!UserSid)
            ReadTokenUser();
        ReadUserName();
        if (UserName.isEmpty() || Domain.isEmpty())
            incomplete = true;
    }
    if (Path.isEmpty()) {
        tried = true;
        ReadImagePath();
        if (Path.isEmpty())
            incomplete = true;
    }
    if (CommandLine.isEmpty()) {
        tried = true;
        ReadCommandLine();
        if (CommandLine.isEmpty())
            incomplete = true;
    }
    ReadIcon();
    if (!incomplete) {
        DetailsComplete = true;
        if (tried && Owner->OnProcessReloaded)
            Owner->OnProcessReloaded(Owner, ProcessID);
    } else {
        ++FillAttempts;
    }
}

void TProcessItem::ReadTokenUser()
{
    if (const auto uid = Source().Uid(ProcessHandle))
        UserSid = *uid;
}

void TProcessItem::ReadParentPID()
{
    if (const auto st = Source().Stat(ProcessHandle))
        ParentProcessID = quint32(st->ParentPid);
}

void TProcessItem::ReadSessionID()
{
    if (const auto st = Source().Stat(ProcessHandle))
        SessionID = quint32(qMax(0, st->Session));
}

void TProcessItem::ReadUserName()
{
    if (!ProcessHandle || !UserSid)
        return; // nothing to look up: left empty, to be retried
    bool pending = false;
    const auto name = Owner->AccountName(*UserSid, &pending);
    if (pending)
        return; // the name service has not answered: left as it is, to be retried
    // An account without a name shows its number, as ps does.
    UserName = name.value_or(QString::number(*UserSid));
    Domain = Source().DomainName();
}

void TProcessItem::ReadImagePath()
{
    if (!ProcessHandle || IsSystemProcess())
        return;
    if (const auto exe = Source().ExePath(ProcessHandle); exe && !exe->isEmpty())
        Path = NormalizePath(*exe);
}

void TProcessItem::ReadCommandLine()
{
    if (!ProcessHandle || IsSystemProcess())
        return;
    bool rawSingle = false;
    const auto args = Source().Cmdline(ProcessHandle, &rawSingle);
    if (!args || args->isEmpty())
        return;
    m_FirstArgument = args->first();
    QString text;
    // A process that rewrote its own title leaves one string with no separators; it is
    // shown as written. A single argument that is the program file itself is quoted.
    if (rawSingle && args->size() == 1 && args->first().contains(QLatin1Char(' ')) && args->first() != Path)
        text = args->first();
    else
        text = platform::processes::JoinCommandLine(*args);
    if (!text.isEmpty())
        CommandLine = NormalizePath(text);
}

QString TProcessItem::ImagePath() const
{
    if (!ProcessHandle || IsSystemProcess() || Path.trimmed().isEmpty())
        return QString();
    return Source().PathIsImage(ProcessHandle, Path) ? Path : QString();
}

int TProcessItem::OpenImage()
{
    if (!ProcessHandle || IsSystemProcess())
        return -1;
    return Source().OpenImage(ProcessHandle);
}

std::optional<platform::files::FileIdentity> TProcessItem::ImageIdentity()
{
    if (!ProcessHandle || IsSystemProcess())
        return std::nullopt;
    return Source().ImageIdentity(ProcessHandle);
}

platform::processes::ImageOnPath TProcessItem::ImageAndPath()
{
    if (!ProcessHandle || IsSystemProcess())
        return {};
    return Source().ImageAndPath(ProcessHandle, Path.trimmed().isEmpty() ? QString() : Path);
}

std::optional<platform::processes::ImageFacts> TProcessItem::ImageFacts()
{
    if (!ProcessHandle || IsSystemProcess())
        return std::nullopt;
    return Source().ImageFactsOf(ProcessHandle);
}

void TProcessItem::ReadIcon()
{
    Icon.clear();
    IconIndex = -1;
    if (IsSystemProcess() || Path.trimmed().isEmpty() || !ProcessHandle)
        return;
    const auto icon = Owner->IconOf(ProcessHandle, Path);
    Icon = icon.first;
    IconIndex = icon.second;
}

bool TProcessItem::MemoryCurrent() const
{
    return m_MemoryPass != 0 && m_MemoryPass == Owner->m_Pass;
}

int TProcessItem::GetHandleCount()
{
    if (!ProcessHandle)
        return 0;
    return qMax(0, Source().FdCount(ProcessHandle));
}

int TProcessItem::GetThreadCount()
{
    if (!ProcessHandle)
        return 0;
    const auto st = Source().Stat(ProcessHandle);
    return st ? qMax(0, st->NumThreads) : 0;
}

int TProcessItem::GetModuleCount()
{
    if (!ProcessHandle)
        return 0;
    return qMax(0, Source().ModuleCount(ProcessHandle));
}

quint32 TProcessItem::GetPriority()
{
    if (!ProcessHandle)
        return 0;
    const auto s = Source().Sched(ProcessHandle);
    return s ? TProcessHelper::PriorityClassOf(s->Policy, s->Nice) : 0;
}

bool TProcessItem::GetAffinity(quint32 CPUIndex)
{
    if (CPUIndex >= Owner->ProcessorCount || !ProcessHandle)
        return false;
    const auto mask = Source().Affinity(ProcessHandle);
    // The whole CPU set: no index is folded onto another.
    return mask && CPUIndex < mask->size() && (*mask)[CPUIndex];
}

void TProcessItem::Suspend()
{
    TProcessHelper::Suspend(ProcessID, m_StartTime, ProcessHandle.Inode);
}

void TProcessItem::Resume()
{
    TProcessHelper::Resume(ProcessID, m_StartTime, ProcessHandle.Inode);
}

bool TProcessItem::Terminate()
{
    return TProcessHelper::Terminate(ProcessID, m_StartTime, ProcessHandle.Inode);
}

bool TProcessItem::TerminateTree()
{
    return TProcessHelper::TerminateTree(ProcessID, m_StartTime, ProcessHandle.Inode);
}

bool TProcessItem::TerminateAndDelete()
{
    return TProcessHelper::TerminateAndDelete(ProcessID, m_StartTime, ProcessHandle.Inode);
}

bool TProcessItem::SetPriority(quint16 PriorityClass)
{
    return TProcessHelper::SetPriority(ProcessID, PriorityClass, m_StartTime, ProcessHandle.Inode);
}

bool TProcessItem::SetAffinity(quint32 CPUIndex, bool Enabled)
{
    return TProcessHelper::SetAffinity(ProcessID, CPUIndex, Enabled, m_StartTime, ProcessHandle.Inode);
}

// ---- What a background pass read ------------------------------------------------------------

namespace {

// The kinds of the reads handed to the readers.
enum TReadKind : int {
    rkProcess = 1,
    rkAccount,
    rkFacts,
    rkImagePath,
    rkDetails,
    rkAction,
    rkPriority,
    rkAffinity,
};

struct TCommandLineRead
{
    QStringList Args;
    bool RawSingle = false;
};

using TIconRead = QPair<QString, int>;

// What a pass asks a reader to read of one process, in one read: its command line, the icon of
// its file (by the path given), and for process 1 the facts of its program.
struct TProcessRead
{
    std::optional<TCommandLineRead> CommandLine;
    TIconRead Icon{QString(), -1};
    std::optional<ImageFacts> Init;
};

using TKey = QPair<qint32, quint64>;

TKey KeyOf(const ProcessHandle &Handle)
{
    return {Handle.Pid, Handle.StartTime};
}

TProcessReaders::TKey ReaderKey(const ProcessHandle &Handle)
{
    return {Handle.Pid, Handle.StartTime};
}

// The readers' key of a user's name look-up: no process has a negative identifier.
TProcessReaders::TKey AccountKey(quint32 Uid)
{
    return {-1, Uid};
}

// Pins a pass hands over to the readers with the reads of new processes, open at once at most.
constexpr int kPinsShared = 256;

// A pass waits for the reads it asked while they come in; a read that makes it wait this long
// with nothing else coming in is one that waits on its process, and the pass goes on without it.
constexpr auto kReadStall = std::chrono::milliseconds(250);
constexpr auto kReadsAtMost = std::chrono::milliseconds(2000);

} // namespace

// What the worker read for one pass, served to the items through the reads that a pass on the
// calling thread makes, so that the pass taken in runs as that one does without reading
// anything. What was not read answers as a read that failed.
class TPassReads : public ProcessSource
{
public:
    QHash<TKey, std::optional<ProcessHandle>> Opened;
    QHash<TKey, bool> Alive;
    QHash<TKey, std::optional<ProcStat>> Stats;
    QHash<TKey, std::optional<quint32>> Uids;
    QHash<TKey, std::optional<QString>> Exes;
    QHash<TKey, std::optional<TCommandLineRead>> CommandLines;
    QHash<TKey, QPair<QString, TIconRead>> Icons; // by the path the icon is of
    QHash<quint32, std::optional<QString>> Accounts;
    QSet<quint32> AccountsPending;
    QSet<TKey> Pending; // processes with reads on a reader still
    std::optional<QString> InitPath;
    quint64 Now = 0;
    std::optional<quint64> Idle;
    long TicksPerSecond = 0;
    QString Domain;

    bool EnumeratePrimary(std::vector<ProcessEntry> &) override { return false; }
    bool EnumerateFallback(std::vector<ProcessEntry> &) override { return false; }
    std::optional<ProcessHandle> Open(quint32 Pid, quint64 StartTime) override
    {
        return Opened.value({qint32(Pid), StartTime});
    }
    // Only a process found changed is asked: what was not asked is alive.
    bool IsAlive(const ProcessHandle &Handle) override { return Alive.value(KeyOf(Handle), true); }
    std::optional<ProcStat> Stat(const ProcessHandle &Handle) override
    {
        return Handle ? Stats.value(KeyOf(Handle)) : std::nullopt;
    }
    std::optional<quint32> Uid(const ProcessHandle &Handle) override
    {
        return Handle ? Uids.value(KeyOf(Handle)) : std::nullopt;
    }
    std::optional<QString> AccountName(quint32) override { return std::nullopt; }
    QString DomainName() override { return Domain; }
    std::optional<QString> ExePath(const ProcessHandle &Handle) override
    {
        return Handle ? Exes.value(KeyOf(Handle)) : std::nullopt;
    }
    std::optional<platform::files::FileIdentity> ImageIdentity(const ProcessHandle &) override { return std::nullopt; }
    int OpenImage(const ProcessHandle &) override { return -1; }
    std::optional<ImageFacts> ImageFactsOf(const ProcessHandle &) override { return std::nullopt; }
    std::optional<QStringList> Cmdline(const ProcessHandle &Handle, bool *RawSingle) override
    {
        if (!Handle)
            return std::nullopt;
        const auto read = CommandLines.value(KeyOf(Handle));
        if (!read)
            return std::nullopt;
        if (RawSingle)
            *RawSingle = read->RawSingle;
        return read->Args;
    }
    std::optional<platform::processes::MemoryStatus> Memory(const ProcessHandle &) override { return std::nullopt; }
    std::optional<platform::processes::ResidentMemory> Resident(const ProcessHandle &, quint64 &) override
    {
        return std::nullopt;
    }
    int FdCount(const ProcessHandle &) override { return -1; }
    int ModuleCount(const ProcessHandle &) override { return -1; }
    std::optional<platform::processes::SchedInfo> Sched(const ProcessHandle &) override { return std::nullopt; }
    std::optional<std::vector<bool>> Affinity(const ProcessHandle &) override { return std::nullopt; }
    unsigned ProcessorCount() override { return 0; }
    std::optional<quint64> IdleTime() override { return Idle; }
    quint64 MonotonicNow() override { return Now; }
    qint64 BootTimeSeconds() override { return 0; }
    qint64 RealtimeNowNs() override { return 0; }
    long ClockTicksPerSecond() override { return TicksPerSecond; }
};

// One request to the worker, and what the worker read for it.
struct TProcesses::TRequest
{
    bool MemoryOnly = false;
    QList<quint32> MemoryOf;
    bool AllMemory = false;

    bool Failed = false; // the reading stopped halfway: nothing of it is taken in
    bool Listed = false;
    bool Primary = true;
    std::vector<ProcessEntry> Entries;
    std::unique_ptr<TPassReads> Reads;
    struct TMemory
    {
        quint64 StartTime = 0; // of the process read
        std::optional<platform::processes::ResidentMemory> Counters;
        quint64 FileInode = 0;
    };
    QHash<quint32, TMemory> Memory;
    struct TAsked
    {
        int Kind = 0;
        TKey Key;
        std::shared_ptr<TProcessReaders::TJob> Job;
        bool CommandLine = false;
        QString IconPath; // null: no icon asked
        bool Init = false;
    };
    std::vector<TAsked> Asked;
    QSet<quint32> AccountsAsked;
    int PinsShared = 0;
    std::shared_ptr<TProcessReaders::TBatch> Batch = std::make_shared<TProcessReaders::TBatch>();
};

// The worker: one thread that reads passes and counters as the window asks, and hands each
// result over to the window's thread, waiting there until it is taken in.
struct TProcesses::TBackground
{
    explicit TBackground(QObject *Context) : HandOff(Context) {}
    THandOff HandOff;
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<std::unique_ptr<TRequest>> Requests;
    std::atomic<bool> Stop{false};
    std::thread Worker;
};

// ---- TProcesses --------------------------------------------------------------------------

TProcesses::TProcesses(QObject *AOwner, ProcessSource *Source)
    : QObject(AOwner), m_Source(Source ? Source : &platform::processes::DefaultProcessSource()),
      m_Readers(std::make_unique<TProcessReaders>())
{
    ProcessorCount = TProcessHelper::GetProcessorCount(*m_Source);
}

TProcesses::~TProcesses()
{
    if (m_Background) {
        TBackground &b = *m_Background;
        {
            std::lock_guard l(b.Lock);
            b.Stop = true;
            b.Requests.clear();
        }
        // A worker waiting for this thread is let go; one that reads stops at its next process.
        b.HandOff.Close();
        b.Wake.notify_all();
        if (b.Worker.joinable())
            b.Worker.join();
    }
    // Readers inside a read that does not return are left to end when it does.
    m_Readers.reset();
    m_ByPid.clear();
    m_Items.clear();
}

ProcessSource &TProcesses::Source() const
{
    return m_Reads ? static_cast<ProcessSource &>(*m_Reads) : *m_Source;
}

void TProcesses::Clear()
{
    // A handler that clears the list in the middle of a pass would pull items from
    // under it, and the worker reads them while it reads.
    if (Busy || Refreshing())
        return;
    m_ByPid.clear();
    m_Items.clear();
}

int TProcesses::GetCount() const
{
    return int(m_Items.size());
}

TProcessItem *TProcesses::GetItem(int Index) const
{
    if (quint32(Index) >= quint32(m_Items.size()))
        return nullptr;
    return m_Items[std::size_t(Index)].get();
}

TProcessItem *TProcesses::ItemByPID(quint32 Pid) const
{
    return m_ByPid.value(Pid, nullptr);
}

std::optional<QString> TProcesses::AccountName(quint32 Uid, bool *Pending)
{
    if (m_Reads) {
        const auto known = m_Reads->Accounts.constFind(Uid);
        if (known != m_Reads->Accounts.cend())
            return *known;
        // Asked and not answered yet (or not asked): looked up again later.
        if (Pending)
            *Pending = true;
        return std::nullopt;
    }
    if (!Busy)
        return m_Source->AccountName(Uid);
    const auto known = m_AccountNames.constFind(Uid);
    if (known != m_AccountNames.cend())
        return *known;
    auto name = m_Source->AccountName(Uid);
    m_AccountNames.insert(Uid, name);
    return name;
}

QPair<QString, int> TProcesses::IconOf(const ProcessHandle &Handle, const QString &Path)
{
    if (m_Reads) {
        const auto read = m_Reads->Icons.constFind(KeyOf(Handle));
        if (read != m_Reads->Icons.cend() && read->first == Path)
            return read->second;
        return {QString(), -1};
    }
    // Only a process whose path is the file it runs has an icon; it is the icon of that file,
    // looked up by the file itself, never by what its path names by then.
    const auto image = Source().ImageAndPath(Handle, Path);
    if (!image.PathIsImage)
        return {QString(), -1};
    const auto icon = platform::shell::FindFileIcon(*image.Image);
    return {icon.IconName, icon.Index};
}

bool TProcesses::ReadsPending(const TProcessItem &Item) const
{
    if (!m_Reads)
        return false;
    if (m_Reads->Pending.contains({qint32(Item.ProcessID), Item.m_StartTime}))
        return true;
    return (Item.UserName.isEmpty() || Item.Domain.isEmpty()) && Item.UserSid &&
        m_Reads->AccountsPending.contains(*Item.UserSid);
}

bool TProcesses::CreateProcess(const QString &CommandLine)
{
    return TProcessHelper::CreateProcess(CommandLine);
}

bool TProcesses::Refresh()
{
    if (Busy || Refreshing())
        return false;
    Busy = true;
    struct BusyGuard
    {
        bool &Flag;
        QHash<quint32, std::optional<QString>> &Names;
        ProcessSource &Source;
        ~BusyGuard()
        {
            Source.Unpin();
            Flag = false;
            Names.clear();
        }
    } guard{Busy, m_AccountNames, *m_Source};

    std::vector<ProcessEntry> &entries = m_Entries;
    entries.clear();
    bool primary = true;
    bool ok = m_Source->EnumeratePrimary(entries) && !entries.empty();
    if (!ok) {
        primary = false;
        entries.clear();
        ok = m_Source->EnumerateFallback(entries) && !entries.empty();
    }
    return RunPass(ok ? &entries : nullptr, primary);
}

bool TProcesses::RunPass(std::vector<ProcessEntry> *Entries, bool Primary)
{
    if (!Entries) {
        // Ended processes still leave, as on a pass that enumerates.
        if (!FirstPass)
            DropEnded(nullptr);
        return false;
    }
    ApplyEntries(*Entries, Primary);
    FirstPass = false;
    return true;
}

// ---- the worker -------------------------------------------------------------------------------

void TProcesses::StartWorker()
{
    if (m_Background)
        return;
    m_Background = std::make_unique<TBackground>(this);
    m_Background->Worker = std::thread([this] { RunWorker(); });
}

bool TProcesses::RefreshInBackground(const QList<quint32> &MemoryOf, bool AllMemory)
{
    if (m_PassOnItsWay || Busy)
        return false;
    StartWorker();
    auto request = std::make_unique<TRequest>();
    request->MemoryOf = MemoryOf;
    request->AllMemory = AllMemory;
    m_PassOnItsWay = true;
    {
        std::lock_guard l(m_Background->Lock);
        m_Background->Requests.push_back(std::move(request));
    }
    m_Background->Wake.notify_one();
    return true;
}

void TProcesses::ReadMemoryInBackground(const QList<quint32> &Pids)
{
    if (Pids.isEmpty())
        return;
    StartWorker();
    {
        std::lock_guard l(m_Background->Lock);
        // One that still waits takes these as well.
        auto &queue = m_Background->Requests;
        if (!queue.empty() && queue.back()->MemoryOnly) {
            queue.back()->MemoryOf += Pids;
            return;
        }
        auto request = std::make_unique<TRequest>();
        request->MemoryOnly = true;
        request->MemoryOf = Pids;
        queue.push_back(std::move(request));
        ++m_MemoryReads;
    }
    m_Background->Wake.notify_one();
}

void TProcesses::RunWorker()
{
    TBackground &b = *m_Background;
    const platform::processes::ListingStop stopListing(b.Stop);
    for (;;) {
        std::unique_ptr<TRequest> request;
        {
            std::unique_lock l(b.Lock);
            b.Wake.wait(l, [&b] { return b.Stop || !b.Requests.empty(); });
            if (b.Stop)
                return;
            request = std::move(b.Requests.front());
            b.Requests.pop_front();
        }
        try {
            if (request->MemoryOnly)
                ReadMemory(*request);
            else
                ReadPass(*request);
        } catch (...) {
            qCWarning(lcSysinfo) << "processes:" << platform::CurrentExceptionText();
            request->Failed = true;
        }
        if (b.Stop)
            return;
        // Runs only while the hand-off is open, that is while this list lives.
        b.HandOff.Synchronize([&] {
            if (request->MemoryOnly)
                TakeMemory(*request);
            else
                TakeIn(*request);
        });
    }
}

void TProcesses::ReadPass(TRequest &Request)
{
    const std::atomic<bool> &stop = m_Background->Stop;
    ProcessSource &src = *m_Source;
    Request.Reads = std::make_unique<TPassReads>();
    TPassReads &reads = *Request.Reads;
    reads.TicksPerSecond = src.ClockTicksPerSecond();
    reads.Domain = src.DomainName();
    Request.Failed = true; // until the reading is whole
    Request.Entries.clear();
    Request.Primary = true;
    Request.Listed = src.EnumeratePrimary(Request.Entries) && !Request.Entries.empty();
    if (!Request.Listed && !stop) {
        Request.Primary = false;
        Request.Entries.clear();
        Request.Listed = src.EnumerateFallback(Request.Entries) && !Request.Entries.empty();
    }
    if (stop)
        return;
    // The clocks of the listing, which read every process's times.
    reads.Now = src.MonotonicNow();
    reads.Idle = src.IdleTime();
    if (Request.Listed) {
        for (const ProcessEntry &e : Request.Entries) {
            if (stop)
                return;
            Prefetch(e, Request);
        }
    } else if (!FirstPass) {
        for (const auto &item : m_Items) {
            if (stop)
                return;
            if (item->ProcessID != 0)
                reads.Alive.insert(KeyOf(item->Identity()), src.IsAlive(item->Identity()));
        }
    }
    // The readers go while the counters are read here.
    m_Readers->Start(Request.Batch);
    ReadMemory(Request);
    WaitForAsked(Request);
    ServeAsked(Request);
    Request.Failed = stop.load();
}

void TProcesses::ReadMemory(TRequest &Request)
{
    ProcessSource &src = *m_Source;
    auto read = [&](const TProcessItem &Item) {
        if (Request.Memory.contains(Item.ProcessID))
            return;
        // One that cannot be read is answered all the same: its counters stay as they are.
        TRequest::TMemory m;
        m.StartTime = Item.m_StartTime;
        m.FileInode = Item.m_StatmInode;
        if (Item.ProcessHandle)
            m.Counters = src.Resident(Item.ProcessHandle, m.FileInode);
        Request.Memory.insert(Item.ProcessID, m);
    };
    if (Request.AllMemory) {
        for (const auto &item : m_Items)
            read(*item);
        return;
    }
    for (const quint32 pid : std::as_const(Request.MemoryOf)) {
        if (const TProcessItem *item = ItemByPID(pid))
            read(*item);
    }
}

void TProcesses::Prefetch(const ProcessEntry &Entry, TRequest &Request)
{
    if (Entry.Pid == 0)
        return;
    ProcessSource &src = *m_Source;
    TPassReads &reads = *Request.Reads;
    const TProcessItem *item = ItemByPID(Entry.Pid);
    // Another start time: the item is dropped and one made anew.
    if (!item || item->m_StartTime != Entry.StartTime) {
        PrefetchNew(Entry, Request.Primary, Request);
        return;
    }
    bool reloaded = false;
    if (!FirstPass) {
        const unsigned changes = item->ChangesIn(Entry);
        if (changes) {
            const bool alive = src.IsAlive(item->Identity());
            reads.Alive.insert(KeyOf(item->Identity()), alive);
            if (!alive) {
                PrefetchNew(Entry, Request.Primary, Request);
                return;
            }
            reloaded = PrefetchReload(*item, Entry, changes, Request);
        }
    }
    // The times of a listing without them come from the stat file.
    if (!Entry.HasTimes && item->ProcessHandle)
        reads.Stats.insert(KeyOf(item->ProcessHandle), src.Stat(item->ProcessHandle));
    if (!FirstPass && !reloaded)
        PrefetchCompletion(*item, Request);
}

void TProcesses::PrefetchNew(const ProcessEntry &Entry, bool Primary, TRequest &Request)
{
    ProcessSource &src = *m_Source;
    TPassReads &reads = *Request.Reads;
    const auto opened = src.Open(Entry.Pid, Entry.StartTime);
    reads.Opened.insert({qint32(Entry.Pid), Entry.StartTime}, opened);
    if (!opened)
        return;
    const ProcessHandle h = *opened;
    const TKey key = KeyOf(h);
    // The reads below share the pin that found the process.
    struct Reads
    {
        ProcessSource &Source;
        ~Reads() { Source.Unpin(); }
    } pinned{src};
    src.HoldForReads(h);
    std::optional<quint32> uid;
    if (Primary && Entry.Uid) {
        uid = Entry.Uid;
    } else if (Primary && Entry.OwnerUid) {
        uid = Entry.OwnerUid;
    } else {
        uid = src.Uid(h);
        reads.Uids.insert(key, uid);
    }
    if (!Primary || !Entry.HasTimes)
        reads.Stats.insert(key, src.Stat(h));
    if (uid)
        AskAccount(*uid, Request);
    if (Entry.KernelThread)
        return; // no program: no path, command line or icon
    const auto exe = src.ExePath(h);
    reads.Exes.insert(key, exe);
    const QString path = (exe && !exe->trimmed().isEmpty()) ? NormalizePath(*exe) : QString();
    // The reader goes on with the pin that found the process, while few such pins are kept open.
    std::shared_ptr<const platform::processes::PidFd> pin;
    if (Request.PinsShared < kPinsShared) {
        pin = src.SharePin(h);
        Request.PinsShared += pin ? 1 : 0;
    }
    AskProcess(h, uid.value_or(0), true, path, Entry.Pid == 1, false, Request, std::move(pin));
}

bool TProcesses::PrefetchReload(const TProcessItem &Item, const ProcessEntry &Entry, unsigned Changes,
                                TRequest &Request)
{
    ProcessSource &src = *m_Source;
    TPassReads &reads = *Request.Reads;
    const bool image = !Item.IsSystemProcess() &&
        ((Changes & TProcessItem::ImageChanged) ||
         ((Changes & TProcessItem::NameChanged) && !(Entry.Layout.Known() && Item.m_Layout.Known())) ||
         ((Changes & TProcessItem::EntryChanged) && Item.ProcessHandle.Inode == 0));
    const ProcessHandle &h = Item.ProcessHandle;
    const quint32 lane = Item.UserSid.value_or(0);
    if (image && h) {
        // A new program: what was read of the one before counts for nothing.
        const auto exe = src.ExePath(h);
        reads.Exes.insert(KeyOf(h), exe);
        const QString path = (exe && !exe->trimmed().isEmpty()) ? NormalizePath(*exe) : QString();
        AskProcess(h, lane, true, path, Item.ProcessID == 1, true, Request);
    }
    bool userChanged = false;
    if (image || (Changes & TProcessItem::OwnerChanged)) {
        std::optional<quint32> uid = Entry.Uid;
        if (!uid && h) {
            uid = src.Uid(h);
            reads.Uids.insert(KeyOf(h), uid);
        }
        if (uid && uid != Item.UserSid) {
            userChanged = true;
            if (h)
                AskAccount(*uid, Request);
        }
    }
    return image || (Changes & (TProcessItem::NameChanged | TProcessItem::ImageChanged)) || userChanged;
}

void TProcesses::PrefetchCompletion(const TProcessItem &Item, TRequest &Request)
{
    if (Item.IsSystemProcess() || Item.FillAttempts == 0 || Item.FillAttempts > 5 || Item.DetailsComplete)
        return;
    ProcessSource &src = *m_Source;
    TPassReads &reads = *Request.Reads;
    ProcessHandle h = Item.ProcessHandle;
    if (!h) {
        const auto opened = src.Open(Item.ProcessID, Item.m_StartTime);
        src.Unpin();
        reads.Opened.insert({qint32(Item.ProcessID), Item.m_StartTime}, opened);
        if (!opened)
            return;
        h = *opened;
    }
    const quint32 lane = Item.UserSid.value_or(0);
    if (Item.UserName.isEmpty() || Item.Domain.isEmpty()) {
        std::optional<quint32> uid = Item.UserSid;
        if (!uid) {
            uid = src.Uid(h);
            reads.Uids.insert(KeyOf(h), uid);
        }
        if (uid)
            AskAccount(*uid, Request);
    }
    QString path = Item.Path;
    if (path.isEmpty()) {
        const auto exe = src.ExePath(h);
        reads.Exes.insert(KeyOf(h), exe);
        if (exe && !exe->isEmpty())
            path = NormalizePath(*exe);
    }
    // The icon is read again on every attempt.
    AskProcess(h, lane, Item.CommandLine.isEmpty(), path.trimmed().isEmpty() ? QString() : path, false, false, Request);
}

void TProcesses::AskProcess(const ProcessHandle &Handle, quint32 Lane, bool CommandLine, const QString &IconPath,
                            bool Init, bool Fresh, TRequest &Request,
                            std::shared_ptr<const platform::processes::PidFd> Pin)
{
    if (!CommandLine && IconPath.isNull() && !Init)
        return;
    ProcessSource *source = m_Source;
    const ProcessHandle h = Handle;
    // What is asked names the read, so that one asked before for the same stands for it.
    const QString argument = QLatin1String(CommandLine ? "c" : "-") + QLatin1String(Init ? "f" : "-") +
        (IconPath.isNull() ? QString() : QLatin1Char('|') + IconPath);
    auto job = m_Readers->Ask<TProcessRead>(
        ReaderKey(h), Lane, rkProcess, argument,
        [source, h, CommandLine, IconPath, Init, pin = std::move(Pin)]() mutable -> std::optional<TProcessRead> {
            // The reads below share one pin: the one handed over, else one made for them.
            struct Reads
            {
                ProcessSource &Source;
                ~Reads() { Source.Unpin(); }
            } pinned{*source};
            if (!pin) {
                if (auto made = platform::processes::PidFd::Pin(h))
                    pin = std::make_shared<const platform::processes::PidFd>(std::move(*made));
            }
            if (pin)
                source->HoldShared(std::move(pin), h);
            TProcessRead read;
            if (CommandLine) {
                TCommandLineRead line;
                if (auto args = source->Cmdline(h, &line.RawSingle)) {
                    line.Args = std::move(*args);
                    read.CommandLine = std::move(line);
                }
            }
            if (!IconPath.isNull()) {
                // Only a process whose path is the file it runs has an icon.
                const auto image = source->ImageAndPath(h, IconPath);
                if (image.PathIsImage) {
                    const auto icon = platform::shell::FindFileIcon(*image.Image);
                    read.Icon = {icon.IconName, icon.Index};
                }
            }
            if (Init)
                read.Init = source->ImageFactsOf(h);
            return read;
        },
        Fresh ? TProcessReaders::TReuse::Never : TProcessReaders::TReuse::UntilForgotten, false, Request.Batch);
    Request.Asked.push_back({rkProcess, KeyOf(h), job, CommandLine, IconPath, Init});
}

void TProcesses::AskAccount(quint32 Uid, TRequest &Request)
{
    // One look-up of a user per pass, however many of its processes ask.
    if (Request.AccountsAsked.contains(Uid))
        return;
    Request.AccountsAsked.insert(Uid);
    ProcessSource *source = m_Source;
    auto job = m_Readers->Ask<std::optional<QString>>(
        AccountKey(Uid), TProcessReaders::kNameServiceLane, rkAccount, QString(),
        [source, Uid] { return std::optional<std::optional<QString>>(source->AccountName(Uid)); },
        TProcessReaders::TReuse::UntilForgotten, false, Request.Batch);
    Request.Asked.push_back({rkAccount, {-1, Uid}, job, false, QString(), false});
}

void TProcesses::WaitForAsked(TRequest &Request)
{
    const std::atomic<bool> &stop = m_Background->Stop;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto progress = start;
    int left = m_Readers->WaitBatch(Request.Batch, QDeadlineTimer(0));
    while (left > 0 && !stop) {
        const int now = m_Readers->WaitBatch(Request.Batch, QDeadlineTimer(50));
        const auto at = Clock::now();
        if (now < left) {
            left = now;
            progress = at;
        } else if (at - progress >= kReadStall) {
            break;
        }
        // The few readers woken for the batch are slow, or held by a read that waits.
        if (left > 0)
            m_Readers->Hurry(Request.Batch);
        if (at - start >= kReadsAtMost)
            break;
    }
}

void TProcesses::ServeAsked(TRequest &Request)
{
    TPassReads &reads = *Request.Reads;
    for (const TRequest::TAsked &a : Request.Asked) {
        if (!a.Job->Done()) {
            if (a.Kind == rkAccount)
                reads.AccountsPending.insert(quint32(a.Key.second));
            else if (a.CommandLine || !a.IconPath.isNull())
                reads.Pending.insert(a.Key);
            continue;
        }
        if (a.Kind == rkAccount) {
            const auto &name = static_cast<const TProcessReaders::TAnswer<std::optional<QString>> &>(*a.Job).Value();
            reads.Accounts.insert(quint32(a.Key.second), name ? *name : std::nullopt);
        } else if (const auto &read = static_cast<const TProcessReaders::TAnswer<TProcessRead> &>(*a.Job).Value()) {
            if (a.CommandLine)
                reads.CommandLines.insert(a.Key, read->CommandLine);
            if (!a.IconPath.isNull())
                reads.Icons.insert(a.Key, {a.IconPath, read->Icon});
            if (a.Init)
                reads.InitPath = read->Init ? read->Init->Path : QString();
        }
        // Taken: the next pass that wants it reads it again.
        m_Readers->Forget(a.Job);
    }
}

// ---- taking in what the worker read ------------------------------------------------------------

void TProcesses::TakeIn(TRequest &Request)
{
    if (OnRefreshing)
        OnRefreshing();
    if (Request.Failed) {
        m_PassOnItsWay = false;
        if (OnRefreshed)
            OnRefreshed(false);
        return;
    }
    bool listed = false;
    {
        Busy = true;
        m_Reads = Request.Reads.get();
        struct Taking
        {
            TProcesses &List;
            ~Taking()
            {
                List.m_Reads = nullptr;
                List.Busy = false;
            }
        } taking{*this};
        listed = RunPass(Request.Listed ? &Request.Entries : nullptr, Request.Primary);
        if (m_Reads->InitPath)
            m_InitProgramPath = *m_Reads->InitPath;
    }
    TakeMemory(Request);
    m_PassOnItsWay = false;
    if (OnRefreshed)
        OnRefreshed(listed);
}

void TProcesses::TakeMemory(TRequest &Request)
{
    for (auto it = Request.Memory.cbegin(); it != Request.Memory.cend(); ++it) {
        TProcessItem *item = ItemByPID(it.key());
        // The same process that was read, not one that took its identifier in this pass.
        if (!item || item->m_StartTime != it->StartTime)
            continue;
        item->m_StatmInode = it->FileInode;
        if (it->Counters)
            item->Memory->Take(*it->Counters);
        else
            item->m_MemoryPass = m_Pass; // read, and unreadable: the counters stay as they were
    }
    if (!Request.MemoryOnly)
        return;
    m_MemoryReads = qMax(0, m_MemoryReads - 1);
    if (OnMemoryRead)
        OnMemoryRead();
}

// ---- reads for the user ------------------------------------------------------------------------

namespace {

quint32 LaneOf(const TProcessItem &Item)
{
    return Item.UserSid.value_or(0);
}

// The commands on a process and what they read run apart from its other reads and from its
// user's: a process whose reads wait on it (the very one a user wants to end) can still be acted
// on. Only operations whose own reads wait hold up the others.
constexpr quint32 kOperationLane = 0xFFFFFFFEu;

// No process has an identifier below 0, and -1 is the name service's.
TProcessReaders::TKey OperationKey(quint32 Pid, quint64 StartTime)
{
    return {-2 - qint32(Pid), StartTime};
}

// The version of the file a process runs: this program's own, or that of the package that
// installed that very file, which only a path found to lead to it can tell.
QString VersionOf(const std::optional<platform::files::FileIdentity> &Image, const QString &ImagePath)
{
    if (!Image)
        return QString();
    QString version;
    if (Image == platform::processes::OwnImageIdentity()) {
        GetFileVersion(QString(), version);
        return version;
    }
    if (ImagePath.trimmed().isEmpty())
        return QString();
    TFileProperties properties;
    properties.LoadVersionInfo(ImagePath, *Image);
    return properties.VersionInfo()->FileVersion;
}

} // namespace

std::shared_ptr<TProcesses::TFactsAnswer> TProcesses::AskImageFacts(const TProcessItem *Item)
{
    if (!Item || !Item->ProcessHandle || Item->IsSystemProcess())
        return nullptr;
    ProcessSource *source = m_Source;
    const ProcessHandle h = Item->ProcessHandle;
    return m_Readers->Ask<ImageFacts>(
        ReaderKey(h), LaneOf(*Item), rkFacts, QString(), [source, h] { return source->ImageFactsOf(h); },
        TProcessReaders::TReuse::WhileOnItsWay, true);
}

std::shared_ptr<TProcesses::TPathAnswer> TProcesses::AskImagePath(const TProcessItem *Item)
{
    if (!Item || !Item->ProcessHandle || Item->IsSystemProcess() || Item->Path.trimmed().isEmpty())
        return nullptr;
    ProcessSource *source = m_Source;
    const ProcessHandle h = Item->ProcessHandle;
    const QString path = Item->Path;
    return m_Readers->Ask<QString>(
        ReaderKey(h), LaneOf(*Item), rkImagePath, path,
        [source, h, path] { return std::optional<QString>(source->PathIsImage(h, path) ? path : QString()); },
        TProcessReaders::TReuse::WhileOnItsWay, true);
}

std::shared_ptr<TProcesses::TDetailsAnswer> TProcesses::AskDetails(const TProcessItem *Item)
{
    if (!Item || !Item->ProcessHandle)
        return nullptr;
    ProcessSource *source = m_Source;
    const ProcessHandle h = Item->ProcessHandle;
    const bool system = Item->IsSystemProcess();
    const QString path = Item->Path.trimmed().isEmpty() ? QString() : Item->Path;
    return m_Readers->Ask<TProcessDetails>(
        ReaderKey(h), LaneOf(*Item), rkDetails, QString(),
        [source, h, system, path]() -> std::optional<TProcessDetails> {
            TProcessDetails d;
            d.Memory = source->Memory(h);
            d.Times = TProcessTime::Read(*source, h);
            if (d.Times) {
                d.Faults = d.Times->Stat.Minflt + d.Times->Stat.Majflt;
                d.Threads = qMax(0, d.Times->Stat.NumThreads);
            }
            if (const auto sched = source->Sched(h))
                d.Priority = TProcessHelper::PriorityClassOf(sched->Policy, sched->Nice);
            d.Modules = qMax(0, source->ModuleCount(h));
            d.Handles = qMax(0, source->FdCount(h));
            if (!system) {
                const auto image = source->ImageAndPath(h, path);
                d.Image = image.Image;
                d.PathIsImage = image.PathIsImage;
                d.Version = VersionOf(d.Image, d.PathIsImage ? path : QString());
            }
            return d;
        },
        TProcessReaders::TReuse::WhileOnItsWay, true);
}

std::shared_ptr<TProcesses::TActionAnswer>
TProcesses::AskTerminateAndDelete(const TProcessItem *Item, const std::shared_ptr<std::atomic<bool>> &Cancel)
{
    if (!Item)
        return nullptr;
    const quint32 pid = Item->ProcessID;
    const quint64 start = Item->m_StartTime;
    const quint64 inode = Item->ProcessHandle.Inode;
    return m_Readers->Ask<bool>(
        OperationKey(pid, start), kOperationLane, rkAction, QString(),
        [pid, start, inode, Cancel] {
            return std::optional<bool>(
                TProcessHelper::TerminateAndDelete(pid, start, inode, [&Cancel] { return Cancel->load(); }));
        },
        TProcessReaders::TReuse::Never, true);
}

TProcesses::TOperationAsked TProcesses::AskOperation(const TProcessItem *Item,
                                                     std::function<bool(TOperationHandOver *)> Operation)
{
    if (!Item)
        return {};
    auto handOver = std::make_shared<TOperationHandOver>();
    auto job = m_Readers->Ask<bool>(
        OperationKey(Item->ProcessID, Item->m_StartTime), kOperationLane, rkAction, QString(),
        [handOver, operation = std::move(Operation)] {
            // Whatever way it leaves, the caller hears of it.
            struct TFinish
            {
                TOperationHandOver &HandOver;
                bool Result = false;
                ~TFinish() { HandOver.Finish(Result); }
            } finish{*handOver};
            // Given up before it started: not even its reads are worth making.
            if (!handOver->GivenUp())
                finish.Result = operation(handOver.get());
            return std::optional<bool>(finish.Result);
        },
        TProcessReaders::TReuse::Never, true);
    return {handOver, job};
}

TProcesses::TOperationAsked TProcesses::AskTerminate(const TProcessItem *Item)
{
    if (!Item)
        return {};
    return AskOperation(Item,
                        [pid = Item->ProcessID, start = Item->m_StartTime, inode = Item->ProcessHandle.Inode](
                            TOperationHandOver *H) { return TProcessHelper::Terminate(pid, start, inode, H); });
}

TProcesses::TOperationAsked TProcesses::AskTerminateTree(const TProcessItem *Item)
{
    if (!Item)
        return {};
    // The children as the list knows them: a walk of every process could take seconds on a big
    // machine. Each is checked to be a child still before it is ended.
    TProcessHelper::TChildren children;
    for (const auto &p : m_Items) {
        if (p.get() != Item && p->ProcessID != 0 && p->ParentProcessID == Item->ProcessID)
            children.push_back({p->ProcessID, p->m_StartTime});
    }
    return AskOperation(Item,
                        [pid = Item->ProcessID, start = Item->m_StartTime, inode = Item->ProcessHandle.Inode,
                         children = std::move(children)](TOperationHandOver *H) {
                            return TProcessHelper::TerminateTree(pid, start, inode, children, H);
                        });
}

TProcesses::TOperationAsked TProcesses::AskSuspend(const TProcessItem *Item)
{
    if (!Item)
        return {};
    return AskOperation(Item,
                        [pid = Item->ProcessID, start = Item->m_StartTime, inode = Item->ProcessHandle.Inode](
                            TOperationHandOver *H) { return TProcessHelper::Suspend(pid, start, inode, H); });
}

TProcesses::TOperationAsked TProcesses::AskResume(const TProcessItem *Item)
{
    if (!Item)
        return {};
    return AskOperation(Item,
                        [pid = Item->ProcessID, start = Item->m_StartTime, inode = Item->ProcessHandle.Inode](
                            TOperationHandOver *H) { return TProcessHelper::Resume(pid, start, inode, H); });
}

TProcesses::TOperationAsked TProcesses::AskSetPriority(const TProcessItem *Item, quint16 PriorityClass)
{
    if (!Item)
        return {};
    return AskOperation(Item,
                        [pid = Item->ProcessID, start = Item->m_StartTime, inode = Item->ProcessHandle.Inode,
                         PriorityClass](TOperationHandOver *H) {
                            return TProcessHelper::SetPriority(pid, PriorityClass, start, inode, H);
                        });
}

TProcesses::TOperationAsked TProcesses::AskSetAffinity(const TProcessItem *Item, quint32 CPUIndex, bool Enabled)
{
    if (!Item)
        return {};
    return AskOperation(Item,
                        [pid = Item->ProcessID, start = Item->m_StartTime, inode = Item->ProcessHandle.Inode, CPUIndex,
                         Enabled](TOperationHandOver *H) {
                            return TProcessHelper::SetAffinity(pid, CPUIndex, Enabled, start, inode, H);
                        });
}

bool TProcesses::WaitForOperation(const TOperationAsked &Asked, int Ms)
{
    if (!Asked.HandOver)
        return false;
    const bool result = Asked.HandOver->Wait(Ms);
    // One given up before it ran is let go with its process.
    if (Asked.Job && Asked.Job->Done())
        m_Readers->Forget(Asked.Job);
    return result;
}

std::shared_ptr<TProcesses::TPriorityAnswer> TProcesses::AskPriority(const TProcessItem *Item)
{
    if (!Item || !Item->ProcessHandle)
        return nullptr;
    ProcessSource *source = m_Source;
    const ProcessHandle h = Item->ProcessHandle;
    return m_Readers->Ask<quint32>(
        OperationKey(Item->ProcessID, Item->m_StartTime), kOperationLane, rkPriority, QString(),
        [source, h]() -> std::optional<quint32> {
            const auto s = source->Sched(h);
            return s ? TProcessHelper::PriorityClassOf(s->Policy, s->Nice) : 0;
        },
        TProcessReaders::TReuse::WhileOnItsWay, true);
}

std::shared_ptr<TProcesses::TAffinityAnswer> TProcesses::AskAffinity(const TProcessItem *Item)
{
    if (!Item || !Item->ProcessHandle)
        return nullptr;
    ProcessSource *source = m_Source;
    const ProcessHandle h = Item->ProcessHandle;
    return m_Readers->Ask<std::vector<bool>>(
        OperationKey(Item->ProcessID, Item->m_StartTime), kOperationLane, rkAffinity, QString(),
        [source, h] { return source->Affinity(h); }, TProcessReaders::TReuse::WhileOnItsWay, true);
}

std::function<int()> TProcesses::ImageOpener(const TProcessItem *Item) const
{
    if (!Item || !Item->ProcessHandle || Item->IsSystemProcess())
        return {};
    ProcessSource *source = m_Source;
    const ProcessHandle h = Item->ProcessHandle;
    return [source, h] { return source->OpenImage(h); };
}

bool TProcesses::WaitFor(const TProcessReaders::TJob &Answer, int Ms) const
{
    return m_Readers->Wait(Answer, QDeadlineTimer(qMax(0, Ms)));
}

void TProcesses::Forget(const std::shared_ptr<TProcessReaders::TJob> &Answer)
{
    m_Readers->Forget(Answer);
}

void TProcesses::RemoveAt(std::size_t Index)
{
    TProcessItem *item = m_Items[Index].get();
    const quint32 pid = item->ProcessID;
    // Fired before the item goes: the handler may still look it up.
    if (OnProcessRemoved)
        OnProcessRemoved(this, pid);
    // What the readers keep of it is no longer asked for.
    m_Readers->ForgetProcess({qint32(pid), item->m_StartTime});
    m_Readers->ForgetProcess(OperationKey(pid, item->m_StartTime));
    m_ByPid.remove(pid);
    m_Items.erase(m_Items.begin() + std::ptrdiff_t(Index));
}

void TProcesses::DropEnded(const std::vector<ProcessEntry> *Entries)
{
    if (Entries) {
        // Alive means listed by this pass with the same start time; no handle is needed.
        for (const ProcessEntry &e : *Entries) {
            TProcessItem *item = ItemByPID(e.Pid);
            if (!item || item->m_StartTime != e.StartTime || e.Pid == 0)
                continue;
            // Running a new program, a new name or user keep the identifier and start time,
            // and so does a new process that got the identifier within the same clock tick
            // (its /proc entry is a new one): only on such a change is the process asked
            // whether it is still the one the item knows.
            const unsigned changes = item->ChangesIn(e);
            if (changes && !Source().IsAlive(item->Identity()))
                continue;
            item->m_SeenPass = m_Pass;
            item->m_PendingChanges = changes;
        }
    }
    for (std::size_t i = m_Items.size(); i-- > 0;) {
        TProcessItem *item = m_Items[i].get();
        if (item->ProcessID == 0)
            continue;
        bool alive;
        if (Entries)
            alive = item->m_SeenPass == m_Pass;
        else
            alive = Source().IsAlive(item->Identity());
        if (!alive)
            RemoveAt(i);
    }
}

TProcessItem *TProcesses::CreateItem(const ProcessEntry &Entry, bool Primary)
{
    auto owned = std::make_unique<TProcessItem>(this);
    TProcessItem *item = owned.get();
    m_Items.push_back(std::move(owned));
    m_ByPid.insert(Entry.Pid, item);
    item->ProcessID = Entry.Pid;
    item->m_StartTime = Entry.StartTime;
    if (Entry.Pid == 0) {
        item->Name = QStringLiteral("System Idle Process");
        item->UserName = QStringLiteral("root");
        item->Domain = Source().DomainName();
        item->Icon.clear();
        item->IconIndex = -1;
        return item;
    }
    item->m_KernelThread = Entry.KernelThread;
    ProcessSource &src = Source();
    if (const auto h = src.Open(Entry.Pid, Entry.StartTime))
        item->ProcessHandle = *h;
    // The reads below share the pin that found the process.
    struct Reads
    {
        ProcessSource &Source;
        ~Reads() { Source.Unpin(); }
    } reads{src};
    src.HoldForReads(item->ProcessHandle);
    item->Name = Entry.DisplayName();
    item->m_NameBytes = Entry.NameBytes();
    item->m_Layout = Entry.Layout;
    item->m_OwnerUid = Entry.OwnerUid;
    item->m_ProcInode = Entry.ProcInode;
    if (Primary) {
        // The owner of /proc/PID is the effective user whether or not the process is dumpable
        // (the kernel keeps it so, for readers that stat the directory): no status file to read.
        if (Entry.Uid)
            item->UserSid = Entry.Uid;
        else if (Entry.OwnerUid && item->ProcessHandle)
            item->UserSid = Entry.OwnerUid;
        else
            item->ReadTokenUser();
        // The stat file the enumeration has just read holds the parent: no second read.
        if (Entry.HasTimes && item->ProcessHandle)
            item->ParentProcessID = Entry.ParentPid;
        else
            item->ReadParentPID();
        item->SessionID = Entry.Session;
    } else {
        item->ReadTokenUser();
        item->ParentProcessID = Entry.ParentPid;
        item->ReadSessionID();
    }
    item->ReadUserName();
    item->ReadImagePath();
    item->ReadCommandLine();
    item->ReadIcon();
    item->SetName(Entry);
    return item;
}

void TProcesses::ApplyEntries(std::vector<ProcessEntry> &Entries, bool Primary)
{
    ++m_Pass;
    // The idle process is not a real process: it heads every enumeration.
    ProcessEntry idle;
    idle.Pid = 0;
    idle.Name = QStringLiteral("System Idle Process");
    Entries.erase(std::remove_if(Entries.begin(), Entries.end(), [](const ProcessEntry &E) { return E.Pid == 0; }),
                  Entries.end());
    Entries.insert(Entries.begin(), idle);

    if (!FirstPass)
        DropEnded(&Entries);

    for (const ProcessEntry &e : Entries) {
        TProcessItem *item = ItemByPID(e.Pid);
        if (!item) {
            item = CreateItem(e, Primary);
            if (!FirstPass && OnProcessAdded)
                OnProcessAdded(this, e.Pid);
            // A handler may not free items (Clear is refused while busy), so `item` lives.
        } else if (item->m_PendingChanges) {
            const unsigned changes = std::exchange(item->m_PendingChanges, 0u);
            if (item->Reload(e, changes)) {
                item->m_ReloadPass = m_Pass;
                if (OnProcessReloaded)
                    OnProcessReloaded(this, e.Pid);
            }
        }
        if (e.Layout.Known())
            item->m_Layout = e.Layout;
        item->m_OwnerUid = e.OwnerUid;
        item->m_ProcInode = e.ProcInode;
        item->TakeSample(e, m_Pass);
        item->UpdateCPUUsage();
        if (!FirstPass)
            item->CompleteDetails();
    }
}
