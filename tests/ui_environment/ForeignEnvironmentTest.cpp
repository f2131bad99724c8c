// The program run by root with what another user left in its environment: sudo -E, su without
// "-", or only a few of that user's variables. Nothing of that user's is loaded or run as root,
// and no socket of theirs is talked to: not a plugin, not a default program or browser, not a bus.
//
// Everything runs as root in a mount namespace of its own, where /usr/local/bin (first on the
// system's search path) holds a default program of the test's that records how it was started,
// and /etc/passwd gives root a home in the test's folder: nothing the program starts for the user
// reaches a real browser, and nothing it writes lands in a real home.

#include "common/OtherListener.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(TASKVANE_BIN_DIR "/taskvane");
const QString kProbe = QStringLiteral(TVTEST_ENV_PROBE);
const QString kPlugin = QStringLiteral(TVTEST_MARKER_PLUGIN);

bool Write(const QString &Path, const QByteArray &Data, QFile::Permissions Mode)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Data) == Data.size() && f.setPermissions(Mode);
}

const QFile::Permissions kScript = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

// The marks left anywhere in a folder by what the test placed there, one path after another.
std::string Marks(const QString &Dir, const QString &Pattern)
{
    QStringList found;
    QDirIterator it(Dir, {Pattern}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found.join(QLatin1Char(' ')).toStdString();
}

struct PrivateRun
{
    bool Finished = false;
    int ExitCode = -1; // -1 when it did not end by itself
    QString Output;
};

// The cookies of an X server, as its authority file holds them: one for any display.
QByteArray CookieFile()
{
    auto field = [](const QByteArray &Bytes) {
        return QByteArray(1, char(Bytes.size() >> 8)) + char(Bytes.size()) + Bytes;
    };
    QByteArray cookie(16, Qt::Uninitialized);
    for (char &c : cookie)
        c = char(QRandomGenerator::global()->bounded(256));
    return QByteArray("\xff\xff") + field(QByteArray()) + field(QByteArray()) + field("MIT-MAGIC-COOKIE-1") +
        field(cookie);
}

// The addresses listened on in the network namespace of process `Pid`, once that is no longer the
// test's own.
QStringList Listening(qint64 Pid)
{
    auto space = [](const QByteArray &Link) {
        char target[64] = {};
        const ssize_t n = ::readlink(Link.constData(), target, sizeof target - 1);
        return n > 0 ? QByteArray(target, int(n)) : QByteArray();
    };
    const QByteArray proc = "/proc/" + QByteArray::number(Pid);
    const QByteArray theirs = space(proc + "/ns/net");
    if (theirs.isEmpty() || theirs == space("/proc/self/ns/net"))
        return {};
    QStringList found;
    for (const char *table : {"/net/tcp", "/net/tcp6"}) {
        QFile f(QFile::decodeName(proc + table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[3] == "0A")
                found << QString::fromLatin1(fields[1]);
        }
    }
    return found;
}

// Whether files are opened while it lives.
class OpenWatch
{
public:
    OpenWatch() : m_Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch()
    {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;
    bool Add(const QString &Path)
    {
        return ::inotify_add_watch(m_Fd, QFile::encodeName(Path).constData(), IN_OPEN) >= 0;
    }
    bool Opened() const
    {
        char events[4096];
        return ::read(m_Fd, events, sizeof events) > 0;
    }

private:
    int m_Fd;
};

// A virtual X server of the test's own, reached by its socket only; `Extra` are its options.
struct Screen
{
    QProcess Server;
    QByteArray Display;
    explicit Screen(const QStringList &Extra = {})
    {
        if (!QFileInfo(QStringLiteral("/usr/bin/Xvfb")).isExecutable())
            return;
        Server.start(QStringLiteral("/usr/bin/Xvfb"),
                     QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                 QStringLiteral("tcp")} +
                         Extra);
        QByteArray number;
        QElapsedTimer t;
        t.start();
        while (!number.contains('\n') && t.elapsed() < 20000 && Server.waitForStarted())
            if (Server.waitForReadyRead(200))
                number += Server.readAllStandardOutput();
        if (number.contains('\n'))
            Display = ':' + number.trimmed();
    }
    ~Screen()
    {
        Server.terminate();
        if (!Server.waitForFinished(5000))
            Server.kill();
        Server.waitForFinished(5000);
    }
    // The program on this screen, with what the X libraries need under the sanitizers.
    void Use(QProcessEnvironment &Env) const
    {
        Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        Env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(Display));
        // The X keyboard library's string copies trip the sanitizer's strict string checks.
        Env.insert(QStringLiteral("ASAN_OPTIONS"),
                   Env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":strict_string_checks=0"));
    }
};

