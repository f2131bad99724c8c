#include "sysinfo_autoruns/AutorunEnv.h"
#include "ui_message/MessageAnswers.h"

#include "sysinfo/Autoruns.h"
#include "sysinfo/FileProperties.h"
#include "ui/DisplayTexts.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainSystem.h"
#include "ui/frmMainUpdate.h"
#include "ui/frmMessage.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QUuid>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QTextEdit>
#include <QTreeWidget>

#include <memory>
#include <vector>

#include <sys/stat.h>

namespace {

using autotest::AutorunEnv;

using uitest::Shown;

// The form with its autorun list on the test's own folders, key store and backup file, every
// message box answered here.
class AutorunPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every box is answered with its first button.
        UiHooks().ExecModal = [this](QDialog *Dialog) {
            QList<quint8> none;
            return uitest::AnswerMessageBox(Dialog, shown, none, 3);
        };
        ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "folder.desktop", AutorunEnv::Entry("/bin/true --folder")));
        ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/sh -c x"));
        ASSERT_TRUE(AutorunEnv::SetRun(autotest::kMachineRun, "ghost", "/nonexistent/ghost"));
        form = std::make_unique<TFormMain>();
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->AutorunPage->objAutoruns->SetBackupFile(env.BackupFile());
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }

    void ShowPage()
    {
        form->btnLeftMenu_AutorunClick(form->btnLeftMenu_Autorun);
        Settle();
    }
    // The list is read beside the window: the rows follow once it is in.
    void Settle()
    {
        QDeadlineTimer deadline(10000);
        while (form->AutorunPage->objAutoruns->Refreshing() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_FALSE(form->AutorunPage->objAutoruns->Refreshing());
    }
    QTreeWidget *List() const { return form->AutorunPage->lvAutoruns; }
    QStringList Captions() const
    {
        QStringList out;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            out << List()->topLevelItem(i)->text(0);
        return out;
    }
    QTreeWidgetItem *Row(const QString &Caption) const
    {
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            if (List()->topLevelItem(i)->text(0) == Caption)
                return List()->topLevelItem(i);
        return nullptr;
    }
    void Select(const QString &Caption)
    {
        List()->clearSelection();
        QTreeWidgetItem *r = Row(Caption);
        ASSERT_NE(r, nullptr) << Caption.toStdString();
        r->setSelected(true);
    }
    static QString State(bool Active)
    {
        QString t;
        EnabledText(Active, t);
        return t;
    }

    AutorunEnv env;
    std::unique_ptr<TFormMain> form;
    std::vector<Shown> shown;
};

TEST_F(AutorunPage, ShowsEveryEntryWithItsStateCommandLocationAndIcon)
{
    ShowPage();
    EXPECT_EQ(Captions(), (QStringList{"folder", "agent", "ghost"}));
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 启动项: 3"));
    const QTreeWidgetItem *folder = Row("folder");
    EXPECT_EQ(folder->text(1), State(true));
    EXPECT_EQ(folder->text(3), QStringLiteral("\"/bin/true\" --folder"));
    EXPECT_EQ(folder->text(4), env.UserDir());
    EXPECT_EQ(folder->textAlignment(1), int(Qt::AlignCenter));
    EXPECT_GE(folder->data(0, kImageIndexRole).toInt(), 0);
    const QTreeWidgetItem *ghost = Row("ghost");
    EXPECT_EQ(ghost->text(3), QStringLiteral("/nonexistent/ghost"));
    EXPECT_EQ(ghost->text(4), autotest::kMachineRun);
    // A missing program: no icon, no description.
    EXPECT_EQ(ghost->data(0, kImageIndexRole).toInt(), -1);
    EXPECT_TRUE(ghost->text(2).isEmpty());

    // No selection: both command buttons off, the state button without a caption.
    EXPECT_FALSE(form->AutorunPage->btnEnableAutorun->isEnabled());
    EXPECT_EQ(form->AutorunPage->btnEnableAutorun->Caption(), QStringLiteral("..."));
    EXPECT_FALSE(form->AutorunPage->btnDeleteAutorun->isEnabled());
    EXPECT_EQ(form->AutorunPage->btnDeleteAutorun->Caption(), QStringLiteral("删除"));
    EXPECT_EQ(form->AutorunPage->SelectedAutorun(), nullptr);
}

