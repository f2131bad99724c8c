#include <gtest/gtest.h>

#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"

#include <cstring>
#include <map>

using platform::processes::ProcessEntry;
using platform::processes::ProcessHandle;
using platform::processes::ProcStat;

namespace {

struct FakeProcess
{
    QString name;
    quint64 startTime = 100;
    quint32 parentPid = 1;
    quint32 uid = 1000;
    quint64 ticks = 0;
    std::optional<QString> exe = QStringLiteral("/opt/fake/prog");
    std::optional<QStringList> cmdline = QStringList{QStringLiteral("prog")};
    bool kernel = false;
    QByteArray raw = {}; // the name's bytes as the stat file gives them, in place of `name`
    platform::processes::ImageLayout layout = {};
    std::optional<quint32> owner = {}; // of /proc/PID
    quint64 inode = 0;                 // of its pidfd
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
    int uidReads = 0;
    int accountReads = 0;
    std::map<quint32, quint64> procInodes; // of /proc/PID, by identifier
    quint64 now = 1000000000;              // 100 ns units
    quint64 idle = 0;
    unsigned cpus = 2;

    bool EnumeratePrimary(std::vector<ProcessEntry> &out) override
    {
        ++primaryCalls;
        return !primaryFails && list(out);
    }
    bool EnumerateFallback(std::vector<ProcessEntry> &out) override
    {
        ++fallbackCalls;
        // The status files give the exact user.
        return !fallbackFails && list(out, true);
    }
    std::optional<ProcessHandle> Open(quint32 pid, quint64 startTime) override
    {
        const auto it = procs.find(pid);
        ProcessHandle h{qint32(pid), startTime, true};
        h.Inode = it == procs.end() ? 0 : it->second.inode;
        return h;
    }
    bool IsAlive(const ProcessHandle &h) override
    {
        const auto it = procs.find(quint32(h.Pid));
        return it != procs.end() && it->second.startTime == h.StartTime &&
            (h.Inode == 0 || it->second.inode == h.Inode);
    }
    std::optional<ProcStat> Stat(const ProcessHandle &h) override
    {
        const auto it = procs.find(quint32(h.Pid));
        if (it == procs.end())
            return std::nullopt;
        ProcStat st;
        st.Pid = h.Pid;
        st.ParentPid = qint32(it->second.parentPid);
        st.Utime = it->second.ticks;
        st.StartTime = it->second.startTime;
        st.NumThreads = 3;
        return st;
    }
    std::optional<quint32> Uid(const ProcessHandle &h) override
    {
        ++uidReads;
        const auto it = procs.find(quint32(h.Pid));
        return it == procs.end() ? std::nullopt : std::optional<quint32>(it->second.uid);
    }
    std::optional<QString> AccountName(quint32 uid) override
    {
        ++accountReads;
        if (uid == 0)
            return QStringLiteral("root");
        if (uid == 1000)
            return QStringLiteral("alice");
        return std::nullopt;
    }
    QString DomainName() override { return QStringLiteral("host"); }
    std::optional<QString> ExePath(const ProcessHandle &h) override
    {
        ++exeReads;
        const auto it = procs.find(quint32(h.Pid));
        return it == procs.end() ? std::nullopt : it->second.exe;
    }
    std::optional<QStringList> Cmdline(const ProcessHandle &h, bool *raw) override
    {
        if (raw)
            *raw = false;
        const auto it = procs.find(quint32(h.Pid));
        return it == procs.end() ? std::nullopt : it->second.cmdline;
    }
    unsigned ProcessorCount() override { return cpus; }
    std::optional<quint64> IdleTime() override { return idle; }
    quint64 MonotonicNow() override { return now; }
    long ClockTicksPerSecond() override { return 100; }

