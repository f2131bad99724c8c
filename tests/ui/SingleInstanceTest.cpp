#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "ui/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QUuid>

#include <memory>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
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

// Every guard of these tests keeps its socket in a runtime folder of the test's own.
class SingleInstance : public ::testing::Test
{
protected:
    tvtest::TempDir runtime;
    tvtest::ScopedEnv runtimeVariable{"XDG_RUNTIME_DIR", runtime.path()};
};

} // namespace

TEST_F(SingleInstance, NameIsPerUserUnlessReplacedByAPlainFileName)
{
    const QString own = QStringLiteral("Taskvane_QM-HOLVEN-%1").arg(::geteuid());
    qunsetenv("TASKVANE_INSTANCE_NAME");
    EXPECT_EQ(TSingleInstance::InstanceName(), own);
    qputenv("TASKVANE_INSTANCE_NAME", "custom-name");
    EXPECT_EQ(TSingleInstance::InstanceName(), QStringLiteral("custom-name"));
    // A name that would lead out of the private folder is not taken.
    for (const char *name : {"/tmp/taskvane-elsewhere", "../taskvane-up", "..", ".", "a/b", "line\nbreak"}) {
        qputenv("TASKVANE_INSTANCE_NAME", name);
        EXPECT_EQ(TSingleInstance::InstanceName(), own) << name;
    }
    qunsetenv("TASKVANE_INSTANCE_NAME");
    EXPECT_EQ(TSingleInstance(QStringLiteral("n")).SocketPath(), runtime.file(QStringLiteral("n")));
}

TEST_F(SingleInstance, SecondStartHandsOverAndTheFirstIsActivated)
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

TEST_F(SingleInstance, OnlyTheActivationMessageActs)
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

TEST_F(SingleInstance, StaleSocketLeftByACrashIsRecovered)
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

TEST_F(SingleInstance, ANewStartAfterTheFirstEndsRunsNormally)
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

// ---- another user's sockets and folders (root only) ----------------------------------------------

namespace {

constexpr uid_t kOtherUser = 4202; // no account needed
const QString kSetpriv = QStringLiteral("/usr/bin/setpriv");
const QString kPython = QStringLiteral("/usr/bin/python3");

// A listener of the other user on a local socket: records every connection and what it was sent.
const char kListener[] = R"(
import os, socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o777)
s.listen(8)
print("listening", flush=True)
while True:
    c, _ = s.accept()
    c.settimeout(2)
    try:
        data = c.recv(256)
    except OSError:
        data = b""
    print("connected", data, flush=True)
    c.close()
)";

class Squatter
{
public:
    // Listens at Path as the other user; Failure says why it could not.
    explicit Squatter(const QString &Path)
    {
        m_run.setProcessChannelMode(QProcess::MergedChannels);
        m_run.start(kSetpriv,
                    {QStringLiteral("--reuid=%1").arg(kOtherUser), QStringLiteral("--regid=%1").arg(kOtherUser),
                     QStringLiteral("--clear-groups"), kPython, QStringLiteral("-c"), QString::fromLatin1(kListener),
                     Path});
        QElapsedTimer t;
        t.start();
        while (!m_output.contains("listening") && t.elapsed() < 10000 && m_run.state() != QProcess::NotRunning) {
            m_run.waitForReadyRead(100);
            m_output += m_run.readAll();
        }
        if (!m_output.contains("listening"))
            Failure =
                QStringLiteral("the other user could not listen at %1: %2").arg(Path, QString::fromUtf8(m_output));
    }
    ~Squatter()
    {
        m_run.kill();
        m_run.waitForFinished(5000);
    }
    // What the listener reported since it started listening.
    QByteArray Connections()
    {
        m_run.waitForReadyRead(300);
        m_output += m_run.readAll();
        return m_output.mid(m_output.indexOf("listening") + 10);
    }
    QString Failure;

private:
    QProcess m_run;
    QByteArray m_output;
};

