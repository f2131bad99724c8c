// A process whose reads wait (its command line and memory map, whatever goes through its program
// file: a process that holds its own memory-map lock, or runs from a file system that does not
// answer, keeps them waiting) holds neither the window nor the other rows.

#include "Fixture.h"

#include "common/Pinger.h"
#include "sysinfo/ProcessHelper.h"
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
