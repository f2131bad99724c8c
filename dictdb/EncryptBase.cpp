#include "dictdb/EncryptBase.h"

#include "dictdb/Hash_SHA.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr quint32 kFlagKeyed = 0;
constexpr quint32 kFlagInitialized = 9;
constexpr int kMaxBlockSize = 16;

inline void XorInto(quint8 *Dest, const quint8 *Source, int Count)
{
    for (int i = 0; i < Count; ++i)
        Dest[i] ^= Source[i];
}

} // namespace

// ---- TEncrypt ----

TEncrypt::TEncrypt(int ABlockSize, int AMaxKeySize, int AContextSize)
    : m_HashClass(HashClassOf<THash_SHA>()), m_MaxKeySize(AMaxKeySize),
      m_BlockSize(std::clamp(ABlockSize, 1, kMaxBlockSize)), m_ContextSize(AContextSize),
      m_Buffer(new quint8[size_t(m_BlockSize)]()), m_Iv(new quint8[size_t(m_BlockSize)]()),
      m_Feedback(new quint8[size_t(m_BlockSize)]()), m_Context(new quint32[size_t((AContextSize + 3) / 4 + 1)]())
{
    TEncrypt::Wipe();
}

TEncrypt::~TEncrypt()
{
    TEncrypt::Wipe();
    if (m_Hash && m_Hash->DigestData())
        std::memset(m_Hash->DigestData(), 0, size_t(m_Hash->DigestSize()));
}

void TEncrypt::SetMode(quint8 Value)
{
    // Modes beyond 4 would process nothing and so store the data in plain text.
    if (Value > 4)
        throw EEncryptException(
            dataaccess::Format(QStringLiteral("%s does not support the chaining mode %d"), ClassName(), int(Value)),
            errEncryptInvalidMode);
    m_Mode = Value;
}

void TEncrypt::SetHashClass(const THashClass &Value)
{
    if (m_HashClass == Value)
        return;
    m_HashClass = Value;
    m_Hash.reset();
}

void TEncrypt::SetFlag(int Index, bool Value)
{
    if (Index < 0 || Index > 31)
        return;
    if (Value)
        m_Flags |= (1u << Index);
    else
        m_Flags &= ~(1u << Index);
}

void TEncrypt::Wipe()
{
    SetFlag(kFlagKeyed, false);
    SetFlag(kFlagInitialized, false);
    std::memset(m_Iv.get(), 0xFF, size_t(m_BlockSize));
    std::memset(m_Feedback.get(), 0xFF, size_t(m_BlockSize));
    std::memset(m_Buffer.get(), 0, size_t(m_BlockSize));
    std::memset(m_Context.get(), 0, size_t((m_ContextSize + 3) / 4 + 1) * sizeof(quint32));
}

void TEncrypt::ResetFeedback()
{
    std::memcpy(m_Feedback.get(), m_Iv.get(), size_t(m_BlockSize));
}

void TEncrypt::Init(const void *Key, int Size, const void *IVector)
{
    SetFlag(kFlagInitialized, false);
    Wipe();
    if (Size < 0)
        Size = 0;
    if (Size > m_MaxKeySize)
        Size = m_MaxKeySize;
    // An empty key would leave the cipher keyed with nothing at all.
    if (Size == 0 || !Key)
        throw EEncryptException(dataaccess::Format(QStringLiteral("%s needs a key of at least one byte"), ClassName()),
                                errEncryptEmptyKey);
    SetupKey(static_cast<const quint8 *>(Key), Size);
    if (IVector)
        std::memcpy(m_Iv.get(), IVector, size_t(m_BlockSize));
    else
        EncryptBlock(m_Iv.get());
    ResetFeedback();
    SetFlag(kFlagInitialized, true);
}

void TEncrypt::InitKey(const QString &Key, const void *IVector)
{
    if (m_HashClass.IsNull())
        m_HashClass = HashClassOf<THash_SHA>();
    if (!m_Hash)
        m_Hash.reset(m_HashClass.Create());
    // Only Length(Key) bytes of the UTF-16LE text count: stored keys were made that way.
    QByteArray bytes(Key.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < Key.size(); ++i)
        qToLittleEndian<quint16>(Key.at(i).unicode(), bytes.data() + 2 * i);
    m_Hash->Init();
    m_Hash->Update(bytes.constData(), int(Key.size()));
    m_Hash->Final();
    auto *digest = static_cast<quint8 *>(m_Hash->DigestData());
    const int n = std::min(m_Hash->DigestSize(), m_MaxKeySize);
    Init(digest, n, IVector);
    // The digest is the key: overwrite it so that it does not linger in the hash object.
    EncodeBuffer(digest, digest, m_Hash->DigestSize());
    ResetFeedback();
    SetFlag(kFlagKeyed, true);
}

