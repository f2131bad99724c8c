// The folders the program writes in: only the running user's own, and never through a link; the
// per-user folders follow the running user, not an environment another user left behind.

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/OwnFolder.h"
#include "platform/shell/Shell.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::files::OwnFolder;
using tvtest::ReadFile;
using tvtest::ScopedEnv;
using tvtest::WriteFile;

// A uid no account of the machine is likely to have: stands for "another user".
constexpr uid_t kOtherUid = 4202;

bool GiveAway(const QString &Path)
{
    return ::lchown(QFile::encodeName(Path).constData(), kOtherUid, kOtherUid) == 0;
}

QString AccountHome()
{
    const passwd *pw = ::getpwuid(::geteuid());
    return pw ? QDir::cleanPath(QFile::decodeName(pw->pw_dir)) : QString();
}

class OwnFolders : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString &Name) const { return dir.file(Name); }
    tvtest::TempDir dir;
};

TEST_F(OwnFolders, WriteLockAndDeleteNeverFollowALink)
{
    auto folder = OwnFolder::Make(Path("own"), 0700);
    ASSERT_TRUE(folder);
    ASSERT_TRUE(WriteFile(Path("target"), "kept"));
    ASSERT_TRUE(QFile::link(Path("target"), Path("own/link")));
    ASSERT_TRUE(QFile::link(Path("absent"), Path("own/dangling")));

    // A link in the way of a write, a download or a lock: refused, and what it leads to (or would
    // make) is left as it is.
    for (const char *name : {"link", "dangling"}) {
        EXPECT_FALSE(folder->WriteFile(name, "new")) << name;
        EXPECT_LT(folder->CreateFile(name), 0) << name;
        EXPECT_LT(folder->OpenLockFile(name), 0) << name;
    }
    EXPECT_EQ(ReadFile(Path("target")), QByteArray("kept"));
    EXPECT_FALSE(QFileInfo::exists(Path("absent")));
    EXPECT_FALSE(platform::files::WriteFileAtomically(Path("own/link"), "new"));
    EXPECT_EQ(ReadFile(Path("target")), QByteArray("kept"));
    // Reading one of the user's files through a link is no read of the user's file.
    EXPECT_FALSE(folder->ReadFile("link", 100));

    // Deleting takes the link, never what it leads to.
    EXPECT_TRUE(folder->RemoveFile("link"));
    EXPECT_FALSE(QFileInfo(Path("own/link")).isSymLink());
    EXPECT_EQ(ReadFile(Path("target")), QByteArray("kept"));

    // The user's own files: written, replaced, read and deleted; a lock file is the user's alone.
    EXPECT_TRUE(folder->WriteFile("a", "one", 0640));
    EXPECT_TRUE(folder->WriteFile("a", "two"));
    EXPECT_EQ(folder->ReadFile("a", 100), QByteArray("two"));
    const int lock = folder->OpenLockFile("a.lock");
    ASSERT_GE(lock, 0);
    ::close(lock);
    EXPECT_EQ(tvtest::FileMode(Path("own/a.lock")), 0600);
    EXPECT_TRUE(folder->RemoveFile("a"));
    EXPECT_FALSE(folder->RemoveFile("a"));
    bool missing = false;
    EXPECT_FALSE(folder->ReadFile("a", 100, &missing));
    EXPECT_TRUE(missing);
    // Names that lead elsewhere are no names.
    for (const char *name : {"", ".", "..", "../escape"})
        EXPECT_FALSE(folder->WriteFile(name, "x")) << name;
    EXPECT_FALSE(QFileInfo::exists(Path("escape")));
}

TEST_F(OwnFolders, OnlyAFolderOfTheUsersAloneIsWrittenIn)
{
    // A folder others may write into, a link in place of the folder, a file in its place.
    ASSERT_TRUE(QDir().mkpath(Path("open")));
    ASSERT_EQ(::chmod(QFile::encodeName(Path("open")).constData(), 0777), 0);
    ASSERT_TRUE(QDir().mkpath(Path("real")));
    ASSERT_TRUE(QFile::link(Path("real"), Path("swapped")));
    ASSERT_TRUE(WriteFile(Path("file"), "x"));
    for (const char *name : {"open", "swapped", "file", "file/sub"}) {
        EXPECT_FALSE(OwnFolder::Open(Path(name))) << name;
        EXPECT_FALSE(OwnFolder::Make(Path(name), 0700)) << name;
        EXPECT_FALSE(platform::shell::MakePrivateDirs(Path(name))) << name;
        EXPECT_FALSE(platform::files::WriteFileAtomically(Path(name) + "/f", "x")) << name;
    }
    EXPECT_FALSE(QFileInfo::exists(Path("real/f")));
    EXPECT_FALSE(QFileInfo::exists(Path("open/f")));
    // Nothing is made below a folder that others may change.
    EXPECT_FALSE(OwnFolder::Make(Path("open/deeper"), 0700));
    EXPECT_FALSE(QFileInfo::exists(Path("open/deeper")));
    // A file others may write is read as nobody's.
    ASSERT_TRUE(OwnFolder::Make(Path("mine"), 0700));
    ASSERT_TRUE(WriteFile(Path("mine/shared"), "x"));
    ASSERT_EQ(::chmod(QFile::encodeName(Path("mine/shared")).constData(), 0666), 0);
    EXPECT_FALSE(platform::files::ReadOwnFile(Path("mine/shared"), 100));
}

