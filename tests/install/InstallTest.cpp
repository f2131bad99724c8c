// The program installed as Linux installs programs (into a temporary prefix: program in bin/,
// what it ships under share/) and used by ordinary users, each with a private home: it starts,
// runs and ends cleanly, writes nothing under the prefix, keeps what it writes in the user's own
// data directory, and never hands one user's files to another. Needs root (to install and to
// become the users) and setpriv; skips itself with the reason otherwise.
//
// The tests named DISABLED_AsUser* are not run on their own: the test program runs them again as
// one of the ordinary users (see AsOrdinaryUsers).

#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "dictdb_access/DictionaryFile.h"
#include "platform_http/LoopbackServer.h"
#include "platform_services/FakeSystemd.h"
#include "ui_message/MessageAnswers.h"

#include "dictdb/DBTools.h"
#include "platform/files/IniFile.h"
#include "platform/http/HttpRequest.h"
#include "platform/services/ServiceManager.h"
#include "platform/shell/Shell.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainOptimization.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainUpdate.h"
#include "sysinfo/Autoruns.h"
#include "sysinfo/Optimization.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTimer>
#include <QTreeWidget>

#include <memory>
#include <optional>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using httptest::LoopbackServer;
using httptest::Recorded;

// Two ordinary users: "nobody" (the message bus of the service tests needs an account of its
// user) and one with no account at all. Only their homes, made here, are theirs.
const uid_t kUserA = [] {
    const passwd *pw = ::getpwnam("nobody");
    return pw ? pw->pw_uid : uid_t(65534);
}();
constexpr uid_t kUserB = 4202;
// Set (to the user's home) for the test program that runs as one of them.
const char kAsUserVariable[] = "TASKVANE_TEST_AS_USER";

QByteArray ReadFile(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Where the shared library whose file name begins with Name was loaded from; empty when it was not.
QString LoadedLibrary(const QByteArray &Name)
{
    for (const QByteArray &line : ReadFile(QStringLiteral("/proc/self/maps")).split('\n')) {
        const int path = line.indexOf(" /");
        if (path >= 0 && line.mid(line.lastIndexOf('/') + 1).startsWith(Name))
            return QFile::decodeName(line.mid(path + 1));
    }
    return QString();
}

bool WriteFile(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Data) == Data.size();
}

bool Give(const QString &Path, uid_t Uid)
{
    return ::chown(QFile::encodeName(Path).constData(), Uid, Uid) == 0;
}

struct StatOf
{
    uid_t uid = 0;
    int mode = -1;
};
StatOf Stat(const QString &Path)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(Path).constData(), &st) != 0)
        return {};
    return {st.st_uid, int(st.st_mode & 07777)};
}

