#include "sysinfo/SystemStatus.h"

#include "platform/Logging.h"
#include "platform/system/StatusSource.h"
#include "sysinfo/Logging.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
    return T.kernel + T.user + T.dpc + T.interrupt;
}

} // namespace

TSystemStatus::TSystemStatus(QObject *AOwner, platform::system::StatusSource *Source)
    : QObject(AOwner), m_Source(Source ? Source : &platform::system::defaultStatusSource())
{
    Drives.resize(1);
    ReadBootInfo();
}

TSystemStatus::~TSystemStatus() = default;

void TSystemStatus::ReadBootInfo()
{
    CPUCount = 1;
    m_CPUNumbers.clear();
    const auto stat = m_Source->cpuStat();
    if (stat && !stat->processors.empty()) {
        CPUCount = quint32(stat->processors.size());
        for (const auto &p : stat->processors)
            m_CPUNumbers.push_back(p.number);
    }
    if (m_CPUNumbers.empty())
        m_CPUNumbers.push_back(0);
    PrevTotal.assign(CPUCount + 1, 0.0);
    PrevIdle.assign(CPUCount + 1, 0.0);
    CPUUsage.assign(CPUCount + 1, 0);

    qint64 boot = stat ? stat->bootTime : 0;
    if (boot <= 0) {
        // Without the kernel's boot stamp: the time now less the time since boot.
        qint64 seconds = 0;
        quint32 nanoseconds = 0;
        m_Source->realtimeNow(seconds, nanoseconds);
        if (const auto up = m_Source->uptimeSeconds())
            boot = seconds - qint64(*up);
    }
    if (boot > 0)
        BootTime = platform::localSystemTime(boot, 0);
}

