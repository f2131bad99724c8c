#include "EngineFixture.h"

using namespace tvtest;

namespace {

// A small valid file: two records, one with a blob, both indexes filled.
QByteArray ValidImage(const TempDir &dir)
{
    const QString path = dir.file(QStringLiteral("valid.db"));
    CreateDictDBFile(path, PeopleLayout());
    {
        Database d(path, QStringLiteral("valid"));
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        Record r(t);
        r.SetText(QStringLiteral("Name"), "alpha");
        r.SetText(QStringLiteral("Note"), "note one");
        t->AppendRecordData(r.Buffers(), false, nullptr);
        r.SetText(QStringLiteral("Name"), "beta");
        r.Set<qint32>(QStringLiteral("Score"), 7);
        t->AppendRecordData(r.Buffers(), false, nullptr);
    }
    return ReadAll(path);
}

template <class T>
void Put(QByteArray &image, qint64 at, T v)
{
    std::memcpy(image.data() + at, &v, sizeof v);
}

template <class T>
T At(const QByteArray &image, qint64 at)
{
    T v;
    std::memcpy(&v, image.constData() + at, sizeof v);
    return v;
}

// Opens the file, loads every table and reads every record and blob.
QString ReadEverything(const QString &path)
{
    return DbErrorOf([&] {
        Database d(path, QStringLiteral("corrupt"));
        QStringList names;
        d.db.GetTableNames(names);
        for (const QString &n : names) {
            TDictTableIO *t = d.Table(n);
            if (!t)
                continue;
            Record r(t);
            for (size_t pos = 0; pos < t->IndexLists[0].size(); ++pos) {
                r.Read(int(pos));
                for (int f = 0; f < t->FieldDefs()->Count(); ++f) {
                    TMemoryStream s;
                    t->ReadFieldData(&s, t->IndexLists[0][pos].RecIndex, f);
                }
            }
        }
    });
}

} // namespace

TEST(DictDBCorruptFile, EveryBadFieldIsRefused)
{
    TempDir dir;
    const QByteArray valid = ValidImage(dir);
    const qint64 header = At<qint32>(valid, dictdb::kTableTabOffset + 8);
    const qint64 indexRec = header + 4181;
    const qint64 recTab = At<qint32>(valid, header + 33);
    const qint64 idxTab = At<qint32>(valid, indexRec + 66);
    const qint64 record0 = At<qint32>(valid, recTab + 4);
    const qint64 noteSlot = record0 + 4 + 21 + 4 + 2;

    struct Case
    {
        const char *what;
        std::function<void(QByteArray &)> patch;
    };
    const std::vector<Case> cases = {
        {"table count above 256", [](QByteArray &b) { Put<qint32>(b, dictdb::kTableTabOffset, 257); }},
        {"negative table count", [](QByteArray &b) { Put<qint32>(b, dictdb::kTableTabOffset, -1); }},
        {"header beyond the file", [](QByteArray &b) { Put<qint32>(b, dictdb::kTableTabOffset + 8, b.size() - 10); }},
        {"header in the fixed areas", [](QByteArray &b) { Put<qint32>(b, dictdb::kTableTabOffset + 8, 100); }},
        {"field count 97", [&](QByteArray &b) { Put<qint32>(b, header + 45, 97); }},
        {"negative field count", [&](QByteArray &b) { Put<qint32>(b, header + 45, -3); }},
        {"index count 9", [&](QByteArray &b) { Put<qint32>(b, header + 4177, 9); }},
        {"unsupported field type", [&](QByteArray &b) { b[int(header + 49 + 33)] = char(ftBytes); }},
        {"huge string size", [&](QByteArray &b) { Put<qint32>(b, header + 49 + 43 + 34, 0x7FFFFFF0); }},
        {"index field out of range", [&](QByteArray &b) { Put<qint32>(b, indexRec + 34, 6); }},
        {"record total beyond the file", [&](QByteArray &b) { Put<qint32>(b, header + 37, 0x7FFFFFFF); }},
        {"record tab beyond the file", [&](QByteArray &b) { Put<qint32>(b, header + 33, b.size()); }},
        {"record data beyond the file", [&](QByteArray &b) { Put<qint32>(b, recTab + 4, b.size() - 2); }},
        {"index tab missing", [&](QByteArray &b) { Put<qint32>(b, indexRec + 66, 0); }},
        {"index head out of range", [&](QByteArray &b) { Put<qint32>(b, indexRec + 70, 5); }},
        {"index entry with a foreign number", [&](QByteArray &b) { Put<qint32>(b, idxTab + 4, 1); }},
        {"index next out of range", [&](QByteArray &b) { Put<qint32>(b, idxTab + 4 + 4, 9); }},
        {"index chain loop",
         [&](QByteArray &b) {
             const qint32 head = At<qint32>(b, indexRec + 70);
             Put<qint32>(b, idxTab + 4 + head * 8 + 4, head);
         }},
        {"blob capacity below length", [&](QByteArray &b) { Put<qint32>(b, noteSlot + 8, 1); }},
        {"blob beyond the file", [&](QByteArray &b) { Put<qint32>(b, noteSlot, b.size() - 2); }},
        {"negative blob length", [&](QByteArray &b) { Put<qint32>(b, noteSlot + 4, -5); }},
        {"truncated file", [](QByteArray &b) { b.truncate(b.size() - 120); }},
        {"shorter than the fixed areas", [](QByteArray &b) { b.truncate(3000); }},
    };
    const QString path = dir.file(QStringLiteral("bad.db"));
    WriteAll(path, valid);
    EXPECT_EQ(ReadEverything(path), QString());
    for (const Case &c : cases) {
        QByteArray image = valid;
        c.patch(image);
        WriteAll(path, image);
        const QString err = ReadEverything(path);
        EXPECT_FALSE(err.isEmpty()) << c.what;
    }
}

