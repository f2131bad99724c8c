#include "sysinfo_autoruns/AutorunEnv.h"

#include "platform/files/IniFile.h"
#include "sysinfo/Autoruns.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>

namespace {

using autotest::AutorunEnv;

class Autoruns : public ::testing::Test
{
protected:
    void SetUp() override { list.SetBackupFile(env.BackupFile()); }

    // The index of the entry with this name and state, or -1.
    int Find(const QString &Name, bool Active = true) const
    {
        for (int i = 0; i < list.GetCount(); ++i) {
            const TAutorunItem *it = list.GetItem(i);
            if (it->Name == Name && it->Active == Active)
                return i;
        }
        return -1;
    }
    QStringList Names() const
    {
        QStringList out;
        for (int i = 0; i < list.GetCount(); ++i)
            out << list.GetItem(i)->Name + (list.GetItem(i)->Active ? QString() : QStringLiteral("(off)"));
        return out;
    }
    platform::files::IniFile Backup() const
    {
        platform::files::IniFile ini;
        ini.Load(env.BackupFile());
        return ini;
    }

    AutorunEnv env;
    TAutoruns list;
};

TEST_F(Autoruns, ListsBothFoldersTheRunKeysAndTheBackupInScanOrder)
{
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "b-tool.desktop", AutorunEnv::Entry("/bin/sh -c true")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "a-gone.desktop", AutorunEnv::Entry("/nonexistent/prog --x")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "Desktop.INI", "x"));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "thumbs.DB", "x"));
    ASSERT_TRUE(QDir().mkpath(env.UserDir() + "sub.desktop"));
    ASSERT_TRUE(QDir().mkpath(env.UserDir() + ".hidden-dir"));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "run.bat", "echo off\n"));
    ASSERT_TRUE(AutorunEnv::Write(env.AllUsersDir() + "common.desktop", AutorunEnv::Entry("/bin/true")));
    // The second directory of the list is not the all-users folder.
    ASSERT_TRUE(QDir().mkpath(env.File("xdg2/autostart")));
    ASSERT_TRUE(AutorunEnv::Write(env.File("xdg2/autostart/elsewhere.desktop"), AutorunEnv::Entry("/bin/true")));

    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kMachineRunServicesOnce, "svc", "/bin/true"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRunOnce, "once", "/nonexistent/once"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/sh -c 'sleep 1'"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kMachineRun, "machine", "/bin/true"));
    QDir().mkpath(QFileInfo(env.BackupFile()).absolutePath());
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(),
                                  "[R_old]\nCommand=/bin/true -q\nUserType=2\nRunType=3\n"
                                  "[S_link]\nCommand=\"\"/bin/true\" \"\nUserType=1\nRunType=1\nData=41\n"));

    list.Refresh();
    // A batch file is no desktop entry: the session never starts it, so it is no autorun.
    EXPECT_EQ(Names(),
              (QStringList{"a-gone", "b-tool", "common", "agent", "machine", "once", "svc", "old(off)", "link(off)"}));

    const TAutorunItem *gone = list.GetItem(0);
    EXPECT_EQ(gone->Command, QStringLiteral("\"/nonexistent/prog\" --x"));
    EXPECT_EQ(gone->Location, env.UserDir());
    EXPECT_EQ(gone->UserType, TAutorunUserType::CurrentUser);
    EXPECT_EQ(gone->RunType, TAutorunRunType::StartupFolder);
    EXPECT_TRUE(gone->Active);
    EXPECT_TRUE(gone->FileMissing);

    const TAutorunItem *tool = list.GetItem(1);
    EXPECT_EQ(tool->Command, QStringLiteral("\"/bin/sh\" -c true"));
    EXPECT_FALSE(tool->FileMissing);

    const TAutorunItem *common = list.GetItem(2);
    EXPECT_EQ(common->UserType, TAutorunUserType::AllUsers);
    EXPECT_EQ(common->Location, env.AllUsersDir());

    const TAutorunItem *agent = list.GetItem(3);
    EXPECT_EQ(agent->Command, QStringLiteral("/bin/sh -c 'sleep 1'"));
    EXPECT_EQ(agent->Location, autotest::kUserRun);
    EXPECT_EQ(agent->UserType, TAutorunUserType::CurrentUser);
    EXPECT_EQ(agent->RunType, TAutorunRunType::Run);
    EXPECT_FALSE(agent->FileMissing);
    EXPECT_EQ(list.GetItem(4)->Location, autotest::kMachineRun);
    EXPECT_EQ(list.GetItem(4)->UserType, TAutorunUserType::AllUsers);
    EXPECT_TRUE(list.GetItem(5)->FileMissing);
    EXPECT_EQ(list.GetItem(5)->RunType, TAutorunRunType::RunOnce);
    EXPECT_EQ(list.GetItem(6)->RunType, TAutorunRunType::RunServicesOnce);
    EXPECT_EQ(list.GetItem(6)->Location, autotest::kMachineRunServicesOnce);

    const TAutorunItem *old = list.GetItem(7);
    EXPECT_FALSE(old->Active);
    EXPECT_EQ(old->Command, QStringLiteral("/bin/true -q"));
    EXPECT_EQ(old->UserType, TAutorunUserType::AllUsers);
    EXPECT_EQ(old->RunType, TAutorunRunType::RunOnce);
    EXPECT_EQ(old->Location,
              QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"));
    EXPECT_FALSE(old->FileMissing);
    EXPECT_EQ(list.GetItem(8)->Command, QStringLiteral("\"/bin/true\" "));
    EXPECT_EQ(list.GetItem(8)->Location, env.UserDir());

    // Refresh rebuilds the list whole.
    ASSERT_TRUE(QFile::remove(env.UserDir() + "b-tool.desktop"));
    list.Refresh();
    EXPECT_EQ(list.GetCount(), 8);
    EXPECT_EQ(Find("b-tool"), -1);
}