    void tick(quint64 ms) { now += ms * 10000; }

private:
    bool list(std::vector<ProcessEntry> &out, bool exactUser = false)
    {
        for (const auto &[pid, p] : procs) {
            ProcessEntry e;
            e.Pid = pid;
            e.ParentPid = p.parentPid;
            e.Name = p.name;
            if (!p.raw.isEmpty()) {
                e.Name.clear();
                e.RawName.Size = std::size_t(p.raw.size());
                std::memcpy(e.RawName.Text, p.raw.constData(), e.RawName.Size);
            }
            e.Layout = p.layout;
            e.OwnerUid = p.owner;
            e.ProcInode = procInodes.count(pid) ? procInodes[pid] : 0;
            if (exactUser)
                e.Uid = p.uid;
            e.StartTime = p.startTime;
            e.KernelThread = p.kernel;
            e.HasTimes = true;
            e.CpuTicks = p.ticks;
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
        std::optional<platform::processes::MemoryStatus> Memory(const ProcessHandle &) override { return m; }
        std::optional<platform::processes::ResidentMemory> Resident(const ProcessHandle &, quint64 &) override
        {
            return platform::processes::ResidentMemory{m.VmRss, m.VmRss - m.RssAnon};
        }
    } msrc;
    msrc.procs = src.procs;
    msrc.m.VmRss = 6ull << 30; // beyond 32 bits
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
    msrc.m.VmRss = 1ull << 30;
    item->Memory->Refresh();
    EXPECT_EQ(item->Memory->WorkingSetDelta, -(5ll << 30));
}

namespace {

platform::processes::ImageLayout Layout(quint64 stack)
{
    return {0x400000, 0x401000, stack, 0x600000};
}

// Passes until every item is complete, events cleared.
void Settle(TProcesses &list, Recorder &rec)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list.Refresh());
    rec.clear();
}

} // namespace

TEST_F(ProcessListCycle, NewProgramInTheSameProcessIsReadAgainOnce)
{
    FakeProcess &p = src.procs[50];
    p.layout = Layout(0x7ff000);
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    Settle(list, rec);
    TProcessItem *item = list.ItemByPID(50);
    ASSERT_TRUE(item->DetailsComplete);

    // A new program: new name, new layout, same identifier and start time.
    p.name = QStringLiteral("prog");
    p.layout = Layout(0x7fe000);
    p.exe = QStringLiteral("/opt/new/prog");
    p.cmdline = QStringList{QStringLiteral("/opt/new/prog"), QStringLiteral("arg")};
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
    EXPECT_TRUE(rec.removed.empty());
    EXPECT_TRUE(rec.added.empty());
    ASSERT_EQ(list.ItemByPID(50), item) << "the same process keeps its item";
    EXPECT_EQ(item->Name, QStringLiteral("prog"));
    EXPECT_EQ(item->Path, QStringLiteral("/opt/new/prog"));
    EXPECT_EQ(item->CommandLine, QStringLiteral("/opt/new/prog arg"));
    rec.clear();
    ASSERT_TRUE(list.Refresh());
    ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(rec.reloaded.empty()) << "noticed once, not on every pass";

    // The same name running again (a shell starting a shell): only the layout tells.
    p.layout = Layout(0x7fd000);
    p.cmdline = QStringList{QStringLiteral("prog"), QStringLiteral("-x")};
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
    EXPECT_EQ(item->CommandLine, QStringLiteral("prog -x"));
    rec.clear();

    // A rename with the layout unchanged reads no files again.
    const int exeReads = src.exeReads;
    p.name = QStringLiteral("renamed");
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
    EXPECT_EQ(item->Name, QStringLiteral("renamed"));
    EXPECT_EQ(item->Path, QStringLiteral("/opt/new/prog"));
    EXPECT_EQ(src.exeReads, exeReads);
    rec.clear();

    // A new program whose file cannot be read shows no path rather than the old one, and
    // gets it on a later pass as a new item would.
    p.layout = {}; // hidden from this reader: a new name counts as a new program
    p.name = QStringLiteral("secret");
    p.exe.reset();
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
    EXPECT_TRUE(item->Path.isEmpty());
    EXPECT_FALSE(item->DetailsComplete);
    rec.clear();
    p.exe = QStringLiteral("/opt/secret");
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(item->Path, QStringLiteral("/opt/secret"));
    EXPECT_TRUE(item->DetailsComplete);
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
}

