#include "SkinFileBuilder.h"

#include "common/TempDir.h"
#include "skin/SkinFileReader.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <zlib.h>

#include <functional>

using namespace skintest;

namespace {

ArchiveOptions Opts(const std::function<void(ArchiveOptions &)> &Set)
{
    ArchiveOptions o;
    Set(o);
    return o;
}

QImage Swatch(int W, int H, QRgb Color)
{
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Color);
    img.setPixel(0, 0, qRgb(1, 2, 3));
    return img;
}

std::vector<Record> SampleRecords()
{
    return {BitmapRecord("SKIN2_CHECKBOX", Swatch(60, 13, qRgb(200, 10, 10))),
            IntegerRecord("SKIN2_CONTROLCOLOR", 0x00A0B0C0),
            IntegerRecord("SKIN2_TITLEBARICONPOSX", -7),
            BoolRecord("SKIN2_TITLEFIVESECT", true),
            BoolRecord("SKIN2_BUTTONTRANS", false),
            TextRecord("SKIN2_AUTHOR", "someone")};
}

class SkinReader : public ::testing::Test
{
protected:
    tvtest::TempDir Dir;
    QString Write(const QByteArray &Data, const QString &Name = QStringLiteral("test.skn"))
    {
        const QString path = Dir.file(Name);
        EXPECT_TRUE(WriteFile(path, Data));
        return path;
    }
};

// Everything a reader refuses with the constructor's exception.
void ExpectFailedToRead(const QString &Path, const QString &Password = {})
{
    try {
        Tsk2SkinFileReader reader(Path, Password);
        FAIL() << "no refusal";
    } catch (const ESkinFileError &e) {
        EXPECT_STREQ(e.what(), "Failed to read skin file!");
    }
}

} // namespace

TEST_F(SkinReader, PlainFileLoadsEveryKind)
{
    const QString path = Write(BuildArchive(BuildTable(SampleRecords())));
    Tsk2SkinFileReader reader(path, QString());
    ASSERT_TRUE(reader.Ready());
    const QImage *bmp = reader.GetBitmap(QStringLiteral("skin2_checkbox"));
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->size(), QSize(60, 13));
    EXPECT_EQ(bmp->pixel(5, 5) & 0xFFFFFF, qRgb(200, 10, 10) & 0xFFFFFF);
    EXPECT_EQ(bmp->pixel(0, 0) & 0xFFFFFF, qRgb(1, 2, 3) & 0xFFFFFF);
    EXPECT_EQ(reader.GetInteger(QStringLiteral("SKIN2_CONTROLCOLOR")), 0x00A0B0C0);
    EXPECT_EQ(reader.GetInteger(QStringLiteral("Skin2_TitleBarIconPosX")), -7);
    EXPECT_EQ(reader.GetBool(QStringLiteral("SKIN2_TITLEFIVESECT")), 1);
    EXPECT_EQ(reader.GetBool(QStringLiteral("SKIN2_BUTTONTRANS")), 0);
    EXPECT_EQ(reader.StringList(), QStringList{QStringLiteral("SKIN2_AUTHOR=someone")});
    // Absent keys.
    EXPECT_EQ(reader.GetBitmap(QStringLiteral("SKIN2_BUTTON")), nullptr);
    EXPECT_EQ(reader.GetInteger(QStringLiteral("SKIN2_FORMCOLOR")), -1);
    EXPECT_EQ(reader.GetBool(QStringLiteral("SKIN2_CHECKBOXTRANS")), 0);
}

