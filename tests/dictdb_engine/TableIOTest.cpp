#include "EngineFixture.h"

#include <QFileInfo>

#include <algorithm>
#include <map>
#include <random>

using namespace tvtest;

namespace {

TDictDBFileLayout KeysLayout(TTDIndexOptions options)
{
    TDictDBTableLayout t;
    t.Name = QStringLiteral("K");
    t.Fields = {{QStringLiteral("Key"), ftInteger, 0, 0},
                {QStringLiteral("Tag"), ftString, 10, 0},
                {QStringLiteral("Blob"), ftBlob, 0, 0},
                {QStringLiteral("Flag"), ftBoolean, 0, 0}};
    t.Indexes = {{QStringLiteral("ByKey"), options, {QStringLiteral("Key")}}};
    TDictDBFileLayout layout;
    layout.Tables = {t};
    return layout;
}

std::vector<int> RecNos(const TRecInfoList &list)
{
    std::vector<int> out;
    for (const TRecInfo &e : list)
        out.push_back(e.RecIndex);
    return out;
}

dictdb::TBlobSlot SlotOf(TDictTableIO *t, int recIdx, int field)
{
    dictdb::TBlobSlot slot;
    t->Database->FileIO()->ReadBuffer(
        &slot, t->RecTabItems()[size_t(recIdx)].DataOffset + t->FieldOffsets[size_t(field)], sizeof slot);
    return slot;
}

} // namespace

TEST(DictTableIO, EqualKeysGoAfterTheOneTheSearchMet)
{
    for (const bool descending : {false, true}) {
        TempDir dir;
        const QString path = dir.file(QStringLiteral("k.db"));
        CreateDictDBFile(path, KeysLayout(descending ? TTDIndexOptions(tiDescending) : TTDIndexOptions()));
        Database d(path);
        TDictTableIO *t = d.Table(QStringLiteral("K"));
        Record r(t);
        for (int key : {1, 3, 5}) {
            r.Set<qint32>(QStringLiteral("Key"), key);
            t->AppendRecordData(r.Buffers(), false, nullptr);
        }
        std::vector<std::pair<int, int>> calls;
        r.Set<qint32>(QStringLiteral("Key"), 3);
        t->AppendRecordData(r.Buffers(), false, [&](int idx, int pos, const TRecInfo &item) {
            EXPECT_EQ(item.RecIndex, 3);
            calls.push_back({idx, pos});
        });
        // Record 3 (the new 3) lands next to record 1 (the old 3), on the side away from 1.
        const std::vector<std::pair<int, int>> expectCalls{{-1, -1}, {0, 2}};
        EXPECT_EQ(calls, expectCalls);
        const std::vector<int> order = descending ? std::vector<int>{2, 1, 3, 0} : std::vector<int>{0, 1, 3, 2};
        EXPECT_EQ(RecNos(t->IndexLists[1]), order);
        // The chain in the file says the same after a reload.
        t->Close();
        t->Open();
        EXPECT_EQ(RecNos(t->IndexLists[1]), order);
    }
}

TEST(DictTableIO, AutoIncrementAndStringSlots)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("a.db"));
    CreateDictDBFile(path, PeopleLayout());
    Database d(path);
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    Record r(t);
    const char *names[] = {"a", "b", "c"};
    const qint32 ids[] = {0, 100, 0};
    const qint32 expect[] = {1, 100, 101};
    for (int i = 0; i < 3; ++i) {
        r.SetText(QStringLiteral("Name"), names[i]);
        r.Set<qint32>(QStringLiteral("ID"), ids[i]);
        t->AppendRecordData(r.Buffers(), false, nullptr);
        EXPECT_EQ(r.Get<qint32>(QStringLiteral("ID")), expect[i]);
    }
    EXPECT_EQ(+t->TableHeader().AutoIncCounter, 101);

    // A slot of 21 bytes filled with text keeps 20 characters and a NUL.
    r.SetText(QStringLiteral("Name"), QByteArray(21, 'x'));
    t->AppendRecordData(r.Buffers(), false, nullptr);
    Record back(t);
    back.Read(3);
    EXPECT_EQ(back.Text(QStringLiteral("Name")), QByteArray(20, 'x'));
    // A cut never splits a character: 19 'y' and a two-byte letter do not fit 20 bytes whole.
    r.SetText(QStringLiteral("Name"), QByteArray(19, 'y') + QString(QChar(0x00E9)).toUtf8() + "z");
    t->AppendRecordData(r.Buffers(), false, nullptr);
    back.Read(4);
    EXPECT_EQ(back.Text(QStringLiteral("Name")), QByteArray(19, 'y'));
}

