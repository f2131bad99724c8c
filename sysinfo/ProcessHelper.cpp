#include "sysinfo/ProcessHelper.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/Dpkg.h"
#include "platform/files/FolderNoFollow.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/ProcessActions.h"
#include "platform/processes/Spawn.h"
#include "sysinfo/Logging.h"
#include "sysinfo/Processes.h"

#include <QFile>
#include <QHash>
#include <QPair>

#include <cerrno>
#include <mutex>

using namespace platform::processes;

namespace {

struct Scheduling
{
    int Policy;
    int Nice;
};

std::optional<Scheduling> SchedulingOf(quint32 PriorityClass)
{
    switch (PriorityClass) {
    case IDLE_PRIORITY_CLASS:
        return Scheduling{kSchedOther, 19};
    case BELOW_NORMAL_PRIORITY_CLASS:
        return Scheduling{kSchedOther, 10};
    case NORMAL_PRIORITY_CLASS:
        return Scheduling{kSchedOther, 0};
    case ABOVE_NORMAL_PRIORITY_CLASS:
        return Scheduling{kSchedOther, -5};
    case HIGH_PRIORITY_CLASS:
        return Scheduling{kSchedOther, -10};
    case REALTIME_PRIORITY_CLASS:
        return Scheduling{kSchedRoundRobin, 0};
    default:
        return std::nullopt;
    }
}

bool IsOwnProcess(quint32 Pid)
{
    return platform::processes::IsOwnProcess(qint64(Pid));
}

// An action asked of this program itself, which it never takes on itself.
bool RefusedAsOwn(quint32 Pid)
{
    if (!IsOwnProcess(Pid))
        return false;
    qCWarning(lcSysinfo, "process %u is this program: refused", Pid);
    return true;
}

// Suspends not yet resumed, per process (identifier and start time).
struct SuspendCounts
{
    std::mutex Lock;
    QHash<QPair<qint32, quint64>, int> Counts;
};

SuspendCounts &TheSuspendCounts()
{
    static SuspendCounts counts;
    return counts;
}

// Files whose deletion would damage the system: the system's own directories and
// whatever an installed package owns. The path has been checked to hold no link.
bool IsSystemFile(const QString &Path)
{
    const QString top = Path.section(QLatin1Char('/'), 1, 1);
    if (top == QLatin1String("bin") || top == QLatin1String("sbin") || top.startsWith(QLatin1String("lib")) ||
        top == QLatin1String("etc") || top == QLatin1String("boot"))
        return true;
    if (top == QLatin1String("usr") && !Path.startsWith(QLatin1String("/usr/local/")))
        return true;
    return platform::files::OwningPackage(Path).has_value();
}

#if TASKVANE_TEST_SEAMS
std::atomic<TOperationReadHook> s_operationReadHook{nullptr};
#endif

// The process an operation acts on, opened at the moment of the operation.
std::optional<PidFd> OpenTarget(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode)
{
    TASKVANE_TEST_SEAM(if (const TOperationReadHook hook = s_operationReadHook.load()) hook(Pid));
    return PidFd::Open(Pid, StartTime, Inode);
}

// Without a hand-over the operation always acts.
bool MayAct(TOperationHandOver *HandOver)
{
    if (!HandOver || HandOver->BeginActing())
        return true;
    qCWarning(lcSysinfo) << "process operation given up: it took too long";
    return false;
}

} // namespace

#if TASKVANE_TEST_SEAMS
void SetOperationReadHook(TOperationReadHook Hook)
{
    s_operationReadHook.store(Hook);
}
#endif

bool TOperationHandOver::BeginActing()
{
    int pending = Pending;
    return m_State.compare_exchange_strong(pending, Acting);
}

void TOperationHandOver::Finish(bool Result)
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Result)
            return;
        m_Result = Result;
    }
    m_Finished.notify_all();
}

