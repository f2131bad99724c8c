#include "platform/crypto/Md5.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <cstring>

namespace platform::crypto {

Md5::Md5()
{
    if (!ensureGcrypt())
        return;
    gcry_md_hd_t hd = nullptr;
    if (gcry_md_open(&hd, GCRY_MD_MD5, 0) == 0)
        m_handle = hd;
}

Md5::~Md5()
{
    if (m_handle)
        gcry_md_close(static_cast<gcry_md_hd_t>(m_handle));
}

void Md5::update(const void *data, std::size_t length)
{
    if (m_handle && length > 0)
        gcry_md_write(static_cast<gcry_md_hd_t>(m_handle), data, length);
}

std::array<std::uint8_t, 16> Md5::final()
{
    std::array<std::uint8_t, 16> digest{};
    if (!m_handle)
        return digest;
    auto hd = static_cast<gcry_md_hd_t>(m_handle);
    if (const unsigned char *d = gcry_md_read(hd, GCRY_MD_MD5))
        std::memcpy(digest.data(), d, digest.size());
    return digest;
}

} // namespace platform::crypto