class ForeignEnvironment : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString reason = tvtest::otherUserUnavailable();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        if (!shared.unusable().isEmpty())
            GTEST_SKIP() << shared.unusable().toStdString();
        if (!QFileInfo(QStringLiteral("/usr/local/bin")).isDir())
            GTEST_SKIP() << "needs /usr/local/bin to put a default program of the test's own in";
        if (!QFile::exists(kProgram) || !QFile::exists(kProbe) || !QFile::exists(kPlugin))
            GTEST_SKIP() << "the program, the probe or the plugin is not built";

        // The other user's things: a home, a session folder, plugins, a search path folder with an
        // opener, a browser, configuration folders. Each program of theirs leaves a mark when run.
        for (const char *dir : {"home", "run", "bin", "plugins", "plugins/imageformats", "xdg"})
            ASSERT_TRUE(tvtest::SharedDir::makeOwned(User(QLatin1String(dir)))) << dir;
        ASSERT_EQ(::chmod(QFile::encodeName(User(QStringLiteral("run"))).constData(), 0700), 0);
        for (const char *program : {"xdg-open", "browser"}) {
            const QString path = User(QStringLiteral("bin/") + QLatin1String(program));
            ASSERT_TRUE(Write(path,
                              "#!/bin/sh\n: > '" + QFile::encodeName(shared.file(QStringLiteral("ran-"))) + program +
                                  "-as-'\"$(id -u)\"\n",
                              kScript));
            ASSERT_TRUE(tvtest::SharedDir::makeOwned(path, false));
        }
        const QString plugin = User(QStringLiteral("plugins/imageformats/libtvmark.so"));
        ASSERT_TRUE(QFile::copy(kPlugin, plugin));
        ASSERT_TRUE(tvtest::SharedDir::makeOwned(plugin, false));

        // Root's side: a home in the test's folder, and the opener that records.
        ASSERT_TRUE(QDir().mkpath(RootHome()));
        ASSERT_TRUE(QDir().mkpath(Records()));
        ASSERT_TRUE(QDir().mkpath(RunUser() + QStringLiteral("/0")));
        ASSERT_EQ(::chmod(QFile::encodeName(RunUser() + QStringLiteral("/0")).constData(), 0700), 0);
        ASSERT_TRUE(Write(own.file(QStringLiteral("xdg-open")),
                          "#!/bin/sh\n# Notes its call and environment, then hands the address to $BROWSER as the\n"
                          "# desktop's opener does where it knows no desktop.\nout='" +
                              QFile::encodeName(Records()) +
                              "'/opened-$$\nenv > \"$out.env\"\nprintf '%s\\n' \"$*\" > \"$out\"\n"
                              "if [ -n \"$BROWSER\" ]; then IFS=:; for b in $BROWSER; do IFS=' '; $b \"$1\" && "
                              "exit 0; done; fi\nexit 0\n",
                          kScript));
        QFile passwd(QStringLiteral("/etc/passwd"));
        ASSERT_TRUE(passwd.open(QIODevice::ReadOnly));
        QByteArray accounts;
        bool rootFound = false;
        for (const QByteArray &line : passwd.readAll().split('\n')) {
            QList<QByteArray> fields = line.split(':');
            if (fields.size() == 7 && fields[2] == "0" && !rootFound) {
                fields[5] = QFile::encodeName(RootHome());
                rootFound = true;
            }
            accounts += fields.join(':') + '\n';
        }
        if (!rootFound)
            GTEST_SKIP() << "root has no line in /etc/passwd";
        ASSERT_TRUE(Write(own.file(QStringLiteral("passwd")), accounts.trimmed() + '\n',
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        ASSERT_TRUE(Write(own.file(QStringLiteral("shown.txt")), "x", QFile::ReadOwner | QFile::WriteOwner));

        if (const QString why = NamespacesUnusable(false); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
    }

    // Why the namespaces of StartPrivately cannot be had here; empty when they can. They are
    // tried, not their tool looked for: in a plain chroot, where / is no mount point, unshare is
    // there but cannot make the mounts private.
    QString NamespacesUnusable(bool OwnNetwork) const
    {
        QProcess p;
        StartPrivately(p, QStringLiteral("/bin/true"), {}, Base(), OwnNetwork);
        const PrivateRun tried = Finish(p, 60000);
        if (tried.ExitCode == 0)
            return QString();
        return QStringLiteral("no %1 of the test's own here: %2")
            .arg(OwnNetwork ? QStringLiteral("mount and network namespace") : QStringLiteral("mount namespace"),
                 tried.Output.trimmed());
    }

    QString User(const QString &Name = QString()) const
    {
        return Name.isEmpty() ? shared.user() : shared.user() + QLatin1Char('/') + Name;
    }
    QString RootHome() const { return own.file(QStringLiteral("root-home")); }
    QString Records() const { return own.file(QStringLiteral("records")); }
    QString RunUser() const { return own.file(QStringLiteral("run-user")); }

    // What every start gets besides the environment under test: a screen, a locale, the tests'
    // stand-ins and the sanitizers' settings.
    QProcessEnvironment Base() const
    {
        QProcessEnvironment env;
        const QProcessEnvironment mine = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (mine.contains(QLatin1String(name)))
                env.insert(QLatin1String(name), mine.value(QLatin1String(name)));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("TASKVANE_RUN_USER_DIR"), RunUser());
        env.insert(QStringLiteral("TASKVANE_TEMP_DIR"), own.path());
        env.insert(QStringLiteral("TASKVANE_HTTP_CONNECT_TO"), QStringLiteral("127.0.0.1:9"));
        env.insert(QStringLiteral("TASKVANE_INSTANCE_NAME"),
                   QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128)));
        return env;
    }

    // What the other user's session holds and a start as root may take along.
    void AddTheirs(QProcessEnvironment &Env) const
    {
        Env.insert(QStringLiteral("PATH"),
                   User(QStringLiteral("bin")) + QStringLiteral(":/usr/local/bin:/usr/bin:/bin"));
        Env.insert(QStringLiteral("BROWSER"), User(QStringLiteral("bin/browser")));
        Env.insert(QStringLiteral("QT_PLUGIN_PATH"), User(QStringLiteral("plugins")));
        Env.insert(QStringLiteral("XDG_CONFIG_DIRS"), User(QStringLiteral("xdg")));
        if (!systemBus.isEmpty())
            Env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=") + systemBus);
        if (!sessionBus.isEmpty())
            Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:abstract=") + sessionBus);
    }

    // The three environments: what "sudo -E" and "su" leave, and root's own with the other
    // user's variables for code, programs and buses only.
    std::vector<std::pair<QString, QProcessEnvironment>> Environments() const
    {
        QProcessEnvironment sudo = Base();
        AddTheirs(sudo);
        sudo.insert(QStringLiteral("SUDO_UID"), QString::number(tvtest::kOtherUid));
        sudo.insert(QStringLiteral("SUDO_USER"), QStringLiteral("someone"));
        sudo.insert(QStringLiteral("HOME"), User(QStringLiteral("home")));
        sudo.insert(QStringLiteral("USER"), QStringLiteral("someone"));
        sudo.insert(QStringLiteral("XDG_RUNTIME_DIR"), User(QStringLiteral("run")));
        QProcessEnvironment su = Base();
        AddTheirs(su);
        su.insert(QStringLiteral("HOME"), RootHome());
        su.insert(QStringLiteral("USER"), QStringLiteral("root"));
        su.insert(QStringLiteral("XDG_RUNTIME_DIR"), User(QStringLiteral("run")));
        QProcessEnvironment rootOwn = Base();
        AddTheirs(rootOwn);
        rootOwn.insert(QStringLiteral("HOME"), RootHome());
        return {{QStringLiteral("sudo -E"), sudo}, {QStringLiteral("su"), su}, {QStringLiteral("root's own"), rootOwn}};
    }

    // The two of them that are another user's: root's own, whatever it holds, is kept as it is.
    std::vector<std::pair<QString, QProcessEnvironment>> OthersEnvironments() const
    {
        auto all = Environments();
        all.pop_back();
        return all;
    }

    // Starts Program with Arguments as root, in the mount namespace described above (and in a
    // network namespace of its own with `OwnNetwork`).
    void StartPrivately(QProcess &P, const QString &Program, const QStringList &Arguments,
                        const QProcessEnvironment &Env, bool OwnNetwork = false) const
    {
        static const char kSetUp[] = "set -e\n"
                                     "/bin/mount -t tmpfs -o mode=0755 tvtest /usr/local/bin\n"
                                     "/bin/cp \"$1\" /usr/local/bin/xdg-open\n"
                                     "/bin/chmod 0755 /usr/local/bin/xdg-open\n"
                                     "/bin/mount --bind \"$2\" /etc/passwd\n"
                                     "shift 2\n"
                                     "exec \"$@\"\n";
        P.setProcessEnvironment(Env);
        P.setProcessChannelMode(QProcess::MergedChannels);
        P.setWorkingDirectory(own.path());
        QStringList namespaces = {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                  QStringLiteral("private")};
        if (OwnNetwork)
            namespaces << QStringLiteral("--net");
        P.start(QStringLiteral("/usr/bin/unshare"),
                namespaces +
                    QStringList{QStringLiteral("--"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                QString::fromLatin1(kSetUp), QStringLiteral("sh"), own.file(QStringLiteral("xdg-open")),
                                own.file(QStringLiteral("passwd")), Program} +
                    Arguments);
    }
    // Waits up to TimeoutMs for a run StartPrivately started; it is killed when it has not ended.
    static PrivateRun Finish(QProcess &P, int TimeoutMs)
    {
        PrivateRun r;
        P.waitForStarted(10000);
        if (P.error() == QProcess::FailedToStart)
            return r;
        r.Finished = P.state() == QProcess::NotRunning || P.waitForFinished(TimeoutMs);
        if (!r.Finished) {
            P.kill();
            P.waitForFinished(5000);
        }
        r.ExitCode = r.Finished && P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
        r.Output = QString::fromUtf8(P.readAll());
        return r;
    }
    PrivateRun RunPrivately(const QString &Program, const QStringList &Arguments, const QProcessEnvironment &Env,
                            int TimeoutMs = 60000) const
    {
        QProcess p;
        StartPrivately(p, Program, Arguments, Env);
        return Finish(p, TimeoutMs);
    }

    // The opener's records so far: its arguments and its environment, one pair per start.
    QList<std::pair<QString, QStringList>> Opened() const
    {
        QList<std::pair<QString, QStringList>> calls;
        for (const QString &call : QDir(Records()).entryList({QStringLiteral("opened-*")}, QDir::Files)) {
            if (call.endsWith(QLatin1String(".env")))
                continue;
            QFile args(QDir(Records()).filePath(call)), env(QDir(Records()).filePath(call + QStringLiteral(".env")));
            if (!args.open(QIODevice::ReadOnly) || !env.open(QIODevice::ReadOnly))
                continue;
            calls.append({QString::fromUtf8(args.readAll()).trimmed(),
                          QString::fromUtf8(env.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)});
        }
        return calls;
    }
    void ForgetOpened() const
    {
        QDir(Records()).removeRecursively();
        QDir().mkpath(Records());
    }

    // Waits a moment for the detached programs of a start to have run.
    static void Settle() { QThread::msleep(700); }

    tvtest::SharedDir shared;
    tvtest::TempDir own;
    QString systemBus;
    QString sessionBus;
};

} // namespace

