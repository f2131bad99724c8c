// A process whose reads wait (its command line and memory map, whatever goes through its program
// file: a process that holds its own memory-map lock, or runs from a file system that does not
// answer, keeps them waiting) holds neither the window nor the other rows.

#include "Fixture.h"

#include "common/Pinger.h"
#include "sysinfo/ProcessHelper.h"
#include "ui_process/OperationGate.h"
#include "ui/DisplayTexts.h"

#include <QApplication>

#include <atomic>
#include <thread>
#include <tuple>

using namespace ptest;

namespace {

QString Kb(quint64 bytes)
{
    QString t;
    ByteCountText(qint64(bytes), t);
    return t;
}

class WaitingProcess : public FormTest
{
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        program = dir.file(QStringLiteral("server"));
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
    }
    void TearDown() override
    {
        // Reads that still wait end before the table goes.
        source.releaseAll();
        FormTest::TearDown();
    }

    // A process of the table that runs the test's own file.
    FakeProc Proc(quint32 pid, const QString &name, quint64 rss, quint32 uid = 1000) const
    {
        FakeProc p;
        p.pid = pid;
        p.name = name;
        p.exe = program;
        p.args = QStringList{program, QStringLiteral("--serve")};
        p.uid = uid;
        p.mem.VmRss = rss;
        p.mem.RssAnon = rss / 2;
        return p;
    }

    // Makes and shows the window as the program does; false when it waited for the reads that
    // wait (the table lets them go after a long while, so that such a window ends up made).
    bool MadeWithoutWaiting()
    {
        std::atomic<bool> made{false}, gaveUp{false};
        std::thread watchdog([&] {
            QDeadlineTimer deadline(20000);
            while (!made && !deadline.hasExpired())
                QThread::msleep(10);
            if (!made) {
                gaveUp = true;
                source.releaseAll();
            }
        });
        form = std::make_unique<TFormMain>(nullptr, &source);
        made = true;
        watchdog.join();
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->show();
        return !gaveUp;
    }

    TProcessItem *Item(quint32 pid) const { return form->ProcessPage->objProcesses->ItemByPID(pid); }
    // The value of the details panel's line with that label; null when there is none.
    QString Line(const QString &Label) const
    {
        for (const QString &line : form->Details->redtDetails->toPlainText().split(QLatin1Char('\n')))
            if (line.startsWith(Label + QStringLiteral(": ")))
                return line.mid(Label.size() + 2);
        return QString();
    }

    tvtest::TempDir dir;
    QString program;
};

} // namespace

TEST_F(WaitingProcess, NeitherTheWindowNorTheOtherRowsWaitForItAndItIsReadOnceItAnswers)
{
    const quint32 busy = kNoSuchPid + 1, stuck = kNoSuchPid + 2, late = kNoSuchPid + 3;
    source.procs = {Proc(busy, QStringLiteral("busy"), 1 << 20), Proc(stuck, QStringLiteral("stuck"), 3 << 20)};
    source.block(stuck);
    source.block(late);
    ASSERT_TRUE(MadeWithoutWaiting()) << "the window waited for a process's reads";
    tvtest::Pinger pinger(form.get());

    // Tick after tick, each as soon as the last is in: the other process's counter moves every
    // time, and the one whose reads wait is there from the start; another one comes later.
    TProcesses *list = form->ProcessPage->objProcesses;
    const auto taken = list->OnRefreshed;
    quint64 rss = 1 << 20;
    int passes = 0, current = 0;
    list->OnRefreshed = [&](bool Listed) {
        taken(Listed);
        ++passes;
        current += (Row(busy) && Row(busy)->text(4) == Kb(rss)) ? 1 : 0;
    };
    ASSERT_TRUE(Settle());
    passes = current = 0;
    constexpr int kTicks = 8;
    for (int i = 0; i < kTicks; ++i) {
        {
            std::lock_guard g(source.lock);
            rss = quint64(i + 2) << 20;
            source.find(busy)->mem.VmRss = rss;
            if (i == 3)
                source.procs.push_back(Proc(late, QStringLiteral("late"), 5 << 20));
        }
        Tick();
    }
    EXPECT_LT(pinger.Stop().count(), 100) << "the window's thread was held";
    EXPECT_EQ(passes, kTicks) << "a pass on every tick";
    EXPECT_EQ(current, kTicks) << "the other row shows its current counter after every pass";

    // What can be read without waiting shows at once; the rest waits, asked once.
    for (const auto &[pid, name, memory] : {std::tuple{stuck, "stuck", 3 << 20}, std::tuple{late, "late", 5 << 20}}) {
        SCOPED_TRACE(name);
        ASSERT_NE(Row(pid), nullptr);
        EXPECT_EQ(Row(pid)->text(0), QLatin1String(name));
        EXPECT_EQ(Row(pid)->text(1), QString::number(pid));
        EXPECT_EQ(Row(pid)->text(2), QStringLiteral("user1000"));
        EXPECT_EQ(Row(pid)->text(4), Kb(quint64(memory)));
        EXPECT_EQ(Row(pid)->text(6), program);
        EXPECT_TRUE(Item(pid)->CommandLine.isEmpty());
        EXPECT_EQ(source.slowReadsOf(pid), 1) << "a read that waits is not asked again";
    }

    // Once they answer, the next pass completes both rows.
    source.release(stuck);
    source.release(late);
    int reloaded = 0;
    const auto reload = list->OnProcessReloaded;
    list->OnProcessReloaded = [&](QObject *S, quint32 Pid) {
        reload(S, Pid);
        reloaded += (Pid == stuck || Pid == late) ? 1 : 0;
    };
    for (int i = 0; i < 3 && reloaded < 2; ++i)
        Tick();
    EXPECT_EQ(reloaded, 2);
    for (const quint32 pid : {stuck, late}) {
        EXPECT_EQ(Item(pid)->CommandLine, program + QStringLiteral(" --serve")) << pid;
        EXPECT_GE(Item(pid)->IconIndex, 0) << pid;
        EXPECT_EQ(Row(pid)->data(0, kImageIndexRole).toInt(), Item(pid)->IconIndex) << pid;
    }
}

