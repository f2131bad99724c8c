#include "Fixture.h"

#include "platform/processes/ProcessActions.h"
#include "sysinfo/ProcessHelper.h"

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <sched.h>

using namespace ptest;

namespace {

const QString kJournal = QStringLiteral("/usr/lib/systemd/systemd-journald");

class ProcessCommands : public FormTest
{
protected:
    // A child of the test, listed under a name of the test's choosing (as run by `uid`).
    Child &Listed(const QString &name, const QString &exe = QStringLiteral("/usr/bin/sleep"), quint32 uid = 1000)
    {
        Child &c = Spawn();
        source.procs.push_back(c.proc(name, exe));
        source.procs.back().uid = uid;
        return c;
    }
    // A child of the test, listed with a start time that is not its own: every operation on it is
    // refused, and the row is selected in the shown form.
    Child &ListedStale(const QString &name)
    {
        Child &c = Spawn();
        FakeProc stale = c.proc(name);
        stale.startTime = c.startTime + 1;
        source.procs = {stale};
        Create();
        Select({c.pid});
        return c;
    }
    QString Text(const char16_t *format, const QString &name, quint32 pid) const
    {
        return Shows(QString::fromUtf16(format).arg(name).arg(pid));
    }
    QAction *AffinityItem(int index) const
    {
        const QList<QAction *> items = form->ProcessPage->mniProcess_Affinity->actions();
        return index < items.size() ? items[index] : nullptr;
    }
};

} // namespace

TEST_F(ProcessCommands, CriticalProcessIsRefusedButMayBeLocated)
{
    Child &c = Listed(QStringLiteral("journal"), kJournal, 0);
    Create();
    Select({c.pid});
    for (quint8 command : {0, 1, 2, 3, 4, 5}) {
        shown.clear();
        form->ProcessPage->ExecuteProcessCommand(command, 0x40);
        ASSERT_EQ(shown.size(), 1u) << int(command);
        EXPECT_EQ(shown[0].Text,
                  Text(u"这是关键系统进程，不允许执行该操作！\r\r%1 [%2]", QStringLiteral("journal"), c.pid));
        EXPECT_EQ(shown[0].Title, QStringLiteral("禁止"));
        EXPECT_EQ(shown[0].Icon, 4);
        EXPECT_EQ(shown[0].Buttons, 0);
    }
    EXPECT_TRUE(c.running());
    EXPECT_EQ(c.state(), 'S');

    shown.clear();
    form->ProcessPage->mniProcess_LocationClick(form->ProcessPage->mniProcess_Location);
    form->ProcessPage->mniProcess_PropertiesClick(form->ProcessPage->mniProcess_Properties);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(located, QStringList{kJournal});
    EXPECT_EQ(propertied, QStringList{kJournal});
}

TEST_F(ProcessCommands, CriticalSetIsByFullPathRunByTheSystem)
{
    tvtest::TempDir dir;
    FakeProc init; // process 1 here is never acted on: its start time is no real process's
    init.pid = 1;
    init.exe = dir.file(QStringLiteral("init-program"));
    init.uid = 0;
    source.procs = {init};
    Create();
    auto facts = [](const QString &Path, quint32 Uid, quint32 RealUid) {
        platform::processes::ImageFacts f;
        f.Uids = {RealUid, Uid};
        f.Path = Path;
        return std::optional(f);
    };
    const quint32 messagebus = 100;
    EXPECT_TRUE(form->ProcessPage->IsCriticalProcess(facts(init.exe, 0, 0)));
    for (const char *path :
         {"/usr/lib/systemd/systemd-journald", "/USR/LIB/SYSTEMD/SYSTEMD-LOGIND", "/usr/bin/dbus-daemon"})
        EXPECT_TRUE(form->ProcessPage->IsCriticalProcess(facts(QLatin1String(path), messagebus, messagebus))) << path;
    for (const char *path : {"/home/someone/systemd-journald", "/usr/lib/systemd/systemd-journald.bak", ""})
        EXPECT_FALSE(form->ProcessPage->IsCriticalProcess(facts(QLatin1String(path), 0, 0))) << path;
    // The same paths run by an ordinary user, really or effectively, or with nothing read.
    EXPECT_FALSE(form->ProcessPage->IsCriticalProcess(facts(QStringLiteral("/usr/bin/dbus-daemon"), 1000, 1000)));
    EXPECT_FALSE(form->ProcessPage->IsCriticalProcess(facts(QStringLiteral("/usr/bin/dbus-daemon"), 0, 1000)));
    EXPECT_FALSE(form->ProcessPage->IsCriticalProcess(facts(init.exe, 1000, 1000)));
    EXPECT_FALSE(form->ProcessPage->IsCriticalProcess(std::nullopt));
}

