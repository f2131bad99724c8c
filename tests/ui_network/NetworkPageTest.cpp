#include "common/OtherUser.h"
#include "common/UserDirs.h"
#include "platform_network/Addr.h"
#include "ui_message/MessageAnswers.h"

#include "platform/network/NetworkSource.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessSource.h"
#include "sysinfo/NetworkMonitor.h"
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

#include <QApplication>
#include <QChart>
#include <QFontMetricsF>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QProcess>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QValueAxis>

#include <cstring>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <map>
#include <memory>

using namespace platform::network;
using nettest::Addr;

namespace {

// Identifiers above the kernel's largest possible one: no real process can carry them.
constexpr quint32 kFakePid = 4194304 + 900;
constexpr quint32 kFakePid2 = 4194304 + 10;

// A process table with nothing in it: the form's process list stays empty.
class NoProcesses : public platform::processes::ProcessSource
{
public:
    bool EnumeratePrimary(std::vector<platform::processes::ProcessEntry> &) override { return true; }
    bool EnumerateFallback(std::vector<platform::processes::ProcessEntry> &) override { return true; }
};

class FakeNetwork : public NetworkSource
{
public:
    std::vector<Endpoint> tcp, udp;
    std::vector<InterfaceRow> ifs;
    std::vector<AddressRow> addrs;
    std::map<quint32, QString> paths;
    int tcpReads = 0, udpReads = 0;

    bool TcpEndpoints(std::vector<Endpoint> &out) override
    {
        ++tcpReads;
        return out.insert(out.end(), tcp.begin(), tcp.end()), true;
    }
    bool UdpEndpoints(std::vector<Endpoint> &out) override
    {
        ++udpReads;
        return out.insert(out.end(), udp.begin(), udp.end()), true;
    }
    bool Interfaces(std::vector<InterfaceRow> &out) override
    {
        return out.insert(out.end(), ifs.begin(), ifs.end()), true;
    }
    bool Addresses(std::vector<AddressRow> &out) override
    {
        return out.insert(out.end(), addrs.begin(), addrs.end()), true;
    }
    std::optional<QString> ProcessPath(quint32 pid, quint64) override
    {
        const auto it = paths.find(pid);
        return it == paths.end() ? std::nullopt : std::optional(it->second);
    }
    bool IsKernelProcess(quint32) override { return false; }
    std::optional<Moment> ProcessStart(quint32, quint64) override { return std::nullopt; }
    // Who runs an owner and its program's path as the kernel reports them.
    std::map<quint32, platform::processes::ImageFacts> facts;
    std::optional<platform::processes::ImageFacts> OwnerImageFacts(quint32 pid, quint64) override
    {
        const auto it = facts.find(pid);
        return it == facts.end() ? std::nullopt : std::optional(it->second);
    }
};

Endpoint Ep(quint32 local, quint32 lport, quint32 remote, quint32 rport, quint8 state, quint32 pid, quint64 start = 5)
{
    Endpoint e;
    e.Row.State = state;
    e.Row.LocalAddress = local;
    e.Row.LocalPort = lport;
    e.Row.RemoteAddress = remote;
    e.Row.RemotePort = rport;
    if (pid != 0) {
        e.Owned = true;
        e.Owner = {pid, start};
    }
    return e;
}

InterfaceRow If(quint32 index, const char *name, quint8 oper, quint64 in = 0, quint64 out = 0)
{
    InterfaceRow r;
    r.Index = index;
    r.Name = QLatin1String(name);
    r.Description = r.Name;
    r.OperStatus = oper;
    r.InOctets = in;
    r.OutOctets = out;
    return r;
}

using uitest::Shown;
using uitest::Shows;

class NetworkPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UiHooks().ExecModal = [this](QDialog *Dialog) { return uitest::AnswerMessageBox(Dialog, shown, answers); };
        net.paths[kFakePid] = QStringLiteral("/opt/app/bin/server");
        net.paths[kFakePid2] = QStringLiteral("/opt/app/bin/agent");
    }
    void TearDown() override
    {
        form.reset();
        for (auto &c : children) {
            c->kill();
            c->waitForFinished(5000);
        }
        RestoreDefaultUiHooks();
    }

    // The form over the test's endpoint tables, or over the system's.
    void Create(bool RealNetwork = false)
    {
        form = std::make_unique<TFormMain>(nullptr, &processes);
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        if (!RealNetwork)
            form->NetworkPage->objNetworkMonitor->SetSource(&net);
        form->show();
    }
    void ShowPage() { form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network); }

    QTreeWidget *List() const { return form->NetworkPage->lvConnections; }
    QTreeWidgetItem *RowWith(int column, const QString &text) const
    {
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            if (List()->topLevelItem(i)->text(column) == text)
                return List()->topLevelItem(i);
        return nullptr;
    }
    void Select(QTreeWidgetItem *row)
    {
        ASSERT_NE(row, nullptr);
        List()->clearSelection();
        row->setSelected(true);
    }
    // A child of the test, with the identifier and start time the system gives it.
    std::pair<quint32, quint64> Spawn()
    {
        children.push_back(std::make_unique<QProcess>());
        children.back()->start(QStringLiteral("/usr/bin/sleep"), {QStringLiteral("60")});
        EXPECT_TRUE(children.back()->waitForStarted(5000));
        const quint32 pid = quint32(children.back()->processId());
        platform::processes::ProcStat st;
        EXPECT_TRUE(platform::processes::ReadStat(qint32(pid), st));
        return {pid, st.StartTime};
    }
    QStringList Column(int column) const
    {
        QStringList out;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            out << List()->topLevelItem(i)->text(column);
        return out;
    }

    NoProcesses processes;
    FakeNetwork net;
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    std::vector<std::unique_ptr<QProcess>> children;
    std::vector<Shown> shown;
    QList<quint8> answers;
};

