#pragma once

#include <QByteArrayView>
#include <QStringView>

namespace skin_menu_pictures {

// The PNG data of the skinned menus' bitmap with this name ("MENU_CHECKED"); empty when there is
// none.
QByteArrayView Find(QStringView Name);

} // namespace skin_menu_pictures