TEST_F(Autoruns, IndexesOutsideTheListAndRepeatedCommandsChangeNothing)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "one", "/bin/true"));
    list.Refresh();
    ASSERT_EQ(list.GetCount(), 1);
    for (int i : {-1, 1, 1000, INT_MIN}) {
        EXPECT_EQ(list.GetItem(i), nullptr) << i;
        EXPECT_FALSE(list.Delete(i)) << i;
        EXPECT_FALSE(list.Disable(i)) << i;
        EXPECT_FALSE(list.Enable(i)) << i;
    }
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"one"});

    // Enabling an active entry or disabling a disabled one does nothing and succeeds.
    EXPECT_TRUE(list.Enable(0));
    EXPECT_FALSE(QFile::exists(env.BackupFile()));
    ASSERT_TRUE(list.Disable(0));
    const auto before = AutorunEnv::Read(env.BackupFile());
    EXPECT_TRUE(list.Disable(0));
    EXPECT_EQ(AutorunEnv::Read(env.BackupFile()), before);
}

TEST_F(Autoruns, FolderEntryOfEitherUserIsDisabledIntoTheBackupAndEnabledByteForByte)
{
    const QByteArray user = AutorunEnv::Entry("/bin/sh -c \"echo hi\"");
    const QByteArray all = AutorunEnv::Entry("/bin/true");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "mine.desktop", user));
    ASSERT_TRUE(AutorunEnv::Write(env.AllUsersDir() + "theirs.desktop", all));
    list.Refresh();
    ASSERT_EQ(list.GetCount(), 2);

    ASSERT_TRUE(list.Disable(Find("mine")));
    EXPECT_FALSE(QFile::exists(env.UserDir() + "mine.desktop"));
    EXPECT_FALSE(list.GetItem(Find("mine", false))->Active);
    ASSERT_TRUE(list.Disable(Find("theirs")));
    EXPECT_FALSE(QFile::exists(env.AllUsersDir() + "theirs.desktop"));

    // The backup: one section per entry, keys in order, the file as upper-case hexadecimal; a
    // command in quotes gets one more pair, which reading takes off again.
    const auto text = AutorunEnv::Read(env.BackupFile());
    ASSERT_TRUE(text);
    const QString expectedMine =
        QStringLiteral("[S_mine]\nCommand=\"\"/bin/sh\" -c \"echo hi\"\"\nUserType=1\nRunType=1\nData=") +
        QString::fromLatin1(user.toHex().toUpper()) + QLatin1Char('\n');
    EXPECT_TRUE(QString::fromUtf8(*text).startsWith(expectedMine)) << text->constData();
    platform::files::IniFile ini = Backup();
    EXPECT_EQ(ini.SectionNames(), (QStringList{"S_mine", "S_theirs"}));
    EXPECT_EQ(ini.KeyNames("S_theirs"), (QStringList{"Command", "UserType", "RunType", "Data"}));
    EXPECT_EQ(ini.Value("S_theirs", "UserType"), QStringLiteral("2"));

    // Listed again from the backup after a refresh, and back in place byte for byte.
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"mine(off)", "theirs(off)"}));
    EXPECT_EQ(list.GetItem(0)->Command, QStringLiteral("\"/bin/sh\" -c \"echo hi\""));
    ASSERT_TRUE(list.Enable(0));
    EXPECT_TRUE(list.GetItem(0)->Active);
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "mine.desktop"), user);
    ASSERT_TRUE(list.Enable(1));
    EXPECT_EQ(AutorunEnv::Read(env.AllUsersDir() + "theirs.desktop"), all);
    EXPECT_TRUE(Backup().SectionNames().isEmpty());

    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"mine", "theirs"}));
    EXPECT_EQ(list.GetItem(0)->Command, QStringLiteral("\"/bin/sh\" -c \"echo hi\""));
    EXPECT_EQ(list.GetItem(1)->Command, QStringLiteral("\"/bin/true\" "));
}

