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
bool IsValidPid(qint64 Pid);
// This program's own process.
bool IsOwnProcess(qint64 Pid);

// The inode of a pidfd where the kernel gives pidfds their own (pidfs); 0 elsewhere.
quint64 PidFdInode(int Fd);

// A pidfd opened at the moment of an action, for a live process whose start time is the
// expected one. Closed when it goes.
class PidFd
{
public:
    // Nothing for an invalid identifier (no system call is made then), a process that is
    // gone, a zombie, one that started at another time than `StartTime`, or, with an
    // `Inode` where the kernel has them, another process than the one that had it.
    static std::optional<PidFd> Open(qint64 Pid, std::optional<quint64> StartTime, quint64 Inode = 0);

    // For a read of a process's files: holds the handle's process while the read runs.
    // Nothing when the identifier has passed to another process (the inode, or where there
    // is none the start time, tells). A read counts only when `Held()` still holds after it:
    // until the process ends its identifier cannot name another one.
    static std::optional<PidFd> Pin(const ProcessHandle &Handle);
    // The handle of a listed process, with its inode; nothing when the identifier no longer
    // names the process that started at `StartTime`.
    // With `Keep`, the pidfd that found the process is handed over, still open.
    static std::optional<ProcessHandle> Identify(qint32 Pid, quint64 StartTime, std::optional<PidFd> *Keep = nullptr);

    PidFd(PidFd &&) noexcept = default;
    PidFd &operator=(PidFd &&) noexcept = default;

    qint32 Pid() const { return m_Pid; }
    quint64 StartTime() const { return m_StartTime; }
    // Still the same process (it has not ended and been reaped).
    bool Alive() const;
    // It has not ended since it was pinned (no permission to signal it is needed).
    bool Held() const;
    quint64 Inode() const;
    bool SendSignal(int Signal) const;
    // The signals the process commands send: end at once, stop, continue.
    bool Kill() const;
    bool Stop() const;
    bool Resume() const;
    // Waits until the process has ended; false on time-out.
    bool WaitEnded(int TimeoutMs) const;

private:
    PidFd(int Fd, qint32 Pid, quint64 StartTime) : m_Fd(Fd), m_Pid(Pid), m_StartTime(StartTime) {}

    files::UniqueFd m_Fd;
    qint32 m_Pid = 0;
    quint64 m_StartTime = 0;
};

// Runs `Action` on every thread of the process (the thread list is read again until no new
// thread turns up). A thread that ended meanwhile (ESRCH) is passed over; any other
// failure is one. False also when the process has no thread left.
bool ForEachThread(const PidFd &Process, const std::function<int(pid_t Tid)> &Action);

// Scheduling of one thread: policy (SCHED_OTHER or SCHED_RR) and, for SCHED_OTHER, nice.
// Return 0 or an errno value.
int SetThreadScheduling(pid_t Tid, int Policy, int Nice);
int SetThreadAffinity(pid_t Tid, const std::vector<bool> &Cpus);
// The scheduling policies, by their system values.
extern const int kSchedOther;
extern const int kSchedRoundRobin;
extern const int kSchedFifo;
extern const int kSchedIdle;

// The identity of a process's image file, reached through /proc/PID/exe: the file the
// process runs, whatever its path names now or names in this program's mount namespace (a
// deleted file too).
using FileIdentity = platform::files::FileIdentity;
std::optional<FileIdentity> ImageIdentity(qint32 Pid);
std::optional<FileIdentity> OwnImageIdentity();
// The image file itself, opened for reading through /proc/PID/exe, without waiting (it stays
// non-blocking); -1 when it cannot be, or is no regular file. The caller closes it, and trusts it
// only while the process is held.
int OpenImage(qint32 Pid);
// The same for the process `Pin` holds; -1 as well when the process ended meanwhile.
int OpenImageWhileHeld(const PidFd &Pin);
// True when `Path`, resolved in this program's namespace without following any link, is the
// file `Image`: only then does a process's path say anything about the file it runs.
bool LeadsWithoutLinksTo(const QString &Path, const FileIdentity &Image);

// Runs a read of the files of the process `Pin` holds: it counts only when the process has not
// ended meanwhile (until then its identifier names no other process); nothing comes back
// otherwise.
template <typename Reader>
auto ReadWhileHeld(const PidFd &Pin, Reader &&Read) -> decltype(Read())
{
    auto value = Read();
    if (!Pin.Held())
        return {};
    return value;
}

// Every live process (zombies left out), from the stat files.
std::vector<ProcStat> ListProcesses();

} // namespace platform::processes
