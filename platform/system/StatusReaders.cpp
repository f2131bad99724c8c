#include "platform/system/StatusReaders.h"

#include <QList>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace platform::system {

namespace {

QList<QByteArrayView> SplitLines(QByteArrayView Text)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\n') {
            lines << Text.sliced(start, i - start);
            start = i + 1;
        }
    }
    if (start < Text.size())
        lines << Text.sliced(start);
    return lines;
}

bool IsBlank(char C)
{
    return C == ' ' || C == '\t';
}

// Fields separated by runs of blanks.
QList<QByteArrayView> Fields(QByteArrayView Line)
{
    QList<QByteArrayView> out;
    qsizetype i = 0;
    while (i < Line.size()) {
        while (i < Line.size() && IsBlank(Line[i]))
            ++i;
        const qsizetype start = i;
        while (i < Line.size() && !IsBlank(Line[i]))
            ++i;
        if (i > start)
            out << Line.sliced(start, i - start);
    }
    return out;
}

bool ParseInt(QByteArrayView Text, int &Value)
{
    quint64 v = 0;
    if (!ParseDecimal(Text, v) || v > quint64(std::numeric_limits<int>::max()))
        return false;
    Value = int(v);
    return true;
}

// Digits with an optional fraction, as the kernel writes seconds.
bool ParseSeconds(QByteArrayView Text, double &Value)
{
    const qsizetype dot = Text.indexOf('.');
    quint64 whole = 0, frac = 0;
    QByteArrayView fracText;
    if (dot < 0) {
        if (!ParseDecimal(Text, whole))
            return false;
    } else {
        fracText = Text.sliced(dot + 1);
        if (!ParseDecimal(Text.first(dot), whole) || fracText.size() > 9 || !ParseDecimal(fracText, frac))
            return false;
    }
    // A century of up-time is more than any machine has had.
    if (whole > 100ull * 366 * 86400)
        return false;
    Value = double(whole) + (fracText.isEmpty() ? 0.0 : double(frac) / std::pow(10.0, double(fracText.size())));
    return true;
}

// Undoes the octal escapes (\040 and the like) of mountinfo fields.
bool UnescapeOctal(QByteArrayView Text, QString &Out)
{
    QByteArray bytes;
    bytes.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c != '\\') {
            bytes.append(c);
            continue;
        }
        if (i + 3 >= Text.size())
            return false;
        int v = 0;
        for (int k = 1; k <= 3; ++k) {
            const char d = Text[i + k];
            if (d < '0' || d > '7')
                return false;
            v = v * 8 + (d - '0');
        }
        if (v > 255)
            return false;
        bytes.append(char(v));
        i += 3;
    }
    Out = QString::fromUtf8(bytes);
    return true;
}

bool IsKeyStart(char C)
{
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
}

bool IsKeyChar(char C)
{
    return IsKeyStart(C) || (C >= '0' && C <= '9');
}

// One value of an os-release assignment: quoted in single or double quotes, or bare.
bool ParseShellValue(QByteArrayView Raw, QString &Out)
{
    QByteArray bytes;
    if (Raw.isEmpty()) {
        Out.clear();
        return true;
    }
    const char q = Raw[0];
    if (q == '"' || q == '\'') {
        if (Raw.size() < 2 || Raw[Raw.size() - 1] != q)
            return false;
        const QByteArrayView body = Raw.sliced(1, Raw.size() - 2);
        for (qsizetype i = 0; i < body.size(); ++i) {
            const char c = body[i];
            if (q == '"' && c == '\\') {
                if (i + 1 >= body.size())
                    return false;
                const char n = body[i + 1];
                if (n == '"' || n == '\\' || n == '$' || n == '`')
                    bytes.append(n);
                else
                    bytes.append(c).append(n);
                ++i;
                continue;
            }
            if (c == q)
                return false; // a quote that ends the value early
            bytes.append(c);
        }
    } else {
        for (char c : Raw) {
            if (IsBlank(c) || c == '"' || c == '\'' || c == '`' || c == '$' || c == ';')
                return false;
            bytes.append(c);
        }
    }
    Out = QString::fromUtf8(bytes);
    return true;
}

} // namespace