TEST_F(ProcessCommands, TerminateAsksAndActsOnlyOnYes)
{
    Child &c = Listed(QStringLiteral("victim"));
    Create();
    Select({c.pid});
    answers = {4};
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text,
              Text(u"结束进程可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。"
                   u"是否确定要执行该操作？\r\r结束进程：%1 [%2]",
                   QStringLiteral("victim"), c.pid));
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告"));
    EXPECT_EQ(shown[0].Icon, 3);
    EXPECT_EQ(shown[0].Buttons, 2);
    EXPECT_FALSE(c.waitEnded(200));

    answers = {3};
    form->ProcessPage->mniProcess_TerminateClick(form->ProcessPage->mniProcess_Terminate);
    EXPECT_TRUE(c.waitEnded());
    EXPECT_EQ(shown.size(), 2u) << "no failure report after success";
}

// The children are those the list holds under the process: each is ended, and the process too.
TEST_F(ProcessCommands, TerminateTreeEndsTheListedChildrenAndTheProcess)
{
    children.push_back(Child{});
    Child &shell = children.back();
    shell.process = std::make_unique<QProcess>();
    shell.process->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("sleep 60 & wait")});
    ASSERT_TRUE(shell.process->waitForStarted(5000));
    shell.pid = quint32(shell.process->processId());
    ProcStat st;
    ASSERT_TRUE(platform::processes::ReadStat(qint32(shell.pid), st));
    shell.startTime = st.StartTime;
    std::optional<ProcStat> sleeper;
    for (QDeadlineTimer until(5000); !sleeper && !until.hasExpired(); QThread::msleep(10)) {
        for (const ProcStat &p : platform::processes::ListProcesses())
            if (p.ParentPid == qint32(shell.pid) && p.Comm == QStringLiteral("sleep"))
                sleeper = p;
    }
    ASSERT_TRUE(sleeper.has_value());
    source.procs.push_back(shell.proc(QStringLiteral("shell"), QStringLiteral("/bin/sh")));
    FakeProc child;
    child.pid = quint32(sleeper->Pid);
    child.name = QStringLiteral("sleep");
    child.startTime = sleeper->StartTime;
    child.exe = QStringLiteral("/usr/bin/sleep");
    child.ppid = shell.pid;
    source.procs.push_back(child);
    Create();
    Select({shell.pid});
    answers = {3};
    form->ProcessPage->ExecuteProcessCommand(1);
    EXPECT_EQ(shown.size(), 1u) << "no failure report after success";
    EXPECT_TRUE(shell.waitEnded());
    QDeadlineTimer until(5000);
    ProcStat now;
    while (platform::processes::ReadStat(sleeper->Pid, now) && now.StartTime == sleeper->StartTime && !now.IsZombie() &&
           !until.hasExpired())
        QThread::msleep(10);
    EXPECT_TRUE(!platform::processes::ReadStat(sleeper->Pid, now) || now.StartTime != sleeper->StartTime ||
                now.IsZombie())
        << "the child lives on";
}

TEST_F(ProcessCommands, SuspendAsksFirstResumeDoesNot)
{
    Child &c = Listed(QStringLiteral("napper"));
    Create();
    Select({c.pid});
    answers = {3};
    form->ProcessPage->mniProcess_PauseClick(form->ProcessPage->mniProcess_Pause);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].Text.endsWith(QStringLiteral("\n\n暂停进程运行：napper [%1]").arg(c.pid)));
    EXPECT_TRUE(c.waitState('T'));

    form->ProcessPage->mniProcess_ResumeClick(form->ProcessPage->mniProcess_Resume);
    EXPECT_EQ(shown.size(), 1u) << "resume runs without a question";
    EXPECT_TRUE(c.waitState('S'));
}

