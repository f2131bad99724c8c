#include "dictdb/Hash_MD.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <cstring>

THash_MD4::~THash_MD4()
{
    std::memset(m_Digest, 0, sizeof(m_Digest));
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
    if (m_Library)
        gcry_md_close(static_cast<gcry_md_hd_t>(m_Library));
}

void THash_MD4::Init()
{
    static const quint32 kInitial[10] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0,
                                         0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567, 0x3C2D1E0F};
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
    std::memcpy(m_Digest, kInitial, sizeof(m_Digest));
    m_Count = 0;
    if (m_Library)
        gcry_md_reset(static_cast<gcry_md_hd_t>(m_Library));
}

void THash_MD4::Update(const void *Data, int DataSize)
{
    if (!Data || DataSize <= 0)
        return;
    const auto *p = static_cast<const quint8 *>(Data);
    int index = int(m_Count % 64);
    m_Count += quint32(DataSize);
    if (index > 0) {
        if (DataSize < 64 - index) {
            std::memcpy(m_Buffer + index, p, size_t(DataSize));
            return;
        }
        std::memcpy(m_Buffer + index, p, size_t(64 - index));
        ProcessBlock(m_Buffer);
        p += 64 - index;
        DataSize -= 64 - index;
    }
    while (DataSize >= 64) {
        ProcessBlock(p);
        p += 64;
        DataSize -= 64;
    }
    std::memcpy(m_Buffer, p, size_t(DataSize));
}

void THash_MD4::Final()
{
    LibraryFinal(GCRY_MD_MD4);
}

void THash_MD4::ProcessBlock(const void *Block)
{
    LibraryWrite(GCRY_MD_MD4, Block, 64);
}

void THash_MD4::LibraryWrite(int Algo, const void *Data, int Size)
{
    if (!m_Library || m_LibraryAlgo != Algo) {
        if (m_Library)
            gcry_md_close(static_cast<gcry_md_hd_t>(m_Library));
        m_Library = nullptr;
        if (!platform::crypto::EnsureGcrypt())
            return;
        gcry_md_hd_t hd = nullptr;
        if (gcry_md_open(&hd, Algo, 0) != 0)
            return;
        m_Library = hd;
        m_LibraryAlgo = Algo;
    }
    gcry_md_write(static_cast<gcry_md_hd_t>(m_Library), Data, size_t(Size));
}

void THash_MD4::LibraryFinal(int Algo)
{
    // The unfinished block still waits in m_Buffer; the library pads and counts itself.
    LibraryWrite(Algo, m_Buffer, int(m_Count % 64));
    std::memset(m_Digest, 0, sizeof(m_Digest));
    if (m_Library) {
        auto *hd = static_cast<gcry_md_hd_t>(m_Library);
        if (const unsigned char *d = gcry_md_read(hd, Algo))
            std::memcpy(m_Digest, d, size_t(DigestSize()));
        gcry_md_reset(hd);
    }
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
}
