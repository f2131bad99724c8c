#pragma once

// Writes process dictionaries for the tests: a Config table with the version and a Process table
// of names, descriptions and virus flags. Header-only: the window's tests use it too.

#include "dictdb/DictDBCreator.h"
#include "dictdb/DictTable.h"

#include <QFile>
#include <QList>
#include <QString>

namespace dicttest {

struct DictionaryRow
{
    QString Name;
    QString Description;
    bool Virus;
};

// A dictionary file with the given version (none when empty: the Config table holds another item
// only) and rows; the Process table has its name index unless NameIndex is false.
inline void WriteDictionary(const QString &Path, const QString &Version, const QList<DictionaryRow> &Rows,
                            TFieldType VirusType = ftBoolean, bool NameIndex = true)
{
    QFile::remove(Path);
    TDictDBTableLayout config;
    config.Name = QStringLiteral("Config");
    config.Fields = {{QStringLiteral("Item"), ftString, 32, 0}, {QStringLiteral("Value"), ftString, 32, 0}};
    TDictDBTableLayout process;
    process.Name = QStringLiteral("Process");
    process.Fields = {{QStringLiteral("ProcessName"), ftString, 40, 0},
                      {QStringLiteral("Description"), ftString, 400, 0},
                      {QStringLiteral("Virus"), VirusType, 0, 0}};
    if (NameIndex)
        process.Indexes = {{QStringLiteral("NameIdx"),
                            TTDIndexOptions(tiPrimary) | tiUnique | tiCaseInsensitive,
                            {QStringLiteral("ProcessName")}}};
    TDictDBFileLayout layout;
    layout.Tables = {config, process};
    CreateDictDBFile(Path, layout);
    TDictTable t;
    t.SetDatabaseName(Path);
    t.SetTableName(QStringLiteral("Config"));
    t.Open();
    t.Append();
    t.FieldByName(QStringLiteral("Item"))
        ->SetAsString(Version.isEmpty() ? QStringLiteral("Other") : QStringLiteral("Version"));
    t.FieldByName(QStringLiteral("Value"))->SetAsString(Version.isEmpty() ? QStringLiteral("x") : Version);
    t.Post();
    t.Close();
    if (Rows.isEmpty())
        return;
    t.SetTableName(QStringLiteral("Process"));
    t.Open();
    for (const DictionaryRow &r : Rows) {
        t.Append();
        t.FieldByName(QStringLiteral("ProcessName"))->SetAsString(r.Name);
        t.FieldByName(QStringLiteral("Description"))->SetAsString(r.Description);
        t.FieldByName(QStringLiteral("Virus"))->SetValue(r.Virus);
        t.Post();
    }
    t.Close();
}

} // namespace dicttest
