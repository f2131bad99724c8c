#include "skin/SkinForm.h"

#include "skin/Skin2Define.h"
#include "skin/SkinMainMenu.h"
#include "skin/SkinPublic.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

// Sizes seen while a form that started maximised settles, counted over all forms.
int FirstSizeCounter = 0;

// A frame the window system reports outside 1..12 pixels (a frameless or not yet shown window
// reports none) is taken as the usual 4.
int SaneFrame(int Value)
{
    return Value <= 0 || Value > 12 ? 4 : Value;
}

} // namespace

QRegion RoundRectRegion(const QRect &Rect, int Ellipse)
{
    if (Rect.isEmpty())
        return {};
    if (Ellipse <= 1)
        return QRegion(Rect);
    const int e = qMin(Ellipse, qMin(Rect.width(), Rect.height()));
    const double a = e / 2.0;
    QRegion region(Rect.adjusted(0, int(a), 0, -int(a)));
    const int rows = int(std::ceil(a));
    for (int i = 0; i < rows; ++i) {
        // Inset of row i from the corner, on the ellipse of diameter e.
        const double dy = a - (i + 0.5);
        const double inset = a - std::sqrt(qMax(0.0, a * a - dy * dy));
        const int in = int(std::lround(inset));
        const int w = Rect.width() - 2 * in;
        if (w <= 0)
            continue;
        region += QRect(Rect.x() + in, Rect.y() + i, w, 1);
        region += QRect(Rect.x() + in, Rect.y() + Rect.height() - 1 - i, w, 1);
    }
    return region;
}

QRegion ScanPictureRegion(const QImage &Picture, const QPoint &Origin, int FirstRow, int LastRow,
                          const QColor &Transparent)
{
    QRegion region;
    if (Picture.isNull())
        return region;
    const int h = Picture.height();
    const int w = Picture.width();
    const int first = qBound(0, FirstRow == -1 ? 0 : FirstRow, h);
    const int last = LastRow > first ? qMin(LastRow, h - 1) : h - 1;
    if (first > 0)
        region += QRect(Origin.x(), Origin.y(), w, first);
    const QImage img = Picture.convertToFormat(QImage::Format_RGB32);
    const QRgb key = Transparent.rgb() & 0xFFFFFF;
    for (int y = first; y <= last; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        int x = 0;
        while (x < w) {
            while (x < w && (line[x] & 0xFFFFFF) == key)
                ++x;
            const int start = x;
            while (x < w && (line[x] & 0xFFFFFF) != key)
                ++x;
            if (x > start)
                region += QRect(Origin.x() + start, Origin.y() + y, x - start, 1);
        }
    }
    if (last + 1 < h)
        region += QRect(Origin.x(), Origin.y() + last + 1, w, h - last - 1);
    return region;
}

// ---- creation ----

QEvent::Type TSkinFrameQueryEvent::EventType()
{
    static const auto kType = QEvent::Type(QEvent::registerEventType());
    return kType;
}