// The usual mix: a listener, a remote connection, a loopback pair, an orphan and UDP.
void Mix(FakeNetwork &net)
{
    net.tcp = {Ep(0, 80, 0, 0, TcpListen, kFakePid),
               Ep(Addr(10, 0, 0, 1), 50000, Addr(93, 184, 216, 34), 443, TcpEstablished, kFakePid),
               Ep(Addr(127, 0, 0, 1), 631, Addr(127, 0, 0, 1), 5555, TcpEstablished, kFakePid2),
               Ep(Addr(10, 0, 0, 1), 50001, Addr(93, 184, 216, 35), 80, TcpTimeWait, 0)};
    net.udp = {Ep(0, 68, 0, 0, 0, kFakePid2), Ep(Addr(192, 168, 1, 5), 5353, 0, 0, 0, kFakePid2),
               Ep(Addr(10, 0, 0, 1), 123, 0, 0, 0, 0)};
}

} // namespace

TEST_F(NetworkPage, ListShowsEndpointsAndHidesLocalOnesOnRequest)
{
    Mix(net);
    Create();
    ShowPage();
    ASSERT_TRUE(form->NetworkPage->chkHideLocalConnections->isChecked());
    EXPECT_TRUE(form->NetworkPage->chkHideLocalConnections->isVisible());
    EXPECT_TRUE(form->NetworkPage->chtNetTraffic->isVisible());
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[网络监控] TCP: 4 | UDP 3"));
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    QTreeWidgetItem *tcp = List()->topLevelItem(0);
    QString established;
    TCPStateText(TcpEstablished, established);
    const QStringList cells = {QStringLiteral("server"),
                               QStringLiteral("TCP"),
                               QStringLiteral("10.0.0.1:50000"),
                               QStringLiteral("93.184.216.34:443"),
                               established,
                               QString::number(kFakePid),
                               QStringLiteral("/opt/app/bin/server")};
    for (int c = 0; c < cells.size(); ++c)
        EXPECT_EQ(tcp->text(c), cells[c]) << c;
    QTreeWidgetItem *udp = List()->topLevelItem(1);
    EXPECT_EQ(udp->text(1), QStringLiteral("UDP"));
    EXPECT_EQ(udp->text(2), QStringLiteral("192.168.1.5:5353"));
    EXPECT_EQ(udp->text(3), QStringLiteral("N/A"));
    EXPECT_EQ(udp->text(4), QStringLiteral("N/A"));
    Select(udp);
    EXPECT_EQ(form->NetworkPage->SelectedConnection(), form->NetworkPage->objNetworkMonitor->GetUDPItem(1));
    Select(tcp);
    EXPECT_EQ(form->NetworkPage->SelectedConnection(), form->NetworkPage->objNetworkMonitor->GetTCPItem(1));

    // Unticked: everything, the orphans without an owner.
    form->NetworkPage->chkHideLocalConnections->click();
    EXPECT_FALSE(form->NetworkPage->chkHideLocalConnections->isChecked());
    ASSERT_EQ(List()->topLevelItemCount(), 7);
    EXPECT_EQ(Column(1), (QStringList{"TCP", "TCP", "TCP", "TCP", "UDP", "UDP", "UDP"}));
    EXPECT_EQ(List()->topLevelItem(3)->text(0), QString());
    EXPECT_EQ(List()->topLevelItem(3)->text(5), QString());
    EXPECT_EQ(List()->topLevelItem(6)->text(0), QString());

    // The refresh button keeps the check box's choice; a hidden page is not filled.
    net.tcp.pop_back();
    form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
    EXPECT_EQ(List()->topLevelItemCount(), 6);
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    net.udp.clear();
    form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
    EXPECT_EQ(List()->topLevelItemCount(), 6);
    EXPECT_EQ(form->NetworkPage->objNetworkMonitor->GetUDPCount(), 0);
}

