#include "platform/crypto/Aes.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

namespace platform::crypto {

AesDecryptor::~AesDecryptor()
{
    if (m_Handle)
        gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_Handle));
}

bool AesDecryptor::SetKey(const std::uint8_t *Key, std::size_t KeyLength)
{
    int algo = 0;
    switch (KeyLength) {
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
    if (!EnsureGcrypt())
        return false;
    if (m_Handle) {
        gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_Handle));
        m_Handle = nullptr;
    }
    gcry_cipher_hd_t hd = nullptr;
    if (gcry_cipher_open(&hd, algo, GCRY_CIPHER_MODE_ECB, 0) != 0)
        return false;
    if (gcry_cipher_setkey(hd, Key, KeyLength) != 0) {
        gcry_cipher_close(hd);
        return false;
    }
    m_Handle = hd;
    return true;
}

bool AesDecryptor::DecryptBlock(const std::uint8_t In[16], std::uint8_t Out[16])
{
    if (!m_Handle)
        return false;
    auto hd = static_cast<gcry_cipher_hd_t>(m_Handle);
    if (In == Out)
        return gcry_cipher_decrypt(hd, Out, 16, nullptr, 0) == 0;
    return gcry_cipher_decrypt(hd, Out, 16, In, 16) == 0;
}

} // namespace platform::crypto
