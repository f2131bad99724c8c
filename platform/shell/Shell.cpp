#include "platform/shell/Shell.h"

#include "platform/Logging.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/NameBytes.h"
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
#include <QPair>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::shell {

namespace {

QStringList EnvDirs(const char *Name, const QString &Fallback)
{
    QStringList out;
    for (const QString &d : QString::fromLocal8Bit(qgetenv(Name)).split(QLatin1Char(':'))) {
        if (d.startsWith(QLatin1Char('/')))
            out << d;
    }
    if (out.isEmpty())
        out = Fallback.split(QLatin1Char(':'));
    return out;
}

bool HasControl(const QString &S)
{
    for (const QChar c : S) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

// Characters that make an Exec argument need quotes.
bool IsReserved(QChar C)
{
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return kReserved.contains(C);
}

// The program file (device and inode) -> icon name, from every desktop entry of the data
// directories.
using ProgramKey = QPair<quint64, quint64>;

// What an entry runs: the path it leads to, and the file that path led to when last looked at.
struct ProgramIcon
{
    QByteArray Path;
    std::optional<ProgramKey> File;
    QString Icon;
};

// A folder the entries were read from, as it was then: an entry added, removed or renamed over
// changes it.
struct FolderStamp
{
    QByteArray Path;
    bool Exists = false;
    quint64 Device = 0, Inode = 0;
    qint64 Seconds = 0, Nanoseconds = 0;
    bool operator==(const FolderStamp &) const = default;
};

struct IconCache
{
    std::mutex Lock;
    bool Loaded = false;
    std::vector<ProgramIcon> Programs; // in the order the entries were found: the first wins
    std::vector<FolderStamp> Folders;
    QHash<ProgramKey, QString> Icons;
    // Files looked up without an icon since the programs were last looked at, so that a process
    // of such a file costs no new look at every entry's program.
    QSet<ProgramKey> Misses;
    // When the entries' folders were last looked at for a file already missed: a busy machine
    // starts hundreds of processes of such files a second, and each look stats every folder.
    std::optional<std::chrono::steady_clock::time_point> FoldersLooked;
};

IconCache &Icons()
{
    static IconCache cache;
    return cache;
}

std::optional<ProgramKey> FileAt(const QByteArray &Path)
{
    struct stat st = {};
    if (::stat(Path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return ProgramKey(quint64(st.st_dev), quint64(st.st_ino));
}

FolderStamp StampOf(const QByteArray &Path)
{
    FolderStamp stamp;
    stamp.Path = Path;
    struct stat st = {};
    if (::stat(Path.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        stamp.Exists = true;
        stamp.Device = quint64(st.st_dev);
        stamp.Inode = quint64(st.st_ino);
        stamp.Seconds = qint64(st.st_mtim.tv_sec);
        stamp.Nanoseconds = qint64(st.st_mtim.tv_nsec);
    }
    return stamp;
}

// The path an entry's program leads to: a bare name is found on the search path; a relative path
// names nothing here.
std::optional<QByteArray> ProgramPath(const QString &Program)
{
    if (Program.isEmpty())
        return std::nullopt;
    if (!Program.startsWith(QLatin1Char('/')) && Program.contains(QLatin1Char('/')))
        return std::nullopt;
    // Back to the bytes the entry named, those that are not UTF-8 included.
    if (Program.contains(QLatin1Char('/')))
        return files::EncodeNameBytes(Program);
    const auto found = processes::FindProgram(Program);
    if (!found)
        return std::nullopt;
    return QFile::encodeName(*found);
}

void IndexIcons(IconCache &Cache)
{
    Cache.Icons.clear();
    Cache.Misses.clear();
    for (const ProgramIcon &p : Cache.Programs)
        if (p.File && !Cache.Icons.contains(*p.File))
            Cache.Icons.insert(*p.File, p.Icon);
}

QString OwnBaseDir(const char *Variable, const QString &InHome);

// Root's or the running user's own: a file of theirs is no one else's to make wait.
bool OwnedByRootOrMe(quint32 Owner)
{
    return Owner == 0 || Owner == quint32(::geteuid());
}

// Every folder above `Path` (links followed) is root's or the user's, and nobody else may write
// into it.
bool FoldersOnlyOwnersMayChange(const QString &Path)
{
    QString folder = Path;
    do {
        const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
        folder = slash <= 0 ? QStringLiteral("/") : folder.left(slash);
        files::FileStatus st;
        if (!files::StatFile(folder, st) || st.Kind != files::FileKind::Directory || !OwnedByRootOrMe(st.OwnerUid) ||
            (st.Mode & 022) != 0)
            return false;
    } while (folder != QLatin1String("/"));
    return true;
}

// An entry's icon as the window may take it. The window reads an icon file when it shows a row,
// so a file must be one that nobody but root or the user can make it wait on (a FIFO, a file on a
// slow file system): a regular file of theirs, of a bounded size, in folders only they may change. A
// relative path would be looked for in the icon themes' folders and wherever it leads from there.
QString UsableIcon(const QString &Icon)
{
    if (!Icon.contains(QLatin1Char('/')))
        return Icon;
    if (!Icon.startsWith(QLatin1Char('/')))
        return QString();
    constexpr qint64 kMaxIconFileSize = qint64{1024} * 1024;
    const QString given = QDir::cleanPath(Icon);
    QString canonical = QFileInfo(given).canonicalFilePath();
    files::FileStatus st;
    if (canonical.isEmpty() || !files::StatFile(canonical, st) || st.Kind != files::FileKind::Regular ||
        !OwnedByRootOrMe(st.OwnerUid) || (st.Mode & 022) != 0 || st.Size > kMaxIconFileSize ||
        !FoldersOnlyOwnersMayChange(given) || !FoldersOnlyOwnersMayChange(canonical))
        return QString();
    return canonical;
}

void LoadIcons(IconCache &Cache)
{
    Cache.Programs.clear();
    Cache.Folders.clear();
    // The user's own entries, as the user's other folders are found.
    const QString home = OwnBaseDir("XDG_DATA_HOME", QStringLiteral(".local/share"));
    QStringList dirs;
    if (!home.isEmpty())
        dirs << home;
    dirs += EnvDirs("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString &dir : dirs) {
        const QString apps = dir + QStringLiteral("/applications");
        Cache.Folders.push_back(StampOf(QFile::encodeName(apps)));
        QDirIterator folders(apps, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (folders.hasNext())
            Cache.Folders.push_back(StampOf(QFile::encodeName(folders.next())));
        QDirIterator it(apps, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const auto entry = files::ReadDesktopEntry(it.next(), QString());
            const QString icon = entry ? UsableIcon(entry->Icon) : QString();
            if (icon.isEmpty())
                continue;
            QString program = entry->Program;
            QStringList args = entry->Arguments;
            // "env VAR=value program …" runs the program.
            if (QFileInfo(program).fileName() == QLatin1String("env")) {
                while (!args.isEmpty() && args.first().contains(QLatin1Char('=')))
                    args.removeFirst();
                program = args.isEmpty() ? QString() : args.first();
            }
            if (const auto path = ProgramPath(program))
                Cache.Programs.push_back(ProgramIcon{*path, FileAt(*path), icon});
        }
    }
    IndexIcons(Cache);
    Cache.Loaded = true;
}

bool FoldersChanged(const IconCache &Cache)
{
    return std::any_of(Cache.Folders.begin(), Cache.Folders.end(),
                       [](const FolderStamp &F) { return !(StampOf(F.Path) == F); });
}

// Each entry's program looked at again: an upgrade renames a new file over the old one, so that
// the same path now leads to another file. True when any leads elsewhere than before.
bool LookAgainAtPrograms(IconCache &Cache)
{
    bool changed = false;
    for (ProgramIcon &p : Cache.Programs) {
        const auto now = FileAt(p.Path);
        if (now != p.File) {
            p.File = now;
            changed = true;
        }
    }
    if (changed)
        IndexIcons(Cache);
    return changed;
}

} // namespace

bool OpenWithDefaultProgram(const QString &Target)
{
    // A target that begins with a dash would be taken for an option; no address or absolute path
    // does, and a relative one would be found in the working folder.
    if (Target.trimmed().isEmpty() || HasControl(Target) || Target.startsWith(QLatin1Char('-'))) {
        qCWarning(lcPlatform) << "open: refused an empty target, one with control characters or an option";
        return false;
    }
    return processes::SpawnDetached({QStringLiteral("xdg-open"), Target});
}

QString AllUsersAutostartDir()
{
    // The system's folders, or the user's own: entries there are acted on as everyone's. A folder
    // not made yet holds nothing, as long as nobody else can change the way to it.
    for (const QString &dir : EnvDirs("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"))) {
        const bool there = files::PathExists(dir) || QFileInfo(dir).isSymLink();
        if (there ? files::IsTrustedFolder(dir) : files::IsTrustedPath(dir))
            return QDir::cleanPath(dir) + QStringLiteral("/autostart");
    }
    return QStringLiteral("/etc/xdg/autostart");
}

namespace {

const QString kProgramFolder = QStringLiteral("taskvane/");

// True when the home (when the base folder lies in it) or the base folder (or, where it does not
// exist yet, the folder it would be made in) is another user's, or when someone else could change
// the way to it. A system folder of root's above a folder still to be made is no one's: an
// ordinary user's new data folder may well be made under /tmp.
bool BelongsToAnother(const QString &Base, const QString &Home)
{
    const uid_t me = ::geteuid();
    if (!Home.isEmpty()) {
        struct stat st = {};
        if (::stat(QFile::encodeName(Home).constData(), &st) == 0 && st.st_uid != me)
            return true;
        if (!files::IsTrustedPath(Home))
            return true;
    }
    const QString clean = QDir::cleanPath(Base);
    if (!files::IsTrustedPath(clean))
        return true;
    struct stat st = {};
    // The base folder itself, when it is there, must be the user's own, root's system folders
    // included (for anyone but root).
    if (::stat(QFile::encodeName(clean).constData(), &st) == 0)
        return st.st_uid != me;
    return false;
}

// The running user's home as the account database gives it, asked once for the whole run. The
// database may be a directory server (LDAP, sssd) that keeps its callers waiting: the question is
// asked on a thread of its own, which may outlive whatever waits for it.
struct AccountQuestion
{
    std::mutex Lock;
    std::condition_variable Cond;
    bool Answered = false;
    QString Home;
    std::chrono::steady_clock::time_point Asked;
};

// How long after it was asked the answer is waited for; later callers take it only when it is in.
constexpr std::chrono::milliseconds kAccountWait(1000);

// Asked by the first caller, at the start (the data folder is found before the window shows).
std::shared_ptr<AccountQuestion> AskForAccountHome()
{
    static const std::shared_ptr<AccountQuestion> kQuestion = [] {
        auto q = std::make_shared<AccountQuestion>();
        q->Asked = std::chrono::steady_clock::now();
        try {
            std::thread([q] {
                const auto account = system::AccountOf(::geteuid());
                {
                    std::lock_guard<std::mutex> guard(q->Lock);
                    q->Home = account ? account->Home : QString();
                    q->Answered = true;
                }
                q->Cond.notify_all();
            }).detach();
        } catch (const std::system_error &e) {
            qCWarning(lcPlatform) << "no thread to ask the account database on:" << e.what();
            q->Answered = true;
        }
        return q;
    }();
    return kQuestion;
}

QString AccountHome()
{
    const auto q = AskForAccountHome();
    std::unique_lock<std::mutex> lock(q->Lock);
    if (!q->Cond.wait_until(lock, q->Asked + kAccountWait, [&q] { return q->Answered; })) {
        static std::once_flag told;
        std::call_once(told, [] { qCWarning(lcPlatform) << "the account database did not tell the home in time"; });
        return QString();
    }
    return q->Home;
}

QString WithSlash(const QString &Dir)
{
    return Dir.endsWith(QLatin1Char('/')) ? Dir : Dir + QLatin1Char('/');
}

// The base folder `Variable` names when it is absolute, else `InHome` in $HOME; the same in the
// account's own home when that one is another user's. No trailing slash; empty without a home.
QString OwnBaseDir(const char *Variable, const QString &InHome)
{
    // Asked now, whether needed or not, so that the answer is in when it is.
    AskForAccountHome();
    const QByteArray xdg = qgetenv(Variable);
    const QByteArray homeVar = qgetenv("HOME");
    const QString home = homeVar.startsWith('/') ? QFile::decodeName(homeVar) : QString();
    QString base;
    if (xdg.startsWith('/'))
        base = QFile::decodeName(xdg);
    else if (!home.isEmpty())
        base = WithSlash(home) + InHome;
    if (base.isEmpty() || BelongsToAnother(base, xdg.startsWith('/') ? QString() : home)) {
        const QString own = AccountHome();
        if (own.isEmpty())
            return QString();
        base = WithSlash(own) + InHome;
    }
    return QDir::cleanPath(base);
}

} // namespace

QString UserConfigDir()
{
    return OwnBaseDir("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString UserAutostartDir()
{
    const QString config = UserConfigDir();
    return config.isEmpty() ? QString() : config + QStringLiteral("/autostart");
}

QString UserDataDir()
{
    const QString base = OwnBaseDir("XDG_DATA_HOME", QStringLiteral(".local/share"));
    if (base.isEmpty())
        return QString();
    QString dir = WithSlash(base) + kProgramFolder;
    // A folder that is there must be the user's alone; else there is no data folder.
    if (files::PathExists(dir) || QFileInfo(QDir::cleanPath(dir)).isSymLink()) {
        if (!files::IsFolderOnlyUserMayChange(dir))
            return QString();
    } else if (!files::IsTrustedPath(dir)) {
        return QString();
    }
    return dir;
}

bool MakePrivateDirs(const QString &Dir)
{
    if (Dir.isEmpty())
        return false;
    return files::OwnFolder::Make(Dir, 0700).has_value();
}

QStringList ProgramDataDirs(const QString &ProgramDir)
{
    if (ProgramDir.isEmpty())
        return {};
    const QString own = WithSlash(ProgramDir);
    return {own, WithSlash(QDir::cleanPath(own + QStringLiteral("../share/taskvane")))};
}

std::optional<QString> EscapeValue(const QString &Value)
{
    if (HasControl(Value))
        return std::nullopt;
    QString out;
    for (qsizetype i = 0; i < Value.size(); ++i) {
        const QChar c = Value.at(i);
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char(' ') && i == 0)
            out += QStringLiteral("\\s"); // a leading blank would be trimmed away
        else
            out += c;
    }
    return out;
}

std::optional<QString> ExecValue(const QStringList &Words)
{
    QStringList parts;
    for (const QString &w : Words) {
        if (HasControl(w))
            return std::nullopt;
        bool quote = w.isEmpty();
        for (const QChar c : w) {
            if (IsReserved(c))
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

bool WriteShortcut(const QString &File, const QString &Program, const QStringList &Arguments, const QString &WorkingDir,
                   const QString &Description, const QString &Name)
{
    if (Program.isEmpty() || File.isEmpty())
        return false;
    const auto exec = ExecValue(QStringList{Program} + Arguments);
    const auto escExec = exec ? EscapeValue(*exec) : std::nullopt;
    const auto escPath = EscapeValue(WorkingDir);
    const auto escComment = EscapeValue(Description);
    const auto escName = EscapeValue(Name.isEmpty() ? QFileInfo(Program).fileName() : Name);
    if (!escExec || !escPath || !escComment || !escName)
        return false;
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + *escName + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + *escExec + QLatin1Char('\n');
    if (!escPath->isEmpty())
        text += QStringLiteral("Path=") + *escPath + QLatin1Char('\n');
    if (!escComment->isEmpty())
        text += QStringLiteral("Comment=") + *escComment + QLatin1Char('\n');
    return platform::files::WriteFileAtomically(File, text.toUtf8());
}

FileIcon FindFileIcon(const files::FileIdentity &Program)
{
    const ProgramKey key(Program.Device, Program.Inode);
    QString icon;
    {
        IconCache &cache = Icons();
        std::lock_guard<std::mutex> guard(cache.Lock);
        if (!cache.Loaded)
            LoadIcons(cache);
        icon = cache.Icons.value(key);
        // A miss is resolved again: the entries may have changed, or a program they name been
        // replaced, since they were read. A file missed before has the folders looked at again at
        // most ten times a second.
        constexpr auto kLookAgain = std::chrono::milliseconds(100);
        const auto now = std::chrono::steady_clock::now();
        const bool missed = cache.Misses.contains(key);
        if (icon.isEmpty() && (!missed || !cache.FoldersLooked || now - *cache.FoldersLooked >= kLookAgain)) {
            cache.FoldersLooked = now;
            if (FoldersChanged(cache))
                LoadIcons(cache);
            else if (!missed)
                LookAgainAtPrograms(cache);
            icon = cache.Icons.value(key);
        }
        if (icon.isEmpty()) {
            constexpr qsizetype kMissesKept = 4096;
            if (cache.Misses.size() >= kMissesKept)
                cache.Misses.clear();
            cache.Misses.insert(key);
        }
    }
    if (icon.isEmpty())
        icon = QStringLiteral("application-x-executable");
    return FileIcon{icon, files::SystemImageIndex(icon)};
}

#if TASKVANE_TEST_SEAMS
void ResetFileIconCache()
{
    IconCache &cache = Icons();
    std::lock_guard<std::mutex> guard(cache.Lock);
    cache.Loaded = false;
    cache.Programs.clear();
    cache.Folders.clear();
    cache.Icons.clear();
    cache.Misses.clear();
    cache.FoldersLooked.reset();
}
#endif

} // namespace platform::shell
