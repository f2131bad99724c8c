// The network page of the main window: the endpoint list and the traffic chart.

#include "ui/frmMainNetwork.h"

#include "sysinfo/FileProperties.h"
#include "sysinfo/NetworkMonitor.h"
#include "ui/DisplayTexts.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainProcess.h"
#include "ui/PageCommon.h"
#include "ui/frmMessage.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cstring>

namespace {

// Scales the automatic left axis to the largest value shown, on round numbers, so that whole-number
// labels never repeat (a range of 0 to 1 would label four lines "0" or "1").
void SetTrafficScale(QValueAxis *Axis, qreal Largest)
{
    Axis->setRange(0, qMax(Largest * 1.1, 4.0));
    Axis->applyNiceNumbers();
}

// Columns of the endpoint list.
enum : int { colName = 0, colType, colLocal, colRemote, colState, colPid, colPath };

// Whether a chart series is switched on in the legend.
constexpr char kActiveProperty[] = "active";

// The chart shows this many ticks.
constexpr double kTrafficWindow = 200.0;
constexpr int kChartHeight = 200;
constexpr int kLegendWidth = 60;

const char16_t kCriticalRefused[] = u"这是关键系统进程，不允许执行该操作！\r\r%1 [%2]";
const char16_t kConfirmTerminate[] = u"结束进程可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。是否确定"
                                     u"要执行该操作？\r\r结束进程：%1 [%2]";
const char16_t kFailTerminate[] = u"结束进程操作失败！\r\r%1 [%2]";

const QColor kChartColor(0, 0, 64);
const QColor kMonitorColor(Qt::white);
const QColor kSendColor(0, 255, 255);
const QColor kReceiveColor(0, 255, 0);

QString AddressText(quint32 Address, quint32 Port)
{
    QString text;
    IPv4PortText(Address, Port, text);
    return text;
}

// 0.0.0.0 or 127.0.0.1 (the four bytes in network order).
bool IsAnyOrLoopback(quint32 Address)
{
    static const unsigned char kLoopback[4] = {127, 0, 0, 1};
    return Address == 0 || std::memcmp(&Address, kLoopback, 4) == 0;
}

// The owner's name and identifier cells: empty for an endpoint whose owner could not be read.
QString OwnerNameText(const TConnectionItem *Item)
{
    if (!Item->HasOwner)
        return QString();
    return Item->ProcessID == 0 ? QStringLiteral("System Idle Process") : VisibleText(Item->ProcessName);
}

QString OwnerIDText(const TConnectionItem *Item)
{
    return Item->HasOwner ? QString::number(Item->ProcessID) : QString();
}

QString EndpointText(const char16_t *Format, const QString &Name, quint32 Pid)
{
    return QString::fromUtf16(Format).arg(VisibleText(Name), QString::number(Pid));
}

QString EndpointText(const char16_t *Format, const TConnectionItem *Item)
{
    return EndpointText(Format, Item->ProcessName, Item->ProcessID);
}

bool SeriesActive(const QLineSeries *Series)
{
    return Series->property(kActiveProperty).toBool();
}

// The largest value among the points from `From` on.
qreal LargestSince(const QLineSeries *Series, qreal From)
{
    qreal top = 0;
    const QList<QPointF> points = Series->points();
    for (auto it = points.crbegin(); it != points.crend() && it->x() >= From; ++it)
        top = qMax(top, it->y());
    return top;
}

} // namespace

// ---- building the page -----------------------------------------------------------------------

TNetworkPage::TNetworkPage(const TPageContext &Context, QWidget *Page, TProcessPage *Processes, QTimer *TrafficTimer)
    : TListPage(Context, Page), m_Processes(Processes), m_TrafficTimer(TrafficTimer)
{
    BuildNetworkPage();
}

TNetworkPage::~TNetworkPage()
{
    if (chtNetTraffic)
        chtNetTraffic->removeEventFilter(this);
    DropList();
}

bool TNetworkPage::eventFilter(QObject *Watched, QEvent *Event)
{
    if (chtNetTraffic && Watched == chtNetTraffic) {
        if (Event->type() == QEvent::Resize)
            LayOutChart();
        return false;
    }
    return TListPage::eventFilter(Watched, Event);
}