TEST_F(SkinReader, TemporaryFileIsRemoved)
{
    const QString path = Write(BuildArchive(BuildTable(SampleRecords())));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    tvtest::TempDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    {
        Tsk2SkinFileReader good(path, QString());
        EXPECT_TRUE(good.Ready());
        Tsk2SkinFileReader refused(
            Write(BuildArchive(BuildTable(SampleRecords()), Opts([&](ArchiveOptions &o) { o.Password = "pw"; })),
                  "e.skn"),
            QStringLiteral("wrong"));
        EXPECT_FALSE(refused.Ready());
    }
    qputenv("TMPDIR", oldTmp);
    EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(SkinReader, EncipheredEntryNeedsTheRightPassword)
{
    const QByteArray table = BuildTable(SampleRecords());
    for (bool byTime : {false, true}) {
        const QString path = Write(BuildArchive(table, Opts([&](ArchiveOptions &o) {
                                                    o.Password = "s3cret";
                                                    o.CheckByTime = byTime;
                                                })));
        Tsk2SkinFileReader right(path, QStringLiteral("s3cret"));
        EXPECT_TRUE(right.Ready()) << byTime;
        EXPECT_EQ(right.GetInteger(QStringLiteral("SKIN2_CONTROLCOLOR")), 0x00A0B0C0);
        // A wrong or missing password gives an empty reader, not an exception.
        Tsk2SkinFileReader wrong(path, QStringLiteral("s3creT"));
        EXPECT_FALSE(wrong.Ready());
        EXPECT_EQ(wrong.GetBitmap(QStringLiteral("SKIN2_CHECKBOX")), nullptr);
        Tsk2SkinFileReader none(path, QString());
        EXPECT_FALSE(none.Ready());
    }
}

TEST_F(SkinReader, ExtractionResults)
{
    const QByteArray table = BuildTable(SampleRecords());
    const QString out = Dir.file(QStringLiteral("out.bin"));
    auto extract = [&](const QByteArray &Archive, const QString &Password = {}) {
        const QString path = Write(Archive, QStringLiteral("x.skn"));
        const TSkinExtractResult r = ExtractSkinEntry(path, QStringLiteral("SKINDATA.SK2"), out, Password);
        // Only a successful extraction leaves the output behind.
        EXPECT_EQ(QFile::exists(out), r == serExtracted);
        QFile::remove(out);
        return r;
    };
    EXPECT_EQ(extract(BuildArchive(table)), serExtracted);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.EntryName = "skindata.sk2"; }))),
              serExtracted);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) {
                                       o.OtherEntries = {"README.TXT", "OTHER"};
                                   }))),
              serExtracted);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.EntryName = "OTHER.SK2"; }))),
              serNotExtracted);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.Signature = "PK"; }))), serNotExtracted);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.Comment = "hello"; }))), serNotExtracted);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.Password = "a"; })), QString()), serRefused);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.Password = "a"; })), QStringLiteral("b")),
              serRefused);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.DeclaredSize = table.size() + 1; }))),
              serRefused);
    EXPECT_EQ(extract(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.DeclaredSize = table.size() - 1; }))),
              serRefused);
    // An empty deflate stream ends normally with nothing written.
    EXPECT_EQ(extract(BuildArchiveRaw(Deflate(QByteArray()), 0)), serNotExtracted);
    EXPECT_EQ(ExtractSkinEntry(Dir.file(QStringLiteral("missing.skn")), QStringLiteral("SKINDATA.SK2"), out, {}),
              serNotExtracted);
}

TEST_F(SkinReader, HugeDeclaredSizeIsRefusedAtOnce)
{
    const QByteArray table = BuildTable(SampleRecords());
    const QString path = Write(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.DeclaredSize = 0xFFFFFFF0; })));
    Tsk2SkinFileReader reader(path, QString());
    EXPECT_FALSE(reader.Ready());
    // A small stream that inflates far beyond its declared size stops at that size.
    const QByteArray bomb = Deflate(QByteArray(8 * 1024 * 1024, 'A'), 9);
    const QString out = Dir.file(QStringLiteral("bomb.bin"));
    const QString bombPath = Write(BuildArchiveRaw(bomb, 1000), QStringLiteral("bomb.skn"));
    EXPECT_EQ(ExtractSkinEntry(bombPath, QStringLiteral("SKINDATA.SK2"), out, {}), serRefused);
    EXPECT_FALSE(QFile::exists(out));
}

TEST_F(SkinReader, RefusalsRaiseFailedToRead)
{
    const QByteArray table = BuildTable(SampleRecords());
    ExpectFailedToRead(Write(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.Comment = "c"; })), "a.skn"));
    ExpectFailedToRead(Write(BuildArchive(table, Opts([&](ArchiveOptions &o) { o.Signature = "PK"; })), "b.skn"));
    ExpectFailedToRead(Dir.file(QStringLiteral("nowhere.skn")));
    ExpectFailedToRead(Write(QByteArray("SK"), "c.skn"));
    ExpectFailedToRead(Write(QByteArray(), "d.skn"));
    // A table whose records point outside it.
    QByteArray bad = table;
    bad.replace(16 + 20, 4, QByteArray("\xff\xff\xff\x00", 4));
    ExpectFailedToRead(Write(BuildArchive(bad), "e.skn"));
    // A bitmap record that is no bitmap, or claims an enormous picture.
    ExpectFailedToRead(Write(BuildArchive(BuildTable({{"SKIN2_BUTTON", 0, QByteArray("not a bitmap")}})), "f.skn"));
    Record huge = BitmapRecord("SKIN2_BUTTON", Swatch(4, 4, qRgb(1, 1, 1)));
    huge.Data.replace(18, 4, QByteArray("\x00\x00\x01\x00", 4)); // width 65536
    ExpectFailedToRead(Write(BuildArchive(BuildTable({huge})), "g.skn"));
}

