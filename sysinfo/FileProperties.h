#pragma once

#include "platform/files/FileStat.h"
#include "platform/files/FolderNoFollow.h"
#include "platform/files/SystemTime.h"

#include <QObject>
#include <QString>
#include <QStringList>

class TFileProperties;

namespace platform::files {
class RegularFileReader;
}

// Names, sizes, times, icon, type name and attributes of the loaded file.
struct TGeneralInfo
{
    explicit TGeneralInfo(TFileProperties *AOwner) : Owner(AOwner) {}

    TFileProperties *Owner;
    QString Directory; // with its trailing "/"
    QString FileName;
    QString TypeName;
    qint64 Size = 0;
    qint64 SizeOnDisk = 0; // the space the file's blocks really take
    SYSTEMTIME CreationTime;
    SYSTEMTIME LastWriteTime;
    SYSTEMTIME LastAccessTime;
    QString Icon;          // icon name; empty when there is none
    qint32 IconIndex = -1; // index in the system image list; -1 when none
    bool ReadOnly = false;
    bool Hidden = false;
    bool System = false;
    bool Archive = false;
    bool Indexed = false;
    bool Compressed = false;
    bool Encrypted = false;
};

// The version texts of the loaded file.
struct TVersionInfo
{
    explicit TVersionInfo(TFileProperties *AOwner) : Owner(AOwner) {}

    TFileProperties *Owner;
    QString Comments;
    QString CompanyName;
    QString FileDescription;
    QString FileVersion;
    QString InternalName;
    QString LegalCopyright;
    QString LegalTrademarks;
    QString OriginalFilename;
    QString ProductName;
    QString ProductVersion;
    QString PrivateBuild;
    QString SpecialBuild;
};

// The settings of the loaded file when it is a shortcut (a desktop entry).
struct TShortcutInfo
{
    explicit TShortcutInfo(TFileProperties *AOwner) : Owner(AOwner) {}

    TFileProperties *Owner;
    bool IsShortcut = false;
    QString Target;
    QString Arguments;
    QString CommandLine;
    QString WorkingDirectory;
    QString Description;
    QString IconLocation;
    qint32 IconIndex = -1;
    qint32 ShowCmd = 1;
    quint32 Hotkey = 0;
};

// Reads the properties of one file at a time.
class TFileProperties : public QObject
{
public:
    explicit TFileProperties(QObject *AOwner = nullptr);
    ~TFileProperties() override;

    TFileProperties(const TFileProperties &) = delete;
    TFileProperties &operator=(const TFileProperties &) = delete;

    // False only for a file that does not exist (or a folder); every record is cleared first.
    // The file is opened once, without waiting for it, and everything is read from that one
    // descriptor: a device or FIFO is described without being opened at all.
    bool LoadFromFile(const QString &FileName);
    // The file a process runs, from the descriptor of its image, opened through the process
    // (taken over and closed here; false when it is -1). `FileName` gives the names only.
    // `ImagePath` is the path found to lead here, without links, to that very file (empty when
    // none does): only then may a package own it.
    bool LoadFromImage(int Image, const QString &FileName, const QString &ImagePath);
    // The names and the version texts of a file alone, from the package database, for the very
    // file `Identity` names (a package owns it only where `FileName` leads to that file): the
    // file itself is neither opened nor read. False for an empty name.
    bool LoadVersionInfo(const QString &FileName, const platform::files::FileIdentity &Identity);
    void Clear();

    QString FilePath() const { return m_FilePath; }
    void SetFilePath(const QString &Value) { m_FilePath = Value; }
    TGeneralInfo *GeneralInfo() const { return m_GeneralInfo; }
    TVersionInfo *VersionInfo() const { return m_VersionInfo; }
    TShortcutInfo *ShortcutInfo() const { return m_ShortcutInfo; }

private:
    // Everything from one open file (or, for anything but a regular file, from its status alone).
    void ReadAll(platform::files::RegularFileReader *File, const platform::files::FileStatus &Status,
                 const QStringList &PackagePaths);
    void ReadGeneralInfo(const platform::files::FileStatus &Status, const QByteArray &Head);
    void ReadNames();
    void ReadVersionInfo(const QStringList &Paths, const platform::files::FileIdentity &Identity);
    void ReadShortcutInfo(platform::files::RegularFileReader &File, const QByteArray &Head);
    void ClearGeneralInfo();
    void ClearVersionInfo();
    void ClearShortcutInfo();

    QString m_FilePath;
    TGeneralInfo *m_GeneralInfo;
    TVersionInfo *m_VersionInfo;
    TShortcutInfo *m_ShortcutInfo;
};
