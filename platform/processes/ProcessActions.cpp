#include "platform/processes/ProcessActions.h"

#include "platform/Logging.h"

#include <QSet>

#include <atomic>

#include <cerrno>
#include <csignal>
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

bool isValidPid(qint64 pid)
{
    return pid > 0 && pid <= qint64(pidMax());
}

bool isOwnProcess(qint64 pid)
{
    return pid == qint64(::getpid());
}

namespace {

constexpr long kPidfsMagic = 0x50494446; // "PIDF"

int openPidFd(qint32 pid)
{
    return int(::syscall(SYS_pidfd_open, pid_t(pid), 0u));
}

} // namespace

quint64 pidfdInode(int pidfd)
{
    if (pidfd < 0)
        return 0;
    // Older kernels give every pidfd the same anonymous inode: worth nothing as an identity.
    static std::atomic<int> pidfs{-1}; // not known yet
    int known = pidfs.load(std::memory_order_relaxed);
    if (known < 0) {
        struct statfs fs = {};
        if (::fstatfs(pidfd, &fs) != 0)
            return 0;
        known = long(fs.f_type) == kPidfsMagic ? 1 : 0;
        pidfs.store(known, std::memory_order_relaxed);
    }
    struct stat st = {};
    if (known == 0 || ::fstat(pidfd, &st) != 0)
        return 0;
    return quint64(st.st_ino);
}

std::optional<PidFd> PidFd::open(qint64 pid, std::optional<quint64> startTime, quint64 inode)
{
    if (!isValidPid(pid))
        return std::nullopt;
    const int fd = openPidFd(qint32(pid));
    if (fd < 0) {
        qCWarning(lcPlatform, "pidfd_open(%lld): %s", pid, std::strerror(errno));
        return std::nullopt;
    }
    if (inode != 0) {
        const quint64 now = pidfdInode(fd);
        if (now != 0 && now != inode) {
            qCWarning(lcPlatform, "process %lld: its identifier has passed to another process", pid);
            ::close(fd);
            return std::nullopt;
        }
    }
    // With the pidfd held, the identifier cannot pass to another process unnoticed:
    // check that it is still the one that was listed.
    ProcStat st;
    if (!readStat(qint32(pid), st) || st.isZombie() || (startTime && st.startTime != *startTime)) {
        qCWarning(lcPlatform, "process %lld: ended, a zombie or not the one listed", pid);
        ::close(fd);
        return std::nullopt;
    }
    PidFd handle(fd, qint32(pid), st.startTime);
    if (!handle.alive()) {
        qCWarning(lcPlatform, "process %lld: pidfd_send_signal(0): %s", pid, std::strerror(errno));
        return std::nullopt;
    }
    return handle;
}

std::optional<PidFd> PidFd::pin(const ProcessHandle &handle)
{
    if (!handle.valid || handle.pid <= 0)
        return std::nullopt;
    const int fd = openPidFd(handle.pid);
    if (fd < 0 && (errno == ESRCH || errno == EINVAL))
        return std::nullopt;
    // Without pidfds (an old kernel, a sandbox) the start time is read before and after.
    PidFd pinned(fd, handle.pid, handle.startTime);
    if (fd >= 0 && handle.inode != 0) {
        const quint64 now = pidfdInode(fd);
        if (now != 0)
            return now == handle.inode ? std::optional<PidFd>(std::move(pinned)) : std::nullopt;
    }
    ProcStat st;
    if (!readStat(handle.pid, st) || st.startTime != handle.startTime)
        return std::nullopt;
    return pinned;
}

std::optional<ProcessHandle> PidFd::identify(qint32 pid, quint64 startTime, std::optional<PidFd> *keep)
{
    if (pid <= 0)
        return std::nullopt;
    const int fd = openPidFd(pid);
    if (fd < 0 && (errno == ESRCH || errno == EINVAL))
        return std::nullopt;
    PidFd pinned(fd, pid, startTime);
    ProcStat st;
    if (!readStat(pid, st) || st.startTime != startTime || !pinned.held())
        return std::nullopt;
    ProcessHandle handle{pid, startTime, true};
    handle.inode = pidfdInode(fd);
    if (keep)
        *keep = std::move(pinned);
    return handle;
}

