// The network page of the main window: the endpoint list and the traffic chart.

#include "ui/frmMainNetwork.h"

#include "ui/DisplayTexts.h"
#include "ui/PageCommon.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMessage.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <numeric>

namespace {

// Scales the automatic left axis to the largest value shown, on round numbers, so that whole-number
// labels never repeat (a range of 0 to 1 would label four lines "0" or "1").
void SetTrafficScale(QValueAxis *Axis, qreal Largest)
{
    Axis->setRange(0, qMax(Largest * 1.1, 4.0));
    Axis->applyNiceNumbers();
}

// Columns of the endpoint list.
enum : int { colName = 0, colType, colLocal, colRemote, colState, colPid, colPath, colCount };

const char16_t *const kCaptions[colCount] = {u"进程名",   u"类型",    u"本地 IP:端口", u"远程 IP:端口",
                                             u"当前状态", u"进程 ID", u"进程路径"};
const QList<int> kWidths = {100, 40, 120, 120, 80, 55, 200};

// Whether a chart series is switched on in the legend.
constexpr char kActiveProperty[] = "active";

// The chart shows this many ticks.
constexpr double kTrafficWindow = 200.0;
constexpr int kChartHeight = 200;
constexpr int kLegendWidth = 60;

// Which endpoints the list shows and in what order: without the local ones, by the text of a
// column (-1: as read) in a direction.
struct TConnectionOrder
{
    bool HideLocal = true;
    int SortColumn = -1;
    bool Descending = false;
};

// How long the details panel and the end command wait for the worker's answer about an owner.
constexpr int kOwnerWaitMs = 50;

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

// A TCP endpoint with the system as its owner or 0.0.0.0 or 127.0.0.1 at either end; a UDP one with
// the system as its owner or on 0.0.0.0 or 127.0.0.1. No readable owner counts as identifier 0.
bool IsLocalEndpoint(bool Tcp, quint32 Local, quint32 Remote, bool SystemOwner)
{
    return SystemOwner || IsAnyOrLoopback(Local) || (Tcp && IsAnyOrLoopback(Remote));
}

bool IsLocalKey(const TConnectionList &List, quint32 Key)
{
    const TEndpointRecord &r = List.At(Key);
    const TConnectionOwner *owner = List.TableOf(Key).OwnerOf(r);
    return IsLocalEndpoint(Key < List.TcpCount(), r.LocalAddress, r.RemoteAddress, !owner || owner->SystemProcess);
}

// The owner's cells: empty for an endpoint whose owner could not be read.
QString OwnerCell(const TConnectionOwner *Owner, int Column)
{
    if (!Owner)
        return QString();
    switch (Column) {
    case colName:
        return Owner->ProcessID == 0 ? QStringLiteral("System Idle Process") : VisibleText(Owner->ProcessName);
    case colPid:
        return QString::number(Owner->ProcessID);
    default:
        return VisibleText(Owner->ProcessPath);
    }
}

QString StateCell(bool Tcp, quint8 State)
{
    if (!Tcp)
        return QStringLiteral("N/A");
    QString text;
    TCPStateText(State, text);
    return text;
}

QString EndpointText(const char16_t *Format, const TConnectionItem *Item)
{
    return QString::fromUtf16(Format).arg(VisibleText(Item->ProcessName), QString::number(Item->ProcessID));
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

// ---- ordering on the worker ----

// Texts that depend on a few values only (the owner, the kind, the state): each value's text is
// ranked once, and the keys are sorted by rank.
template <typename TGroupOf>
void SortByGroups(std::vector<quint32> &Keys, bool Descending, const std::vector<QString> &Texts, TGroupOf GroupOf)
{
    std::vector<quint32> byText(Texts.size());
    std::iota(byText.begin(), byText.end(), 0u);
    std::stable_sort(byText.begin(), byText.end(),
                     [&Texts](quint32 A, quint32 B) { return CompareTexts(Texts[A], Texts[B], false) < 0; });
    std::vector<quint32> rank(Texts.size());
    quint32 r = 0;
    for (size_t i = 0; i < byText.size(); ++i) {
        if (i > 0 && CompareTexts(Texts[byText[i - 1]], Texts[byText[i]], false) != 0)
            ++r;
        rank[byText[i]] = r;
    }
    std::vector<std::pair<quint32, quint32>> ranked; // rank, key
    ranked.reserve(Keys.size());
    for (quint32 key : Keys)
        ranked.emplace_back(rank[GroupOf(key)], key);
    if (Descending)
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto &A, const auto &B) { return A.first > B.first; });
    else
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto &A, const auto &B) { return A.first < B.first; });
    for (size_t i = 0; i < ranked.size(); ++i)
        Keys[i] = ranked[i].second;
}

