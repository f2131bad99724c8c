#include "OptiFixture.h"

#include "platform/files/IniFile.h"

#include <QFileInfo>

using namespace optiui;

namespace {

const QString kAskRestore = QStringLiteral("是否确定要将服务配置恢复到上一次备份的状态？");
const QString kAskBackupInstead = QStringLiteral("没有以往的备份数据。是否现在执行一次备份？");
const QString kAskBackupFirst =
    ptest::Shows(QStringLiteral("强烈建议在优化服务前先备份当前配置。是否执行备份？\r\r是：执行备份操作。（推荐）\r否："
                                "不备份，直接执行优化操作。\r取消：取消操作。"));

} // namespace

TEST_F(PanelTest, PanelStartsHiddenWithItsControlsInFlagOrder)
{
    EXPECT_TRUE(form->ServicePage->Optimization->pnlServicesOptimizaion->isHidden());
    EXPECT_EQ(form->ServicePage->Optimization->pnlServicesOptimizaion->size(), QSize(460, 228));
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Title->text(),
              "服务优化向导：请在下面勾选您可能需要使用到的系统功能。");
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_System->text(), "[系统扩展]");
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Network->text(), "[网络扩展]");
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Device->text(), "[设备支持]");
    const QStringList captions = {
        "自动更新",          "系统还原",     "计划任务", "系统自带防火墙", "系统自带刻录功能",        "远程桌面/协助",
        "路由功能/远程接入", "无线网络连接", "打印机",   "蓝牙设备",       "影像设备(摄像头/扫描仪)", "智能卡",
        "UPS 不间断供电设备"};
    const QList<QPoint> places = {{27, 57},   {27, 82},  {27, 107}, {27, 132},  {27, 157},  {153, 57}, {153, 82},
                                  {153, 107}, {285, 57}, {285, 82}, {285, 107}, {285, 157}, {285, 132}};
    const QList<QCheckBox *> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 13);
    for (int i = 0; i < 13; ++i) {
        ASSERT_NE(boxes[i], nullptr);
        EXPECT_EQ(boxes[i]->text(), captions[i]);
        EXPECT_EQ(boxes[i]->pos(), places[i]) << i;
        EXPECT_FALSE(boxes[i]->isChecked());
    }
    EXPECT_FALSE(form->ServicePage->Optimization->pnlSvcOpti_Control->isHidden());
    EXPECT_TRUE(form->ServicePage->Optimization->pnlSvcOpti_Progress->isHidden());
    EXPECT_EQ(form->ServicePage->Optimization->btnSvcOpti_Backup->Caption(), "备份");
    EXPECT_EQ(form->ServicePage->Optimization->btnSvcOpti_Restore->Caption(), "恢复");
    EXPECT_EQ(form->ServicePage->Optimization->btnSvcOpti_Optimize->Caption(), "优化!");
    EXPECT_EQ(form->ServicePage->Optimization->pbSvcOpti_Progress->Minimum(), 0);
    EXPECT_EQ(form->ServicePage->Optimization->pbSvcOpti_Progress->Maximum(), 100);

    // The services page's button shows and hides it.
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    form->ServicePage->btnServicesOptimizationClick(form->ServicePage->btnServicesOptimization);
    EXPECT_FALSE(form->ServicePage->Optimization->pnlServicesOptimizaion->isHidden());
    form->ServicePage->btnServicesOptimizationClick(form->ServicePage->btnServicesOptimization);
    EXPECT_TRUE(form->ServicePage->Optimization->pnlServicesOptimizaion->isHidden());
}

TEST_F(PanelTest, RestoreWithoutBackupOffersOneAndNoDoesNothing)
{
    answers = {4};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, kAskBackupInstead);
    EXPECT_EQ(shown[0].Title, "询问");
    EXPECT_EQ(shown[0].Icon, 2);
    EXPECT_EQ(shown[0].Buttons, 2);
    EXPECT_FALSE(opt()->Busy());
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(states.empty());
    EXPECT_FALSE(QFileInfo::exists(BackupFile()));

    // "是" backs up instead.
    bus->manager.setUnits({fakesd::Service("alpha", "active", "enabled"), fakesd::Service("beta")});
    answers = {3};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Progress->text(), "正在备份");
    ASSERT_TRUE(WaitIdle());
    ASSERT_GE(states.size(), 2u);
    for (const PanelState &s : states)
        EXPECT_EQ(s.Kind, 'B');
    EXPECT_TRUE(QFileInfo::exists(BackupFile()));
}

