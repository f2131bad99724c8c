#pragma once

// The picture sets drawn into resources/pictures/ against what the libraries embed.

#include "skin/SkinPng.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>

namespace tvtest {

// Every PNG file drawn into resources/pictures/<Dir> is embedded in the resource folder Folder
// byte for byte, and decodes (with Decode, given the bytes) to the picture that was drawn. Wrap
// the call in ASSERT_NO_FATAL_FAILURE: a set without files stops the test.
template <typename TDecode>
void ExpectEmbeddedAsDrawn(const char16_t *Folder, const char *Dir, TDecode Decode)
{
    const QDir dir(QStringLiteral(TASKVANE_SOURCE_DIR "/resources/pictures/") + QLatin1String(Dir));
    const QStringList files = dir.entryList({QStringLiteral("*.png")}, QDir::Files);
    ASSERT_FALSE(files.isEmpty()) << Dir;
    for (const QString &file : files) {
        QFile drawn(dir.filePath(file));
        ASSERT_TRUE(drawn.open(QIODevice::ReadOnly));
        const QByteArray bytes = drawn.readAll();
        const QByteArrayView embedded = EmbeddedPng(Folder, file.chopped(4));
        EXPECT_EQ(embedded.toByteArray(), bytes) << qPrintable(file);
        const QImage shown = Decode(embedded);
        EXPECT_FALSE(shown.isNull()) << qPrintable(file);
        EXPECT_EQ(shown, Decode(QByteArrayView(bytes))) << qPrintable(file);
    }
}

} // namespace tvtest