TEST_F(ForeignEnvironment, ThePluginsOfAnotherUserAreNeverLoaded)
{
    for (auto [what, env] : Environments()) {
        env.insert(QStringLiteral("TASKVANE_TEST_CLOSE_AFTER_MS"), QStringLiteral("2000"));
        const PrivateRun run = RunPrivately(kProgram, {}, env);
        ASSERT_TRUE(run.Finished) << what.toStdString() << ": " << run.Output.toStdString();
        EXPECT_TRUE(run.Output.contains(QStringLiteral("window title: Taskvane"))) << run.Output.toStdString();
        EXPECT_EQ(Marks(User(), QStringLiteral("loaded-by-*")), "") << what.toStdString();
    }
    // The same plugin in a folder of root's is loaded: the program does read plugins where told.
    const QString rootPlugins = own.file(QStringLiteral("plugins/imageformats"));
    ASSERT_TRUE(QDir().mkpath(rootPlugins));
    ASSERT_TRUE(QFile::copy(kPlugin, rootPlugins + QStringLiteral("/libtvmark.so")));
    QProcessEnvironment env = Base();
    env.insert(QStringLiteral("HOME"), RootHome());
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), own.file(QStringLiteral("plugins")));
    env.insert(QStringLiteral("TASKVANE_TEST_CLOSE_AFTER_MS"), QStringLiteral("2000"));
    ASSERT_TRUE(RunPrivately(kProgram, {}, env).Finished);
    EXPECT_EQ(Marks(own.file(QStringLiteral("plugins")), QStringLiteral("loaded-by-*")),
              own.file(QStringLiteral("plugins/imageformats/loaded-by-0")).toStdString());
}

