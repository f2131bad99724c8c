#include "platform/processes/ProcessActions.h"

#include "platform/Logging.h"
#include "platform/files/NameBytes.h"

#include <QFile>
#include <QSet>

#include <atomic>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::processes {

bool IsValidPid(qint64 Pid)
{
    return Pid > 0 && Pid <= qint64(PidMax());
}

bool IsOwnProcess(qint64 Pid)
{
    return Pid == qint64(::getpid());
}

namespace {

constexpr long kPidFsMagic = 0x50494446; // "PIDF"

int OpenPidFd(qint32 Pid)
{
    return int(::syscall(SYS_pidfd_open, pid_t(Pid), 0u));
}

} // namespace

quint64 PidFdInode(int Fd)
{
    if (Fd < 0)
        return 0;
    // Older kernels give every pidfd the same anonymous inode: worth nothing as an identity.
    static std::atomic<int> pidFs{-1}; // not known yet
    int known = pidFs.load(std::memory_order_relaxed);
    if (known < 0) {
        struct statfs fs = {};
        if (::fstatfs(Fd, &fs) != 0)
            return 0;
        known = long(fs.f_type) == kPidFsMagic ? 1 : 0;
        pidFs.store(known, std::memory_order_relaxed);
    }
    struct stat st = {};
    if (known == 0 || ::fstat(Fd, &st) != 0)
        return 0;
    return quint64(st.st_ino);
}

std::optional<PidFd> PidFd::Open(qint64 Pid, std::optional<quint64> StartTime, quint64 Inode)
{
    if (!IsValidPid(Pid))
        return std::nullopt;
    const int fd = OpenPidFd(qint32(Pid));
    if (fd < 0) {
        qCWarning(lcPlatform, "pidfd_open(%lld): %s", Pid, std::strerror(errno));
        return std::nullopt;
    }
    if (Inode != 0) {
        const quint64 now = PidFdInode(fd);
        if (now != 0 && now != Inode) {
            qCWarning(lcPlatform, "process %lld: its identifier has passed to another process", Pid);
            ::close(fd);
            return std::nullopt;
        }
    }
    // With the pidfd held, the identifier cannot pass to another process unnoticed:
    // check that it is still the one that was listed.
    ProcStat st;
    if (!ReadStat(qint32(Pid), st) || st.IsZombie() || (StartTime && st.StartTime != *StartTime)) {
        qCWarning(lcPlatform, "process %lld: ended, a zombie or not the one listed", Pid);
        ::close(fd);
        return std::nullopt;
    }
    PidFd handle(fd, qint32(Pid), st.StartTime);
    if (!handle.Alive()) {
        qCWarning(lcPlatform, "process %lld: pidfd_send_signal(0): %s", Pid, std::strerror(errno));
        return std::nullopt;
    }
    return handle;
}

std::optional<PidFd> PidFd::Pin(const ProcessHandle &Handle)
{
    if (!Handle.Valid || Handle.Pid <= 0)
        return std::nullopt;
    const int fd = OpenPidFd(Handle.Pid);
    if (fd < 0 && (errno == ESRCH || errno == EINVAL))
        return std::nullopt;
    // Without pidfds (an old kernel, a sandbox) the start time is read before and after.
    PidFd pinned(fd, Handle.Pid, Handle.StartTime);
    if (fd >= 0 && Handle.Inode != 0) {
        const quint64 now = PidFdInode(fd);
        if (now != 0)
            return now == Handle.Inode ? std::optional<PidFd>(std::move(pinned)) : std::nullopt;
    }
    ProcStat st;
    if (!ReadStat(Handle.Pid, st) || st.StartTime != Handle.StartTime)
        return std::nullopt;
    return pinned;
}

std::optional<ProcessHandle> PidFd::Identify(qint32 Pid, quint64 StartTime, std::optional<PidFd> *Keep)
{
    if (Pid <= 0)
        return std::nullopt;
    const int fd = OpenPidFd(Pid);
    if (fd < 0 && (errno == ESRCH || errno == EINVAL))
        return std::nullopt;
    PidFd pinned(fd, Pid, StartTime);
    ProcStat st;
    if (!ReadStat(Pid, st) || st.StartTime != StartTime || !pinned.Held())
        return std::nullopt;
    ProcessHandle handle{Pid, StartTime, true};
    handle.Inode = PidFdInode(fd);
    if (Keep)
        *Keep = std::move(pinned);
    return handle;
}

bool PidFd::Held() const
{
    if (m_Fd.Get() < 0) {
        ProcStat st;
        return ReadStat(m_Pid, st) && st.StartTime == m_StartTime;
    }
    // A pidfd turns readable when its process ends.
    pollfd p{m_Fd.Get(), POLLIN, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, 0);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc == 0;
    }
}

