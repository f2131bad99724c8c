#include "dictdb/DBTools.h"

#include "dictdb/DBToolsLogging.h"
#include "dictdb/DictDBVerify.h"
#include "dictdb/DictTable.h"
#include "platform/Logging.h"
#include "platform/files/FileStat.h"
#include "sysinfo/AES.h"

#include <QHash>

#include <memory>

namespace {

const QString kDescriptionKey = QStringLiteral("5r2t8v3k6m4");

// What the verification found for one file, and which file that was: a file is checked again
// only when it is no longer the same file (another inode, size or modification time).
struct TCheckedFile
{
    quint64 Device = 0;
    quint64 Inode = 0;
    qint64 Size = 0;
    qint64 ModifySeconds = 0;
    quint32 ModifyNanoseconds = 0;
    bool Whole = false;
    QString Version;

    bool SameFile(const TCheckedFile &Other) const
    {
        return Device == Other.Device && Inode == Other.Inode && Size == Other.Size &&
            ModifySeconds == Other.ModifySeconds && ModifyNanoseconds == Other.ModifyNanoseconds;
    }
};

// Only a few places are ever asked about; a longer list means a caller passes names that change.
constexpr qsizetype kMaxCheckedFiles = 16;

std::unique_ptr<TDictTable> DictTable;
TDictFiles Files;
QString FileInUse;
QHash<QString, TCheckedFile> Checked;

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
QString ConfigVersion()
{
    DictTable->SetTableName(QStringLiteral("Config"));
    DictTable->Open();
    if (DictTable->Locate(QStringLiteral("Item"), QStringLiteral("Version"), {}))
        return DictTable->FieldByName(QStringLiteral("Value"))->AsString();
    return kNoDictVersion;
}

// The version the file answers with (kNoDictVersion when none); the look-ups keep their file.
QString ReadVersion(const QString &FileName)
{
    QString version = kNoDictVersion;
    try {
        DictTable->Close();
        DictTable->SetDatabaseName(FileName);
        version = ConfigVersion();
    } catch (...) {
        qCWarning(lcDictionary) << "version of" << FileName << "unread:" << platform::CurrentExceptionText();
    }
    CloseQuietly();
    try {
        DictTable->SetDatabaseName(FileInUse);
    } catch (...) {
        qCWarning(lcDictionary) << "back to" << FileInUse << "failed:" << platform::CurrentExceptionText();
    }
    return version;
}

// True with the file's version when it is a whole dictionary.
bool WholeDictionary(const QString &FileName, QString &Version)
{
    platform::files::FileStatus st;
    if (FileName.isEmpty() || !platform::files::StatFile(FileName, st) ||
        st.Kind != platform::files::FileKind::Regular) {
        Checked.remove(FileName);
        return false;
    }
    TCheckedFile now;
    now.Device = st.Device;
    now.Inode = st.Inode;
    now.Size = st.Size;
    now.ModifySeconds = st.ModifyTime.Seconds;
    now.ModifyNanoseconds = st.ModifyTime.Nanoseconds;
    auto it = Checked.find(FileName);
    if (it == Checked.end() || !it->SameFile(now)) {
        QString reason;
        now.Whole = VerifyDictDatabaseFile(FileName, &reason);
        if (!now.Whole)
            qCWarning(lcDictionary) << "not a whole dictionary:" << reason;
        if (now.Whole)
            now.Version = ReadVersion(FileName);
        if (it == Checked.end() && Checked.size() >= kMaxCheckedFiles)
            Checked.clear();
        it = Checked.insert(FileName, now);
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

bool ReadWholeDictVersion(const QString &FileName, QString &Version)
{
    Version = kNoDictVersion;
    if (!DictTable)
        return false;
    QString version;
    if (!WholeDictionary(FileName, version))
        return false;
    Version = version;
    return true;
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
        Version = ConfigVersion();
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
