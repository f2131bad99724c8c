#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessActions.h"
#include "platform/processes/Spawn.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/NameBytes.h"
#include "platform/registry/KeyStore.h"
#include "platform/shell/Shell.h"

#include <QDir>
#include <QThread>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform::processes;

namespace {

bool parse(const char *text, ProcStat &st)
{
    return ParseStat(text, std::strlen(text), st);
}

} // namespace

TEST(ProcStatParser, NamesWithParenthesesAndBlanks)
{
    ProcStat st;
    ASSERT_TRUE(parse("42 (a) b (c)) S 1 42 42 0 -1 4194560 10 0 2 0 7 3 0 0 20 5 4 0 12345 "
                      "0 0 18446744073709551615 0 0 0 0 0 0 0 0 0 0 0 0 17 1 0 2 0\n",
                      st));
    EXPECT_EQ(st.Pid, 42);
    EXPECT_EQ(st.Comm, QStringLiteral("a) b (c)"));
    EXPECT_EQ(st.State, 'S');
    EXPECT_EQ(st.ParentPid, 1);
    EXPECT_EQ(st.Utime, 7u);
    EXPECT_EQ(st.Stime, 3u);
    EXPECT_EQ(st.Nice, 5);
    EXPECT_EQ(st.NumThreads, 4);
    EXPECT_EQ(st.StartTime, 12345u);
    EXPECT_EQ(st.Minflt + st.Majflt, 12u);
    EXPECT_EQ(st.Policy, 2u);
}

TEST(ProcStatParser, RefusesMalformedText)
{
    ProcStat st;
    const char *bad[] = {
        "",
        "42",
        "42 (x",
        "42 (x) S",
        "x (y) S 1 2 3",
        "42 (x) S 1 2 3 4 5 6 7 8 9 10 11",
        "42 (x) S -5 42 42 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5",
        "42 (x) S 1 42 42 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99999999999999999999999",
    };
    for (const char *t : bad)
        EXPECT_FALSE(parse(t, st)) << t;
}

TEST(ProcReaders, OwnProcessAndSystemValues)
{
    ProcStat st;
    ASSERT_TRUE(ReadStat(qint32(::getpid()), st));
    EXPECT_FALSE(st.IsKernelThread());
    EXPECT_FALSE(ReadStat(0, st));
    EXPECT_FALSE(ReadStat(-1, st));
    const auto handle = OpenProcess(qint32(::getpid()));
    ASSERT_TRUE(handle);
    EXPECT_TRUE(IsAlive(*handle));
    EXPECT_FALSE(IsAlive(ProcessHandle{handle->Pid, handle->StartTime + 1, true}));
    EXPECT_EQ(ReadEffectiveUid(qint32(::getpid())), quint32(::geteuid()));
    EXPECT_TRUE(ReadExePath(qint32(::getpid())).has_value());
    EXPECT_GE(ReadFdCount(qint32(::getpid())), 3);
    EXPECT_GE(ReadModuleCount(qint32(::getpid())), 2); // the program and libc at least
    EXPECT_GE(OnlineProcessorCount(), 1u);
    EXPECT_TRUE(SystemIdleTicks().has_value());
    EXPECT_GT(BootTimeSeconds(), 0);
    const quint64 a = MonotonicNow100ns();
    EXPECT_GE(MonotonicNow100ns(), a);
    const auto mask = ReadAffinity(qint32(::getpid()));
    ASSERT_TRUE(mask);
    EXPECT_FALSE(mask->empty());
    std::vector<ProcessEntry> all;
    ASSERT_TRUE(EnumerateByStat(all));
    std::vector<ProcessEntry> viaStatus;
    ASSERT_TRUE(EnumerateByStatus(viaStatus));
    const auto self = std::find_if(viaStatus.begin(), viaStatus.end(),
                                   [](const ProcessEntry &e) { return e.Pid == quint32(::getpid()); });
    ASSERT_NE(self, viaStatus.end());
    EXPECT_EQ(self->Uid, quint32(::geteuid()));
}

TEST(PidFdActions, RefusesIdentifiersThatCouldSignalGroups)
{
    EXPECT_FALSE(IsValidPid(0));
    EXPECT_FALSE(IsValidPid(-1));
    EXPECT_FALSE(IsValidPid(qint64(PidMax()) + 1));
    EXPECT_FALSE(PidFd::Open(0, std::nullopt).has_value());
    EXPECT_FALSE(PidFd::Open(-1, std::nullopt).has_value());
    const auto self = PidFd::Open(::getpid(), std::nullopt);
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->Alive());
    EXPECT_FALSE(PidFd::Open(::getpid(), self->StartTime() + 1).has_value());
}