TEST_F(ProcessListCycle, ExhaustedItemStartsAgainAfterANewProgram)
{
    src.procs[50].exe.reset();
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(list.Refresh());
    ASSERT_EQ(list.ItemByPID(50)->FillAttempts, 6u);
    rec.clear();
    src.procs[50].name = QStringLiteral("next");
    src.procs[50].exe = QStringLiteral("/opt/next");
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50}) << "one event in the pass that noticed it";
    EXPECT_EQ(list.ItemByPID(50)->Path, QStringLiteral("/opt/next"));
    rec.clear();
    ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(list.ItemByPID(50)->DetailsComplete);
    ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(rec.reloaded.empty()) << "no longer exhausted";
}

TEST_F(ProcessListCycle, KernelThreadRenameChangesOnlyItsName)
{
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    Settle(list, rec);
    const int exeReads = src.exeReads, uidReads = src.uidReads;
    src.procs[60].name = QStringLiteral("kworker/0:1-events");
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{60});
    EXPECT_EQ(list.ItemByPID(60)->Name, QStringLiteral("kworker/0:1-events"));
    EXPECT_EQ(src.exeReads, exeReads);
    EXPECT_EQ(src.uidReads, uidReads);
    EXPECT_EQ(list.ItemByPID(60)->FillAttempts, 0u);
}

TEST_F(ProcessListCycle, UserChangeIsNoticedFromTheDirectoryOwner)
{
    FakeProcess &p = src.procs[50];
    p.owner = 1000;
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    Settle(list, rec);
    TProcessItem *item = list.ItemByPID(50);
    EXPECT_EQ(item->UserName, QStringLiteral("alice"));
    int reads = src.uidReads;
    ASSERT_TRUE(list.Refresh());
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(src.uidReads, reads) << "an unchanged owner costs no read";

    p.uid = 0;
    p.owner = 0;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
    EXPECT_EQ(item->UserName, QStringLiteral("root"));
    EXPECT_EQ(item->UserSid, 0u);
    EXPECT_EQ(src.uidReads, reads + 1);
    rec.clear();

    // An owner that disagrees with the exact user is read once, not on every pass.
    reads = src.uidReads;
    p.owner = 5;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(src.uidReads, reads + 1);
    EXPECT_TRUE(rec.reloaded.empty());
    EXPECT_EQ(item->UserName, QStringLiteral("root"));

    // The slower enumeration reads the exact user every pass: no further read is needed.
    src.primaryFails = true;
    reads = src.uidReads;
    p.uid = 1000;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{50});
    EXPECT_EQ(item->UserName, QStringLiteral("alice"));
    EXPECT_EQ(src.uidReads, reads);
}

TEST_F(ProcessListCycle, IdentifierTakenWithinTheSameTickIsANewProcess)
{
    FakeProcess &p = src.procs[50];
    p.inode = 111;
    p.layout = Layout(0x7ff000);
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    Settle(list, rec);
    ASSERT_EQ(list.ItemByPID(50)->ProcessHandle.Inode, 111u);

    // Same identifier, same start tick, another process.
    p.inode = 222;
    p.name = QStringLiteral("intruder");
    p.layout = Layout(0x7aa000);
    p.exe = QStringLiteral("/opt/intruder");
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.removed, std::vector<quint32>{50});
    EXPECT_EQ(rec.added, std::vector<quint32>{50});
    EXPECT_TRUE(rec.reloaded.empty());
    TProcessItem *item = list.ItemByPID(50);
    EXPECT_EQ(item->Name, QStringLiteral("intruder"));
    EXPECT_EQ(item->Path, QStringLiteral("/opt/intruder"));
    EXPECT_EQ(item->ProcessHandle.Inode, 222u);
}

