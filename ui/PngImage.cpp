#include "ui/PngImage.h"

#include <QFile>

#include <png.h>

#include <cstring>
#include <vector>

QImage DecodePng(const QByteArray &Data)
{
    if (Data.size() < 8)
        return {};
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, Data.constData(), size_t(Data.size())))
        return {};
    // Pictures of the forms are small; anything huge is not one of ours.
    if (image.width == 0 || image.height == 0 || image.width > 4096 || image.height > 4096) {
        png_image_free(&image);
        return {};
    }
    // BGRA in memory is Qt's ARGB32 on a little-endian machine, ARGB on a big-endian one.
    image.format = (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    QImage out(int(image.width), int(image.height), QImage::Format_ARGB32);
    if (out.isNull()) {
        png_image_free(&image);
        return {};
    }
    if (!png_image_finish_read(&image, nullptr, out.bits(), png_int_32(out.bytesPerLine()), nullptr)) {
        png_image_free(&image);
        return {};
    }
    return out;
}

QPixmap LoadPicture(const QString &Name)
{
    QFile file(QStringLiteral(":/pictures/") + Name + QStringLiteral(".png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QImage img = DecodePng(file.readAll());
    if (img.isNull())
        return {};
    return QPixmap::fromImage(img);
}
