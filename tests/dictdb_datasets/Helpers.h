#pragma once

#include "common/TempDir.h"
#include "dictdb/DictDBCreator.h"
#include "dictdb/DictTable.h"

#include <QString>

#include <memory>

namespace dstest {

// Fields: Name string(10), Num integer, Flag Boolean, D date, Tm time, DT date-time, Notes memo.
// Indexes: ByName (case-insensitive), ByNum (primary, unique), ByNameCS (case-sensitive).
inline TDictDBTableLayout PeopleTable(bool WithIndexes = true)
{
    TDictDBTableLayout t;
    t.Name = QStringLiteral("People");
    t.Fields = {{QStringLiteral("Name"), ftString, 10, 0}, {QStringLiteral("Num"), ftInteger, 0, 0},
                {QStringLiteral("Flag"), ftBoolean, 0, 0}, {QStringLiteral("D"), ftDate, 0, 0},
                {QStringLiteral("Tm"), ftTime, 0, 0},      {QStringLiteral("DT"), ftDateTime, 0, 0},
                {QStringLiteral("Notes"), ftMemo, 0, 0}};
    if (WithIndexes)
        t.Indexes = {{QStringLiteral("ByName"), TTDIndexOptions(tiCaseInsensitive), {QStringLiteral("Name")}},
                     {QStringLiteral("ByNum"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Num")}},
                     {QStringLiteral("ByNameCS"), TTDIndexOptions(), {QStringLiteral("Name")}}};
    return t;
}

// A database file in the test's own directory holding the given tables.
inline QString MakeFile(const tvtest::TempDir &Dir, const QList<TDictDBTableLayout> &Tables,
                        const QString &Name = QStringLiteral("test.db"))
{
    TDictDBFileLayout layout;
    layout.Tables = Tables;
    const QString path = Dir.file(Name);
    CreateDictDBFile(path, layout);
    return path;
}

inline std::unique_ptr<TDictTable> OpenTable(const QString &File, const QString &Table,
                                             const QString &Index = QString())
{
    auto t = std::make_unique<TDictTable>();
    t->SetDatabaseName(File);
    t->SetTableName(Table);
    t->SetIndexName(Index);
    t->Open();
    return t;
}

inline void AddPerson(TDictTable &T, const QString &Name, int Num, bool Flag = false)
{
    T.Append();
    T.FieldByName(QStringLiteral("Name"))->SetAsString(Name);
    T.FieldByName(QStringLiteral("Num"))->SetAsInteger(Num);
    T.FieldByName(QStringLiteral("Flag"))->SetAsBoolean(Flag);
    T.Post();
}

inline QString Name(TDictTable &T)
{
    return T.FieldByName(QStringLiteral("Name"))->AsString();
}
inline int Num(TDictTable &T)
{
    return T.FieldByName(QStringLiteral("Num"))->AsInteger();
}

// The names in the current order, walking from the first record.
inline QStringList Names(TDictTable &T)
{
    QStringList out;
    for (T.First(); !T.Eof(); T.Next())
        out << Name(T);
    return out;
}

} // namespace dstest