TEST_F(AutorunPage, StateButtonFollowsTheSelectedEntryAndMovesItBackAndForth)
{
    ShowPage();
    Select("agent");
    ASSERT_NE(form->AutorunPage->SelectedAutorun(), nullptr);
    EXPECT_EQ(form->AutorunPage->SelectedAutorun()->Name, QStringLiteral("agent"));
    EXPECT_TRUE(form->AutorunPage->btnEnableAutorun->isEnabled());
    EXPECT_EQ(form->AutorunPage->btnEnableAutorun->Caption(), QStringLiteral("禁用"));
    EXPECT_TRUE(form->AutorunPage->btnDeleteAutorun->isEnabled());

    form->AutorunPage->btnEnableAutorun->Click();
    Settle();
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kUserRun).isEmpty());
    // The list is rebuilt: the disabled entry comes last, from the backup.
    EXPECT_EQ(Captions(), (QStringList{"folder", "ghost", "agent"}));
    EXPECT_EQ(Row("agent")->text(1), State(false));
    // The rebuilt list has no selection any more.
    EXPECT_FALSE(form->AutorunPage->btnEnableAutorun->isEnabled());

    Select("agent");
    EXPECT_EQ(form->AutorunPage->btnEnableAutorun->Caption(), QStringLiteral("启用"));
    form->AutorunPage->btnEnableAutorun->Click();
    Settle();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});
    EXPECT_EQ(Row("agent")->text(1), State(true));
}

TEST_F(AutorunPage, DeleteGoesAtOnceWithoutAQuestion)
{
    ShowPage();
    Select("folder");
    form->AutorunPage->mniAutorun_DeleteClick(form->AutorunPage->mniAutorun_Delete);
    Settle();
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(QFile::exists(env.UserDir() + "folder.desktop"));
    EXPECT_EQ(Captions(), (QStringList{"agent", "ghost"}));

    // A disabled entry goes from the backup the same way, by the button.
    Select("agent");
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    Select("agent");
    form->AutorunPage->btnDeleteAutorun->Click();
    Settle();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Captions(), QStringList{"ghost"});
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 启动项: 1"));

    // Deleting the last entry leaves no stale row behind.
    Select("ghost");
    form->AutorunPage->mniAutorun_DeleteClick(form->AutorunPage->mniAutorun_Delete);
    Settle();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 启动项: 0"));
}

TEST_F(AutorunPage, FailureIsReportedByNameAndTheListRebuilt)
{
    ShowPage();
    Select("ghost");
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    ASSERT_TRUE(shown.empty());
    Select("ghost");
    // A program that is gone cannot be put back.
    form->AutorunPage->mniAutorun_EnableClick(form->AutorunPage->mniAutorun_Enable);
    Settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("启用启动项操作失败！\n\nghost"));
    EXPECT_EQ(shown[0].Title, QStringLiteral("失败"));
    EXPECT_EQ(shown[0].Icon, 5);
    EXPECT_EQ(shown[0].Buttons, 0);
    EXPECT_EQ(Row("ghost")->text(1), State(false));

    // A desktop entry that went from its folder behind the list's back cannot be deleted.
    shown.clear();
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "fixed.desktop", AutorunEnv::Entry("/bin/true")));
    form->AutorunPage->btnRefreshAutorunList->Click();
    Settle();
    ASSERT_TRUE(QFile::remove(env.UserDir() + "fixed.desktop"));
    Select("fixed");
    form->AutorunPage->mniAutorun_DeleteClick(form->AutorunPage->mniAutorun_Delete);
    Settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("删除启动项操作失败！\n\nfixed"));
    EXPECT_EQ(Row("fixed"), nullptr);
    // One that cannot be backed up (the backup is no file) stays where it is.
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "fixed.desktop", AutorunEnv::Entry("/bin/true")));
    ASSERT_TRUE(QFile::remove(env.BackupFile()));
    ASSERT_TRUE(QDir().mkpath(env.BackupFile()));
    form->AutorunPage->btnRefreshAutorunList->Click();
    Settle();
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    // The rebuilt list has no selection: the command does nothing.
    EXPECT_EQ(shown.size(), 1u);
    Select("fixed");
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].Text, QStringLiteral("禁用启动项操作失败！\n\nfixed"));
    EXPECT_TRUE(QFile::exists(env.UserDir() + "fixed.desktop"));
}

