#include "platform/processes/ProcessSource.h"

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
    // The enumeration has just seen it alive with this start time.
    return ProcessHandle{qint32(pid), startTime, true};
}

bool ProcessSource::isAlive(const ProcessHandle &handle)
{
    return processes::isAlive(handle);
}

std::optional<ProcStat> ProcessSource::stat(const ProcessHandle &handle)
{
    ProcStat st;
    if (!handle.valid || !readStat(handle.pid, st) || st.startTime != handle.startTime)
        return std::nullopt;
    return st;
}

std::optional<quint32> ProcessSource::uid(const ProcessHandle &handle)
{
    return handle.valid ? readEffectiveUid(handle.pid) : std::nullopt;
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
    return handle.valid ? readExePath(handle.pid) : std::nullopt;
}

std::optional<QStringList> ProcessSource::cmdline(const ProcessHandle &handle, bool *rawSingle)
{
    return handle.valid ? readCmdline(handle.pid, rawSingle) : std::nullopt;
}

std::optional<MemoryStatus> ProcessSource::memory(const ProcessHandle &handle)
{
    return handle.valid ? readMemoryStatus(handle.pid) : std::nullopt;
}

int ProcessSource::fdCount(const ProcessHandle &handle)
{
    return handle.valid ? readFdCount(handle.pid) : -1;
}

int ProcessSource::moduleCount(const ProcessHandle &handle)
{
    return handle.valid ? readModuleCount(handle.pid) : -1;
}

std::optional<SchedInfo> ProcessSource::sched(const ProcessHandle &handle)
{
    return handle.valid ? readSchedInfo(handle.pid) : std::nullopt;
}

std::optional<std::vector<bool>> ProcessSource::affinity(const ProcessHandle &handle)
{
    return handle.valid ? readAffinity(handle.pid) : std::nullopt;
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