// "a.b.c.d:port" (or "N/A") as IPv4PortText writes it, in a buffer of its own: the address columns
// have a text per row, which is never made as a string.
struct TAddressKey
{
    std::array<char, 24> Text{};
    quint8 Size = 0;
    quint32 Key = 0;
};

void WriteAddress(quint32 Address, quint32 Port, TAddressKey &Out)
{
    unsigned char b[4];
    std::memcpy(b, &Address, 4);
    char *at = Out.Text.data();
    char *const end = at + Out.Text.size();
    for (int i = 0; i < 4; ++i) {
        at = std::to_chars(at, end, unsigned(b[i])).ptr;
        *at++ = i < 3 ? '.' : ':';
    }
    at = std::to_chars(at, end, Port).ptr;
    Out.Size = quint8(at - Out.Text.data());
}

void SortByAddress(const TConnectionList &List, bool Remote, bool Descending, std::vector<quint32> &Keys)
{
    std::vector<TAddressKey> texts(Keys.size());
    for (size_t i = 0; i < Keys.size(); ++i) {
        const quint32 key = Keys[i];
        const TEndpointRecord &r = List.At(key);
        texts[i].Key = key;
        if (!Remote)
            WriteAddress(r.LocalAddress, r.LocalPort, texts[i]);
        else if (key < List.TcpCount())
            WriteAddress(r.RemoteAddress, r.RemotePort, texts[i]);
        else {
            std::memcpy(texts[i].Text.data(), "N/A", 3);
            texts[i].Size = 3;
        }
    }
    // Digits, dots, colons and "N/A": no letter that case folding would change.
    auto less = [](const TAddressKey &A, const TAddressKey &B) {
        const int c = std::memcmp(A.Text.data(), B.Text.data(), std::min(A.Size, B.Size));
        return c != 0 ? c < 0 : A.Size < B.Size;
    };
    if (Descending)
        std::stable_sort(texts.begin(), texts.end(), [&less](const auto &A, const auto &B) { return less(B, A); });
    else
        std::stable_sort(texts.begin(), texts.end(), less);
    for (size_t i = 0; i < texts.size(); ++i)
        Keys[i] = texts[i].Key;
}

} // namespace

std::vector<quint32> ChooseConnections(const TConnectionList &List, bool HideLocal)
{
    std::vector<quint32> keys;
    keys.reserve(List.Count());
    for (quint32 key = 0; key < List.Count(); ++key)
        if (!HideLocal || !IsLocalKey(List, key))
            keys.push_back(key);
    return keys;
}

