#include "sysinfo/AES.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

namespace {

QByteArray FromHex(const char *Hex)
{
    return QByteArray::fromHex(QByteArray(Hex));
}

// The pass phrase whose UTF-16 little-endian bytes are exactly Key.
QString PassPhraseForKey(const QByteArray &Key)
{
    QString s;
    for (int i = 0; i + 1 < Key.size(); i += 2)
        s.append(QChar(char16_t(uchar(Key[i]) | (uchar(Key[i + 1]) << 8))));
    return s;
}

QByteArray KeyOf(const QString &PassPhrase, int KeySize)
{
    QByteArray key(KeySize, '\0');
    for (int i = 0; i < PassPhrase.size() && 2 * i + 1 < KeySize; ++i) {
        key[2 * i] = char(PassPhrase.at(i).unicode() & 0xFF);
        key[2 * i + 1] = char(PassPhrase.at(i).unicode() >> 8);
    }
    return key;
}

// Independent encryption with the library, ECB over whole blocks.
QByteArray Encrypt(const QByteArray &Key, const QByteArray &Plain)
{
    const int algo = Key.size() == 16 ? GCRY_CIPHER_AES128 : Key.size() == 24 ? GCRY_CIPHER_AES192 : GCRY_CIPHER_AES256;
    EXPECT_TRUE(platform::crypto::EnsureGcrypt());
    gcry_cipher_hd_t hd = nullptr;
    EXPECT_EQ(gcry_cipher_open(&hd, algo, GCRY_CIPHER_MODE_ECB, 0), 0u);
    EXPECT_EQ(gcry_cipher_setkey(hd, Key.constData(), size_t(Key.size())), 0u);
    QByteArray out(Plain.size(), '\0');
    EXPECT_EQ(gcry_cipher_encrypt(hd, out.data(), size_t(out.size()), Plain.constData(), size_t(Plain.size())), 0u);
    gcry_cipher_close(hd);
    return out;
}

// The hex framing: each 8 bytes as one little-endian number in 16 digits.
QString HexFrame(const QByteArray &Cipher)
{
    QString text;
    for (int i = 0; i < Cipher.size(); i += 8) {
        quint64 v = 0;
        for (int b = 7; b >= 0; --b)
            v = (v << 8) | uchar(Cipher[i + b]);
        text += QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QByteArray Utf16Z(const QString &Text, int Padded)
{
    QByteArray b;
    for (QChar c : Text) {
        b.append(char(c.unicode() & 0xFF));
        b.append(char(c.unicode() >> 8));
    }
    b.append(Padded - b.size(), '\0');
    return b;
}

QByteArray Decrypt(const QByteArray &Cipher, const QString &PassPhrase, quint8 KeySize = 0)
{
    TMemoryStream src;
    src.WriteBuffer(Cipher.constData(), Cipher.size());
    TMemoryStream dst;
    TAES::DecryptStream(&src, &dst, PassPhrase, 0, KeySize);
    return QByteArray(static_cast<const char *>(dst.Memory()), int(dst.Size()));
}

// A destination that accepts one block and then fails.
class OneBlockStream : public TMemoryStream
{
public:
    qint64 Write(const void *Buffer, qint64 Count) override
    {
        return Size() >= 16 ? 0 : TMemoryStream::Write(Buffer, Count);
    }
};

} // namespace

TEST(AESTest, Fips197VectorsForAllKeySizes)
{
    const QByteArray plain = FromHex("00112233445566778899aabbccddeeff");
    struct Vector
    {
        const char *key;
        const char *cipher;
        quint8 size;
    };
    const Vector vectors[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a", 16},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191", 24},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089", 32},
    };
    for (const Vector &v : vectors) {
        const QString pass = PassPhraseForKey(FromHex(v.key));
        EXPECT_EQ(TAES::GetKeySize(pass), v.size);
        EXPECT_EQ(Decrypt(FromHex(v.cipher), pass).toHex(), plain.toHex()) << v.key;
        EXPECT_EQ(Decrypt(FromHex(v.cipher), pass, v.size).toHex(), plain.toHex()) << v.key;
    }
}

TEST(AESTest, KeySizeRule)
{
    EXPECT_EQ(TAES::GetKeySize(QString()), 16);
    EXPECT_EQ(TAES::GetKeySize(QString(8, u'x')), 16);
    for (int n = 9; n <= 12; ++n)
        EXPECT_EQ(TAES::GetKeySize(QString(n, u'x')), 24) << n;
    EXPECT_EQ(TAES::GetKeySize(QString(13, u'x')), 32);
    EXPECT_EQ(TAES::GetKeySize(QString(100, u'x')), 32);
}

TEST(AESTest, KeyIsPassPhrasePrefixPaddedWithZeros)
{
    // 11 characters: 22 bytes and two zero bytes of a 24-byte key.
    const QString eleven = QStringLiteral("k3y9abcdefg");
    const QByteArray block = Encrypt(KeyOf(eleven, 24), Utf16Z(QStringLiteral("hi"), 16));
    EXPECT_EQ(Decrypt(block, eleven), Utf16Z(QStringLiteral("hi"), 16));

    // 20 characters with key size 16: only the first 8 count.
    const QString twenty = QStringLiteral("abcdefghijklmnopqrst");
    const QByteArray c16 = Encrypt(KeyOf(QStringLiteral("abcdefgh"), 16), Utf16Z(QStringLiteral("ok"), 16));
    EXPECT_EQ(Decrypt(c16, twenty, 16), Utf16Z(QStringLiteral("ok"), 16));
    EXPECT_NE(Decrypt(c16, twenty, 0), Utf16Z(QStringLiteral("ok"), 16));
}

TEST(AESTest, StreamCountsAndErrors)
{
    const QString pass = QStringLiteral("secret");
    const QByteArray plain = Utf16Z(QStringLiteral("0123456789abcdef"), 48);
    const QByteArray cipher = Encrypt(KeyOf(pass, 16), plain);

    // Count from the current position, cut to what is left.
    TMemoryStream src;
    src.WriteBuffer(cipher.constData(), cipher.size());
    src.SetPosition(16);
    TMemoryStream dst;
    TAES::DecryptStream(&src, &dst, pass, 1000, 0);
    EXPECT_EQ(QByteArray(static_cast<const char *>(dst.Memory()), int(dst.Size())), plain.mid(16));

    // Not a whole number of blocks: refused before anything is written.
    src.SetPosition(0);
    TMemoryStream none;
    try {
        TAES::DecryptStream(&src, &none, pass, 20, 0);
        FAIL() << "no exception";
    } catch (const EAESError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid buffer size for decryption"));
    }
    EXPECT_EQ(none.Size(), 0);

    // An unknown key size does nothing at all.
    src.SetPosition(5);
    TAES::DecryptStream(&src, &none, pass, 0, 17);
    EXPECT_EQ(none.Size(), 0);
    EXPECT_EQ(src.Position(), 5);

    // A short write raises after the blocks already written.
    OneBlockStream partial;
    EXPECT_THROW(TAES::DecryptStream(&src, &partial, pass, 0, 0), EWriteError);
    EXPECT_EQ(QByteArray(static_cast<const char *>(partial.Memory()), int(partial.Size())), plain.left(16));
}

TEST(AESTest, HexTextFraming)
{
    const QString pass = QStringLiteral("a1b2c3d4e5f");
    const QByteArray cipher = Encrypt(KeyOf(pass, TAES::GetKeySize(pass)), Utf16Z(QStringLiteral("abc"), 16));
    const QString hex = HexFrame(cipher);
    ASSERT_EQ(hex.size(), 32);

    QString text = QStringLiteral("stale");
    TAES::DecryptHexString(hex, pass, 0, text);
    EXPECT_EQ(text, QStringLiteral("abc"));
    TAES::DecryptHexString(hex.toLower(), pass, 0, text);
    EXPECT_EQ(text, QStringLiteral("abc"));
    // A last piece of a single character is ignored.
    TAES::DecryptHexString(hex + QLatin1Char('7'), pass, 0, text);
    EXPECT_EQ(text, QStringLiteral("abc"));
    // A last piece of two characters is taken: 24 bytes are not whole blocks.
    text = QStringLiteral("stale");
    TAES::DecryptHexString(hex + QStringLiteral("77"), pass, 0, text);
    EXPECT_TRUE(text.isEmpty());

    TAES::DecryptHexString(QString(), pass, 0, text);
    EXPECT_TRUE(text.isEmpty());
    TAES::DecryptHexString(hex.left(16), pass, 0, text);
    EXPECT_TRUE(text.isEmpty());
    QString bad = hex;
    bad[20] = u'g';
    text = QStringLiteral("stale");
    TAES::DecryptHexString(bad, pass, 0, text);
    EXPECT_TRUE(text.isEmpty());
    QString blank = hex;
    blank[0] = u' ';
    TAES::DecryptHexString(blank, pass, 0, text);
    EXPECT_TRUE(text.isEmpty());
    TAES::DecryptHexString(hex, pass, 33, text);
    EXPECT_TRUE(text.isEmpty());
}

TEST(AESTest, TextEndsAtFirstZeroCharacterOrAtTheEnd)
{
    const QString pass = QStringLiteral("pw");
    // Two blocks with no zero character at all: the whole 16 characters come back.
    const QString sixteen = QStringLiteral("进程管理ABCDEFGHIJKL");
    const QByteArray full = Utf16Z(sixteen, 32);
    QString text;
    TAES::DecryptHexString(HexFrame(Encrypt(KeyOf(pass, 16), full)), pass, 0, text);
    EXPECT_EQ(text, sixteen);
}

TEST(AESTest, WrongPassPhraseAndGarbageNeverCrash)
{
    // Lone surrogates and other garbage decrypt to some text, never a failure.
    QByteArray garbage;
    for (int i = 0; i < 64; ++i)
        garbage.append(char(i % 2 ? 0xD8 : 0x41));
    const QString hex = HexFrame(Encrypt(KeyOf(QStringLiteral("right"), 16), garbage));
    QString text;
    TAES::DecryptHexString(hex, QStringLiteral("right"), 0, text);
    EXPECT_EQ(text.size(), 32);
    for (int i = 0; i < 200; ++i)
        TAES::DecryptHexString(hex, QStringLiteral("wrong%1").arg(i), 0, text);
    SUCCEED();
}
