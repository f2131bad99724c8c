#include "platform/system/Environment.h"

#include "platform/Logging.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/RegularFile.h"
#include "platform/system/UserSession.h"

#include <QFile>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

namespace platform::system {

namespace {

// The forms a variable kept from another user's environment may take.
enum class Form {
    DisplayName,    // [host]:display[.screen]: an X server by its name, never a socket's path
    CookieFile,     // a regular file of at most kCookieFileLimit bytes, read once
    SocketName,     // a plain name, looked for in the session folder
    Name,           // one word: letters and digits, then also "_.+-"
    NameList,       // names separated by ':'
    LocaleName,     // a name the C library looks for in the system's locale folders
    LocaleList,     // locale names separated by ':'
    ZoneName,       // a zone by its name in the system's zone folder, or a zone rule
    PlatformName,   // a display platform of a fixed list, without options
    Number,         // a decimal number
    ScreenFactors,  // numbers, or screen=number, separated by ';'
    RoundingPolicy, // one of the toolkit's rounding policies
    Text,           // printable text
};

struct KeptVariable
{
    const char *Name;
    Form Shape;
};

// Everything taken from another user's environment, and the form it must have; the rest is
// dropped. None of it loads code, names a file or folder of theirs (but the display's cookies,
// which are read once, bounded) or chooses a peer other than the display itself.
const KeptVariable kKeptFromAnother[] = {
    // The display: which server, its cookies, the compositor's socket in the session folder.
    {"DISPLAY", Form::DisplayName},
    {"XAUTHORITY", Form::CookieFile},
    {"WAYLAND_DISPLAY", Form::SocketName},
    // The session's kind and desktop: the toolkit chooses its platform and theme by them, among
    // its own plugins.
    {"XDG_SESSION_TYPE", Form::Name},
    {"XDG_CURRENT_DESKTOP", Form::NameList},
    {"XDG_SESSION_DESKTOP", Form::Name},
    {"DESKTOP_SESSION", Form::Name},
    // The locale: a name with a slash is a folder the C library would read the locale from.
    {"LANG", Form::LocaleName},
    {"LANGUAGE", Form::LocaleList},
    {"LC_ALL", Form::LocaleName},
    {"LC_CTYPE", Form::LocaleName},
    {"LC_NUMERIC", Form::LocaleName},
    {"LC_TIME", Form::LocaleName},
    {"LC_COLLATE", Form::LocaleName},
    {"LC_MONETARY", Form::LocaleName},
    {"LC_MESSAGES", Form::LocaleName},
    {"LC_PAPER", Form::LocaleName},
    {"LC_NAME", Form::LocaleName},
    {"LC_ADDRESS", Form::LocaleName},
    {"LC_TELEPHONE", Form::LocaleName},
    {"LC_MEASUREMENT", Form::LocaleName},
    {"LC_IDENTIFICATION", Form::LocaleName},
    // A zone by name is read from the system's zone folder; a path would be any file.
    {"TZ", Form::ZoneName},
    // The terminal's kind, looked up by name in the system's terminal database.
    {"TERM", Form::Name},
    {"COLORTERM", Form::Name},
    // The toolkit's platform: another one serves the window elsewhere (a network port), and
    // options after the name open files.
    {"QT_QPA_PLATFORM", Form::PlatformName},
    // Scaling, as numbers.
    {"QT_SCALE_FACTOR", Form::Number},
    {"QT_SCREEN_SCALE_FACTORS", Form::ScreenFactors},
    {"QT_AUTO_SCREEN_SCALE_FACTOR", Form::Number},
    {"QT_ENABLE_HIGHDPI_SCALING", Form::Number},
    {"QT_SCALE_FACTOR_ROUNDING_POLICY", Form::RoundingPolicy},
    {"QT_FONT_DPI", Form::Number},
    // Which messages are written, as text.
    {"QT_LOGGING_RULES", Form::Text},
};

bool IsAsciiAlnum(char C)
{
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9');
}

bool IsAsciiDigits(const QByteArray &Value, qsizetype Most)
{
    return !Value.isEmpty() && Value.size() <= Most &&
        std::all_of(Value.cbegin(), Value.cend(), [](char C) { return C >= '0' && C <= '9'; });
}

// A word that begins with a letter or digit, of those and `Others`, of at most `Most` bytes.
bool IsWord(const QByteArray &Value, const char *Others, qsizetype Most)
{
    if (Value.isEmpty() || Value.size() > Most || !IsAsciiAlnum(Value.front()))
        return false;
    return std::all_of(Value.cbegin(), Value.cend(),
                       [Others](char C) { return IsAsciiAlnum(C) || (C != '\0' && std::strchr(Others, C)); });
}

bool IsName(const QByteArray &Value)
{
    return IsWord(Value, "_.+-", 64);
}

// Locale names: "zh_CN.UTF-8", "sr_RS@latin", "C".
bool IsLocaleName(const QByteArray &Value)
{
    return IsWord(Value, "_.+-@=,", 128) && !Value.contains("..");
}

bool IsEachOf(const QByteArray &List, char Separator, bool (*Check)(const QByteArray &))
{
    if (List.isEmpty())
        return false;
    const QList<QByteArray> items = List.split(Separator);
    return std::all_of(items.cbegin(), items.cend(), Check);
}

bool IsNumber(const QByteArray &Value)
{
    const qsizetype dot = Value.indexOf('.');
    if (dot < 0)
        return IsAsciiDigits(Value, 4);
    return IsAsciiDigits(Value.left(dot), 4) && IsAsciiDigits(Value.mid(dot + 1), 6);
}

bool IsDisplayName(const QByteArray &Value)
{
    const qsizetype colon = Value.lastIndexOf(':');
    if (colon < 0 || Value.size() > 255)
        return false;
    const QByteArray host = Value.left(colon);
    if (!host.isEmpty() && !IsWord(host, "_.-", 253))
        return false;
    const QByteArray rest = Value.mid(colon + 1);
    const qsizetype dot = rest.indexOf('.');
    return dot < 0 ? IsAsciiDigits(rest, 5) : IsAsciiDigits(rest.left(dot), 5) && IsAsciiDigits(rest.mid(dot + 1), 3);
}

// A zone rule ("CET-1CEST,M3.5.0,M10.5.0/3") or a name of the zone folder ("Europe/Paris"),
// with or without the ':' that asks for a file: either way the C library reads it from the
// system's zone folder when it is not a path, and it never leads out of there.
bool IsZoneName(const QByteArray &Value)
{
    const QByteArray zone = Value.startsWith(':') ? Value.mid(1) : Value;
    if (zone.isEmpty() || zone.size() > 128 || zone.startsWith('/') || zone.contains(".."))
        return false;
    return std::all_of(zone.cbegin(), zone.cend(), [](char C) { return C > ' ' && C < 0x7F; });
}

bool IsPlatformName(const QByteArray &Value)
{
    return IsEachOf(Value, ';', [](const QByteArray &Platform) {
#if TASKVANE_TEST_VARIABLES
        // The tests run the program without a screen.
        if (Platform == "offscreen")
            return true;
#endif
        return Platform == "xcb" || Platform == "wayland";
    });
}

bool IsScreenFactors(const QByteArray &Value)
{
    return IsEachOf(Value, ';', [](const QByteArray &Factor) {
        const qsizetype eq = Factor.indexOf('=');
        return eq < 0 ? IsNumber(Factor) : IsName(Factor.left(eq)) && IsNumber(Factor.mid(eq + 1));
    });
}

bool IsText(const QByteArray &Value)
{
    return !Value.isEmpty() && Value.size() <= 4096 &&
        std::all_of(Value.cbegin(), Value.cend(), [](char C) { return C >= ' ' && C < 0x7F; });
}

// The display's cookies: read once, as a regular file of a file system that holds files, without
// waiting for a FIFO, a device or a lease, and of bounded size.
std::optional<QByteArray> CookiesOf(const QByteArray &Path)
{
    if (!Path.startsWith('/'))
        return std::nullopt;
    return files::ReadRegularFile(QFile::decodeName(Path), kCookieFileLimit);
}

// Whether `Value` has the form `Shape` allows; the cookies go to `Cookies` when they are read.
bool HasForm(Form Shape, const QByteArray &Value, QByteArray *Cookies)
{
    switch (Shape) {
    case Form::DisplayName:
        return IsDisplayName(Value);
    case Form::CookieFile:
        if (const auto cookies = CookiesOf(Value)) {
            if (Cookies)
                *Cookies = *cookies;
            return true;
        }
        return false;
    case Form::SocketName:
    case Form::Name:
        return IsName(Value);
    case Form::NameList:
        return IsEachOf(Value, ':', IsName);
    case Form::LocaleName:
        return IsLocaleName(Value);
    case Form::LocaleList:
        return IsEachOf(Value, ':', IsLocaleName);
    case Form::ZoneName:
        return IsZoneName(Value);
    case Form::PlatformName:
        return IsPlatformName(Value);
    case Form::Number:
        return IsNumber(Value);
    case Form::ScreenFactors:
        return IsScreenFactors(Value);
    case Form::RoundingPolicy:
        return Value == "Round" || Value == "Ceil" || Value == "Floor" || Value == "RoundPreferFloor" ||
            Value == "PassThrough";
    case Form::Text:
        return IsText(Value);
    }
    return false;
}

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
const QList<QByteArray> kFileLists = {
    "__EGL_VENDOR_LIBRARY_FILENAMES", "VK_ICD_FILENAMES", "VK_DRIVER_FILES", "GTK_IM_MODULE_FILE",
    "GDK_PIXBUF_MODULE_FILE",         "OPENSSL_CONF",     "BASH_ENV",        "ENV"};

// Modules and libraries by name (looked for in the folders above, or the loader's own) or by
// path; the loader's lists may be separated by blanks too.
const QList<QByteArray> kModuleLists = {"GTK_MODULES", "GTK3_MODULES", "LD_PRELOAD", "LD_AUDIT"};

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

bool KeptFromAnother(const QByteArray &Name, const QByteArray &Value, QByteArray *Cookies)
{
    for (const KeptVariable &kept : kKeptFromAnother)
        if (Name == kept.Name)
            return HasForm(kept.Shape, Value, Cookies);
    return IsTestVariable(Name);
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
// connections to the buses' sockets. The display's cookies kept from another user's environment
// go to `Cookies`, as they were read.
EnvironmentMap OwnEnvironmentOf(const EnvironmentMap &Env, const ProcessFacts &Facts, const QString &ForeignReason,
                                QByteArray *Cookies = nullptr)
{
    const bool foreign = !ForeignReason.isEmpty();
    EnvironmentMap own;
    if (foreign) {
        for (auto it = Env.cbegin(); it != Env.cend(); ++it)
            if (KeptFromAnother(it.key(), it.value(), Cookies))
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
            SetOrRemove(own, name, Filtered(own.value(name), false, IsTrustedFileEntry));
    for (const QByteArray &name : kModuleLists)
        if (own.contains(name))
            SetOrRemove(own, name, Filtered(own.value(name), name == "LD_PRELOAD", [](const QByteArray &Entry) {
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

namespace {

// The private copy of the display's cookies the toolkit reads while it starts, and the name of
// the file they were read from.
struct ToolkitCookies
{
    int Fd = -1;
    QByteArray Name;
};

ToolkitCookies &HeldCookies()
{
    static ToolkitCookies cookies;
    return cookies;
}

// A copy of `Cookies` nobody else can change, as a path this process reaches it by; empty when
// none could be made.
QByteArray PrivateCopy(const QByteArray &Cookies, int &Fd)
{
    Fd = ::memfd_create("taskvane-display-cookies", MFD_CLOEXEC);
    if (Fd < 0)
        return QByteArray();
    qsizetype written = 0;
    while (written < Cookies.size()) {
        const ssize_t n = ::write(Fd, Cookies.constData() + written, std::size_t(Cookies.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(Fd);
            Fd = -1;
            errno = err; // the caller names it
            return QByteArray();
        }
        written += n;
    }
    return "/proc/self/fd/" + QByteArray::number(Fd);
}

} // namespace

void SettleEnvironment()
{
    const EnvironmentMap before = CurrentEnvironment();
    const ProcessFacts facts = ProcessFacts::OfThisProcess();
    const QString reason = ForeignEnvironmentReason(before, facts);
    QByteArray cookies;
    EnvironmentMap after = OwnEnvironmentOf(before, facts, reason, &cookies);
    // Without one the toolkit would make a session folder of its own in /tmp, whose name anyone
    // may take first.
    if (!after.contains("XDG_RUNTIME_DIR"))
        if (const auto folder = InstanceFolder::Open())
            after.insert("XDG_RUNTIME_DIR", QFile::encodeName(folder->Path()));
    // Another user's cookie file is read by its name while the toolkit connects: a copy of what
    // was checked, so that the file cannot turn into a FIFO or grow without end in between.
    if (!reason.isEmpty() && after.contains("XAUTHORITY")) {
        ToolkitCookies &held = HeldCookies();
        const QByteArray copy = PrivateCopy(cookies, held.Fd);
        if (copy.isEmpty()) {
            qCWarning(lcPlatform, "environment: no private copy of the display's cookies: %s", std::strerror(errno));
            after.remove("XAUTHORITY");
        } else {
            held.Name = after.value("XAUTHORITY");
            after.insert("XAUTHORITY", copy);
        }
    }
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
    // Said whatever the logging rules: the display is likely to refuse the connection now, and the
    // toolkit's own message would not tell why.
    if (before.contains("XAUTHORITY") && !after.contains("XAUTHORITY"))
        qCCritical(lcPlatform).noquote()
            << "XAUTHORITY" << QFile::decodeName(before.value("XAUTHORITY"))
            << "of another user's environment was left out: not a regular file of at most" << kCookieFileLimit
            << "bytes that reads at once; the display may refuse the connection without it";
}

void ToolkitStarted()
{
    ToolkitCookies &held = HeldCookies();
    if (held.Fd < 0)
        return;
    qputenv("XAUTHORITY", held.Name);
    ::close(held.Fd);
    held.Fd = -1;
}

} // namespace platform::system