void SortConnections(const TConnectionList &List, int Column, bool Descending, std::vector<quint32> &Keys)
{
    if (Column < 0 || Column >= colCount || Keys.size() < 2)
        return;
    const quint32 tcpCount = List.TcpCount();
    switch (Column) {
    case colLocal:
    case colRemote:
        SortByAddress(List, Column == colRemote, Descending, Keys);
        return;
    case colType:
        SortByGroups(Keys, Descending, {QStringLiteral("TCP"), QStringLiteral("UDP")},
                     [tcpCount](quint32 Key) { return Key < tcpCount ? 0u : 1u; });
        return;
    case colState: {
        std::vector<QString> texts;
        for (int state = 0; state < 256; ++state)
            texts.push_back(StateCell(true, quint8(state)));
        texts.push_back(StateCell(false, 0));
        SortByGroups(Keys, Descending, texts,
                     [&List, tcpCount](quint32 Key) { return Key < tcpCount ? quint32(List.At(Key).State) : 256u; });
        return;
    }
    default: {
        // One text per owner of either table, and one for no owner.
        const auto &tcpOwners = List.Tcp->Owners;
        const auto &udpOwners = List.Udp->Owners;
        std::vector<QString> texts;
        texts.reserve(tcpOwners.size() + udpOwners.size() + 1);
        for (const TConnectionOwner &o : tcpOwners)
            texts.push_back(OwnerCell(&o, Column));
        for (const TConnectionOwner &o : udpOwners)
            texts.push_back(OwnerCell(&o, Column));
        texts.push_back(OwnerCell(nullptr, Column));
        const auto tcpOwnerCount = quint32(tcpOwners.size());
        const auto none = quint32(texts.size() - 1);
        SortByGroups(Keys, Descending, texts, [&List, tcpCount, tcpOwnerCount, none](quint32 Key) {
            const TEndpointRecord &r = List.At(Key);
            if (r.Owner == TEndpointRecord::kNoOwner)
                return none;
            return Key < tcpCount ? r.Owner : tcpOwnerCount + r.Owner;
        });
        return;
    }
    }
}

// ---- the rows ------------------------------------------------------------------------------------

TConnectionModel::TConnectionModel(QObject *Parent) : QAbstractTableModel(Parent), m_ColumnTags(colCount) {}

int TConnectionModel::rowCount(const QModelIndex &Parent) const
{
    return Parent.isValid() ? 0 : int(m_Order.size());
}

int TConnectionModel::columnCount(const QModelIndex &Parent) const
{
    return Parent.isValid() ? 0 : colCount;
}

std::optional<quint32> TConnectionModel::KeyOf(int Row) const
{
    if (Row < 0 || size_t(Row) >= m_Order.size())
        return std::nullopt;
    return m_Order[size_t(Row)];
}

QString TConnectionModel::CellText(const TConnectionList &List, quint32 Key, int Column)
{
    if (Key >= List.Count())
        return QString();
    const TEndpointRecord &r = List.At(Key);
    const bool tcp = Key < List.TcpCount();
    switch (Column) {
    case colType:
        return tcp ? QStringLiteral("TCP") : QStringLiteral("UDP");
    case colLocal:
        return AddressText(r.LocalAddress, r.LocalPort);
    case colRemote:
        return tcp ? AddressText(r.RemoteAddress, r.RemotePort) : QStringLiteral("N/A");
    case colState:
        return StateCell(tcp, r.State);
    case colName:
    case colPid:
    case colPath:
        return OwnerCell(List.TableOf(Key).OwnerOf(r), Column);
    default:
        return QString();
    }
}

QVariant TConnectionModel::data(const QModelIndex &Index, int Role) const
{
    const std::optional<quint32> key = KeyOf(Index.row());
    if (!key || Index.column() < 0 || Index.column() >= colCount)
        return QVariant();
    switch (Role) {
    case Qt::DisplayRole:
        return CellText(m_List, *key, Index.column());
    case Qt::TextAlignmentRole:
        if (Index.column() == colType)
            return int(Qt::AlignCenter);
        if (Index.column() == colPid)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    case Qt::DecorationRole:
    case kImageIndexRole: {
        if (Index.column() != colName)
            return QVariant();
        const TConnectionOwner *owner = m_List.TableOf(*key).OwnerOf(m_List.At(*key));
        const int image = owner ? owner->IconIndex : -1;
        if (Role == kImageIndexRole)
            return image;
        const QIcon icon = SystemImageIcon(image);
        return icon.isNull() ? QVariant() : QVariant(icon);
    }
    default:
        return QVariant();
    }
}

QVariant TConnectionModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= colCount)
        return QVariant();
    switch (Role) {
    case Qt::DisplayRole:
        return QString::fromUtf16(kCaptions[Section]);
    case Qt::TextAlignmentRole:
        if (Section == colType)
            return int(Qt::AlignCenter);
        if (Section == colPid)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    case kColumnTagRole:
        return m_ColumnTags[Section];
    default:
        return QVariant();
    }
}