void TNetworkPage::LayOutChart()
{
    const int w = chtNetTraffic->width(), h = chtNetTraffic->height();
    lblTrafficTitle->setGeometry(10, 8, 200, 20);
    cbbInterfaceList->setGeometry(qMax(220, w - 10 - 260), 6, qMin(260, qMax(40, w - 230)), 22);
    lblTrafficSend->setGeometry(kLegendWidth + 10, h - 36, qMax(0, w - kLegendWidth - 20), 16);
    lblTrafficReceive->setGeometry(kLegendWidth + 10, h - 19, qMax(0, w - kLegendWidth - 20), 16);
}

void TNetworkPage::BuildNetworkPage()
{
    QWidget *page = PagePanel();
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    lvConnections = MakeList(page, "lvConnections",
                             {{u"进程名", 100},
                              {u"类型", 40},
                              {u"本地 IP:端口", 120},
                              {u"远程 IP:端口", 120},
                              {u"当前状态", 80},
                              {u"进程 ID", 55},
                              {u"进程路径", 200}});
    layout->addWidget(lvConnections);
    chkHideLocalConnections = new TSkinCheckBox(page);
    chkHideLocalConnections->setObjectName(QStringLiteral("chkHideLocalConnections"));
    chkHideLocalConnections->SetUIStyle(TSkinUIStyle::BlueGlass);
    chkHideLocalConnections->SetTransparent(true);
    chkHideLocalConnections->SetCaption(QStringLiteral("隐藏本地连接"));
    chkHideLocalConnections->setChecked(true);
    objNetworkMonitor = new TNetworkMonitor(this);
    objNetworkMonitor->setObjectName(QStringLiteral("objNetworkMonitor"));

    // The list; it has no context menu.
    SetList(lvConnections);
    lvConnections->headerItem()->setTextAlignment(colType, Qt::AlignCenter);
    lvConnections->headerItem()->setTextAlignment(colPid, Qt::AlignRight | Qt::AlignVCenter);

    // The chart above the list.
    auto *chart = new QChart;
    chart->setBackgroundBrush(kChartColor);
    chart->setBackgroundRoundness(0);
    // The legend has a column of its own left of the plot, so that it never lies on the axis.
    chart->setMargins(QMargins(kLegendWidth + 4, 30, 10, 40));
    chart->setAnimationOptions(QChart::NoAnimation);
    chtNetTraffic = new QChartView(chart, page);
    chtNetTraffic->setObjectName(QStringLiteral("chtNetTraffic"));
    chtNetTraffic->setRenderHint(QPainter::Antialiasing);
    chtNetTraffic->setFixedHeight(kChartHeight);
    chtNetTraffic->setBackgroundBrush(kChartColor);

    AxTrafficBottom = new QValueAxis(chart);
    AxTrafficBottom->setRange(0, kTrafficWindow);
    AxTrafficBottom->setTickInterval(1);
    AxTrafficBottom->setVisible(false);
    AxTrafficLeft = new QValueAxis(chart);
    AxTrafficLeft->setLabelFormat(QStringLiteral("%.0f"));
    SetTrafficScale(AxTrafficLeft, 0);
    AxTrafficLeft->setLabelsColor(Qt::white);
    AxTrafficLeft->setLinePenColor(Qt::white);
    AxTrafficLeft->setGridLineColor(QColor(0x30, 0x30, 0x80));
    chart->addAxis(AxTrafficBottom, Qt::AlignBottom);
    chart->addAxis(AxTrafficLeft, Qt::AlignLeft);

    auto series = [chart, this](const char *Name, const QString &Title, const QColor &Colour) {
        auto *s = new QLineSeries(chart);
        s->setObjectName(QLatin1String(Name));
        s->setName(Title);
        s->setColor(Colour);
        s->setPointsVisible(false);
        s->setPointLabelsVisible(false);
        s->setProperty(kActiveProperty, true);
        chart->addSeries(s);
        s->attachAxis(AxTrafficBottom);
        s->attachAxis(AxTrafficLeft);
        return s;
    };
    tsTrafficMonitor = series("tsTrafficMonitor", QStringLiteral("监控"), kMonitorColor);
    tsTrafficSend = series("tsTrafficSend", QStringLiteral("发送"), kSendColor);
    tsTrafficReceive = series("tsTrafficReceive", QStringLiteral("接收"), kReceiveColor);

    QLegend *legend = chart->legend();
    legend->setVisible(true);
    legend->setFont(PageFont(11));
    legend->setAlignment(Qt::AlignLeft);
    legend->detachFromChart();
    legend->setBackgroundVisible(false);
    legend->setGeometry(QRectF(4, 36, kLegendWidth, 96));
    legend->update();
    for (QLegendMarker *marker : legend->markers()) {
        auto *s = qobject_cast<QLineSeries *>(marker->series());
        if (!s)
            continue;
        marker->setLabelBrush(s->color());
        // The legend entry works as the series' check box.
        connect(marker, &QLegendMarker::clicked, this, [this, marker, s] {
            const bool active = !SeriesActive(s);
            s->setProperty(kActiveProperty, active);
            s->setOpacity(active ? 1.0 : 0.0);
            QColor c = s->color();
            c.setAlpha(active ? 255 : 90);
            marker->setLabelBrush(c);
            marker->setBrush(c);
            chtNetTrafficClickLegend(chtNetTraffic);
        });
    }

    lblTrafficTitle = new TLabel(chtNetTraffic);
    lblTrafficTitle->setObjectName(QStringLiteral("lblTrafficTitle"));
    lblTrafficTitle->setText(QStringLiteral("网络流量"));
    lblTrafficTitle->setFont(PageFont(13, true));
    cbbInterfaceList = new QComboBox(chtNetTraffic);
    cbbInterfaceList->setObjectName(QStringLiteral("cbbInterfaceList"));
    cbbInterfaceList->setFont(PageFont(11));
    lblTrafficSend = new TLabel(chtNetTraffic);
    lblTrafficSend->setObjectName(QStringLiteral("lblTrafficSend"));
    lblTrafficReceive = new TLabel(chtNetTraffic);
    lblTrafficReceive->setObjectName(QStringLiteral("lblTrafficReceive"));
    for (TLabel *l : {lblTrafficTitle, lblTrafficSend, lblTrafficReceive}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        l->setPalette(p);
        if (l != lblTrafficTitle)
            l->setFont(PageFont(11));
    }
    lblTrafficSend->setText(QStringLiteral("发送(当前/总计) - 0.00 KB / 0.00 KB"));
    lblTrafficReceive->setText(QStringLiteral("接收(当前/总计) - 0.00 KB / 0.00 KB"));
    connect(cbbInterfaceList, &QComboBox::activated, this, [this] { cbbInterfaceListChange(cbbInterfaceList); });
    chtNetTraffic->installEventFilter(this);
    layout->insertWidget(0, chtNetTraffic);

    // The buttons below the list, with the check box beside them.
    QHBoxLayout *barLayout = NewButtonBar(page, "pnlConnectionButtons");
    QWidget *bar = barLayout->parentWidget();
    btnTerminateConnection = PageButton(bar, "btnTerminateConnection", QStringLiteral("结束进程"), QSize(100, 20));
    btnRefreshConnectionList = PageButton(bar, "btnRefreshConnectionList", QStringLiteral("刷新列表"), QSize(100, 20));
    btnTerminateConnection->setEnabled(false);
    barLayout->addWidget(chkHideLocalConnections);
    barLayout->addStretch(1);
    barLayout->addWidget(btnTerminateConnection);
    barLayout->addWidget(btnRefreshConnectionList);
    layout->addWidget(bar);

    chkHideLocalConnections->OnClick = [this](QObject *S) { chkHideLocalConnectionsClick(S); };
    btnTerminateConnection->OnClick = [this](QObject *S) { btnTerminateConnectionClick(S); };
    btnRefreshConnectionList->OnClick = [this](QObject *S) { btnRefreshConnectionListClick(S); };
}

