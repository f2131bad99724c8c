#include "sysinfo/Utils.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/FileHandle.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/CurrentProcess.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/Spawn.h"
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
    bool Windows = false;

    qsizetype LastDelimiter(const QString &P) const
    {
        if (!Windows)
            return P.lastIndexOf(QLatin1Char('/'));
        return qMax(P.lastIndexOf(QLatin1Char('\\')), P.lastIndexOf(QLatin1Char(':')));
    }
    QString Directory(const QString &P) const { return P.left(LastDelimiter(P) + 1); }
    QString FileName(const QString &P) const { return P.mid(LastDelimiter(P) + 1); }
    QString Extension(const QString &P) const // with its dot
    {
        const QString name = FileName(P);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? QString() : name.mid(dot);
    }
    QChar Separator() const { return Windows ? QLatin1Char('\\') : QLatin1Char('/'); }
};

PathRules RulesFor(const QString &Text)
{
    return PathRules{Text.contains(QLatin1Char('\\'))};
}

struct RegistryKeyPath
{
    RootKey Root;
    QString SubKey;
};

// A key path that names a root with a store and a well-formed sub-key.
std::optional<RegistryKeyPath> ResolveKeyPath(const QString &Path)
{
    QString rootName, subKey;
    SplitRegistryPath(Path, rootName, subKey);
    const quint32 root = RootKeyFromName(rootName);
    if (root == 0)
        return std::nullopt;
    const auto norm = platform::registry::NormalizeSubKey(subKey);
    if (!norm)
        return std::nullopt;
    return RegistryKeyPath{RootKey(root), *norm};
}

QDateTime NaiveDateTime(const SYSTEMTIME &T)
{
    const QDate d(T.WYear, T.WMonth, T.WDay);
    const QTime tm(T.WHour, T.WMinute, T.WSecond, T.WMilliseconds);
    if (!d.isValid() || !tm.isValid())
        return QDateTime();
    return QDateTime(d, tm, Qt::UTC);
}

SYSTEMTIME LocalFromFileTime(const FILETIME &Ft)
{
    const quint64 v = (quint64(Ft.DwHighDateTime) << 32) | Ft.DwLowDateTime;
    // 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
    constexpr quint64 kEpochDelta = 116444736000000000ull;
    const qint64 rel = qint64(v - kEpochDelta); // wraps for moments before 1970, as intended
    const qint64 secs = v >= kEpochDelta ? qint64((v - kEpochDelta) / 10000000ull)
                                         : -qint64((kEpochDelta - v + 9999999ull) / 10000000ull);
    const qint64 rest = rel - secs * 10000000ll;
    return platform::LocalSystemTime(secs, quint32(rest * 100));
}

} // namespace

FILETIME FileTimeFromUnix(qint64 Seconds, quint32 Nanoseconds)
{
    const qint64 v = (Seconds + 11644473600ll) * 10000000ll + qint64(Nanoseconds / 100u);
    FILETIME ft;
    if (v < 0)
        return ft;
    ft.DwLowDateTime = quint32(quint64(v) & 0xFFFFFFFFu);
    ft.DwHighDateTime = quint32(quint64(v) >> 32);
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
    const auto exe = platform::processes::ReadExePath(platform::processes::CurrentPid());
    if (!exe)
        return;
    Path = exe->left(exe->lastIndexOf(QLatin1Char('/')) + 1);
}

void GetSpecialFolder(int Folder, QString &Path)
{
    Path.clear();
    switch (Folder & 0x7F) {
    case CSIDL_STARTUP:
        Path = platform::shell::UserAutostartDir();
        break;
    case CSIDL_COMMON_STARTUP:
        Path = platform::shell::AllUsersAutostartDir();
        break;
    default:
        return;
    }
    if (!Path.isEmpty() && !Path.endsWith(QLatin1Char('/')))
        Path += QLatin1Char('/');
}

void ExtractFileNameNoExt(const QString &FileName, QString &Name)
{
    const PathRules r = RulesFor(FileName);
    const QString name = r.FileName(FileName);
    Name = name.left(name.size() - r.Extension(FileName).size());
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
    if (!platform::IsProgramFile(file))
        return;
    const auto v = platform::ProgramVersion();
    Version = QString::asprintf("%d.%d.%d.%d", v.Major, v.Minor, v.Release, v.Build);
}

void ShellOpen(const QString &Target)
{
    platform::shell::OpenWithDefaultProgram(Target);
}

