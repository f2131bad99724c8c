// The environment the program runs with: the running user's own, whoever started it and whatever
// that one left behind. What decides that an environment is another user's, what is rebuilt then,
// and what is refused whoever set it.

#include "common/OtherListener.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/system/Environment.h"
#include "platform/system/UserSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cstring>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using platform::system::EnvironmentMap;
using platform::system::ForeignEnvironmentReason;
using platform::system::OwnEnvironment;
using platform::system::ProcessFacts;
using tvtest::ScopedEnv;

ProcessFacts OwnFacts()
{
    ProcessFacts facts;
    facts.EffectiveUid = ::geteuid();
    facts.RealUid = ::geteuid();
    return facts;
}

QByteArray Native(const QString &Path)
{
    return QFile::encodeName(Path);
}

bool Give(const QString &Path, uid_t Uid)
{
    return ::lchown(QFile::encodeName(Path).constData(), Uid, Uid) == 0;
}

bool MakeDir(const QString &Path, mode_t Mode)
{
    return QDir().mkpath(Path) && ::chmod(QFile::encodeName(Path).constData(), Mode) == 0;
}

// A socket file bound (and left behind) at Path.
bool BindSocket(const QString &Path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(Path);
    if (fd < 0 || std::size_t(p.size()) >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, p.constData(), std::size_t(p.size()));
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

QString AccountHome()
{
    const passwd *pw = ::getpwuid(::geteuid());
    return pw ? QFile::decodeName(pw->pw_dir) : QString();
}

// The users' session folders of the test's own, with the running user's made private.
class EnvironmentRule : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeDir(runUser.path(), 0755));
        ASSERT_TRUE(MakeDir(Runtime(), 0700));
        ASSERT_TRUE(MakeDir(ownDir.file(QStringLiteral("home")), 0700));
        ASSERT_TRUE(MakeDir(ownDir.file(QStringLiteral("plugins")), 0755));
        ASSERT_TRUE(BindSocket(Runtime() + QStringLiteral("/bus")));
    }
    QString Runtime() const { return runUser.file(QString::number(::geteuid())); }
    QByteArray OwnBus() const { return "unix:path=" + Native(Runtime() + QStringLiteral("/bus")); }

    // The environment of a user at home in its own session.
    EnvironmentMap OwnSession() const
    {
        return {{"HOME", Native(ownDir.file(QStringLiteral("home")))},
                {"XDG_RUNTIME_DIR", Native(Runtime())},
                {"DBUS_SESSION_BUS_ADDRESS", OwnBus()},
                {"PATH", "/usr/bin:/bin"},
                {"DISPLAY", ":7"},
                {"LANG", "zh_CN.UTF-8"},
                {"QT_PLUGIN_PATH", Native(ownDir.file(QStringLiteral("plugins")))},
                {"QT_QPA_PLATFORMTHEME", "gtk3"},
                {"BROWSER", "firefox"}};
    }

    tvtest::TempDir runUser;
    tvtest::TempDir ownDir;
    ScopedEnv runUserVariable{"TASKVANE_RUN_USER_DIR", runUser.path()};
};

} // namespace

TEST_F(EnvironmentRule, TheUsersOwnEnvironmentIsKeptAsItIs)
{
    const EnvironmentMap env = OwnSession();
    EXPECT_EQ(ForeignEnvironmentReason(env, OwnFacts()), QString());
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()), env);
    // A sudo of the user to itself is no other user.
    EnvironmentMap self = env;
    self.insert("SUDO_UID", QByteArray::number(::geteuid()));
    EXPECT_EQ(OwnEnvironment(self, OwnFacts()), self);
}

TEST_F(EnvironmentRule, EachFactOfAnotherUserMakesTheEnvironmentAnothers)
{
    const QByteArray other = QByteArray::number(tvtest::kOtherUid);
    const ProcessFacts base = OwnFacts();
    const struct
    {
        const char *Name;
        QByteArray Value;
    } variables[] = {{"SUDO_UID", other}, {"PKEXEC_UID", other}, {"SUDO_UID", "not a number"}};
    for (const auto &v : variables) {
        EnvironmentMap env = OwnSession();
        env.insert(v.Name, v.Value);
        EXPECT_FALSE(ForeignEnvironmentReason(env, base).isEmpty()) << v.Name;
    }
    ProcessFacts secure = base;
    secure.SecureExec = true;
    ProcessFacts setuid = base;
    setuid.RealUid = tvtest::kOtherUid;
    ProcessFacts login = base;
    login.LoginUid = tvtest::kOtherUid;
    for (const ProcessFacts &f : {secure, setuid, login}) {
        EXPECT_FALSE(ForeignEnvironmentReason(OwnSession(), f).isEmpty());
        EXPECT_FALSE(OwnEnvironment(OwnSession(), f).contains("QT_PLUGIN_PATH"));
    }
    ProcessFacts ownLogin = base;
    ownLogin.LoginUid = ::geteuid();
    EXPECT_TRUE(ForeignEnvironmentReason(OwnSession(), ownLogin).isEmpty());
}

