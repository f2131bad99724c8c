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

QList<QByteArrayView> SplitLines(QByteArrayView text)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            lines << text.sliced(start, i - start);
            start = i + 1;
        }
    }
    if (start < text.size())
        lines << text.sliced(start);
    return lines;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Fields separated by runs of blanks.
QList<QByteArrayView> Fields(QByteArrayView line)
{
    QList<QByteArrayView> out;
    qsizetype i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        const qsizetype start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (i > start)
            out << line.sliced(start, i - start);
    }
    return out;
}

bool ParseInt(QByteArrayView text, int &value)
{
    quint64 v = 0;
    if (!parseDecimal(text, v) || v > quint64(std::numeric_limits<int>::max()))
        return false;
    value = int(v);
    return true;
}

// Digits with an optional fraction, as the kernel writes seconds.
bool ParseSeconds(QByteArrayView text, double &value)
{
    const qsizetype dot = text.indexOf('.');
    quint64 whole = 0, frac = 0;
    QByteArrayView fracText;
    if (dot < 0) {
        if (!parseDecimal(text, whole))
            return false;
    } else {
        fracText = text.sliced(dot + 1);
        if (!parseDecimal(text.first(dot), whole) || fracText.size() > 9 || !parseDecimal(fracText, frac))
            return false;
    }
    // A century of up-time is more than any machine has had.
    if (whole > 100ull * 366 * 86400)
        return false;
    value = double(whole) + (fracText.isEmpty() ? 0.0 : double(frac) / std::pow(10.0, double(fracText.size())));
    return true;
}

// Undoes the octal escapes (\040 and the like) of mountinfo fields.
bool UnescapeOctal(QByteArrayView text, QString &out)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            bytes.append(c);
            continue;
        }
        if (i + 3 >= text.size())
            return false;
        int v = 0;
        for (int k = 1; k <= 3; ++k) {
            const char d = text[i + k];
            if (d < '0' || d > '7')
                return false;
            v = v * 8 + (d - '0');
        }
        if (v > 255)
            return false;
        bytes.append(char(v));
        i += 3;
    }
    out = QString::fromUtf8(bytes);
    return true;
}

bool IsKeyStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsKeyChar(char c)
{
    return IsKeyStart(c) || (c >= '0' && c <= '9');
}

// One value of an os-release assignment: quoted in single or double quotes, or bare.
bool ParseShellValue(QByteArrayView raw, QString &out)
{
    QByteArray bytes;
    if (raw.isEmpty()) {
        out.clear();
        return true;
    }
    const char q = raw[0];
    if (q == '"' || q == '\'') {
        if (raw.size() < 2 || raw[raw.size() - 1] != q)
            return false;
        const QByteArrayView body = raw.sliced(1, raw.size() - 2);
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
        for (char c : raw) {
            if (IsBlank(c) || c == '"' || c == '\'' || c == '`' || c == '$' || c == ';')
                return false;
            bytes.append(c);
        }
    }
    out = QString::fromUtf8(bytes);
    return true;
}

} // namespace

