#include "platform/processes/ProcFs.h"

#include "platform/system/StatusReaders.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QSysInfo>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::processes {

namespace {

// Reads the rest of a small /proc file into `buf` (NUL-terminated); the length, or -1.
ssize_t readOpenFile(int fd, char *buf, std::size_t cap)
{
    std::size_t total = 0;
    while (total + 1 < cap) {
        const ssize_t n = ::read(fd, buf + total, cap - 1 - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        total += std::size_t(n);
        // A record file hands over its whole line in one read when the buffer holds it: a
        // short read that ends the line is the end, without a second call to see it.
        if (total + 1 < cap && buf[total - 1] == '\n')
            break;
    }
    buf[total] = '\0';
    return ssize_t(total);
}

// Reads a whole small /proc file into `buf` (NUL-terminated); the length, or -1. A relative
// path is taken from the directory `dirFd`.
ssize_t readSmallFile(int dirFd, const char *path, char *buf, std::size_t cap)
{
    const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = readOpenFile(fd, buf, cap);
    ::close(fd);
    return n;
}

ssize_t readSmallFile(const char *path, char *buf, std::size_t cap)
{
    return readSmallFile(AT_FDCWD, path, buf, cap);
}

bool parseUnsigned(const char *&p, const char *end, quint64 &out)
{
    while (p < end && *p == ' ')
        ++p;
    if (p >= end || *p < '0' || *p > '9')
        return false;
    quint64 v = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        const quint64 d = quint64(*p - '0');
        if (v > (ULLONG_MAX - d) / 10)
            return false;
        v = v * 10 + d;
        ++p;
    }
    out = v;
    return true;
}

bool parseSigned(const char *&p, const char *end, qint64 &out)
{
    while (p < end && *p == ' ')
        ++p;
    bool neg = false;
    if (p < end && *p == '-') {
        neg = true;
        ++p;
    }
    quint64 v = 0;
    if (!parseUnsigned(p, end, v) || v > quint64(LLONG_MAX))
        return false;
    out = neg ? -qint64(v) : qint64(v);
    return true;
}

bool isPidName(const char *name, qint32 &pid)
{
    if (!*name)
        return false;
    qint64 v = 0;
    for (const char *p = name; *p; ++p) {
        if (*p < '0' || *p > '9' || v > INT_MAX / 10)
            return false;
        v = v * 10 + (*p - '0');
    }
    if (v <= 0 || v > INT_MAX)
        return false;
    pid = qint32(v);
    return true;
}

void procPath(char *buf, std::size_t cap, qint32 pid, const char *leaf)
{
    std::snprintf(buf, cap, "/proc/%d/%s", int(pid), leaf);
}

// The text of /proc/PID/status; nothing once the process is gone.
std::optional<QByteArray> readProcStatus(qint32 pid)
{
    char path[48];
    procPath(path, sizeof path, pid, "status");
    return platform::system::readStatusFile(path, 64 * 1024);
}

// The number of entries the last listing of /proc found, and when (monotonic, ns).
std::atomic<quint64> g_listedCount{0};
std::atomic<qint64> g_listedAt{0};

qint64 monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

// Calls `fn` with each identifier, and the descriptor of /proc for reads relative to it.
template <typename Fn>
bool forEachPid(Fn &&fn)
{
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return false;
    const int procFd = ::dirfd(dir);
    quint64 listed = 0;
    while (const dirent *e = ::readdir(dir)) {
        qint32 pid = 0;
        if (isPidName(e->d_name, pid)) {
            ++listed;
            if constexpr (std::is_invocable_v<Fn, qint32, int, const char *>)
                fn(pid, procFd, e->d_name);
            else
                fn(pid);
        }
    }
    ::closedir(dir);
    g_listedCount.store(listed, std::memory_order_relaxed);
    g_listedAt.store(monotonicNs(), std::memory_order_relaxed);
    return true;
}

// A "Key:  value kB" line of a status file.
bool statusValue(const QByteArray &text, const char *key, quint64 &out)
{
    const QByteArray k = QByteArray(key) + ':';
    qsizetype at = 0;
    if (!text.startsWith(k)) {
        at = text.indexOf('\n' + k);
        if (at < 0)
            return false;
        at += 1;
    }
    const char *p = text.constData() + at + k.size();
    const char *end = text.constData() + text.size();
    while (p < end && (*p == '\t' || *p == ' '))
        ++p;
    return parseUnsigned(p, end, out);
}

// The effective uid of a status file's "Uid:" line (real, effective, saved, filesystem).
std::optional<quint32> effectiveUidOf(const QByteArray &text)
{
    const qsizetype at = text.indexOf("\nUid:");
    if (at < 0)
        return std::nullopt;
    const char *p = text.constData() + at + 5;
    const char *end = text.constData() + text.size();
    quint64 real = 0, effective = 0;
    while (p < end && (*p == '\t' || *p == ' '))
        ++p;
    if (!parseUnsigned(p, end, real))
        return std::nullopt;
    while (p < end && (*p == '\t' || *p == ' '))
        ++p;
    if (!parseUnsigned(p, end, effective) || effective > 0xFFFFFFFFu)
        return std::nullopt;
    return quint32(effective);
}

} // namespace