namespace {

TSkinBorderStyle BorderStyleOf(const QWidget *Form)
{
    if (Form->windowFlags() & Qt::FramelessWindowHint)
        return TSkinBorderStyle::bsNone;
    const bool fixed =
        Form->minimumSize() == Form->maximumSize() || (Form->windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
    if (Form->windowType() == Qt::Tool)
        return fixed ? TSkinBorderStyle::bsToolWindow : TSkinBorderStyle::bsSizeToolWin;
    if (fixed)
        return Form->windowType() == Qt::Dialog ? TSkinBorderStyle::bsDialog : TSkinBorderStyle::bsSingle;
    return TSkinBorderStyle::bsSizeable;
}

// What the application's main form answers for a child form's frame (0 unanswered).
int AskMainForm(QMdiSubWindow *Child, int Which)
{
    QWidget *main = ApplicationMainForm();
    if (!main && Child->mdiArea())
        main = Child->mdiArea()->window();
    if (!main)
        return 0;
    TSkinFrameQueryEvent query(Which);
    QCoreApplication::sendEvent(main, &query);
    return query.Answer;
}

} // namespace

TSkinForm *TSkinForm::OfForm(const QWidget *Form)
{
    if (!Form)
        return nullptr;
    for (QObject *child : Form->children()) {
        if (auto *skin = qobject_cast<TSkinForm *>(child); skin && skin->Active())
            return skin;
    }
    return nullptr;
}

TSkinForm::TSkinForm(QWidget *AOwner) : QWidget(AOwner)
{
    auto *mdiChild = qobject_cast<QMdiSubWindow *>(AOwner);
    if (!AOwner || (!AOwner->isWindow() && !mdiChild) || OfForm(AOwner))
        return;
    m_Form = AOwner;
    m_MdiChild = mdiChild;
    m_Color = QColorToColor(QApplication::palette().color(QPalette::Button));

    const QRect geo = AOwner->geometry();
    if (mdiChild) {
        // A child form's window frame is known to its parent's main form only.
        auto frame = [](int Value) { return Value < 0 || Value > 12 ? 4 : Value; };
        m_BottomFrame = frame(AskMainForm(mdiChild, 0x87D0));
        m_LeftFrame = frame(AskMainForm(mdiChild, 0x87D1));
    } else {
        const QRect frame = AOwner->frameGeometry();
        m_BottomFrame = SaneFrame(frame.bottom() - geo.bottom());
        m_LeftFrame = SaneFrame(geo.left() - frame.left());
    }

    // Read before the title bar sets the form's minimum size.
    m_InitialBorderStyle = BorderStyleOf(AOwner);

    m_FrameBitmap = QImage(1, 1, QImage::Format_RGB888);
    m_CreationBounds = geo;
    m_FirstSize = AOwner->isMaximized();

    m_TitleBar = new TSkinTitleBar(this);
    m_MenuBarColor = m_Color;
    m_MenuBarToColor = m_Color;
    m_MenuBarHeight = 22;
    SetUIStyle(TSkinUIStyle::DeepBlue);
    m_UIStyleAutoUpdateSub = false;
    SetCaption(AOwner->windowTitle());
    SetTitleBarVisible(true);

    // The component draws the frame: the window system's frame and caption go.
    if (mdiChild) {
        SetMdiFrameless(!mdiChild->isMinimized());
        connect(mdiChild, &QMdiSubWindow::windowStateChanged, this, &TSkinForm::MdiStateChanged);
    } else {
        const bool shown = AOwner->isVisible();
        AOwner->setWindowFlag(Qt::FramelessWindowHint, true);
        if (shown)
            AOwner->show();
    }
    // The frame follows the mouse for its sizing edges.
    AOwner->setMouseTracking(true);
    // Sees the form's own events (the frame's hook) and the keys of the whole application.
    qApp->installEventFilter(this);
    Realign();
    if (mdiChild) {
        SetRegion();
        if (mdiChild->isMaximized())
            ApplyMdiState();
    }
}

TSkinForm::~TSkinForm()
{
    const bool wasActive = Active();
    m_Destroying = true;
    if (qApp)
        qApp->removeEventFilter(this);
    if (auto *main = qobject_cast<TSkinMainMenu *>(m_Menu.data()))
        main->SetSkinForm(nullptr);
    if (wasActive && m_Form) {
        SetFrameCursor({});
        // The form gets its caption back if it outlives the component; a form that is going
        // away takes the queued call with it.
        QWidget *form = m_Form;
        QPointer<QMdiSubWindow> child = m_MdiChild;
        QTimer::singleShot(0, form, [form, child] {
            form->clearMask();
            if (child) {
                child->setWindowFlags(child->windowFlags() & ~Qt::FramelessWindowHint);
                return;
            }
            const bool shown = form->isVisible();
            form->setWindowFlag(Qt::FramelessWindowHint, false);
            if (shown)
                form->show();
        });
    }
    delete m_MenuBar;
    delete m_TitleBar;
}

// ---- properties ----

void TSkinForm::SetTitleBarCustom(bool Value)
{
    m_TitleBarCustom = Value;
    if (m_TitleBar)
        m_TitleBar->SetCustom(Value);
}

void TSkinForm::SetFileTheme(TSkinFileTheme *Value)
{
    if (m_ThemeGone)
        disconnect(m_ThemeGone);
    m_FileTheme = Value;
    if (Value)
        m_ThemeGone = connect(Value, &QObject::destroyed, this, [this] { ThemeRemoved(); });
    ApplyStyle();
}

void TSkinForm::ThemeRemoved()
{
    if (m_Destroying)
        return;
    m_FileTheme = nullptr;
    SetUIStyle(TSkinUIStyle::DeepBlue);
}

void TSkinForm::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    ApplyStyle();
}

void TSkinForm::SetColor(TColor Value)
{
    m_Color = Value;
    update();
}

void TSkinForm::SetTitleBarVisible(bool Value)
{
    if (!m_TitleBar) {
        m_TitleBarVisible = Value;
        return;
    }
    if (!m_InternalVisibility)
        m_WantedTitleBarVisible = Value;
    if (Value == m_TitleBarVisible && m_TitleBar->isVisibleTo(this) == Value)
        return;
    m_TitleBarVisible = Value;
    m_TitleBar->setVisible(Value);
    Realign();
    if (m_Form)
        m_Form->update();
    // A maximised child whose buttons this bar shows takes them back while it is hidden.
    if (TSkinForm *child = m_TitleBar->MaximizedChild())
        child->ApplyMdiState();
}

QString TSkinForm::Caption() const
{
    return m_TitleBar ? m_TitleBar->Caption() : QString();
}

void TSkinForm::SetCaption(const QString &Value)
{
    if (m_TitleBar)
        m_TitleBar->SetCaption(Value);
    if (m_Form)
        m_Form->setWindowTitle(Value);
}

void TSkinForm::SetFormPanel(QWidget *Value)
{
    // The component cannot fill itself.
    if (Value == this) {
        SkinShowMessage(QStringLiteral("Sorry, you can't select the Form assign to FormPanel property"));
        return;
    }
    m_FormPanel = Value;
    if (auto *frame = qobject_cast<QFrame *>(Value))
        frame->setFrameShape(QFrame::NoFrame);
    Realign();
}

TSkinTitleBarButtons *TSkinForm::TitleBarButtons() const
{
    return m_TitleBar ? m_TitleBar->Buttons() : nullptr;
}

TSkinTitleBarSections *TSkinForm::TitleBarSections() const
{
    return m_TitleBar ? m_TitleBar->Sections() : nullptr;
}

bool TSkinForm::TitleBarDrawAppIcon() const
{
    return m_TitleBar ? m_TitleBar->DrawAppIcon() : true;
}

