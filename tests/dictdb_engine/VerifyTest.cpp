#include "EngineFixture.h"

#include "dictdb/DictDBVerify.h"

#include <QFileInfo>
#include <QStringList>

#include <set>
#include <sys/stat.h>

using namespace tvtest;

namespace {

const QString kPassword = QStringLiteral("pw");

template <class T>
T At(const QByteArray &image, qint64 at)
{
    T v;
    std::memcpy(&v, image.constData() + at, sizeof v);
    return v;
}

template <class T>
void Put(QByteArray &image, qint64 at, T v)
{
    std::memcpy(image.data() + at, &v, sizeof v);
}

// People with blobs large enough to compress, in a compressed and enciphered file.
QString PackedPeople(const TempDir &dir, int count)
{
    TDictDBFileLayout layout = PeopleLayout();
    layout.Compress = true;
    layout.Encrypt = true;
    layout.Password = kPassword;
    const QString path = dir.file(QStringLiteral("packed.db"));
    CreateDictDBFile(path, layout);
    Database d(path, QStringLiteral("packed"));
    d.db.SetPassword(kPassword);
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    Record r(t);
    for (int i = 0; i < count; ++i) {
        r.SetText(QStringLiteral("Name"), "name" + QByteArray::number(i));
        r.Set<qint32>(QStringLiteral("Score"), i % 7);
        r.SetText(QStringLiteral("Note"), QByteArray(200 + i, char('a' + i % 26)));
        t->AppendRecordData(r.Buffers(), false, nullptr);
    }
    return path;
}

} // namespace

TEST(DictDBVerify, TheShippedDictionaryWholeIsAcceptedAndEveryCutOfItRefused)
{
    const QString shipped = QStringLiteral(TASKVANE_BIN_DIR "/Ravel.db");
    ASSERT_TRUE(QFile::exists(shipped)) << "the build generates " << qPrintable(shipped);
    const QByteArray whole = ReadAll(shipped);
    ASSERT_GT(whole.size(), 10000);
    TempDir dir;
    const QString copy = dir.file(QStringLiteral("Ravel.db"));
    WriteAll(copy, whole);
    QString reason = QStringLiteral("stale");
    EXPECT_TRUE(VerifyDictDatabaseFile(copy, &reason)) << qPrintable(reason);
    EXPECT_TRUE(reason.isEmpty());

    // Every length in the last few kilobytes, then a spread over the whole file.
    std::set<qsizetype> lengths;
    for (qsizetype n = whole.size() - 1; n >= 0 && n >= whole.size() - 1200; --n)
        lengths.insert(n);
    for (qsizetype n = 0; n < whole.size(); n += whole.size() / 200 + 1)
        lengths.insert(n);
    for (const qsizetype n : lengths) {
        WriteAll(copy, whole.left(n));
        reason.clear();
        ASSERT_FALSE(VerifyDictDatabaseFile(copy, &reason)) << "cut at " << n;
        ASSERT_TRUE(reason.contains(copy)) << qPrintable(reason);
    }
}

TEST(DictDBVerify, DamageIsRefusedNamingFileTableAndField)
{
    TempDir dir;
    const QString path = PackedPeople(dir, 40);
    const QByteArray good = ReadAll(path);
    QString reason;
    EXPECT_TRUE(VerifyDictDatabaseFile(path, {kPassword}, &reason)) << qPrintable(reason);
    EXPECT_FALSE(VerifyDictDatabaseFile(path, &reason));
    EXPECT_EQ(reason, QStringLiteral("Database file '%1' is enciphered and no password given opens it").arg(path));
    EXPECT_FALSE(VerifyDictDatabaseFile(path, {QStringLiteral("wrong")}, &reason));

    const qint64 header = At<qint32>(good, dictdb::kTableTabOffset + 8);
    const qint64 recTab = At<qint32>(good, header + 33);
    const qint64 record5 = At<qint32>(good, recTab + 4 + 5 * 5);
    const qint64 noteSlot = record5 + 4 + 21 + 4 + 2;

    // A blob whose stored bytes no longer decipher and inflate.
    QByteArray image = good;
    const qint32 blobAt = At<qint32>(image, noteSlot);
    for (int i = 0; i < 16; ++i)
        image[int(blobAt + 8 + i)] = char(image[int(blobAt + 8 + i)] ^ 0x5A);
    WriteAll(path, image);
    EXPECT_FALSE(VerifyDictDatabaseFile(path, {kPassword}, &reason));
    EXPECT_TRUE(reason.startsWith(QStringLiteral("Database file '%1'").arg(path))) << qPrintable(reason);
    EXPECT_TRUE(reason.endsWith(QStringLiteral("(table 'People', field 'Note')"))) << qPrintable(reason);

    // A blob area whose filler runs past the end of the file.
    image = good;
    Put<qint32>(image, noteSlot + 8, qint32(image.size()));
    WriteAll(path, image);
    EXPECT_FALSE(VerifyDictDatabaseFile(path, {kPassword}, &reason));
    EXPECT_EQ(reason,
              QStringLiteral("Database file '%1' is corrupt: blob area outside the file "
                             "(table 'People', field 'Note')")
                  .arg(path));

    // A score changed behind the index's back: the descending index is out of order.
    image = good;
    const qint64 record0 = At<qint32>(image, recTab + 4);
    WriteAll(path, image);
    {
        Database d(path, QStringLiteral("edit"));
        d.db.SetPassword(kPassword);
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        qint32 big = 1000;
        d.db.FileIO()->EncodeMemoryBuffer(&big, &big, true, 4);
        d.db.FileIO()->WriteBuffer(&big, record0 + t->FieldOffsets[2], 4);
    }
    EXPECT_FALSE(VerifyDictDatabaseFile(path, {kPassword}, &reason));
    EXPECT_EQ(reason,
              QStringLiteral("Database file '%1' is corrupt: index 'ByScore' is out of order at record 0 "
                             "(table 'People')")
                  .arg(path));

    // A deleted record whose data lies beyond the end: still referenced by the chains.
    image = good;
    image[int(recTab + 4 + 39 * 5 + 4)] = 1;
    Put<qint32>(image, recTab + 4 + 39 * 5, qint32(image.size()));
    WriteAll(path, image);
    EXPECT_FALSE(VerifyDictDatabaseFile(path, {kPassword}, &reason));
    EXPECT_EQ(reason,
              QStringLiteral("Database file '%1' is corrupt: record data outside the file (table 'People')").arg(path));

    const QString missing = dir.file(QStringLiteral("missing.db"));
    EXPECT_FALSE(VerifyDictDatabaseFile(missing, &reason));
    EXPECT_FALSE(reason.isEmpty());
    WriteAll(path,
             QByteArray("DictDB\0"
                        "1.0\0\0",
                        12) +
                 QByteArray(100, '\0'));
    EXPECT_FALSE(VerifyDictDatabaseFile(path, &reason));
    EXPECT_TRUE(reason.contains(path)) << qPrintable(reason);
}

