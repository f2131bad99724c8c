#include "ui/frmMain.h"

#include "dictdb/DBTools.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/RegularFile.h"
#include "platform/shell/Shell.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/PageCommon.h"
#include "ui/PageSwitcher.h"
#include "ui/PngImage.h"
#include "ui/UiHooks.h"
#include "ui/frmAbout.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainSystem.h"
#include "ui/frmMainUpdate.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSessionManager>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// Frame measures of the 800 x 600 client area.
constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;
constexpr int kBorder = 5;
constexpr int kTitleHeight = 30;
constexpr int kBarHeight = 36;
constexpr int kMenuWidth = 130;
constexpr int kStatusHeight = 24;
// The pages start this far right of the menu's left edge; folding the menu moves them by it.
constexpr int kMenuFold = 133;
constexpr int kPagesTop = kTitleHeight + kBarHeight + 3;

const QColor kFormColor(0xEB, 0xEB, 0xEB);
const QColor kHintColor(0xC0, 0xC0, 0xC0);

struct TSearchEngine
{
    const char16_t *Name;
    const char16_t *Caption;
    const char16_t *Template;
};

const TSearchEngine kSearchEngines[3] = {
    {u"百度搜索", u"百度(Baidu)", u"http://www.baidu.com/s?word=%s"},
    {u"谷歌搜索", u"谷歌(Google)", u"http://www.google.com/search?&q=%s"},
    {u"雅虎搜索", u"雅虎(Yahoo)", u"http://search.yahoo.com/search?p=%s"},
};

struct TPageInfo
{
    const char16_t *Caption;
    const char *Picture;
};

const TPageInfo kPages[6] = {
    {u"进程管理", "menu_process"}, {u"服务管理", "menu_service"}, {u"启动配置", "menu_autorun"},
    {u"网络监控", "menu_network"}, {u"系统信息", "menu_system"},  {u"软件设置", "menu_config"},
};

template <typename T>
T *Named(T *Object, const char *Name)
{
    Object->setObjectName(QLatin1String(Name));
    return Object;
}

} // namespace

TFormMain::TFormMain(QWidget *AOwner, platform::processes::ProcessSource *ProcessSource)
    : QWidget(AOwner, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("FormMain"));
    BuildForm();
    BuildPages(ProcessSource);
    FormCreate(this);
}

TFormMain::~TFormMain()
{
    qApp->removeEventFilter(this);
    for (QTimer *t : {tmrProcess, tmrTraffic, tmrSystem})
        t->stop();
    // The pages go while the form is whole: their lists' rows sort and paint through them, and
    // their handlers reach the form. The lists go first, then the pages.
    for (TListPage *page : {static_cast<TListPage *>(NetworkPage.get()), static_cast<TListPage *>(AutorunPage.get()),
                            static_cast<TListPage *>(ServicePage.get()), static_cast<TListPage *>(ProcessPage.get())})
        if (page)
            page->DropList();
    UpdateCheck.reset();
    NetworkPage.reset();
    SystemPage.reset();
    AutorunPage.reset();
    ServicePage.reset();
    ProcessPage.reset();
    Details.reset();
    // A frame left on screen by a drag that never ended goes with the form.
    if (ResizeFrameWindow())
        DrawResizeFrame(QRect(), 2, 4);
}

// ---- building the form ---------------------------------------------------------------------

void TFormMain::SetAnchors(QWidget *Control, bool Left, bool Top, bool Right, bool Bottom)
{
    m_Anchors.insert(Control, {Left, Top, Right, Bottom});
}

// Children keep their distance to the anchored edges when the form changes size.
void TFormMain::ApplyAnchors(const QSize &From, const QSize &To)
{
    const int dw = To.width() - From.width();
    const int dh = To.height() - From.height();
    if (dw == 0 && dh == 0)
        return;
    for (auto it = m_Anchors.cbegin(); it != m_Anchors.cend(); ++it) {
        QWidget *c = it.key();
        QRect g = c->geometry();
        const TAnchors &a = it.value();
        if (a.Right && a.Left)
            g.setWidth(g.width() + dw);
        else if (a.Right)
            g.moveLeft(g.left() + dw);
        if (a.Bottom && a.Top)
            g.setHeight(g.height() + dh);
        else if (a.Bottom)
            g.moveTop(g.top() + dh);
        c->setGeometry(g);
    }
}

void TFormMain::BuildForm()
{
    setWindowTitle(QStringLiteral("Taskvane"));
    setFont(PageFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kFormColor);
    setPalette(pal);
    setAutoFillBackground(true);
    resize(kClientWidth, kClientHeight);
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
    m_LaidOutSize = QSize(kClientWidth, kClientHeight);
    const QPixmap icon = LoadPicture(QStringLiteral("logo"));
    if (!icon.isNull())
        setWindowIcon(QIcon(icon));

    BuildFrame();
    BuildLeftMenu();
    BuildSearchBox();

    pnlWaiting = Named(new TSkinImagePanel(this), "pnlWaiting");
    pnlWaiting->resize(300, 160);
    pnlWaiting->SetCaption(QStringLiteral("..."));
    pnlWaiting->SetColor(QColor(0xF7, 0xF9, 0xFC));
    pnlWaiting->setFrameShape(QFrame::Box);
    pnlWaiting->setFont(PageFont(13, true));
    pnlWaiting->hide();

    tmrProcess = Named(new QTimer(this), "tmrProcess");
    tmrTraffic = Named(new QTimer(this), "tmrTraffic");
    tmrSystem = Named(new QTimer(this), "tmrSystem");
    for (QTimer *t : {tmrProcess, tmrTraffic, tmrSystem})
        t->setInterval(1000);
    connect(tmrProcess, &QTimer::timeout, this, [this] { tmrProcessTimer(tmrProcess); });
    connect(tmrTraffic, &QTimer::timeout, this, [this] { tmrTrafficTimer(tmrTraffic); });
    connect(tmrSystem, &QTimer::timeout, this, [this] { tmrSystemTimer(tmrSystem); });

    alActions = Named(new QActionGroup(this), "alActions");
    actHelp = Named(new QAction(this), "actHelp");
    actHelp->setShortcut(QKeySequence(Qt::Key_F1));
    alActions->addAction(actHelp);
    addAction(actHelp);
    connect(actHelp, &QAction::triggered, this, [this] { actHelpExecute(actHelp); });

    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &M) { OnQureyEndSession(M); });
    // The form sees keys before its controls do.
    qApp->installEventFilter(this);
}

