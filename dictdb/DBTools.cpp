#include "dictdb/DBTools.h"

#include "dictdb/DictTable.h"
#include "sysinfo/AES.h"
#include "sysinfo/Utils.h"

namespace {

const QString kDictFile = QStringLiteral("Ravel.db");
const QString kDescriptionKey = QStringLiteral("5r2t8v3k6m4");

TDictTable *DictTable = nullptr;

QString AppDictFile()
{
    QString path;
    GetAppPath(path);
    return path + kDictFile;
}

// The unit's start and end.
struct DBToolsUnit
{
    DBToolsUnit() { CreateDictTable(); }
    ~DBToolsUnit() { FreeDictTable(); }
} g_unit;

class EUndecipherable : public std::exception
{
};

} // namespace

void CreateDictTable()
{
    if (DictTable)
        return;
    DictTable = new TDictTable(nullptr);
    DictTable->SetDatabaseName(AppDictFile());
}

void FreeDictTable()
{
    if (!DictTable)
        return;
    try {
        DictTable->Close();
    } catch (...) {
    }
    delete DictTable;
    DictTable = nullptr;
}

void GetDictVersionIn(const QString &FileName, QString &Version)
{
    Version = QStringLiteral("0000-00-00");
    if (!DictTable)
        return;
    try {
        DictTable->Close();
        // Set again, so that a file replaced since the last call is opened afresh.
        DictTable->SetDatabaseName(FileName);
        DictTable->SetTableName(QStringLiteral("Config"));
        DictTable->Open();
        if (DictTable->Locate(QStringLiteral("Item"), QStringLiteral("Version"), {}))
            Version = DictTable->FieldByName(QStringLiteral("Value"))->AsString();
    } catch (...) {
    }
    try {
        DictTable->Close();
    } catch (...) {
    }
}

void GetDictVersion(QString &Version)
{
    GetDictVersionIn(AppDictFile(), Version);
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
        done = false;
    }
    try {
        DictTable->Close();
    } catch (...) {
    }
    if (!done)
        return false;
    Description = plain;
    IsVirus = virus;
    return true;
}
