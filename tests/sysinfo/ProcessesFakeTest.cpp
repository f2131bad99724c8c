#include <gtest/gtest.h>

#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"

#include <map>

using platform::processes::ProcessEntry;
using platform::processes::ProcessHandle;
using platform::processes::ProcStat;

namespace {

struct FakeProcess
{
    QString name;
    quint64 startTime = 100;
    quint32 ppid = 1;
    quint32 uid = 1000;
    quint64 ticks = 0;
    std::optional<QString> exe = QStringLiteral("/opt/fake/prog");
    std::optional<QStringList> cmdline = QStringList{QStringLiteral("prog")};
    bool kernel = false;
};

// A scripted system: processes, clocks and failures as each test sets them.
class FakeSource : public platform::processes::ProcessSource
{
public:
    std::map<quint32, FakeProcess> procs;
    bool primaryFails = false;
    bool fallbackFails = false;
    int primaryCalls = 0;
    int fallbackCalls = 0;
    int exeReads = 0;
    quint64 now = 1000000000; // 100 ns units
    quint64 idle = 0;
    unsigned cpus = 2;

    bool enumeratePrimary(std::vector<ProcessEntry> &out) override
    {
        ++primaryCalls;
        return !primaryFails && list(out);
    }
    bool enumerateFallback(std::vector<ProcessEntry> &out) override
    {
        ++fallbackCalls;
        return !fallbackFails && list(out);
    }
    std::optional<ProcessHandle> open(quint32 pid, quint64 startTime) override
    {
        return ProcessHandle{qint32(pid), startTime, true};
    }
    bool isAlive(const ProcessHandle &h) override
    {
        const auto it = procs.find(quint32(h.pid));
        return it != procs.end() && it->second.startTime == h.startTime;
    }
    std::optional<ProcStat> stat(const ProcessHandle &h) override
    {
        const auto it = procs.find(quint32(h.pid));
        if (it == procs.end())
            return std::nullopt;
        ProcStat st;
        st.pid = h.pid;
        st.ppid = qint32(it->second.ppid);
        st.utime = it->second.ticks;
        st.startTime = it->second.startTime;
        st.numThreads = 3;
        return st;
    }
    std::optional<quint32> uid(const ProcessHandle &h) override
    {
        const auto it = procs.find(quint32(h.pid));
        return it == procs.end() ? std::nullopt : std::optional<quint32>(it->second.uid);
    }
    std::optional<QString> accountName(quint32 uid) override
    {
        if (uid == 0)
            return QStringLiteral("root");
        if (uid == 1000)
            return QStringLiteral("alice");
        return std::nullopt;
    }
    QString domainName() override { return QStringLiteral("host"); }
    std::optional<QString> exePath(const ProcessHandle &h) override
    {
        ++exeReads;
        const auto it = procs.find(quint32(h.pid));
        return it == procs.end() ? std::nullopt : it->second.exe;
    }
    std::optional<QStringList> cmdline(const ProcessHandle &h, bool *raw) override
    {
        if (raw)
            *raw = false;
        const auto it = procs.find(quint32(h.pid));
        return it == procs.end() ? std::nullopt : it->second.cmdline;
    }
    unsigned processorCount() override { return cpus; }
    std::optional<quint64> idleTime() override { return idle; }
    quint64 monotonicNow() override { return now; }
    long clockTicksPerSecond() override { return 100; }

