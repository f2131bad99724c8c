// Compressed and enciphered database files through the engine's own file I/O.
#include "PluginTestUtil.h"

#include "dictdb_engine/EngineFixture.h"

#include <map>

using namespace tvtest;
using plugintest::RandomBytes;

namespace {

const QString Password = QStringLiteral("geheim");

TDictDBFileLayout ProtectedLayout(const QString &Cipher, quint8 Mode)
{
    TDictDBTableLayout t;
    t.Name = QStringLiteral("Proc");
    t.Fields = {{QStringLiteral("Name"), ftString, 20, 0},
                {QStringLiteral("Score"), ftInteger, 0, 0},
                {QStringLiteral("Note"), ftMemo, 0, 0},
                {QStringLiteral("Plain"), ftString, 12, 1}};
    t.Indexes = {{QStringLiteral("ByName"), TTDIndexOptions(tiUnique | tiCaseInsensitive), {QStringLiteral("Name")}}};
    TDictDBFileLayout layout;
    layout.Tables = {t};
    layout.Compress = true;
    layout.Encrypt = true;
    layout.EncryptAlgo = Cipher;
    layout.EncryptMode = Mode;
    layout.Password = Password;
    layout.VerifyWrites = true;
    return layout;
}

QByteArray NoteFor(int i)
{
    switch (i % 4) {
    case 0:
        return QByteArray();
    case 1:
        return QByteArray("svchost-marker ").repeated(200 + i); // compresses
    case 2:
        return RandomBytes(300 + i, quint32(i)); // stored raw
    default:
        return QByteArray("x");
    }
}

struct TRow
{
    qint32 Score;
    QByteArray Note;
};

void CheckTable(TDictTableIO *t, const std::map<QByteArray, TRow> &model)
{
    ASSERT_EQ(t->IndexLists[0].size(), model.size());
    Record r(t);
    for (size_t pos = 0; pos < t->IndexLists[0].size(); ++pos) {
        r.Read(int(pos));
        const QByteArray name = r.Text(QStringLiteral("Name"));
        const auto it = model.find(name);
        ASSERT_NE(it, model.end()) << name.constData();
        EXPECT_EQ(r.Get<qint32>(QStringLiteral("Score")), it->second.Score) << name.constData();
        EXPECT_EQ(r.Text(QStringLiteral("Note")), it->second.Note) << name.constData();
        EXPECT_EQ(r.Text(QStringLiteral("Plain")), QByteArray("visible")) << name.constData();
    }
}

} // namespace

TEST(ProtectedDatabaseFile, SurvivesAppendModifyDeleteAndReopen)
{
    struct
    {
        const char *Cipher;
        quint8 Mode;
    } cases[] = {{"Blowfish", 0}, {"Blowfish", 1}, {"Twofish", 2}, {"Gost", 3}, {"blowfish", 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.Cipher) + " mode " + std::to_string(c.Mode));
        TempDir dir;
        const QString path = dir.file(QStringLiteral("p.db"));
        CreateDictDBFile(path, ProtectedLayout(QString::fromLatin1(c.Cipher), c.Mode));
        std::map<QByteArray, TRow> model;
        {
            Database d(path);
            EXPECT_TRUE(d.db.Encrypted());
            EXPECT_TRUE(d.db.Compressed());
            d.db.SetPassword(Password);
            ASSERT_TRUE(d.db.CanAccess());
            TDictTableIO *t = d.Table(QStringLiteral("Proc"));
            ASSERT_NE(t, nullptr);
            Record r(t);
            for (int i = 0; i < 24; ++i) {
                const QByteArray name = "proc" + QByteArray::number(i);
                r.SetText(QStringLiteral("Name"), name);
                r.Set<qint32>(QStringLiteral("Score"), i * 7);
                r.SetText(QStringLiteral("Note"), NoteFor(i));
                r.SetText(QStringLiteral("Plain"), "visible");
                t->AppendRecordData(r.Buffers(), false, nullptr);
                model[name] = {i * 7, NoteFor(i)};
            }
            // A value across the zlib buffer size.
            r.Read(5);
            const QByteArray name5 = r.Text(QStringLiteral("Name"));
            const QByteArray big = QByteArray("dangerous process ").repeated(9000);
            r.SetText(QStringLiteral("Note"), big);
            r.Set<qint32>(QStringLiteral("Score"), -1);
            t->ModifyRecordData(r.Buffers(), 5, nullptr, false);
            model[name5] = {-1, big};
            r.Read(9);
            model.erase(r.Text(QStringLiteral("Name")));
            t->DeleteRecordData(9, false);
            CheckTable(t, model);
        }
        // Neither names nor notes lie in the file in plain text; the unprocessed field does.
        const QByteArray raw = ReadAll(path);
        EXPECT_FALSE(raw.contains("proc1"));
        EXPECT_FALSE(raw.contains("svchost-marker"));
        EXPECT_FALSE(raw.contains("dangerous process"));
        EXPECT_TRUE(raw.contains("visible"));
        // The 162 000-byte note went in compressed.
        EXPECT_LT(raw.size(), 100000);

        Database again(path);
        again.db.SetPassword(Password);
        ASSERT_TRUE(again.db.CanAccess());
        CheckTable(again.Table(QStringLiteral("Proc")), model);
    }
}

TEST(ProtectedDatabaseFile, WrongPasswordIsRefused)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("p.db"));
    CreateDictDBFile(path, ProtectedLayout(QStringLiteral("Twofish"), 1));
    Database d(path);
    d.db.SetPassword(QStringLiteral("wrong"));
    EXPECT_FALSE(d.db.CanAccess());
    d.db.SetPassword(Password);
    EXPECT_TRUE(d.db.CanAccess());
}

TEST(ProtectedDatabaseFile, UnknownModeInTheFileIsRefused)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("p.db"));
    CreateDictDBFile(path, ProtectedLayout(QStringLiteral("Blowfish"), 1));
    // Patch the stored mode (extension block at 2317, mode at +36) to one that would store plain text.
    QByteArray bytes = ReadAll(path);
    ASSERT_GT(bytes.size(), 2317 + 36);
    ASSERT_EQ(bytes[2317 + 36], char(1));
    bytes[2317 + 36] = char(5);
    WriteAll(path, bytes);
    TDictDatabase db;
    db.SetFileName(path);
    db.SetDatabaseName(path);
    EXPECT_TRUE(DbErrorOf([&] { db.Open(); }).contains(QStringLiteral("mode 5")));
    EXPECT_FALSE(db.Connected());
}
