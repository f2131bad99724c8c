// The services page of the main window and its commands.

#include "ui/frmMainServices.h"

#include "skin/SkinPng.h"
#include "sysinfo/Services.h"
#include "ui/DisplayTexts.h"
#include "ui/frmMainDetails.h"
#include "ui/PageCommon.h"
#include "ui/PngImage.h"
#include "ui/frmMessage.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QByteArrayView>
#include <QCursor>
#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QSet>
#include <QStringView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace {

// Columns of the service list.
enum : int { colName = 0, colDisplayName, colState, colStartType, colCommandLine };

// The row's image in the shared image list.
constexpr int kServiceImageRole = Qt::UserRole + 2;
// The service's name as the system gives it; the caption shows it made visible.
constexpr int kServiceNameRole = Qt::UserRole + 3;

QString RowName(const QTreeWidgetItem *Row)
{
    return Row->data(colName, kServiceNameRole).toString();
}

// A failed command on the named service.
void ReportServiceFailure(const char16_t *Format, const QString &Name)
{
    ReportFailure(QString::fromUtf16(Format).arg(ServiceNameText(Name)));
}

// What the optimisation panel takes from the list's height while it shows.
constexpr int kOptimizationPanelHeight = 228;

const char16_t kWaitStart[] = u"正在启动服务，请等待……";
const char16_t kWaitStop[] = u"正在停止服务，请等待……";
const char16_t kWaitPause[] = u"正在暂停服务，请等待……";
const char16_t kWaitResume[] = u"正在恢复服务，请等待……";
const char16_t kWaitRestart[] = u"正在重启服务，请等待……";
const char16_t kFailStart[] = u"启动服务操作失败！\r\r%1";
const char16_t kFailStop[] = u"停止服务操作失败！\r\r%1";
const char16_t kFailPause[] = u"暂停服务操作失败！\r\r%1";
const char16_t kFailResume[] = u"恢复服务操作失败！\r\r%1";
const char16_t kFailRestart[] = u"重启服务操作失败！\r\r%1";
const char16_t kFailStartType[] = u"设置启动类型操作失败！\r\r%1";
const char16_t kAskStop[] =
    u"停止服务可能将导致某些系统功能异常。是否确定要执行该操作？\r\r停止服务：%1\r\r服务描述：%2";

QPixmap ServicePicture(QStringView Name)
{
    return PngPixmap(EmbeddedPng(u":/pictures/services/", Name));
}

TPicButton *ServiceButton(QWidget *Parent, const char *Name, const QString &Caption)
{
    auto *b = new TPicButton(Parent);
    b->setObjectName(QLatin1String(Name));
    b->setFixedSize(100, 20);
    b->SetPicNormal(ServicePicture(u"button_normal"));
    b->SetPicMouseHover(ServicePicture(u"button_hover"));
    b->SetPicMouseDown(ServicePicture(u"button_down"));
    b->SetPicDisabled(ServicePicture(u"button_disabled"));
    SetButtonCaption(b, Caption);
    return b;
}

QString StateCell(TServiceState State)
{
    QString text;
    ServiceStateText(quint32(State), text);
    return text;
}

QString StartTypeCell(TServiceStartType StartType)
{
    QString text;
    StartTypeText(quint8(StartType), text);
    return text;
}

int RowImage(TServiceState State)
{
    switch (State) {
    case TServiceState::Stopped:
        return 1;
    case TServiceState::Paused:
        return 2;
    default:
        return 0;
    }
}

bool CanStop(const TServiceItem *Item)
{
    return Item->State != TServiceState::Stopped && Item->AcceptsStop;
}

bool CanPause(const TServiceItem *Item)
{
    return Item->State == TServiceState::Running && Item->AcceptsPause;
}