TEST_F(WaitingProcess, ManyThatWaitTakeNoMoreThanTheirShareOfTheReaders)
{
    constexpr int kStuck = 20;
    for (int i = 1; i <= kStuck; ++i) {
        source.procs.push_back(Proc(kNoSuchPid + quint32(i), QStringLiteral("stuck%1").arg(i), 1 << 20));
        source.block(kNoSuchPid + quint32(i));
    }
    ASSERT_TRUE(MadeWithoutWaiting());
    ASSERT_TRUE(Settle());
    // Another user's process is read in full while the first user's reads wait.
    const quint32 other = kNoSuchPid + 100;
    {
        std::lock_guard g(source.lock);
        source.procs.push_back(Proc(other, QStringLiteral("other"), 1 << 20, 2000));
    }
    Tick();
    ASSERT_NE(Item(other), nullptr);
    EXPECT_EQ(Item(other)->CommandLine, program + QStringLiteral(" --serve"));
    EXPECT_EQ(Row(other)->text(2), QStringLiteral("user2000"));
    Tick();
    const TProcessReaders &readers = form->ProcessPage->objProcesses->Readers();
    EXPECT_LE(readers.Threads(), TProcessReaders::kThreads);
    EXPECT_LT(source.waitingMost(), kStuck) << "not one waiting reader per process";
    EXPECT_LE(source.waitingMost(), TProcessReaders::kThreads - TProcessReaders::kPerLane)
        << "readers are left to the other users";
    for (int i = 1; i <= kStuck; ++i)
        EXPECT_LE(source.slowReadsOf(kNoSuchPid + quint32(i)), 1) << i;
}