bool PidFd::held() const
{
    if (m_fd.get() < 0) {
        ProcStat st;
        return readStat(m_pid, st) && st.startTime == m_startTime;
    }
    // A pidfd turns readable when its process ends.
    pollfd p{m_fd.get(), POLLIN, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, 0);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc == 0;
    }
}

quint64 PidFd::inode() const
{
    return pidfdInode(m_fd.get());
}

bool PidFd::alive() const
{
    return m_fd.get() >= 0 && ::syscall(SYS_pidfd_send_signal, m_fd.get(), 0, nullptr, 0u) == 0;
}

bool PidFd::sendSignal(int signal) const
{
    if (m_fd.get() < 0)
        return false;
    if (::syscall(SYS_pidfd_send_signal, m_fd.get(), signal, nullptr, 0u) == 0)
        return true;
    qCWarning(lcPlatform, "process %d: signal %d: %s", int(m_pid), signal, std::strerror(errno));
    return false;
}

bool PidFd::kill() const
{
    return sendSignal(SIGKILL);
}

bool PidFd::stop() const
{
    return sendSignal(SIGSTOP);
}

bool PidFd::resume() const
{
    return sendSignal(SIGCONT);
}

bool PidFd::waitEnded(int timeoutMs) const
{
    if (m_fd.get() < 0)
        return false;
    pollfd p{m_fd.get(), POLLIN, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

bool forEachThread(const PidFd &process, const std::function<int(pid_t tid)> &action)
{
    QSet<qint32> done;
    for (int round = 0; round < 16; ++round) {
        bool fresh = false;
        for (const qint32 tid : readThreadIds(process.pid())) {
            if (done.contains(tid))
                continue;
            fresh = true;
            done.insert(tid);
            const int err = action(pid_t(tid));
            if (err != 0 && err != ESRCH) {
                qCWarning(lcPlatform, "process %d, thread %d: %s", int(process.pid()), int(tid), std::strerror(err));
                return false;
            }
        }
        if (!fresh)
            break;
    }
    // The process must still be the one we looked at, or the threads were someone else's.
    if (!done.isEmpty() && process.alive())
        return true;
    qCWarning(lcPlatform, "process %d: ended while its threads were being changed", int(process.pid()));
    return false;
}

const int kSchedOther = SCHED_OTHER;
const int kSchedRoundRobin = SCHED_RR;
const int kSchedFifo = SCHED_FIFO;
const int kSchedIdle = SCHED_IDLE;

int setThreadScheduling(pid_t tid, int policy, int nice)
{
    sched_param param{};
    param.sched_priority = policy == SCHED_RR ? 1 : 0;
    if (::sched_setscheduler(tid, policy, &param) != 0)
        return errno;
    if (policy == SCHED_OTHER && ::setpriority(PRIO_PROCESS, id_t(tid), nice) != 0)
        return errno;
    return 0;
}

int setThreadAffinity(pid_t tid, const std::vector<bool> &cpus)
{
    const int count = qMax(1, int(cpus.size()));
    cpu_set_t *set = CPU_ALLOC(count);
    if (!set)
        return ENOMEM;
    const std::size_t size = CPU_ALLOC_SIZE(count);
    CPU_ZERO_S(size, set);
    for (int i = 0; i < int(cpus.size()); ++i) {
        if (cpus[std::size_t(i)])
            CPU_SET_S(i, size, set);
    }
    const int rc = ::sched_setaffinity(tid, size, set);
    const int err = rc == 0 ? 0 : errno;
    CPU_FREE(set);
    return err;
}

std::optional<FileIdentity> imageIdentity(qint32 pid)
{
    if (pid <= 0)
        return std::nullopt;
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/exe", int(pid));
    struct stat st = {};
    if (::stat(path, &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

std::optional<FileIdentity> ownImageIdentity()
{
    return imageIdentity(qint32(::getpid()));
}

int openImage(qint32 pid)
{
    if (pid <= 0)
        return -1;
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/exe", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<ProcStat> listProcesses()
{
    std::vector<ProcStat> out;
    std::vector<ProcessEntry> entries;
    if (!enumerateByStat(entries))
        return out;
    for (const ProcessEntry &e : entries) {
        ProcStat st;
        st.pid = qint32(e.pid);
        st.ppid = qint32(e.ppid);
        st.comm = e.displayName();
        st.state = e.state;
        st.startTime = e.startTime;
        out.push_back(st);
    }
    return out;
}

} // namespace platform::processes
