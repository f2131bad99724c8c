#include "ui_network/PageFixture.h"

TEST_F(NetworkPage, ListShowsEndpointsAndHidesLocalOnesOnRequest)
{
    Mix(net);
    Create();
    ShowPage();
    ASSERT_TRUE(form->NetworkPage->chkHideLocalConnections->isChecked());
    EXPECT_TRUE(form->NetworkPage->chkHideLocalConnections->isVisible());
    EXPECT_TRUE(form->NetworkPage->chtNetTraffic->isVisible());
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[网络监控] TCP: 4 | UDP 3"));
    ASSERT_EQ(Rows(), 2);
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
        EXPECT_EQ(Cell(0, c), cells[c]) << c;
    EXPECT_EQ(Cell(1, 1), QStringLiteral("UDP"));
    EXPECT_EQ(Cell(1, 2), QStringLiteral("192.168.1.5:5353"));
    EXPECT_EQ(Cell(1, 3), QStringLiteral("N/A"));
    EXPECT_EQ(Cell(1, 4), QStringLiteral("N/A"));
    Select(1);
    const auto udp = form->NetworkPage->SelectedConnection();
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->ClassName(), QStringLiteral("TUDPItem"));
    EXPECT_EQ(static_cast<const TUDPItem *>(udp.get())->LocalPort, 5353u);
    Select(0);
    const auto tcp = form->NetworkPage->SelectedConnection();
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->ClassName(), QStringLiteral("TTCPItem"));
    EXPECT_EQ(static_cast<const TTCPItem *>(tcp.get())->LocalPort,
              form->NetworkPage->objNetworkMonitor->GetTCPItem(1)->LocalPort);

    // Unticked: everything, the orphans without an owner.
    ToggleHideLocal();
    EXPECT_FALSE(form->NetworkPage->chkHideLocalConnections->isChecked());
    ASSERT_EQ(Rows(), 7);
    EXPECT_EQ(Column(1), (QStringList{"TCP", "TCP", "TCP", "TCP", "UDP", "UDP", "UDP"}));
    EXPECT_EQ(Cell(3, 0), QString());
    EXPECT_EQ(Cell(3, 5), QString());
    EXPECT_EQ(Cell(6, 0), QString());

    // The refresh button keeps the check box's choice; a hidden page is not filled.
    net.tcp.pop_back();
    Refresh();
    EXPECT_EQ(Rows(), 6);
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    net.udp.clear();
    Refresh();
    EXPECT_EQ(Rows(), 6);
    EXPECT_EQ(form->NetworkPage->objNetworkMonitor->GetUDPCount(), 0);
}

TEST_F(NetworkPage, OneRefreshReadsEachEndpointTableOnce)
{
    Mix(net);
    Create();
    ShowPage();
    // Shown: the refresh fills the rows from one read of each table.
    net.tcpReads = net.udpReads = 0;
    Refresh();
    EXPECT_EQ(net.tcpReads, 1);
    EXPECT_EQ(net.udpReads, 1);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[网络监控] TCP: 4 | UDP 3"));
    // Hidden: the tables are still read, once, and the rows stay.
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    net.tcpReads = net.udpReads = 0;
    Refresh();
    EXPECT_EQ(net.tcpReads, 1);
    EXPECT_EQ(net.udpReads, 1);
    EXPECT_EQ(Rows(), 2);
}

TEST_F(NetworkPage, TerminateButtonFollowsTheSelection)
{
    Mix(net);
    Create();
    ShowPage();
    ToggleHideLocal();
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
    ASSERT_EQ(Rows(), 3);

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
    SortBy(5);
    EXPECT_EQ(Column(5), (QStringList{"10", "100", "9"}));
    SortBy(5);
    EXPECT_EQ(Column(5), (QStringList{"9", "100", "10"}));
    SortBy(0);
    EXPECT_EQ(Column(0), (QStringList{"alpha", "Beta", "Gamma"}));
    // A refresh keeps the order; each row still finds its endpoint.
    Refresh();
    EXPECT_EQ(Column(0), (QStringList{"alpha", "Beta", "Gamma"}));
    Select(0);
    ASSERT_NE(form->NetworkPage->SelectedConnection(), nullptr);
    EXPECT_EQ(form->NetworkPage->SelectedConnection()->ProcessID, 10u);

    // Every column of a mix of both kinds, several states, owners and none, both ways: neighbouring
    // rows in the order of their shown texts, as the page compares texts.
    Mix(net);
    net.tcp.push_back(Ep(Addr(9, 0, 0, 1), 9, Addr(100, 0, 0, 1), 65535, TcpSynSent, 9));
    net.tcp.push_back(Ep(Addr(10, 0, 0, 10), 8080, Addr(10, 0, 0, 2), 443, TcpCloseWait, 100));
    net.udp.push_back(Ep(Addr(255, 255, 255, 255), 65535, 0, 0, 0, 9));
    ToggleHideLocal();
    ASSERT_EQ(Rows(), 10);
    for (int column = 0; column < 7; ++column) {
        for (const bool descending : {false, true}) {
            if (form->NetworkPage->SortColumn != column || form->NetworkPage->SortDescending != descending)
                SortBy(column);
            if (form->NetworkPage->SortDescending != descending)
                SortBy(column);
            const QStringList texts = Column(column);
            for (qsizetype i = 1; i < texts.size(); ++i)
                EXPECT_LE(CompareTexts(texts[i - 1], texts[i], descending), 0)
                    << "column " << column << (descending ? " down" : " up") << ", rows " << i - 1 << " and " << i;
        }
    }
}

