#include "platform/processes/ProcessSource.h"

#include "platform/files/FileHandle.h"
#include "platform/processes/ProcessActions.h"

#include <QFile>

namespace platform::processes {

ProcessSource::ProcessSource() = default;
ProcessSource::~ProcessSource() = default;

bool ProcessSource::enumeratePrimary(std::vector<ProcessEntry> &out)
{
    return enumerateByStat(out);
}

bool ProcessSource::enumerateFallback(std::vector<ProcessEntry> &out)
{
    return enumerateByStatus(out);
}

std::optional<ProcessHandle> ProcessSource::open(quint32 pid, quint64 startTime)
{
    if (pid == 0 || pid > quint32(INT32_MAX))
        return std::nullopt;
    std::optional<PidFd> kept;
    const auto handle = PidFd::identify(qint32(pid), startTime, &kept);
    m_opened.reset();
    if (handle && kept) {
        m_opened = std::make_unique<PidFd>(std::move(*kept));
        m_openedHandle = *handle;
    }
    return handle;
}

namespace {

bool sameProcess(const ProcessHandle &a, const ProcessHandle &b)
{
    return a.valid && b.valid && a.pid == b.pid && a.startTime == b.startTime && a.inode == b.inode;
}

} // namespace

void ProcessSource::holdForReads(const ProcessHandle &handle)
{
    m_held.reset();
    // Only the pidfd that has just found the process serves: anything else is pinned read by read.
    if (m_opened && sameProcess(m_openedHandle, handle)) {
        m_held = std::move(m_opened);
        m_heldHandle = handle;
    }
    m_opened.reset();
}

void ProcessSource::unpin()
{
    m_held.reset();
    m_opened.reset();
}

const PidFd *ProcessSource::heldPin(const ProcessHandle &handle) const
{
    return m_held && sameProcess(m_heldHandle, handle) ? m_held.get() : nullptr;
}

bool ProcessSource::isAlive(const ProcessHandle &handle)
{
    if (handle.inode != 0) {
        const auto pinned = PidFd::pin(handle);
        if (!pinned || !pinned->held())
            return false;
    }
    return processes::isAlive(handle);
}

namespace {

// Runs a read of one process's files while the process is pinned: nothing comes back when
// the identifier names another process, or when the process ended while it was read.
template <typename Read>
auto pinnedRead(const ProcessSource &source, const ProcessHandle &handle, Read &&read) -> decltype(read())
{
    if (const PidFd *held = source.heldPin(handle)) {
        auto value = read();
        if (!held->held())
            return {};
        return value;
    }
    const auto pinned = PidFd::pin(handle);
    if (!pinned)
        return {};
    auto value = read();
    if (!pinned->held())
        return {};
    return value;
}

int pinnedCount(const ProcessSource &source, const ProcessHandle &handle, int (*count)(qint32))
{
    return pinnedRead(source, handle, [&] { return std::optional<int>(count(handle.pid)); }).value_or(-1);
}

} // namespace

std::optional<ProcStat> ProcessSource::stat(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&]() -> std::optional<ProcStat> {
        ProcStat st;
        if (!readStat(handle.pid, st) || st.startTime != handle.startTime)
            return std::nullopt;
        return st;
    });
}

std::optional<quint32> ProcessSource::uid(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&] { return readEffectiveUid(handle.pid); });
}

std::optional<QString> ProcessSource::accountName(quint32 uid)
{
    return processes::accountName(uid);
}

QString ProcessSource::domainName()
{
    static const QString host = hostName();
    return host;
}

std::optional<QString> ProcessSource::exePath(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&] { return readExePath(handle.pid); });
}

std::optional<platform::files::FileIdentity> ProcessSource::imageIdentity(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&] { return processes::imageIdentity(handle.pid); });
}

int ProcessSource::openImage(const ProcessHandle &handle)
{
    // The descriptor stays the image's once open; it counts only if the process was still held.
    int fd = -1;
    const auto opened = pinnedRead(*this, handle, [&]() -> std::optional<bool> {
        fd = processes::openImage(handle.pid);
        return fd >= 0;
    });
    if (opened.value_or(false))
        return fd;
    if (fd >= 0)
        platform::files::closeHandle(fd);
    return -1;
}

bool ProcessSource::pathIsImage(const ProcessHandle &handle, const QString &path)
{
    if (path.isEmpty())
        return false;
    const auto image = imageIdentity(handle);
    return image && platform::files::identityWithoutLinks(QFile::encodeName(path)) == image;
}

std::optional<QStringList> ProcessSource::cmdline(const ProcessHandle &handle, bool *rawSingle)
{
    return pinnedRead(*this, handle, [&] { return readCmdline(handle.pid, rawSingle); });
}

std::optional<MemoryStatus> ProcessSource::memory(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&] { return readMemoryStatus(handle.pid); });
}

std::optional<ResidentMemory> ProcessSource::resident(const ProcessHandle &handle, quint64 &fileInode)
{
    if (!handle.valid || handle.pid <= 0)
        return std::nullopt;
    if (fileInode != 0) {
        // A file of /proc/PID stays bound to the process it was made for: when the process
        // ends, a new one under the identifier gets new files with new inodes.
        quint64 inode = 0;
        const auto m = readStatm(handle.pid, &inode);
        if (m && inode == fileInode)
            return m;
    }
    quint64 inode = 0;
    const auto m = pinnedRead(*this, handle, [&] { return readStatm(handle.pid, &inode); });
    fileInode = m ? inode : 0;
    return m;
}

int ProcessSource::fdCount(const ProcessHandle &handle)
{
    return pinnedCount(*this, handle, readFdCount);
}

int ProcessSource::moduleCount(const ProcessHandle &handle)
{
    return pinnedCount(*this, handle, readModuleCount);
}

std::optional<SchedInfo> ProcessSource::sched(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&] { return readSchedInfo(handle.pid); });
}

std::optional<std::vector<bool>> ProcessSource::affinity(const ProcessHandle &handle)
{
    return pinnedRead(*this, handle, [&] { return readAffinity(handle.pid); });
}

unsigned ProcessSource::processorCount()
{
    return onlineProcessorCount();
}

std::optional<quint64> ProcessSource::idleTime()
{
    const auto ticks = systemIdleTicks();
    if (!ticks)
        return std::nullopt;
    return ticksTo100ns(*ticks);
}

quint64 ProcessSource::monotonicNow()
{
    return monotonicNow100ns();
}

qint64 ProcessSource::bootTimeSeconds()
{
    return processes::bootTimeSeconds();
}

qint64 ProcessSource::realtimeNowNs()
{
    return processes::realtimeNowNs();
}

long ProcessSource::clockTicksPerSecond()
{
    return processes::clockTicksPerSecond();
}

quint64 ProcessSource::ticksTo100ns(quint64 ticks)
{
    const long hz = clockTicksPerSecond();
    if (hz <= 0)
        return 0;
    return ticks / quint64(hz) * 10000000ull + ticks % quint64(hz) * 10000000ull / quint64(hz);
}

ProcessSource &defaultProcessSource()
{
    static ProcessSource source;
    return source;
}

} // namespace platform::processes
