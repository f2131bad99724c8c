// The environment the program runs with: the running user's own, whoever started it. What makes
// an environment another user's, what is rebuilt then, and what is refused whoever set it.

#include "common/OtherListener.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/system/Environment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUuid>

#include <cstring>
#include <vector>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using platform::system::EnvironmentMap;
using platform::system::ForeignEnvironmentReason;
using platform::system::IsOwnBusAddress;
using platform::system::OwnEnvironment;
using platform::system::ProcessFacts;

const ProcessFacts kOwn = [] {
    ProcessFacts facts;
    facts.EffectiveUid = facts.RealUid = ::geteuid();
    return facts;
}();

QByteArray Native(const QString &Path)
{
    return QFile::encodeName(Path);
}

bool MakeDir(const QString &Path, mode_t Mode, uid_t Owner = ::geteuid())
{
    const QByteArray p = Native(Path);
    return QDir().mkpath(Path) && ::chmod(p.constData(), Mode) == 0 && ::lchown(p.constData(), Owner, Owner) == 0;
}

// A socket file bound (and left behind) at Path, of Owner's.
bool BindSocket(const QString &Path, uid_t Owner = ::geteuid())
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = Native(Path);
    if (fd < 0 || std::size_t(p.size()) >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, p.constData(), std::size_t(p.size()));
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok && ::lchown(p.constData(), Owner, Owner) == 0;
}

// The users' session folders of the test's own, the running user's private with a bus in it.
class EnvironmentRule : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeDir(Runtime(), 0700));
        ASSERT_TRUE(MakeDir(dir.file(QStringLiteral("home")), 0700));
        ASSERT_TRUE(MakeDir(dir.file(QStringLiteral("good")), 0755));
        ASSERT_TRUE(BindSocket(Runtime() + QStringLiteral("/bus")));
    }
    QString Runtime() const { return dir.file(QStringLiteral("run/%1").arg(::geteuid())); }
    QByteArray Good() const { return Native(dir.file(QStringLiteral("good"))); }
    QByteArray OwnBus() const { return "unix:path=" + Native(Runtime() + QStringLiteral("/bus")); }

    // A user at home in its own session.
    EnvironmentMap Session() const
    {
        return {{"HOME", Native(dir.file(QStringLiteral("home")))},
                {"XDG_RUNTIME_DIR", Native(Runtime())},
                {"DBUS_SESSION_BUS_ADDRESS", OwnBus()},
                {"PATH", "/usr/bin:/bin"},
                {"DISPLAY", ":7"},
                {"LANG", "zh_CN.UTF-8"},
                {"QT_PLUGIN_PATH", Good()},
                {"QT_QPA_PLATFORMTHEME", "gtk3"},
                {"BROWSER", "firefox"}};
    }
    EnvironmentMap With(const QByteArray &Name, const QByteArray &Value) const
    {
        EnvironmentMap env = Session();
        env.insert(Name, Value);
        return env;
    }

    tvtest::TempDir dir;
    tvtest::ScopedEnv runUser{"TASKVANE_RUN_USER_DIR", dir.file(QStringLiteral("run"))};
};

} // namespace

TEST_F(EnvironmentRule, TheUsersOwnEnvironmentIsKeptAsItIs)
{
    EXPECT_EQ(ForeignEnvironmentReason(Session(), kOwn), QString());
    EXPECT_EQ(OwnEnvironment(Session(), kOwn), Session());
    // A sudo of the user to itself is no other user.
    const EnvironmentMap self = With("SUDO_UID", QByteArray::number(::geteuid()));
    EXPECT_EQ(OwnEnvironment(self, kOwn), self);
    ProcessFacts ownLogin = kOwn;
    ownLogin.LoginUid = ::geteuid();
    EXPECT_EQ(ForeignEnvironmentReason(Session(), ownLogin), QString());
}