TEST(CommandLineWords, SplitQuoteAndRoundTrip)
{
    EXPECT_EQ(SplitCommandLine(QStringLiteral("  a  \"b c\" 'd \"e' f\\ g \"h\\\"i\\\\\" \"\"")),
              (QStringList{"a", "b c", "d \"e", "f g", "h\"i\\", ""}));
    EXPECT_FALSE(SplitCommandLine(QStringLiteral("\"open")).has_value());
    EXPECT_FALSE(SplitCommandLine(QStringLiteral("'open")).has_value());
    EXPECT_FALSE(SplitCommandLine(QStringLiteral("trailing\\")).has_value());
    EXPECT_EQ(SplitCommandLine(QStringLiteral("*")), QStringList{"*"});
    const QStringList words{"/bin/x", "", "a b", "q\"uote", "back\\slash", "it's", "plain"};
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(words)), words);
    EXPECT_EQ(JoinCommandLine({"/bin/ls", "-l"}), QStringLiteral("/bin/ls -l"));
}

TEST(DesktopEntries, ExecQuotingAndControlCharacters)
{
    EXPECT_EQ(platform::shell::ExecValue({"/opt/my app/run", "a$b", "100%", "x\\y"}),
              QStringLiteral("\"/opt/my app/run\" \"a\\$b\" 100%% \"x\\\\y\""));
    EXPECT_FALSE(platform::shell::ExecValue({"a\nb"}).has_value());
    EXPECT_EQ(platform::shell::EscapeValue(QStringLiteral(" a\\b")), QStringLiteral("\\sa\\\\b"));
    EXPECT_FALSE(platform::shell::EscapeValue(QStringLiteral("a\tb")).has_value());
    tvtest::TempDir tmp;
    const QString file = tmp.file(QStringLiteral("x.desktop"));
    EXPECT_FALSE(platform::shell::WriteShortcut(file, QStringLiteral("/bin/true"), {}, {}, QStringLiteral("a\rb"), {}));
    EXPECT_FALSE(QFile::exists(file));
    ASSERT_TRUE(
        platform::shell::WriteShortcut(file, QStringLiteral("/bin/true"), {"x\\y"}, {}, {}, QStringLiteral("T")));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // The Exec value is escaped once for quoting and once as a string value.
    EXPECT_TRUE(f.readAll().contains("Exec=/bin/true \"x\\\\\\\\y\"\n"));
}

