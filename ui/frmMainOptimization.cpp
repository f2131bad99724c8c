// The service optimisation panel of the services page.

#include "ui/frmMainOptimization.h"

#include "sysinfo/Optimization.h"
#include "ui/DisplayTexts.h"
#include "ui/PageCommon.h"
#include "ui/frmMessage.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QProgressBar>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <limits>

namespace {

const char16_t kAskRestore[] = u"是否确定要将服务配置恢复到上一次备份的状态？";
const char16_t kAskBackupInstead[] = u"没有以往的备份数据。是否现在执行一次备份？";
const char16_t kAskBackupFirst[] = u"强烈建议在优化服务前先备份当前配置。是否执行备份？\r\r是：执行备份操作。（推荐）\r"
                                   u"否：不备份，直接执行优化操作。\r"
                                   u"取消：取消操作。";
const char16_t kBackingUp[] = u"正在备份";
const char16_t kRestoring[] = u"正在恢复";
const char16_t kOptimizing[] = u"正在优化";
const char16_t kBackingUpService[] = u"正在备份：%1 - %2";
const char16_t kRestoringService[] = u"正在恢复：%1 - %2";
const char16_t kOptimizingService[] = u"正在优化：%1 - %2";
const char16_t kFailBackup[] = u"备份服务配置操作失败！";
const char16_t kFailRestore[] = u"恢复服务配置操作失败！";
const char16_t kFailOptimize[] = u"服务优化操作失败！";
const char16_t kNoManager[] = u"无法连接服务管理器！";

constexpr int kPanelWidth = 460;
constexpr int kPanelHeight = 228;

// The panel's own ground behind the buttons' rounded corners.
const QColor kPanelColor(0xF7, 0xF9, 0xFC);

TPicButton *PanelButton(QWidget *Parent, const char *Name, const QString &Caption, int Left, int Top)
{
    auto *b = new TPicButton(Parent);
    b->setObjectName(QLatin1String(Name));
    const QSize size(80, 20);
    b->setGeometry(QRect(QPoint(Left, Top), size));
    SetButtonFaces(b, size, kPanelColor);
    SetButtonCaption(b, Caption, false);
    return b;
}

TLabel *PanelLabel(QWidget *Parent, const char *Name, const QString &Text, int Left, int Top, bool Bold = false)
{
    auto *l = new TLabel(Parent);
    l->setObjectName(QLatin1String(Name));
    l->setFont(PageFont(12, Bold));
    l->setText(Text);
    l->adjustSize();
    l->move(Left, Top);
    return l;
}

TOptimizationOptions OptionsOfFlags(int Flags)
{
    auto bit = [Flags](int I) { return (Flags & (1 << I)) != 0; };
    TOptimizationOptions o;
    o.AutomaticUpdates = bit(0);
    o.SystemRestore = bit(1);
    o.TaskSchedule = bit(2);
    o.WindowsFirewall = bit(3);
    o.CDBurning = bit(4);
    o.RemoteDesktopAssistance = bit(5);
    o.RoutingAndRemoteAccess = bit(6);
    o.WirelessConnection = bit(7);
    o.PrintSpooler = bit(8);
    o.Bluetooth = bit(9);
    o.ImageDevice = bit(10);
    o.SmartCard = bit(11);
    o.UPS = bit(12);
    return o;
}

} // namespace

