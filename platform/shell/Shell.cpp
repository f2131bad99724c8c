#include "platform/shell/Shell.h"

#include "platform/Logging.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SystemImageList.h"
#include "platform/processes/Spawn.h"
#include "platform/system/UserSession.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcessEnvironment>

#include <cerrno>
#include <mutex>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::shell {

namespace {

QStringList envDirs(const char *name, const QString &fallback)
{
    QStringList out;
    for (const QString &d : QString::fromLocal8Bit(qgetenv(name)).split(QLatin1Char(':'))) {
        if (d.startsWith(QLatin1Char('/')))
            out << d;
    }
    if (out.isEmpty())
        out = fallback.split(QLatin1Char(':'));
    return out;
}

bool hasControl(const QString &s)
{
    for (const QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

// Characters that make an Exec argument need quotes.
bool isReserved(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

// Canonical program path -> icon name, from every desktop entry of the data directories.
struct IconCache
{
    std::mutex lock;
    bool loaded = false;
    QHash<QString, QString> icons;
};

IconCache &iconCache()
{
    static IconCache cache;
    return cache;
}

QString resolveProgram(const QString &program)
{
    if (program.isEmpty())
        return QString();
    QString path = program;
    if (!program.contains(QLatin1Char('/'))) {
        const auto found = processes::findProgram(program);
        if (!found)
            return QString();
        path = *found;
    }
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical;
}

QString ownBaseDir(const char *variable, const QString &inHome);

void loadIcons(QHash<QString, QString> &icons)
{
    // The user's own entries, as the user's other folders are found.
    const QString home = ownBaseDir("XDG_DATA_HOME", QStringLiteral(".local/share"));
    QStringList dirs;
    if (!home.isEmpty())
        dirs << home;
    dirs += envDirs("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString &dir : dirs) {
        QDirIterator it(dir + QStringLiteral("/applications"), {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const auto entry = files::readDesktopEntry(it.next(), QString());
            if (!entry || entry->icon.isEmpty())
                continue;
            QString program = entry->program;
            QStringList args = entry->arguments;
            // "env VAR=value program …" runs the program.
            if (QFileInfo(program).fileName() == QLatin1String("env")) {
                while (!args.isEmpty() && args.first().contains(QLatin1Char('=')))
                    args.removeFirst();
                program = args.isEmpty() ? QString() : args.first();
            }
            const QString resolved = resolveProgram(program);
            // Entries earlier in the search order win.
            if (!resolved.isEmpty() && !icons.contains(resolved))
                icons.insert(resolved, entry->icon);
        }
    }
}

} // namespace

bool openWithDefaultProgram(const QString &target)
{
    if (target.trimmed().isEmpty() || hasControl(target)) {
        qCWarning(lcPlatform) << "open: refused an empty target or one with control characters";
        return false;
    }
    QString arg = target;
    // A file name that begins with a dash would be taken for an option.
    if (arg.startsWith(QLatin1Char('-')))
        arg = QDir::current().absoluteFilePath(arg);
    return processes::spawnDetached({QStringLiteral("xdg-open"), arg}, nullptr, launchEnvironment());
}

QString allUsersAutostartDir()
{
    return envDirs("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")).first() + QStringLiteral("/autostart");
}

namespace {

const QString kProgramFolder = QStringLiteral("taskvane/");

// True when the home (when the base folder lies in it) or the base folder (or, where it does not
// exist yet, the folder it would be made in) is another user's, or when someone else could change
// the way to it. A system folder of root's above a folder still to be made is no one's: an
// ordinary user's new data folder may well be made under /tmp.
bool belongsToAnother(const QString &base, const QString &home)
{
    const uid_t me = ::geteuid();
    if (!home.isEmpty()) {
        struct stat st = {};
        if (::stat(QFile::encodeName(home).constData(), &st) == 0 && st.st_uid != me)
            return true;
        if (!files::isTrustedPath(home))
            return true;
    }
    const QString clean = QDir::cleanPath(base);
    if (!files::isTrustedPath(clean))
        return true;
    struct stat st = {};
    // The base folder itself, when it is there, must be the user's own, root's system folders
    // included (for anyone but root).
    if (::stat(QFile::encodeName(clean).constData(), &st) == 0)
        return st.st_uid != me;
    return false;
}

QString accountHome()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    QByteArray buffer(size, Qt::Uninitialized);
    struct passwd pw = {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), std::size_t(buffer.size()), &found) != 0 || !found ||
        !pw.pw_dir || pw.pw_dir[0] != '/')
        return QString();
    return QFile::decodeName(pw.pw_dir);
}

QString withSlash(const QString &dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

// The base folder `variable` names when it is absolute, else `inHome` in $HOME; the same in the
// account's own home when that one is another user's. No trailing slash; empty without a home.
QString ownBaseDir(const char *variable, const QString &inHome)
{
    const QByteArray xdg = qgetenv(variable);
    const QByteArray homeVar = qgetenv("HOME");
    const QString home = homeVar.startsWith('/') ? QFile::decodeName(homeVar) : QString();
    QString base;
    if (xdg.startsWith('/'))
        base = QFile::decodeName(xdg);
    else if (!home.isEmpty())
        base = withSlash(home) + inHome;
    if (base.isEmpty() || belongsToAnother(base, xdg.startsWith('/') ? QString() : home)) {
        const QString own = accountHome();
        if (own.isEmpty())
            return QString();
        base = withSlash(own) + inHome;
    }
    return QDir::cleanPath(base);
}

} // namespace

QString userConfigDir()
{
    return ownBaseDir("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString userAutostartDir()
{
    const QString config = userConfigDir();
    return config.isEmpty() ? QString() : config + QStringLiteral("/autostart");
}

QString userDataDir()
{
    const QString base = ownBaseDir("XDG_DATA_HOME", QStringLiteral(".local/share"));
    if (base.isEmpty())
        return QString();
    const QString dir = withSlash(base) + kProgramFolder;
    // A folder that is there must be the user's alone; else there is no data folder.
    if (files::pathExists(dir) || QFileInfo(QDir::cleanPath(dir)).isSymLink()) {
        if (!files::isPrivateFolder(dir))
            return QString();
    } else if (!files::isTrustedPath(dir)) {
        return QString();
    }
    return dir;
}

bool makePrivateDirs(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    return files::OwnFolder::make(dir, 0700).has_value();
}

QStringList programDataDirs(const QString &programDir)
{
    if (programDir.isEmpty())
        return {};
    const QString own = withSlash(programDir);
    return {own, withSlash(QDir::cleanPath(own + QStringLiteral("../share/taskvane")))};
}

std::optional<QString> escapeValue(const QString &value)
{
    if (hasControl(value))
        return std::nullopt;
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char(' ') && i == 0)
            out += QStringLiteral("\\s"); // a leading blank would be trimmed away
        else
            out += c;
    }
    return out;
}

std::optional<QString> execValue(const QStringList &words)
{
    QStringList parts;
    for (const QString &w : words) {
        if (hasControl(w))
            return std::nullopt;
        bool quote = w.isEmpty();
        for (const QChar c : w) {
            if (isReserved(c))
                quote = true;
        }
        QString part;
        if (quote)
            part += QLatin1Char('"');
        for (const QChar c : w) {
            if (quote &&
                (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')))
                part += QLatin1Char('\\');
            if (c == QLatin1Char('%'))
                part += QLatin1Char('%'); // a literal percent sign is doubled
            part += c;
        }
        if (quote)
            part += QLatin1Char('"');
        parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

bool writeShortcut(const QString &file, const QString &program, const QStringList &arguments, const QString &workingDir,
                   const QString &description, const QString &name)
{
    if (program.isEmpty() || file.isEmpty())
        return false;
    const auto exec = execValue(QStringList{program} + arguments);
    const auto escExec = exec ? escapeValue(*exec) : std::nullopt;
    const auto escPath = escapeValue(workingDir);
    const auto escComment = escapeValue(description);
    const auto escName = escapeValue(name.isEmpty() ? QFileInfo(program).fileName() : name);
    if (!escExec || !escPath || !escComment || !escName)
        return false;
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + *escName + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + *escExec + QLatin1Char('\n');
    if (!escPath->isEmpty())
        text += QStringLiteral("Path=") + *escPath + QLatin1Char('\n');
    if (!escComment->isEmpty())
        text += QStringLiteral("Comment=") + *escComment + QLatin1Char('\n');
    return platform::files::writeFileAtomically(file, text.toUtf8());
}

std::optional<FileIcon> fileIcon(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return std::nullopt;
    const QString canonical = info.canonicalFilePath();
    QString icon;
    {
        IconCache &cache = iconCache();
        std::lock_guard<std::mutex> guard(cache.lock);
        if (!cache.loaded) {
            loadIcons(cache.icons);
            cache.loaded = true;
        }
        icon = cache.icons.value(canonical);
    }
    if (icon.isEmpty())
        icon = QStringLiteral("application-x-executable");
    return FileIcon{icon, files::systemImageIndex(icon)};
}

void resetFileIconCache()
{
    IconCache &cache = iconCache();
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.loaded = false;
    cache.icons.clear();
}

namespace {

// The variables that name folders of the user's: HOME and the XDG base, runtime and user folders.
bool isFolderVariable(const QString &name)
{
    return name == QLatin1String("HOME") ||
        (name.startsWith(QLatin1String("XDG_")) &&
         (name.endsWith(QLatin1String("_HOME")) || name.endsWith(QLatin1String("_DIR")) ||
          name.endsWith(QLatin1String("_DIRS"))));
}

// The socket a session bus address of the "unix:path=" kind names; empty for any other kind.
QString busSocket(const QString &address)
{
    const QString prefix = QStringLiteral("unix:path=");
    if (!address.startsWith(prefix))
        return QString();
    return address.mid(prefix.size()).section(QLatin1Char(','), 0, 0);
}

} // namespace

bool environmentOfAnotherUser()
{
    const uid_t me = ::geteuid();
    auto others = [me](const QString &path) {
        struct stat st = {};
        return path.startsWith(QLatin1Char('/')) && ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
            st.st_uid != me;
    };
    if (others(qEnvironmentVariable("HOME")))
        return true;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString dir = qEnvironmentVariable(name);
        if (dir.startsWith(QLatin1Char('/')) && belongsToAnother(dir, QString()))
            return true;
    }
    return others(qEnvironmentVariable("XDG_RUNTIME_DIR")) ||
        others(busSocket(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")));
}

QStringList launchEnvironment()
{
    const QStringList env = QProcessEnvironment::systemEnvironment().toStringList();
    if (!environmentOfAnotherUser())
        return env;
    QStringList own;
    for (const QString &entry : std::as_const(env)) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        if (!isFolderVariable(name) && name != QLatin1String("DBUS_SESSION_BUS_ADDRESS"))
            own << entry;
    }
    const QString home = accountHome();
    if (!home.isEmpty())
        own << QStringLiteral("HOME=") + home;
    const QString runtime = system::ownRuntimeDir();
    if (!runtime.isEmpty())
        own << QStringLiteral("XDG_RUNTIME_DIR=") + runtime;
    const QString bus = system::ownSessionBusAddress();
    if (!bus.isEmpty())
        own << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + bus;
    return own;
}

} // namespace platform::shell
