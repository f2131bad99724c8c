#pragma once

#include "platform/processes/ProcessSource.h"
#include "platform/system/TestSeams.h"

#include <QPair>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// Priority classes by their customary values.
constexpr quint32 IDLE_PRIORITY_CLASS = 0x40;
constexpr quint32 BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
constexpr quint32 NORMAL_PRIORITY_CLASS = 0x20;
constexpr quint32 ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
constexpr quint32 HIGH_PRIORITY_CLASS = 0x80;
constexpr quint32 REALTIME_PRIORITY_CLASS = 0x100;

// The hand-over between a process operation run off the window's thread and the caller that waits
// for it a bounded while. The operation acts only if the caller has not given up, and the caller
// gives up only while the operation has not begun to act: what the caller reports is what was done.
class TOperationHandOver
{
public:
    // The operation's side, after every read and just before its first step that acts (a signal, a
    // system call that changes the process): false when the caller has given up, and the operation
    // then does nothing.
    bool BeginActing();
    // The operation's side: its result, given once (also when it ended before acting).
    void Finish(bool Result);
    // The caller's side: the result when it comes within `Ms`. Not in by then: the caller gives up
    // (false), unless the operation already acts; its result is then waited for, as what is left
    // are a few system calls that wait on nothing.
    bool Wait(int Ms);
    // The caller has given up.
    bool GivenUp() const { return m_State.load() == Cancelled; }

private:
    enum : int { Pending, Acting, Cancelled };
    std::atomic<int> m_State{Pending};
    std::mutex m_Lock;
    std::condition_variable m_Finished;
    std::optional<bool> m_Result;
};

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

    // With a `HandOver`, an operation acts only as it lets it (see TOperationHandOver); the
    // caller gives it its result. Suspend and Resume give whether they were done.
    static bool CreateProcess(const QString &CommandLine);
    static bool Suspend(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0,
                        TOperationHandOver *HandOver = nullptr);
    static bool Resume(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0,
                       TOperationHandOver *HandOver = nullptr);
    static bool Terminate(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0,
                          TOperationHandOver *HandOver = nullptr);
    // The direct children are found by a walk of every process.
    static bool TerminateTree(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0);
    // The same with the children as the caller last listed them (identifier, start time) instead of
    // a walk: each is ended only while it is still a child of the process; one that has ended or
    // left it meanwhile is passed over.
    using TChildren = std::vector<QPair<quint32, quint64>>;
    static bool TerminateTree(quint32 Pid, std::optional<quint64> StartTime, quint64 Inode, const TChildren &Children,
                              TOperationHandOver *HandOver = nullptr);
    // Stops before any further process is ended or the file deleted once `Cancelled` says so (the
    // caller has given up waiting for it): false then.
    static bool TerminateAndDelete(quint32 Pid, std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0,
                                   const std::function<bool()> &Cancelled = {});
    static bool SetPriority(quint32 Pid, quint16 PriorityClass, std::optional<quint64> StartTime = std::nullopt,
                            quint64 Inode = 0, TOperationHandOver *HandOver = nullptr);
    static bool SetAffinity(quint32 Pid, quint32 CPUIndex, bool Enabled,
                            std::optional<quint64> StartTime = std::nullopt, quint64 Inode = 0,
                            TOperationHandOver *HandOver = nullptr);

    // The number of suspends not yet resumed (kept by this program).
    static int SuspendCount(quint32 Pid);
};

#if TASKVANE_TEST_SEAMS
// Called by every operation on a process before it opens the process (whose stat file it reads):
// a test makes the operation's reads wait there.
using TOperationReadHook = void (*)(quint32 Pid);
void SetOperationReadHook(TOperationReadHook Hook);
#endif
