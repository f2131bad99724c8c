#include "dictdb/DictDBTypes.h"

#include <cstring>

namespace dictdb {

int Utf8CutLength(const char *Data, int Length, int MaxBytes)
{
    if (Length <= MaxBytes)
        return Length < 0 ? 0 : Length;
    int n = MaxBytes < 0 ? 0 : MaxBytes;
    // Step back over continuation bytes so that the cut falls before a lead byte.
    while (n > 0 && (quint8(Data[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

QString SlotText(const char *Slot, int Size)
{
    if (Size <= 0)
        return QString();
    const void *nul = std::memchr(Slot, 0, size_t(Size));
    const int len = nul ? int(static_cast<const char *>(nul) - Slot) : Size;
    return QString::fromUtf8(Slot, len);
}

void SetSlotText(char *Slot, int Size, const QString &Text)
{
    if (Size <= 0)
        return;
    const QByteArray bytes = Text.toUtf8();
    const int n = Utf8CutLength(bytes.constData(), int(bytes.size()), Size - 1);
    std::memset(Slot, 0, size_t(Size));
    std::memcpy(Slot, bytes.constData(), size_t(n));
}

} // namespace dictdb