// Every entry under a folder, one line each, with what would show a write: size, modification
// time, mode, owner.
std::string Snapshot(const QString &Root)
{
    QMap<QString, QString> out;
    QDirIterator it(Root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st = {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        out.insert(path.mid(Root.size()),
                   QStringLiteral("%1 %2.%3 %4 %5")
                       .arg(st.st_size)
                       .arg(st.st_mtim.tv_sec)
                       .arg(st.st_mtim.tv_nsec)
                       .arg(st.st_mode, 0, 8)
                       .arg(st.st_uid));
    }
    QString text;
    for (auto it = out.cbegin(); it != out.cend(); ++it)
        text += it.key() + QLatin1Char(' ') + it.value() + QLatin1Char('\n');
    return text.toStdString();
}

using Outcome = tvtest::UserRun;

// The installation every test of this program uses: made once, by root, in a folder every user
// may enter.
class Installation
{
public:
    static Installation &Get()
    {
        static Installation one;
        return one;
    }

    QString skipReason;
    QString failure;
    QString root;
    QString prefix;

    QString Home(uid_t Uid) const { return root + QStringLiteral("/home-%1").arg(Uid); }
    QString DataDir(uid_t Uid) const { return Home(Uid) + QStringLiteral("/.local/share/taskvane/"); }
    QString Program() const { return prefix + QStringLiteral("/bin/taskvane"); }
    QString Shipped() const { return prefix + QStringLiteral("/share/taskvane/Ravel.db"); }
    static QString RunSub(uid_t Uid) { return QStringLiteral("/run-user/%1").arg(Uid); }

    // A fresh private home for the user (the old one goes).
    bool FreshHome(uid_t Uid) const
    {
        QDir(Home(Uid)).removeRecursively();
        for (const QString &sub :
             {QString(), QStringLiteral("/run-user"), RunSub(Uid), QStringLiteral("/.config/autostart"),
              QStringLiteral("/xdg/autostart"), QStringLiteral("/registry")}) {
            const QString path = Home(Uid) + sub;
            if (!QDir().mkpath(path) || !Give(path, Uid) ||
                !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
                return false;
        }
        return Give(Home(Uid) + QStringLiteral("/.config"), Uid) && Give(Home(Uid) + QStringLiteral("/xdg"), Uid);
    }

    // Runs What with Arguments as the user, with a private home and nothing else of the
    // caller's environment but the sanitizers' settings and Extra.
    Outcome RunAs(uid_t Uid, const tvtest::OtherUserCopy &What, const QStringList &Arguments, const QStringList &Extra,
                  int TimeoutMs) const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), Home(Uid));
        // The user's session folder, and the folder in place of /tmp, in the user's home.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home(Uid) + RunSub(Uid));
        env.insert(QStringLiteral("TASKVANE_RUN_USER_DIR"), Home(Uid) + QStringLiteral("/run-user"));
        env.insert(QStringLiteral("TASKVANE_TEMP_DIR"), Home(Uid));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), Home(Uid) + QStringLiteral("/xdg"));
        env.insert(QStringLiteral("TASKVANE_REGISTRY_DIR"), Home(Uid) + QStringLiteral("/registry"));
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        // No test reaches the machine's service manager.
        env.insert(QString::fromLatin1(platform::services::kBusAddressVariable),
                   QStringLiteral("unix:path=/nonexistent/taskvane-no-such-bus"));
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name))
                env.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
        for (const QString &entry : Extra)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        return What.Run(Uid, Uid, Arguments, env, TimeoutMs, Home(Uid));
    }

    // The installed program, closed by itself after CloseAfterMs.
    Outcome RunProgram(uid_t Uid, int CloseAfterMs, const QStringList &Extra = {}) const
    {
        return RunAs(Uid, *m_installed, {},
                     QStringList{QStringLiteral("TASKVANE_TEST_CLOSE_AFTER_MS=%1").arg(CloseAfterMs)} + Extra,
                     CloseAfterMs + 30000);
    }

private:
    Installation()
    {
        if (::geteuid() != 0) {
            skipReason = QStringLiteral("needs root to install and to run the program as other users");
            return;
        }
        m_dir = std::make_unique<tvtest::TempDir>();
        root = m_dir->path();
        // Every user passes through; each home below is its owner's alone.
        QFile::setPermissions(root,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                  QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        prefix = root + QStringLiteral("/prefix");
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(
            QStringLiteral(TASKVANE_CMAKE),
            {QStringLiteral("--install"), QStringLiteral(TASKVANE_BUILD_DIR), QStringLiteral("--prefix"), prefix});
        if (!install.waitForFinished(120000) || install.exitCode() != 0) {
            failure = QStringLiteral("installing failed: ") + QString::fromUtf8(install.readAll());
            return;
        }
        // The installed program runs where it lies, beside the data it ships.
        m_installed = std::make_unique<tvtest::OtherUserCopy>(Program(), tvtest::OtherUserCopy::InPlace);
        skipReason = m_installed->SkipReason();
    }

    std::unique_ptr<tvtest::TempDir> m_dir;
    std::unique_ptr<tvtest::OtherUserCopy> m_installed;
};

#define NEED_INSTALLATION()                                                                                            \
    Installation &inst = Installation::Get();                                                                          \
    if (!inst.failure.isEmpty())                                                                                       \
        FAIL() << inst.failure.toStdString();                                                                          \
    if (!inst.skipReason.isEmpty())                                                                                    \
    GTEST_SKIP() << inst.skipReason.toStdString()

QString VersionLine(const QString &Dictionary)
{
    return QStringLiteral("version line: 主程序版本：%1 | 进程库版本：%2")
        .arg(TUpdateCheck::ProgramVersionText(), Dictionary);
}

// ---- the installed program ----------------------------------------------------------------------