TEST_F(NetworkPage, OneRefreshReadsEachEndpointTableOnce)
{
    Mix(net);
    Create();
    ShowPage();
    // Shown: the refresh fills the rows from one read of each table.
    net.tcpReads = net.udpReads = 0;
    form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
    EXPECT_EQ(net.tcpReads, 1);
    EXPECT_EQ(net.udpReads, 1);
    EXPECT_EQ(List()->topLevelItemCount(), 2);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[网络监控] TCP: 4 | UDP 3"));
    // Hidden: the tables are still read, once, and the rows stay.
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    net.tcpReads = net.udpReads = 0;
    form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
    EXPECT_EQ(net.tcpReads, 1);
    EXPECT_EQ(net.udpReads, 1);
    EXPECT_EQ(List()->topLevelItemCount(), 2);
}

TEST_F(NetworkPage, TerminateButtonFollowsTheSelection)
{
    Mix(net);
    Create();
    ShowPage();
    form->NetworkPage->chkHideLocalConnections->click();
    EXPECT_FALSE(form->NetworkPage->btnTerminateConnection->isEnabled());
    Select(RowWith(5, QString()));
    EXPECT_FALSE(form->NetworkPage->btnTerminateConnection->isEnabled());
    Select(RowWith(0, QStringLiteral("agent")));
    EXPECT_TRUE(form->NetworkPage->btnTerminateConnection->isEnabled());
    // Nothing happens for the rows without an owner.
    Select(RowWith(5, QString()));
    form->NetworkPage->ConnectionCommand(0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(NetworkPage, TerminatingTheOwnerAsksAndReports)
{
    const auto [pid, start] = Spawn();
    net.paths[pid] = QStringLiteral("/usr/bin/sleep");
    net.tcp = {Ep(Addr(10, 0, 0, 1), 4000, Addr(10, 0, 0, 2), 4001, TcpEstablished, pid, start),
               Ep(Addr(10, 0, 0, 1), 4002, Addr(10, 0, 0, 2), 4003, TcpEstablished, kFakePid),
               Ep(Addr(10, 0, 0, 1), 4004, Addr(10, 0, 0, 2), 4005, TcpEstablished, kFakePid2)};
    net.paths[kFakePid2] = QStringLiteral("/usr/lib/systemd/systemd-journald");
    net.facts[kFakePid2].Path = net.paths[kFakePid2];
    net.facts[kFakePid2].Uids = {0, 0};
    Create();
    ShowPage();
    ASSERT_EQ(List()->topLevelItemCount(), 3);

    // "No" leaves the process alone.
    Select(RowWith(0, QStringLiteral("sleep")));
    answers = {4};
    form->NetworkPage->btnTerminateConnectionClick(form->NetworkPage->btnTerminateConnection);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text,
              Shows(QStringLiteral("结束进程可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。"
                                   "是否确定要执行该操作？\r\r结束进程：sleep [%1]")
                        .arg(pid)));
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告"));
    EXPECT_EQ(shown[0].Icon, 3);
    EXPECT_EQ(shown[0].Buttons, 2);
    EXPECT_EQ(children[0]->state(), QProcess::Running);

    // "Yes" ends it, without a report.
    shown.clear();
    answers = {3};
    form->NetworkPage->ConnectionCommand(0);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(children[0]->waitForFinished(5000));

    // A process that cannot be ended is reported.
    shown.clear();
    Select(RowWith(0, QStringLiteral("server")));
    answers = {3};
    form->NetworkPage->ConnectionCommand(0);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].Text, Shows(QStringLiteral("结束进程操作失败！\r\rserver [%1]").arg(kFakePid)));
    EXPECT_EQ(shown[1].Title, QStringLiteral("失败"));
    EXPECT_EQ(shown[1].Icon, 5);
    EXPECT_EQ(shown[1].Buttons, 0);

    // Other codes do nothing; a critical process is refused before any question.
    shown.clear();
    form->NetworkPage->ConnectionCommand(1);
    EXPECT_TRUE(shown.empty());
    Select(RowWith(0, QStringLiteral("systemd-journald")));
    form->NetworkPage->ConnectionCommand(0);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text,
              Shows(QStringLiteral("这是关键系统进程，不允许执行该操作！\r\rsystemd-journald [%1]").arg(kFakePid2)));
    EXPECT_EQ(shown[0].Title, QStringLiteral("禁止"));
    EXPECT_EQ(shown[0].Icon, 4);
    EXPECT_EQ(shown[0].Buttons, 0);
}