void TFormMain::BuildFrame()
{
    const int w = kClientWidth, h = kClientHeight;
    auto image = [this](const char *Name, const char *Picture, const QRect &G, bool Stretch) {
        auto *img = Named(new TImage(this), Name);
        img->SetPicture(LoadPicture(QLatin1String(Picture)));
        img->SetStretch(Stretch);
        img->setGeometry(G);
        return img;
    };
    imgMainBorder_TopLeft = image("imgMainBorder_TopLeft", "border_topleft", QRect(0, 0, kBorder, kTitleHeight), false);
    imgMainBorder_Top =
        image("imgMainBorder_Top", "border_top", QRect(kBorder, 0, w - 2 * kBorder, kTitleHeight), true);
    imgMainBorder_TopRight =
        image("imgMainBorder_TopRight", "border_topright", QRect(w - kBorder, 0, kBorder, kTitleHeight), false);
    imgMainBorder_Left =
        image("imgMainBorder_Left", "border_left", QRect(0, kTitleHeight, kBorder, h - kTitleHeight - kBorder), true);
    imgMainBorder_Right = image("imgMainBorder_Right", "border_right",
                                QRect(w - kBorder, kTitleHeight, kBorder, h - kTitleHeight - kBorder), true);
    imgMainBorder_BottomLeft =
        image("imgMainBorder_BottomLeft", "border_bottomleft", QRect(0, h - kBorder, kBorder, kBorder), false);
    imgMainBorder_Bottom =
        image("imgMainBorder_Bottom", "border_bottom", QRect(kBorder, h - kBorder, w - 2 * kBorder, kBorder), true);
    imgMainBorder_BottomRight = image("imgMainBorder_BottomRight", "border_bottomright",
                                      QRect(w - kBorder, h - kBorder, kBorder, kBorder), false);
    SetAnchors(imgMainBorder_Top, true, true, true, false);
    SetAnchors(imgMainBorder_TopRight, false, true, true, false);
    SetAnchors(imgMainBorder_Left, true, true, false, true);
    SetAnchors(imgMainBorder_Right, false, true, true, true);
    SetAnchors(imgMainBorder_BottomLeft, true, false, false, true);
    SetAnchors(imgMainBorder_Bottom, true, false, true, true);
    SetAnchors(imgMainBorder_BottomRight, false, false, true, true);

    imgIcon = image("imgIcon", "icon", QRect(9, 7, 16, 16), false);
    lblTitle = Named(new TLabel(this), "lblTitle");
    lblTitle->setGeometry(31, 0, 400, kTitleHeight);
    lblTitle->setFont(PageFont(13, true));
    {
        QPalette p = lblTitle->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        lblTitle->setPalette(p);
    }
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto titleButton = [this](const char *Name, const char *Pictures, int Right) {
        auto *b = Named(new TPicButton(this), Name);
        b->LoadStatePictures(QLatin1String(Pictures));
        b->SetEnableTransparentColor(true);
        b->SetTransparent(true);
        b->setGeometry(kClientWidth - kBorder - Right, 1, 28, 20);
        SetAnchors(b, false, true, true, false);
        return b;
    };
    btnClose = titleButton("btnClose", "btn_close", 28);
    btnMax = titleButton("btnMax", "btn_max", 56);
    btnMin = titleButton("btnMin", "btn_min", 84);
    btnAbout = titleButton("btnAbout", "btn_about", 112);
    btnAbout->setToolTip(QStringLiteral("关于..."));
    btnAbout->OnClick = [this](QObject *S) { btnAboutClick(S); };
    btnClose->OnClick = [this](QObject *S) { btnCloseClick(S); };

    imgTopBar = image("imgTopBar", "topbar",
                      QRect(kBorder + kMenuWidth, kTitleHeight, w - 2 * kBorder - kMenuWidth, kBarHeight), true);
    SetAnchors(imgTopBar, true, true, true, false);
    lblTopBarInfo = Named(new TLabel(this), "lblTopBarInfo");
    lblTopBarInfo->setGeometry(kBorder + kMenuWidth + 10, kTitleHeight, 380, kBarHeight);
    lblTopBarInfo->setFont(PageFont(12, true));
    {
        QPalette p = lblTopBarInfo->palette();
        p.setColor(QPalette::WindowText, QColor(0x1F, 0x4F, 0x8F));
        lblTopBarInfo->setPalette(p);
    }

    lblStatusBar = Named(new TLabel(this), "lblStatusBar");
    lblStatusBar->setGeometry(kBorder + 6, h - kBorder - kStatusHeight, 300, kStatusHeight);
    lblStatusBar->setText(QStringLiteral("CPU: 00% | MEM: 00%"));
    SetAnchors(lblStatusBar, true, false, false, true);
    lblVersion = Named(new TLabel(this), "lblVersion");
    lblVersion->setGeometry(w - kBorder - 6 - 360, h - kBorder - kStatusHeight, 360, kStatusHeight);
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetAnchors(lblVersion, false, false, true, true);
    for (TLabel *l : {lblStatusBar, lblVersion}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0x40, 0x48, 0x55));
        l->setPalette(p);
    }

    imgMainBorder_Resize = image("imgMainBorder_Resize", "grip", QRect(w - 10, h - 10, 10, 10), false);
    imgMainBorder_Resize->setCursor(Qt::SizeFDiagCursor);
    SetAnchors(imgMainBorder_Resize, false, false, true, true);
    imgMainBorder_Resize->OnMouseDown = [this](QObject *S, Qt::MouseButton B, Qt::KeyboardModifiers M, int X, int Y) {
        imgMainBorder_ResizeMouseDown(S, B, M, X, Y);
    };
    imgMainBorder_Resize->OnMouseMove = [this](QObject *S, Qt::MouseButtons B, int X, int Y) {
        imgMainBorder_ResizeMouseMove(S, B, X, Y);
    };
    imgMainBorder_Resize->OnMouseUp = [this](QObject *S, Qt::MouseButton B, Qt::KeyboardModifiers M, int X, int Y) {
        imgMainBorder_ResizeMouseUp(S, B, M, X, Y);
    };
}

