#pragma once

#include "dictdb/EncryptBase.h"

// GOST 28147-89 with the S-boxes of the GOST R 34.11-94 test parameter set; block halves and key
// words little-endian. A shorter key is zero-padded to 32 bytes. The block function is the
// crypto library's.
class TEnc_Gost : public TEncrypt
{
public:
    TEnc_Gost();
    ~TEnc_Gost() override;

    static void GetSizes(int &ABlockSize, int &AMaxKeySize, int &AContextSize);
    QString ClassName() const override { return QStringLiteral("TEnc_Gost"); }

    void EncryptBlock(void *Block) override;
    void DecryptBlock(void *Block) override;
    void Wipe() override;

protected:
    void SetupKey(const quint8 *Key, int Size) override;

private:
    void *m_Library = nullptr;
};

class TEncAlgo_Gost : public TEncAlgo_Base
{
public:
    explicit TEncAlgo_Gost(QObject *AOwner);
    TEncryptClass CipherClass() const override;
};
