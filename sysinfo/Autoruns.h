#pragma once

#include "platform/system/TestSeams.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TReadingWorker;

// Whose log-on starts the entry; kept in the backup file as this number.
enum class TAutorunUserType : quint8 { CurrentUser = 1, AllUsers = 2 };
// Where the entry lives; kept in the backup file as this number.
enum class TAutorunRunType : quint8 { StartupFolder = 1, Run = 2, RunOnce = 3, RunServices = 4, RunServicesOnce = 5 };

// What an entry's program file says of itself: its icon in the system image list and its version
// texts, all empty (and no icon) for a program that is not there.
struct TAutorunProgram
{
    qint32 IconIndex = -1;
    QString ProductName;
    QString FileDescription;
    QString CompanyName;
    QString LegalCopyright;
};

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
    // Filled by a reading in the background only.
    TAutorunProgram Program;
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
    // Rebuilds the list on the component's worker, with what each entry's program file says of
    // itself; returns at once. The new items take the old ones' place on the component's thread,
    // where the old ones are freed, and OnRefreshed then runs. Asked again while a reading runs,
    // that reading is dropped when it is in and another one follows, so that the list taken in
    // is never older than the last request (nor than a command since).
    void RefreshInBackground();
    // A reading in the background runs or is to follow.
    bool Refreshing() const;
    std::function<void()> OnRefreshed;
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
    // Finds and opens the program file of a command: it may lie on a file system that keeps its
    // reader waiting, so never on the window's thread.
    static TAutorunProgram ReadProgram(const QString &Command);

#if TASKVANE_TEST_SEAMS
    // Called with the program part of a command before each look at its file (the check whether
    // it is there, the reading of what it says of itself), on the thread that looks; null for none.
    using TProgramHook = void (*)(const QString &Program);
    static void SetProgramHook(TProgramHook Hook);
#endif

private:
    using TItems = std::vector<std::unique_ptr<TAutorunItem>>;

    void ReadAll();
    // Every entry in the scan order, the disabled ones from `BackupFile` last.
    static void ReadEntries(const QString &BackupFile, TItems &Items);
    void StartReading();
    // On the component's thread: the reading's items take the old ones' place.
    void ReadingEnded(TItems &Items, bool Failed);
    static QString GetLocation(TAutorunUserType UserType, TAutorunRunType RunType);
    static bool IsFileMissing(const QString &Command);
    // ProgramMissing: the command's program file as the list found it; the window's thread never
    // looks at the file itself (it may lie on a file system that keeps its reader waiting).
    bool WriteEntry(const QString &Name, const QString &Command, TAutorunUserType UserType, TAutorunRunType RunType,
                    bool ProgramMissing);
    bool DeleteEntry(const QString &Name, TAutorunUserType UserType, TAutorunRunType RunType);
    bool EraseBackup(const QString &Name, TAutorunRunType RunType);
    bool EraseSection(const QString &Section);
    bool DisableEntry(const QString &Name, const QString &Command, TAutorunUserType UserType, TAutorunRunType RunType);
    bool EnableEntry(const QString &Name, const QString &Command, TAutorunUserType UserType, TAutorunRunType RunType,
                     bool ProgramMissing);

    TItems m_Items;
    QString m_BackupFile;
    std::unique_ptr<TReadingWorker> m_Worker;
    // Asked for while a reading ran.
    bool m_Again = false;
};