void TFormMain::BuildLeftMenu()
{
    imgLeftMenuTitle = Named(new TImage(this), "imgLeftMenuTitle");
    imgLeftMenuTitle->SetPicture(LoadPicture(QStringLiteral("leftmenu_title")));
    imgLeftMenuTitle->setGeometry(kBorder, kTitleHeight, kMenuWidth, kBarHeight);

    btnLeftMenu_Title = Named(new TPicButton(this), "btnLeftMenu_Title");
    btnLeftMenu_Title->setGeometry(kBorder, kTitleHeight, kMenuWidth, kBarHeight);
    btnLeftMenu_Title->LoadStatePictures(QStringLiteral("menutitle"));
    btnLeftMenu_Title->SetCaption(QStringLiteral("功能菜单"));
    btnLeftMenu_Title->SetTextAlign(alCustom);
    btnLeftMenu_Title->SetTextX(14);
    btnLeftMenu_Title->SetTextY(10);
    btnLeftMenu_Title->SetFont(PageFont(13, true));
    btnLeftMenu_Title->SetFontColor(Qt::white);
    btnLeftMenu_Title->OnClick = [this](QObject *S) { btnLeftMenu_TitleClick(S); };

    const int bodyHeight = kClientHeight - kTitleHeight - kBarHeight - kBorder - kStatusHeight;
    imgLeftMenuBody = Named(new TImage(this), "imgLeftMenuBody");
    imgLeftMenuBody->SetPicture(LoadPicture(QStringLiteral("leftmenu_body")));
    imgLeftMenuBody->SetStretch(true);
    imgLeftMenuBody->setGeometry(kBorder, kTitleHeight + kBarHeight, kMenuWidth, bodyHeight);
    SetAnchors(imgLeftMenuBody, true, true, false, true);

    pnlLeftMenu = Named(new TSkinImagePanel(this), "pnlLeftMenu");
    pnlLeftMenu->SetTransparent(true);
    pnlLeftMenu->setGeometry(kBorder, kTitleHeight + kBarHeight, kMenuWidth, 6 + 44 * 6);

    TPicButton **buttons[6] = {&btnLeftMenu_Process, &btnLeftMenu_Service, &btnLeftMenu_Autorun,
                               &btnLeftMenu_Network, &btnLeftMenu_System,  &btnLeftMenu_Config};
    const char *names[6] = {"btnLeftMenu_Process", "btnLeftMenu_Service", "btnLeftMenu_Autorun",
                            "btnLeftMenu_Network", "btnLeftMenu_System",  "btnLeftMenu_Config"};
    for (int i = 0; i < 6; ++i) {
        auto *b = Named(new TPicButton(pnlLeftMenu), names[i]);
        b->setGeometry(4, 6 + 44 * i, 122, 40);
        b->LoadStatePictures(QLatin1String(kPages[i].Picture));
        b->SetEnableTransparentColor(true);
        b->SetTransparent(true);
        b->SetCaption(QString::fromUtf16(kPages[i].Caption));
        b->SetTextAlign(alCustom);
        b->SetTextX(44);
        b->SetTextY(12);
        b->SetFont(PageFont(13));
        b->SetFontColor(QColor(0x1F, 0x3A, 0x60));
        b->SetEnableStatesFont(true);
        b->SetFontMouseHover(PageFont(13));
        b->SetFontMouseHoverColor(QColor(0x1F, 0x4F, 0x8F));
        b->SetFontMouseDown(PageFont(13));
        b->SetFontMouseDownColor(QColor(0x1F, 0x4F, 0x8F));
        b->SetFontDisabled(PageFont(13, true));
        b->SetFontDisabledColor(Qt::white);
        *buttons[i] = b;
    }
    btnLeftMenu_Process->OnClick = [this](QObject *S) { btnLeftMenu_ProcessClick(S); };
    btnLeftMenu_Service->OnClick = [this](QObject *S) { btnLeftMenu_ServiceClick(S); };
    btnLeftMenu_Autorun->OnClick = [this](QObject *S) { btnLeftMenu_AutorunClick(S); };
    btnLeftMenu_Network->OnClick = [this](QObject *S) { btnLeftMenu_NetworkClick(S); };
    btnLeftMenu_System->OnClick = [this](QObject *S) { btnLeftMenu_SystemClick(S); };
    btnLeftMenu_Config->OnClick = [this](QObject *S) { btnLeftMenu_ConfigClick(S); };
}

