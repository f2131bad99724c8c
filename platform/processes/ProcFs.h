#pragma once

#include <sys/resource.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform::processes {

// A process as a value: its identifier and the start time that tells one user of an
// identifier from a later one. No descriptor is held; actions open a pidfd when they act.
struct ProcessHandle
{
    qint32 Pid = 0;
    quint64 StartTime = 0; // clock ticks after boot, as /proc/PID/stat gives it
    bool Valid = false;
    // The inode of the process's pidfd where pidfds have inodes of their own (pidfs): unique
    // for the life of the system, so it tells apart two processes that got the same
    // identifier within one clock tick. 0 where the kernel has none; the start time decides then.
    quint64 Inode = 0;

    explicit operator bool() const { return Valid; }
};

// Where a program's memory was laid out when it was started. A process that runs a new
// program gets a new layout (with address randomisation, even for the same program), while
// its identifier, start time and often its name stay the same.
struct ImageLayout
{
    quint64 StartCode = 0;
    quint64 EndCode = 0;
    quint64 StartStack = 0;
    quint64 StartBrk = 0;

    // The kernel hides the layout from a reader that may not trace the process, and kernel
    // threads have none.
    bool Known() const { return StartStack != 0; }
    bool operator==(const ImageLayout &) const = default;
};

// The fields of /proc/PID/stat this program uses.
struct ProcStat
{
    qint32 Pid = 0;
    QString Comm;
    char State = '?';
    qint32 ParentPid = 0;
    qint32 Session = 0;
    quint32 Flags = 0;
    quint64 Minflt = 0;
    quint64 Majflt = 0;
    quint64 Utime = 0; // clock ticks
    quint64 Stime = 0;
    qint32 Priority = 0;
    qint32 Nice = 0;
    qint32 NumThreads = 0;
    quint64 StartTime = 0; // clock ticks after boot
    quint32 Policy = 0;
    ImageLayout Layout;

    bool IsKernelThread() const { return (Flags & 0x00200000u) != 0; } // PF_KTHREAD
    bool IsZombie() const { return State == 'Z' || State == 'X' || State == 'x'; }
};

// The process name as the stat file holds it, UTF-8, before conversion. The kernel keeps 15
// bytes of a program's name, cut wherever the 15th byte falls; kernel workers show longer ones.
struct RawName
{
    char Text[64];
    std::size_t Size = 0;
};

// Parses the text of a stat file; false on anything malformed. With `RawName` the name
// goes there instead of into `Comm`.
bool ParseStat(const char *Text, std::size_t Size, ProcStat &Out);
bool ParseStat(const char *Text, std::size_t Size, ProcStat &Out, RawName *RawName);
bool ReadStat(qint32 Pid, ProcStat &Out);

// One enumerated process.
struct ProcessEntry
{
    quint32 Pid = 0;
    quint32 ParentPid = 0;
    QString Name; // empty when only `RawName` holds it
    processes::RawName RawName;
    char State = '?';
    quint64 StartTime = 0;
    std::optional<quint32> Uid;      // the effective uid, where the enumeration read it exactly
    std::optional<quint32> OwnerUid; // the owner of /proc/PID, which follows the effective uid
    // The inode of /proc/PID, 0 when not read. A new process under the same identifier gets a
    // new one; the same process may too, when the kernel dropped the old one from its cache.
    quint64 ProcInode = 0;
    ImageLayout Layout;
    quint32 Session = 0;
    bool KernelThread = false;
    bool HasTimes = false;
    quint64 CpuTicks = 0; // user + kernel time, clock ticks
    quint64 Faults = 0;

    QString DisplayName() const
    {
        return Name.isEmpty() ? QString::fromUtf8(RawName.Text, qsizetype(RawName.Size)) : Name;
    }
    // The name's bytes as the kernel keeps them.
    QByteArray NameBytes() const
    {
        return RawName.Size ? QByteArray(RawName.Text, qsizetype(RawName.Size)) : Name.toUtf8();
    }
    bool NameIs(const QByteArray &Bytes) const
    {
        if (RawName.Size == 0)
            return Bytes == Name.toUtf8();
        return std::size_t(Bytes.size()) == RawName.Size &&
            std::memcmp(Bytes.constData(), RawName.Text, RawName.Size) == 0;
    }
};

// Every live process (zombies left out) from the stat files, with the owner of each /proc/PID
// directory (one stat() each) in place of reading the status file, to keep the pass cheap.
// False when /proc cannot be listed or lists nothing.
bool EnumerateByStat(std::vector<ProcessEntry> &Out);
// The same from the status files (name, parent, effective uid, state) and stat for the
// start time; slower, used when the first way fails.
bool EnumerateByStatus(std::vector<ProcessEntry> &Out);

// The limit on open files the program started with, before a listing raised its soft limit for
// the files it keeps: what the programs it starts get back (all zero when it cannot be read).
rlimit StartingFileLimit();

