#pragma once

#include "dictdb/EncryptBase.h"

// Blowfish, 16 rounds, the two halves of a block big-endian; the block function is the crypto
// library's. Weak keys are allowed, so that no password is refused.
class TEnc_Blowfish : public TEncrypt
{
public:
    TEnc_Blowfish();
    ~TEnc_Blowfish() override;

    static void GetSizes(int &ABlockSize, int &AMaxKeySize, int &AContextSize);
    QString ClassName() const override { return QStringLiteral("TEnc_Blowfish"); }

    void EncryptBlock(void *Block) override;
    void DecryptBlock(void *Block) override;
    void Wipe() override;

protected:
    void SetupKey(const quint8 *Key, int Size) override;

private:
    void *m_Library = nullptr; // the crypto library's keyed cipher handle
};

class TEncAlgo_Blowfish : public TEncAlgo_Base
{
public:
    explicit TEncAlgo_Blowfish(QObject *AOwner);
    TEncryptClass CipherClass() const override;
};
