#pragma once

#include <QString>

namespace platform::shell {

// Asks the desktop's file manager, through its D-Bus interface (org.freedesktop.FileManager1 on
// the session bus), to show a file selected in its folder, or to open the file's properties
// window. False when no file manager provides the interface or the call fails; nothing else
// is tried here. Only the running user's own session bus is asked (system::SessionBusAddress),
// or none; only an absolute path is shown.
bool FileManagerShowItem(const QString &Path);
bool FileManagerShowItemProperties(const QString &Path);

// The folder that holds `Path` (the path itself for a folder); empty for a path that does
// not exist or is not absolute.
QString ContainingFolder(const QString &Path);

// Shows the file in the file manager; where no file manager answers, opens its folder with
// the default program. False when neither could be done. These look at the file and wait for the
// bus and the file manager, each of which can keep them waiting: never on the window's thread.
bool ShowItemInFileManager(const QString &Path);
// The file's properties window; likewise falls back to opening its folder.
bool ShowItemProperties(const QString &Path);

} // namespace platform::shell