TEST_F(EnvironmentRule, AFolderOrBusSocketOfAnotherUserMakesTheEnvironmentAnothers)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give folders and sockets to another user";
    tvtest::TempDir theirs;
    ASSERT_TRUE(Give(theirs.path(), tvtest::kOtherUid));
    ASSERT_TRUE(BindSocket(theirs.file(QStringLiteral("bus"))));
    ASSERT_TRUE(Give(theirs.file(QStringLiteral("bus")), tvtest::kOtherUid));
    for (const char *name :
         {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        EnvironmentMap env = OwnSession();
        env.insert(name, Native(theirs.path()));
        EXPECT_FALSE(ForeignEnvironmentReason(env, OwnFacts()).isEmpty()) << name;
        const EnvironmentMap own = OwnEnvironment(env, OwnFacts());
        EXPECT_FALSE(own.value(name).contains(Native(theirs.path()))) << name;
    }
    EnvironmentMap env = OwnSession();
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + Native(theirs.file(QStringLiteral("bus"))));
    EXPECT_FALSE(ForeignEnvironmentReason(env, OwnFacts()).isEmpty());
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value("DBUS_SESSION_BUS_ADDRESS"), OwnBus());
}

TEST_F(EnvironmentRule, AnotherUsersEnvironmentKeepsTheDisplayAndTakesTheRestFromTheRunningUser)
{
    const QString home = AccountHome();
    EnvironmentMap env = OwnSession();
    env.insert("SUDO_UID", QByteArray::number(tvtest::kOtherUid));
    env.insert("USER", "someone");
    env.insert("XAUTHORITY", "/home/someone/.Xauthority");
    env.insert("WAYLAND_DISPLAY", "wayland-0");
    env.insert("XDG_RUNTIME_DIR", "/run/user/4202");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LC_TIME", "/home/someone/locale");
    env.insert("XDG_CONFIG_DIRS", "/etc/xdg");
    env.insert("XDG_DATA_HOME", "/home/someone/.local/share");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/run/dbus/system_bus_socket");
    env.insert("GTK_MODULES", "gail");
    env.insert("TASKVANE_REGISTRY_DIR", "/home/someone/registry");
    env.insert("SOMETHING_ELSE", "x");
    const EnvironmentMap own = OwnEnvironment(env, OwnFacts());

    for (const char *kept : {"DISPLAY", "XAUTHORITY", "LANG", "QT_QPA_PLATFORM"})
        EXPECT_EQ(own.value(kept), env.value(kept)) << kept;
    EXPECT_EQ(own.value("HOME"), Native(home));
    EXPECT_NE(own.value("USER"), "someone");
    EXPECT_EQ(own.value("USER"), own.value("LOGNAME"));
    EXPECT_EQ(own.value("PATH"), platform::system::DefaultSearchPath(::geteuid()));
    EXPECT_EQ(own.value("XDG_RUNTIME_DIR"), Native(Runtime()));
    EXPECT_EQ(own.value("DBUS_SESSION_BUS_ADDRESS"), OwnBus());
    // The display socket stays the one it was, named in full now that the folder changed.
    EXPECT_EQ(own.value("WAYLAND_DISPLAY"), "/run/user/4202/wayland-0");
    for (const char *gone :
         {"QT_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME", "BROWSER", "SUDO_UID", "LC_TIME", "XDG_CONFIG_DIRS",
          "XDG_DATA_HOME", "DBUS_SYSTEM_BUS_ADDRESS", "GTK_MODULES", "TASKVANE_REGISTRY_DIR", "SOMETHING_ELSE"})
        EXPECT_FALSE(own.contains(gone)) << gone;

    // Without a session folder of the user's there is none, and the bus address still names the
    // standard place nobody else can put a socket into.
    ASSERT_TRUE(QDir(Runtime()).removeRecursively());
    const EnvironmentMap bare = OwnEnvironment(env, OwnFacts());
    EXPECT_FALSE(bare.contains("XDG_RUNTIME_DIR"));
    EXPECT_EQ(bare.value("DBUS_SESSION_BUS_ADDRESS"), "unix:path=" + Native(Runtime() + QStringLiteral("/bus")));
}