bool TSystemStatus::Refresh(quint32 Flags)
{
    bool result = false;
    if (Flags & rfCPU) {
        try {
            result = SampleCPU();
        } catch (...) {
            // The sample is guarded: any exception is a failed sample.
            qCWarning(lcSysinfo) << "processor sample failed:" << platform::currentExceptionText();
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

qint32 TSystemStatus::GetCPUUsage(int Index) const
{
    if (CPUUsage.empty())
        return 0;
    if (Index >= 0 && quint32(Index) <= CPUCount && size_t(Index) < CPUUsage.size())
        return CPUUsage[size_t(Index)];
    return CPUUsage[0];
}

bool TSystemStatus::SampleCPU()
{
    const auto stat = m_Source->cpuStat();
    const auto now = m_Source->now100ns();
    if (!stat || !now)
        return false;
    const size_t N = CPUCount;
    // Each processor of the first count by its kernel number; one that has gone offline since
    // has no record and counts as unused.
    std::vector<const platform::system::ProcessorTimes *> records(N, nullptr);
    if (N > 1) {
        for (size_t i = 0; i < N; ++i)
            for (const auto &p : stat->processors)
                if (p.number == m_CPUNumbers[i])
                    records[i] = &p.times;
    }
    const double Now = *now;
    const double Idle = stat->all.idle;

    // Everything is worked out first: a sample that cannot be computed stores nothing, so the
    // next one measures from the last good sample.
    std::vector<qint32> usage = CPUUsage;
    if (PrevTotal[0] != 0) {
        const double elapsed = (Now - PrevTotal[0]) * double(N);
        const double idleDelta = Idle - PrevIdle[0];
        if (!(elapsed > 0) || !std::isfinite(elapsed))
            return false;
        usage[0] = Percent(elapsed - idleDelta, elapsed);
        if (N > 1) {
            for (size_t i = 1; i <= N; ++i) {
                const auto *r = records[i - 1];
                if (!r) {
                    usage[i] = 0;
                    continue;
                }
                const double total = TotalTime(*r) - PrevTotal[i];
                const double idle = r->idle - PrevIdle[i];
                if (!(total > 0) || !std::isfinite(total))
                    return false;
                usage[i] = Percent(total - idle, total);
            }
        }
    }
    CPUUsage = std::move(usage);
    PrevTotal[0] = Now;
    PrevIdle[0] = Idle;
    if (N > 1) {
        for (size_t i = 1; i <= N; ++i) {
            const auto *r = records[i - 1];
            PrevTotal[i] = r ? TotalTime(*r) : 0.0;
            PrevIdle[i] = r ? r->idle : 0.0;
        }
    }
    return true;
}

bool TSystemStatus::ReadPerformance()
{
    const auto mem = m_Source->memory();
    const auto counts = m_Source->counts();
    if (!mem || !counts)
        return false;
    PhysicalTotal = Bytes(mem->total);
    PhysicalAvailable = Bytes(std::min(mem->available, mem->total));
    SystemCache = Bytes(mem->buffers + mem->cached);
    CommitLimit = Bytes(mem->commitLimit);
    CommitTotal = Bytes(mem->committed);
    CommitPeak = std::max(CommitPeak, CommitTotal);
    // Reclaimable slab can be given back under pressure, as paged pool can be paged out; the
    // rest of the slab, the kernel stacks and the page tables stay resident.
    KernelPaged = Bytes(mem->slabReclaimable);
    KernelNonpaged = Bytes(mem->slabUnreclaimable + mem->kernelStack + mem->pageTables);
    KernelTotal = Bytes(quint64(KernelPaged) + quint64(KernelNonpaged));
    HandleCount = Count(counts->handles);
    ThreadCount = Count(counts->threads);
    ProcessCount = Count(counts->processes);
    return true;
}

bool TSystemStatus::ReadUpTime()
{
    const auto up = m_Source->uptimeSeconds();
    if (!up || !(*up >= 0))
        return false;
    qint64 seconds = 0;
    quint32 nanoseconds = 0;
    m_Source->realtimeNow(seconds, nanoseconds);
    const SYSTEMTIME now = platform::localSystemTime(seconds, nanoseconds);
    if (now.wYear == 0)
        return false;
    CurrentTime = now;
    // The span comes from the kernel's own count, which no clock change or daylight-saving
    // switch since boot can bend.
    const qint64 ms = qint64(std::floor(*up * 1000.0));
    SYSTEMTIME span;
    span.wDay = quint16(std::min<qint64>(ms / 86400000, 0xFFFF));
    span.wHour = quint16(ms / 3600000 % 24);
    span.wMinute = quint16(ms / 60000 % 60);
    span.wSecond = quint16(ms / 1000 % 60);
    span.wMilliseconds = quint16(ms % 1000);
    UpTime = span;
    return true;
}

bool TSystemStatus::ReadDrives()
{
    const auto drives = m_Source->drives();
    if (!drives)
        return false;
    std::vector<TDriveInfo> found;
    for (const auto &d : *drives) {
        if (d.type != platform::system::dtFixed)
            continue;
        TDriveInfo info;
        info.Letter = d.root;
        if (d.volumeOk) {
            info.VolumeName = d.volumeName;
            info.SerialNumber = d.serial;
            info.MaxComponentLength = d.maxComponentLength;
            info.FileSystem = d.fileSystem;
        }
        if (d.sizeOk) {
            info.TotalBytes = Bytes(d.totalBytes);
            info.FreeBytes = Bytes(d.freeBytes);
            info.AvailableBytes = Bytes(d.availableBytes);
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
    Info.Version = GetVersionCode();
    if (const auto os = m_Source->osRelease()) {
        Info.Name = !os->name.isEmpty() ? os->name
            : !os->prettyName.isEmpty() ? os->prettyName
                                        : QStringLiteral("Linux");
        Info.Edition = !os->version.isEmpty() ? os->version : os->versionId;
    }
    if (const auto k = m_Source->kernel()) {
        Info.ServicePack = (k->sysName + QLatin1Char(' ') + k->release).trimmed().left(128);
        if (k->buildNumber >= 0)
            Info.Build = QStringLiteral("Build %1").arg(k->buildNumber);
    }
}
