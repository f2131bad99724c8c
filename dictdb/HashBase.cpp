#include "dictdb/HashBase.h"

#include <QByteArray>
#include <QtEndian>

#include <cstring>
#include <memory>

namespace {

int EffectiveSize(const void *Data, int Size)
{
    if (!Data)
        return 0;
    if (Size < 0)
        return int(std::strlen(static_cast<const char *>(Data)));
    return Size;
}

} // namespace

QString HashText(const THashClass &HashClass, void *Digest, const QString &Text)
{
    // Only Length(Text) bytes of the 2 x Length(Text) bytes take part.
    QByteArray bytes(Text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < Text.size(); ++i)
        qToLittleEndian<quint16>(Text.at(i).unicode(), bytes.data() + 2 * i);
    return HashBuffer(HashClass, Digest, bytes.constData(), int(Text.size()));
}

QString HashBuffer(const THashClass &HashClass, void *Digest, const void *Buffer, int Size)
{
    std::unique_ptr<THash> hash(HashClass.Create());
    if (!hash)
        return QString();
    hash->Init();
    hash->Update(Buffer, Size);
    hash->Final();
    QString text = DigestToText(hash.get(), 0);
    if (Digest && hash->DigestData())
        std::memcpy(Digest, hash->DigestData(), size_t(hash->DigestSize()));
    return text;
}

QString DigestToText(THash *Hash, int Format)
{
    if (!Hash)
        return QString();
    if (Format == 16)
        return BytesToHex(Hash->DigestData(), Hash->DigestSize());
    return BytesToBase64(Hash->DigestData(), Hash->DigestSize());
}

QString BytesToHex(const void *Data, int Size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const int n = EffectiveSize(Data, Size);
    const auto *p = static_cast<const quint8 *>(Data);
    QString out;
    out.reserve(2 * qsizetype(n));
    for (int i = 0; i < n; ++i) {
        out.append(QLatin1Char(kDigits[p[i] >> 4]));
        out.append(QLatin1Char(kDigits[p[i] & 0x0F]));
    }
    return out;
}

QString BytesToBase64(const void *Data, int Size)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const int n = EffectiveSize(Data, Size);
    const auto *p = static_cast<const quint8 *>(Data);
    QString out;
    out.reserve((n + 2) / 3 * 4 + 2);
    for (int i = 0; i < n; i += 3) {
        quint32 group = quint32(p[i]) << 16;
        if (i + 1 < n)
            group |= quint32(p[i + 1]) << 8;
        if (i + 2 < n)
            group |= quint32(p[i + 2]);
        for (int part = 0; part < 4; ++part) {
            const int shift = 18 - 6 * part;
            const quint32 unwritten = group & ((quint32(1) << (shift + 6)) - 1);
            if (unwritten == 0)
                break;
            out.append(QLatin1Char(kAlphabet[(group >> shift) & 0x3F]));
        }
    }
    if (n % 3 == 1)
        out.append(QLatin1String("=="));
    else if (n % 3 == 2)
        out.append(QLatin1Char('='));
    return out;
}

void SwapWords(const void *Source, void *Dest, int Count)
{
    if (!Source || !Dest)
        return;
    const auto *src = static_cast<const quint8 *>(Source);
    auto *dst = static_cast<quint8 *>(Dest);
    for (int i = 0; i < Count; ++i) {
        // qbswap compiles to the processor's byte-swap instruction where there is one.
        const quint32 w = qFromUnaligned<quint32>(src + 4 * qsizetype(i));
        qToUnaligned<quint32>(qbswap(w), dst + 4 * qsizetype(i));
    }
}
