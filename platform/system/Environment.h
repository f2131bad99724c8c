#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace platform::system {

// An environment: variable names and their values, as the bytes they are.
using EnvironmentMap = QMap<QByteArray, QByteArray>;

// What the process itself tells about the user it runs as and about who started it.
struct ProcessFacts
{
    quint32 EffectiveUid = 0;
    quint32 RealUid = 0;
    bool SecureExec = false;         // the kernel's AT_SECURE: set-user-id, or capabilities gained
    std::optional<quint32> LoginUid; // the user the login session was opened for, when known

    static ProcessFacts OfThisProcess();
};

// The first fact that shows `Env` to be another user's environment for a process with `Facts`, as
// a text for the log; empty when nothing does. The facts: privileges the caller lacks (secure
// execution, real and effective user differ), SUDO_UID or PKEXEC_UID naming another user, a login
// session of another user, and a home, XDG base or runtime folder or a bus socket of another
// user's (neither the running user's nor root's).
QString ForeignEnvironmentReason(const EnvironmentMap &Env, const ProcessFacts &Facts);

// The environment the program runs with, given the one it was started with.
// When that one is another user's (see ForeignEnvironmentReason), only what the display, the
// locale and the terminal need is kept, each variable in the form its meaning allows (a display
// name, a socket name, a locale or zone name, a platform from a fixed list, numbers, text; the
// display's cookies as a regular file of bounded size), and nothing else (in a build for tests
// the TASKVANE_* and sanitizer variables too); HOME, USER, LOGNAME and SHELL come from the
// account database, PATH is the system's default, the XDG folder variables are left to their
// defaults, XDG_RUNTIME_DIR is the user's own session folder (or unset) and the session bus is
// the one in it. Whatever the environment is, every folder of a list that loads code
// (QT_PLUGIN_PATH, GTK, GIO, GL and EGL driver paths, GCONV_PATH, LD_LIBRARY_PATH, ...), of
// XDG_CONFIG_DIRS and XDG_DATA_DIRS and of PATH must be a trusted folder
// (files::IsTrustedFolder), every file such a variable names (LD_PRELOAD,
// __EGL_VENDOR_LIBRARY_FILENAMES, ...) a trusted file, and every browser BROWSER names a program
// on that path or a trusted file; anything else is left out. A library named without a folder
// (LD_PRELOAD, GTK_MODULES) stays: it is looked for in those folders only. A bus address stays
// only when IsOwnBusAddress.
EnvironmentMap OwnEnvironment(const EnvironmentMap &Env, const ProcessFacts &Facts);

// The most of the display's cookie file that is read from another user's environment.
constexpr qint64 kCookieFileLimit = qint64(64) * 1024;

// The process's environment as it stands.
EnvironmentMap CurrentEnvironment();

// Replaces the process's environment by OwnEnvironment of it. The first thing main() does: before
// any thread and before the application object, which loads plugins and connects to buses as the
// environment says. Everything the program starts inherits the result. Without a session folder
// of the user's, XDG_RUNTIME_DIR is the program's own private folder (InstanceFolder), so that the
// toolkit makes none of its own in /tmp. The display's cookies kept from another user's
// environment are handed to the toolkit as a private copy of what was checked, which the user
// cannot change before the toolkit reads it, until ToolkitStarted().
void SettleEnvironment();

// Called once the application object exists (it has reached the display): the cookie file's name
// goes back into the environment for the programs the program starts.
void ToolkitStarted();

// A D-Bus address whose every entry is a local socket ("unix:path=" or "unix:abstract=") that
// belongs to the running user (for the system bus: to root or the running user). A socket file is
// looked at along with the folders on the way to it; an abstract socket is connected to and its
// listener's user asked. Every other transport is refused.
bool IsOwnBusAddress(const QByteArray &Address, bool SystemBus);

// The session bus to call the user's own desktop services on: DBUS_SESSION_BUS_ADDRESS, looked at
// again now (IsOwnBusAddress); empty when it does not pass.
QString SessionBusAddress();

// The search path of a process of user `Uid` that was given none: the system's default.
QByteArray DefaultSearchPath(quint32 Uid);

} // namespace platform::system