TEST_F(NetworkPage, InterfaceListOffersUsableInterfacesAndKeepsTheChoice)
{
    Create();
    net.ifs = {If(1, "lo", IfOperOperational), If(2, "eth0", IfOperOperational), If(3, "down0", IfOperDisconnected),
               If(4, "bare0", IfOperOperational), If(5, "wlan0", IfOperConnecting)};
    net.addrs = {{1, Addr(127, 0, 0, 1)}, {2, Addr(192, 168, 0, 7)}, {3, Addr(10, 9, 9, 9)}, {5, Addr(172, 16, 0, 3)}};
    FillInterfaces();
    ASSERT_EQ(form->NetworkPage->cbbInterfaceList->count(), 2);
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->itemText(0), QStringLiteral("eth0 [192.168.0.7]"));
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->itemText(1), QStringLiteral("wlan0 [172.16.0.3]"));
    EXPECT_EQ(form->NetworkPage->InterfaceMap.size(), 5);
    EXPECT_EQ(form->NetworkPage->InterfaceMap[0], 1);
    EXPECT_EQ(form->NetworkPage->InterfaceMap[1], 4);
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->currentIndex(), 0);

    form->NetworkPage->cbbInterfaceList->setCurrentIndex(1);
    form->NetworkPage->cbbInterfaceListChange(form->NetworkPage->cbbInterfaceList);
    FillInterfaces();
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->currentIndex(), 1);
    // The chosen position is gone: back to the first.
    net.ifs[4].OperStatus = IfOperDisconnected;
    FillInterfaces();
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
    FillInterfaces();
    ASSERT_EQ(form->NetworkPage->cbbInterfaceList->count(), 2);
    ASSERT_TRUE(form->pnlTab_Process->isVisible()); // another page is shown

    net.ifs[1].InOctets = 1500;
    net.ifs[1].OutOctets = 2300;
    const QString sendBefore = form->NetworkPage->lblTrafficSend->text();
    ASSERT_TRUE(QMetaObject::invokeMethod(form->tmrTraffic, "timeout", Qt::DirectConnection));
    ASSERT_TRUE(WaitForNetwork(form->NetworkPage));
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
    Tick();
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
        Tick();
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
    FillInterfaces();
    EXPECT_EQ(form->NetworkPage->cbbInterfaceList->count(), 0);
    Tick();
    Tick();
    EXPECT_EQ(form->NetworkPage->tsTrafficSend->count(), 0);
    EXPECT_EQ(form->NetworkPage->AxTrafficBottom->max(), 200);
}

TEST_F(NetworkPage, MonitorLegendEntrySwitchesSamplingOffAndOn)
{
    Create();
    net.ifs = {If(2, "eth0", IfOperOperational, 1000, 2000)};
    net.addrs = {{2, Addr(192, 168, 0, 7)}};
    FillInterfaces();
    ShowPage();
    form->tmrTraffic->start();
    Tick();
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
    EXPECT_EQ(Rows(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(form->NetworkPage->IsLocalConnection(form->NetworkPage->objNetworkMonitor->GetTCPItem(i).get()))
            << i;
    EXPECT_TRUE(form->NetworkPage->IsLocalConnection(form->NetworkPage->objNetworkMonitor->GetUDPItem(0).get()));

    ToggleHideLocal();
    ASSERT_EQ(Rows(), 4);
    for (int row : {0, 1, 3}) {
        EXPECT_EQ(Cell(row, 0), QString()) << row;
        EXPECT_EQ(Cell(row, 5), QString()) << row;
        EXPECT_EQ(Cell(row, 6), QString()) << row;
        Select(row);
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
    EXPECT_EQ(Cell(2, 0), QStringLiteral("System Idle Process"));
    EXPECT_EQ(Cell(2, 5), QStringLiteral("0"));
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
    ToggleHideLocal();
    const int row = RowWith(2, QStringLiteral("127.0.0.1:") + QString::fromLatin1(port));
    ASSERT_GE(row, 0) << "no row for the listening socket";
    EXPECT_EQ(Cell(row, 1), QStringLiteral("TCP"));
    EXPECT_EQ(Cell(row, 0), QString());
    EXPECT_EQ(Cell(row, 5), QString());
    EXPECT_EQ(Cell(row, 6), QString());
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
