#include "dictdb/Enc_Twofish.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace {

inline quint32 Rol(quint32 X, int N)
{
    return (X << N) | (X >> (32 - N));
}

inline quint32 Ror(quint32 X, int N)
{
    return (X >> N) | (X << (32 - N));
}

using TNibbles = std::array<quint8, 16>;

constexpr std::array<quint8, 256> MakeQ(const TNibbles &T0, const TNibbles &T1, const TNibbles &T2, const TNibbles &T3)
{
    std::array<quint8, 256> q{};
    for (int x = 0; x < 256; ++x) {
        int a0 = x >> 4, b0 = x & 15;
        int a1 = a0 ^ b0;
        int b1 = (a0 ^ (((b0 >> 1) | (b0 << 3)) & 15) ^ (8 * a0)) & 15;
        int a2 = T0[size_t(a1)], b2 = T1[size_t(b1)];
        int a3 = a2 ^ b2;
        int b3 = (a2 ^ (((b2 >> 1) | (b2 << 3)) & 15) ^ (8 * a2)) & 15;
        int a4 = T2[size_t(a3)], b4 = T3[size_t(b3)];
        q[size_t(x)] = quint8(16 * b4 + a4);
    }
    return q;
}

constexpr std::array<quint8, 256> kQ0 =
    MakeQ({0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
          {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
          {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
          {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA});
constexpr std::array<quint8, 256> kQ1 =
    MakeQ({0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
          {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
          {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
          {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA});

// Multiplication in GF(2^8) modulo the given polynomial.
constexpr quint8 GfMul(quint8 A, quint8 B, unsigned Poly)
{
    unsigned r = 0, x = A;
    for (; B; B >>= 1) {
        if (B & 1)
            r ^= x;
        x <<= 1;
        if (x & 0x100)
            x ^= Poly;
    }
    return quint8(r);
}

constexpr unsigned kMdsPoly = 0x169;
constexpr unsigned kRsPoly = 0x14D;

constexpr quint8 kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B},
    {0x5B, 0xEF, 0xEF, 0x01},
    {0xEF, 0x5B, 0x01, 0xEF},
    {0xEF, 0x01, 0xEF, 0x5B},
};

constexpr quint8 kRs[4][8] = {
    {0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03},
};

// Column Col of the MDS matrix times y, as a word (row i in byte i).
quint32 MdsColumn(int Col, quint8 Y)
{
    quint32 z = 0;
    for (int i = 0; i < 4; ++i)
        z |= quint32(GfMul(kMds[i][Col], Y, kMdsPoly)) << (8 * i);
    return z;
}

inline quint8 KeyByte(const quint32 *L, int Word, int Pos)
{
    return quint8(L[Word] >> (8 * Pos));
}

// The q stages of h for byte position Pos, with the k key words L.
quint8 HByte(int Pos, quint8 X, const quint32 *L, int K)
{
    switch (Pos) {
    case 0:
        if (K == 4)
            X = kQ1[X] ^ KeyByte(L, 3, 0);
        if (K >= 3)
            X = kQ1[X] ^ KeyByte(L, 2, 0);
        return kQ1[kQ0[kQ0[X] ^ KeyByte(L, 1, 0)] ^ KeyByte(L, 0, 0)];
    case 1:
        if (K == 4)
            X = kQ0[X] ^ KeyByte(L, 3, 1);
        if (K >= 3)
            X = kQ1[X] ^ KeyByte(L, 2, 1);
        return kQ0[kQ0[kQ1[X] ^ KeyByte(L, 1, 1)] ^ KeyByte(L, 0, 1)];
    case 2:
        if (K == 4)
            X = kQ0[X] ^ KeyByte(L, 3, 2);
        if (K >= 3)
            X = kQ0[X] ^ KeyByte(L, 2, 2);
        return kQ1[kQ1[kQ0[X] ^ KeyByte(L, 1, 2)] ^ KeyByte(L, 0, 2)];
    default:
        if (K == 4)
            X = kQ1[X] ^ KeyByte(L, 3, 3);
        if (K >= 3)
            X = kQ0[X] ^ KeyByte(L, 2, 3);
        return kQ0[kQ1[kQ1[X] ^ KeyByte(L, 1, 3)] ^ KeyByte(L, 0, 3)];
    }
}

quint32 H(quint32 X, const quint32 *L, int K)
{
    quint32 z = 0;
    for (int pos = 0; pos < 4; ++pos)
        z ^= MdsColumn(pos, HByte(pos, quint8(X >> (8 * pos)), L, K));
    return z;
}

inline quint32 G(const TTwofishSchedule &Ctx, quint32 X)
{
    return Ctx.S[0][X & 0xFF] ^ Ctx.S[1][(X >> 8) & 0xFF] ^ Ctx.S[2][(X >> 16) & 0xFF] ^ Ctx.S[3][X >> 24];
}

} // namespace

void TwofishSetupKey(TTwofishSchedule &Ctx, const quint8 *Key, int Size, const TTwofishParams &Params)
{
    if (Size < 0)
        Size = 0;
    if (Size > 32)
        Size = 32;
    quint8 key[32] = {};
    if (Key && Size > 0)
        std::memcpy(key, Key, size_t(Size));
    const int length = Size <= 16 ? 16 : (Size <= 24 ? 24 : 32);
    const int k = length / 8;

    quint32 me[4] = {}, mo[4] = {}, s[4] = {};
    for (int i = 0; i < k; ++i) {
        me[i] = qFromLittleEndian<quint32>(key + 8 * qsizetype(i));
        mo[i] = qFromLittleEndian<quint32>(key + 8 * qsizetype(i) + 4);
        quint32 word = 0;
        for (int row = 0; row < 4; ++row) {
            quint8 acc = 0;
            for (int col = 0; col < 8; ++col)
                acc ^= GfMul(kRs[row][col], key[8 * i + col], kRsPoly);
            word |= quint32(acc) << (8 * row);
        }
        // The S-box key words are used in reverse order.
        s[k - 1 - i] = word;
    }

    constexpr quint32 kRho = 0x01010101;
    for (quint32 i = 0; i < 20; ++i) {
        const quint32 a = H(2 * i * kRho, me, k);
        const quint32 b = Rol(H((2 * i + 1) * kRho, mo, k), 8);
        Ctx.K[2 * std::size_t(i)] = a + b;
        Ctx.K[2 * i + 1] = Params.HalveOddKeys ? Rol(a + (b >> 1), 9) : Rol(a + 2 * b, 9);
    }
    for (int pos = 0; pos < 4; ++pos) {
        for (int x = 0; x < 256; ++x)
            Ctx.S[pos][x] = MdsColumn(pos, HByte(pos, quint8(x), s, k));
    }
    std::memset(key, 0, sizeof(key));
}

void TwofishEncrypt(const TTwofishSchedule &Ctx, quint8 Block[16], const TTwofishParams &Params)
{
    quint32 x0 = qFromLittleEndian<quint32>(Block) ^ Ctx.K[0];
    quint32 x1 = qFromLittleEndian<quint32>(Block + 4) ^ Ctx.K[1];
    quint32 x2 = qFromLittleEndian<quint32>(Block + 8) ^ Ctx.K[2];
    quint32 x3 = qFromLittleEndian<quint32>(Block + 12) ^ Ctx.K[3];
    for (int j = 0; j < Params.DoubleRounds; ++j) {
        const quint32 *key = Ctx.K + 8 + 2 * qsizetype(Params.KeyPairsPerDouble) * j;
        quint32 t0 = G(Ctx, x0);
        quint32 t1 = G(Ctx, Rol(x1, 8));
        x2 = Ror(x2 ^ (t0 + t1 + key[0]), 1);
        x3 = Rol(x3, 1) ^ (t0 + 2 * t1 + key[1]);
        t0 = G(Ctx, x2);
        t1 = G(Ctx, Rol(x3, 8));
        x0 = Ror(x0 ^ (t0 + t1 + key[2]), 1);
        x1 = Rol(x1, 1) ^ (t0 + 2 * t1 + key[3]);
    }
    qToLittleEndian<quint32>(x2 ^ Ctx.K[4], Block);
    qToLittleEndian<quint32>(x3 ^ Ctx.K[5], Block + 4);
    qToLittleEndian<quint32>(x0 ^ Ctx.K[6], Block + 8);
    qToLittleEndian<quint32>(x1 ^ Ctx.K[7], Block + 12);
}

void TwofishDecrypt(const TTwofishSchedule &Ctx, quint8 Block[16], const TTwofishParams &Params)
{
    quint32 x2 = qFromLittleEndian<quint32>(Block) ^ Ctx.K[4];
    quint32 x3 = qFromLittleEndian<quint32>(Block + 4) ^ Ctx.K[5];
    quint32 x0 = qFromLittleEndian<quint32>(Block + 8) ^ Ctx.K[6];
    quint32 x1 = qFromLittleEndian<quint32>(Block + 12) ^ Ctx.K[7];
    for (int j = Params.DoubleRounds - 1; j >= 0; --j) {
        const quint32 *key = Ctx.K + 8 + 2 * qsizetype(Params.KeyPairsPerDouble) * j;
        quint32 t0 = G(Ctx, x2);
        quint32 t1 = G(Ctx, Rol(x3, 8));
        x1 = Ror(x1 ^ (t0 + 2 * t1 + key[3]), 1);
        x0 = Rol(x0, 1) ^ (t0 + t1 + key[2]);
        t0 = G(Ctx, x0);
        t1 = G(Ctx, Rol(x1, 8));
        x3 = Ror(x3 ^ (t0 + 2 * t1 + key[1]), 1);
        x2 = Rol(x2, 1) ^ (t0 + t1 + key[0]);
    }
    qToLittleEndian<quint32>(x0 ^ Ctx.K[0], Block);
    qToLittleEndian<quint32>(x1 ^ Ctx.K[1], Block + 4);
    qToLittleEndian<quint32>(x2 ^ Ctx.K[2], Block + 8);
    qToLittleEndian<quint32>(x3 ^ Ctx.K[3], Block + 12);
}

// ---- TEnc_Twofish ----

TEnc_Twofish::TEnc_Twofish() : TEncrypt(16, 32, 4256) {}

void TEnc_Twofish::GetSizes(int &ABlockSize, int &AMaxKeySize, int &AContextSize)
{
    ABlockSize = 16;
    AMaxKeySize = 32;
    AContextSize = 4256;
}

void TEnc_Twofish::SetupKey(const quint8 *Key, int Size)
{
    TwofishSetupKey(Schedule(), Key, Size, kTwofishStored);
}

void TEnc_Twofish::EncryptBlock(void *Block)
{
    TwofishEncrypt(Schedule(), static_cast<quint8 *>(Block), kTwofishStored);
}

void TEnc_Twofish::DecryptBlock(void *Block)
{
    TwofishDecrypt(Schedule(), static_cast<quint8 *>(Block), kTwofishStored);
}

TEncAlgo_Twofish::TEncAlgo_Twofish(QObject *AOwner) : TEncAlgo_Base(AOwner, TEncryptClass::Of<TEnc_Twofish>().Create())
{}

TEncryptClass TEncAlgo_Twofish::CipherClass() const
{
    return TEncryptClass::Of<TEnc_Twofish>();
}
