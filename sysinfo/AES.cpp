#include "sysinfo/AES.h"

#include "platform/crypto/Aes.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <optional>

namespace {

constexpr int kBlockSize = 16;

// The pass phrase's UTF-16 little-endian bytes, as many as fit into a zeroed key of KeySize bytes.
QByteArray MakeKey(const QString &PassPhrase, int KeySize)
{
    QByteArray key(KeySize, '\0');
    const int chars = int(std::min<qsizetype>(PassPhrase.size(), (KeySize + 1) / 2));
    for (int i = 0; i < chars; ++i) {
        const char16_t c = PassPhrase.at(i).unicode();
        if (2 * i < KeySize)
            key[2 * qsizetype(i)] = char(c & 0xFF);
        if (2 * i + 1 < KeySize)
            key[2 * i + 1] = char(c >> 8);
    }
    return key;
}

// A piece of one to sixteen hexadecimal digits as an unsigned 64-bit number.
std::optional<quint64> ParseHexPiece(QStringView Piece)
{
    if (Piece.isEmpty() || Piece.size() > 16)
        return std::nullopt;
    quint64 value = 0;
    for (QChar ch : Piece) {
        const char16_t c = ch.unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        value = (value << 4) | quint64(digit);
    }
    return value;
}

// Dest's bytes read as UTF-16 little-endian text up to the first zero character. Any
// sequence of code units is acceptable to QString, so garbage cannot upset the conversion.
QString Utf16UpToZero(const QByteArray &Bytes)
{
    QString text;
    const qsizetype units = Bytes.size() / 2;
    text.reserve(units);
    const auto *p = reinterpret_cast<const uchar *>(Bytes.constData());
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t c = qFromLittleEndian<quint16>(p + 2 * i);
        if (c == 0)
            break;
        text.append(QChar(c));
    }
    return text;
}

} // namespace

quint8 TAES::GetKeySize(const QString &PassPhrase)
{
    const qint64 l = qint64(PassPhrase.size()) * 2;
    if (l <= 16)
        return 16;
    if (l <= 24)
        return 24;
    return 32;
}

void TAES::DecryptStream(TStream *Source, TStream *Dest, const QString &PassPhrase, qint64 Count, quint8 KeySize)
{
    if (KeySize == 0)
        KeySize = GetKeySize(PassPhrase);
    if (KeySize != 16 && KeySize != 24 && KeySize != 32)
        return;
    if (!Source || !Dest)
        throw EReadError(QString::fromLatin1(dataaccess::msg::kSReadError));

    platform::crypto::AesDecryptor aes;
    const QByteArray key = MakeKey(PassPhrase, KeySize);
    if (!aes.SetKey(reinterpret_cast<const std::uint8_t *>(key.constData()), std::size_t(key.size())))
        throw EAESError(QStringLiteral("AES key set-up failed"));

    if (Count != 0) {
        Count = std::min(Count, std::max<qint64>(0, Source->Size() - Source->Position()));
    } else {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    if (Count <= 0)
        return;
    if (Count % kBlockSize != 0)
        throw EAESError(QStringLiteral("Invalid buffer size for decryption"));

    std::array<std::uint8_t, kBlockSize> block{};
    for (qint64 n = Count / kBlockSize; n > 0; --n) {
        Source->ReadBuffer(block.data(), kBlockSize);
        aes.DecryptBlock(block.data(), block.data());
        Dest->WriteBuffer(block.data(), kBlockSize);
    }
}

void TAES::DecryptHexString(const QString &HexText, const QString &PassPhrase, quint8 KeySize, QString &PlainText)
{
    PlainText.clear();
    try {
        QByteArray sourceBytes;
        const qsizetype len = HexText.size();
        // Pieces start at (1-based) positions 1, 17, 33...; the first is always taken, a later
        // one only while its start lies below the text's length.
        for (qsizetype start = 0; start < len; start += 16) {
            if (start > 0 && start + 1 >= len)
                break;
            const auto value = ParseHexPiece(QStringView(HexText).mid(start, 16));
            if (!value)
                return;
            char le[8];
            qToLittleEndian<quint64>(*value, le);
            sourceBytes.append(le, 8);
        }

        TMemoryStream source;
        source.WriteBuffer(sourceBytes.constData(), sourceBytes.size());
        TMemoryStream dest;
        DecryptStream(&source, &dest, PassPhrase, 0, KeySize);
        const char zero[2] = {0, 0};
        dest.WriteBuffer(zero, 2);
        PlainText = Utf16UpToZero(QByteArray::fromRawData(static_cast<const char *>(dest.Memory()), dest.Size()));
    } catch (...) {
        // Never raises: whatever goes wrong (a bad digit, a size that is not whole blocks)
        // gives an empty text.
        PlainText.clear();
    }
}
