#pragma once

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QString>

// Decodes a PNG file's bytes with libpng; a damaged or truncated file gives a null image.
QImage DecodePng(const QByteArray &Data);

// A picture embedded in the program (resources/pictures/png/<Name>.png); null when missing.
QPixmap LoadPicture(const QString &Name);
