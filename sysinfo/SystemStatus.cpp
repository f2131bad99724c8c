#include "sysinfo/SystemStatus.h"

#include "platform/Logging.h"
#include "platform/system/StatusSource.h"
#include "sysinfo/Logging.h"
#include "sysinfo/ReadingWorker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

// Percent of Part in Whole, to the nearest integer with halves to even. The kernel counts in
// clock ticks and the clock runs on its own, so a share a tick off the truth is kept in 0..100.
qint32 Percent(double Part, double Whole)
{
    const double p = std::nearbyint(Part * 100.0 / Whole);
    return qint32(std::clamp(p, 0.0, 100.0));
}

qint64 Bytes(quint64 Value)
{
    return Value > quint64(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(Value);
}

quint32 Count(quint64 Value)
{
    return Value > 0xFFFFFFFFull ? 0xFFFFFFFFu : quint32(Value);
}

double TotalTime(const platform::system::ProcessorTimes &T)
{
    return T.Kernel + T.User + T.Dpc + T.Interrupt;
}

// The operating system by its release file and the kernel's name.
void ReadOSInfo(platform::system::StatusSource &Source, TOSInfo &Info)
{
    Info.Version = 0; // the version codes name no Linux
    if (const auto os = Source.OsRelease()) {
        Info.Name = !os->Name.isEmpty() ? os->Name
            : !os->PrettyName.isEmpty() ? os->PrettyName
                                        : QStringLiteral("Linux");
        Info.Edition = !os->Version.isEmpty() ? os->Version : os->VersionId;
    }
    if (const auto k = Source.Kernel()) {
        Info.ServicePack = (k->SysName + QLatin1Char(' ') + k->Release).trimmed().left(128);
        if (k->BuildNumber >= 0)
            Info.Build = QStringLiteral("Build %1").arg(k->BuildNumber);
    }
}

} // namespace

// The reading itself, on whichever thread asks for it: the previous sample and the figures it
// gave. One reading at a time: the component's worker and a reading on the caller's thread take
// turns through the lock.
class TSystemStatus::TReader : public TSystemFigures
{
public:
    explicit TReader(platform::system::StatusSource *Source) : m_Source(Source)
    {
        PrevTotal.assign(2, 0.0);
        PrevIdle.assign(2, 0.0);
        CPUUsage.assign(2, 0);
        Drives.resize(1);
    }

    std::mutex Lock;

    platform::system::StatusSource *Source() const { return m_Source; }
    const TSystemFigures &Figures() const { return *this; }
    void ReadBootInfo();
    bool Refresh(quint32 Flags);

private:
    bool SampleCPU();
    bool ReadPerformance();
    bool ReadUpTime();
    bool ReadDrives();

    platform::system::StatusSource *m_Source;
    bool m_BootRead = false;
    // The kernel's numbers of the processors counted at the boot reading, by entry.
    std::vector<int> m_CPUNumbers;
};

TSystemStatus::TSystemStatus(QObject *AOwner, platform::system::StatusSource *Source, TBootInfo BootInfo)
    : QObject(AOwner), m_Reader(std::make_shared<TReader>(Source ? Source : &platform::system::DefaultStatusSource())),
      m_Worker(std::make_unique<TReadingWorker>(this))
{
    if (BootInfo == TBootInfo::ReadNow) {
        std::lock_guard l(m_Reader->Lock);
        m_Reader->ReadBootInfo();
    }
    static_cast<TSystemFigures &>(*this) = m_Reader->Figures();
}

TSystemStatus::~TSystemStatus()
{
    // A reading under way hands nothing over any more; one stuck in the kernel is left behind.
    m_Worker.reset();
}

void TSystemStatus::TReader::ReadBootInfo()
{
    m_BootRead = true;
    CPUCount = 1;
    m_CPUNumbers.clear();
    const auto stat = m_Source->Cpu();
    if (stat && !stat->Processors.empty()) {
        CPUCount = quint32(stat->Processors.size());
        for (const auto &p : stat->Processors)
            m_CPUNumbers.push_back(p.Number);
    }
    if (m_CPUNumbers.empty())
        m_CPUNumbers.push_back(0);
    PrevTotal.assign(CPUCount + 1, 0.0);
    PrevIdle.assign(CPUCount + 1, 0.0);
    CPUUsage.assign(CPUCount + 1, 0);

    qint64 boot = stat ? stat->BootTime : 0;
    if (boot <= 0) {
        // Without the kernel's boot stamp: the time now less the time since boot.
        qint64 seconds = 0;
        quint32 nanoseconds = 0;
        m_Source->RealtimeNow(seconds, nanoseconds);
        if (const auto up = m_Source->UptimeSeconds())
            boot = seconds - qint64(*up);
    }
    if (boot > 0)
        BootTime = platform::LocalSystemTime(boot, 0);
}