bool parseStat(const char *text, std::size_t size, ProcStat &out)
{
    return parseStat(text, size, out, nullptr);
}

bool parseStat(const char *text, std::size_t size, ProcStat &out, RawName *rawName)
{
    const char *end = text + size;
    const char *open = static_cast<const char *>(std::memchr(text, '(', size));
    if (!open)
        return false;
    // The name may itself hold ')': the last one closes it.
    const char *close = nullptr;
    for (const char *p = end; p > open;) {
        --p;
        if (*p == ')') {
            close = p;
            break;
        }
    }
    if (!close)
        return false;
    const char *p = text;
    qint64 pid = 0;
    if (!parseSigned(p, open, pid) || pid < 0 || pid > INT_MAX)
        return false;
    ProcStat st;
    st.pid = qint32(pid);
    if (rawName) {
        rawName->size = std::size_t(qMin<qptrdiff>(close - open - 1, qptrdiff(sizeof rawName->text)));
        std::memcpy(rawName->text, open + 1, rawName->size);
    } else {
        st.comm = QString::fromUtf8(open + 1, close - open - 1);
    }
    p = close + 1;
    if (p + 2 > end || p[0] != ' ')
        return false;
    st.state = p[1];
    p += 2;
    // Fields 4 (ppid) to 51 (env_end), numbered as in proc(5); older kernels end earlier.
    qint64 f[52] = {};
    for (int i = 4; i <= 51; ++i) {
        // Some fields (rsslim) fill all 64 bits: wrap those, only the ones used matter.
        const char *before = p;
        bool ok = parseSigned(p, end, f[i]);
        if (!ok && i > 22) {
            p = before;
            quint64 big = 0;
            ok = parseUnsigned(p, end, big);
            f[i] = qint64(big & 0x7FFFFFFFFFFFFFFFull);
        }
        if (!ok) {
            if (i <= 22)
                return false; // everything up to the start time is required
            break;
        }
    }
    if (f[4] < 0 || f[4] > INT_MAX || f[22] < 0)
        return false;
    st.ppid = qint32(f[4]);
    st.session = qint32(f[6]);
    st.flags = quint32(quint64(f[9]) & 0xFFFFFFFFu);
    st.minflt = quint64(qMax<qint64>(0, f[10]));
    st.majflt = quint64(qMax<qint64>(0, f[12]));
    st.utime = quint64(qMax<qint64>(0, f[14]));
    st.stime = quint64(qMax<qint64>(0, f[15]));
    st.priority = qint32(f[18]);
    st.nice = qint32(f[19]);
    st.numThreads = qint32(f[20]);
    st.startTime = quint64(f[22]);
    st.policy = quint32(qMax<qint64>(0, f[41]));
    st.layout.startCode = quint64(qMax<qint64>(0, f[26]));
    st.layout.endCode = quint64(qMax<qint64>(0, f[27]));
    st.layout.startStack = quint64(qMax<qint64>(0, f[28]));
    st.layout.startBrk = quint64(qMax<qint64>(0, f[47]));
    out = st;
    return true;
}

bool readStat(qint32 pid, ProcStat &out)
{
    if (pid <= 0)
        return false;
    char path[48];
    procPath(path, sizeof path, pid, "stat");
    char buf[1024];
    const ssize_t n = readSmallFile(path, buf, sizeof buf);
    return n > 0 && parseStat(buf, std::size_t(n), out);
}

