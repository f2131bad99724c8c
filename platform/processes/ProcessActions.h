#pragma once

#include "platform/files/UniqueFd.h"

#include "platform/files/FolderNoFollow.h"
#include "platform/processes/ProcFs.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace platform::processes {

// An identifier that may be acted on: above 0 and not above the kernel's pid_max. Nothing
// else ever reaches a signal call, so kill(0, …) and kill(-1, …) cannot happen.
bool isValidPid(qint64 pid);
// This program's own process.
bool isOwnProcess(qint64 pid);

// The inode of a pidfd where the kernel gives pidfds their own (pidfs); 0 elsewhere.
quint64 pidfdInode(int pidfd);

// A pidfd opened at the moment of an action, for a live process whose start time is the
// expected one. Closed when it goes.
class PidFd
{
public:
    // Nothing for an invalid identifier (no system call is made then), a process that is
    // gone, a zombie, one that started at another time than `startTime`, or, with an
    // `inode` where the kernel has them, another process than the one that had it.
    static std::optional<PidFd> open(qint64 pid, std::optional<quint64> startTime, quint64 inode = 0);

    // For a read of a process's files: holds the handle's process while the read runs.
    // Nothing when the identifier has passed to another process (the inode, or where there
    // is none the start time, tells). A read counts only when `held()` still holds after it:
    // until the process ends its identifier cannot name another one.
    static std::optional<PidFd> pin(const ProcessHandle &handle);
    // The handle of a listed process, with its inode; nothing when the identifier no longer
    // names the process that started at `startTime`.
    // With `keep`, the pidfd that found the process is handed over, still open.
    static std::optional<ProcessHandle> identify(qint32 pid, quint64 startTime, std::optional<PidFd> *keep = nullptr);

    PidFd(PidFd &&) noexcept = default;
    PidFd &operator=(PidFd &&) noexcept = default;

    qint32 pid() const { return m_pid; }
    quint64 startTime() const { return m_startTime; }
    // Still the same process (it has not ended and been reaped).
    bool alive() const;
    // It has not ended since it was pinned (no permission to signal it is needed).
    bool held() const;
    quint64 inode() const;
    bool sendSignal(int signal) const;
    // The signals the process commands send: end at once, stop, continue.
    bool kill() const;
    bool stop() const;
    bool resume() const;
    // Waits until the process has ended; false on time-out.
    bool waitEnded(int timeoutMs) const;

private:
    PidFd(int fd, qint32 pid, quint64 startTime) : m_fd(fd), m_pid(pid), m_startTime(startTime) {}

    files::UniqueFd m_fd;
    qint32 m_pid = 0;
    quint64 m_startTime = 0;
};

// Runs `action` on every thread of the process (the thread list is read again until no new
// thread turns up). A thread that ended meanwhile (ESRCH) is passed over; any other
// failure is one. False also when the process has no thread left.
bool forEachThread(const PidFd &process, const std::function<int(pid_t tid)> &action);

// Scheduling of one thread: policy (SCHED_OTHER or SCHED_RR) and, for SCHED_OTHER, nice.
// Return 0 or an errno value.
int setThreadScheduling(pid_t tid, int policy, int nice);
int setThreadAffinity(pid_t tid, const std::vector<bool> &cpus);
// The scheduling policies, by their system values.
extern const int kSchedOther;
extern const int kSchedRoundRobin;
extern const int kSchedFifo;
extern const int kSchedIdle;

// The identity of a process's image file, reached through /proc/PID/exe: the file the
// process runs, whatever its path names now or names in this program's mount namespace (a
// deleted file too).
using FileIdentity = platform::files::FileIdentity;
std::optional<FileIdentity> imageIdentity(qint32 pid);
std::optional<FileIdentity> ownImageIdentity();
// The image file itself, opened for reading through /proc/PID/exe; -1 when it cannot be, or
// is no regular file. The caller closes it, and trusts it only while the process is held.
int openImage(qint32 pid);

// Every live process (zombies left out), from the stat files.
std::vector<ProcStat> listProcesses();

} // namespace platform::processes