TEST_F(PanelTest, RestoreWithBackupAsksAndRefreshesTheList)
{
    bus->manager.setUnits({fakesd::Service("alpha", "active", "enabled"), fakesd::Service("beta")});
    WriteBackup("[ServicesBackup]\nalpha=4\nbeta=2\n");
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
    ASSERT_GE(form->ServicePage->lvServices->topLevelItemCount(), 2);
    auto row = [this](const QString &Name) -> QTreeWidgetItem * {
        for (int i = 0; i < form->ServicePage->lvServices->topLevelItemCount(); ++i)
            if (form->ServicePage->lvServices->topLevelItem(i)->text(0) == Name)
                return form->ServicePage->lvServices->topLevelItem(i);
        return nullptr;
    };
    ASSERT_NE(row("alpha"), nullptr);
    EXPECT_EQ(row("alpha")->text(3), "自动");

    // "否" to the question: nothing.
    answers = {4};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, kAskRestore);
    EXPECT_EQ(shown[0].Title, "询问");
    EXPECT_EQ(shown[0].Icon, 2);
    EXPECT_EQ(shown[0].Buttons, 2);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(states.empty());

    answers = {3};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Progress->text(), "正在恢复");
    EXPECT_EQ(form->ServicePage->Optimization->pbSvcOpti_Progress->Value(), 1);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].Label, "正在恢复：alpha - 禁用");
    EXPECT_TRUE(states[0].ControlHidden);
    EXPECT_FALSE(states[0].ProgressHidden);
    EXPECT_EQ(states[0].Maximum, 2);
    EXPECT_EQ(states[0].Value, 1);
    EXPECT_EQ(states[1].Label, "正在恢复：beta - 自动");
    EXPECT_FALSE(states[1].ControlHidden);
    EXPECT_TRUE(states[1].ProgressHidden);
    EXPECT_EQ(FileState("alpha"), "masked");
    EXPECT_EQ(ActiveState("alpha"), "inactive");
    EXPECT_EQ(ActiveState("beta"), "active");
    // The list shows the restored start types once the job has ended.
    EXPECT_EQ(row("alpha")->text(3), "禁用");
    EXPECT_EQ(row("beta")->text(3), "自动");

    // A name with the manager's own escape is shown as the manager spells it.
    bus->manager.setUnits({fakesd::Service("de\\x2dlta", "active", "enabled")});
    WriteBackup("[ServicesBackup]\nde\\x2dlta=3\n");
    states.clear();
    answers = {3};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].Label, "正在恢复：de\\x2dlta - 手动");
    EXPECT_EQ(FileState("de\\x2dlta"), "disabled");
}

TEST_F(PanelTest, OptimizeWithBackupPresentStartsAtOnceWithTheTickedFlags)
{
    bus->manager.setUnits(
        {fakesd::Service("Spooler", "active", "enabled"), fakesd::Service("wuauserv", "inactive", "disabled")});
    WriteBackup("[ServicesBackup]\nSpooler=2\n");
    form->ServicePage->Optimization->chkSvcOpti_AutomaticUpdates->setChecked(true);
    form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Progress->text(), "正在优化");
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(states.size(), 81u);
    for (quint32 i = 0; i < 81; ++i) {
        EXPECT_EQ(states[i].Kind, 'O');
        EXPECT_EQ(states[i].Current, i + 1);
        EXPECT_EQ(states[i].Maximum, 81);
        EXPECT_EQ(states[i].Value, int(i + 1));
    }
    EXPECT_EQ(states[0].Label, "正在优化：wuauserv - 自动");
    EXPECT_EQ(states[9].Label, "正在优化：Spooler - 手动");
    EXPECT_EQ(states[15].Label, "正在优化：Alerter - 禁用");
    // Ticked: kept automatic and started; unticked: manual and stopped.
    EXPECT_EQ(FileState("wuauserv"), "enabled");
    EXPECT_EQ(ActiveState("wuauserv"), "active");
    EXPECT_EQ(FileState("Spooler"), "disabled");
    EXPECT_EQ(ActiveState("Spooler"), "inactive");
    EXPECT_FALSE(form->ServicePage->Optimization->pnlSvcOpti_Control->isHidden());
    EXPECT_TRUE(form->ServicePage->Optimization->pnlSvcOpti_Progress->isHidden());
}

