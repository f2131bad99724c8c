// The network page reads beside the window: the window's thread never waits for a read, however
// long the tables or however slow the files behind them, and a page of many endpoints costs a few
// bytes a row.

#include "common/HeapBytes.h"
#include "common/Pinger.h"
#include "common/TempDir.h"
#include "ui_network/PageFixture.h"
#include "ui_process/OperationGate.h"

#include "platform/files/Dpkg.h"
#include "platform/files/FileHandle.h"

#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using std::chrono::milliseconds;

// The longest the window's thread may stay away from its loop.
constexpr milliseconds kHoldLimit(100);

class NetworkWorker : public NetworkPage
{
protected:
    // Runs `Action` and waits for what it asked of the worker; the longest the window's thread
    // stayed away from its loop meanwhile.
    template <typename TAction>
    milliseconds Hold(TAction Action)
    {
        tvtest::Pinger pinger(form.get());
        Action();
        EXPECT_TRUE(WaitForNetwork(form->NetworkPage));
        return pinger.Stop();
    }
    // Every pair of neighbouring rows in the order of the sort column, as the page compares them.
    ::testing::AssertionResult Ordered(int SortColumn, bool Descending)
    {
        const QStringList texts = Column(SortColumn);
        for (qsizetype i = 1; i < texts.size(); ++i)
            if (CompareTexts(texts[i - 1], texts[i], Descending) > 0)
                return ::testing::AssertionFailure()
                    << "rows " << i - 1 << " and " << i << ": \"" << texts[i - 1].toStdString() << "\", \""
                    << texts[i].toStdString() << "\"";
        return ::testing::AssertionSuccess();
    }
};

// One user's programs with many sockets: listeners on the loopback, both ends of loopback
// connections, and connections between two private addresses; a few in time wait, without owner.
class ManyEndpoints : public FakeNetwork
{
public:
    static constexpr int kCount = 300000;
    static constexpr int kListeners = 99950;

    ManyEndpoints()
    {
        const char *programs[] = {"/opt/app/bin/Alpha", "/opt/app/bin/beta", "/usr/bin/Gamma", "/usr/lib/delta",
                                  "/srv/epsilon",       "/opt/Zeta",         "/opt/eta"};
        for (quint32 k = 0; k < 7; ++k)
            paths[kFakePid + 100 + k] = QLatin1String(programs[k]);
        tcp.reserve(kCount);
        for (int i = 0; i < kCount; ++i) {
            const quint32 owner = i % 1000 == 999 ? 0 : kFakePid + 100 + quint32(i % 7);
            const quint32 j = quint32(i);
            if (i < kListeners)
                tcp.push_back(Ep(Addr(127, 0, 0, 1), 10000 + j % 50000, 0, 0, TcpListen, owner));
            else if (i % 2 == 0)
                tcp.push_back(Ep(Addr(127, 0, 0, 1), 30000 + j % 30000, Addr(127, 0, 0, 1), 10000 + j % 50000,
                                 TcpEstablished, owner));
            else
                tcp.push_back(Ep(Addr(10, 1, (j >> 8) & 255, j & 255), 40000 + j % 20000,
                                 Addr(10, 2, (j >> 16) & 255, (j >> 4) & 255), 443 + j % 7,
                                 i % 3 ? TcpEstablished : TcpTimeWait, owner));
        }
    }
    // Neither a listener nor on the loopback, and with an owner.
    static bool Remote(const Endpoint &E)
    {
        return E.Owned && E.Owner.Pid != 0 && E.Row.LocalAddress != 0 && E.Row.LocalAddress != Addr(127, 0, 0, 1) &&
            E.Row.RemoteAddress != 0 && E.Row.RemoteAddress != Addr(127, 0, 0, 1);
    }

    bool listed = false; // until then the tables are empty
    bool TcpEndpoints(std::vector<Endpoint> &out) override
    {
        return listed ? FakeNetwork::TcpEndpoints(out) : (++tcpReads, true);
    }
};