std::optional<MemoryInfo> ParseMemInfo(QByteArrayView Text)
{
    struct Key
    {
        const char *Name;
        quint64 MemoryInfo::*Field;
    };
    static const Key kKeys[] = {
        {"MemTotal", &MemoryInfo::Total},
        {"MemFree", &MemoryInfo::Free},
        {"MemAvailable", &MemoryInfo::Available},
        {"Buffers", &MemoryInfo::Buffers},
        {"Cached", &MemoryInfo::Cached},
        {"SwapTotal", &MemoryInfo::SwapTotal},
        {"SwapFree", &MemoryInfo::SwapFree},
        {"CommitLimit", &MemoryInfo::CommitLimit},
        {"Committed_AS", &MemoryInfo::Committed},
        {"SReclaimable", &MemoryInfo::SlabReclaimable},
        {"SUnreclaim", &MemoryInfo::SlabUnreclaimable},
        {"KernelStack", &MemoryInfo::KernelStack},
        {"PageTables", &MemoryInfo::PageTables},
    };
    constexpr int kKeyCount = int(sizeof kKeys / sizeof kKeys[0]);
    bool seen[kKeyCount] = {};
    MemoryInfo info;
    for (QByteArrayView line : SplitLines(Text)) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return std::nullopt;
        const QByteArrayView key = line.first(colon);
        int k = 0;
        while (k < kKeyCount && key != QByteArrayView(kKeys[k].Name))
            ++k;
        if (k == kKeyCount)
            continue; // a figure this program does not use
        if (seen[k])
            return std::nullopt;
        seen[k] = true;
        const auto f = Fields(line.sliced(colon + 1));
        quint64 kb = 0;
        if (f.size() != 2 || f[1] != QByteArrayView("kB") || !ParseDecimal(f[0], kb) ||
            kb > std::numeric_limits<quint64>::max() / 1024)
            return std::nullopt;
        info.*(kKeys[k].Field) = kb * 1024;
        if (k == 2)
            info.HasAvailable = true;
    }
    // More available than installed is no reading of a real machine.
    if (!seen[0] || info.Total == 0 || info.Available > info.Total)
        return std::nullopt;
    if (!info.HasAvailable) {
        // Kernels before 3.14 do not estimate it: what is free or only holds caches.
        const quint64 a = info.Free + info.Buffers + info.Cached;
        info.Available = qMin(a, info.Total);
    }
    return info;
}

std::optional<CpuStat> ParseProcStat(QByteArrayView Text, long TicksPerSecond)
{
    if (TicksPerSecond <= 0)
        return std::nullopt;
    const double scale = 1e7 / double(TicksPerSecond);
    CpuStat stat;
    bool haveAll = false;
    for (QByteArrayView line : SplitLines(Text)) {
        const auto f = Fields(line);
        if (f.isEmpty())
            continue;
        const QByteArrayView head = f[0];
        if (head == QByteArrayView("btime")) {
            quint64 v = 0;
            if (f.size() != 2 || !ParseDecimal(f[1], v) || v > quint64(std::numeric_limits<qint64>::max()))
                return std::nullopt;
            stat.BootTime = qint64(v);
            continue;
        }
        if (!head.startsWith("cpu"))
            continue;
        if (f.size() < 5)
            return std::nullopt;
        quint64 n[10] = {};
        const qsizetype count = qMin<qsizetype>(f.size() - 1, 10);
        for (qsizetype i = 0; i < count; ++i)
            if (!ParseDecimal(f[i + 1], n[i]))
                return std::nullopt;
        // user nice system idle iowait irq softirq steal; the guest times are inside user and nice,
        // and stolen time was never this machine's to use.
        ProcessorTimes t;
        t.Idle = (double(n[3]) + double(n[4])) * scale;
        t.Kernel = double(n[2]) * scale + t.Idle;
        t.User = (double(n[0]) + double(n[1])) * scale;
        t.Interrupt = double(n[5]) * scale;
        t.Dpc = double(n[6]) * scale;
        if (head.size() == 3) {
            if (haveAll)
                return std::nullopt;
            haveAll = true;
            stat.All = t;
            continue;
        }
        int number = 0;
        if (!ParseInt(head.sliced(3), number))
            return std::nullopt;
        for (const ProcessorStat &p : stat.Processors)
            if (p.Number == number)
                return std::nullopt;
        stat.Processors.push_back({number, t});
    }
    if (!haveAll)
        return std::nullopt;
    return stat;
}

