// What the network page says of an endpoint's owner comes from the file the owner runs, read
// through the process: another user's owner that deleted its program and left a name of its
// own in its place (a link to a device or a pipe, or a name it keeps swapping between a file and
// a pipe) neither stops the page nor is ever opened, and one that runs its own copy under the path
// of a system daemon is neither that daemon's package nor a critical process.

#include "common/OtherUser.h"
#include "common/UserDirs.h"
#include "ui_message/MessageAnswers.h"
#include "ui_network/ConnectionRows.h"

#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessSource.h"
#include "sysinfo/NetworkMonitor.h"
#include "ui/DisplayTexts.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include <atomic>
#include <cstdio>
#include <memory>
#include <ostream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Readable texts in failure messages.
inline void PrintTo(const QString &Text, std::ostream *Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// Waits while its standard input stays open: a program that runs until it is ended.
const QString kWaiter = QStringLiteral("/usr/bin/tac");
// The fill of the page, however slow the build: far below what a wait on a pipe takes.
constexpr int kFillBoundMs = 10000;

class NoProcesses : public platform::processes::ProcessSource
{
public:
    bool EnumeratePrimary(std::vector<platform::processes::ProcessEntry> &) override { return true; }
    bool EnumerateFallback(std::vector<platform::processes::ProcessEntry> &) override { return true; }
};

// A UDP socket on 127.0.0.2, which the page does not count as a local endpoint: inherited by the
// program started next, and closed here once that one holds it.
struct UdpSocket
{
    UdpSocket()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x7F000002);
        socklen_t length = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) != 0)
            return;
        port = ntohs(a.sin_port);
    }
    ~UdpSocket() { Close(); }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    QString Local() const { return QStringLiteral("127.0.0.2:%1").arg(port); }

    int fd = -1;
    quint16 port = 0;
};

// Watches files for being opened or read.
struct OpenWatch
{
    OpenWatch() : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool Add(const QString &Path)
    {
        return ::inotify_add_watch(fd, QFile::encodeName(Path).constData(), IN_OPEN | IN_ACCESS) >= 0;
    }
    // Events since the last call.
    int Events()
    {
        alignas(inotify_event) char buf[4096];
        int n = 0;
        for (;;) {
            const ssize_t got = ::read(fd, buf, sizeof buf);
            if (got <= 0)
                return n;
            for (ssize_t at = 0; at < got; ++n)
                at += ssize_t(sizeof(inotify_event)) + reinterpret_cast<inotify_event *>(buf + at)->len;
        }
    }
    int fd;
};