TEST_F(NetworkPage, EveryColumnSortsAsText)
{
    net.tcp = {Ep(Addr(10, 0, 0, 1), 1, Addr(8, 8, 8, 8), 1, TcpEstablished, 9),
               Ep(Addr(10, 0, 0, 1), 2, Addr(8, 8, 8, 8), 2, TcpEstablished, 10),
               Ep(Addr(10, 0, 0, 1), 3, Addr(8, 8, 8, 8), 3, TcpEstablished, 100)};
    net.paths[9] = QStringLiteral("/b/Beta");
    net.paths[10] = QStringLiteral("/a/alpha");
    net.paths[100] = QStringLiteral("/c/Gamma");
    Create();
    ShowPage();
    form->NetworkPage->lvConnectionsColumnClick(List(), 5);
    EXPECT_EQ(Column(5), (QStringList{"10", "100", "9"}));
    form->NetworkPage->lvConnectionsColumnClick(List(), 5);
    EXPECT_EQ(Column(5), (QStringList{"9", "100", "10"}));
    form->NetworkPage->lvConnectionsColumnClick(List(), 0);
    EXPECT_EQ(Column(0), (QStringList{"alpha", "Beta", "Gamma"}));
    // A refresh keeps the order; the data index still finds each row's endpoint.
    form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
    EXPECT_EQ(Column(0), (QStringList{"alpha", "Beta", "Gamma"}));
    Select(List()->topLevelItem(0));
    ASSERT_NE(form->NetworkPage->SelectedConnection(), nullptr);
    EXPECT_EQ(form->NetworkPage->SelectedConnection()->ProcessID, 10u);
}

TEST_F(NetworkPage, InterfaceListOffersUsableInterfacesAndKeepsTheChoice)
{
    Create();
    net.ifs = {If(1, "lo", IfOperOperational), If(2, "eth0", IfOperOperational), If(3, "down0", IfOperDisconnected),
               If(4, "bare0", IfOperOperational), If(5, "wlan0", IfOperConnecting)};
    net.addrs = {{1, Addr(127, 0, 0, 1)}, {2, Addr(192, 168, 0, 7)}, {3, Addr(10, 9, 9, 9)}, {5, Addr(172, 16, 0, 3)}};
    form->NetworkPage->FillInterfaceList();
    ASSERT_EQ(form->NetworkPage->cbbInterfaceList->count(), 2);
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->itemText(0), QStringLiteral("eth0 [192.168.0.7]"));
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->itemText(1), QStringLiteral("wlan0 [172.16.0.3]"));
    EXPECT_EQ(form->NetworkPage->InterfaceMap.size(), 5);
    EXPECT_EQ(form->NetworkPage->InterfaceMap[0], 1);
    EXPECT_EQ(form->NetworkPage->InterfaceMap[1], 4);
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->currentIndex(), 0);

    form->NetworkPage->cbbInterfaceList->setCurrentIndex(1);
    form->NetworkPage->cbbInterfaceListChange(form->NetworkPage->cbbInterfaceList);
    form->NetworkPage->FillInterfaceList();
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->currentIndex(), 1);
    // The chosen position is gone: back to the first.
    net.ifs[4].OperStatus = IfOperDisconnected;
    form->NetworkPage->FillInterfaceList();
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->count(), 1);
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->currentIndex(), 0);
    EXPECT_EQ(form->NetworkPage->InterfaceListTag, 0);
}