bool TConnectionModel::setHeaderData(int Section, Qt::Orientation Orientation, const QVariant &Value, int Role)
{
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= colCount || Role != kColumnTagRole)
        return false;
    m_ColumnTags[Section] = Value;
    return true;
}

void TConnectionModel::Reset(const TConnectionList &List, std::vector<quint32> Order, bool HideLocal)
{
    beginResetModel();
    m_List = List;
    m_Order = std::move(Order);
    m_HideLocal = HideLocal;
    endResetModel();
}

void TConnectionModel::Reorder(std::vector<quint32> Order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<quint32> keys;
    keys.reserve(size_t(before.size()));
    for (const QModelIndex &i : before)
        keys.push_back(KeyOf(i.row()).value_or(TEndpointRecord::kNoOwner));
    m_Order = std::move(Order);
    if (!before.isEmpty()) {
        // Where each endpoint stands now; the few indexes held elsewhere (the selection, the
        // current row) follow their endpoints.
        std::vector<int> rowOf(m_List.Count(), -1);
        for (size_t row = 0; row < m_Order.size(); ++row)
            if (m_Order[row] < rowOf.size())
                rowOf[m_Order[row]] = int(row);
        QModelIndexList after;
        for (int i = 0; i < before.size(); ++i) {
            const quint32 key = keys[size_t(i)];
            const int row = key < rowOf.size() ? rowOf[key] : -1;
            after << (row < 0 ? QModelIndex() : index(row, before[i].column()));
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
// ---- building the page -----------------------------------------------------------------------

TNetworkPage::TNetworkPage(const TPageContext &Context, QWidget *Page, TProcessPage *Processes, QTimer *TrafficTimer)
    : TListPage(Context, Page), m_Processes(Processes), m_TrafficTimer(TrafficTimer)
{
    BuildNetworkPage();
}

TNetworkPage::~TNetworkPage()
{
    // First the monitor: nothing it read is handed to the page from here on.
    delete objNetworkMonitor;
    objNetworkMonitor = nullptr;
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
    ConnectionRows = new TConnectionModel(this);
    lvConnections = MakeListView(page, "lvConnections", ConnectionRows, kWidths);
    // The model gives each row its program's icon.
    lvConnections->setIconSize(QSize(16, 16));
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

void TNetworkPage::FillConnectionList(bool HideLocal, std::vector<quint32> &Order)
{
    ConnectionRows->Reset(objNetworkMonitor->Connections(), std::move(Order), HideLocal);
    // The rows are new: the selection, and with it the command button, starts afresh.
    UpdateConnectionButtons();
}

void TNetworkPage::RefreshConnectionList(bool HideLocal)
{
    const TConnectionOrder how{HideLocal, SortColumn, SortDescending};
    objNetworkMonitor->RefreshInBackground(
        [how](const TConnectionList &List) {
            std::vector<quint32> keys = ChooseConnections(List, how.HideLocal);
            SortConnections(List, how.SortColumn, how.Descending, keys);
            return keys;
        },
        [this, how](std::vector<quint32> &Order) {
            // A hidden page keeps its rows; the counts are the monitor's.
            if (!PagePanel()->isVisible())
                return;
            FillConnectionList(how.HideLocal, Order);
            SetStatusText(StatusText());
            // A column clicked while the tables were read.
            if (SortColumn != -1 && (SortColumn != how.SortColumn || SortDescending != how.Descending))
                SortList();
        });
}

void TNetworkPage::SortList()
{
    const TConnectionOrder how{ConnectionRows->HideLocal(), SortColumn, SortDescending};
    const TConnectionList list = ConnectionRows->List();
    objNetworkMonitor->PrepareInBackground(
        [list, keys = ConnectionRows->Order(), how]() mutable {
            SortConnections(list, how.SortColumn, how.Descending, keys);
            return keys;
        },
        [this, list](std::vector<quint32> &Order) {
            // Rows made anew meanwhile came ordered as they were asked for.
            if (!(ConnectionRows->List() == list) || Order.size() != ConnectionRows->Order().size())
                return;
            ConnectionRows->Reorder(std::move(Order));
            const QModelIndexList selected = lvConnections->selectionModel()->selectedRows();
            if (!selected.isEmpty())
                ShowIndex(selected.first());
        });
}

bool TNetworkPage::IsLocalConnection(const TConnectionItem *Item) const
{
    if (!Item)
        return false;
    const QString kind = Item->ClassName();
    if (kind == QLatin1String("TTCPItem")) {
        const auto *tcp = static_cast<const TTCPItem *>(Item);
        return IsLocalEndpoint(true, tcp->LocalAddress, tcp->RemoteAddress, tcp->SystemProcess);
    }
    if (kind == QLatin1String("TUDPItem")) {
        const auto *udp = static_cast<const TUDPItem *>(Item);
        return IsLocalEndpoint(false, udp->LocalAddress, 0, udp->SystemProcess);
    }
    return false;
}

std::unique_ptr<TConnectionItem> TNetworkPage::SelectedConnection() const
{
    if (!lvConnections)
        return nullptr;
    const QModelIndexList selected = lvConnections->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return nullptr;
    const std::optional<quint32> key = ConnectionRows->KeyOf(selected.first().row());
    return key ? MakeConnectionItem(ConnectionRows->List(), *key) : nullptr;
}

void TNetworkPage::ConnectionCommand(quint8 Code)
{
    if (Code != 0)
        return;
    // A copy of the endpoint: whatever comes meanwhile, the command acts only on the process that
    // was asked about (its identifier and start time).
    const std::unique_ptr<TConnectionItem> item = SelectedConnection();
    if (!item || !item->HasOwner || item->SystemProcess)
        return;
    // Who runs the owner and what, read on the worker; a read that does not answer in time fails
    // the command as a failed end would.
    const std::optional<TOwnerProgram> program = objNetworkMonitor->OwnerProgram(*item, false, kOwnerWaitMs);
    if (!program) {
        ReportFailure(EndpointText(kFailTerminate, item.get()));
        return;
    }
    if (m_Processes->IsCriticalProcess(program->Facts)) {
        ReportRefusal(EndpointText(kCriticalRefused, item.get()));
        return;
    }
    if (AskWarning(EndpointText(kConfirmTerminate, item.get())) != TMessageResult::Yes)
        return;
    // Ended beside the window, which waits as long as for the owner's program.
    if (!objNetworkMonitor->Terminate(*item, kOwnerWaitMs)) {
        ReportFailure(EndpointText(kFailTerminate, item.get()));
        return;
    }
    // The process is gone: the panel no longer describes its endpoint.
    if (m_Context.Details && m_Context.Details->Source == this && m_Context.Details->pnlDetails->isVisible()) {
        m_ShownItem.reset();
        m_Context.Details->ShowHint();
    }
}

void TNetworkPage::UpdateConnectionButtons()
{
    const std::unique_ptr<TConnectionItem> item = SelectedConnection();
    btnTerminateConnection->setEnabled(item && item->HasOwner && !item->SystemProcess);
}

// ---- list handlers ------------------------------------------------------------------------------

void TNetworkPage::lvConnectionsSelectItem(QObject *, const QModelIndex &, bool Selected)
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

int TNetworkPage::lvConnectionsCompare(QObject *, const QModelIndex &A, const QModelIndex &B) const
{
    const std::optional<quint32> a = ConnectionRows->KeyOf(A.row()), b = ConnectionRows->KeyOf(B.row());
    if (!a || !b || SortColumn < 0 || SortColumn >= colCount)
        return 0;
    const TConnectionList &list = ConnectionRows->List();
    return CompareTexts(TConnectionModel::CellText(list, *a, SortColumn),
                        TConnectionModel::CellText(list, *b, SortColumn), SortDescending);
}

void TNetworkPage::SelectItem(QTreeWidgetItem *, bool Selected)
{
    const QModelIndexList selected = lvConnections->selectionModel()->selectedRows();
    lvConnectionsSelectItem(lvConnections, selected.isEmpty() ? QModelIndex() : selected.first(), Selected);
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
    objNetworkMonitor->RefreshInterfacesInBackground([this] {
        const QSignalBlocker quiet(cbbInterfaceList);
        cbbInterfaceList->clear();
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
                                                   QString::number(b[1]), QString::number(b[2]),
                                                   QString::number(b[3])));
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
    });
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
    // One sample at a time: while the worker reads one, a tick brings nothing more.
    if (m_SamplePending)
        return;
    m_SamplePending = true;
    objNetworkMonitor->RefreshInterfacesInBackground([this] {
        m_SamplePending = false;
        PlotTraffic();
    });
}

void TNetworkPage::PlotTraffic()
{
    // Switched off while the sample was read: the chart stays empty.
    if (!SeriesActive(tsTrafficMonitor))
        return;
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
    // The panel shows the hint from here on.
    m_ShownItem.reset();
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
    const std::unique_ptr<TConnectionItem> item = SelectedConnection();
    if (!item)
        return std::nullopt;
    const auto *tcp = dynamic_cast<const TTCPItem *>(item.get());
    const auto *udp = dynamic_cast<const TUDPItem *>(item.get());
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
    std::shared_ptr<TConnectionItem> item = m_Refilling ? m_ShownItem : std::shared_ptr(SelectedConnection());
    m_ShownItem = item;
    if (!item)
        return false;
    QString text;
    if (const auto *tcp = dynamic_cast<const TTCPItem *>(item.get())) {
        Panel.AddDetailLine(QStringLiteral("连接类型"), QStringLiteral("TCP"), true);
        IPv4Text(tcp->LocalAddress, text);
        Panel.AddDetailLine(QStringLiteral("本地 IP"), text, true);
        Panel.AddDetailLine(QStringLiteral("本地端口"), QString::number(tcp->LocalPort), true);
        IPv4Text(tcp->RemoteAddress, text);
        Panel.AddDetailLine(QStringLiteral("远程 IP"), text, true);
        Panel.AddDetailLine(QStringLiteral("远程端口"), QString::number(tcp->RemotePort), true);
        TCPStateText(tcp->State, text);
        Panel.AddDetailLine(QStringLiteral("当前状态"), text, true);
    } else if (const auto *udp = dynamic_cast<const TUDPItem *>(item.get())) {
        Panel.AddDetailLine(QStringLiteral("连接类型"), QStringLiteral("UDP"), true);
        IPv4Text(udp->LocalAddress, text);
        Panel.AddDetailLine(QStringLiteral("本地 IP"), text, true);
        Panel.AddDetailLine(QStringLiteral("本地端口"), QString::number(udp->LocalPort), true);
    }
    Panel.AddDetailLine(QStringLiteral("进程名"), VisibleText(item->ProcessName), true);
    Panel.AddDetailLine(QStringLiteral("进程 ID"), item->HasOwner ? QString::number(item->ProcessID) : QString(), true);
    Panel.AddDetailLine(QStringLiteral("进程路径"), VisibleText(item->ProcessPath), true);
    // The owner's program as the process runs it (a package only where its path is that file),
    // read on the worker; until the answer comes the lines stay empty.
    const TConnectionItem *asked = item.get();
    const std::optional<TOwnerProgram> program =
        objNetworkMonitor->OwnerProgram(*item, true, kOwnerWaitMs, [this, asked] { OwnerAnswered(asked); });
    const TOwnerProgram none;
    const TOwnerProgram &p = program ? *program : none;
    Panel.AddVersionLines(p.ProductName, p.FileDescription, p.CompanyName, p.LegalCopyright);
    return true;
}

void TNetworkPage::OwnerAnswered(const TConnectionItem *Asked)
{
    TDetailsPanel *details = m_Context.Details;
    if (!details || details->Source != this || !details->pnlDetails->isVisible() || m_ShownItem.get() != Asked)
        return;
    m_Refilling = true;
    details->RefreshDetails();
    m_Refilling = false;
}
