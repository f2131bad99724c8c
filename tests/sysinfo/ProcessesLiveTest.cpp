#include <gtest/gtest.h>

#include "Children.h"
#include "common/TempDir.h"
#include "sysinfo/Processes.h"

#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

using tvtest::Child;

namespace {

struct Events
{
    std::vector<quint32> added, removed;
    void attach(TProcesses &list)
    {
        list.OnProcessAdded = [this](QObject *, quint32 pid) { added.push_back(pid); };
        list.OnProcessRemoved = [this](QObject *, quint32 pid) { removed.push_back(pid); };
    }
    int count(const std::vector<quint32> &v, pid_t pid) const
    {
        return int(std::count(v.begin(), v.end(), quint32(pid)));
    }
};

} // namespace

TEST(LiveProcessList, ChildAppearsAndLeavesExactlyOnce)
{
    TProcesses list;
    Events ev;
    ev.attach(list);
    ASSERT_TRUE(list.Refresh());
    EXPECT_TRUE(ev.added.empty());
    ASSERT_NE(list.ItemByPID(quint32(::getpid())), nullptr);

    Child child({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(ev.count(ev.added, child.pid()), 1);
    TProcessItem *item = list.ItemByPID(quint32(child.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->ParentProcessID, quint32(::getpid()));
    EXPECT_EQ(item->Name, QStringLiteral("sleep"));
    EXPECT_FALSE(item->UserName.isEmpty());
    EXPECT_FALSE(item->Domain.isEmpty());
    EXPECT_TRUE(item->Path.endsWith(QStringLiteral("/sleep")));
    EXPECT_TRUE(item->CommandLine.endsWith(QStringLiteral("sleep 30")));
    EXPECT_GE(item->IconIndex, 0);
    EXPECT_GE(item->GetThreadCount(), 1);
    EXPECT_GE(item->GetHandleCount(), 1);
    EXPECT_GE(item->GetModuleCount(), 1);
    EXPECT_NE(item->GetPriority(), 0u);
    item->Times->Refresh();
    EXPECT_GE(item->Times->StartTime.wYear, 2000);
    item->Memory->Refresh();
    EXPECT_GT(item->Memory->WorkingSetSize, 0u);

    child.kill(); // reaped: gone from /proc
    ASSERT_TRUE(list.Refresh());
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(ev.count(ev.removed, child.pid()), 1);
    EXPECT_EQ(list.ItemByPID(quint32(child.pid())), nullptr);
}

TEST(LiveProcessList, ZombieIsNeitherAddedNorRemovedEveryPass)
{
    TProcesses list;
    Events ev;
    ev.attach(list);
    ASSERT_TRUE(list.Refresh());
    Child child({QStringLiteral("/bin/true")});
    ASSERT_GT(child.pid(), 0);
    // Let it end without reaping it: it stays a zombie.
    for (int i = 0; i < 200; ++i) {
        platform::processes::ProcStat st;
        if (platform::processes::readStat(child.pid(), st) && st.isZombie())
            break;
        QThread::msleep(10);
    }
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(list.Refresh());
    EXPECT_LE(ev.count(ev.added, child.pid()), 1);
    EXPECT_EQ(ev.count(ev.added, child.pid()), ev.count(ev.removed, child.pid()));
    EXPECT_EQ(list.ItemByPID(quint32(child.pid())), nullptr);
    child.reap();
}

TEST(LiveProcessList, BusyChildUsesCpu)
{
    TProcesses list;
    Child busy({QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                QStringLiteral("while :; do :; done")});
    ASSERT_GT(busy.pid(), 0);
    ASSERT_TRUE(list.Refresh());
    QThread::msleep(600);
    ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(quint32(busy.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_GT(item->CPUUsage, 0);
    EXPECT_LE(item->CPUUsage, 100);
    TProcessItem *idle = list.ItemByPID(0);
    ASSERT_NE(idle, nullptr);
    EXPECT_LE(idle->CPUUsage, 99);
    item->Times->Refresh();
    EXPECT_GT(item->Times->UserTime + item->Times->KernelTime, 0);
}

TEST(LiveProcessList, CommandLineWithBlanksComesBackQuoted)
{
    // The shell blocks in a builtin on a FIFO, so no grandchild outlives the child.
    tvtest::TempDir tmp;
    const QString fifo = tmp.file(QStringLiteral("gate"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    TProcesses list;
    ASSERT_TRUE(list.Refresh());
    Child child({QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                 QStringLiteral("read x < \"$0\"; echo \"done\""), fifo, QStringLiteral("")});
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(quint32(child.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->CommandLine,
              QStringLiteral("/bin/sh -c \"read x < \\\"$0\\\"; echo \\\"done\\\"\" ") + fifo +
                  QStringLiteral(" \"\""));
}

TEST(LiveProcessList, KernelThreadsCarryNoPathAndRoot)
{
    TProcesses list;
    ASSERT_TRUE(list.Refresh());
    int seen = 0;
    for (int i = 0; i < list.GetCount(); ++i) {
        TProcessItem *item = list.GetItem(i);
        if (item->ProcessID == 0 || !item->IsSystemProcess())
            continue;
        ++seen;
        EXPECT_TRUE(item->Path.isEmpty());
        EXPECT_TRUE(item->CommandLine.isEmpty());
        EXPECT_EQ(item->IconIndex, -1);
        EXPECT_EQ(item->UserName, QStringLiteral("root"));
    }
    if (seen == 0)
        GTEST_SKIP() << "no kernel threads visible in this pid namespace";
}
