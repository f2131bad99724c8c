#include "sysinfo/FileProperties.h"

#include "platform/files/Dpkg.h"
#include "platform/files/MimeInfo.h"
#include "platform/files/SystemImageList.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void WriteFile(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(Data), Data.size());
}

qint64 AllocatedBytes(const QString &Path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(Path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_blocks) * 512;
}

bool IsCleared(const TFileProperties &P)
{
    const TGeneralInfo &g = *P.GeneralInfo();
    const TVersionInfo &v = *P.VersionInfo();
    const TShortcutInfo &s = *P.ShortcutInfo();
    return P.FilePath().isEmpty() && g.FileName.isEmpty() && g.Directory.isEmpty() && g.TypeName.isEmpty() &&
        g.Size == 0 && g.SizeOnDisk == 0 && g.LastWriteTime.WYear == 0 && g.Icon.isEmpty() && g.IconIndex == -1 &&
        !g.Hidden && v.ProductName.isEmpty() && v.FileVersion.isEmpty() && !s.IsShortcut && s.Target.isEmpty() &&
        s.CommandLine.isEmpty() && s.IconIndex == -1 && s.ShowCmd == 1;
}

} // namespace

TEST(FilePropertiesTest, SizesAreTheRealAllocation)
{
    tvtest::TempDir dir;
    TFileProperties props(nullptr);

    const QString empty = dir.file(QStringLiteral("empty.txt"));
    WriteFile(empty, QByteArray());
    ASSERT_TRUE(props.LoadFromFile(empty));
    EXPECT_EQ(props.GeneralInfo()->Size, 0);
    EXPECT_EQ(props.GeneralInfo()->SizeOnDisk, AllocatedBytes(empty));

    const QString block = dir.file(QStringLiteral("block.bin"));
    WriteFile(block, QByteArray(4096, 'x'));
    ASSERT_TRUE(props.LoadFromFile(block));
    EXPECT_EQ(props.GeneralInfo()->Size, 4096);
    EXPECT_EQ(props.GeneralInfo()->SizeOnDisk, AllocatedBytes(block));
    EXPECT_GE(props.GeneralInfo()->SizeOnDisk, 4096); // not one block more than needed
    EXPECT_LT(props.GeneralInfo()->SizeOnDisk, 2 * 4096 + 1);

    // A sparse file past 4 GiB: its full 64-bit size, and only the blocks it really uses.
    const QString sparse = dir.file(QStringLiteral("sparse.bin"));
    {
        QFile f(sparse);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(5) << 30));
    }
    ASSERT_TRUE(props.LoadFromFile(sparse));
    EXPECT_EQ(props.GeneralInfo()->Size, qint64(5) << 30);
    EXPECT_EQ(props.GeneralInfo()->SizeOnDisk, AllocatedBytes(sparse));
    EXPECT_LT(props.GeneralInfo()->SizeOnDisk, qint64(1) << 20);
}

TEST(FilePropertiesTest, NamesTimesAttributesAndType)
{
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral(".hidden notes.txt"));
    WriteFile(path, "plain text\n");
    const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7), QTimeZone::systemTimeZone());
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
        ASSERT_TRUE(f.setFileTime(when.addDays(1), QFileDevice::FileAccessTime));
    }
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);

    TFileProperties props(nullptr);
    ASSERT_TRUE(props.LoadFromFile(path));
    const TGeneralInfo &g = *props.GeneralInfo();
    EXPECT_EQ(props.FilePath(), path);
    EXPECT_EQ(g.Directory, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(g.FileName, QStringLiteral(".hidden notes.txt"));
    EXPECT_TRUE(g.Hidden);
    EXPECT_TRUE(g.ReadOnly);
    EXPECT_FALSE(g.System);
    EXPECT_EQ(g.LastWriteTime.WYear, 2021);
    EXPECT_EQ(g.LastWriteTime.WMonth, 3);
    EXPECT_EQ(g.LastWriteTime.WDay, 4);
    EXPECT_EQ(g.LastWriteTime.WHour, 5);
    EXPECT_EQ(g.LastWriteTime.WMinute, 6);
    EXPECT_EQ(g.LastWriteTime.WSecond, 7);
    EXPECT_EQ(g.LastAccessTime.WDay, 5);
    EXPECT_EQ(g.Icon, QStringLiteral("text-plain"));
    EXPECT_FALSE(g.TypeName.isEmpty());
    ASSERT_GE(g.IconIndex, 0);
    EXPECT_EQ(platform::files::SystemImageName(g.IconIndex), g.Icon);
    // The same kind of file shares the index.
    const QString other = dir.file(QStringLiteral("other.txt"));
    WriteFile(other, "more\n");
    const int index = g.IconIndex;
    ASSERT_TRUE(props.LoadFromFile(other));
    EXPECT_EQ(props.GeneralInfo()->IconIndex, index);
    EXPECT_FALSE(props.GeneralInfo()->Hidden);
    EXPECT_FALSE(props.GeneralInfo()->ReadOnly);
    // A plain file has no version texts and is no shortcut.
    EXPECT_TRUE(props.VersionInfo()->FileVersion.isEmpty());
    EXPECT_FALSE(props.ShortcutInfo()->IsShortcut);
}

