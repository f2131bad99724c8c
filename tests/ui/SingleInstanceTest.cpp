#include "ui/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QUuid>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

QString UniqueName()
{
    return QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
}

bool WaitFor(const std::function<bool()> &done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace

TEST(SingleInstance, NameIsPerUserUnlessReplaced)
{
    qunsetenv("TASKVANE_INSTANCE_NAME");
    EXPECT_EQ(TSingleInstance::InstanceName(), QStringLiteral("Taskvane_QM-HOLVEN-%1").arg(::getuid()));
    qputenv("TASKVANE_INSTANCE_NAME", "custom-name");
    EXPECT_EQ(TSingleInstance::InstanceName(), QStringLiteral("custom-name"));
    qunsetenv("TASKVANE_INSTANCE_NAME");
}

TEST(SingleInstance, SecondStartHandsOverAndTheFirstIsActivated)
{
    const QString name = UniqueName();
    TSingleInstance first(name);
    int activations = 0;
    first.OnActivate = [&] { ++activations; };
    ASSERT_TRUE(first.InitSingleInstance());
    EXPECT_TRUE(first.IsFirstInstance());
    EXPECT_TRUE(QFile::exists(first.SocketPath()));

    // The second start runs in this thread; the first answers when events are processed.
    TSingleInstance second(name);
    EXPECT_FALSE(second.InitSingleInstance());
    EXPECT_FALSE(second.IsFirstInstance());
    EXPECT_TRUE(WaitFor([&] { return activations == 1; }));
    TSingleInstance third(name);
    EXPECT_FALSE(third.InitSingleInstance());
    EXPECT_TRUE(WaitFor([&] { return activations == 2; }));
}

TEST(SingleInstance, OnlyTheActivationMessageActs)
{
    const QString name = UniqueName();
    TSingleInstance first(name);
    int activations = 0;
    first.OnActivate = [&] { ++activations; };
    ASSERT_TRUE(first.InitSingleInstance());
    EXPECT_FALSE(first.InstanceWindowProc("something else\n"));
    EXPECT_FALSE(first.InstanceWindowProc(QByteArray()));
    EXPECT_EQ(activations, 0);

    // A stranger that writes junk, or floods without an end of line, is dropped.
    QLocalSocket junk;
    junk.connectToServer(first.SocketPath());
    ASSERT_TRUE(junk.waitForConnected(2000));
    junk.write("hello\n");
    junk.flush();
    QLocalSocket flood;
    flood.connectToServer(first.SocketPath());
    ASSERT_TRUE(flood.waitForConnected(2000));
    flood.write(QByteArray(4096, 'x'));
    flood.flush();
    EXPECT_TRUE(WaitFor([&] { return flood.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(activations, 0);
}

TEST(SingleInstance, StaleSocketLeftByACrashIsRecovered)
{
    const QString name = UniqueName();
    TSingleInstance probe(name);
    const QString path = probe.SocketPath();
    // A bound socket that nobody listens on any more: what a killed instance leaves behind.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    ASSERT_LT(size_t(p.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));

    TSingleInstance first(name);
    int activations = 0;
    first.OnActivate = [&] { ++activations; };
    EXPECT_TRUE(first.InitSingleInstance());
    EXPECT_TRUE(first.IsFirstInstance());
    TSingleInstance second(name);
    EXPECT_FALSE(second.InitSingleInstance());
    EXPECT_TRUE(WaitFor([&] { return activations == 1; }));
}

TEST(SingleInstance, ANewStartAfterTheFirstEndsRunsNormally)
{
    const QString name = UniqueName();
    QString path;
    {
        TSingleInstance first(name);
        ASSERT_TRUE(first.InitSingleInstance());
        path = first.SocketPath();
    }
    EXPECT_FALSE(QFile::exists(path));
    TSingleInstance again(name);
    EXPECT_TRUE(again.InitSingleInstance());
    EXPECT_TRUE(again.IsFirstInstance());
}