TEST_F(NetworkPage, TrafficTickPlotsTheChosenInterfaceOnAnyPage)
{
    Create();
    net.ifs = {If(1, "lo", IfOperOperational, 10, 10), If(2, "eth0", IfOperOperational, 1000, 2000),
               If(3, "eth1", IfOperOperational, 0, 0)};
    net.addrs = {{1, Addr(127, 0, 0, 1)}, {2, Addr(192, 168, 0, 7)}, {3, Addr(192, 168, 1, 7)}};
    form->NetworkPage->FillInterfaceList();
    ASSERT_EQ(form->NetworkPage->cbbInterfaceList->count(), 2);
    ASSERT_TRUE(form->pnlTab_Process->isVisible()); // another page is shown

    net.ifs[1].InOctets = 1500;
    net.ifs[1].OutOctets = 2300;
    const QString sendBefore = form->NetworkPage->lblTrafficSend->text();
    ASSERT_TRUE(QMetaObject::invokeMethod(form->tmrTraffic, "timeout", Qt::DirectConnection));
    // Sampled on this page too, and drawn when the network page shows.
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 0);
    EXPECT_EQ(form->NetworkPage->AxTrafficBottom->max(), 200);
    EXPECT_EQ(form->NetworkPage->lblTrafficSend->text(), sendBefore);
    ShowPage();
    ASSERT_EQ(form->NetworkPage->tsTrafficSend->count(), 1);
    ASSERT_EQ(form->NetworkPage->tsTrafficReceive->count(), 1);
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->at(0), QPointF(201, 300));
    EXPECT_EQ(form->NetworkPage->tsTrafficReceive->at(0), QPointF(201, 500));
    EXPECT_EQ(form->NetworkPage->AxTrafficBottom->min(), 1);
    EXPECT_EQ(form->NetworkPage->AxTrafficBottom->max(), 201);
    EXPECT_EQ(form->NetworkPage->lblTrafficSend->text(), QStringLiteral("发送(当前/总计) - 300 Bytes / 2300 Bytes"));
    EXPECT_EQ(form->NetworkPage->lblTrafficReceive->text(), QStringLiteral("接收(当前/总计) - 500 Bytes / 1500 Bytes"));
    // Totals beyond 32 bits show as they are.
    net.ifs[1].InOctets = 1500 + (5ull << 32);
    form->NetworkPage->TrafficTick();
    EXPECT_EQ(form->NetworkPage->lblTrafficReceive->text(),
              QStringLiteral("接收(当前/总计) - %1 Bytes / %2 Bytes").arg(5ull << 32).arg(1500 + (5ull << 32)));
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 2);

    // Choosing the same interface keeps the chart; another one empties it.
    form->NetworkPage->cbbInterfaceListChange(form->NetworkPage->cbbInterfaceList);
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 2);
    form->NetworkPage->cbbInterfaceList->setCurrentIndex(1);
    form->NetworkPage->cbbInterfaceListChange(form->NetworkPage->cbbInterfaceList);
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 0);
    EXPECT_EQ(form->NetworkPage->tsTrafficReceive->count(), 0);

    // The series keep only the window that can be seen.
    for (int i = 0; i < 450; ++i)
        form->NetworkPage->TrafficTick();
    EXPECT_LE(form->NetworkPage->tsTrafficSend->count(), 202);
    EXPECT_GE(form->NetworkPage->tsTrafficSend->count(), 200);
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->at(form->NetworkPage->tsTrafficSend->count() - 1).x(),
              form->NetworkPage->AxTrafficBottom->max());
}

TEST_F(NetworkPage, LoopbackOnlyMachineHasAnIdleChart)
{
    Create();
    net.ifs = {If(1, "lo", IfOperOperational, 10, 10)};
    net.addrs = {{1, Addr(127, 0, 0, 1)}};
    form->NetworkPage->FillInterfaceList();
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->count(), 0);
    form->NetworkPage->TrafficTick();
    form->NetworkPage->TrafficTick();
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 0);
    EXPECT_EQ(form->NetworkPage->AxTrafficBottom->max(), 200);
}