// A shared temporary folder as the system's is (everyone writes, only owners delete), standing
// in for the real one, and no runtime folder: how the program starts under sudo, su or pkexec.
class SharedTempFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as another user";
        if (!QFileInfo(kSetpriv).isExecutable() || !QFileInfo(kPython).isExecutable())
            GTEST_SKIP() << "needs setpriv and " << kPython.toStdString() << " for the other user's listener";
        ASSERT_TRUE(shared.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
        temp.emplace("TMPDIR", shared.path());
    }
    QString Shared(const QString &Name) const { return shared.file(Name); }
    QString OwnName() const { return QStringLiteral("Taskvane_QM-HOLVEN-%1").arg(::geteuid()); }

    tvtest::TempDir shared;
    tvtest::ScopedEnv noRuntime{"XDG_RUNTIME_DIR"};
    tvtest::ScopedEnv defaultName{"TASKVANE_INSTANCE_NAME"};
    std::optional<tvtest::ScopedEnv> temp;
};

} // namespace

TEST_F(SharedTempFolder, ANameHeldByAnotherUserThereIsIgnored)
{
    // Where the name used to lie, listened on first by the other user.
    Squatter squatter(Shared(OwnName()));
    if (!squatter.Failure.isEmpty())
        GTEST_SKIP() << squatter.Failure.toStdString();

    TSingleInstance guard;
    EXPECT_TRUE(guard.InitSingleInstance()) << "the start was handed to the other user";
    EXPECT_TRUE(guard.IsFirstInstance());
    EXPECT_EQ(guard.SocketPath(), Shared(QStringLiteral("taskvane-%1/").arg(::geteuid()) + OwnName()));
    EXPECT_EQ(tvtest::FileMode(Shared(QStringLiteral("taskvane-%1").arg(::geteuid()))), 0700);
    EXPECT_EQ(squatter.Connections(), QByteArray());

    // A second start of the same user still finds the first.
    int activations = 0;
    guard.OnActivate = [&] { ++activations; };
    TSingleInstance second;
    EXPECT_FALSE(second.InitSingleInstance());
    EXPECT_TRUE(WaitFor([&] { return activations == 1; }));
}

TEST_F(SharedTempFolder, APrivateFolderTakenByAnotherUserMeansNoGuard)
{
    const QString folder = Shared(QStringLiteral("taskvane-%1").arg(::geteuid()));
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    Squatter squatter(folder + QLatin1Char('/') + OwnName());
    if (!squatter.Failure.isEmpty())
        GTEST_SKIP() << squatter.Failure.toStdString();

    // Neither start hands over or ends: both run, without the guard.
    for (int start = 0; start < 2; ++start) {
        TSingleInstance guard;
        EXPECT_TRUE(guard.SocketPath().isEmpty());
        EXPECT_TRUE(guard.InitSingleInstance());
        EXPECT_FALSE(guard.IsFirstInstance());
    }
    EXPECT_EQ(squatter.Connections(), QByteArray());
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{OwnName()});
}

TEST_F(SharedTempFolder, ARuntimeFolderOfAnotherUserOrOpenToOthersIsNotUsed)
{
    tvtest::TempDir other;
    ASSERT_EQ(::chown(QFile::encodeName(other.path()).constData(), kOtherUser, kOtherUser), 0);
    tvtest::TempDir open;
    ASSERT_EQ(::chmod(QFile::encodeName(open.path()).constData(), 0755), 0);
    const QString own = Shared(QStringLiteral("taskvane-%1/n").arg(::geteuid()));
    for (const QString &dir : {other.path(), open.path()}) {
        tvtest::ScopedEnv runtime("XDG_RUNTIME_DIR", dir);
        EXPECT_EQ(TSingleInstance(QStringLiteral("n")).SocketPath(), own) << dir.toStdString();
    }
}

TEST_F(SharedTempFolder, ASocketOfAnotherUserInTheOwnFolderIsNotHandedTheStart)
{
    // The other user's listener, moved into this user's private runtime folder under the name.
    tvtest::TempDir runtime;
    tvtest::ScopedEnv runtimeVariable("XDG_RUNTIME_DIR", runtime.path());
    const QString outside = Shared(QStringLiteral("other-socket"));
    Squatter squatter(outside);
    if (!squatter.Failure.isEmpty())
        GTEST_SKIP() << squatter.Failure.toStdString();
    const QString name = UniqueName();
    ASSERT_TRUE(QFile::rename(outside, runtime.file(name)));

    TSingleInstance guard(name);
    EXPECT_EQ(guard.SocketPath(), runtime.file(name));
    EXPECT_TRUE(guard.InitSingleInstance());
    EXPECT_TRUE(guard.IsFirstInstance());
    EXPECT_FALSE(squatter.Connections().contains("HOLVEN"));
}