// ---- the endpoint list -------------------------------------------------------------------------

void TNetworkPage::FillConnectionList(bool HideLocal)
{
    lvConnections->setUpdatesEnabled(false);
    lvConnections->clear();
    // One look at each owner's program, not one per endpoint: the file the owner runs, opened
    // through the process, never what its path names.
    TFileProperties properties;
    QHash<QPair<quint32, quint64>, int> icons;
    auto iconOf = [&](const TConnectionItem *Item) {
        if (!Item->HasOwner || !Item->ProcessStartTime)
            return -1;
        const QPair<quint32, quint64> owner(Item->ProcessID, *Item->ProcessStartTime);
        const auto it = icons.constFind(owner);
        if (it != icons.cend())
            return *it;
        int index = -1;
        if (properties.LoadFromImage(objNetworkMonitor->OpenOwnerImage(*Item), Item->ProcessPath, QString()))
            index = properties.GeneralInfo()->IconIndex;
        properties.Clear();
        icons.insert(owner, index);
        return index;
    };
    auto addRow = [&](const TConnectionItem *Item, int Index, const QString &Type, const QString &Local,
                      const QString &Remote, const QString &State) {
        auto *row = new TListRow(this);
        row->Index = Index;
        row->setData(colName, kImageIndexRole, iconOf(Item));
        row->setText(colName, OwnerNameText(Item));
        row->setText(colType, Type);
        row->setText(colLocal, Local);
        row->setText(colRemote, Remote);
        row->setText(colState, State);
        row->setText(colPid, OwnerIDText(Item));
        row->setText(colPath, VisibleText(Item->ProcessPath));
        row->setTextAlignment(colType, Qt::AlignCenter);
        row->setTextAlignment(colPid, Qt::AlignRight | Qt::AlignVCenter);
        lvConnections->addTopLevelItem(row);
    };

    objNetworkMonitor->RefreshTCP();
    for (int i = 0; i < objNetworkMonitor->GetTCPCount(); ++i) {
        const TTCPItem *item = objNetworkMonitor->GetTCPItem(i);
        if (HideLocal && IsLocalConnection(item))
            continue;
        QString state;
        TCPStateText(item->State, state);
        addRow(item, i, QStringLiteral("TCP"), AddressText(item->LocalAddress, item->LocalPort),
               AddressText(item->RemoteAddress, item->RemotePort), state);
    }
    objNetworkMonitor->RefreshUDP();
    for (int i = 0; i < objNetworkMonitor->GetUDPCount(); ++i) {
        const TUDPItem *item = objNetworkMonitor->GetUDPItem(i);
        if (HideLocal && IsLocalConnection(item))
            continue;
        addRow(item, i, QStringLiteral("UDP"), AddressText(item->LocalAddress, item->LocalPort), QStringLiteral("N/A"),
               QStringLiteral("N/A"));
    }
    lvConnections->setUpdatesEnabled(true);
    // The rows are new: the selection, and with it the command button, starts afresh.
    UpdateConnectionButtons();
}