TEST(Installed, LaysOutTheProgramItsDataAndItsMenuEntry)
{
    NEED_INSTALLATION();
    EXPECT_EQ(Stat(inst.Program()).mode, 0755);
    QString version;
    GetDictVersionIn(inst.Shipped(), version);
    EXPECT_EQ(version, QStringLiteral("2026-12-07"));
    SetDictFiles({});
    const QString entry = inst.prefix + QStringLiteral("/share/applications/taskvane.desktop");
    const QString text = QString::fromUtf8(ReadFile(entry));
    for (const char *line : {"Name=Taskvane", "Exec=taskvane", "Icon=taskvane", "Categories=System;Monitor;"})
        EXPECT_TRUE(text.split(QLatin1Char('\n')).contains(QLatin1String(line))) << line;
    EXPECT_TRUE(QFileInfo(inst.prefix + QStringLiteral("/share/icons/hicolor/48x48/apps/taskvane.png")).isFile());
    if (QFileInfo(QStringLiteral("/usr/bin/desktop-file-validate")).isExecutable()) {
        EXPECT_EQ(QProcess::execute(QStringLiteral("/usr/bin/desktop-file-validate"), {entry}), 0);
    }
}

TEST(Installed, StartsRunsAndEndsForAnOrdinaryUserWritingNothingUnderThePrefix)
{
    NEED_INSTALLATION();
    ASSERT_TRUE(inst.FreshHome(kUserA));
    const auto before = Snapshot(inst.prefix);
    const Outcome run = inst.RunProgram(kUserA, 1500);
    ASSERT_TRUE(run.finished) << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("window title: Taskvane"))) << run.output.toStdString();
    // The shipped dictionary, found beside the program under share/.
    EXPECT_TRUE(run.output.contains(VersionLine(QStringLiteral("2026-12-07")))) << run.output.toStdString();
    EXPECT_EQ(Snapshot(inst.prefix), before);
    // A run that changed nothing wrote nothing for its user either.
    EXPECT_FALSE(QFileInfo::exists(inst.DataDir(kUserA)));
}

TEST(Installed, AnUpdateLandsInTheUsersDataDirectoryAndTheShippedFileStays)
{
    NEED_INSTALLATION();
    ASSERT_TRUE(inst.FreshHome(kUserA));
    tvtest::TempDir dir;
    const QString offeredFile = dir.file(QStringLiteral("offered.db"));
    dicttest::WriteDictionary(offeredFile, QStringLiteral("2031-02-03"), {{QStringLiteral("fresh"), QString(), false}});
    const QByteArray offered = ReadFile(offeredFile);
    LoopbackServer server([offered](const LoopbackServer::Conn &c, const Recorded &r) {
        if (r.target == "/download/taskvane/update/update.html")
            c.send(LoopbackServer::response(200, "[VERSION]\r\nAPP=0.0.0.1\r\nDB=2031-02-03\r\n"));
        else if (r.target == "/download/taskvane/update/Ravel.zip")
            c.send(LoopbackServer::response(200, offered));
        else
            c.send(LoopbackServer::response(404, ""));
    });
    ASSERT_NE(server.port(), 0);
    const auto before = Snapshot(inst.prefix);
    const Outcome run = inst.RunProgram(
        kUserA, 4000,
        {QString::fromLatin1(platform::http::kServerOverrideVariable) + QLatin1Char('=') + server.connectTo()});
    ASSERT_TRUE(run.finished) << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    ASSERT_EQ(server.requests().size(), 2u) << run.output.toStdString();

    const QString data = inst.DataDir(kUserA);
    EXPECT_TRUE(ReadFile(data + QStringLiteral("Ravel.db")) == offered);
    EXPECT_EQ(Stat(data + QStringLiteral("Ravel.db")).uid, kUserA);
    for (const QString &folder :
         {inst.Home(kUserA) + QStringLiteral("/.local"), inst.Home(kUserA) + QStringLiteral("/.local/share"), data}) {
        EXPECT_EQ(Stat(folder).mode, 0700) << folder.toStdString();
        EXPECT_EQ(Stat(folder).uid, kUserA) << folder.toStdString();
    }
    EXPECT_EQ(QDir(data).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Ravel.db")});
    EXPECT_TRUE(run.output.contains(VersionLine(QStringLiteral("2031-02-03")))) << run.output.toStdString();
    EXPECT_EQ(Snapshot(inst.prefix), before);
}

TEST(Installed, ANewerShippedDictionaryWinsOverAnOlderUserCopy)
{
    NEED_INSTALLATION();
    ASSERT_TRUE(inst.FreshHome(kUserB));
    const QString data = inst.DataDir(kUserB);
    ASSERT_TRUE(QDir().mkpath(data));
    for (const QString &folder :
         {inst.Home(kUserB) + QStringLiteral("/.local"), inst.Home(kUserB) + QStringLiteral("/.local/share"), data})
        ASSERT_TRUE(Give(folder, kUserB));
    // An old download, from before the upgrade that brought the shipped one.
    dicttest::WriteDictionary(data + QStringLiteral("Ravel.db"), QStringLiteral("2001-01-01"), {});
    ASSERT_TRUE(Give(data + QStringLiteral("Ravel.db"), kUserB));
    Outcome run = inst.RunProgram(kUserB, 1000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(VersionLine(QStringLiteral("2026-12-07")))) << run.output.toStdString();
    // A newer one of the user's own is used.
    dicttest::WriteDictionary(data + QStringLiteral("Ravel.db"), QStringLiteral("2099-01-01"), {});
    ASSERT_TRUE(Give(data + QStringLiteral("Ravel.db"), kUserB));
    run = inst.RunProgram(kUserB, 1000);
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.output.contains(VersionLine(QStringLiteral("2099-01-01")))) << run.output.toStdString();
    // A damaged one, whatever it claims, is not.
    QByteArray damaged = ReadFile(data + QStringLiteral("Ravel.db"));
    damaged.chop(100);
    ASSERT_TRUE(WriteFile(data + QStringLiteral("Ravel.db"), damaged));
    run = inst.RunProgram(kUserB, 1000);
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.output.contains(VersionLine(QStringLiteral("2026-12-07")))) << run.output.toStdString();
}

