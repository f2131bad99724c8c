#include "sysinfo/Processes.h"

#include "platform/processes/CommandLine.h"
#include "platform/shell/Shell.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Utils.h"

#include <cmath>
#include <utility>

using platform::processes::ProcessEntry;
using platform::processes::ProcessSource;

TEnsureTerminalServiceHook EnsureTerminalServiceHook = nullptr;

void ProcessesUnitInitialization()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (EnsureTerminalServiceHook)
        EnsureTerminalServiceHook();
}

namespace {

// "\??\", "\SystemRoot\" or a drive letter at the start. On Linux these characters are
// ordinary ones anywhere in a file name or an argument, so nothing else is touched.
bool startsInWindowsForm(const QString &Path)
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
    if (!startsInWindowsForm(Path))
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
double roundEven(double v)
{
    return std::nearbyint(v);
}

qint64 ticksToMs(ProcessSource &src, quint64 ticks)
{
    const quint64 v = src.ticksTo100ns(ticks);
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
    auto delta = [first](quint64 now, quint64 before) { return first ? qint64(0) : qint64(now) - qint64(before); };
    WorkingSetDelta = delta(WorkingSet, WorkingSetSize);
    PagefileDelta = delta(Pagefile, PagefileUsage);
    WorkingSetSize = WorkingSet;
    PeakWorkingSetSize = qMax(PeakWorkingSetSize, WorkingSet);
    PagefileUsage = Pagefile;
    PeakPagefileUsage = qMax(PeakPagefileUsage, Pagefile);
    // The faults of this pass come with its stat line; other readings leave them as they were.
    const TProcessItem *item = Owner;
    if (item->m_samplePass != 0 && item->m_samplePass == item->Owner->m_pass)
        PageFaultCount = item->m_sampleFaults;
}

void TProcessMemory::Refresh()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    const auto m = item->source().resident(item->ProcessHandle, item->m_statmInode);
    if (!m)
        return;
    Store(m->resident, m->resident - qMin(m->shared, m->resident));
}

void TProcessMemory::RefreshAll()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    ProcessSource &src = item->source();
    const auto m = src.memory(item->ProcessHandle);
    if (!m)
        return;
    const bool first = item->Owner->FirstPass;
    auto delta = [first](quint64 now, quint64 before) { return first ? qint64(0) : qint64(now) - qint64(before); };
    PagedPoolDelta = delta(m->vmPte, PagedPoolUsage);
    NonPagedPoolDelta = delta(m->vmLck, NonPagedPoolUsage);
    PagedPoolUsage = m->vmPte;
    PeakPagedPoolUsage = qMax(PeakPagedPoolUsage, m->vmPte);
    NonPagedPoolUsage = m->vmLck;
    PeakNonPagedPoolUsage = qMax(PeakNonPagedPoolUsage, m->vmLck);
    Store(m->vmRss, m->rssAnon);
    // The kernel's own mark holds peaks no tick saw.
    PeakWorkingSetSize = qMax(PeakWorkingSetSize, m->vmHwm);
    if (item->m_samplePass == 0 || item->m_samplePass != item->Owner->m_pass) {
        if (const auto st = src.stat(item->ProcessHandle))
            PageFaultCount = st->minflt + st->majflt;
    }
}

void TProcessTime::Refresh()
{
    TProcessItem *item = Owner;
    if (!item->ProcessHandle)
        return;
    ProcessSource &src = item->source();
    const auto st = src.stat(item->ProcessHandle);
    if (!st)
        return;
    KernelTime = ticksToMs(src, st->stime);
    UserTime = ticksToMs(src, st->utime);
    const qint64 boot = src.bootTimeSeconds();
    const long hz = src.clockTicksPerSecond();
    if (boot <= 0 || hz <= 0)
        return;
    const quint64 since = src.ticksTo100ns(st->startTime); // 100 ns after boot
    StartTime = platform::localSystemTime(boot + qint64(since / 10000000ull), quint32(since % 10000000ull) * 100u);
    const qint64 now = src.realtimeNowNs();
    const SYSTEMTIME local = platform::localSystemTime(now / 1000000000ll, quint32(now % 1000000000ll));
    GetTimeSpan(StartTime, local, RunTime);
}