TEST_F(WaitingProcess, DetailsAndCommandsOnItDoNotWaitAndACommandThatCannotReadFails)
{
    const quint32 stuck = kNoSuchPid + 1;
    source.procs = {Proc(stuck, QStringLiteral("stuck"), 2 << 20)};
    source.block(stuck);
    ASSERT_TRUE(MadeWithoutWaiting());
    ASSERT_TRUE(Settle());
    tvtest::Pinger pinger(form.get());

    // The panel shows what the list holds at once, and fills the rest when the reads answer.
    Select({stuck});
    form->ProcessPage->lvProcessesClick(List());
    QCoreApplication::processEvents();
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    EXPECT_EQ(Line(QStringLiteral("进程名")), QStringLiteral("stuck"));
    EXPECT_EQ(Line(QStringLiteral("进程 ID")), QString::number(stuck));
    EXPECT_EQ(Line(QStringLiteral("模块数")), QString());

    // Each command that must read the process first fails with its own text, and acts on nothing.
    struct Case
    {
        quint8 command;
        const char16_t *failure;
    } cases[] = {
        {0, u"结束进程操作失败！\r\r%1 [%2]"},     {2, u"删除进程文件操作失败！\r\r%1 [%2]"},
        {3, u"暂停进程运行操作失败！\r\r%1 [%2]"}, {5, u"设置优先级操作失败！\r\r%1 [%2]"},
        {7, u"定位文件操作失败！\r\r%1 [%2]"},     {8, u"查看属性操作失败！\r\r%1 [%2]"},
    };
    for (const Case &k : cases) {
        shown.clear();
        answers = {3};
        form->ProcessPage->ExecuteProcessCommand(k.command, int(IDLE_PRIORITY_CLASS));
        QCoreApplication::processEvents();
        ASSERT_EQ(shown.size(), 1u) << int(k.command);
        EXPECT_EQ(shown[0].Text, Shows(QString::fromUtf16(k.failure).arg(QStringLiteral("stuck")).arg(stuck)));
        EXPECT_EQ(shown[0].Title, QStringLiteral("失败"));
    }
    EXPECT_TRUE(located.isEmpty());
    EXPECT_TRUE(propertied.isEmpty());
    EXPECT_LT(pinger.Stop().count(), 100) << "the window's thread was held";

    source.release(stuck);
    QDeadlineTimer deadline(30000);
    while (Line(QStringLiteral("模块数")).isEmpty() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    EXPECT_EQ(Line(QStringLiteral("模块数")), QStringLiteral("0")) << "the panel is filled again";
    EXPECT_EQ(Line(QStringLiteral("进程名")), QStringLiteral("stuck"));

    // The window ends without waiting for a read that waits (the table lets it go after a long
    // while, so that a window that waits ends up gone).
    source.block(stuck);
    form->ProcessPage->lvProcessesClick(List());
    for (QDeadlineTimer until(10000); source.waitingNow() == 0 && !until.hasExpired();)
        QThread::msleep(5);
    ASSERT_GT(source.waitingNow(), 0);
    std::atomic<bool> gone{false}, gaveUp{false};
    std::thread watchdog([&] {
        QDeadlineTimer deadline(20000);
        while (!gone && !deadline.hasExpired())
            QThread::msleep(10);
        if (!gone) {
            gaveUp = true;
            source.releaseAll();
        }
    });
    form.reset();
    gone = true;
    watchdog.join();
    EXPECT_FALSE(gaveUp) << "the window's end waited for a read of the process";
}

// An operation whose own reads of the process do not answer (its stat file, its thread list)
// fails the command at once, and once given up it never acts, however late its reads answer.
TEST_F(WaitingProcess, AnOperationWhoseReadsDoNotAnswerFailsAtOnceAndNeverActsLater)
{
    Child &target = Spawn();
    Child &other = Spawn();
    source.procs = {target.proc(QStringLiteral("target")), other.proc(QStringLiteral("other"))};
    Create();
    form->ProcessPage->AnswerWait = 50;
    TProcesses *list = form->ProcessPage->objProcesses;
    const auto cpus = platform::processes::ReadAffinity(qint32(target.pid));
    ASSERT_TRUE(cpus.has_value());
    const auto schedBefore = platform::processes::ReadSchedInfo(qint32(target.pid));
    ASSERT_TRUE(schedBefore.has_value());
    tvtest::OperationGate &gate = tvtest::OperationGate::Get();
    // Once the gate opens, the operation's held reads go on (and must then do nothing). One that
    // the window gave up on before a reader took it up, as on a loaded machine, never comes: the
    // wait ends when the readers have been idle a while with nothing held.
    auto settle = [&](quint32 Pid, int Count) {
        QDeadlineTimer idleSince(QDeadlineTimer::Forever);
        for (QDeadlineTimer until(10000); !until.hasExpired();) {
            if (gate.WaitPassed(Pid, Count, 5))
                break;
            const bool idle = list->Readers().Running() == 0 && gate.WaitPassed(Pid, 0, 0);
            if (!idle)
                idleSince = QDeadlineTimer(QDeadlineTimer::Forever);
            else if (idleSince.isForever())
                idleSince = QDeadlineTimer(300);
            else if (idleSince.hasExpired())
                break;
        }
        for (QDeadlineTimer until(10000); list->Readers().Running() > 0 && !until.hasExpired();)
            QThread::msleep(5);
    };

    // What the process is left as: running (not stopped), at its priority, on its processors.
    auto unchanged = [&](const Child &C, bool Stopped) {
        QThread::msleep(100); // a signal sent late has been taken by then
        const auto sched = platform::processes::ReadSchedInfo(qint32(C.pid));
        const auto mask = platform::processes::ReadAffinity(qint32(C.pid));
        return C.running() && (C.state() == 'T') == Stopped && sched && sched->Nice == schedBefore->Nice &&
            sched->Policy == schedBefore->Policy && mask == cpus;
    };
    TProcessAffinityParam firstOff;
    firstOff.CPUIndex = 0;
    firstOff.Enabled = false;
    const bool canClear = cpus->size() >= 2 && (*cpus)[0] && (*cpus)[1];
    struct Case
    {
        quint8 command;
        int param;
        const char16_t *failure;
    } cases[] = {
        {0, 0, u"结束进程操作失败！\r\r%1 [%2]"},
        {1, 0, u"结束进程树操作失败！\r\r%1 [%2]"},
        {3, 0, u"暂停进程运行操作失败！\r\r%1 [%2]"},
        {4, 0, u"恢复进程运行操作失败！\r\r%1 [%2]"},
        {5, int(IDLE_PRIORITY_CLASS), u"设置优先级操作失败！\r\r%1 [%2]"},
        {6, 0, u"设置 CPU 分配操作失败！\r\r%1 [%2]"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(int(k.command));
        if (k.command == 6 && !canClear)
            continue;
        // Resuming is seen on a process stopped before.
        const bool stopped = k.command == 4;
        if (stopped) {
            TProcessHelper::Suspend(target.pid);
            ASSERT_TRUE(target.waitState('T'));
        }
        Select({target.pid});
        shown.clear();
        answers = {3};
        const int passed = gate.Passed(target.pid);
        gate.Shut(target.pid);
        tvtest::Pinger pinger(form.get());
        if (k.command == 6)
            form->ProcessPage->ExecuteProcessCommand(k.command, &firstOff);
        else
            form->ProcessPage->ExecuteProcessCommand(k.command, k.param);
        EXPECT_LT(pinger.Stop().count(), 100) << "the window's thread was held";
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().Text,
                  Shows(QString::fromUtf16(k.failure).arg(QStringLiteral("target")).arg(target.pid)));
        EXPECT_EQ(shown.back().Title, QStringLiteral("失败"));
        // Its reads answer now: the operation, given up, does nothing.
        gate.Open();
        settle(target.pid, passed + 1);
        EXPECT_TRUE(unchanged(target, stopped)) << "acted after it was reported as failed";
        if (stopped) {
            TProcessHelper::Resume(target.pid);
            ASSERT_TRUE(target.waitState('S'));
        }
    }

    // Several rows: given up together, a short while after they were asked, and none acts later.
    Select({target.pid, other.pid});
    shown.clear();
    answers = {3};
    const int passedTarget = gate.Passed(target.pid), passedOther = gate.Passed(other.pid);
    gate.Shut(target.pid);
    gate.Shut(other.pid);
    {
        tvtest::Pinger pinger(form.get());
        form->ProcessPage->ExecuteProcessCommand(0);
        EXPECT_LT(pinger.Stop().count(), 100) << "the window's thread was held";
    }
    EXPECT_EQ(shown.size(), 1u) << "one warning, no report";
    gate.Open();
    settle(target.pid, passedTarget + 1);
    settle(other.pid, passedOther + 1);
    EXPECT_FALSE(target.waitEnded(300));
    EXPECT_TRUE(other.running());
    EXPECT_FALSE(gate.GaveUp()) << "the window waited for an operation's read";
}

// The priority and processor submenus mark what a read answers in time, and open without marks
// for a process that does not answer.
TEST_F(WaitingProcess, SubmenusOfAProcessThatDoesNotAnswerOpenAtOnceWithoutMarks)
{
    const quint32 pid = kNoSuchPid + 1;
    FakeProc p = Proc(pid, QStringLiteral("slow"), 2 << 20);
    p.sched = SchedInfo{0, 10};
    p.affinity = std::vector<bool>{true, false, true, true};
    source.procs = {p};
    source.cpus = 4;
    Create();
    form->ProcessPage->AnswerWait = 50;
    TProcessPage &page = *form->ProcessPage;
    Select({pid});
    auto marks = [&](QMenu *Menu) {
        QList<bool> out;
        for (QAction *a : Menu->actions())
            out << a->isChecked();
        return out;
    };
    const QList<bool> priorityMarks = {false, false, false, false, true, false};
    const QList<bool> affinityMarks = {true, false, true, true};

    struct Case
    {
        QMenu *menu;
        void (TProcessPage::*open)(QObject *);
        QList<bool> answered;
    } cases[] = {
        {page.mniProcess_Priority, &TProcessPage::mniProcess_PriorityClick, priorityMarks},
        {page.mniProcess_Affinity, &TProcessPage::mniProcess_AffinityClick, affinityMarks},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.menu->objectName().toStdString());
        source.release(pid);
        (page.*k.open)(k.menu);
        EXPECT_EQ(marks(k.menu), k.answered);

        // The table lets the read go after a long while, so that a window that waits goes on.
        source.block(pid);
        std::atomic<bool> opened{false}, gaveUp{false};
        std::thread watchdog([&] {
            for (QDeadlineTimer deadline(3000); !opened && !deadline.hasExpired();)
                QThread::msleep(5);
            if (!opened) {
                gaveUp = true;
                source.release(pid);
            }
        });
        tvtest::Pinger pinger(form.get());
        (page.*k.open)(k.menu);
        opened = true;
        watchdog.join();
        EXPECT_LT(pinger.Stop().count(), 100) << "the window's thread was held";
        EXPECT_FALSE(gaveUp) << "the submenu waited for the process";
        EXPECT_EQ(marks(k.menu), QList<bool>(k.answered.size(), false));
    }
    source.releaseAll();
}
