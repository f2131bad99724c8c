#pragma once

#include "ui/FormControls.h"
#include "ui/PicButton.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QAction;
class QActionGroup;
class QLayout;
class QChartView;
class QCheckBox;
class QLineEdit;
class QMenu;
class QSessionManager;
class QTextEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TTabPanel;
class TProcesses;
class TProcessItem;

namespace platform::processes {
class ProcessSource;
}

// One affinity change: the processor's index and the state its bit is to get.
class TProcessAffinityParam
{
public:
    int CPUIndex = 0;
    bool Enabled = false;
};

// The file picker of the form; it asks through the replaceable hooks.
struct TOpenDialog
{
    QString Title;
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    bool Execute(QWidget *Parent);
};

// Sort and click state of one of the four lists of the form.
struct TListState
{
    int SortColumn = -1;
    bool SortDescending = false;
    int HotColumn = -1;
};

// The one window of the program: borderless, with its own frame, title buttons, left menu, six
// pages, three refresh timers, a waiting panel and a web-search box.
class TFormMain : public QWidget
{
    Q_OBJECT
public:
    // Page numbers of the left menu.
    enum : quint8 { pgProcess = 0, pgService, pgAutorun, pgNetwork, pgSystem, pgConfig, PageCount };
    // The four lists, in the order of their sort state.
    enum : int { lsProcesses = 0, lsServices, lsAutoruns, lsConnections, ListCount };

    // `ProcessSource` replaces the system's process table (tests); the form does not own it.
    explicit TFormMain(QWidget *AOwner = nullptr, platform::processes::ProcessSource *ProcessSource = nullptr);
    ~TFormMain() override;

    // ---- members of the form ----------------------------------------------------------------
    TImage *imgMainBorder_TopLeft, *imgMainBorder_Top, *imgMainBorder_TopRight;
    TImage *imgMainBorder_Left, *imgMainBorder_Right;
    TImage *imgMainBorder_BottomLeft, *imgMainBorder_Bottom, *imgMainBorder_BottomRight;
    TImage *imgMainBorder_Resize;
    TImage *imgIcon, *imgTopBar, *imgLeftMenuTitle, *imgLeftMenuBody;
    TLabel *lblTitle, *lblTopBarInfo, *lblStatusBar, *lblVersion;
    TPicButton *btnAbout, *btnMin, *btnMax, *btnClose;
    TPicButton *btnLeftMenu_Title;
    TSkinPanelStandIn *pnlLeftMenu;
    TPicButton *btnLeftMenu_Process, *btnLeftMenu_Service, *btnLeftMenu_Autorun, *btnLeftMenu_Network,
        *btnLeftMenu_System, *btnLeftMenu_Config;
    TSkinPanelStandIn *pnlTab_Process, *pnlTab_Service, *pnlTab_Autorun, *pnlTab_Network, *pnlTab_System,
        *pnlTab_Config;
    TSkinPanelStandIn *pnlWaiting;
    TSkinPanelStandIn *pnlSearch;
    QLineEdit *edtSearch, *edtSearch2;
    TPicButton *btnSearch, *btnSearchMenu;
    QMenu *pmSearch;
    QAction *mniSearch_Baidu, *mniSearch_Google, *mniSearch_Yahoo;
    // The details panel, filled by the list pages.
    TSkinPanelStandIn *pnlDetails;
    TLabel *lblDetailsTitle;
    QTextEdit *redtDetails;
    // The lists and charts of the pages (their contents are the pages' own).
    QTreeWidget *lvProcesses, *lvServices, *lvAutoruns, *lvConnections;
    TSkinCheckBox *chkHideLocalConnections;
    QChartView *chtCPU, *chtMEM;
    QTimer *tmrProcess, *tmrTraffic, *tmrSystem;
    // The process page: the process list, its buttons, the new-process panel and the context menu.
    TProcesses *objProcesses;
    TPicButton *btnTerminateProcess, *btnTerminateProcessTree, *btnNewProcess;
    TSkinPanelStandIn *pnlNewProcess;
    QLineEdit *edtNewProcessPath;
    TPicButton *btnNewProcessOk, *btnNewProcessCancel, *btnNewProcessBrowse;
    QMenu *pmProcess;
    QAction *mniProcess_Terminate, *mniProcess_TerminateTree, *mniProcess_Delete, *mniProcess_Line1;
    QAction *mniProcess_Pause, *mniProcess_Resume, *mniProcess_Line2;
    QMenu *mniProcess_Priority, *mniProcess_Affinity;
    QActionGroup *mniProcess_PriorityGroup;
    QAction *mniProcess_Priority_Realtime, *mniProcess_Priority_High, *mniProcess_Priority_AboveNormal,
        *mniProcess_Priority_Normal, *mniProcess_Priority_BelowNormal, *mniProcess_Priority_Low;
    QAction *mniProcess_Line3, *mniProcess_Location, *mniProcess_Properties;
    TOpenDialog dlgOpenFile;
    QList<QIcon> ilCommon;
    QActionGroup *alActions;
    QAction *actHelp;

