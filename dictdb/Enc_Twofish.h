#pragma once

#include "dictdb/EncryptBase.h"

// The Twofish structure with its round count and key schedule as parameters, so that the
// standard configuration can be checked against the published cipher while the stored files use
// a 30-round variant with altered odd round keys.
struct TTwofishParams
{
    int DoubleRounds;      // 8 in the published cipher
    int KeyPairsPerDouble; // round-key pairs the key index advances per double round (2 published)
    bool HalveOddKeys;     // odd round key ROL(A + (B shr 1), 9) instead of ROL(A + 2B, 9)
};

inline constexpr TTwofishParams kTwofishStandard{8, 2, false};
inline constexpr TTwofishParams kTwofishStored{15, 1, true};

// 40 round-key words, then four key-dependent S-box tables with the MDS step folded in.
struct TTwofishSchedule
{
    quint32 K[40];
    quint32 S[4][256];
};
static_assert(sizeof(TTwofishSchedule) == 4256);

// Key of Size bytes (at most 32; taken as 16, 24 or 32 bytes, zero-filled).
void TwofishSetupKey(TTwofishSchedule &Ctx, const quint8 *Key, int Size, const TTwofishParams &Params);
void TwofishEncrypt(const TTwofishSchedule &Ctx, quint8 Block[16], const TTwofishParams &Params);
void TwofishDecrypt(const TTwofishSchedule &Ctx, quint8 Block[16], const TTwofishParams &Params);

// The 30-round variant that stored files use (not interoperable with published Twofish).
class TEnc_Twofish : public TEncrypt
{
public:
    TEnc_Twofish();
    ~TEnc_Twofish() override = default;

    static void GetSizes(int &ABlockSize, int &AMaxKeySize, int &AContextSize);
    QString ClassName() const override { return QStringLiteral("TEnc_Twofish"); }

    void EncryptBlock(void *Block) override;
    void DecryptBlock(void *Block) override;

protected:
    void SetupKey(const quint8 *Key, int Size) override;

private:
    TTwofishSchedule &Schedule() { return *reinterpret_cast<TTwofishSchedule *>(ContextWords()); }
};

class TEncAlgo_Twofish : public TEncAlgo_Base
{
public:
    explicit TEncAlgo_Twofish(QObject *AOwner);
    TEncryptClass CipherClass() const override;
};