TEST_F(SkinReader, TableEdgeCases)
{
    // The first record closes the chain: nothing loaded, still ready.
    const QString empty = Write(BuildArchive(BuildTable({})), "empty.skn");
    Tsk2SkinFileReader reader(empty, QString());
    EXPECT_TRUE(reader.Ready());
    EXPECT_TRUE(reader.IntegerList().isEmpty());

    // A chain that loops back would never end: refused.
    QByteArray loop = BuildTable({IntegerRecord("A", 1), IntegerRecord("B", 2)});
    const int second = 16 + 32 + 77;
    loop.replace(second + 64 + 9, 4, QByteArray("\x30\x00\x00\x00", 4)); // back to the first record (48)
    ExpectFailedToRead(Write(BuildArchive(loop), "loop.skn"));

    // A duplicate name answers with its first value.
    Tsk2SkinFileReader dup(Write(BuildArchive(BuildTable({IntegerRecord("K", 1), IntegerRecord("k", 2)})), "d.skn"),
                           QString());
    EXPECT_EQ(dup.GetInteger(QStringLiteral("K")), 1);
}

TEST_F(SkinReader, DamagedArchivesNeverCrash)
{
    const QByteArray archive =
        BuildArchive(BuildTable(SampleRecords()), Opts([&](ArchiveOptions &o) { o.Password = "pw"; }));
    const QByteArray plain = BuildArchive(BuildTable(SampleRecords()));
    QRandomGenerator rng(1234);
    int loaded = 0;
    for (int i = 0; i < 300; ++i) {
        QByteArray data = (i % 2) ? archive : plain;
        if (i % 3 == 0) {
            data.truncate(qsizetype(rng.bounded(quint32(data.size()))));
        } else {
            for (int k = 0; k < 1 + i % 4; ++k) {
                const qsizetype at = qsizetype(rng.bounded(quint32(data.size())));
                data[at] = char(rng.bounded(256));
            }
        }
        const QString path = Write(data, QStringLiteral("fuzz.skn"));
        try {
            Tsk2SkinFileReader reader(path, QStringLiteral("pw"));
            loaded += reader.Ready() ? 1 : 0;
        } catch (const ESkinFileError &) {
        }
    }
    SUCCEED() << loaded;
}

namespace {

QByteArray Inflate(const QByteArray &Compressed, bool &Final, qint64 Max = 1 << 26)
{
    QByteArray in = Compressed, out;
    QBuffer src(&in), sink(&out);
    src.open(QIODevice::ReadOnly);
    sink.open(QIODevice::WriteOnly);
    Final = InflateRaw(src, sink, Max);
    return out;
}

QByteArray Mixed(int Size, quint32 Seed)
{
    QRandomGenerator rng(Seed);
    QByteArray data;
    while (data.size() < Size) {
        if (rng.bounded(3) == 0)
            for (int i = 0; i < 200; ++i)
                data.append(char(rng.bounded(256)));
        else
            data.append(QByteArray("skin table text ").repeated(int(rng.bounded(1, 40))));
    }
    data.truncate(Size);
    return data;
}

} // namespace

