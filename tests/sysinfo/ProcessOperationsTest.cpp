#include <gtest/gtest.h>

#include <QCoreApplication>

#include "Children.h"
#include "common/TempDir.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/Spawn.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sched.h>
#include <unistd.h>

using platform::processes::ProcStat;
using platform::processes::ReadStat;
using tvtest::Child;

namespace {

char stateOf(pid_t pid)
{
    ProcStat st;
    return ReadStat(pid, st) ? st.State : '-';
}

// Waits until `pred` holds, for up to two seconds.
template <typename Pred>
bool waitFor(Pred pred)
{
    for (int i = 0; i < 200; ++i) {
        if (pred())
            return true;
        QThread::msleep(10);
    }
    return pred();
}

// The children of `pid`, from /proc.
std::vector<pid_t> childrenOf(pid_t pid)
{
    std::vector<pid_t> out;
    std::vector<platform::processes::ProcessEntry> all;
    platform::processes::EnumerateByStat(all);
    for (const auto &e : all) {
        if (e.ParentPid == quint32(pid))
            out.push_back(pid_t(e.Pid));
    }
    return out;
}

bool isRunning(pid_t pid)
{
    const char s = stateOf(pid);
    return s == 'R' || s == 'S' || s == 'D';
}

bool isStopped(pid_t pid)
{
    const char s = stateOf(pid);
    return s == 'T' || s == 't';
}

} // namespace

TEST(ProcessOperations, IdentifiersAreValidatedBeforeAnySystemCall)
{
    EXPECT_FALSE(TProcessHelper::Terminate(0));
    EXPECT_FALSE(TProcessHelper::Terminate(quint32(-1)));
    EXPECT_FALSE(TProcessHelper::Terminate(0x7FFFFFFFu));
    EXPECT_FALSE(TProcessHelper::TerminateTree(0));
    EXPECT_FALSE(TProcessHelper::TerminateAndDelete(0));
    EXPECT_FALSE(TProcessHelper::SetPriority(0, NORMAL_PRIORITY_CLASS));
    EXPECT_FALSE(TProcessHelper::SetAffinity(0, 0, true));
    // This program never ends or stops itself.
    EXPECT_FALSE(TProcessHelper::Terminate(quint32(::getpid())));
    EXPECT_FALSE(TProcessHelper::TerminateTree(quint32(::getpid())));
    TProcessHelper::Suspend(quint32(::getpid()));
    EXPECT_EQ(TProcessHelper::SuspendCount(quint32(::getpid())), 0);
}