void TFormMain::BuildPages(platform::processes::ProcessSource *ProcessSource)
{
    const QRect pageRect(kBorder + kMenuFold, kPagesTop, kClientWidth - kBorder - 3 - (kBorder + kMenuFold),
                         kClientHeight - kBorder - kStatusHeight - kPagesTop);
    TSkinImagePanel **pages[6] = {&pnlTab_Process, &pnlTab_Service, &pnlTab_Autorun,
                                  &pnlTab_Network, &pnlTab_System,  &pnlTab_Config};
    const char *names[6] = {"pnlTab_Process", "pnlTab_Service", "pnlTab_Autorun",
                            "pnlTab_Network", "pnlTab_System",  "pnlTab_Config"};
    for (int i = 0; i < 6; ++i) {
        auto *page = Named(new TSkinImagePanel(this), names[i]);
        page->setGeometry(pageRect);
        page->SetColor(kFormColor);
        page->hide();
        SetAnchors(page, true, true, true, true);
        *pages[i] = page;
    }

    Details = std::make_unique<TDetailsPanel>(this, QRect(pageRect.right() + 1 - 300, kPagesTop, 300, 459));
    SetAnchors(Details->pnlDetails, false, true, true, true);
    // What the program writes lies in the user's data directory, handed to every component that
    // writes; what it ships is read from the program directory or the shared data folder beside it.
    DataDir = platform::shell::UserDataDir();
    QString programDir;
    GetAppPath(programDir);
    TDictFiles dictionary;
    // The user's copy counts only while it is the user's alone (the update writes it so).
    if (!DataDir.isEmpty() &&
        (!platform::files::PathExists(DataDir + QStringLiteral("Ravel.db")) ||
         platform::files::IsOwnFile(DataDir + QStringLiteral("Ravel.db"))))
        dictionary.UserFile = DataDir + QStringLiteral("Ravel.db");
    for (const QString &dir : platform::shell::ProgramDataDirs(programDir))
        dictionary.ShippedFiles << dir + QStringLiteral("Ravel.db");
    dictionary.IsNewer = [](const QString &Offered, const QString &Own) {
        return TUpdateCheck::IsNewerVersion(Offered, Own, QLatin1Char('-'), 3);
    };
    SetDictFiles(dictionary);

    const TPageContext context{this, Details.get(), lblTopBarInfo, DataDir};
    ProcessPage = std::make_unique<TProcessPage>(context, pnlTab_Process, ProcessSource);
    ServicePage = std::make_unique<TServicePage>(context, pnlTab_Service);
    AutorunPage = std::make_unique<TAutorunPage>(context, pnlTab_Autorun);
    NetworkPage = std::make_unique<TNetworkPage>(context, pnlTab_Network, ProcessPage.get(), tmrTraffic);
    SystemPage = std::make_unique<TSystemPage>(pnlTab_System, lblStatusBar);
    UpdateCheck = std::make_unique<TUpdateCheck>(lblVersion, DataDir);
    // The waiting panel and the search menu stay above the pages.
    pnlWaiting->raise();
    Details->pnlDetails->raise();
}