TEST_F(AutorunPage, CommandThatDoesNotApplyShowsNothingAndKeepsTheRows)
{
    ShowPage();
    Select("agent");
    // A mark on a row shows whether the list was rebuilt.
    Row("folder")->setText(2, QStringLiteral("marked"));
    form->AutorunPage->mniAutorun_EnableClick(form->AutorunPage->mniAutorun_Enable); // already active
    Settle();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Row("folder")->text(2), QStringLiteral("marked"));
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});

    form->AutorunPage->AutorunCommand(7); // no such command: only the rebuild
    Settle();
    EXPECT_NE(Row("folder")->text(2), QStringLiteral("marked"));

    // A row without an entry index (or with one that is gone) stands for no entry.
    List()->clearSelection();
    auto *stray = new QTreeWidgetItem(List(), QStringList{"stray"});
    stray->setSelected(true);
    EXPECT_EQ(form->AutorunPage->SelectedAutorun(), nullptr);
    form->AutorunPage->mniAutorun_DeleteClick(form->AutorunPage->mniAutorun_Delete);
    Settle();
    EXPECT_TRUE(shown.empty());
    EXPECT_NE(Row("stray"), nullptr);
}

TEST_F(AutorunPage, RefreshButtonWorksOnlyWhileThePageIsShown)
{
    ShowPage();
    ASSERT_EQ(List()->topLevelItemCount(), 3);
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "late", "/bin/true"));
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    form->AutorunPage->btnRefreshAutorunListClick(form->AutorunPage->btnRefreshAutorunList);
    Settle();
    EXPECT_EQ(List()->topLevelItemCount(), 3);
    ShowPage();
    EXPECT_EQ(List()->topLevelItemCount(), 4);
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "later", "/bin/true"));
    form->AutorunPage->btnRefreshAutorunList->Click();
    Settle();
    EXPECT_EQ(List()->topLevelItemCount(), 5);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 启动项: 5"));
}

TEST_F(AutorunPage, PopupMenuOffersWhatTheEntryAllows)
{
    ShowPage();
    Select("agent");
    form->AutorunPage->pmAutorunPopup(form->AutorunPage->pmAutorun);
    EXPECT_FALSE(form->AutorunPage->mniAutorun_Enable->isEnabled());
    EXPECT_TRUE(form->AutorunPage->mniAutorun_Disable->isEnabled());
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    Select("agent");
    form->AutorunPage->pmAutorunPopup(form->AutorunPage->pmAutorun);
    EXPECT_TRUE(form->AutorunPage->mniAutorun_Enable->isEnabled());
    EXPECT_FALSE(form->AutorunPage->mniAutorun_Disable->isEnabled());
    EXPECT_TRUE(form->AutorunPage->mniAutorun_Delete->isEnabled());

    // The right button opens the menu only with a selected entry.
    List()->clearSelection();
    form->AutorunPage->lvAutorunsMouseDown(List(), Qt::RightButton, Qt::NoModifier, 5, 5);
    EXPECT_FALSE(form->AutorunPage->pmAutorun->isVisible());
    Select("agent");
    form->AutorunPage->lvAutorunsMouseDown(List(), Qt::LeftButton, Qt::NoModifier, 5, 5);
    EXPECT_FALSE(form->AutorunPage->pmAutorun->isVisible());
    form->AutorunPage->lvAutorunsMouseDown(List(), Qt::RightButton, Qt::NoModifier, 5, 5);
    EXPECT_TRUE(form->AutorunPage->pmAutorun->isVisible());
    form->AutorunPage->pmAutorun->hide();
}

TEST_F(AutorunPage, ColumnClicksSortByTextIgnoringCaseAndToggleTheDirection)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "Bravo", "/bin/true"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "alpha", "/bin/true"));
    ShowPage();
    form->AutorunPage->lvAutorunsColumnClick(List(), 0);
    EXPECT_FALSE(form->AutorunPage->SortDescending);
    EXPECT_EQ(Captions(), (QStringList{"agent", "alpha", "Bravo", "folder", "ghost"}));
    form->AutorunPage->lvAutorunsColumnClick(List(), 0);
    EXPECT_TRUE(form->AutorunPage->SortDescending);
    EXPECT_EQ(Captions(), (QStringList{"ghost", "folder", "Bravo", "alpha", "agent"}));

    // Another column keeps its own direction; the sort survives a rebuild by a command.
    form->AutorunPage->lvAutorunsColumnClick(List(), 4);
    EXPECT_EQ(form->AutorunPage->SortColumn, 4);
    // A folder path sorts before the key paths.
    EXPECT_EQ(Captions().first(), QStringLiteral("folder"));
    EXPECT_EQ(Captions().last(), QStringLiteral("ghost"));
    Select("alpha");
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    EXPECT_EQ(Captions().first(), QStringLiteral("folder"));
    EXPECT_EQ(Captions().last(), QStringLiteral("ghost"));
    EXPECT_EQ(Row("alpha")->text(4), autotest::kUserRun);
}

} // namespace

