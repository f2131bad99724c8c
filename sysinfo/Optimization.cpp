#include "sysinfo/Optimization.h"

#include "platform/Logging.h"
#include "platform/files/IniFile.h"
#include "platform/shell/Shell.h"
#include "sysinfo/Logging.h"
#include "sysinfo/Services.h"
#include "sysinfo/Utils.h"

#include <QDir>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace {

const QString kBackupSection = QStringLiteral("ServicesBackup");
const QString kBackupDirName = QStringLiteral("Backup/");
const QString kBackupFileName = QStringLiteral("opti_services.dat");

// Start and stop requests of a job give the service this long before the job moves on; the
// service manager finishes what is left on its own.
constexpr quint32 kServiceWait = 1000;

// The fixed part of an optimisation run, after the steps that follow the options. Start types
// are kept as text and converted when used.
struct TFixedStep
{
    const char *Name;
    const char *StartType;
};
constexpr TFixedStep kFixedSteps[] = {
    {"Alerter", "4"},    {"ALG", "2"},          {"AppMgmt", "3"},
    {"ClipSrv", "4"},    {"COMSysApp", "3"},    {"EventSystem", "3"},
    {"Browser", "3"},    {"CryptSvc", "2"},     {"Dhcp", "2"},
    {"TrkWks", "3"},     {"MSDTC", "3"},        {"Dnscache", "2"},
    {"ERSvc", "4"},      {"Eventlog", "2"},     {"FastUserSwitchingCompatibility", "3"},
    {"FAX", "4"},        {"helpsvc", "4"},      {"HidServ", "4"},
    {"HTTPFilter", "3"}, {"cisvc", "4"},        {"PolicyAgent", "4"},
    {"dmserver", "3"},   {"dmadmin", "3"},      {"Messenger", "4"},
    {"SwPrv", "3"},      {"Netlogon", "4"},     {"mnmsrvc", "4"},
    {"Netman", "3"},     {"NetDDE", "4"},       {"NetDDEdsdm", "4"},
    {"Nla", "3"},        {"NtLmSsp", "3"},      {"SysmonLog", "4"},
    {"PlugPlay", "2"},   {"WmdmPmSp", "4"},     {"ProtectedStorage", "2"},
    {"RSVP", "4"},       {"RasMan", "2"},       {"RDSessMgr", "4"},
    {"RpcSs", "2"},      {"RpcLocator", "3"},   {"RemoteRegistry", "4"},
    {"NtmsSvc", "2"},    {"RemoteAccess", "4"}, {"seclogon", "4"},
    {"SamSs", "2"},      {"lanmanserver", "2"}, {"ShellHWDetection", "2"},
    {"SSDPSRV", "4"},    {"SENS", "2"},         {"LmHosts", "4"},
    {"TapiSrv", "2"},    {"TlntSvr", "4"},      {"TermService", "3"},
    {"Themes", "2"},     {"upnphost", "4"},     {"uploadmgr", "4"},
    {"VSS", "3"},        {"WebClient", "4"},    {"AudioSrv", "2"},
    {"MSIServer", "3"},  {"Winmgmt", "2"},      {"Wmi", "3"},
    {"W32Time", "4"},    {"WmiApSrv", "4"},     {"lanmanworkstation", "2"},
};
static_assert(std::size(kFixedSteps) == 66);

constexpr quint32 kOptimizationSteps = 81;

TServiceMode FlagStartType(bool Keep)
{
    return Keep ? TServiceMode::Automatic : TServiceMode::Manual;
}

// Only manual and disabled are taken as they are; anything else means automatic.
TServiceMode AppliedStartType(int Value)
{
    if (Value == int(TServiceMode::Manual) || Value == int(TServiceMode::Disabled))
        return TServiceMode(Value);
    return TServiceMode::Automatic;
}

} // namespace

// ---- the worker ---------------------------------------------------------------------------

TOptimizationThread::TOptimizationThread(TOptimization *AOwner)
    : Owner(AOwner), m_HandOff(AOwner->m_HandOff), m_Closing(AOwner->m_Closing)
{}