TEST_F(ForeignEnvironment, NoProgramOfAnotherUserRunsForTheUser)
{
    // The web search and the download page open their address through the toolkit, which wants a
    // real screen for that; the default program and the file manager's stand-in need none.
    const Screen screen;
    for (auto [what, env] : Environments()) {
        ForgetOpened();
        QList<std::pair<QStringList, QProcessEnvironment>> actions = {
            {{QStringLiteral("open"), QStringLiteral("http://example.invalid/")}, env},
            {{QStringLiteral("locate"), own.file(QStringLiteral("shown.txt"))}, env}};
        if (!screen.Display.isEmpty()) {
            screen.Use(env);
            actions.append({{QStringLiteral("open-url"), QStringLiteral("http://example.invalid/s?word=x")}, env});
        }
        for (const auto &[action, environment] : actions) {
            const PrivateRun run = RunPrivately(kProbe, action, environment);
            ASSERT_TRUE(run.Finished) << run.Output.toStdString();
            EXPECT_TRUE(run.Output.contains(QStringLiteral(": done")))
                << what.toStdString() << ": " << run.Output.toStdString();
        }
        Settle();
        EXPECT_EQ(Marks(shared.path(), QStringLiteral("ran-*")), "") << what.toStdString();
        // The system's opener ran instead, with the running user's own home and nothing of theirs.
        const auto opened = Opened();
        EXPECT_EQ(opened.size(), actions.size()) << what.toStdString();
        EXPECT_EQ(std::count_if(opened.cbegin(), opened.cend(),
                                [](const auto &Call) { return Call.first.contains(QStringLiteral("word=x")); }),
                  screen.Display.isEmpty() ? 0 : 1);
        for (const auto &[args, environment] : opened) {
            EXPECT_TRUE(environment.contains(QStringLiteral("HOME=") + RootHome())) << what.toStdString();
            for (const QString &entry : environment)
                EXPECT_FALSE(entry.contains(User())) << what.toStdString() << ": " << entry.toStdString();
        }
    }
}

