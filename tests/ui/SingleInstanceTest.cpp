#include "common/OtherListener.h"
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

bool MakePrivate(const QString &Dir)
{
    return QDir().mkpath(Dir) && ::chmod(QFile::encodeName(Dir).constData(), 0700) == 0;
}

// Every guard of these tests keeps its socket in the test's own stand-in for the user's session
// folder, /run/user/<uid>; the stand-in for /tmp is the test's own as well.
class SingleInstance : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(MakePrivate(Session())); }
    QString Session() const { return runUser.file(QString::number(::geteuid())); }
    QString SessionFile(const QString &Name) const { return Session() + QLatin1Char('/') + Name; }

    tvtest::TempDir runUser;
    tvtest::TempDir temp;
    tvtest::ScopedEnv runUserVariable{"TASKVANE_RUN_USER_DIR", runUser.path()};
    tvtest::ScopedEnv tempVariable{"TASKVANE_TEMP_DIR", temp.path()};
    tvtest::ScopedEnv tmpdir{"TMPDIR", temp.path()};
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
    EXPECT_EQ(TSingleInstance(QStringLiteral("n")).SocketPath(), SessionFile(QStringLiteral("n")));
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

TEST_F(SingleInstance, OneFolderWhateverTheSessionVariableSays)
{
    // A desktop session names its folder; su -, cron or sudo name none, or another one.
    tvtest::TempDir elsewhere;
    tvtest::TempDir otherTemp;
    tvtest::ScopedEnv tmpdir("TMPDIR", otherTemp.path());
    for (bool withSession : {true, false}) {
        if (!withSession) {
            ASSERT_TRUE(QDir(Session()).removeRecursively());
        }
        const QString name = UniqueName();
        std::unique_ptr<TSingleInstance> first;
        {
            tvtest::ScopedEnv named("XDG_RUNTIME_DIR", withSession ? Session() : elsewhere.path());
            first = std::make_unique<TSingleInstance>(name);
        }
        int activations = 0;
        first->OnActivate = [&] { ++activations; };
        ASSERT_TRUE(first->InitSingleInstance());
        EXPECT_EQ(first->SocketPath(),
                  withSession ? SessionFile(name) : temp.file(QStringLiteral("taskvane-%1/").arg(::geteuid()) + name));
        for (const char *runtime : {"", "elsewhere", "unset"}) {
            std::optional<tvtest::ScopedEnv> named;
            if (QByteArray(runtime) == "unset")
                named.emplace("XDG_RUNTIME_DIR");
            else
                named.emplace("XDG_RUNTIME_DIR", QByteArray(runtime).isEmpty() ? Session() : elsewhere.path());
            TSingleInstance again(name);
            EXPECT_FALSE(again.InitSingleInstance()) << runtime << (withSession ? " with" : " without") << " a session";
        }
        EXPECT_TRUE(WaitFor([&] { return activations == 3; }));
    }
}

TEST_F(SingleInstance, TheFolderCheckedIsTheFolderUsed)
{
    // Between the guard's look at the folder and its socket, the folder's name is given to another
    // one: the socket still goes where the look was taken.
    tvtest::ScopedEnv named("XDG_RUNTIME_DIR", Session());
    const QString name = UniqueName();
    TSingleInstance guard(name);
    const QString held = Session() + QStringLiteral(".held");
    ASSERT_TRUE(QDir().rename(Session(), held));
    ASSERT_TRUE(MakePrivate(Session()));
    ASSERT_TRUE(guard.InitSingleInstance());
    EXPECT_TRUE(guard.IsFirstInstance());
    EXPECT_TRUE(QFileInfo::exists(held + QLatin1Char('/') + name));
    EXPECT_FALSE(QFileInfo::exists(SessionFile(name)));
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

constexpr uid_t kOtherUser = tvtest::kOtherUid;
using Squatter = tvtest::OtherListener;

// A shared temporary folder as the system's is (everyone writes, only owners delete), standing
// in for the real one, and no session folder: how the program starts under sudo, su or pkexec.
class SharedTempFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!tvtest::otherUserUnavailable().isEmpty())
            GTEST_SKIP() << tvtest::otherUserUnavailable().toStdString();
        ASSERT_TRUE(shared.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(runUser.path()).constData(), 0755), 0);
        temp.emplace("TASKVANE_TEMP_DIR", shared.path());
        tmpdir.emplace("TMPDIR", shared.path());
    }
    QString Shared(const QString &Name) const { return shared.file(Name); }
    QString OwnName() const { return QStringLiteral("Taskvane_QM-HOLVEN-%1").arg(::geteuid()); }
    QString Session() const { return runUser.file(QString::number(::geteuid())); }

    tvtest::TempDir shared;
    tvtest::TempDir runUser;
    tvtest::ScopedEnv noRuntime{"XDG_RUNTIME_DIR"};
    tvtest::ScopedEnv defaultName{"TASKVANE_INSTANCE_NAME"};
    tvtest::ScopedEnv runUserVariable{"TASKVANE_RUN_USER_DIR", runUser.path()};
    std::optional<tvtest::ScopedEnv> temp;
    std::optional<tvtest::ScopedEnv> tmpdir;
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

