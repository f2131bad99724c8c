#pragma once

#include "sysinfo/Optimization.h"
#include "ui/FormControls.h"
#include "ui/PicButton.h"

#include <QObject>
#include <QString>

#include <functional>

class QTreeWidget;
class TOptimization;

// The service optimisation panel of the services page: the check boxes of the system functions
// to keep, backup, restore and optimise, and the progress of the job that runs.
class TOptimizationPanel : public QObject
{
public:
    // Builds the panel, hidden, into the page below the page's list; the backups lie in DataDir.
    TOptimizationPanel(QWidget *Page, QTreeWidget *List, const QString &DataDir);
    ~TOptimizationPanel() override;

    TOptimization *objOptimization = nullptr;
    TSkinImagePanel *pnlServicesOptimizaion = nullptr;
    TSkinImagePanel *pnlSvcOpti_Control = nullptr, *pnlSvcOpti_Progress = nullptr;
    TLabel *lblSvcOpti_Title = nullptr, *lblSvcOpti_System = nullptr, *lblSvcOpti_Network = nullptr,
           *lblSvcOpti_Device = nullptr, *lblSvcOpti_Progress = nullptr;
    // The check boxes in the order of the options' flags.
    TSkinCheckBox *chkSvcOpti_AutomaticUpdates = nullptr, *chkSvcOpti_SystemRestore = nullptr,
                  *chkSvcOpti_TaskSchedule = nullptr, *chkSvcOpti_WindowsFirewall = nullptr,
                  *chkSvcOpti_CDBurning = nullptr, *chkSvcOpti_RemoteDesktopAssistance = nullptr,
                  *chkSvcOpti_RoutingAndRemoteAccess = nullptr, *chkSvcOpti_WirelessConnection = nullptr,
                  *chkSvcOpti_PrintSpooler = nullptr, *chkSvcOpti_Bluetooth = nullptr,
                  *chkSvcOpti_ImageDevice = nullptr, *chkSvcOpti_SmartCard = nullptr, *chkSvcOpti_UPS = nullptr;
    TPicButton *btnSvcOpti_Backup = nullptr, *btnSvcOpti_Restore = nullptr, *btnSvcOpti_Optimize = nullptr;
    TSkinProgressBar *pbSvcOpti_Progress = nullptr;
    // Flags of an optimisation that waits for the backup before it (bit i: flag i), or -1.
    int SvcOptiPendingOptions = -1;
    // Reloads the service list after a job that changed start types.
    std::function<void()> OnRefreshList;

    // The ticked states of the 13 check boxes as option flags (bit i: flag i).
    int SvcOptiCheckedFlags() const;
    void btnSvcOpti_BackupClick(QObject *Sender);
    void btnSvcOpti_RestoreClick(QObject *Sender);
    void btnSvcOpti_OptimizeClick(QObject *Sender);
    void objOptimizationBackuppingServices(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                           const QString &strServiceName, TServiceMode Mode);
    void objOptimizationRestoringServices(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                          const QString &strServiceName, TServiceMode Mode);
    void objOptimizationOptimizingServices(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                           const QString &strServiceName, TServiceMode Mode);
    // Mode: the job's kind (1 optimise, 2 back up, 3 restore); a failed job is reported with
    // its cause.
    void objOptimizationJobEnded(quint8 Mode, bool Succeeded, TJobFailure Failure, const QString &Detail);

private:
    // Starts the backup a command asked for; false when it was refused and that was reported.
    bool StartBackup();
    // A job that failed or was refused: the panel takes requests again and says so, naming the
    // cause ("无法连接服务管理器！", or the file or the service concerned).
    void ReportJobFailure(quint8 Mode, TJobFailure Failure, const QString &Detail);
    void SvcOptiProgress(const QString &Format, quint32 dwCurrent, quint32 dwTotal, const QString &strServiceName,
                         TServiceMode Mode, bool RefreshList);
};