quint64 PidFd::Inode() const
{
    return PidFdInode(m_Fd.Get());
}

bool PidFd::Alive() const
{
    return m_Fd.Get() >= 0 && ::syscall(SYS_pidfd_send_signal, m_Fd.Get(), 0, nullptr, 0u) == 0;
}

bool PidFd::SendSignal(int Signal) const
{
    if (m_Fd.Get() < 0)
        return false;
    if (::syscall(SYS_pidfd_send_signal, m_Fd.Get(), Signal, nullptr, 0u) == 0)
        return true;
    qCWarning(lcPlatform, "process %d: signal %d: %s", int(m_Pid), Signal, std::strerror(errno));
    return false;
}

bool PidFd::Kill() const
{
    return SendSignal(SIGKILL);
}

bool PidFd::Stop() const
{
    return SendSignal(SIGSTOP);
}

bool PidFd::Resume() const
{
    return SendSignal(SIGCONT);
}

bool PidFd::WaitEnded(int TimeoutMs) const
{
    if (m_Fd.Get() < 0)
        return false;
    pollfd p{m_Fd.Get(), POLLIN, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, TimeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

bool ForEachThread(const PidFd &Process, const std::function<int(pid_t Tid)> &Action)
{
    QSet<qint32> done;
    for (int round = 0; round < 16; ++round) {
        bool fresh = false;
        for (const qint32 tid : ReadThreadIds(Process.Pid())) {
            if (done.contains(tid))
                continue;
            fresh = true;
            done.insert(tid);
            const int err = Action(pid_t(tid));
            if (err != 0 && err != ESRCH) {
                qCWarning(lcPlatform, "process %d, thread %d: %s", int(Process.Pid()), int(tid), std::strerror(err));
                return false;
            }
        }
        if (!fresh)
            break;
    }
    // The process must still be the one we looked at, or the threads were someone else's.
    if (!done.isEmpty() && Process.Alive())
        return true;
    qCWarning(lcPlatform, "process %d: ended while its threads were being changed", int(Process.Pid()));
    return false;
}

const int kSchedOther = SCHED_OTHER;
const int kSchedRoundRobin = SCHED_RR;
const int kSchedFifo = SCHED_FIFO;
const int kSchedIdle = SCHED_IDLE;

int SetThreadScheduling(pid_t Tid, int Policy, int Nice)
{
    sched_param param{};
    param.sched_priority = Policy == SCHED_RR ? 1 : 0;
    if (::sched_setscheduler(Tid, Policy, &param) != 0)
        return errno;
    if (Policy == SCHED_OTHER && ::setpriority(PRIO_PROCESS, id_t(Tid), Nice) != 0)
        return errno;
    return 0;
}

int SetThreadAffinity(pid_t Tid, const std::vector<bool> &Cpus)
{
    const int count = qMax(1, int(Cpus.size()));
    cpu_set_t *set = CPU_ALLOC(count);
    if (!set)
        return ENOMEM;
    const std::size_t size = CPU_ALLOC_SIZE(count);
    CPU_ZERO_S(size, set);
    for (int i = 0; i < int(Cpus.size()); ++i) {
        if (Cpus[std::size_t(i)])
            CPU_SET_S(i, size, set);
    }
    const int rc = ::sched_setaffinity(Tid, size, set);
    const int err = rc == 0 ? 0 : errno;
    CPU_FREE(set);
    return err;
}

std::optional<FileIdentity> ImageIdentity(qint32 Pid)
{
    if (Pid <= 0)
        return std::nullopt;
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/exe", int(Pid));
    struct stat st = {};
    if (::stat(path, &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

std::optional<FileIdentity> OwnImageIdentity()
{
    return ImageIdentity(qint32(::getpid()));
}

int OpenImage(qint32 Pid)
{
    if (Pid <= 0)
        return -1;
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/exe", int(Pid));
    // Non-blocking: a lease on the file costs a refusal, never a wait.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int OpenImageWhileHeld(const PidFd &Pin)
{
    const int fd = OpenImage(Pin.Pid());
    if (fd >= 0 && !Pin.Held()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool LeadsWithoutLinksTo(const QString &Path, const FileIdentity &Image)
{
    return !Path.isEmpty() && files::IdentityWithoutLinks(files::EncodeNameBytes(Path)) == Image;
}

std::vector<ProcStat> ListProcesses()
{
    std::vector<ProcStat> out;
    std::vector<ProcessEntry> entries;
    if (!EnumerateByStat(entries))
        return out;
    for (const ProcessEntry &e : entries) {
        ProcStat st;
        st.Pid = qint32(e.Pid);
        st.ParentPid = qint32(e.ParentPid);
        st.Comm = e.DisplayName();
        st.State = e.State;
        st.StartTime = e.StartTime;
        out.push_back(st);
    }
    return out;
}

} // namespace platform::processes