void TSkinForm::SetTitleBarDrawAppIcon(bool Value)
{
    if (m_TitleBar)
        m_TitleBar->SetDrawAppIcon(Value);
}

QFont TSkinForm::TitleFont() const
{
    return m_TitleBar ? m_TitleBar->font() : font();
}

void TSkinForm::SetTitleFont(const QFont &Value)
{
    if (m_TitleBar)
        m_TitleBar->setFont(Value);
}

void TSkinForm::SetMenu(QMenu *Value)
{
    if (auto *old = qobject_cast<TSkinMainMenu *>(m_Menu.data()))
        old->SetSkinForm(nullptr);
    m_Menu = Value;
    if (auto *main = qobject_cast<TSkinMainMenu *>(Value))
        main->SetSkinForm(this);
    // A child form's menu belongs to its parent: it never gets a bar of its own.
    if (Value && !m_MdiChild) {
        if (!m_MenuBar)
            m_MenuBar = new TSkinMenuBar(this);
        m_MenuBar->SetButtonHeight(m_MenuBarHeight);
        FillMenuBar();
        m_MenuBar->show();
    } else {
        delete m_MenuBar;
    }
    Realign();
    if (m_Form)
        m_Form->update();
}

void TSkinForm::FillMenuBar()
{
    if (m_MenuBar)
        m_MenuBar->Fill(m_Menu);
}

void TSkinForm::MenuItemsChanged()
{
    if (m_MenuBar && !m_Destroying)
        m_MenuBar->RefreshItems();
}

void TSkinForm::MenuFontChanged()
{
    if (!m_MenuBar || m_Destroying)
        return;
    if (auto *main = qobject_cast<TSkinMainMenu *>(m_Menu.data()))
        m_MenuBar->SetBarFont(main->UseSystemFont() ? SystemMenuFont() : main->ItemFont());
}

void TSkinForm::SetMenuBarColor(TColor Value)
{
    m_MenuBarColor = Value;
    if (m_MenuBar)
        m_MenuBar->update();
}

void TSkinForm::SetMenuBarToColor(TColor Value)
{
    m_MenuBarToColor = Value;
    if (m_MenuBar)
        m_MenuBar->update();
}

int TSkinForm::MenuBarHeight() const
{
    return m_MenuBar ? m_MenuBarHeight : 0;
}

void TSkinForm::SetMenuBarHeight(int Value)
{
    m_MenuBarHeight = Value;
    if (m_MenuBar)
        m_MenuBar->SetButtonHeight(Value);
    Realign();
}

int TSkinForm::RoundCorner() const
{
    return m_TitleBar && m_TitleBarVisible ? m_TitleBar->RoundCorner() : 0;
}

void TSkinForm::SetRoundCorner(int Value)
{
    if (m_TitleBar)
        m_TitleBar->SetRoundCorner(Value);
    SetRegion();
}

int TSkinForm::RoundCornerBottom() const
{
    return m_TitleBar && m_TitleBarVisible ? m_TitleBar->RoundCornerBottom() : 0;
}

void TSkinForm::SetRoundCornerBottom(int Value)
{
    if (m_TitleBar)
        m_TitleBar->SetRoundCornerBottom(Value);
    SetRegion();
}

TColor TSkinForm::InactiveCaptionColor() const
{
    if (m_TitleBar)
        return m_TitleBar->InactiveCaptionColor();
    return QColorToColor(QApplication::palette().color(QPalette::Inactive, QPalette::WindowText));
}

void TSkinForm::SetInactiveCaptionColor(TColor Value)
{
    if (m_TitleBar)
        m_TitleBar->SetInactiveCaptionColor(Value);
}

TSkinTitleBarButtonClickEvent TSkinForm::OnTitleBarCustomBtnsClick() const
{
    return m_TitleBar ? m_TitleBar->OnCustomBtnsClick : TSkinTitleBarButtonClickEvent();
}

void TSkinForm::SetOnTitleBarCustomBtnsClick(const TSkinTitleBarButtonClickEvent &Value)
{
    if (m_TitleBar)
        m_TitleBar->OnCustomBtnsClick = Value;
}

TSkinTitleBarButtonClickEvent TSkinForm::OnTitleBarHelpBtnClick() const
{
    return m_TitleBar ? m_TitleBar->OnHelpBtnClick : TSkinTitleBarButtonClickEvent();
}

void TSkinForm::SetOnTitleBarHelpBtnClick(const TSkinTitleBarButtonClickEvent &Value)
{
    if (m_TitleBar)
        m_TitleBar->OnHelpBtnClick = Value;
}

// ---- geometry ----

int TSkinForm::TitleBarHeight() const
{
    return m_TitleBar && m_TitleBarVisible ? m_TitleBar->height() + 3 : 0;
}

bool TSkinForm::SkinFileInEffect() const
{
    TSkinUIStyle style;
    return ThemeFileInEffect(m_FileTheme, m_UIStyle, style);
}

QMargins TSkinForm::FrameMargins() const
{
    // A maximised child form fills its parent's area: its frame lies outside what shows.
    if (m_MdiChild && m_MdiChild->isMaximized())
        return {};
    if (SkinFileInEffect())
        return {qMax(m_LeftPicWidth, 4), 3, qMax(m_RightPicWidth, 4), qMax(m_BottomPicHeight, 4)};
    const int side = qMax(m_BorderWidth, 4);
    return {side, 3, side, side};
}