TEST_F(ProcessCommands, SeveralRowsOneYesActsOnAllButCriticalAndSystem)
{
    Child &a = Listed(QStringLiteral("first"));
    Child &b = Listed(QStringLiteral("second"));
    Child &crit = Listed(QStringLiteral("journal"), kJournal, 0);
    FakeProc kernel;
    kernel.pid = kNoSuchPid + 1;
    kernel.name = QStringLiteral("kthread");
    kernel.kernel = true;
    source.procs.push_back(kernel);
    Create();
    Select({0, a.pid, b.pid, crit.pid, kernel.pid});

    answers = {4};
    form->ProcessPage->ExecuteProcessCommand(0);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text,
              QStringLiteral("当前有多个进程同时被选中。对多个进程同时执行操作属较危险行为，可能会导致程序或系统异常。"
                             "是否确认对当前选中的多个进程同时执行操作？"));
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告"));
    EXPECT_EQ(shown[0].Icon, 3);
    EXPECT_EQ(shown[0].Buttons, 2);
    EXPECT_TRUE(a.running() && b.running());

    answers = {3};
    form->ProcessPage->ExecuteProcessCommand(0);
    EXPECT_EQ(shown.size(), 2u) << "one warning, no further questions or reports";
    EXPECT_TRUE(a.waitEnded());
    EXPECT_TRUE(b.waitEnded());
    EXPECT_FALSE(crit.waitEnded(300)) << "the critical process is skipped";
}

TEST_F(ProcessCommands, FailuresAreReportedForSingleRows)
{
    Child &c = ListedStale(QStringLiteral("stale"));

    struct Case
    {
        quint8 command;
        const char16_t *failure;
    } cases[] = {
        {0, u"结束进程操作失败！\r\r%1 [%2]"},
        {1, u"结束进程树操作失败！\r\r%1 [%2]"},
        {2, u"删除进程文件操作失败！\r\r%1 [%2]"},
        {5, u"设置优先级操作失败！\r\r%1 [%2]"},
    };
    for (const Case &k : cases) {
        shown.clear();
        answers = {3};
        form->ProcessPage->ExecuteProcessCommand(k.command, int(IDLE_PRIORITY_CLASS));
        ASSERT_EQ(shown.size(), 2u) << int(k.command);
        EXPECT_EQ(shown[1].Text, Text(k.failure, QStringLiteral("stale"), c.pid));
        EXPECT_EQ(shown[1].Title, QStringLiteral("失败"));
        EXPECT_EQ(shown[1].Icon, 5);
        EXPECT_EQ(shown[1].Buttons, 0);
    }
    shown.clear();
    TProcessAffinityParam param;
    param.CPUIndex = 0;
    param.Enabled = true;
    form->ProcessPage->ExecuteProcessCommand(6, &param);
    ASSERT_EQ(shown.size(), 1u) << "affinity asks nothing, only reports";
    EXPECT_EQ(shown[0].Text, Text(u"设置 CPU 分配操作失败！\r\r%1 [%2]", QStringLiteral("stale"), c.pid));

    // Suspend and resume report nothing; a zero priority and no affinity do nothing at all.
    shown.clear();
    answers = {3};
    form->ProcessPage->ExecuteProcessCommand(3);
    form->ProcessPage->ExecuteProcessCommand(4);
    form->ProcessPage->ExecuteProcessCommand(5, 0);
    form->ProcessPage->ExecuteProcessCommand(6, static_cast<const TProcessAffinityParam *>(nullptr));
    form->ProcessPage->ExecuteProcessCommand(9);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(c.running());
    EXPECT_EQ(c.state(), 'S');
    const auto sched = platform::processes::ReadSchedInfo(qint32(c.pid));
    ASSERT_TRUE(sched.has_value());
    EXPECT_EQ(sched->Nice, 0);
}