// Reads of the tables, or of what an owner's program is, wait while their gate is shut; a bounded
// while, so that a window that waits for them shows as a long hold rather than a test that hangs.
class GatedNetwork : public FakeNetwork
{
public:
    enum TGate { Tables, Owners };

    void Shut(TGate Gate)
    {
        std::lock_guard l(m_Lock);
        m_Shut[Gate] = true;
    }
    void Open()
    {
        {
            std::lock_guard l(m_Lock);
            m_Shut[Tables] = m_Shut[Owners] = false;
        }
        m_Changed.notify_all();
    }
    // Until a read waits at a gate.
    bool WaitForReader()
    {
        QDeadlineTimer deadline(30000);
        for (;;) {
            {
                std::lock_guard l(m_Lock);
                if (m_Waiting > 0)
                    return true;
            }
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }

    QString program; // the file every owner runs

    bool TcpEndpoints(std::vector<Endpoint> &out) override
    {
        Pass(Tables);
        return FakeNetwork::TcpEndpoints(out);
    }
    std::optional<platform::processes::ImageFacts> OwnerImageFacts(quint32 pid, quint64 start) override
    {
        Pass(Owners);
        return FakeNetwork::OwnerImageFacts(pid, start);
    }
    int OpenOwnerImage(quint32, quint64) override
    {
        Pass(Owners);
        QString why;
        return platform::files::OpenHandle(program, platform::files::HandleAccess::Read, false, why);
    }
    bool OwnerPathIsImage(quint32, quint64, const QString &path) override { return path == program; }

private:
    void Pass(TGate Gate)
    {
        std::unique_lock l(m_Lock);
        ++m_Waiting;
        m_Changed.wait_for(l, std::chrono::seconds(5), [&] { return !m_Shut[Gate]; });
        --m_Waiting;
    }

    std::mutex m_Lock;
    std::condition_variable m_Changed;
    bool m_Shut[2] = {false, false};
    int m_Waiting = 0;
};

// A package database of the test's own in which one package owns the program.
class OnePackage
{
public:
    explicit OnePackage(const QString &Program)
    {
        QDir().mkpath(m_dir.file(QStringLiteral("info")));
        QFile list(m_dir.file(QStringLiteral("info/demo-tools:amd64.list")));
        if (list.open(QIODevice::WriteOnly))
            list.write((Program + QLatin1Char('\n')).toUtf8());
        QFile status(m_dir.file(QStringLiteral("status")));
        if (status.open(QIODevice::WriteOnly))
            status.write("Package: demo-tools\nStatus: install ok installed\n"
                         "Maintainer: Demo Makers <demo@example.org>\nVersion: 2.5-1\n"
                         "Description: tools for the demo\n\n");
        platform::files::SetDpkgDatabaseDir(m_dir.path());
    }
    ~OnePackage() { platform::files::SetDpkgDatabaseDir(QString()); }
    OnePackage(const OnePackage &) = delete;
    OnePackage &operator=(const OnePackage &) = delete;

private:
    tvtest::TempDir m_dir;
};

QStringList PanelLines(const TFormMain &Form)
{
    return Form.Details->redtDetails->toPlainText().split(QLatin1Char('\n'));
}

} // namespace

