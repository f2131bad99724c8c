// The user's data directory, private folders, the shipped data folders and the taking over of
// files an earlier version left elsewhere.

#include "common/Pinger.h"
#include "common/SelfCopy.h"
#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/files/AtomicFile.h"
#include "platform/shell/Shell.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

using tvtest::FileMode;
using tvtest::ReadFile;
using tvtest::ScopedEnv;
using tvtest::WriteFile;

// A uid no account of the machine is likely to have: stands for "another user".
constexpr uid_t kOtherUid = 4242;

std::string AccountDataDir()
{
    const passwd *pw = ::getpwuid(::geteuid());
    return pw ? std::string(pw->pw_dir) + "/.local/share/taskvane/" : std::string();
}

std::string Found()
{
    return platform::shell::UserDataDir().toStdString();
}

class UserDataDir : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const char *Name) const { return dir.file(QLatin1String(Name)); }
    tvtest::TempDir dir;
};

TEST_F(UserDataDir, FollowsTheBaseDirectoryRules)
{
    ASSERT_TRUE(QDir().mkpath(Path("home")));
    {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv data("XDG_DATA_HOME", Path("data"));
        // An absolute data home wins, also while it does not exist yet; nothing is created.
        EXPECT_EQ(Found(), (Path("data") + "/taskvane/").toStdString());
        EXPECT_FALSE(QFileInfo::exists(Path("data")));
    }
    {
        ScopedEnv home("HOME", Path("home") + "/");
        ScopedEnv data("XDG_DATA_HOME", QStringLiteral("relative/data"));
        // A relative one is ignored, as the rules say.
        EXPECT_EQ(Found(), (Path("home") + "/.local/share/taskvane/").toStdString());
    }
    {
        ScopedEnv home("HOME", QString());
        ScopedEnv data("XDG_DATA_HOME", QString());
        // Nothing usable in the environment: the account's own home.
        EXPECT_EQ(Found(), AccountDataDir());
    }
}

TEST_F(UserDataDir, NeverAnotherUsersHome)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give folders to another user";
    // As after "sudo -E": HOME is still the other user's.
    ASSERT_TRUE(QDir().mkpath(Path("theirs/.local/share")));
    ASSERT_EQ(::chown(QFile::encodeName(Path("theirs")).constData(), kOtherUid, kOtherUid), 0);
    {
        ScopedEnv home("HOME", Path("theirs"));
        ScopedEnv data("XDG_DATA_HOME", QString());
        EXPECT_EQ(Found(), AccountDataDir());
    }
    // Their data folder named directly, existing or still to be made in their home.
    ASSERT_EQ(::chown(QFile::encodeName(Path("theirs/.local/share")).constData(), kOtherUid, kOtherUid), 0);
    for (const char *data : {"theirs/.local/share", "theirs/.local/share/deeper", "theirs/new"}) {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv xdg("XDG_DATA_HOME", Path(data));
        EXPECT_EQ(Found(), AccountDataDir()) << data;
    }
    // A data folder still to be made in a folder of one's own is used.
    {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv xdg("XDG_DATA_HOME", Path("mine/data"));
        EXPECT_EQ(Found(), (Path("mine/data") + "/taskvane/").toStdString());
    }
}

// Run again in a mount namespace of its own whose account database never answers: the user
// database file is a FIFO nobody writes.
constexpr const char *kInsideVariable = "TASKVANE_TEST_IN_MOUNT_NAMESPACE";

