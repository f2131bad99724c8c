#pragma once

// Writes small skin files for the tests: a table of named values packed into an "SK" archive,
// by the skin tests' writer.

#include "skin/SkinFileBuilder.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <vector>

namespace sftest {

using SkinValue = skintest::Record;

inline SkinValue SkinBitmap(const QByteArray &Name, const QImage &Image)
{
    return skintest::BitmapRecord(Name, Image);
}

inline SkinValue SkinInteger(const QByteArray &Name, qint32 Value)
{
    return skintest::IntegerRecord(Name, Value);
}

inline SkinValue SkinBool(const QByteArray &Name, bool Value)
{
    return skintest::BoolRecord(Name, Value);
}

// Writes the archive to Path; false when it cannot be written.
inline bool WriteSkinFile(const QString &Path, const std::vector<SkinValue> &Values)
{
    return skintest::WriteFile(Path, skintest::BuildArchive(skintest::BuildTable(Values)));
}

} // namespace sftest