void TFormMain::BuildSearchBox()
{
    pnlSearch = Named(new TSkinImagePanel(this), "pnlSearch");
    pnlSearch->SetPicture(LoadPicture(QStringLiteral("search_box")));
    pnlSearch->setGeometry(kClientWidth - kBorder - 8 - 222, kTitleHeight + (kBarHeight - 24) / 2, 222, 24);
    SetAnchors(pnlSearch, false, true, true, false);

    // The focus sink sits under the engine button, out of sight.
    edtSearch2 = Named(new QLineEdit(pnlSearch), "edtSearch2");
    edtSearch2->setFrame(false);
    edtSearch2->setGeometry(2, 8, 44, 8);

    btnSearchMenu = Named(new TPicButton(pnlSearch), "btnSearchMenu");
    btnSearchMenu->setGeometry(1, 1, 30, 22);
    btnSearchMenu->SetPictureAlign(alCenter);
    btnSearchMenu->SetColor(Qt::white);
    btnSearchMenu->setToolTip(QStringLiteral("搜索引擎"));
    btnSearchMenu->setCursor(Qt::PointingHandCursor);
    btnSearchMenu->OnClick = [this](QObject *S) { btnSearchMenuClick(S); };

    edtSearch = Named(new QLineEdit(pnlSearch), "edtSearch");
    edtSearch->setFrame(false);
    edtSearch->setGeometry(35, 3, 160, 18);
    edtSearch->setFont(PageFont(12));
    {
        QPalette p = edtSearch->palette();
        p.setColor(QPalette::Text, Qt::black);
        p.setColor(QPalette::PlaceholderText, kHintColor);
        p.setColor(QPalette::Base, Qt::white);
        edtSearch->setPalette(p);
    }
    connect(edtSearch, &QLineEdit::textChanged, this, [this] { edtSearchChange(edtSearch); });
    edtSearch->installEventFilter(this);
    edtSearch2->installEventFilter(this);

    btnSearch = Named(new TPicButton(pnlSearch), "btnSearch");
    btnSearch->setGeometry(197, 1, 24, 22);
    btnSearch->LoadStatePictures(QStringLiteral("btn_search"));
    btnSearch->SetEnableTransparentColor(true);
    btnSearch->SetColor(Qt::white);
    btnSearch->setCursor(Qt::PointingHandCursor);
    btnSearch->OnClick = [this](QObject *S) { btnSearchClick(S); };

    pmSearch = Named(new QMenu(this), "pmSearch");
    pmSearch->setFont(PageFont(12));
    QAction **items[3] = {&mniSearch_Baidu, &mniSearch_Google, &mniSearch_Yahoo};
    const char *names[3] = {"mniSearch_Baidu", "mniSearch_Google", "mniSearch_Yahoo"};
    for (int i = 0; i < 3; ++i) {
        auto *a = Named(new QAction(pmSearch), names[i]);
        a->setText(QString::fromUtf16(kSearchEngines[i].Caption));
        const QPixmap glyph = LoadPicture(QStringLiteral("engine_%1").arg(i));
        if (!glyph.isNull())
            a->setIcon(QIcon(glyph));
        pmSearch->addAction(a);
        *items[i] = a;
    }
    connect(mniSearch_Baidu, &QAction::triggered, this, [this] { mniSearch_BaiduClick(mniSearch_Baidu); });
    connect(mniSearch_Google, &QAction::triggered, this, [this] { mniSearch_GoogleClick(mniSearch_Google); });
    connect(mniSearch_Yahoo, &QAction::triggered, this, [this] { mniSearch_YahooClick(mniSearch_Yahoo); });
}

// ---- creation and closing ------------------------------------------------------------------

void TFormMain::FormCreate(QObject *)
{
    EnablePrivilege(QStringLiteral("SeDebugPrivilege"));
    MinWidth = 620;
    MinHeight = 450;
    setMinimumSize(MinWidth, MinHeight);
    // The window keeps its minimise and maximise entries in the window system's menus.
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    setWindowFlag(Qt::WindowSystemMenuHint, true);

    for (TMouseEvents *piece : std::initializer_list<TMouseEvents *>{lblTitle, imgIcon, imgMainBorder_TopLeft,
                                                                     imgMainBorder_Top, imgMainBorder_TopRight}) {
        piece->OnMouseDown = [this](QObject *S, Qt::MouseButton B, Qt::KeyboardModifiers M, int X, int Y) {
            TitleMouseDown(S, B, M, X, Y);
        };
        piece->OnMouseMove = [this](QObject *S, Qt::MouseButtons B, int X, int Y) { TitleMouseMove(S, B, X, Y); };
        piece->OnMouseUp = [this](QObject *, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
            m_ManualDrag = false;
            m_TitlePressed = false;
        };
        piece->OnDblClick = [this](QObject *S) { ToggleMaximize(S); };
    }
    btnMin->OnClick = [this](QObject *S) { MinimizeClick(S); };
    btnMax->OnClick = [this](QObject *S) { ToggleMaximize(S); };

    TabPanel = std::make_unique<TTabPanel>();
    TabPanel->Add(btnLeftMenu_Process, pnlTab_Process, QString(), false);
    TabPanel->Add(btnLeftMenu_Service, pnlTab_Service, QString(), false);
    TabPanel->Add(btnLeftMenu_Autorun, pnlTab_Autorun, QString(), false);
    TabPanel->Add(btnLeftMenu_Network, pnlTab_Network, QString(), false);
    TabPanel->Add(btnLeftMenu_System, pnlTab_System, QString(), false);
    TabPanel->Add(btnLeftMenu_Config, pnlTab_Config, QString(), false);

    // The lists get the image list before their first rows, so that those show their icons too.
    UseSystemImageList(ProcessPage->lvProcesses);
    UseSystemImageList(AutorunPage->lvAutoruns);

    btnLeftMenu_ProcessClick(btnLeftMenu_Process);

    setWindowTitle(QStringLiteral("Taskvane"));
    lblTitle->setText(QStringLiteral("Taskvane"));
    lblVersion->setText(UpdateCheck->UpdateVersionText());

    for (int i = pgProcess; i <= pgNetwork; ++i) {
        ListPage(i)->SortColumn = -1;
        ListPage(i)->HotColumn = -1;
    }

    SetSearchEngine(0);
    ProcessPage->FillAffinityMenu();
    NetworkPage->FillInterfaceList();
    SystemPage->BuildSystemPage();
    UpdateCheck->DeleteUpdateFiles();
    UpdateCheck->StartUpdateCheck();
    // The timers run from creation until the form closes.
    tmrProcess->start();
    tmrTraffic->start();
    tmrSystem->start();
}

void TFormMain::FormClose(QObject *)
{
    tmrProcess->stop();
    tmrTraffic->stop();
    tmrSystem->stop();
    TabPanel.reset();
    UpdateCheck->StopUpdateCheck();
    UpdateCheck->DeleteUpdateFiles();
}

void TFormMain::FormShow(QObject *)
{
    TrimWorkingSet();
}