TEST_F(EnvironmentRule, CodeAndProgramsComeOnlyFromFoldersNobodyElseCanChange)
{
    // Folders of the running user's or root's that nobody else writes to pass; open ones, relative
    // ones and missing ones do not, whatever the environment is otherwise.
    tvtest::TempDir place;
    ASSERT_TRUE(MakeDir(place.file(QStringLiteral("good")), 0755));
    ASSERT_TRUE(MakeDir(place.file(QStringLiteral("open")), 0777));
    ASSERT_TRUE(MakeDir(place.file(QStringLiteral("group")), 0775));
    ASSERT_TRUE(MakeDir(place.file(QStringLiteral("sticky")), 01777));
    ASSERT_TRUE(MakeDir(place.file(QStringLiteral("open/below")), 0755));
    ASSERT_TRUE(QFile::link(place.file(QStringLiteral("open")), place.file(QStringLiteral("link"))));
    const QByteArray good = Native(place.file(QStringLiteral("good")));
    const QByteArray list = good + ':' + Native(place.file(QStringLiteral("open"))) + ':' +
        Native(place.file(QStringLiteral("group"))) + ':' + Native(place.file(QStringLiteral("sticky"))) + ':' +
        Native(place.file(QStringLiteral("open/below"))) + ':' + Native(place.file(QStringLiteral("link"))) + ':' +
        Native(place.file(QStringLiteral("missing"))) + ":plugins::" + good;
    for (const char *name :
         {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "GTK_PATH", "GIO_EXTRA_MODULES", "LIBGL_DRIVERS_PATH",
          "__EGL_VENDOR_LIBRARY_DIRS", "GCONV_PATH", "LD_LIBRARY_PATH", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"}) {
        EnvironmentMap env = OwnSession();
        env.insert(name, list);
        EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value(name), good + ':' + good) << name;
        env.insert(name, Native(place.file(QStringLiteral("open"))));
        EXPECT_FALSE(OwnEnvironment(env, OwnFacts()).contains(name)) << name;
    }
    EnvironmentMap env = OwnSession();
    env.insert("PATH", list + ":/usr/bin");
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value("PATH"), good + ':' + good + ":/usr/bin");
    env.insert("PATH", Native(place.file(QStringLiteral("open"))));
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value("PATH"), platform::system::DefaultSearchPath(::geteuid()));

    // Files that are loaded, and browsers given by their path.
    ASSERT_TRUE(tvtest::WriteFile(place.file(QStringLiteral("good/lib.so")), "x"));
    ASSERT_TRUE(tvtest::WriteFile(place.file(QStringLiteral("open/lib.so")), "x"));
    ASSERT_TRUE(tvtest::WriteFile(place.file(QStringLiteral("good/writable.so")), "x"));
    ASSERT_EQ(::chmod(QFile::encodeName(place.file(QStringLiteral("good/writable.so"))).constData(), 0666), 0);
    const QByteArray goodFile = Native(place.file(QStringLiteral("good/lib.so")));
    const QByteArray files = goodFile + ':' + Native(place.file(QStringLiteral("open/lib.so"))) + ':' +
        Native(place.file(QStringLiteral("good/writable.so"))) + ":lib.so";
    for (const char *name : {"LD_PRELOAD", "__EGL_VENDOR_LIBRARY_FILENAMES", "GTK_IM_MODULE_FILE"}) {
        env = OwnSession();
        env.insert(name, files);
        EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value(name), goodFile) << name;
    }
    env = OwnSession();
    env.insert("GTK_MODULES", "gail:" + Native(place.file(QStringLiteral("open/lib.so"))) + ":atk-bridge");
    env.insert("BROWSER",
               goodFile + " --new-window %s:" + Native(place.file(QStringLiteral("open/lib.so"))) +
                   ":firefox:./browser");
    const EnvironmentMap own = OwnEnvironment(env, OwnFacts());
    EXPECT_EQ(own.value("GTK_MODULES"), "gail:atk-bridge");
    EXPECT_EQ(own.value("BROWSER"), goodFile + " --new-window %s:firefox");
}

