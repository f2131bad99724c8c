#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "sysinfo/Processes.h"
#include "sysinfo/Utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString part(const QString &text, quint8 p)
{
    QString r;
    ParseCommandLine(text, p, r);
    return r;
}

// Points the key store at a private directory for the test's lifetime.
class RegistryDir
{
public:
    RegistryDir() : m_old(qgetenv("TASKVANE_REGISTRY_DIR"))
    {
        qputenv("TASKVANE_REGISTRY_DIR", m_dir.path().toLocal8Bit());
    }
    ~RegistryDir() { qputenv("TASKVANE_REGISTRY_DIR", m_old); }
    QString file(const QString &name) const { return m_dir.file(name); }

private:
    QByteArray m_old;
    tvtest::TempDir m_dir;
};

} // namespace

TEST(ParseCommandLine, QuotedPathKeepsTheArgumentsBlanks)
{
    const QString text = QStringLiteral("\"C:\\Program Files\\A\\a.exe\" -x  y");
    EXPECT_EQ(part(text, 0), QStringLiteral("C:\\Program Files\\A\\a.exe"));
    EXPECT_EQ(part(text, 6), QStringLiteral("-x  y"));
}

TEST(ParseCommandLine, UnquotedWindowsPathWithBlanksInDirectories)
{
    const QString text = QStringLiteral("C:\\Program Files\\A\\a.exe -x");
    EXPECT_EQ(part(text, 0), QStringLiteral("C:\\Program Files\\A\\a.exe"));
    EXPECT_EQ(part(text, 6), QStringLiteral("-x"));
    EXPECT_EQ(part(text, 4), QStringLiteral("a"));
    EXPECT_EQ(part(text, 5), QStringLiteral("exe"));
    EXPECT_EQ(part(text, 3), QStringLiteral("a.exe"));
    EXPECT_EQ(part(text, 2), QStringLiteral("C:\\Program Files\\A\\"));
    EXPECT_EQ(part(text, 1), QStringLiteral("C"));
}

TEST(ParseCommandLine, BackslashInArgumentsMakesEverythingThePath)
{
    const QString text = QStringLiteral("C:\\a.exe /f C:\\b.txt");
    EXPECT_EQ(part(text, 0), text);
    EXPECT_EQ(part(text, 6), QString());
}

TEST(ParseCommandLine, LinuxPathEndsAtTheFirstBlank)
{
    const QString text = QStringLiteral("/usr/bin/foo --conf /etc/foo.conf");
    EXPECT_EQ(part(text, 0), QStringLiteral("/usr/bin/foo"));
    EXPECT_EQ(part(text, 6), QStringLiteral("--conf /etc/foo.conf"));
    EXPECT_EQ(part(text, 2), QStringLiteral("/usr/bin/"));
    EXPECT_EQ(part(text, 3), QStringLiteral("foo"));
    EXPECT_EQ(part(text, 1), QString());
    EXPECT_EQ(part(QStringLiteral("\"/opt/my app/run.sh\" a"), 4), QStringLiteral("run"));
}

TEST(ParseCommandLine, BareNamesQuotesAndLimits)
{
    EXPECT_EQ(part(QStringLiteral("notepad.exe"), 2), QStringLiteral("/"));
    EXPECT_EQ(part(QStringLiteral("notepad.exe"), 1), QString());
    EXPECT_EQ(part(QStringLiteral("a\\notepad.exe"), 2), QStringLiteral("a\\"));
    // Blanks before a quote make the text unquoted.
    EXPECT_EQ(part(QStringLiteral("  \"/x y\" z"), 0), QString());
    // An opening quote without a closing one.
    EXPECT_EQ(part(QStringLiteral("\"/opt/x -a "), 0), QString());
    EXPECT_EQ(part(QStringLiteral("\"/opt/x -a "), 6), QStringLiteral("/opt/x -a"));
    EXPECT_EQ(part(QStringLiteral("   "), 0), QString());
    EXPECT_EQ(part(QStringLiteral("/bin/ls -l"), 7), QString());
    EXPECT_EQ(part(QStringLiteral("/bin/ls"), 5), QString());
}

TEST(FileNames, ExtractFileNameNoExtAndSystemDir)
{
    QString name;
    ExtractFileNameNoExt(QStringLiteral("/home/u/archive.tar.gz"), name);
    EXPECT_EQ(name, QStringLiteral("archive.tar"));
    ExtractFileNameNoExt(QStringLiteral("C:\\x\\a.exe"), name);
    EXPECT_EQ(name, QStringLiteral("a"));
    QString dir;
    GetSystemDir(dir);
    EXPECT_TRUE(dir.endsWith(QLatin1Char('/')));
    GetAppPath(dir);
    EXPECT_TRUE(dir.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(dir).isDir());
}