// Holds off the input to a window while a command runs beside its thread, which keeps running its
// event loop meanwhile: the window is disabled, and what the user does to it (a key the window
// would take itself, a shortcut) is dropped. A close asked for meanwhile (the user, the window
// system, a request to end the program) waits until the hold ends, so that nothing is torn down
// under the command.
class TInputHold : public QObject
{
public:
    explicit TInputHold(QWidget *Window) : m_Window(Window), m_WasEnabled(Window && Window->isEnabled())
    {
        if (!m_Window)
            return;
        m_Window->setEnabled(false);
        // Installed last, it sees the events before the window's own filter does.
        qApp->installEventFilter(this);
    }
    ~TInputHold() override
    {
        qApp->removeEventFilter(this);
        if (!m_Window)
            return;
        if (m_WasEnabled)
            m_Window->setEnabled(true);
        if (m_CloseWanted)
            m_Window->close();
    }
    TInputHold(const TInputHold &) = delete;
    TInputHold &operator=(const TInputHold &) = delete;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        auto *widget = qobject_cast<QWidget *>(Watched);
        if (!m_Window || !widget || widget->window() != m_Window)
            return false;
        switch (Event->type()) {
        case QEvent::Close:
            if (widget != m_Window)
                return false;
            m_CloseWanted = true;
            Event->ignore();
            return true;
        case QEvent::ShortcutOverride:
            // Taken here, no shortcut of the window fires; the key itself is dropped below.
            Event->accept();
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return false;
        }
    }

private:
    QPointer<QWidget> m_Window;
    bool m_WasEnabled;
    bool m_CloseWanted = false;
};

} // namespace

// ---- building the page -----------------------------------------------------------------------

TServicePage::TServicePage(const TPageContext &Context, QWidget *Page) : TListPage(Context, Page)
{
    BuildServicePage();
    objServices->OnReloaded = [this] { ServicesReloaded(); };
    Optimization = std::make_unique<TOptimizationPanel>(Page, lvServices, Context.DataDir);
    Optimization->OnRefreshList = [this] { RefreshServiceList(); };
}

TServicePage::~TServicePage()
{
    // A reading under way stops and hands nothing over: nothing of the page is reached any more.
    objServices->OnReloaded = nullptr;
    delete objServices;
    objServices = nullptr;
    DropList();
}

