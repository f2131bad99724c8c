#include "dictdb/Hash_MD.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <cstring>

THash_MD4::~THash_MD4()
{
    std::memset(Digest, 0, sizeof(Digest));
    std::memset(Buffer, 0, sizeof(Buffer));
    if (m_library)
        gcry_md_close(static_cast<gcry_md_hd_t>(m_library));
}

void THash_MD4::Init()
{
    static const quint32 initial[10] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0,
                                        0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567, 0x3C2D1E0F};
    std::memset(Buffer, 0, sizeof(Buffer));
    std::memcpy(Digest, initial, sizeof(Digest));
    Count = 0;
    if (m_library)
        gcry_md_reset(static_cast<gcry_md_hd_t>(m_library));
}

void THash_MD4::Update(const void *Data, int DataSize)
{
    if (!Data || DataSize <= 0)
        return;
    const auto *p = static_cast<const quint8 *>(Data);
    int index = int(Count % 64);
    Count += quint32(DataSize);
    if (index > 0) {
        if (DataSize < 64 - index) {
            std::memcpy(Buffer + index, p, size_t(DataSize));
            return;
        }
        std::memcpy(Buffer + index, p, size_t(64 - index));
        ProcessBlock(Buffer);
        p += 64 - index;
        DataSize -= 64 - index;
    }
    while (DataSize >= 64) {
        ProcessBlock(p);
        p += 64;
        DataSize -= 64;
    }
    std::memcpy(Buffer, p, size_t(DataSize));
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
    if (!m_library || m_libraryAlgo != Algo) {
        if (m_library)
            gcry_md_close(static_cast<gcry_md_hd_t>(m_library));
        m_library = nullptr;
        if (!platform::crypto::ensureGcrypt())
            return;
        gcry_md_hd_t hd = nullptr;
        if (gcry_md_open(&hd, Algo, 0) != 0)
            return;
        m_library = hd;
        m_libraryAlgo = Algo;
    }
    gcry_md_write(static_cast<gcry_md_hd_t>(m_library), Data, size_t(Size));
}

void THash_MD4::LibraryFinal(int Algo)
{
    // The unfinished block still waits in Buffer; the library pads and counts itself.
    LibraryWrite(Algo, Buffer, int(Count % 64));
    std::memset(Digest, 0, sizeof(Digest));
    if (m_library) {
        auto *hd = static_cast<gcry_md_hd_t>(m_library);
        if (const unsigned char *d = gcry_md_read(hd, Algo))
            std::memcpy(Digest, d, size_t(DigestSize()));
        gcry_md_reset(hd);
    }
    std::memset(Buffer, 0, sizeof(Buffer));
}