void TNetworkPage::RefreshConnectionList(bool HideLocal)
{
    // The fill of a shown page reads the endpoint tables itself: each is read once either way.
    if (!PagePanel()->isVisible()) {
        objNetworkMonitor->RefreshTCP();
        objNetworkMonitor->RefreshUDP();
        return;
    }
    FillConnectionList(HideLocal);
    SetStatusText(StatusText());
    if (SortColumn != -1)
        SortList();
}

bool TNetworkPage::IsLocalConnection(const TConnectionItem *Item) const
{
    if (!Item)
        return false;
    const QString kind = Item->ClassName();
    if (kind == QLatin1String("TTCPItem")) {
        const auto *tcp = static_cast<const TTCPItem *>(Item);
        return m_Processes->IsSystemPID(tcp->ProcessID) || IsAnyOrLoopback(tcp->LocalAddress) ||
            IsAnyOrLoopback(tcp->RemoteAddress);
    }
    if (kind == QLatin1String("TUDPItem")) {
        const auto *udp = static_cast<const TUDPItem *>(Item);
        return m_Processes->IsSystemPID(udp->ProcessID) || IsAnyOrLoopback(udp->LocalAddress);
    }
    return false;
}

TConnectionItem *TNetworkPage::SelectedConnection() const
{
    const TListRow *row = SelectedRow();
    if (!row || row->Index < 0)
        return nullptr;
    const int index = row->Index;
    const QString type = row->text(colType);
    if (type.compare(QLatin1String("TCP"), Qt::CaseInsensitive) == 0)
        return objNetworkMonitor->GetTCPItem(index);
    if (type.compare(QLatin1String("UDP"), Qt::CaseInsensitive) == 0)
        return objNetworkMonitor->GetUDPItem(index);
    return nullptr;
}