TEST_F(ForeignEnvironment, NoBusOfAnotherUserIsReached)
{
    systemBus = User(QStringLiteral("system_bus_socket"));
    sessionBus = QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    tvtest::OtherListener system(systemBus);
    tvtest::OtherListener session(QLatin1Char('@') + sessionBus);
    if (!system.Failure.isEmpty() || !session.Failure.isEmpty())
        GTEST_SKIP() << (system.Failure + session.Failure).toStdString();
    for (const auto &[what, env] : Environments()) {
        for (const QStringList &action :
             {QStringList{QStringLiteral("services")},
              QStringList{QStringLiteral("locate"), own.file(QStringLiteral("shown.txt"))}}) {
            const PrivateRun run = RunPrivately(kProbe, action, env);
            ASSERT_TRUE(run.Finished) << run.Output.toStdString();
        }
        EXPECT_FALSE(system.WasTalkedTo()) << what.toStdString() << ": the service manager's bus was theirs";
        EXPECT_FALSE(session.WasTalkedTo()) << what.toStdString() << ": the file manager's bus was theirs";
    }
}

TEST_F(ForeignEnvironment, APlatformNameOfAnotherUserNeitherServesTheWindowNorOpensTheirFiles)
{
    if (const QString why = NamespacesUnusable(true); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const Screen screen;
    if (screen.Display.isEmpty())
        GTEST_SKIP() << "no Xvfb for the window to show on";
    // Files of theirs that a platform's options would have root open.
    const QString config = User(QStringLiteral("offscreen.json")), framebuffer = User(QStringLiteral("fb"));
    for (const QString &file : {config, framebuffer}) {
        ASSERT_TRUE(Write(file, "{}", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther));
        ASSERT_TRUE(tvtest::SharedDir::makeOwned(file, false));
    }
    const QString forms[] = {QStringLiteral("vnc"), QStringLiteral("vnc:port=5977"),
                             QStringLiteral("offscreen:configfile=") + config,
                             QStringLiteral("linuxfb:fb=") + framebuffer};
    // Under sudo -E and su; in a network namespace of its own, where whatever listens is its.
    for (auto [what, env] : OthersEnvironments()) {
        screen.Use(env);
        env.insert(QStringLiteral("TASKVANE_TEST_CLOSE_AFTER_MS"), QStringLiteral("1000"));
        for (const QString &form : forms) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), form);
            OpenWatch watch;
            ASSERT_TRUE(watch.Add(config) && watch.Add(framebuffer));
            QProcess p;
            StartPrivately(p, kProgram, {}, env, true);
            QStringList listening;
            QElapsedTimer t;
            t.start();
            while (p.state() != QProcess::NotRunning && t.elapsed() < 60000) {
                listening << Listening(p.processId());
                p.waitForFinished(50);
            }
            const PrivateRun run = Finish(p, 5000);
            const std::string which = what.toStdString() + ", " + form.toStdString();
            EXPECT_TRUE(run.Finished) << which;
            EXPECT_TRUE(run.Output.contains(QStringLiteral("window title: Taskvane")))
                << which << ": " << run.Output.toStdString();
            listening.removeDuplicates();
            EXPECT_TRUE(listening.isEmpty())
                << which << ": listens on " << listening.join(QLatin1Char(' ')).toStdString();
            EXPECT_FALSE(watch.Opened()) << which << ": a file of theirs was opened";
        }
    }
}

