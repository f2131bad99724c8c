#include "platform/files/SystemImageList.h"

#include <QHash>
#include <QList>

#include <mutex>

namespace platform::files {

namespace {

struct ImageList
{
    std::mutex mutex;
    QHash<QString, int> indexes;
    QList<QString> names;
};

ImageList &imageList()
{
    static ImageList list;
    return list;
}

} // namespace

int systemImageIndex(const QString &iconName)
{
    if (iconName.isEmpty())
        return -1;
    ImageList &list = imageList();
    std::lock_guard<std::mutex> lock(list.mutex);
    const auto it = list.indexes.constFind(iconName);
    if (it != list.indexes.cend())
        return it.value();
    const int index = int(list.names.size());
    list.names.append(iconName);
    list.indexes.insert(iconName, index);
    return index;
}

QString systemImageName(int index)
{
    ImageList &list = imageList();
    std::lock_guard<std::mutex> lock(list.mutex);
    if (index < 0 || index >= list.names.size())
        return QString();
    return list.names.at(index);
}

} // namespace platform::files
