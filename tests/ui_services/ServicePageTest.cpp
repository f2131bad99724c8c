#include "common/Pinger.h"
#include "common/ServiceList.h"
#include "common/UserDirs.h"
#include "platform_services/FakeSystemd.h"
#include "ui_message/MessageAnswers.h"

#include "sysinfo/Services.h"
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
#include <QActionGroup>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>

#include <memory>
#include <vector>

namespace {

using fakesd::Service;

using uitest::Shown;

class ServicePageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(bus->ok()) << "private message bus did not start";
        UiHooks().ExecModal = [this](QDialog *Dialog) { return uitest::AnswerMessageBox(Dialog, shown, answers); };
        UiHooks().OpenUrl = [](const QString &) { return true; };
        auto a = Service("alpha", "active", "enabled");
        auto b = Service("beta");
        auto c = Service("gamma", "inactive", "masked");
        fake().setUnits({a, b, c});
    }
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }

    fakesd::Manager &fake() { return bus->manager; }

    void Open()
    {
        form = std::make_unique<TFormMain>(nullptr, nullptr);
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->show();
        form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
        Settle();
    }
    // The list read in the background is in.
    void Settle() { ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices)); }
    QTreeWidget *List() const { return form->ServicePage->lvServices; }
    QTreeWidgetItem *Row(const QString &Name) const
    {
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            if (List()->topLevelItem(i)->text(0) == Name)
                return List()->topLevelItem(i);
        return nullptr;
    }
    void Select(const QString &Name)
    {
        List()->clearSelection();
        QTreeWidgetItem *r = Row(Name);
        ASSERT_TRUE(r) << Name.toStdString();
        r->setSelected(true);
    }
    QStringList Captions() const
    {
        QStringList out;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            out << List()->topLevelItem(i)->text(0);
        return out;
    }

    static fakesd::Bus *bus;
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    std::vector<Shown> shown;
    QList<quint8> answers;
};

fakesd::Bus *ServicePageTest::bus = nullptr;

TEST_F(ServicePageTest, PageListsTheServicesWithTextsAndImages)
{
    Open();
    ASSERT_EQ(Captions(), (QStringList{"alpha", "beta", "gamma"}));
    QTreeWidgetItem *a = Row("alpha");
    EXPECT_EQ(a->text(1), "alpha daemon");
    EXPECT_EQ(a->text(2), "运行中");
    EXPECT_EQ(a->text(3), "自动");
    EXPECT_EQ(a->text(4), "/usr/sbin/alpha --foreground");
    EXPECT_EQ(a->data(0, Qt::UserRole + 2).toInt(), 0);
    EXPECT_EQ(Row("beta")->data(0, Qt::UserRole + 2).toInt(), 1);
    EXPECT_EQ(Row("gamma")->text(3), "禁用");
    EXPECT_EQ(form->lblTopBarInfo->text(), "[服务管理] 服务: 3");
    EXPECT_EQ(form->ServicePage->objServices->GetCount(), 3);
    EXPECT_EQ(form->ServicePage->ilCommon.size(), 3);
    EXPECT_FALSE(form->ServicePage->ilCommon[1].isNull());
}

TEST_F(ServicePageTest, ButtonsAndMenuFollowTheSelectedService)
{
    Open();
    EXPECT_FALSE(form->ServicePage->btnStartService->isEnabled());
    EXPECT_EQ(form->ServicePage->btnStartService->Caption(), "...");
    Select("alpha");
    EXPECT_EQ(form->ServicePage->btnStartService->Caption(), "停止");
    EXPECT_EQ(form->ServicePage->btnPauseService->Caption(), "暂停");
    EXPECT_TRUE(form->ServicePage->btnPauseService->isEnabled());
    form->ServicePage->pmServicePopup(form->ServicePage->pmService);
    EXPECT_FALSE(form->ServicePage->mniService_Start->isEnabled());
    EXPECT_TRUE(form->ServicePage->mniService_Stop->isEnabled());
    EXPECT_TRUE(form->ServicePage->mniService_Pause->isEnabled());
    EXPECT_FALSE(form->ServicePage->mniService_Resume->isEnabled());
    EXPECT_TRUE(form->ServicePage->mniService_Restart->isEnabled());
    form->ServicePage->mniService_StartupTypeClick(form->ServicePage->mniService_StartupType);
    EXPECT_TRUE(form->ServicePage->mniService_StartupType_Automatic->isChecked());

    Select("beta");
    EXPECT_EQ(form->ServicePage->btnStartService->Caption(), "启动");
    EXPECT_FALSE(form->ServicePage->btnPauseService->isEnabled());
    EXPECT_EQ(form->ServicePage->btnPauseService->Caption(), "...");
    form->ServicePage->pmServicePopup(form->ServicePage->pmService);
    EXPECT_TRUE(form->ServicePage->mniService_Start->isEnabled());
    EXPECT_FALSE(form->ServicePage->mniService_Stop->isEnabled());
    EXPECT_FALSE(form->ServicePage->mniService_Restart->isEnabled());
    form->ServicePage->mniService_StartupTypeClick(form->ServicePage->mniService_StartupType);
    EXPECT_TRUE(form->ServicePage->mniService_StartupType_Manual->isChecked());
}

