#pragma once

#include "platform/files/FolderNoFollow.h"
#include "platform/system/TestSeams.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace platform::shell {

// Opens an address, or a document or folder given by its absolute path, with the user's default
// program (xdg-open, found as processes::FindProgram finds it), detached: no shell, nothing
// waited for, no zombie left behind. It gets the program's own environment, which holds the
// running user's own folders and session bus whoever started the program (see
// system::SettleEnvironment). False when it cannot be started, and for a target that begins with
// a dash.
bool OpenWithDefaultProgram(const QString &Target);

// The user's own folders follow one rule: the folder the environment names ($XDG_CONFIG_HOME,
// $XDG_DATA_HOME, else the one in $HOME) when it, and the home it lies in, belong to the running
// user and nobody else can change the way to it; else the same folder in the running user's home
// from the account database (as after "sudo -E", so that one user's files never steer another's
// program). No trailing slash; empty when no home can be found. Nothing is created here.
QString UserConfigDir();

// The Startup folders: <user config folder>/autostart for the current user; for all users, the
// first folder of $XDG_CONFIG_DIRS that only root or the running user can change
// (files::IsTrustedFolder; one not made yet counts when the way to it is trusted), else
// /etc/xdg, plus /autostart. No trailing slash.
QString UserAutostartDir();
QString AllUsersAutostartDir();

// The user's own folder for what the program writes, with a trailing slash: taskvane/ in the user's
// data folder (see UserConfigDir). Empty when no home can be found, and when the folder exists but
// is not the user's alone (another's, writable by others, a link): then there is no data folder.
QString UserDataDir();
// Creates `Dir` and every missing folder above it with mode 0700 (whatever the umask). True when
// `Dir` is afterwards a folder the running user owns and nobody else may write, reached by a path
// no one else can change (see platform::files::OwnFolder).
bool MakePrivateDirs(const QString &Dir);
// The folders the files shipped with the program are read from, in this order: the program's own
// folder and <program folder>/../share/taskvane/, so that an install under any prefix finds its
// data. Each with a trailing slash; empty for an empty program folder.
QStringList ProgramDataDirs(const QString &ProgramDir);

// Writes a desktop entry that starts `Program` with `Arguments` (the shortcut of this
// system). Every field is written with the Desktop Entry quoting and escaping rules; a
// newline or another control character in any field is refused (false, nothing written).
// The file is replaced atomically.
bool WriteShortcut(const QString &File, const QString &Program, const QStringList &Arguments, const QString &WorkingDir,
                   const QString &Description, const QString &Name);

// The Exec value for `Words`, quoted and escaped as the standard asks; nullopt when a
// word holds a control character.
std::optional<QString> ExecValue(const QStringList &Words);
// A string value escaped for a desktop entry; nullopt for a control character.
std::optional<QString> EscapeValue(const QString &Value);

// The icon of a program file: the icon name of the desktop entries that run that very file
// (whatever path the caller knows it by), else the generic executable icon; `Index` is its place
// in the process-wide image list. The entries are read once; a file without an icon has them read
// again when their folders changed, and their programs looked at again (an upgrade renames a new
// file over the one an entry names).
struct FileIcon
{
    QString IconName;
    int Index = -1;
};
FileIcon FindFileIcon(const files::FileIdentity &Program);
#if TASKVANE_TEST_SEAMS
// Forgets the desktop entries read for the icons (the next look-up reads them again).
void ResetFileIconCache();
#endif

} // namespace platform::shell
