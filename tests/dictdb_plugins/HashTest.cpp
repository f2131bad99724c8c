#include "PluginTestUtil.h"

#include "dictdb/Hash_CheckSum.h"
#include "dictdb/Hash_SHA.h"
#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <QtEndian>

#include <cstring>
#include <memory>

using plugintest::Hex;
using plugintest::RandomBytes;

namespace {

template <class T>
QString DigestHex(const QByteArray &Data)
{
    T hash;
    hash.Init();
    hash.Update(Data.constData(), int(Data.size()));
    hash.Final();
    return Hex(hash.DigestData(), hash.DigestSize());
}

// SHA-1 built from the shared compression with the rotating schedule.
QByteArray Sha1ThroughCore(const QByteArray &Data)
{
    quint32 state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    QByteArray padded = Data;
    padded.append(char(0x80));
    while (padded.size() % 64 != 56)
        padded.append(char(0));
    quint8 len[8];
    qToBigEndian<quint64>(quint64(Data.size()) * 8, len);
    padded.append(reinterpret_cast<const char *>(len), 8);
    for (qsizetype i = 0; i < padded.size(); i += 64)
        ShaCompress(state, padded.constData() + i, true);
    QByteArray out(20, Qt::Uninitialized);
    for (int i = 0; i < 5; ++i)
        qToBigEndian<quint32>(state[i], out.data() + 4 * i);
    return out;
}

QByteArray LibraryDigest(int Algo, const QByteArray &Data)
{
    platform::crypto::EnsureGcrypt();
    QByteArray out(int(gcry_md_get_algo_dlen(Algo)), Qt::Uninitialized);
    gcry_md_hash_buffer(Algo, out.data(), Data.constData(), size_t(Data.size()));
    return out;
}

} // namespace

TEST(HashKnownAnswers, ShaIsSha0NotSha1)
{
    EXPECT_EQ(DigestHex<THash_SHA>(QByteArray()), QStringLiteral("f96cea198ad1dd5617ac084a3d92c6107708c0ef"));
    EXPECT_EQ(DigestHex<THash_SHA>(QByteArray("abc")), QStringLiteral("0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"));
    EXPECT_NE(DigestHex<THash_SHA>(QByteArray()), Hex(LibraryDigest(GCRY_MD_SHA1, QByteArray())));
}

TEST(HashKnownAnswers, Md4AndRipeMd)
{
    EXPECT_EQ(DigestHex<THash_MD4>(QByteArray("abc")), QStringLiteral("a448017aaf21d8525fc10ae87aa6729d"));
    EXPECT_EQ(DigestHex<THash_MD4>(QByteArray()), QStringLiteral("31d6cfe0d16ae931b73c59d7e0c089c0"));
    EXPECT_EQ(DigestHex<THash_RipeMD160>(QByteArray("abc")),
              QStringLiteral("8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"));
}

TEST(HashKnownAnswers, Crc32OfDigits)
{
    THash_CRC32 crc;
    crc.Init();
    crc.Update("123456789", 9);
    crc.Final();
    EXPECT_EQ(Hex(crc.DigestData(), 4), QStringLiteral("2639f4cb"));
    quint8 digest[4];
    const QString text = HashBuffer(HashClassOf<THash_CRC32>(), digest, "123456789", 9);
    EXPECT_EQ(qFromLittleEndian<quint32>(digest), 0xCBF43926u);
    EXPECT_EQ(text, BytesToBase64(digest, 4));
}

TEST(HashOracles, ShaCoreWithRotationIsLibrarySha1)
{
    for (int size : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 4097}) {
        const QByteArray data = RandomBytes(size, quint32(size) + 7);
        EXPECT_EQ(Sha1ThroughCore(data), LibraryDigest(GCRY_MD_SHA1, data)) << size;
    }
}

TEST(HashOracles, Crc32EqualsZlibForAnyLength)
{
    for (int size : {1, 2, 3, 255, 65535, 65536, 65537, 131072, 200001}) {
        const QByteArray data = RandomBytes(size, quint32(size));
        quint8 digest[4];
        HashBuffer(HashClassOf<THash_CRC32>(), digest, data.constData(), size);
        const uLong expected =
            crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.constData()), uInt(size));
        EXPECT_EQ(qFromLittleEndian<quint32>(digest), quint32(expected)) << size;
    }
}

TEST(HashOracles, Md4FamilyAgreesWithLibraryOnEveryBlockBoundary)
{
    for (int size : {0, 1, 55, 56, 57, 63, 64, 65, 127, 128, 129, 1000}) {
        const QByteArray data = RandomBytes(size, quint32(size) + 99);
        EXPECT_EQ(DigestHex<THash_MD4>(data), Hex(LibraryDigest(GCRY_MD_MD4, data))) << size;
        EXPECT_EQ(DigestHex<THash_RipeMD160>(data), Hex(LibraryDigest(GCRY_MD_RMD160, data))) << size;
    }
}

TEST(HashBuffering, PiecewiseUpdatesEqualOneUpdate)
{
    const QByteArray data = RandomBytes(1000, 5);
    for (int piece : {1, 3, 63, 64, 65, 200}) {
        THash_SHA sha;
        THash_MD4 md4;
        THash_CRC32 crc;
        THash *all[] = {&sha, &md4, &crc};
        for (THash *h : all) {
            h->Init();
            for (int pos = 0; pos < data.size(); pos += piece)
                h->Update(data.constData() + pos, int(std::min<qsizetype>(piece, data.size() - pos)));
            h->Final();
        }
        EXPECT_EQ(Hex(sha.DigestData(), 20), DigestHex<THash_SHA>(data)) << piece;
        EXPECT_EQ(Hex(md4.DigestData(), 16), DigestHex<THash_MD4>(data)) << piece;
        EXPECT_EQ(Hex(crc.DigestData(), 4), DigestHex<THash_CRC32>(data)) << piece;
    }
}