TEST(Installed, AnOldBackupInTheProgramFolderGoesToItsOwnerOnly)
{
    NEED_INSTALLATION();
    ASSERT_TRUE(inst.FreshHome(kUserA));
    ASSERT_TRUE(inst.FreshHome(kUserB));
    // As an earlier version running from a folder that user A could write left it.
    const QString old = inst.prefix + QStringLiteral("/bin/Backup");
    ASSERT_TRUE(QDir().mkpath(old));
    const QByteArray autoruns = "[R_legacy]\nCommand=/bin/true\nUserType=1\nRunType=2\n";
    const QByteArray services = "[ServicesBackup]\nlegacy=3\n";
    ASSERT_TRUE(WriteFile(old + QStringLiteral("/autoruns.dat"), autoruns));
    ASSERT_TRUE(WriteFile(old + QStringLiteral("/opti_services.dat"), services));
    for (const char *f : {"", "/autoruns.dat", "/opti_services.dat"})
        ASSERT_TRUE(Give(old + QLatin1String(f), kUserA));
    const auto before = Snapshot(inst.prefix);

    Outcome run = inst.RunProgram(kUserB, 800);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(inst.DataDir(kUserB)));
    run = inst.RunProgram(kUserA, 800);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(ReadFile(inst.DataDir(kUserA) + QStringLiteral("Backup/autoruns.dat")), autoruns);
    EXPECT_EQ(ReadFile(inst.DataDir(kUserA) + QStringLiteral("Backup/opti_services.dat")), services);
    EXPECT_EQ(Stat(inst.DataDir(kUserA) + QStringLiteral("Backup")).mode, 0700);
    EXPECT_EQ(Snapshot(inst.prefix), before);
    // Taken once: the old files are left as they were, and a later start reads only the copy.
    EXPECT_EQ(ReadFile(old + QStringLiteral("/autoruns.dat")), autoruns);
    ASSERT_TRUE(WriteFile(old + QStringLiteral("/autoruns.dat"), "[R_other]\nCommand=/bin/false\n"));
    run = inst.RunProgram(kUserA, 800);
    EXPECT_EQ(ReadFile(inst.DataDir(kUserA) + QStringLiteral("Backup/autoruns.dat")), autoruns);
    QDir(old).removeRecursively();
}

