// What counts as an autorun in the autostart folders, and entries written to break the list:
// NUL and control characters, huge lines, FIFOs and links that lead out of the folder.

#include "sysinfo_autoruns/AutorunEnv.h"

#include "platform/files/IniFile.h"
#include "sysinfo/Autoruns.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using autotest::AutorunEnv;

class EntryRules : public ::testing::Test
{
protected:
    void SetUp() override { list.SetBackupFile(env.BackupFile()); }

    int Find(const QString &Name, bool Active = true) const
    {
        for (int i = 0; i < list.GetCount(); ++i)
            if (list.GetItem(i)->Name == Name && list.GetItem(i)->Active == Active)
                return i;
        return -1;
    }
    QStringList Names() const
    {
        QStringList out;
        for (int i = 0; i < list.GetCount(); ++i)
            out << list.GetItem(i)->Name + (list.GetItem(i)->Active ? QString() : QStringLiteral("(off)"));
        return out;
    }
    static QByteArray EntryWith(const QByteArray &Lines)
    {
        return QByteArray("[Desktop Entry]\nType=Application\nName=x\n") + Lines + '\n';
    }
    static QString Hex(const QByteArray &Bytes) { return QString::fromLatin1(Bytes.toHex().toUpper()); }

    AutorunEnv env;
    TAutoruns list;
};

TEST_F(EntryRules, OnlyDesktopEntriesOfTheFoldersAreAutoruns)
{
    const QByteArray entry = AutorunEnv::Entry("/bin/true");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "tool.desktop", entry));
    // An editor's backup, a note, the temporary file of an interrupted write, a file without
    // a name before its extension.
    for (const char *other : {"tool.desktop~", "notes.txt", "tool.desktop.Ab12Cd", "README", ".desktop", "x.DESKTOP"})
        ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + other, entry)) << other;
    list.Refresh();
    EXPECT_EQ(Names(), QStringList{"tool"});
}

TEST_F(EntryRules, HiddenEntriesCountAsDeletedAndUserEntriesHideAllUsersOnes)
{
    ASSERT_TRUE(AutorunEnv::Write(env.AllUsersDir() + "shared.desktop", AutorunEnv::Entry("/bin/true --all")));
    ASSERT_TRUE(AutorunEnv::Write(env.AllUsersDir() + "off.desktop", AutorunEnv::Entry("/bin/true --all")));
    ASSERT_TRUE(AutorunEnv::Write(env.AllUsersDir() + "plain.desktop", AutorunEnv::Entry("/bin/true --all")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "shared.desktop", AutorunEnv::Entry("/bin/true --user")));
    // The desktop's way to turn an all-users entry off for one user.
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "off.desktop", EntryWith("Hidden=true")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "gone.desktop", EntryWith("Exec=/bin/true\nHidden=true")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "shown.desktop", EntryWith("Exec=/bin/true\nHidden=false")));
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"shared", "shown", "plain"}));
    const TAutorunItem *shared = list.GetItem(Find("shared"));
    EXPECT_EQ(shared->UserType, TAutorunUserType::CurrentUser);
    EXPECT_EQ(shared->Command, QStringLiteral("\"/bin/true\" --user"));
    EXPECT_EQ(list.GetItem(Find("plain"))->UserType, TAutorunUserType::AllUsers);
}

TEST_F(EntryRules, ProgramsNamedWithoutADirectoryAreLookedUpOnThePath)
{
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "bare.desktop", EntryWith("Exec=sh -c true")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "nowhere.desktop", EntryWith("Exec=taskvane-no-such-program -x")));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", "sh -c true"));
    list.Refresh();
    EXPECT_FALSE(list.GetItem(Find("bare"))->FileMissing);
    EXPECT_TRUE(list.GetItem(Find("nowhere"))->FileMissing);
    EXPECT_FALSE(list.GetItem(Find("agent"))->FileMissing);

    // A value whose program is found on the path can be put back.
    ASSERT_TRUE(list.Disable(Find("agent")));
    list.Refresh();
    EXPECT_FALSE(list.GetItem(Find("agent", false))->FileMissing);
    ASSERT_TRUE(list.Enable(Find("agent", false)));
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList{"agent"});
}