bool AdoptOldBackup(const QString &ProgramDir, const QString &NewFile)
{
    // A backup is a small INI file; anything larger is no backup of ours.
    constexpr qint64 kMaxBackupSize = qint64{16} * 1024 * 1024;
    if (ProgramDir.isEmpty() || NewFile.isEmpty())
        return false;
    const QFileInfo now(NewFile);
    const QFileInfo old(QDir(ProgramDir).filePath(QStringLiteral("Backup/") + now.fileName()));
    if (now.exists() || now.isSymLink() || old.isSymLink() || !old.isFile() ||
        old.ownerId() != platform::processes::EffectiveUserId() || old.absoluteFilePath() == now.absoluteFilePath())
        return false;
    return platform::shell::MakePrivateDirs(now.absolutePath()) &&
        platform::files::AdoptOwnFile(old.absoluteFilePath(), NewFile, kMaxBackupSize);
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
    const PathRules r = RulesFor(path);
    switch (Part) {
    case 0:
        Result = path;
        break;
    case 1:
        if (r.Windows &&
            ((path.size() >= 2 && path.at(1) == QLatin1Char(':')) || path.startsWith(QLatin1String("\\\\"))))
            Result = path.left(1);
        break;
    case 2:
        Result = r.Directory(path);
        if (!Result.endsWith(r.Separator()))
            Result += r.Separator();
        break;
    case 3:
        Result = r.FileName(path);
        break;
    case 4: {
        const QString name = r.FileName(path);
        Result = name.left(name.size() - r.Extension(path).size());
        break;
    }
    case 5:
        Result = r.Extension(path).mid(1);
        break;
    case 6:
        Result = arguments;
        break;
    default:
        break;
    }
}

QString ProgramFileOf(const QString &Program)
{
    if (Program.startsWith(QLatin1Char('/')))
        return Program;
    if (Program.isEmpty() || Program.contains(QLatin1Char('/')))
        return QString();
    return platform::processes::FindProgram(Program).value_or(QString());
}

bool EnablePrivilege(const QString &PrivilegeName, qint32 Process)
{
    // Only the calling process's own capabilities can be raised.
    if (Process != 0 && Process != platform::processes::CurrentPid())
        return false;
    return platform::system::EnablePrivilege(PrivilegeName);
}

void CloseHandleAndZero(int &Handle)
{
    if (Handle >= 0) {
        platform::files::CloseHandle(Handle);
        Handle = -1;
    }
}

int GetTimeSpan(const SYSTEMTIME &FromTime, const SYSTEMTIME &ToTime, SYSTEMTIME &Span)
{
    Span = SYSTEMTIME();
    const QDateTime from = NaiveDateTime(FromTime);
    const QDateTime to = NaiveDateTime(ToTime);
    if (!from.isValid() || !to.isValid())
        return 0;
    const qint64 ms = from.msecsTo(to);
    const qint64 abs = ms < 0 ? -ms : ms;
    const qint64 days = abs / 86400000;
    qint64 rest = abs % 86400000;
    // The day of week of the span as a calendar date counted from 1899-12-30.
    const QDate base(1899, 12, 30);
    Span.WDayOfWeek = quint16(base.addDays(ms < 0 ? -days : days).dayOfWeek() % 7);
    Span.WDay = quint16(qMin<qint64>(days, 0xFFFF));
    Span.WHour = quint16(rest / 3600000);
    rest %= 3600000;
    Span.WMinute = quint16(rest / 60000);
    rest %= 60000;
    Span.WSecond = quint16(rest / 1000);
    Span.WMilliseconds = quint16(rest % 1000);
    return ms < 0 ? -1 : (ms > 0 ? 1 : 0);
}

int GetFileTimeSpan(const FILETIME &FromTime, const FILETIME &ToTime, SYSTEMTIME &Span)
{
    return GetTimeSpan(LocalFromFileTime(FromTime), LocalFromFileTime(ToTime), Span);
}