void TServicePage::BuildServicePage()
{
    QWidget *page = PagePanel();
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    lvServices = MakeList(page, "lvServices",
                          {{u"服务名", 100}, {u"显示名", 150}, {u"当前状态", 70}, {u"启动类型", 70}, {u"命令行", 235}});
    layout->addWidget(lvServices);
    objServices = new TServices(this);
    objServices->setObjectName(QStringLiteral("objServices"));

    // Row images: 0 any other state, 1 stopped, 2 paused.
    ilCommon = {QIcon(ServicePicture(u"service_running")), QIcon(ServicePicture(u"service_stopped")),
                QIcon(ServicePicture(u"service_paused"))};

    lvServices->setIconSize(QSize(16, 16));
    SetList(lvServices);
    for (int c : {colState, colStartType})
        lvServices->headerItem()->setTextAlignment(c, Qt::AlignCenter);

    QHBoxLayout *barLayout = NewButtonBar(page, "pnlServiceButtons");
    QWidget *bar = barLayout->parentWidget();
    btnStartService = ServiceButton(bar, "btnStartService", QStringLiteral("..."));
    btnPauseService = ServiceButton(bar, "btnPauseService", QStringLiteral("..."));
    btnServicesOptimization = ServiceButton(bar, "btnServicesOptimization", QStringLiteral("服务优化..."));
    btnRefreshServiceList = ServiceButton(bar, "btnRefreshServiceList", QStringLiteral("刷新列表"));
    btnStartService->setEnabled(false);
    btnPauseService->setEnabled(false);
    barLayout->addStretch(1);
    barLayout->addWidget(btnStartService);
    barLayout->addWidget(btnPauseService);
    barLayout->addWidget(btnServicesOptimization);
    barLayout->addWidget(btnRefreshServiceList);
    layout->addWidget(bar);

    btnStartService->OnClick = [this](QObject *S) { btnStartServiceClick(S); };
    btnPauseService->OnClick = [this](QObject *S) { btnPauseServiceClick(S); };
    btnServicesOptimization->OnClick = [this](QObject *S) { btnServicesOptimizationClick(S); };
    btnRefreshServiceList->OnClick = [this](QObject *S) { btnRefreshServiceListClick(S); };

    pmService = new QMenu(page);
    pmService->setObjectName(QStringLiteral("pmService"));
    pmService->setFont(PageFont(12));
    mniService_Start = AddMenuItem(pmService, "mniService_Start", QStringLiteral("启动服务"));
    mniService_Stop = AddMenuItem(pmService, "mniService_Stop", QStringLiteral("停止服务"));
    mniService_Line1 = AddMenuLine(pmService, "mniService_Line1");
    mniService_Pause = AddMenuItem(pmService, "mniService_Pause", QStringLiteral("暂停服务"));
    mniService_Resume = AddMenuItem(pmService, "mniService_Resume", QStringLiteral("恢复服务"));
    mniService_Line2 = AddMenuLine(pmService, "mniService_Line2");
    mniService_Restart = AddMenuItem(pmService, "mniService_Restart", QStringLiteral("重启服务"));
    mniService_Line3 = AddMenuLine(pmService, "mniService_Line3");
    mniService_StartupType = pmService->addMenu(QStringLiteral("设置启动类型"));
    mniService_StartupType->setObjectName(QStringLiteral("mniService_StartupType"));
    mniService_StartupType->setFont(PageFont(12));
    mniService_StartupTypeGroup = new QActionGroup(mniService_StartupType);
    mniService_StartupTypeGroup->setExclusive(true);
    mniService_StartupType_Automatic =
        AddMenuItem(mniService_StartupType, "mniService_StartupType_Automatic", QStringLiteral("自动"));
    mniService_StartupType_Manual =
        AddMenuItem(mniService_StartupType, "mniService_StartupType_Manual", QStringLiteral("手动"));
    mniService_StartupType_Disabled =
        AddMenuItem(mniService_StartupType, "mniService_StartupType_Disabled", QStringLiteral("禁用"));
    for (QAction *a : mniService_StartupType->actions()) {
        a->setCheckable(true);
        mniService_StartupTypeGroup->addAction(a);
    }

    connect(pmService, &QMenu::aboutToShow, this, [this] { pmServicePopup(pmService); });
    connect(mniService_StartupType, &QMenu::aboutToShow, this,
            [this] { mniService_StartupTypeClick(mniService_StartupType); });
    connect(mniService_Start, &QAction::triggered, this, [this] { mniService_StartClick(mniService_Start); });
    connect(mniService_Stop, &QAction::triggered, this, [this] { mniService_StopClick(mniService_Stop); });
    connect(mniService_Pause, &QAction::triggered, this, [this] { mniService_PauseClick(mniService_Pause); });
    connect(mniService_Resume, &QAction::triggered, this, [this] { mniService_ResumeClick(mniService_Resume); });
    connect(mniService_Restart, &QAction::triggered, this, [this] { mniService_RestartClick(mniService_Restart); });
    connect(mniService_StartupType_Automatic, &QAction::triggered, this,
            [this] { mniService_StartupType_AutomaticClick(mniService_StartupType_Automatic); });
    connect(mniService_StartupType_Manual, &QAction::triggered, this,
            [this] { mniService_StartupType_ManualClick(mniService_StartupType_Manual); });
    connect(mniService_StartupType_Disabled, &QAction::triggered, this,
            [this] { mniService_StartupType_DisabledClick(mniService_StartupType_Disabled); });
}

// ---- rows --------------------------------------------------------------------------------------