    void tick(quint64 ms) { now += ms * 10000; }

private:
    bool list(std::vector<ProcessEntry> &out)
    {
        for (const auto &[pid, p] : procs) {
            ProcessEntry e;
            e.pid = pid;
            e.ppid = p.ppid;
            e.name = p.name;
            e.startTime = p.startTime;
            e.kernelThread = p.kernel;
            e.hasTimes = true;
            e.cpuTicks = p.ticks;
            out.push_back(e);
        }
        return !out.empty();
    }
};

struct Recorder
{
    std::vector<quint32> added, removed, reloaded;
    void attach(TProcesses &list)
    {
        list.OnProcessAdded = [this](QObject *, quint32 pid) { added.push_back(pid); };
        list.OnProcessRemoved = [this](QObject *, quint32 pid) { removed.push_back(pid); };
        list.OnProcessReloaded = [this](QObject *, quint32 pid) { reloaded.push_back(pid); };
    }
    void clear() { added.clear(), removed.clear(), reloaded.clear(); }
};

class ProcessListCycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        src.procs[1] = {QStringLiteral("init")};
        src.procs[50] = {QStringLiteral("daemon")};
        src.procs[60] = {QStringLiteral("kworker/0:1")};
        src.procs[60].kernel = true;
        src.procs[60].exe.reset();
        src.procs[60].cmdline = QStringList();
    }
    FakeSource src;
};

} // namespace

TEST_F(ProcessListCycle, FirstPassIsSilentAndSecondReportsOnlyNewProcesses)
{
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    ASSERT_TRUE(list.Refresh());
    EXPECT_FALSE(list.FirstPass);
    EXPECT_TRUE(rec.added.empty());
    EXPECT_EQ(list.GetCount(), 4); // the idle process heads the list
    ASSERT_NE(list.GetItem(0), nullptr);
    EXPECT_EQ(list.GetItem(0)->ProcessID, 0u);
    EXPECT_EQ(list.GetItem(0)->Name, QStringLiteral("System Idle Process"));

    src.procs[70] = {QStringLiteral("newcomer")};
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.added, std::vector<quint32>{70});
    EXPECT_TRUE(rec.removed.empty());
    ASSERT_NE(list.ItemByPID(70), nullptr);
    EXPECT_EQ(list.ItemByPID(70)->UserName, QStringLiteral("alice"));
    EXPECT_EQ(list.ItemByPID(70)->Domain, QStringLiteral("host"));
}

TEST_F(ProcessListCycle, EndedProcessIsRemovedOnceWhileStillFindable)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    int removals = 0;
    bool foundInHandler = false;
    list.OnProcessRemoved = [&](QObject *sender, quint32 pid) {
        ++removals;
        EXPECT_EQ(sender, &list);
        foundInHandler = list.ItemByPID(pid) != nullptr;
    };
    src.procs.erase(50);
    ASSERT_TRUE(list.Refresh());
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(removals, 1);
    EXPECT_TRUE(foundInHandler);
    EXPECT_EQ(list.ItemByPID(50), nullptr);
}

TEST_F(ProcessListCycle, ReusedIdentifierIsRemovedThenAddedAgain)
{
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    ASSERT_TRUE(list.Refresh());
    src.procs[50].startTime = 999;
    src.procs[50].name = QStringLiteral("other");
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.removed, std::vector<quint32>{50});
    EXPECT_EQ(rec.added, std::vector<quint32>{50});
    EXPECT_EQ(list.ItemByPID(50)->Name, QStringLiteral("other"));
}

TEST_F(ProcessListCycle, UnopenableProcessIsNotRemovedAndAddedEveryPass)
{
    // A process whose details cannot be read stays listed: liveness comes from the
    // enumeration, not from what could be opened.
    src.procs[50].exe.reset();
    src.procs[50].cmdline.reset();
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(rec.added.empty());
    EXPECT_TRUE(rec.removed.empty());
}

TEST_F(ProcessListCycle, RefreshFromAHandlerIsRefused)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    bool inner = true;
    list.OnProcessAdded = [&](QObject *, quint32) {
        inner = list.Refresh();
        list.Clear(); // refused too: the pass still walks its items
    };
    src.procs[70] = {QStringLiteral("x")};
    ASSERT_TRUE(list.Refresh());
    EXPECT_FALSE(inner);
    EXPECT_EQ(list.GetCount(), 5);
    EXPECT_FALSE(list.Busy);
    EXPECT_TRUE(list.Refresh());
}