int TSkinForm::FrameAnswer() const
{
    if (m_LeftPicWidth > 0)
        return m_LeftPicWidth < 5 ? 4 : m_LeftPicWidth;
    return m_BottomFrame - 1;
}

void TSkinForm::Realign()
{
    if (!Active())
        return;
    const QRect client = m_Form->rect().marginsRemoved(FrameMargins());
    if (geometry() != client)
        setGeometry(client);
    int y = 0;
    const int w = width();
    if (m_TitleBar && m_TitleBarVisible) {
        m_TitleBar->setGeometry(0, 0, w, m_TitleBar->height());
        m_TitleBar->raise();
        y += m_TitleBar->height();
    }
    if (m_MenuBar) {
        m_MenuBar->setGeometry(0, y, w, m_MenuBarHeight);
        y += m_MenuBarHeight;
    }
    if (m_FormPanel && m_FormPanel->parentWidget() == this)
        m_FormPanel->setGeometry(0, y, w, qMax(0, height() - y));
}

QRegion TSkinForm::WindowRegion() const
{
    if (!Active())
        return {};
    const int w = m_Form->width();
    const int h = m_Form->height();
    if (SkinFileInEffect()) {
        if (!m_TitleRegion && !m_BottomRegion)
            return QRegion(0, 0, w, h);
        QRegion region;
        const QImage title = m_TitleBar ? m_TitleBar->Pictures(-1) : QImage();
        const int titleBottom = m_TitleBarVisible && !title.isNull() ? title.height() : 0;
        const int titleX = FrameMargins().left() - FrameAnswer();
        if (titleBottom > 0) {
            // A title that needs no shaping keeps its whole band.
            if (m_TitleRegion)
                region += ScanPictureRegion(title, QPoint(titleX, 0), m_TitleRegionMinY, m_TitleRegionMaxY,
                                            m_TransparentColor);
            else
                region += QRect(0, 0, w, titleBottom);
        }
        const int bottomH = m_BottomPicHeight;
        const int bottomTop = h - bottomH;
        if (bottomTop > titleBottom)
            region += QRect(0, titleBottom, w, bottomTop - titleBottom);
        if (bottomH > 0) {
            const QImage bottom = BottomPicture();
            if (m_BottomRegion && !bottom.isNull())
                region += ScanPictureRegion(bottom, QPoint(0, bottomTop), m_BottomRegionMinY, m_BottomRegionMaxY,
                                            m_TransparentColor);
            else
                region += QRect(0, bottomTop, w, bottomH);
        }
        return region;
    }
    const int half = h / 2;
    const int rc = qMax(0, RoundCorner());
    const int rcb = qMax(0, RoundCornerBottom());
    QRegion upper = RoundRectRegion(QRect(0, 0, w, half), rc);
    if (rc > 0)
        upper += QRegion(0, half - 2 * rc, w, 2 * rc) & QRegion(0, 0, w, half);
    QRegion lower = RoundRectRegion(QRect(0, half, w, h - half), rcb);
    if (rcb > 0)
        lower += QRegion(0, half, w, 2 * rcb) & QRegion(0, half, w, h - half);
    return upper + lower;
}

void TSkinForm::SetRegion()
{
    if (!Active())
        return;
    if (m_MdiChild) {
        // A child form is shaped inside its parent (until it stands in one, it waits); minimised
        // or maximised it shows no frame.
        if (!m_MdiChild->parentWidget())
            return;
        if (m_MdiChild->isMinimized() || m_MdiChild->isMaximized())
            m_Form->clearMask();
        else
            m_Form->setMask(WindowRegion());
        return;
    }
    // The offscreen platform cannot shape windows.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    m_Form->setMask(WindowRegion());
}

// ---- style ----

