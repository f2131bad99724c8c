#include "PluginTestUtil.h"

#include "dictdb/DataProcess.h"
#include "dictdb/Enc_Blowfish.h"
#include "dictdb/Enc_Gost.h"
#include "dictdb/Enc_Twofish.h"
#include "dictdb/Hash_SHA.h"
#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

using plugintest::Hex;
using plugintest::RandomBytes;

namespace {

QByteArray FromHex(const char *Text)
{
    return QByteArray::fromHex(QByteArray(Text));
}

struct TCipherKind
{
    const char *Name;
    std::function<TEncrypt *()> Make;
};

const TCipherKind CipherKinds[] = {
    {"Blowfish", [] { return new TEnc_Blowfish; }},
    {"Twofish", [] { return new TEnc_Twofish; }},
    {"Gost", [] { return new TEnc_Gost; }},
};

const int AwkwardLengths[] = {0, 1, 7, 8, 9, 15, 16, 17, 4096, 4097};

// Enciphers Data with the crypto library in the given mode, key and IV.
QByteArray LibraryEncrypt(int Algo, int LibMode, const QByteArray &Key, const QByteArray &Iv, const QByteArray &Data,
                          const char *Sbox = nullptr)
{
    platform::crypto::EnsureGcrypt();
    gcry_cipher_hd_t hd = nullptr;
    EXPECT_EQ(gcry_cipher_open(&hd, Algo, LibMode, 0), 0u);
    if (Sbox)
        gcry_cipher_ctl(hd, GCRYCTL_SET_SBOX, const_cast<char *>(Sbox), 0);
    EXPECT_EQ(gcry_cipher_setkey(hd, Key.constData(), size_t(Key.size())), 0u);
    if (!Iv.isEmpty()) {
        EXPECT_EQ(gcry_cipher_setiv(hd, Iv.constData(), size_t(Iv.size())), 0u);
    }
    QByteArray out = Data;
    EXPECT_EQ(gcry_cipher_encrypt(hd, out.data(), size_t(out.size()), nullptr, 0), 0u);
    gcry_cipher_close(hd);
    return out;
}

QByteArray Encode(TEncrypt &Cipher, const QByteArray &Data)
{
    QByteArray out(Data.size(), char(0x55));
    Cipher.EncodeBuffer(Data.constData(), out.data(), int(Data.size()));
    return out;
}

QByteArray Decode(TEncrypt &Cipher, const QByteArray &Data)
{
    QByteArray out(Data.size(), char(0x55));
    Cipher.DecodeBuffer(Data.constData(), out.data(), int(Data.size()));
    return out;
}

QByteArray TwofishBlock(const QByteArray &Key, const QByteArray &Plain, const TTwofishParams &Params, bool Encrypt)
{
    TTwofishSchedule ctx;
    TwofishSetupKey(ctx, reinterpret_cast<const quint8 *>(Key.constData()), int(Key.size()), Params);
    QByteArray block = Plain;
    if (Encrypt)
        TwofishEncrypt(ctx, reinterpret_cast<quint8 *>(block.data()), Params);
    else
        TwofishDecrypt(ctx, reinterpret_cast<quint8 *>(block.data()), Params);
    return block;
}

} // namespace

// ---- the Twofish core ----

TEST(TwofishCore, StandardConfigurationMatchesPublishedVectors)
{
    const QByteArray zero(16, 0);
    EXPECT_EQ(Hex(TwofishBlock(QByteArray(16, 0), zero, kTwofishStandard, true)),
              QStringLiteral("9f589f5cf6122c32b6bfec2f2ae8c35a"));
    EXPECT_EQ(Hex(TwofishBlock(QByteArray(24, 0), zero, kTwofishStandard, true)),
              QStringLiteral("efa71f788965bd4453f860178fc19101"));
    EXPECT_EQ(Hex(TwofishBlock(QByteArray(32, 0), zero, kTwofishStandard, true)),
              QStringLiteral("57ff739d4dc92c1bd7fc01700cc8216f"));
    EXPECT_EQ(
        Hex(TwofishBlock(FromHex("0123456789abcdeffedcba98765432100011223344556677"), zero, kTwofishStandard, true)),
        QStringLiteral("cfd1d2e5a9be9cdf501f13b892bd2248"));
    EXPECT_EQ(Hex(TwofishBlock(FromHex("0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff"), zero,
                               kTwofishStandard, true)),
              QStringLiteral("37527be0052334b89f0cfccae87cfa20"));
}

