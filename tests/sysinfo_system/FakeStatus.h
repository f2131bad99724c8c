#pragma once

#include "platform/system/StatusSource.h"

#include <optional>
#include <vector>

namespace stest {

using platform::system::CpuStat;
using platform::system::DriveEntry;
using platform::system::KernelCounts;
using platform::system::KernelInfo;
using platform::system::MemoryInfo;
using platform::system::OSRelease;
using platform::system::ProcessorStat;
using platform::system::ProcessorTimes;

// A machine the test describes: every answer is the test's own, and a failure is an empty optional.
class FakeStatus : public platform::system::StatusSource
{
public:
    std::optional<CpuStat> cpu;
    std::optional<double> clock = 1e9;
    std::optional<MemoryInfo> mem;
    std::optional<KernelCounts> kcounts = KernelCounts{100, 200, 30};
    std::optional<double> uptime = 3600.0;
    qint64 wallSeconds = 1700000000;
    quint32 wallNanos = 0;
    std::optional<std::vector<DriveEntry>> driveList;
    std::optional<OSRelease> os;
    std::optional<KernelInfo> kinfo;

    // A machine of `n` processors, all idle since boot, booted at `boot`.
    explicit FakeStatus(int n = 1, qint64 boot = 1699990000)
    {
        CpuStat s;
        s.BootTime = boot;
        for (int i = 0; i < n; ++i)
            s.Processors.push_back({i, {}});
        cpu = s;
    }

    // Moves the clock on by `seconds` and gives each processor `busy[i]` of it as busy time
    // (the rest idle); the summary idle time follows the processors'.
    void advance(double seconds, const std::vector<double> &busy)
    {
        const double span = seconds * 1e7;
        *clock += span;
        double idleAll = 0;
        for (size_t i = 0; i < cpu->Processors.size(); ++i) {
            ProcessorTimes &t = cpu->Processors[i].Times;
            const double b = i < busy.size() ? busy[i] : 0.0;
            t.User += span * b;
            t.Idle += span * (1.0 - b);
            t.Kernel += span * (1.0 - b);
            idleAll += t.Idle;
        }
        cpu->All.Idle = idleAll;
    }

    std::optional<CpuStat> Cpu() override { return cpu; }
    std::optional<double> Now100ns() override { return clock; }
    std::optional<MemoryInfo> Memory() override { return mem; }
    std::optional<KernelCounts> Counts() override { return kcounts; }
    std::optional<double> UptimeSeconds() override { return uptime; }
    void RealtimeNow(qint64 &seconds, quint32 &nanoseconds) override
    {
        seconds = wallSeconds;
        nanoseconds = wallNanos;
    }
    std::optional<std::vector<DriveEntry>> Drives() override { return driveList; }
    std::optional<OSRelease> OsRelease() override { return os; }
    std::optional<KernelInfo> Kernel() override { return kinfo; }
};

inline MemoryInfo Memory(quint64 total, quint64 available, quint64 commitLimit, quint64 committed)
{
    MemoryInfo m;
    m.Total = total;
    m.Available = available;
    m.HasAvailable = true;
    m.CommitLimit = commitLimit;
    m.Committed = committed;
    return m;
}

} // namespace stest