void TNetworkPage::ConnectionCommand(quint8 Code)
{
    if (Code != 0)
        return;
    TConnectionItem *item = SelectedConnection();
    if (!item || !item->HasOwner || m_Processes->IsSystemPID(item->ProcessID))
        return;
    if (m_Processes->IsCriticalProcess(objNetworkMonitor->OwnerImageFacts(*item))) {
        ReportRefusal(EndpointText(kCriticalRefused, item));
        return;
    }
    const quint32 pid = item->ProcessID;
    const std::optional<quint64> started = item->ProcessStartTime;
    const QString name = item->ProcessName;
    if (AskWarning(EndpointText(kConfirmTerminate, item)) != TMessageResult::Yes)
        return;
    // The endpoint lists may have been rebuilt while the question was open: act only on the
    // process that was asked about.
    item = SelectedConnection();
    if (!item || item->ProcessID != pid || item->ProcessStartTime != started)
        return;
    if (!item->Terminate()) {
        ReportFailure(EndpointText(kFailTerminate, name, pid));
        return;
    }
    // The process is gone: the panel no longer describes its endpoint.
    if (m_Context.Details && m_Context.Details->Source == this && m_Context.Details->pnlDetails->isVisible())
        m_Context.Details->ShowHint();
}

void TNetworkPage::UpdateConnectionButtons()
{
    const TConnectionItem *item = SelectedConnection();
    btnTerminateConnection->setEnabled(item && item->HasOwner && !m_Processes->IsSystemPID(item->ProcessID));
}

// ---- list handlers ------------------------------------------------------------------------------

void TNetworkPage::lvConnectionsSelectItem(QObject *, QTreeWidgetItem *, bool Selected)
{
    UpdateConnectionButtons();
    ListSelected(Selected);
}

void TNetworkPage::lvConnectionsClick(QObject *)
{
    ListClick();
}

void TNetworkPage::lvConnectionsMouseMove(QObject *, Qt::MouseButtons, int X, int Y)
{
    ListMouseMove(X, Y);
}

void TNetworkPage::lvConnectionsColumnClick(QObject *, int Column)
{
    ListColumnClick(Column);
}

int TNetworkPage::lvConnectionsCompare(QObject *, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return CompareListTexts(A, B);
}

int TNetworkPage::CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return lvConnectionsCompare(lvConnections, A, B);
}

void TNetworkPage::SelectItem(QTreeWidgetItem *Item, bool Selected)
{
    lvConnectionsSelectItem(lvConnections, Item, Selected);
}

void TNetworkPage::Click()
{
    lvConnectionsClick(lvConnections);
}

void TNetworkPage::MouseMove(Qt::MouseButtons Shift, int X, int Y)
{
    lvConnectionsMouseMove(lvConnections, Shift, X, Y);
}

void TNetworkPage::ColumnClick(int Column)
{
    lvConnectionsColumnClick(lvConnections, Column);
}

void TNetworkPage::chkHideLocalConnectionsClick(QObject *)
{
    RefreshConnectionList(chkHideLocalConnections->isChecked());
}

void TNetworkPage::btnRefreshConnectionListClick(QObject *)
{
    RefreshConnectionList(chkHideLocalConnections->isChecked());
}

void TNetworkPage::btnTerminateConnectionClick(QObject *)
{
    ConnectionCommand(0);
}

// ---- the traffic chart --------------------------------------------------------------------------

