#include "DetailsFixture.h"
#include "common/ServiceList.h"
#include "common/UserDirs.h"
#include "platform_services/FakeSystemd.h"
#include "sysinfo_autoruns/AutorunEnv.h"
#include "ui_network/ConnectionRows.h"

#include "platform/files/FileHandle.h"
#include "platform/files/FolderNoFollow.h"
#include "platform/network/NetworkSource.h"
#include "platform/processes/ProcessSource.h"
#include "sysinfo/Autoruns.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/NetworkMonitor.h"
#include "sysinfo/Services.h"
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

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>
#include <map>
#include <memory>

namespace {

const QString kHint = QStringLiteral("(请点击列表查看相关详细信息)");

// A process table with nothing in it.
class NoProcesses : public platform::processes::ProcessSource
{
public:
    bool EnumeratePrimary(std::vector<platform::processes::ProcessEntry> &) override { return true; }
    bool EnumerateFallback(std::vector<platform::processes::ProcessEntry> &) override { return true; }
};

std::unique_ptr<TFormMain> NewForm(platform::processes::ProcessSource *Processes)
{
    auto form = std::make_unique<TFormMain>(nullptr, Processes);
    form->tmrProcess->stop();
    form->tmrTraffic->stop();
    form->tmrSystem->stop();
    return form;
}

QTreeWidgetItem *RowWith(QTreeWidget *List, int Column, const QString &Text)
{
    for (int i = 0; i < List->topLevelItemCount(); ++i)
        if (List->topLevelItem(i)->text(Column) == Text)
            return List->topLevelItem(i);
    return nullptr;
}

void SelectOnly(QTreeWidget *List, QTreeWidgetItem *Row)
{
    List->clearSelection();
    if (Row)
        Row->setSelected(true);
}

// A program file of the test's own and a package that owns it.
class WithProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        program = dir.file(QStringLiteral("demo-tool"));
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        packages = std::make_unique<dtest::FakePackages>(QStringList{program});
    }
    void TearDown() override
    {
        form.reset();
        packages.reset();
        RestoreDefaultUiHooks();
    }

    QStringList Lines() const { return dtest::Lines(form->Details->redtDetails); }
    static QStringList VersionLines()
    {
        return {QStringLiteral("产品名: demo-tools"), QStringLiteral("文件描述: tools for the demo"),
                QStringLiteral("公司名: Demo Makers <demo@example.org>"), QStringLiteral("版权: ")};
    }
    static QStringList NoVersionLines()
    {
        return {QStringLiteral("产品名: "), QStringLiteral("文件描述: "), QStringLiteral("公司名: "),
                QStringLiteral("版权: ")};
    }
    // The component holds nothing once the panel is filled.
    void ExpectPropertiesCleared() const
    {
        const TVersionInfo &v = *form->Details->objFileProperties->VersionInfo();
        EXPECT_TRUE(v.ProductName.isEmpty() && v.FileDescription.isEmpty() && v.CompanyName.isEmpty());
    }

    tvtest::TempDir dir;
    QString program;
    std::unique_ptr<dtest::FakePackages> packages;
    NoProcesses processes;
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
};

// ---- services ----

class ServiceDetails : public WithProgram
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override
    {
        WithProgram::SetUp();
        ASSERT_TRUE(bus->ok()) << "private message bus did not start";
        auto running = fakesd::Service(QStringLiteral("alpha"), QStringLiteral("active"), QStringLiteral("enabled"));
        running.documentation = {QStringLiteral("man:alpha(8)")};
        auto stopped = fakesd::Service(QStringLiteral("beta"));
        bus->manager.setUnits({running, stopped});
        form = NewForm(&processes);
        form->show();
        form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
        ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
    }
    void Click(const QString &Name)
    {
        SelectOnly(form->ServicePage->lvServices, RowWith(form->ServicePage->lvServices, 0, Name));
        form->ServicePage->lvServicesClick(form->ServicePage->lvServices);
    }
    static QString Text(void (*Routine)(quint8, QString &), quint8 Value)
    {
        QString t;
        Routine(Value, t);
        return t;
    }

    static fakesd::Bus *bus;
};