TEST(DictTableIO, TruthValuesReadAsZeroOrOne)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("b.db"));
    CreateDictDBFile(path, KeysLayout(TTDIndexOptions()));
    Database d(path);
    TDictTableIO *t = d.Table(QStringLiteral("K"));
    Record r(t);
    r.Set<quint16>(QStringLiteral("Flag"), 0x0100);
    t->AppendRecordData(r.Buffers(), false, nullptr);
    // Another writer's 16-bit truth with only the high byte set.
    const quint16 raw = 0x0200;
    t->Database->FileIO()->WriteBuffer(&raw, t->IndexLists[0][0].DataOffset + t->FieldOffsets[3], 2);
    Record back(t);
    back.Read(0);
    EXPECT_EQ(back.Get<quint16>(QStringLiteral("Flag")), 1);
    TMemoryStream s;
    t->ReadFieldData(&s, 0, 3);
    EXPECT_EQ(static_cast<const char *>(s.Memory())[0], 1);
}

TEST(DictTableIO, RewrittenBlobsGoToFreshSpace)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("blob.db"));
    CreateDictDBFile(path, KeysLayout(TTDIndexOptions()));
    Database d(path);
    TDictTableIO *t = d.Table(QStringLiteral("K"));
    Record r(t);
    r.SetText(QStringLiteral("Blob"), QByteArray(64, 'a'));
    t->AppendRecordData(r.Buffers(), false, nullptr);
    r.SetText(QStringLiteral("Blob"), "tail"); // a second record behind the first blob
    t->AppendRecordData(r.Buffers(), false, nullptr);
    dictdb::TBlobSlot s0 = SlotOf(t, 0, 2);
    EXPECT_EQ(+s0.Length, 64);
    EXPECT_EQ(+s0.Capacity, 128);
    const QByteArray committed = ReadAll(path).mid(s0.Offset, 128);

    // A value that would fit the old area still goes to the end of the file: until the
    // record is rewritten, the committed value must stay readable as it was.
    r.OnlyActive({QStringLiteral("Blob")});
    r.SetText(QStringLiteral("Blob"), QByteArray(100, 'b'));
    qint64 end = QFileInfo(path).size();
    t->ModifyRecordData(r.Buffers(), 0, nullptr, false);
    dictdb::TBlobSlot s1 = SlotOf(t, 0, 2);
    EXPECT_EQ(+s1.Offset, end);
    EXPECT_EQ(+s1.Capacity, 128);
    EXPECT_EQ(+s1.Length, 100);
    EXPECT_EQ(ReadAll(path).mid(s0.Offset, 128), committed);

    // So does one whose area ended the file.
    r.SetText(QStringLiteral("Blob"), QByteArray(128, 'c'));
    end = QFileInfo(path).size();
    t->ModifyRecordData(r.Buffers(), 0, nullptr, false);
    dictdb::TBlobSlot s2 = SlotOf(t, 0, 2);
    EXPECT_EQ(+s2.Offset, end);
    EXPECT_EQ(+s2.Capacity, 192);
    r.SetText(QStringLiteral("Blob"), QByteArray(300, 'd'));
    t->ModifyRecordData(r.Buffers(), 0, nullptr, false);
    dictdb::TBlobSlot s3 = SlotOf(t, 0, 2);
    EXPECT_EQ(+s3.Offset, +s2.Offset + 192);
    EXPECT_EQ(+s3.Capacity, 320);

    // Lazy loading through the record buffer's own blob stream.
    TFieldBuffers fb;
    auto *lazy = new TOptimBlobStream;
    TMemoryStream *asBase = lazy;
    fb.Add(nullptr, ftInteger, 4)->Active = false;
    fb.Add(nullptr, ftString, 11)->Active = false;
    fb.Add(&asBase, ftBlob, 0)->AutoFree = true;
    t->ReadRecordData(fb, t->IndexLists[0], 0);
    EXPECT_FALSE(lazy->Loaded);
    EXPECT_EQ(lazy->Size(), 300);
    EXPECT_TRUE(lazy->Loaded);
    EXPECT_EQ(static_cast<const char *>(lazy->Memory())[299], 'd');
    t->ReadRecordData(fb, t->IndexLists[0], 1);
    lazy->SetSize(0); // a new value never loads the old one
    EXPECT_EQ(lazy->Size(), 0);
}