TEST_F(NetworkPage, MonitorLegendEntrySwitchesSamplingOffAndOn)
{
    Create();
    net.ifs = {If(2, "eth0", IfOperOperational, 1000, 2000)};
    net.addrs = {{2, Addr(192, 168, 0, 7)}};
    form->NetworkPage->FillInterfaceList();
    ShowPage();
    form->tmrTraffic->start();
    form->NetworkPage->TrafficTick();
    ASSERT_EQ(form->NetworkPage->tsTrafficSend->count(), 1);
    const QList<QLegendMarker *> markers =
        form->NetworkPage->chtNetTraffic->chart()->legend()->markers(form->NetworkPage->tsTrafficMonitor);
    ASSERT_EQ(markers.size(), 1);
    emit markers[0]->clicked();
    EXPECT_FALSE(form->tmrTraffic->isActive());
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 0);
    EXPECT_EQ(form->NetworkPage->tsTrafficReceive->count(), 0);
    EXPECT_EQ(form->NetworkPage->lblTrafficSend->text(), QStringLiteral("发送(当前/总计) - 0.00 KB / 0.00 KB"));
    EXPECT_EQ(form->NetworkPage->lblTrafficReceive->text(), QStringLiteral("接收(当前/总计) - 0.00 KB / 0.00 KB"));
    emit markers[0]->clicked();
    EXPECT_TRUE(form->tmrTraffic->isActive());
    form->tmrTraffic->stop();
    // The other entries only switch their own line.
    const QList<QLegendMarker *> send =
        form->NetworkPage->chtNetTraffic->chart()->legend()->markers(form->NetworkPage->tsTrafficSend);
    ASSERT_EQ(send.size(), 1);
    form->tmrTraffic->start();
    emit send[0]->clicked();
    EXPECT_TRUE(form->tmrTraffic->isActive());
    form->tmrTraffic->stop();
}

TEST_F(NetworkPage, TrafficLegendStaysOffTheAxisAtTheMinimumSize)
{
    Create();
    ShowPage();
    for (const QSize size : {QSize(800, 600), QSize(620, 450)}) {
        form->resize(size);
        QApplication::processEvents();
        QChart *chart = form->NetworkPage->chtNetTraffic->chart();
        const QRectF legend = chart->legend()->geometry();
        // The left axis: its line at the plot's left edge, its labels to the left of it.
        const QValueAxis *axis = form->NetworkPage->AxTrafficLeft;
        const QFontMetricsF labels(axis->labelsFont());
        const qreal labelWidth = labels.horizontalAdvance(QString::number(axis->max(), 'f', 0));
        EXPECT_LT(legend.right(), chart->plotArea().left() - labelWidth) << size.width();
        EXPECT_GE(legend.left(), 0) << size.width();
        // Every entry has a line of its own inside the legend.
        const QFontMetricsF entries(chart->legend()->font());
        EXPECT_GE(legend.height(), 3 * entries.height()) << size.width();
        for (QLegendMarker *m : chart->legend()->markers())
            EXPECT_GE(legend.width(), entries.horizontalAdvance(m->label()) + entries.height()) << size.width();
    }
}