// ---- TProcessItem ------------------------------------------------------------------------

TProcessItem::TProcessItem(TProcesses *AOwner)
    : Owner(AOwner), Memory(std::make_unique<TProcessMemory>(this)), Times(std::make_unique<TProcessTime>(this)),
      IO(std::make_unique<TProcessIO>(this))
{}

TProcessItem::~TProcessItem() = default;

ProcessSource &TProcessItem::source() const
{
    return Owner->Source();
}

void TProcessItem::TakeSample(const ProcessEntry &entry, quint64 pass)
{
    if (!entry.hasTimes)
        return;
    m_samplePass = pass;
    m_sampleTicks = entry.cpuTicks;
    m_sampleFaults = entry.faults;
}

platform::processes::ProcessHandle TProcessItem::Identity() const
{
    if (ProcessHandle)
        return ProcessHandle;
    return platform::processes::ProcessHandle{qint32(ProcessID), m_startTime, true};
}

unsigned TProcessItem::ChangesIn(const ProcessEntry &entry) const
{
    unsigned changes = 0;
    if (!entry.nameIs(m_nameBytes))
        changes |= NameChanged;
    if (entry.layout.known() && m_layout.known() && !(entry.layout == m_layout))
        changes |= ImageChanged;
    // An exact uid is compared as it is; the directory's owner only when it moved, so
    // that a disagreement between the two never costs a read on every pass.
    if (entry.uid ? (UserSid && *entry.uid != *UserSid) : (entry.ownerUid && entry.ownerUid != m_ownerUid))
        changes |= OwnerChanged;
    if (entry.procInode && m_procInode && entry.procInode != m_procInode)
        changes |= EntryChanged;
    return changes;
}

void TProcessItem::SetName(const ProcessEntry &entry)
{
    m_nameBytes = entry.nameBytes();
    Name = entry.displayName();
    if (m_nameBytes.size() != 15 || IsSystemProcess())
        return;
    // The kernel keeps 15 bytes of a program's name: the program file, or failing that the
    // first argument, tells the whole of it. Bytes are compared, since the cut may fall
    // inside a character.
    for (const QString &whole : {Path, m_firstArgument}) {
        const QString file = whole.section(QLatin1Char('/'), -1);
        const QByteArray bytes = file.toUtf8();
        if (bytes.size() > m_nameBytes.size() && bytes.startsWith(m_nameBytes)) {
            Name = file;
            return;
        }
    }
    if (!entry.name.isEmpty())
        return;
    // No whole name to be had: a character cut in two is left out, not shown as a mark.
    qsizetype keep = m_nameBytes.size();
    for (qsizetype i = keep - 1; i >= 0 && i >= keep - 4; --i) {
        const uchar c = uchar(m_nameBytes[i]);
        if ((c & 0xC0) == 0x80)
            continue; // inside a character
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (i + length > keep)
            keep = i;
        break;
    }
    Name = QString::fromUtf8(m_nameBytes.left(keep));
}

bool TProcessItem::ReadUserAgain(const ProcessEntry &entry)
{
    const auto uid = entry.uid ? entry.uid : source().uid(ProcessHandle);
    if (!uid || uid == UserSid)
        return false;
    UserSid = uid;
    UserName.clear();
    Domain.clear();
    ReadUserName();
    return true;
}