TEST(DictTableIO, BlobKeysOrderByTheValuesTheirSlotsPointTo)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("bk.db"));
    TDictDBFileLayout layout = KeysLayout(TTDIndexOptions());
    layout.Tables[0].Indexes = {{QStringLiteral("ByBlob"), TTDIndexOptions(tiUnique), {QStringLiteral("Blob")}}};
    CreateDictDBFile(path, layout);
    Database d(path);
    TDictTableIO *t = d.Table(QStringLiteral("K"));
    Record r(t);
    for (const char *v : {"pear", "apple", "fig"}) {
        r.SetText(QStringLiteral("Blob"), v);
        t->AppendRecordData(r.Buffers(), false, nullptr);
    }
    EXPECT_EQ(RecNos(t->IndexLists[1]), (std::vector<int>{1, 2, 0}));
    r.SetText(QStringLiteral("Blob"), "fig");
    EXPECT_EQ(DbErrorOf([&] { t->AppendRecordData(r.Buffers(), false, nullptr); }),
              QStringLiteral("Invalid unique field value 'fig'"));

    // A modify of another field keeps the stored key; one that takes a neighbour's is refused
    // with the value; one with a new key moves the record.
    r.OnlyActive({QStringLiteral("Tag")});
    r.SetText(QStringLiteral("Tag"), "t");
    t->ModifyRecordData(r.Buffers(), 2, nullptr, false);
    r.OnlyActive({QStringLiteral("Blob")});
    r.SetText(QStringLiteral("Blob"), "pear");
    EXPECT_EQ(DbErrorOf([&] { t->ModifyRecordData(r.Buffers(), 1, nullptr, false); }),
              QStringLiteral("Invalid unique field value 'pear'"));
    r.SetText(QStringLiteral("Blob"), "zucchini");
    t->ModifyRecordData(r.Buffers(), 1, nullptr, false);
    EXPECT_EQ(RecNos(t->IndexLists[1]), (std::vector<int>{2, 0, 1}));
    Record back(t);
    back.Read(1);
    EXPECT_EQ(back.Text(QStringLiteral("Blob")), QByteArray("zucchini"));
    t->Close();
    t->Open();
    EXPECT_EQ(RecNos(t->IndexLists[1]), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(t->CompareRecordKeys(2, 0, 0), -1);
}

TEST(DictTableIO, WriteVerifyGivesUpOnAFileThatDoesNotKeepItsBytes)
{
    // A memory "file" that silently garbles the blob's bytes wherever a write beyond the
    // first record carries them.
    class Garbling : public TMemoryStream
    {
    public:
        qint64 from = -1;
        qint64 WriteAt(qint64 Pos, const void *Buffer, qint64 Count) override
        {
            QByteArray bytes(static_cast<const char *>(Buffer), int(Count));
            if (const qsizetype at = bytes.indexOf("garbled"); from >= 0 && Pos >= from && at >= 0)
                bytes[at] = char(bytes[at] ^ 0x55);
            return TMemoryStream::WriteAt(Pos, bytes.constData(), Count);
        }
    } stream;
    TDictDBFileLayout layout = KeysLayout(TTDIndexOptions());
    layout.VerifyWrites = true;
    CreateDictDBStream(&stream, layout);
    const QString name = RegisterMemDBStream(&stream);
    {
        TDictDatabase db;
        db.SetMediumType(mtMemory);
        db.SetDatabaseName(name);
        db.Open();
        EXPECT_TRUE(db.VerifyWrites());
        TDictTableIO *t = db.TableIOByName(QStringLiteral("K"));
        t->Open();
        Record r(t);
        r.SetText(QStringLiteral("Blob"), "fine");
        t->AppendRecordData(r.Buffers(), false, nullptr);
        stream.from = stream.Size();
        r.SetText(QStringLiteral("Blob"), "garbled");
        EXPECT_EQ(DbErrorOf([&] { t->AppendRecordData(r.Buffers(), false, nullptr); }),
                  QStringLiteral("Blob of field 'Blob' does not read back as written"));
        // Nothing was committed.
        EXPECT_EQ(+t->TableHeader().RecordTotal, 1);
        t->Close();
        t->Open();
        EXPECT_EQ(t->IndexLists[0].size(), 1u);
        t->Close();
    }
    UnregisterMemDBStream(&stream);
}

