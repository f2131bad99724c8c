#include "dictdb/DBTools.h"

#include "dictdb/DBToolsLogging.h"
#include "dictdb/DictDB.h"
#include "dictdb/DictDBVerify.h"
#include "dictdb/DictTable.h"
#include "platform/Logging.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileStat.h"
#include "platform/files/OwnFolder.h"
#include "sysinfo/AES.h"

#include <QHash>

#include <atomic>
#include <memory>
#include <optional>

namespace {

const QString kDescriptionKey = QStringLiteral("5r2t8v3k6m4");

// Only a few places are ever asked about; a longer list means a caller passes names that change.
constexpr qsizetype kMaxCheckedFiles = 16;

std::unique_ptr<TDictTable> DictTable;
TDictFiles Files;
QString FileInUse;
QHash<QString, TDictFileCheck> Checked;
// Names the databases of the checks apart from every other.
std::atomic<quint64> g_checks{0};

// The unit's start and end.
struct DBToolsUnit
{
    DBToolsUnit() { CreateDictTable(); }
    ~DBToolsUnit() { FreeDictTable(); }
} g_unit;

class EUndecipherable : public std::exception
{
    const char *what() const noexcept override { return "the description cannot be deciphered"; }
};

void CloseQuietly()
{
    try {
        DictTable->Close();
    } catch (...) {
        qCWarning(lcDictionary) << "closing the dictionary:" << platform::CurrentExceptionText();
    }
}

// Opens the named file's Config table and answers its version (kNoDictVersion when it has none);
// raises what the open raises, and leaves the closing to the caller.
QString ConfigVersion(TDictTable &Table)
{
    Table.SetTableName(QStringLiteral("Config"));
    Table.Open();
    if (Table.Locate(QStringLiteral("Item"), QStringLiteral("Version"), {}))
        return Table.FieldByName(QStringLiteral("Value"))->AsString();
    return kNoDictVersion;
}

// The file's identity; false when it is no regular file.
bool Identify(const QString &FileName, TDictFileCheck &Check)
{
    platform::files::FileStatus st;
    if (FileName.isEmpty() || !platform::files::StatFile(FileName, st) || st.Kind != platform::files::FileKind::Regular)
        return false;
    Check.Device = st.Device;
    Check.Inode = st.Inode;
    Check.Size = st.Size;
    Check.ModifySeconds = st.ModifyTime.Seconds;
    Check.ModifyNanoseconds = st.ModifyTime.Nanoseconds;
    return true;
}

// The version the file answers with (kNoDictVersion when none), read through a database and a
// table of the caller's own, so that any thread may ask while the look-ups read theirs.
QString ReadVersionApart(const QString &FileName)
{
    QString version = kNoDictVersion;
    try {
        TDictDatabase database;
        database.SetFileName(FileName);
        // A name of its own: tables find their database by name, and the look-ups' table names
        // its database by the file.
        database.SetDatabaseName(QStringLiteral("DictionaryCheck%1").arg(++g_checks));
        TDictTable table(nullptr);
        table.SetDatabaseName(database.DatabaseName());
        version = ConfigVersion(table);
        table.Close();
    } catch (...) {
        qCWarning(lcDictionary) << "version of" << FileName << "unread:" << platform::CurrentExceptionText();
    }
    return version;
}

// True with the file's version when it is a whole dictionary; checked once per identity.
bool WholeDictionary(const QString &FileName, QString &Version)
{
    TDictFileCheck now;
    if (!Identify(FileName, now)) {
        Checked.remove(FileName);
        return false;
    }
    auto it = Checked.find(FileName);
    if (it == Checked.end() || !it->SameFile(now)) {
        if (it == Checked.end() && Checked.size() >= kMaxCheckedFiles)
            Checked.clear();
        it = Checked.insert(FileName, CheckDictFile(FileName));
    }
    Version = it->Version;
    return it->Whole;
}

QString ChooseDictFile()
{
    QString shipped, shippedVersion;
    for (const QString &file : Files.ShippedFiles) {
        if (WholeDictionary(file, shippedVersion)) {
            shipped = file;
            break;
        }
    }
    QString userVersion;
    if (!WholeDictionary(Files.UserFile, userVersion))
        return shipped;
    if (shipped.isEmpty() || (Files.IsNewer && Files.IsNewer(userVersion, shippedVersion)))
        return Files.UserFile;
    return shipped;
}

// Points the look-ups at the chosen file.
void UseChosenFile()
{
    FileInUse = ChooseDictFile();
    CloseQuietly();
    try {
        DictTable->SetDatabaseName(FileInUse);
    } catch (...) {
        qCWarning(lcDictionary) << "using" << FileInUse << "failed:" << platform::CurrentExceptionText();
    }
}

} // namespace