TEST_F(EnvironmentRule, ASessionFolderIsKeptOnlyWhereNobodyElseCanReplaceIt)
{
    // The user's own private folder, below a folder anyone may write into or, as root, below a
    // folder of another user's: either could swap it for another between the check and the use.
    QStringList below = {QStringLiteral("open")};
    ASSERT_TRUE(MakeDir(dir.file(QStringLiteral("open")), 0777));
    if (::geteuid() == 0) {
        ASSERT_TRUE(MakeDir(dir.file(QStringLiteral("theirs")), 0755, tvtest::kOtherUid));
        below << QStringLiteral("theirs");
    }
    for (const QString &parent : below) {
        const QString runtime = dir.file(parent + QStringLiteral("/run"));
        ASSERT_TRUE(MakeDir(runtime, 0700));
        const EnvironmentMap env = With("XDG_RUNTIME_DIR", Native(runtime));
        EXPECT_EQ(ForeignEnvironmentReason(env, kOwn), QString()) << qPrintable(parent);
        EXPECT_EQ(OwnEnvironment(env, kOwn).value("XDG_RUNTIME_DIR"), Native(Runtime())) << qPrintable(parent);
    }
}

TEST_F(EnvironmentRule, EachFactOfAnotherUserMakesTheEnvironmentAnothers)
{
    const QByteArray other = QByteArray::number(tvtest::kOtherUid);
    for (const EnvironmentMap &env : {With("SUDO_UID", other), With("PKEXEC_UID", other), With("SUDO_UID", "x")})
        EXPECT_FALSE(ForeignEnvironmentReason(env, kOwn).isEmpty());
    ProcessFacts secure = kOwn, setuid = kOwn, login = kOwn;
    secure.SecureExec = true;
    setuid.RealUid = tvtest::kOtherUid;
    login.LoginUid = tvtest::kOtherUid;
    for (const ProcessFacts &facts : {secure, setuid, login}) {
        EXPECT_FALSE(ForeignEnvironmentReason(Session(), facts).isEmpty());
        EXPECT_FALSE(OwnEnvironment(Session(), facts).contains("QT_PLUGIN_PATH"));
    }
    if (::geteuid() != 0)
        return;
    // A home, an XDG folder, a session folder or a bus socket of another user's.
    const QString theirs = dir.file(QStringLiteral("theirs"));
    ASSERT_TRUE(MakeDir(theirs, 0755, tvtest::kOtherUid));
    ASSERT_TRUE(BindSocket(theirs + QStringLiteral("/bus"), tvtest::kOtherUid));
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "XDG_STATE_HOME", "DBUS_SESSION_BUS_ADDRESS"}) {
        const QByteArray value = (QByteArray(name).startsWith("DBUS") ? "unix:path=" : "") + Native(theirs) +
            (QByteArray(name).startsWith("DBUS") ? "/bus" : "");
        EXPECT_FALSE(ForeignEnvironmentReason(With(name, value), kOwn).isEmpty()) << name;
        EXPECT_FALSE(OwnEnvironment(With(name, value), kOwn).value(name).contains(Native(theirs))) << name;
    }
}

