#include "dictdb/Hash_SHA.h"

#include <QtEndian>

#include <cstring>

namespace {

inline quint32 Rol(quint32 X, int N)
{
    return (X << N) | (X >> (32 - N));
}

} // namespace

void ShaCompress(quint32 State[5], const void *Block, bool RotateSchedule)
{
    const auto *p = static_cast<const quint8 *>(Block);
    quint32 w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = qFromBigEndian<quint32>(p + 4 * qsizetype(t));
    for (int t = 16; t < 80; ++t) {
        const quint32 x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
        w[t] = RotateSchedule ? Rol(x, 1) : x;
    }
    quint32 a = State[0], b = State[1], c = State[2], d = State[3], e = State[4];
    for (int t = 0; t < 80; ++t) {
        quint32 f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const quint32 temp = Rol(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = Rol(b, 30);
        b = a;
        a = temp;
    }
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
    State[4] += e;
}

void THash_SHA::ProcessBlock(const void *Block)
{
    ShaCompress(m_Digest, Block, false);
}

void THash_SHA::Final()
{
    int used = int(m_Count % 64);
    m_Buffer[used++] = 0x80;
    if (used > 56) {
        std::memset(m_Buffer + used, 0, size_t(64 - used));
        ProcessBlock(m_Buffer);
        used = 0;
    }
    std::memset(m_Buffer + used, 0, size_t(56 - used));
    // The bit count is taken modulo 2^32, as the stored digests were made.
    qToBigEndian<quint32>(0, m_Buffer + 56);
    qToBigEndian<quint32>(m_Count * 8u, m_Buffer + 60);
    ProcessBlock(m_Buffer);
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
    for (int i = 0; i < 5; ++i)
        qToBigEndian<quint32>(m_Digest[i], &m_Digest[i]);
}
