#include "skin/SkinPng.h"

#include "platform/files/PlainName.h"

#include <QResource>
#include <QString>

#include <png.h>

#include <cstring>

QImage DecodeSkinPng(QByteArrayView Data)
{
    if (Data.size() < 8)
        return {};
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, Data.data(), size_t(Data.size())))
        return {};
    // The style pictures are small strips; anything huge is not one of ours.
    if (image.width == 0 || image.height == 0 || image.width > 4096 || image.height > 4096) {
        png_image_free(&image);
        return {};
    }
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

QByteArrayView EmbeddedPng(QStringView Folder, QStringView Name)
{
    // A name is one file of the folder, never a path into another.
    if (!platform::files::IsPlainName(Name))
        return {};
    const QResource res(Folder.toString() + Name.toString() + QStringLiteral(".png"));
    // Pictures are embedded uncompressed, so that their bytes can be used where they lie.
    if (!res.isValid() || res.compressionAlgorithm() != QResource::NoCompression || !res.data())
        return {};
    return QByteArrayView(res.data(), res.size());
}