static ProcessEntry entryFromStat(const ProcStat &st)
{
    ProcessEntry e;
    e.pid = quint32(st.pid);
    e.ppid = quint32(st.ppid);
    e.name = st.comm;
    e.state = st.state;
    e.startTime = st.startTime;
    e.session = quint32(qMax(0, st.session));
    e.kernelThread = st.isKernelThread();
    e.hasTimes = true;
    e.cpuTicks = st.utime + st.stime;
    e.faults = st.minflt + st.majflt;
    e.layout = st.layout;
    return e;
}

// The owner of /proc/PID, the process's effective uid (a world-readable directory of a
// process is owned by it whether or not the process is dumpable; root for kernel threads),
// and the directory's inode, made anew for a new process under the identifier.
static void readProcDir(int procFd, const char *name, ProcessEntry &e)
{
    struct stat st = {};
    if (::fstatat(procFd, name, &st, 0) != 0)
        return;
    e.ownerUid = quint32(st.st_uid);
    e.procInode = quint64(st.st_ino);
}

bool enumerateByStat(std::vector<ProcessEntry> &out)
{
    out.clear();
    const bool listed = forEachPid([&](qint32, int procFd, const char *name) {
        char path[48];
        std::snprintf(path, sizeof path, "%s/stat", name);
        char buf[1024];
        const ssize_t n = readSmallFile(procFd, path, buf, sizeof buf);
        ProcStat st;
        RawName raw;
        // The name stays raw: only a process seen for the first time needs it.
        if (n > 0 && parseStat(buf, std::size_t(n), st, &raw) && !st.isZombie()) {
            out.push_back(entryFromStat(st));
            out.back().rawName = raw;
            readProcDir(procFd, name, out.back());
        }
    });
    return listed && !out.empty();
}

bool enumerateByStatus(std::vector<ProcessEntry> &out)
{
    out.clear();
    const bool listed = forEachPid([&](qint32 pid) {
        const auto text = readProcStatus(pid);
        if (!text)
            return;
        char path[48];
        procPath(path, sizeof path, pid, "stat");
        char buf[1024];
        const ssize_t n = readSmallFile(path, buf, sizeof buf);
        ProcStat st;
        RawName raw;
        if (n <= 0 || !parseStat(buf, std::size_t(n), st, &raw) || st.isZombie())
            return;
        ProcessEntry e = entryFromStat(st);
        // The status file escapes some characters of the name: the stat file's bytes are the
        // ones to compare from pass to pass.
        e.rawName = raw;
        for (const QByteArray &line : text->split('\n')) {
            if (line.startsWith("Name:\t"))
                e.name = QString::fromUtf8(line.mid(6));
        }
        quint64 v = 0;
        if (statusValue(*text, "PPid", v))
            e.ppid = quint32(v);
        // The status file just read holds the uid as well: no second read of it.
        if (auto uid = effectiveUidOf(*text)) {
            e.uid = uid;
            e.ownerUid = uid;
        }
        out.push_back(e);
    });
    return listed && !out.empty();
}

quint64 countProcesses()
{
    const qint64 at = g_listedAt.load(std::memory_order_relaxed);
    const quint64 listed = g_listedCount.load(std::memory_order_relaxed);
    if (at != 0 && listed != 0 && monotonicNs() - at < 2000000000ll)
        return listed;
    quint64 n = 0;
    if (!forEachPid([&n](qint32) { ++n; }))
        return 0;
    return n;
}

std::optional<ProcessHandle> openProcess(qint32 pid)
{
    ProcStat st;
    if (!readStat(pid, st) || st.isZombie())
        return std::nullopt;
    return ProcessHandle{pid, st.startTime, true};
}

bool isAlive(const ProcessHandle &handle)
{
    if (!handle.valid || handle.pid <= 0)
        return false;
    ProcStat st;
    return readStat(handle.pid, st) && !st.isZombie() && st.startTime == handle.startTime;
}

std::optional<quint32> readEffectiveUid(qint32 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const auto text = readProcStatus(pid);
    if (!text)
        return std::nullopt;
    return effectiveUidOf(*text);
}

