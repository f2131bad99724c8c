#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <random>

namespace plugintest {

inline QByteArray RandomBytes(int Size, std::uint32_t Seed)
{
    std::mt19937 gen(Seed);
    QByteArray out(Size, Qt::Uninitialized);
    for (int i = 0; i < Size; ++i)
        out[i] = char(gen() & 0xFF);
    return out;
}

inline QString Hex(const void *Data, int Size)
{
    return QString::fromLatin1(QByteArray(static_cast<const char *>(Data), Size).toHex());
}

inline QString Hex(const QByteArray &Data)
{
    return QString::fromLatin1(Data.toHex());
}

} // namespace plugintest
