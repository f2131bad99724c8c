#pragma once

#include <QList>
#include <QPointF>
#include <QString>

#include "ui/FormControls.h"
#include "ui/PicButton.h"
#include "ui/frmMainListPage.h"

#include <QList>

class QChartView;
class QComboBox;
class QLineSeries;
class QTimer;
class QValueAxis;
class TConnectionItem;
class TNetworkMonitor;
class TProcessPage;

// The network page: the TCP and UDP endpoints with their owning processes, and the live traffic
// chart of one network interface.
class TNetworkPage : public TListPage
{
public:
    // The process page judges which processes may be ended; the traffic timer belongs to the
    // window, and the chart's legend switches it.
    TNetworkPage(const TPageContext &Context, QWidget *Page, TProcessPage *Processes, QTimer *TrafficTimer);
    ~TNetworkPage() override;

    TNetworkMonitor *objNetworkMonitor = nullptr;
    QTreeWidget *lvConnections = nullptr;
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
    int CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const override;

    void FillConnectionList(bool HideLocal);
    void RefreshConnectionList(bool HideLocal);
    void FillInterfaceList();
    bool IsLocalConnection(const TConnectionItem *Item) const;
    TConnectionItem *SelectedConnection() const;
    void ConnectionCommand(quint8 Code);
    void UpdateConnectionButtons();
    void TrafficTick();
    // Draws what the ticks sampled while the page was hidden.
    void FlushTraffic();
    void tmrTrafficTimer(QObject *Sender);
    void lvConnectionsSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvConnectionsClick(QObject *Sender);
    void lvConnectionsMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvConnectionsColumnClick(QObject *Sender, int Column);
    int lvConnectionsCompare(QObject *Sender, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;
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

    void DropPendingTraffic();

    TProcessPage *m_Processes;
    QTimer *m_TrafficTimer;
    // Samples of the hidden page, drawn when it shows.
    QList<QPointF> m_PendingSend, m_PendingReceive;
    int m_PendingSteps = 0;
    QString m_PendingSendText, m_PendingReceiveText;
};