TEST(FilePropertiesTest, MissingFileAndDirectoryLeaveEverythingCleared)
{
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral("a.desktop"));
    WriteFile(path, "[Desktop Entry]\nExec=/bin/true\n");
    TFileProperties props(nullptr);
    ASSERT_TRUE(props.LoadFromFile(path));
    ASSERT_TRUE(props.ShortcutInfo()->IsShortcut);

    EXPECT_FALSE(props.LoadFromFile(dir.file(QStringLiteral("missing"))));
    EXPECT_TRUE(IsCleared(props));
    EXPECT_FALSE(props.LoadFromFile(dir.path()));
    EXPECT_TRUE(IsCleared(props));

    TFileProperties fresh(nullptr);
    EXPECT_TRUE(IsCleared(fresh));
    fresh.Clear();
    EXPECT_TRUE(IsCleared(fresh));
}

TEST(FilePropertiesTest, SpecialFileIsDescribedWithoutBeingOpened)
{
    tvtest::TempDir dir;
    const QString fifo = dir.file(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(fifo).constData(), IN_OPEN | IN_ACCESS), 0);
    TFileProperties props(nullptr);
    ASSERT_TRUE(props.LoadFromFile(fifo));
    EXPECT_TRUE(props.GeneralInfo()->System);
    EXPECT_EQ(props.GeneralInfo()->Icon, platform::files::MimeInfoForKind(platform::files::FileKind::Fifo).IconName);
    EXPECT_FALSE(props.ShortcutInfo()->IsShortcut);
    char events[4096];
    EXPECT_LE(::read(watch, events, sizeof events), 0) << "the pipe was opened";
    ::close(watch);
}

TEST(FilePropertiesTest, DesktopEntryIsAShortcut)
{
    tvtest::TempDir dir;
    TFileProperties props(nullptr);

    const QString plain = dir.file(QStringLiteral("editor.desktop"));
    WriteFile(plain,
              "# comment first\n\n[Desktop Entry]\nType=Application\nName=Editor\n"
              "Exec=/usr/bin/editor %F\nPath=/srv/work\nComment=Edits text\nIcon=accessories-text-editor\n"
              "[Desktop Action new]\nExec=/usr/bin/other\n");
    ASSERT_TRUE(props.LoadFromFile(plain));
    const TShortcutInfo &s = *props.ShortcutInfo();
    EXPECT_TRUE(s.IsShortcut);
    EXPECT_EQ(s.Target, QStringLiteral("/usr/bin/editor"));
    EXPECT_TRUE(s.Arguments.isEmpty());
    EXPECT_EQ(s.CommandLine, s.Target); // no quotes without arguments
    EXPECT_EQ(s.WorkingDirectory, QStringLiteral("/srv/work"));
    EXPECT_EQ(s.Description, QStringLiteral("Edits text"));
    EXPECT_EQ(s.IconLocation, QStringLiteral("accessories-text-editor"));
    EXPECT_EQ(s.ShowCmd, 1);

    const QString quoted = dir.file(QStringLiteral("tool.desktop"));
    WriteFile(quoted, "[Desktop Entry]\nExec=\"/opt/my tool/run\" --name \"a b\" 100%% %u\n");
    ASSERT_TRUE(props.LoadFromFile(quoted));
    EXPECT_EQ(s.Target, QStringLiteral("/opt/my tool/run"));
    EXPECT_EQ(s.Arguments, QStringLiteral("--name \"a b\" 100%"));
    EXPECT_EQ(s.CommandLine, QStringLiteral("\"/opt/my tool/run\" --name \"a b\" 100%"));
    EXPECT_TRUE(s.WorkingDirectory.isEmpty());

    // Not a desktop entry: another first group, keys before any group, an open quote.
    const struct
    {
        const char *name;
        const char *text;
    } refused[] = {
        {"other.desktop", "[Desktop Action x]\nExec=/bin/true\n[Desktop Entry]\nExec=/bin/false\n"},
        {"nogroup.desktop", "Exec=/bin/true\n[Desktop Entry]\n"},
        {"empty.desktop", ""},
    };
    for (const auto &r : refused) {
        const QString path = dir.file(QString::fromLatin1(r.name));
        WriteFile(path, r.text);
        ASSERT_TRUE(props.LoadFromFile(path));
        EXPECT_FALSE(s.IsShortcut) << r.name;
        EXPECT_TRUE(s.Target.isEmpty()) << r.name;
    }
    const QString open = dir.file(QStringLiteral("open.desktop"));
    WriteFile(open, "[Desktop Entry]\nExec=\"/bin/true\n");
    ASSERT_TRUE(props.LoadFromFile(open));
    EXPECT_TRUE(s.IsShortcut);
    EXPECT_TRUE(s.Target.isEmpty());
}