TEST_F(ProcessListCycle, FallbackEnumerationAndDoubleFailure)
{
    src.primaryFails = true;
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(src.fallbackCalls, 1);
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.ItemByPID(50)->ParentProcessID, 1u);

    src.fallbackFails = true;
    EXPECT_FALSE(list.Refresh());
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_FALSE(list.Busy);

    src.primaryFails = src.fallbackFails = false;
    EXPECT_TRUE(list.Refresh());
}

TEST_F(ProcessListCycle, BothFailingOnTheFirstPassKeepsItFirst)
{
    src.primaryFails = src.fallbackFails = true;
    TProcesses list(nullptr, &src);
    EXPECT_FALSE(list.Refresh());
    EXPECT_TRUE(list.FirstPass);
    EXPECT_EQ(list.GetCount(), 0);
    src.primaryFails = src.fallbackFails = false;
    Recorder rec;
    rec.attach(list);
    EXPECT_TRUE(list.Refresh());
    EXPECT_TRUE(rec.added.empty());
}

TEST_F(ProcessListCycle, EndedProcessLeavesEvenWhenEnumerationFails)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    Recorder rec;
    rec.attach(list);
    src.primaryFails = src.fallbackFails = true;
    src.procs.erase(50);
    EXPECT_FALSE(list.Refresh());
    EXPECT_EQ(rec.removed, std::vector<quint32>{50});
}

TEST_F(ProcessListCycle, DeferredCompletionCounts)
{
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    ASSERT_TRUE(list.Refresh()); // pass 1 creates
    TProcessItem *first = list.ItemByPID(50);
    ASSERT_TRUE(list.Refresh()); // pass 2: counter 0 -> 1
    EXPECT_FALSE(first->DetailsComplete);
    ASSERT_TRUE(list.Refresh()); // pass 3: complete
    EXPECT_TRUE(first->DetailsComplete);
    EXPECT_TRUE(rec.reloaded.empty()); // nothing was missing

    // Created later with everything present: complete one pass later, silently.
    src.procs[70] = {QStringLiteral("late")};
    ASSERT_TRUE(list.Refresh());
    EXPECT_FALSE(list.ItemByPID(70)->DetailsComplete);
    ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(list.ItemByPID(70)->DetailsComplete);
    EXPECT_TRUE(rec.reloaded.empty());

    // A path that turns up on a retry fires one reload.
    src.procs[80] = {QStringLiteral("slow")};
    src.procs[80].exe.reset();
    ASSERT_TRUE(list.Refresh()); // created, counter 0
    ASSERT_TRUE(list.Refresh()); // counter 1
    ASSERT_TRUE(list.Refresh()); // retry 1 fails: counter 2
    src.procs[80].exe = QStringLiteral("/opt/slow");
    rec.clear();
    ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(list.ItemByPID(80)->DetailsComplete);
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{80});
    EXPECT_EQ(list.ItemByPID(80)->Path, QStringLiteral("/opt/slow"));
}

TEST_F(ProcessListCycle, ExhaustedItemReloadsEveryPassAndIsNoLongerRead)
{
    src.procs[50].exe.reset();
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    ASSERT_TRUE(list.Refresh()); // created
    ASSERT_TRUE(list.Refresh()); // counter 1
    for (int retry = 0; retry < 5; ++retry)
        ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->FillAttempts, 6u);
    EXPECT_TRUE(rec.reloaded.empty());
    const int reads = src.exeReads;
    ASSERT_TRUE(list.Refresh());
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, (std::vector<quint32>{50, 50}));
    EXPECT_EQ(src.exeReads, reads); // no more re-reading
    EXPECT_EQ(list.ItemByPID(50)->FillAttempts, 6u);
}

TEST_F(ProcessListCycle, KernelThreadsAreNeverCompletedButDoLeave)
{
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(list.Refresh());
    TProcessItem *k = list.ItemByPID(60);
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(k->IsSystemProcess());
    EXPECT_TRUE(k->Path.isEmpty());
    EXPECT_EQ(k->IconIndex, -1);
    EXPECT_EQ(k->FillAttempts, 0u);
    EXPECT_TRUE(rec.reloaded.empty());
    src.procs.erase(60);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.removed, std::vector<quint32>{60});
    ASSERT_NE(list.ItemByPID(0), nullptr); // the idle process never leaves
}

