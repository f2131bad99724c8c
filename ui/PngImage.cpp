#include "ui/PngImage.h"

#include "skin/SkinPng.h"

QImage DecodePng(const QByteArray &Data)
{
    return DecodeSkinPng(QByteArrayView(Data));
}

QPixmap PngPixmap(QByteArrayView Data)
{
    if (Data.isEmpty())
        return {};
    const QImage img = DecodeSkinPng(Data);
    return img.isNull() ? QPixmap() : QPixmap::fromImage(img);
}

QPixmap LoadPicture(const QString &Name)
{
    return PngPixmap(EmbeddedPng(u":/pictures/", Name));
}
