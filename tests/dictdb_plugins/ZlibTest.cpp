#include "PluginTestUtil.h"

#include "dictdb/Compress_Zlib.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <QtEndian>

using plugintest::RandomBytes;

namespace {

QByteArray Contents(TMemoryStream &Stream)
{
    return QByteArray(static_cast<const char *>(Stream.Memory()), int(Stream.Size()));
}

QByteArray EncodeBlock(const QByteArray &Plain, quint8 Level = 1)
{
    TCompAlgo_Zlib algo(nullptr);
    algo.SetLevel(Level);
    TMemoryStream source, dest;
    source.WriteBuffer(Plain.constData(), Plain.size());
    algo.EncodeStream(&source, &dest, -1);
    return Contents(dest);
}

QByteArray DecodeBlock(const QByteArray &Block)
{
    TCompAlgo_Zlib algo(nullptr);
    TMemoryStream source, dest;
    source.WriteBuffer(Block.constData(), Block.size());
    algo.DecodeStream(&source, &dest, -1);
    return Contents(dest);
}

qint32 Header(const QByteArray &Block)
{
    return qFromLittleEndian<qint32>(Block.constData());
}

// Some text that compresses well but not trivially.
QByteArray Compressible(int Size)
{
    QByteArray out;
    out.reserve(Size);
    quint32 x = 1;
    while (out.size() < Size) {
        x = x * 1103515245u + 12345u;
        out.append("process ");
        out.append(QByteArray::number((x >> 16) % 97));
        out.append(x & 0x10000 ? " dangerous\n" : " known\n");
    }
    out.truncate(Size);
    return out;
}

QByteArray ForeignBlock(const QByteArray &Plain, int Level)
{
    uLongf size = compressBound(uLong(Plain.size()));
    QByteArray z(int(size), Qt::Uninitialized);
    EXPECT_EQ(compress2(reinterpret_cast<Bytef *>(z.data()), &size, reinterpret_cast<const Bytef *>(Plain.constData()),
                        uLong(Plain.size()), Level),
              Z_OK);
    z.truncate(int(size));
    QByteArray block(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(qint32(Plain.size()), block.data());
    return block + z;
}

} // namespace

TEST(ZlibBlock, EmptyValueIsEmptyBlock)
{
    EXPECT_TRUE(EncodeBlock(QByteArray()).isEmpty());
    EXPECT_TRUE(DecodeBlock(QByteArray()).isEmpty());
}

TEST(ZlibBlock, RoundTripsAcrossTheBufferSize)
{
    for (int size : {100, 131071, 131072, 131073, 400000}) {
        const QByteArray plain = Compressible(size);
        const QByteArray block = EncodeBlock(plain);
        EXPECT_EQ(Header(block), size);
        EXPECT_LT(block.size(), size);
        EXPECT_EQ(DecodeBlock(block), plain) << size;
    }
}

TEST(ZlibBlock, IncompressibleDataIsStoredRaw)
{
    for (int size : {1, 2, 1000, 131073}) {
        const QByteArray plain = RandomBytes(size, quint32(size));
        const QByteArray block = EncodeBlock(plain);
        EXPECT_EQ(Header(block), -size);
        EXPECT_EQ(block.mid(4), plain);
        EXPECT_EQ(DecodeBlock(block), plain) << size;
    }
}

TEST(ZlibBlock, EveryPluginLevelRoundTrips)
{
    const QByteArray plain = Compressible(50000);
    for (int level : {0, 1, 2, 3, 4, 200}) {
        const QByteArray block = EncodeBlock(plain, quint8(level));
        EXPECT_EQ(DecodeBlock(block), plain) << level;
    }
    EXPECT_EQ(TCompAlgo_Zlib::StreamLevel(0), clMax);
    EXPECT_EQ(TCompAlgo_Zlib::StreamLevel(1), clDefault);
    EXPECT_EQ(TCompAlgo_Zlib::StreamLevel(3), clFastest);
    EXPECT_EQ(TCompAlgo_Zlib::StreamLevel(9), clNone);
    // Level 1 is zlib's default level: the same bytes as a plain zlib stream at that level.
    EXPECT_EQ(EncodeBlock(plain), ForeignBlock(plain, Z_DEFAULT_COMPRESSION));
}

TEST(ZlibBlock, BlocksFromAnotherEncoderDecodeAtEveryLevel)
{
    const QByteArray plain = Compressible(200000);
    for (int level = 0; level <= 9; ++level)
        EXPECT_EQ(DecodeBlock(ForeignBlock(plain, level)), plain) << level;
}

TEST(ZlibBlock, NegativeHeaderTakesTheBytesThatFollow)
{
    QByteArray block(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(-100, block.data());
    block += "abc";
    EXPECT_EQ(DecodeBlock(block), QByteArray("abc"));
}

TEST(ZlibBlockFaults, HugeHeaderIsRefusedWithoutAllocating)
{
    QByteArray block = ForeignBlock("x", 6);
    qToLittleEndian<qint32>(0x7FFFFFFF, block.data());
    EXPECT_THROW(DecodeBlock(block), EDecompressionError);
}

TEST(ZlibBlockFaults, WrongSizeInHeaderIsAnError)
{
    const QByteArray plain = Compressible(5000);
    QByteArray more = ForeignBlock(plain, 6);
    qToLittleEndian<qint32>(plain.size() + 1, more.data());
    EXPECT_THROW(DecodeBlock(more), EReadError);
    QByteArray fewer = ForeignBlock(plain, 6);
    qToLittleEndian<qint32>(plain.size() - 1, fewer.data());
    EXPECT_THROW(DecodeBlock(fewer), EDecompressionError);
}

TEST(ZlibBlockFaults, TruncatedStreamIsAReadError)
{
    const QByteArray block = ForeignBlock(RandomBytes(3000, 1), 6);
    EXPECT_THROW(DecodeBlock(block.left(block.size() / 2)), EReadError);
    EXPECT_THROW(DecodeBlock(block.left(3)), EReadError);
}

TEST(ZlibBlockFaults, TrailingBytesAfterTheStreamEndDoNotSpin)
{
    const QByteArray plain = Compressible(3000);
    const QByteArray block = ForeignBlock(plain, 6) + RandomBytes(500, 2);
    EXPECT_EQ(DecodeBlock(block), plain);
}

TEST(ZlibBlockFaults, CorruptDataAndDictionaryRequestsAreErrors)
{
    QByteArray corrupt = ForeignBlock(Compressible(3000), 6);
    for (int i = 10; i < corrupt.size(); i += 7)
        corrupt[i] = char(corrupt[i] ^ 0x5A);
    EXPECT_THROW(DecodeBlock(corrupt), dataaccess::Exception);

    // A zlib stream made with a preset dictionary asks for it.
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 6), Z_OK);
    const char dict[] = "process known dangerous";
    deflateSetDictionary(&z, reinterpret_cast<const Bytef *>(dict), sizeof dict - 1);
    const QByteArray plain = Compressible(1000);
    QByteArray out(2000, 0);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.truncate(int(z.total_out));
    deflateEnd(&z);
    QByteArray block(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(plain.size(), block.data());
    EXPECT_THROW(DecodeBlock(block + out), EDecompressionError);
}

TEST(ZlibStreams, DirectionAndSeekRules)
{
    TMemoryStream sink;
    {
        TCompressionStream zip(clDefault, &sink);
        char buf[4];
        EXPECT_THROW(zip.Read(buf, 4), ECompressionError);
        EXPECT_THROW(zip.Seek(1, soBeginning), ECompressionError);
        zip.WriteBuffer("hello hello hello", 17);
        EXPECT_EQ(zip.Position(), 17);
    }
    sink.SetPosition(0);
    TDecompressionStream unzip(&sink);
    EXPECT_THROW(unzip.Write("x", 1), EDecompressionError);
    char buf[32] = {};
    EXPECT_EQ(unzip.Seek(6, soCurrent), 6);
    EXPECT_EQ(unzip.Read(buf, 5), 5);
    EXPECT_EQ(QByteArray(buf, 5), QByteArray("hello"));
    EXPECT_THROW(unzip.Seek(2, soBeginning), EDecompressionError);
    EXPECT_THROW(unzip.Seek(0, soEnd), EDecompressionError);
    EXPECT_EQ(unzip.Seek(0, soBeginning), 0);
    EXPECT_EQ(unzip.Read(buf, 32), 17);
    EXPECT_EQ(unzip.Read(buf, 32), 0);
    EXPECT_TRUE(unzip.StreamEnded());
}