bool TSystemStatus::TReader::Refresh(quint32 Flags)
{
    if (!m_BootRead)
        ReadBootInfo();
    bool result = false;
    if (Flags & rfCPU) {
        try {
            result = SampleCPU();
        } catch (...) {
            // The sample is guarded: any exception is a failed sample.
            qCWarning(lcSysinfo) << "processor sample failed:" << platform::CurrentExceptionText();
            result = false;
        }
    }
    if (Flags & rfPerformance)
        result = ReadPerformance();
    if (Flags & rfUpTime)
        result = ReadUpTime();
    if (Flags & rfDrives)
        result = ReadDrives();
    return result;
}

bool TSystemStatus::Refresh(quint32 Flags)
{
    std::lock_guard l(m_Reader->Lock);
    const bool result = m_Reader->Refresh(Flags);
    const TOSInfo os = OSInfo;
    static_cast<TSystemFigures &>(*this) = m_Reader->Figures();
    OSInfo = os;
    return result;
}

void TSystemStatus::RefreshInBackground(quint32 Flags)
{
    m_Queued |= Flags;
    if (!m_Worker->Running())
        StartReading();
}

bool TSystemStatus::Refreshing() const
{
    return m_Worker->Running() || m_Queued != 0;
}

void TSystemStatus::StartReading()
{
    const quint32 flags = std::exchange(m_Queued, 0);
    if (flags == 0)
        return;
    // The reader, not the component: a reading left behind at the component's end keeps it.
    const bool started = m_Worker->Start([this, reader = m_Reader, flags]() -> TReadingWorker::TApply {
        TSystemFigures figures;
        {
            std::lock_guard l(reader->Lock);
            reader->Refresh(flags & ~quint32(rfOSInfo));
            figures = reader->Figures();
        }
        if (flags & rfOSInfo) {
            figures.OSInfo = TOSInfo();
            ReadOSInfo(*reader->Source(), figures.OSInfo);
        }
        return [this, flags, figures = std::move(figures)]() mutable {
            const TOSInfo os = OSInfo;
            static_cast<TSystemFigures &>(*this) = std::move(figures);
            if (!(flags & rfOSInfo))
                OSInfo = os;
            if (OnRefreshed)
                OnRefreshed(flags);
            // What was asked meanwhile.
            if (!m_Worker->Running())
                StartReading();
        };
    });
    if (!started)
        m_Queued |= flags;
}

qint32 TSystemStatus::GetCPUUsage(int Index) const
{
    if (CPUUsage.empty())
        return 0;
    if (Index >= 0 && quint32(Index) <= CPUCount && size_t(Index) < CPUUsage.size())
        return CPUUsage[size_t(Index)];
    return CPUUsage[0];
}

bool TSystemStatus::TReader::SampleCPU()
{
    const auto stat = m_Source->Cpu();
    const auto clock = m_Source->Now100ns();
    if (!stat || !clock)
        return false;
    const size_t n = CPUCount;
    // Each processor of the first count by its kernel number; one that has gone offline since
    // has no record and counts as unused.
    std::vector<const platform::system::ProcessorTimes *> records(n, nullptr);
    if (n > 1) {
        for (size_t i = 0; i < n; ++i)
            for (const auto &p : stat->Processors)
                if (p.Number == m_CPUNumbers[i])
                    records[i] = &p.Times;
    }
    const double now = *clock;
    const double idle = stat->All.Idle;

    // Everything is worked out first: a sample that cannot be computed stores nothing, so the
    // next one measures from the last good sample.
    std::vector<qint32> usage = CPUUsage;
    if (PrevTotal[0] != 0) {
        const double elapsed = (now - PrevTotal[0]) * double(n);
        const double idleDelta = idle - PrevIdle[0];
        if (!(elapsed > 0) || !std::isfinite(elapsed))
            return false;
        usage[0] = Percent(elapsed - idleDelta, elapsed);
        if (n > 1) {
            for (size_t i = 1; i <= n; ++i) {
                const auto *r = records[i - 1];
                if (!r) {
                    usage[i] = 0;
                    continue;
                }
                const double total = TotalTime(*r) - PrevTotal[i];
                const double cpuIdle = r->Idle - PrevIdle[i];
                if (!(total > 0) || !std::isfinite(total))
                    return false;
                usage[i] = Percent(total - cpuIdle, total);
            }
        }
    }
    CPUUsage = std::move(usage);
    PrevTotal[0] = now;
    PrevIdle[0] = idle;
    if (n > 1) {
        for (size_t i = 1; i <= n; ++i) {
            const auto *r = records[i - 1];
            PrevTotal[i] = r ? TotalTime(*r) : 0.0;
            PrevIdle[i] = r ? r->Idle : 0.0;
        }
    }
    return true;
}