bool TOperationHandOver::Wait(int Ms)
{
    std::unique_lock<std::mutex> l(m_Lock);
    if (m_Finished.wait_for(l, std::chrono::milliseconds(qMax(0, Ms)), [this] { return m_Result.has_value(); }))
        return *m_Result;
    int pending = Pending;
    if (m_State.compare_exchange_strong(pending, Cancelled))
        return false;
    // Acting, or done acting: what is left returns at once.
    m_Finished.wait(l, [this] { return m_Result.has_value(); });
    return *m_Result;
}

quint32 TProcessHelper::GetProcessorCount()
{
    return GetProcessorCount(DefaultProcessSource());
}

quint32 TProcessHelper::GetProcessorCount(ProcessSource &Source)
{
    const unsigned n = Source.ProcessorCount();
    return n == 0 ? 1u : quint32(n);
}

quint32 TProcessHelper::PriorityClassOf(int Policy, int Nice)
{
    if (Policy == kSchedRoundRobin || Policy == kSchedFifo)
        return REALTIME_PRIORITY_CLASS;
    if (Policy == kSchedIdle || Nice >= 15)
        return IDLE_PRIORITY_CLASS;
    if (Nice >= 5)
        return BELOW_NORMAL_PRIORITY_CLASS;
    if (Nice > -3)
        return NORMAL_PRIORITY_CLASS;
    if (Nice > -8)
        return ABOVE_NORMAL_PRIORITY_CLASS;
    return HIGH_PRIORITY_CLASS;
}

bool TProcessHelper::CreateProcess(const QString &CommandLine)
{
    const auto words = SplitCommandLine(CommandLine);
    if (!words || words->isEmpty()) {
        qCWarning(lcSysinfo) << "command line refused:" << CommandLine;
        return false;
    }
    return SpawnDetached(*words);
}

bool TProcessHelper::Suspend(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode, TOperationHandOver *HandOver)
{
    if (RefusedAsOwn(Pid))
        return false;
    const auto process = OpenTarget(Pid, StartTime, Inode);
    if (!process || !MayAct(HandOver))
        return false;
    SuspendCounts &s = TheSuspendCounts();
    std::lock_guard<std::mutex> guard(s.Lock);
    const auto key = qMakePair(process->Pid(), process->StartTime());
    int &count = s.Counts[key];
    if (count == 0 && !process->Stop()) {
        s.Counts.remove(key);
        return false;
    }
    ++count;
    return true;
}

bool TProcessHelper::Resume(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode, TOperationHandOver *HandOver)
{
    const auto process = OpenTarget(Pid, StartTime, Inode);
    if (!process)
        return false;
    // Whether someone else stopped it is read before anything is decided: the count's lock is
    // never held over a read.
    ProcStat st;
    const bool stopped = ReadStat(process->Pid(), st) && (st.State == 'T' || st.State == 't');
    if (!MayAct(HandOver))
        return false;
    SuspendCounts &s = TheSuspendCounts();
    std::lock_guard<std::mutex> guard(s.Lock);
    const auto key = qMakePair(process->Pid(), process->StartTime());
    const int count = s.Counts.value(key, 0);
    if (count > 1) {
        s.Counts[key] = count - 1;
        return true;
    }
    s.Counts.remove(key);
    // Stopped by someone else: resuming it is what the user asks for.
    if (count == 1 || stopped)
        return process->Resume();
    return true;
}

int TProcessHelper::SuspendCount(quint32 Pid)
{
    SuspendCounts &s = TheSuspendCounts();
    std::lock_guard<std::mutex> guard(s.Lock);
    int total = 0;
    for (auto it = s.Counts.cbegin(); it != s.Counts.cend(); ++it) {
        if (it.key().first == qint32(Pid))
            total += it.value();
    }
    return total;
}

bool TProcessHelper::Terminate(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode,
                               TOperationHandOver *HandOver)
{
    if (RefusedAsOwn(Pid))
        return false;
    const auto process = OpenTarget(Pid, StartTime, Inode);
    return process && MayAct(HandOver) && process->Kill();
}