TEST(TwofishCore, StandardConfigurationMatchesLibrary)
{
    for (quint32 seed = 1; seed <= 20; ++seed) {
        for (int keySize : {16, 32}) {
            const QByteArray key = RandomBytes(keySize, seed * 31 + quint32(keySize));
            const QByteArray plain = RandomBytes(16, seed);
            const QByteArray expected = LibraryEncrypt(keySize == 16 ? GCRY_CIPHER_TWOFISH128 : GCRY_CIPHER_TWOFISH,
                                                       GCRY_CIPHER_MODE_ECB, key, QByteArray(), plain);
            const QByteArray ours = TwofishBlock(key, plain, kTwofishStandard, true);
            EXPECT_EQ(Hex(ours), Hex(expected)) << seed << " " << keySize;
            EXPECT_EQ(TwofishBlock(key, ours, kTwofishStandard, false), plain);
        }
    }
}

TEST(TwofishCore, StoredVariantRoundTripsAndDiffersFromPublished)
{
    for (int keySize : {1, 16, 20, 24, 32}) {
        const QByteArray key = RandomBytes(keySize, quint32(keySize));
        const QByteArray plain = RandomBytes(16, 77);
        const QByteArray enc = TwofishBlock(key, plain, kTwofishStored, true);
        EXPECT_NE(enc, TwofishBlock(key, plain, kTwofishStandard, true));
        EXPECT_EQ(TwofishBlock(key, enc, kTwofishStored, false), plain);
    }
    // Only the odd round keys change in the schedule.
    TTwofishSchedule a, b;
    const QByteArray key = RandomBytes(24, 3);
    TwofishSetupKey(a, reinterpret_cast<const quint8 *>(key.constData()), 24, kTwofishStandard);
    TwofishSetupKey(b, reinterpret_cast<const quint8 *>(key.constData()), 24, kTwofishStored);
    for (int i = 0; i < 40; i += 2)
        EXPECT_EQ(a.K[i], b.K[i]) << i;
    EXPECT_NE(a.K[1], b.K[1]);
    EXPECT_EQ(std::memcmp(a.S, b.S, sizeof(a.S)), 0);
}

TEST(TwofishCore, StoredVariantKnownAnswers)
{
    EXPECT_EQ(Hex(TwofishBlock(QByteArray(16, 0), QByteArray(16, 0), kTwofishStored, true)),
              QStringLiteral("1c2aeaa7e1740cfc567004fc106a3e33"));
    EXPECT_EQ(Hex(TwofishBlock(FromHex("0123456789abcdeffedcba98765432100011223344556677"),
                               FromHex("00112233445566778899aabbccddeeff"), kTwofishStored, true)),
              QStringLiteral("4509fe7a4741457d27de5d91b2b15e31"));
    EXPECT_EQ(Hex(TwofishBlock(FromHex("0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff"),
                               QByteArray(16, char(0xFF)), kTwofishStored, true)),
              QStringLiteral("5eef0862b9630352b78e518356f6dfb4"));
}

// ---- the chaining modes against the crypto library ----

TEST(CipherModes, CbcCfb8AndEcbMatchLibrary)
{
    const QByteArray key = RandomBytes(20, 11);
    const QByteArray iv = RandomBytes(8, 12);
    const QByteArray data = RandomBytes(8 * 37, 13);
    struct
    {
        quint8 Mode;
        int LibMode;
    } cases[] = {{1, GCRY_CIPHER_MODE_CBC}, {2, GCRY_CIPHER_MODE_CFB8}, {4, GCRY_CIPHER_MODE_ECB}};
    for (const auto &c : cases) {
        TEnc_Blowfish bf;
        bf.SetMode(c.Mode);
        bf.Init(key.constData(), int(key.size()), iv.constData());
        const QByteArray expected = LibraryEncrypt(GCRY_CIPHER_BLOWFISH, c.LibMode, key,
                                                   c.LibMode == GCRY_CIPHER_MODE_ECB ? QByteArray() : iv, data);
        EXPECT_EQ(Hex(Encode(bf, data)), Hex(expected)) << int(c.Mode);

        // GOST: the key is zero-padded to 32 bytes and the test S-boxes are used.
        TEnc_Gost gost;
        gost.SetMode(c.Mode);
        gost.Init(key.constData(), int(key.size()), iv.constData());
        QByteArray padded = key;
        padded.append(QByteArray(12, 0));
        const QByteArray expectedGost =
            LibraryEncrypt(GCRY_CIPHER_GOST28147, c.LibMode, padded,
                           c.LibMode == GCRY_CIPHER_MODE_ECB ? QByteArray() : iv, data, "1.2.643.2.2.30.0");
        EXPECT_EQ(Hex(Encode(gost, data)), Hex(expectedGost)) << int(c.Mode);
    }
}

