#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class THttpGet;
class TLabel;
struct TDictFileCheck;

// The update check of the main window: fetches the update descriptor, offers the download page
// of a newer program and replaces the dictionary by a newer one; its progress and outcome show in
// the window's version label. What the downloads wrote is read, checked and copied by a worker of
// the check; the window's thread only shows what it found.
class TUpdateCheck : public QObject
{
public:
    // The update's files, and the dictionary it writes, lie in DataDir (the user's data directory).
    TUpdateCheck(TLabel *Version, const QString &DataDir);
    ~TUpdateCheck() override;

    THttpGet *objHttpGet = nullptr;
    // Stage of the check: 0 the descriptor, 1 the dictionary.
    quint8 UpdateStage = 0;
    // Where the update's files and the user's own dictionary lie: the user's data directory
    // (tests point it at their own). Empty: no check.
    QString UpdateDir;

    void StartUpdateCheck();
    // Stops a transfer or a worker of the check, either of which then shows the failure of its
    // stage; waits for the worker no longer than it takes to leave the record or the copy at hand.
    void StopUpdateCheck();
    void DeleteUpdateFiles();
    // Has the descriptor read beside the window; false when there is none.
    bool CheckUpdate();
    // True while a transfer or a worker of the check runs.
    bool Busy() const;
    // False on a display-less run that no test server was named for: such a run never goes
    // out to the network.
    bool UpdateCheckAllowed() const;
    // The version text with the version of the dictionary in use, as its check found it.
    QString UpdateVersionText() const;
    void objHttpGetProcess(QObject *Sender, qint32 CurrentSize, qint32 TotalSize);
    void objHttpGetGetFileCompleted(QObject *Sender, const QString &FileName, qint32 FileSize);
    void objHttpGetError(QObject *Sender);

    // The program's own version text.
    static QString ProgramVersionText();
    // True when the offered version is newer than the own one, compared field by field as
    // numbers over the first `Fields` fields; a missing or unreadable field means not newer.
    static bool IsNewerVersion(const QString &Offered, const QString &Own, QChar Delimiter, int Fields);
    // Splits at the delimiter and at blanks; double quotes enclose a field.
    static QStringList SplitDelimited(const QString &Text, QChar Delimiter);
    // The maker's web address of a path.
    static QString UpdateURL(const QString &Path);

private:
    // What the descriptor offers.
    struct TDescriptor
    {
        bool Read = false;
        QString App;
        QString Db;
    };
    struct TWorker;
    // Work to do beside the window, given the wish to stop; it answers what the window's thread
    // then shows (nothing when the check was stopped meanwhile).
    using TWork = std::function<std::function<void()>(const std::atomic<bool> &Stop)>;

    void RunInBackground(TWork Work);
    void WorkerEnded(const std::shared_ptr<TWorker> &Worker, const std::function<void()> &Show);
    // Ends a worker still running, whose outcome is then shown to nobody; true when one ran.
    bool StopWorker();
    void ShowDescriptor(const TDescriptor &Descriptor);
    void ShowInstalled(bool Copied, const TDictFileCheck &Installed);

    TLabel *lblVersion;
    std::shared_ptr<TWorker> m_Worker;
    std::thread m_Thread;
    // Threads whose outcome is being shown (they wait for it) when another starts.
    std::vector<std::thread> m_Showing;
    bool m_InShow = false;
    // Set by a stop: what a question still open then decides starts no download.
    bool m_Stopped = false;
};