std::optional<double> ParseUptime(QByteArrayView Text)
{
    const auto f = Fields(Text.trimmed());
    double v = 0;
    if (f.isEmpty() || f.size() > 2 || !ParseSeconds(f[0], v))
        return std::nullopt;
    return v;
}

std::optional<quint64> ParseFileNr(QByteArrayView Text)
{
    const auto f = Fields(Text.trimmed());
    quint64 v = 0;
    if (f.size() != 3 || !ParseDecimal(f[0], v))
        return std::nullopt;
    return v;
}

std::optional<quint64> ParseLoadAvgThreads(QByteArrayView Text)
{
    const auto f = Fields(Text.trimmed());
    if (f.size() != 5)
        return std::nullopt;
    const qsizetype slash = f[3].indexOf('/');
    quint64 running = 0, total = 0;
    if (slash <= 0 || !ParseDecimal(f[3].first(slash), running) || !ParseDecimal(f[3].sliced(slash + 1), total))
        return std::nullopt;
    return total;
}

std::optional<OSRelease> ParseOsRelease(QByteArrayView Text)
{
    if (Text.contains('\0'))
        return std::nullopt;
    OSRelease r;
    int assignments = 0;
    for (QByteArrayView line : SplitLines(Text)) {
        line = line.trimmed();
        if (line.isEmpty() || line[0] == '#')
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0 || !IsKeyStart(line[0]))
            return std::nullopt;
        const QByteArrayView key = line.first(eq);
        for (char c : key)
            if (!IsKeyChar(c))
                return std::nullopt;
        QString value;
        if (!ParseShellValue(line.sliced(eq + 1), value))
            return std::nullopt;
        ++assignments;
        if (key == QByteArrayView("NAME"))
            r.Name = value;
        else if (key == QByteArrayView("VERSION"))
            r.Version = value;
        else if (key == QByteArrayView("VERSION_ID"))
            r.VersionId = value;
        else if (key == QByteArrayView("PRETTY_NAME"))
            r.PrettyName = value;
        else if (key == QByteArrayView("ID"))
            r.Id = value;
    }
    if (assignments == 0)
        return std::nullopt;
    return r;
}

int ParseBuildNumber(const QString &Version)
{
    if (!Version.startsWith(QLatin1Char('#')))
        return -1;
    qsizetype end = 1;
    while (end < Version.size() && Version[end].isDigit() && Version[end].unicode() < 128)
        ++end;
    if (end == 1 || end > 10)
        return -1;
    bool ok = false;
    const int n = Version.mid(1, end - 1).toInt(&ok);
    return ok ? n : -1;
}

std::optional<std::vector<MountEntry>> ParseMountInfo(QByteArrayView Text)
{
    std::vector<MountEntry> out;
    for (QByteArrayView line : SplitLines(Text)) {
        if (line.trimmed().isEmpty())
            continue;
        const auto f = Fields(line);
        // id parent major:minor root mount-point options [optional...] - type source super-options
        qsizetype sep = -1;
        for (qsizetype i = 6; i < f.size(); ++i) {
            if (f[i] == QByteArrayView("-")) {
                sep = i;
                break;
            }
        }
        if (f.size() < 9 || sep < 0 || sep + 2 >= f.size())
            return std::nullopt;
        MountEntry m;
        if (!ParseInt(f[0], m.Id) || !ParseInt(f[1], m.ParentId))
            return std::nullopt;
        const qsizetype colon = f[2].indexOf(':');
        if (colon <= 0 || !ParseInt(f[2].first(colon), m.Major) || !ParseInt(f[2].sliced(colon + 1), m.Minor))
            return std::nullopt;
        if (!UnescapeOctal(f[3], m.Root) || !UnescapeOctal(f[4], m.MountPoint) ||
            !UnescapeOctal(f[sep + 1], m.FsType) || !UnescapeOctal(f[sep + 2], m.Source))
            return std::nullopt;
        if (!m.MountPoint.startsWith(QLatin1Char('/')))
            return std::nullopt;
        out.push_back(m);
    }
    return out;
}

