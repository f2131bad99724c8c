#pragma once

#include "platform/processes/ProcessSource.h"

#include <QString>

#include <functional>
#include <optional>

// Priority classes by their customary values.
constexpr quint32 IDLE_PRIORITY_CLASS = 0x40;
constexpr quint32 BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
constexpr quint32 NORMAL_PRIORITY_CLASS = 0x20;
constexpr quint32 ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
constexpr quint32 HIGH_PRIORITY_CLASS = 0x80;
constexpr quint32 REALTIME_PRIORITY_CLASS = 0x100;

// The actions on a process, by identifier. Each validates the identifier, opens a pidfd,
// checks that it is still the listed process (its `StartTime` and, where the kernel has them,
// its pidfd `Inode`, when the caller knows them), and reports by its result.
class TProcessHelper
{
public:
    TProcessHelper() = delete;

    static quint32 GetProcessorCount();
    static quint32 GetProcessorCount(platform::processes::ProcessSource &Source);

    // The class that a scheduling policy and nice value stand for; 0 for none.
    static quint32 PriorityClassOf(int Policy, int Nice);

    static bool CreateProcess(const QString &CommandLine);
    static void Suspend(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0);
    static void Resume(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0);
    static bool Terminate(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0);
    static bool TerminateTree(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0);
    // Stops before any further process is ended or the file deleted once `Cancelled` says so (the
    // caller has given up waiting for it): false then.
    static bool TerminateAndDelete(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0,
                                   const std::function<bool()> &Cancelled = {});
    static bool SetPriority(quint32 Pid, quint16 PriorityClass, std::optional<quint64> StartTime = std::nullopt,
                            quint64 Inode = 0);
    static bool SetAffinity(quint32 Pid, quint32 CPUIndex, bool Enabled,
                            std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0);

    // The number of suspends not yet resumed (kept by this program).
    static int SuspendCount(quint32 Pid);
};
