#include "platform/crypto/Md5.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <cstring>

namespace platform::crypto {

Md5::Md5()
{
    if (!EnsureGcrypt())
        return;
    gcry_md_hd_t hd = nullptr;
    if (gcry_md_open(&hd, GCRY_MD_MD5, 0) == 0)
        m_Handle = hd;
}

Md5::~Md5()
{
    if (m_Handle)
        gcry_md_close(static_cast<gcry_md_hd_t>(m_Handle));
}

void Md5::Update(const void *Data, std::size_t Length)
{
    if (m_Handle && Length > 0)
        gcry_md_write(static_cast<gcry_md_hd_t>(m_Handle), Data, Length);
}

std::array<std::uint8_t, 16> Md5::Final()
{
    std::array<std::uint8_t, 16> digest{};
    if (!m_Handle)
        return digest;
    auto hd = static_cast<gcry_md_hd_t>(m_Handle);
    if (const unsigned char *d = gcry_md_read(hd, GCRY_MD_MD5))
        std::memcpy(digest.data(), d, digest.size());
    return digest;
}

} // namespace platform::crypto