TEST(ProcessOperations, TerminateChecksTheStartTime)
{
    Child child({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    ProcStat st;
    ASSERT_TRUE(ReadStat(child.pid(), st));
    EXPECT_FALSE(TProcessHelper::Terminate(quint32(child.pid()), st.StartTime + 1));
    EXPECT_TRUE(isRunning(child.pid()));
    EXPECT_TRUE(TProcessHelper::Terminate(quint32(child.pid()), st.StartTime));
    EXPECT_TRUE(WIFSIGNALED(child.reap()));
    EXPECT_FALSE(TProcessHelper::Terminate(quint32(child.pid()), st.StartTime));
}

TEST(ProcessOperations, TerminateTreeEndsChildrenButNotGrandchildren)
{
    tvtest::TempDir tmp;
    const QString pidFile = tmp.file(QStringLiteral("grandchild"));
    // parent sh -> child sh -> grandchild sleep; the child sh writes the grandchild's id. The
    // parent ends with its child's status when its wait returns.
    Child root({QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                QStringLiteral("/bin/sh -c 'sleep 30 & echo $! > \"$0\"; wait' \"$0\" & wait $!; exit $?"), pidFile});
    ASSERT_TRUE(waitFor([&] { return QFileInfo(pidFile).size() > 0; }));
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t grandchild = pid_t(f.readAll().trimmed().toInt());
    ASSERT_GT(grandchild, 0);
    const std::vector<pid_t> kids = childrenOf(root.pid());
    ASSERT_EQ(kids.size(), 1u);

    EXPECT_TRUE(TProcessHelper::TerminateTree(quint32(root.pid())));
    // The child goes first: the parent may see it killed and end before its own kill arrives.
    const int status = root.reap();
    const bool parentKilled = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    const bool childKilledSeen = WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL;
    EXPECT_TRUE(parentKilled || childKilledSeen) << "parent status " << status;
    // The child could only have ended by being killed: its wait is on the grandchild.
    EXPECT_TRUE(waitFor([&] { return stateOf(kids[0]) == '-' || stateOf(kids[0]) == 'Z'; }));
    // The grandchild lives on; end it here, since this test started it.
    EXPECT_TRUE(isRunning(grandchild));
    ProcStat st;
    ASSERT_TRUE(ReadStat(grandchild, st));
    EXPECT_TRUE(TProcessHelper::Terminate(quint32(grandchild), st.StartTime));
}

TEST(ProcessOperations, SuspendTwiceNeedsTwoResumes)
{
    Child child({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    const quint32 pid = quint32(child.pid());
    TProcessHelper::Suspend(pid);
    TProcessHelper::Suspend(pid);
    EXPECT_TRUE(waitFor([&] { return isStopped(child.pid()); }));
    EXPECT_EQ(TProcessHelper::SuspendCount(pid), 2);
    TProcessHelper::Resume(pid);
    QThread::msleep(50);
    EXPECT_TRUE(isStopped(child.pid()));
    TProcessHelper::Resume(pid);
    EXPECT_TRUE(waitFor([&] { return isRunning(child.pid()); }));
    EXPECT_EQ(TProcessHelper::SuspendCount(pid), 0);
}

TEST(ProcessOperations, PriorityRoundTripForEveryClassOnAllThreads)
{
    // This test program itself, started as a child that runs three sleeping threads.
    Child child({QCoreApplication::applicationFilePath(), QStringLiteral("--threaded-child"), QStringLiteral("3")});
    ASSERT_TRUE(waitFor([&] { return platform::processes::ReadThreadIds(child.pid()).size() >= 4; }));
    TProcesses list;
    ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(quint32(child.pid()));
    ASSERT_NE(item, nullptr);
    const struct
    {
        quint16 cls;
        int nice;
    } table[] = {{IDLE_PRIORITY_CLASS, 19},         {BELOW_NORMAL_PRIORITY_CLASS, 10}, {NORMAL_PRIORITY_CLASS, 0},
                 {ABOVE_NORMAL_PRIORITY_CLASS, -5}, {HIGH_PRIORITY_CLASS, -10},        {REALTIME_PRIORITY_CLASS, 0},
                 {NORMAL_PRIORITY_CLASS, 0}};
    for (const auto &row : table) {
        const bool ok = item->SetPriority(row.cls);
        if (!ok && row.cls != IDLE_PRIORITY_CLASS && row.cls != BELOW_NORMAL_PRIORITY_CLASS)
            GTEST_SKIP() << "raising priority is not permitted here";
        ASSERT_TRUE(ok) << row.cls;
        EXPECT_EQ(item->GetPriority(), row.cls);
        for (const qint32 tid : platform::processes::ReadThreadIds(child.pid())) {
            const auto s = platform::processes::ReadSchedInfo(tid);
            ASSERT_TRUE(s);
            if (row.cls == REALTIME_PRIORITY_CLASS) {
                EXPECT_EQ(s->Policy, SCHED_RR) << tid;
            } else {
                EXPECT_EQ(s->Policy, SCHED_OTHER) << tid;
                EXPECT_EQ(s->Nice, row.nice) << tid;
            }
        }
    }
    EXPECT_FALSE(item->SetPriority(0x1234));
}

TEST(ProcessOperations, AffinityOnAndOffAndTheLastCpuRefused)
{
    cpu_set_t own;
    CPU_ZERO(&own);
    ASSERT_EQ(::sched_getaffinity(0, sizeof own, &own), 0);
    const quint32 cpus = TProcessHelper::GetProcessorCount();
    std::vector<quint32> allowed;
    for (quint32 i = 0; i < cpus && i < CPU_SETSIZE; ++i) {
        if (CPU_ISSET(i, &own))
            allowed.push_back(i);
    }
    Child child({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    TProcesses list;
    ASSERT_TRUE(list.Refresh());
    TProcessItem *item = list.ItemByPID(quint32(child.pid()));
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->SetAffinity(cpus, true)); // not below the processor count
    if (allowed.size() < 2)
        GTEST_SKIP() << "only one processor may be used here";
    EXPECT_TRUE(item->SetAffinity(allowed[1], false));
    EXPECT_FALSE(item->GetAffinity(allowed[1]));
    EXPECT_TRUE(item->GetAffinity(allowed[0]));
    EXPECT_TRUE(item->SetAffinity(allowed[1], true));
    EXPECT_TRUE(item->GetAffinity(allowed[1]));
    // Switch off all but the first, then the first is refused and nothing changes.
    for (std::size_t i = 1; i < allowed.size(); ++i)
        ASSERT_TRUE(item->SetAffinity(allowed[i], false));
    EXPECT_FALSE(item->SetAffinity(allowed[0], false));
    EXPECT_TRUE(item->GetAffinity(allowed[0]));
}

TEST(ProcessOperations, TerminateAndDeleteEndsEveryCopyAndDeletesTheFile)
{
    tvtest::TempDir tmp;
    const QString copy = tmp.file(QStringLiteral("mysleep"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));
    Child a({copy, QStringLiteral("30")});
    Child b({copy, QStringLiteral("31")});
    Child other({QStringLiteral("/bin/sleep"), QStringLiteral("32")});
    ASSERT_TRUE(
        waitFor([&] { return QFileInfo(QStringLiteral("/proc/%1/exe").arg(b.pid())).symLinkTarget() == copy; }));
    EXPECT_TRUE(TProcessHelper::TerminateAndDelete(quint32(a.pid())));
    EXPECT_TRUE(WIFSIGNALED(a.reap()));
    EXPECT_TRUE(WIFSIGNALED(b.reap()));
    EXPECT_FALSE(QFileInfo::exists(copy));
    EXPECT_TRUE(isRunning(other.pid()));
}

TEST(ProcessOperations, TerminateAndDeleteRefusesSystemFilesBeforeEndingAnything)
{
    Child child({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    EXPECT_FALSE(TProcessHelper::TerminateAndDelete(quint32(child.pid())));
    EXPECT_FALSE(child.tryReap());
    EXPECT_TRUE(isRunning(child.pid()));
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/bin/sleep")));
}

TEST(ProcessOperations, CreateProcessPassesArgumentsIntactAndLeavesNoZombie)
{
    tvtest::TempDir tmp;
    const QString out = tmp.file(QStringLiteral("argv"));
    const QString cmd = QStringLiteral("sh -c 'printf \"%s|\" \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"' ") + out +
        QStringLiteral(" \"two words\" 'single $HOME' *");
    EXPECT_TRUE(TProcessHelper::CreateProcess(cmd));
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(out); }));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("two words|single $HOME|*|"));
    // Nothing of ours is left to reap.
    for (const pid_t p : childrenOf(::getpid()))
        EXPECT_NE(stateOf(p), 'Z') << p;

    EXPECT_FALSE(TProcessHelper::CreateProcess(QStringLiteral("no-such-program-here -x")));
    EXPECT_FALSE(TProcessHelper::CreateProcess(QStringLiteral("   ")));
    EXPECT_FALSE(TProcessHelper::CreateProcess(QStringLiteral("\"unterminated")));
    EXPECT_FALSE(TProcessHelper::CreateProcess(tmp.path())); // a directory
    TProcesses list;
    EXPECT_TRUE(list.CreateProcess(QStringLiteral("true")));
}