std::optional<QByteArray> readExeLink(qint32 pid)
{
    if (pid <= 0)
        return std::nullopt;
    char path[48];
    procPath(path, sizeof path, pid, "exe");
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink(path, buf, PATH_MAX);
    if (n <= 0)
        return std::nullopt;
    return QByteArray(buf, n);
}

std::optional<QString> readExePath(qint32 pid)
{
    const auto link = readExeLink(pid);
    if (!link)
        return std::nullopt;
    return QString::fromUtf8(*link);
}

std::optional<QStringList> readCmdline(qint32 pid, bool *rawSingle)
{
    if (pid <= 0)
        return std::nullopt;
    char path[48];
    procPath(path, sizeof path, pid, "cmdline");
    auto data = platform::system::readStatusFile(path, 256 * 1024);
    if (!data)
        return std::nullopt;
    QStringList args;
    if (data->isEmpty())
        return args;
    data->chop(1); // the terminator
    // A process that rewrote its title may pad it with zeros; one empty last argument
    // is real, a run of them is padding.
    if (data->endsWith(QByteArray(2, '\0'))) {
        while (data->endsWith('\0'))
            data->chop(1);
    }
    if (data->isEmpty())
        return args;
    if (rawSingle)
        *rawSingle = !data->contains('\0');
    for (const QByteArray &a : data->split('\0'))
        args << QString::fromUtf8(a);
    return args;
}

std::optional<MemoryStatus> readMemoryStatus(qint32 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const auto text = readProcStatus(pid);
    if (!text)
        return std::nullopt;
    MemoryStatus m;
    quint64 v = 0;
    // Kernel threads have none of these lines: all zero.
    if (statusValue(*text, "VmRSS", v))
        m.vmRss = v * 1024;
    if (statusValue(*text, "VmHWM", v))
        m.vmHwm = v * 1024;
    if (statusValue(*text, "RssAnon", v))
        m.rssAnon = v * 1024;
    if (statusValue(*text, "VmSwap", v))
        m.vmSwap = v * 1024;
    if (statusValue(*text, "VmPTE", v))
        m.vmPte = v * 1024;
    if (statusValue(*text, "VmLck", v))
        m.vmLck = v * 1024;
    return m;
}

bool parseStatm(const char *text, std::size_t size, quint64 pageSize, ResidentMemory &out)
{
    // "size resident shared text lib data dt", in pages.
    const char *p = text;
    const char *end = text + size;
    quint64 pages[3] = {};
    for (quint64 &v : pages) {
        if (!parseUnsigned(p, end, v))
            return false;
    }
    if (pages[2] > pages[1] || pages[1] > ULLONG_MAX / pageSize)
        return false;
    out.resident = pages[1] * pageSize;
    out.shared = pages[2] * pageSize;
    return true;
}

std::optional<ResidentMemory> readStatm(qint32 pid, quint64 *fileInode)
{
    if (pid <= 0)
        return std::nullopt;
    static const quint64 pageSize = [] {
        const long v = ::sysconf(_SC_PAGESIZE);
        return v > 0 ? quint64(v) : quint64(4096);
    }();
    char path[48];
    procPath(path, sizeof path, pid, "statm");
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    if (fileInode) {
        struct stat st = {};
        *fileInode = ::fstat(fd, &st) == 0 ? quint64(st.st_ino) : 0;
    }
    char buf[256];
    const ssize_t n = readOpenFile(fd, buf, sizeof buf);
    ::close(fd);
    ResidentMemory m;
    if (n <= 0 || !parseStatm(buf, std::size_t(n), pageSize, m))
        return std::nullopt;
    return m;
}

static int countDirEntries(const char *path)
{
    DIR *dir = ::opendir(path);
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent *e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            ++n;
    }
    ::closedir(dir);
    return n;
}

int readFdCount(qint32 pid)
{
    if (pid <= 0)
        return -1;
    char path[48];
    procPath(path, sizeof path, pid, "fd");
    return countDirEntries(path);
}

int readModuleCount(qint32 pid)
{
    if (pid <= 0)
        return -1;
    char path[48];
    procPath(path, sizeof path, pid, "maps");
    const auto text = platform::system::readStatusFile(path, 16u << 20);
    if (!text)
        return -1;
    // "start-end perms offset dev inode path": a module is a file mapped executable.
    QSet<QByteArray> files;
    for (const QByteArray &line : text->split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f[1].size() < 3 || f[1][2] != 'x' || !f[5].startsWith('/'))
            continue;
        files.insert(f[3] + ' ' + f[4]);
    }
    return int(files.size());
}