    // ---- state shared with the pages --------------------------------------------------------
    int MinWidth = 0;
    int MinHeight = 0;
    std::unique_ptr<TTabPanel> TabPanel;
    quint8 UpdateStage = 0;
    quint8 CurrentPage = 0;
    QString SearchHint;
    QString SearchURL;
    QPoint HoverPoint{0, -1};
    bool DetailsPinned = false;
    TListState Lists[ListCount];

    // ---- handlers ---------------------------------------------------------------------------
    void FormCreate(QObject *Sender);
    void FormClose(QObject *Sender);
    void FormShow(QObject *Sender);
    void FormResize(QObject *Sender);
    void FormKeyPress(QObject *Sender, QChar &Key);
    void imgMainBorder_ResizeMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void imgMainBorder_ResizeMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void imgMainBorder_ResizeMouseUp(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void btnAboutClick(QObject *Sender);
    void btnCloseClick(QObject *Sender);
    void actHelpExecute(QObject *Sender);
    void btnLeftMenu_TitleClick(QObject *Sender);
    void btnLeftMenu_ProcessClick(QObject *Sender);
    void btnLeftMenu_ServiceClick(QObject *Sender);
    void btnLeftMenu_AutorunClick(QObject *Sender);
    void btnLeftMenu_NetworkClick(QObject *Sender);
    void btnLeftMenu_SystemClick(QObject *Sender);
    void btnLeftMenu_ConfigClick(QObject *Sender);
    void edtSearchChange(QObject *Sender);
    void edtSearchClick(QObject *Sender);
    void edtSearchExit(QObject *Sender);
    void edtSearchKeyPress(QObject *Sender, QChar &Key);
    void edtSearchMouseLeave(QObject *Sender);
    void btnSearchClick(QObject *Sender);
    void btnSearchMenuClick(QObject *Sender);
    void mniSearch_BaiduClick(QObject *Sender);
    void mniSearch_GoogleClick(QObject *Sender);
    void mniSearch_YahooClick(QObject *Sender);
    // The session manager asks whether the desktop may end: always yes.
    bool OnQureyEndSession(QSessionManager &Manager);
    void TitleMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void ToggleMaximize(QObject *Sender);
    void MinimizeClick(QObject *Sender);

    // ---- routines the pages call ------------------------------------------------------------
    void ShowWaiting(const QString &Text);
    void HideWaiting();
    void SetSearchEngine(int Index);
    void UpdateSearchText();
    // The list of a page (pages 0-3), else null.
    QTreeWidget *PageList(int Page) const;
    // The status text of a page with the components' current counts.
    QString PageStatusText(int Page) const;
    // What the list pages do alike; `List` is one of lsProcesses … lsConnections.
    // Mouse tracking, a header that sorts on click without an indicator, and the page's
    // handlers of header clicks and selection changes.
    void PrepareList(QTreeWidget *List, void (TFormMain::*ColumnClick)(QObject *, int),
                     void (TFormMain::*SelectItem)(QObject *, QTreeWidgetItem *, bool));
    // After a selection change has set the page's buttons: a selected row fills the details
    // (when they show) and the search text.
    void ListSelected(bool Selected);
    void ListClick(int List);
    // The pointer leaving the row the details were opened for hides them (unless pinned).
    void ListMouseMove(int List, int X, int Y);
    // A header click flips the column's direction and sorts by it.
    void ListColumnClick(int List, int Column);
    // The two rows' texts in the sort column, in the sort direction.
    int CompareListTexts(int List, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;

    // Restores a minimised window and brings it to the front (a second start asks for this).
    void RestoreAndRaise();

    // The search engines' names, menu captions and address templates, by engine number.
    static QString SearchEngineName(int Index);
    static QString SearchEngineTemplate(int Index);
    // The address a search opens: the template with the text percent-encoded into it.
    static QString SearchAddress(const QString &Template, const QString &Text);

    // ---- process page --------------------------------------------------------------------------
    void FillProcessList();
    void ProcessTick();
    void SetDictionaryState(TProcessItem *Item);
    TProcessItem *ItemOfRow(int Index) const;
    TProcessItem *SelectedProcess() const;
    bool IsSystemPID(quint32 PID) const;
    void UpdateProcessButtons();
    void SortList(QTreeWidget *List);
    // The identifier a process row holds; false for a row without one.
    static bool RowPID(const QTreeWidgetItem *Row, quint32 &PID);

    void objProcessesProcessAdded(QObject *Sender, quint32 dwProcessID);
    void objProcessesProcessReloaded(QObject *Sender, quint32 dwProcessID);
    void objProcessesProcessRemoved(QObject *Sender, quint32 dwProcessID);
    void tmrProcessTimer(QObject *Sender);
    void lvProcessesSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvProcessesClick(QObject *Sender);
    void lvProcessesMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvProcessesMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lvProcessesKeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void lvProcessesColumnClick(QObject *Sender, int Column);
    // -1, 0 or 1 for row A before, level with or after row B in the current sort state.
    int lvProcessesCompare(QObject *Sender, QTreeWidgetItem *A, QTreeWidgetItem *B);
    // The font colour of the row at Index; false where the default colour stays.
    bool lvProcessesCustomDrawItem(QObject *Sender, int Index, QColor &FontColor);

    // ---- process commands ------------------------------------------------------------------------
    void ExecuteProcessCommand(quint8 Command, int Param = 0);
    void ExecuteProcessCommand(quint8 Command, const TProcessAffinityParam *Param);
    bool IsCriticalProcess(const QString &Path) const;

    void mniProcess_TerminateClick(QObject *Sender);
    void mniProcess_TerminateTreeClick(QObject *Sender);
    void mniProcess_DeleteClick(QObject *Sender);
    void mniProcess_PauseClick(QObject *Sender);
    void mniProcess_ResumeClick(QObject *Sender);
    void mniProcess_PriorityClick(QObject *Sender);
    void mniProcess_Priority_RealtimeClick(QObject *Sender);
    void mniProcess_Priority_HighClick(QObject *Sender);
    void mniProcess_Priority_AboveNormalClick(QObject *Sender);
    void mniProcess_Priority_NormalClick(QObject *Sender);
    void mniProcess_Priority_BelowNormalClick(QObject *Sender);
    void mniProcess_Priority_LowClick(QObject *Sender);
    void mniProcess_AffinityClick(QObject *Sender);
    void mniProcess_AffinitySubItemsClick(QObject *Sender);
    void mniProcess_LocationClick(QObject *Sender);
    void mniProcess_PropertiesClick(QObject *Sender);
    void btnTerminateProcessClick(QObject *Sender);
    void btnTerminateProcessTreeClick(QObject *Sender);
    void btnNewProcessClick(QObject *Sender);
    void btnNewProcessOkClick(QObject *Sender);
    void btnNewProcessCancelClick(QObject *Sender);
    void btnNewProcessBrowseClick(QObject *Sender);
    void edtNewProcessPathKeyPress(QObject *Sender, QChar &Key);
    void FillAffinityMenu();

    // ---- services page ----
    class TServices *objServices = nullptr;
    TPicButton *btnStartService = nullptr, *btnPauseService = nullptr, *btnServicesOptimization = nullptr,
               *btnRefreshServiceList = nullptr;
    QMenu *pmService = nullptr;
    QAction *mniService_Start = nullptr, *mniService_Stop = nullptr, *mniService_Line1 = nullptr,
            *mniService_Pause = nullptr, *mniService_Resume = nullptr, *mniService_Line2 = nullptr,
            *mniService_Restart = nullptr, *mniService_Line3 = nullptr;
    QMenu *mniService_StartupType = nullptr;
    QActionGroup *mniService_StartupTypeGroup = nullptr;
    QAction *mniService_StartupType_Automatic = nullptr, *mniService_StartupType_Manual = nullptr,
            *mniService_StartupType_Disabled = nullptr;

    // Builds the page's buttons, menu and row images into the page's layout.
    void BuildServicePage(QLayout *Layout);
    void FillServiceList();
    void RefreshServiceList();
    class TServiceItem *SelectedService() const;
    // Codes 0 start, 1 stop, 2 pause, 3 resume, 4 restart, 5 set the start type (read only by 5).
    void ServiceCommand(quint8 Code, quint8 StartType = 0);
    void UpdateServiceButtons();
    void AddServiceRow(int Index, class TServiceItem *Item);

    void lvServicesSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvServicesClick(QObject *Sender);
    void lvServicesMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lvServicesMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvServicesColumnClick(QObject *Sender, int Column);
    int lvServicesCompare(QObject *Sender, QTreeWidgetItem *A, QTreeWidgetItem *B);
    void pmServicePopup(QObject *Sender);
    void mniService_StartClick(QObject *Sender);
    void mniService_StopClick(QObject *Sender);
    void mniService_PauseClick(QObject *Sender);
    void mniService_ResumeClick(QObject *Sender);
    void mniService_RestartClick(QObject *Sender);
    void mniService_StartupTypeClick(QObject *Sender);
    void mniService_StartupType_AutomaticClick(QObject *Sender);
    void mniService_StartupType_ManualClick(QObject *Sender);
    void mniService_StartupType_DisabledClick(QObject *Sender);
    void btnStartServiceClick(QObject *Sender);
    void btnPauseServiceClick(QObject *Sender);
    void btnRefreshServiceListClick(QObject *Sender);
    void btnServicesOptimizationClick(QObject *Sender);

    // ---- service optimisation panel ----
    class TOptimization *objOptimization = nullptr;
    TSkinPanelStandIn *pnlServicesOptimizaion = nullptr;
    TSkinPanelStandIn *pnlSvcOpti_Control = nullptr, *pnlSvcOpti_Progress = nullptr;
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

    void BuildOptimizationPanel();
    // The ticked states of the 13 check boxes as option flags (bit i: flag i).
    int SvcOptiCheckedFlags() const;
    void btnSvcOpti_BackupClick(QObject *Sender);
    void btnSvcOpti_RestoreClick(QObject *Sender);
    void btnSvcOpti_OptimizeClick(QObject *Sender);
    void objOptimizationBackuppingServices(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                           const QString &strServiceName, quint8 Mode);
    void objOptimizationRestoringServices(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                          const QString &strServiceName, quint8 Mode);
    void objOptimizationOptimizingServices(QObject *Sender, quint32 dwCurrent, quint32 dwTotal,
                                           const QString &strServiceName, quint8 Mode);
    // Mode: the job's kind (1 optimise, 2 back up, 3 restore); a failed job is reported.
    void objOptimizationJobEnded(quint8 Mode, bool Succeeded);
    void SvcOptiProgress(const QString &Format, quint32 dwCurrent, quint32 dwTotal, const QString &strServiceName,
                         quint8 Mode, bool RefreshList);

    // ---- autoruns page ----
    class TAutoruns *objAutoruns = nullptr;
    TPicButton *btnEnableAutorun = nullptr, *btnDeleteAutorun = nullptr, *btnRefreshAutorunList = nullptr;
    QMenu *pmAutorun = nullptr;
    QAction *mniAutorun_Disable = nullptr, *mniAutorun_Enable = nullptr, *mniAutorun_Line = nullptr,
            *mniAutorun_Delete = nullptr;

    // Builds the component, the buttons and the context menu of the page into its layout.
    void BuildAutorunPage(QLayout *Layout);
    void FillAutorunList();
    void RefreshAutorunList();
    class TAutorunItem *SelectedAutorun() const;
    // Codes 0 enable, 1 disable, 2 delete.
    void AutorunCommand(quint8 Code);
    void UpdateAutorunButtons();

    void lvAutorunsSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvAutorunsClick(QObject *Sender);
    void lvAutorunsMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lvAutorunsMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvAutorunsColumnClick(QObject *Sender, int Column);
    int lvAutorunsCompare(QObject *Sender, QTreeWidgetItem *A, QTreeWidgetItem *B);
    void pmAutorunPopup(QObject *Sender);
    void mniAutorun_DisableClick(QObject *Sender);
    void mniAutorun_EnableClick(QObject *Sender);
    void mniAutorun_DeleteClick(QObject *Sender);
    void btnEnableAutorunClick(QObject *Sender);
    void btnDeleteAutorunClick(QObject *Sender);
    void btnRefreshAutorunListClick(QObject *Sender);

    // ---- network page ----
    class TNetworkMonitor *objNetworkMonitor = nullptr;
    class QChartView *chtNetTraffic = nullptr;
    class QLineSeries *tsTrafficMonitor = nullptr, *tsTrafficSend = nullptr, *tsTrafficReceive = nullptr;
    class QValueAxis *axTrafficBottom = nullptr, *axTrafficLeft = nullptr;
    class QComboBox *cbbInterfaceList = nullptr;
    TLabel *lblTrafficTitle = nullptr, *lblTrafficSend = nullptr, *lblTrafficReceive = nullptr;
    TPicButton *btnTerminateConnection = nullptr, *btnRefreshConnectionList = nullptr;
    // Position in cbbInterfaceList -> index in the monitor's interface list.
    QList<int> InterfaceMap;
    // The remembered position of cbbInterfaceList across refills.
    int InterfaceListTag = 0;

    void BuildNetworkPage(QLayout *Layout);
    void FillConnectionList(bool HideLocal);
    void RefreshConnectionList(bool HideLocal);
    void FillInterfaceList();
    bool IsLocalConnection(const class TConnectionItem *Item) const;
    class TConnectionItem *SelectedConnection() const;
    void ConnectionCommand(quint8 Code);
    void UpdateConnectionButtons();
    void TrafficTick();
    void lvConnectionsSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvConnectionsClick(QObject *Sender);
    void lvConnectionsMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvConnectionsColumnClick(QObject *Sender, int Column);
    int lvConnectionsCompare(QObject *Sender, QTreeWidgetItem *A, QTreeWidgetItem *B);
    void chkHideLocalConnectionsClick(QObject *Sender);
    void btnRefreshConnectionListClick(QObject *Sender);
    void btnTerminateConnectionClick(QObject *Sender);
    void cbbInterfaceListChange(QObject *Sender);
    void chtNetTrafficClickLegend(QObject *Sender);

    // ---- system page ----
    class TSystemStatus *objSystemStatus = nullptr;
    TSkinGroupBox *grpSysVersion = nullptr, *grpSysPM = nullptr, *grpSysPF = nullptr, *grpSysKM = nullptr,
                    *grpSysCount = nullptr, *grpSysTime = nullptr;
    TLabel *lblSysVersion = nullptr;
    TLabel *lblSysPM = nullptr, *lblSysPMValue = nullptr, *lblSysPF = nullptr, *lblSysPFValue = nullptr;
    TLabel *lblSysKM = nullptr, *lblSysKMValue = nullptr, *lblSysCount = nullptr, *lblSysCountValue = nullptr;
    TLabel *lblSysTime = nullptr, *lblSysTimeValue = nullptr;
    class QLineSeries *tsCPU = nullptr, *tsPM = nullptr, *tsPF = nullptr;
    // Whether the CPU chart's legend entries switch their lines on and off.
    bool SysCPULegendCheckBoxes = true;
    void BuildSystemPage();
    void SystemTick();
    // Puts another status component (made over a scripted source) in place of the form's own and
    // builds the page anew on it; the form takes ownership.
    void UseSystemStatus(class TSystemStatus *Status);
    void BuildSystemControls();
    void WriteSystemValues();

    // ---- update check and about box ----
    class THttpGet *objHttpGet = nullptr;
    // Where the update's files lie: the program directory (tests point it at their own).
    QString UpdateDir;
    void BuildUpdateCheck();
    void DeleteUpdateFiles();
    bool CheckUpdate();
    // False on a display-less run that no test server was named for: such a run never goes
    // out to the network.
    bool UpdateCheckAllowed() const;
    // The version text with the dictionary's version read afresh.
    QString UpdateVersionText() const;
    void objHttpGetProcess(QObject *Sender, qint32 CurrentSize, qint32 TotalSize);
    void objHttpGetGetFileCompleted(QObject *Sender, const QString &FileName, qint32 FileSize);
    void objHttpGetError(QObject *Sender);
    // True when the offered version is newer than the own one, compared field by field as
    // numbers over the first `Fields` fields; a missing or unreadable field means not newer.
    static bool IsNewerVersion(const QString &Offered, const QString &Own, QChar Delimiter, int Fields);
    // Splits at the delimiter and at blanks; double quotes enclose a field.
    static QStringList SplitDelimited(const QString &Text, QChar Delimiter);
    // The maker's web address of a path.
    static QString UpdateURL(const QString &Path);

    // ---- details panel ----
    class TFileProperties *objFileProperties = nullptr;
    TPicButton *btnRefreshDetails = nullptr, *btnNailUp = nullptr, *btnNailDown = nullptr,
               *btnDetailsClose = nullptr;
    // The panel's frame; the top pieces form the band that holds the title and the buttons.
    TImage *imgDetailsBorder_TopLeft = nullptr, *imgDetailsBorder_Top = nullptr, *imgDetailsBorder_TopRight = nullptr;
    TImage *imgDetailsBorder_Left = nullptr, *imgDetailsBorder_Right = nullptr;
    TImage *imgDetailsBorder_BottomLeft = nullptr, *imgDetailsBorder_Bottom = nullptr,
           *imgDetailsBorder_BottomRight = nullptr;
    // Adds the panel's frame, title buttons and the file-properties component to the panel
    // BuildPages made.
    void BuildDetailsPanel();
    // Lays the frame pieces around the panel's current size.
    void PlaceDetailsFrame();
    // One "label: value" line at the caret; the label bold navy, the value regular black.
    void AddDetailLine(const QString &Label, const QString &Value, bool LineBreak);
    void SetDetailsPinned(bool Pinned);
    // The four lists' widths for the panel's place and pin state (kept while the form resizes).
    void FitListsToDetails();
    // The lines of one item kind; false (with the hint text) when the page has no selected item.
    bool FillProcessDetails();
    bool FillServiceDetails();
    bool FillAutorunDetails();
    bool FillConnectionDetails();
    // The four version lines of a file, through objFileProperties, which is cleared afterwards.
    void AddFileVersionLines(const QString &FileName);
    void btnRefreshDetailsClick(QObject *Sender);
    void btnNailUpClick(QObject *Sender);
    void btnNailDownClick(QObject *Sender);
    void btnDetailsCloseClick(QObject *Sender);

    // ---- work that later pages fill ----------------------------------------------------------
    // Counts shown in the status texts of the list pages.
    int ProcessCount() const;
    int ServiceCount() const;
    // The services page's status line; says so when the service manager cannot be reached.
    QString ServiceStatusText() const;
    int AutorunCount() const;
    int TcpCount() const;
    int UdpCount() const;

protected:
    void closeEvent(QCloseEvent *Event) override;
    void showEvent(QShowEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

    // Steps of FormCreate and of page selection that belong to the pages, the details panel and the
    // update check.
    bool EnableDebugPrivilege();
    QString ProgramVersionText() const;
    QString DictionaryVersionText() const;
    void InitNetworkPage();
    void InitSystemPage();
    void DeleteDownloadFiles();
    void StartUpdateCheck();
    void StopUpdateCheck();
    void FillPage(int Page);
    void UpdatePageButtons(int Page);
    void LayoutDetailsPanel();
    void FillDetails();
    void ShowAboutBox();
    void tmrTrafficTimer(QObject *Sender);
    void tmrSystemTimer(QObject *Sender);

private:
    void BuildForm();
    void BuildFrame();
    void BuildLeftMenu();
    void BuildPages();
    void BuildSearchBox();
    void BuildProcessPage(QLayout *Layout);
    void AddProcessRow(TProcessItem *Item, bool BlankZeroCounters);
    void RunProcessCommand(quint8 Command, int Param, const TProcessAffinityParam *Affinity);
    bool ProcessListEvent(QObject *Watched, QEvent *Event);
    void SelectPage(QObject *Sender, int Page);
    void SetAnchors(QWidget *Control, bool Left, bool Top, bool Right, bool Bottom);
    void ApplyAnchors(const QSize &From, const QSize &To);
    void TitleMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    static void TabChanged(TTabPanel *Sender, void *Param);

    struct TAnchors
    {
        bool Left, Top, Right, Bottom;
    };
    QHash<QWidget *, TAnchors> m_Anchors;
    QSize m_LaidOutSize;
    bool m_Closed = false;
    // Dragging by hand where the window system does not move the window itself.
    bool m_ManualDrag = false;
    QPoint m_DragOffset;
    const QEvent *m_LastKeyEvent = nullptr;
    QPointer<QWidget> m_NextKeyReceiver;
};
