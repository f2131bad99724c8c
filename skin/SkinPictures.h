#pragma once

#include <QByteArrayView>
#include <QStringView>

namespace skin_pictures {

// The PNG data of the built-in style bitmap with this name ("DEEPBLUE_CHECKBOX"); empty when
// there is none.
QByteArrayView Find(QStringView Name);

} // namespace skin_pictures