std::vector<qint32> readThreadIds(qint32 pid)
{
    std::vector<qint32> tids;
    if (pid <= 0)
        return tids;
    char path[48];
    procPath(path, sizeof path, pid, "task");
    DIR *dir = ::opendir(path);
    if (!dir)
        return tids;
    while (const dirent *e = ::readdir(dir)) {
        qint32 tid = 0;
        if (isPidName(e->d_name, tid))
            tids.push_back(tid);
    }
    ::closedir(dir);
    return tids;
}

std::optional<SchedInfo> readSchedInfo(qint32 tid)
{
    if (tid <= 0)
        return std::nullopt;
    const int policy = ::sched_getscheduler(tid);
    if (policy < 0)
        return std::nullopt;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(tid));
    if (nice == -1 && errno != 0)
        return std::nullopt;
    return SchedInfo{policy & ~SCHED_RESET_ON_FORK, nice};
}

std::optional<std::vector<bool>> readAffinity(qint32 tid)
{
    if (tid <= 0)
        return std::nullopt;
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 4) {
        cpu_set_t *set = CPU_ALLOC(cpus);
        if (!set)
            return std::nullopt;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        if (::sched_getaffinity(tid, size, set) == 0) {
            std::vector<bool> mask(std::size_t(cpus), false);
            for (int i = 0; i < cpus; ++i)
                mask[std::size_t(i)] = CPU_ISSET_S(i, size, set);
            CPU_FREE(set);
            while (!mask.empty() && !mask.back())
                mask.pop_back();
            return mask;
        }
        const int err = errno;
        CPU_FREE(set);
        if (err != EINVAL)
            return std::nullopt;
    }
    return std::nullopt;
}

unsigned onlineProcessorCount()
{
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? unsigned(n) : 0u;
}

long clockTicksPerSecond()
{
    static const long ticks = [] {
        const long t = ::sysconf(_SC_CLK_TCK);
        return t > 0 ? t : 100L;
    }();
    return ticks;
}

std::optional<quint64> systemIdleTicks()
{
    char buf[512];
    const ssize_t n = readSmallFile("/proc/stat", buf, sizeof buf);
    if (n < 5 || std::strncmp(buf, "cpu ", 4) != 0)
        return std::nullopt;
    const char *p = buf + 4;
    const char *end = buf + n;
    quint64 f[5] = {};
    for (quint64 &v : f) {
        if (!parseUnsigned(p, end, v))
            return std::nullopt;
    }
    return f[3] + f[4];
}

qint64 bootTimeSeconds()
{
    const auto text = platform::system::readStatusFile("/proc/stat");
    if (!text)
        return 0;
    const qsizetype at = text->indexOf("\nbtime ");
    if (at < 0)
        return 0;
    const char *p = text->constData() + at + 7;
    quint64 v = 0;
    return parseUnsigned(p, text->constData() + text->size(), v) ? qint64(v) : 0;
}

quint64 monotonicNow100ns()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 10000000ull + quint64(ts.tv_nsec) / 100u;
}

qint64 realtimeNowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

qint32 pidMax()
{
    char buf[32];
    const ssize_t n = readSmallFile("/proc/sys/kernel/pid_max", buf, sizeof buf);
    if (n <= 0)
        return 4194304; // the kernel's upper limit
    const char *p = buf;
    quint64 v = 0;
    if (!parseUnsigned(p, buf + n, v) || v == 0 || v > quint64(INT_MAX))
        return 4194304;
    return qint32(v);
}

QString hostName()
{
    return QSysInfo::machineHostName();
}

std::optional<QString> accountName(quint32 uid)
{
    std::vector<char> buf(16384);
    passwd pw{};
    passwd *result = nullptr;
    for (;;) {
        const int rc = ::getpwuid_r(uid_t(uid), &pw, buf.data(), buf.size(), &result);
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 4);
            continue;
        }
        if (rc != 0 || !result || !result->pw_name)
            return std::nullopt;
        return QString::fromUtf8(result->pw_name);
    }
}

} // namespace platform::processes
