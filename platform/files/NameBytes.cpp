#include "platform/files/NameBytes.h"

namespace platform::files {

namespace {

// The length of the whole UTF-8 character at the start of `S` (of `N` bytes), and its code point;
// 0 when the bytes there are not one (a lone continuation byte, a cut or overlong sequence, a
// surrogate, a code point beyond U+10FFFF).
int Utf8Character(const unsigned char *S, qsizetype N, char32_t &Code)
{
    const unsigned char b = S[0];
    int length = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        Code = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        Code = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        Code = b & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (N < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((S[i] & 0xC0) != 0x80)
            return 0;
        Code = (Code << 6) | (S[i] & 0x3F);
    }
    if (Code < min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString DecodeNameBytes(QByteArrayView Bytes)
{
    const auto *s = reinterpret_cast<const unsigned char *>(Bytes.data());
    const qsizetype n = Bytes.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        if (s[i] < 0x80) {
            out += QChar(char16_t(s[i]));
            ++i;
            continue;
        }
        char32_t code = 0;
        const int length = Utf8Character(s + i, n - i, code);
        if (length == 0) {
            out += QChar(char16_t(0xDC00 + s[i]));
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            out += QChar(QChar::highSurrogate(code));
            out += QChar(QChar::lowSurrogate(code));
        } else {
            out += QChar(char16_t(code));
        }
        i += length;
    }
    return out;
}

QByteArray EncodeNameBytes(QStringView Text)
{
    QByteArray out;
    out.reserve(Text.size());
    qsizetype from = 0;
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char16_t c = Text.at(i).unicode();
        // The low half of a surrogate pair is a character's, not a byte's.
        if (!IsNameByte(c) || (i > 0 && QChar::isHighSurrogate(Text.at(i - 1).unicode())))
            continue;
        out += Text.mid(from, i - from).toUtf8();
        out += char(NameByte(c));
        from = i + 1;
    }
    out += Text.mid(from).toUtf8();
    return out;
}

} // namespace platform::files