TEST(FilePropertiesTest, PackagedFileTakesItsVersionTextsFromThePackageDatabase)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("db/info"))));
    const QString tool = dir.file(QStringLiteral("tool"));
    WriteFile(tool,
              "\x7f"
              "ELF");
    WriteFile(dir.file(QStringLiteral("db/info/demo-tools:amd64.list")),
              QStringLiteral("/.\n%1\n%2\n").arg(dir.path(), tool).toUtf8());
    WriteFile(dir.file(QStringLiteral("db/info/gone.list")), QStringLiteral("%1/gone\n").arg(dir.path()).toUtf8());
    WriteFile(dir.file(QStringLiteral("db/status")),
              "Package: gone\nStatus: deinstall ok config-files\nVersion: 0.1\n\n"
              "Package: demo-tools\nStatus: install ok installed\nMaintainer: Jane Doe <jane@example.org>\n"
              "Version: 2.4-1\nDescription: demonstration tools\n second line of the description\n .\n");
    WriteFile(dir.file(QStringLiteral("gone")), "x");
    platform::files::SetDpkgDatabaseDir(dir.file(QStringLiteral("db")));

    TFileProperties props(nullptr);
    ASSERT_TRUE(props.LoadFromFile(tool));
    const TVersionInfo &v = *props.VersionInfo();
    EXPECT_EQ(v.ProductName, QStringLiteral("demo-tools"));
    EXPECT_EQ(v.FileVersion, QStringLiteral("2.4-1"));
    EXPECT_EQ(v.ProductVersion, QStringLiteral("2.4-1"));
    EXPECT_EQ(v.CompanyName, QStringLiteral("Jane Doe <jane@example.org>"));
    EXPECT_EQ(v.FileDescription, QStringLiteral("demonstration tools"));
    EXPECT_EQ(v.InternalName, QStringLiteral("tool"));
    EXPECT_EQ(v.OriginalFilename, QStringLiteral("tool"));
    EXPECT_TRUE(v.Comments.isEmpty());
    EXPECT_TRUE(v.LegalCopyright.isEmpty());

    // Listed, but the package is no longer installed: no texts.
    ASSERT_TRUE(props.LoadFromFile(dir.file(QStringLiteral("gone"))));
    EXPECT_TRUE(props.VersionInfo()->ProductName.isEmpty());
    EXPECT_EQ(platform::files::OwningPackage(dir.file(QStringLiteral("gone"))), QStringLiteral("gone"));
    EXPECT_FALSE(platform::files::FindPackageInfo(QStringLiteral("gone")).has_value());
    EXPECT_FALSE(platform::files::OwningPackage(dir.file(QStringLiteral("unlisted"))).has_value());
    // A missing database is simply empty.
    platform::files::SetDpkgDatabaseDir(dir.file(QStringLiteral("nowhere")));
    EXPECT_FALSE(platform::files::OwningPackage(tool).has_value());
    platform::files::SetDpkgDatabaseDir(QString());
}

TEST(FilePropertiesTest, SystemPackageFile)
{
    platform::files::SetDpkgDatabaseDir(QString());
    const QString ls = QStringLiteral("/bin/ls");
    if (!QFileInfo::exists(ls) || !QFileInfo::exists(QStringLiteral("/var/lib/dpkg/status")))
        GTEST_SKIP() << "no Debian package database here";
    TFileProperties props(nullptr);
    ASSERT_TRUE(props.LoadFromFile(ls));
    EXPECT_EQ(props.VersionInfo()->ProductName, QStringLiteral("coreutils"));
    EXPECT_FALSE(props.VersionInfo()->FileVersion.isEmpty());
    EXPECT_EQ(props.VersionInfo()->OriginalFilename, QStringLiteral("ls"));
    EXPECT_GT(props.GeneralInfo()->Size, 0);
    // Through the merged-/usr alias as a process's image path shows it.
    const QString canonical = QFileInfo(ls).canonicalFilePath();
    EXPECT_EQ(platform::files::OwningPackage(canonical), QStringLiteral("coreutils"));
}
