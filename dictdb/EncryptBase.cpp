#include "dictdb/EncryptBase.h"

#include "dictdb/Hash_SHA.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr quint32 FlagKeyed = 0;
constexpr quint32 FlagInitialized = 9;
constexpr int MaxBlockSize = 16;

inline void XorInto(quint8 *Dest, const quint8 *Source, int Count)
{
    for (int i = 0; i < Count; ++i)
        Dest[i] ^= Source[i];
}

} // namespace

// ---- TEncrypt ----

TEncrypt::TEncrypt(int ABlockSize, int AMaxKeySize, int AContextSize)
    : m_hashClass(HashClassOf<THash_SHA>()), m_maxKeySize(AMaxKeySize),
      m_blockSize(std::clamp(ABlockSize, 1, MaxBlockSize)), m_contextSize(AContextSize),
      m_buffer(new quint8[size_t(m_blockSize)]()), m_iv(new quint8[size_t(m_blockSize)]()),
      m_feedback(new quint8[size_t(m_blockSize)]()), m_context(new quint32[size_t((AContextSize + 3) / 4 + 1)]())
{
    TEncrypt::Wipe();
}

TEncrypt::~TEncrypt()
{
    TEncrypt::Wipe();
    if (m_hash && m_hash->DigestData())
        std::memset(m_hash->DigestData(), 0, size_t(m_hash->DigestSize()));
}

void TEncrypt::SetMode(quint8 Value)
{
    // Modes beyond 4 would process nothing and so store the data in plain text.
    if (Value > 4)
        throw EEncryptException(
            dataaccess::Format(QStringLiteral("%s does not support the chaining mode %d"), ClassName(), int(Value)),
            errEncryptInvalidMode);
    m_mode = Value;
}

void TEncrypt::SetHashClass(const THashClass &Value)
{
    if (m_hashClass == Value)
        return;
    m_hashClass = Value;
    m_hash.reset();
}

void TEncrypt::SetFlag(int Index, bool Value)
{
    if (Index < 0 || Index > 31)
        return;
    if (Value)
        m_flags |= (1u << Index);
    else
        m_flags &= ~(1u << Index);
}

void TEncrypt::Wipe()
{
    SetFlag(FlagKeyed, false);
    SetFlag(FlagInitialized, false);
    std::memset(m_iv.get(), 0xFF, size_t(m_blockSize));
    std::memset(m_feedback.get(), 0xFF, size_t(m_blockSize));
    std::memset(m_buffer.get(), 0, size_t(m_blockSize));
    std::memset(m_context.get(), 0, size_t((m_contextSize + 3) / 4 + 1) * sizeof(quint32));
}

void TEncrypt::ResetFeedback()
{
    std::memcpy(m_feedback.get(), m_iv.get(), size_t(m_blockSize));
}

void TEncrypt::Init(const void *Key, int Size, const void *IVector)
{
    SetFlag(FlagInitialized, false);
    Wipe();
    if (Size < 0)
        Size = 0;
    if (Size > m_maxKeySize)
        Size = m_maxKeySize;
    // An empty key would leave the cipher keyed with nothing at all.
    if (Size == 0 || !Key)
        throw EEncryptException(dataaccess::Format(QStringLiteral("%s needs a key of at least one byte"), ClassName()),
                                errEncryptEmptyKey);
    SetupKey(static_cast<const quint8 *>(Key), Size);
    if (IVector)
        std::memcpy(m_iv.get(), IVector, size_t(m_blockSize));
    else
        EncryptBlock(m_iv.get());
    ResetFeedback();
    SetFlag(FlagInitialized, true);
}

void TEncrypt::InitKey(const QString &Key, const void *IVector)
{
    if (m_hashClass.IsNull())
        m_hashClass = HashClassOf<THash_SHA>();
    if (!m_hash)
        m_hash.reset(m_hashClass.Create());
    // Only Length(Key) bytes of the UTF-16LE text count: stored keys were made that way.
    QByteArray bytes(Key.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < Key.size(); ++i)
        qToLittleEndian<quint16>(Key.at(i).unicode(), bytes.data() + 2 * i);
    m_hash->Init();
    m_hash->Update(bytes.constData(), int(Key.size()));
    m_hash->Final();
    auto *digest = static_cast<quint8 *>(m_hash->DigestData());
    const int n = std::min(m_hash->DigestSize(), m_maxKeySize);
    Init(digest, n, IVector);
    // The digest is the key: overwrite it so that it does not linger in the hash object.
    EncodeBuffer(digest, digest, m_hash->DigestSize());
    ResetFeedback();
    SetFlag(FlagKeyed, true);
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
    if (m_mode > 4)
        throw EEncryptException(
            dataaccess::Format(QStringLiteral("%s does not support the chaining mode %d"), ClassName(), int(m_mode)),
            errEncryptInvalidMode);
    if (!Source || !Dest || DataSize <= 0)
        return;
    const auto *src = static_cast<const quint8 *>(Source);
    auto *dst = static_cast<quint8 *>(Dest);
    const int b = m_blockSize;
    quint8 *fb = m_feedback.get();
    quint8 *buf = m_buffer.get();
    quint8 in[MaxBlockSize];
    quint8 key[MaxBlockSize];
    int n = DataSize;

    auto tailWithFeedbackKey = [&](bool UpdateFeedback) {
        std::memcpy(key, fb, size_t(b));
        EncryptBlock(key);
        for (int i = 0; i < n; ++i)
            dst[i] = quint8(src[i] ^ key[i]);
        if (UpdateFeedback)
            XorInto(fb, key, b);
    };

    switch (m_mode) {
    case 0:
    case 1:
        for (; n >= b; n -= b, src += b, dst += b) {
            std::memcpy(in, src, size_t(b));
            std::memcpy(buf, in, size_t(b));
            if (Encode) {
                XorInto(buf, fb, b);
                EncryptBlock(buf);
                std::memcpy(dst, buf, size_t(b));
                if (m_mode == 0)
                    XorInto(fb, buf, b);
                else
                    std::memcpy(fb, buf, size_t(b));
            } else {
                DecryptBlock(buf);
                XorInto(buf, fb, b);
                std::memcpy(dst, buf, size_t(b));
                if (m_mode == 0)
                    XorInto(fb, in, b);
                else
                    std::memcpy(fb, in, size_t(b));
            }
        }
        if (n > 0)
            tailWithFeedbackKey(m_mode == 0);
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
            if (m_mode == 3)
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

TEncAlgo_Base::TEncAlgo_Base(QObject *AOwner, TEncrypt *ACipher) : TEncryptAlgo(AOwner), m_cipher(ACipher) {}

TEncAlgo_Base::~TEncAlgo_Base() = default;

void TEncAlgo_Base::SetMode(quint8 Mode)
{
    m_cipher->SetMode(Mode);
}

quint8 TEncAlgo_Base::GetMode() const
{
    return m_cipher->Mode();
}

void TEncAlgo_Base::InitKey(const QString &Password)
{
    m_cipher->InitKey(Password, nullptr);
}

void TEncAlgo_Base::Reset()
{
    m_cipher->ResetFeedback();
}

void TEncAlgo_Base::EncodeBuffer(const void *Source, void *Dest, int DataSize)
{
    m_cipher->EncodeBuffer(Source, Dest, DataSize);
}

void TEncAlgo_Base::DecodeBuffer(const void *Source, void *Dest, int DataSize)
{
    m_cipher->DecodeBuffer(Source, Dest, DataSize);
}