void TNetworkPage::FillInterfaceList()
{
    const QSignalBlocker quiet(cbbInterfaceList);
    cbbInterfaceList->clear();
    objNetworkMonitor->RefreshInterfaces();
    const int count = objNetworkMonitor->GetInterfaceCount();
    if (count >= 1) {
        InterfaceMap = QList<int>(count, 0);
        int at = 0;
        for (int i = 0; i < count; ++i) {
            const TNetInterface *item = objNetworkMonitor->GetInterface(i);
            if (!item || item->OperStatus < 3 || IsAnyOrLoopback(item->IPAddress))
                continue;
            unsigned char b[4];
            std::memcpy(b, &item->IPAddress, 4);
            cbbInterfaceList->addItem(QStringLiteral("%1 [%2.%3.%4.%5]")
                                          .arg(VisibleText(item->Description), QString::number(b[0]),
                                               QString::number(b[1]), QString::number(b[2]), QString::number(b[3])));
            InterfaceMap[at++] = i;
        }
    }
    if (cbbInterfaceList->count() > 0) {
        if (cbbInterfaceList->count() <= InterfaceListTag) {
            cbbInterfaceList->setCurrentIndex(0);
            InterfaceListTag = 0;
        } else {
            cbbInterfaceList->setCurrentIndex(InterfaceListTag);
        }
    }
}

void TNetworkPage::cbbInterfaceListChange(QObject *)
{
    const int chosen = cbbInterfaceList->currentIndex();
    if (chosen == InterfaceListTag)
        return;
    tsTrafficSend->clear();
    tsTrafficReceive->clear();
    DropPendingTraffic();
    InterfaceListTag = chosen;
}

void TNetworkPage::tmrTrafficTimer(QObject *)
{
    TrafficTick();
}

void TNetworkPage::TrafficTick()
{
    objNetworkMonitor->RefreshInterfaces();
    const int chosen = cbbInterfaceList->currentIndex();
    if (chosen < 0 || chosen >= InterfaceMap.size())
        return;
    const int index = InterfaceMap[chosen];
    if (index < 0 || index >= InterfaceMap.size())
        return;
    const TNetInterface *item = objNetworkMonitor->GetInterface(index);
    if (!item)
        return;

    // Sampled on every page; a hidden page's chart draws its samples when it shows.
    const qreal x = AxTrafficBottom->max() + m_PendingSteps + 1.0;
    m_PendingSend.append(QPointF(x, qreal(item->OutDelta)));
    m_PendingReceive.append(QPointF(x, qreal(item->InDelta)));
    for (QList<QPointF> *pending : {&m_PendingSend, &m_PendingReceive}) {
        if (pending->size() > int(kTrafficWindow) + 2)
            pending->remove(0, pending->size() - (int(kTrafficWindow) + 2));
    }
    ++m_PendingSteps;
    m_PendingSendText =
        QStringLiteral("发送(当前/总计) - %1 Bytes / %2 Bytes").arg(item->OutDelta).arg(item->OutOctets);
    m_PendingReceiveText =
        QStringLiteral("接收(当前/总计) - %1 Bytes / %2 Bytes").arg(item->InDelta).arg(item->InOctets);
    if (!PagePanel()->isHidden())
        FlushTraffic();
}

void TNetworkPage::FlushTraffic()
{
    if (m_PendingSteps == 0)
        return;
    tsTrafficSend->append(m_PendingSend);
    tsTrafficReceive->append(m_PendingReceive);
    AxTrafficBottom->setRange(AxTrafficBottom->min() + m_PendingSteps, AxTrafficBottom->max() + m_PendingSteps);
    // Points that have scrolled out of the window can never be seen again: they go, so that
    // a chart left running for days neither grows nor slows.
    const qreal left = AxTrafficBottom->min() - 1.0;
    for (QLineSeries *s : {tsTrafficSend, tsTrafficReceive}) {
        int old = 0;
        while (old < s->count() && s->at(old).x() < left)
            ++old;
        if (old > 0)
            s->removePoints(0, old);
    }
    const qreal top = qMax(LargestSince(tsTrafficSend, AxTrafficBottom->min()),
                           LargestSince(tsTrafficReceive, AxTrafficBottom->min()));
    SetTrafficScale(AxTrafficLeft, top);
    lblTrafficSend->setText(m_PendingSendText);
    lblTrafficReceive->setText(m_PendingReceiveText);
    DropPendingTraffic();
}

void TNetworkPage::DropPendingTraffic()
{
    m_PendingSend.clear();
    m_PendingReceive.clear();
    m_PendingSteps = 0;
}