std::optional<MemoryInfo> parseMemInfo(QByteArrayView text)
{
    struct Key
    {
        const char *name;
        quint64 MemoryInfo::*field;
    };
    static const Key keys[] = {
        {"MemTotal", &MemoryInfo::total},
        {"MemFree", &MemoryInfo::free},
        {"MemAvailable", &MemoryInfo::available},
        {"Buffers", &MemoryInfo::buffers},
        {"Cached", &MemoryInfo::cached},
        {"SwapTotal", &MemoryInfo::swapTotal},
        {"SwapFree", &MemoryInfo::swapFree},
        {"CommitLimit", &MemoryInfo::commitLimit},
        {"Committed_AS", &MemoryInfo::committed},
        {"SReclaimable", &MemoryInfo::slabReclaimable},
        {"SUnreclaim", &MemoryInfo::slabUnreclaimable},
        {"KernelStack", &MemoryInfo::kernelStack},
        {"PageTables", &MemoryInfo::pageTables},
    };
    constexpr int keyCount = int(sizeof keys / sizeof keys[0]);
    bool seen[keyCount] = {};
    MemoryInfo info;
    for (QByteArrayView line : SplitLines(text)) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return std::nullopt;
        const QByteArrayView key = line.first(colon);
        int k = 0;
        while (k < keyCount && key != QByteArrayView(keys[k].name))
            ++k;
        if (k == keyCount)
            continue; // a figure this program does not use
        if (seen[k])
            return std::nullopt;
        seen[k] = true;
        const auto f = Fields(line.sliced(colon + 1));
        quint64 kb = 0;
        if (f.size() != 2 || f[1] != QByteArrayView("kB") || !parseDecimal(f[0], kb) ||
            kb > std::numeric_limits<quint64>::max() / 1024)
            return std::nullopt;
        info.*(keys[k].field) = kb * 1024;
        if (k == 2)
            info.hasAvailable = true;
    }
    // More available than installed is no reading of a real machine.
    if (!seen[0] || info.total == 0 || info.available > info.total)
        return std::nullopt;
    if (!info.hasAvailable) {
        // Kernels before 3.14 do not estimate it: what is free or only holds caches.
        const quint64 a = info.free + info.buffers + info.cached;
        info.available = qMin(a, info.total);
    }
    return info;
}

std::optional<CpuStat> parseProcStat(QByteArrayView text, long ticksPerSecond)
{
    if (ticksPerSecond <= 0)
        return std::nullopt;
    const double scale = 1e7 / double(ticksPerSecond);
    CpuStat stat;
    bool haveAll = false;
    for (QByteArrayView line : SplitLines(text)) {
        const auto f = Fields(line);
        if (f.isEmpty())
            continue;
        const QByteArrayView head = f[0];
        if (head == QByteArrayView("btime")) {
            quint64 v = 0;
            if (f.size() != 2 || !parseDecimal(f[1], v) || v > quint64(std::numeric_limits<qint64>::max()))
                return std::nullopt;
            stat.bootTime = qint64(v);
            continue;
        }
        if (!head.startsWith("cpu"))
            continue;
        if (f.size() < 5)
            return std::nullopt;
        quint64 n[10] = {};
        const qsizetype count = qMin<qsizetype>(f.size() - 1, 10);
        for (qsizetype i = 0; i < count; ++i)
            if (!parseDecimal(f[i + 1], n[i]))
                return std::nullopt;
        // user nice system idle iowait irq softirq steal; the guest times are inside user and nice,
        // and stolen time was never this machine's to use.
        ProcessorTimes t;
        t.idle = (double(n[3]) + double(n[4])) * scale;
        t.kernel = double(n[2]) * scale + t.idle;
        t.user = (double(n[0]) + double(n[1])) * scale;
        t.interrupt = double(n[5]) * scale;
        t.dpc = double(n[6]) * scale;
        if (head.size() == 3) {
            if (haveAll)
                return std::nullopt;
            haveAll = true;
            stat.all = t;
            continue;
        }
        int number = 0;
        if (!ParseInt(head.sliced(3), number))
            return std::nullopt;
        for (const ProcessorStat &p : stat.processors)
            if (p.number == number)
                return std::nullopt;
        stat.processors.push_back({number, t});
    }
    if (!haveAll)
        return std::nullopt;
    return stat;
}

std::optional<double> parseUptime(QByteArrayView text)
{
    const auto f = Fields(text.trimmed());
    double v = 0;
    if (f.isEmpty() || f.size() > 2 || !ParseSeconds(f[0], v))
        return std::nullopt;
    return v;
}

std::optional<quint64> parseFileNr(QByteArrayView text)
{
    const auto f = Fields(text.trimmed());
    quint64 v = 0;
    if (f.size() != 3 || !parseDecimal(f[0], v))
        return std::nullopt;
    return v;
}

std::optional<quint64> parseLoadAvgThreads(QByteArrayView text)
{
    const auto f = Fields(text.trimmed());
    if (f.size() != 5)
        return std::nullopt;
    const qsizetype slash = f[3].indexOf('/');
    quint64 running = 0, total = 0;
    if (slash <= 0 || !parseDecimal(f[3].first(slash), running) || !parseDecimal(f[3].sliced(slash + 1), total))
        return std::nullopt;
    return total;
}