TEST(SkinInflater, MatchesZlibForEveryBlockKind)
{
    struct Case
    {
        int Level;
        int Strategy;
        int Size;
    };
    const Case cases[] = {
        {6, Z_DEFAULT_STRATEGY, 300000}, // dynamic blocks across several window flushes
        {0, Z_DEFAULT_STRATEGY, 100000}, // stored blocks
        {6, Z_FIXED, 140000},            // fixed blocks
        {9, Z_RLE, 70000},               // long overlapping matches
        {1, Z_HUFFMAN_ONLY, 5000},       // literals only (no distance codes in use)
        {6, Z_DEFAULT_STRATEGY, 1},
    };
    for (const Case &c : cases) {
        const QByteArray data = Mixed(c.Size, quint32(c.Size));
        bool final = false;
        const QByteArray out = Inflate(Deflate(data, c.Level, c.Strategy), final);
        EXPECT_TRUE(final) << c.Level << "/" << c.Strategy;
        EXPECT_EQ(out, data) << c.Level << "/" << c.Strategy;
    }
    // Long runs of one byte: a match that overlaps its source.
    const QByteArray run(200000, 'z');
    bool final = false;
    EXPECT_EQ(Inflate(Deflate(run, 9), final), run);
    EXPECT_TRUE(final);
}

TEST(SkinInflater, DamagedStreamsStopWithoutHanging)
{
    bool final = true;
    // Reserved block type.
    Inflate(QByteArray("\x07", 1), final);
    EXPECT_FALSE(final);
    // A non-final empty stored block followed by nothing: reading past the end stops it.
    Inflate(QByteArray("\x00\x00\x00\xff\xff", 5), final);
    EXPECT_FALSE(final);
    // Nothing at all.
    Inflate(QByteArray(), final);
    EXPECT_FALSE(final);
    // A match whose distance reaches before the start of the output.
    {
        QByteArray bytes;
        quint32 acc = 0;
        int n = 0;
        auto bits = [&](quint32 V, int Count) {
            for (int i = 0; i < Count; ++i) {
                acc |= ((V >> i) & 1) << n;
                if (++n == 8) {
                    bytes.append(char(acc));
                    acc = 0;
                    n = 0;
                }
            }
        };
        auto code = [&](quint32 C, int Len) { // Huffman codes go most significant bit first
            for (int i = Len - 1; i >= 0; --i)
                bits((C >> i) & 1, 1);
        };
        bits(1, 1);
        bits(1, 2);          // final fixed block
        code(0x30 + 'a', 8); // literal 'a'
        code(1, 7);          // length 3
        code(4, 5);          // distance 5..6
        bits(0, 1);
        code(0, 7); // end of block
        bits(0, 8);
        const QByteArray out = Inflate(bytes, final);
        EXPECT_FALSE(final);
        // The same stream with distance 1 is sound.
    }
    // Cut streams and flipped bits in a dynamic stream.
    const QByteArray data = Mixed(20000, 7);
    const QByteArray z = Deflate(data);
    QRandomGenerator rng(99);
    for (int i = 0; i < 200; ++i) {
        QByteArray d = z;
        if (i % 2)
            d.truncate(qsizetype(rng.bounded(quint32(d.size()))));
        else
            d[qsizetype(rng.bounded(quint32(d.size())))] ^= char(1 << rng.bounded(8));
        Inflate(d, final, 1 << 20);
    }
    // Output beyond the limit stops the inflater.
    Inflate(Deflate(QByteArray(10000, 'q')), final, 100);
    EXPECT_FALSE(final);
}

TEST(SkinInflater, HuffmanTableLayout)
{
    // Lengths 2, 1, 3, 3 give the codes 10, 0, 110, 111 (stored bit-reversed).
    THuffmanTree tree;
    ASSERT_TRUE(tree.Build({2, 1, 3, 3}, 2, reinterpret_cast<const quint8 *>("\x05\x06"), 2));
    EXPECT_EQ(tree.Longest(), 3);
    EXPECT_EQ(tree.EntryCount(), 8);
    for (quint32 i : {0u, 2u, 4u, 6u})
        EXPECT_EQ(tree.Entry(i), (1u << 16) | 1u) << i;     // symbol 1, length 1
    EXPECT_EQ(tree.Entry(1), (2u << 16) | 0u);              // "10" reversed is 01
    EXPECT_EQ(tree.Entry(3), (5u << 24) | (3u << 16) | 2u); // "110" reversed is 011
    EXPECT_EQ(tree.Entry(7), (6u << 24) | (3u << 16) | 3u);
    // Too many codes of one length.
    EXPECT_FALSE(tree.Build({1, 1, 1}, 3, nullptr, 0));
    // No codes at all: every look-up misses.
    ASSERT_TRUE(tree.Build({0, 0}, 2, nullptr, 0));
    EXPECT_EQ(tree.Longest(), 0);
}
