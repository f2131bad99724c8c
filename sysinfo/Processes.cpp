#include "sysinfo/Processes.h"

#include "platform/files/NameBytes.h"
#include "platform/processes/CommandLine.h"
#include "platform/shell/Shell.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Services.h"
#include "sysinfo/Utils.h"

#include <cmath>
#include <utility>

using platform::processes::ProcessEntry;
using platform::processes::ProcessSource;

void ProcessesUnitInitialization()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    EnsureTerminalService();
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

qint64 TicksToMs(ProcessSource &Src, quint64 Ticks)
{
    const quint64 v = Src.TicksTo100ns(Ticks);
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
    const TProcessItem *item = Owner;
    if (item->m_SamplePass != 0 && item->m_SamplePass == item->Owner->m_Pass)
        PageFaultCount = item->m_SampleFaults;
}

void TProcessMemory::Refresh()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    const auto m = item->Source().Resident(item->ProcessHandle, item->m_StatmInode);
    if (!m)
        return;
    Store(m->Resident, m->Resident - qMin(m->Shared, m->Resident));
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
    const bool first = item->Owner->FirstPass;
    auto delta = [first](quint64 Now, quint64 Before) { return first ? qint64(0) : qint64(Now) - qint64(Before); };
    PagedPoolDelta = delta(m->VmPte, PagedPoolUsage);
    NonPagedPoolDelta = delta(m->VmLck, NonPagedPoolUsage);
    PagedPoolUsage = m->VmPte;
    PeakPagedPoolUsage = qMax(PeakPagedPoolUsage, m->VmPte);
    NonPagedPoolUsage = m->VmLck;
    PeakNonPagedPoolUsage = qMax(PeakNonPagedPoolUsage, m->VmLck);
    Store(m->VmRss, m->RssAnon);
    // The kernel's own mark holds peaks no tick saw.
    PeakWorkingSetSize = qMax(PeakWorkingSetSize, m->VmHwm);
    if (item->m_SamplePass == 0 || item->m_SamplePass != item->Owner->m_Pass) {
        if (const auto st = src.Stat(item->ProcessHandle))
            PageFaultCount = st->Minflt + st->Majflt;
    }
}

void TProcessTime::Refresh()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    ProcessSource &src = item->Source();
    const auto st = src.Stat(item->ProcessHandle);
    if (!st)
        return;
    KernelTime = TicksToMs(src, st->Stime);
    UserTime = TicksToMs(src, st->Utime);
    const qint64 boot = src.BootTimeSeconds();
    const long hz = src.ClockTicksPerSecond();
    if (boot <= 0 || hz <= 0)
        return;
    const quint64 since = src.TicksTo100ns(st->StartTime); // 100 ns after boot
    StartTime = platform::LocalSystemTime(boot + qint64(since / 10000000ull), quint32(since % 10000000ull) * 100u);
    const qint64 now = src.RealtimeNowNs();
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
    ProcessSource &src = Source();
    const QString domain = src.DomainName();
    // An account without a name shows its number, as ps does.
    UserName = Owner->AccountName(*UserSid).value_or(QString::number(*UserSid));
    Domain = domain;
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
    // Only a process whose path is the file it runs has an icon; it is the icon of that file,
    // looked up by the file itself, never by what its path names by then.
    const auto image = ImageAndPath();
    if (!image.PathIsImage)
        return;
    const auto icon = platform::shell::FindFileIcon(*image.Image);
    Icon = icon.IconName;
    IconIndex = icon.Index;
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

// ---- TProcesses --------------------------------------------------------------------------

TProcesses::TProcesses(QObject *AOwner, ProcessSource *Source)
    : QObject(AOwner), m_Source(Source ? Source : &platform::processes::DefaultProcessSource())
{
    ProcessorCount = TProcessHelper::GetProcessorCount(*m_Source);
}

TProcesses::~TProcesses()
{
    m_ByPid.clear();
    m_Items.clear();
}

void TProcesses::Clear()
{
    // A handler that clears the list in the middle of a pass would pull items from
    // under it.
    if (Busy)
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

std::optional<QString> TProcesses::AccountName(quint32 Uid)
{
    if (!Busy)
        return m_Source->AccountName(Uid);
    const auto known = m_AccountNames.constFind(Uid);
    if (known != m_AccountNames.cend())
        return *known;
    auto name = m_Source->AccountName(Uid);
    m_AccountNames.insert(Uid, name);
    return name;
}

bool TProcesses::CreateProcess(const QString &CommandLine)
{
    return TProcessHelper::CreateProcess(CommandLine);
}

bool TProcesses::Refresh()
{
    if (Busy)
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
    if (!ok) {
        // Ended processes still leave, as on a pass that enumerates.
        if (!FirstPass)
            DropEnded(nullptr);
        return false;
    }
    ApplyEntries(entries, primary);
    FirstPass = false;
    return true;
}

void TProcesses::RemoveAt(std::size_t Index)
{
    TProcessItem *item = m_Items[Index].get();
    const quint32 pid = item->ProcessID;
    // Fired before the item goes: the handler may still look it up.
    if (OnProcessRemoved)
        OnProcessRemoved(this, pid);
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
            if (changes && !m_Source->IsAlive(item->Identity()))
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
            alive = m_Source->IsAlive(item->Identity());
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
        item->Domain = m_Source->DomainName();
        item->Icon.clear();
        item->IconIndex = -1;
        return item;
    }
    item->m_KernelThread = Entry.KernelThread;
    if (const auto h = m_Source->Open(Entry.Pid, Entry.StartTime))
        item->ProcessHandle = *h;
    // The reads below share the pin that found the process.
    struct Reads
    {
        ProcessSource &Source;
        ~Reads() { Source.Unpin(); }
    } reads{*m_Source};
    m_Source->HoldForReads(item->ProcessHandle);
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
