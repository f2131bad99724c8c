#pragma once

#include "platform/files/SystemTime.h"

#include <QObject>
#include <QString>

class TFileProperties;

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

    // False only for a file that does not exist; every record is cleared first.
    bool LoadFromFile(const QString &FileName);
    // The names and the version texts of a file alone, from the package database: the file itself
    // is neither examined nor read. False for an empty name.
    bool LoadVersionInfo(const QString &FileName);
    void Clear();

    QString FilePath() const { return m_FilePath; }
    void SetFilePath(const QString &Value) { m_FilePath = Value; }
    TGeneralInfo *GeneralInfo() const { return m_GeneralInfo; }
    TVersionInfo *VersionInfo() const { return m_VersionInfo; }
    TShortcutInfo *ShortcutInfo() const { return m_ShortcutInfo; }

private:
    void ReadGeneralInfo();
    void ReadNames();
    void ReadVersionInfo();
    void ReadShortcutInfo();
    void ClearGeneralInfo();
    void ClearVersionInfo();
    void ClearShortcutInfo();

    QString m_FilePath;
    TGeneralInfo *m_GeneralInfo;
    TVersionInfo *m_VersionInfo;
    TShortcutInfo *m_ShortcutInfo;
};