bool SameFile(const QString &A, const QString &B)
{
    struct stat a = {}, b = {};
    return ::stat(QFile::encodeName(A).constData(), &a) == 0 && ::stat(QFile::encodeName(B).constData(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

class OwnerImage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString why = tvtest::otherUserUnavailable(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        if (const QString why = base.unusable(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        UiHooks().ExecModal = [this](QDialog *Dialog) { return uitest::AnswerMessageBox(Dialog, shown, answers); };
    }
    void TearDown() override
    {
        form.reset();
        for (auto &p : owners) {
            p->kill();
            p->waitForFinished(5000);
        }
        RestoreDefaultUiHooks();
    }

    // The other user runs `Argv` holding `Socket`; false when it did not start running `Program`.
    bool StartOwner(const QStringList &Argv, UdpSocket &Socket, const QString &Program)
    {
        owners.push_back(std::make_unique<QProcess>());
        QProcess &p = *owners.back();
        p.start(QStringLiteral("/usr/bin/setpriv"), tvtest::asOtherUser(Argv));
        if (!p.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!SameFile(QStringLiteral("/proc/%1/exe").arg(p.processId()), Program)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(10);
        }
        Socket.Close(); // the owner's alone from here on
        return true;
    }
    // A copy of the waiting program that the other user owns.
    QString UsersProgram(const QString &Name) const
    {
        const QString program = base.user() + QLatin1Char('/') + Name;
        return tvtest::SharedDir::copyOwned(kWaiter, program) ? program : QString();
    }
    void CreateAndShow()
    {
        form = std::make_unique<TFormMain>(nullptr, &processes);
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->show();
        form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network);
        ASSERT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
    }
    // The row of the socket; -1 for none.
    int RowOf(const UdpSocket &Socket) const { return nettest::RowWith(form->NetworkPage, 2, Socket.Local()); }
    // Fills the page as its refresh button does; the milliseconds until the rows were in.
    qint64 Fill()
    {
        QElapsedTimer t;
        t.start();
        form->NetworkPage->btnRefreshConnectionListClick(form->NetworkPage->btnRefreshConnectionList);
        EXPECT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
        return t.elapsed();
    }
    void Select(int Row)
    {
        ASSERT_GE(Row, 0);
        nettest::SelectRow(form->NetworkPage, Row);
    }
    // Clicks into the selected row and waits for what the details panel asked of the owner.
    void Click()
    {
        form->NetworkPage->lvConnectionsClick(form->NetworkPage->lvConnections);
        ASSERT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
    }

    tvtest::SharedDir base;
    NoProcesses processes;
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    std::vector<std::unique_ptr<QProcess>> owners;
    std::vector<uitest::Shown> shown;
    QList<quint8> answers;
};

} // namespace

TEST_F(OwnerImage, DeletedProgramLeftAsALinkToADeviceOrAPipe)
{
    // Root's device node (the numbers of /dev/null) and a pipe, in the test's own folder.
    const QString device = base.file(QStringLiteral("device"));
    const QString pipe = base.file(QStringLiteral("pipe"));
    ASSERT_EQ(::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0666), 0);
    OpenWatch watch;
    ASSERT_TRUE(watch.Add(device) && watch.Add(pipe));

    // One socket at a time: each is inherited by the owner started next.
    const QString first = UsersProgram(QStringLiteral("first")), second = UsersProgram(QStringLiteral("second")),
                  third = UsersProgram(QStringLiteral("plain"));
    UdpSocket toDevice;
    ASSERT_TRUE(StartOwner({first}, toDevice, first));
    UdpSocket toPipe;
    ASSERT_TRUE(StartOwner({second}, toPipe, second));
    UdpSocket plain;
    ASSERT_TRUE(StartOwner({third}, plain, third));
    // The owners' programs are gone; the names the kernel gives them lead elsewhere.
    for (const auto &[program, target] : {std::pair{first, device}, std::pair{second, pipe}}) {
        ASSERT_TRUE(QFile::remove(program));
        ASSERT_TRUE(tvtest::runAsOtherUser(
            {QStringLiteral("/usr/bin/ln"), QStringLiteral("-s"), target, program + QStringLiteral(" (deleted)")}));
    }

    CreateAndShow();
    EXPECT_LT(Fill(), kFillBoundMs);
    EXPECT_EQ(watch.Events(), 0) << "neither the device nor the pipe is opened";
    for (const UdpSocket *s : {&toDevice, &toPipe, &plain}) {
        const int row = RowOf(*s);
        ASSERT_GE(row, 0) << s->Local().toStdString();
        // The icon of the program each owner runs, deleted or not.
        EXPECT_GE(form->NetworkPage->ConnectionRows->index(row, 0).data(kImageIndexRole).toInt(), 0)
            << s->Local().toStdString();
    }
    EXPECT_EQ(nettest::Cell(form->NetworkPage, RowOf(toDevice), 6), first + QStringLiteral(" (deleted)"));
    EXPECT_EQ(nettest::Cell(form->NetworkPage, RowOf(plain), 6), third);

    // Neither do the details look at the names.
    Select(RowOf(toPipe));
    Click();
    EXPECT_TRUE(form->Details->pnlDetails->isVisible());
    EXPECT_EQ(watch.Events(), 0);
}

TEST_F(OwnerImage, NameSwappedBetweenAFileAndAPipe)
{
    // Three owners whose programs are gone; the name the kernel gives each deleted program and its
    // other half are a file and a pipe that keep changing places.
    std::vector<std::pair<QByteArray, QByteArray>> names;
    std::vector<std::unique_ptr<UdpSocket>> sockets;
    for (const char *who : {"a", "b", "c"}) {
        const QString program = UsersProgram(QLatin1String(who));
        sockets.push_back(std::make_unique<UdpSocket>());
        ASSERT_TRUE(StartOwner({program}, *sockets.back(), program));
        ASSERT_TRUE(QFile::remove(program));
        const QByteArray name = QFile::encodeName(program + QStringLiteral(" (deleted)"));
        const QByteArray spare = QFile::encodeName(program + QStringLiteral(".spare"));
        QFile f(QString::fromLocal8Bit(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        ASSERT_EQ(::mkfifo(spare.constData(), 0666), 0);
        names.emplace_back(name, spare);
    }

    CreateAndShow();
    std::atomic<bool> stop{false};
    std::atomic<qint64> fillStarted{0};
    std::atomic<int> waited{0};
    std::thread swapper([&] {
        while (!stop)
            for (const auto &[name, spare] : names)
                ::renameat2(AT_FDCWD, name.constData(), AT_FDCWD, spare.constData(), RENAME_EXCHANGE);
    });
    // A fill that waits on a pipe is let go by a writer, and counted.
    std::thread watchdog([&] {
        QElapsedTimer clock;
        clock.start();
        while (!stop) {
            const qint64 started = fillStarted;
            if (started != 0 && clock.elapsed() - started > kFillBoundMs / 4) {
                ++waited;
                for (const auto &pair : names)
                    for (const QByteArray &n : {pair.first, pair.second}) {
                        const int fd = ::open(n.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                        if (fd >= 0)
                            ::close(fd);
                    }
            }
            QThread::msleep(5);
        }
    });
    QElapsedTimer clock;
    clock.start();
    int fills = 0;
    for (; fills < 300 && waited == 0 && clock.elapsed() < 5000; ++fills) {
        fillStarted = qMax<qint64>(1, clock.elapsed());
        Fill();
        fillStarted = 0;
    }
    stop = true;
    swapper.join();
    watchdog.join();
    EXPECT_EQ(waited, 0) << "a fill waited for a writer of a pipe, after " << fills << " fills";
    for (const auto &s : sockets)
        EXPECT_GE(RowOf(*s), 0);
}

TEST_F(OwnerImage, ListenerRunUnderThePathOfASystemDaemon)
{
    const QString daemon = QStringLiteral("/usr/bin/dbus-daemon");
    if (!QFileInfo::exists(daemon))
        GTEST_SKIP() << "no dbus-daemon, whose path counts as a critical process's and a package's";
    if (!tvtest::runAsOtherUser(
            {QStringLiteral("/usr/bin/unshare"), QStringLiteral("-Urm"), QStringLiteral("/usr/bin/true")}))
        GTEST_SKIP() << "the other user cannot make a user and mount namespace here";
    UdpSocket socket;
    const QString copy = UsersProgram(QStringLiteral("copy"));
    ASSERT_TRUE(
        StartOwner({QStringLiteral("/usr/bin/unshare"), QStringLiteral("-Urm"), QStringLiteral("/bin/sh"),
                    QStringLiteral("-c"), QStringLiteral("mount --bind \"$0\" %1 && exec %1").arg(daemon), copy},
                   socket, copy));
    CreateAndShow();
    const int row = RowOf(socket);
    ASSERT_GE(row, 0);
    EXPECT_EQ(nettest::Cell(form->NetworkPage, row, 6), daemon) << "the path the kernel reports for it";
    Select(row);
    Click();
    const QStringList lines = form->Details->redtDetails->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(lines.size() - 4),
              (QStringList{QStringLiteral("产品名: "), QStringLiteral("文件描述: "), QStringLiteral("公司名: "),
                           QStringLiteral("版权: ")}))
        << "not the daemon's package";

    answers = {4};
    form->NetworkPage->btnTerminateConnectionClick(form->NetworkPage->btnTerminateConnection);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告")) << "asked like any process's end, not refused as a critical one";
    EXPECT_EQ(owners.back()->state(), QProcess::Running);
}