TEST_F(ForeignEnvironment, TheStartEndsWhateverTheDisplayCookieFileOfAnotherUserIs)
{
    const QByteArray cookies = CookieFile();
    ASSERT_TRUE(Write(own.file(QStringLiteral("cookies")), cookies, QFile::ReadOwner | QFile::WriteOwner));
    const Screen screen({QStringLiteral("-auth"), own.file(QStringLiteral("cookies"))});
    if (screen.Display.isEmpty())
        GTEST_SKIP() << "no Xvfb for the window to show on";
    // Theirs: a FIFO nobody writes to, a file without end, and the display's own cookies.
    const QString fifo = User(QStringLiteral("fifo")), zero = User(QStringLiteral("zero")),
                  copy = User(QStringLiteral("cookies"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(zero).constData()), 0);
    ASSERT_TRUE(Write(copy, cookies, QFile::ReadOwner | QFile::WriteOwner));
    for (const QString &file : {fifo, zero, copy})
        ASSERT_EQ(::lchown(QFile::encodeName(file).constData(), tvtest::kOtherUid, tvtest::kOtherUid), 0);
    const struct
    {
        QString File;
        bool Shown;
    } cases[] = {{fifo, false}, {zero, false}, {copy, true}};
    for (auto [what, env] : OthersEnvironments()) {
        screen.Use(env);
        env.insert(QStringLiteral("TASKVANE_TEST_CLOSE_AFTER_MS"), QStringLiteral("300"));
        for (const auto &c : cases) {
            env.insert(QStringLiteral("XAUTHORITY"), c.File);
            const PrivateRun run = RunPrivately(kProgram, {}, env, 30000);
            const std::string which = what.toStdString() + ", " + c.File.toStdString();
            ASSERT_TRUE(run.Finished) << which << ": the start did not end";
            EXPECT_EQ(run.Output.contains(QStringLiteral("window title: Taskvane")), c.Shown)
                << which << ": " << run.Output.toStdString();
            // Refused, the display says why, and the program what it left out.
            if (!c.Shown) {
                EXPECT_TRUE(run.Output.contains(QStringLiteral("could not connect to display")))
                    << which << ": " << run.Output.toStdString();
                EXPECT_TRUE(run.Output.contains(QStringLiteral("XAUTHORITY ") + c.File)) << which;
            }
        }
        // What the window starts gets the file's name, not the window's own copy of it.
        ForgetOpened();
        ASSERT_TRUE(
            RunPrivately(kProbe, {QStringLiteral("open"), QStringLiteral("http://example.invalid/")}, env).Finished);
        Settle();
        const auto opened = Opened();
        ASSERT_EQ(opened.size(), 1) << what.toStdString();
        EXPECT_TRUE(opened.first().second.contains(QStringLiteral("XAUTHORITY=") + copy)) << what.toStdString();
    }
}

