#pragma once

// The network page over scripted endpoint tables and interfaces: the form, its page and the waits
// for what the page's worker reads.

#include "common/OtherUser.h"
#include "common/UserDirs.h"
#include "platform_network/Addr.h"
#include "ui_network/ConnectionRows.h"
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
#include <QTreeView>
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
using nettest::WaitForNetwork;

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

inline Endpoint Ep(quint32 local, quint32 lport, quint32 remote, quint32 rport, quint8 state, quint32 pid,
                   quint64 start = 5)
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

inline InterfaceRow If(quint32 index, const char *name, quint8 oper, quint64 in = 0, quint64 out = 0)
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
            form->NetworkPage->objNetworkMonitor->SetSource(source);
        form->show();
    }
    // Selects the page and waits for its rows.
    void ShowPage()
    {
        form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network);
        ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    }
    // Clicks and waits for what the click had read.
    void Refresh()
    {
        form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
        ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    }
    void ToggleHideLocal()
    {
        form->NetworkPage->chkHideLocalConnections->click();
        ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    }
    void SortBy(int column)
    {
        form->NetworkPage->lvConnectionsColumnClick(List(), column);
        ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    }
    void Tick()
    {
        form->NetworkPage->TrafficTick();
        ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    }
    void FillInterfaces()
    {
        form->NetworkPage->FillInterfaceList();
        ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    }

    QTreeView *List() const { return form->NetworkPage->lvConnections; }
    int Rows() const { return nettest::RowCount(form->NetworkPage); }
    QString Cell(int row, int column) const { return nettest::Cell(form->NetworkPage, row, column); }
    int RowWith(int column, const QString &text) const { return nettest::RowWith(form->NetworkPage, column, text); }
    void Select(int row)
    {
        ASSERT_GE(row, 0);
        nettest::SelectRow(form->NetworkPage, row);
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
    QStringList Column(int column) const { return nettest::ColumnTexts(form->NetworkPage, column); }

    NoProcesses processes;
    FakeNetwork net;
    // What the form reads: `net`, unless a test puts another source in its place.
    NetworkSource *source = &net;
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    std::vector<std::unique_ptr<QProcess>> children;
    std::vector<Shown> shown;
    QList<quint8> answers;
};

// The usual mix: a listener, a remote connection, a loopback pair, an orphan and UDP.
inline void Mix(FakeNetwork &net)
{
    net.tcp = {Ep(0, 80, 0, 0, TcpListen, kFakePid),
               Ep(Addr(10, 0, 0, 1), 50000, Addr(93, 184, 216, 34), 443, TcpEstablished, kFakePid),
               Ep(Addr(127, 0, 0, 1), 631, Addr(127, 0, 0, 1), 5555, TcpEstablished, kFakePid2),
               Ep(Addr(10, 0, 0, 1), 50001, Addr(93, 184, 216, 35), 80, TcpTimeWait, 0)};
    net.udp = {Ep(0, 68, 0, 0, 0, kFakePid2), Ep(Addr(192, 168, 1, 5), 5353, 0, 0, 0, kFakePid2),
               Ep(Addr(10, 0, 0, 1), 123, 0, 0, 0, 0)};
}

} // namespace