TEST_F(ProcessCommands, PriorityMenuMarksTheClassAndSetsTheChosenOne)
{
    Child &c = Listed(QStringLiteral("niced"));
    source.procs.back().sched = SchedInfo{0, 10};
    Create();
    Select({c.pid});
    form->ProcessPage->mniProcess_PriorityClick(form->ProcessPage->mniProcess_Priority);
    EXPECT_TRUE(form->ProcessPage->mniProcess_Priority_BelowNormal->isChecked());
    EXPECT_FALSE(form->ProcessPage->mniProcess_Priority_Normal->isChecked());

    // A class that cannot be read marks nothing.
    source.find(c.pid)->sched.reset();
    form->ProcessPage->mniProcess_PriorityClick(form->ProcessPage->mniProcess_Priority);
    for (QAction *a : form->ProcessPage->mniProcess_Priority->actions())
        EXPECT_FALSE(a->isChecked()) << a->text().toStdString();

    // "低": asked, then set for real.
    answers = {3};
    form->ProcessPage->mniProcess_Priority_Low->trigger();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].Text.endsWith(QStringLiteral("\n\n改变进程优先级：niced [%1]").arg(c.pid)));
    auto sched = platform::processes::ReadSchedInfo(qint32(c.pid));
    ASSERT_TRUE(sched.has_value());
    EXPECT_EQ(TProcessHelper::PriorityClassOf(sched->Policy, sched->Nice), IDLE_PRIORITY_CLASS);

    // "实时": "否" leaves the class alone; "是" sets it or reports why not.
    answers = {4};
    form->ProcessPage->mniProcess_Priority_RealtimeClick(form->ProcessPage->mniProcess_Priority_Realtime);
    sched = platform::processes::ReadSchedInfo(qint32(c.pid));
    EXPECT_EQ(TProcessHelper::PriorityClassOf(sched->Policy, sched->Nice), IDLE_PRIORITY_CLASS);
    answers = {3};
    form->ProcessPage->mniProcess_Priority_RealtimeClick(form->ProcessPage->mniProcess_Priority_Realtime);
    sched = platform::processes::ReadSchedInfo(qint32(c.pid));
    const bool set = TProcessHelper::PriorityClassOf(sched->Policy, sched->Nice) == REALTIME_PRIORITY_CLASS;
    const bool reported = shown.size() == 4 && shown[3].Title == QStringLiteral("失败");
    EXPECT_TRUE(set != reported) << "either set or reported as failed";
}