TEST_F(NetworkWorker, ThreeHundredThousandEndpointsNeitherHoldTheWindowNorFillItsMemory)
{
    ManyEndpoints many;
    source = &many;
    Create();
    ShowPage();
    ToggleHideLocal();
    ASSERT_FALSE(form->NetworkPage->chkHideLocalConnections->isChecked());
    ASSERT_EQ(Rows(), 0);
    QCoreApplication::processEvents();
    const std::size_t empty = tvtest::HeapBytes();

    // The refresh, a second one over the first, and the page's fill when it is selected again.
    many.listed = true;
    EXPECT_LT(Hold([&] { form->NetworkPage->btnRefreshConnectionListClick(nullptr); }), kHoldLimit);
    ASSERT_EQ(Rows(), ManyEndpoints::kCount);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[网络监控] TCP: 300000 | UDP 0"));
    QCoreApplication::processEvents();
    const std::size_t full = tvtest::HeapBytes();
    EXPECT_LE(full, empty + 100u * 1024 * 1024) << "grew by " << (full - empty) / 1024 << " KiB";
    EXPECT_LT(Hold([&] { form->NetworkPage->btnRefreshConnectionListClick(nullptr); }), kHoldLimit);
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    EXPECT_LT(Hold([&] { form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network); }), kHoldLimit);
    ASSERT_EQ(Rows(), ManyEndpoints::kCount);

    // Sorting by a column, both ways, and by another.
    for (const auto &[column, descending] : {std::pair{2, false}, std::pair{2, true}, std::pair{0, false}}) {
        EXPECT_LT(Hold([&] { form->NetworkPage->lvConnectionsColumnClick(List(), column); }), kHoldLimit) << column;
        ASSERT_EQ(form->NetworkPage->SortDescending, descending);
        EXPECT_TRUE(Ordered(column, descending)) << column;
        EXPECT_EQ(Rows(), ManyEndpoints::kCount);
    }

    // Hiding the local endpoints leaves the rest, still in the sort order; the listeners are all gone.
    const auto remote = std::count_if(many.tcp.begin(), many.tcp.end(), &ManyEndpoints::Remote);
    ASSERT_GT(remote, 50000);
    EXPECT_LT(Hold([&] { form->NetworkPage->chkHideLocalConnections->click(); }), kHoldLimit);
    ASSERT_EQ(Rows(), int(remote));
    EXPECT_TRUE(Ordered(0, false));
    QString listening;
    TCPStateText(TcpListen, listening);
    EXPECT_EQ(RowWith(4, listening), -1);
    const TConnectionModel &rows = *form->NetworkPage->ConnectionRows;
    int local = 0;
    for (int r = 0; r < Rows(); ++r)
        local += form->NetworkPage->IsLocalConnection(MakeConnectionItem(rows.List(), *rows.KeyOf(r)).get());
    EXPECT_EQ(local, 0);
}

