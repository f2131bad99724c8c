// The environment of the programs started on the user's behalf: the user's own folders and
// session bus, never those of another user whose environment the program was started with.

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/shell/Shell.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using tvtest::ScopedEnv;

constexpr uid_t kOtherUser = 4202; // no account needed

QString AccountHome()
{
    const passwd *pw = ::getpwuid(::geteuid());
    return pw ? QFile::decodeName(pw->pw_dir) : QString();
}

// The value of a "NAME=value" entry; null when the name is not there.
QString ValueOf(const QStringList &Environment, const QString &Name)
{
    for (const QString &entry : Environment)
        if (entry.startsWith(Name + QLatin1Char('=')))
            return entry.mid(Name.size() + 1);
    return QString();
}

bool Give(const QString &Path, uid_t Uid)
{
    return ::chown(QFile::encodeName(Path).constData(), Uid, Uid) == 0;
}

// A default program of the test's own: writes the environment it was given to a file.
class RecordingOpener
{
public:
    RecordingOpener() : m_path("PATH", m_dir.path() + QStringLiteral(":/usr/bin:/bin"))
    {
        QFile script(m_dir.file(QStringLiteral("xdg-open")));
        if (script.open(QIODevice::WriteOnly))
            script.write("#!/bin/sh\nenv > '" + QFile::encodeName(Recorded()) + ".part' && mv '" +
                         QFile::encodeName(Recorded()) + ".part' '" + QFile::encodeName(Recorded()) + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString Recorded() const { return m_dir.file(QStringLiteral("environment")); }
    // The environment the opener ran with; empty when it did not run.
    QStringList Wait() const
    {
        QDeadlineTimer deadline(10000);
        while (!QFile::exists(Recorded()) && !deadline.hasExpired())
            QThread::msleep(20);
        QFile f(Recorded());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    tvtest::TempDir m_dir;
    ScopedEnv m_path;
};

} // namespace

TEST(LaunchEnvironment, TheUsersOwnEnvironmentIsPassedOnUnchanged)
{
    tvtest::TempDir own;
    ScopedEnv home("HOME", own.path());
    ScopedEnv config("XDG_CONFIG_HOME", own.file(QStringLiteral("config")));
    ScopedEnv runtime("XDG_RUNTIME_DIR", own.path());
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + own.file(QStringLiteral("bus")));
    EXPECT_FALSE(platform::shell::EnvironmentOfAnotherUser());
    EXPECT_EQ(platform::shell::LaunchEnvironment(), QProcessEnvironment::systemEnvironment().toStringList());
}

TEST(LaunchEnvironment, TheDefaultProgramGetsTheRunningUsersOwnFoldersAndBus)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a home to another user";
    const QString ownHome = AccountHome();
    if (ownHome.isEmpty())
        GTEST_SKIP() << "the running user has no home in the account database";
    tvtest::TempDir other;
    ASSERT_TRUE(Give(other.path(), kOtherUser));
    RecordingOpener opener;
    ScopedEnv home("HOME", other.path());
    ScopedEnv config("XDG_CONFIG_HOME", other.file(QStringLiteral(".config")));
    ScopedEnv data("XDG_DATA_DIRS",
                   other.file(QStringLiteral(".local/share/flatpak/exports/share")) + QStringLiteral(":/usr/share"));
    ScopedEnv runtime("XDG_RUNTIME_DIR", other.path());
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + other.file(QStringLiteral("bus")));
    ScopedEnv kept("LAUNCH_TEST_MARK", QStringLiteral("kept"));
    EXPECT_TRUE(platform::shell::EnvironmentOfAnotherUser());

    ASSERT_TRUE(platform::shell::OpenWithDefaultProgram(QStringLiteral("https://example.invalid/")));
    const QStringList env = opener.Wait();
    ASSERT_FALSE(env.isEmpty()) << "the default program did not run";
    EXPECT_EQ(ValueOf(env, QStringLiteral("HOME")), ownHome);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_DIRS"})
        EXPECT_TRUE(ValueOf(env, QLatin1String(name)).isNull()) << name;
    for (const char *name : {"XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
        EXPECT_FALSE(ValueOf(env, QLatin1String(name)).contains(other.path())) << name;
    EXPECT_EQ(ValueOf(env, QStringLiteral("LAUNCH_TEST_MARK")), QStringLiteral("kept"));
    EXPECT_TRUE(ValueOf(env, QStringLiteral("PATH")).endsWith(QStringLiteral(":/usr/bin:/bin")));
}

TEST(LaunchEnvironment, AnyOneFolderOfAnotherUserCounts)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    tvtest::TempDir own, other;
    ASSERT_TRUE(Give(other.path(), kOtherUser));
    ScopedEnv home("HOME", own.path());
    ScopedEnv runtime("XDG_RUNTIME_DIR", own.path());
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + own.file(QStringLiteral("bus")));
    for (const char *name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "HOME", "XDG_RUNTIME_DIR"}) {
        ScopedEnv moved(name, other.path());
        EXPECT_TRUE(platform::shell::EnvironmentOfAnotherUser()) << name;
        EXPECT_EQ(ValueOf(platform::shell::LaunchEnvironment(), QLatin1String(name)).contains(other.path()), false)
            << name;
    }
    // The bus socket of another user.
    ASSERT_TRUE(QFile(other.file(QStringLiteral("bus"))).open(QIODevice::WriteOnly));
    ASSERT_TRUE(Give(other.file(QStringLiteral("bus")), kOtherUser));
    ScopedEnv otherBus("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + other.file(QStringLiteral("bus")));
    EXPECT_TRUE(platform::shell::EnvironmentOfAnotherUser());
}