TEST(HashNullInput, NullOrEmptyLeavesStateUnchanged)
{
    THash_SHA sha;
    sha.Init();
    sha.Update(nullptr, 10);
    sha.Update("abc", 0);
    sha.Update("abc", -1);
    sha.Final();
    EXPECT_EQ(Hex(sha.DigestData(), 20), QStringLiteral("f96cea198ad1dd5617ac084a3d92c6107708c0ef"));
    EXPECT_EQ(UpdateCRC32(0x1234, nullptr, 5), 0x1234u);
    EXPECT_EQ(UpdateCRC32(0x1234, "a", 0), 0x1234u);
}

TEST(HashXor32, OddSizeReadsNothingBeyondTheData)
{
    // An exactly sized heap block: a read past it is caught by the address sanitizer.
    std::unique_ptr<quint8[]> one(new quint8[1]{0x5A});
    THash_XOR32 x;
    x.Init();
    x.Update(one.get(), 1);
    x.Final();
    EXPECT_EQ(Hex(x.DigestData(), 4), QStringLiteral("5a000000"));

    std::unique_ptr<quint8[]> three(new quint8[3]{0x01, 0x02, 0x03});
    x.Init();
    x.Update(three.get(), 3);
    // The word 0x0201, then ROL(0x0201, 5) xor 0x0302.
    EXPECT_EQ(Hex(x.DigestData(), 4), QStringLiteral("22430000"));
}

TEST(HashText, OnlyHalfOfTheUtf16BytesCount)
{
    const quint8 bytes[] = {0x61, 0x00, 0x62, 0x00};
    EXPECT_EQ(HashText(HashClassOf<THash_SHA>(), nullptr, QStringLiteral("abcd")),
              HashBuffer(HashClassOf<THash_SHA>(), nullptr, bytes, 4));
    EXPECT_EQ(HashText(HashClassOf<THash_SHA>(), nullptr, QString()),
              HashBuffer(HashClassOf<THash_SHA>(), nullptr, nullptr, 0));
    // Two passwords sharing their first half check alike: a weakness stored files rely on.
    EXPECT_EQ(HashText(HashClassOf<THash_SHA>(), nullptr, QStringLiteral("ab12")),
              HashText(HashClassOf<THash_SHA>(), nullptr, QStringLiteral("ab34")));
    // A non-Latin text contributes both bytes of its first characters.
    const QString chinese = QStringLiteral("进程");
    const quint8 first[] = {quint8(chinese.at(0).unicode() & 0xFF), quint8(chinese.at(0).unicode() >> 8)};
    quint8 digest[20];
    EXPECT_EQ(HashText(HashClassOf<THash_SHA>(), digest, chinese),
              HashBuffer(HashClassOf<THash_SHA>(), nullptr, first, 2));
    EXPECT_EQ(BytesToBase64(digest, 20), HashBuffer(HashClassOf<THash_SHA>(), nullptr, first, 2));
}

TEST(HashTextForms, Base64VariantDropsTrailingZeroParts)
{
    EXPECT_EQ(BytesToBase64("abc", 3), QStringLiteral("YWJj"));
    const quint8 a[] = {0x41, 0x00, 0x00};
    EXPECT_EQ(BytesToBase64(a, 3), QStringLiteral("QQ"));
    const quint8 z[] = {0x00, 0x00, 0x00};
    EXPECT_EQ(BytesToBase64(z, 3), QString());
    const quint8 b40[] = {0x40};
    EXPECT_EQ(BytesToBase64(b40, 1), QStringLiteral("Q=="));
    const quint8 b41[] = {0x41};
    EXPECT_EQ(BytesToBase64(b41, 1), QStringLiteral("QQ=="));
    const quint8 c[] = {0x00, 0x01, 0x02};
    EXPECT_EQ(BytesToBase64(c, 3), QStringLiteral("AAEC"));
    const quint8 two[] = {0xFF, 0xFF};
    EXPECT_EQ(BytesToBase64(two, 2), QStringLiteral("//8="));
    EXPECT_EQ(BytesToBase64(nullptr, 5), QString());
    EXPECT_EQ(BytesToBase64("abc", -1), QStringLiteral("YWJj"));
}

TEST(HashTextForms, HexAndFormats)
{
    const quint8 d[] = {0x00, 0x9F, 0xA0, 0xFF};
    EXPECT_EQ(BytesToHex(d, 4), QStringLiteral("009FA0FF"));
    EXPECT_EQ(BytesToHex("AB", -1), QStringLiteral("4142"));
    EXPECT_EQ(BytesToHex(nullptr, 3), QString());
    THash_SHA sha;
    sha.Init();
    sha.Update("abc", 3);
    sha.Final();
    EXPECT_EQ(DigestToText(&sha, 0), DigestToText(&sha, 64));
    EXPECT_EQ(DigestToText(&sha, 16), QStringLiteral("0164B8A914CD2A5E74C4F7FF082C4D97F1EDF880"));
}