// Random appends, modifies and deletes on a table with a unique case-insensitive index and
// a descending one, checked against a model after every step, across the first block
// boundary and after a reopen.
TEST(DictTableIO, RandomEditsMatchAModel)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("model.db"));
    CreateDictDBFile(path, PeopleLayout());
    struct Row
    {
        QByteArray name;
        qint32 score;
        QByteArray note;
    };
    std::map<int, Row> model; // record number -> row
    std::mt19937 rng(20240607);
    auto randomName = [&] {
        static const char letters[] = "abcABC";
        QByteArray s;
        const int n = 1 + int(rng() % 4);
        for (int i = 0; i < n; ++i)
            s += letters[rng() % 6];
        return s + QByteArray::number(int(rng() % 400));
    };
    auto nameTaken = [&](const QByteArray &name, int except) {
        for (const auto &[rec, row] : model)
            if (rec != except && row.name.toLower() == name.toLower())
                return true;
        return false;
    };

    auto check = [&](TDictTableIO *t, bool readFile) {
        std::vector<int> live;
        for (const auto &[rec, row] : model)
            live.push_back(rec);
        ASSERT_EQ(RecNos(t->IndexLists[0]), live);
        // Index 0: names ascending ignoring case; index 1: scores descending, ties by insertion.
        std::vector<int> byName = RecNos(t->IndexLists[1]);
        std::vector<int> byScore = RecNos(t->IndexLists[2]);
        ASSERT_EQ(byName.size(), live.size());
        ASSERT_EQ(byScore.size(), live.size());
        for (size_t i = 1; i < byName.size(); ++i)
            ASSERT_LT(CompareDBString(QString::fromUtf8(model[byName[i - 1]].name),
                                      QString::fromUtf8(model[byName[i]].name), false, true, 0),
                      0);
        for (size_t i = 1; i < byScore.size(); ++i)
            ASSERT_GE(model[byScore[i - 1]].score, model[byScore[i]].score);
        std::vector<int> sortedName = byName, sortedScore = byScore;
        std::sort(sortedName.begin(), sortedName.end());
        std::sort(sortedScore.begin(), sortedScore.end());
        ASSERT_EQ(sortedName, live);
        ASSERT_EQ(sortedScore, live);
        if (!readFile)
            return;
        Record r(t);
        for (size_t pos = 0; pos < t->IndexLists[0].size(); ++pos) {
            r.Read(int(pos));
            const Row &row = model[t->IndexLists[0][pos].RecIndex];
            ASSERT_EQ(r.Text(QStringLiteral("Name")), row.name);
            ASSERT_EQ(r.Get<qint32>(QStringLiteral("Score")), row.score);
            ASSERT_EQ(r.Text(QStringLiteral("Note")), row.note);
        }
    };

    Database d(path);
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    Record r(t);
    int next = 0;
    const int steps = 2200;
    for (int step = 0; step < steps; ++step) {
        const unsigned op = rng() % 10;
        if (op < 6 || model.empty()) {
            Row row{randomName(), qint32(rng() % 50), QByteArray(int(rng() % 90), char('a' + step % 26))};
            r.OnlyActive({QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Score"),
                          QStringLiteral("Active"), QStringLiteral("Note"), QStringLiteral("Born")});
            r.Set<qint32>(QStringLiteral("ID"), 0);
            r.SetText(QStringLiteral("Name"), row.name);
            r.Set<qint32>(QStringLiteral("Score"), row.score);
            r.SetText(QStringLiteral("Note"), row.note);
            const QString err = DbErrorOf([&] { t->AppendRecordData(r.Buffers(), false, nullptr); });
            if (nameTaken(row.name, -1)) {
                ASSERT_EQ(err, QStringLiteral("Invalid unique field value '%1'").arg(QString::fromUtf8(row.name)));
            } else {
                ASSERT_EQ(err, QString());
                model[next++] = row;
            }
            ASSERT_EQ(+t->TableHeader().RecordTotal, next);
        } else if (op < 8) {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            const int pos = int(std::distance(model.begin(), it));
            Row row = it->second;
            QStringList active;
            if (rng() % 2) {
                row.name = randomName();
                r.SetText(QStringLiteral("Name"), row.name);
                active << QStringLiteral("Name");
            }
            if (rng() % 2) {
                row.score = qint32(rng() % 50);
                r.Set<qint32>(QStringLiteral("Score"), row.score);
                active << QStringLiteral("Score");
            }
            if (rng() % 3 == 0) {
                row.note = QByteArray(int(rng() % 200), 'n');
                r.SetText(QStringLiteral("Note"), row.note);
                active << QStringLiteral("Note");
            }
            r.OnlyActive(active);
            const QString err = DbErrorOf([&] { t->ModifyRecordData(r.Buffers(), pos, nullptr, false); });
            if (active.contains(QStringLiteral("Name")) && nameTaken(row.name, it->first)) {
                ASSERT_FALSE(err.isEmpty());
            } else {
                ASSERT_EQ(err, QString());
                it->second = row;
            }
        } else {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            t->DeleteRecordData(int(std::distance(model.begin(), it)), false);
            model.erase(it);
        }
        check(t, step % 200 == 0);
    }
    ASSERT_GT(next, 1024) << "the test must cross the first tab block";
    check(t, true);
    t->Close();
    t->Open();
    ASSERT_EQ(t->RecTabBlockOffsets().size(), 2u);
    check(t, true);
}

