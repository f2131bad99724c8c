#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform::files {

// Names the system keeps as bytes (a file's or a process's name, a path, a command line, a desktop
// entry's values) as text: UTF-8, where each byte that is not part of a whole UTF-8 character
// becomes the lone surrogate U+DC80 + (byte - 0x80), instead of the replacement character. So two
// names that differ stay different, the window can show such a byte as its code, and the bytes can
// be had back (EncodeNameBytes).
QString DecodeNameBytes(QByteArrayView Bytes);
// The bytes DecodeNameBytes read `Text` from: UTF-8, and each lone surrogate U+DC80 to U+DCFF as
// the byte it stands for.
QByteArray EncodeNameBytes(QStringView Text);

// Whether `C`, when it is not the low half of a surrogate pair, stands for a byte that was not
// UTF-8, and which (0x80 to 0xFF).
constexpr bool IsNameByte(char16_t C)
{
    return C >= 0xDC80 && C <= 0xDCFF;
}
constexpr unsigned char NameByte(char16_t C)
{
    return static_cast<unsigned char>(C - 0xDC00);
}

} // namespace platform::files
