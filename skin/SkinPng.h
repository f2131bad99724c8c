#pragma once

#include <QByteArrayView>
#include <QImage>

// Decodes PNG bytes with libpng into a 32-bit image; a damaged, truncated or oversized picture
// gives a null image.
QImage DecodeSkinPng(QByteArrayView Data);
