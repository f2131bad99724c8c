#include "platform/crypto/Aes.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

namespace platform::crypto {

AesDecryptor::~AesDecryptor()
{
    if (m_handle)
        gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_handle));
}

bool AesDecryptor::setKey(const std::uint8_t *key, std::size_t keyLength)
{
    int algo = 0;
    switch (keyLength) {
    case 16:
        algo = GCRY_CIPHER_AES128;
        break;
    case 24:
        algo = GCRY_CIPHER_AES192;
        break;
    case 32:
        algo = GCRY_CIPHER_AES256;
        break;
    default:
        return false;
    }
    if (!ensureGcrypt())
        return false;
    if (m_handle) {
        gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_handle));
        m_handle = nullptr;
    }
    gcry_cipher_hd_t hd = nullptr;
    if (gcry_cipher_open(&hd, algo, GCRY_CIPHER_MODE_ECB, 0) != 0)
        return false;
    if (gcry_cipher_setkey(hd, key, keyLength) != 0) {
        gcry_cipher_close(hd);
        return false;
    }
    m_handle = hd;
    return true;
}

bool AesDecryptor::decryptBlock(const std::uint8_t in[16], std::uint8_t out[16])
{
    if (!m_handle)
        return false;
    auto hd = static_cast<gcry_cipher_hd_t>(m_handle);
    if (in == out)
        return gcry_cipher_decrypt(hd, out, 16, nullptr, 0) == 0;
    return gcry_cipher_decrypt(hd, out, 16, in, 16) == 0;
}

} // namespace platform::crypto
