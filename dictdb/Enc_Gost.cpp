#include "dictdb/Enc_Gost.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <cstring>

TEnc_Gost::TEnc_Gost() : TEncrypt(8, 32, 32) {}

TEnc_Gost::~TEnc_Gost()
{
    TEnc_Gost::Wipe();
}

void TEnc_Gost::GetSizes(int &ABlockSize, int &AMaxKeySize, int &AContextSize)
{
    ABlockSize = 8;
    AMaxKeySize = 32;
    AContextSize = 32;
}

void TEnc_Gost::Wipe()
{
    TEncrypt::Wipe();
    if (m_Library) {
        gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_Library));
        m_Library = nullptr;
    }
}

void TEnc_Gost::SetupKey(const quint8 *Key, int Size)
{
    const auto refuse = [this] {
        throw EEncryptException(QStringLiteral("%1: the cipher could not be keyed").arg(ClassName()),
                                errEncryptNotInitialized);
    };
    // The eight key words: the key, zero-padded.
    quint8 *context = Context();
    std::memset(context, 0, 32);
    std::memcpy(context, Key, size_t(Size));
    if (!platform::crypto::EnsureGcrypt())
        refuse();
    gcry_cipher_hd_t hd = nullptr;
    if (gcry_cipher_open(&hd, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, 0) != 0)
        refuse();
    // Named explicitly so that a change of the library's default cannot change stored data.
    static const char kSboxOid[] = "1.2.643.2.2.30.0";
    if (gcry_cipher_ctl(hd, GCRYCTL_SET_SBOX, const_cast<char *>(kSboxOid), 0) != 0 ||
        gcry_cipher_setkey(hd, context, 32) != 0) {
        gcry_cipher_close(hd);
        refuse();
    }
    m_Library = hd;
}

void TEnc_Gost::EncryptBlock(void *Block)
{
    if (m_Library)
        gcry_cipher_encrypt(static_cast<gcry_cipher_hd_t>(m_Library), Block, 8, nullptr, 0);
}

void TEnc_Gost::DecryptBlock(void *Block)
{
    if (m_Library)
        gcry_cipher_decrypt(static_cast<gcry_cipher_hd_t>(m_Library), Block, 8, nullptr, 0);
}

TEncAlgo_Gost::TEncAlgo_Gost(QObject *AOwner) : TEncAlgo_Base(AOwner, TEncryptClass::Of<TEnc_Gost>().Create()) {}

TEncryptClass TEncAlgo_Gost::CipherClass() const
{
    return TEncryptClass::Of<TEnc_Gost>();
}