TEST_F(NetworkPage, EndpointsWithoutAReadableOwnerCarryNoProcess)
{
    // In time wait, not yet accepted, and another user's socket: the tables name no owner. Beside
    // them an endpoint that process 0 itself owns.
    Endpoint idle = Ep(Addr(10, 0, 0, 1), 7000, Addr(10, 0, 0, 2), 7001, TcpEstablished, 0);
    idle.Owned = true;
    idle.Owner = {0, 5};
    net.tcp = {Ep(Addr(10, 0, 0, 1), 50001, Addr(93, 184, 216, 35), 80, TcpTimeWait, 0),
               Ep(Addr(10, 0, 0, 1), 8080, Addr(10, 0, 0, 3), 40000, TcpSynReceived, 0), idle};
    net.udp = {Ep(Addr(10, 0, 0, 1), 123, 0, 0, 0, 0)};
    Create();
    ShowPage();
    // Hidden as local connections, as those of process 0 are.
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(form->NetworkPage->IsLocalConnection(form->NetworkPage->objNetworkMonitor->GetTCPItem(i))) << i;
    EXPECT_TRUE(form->NetworkPage->IsLocalConnection(form->NetworkPage->objNetworkMonitor->GetUDPItem(0)));

    form->NetworkPage->chkHideLocalConnections->click();
    ASSERT_EQ(List()->topLevelItemCount(), 4);
    for (int row : {0, 1, 3}) {
        QTreeWidgetItem *r = List()->topLevelItem(row);
        EXPECT_EQ(r->text(0), QString()) << row;
        EXPECT_EQ(r->text(5), QString()) << row;
        EXPECT_EQ(r->text(6), QString()) << row;
        Select(r);
        EXPECT_FALSE(form->NetworkPage->SelectedConnection()->HasOwner) << row;
        EXPECT_FALSE(form->NetworkPage->btnTerminateConnection->isEnabled()) << row;
        form->NetworkPage->ConnectionCommand(0);
        EXPECT_TRUE(shown.empty()) << row;
        // The details name no process either.
        form->NetworkPage->lvConnectionsClick(List());
        const QStringList details = form->Details->redtDetails->toPlainText().split(QLatin1Char('\n'));
        EXPECT_TRUE(details.contains(QStringLiteral("进程名: "))) << row;
        EXPECT_TRUE(details.contains(QStringLiteral("进程 ID: "))) << row;
    }
    EXPECT_EQ(List()->topLevelItem(2)->text(0), QStringLiteral("System Idle Process"));
    EXPECT_EQ(List()->topLevelItem(2)->text(5), QStringLiteral("0"));
}

// Run only by the test below, as an ordinary user: the page's row of the socket it was given.
TEST_F(NetworkPage, DISABLED_AnotherUsersSocketSeenByAnOrdinaryUser)
{
    const QByteArray port = qgetenv("FOREIGN_SOCKET_PORT");
    if (port.isEmpty())
        GTEST_SKIP() << "run by NetworkPageAsUser.AnotherUsersSocketHasNoOwner as an ordinary user";
    ASSERT_NE(::geteuid(), 0u);
    Create(true);
    ShowPage();
    form->NetworkPage->chkHideLocalConnections->click();
    QTreeWidgetItem *row = RowWith(2, QStringLiteral("127.0.0.1:") + QString::fromLatin1(port));
    ASSERT_NE(row, nullptr) << "no row for the listening socket";
    EXPECT_EQ(row->text(1), QStringLiteral("TCP"));
    EXPECT_EQ(row->text(0), QString());
    EXPECT_EQ(row->text(5), QString());
    EXPECT_EQ(row->text(6), QString());
    Select(row);
    EXPECT_FALSE(form->NetworkPage->btnTerminateConnection->isEnabled());
}

TEST(NetworkPageAsUser, AnotherUsersSocketHasNoOwner)
{
    const tvtest::OtherUserCopy copy;
    if (!copy.SkipReason().isEmpty())
        GTEST_SKIP() << copy.SkipReason().toStdString();
    const tvtest::SharedDir shared;
    if (const QString why = shared.unusable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();

    // A socket of this (root's) process, which the other user's processes cannot see into.
    struct Listener
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ~Listener()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } server;
    ASSERT_GE(server.fd, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(server.fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server.fd, 1), 0);
    ASSERT_EQ(::getsockname(server.fd, reinterpret_cast<sockaddr *>(&address), &length), 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FOREIGN_SOCKET_PORT"), QString::number(ntohs(address.sin_port)));
    // Its temporary and home folders are its own.
    env.insert(QStringLiteral("TMPDIR"), shared.user());
    env.insert(QStringLiteral("HOME"), shared.user());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const tvtest::UserRun run =
        copy.Run(tvtest::kOtherUid, tvtest::kOtherUid,
                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=NetworkPage.DISABLED_AnotherUsersSocketSeenByAnOrdinaryUser")},
                 env, 120000);
    const std::string output = run.output.toStdString();
    EXPECT_TRUE(run.finished) << output;
    EXPECT_EQ(run.exitCode, 0) << output;
    EXPECT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output;
    EXPECT_FALSE(run.output.contains(QStringLiteral("[  SKIPPED ]"))) << output;
}
