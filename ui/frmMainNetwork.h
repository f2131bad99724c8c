#pragma once

#include "sysinfo/NetworkMonitor.h"
#include "ui/FormControls.h"
#include "ui/PicButton.h"
#include "ui/frmMainListPage.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QChartView;
class QComboBox;
class QLineSeries;
class QTimer;
class QTreeView;
class QValueAxis;
class TProcessPage;

// The rows of the endpoint list: the keys of a list's endpoints in the order a worker made of them.
// A cell's text is made when the cell is drawn, so that a list of any length costs a few bytes a
// row.
class TConnectionModel : public QAbstractTableModel
{
public:
    explicit TConnectionModel(QObject *Parent);

    int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
    bool setHeaderData(int Section, Qt::Orientation Orientation, const QVariant &Value, int Role) override;

    // New rows: the endpoints of `List` in `Order`, the local ones left out where `HideLocal`.
    void Reset(const TConnectionList &List, std::vector<quint32> Order, bool HideLocal);
    // The same rows in another order; the selection and the current row stay with their endpoints.
    void Reorder(std::vector<quint32> Order);
    const TConnectionList &List() const { return m_List; }
    const std::vector<quint32> &Order() const { return m_Order; }
    bool HideLocal() const { return m_HideLocal; }
    // The key of a row's endpoint; nothing for a row out of range.
    std::optional<quint32> KeyOf(int Row) const;

    // The text a cell of a key's row shows.
    static QString CellText(const TConnectionList &List, quint32 Key, int Column);

private:
    TConnectionList m_List;
    std::vector<quint32> m_Order;
    bool m_HideLocal = true;
    QList<QVariant> m_ColumnTags;
};

// The keys of the endpoints of `List` the list shows (all, or without the local ones), in the
// order they were read. Runs on the monitor's worker.
std::vector<quint32> ChooseConnections(const TConnectionList &List, bool HideLocal);
// Orders keys of `List` by the text of a column, without regard to letter case, as a stable sort:
// rows of equal text keep their order. Runs on the monitor's worker.
void SortConnections(const TConnectionList &List, int Column, bool Descending, std::vector<quint32> &Keys);

// The network page: the TCP and UDP endpoints with their owning processes, and the live traffic
// chart of one network interface. What the page shows is read on the network monitor's worker; the
// page applies it when it comes.
class TNetworkPage : public TListPage
{
public:
    // The process page judges which processes may be ended; the traffic timer belongs to the
    // window, and the chart's legend switches it.
    TNetworkPage(const TPageContext &Context, QWidget *Page, TProcessPage *Processes, QTimer *TrafficTimer);
    ~TNetworkPage() override;

    TNetworkMonitor *objNetworkMonitor = nullptr;
    QTreeView *lvConnections = nullptr;
    TConnectionModel *ConnectionRows = nullptr;
    TSkinCheckBox *chkHideLocalConnections = nullptr;
    QChartView *chtNetTraffic = nullptr;
    QLineSeries *tsTrafficMonitor = nullptr, *tsTrafficSend = nullptr, *tsTrafficReceive = nullptr;
    QValueAxis *AxTrafficBottom = nullptr, *AxTrafficLeft = nullptr;
    QComboBox *cbbInterfaceList = nullptr;
    TLabel *lblTrafficTitle = nullptr, *lblTrafficSend = nullptr, *lblTrafficReceive = nullptr;
    TPicButton *btnTerminateConnection = nullptr, *btnRefreshConnectionList = nullptr;
    // Position in cbbInterfaceList -> index in the monitor's interface list.
    QList<int> InterfaceMap;
    // The remembered position of cbbInterfaceList across refills.
    int InterfaceListTag = 0;

    void FillPage() override;
    QString StatusText() const override;
    void UpdateButtons() override;
    std::optional<QString> SearchValue(int Hot) const override;
    bool AddDetails(TDetailsPanel &Panel) override;
    // The worker orders the rows; they are swapped in when that is done.
    void SortList() override;

    // The rows of the endpoints just read, as the worker chose (without the local ones where
    // HideLocal) and ordered them.
    void FillConnectionList(bool HideLocal, std::vector<quint32> &Order);
    // Reads the endpoints on the monitor's worker; the rows follow while the page shows.
    void RefreshConnectionList(bool HideLocal);
    void FillInterfaceList();
    bool IsLocalConnection(const TConnectionItem *Item) const;
    // The endpoint of the selected row, made now; null without one.
    std::unique_ptr<TConnectionItem> SelectedConnection() const;
    void ConnectionCommand(quint8 Code);
    void UpdateConnectionButtons();
    void TrafficTick();
    // Draws what the ticks sampled while the page was hidden.
    void FlushTraffic();
    void tmrTrafficTimer(QObject *Sender);
    void lvConnectionsSelectItem(QObject *Sender, const QModelIndex &Item, bool Selected);
    void lvConnectionsClick(QObject *Sender);
    void lvConnectionsMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvConnectionsColumnClick(QObject *Sender, int Column);
    // The rows' texts in the sort column, without regard to letter case, negated when descending:
    // the order the worker's sort gives.
    int lvConnectionsCompare(QObject *Sender, const QModelIndex &A, const QModelIndex &B) const;
    void chkHideLocalConnectionsClick(QObject *Sender);
    void btnRefreshConnectionListClick(QObject *Sender);
    void btnTerminateConnectionClick(QObject *Sender);
    void cbbInterfaceListChange(QObject *Sender);
    void chtNetTrafficClickLegend(QObject *Sender);

protected:
    void SelectItem(QTreeWidgetItem *Item, bool Selected) override;
    void Click() override;
    void MouseMove(Qt::MouseButtons Shift, int X, int Y) override;
    void ColumnClick(int Column) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void BuildNetworkPage();
    // The drop-down list stands at the top right, the two counters at the bottom left.
    void LayOutChart();
    // One sample of the chosen interface, from what the worker read for the tick.
    void PlotTraffic();
    void DropPendingTraffic();
    // The answer about the owner of the endpoint the panel showed came late: the panel shows it
    // again, if it still shows that endpoint.
    void OwnerAnswered(const TConnectionItem *Asked);

    TProcessPage *m_Processes;
    QTimer *m_TrafficTimer;
    // Samples of the hidden page, drawn when it shows.
    QList<QPointF> m_PendingSend, m_PendingReceive;
    int m_PendingSteps = 0;
    QString m_PendingSendText, m_PendingReceiveText;
    // A tick's sample is being read: the next tick waits for it.
    bool m_SamplePending = false;
    // The endpoint the details panel was last filled with, and whether it is being filled again.
    std::shared_ptr<TConnectionItem> m_ShownItem;
    bool m_Refilling = false;
};