// The chunked record list against a plain vector: random inserts and erases across chunk
// splits and merges, indexing, iteration, searching and copies.
TEST(DictTableIO, RecordListsBehaveLikeArrays)
{
    std::mt19937 rng(42);
    TRecInfoList list;
    std::vector<TRecInfo> model;
    int next = 0;
    for (int step = 0; step < 40000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 6 || model.empty()) {
            const size_t at = op == 0 ? model.size() : rng() % (model.size() + 1);
            const TRecInfo item{next * 10, next};
            ++next;
            if (op == 0)
                list.push_back(item);
            else
                EXPECT_EQ(list.insert(list.begin() + std::ptrdiff_t(at), item)->RecIndex, item.RecIndex);
            model.insert(model.begin() + std::ptrdiff_t(at), item);
        } else {
            const size_t at = rng() % model.size();
            list.erase(list.begin() + std::ptrdiff_t(at));
            model.erase(model.begin() + std::ptrdiff_t(at));
        }
        ASSERT_EQ(list.size(), model.size());
        if (step % 997 == 0 || step > 39990) {
            ASSERT_TRUE(std::equal(list.begin(), list.end(), model.begin(), model.end()));
            for (size_t i = 0; i < model.size(); i += 37)
                ASSERT_EQ(list[i], model[i]);
        }
    }
    ASSERT_GT(list.size(), 6000u) << "the list must span several chunks";
    // Searches over the iterators, copies and ranges.
    TRecInfoList sorted;
    for (int i = 0; i < 9000; ++i)
        sorted.push_back({i, i * 2});
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), 8001,
                                     [](const TRecInfo &e, qint32 r) { return e.RecIndex < r; });
    EXPECT_EQ(it - sorted.begin(), 4001);
    const TRecInfoList part(sorted.begin() + 10, sorted.begin() + 8500);
    EXPECT_EQ(part.size(), 8490u);
    EXPECT_EQ(part[0].RecIndex, 20);
    EXPECT_EQ(part[8489].RecIndex, 16998);
    TRecInfoList copy = list;
    EXPECT_TRUE(copy == list);
    copy.erase(copy.begin());
    EXPECT_FALSE(copy == list);
    for (size_t i = copy.size(); i-- > 0;)
        copy.erase(copy.begin() + std::ptrdiff_t(i));
    EXPECT_TRUE(copy.empty());
    copy.insert(copy.begin(), {1, 2});
    EXPECT_EQ(copy.size(), 1u);
}