void TSkinForm::ApplyStyle()
{
    if (!m_TitleBar || m_Applying)
        return;
    m_Applying = true;
    const QRect bounds = m_Form ? m_Form->geometry() : QRect();
    TSkinUIStyle style;
    if (ThemeFileInEffect(m_FileTheme, m_UIStyle, style)) {
        const TSkinFileTheme *t = m_FileTheme;
        auto size = [t](int Key) {
            const QImage *img = t->GetBitmap(Key);
            return img ? img->size() : QSize();
        };
        m_Color = TColor(t->GetColor(SKIN2_FORMCOLOR));
        m_MenuBarColor = TColor(t->GetColor(SKIN2_MENUBARSTARTCOLOR));
        m_MenuBarToColor = TColor(t->GetColor(SKIN2_MENUBARENDCOLOR));
        m_LeftPicWidth = size(SKIN2_FORMLEFTBORDER).width();
        m_RightPicWidth = size(SKIN2_FORMRIGHTBORDER).width();
        m_BottomPicHeight = size(SKIN2_FORMBOTTOMBORDER1).height();
        m_TransparentColor = ColorToQColor(TColor(t->GetColor(SKIN2_TRANSCOLOR)));
        m_TitleRegion = t->GetBool(SKIN2_TITLEBARNEEDREGION);
        m_BottomRegion = t->GetBool(SKIN2_BOTTOMBORDERNEEDREGION);
        m_TitleRegionMinY = t->GetInteger(SKIN2_TITLEBARREGIONMINY);
        m_TitleRegionMaxY = t->GetInteger(SKIN2_TITLEBARREGIONMAXY);
        m_BottomRegionMinY = t->GetInteger(SKIN2_BOTTOMREGIONMINY);
        m_BottomRegionMaxY = t->GetInteger(SKIN2_BOTTOMREGIONMAXY);
    } else {
        m_TitleBar->SetRoundCornerBottom(0);
        m_LeftPicWidth = 0;
        m_RightPicWidth = 0;
        m_BottomPicHeight = 0;
        m_TitleRegion = false;
        m_BottomRegion = false;
        m_TransparentColor = ColorToQColor(kStyleTransparentColor);
        m_BorderColor = StyleColor(style, 16);
        m_BorderWidth = StyleInteger(style, 17);
        m_Color = StyleColor(style, 15);
        m_MenuBarColor = m_Color;
        m_MenuBarToColor = m_Color;
        m_TitleBar->SetRoundCorner(StyleInteger(style, 14));
    }
    m_TitleBar->SetFileTheme(m_FileTheme);
    m_TitleBar->SetUIStyle(m_UIStyle);
    if (auto *main = qobject_cast<TSkinMainMenu *>(m_Menu.data())) {
        main->SetUIStyle(m_UIStyle);
        main->SetFileTheme(m_FileTheme);
    }
    if (m_UIStyleAutoUpdateSub)
        ApplyStyleToChildren(this, m_UIStyle, m_FileTheme);
    // A child form keeps its place and size through a change of look.
    if (m_MdiChild && !m_MdiChild->isMaximized() && !m_MdiChild->isMinimized() && bounds.isValid())
        m_MdiChild->setGeometry(bounds);
    Realign();
    update();
    if (m_Form) {
        m_Form->update();
        SetRegion();
        m_Form->setMinimumHeight(m_BottomPicHeight + MenuBarHeight() + TitleBarHeight() + 3);
    }
    m_Applying = false;
}

// ---- painting ----

void TSkinForm::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    TSkinUIStyle style;
    const bool theme = ThemeFileInEffect(m_FileTheme, m_UIStyle, style);
    QImage back;
    if (!theme && style == TSkinUIStyle::MacOS)
        back = LoadSkinResourceBitmap(QStringLiteral("MACOS_FORM_BACKGROUND"));
    else if (!theme && style == TSkinUIStyle::Protein)
        back = LoadSkinResourceBitmap(QStringLiteral("PROTEIN_FORM_BACKGROUND"));
    if (!back.isNull())
        p.drawImage(rect(), back);
    else
        p.fillRect(rect(), ColorToQColor(m_Color));
}

void TSkinForm::PaintFrame(QPainter &Canvas)
{
    if (!Active() || m_Form->isMinimized())
        return;
    const int w = m_Form->width();
    const int h = m_Form->height();
    const QMargins m = FrameMargins();
    const QRect client(m.left(), m.top(), w - m.left() - m.right(), h - m.top() - m.bottom());
    const QColor color = ColorToQColor(m_Color);
    const QColor menuFrom = ColorToQColor(m_MenuBarColor);
    const QColor menuTo = ColorToQColor(m_MenuBarToColor);
    QImage title;
    if (m_TitleBar && m_TitleBarVisible) {
        title = m_TitleBar->Pictures(-1);
        if (title.isNull()) {
            QImage bar;
            m_TitleBar->PaintTo(bar);
            title = m_TitleBar->Pictures(-1);
        }
    }
    const int titleX = m.left() - FrameAnswer();
    const int bandBottom = m.top() + (m_TitleBar && m_TitleBarVisible ? m_TitleBar->height() : 0);
    const QRect menuBand(0, bandBottom, w, MenuBarHeight());

    Canvas.save();
    QRegion frameArea = QRegion(0, 0, w, h) - QRegion(client);
    Canvas.setClipRegion(frameArea);
    Canvas.fillRect(0, 0, w, h, color);

    auto menuEdges = [&](int Left, int Right) {
        if (menuBand.height() <= 0 || menuFrom == menuTo)
            return;
        DrawVerticalGradient(Canvas, QRect(Left, menuBand.y(), m.left() - Left, menuBand.height()), menuFrom, menuTo);
        DrawVerticalGradient(Canvas, QRect(w - m.right(), menuBand.y(), m.right() - Right, menuBand.height()), menuFrom,
                             menuTo);
    };

    if (SkinFileInEffect()) {
        const TSkinFileTheme *t = m_FileTheme;
        if (!title.isNull()) {
            Canvas.drawImage(titleX, 0, title);
            const int lw = qMax(m_LeftPicWidth, 4);
            const int rw = qMax(m_RightPicWidth, 4);
            Canvas.drawImage(QPoint(0, 0), title, QRect(0, 0, lw, title.height()));
            Canvas.drawImage(QPoint(w - rw, 0), title, QRect(title.width() - rw, 0, rw, title.height()));
        }
        const int sideTop = title.isNull() ? 0 : title.height();
        const int sideBottom = h - qMax(m_BottomPicHeight, 4);
        if (const QImage *left = t->GetBitmap(SKIN2_FORMLEFTBORDER); left && sideBottom > sideTop)
            Canvas.drawImage(QRect(0, sideTop, left->width(), sideBottom - sideTop), *left);
        if (const QImage *right = t->GetBitmap(SKIN2_FORMRIGHTBORDER); right && sideBottom > sideTop)
            Canvas.drawImage(QRect(w - right->width(), sideTop, right->width(), sideBottom - sideTop), *right);
        menuEdges(0, 0);
        m_FrameBitmap = BottomPicture();
        if (!m_FrameBitmap.isNull())
            Canvas.drawImage(0, h - m_FrameBitmap.height(), m_FrameBitmap);
        Canvas.restore();
        return;
    }

    const int bw = qMax(0, m_BorderWidth);
    const QColor border = ColorToQColor(m_BorderColor);
    if (m_TitleBar && m_TitleBarVisible) {
        if (m_TitleBar->HasFullTitlePictures() && !title.isNull())
            Canvas.drawImage(titleX, 0, title);
    } else {
        Canvas.fillRect(0, 0, w, 1, border);
    }
    if (bw > 0) {
        Canvas.fillRect(0, 0, bw, h, border);
        Canvas.fillRect(w - bw, 0, bw, h, border);
        Canvas.fillRect(0, h - bw, w, bw, border);
    }
    if (bw == 1 && RoundCorner() == 11) {
        const int rc = RoundCorner();
        Canvas.setPen(border);
        Canvas.setBrush(Qt::NoBrush);
        Canvas.drawArc(QRect(0, 0, rc, rc), 90 * 16, 90 * 16);
        Canvas.drawArc(QRect(w - rc - 1, 0, rc, rc), 0, 90 * 16);
    }
    if (bw < 4)
        menuEdges(bw, bw);
    Canvas.restore();
}

