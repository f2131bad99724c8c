#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QPixmap>
#include <QString>

// Decodes a PNG file's bytes (the skins' decoder); a damaged, truncated or oversized file gives a
// null image.
QImage DecodePng(const QByteArray &Data);

// PNG bytes embedded in the program as a pixmap; null when there are none or they are damaged.
QPixmap PngPixmap(QByteArrayView Data);

// A picture embedded in the program (resources/pictures/png/<Name>.png); null when missing.
QPixmap LoadPicture(const QString &Name);
