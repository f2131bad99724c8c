#include "platform/files/OwnerOnly.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {

bool OnlyOwnerMayChange(const FileStatus &Status, quint32 Owner)
{
    return Status.OwnerUid == Owner && (Status.Mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsTrustedOwner(quint32 Uid)
{
    return Uid == ::geteuid() || Uid == 0;
}

bool OnlyTrustedOwnerMayChange(const FileStatus &Status)
{
    return IsTrustedOwner(Status.OwnerUid) && OnlyOwnerMayChange(Status, Status.OwnerUid);
}

bool OnlyOwnerMayEnter(const FileStatus &Status, quint32 Owner)
{
    return Status.Kind == FileKind::Directory && Status.OwnerUid == Owner && (Status.Mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool IsFolderOnlyOwnerMayChange(int Fd, quint32 Owner)
{
    FileStatus status;
    return StatHandle(Fd, status) && status.Kind == FileKind::Directory && OnlyOwnerMayChange(status, Owner);
}

bool IsFolderOnlyOwnerMayEnter(int Fd, quint32 Owner)
{
    FileStatus status;
    return StatHandle(Fd, status) && OnlyOwnerMayEnter(status, Owner);
}

} // namespace platform::files
