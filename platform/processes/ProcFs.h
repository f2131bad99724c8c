#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstring>
#include <optional>
#include <vector>

namespace platform::processes {

// A process as a value: its identifier and the start time that tells one user of an
// identifier from a later one. No descriptor is held; actions open a pidfd when they act.
struct ProcessHandle
{
    qint32 pid = 0;
    quint64 startTime = 0; // clock ticks after boot, as /proc/PID/stat gives it
    bool valid = false;
    // The inode of the process's pidfd where pidfds have inodes of their own (pidfs): unique
    // for the life of the system, so it tells apart two processes that got the same
    // identifier within one clock tick. 0 where the kernel has none; the start time decides then.
    quint64 inode = 0;

    explicit operator bool() const { return valid; }
};

// Where a program's memory was laid out when it was started. A process that runs a new
// program gets a new layout (with address randomisation, even for the same program), while
// its identifier, start time and often its name stay the same.
struct ImageLayout
{
    quint64 startCode = 0;
    quint64 endCode = 0;
    quint64 startStack = 0;
    quint64 startBrk = 0;

    // The kernel hides the layout from a reader that may not trace the process, and kernel
    // threads have none.
    bool known() const { return startStack != 0; }
    bool operator==(const ImageLayout &) const = default;
};

// The fields of /proc/PID/stat this program uses.
struct ProcStat
{
    qint32 pid = 0;
    QString comm;
    char state = '?';
    qint32 ppid = 0;
    qint32 session = 0;
    quint32 flags = 0;
    quint64 minflt = 0;
    quint64 majflt = 0;
    quint64 utime = 0; // clock ticks
    quint64 stime = 0;
    qint32 priority = 0;
    qint32 nice = 0;
    qint32 numThreads = 0;
    quint64 startTime = 0; // clock ticks after boot
    quint32 policy = 0;
    ImageLayout layout;

    bool isKernelThread() const { return (flags & 0x00200000u) != 0; } // PF_KTHREAD
    bool isZombie() const { return state == 'Z' || state == 'X' || state == 'x'; }
};

// The process name as the stat file holds it, UTF-8, before conversion. The kernel keeps 15
// bytes of a program's name, cut wherever the 15th byte falls; kernel workers show longer ones.
struct RawName
{
    char text[64];
    std::size_t size = 0;
};

// Parses the text of a stat file; false on anything malformed. With `rawName` the name
// goes there instead of into `comm`.
bool parseStat(const char *text, std::size_t size, ProcStat &out);
bool parseStat(const char *text, std::size_t size, ProcStat &out, RawName *rawName);
bool readStat(qint32 pid, ProcStat &out);

// One enumerated process.
struct ProcessEntry
{
    quint32 pid = 0;
    quint32 ppid = 0;
    QString name; // empty when only `rawName` holds it
    RawName rawName;
    char state = '?';
    quint64 startTime = 0;
    std::optional<quint32> uid;      // the effective uid, where the enumeration read it exactly
    std::optional<quint32> ownerUid; // the owner of /proc/PID, which follows the effective uid
    // The inode of /proc/PID, 0 when not read. A new process under the same identifier gets a
    // new one; the same process may too, when the kernel dropped the old one from its cache.
    quint64 procInode = 0;
    ImageLayout layout;
    quint32 session = 0;
    bool kernelThread = false;
    bool hasTimes = false;
    quint64 cpuTicks = 0; // user + kernel time, clock ticks
    quint64 faults = 0;

    QString displayName() const
    {
        return name.isEmpty() ? QString::fromUtf8(rawName.text, qsizetype(rawName.size)) : name;
    }
    // The name's bytes as the kernel keeps them.
    QByteArray nameBytes() const
    {
        return rawName.size ? QByteArray(rawName.text, qsizetype(rawName.size)) : name.toUtf8();
    }
    bool nameIs(const QByteArray &bytes) const
    {
        if (rawName.size == 0)
            return bytes == name.toUtf8();
        return std::size_t(bytes.size()) == rawName.size &&
            std::memcmp(bytes.constData(), rawName.text, rawName.size) == 0;
    }
};

// Every live process (zombies left out) from the stat files, with the owner of each /proc/PID
// directory (one stat() each) in place of reading the status file, to keep the pass cheap.
// False when /proc cannot be listed or lists nothing.
bool enumerateByStat(std::vector<ProcessEntry> &out);
// The same from the status files (name, parent, effective uid, state) and stat for the
// start time; slower, used when the first way fails.
bool enumerateByStatus(std::vector<ProcessEntry> &out);

// The numbered entries of /proc (zombies included); 0 when /proc cannot be listed. The count of
// an enumeration of the last two seconds is used where there is one, so that a tick lists
// /proc once.
quint64 countProcesses();

// The handle of a live, non-zombie process, with its current start time.
std::optional<ProcessHandle> openProcess(qint32 pid);
// Listed, not a zombie, and started at the handle's start time.
bool isAlive(const ProcessHandle &handle);

// Per-process readers; each fails (nullopt/false/-1) when the file cannot be read.
std::optional<quint32> readEffectiveUid(qint32 pid);
std::optional<QString> readExePath(qint32 pid);
// The same as the bytes of the link, for file names that are not UTF-8.
std::optional<QByteArray> readExeLink(qint32 pid);
// The arguments; `rawSingle` is set when the buffer held no separator at all (a process
// that rewrote its own title).
std::optional<QStringList> readCmdline(qint32 pid, bool *rawSingle = nullptr);

struct MemoryStatus
{
    quint64 vmRss = 0;
    quint64 vmHwm = 0;
    quint64 rssAnon = 0;
    quint64 vmSwap = 0;
    quint64 vmPte = 0;
    quint64 vmLck = 0;
};
std::optional<MemoryStatus> readMemoryStatus(qint32 pid);

// /proc/PID/statm in bytes: the resident set, and the part of it that is file-backed or
// shared memory (so resident - shared is the process's own anonymous memory, RssAnon).
struct ResidentMemory
{
    quint64 resident = 0;
    quint64 shared = 0;
};
bool parseStatm(const char *text, std::size_t size, quint64 pageSize, ResidentMemory &out);
// `fileInode`, when given, gets the inode of the file that was read: the same number on a later
// read means the same file of the same process.
std::optional<ResidentMemory> readStatm(qint32 pid, quint64 *fileInode = nullptr);

int readFdCount(qint32 pid);     // open descriptors, -1 on failure
int readModuleCount(qint32 pid); // distinct executable file mappings, -1 on failure
std::vector<qint32> readThreadIds(qint32 pid);

struct SchedInfo
{
    int policy = 0;
    int nice = 0;
};
std::optional<SchedInfo> readSchedInfo(qint32 tid);
// The CPUs a thread may run on, as a list of flags indexed by CPU number.
std::optional<std::vector<bool>> readAffinity(qint32 tid);

// System values.
unsigned onlineProcessorCount(); // 0 when unknown
long clockTicksPerSecond();
std::optional<quint64> systemIdleTicks(); // idle + iowait of all CPUs
qint64 bootTimeSeconds();                 // seconds since the epoch, 0 when unknown
quint64 monotonicNow100ns();
qint64 realtimeNowNs();
qint32 pidMax();
QString hostName();
// The account name of a uid; nullopt when the account has no name.
std::optional<QString> accountName(quint32 uid);

} // namespace platform::processes