TEST_F(ProcessCommands, AffinityMenuListsProcessorsMarksAndClearsABit)
{
    source.cpus = 1;
    Create();
    EXPECT_FALSE(form->ProcessPage->mniProcess_Affinity->menuAction()->isVisible()) << "hidden on one processor";
    form.reset();

    Child &c = Listed(QStringLiteral("pinned"));
    source.cpus = 4;
    source.procs.back().affinity = std::vector<bool>{true, false, true, true};
    Create();
    ASSERT_TRUE(form->ProcessPage->mniProcess_Affinity->menuAction()->isVisible());
    ASSERT_EQ(form->ProcessPage->mniProcess_Affinity->actions().size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(AffinityItem(i)->text(), QStringLiteral("CPU %1").arg(i + 1));
    Select({c.pid});
    form->ProcessPage->mniProcess_AffinityClick(form->ProcessPage->mniProcess_Affinity);
    EXPECT_TRUE(AffinityItem(0)->isChecked());
    EXPECT_FALSE(AffinityItem(1)->isChecked());
    EXPECT_TRUE(AffinityItem(2)->isChecked());

    const auto before = platform::processes::ReadAffinity(qint32(c.pid));
    ASSERT_TRUE(before.has_value());
    if (before->size() < 2 || !(*before)[0])
        GTEST_SKIP() << "the machine cannot clear the first processor's bit";
    // Choosing a marked item clears that bit, without a question.
    AffinityItem(0)->trigger();
    EXPECT_TRUE(shown.empty());
    const auto after = platform::processes::ReadAffinity(qint32(c.pid));
    ASSERT_TRUE(after.has_value());
    EXPECT_FALSE((*after)[0]);
    for (std::size_t i = 1; i < before->size(); ++i)
        EXPECT_EQ((*after)[i], (*before)[i]) << i;
}

TEST_F(ProcessCommands, SeveralRowsLocateAndStopShowingPropertiesAtAMissingFile)
{
    tvtest::TempDir dir;
    const QString one = dir.file(QStringLiteral("one")), three = dir.file(QStringLiteral("three"));
    for (const QString &f : {one, three}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    Child &a = Listed(QStringLiteral("one"), one);
    Child &b = Listed(QStringLiteral("two"), dir.file(QStringLiteral("gone")));
    Child &c = Listed(QStringLiteral("three"), three);
    Create();
    Select({a.pid, b.pid, c.pid});
    answers = {3};
    form->ProcessPage->ExecuteProcessCommand(7);
    EXPECT_EQ(located, (QStringList{one, three}));
    answers = {3};
    form->ProcessPage->ExecuteProcessCommand(8);
    EXPECT_EQ(propertied, QStringList{one});
    EXPECT_EQ(shown.size(), 2u);
    // Alone, a missing file is simply not shown.
    Select({b.pid});
    form->ProcessPage->ExecuteProcessCommand(7);
    form->ProcessPage->ExecuteProcessCommand(8);
    EXPECT_EQ(located.size(), 2);
    EXPECT_EQ(propertied.size(), 1);
}

TEST_F(ProcessCommands, NewProcessPanel)
{
    Create();
    const int tall = List()->height();
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isHidden());
    form->ProcessPage->btnNewProcessClick(form->ProcessPage->btnNewProcess);
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isVisible());
    EXPECT_EQ(List()->height(), tall - 70);
    EXPECT_EQ(form->Details->pnlDetails->height(), List()->height());
    // The instruction is a placeholder, never text that could be run.
    EXPECT_TRUE(form->ProcessPage->edtNewProcessPath->text().isEmpty());
    EXPECT_EQ(form->ProcessPage->edtNewProcessPath->placeholderText(), QStringLiteral("请填写需要创建的进程路径。"));
    form->ProcessPage->btnNewProcessOkClick(form->ProcessPage->btnNewProcessOk);
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isVisible());

    // Enter with blanks only does nothing.
    form->ProcessPage->edtNewProcessPath->setText(QStringLiteral("   "));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(form->ProcessPage->edtNewProcessPath, &enter);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isVisible());

    // The picker fills the edit.
    picked = QStringLiteral("/usr/bin/true");
    form->ProcessPage->btnNewProcessBrowseClick(form->ProcessPage->btnNewProcessBrowse);
    EXPECT_EQ(pickerTitles, QStringList{QStringLiteral("浏览")});
    EXPECT_EQ(form->ProcessPage->edtNewProcessPath->text(), picked);

    // A wrong path: reported, and the panel closes.
    form->ProcessPage->edtNewProcessPath->setText(QStringLiteral("/nonexistent/taskvane-no-such-program --flag"));
    QApplication::sendEvent(form->ProcessPage->edtNewProcessPath, &enter);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("进程创建失败！请核实目标路径后重试。或者点击“浏览...”按钮查找目标。"));
    EXPECT_EQ(shown[0].Title, QStringLiteral("失败"));
    EXPECT_EQ(shown[0].Icon, 5);
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isHidden());
    EXPECT_EQ(List()->height(), tall);

    // A program that exists starts without a word; cancel closes the panel.
    form->ProcessPage->btnNewProcessClick(form->ProcessPage->btnNewProcess);
    form->ProcessPage->edtNewProcessPath->setText(QStringLiteral("/usr/bin/true"));
    form->ProcessPage->btnNewProcessOkClick(form->ProcessPage->btnNewProcessOk);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isHidden());
    form->ProcessPage->btnNewProcessClick(form->ProcessPage->btnNewProcess);
    form->ProcessPage->btnNewProcessCancelClick(form->ProcessPage->btnNewProcessCancel);
    EXPECT_TRUE(form->ProcessPage->pnlNewProcess->isHidden());
}

TEST_F(ProcessCommands, EndToEndTerminateOnTheLiveList)
{
    Child &c = Spawn();
    Create(true);
    ASSERT_NE(Row(c.pid), nullptr) << "the child is listed";
    EXPECT_EQ(Row(c.pid)->text(0), QStringLiteral("sleep"));
    Select({c.pid});
    answers = {3};
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].Text.endsWith(QStringLiteral("结束进程：sleep [%1]").arg(c.pid)));
    ASSERT_TRUE(c.waitEnded());
    EXPECT_NE(Row(c.pid), nullptr) << "the row goes with the next tick, not before";
    Tick();
    EXPECT_EQ(Row(c.pid), nullptr);
}

