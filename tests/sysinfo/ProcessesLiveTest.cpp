#include <gtest/gtest.h>

#include "Children.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "platform/processes/CommandLine.h"
#include "sysinfo/Processes.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <pwd.h>
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
    EXPECT_GE(item->Times->StartTime.WYear, 2000);
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
        if (platform::processes::ReadStat(child.pid(), st) && st.IsZombie())
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
    Child busy({QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
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
    Child child({QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("read x < \"$0\"; echo \"done\""),
                 fifo, QStringLiteral("")});
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

namespace {

struct Reloads
{
    std::vector<quint32> pids;
    void attach(TProcesses &list)
    {
        list.OnProcessReloaded = [this](QObject *, quint32 pid) { pids.push_back(pid); };
    }
    int count(pid_t pid) const { return int(std::count(pids.begin(), pids.end(), quint32(pid))); }
};

template <typename Pred>
bool waitUntil(Pred pred)
{
    for (int i = 0; i < 500; ++i) {
        if (pred())
            return true;
        QThread::msleep(10);
    }
    return pred();
}

QStringList argsOf(pid_t pid)
{
    return platform::processes::ReadCmdline(pid).value_or(QStringList());
}

} // namespace

TEST(LiveProcessList, NewProgramInAProcessIsShownOnce)
{
    tvtest::TempDir tmp;
    tvtest::Gate gate(tmp.file(QStringLiteral("gate")));
    ASSERT_TRUE(gate.isValid());
    const QString sleepPath = QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath();
    TProcesses list;
    Reloads reloads;
    reloads.attach(list);
    ASSERT_TRUE(list.Refresh());
    Child child({QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("read x < \"$0\"; exec /bin/sleep 30"),
                 gate.path()});
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(waitUntil([&] { return argsOf(child.pid()).size() == 4; }));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(quint32(child.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Name, QStringLiteral("sh"));
    const QString shellPath = item->Path;
    EXPECT_FALSE(shellPath.isEmpty());
    EXPECT_EQ(reloads.count(child.pid()), 0);

    ASSERT_TRUE(gate.open());
    ASSERT_TRUE(waitUntil([&] { return argsOf(child.pid()) == QStringList{"/bin/sleep", "30"}; }));
    ASSERT_TRUE(list.Refresh());
    ASSERT_EQ(list.ItemByPID(quint32(child.pid())), item) << "the same process keeps its item";
    EXPECT_EQ(reloads.count(child.pid()), 1);
    EXPECT_EQ(item->Name, QStringLiteral("sleep"));
    EXPECT_EQ(item->Path, sleepPath);
    EXPECT_EQ(item->CommandLine, QStringLiteral("/bin/sleep 30"));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(reloads.count(child.pid()), 1) << "noticed once";
    EXPECT_TRUE(item->DetailsComplete);
}

TEST(LiveProcessList, UserChangeIsShownOnce)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing a child's user needs root";
    const auto nobody = platform::processes::AccountName(65534);
    TProcesses list;
    Reloads reloads;
    reloads.attach(list);
    ASSERT_TRUE(list.Refresh());
    tvtest::Forked child({[] { (void)::setresuid(65534, 65534, 65534); }});
    ASSERT_GT(child.pid(), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(quint32(child.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->UserSid, 0u);
    EXPECT_EQ(item->UserName, QStringLiteral("root"));

    ASSERT_TRUE(child.step());
    ASSERT_TRUE(waitUntil([&] { return platform::processes::ReadEffectiveUid(child.pid()) == 65534u; }));
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(reloads.count(child.pid()), 1);
    EXPECT_EQ(item->UserSid, 65534u);
    EXPECT_EQ(item->UserName, nobody.value_or(QStringLiteral("65534")));
    ASSERT_TRUE(list.Refresh());
    EXPECT_EQ(reloads.count(child.pid()), 1);
}

TEST(LiveProcessList, OddFileNamesAreShownAndDeletedAsTheyAre)
{
    tvtest::TempDir tmp;
    const QString windowsLike = tmp.file(QStringLiteral("x\\??\\y"));
    const QString longName = tmp.file(QStringLiteral("abcdefghijklmn中文 prog"));
    for (const auto &[from, to] :
         {std::pair{QStringLiteral("/bin/sh"), windowsLike}, std::pair{QStringLiteral("/bin/sleep"), longName}}) {
        ASSERT_TRUE(QFile::copy(from, to));
        ASSERT_TRUE(QFile::setPermissions(to, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    }
    tvtest::Gate gate(tmp.file(QStringLiteral("gate")));
    ASSERT_TRUE(gate.isValid());
    TProcesses list;
    ASSERT_TRUE(list.Refresh());
    // A shell under that name that waits in a builtin, with an argument in a Windows form.
    const QStringList oddArgs{windowsLike, QStringLiteral("-c"), QStringLiteral("read x < \"$1\""),
                              QStringLiteral("\\??\\C:\\x"), gate.path()};
    Child odd(oddArgs);
    Child cut({longName, QStringLiteral("30")});
    ASSERT_GT(odd.pid(), 0);
    ASSERT_GT(cut.pid(), 0);
    ASSERT_TRUE(waitUntil([&] { return argsOf(odd.pid()) == oddArgs && argsOf(cut.pid()).size() == 2; }));
    ASSERT_TRUE(list.Refresh());

    TProcessItem *item = list.ItemByPID(quint32(odd.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Path, windowsLike);
    EXPECT_EQ(item->Name, QStringLiteral("x\\??\\y"));
    EXPECT_EQ(platform::processes::SplitCommandLine(item->CommandLine), oddArgs) << item->CommandLine.toStdString();
    TProcessItem *named = list.ItemByPID(quint32(cut.pid()));
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->Name, QStringLiteral("abcdefghijklmn中文 prog"));

    // Ending it and deleting its file reaches the file it really runs.
    EXPECT_TRUE(item->TerminateAndDelete());
    EXPECT_FALSE(QFile::exists(windowsLike));
    odd.reap();
    EXPECT_TRUE(QFile::exists(longName));
}

TEST(LiveProcessList, AlsoAsAnUnprivilegedUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "already unprivileged: the other tests ran as such";
    const passwd *nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    // This test program, copied where nobody reaches it: the build folder may be closed to it.
    const tvtest::OtherUserCopy self;
    if (!self.SkipReason().isEmpty())
        GTEST_SKIP() << self.SkipReason().toStdString();
    // Every test of the live list and of process identity but this one, as nobody. Their
    // output is kept back unless they fail, so that their own skips are not taken for this
    // test's.
    const tvtest::UserRun run = self.Run(uid, gid,
                                         {QStringLiteral("--gtest_filter=LiveProcessList.*:ReusedIdentifier.*:"
                                                         "-LiveProcessList.AlsoAsAnUnprivilegedUser")},
                                         QProcessEnvironment::systemEnvironment(), 120000);
    ASSERT_TRUE(run.finished) << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << "a test failed as an unprivileged user:\n" << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ]"))) << run.output.toStdString();
}