TEST_F(Autoruns, RegistryEntryOfEitherUserIsDisabledAndEnabledAgain)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/true --user"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kMachineRunServicesOnce, "svc", "/bin/sh -c x"));
    list.Refresh();
    ASSERT_TRUE(list.Disable(Find("agent")));
    ASSERT_TRUE(list.Disable(Find("svc")));
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kUserRun).isEmpty());
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kMachineRunServicesOnce).isEmpty());
    platform::files::IniFile ini = Backup();
    EXPECT_EQ(ini.SectionNames(), (QStringList{"R_agent", "R_svc"}));
    EXPECT_EQ(ini.KeyNames("R_agent"), (QStringList{"Command", "UserType", "RunType"}));
    EXPECT_EQ(ini.Value("R_svc", "RunType"), QStringLiteral("5"));
    EXPECT_EQ(ini.Value("R_svc", "UserType"), QStringLiteral("2"));

    list.Refresh();
    ASSERT_EQ(Names(), (QStringList{"agent(off)", "svc(off)"}));
    ASSERT_TRUE(list.Enable(1));
    ASSERT_TRUE(list.Enable(0));
    QString cmd;
    ReadRegistryString(autotest::kUserRun, "agent", cmd);
    EXPECT_EQ(cmd, QStringLiteral("/bin/true --user"));
    ReadRegistryString(autotest::kMachineRunServicesOnce, "svc", cmd);
    EXPECT_EQ(cmd, QStringLiteral("/bin/sh -c x"));
    EXPECT_TRUE(Backup().SectionNames().isEmpty());
}

TEST_F(Autoruns, EntryWithAMissingProgramCannotBeEnabledAgain)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "ghost", "/nonexistent/ghost -x"));
    list.Refresh();
    ASSERT_TRUE(list.GetItem(0)->FileMissing);
    ASSERT_TRUE(list.Disable(0));
    list.Refresh();
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_TRUE(list.GetItem(0)->FileMissing);
    EXPECT_FALSE(list.Enable(0));
    EXPECT_FALSE(list.GetItem(0)->Active);
    EXPECT_TRUE(Backup().HasSection("R_ghost"));
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kUserRun).isEmpty());
}

TEST_F(Autoruns, EnableTakesTheProgramAsTheListFoundIt)
{
    // The command never looks at the program file itself (it may lie on a file system that keeps
    // its reader waiting): what the list found stands until the list is read again.
    const QString program = env.File(QStringLiteral("agent"));
    for (const bool thereWhenListed : {true, false}) {
        SCOPED_TRACE(thereWhenListed);
        ASSERT_TRUE(AutorunEnv::Write(program, "#!/bin/sh\n"));
        ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", program + QStringLiteral(" --x")));
        list.Refresh();
        ASSERT_TRUE(list.Disable(0));
        if (!thereWhenListed) {
            ASSERT_TRUE(QFile::remove(program));
        }
        list.Refresh();
        ASSERT_EQ(list.GetCount(), 1);
        ASSERT_EQ(list.GetItem(0)->FileMissing, !thereWhenListed);
        // Gone, or there, since.
        if (thereWhenListed) {
            ASSERT_TRUE(QFile::remove(program));
        } else {
            ASSERT_TRUE(AutorunEnv::Write(program, "#!/bin/sh\n"));
        }
        EXPECT_EQ(list.Enable(0), thereWhenListed);
        EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun).size(), thereWhenListed ? 1 : 0);
        EXPECT_EQ(Backup().HasSection("R_agent"), !thereWhenListed);
        list.Refresh();
        if (list.GetCount() == 1)
            list.Delete(0);
        ASSERT_EQ(list.GetCount(), 0);
    }
}

