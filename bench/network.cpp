// The network page at 300,000 loopback endpoints of one ordinary user: listeners and both ends of
// connections, made by helpers that run as that user (uid 4202, as the tests' other user) in a
// private network namespace this program makes for the purpose (needs root). Measured for each
// step: the longest the window's thread stayed away from its event loop (a call posted every
// 10 ms, as the tests' probe posts it), the time until the rows were in, and the program's resident
// memory beside that over the empty page. Not a Google Benchmark program: each step runs once.
//
//   bench_network [endpoints]

#include "common/Pinger.h"
#include "ui/frmMain.h"
#include "ui/frmMainNetwork.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

constexpr int kUser = 4202;

// One helper's share of the endpoints (a process may hold only so many descriptors): a third listen
// on 127.2.h.1, the rest are both ends of connections to them from 127.3.h.1. Runs until its standard
// input closes.
const char kHelper[] = R"(
import socket, sys
h, total = int(sys.argv[1]), int(sys.argv[2])
count = total // 3
pairs = (total - count) // 2
listeners, kept = [], []
for i in range(count):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(('127.2.%d.1' % h, 10000 + i))
    s.listen(64)
    listeners.append(s)
for j in range(pairs):
    c = socket.socket()
    c.bind(('127.3.%d.1' % h, 0))
    c.connect(listeners[j % count].getsockname())
    a, _ = listeners[j % count].accept()
    kept += [c, a]
print(len(listeners) + len(kept), flush=True)
sys.stdin.read()
)";
// The endpoints of one helper, below the descriptors a process may hold here.
constexpr int kPerHelper = 18000;

using tvtest::Pinger;

double ResidentMegabytes()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

bool LoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq ifr = {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    ::close(fd);
    return ok;
}

struct Step
{
    const char *Name;
    int Rows;
    qint64 HoldMs;
    qint64 WallMs;
    double ResidentMb;
};

} // namespace

int main(int argc, char **argv)
{
    const int total = argc > 1 ? std::atoi(argv[1]) : 300000;
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench_network: needs root (a network namespace of its own, a helper of another user)\n");
        return 1;
    }
    // The namespace first, before any thread: only the helper's endpoints are in it.
    if (::unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) {
        std::perror("bench_network: private network namespace");
        return 1;
    }
    rlimit files = {};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_max < rlim_t(kPerHelper) + 100) {
        std::fprintf(stderr, "bench_network: a process may hold fewer than %d descriptors\n", kPerHelper + 100);
        return 1;
    }
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFormMain form;
    for (QTimer *t : {form.tmrProcess, form.tmrTraffic, form.tmrSystem})
        t->stop();
    form.show();
    QAbstractItemModel *rows = form.NetworkPage->lvConnections->model();

    std::vector<Step> steps;
    // One step: the longest hold while `Action` runs and its rows come, and the memory then.
    auto measure = [&](const char *Name, auto Action) {
        bool reset = false;
        const QMetaObject::Connection c =
            QObject::connect(rows, &QAbstractItemModel::modelReset, [&] { reset = true; });
        Pinger pinger(&form);
        QElapsedTimer wall;
        wall.start();
        Action();
        QDeadlineTimer deadline(600000);
        while (!reset && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const qint64 took = wall.elapsed();
        // The view lays the rows out and paints them.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const milliseconds hold = pinger.Stop();
        QObject::disconnect(c);
        steps.push_back({Name, rows->rowCount(), qint64(hold.count()), took, ResidentMegabytes()});
        std::fprintf(stderr, "%s: %d rows, %s\n", Name, rows->rowCount(), qPrintable(form.lblTopBarInfo->text()));
    };

    measure("empty page", [&] { form.btnLeftMenu_NetworkClick(form.btnLeftMenu_Network); });

    std::vector<std::unique_ptr<QProcess>> helpers;
    const QString id = QString::number(kUser);
    int made = 0;
    for (int h = 0; made < total; ++h) {
        const int share = std::min(kPerHelper, total - made);
        auto helper = std::make_unique<QProcess>();
        helper->setWorkingDirectory(QStringLiteral("/"));
        helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper->start(QStringLiteral("/usr/bin/setpriv"),
                      {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                       QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                       QStringLiteral("-c"), QString::fromLatin1(kHelper), QString::number(h), QString::number(share)});
        if (!helper->waitForReadyRead(600000)) {
            std::fprintf(stderr, "bench_network: a helper made no endpoints\n");
            return 1;
        }
        made += helper->readAll().trimmed().toInt();
        helpers.push_back(std::move(helper));
    }
    std::fprintf(stderr, "%d endpoints in %zu processes of uid %d\n", made, helpers.size(), kUser);

    TNetworkPage &page = *form.NetworkPage;
    measure("refresh", [&] { page.btnRefreshConnectionListClick(page.btnRefreshConnectionList); });
    form.btnLeftMenu_ProcessClick(form.btnLeftMenu_Process);
    measure("page selected", [&] { form.btnLeftMenu_NetworkClick(form.btnLeftMenu_Network); });
    measure("refresh", [&] { page.btnRefreshConnectionListClick(page.btnRefreshConnectionList); });
    measure("local shown", [&] { page.chkHideLocalConnections->click(); });
    measure("refresh", [&] { page.btnRefreshConnectionListClick(page.btnRefreshConnectionList); });

    for (auto &helper : helpers)
        helper->closeWriteChannel();
    for (auto &helper : helpers)
        helper->waitForFinished(60000);

    std::printf("%-16s %8s %10s %10s %12s\n", "step", "rows", "hold ms", "wall ms", "RSS MB (+)");
    for (const Step &s : steps)
        std::printf("%-16s %8d %10lld %10lld %6.0f (%+.0f)\n", s.Name, s.Rows, static_cast<long long>(s.HoldMs),
                    static_cast<long long>(s.WallMs), s.ResidentMb, s.ResidentMb - steps.front().ResidentMb);
    return 0;
}
