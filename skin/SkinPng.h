#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QStringView>

// Decodes PNG bytes with libpng into a 32-bit image; a damaged, truncated or oversized picture
// gives a null image.
QImage DecodeSkinPng(QByteArrayView Data);

// The bytes of the picture <Name>.png that the program embeds in the resource folder Folder
// (such as ":/skin/styles/"); empty when there is none. The bytes live as long as the program.
QByteArrayView EmbeddedPng(QStringView Folder, QStringView Name);
