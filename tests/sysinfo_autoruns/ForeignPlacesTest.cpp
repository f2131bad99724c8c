// Folders that are not the user's alone: an autostart folder swapped for a link, a backup folder
// that another user owns. Nothing is listed from them and nothing is written into them.

#include "sysinfo_autoruns/AutorunEnv.h"

#include "sysinfo/Autoruns.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using autotest::AutorunEnv;

constexpr uid_t kOtherUid = 4202;

int Find(const TAutoruns &List, const QString &Name, bool Active)
{
    for (int i = 0; i < List.GetCount(); ++i)
        if (List.GetItem(i)->Name == Name && List.GetItem(i)->Active == Active)
            return i;
    return -1;
}

QStringList Entries(const QString &Dir)
{
    return QDir(Dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

TEST(ForeignPlaces, AnAutostartFolderSwappedForALinkIsNotWrittenThrough)
{
    AutorunEnv env;
    TAutoruns list(nullptr, env.DataDir());
    const QByteArray entry = AutorunEnv::Entry("/bin/true --mine");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "mine.desktop", entry));
    list.Refresh();
    ASSERT_TRUE(list.Disable(Find(list, "mine", true)));

    // The user's folder becomes a link to the all-users folder.
    const QString userDir = QDir::cleanPath(env.UserDir());
    ASSERT_TRUE(QDir(userDir).removeRecursively());
    ASSERT_TRUE(QFile::link(QDir::cleanPath(env.AllUsersDir()), userDir));
    const QStringList before = Entries(env.AllUsersDir());

    list.Refresh();
    const int off = Find(list, "mine", false);
    ASSERT_GE(off, 0);
    EXPECT_FALSE(list.Enable(off));
    EXPECT_EQ(Entries(env.AllUsersDir()), before);
    EXPECT_FALSE(QFileInfo::exists(env.AllUsersDir() + "mine.desktop"));
    // The entry stays in the backup, ready for when the folder is the user's again.
    list.Refresh();
    EXPECT_GE(Find(list, "mine", false), 0);
}

TEST(ForeignPlaces, ABackupFolderOfAnotherUserIsNeitherListedNorWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    AutorunEnv env;
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/true"));
    const QString backupDir = QFileInfo(env.BackupFile()).absolutePath();
    ASSERT_TRUE(QDir().mkpath(backupDir));
    ASSERT_EQ(::chmod(QFile::encodeName(env.DataDir()).constData(), 0700), 0);
    // Their Backup/, open to all, with an entry they made up for the all-users key.
    const QByteArray forged = "[R_forged]\nCommand=/bin/true --theirs\nUserType=2\nRunType=2\n";
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(), forged));
    for (const QString &p : {backupDir, env.BackupFile()})
        ASSERT_EQ(::chown(QFile::encodeName(p).constData(), kOtherUid, kOtherUid), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(backupDir).constData(), 0777), 0);

    TAutoruns list(nullptr, env.DataDir());
    list.Refresh();
    EXPECT_LT(Find(list, "forged", false), 0);
    // Disabling would write into their folder: refused, the entry stays in force.
    const int agent = Find(list, "agent", true);
    ASSERT_GE(agent, 0);
    EXPECT_FALSE(list.Disable(agent));
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});
    EXPECT_EQ(AutorunEnv::Read(env.BackupFile()), forged);
    EXPECT_EQ(Entries(backupDir), QStringList{"autoruns.dat"});
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kMachineRun).isEmpty());
}

} // namespace

TEST(ForeignPlaces, AnAllUsersFolderOfAnotherUserIsNotListed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    // The first folder of XDG_CONFIG_DIRS is another user's, with an entry of theirs and a link to
    // a FIFO; the second is the system's.
    AutorunEnv env;
    const QString theirs = QDir::cleanPath(env.AllUsersDir());
    ASSERT_TRUE(
        AutorunEnv::Write(theirs + QStringLiteral("/planted.desktop"), AutorunEnv::Entry("/bin/true --theirs")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(env.File("fifo")).constData(), 0666), 0);
    ASSERT_TRUE(QFile::link(env.File("fifo"), theirs + QStringLiteral("/pipe.desktop")));
    const QString system = env.File("xdg2/autostart");
    ASSERT_TRUE(QDir().mkpath(system));
    ASSERT_TRUE(AutorunEnv::Write(system + QStringLiteral("/everyone.desktop"), AutorunEnv::Entry("/bin/true --all")));
    for (const QString &p : {env.File("xdg"), theirs, theirs + QStringLiteral("/planted.desktop"),
                             theirs + QStringLiteral("/pipe.desktop")})
        ASSERT_EQ(::lchown(QFile::encodeName(p).constData(), kOtherUid, kOtherUid), 0) << p.toStdString();

    TAutoruns list(nullptr, env.DataDir());
    list.Refresh();
    EXPECT_LT(Find(list, "planted", true), 0);
    EXPECT_LT(Find(list, "pipe", true), 0);
    const int everyone = Find(list, "everyone", true);
    ASSERT_GE(everyone, 0);
    EXPECT_EQ(list.GetItem(everyone)->Location, system + QLatin1Char('/'));
    // Disabling and enabling again works in the system's folder, never in theirs.
    ASSERT_TRUE(list.Disable(everyone));
    list.Refresh();
    ASSERT_TRUE(list.Enable(Find(list, "everyone", false)));
    EXPECT_TRUE(QFileInfo::exists(system + QStringLiteral("/everyone.desktop")));
    EXPECT_FALSE(QFileInfo::exists(theirs + QStringLiteral("/everyone.desktop")));
}