void TFormMain::closeEvent(QCloseEvent *Event)
{
    if (!m_Closed) {
        m_Closed = true;
        FormClose(this);
    }
    Event->accept();
}

void TFormMain::showEvent(QShowEvent *Event)
{
    QWidget::showEvent(Event);
    if (!Event->spontaneous())
        FormShow(this);
}

void TFormMain::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    ApplyAnchors(m_LaidOutSize, size());
    m_LaidOutSize = size();
    FormResize(this);
}

void TFormMain::changeEvent(QEvent *Event)
{
    QWidget::changeEvent(Event);
    if (Event->type() != QEvent::WindowStateChange)
        return;
    // A title button that the window left under the pointer (minimised, maximised, restored)
    // shows no hover once the pointer is elsewhere.
    for (TPicButton *b : {btnAbout, btnMin, btnMax, btnClose})
        if (!b->rect().contains(b->mapFromGlobal(QCursor::pos())))
            b->ResetMouseState();
    imgMainBorder_Resize->setEnabled(!isMaximized());
    FormResize(this);
}

void TFormMain::FormResize(QObject *)
{
    // The window manager fits a maximised window to the work area; a size set here would be
    // taken as the normal size and never given back.
    if (SystemPage)
        SystemPage->LayoutCharts();
}

// ---- window behaviour ----------------------------------------------------------------------

void TFormMain::TitleMouseDown(QObject *Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y)
{
    m_ManualDrag = false;
    // The move starts with the first motion beyond the drag distance, not on the press: a window
    // manager that takes the press would never let a double-click through.
    m_TitlePressed = !isMaximized();
    auto *w = qobject_cast<QWidget *>(Sender);
    m_PressPoint = w ? w->mapToGlobal(QPoint(X, Y)) : QCursor::pos();
}

void TFormMain::TitleMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y)
{
    auto *w = qobject_cast<QWidget *>(Sender);
    const QPoint global = w ? w->mapToGlobal(QPoint(X, Y)) : QCursor::pos();
    if (m_ManualDrag) {
        if (Shift != Qt::NoButton && !isMaximized())
            move(global - m_DragOffset);
        return;
    }
    if (!m_TitlePressed || Shift == Qt::NoButton || isMaximized())
        return;
    if ((global - m_PressPoint).manhattanLength() < QApplication::startDragDistance())
        return;
    m_TitlePressed = false;
    QWindow *handle = windowHandle();
    if (handle && handle->startSystemMove())
        return;
    // The window system would not move the window: follow the pointer by hand.
    m_DragOffset = m_PressPoint - pos();
    m_ManualDrag = true;
    move(global - m_DragOffset);
}

void TFormMain::ToggleMaximize(QObject *)
{
    m_ManualDrag = false;
    m_TitlePressed = false;
    if (isMaximized()) {
        showNormal();
        // Where no window manager keeps the size from before, the form puts it back itself.
        if (m_NormalGeometry.isValid() && geometry() != m_NormalGeometry)
            setGeometry(m_NormalGeometry);
        imgMainBorder_Resize->setEnabled(true);
    } else {
        m_NormalGeometry = geometry();
        // The window manager maximises: it knows the work area and keeps the size to go back to.
        showMaximized();
        imgMainBorder_Resize->setEnabled(false);
    }
}

void TFormMain::MinimizeClick(QObject *)
{
    // The pointer leaves the button with the window: no leave event tells the button.
    btnMin->ResetMouseState();
    showMinimized();
}

void TFormMain::btnCloseClick(QObject *)
{
    close();
}

void TFormMain::btnAboutClick(QObject *)
{
    ShowAboutBox();
}

void TFormMain::actHelpExecute(QObject *) {}

bool TFormMain::OnQureyEndSession(QSessionManager &)
{
    return true;
}

void TFormMain::RestoreAndRaise()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible())
        show();
    raise();
    activateWindow();
}

void TFormMain::imgMainBorder_ResizeMouseDown(QObject *, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    DrawResizeFrame(geometry(), 0, 4);
}

void TFormMain::imgMainBorder_ResizeMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y)
{
    if (!(Shift & Qt::LeftButton))
        return;
    auto *w = qobject_cast<QWidget *>(Sender);
    QPoint p = w ? w->mapToGlobal(QPoint(X, Y)) : QCursor::pos();
    const QRect g = geometry();
    p.setX(qMax(p.x(), g.left() + MinWidth));
    p.setY(qMax(p.y(), g.top() + MinHeight));
    DrawResizeFrame(QRect(g.topLeft(), QSize(p.x() - g.left(), p.y() - g.top())), 1, 4);
}

void TFormMain::imgMainBorder_ResizeMouseUp(QObject *Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y)
{
    auto *w = qobject_cast<QWidget *>(Sender);
    const QPoint p = w ? w->mapToGlobal(QPoint(X, Y)) : QCursor::pos();
    DrawResizeFrame(QRect(), 2, 4);
    const QRect g = geometry();
    resize(qMax(MinWidth, p.x() - g.left()), qMax(MinHeight, p.y() - g.top()));
}

// ---- left menu and pages -------------------------------------------------------------------

void TFormMain::TabChanged(TTabPanel *Sender, void *)
{
    if (TTabItem *prev = Sender->PreviousTab())
        prev->Button->setEnabled(true);
    if (TTabItem *cur = Sender->CurrentTab())
        cur->Button->setEnabled(false);
}