TEST_F(Autoruns, DeleteRemovesWhicheverPlaceHoldsTheEntry)
{
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "file.desktop", AutorunEnv::Entry("/bin/true")));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kMachineRun, "value", "/bin/true"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "kept", "/bin/true"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "off", "/bin/true"));
    list.Refresh();
    ASSERT_TRUE(list.Disable(Find("off")));

    ASSERT_TRUE(list.Delete(Find("file")));
    EXPECT_FALSE(QFile::exists(env.UserDir() + "file.desktop"));
    ASSERT_TRUE(list.Delete(Find("value")));
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kMachineRun).isEmpty());
    ASSERT_TRUE(list.Delete(Find("off", false)));
    EXPECT_FALSE(Backup().HasSection("R_off"));
    EXPECT_EQ(Names(), QStringList{"kept"});

    list.Refresh();
    EXPECT_EQ(Names(), QStringList{"kept"});
}

TEST_F(Autoruns, FileOfAnotherKindIsNeverMistakenForTheDesktopEntryOfItsName)
{
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "run.bat", "@echo off\n"));
    list.Refresh();
    EXPECT_EQ(list.GetCount(), 0);

    // With a desktop entry of the same name beside it, only that entry is listed, and deleting
    // it leaves the other file alone.
    const QByteArray entry = AutorunEnv::Entry("/bin/true");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "run.desktop", entry));
    list.Refresh();
    ASSERT_EQ(Names(), QStringList{"run"});
    EXPECT_EQ(list.GetItem(0)->Command, QStringLiteral("\"/bin/true\" "));
    EXPECT_TRUE(list.Delete(0));
    EXPECT_FALSE(QFile::exists(env.UserDir() + "run.desktop"));
    EXPECT_TRUE(QFile::exists(env.UserDir() + "run.bat"));
}

TEST_F(Autoruns, HandWrittenSectionsAreListedAndDeletedFromTheirOwnSection)
{
    QDir().mkpath(QFileInfo(env.BackupFile()).absolutePath());
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(),
                                  "; kept comment\n[X_abc]\nCommand=/bin/true\nUserType=1\nRunType=2\n"
                                  "[R_bare]\nCommand=/bin/true\n[Q]\n"));
    list.Refresh();
    ASSERT_EQ(Names(), (QStringList{"abc(off)", "bare(off)", "(off)"}));
    const TAutorunItem *abc = list.GetItem(0);
    EXPECT_EQ(abc->UserType, TAutorunUserType::CurrentUser);
    EXPECT_EQ(abc->RunType, TAutorunRunType::Run);
    EXPECT_EQ(abc->Location, autotest::kUserRun);
    const TAutorunItem *bare = list.GetItem(1);
    EXPECT_EQ(bare->UserType, TAutorunUserType{});
    EXPECT_EQ(bare->RunType, TAutorunRunType{});
    EXPECT_TRUE(bare->Location.isEmpty());
    EXPECT_FALSE(list.Enable(1)); // no place to go back to
    EXPECT_TRUE(Backup().HasSection("R_bare"));

    // Enabling looks for the section of its own prefix; deleting takes the one it came from.
    EXPECT_FALSE(list.Enable(0));
    ASSERT_TRUE(list.Delete(0));
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"bare(off)", "(off)"}));
    EXPECT_TRUE(AutorunEnv::Read(env.BackupFile())->startsWith("; kept comment\n"));
}

TEST_F(Autoruns, UnreadableLinesOfTheBackupHideNothingElseAndAreKept)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/true"));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "file.desktop", AutorunEnv::Entry("/bin/true")));
    QDir().mkpath(QFileInfo(env.BackupFile()).absolutePath());
    const QByteArray damaged = QByteArray("Command=/bin/true ") + QByteArray("\xFF\xFE\x80", 3);
    const QByteArray text = QByteArray("[R_old]\n") + damaged + QByteArray("\nUserType=1\nRunType=2\n");
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(), text));

    // The section is listed with what can be read of it; a command it cannot read is none.
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"file", "agent", "old(off)"}));
    EXPECT_TRUE(list.GetItem(2)->Command.isEmpty());
    EXPECT_EQ(list.GetItem(2)->Location, autotest::kUserRun);
    EXPECT_FALSE(list.Enable(2)); // no program to start
    ASSERT_TRUE(list.Disable(Find("agent")));
    ASSERT_TRUE(list.Disable(Find("file")));
    EXPECT_TRUE(AutorunEnv::RunNames(autotest::kUserRun).isEmpty());
    EXPECT_FALSE(QFile::exists(env.UserDir() + "file.desktop"));
    // The lines it cannot read are written back byte for byte.
    const auto after = AutorunEnv::Read(env.BackupFile());
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->startsWith(text)) << after->constData();
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"old(off)", "agent(off)", "file(off)"}));

    // A backup that is no regular file is refused whole, without blocking.
    ASSERT_TRUE(list.Enable(Find("agent", false)));
    ASSERT_TRUE(QFile::remove(env.BackupFile()));
    ASSERT_TRUE(QDir().mkpath(env.BackupFile()));
    list.Refresh();
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_FALSE(list.Disable(Find("agent")));
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});
}