TEST(FileNames, NormalizePathReplacements)
{
    QString sys;
    GetSystemDir(sys);
    EXPECT_EQ(NormalizePath(QStringLiteral("\\SystemRoot\\System32\\smss.exe")), sys + QStringLiteral("smss.exe"));
    EXPECT_EQ(NormalizePath(QStringLiteral("\\??\\C:\\WINDOWS\\system32\\csrss.exe")),
              QStringLiteral("C:\\WINDOWS\\system32\\csrss.exe"));
    EXPECT_EQ(NormalizePath(QStringLiteral("c:\\PROGRAM FILES\\y c:\\z")),
              QStringLiteral("C:\\Program Files\\y C:\\z"));
    EXPECT_EQ(NormalizePath(QStringLiteral("\\systemroot\\System32\\a \\??\\b")), sys + QStringLiteral("a b"));
    // On Linux these are ordinary characters: a text that does not start in a Windows form
    // comes back as it is, whatever it holds further on.
    for (const char *plain : {"/usr/bin/bash", "x c:\\PROGRAM FILES\\y", "/tmp/x\\??\\y", "/bin/prog \\??\\C:\\x",
                              "\\?\\C:\\x", "1:\\x", "c:/x", " \\??\\C:\\x", "\\SystemRoot", ""}) {
        const QString text = QString::fromUtf8(plain);
        EXPECT_EQ(NormalizePath(text), text) << plain;
    }
}