// The pages that write, used by two ordinary users through the main window as the installed
// program builds it: each user's backups lie in that user's own data directory, and the other
// user sees none of them.
TEST(Installed, AsOrdinaryUsers)
{
    NEED_INSTALLATION();
    ASSERT_TRUE(inst.FreshHome(kUserA));
    ASSERT_TRUE(inst.FreshHome(kUserB));
    // This test program, copied where the users reach it: the build folder may be closed to them.
    const tvtest::OtherUserCopy self;
    if (!self.SkipReason().isEmpty())
        GTEST_SKIP() << self.SkipReason().toStdString();
    auto runAs = [&](uid_t Uid, const char *Filter) {
        const Outcome o =
            inst.RunAs(Uid, self,
                       {QStringLiteral("--gtest_also_run_disabled_tests"),
                        QStringLiteral("--gtest_filter=") + QLatin1String(Filter)},
                       {QString::fromLatin1(kAsUserVariable) + QLatin1Char('=') + inst.Home(Uid)}, 120000);
        EXPECT_TRUE(o.finished);
        EXPECT_EQ(o.exitCode, 0) << "as user " << Uid << ":\n" << o.output.toStdString();
        EXPECT_TRUE(o.output.contains(QStringLiteral("[  PASSED  ]"))) << o.output.toStdString();
        EXPECT_FALSE(o.output.contains(QStringLiteral("[  SKIPPED ]"))) << o.output.toStdString();
    };
    runAs(kUserA, "DISABLED_AsUser.*");
    const QString backup = inst.DataDir(kUserA) + QStringLiteral("Backup/autoruns.dat");
    EXPECT_EQ(Stat(backup).uid, kUserA);
    EXPECT_EQ(Stat(inst.DataDir(kUserA)).mode, 0700);
    // The user's file, read by root: Load takes only the running user's own.
    platform::files::IniFile ini;
    QFile file(backup);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ini.Parse(file.readAll());
    EXPECT_EQ(ini.SectionNames(), QStringList{QStringLiteral("S_kept-off")});
    EXPECT_TRUE(QFileInfo(inst.DataDir(kUserA) + QStringLiteral("Backup/opti_services.dat")).isFile());

    runAs(kUserB, "DISABLED_AsOtherUser.*");
    EXPECT_FALSE(QFileInfo::exists(inst.DataDir(kUserB) + QStringLiteral("Backup")));
}

// ---- running as another uid ---------------------------------------------------------------------

