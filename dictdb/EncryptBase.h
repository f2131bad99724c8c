#pragma once

#include "dictdb/DataProcess.h"
#include "dictdb/HashBase.h"
#include "dataaccess/DBError.h"

#include <QString>

#include <memory>

class EEncryptException : public dataaccess::Exception
{
public:
    EEncryptException(const QString &Message, int AErrorCode) : dataaccess::Exception(Message), ErrorCode(AErrorCode) {}
    int ErrorCode = 0;
};

// Error codes of EEncryptException.
enum : int {
    errEncryptNotInitialized = 3,
    errEncryptInvalidMode = 4,
    errEncryptEmptyKey = 5,
};

// A block cipher with five chaining modes and a key set-up from a password through a hash.
// Stored data depends on every detail, the weak ones included (the key is the SHA-0 digest of
// half the password's UTF-16 bytes and every message starts from the same IV), so this gives
// no real secrecy: it only keeps the bytes from being read at a glance.
class TEncrypt
{
public:
    TEncrypt(const TEncrypt &) = delete;
    TEncrypt &operator=(const TEncrypt &) = delete;
    virtual ~TEncrypt();

    // The chaining mode: 0 feedback xor, 1 CBC, 2 CFB-8, 3 OFB-8, 4 ECB. Others are refused.
    quint8 Mode() const { return m_Mode; }
    void SetMode(quint8 Value);

    THashClass HashClass() const { return m_HashClass; }
    void SetHashClass(const THashClass &Value);

    int BlockSize() const { return m_BlockSize; }
    int MaxKeySize() const { return m_MaxKeySize; }
    int ContextSize() const { return m_ContextSize; }
    quint32 Flags() const { return m_Flags; }
    bool Initialized() const { return (m_Flags & (1u << 9)) != 0; }
    const quint8 *IV() const { return m_Iv.get(); }
    const quint8 *Feedback() const { return m_Feedback.get(); }
    virtual QString ClassName() const = 0;

    virtual void SetFlag(int Index, bool Value);
    // One block in place. The base does nothing.
    virtual void EncryptBlock(void *Block) { Q_UNUSED(Block); }
    virtual void DecryptBlock(void *Block) { Q_UNUSED(Block); }

    // Keys the cipher with the first Size bytes of Key (cut to MaxKeySize; an empty key is
    // refused). Without IVector the IV is the encryption of the all-0xFF block.
    virtual void Init(const void *Key, int Size, const void *IVector);
    virtual void ResetFeedback();
    virtual void Wipe();

    void InitKey(const QString &Key, const void *IVector);

    // Source and Dest may be the same memory.
    void EncodeBuffer(const void *Source, void *Dest, int DataSize);
    void DecodeBuffer(const void *Source, void *Dest, int DataSize);

protected:
    TEncrypt(int ABlockSize, int AMaxKeySize, int AContextSize);

    // The cipher's key schedule from Size (1..MaxKeySize) bytes of Key.
    virtual void SetupKey(const quint8 *Key, int Size) = 0;

    quint8 *Context() { return reinterpret_cast<quint8 *>(m_Context.get()); }
    quint32 *ContextWords() { return m_Context.get(); }

private:
    void CheckInitialized() const;
    void Process(const void *Source, void *Dest, int DataSize, bool Encode);

    quint8 m_Mode = 0;
    std::unique_ptr<THash> m_Hash;
    THashClass m_HashClass;
    int m_MaxKeySize = 0;
    int m_BlockSize = 0;
    int m_ContextSize = 0;
    std::unique_ptr<quint8[]> m_Buffer;
    std::unique_ptr<quint8[]> m_Iv;
    std::unique_ptr<quint8[]> m_Feedback;
    std::unique_ptr<quint32[]> m_Context;
    quint32 m_Flags = 0;
};

using TEncryptClass = TClassRef<TEncrypt>;

// Offers a cipher to the database engine as an encryption plug-in.
class TEncAlgo_Base : public TEncryptAlgo
{
public:
    TEncAlgo_Base(QObject *AOwner, TEncrypt *ACipher);
    ~TEncAlgo_Base() override;

    TEncrypt *Cipher() const { return m_Cipher.get(); }

    void SetMode(quint8 Mode) override;
    quint8 GetMode() const override;
    void InitKey(const QString &Password) override;
    void Reset() override;
    void EncodeBuffer(const void *Source, void *Dest, int DataSize) override;
    void DecodeBuffer(const void *Source, void *Dest, int DataSize) override;

    virtual TEncryptClass CipherClass() const = 0;

private:
    std::unique_ptr<TEncrypt> m_Cipher;
};

// The descendants' constructor: TEncAlgo_X(QObject *AOwner) : TEncAlgo_Base(AOwner, new TEnc_X) {}