TEST(ListFiles, ListsFilesOnlyAppendsAndExcludes)
{
    tvtest::TempDir tmp;
    QFile(tmp.file(QStringLiteral("a.txt"))).open(QIODevice::WriteOnly);
    QFile(tmp.file(QStringLiteral(".hidden"))).open(QIODevice::WriteOnly);
    QFile(tmp.file(QStringLiteral("Skip.ME"))).open(QIODevice::WriteOnly);
    QDir(tmp.path()).mkdir(QStringLiteral("sub"));
    QDir(tmp.path()).mkdir(QStringLiteral(".hiddendir"));
    QFile::setPermissions(tmp.file(QStringLiteral("sub")), QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    QStringList list{QStringLiteral("already")};
    const QStringList exclude{QStringLiteral("skip.me")};
    EXPECT_EQ(ListFiles(list, tmp.path(), QStringLiteral("*.*"), &exclude), 3);
    EXPECT_TRUE(list.contains(tmp.path() + QStringLiteral("/a.txt")));
    EXPECT_TRUE(list.contains(tmp.path() + QStringLiteral("/.hidden")));
    EXPECT_FALSE(list.contains(tmp.path() + QStringLiteral("/sub")));

    QStringList two;
    EXPECT_EQ(ListFiles(two, tmp.path() + QLatin1Char('/'), QStringLiteral("*.txt"), nullptr), 1);
    EXPECT_EQ(two.first(), tmp.path() + QStringLiteral("/a.txt"));
    EXPECT_EQ(ListFiles(two, tmp.file(QStringLiteral("none")), QStringLiteral("*"), nullptr), 0);
    EXPECT_EQ(ListFiles(two, tmp.path(), QStringLiteral("*.none"), nullptr), 0);
}

TEST(FileVersion, OwnProgramOnly)
{
    QString v;
    GetFileVersion(QString(), v);
    EXPECT_EQ(v,
              QString::asprintf("%d.%d.%d.%d", TASKVANE_VERSION_MAJOR, TASKVANE_VERSION_MINOR, TASKVANE_VERSION_PATCH,
                                TASKVANE_VERSION_TWEAK));
    GetFileVersion(QStringLiteral("/bin/sh"), v);
    EXPECT_TRUE(v.isEmpty());
    GetFileVersion(QStringLiteral("/no/such/file"), v);
    EXPECT_TRUE(v.isEmpty());
}

TEST(TimeSpan, DaysHoursAndSign)
{
    SYSTEMTIME a, b, span;
    a.WYear = 2024, a.WMonth = 2, a.WDay = 28, a.WHour = 8;
    b = a;
    b.WDay = 29, b.WHour = 9, b.WMinute = 30, b.WSecond = 15;
    EXPECT_EQ(GetTimeSpan(a, b, span), 1);
    EXPECT_EQ(span.WDay, 1);
    EXPECT_EQ(span.WHour, 1);
    EXPECT_EQ(span.WMinute, 30);
    EXPECT_EQ(span.WSecond, 15);
    EXPECT_EQ(span.WYear, 0);
    EXPECT_EQ(span.WMonth, 0);
    EXPECT_EQ(GetTimeSpan(b, a, span), -1);
    EXPECT_EQ(span.WDay, 1);
    EXPECT_EQ(span.WHour, 1);
    EXPECT_EQ(GetTimeSpan(a, a, span), 0);

    const FILETIME f1 = FileTimeFromUnix(1700000000, 0);
    const FILETIME f2 = FileTimeFromUnix(1700000000 + 3 * 86400 + 3661, 0);
    EXPECT_EQ(GetFileTimeSpan(f1, f2, span), 1);
    EXPECT_EQ(span.WDay, 3);
    EXPECT_EQ(span.WHour, 1);
    EXPECT_EQ(span.WMinute, 1);
    EXPECT_EQ(span.WSecond, 1);
}

TEST(Registry, RootNamesAndSplitting)
{
    EXPECT_EQ(RootKeyFromName(QStringLiteral("hklm")), 0x80000002u);
    EXPECT_EQ(RootKeyFromName(QStringLiteral("HKEY_CURRENT_USER")), 0x80000001u);
    EXPECT_EQ(RootKeyFromName(QStringLiteral("HKEY_LOCAL")), 0u);
    QString root, sub;
    SplitRegistryPath(QStringLiteral("HKCU"), root, sub);
    EXPECT_EQ(root, QStringLiteral("HKCU"));
    EXPECT_TRUE(sub.isEmpty());
    SplitRegistryPath(QStringLiteral("HKLM\\SOFTWARE\\Run"), root, sub);
    EXPECT_EQ(root, QStringLiteral("HKLM"));
    EXPECT_EQ(sub, QStringLiteral("SOFTWARE\\Run\\"));
    SplitRegistryPath(QStringLiteral("  "), root, sub);
    EXPECT_TRUE(root.isEmpty());
}

TEST(Registry, WriteReadListDelete)
{
    RegistryDir dir;
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_FALSE(WriteRegistryString(key, QStringLiteral("App"), QStringLiteral("x"), false));
    EXPECT_TRUE(WriteRegistryString(key, QStringLiteral("App"), QStringLiteral("\"/opt/a b\" -x"), true));
    QString v;
    ReadRegistryString(QStringLiteral("hkcu\\SOFTWARE\\microsoft\\windows\\currentversion\\run"), QStringLiteral("app"),
                       v);
    EXPECT_EQ(v, QStringLiteral("\"/opt/a b\" -x"));
    // Overwriting an existing value needs no creation right.
    EXPECT_TRUE(WriteRegistryString(key, QStringLiteral("APP"), QStringLiteral("line1\nline2\\\"é"), false));
    ReadRegistryString(key, QStringLiteral("App"), v);
    EXPECT_EQ(v, QStringLiteral("line1\nline2\\\"é"));
    EXPECT_FALSE(WriteRegistryString(key, QStringLiteral("Other"), QStringLiteral("x"), false));

    QStringList names{QStringLiteral("stale")};
    EXPECT_EQ(ListRegistryValues(key, names), 1);
    EXPECT_EQ(names, QStringList{QStringLiteral("App")});
    QStringList untouched{QStringLiteral("keep")};
    EXPECT_EQ(ListRegistryValues(key + QStringLiteral("\\Missing"), untouched), 0);
    EXPECT_EQ(untouched, QStringList{QStringLiteral("keep")});

    EXPECT_TRUE(DeleteRegistryValue(key, QStringLiteral("missing")));
    EXPECT_FALSE(DeleteRegistryValue(key + QStringLiteral("\\Missing"), QStringLiteral("App")));
    EXPECT_TRUE(DeleteRegistryValue(key, QStringLiteral("app")));
    ReadRegistryString(key, QStringLiteral("App"), v);
    EXPECT_TRUE(v.isEmpty());

    // A root without a store and a malformed key fail.
    EXPECT_FALSE(WriteRegistryString(QStringLiteral("HKCR\\x"), QStringLiteral("a"), QStringLiteral("b"), true));
    EXPECT_FALSE(WriteRegistryString(QStringLiteral("HKCU\\a\\\\b"), QStringLiteral("a"), QStringLiteral("b"), true));
}

TEST(Registry, DwordValuesReadAsEmptyText)
{
    RegistryDir dir;
    QFile f(dir.file(QStringLiteral("HKEY_LOCAL_MACHINE.reg")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("TASKVANE-KEYSTORE 1\nK \"\"\nK \"SOFTWARE\"\nV \"Count\" DWORD 42\nV \"\" SZ \"default\"\n");
    f.close();
    QString v = QStringLiteral("x");
    ReadRegistryString(QStringLiteral("HKLM\\SOFTWARE"), QStringLiteral("Count"), v);
    EXPECT_TRUE(v.isEmpty());
    ReadRegistryString(QStringLiteral("HKLM\\SOFTWARE"), QString(), v);
    EXPECT_EQ(v, QStringLiteral("default"));
}

TEST(Registry, CorruptStoreFailsEverythingAndIsNeverRewritten)
{
    RegistryDir dir;
    const QString file = dir.file(QStringLiteral("HKEY_CURRENT_USER.reg"));
    const QByteArray corrupt[] = {
        "",
        "TASKVANE-KEYSTORE 1\nK \"\"\nV \"a\" SZ \"unterminated\n",
        "TASKVANE-KEYSTORE 1\nK \"\"\nV \"a\" DWORD 99999999999\n",
        "TASKVANE-KEYSTORE 1\nK \"a\\\\b\"\n",                               // parent missing
        "TASKVANE-KEYSTORE 1\nK \"\"\nV \"a\" SZ \"x\"\nV \"A\" SZ \"y\"\n", // twice
        "TASKVANE-KEYSTORE 1\nK \"\"\nV \"a\" SZ \"x\"",                     // cut off
        "TASKVANE-KEYSTORE 1\nK \"\"\nV \"a\" SZ \"\\q\"\n",
        "garbage\n",
    };
    for (const QByteArray &text : corrupt) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        const QString key = QStringLiteral("HKCU\\Software");
        EXPECT_FALSE(WriteRegistryString(key, QStringLiteral("n"), QStringLiteral("v"), true)) << text.constData();
        EXPECT_FALSE(DeleteRegistryValue(QStringLiteral("HKCU"), QStringLiteral("a")));
        QStringList names;
        EXPECT_EQ(ListRegistryValues(QStringLiteral("HKCU"), names), 0);
        QFile back(file);
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), text);
    }
}