// ---- round trips ----

TEST(CipherRoundTrip, EveryCipherModeAndAwkwardLength)
{
    for (const TCipherKind &kind : CipherKinds) {
        for (quint8 mode = 0; mode <= 4; ++mode) {
            std::unique_ptr<TEncrypt> enc(kind.Make()), dec(kind.Make());
            enc->SetMode(mode);
            dec->SetMode(mode);
            enc->InitKey(QStringLiteral("pass word"), nullptr);
            dec->InitKey(QStringLiteral("pass word"), nullptr);
            for (int length : AwkwardLengths) {
                const QByteArray plain = RandomBytes(length, quint32(length) + mode);
                enc->ResetFeedback();
                dec->ResetFeedback();
                const QByteArray cipher = Encode(*enc, plain);
                if (length >= enc->BlockSize()) {
                    EXPECT_NE(cipher, plain) << kind.Name << " " << int(mode) << " " << length;
                }
                EXPECT_EQ(Decode(*dec, cipher), plain) << kind.Name << " " << int(mode) << " " << length;

                // In place gives the same bytes.
                QByteArray inPlace = plain;
                enc->ResetFeedback();
                enc->EncodeBuffer(inPlace.constData(), inPlace.data(), int(length));
                EXPECT_EQ(inPlace, cipher) << kind.Name << " " << int(mode) << " " << length;
                dec->ResetFeedback();
                dec->DecodeBuffer(inPlace.constData(), inPlace.data(), int(length));
                EXPECT_EQ(inPlace, plain) << kind.Name << " " << int(mode) << " " << length;
            }
        }
    }
}

TEST(CipherRoundTrip, ThirteenBytesInCbcWithEightByteBlock)
{
    TEnc_Blowfish a, b;
    a.SetMode(1);
    b.SetMode(1);
    a.InitKey(QStringLiteral("k"), nullptr);
    b.InitKey(QStringLiteral("k"), nullptr);
    const QByteArray plain = RandomBytes(13, 1);
    const QByteArray cipher = Encode(a, plain);
    // The tail is the plain bytes xored with E(feedback after the whole block).
    quint8 fb[8];
    std::memcpy(fb, cipher.constData(), 8);
    b.EncryptBlock(fb);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(quint8(cipher[8 + i]), quint8(plain[8 + i] ^ fb[i]));
    EXPECT_EQ(Decode(b, cipher), plain);
}

TEST(CipherRoundTrip, EcbLeavesShortTailPlain)
{
    TEnc_Gost g;
    g.SetMode(4);
    g.InitKey(QStringLiteral("tail"), nullptr);
    const QByteArray plain = RandomBytes(21, 2);
    const QByteArray cipher = Encode(g, plain);
    EXPECT_EQ(cipher.right(5), plain.right(5));
    EXPECT_NE(cipher.left(16), plain.left(16));
}

// ---- key set-up ----

TEST(CipherKeys, SamePasswordGivesSameIvAndSameCiphertext)
{
    for (const TCipherKind &kind : CipherKinds) {
        std::unique_ptr<TEncrypt> a(kind.Make()), b(kind.Make());
        a->InitKey(QStringLiteral("same"), nullptr);
        b->InitKey(QStringLiteral("same"), nullptr);
        EXPECT_EQ(Hex(a->IV(), a->BlockSize()), Hex(b->IV(), b->BlockSize())) << kind.Name;
        // Without an IV it is the encryption of the all-0xFF block.
        QByteArray ff(a->BlockSize(), char(0xFF));
        a->EncryptBlock(ff.data());
        EXPECT_EQ(Hex(ff), Hex(a->IV(), a->BlockSize())) << kind.Name;
        const QByteArray data = RandomBytes(40, 9);
        EXPECT_EQ(Encode(*a, data), Encode(*b, data)) << kind.Name;
        EXPECT_EQ(a->Flags() & 0x201u, 0x201u) << kind.Name;
    }
}