TEST_F(ServicePageTest, StartingADisabledServiceSetsItToManualFirst)
{
    Open();
    Select("gamma");
    form->ServicePage->btnStartService->OnClick(form->ServicePage->btnStartService);
    Settle();
    EXPECT_EQ(fake().unit("gamma")->activeState, "active");
    EXPECT_EQ(fake().unit("gamma")->unitFileState, "disabled");
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Row("gamma")->text(2), "运行中");
    EXPECT_EQ(Row("gamma")->text(3), "手动");
    // The row keeps the image it had when it was added.
    EXPECT_EQ(Row("gamma")->data(0, Qt::UserRole + 2).toInt(), 1);
    EXPECT_FALSE(form->pnlWaiting->isVisible());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(form->ServicePage->btnStartService->Caption(), "停止");
}

TEST_F(ServicePageTest, AFailedStartIsReportedAndTheServiceStaysManual)
{
    fake().withUnit("gamma", [](fakesd::Unit *u) { u->startFails = true; });
    Open();
    Select("gamma");
    form->ServicePage->ServiceCommand(TServiceCommand::Start);
    Settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "启动服务操作失败！\n\ngamma");
    EXPECT_EQ(shown[0].Title, "失败");
    EXPECT_EQ(shown[0].Icon, 5);
    EXPECT_EQ(shown[0].Buttons, 0);
    EXPECT_EQ(fake().unit("gamma")->unitFileState, "disabled");
    EXPECT_EQ(Row("gamma")->text(3), "手动");
}

// The waiting panel lets queued work run before the operation; a list read in the background
// that is taken in then replaces the items under the command.
TEST_F(ServicePageTest, AListReloadedWhileTheWaitingPanelShowsIsFollowed)
{
    Open();
    Select("beta");
    QMetaObject::invokeMethod(
        form.get(),
        [this] {
            form->ServicePage->RefreshServiceList();
            Settle();
        },
        Qt::QueuedConnection);
    form->ServicePage->ServiceCommand(TServiceCommand::Start);
    Settle();
    EXPECT_EQ(fake().unit("beta")->activeState, "active");
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Row("beta")->text(2), "运行中");
    EXPECT_TRUE(form->isEnabled());

    // A service that went away meanwhile is skipped: nothing is asked of it, nothing reported.
    Select("alpha");
    fake().clearCalls();
    QMetaObject::invokeMethod(
        form.get(),
        [this] {
            fake().setUnits({Service("beta", "active"), Service("gamma", "inactive", "masked")});
            form->ServicePage->RefreshServiceList();
            Settle();
        },
        Qt::QueuedConnection);
    form->ServicePage->ServiceCommand(TServiceCommand::Restart);
    Settle();
    EXPECT_TRUE(shown.empty());
    for (const QString &c : fake().calls())
        EXPECT_FALSE(c.contains(QLatin1String("alpha"))) << c.toStdString();
    EXPECT_FALSE(Row("alpha"));
    EXPECT_FALSE(form->pnlWaiting->isVisible());
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(ServicePageTest, StopAsksFirstEvenForAStoppedService)
{
    Open();
    Select("beta");
    answers = {3};
    form->ServicePage->mniService_StopClick(form->ServicePage->mniService_Stop);
    Settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, "询问");
    EXPECT_EQ(shown[0].Icon, 2);
    EXPECT_EQ(shown[0].Buttons, 2);
    EXPECT_EQ(shown[0].Text,
              "停止服务可能将导致某些系统功能异常。是否确定要执行该操作？\n\n停止服务：beta\n\n服务描述：beta daemon");
    for (const QString &c : fake().calls())
        EXPECT_FALSE(c.startsWith("StopUnit")) << c.toStdString();

    // "否" leaves a running service alone; "是" stops it.
    Select("alpha");
    shown.clear();
    answers = {4};
    form->ServicePage->mniService_StopClick(form->ServicePage->mniService_Stop);
    Settle();
    EXPECT_EQ(fake().unit("alpha")->activeState, "active");
    answers = {3};
    form->ServicePage->mniService_StopClick(form->ServicePage->mniService_Stop);
    Settle();
    EXPECT_EQ(fake().unit("alpha")->activeState, "inactive");
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(Row("alpha")->text(2), "已停止");

    // A name with the manager's own escapes is asked about as the row shows it.
    auto escaped = Service("fsck@dev-by\\x2duuid", "active");
    escaped.description = "check";
    fake().setUnits({escaped});
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    Settle();
    Select("fsck@dev-by\\x2duuid");
    shown.clear();
    answers = {4};
    form->ServicePage->mniService_StopClick(form->ServicePage->mniService_Stop);
    Settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text,
              "停止服务可能将导致某些系统功能异常。是否确定要执行该操作？\n\n停止服务：fsck@dev-by\\x2duuid"
              "\n\n服务描述：check");
}