bool TProcessItem::Reload(const ProcessEntry &entry, unsigned changes)
{
    // A new name with the same layout is a rename; where the layout cannot be seen, a new
    // name may as well be a new program, and everything is read again. So is a new /proc
    // entry where pidfds have no inodes: it may be another process nothing else tells
    // apart. Kernel threads have no program: for them a new name is only a name.
    const bool image = !IsSystemProcess() &&
        ((changes & ImageChanged) || ((changes & NameChanged) && !(entry.layout.known() && m_layout.known())) ||
         ((changes & EntryChanged) && ProcessHandle.inode == 0));
    if (image) {
        // What cannot be read of the new program stays empty rather than the old one's.
        Path.clear();
        CommandLine.clear();
        m_firstArgument.clear();
        ReadImagePath();
        ReadCommandLine();
        ReadIcon();
    }
    if (changes & (NameChanged | ImageChanged)) {
        SetName(entry);
        m_layout = entry.layout;
    }
    bool userChanged = false;
    if (image || (changes & OwnerChanged))
        userChanged = ReadUserAgain(entry); // a set-user-ID program changes both
    if (image) {
        // What is missing now is retried as for a new item, an exhausted item included.
        if (Path.isEmpty() || CommandLine.isEmpty() || UserName.isEmpty())
            DetailsComplete = false;
        if (!DetailsComplete && FillAttempts > 1)
            FillAttempts = 1;
    }
    return image || (changes & (NameChanged | ImageChanged)) || userChanged;
}