// Lists the processes as EnumerateByStat does, but keeps each listed process's stat file and
// folder open from its second listing to its last, so that a kept file is read again in place and
// its folder looked at through its descriptor, with neither a lookup nor an open. A process that
// ended fails that read, and so does one that took a kept process's identifier: its files are
// opened anew. At most 10,000 processes' files are kept (the soft limit on open files is raised
// for them once, as far as the hard limit allows); the others are opened and closed on every
// listing. A kept stat file holds about 4 KB of the kernel's memory. Listings from several
// threads take turns.
class KeptListing
{
public:
    KeptListing();
    ~KeptListing();
    KeptListing(const KeptListing &) = delete;
    KeptListing &operator=(const KeptListing &) = delete;

    bool Enumerate(std::vector<ProcessEntry> &Out);

private:
    struct TFiles;
    std::mutex m_Lock;
    std::unordered_map<qint32, TFiles> m_Files;
    std::size_t m_KeptCount = 0;
    quint64 m_Listing = 0;
};

// While one lives, the listings of /proc on its thread give up (and fail) once `Stop` is set: a
// worker that is told to end does not first walk a table of many thousand processes.
class ListingStop
{
public:
    explicit ListingStop(const std::atomic<bool> &Stop);
    ~ListingStop();
    ListingStop(const ListingStop &) = delete;
    ListingStop &operator=(const ListingStop &) = delete;

private:
    const std::atomic<bool> *m_Outer;
};

// The numbered entries of /proc (zombies included); 0 when /proc cannot be listed. The count of
// an enumeration of the last two seconds is used where there is one, so that a tick lists
// /proc once.
quint64 CountProcesses();

// The handle of a live, non-zombie process, with its current start time.
std::optional<ProcessHandle> OpenProcess(qint32 Pid);
// Listed, not a zombie, and started at the handle's start time.
bool IsAlive(const ProcessHandle &Handle);

// Per-process readers; each fails (nullopt/false/-1) when the file cannot be read.
std::optional<quint32> ReadEffectiveUid(qint32 Pid);
// The real and the effective uid, as this program's user namespace sees them.
struct ProcessUids
{
    quint32 Real = 0;
    quint32 Effective = 0;
};
std::optional<ProcessUids> ReadUids(qint32 Pid);
std::optional<QString> ReadExePath(qint32 Pid);
// The same as the bytes of the link, for file names that are not UTF-8.
std::optional<QByteArray> ReadExeLink(qint32 Pid);
// What no ordinary user can forge about the program a process runs: who runs it, as this
// program's user namespace sees the uids (a user namespace of the process's own changes nothing
// here), and the path of its file as the kernel reports it, in the process's own mount namespace.
// A file deleted or replaced since the start keeps the path it was started from.
struct ImageFacts
{
    ProcessUids Uids;
    QString Path;
};
// Read from /proc/PID as it is now; the caller holds the process.
std::optional<ImageFacts> ReadImageFacts(qint32 Pid);
// The arguments; `RawSingle` is set when the buffer held no separator at all (a process
// that rewrote its own title).
std::optional<QStringList> ReadCmdline(qint32 Pid, bool *RawSingle = nullptr);

struct MemoryStatus
{
    quint64 VmRss = 0;
    quint64 VmHwm = 0;
    quint64 RssAnon = 0;
    quint64 VmSwap = 0;
    quint64 VmPte = 0;
    quint64 VmLck = 0;
};
std::optional<MemoryStatus> ReadMemoryStatus(qint32 Pid);

// /proc/PID/statm in bytes: the resident set, and the part of it that is file-backed or
// shared memory (so resident - shared is the process's own anonymous memory, RssAnon).
struct ResidentMemory
{
    quint64 Resident = 0;
    quint64 Shared = 0;
};
bool ParseStatm(const char *Text, std::size_t Size, quint64 PageSize, ResidentMemory &Out);
// `FileInode`, when given, gets the inode of the file that was read: the same number on a later
// read means the same file of the same process.
std::optional<ResidentMemory> ReadStatm(qint32 Pid, quint64 *FileInode = nullptr);

int ReadFdCount(qint32 Pid);     // open descriptors, -1 on failure
int ReadModuleCount(qint32 Pid); // distinct executable file mappings, -1 on failure
std::vector<qint32> ReadThreadIds(qint32 Pid);

struct SchedInfo
{
    int Policy = 0;
    int Nice = 0;
};
std::optional<SchedInfo> ReadSchedInfo(qint32 Tid);
// The CPUs a thread may run on, as a list of flags indexed by CPU number.
std::optional<std::vector<bool>> ReadAffinity(qint32 Tid);

// System values.
unsigned OnlineProcessorCount(); // 0 when unknown
long ClockTicksPerSecond();
std::optional<quint64> SystemIdleTicks(); // idle + iowait of all CPUs
qint64 BootTimeSeconds();                 // seconds since the epoch, 0 when unknown
quint64 MonotonicNow100ns();
qint64 RealtimeNowNs();
qint32 PidMax();
QString HostName();
// The account name of a uid; nullopt when the account has no name.
std::optional<QString> AccountName(quint32 Uid);
// Root or a system account: a uid below the first one the system hands to ordinary users
// (UID_MIN of /etc/login.defs, 1000 where it names none). No ordinary user can run a process
// under such a uid.
bool IsSystemAccount(quint32 Uid);

} // namespace platform::processes
