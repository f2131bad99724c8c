#include "sysinfo/ProcessHelper.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/Dpkg.h"
#include "platform/files/FolderNoFollow.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/ProcessActions.h"
#include "platform/processes/Spawn.h"
#include "sysinfo/Processes.h"

#include <QFile>
#include <QHash>
#include <QPair>

#include <mutex>

using namespace platform::processes;

namespace {

struct Scheduling
{
    int policy;
    int nice;
};

std::optional<Scheduling> schedulingOf(quint32 priorityClass)
{
    switch (priorityClass) {
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

bool isOwnProcess(quint32 pid)
{
    return platform::processes::isOwnProcess(qint64(pid));
}

// Suspends not yet resumed, per process (identifier and start time).
struct SuspendCounts
{
    std::mutex lock;
    QHash<QPair<qint32, quint64>, int> counts;
};

SuspendCounts &suspendCounts()
{
    static SuspendCounts counts;
    return counts;
}

// Files whose deletion would damage the system: the system's own directories and
// whatever an installed package owns. The path has been checked to hold no link.
bool isSystemFile(const QString &path)
{
    const QString top = path.section(QLatin1Char('/'), 1, 1);
    if (top == QLatin1String("bin") || top == QLatin1String("sbin") || top.startsWith(QLatin1String("lib")) ||
        top == QLatin1String("etc") || top == QLatin1String("boot"))
        return true;
    if (top == QLatin1String("usr") && !path.startsWith(QLatin1String("/usr/local/")))
        return true;
    return platform::files::owningPackage(path).has_value();
}

} // namespace

quint32 TProcessHelper::GetProcessorCount()
{
    return GetProcessorCount(defaultProcessSource());
}

quint32 TProcessHelper::GetProcessorCount(ProcessSource &Source)
{
    const unsigned n = Source.processorCount();
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
    const auto words = splitCommandLine(CommandLine);
    if (!words || words->isEmpty())
        return false;
    return spawnDetached(*words);
}

void TProcessHelper::Suspend(quint32 PID, std::optional<quint64> StartTime, quint64 Inode)
{
    if (isOwnProcess(PID))
        return;
    const auto process = PidFd::open(PID, StartTime, Inode);
    if (!process)
        return;
    SuspendCounts &s = suspendCounts();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto key = qMakePair(process->pid(), process->startTime());
    int &count = s.counts[key];
    if (count == 0 && !process->stop()) {
        s.counts.remove(key);
        return;
    }
    ++count;
}

void TProcessHelper::Resume(quint32 PID, std::optional<quint64> StartTime, quint64 Inode)
{
    const auto process = PidFd::open(PID, StartTime, Inode);
    if (!process)
        return;
    SuspendCounts &s = suspendCounts();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto key = qMakePair(process->pid(), process->startTime());
    const int count = s.counts.value(key, 0);
    if (count > 1) {
        s.counts[key] = count - 1;
        return;
    }
    s.counts.remove(key);
    if (count == 1) {
        process->resume();
        return;
    }
    // Stopped by someone else: resuming it is what the user asks for.
    ProcStat st;
    if (readStat(process->pid(), st) && (st.state == 'T' || st.state == 't'))
        process->resume();
}

int TProcessHelper::SuspendCount(quint32 PID)
{
    SuspendCounts &s = suspendCounts();
    std::lock_guard<std::mutex> guard(s.lock);
    int total = 0;
    for (auto it = s.counts.cbegin(); it != s.counts.cend(); ++it) {
        if (it.key().first == qint32(PID))
            total += it.value();
    }
    return total;
}

bool TProcessHelper::Terminate(quint32 PID, std::optional<quint64> StartTime, quint64 Inode)
{
    if (isOwnProcess(PID))
        return false;
    const auto process = PidFd::open(PID, StartTime, Inode);
    return process && process->kill();
}

bool TProcessHelper::TerminateTree(quint32 PID, std::optional<quint64> StartTime, quint64 Inode)
{
    if (isOwnProcess(PID))
        return false;
    const auto process = PidFd::open(PID, StartTime, Inode);
    if (!process)
        return false;
    const std::vector<ProcStat> all = listProcesses();
    if (all.empty())
        return false;
    bool result = true;
    for (const ProcStat &p : all) {
        if (p.ppid != process->pid() || p.pid == process->pid())
            continue;
        if (isOwnProcess(quint32(p.pid))) {
            result = false; // this program does not end itself
            continue;
        }
        const auto child = PidFd::open(p.pid, p.startTime);
        // Held by its pidfd, it must still be a child of the held process: an identifier
        // that passed to another process since the list was read is not ended.
        ProcStat now;
        if (!child || !readStat(child->pid(), now) || now.ppid != process->pid() || !child->held() || !child->kill())
            result = false;
    }
    if (!process->kill())
        result = false;
    return result;
}

bool TProcessHelper::TerminateAndDelete(quint32 PID, std::optional<quint64> StartTime, quint64 Inode)
{
    using platform::files::beforeStep;
    using platform::files::FolderNoFollow;
    if (isOwnProcess(PID))
        return false;
    const auto process = PidFd::open(PID, StartTime, Inode);
    if (!process)
        return false;
    // The link's own bytes: a file name need not be UTF-8, and is never rewritten.
    QByteArray path;
    if (const auto exe = readExeLink(process->pid()))
        path = *exe;
    const auto image = imageIdentity(process->pid());
    if (!process->held())
        return false; // what was read may be another process's
    if (path.isEmpty() || !image) {
        process->kill(); // nothing to delete: the process still ends, the delete fails
        return false;
    }

    // The folder is held from here on without any link on its way, and every look at the
    // file and its removal go through it: a folder swapped for a link later changes nothing.
    // The path speaks for the process only when, resolved here, it is the very file the
    // process runs; a path that names anything else (another mount namespace, a link, a file
    // put in its place) is refused before anything ends.
    QByteArray folderPath, name;
    beforeStep();
    std::optional<FolderNoFollow> folder;
    if (platform::files::splitFolderAndName(path, folderPath, name))
        folder = FolderNoFollow::open(folderPath);
    beforeStep();
    if (!folder || folder->identityOf(name) != image)
        return false;
    // A script's image is its interpreter: never end every shell and delete it.
    if (isSystemFile(QFile::decodeName(path)))
        return false;
    if (ownImageIdentity() == image)
        return false; // this program's own file

    beforeStep();
    if (!process->kill())
        return false;
    std::vector<PidFd> ended;
    for (const ProcStat &p : listProcesses()) {
        if (p.pid == process->pid() || isOwnProcess(quint32(p.pid)))
            continue;
        // Held first, then looked at, then still held: the image read is this process's.
        auto other = PidFd::open(p.pid, p.startTime);
        if (!other)
            continue; // ended meanwhile
        if (imageIdentity(p.pid) != image || !other->held())
            continue;
        if (!other->kill())
            return false;
        ended.push_back(std::move(*other));
    }
    // Delete once they are gone, waiting at most about a second in all.
    beforeStep();
    qint64 left = 1000;
    const qint64 start = qint64(monotonicNow100ns() / 10000);
    auto waitFor = [&](const PidFd &p) {
        const qint64 spent = qint64(monotonicNow100ns() / 10000) - start;
        p.waitEnded(int(qMax<qint64>(0, left - spent)));
    };
    waitFor(*process);
    for (const PidFd &p : ended)
        waitFor(p);
    // The name in the held folder must still be the file those processes ran.
    beforeStep();
    if (folder->identityOf(name) != image)
        return false;
    beforeStep();
    return folder->remove(name);
}

bool TProcessHelper::SetPriority(quint32 PID, quint16 PriorityClass, std::optional<quint64> StartTime, quint64 Inode)
{
    const auto sched = schedulingOf(PriorityClass);
    if (!sched)
        return false;
    const auto process = PidFd::open(PID, StartTime, Inode);
    if (!process)
        return false;
    return forEachThread(*process, [&](pid_t tid) { return setThreadScheduling(tid, sched->policy, sched->nice); });
}

bool TProcessHelper::SetAffinity(quint32 PID, quint32 CPUIndex, bool Enabled, std::optional<quint64> StartTime,
                                 quint64 Inode)
{
    if (CPUIndex >= GetProcessorCount())
        return false;
    const auto process = PidFd::open(PID, StartTime, Inode);
    if (!process)
        return false;
    auto mask = readAffinity(process->pid());
    if (!mask)
        return false;
    if (mask->size() <= CPUIndex)
        mask->resize(CPUIndex + 1, false);
    (*mask)[CPUIndex] = Enabled;
    bool any = false;
    for (const bool b : *mask)
        any = any || b;
    if (!any)
        return false; // no processor left: refused, nothing changed
    return forEachThread(*process, [&](pid_t tid) { return setThreadAffinity(tid, *mask); });
}
