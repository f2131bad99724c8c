#include "platform/files/MimeInfo.h"

#include "platform/files/FileStat.h"

#include <QMimeDatabase>
#include <QMimeType>

namespace platform::files {

MimeInfo MimeInfoForFile(const QString &Path)
{
    MimeInfo info;
    FileStatus st;
    if (!StatFile(Path, st))
        return info;
    QMimeDatabase db;
    QMimeType type;
    switch (st.Kind) {
    case FileKind::Regular:
        type = db.mimeTypeForFile(Path, QMimeDatabase::MatchDefault);
        break;
    case FileKind::Directory:
        type = db.mimeTypeForName(QStringLiteral("inode/directory"));
        break;
    case FileKind::CharDevice:
        type = db.mimeTypeForName(QStringLiteral("inode/chardevice"));
        break;
    case FileKind::BlockDevice:
        type = db.mimeTypeForName(QStringLiteral("inode/blockdevice"));
        break;
    case FileKind::Fifo:
        type = db.mimeTypeForName(QStringLiteral("inode/fifo"));
        break;
    case FileKind::Socket:
        type = db.mimeTypeForName(QStringLiteral("inode/socket"));
        break;
    default:
        break;
    }
    if (!type.isValid())
        return info;
    info.Name = type.name();
    info.Comment = type.comment();
    info.IconName = type.iconName();
    if (info.IconName.isEmpty())
        info.IconName = type.genericIconName();
    return info;
}

} // namespace platform::files
