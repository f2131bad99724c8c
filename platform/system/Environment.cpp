#include "platform/system/Environment.h"

#include "platform/Logging.h"
#include "platform/files/OwnFolder.h"
#include "platform/system/UserSession.h"

#include <QFile>
#include <QList>
#include <QSet>
#include <QStringList>

#include <cstdlib>
#include <functional>

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

namespace platform::system {

namespace {

// What the display, the locale and the terminal need, kept from another user's environment: none
// of it loads code or chooses a peer other than the display itself.
const QSet<QByteArray> kDisplayVariables = {"DISPLAY",
                                            "XAUTHORITY",
                                            "WAYLAND_DISPLAY",
                                            "WAYLAND_SOCKET",
                                            "XDG_SESSION_TYPE",
                                            "XDG_CURRENT_DESKTOP",
                                            "XDG_SESSION_DESKTOP",
                                            "DESKTOP_SESSION",
                                            "TERM",
                                            "COLORTERM",
                                            "QT_QPA_PLATFORM",
                                            "QT_SCALE_FACTOR",
                                            "QT_SCREEN_SCALE_FACTORS",
                                            "QT_AUTO_SCREEN_SCALE_FACTOR",
                                            "QT_ENABLE_HIGHDPI_SCALING",
                                            "QT_SCALE_FACTOR_ROUNDING_POLICY",
                                            "QT_FONT_DPI",
                                            "QT_LOGGING_RULES"};

// Lists of folders that code is loaded from (or, for the XDG lists, that the system's own
// configuration and data are read from).
const QList<QByteArray> kFolderLists = {"QT_PLUGIN_PATH",
                                        "QT_QPA_PLATFORM_PLUGIN_PATH",
                                        "QML2_IMPORT_PATH",
                                        "QML_IMPORT_PATH",
                                        "GTK_PATH",
                                        "GTK_EXE_PREFIX",
                                        "GTK_DATA_PREFIX",
                                        "GIO_EXTRA_MODULES",
                                        "GIO_MODULE_DIR",
                                        "GDK_PIXBUF_MODULEDIR",
                                        "GST_PLUGIN_PATH",
                                        "GST_PLUGIN_PATH_1_0",
                                        "GST_PLUGIN_SYSTEM_PATH",
                                        "GST_PLUGIN_SYSTEM_PATH_1_0",
                                        "LIBGL_DRIVERS_PATH",
                                        "LIBGL_DRIVERS_DIR",
                                        "__EGL_VENDOR_LIBRARY_DIRS",
                                        "GBM_BACKENDS_PATH",
                                        "LIBVA_DRIVERS_PATH",
                                        "VDPAU_DRIVER_PATH",
                                        "VK_LAYER_PATH",
                                        "VK_ADD_LAYER_PATH",
                                        "GCONV_PATH",
                                        "LD_LIBRARY_PATH",
                                        "OPENSSL_MODULES",
                                        "OPENSSL_ENGINES",
                                        "SASL_PATH",
                                        "XLOCALEDIR",
                                        "LOCPATH",
                                        "XDG_CONFIG_DIRS",
                                        "XDG_DATA_DIRS"};

// Files whose code is loaded, or that name code to load or commands to run.
const QList<QByteArray> kFileLists = {"__EGL_VENDOR_LIBRARY_FILENAMES",
                                      "VK_ICD_FILENAMES",
                                      "VK_DRIVER_FILES",
                                      "GTK_IM_MODULE_FILE",
                                      "GDK_PIXBUF_MODULE_FILE",
                                      "LD_PRELOAD",
                                      "LD_AUDIT",
                                      "OPENSSL_CONF",
                                      "BASH_ENV",
                                      "ENV"};

// Modules by name (looked for in the folders above) or by path.
const QList<QByteArray> kModuleLists = {"GTK_MODULES", "GTK3_MODULES"};

// Commands that open an address: a program found on the search path, or a path.
const QList<QByteArray> kBrowserLists = {"BROWSER", "DEFAULT_BROWSER"};

const QList<QByteArray> kBaseFolderVariables = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"};

QString Decode(const QByteArray &Bytes)
{
    return QFile::decodeName(Bytes);
}

// The stand-ins of a build for tests. The key stores' folder is no stand-in: it is read in every
// build, and the stores another user chose are not the running user's.
bool IsTestVariable(const QByteArray &Name)
{
#if TASKVANE_TEST_VARIABLES
    return (Name.startsWith("TASKVANE_") && Name != "TASKVANE_REGISTRY_DIR") || Name == "ASAN_OPTIONS" ||
        Name == "LSAN_OPTIONS" || Name == "UBSAN_OPTIONS";
#else
    Q_UNUSED(Name);
    return false;
#endif
}

bool KeptFromAnother(const QByteArray &Name, const QByteArray &Value)
{
    // A locale "name" with a slash is a folder the C library reads the locale from. A zone name
    // (Europe/Paris) is read from the system's zone folder; a path, or a way out of that folder,
    // names any file.
    if (Name == "LANG" || Name == "LANGUAGE" || Name.startsWith("LC_"))
        return !Value.contains('/');
    if (Name == "TZ") {
        const QByteArray zone = Value.startsWith(':') ? Value.mid(1) : Value;
        return !zone.startsWith('/') && !zone.contains("..");
    }
    return kDisplayVariables.contains(Name) || IsTestVariable(Name);
}

// The owner of what `Path` names (links followed), when it is absolute and there.
std::optional<quint32> OwnerOf(const QByteArray &Path)
{
    struct stat st = {};
    if (!Path.startsWith('/') || ::stat(Path.constData(), &st) != 0)
        return std::nullopt;
    return quint32(st.st_uid);
}

bool IsAnothers(std::optional<quint32> Owner, quint32 Me)
{
    return Owner && *Owner != Me && *Owner != 0;
}

// The socket one entry of a bus address names: a path, or an abstract name.
struct BusSocket
{
    QByteArray Path;
    QByteArray Abstract;
};

std::optional<BusSocket> SocketOfEntry(const QByteArray &Entry)
{
    if (!Entry.startsWith("unix:"))
        return std::nullopt;
    BusSocket socket;
    for (const QByteArray &pair : Entry.mid(5).split(',')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq <= 0)
            return std::nullopt;
        const QByteArray key = pair.left(eq);
        const QByteArray value = QByteArray::fromPercentEncoding(pair.mid(eq + 1));
        if (value.isEmpty() || value.contains('\0'))
            return std::nullopt;
        if (key == "guid")
            continue;
        if ((key != "path" && key != "abstract") || !socket.Path.isEmpty() || !socket.Abstract.isEmpty())
            return std::nullopt;
        (key == "path" ? socket.Path : socket.Abstract) = value;
    }
    if (socket.Path.isEmpty() == socket.Abstract.isEmpty())
        return std::nullopt;
    if (!socket.Path.isEmpty() && !socket.Path.startsWith('/'))
        return std::nullopt;
    return socket;
}

// Whose socket it is. To be used, a socket file must also be reached by a path nobody else can
// change (`ToUse`); to tell whose environment it is, its owner is enough.
std::optional<quint32> SocketOwner(const BusSocket &Socket, bool ToUse)
{
    if (!Socket.Abstract.isEmpty())
        return AbstractSocketOwner(Socket.Abstract);
    struct stat st = {};
    if (::lstat(Socket.Path.constData(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
        (ToUse && !files::IsTrustedPath(Decode(Socket.Path))))
        return std::nullopt;
    return quint32(st.st_uid);
}

QList<BusSocket> SocketsOf(const QByteArray &Address)
{
    QList<BusSocket> sockets;
    for (const QByteArray &entry : Address.split(';'))
        if (const auto socket = SocketOfEntry(entry))
            sockets << *socket;
    return sockets;
}

// A path as a D-Bus address value: every byte outside the few that may stand as they are escaped.
QByteArray BusValue(const QString &Path)
{
    return QFile::encodeName(Path).toPercentEncoding("/*", "~");
}

// The entries of a list that pass `Keep`, in their order; the separators are ':' (and blanks
// where the variable allows them).
QByteArray Filtered(const QByteArray &List, bool BlanksToo, const std::function<bool(const QByteArray &)> &Keep)
{
    QByteArray normalized = List;
    if (BlanksToo)
        normalized.replace(' ', ':');
    QList<QByteArray> kept;
    for (const QByteArray &entry : normalized.split(':'))
        if (!entry.isEmpty() && Keep(entry))
            kept << entry;
    return kept.join(':');
}

bool IsTrustedFolderEntry(const QByteArray &Entry)
{
    return Entry.startsWith('/') && files::IsTrustedFolder(Decode(Entry));
}

bool IsTrustedFileEntry(const QByteArray &Entry)
{
    return Entry.startsWith('/') && files::IsTrustedFile(Decode(Entry));
}

// A browser entry runs its first word: a program looked up on the (trusted) search path, or a
// path that must be a trusted file.
bool IsTrustedCommandEntry(const QByteArray &Entry)
{
    const QByteArray program = Entry.trimmed().split(' ').value(0);
    if (program.isEmpty())
        return false;
    return program.contains('/') ? IsTrustedFileEntry(program) : true;
}

void SetOrRemove(EnvironmentMap &Env, const QByteArray &Name, const QByteArray &Value)
{
    if (Value.isEmpty())
        Env.remove(Name);
    else
        Env.insert(Name, Value);
}

} // namespace

ProcessFacts ProcessFacts::OfThisProcess()
{
    ProcessFacts facts;
    facts.EffectiveUid = ::geteuid();
    facts.RealUid = ::getuid();
    facts.SecureExec = ::getauxval(AT_SECURE) != 0;
    // The kernel's own file, read as it is: a few digits, "4294967295" when no login set it.
    const int fd = ::open("/proc/self/loginuid", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[16] = {};
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        bool ok = false;
        const qulonglong uid = QByteArray(text, n > 0 ? int(n) : 0).trimmed().toULongLong(&ok);
        if (ok && uid < 0xFFFFFFFFull)
            facts.LoginUid = quint32(uid);
    }
    return facts;
}

QString ForeignEnvironmentReason(const EnvironmentMap &Env, const ProcessFacts &Facts)
{
    const quint32 me = Facts.EffectiveUid;
    if (Facts.SecureExec)
        return QStringLiteral("started with privileges its caller lacks");
    if (Facts.RealUid != me)
        return QStringLiteral("the real user %1 is not the effective user %2").arg(Facts.RealUid).arg(me);
    for (const char *name : {"SUDO_UID", "PKEXEC_UID"}) {
        if (!Env.contains(name))
            continue;
        bool ok = false;
        const uint uid = Env.value(name).toUInt(&ok);
        if (!ok || uid != me)
            return QStringLiteral("%1 is %2").arg(QLatin1String(name), QString::fromLatin1(Env.value(name).left(16)));
    }
    if (Facts.LoginUid && *Facts.LoginUid != me)
        return QStringLiteral("the login session is user %1's").arg(*Facts.LoginUid);
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR"})
        if (IsAnothers(OwnerOf(Env.value(name)), me))
            return QStringLiteral("%1 is another user's").arg(QLatin1String(name));
    for (const QByteArray &name : kBaseFolderVariables) {
        const QByteArray dir = Env.value(name);
        if (dir.startsWith('/') && (IsAnothers(OwnerOf(dir), me) || !files::IsTrustedPath(Decode(dir))))
            return QStringLiteral("%1 is another user's").arg(QString::fromLatin1(name));
    }
    for (const BusSocket &socket : SocketsOf(Env.value("DBUS_SESSION_BUS_ADDRESS")))
        if (IsAnothers(SocketOwner(socket, false), me))
            return QStringLiteral("the session bus is another user's");
    for (const BusSocket &socket : SocketsOf(Env.value("DBUS_SYSTEM_BUS_ADDRESS")))
        if (IsAnothers(SocketOwner(socket, false), me))
            return QStringLiteral("the system bus address leads to another user");
    return QString();
}

bool IsOwnBusAddress(const QByteArray &Address, bool SystemBus)
{
    const quint32 me = ::geteuid();
    const QList<QByteArray> entries = Address.split(';');
    bool any = false;
    for (const QByteArray &entry : entries) {
        if (entry.isEmpty())
            continue;
        const auto socket = SocketOfEntry(entry);
        if (!socket)
            return false;
        const auto owner = SocketOwner(*socket, true);
        if (!owner || (*owner != me && !(SystemBus && *owner == 0)))
            return false;
        any = true;
    }
    return any;
}

QString SessionBusAddress()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    return IsOwnBusAddress(address, false) ? QString::fromLatin1(address) : QString();
}

QByteArray DefaultSearchPath(quint32 Uid)
{
    return Uid == 0 ? QByteArrayLiteral("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin")
                    : QByteArrayLiteral("/usr/local/bin:/usr/bin:/bin");
}

namespace {

// OwnEnvironment once ForeignEnvironmentReason is known: finding it out costs folder walks and
// connections to the buses' sockets.
EnvironmentMap OwnEnvironmentOf(const EnvironmentMap &Env, const ProcessFacts &Facts, const QString &ForeignReason)
{
    const bool foreign = !ForeignReason.isEmpty();
    EnvironmentMap own;
    if (foreign) {
        for (auto it = Env.cbegin(); it != Env.cend(); ++it)
            if (KeptFromAnother(it.key(), it.value()))
                own.insert(it.key(), it.value());
        const std::optional<Account> account = AccountOf(Facts.EffectiveUid);
        SetOrRemove(own, "HOME", account ? QFile::encodeName(account->Home) : QByteArray());
        SetOrRemove(own, "USER", account ? QFile::encodeName(account->Name) : QByteArray());
        SetOrRemove(own, "LOGNAME", account ? QFile::encodeName(account->Name) : QByteArray());
        SetOrRemove(own, "SHELL", account ? QFile::encodeName(account->Shell) : QByteArray());
        own.insert("PATH", DefaultSearchPath(Facts.EffectiveUid));
    } else {
        own = Env;
    }

    // The session folder: the user's own as the environment names it, else the standard one. The
    // toolkit and the bus library reach it by name later, so no folder above it may be another's.
    const QByteArray named = Env.value("XDG_RUNTIME_DIR");
    QString runtime;
    if (!foreign && named.startsWith('/') && IsFolderOnlyUserMayEnter(Decode(named)) &&
        files::IsTrustedPath(Decode(named)))
        runtime = Decode(named);
    else
        runtime = UserRuntimeDir(Facts.EffectiveUid);
    SetOrRemove(own, "XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // A display socket named relative to a session folder that is no longer this one.
    const QByteArray wayland = own.value("WAYLAND_DISPLAY");
    if (!wayland.isEmpty() && !wayland.startsWith('/') && named.startsWith('/') && QFile::encodeName(runtime) != named)
        own.insert("WAYLAND_DISPLAY", named + '/' + wayland);

    // The buses: the user's own or none. Without an address the bus library would go looking for
    // one, through the display among others; the standard place in the session folder answers
    // that, and nobody but the user can put a socket there.
    const QByteArray session = own.value("DBUS_SESSION_BUS_ADDRESS");
    if (foreign || !IsOwnBusAddress(session, false)) {
        const QString folder =
            runtime.isEmpty() ? RunUserRoot() + QLatin1Char('/') + QString::number(Facts.EffectiveUid) : runtime;
        own.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + BusValue(folder + QStringLiteral("/bus")));
    }
    if (own.contains("DBUS_STARTER_ADDRESS") && !IsOwnBusAddress(own.value("DBUS_STARTER_ADDRESS"), false)) {
        own.remove("DBUS_STARTER_ADDRESS");
        own.remove("DBUS_STARTER_BUS_TYPE");
    }
    if (own.contains("DBUS_SYSTEM_BUS_ADDRESS") && !IsOwnBusAddress(own.value("DBUS_SYSTEM_BUS_ADDRESS"), true))
        own.remove("DBUS_SYSTEM_BUS_ADDRESS");

    // Whoever set them, code and programs come only from places nobody else can change.
    for (const QByteArray &name : kFolderLists)
        if (own.contains(name))
            SetOrRemove(own, name, Filtered(own.value(name), false, IsTrustedFolderEntry));
    for (const QByteArray &name : kFileLists)
        if (own.contains(name))
            SetOrRemove(own, name, Filtered(own.value(name), name == "LD_PRELOAD", IsTrustedFileEntry));
    for (const QByteArray &name : kModuleLists)
        if (own.contains(name))
            SetOrRemove(own, name, Filtered(own.value(name), false, [](const QByteArray &Entry) {
                            return !Entry.contains('/') || IsTrustedFileEntry(Entry);
                        }));
    QByteArray path = Filtered(own.value("PATH"), false, IsTrustedFolderEntry);
    if (path.isEmpty())
        path = Filtered(DefaultSearchPath(Facts.EffectiveUid), false, IsTrustedFolderEntry);
    SetOrRemove(own, "PATH", path);
    for (const QByteArray &name : kBrowserLists)
        if (own.contains(name))
            SetOrRemove(own, name, Filtered(own.value(name), false, IsTrustedCommandEntry));
    return own;
}

} // namespace

EnvironmentMap OwnEnvironment(const EnvironmentMap &Env, const ProcessFacts &Facts)
{
    return OwnEnvironmentOf(Env, Facts, ForeignEnvironmentReason(Env, Facts));
}

EnvironmentMap CurrentEnvironment()
{
    EnvironmentMap env;
    for (char **entry = environ; entry && *entry; ++entry) {
        const QByteArray text(*entry);
        const qsizetype eq = text.indexOf('=');
        if (eq > 0 && !env.contains(text.left(eq)))
            env.insert(text.left(eq), text.mid(eq + 1));
    }
    return env;
}

void SettleEnvironment()
{
    const EnvironmentMap before = CurrentEnvironment();
    const ProcessFacts facts = ProcessFacts::OfThisProcess();
    const QString reason = ForeignEnvironmentReason(before, facts);
    const EnvironmentMap after = OwnEnvironmentOf(before, facts, reason);
    QStringList changed;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (!after.contains(it.key())) {
            ::unsetenv(it.key().constData());
            changed << QString::fromLatin1(it.key());
        }
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (!before.contains(it.key()) || before.value(it.key()) != it.value()) {
            ::setenv(it.key().constData(), it.value().constData(), 1);
            changed << QString::fromLatin1(it.key());
        }
    if (!reason.isEmpty())
        qCWarning(lcPlatform) << "environment of another user (" << reason << "): only the own one is used";
    if (!changed.isEmpty())
        qCWarning(lcPlatform) << "environment: set anew or left out:" << changed.join(QLatin1Char(' '));
}

} // namespace platform::system
