#pragma once

#include "platform/files/SystemTime.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace platform::system {
class StatusSource;
}

// One fixed drive: on this system a mounted file system of a local, non-removable device.
struct TDriveInfo
{
    QString Letter;     // the mount point (the root path the drive is reached by)
    QString VolumeName; // the file-system label
    QString SerialNumber;
    quint32 MaxComponentLength = 0;
    QString FileSystem;
    qint64 TotalBytes = 0;
    qint64 FreeBytes = 0;
    qint64 AvailableBytes = 0;
};

// The running operating system. `Version` is the code of a known system of the family this
// component once told apart, 0 for any other (every Linux); `Name` the distribution's name,
// `Edition` its version, `ServicePack` the kernel and its release, `Build` "Build %d" with the
// kernel's build number.
struct TOSInfo
{
    quint8 Version = 0;
    QString Name;
    QString Edition;
    QString ServicePack;
    QString Build;
};

// The figures the system status component keeps; the system page reads them directly.
struct TSystemFigures
{
    // Entry 0: the clock and all processors' idle time at the previous sample; entry i: the
    // previous total and idle time of processor i - 1 (100-nanosecond units).
    std::vector<double> PrevTotal;
    std::vector<double> PrevIdle;
    quint32 CPUCount = 1;
    // Percent; entry 0 all processors, entry i processor i - 1.
    std::vector<qint32> CPUUsage;
    // Bytes. The page file is the swap space: the commit figures are the kernel's commit limit
    // and committed address space; the peak is the largest commit charge seen by this component.
    qint64 PhysicalTotal = 0, PhysicalAvailable = 0, SystemCache = 0;
    qint64 CommitLimit = 0, CommitTotal = 0, CommitPeak = 0;
    qint64 KernelTotal = 0, KernelPaged = 0, KernelNonpaged = 0;
    quint32 HandleCount = 0, ThreadCount = 0, ProcessCount = 0;
    SYSTEMTIME BootTime;
    SYSTEMTIME CurrentTime;
    SYSTEMTIME UpTime;
    qint32 DriveCount = 0;
    // One entry per fixed drive in mount order, and one spare entry.
    std::vector<TDriveInfo> Drives;
    // The operating system, as the last reading in the background that asked for it found it.
    TOSInfo OSInfo;
};

class TReadingWorker;

// Samples processor use (all together and each processor), memory and kernel counters, the
// boot time and the time since boot, and the fixed drives. It shows nothing: every refresh
// reports by its result and leaves the fields of a failed step as they were.
//
// The figures are read either on the calling thread (Refresh) or on a worker of the component's
// own (RefreshInBackground), never both at once: the kernel's files can keep a reader waiting
// for seconds on a busy machine, and the window's thread never reads them.
class TSystemStatus : public QObject, public TSystemFigures
{
    Q_OBJECT
public:
    enum : quint32 { rfCPU = 1, rfPerformance = 2, rfUpTime = 4, rfDrives = 8, rfOSInfo = 16 };
    // When the processor count and the boot time are read: at creation, or with the first
    // refresh (on whatever thread that runs).
    enum class TBootInfo : quint8 { ReadNow, ReadLater };

    // `Source` replaces the system's status files (tests); the component does not own it, and
    // it must outlive every reading (one left behind at the component's end included).
    explicit TSystemStatus(QObject *AOwner = nullptr, platform::system::StatusSource *Source = nullptr,
                           TBootInfo BootInfo = TBootInfo::ReadNow);
    // Waits a short while for a reading in the background, then leaves it behind.
    ~TSystemStatus() override;

    // Runs the steps whose bits are set, in this order: 1 processor sample, 2 memory and counts,
    // 4 up-time, 8 drives. The result is that of the last step run.
    bool Refresh(quint32 Flags);
    bool RefreshCPUUsage() { return Refresh(rfCPU); }
    bool RefreshPerformance() { return Refresh(rfPerformance); }
    bool RefreshUptime() { return Refresh(rfUpTime); }

    // The same steps on the component's worker, and with rfOSInfo the operating system into
    // OSInfo; returns at once. The figures take their place on the component's thread, and
    // OnRefreshed then runs with the steps that reading ran. Asked while a reading runs, the
    // steps are run by one more reading right after it, however often they were asked.
    void RefreshInBackground(quint32 Flags);
    // A reading in the background runs or is to follow.
    bool Refreshing() const;
    std::function<void(quint32 Flags)> OnRefreshed;

    // CPUUsage[Index] for 0 <= Index <= CPUCount, otherwise CPUUsage[0].
    qint32 GetCPUUsage(int Index) const;
    void GetOSInfo(TOSInfo &Info);
    quint8 GetVersionCode();

private:
    class TReader;

    void StartReading();

    std::shared_ptr<TReader> m_Reader;
    std::unique_ptr<TReadingWorker> m_Worker;
    quint32 m_Queued = 0;
};