QList<TOptimizationThread::TStep> TOptimizationThread::OptimizationSteps(const TOptimizationOptions &Options)
{
    const TOptimizationOptions &o = Options;
    QList<TStep> steps = {
        {"wuauserv", FlagStartType(o.AutomaticUpdates)},
        {"BITS", FlagStartType(o.AutomaticUpdates)},
        {"srservice", FlagStartType(o.SystemRestore)},
        {"Schedule", FlagStartType(o.TaskSchedule)},
        {"SharedAccess", FlagStartType(o.WindowsFirewall)},
        {"ImapiService", FlagStartType(o.CDBurning)},
        {"RDSessMgr", FlagStartType(o.RemoteDesktopAssistance)},
        {"RemoteAccess", FlagStartType(o.RoutingAndRemoteAccess)},
        {"wzcsvc", FlagStartType(o.WirelessConnection)},
        {"Spooler", FlagStartType(o.PrintSpooler)},
        {"BthServ", FlagStartType(o.Bluetooth)},
        {"stisvc", FlagStartType(o.ImageDevice)},
        {"SCardSvr", FlagStartType(o.SmartCard)},
        {"SCardDrv", FlagStartType(o.SmartCard)},
        {"UPS", FlagStartType(o.UPS)},
    };
    for (const TFixedStep &f : kFixedSteps)
        steps.append({f.Name, TServiceMode(QByteArray(f.StartType).toInt())});
    return steps;
}

TReadingWorker::TApply TOptimizationThread::Run()
{
    // The flag was claimed when the job was requested; it is given back on every way out, so
    // that a failed job never blocks the ones after it.
    try {
        Execute();
    } catch (...) {
        qCWarning(lcSysinfo) << "optimisation job" << int(Mode) << "ended by" << platform::CurrentExceptionText();
        Failed = true;
    }
    return [owner = Owner, mode = Mode, succeeded = !Failed, failure = Failure, detail = FailureDetail] {
        owner->EndJob(mode, succeeded, failure, detail);
    };
}

void TOptimizationThread::Execute()
{
    switch (Mode) {
    case omOptimize:
        RunOptimize();
        break;
    case omBackup:
        RunBackup();
        break;
    case omRestore:
        RunRestore();
        break;
    default:
        break;
    }
}

bool TOptimizationThread::Stopping() const
{
    return m_Closing->load();
}

void TOptimizationThread::Synchronize(const std::function<void()> &Relay)
{
    if (Stopping())
        return;
    m_HandOff.Synchronize([this, &Relay] {
        if (!Stopping())
            Relay();
    });
}

void TOptimizationThread::Fail(TJobFailure Cause, const QString &Detail)
{
    if (!Failed) {
        Failure = Cause;
        FailureDetail = Detail;
    }
    Failed = true;
}

void TOptimizationThread::ApplyStartType(quint32 Step, const QString &Name, TServiceMode AStartType, TStepEvent Kind)
{
    const TServiceMode applied = AppliedStartType(int(AStartType));
    // Only a unit whose start type can be set is touched. A static, generated or similar unit
    // runs because others need it: "manual" is what it reports, never a wish to stop it (older
    // backups hold 3 for every such unit). A missing service gets its event all the same.
    TServiceItem unit;
    unit.Name = Name;
    if (TServiceHelper::ReloadItem(Name, &unit) && unit.StartTypeSettable) {
        if (!TServices::SetServiceStartType(Name, applied))
            Fail(TJobFailure::Service, Name);
        // A start or stop that outlasts the wait goes on in the background.
        if (applied == TServiceMode::Automatic) {
            if (!TServices::IsRunning(Name))
                TServices::StartService(Name, kServiceWait);
        } else if (TServices::IsRunning(Name)) {
            TServices::StopService(Name, kServiceWait);
        }
    }
    CurrentStep = Step;
    ServiceName = Name;
    StartType = applied;
    switch (Kind) {
    case TStepEvent::Optimizing:
        DoOptimizing();
        break;
    case TStepEvent::Restoring:
        DoRestoring();
        break;
    }
}

