#pragma once

#include "platform/files/FolderNoFollow.h"
#include "platform/processes/ProcFs.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace platform::processes {

// What the process list asks of the system, in one replaceable interface: the real one
// reads /proc; tests put a scripted one in its place to produce failures that cannot be
// produced for real. Times are in 100-nanosecond units.
class PidFd;

class ProcessSource
{
public:
    ProcessSource();
    virtual ~ProcessSource();
    ProcessSource(const ProcessSource &) = delete;
    ProcessSource &operator=(const ProcessSource &) = delete;

    virtual bool enumeratePrimary(std::vector<ProcessEntry> &out);
    virtual bool enumerateFallback(std::vector<ProcessEntry> &out);

    // The handle of a listed process, with its pidfd inode; nothing when the identifier no
    // longer names the process that started at `startTime`. The pidfd stays open only for
    // `holdForReads`, until the next `open` or `unpin`.
    virtual std::optional<ProcessHandle> open(quint32 pid, quint64 startTime);
    // Listed, not a zombie, and still the handle's process.
    virtual bool isAlive(const ProcessHandle &handle);

    // The readers of one process read nothing from another process that has come to carry
    // the handle's identifier.
    virtual std::optional<ProcStat> stat(const ProcessHandle &handle);
    virtual std::optional<quint32> uid(const ProcessHandle &handle);
    virtual std::optional<QString> accountName(quint32 uid);
    virtual QString domainName();
    virtual std::optional<QString> exePath(const ProcessHandle &handle);
    // The file the process runs (its device and inode), as /proc/PID/exe reaches it: never
    // through the path, which may name another file here than in the process's own mount
    // namespace, or another file by now.
    virtual std::optional<platform::files::FileIdentity> imageIdentity(const ProcessHandle &handle);
    // That file opened for reading; -1 when it cannot be. The caller closes it.
    virtual int openImage(const ProcessHandle &handle);
    // True when `path`, resolved in this program's namespace without following any link, is
    // the very file the process runs: only then does the path say anything about the process.
    bool pathIsImage(const ProcessHandle &handle, const QString &path);
    virtual std::optional<QStringList> cmdline(const ProcessHandle &handle, bool *rawSingle);
    virtual std::optional<MemoryStatus> memory(const ProcessHandle &handle);
    // The resident set, read every tick for the rows in view: `fileInode` is the statm file a
    // read pinned to the process found before (0 for none). While the file is still that one,
    // it is the process's own and no pin is needed; otherwise the read is pinned again and
    // `fileInode` follows it.
    virtual std::optional<ResidentMemory> resident(const ProcessHandle &handle, quint64 &fileInode);
    virtual int fdCount(const ProcessHandle &handle);
    virtual int moduleCount(const ProcessHandle &handle);
    virtual std::optional<SchedInfo> sched(const ProcessHandle &handle);
    virtual std::optional<std::vector<bool>> affinity(const ProcessHandle &handle);

    virtual unsigned processorCount();
    virtual std::optional<quint64> idleTime(); // all CPUs together
    virtual quint64 monotonicNow();
    virtual qint64 bootTimeSeconds(); // seconds since the epoch
    virtual qint64 realtimeNowNs();
    virtual long clockTicksPerSecond();

    // Clock ticks of a process as 100-nanosecond units.
    quint64 ticksTo100ns(quint64 ticks);

    // Several reads of one process in a row (a process seen for the first time) share one
    // pin: the one the last `open` found the process with, kept until `unpin`. Each read still
    // counts only when the process has not ended meanwhile.
    void holdForReads(const ProcessHandle &handle);
    void unpin();
    // The pin held for `handle`, or null.
    const PidFd *heldPin(const ProcessHandle &handle) const;

private:
    std::unique_ptr<PidFd> m_opened; // the pidfd of the last `open`
    std::unique_ptr<PidFd> m_held;
    ProcessHandle m_openedHandle, m_heldHandle;
};

// The process-wide real source.
ProcessSource &defaultProcessSource();

} // namespace platform::processes