int ClassifyDrive(const MountEntry &Mount, const QString &BlockName, std::optional<bool> Removable)
{
    const QString fs = Mount.FsType.toLower();
    if (fs == QLatin1String("iso9660") || fs == QLatin1String("udf") || BlockName.startsWith(QLatin1String("sr")))
        return dtOptical;
    if (BlockName.startsWith(QLatin1String("zram")) || BlockName.startsWith(QLatin1String("ram")))
        return dtRamDisk;
    // An image file mounted through a loop device is no drive of the machine.
    if (BlockName.startsWith(QLatin1String("loop")))
        return dtUnknown;
    if (Removable.value_or(false))
        return dtRemovable;
    return dtFixed;
}

std::vector<MountEntry> DeviceMounts(const std::vector<MountEntry> &Mounts)
{
    std::vector<MountEntry> out;
    for (const MountEntry &m : Mounts) {
        if (m.Major == 0 || !m.Source.startsWith(QLatin1String("/dev/")) || m.Root != QLatin1String("/"))
            continue;
        bool known = false;
        for (const MountEntry &o : out)
            known = known || (o.Major == m.Major && o.Minor == m.Minor);
        if (!known)
            out.push_back(m);
    }
    return out;
}

bool IsServedFileSystem(const QString &FsType)
{
    static const char *const kServed[] = {"nfs",  "nfs4", "cifs",      "smb3", "smbfs",  "ncpfs",  "9p",
                                          "ceph", "afs",  "glusterfs", "coda", "lustre", "beegfs", "davfs"};
    const QString fs = FsType.toLower();
    if (fs.startsWith(QLatin1String("fuse")))
        return true;
    for (const char *name : kServed)
        if (fs == QLatin1String(name))
            return true;
    return false;
}

bool MountPointAnswers(const MountEntry &Mount, const std::vector<MountEntry> &Mounts)
{
    if (IsServedFileSystem(Mount.FsType))
        return false;
    for (const MountEntry &m : Mounts)
        if (m.ParentId == Mount.Id && m.Id != Mount.Id && m.MountPoint == Mount.MountPoint)
            return false;
    // Up the mounts the mount point lies on; a loop in a damaged table ends the walk.
    int parent = Mount.ParentId;
    for (std::size_t steps = 0; steps < Mounts.size() && parent != Mount.Id; ++steps) {
        const MountEntry *above = nullptr;
        for (const MountEntry &m : Mounts)
            if (m.Id == parent)
                above = &m;
        if (!above)
            return true;
        if (IsServedFileSystem(above->FsType))
            return false;
        parent = above->ParentId;
    }
    return false;
}

QString UnescapeDiskLinkName(const QString &Name)
{
    QByteArray bytes;
    const QByteArray in = Name.toUtf8();
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x' && isxdigit(uchar(in[i + 2])) &&
            isxdigit(uchar(in[i + 3]))) {
            bool ok = false;
            const int v = in.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes.append(char(v));
                i += 3;
                continue;
            }
        }
        bytes.append(in[i]);
    }
    return QString::fromUtf8(bytes);
}

QString SerialFromUuid(const QString &Uuid)
{
    QString digits;
    for (QChar c : Uuid) {
        if (c == QLatin1Char('-'))
            continue;
        if (!isxdigit(c.unicode() < 128 ? int(c.unicode()) : 0))
            return QString();
        digits += c.toUpper();
        if (digits.size() == 8)
            return digits;
    }
    return QString();
}

bool ParseDecimal(QByteArrayView Text, quint64 &Value)
{
    if (Text.isEmpty() || Text.size() > 20)
        return false;
    quint64 v = 0;
    for (char c : Text) {
        if (c < '0' || c > '9')
            return false;
        const quint64 d = quint64(c - '0');
        if (v > (std::numeric_limits<quint64>::max() - d) / 10)
            return false;
        v = v * 10 + d;
    }
    Value = v;
    return true;
}

std::optional<QByteArray> ReadStatusFile(const char *Path, std::size_t Limit)
{
    const int fd = ::open(Path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(chunk, n);
        if (std::size_t(data.size()) >= Limit)
            break;
    }
    ::close(fd);
    return data;
}

} // namespace platform::system