TEST(CipherKeys, InitKeyUsesTheShaDigestOfHalfThePassword)
{
    // The key is the 20-byte SHA-0 digest of Length(password) bytes of its UTF-16LE form.
    quint8 digest[20];
    HashText(HashClassOf<THash_SHA>(), digest, QStringLiteral("abcd"));
    TEnc_Blowfish viaPassword, viaKey;
    viaPassword.InitKey(QStringLiteral("abcd"), nullptr);
    viaKey.Init(digest, 20, nullptr);
    const QByteArray data = RandomBytes(32, 3);
    EXPECT_EQ(Encode(viaPassword, data), Encode(viaKey, data));

    // GOST pads the 20-byte key with zeros; Twofish treats it as a 24-byte key.
    quint8 padded[32] = {};
    std::memcpy(padded, digest, 20);
    TEnc_Gost g1, g2;
    g1.InitKey(QStringLiteral("abcd"), nullptr);
    g2.Init(padded, 32, nullptr);
    EXPECT_EQ(Encode(g1, data), Encode(g2, data));
    TEnc_Twofish t1, t2;
    t1.InitKey(QStringLiteral("abcd"), nullptr);
    t2.Init(padded, 24, nullptr);
    EXPECT_EQ(Encode(t1, data), Encode(t2, data));
}

TEST(CipherKeys, OverlongKeyIsCutAndEmptyKeyRefused)
{
    const QByteArray key = RandomBytes(80, 8);
    TEnc_Blowfish a, b;
    a.Init(key.constData(), 80, nullptr);
    b.Init(key.constData(), 56, nullptr);
    const QByteArray data = RandomBytes(16, 1);
    EXPECT_EQ(Encode(a, data), Encode(b, data));

    for (const TCipherKind &kind : CipherKinds) {
        std::unique_ptr<TEncrypt> c(kind.Make());
        for (int size : {0, -5}) {
            try {
                c->Init(key.constData(), size, nullptr);
                ADD_FAILURE() << kind.Name << " accepted an empty key";
            } catch (const EEncryptException &e) {
                EXPECT_EQ(e.ErrorCode, errEncryptEmptyKey);
            }
            EXPECT_FALSE(c->Initialized());
        }
    }
}

TEST(CipherFailures, UseBeforeInitIsRefusedAndDestUntouched)
{
    for (const TCipherKind &kind : CipherKinds) {
        std::unique_ptr<TEncrypt> c(kind.Make());
        QByteArray dest(16, 'x');
        try {
            c->EncodeBuffer("0123456789abcdef", dest.data(), 16);
            ADD_FAILURE() << kind.Name;
        } catch (const EEncryptException &e) {
            EXPECT_EQ(e.ErrorCode, 3);
            EXPECT_EQ(e.Message(),
                      c->ClassName() + QStringLiteral(" is not initialized call Init() or InitKey() before."));
        }
        EXPECT_EQ(dest, QByteArray(16, 'x'));
        EXPECT_THROW(c->DecodeBuffer("0123456789abcdef", dest.data(), 16), EEncryptException);
    }
}

TEST(CipherFailures, ModesBeyondFourAreRefusedNotStoredPlain)
{
    TEnc_Twofish c;
    c.InitKey(QStringLiteral("x"), nullptr);
    for (int mode : {5, 6, 255}) {
        try {
            c.SetMode(quint8(mode));
            ADD_FAILURE() << mode;
        } catch (const EEncryptException &e) {
            EXPECT_EQ(e.ErrorCode, errEncryptInvalidMode);
        }
    }
    EXPECT_EQ(c.Mode(), 0);
}

// ---- the adaptors and their stream processing ----

TEST(CipherAdaptors, ChunkedStreamsEqualWholeBuffers)
{
    RegisterBuiltinDataProcessAlgos();
    for (const char *name : {"Blowfish", "Twofish", "Gost"}) {
        for (quint8 mode = 0; mode <= 4; ++mode) {
            for (int length : {0, 1, 17, 4095, 4096, 4097, 10000}) {
                TEncryptMgr mgr(nullptr);
                mgr.SetAlgoName(QString::fromLatin1(name));
                mgr.SetMode(mode);
                mgr.SetPassword(QStringLiteral("pw"));
                const QByteArray plain = RandomBytes(length, quint32(length) * 3 + mode);
                QByteArray whole = plain;
                mgr.EncodeBuffer(plain.constData(), whole.data(), length);

                TMemoryStream source, dest;
                source.WriteBuffer(plain.constData(), length);
                mgr.EncodeStream(&source, &dest, -1);
                ASSERT_EQ(dest.Size(), length);
                EXPECT_EQ(QByteArray(static_cast<const char *>(dest.Memory()), length), whole)
                    << name << " " << int(mode) << " " << length;

                // In place (Dest null) and back.
                mgr.EncodeStream(&source, nullptr, -1);
                EXPECT_EQ(QByteArray(static_cast<const char *>(source.Memory()), length), whole);
                mgr.DecodeStream(&source, nullptr, -1);
                EXPECT_EQ(QByteArray(static_cast<const char *>(source.Memory()), length), plain);
            }
        }
    }
}