TEST_F(ProcessListCycle, UserNameFallsBackToTheNumberNotToAnInventedName)
{
    src.procs[50].uid = 4242;
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->UserName, QStringLiteral("4242"));
}

TEST_F(ProcessListCycle, CpuUseIsComputedClampedAndNeverWraps)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->CPUUsage, 0); // the creating pass
    // 2 CPUs, 1 s: 100 ticks of 10 ms is one CPU busy = 50 %.
    src.tick(1000);
    src.procs[50].ticks += 100;
    src.idle += 10000000ull; // half of 2 CPU-seconds idle
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->CPUUsage, 50);
    EXPECT_EQ(list.ItemByPID(0)->CPUUsage, 50);
    // 3 CPU-seconds in 1 s on 2 CPUs is 150 %: shown as 100, not 49.
    src.tick(1000);
    src.procs[50].ticks += 300;
    src.idle += 30000000ull;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->CPUUsage, 100);
    EXPECT_EQ(list.ItemByPID(0)->CPUUsage, 99);
    // A counter that went backwards gives 0, not a large number.
    src.tick(1000);
    src.procs[50].ticks -= 50;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->CPUUsage, 0);
    EXPECT_EQ(list.ItemByPID(0)->CPUUsage, 0);
    // Halves go to the even neighbour: 0.5 % is 0, 1.5 % is 2.
    src.tick(1000);
    src.procs[50].ticks += 1; // 10 ms of 2000 ms
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->CPUUsage, 0);
    src.tick(1000);
    src.procs[50].ticks += 3;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50)->CPUUsage, 2);
}

TEST_F(ProcessListCycle, IndexesOutOfRangeGiveNothing)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.GetItem(-1), nullptr);
    EXPECT_EQ(list.GetItem(list.GetCount()), nullptr);
    EXPECT_NE(list.GetItem(list.GetCount() - 1), nullptr);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.ItemByPID(1), nullptr);
}

TEST_F(ProcessListCycle, ProcessorCountIsNeverZero)
{
    src.cpus = 0;
    TProcesses list(nullptr, &src);
    EXPECT_EQ(list.ProcessorCount, 1u);
    EXPECT_EQ(TProcessHelper::GetProcessorCount(src), 1u);
    src.cpus = 1;
    EXPECT_EQ(TProcessHelper::GetProcessorCount(src), 1u);
}

TEST_F(ProcessListCycle, AffinityIndexAtTheProcessorCountIsRefusedWithoutAsking)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    EXPECT_FALSE(list.ItemByPID(50)->GetAffinity(src.cpus));
}

TEST_F(ProcessListCycle, MemoryDeltasAreZeroInTheFirstPassAndSixtyFourBit)
{
    struct MemSource : FakeSource
    {
        platform::processes::MemoryStatus m;
        std::optional<platform::processes::MemoryStatus> memory(const ProcessHandle &) override
        {
            return m;
        }
    } msrc;
    msrc.procs = src.procs;
    msrc.m.vmRss = 6ull << 30; // beyond 32 bits
    TProcesses list(nullptr, &msrc);
    // Items only exist after a pass; read during the first pass through a handler-free
    // path: the list is still in its first pass until Refresh returns.
    ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(50);
    list.FirstPass = true;
    item->Memory->Refresh();
    EXPECT_EQ(item->Memory->WorkingSetDelta, 0);
    EXPECT_EQ(item->Memory->WorkingSetSize, 6ull << 30);
    list.FirstPass = false;
    msrc.m.vmRss = 1ull << 30;
    item->Memory->Refresh();
    EXPECT_EQ(item->Memory->WorkingSetDelta, -(5ll << 30));
}
