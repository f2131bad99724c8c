// The autoruns page looks at the entries' programs beside the window: a program on a file system
// that keeps its reader waiting holds neither the page's fill and refresh nor its details.

#include "common/Pinger.h"
#include "sysinfo_autoruns/AutorunEnv.h"

#include "sysinfo/Autoruns.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

using autotest::AutorunEnv;

// Holds every look at one program while the test says so. A look on the window's thread is
// counted and let through, so that a page that looks there fails here instead of hanging.
struct HeldProgram
{
    static inline std::mutex lock;
    static inline std::condition_variable cond;
    static inline QString program;
    static inline bool held = false;
    static inline int waiting = 0;
    static inline int windowLooks = 0;

    static void Hook(const QString &Program)
    {
        std::unique_lock l(lock);
        if (Program != program)
            return;
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++windowLooks;
            return;
        }
        if (!held)
            return;
        ++waiting;
        cond.notify_all();
        cond.wait(l, [] { return !held; });
        --waiting;
    }
    static void Hold(const QString &Program)
    {
        std::lock_guard l(lock);
        program = Program;
        held = true;
    }
    static void Release()
    {
        {
            std::lock_guard l(lock);
            held = false;
        }
        cond.notify_all();
    }
    static bool WaitForReader()
    {
        std::unique_lock l(lock);
        return cond.wait_for(l, std::chrono::seconds(10), [] { return waiting > 0; });
    }
    static int WindowLooks()
    {
        std::lock_guard l(lock);
        return windowLooks;
    }
};

class AutorunReading : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UiHooks().ExecModal = [](QDialog *) { return 0; };
        TAutoruns::SetProgramHook(&HeldProgram::Hook);
        ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "held", "/held/program --x"));
        ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "shell", "/bin/sh -c true"));
        form = std::make_unique<TFormMain>();
        for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
            t->stop();
        form->AutorunPage->objAutoruns->SetBackupFile(env.BackupFile());
        // The window's first paint of the page is no reading's.
        form->show();
        form->btnLeftMenu_AutorunClick(form->btnLeftMenu_Autorun);
        ASSERT_TRUE(Settle());
        Spin(100);
    }
    void TearDown() override
    {
        HeldProgram::Release();
        form.reset();
        TAutoruns::SetProgramHook(nullptr);
        RestoreDefaultUiHooks();
    }

    static void Spin(int Ms)
    {
        QDeadlineTimer deadline(Ms);
        while (!deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    bool Settle()
    {
        QDeadlineTimer deadline(10000);
        while (Page().objAutoruns->Refreshing() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return !Page().objAutoruns->Refreshing();
    }
    TAutorunPage &Page() const { return *form->AutorunPage; }
    QStringList Captions() const
    {
        QStringList out;
        for (int i = 0; i < Page().lvAutoruns->topLevelItemCount(); ++i)
            out << Page().lvAutoruns->topLevelItem(i)->text(0);
        return out;
    }
    QString Details() const { return form->Details->redtDetails->toPlainText(); }

    AutorunEnv env;
    std::unique_ptr<TFormMain> form;
};

} // namespace

// The page's fill and its refresh wait for a program beside the window; the rows come when the
// look at it returns.
TEST_F(AutorunReading, FillAndRefreshHoldNotTheWindowAndTheRowsComeWhenTheProgramAnswers)
{
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "early", "/bin/true"));
    HeldProgram::Hold(QStringLiteral("/held/program"));
    tvtest::Pinger ping(form.get());
    form->btnLeftMenu_AutorunClick(form->btnLeftMenu_Autorun);
    ASSERT_TRUE(HeldProgram::WaitForReader());
    Spin(100);
    EXPECT_EQ(Captions(), (QStringList{"held", "shell"}));
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 正在读取启动项……"));
    HeldProgram::Release();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Captions(), (QStringList{"held", "shell", "early"}));
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 启动项: 3"));

    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "late", "/bin/true"));
    HeldProgram::Hold(QStringLiteral("/held/program"));
    Page().btnRefreshAutorunList->Click();
    ASSERT_TRUE(HeldProgram::WaitForReader());
    Spin(100);
    EXPECT_EQ(Captions(), (QStringList{"held", "shell", "early"}));
    HeldProgram::Release();
    ASSERT_TRUE(Settle());
    EXPECT_LT(ping.Stop().count(), 100);
    EXPECT_EQ(Captions(), (QStringList{"held", "shell", "early", "late"}));
    EXPECT_EQ(HeldProgram::WindowLooks(), 0);
}

// The details wait a moment for the program, then show what the list found and fill again when
// the program answers; a window closed while it is looked at goes without it.
TEST_F(AutorunReading, DetailsShowWhatIsKnownAndFillAgainWhenTheProgramAnswers)
{
    QTreeWidgetItem *row = Page().lvAutoruns->topLevelItem(Captions().indexOf(QStringLiteral("shell")));
    ASSERT_NE(row, nullptr);
    const QString description = row->text(2);
    row->setSelected(true);
    // What the list found is known to be stale here.
    Page().SelectedAutorun()->Program.FileDescription = QStringLiteral("stale");

    HeldProgram::Hold(QStringLiteral("/bin/sh"));
    tvtest::Pinger ping(form.get());
    Page().lvAutorunsClick(Page().lvAutoruns);
    ASSERT_TRUE(HeldProgram::WaitForReader());
    EXPECT_TRUE(form->Details->pnlDetails->isVisible());
    EXPECT_TRUE(Details().contains(QStringLiteral("文件描述: stale"))) << Details().toStdString();
    HeldProgram::Release();
    QDeadlineTimer deadline(10000);
    while (Details().contains(QStringLiteral("stale")) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_LT(ping.Stop().count(), 100);
    EXPECT_TRUE(Details().contains(QStringLiteral("文件描述: ") + description)) << Details().toStdString();
    EXPECT_TRUE(Details().contains(QStringLiteral("标题: shell")));
    EXPECT_EQ(HeldProgram::WindowLooks(), 0);

    HeldProgram::Hold(QStringLiteral("/bin/sh"));
    Page().lvAutorunsClick(Page().lvAutoruns);
    ASSERT_TRUE(HeldProgram::WaitForReader());
    form.reset();
    std::lock_guard l(HeldProgram::lock);
    EXPECT_EQ(HeldProgram::waiting, 1);
}
