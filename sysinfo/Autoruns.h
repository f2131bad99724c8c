#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// Whose log-on starts the entry; kept in the backup file as this number.
enum class TAutorunUserType : quint8 { CurrentUser = 1, AllUsers = 2 };
// Where the entry lives; kept in the backup file as this number.
enum class TAutorunRunType : quint8 { StartupFolder = 1, Run = 2, RunOnce = 3, RunServices = 4, RunServicesOnce = 5 };

// One program started at log-on: a Run value of the key store, a desktop entry of an autostart
// folder, or an entry disabled into the backup file.
class TAutorunItem
{
public:
    QString Name;
    QString Command;
    QString Location;
    TAutorunUserType UserType{}; // 0 for a backup entry that names none
    TAutorunRunType RunType{};
    bool Active = false;
    bool FileMissing = false;
    // Where the entry was found: the listed file of an autostart-folder entry, the backup
    // section of a disabled one (empty otherwise). The commands act on exactly that place.
    QString FileName;
    QString Section;
};

// Lists the log-on programs and moves them between their place and the backup file
// "Backup/autoruns.dat" of the user's data directory. Reports failure by its results only.
class TAutoruns : public QObject
{
public:
    // `DataDir` is the user's data directory that the creator found; without one there is no
    // backup file, so nothing can be disabled. A backup that an earlier version left in the
    // program directory is taken over once (see AdoptOldBackup).
    explicit TAutoruns(QObject *AOwner = nullptr, const QString &DataDir = QString());
    ~TAutoruns() override;

    TAutoruns(const TAutoruns &) = delete;
    TAutoruns &operator=(const TAutoruns &) = delete;

    void Refresh();
    int GetCount() const;
    // Null for an index outside the list.
    TAutorunItem *GetItem(int Index) const;
    bool Delete(int Index);
    bool Disable(int Index);
    bool Enable(int Index);

    QString BackupFile() const { return m_BackupFile; }
    // Moves the backup file (tests keep it in their own directory).
    void SetBackupFile(const QString &Value) { m_BackupFile = Value; }

    // The desktop-entry file of an autostart-folder entry: location, name and extension.
    static QString ShortcutFile(const QString &Location, const QString &Name);
    // The program file an entry's command starts (ProgramFileOf its program part): an absolute
    // path, or empty when it is named by a relative path or found nowhere on the search path.
    static QString ProgramFile(const QString &Command);

private:
    void ReadAll();
    QString GetLocation(TAutorunUserType UserType, TAutorunRunType RunType) const;
    bool IsFileMissing(const QString &Command) const;
    bool WriteEntry(const QString &Name, const QString &Command, TAutorunUserType UserType, TAutorunRunType RunType);
    bool DeleteEntry(const QString &Name, TAutorunUserType UserType, TAutorunRunType RunType);
    bool EraseBackup(const QString &Name, TAutorunRunType RunType);
    bool EraseSection(const QString &Section);
    bool DisableEntry(const QString &Name, const QString &Command, TAutorunUserType UserType, TAutorunRunType RunType);
    bool EnableEntry(const QString &Name, const QString &Command, TAutorunUserType UserType, TAutorunRunType RunType);

    std::vector<std::unique_ptr<TAutorunItem>> m_Items;
    QString m_BackupFile;
};
