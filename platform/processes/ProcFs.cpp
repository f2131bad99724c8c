#include "platform/processes/ProcFs.h"

#include "platform/files/NameBytes.h"
#include "platform/system/StatusReaders.h"
#include "platform/system/UserSession.h"

#include <QByteArray>
#include <QHash>

#include <algorithm>
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
#include <unordered_map>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::processes {

namespace {

// Reads the rest of a small /proc file into `Buf` (NUL-terminated); the length, or -1.
ssize_t ReadOpenFile(int Fd, char *Buf, std::size_t Cap)
{
    std::size_t total = 0;
    while (total + 1 < Cap) {
        const ssize_t n = ::read(Fd, Buf + total, Cap - 1 - total);
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
        if (total + 1 < Cap && Buf[total - 1] == '\n')
            break;
    }
    Buf[total] = '\0';
    return ssize_t(total);
}

// Reads a whole small /proc file into `Buf` (NUL-terminated); the length, or -1. A relative
// path is taken from the directory `DirFd`.
ssize_t ReadSmallFile(int DirFd, const char *Path, char *Buf, std::size_t Cap)
{
    const int fd = ::openat(DirFd, Path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = ReadOpenFile(fd, Buf, Cap);
    ::close(fd);
    return n;
}

ssize_t ReadSmallFile(const char *Path, char *Buf, std::size_t Cap)
{
    return ReadSmallFile(AT_FDCWD, Path, Buf, Cap);
}

bool ParseUnsigned(const char *&P, const char *End, quint64 &Out)
{
    while (P < End && *P == ' ')
        ++P;
    if (P >= End || *P < '0' || *P > '9')
        return false;
    quint64 v = 0;
    while (P < End && *P >= '0' && *P <= '9') {
        const quint64 d = quint64(*P - '0');
        if (v > (ULLONG_MAX - d) / 10)
            return false;
        v = v * 10 + d;
        ++P;
    }
    Out = v;
    return true;
}

bool ParseSigned(const char *&P, const char *End, qint64 &Out)
{
    while (P < End && *P == ' ')
        ++P;
    bool neg = false;
    if (P < End && *P == '-') {
        neg = true;
        ++P;
    }
    quint64 v = 0;
    if (!ParseUnsigned(P, End, v) || v > quint64(LLONG_MAX))
        return false;
    Out = neg ? -qint64(v) : qint64(v);
    return true;
}

bool IsPidName(const char *Name, qint32 &Pid)
{
    if (!*Name)
        return false;
    qint64 v = 0;
    for (const char *p = Name; *p; ++p) {
        if (*p < '0' || *p > '9' || v > INT_MAX / 10)
            return false;
        v = v * 10 + (*p - '0');
    }
    if (v <= 0 || v > INT_MAX)
        return false;
    Pid = qint32(v);
    return true;
}

void ProcPath(char *Buf, std::size_t Cap, qint32 Pid, const char *Leaf)
{
    std::snprintf(Buf, Cap, "/proc/%d/%s", int(Pid), Leaf);
}

// The text of /proc/PID/status; nothing once the process is gone.
std::optional<QByteArray> ReadProcStatus(qint32 Pid)
{
    char path[48];
    ProcPath(path, sizeof path, Pid, "status");
    return platform::system::ReadStatusFile(path, std::size_t{64} * 1024);
}

// The number of entries the last listing of /proc found, and when (monotonic, ns).
std::atomic<quint64> g_listedCount{0};
std::atomic<qint64> g_listedAt{0};

qint64 MonotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

// The stop the listings of this thread heed, if any.
thread_local const std::atomic<bool> *t_ListingStop = nullptr;

// Calls `Fn` with each identifier, and the descriptor of /proc for reads relative to it.
template <typename Visit>
bool ForEachPid(Visit &&Fn)
{
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return false;
    const int procFd = ::dirfd(dir);
    quint64 listed = 0;
    while (const dirent *e = ::readdir(dir)) {
        if (t_ListingStop && t_ListingStop->load(std::memory_order_relaxed)) {
            ::closedir(dir);
            return false;
        }
        qint32 pid = 0;
        if (IsPidName(e->d_name, pid)) {
            ++listed;
            if constexpr (std::is_invocable_v<Visit, qint32, int, const char *>)
                Fn(pid, procFd, e->d_name);
            else
                Fn(pid);
        }
    }
    ::closedir(dir);
    g_listedCount.store(listed, std::memory_order_relaxed);
    g_listedAt.store(MonotonicNs(), std::memory_order_relaxed);
    return true;
}

// A "Key:  value kB" line of a status file.
bool StatusValue(const QByteArray &Text, const char *Key, quint64 &Out)
{
    const QByteArray k = QByteArray(Key) + ':';
    qsizetype at = 0;
    if (!Text.startsWith(k)) {
        at = Text.indexOf('\n' + k);
        if (at < 0)
            return false;
        at += 1;
    }
    const char *p = Text.constData() + at + k.size();
    const char *end = Text.constData() + Text.size();
    while (p < end && (*p == '\t' || *p == ' '))
        ++p;
    return ParseUnsigned(p, end, Out);
}

// The real and effective uids of a status file's "Uid:" line (real, effective, saved, filesystem).
std::optional<ProcessUids> UidsOf(const QByteArray &Text)
{
    const qsizetype at = Text.indexOf("\nUid:");
    if (at < 0)
        return std::nullopt;
    const char *p = Text.constData() + at + 5;
    const char *end = Text.constData() + Text.size();
    quint64 real = 0, effective = 0;
    while (p < end && (*p == '\t' || *p == ' '))
        ++p;
    if (!ParseUnsigned(p, end, real) || real > 0xFFFFFFFFu)
        return std::nullopt;
    while (p < end && (*p == '\t' || *p == ' '))
        ++p;
    if (!ParseUnsigned(p, end, effective) || effective > 0xFFFFFFFFu)
        return std::nullopt;
    return ProcessUids{quint32(real), quint32(effective)};
}

std::optional<quint32> EffectiveUidOf(const QByteArray &Text)
{
    const auto uids = UidsOf(Text);
    return uids ? std::optional<quint32>(uids->Effective) : std::nullopt;
}

} // namespace

bool ParseStat(const char *Text, std::size_t Size, ProcStat &Out)
{
    return ParseStat(Text, Size, Out, nullptr);
}

bool ParseStat(const char *Text, std::size_t Size, ProcStat &Out, RawName *RawName)
{
    const char *end = Text + Size;
    const char *open = static_cast<const char *>(std::memchr(Text, '(', Size));
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
    const char *p = Text;
    qint64 pid = 0;
    if (!ParseSigned(p, open, pid) || pid < 0 || pid > INT_MAX)
        return false;
    ProcStat st;
    st.Pid = qint32(pid);
    if (RawName) {
        RawName->Size = std::size_t(qMin<qptrdiff>(close - open - 1, qptrdiff(sizeof RawName->Text)));
        std::memcpy(RawName->Text, open + 1, RawName->Size);
    } else {
        st.Comm = files::DecodeNameBytes(QByteArrayView(open + 1, close - open - 1));
    }
    p = close + 1;
    if (p + 2 > end || p[0] != ' ')
        return false;
    st.State = p[1];
    p += 2;
    // Fields 4 (ppid) to 51 (env_end), numbered as in proc(5); older kernels end earlier.
    qint64 f[52] = {};
    // Read every second for every process: the fields not used are only stepped over.
    constexpr quint64 kUsed = (1ull << 4) | (1ull << 6) | (1ull << 9) | (1ull << 10) | (1ull << 12) | (1ull << 14) |
        (1ull << 15) | (1ull << 18) | (1ull << 19) | (1ull << 20) | (1ull << 22) | (1ull << 26) | (1ull << 27) |
        (1ull << 28) | (1ull << 41) | (1ull << 47);
    for (int i = 4; i <= 51; ++i) {
        if ((kUsed & (1ull << i)) == 0) {
            while (p < end && *p == ' ')
                ++p;
            const char *digits = p < end && *p == '-' ? p + 1 : p;
            const char *after = digits;
            while (after < end && *after >= '0' && *after <= '9')
                ++after;
            if (after == digits) {
                if (i <= 22)
                    return false; // everything up to the start time is required
                break;
            }
            p = after;
            continue;
        }
        // Some fields (rsslim) fill all 64 bits: wrap those, only the ones used matter.
        const char *before = p;
        bool ok = ParseSigned(p, end, f[i]);
        if (!ok && i > 22) {
            p = before;
            quint64 big = 0;
            ok = ParseUnsigned(p, end, big);
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
    st.ParentPid = qint32(f[4]);
    st.Session = qint32(f[6]);
    st.Flags = quint32(quint64(f[9]) & 0xFFFFFFFFu);
    st.Minflt = quint64(qMax<qint64>(0, f[10]));
    st.Majflt = quint64(qMax<qint64>(0, f[12]));
    st.Utime = quint64(qMax<qint64>(0, f[14]));
    st.Stime = quint64(qMax<qint64>(0, f[15]));
    st.Priority = qint32(f[18]);
    st.Nice = qint32(f[19]);
    st.NumThreads = qint32(f[20]);
    st.StartTime = quint64(f[22]);
    st.Policy = quint32(qMax<qint64>(0, f[41]));
    st.Layout.StartCode = quint64(qMax<qint64>(0, f[26]));
    st.Layout.EndCode = quint64(qMax<qint64>(0, f[27]));
    st.Layout.StartStack = quint64(qMax<qint64>(0, f[28]));
    st.Layout.StartBrk = quint64(qMax<qint64>(0, f[47]));
    Out = st;
    return true;
}

bool ReadStat(qint32 Pid, ProcStat &Out)
{
    if (Pid <= 0)
        return false;
    char path[48];
    ProcPath(path, sizeof path, Pid, "stat");
    char buf[1024];
    const ssize_t n = ReadSmallFile(path, buf, sizeof buf);
    return n > 0 && ParseStat(buf, std::size_t(n), Out);
}

static ProcessEntry EntryFromStat(const ProcStat &St)
{
    ProcessEntry e;
    e.Pid = quint32(St.Pid);
    e.ParentPid = quint32(St.ParentPid);
    e.Name = St.Comm;
    e.State = St.State;
    e.StartTime = St.StartTime;
    e.Session = quint32(qMax(0, St.Session));
    e.KernelThread = St.IsKernelThread();
    e.HasTimes = true;
    e.CpuTicks = St.Utime + St.Stime;
    e.Faults = St.Minflt + St.Majflt;
    e.Layout = St.Layout;
    return e;
}

// The owner of /proc/PID, the process's effective uid (a world-readable directory of a
// process is owned by it whether or not the process is dumpable; root for kernel threads),
// and the directory's inode, made anew for a new process under the identifier.
static void ReadProcDir(int ProcFd, const char *Name, ProcessEntry &E)
{
    struct stat st = {};
    if (::fstatat(ProcFd, Name, &st, 0) != 0)
        return;
    E.OwnerUid = quint32(st.st_uid);
    E.ProcInode = quint64(st.st_ino);
}

bool EnumerateByStat(std::vector<ProcessEntry> &Out)
{
    Out.clear();
    const bool listed = ForEachPid([&](qint32, int ProcFd, const char *Name) {
        char path[48];
        std::snprintf(path, sizeof path, "%s/stat", Name);
        char buf[1024];
        const ssize_t n = ReadSmallFile(ProcFd, path, buf, sizeof buf);
        ProcStat st;
        RawName raw;
        // The name stays raw: only a process seen for the first time needs it.
        if (n > 0 && ParseStat(buf, std::size_t(n), st, &raw) && !st.IsZombie()) {
            Out.push_back(EntryFromStat(st));
            Out.back().RawName = raw;
            ReadProcDir(ProcFd, Name, Out.back());
        }
    });
    return listed && !Out.empty();
}

rlimit StartingFileLimit()
{
    static const rlimit kStart = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            limit = rlimit{};
        return limit;
    }();
    return kStart;
}

namespace {

// The processes whose files a listing keeps open at most, and the descriptors it leaves to the
// rest of the program.
constexpr std::size_t kKeptAtMost = 10000;
constexpr rlim_t kOtherFiles = 2048;

// Raises the soft limit on open files once, as far as the hard one allows and the kept files
// need; the number of processes whose files may be kept under the limit then.
std::size_t KeepingBudget()
{
    static const std::size_t kBudget = [] {
        rlimit limit = StartingFileLimit();
        if (limit.rlim_cur == 0)
            return std::size_t(0);
        const rlim_t wanted = kOtherFiles + 2 * kKeptAtMost;
        if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
            rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(limit.rlim_max, wanted);
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        if (limit.rlim_cur == RLIM_INFINITY)
            return kKeptAtMost;
        if (limit.rlim_cur <= kOtherFiles)
            return std::size_t(0);
        return std::min(kKeptAtMost, std::size_t((limit.rlim_cur - kOtherFiles) / 2));
    }();
    return kBudget;
}

} // namespace

// A process's kept files (none after its first listing), and the listing that saw it last.
struct KeptListing::TFiles
{
    int Stat = -1;
    int Folder = -1; // O_PATH
    quint64 Listing = 0;
};

KeptListing::KeptListing() = default;

KeptListing::~KeptListing()
{
    for (auto &[pid, files] : m_Files) {
        if (files.Stat >= 0) {
            ::close(files.Stat);
            ::close(files.Folder);
        }
    }
}

bool KeptListing::Enumerate(std::vector<ProcessEntry> &Out)
{
    std::lock_guard l(m_Lock);
    Out.clear();
    const std::size_t budget = KeepingBudget();
    const quint64 listing = ++m_Listing;
    char buf[1024];
    const bool listed = ForEachPid([&](qint32 Pid, int ProcFd, const char *Name) {
        TFiles &files = m_Files[Pid];
        ssize_t n = -1;
        if (files.Stat >= 0) {
            // Read again in place: a process that ended fails it, and so one that took its identifier.
            n = ::pread(files.Stat, buf, sizeof buf - 1, 0);
            if (n > 0) {
                buf[n] = '\0';
            } else {
                ::close(files.Stat);
                ::close(files.Folder);
                files = TFiles();
                --m_KeptCount;
            }
        }
        struct stat dir = {};
        bool owner = false;
        if (files.Stat < 0) {
            // A process is kept from its second listing on: one that lives a moment costs no more
            // than one open and read.
            const bool keep = files.Listing != 0 && files.Listing + 1 == listing && m_KeptCount < budget;
            char path[NAME_MAX + 8];
            std::snprintf(path, sizeof path, "%s/stat", Name);
            const int stat = ::openat(ProcFd, path, O_RDONLY | O_CLOEXEC);
            n = stat < 0 ? -1 : ReadOpenFile(stat, buf, sizeof buf);
            const int folder = keep && n > 0 ? ::openat(ProcFd, Name, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
            if (folder >= 0) {
                files.Stat = stat;
                files.Folder = folder;
                ++m_KeptCount;
            } else {
                if (stat >= 0)
                    ::close(stat);
                owner = n > 0 && ::fstatat(ProcFd, Name, &dir, 0) == 0;
            }
        }
        if (files.Folder >= 0)
            owner = ::fstat(files.Folder, &dir) == 0;
        files.Listing = listing;
        ProcStat st;
        RawName raw;
        // The name stays raw: only a process seen for the first time needs it.
        if (n > 0 && ParseStat(buf, std::size_t(n), st, &raw) && !st.IsZombie()) {
            Out.push_back(EntryFromStat(st));
            Out.back().RawName = raw;
            // Its owner follows the effective user whether or not the process is dumpable.
            if (owner) {
                Out.back().OwnerUid = quint32(dir.st_uid);
                Out.back().ProcInode = quint64(dir.st_ino);
            }
        }
    });
    // What was kept of processes not listed any more goes.
    for (auto it = m_Files.begin(); it != m_Files.end();) {
        if (it->second.Listing == listing) {
            ++it;
            continue;
        }
        if (it->second.Stat >= 0) {
            ::close(it->second.Stat);
            ::close(it->second.Folder);
            --m_KeptCount;
        }
        it = m_Files.erase(it);
    }
    return listed && !Out.empty();
}

bool EnumerateByStatus(std::vector<ProcessEntry> &Out)
{
    Out.clear();
    const bool listed = ForEachPid([&](qint32 Pid) {
        const auto text = ReadProcStatus(Pid);
        if (!text)
            return;
        char path[48];
        ProcPath(path, sizeof path, Pid, "stat");
        char buf[1024];
        const ssize_t n = ReadSmallFile(path, buf, sizeof buf);
        ProcStat st;
        RawName raw;
        if (n <= 0 || !ParseStat(buf, std::size_t(n), st, &raw) || st.IsZombie())
            return;
        ProcessEntry e = EntryFromStat(st);
        // The status file escapes some characters of the name: the stat file's bytes are the
        // ones to compare from pass to pass.
        e.RawName = raw;
        for (const QByteArray &line : text->split('\n')) {
            if (line.startsWith("Name:\t"))
                e.Name = files::DecodeNameBytes(line.mid(6));
        }
        quint64 v = 0;
        if (StatusValue(*text, "PPid", v))
            e.ParentPid = quint32(v);
        // The status file just read holds the uid as well: no second read of it.
        if (auto uid = EffectiveUidOf(*text)) {
            e.Uid = uid;
            e.OwnerUid = uid;
        }
        Out.push_back(e);
    });
    return listed && !Out.empty();
}

ListingStop::ListingStop(const std::atomic<bool> &Stop) : m_Outer(t_ListingStop)
{
    t_ListingStop = &Stop;
}

ListingStop::~ListingStop()
{
    t_ListingStop = m_Outer;
}

quint64 CountProcesses()
{
    const qint64 at = g_listedAt.load(std::memory_order_relaxed);
    const quint64 listed = g_listedCount.load(std::memory_order_relaxed);
    if (at != 0 && listed != 0 && MonotonicNs() - at < 2000000000ll)
        return listed;
    quint64 n = 0;
    if (!ForEachPid([&n](qint32) { ++n; }))
        return 0;
    return n;
}

std::optional<ProcessHandle> OpenProcess(qint32 Pid)
{
    ProcStat st;
    if (!ReadStat(Pid, st) || st.IsZombie())
        return std::nullopt;
    return ProcessHandle{Pid, st.StartTime, true};
}

bool IsAlive(const ProcessHandle &Handle)
{
    if (!Handle.Valid || Handle.Pid <= 0)
        return false;
    ProcStat st;
    return ReadStat(Handle.Pid, st) && !st.IsZombie() && st.StartTime == Handle.StartTime;
}

std::optional<ProcessUids> ReadUids(qint32 Pid)
{
    if (Pid <= 0)
        return std::nullopt;
    const auto text = ReadProcStatus(Pid);
    if (!text)
        return std::nullopt;
    return UidsOf(*text);
}

std::optional<quint32> ReadEffectiveUid(qint32 Pid)
{
    const auto uids = ReadUids(Pid);
    return uids ? std::optional<quint32>(uids->Effective) : std::nullopt;
}

std::optional<QByteArray> ReadExeLink(qint32 Pid)
{
    if (Pid <= 0)
        return std::nullopt;
    char path[48];
    ProcPath(path, sizeof path, Pid, "exe");
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink(path, buf, PATH_MAX);
    if (n <= 0)
        return std::nullopt;
    return QByteArray(buf, n);
}

std::optional<ImageFacts> ReadImageFacts(qint32 Pid)
{
    if (Pid <= 0)
        return std::nullopt;
    const auto uids = ReadUids(Pid);
    const auto link = ReadExeLink(Pid);
    if (!uids || !link)
        return std::nullopt;
    char path[48];
    ProcPath(path, sizeof path, Pid, "exe");
    struct stat st = {};
    if (::stat(path, &st) != 0)
        return std::nullopt;
    ImageFacts facts;
    facts.Uids = *uids;
    QByteArray name = *link;
    // The kernel marks a file without a name left with this suffix; a file merely named so
    // still has its links.
    static const QByteArray kDeleted(" (deleted)");
    if (st.st_nlink == 0 && name.endsWith(kDeleted))
        name.chop(kDeleted.size());
    facts.Path = files::DecodeNameBytes(name);
    return facts;
}

std::optional<QString> ReadExePath(qint32 Pid)
{
    const auto link = ReadExeLink(Pid);
    if (!link)
        return std::nullopt;
    return files::DecodeNameBytes(*link);
}

std::optional<QStringList> ReadCmdline(qint32 Pid, bool *RawSingle)
{
    if (Pid <= 0)
        return std::nullopt;
    char path[48];
    ProcPath(path, sizeof path, Pid, "cmdline");
    auto data = platform::system::ReadStatusFile(path, std::size_t{256} * 1024);
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
    if (RawSingle)
        *RawSingle = !data->contains('\0');
    for (const QByteArray &a : data->split('\0'))
        args << files::DecodeNameBytes(a);
    return args;
}

std::optional<MemoryStatus> ReadMemoryStatus(qint32 Pid)
{
    if (Pid <= 0)
        return std::nullopt;
    const auto text = ReadProcStatus(Pid);
    if (!text)
        return std::nullopt;
    MemoryStatus m;
    quint64 v = 0;
    // Kernel threads have none of these lines: all zero.
    if (StatusValue(*text, "VmRSS", v))
        m.VmRss = v * 1024;
    if (StatusValue(*text, "VmHWM", v))
        m.VmHwm = v * 1024;
    if (StatusValue(*text, "RssAnon", v))
        m.RssAnon = v * 1024;
    if (StatusValue(*text, "VmSwap", v))
        m.VmSwap = v * 1024;
    if (StatusValue(*text, "VmPTE", v))
        m.VmPte = v * 1024;
    if (StatusValue(*text, "VmLck", v))
        m.VmLck = v * 1024;
    return m;
}

bool ParseStatm(const char *Text, std::size_t Size, quint64 PageSize, ResidentMemory &Out)
{
    // "size resident shared text lib data dt", in pages.
    const char *p = Text;
    const char *end = Text + Size;
    quint64 pages[3] = {};
    for (quint64 &v : pages) {
        if (!ParseUnsigned(p, end, v))
            return false;
    }
    if (pages[2] > pages[1] || pages[1] > ULLONG_MAX / PageSize)
        return false;
    Out.Resident = pages[1] * PageSize;
    Out.Shared = pages[2] * PageSize;
    return true;
}

std::optional<ResidentMemory> ReadStatm(qint32 Pid, quint64 *FileInode)
{
    if (Pid <= 0)
        return std::nullopt;
    static const quint64 kPageSize = [] {
        const long v = ::sysconf(_SC_PAGESIZE);
        return v > 0 ? quint64(v) : quint64(4096);
    }();
    char path[48];
    ProcPath(path, sizeof path, Pid, "statm");
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    if (FileInode) {
        struct stat st = {};
        *FileInode = ::fstat(fd, &st) == 0 ? quint64(st.st_ino) : 0;
    }
    char buf[256];
    const ssize_t n = ReadOpenFile(fd, buf, sizeof buf);
    ::close(fd);
    ResidentMemory m;
    if (n <= 0 || !ParseStatm(buf, std::size_t(n), kPageSize, m))
        return std::nullopt;
    return m;
}

static int CountDirEntries(const char *Path)
{
    DIR *dir = ::opendir(Path);
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

int ReadFdCount(qint32 Pid)
{
    if (Pid <= 0)
        return -1;
    char path[48];
    ProcPath(path, sizeof path, Pid, "fd");
    return CountDirEntries(path);
}

int ReadModuleCount(qint32 Pid)
{
    if (Pid <= 0)
        return -1;
    char path[48];
    ProcPath(path, sizeof path, Pid, "maps");
    const auto text = platform::system::ReadStatusFile(path, 16u << 20);
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

std::vector<qint32> ReadThreadIds(qint32 Pid)
{
    std::vector<qint32> tids;
    if (Pid <= 0)
        return tids;
    char path[48];
    ProcPath(path, sizeof path, Pid, "task");
    DIR *dir = ::opendir(path);
    if (!dir)
        return tids;
    while (const dirent *e = ::readdir(dir)) {
        qint32 tid = 0;
        if (IsPidName(e->d_name, tid))
            tids.push_back(tid);
    }
    ::closedir(dir);
    return tids;
}

std::optional<SchedInfo> ReadSchedInfo(qint32 Tid)
{
    if (Tid <= 0)
        return std::nullopt;
    const int policy = ::sched_getscheduler(Tid);
    if (policy < 0)
        return std::nullopt;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(Tid));
    if (nice == -1 && errno != 0)
        return std::nullopt;
    return SchedInfo{policy & ~SCHED_RESET_ON_FORK, nice};
}

std::optional<std::vector<bool>> ReadAffinity(qint32 Tid)
{
    if (Tid <= 0)
        return std::nullopt;
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 4) {
        cpu_set_t *set = CPU_ALLOC(cpus);
        if (!set)
            return std::nullopt;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        if (::sched_getaffinity(Tid, size, set) == 0) {
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

unsigned OnlineProcessorCount()
{
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? unsigned(n) : 0u;
}

long ClockTicksPerSecond()
{
    static const long kTicks = [] {
        const long t = ::sysconf(_SC_CLK_TCK);
        return t > 0 ? t : 100L;
    }();
    return kTicks;
}

std::optional<quint64> SystemIdleTicks()
{
    char buf[512];
    const ssize_t n = ReadSmallFile("/proc/stat", buf, sizeof buf);
    if (n < 5 || std::strncmp(buf, "cpu ", 4) != 0)
        return std::nullopt;
    const char *p = buf + 4;
    const char *end = buf + n;
    quint64 f[5] = {};
    for (quint64 &v : f) {
        if (!ParseUnsigned(p, end, v))
            return std::nullopt;
    }
    return f[3] + f[4];
}

qint64 BootTimeSeconds()
{
    const auto text = platform::system::ReadStatusFile("/proc/stat");
    if (!text)
        return 0;
    const qsizetype at = text->indexOf("\nbtime ");
    if (at < 0)
        return 0;
    const char *p = text->constData() + at + 7;
    quint64 v = 0;
    return ParseUnsigned(p, text->constData() + text->size(), v) ? qint64(v) : 0;
}

quint64 MonotonicNow100ns()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 10000000ull + quint64(ts.tv_nsec) / 100u;
}

qint64 RealtimeNowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

qint32 PidMax()
{
    char buf[32];
    const ssize_t n = ReadSmallFile("/proc/sys/kernel/pid_max", buf, sizeof buf);
    if (n <= 0)
        return 4194304; // the kernel's upper limit
    const char *p = buf;
    quint64 v = 0;
    if (!ParseUnsigned(p, buf + n, v) || v == 0 || v > quint64(INT_MAX))
        return 4194304;
    return qint32(v);
}

QString HostName()
{
    return QSysInfo::machineHostName();
}

std::optional<QString> AccountName(quint32 Uid)
{
    const auto account = platform::system::AccountOf(Uid);
    return account ? std::optional<QString>(account->Name) : std::nullopt;
}

bool IsSystemAccount(quint32 Uid)
{
    static const quint32 kFirstUserUid = [] {
        quint64 first = 1000;
        const auto text = platform::system::ReadStatusFile("/etc/login.defs", std::size_t{1} << 20);
        if (!text)
            return quint32(first);
        for (const QByteArray &raw : text->split('\n')) {
            const QByteArray line = raw.simplified();
            if (!line.startsWith("UID_MIN "))
                continue;
            const char *p = line.constData() + 8;
            quint64 v = 0;
            if (ParseUnsigned(p, line.constData() + line.size(), v) && v > 0 && v <= 0xFFFFFFFFu)
                first = v;
        }
        return quint32(first);
    }();
    return Uid < kFirstUserUid;
}

} // namespace platform::processes
