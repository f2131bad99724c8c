#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <mutex>

namespace platform::crypto {

bool EnsureGcrypt()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        if (!gcry_check_version(GCRYPT_VERSION))
            return;
        // Only ciphers and digests are used: no secure memory pool is needed.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        ok = true;
    });
    return ok;
}

} // namespace platform::crypto
