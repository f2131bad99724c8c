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

    // keyLength 16, 24 or 32 selects AES-128, -192 or -256; anything else fails.
    bool setKey(const std::uint8_t *key, std::size_t keyLength);
    // in and out may be the same buffer; false when no key is set or the library fails.
    bool decryptBlock(const std::uint8_t in[16], std::uint8_t out[16]);

private:
    void *m_handle = nullptr; // gcry_cipher_hd_t
};

} // namespace platform::crypto