TEST_F(AutorunPage, DetailsPanelNoLongerShowsAnEntryAsItWasBeforeTheCommand)
{
    ShowPage();
    Select("agent");
    form->AutorunPage->lvAutorunsClick(form->AutorunPage->lvAutoruns);
    QTextEdit *details = form->Details->redtDetails;
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    ASSERT_TRUE(details->toPlainText().contains(QStringLiteral("状态: ") + State(true)));
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    Settle();
    EXPECT_EQ(Row("agent")->text(1), State(false));
    EXPECT_FALSE(details->toPlainText().contains(QStringLiteral("状态: ") + State(true)))
        << details->toPlainText().toStdString();
    EXPECT_FALSE(details->toPlainText().contains(QStringLiteral("agent")));

    Select("agent");
    form->AutorunPage->lvAutorunsClick(form->AutorunPage->lvAutoruns);
    ASSERT_TRUE(details->toPlainText().contains(QStringLiteral("状态: ") + State(false)));
    form->AutorunPage->mniAutorun_DeleteClick(form->AutorunPage->mniAutorun_Delete);
    Settle();
    EXPECT_EQ(Row("agent"), nullptr);
    EXPECT_FALSE(details->toPlainText().contains(QStringLiteral("agent")));
}

TEST_F(AutorunPage, AProgramNamedWithoutAFolderIsNeverTakenFromTheWorkingFolder)
{
    // Entries name their programs without a folder; the working folder holds a FIFO of the one
    // name (found nowhere on the search path) and, under the other, a link to a device.
    const QString bare = QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "bare.desktop", AutorunEnv::Entry(bare + QStringLiteral(" --x"))));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "shell.desktop", AutorunEnv::Entry(QStringLiteral("sh -c true"))));
    const QString cwd = env.File(QStringLiteral("cwd"));
    ASSERT_TRUE(QDir().mkpath(cwd));
    ASSERT_EQ(::mkfifo(QFile::encodeName(cwd + QLatin1Char('/') + bare).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), cwd + QStringLiteral("/sh")));
    const QString shell =
        QStandardPaths::findExecutable(QStringLiteral("sh"), {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    ASSERT_FALSE(shell.isEmpty());
    TFileProperties expected;
    ASSERT_TRUE(expected.LoadFromFile(shell));
    ASSERT_GE(expected.GeneralInfo()->IconIndex, 0);
    struct WorkingFolder
    {
        QString Old = QDir::currentPath();
        ~WorkingFolder() { QDir::setCurrent(Old); }
    } restore;
    ASSERT_TRUE(QDir::setCurrent(cwd));

    QElapsedTimer t;
    t.start();
    ShowPage();
    EXPECT_LT(t.elapsed(), 10000);
    ASSERT_NE(Row("bare"), nullptr);
    ASSERT_NE(Row("shell"), nullptr);
    // Nothing of the working folder is shown: the bare name is found nowhere, "sh" is the program.
    EXPECT_EQ(Row("bare")->data(0, kImageIndexRole).toInt(), -1);
    EXPECT_TRUE(Row("bare")->text(2).isEmpty());
    EXPECT_EQ(Row("shell")->data(0, kImageIndexRole).toInt(), expected.GeneralInfo()->IconIndex);
    EXPECT_EQ(Row("shell")->text(2), expected.VersionInfo()->FileDescription);
    Select("shell");
    form->AutorunPage->lvAutorunsClick(form->AutorunPage->lvAutoruns);
    EXPECT_TRUE(form->Details->redtDetails->toPlainText().contains(QStringLiteral("文件描述: ") +
                                                                   expected.VersionInfo()->FileDescription));
}