fakesd::Bus *ServiceDetails::bus = nullptr;

TEST_F(ServiceDetails, EveryFieldInOrderAndNoHostProcess)
{
    Click(QStringLiteral("alpha"));
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    const TServiceItem *a = form->ServicePage->SelectedService();
    ASSERT_NE(a, nullptr);
    QString type;
    ServiceTypeText(a->ServiceType, type);
    EXPECT_EQ(Lines(),
              (QStringList{QStringLiteral("服务名: alpha"), QStringLiteral("显示名: alpha daemon"),
                           QStringLiteral("命令行: ") + a->BinaryPath, QStringLiteral("宿主进程 ID: 4100000"),
                           QStringLiteral("当前状态: 运行中"), QStringLiteral("启动类型: 自动"),
                           QStringLiteral("服务类型: ") + type, QStringLiteral("描述: ") + a->Description}));
    EXPECT_TRUE(a->BinaryPath.startsWith(QStringLiteral("/usr/sbin/alpha")));
    EXPECT_FALSE(a->Description.isEmpty());
    EXPECT_FALSE(form->Details->redtDetails->toPlainText().endsWith(QLatin1Char('\n'))) << "the last line has no break";
    const dtest::Run label = dtest::RunWith(form->Details->redtDetails, QStringLiteral("宿主进程 ID: "));
    EXPECT_TRUE(label.Bold);
    EXPECT_EQ(label.Color, dtest::kNavy);

    Click(QStringLiteral("beta"));
    const QStringList beta = Lines();
    ASSERT_EQ(beta.size(), 8);
    EXPECT_EQ(beta[3], QStringLiteral("宿主进程 ID: N/A"));
    EXPECT_EQ(beta[4], QStringLiteral("当前状态: 已停止"));
    EXPECT_EQ(beta[5],
              QStringLiteral("启动类型: ") +
                  Text(StartTypeText, quint8(form->ServicePage->SelectedService()->StartType)));

    SelectOnly(form->ServicePage->lvServices, nullptr);
    form->ServicePage->lvServicesClick(form->ServicePage->lvServices);
    EXPECT_EQ(form->Details->redtDetails->toPlainText(), kHint);
}

TEST_F(ServiceDetails, ANameIsShownAsTheManagerSpellsItAndAnyOtherEscapedYetLeadsToItsService)
{
    // The manager's own escape in a unit name reads as systemctl shows it; a name the manager could
    // not have made is escaped like every outside text. Either row finds its service.
    bus->manager.setUnits({fakesd::Service(QStringLiteral("fsck@dev-by\\x2duuid")),
                           fakesd::Service(QStringLiteral("evil\u202e\x1b.service"))});
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
    Click(QStringLiteral("fsck@dev-by\\x2duuid"));
    const TServiceItem *item = form->ServicePage->SelectedService();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Name, QStringLiteral("fsck@dev-by\\x2duuid"));
    EXPECT_EQ(Lines().value(0), QStringLiteral("服务名: fsck@dev-by\\x2duuid"));

    const QString shown = VisibleText(QStringLiteral("evil\u202e\x1b"));
    ASSERT_NE(shown, QStringLiteral("evil\u202e\x1b"));

    Click(shown);
    item = form->ServicePage->SelectedService();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Name, QStringLiteral("evil\u202e\x1b"));
    EXPECT_EQ(Lines().value(0), QStringLiteral("服务名: ") + shown);
}

// ---- autoruns ----