TEST(DesktopEntries, IconOfAProgramFromItsEntry)
{
    tvtest::TempDir tmp;
    const QByteArray old = qgetenv("XDG_DATA_DIRS"), oldHome = qgetenv("XDG_DATA_HOME");
    QDir(tmp.path()).mkpath(QStringLiteral("apps/applications"));
    QFile f(tmp.file(QStringLiteral("apps/applications/t.desktop")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Desktop Entry]\nType=Application\nName=T\nExec=env A=1 sleep %U\nIcon=tv-test-icon\n");
    f.close();
    qputenv("XDG_DATA_DIRS", (tmp.path() + QStringLiteral("/apps")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/none")).toLocal8Bit());
    platform::shell::ResetFileIconCache();
    const auto sleepPath = FindProgram(QStringLiteral("sleep"));
    ASSERT_TRUE(sleepPath);
    // Looked up by the file itself: the entry's program and the file found under any other path
    // are the same file.
    auto identity = [](const QString &Path) {
        struct stat st = {};
        EXPECT_EQ(::stat(QFile::encodeName(Path).constData(), &st), 0) << Path.toStdString();
        return platform::files::FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
    };
    const auto icon = platform::shell::FindFileIcon(identity(*sleepPath));
    EXPECT_EQ(icon.IconName, QStringLiteral("tv-test-icon"));
    EXPECT_GE(icon.Index, 0);
    const QString link = tmp.file(QStringLiteral("other-name"));
    ASSERT_TRUE(QFile::link(*sleepPath, link));
    EXPECT_EQ(platform::shell::FindFileIcon(identity(link)).IconName, QStringLiteral("tv-test-icon"));
    // A copy is another file.
    const QString copy = tmp.file(QStringLiteral("sleep"));
    ASSERT_TRUE(QFile::copy(*sleepPath, copy));
    EXPECT_EQ(platform::shell::FindFileIcon(identity(copy)).IconName, QStringLiteral("application-x-executable"));
    const auto generic = platform::shell::FindFileIcon(identity(QStringLiteral("/bin/true")));
    EXPECT_EQ(generic.IconName, QStringLiteral("application-x-executable"));
    qputenv("XDG_DATA_DIRS", old);
    qputenv("XDG_DATA_HOME", oldHome);
    platform::shell::ResetFileIconCache();
}

// The icons are read once; what changes afterwards is found when a file misses: a program an
// entry names, renamed over by a new file (as a package upgrade does), and an entry added later.
TEST(DesktopEntries, IconFollowsAProgramRenamedOverAndAnEntryAddedLater)
{
    tvtest::TempDir tmp;
    const QByteArray old = qgetenv("XDG_DATA_DIRS"), oldHome = qgetenv("XDG_DATA_HOME");
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("apps/applications")));
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("bin")));
    const auto writeFile = [](const QString &Path, const QByteArray &Bytes) {
        QFile f(Path);
        return f.open(QIODevice::WriteOnly) && f.write(Bytes) == Bytes.size();
    };
    const auto entry = [&](const QString &Name, const QString &Program, const QString &Icon) {
        return writeFile(
            tmp.file(QStringLiteral("apps/applications/") + Name),
            ("[Desktop Entry]\nType=Application\nName=P\nExec=" + Program + "\nIcon=" + Icon + "\n").toUtf8());
    };
    const auto identity = [](const QString &Path) {
        struct stat st = {};
        EXPECT_EQ(::stat(QFile::encodeName(Path).constData(), &st), 0) << Path.toStdString();
        return platform::files::FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
    };
    const QString program = tmp.file(QStringLiteral("bin/tv-probe"));
    const QString later = tmp.file(QStringLiteral("bin/tv-later"));
    ASSERT_TRUE(writeFile(program, "#!/bin/sh\n"));
    ASSERT_TRUE(writeFile(later, "#!/bin/sh\n"));
    ASSERT_TRUE(entry(QStringLiteral("probe.desktop"), program, QStringLiteral("tv-probe-icon")));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(tmp.file(QStringLiteral("apps"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.file(QStringLiteral("none"))));
    platform::shell::ResetFileIconCache();

    struct Step
    {
        const char *what;
        std::function<bool()> change;
        QString file;
        QString icon;
    };
    const std::vector<Step> steps = {
        {"as read", [] { return true; }, program, QStringLiteral("tv-probe-icon")},
        {"a file without an entry", [] { return true; }, later, QStringLiteral("application-x-executable")},
        {"the program renamed over by a new file",
         [&] {
             const QString fresh = program + QStringLiteral(".new");
             return writeFile(fresh, "#!/bin/sh\n# 2\n") &&
                 ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(program).constData()) == 0;
         },
         program, QStringLiteral("tv-probe-icon")},
        // A file missed before has the folders looked at again a tenth of a second later at most.
        {"an entry added for a file that had none",
         [&] {
             QThread::msleep(150);
             return entry(QStringLiteral("later.desktop"), later, QStringLiteral("tv-later-icon"));
         },
         later, QStringLiteral("tv-later-icon")},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(s.change());
        EXPECT_EQ(platform::shell::FindFileIcon(identity(s.file)).IconName.toStdString(), s.icon.toStdString());
    }
    qputenv("XDG_DATA_DIRS", old);
    qputenv("XDG_DATA_HOME", oldHome);
    platform::shell::ResetFileIconCache();
}