bool CreateShortcut(const QString &Target, const QString &LinkFile, const QString &Arguments,
                    const QString &Description)
{
    if (Target.trimmed().isEmpty())
        return false;
    QString link;
    if (LinkFile.trimmed().isEmpty()) {
        const PathRules r{false};
        link = Target.left(Target.size() - r.Extension(Target).size()) + QStringLiteral(".desktop");
    } else {
        if (!LinkFile.toLower().endsWith(QLatin1String(".desktop")))
            return false;
        link = LinkFile;
    }
    const auto args = platform::processes::SplitCommandLine(Arguments);
    if (!args)
        return false;
    QString name;
    ExtractFileNameNoExt(link, name);
    // A program named without a folder is found on the search path when the entry runs: it has no
    // folder to start in (the working folder here is nobody's choice for it).
    const QString workDir = Target.startsWith(QLatin1Char('/')) ? QFileInfo(Target).absolutePath() : QString();
    return platform::shell::WriteShortcut(link, Target, *args, workDir, Description, name);
}

void ReadShortcut(const QString &LinkFile, QString &Command)
{
    Command.clear();
    const auto entry = platform::files::ReadDesktopEntry(LinkFile, QString());
    if (!entry)
        return;
    Command = ShortcutCommand(*entry);
}

QString ShortcutCommand(const platform::files::DesktopEntryInfo &Entry)
{
    return QStringLiteral("\"%1\" %2").arg(Entry.Program, platform::processes::JoinCommandLine(Entry.Arguments));
}

quint32 RootKeyFromName(const QString &Name)
{
    static const struct
    {
        const char *LongName;
        const char *ShortName;
        quint32 Key;
    } kRoots[] = {
        {"HKEY_CLASSES_ROOT", "HKCR", 0x80000000u},     {"HKEY_CURRENT_USER", "HKCU", 0x80000001u},
        {"HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u},    {"HKEY_USERS", "HKU", 0x80000003u},
        {"HKEY_PERFORMANCE_DATA", "HKPD", 0x80000004u}, {"HKEY_CURRENT_CONFIG", "HKCC", 0x80000005u},
        {"HKEY_DYN_DATA", "HKDD", 0x80000006u},
    };
    for (const auto &r : kRoots) {
        if (Name.compare(QLatin1String(r.LongName), Qt::CaseInsensitive) == 0 ||
            Name.compare(QLatin1String(r.ShortName), Qt::CaseInsensitive) == 0)
            return r.Key;
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
    const auto kp = ResolveKeyPath(Path);
    if (!kp)
        return;
    const auto store = platform::registry::Load(kp->Root);
    if (!store)
        return;
    const platform::registry::Key *key = store->FindKey(kp->SubKey);
    if (!key)
        return;
    const platform::registry::Value *v = key->Find(ValueName);
    if (!v || v->Type == platform::registry::ValueType::DWord)
        return;
    Value = v->Text;
}

bool WriteRegistryString(const QString &Path, const QString &ValueName, const QString &Value, bool CanCreate)
{
    using namespace platform::registry;
    const auto kp = ResolveKeyPath(Path);
    if (!kp)
        return false;
    return Modify(kp->Root, [&](Store &Store) {
        Key *key = Store.FindKey(kp->SubKey);
        if (!key) {
            if (!CanCreate)
                return Edit::Fail;
            key = &Store.CreateKey(kp->SubKey);
        }
        platform::registry::Value *v = key->Find(ValueName);
        if (!v) {
            if (!CanCreate && !ValueName.isEmpty())
                return Edit::Fail;
            v = key->Add(platform::registry::Value{ValueName, ValueType::String, {}, 0});
        }
        v->Type = ValueType::String;
        v->Text = Value;
        v->Dword = 0;
        return Edit::Write;
    });
}

int ListRegistryValues(const QString &Path, QStringList &Names)
{
    const auto kp = ResolveKeyPath(Path);
    if (!kp)
        return 0;
    const auto store = platform::registry::Load(kp->Root);
    if (!store)
        return 0;
    const platform::registry::Key *key = store->FindKey(kp->SubKey);
    if (!key)
        return 0;
    Names.clear();
    for (const auto &v : key->Values())
        Names << v.Name;
    return int(Names.size());
}

bool DeleteRegistryValue(const QString &Path, const QString &ValueName)
{
    using namespace platform::registry;
    const auto kp = ResolveKeyPath(Path);
    if (!kp)
        return false;
    return Modify(kp->Root, [&](Store &Store) {
        Key *key = Store.FindKey(kp->SubKey);
        if (!key)
            return Edit::Fail;
        if (key->Remove(ValueName))
            return Edit::Write;
        // A named value that is not there counts as deleted.
        return ValueName.isEmpty() ? Edit::Fail : Edit::Keep;
    });
}