bool TSystemStatus::TReader::ReadPerformance()
{
    const auto mem = m_Source->Memory();
    const auto counts = m_Source->Counts();
    if (!mem || !counts)
        return false;
    PhysicalTotal = Bytes(mem->Total);
    PhysicalAvailable = Bytes(std::min(mem->Available, mem->Total));
    SystemCache = Bytes(mem->Buffers + mem->Cached);
    CommitLimit = Bytes(mem->CommitLimit);
    CommitTotal = Bytes(mem->Committed);
    CommitPeak = std::max(CommitPeak, CommitTotal);
    // Reclaimable slab can be given back under pressure, as paged pool can be paged out; the
    // rest of the slab, the kernel stacks and the page tables stay resident.
    KernelPaged = Bytes(mem->SlabReclaimable);
    KernelNonpaged = Bytes(mem->SlabUnreclaimable + mem->KernelStack + mem->PageTables);
    KernelTotal = Bytes(quint64(KernelPaged) + quint64(KernelNonpaged));
    HandleCount = Count(counts->Handles);
    ThreadCount = Count(counts->Threads);
    ProcessCount = Count(counts->Processes);
    return true;
}

bool TSystemStatus::TReader::ReadUpTime()
{
    const auto up = m_Source->UptimeSeconds();
    if (!up || !(*up >= 0))
        return false;
    qint64 seconds = 0;
    quint32 nanoseconds = 0;
    m_Source->RealtimeNow(seconds, nanoseconds);
    const SYSTEMTIME now = platform::LocalSystemTime(seconds, nanoseconds);
    if (now.WYear == 0)
        return false;
    CurrentTime = now;
    // The span comes from the kernel's own count, which no clock change or daylight-saving
    // switch since boot can bend.
    const qint64 ms = qint64(std::floor(*up * 1000.0));
    SYSTEMTIME span;
    span.WDay = quint16(std::min<qint64>(ms / 86400000, 0xFFFF));
    span.WHour = quint16(ms / 3600000 % 24);
    span.WMinute = quint16(ms / 60000 % 60);
    span.WSecond = quint16(ms / 1000 % 60);
    span.WMilliseconds = quint16(ms % 1000);
    UpTime = span;
    return true;
}

bool TSystemStatus::TReader::ReadDrives()
{
    const auto drives = m_Source->Drives();
    if (!drives)
        return false;
    std::vector<TDriveInfo> found;
    for (const auto &d : *drives) {
        if (d.Type != platform::system::dtFixed)
            continue;
        TDriveInfo info;
        info.Letter = d.Root;
        if (d.VolumeOk) {
            info.VolumeName = d.VolumeName;
            info.SerialNumber = d.Serial;
            info.MaxComponentLength = d.MaxComponentLength;
            info.FileSystem = d.FileSystem;
        }
        if (d.SizeOk) {
            info.TotalBytes = Bytes(d.TotalBytes);
            info.FreeBytes = Bytes(d.FreeBytes);
            info.AvailableBytes = Bytes(d.AvailableBytes);
        }
        found.push_back(info);
    }
    DriveCount = qint32(std::min<size_t>(found.size(), size_t(std::numeric_limits<qint32>::max() - 1)));
    found.resize(size_t(DriveCount) + 1);
    Drives = std::move(found);
    return true;
}

quint8 TSystemStatus::GetVersionCode()
{
    // The codes name systems of another family; no Linux is among them.
    return 0;
}

void TSystemStatus::GetOSInfo(TOSInfo &Info)
{
    ReadOSInfo(*m_Reader->Source(), Info);
}
