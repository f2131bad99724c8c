// Where the backups lie: the user's data directory the creator hands down, made private on the
// first disable; backups an earlier version kept in the program directory are taken over once,
// and only the user's own.

#include "sysinfo_autoruns/AutorunEnv.h"

#include "common/UserDirs.h"
#include "sysinfo/Autoruns.h"
#include "sysinfo/Utils.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace {

using autotest::AutorunEnv;

int Find(const TAutoruns &List, const QString &Name, bool Active)
{
    for (int i = 0; i < List.GetCount(); ++i)
        if (List.GetItem(i)->Name == Name && List.GetItem(i)->Active == Active)
            return i;
    return -1;
}

TEST(AutorunBackupPlace, IsTheUsersDataDirectoryMadePrivateOnTheFirstDisable)
{
    AutorunEnv env;
    const QByteArray entry = AutorunEnv::Entry("/bin/true --x");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "tool.desktop", entry));
    TAutoruns list(nullptr, env.DataDir());
    EXPECT_EQ(list.BackupFile(), env.BackupFile());
    // Listing writes nothing.
    list.Refresh();
    EXPECT_FALSE(QFileInfo::exists(env.DataDir()));

    ASSERT_TRUE(list.Disable(Find(list, "tool", true)));
    EXPECT_TRUE(QFileInfo(env.BackupFile()).isFile());
    EXPECT_EQ(tvtest::FileMode(env.DataDir()), 0700);
    EXPECT_EQ(tvtest::FileMode(env.DataDir() + "Backup"), 0700);
    EXPECT_FALSE(QFileInfo::exists(env.UserDir() + "tool.desktop"));

    // Another component on the same directory (the next start) finds the disabled entry there.
    TAutoruns next(nullptr, env.DataDir());
    next.Refresh();
    const int off = Find(next, "tool", false);
    ASSERT_GE(off, 0);
    ASSERT_TRUE(next.Enable(off));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "tool.desktop"), entry);
}

TEST(AutorunBackupPlace, WithoutADataDirectoryNothingIsDisabledOrWritten)
{
    AutorunEnv env;
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/true"));
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(env.Root()));
    TAutoruns list;
    EXPECT_TRUE(list.BackupFile().isEmpty());
    list.Refresh();
    EXPECT_FALSE(list.Disable(Find(list, "agent", true)));
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});
    EXPECT_FALSE(QFileInfo::exists(env.Root() + "/Backup"));
    QDir::setCurrent(cwd);
}

class OldBackup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(ProgramDir() + "Backup"));
    }
    QString ProgramDir() const { return dir.file(QStringLiteral("bin")) + QLatin1Char('/'); }
    QString Old(const char *Name) const { return ProgramDir() + "Backup/" + QLatin1String(Name); }
    QString New(const char *Name) const { return home.DataDir() + "Backup/" + QLatin1String(Name); }

    tvtest::TempDir dir;
    tvtest::PrivateHome home{dir.file(QStringLiteral("user"))};
};

TEST_F(OldBackup, IsTakenOverOnceIntoAPrivateFolder)
{
    const QByteArray text = "[R_agent]\nCommand=/bin/true\nUserType=1\nRunType=2\n";
    ASSERT_TRUE(AutorunEnv::Write(Old("autoruns.dat"), text));
    EXPECT_TRUE(AdoptOldBackup(ProgramDir(), New("autoruns.dat")));
    EXPECT_EQ(AutorunEnv::Read(New("autoruns.dat")), text);
    EXPECT_EQ(tvtest::FileMode(home.DataDir()), 0700);
    EXPECT_EQ(tvtest::FileMode(home.DataDir() + "Backup"), 0700);
    // The old file is left as it was, and never read again.
    EXPECT_EQ(AutorunEnv::Read(Old("autoruns.dat")), text);
    ASSERT_TRUE(AutorunEnv::Write(Old("autoruns.dat"), "[R_other]\nCommand=/bin/false\n"));
    EXPECT_FALSE(AdoptOldBackup(ProgramDir(), New("autoruns.dat")));
    EXPECT_EQ(AutorunEnv::Read(New("autoruns.dat")), text);

    // A name the program directory does not hold: nothing, not even the folders.
    EXPECT_FALSE(AdoptOldBackup(ProgramDir(), New("opti_services.dat")));
    EXPECT_FALSE(QFileInfo::exists(New("opti_services.dat")));
    EXPECT_FALSE(AdoptOldBackup(QString(), New("autoruns.dat")));
}

TEST_F(OldBackup, OfAnotherUserIsNeverTaken)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    ASSERT_TRUE(AutorunEnv::Write(Old("opti_services.dat"), "[ServicesBackup]\nx=2\n"));
    ASSERT_EQ(::chown(QFile::encodeName(Old("opti_services.dat")).constData(), 4242, 4242), 0);
    EXPECT_FALSE(AdoptOldBackup(ProgramDir(), New("opti_services.dat")));
    EXPECT_FALSE(QFileInfo::exists(New("opti_services.dat")));
    EXPECT_FALSE(QFileInfo::exists(home.DataDir()));
}

TEST_F(OldBackup, NeverReplacesTheUsersOwn)
{
    ASSERT_TRUE(AutorunEnv::Write(Old("autoruns.dat"), "[R_old]\nCommand=/bin/true\n"));
    ASSERT_TRUE(QDir().mkpath(home.DataDir() + "Backup"));
    ASSERT_TRUE(AutorunEnv::Write(New("autoruns.dat"), "[R_mine]\nCommand=/bin/true\n"));
    EXPECT_FALSE(AdoptOldBackup(ProgramDir(), New("autoruns.dat")));
    EXPECT_EQ(AutorunEnv::Read(New("autoruns.dat")), QByteArray("[R_mine]\nCommand=/bin/true\n"));
    // A link in the program directory is not followed.
    ASSERT_TRUE(QFile::remove(Old("autoruns.dat")));
    ASSERT_TRUE(QFile::remove(New("autoruns.dat")));
    ASSERT_TRUE(AutorunEnv::Write(dir.file(QStringLiteral("elsewhere.dat")), "[R_x]\nCommand=/bin/true\n"));
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("elsewhere.dat")), Old("autoruns.dat")));
    EXPECT_FALSE(AdoptOldBackup(ProgramDir(), New("autoruns.dat")));
    EXPECT_FALSE(QFileInfo::exists(New("autoruns.dat")));
}

} // namespace
