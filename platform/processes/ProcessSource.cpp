#include "platform/processes/ProcessSource.h"

#include "platform/processes/ProcessActions.h"

namespace platform::processes {

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
    return PidFd::identify(qint32(pid), startTime);
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
auto pinnedRead(const ProcessHandle &handle, Read &&read) -> decltype(read())
{
    const auto pinned = PidFd::pin(handle);
    if (!pinned)
        return {};
    auto value = read();
    if (!pinned->held())
        return {};
    return value;
}

int pinnedCount(const ProcessHandle &handle, int (*count)(qint32))
{
    return pinnedRead(handle, [&] { return std::optional<int>(count(handle.pid)); }).value_or(-1);
}

} // namespace

std::optional<ProcStat> ProcessSource::stat(const ProcessHandle &handle)
{
    return pinnedRead(handle, [&]() -> std::optional<ProcStat> {
        ProcStat st;
        if (!readStat(handle.pid, st) || st.startTime != handle.startTime)
            return std::nullopt;
        return st;
    });
}

std::optional<quint32> ProcessSource::uid(const ProcessHandle &handle)
{
    return pinnedRead(handle, [&] { return readEffectiveUid(handle.pid); });
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
    return pinnedRead(handle, [&] { return readExePath(handle.pid); });
}

std::optional<QStringList> ProcessSource::cmdline(const ProcessHandle &handle, bool *rawSingle)
{
    return pinnedRead(handle, [&] { return readCmdline(handle.pid, rawSingle); });
}

std::optional<MemoryStatus> ProcessSource::memory(const ProcessHandle &handle)
{
    return pinnedRead(handle, [&] { return readMemoryStatus(handle.pid); });
}

int ProcessSource::fdCount(const ProcessHandle &handle)
{
    return pinnedCount(handle, readFdCount);
}

int ProcessSource::moduleCount(const ProcessHandle &handle)
{
    return pinnedCount(handle, readModuleCount);
}

std::optional<SchedInfo> ProcessSource::sched(const ProcessHandle &handle)
{
    return pinnedRead(handle, [&] { return readSchedInfo(handle.pid); });
}

std::optional<std::vector<bool>> ProcessSource::affinity(const ProcessHandle &handle)
{
    return pinnedRead(handle, [&] { return readAffinity(handle.pid); });
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