TEST_F(EnvironmentRule, AnotherUsersEnvironmentKeepsTheDisplayAndTakesTheRestFromTheRunningUser)
{
    ASSERT_TRUE(tvtest::WriteFile(dir.file(QStringLiteral("home/.Xauthority")), "cookies"));
    EnvironmentMap env = Session();
    for (const auto &[name, value] : std::initializer_list<std::pair<const char *, QByteArray>>{
             {"SUDO_UID", QByteArray::number(tvtest::kOtherUid)},
             {"USER", "someone"},
             {"XAUTHORITY", Native(dir.file(QStringLiteral("home/.Xauthority")))},
             {"WAYLAND_DISPLAY", "wayland-0"},
             {"XDG_RUNTIME_DIR", "/run/user/4202"},
             {"QT_QPA_PLATFORM", "xcb"},
             {"LC_TIME", "/home/someone/locale"},
             {"TZ", "/home/someone/zone"},
             {"XDG_CONFIG_DIRS", "/etc/xdg"},
             {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/run/dbus/system_bus_socket"},
             {"GTK_MODULES", "gail"},
             {"TASKVANE_REGISTRY_DIR", "/home/someone/registry"},
             {"SOMETHING_ELSE", "x"}})
        env.insert(name, value);
    const EnvironmentMap own = OwnEnvironment(env, kOwn);
    for (const char *kept : {"DISPLAY", "XAUTHORITY", "LANG", "QT_QPA_PLATFORM"})
        EXPECT_EQ(own.value(kept), env.value(kept)) << kept;
    const passwd *account = ::getpwuid(::geteuid());
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(own.value("HOME"), QByteArray(account->pw_dir));
    EXPECT_EQ(own.value("USER"), QByteArray(account->pw_name));
    EXPECT_EQ(own.value("LOGNAME"), QByteArray(account->pw_name));
    EXPECT_EQ(own.value("PATH"), platform::system::DefaultSearchPath(::geteuid()));
    EXPECT_EQ(own.value("XDG_RUNTIME_DIR"), Native(Runtime()));
    EXPECT_EQ(own.value("DBUS_SESSION_BUS_ADDRESS"), OwnBus());
    // The display socket stays the one it was, named in full now that the folder changed.
    EXPECT_EQ(own.value("WAYLAND_DISPLAY"), "/run/user/4202/wayland-0");
    for (const char *gone :
         {"QT_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME", "BROWSER", "SUDO_UID", "LC_TIME", "TZ", "XDG_CONFIG_DIRS",
          "DBUS_SYSTEM_BUS_ADDRESS", "GTK_MODULES", "TASKVANE_REGISTRY_DIR", "SOMETHING_ELSE"})
        EXPECT_FALSE(own.contains(gone)) << gone;

    // Without a session folder of the user's there is none, and the bus address names the
    // standard place, where nobody else can put a socket.
    ASSERT_TRUE(QDir(Runtime()).removeRecursively());
    const EnvironmentMap bare = OwnEnvironment(env, kOwn);
    EXPECT_FALSE(bare.contains("XDG_RUNTIME_DIR"));
    EXPECT_EQ(bare.value("DBUS_SESSION_BUS_ADDRESS"), OwnBus());
}

TEST_F(EnvironmentRule, EachVariableKeptFromAnotherUserHasTheFormItsMeaningAllows)
{
    const QByteArray cookies = Native(dir.file(QStringLiteral("home/cookies")));
    const QByteArray fifo = Native(dir.file(QStringLiteral("home/fifo")));
    const QByteArray zero = Native(dir.file(QStringLiteral("home/zero")));
    const QByteArray large = Native(dir.file(QStringLiteral("home/large")));
    ASSERT_TRUE(tvtest::WriteFile(QFile::decodeName(cookies), QByteArray(100, 'c')));
    ASSERT_TRUE(tvtest::WriteFile(QFile::decodeName(large), QByteArray(64 * 1024 + 1, 'c')));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", zero.constData()), 0);
    const struct
    {
        const char *Name;
        std::vector<QByteArray> Kept;
        std::vector<QByteArray> Dropped;
    } cases[] = {
        {"DISPLAY",
         {":0", ":1.0", "localhost:10.0", "unix:0"},
         {"/tmp/.X11-unix/X0", "tcp/host:0", "host:", ":x", ":0;y"}},
        {"XAUTHORITY", {cookies}, {fifo, zero, large, Native(dir.path()), "home/cookies", cookies + ".missing"}},
        {"WAYLAND_DISPLAY", {"wayland-0"}, {"/tmp/socket", "../wayland-0", "a/b"}},
        {"XDG_SESSION_TYPE", {"x11", "wayland"}, {"x11/..", ""}},
        {"XDG_CURRENT_DESKTOP", {"GNOME", "ubuntu:GNOME"}, {"GNOME;x", "/usr/share"}},
        {"DESKTOP_SESSION", {"gnome-xorg"}, {"/usr/share/xsessions/plasma"}},
        {"LANG", {"zh_CN.UTF-8", "C", "sr_RS@latin"}, {"/home/someone/locale", "..", "zh_CN.UTF-8/../x"}},
        {"LANGUAGE", {"zh_CN:en"}, {"zh_CN:/home/someone/locale"}},
        {"LC_TIME", {"de_DE.UTF-8"}, {"../x"}},
        // The ':' asks for a file; a name is still read from the system's zone folder.
        {"TZ",
         {"CET-1CEST", "CET-1CEST,M3.5.0,M10.5.0/3", "Europe/Paris", ":Europe/Paris"},
         {":/home/someone/zone", "/usr/share/zoneinfo/Europe/Paris", "../../home/someone/zone", "Europe/../../x"}},
        {"TERM", {"xterm-256color"}, {"../../tmp/x", "x/y"}},
        {"QT_QPA_PLATFORM",
         {"xcb", "wayland", "wayland;xcb"},
         {"vnc", "vnc:port=5977", "offscreen:configfile=/home/someone/c.json", "linuxfb:fb=/home/someone/fb", "xcb:x",
          "eglfs"}},
        {"QT_SCALE_FACTOR", {"1.5", "2"}, {"-1", "1e309", "1;x"}},
        {"QT_SCREEN_SCALE_FACTORS", {"1;1.5", "HDMI-1=2;eDP-1=1.25"}, {"HDMI-1=/x", "1;"}},
        {"QT_SCALE_FACTOR_ROUNDING_POLICY", {"PassThrough"}, {"Other"}},
        {"QT_FONT_DPI", {"96"}, {"96dpi"}},
        {"QT_LOGGING_RULES", {"qt.*.debug=true;taskvane.*.warning=true"}, {"a\001b"}},
        // Nothing else is kept, whatever it says.
        {"WAYLAND_SOCKET", {}, {"3"}},
        {"LD_PRELOAD", {}, {"libgtk3-nocsd.so.0"}},
        {"QT_QPA_PLATFORMTHEME", {}, {"gtk3"}},
        {"LC_OTHER", {}, {"C"}},
    };
    for (const auto &c : cases)
        for (const bool kept : {true, false})
            for (const QByteArray &value : kept ? c.Kept : c.Dropped) {
                EnvironmentMap env = With("SUDO_UID", QByteArray::number(tvtest::kOtherUid));
                env.insert(c.Name, value);
                const EnvironmentMap own = OwnEnvironment(env, kOwn);
                EXPECT_EQ(own.contains(c.Name), kept) << c.Name << "=" << value.constData();
                if (kept) {
                    EXPECT_EQ(own.value(c.Name), value) << c.Name;
                }
            }
}

TEST_F(EnvironmentRule, CodeAndProgramsComeOnlyFromFoldersNobodyElseCanChange)
{
    // Whatever the environment is otherwise: open folders (sticky or not, or below one), links to
    // them, relative and missing ones, and another user's, are left out.
    for (const auto &[name, mode] : {std::pair{"open", 0777}, {"group", 0775}, {"sticky", 01777}})
        ASSERT_TRUE(MakeDir(dir.file(QLatin1String(name)), mode_t(mode)));
    ASSERT_TRUE(MakeDir(dir.file(QStringLiteral("open/below")), 0755));
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("open")), dir.file(QStringLiteral("link"))));
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root ||
                (MakeDir(dir.file(QStringLiteral("theirs")), 0755, tvtest::kOtherUid) &&
                 MakeDir(dir.file(QStringLiteral("theirs/inner")), 0755)));
    QByteArray list = Good();
    for (const char *bad : {"open", "group", "sticky", "open/below", "link", "missing", "theirs", "theirs/inner"})
        list += ':' + Native(dir.file(QLatin1String(bad)));
    list += ":plugins::" + Good();
    for (const char *name :
         {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "GTK_PATH", "GIO_EXTRA_MODULES", "LIBGL_DRIVERS_PATH",
          "__EGL_VENDOR_LIBRARY_DIRS", "GCONV_PATH", "LD_LIBRARY_PATH", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"}) {
        EXPECT_EQ(OwnEnvironment(With(name, list), kOwn).value(name), Good() + ':' + Good()) << name;
        EXPECT_FALSE(OwnEnvironment(With(name, Native(dir.file(QStringLiteral("open")))), kOwn).contains(name));
    }
    EXPECT_EQ(OwnEnvironment(With("PATH", list + ":/usr/bin"), kOwn).value("PATH"),
              Good() + ':' + Good() + ":/usr/bin");
    EXPECT_EQ(OwnEnvironment(With("PATH", Native(dir.file(QStringLiteral("open")))), kOwn).value("PATH"),
              platform::system::DefaultSearchPath(::geteuid()));

    // Files that are loaded, and browsers given by their path.
    for (const char *file : {"good/lib.so", "open/lib.so", "good/writable.so"})
        ASSERT_TRUE(tvtest::WriteFile(dir.file(QLatin1String(file)), "x"));
    ASSERT_EQ(::chmod(Native(dir.file(QStringLiteral("good/writable.so"))).constData(), 0666), 0);
    const QByteArray good = Good() + "/lib.so", open = Native(dir.file(QStringLiteral("open/lib.so")));
    // The loader looks for a library named without a folder in the system's library folders (and
    // those of LD_LIBRARY_PATH, judged above); any other file named without one would be looked
    // for in the working folder.
    for (const auto &[name, bare] : {std::pair{"LD_PRELOAD", true},
                                     {"LD_AUDIT", true},
                                     {"__EGL_VENDOR_LIBRARY_FILENAMES", false},
                                     {"GTK_IM_MODULE_FILE", false}})
        EXPECT_EQ(
            OwnEnvironment(With(name, good + ':' + open + ':' + Good() + "/writable.so:lib.so"), kOwn).value(name),
            bare ? good + ":lib.so" : good)
            << name;
    EXPECT_EQ(OwnEnvironment(With("LD_PRELOAD", "libgtk3-nocsd.so.0 " + open + ' ' + good), kOwn).value("LD_PRELOAD"),
              "libgtk3-nocsd.so.0:" + good);
    EXPECT_EQ(OwnEnvironment(With("GTK_MODULES", "gail:" + open + ":atk-bridge"), kOwn).value("GTK_MODULES"),
              "gail:atk-bridge");
    EXPECT_EQ(OwnEnvironment(With("BROWSER", good + " --new %s:" + open + ":firefox:./browser"), kOwn).value("BROWSER"),
              good + " --new %s:firefox");
}

