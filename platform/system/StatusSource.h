#pragma once

#include "platform/system/StatusReaders.h"

#include <QString>

#include <optional>
#include <vector>

namespace platform::system {

// Counts of the whole system.
struct KernelCounts
{
    quint64 handles = 0;   // allocated file handles (/proc/sys/fs/file-nr)
    quint64 threads = 0;   // scheduling entities (/proc/loadavg)
    quint64 processes = 0; // numbered entries of /proc
};

// One mounted drive with what its volume and its free-space queries gave.
struct DriveEntry
{
    QString root;          // the mount point
    int type = dtUnknown;  // DriveType
    bool volumeOk = false; // the four volume fields below are valid
    QString volumeName;    // the file-system label
    QString serial;        // 8 upper-case hexadecimal digits
    quint32 maxComponentLength = 0;
    QString fileSystem;
    bool sizeOk = false; // the three sizes below are valid
    quint64 totalBytes = 0;
    quint64 freeBytes = 0;
    quint64 availableBytes = 0; // free to an unprivileged caller
};

// What the system status component asks of the system, in one replaceable interface: the
// real one reads the kernel's files; tests put a scripted one in its place to produce
// machines and failures that cannot be produced for real. Every query answers nullopt on
// failure.
class StatusSource
{
public:
    virtual ~StatusSource() = default;

    virtual std::optional<CpuStat> cpuStat();
    // A monotonic clock in 100-nanosecond units (the time base of the processor samples).
    virtual std::optional<double> now100ns();
    virtual std::optional<MemoryInfo> memory();
    virtual std::optional<KernelCounts> counts();
    virtual std::optional<double> uptimeSeconds();
    // The wall-clock time as seconds and nanoseconds since the epoch.
    virtual void realtimeNow(qint64 &seconds, quint32 &nanoseconds);
    virtual std::optional<std::vector<DriveEntry>> drives();
    virtual std::optional<OSRelease> osRelease();
    virtual std::optional<KernelInfo> kernel();
};

// The process-wide real source.
StatusSource &defaultStatusSource();

} // namespace platform::system
