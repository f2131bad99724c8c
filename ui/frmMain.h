#pragma once

#include "ui/FormControls.h"
#include "ui/PicButton.h"
#include "ui/frmMainListPage.h"

#include <QHash>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <memory>

class QAction;
class QActionGroup;
class QLineEdit;
class QMenu;
class QSessionManager;
class QTimer;
class TTabPanel;
class TProcessPage;
class TServicePage;
class TAutorunPage;
class TNetworkPage;
class TSystemPage;
class TDetailsPanel;
class TUpdateCheck;

namespace platform::processes {
class ProcessSource;
}

// The one window of the program: borderless, with its own frame, title buttons, left menu, six
// pages, three refresh timers, a waiting panel and a web-search box. Each page is a class of its
// own; the window switches between them.
class TFormMain : public QWidget, public TPageHost
{
    Q_OBJECT
public:
    // Page numbers of the left menu.
    enum : quint8 { pgProcess = 0, pgService, pgAutorun, pgNetwork, pgSystem, pgConfig, PageCount };

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
    TSkinImagePanel *pnlLeftMenu;
    TPicButton *btnLeftMenu_Process, *btnLeftMenu_Service, *btnLeftMenu_Autorun, *btnLeftMenu_Network,
        *btnLeftMenu_System, *btnLeftMenu_Config;
    TSkinImagePanel *pnlTab_Process, *pnlTab_Service, *pnlTab_Autorun, *pnlTab_Network, *pnlTab_System, *pnlTab_Config;
    TSkinImagePanel *pnlWaiting;
    TSkinImagePanel *pnlSearch;
    QLineEdit *edtSearch, *edtSearch2;
    TPicButton *btnSearch, *btnSearchMenu;
    QMenu *pmSearch;
    QAction *mniSearch_Baidu, *mniSearch_Google, *mniSearch_Yahoo;
    QTimer *tmrProcess, *tmrTraffic, *tmrSystem;
    QActionGroup *alActions;
    QAction *actHelp;

    // ---- the pages --------------------------------------------------------------------------
    std::unique_ptr<TDetailsPanel> Details;
    std::unique_ptr<TProcessPage> ProcessPage;
    std::unique_ptr<TServicePage> ServicePage;
    std::unique_ptr<TAutorunPage> AutorunPage;
    std::unique_ptr<TNetworkPage> NetworkPage;
    std::unique_ptr<TSystemPage> SystemPage;
    std::unique_ptr<TUpdateCheck> UpdateCheck;
    // The user's data directory the pages and the update check write to (with a trailing slash;
    // empty when no home was found).
    QString DataDir;

    // ---- state ------------------------------------------------------------------------------
    int MinWidth = 0;
    int MinHeight = 0;
    std::unique_ptr<TTabPanel> TabPanel;
    quint8 CurrentPage = 0;
    QString SearchHint;
    QString SearchURL;

    // ---- handlers ---------------------------------------------------------------------------
    void FormCreate(QObject *Sender);
    void FormClose(QObject *Sender);
    void FormShow(QObject *Sender);
    void FormResize(QObject *Sender);
    void FormKeyPress(QObject *Sender, QChar &Key);
    void imgMainBorder_ResizeMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                       int Y);
    void imgMainBorder_ResizeMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void imgMainBorder_ResizeMouseUp(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                     int Y);
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
    void tmrProcessTimer(QObject *Sender);
    void tmrTrafficTimer(QObject *Sender);
    void tmrSystemTimer(QObject *Sender);

    // ---- routines the pages call ------------------------------------------------------------
    void ShowWaiting(const QString &Text) override;
    void HideWaiting() override;
    void UpdateSearchText() override;
    QWidget *HostWindow() override { return this; }
    void SetSearchEngine(int Index);
    // The list page of a page number (pages 0-3), else null.
    TListPage *ListPage(int Page) const;
    // The status text of a page with the components' current counts.
    QString PageStatusText(int Page) const;

    // Restores a minimised window and brings it to the front (a second start asks for this).
    void RestoreAndRaise();

    // The search engines' names, menu captions and address templates, by engine number.
    static QString SearchEngineName(int Index);
    static QString SearchEngineTemplate(int Index);
    // The address a search opens: the template with the text percent-encoded into it.
    static QString SearchAddress(const QString &Template, const QString &Text);

protected:
    void closeEvent(QCloseEvent *Event) override;
    void showEvent(QShowEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

    void ShowAboutBox();

private:
    void BuildForm();
    void BuildFrame();
    void BuildLeftMenu();
    void BuildPages(platform::processes::ProcessSource *ProcessSource);
    void BuildSearchBox();
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
    // Each list's horizontal position when the menu folded, and where the wider list then stood:
    // unfolding goes back to the first unless the list was scrolled while folded.
    struct TFoldScroll
    {
        int Wanted = 0;
        int Left = 0;
    };
    TFoldScroll m_FoldScroll[pgNetwork + 1];
    QSize m_LaidOutSize;
    bool m_Closed = false;
    // Dragging by hand where the window system does not move the window itself.
    bool m_ManualDrag = false;
    QPoint m_DragOffset;
    // A press on the title waits for the first motion beyond the drag distance.
    bool m_TitlePressed = false;
    QPoint m_PressPoint;
    // The geometry before the last maximise.
    QRect m_NormalGeometry;
    const QEvent *m_LastKeyEvent = nullptr;
    QPointer<QWidget> m_NextKeyReceiver;
};