TListPage *TFormMain::ListPage(int Page) const
{
    switch (Page) {
    case pgProcess:
        return ProcessPage.get();
    case pgService:
        return ServicePage.get();
    case pgAutorun:
        return AutorunPage.get();
    case pgNetwork:
        return NetworkPage.get();
    default:
        return nullptr;
    }
}

QString TFormMain::PageStatusText(int Page) const
{
    if (TListPage *page = ListPage(Page))
        return page->StatusText();
    switch (Page) {
    case pgSystem:
        return QStringLiteral("[系统信息]");
    case pgConfig:
        return QStringLiteral("[软件设置]");
    default:
        return QString();
    }
}

void TFormMain::SelectPage(QObject *Sender, int Page)
{
    if (!TabPanel)
        return; // the form is closing
    TabPanel->SelectButton(qobject_cast<QWidget *>(Sender), &TFormMain::TabChanged, this);
    TListPage *list = ListPage(Page);
    if (list)
        list->FillPage();
    else if (Page == pgSystem)
        SystemPage->BuildSystemPage();
    lblTopBarInfo->setText(PageStatusText(Page));
    if (list) {
        list->UpdateButtons();
        Details->ShowHint();
        Details->SetDetailsPinned(Details->DetailsPinned);
        Details->PlaceBeside(list->List());
        list->SortColumn = -1;
    } else if (Page == pgSystem) {
        Details->pnlDetails->hide();
    }
    Details->Source = list;
    CurrentPage = quint8(Page);
}

void TFormMain::btnLeftMenu_ProcessClick(QObject *Sender)
{
    SelectPage(Sender, pgProcess);
}

void TFormMain::btnLeftMenu_ServiceClick(QObject *Sender)
{
    SelectPage(Sender, pgService);
}

void TFormMain::btnLeftMenu_AutorunClick(QObject *Sender)
{
    SelectPage(Sender, pgAutorun);
}

void TFormMain::btnLeftMenu_NetworkClick(QObject *Sender)
{
    SelectPage(Sender, pgNetwork);
}

void TFormMain::btnLeftMenu_SystemClick(QObject *Sender)
{
    SelectPage(Sender, pgSystem);
}

void TFormMain::btnLeftMenu_ConfigClick(QObject *Sender)
{
    SelectPage(Sender, pgConfig);
}

void TFormMain::btnLeftMenu_TitleClick(QObject *)
{
    const bool folding = pnlLeftMenu->isVisibleTo(this);
    auto listBar = [this](int Page) {
        const TListPage *page = ListPage(Page);
        return (page && page->List()) ? page->List()->horizontalScrollBar() : nullptr;
    };
    if (folding) {
        for (int i = pgProcess; i <= pgNetwork; ++i)
            if (const QScrollBar *bar = listBar(i))
                m_FoldScroll[i].Wanted = bar->value();
    }
    pnlLeftMenu->setVisible(!pnlLeftMenu->isVisible());
    imgLeftMenuBody->setVisible(!imgLeftMenuBody->isVisible());
    const int d = pnlLeftMenu->isVisibleTo(this) ? -kMenuFold : kMenuFold;
    // The chevron points the way the menu goes on the next click.
    btnLeftMenu_Title->LoadStatePictures(pnlLeftMenu->isVisibleTo(this) ? QStringLiteral("menutitle")
                                                                        : QStringLiteral("menutitle_folded"));
    for (QWidget *page : {static_cast<QWidget *>(pnlTab_Process), static_cast<QWidget *>(pnlTab_Service),
                          static_cast<QWidget *>(pnlTab_Network), static_cast<QWidget *>(pnlTab_Autorun),
                          static_cast<QWidget *>(pnlTab_System)}) {
        QRect g = page->geometry();
        g.setLeft(g.left() - d);
        page->setGeometry(g);
    }
    // The lists keep their horizontal position; one the wider list cannot reach comes back when
    // the menu unfolds.
    for (int i = pgProcess; i <= pgNetwork; ++i) {
        QScrollBar *bar = listBar(i);
        if (!bar)
            continue;
        if (folding)
            m_FoldScroll[i].Left = bar->value();
        else if (bar->value() == m_FoldScroll[i].Left)
            bar->setValue(m_FoldScroll[i].Wanted);
    }
}

// ---- waiting panel -------------------------------------------------------------------------

void TFormMain::ShowWaiting(const QString &Text)
{
    setEnabled(false);
    pnlWaiting->move(RoundEven(width() / 2.0 - pnlWaiting->width() / 2.0),
                     RoundEven(height() / 2.0 - pnlWaiting->height() / 2.0));
    pnlWaiting->SetCaption(Text);
    pnlWaiting->raise();
    pnlWaiting->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFormMain::HideWaiting()
{
    pnlWaiting->hide();
    setEnabled(true);
}

// ---- search box ----------------------------------------------------------------------------

QString TFormMain::SearchEngineName(int Index)
{
    return (Index >= 0 && Index < 3) ? QString::fromUtf16(kSearchEngines[Index].Name) : QString();
}

QString TFormMain::SearchEngineTemplate(int Index)
{
    return (Index >= 0 && Index < 3) ? QString::fromUtf16(kSearchEngines[Index].Template) : QString();
}

QString TFormMain::SearchAddress(const QString &Template, const QString &Text)
{
    // The text is data, not part of the address: every reserved character is escaped.
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(Text));
    QString address = Template;
    const qsizetype at = address.indexOf(QLatin1String("%s"));
    if (at < 0)
        return address;
    return address.replace(at, 2, encoded);
}

