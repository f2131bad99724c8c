#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// Readers of the kernel's status files: memory, processor times, up-time, counts, mounted
// drives and the operating system's identity. Each parser takes the text of its file and
// refuses anything malformed with nullopt; none of them throws.
namespace platform::system {

// /proc/meminfo, in bytes. Keys the kernel did not write stay 0 (their `has` flag false).
struct MemoryInfo
{
    quint64 total = 0;             // MemTotal
    quint64 free = 0;              // MemFree
    quint64 available = 0;         // MemAvailable, or free + buffers + cached on kernels without it
    quint64 buffers = 0;           // Buffers
    quint64 cached = 0;            // Cached
    quint64 swapTotal = 0;         // SwapTotal
    quint64 swapFree = 0;          // SwapFree
    quint64 commitLimit = 0;       // CommitLimit
    quint64 committed = 0;         // Committed_AS
    quint64 slabReclaimable = 0;   // SReclaimable
    quint64 slabUnreclaimable = 0; // SUnreclaim
    quint64 kernelStack = 0;       // KernelStack
    quint64 pageTables = 0;        // PageTables
    bool hasAvailable = false;
};
// MemTotal must be present; a known key with a value that is not a number of kB refuses the text.
std::optional<MemoryInfo> parseMemInfo(QByteArrayView text);

// One processor's times (or all processors' together) in 100-nanosecond units, in the shape
// the status component computes with: the kernel time includes the idle time.
struct ProcessorTimes
{
    double idle = 0;      // idle + iowait
    double kernel = 0;    // system + idle + iowait
    double user = 0;      // user + nice
    double dpc = 0;       // softirq
    double interrupt = 0; // irq
};

struct ProcessorStat
{
    int number = -1; // N of the "cpuN" line
    ProcessorTimes times;
};

// /proc/stat: the summary line, each processor's line in file order, and the boot time.
struct CpuStat
{
    ProcessorTimes all;
    std::vector<ProcessorStat> processors;
    qint64 bootTime = 0; // seconds since the epoch; 0 when the file does not give it
};
// `ticksPerSecond` is the kernel's USER_HZ. The summary line is required; a processor line
// with fewer than four numbers or a number twice refuses the text.
std::optional<CpuStat> parseProcStat(QByteArrayView text, long ticksPerSecond);

// /proc/uptime: seconds since boot (the first figure).
std::optional<double> parseUptime(QByteArrayView text);

// /proc/sys/fs/file-nr: allocated file handles (the first figure).
std::optional<quint64> parseFileNr(QByteArrayView text);
// /proc/loadavg: the number of scheduling entities (threads) after the slash.
std::optional<quint64> parseLoadAvgThreads(QByteArrayView text);

// /etc/os-release (shell-style assignments; comments and blank lines allowed).
struct OSRelease
{
    QString name;       // NAME
    QString version;    // VERSION
    QString versionId;  // VERSION_ID
    QString prettyName; // PRETTY_NAME
    QString id;         // ID
};
// A line that is not an assignment of a well-formed value refuses the text.
std::optional<OSRelease> parseOsRelease(QByteArrayView text);

// uname(2) and the build number from its version text ("#1 SMP ..." gives 1, -1 when none).
struct KernelInfo
{
    QString sysName;
    QString release;
    QString version;
    QString machine;
    int buildNumber = -1;
};
int parseBuildNumber(const QString &version);

// One line of /proc/self/mountinfo, escapes undone.
struct MountEntry
{
    int major = 0;
    int minor = 0;
    QString root; // the mounted directory inside the file system ("/" for the whole one)
    QString mountPoint;
    QString fsType;
    QString source;
};
std::optional<std::vector<MountEntry>> parseMountInfo(QByteArrayView text);

// Drive types by the customary numbers: 0 unknown, 2 removable, 3 fixed, 5 optical, 6 RAM disk.
enum DriveType : int { dtUnknown = 0, dtRemovable = 2, dtFixed = 3, dtOptical = 5, dtRamDisk = 6 };
// `blockName` is the kernel's name of the device ("sda1", "sr0", "loop3"); `removable` is the
// removable flag of its disk when known.
int classifyDrive(const MountEntry &mount, const QString &blockName, std::optional<bool> removable);

// The mounts of real devices worth showing as drives: sources below /dev, each device once
// (its first whole mount; mounts of a subdirectory alone are left out), in mount order.
std::vector<MountEntry> deviceMounts(const std::vector<MountEntry> &mounts);

// Name of a /dev/disk/by-* link with the udev escapes (\xNN) undone.
QString unescapeDiskLinkName(const QString &name);
// The first eight hexadecimal digits of a file-system UUID, upper case ("" when it has fewer).
QString serialFromUuid(const QString &uuid);

// A plain decimal number: digits only, no sign, no overflow.
bool parseDecimal(QByteArrayView text, quint64 &value);

// Reads a kernel file whole (up to `limit` bytes); nullopt when it cannot be opened or read.
std::optional<QByteArray> readStatusFile(const char *path, std::size_t limit = 1u << 20);

} // namespace platform::system
