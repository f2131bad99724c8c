#pragma once

#include "platform/files/FolderNoFollow.h"
#include "platform/processes/ProcFs.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace platform::processes {

// The file a process runs and whether its path is that very file (see PathIsImage).
struct ImageOnPath
{
    std::optional<platform::files::FileIdentity> Image;
    bool PathIsImage = false;
};

// What the process list asks of the system, in one replaceable interface: the real one
// reads /proc; tests put a scripted one in its place to produce failures that cannot be
// produced for real. Times are in 100-nanosecond units. Any thread may read through it at once:
// the pins below are each thread's own.
class PidFd;

class ProcessSource
{
public:
    ProcessSource();
    virtual ~ProcessSource();
    ProcessSource(const ProcessSource &) = delete;
    ProcessSource &operator=(const ProcessSource &) = delete;

    virtual bool EnumeratePrimary(std::vector<ProcessEntry> &Out);
    virtual bool EnumerateFallback(std::vector<ProcessEntry> &Out);

    // The handle of a listed process, with its pidfd inode; nothing when the identifier no
    // longer names the process that started at `StartTime`. The pidfd stays open only for
    // `HoldForReads` on the same thread, until that thread's next `Open` or `Unpin`.
    virtual std::optional<ProcessHandle> Open(quint32 Pid, quint64 StartTime);
    // Listed, not a zombie, and still the handle's process.
    virtual bool IsAlive(const ProcessHandle &Handle);

    // The readers of one process read nothing from another process that has come to carry
    // the handle's identifier.
    virtual std::optional<ProcStat> Stat(const ProcessHandle &Handle);
    virtual std::optional<quint32> Uid(const ProcessHandle &Handle);
    virtual std::optional<QString> AccountName(quint32 Uid);
    virtual QString DomainName();
    virtual std::optional<QString> ExePath(const ProcessHandle &Handle);
    // The file the process runs (its device and inode), as /proc/PID/exe reaches it: never
    // through the path, which may name another file here than in the process's own mount
    // namespace, or another file by now.
    virtual std::optional<platform::files::FileIdentity> ImageIdentity(const ProcessHandle &Handle);
    // That file opened for reading; -1 when it cannot be. The caller closes it.
    virtual int OpenImage(const ProcessHandle &Handle);
    // True when `Path`, resolved in this program's namespace without following any link, is
    // the very file the process runs: only then does the path say anything about the process.
    bool PathIsImage(const ProcessHandle &Handle, const QString &Path);
    // The file the process runs and the same test, with the file looked up once.
    ImageOnPath ImageAndPath(const ProcessHandle &Handle, const QString &Path);
    // Who runs the process and the path the kernel reports for its file (see ImageFacts).
    virtual std::optional<ImageFacts> ImageFactsOf(const ProcessHandle &Handle);
    virtual std::optional<QStringList> Cmdline(const ProcessHandle &Handle, bool *RawSingle);
    virtual std::optional<MemoryStatus> Memory(const ProcessHandle &Handle);
    // The resident set, read every tick for the rows in view: `FileInode` is the statm file a
    // read pinned to the process found before (0 for none). While the file is still that one,
    // it is the process's own and no pin is needed; otherwise the read is pinned again and
    // `FileInode` follows it.
    virtual std::optional<ResidentMemory> Resident(const ProcessHandle &Handle, quint64 &FileInode);
    virtual int FdCount(const ProcessHandle &Handle);
    virtual int ModuleCount(const ProcessHandle &Handle);
    virtual std::optional<SchedInfo> Sched(const ProcessHandle &Handle);
    virtual std::optional<std::vector<bool>> Affinity(const ProcessHandle &Handle);

    virtual unsigned ProcessorCount();
    virtual std::optional<quint64> IdleTime(); // all CPUs together
    virtual quint64 MonotonicNow();
    virtual qint64 BootTimeSeconds(); // seconds since the epoch
    virtual qint64 RealtimeNowNs();
    virtual long ClockTicksPerSecond();

    // Clock ticks of a process as 100-nanosecond units.
    quint64 TicksTo100ns(quint64 Ticks);

    // Several reads of one process in a row on one thread (a process seen for the first time)
    // share one pin: the one that thread's last `Open` found the process with, kept until its
    // `Unpin`. Each read still counts only when the process has not ended meanwhile.
    void HoldForReads(const ProcessHandle &Handle);
    void Unpin();
    // The pin the calling thread holds for `Handle`, or null.
    const PidFd *HeldPin(const ProcessHandle &Handle) const;
    // That pin, shared, so that reads of the same process on another thread go on using it
    // (through HoldShared there); null when the calling thread holds none for `Handle`.
    std::shared_ptr<const PidFd> SharePin(const ProcessHandle &Handle) const;
    // Holds a shared pin (null: none) for reads of `Handle` on the calling thread until its Unpin.
    void HoldShared(std::shared_ptr<const PidFd> Pin, const ProcessHandle &Handle);

private:
    // The primary listing's files, kept from one listing to the next.
    std::unique_ptr<KeptListing> m_Listing;
};

// The process-wide real source.
ProcessSource &DefaultProcessSource();

} // namespace platform::processes