QImage TSkinForm::BottomPicture() const
{
    const TSkinFileTheme *t = m_FileTheme;
    if (!Active() || !SkinFileInEffect())
        return {};
    const QImage *b1 = t->GetBitmap(SKIN2_FORMBOTTOMBORDER1);
    if (!b1 || b1->isNull())
        return {};
    const int w = m_Form->width();
    QImage out(w, b1->height(), QImage::Format_RGB888);
    out.fill(ColorToQColor(m_Color));
    QPainter fp(&out);
    if (t->GetBool(SKIN2_BOTTOMBORDERTHREESECT)) {
        const QImage *b2 = t->GetBitmap(SKIN2_FORMBOTTOMBORDER2);
        const QImage *b3 = t->GetBitmap(SKIN2_FORMBOTTOMBORDER3);
        const int rw = b3 ? b3->width() : 0;
        if (b2 && w - b1->width() - rw > 0)
            fp.drawImage(QRect(b1->width(), 0, w - b1->width() - rw, b1->height()), *b2);
        fp.drawImage(0, 0, *b1);
        if (b3)
            fp.drawImage(w - rw, 0, *b3);
    } else {
        DrawThreeFrames(*b1, fp, out.rect(), m_TransparentColor, false);
    }
    return out;
}

void TSkinForm::PopupSystemMenu()
{
    if (!Active() || !m_TitleBar)
        return;
    m_TitleBar->SystemMenu()->PopupAt(m_Form->mapToGlobal(QPoint(0, TitleBarHeight())));
}

// ---- the form's events ----

void TSkinForm::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    if (Active())
        Realign();
}

void TSkinForm::mouseReleaseEvent(QMouseEvent *Event)
{
    QWidget::mouseReleaseEvent(Event);
    if (!Active())
        return;
    Realign();
    if (m_Form->windowFlags() & Qt::FramelessWindowHint)
        return;
    if (m_MdiChild) {
        SetMdiFrameless(true);
        return;
    }
    m_Form->setWindowFlag(Qt::FramelessWindowHint, true);
    m_Form->show();
}

void TSkinForm::FormResized()
{
    if (m_FirstSize && m_MdiChild) {
        // A child form that starts maximised settles through its state changes.
        m_FirstSize = false;
    } else if (m_FirstSize) {
        if (m_Form->isMaximized()) {
            if (++FirstSizeCounter == 2)
                m_Form->setWindowState(m_Form->windowState() | Qt::WindowMaximized);
        } else {
            m_FirstSize = false;
            m_Form->setGeometry(m_CreationBounds);
        }
    }
    FormStateChanged();
}

void TSkinForm::FormStateChanged()
{
    if (m_Form->isMaximized() && !m_MdiChild) {
        // A maximised form covers the work area, not the whole screen.
        QRect area;
        GetWorkArea(area);
        if (area.isValid() && m_Form->geometry() != area)
            m_Form->setGeometry(area);
    }
    if (m_TitleBar) {
        m_TitleBar->UpdateButtons();
        m_TitleBar->update();
    }
    Realign();
    m_Form->update();
    SetRegion();
}

// ---- sizing by the frame ----

TSkinBorderStyle TSkinForm::BorderStyle() const
{
    switch (m_InitialBorderStyle) {
    case TSkinBorderStyle::bsNone:
    case TSkinBorderStyle::bsSingle:
    case TSkinBorderStyle::bsToolWindow:
        return TSkinBorderStyle::bsDialog;
    default:
        return m_InitialBorderStyle;
    }
}

bool TSkinForm::Sizeable() const
{
    if (!Active())
        return false;
    if (m_MdiChild)
        return m_InitialBorderStyle != TSkinBorderStyle::bsSingle;
    const TSkinBorderStyle style = BorderStyle();
    return style == TSkinBorderStyle::bsSizeable || style == TSkinBorderStyle::bsSizeToolWin;
}