bool TProcessHelper::TerminateTree(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode)
{
    if (RefusedAsOwn(Pid))
        return false;
    const std::vector<ProcStat> all = ListProcesses();
    if (all.empty())
        return false;
    TChildren children;
    for (const ProcStat &p : all) {
        if (p.ParentPid == qint32(Pid) && p.Pid != qint32(Pid))
            children.push_back({quint32(p.Pid), p.StartTime});
    }
    return TerminateTree(Pid, StartTime, Inode, children);
}

bool TProcessHelper::TerminateTree(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode,
                                   const TChildren &Children, TOperationHandOver *HandOver)
{
    if (RefusedAsOwn(Pid))
        return false;
    const auto process = OpenTarget(Pid, StartTime, Inode);
    if (!process)
        return false;
    bool result = true;
    // Every child is looked at before anything ends: past this, only signals are sent.
    std::vector<PidFd> ended;
    for (const auto &[pid, start] : Children) {
        if (qint32(pid) == process->Pid())
            continue;
        if (RefusedAsOwn(pid)) {
            result = false; // this program does not end itself
            continue;
        }
        // Held by its pidfd, it must still be a child of the held process: an identifier that
        // passed to another process, or a child that left it, is not ended.
        auto child = PidFd::Open(pid, start);
        ProcStat now;
        if (!child || !ReadStat(child->Pid(), now) || now.ParentPid != process->Pid() || !child->Held())
            continue;
        ended.push_back(std::move(*child));
    }
    if (!MayAct(HandOver))
        return false;
    for (const PidFd &child : ended) {
        if (!child.Kill())
            result = false;
    }
    if (!process->Kill())
        result = false;
    return result;
}

bool TProcessHelper::TerminateAndDelete(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode,
                                        const std::function<bool()> &Cancelled)
{
    using platform::files::FolderNoFollow;
    auto given = [&Cancelled] {
        if (!Cancelled || !Cancelled())
            return false;
        qCWarning(lcSysinfo) << "ending and deleting given up: it took too long";
        return true;
    };
    if (RefusedAsOwn(Pid))
        return false;
    const auto process = OpenTarget(Pid, StartTime, Inode);
    if (!process)
        return false;
    // The link's own bytes: a file name need not be UTF-8, and is never rewritten.
    QByteArray path;
    if (const auto exe = ReadExeLink(process->Pid()))
        path = *exe;
    const auto image = ImageIdentity(process->Pid());
    if (!process->Held())
        return false; // what was read may be another process's
    if (path.isEmpty() || !image) {
        process->Kill(); // nothing to delete: the process still ends, the delete fails
        return false;
    }

    // The folder is held from here on without any link on its way, and every look at the
    // file and its removal go through it: a folder swapped for a link later changes nothing.
    // The path speaks for the process only when, resolved here, it is the very file the
    // process runs; a path that names anything else (another mount namespace, a link, a file
    // put in its place) is refused before anything ends.
    QByteArray folderPath, name;
    TASKVANE_TEST_SEAM(platform::files::BeforeStep());
    std::optional<FolderNoFollow> folder;
    if (platform::files::SplitFolderAndName(path, folderPath, name))
        folder = FolderNoFollow::Open(folderPath);
    TASKVANE_TEST_SEAM(platform::files::BeforeStep());
    if (!folder || folder->IdentityOf(name) != image) {
        qCWarning(lcSysinfo) << "refused: the path is not the file the process runs:" << QFile::decodeName(path);
        return false;
    }
    // A script's image is its interpreter: never end every shell and delete it.
    if (IsSystemFile(QFile::decodeName(path))) {
        qCWarning(lcSysinfo) << "refused to delete a system file:" << QFile::decodeName(path);
        return false;
    }
    if (OwnImageIdentity() == image) {
        qCWarning(lcSysinfo) << "refused to delete this program's own file";
        return false;
    }

    TASKVANE_TEST_SEAM(platform::files::BeforeStep());
    if (given() || !process->Kill())
        return false;
    std::vector<PidFd> ended;
    for (const ProcStat &p : ListProcesses()) {
        if (p.Pid == process->Pid() || IsOwnProcess(quint32(p.Pid)))
            continue;
        // Held first, then looked at, then still held: the image read is this process's.
        auto other = PidFd::Open(p.Pid, p.StartTime);
        if (!other)
            continue; // ended meanwhile
        if (ImageIdentity(p.Pid) != image || !other->Held())
            continue;
        if (given() || !other->Kill())
            return false;
        ended.push_back(std::move(*other));
    }
    // Delete once they are gone, waiting at most about a second in all.
    TASKVANE_TEST_SEAM(platform::files::BeforeStep());
    qint64 left = 1000;
    const qint64 start = qint64(MonotonicNow100ns() / 10000);
    auto waitFor = [&](const PidFd &P) {
        const qint64 spent = qint64(MonotonicNow100ns() / 10000) - start;
        P.WaitEnded(int(qMax<qint64>(0, left - spent)));
    };
    waitFor(*process);
    for (const PidFd &p : ended)
        waitFor(p);
    // The name in the held folder must still be the file those processes ran.
    TASKVANE_TEST_SEAM(platform::files::BeforeStep());
    if (folder->IdentityOf(name) != image) {
        qCWarning(lcSysinfo) << "not deleted: the name no longer holds the image:" << QFile::decodeName(path);
        return false;
    }
    TASKVANE_TEST_SEAM(platform::files::BeforeStep());
    return !given() && folder->Remove(name);
}