TEST_F(ServicePageTest, PauseResumeAndStartTypeCommands)
{
    Open();
    Select("alpha");
    form->ServicePage->btnPauseService->OnClick(form->ServicePage->btnPauseService);
    Settle();
    EXPECT_EQ(fake().unit("alpha")->freezerState, "frozen");
    EXPECT_EQ(Row("alpha")->text(2), "暂停中");
    EXPECT_EQ(form->ServicePage->btnPauseService->Caption(), "恢复");
    form->ServicePage->btnPauseService->OnClick(form->ServicePage->btnPauseService);
    Settle();
    EXPECT_EQ(fake().unit("alpha")->freezerState, "running");

    // The start type it already has: nothing happens at all.
    fake().clearCalls();
    form->ServicePage->mniService_StartupType_AutomaticClick(form->ServicePage->mniService_StartupType_Automatic);
    Settle();
    for (const QString &c : fake().calls())
        EXPECT_FALSE(c.contains("UnitFiles") || c == "ListUnits") << c.toStdString();
    form->ServicePage->mniService_StartupType_DisabledClick(form->ServicePage->mniService_StartupType_Disabled);
    Settle();
    EXPECT_EQ(fake().unit("alpha")->unitFileState, "masked");
    EXPECT_EQ(Row("alpha")->text(3), "禁用");
    EXPECT_TRUE(shown.empty());
}

TEST_F(ServicePageTest, AStartTypeThatCannotBeSetIsReported)
{
    fake().withUnit("beta", [](fakesd::Unit *u) {
        u->installable = false;
        u->unitFileState = "static";
    });
    Open();
    Select("beta");
    form->ServicePage->mniService_StartupType_AutomaticClick(form->ServicePage->mniService_StartupType_Automatic);
    Settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "设置启动类型操作失败！\n\nbeta");
}

// The manager answers each question about the service just under the query time-out after the
// one before. A command and a start-type change give up on it as always and report so, while the
// window's thread keeps running its events: the waiting panel (none for the start type) shows, the
// window takes no input (a key, a second command), and a close asked for meanwhile comes once the
// command has returned.
TEST_F(ServicePageTest, ACommandOnASlowManagerRunsBesideTheWindowWhichTakesNoInputMeanwhile)
{
    struct Case
    {
        const char *What;
        TServiceCommand Command;
        TServiceStartType StartType;
        QString Waiting; // empty: no waiting panel
        QString Failure;
    };
    const Case cases[] = {
        {"start", TServiceCommand::Start, {}, "正在启动服务，请等待……", "启动服务操作失败！\n\nbeta"},
        {"start type",
         TServiceCommand::SetStartType,
         TServiceStartType::Automatic,
         {},
         "设置启动类型操作失败！\n\nbeta"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        fake().setUnits({Service("alpha", "active", "enabled"), Service("beta")});
        shown.clear();
        Open();
        Select("beta");
        form->ServicePage->lvServicesClick(List());
        ASSERT_TRUE(form->Details->pnlDetails->isVisible());
        fake().withUnit("beta", [](fakesd::Unit *u) {
            u->answerDelay = platform::services::ServiceManager::kQueryTimeoutMs - 100;
        });

        struct Seen
        {
            bool Ran = false, Enabled = true, Panel = false, Details = false, Open = false;
            QString Caption;
            std::size_t Shown = 0;
        } seen;
        QTimer::singleShot(1500, form.get(), [&] {
            seen.Ran = true;
            seen.Enabled = form->isEnabled();
            seen.Panel = form->pnlWaiting->isVisible();
            seen.Caption = form->pnlWaiting->Caption();
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(form.get(), &esc);
            seen.Details = form->Details->pnlDetails->isVisible();
            form->ServicePage->ServiceCommand(TServiceCommand::Stop);
            seen.Shown = shown.size();
            form->close();
            seen.Open = form->isVisible();
        });
        tvtest::Pinger ping(form.get());
        QElapsedTimer t;
        t.start();
        form->ServicePage->ServiceCommand(c.Command, c.StartType);
        const qint64 took = t.elapsed();
        EXPECT_LT(ping.Stop().count(), 100);
        EXPECT_LT(took, 2 * platform::services::ServiceManager::kQueryTimeoutMs + 3000);
        fake().setUnits({Service("alpha", "active", "enabled"), Service("beta")});

        EXPECT_TRUE(seen.Ran);
        EXPECT_FALSE(seen.Enabled);
        EXPECT_EQ(seen.Panel, !c.Waiting.isEmpty());
        if (!c.Waiting.isEmpty()) {
            EXPECT_EQ(seen.Caption, c.Waiting);
        }
        EXPECT_TRUE(seen.Details);
        EXPECT_EQ(seen.Shown, 0u);
        EXPECT_TRUE(seen.Open);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Text, c.Failure);
        EXPECT_EQ(shown[0].Title, "失败");
        EXPECT_FALSE(form->pnlWaiting->isVisible());
        EXPECT_FALSE(form->isVisible());
        form.reset();
    }
}