Qt::Edges TSkinForm::FrameEdgesAt(const QPoint &Pos) const
{
    if (!Sizeable() || m_Form->isMaximized() || m_Form->isMinimized() || m_Form->minimumSize() == m_Form->maximumSize())
        return {};
    const int w = m_Form->width();
    const int h = m_Form->height();
    if (!QRect(0, 0, w, h).contains(Pos))
        return {};
    const QMargins m = FrameMargins();
    const bool left = Pos.x() < m.left();
    const bool right = Pos.x() >= w - m.right();
    const bool top = Pos.y() < m.top();
    const bool bottom = Pos.y() >= h - m.bottom();
    Qt::Edges edges;
    if (left || right) {
        edges |= left ? Qt::LeftEdge : Qt::RightEdge;
        if (Pos.y() < qMax(kCornerGrip, m.top()))
            edges |= Qt::TopEdge;
        else if (Pos.y() >= h - qMax(kCornerGrip, m.bottom()))
            edges |= Qt::BottomEdge;
    }
    if (top || bottom) {
        edges |= top ? Qt::TopEdge : Qt::BottomEdge;
        if (Pos.x() < qMax(kCornerGrip, m.left()))
            edges |= Qt::LeftEdge;
        else if (Pos.x() >= w - qMax(kCornerGrip, m.right()))
            edges |= Qt::RightEdge;
    }
    return edges;
}

void TSkinForm::SetFrameCursor(Qt::Edges Edges)
{
    if (!Edges) {
        // The form gets back the cursor it had of its own.
        if (m_FrameCursor && m_FormCursor)
            m_Form->setCursor(*m_FormCursor);
        else if (m_FrameCursor)
            m_Form->unsetCursor();
        m_FrameCursor = false;
        return;
    }
    if (!m_FrameCursor) {
        m_FormCursor.reset();
        if (m_Form->testAttribute(Qt::WA_SetCursor) && m_Form->cursor().shape() != Qt::ArrowCursor)
            m_FormCursor = m_Form->cursor();
    }
    Qt::CursorShape shape = Qt::SizeVerCursor;
    const bool diagonal = (Edges & (Qt::LeftEdge | Qt::RightEdge)) && (Edges & (Qt::TopEdge | Qt::BottomEdge));
    if (diagonal)
        shape = (Edges == (Qt::LeftEdge | Qt::TopEdge) || Edges == (Qt::RightEdge | Qt::BottomEdge))
            ? Qt::SizeFDiagCursor
            : Qt::SizeBDiagCursor;
    else if (Edges & (Qt::LeftEdge | Qt::RightEdge))
        shape = Qt::SizeHorCursor;
    m_Form->setCursor(shape);
    m_FrameCursor = true;
}

bool TSkinForm::FrameMouseEvent(QMouseEvent *Event)
{
    const QPoint pos = Event->position().toPoint();
    const QPoint global = Event->globalPosition().toPoint();
    switch (Event->type()) {
    case QEvent::MouseButtonPress: {
        if (Event->button() != Qt::LeftButton)
            return false;
        const Qt::Edges edges = FrameEdgesAt(pos);
        if (!edges)
            return false;
        // The window system sizes the window where it can (it keeps to the minimum size too).
        QWindow *handle = m_MdiChild ? nullptr : m_Form->windowHandle();
        if (handle && QGuiApplication::platformName() != QLatin1String("offscreen") && handle->startSystemResize(edges))
            return true;
        m_SizingEdges = edges;
        m_SizingStart = global;
        m_SizingGeometry = m_Form->geometry();
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_SizingEdges) {
            SetFrameCursor(Event->buttons() ? Qt::Edges() : FrameEdgesAt(pos));
            return false;
        }
        const QPoint d = global - m_SizingStart;
        const QSize minSize = m_Form->minimumSize().expandedTo(QSize(1, 1));
        const QSize maxSize = m_Form->maximumSize();
        QRect g = m_SizingGeometry;
        if (m_SizingEdges & Qt::LeftEdge)
            g.setLeft(qBound(g.right() + 1 - maxSize.width(), g.left() + d.x(), g.right() + 1 - minSize.width()));
        if (m_SizingEdges & Qt::RightEdge)
            g.setRight(qBound(g.left() - 1 + minSize.width(), g.right() + d.x(), g.left() - 1 + maxSize.width()));
        if (m_SizingEdges & Qt::TopEdge)
            g.setTop(qBound(g.bottom() + 1 - maxSize.height(), g.top() + d.y(), g.bottom() + 1 - minSize.height()));
        if (m_SizingEdges & Qt::BottomEdge)
            g.setBottom(qBound(g.top() - 1 + minSize.height(), g.bottom() + d.y(), g.top() - 1 + maxSize.height()));
        if (g != m_Form->geometry())
            m_Form->setGeometry(g);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_SizingEdges || Event->button() != Qt::LeftButton)
            return false;
        m_SizingEdges = {};
        SetFrameCursor(FrameEdgesAt(pos));
        return true;
    default:
        return false;
    }
}

// ---- child forms ----