TOptimizationPanel::TOptimizationPanel(QWidget *Page, QTreeWidget *List, const QString &DataDir)
{
    objOptimization = new TOptimization(this, DataDir);
    objOptimization->setObjectName(QStringLiteral("objOptimization"));
    objOptimization->OnBackuppingServices = [this](QObject *S, quint32 C, quint32 T, const QString &N, TServiceMode M) {
        objOptimizationBackuppingServices(S, C, T, N, M);
    };
    objOptimization->OnRestoringServices = [this](QObject *S, quint32 C, quint32 T, const QString &N, TServiceMode M) {
        objOptimizationRestoringServices(S, C, T, N, M);
    };
    objOptimization->OnOptimizingServices = [this](QObject *S, quint32 C, quint32 T, const QString &N, TServiceMode M) {
        objOptimizationOptimizingServices(S, C, T, N, M);
    };
    connect(objOptimization, &TOptimization::JobEnded, this,
            [this](quint8 Mode, bool Succeeded, TJobFailure Failure, const QString &Detail) {
                objOptimizationJobEnded(Mode, Succeeded, Failure, Detail);
            });

    auto *panel = new TSkinImagePanel(Page);
    pnlServicesOptimizaion = panel;
    panel->setObjectName(QStringLiteral("pnlServicesOptimizaion"));
    panel->SetColor(kPanelColor);
    panel->setFrameShape(QFrame::Box);
    panel->setFixedSize(kPanelWidth, kPanelHeight);

    lblSvcOpti_Title = PanelLabel(panel, "lblSvcOpti_Title",
                                  QStringLiteral("服务优化向导：请在下面勾选您可能需要使用到的系统功能。"), 0, 9, true);
    lblSvcOpti_Title->setGeometry(0, 9, kPanelWidth, lblSvcOpti_Title->height());
    lblSvcOpti_Title->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblSvcOpti_System = PanelLabel(panel, "lblSvcOpti_System", QStringLiteral("[系统扩展]"), 27, 38);
    lblSvcOpti_Network = PanelLabel(panel, "lblSvcOpti_Network", QStringLiteral("[网络扩展]"), 153, 38);
    lblSvcOpti_Device = PanelLabel(panel, "lblSvcOpti_Device", QStringLiteral("[设备支持]"), 285, 38);
    for (TLabel *l : {lblSvcOpti_System, lblSvcOpti_Network, lblSvcOpti_Device}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0x1F, 0x4F, 0x8F));
        l->setPalette(p);
    }

    struct TBox
    {
        TSkinCheckBox **Box;
        const char *Name;
        const char16_t *Caption;
        int Left, Top;
    };
    const TBox boxes[] = {
        {&chkSvcOpti_AutomaticUpdates, "chkSvcOpti_AutomaticUpdates", u"自动更新", 27, 57},
        {&chkSvcOpti_SystemRestore, "chkSvcOpti_SystemRestore", u"系统还原", 27, 82},
        {&chkSvcOpti_TaskSchedule, "chkSvcOpti_TaskSchedule", u"计划任务", 27, 107},
        {&chkSvcOpti_WindowsFirewall, "chkSvcOpti_WindowsFirewall", u"系统自带防火墙", 27, 132},
        {&chkSvcOpti_CDBurning, "chkSvcOpti_CDBurning", u"系统自带刻录功能", 27, 157},
        {&chkSvcOpti_RemoteDesktopAssistance, "chkSvcOpti_RemoteDesktopAssistance", u"远程桌面/协助", 153, 57},
        {&chkSvcOpti_RoutingAndRemoteAccess, "chkSvcOpti_RoutingAndRemoteAccess", u"路由功能/远程接入", 153, 82},
        {&chkSvcOpti_WirelessConnection, "chkSvcOpti_WirelessConnection", u"无线网络连接", 153, 107},
        {&chkSvcOpti_PrintSpooler, "chkSvcOpti_PrintSpooler", u"打印机", 285, 57},
        {&chkSvcOpti_Bluetooth, "chkSvcOpti_Bluetooth", u"蓝牙设备", 285, 82},
        {&chkSvcOpti_ImageDevice, "chkSvcOpti_ImageDevice", u"影像设备(摄像头/扫描仪)", 285, 107},
        {&chkSvcOpti_SmartCard, "chkSvcOpti_SmartCard", u"智能卡", 285, 157},
        {&chkSvcOpti_UPS, "chkSvcOpti_UPS", u"UPS 不间断供电设备", 285, 132},
    };
    for (const TBox &b : boxes) {
        auto *box = new TSkinCheckBox(panel);
        box->SetUIStyle(TSkinUIStyle::DeepBlue);
        box->SetTransparent(true);
        box->SetCaption(QString::fromUtf16(b.Caption));
        box->setObjectName(QLatin1String(b.Name));
        box->setFont(PageFont(12));
        box->setChecked(false);
        box->adjustSize();
        box->move(b.Left, b.Top);
        *b.Box = box;
    }

    pnlSvcOpti_Control = new TSkinImagePanel(panel);
    pnlSvcOpti_Control->setObjectName(QStringLiteral("pnlSvcOpti_Control"));
    pnlSvcOpti_Control->SetTransparent(true);
    pnlSvcOpti_Control->setGeometry(0, 182, kPanelWidth, 40);
    btnSvcOpti_Backup = PanelButton(pnlSvcOpti_Control, "btnSvcOpti_Backup", QStringLiteral("备份"), 17, 11);
    btnSvcOpti_Restore = PanelButton(pnlSvcOpti_Control, "btnSvcOpti_Restore", QStringLiteral("恢复"), 103, 11);
    btnSvcOpti_Optimize = PanelButton(pnlSvcOpti_Control, "btnSvcOpti_Optimize", QStringLiteral("优化!"), 363, 11);
    btnSvcOpti_Backup->OnClick = [this](QObject *S) { btnSvcOpti_BackupClick(S); };
    btnSvcOpti_Restore->OnClick = [this](QObject *S) { btnSvcOpti_RestoreClick(S); };
    btnSvcOpti_Optimize->OnClick = [this](QObject *S) { btnSvcOpti_OptimizeClick(S); };

    pnlSvcOpti_Progress = new TSkinImagePanel(panel);
    pnlSvcOpti_Progress->setObjectName(QStringLiteral("pnlSvcOpti_Progress"));
    pnlSvcOpti_Progress->SetTransparent(true);
    pnlSvcOpti_Progress->setGeometry(0, 182, kPanelWidth, 40);
    pbSvcOpti_Progress = new TSkinProgressBar(pnlSvcOpti_Progress);
    pbSvcOpti_Progress->SetUIStyle(TSkinUIStyle::MacOS);
    pbSvcOpti_Progress->setObjectName(QStringLiteral("pbSvcOpti_Progress"));
    pbSvcOpti_Progress->setGeometry(17, 5, 426, 17);
    pbSvcOpti_Progress->SetTextVisible(true);
    pbSvcOpti_Progress->SetRange(0, 100);
    pbSvcOpti_Progress->SetValue(50);
    lblSvcOpti_Progress = PanelLabel(pnlSvcOpti_Progress, "lblSvcOpti_Progress", QString(), 17, 22);
    lblSvcOpti_Progress->setGeometry(17, 22, 426, 16);
    pnlSvcOpti_Progress->hide();

    panel->hide();
    // Below the list, above whatever else the page stacks there; the list gives up the height.
    if (auto *layout = qobject_cast<QVBoxLayout *>(Page->layout())) {
        const int at = layout->indexOf(List);
        layout->insertWidget(at < 0 ? layout->count() : at + 1, panel, 0, Qt::AlignRight);
    } else {
        panel->move(187, 237);
    }
}