namespace {

// Runs `Action` on every thread of the process: the threads are read before anything is changed,
// and those that come meanwhile are caught afterwards (their result no longer counts: the
// caller may have been told already).
bool ChangeEveryThread(const PidFd &Process, const std::function<int(pid_t Tid)> &Action, TOperationHandOver *HandOver)
{
    const std::vector<qint32> threads = ReadThreadIds(Process.Pid());
    if (threads.empty() || !MayAct(HandOver))
        return false;
    for (const qint32 tid : threads) {
        const int err = Action(pid_t(tid));
        if (err != 0 && err != ESRCH) {
            qCWarning(lcSysinfo, "process %d, thread %d: error %d", int(Process.Pid()), int(tid), err);
            return false;
        }
    }
    // The process must still be the one looked at, or the threads were someone else's.
    if (!Process.Alive())
        return false;
    if (HandOver) {
        HandOver->Finish(true);
        ForEachThread(Process, Action);
        return true;
    }
    return ForEachThread(Process, Action);
}

} // namespace

bool TProcessHelper::SetPriority(quint32 Pid, quint16 PriorityClass, std::optional<quint64> StartTime, quint64 Inode,
                                 TOperationHandOver *HandOver)
{
    const auto sched = SchedulingOf(PriorityClass);
    if (!sched)
        return false;
    const auto process = OpenTarget(Pid, StartTime, Inode);
    if (!process)
        return false;
    return ChangeEveryThread(
        *process, [&](pid_t Tid) { return SetThreadScheduling(Tid, sched->Policy, sched->Nice); }, HandOver);
}

bool TProcessHelper::SetAffinity(quint32 Pid, quint32 CPUIndex, bool Enabled, std::optional<quint64> StartTime,
                                 quint64 Inode, TOperationHandOver *HandOver)
{
    if (CPUIndex >= GetProcessorCount()) {
        qCWarning(lcSysinfo, "processor %u does not exist", CPUIndex);
        return false;
    }
    const auto process = OpenTarget(Pid, StartTime, Inode);
    if (!process)
        return false;
    auto mask = ReadAffinity(process->Pid());
    if (!mask) {
        qCWarning(lcSysinfo, "process %d: its processor mask is unreadable", int(process->Pid()));
        return false;
    }
    if (mask->size() <= CPUIndex)
        mask->resize(CPUIndex + 1, false);
    (*mask)[CPUIndex] = Enabled;
    bool any = false;
    for (const bool b : *mask)
        any = any || b;
    if (!any) {
        qCWarning(lcSysinfo, "process %d: refused to take its last processor away", int(process->Pid()));
        return false; // nothing changed
    }
    return ChangeEveryThread(
        *process, [&](pid_t Tid) { return SetThreadAffinity(Tid, *mask); }, HandOver);
}
