#include "platform/system/StatusSource.h"

#include "platform/processes/ProcFs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <time.h>

namespace platform::system {

namespace {

// The kernel's name of a block device and the removable flag of its disk, from sysfs.
void BlockDeviceFacts(int Major, int Minor, QString &Name, std::optional<bool> &Removable)
{
    const QString dir = QStringLiteral("/sys/dev/block/%1:%2").arg(Major).arg(Minor);
    Name = QFileInfo(QFileInfo(dir).canonicalFilePath()).fileName();
    Removable.reset();
    // A partition carries no flag of its own: its disk is the directory above.
    const QString flagFile = QFileInfo::exists(dir + QStringLiteral("/partition"))
        ? dir + QStringLiteral("/../removable")
        : dir + QStringLiteral("/removable");
    const auto text = ReadStatusFile(QFile::encodeName(flagFile).constData(), 64);
    if (text) {
        const QByteArray t = text->trimmed();
        if (t == "0" || t == "1")
            Removable = (t == "1");
    }
}

// The name of the /dev/disk/by-<kind> link that leads to the device, or "".
QString DiskLinkName(const QString &Kind, int Major, int Minor)
{
    const QString dir = QStringLiteral("/dev/disk/by-") + Kind;
    const QStringList names = QDir(dir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &n : names) {
        struct stat st = {};
        if (::stat(QFile::encodeName(dir + QLatin1Char('/') + n).constData(), &st) == 0 && S_ISBLK(st.st_mode) &&
            int(::major(st.st_rdev)) == Major && int(::minor(st.st_rdev)) == Minor)
            return n;
    }
    return QString();
}

} // namespace

std::optional<CpuStat> StatusSource::Cpu()
{
    const auto text = ReadStatusFile("/proc/stat", 4u << 20);
    if (!text)
        return std::nullopt;
    return ParseProcStat(*text, processes::ClockTicksPerSecond());
}

std::optional<double> StatusSource::Now100ns()
{
    return double(processes::MonotonicNow100ns());
}

std::optional<MemoryInfo> StatusSource::Memory()
{
    const auto text = ReadStatusFile("/proc/meminfo");
    if (!text)
        return std::nullopt;
    return ParseMemInfo(*text);
}

std::optional<KernelCounts> StatusSource::Counts()
{
    const auto files = ReadStatusFile("/proc/sys/fs/file-nr", 256);
    const auto load = ReadStatusFile("/proc/loadavg", 256);
    if (!files || !load)
        return std::nullopt;
    const auto handles = ParseFileNr(*files);
    const auto threads = ParseLoadAvgThreads(*load);
    const quint64 procs = processes::CountProcesses();
    if (!handles || !threads || procs == 0)
        return std::nullopt;
    return KernelCounts{*handles, *threads, procs};
}

std::optional<double> StatusSource::UptimeSeconds()
{
    const auto text = ReadStatusFile("/proc/uptime", 256);
    if (!text)
        return std::nullopt;
    return ParseUptime(*text);
}

void StatusSource::RealtimeNow(qint64 &Seconds, quint32 &Nanoseconds)
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    Seconds = qint64(ts.tv_sec);
    Nanoseconds = quint32(ts.tv_nsec);
}

std::optional<std::vector<DriveEntry>> StatusSource::Drives()
{
    const auto text = ReadStatusFile("/proc/self/mountinfo", 8u << 20);
    if (!text)
        return std::nullopt;
    const auto mounts = ParseMountInfo(*text);
    if (!mounts)
        return std::nullopt;
    std::vector<DriveEntry> out;
    for (const MountEntry &m : DeviceMounts(*mounts)) {
        DriveEntry d;
        d.Root = m.MountPoint;
        QString name;
        std::optional<bool> removable;
        BlockDeviceFacts(m.Major, m.Minor, name, removable);
        d.Type = ClassifyDrive(m, name, removable);
        // A query through a served file system waits as long as its server: such a drive is listed
        // without its volume and sizes.
        struct statvfs vfs = {};
        const QByteArray path = QFile::encodeName(m.MountPoint);
        if (MountPointAnswers(m, *mounts) && ::statvfs(path.constData(), &vfs) == 0) {
            d.VolumeOk = true;
            d.FileSystem = m.FsType;
            d.MaxComponentLength = quint32(vfs.f_namemax);
            d.VolumeName = UnescapeDiskLinkName(DiskLinkName(QStringLiteral("label"), m.Major, m.Minor));
            d.Serial = SerialFromUuid(DiskLinkName(QStringLiteral("uuid"), m.Major, m.Minor));
            if (d.Serial.isEmpty())
                d.Serial =
                    QStringLiteral("%1").arg(quint32(vfs.f_fsid & 0xFFFFFFFFu), 8, 16, QLatin1Char('0')).toUpper();
            const quint64 unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
            d.SizeOk = true;
            d.TotalBytes = quint64(vfs.f_blocks) * unit;
            d.FreeBytes = quint64(vfs.f_bfree) * unit;
            d.AvailableBytes = quint64(vfs.f_bavail) * unit;
        }
        out.push_back(d);
    }
    return out;
}

std::optional<OSRelease> StatusSource::OsRelease()
{
    auto text = ReadStatusFile("/etc/os-release", std::size_t{64} * 1024);
    if (!text)
        text = ReadStatusFile("/usr/lib/os-release", std::size_t{64} * 1024);
    if (!text)
        return std::nullopt;
    return ParseOsRelease(*text);
}

std::optional<KernelInfo> StatusSource::Kernel()
{
    utsname u{};
    if (::uname(&u) != 0)
        return std::nullopt;
    KernelInfo k;
    k.SysName = QString::fromUtf8(u.sysname);
    k.Release = QString::fromUtf8(u.release);
    k.Version = QString::fromUtf8(u.version);
    k.Machine = QString::fromUtf8(u.machine);
    k.BuildNumber = ParseBuildNumber(k.Version);
    return k;
}

#if TASKVANE_TEST_SEAMS
namespace {
std::atomic<StatusSource *> s_DefaultSource{nullptr};
} // namespace

void SetDefaultStatusSource(StatusSource *Source)
{
    s_DefaultSource = Source;
}
#endif

StatusSource &DefaultStatusSource()
{
#if TASKVANE_TEST_SEAMS
    if (StatusSource *source = s_DefaultSource.load())
        return *source;
#endif
    static StatusSource source;
    return source;
}

} // namespace platform::system
