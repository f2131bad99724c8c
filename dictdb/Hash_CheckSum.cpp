#include "dictdb/Hash_CheckSum.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace {

inline quint32 Rol(quint32 X, int N)
{
    return (X << N) | (X >> (32 - N));
}

constexpr std::array<quint32, 256> MakeCrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> kCrcTable = MakeCrcTable();

} // namespace

THash_XOR32::~THash_XOR32()
{
    m_Value = 0;
    std::memset(m_Digest, 0, sizeof(m_Digest));
}

void THash_XOR32::Update(const void *Data, int DataSize)
{
    if (!Data || DataSize <= 0)
        return;
    const auto *p = static_cast<const quint8 *>(Data);
    if (DataSize % 2 != 0) {
        // With a single byte the word at the first byte would reach beyond the data: the
        // missing byte counts as 0.
        m_Value ^= DataSize == 1 ? quint32(p[0]) : quint32(qFromLittleEndian<quint16>(p));
        ++p;
        --DataSize;
    }
    for (; DataSize >= 2; p += 2, DataSize -= 2) {
        m_Value = Rol(m_Value, 5);
        m_Value ^= quint32(qFromLittleEndian<quint16>(p));
    }
}

void *THash_XOR32::DigestData()
{
    qToLittleEndian<quint32>(m_Value, m_Digest);
    return m_Digest;
}

void THash_CRC32::Update(const void *Data, int DataSize)
{
    m_Value = UpdateCRC32(m_Value, Data, DataSize);
}

quint32 UpdateCRC32(quint32 CRC, const void *Data, int Count)
{
    if (!Data || Count <= 0)
        return CRC;
    const auto *p = static_cast<const quint8 *>(Data);
    for (int i = 0; i < Count; ++i)
        CRC = (CRC >> 8) ^ kCrcTable[(CRC ^ p[i]) & 0xFF];
    return CRC;
}