TEST(DictDBCorruptFile, ChainedTabBlocksThatLoopAreRefused)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("loop.db"));
    CreateDictDBFile(path, PeopleLayout());
    {
        Database d(path);
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        Record r(t);
        for (int i = 0; i < 1030; ++i) {
            r.SetText(QStringLiteral("Name"), QByteArray::number(i));
            t->AppendRecordData(r.Buffers(), false, nullptr);
        }
        EXPECT_EQ(t->RecTabBlockOffsets.size(), 2u);
    }
    QByteArray image = ReadAll(path);
    const qint64 header = At<qint32>(image, dictdb::kTableTabOffset + 8);
    const qint32 first = At<qint32>(image, header + 33);
    Put<qint32>(image, first, first); // the first block names itself as the next
    WriteAll(path, image);
    EXPECT_EQ(ReadEverything(path), QStringLiteral("Database file '%1' is corrupt: tab chain loops").arg(path));
}

TEST(DictDBCorruptFile, StringSlotsWithoutNulReadWithinTheirSize)
{
    TempDir dir;
    QByteArray image = ValidImage(dir);
    const qint64 header = At<qint32>(image, dictdb::kTableTabOffset + 8);
    const qint64 recTab = At<qint32>(image, header + 33);
    const qint64 record0 = At<qint32>(image, recTab + 4);
    std::memset(image.data() + record0 + 4, 'q', 21);
    // Names and the table name filling their whole slots.
    std::memset(image.data() + header, 'T', 33);
    const QString path = dir.file(QStringLiteral("nul.db"));
    WriteAll(path, image);
    Database d(path);
    QStringList names;
    d.db.GetTableNames(names);
    ASSERT_EQ(names, QStringList{QString(33, QLatin1Char('T'))});
    TDictTableIO *t = d.Table(names.first());
    ASSERT_NE(t, nullptr);
    Record r(t);
    r.Read(0);
    EXPECT_EQ(r.Text(QStringLiteral("Name")), QByteArray(20, 'q'));
}