TEST_F(Autoruns, DamagedOrMissingShortcutDataLeavesTheBackupInPlace)
{
    QDir().mkpath(QFileInfo(env.BackupFile()).absolutePath());
    const QByteArray text = "[S_odd]\nCommand=x\nUserType=1\nRunType=1\nData=4\n"
                            "[S_bad]\nCommand=x\nUserType=1\nRunType=1\nData=4G\n"
                            "[S_none]\nCommand=x\nUserType=1\nRunType=1\n"
                            "[S_../../escape]\nCommand=x\nUserType=1\nRunType=1\nData=41\n"
                            "[S_good]\nCommand=x\nUserType=1\nRunType=1\nData=5B44650A\n";
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(), text));
    list.Refresh();
    ASSERT_EQ(list.GetCount(), 5);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(list.Enable(i)) << i;
        EXPECT_FALSE(list.GetItem(i)->Active);
    }
    EXPECT_EQ(QDir(env.UserDir()).entryList(QDir::Files), QStringList{});
    EXPECT_FALSE(QFile::exists(env.File("home/escape.desktop")));
    EXPECT_FALSE(QFile::exists(env.File("escape.desktop")));
    EXPECT_EQ(AutorunEnv::Read(env.BackupFile()), text);

    // An entry made since under the same name is not overwritten.
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "good.desktop", "mine"));
    EXPECT_FALSE(list.Enable(4));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "good.desktop"), QByteArray("mine"));
    ASSERT_TRUE(QFile::remove(env.UserDir() + "good.desktop"));
    ASSERT_TRUE(list.Enable(4));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "good.desktop"), QByteArray("[De\n"));
    EXPECT_FALSE(Backup().HasSection("S_good"));
}

TEST_F(Autoruns, BackupNeverOverwritesOrMisstoresAName)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "twin", "/bin/true --user"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kMachineRun, "TWIN", "/bin/true --machine"));
    list.Refresh();
    ASSERT_TRUE(list.Disable(0));
    EXPECT_FALSE(list.Disable(1));
    EXPECT_TRUE(list.GetItem(1)->Active);
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kMachineRun), QStringList{"TWIN"});
    EXPECT_EQ(Backup().Value("R_twin", "Command"), QStringLiteral("/bin/true --user"));

    // Enabling refuses to replace a value that has come back meanwhile.
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "Twin", "/bin/true --new"));
    EXPECT_FALSE(list.Enable(0));
    QString cmd;
    ReadRegistryString(autotest::kUserRun, "twin", cmd);
    EXPECT_EQ(cmd, QStringLiteral("/bin/true --new"));
    EXPECT_TRUE(Backup().HasSection("R_twin"));

    // Names that would not read back from the backup as written stay where they are.
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "a]b", "/bin/true"));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "trail ", "/bin/true"));
    list.Refresh();
    EXPECT_FALSE(list.Disable(Find("a]b")));
    EXPECT_FALSE(list.Disable(Find("trail ")));
    EXPECT_EQ(Backup().SectionNames(), QStringList{"R_twin"});
}

TEST_F(Autoruns, DisableThatCannotCompleteLeavesEverythingInPlace)
{
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "/bin/true"));
    // A file stands where the directory would go.
    ASSERT_TRUE(AutorunEnv::Write(env.File("blocker"), "x"));
    list.SetBackupFile(env.File("blocker/Backup/autoruns.dat"));
    list.Refresh();
    EXPECT_FALSE(list.Disable(0));
    EXPECT_TRUE(list.GetItem(0)->Active);
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});
    EXPECT_FALSE(QFile::exists(env.File("blocker/Backup")));

    // A desktop entry too large to be one is not copied, and no half section stays.
    list.SetBackupFile(env.BackupFile());
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "big.desktop", QByteArray(2 * 1024 * 1024, 'x')));
    list.Refresh();
    EXPECT_FALSE(list.Disable(Find("big")));
    EXPECT_TRUE(QFile::exists(env.UserDir() + "big.desktop"));
    EXPECT_TRUE(!QFile::exists(env.BackupFile()) || Backup().SectionNames().isEmpty());
}

} // namespace