TEST_F(EnvironmentRule, FoldersOfAnotherUserAreNeverTrusted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give folders to another user";
    tvtest::TempDir place;
    ASSERT_TRUE(MakeDir(place.file(QStringLiteral("theirs/inner")), 0755));
    ASSERT_TRUE(Give(place.file(QStringLiteral("theirs")), tvtest::kOtherUid));
    ASSERT_TRUE(tvtest::WriteFile(place.file(QStringLiteral("theirs/inner/browser")), "#!/bin/sh\n"));
    for (const QString &dir : {place.file(QStringLiteral("theirs")), place.file(QStringLiteral("theirs/inner"))}) {
        EnvironmentMap env = OwnSession();
        env.insert("QT_PLUGIN_PATH", Native(dir));
        env.insert("PATH", Native(dir) + ":/usr/bin");
        env.insert("BROWSER", Native(place.file(QStringLiteral("theirs/inner/browser"))));
        const EnvironmentMap own = OwnEnvironment(env, OwnFacts());
        EXPECT_FALSE(own.contains("QT_PLUGIN_PATH")) << dir.toStdString();
        EXPECT_EQ(own.value("PATH"), "/usr/bin") << dir.toStdString();
        EXPECT_FALSE(own.contains("BROWSER")) << dir.toStdString();
    }
}

TEST_F(EnvironmentRule, BusAddressesAreUsedOnlyForSocketsOfTheRunningUser)
{
    tvtest::TempDir place;
    ASSERT_TRUE(BindSocket(place.file(QStringLiteral("system"))));
    const QByteArray own = "unix:path=" + Native(place.file(QStringLiteral("system")));
    EXPECT_TRUE(platform::system::IsOwnBusAddress(own, true));
    EXPECT_TRUE(platform::system::IsOwnBusAddress(own + ",guid=0123", false));
    for (const QByteArray &refused :
         {QByteArray("tcp:host=127.0.0.1,port=4"), QByteArray("unixexec:path=/bin/true"), QByteArray("autolaunch:"),
          QByteArray("unix:path=relative/bus"), QByteArray("unix:tmpdir=/tmp"), own + ";tcp:host=localhost,port=4",
          "unix:path=" + Native(place.file(QStringLiteral("missing"))), QByteArray()})
        EXPECT_FALSE(platform::system::IsOwnBusAddress(refused, true)) << refused.constData();
    EnvironmentMap env = OwnSession();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", own);
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value("DBUS_SYSTEM_BUS_ADDRESS"), own);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "tcp:host=127.0.0.1,port=4");
    EXPECT_FALSE(OwnEnvironment(env, OwnFacts()).contains("DBUS_SYSTEM_BUS_ADDRESS"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", "tcp:host=127.0.0.1,port=4");
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value("DBUS_SESSION_BUS_ADDRESS"), OwnBus());

    if (::geteuid() != 0)
        return;
    // Another user's sockets: a file, and an abstract one, asked for its listener.
    tvtest::TempDir theirs;
    ASSERT_TRUE(Give(theirs.path(), tvtest::kOtherUid));
    ASSERT_TRUE(BindSocket(theirs.file(QStringLiteral("system"))));
    ASSERT_TRUE(Give(theirs.file(QStringLiteral("system")), tvtest::kOtherUid));
    const QByteArray file = "unix:path=" + Native(theirs.file(QStringLiteral("system")));
    EXPECT_FALSE(platform::system::IsOwnBusAddress(file, true));
    // A socket of the user's own in a folder someone else can change.
    ASSERT_TRUE(BindSocket(theirs.file(QStringLiteral("mine"))));
    EXPECT_FALSE(platform::system::IsOwnBusAddress("unix:path=" + Native(theirs.file(QStringLiteral("mine"))), true));

    const QString name = QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    tvtest::OtherListener listener(QLatin1Char('@') + name);
    if (!listener.Failure.isEmpty())
        GTEST_SKIP() << listener.Failure.toStdString();
    const QByteArray abstract = "unix:abstract=" + name.toLatin1();
    EXPECT_FALSE(platform::system::IsOwnBusAddress(abstract, true));
    env = OwnSession();
    env.insert("DBUS_SESSION_BUS_ADDRESS", abstract);
    EXPECT_FALSE(ForeignEnvironmentReason(env, OwnFacts()).isEmpty());
    EXPECT_EQ(OwnEnvironment(env, OwnFacts()).value("DBUS_SESSION_BUS_ADDRESS"), OwnBus());
    EXPECT_FALSE(listener.WasTalkedTo());
}