void TProcessItem::UpdateCPUUsage()
{
    CPUUsage = 0;
    ProcessSource &src = source();
    const double now = double(src.monotonicNow());
    const double elapsed = (now - LastSystemTime) * double(Owner->ProcessorCount);
    if (ProcessID != 0) {
        if (!ProcessHandle)
            return;
        quint64 ticks = 0;
        if (m_samplePass != 0 && m_samplePass == Owner->m_pass) {
            ticks = m_sampleTicks;
        } else if (const auto st = src.stat(ProcessHandle)) {
            ticks = st->utime + st->stime;
        } else {
            return;
        }
        const double processTime = double(src.ticksTo100ns(ticks));
        if (LastSystemTime > 0 && elapsed != 0) {
            const double used = processTime - LastProcessTime;
            // Clamped, not wrapped: 150 is 100, not 49.
            CPUUsage = int(qBound(0.0, roundEven(100.0 * used / elapsed), 100.0));
        }
        LastSystemTime = now;
        LastProcessTime = processTime;
        return;
    }
    const auto idle = src.idleTime();
    if (!idle)
        return;
    const double idleTime = double(*idle);
    if (LastSystemTime > 0 && elapsed != 0) {
        const double used = idleTime - LastIdleTime;
        CPUUsage = int(qBound(0.0, roundEven(100.0 * used / elapsed), 99.0));
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
    if (DetailsComplete || m_reloadPass == Owner->m_pass)
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
        if (const auto h = source().open(ProcessID, m_startTime))
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
    if (const auto uid = source().uid(ProcessHandle))
        UserSid = *uid;
}

void TProcessItem::ReadParentPID()
{
    if (const auto st = source().stat(ProcessHandle))
        ParentProcessID = quint32(st->ppid);
}

void TProcessItem::ReadSessionID()
{
    if (const auto st = source().stat(ProcessHandle))
        SessionID = quint32(qMax(0, st->session));
}

void TProcessItem::ReadUserName()
{
    if (!ProcessHandle || !UserSid)
        return; // nothing to look up: left empty, to be retried
    ProcessSource &src = source();
    const QString domain = src.domainName();
    // An account without a name shows its number, as ps does.
    UserName = Owner->AccountName(*UserSid).value_or(QString::number(*UserSid));
    Domain = domain;
}

void TProcessItem::ReadImagePath()
{
    if (!ProcessHandle || IsSystemProcess())
        return;
    if (const auto exe = source().exePath(ProcessHandle); exe && !exe->isEmpty())
        Path = NormalizePath(*exe);
}

void TProcessItem::ReadCommandLine()
{
    if (!ProcessHandle || IsSystemProcess())
        return;
    bool rawSingle = false;
    const auto args = source().cmdline(ProcessHandle, &rawSingle);
    if (!args || args->isEmpty())
        return;
    m_firstArgument = args->first();
    QString text;
    // A process that rewrote its own title leaves one string with no separators; it is
    // shown as written. A single argument that is the program file itself is quoted.
    if (rawSingle && args->size() == 1 && args->first().contains(QLatin1Char(' ')) && args->first() != Path)
        text = args->first();
    else
        text = platform::processes::joinCommandLine(*args);
    if (!text.isEmpty())
        CommandLine = NormalizePath(text);
}

QString TProcessItem::ImagePath()
{
    if (!ProcessHandle || IsSystemProcess() || Path.trimmed().isEmpty())
        return QString();
    return source().pathIsImage(ProcessHandle, Path) ? Path : QString();
}

int TProcessItem::OpenImage()
{
    if (!ProcessHandle || IsSystemProcess())
        return -1;
    return source().openImage(ProcessHandle);
}

void TProcessItem::ReadIcon()
{
    Icon.clear();
    IconIndex = -1;
    if (IsSystemProcess() || Path.trimmed().isEmpty())
        return;
    const QString path = ImagePath();
    if (path.isEmpty())
        return;
    if (const auto icon = Owner->FileIcon(path)) {
        Icon = icon->first;
        IconIndex = icon->second;
    }
}

int TProcessItem::GetHandleCount()
{
    if (!ProcessHandle)
        return 0;
    return qMax(0, source().fdCount(ProcessHandle));
}

int TProcessItem::GetThreadCount()
{
    if (!ProcessHandle)
        return 0;
    const auto st = source().stat(ProcessHandle);
    return st ? qMax(0, st->numThreads) : 0;
}

int TProcessItem::GetModuleCount()
{
    if (!ProcessHandle)
        return 0;
    return qMax(0, source().moduleCount(ProcessHandle));
}

quint32 TProcessItem::GetPriority()
{
    if (!ProcessHandle)
        return 0;
    const auto s = source().sched(ProcessHandle);
    return s ? TProcessHelper::PriorityClassOf(s->policy, s->nice) : 0;
}

bool TProcessItem::GetAffinity(quint32 CPUIndex)
{
    if (CPUIndex >= Owner->ProcessorCount || !ProcessHandle)
        return false;
    const auto mask = source().affinity(ProcessHandle);
    // The whole CPU set: no index is folded onto another.
    return mask && CPUIndex < mask->size() && (*mask)[CPUIndex];
}

void TProcessItem::Suspend()
{
    TProcessHelper::Suspend(ProcessID, m_startTime, ProcessHandle.inode);
}

void TProcessItem::Resume()
{
    TProcessHelper::Resume(ProcessID, m_startTime, ProcessHandle.inode);
}

bool TProcessItem::Terminate()
{
    return TProcessHelper::Terminate(ProcessID, m_startTime, ProcessHandle.inode);
}

bool TProcessItem::TerminateTree()
{
    return TProcessHelper::TerminateTree(ProcessID, m_startTime, ProcessHandle.inode);
}

bool TProcessItem::TerminateAndDelete()
{
    return TProcessHelper::TerminateAndDelete(ProcessID, m_startTime, ProcessHandle.inode);
}

bool TProcessItem::SetPriority(quint16 PriorityClass)
{
    return TProcessHelper::SetPriority(ProcessID, PriorityClass, m_startTime, ProcessHandle.inode);
}

bool TProcessItem::SetAffinity(quint32 CPUIndex, bool Enabled)
{
    return TProcessHelper::SetAffinity(ProcessID, CPUIndex, Enabled, m_startTime, ProcessHandle.inode);
}

// ---- TProcesses --------------------------------------------------------------------------

TProcesses::TProcesses(QObject *AOwner, ProcessSource *Source)
    : QObject(AOwner), m_source(Source ? Source : &platform::processes::defaultProcessSource())
{
    ProcessorCount = TProcessHelper::GetProcessorCount(*m_source);
}

TProcesses::~TProcesses()
{
    m_byPid.clear();
    m_items.clear();
}

void TProcesses::Clear()
{
    // A handler that clears the list in the middle of a pass would pull items from
    // under it.
    if (Busy)
        return;
    m_byPid.clear();
    m_items.clear();
}

int TProcesses::GetCount() const
{
    return int(m_items.size());
}

TProcessItem *TProcesses::GetItem(int Index) const
{
    if (quint32(Index) >= quint32(m_items.size()))
        return nullptr;
    return m_items[std::size_t(Index)].get();
}

TProcessItem *TProcesses::ItemByPID(quint32 PID) const
{
    return m_byPid.value(PID, nullptr);
}

std::optional<QString> TProcesses::AccountName(quint32 uid)
{
    if (!Busy)
        return m_source->accountName(uid);
    const auto known = m_accountNames.constFind(uid);
    if (known != m_accountNames.cend())
        return *known;
    const auto name = m_source->accountName(uid);
    m_accountNames.insert(uid, name);
    return name;
}

std::optional<std::pair<QString, int>> TProcesses::FileIcon(const QString &path)
{
    auto look = [&path]() -> std::optional<std::pair<QString, int>> {
        const auto icon = platform::shell::fileIcon(path);
        if (!icon)
            return std::nullopt;
        return std::make_pair(icon->iconName, icon->index);
    };
    if (!Busy)
        return look();
    const auto known = m_fileIcons.constFind(path);
    if (known != m_fileIcons.cend())
        return *known;
    const auto icon = look();
    m_fileIcons.insert(path, icon);
    return icon;
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
        bool &flag;
        QHash<quint32, std::optional<QString>> &names;
        QHash<QString, std::optional<std::pair<QString, int>>> &icons;
        ProcessSource &source;
        ~BusyGuard()
        {
            source.unpin();
            flag = false;
            names.clear();
            icons.clear();
        }
    } guard{Busy, m_accountNames, m_fileIcons, *m_source};

    std::vector<ProcessEntry> &entries = m_entries;
    entries.clear();
    bool primary = true;
    bool ok = m_source->enumeratePrimary(entries) && !entries.empty();
    if (!ok) {
        primary = false;
        entries.clear();
        ok = m_source->enumerateFallback(entries) && !entries.empty();
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

void TProcesses::RemoveAt(std::size_t index)
{
    TProcessItem *item = m_items[index].get();
    const quint32 pid = item->ProcessID;
    // Fired before the item goes: the handler may still look it up.
    if (OnProcessRemoved)
        OnProcessRemoved(this, pid);
    m_byPid.remove(pid);
    m_items.erase(m_items.begin() + std::ptrdiff_t(index));
}

void TProcesses::DropEnded(const std::vector<ProcessEntry> *entries)
{
    if (entries) {
        // Alive means listed by this pass with the same start time; no handle is needed.
        for (const ProcessEntry &e : *entries) {
            TProcessItem *item = ItemByPID(e.pid);
            if (!item || item->m_startTime != e.startTime || e.pid == 0)
                continue;
            // Running a new program, a new name or user keep the identifier and start time,
            // and so does a new process that got the identifier within the same clock tick
            // (its /proc entry is a new one): only on such a change is the process asked
            // whether it is still the one the item knows.
            const unsigned changes = item->ChangesIn(e);
            if (changes && !m_source->isAlive(item->Identity()))
                continue;
            item->m_seenPass = m_pass;
            item->m_pendingChanges = changes;
        }
    }
    for (std::size_t i = m_items.size(); i-- > 0;) {
        TProcessItem *item = m_items[i].get();
        if (item->ProcessID == 0)
            continue;
        bool alive;
        if (entries)
            alive = item->m_seenPass == m_pass;
        else
            alive = m_source->isAlive(item->Identity());
        if (!alive)
            RemoveAt(i);
    }
}

TProcessItem *TProcesses::CreateItem(const ProcessEntry &entry, bool primary)
{
    auto owned = std::make_unique<TProcessItem>(this);
    TProcessItem *item = owned.get();
    m_items.push_back(std::move(owned));
    m_byPid.insert(entry.pid, item);
    item->ProcessID = entry.pid;
    item->m_startTime = entry.startTime;
    if (entry.pid == 0) {
        item->Name = QStringLiteral("System Idle Process");
        item->UserName = QStringLiteral("root");
        item->Domain = m_source->domainName();
        item->Icon.clear();
        item->IconIndex = -1;
        return item;
    }
    item->m_kernelThread = entry.kernelThread;
    if (const auto h = m_source->open(entry.pid, entry.startTime))
        item->ProcessHandle = *h;
    // The reads below share the pin that found the process.
    struct Reads
    {
        ProcessSource &source;
        ~Reads() { source.unpin(); }
    } reads{*m_source};
    m_source->holdForReads(item->ProcessHandle);
    item->Name = entry.displayName();
    item->m_nameBytes = entry.nameBytes();
    item->m_layout = entry.layout;
    item->m_ownerUid = entry.ownerUid;
    item->m_procInode = entry.procInode;
    if (primary) {
        // The owner of /proc/PID is the effective user whether or not the process is dumpable
        // (the kernel keeps it so, for readers that stat the directory): no status file to read.
        if (entry.uid)
            item->UserSid = entry.uid;
        else if (entry.ownerUid && item->ProcessHandle)
            item->UserSid = entry.ownerUid;
        else
            item->ReadTokenUser();
        // The stat file the enumeration has just read holds the parent: no second read.
        if (entry.hasTimes && item->ProcessHandle)
            item->ParentProcessID = entry.ppid;
        else
            item->ReadParentPID();
        item->SessionID = entry.session;
    } else {
        item->ReadTokenUser();
        item->ParentProcessID = entry.ppid;
        item->ReadSessionID();
    }
    item->ReadUserName();
    item->ReadImagePath();
    item->ReadCommandLine();
    item->ReadIcon();
    item->SetName(entry);
    return item;
}

void TProcesses::ApplyEntries(std::vector<ProcessEntry> &entries, bool primary)
{
    ++m_pass;
    // The idle process is not a real process: it heads every enumeration.
    ProcessEntry idle;
    idle.pid = 0;
    idle.name = QStringLiteral("System Idle Process");
    entries.erase(std::remove_if(entries.begin(), entries.end(), [](const ProcessEntry &e) { return e.pid == 0; }),
                  entries.end());
    entries.insert(entries.begin(), idle);

    if (!FirstPass)
        DropEnded(&entries);

    for (const ProcessEntry &e : entries) {
        TProcessItem *item = ItemByPID(e.pid);
        if (!item) {
            item = CreateItem(e, primary);
            if (!FirstPass && OnProcessAdded)
                OnProcessAdded(this, e.pid);
            // A handler may not free items (Clear is refused while busy), so `item` lives.
        } else if (item->m_pendingChanges) {
            const unsigned changes = std::exchange(item->m_pendingChanges, 0u);
            if (item->Reload(e, changes)) {
                item->m_reloadPass = m_pass;
                if (OnProcessReloaded)
                    OnProcessReloaded(this, e.pid);
            }
        }
        if (e.layout.known())
            item->m_layout = e.layout;
        item->m_ownerUid = e.ownerUid;
        item->m_procInode = e.procInode;
        item->TakeSample(e, m_pass);
        item->UpdateCPUUsage();
        if (!FirstPass)
            item->CompleteDetails();
    }
}