QTreeWidgetItem *TServicePage::NewServiceRow(int Index, const TServiceItem *Item)
{
    auto *row = new TListRow(this);
    const int image = RowImage(Item->State);
    row->Index = Index;
    row->setData(colName, kServiceImageRole, image);
    row->setIcon(colName, ilCommon.value(image));
    row->setData(colName, kServiceNameRole, Item->Name);
    row->setText(colName, ServiceNameText(Item->Name));
    row->setText(colDisplayName, VisibleText(Item->DisplayName));
    row->setText(colState, StateCell(Item->State));
    row->setText(colStartType, StartTypeCell(Item->StartType));
    row->setText(colCommandLine, VisibleText(Item->BinaryPath));
    row->setTextAlignment(colState, Qt::AlignCenter);
    row->setTextAlignment(colStartType, Qt::AlignCenter);
    return row;
}

void TServicePage::FillServiceList()
{
    m_FillWanted = true;
    objServices->ReloadInBackground();
}

void TServicePage::RefreshServiceList()
{
    if (!PagePanel()->isVisible() || lvServices->topLevelItemCount() < 1)
        return;
    m_RefreshWanted = true;
    objServices->ReloadInBackground();
}

void TServicePage::ServicesReloaded()
{
    const bool fill = std::exchange(m_FillWanted, false);
    const bool refresh = std::exchange(m_RefreshWanted, false);
    lvServices->setUpdatesEnabled(false);
    // With no services the old rows stay.
    if (fill && objServices->GetCount() >= 1)
        ShowServiceRows();
    else if (refresh)
        UpdateServiceRows();
    lvServices->setUpdatesEnabled(true);
    if (PagePanel()->isVisible())
        SetStatusText(StatusText());
    // The selected row's item is a new one now.
    UpdateServiceButtons();
    if (m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TServicePage::ShowServiceRows()
{
    lvServices->clear();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(objServices->GetCount());
    for (int i = 0; i < objServices->GetCount(); ++i)
        rows.append(NewServiceRow(i, objServices->GetItem(i)));
    lvServices->addTopLevelItems(rows);
    // A column clicked while the list was being read keeps its order.
    if (SortColumn != -1)
        SortList();
}

void TServicePage::UpdateServiceRows()
{
    // Without an answer the rows stay as they were: an empty list would claim there are no services.
    if (objServices->RefreshFailed())
        return;
    for (int i = lvServices->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem *row = lvServices->topLevelItem(i);
        const TServiceItem *item = objServices->ItemByName(RowName(row));
        if (!item) {
            delete lvServices->takeTopLevelItem(i);
            continue;
        }
        const QString state = StateCell(item->State);
        if (state.compare(row->text(colState), Qt::CaseInsensitive) != 0)
            row->setText(colState, state);
        const QString startType = StartTypeCell(item->StartType);
        if (startType.compare(row->text(colStartType), Qt::CaseInsensitive) != 0)
            row->setText(colStartType, startType);
    }

    const int n = objServices->GetCount();
    const int m = lvServices->topLevelItemCount();
    if (n >= 1 && m >= 1) {
        // Every service without a row gets one at the end, also when others went away at the
        // same time (the counts alone would hide such a newcomer).
        QSet<QString> shown;
        for (int i = 0; i < m; ++i)
            shown.insert(RowName(lvServices->topLevelItem(i)).toCaseFolded());
        QList<QTreeWidgetItem *> added;
        for (int i = 0; i < n; ++i) {
            const TServiceItem *item = objServices->GetItem(i);
            if (!shown.contains(item->Name.toCaseFolded()))
                added.append(NewServiceRow(i, item));
        }
        lvServices->addTopLevelItems(added);
        if (SortColumn != -1)
            SortList();
    }
}

TServiceItem *TServicePage::SelectedService() const
{
    const TListRow *row = SelectedRow();
    return row ? objServices->ItemByName(RowName(row)) : nullptr;
}

// ---- commands --------------------------------------------------------------------------------------

void TServicePage::ServiceCommand(TServiceCommand Code, TServiceStartType StartType)
{
    // One command at a time: its wait serves the window's events, and another asked for meanwhile
    // is refused.
    if (m_CommandRunning)
        return;
    TServiceItem *item = SelectedService();
    if (!item)
        return;
    // The page waits for every operation without a time limit.
    constexpr quint32 kNoTimeLimit = TServiceHelper::WAIT_INFINITE;
    QString name = item->Name;
    const QPointer<TServicePage> alive(this);
    m_CommandRunning = true;
    const auto running = qScopeGuard([&] {
        if (alive)
            m_CommandRunning = false;
    });
    // Declared after the guard: a close it held back comes before the page takes commands again.
    std::optional<TInputHold> hold;

    // The operation runs on a worker on an item of its own, which is re-read there afterwards;
    // the window's thread keeps running its events meanwhile. A list read in the background may
    // take the old one's place then, so the items are used only before the wait and looked up
    // again by name after it; a service that has gone meanwhile is skipped.
    auto beside = [&](const std::function<bool(TServiceItem &)> &Operation) {
        TServiceItem *now = objServices->ItemByName(name);
        if (!now)
            return false;
        auto own = std::make_shared<TServiceItem>();
        own->Name = now->Name;
        own->TakeReading(*now);
        const bool ok = TServiceHelper::RunBeside([own, Operation] { return Operation(*own); });
        if (!alive)
            return ok;
        if (TServiceItem *after = objServices->ItemByName(name))
            after->TakeReading(*own);
        return ok;
    };
    // One waiting operation: panel, operation, panel away, failure report.
    auto run = [&](const char16_t *WaitText, const char16_t *Failure,
                   const std::function<bool(TServiceItem &)> &Operation) {
        m_Context.Host->ShowWaiting(QString::fromUtf16(WaitText));
        const bool found = objServices->ItemByName(name) != nullptr;
        const bool ok = found && beside(Operation);
        if (!alive)
            return;
        m_Context.Host->HideWaiting();
        if (found && !ok)
            ReportServiceFailure(Failure, name);
    };
    auto holdInput = [&] { hold.emplace(m_Context.Host->HostWindow()); };

    switch (Code) {
    case TServiceCommand::Start:
        if (item->State != TServiceState::Stopped)
            return;
        holdInput();
        if (item->StartType == TServiceStartType::Disabled)
            beside([](TServiceItem &S) { return S.SetStartType(TServiceStartType::Manual); });
        if (!alive)
            return;
        run(kWaitStart, kFailStart, [](TServiceItem &S) { return S.Start(kNoTimeLimit); });
        break;
    case TServiceCommand::Stop: {
        const QString text = QString::fromUtf16(kAskStop).arg(ServiceNameText(name), VisibleText(item->Description));
        if (AskQuestion(text) == TMessageResult::No || !alive)
            return;
        // The list may have been reloaded while the question was open.
        item = SelectedService();
        if (!item || !CanStop(item))
            return;
        name = item->Name;
        holdInput();
        run(kWaitStop, kFailStop, [](TServiceItem &S) { return S.Stop(kNoTimeLimit); });
        break;
    }
    case TServiceCommand::Pause:
        if (!CanPause(item))
            return;
        holdInput();
        run(kWaitPause, kFailPause, [](TServiceItem &S) { return S.Pause(kNoTimeLimit); });
        break;
    case TServiceCommand::Resume:
        if (item->State != TServiceState::Paused)
            return;
        holdInput();
        run(kWaitResume, kFailResume, [](TServiceItem &S) { return S.Resume(kNoTimeLimit); });
        break;
    case TServiceCommand::Restart:
        if (!CanStop(item))
            return;
        holdInput();
        run(kWaitRestart, kFailRestart, [](TServiceItem &S) { return S.Restart(kNoTimeLimit); });
        break;
    case TServiceCommand::SetStartType:
        if (item->StartType == StartType)
            return;
        // No waiting panel here; the window takes no input all the same.
        holdInput();
        if (!beside([StartType](TServiceItem &S) { return S.ChangeStartType(StartType); }) && alive)
            ReportServiceFailure(kFailStartType, name);
        break;
    default:
        break;
    }
    if (!alive)
        return;
    RefreshServiceList();
    UpdateServiceButtons();
    // The panel shows the service as the command left it.
    if (m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TServicePage::UpdateServiceButtons()
{
    const TServiceItem *item = SelectedService();
    auto off = [](TPicButton *Button) {
        Button->setEnabled(false);
        Button->SetCaption(QStringLiteral("..."));
        Button->OnClick = nullptr;
    };
    auto on = [](TPicButton *Button, const QString &Caption, const TPicButton::TNotifyEvent &Click) {
        Button->setEnabled(true);
        Button->SetCaption(Caption);
        Button->OnClick = Click;
    };
    if (item && item->State == TServiceState::Stopped)
        on(btnStartService, QStringLiteral("启动"), [this](QObject *) { mniService_StartClick(mniService_Start); });
    else if (item && CanStop(item))
        on(btnStartService, QStringLiteral("停止"), [this](QObject *) { mniService_StopClick(mniService_Stop); });
    else
        off(btnStartService);
    if (item && CanPause(item))
        on(btnPauseService, QStringLiteral("暂停"), [this](QObject *) { mniService_PauseClick(mniService_Pause); });
    else if (item && item->State == TServiceState::Paused)
        on(btnPauseService, QStringLiteral("恢复"), [this](QObject *) { mniService_ResumeClick(mniService_Resume); });
    else
        off(btnPauseService);
}

void TServicePage::mniService_StartClick(QObject *)
{
    ServiceCommand(TServiceCommand::Start);
}

void TServicePage::mniService_StopClick(QObject *)
{
    ServiceCommand(TServiceCommand::Stop);
}

void TServicePage::mniService_PauseClick(QObject *)
{
    ServiceCommand(TServiceCommand::Pause);
}

void TServicePage::mniService_ResumeClick(QObject *)
{
    ServiceCommand(TServiceCommand::Resume);
}

void TServicePage::mniService_RestartClick(QObject *)
{
    ServiceCommand(TServiceCommand::Restart);
}

void TServicePage::mniService_StartupType_AutomaticClick(QObject *)
{
    ServiceCommand(TServiceCommand::SetStartType, TServiceStartType::Automatic);
}

void TServicePage::mniService_StartupType_ManualClick(QObject *)
{
    ServiceCommand(TServiceCommand::SetStartType, TServiceStartType::Manual);
}

void TServicePage::mniService_StartupType_DisabledClick(QObject *)
{
    ServiceCommand(TServiceCommand::SetStartType, TServiceStartType::Disabled);
}

void TServicePage::pmServicePopup(QObject *)
{
    const TServiceItem *item = SelectedService();
    if (!item)
        return; // the items keep their last state
    mniService_Start->setEnabled(item->State == TServiceState::Stopped);
    mniService_Stop->setEnabled(CanStop(item));
    mniService_Pause->setEnabled(CanPause(item));
    mniService_Resume->setEnabled(item->State == TServiceState::Paused);
    mniService_Restart->setEnabled(CanStop(item));
}

void TServicePage::mniService_StartupTypeClick(QObject *)
{
    const TServiceItem *item = SelectedService();
    if (!item)
        return;
    switch (item->StartType) {
    case TServiceStartType::Automatic:
        mniService_StartupType_Automatic->setChecked(true);
        break;
    case TServiceStartType::Manual:
        mniService_StartupType_Manual->setChecked(true);
        break;
    case TServiceStartType::Disabled:
        mniService_StartupType_Disabled->setChecked(true);
        break;
    default:
        break;
    }
}

// The state buttons get their click target from UpdateServiceButtons.
void TServicePage::btnStartServiceClick(QObject *) {}

void TServicePage::btnPauseServiceClick(QObject *) {}

void TServicePage::btnRefreshServiceListClick(QObject *)
{
    RefreshServiceList();
}

void TServicePage::btnServicesOptimizationClick(QObject *)
{
    TSkinImagePanel *pnlServicesOptimizaion = Optimization->pnlServicesOptimizaion;
    const bool show = !pnlServicesOptimizaion->isVisible();
    pnlServicesOptimizaion->setVisible(show);
    QLayout *layout = PagePanel()->layout();
    if (layout && layout->indexOf(pnlServicesOptimizaion) >= 0) {
        // The page's layout gives the panel its room.
        layout->activate();
    } else {
        const int h = lvServices->height() + (show ? -kOptimizationPanelHeight : kOptimizationPanelHeight);
        lvServices->setMaximumHeight(show ? qMax(0, h) : QWIDGETSIZE_MAX);
        if (layout)
            layout->activate();
    }
    if (m_Context.Details)
        m_Context.Details->PlaceBeside(lvServices);
}

// ---- list events -----------------------------------------------------------------------------

void TServicePage::lvServicesSelectItem(QObject *, QTreeWidgetItem *, bool Selected)
{
    UpdateServiceButtons();
    ListSelected(Selected);
}

void TServicePage::lvServicesClick(QObject *)
{
    ListClick();
}

void TServicePage::lvServicesMouseMove(QObject *, Qt::MouseButtons, int X, int Y)
{
    ListMouseMove(X, Y);
}

void TServicePage::lvServicesMouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int, int)
{
    if (Button == Qt::RightButton)
        pmService->popup(QCursor::pos());
}

void TServicePage::lvServicesColumnClick(QObject *, int Column)
{
    ListColumnClick(Column);
}

int TServicePage::lvServicesCompare(QObject *, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return CompareListTexts(A, B);
}

int TServicePage::CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return lvServicesCompare(lvServices, A, B);
}

void TServicePage::SelectItem(QTreeWidgetItem *Item, bool Selected)
{
    lvServicesSelectItem(lvServices, Item, Selected);
}

void TServicePage::Click()
{
    lvServicesClick(lvServices);
}

void TServicePage::MouseMove(Qt::MouseButtons Shift, int X, int Y)
{
    lvServicesMouseMove(lvServices, Shift, X, Y);
}

void TServicePage::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)
{
    lvServicesMouseDown(lvServices, Button, Shift, X, Y);
}

void TServicePage::ColumnClick(int Column)
{
    lvServicesColumnClick(lvServices, Column);
}

// ---- the page in the window --------------------------------------------------------------------

void TServicePage::FillPage()
{
    FillServiceList();
}

QString TServicePage::StatusText() const
{
    if (objServices->Reloading())
        return QStringLiteral("[服务管理] 正在读取服务列表……");
    if (objServices->RefreshFailed())
        return QStringLiteral("[服务管理] 无法连接服务管理器！");
    return QStringLiteral("[服务管理] 服务: %1").arg(objServices->GetCount());
}

void TServicePage::UpdateButtons()
{
    UpdateServiceButtons();
}

std::optional<QString> TServicePage::SearchValue(int Hot) const
{
    const TServiceItem *item = SelectedService();
    if (!item)
        return std::nullopt;
    return Hot == colDisplayName ? item->DisplayName : Hot == colCommandLine ? item->BinaryPath : item->Name;
}

bool TServicePage::AddDetails(TDetailsPanel &Panel)
{
    const TServiceItem *item = SelectedService();
    if (!item)
        return false;
    QString text;
    Panel.AddDetailLine(QStringLiteral("服务名"), ServiceNameText(item->Name), true);
    Panel.AddDetailLine(QStringLiteral("显示名"), VisibleText(item->DisplayName), true);
    Panel.AddDetailLine(QStringLiteral("命令行"), VisibleText(item->BinaryPath), true);
    Panel.AddDetailLine(QStringLiteral("宿主进程 ID"),
                        item->ProcessID == 0 ? QStringLiteral("N/A") : QString::number(item->ProcessID), true);
    ServiceStateText(quint32(item->State), text);
    Panel.AddDetailLine(QStringLiteral("当前状态"), text, true);
    StartTypeText(quint8(item->StartType), text);
    Panel.AddDetailLine(QStringLiteral("启动类型"), text, true);
    ServiceTypeText(item->ServiceType, text);
    Panel.AddDetailLine(QStringLiteral("服务类型"), text, true);
    Panel.AddDetailLine(QStringLiteral("描述"), VisibleText(item->Description), false);
    return true;
}
