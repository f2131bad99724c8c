#include "platform/files/MimeInfo.h"

#include "platform/files/FileStat.h"

#include <QMimeDatabase>
#include <QMimeType>

namespace platform::files {

MimeInfo mimeInfoForFile(const QString &path)
{
    MimeInfo info;
    FileStatus st;
    if (!statFile(path, st))
        return info;
    QMimeDatabase db;
    QMimeType type;
    switch (st.kind) {
    case FileKind::Regular:
        type = db.mimeTypeForFile(path, QMimeDatabase::MatchDefault);
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
    info.name = type.name();
    info.comment = type.comment();
    info.iconName = type.iconName();
    if (info.iconName.isEmpty())
        info.iconName = type.genericIconName();
    return info;
}

} // namespace platform::files
