#pragma once

#include "platform/files/FileStat.h"

namespace platform::files {

// The two ways a place of the file system is one user's alone, each written once here.

// Only `Owner` may change it: it is `Owner`'s, and neither group nor others may write it. Of a
// folder: nobody else can add, rename or remove an entry in it (sticky bit or not), though others
// may still enter it and read it. What the program's data folder, the user's autostart folder, the
// folders code and programs come from and the files read from them are held to.
bool OnlyOwnerMayChange(const FileStatus &Status, quint32 Owner);

// The running user or root: the only owners whose files and folders the user may rely on.
bool IsTrustedOwner(quint32 Uid);
// Only the running user, or root, may change it: OnlyOwnerMayChange of one of the two. What the
// folders code is loaded from, and the files loaded, are held to.
bool OnlyTrustedOwnerMayChange(const FileStatus &Status);

// A folder only `Owner` may enter: a folder of `Owner`'s on which group and others have no
// permission at all, so that nobody else can even reach what lies in it. What the user's session
// folder and the folder of the program's sockets are held to.
bool OnlyOwnerMayEnter(const FileStatus &Status, quint32 Owner);

// The same of the folder held open as `Fd` (a descriptor of any kind); false for anything but a
// folder, or a descriptor that cannot be examined.
bool IsFolderOnlyOwnerMayChange(int Fd, quint32 Owner);
bool IsFolderOnlyOwnerMayEnter(int Fd, quint32 Owner);

} // namespace platform::files