void TOptimizationThread::RunOptimize()
{
    // Without a service manager nothing can be set: the steps are reported as the run goes,
    // and the job as failed.
    if (!TServiceHelper::ManagerReachable())
        Fail(TJobFailure::Manager);
    const QList<TStep> steps = OptimizationSteps(Options);
    TotalSteps = kOptimizationSteps;
    for (quint32 i = 0; i < quint32(steps.size()) && !Stopping(); ++i)
        ApplyStartType(i + 1, QString::fromLatin1(steps[qsizetype(i)].Name), steps[qsizetype(i)].StartType,
                       TStepEvent::Optimizing);
}

void TOptimizationThread::RunBackup()
{
    platform::files::IniFile ini;
    // A file that cannot be read is left alone rather than replaced by a partial copy.
    if (!ini.Load(BackupFileName)) {
        Fail(TJobFailure::File, BackupFileName);
        return;
    }
    auto services = std::make_unique<TServices>();
    services->Reload();
    if (services->RefreshFailed()) {
        Fail(TJobFailure::Manager);
        return;
    }
    // A unit whose start type cannot be set has nothing to restore: it is left out, so that a
    // restore never mistakes its "manual" for a wish to stop it.
    std::vector<const TServiceItem *> saved;
    for (int i = 0; i < services->GetCount(); ++i) {
        const TServiceItem *item = services->GetItem(i);
        if (item->StartTypeSettable)
            saved.push_back(item);
    }
    if (saved.empty())
        return;
    // Every key is in the file before the first service is reported, so that the report of
    // the last one means the backup is complete; a file that cannot be written reports nothing.
    for (const TServiceItem *item : saved) {
        if (!ini.SetIntValue(kBackupSection, item->Name, int(item->StartType))) {
            Fail(TJobFailure::File, BackupFileName);
            return;
        }
    }
    if (!ini.Save(BackupFileName)) {
        Fail(TJobFailure::File, BackupFileName);
        return;
    }
    TotalSteps = quint32(saved.size());
    for (std::size_t i = 0; i < saved.size() && !Stopping(); ++i) {
        CurrentStep = quint32(i + 1);
        ServiceName = saved[i]->Name;
        StartType = saved[i]->StartType;
        DoBackupping();
    }
}

void TOptimizationThread::RunRestore()
{
    platform::files::IniFile ini;
    if (!ini.Load(BackupFileName)) {
        Fail(TJobFailure::File, BackupFileName);
        return;
    }
    const QStringList keys = ini.KeyNames(kBackupSection);
    if (keys.isEmpty())
        return;
    if (!TServiceHelper::ManagerReachable())
        Fail(TJobFailure::Manager);
    TotalSteps = quint32(keys.size());
    for (qsizetype i = 0; i < keys.size() && !Stopping(); ++i) {
        // Anything but manual and disabled (0, 1, 5, a number too large for a start type, a text)
        // means automatic.
        const int value = ini.IntValue(kBackupSection, keys[i], int(TServiceMode::Automatic));
        ApplyStartType(quint32(i + 1), keys[i], AppliedStartType(value), TStepEvent::Restoring);
    }
}

void TOptimizationThread::DoOptimizing()
{
    const quint32 current = CurrentStep, total = TotalSteps;
    const QString name = ServiceName;
    const TServiceMode type = StartType;
    TOptimization *owner = Owner;
    Synchronize([=] {
        if (owner->OnOptimizingServices)
            owner->OnOptimizingServices(owner, current, total, name, type);
    });
}

void TOptimizationThread::DoBackupping()
{
    const quint32 current = CurrentStep, total = TotalSteps;
    const QString name = ServiceName;
    const TServiceMode type = StartType;
    TOptimization *owner = Owner;
    Synchronize([=] {
        if (owner->OnBackuppingServices)
            owner->OnBackuppingServices(owner, current, total, name, type);
    });
}