void TFormMain::SetSearchEngine(int Index)
{
    // Only the three engines of the table exist; any other number leaves the choice as it is.
    if (Index < 0 || Index > 2)
        return;
    SearchHint = SearchEngineName(Index);
    edtSearch->clear();
    // The hint is a placeholder: shown grey while the box is empty, never part of its text.
    edtSearch->setPlaceholderText(SearchHint);
    SearchURL = SearchEngineTemplate(Index);
    const QList<QAction *> items = pmSearch->actions();
    if (Index < items.size())
        btnSearchMenu->SetPicNormal(items[Index]->icon().pixmap(16, 16));
    btnSearchMenu->update();
}

void TFormMain::edtSearchChange(QObject *)
{
    // The grey hint shows by itself while the box is empty; typed text is always black.
}

void TFormMain::edtSearchClick(QObject *)
{
    if (!edtSearch->text().isEmpty())
        edtSearch->selectAll();
}

void TFormMain::edtSearchExit(QObject *) {}

void TFormMain::edtSearchMouseLeave(QObject *)
{
    edtSearch2->setFocus(Qt::OtherFocusReason);
}

void TFormMain::edtSearchKeyPress(QObject *Sender, QChar &Key)
{
    if (Key == QChar(13)) {
        btnSearchClick(Sender);
        Key = QChar(0);
    }
}

void TFormMain::btnSearchClick(QObject *)
{
    const QString text = edtSearch->text();
    if (text.trimmed().isEmpty())
        return;
    // Without a browser to open the address the user is told so, not left waiting. The text is
    // the box's as the user sees it: a row's text is made visible when it is put there.
    if (!UiHooks().OpenUrl(SearchAddress(SearchURL, text)))
        ReportFailure(QStringLiteral("网页搜索操作失败！\r\r%1").arg(text));
}

void TFormMain::btnSearchMenuClick(QObject *)
{
    pmSearch->popup(btnSearchMenu->mapToGlobal(QPoint(0, btnSearchMenu->height())));
}

void TFormMain::mniSearch_BaiduClick(QObject *)
{
    SetSearchEngine(0);
}

void TFormMain::mniSearch_GoogleClick(QObject *)
{
    SetSearchEngine(1);
}

void TFormMain::mniSearch_YahooClick(QObject *)
{
    SetSearchEngine(2);
}

void TFormMain::UpdateSearchText()
{
    TListPage *page = ListPage(CurrentPage);
    if (!page)
        return;
    // The value itself: a shown text may carry escapes or end cut short.
    const std::optional<QString> value = page->SearchValue(page->HotColumn);
    if (!value)
        return;
    QString text = *value;
    if (text.trimmed().isEmpty())
        text = page->SearchValue(-1).value_or(QString());
    if (text.compare(QLatin1String("N/A"), Qt::CaseInsensitive) == 0 || text.trimmed().isEmpty())
        text.clear();
    edtSearch->setText(text);
}

// ---- keyboard ------------------------------------------------------------------------------

void TFormMain::FormKeyPress(QObject *, QChar &Key)
{
    if (Key == QChar(27))
        Details->EscapePressed();
}

bool TFormMain::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == edtSearch || Watched == edtSearch2) {
        switch (Event->type()) {
        case QEvent::MouseButtonRelease:
            if (Watched == edtSearch && static_cast<QMouseEvent *>(Event)->button() == Qt::LeftButton)
                edtSearchClick(edtSearch);
            break;
        case QEvent::FocusOut:
            if (Watched == edtSearch)
                edtSearchExit(edtSearch);
            break;
        case QEvent::Leave:
            if (Watched == edtSearch)
                edtSearchMouseLeave(edtSearch);
            break;
        case QEvent::KeyPress: {
            auto *e = static_cast<QKeyEvent *>(Event);
            if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
                QChar key(13);
                edtSearchKeyPress(Watched, key);
                if (key.isNull())
                    return true;
            }
            break;
        }
        default:
            break;
        }
    }
    // The form sees every key of its controls first, once per key: a key that travels up from a
    // control to its parents is not taken again.
    if (Event->type() == QEvent::KeyPress) {
        auto *w = qobject_cast<QWidget *>(Watched);
        const bool propagated = Event == m_LastKeyEvent && w && w == m_NextKeyReceiver;
        if (w && !propagated && w->window() == this) {
            auto *e = static_cast<QKeyEvent *>(Event);
            if (!e->text().isEmpty() || e->key() == Qt::Key_Escape) {
                QChar key = e->key() == Qt::Key_Escape ? QChar(27) : e->text().at(0);
                FormKeyPress(this, key);
                if (key.isNull())
                    return true;
            }
        }
        m_LastKeyEvent = Event;
        m_NextKeyReceiver = w ? w->parentWidget() : nullptr;
    }
    return QWidget::eventFilter(Watched, Event);
}

// ---- timers and the about box -------------------------------------------------------------

void TFormMain::tmrProcessTimer(QObject *Sender)
{
    ProcessPage->tmrProcessTimer(Sender);
}

void TFormMain::tmrTrafficTimer(QObject *Sender)
{
    NetworkPage->tmrTrafficTimer(Sender);
}

void TFormMain::tmrSystemTimer(QObject *Sender)
{
    SystemPage->tmrSystemTimer(Sender);
}

void TFormMain::ShowAboutBox()
{
    auto about = std::make_unique<TFormAbout>(this);
    UiHooks().ExecModal(about.get());
}