TEST_F(EntryRules, ProgramsAreNeverLookedUpInTheWorkingFolder)
{
    // The working folder holds programs of the names the entries use, and the search path names it
    // (an empty entry, "." and a relative folder): the session would find none of them.
    const QString name = QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    const QString cwd = env.File(QStringLiteral("cwd"));
    ASSERT_TRUE(QDir().mkpath(cwd + QStringLiteral("/bin")));
    for (const QString &program : {cwd + QLatin1Char('/') + name, cwd + QStringLiteral("/bin/") + name}) {
        ASSERT_TRUE(AutorunEnv::Write(program, "#!/bin/sh\n"));
        ASSERT_EQ(::chmod(QFile::encodeName(program).constData(), 0755), 0);
    }
    autotest::ScopedEnv path("PATH", QStringLiteral(".::bin:/usr/bin:/bin"));
    struct WorkingFolder
    {
        QString Old = QDir::currentPath();
        ~WorkingFolder() { QDir::setCurrent(Old); }
    } restore;
    ASSERT_TRUE(QDir::setCurrent(cwd));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "bare.desktop", EntryWith("Exec=" + name.toUtf8() + " -x")));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "dot.desktop", EntryWith("Exec=./" + name.toUtf8())));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "sub.desktop", EntryWith("Exec=bin/" + name.toUtf8())));
    ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, "agent", name + QStringLiteral(" --x")));
    list.Refresh();
    for (const char *entry : {"bare", "dot", "sub", "agent"})
        EXPECT_TRUE(list.GetItem(Find(entry))->FileMissing) << entry;
    // A value whose program is found nowhere cannot be put back.
    ASSERT_TRUE(list.Disable(Find("agent")));
    list.Refresh();
    EXPECT_FALSE(list.Enable(Find("agent", false)));
    EXPECT_EQ(AutorunEnv::RunNames(autotest::kUserRun), QStringList());
}

TEST_F(EntryRules, AnEntryTheBackupCannotHoldIsRefusedBeforeAnythingChanges)
{
    const QByteArray one = AutorunEnv::Entry("/bin/true --one");
    const QByteArray nul = EntryWith(QByteArray("Exec=/bin/true a\0b", 18));
    const QByteArray cr = EntryWith("Exec=/bin/true a\\rb");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "one.desktop", one));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "nul.desktop", nul));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "cr.desktop", cr));
    list.Refresh();
    ASSERT_TRUE(list.GetItem(Find("nul"))->Command.contains(QChar(0)));
    ASSERT_TRUE(list.Disable(Find("one")));
    const auto backup = AutorunEnv::Read(env.BackupFile());

    EXPECT_FALSE(list.Disable(Find("nul")));
    EXPECT_FALSE(list.Disable(Find("cr")));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "nul.desktop"), nul);
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "cr.desktop"), cr);
    EXPECT_EQ(AutorunEnv::Read(env.BackupFile()), backup);

    // Nothing else went: the first entry is listed and comes back whole.
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"cr", "nul", "one(off)"}));
    ASSERT_TRUE(list.Enable(Find("one", false)));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "one.desktop"), one);
}

TEST_F(EntryRules, ABackupWithAnUnreadableEntryStillListsAndRestoresTheOthers)
{
    // As an earlier version wrote it: a NUL byte in one command, and one section whose name
    // cannot be read at all.
    const QByteArray good = AutorunEnv::Entry("/bin/true --good");
    const QByteArray nul = EntryWith(QByteArray("Exec=/bin/true a\0b", 18));
    const QByteArray unreadable =
        QByteArray("[R_") + '\0' + QByteArray("bad]\nCommand=/bin/true\nUserType=1\nRunType=2\n");
    const QByteArray text =
        "[S_good]\nCommand=\"/bin/true\" --good\nUserType=1\nRunType=1\nData=" + Hex(good).toLatin1() +
        "\n[S_nul]\nCommand=\"/bin/true\" a" + QByteArray(1, '\0') +
        "b\nUserType=1\nRunType=1\nData=" + Hex(nul).toLatin1() + "\n" + unreadable +
        "[R_after]\nCommand=/bin/true --after\nUserType=1\nRunType=2\n";
    QDir().mkpath(QFileInfo(env.BackupFile()).absolutePath());
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(), text));

    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"good(off)", "nul(off)", "after(off)"}));
    // The entry comes back from its copy, byte for byte, whatever its command line holds.
    ASSERT_TRUE(list.Enable(Find("nul", false)));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "nul.desktop"), nul);
    ASSERT_TRUE(list.Enable(Find("good", false)));
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "good.desktop"), good);
    ASSERT_TRUE(list.Enable(Find("after", false)));
    QString command;
    ReadRegistryString(autotest::kUserRun, "after", command);
    EXPECT_EQ(command, QStringLiteral("/bin/true --after"));
    // What cannot be read is kept as it was.
    EXPECT_EQ(AutorunEnv::Read(env.BackupFile()), unreadable);
}