void TNetworkPage::chtNetTrafficClickLegend(QObject *)
{
    const bool on = SeriesActive(tsTrafficMonitor);
    if (m_TrafficTimer) {
        if (on)
            m_TrafficTimer->start();
        else
            m_TrafficTimer->stop();
    }
    if (on)
        return;
    tsTrafficReceive->clear();
    tsTrafficSend->clear();
    DropPendingTraffic();
    lblTrafficReceive->setText(QStringLiteral("接收(当前/总计) - 0.00 KB / 0.00 KB"));
    lblTrafficSend->setText(QStringLiteral("发送(当前/总计) - 0.00 KB / 0.00 KB"));
}

// ---- the page in the window --------------------------------------------------------------------

void TNetworkPage::FillPage()
{
    FlushTraffic();
    RefreshConnectionList(chkHideLocalConnections->isChecked());
    FillInterfaceList();
}

QString TNetworkPage::StatusText() const
{
    return QStringLiteral("[网络监控] TCP: %1 | UDP %2")
        .arg(objNetworkMonitor->GetTCPCount())
        .arg(objNetworkMonitor->GetUDPCount());
}

void TNetworkPage::UpdateButtons()
{
    UpdateConnectionButtons();
}

std::optional<QString> TNetworkPage::SearchValue(int Hot) const
{
    const TConnectionItem *item = SelectedConnection();
    if (!item)
        return std::nullopt;
    const auto *tcp = dynamic_cast<const TTCPItem *>(item);
    const auto *udp = dynamic_cast<const TUDPItem *>(item);
    // Sub-item k of a row stands in column k + 1: the local and remote address, the path.
    switch (Hot) {
    case colType:
        return tcp ? AddressText(tcp->LocalAddress, tcp->LocalPort) : AddressText(udp->LocalAddress, udp->LocalPort);
    case colLocal:
        return tcp ? AddressText(tcp->RemoteAddress, tcp->RemotePort) : QStringLiteral("N/A");
    case colPid:
        return item->ProcessPath;
    default:
        if (!item->HasOwner)
            return QString();
        return item->ProcessID == 0 ? QStringLiteral("System Idle Process") : item->ProcessName;
    }
}

bool TNetworkPage::AddDetails(TDetailsPanel &Panel)
{
    const TConnectionItem *item = SelectedConnection();
    if (!item)
        return false;
    QString text;
    if (const auto *tcp = dynamic_cast<const TTCPItem *>(item)) {
        Panel.AddDetailLine(QStringLiteral("连接类型"), QStringLiteral("TCP"), true);
        IPv4Text(tcp->LocalAddress, text);
        Panel.AddDetailLine(QStringLiteral("本地 IP"), text, true);
        Panel.AddDetailLine(QStringLiteral("本地端口"), QString::number(tcp->LocalPort), true);
        IPv4Text(tcp->RemoteAddress, text);
        Panel.AddDetailLine(QStringLiteral("远程 IP"), text, true);
        Panel.AddDetailLine(QStringLiteral("远程端口"), QString::number(tcp->RemotePort), true);
        TCPStateText(tcp->State, text);
        Panel.AddDetailLine(QStringLiteral("当前状态"), text, true);
    } else if (const auto *udp = dynamic_cast<const TUDPItem *>(item)) {
        Panel.AddDetailLine(QStringLiteral("连接类型"), QStringLiteral("UDP"), true);
        IPv4Text(udp->LocalAddress, text);
        Panel.AddDetailLine(QStringLiteral("本地 IP"), text, true);
        Panel.AddDetailLine(QStringLiteral("本地端口"), QString::number(udp->LocalPort), true);
    }
    Panel.AddDetailLine(QStringLiteral("进程名"), VisibleText(item->ProcessName), true);
    Panel.AddDetailLine(QStringLiteral("进程 ID"), OwnerIDText(item), true);
    Panel.AddDetailLine(QStringLiteral("进程路径"), VisibleText(item->ProcessPath), true);
    // The owner's program as the process runs it; a package only where its path is that file.
    Panel.AddImageVersionLines(objNetworkMonitor->OpenOwnerImage(*item), item->ProcessPath,
                               objNetworkMonitor->OwnerImagePath(*item));
    return true;
}
