#include "platform/files/SystemImageList.h"

#include <QHash>
#include <QList>

#include <mutex>

namespace platform::files {

namespace {

struct ImageList
{
    std::mutex Mutex;
    QHash<QString, int> Indexes;
    QList<QString> Names;
};

ImageList &Images()
{
    static ImageList list;
    return list;
}

} // namespace

int SystemImageIndex(const QString &IconName)
{
    if (IconName.isEmpty())
        return -1;
    ImageList &list = Images();
    std::lock_guard<std::mutex> lock(list.Mutex);
    const auto it = list.Indexes.constFind(IconName);
    if (it != list.Indexes.cend())
        return it.value();
    const int index = int(list.Names.size());
    list.Names.append(IconName);
    list.Indexes.insert(IconName, index);
    return index;
}

QString SystemImageName(int Index)
{
    ImageList &list = Images();
    std::lock_guard<std::mutex> lock(list.Mutex);
    if (Index < 0 || Index >= list.Names.size())
        return QString();
    return list.Names.at(Index);
}

} // namespace platform::files