class AutorunDetails : public WithProgram
{
protected:
    void SetUp() override
    {
        WithProgram::SetUp();
        ASSERT_TRUE(autotest::AutorunEnv::SetRun(autotest::kUserRun, "tool",
                                                 QLatin1Char('"') + program + QStringLiteral("\" --daemon")));
        ASSERT_TRUE(autotest::AutorunEnv::SetRun(autotest::kMachineRun, "ghost", "/nonexistent/ghost -x"));
        form = NewForm(&processes);
        form->AutorunPage->objAutoruns->SetBackupFile(env.BackupFile());
        form->show();
        form->btnLeftMenu_AutorunClick(form->btnLeftMenu_Autorun);
        WaitForList();
    }
    // The list is read beside the window.
    void WaitForList()
    {
        QDeadlineTimer deadline(10000);
        while (form->AutorunPage->objAutoruns->Refreshing() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    void Click(const QString &Name)
    {
        SelectOnly(form->AutorunPage->lvAutoruns, RowWith(form->AutorunPage->lvAutoruns, 0, Name));
        form->AutorunPage->lvAutorunsClick(form->AutorunPage->lvAutoruns);
    }

    autotest::AutorunEnv env;
};

TEST_F(AutorunDetails, EntryLinesAndTheVersionOfItsProgram)
{
    Click(QStringLiteral("tool"));
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    const TAutorunItem *tool = form->AutorunPage->SelectedAutorun();
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(Lines(),
              QStringList({QStringLiteral("标题: tool"), QStringLiteral("状态: 启用"),
                           QStringLiteral("命令行: ") + tool->Command, QStringLiteral("位置: ") + autotest::kUserRun}) +
                  VersionLines());
    EXPECT_TRUE(tool->Command.contains(program));
    ExpectPropertiesCleared();

    // A command whose file is missing: the four version lines stay empty.
    Click(QStringLiteral("ghost"));
    EXPECT_EQ(Lines(),
              QStringList({QStringLiteral("标题: ghost"), QStringLiteral("状态: 启用"),
                           QStringLiteral("命令行: /nonexistent/ghost -x"),
                           QStringLiteral("位置: ") + autotest::kMachineRun}) +
                  NoVersionLines());

    // A disabled entry says so.
    ASSERT_TRUE(form->AutorunPage->objAutoruns->Disable(0));
    form->AutorunPage->RefreshAutorunList();
    WaitForList();
    Click(QStringLiteral("tool"));
    ASSERT_GE(Lines().size(), 2);
    EXPECT_EQ(Lines()[1], QStringLiteral("状态: 禁用"));
}

// ---- network endpoints ----

quint32 Addr(int a, int b, int c, int d)
{
    const unsigned char bytes[4] = {quint8(a), quint8(b), quint8(c), quint8(d)};
    quint32 v = 0;
    std::memcpy(&v, bytes, 4);
    return v;
}

// Above the kernel's largest identifier: no real process carries it.
constexpr quint32 kOwner = 4194304 + 77;

class FakeNetwork : public platform::network::NetworkSource
{
public:
    std::vector<platform::network::Endpoint> tcp, udp;
    std::map<quint32, QString> paths;

    bool TcpEndpoints(std::vector<platform::network::Endpoint> &out) override
    {
        out.insert(out.end(), tcp.begin(), tcp.end());
        return true;
    }
    bool UdpEndpoints(std::vector<platform::network::Endpoint> &out) override
    {
        out.insert(out.end(), udp.begin(), udp.end());
        return true;
    }
    bool Interfaces(std::vector<platform::network::InterfaceRow> &) override { return true; }
    bool Addresses(std::vector<platform::network::AddressRow> &) override { return true; }
    std::optional<QString> ProcessPath(quint32 pid, quint64) override
    {
        const auto it = paths.find(pid);
        return it == paths.end() ? std::nullopt : std::optional(it->second);
    }
    bool IsKernelProcess(quint32) override { return false; }
    std::optional<platform::network::Moment> ProcessStart(quint32, quint64) override { return std::nullopt; }
    // The file an owner runs: the one its path names when the test put one there, unless the test
    // named another.
    std::map<quint32, QString> images;
    QString imageOf(quint32 pid) const
    {
        const auto image = images.find(pid);
        if (image != images.end())
            return image->second;
        const auto path = paths.find(pid);
        return path == paths.end() ? QString() : path->second;
    }
    int OpenOwnerImage(quint32 pid, quint64) override
    {
        QString why;
        const QString file = imageOf(pid);
        return file.isEmpty() ? -1 : platform::files::OpenHandle(file, platform::files::HandleAccess::Read, false, why);
    }
    bool OwnerPathIsImage(quint32 pid, quint64, const QString &path) override
    {
        const auto image = platform::files::IdentityWithoutLinks(QFile::encodeName(imageOf(pid)));
        return image && platform::files::IdentityWithoutLinks(QFile::encodeName(path)) == image;
    }
};

platform::network::Endpoint Ep(quint32 Local, quint32 LocalPort, quint32 Remote, quint32 RemotePort, quint8 State,
                               quint32 Pid)
{
    platform::network::Endpoint e;
    e.Row.State = State;
    e.Row.LocalAddress = Local;
    e.Row.LocalPort = LocalPort;
    e.Row.RemoteAddress = Remote;
    e.Row.RemotePort = RemotePort;
    if (Pid != 0) {
        e.Owned = true;
        e.Owner = {Pid, 5};
    }
    return e;
}

class ConnectionDetails : public WithProgram
{
protected:
    void SetUp() override
    {
        WithProgram::SetUp();
        net.paths[kOwner] = program;
        net.tcp = {Ep(Addr(10, 0, 0, 1), 50000, Addr(93, 184, 216, 34), 443, 5, kOwner)};
        net.udp = {Ep(Addr(192, 168, 1, 5), 5353, 0, 0, 0, kOwner)};
        form = NewForm(&processes);
        form->NetworkPage->objNetworkMonitor->SetSource(&net);
        form->show();
        form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network);
        ASSERT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
    }
    void TearDown() override
    {
        form.reset(); // before the source it reads
        WithProgram::TearDown();
    }
    // The owner's program is read beside the window: the panel is complete once that is in.
    void Click(const QString &Kind)
    {
        nettest::SelectRow(form->NetworkPage, nettest::RowWith(form->NetworkPage, 1, Kind));
        form->NetworkPage->lvConnectionsClick(form->NetworkPage->lvConnections);
        ASSERT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
    }

    FakeNetwork net;
};

TEST_F(ConnectionDetails, TcpAndUdpLinesWithTheOwnerAndItsVersion)
{
    Click(QStringLiteral("TCP"));
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    const auto tcp = form->NetworkPage->SelectedConnection();
    ASSERT_NE(tcp, nullptr);
    const QStringList owner = {QStringLiteral("进程名: ") + tcp->ProcessName, QStringLiteral("进程 ID: %1").arg(kOwner),
                               QStringLiteral("进程路径: ") + program};
    EXPECT_EQ(tcp->ProcessName, QStringLiteral("demo-tool"));
    EXPECT_EQ(Lines(),
              QStringList({QStringLiteral("连接类型: TCP"), QStringLiteral("本地 IP: 10.0.0.1"),
                           QStringLiteral("本地端口: 50000"), QStringLiteral("远程 IP: 93.184.216.34"),
                           QStringLiteral("远程端口: 443"), QStringLiteral("当前状态: 已建立连接")}) +
                  owner + VersionLines());
    ExpectPropertiesCleared();

    // No remote address, remote port or state for UDP.
    Click(QStringLiteral("UDP"));
    EXPECT_EQ(Lines(),
              QStringList({QStringLiteral("连接类型: UDP"), QStringLiteral("本地 IP: 192.168.1.5"),
                           QStringLiteral("本地端口: 5353")}) +
                  owner + VersionLines());

    // An owner whose file is unknown leaves the version lines empty.
    net.paths[kOwner] = dir.file(QStringLiteral("elsewhere"));
    form->NetworkPage->RefreshConnectionList(form->NetworkPage->chkHideLocalConnections->isChecked());
    ASSERT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
    Click(QStringLiteral("TCP"));
    const QStringList lines = Lines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(lines.size() - 4), NoVersionLines());
}

} // namespace
