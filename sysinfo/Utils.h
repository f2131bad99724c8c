#pragma once

#include "platform/files/DesktopEntryFile.h"
#include "platform/files/SystemTime.h"

#include <QString>
#include <QStringList>

// Routines shared by the system information components, the main window and the
// dictionary access. None shows anything; failure is an empty text, False or 0.

// A moment as 100-nanosecond intervals since 1601-01-01 UTC, in two 32-bit halves.
struct FILETIME
{
    quint32 DwLowDateTime = 0;
    quint32 DwHighDateTime = 0;
};

FILETIME FileTimeFromUnix(qint64 Seconds, quint32 Nanoseconds);

// Special folders by their customary numbers (only the low 7 bits count).
constexpr int CSIDL_STARTUP = 0x0007;
constexpr int CSIDL_COMMON_STARTUP = 0x0018;

// Paths and files.
void GetSystemDir(QString &Path);
void GetAppPath(QString &Path);
void GetSpecialFolder(int Folder, QString &Path);
void ExtractFileNameNoExt(const QString &FileName, QString &Name);
int ListFiles(QStringList &List, const QString &Dir, const QString &Mask, const QStringList *Exclude);
void GetFileVersion(const QString &FileName, QString &Version);
void ShellOpen(const QString &Target);
// Written files live in the user's data directory; earlier versions kept their backups in
// "Backup/" of the program directory. When the user has no file `NewFile` yet and the program
// directory holds one of the same name that belongs to this user, it is copied over once (the
// user's folders made private first). Another user's file is never taken.
bool AdoptOldBackup(const QString &ProgramDir, const QString &NewFile);

// Command lines.
void ParseCommandLine(const QString &Text, quint8 Part, QString &Result);
// The file a program named in a command line stands for: an absolute path as it is, a bare name
// as the session finds it on the search path. Empty for an empty name, a bare name found nowhere
// and a relative path, which would be looked up in the working folder of whoever started us.
QString ProgramFileOf(const QString &Program);

// Privileges of the program's own process (`Process` 0, or its own identifier).
bool EnablePrivilege(const QString &PrivilegeName, qint32 Process = 0);

// Handles (file descriptors here; below 0 means none) and times.
void CloseHandleAndZero(int &Handle);
int GetTimeSpan(const SYSTEMTIME &FromTime, const SYSTEMTIME &ToTime, SYSTEMTIME &Span);
int GetFileTimeSpan(const FILETIME &FromTime, const FILETIME &ToTime, SYSTEMTIME &Span);

// Shortcuts are desktop entries (".desktop" files).
bool CreateShortcut(const QString &Target, const QString &LinkFile, const QString &Arguments,
                    const QString &Description);
void ReadShortcut(const QString &LinkFile, QString &Command);
// The command line of a desktop entry that has been read.
QString ShortcutCommand(const platform::files::DesktopEntryInfo &Entry);

// Registry values under a key given as text ("HKEY_CURRENT_USER\Software\…").
quint32 RootKeyFromName(const QString &Name);
void SplitRegistryPath(const QString &Path, QString &RootName, QString &SubKey);
void ReadRegistryString(const QString &Path, const QString &ValueName, QString &Value);
bool WriteRegistryString(const QString &Path, const QString &ValueName, const QString &Value, bool CanCreate);
int ListRegistryValues(const QString &Path, QStringList &Names);
bool DeleteRegistryValue(const QString &Path, const QString &ValueName);
