#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::crypto {

// Incremental MD5 digest (RFC 1321).
class Md5
{
public:
    Md5();
    ~Md5();
    Md5(const Md5 &) = delete;
    Md5 &operator=(const Md5 &) = delete;

    bool isValid() const { return m_handle != nullptr; }
    void update(const void *data, std::size_t length);
    // The digest of everything fed so far; the object is spent afterwards.
    std::array<std::uint8_t, 16> final();

private:
    void *m_handle = nullptr; // gcry_md_hd_t
};

} // namespace platform::crypto