std::optional<OSRelease> parseOsRelease(QByteArrayView text)
{
    if (text.contains('\0'))
        return std::nullopt;
    OSRelease r;
    int assignments = 0;
    for (QByteArrayView line : SplitLines(text)) {
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
            r.name = value;
        else if (key == QByteArrayView("VERSION"))
            r.version = value;
        else if (key == QByteArrayView("VERSION_ID"))
            r.versionId = value;
        else if (key == QByteArrayView("PRETTY_NAME"))
            r.prettyName = value;
        else if (key == QByteArrayView("ID"))
            r.id = value;
    }
    if (assignments == 0)
        return std::nullopt;
    return r;
}

int parseBuildNumber(const QString &version)
{
    if (!version.startsWith(QLatin1Char('#')))
        return -1;
    qsizetype end = 1;
    while (end < version.size() && version[end].isDigit() && version[end].unicode() < 128)
        ++end;
    if (end == 1 || end > 10)
        return -1;
    bool ok = false;
    const int n = version.mid(1, end - 1).toInt(&ok);
    return ok ? n : -1;
}

std::optional<std::vector<MountEntry>> parseMountInfo(QByteArrayView text)
{
    std::vector<MountEntry> out;
    for (QByteArrayView line : SplitLines(text)) {
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
        const qsizetype colon = f[2].indexOf(':');
        if (colon <= 0 || !ParseInt(f[2].first(colon), m.major) || !ParseInt(f[2].sliced(colon + 1), m.minor))
            return std::nullopt;
        if (!UnescapeOctal(f[3], m.root) || !UnescapeOctal(f[4], m.mountPoint) ||
            !UnescapeOctal(f[sep + 1], m.fsType) || !UnescapeOctal(f[sep + 2], m.source))
            return std::nullopt;
        if (!m.mountPoint.startsWith(QLatin1Char('/')))
            return std::nullopt;
        out.push_back(m);
    }
    return out;
}

int classifyDrive(const MountEntry &mount, const QString &blockName, std::optional<bool> removable)
{
    const QString fs = mount.fsType.toLower();
    if (fs == QLatin1String("iso9660") || fs == QLatin1String("udf") || blockName.startsWith(QLatin1String("sr")))
        return dtOptical;
    if (blockName.startsWith(QLatin1String("zram")) || blockName.startsWith(QLatin1String("ram")))
        return dtRamDisk;
    // An image file mounted through a loop device is no drive of the machine.
    if (blockName.startsWith(QLatin1String("loop")))
        return dtUnknown;
    if (removable.value_or(false))
        return dtRemovable;
    return dtFixed;
}

std::vector<MountEntry> deviceMounts(const std::vector<MountEntry> &mounts)
{
    std::vector<MountEntry> out;
    for (const MountEntry &m : mounts) {
        if (m.major == 0 || !m.source.startsWith(QLatin1String("/dev/")) || m.root != QLatin1String("/"))
            continue;
        bool known = false;
        for (const MountEntry &o : out)
            known = known || (o.major == m.major && o.minor == m.minor);
        if (!known)
            out.push_back(m);
    }
    return out;
}

QString unescapeDiskLinkName(const QString &name)
{
    QByteArray bytes;
    const QByteArray in = name.toUtf8();
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

QString serialFromUuid(const QString &uuid)
{
    QString digits;
    for (QChar c : uuid) {
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

bool parseDecimal(QByteArrayView text, quint64 &value)
{
    if (text.isEmpty() || text.size() > 20)
        return false;
    quint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const quint64 d = quint64(c - '0');
        if (v > (std::numeric_limits<quint64>::max() - d) / 10)
            return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}

std::optional<QByteArray> readStatusFile(const char *path, std::size_t limit)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
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
        if (std::size_t(data.size()) >= limit)
            break;
    }
    ::close(fd);
    return data;
}

} // namespace platform::system
