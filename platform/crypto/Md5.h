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

    bool IsValid() const { return m_Handle != nullptr; }
    void Update(const void *Data, std::size_t Length);
    // The digest of everything fed so far; the object is spent afterwards.
    std::array<std::uint8_t, 16> Final();

private:
    void *m_Handle = nullptr; // gcry_md_hd_t
};

} // namespace platform::crypto