TEST_F(SharedTempFolder, ANameTakenFirstInTheTemporaryFolderLeavesRootsGuardInPlace)
{
    // Root's own folder lies where only root may make names, as /run.
    tvtest::TempDir run;
    tvtest::ScopedEnv runVariable("TASKVANE_RUN_DIR", run.path());
    const QString taken = Shared(QStringLiteral("taskvane-%1").arg(::geteuid()));
    const QString theirs = Shared(QStringLiteral("theirs"));
    if (!tvtest::runAsOtherUser({QStringLiteral("/bin/mkdir"), QStringLiteral("-m"), QStringLiteral("0700"), theirs}))
        GTEST_SKIP() << "the other user cannot make a folder in the test's shared one";
    // The other user made the name first: a folder of theirs open to all, or a link to one of theirs.
    const QStringList squats[] = {{QStringLiteral("/bin/mkdir"), QStringLiteral("-m"), QStringLiteral("0777"), taken},
                                  {QStringLiteral("/bin/ln"), QStringLiteral("-s"), theirs, taken}};
    for (const QStringList &squat : squats) {
        ASSERT_TRUE(tvtest::runAsOtherUser(squat)) << squat.join(QLatin1Char(' ')).toStdString();
        const QString name = UniqueName();
        TSingleInstance first(name);
        int activations = 0;
        first.OnActivate = [&] { ++activations; };
        ASSERT_TRUE(first.InitSingleInstance());
        EXPECT_EQ(first.SocketPath(), run.file(QStringLiteral("taskvane-0/") + name));
        TSingleInstance second(name);
        EXPECT_FALSE(second.InitSingleInstance()) << squat.first().toStdString() << ": the second start ran on";
        EXPECT_TRUE(WaitFor([&] { return activations == 1; }));
        for (const QString &dir : {taken, theirs})
            EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                      QStringList());
        ASSERT_TRUE(tvtest::runAsOtherUser({QStringLiteral("/bin/rm"), QStringLiteral("-rf"), taken}));
    }
}

TEST_F(SharedTempFolder, ASessionFolderOfAnotherUserOrOpenToOthersIsNotUsed)
{
    const QString own = Shared(QStringLiteral("taskvane-%1/n").arg(::geteuid()));
    // The session folder is another user's, or open to others, or lies in a folder others can change.
    const struct
    {
        uid_t Owner;
        mode_t Mode;
        mode_t ParentMode;
    } cases[] = {{kOtherUser, 0700, 0755}, {0, 0755, 0755}, {0, 0700, 0777}};
    for (const auto &c : cases) {
        ASSERT_TRUE(QDir().mkpath(Session()));
        ASSERT_EQ(::chown(QFile::encodeName(Session()).constData(), c.Owner, c.Owner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(Session()).constData(), c.Mode), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(runUser.path()).constData(), c.ParentMode), 0);
        tvtest::ScopedEnv named("XDG_RUNTIME_DIR", Session());
        EXPECT_EQ(TSingleInstance(QStringLiteral("n")).SocketPath(), own) << c.Owner << " " << c.Mode;
        ASSERT_TRUE(QDir(Session()).removeRecursively());
    }
    ASSERT_EQ(::chmod(QFile::encodeName(runUser.path()).constData(), 0755), 0);
    // A temporary folder that others can change (not sticky) holds no folder of the user's.
    ASSERT_TRUE(QDir(Shared(QStringLiteral("taskvane-%1").arg(::geteuid()))).removeRecursively());
    ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 0777), 0);
    EXPECT_TRUE(TSingleInstance(QStringLiteral("n")).SocketPath().isEmpty());
}

TEST_F(SharedTempFolder, ASocketOfAnotherUserInTheOwnFolderIsNotHandedTheStart)
{
    // The other user's listener, moved into this user's private session folder under the name.
    ASSERT_TRUE(QDir().mkpath(Session()));
    ASSERT_EQ(::chmod(QFile::encodeName(Session()).constData(), 0700), 0);
    const QString outside = Shared(QStringLiteral("other-socket"));
    Squatter squatter(outside);
    if (!squatter.Failure.isEmpty())
        GTEST_SKIP() << squatter.Failure.toStdString();
    const QString name = UniqueName();
    ASSERT_TRUE(QFile::rename(outside, Session() + QLatin1Char('/') + name));

    TSingleInstance guard(name);
    EXPECT_EQ(guard.SocketPath(), Session() + QLatin1Char('/') + name);
    EXPECT_TRUE(guard.InitSingleInstance());
    EXPECT_TRUE(guard.IsFirstInstance());
    EXPECT_FALSE(squatter.WasTalkedTo());
}
