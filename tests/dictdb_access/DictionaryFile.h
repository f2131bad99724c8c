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
// only) and rows; the Process table has its name index unless NameIndex is false. Further tables
// may follow the two (empty).
inline void WriteDictionary(const QString &Path, const QString &Version, const QList<DictionaryRow> &Rows,
                            TFieldType VirusType = ftBoolean, bool NameIndex = true,
                            const QList<TDictDBTableLayout> &FurtherTables = {})
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
    layout.Tables = QList<TDictDBTableLayout>{config, process} + FurtherTables;
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

namespace dicttest {

// A whole dictionary of at least Bytes bytes: beside its own two tables, a table "Pictures" of
// blobs (a name and the picture) makes up the size. Its last picture is deleted, so that the file
// ends with a deleted record's blob area, as a dictionary edited with the engine may.
inline void WriteLargeDictionary(const QString &Path, const QString &Version, qint64 Bytes)
{
    TDictDBTableLayout pictures;
    pictures.Name = QStringLiteral("Pictures");
    pictures.Fields = {{QStringLiteral("Name"), ftString, 20, 0}, {QStringLiteral("Picture"), ftBlob, 0, 0}};
    WriteDictionary(Path, Version, {{QStringLiteral("proc1"), QString(), true}}, ftBoolean, true, {pictures});
    TDictTable t;
    t.SetDatabaseName(Path);
    t.SetTableName(QStringLiteral("Pictures"));
    t.Open();
    constexpr int kPictureBytes = 1024 * 1024;
    for (qint64 written = 0, i = 0; written < Bytes; written += kPictureBytes, ++i) {
        t.Append();
        t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("picture%1").arg(i));
        static_cast<TBlobField *>(t.FieldByName(QStringLiteral("Picture")))
            ->SetAsBytes(QByteArray(kPictureBytes, char('a' + i % 26)));
        t.Post();
    }
    t.Last();
    t.Delete();
    t.Close();
}

} // namespace dicttest