void CreateDictTable()
{
    if (DictTable)
        return;
    DictTable = std::make_unique<TDictTable>(nullptr);
    UseChosenFile();
}

void FreeDictTable()
{
    if (!DictTable)
        return;
    CloseQuietly();
    DictTable.reset();
}

void SetDictFiles(const TDictFiles &NewFiles)
{
    Files = NewFiles;
    if (DictTable)
        UseChosenFile();
}

QString DictFileInUse()
{
    return FileInUse;
}

QString CheckedDictVersion()
{
    if (!DictTable)
        return kNoDictVersion;
    UseChosenFile();
    const auto it = Checked.constFind(FileInUse);
    return FileInUse.isEmpty() || it == Checked.constEnd() ? kNoDictVersion : it->Version;
}

TDictFileCheck CheckDictFile(const QString &FileName, const std::function<bool()> &Stop)
{
    TDictFileCheck check;
    if (!Identify(FileName, check))
        return check;
    TDictVerifyOptions options;
    // A dictionary is only ever handed on whole: nothing may follow its structures.
    options.ExactExtent = true;
    options.Stop = Stop;
    QString reason;
    if (!VerifyDictDatabaseFile(FileName, options, &reason)) {
        qCWarning(lcDictionary) << "not a whole dictionary:" << reason;
        return check;
    }
    const QString version = ReadVersionApart(FileName);
    TDictFileCheck after;
    if (!Identify(FileName, after) || !after.SameFile(check)) {
        qCWarning(lcDictionary) << FileName << "changed while it was checked";
        return check;
    }
    check.Whole = true;
    check.Version = version;
    return check;
}

bool InstallDictFile(const QString &From, const QString &To, qint64 Limit, TDictFileCheck &Installed,
                     const std::function<bool()> &Stop)
{
    Installed = TDictFileCheck();
    const TDictFileCheck offered = CheckDictFile(From, Stop);
    if (!offered.Whole)
        return false;
    // The bytes copied are those checked: the file is the user's own, in a folder only the user
    // may write, and its size is still the one checked.
    const std::optional<QByteArray> data = platform::files::ReadOwnFile(From, Limit);
    if (!data || data->size() != offered.Size || (Stop && Stop()))
        return false;
    if (!platform::files::WriteFileAtomically(To, *data))
        return false;
    TDictFileCheck written;
    if (Identify(To, written) && written.Size == offered.Size) {
        written.Whole = true;
        written.Version = offered.Version;
        Installed = written;
    }
    return true;
}

void TakeDictFileCheck(const QString &FileName, const TDictFileCheck &Check)
{
    // Without an identity the file is checked again when it is next chosen.
    if (FileName.isEmpty() || Check.Inode == 0)
        return;
    if (!Checked.contains(FileName) && Checked.size() >= kMaxCheckedFiles)
        Checked.clear();
    Checked.insert(FileName, Check);
}

void GetDictVersionIn(const QString &FileName, QString &Version)
{
    Version = kNoDictVersion;
    if (!DictTable)
        return;
    try {
        DictTable->Close();
        // Set again, so that a file replaced since the last call is opened afresh.
        DictTable->SetDatabaseName(FileName);
        FileInUse = FileName;
        Version = ConfigVersion(*DictTable);
    } catch (...) {
        qCWarning(lcDictionary) << "version of" << FileName << "unread:" << platform::CurrentExceptionText();
    }
    CloseQuietly();
}

void GetDictVersion(QString &Version)
{
    Version = kNoDictVersion;
    if (!DictTable)
        return;
    UseChosenFile();
    GetDictVersionIn(FileInUse, Version);
}

bool LookupProcess(const QString &Name, QString &Description, bool &IsVirus)
{
    if (Name.trimmed().isEmpty() || !DictTable)
        return false;
    const QString key = Name.toLower();
    bool done = false;
    QString plain;
    bool virus = false;
    try {
        DictTable->Close();
        DictTable->SetTableName(QStringLiteral("Process"));
        DictTable->Open();
        if (DictTable->Locate(QStringLiteral("ProcessName"), key, loCaseInsensitive)) {
            const QString hex = DictTable->FieldByName(QStringLiteral("Description"))->AsString();
            TAES::DecryptHexString(hex, kDescriptionKey, 0, plain);
            // The decipher routine answers an empty text for anything it cannot decipher.
            if (plain.isEmpty() && !hex.isEmpty())
                throw EUndecipherable();
            virus = DictTable->FieldByName(QStringLiteral("Virus"))->AsBoolean();
            done = true;
        }
    } catch (...) {
        // A look-up answers "not found" whatever went wrong; the page shows the name unmarked.
        qCWarning(lcDictionary) << "look-up of process" << Name << "failed:" << platform::CurrentExceptionText();
        done = false;
    }
    CloseQuietly();
    if (!done)
        return false;
    Description = plain;
    IsVirus = virus;
    return true;
}
