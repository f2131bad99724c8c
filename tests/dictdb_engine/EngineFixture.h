#pragma once

#include "common/TempDir.h"
#include "dictdb/DictDB.h"
#include "dictdb/DictDBCreator.h"
#include "dictdb/DictDBFileIO.h"
#include "dictdb/DictTableIO.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>

#include <cstdlib>
#include <cstring>
#include <functional>

namespace tvtest {

// Runs f and answers the database error's message, or "" when nothing was raised.
inline QString DbErrorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const EDatabaseError &e) {
        return e.Message().isEmpty() ? QStringLiteral("<empty>") : e.Message();
    }
    return QString();
}

inline QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

inline void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// One record's values, built into field buffers the way a data set hands them over.
class Record
{
public:
    explicit Record(TDictTableIO *table) : m_table(table)
    {
        for (int f = 0; f < table->FieldDefs()->Count(); ++f) {
            const TDictFieldDef *def = table->FieldDefs()->Items(f);
            if (IsBlobFieldType(def->FieldType)) {
                TMemoryStream *s = new TMemoryStream;
                TFieldBufferItem *item = m_buffers.Add(&s, def->FieldType, 0);
                item->AutoFree = true;
            } else {
                const qint32 size = GetFieldSize(def->FieldType, def->FieldSize);
                void *mem = std::calloc(size_t(size), 1);
                TFieldBufferItem *item = m_buffers.Add(mem, def->FieldType, size);
                item->AutoFree = true;
            }
        }
    }

    TFieldBuffers &Buffers() { return m_buffers; }
    TFieldBufferItem *Item(const QString &name) { return m_buffers.Items(Index(name)); }
    int Index(const QString &name) const
    {
        const int i = m_table->FieldDefs()->IndexOf(name);
        EXPECT_GE(i, 0) << name.toStdString();
        return i;
    }

    void SetText(const QString &name, const QByteArray &text)
    {
        TFieldBufferItem *item = Item(name);
        if (item->IsBlob()) {
            item->BlobStream()->Clear();
            item->BlobStream()->WriteBuffer(text.constData(), text.size());
            return;
        }
        std::memset(item->Buffer, 0, size_t(item->FieldSize));
        std::memcpy(item->Buffer, text.constData(), size_t(qMin<qsizetype>(text.size(), item->FieldSize)));
    }
    template <class T>
    void Set(const QString &name, T v)
    {
        TFieldBufferItem *item = Item(name);
        std::memset(item->Buffer, 0, size_t(item->FieldSize));
        std::memcpy(item->Buffer, &v, qMin(sizeof v, size_t(item->FieldSize)));
    }
    QByteArray Text(const QString &name)
    {
        TFieldBufferItem *item = Item(name);
        if (item->IsBlob()) {
            TMemoryStream *s = item->BlobStream();
            const qint64 n = s->Size();
            return QByteArray(static_cast<const char *>(s->Memory()), int(n));
        }
        return QByteArray(static_cast<const char *>(item->Buffer));
    }
    template <class T>
    T Get(const QString &name)
    {
        T v{};
        std::memcpy(&v, Item(name)->Buffer, sizeof v);
        return v;
    }
    // Only the named fields take part in the next write.
    void OnlyActive(const QStringList &names)
    {
        for (int f = 0; f < m_buffers.Count(); ++f)
            m_buffers.Items(f)->Active = false;
        for (const QString &n : names)
            Item(n)->Active = true;
    }
    void Read(int pos, int list = 0) { m_table->ReadRecordData(m_buffers, m_table->IndexLists[size_t(list)], pos); }

private:
    TDictTableIO *m_table;
    TFieldBuffers m_buffers;
};

// A connected database over one file, with its tables opened on demand.
class Database
{
public:
    explicit Database(const QString &path, const QString &name = QString())
    {
        db.SetFileName(path);
        db.SetDatabaseName(name.isEmpty() ? path : name);
        db.Open();
    }
    ~Database()
    {
        for (TDictTableIO *t : m_open)
            t->Close();
    }
    TDictTableIO *Table(const QString &name)
    {
        TDictTableIO *t = db.TableIOByName(name);
        if (!t)
            return nullptr;
        t->Open();
        m_open.push_back(t);
        return t;
    }
    TDictDatabase db;

private:
    std::vector<TDictTableIO *> m_open;
};

inline TDictDBFileLayout PeopleLayout()
{
    TDictDBTableLayout t;
    t.Name = QStringLiteral("People");
    t.Fields = {{QStringLiteral("ID"), ftAutoInc, 0, 0},    {QStringLiteral("Name"), ftString, 20, 0},
                {QStringLiteral("Score"), ftInteger, 0, 0}, {QStringLiteral("Active"), ftBoolean, 0, 0},
                {QStringLiteral("Note"), ftMemo, 0, 0},     {QStringLiteral("Born"), ftDate, 0, 0}};
    t.Indexes = {{QStringLiteral("ByName"), TTDIndexOptions(tiUnique | tiCaseInsensitive), {QStringLiteral("Name")}},
                 {QStringLiteral("ByScore"), TTDIndexOptions(tiDescending), {QStringLiteral("Score")}}};
    TDictDBFileLayout layout;
    layout.Tables = {t};
    return layout;
}

} // namespace tvtest