TEST(Shortcuts, CreateAndReadBack)
{
    tvtest::TempDir tmp;
    const QString target = tmp.file(QStringLiteral("my app.sh"));
    // An empty link file name puts the entry beside the target.
    ASSERT_TRUE(CreateShortcut(target, QString(), QStringLiteral("-x \"two words\" 50%"), QStringLiteral("desc")));
    const QString link = tmp.file(QStringLiteral("my app.desktop"));
    ASSERT_TRUE(QFileInfo::exists(link));
    QString cmd;
    ReadShortcut(link, cmd);
    EXPECT_EQ(cmd, QStringLiteral("\"%1\" -x \"two words\" 50%").arg(target));

    EXPECT_TRUE(CreateShortcut(target, tmp.file(QStringLiteral("B.DESKTOP")), QString(), QString()));
    ReadShortcut(tmp.file(QStringLiteral("B.DESKTOP")), cmd);
    EXPECT_EQ(cmd, QStringLiteral("\"%1\" ").arg(target));
    EXPECT_FALSE(CreateShortcut(target, tmp.file(QStringLiteral("c.txt")), QString(), QString()));
    EXPECT_FALSE(CreateShortcut(QStringLiteral("  "), QString(), QString(), QString()));
    // A newline would smuggle in a key of its own.
    EXPECT_FALSE(
        CreateShortcut(target, tmp.file(QStringLiteral("d.desktop")), QStringLiteral("\"a\nExec=evil\""), QString()));
    EXPECT_FALSE(CreateShortcut(target, tmp.file(QStringLiteral("e.desktop")), QString(), QStringLiteral("x\ny")));
    EXPECT_FALSE(QFileInfo::exists(tmp.file(QStringLiteral("d.desktop"))));
    ReadShortcut(tmp.file(QStringLiteral("none.desktop")), cmd);
    EXPECT_TRUE(cmd.isEmpty());
}

TEST(SpecialFolders, StartupFoldersFollowTheXdgVariables)
{
    const QByteArray oldHome = qgetenv("XDG_CONFIG_HOME"), oldDirs = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_HOME", "/tmp/tv-cfg");
    qputenv("XDG_CONFIG_DIRS", "/tmp/tv-a:/tmp/tv-b");
    QString p;
    GetSpecialFolder(CSIDL_STARTUP, p);
    EXPECT_EQ(p, QStringLiteral("/tmp/tv-cfg/autostart/"));
    GetSpecialFolder(CSIDL_COMMON_STARTUP | 0x8000, p);
    EXPECT_EQ(p, QStringLiteral("/tmp/tv-a/autostart/"));
    GetSpecialFolder(0x25, p);
    EXPECT_TRUE(p.isEmpty());
    qputenv("XDG_CONFIG_HOME", oldHome);
    qputenv("XDG_CONFIG_DIRS", oldDirs);
}

TEST(Privilege, DebugPrivilegeAndUnknownNames)
{
    EXPECT_TRUE(EnablePrivilege(QStringLiteral("SeDebugPrivilege")));
    EXPECT_TRUE(EnablePrivilege(QStringLiteral("SeDebugPrivilege"), 0));
    EXPECT_FALSE(EnablePrivilege(QStringLiteral("SeNoSuchPrivilege")));
    EXPECT_FALSE(EnablePrivilege(QStringLiteral("SeDebugPrivilege"), 1));
}