TEST_F(ProcessListCycle, NameCutByTheKernelIsCompletedByBytes)
{
    const QString whole = QStringLiteral("abcdefghijklmn中文 prog");
    const QByteArray cut = whole.toUtf8().left(15); // ends inside 中
    auto proc = [&](std::optional<QString> exe, QStringList args) {
        FakeProcess p;
        p.raw = cut;
        p.exe = std::move(exe);
        p.cmdline = std::move(args);
        return p;
    };
    src.procs[71] = proc(QStringLiteral("/opt/x/") + whole, {QStringLiteral("x")});
    src.procs[72] = proc(std::nullopt, {QStringLiteral("/opt/y/") + whole, QStringLiteral("-v")});
    src.procs[73] = proc(QStringLiteral("/opt/z/other"), {QStringLiteral("other")});
    src.procs[74] = {QStringLiteral("python3")};
    src.procs[74].exe = QStringLiteral("/usr/bin/python3.11");
    src.procs[75] = {QStringLiteral("abcdefghijklmno")};
    src.procs[75].exe = QStringLiteral("/opt/abcdefghijklmnopq");
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(71)->Name, whole);
    EXPECT_EQ(list.ItemByPID(72)->Name, whole) << "from the first argument";
    EXPECT_EQ(list.ItemByPID(73)->Name, QStringLiteral("abcdefghijklmn"))
        << "the half character is left out, not shown as a mark";
    EXPECT_EQ(list.ItemByPID(74)->Name, QStringLiteral("python3")) << "not cut: kept";
    EXPECT_EQ(list.ItemByPID(75)->Name, QStringLiteral("abcdefghijklmnopq"));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(rec.reloaded.empty()) << "a completed name is no change of name";
}

TEST_F(ProcessListCycle, NewProcEntryAloneIsCheckedAgainstThePidFd)
{
    // Two copies of one parent, each before it runs a program of its own, look alike in
    // name, layout, user and start tick: the /proc entry tells that something happened.
    FakeProcess &p = src.procs[50];
    p.inode = 111;
    p.layout = Layout(0x7ff000);
    TProcesses list(nullptr, &src);
    Recorder rec;
    rec.attach(list);
    Settle(list, rec);
    TProcessItem *item = list.ItemByPID(50);

    // The kernel made the entry anew for the same process: nothing to tell the owner.
    src.procInodes[50] = 7000;
    ASSERT_TRUE(list.Refresh());
    src.procInodes[50] = 7001;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(50), item);
    EXPECT_TRUE(rec.removed.empty());
    EXPECT_TRUE(rec.reloaded.empty());

    // Another process with everything else alike.
    p.inode = 222;
    src.procInodes[50] = 7002;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.removed, std::vector<quint32>{50});
    EXPECT_EQ(rec.added, std::vector<quint32>{50});
    EXPECT_EQ(list.ItemByPID(50)->ProcessHandle.Inode, 222u);
    rec.clear();

    // Where pidfds have no inodes, a new entry is read again as a new program would be.
    src.procs[51] = {QStringLiteral("plain")};
    ASSERT_TRUE(list.Refresh());
    ASSERT_TRUE(list.Refresh());
    src.procInodes[51] = 9000;
    ASSERT_TRUE(list.Refresh());
    rec.clear();
    const int reads = src.exeReads;
    src.procInodes[51] = 9001;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(rec.reloaded, std::vector<quint32>{51});
    EXPECT_GT(src.exeReads, reads);
}

TEST_F(ProcessListCycle, AUserNameIsLookedUpOncePerPassHoweverManyNewProcessesShareIt)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    for (quint32 pid = 100; pid < 150; ++pid)
        src.procs[pid] = {QStringLiteral("worker")};
    src.accountReads = 0;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(src.accountReads, 1);
    EXPECT_EQ(list.ItemByPID(149)->UserName, QStringLiteral("alice"));
    // Not kept beyond the pass: an account renamed since is read anew.
    src.procs[150] = {QStringLiteral("worker")};
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(src.accountReads, 2);
    // Outside a pass every read asks.
    list.ItemByPID(150)->ReadUserName();
    list.ItemByPID(150)->ReadUserName();
    EXPECT_EQ(src.accountReads, 4);
}

TEST_F(ProcessListCycle, ANewProcessTakesItsUserFromTheDirectoryOwner)
{
    TProcesses list(nullptr, &src);
    ASSERT_TRUE(list.Refresh());
    src.procs[70] = {QStringLiteral("newcomer")};
    src.procs[70].owner = 0;
    src.procs[70].uid = 0;
    src.procs[80] = {QStringLiteral("unowned")}; // no owner to be had: the exact user is read
    const int reads = src.uidReads;
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(list.ItemByPID(70)->UserName, QStringLiteral("root"));
    EXPECT_EQ(list.ItemByPID(80)->UserName, QStringLiteral("alice"));
    EXPECT_EQ(src.uidReads, reads + 1);
}
