// A transfer whose host name is being looked up when it is stopped: the name server never
// answers. The test program runs again in a network and mount namespace of its own, whose
// resolver configuration names a loopback socket that takes the questions and answers none.

#include "common/Pinger.h"
#include "common/SelfCopy.h"
#include "common/TempDir.h"

#include "sysinfo/HttpGet.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char *kInsideVariable = "TASKVANE_TEST_IN_NET_NAMESPACE";
constexpr int kSkipped = 77;

bool LoopbackUp()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = short(req.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(s, SIOCSIFFLAGS, &req) == 0;
    ::close(s);
    return ok;
}

// Inside the namespace: the name server's socket takes the questions and never answers.
void RunInside()
{
    const int dns = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(dns, 0) << std::strerror(errno);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(dns, reinterpret_cast<sockaddr *>(&at), sizeof at), 0) << std::strerror(errno);

    tvtest::TempDir dir;
    auto get = std::make_unique<THttpGet>();
    QStringList events;
    get->OnStopped = [&](QObject *) { events << QStringLiteral("stopped"); };
    get->OnError = [&](QObject *) { events << QStringLiteral("error"); };
    get->OnGetFileCompleted = [&](QObject *, const QString &, qint32) { events << QStringLiteral("file"); };
    get->URL = QStringLiteral("http://update.taskvane.test/download/taskvane/update/update.html");
    get->LocalFile = dir.file(QStringLiteral("_update.tmp"));
    ASSERT_TRUE(get->GetFile());

    // The look-up has asked the name server and waits for its answer.
    pollfd asked{dns, POLLIN, 0};
    QDeadlineTimer deadline(10000);
    while (::poll(&asked, 1, 10) == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents();
    if (!(asked.revents & POLLIN)) {
        std::printf("SKIP: the host name was not asked of the name server (hosts in nsswitch.conf?)\n");
        std::fflush(stdout);
        ::_exit(kSkipped);
    }
    QCoreApplication::processEvents();
    ASSERT_TRUE(get->IsBusy());

    QObject window;
    tvtest::Pinger pinger(&window);
    get->Stop();
    const bool busyAfterStop = get->IsBusy();
    get.reset();
    const auto held = pinger.Stop();
    std::printf("the stop held the window %lld ms\n", static_cast<long long>(held.count()));
    EXPECT_FALSE(busyAfterStop);
    EXPECT_LT(held.count(), 100) << "the stop waited for the name server";
    EXPECT_EQ(events, QStringList{QStringLiteral("stopped")});
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("_update.tmp"))));
    ::close(dns);
}

} // namespace

TEST(HttpGetUnansweredNameServer, StopHoldsTheWindowBriefly)
{
    if (qEnvironmentVariableIsSet(kInsideVariable)) {
        RunInside();
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "a network and mount namespace of its own needs root";
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString resolvConf = dir.file(QStringLiteral("resolv.conf"));
    {
        QFile f(resolvConf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // Long enough that a stop waiting for the look-up shows.
        f.write("nameserver 127.0.0.1\noptions timeout:5 attempts:1\n");
    }
    const QByteArray resolvPath = QFile::encodeName(resolvConf);
    const tvtest::SelfCopy copy("HttpGetUnansweredNameServer.StopHoldsTheWindowBriefly",
                                QByteArray(kInsideVariable) + "=1",
                                {QByteArray(platform::http::kServerOverrideVariable) + '='});

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(resolvPath.constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 || !LoopbackUp())
            ::_exit(kSkipped);
        copy.Exec();
        ::_exit(kSkipped);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkipped)
        GTEST_SKIP() << "no private network namespace or resolver configuration here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run inside the namespace failed (output above)";
}