void TOptimizationThread::DoRestoring()
{
    const quint32 current = CurrentStep, total = TotalSteps;
    const QString name = ServiceName;
    const TServiceMode type = StartType;
    TOptimization *owner = Owner;
    Synchronize([=] {
        if (owner->OnRestoringServices)
            owner->OnRestoringServices(owner, current, total, name, type);
    });
}

// ---- the component ------------------------------------------------------------------------

TOptimization::TOptimization(QObject *AOwner, const QString &DataDir)
    : QObject(AOwner), m_Worker(std::make_unique<TReadingWorker>(this)), m_DataDir(DataDir)
{
    // The job's end is queued to the owner's thread with its cause.
    qRegisterMetaType<TJobFailure>();
    if (m_DataDir.isEmpty())
        return;
    QString programDir;
    GetAppPath(programDir);
    AdoptOldBackup(programDir, GetDefaultBackupFile());
}

TOptimization::~TOptimization()
{
    *m_Closing = true;
    // A worker waiting for its event to run here is released; it then sees the flag and ends
    // after the service at hand, which may wait for the service manager: beyond a short wait it
    // is left to end by itself.
    m_HandOff.Close();
    m_Worker.reset();
}

QString TOptimization::GetDefaultBackupFile() const
{
#if TASKVANE_TEST_SEAMS
    if (!m_BackupDir.isEmpty()) {
        QString dir = m_BackupDir;
        if (!dir.endsWith(QLatin1Char('/')))
            dir += QLatin1Char('/');
        return dir + kBackupFileName;
    }
#endif
    if (m_DataDir.isEmpty())
        return QString();
    QString dataDir = m_DataDir;
    if (!dataDir.endsWith(QLatin1Char('/')))
        dataDir += QLatin1Char('/');
    return QStringLiteral("%1%2%3").arg(dataDir, kBackupDirName, kBackupFileName);
}

bool TOptimization::BeginJob()
{
    // Claimed here, on the requesting thread, so that two requests in quick succession can
    // never both start a job.
    bool expected = false;
    return !*m_Closing && m_Busy.compare_exchange_strong(expected, true);
}

bool TOptimization::StartThread(std::shared_ptr<TOptimizationThread> Thread)
{
    if (m_Worker->Start([job = std::move(Thread)] { return job->Run(); }))
        return true;
    m_Busy = false;
    return false;
}

void TOptimization::EndJob(quint8 Mode, bool Succeeded, TJobFailure Failure, const QString &Detail)
{
    // The job counts as running until its end is told on the window's thread, so that nobody
    // there sees it idle before its end notice; a handler may start the next job at once.
    m_Busy = false;
    if (!*m_Closing)
        emit JobEnded(Mode, Succeeded, Failure, Detail);
}

bool TOptimization::Optimize(const TOptimizationOptions &Options)
{
    if (!BeginJob())
        return false;
    auto t = std::make_shared<TOptimizationThread>(this);
    t->Mode = TOptimizationThread::omOptimize;
    t->Options = Options;
    return StartThread(std::move(t));
}

bool TOptimization::Backup(const QString &FileName)
{
    const QString file = FileName.isEmpty() ? GetDefaultBackupFile() : FileName;
    if (!EnsureBackupDir(file) || !BeginJob())
        return false;
    auto t = std::make_shared<TOptimizationThread>(this);
    t->Mode = TOptimizationThread::omBackup;
    t->BackupFileName = file;
    return StartThread(std::move(t));
}

bool TOptimization::Restore(const QString &FileName)
{
    const QString file = FileName.isEmpty() ? GetDefaultBackupFile() : FileName;
    if (!QFileInfo(file).isFile() || !BeginJob())
        return false;
    auto t = std::make_shared<TOptimizationThread>(this);
    t->Mode = TOptimizationThread::omRestore;
    t->BackupFileName = file;
    return StartThread(std::move(t));
}

bool EnsureBackupDir(const QString &FileName)
{
    const qsizetype slash = FileName.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return false;
    const QString dir = slash == 0 ? QStringLiteral("/") : FileName.left(slash);
    return platform::shell::MakePrivateDirs(dir);
}