void TSkinForm::SetMdiFrameless(bool Frameless)
{
    const Qt::WindowFlags flags = m_MdiChild->windowFlags();
    if (bool(flags & Qt::FramelessWindowHint) != Frameless)
        m_MdiChild->setWindowFlags(Frameless ? flags | Qt::FramelessWindowHint : flags & ~Qt::FramelessWindowHint);
    // Minimised, the parent's area draws the child's caption itself.
    setVisible(Frameless);
}

bool TSkinForm::ShowChildButtonsOnParent(bool Show)
{
    QMdiArea *area = m_MdiChild ? m_MdiChild->mdiArea() : nullptr;
    TSkinForm *parent = area ? OfForm(FormOf(area)) : nullptr;
    TSkinTitleBar *bar = parent ? parent->TitleBar() : nullptr;
    if (!bar || !parent->TitleBarVisible())
        return false;
    if (Show)
        bar->SetMaximizedChild(this);
    else if (bar->MaximizedChild() == this)
        bar->SetMaximizedChild(nullptr);
    return true;
}

void TSkinForm::MdiStateChanged(Qt::WindowStates OldState, Qt::WindowStates NewState)
{
    if (!Active() || !m_MdiChild)
        return;
    if ((OldState ^ NewState) & Qt::WindowActive) {
        if (m_TitleBar)
            m_TitleBar->SetFormActive(NewState & Qt::WindowActive);
        m_Form->update();
    }
    if ((OldState ^ NewState) & (Qt::WindowMinimized | Qt::WindowMaximized))
        ApplyMdiState();
}

void TSkinForm::ApplyMdiState()
{
    if (!Active() || !m_MdiChild)
        return;
    const bool minimized = m_MdiChild->isMinimized();
    const bool maximized = !minimized && m_MdiChild->isMaximized();
    m_InternalVisibility = true;
    if (m_MdiShownMaximized && !maximized)
        ShowChildButtonsOnParent(false);
    m_MdiShownMaximized = maximized;
    SetMdiFrameless(!minimized);
    // Maximised, the parent's title bar shows the child's buttons; without one the child keeps
    // its own.
    if (!minimized)
        SetTitleBarVisible(maximized && ShowChildButtonsOnParent(true) ? false : m_WantedTitleBarVisible);
    m_InternalVisibility = false;
    if (m_TitleBar)
        m_TitleBar->UpdateButtons();
    Realign();
    m_Form->update();
    SetRegion();
}

bool TSkinForm::HandleKey(QKeyEvent *Key)
{
    const bool alt = Key->modifiers() & Qt::AltModifier;
    if (Key->key() == Qt::Key_Space && alt) {
        PopupSystemMenu();
        return true;
    }
    if (FormIsActive(m_Form) && m_Menu) {
        if (auto *main = qobject_cast<TSkinMainMenu *>(m_Menu.data()); main && main->IsShortCut(Key))
            return true;
    }
    if (m_MenuBar && !Key->text().isEmpty() && Key->text().at(0).isPrint())
        return m_MenuBar->DialogChar(Key->text().at(0), alt);
    return false;
}

bool TSkinForm::eventFilter(QObject *Watched, QEvent *Event)
{
    if (m_Destroying || !Active())
        return QWidget::eventFilter(Watched, Event);
    if (Event->type() == QEvent::KeyPress) {
        auto *w = qobject_cast<QWidget *>(Watched);
        // A key passes the filter once for each widget it propagates to: take it at the first.
        QWidget *focus = QApplication::focusWidget();
        QWidget *first = focus && FormOf(focus) == m_Form ? focus : m_Form.data();
        if (w && w == first) {
            if (HandleKey(static_cast<QKeyEvent *>(Event)))
                return true;
        }
    }
    if (Event->type() == QEvent::Enter && Watched != m_Form && m_FrameCursor) {
        // The mouse went from the frame onto a control of the form.
        if (auto *w = qobject_cast<QWidget *>(Watched); w && FormOf(w) == m_Form)
            SetFrameCursor({});
    }
    if (Watched == m_Form) {
        switch (Event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease:
            if (FrameMouseEvent(static_cast<QMouseEvent *>(Event)))
                return true;
            break;
        case QEvent::Leave:
            if (!m_SizingEdges)
                SetFrameCursor({});
            break;
        case QEvent::Hide:
            if (m_MdiShownMaximized)
                ShowChildButtonsOnParent(false);
            break;
        case QEvent::Show:
            // A child shown maximised may only now stand in its parent's area.
            if (m_MdiShownMaximized)
                ApplyMdiState();
            break;
        case QEvent::Resize:
            Realign();
            FormResized();
            break;
        case QEvent::WindowStateChange:
            // A child about to be minimised from its normal state gets the area's caption before
            // the area shrinks it (from maximised, the area must first leave that state).
            if (m_MdiChild && m_MdiChild->isMinimized() &&
                !(static_cast<QWindowStateChangeEvent *>(Event)->oldState() & Qt::WindowMaximized))
                SetMdiFrameless(false);
            FormStateChanged();
            break;
        case QEvent::Paint: {
            QPainter p(m_Form);
            PaintFrame(p);
            return true;
        }
        case QEvent::ActivationChange:
            // A child form's activation is its parent area's, followed through its state.
            if (m_TitleBar && !m_MdiChild)
                m_TitleBar->SetFormActive(m_Form->isActiveWindow());
            m_Form->update();
            break;
        default:
            break;
        }
        return QWidget::eventFilter(Watched, Event);
    }
    return QWidget::eventFilter(Watched, Event);
}