TEST(DictDBVerify, ReadsWithoutWritingOrNeedingWriteAccess)
{
    TempDir dir;
    const QString path = PackedPeople(dir, 1030); // two tab blocks
    const QByteArray before = ReadAll(path);
    const QDateTime changed = QFileInfo(path).lastModified();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    QString reason;
    EXPECT_TRUE(VerifyDictDatabaseFile(path, {QStringLiteral("other"), kPassword}, &reason)) << qPrintable(reason);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QFileInfo(path).lastModified(), changed);
    ::chmod(QFile::encodeName(path).constData(), 0644);
}

// A file handed on whole (a download) ends where its structures end: nothing may follow them,
// and no structure, a deleted record's included, may reach past the end. Modified blobs leave
// their old areas inside the file, and a deleted last record with an empty blob still ends it.
TEST(DictDBVerify, AFileHandedOnWholeEndsWhereItsStructuresEnd)
{
    TempDir dir;
    const QString path = PackedPeople(dir, 1030);
    {
        Database d(path, QStringLiteral("edit"));
        d.db.SetPassword(kPassword);
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        Record r(t);
        r.Read(3);
        r.OnlyActive({QStringLiteral("Note")});
        r.SetText(QStringLiteral("Note"), QByteArray(5000, 'm'));
        t->ModifyRecordData(r.Buffers(), 3, nullptr, false);
        Record last(t);
        last.SetText(QStringLiteral("Name"), "last");
        t->AppendRecordData(last.Buffers(), false, nullptr);
        t->DeleteRecordData(int(t->IndexLists[0].size()) - 1, false);
    }
    const QByteArray good = ReadAll(path);
    const qint64 header = At<qint32>(good, dictdb::kTableTabOffset + 8);
    const qint64 secondBlock = At<qint32>(good, At<qint32>(good, header + 33));
    const qint64 lastRecord = At<qint32>(good, secondBlock + 4 + (1030 - 1024) * 5);
    const qint64 lastNoteSlot = lastRecord + 4 + 21 + 4 + 2;
    ASSERT_EQ(lastNoteSlot + 20 + 4 + 64, good.size()) << "the file ends with the deleted record's empty blob";

    QByteArray reaching = good;
    Put<qint32>(reaching, lastNoteSlot + 8, At<qint32>(good, lastNoteSlot + 8) + 64);
    struct Case
    {
        const char *Name;
        QByteArray Image;
        bool Whole;     // the check without the extent rule
        bool HandedOn;  // with it
        QString Reason; // of the refusal with it
    };
    const QString corrupt = QStringLiteral("Database file '%1' is corrupt: ").arg(path);
    const Case cases[] = {
        {"as written", good, true, true, QString()},
        {"one zero byte more", good + QByteArray(1, '\0'), true, false,
         corrupt + QStringLiteral("1 bytes lie beyond its last structure")},
        {"zeros to twice its length", good + QByteArray(good.size(), '\0'), true, false,
         corrupt + QStringLiteral("%1 bytes lie beyond its last structure").arg(good.size())},
        {"the deleted last record's blob area past the end", reaching, true, false,
         corrupt + QStringLiteral("a structure lies outside the file")},
        {"its last 64 bytes, the deleted record's empty blob area, cut", good.chopped(64), true, false,
         corrupt + QStringLiteral("a structure lies outside the file")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        WriteAll(path, c.Image);
        QString reason;
        EXPECT_EQ(VerifyDictDatabaseFile(path, {kPassword}, &reason), c.Whole) << qPrintable(reason);
        TDictVerifyOptions options;
        options.Passwords = {kPassword};
        options.ExactExtent = true;
        EXPECT_EQ(VerifyDictDatabaseFile(path, options, &reason), c.HandedOn) << qPrintable(reason);
        if (!c.Reason.isEmpty()) {
            EXPECT_EQ(reason, c.Reason);
        }
    }

    // The shipped dictionary, as the build writes it, is such a file.
    TDictVerifyOptions options;
    options.ExactExtent = true;
    QString reason;
    EXPECT_TRUE(VerifyDictDatabaseFile(QStringLiteral(TASKVANE_BIN_DIR "/Ravel.db"), options, &reason))
        << qPrintable(reason);
}
