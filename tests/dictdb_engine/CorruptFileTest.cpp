#include "EngineFixture.h"

#include "dictdb/DictTable.h"

#include <atomic>
#include <cstdio>

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
        EXPECT_EQ(t->RecTabBlockOffsets().size(), 2u);
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

// ---- claims larger than the file ----

#ifdef __SANITIZE_ADDRESS__
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*Malloc)(const volatile void *, size_t),
                                                         void (*Free)(const volatile void *));
#endif

namespace {

std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

// The largest single allocation while f runs (0 where the allocator cannot be watched).
size_t LargestAllocation(const std::function<void()> &f)
{
#ifdef __SANITIZE_ADDRESS__
    static const bool installed = [] {
        return __sanitizer_install_malloc_and_free_hooks(
                   [](const volatile void *, size_t size) {
                       if (g_watching.load(std::memory_order_relaxed)) {
                           size_t seen = g_largest.load(std::memory_order_relaxed);
                           while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
                           }
                       }
                   },
                   [](const volatile void *) {}) != 0;
    }();
    EXPECT_TRUE(installed);
#endif
    g_largest = 0;
    g_watching = true;
    f();
    g_watching = false;
    return g_largest;
}

} // namespace

// Lengths, sizes and capacities read from a small file ask for more than it holds: each is
// refused before anything that large is allocated, by the table I/O and by the data set the
// dictionary look-ups use.
TEST(DictDBCorruptFile, ClaimsLargerThanTheFileAreRefusedBeforeAllocating)
{
    TempDir dir;
    const QByteArray valid = ValidImage(dir);
    const qint64 header = At<qint32>(valid, dictdb::kTableTabOffset + 8);
    const qint64 recTab = At<qint32>(valid, header + 33);
    const qint64 record0 = At<qint32>(valid, recTab + 4);
    const qint64 noteSlot = record0 + 4 + 21 + 4 + 2;
    const qint64 field = header + 49; // field record 0; "Score" is field 2

    struct Case
    {
        const char *what;
        std::function<void(QByteArray &)> patch;
    };
    const std::vector<Case> cases = {
        {"blob length of 2 GB",
         [&](QByteArray &b) {
             Put<qint32>(b, noteSlot + 4, 0x7FFFFF00);
             Put<qint32>(b, noteSlot + 8, 0x7FFFFFC0);
         }},
        {"blob length just past the end",
         [&](QByteArray &b) {
             Put<qint32>(b, noteSlot + 4, b.size());
             Put<qint32>(b, noteSlot + 8, b.size() + 64);
         }},
        {"integer field turned text with a stale size",
         [&](QByteArray &b) {
             Put<qint32>(b, field + 2 * 43 + 34, 0x1FFFFFFF);
             b[int(field + 2 * 43 + 33)] = char(ftString);
         }},
        {"one huge text field in an empty table",
         [&](QByteArray &b) {
             Put<qint32>(b, header + 37, 0);
             Put<qint32>(b, field + 1 * 43 + 34, 0x7FFFFFF0);
         }},
        {"many large text fields in an empty table",
         [&](QByteArray &b) {
             Put<qint32>(b, header + 37, 0);
             Put<qint32>(b, header + 45, 96);
             for (int f = 0; f < 96; ++f) {
                 char *rec = b.data() + field + f * 43;
                 std::memset(rec, 0, 43);
                 std::snprintf(rec, 33, "F%d", f);
                 rec[33] = char(ftString);
                 const qint32 size = 0x00FFFFF0;
                 std::memcpy(rec + 34, &size, 4);
             }
             Put<qint32>(b, header + 4177, 0);
         }},
    };
    const QString path = dir.file(QStringLiteral("claims.db"));
    for (const Case &c : cases) {
        QByteArray image = valid;
        c.patch(image);
        WriteAll(path, image);
        QString err;
        const size_t largest = LargestAllocation([&] { err = ReadEverything(path); });
        EXPECT_TRUE(err.startsWith(QStringLiteral("Database file '%1' is corrupt: ").arg(path)))
            << c.what << ": " << qPrintable(err);
        EXPECT_LT(largest, size_t(image.size()) + 65536) << c.what;
        // The data set on top refuses the same file in the same way.
        const size_t viaTable = LargestAllocation([&] {
            const QString tableErr = DbErrorOf([&] {
                TDictTable table;
                table.SetDatabaseName(path);
                table.SetTableName(QStringLiteral("People"));
                table.Open();
                for (table.First(); !table.Eof(); table.Next())
                    table.FieldByName(QStringLiteral("Note"))->AsString();
            });
            EXPECT_FALSE(tableErr.isEmpty()) << c.what;
        });
        EXPECT_LT(viaTable, size_t(image.size()) + 65536) << c.what;
    }
    // A capacity near the int32 limit has a capacity beyond it, not a negative one.
    static_assert(dictdb::BlobCapacity(0x7FFFFFF0) > dictdb::kMaxFileSize);
}

// A compressed and enciphered blob whose stored bytes no longer decode: the refusal names the
// file, the table and the field, read directly or through the record's lazy blob stream.
TEST(DictDBCorruptFile, UndecodableBlobsAreNamedByFileTableAndField)
{
    TempDir dir;
    TDictDBFileLayout layout = PeopleLayout();
    layout.Compress = true;
    layout.Encrypt = true;
    layout.Password = QStringLiteral("pw");
    const QString path = dir.file(QStringLiteral("packed.db"));
    CreateDictDBFile(path, layout);
    {
        Database d(path);
        d.db.SetPassword(QStringLiteral("pw"));
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        Record r(t);
        r.SetText(QStringLiteral("Name"), "one");
        r.SetText(QStringLiteral("Note"), QByteArray(3000, 'n'));
        t->AppendRecordData(r.Buffers(), false, nullptr);
    }
    QByteArray image = ReadAll(path);
    const qint64 header = At<qint32>(image, dictdb::kTableTabOffset + 8);
    const qint64 record0 = At<qint32>(image, At<qint32>(image, header + 33) + 4);
    const qint32 blobAt = At<qint32>(image, record0 + 4 + 21 + 4 + 2);
    for (int i = 8; i < 24; ++i)
        image[int(blobAt + i)] = char(image[int(blobAt + i)] ^ 0x33);
    WriteAll(path, image);

    const QString prefix = QStringLiteral("Database file '%1' is corrupt: a stored value does not decode (").arg(path);
    const QString suffix = QStringLiteral(") (table 'People', field 'Note')");
    Database d(path);
    d.db.SetPassword(QStringLiteral("pw"));
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    const QString direct = DbErrorOf([&] {
        TMemoryStream s;
        t->ReadFieldData(&s, 0, 4);
    });
    EXPECT_TRUE(direct.startsWith(prefix) && direct.endsWith(suffix)) << qPrintable(direct);
    TFieldBuffers fb;
    for (int f = 0; f < 4; ++f)
        fb.Add(nullptr, ftUnknown, 0)->Active = false;
    auto *lazy = new TOptimBlobStream;
    TMemoryStream *asBase = lazy;
    fb.Add(&asBase, ftMemo, 0)->AutoFree = true;
    t->ReadRecordData(fb, t->IndexLists[0], 0);
    const QString viaStream = DbErrorOf([&] { lazy->Size(); });
    EXPECT_TRUE(viaStream.startsWith(prefix) && viaStream.endsWith(suffix)) << qPrintable(viaStream);
}
