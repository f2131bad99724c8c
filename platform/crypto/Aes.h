#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::crypto {

// AES block decryption in ECB mode, one 16-byte block at a time.
class AesDecryptor
{
public:
    AesDecryptor() = default;
    ~AesDecryptor();
    AesDecryptor(const AesDecryptor &) = delete;
    AesDecryptor &operator=(const AesDecryptor &) = delete;

    // `KeyLength` 16, 24 or 32 selects AES-128, -192 or -256; anything else fails.
    bool SetKey(const std::uint8_t *Key, std::size_t KeyLength);
    // `In` and `Out` may be the same buffer; false when no key is set or the library fails.
    bool DecryptBlock(const std::uint8_t In[16], std::uint8_t Out[16]);

private:
    void *m_Handle = nullptr; // gcry_cipher_hd_t
};

} // namespace platform::crypto