TEST_F(NetworkWorker, ReadsThatWaitLeaveTheWindowAnsweringAndTheirResultsComeLater)
{
    tvtest::TempDir dir;
    GatedNetwork gated;
    gated.program = dir.file(QStringLiteral("server"));
    {
        QFile f(gated.program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
    }
    const OnePackage package(gated.program);
    gated.paths[kFakePid] = gated.program;
    gated.facts[kFakePid].Path = gated.program;
    gated.tcp = {Ep(Addr(10, 0, 0, 1), 50000, Addr(93, 184, 216, 34), 443, TcpEstablished, kFakePid)};
    source = &gated;
    Create();
    ShowPage();
    ASSERT_EQ(Rows(), 1);

    // The tables: the window answers while they are read, keeping the rows it has; the new rows
    // come when the read returns.
    gated.Shut(GatedNetwork::Tables);
    gated.tcp.push_back(Ep(Addr(10, 0, 0, 1), 50001, Addr(93, 184, 216, 35), 443, TcpEstablished, kFakePid));
    {
        tvtest::Pinger pinger(form.get());
        form->NetworkPage->btnRefreshConnectionListClick(nullptr);
        ASSERT_TRUE(gated.WaitForReader());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_LT(pinger.Stop(), kHoldLimit);
    }
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(form->NetworkPage->objNetworkMonitor->Busy());
    gated.Open();
    ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[网络监控] TCP: 2 | UDP 0"));

    // The details: what the record holds at once, the owner's program when it has been read.
    const QStringList version = {QStringLiteral("产品名: demo-tools"), QStringLiteral("文件描述: tools for the demo"),
                                 QStringLiteral("公司名: Demo Makers <demo@example.org>"), QStringLiteral("版权: ")};
    const QStringList none = {QStringLiteral("产品名: "), QStringLiteral("文件描述: "), QStringLiteral("公司名: "),
                              QStringLiteral("版权: ")};
    gated.Shut(GatedNetwork::Owners);
    Select(0);
    {
        tvtest::Pinger pinger(form.get());
        form->NetworkPage->lvConnectionsClick(List());
        EXPECT_LT(pinger.Stop(), kHoldLimit);
    }
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    QStringList lines = PanelLines(*form);
    ASSERT_GE(lines.size(), 13);
    EXPECT_EQ(lines[0], QStringLiteral("连接类型: TCP"));
    EXPECT_EQ(lines[8], QStringLiteral("进程路径: ") + gated.program);
    EXPECT_EQ(lines.mid(lines.size() - 4), none);
    gated.Open();
    ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
    lines = PanelLines(*form);
    EXPECT_EQ(lines[8], QStringLiteral("进程路径: ") + gated.program);
    EXPECT_EQ(lines.mid(lines.size() - 4), version);

    // The end command: an owner whose facts do not come is not ended, and the user is told.
    gated.Shut(GatedNetwork::Owners);
    {
        tvtest::Pinger pinger(form.get());
        form->NetworkPage->ConnectionCommand(0);
        EXPECT_LT(pinger.Stop(), kHoldLimit);
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, Shows(QStringLiteral("结束进程操作失败！\r\rserver [%1]").arg(kFakePid)));
    EXPECT_EQ(shown[0].Title, QStringLiteral("失败"));
    gated.Open();
    ASSERT_TRUE(WaitForNetwork(form->NetworkPage));

    // The window closes while a read waits; that read ends on its own. Its source stays for it.
    static GatedNetwork stuck;
    stuck.tcp = gated.tcp;
    form->NetworkPage->objNetworkMonitor->SetSource(&stuck);
    stuck.Shut(GatedNetwork::Tables);
    form->NetworkPage->btnRefreshConnectionListClick(nullptr);
    ASSERT_TRUE(stuck.WaitForReader());
    QElapsedTimer closing;
    closing.start();
    form.reset();
    EXPECT_LT(closing.elapsed(), 3000);
    stuck.Open();
}

// Ending an owner whose stat file does not answer fails at once, and the owner is not ended when
// the read answers later; once it answers in time, the owner is ended.
TEST_F(NetworkWorker, EndingAnOwnerWhoseReadsDoNotAnswerFailsAtOnceAndNeverEndsItLater)
{
    const auto [pid, start] = Spawn();
    net.paths[pid] = QStringLiteral("/usr/bin/sleep");
    net.tcp = {Ep(Addr(10, 0, 0, 1), 4000, Addr(10, 0, 0, 2), 4001, TcpEstablished, pid, start)};
    Create();
    ShowPage();
    ASSERT_EQ(Rows(), 1);
    Select(0);
    tvtest::OperationGate &gate = tvtest::OperationGate::Get();
    const int passed = gate.Passed(pid);
    gate.Shut(pid);
    answers = {3};
    {
        tvtest::Pinger pinger(form.get());
        form->NetworkPage->ConnectionCommand(0);
        EXPECT_LT(pinger.Stop(), kHoldLimit);
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].Text, Shows(QStringLiteral("结束进程操作失败！\r\rsleep [%1]").arg(pid)));
    EXPECT_EQ(shown[1].Title, QStringLiteral("失败"));
    gate.Open();
    ASSERT_TRUE(gate.WaitPassed(pid, passed + 1));
    EXPECT_FALSE(children[0]->waitForFinished(300)) << "ended after it was reported as failed";
    EXPECT_FALSE(gate.GaveUp()) << "the window waited for the read";

    shown.clear();
    answers = {3};
    form->NetworkPage->ConnectionCommand(0);
    EXPECT_EQ(shown.size(), 1u) << "no failure report after success";
    EXPECT_TRUE(children[0]->waitForFinished(5000));
}