// What a test runs as another uid reaches that uid wherever the clone lies: here a program, a
// library it loads and the leak checker's suppression file in a folder closed to others, as in a
// clone under root's home.
TEST(OtherUser, RunsAProgramOfAFolderClosedToOthers)
{
    tvtest::TempDir closed;
    ASSERT_EQ(tvtest::FileMode(closed.path()) & 0077, 0);
    const QString program = closed.file(QStringLiteral("bin/test_install"));
    const QString suppressions = closed.file(QStringLiteral("lsan.supp"));
    ASSERT_TRUE(QDir().mkpath(closed.file(QStringLiteral("bin"))));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/proc/self/exe"), program));
    ASSERT_TRUE(QFile::setPermissions(program,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    ASSERT_TRUE(WriteFile(suppressions, "leak:taskvane-no-such-library\n"));
    // A library found first in the closed folder, as through a run path into the build folder.
    const QString zlib = LoadedLibrary("libz.so");
    ASSERT_FALSE(zlib.isEmpty());
    ASSERT_TRUE(QDir().mkpath(closed.file(QStringLiteral("lib"))));
    ASSERT_TRUE(QFile::copy(zlib, closed.file(QStringLiteral("lib/libz.so.1"))));
    tvtest::ScopedEnv libraries("LD_LIBRARY_PATH", closed.file(QStringLiteral("lib")));

    const tvtest::OtherUserCopy copy(program);
    if (!copy.SkipReason().isEmpty())
        GTEST_SKIP() << copy.SkipReason().toStdString();
    EXPECT_TRUE(tvtest::OthersCanReach(copy.Program()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LSAN_OPTIONS"),
               QStringLiteral("suppressions=") + suppressions + QStringLiteral(":print_suppressions=0"));
    const Outcome run = copy.Run(kUserB, kUserB,
                                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                                  QStringLiteral("--gtest_filter=DISABLED_OtherUser.ReachesWhatItReads")},
                                 env, 60000);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ]"))) << run.output.toStdString();
}

// Run as another uid by RunsAProgramOfAFolderClosedToOthers.
TEST(DISABLED_OtherUser, ReachesWhatItReads)
{
    ASSERT_NE(::geteuid(), 0u);
    EXPECT_TRUE(QFileInfo(QCoreApplication::applicationFilePath()).isReadable());
    QString file;
    for (const QString &option : qEnvironmentVariable("LSAN_OPTIONS").split(QLatin1Char(':')))
        if (option.startsWith(QStringLiteral("suppressions=")))
            file = option.section(QLatin1Char('='), 1);
    EXPECT_EQ(ReadFile(file), QByteArray("leak:taskvane-no-such-library\n")) << file.toStdString();
    // The copy of the library, not the system's one the loader falls back to.
    const QString zlib = LoadedLibrary("libz.so");
    EXPECT_FALSE(zlib.isEmpty() || zlib.startsWith(QStringLiteral("/usr/")) || zlib.startsWith(QStringLiteral("/lib")))
        << zlib.toStdString();
}

// ---- run as an ordinary user by AsOrdinaryUsers --------------------------------------------------

// The test program's own private folders give way to the user's home, as the installed program
// would find it.
class AsUserBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home = qEnvironmentVariable(kAsUserVariable);
        if (home.isEmpty())
            GTEST_SKIP() << "run as an ordinary user by Installed.AsOrdinaryUsers";
        qputenv("HOME", QFile::encodeName(home));
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
        ASSERT_NE(::geteuid(), 0u);
        UiHooks().ExecModal = [this](QDialog *Dialog) {
            QList<quint8> none;
            return uitest::AnswerMessageBox(Dialog, shown, none, 3);
        };
    }
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }
    void CreateForm()
    {
        form = std::make_unique<TFormMain>();
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->show();
        EXPECT_EQ(form->DataDir, home + QStringLiteral("/.local/share/taskvane/"));
        // The process list is read beside the window; its rows come when the first pass is in.
        QDeadlineTimer deadline(10000);
        while (!form->ProcessPage->Settled() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QTreeWidget *Autoruns() const { return form->AutorunPage->lvAutoruns; }
    // The autorun list is read beside the window; its rows come when it is in.
    void ShowAutoruns()
    {
        form->btnLeftMenu_AutorunClick(form->btnLeftMenu_Autorun);
        QDeadlineTimer deadline(10000);
        while (form->AutorunPage->objAutoruns->Refreshing() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    bool Select(const QString &Caption, const QString &State = QString())
    {
        Autoruns()->clearSelection();
        for (int i = 0; i < Autoruns()->topLevelItemCount(); ++i) {
            QTreeWidgetItem *row = Autoruns()->topLevelItem(i);
            if (row->text(0) == Caption && (State.isEmpty() || row->text(1) == State)) {
                row->setSelected(true);
                return true;
            }
        }
        return false;
    }
    QString Entry(const char *Name) const { return home + QStringLiteral("/.config/autostart/") + QLatin1String(Name); }

    QString home;
    std::unique_ptr<TFormMain> form;
    std::vector<uitest::Shown> shown;
};

class DISABLED_AsUser : public AsUserBase
{};
class DISABLED_AsOtherUser : public AsUserBase
{};

TEST_F(DISABLED_AsUser, DisablesAndEnablesAnAutostartEntry)
{
    const QByteArray entry = "[Desktop Entry]\nType=Application\nName=tool\nExec=/bin/true --from-test\n";
    ASSERT_TRUE(WriteFile(Entry("tool.desktop"), entry));
    ASSERT_TRUE(WriteFile(Entry("kept-off.desktop"), "[Desktop Entry]\nType=Application\nName=k\nExec=/bin/true\n"));
    CreateForm();
    ShowAutoruns();
    const QString backup = form->DataDir + QStringLiteral("Backup/autoruns.dat");
    EXPECT_FALSE(QFileInfo::exists(backup));

    ASSERT_TRUE(Select(QStringLiteral("tool")));
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    EXPECT_TRUE(shown.empty() || !shown.back().Title.contains(QStringLiteral("失败")));
    EXPECT_FALSE(QFileInfo::exists(Entry("tool.desktop")));
    EXPECT_TRUE(QFileInfo(backup).isFile());
    EXPECT_EQ(tvtest::FileMode(form->DataDir), 0700);

    ASSERT_TRUE(Select(QStringLiteral("tool")));
    form->AutorunPage->mniAutorun_EnableClick(form->AutorunPage->mniAutorun_Enable);
    EXPECT_EQ(ReadFile(Entry("tool.desktop")), entry);

    // One entry stays disabled, for the other user not to see.
    ASSERT_TRUE(Select(QStringLiteral("kept-off")));
    form->AutorunPage->mniAutorun_DisableClick(form->AutorunPage->mniAutorun_Disable);
    EXPECT_FALSE(QFileInfo::exists(Entry("kept-off.desktop")));
    for (const uitest::Shown &s : shown)
        EXPECT_FALSE(s.Title.contains(QStringLiteral("失败"))) << s.Text.toStdString();
}

TEST_F(DISABLED_AsUser, OpensEveryPage)
{
    CreateForm();
    QTreeWidget *processes = form->ProcessPage->lvProcesses;
    bool ownRow = false;
    for (int i = 0; i < processes->topLevelItemCount(); ++i) {
        quint32 pid = 0;
        ownRow = ownRow || (TProcessPage::RowPid(processes->topLevelItem(i), pid) && pid == quint32(::getpid()));
    }
    EXPECT_TRUE(ownRow);
    const std::pair<TPicButton *, const char *> pages[] = {
        {form->btnLeftMenu_Service, "[服务管理]"}, {form->btnLeftMenu_Autorun, "[启动配置]"},
        {form->btnLeftMenu_Network, "[网络监控]"}, {form->btnLeftMenu_System, "[系统信息]"},
        {form->btnLeftMenu_Config, "[软件设置]"},  {form->btnLeftMenu_Process, "[进程管理]"}};
    for (const auto &[button, title] : pages) {
        button->Click();
        EXPECT_TRUE(form->lblTopBarInfo->text().startsWith(QString::fromUtf8(title))) << title;
        form->tmrProcessTimer(form->tmrProcess);
        form->tmrTrafficTimer(form->tmrTraffic);
        form->tmrSystemTimer(form->tmrSystem);
    }
}

TEST_F(DISABLED_AsUser, BacksUpTheServices)
{
    fakesd::Bus bus;
    ASSERT_TRUE(bus.ok()) << "no private message bus";
    bus.manager.setUnits(
        {fakesd::Service(QStringLiteral("alpha"), QStringLiteral("active"), QStringLiteral("enabled")),
         fakesd::Service(QStringLiteral("beta"), QStringLiteral("inactive"), QStringLiteral("masked"))});
    CreateForm();
    TOptimizationPanel *panel = form->ServicePage->Optimization.get();
    panel->btnSvcOpti_BackupClick(panel->btnSvcOpti_Backup);
    QDeadlineTimer deadline(20000);
    while (panel->objOptimization->Busy() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    const QString file = panel->objOptimization->GetDefaultBackupFile();
    EXPECT_EQ(file, form->DataDir + QStringLiteral("Backup/opti_services.dat"));
    platform::files::IniFile ini;
    ASSERT_TRUE(ini.Load(file));
    EXPECT_EQ(ini.Value(QStringLiteral("ServicesBackup"), QStringLiteral("alpha")), QStringLiteral("2"));
    EXPECT_EQ(ini.Value(QStringLiteral("ServicesBackup"), QStringLiteral("beta")), QStringLiteral("4"));
    for (const uitest::Shown &s : shown)
        EXPECT_FALSE(s.Title.contains(QStringLiteral("失败"))) << s.Text.toStdString();
    // The window goes while the bus it talks to is still there.
    form.reset();
}

TEST_F(DISABLED_AsOtherUser, SeesNoDisabledEntryOfAnotherUser)
{
    CreateForm();
    ShowAutoruns();
    const TAutoruns *list = form->AutorunPage->objAutoruns;
    for (int i = 0; i < list->GetCount(); ++i)
        EXPECT_TRUE(list->GetItem(i)->Active) << list->GetItem(i)->Name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(form->DataDir + QStringLiteral("Backup")));
}

} // namespace
