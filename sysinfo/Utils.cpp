#include "sysinfo/Utils.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/FileHandle.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/CurrentProcess.h"
#include "platform/processes/ProcFs.h"
#include "platform/registry/KeyStore.h"
#include "platform/shell/Shell.h"
#include "platform/system/Privilege.h"
#include "platform/system/Version.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>

namespace {

using platform::registry::RootKey;

// Windows-style name parts for texts that use backslashes, "/" parts for the rest.
struct PathRules
{
    bool windows = false;

    qsizetype lastDelimiter(const QString &p) const
    {
        if (!windows)
            return p.lastIndexOf(QLatin1Char('/'));
        return qMax(p.lastIndexOf(QLatin1Char('\\')), p.lastIndexOf(QLatin1Char(':')));
    }
    QString directory(const QString &p) const { return p.left(lastDelimiter(p) + 1); }
    QString fileName(const QString &p) const { return p.mid(lastDelimiter(p) + 1); }
    QString extension(const QString &p) const // with its dot
    {
        const QString name = fileName(p);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? QString() : name.mid(dot);
    }
    QChar separator() const { return windows ? QLatin1Char('\\') : QLatin1Char('/'); }
};

PathRules rulesFor(const QString &text)
{
    return PathRules{text.contains(QLatin1Char('\\'))};
}

struct RegistryKeyPath
{
    RootKey root;
    QString subKey;
};

// A key path that names a root with a store and a well-formed sub-key.
std::optional<RegistryKeyPath> resolveKeyPath(const QString &Path)
{
    QString rootName, subKey;
    SplitRegistryPath(Path, rootName, subKey);
    const quint32 root = RootKeyFromName(rootName);
    if (root == 0)
        return std::nullopt;
    const auto norm = platform::registry::normalizeSubKey(subKey);
    if (!norm)
        return std::nullopt;
    return RegistryKeyPath{RootKey(root), *norm};
}

QDateTime naiveDateTime(const SYSTEMTIME &t)
{
    const QDate d(t.wYear, t.wMonth, t.wDay);
    const QTime tm(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    if (!d.isValid() || !tm.isValid())
        return QDateTime();
    return QDateTime(d, tm, Qt::UTC);
}

SYSTEMTIME localFromFileTime(const FILETIME &ft)
{
    const quint64 v = (quint64(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
    constexpr quint64 epochDelta = 116444736000000000ull;
    const qint64 rel = qint64(v - epochDelta); // wraps for moments before 1970, as intended
    const qint64 secs =
        v >= epochDelta ? qint64((v - epochDelta) / 10000000ull) : -qint64((epochDelta - v + 9999999ull) / 10000000ull);
    const qint64 rest = rel - secs * 10000000ll;
    return platform::localSystemTime(secs, quint32(rest * 100));
}

} // namespace

FILETIME FileTimeFromUnix(qint64 seconds, quint32 nanoseconds)
{
    const qint64 v = (seconds + 11644473600ll) * 10000000ll + qint64(nanoseconds / 100u);
    FILETIME ft;
    if (v < 0)
        return ft;
    ft.dwLowDateTime = quint32(quint64(v) & 0xFFFFFFFFu);
    ft.dwHighDateTime = quint32(quint64(v) >> 32);
    return ft;
}

void GetSystemDir(QString &Path)
{
    // The directory of the system's own programs.
    Path = QStringLiteral("/usr/bin/");
}

void GetAppPath(QString &Path)
{
    Path.clear();
    const auto exe = platform::processes::readExePath(platform::processes::currentProcessId());
    if (!exe)
        return;
    Path = exe->left(exe->lastIndexOf(QLatin1Char('/')) + 1);
}

void GetSpecialFolder(int Folder, QString &Path)
{
    Path.clear();
    switch (Folder & 0x7F) {
    case CSIDL_STARTUP:
        Path = platform::shell::userAutostartDir();
        break;
    case CSIDL_COMMON_STARTUP:
        Path = platform::shell::allUsersAutostartDir();
        break;
    default:
        return;
    }
    if (!Path.isEmpty() && !Path.endsWith(QLatin1Char('/')))
        Path += QLatin1Char('/');
}

void ExtractFileNameNoExt(const QString &FileName, QString &Name)
{
    const PathRules r = rulesFor(FileName);
    const QString name = r.fileName(FileName);
    Name = name.left(name.size() - r.extension(FileName).size());
}

int ListFiles(QStringList &List, const QString &Dir, const QString &Mask, const QStringList *Exclude)
{
    const QFileInfo dirInfo(Dir);
    if (Dir.isEmpty() || !dirInfo.isDir())
        return 0;
    QDir dir(Dir);
    // "*.*" matches every name, with or without a dot, as the customary mask does.
    const QString mask = Mask == QLatin1String("*.*") ? QStringLiteral("*") : Mask;
    dir.setNameFilters({mask});
    dir.setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    dir.setSorting(QDir::Unsorted);
    const QFileInfoList entries = dir.entryInfoList();
    if (entries.isEmpty())
        return 0;
    QStringList excluded;
    if (Exclude) {
        for (const QString &e : *Exclude)
            excluded << e.toLower();
    }
    for (const QFileInfo &e : entries) {
        if (e.isDir())
            continue;
        if (excluded.contains(e.fileName().toLower()))
            continue;
        List << (Dir.endsWith(QLatin1Char('/')) ? Dir + e.fileName() : Dir + QLatin1Char('/') + e.fileName());
    }
    return int(List.size());
}

void GetFileVersion(const QString &FileName, QString &Version)
{
    Version.clear();
    const QString file = FileName.trimmed().isEmpty() ? QStringLiteral("/proc/self/exe") : FileName;
    // Only this program's own file carries a version block on Linux.
    if (!platform::isProgramFile(file))
        return;
    const auto v = platform::programVersion();
    Version = QString::asprintf("%d.%d.%d.%d", v.major, v.minor, v.release, v.build);
}

void ShellOpen(const QString &Target)
{
    platform::shell::openWithDefaultProgram(Target);
}

bool AdoptOldBackup(const QString &ProgramDir, const QString &NewFile)
{
    // A backup is a small INI file; anything larger is no backup of ours.
    constexpr qint64 kMaxBackupSize = 16 * 1024 * 1024;
    if (ProgramDir.isEmpty() || NewFile.isEmpty())
        return false;
    const QFileInfo now(NewFile);
    const QFileInfo old(QDir(ProgramDir).filePath(QStringLiteral("Backup/") + now.fileName()));
    if (now.exists() || now.isSymLink() || old.isSymLink() || !old.isFile() ||
        old.ownerId() != platform::processes::effectiveUserId() || old.absoluteFilePath() == now.absoluteFilePath())
        return false;
    return platform::shell::makePrivateDirs(now.absolutePath()) &&
        platform::files::adoptOwnFile(old.absoluteFilePath(), NewFile, kMaxBackupSize);
}

void ParseCommandLine(const QString &Text, quint8 Part, QString &Result)
{
    Result.clear();
    if (Text.trimmed().isEmpty() || Part > 6)
        return;
    QString path, arguments;
    if (Text.startsWith(QLatin1Char('"'))) {
        const QString rest = Text.mid(1);
        const qsizetype q = rest.indexOf(QLatin1Char('"'));
        if (q < 0) {
            arguments = rest.trimmed();
        } else {
            path = rest.left(q);
            arguments = rest.mid(q + 1).trimmed();
        }
    } else {
        // A Linux command line has no backslash: its path then ends at the first blank.
        const qsizetype lb = Text.lastIndexOf(QLatin1Char('\\'));
        const QString tail = Text.mid(lb + 1);
        const qsizetype sp = tail.indexOf(QLatin1Char(' '));
        if (sp >= 0) {
            path = Text.left(lb + 1) + tail.left(sp);
            arguments = tail.mid(sp + 1);
        } else {
            path = Text;
        }
    }
    const PathRules r = rulesFor(path);
    switch (Part) {
    case 0:
        Result = path;
        break;
    case 1:
        if (r.windows && path.size() >= 2 && path.at(1) == QLatin1Char(':'))
            Result = path.left(1);
        else if (r.windows && path.startsWith(QLatin1String("\\\\")))
            Result = path.left(1);
        break;
    case 2:
        Result = r.directory(path);
        if (!Result.endsWith(r.separator()))
            Result += r.separator();
        break;
    case 3:
        Result = r.fileName(path);
        break;
    case 4: {
        const QString name = r.fileName(path);
        Result = name.left(name.size() - r.extension(path).size());
        break;
    }
    case 5:
        Result = r.extension(path).mid(1);
        break;
    case 6:
        Result = arguments;
        break;
    default:
        break;
    }
}

bool EnablePrivilege(const QString &PrivilegeName, qint32 Process)
{
    // Only the calling process's own capabilities can be raised.
    if (Process != 0 && Process != platform::processes::currentProcessId())
        return false;
    return platform::system::enablePrivilege(PrivilegeName);
}

void CloseHandleAndZero(int &Handle)
{
    if (Handle >= 0) {
        platform::files::closeHandle(Handle);
        Handle = -1;
    }
}

int GetTimeSpan(const SYSTEMTIME &FromTime, const SYSTEMTIME &ToTime, SYSTEMTIME &Span)
{
    Span = SYSTEMTIME();
    const QDateTime from = naiveDateTime(FromTime);
    const QDateTime to = naiveDateTime(ToTime);
    if (!from.isValid() || !to.isValid())
        return 0;
    const qint64 ms = from.msecsTo(to);
    const qint64 abs = ms < 0 ? -ms : ms;
    const qint64 days = abs / 86400000;
    qint64 rest = abs % 86400000;
    // The day of week of the span as a calendar date counted from 1899-12-30.
    const QDate base(1899, 12, 30);
    Span.wDayOfWeek = quint16(base.addDays(ms < 0 ? -days : days).dayOfWeek() % 7);
    Span.wDay = quint16(qMin<qint64>(days, 0xFFFF));
    Span.wHour = quint16(rest / 3600000);
    rest %= 3600000;
    Span.wMinute = quint16(rest / 60000);
    rest %= 60000;
    Span.wSecond = quint16(rest / 1000);
    Span.wMilliseconds = quint16(rest % 1000);
    return ms < 0 ? -1 : (ms > 0 ? 1 : 0);
}

int GetFileTimeSpan(const FILETIME &FromTime, const FILETIME &ToTime, SYSTEMTIME &Span)
{
    return GetTimeSpan(localFromFileTime(FromTime), localFromFileTime(ToTime), Span);
}

bool CreateShortcut(const QString &Target, const QString &LinkFile, const QString &Arguments,
                    const QString &Description)
{
    if (Target.trimmed().isEmpty())
        return false;
    QString link;
    if (LinkFile.trimmed().isEmpty()) {
        const PathRules r{false};
        link = Target.left(Target.size() - r.extension(Target).size()) + QStringLiteral(".desktop");
    } else {
        if (!LinkFile.toLower().endsWith(QLatin1String(".desktop")))
            return false;
        link = LinkFile;
    }
    const auto args = platform::processes::splitCommandLine(Arguments);
    if (!args)
        return false;
    QString name;
    ExtractFileNameNoExt(link, name);
    const QString workDir = QFileInfo(Target).absolutePath();
    return platform::shell::writeShortcut(link, Target, *args, workDir, Description, name);
}

void ReadShortcut(const QString &LinkFile, QString &Command)
{
    Command.clear();
    const auto entry = platform::files::readDesktopEntry(LinkFile, QString());
    if (!entry)
        return;
    Command = ShortcutCommand(*entry);
}

QString ShortcutCommand(const platform::files::DesktopEntryInfo &Entry)
{
    return QStringLiteral("\"%1\" %2").arg(Entry.program, platform::processes::joinCommandLine(Entry.arguments));
}

quint32 RootKeyFromName(const QString &Name)
{
    static const struct
    {
        const char *longName;
        const char *shortName;
        quint32 key;
    } roots[] = {
        {"HKEY_CLASSES_ROOT", "HKCR", 0x80000000u},     {"HKEY_CURRENT_USER", "HKCU", 0x80000001u},
        {"HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u},    {"HKEY_USERS", "HKU", 0x80000003u},
        {"HKEY_PERFORMANCE_DATA", "HKPD", 0x80000004u}, {"HKEY_CURRENT_CONFIG", "HKCC", 0x80000005u},
        {"HKEY_DYN_DATA", "HKDD", 0x80000006u},
    };
    for (const auto &r : roots) {
        if (Name.compare(QLatin1String(r.longName), Qt::CaseInsensitive) == 0 ||
            Name.compare(QLatin1String(r.shortName), Qt::CaseInsensitive) == 0)
            return r.key;
    }
    return 0;
}

void SplitRegistryPath(const QString &Path, QString &RootName, QString &SubKey)
{
    RootName.clear();
    SubKey.clear();
    if (Path.trimmed().isEmpty())
        return;
    QString p = Path;
    if (!p.endsWith(QLatin1Char('\\')))
        p += QLatin1Char('\\');
    const qsizetype bs = p.indexOf(QLatin1Char('\\'));
    RootName = p.left(bs);
    SubKey = p.mid(bs + 1);
}

void ReadRegistryString(const QString &Path, const QString &ValueName, QString &Value)
{
    Value.clear();
    const auto kp = resolveKeyPath(Path);
    if (!kp)
        return;
    const auto store = platform::registry::load(kp->root);
    if (!store)
        return;
    const platform::registry::Key *key = store->key(kp->subKey);
    if (!key)
        return;
    const platform::registry::Value *v = key->find(ValueName);
    if (!v || v->type == platform::registry::ValueType::DWord)
        return;
    Value = v->text;
}

bool WriteRegistryString(const QString &Path, const QString &ValueName, const QString &Value, bool CanCreate)
{
    using namespace platform::registry;
    const auto kp = resolveKeyPath(Path);
    if (!kp)
        return false;
    return modify(kp->root, [&](Store &store) {
        Key *key = store.key(kp->subKey);
        if (!key) {
            if (!CanCreate)
                return Edit::Fail;
            key = &store.createKey(kp->subKey);
        }
        platform::registry::Value *v = key->find(ValueName);
        if (!v) {
            if (!CanCreate && !ValueName.isEmpty())
                return Edit::Fail;
            v = key->add(platform::registry::Value{ValueName, ValueType::String, {}, 0});
        }
        v->type = ValueType::String;
        v->text = Value;
        v->dword = 0;
        return Edit::Write;
    });
}

int ListRegistryValues(const QString &Path, QStringList &Names)
{
    const auto kp = resolveKeyPath(Path);
    if (!kp)
        return 0;
    const auto store = platform::registry::load(kp->root);
    if (!store)
        return 0;
    const platform::registry::Key *key = store->key(kp->subKey);
    if (!key)
        return 0;
    Names.clear();
    for (const auto &v : key->values())
        Names << v.name;
    return int(Names.size());
}

bool DeleteRegistryValue(const QString &Path, const QString &ValueName)
{
    using namespace platform::registry;
    const auto kp = resolveKeyPath(Path);
    if (!kp)
        return false;
    return modify(kp->root, [&](Store &store) {
        Key *key = store.key(kp->subKey);
        if (!key)
            return Edit::Fail;
        if (key->remove(ValueName))
            return Edit::Write;
        // A named value that is not there counts as deleted.
        return ValueName.isEmpty() ? Edit::Fail : Edit::Keep;
    });
}
