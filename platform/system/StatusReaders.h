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

// /proc/meminfo, in bytes. Keys the kernel did not write stay 0; HasAvailable is false when
// MemAvailable is one of them.
struct MemoryInfo
{
    quint64 Total = 0;             // MemTotal
    quint64 Free = 0;              // MemFree
    quint64 Available = 0;         // MemAvailable, or free + buffers + cached on kernels without it
    quint64 Buffers = 0;           // Buffers
    quint64 Cached = 0;            // Cached
    quint64 SwapTotal = 0;         // SwapTotal
    quint64 SwapFree = 0;          // SwapFree
    quint64 CommitLimit = 0;       // CommitLimit
    quint64 Committed = 0;         // Committed_AS
    quint64 SlabReclaimable = 0;   // SReclaimable
    quint64 SlabUnreclaimable = 0; // SUnreclaim
    quint64 KernelStack = 0;       // KernelStack
    quint64 PageTables = 0;        // PageTables
    bool HasAvailable = false;
};
// MemTotal must be present; a known key with a value that is not a number of kB refuses the text.
std::optional<MemoryInfo> ParseMemInfo(QByteArrayView Text);

// One processor's times (or all processors' together) in 100-nanosecond units, in the shape
// the status component computes with: the kernel time includes the idle time.
struct ProcessorTimes
{
    double Idle = 0;      // idle + iowait
    double Kernel = 0;    // system + idle + iowait
    double User = 0;      // user + nice
    double Dpc = 0;       // softirq
    double Interrupt = 0; // irq
};

struct ProcessorStat
{
    int Number = -1; // N of the "cpuN" line
    ProcessorTimes Times;
};

// /proc/stat: the summary line, each processor's line in file order, and the boot time.
struct CpuStat
{
    ProcessorTimes All;
    std::vector<ProcessorStat> Processors;
    qint64 BootTime = 0; // seconds since the epoch; 0 when the file does not give it
};
// `TicksPerSecond` is the kernel's USER_HZ. The summary line is required; a processor line
// with fewer than four numbers or a number twice refuses the text.
std::optional<CpuStat> ParseProcStat(QByteArrayView Text, long TicksPerSecond);

// /proc/uptime: seconds since boot (the first figure).
std::optional<double> ParseUptime(QByteArrayView Text);

// /proc/sys/fs/file-nr: allocated file handles (the first figure).
std::optional<quint64> ParseFileNr(QByteArrayView Text);
// /proc/loadavg: the number of scheduling entities (threads) after the slash.
std::optional<quint64> ParseLoadAvgThreads(QByteArrayView Text);

// /etc/os-release (shell-style assignments; comments and blank lines allowed).
struct OSRelease
{
    QString Name;       // NAME
    QString Version;    // VERSION
    QString VersionId;  // VERSION_ID
    QString PrettyName; // PRETTY_NAME
    QString Id;         // ID
};
// A line that is not an assignment of a well-formed value refuses the text.
std::optional<OSRelease> ParseOsRelease(QByteArrayView Text);

// uname(2) and the build number from its version text ("#1 SMP ..." gives 1, -1 when none).
struct KernelInfo
{
    QString SysName;
    QString Release;
    QString Version;
    QString Machine;
    int BuildNumber = -1;
};
int ParseBuildNumber(const QString &Version);

// One line of /proc/self/mountinfo, escapes undone.
struct MountEntry
{
    int Id = 0;       // the mount's own number
    int ParentId = 0; // the mount its mount point lies on
    int Major = 0;
    int Minor = 0;
    QString Root; // the mounted directory inside the file system ("/" for the whole one)
    QString MountPoint;
    QString FsType;
    QString Source;
};
std::optional<std::vector<MountEntry>> ParseMountInfo(QByteArrayView Text);

// Drive types by the customary numbers: 0 unknown, 2 removable, 3 fixed, 5 optical, 6 RAM disk.
enum DriveType : int { dtUnknown = 0, dtRemovable = 2, dtFixed = 3, dtOptical = 5, dtRamDisk = 6 };
// `BlockName` is the kernel's name of the device ("sda1", "sr0", "loop3"); `Removable` is the
// removable flag of its disk when known.
int ClassifyDrive(const MountEntry &Mount, const QString &BlockName, std::optional<bool> Removable);

// The mounts of real devices worth showing as drives: sources below /dev, each device once
// (its first whole mount; mounts of a subdirectory alone are left out), in mount order.
std::vector<MountEntry> DeviceMounts(const std::vector<MountEntry> &Mounts);

// A file system whose answers come from a server or a process of its own (network and FUSE file
// systems, a block device's included): a query of it waits for as long as that one does.
bool IsServedFileSystem(const QString &FsType);
// Whether the mount can be asked for its figures through its mount point without waiting on a
// served file system: it is none, no mount on the way to its mount point is one, and no later
// mount covers it (the path would reach that one instead).
bool MountPointAnswers(const MountEntry &Mount, const std::vector<MountEntry> &Mounts);

// Name of a /dev/disk/by-* link with the udev escapes (\xNN) undone.
QString UnescapeDiskLinkName(const QString &Name);
// The first eight hexadecimal digits of a file-system UUID, upper case ("" when it has fewer).
QString SerialFromUuid(const QString &Uuid);

// A plain decimal number: digits only, no sign, no overflow.
bool ParseDecimal(QByteArrayView Text, quint64 &Value);

// Reads a kernel file whole (up to `Limit` bytes); nullopt when it cannot be opened or read.
std::optional<QByteArray> ReadStatusFile(const char *Path, std::size_t Limit = 1u << 20);

} // namespace platform::system