TEST(OwnSessionFolder, WithoutOneTheToolkitKeepsItsFilesInTheProgramsPrivateFolder)
{
    if (!QFile::exists(kProbe))
        GTEST_SKIP() << "the probe is not built";
    tvtest::TempDir dir;
    for (const char *folder : {"home", "run", "run-user", "tmp"})
        ASSERT_TRUE(QDir(dir.path()).mkdir(QLatin1String(folder)));
    QProcessEnvironment env;
    const QProcessEnvironment mine = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "PATH"})
        if (mine.contains(QLatin1String(name)))
            env.insert(QLatin1String(name), mine.value(QLatin1String(name)));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), dir.file(QStringLiteral("home")));
    // The toolkit would make its own in the temporary folder.
    env.insert(QStringLiteral("TMPDIR"), dir.file(QStringLiteral("tmp")));
    env.insert(QStringLiteral("TASKVANE_TEMP_DIR"), dir.file(QStringLiteral("tmp")));
    env.insert(QStringLiteral("TASKVANE_RUN_DIR"), dir.file(QStringLiteral("run")));
    env.insert(QStringLiteral("TASKVANE_RUN_USER_DIR"), dir.file(QStringLiteral("run-user")));
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(kProbe, {QStringLiteral("env")});
    ASSERT_TRUE(probe.waitForFinished(60000));
    const QString output = QString::fromUtf8(probe.readAll());
    const QString own =
        dir.file(QStringLiteral("%1/taskvane-%2").arg(::geteuid() == 0 ? "run" : "tmp").arg(::geteuid()));
    EXPECT_TRUE(output.split(QLatin1Char('\n')).contains(QStringLiteral("XDG_RUNTIME_DIR=") + own))
        << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("XDG_RUNTIME_DIR not set"))) << output.toStdString();
    const QStringList made =
        QDir(dir.file(QStringLiteral("tmp"))).entryList({QStringLiteral("runtime-*")}, QDir::AllEntries);
    EXPECT_TRUE(made.isEmpty()) << made.join(QLatin1Char(' ')).toStdString();
}