TOptimizationPanel::~TOptimizationPanel()
{
    // A job still running reports to nobody once the panel is gone.
    objOptimization->OnBackuppingServices = nullptr;
    objOptimization->OnRestoringServices = nullptr;
    objOptimization->OnOptimizingServices = nullptr;
    disconnect(objOptimization, nullptr, this, nullptr);
}

int TOptimizationPanel::SvcOptiCheckedFlags() const
{
    const QCheckBox *boxes[] = {chkSvcOpti_AutomaticUpdates,
                                chkSvcOpti_SystemRestore,
                                chkSvcOpti_TaskSchedule,
                                chkSvcOpti_WindowsFirewall,
                                chkSvcOpti_CDBurning,
                                chkSvcOpti_RemoteDesktopAssistance,
                                chkSvcOpti_RoutingAndRemoteAccess,
                                chkSvcOpti_WirelessConnection,
                                chkSvcOpti_PrintSpooler,
                                chkSvcOpti_Bluetooth,
                                chkSvcOpti_ImageDevice,
                                chkSvcOpti_SmartCard,
                                chkSvcOpti_UPS};
    int flags = 0;
    for (int i = 0; i < int(std::size(boxes)); ++i)
        if (boxes[i] && boxes[i]->isChecked())
            flags |= 1 << i;
    return flags;
}

bool TOptimizationPanel::StartBackup()
{
    // A request while a job runs is refused quietly, as every request then is. A backup refused
    // for want of its folder starts no job whose end could report it, so it is reported here.
    const bool wasBusy = objOptimization->Busy();
    if (!objOptimization->Backup(QString()) && !wasBusy) {
        ReportJobFailure(TOptimizationThread::omBackup, TJobFailure::File, objOptimization->GetDefaultBackupFile());
        return false;
    }
    pbSvcOpti_Progress->SetValue(1);
    lblSvcOpti_Progress->setText(QString::fromUtf16(kBackingUp));
    return true;
}

void TOptimizationPanel::ReportJobFailure(quint8 Mode, TJobFailure Failure, const QString &Detail)
{
    // No optimisation follows a backup that failed; the panel takes requests again.
    SvcOptiPendingOptions = -1;
    pnlSvcOpti_Progress->hide();
    pnlSvcOpti_Control->show();
    QString text = QString::fromUtf16(kFailOptimize);
    if (Mode == TOptimizationThread::omBackup)
        text = QString::fromUtf16(kFailBackup);
    else if (Mode == TOptimizationThread::omRestore)
        text = QString::fromUtf16(kFailRestore);
    // The cause follows: the manager, or the file or the service that failed.
    QString reason = VisibleText(Detail);
    if (Failure == TJobFailure::Manager)
        reason = QString::fromUtf16(kNoManager);
    else if (Failure == TJobFailure::Service)
        reason = ServiceNameText(Detail);
    if (!reason.isEmpty())
        text += QStringLiteral("\r\r") + reason;
    ReportFailure(text);
}

void TOptimizationPanel::btnSvcOpti_BackupClick(QObject *)
{
    StartBackup();
}

