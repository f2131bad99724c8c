#include "platform/system/StatusSource.h"

#include "platform/processes/ProcFs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <time.h>

namespace platform::system {

namespace {

// The kernel's name of a block device and the removable flag of its disk, from sysfs.
void BlockDeviceFacts(int major, int minor, QString &name, std::optional<bool> &removable)
{
    const QString dir = QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor);
    name = QFileInfo(QFileInfo(dir).canonicalFilePath()).fileName();
    removable.reset();
    // A partition carries no flag of its own: its disk is the directory above.
    const QString flagFile = QFileInfo::exists(dir + QStringLiteral("/partition"))
        ? dir + QStringLiteral("/../removable")
        : dir + QStringLiteral("/removable");
    const auto text = readStatusFile(QFile::encodeName(flagFile).constData(), 64);
    if (text) {
        const QByteArray t = text->trimmed();
        if (t == "0" || t == "1")
            removable = (t == "1");
    }
}

// The name of the /dev/disk/by-<kind> link that leads to the device, or "".
QString DiskLinkName(const QString &kind, int major, int minor)
{
    const QString dir = QStringLiteral("/dev/disk/by-") + kind;
    const QStringList names = QDir(dir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &n : names) {
        struct stat st = {};
        if (::stat(QFile::encodeName(dir + QLatin1Char('/') + n).constData(), &st) == 0 && S_ISBLK(st.st_mode) &&
            int(::major(st.st_rdev)) == major && int(::minor(st.st_rdev)) == minor)
            return n;
    }
    return QString();
}

} // namespace

std::optional<CpuStat> StatusSource::cpuStat()
{
    const auto text = readStatusFile("/proc/stat", 4u << 20);
    if (!text)
        return std::nullopt;
    return parseProcStat(*text, processes::clockTicksPerSecond());
}

std::optional<double> StatusSource::now100ns()
{
    return double(processes::monotonicNow100ns());
}

std::optional<MemoryInfo> StatusSource::memory()
{
    const auto text = readStatusFile("/proc/meminfo");
    if (!text)
        return std::nullopt;
    return parseMemInfo(*text);
}

std::optional<KernelCounts> StatusSource::counts()
{
    const auto files = readStatusFile("/proc/sys/fs/file-nr", 256);
    const auto load = readStatusFile("/proc/loadavg", 256);
    if (!files || !load)
        return std::nullopt;
    const auto handles = parseFileNr(*files);
    const auto threads = parseLoadAvgThreads(*load);
    const quint64 procs = processes::countProcesses();
    if (!handles || !threads || procs == 0)
        return std::nullopt;
    return KernelCounts{*handles, *threads, procs};
}

std::optional<double> StatusSource::uptimeSeconds()
{
    const auto text = readStatusFile("/proc/uptime", 256);
    if (!text)
        return std::nullopt;
    return parseUptime(*text);
}

void StatusSource::realtimeNow(qint64 &seconds, quint32 &nanoseconds)
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    seconds = qint64(ts.tv_sec);
    nanoseconds = quint32(ts.tv_nsec);
}

std::optional<std::vector<DriveEntry>> StatusSource::drives()
{
    const auto text = readStatusFile("/proc/self/mountinfo", 8u << 20);
    if (!text)
        return std::nullopt;
    const auto mounts = parseMountInfo(*text);
    if (!mounts)
        return std::nullopt;
    std::vector<DriveEntry> out;
    for (const MountEntry &m : deviceMounts(*mounts)) {
        DriveEntry d;
        d.root = m.mountPoint;
        QString name;
        std::optional<bool> removable;
        BlockDeviceFacts(m.major, m.minor, name, removable);
        d.type = classifyDrive(m, name, removable);
        struct statvfs vfs = {};
        const QByteArray path = QFile::encodeName(m.mountPoint);
        if (::statvfs(path.constData(), &vfs) == 0) {
            d.volumeOk = true;
            d.fileSystem = m.fsType;
            d.maxComponentLength = quint32(vfs.f_namemax);
            d.volumeName = unescapeDiskLinkName(DiskLinkName(QStringLiteral("label"), m.major, m.minor));
            d.serial = serialFromUuid(DiskLinkName(QStringLiteral("uuid"), m.major, m.minor));
            if (d.serial.isEmpty())
                d.serial =
                    QStringLiteral("%1").arg(quint32(vfs.f_fsid & 0xFFFFFFFFu), 8, 16, QLatin1Char('0')).toUpper();
            const quint64 unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
            d.sizeOk = true;
            d.totalBytes = quint64(vfs.f_blocks) * unit;
            d.freeBytes = quint64(vfs.f_bfree) * unit;
            d.availableBytes = quint64(vfs.f_bavail) * unit;
        }
        out.push_back(d);
    }
    return out;
}

std::optional<OSRelease> StatusSource::osRelease()
{
    auto text = readStatusFile("/etc/os-release", 64 * 1024);
    if (!text)
        text = readStatusFile("/usr/lib/os-release", 64 * 1024);
    if (!text)
        return std::nullopt;
    return parseOsRelease(*text);
}

std::optional<KernelInfo> StatusSource::kernel()
{
    utsname u{};
    if (::uname(&u) != 0)
        return std::nullopt;
    KernelInfo k;
    k.sysName = QString::fromUtf8(u.sysname);
    k.release = QString::fromUtf8(u.release);
    k.version = QString::fromUtf8(u.version);
    k.machine = QString::fromUtf8(u.machine);
    k.buildNumber = parseBuildNumber(k.version);
    return k;
}

StatusSource &defaultStatusSource()
{
    static StatusSource source;
    return source;
}

} // namespace platform::system
