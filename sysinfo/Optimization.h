#pragma once

#include "platform/system/TestSeams.h"
#include "sysinfo/HandOff.h"
#include "sysinfo/ReadingWorker.h"
#include "sysinfo/Services.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// A service start type: automatic, manual or disabled.
using TServiceMode = TServiceStartType;

// The features the user keeps; a set flag keeps its services automatic and running.
struct TOptimizationOptions
{
    bool AutomaticUpdates = false;
    bool SystemRestore = false;
    bool TaskSchedule = false;
    bool WindowsFirewall = false;
    bool CDBurning = false;
    bool RemoteDesktopAssistance = false;
    bool RoutingAndRemoteAccess = false;
    bool WirelessConnection = false;
    bool PrintSpooler = false;
    bool Bluetooth = false;
    bool ImageDevice = false;
    bool SmartCard = false;
    bool UPS = false;
};

// Progress of a job: the 1-based number of the service just handled, the job's number of
// services, the service's name and the start type written for it.
using TOptimizingServicesEvent = std::function<void(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                                    const QString &strServiceName, TServiceMode Mode)>;
using TBackuppingServicesEvent = TOptimizingServicesEvent;
using TRestoringServicesEvent = TOptimizingServicesEvent;

class TOptimization;

// Why a job failed.
enum class TJobFailure : quint8 {
    None = 0,
    Manager = 1, // the service manager could not be reached
    File = 2,    // the backup file could not be read or written
    Service = 3, // a start type that can be set was not
};

// One job of TOptimization, run on a worker thread of the component's. A step may wait long for
// the service manager (an authorisation asked of the user, a manager that does not answer): the
// component's end waits for it only briefly, and leaves the job behind with what it uses.
class TOptimizationThread
{
public:
    // Job kinds.
    enum : quint8 { omNone = 0, omOptimize = 1, omBackup = 2, omRestore = 3 };

    explicit TOptimizationThread(TOptimization *AOwner);

    // Reached only by the events, which run on the component's thread while it lives.
    TOptimization *Owner;
    quint8 Mode = omNone;
    TOptimizationOptions Options;
    QString BackupFileName;
    // The values of the next event.
    quint32 CurrentStep = 0;
    quint32 TotalSteps = 0;
    QString ServiceName;
    TServiceMode StartType{};
    // Something the job was to do did not happen: the service manager could not be reached,
    // the file could not be read or written, or a start type that can be set was not.
    bool Failed = false;
    // What failed first, and the file or the service it concerns.
    TJobFailure Failure = TJobFailure::None;
    QString FailureDetail;

    // The services of an optimisation run and the start type each gets, in step order.
    struct TStep
    {
        const char *Name;
        TServiceMode StartType;
    };
    static QList<TStep> OptimizationSteps(const TOptimizationOptions &Options);

    // Runs the job on the worker; gives the call that tells its end on the component's thread.
    TReadingWorker::TApply Run();

private:
    void Execute();
    void RunOptimize();
    void RunBackup();
    void RunRestore();
    // The event a step fires.
    enum class TStepEvent : quint8 { Optimizing = 1, Restoring = 2 };
    void ApplyStartType(quint32 Step, const QString &Name, TServiceMode AStartType, TStepEvent Kind);
    void DoOptimizing();
    void DoBackupping();
    void DoRestoring();
    // True once the owner is going away: the job ends after the service at hand.
    bool Stopping() const;
    // Marks the job failed; the first cause is the one reported.
    void Fail(TJobFailure Cause, const QString &Detail = QString());
    // Runs Relay on the component's thread while the worker waits; skipped once it is going away.
    void Synchronize(const std::function<void()> &Relay);

    // The component's, shared: the job may outlive it.
    THandOff m_HandOff;
    std::shared_ptr<std::atomic<bool>> m_Closing;
};

// Sets a fixed list of services to chosen start types, backs up the start types of every
// service to an INI file and applies such a file again, each job on a worker thread whose
// events run on the thread that owns the component while the worker waits. One job at a time:
// a request while one runs is refused silently.
class TOptimization : public QObject
{
    Q_OBJECT
public:
    // `DataDir` is the user's data directory that the creator found; the default backup file
    // lies below it (none without one). A backup that an earlier version left in the program
    // directory is taken over once (see AdoptOldBackup).
    explicit TOptimization(QObject *AOwner = nullptr, const QString &DataDir = QString());
    // Asks a running job to end after the service it is handling and waits for that a short
    // while, then leaves it behind; no more events fire.
    ~TOptimization() override;

    // "<data dir>Backup/opti_services.dat" (or the same name below SetBackupDir's folder);
    // empty without a data directory.
    QString GetDefaultBackupFile() const;
    // Each request answers whether its job started: false when it was refused (a job runs, the
    // component is closing, the backup folder cannot be made or the backup file is missing).
    bool Optimize(const TOptimizationOptions &Options);
    // An empty name means the default file.
    bool Backup(const QString &FileName = QString());
    bool Restore(const QString &FileName = QString());

    bool Busy() const { return m_Busy.load(); }
#if TASKVANE_TEST_SEAMS
    // The folder that stands for "<data dir>Backup/" (tests keep their files apart); empty
    // restores the one below the data directory.
    void SetBackupDir(const QString &Dir)
    {
        m_BackupDir = Dir;
    }
#endif

    TOptimizingServicesEvent OnOptimizingServices;
    TBackuppingServicesEvent OnBackuppingServices;
    TRestoringServicesEvent OnRestoringServices;

signals:
    // A job has ended and the component takes requests again (queued to the owner's thread).
    // Mode is the job's kind (TOptimizationThread::omOptimize …); Succeeded is false when the
    // job failed, also after its last progress event; Failure says why, Detail names the backup
    // file or the service concerned.
    void JobEnded(quint8 Mode, bool Succeeded, TJobFailure Failure, const QString &Detail);

private:
    friend class TOptimizationThread;

    // Claims the component for a job; false when one runs already.
    bool BeginJob();
    // Starts the job on the worker; false, with the component free again, when it cannot.
    bool StartThread(std::shared_ptr<TOptimizationThread> Thread);
    void EndJob(quint8 Mode, bool Succeeded, TJobFailure Failure, const QString &Detail);

    THandOff m_HandOff{this};
    std::shared_ptr<std::atomic<bool>> m_Closing = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<TReadingWorker> m_Worker;
    std::atomic<bool> m_Busy{false};
#if TASKVANE_TEST_SEAMS
    QString m_BackupDir;
#endif
    QString m_DataDir;
};

// True when the directory part of FileName exists or could be created (missing folders are made
// private to the user); false for a name without a directory part.
bool EnsureBackupDir(const QString &FileName);
