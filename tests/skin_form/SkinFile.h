#pragma once

// Writes small skin files for the tests: a table of named values packed into an "SK" archive.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <vector>

namespace sftest {

struct SkinValue
{
    QByteArray Name;
    quint8 Type = 1; // 0 bitmap, 1 integer, 2 Boolean
    QByteArray Data;
};

SkinValue SkinBitmap(const QByteArray &Name, const QImage &Image);
SkinValue SkinInteger(const QByteArray &Name, qint32 Value);
SkinValue SkinBool(const QByteArray &Name, bool Value);

// Writes the archive to Path; false when it cannot be written.
bool WriteSkinFile(const QString &Path, const std::vector<SkinValue> &Values);

} // namespace sftest
