#include "platform/files/MimeInfo.h"

#include <QMimeDatabase>
#include <QMimeType>

namespace platform::files {

namespace {

MimeInfo InfoOf(const QMimeType &Type)
{
    MimeInfo info;
    if (!Type.isValid())
        return info;
    info.Name = Type.name();
    info.Comment = Type.comment();
    info.IconName = Type.iconName();
    if (info.IconName.isEmpty())
        info.IconName = Type.genericIconName();
    return info;
}

} // namespace

MimeInfo MimeInfoForData(const QString &FileName, const QByteArray &Head)
{
    // The name's last part alone: the glob rules need no more, and no folder is ever looked at.
    const QString name = FileName.section(QLatin1Char('/'), -1);
    return InfoOf(QMimeDatabase().mimeTypeForFileNameAndData(name, Head.left(kMimeHeadSize)));
}

MimeInfo MimeInfoForKind(FileKind Kind)
{
    const char *name = nullptr;
    switch (Kind) {
    case FileKind::Directory:
        name = "inode/directory";
        break;
    case FileKind::CharDevice:
        name = "inode/chardevice";
        break;
    case FileKind::BlockDevice:
        name = "inode/blockdevice";
        break;
    case FileKind::Fifo:
        name = "inode/fifo";
        break;
    case FileKind::Socket:
        name = "inode/socket";
        break;
    default:
        return MimeInfo();
    }
    return InfoOf(QMimeDatabase().mimeTypeForName(QLatin1String(name)));
}

} // namespace platform::files