TEST_F(PanelTest, OptimizeWithoutBackupAsksAndFollowsTheAnswer)
{
    // "取消", the close button and Esc stop.
    for (quint8 answer : {quint8(2), quint8(0), quint8(27)}) {
        shown.clear();
        answers = {answer};
        form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Text, kAskBackupFirst);
        EXPECT_EQ(shown[0].Title, "注意");
        EXPECT_EQ(shown[0].Icon, 3);
        EXPECT_EQ(shown[0].Buttons, 3);
        ASSERT_TRUE(WaitIdle());
        EXPECT_TRUE(states.empty());
    }
    // "否": optimise without a backup.
    answers = {4};
    form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(states.size(), 81u);
    EXPECT_FALSE(QFileInfo::exists(BackupFile()));
}

TEST_F(PanelTest, OptimizeAfterBackupWaitsForTheBackupToEnd)
{
    bus->manager.setUnits({fakesd::Service("Spooler", "active", "enabled"), fakesd::Service("alpha")});
    form->ServicePage->Optimization->chkSvcOpti_PrintSpooler->setChecked(true);
    answers = {3};
    form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
    // Untick after the click: the run uses the boxes as they were when it was asked for.
    form->ServicePage->Optimization->chkSvcOpti_PrintSpooler->setChecked(false);
    ASSERT_TRUE(WaitIdle());
    std::vector<char> kinds = Kinds();
    const auto firstO = std::find(kinds.begin(), kinds.end(), 'O');
    ASSERT_NE(firstO, kinds.end());
    const std::size_t backups = std::size_t(firstO - kinds.begin());
    ASSERT_GE(backups, 2u);
    EXPECT_TRUE(std::all_of(kinds.begin(), firstO, [](char k) { return k == 'B'; }));
    EXPECT_TRUE(std::all_of(firstO, kinds.end(), [](char k) { return k == 'O'; }));
    EXPECT_EQ(kinds.size() - backups, 81u);
    // The backup holds the state from before the optimisation.
    platform::files::IniFile ini;
    ASSERT_TRUE(ini.Load(BackupFile()));
    EXPECT_EQ(ini.IntValue("ServicesBackup", "Spooler", -1), 2);
    EXPECT_EQ(FileState("Spooler"), "enabled");
    EXPECT_EQ(ActiveState("Spooler"), "active");
}

TEST_F(PanelTest, ButtonsDuringARunOnlyTouchTheProgressTexts)
{
    WriteBackup("[ServicesBackup]\na=3\nb=3\nc=3\n");
    bool pressed = false;
    During = [&](const PanelState &s) {
        if (s.Current != 1 || pressed)
            return;
        pressed = true;
        form->ServicePage->Optimization->btnSvcOpti_BackupClick(form->ServicePage->Optimization->btnSvcOpti_Backup);
        EXPECT_EQ(form->ServicePage->Optimization->lblSvcOpti_Progress->text(), "正在备份");
        EXPECT_EQ(form->ServicePage->Optimization->pbSvcOpti_Progress->Value(), 1);
        form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
    };
    answers = {3};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(pressed);
    ASSERT_EQ(states.size(), 3u);
    for (const PanelState &s : states) {
        EXPECT_EQ(s.Kind, 'R');
        EXPECT_TRUE(s.BusyDuring);
    }
    EXPECT_EQ(states[2].Label, "正在恢复：c - 手动");
}