void TOptimizationPanel::btnSvcOpti_RestoreClick(QObject *)
{
    if (QFileInfo::exists(objOptimization->GetDefaultBackupFile())) {
        if (AskQuestion(QString::fromUtf16(kAskRestore)) != TMessageResult::Yes)
            return;
        objOptimization->Restore(QString());
        pbSvcOpti_Progress->SetValue(1);
        lblSvcOpti_Progress->setText(QString::fromUtf16(kRestoring));
        return;
    }
    if (AskQuestion(QString::fromUtf16(kAskBackupInstead)) != TMessageResult::Yes)
        return;
    StartBackup();
}

void TOptimizationPanel::btnSvcOpti_OptimizeClick(QObject *)
{
    const int flags = SvcOptiCheckedFlags();
    bool afterBackup = false;
    if (!QFileInfo::exists(objOptimization->GetDefaultBackupFile())) {
        const TMessageResult answer =
            TFormMessage::MessageBox(QString::fromUtf16(kAskBackupFirst), QStringLiteral("注意"), TMessageIcon::Warning,
                                     TMessageButtons::YesNoCancel);
        if (answer == TMessageResult::Yes) {
            // The optimisation waits for the backup it asked for: it starts when that job ends
            // (its end is queued to this thread, so it cannot pass before the wait is set).
            const bool wasBusy = objOptimization->Busy();
            if (!StartBackup())
                return;
            afterBackup = !wasBusy;
        } else if (answer != TMessageResult::No) {
            return; // "取消", the close button or Esc
        }
    }
    if (afterBackup)
        SvcOptiPendingOptions = flags;
    else
        objOptimization->Optimize(OptionsOfFlags(flags));
    pbSvcOpti_Progress->SetValue(1);
    lblSvcOpti_Progress->setText(QString::fromUtf16(kOptimizing));
}

void TOptimizationPanel::objOptimizationJobEnded(quint8 Mode, bool Succeeded, TJobFailure Failure,
                                                 const QString &Detail)
{
    if (!Succeeded) {
        ReportJobFailure(Mode, Failure, Detail);
        return;
    }
    if (SvcOptiPendingOptions < 0)
        return;
    const int flags = SvcOptiPendingOptions;
    SvcOptiPendingOptions = -1;
    objOptimization->Optimize(OptionsOfFlags(flags));
    pbSvcOpti_Progress->SetValue(1);
    lblSvcOpti_Progress->setText(QString::fromUtf16(kOptimizing));
}

void TOptimizationPanel::SvcOptiProgress(const QString &Format, quint32 dwCurrent, quint32 dwTotal,
                                         const QString &strServiceName, TServiceMode Mode, bool RefreshList)
{
    // The panels' own visibility, whether or not the page shows at the moment.
    if (!pnlSvcOpti_Control->isHidden())
        pnlSvcOpti_Control->hide();
    if (pnlSvcOpti_Progress->isHidden())
        pnlSvcOpti_Progress->show();
    // The bar counts in int; a job never has that many services, but the text stays honest.
    const int total = int(qMin<quint32>(dwTotal, quint32(std::numeric_limits<int>::max())));
    const int current = int(qMin<quint32>(dwCurrent, quint32(std::numeric_limits<int>::max())));
    if (total != pbSvcOpti_Progress->Maximum())
        pbSvcOpti_Progress->SetMaximum(total);
    pbSvcOpti_Progress->SetValue(current);
    QString mode;
    StartModeText(quint8(Mode), mode);
    lblSvcOpti_Progress->setText(Format.arg(ServiceNameText(strServiceName), mode));
    if (dwCurrent == dwTotal) {
        pnlSvcOpti_Progress->hide();
        pnlSvcOpti_Control->show();
        if (RefreshList && OnRefreshList)
            OnRefreshList();
    }
}

void TOptimizationPanel::objOptimizationBackuppingServices(QObject *, quint32 dwCurrent, quint32 dwTotal,
                                                           const QString &strServiceName, TServiceMode Mode)
{
    SvcOptiProgress(QString::fromUtf16(kBackingUpService), dwCurrent, dwTotal, strServiceName, Mode, false);
    // Lets the user follow a backup, which would otherwise be over in a blink.
    QThread::msleep(10);
}

void TOptimizationPanel::objOptimizationRestoringServices(QObject *, quint32 dwCurrent, quint32 dwTotal,
                                                          const QString &strServiceName, TServiceMode Mode)
{
    SvcOptiProgress(QString::fromUtf16(kRestoringService), dwCurrent, dwTotal, strServiceName, Mode, true);
}

void TOptimizationPanel::objOptimizationOptimizingServices(QObject *, quint32 dwCurrent, quint32 dwTotal,
                                                           const QString &strServiceName, TServiceMode Mode)
{
    SvcOptiProgress(QString::fromUtf16(kOptimizingService), dwCurrent, dwTotal, strServiceName, Mode, true);
}