TEST_F(ProcessCommands, LocationAndPropertiesThatNothingCanShowAreReported)
{
    Child &c = Listed(QStringLiteral("sleeper"), QStringLiteral("/usr/bin/sleep"));
    Create();
    Select({c.pid});
    // Neither a file manager nor a default program for folders answers.
    UiHooks().ShowInFileManager = [this](const QString &p) {
        located << p;
        return false;
    };
    UiHooks().ShowFileProperties = [this](const QString &p) {
        propertied << p;
        return false;
    };
    form->ProcessPage->mniProcess_LocationClick(form->ProcessPage->mniProcess_Location);
    form->ProcessPage->mniProcess_PropertiesClick(form->ProcessPage->mniProcess_Properties);
    EXPECT_EQ(located, QStringList{QStringLiteral("/usr/bin/sleep")});
    EXPECT_EQ(propertied, QStringList{QStringLiteral("/usr/bin/sleep")});
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].Text, Text(u"定位文件操作失败！\r\r%1 [%2]", QStringLiteral("sleeper"), c.pid));
    EXPECT_EQ(shown[1].Text, Text(u"查看属性操作失败！\r\r%1 [%2]", QStringLiteral("sleeper"), c.pid));
    for (const Shown &s : shown) {
        EXPECT_EQ(s.Title, QStringLiteral("失败"));
        EXPECT_EQ(s.Icon, 5);
        EXPECT_EQ(s.Buttons, 0);
    }
    EXPECT_TRUE(c.running());
}

TEST_F(ProcessCommands, DetailsPanelFollowsTheCommandsAndForgetsAnEndedProcess)
{
    Child &c = Spawn();
    Create(true);
    Select({c.pid});
    form->ProcessPage->lvProcessesClick(form->ProcessPage->lvProcesses);
    QTextEdit *details = form->Details->redtDetails;
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    ASSERT_TRUE(details->toPlainText().contains(QStringLiteral("进程 ID: %1").arg(c.pid)));

    // Suspended, the panel is filled again at once (the process is still there).
    answers = {3};
    details->setPlainText(QStringLiteral("stale"));
    form->ProcessPage->mniProcess_PauseClick(form->ProcessPage->mniProcess_Pause);
    EXPECT_TRUE(c.waitState('T'));
    EXPECT_TRUE(details->toPlainText().contains(QStringLiteral("进程 ID: %1").arg(c.pid)));
    form->ProcessPage->mniProcess_ResumeClick(form->ProcessPage->mniProcess_Resume);

    // Ended, its row goes with the next tick and the panel no longer describes it.
    answers = {3};
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_TRUE(c.waitEnded());
    Tick();
    EXPECT_EQ(Row(c.pid), nullptr);
    EXPECT_FALSE(details->toPlainText().contains(QString::number(c.pid))) << details->toPlainText().toStdString();
    EXPECT_EQ(details->toPlainText(), QStringLiteral("(请点击列表查看相关详细信息)"));
}

TEST_F(ProcessCommands, QuestionsAndReportsShowTheNameAsItIsOnOneLine)
{
    // A place holder and a line break in the name; the operation fails and is reported.
    Child &c = ListedStale(QStringLiteral("sshd [612]%1\n%2"));
    answers = {3};
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 2u);
    const QString shownName = QStringLiteral("sshd [612]%1\\n%2 [") + QString::number(c.pid) + QLatin1Char(']');
    EXPECT_TRUE(shown[0].Text.endsWith(QStringLiteral("\n\n结束进程：") + shownName)) << shown[0].Text.toStdString();
    EXPECT_EQ(shown[1].Text, QStringLiteral("结束进程操作失败！\n\n") + shownName);
    ASSERT_NE(Row(c.pid), nullptr);
    EXPECT_EQ(Row(c.pid)->text(0), QStringLiteral("sshd [612]%1\\n%2"));
    EXPECT_TRUE(c.running());
}