TEST_F(PanelTest, ClosingTheFormDuringARunEndsCleanly)
{
    WriteBackup("[ServicesBackup]\na=3\nb=3\nc=3\nd=3\n");
    During = [&](const PanelState &s) {
        if (s.Current == 2)
            QMetaObject::invokeMethod(
                qApp, [this] { form.reset(); }, Qt::QueuedConnection);
    };
    answers = {3};
    form->ServicePage->Optimization->btnSvcOpti_RestoreClick(form->ServicePage->Optimization->btnSvcOpti_Restore);
    QDeadlineTimer deadline(20000);
    while (form && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(form, nullptr);
    EXPECT_GE(states.size(), 2u);
    EXPECT_LE(states.size(), 3u);
}

TEST_F(PanelTest, AFailedJobIsReportedAndNoOptimisationFollowsIt)
{
    bus->manager.setUnits({fakesd::Service("Spooler", "active", "enabled")});
    // The backup that "是" asks for cannot reach the service manager: it is reported, and the
    // optimisation that was to follow it does not run without it.
    const QByteArray saved = qgetenv(platform::services::kBusAddressVariable);
    IsolateFromSystemServices();
    answers = {3, 1};
    form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
    ASSERT_TRUE(WaitIdle());
    qputenv(platform::services::kBusAddressVariable, saved);
    ASSERT_EQ(shown.size(), 2u);
    // The cause is named: the manager, not the backup file, whose folder is fine.
    EXPECT_EQ(shown[1].Text, QStringLiteral("备份服务配置操作失败！\n\n无法连接服务管理器！"));
    EXPECT_EQ(shown[1].Title, QStringLiteral("失败"));
    EXPECT_EQ(shown[1].Icon, 5);
    EXPECT_EQ(shown[1].Buttons, 0);
    EXPECT_TRUE(states.empty());
    EXPECT_FALSE(QFileInfo::exists(BackupFile()));
    EXPECT_EQ(ActiveState("Spooler"), "active");
    EXPECT_FALSE(form->ServicePage->Optimization->pnlSvcOpti_Control->isHidden());
    EXPECT_TRUE(form->ServicePage->Optimization->pnlSvcOpti_Progress->isHidden());

    // "否" to the backup: the optimisation itself cannot reach the manager and says so.
    shown.clear();
    IsolateFromSystemServices();
    answers = {4, 1};
    form->ServicePage->Optimization->btnSvcOpti_OptimizeClick(form->ServicePage->Optimization->btnSvcOpti_Optimize);
    ASSERT_TRUE(WaitIdle());
    qputenv(platform::services::kBusAddressVariable, saved);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].Text, QStringLiteral("服务优化操作失败！\n\n无法连接服务管理器！"));
    EXPECT_EQ(ActiveState("Spooler"), "active");

    // With the manager back, a run that ends well shows nothing.
    shown.clear();
    form->ServicePage->Optimization->btnSvcOpti_BackupClick(form->ServicePage->Optimization->btnSvcOpti_Backup);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(QFileInfo::exists(BackupFile()));
}

TEST_F(PanelTest, ABackupWhoseFolderCannotBeMadeIsReportedAtOnce)
{
    bus->manager.setUnits({fakesd::Service("Spooler", "active", "enabled")});
    // The backup folder would lie below a plain file: the request is refused before any job
    // starts, so only the panel itself can say so.
    QFile blocker(dir.file("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    opt()->SetBackupDir(dir.file("blocker/Backup"));
    const QString file = opt()->GetDefaultBackupFile();
    auto *panel = form->ServicePage->Optimization.get();

    panel->btnSvcOpti_BackupClick(panel->btnSvcOpti_Backup);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("备份服务配置操作失败！\n\n") + file);
    EXPECT_EQ(shown[0].Title, QStringLiteral("失败"));
    EXPECT_FALSE(opt()->Busy());

    // Optimising with "是" to a backup first: the refused backup is reported and nothing is changed.
    shown.clear();
    answers = {3, 1};
    panel->btnSvcOpti_OptimizeClick(panel->btnSvcOpti_Optimize);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].Text, QStringLiteral("备份服务配置操作失败！\n\n") + file);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(panel->SvcOptiPendingOptions, -1);
    EXPECT_EQ(ActiveState("Spooler"), "active");
    EXPECT_FALSE(panel->pnlSvcOpti_Control->isHidden());
}
