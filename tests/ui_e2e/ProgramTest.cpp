#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <QUuid>

#include <memory>
#include <vector>

#include <csignal>

#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(TASKVANE_BIN_DIR "/taskvane");

// The stand-in for /run/user: the test's own, holding the user's session folder, private as the
// user's is; and the stand-in for /tmp.
QString RunUserDir()
{
    static tvtest::TempDir dir;
    return dir.path();
}
QString TempDir()
{
    static tvtest::TempDir dir;
    return dir.path();
}
QString RuntimeDir()
{
    const QString session = RunUserDir() + QStringLiteral("/%1").arg(::geteuid());
    QDir().mkpath(session);
    QFile::setPermissions(session, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return session;
}

// withSession: the session folder is named in XDG_RUNTIME_DIR, as a desktop session does; else
// nothing names it, as under su - or cron.
std::unique_ptr<QProcess> Start(const QString &instance, int closeAfterMs, bool withSession = true)
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (withSession)
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeDir());
    else
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("TASKVANE_RUN_USER_DIR"), RunUserDir());
    env.insert(QStringLiteral("TASKVANE_TEMP_DIR"), TempDir());
    env.insert(QStringLiteral("TMPDIR"), TempDir());
    env.insert(QStringLiteral("TASKVANE_INSTANCE_NAME"), instance);
    env.insert(QStringLiteral("TASKVANE_TEST_CLOSE_AFTER_MS"), QString::number(closeAfterMs));
    p->setProcessEnvironment(env);
    p->setProgram(kProgram);
    p->start();
    return p;
}

QString UniqueName()
{
    return QStringLiteral("taskvane-e2e-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
}

// Waits until the instance started under `Name` has taken its name (its window is then about to be
// made); false when it never did.
bool WaitForName(QProcess &Program, const QString &Socket)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(Socket) && t.elapsed() < 30000 && Program.state() == QProcess::Running)
        QThread::msleep(20);
    return QFile::exists(Socket);
}

} // namespace

TEST(Program, RunsShowsItsTitleAndEndsCleanlyWhenClosed)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "the program is not built";
    auto p = Start(UniqueName(), 300);
    ASSERT_TRUE(p->waitForStarted(10000));
    ASSERT_TRUE(p->waitForFinished(60000)) << "the program did not end after its window closed";
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    EXPECT_TRUE(p->readAllStandardOutput().contains("window title: Taskvane"));
}

TEST(Program, SecondStartHandsOverAndEnds)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "the program is not built";
    // The second start from a desktop session, and from where no variable names the session folder.
    for (bool withSession : {true, false}) {
        const QString name = UniqueName();
        const QString socket = QDir(RuntimeDir()).filePath(name);

        auto first = Start(name, 6000);
        ASSERT_TRUE(first->waitForStarted(10000));
        ASSERT_TRUE(WaitForName(*first, socket)) << "the first instance never took its name";

        auto second = Start(name, 0, withSession);
        ASSERT_TRUE(second->waitForStarted(10000));
        ASSERT_TRUE(second->waitForFinished(30000));
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_FALSE(second->readAllStandardOutput().contains("window title"))
            << "the second start showed a window" << (withSession ? "" : " without the session variable");
        EXPECT_EQ(first->state(), QProcess::Running);

        // The first instance ends on its own when its window closes and gives its name back.
        ASSERT_TRUE(first->waitForFinished(60000));
        EXPECT_EQ(first->exitCode(), 0);
        EXPECT_TRUE(first->readAllStandardOutput().contains("window title: Taskvane"));
        EXPECT_FALSE(QFile::exists(socket));
    }
}

TEST(Program, StartsAtTheSameMomentLeaveExactlyOneWindow)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "the program is not built";
    const QString name = UniqueName();
    // Neither start finds a server, and a stale-looking name invites the second to take it over.
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < 3; ++i)
        starts.push_back(Start(name, 3000));
    int windows = 0;
    for (auto &p : starts) {
        ASSERT_TRUE(p->waitForStarted(10000));
        ASSERT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(p->exitCode(), 0);
        if (p->readAllStandardOutput().contains("window title: Taskvane"))
            ++windows;
    }
    EXPECT_EQ(windows, 1);
}

TEST(Program, AskedToEndItClosesAsWhenTheUserClosesIt)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "the program is not built";
    // The session ends (SIGTERM), Ctrl-C in its terminal (SIGINT), the terminal goes (SIGHUP).
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const QString name = UniqueName();
        const QString socket = QDir(RuntimeDir()).filePath(name);
        auto p = Start(name, 120000);
        ASSERT_TRUE(p->waitForStarted(10000));
        ASSERT_TRUE(WaitForName(*p, socket));
        ASSERT_EQ(::kill(pid_t(p->processId()), signal), 0);
        ASSERT_TRUE(p->waitForFinished(30000)) << "signal " << signal << " did not end the program";
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit) << "signal " << signal;
        EXPECT_EQ(p->exitCode(), 0) << "signal " << signal << ": " << p->readAllStandardError().toStdString();
        // It closed as a closed window does: the window's name is given back.
        EXPECT_FALSE(QFile::exists(socket)) << "signal " << signal;
    }
}