TEST_F(EntryRules, HostileFolderEntriesNeitherBlockNorLeadOut)
{
    // A FIFO, links to a device, to a FIFO and to nothing: never opened, never listed.
    ASSERT_EQ(::mkfifo(QFile::encodeName(env.UserDir() + "fifo.desktop").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(env.File("outside-fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", env.UserDir() + "zero.desktop"));
    ASSERT_TRUE(QFile::link(env.File("outside-fifo"), env.UserDir() + "pipe.desktop"));
    ASSERT_TRUE(QFile::link(env.File("nothing"), env.UserDir() + "dangling.desktop"));
    // A link to an entry elsewhere: the entry in force; what it leads to is never changed.
    const QByteArray real = AutorunEnv::Entry("/bin/true --linked");
    ASSERT_TRUE(QDir().mkpath(env.File("elsewhere")));
    ASSERT_TRUE(AutorunEnv::Write(env.File("elsewhere/real.desktop"), real));
    ASSERT_TRUE(QFile::link(env.File("elsewhere/real.desktop"), env.UserDir() + "out.desktop"));
    // Control characters in a name and in a command, and one line near the size limit.
    const QByteArray ctl = AutorunEnv::Entry("/bin/true \x01\x1B[31m\x7F");
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "ctl\x02.desktop", ctl));
    const QByteArray huge = AutorunEnv::Entry("/bin/true " + QString(900 * 1024, QLatin1Char('y')));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "huge.desktop", huge));

    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"ctl\x02", "huge", "out"}));
    EXPECT_EQ(list.GetItem(Find("huge"))->Command.size(), 12 + 900 * 1024);

    ASSERT_TRUE(list.Disable(Find("out")));
    EXPECT_FALSE(QFileInfo(env.UserDir() + "out.desktop").exists());
    EXPECT_FALSE(QFileInfo(env.UserDir() + "out.desktop").isSymLink());
    ASSERT_TRUE(list.Disable(Find("ctl\x02")));
    ASSERT_TRUE(list.Disable(Find("huge")));
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"out(off)", "ctl\x02(off)", "huge(off)"}));
    for (const QString &name : {QStringLiteral("out"), QStringLiteral("ctl\x02"), QStringLiteral("huge")})
        ASSERT_TRUE(list.Enable(Find(name, false))) << name.toStdString();
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "out.desktop"), real);
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "ctl\x02.desktop"), ctl);
    EXPECT_EQ(AutorunEnv::Read(env.UserDir() + "huge.desktop"), huge);
    EXPECT_EQ(AutorunEnv::Read(env.File("elsewhere/real.desktop")), real);

    // Deleting a link removes the link only.
    ASSERT_TRUE(QFile::remove(env.UserDir() + "out.desktop"));
    ASSERT_TRUE(QFile::link(env.File("elsewhere/real.desktop"), env.UserDir() + "out.desktop"));
    list.Refresh();
    ASSERT_TRUE(list.Delete(Find("out")));
    EXPECT_FALSE(QFileInfo(env.UserDir() + "out.desktop").isSymLink());
    EXPECT_EQ(AutorunEnv::Read(env.File("elsewhere/real.desktop")), real);

    // A FIFO in place of the backup: nothing blocks, nothing is written through it.
    ASSERT_TRUE(QFile::remove(env.BackupFile()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(env.BackupFile()).constData(), 0600), 0);
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"ctl\x02", "huge"}));
    EXPECT_FALSE(list.Disable(Find("huge")));
    EXPECT_TRUE(QFile::exists(env.UserDir() + "huge.desktop"));
}

TEST_F(EntryRules, TheBackupNeverGrowsPastWhatCanBeReadBack)
{
    // A backup 2 MB short of the size a backup may have, and an entry near the size limit of a
    // desktop entry, which takes almost 3 MB of backup (the command, and the file as hexadecimal
    // text): it is refused rather than make the whole backup unreadable; a small one still fits.
    QDir().mkpath(QFileInfo(env.BackupFile()).absolutePath());
    const QByteArray filler = "[R_filler]\nCommand=/bin/true " +
        QByteArray(int(platform::files::IniFile::kMaxFileSize) - 2 * 1024 * 1024, 'z') + "\nUserType=1\nRunType=2\n";
    ASSERT_TRUE(AutorunEnv::Write(env.BackupFile(), filler));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "big.desktop",
                                  AutorunEnv::Entry("/bin/true " + QString(900 * 1024, QLatin1Char('y')))));
    ASSERT_TRUE(AutorunEnv::Write(env.UserDir() + "small.desktop", AutorunEnv::Entry("/bin/true")));
    list.Refresh();
    EXPECT_FALSE(list.Disable(Find("big")));
    EXPECT_TRUE(QFile::exists(env.UserDir() + "big.desktop"));
    EXPECT_EQ(AutorunEnv::Read(env.BackupFile()), filler);
    EXPECT_TRUE(list.Disable(Find("small")));
    list.Refresh();
    EXPECT_EQ(Names(), (QStringList{"big", "filler(off)", "small(off)"}));
}

} // namespace
