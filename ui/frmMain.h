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
    QCheckBox *chkHideLocalConnections;
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

    // ---- work that later pages fill ----------------------------------------------------------
    // Counts shown in the status texts of the list pages.
    int ProcessCount() const;
    int ServiceCount() const;
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
