#include "dictdb/Enc_Blowfish.h"

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

TEnc_Blowfish::TEnc_Blowfish() : TEncrypt(8, 56, 4168) {}

TEnc_Blowfish::~TEnc_Blowfish()
{
    TEnc_Blowfish::Wipe();
}

void TEnc_Blowfish::GetSizes(int &ABlockSize, int &AMaxKeySize, int &AContextSize)
{
    ABlockSize = 8;
    AMaxKeySize = 56;
    AContextSize = 4168;
}

void TEnc_Blowfish::Wipe()
{
    TEncrypt::Wipe();
    if (m_Library) {
        gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_Library));
        m_Library = nullptr;
    }
}

void TEnc_Blowfish::SetupKey(const quint8 *Key, int Size)
{
    const auto refuse = [this] {
        throw EEncryptException(QStringLiteral("%1: the cipher could not be keyed").arg(ClassName()),
                                errEncryptNotInitialized);
    };
    if (!platform::crypto::EnsureGcrypt())
        refuse();
    gcry_cipher_hd_t hd = nullptr;
    if (gcry_cipher_open(&hd, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0) != 0)
        refuse();
    gcry_cipher_ctl(hd, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1);
    const gcry_error_t err = gcry_cipher_setkey(hd, Key, size_t(Size));
    if (err != 0 && gcry_err_code(err) != GPG_ERR_WEAK_KEY) {
        gcry_cipher_close(hd);
        refuse();
    }
    m_Library = hd;
}

void TEnc_Blowfish::EncryptBlock(void *Block)
{
    if (m_Library)
        gcry_cipher_encrypt(static_cast<gcry_cipher_hd_t>(m_Library), Block, 8, nullptr, 0);
}

void TEnc_Blowfish::DecryptBlock(void *Block)
{
    if (m_Library)
        gcry_cipher_decrypt(static_cast<gcry_cipher_hd_t>(m_Library), Block, 8, nullptr, 0);
}

TEncAlgo_Blowfish::TEncAlgo_Blowfish(QObject *AOwner)
    : TEncAlgo_Base(AOwner, TEncryptClass::Of<TEnc_Blowfish>().Create())
{}

TEncryptClass TEncAlgo_Blowfish::CipherClass() const
{
    return TEncryptClass::Of<TEnc_Blowfish>();
}