TEST(AccountHome, AnAccountDatabaseThatNeverAnswersHoldsOnlyTheFirstLookBriefly)
{
    if (qEnvironmentVariableIsSet(kInsideVariable)) {
        ScopedEnv home("HOME");
        ScopedEnv data("XDG_DATA_HOME");
        ScopedEnv config("XDG_CONFIG_HOME");
        // Without a home in the environment the account's is asked for, and not had.
        EXPECT_EQ(Found(), std::string());
        // Nor asked again: the folders an autoruns command looks up come at once.
        QObject window;
        tvtest::Pinger pinger(&window);
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(platform::shell::UserConfigDir().isEmpty());
            EXPECT_TRUE(platform::shell::UserAutostartDir().isEmpty());
            EXPECT_TRUE(platform::shell::UserDataDir().isEmpty());
        }
        EXPECT_LT(pinger.Stop().count(), 100);
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "a mount namespace of its own needs root";
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray fifo = QFile::encodeName(dir.file(QStringLiteral("passwd")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    const tvtest::SelfCopy copy("AccountHome.AnAccountDatabaseThatNeverAnswersHoldsOnlyTheFirstLookBriefly",
                                QByteArray(kInsideVariable) + "=1");
    constexpr int kSkipped = 77;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(fifo.constData(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
            ::_exit(kSkipped);
        copy.Exec();
        ::_exit(kSkipped);
    }
    // A copy that waits for the database is ended: it would wait for ever.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 2000 && ended == 0; ++i) {
        ended = ::waitpid(child, &status, WNOHANG);
        if (ended == 0)
            ::usleep(10000);
    }
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the look-up of the home waited for the account database";
    }
    ASSERT_EQ(ended, child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkipped)
        GTEST_SKIP() << "no mount namespace of its own here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run inside the namespace failed (output above)";
}

TEST(PrivateDirs, AreMadeForTheOwnerOnlyWhateverTheUmask)
{
    tvtest::TempDir dir;
    const mode_t old = ::umask(0);
    const QString deep = dir.file(QStringLiteral("a/b/c"));
    EXPECT_TRUE(platform::shell::MakePrivateDirs(deep));
    ::umask(old);
    for (const QString &p : {dir.file(QStringLiteral("a")), dir.file(QStringLiteral("a/b")), deep})
        EXPECT_EQ(FileMode(p), 0700) << p.toStdString();
    // An existing folder is taken as it is.
    ASSERT_TRUE(QFile::setPermissions(
        deep, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    EXPECT_TRUE(platform::shell::MakePrivateDirs(deep + "/"));
    EXPECT_EQ(FileMode(deep), 0705);
    // A file in the way, or no name at all, is a failure.
    ASSERT_TRUE(WriteFile(dir.file(QStringLiteral("file")), "x"));
    EXPECT_FALSE(platform::shell::MakePrivateDirs(dir.file(QStringLiteral("file"))));
    EXPECT_FALSE(platform::shell::MakePrivateDirs(dir.file(QStringLiteral("file/sub"))));
    EXPECT_FALSE(platform::shell::MakePrivateDirs(QString()));
}

TEST(ProgramDataDirs, AreTheProgramFolderAndTheSharedFolderBesideIt)
{
    EXPECT_EQ(platform::shell::ProgramDataDirs(QStringLiteral("/opt/tv/bin")),
              (QStringList{"/opt/tv/bin/", "/opt/tv/share/taskvane/"}));
    EXPECT_EQ(platform::shell::ProgramDataDirs(QStringLiteral("/usr/bin/")),
              (QStringList{"/usr/bin/", "/usr/share/taskvane/"}));
    EXPECT_TRUE(platform::shell::ProgramDataDirs(QString()).isEmpty());
}

TEST(AdoptOwnFile, TakesOnlyTheUsersOwnRegularFileOnce)
{
    tvtest::TempDir dir;
    const QString old = dir.file(QStringLiteral("old.dat"));
    const QString target = dir.file(QStringLiteral("new/x.dat"));
    ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("new"))));
    ASSERT_TRUE(WriteFile(old, "[S_a]\nCommand=x\n"));
    EXPECT_TRUE(platform::files::AdoptOwnFile(old, target, 1024));
    EXPECT_EQ(ReadFile(target), QByteArray("[S_a]\nCommand=x\n"));
    // Once there, the copy is never replaced.
    ASSERT_TRUE(WriteFile(old, "changed"));
    EXPECT_FALSE(platform::files::AdoptOwnFile(old, target, 1024));
    EXPECT_EQ(ReadFile(target), QByteArray("[S_a]\nCommand=x\n"));

    // Too large, a link, a FIFO, nothing: not taken, nothing made.
    const QString other = dir.file(QStringLiteral("new/y.dat"));
    EXPECT_FALSE(platform::files::AdoptOwnFile(old, other, 3));
    ASSERT_TRUE(QFile::link(old, dir.file(QStringLiteral("link.dat"))));
    EXPECT_FALSE(platform::files::AdoptOwnFile(dir.file(QStringLiteral("link.dat")), other, 1024));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file(QStringLiteral("fifo"))).constData(), 0600), 0);
    EXPECT_FALSE(platform::files::AdoptOwnFile(dir.file(QStringLiteral("fifo")), other, 1024));
    EXPECT_FALSE(platform::files::AdoptOwnFile(dir.file(QStringLiteral("missing")), other, 1024));
    EXPECT_FALSE(QFileInfo::exists(other));

    if (::geteuid() == 0) {
        // Another user's file is theirs.
        ASSERT_EQ(::chown(QFile::encodeName(old).constData(), kOtherUid, kOtherUid), 0);
        EXPECT_FALSE(platform::files::AdoptOwnFile(old, other, 1024));
        EXPECT_FALSE(QFileInfo::exists(other));
    }
}

} // namespace
