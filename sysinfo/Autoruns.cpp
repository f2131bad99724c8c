#include "sysinfo/Autoruns.h"

#include "platform/Logging.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/IniFile.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/PlainName.h"
#include "platform/files/RegularFile.h"
#include "platform/registry/KeyStore.h"
#include "platform/shell/Shell.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/Logging.h"
#include "sysinfo/ReadingWorker.h"
#include "sysinfo/Utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

using platform::files::IniFile;

const char16_t kShortcutExt[] = u".desktop";
const char16_t kRunKeys[2][5][80] = {
    {u"", u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce"},
    {u"", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
     u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce"},
};

// A desktop entry larger than this is no launcher: it is not copied into the backup.
constexpr qint64 kMaxShortcutSize = qint64{1024} * 1024;

#if TASKVANE_TEST_SEAMS
std::atomic<TAutoruns::TProgramHook> s_ProgramHook{nullptr};

void ProgramHook(const QString &Program)
{
    if (TAutoruns::TProgramHook hook = s_ProgramHook.load())
        hook(Program);
}
#endif

QString SectionOf(const QString &Name, TAutorunRunType RunType)
{
    return (RunType == TAutorunRunType::StartupFolder ? QStringLiteral("S_") : QStringLiteral("R_")) + Name;
}

// The backup file, read whole. Nothing when it cannot be read (no regular file, too large, a
// read error) or cannot be trusted (it, or its folder, is another user's or writable by others):
// such a file is never rewritten. Lines it cannot read are kept as they are.
std::optional<IniFile> LoadBackup(const QString &Path, bool &Exists)
{
    Exists = false;
    IniFile ini;
    if (Path.isEmpty())
        return ini;
    bool missing = false;
    const std::optional<QByteArray> data = platform::files::ReadOwnFile(Path, IniFile::kMaxFileSize, &missing);
    if (!data) {
        Exists = !missing;
        if (missing)
            return ini;
        return std::nullopt;
    }
    Exists = true;
    ini.Parse(*data);
    return ini;
}

// Two upper-case hexadecimal digits per byte, nothing between them.
QString HexText(const QByteArray &Data)
{
    return QString::fromLatin1(Data.toHex().toUpper());
}

// The bytes of a hexadecimal text; nothing for an odd length or any other character.
std::optional<QByteArray> HexBytes(const QString &Text)
{
    if (Text.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : Text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return std::nullopt;
    }
    return QByteArray::fromHex(Text.toLatin1());
}

// The sub-key of a Run key's path text (the root's name and a backslash taken off).
QString RunSubKey(const QString &Location)
{
    QString root, subKey;
    SplitRegistryPath(Location, root, subKey);
    return platform::registry::NormalizeSubKey(subKey).value_or(QString());
}

bool HasValue(const QString &Key, const QString &Name)
{
    QStringList names;
    ListRegistryValues(Key, names);
    return names.contains(Name, Qt::CaseInsensitive);
}

// The spelling of a section as the file has it, or an empty text.
QString SectionSpelling(const IniFile &Ini, const QString &Section)
{
    for (const QString &name : Ini.SectionNames())
        if (name.compare(Section, Qt::CaseInsensitive) == 0)
            return name;
    return QString();
}

// The section, under exactly this name, holds exactly this entry: its command, its types and,
// for a folder entry, the file's bytes.
bool SectionHolds(const IniFile &Ini, const QString &Section, const QString &Command, TAutorunUserType UserType,
                  TAutorunRunType RunType, const std::optional<QByteArray> &Data)
{
    if (SectionSpelling(Ini, Section) != Section || !Ini.HasKey(Section, QStringLiteral("Command")) ||
        Ini.Value(Section, QStringLiteral("Command")) != Command ||
        Ini.IntValue(Section, QStringLiteral("UserType"), -1) != int(UserType) ||
        Ini.IntValue(Section, QStringLiteral("RunType"), -1) != int(RunType))
        return false;
    if (RunType != TAutorunRunType::StartupFolder)
        return true;
    if (!Data || !Ini.HasKey(Section, QStringLiteral("Data")))
        return false;
    return HexBytes(Ini.Value(Section, QStringLiteral("Data"))) == Data;
}

// A program named without a directory is found the way the session starts it: on the search path,
// never in the working folder; a relative path is found nowhere. A file that cannot be examined
// counts as there.
bool ProgramExists(const QString &Program)
{
    const QString file = ProgramFileOf(Program);
    if (file.isEmpty())
        return false;
    std::error_code ec;
    const auto st = std::filesystem::status(std::filesystem::path(QFile::encodeName(file).toStdString()), ec);
    return st.type() != std::filesystem::file_type::not_found;
}

// A desktop entry of an autostart folder: a file named "*.desktop" that is (or leads to) a
// regular file. Editor backups, notes, temporary files of interrupted writes, FIFOs and links
// that lead nowhere are no autoruns; nothing here opens a file, so nothing can block.
bool IsAutostartEntry(const QString &Path)
{
    const QString name = QFileInfo(Path).fileName();
    const QString ext = QString::fromUtf16(kShortcutExt);
    return name.size() > ext.size() && name.endsWith(ext) && platform::files::IsRegularFile(Path);
}

} // namespace

TAutoruns::TAutoruns(QObject *AOwner, const QString &DataDir)
    : QObject(AOwner), m_Worker(std::make_unique<TReadingWorker>(this))
{
    if (DataDir.isEmpty())
        return;
    m_BackupFile = QDir(DataDir).filePath(QStringLiteral("Backup/autoruns.dat"));
    QString programDir;
    GetAppPath(programDir);
    AdoptOldBackup(programDir, m_BackupFile);
}

TAutoruns::~TAutoruns()
{
    // A reading under way hands nothing over any more; one that waits on a file is left behind.
    m_Worker.reset();
}

#if TASKVANE_TEST_SEAMS
void TAutoruns::SetProgramHook(TProgramHook Hook)
{
    s_ProgramHook = Hook;
}
#endif

QString TAutoruns::ShortcutFile(const QString &Location, const QString &Name)
{
    return Location + Name + QString::fromUtf16(kShortcutExt);
}

void TAutoruns::Refresh()
{
    ReadAll();
}

void TAutoruns::RefreshInBackground()
{
    if (m_Worker->Running()) {
        m_Again = true;
        return;
    }
    StartReading();
}

bool TAutoruns::Refreshing() const
{
    return m_Worker->Running() || m_Again;
}

void TAutoruns::StartReading()
{
    m_Again = false;
    // Only copies go to the worker: a reading left behind at the component's end reaches nothing
    // of it.
    const QString backupFile = m_BackupFile;
    const bool started = m_Worker->Start([this, backupFile]() -> TReadingWorker::TApply {
        auto items = std::make_shared<TItems>();
        bool failed = false;
        try {
            ReadEntries(backupFile, *items);
            for (const auto &item : *items)
                item->Program = ReadProgram(item->Command);
        } catch (...) {
            qCWarning(lcSysinfo) << "autoruns:" << platform::CurrentExceptionText();
            failed = true;
        }
        return [this, items, failed] { ReadingEnded(*items, failed); };
    });
    if (!started)
        m_Again = true;
}

void TAutoruns::ReadingEnded(TItems &Items, bool Failed)
{
    // Asked for again meanwhile (a command may have changed an entry since this reading began):
    // the next reading's list is taken instead.
    if (m_Again) {
        StartReading();
        Items.clear();
        return;
    }
    if (!Failed)
        m_Items.swap(Items);
    // The items given up go here, on the thread that may have shown them.
    Items.clear();
    if (OnRefreshed)
        OnRefreshed();
}

TAutorunProgram TAutoruns::ReadProgram(const QString &Command)
{
    TAutorunProgram program;
    QString part;
    ParseCommandLine(Command, 0, part);
    TASKVANE_TEST_SEAM(ProgramHook(part));
    // The program as the session finds it: never a file of the working folder.
    const QString file = ProgramFileOf(part);
    TFileProperties properties;
    properties.LoadFromFile(file);
    program.IconIndex = properties.GeneralInfo()->IconIndex;
    const TVersionInfo &v = *properties.VersionInfo();
    program.ProductName = v.ProductName;
    program.FileDescription = v.FileDescription;
    program.CompanyName = v.CompanyName;
    program.LegalCopyright = v.LegalCopyright;
    return program;
}

int TAutoruns::GetCount() const
{
    return int(m_Items.size());
}

TAutorunItem *TAutoruns::GetItem(int Index) const
{
    if (quint32(Index) >= quint32(m_Items.size()))
        return nullptr;
    return m_Items[std::size_t(Index)].get();
}

QString TAutoruns::GetLocation(TAutorunUserType UserType, TAutorunRunType RunType)
{
    const int user = int(UserType), run = int(RunType);
    if (user < 1 || user > 2 || run < 1 || run > 5)
        return QString();
    if (RunType == TAutorunRunType::StartupFolder) {
        QString path;
        GetSpecialFolder(UserType == TAutorunUserType::CurrentUser ? CSIDL_STARTUP : CSIDL_COMMON_STARTUP, path);
        return path;
    }
    return QString::fromUtf16(kRunKeys[user - 1][run - 1]);
}

bool TAutoruns::IsFileMissing(const QString &Command)
{
    QString path;
    ParseCommandLine(Command, 0, path);
    TASKVANE_TEST_SEAM(ProgramHook(path));
    // Only a program that is not there counts; a file that cannot be examined is taken as present.
    return !ProgramExists(path);
}

void TAutoruns::ReadAll()
{
    m_Items.clear();
    ReadEntries(m_BackupFile, m_Items);
}

void TAutoruns::ReadEntries(const QString &BackupFile, TItems &Items)
{
    const QStringList exclude{QStringLiteral("desktop.ini"), QStringLiteral("Thumbs.db")};

    // A user entry hides the all-users entry of the same file name, and one marked Hidden
    // counts as deleted, hiding that entry with it (the autostart rules of the desktop).
    QSet<QString> userNames;
    for (TAutorunUserType user : {TAutorunUserType::CurrentUser, TAutorunUserType::AllUsers}) {
        const QString dir = GetLocation(user, TAutorunRunType::StartupFolder);
        if (dir.isEmpty())
            continue;
        // The user's own folder counts only while nobody else can put entries into it.
        if (user == TAutorunUserType::CurrentUser && !platform::files::IsFolderOnlyUserMayChange(dir, true))
            continue;
        QStringList files;
        ListFiles(files, dir, QStringLiteral("*.*"), &exclude);
        // The directory gives its entries in no particular order.
        files.sort();
        for (const QString &file : files) {
            if (!IsAutostartEntry(file))
                continue;
            const QString fileName = QFileInfo(file).fileName();
            if (user == TAutorunUserType::CurrentUser)
                userNames.insert(fileName);
            else if (userNames.contains(fileName))
                continue;
            const auto entry = platform::files::ReadDesktopEntry(file, QString());
            if (entry && entry->Hidden)
                continue;
            auto item = std::make_unique<TAutorunItem>();
            ExtractFileNameNoExt(file, item->Name);
            // The entry just read gives the command: the file is not read again.
            if (entry)
                item->Command = ShortcutCommand(*entry);
            item->Location = dir;
            item->UserType = user;
            item->RunType = TAutorunRunType::StartupFolder;
            item->Active = true;
            item->FileMissing = IsFileMissing(item->Command);
            item->FileName = file;
            Items.push_back(std::move(item));
        }
    }

    // Each store is read once for all its Run keys.
    const std::optional<platform::registry::Store> stores[2] = {
        platform::registry::Load(platform::registry::RootKey::CurrentUser),
        platform::registry::Load(platform::registry::RootKey::LocalMachine)};
    for (TAutorunRunType run : {TAutorunRunType::Run, TAutorunRunType::RunOnce, TAutorunRunType::RunServices,
                                TAutorunRunType::RunServicesOnce}) {
        for (TAutorunUserType user : {TAutorunUserType::CurrentUser, TAutorunUserType::AllUsers}) {
            const QString location = GetLocation(user, run);
            const auto &store = stores[user == TAutorunUserType::CurrentUser ? 0 : 1];
            const platform::registry::Key *key = store ? store->FindKey(RunSubKey(location)) : nullptr;
            if (!key)
                continue;
            for (const platform::registry::Value &value : key->Values()) {
                auto item = std::make_unique<TAutorunItem>();
                item->Name = value.Name;
                // What the registry routines read: a number is no command.
                if (value.Type != platform::registry::ValueType::DWord)
                    item->Command = value.Text;
                item->Location = location;
                item->UserType = user;
                item->RunType = run;
                item->Active = true;
                item->FileMissing = IsFileMissing(item->Command);
                Items.push_back(std::move(item));
            }
        }
    }

    bool exists = false;
    const std::optional<IniFile> ini = LoadBackup(BackupFile, exists);
    if (!exists || !ini)
        return;
    for (const QString &section : ini->SectionNames()) {
        auto item = std::make_unique<TAutorunItem>();
        item->Name = section.mid(2);
        item->Command = ini->Value(section, QStringLiteral("Command"));
        item->UserType = TAutorunUserType(quint8(ini->IntValue(section, QStringLiteral("UserType"), 0)));
        item->RunType = TAutorunRunType(quint8(ini->IntValue(section, QStringLiteral("RunType"), 0)));
        item->Location = GetLocation(item->UserType, item->RunType);
        item->Active = false;
        item->FileMissing = IsFileMissing(item->Command);
        item->Section = section;
        Items.push_back(std::move(item));
    }
}

bool TAutoruns::WriteEntry(const QString &Name, const QString &Command, TAutorunUserType UserType,
                           TAutorunRunType RunType, bool ProgramMissing)
{
    if (ProgramMissing)
        return false;
    QString program;
    ParseCommandLine(Command, 0, program);
    const QString location = GetLocation(UserType, RunType);
    if (location.isEmpty())
        return false;
    if (RunType == TAutorunRunType::StartupFolder) {
        if (!platform::files::IsPlainName(Name))
            return false;
        QString arguments;
        ParseCommandLine(Command, 6, arguments);
        return CreateShortcut(program, ShortcutFile(location, Name), arguments, Name);
    }
    return WriteRegistryString(location, Name, Command, true);
}

bool TAutoruns::DeleteEntry(const QString &Name, TAutorunUserType UserType, TAutorunRunType RunType)
{
    const QString location = GetLocation(UserType, RunType);
    if (location.isEmpty())
        return false;
    if (RunType == TAutorunRunType::StartupFolder) {
        if (!platform::files::IsPlainName(Name))
            return false;
        const QString file = ShortcutFile(location, Name);
        // Only a file that is there counts as deleted; a link goes, never what it leads to, and
        // only in a folder of the user's alone.
        if (!QFileInfo(file).isFile())
            return false;
        TASKVANE_TEST_SEAM(platform::files::BeforeStep());
        return platform::files::RemoveOwnFile(file);
    }
    return DeleteRegistryValue(location, Name);
}

bool TAutoruns::EraseSection(const QString &Section)
{
    bool exists = false;
    std::optional<IniFile> ini = LoadBackup(m_BackupFile, exists);
    if (!exists || !ini)
        return false;
    if (!ini->RemoveSection(Section))
        return true; // nothing to erase
    return ini->Save(m_BackupFile);
}

bool TAutoruns::EraseBackup(const QString &Name, TAutorunRunType RunType)
{
    return EraseSection(SectionOf(Name, RunType));
}

bool TAutoruns::DisableEntry(const QString &Name, const QString &Command, TAutorunUserType UserType,
                             TAutorunRunType RunType)
{
    if (m_BackupFile.isEmpty() || !platform::shell::MakePrivateDirs(QFileInfo(m_BackupFile).absolutePath()))
        return false;
    const QString section = SectionOf(Name, RunType);
    // The section must read back as exactly this name, or the entry could not be found again.
    if (section.trimmed() != section)
        return false;

    bool exists = false;
    std::optional<IniFile> ini = LoadBackup(m_BackupFile, exists);
    if (!ini)
        return false;

    // Everything is gathered before the backup is written: an entry whose file cannot be read
    // leaves no half section behind.
    std::optional<QByteArray> data;
    if (RunType == TAutorunRunType::StartupFolder) {
        const QString location = GetLocation(UserType, RunType);
        if (location.isEmpty() || !platform::files::IsPlainName(Name))
            return false;
        data = platform::files::ReadRegularFile(ShortcutFile(location, Name), kMaxShortcutSize);
        if (!data)
            return false;
    }

    if (ini->HasSection(section)) {
        // A disable that was interrupted after its backup was written: when the backup holds
        // exactly this entry, only the deletion is left to do (and the backup stays whatever
        // happens). One name under two keys or in both folders shares a section: a backup of
        // another entry is never overwritten.
        if (!SectionHolds(*ini, section, Command, UserType, RunType, data))
            return false;
        return DeleteEntry(Name, UserType, RunType);
    }

    if (!ini->SetValue(section, QStringLiteral("Command"), Command) ||
        !ini->SetIntValue(section, QStringLiteral("UserType"), int(UserType)) ||
        !ini->SetIntValue(section, QStringLiteral("RunType"), int(RunType)))
        return false;
    if (RunType == TAutorunRunType::StartupFolder && !ini->SetValue(section, QStringLiteral("Data"), HexText(*data)))
        return false;
    // What is written must read back unchanged by the same reader, or enabling would bring back
    // something else (or nothing); and the file must stay small enough to be read at all.
    const QByteArray text = ini->ToText();
    if (text.size() > IniFile::kMaxFileSize)
        return false;
    IniFile check;
    check.Parse(text);
    if (!SectionHolds(check, section, Command, UserType, RunType, data))
        return false;
    if (!ini->Save(m_BackupFile))
        return false;

    if (!DeleteEntry(Name, UserType, RunType)) {
        EraseSection(section);
        return false;
    }
    return true;
}

bool TAutoruns::EnableEntry(const QString &Name, const QString &Command, TAutorunUserType UserType,
                            TAutorunRunType RunType, bool ProgramMissing)
{
    bool exists = false;
    std::optional<IniFile> ini = LoadBackup(m_BackupFile, exists);
    if (!exists || !ini)
        return false;
    const QString section = SectionOf(Name, RunType);
    if (!ini->HasSection(section))
        return false;

    const QString location = GetLocation(UserType, RunType);
    if (location.isEmpty())
        return false;
    // The entry in force already is exactly the copy (an enable interrupted before the copy was
    // dropped, or the same entry made again): only the copy is left to drop.
    auto dropCopy = [&] { return ini->RemoveSection(section) && ini->Save(m_BackupFile); };
    if (RunType == TAutorunRunType::StartupFolder) {
        if (!platform::files::IsPlainName(Name))
            return false;
        // A missing or damaged copy would bring back an empty or wrong entry: the backup stays.
        if (!ini->HasKey(section, QStringLiteral("Data")))
            return false;
        const std::optional<QByteArray> bytes = HexBytes(ini->Value(section, QStringLiteral("Data")));
        if (!bytes)
            return false;
        const QString file = ShortcutFile(location, Name);
        // An entry made since under the same name is not overwritten.
        if (platform::files::PathExists(file) || QFileInfo(file).isSymLink()) {
            const std::optional<QByteArray> present = platform::files::ReadRegularFile(file, kMaxShortcutSize);
            return present && *present == *bytes && dropCopy();
        }
        if (!platform::files::WriteFileAtomically(file, *bytes))
            return false;
        if (!dropCopy()) {
            TASKVANE_TEST_SEAM(platform::files::BeforeStep());
            platform::files::RemoveOwnFile(file);
            return false;
        }
        return true;
    }

    if (HasValue(location, Name)) {
        QString present;
        ReadRegistryString(location, Name, present);
        return ini->HasKey(section, QStringLiteral("Command")) &&
            present == ini->Value(section, QStringLiteral("Command")) && present == Command && dropCopy();
    }
    if (!WriteEntry(Name, Command, UserType, RunType, ProgramMissing))
        return false;
    if (!dropCopy()) {
        // Never both in force and in the backup.
        DeleteRegistryValue(location, Name);
        return false;
    }
    return true;
}

bool TAutoruns::Delete(int Index)
{
    TAutorunItem *item = GetItem(Index);
    if (!item)
        return false;
    bool done = false;
    if (item->Active) {
        // A file of another kind shares the name of the desktop entry it would address.
        if (item->RunType == TAutorunRunType::StartupFolder && !item->FileName.isEmpty() &&
            item->FileName != ShortcutFile(item->Location, item->Name))
            return false;
        done = DeleteEntry(item->Name, item->UserType, item->RunType);
    } else {
        // The section it was listed from, whatever its first two characters are.
        done = item->Section.isEmpty() ? EraseBackup(item->Name, item->RunType) : EraseSection(item->Section);
    }
    if (!done)
        return false;
    m_Items.erase(m_Items.begin() + Index);
    return true;
}

bool TAutoruns::Disable(int Index)
{
    TAutorunItem *item = GetItem(Index);
    if (!item)
        return false;
    if (!item->Active)
        return true;
    if (item->RunType == TAutorunRunType::StartupFolder && !item->FileName.isEmpty() &&
        item->FileName != ShortcutFile(item->Location, item->Name))
        return false;
    if (!DisableEntry(item->Name, item->Command, item->UserType, item->RunType))
        return false;
    item->Active = false;
    item->Section = SectionOf(item->Name, item->RunType);
    item->FileName.clear();
    return true;
}

bool TAutoruns::Enable(int Index)
{
    TAutorunItem *item = GetItem(Index);
    if (!item)
        return false;
    if (item->Active)
        return true;
    if (!EnableEntry(item->Name, item->Command, item->UserType, item->RunType, item->FileMissing))
        return false;
    item->Active = true;
    item->Section.clear();
    if (item->RunType == TAutorunRunType::StartupFolder)
        item->FileName = ShortcutFile(item->Location, item->Name);
    return true;
}