void TEncrypt::CheckInitialized() const
{
    if (!Initialized())
        throw EEncryptException(
            dataaccess::Format(QStringLiteral("%s is not initialized call Init() or InitKey() before."), ClassName()),
            errEncryptNotInitialized);
}

void TEncrypt::EncodeBuffer(const void *Source, void *Dest, int DataSize)
{
    Process(Source, Dest, DataSize, true);
}

void TEncrypt::DecodeBuffer(const void *Source, void *Dest, int DataSize)
{
    Process(Source, Dest, DataSize, false);
}

void TEncrypt::Process(const void *Source, void *Dest, int DataSize, bool Encode)
{
    CheckInitialized();
    if (m_Mode > 4)
        throw EEncryptException(
            dataaccess::Format(QStringLiteral("%s does not support the chaining mode %d"), ClassName(), int(m_Mode)),
            errEncryptInvalidMode);
    if (!Source || !Dest || DataSize <= 0)
        return;
    const auto *src = static_cast<const quint8 *>(Source);
    auto *dst = static_cast<quint8 *>(Dest);
    const int b = m_BlockSize;
    quint8 *fb = m_Feedback.get();
    quint8 *buf = m_Buffer.get();
    quint8 in[kMaxBlockSize];
    quint8 key[kMaxBlockSize];
    int n = DataSize;

    auto tailWithFeedbackKey = [&](bool UpdateFeedback) {
        std::memcpy(key, fb, size_t(b));
        EncryptBlock(key);
        for (int i = 0; i < n; ++i)
            dst[i] = quint8(src[i] ^ key[i]);
        if (UpdateFeedback)
            XorInto(fb, key, b);
    };

    switch (m_Mode) {
    case 0:
    case 1:
        for (; n >= b; n -= b, src += b, dst += b) {
            std::memcpy(in, src, size_t(b));
            std::memcpy(buf, in, size_t(b));
            if (Encode) {
                XorInto(buf, fb, b);
                EncryptBlock(buf);
                std::memcpy(dst, buf, size_t(b));
                if (m_Mode == 0)
                    XorInto(fb, buf, b);
                else
                    std::memcpy(fb, buf, size_t(b));
            } else {
                DecryptBlock(buf);
                XorInto(buf, fb, b);
                std::memcpy(dst, buf, size_t(b));
                if (m_Mode == 0)
                    XorInto(fb, in, b);
                else
                    std::memcpy(fb, in, size_t(b));
            }
        }
        if (n > 0)
            tailWithFeedbackKey(m_Mode == 0);
        break;
    case 2:
    case 3:
        for (int i = 0; i < n; ++i) {
            std::memcpy(key, fb, size_t(b));
            EncryptBlock(key);
            const quint8 inByte = src[i];
            const quint8 outByte = quint8(inByte ^ key[0]);
            dst[i] = outByte;
            std::memmove(fb, fb + 1, size_t(b - 1));
            if (m_Mode == 3)
                fb[b - 1] = key[0];
            else
                fb[b - 1] = Encode ? outByte : inByte;
        }
        break;
    case 4:
        for (; n >= b; n -= b, src += b, dst += b) {
            std::memcpy(buf, src, size_t(b));
            if (Encode)
                EncryptBlock(buf);
            else
                DecryptBlock(buf);
            std::memcpy(dst, buf, size_t(b));
        }
        if (n > 0 && dst != src)
            std::memmove(dst, src, size_t(n));
        break;
    default:
        break;
    }
    std::memset(buf, 0, size_t(b));
    std::memset(key, 0, sizeof(key));
    std::memset(in, 0, sizeof(in));
}

// ---- TEncAlgo_Base ----

TEncAlgo_Base::TEncAlgo_Base(QObject *AOwner, TEncrypt *ACipher) : TEncryptAlgo(AOwner), m_Cipher(ACipher) {}

TEncAlgo_Base::~TEncAlgo_Base() = default;

void TEncAlgo_Base::SetMode(quint8 Mode)
{
    m_Cipher->SetMode(Mode);
}

quint8 TEncAlgo_Base::GetMode() const
{
    return m_Cipher->Mode();
}

void TEncAlgo_Base::InitKey(const QString &Password)
{
    m_Cipher->InitKey(Password, nullptr);
}

void TEncAlgo_Base::Reset()
{
    m_Cipher->ResetFeedback();
}

void TEncAlgo_Base::EncodeBuffer(const void *Source, void *Dest, int DataSize)
{
    m_Cipher->EncodeBuffer(Source, Dest, DataSize);
}

void TEncAlgo_Base::DecodeBuffer(const void *Source, void *Dest, int DataSize)
{
    m_Cipher->DecodeBuffer(Source, Dest, DataSize);
}