TEST_F(ServicePageTest, RefreshFollowsTheServices)
{
    Open();
    // A gone service loses its row, a new one is appended, also in the same refresh.
    fake().setUnits({Service("alpha", "inactive", "enabled"), Service("gamma"), Service("delta")});
    form->ServicePage->btnRefreshServiceListClick(form->ServicePage->btnRefreshServiceList);
    Settle();
    EXPECT_EQ(Captions(), (QStringList{"alpha", "gamma", "delta"}));
    EXPECT_EQ(Row("alpha")->text(2), "已停止");
    EXPECT_EQ(Row("gamma")->text(3), "手动");
    EXPECT_EQ(form->lblTopBarInfo->text(), "[服务管理] 服务: 3");

    // Sorted by a column, rows stay sorted through refreshes.
    form->ServicePage->lvServicesColumnClick(List(), 0);
    EXPECT_EQ(Captions(), (QStringList{"alpha", "delta", "gamma"}));
    form->ServicePage->lvServicesColumnClick(List(), 0);
    EXPECT_EQ(Captions(), (QStringList{"gamma", "delta", "alpha"}));
    fake().setUnits({Service("alpha"), Service("gamma"), Service("delta"), Service("Beta")});
    form->ServicePage->RefreshServiceList();
    Settle();
    EXPECT_EQ(Captions(), (QStringList{"gamma", "delta", "Beta", "alpha"}));

    // Hidden page: nothing happens.
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    fake().setUnits({Service("alpha")});
    form->ServicePage->RefreshServiceList();
    Settle();
    EXPECT_EQ(List()->topLevelItemCount(), 4);
}

TEST_F(ServicePageTest, EmptyListAndNoSelectionDoNothing)
{
    fake().setUnits({});
    Open();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    fake().setUnits({Service("alpha")});
    fake().clearCalls();
    form->ServicePage->btnRefreshServiceListClick(form->ServicePage->btnRefreshServiceList);
    Settle();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_TRUE(fake().calls().isEmpty());
    form->ServicePage->ServiceCommand(TServiceCommand::Stop);
    EXPECT_TRUE(shown.empty());
}

TEST_F(ServicePageTest, OptimisationButtonGivesThePanelRoom)
{
    Open();
    // The page always makes its panel: losing it is a fault, not a build without one.
    ASSERT_NE(form->ServicePage->Optimization, nullptr);
    ASSERT_NE(form->ServicePage->Optimization->pnlServicesOptimizaion, nullptr);
    form->ServicePage->btnServicesOptimizationClick(form->ServicePage->btnServicesOptimization);
    QApplication::processEvents();
    EXPECT_TRUE(form->ServicePage->Optimization->pnlServicesOptimizaion->isVisible());
    EXPECT_EQ(form->Details->pnlDetails->height(), List()->height());
    form->ServicePage->btnServicesOptimizationClick(form->ServicePage->btnServicesOptimization);
    EXPECT_FALSE(form->ServicePage->Optimization->pnlServicesOptimizaion->isVisible());
}

} // namespace

namespace {

TEST_F(ServicePageTest, AManagerThatCannotBeReachedIsNamedInTheStatusLine)
{
    const QByteArray saved = qgetenv(platform::services::kBusAddressVariable);
    qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-test-bus");
    Open();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 无法连接服务管理器！"));
    qputenv(platform::services::kBusAddressVariable, saved);

    // Rows shown, then a refresh that cannot ask: the rows stay and the status line says why.
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    Settle();
    ASSERT_EQ(List()->topLevelItemCount(), 3);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 服务: 3"));
    qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-test-bus");
    form->ServicePage->btnRefreshServiceListClick(form->ServicePage->btnRefreshServiceList);
    Settle();
    qputenv(platform::services::kBusAddressVariable, saved);
    EXPECT_EQ(List()->topLevelItemCount(), 3);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 无法连接服务管理器！"));
    form->ServicePage->btnRefreshServiceListClick(form->ServicePage->btnRefreshServiceList);
    Settle();
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 服务: 3"));
}

} // namespace