TEST_F(EnvironmentRule, BusAddressesAreUsedOnlyForSocketsOfTheRunningUser)
{
    const QByteArray own = OwnBus();
    EXPECT_TRUE(IsOwnBusAddress(own, true));
    EXPECT_TRUE(IsOwnBusAddress(own + ",guid=0123", false));
    for (const QByteArray &refused :
         {QByteArray("tcp:host=127.0.0.1,port=4"), QByteArray("unixexec:path=/bin/true"), QByteArray("autolaunch:"),
          QByteArray("unix:path=relative/bus"), QByteArray("unix:tmpdir=/tmp"), own + ";tcp:host=localhost,port=4",
          "unix:path=" + Native(dir.file(QStringLiteral("missing"))), QByteArray()})
        EXPECT_FALSE(IsOwnBusAddress(refused, true)) << refused.constData();
    EXPECT_EQ(OwnEnvironment(With("DBUS_SYSTEM_BUS_ADDRESS", own), kOwn).value("DBUS_SYSTEM_BUS_ADDRESS"), own);
    EXPECT_FALSE(
        OwnEnvironment(With("DBUS_SYSTEM_BUS_ADDRESS", "tcp:host=a,port=4"), kOwn).contains("DBUS_SYSTEM_BUS_ADDRESS"));
    EXPECT_EQ(
        OwnEnvironment(With("DBUS_SESSION_BUS_ADDRESS", "tcp:host=a,port=4"), kOwn).value("DBUS_SESSION_BUS_ADDRESS"),
        own);
    if (::geteuid() != 0)
        return;

    // Another user's socket file, the user's own in another user's folder, and an abstract
    // socket another user listens on, asked without a word said to it.
    const QString theirs = dir.file(QStringLiteral("theirs"));
    ASSERT_TRUE(MakeDir(theirs, 0755, tvtest::kOtherUid));
    ASSERT_TRUE(BindSocket(theirs + QStringLiteral("/system"), tvtest::kOtherUid));
    ASSERT_TRUE(BindSocket(theirs + QStringLiteral("/mine")));
    for (const char *socket : {"/system", "/mine"})
        EXPECT_FALSE(IsOwnBusAddress("unix:path=" + Native(theirs) + socket, true)) << socket;
    const QString name = QStringLiteral("taskvane-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    tvtest::OtherListener listener(QLatin1Char('@') + name);
    if (!listener.Failure.isEmpty())
        GTEST_SKIP() << listener.Failure.toStdString();
    const QByteArray abstract = "unix:abstract=" + name.toLatin1();
    EXPECT_FALSE(IsOwnBusAddress(abstract, true));
    EXPECT_FALSE(ForeignEnvironmentReason(With("DBUS_SESSION_BUS_ADDRESS", abstract), kOwn).isEmpty());
    EXPECT_EQ(OwnEnvironment(With("DBUS_SESSION_BUS_ADDRESS", abstract), kOwn).value("DBUS_SESSION_BUS_ADDRESS"), own);
    EXPECT_FALSE(listener.WasTalkedTo());
}
