#pragma once

#include "platform/system/StatusReaders.h"
#include "platform/system/TestSeams.h"

#include <QString>

#include <optional>
#include <vector>

namespace platform::system {

// Counts of the whole system.
struct KernelCounts
{
    quint64 Handles = 0;   // allocated file handles (/proc/sys/fs/file-nr)
    quint64 Threads = 0;   // scheduling entities (/proc/loadavg)
    quint64 Processes = 0; // numbered entries of /proc
};

// One mounted drive with what its volume and its free-space queries gave.
struct DriveEntry
{
    QString Root;          // the mount point
    int Type = dtUnknown;  // DriveType
    bool VolumeOk = false; // the four volume fields below are valid
    QString VolumeName;    // the file-system label
    QString Serial;        // 8 upper-case hexadecimal digits
    quint32 MaxComponentLength = 0;
    QString FileSystem;
    bool SizeOk = false; // the three sizes below are valid
    quint64 TotalBytes = 0;
    quint64 FreeBytes = 0;
    quint64 AvailableBytes = 0; // free to an unprivileged caller
};

// What the system status component asks of the system, in one replaceable interface: the
// real one reads the kernel's files; tests put a scripted one in its place to produce
// machines and failures that cannot be produced for real. Every query answers nullopt on
// failure.
class StatusSource
{
public:
    virtual ~StatusSource() = default;

    virtual std::optional<CpuStat> Cpu();
    // A monotonic clock in 100-nanosecond units (the time base of the processor samples).
    virtual std::optional<double> Now100ns();
    virtual std::optional<MemoryInfo> Memory();
    virtual std::optional<KernelCounts> Counts();
    virtual std::optional<double> UptimeSeconds();
    // The wall-clock time as seconds and nanoseconds since the epoch.
    virtual void RealtimeNow(qint64 &Seconds, quint32 &Nanoseconds);
    virtual std::optional<std::vector<DriveEntry>> Drives();
    virtual std::optional<OSRelease> OsRelease();
    virtual std::optional<KernelInfo> Kernel();
};

// The process-wide real source.
StatusSource &DefaultStatusSource();

#if TASKVANE_TEST_SEAMS
// What DefaultStatusSource gives from now on (the window's system page included); null gives the
// real source again.
void SetDefaultStatusSource(StatusSource *Source);
#endif

} // namespace platform::system