// The window reads an icon file when it shows the row: a path is taken only when it is a regular
// file that nobody but root can make it wait on, else the program shows the generic icon.
TEST(DesktopEntries, IconFilesAreTakenOnlyAsRegularFilesOfRootOrTheUserInFoldersOnlyTheyChange)
{
    tvtest::TempDir tmp;
    const QByteArray old = qgetenv("XDG_DATA_DIRS"), oldHome = qgetenv("XDG_DATA_HOME");
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("apps/applications")));
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("bin")));
    const QString fifo = tmp.file(QStringLiteral("icon.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    const QString plain = tmp.file(QStringLiteral("plain.png"));
    {
        QFile f(plain);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\x89PNG\r\n");
    }
    const QString system = QStringLiteral("/etc/passwd");
    const QString generic = QStringLiteral("application-x-executable");
    const struct
    {
        const char *program;
        QString icon;
        QString shown;
    } cases[] = {
        {"theme", QStringLiteral("tv-theme-icon"), QStringLiteral("tv-theme-icon")},
        {"system", system, system},
        {"fifo", fifo, generic},
        {"temporary", plain, generic},
        {"relative", QStringLiteral("icons/../../tv-icon"), generic},
    };
    for (const auto &c : cases) {
        const QString program = tmp.file(QStringLiteral("bin/") + QLatin1String(c.program));
        QFile p(program);
        ASSERT_TRUE(p.open(QIODevice::WriteOnly));
        QFile e(tmp.file(QStringLiteral("apps/applications/%1.desktop").arg(QLatin1String(c.program))));
        ASSERT_TRUE(e.open(QIODevice::WriteOnly));
        e.write(("[Desktop Entry]\nType=Application\nName=P\nExec=" + program + "\nIcon=" + c.icon + "\n").toUtf8());
    }
    qputenv("XDG_DATA_DIRS", QFile::encodeName(tmp.file(QStringLiteral("apps"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.file(QStringLiteral("none"))));
    platform::shell::ResetFileIconCache();
    for (const auto &c : cases) {
        struct stat st = {};
        ASSERT_EQ(
            ::stat(QFile::encodeName(tmp.file(QStringLiteral("bin/") + QLatin1String(c.program))).constData(), &st), 0);
        const auto icon = platform::shell::FindFileIcon({quint64(st.st_dev), quint64(st.st_ino)});
        EXPECT_EQ(icon.IconName.toStdString(), c.shown.toStdString()) << c.program;
    }
    qputenv("XDG_DATA_DIRS", old);
    qputenv("XDG_DATA_HOME", oldHome);
    platform::shell::ResetFileIconCache();
}

TEST(KeyStoreFile, RoundTripOfAwkwardTexts)
{
    using namespace platform::registry;
    Store store = *Store::Parse("TASKVANE-KEYSTORE 1\n");
    Key &k = store.CreateKey(QStringLiteral("A\\B\\C"));
    k.Add({QStringLiteral("n\"\\"), ValueType::ExpandString, QStringLiteral("%PATH%\t\x01 中文 ") + QChar(0xD800), 0});
    k.Add({QString(), ValueType::DWord, {}, 0xFFFFFFFFu});
    const auto back = Store::Parse(store.Serialize());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Serialize(), store.Serialize());
    const Key *c = back->FindKey(QStringLiteral("a\\b\\c"));
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->Values().size(), 2u);
    EXPECT_EQ(c->Values()[0].Text, k.Values()[0].Text);
    EXPECT_EQ(c->Values()[1].Dword, 0xFFFFFFFFu);
    EXPECT_NE(back->FindKey(QStringLiteral("A\\B")), nullptr);
    EXPECT_FALSE(Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\nV \"a\" SZ \"\\u12\"\n").has_value());
    EXPECT_FALSE(Store::Parse("TASKVANE-KEYSTORE 1\nV \"a\" SZ \"x\"\n").has_value());
    EXPECT_FALSE(Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\n\xff\n").has_value());
    EXPECT_FALSE(NormalizeSubKey(QStringLiteral("a\\\\b")).has_value());
    EXPECT_EQ(NormalizeSubKey(QStringLiteral("\\a\\b\\")), QStringLiteral("a\\b"));
}

TEST(DesktopEntries, WrittenArgumentsReadBackUnchanged)
{
    tvtest::TempDir tmp;
    const QString file = tmp.file(QStringLiteral("r.desktop"));
    const QStringList args{QStringLiteral("50% off"), QStringLiteral("100%"), QStringLiteral("a\"b$c"),
                           QStringLiteral("x\\y"), QString()};
    ASSERT_TRUE(platform::shell::WriteShortcut(file, QStringLiteral("/opt/my app/run"), args, QStringLiteral("/tmp"),
                                               QStringLiteral("d"), {}));
    const auto info = platform::files::ReadDesktopEntry(file, QString());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->Program, QStringLiteral("/opt/my app/run"));
    EXPECT_EQ(info->Arguments, args);
    EXPECT_EQ(info->Path, QStringLiteral("/tmp"));
}

// What the program hands on of itself: a program it starts gets the limit on open files the
// program started with, not the one raised for the process files it keeps; and a path whose bytes
// are not UTF-8, as it is shown, still leads to its file.
TEST(StartedPrograms, GetTheStartingFileLimitAndPathsKeepTheirBytes)
{
    tvtest::TempDir tmp;
    platform::processes::KeptListing listing;
    std::vector<platform::processes::ProcessEntry> entries;
    ASSERT_TRUE(listing.Enumerate(entries)); // raises the program's own limit
    const rlimit start = platform::processes::StartingFileLimit();
    rlimit now{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    const QString out = tmp.file(QStringLiteral("limit"));
    ASSERT_TRUE(platform::processes::SpawnDetached(
        {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("ulimit -n > \"$0\""), out}));
    QFile f(out);
    for (int i = 0; i < 500 && f.size() == 0; ++i)
        QThread::msleep(10);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray shown = f.readAll().trimmed();
    EXPECT_EQ(shown, QByteArray::number(quint64(start.rlim_cur))) << "the program's own: " << now.rlim_cur;

    const QByteArray bytes = QFile::encodeName(tmp.path()) + "/odd-\xff\xfe";
    {
        const int fd = ::open(bytes.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    struct stat st = {};
    ASSERT_EQ(::stat(bytes.constData(), &st), 0);
    const QString shownPath = platform::files::DecodeNameBytes(bytes);
    EXPECT_TRUE(platform::processes::LeadsWithoutLinksTo(
        shownPath, platform::files::FileIdentity{quint64(st.st_dev), quint64(st.st_ino)}));
}