TEST_F(OwnFolders, AnotherUsersFolderOrFileIsNeverUsed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another user";
    ASSERT_TRUE(QDir().mkpath(Path("theirs/inner")));
    ASSERT_TRUE(GiveAway(Path("theirs")));
    ASSERT_TRUE(OwnFolder::Make(Path("mine"), 0700));
    ASSERT_TRUE(WriteFile(Path("mine/their-file"), "theirs"));
    ASSERT_TRUE(GiveAway(Path("mine/their-file")));
    // Their folder, and a folder of one's own reached through theirs.
    EXPECT_FALSE(OwnFolder::Open(Path("theirs")));
    EXPECT_FALSE(OwnFolder::Open(Path("theirs/inner")));
    EXPECT_FALSE(platform::files::IsTrustedPath(Path("theirs/inner/new")));
    EXPECT_FALSE(platform::files::WriteFileAtomically(Path("theirs/inner/f"), "x"));
    EXPECT_FALSE(QFileInfo::exists(Path("theirs/inner/f")));
    // A link of theirs on the way to a folder of one's own.
    ASSERT_TRUE(QFile::link(Path("mine"), Path("via-theirs")));
    ASSERT_TRUE(GiveAway(Path("via-theirs")));
    EXPECT_FALSE(platform::files::IsTrustedPath(Path("via-theirs")));
    // Their file in one's own folder is neither replaced, read, locked nor deleted.
    auto folder = OwnFolder::Open(Path("mine"));
    ASSERT_TRUE(folder);
    EXPECT_FALSE(folder->WriteFile("their-file", "mine"));
    EXPECT_FALSE(folder->ReadFile("their-file", 100));
    EXPECT_LT(folder->OpenLockFile("their-file"), 0);
    EXPECT_LT(folder->CreateFile("their-file"), 0);
    EXPECT_FALSE(folder->RemoveFile("their-file"));
    EXPECT_EQ(ReadFile(Path("mine/their-file")), QByteArray("theirs"));
}

TEST_F(OwnFolders, PerUserFoldersAreTheRunningUsersOwn)
{
    ASSERT_TRUE(QDir().mkpath(Path("home/.config")));
    {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv config("XDG_CONFIG_HOME", QString());
        EXPECT_EQ(platform::shell::UserConfigDir(), Path("home/.config"));
        EXPECT_EQ(platform::shell::UserAutostartDir(), Path("home/.config/autostart"));
    }
    {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv config("XDG_CONFIG_HOME", Path("cfg"));
        EXPECT_EQ(platform::shell::UserConfigDir(), Path("cfg"));
    }
    // A data folder that is there but open to others is no data folder.
    {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv data("XDG_DATA_HOME", Path("data"));
        ASSERT_TRUE(QDir().mkpath(Path("data/taskvane")));
        EXPECT_EQ(platform::shell::UserDataDir(), Path("data/taskvane/"));
        ASSERT_EQ(::chmod(QFile::encodeName(Path("data/taskvane")).constData(), 0777), 0);
        EXPECT_EQ(platform::shell::UserDataDir(), QString());
        ASSERT_TRUE(QFile::rename(Path("data/taskvane"), Path("data/elsewhere")));
        ASSERT_EQ(::chmod(QFile::encodeName(Path("data/elsewhere")).constData(), 0700), 0);
        ASSERT_TRUE(QFile::link(Path("data/elsewhere"), Path("data/taskvane")));
        EXPECT_EQ(platform::shell::UserDataDir(), QString());
    }
    if (::geteuid() != 0)
        return;
    // As after "sudo -E": every per-user folder is the running user's own, whatever the
    // environment of the other user says.
    ASSERT_TRUE(QDir().mkpath(Path("theirs/.config/autostart")));
    ASSERT_TRUE(QDir().mkpath(Path("theirs/.local/share/taskvane")));
    for (const char *p : {"theirs", "theirs/.config", "theirs/.config/autostart", "theirs/.local",
                          "theirs/.local/share", "theirs/.local/share/taskvane"})
        ASSERT_TRUE(GiveAway(Path(p))) << p;
    const QString own = AccountHome();
    ASSERT_FALSE(own.isEmpty());
    {
        ScopedEnv home("HOME", Path("theirs"));
        ScopedEnv config("XDG_CONFIG_HOME", QString());
        ScopedEnv data("XDG_DATA_HOME", QString());
        EXPECT_EQ(platform::shell::UserConfigDir(), own + "/.config");
        EXPECT_EQ(platform::shell::UserAutostartDir(), own + "/.config/autostart");
    }
    {
        ScopedEnv home("HOME", Path("home"));
        ScopedEnv config("XDG_CONFIG_HOME", Path("theirs/.config"));
        EXPECT_EQ(platform::shell::UserConfigDir(), own + "/.config");
        // Their folder behind a link of one's own.
        ASSERT_TRUE(QFile::link(Path("theirs/.config"), Path("home/cfg-link")));
        ScopedEnv linked("XDG_CONFIG_HOME", Path("home/cfg-link"));
        EXPECT_EQ(platform::shell::UserConfigDir(), own + "/.config");
    }
}

} // namespace
