#include "skin/SkinTitleBar.h"

#include "skin/Skin2Define.h"
#include "skin/SkinForm.h"
#include "skin/SkinPublic.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QWindow>

namespace {

// Frames of the 18-frame button strip (normal, mouse on, mouse down follow the first).
int FirstFrame(TSkinTitleBarBtnType Type, bool Maximized)
{
    switch (Type) {
    case TSkinTitleBarBtnType::skinControlBox:
        return 1;
    case TSkinTitleBarBtnType::skinHelp:
        return 4;
    case TSkinTitleBarBtnType::skinMax:
        return Maximized ? 10 : 7;
    case TSkinTitleBarBtnType::skinMin:
        return 13;
    case TSkinTitleBarBtnType::skinClose:
        return 16;
    case TSkinTitleBarBtnType::skinCustom:
        break;
    }
    return 0;
}

} // namespace

// ---- sections ----

int TSkinTitleBarSection::Index() const
{
    return m_Collection->IndexOf(this);
}

void TSkinTitleBarSection::Changed()
{
    m_Collection->Changed();
}

void TSkinTitleBarSection::SetWidth(int Value)
{
    m_Width = Value;
    Changed();
}

void TSkinTitleBarSection::SetAlign(TSkinTitleBarAlign Value)
{
    if (Value == TSkinTitleBarAlign::skinClient) {
        for (int i = 0; i < m_Collection->Count(); ++i) {
            if (m_Collection->Items(i)->m_Align == TSkinTitleBarAlign::skinClient) {
                SkinShowMessage(QStringLiteral("Sorry, only one section's Align property can be \"skinClient\""));
                return;
            }
        }
        m_Stretch = true;
    }
    m_Align = Value;
    Changed();
}

void TSkinTitleBarSection::SetPicture(const QImage &Value)
{
    m_Picture = Value;
    if (!m_Picture.isNull())
        m_Width = m_Picture.width();
    Changed();
}

void TSkinTitleBarSection::SetStretch(bool Value)
{
    // The middle section always stretches.
    m_Stretch = m_Align == TSkinTitleBarAlign::skinClient ? true : Value;
    Changed();
}

void TSkinTitleBarSection::SetAutoSize(bool Value)
{
    m_AutoSize = Value;
    if (!m_Picture.isNull())
        m_Width = m_Picture.width();
    Changed();
}

void TSkinTitleBarSection::SetCapSec(bool Value)
{
    m_CapSec = Value;
    Changed();
}

void TSkinTitleBarSection::Assign(const TSkinTitleBarSection &Source)
{
    m_Width = Source.m_Width;
    m_Align = Source.m_Align;
    m_Picture = Source.m_Picture;
    m_Stretch = Source.m_Stretch;
    m_AutoSize = Source.m_AutoSize;
    Changed();
}

TSkinTitleBarSection *TSkinTitleBarSections::Add()
{
    m_Items.push_back(std::make_unique<TSkinTitleBarSection>(this));
    Changed();
    return m_Items.back().get();
}

TSkinTitleBarSection *TSkinTitleBarSections::Items(int Index) const
{
    return Index >= 0 && Index < Count() ? m_Items[size_t(Index)].get() : nullptr;
}

void TSkinTitleBarSections::Delete(int Index)
{
    if (Index >= 0 && Index < Count()) {
        m_Items.erase(m_Items.begin() + Index);
        Changed();
    }
}

void TSkinTitleBarSections::Clear()
{
    m_Items.clear();
    Changed();
}

void TSkinTitleBarSections::Assign(const TSkinTitleBarSections &Source)
{
    if (&Source == this)
        return;
    m_Items.clear();
    for (const auto &item : Source.m_Items) {
        m_Items.push_back(std::make_unique<TSkinTitleBarSection>(this));
        m_Items.back()->Assign(*item);
    }
    Changed();
}

int TSkinTitleBarSections::IndexOf(const TSkinTitleBarSection *Item) const
{
    for (size_t i = 0; i < m_Items.size(); ++i) {
        if (m_Items[i].get() == Item)
            return int(i);
    }
    return -1;
}

void TSkinTitleBarSections::Changed()
{
    if (m_Owner)
        m_Owner->update();
}

// ---- buttons ----

int TSkinTitleBarButton::Index() const
{
    return m_Collection->IndexOf(this);
}

void TSkinTitleBarButton::Changed()
{
    m_Collection->Changed();
}

void TSkinTitleBarButton::SetVisible(bool Value)
{
    m_Visible = Value;
    Changed();
}

void TSkinTitleBarButton::SetButtonType(TSkinTitleBarBtnType Value)
{
    if (Value == TSkinTitleBarBtnType::skinControlBox) {
        for (int i = 0; i < m_Collection->Count(); ++i) {
            const TSkinTitleBarButton *b = m_Collection->Items(i);
            if (b != this && b->m_ButtonType == TSkinTitleBarBtnType::skinControlBox) {
                SkinShowMessage(
                    QStringLiteral("Sorry, only one button's ButtonType property can be \"skinControlBox\""));
                return;
            }
        }
    }
    m_ButtonType = Value;
    Changed();
}

void TSkinTitleBarButton::SetTransparent(bool Value)
{
    m_Transparent = Value;
    Changed();
}

void TSkinTitleBarButton::SetTop(int Value)
{
    m_Top = Value;
    Changed();
}

void TSkinTitleBarButton::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    if (TSkinTitleBar *bar = m_Collection->Owner())
        bar->LoadButtonPictures(this);
}

void TSkinTitleBarButton::SetPicNormal(const QImage &Value)
{
    m_PicNormal = Value;
    Changed();
}

void TSkinTitleBarButton::SetPicMouseOn(const QImage &Value)
{
    m_PicMouseOn = Value;
    Changed();
}

void TSkinTitleBarButton::SetPicMouseDown(const QImage &Value)
{
    m_PicMouseDown = Value;
    Changed();
}

void TSkinTitleBarButton::SetControlBoxMenu(QMenu *Value)
{
    m_ControlBoxMenu = Value;
    Changed();
}

void TSkinTitleBarButton::Assign(const TSkinTitleBarButton &Source)
{
    m_Visible = Source.m_Visible;
    m_ButtonType = Source.m_ButtonType;
    m_Transparent = Source.m_Transparent;
    m_Top = Source.m_Top;
    m_UIStyle = Source.m_UIStyle;
    m_PicNormal = Source.m_PicNormal;
    m_PicMouseOn = Source.m_PicMouseOn;
    m_PicMouseDown = Source.m_PicMouseDown;
    m_ControlBoxMenu = Source.m_ControlBoxMenu;
    Changed();
}

TSkinTitleBarButton *TSkinTitleBarButtons::Add()
{
    m_Items.push_back(std::make_unique<TSkinTitleBarButton>(this));
    Changed();
    return m_Items.back().get();
}

TSkinTitleBarButton *TSkinTitleBarButtons::Items(int Index) const
{
    return Index >= 0 && Index < Count() ? m_Items[size_t(Index)].get() : nullptr;
}

void TSkinTitleBarButtons::Delete(int Index)
{
    if (Index >= 0 && Index < Count()) {
        m_Items.erase(m_Items.begin() + Index);
        Changed();
    }
}

void TSkinTitleBarButtons::Clear()
{
    m_Items.clear();
    Changed();
}

void TSkinTitleBarButtons::Assign(const TSkinTitleBarButtons &Source)
{
    if (&Source == this)
        return;
    m_Items.clear();
    for (const auto &item : Source.m_Items) {
        m_Items.push_back(std::make_unique<TSkinTitleBarButton>(this));
        m_Items.back()->Assign(*item);
    }
    Changed();
}

int TSkinTitleBarButtons::IndexOf(const TSkinTitleBarButton *Item) const
{
    for (size_t i = 0; i < m_Items.size(); ++i) {
        if (m_Items[i].get() == Item)
            return int(i);
    }
    return -1;
}

void TSkinTitleBarButtons::Changed()
{
    if (m_Owner)
        m_Owner->update();
}

// ---- system menu ----

TSkinTitleBarPopupMenu::TSkinTitleBarPopupMenu(TSkinTitleBar *TitleBar) : TSkinPopupMenu(TitleBar), m_TitleBar(TitleBar)
{
    m_Minimize = addAction(QStringLiteral("Mi&nimize"));
    m_Maximize = addAction(QStringLiteral("Ma&ximize/Restore"));
    addSeparator();
    m_Close = addAction(QStringLiteral("&Close"));
    connect(this, &QMenu::aboutToShow, this, &TSkinTitleBarPopupMenu::UpdateItems);
    connect(m_Minimize, &QAction::triggered, this, [this] {
        if (QWidget *form = m_TitleBar->Form())
            form->showMinimized();
    });
    connect(m_Maximize, &QAction::triggered, this, [this] {
        QPointer<TSkinTitleBar> bar = m_TitleBar;
        for (int i = 0; bar && i < bar->Buttons()->Count(); ++i) {
            TSkinTitleBarButton *b = bar->Buttons()->Items(i);
            if (b->Visible() && b->ButtonType() == TSkinTitleBarBtnType::skinMax)
                bar->ButtonAct(b);
        }
    });
    connect(m_Close, &QAction::triggered, this, [this] {
        if (QWidget *form = m_TitleBar->Form())
            form->close();
    });
}

void TSkinTitleBarPopupMenu::UpdateItems()
{
    bool min = false, max = false, close = false;
    for (int i = 0; i < m_TitleBar->Buttons()->Count(); ++i) {
        const TSkinTitleBarButton *b = m_TitleBar->Buttons()->Items(i);
        if (!b->Visible())
            continue;
        min = min || b->ButtonType() == TSkinTitleBarBtnType::skinMin;
        max = max || b->ButtonType() == TSkinTitleBarBtnType::skinMax;
        close = close || b->ButtonType() == TSkinTitleBarBtnType::skinClose;
    }
    m_Minimize->setEnabled(min);
    m_Maximize->setEnabled(max);
    m_Close->setEnabled(close);
}

void TSkinTitleBarPopupMenu::PopupAt(const QPoint &Pos)
{
    QPoint p = Pos;
    if (MiddleEastRightToLeft(m_TitleBar))
        p.rx() += 176;
    popup(p);
}

// ---- the bar ----

TSkinTitleBar::TSkinTitleBar(QWidget *AOwner) : QWidget(AOwner), m_Owner(AOwner), m_Sections(this), m_Buttons(this)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(185, 41);
    m_InactiveCaptionColor = QColorToColor(QApplication::palette().color(QPalette::Inactive, QPalette::WindowText));
    m_SystemMenu = new TSkinTitleBarPopupMenu(this);
    m_Buttons.Add()->SetButtonType(TSkinTitleBarBtnType::skinClose);
    m_Buttons.Add()->SetButtonType(TSkinTitleBarBtnType::skinMax);
    m_Buttons.Add()->SetButtonType(TSkinTitleBarBtnType::skinMin);
    QFont f(QStringLiteral("Tahoma"));
    f.setBold(true);
    setFont(f);
    m_FontColor = 0xFFFFFF;
    m_UIStyle = FormStyleOfOwner(AOwner);
    ApplyStyle();
    WatchWindow();
    AlignToParent();
}

TSkinTitleBar::~TSkinTitleBar()
{
    if (m_Watched)
        m_Watched->removeEventFilter(this);
    if (m_AlignedTo)
        m_AlignedTo->removeEventFilter(this);
}

void TSkinTitleBar::AlignToParent()
{
    QWidget *parent = isWindow() ? nullptr : parentWidget();
    if (parent != m_AlignedTo) {
        if (m_AlignedTo)
            m_AlignedTo->removeEventFilter(this);
        m_AlignedTo = parent;
        if (parent)
            parent->installEventFilter(this);
    }
    // A skinned form lays its bar out itself, and so does a layout the bar is put in.
    if (!parent || qobject_cast<TSkinForm *>(parent))
        return;
    if (const QLayout *layout = parent->layout(); layout && layout->indexOf(this) >= 0)
        return;
    const QRect area = parent->contentsRect();
    const QRect wanted(area.left(), area.top(), area.width(), height());
    if (geometry() != wanted)
        setGeometry(wanted);
}

void TSkinTitleBar::SetFileTheme(TSkinFileTheme *Value)
{
    if (m_ThemeGone)
        disconnect(m_ThemeGone);
    m_FileTheme = Value;
    if (Value)
        m_ThemeGone = connect(Value, &QObject::destroyed, this, [this] { ThemeRemoved(); });
    ApplyStyle(true);
}

void TSkinTitleBar::ThemeRemoved()
{
    m_FileTheme = nullptr;
    ApplyStyle(true);
}

void TSkinTitleBar::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    ApplyStyle();
}

void TSkinTitleBar::SetFontColor(TColor Value)
{
    m_FontColor = Value;
    update();
}

bool TSkinTitleBar::OnFormFrame() const
{
    if (qobject_cast<const TSkinForm *>(parentWidget()))
        return true;
    const auto *owner = qobject_cast<const QWidget *>(m_Owner.data());
    return owner && owner->isWindow();
}

int TSkinTitleBar::FrameAnswer() const
{
    if (const auto *form = qobject_cast<const TSkinForm *>(parentWidget()); form && form->Active())
        return form->FrameAnswer();
    // The window's frame belongs to its skinned form, wherever in the window the bar stands.
    if (const TSkinForm *form = TSkinForm::OfForm(Form()))
        return form->FrameAnswer();
    return 0;
}

QWidget *TSkinTitleBar::Form() const
{
    QWidget *form = FormOf(this);
    return form == this ? nullptr : form;
}

bool TSkinTitleBar::FormIsMaximized() const
{
    const QWidget *w = Form();
    return w && w->isMaximized();
}

void TSkinTitleBar::ApplyStyle(bool KeepFontColor)
{
    if (!m_Custom) {
        m_Sections.Clear();
        TSkinUIStyle style;
        if (ThemeFileInEffect(m_FileTheme, m_UIStyle, style))
            BuildFromTheme();
        else
            BuildFromStyle(style);
        for (int i = 0; i < m_Buttons.Count(); ++i)
            m_Buttons.Items(i)->SetUIStyle(m_UIStyle);
        m_SystemMenu->SetFileTheme(m_FileTheme);
        m_SystemMenu->SetUIStyle(m_UIStyle);
        if (!KeepFontColor) {
            if (style == TSkinUIStyle::MacOS && !ThemeFileInEffect(m_FileTheme, m_UIStyle, style))
                m_FontColor = 0;
            else if (ThemeFileInEffect(m_FileTheme, m_UIStyle, style))
                m_FontColor = TColor(m_FileTheme->GetColor(SKIN2_TITLEFONTCOLOR));
            else
                m_FontColor = 0xFFFFFF;
        }
    }
    update();
}

void TSkinTitleBar::BuildFromStyle(TSkinUIStyle Style)
{
    m_CaptionSection = false;
    m_TransparentColor = ColorToQColor(kStyleTransparentColor);
    auto add = [this, Style](int Key, TSkinTitleBarAlign Align, bool AutoSize) {
        TSkinTitleBarSection *s = m_Sections.Add();
        QImage pic;
        LoadStyleBitmap(Style, Key, &pic);
        s->SetPicture(pic);
        s->SetAutoSize(AutoSize);
        if (Align != TSkinTitleBarAlign::skinLeft)
            s->SetAlign(Align);
    };
    add(10, TSkinTitleBarAlign::skinLeft, true);
    add(12, TSkinTitleBarAlign::skinRight, true);
    add(11, TSkinTitleBarAlign::skinClient, false);
    m_LeftBtnXOffset = StyleInteger(Style, 7);
    m_RightBtnXOffset = StyleInteger(Style, 8);
    m_BackgroundColor = ColorToQColor(StyleColor(Style, 16));
    QImage strip;
    LoadStyleBitmap(Style, 5, &strip);
    m_ButtonHeight = strip.height();
    m_ButtonTop = StyleInteger(Style, 9) - (OnFormFrame() ? 3 : 0);
    m_IconTop = m_ButtonTop;
    if (QWidget *form = Form())
        form->setMinimumSize(StyleInteger(Style, 13), 50);
    m_RoundCorner = StyleInteger(Style, 14);
    m_RoundCornerBottom = 0;
}

void TSkinTitleBar::BuildFromTheme()
{
    const TSkinFileTheme *t = m_FileTheme;
    m_CaptionSection = t->GetBool(SKIN2_TITLEFIVESECT);
    m_TransparentColor = ColorToQColor(TColor(t->GetColor(SKIN2_TRANSCOLOR)));
    auto pic = [t](int Key) {
        const QImage *img = t->GetBitmap(Key);
        return img ? *img : QImage();
    };
    auto add = [this, &pic](int Key, TSkinTitleBarAlign Align, bool AutoSize, bool CapSec) {
        TSkinTitleBarSection *s = m_Sections.Add();
        s->SetPicture(pic(Key));
        s->SetAutoSize(AutoSize);
        s->SetCapSec(CapSec);
        if (Align != TSkinTitleBarAlign::skinLeft)
            s->SetAlign(Align);
    };
    if (m_CaptionSection) {
        add(SKIN2_TITLEBAR1, TSkinTitleBarAlign::skinLeft, true, false);
        add(SKIN2_TITLEBAR2, TSkinTitleBarAlign::skinLeft, false, true);
        add(SKIN2_TITLEBAR3, TSkinTitleBarAlign::skinLeft, true, false);
        add(SKIN2_TITLEBAR4, TSkinTitleBarAlign::skinClient, false, false);
        add(SKIN2_TITLEBAR5, TSkinTitleBarAlign::skinLeft, true, false);
    } else {
        add(SKIN2_TITLEBAR1, TSkinTitleBarAlign::skinLeft, true, false);
        add(SKIN2_TITLEBAR2, TSkinTitleBarAlign::skinClient, false, false);
        add(SKIN2_TITLEBAR3, TSkinTitleBarAlign::skinRight, true, false);
    }
    m_LeftBtnXOffset = t->GetInteger(SKIN2_TITLEBARICONPOSX);
    m_RightBtnXOffset = t->GetInteger(SKIN2_TITLEBARBUTTONPOSX);
    const QImage buttons = pic(SKIN2_TITLEBUTTONS).convertToFormat(QImage::Format_RGB32);
    m_ButtonHeight = buttons.height();
    const int shift = OnFormFrame() ? 3 : 0;
    m_ButtonTop = t->GetInteger(SKIN2_TITLEBARBUTTONPOSY) - shift;
    m_IconTop = t->GetInteger(SKIN2_TITLEBARICONPOSY) - shift;
    m_CaptionTop = t->GetInteger(SKIN2_TITLEBARCAPTIONTOP);
    m_BackgroundColor = ColorToQColor(TColor(t->GetColor(SKIN2_FORMCOLOR)));
    if (QWidget *form = Form()) {
        const int perButton = buttons.width() / 18 * m_Buttons.Count();
        const int posx = t->GetInteger(SKIN2_TITLEBARBUTTONPOSX);
        int minWidth;
        if (m_CaptionSection)
            minWidth = qMax(pic(SKIN2_TITLEBAR5).width(), perButton + posx) + pic(SKIN2_TITLEBAR1).width() +
                pic(SKIN2_TITLEBAR3).width() + 16;
        else
            minWidth = qMax(perButton + posx, pic(SKIN2_TITLEBAR3).width()) + pic(SKIN2_TITLEBAR1).width();
        form->setMinimumWidth(minWidth);
    }
}

QImage TSkinTitleBar::ButtonStrip() const
{
    QImage strip;
    TSkinUIStyle style;
    if (ThemeFileInEffect(m_FileTheme, m_UIStyle, style)) {
        if (const QImage *img = m_FileTheme->GetBitmap(SKIN2_TITLEBUTTONS))
            strip = img->convertToFormat(QImage::Format_RGB32);
    } else {
        LoadStyleBitmap(style, 5, &strip);
    }
    return strip;
}

void TSkinTitleBar::LoadButtonPictures(TSkinTitleBarButton *Button)
{
    const int first = FirstFrame(Button->ButtonType(), FormIsMaximized());
    if (first == 0)
        return;
    const QImage strip = ButtonStrip();
    QImage frames[3];
    for (int i = 0; i < 3; ++i)
        ExtractFrame(strip, frames[i], 18, first + i);
    Button->m_PicNormal = frames[0];
    Button->m_PicMouseOn = frames[1];
    Button->m_PicMouseDown = frames[2];
    update();
}

TSkinForm *TSkinTitleBar::MaximizedChild() const
{
    return m_MaximizedChild;
}

void TSkinTitleBar::SetMaximizedChild(TSkinForm *Child)
{
    if (Child == m_MaximizedChild)
        return;
    if (m_ChildGone)
        disconnect(m_ChildGone);
    m_MaximizedChild = Child;
    if (Child) {
        // A child going away takes its buttons along.
        m_ChildGone = connect(Child, &QObject::destroyed, this, [this] {
            m_MaximizedChild = nullptr;
            update();
        });
        const QImage strip = ButtonStrip();
        const int firsts[3] = {FirstFrame(TSkinTitleBarBtnType::skinMin, false),
                               FirstFrame(TSkinTitleBarBtnType::skinMax, true),
                               FirstFrame(TSkinTitleBarBtnType::skinClose, false)};
        for (int b = 0; b < 3; ++b) {
            for (int i = 0; i < 3; ++i)
                ExtractFrame(strip, m_ChildPictures[b][i], 18, firsts[b] + i);
        }
    }
    update();
}

QRect TSkinTitleBar::ChildButtonRect(int Index) const
{
    const_cast<TSkinTitleBar *>(this)->LayoutButtons();
    return Index >= 0 && Index < 3 ? m_ChildButtonRects[Index] : QRect();
}

int TSkinTitleBar::ChildButtonAt(const QPoint &Pos) const
{
    const_cast<TSkinTitleBar *>(this)->LayoutButtons();
    for (int i = 0; i < 3; ++i) {
        if (!m_ChildButtonRects[i].isEmpty() && m_ChildButtonRects[i].contains(Pos))
            return i;
    }
    return -1;
}

void TSkinTitleBar::ChildButtonAct(int Index)
{
    QWidget *child = m_MaximizedChild ? m_MaximizedChild->Form() : nullptr;
    if (!child)
        return;
    switch (Index) {
    case cbMinimize:
        child->showMinimized();
        break;
    case cbRestore:
        child->showNormal();
        break;
    case cbClose:
        child->close();
        break;
    default:
        break;
    }
}

void TSkinTitleBar::UpdateButtons()
{
    if (m_Custom)
        return;
    for (int i = 0; i < m_Buttons.Count(); ++i) {
        TSkinTitleBarButton *b = m_Buttons.Items(i);
        if (b->ButtonType() == TSkinTitleBarBtnType::skinMax)
            LoadButtonPictures(b);
    }
    update();
}

void TSkinTitleBar::SetAutoSize(bool Value)
{
    if (m_Sections.Count() == 0) {
        m_AutoSize = false;
        return;
    }
    m_AutoSize = Value;
    if (Value)
        resize(width(), m_Sections.Items(0)->Picture().height() - (OnFormFrame() ? 3 : 0));
}

void TSkinTitleBar::SetButtonInterval(int Value)
{
    m_ButtonInterval = Value;
    update();
}

void TSkinTitleBar::SetCaption(const QString &Value)
{
    m_Caption = Value;
    update();
}

void TSkinTitleBar::SetFormActive(bool Value)
{
    m_FormActive = Value;
    update();
}

void TSkinTitleBar::SetLeftBtnXOffset(int Value)
{
    m_LeftBtnXOffset = Value;
    update();
}

void TSkinTitleBar::SetRightBtnXOffset(int Value)
{
    m_RightBtnXOffset = Value;
    update();
}

void TSkinTitleBar::SetDrawAppIcon(bool Value)
{
    m_DrawAppIcon = Value;
    update();
}

void TSkinTitleBar::SetInactiveCaptionColor(TColor Value)
{
    m_InactiveCaptionColor = Value;
    update();
}

QImage TSkinTitleBar::Pictures(int Index) const
{
    if (Index == -1)
        return m_Composed;
    if (Index == -2)
        return m_Filled;
    if (m_Sections.Count() > 2 && Index >= 0 && Index < m_Sections.Count())
        return m_Sections.Items(Index)->Picture();
    return {};
}

bool TSkinTitleBar::HasFullTitlePictures() const
{
    const int n = m_Sections.Count();
    if (n != 3 && n != 5)
        return false;
    for (int i = 0; i < n; ++i) {
        if (m_Sections.Items(i)->Picture().isNull())
            return false;
    }
    return true;
}

int TSkinTitleBar::TotalButtonWidth() const
{
    int total = 0;
    for (int i = 0; i < m_Buttons.Count(); ++i)
        total += m_Buttons.Items(i)->PicNormal().width() + m_ButtonInterval;
    return total;
}

void TSkinTitleBar::DrawSections(QPainter &Canvas)
{
    int dx = 0;
    int dy = 0;
    if (OnFormFrame()) {
        const int answer = FrameAnswer();
        if (answer != 0) {
            dx = -answer;
        } else {
            const auto *owner = qobject_cast<const QWidget *>(m_Owner.data());
            dx = owner && owner->isWindow() && owner->parentWidget() ? -4 : -3;
        }
        dy = -3;
    }
    const QSize size(qMax(1, width() - 2 * dx), qMax(1, height() - dy));
    m_Composed = QImage(size, QImage::Format_RGB32);
    m_Composed.fill(m_BackgroundColor);
    m_Filled = m_Composed.copy();

    QPainter p(&m_Composed);
    const QFontMetrics fm(font());
    int left = 0;
    int right = size.width();
    const int h = size.height();
    const TSkinTitleBarSection *client = nullptr;
    int prevLeftWidth = 0;
    bool capSec = false;
    for (int i = 0; i < m_Sections.Count(); ++i) {
        const TSkinTitleBarSection *s = m_Sections.Items(i);
        if (s->Picture().isNull())
            continue;
        if (s->CapSec()) {
            const TSkinTitleBarSection *next = m_Sections.Items(i + 1);
            const int room = width() - m_LeftBtnXOffset - 21 - TotalButtonWidth() - (next ? next->Width() : 0);
            m_FittedCaption = FitTextWithEllipsis(fm, m_Caption, room);
            const int w = fm.horizontalAdvance(m_FittedCaption) + m_LeftBtnXOffset + 17 - prevLeftWidth;
            capSec = true;
            if (w > 0) {
                p.drawImage(QRect(left, 0, w, h), s->Picture());
                left += w;
            }
        } else if (s->Align() == TSkinTitleBarAlign::skinLeft) {
            if (s->Stretch())
                p.drawImage(QRect(left, 0, s->Width(), h), s->Picture());
            else
                p.drawImage(left, 0, s->Picture());
            left += s->Width();
            prevLeftWidth = s->Width();
        } else if (s->Align() == TSkinTitleBarAlign::skinRight) {
            right -= s->Width();
            const QImage pic = MaskedImage(s->Picture(), m_TransparentColor);
            if (s->Stretch())
                p.drawImage(QRect(right, 0, s->Width(), h), pic);
            else
                p.drawImage(right, 0, pic);
        } else {
            client = s;
        }
    }
    if (client && right > left)
        p.drawImage(QRect(left, 0, right - left, h), client->Picture());
    p.end();
    if (!capSec)
        m_FittedCaption.clear();
    Canvas.drawImage(dx, dy, m_Composed);
}

void TSkinTitleBar::LayoutButtons()
{
    const int answer = FrameAnswer();
    m_ButtonRects.assign(size_t(m_Buttons.Count()), QRect());
    int edge = width() - m_RightBtnXOffset + (answer - 1);
    for (int i = 0; i < m_Buttons.Count(); ++i) {
        const TSkinTitleBarButton *b = m_Buttons.Items(i);
        if (!b->Visible() || !b->HasPictures() || b->ButtonType() == TSkinTitleBarBtnType::skinControlBox)
            continue;
        const QImage &pic = b->PicNormal();
        edge -= pic.width();
        if (b->ButtonType() != TSkinTitleBarBtnType::skinClose)
            edge -= 1 + m_ButtonInterval;
        edge = qMax(edge, 0);
        m_ButtonRects[size_t(i)] = QRect(edge, m_ButtonTop, pic.width(), pic.height());
    }
    // A maximised child's buttons stand left of the bar's own, a little apart.
    for (QRect &r : m_ChildButtonRects)
        r = QRect();
    if (m_MaximizedChild) {
        edge -= 4;
        for (int b = cbClose; b >= cbMinimize; --b) {
            const QImage &pic = m_ChildPictures[b][0];
            edge -= pic.width();
            if (b != cbClose)
                edge -= 1 + m_ButtonInterval;
            edge = qMax(edge, 0);
            m_ChildButtonRects[b] = QRect(edge, m_ButtonTop, pic.width(), pic.height());
        }
    }
    const int left = qMax(0, m_LeftBtnXOffset - 4 - (answer - 1));
    int captionLeft = 0;
    for (int i = 0; i < m_Buttons.Count(); ++i) {
        const TSkinTitleBarButton *b = m_Buttons.Items(i);
        if (!b->Visible() || b->ButtonType() != TSkinTitleBarBtnType::skinControlBox)
            continue;
        if (m_DrawAppIcon) {
            m_ButtonRects[size_t(i)] = QRect(left + 3, m_IconTop, 16, 16);
            captionLeft = left + 21;
        } else if (b->HasPictures()) {
            m_ButtonRects[size_t(i)] = QRect(left, m_IconTop - 1, b->PicNormal().width(), b->PicNormal().height());
            captionLeft = left + b->PicNormal().width() + 5;
        }
        break;
    }
    m_CaptionLeft = captionLeft == 0 ? 6 : captionLeft;
}

QRect TSkinTitleBar::ButtonRect(int Index) const
{
    const_cast<TSkinTitleBar *>(this)->LayoutButtons();
    return Index >= 0 && size_t(Index) < m_ButtonRects.size() ? m_ButtonRects[size_t(Index)] : QRect();
}

int TSkinTitleBar::ButtonAt(const QPoint &Pos) const
{
    const_cast<TSkinTitleBar *>(this)->LayoutButtons();
    for (size_t i = 0; i < m_ButtonRects.size(); ++i) {
        if (!m_ButtonRects[i].isEmpty() && m_ButtonRects[i].contains(Pos))
            return int(i);
    }
    return -1;
}

void TSkinTitleBar::DrawButtons(QPainter &Canvas)
{
    LayoutButtons();
    m_HotButton = m_MouseInside ? ButtonAt(m_MousePos) : -1;
    int rowLeft = width();
    const int childHot = m_MouseInside ? ChildButtonAt(m_MousePos) : -1;
    for (int b = 0; b < 3; ++b) {
        const QRect r = m_ChildButtonRects[b];
        if (r.isEmpty())
            continue;
        rowLeft = qMin(rowLeft, r.x());
        Canvas.drawImage(r.topLeft(), m_ChildPictures[b][childHot == b ? (m_MouseDown ? 2 : 1) : 0]);
    }
    for (int i = 0; i < m_Buttons.Count(); ++i) {
        const TSkinTitleBarButton *b = m_Buttons.Items(i);
        const QRect r = m_ButtonRects[size_t(i)];
        if (r.isEmpty())
            continue;
        if (b->ButtonType() == TSkinTitleBarBtnType::skinControlBox) {
            if (m_DrawAppIcon) {
                const QPixmap icon = QApplication::windowIcon().pixmap(16, 16);
                if (!icon.isNull())
                    Canvas.drawPixmap(r.topLeft(), icon);
                continue;
            }
        } else {
            rowLeft = qMin(rowLeft, r.x());
        }
        const QImage &pic = (m_HotButton == i && m_MouseDown) ? b->PicMouseDown()
            : m_HotButton == i                                ? b->PicMouseOn()
                                                              : b->PicNormal();
        Canvas.drawImage(r.topLeft(), b->Transparent() ? MaskedImage(pic, m_TransparentColor) : pic);
    }

    m_DrawnCaption.clear();
    if (m_Caption.isEmpty())
        return;
    const QFontMetrics fm(font());
    const int room = rowLeft - m_CaptionLeft;
    QString text = m_FittedCaption;
    if (text.isEmpty()) {
        text = m_Caption;
        if (fm.horizontalAdvance(text) > room) {
            while (!text.isEmpty() && fm.horizontalAdvance(text + QStringLiteral("...")) > room)
                text.chop(1);
            text += QStringLiteral("...");
        }
    }
    TSkinUIStyle style;
    const bool theme = ThemeFileInEffect(m_FileTheme, m_UIStyle, style);
    int y = theme ? m_CaptionTop - 3 : m_ButtonTop;
    if (!theme && style == TSkinUIStyle::Protein)
        y += 3;
    Canvas.setPen(ColorToQColor(m_FormActive ? m_FontColor : m_InactiveCaptionColor));
    Canvas.setFont(font());
    if (MiddleEastRightToLeft(this)) {
        const int right = rowLeft - 10;
        Canvas.drawText(QRect(0, y, qMax(0, right), fm.height()), Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine,
                        text);
    } else {
        Canvas.drawText(
            QRect(m_CaptionLeft, y, qMax(0, room) + fm.horizontalAdvance(QStringLiteral("...")), fm.height()),
            Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    m_DrawnCaption = text;
}

void TSkinTitleBar::PaintTo(QImage &Bitmap)
{
    Bitmap = QImage(qMax(1, width()), qMax(1, height()), QImage::Format_RGB32);
    Bitmap.fill(m_BackgroundColor);
    QPainter p(&Bitmap);
    p.setBrush(Qt::NoBrush);
    p.setFont(font());
    DrawSections(p);
    DrawButtons(p);
}

void TSkinTitleBar::paintEvent(QPaintEvent *)
{
    WatchWindow();
    QImage bitmap;
    PaintTo(bitmap);
    QPainter p(this);
    p.drawImage(0, 0, bitmap);
}

void TSkinTitleBar::WatchWindow()
{
    QWidget *w = Form();
    if (!w || w == m_Watched)
        return;
    if (m_Watched)
        m_Watched->removeEventFilter(this);
    m_Watched = w;
    w->installEventFilter(this);
}

bool TSkinTitleBar::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == m_Watched && Event->type() == QEvent::WindowStateChange)
        UpdateButtons();
    if (Watched == m_AlignedTo && (Event->type() == QEvent::Resize || Event->type() == QEvent::ContentsRectChange))
        AlignToParent();
    return QWidget::eventFilter(Watched, Event);
}

void TSkinTitleBar::mousePressEvent(QMouseEvent *Event)
{
    m_MousePos = Event->position().toPoint();
    m_MouseInside = true;
    if (Event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(Event);
        return;
    }
    m_MouseDown = true;
    update();
    QWidget *form = Form();
    if (!form || ButtonAt(m_MousePos) != -1 || ChildButtonAt(m_MousePos) != -1 || FormIsMaximized())
        return;
    // The window system moves the window where it can; elsewhere (a child form inside its
    // parent among them) the bar follows the mouse.
    QWindow *handle = form->isWindow() ? form->windowHandle() : nullptr;
    if (handle && QGuiApplication::platformName() != QLatin1String("offscreen") && handle->startSystemMove()) {
        m_MouseDown = false;
        return;
    }
    m_Dragging = true;
    m_DragOffset = Event->globalPosition().toPoint() - form->pos();
}

void TSkinTitleBar::mouseMoveEvent(QMouseEvent *Event)
{
    m_MousePos = Event->position().toPoint();
    m_MouseInside = rect().contains(m_MousePos);
    if (m_Dragging && (Event->buttons() & Qt::LeftButton))
        Form()->move(Event->globalPosition().toPoint() - m_DragOffset);
    update();
}

void TSkinTitleBar::mouseReleaseEvent(QMouseEvent *Event)
{
    m_MousePos = Event->position().toPoint();
    if (Event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(Event);
        return;
    }
    m_Dragging = false;
    QPointer<TSkinTitleBar> self(this);
    const int hot = rect().contains(m_MousePos) ? ButtonAt(m_MousePos) : -1;
    m_HotButton = hot;
    if (const int child = rect().contains(m_MousePos) ? ChildButtonAt(m_MousePos) : -1; child >= 0) {
        ChildButtonAct(child);
        if (!self)
            return;
    }
    if (hot >= 0) {
        TSkinTitleBarButton *b = m_Buttons.Items(hot);
        if (b->ButtonType() == TSkinTitleBarBtnType::skinControlBox && !b->ControlBoxMenu())
            m_SystemMenu->PopupAt(mapToGlobal(QPoint(0, height())));
        ButtonAct(b);
        if (!self)
            return;
        if (b->ButtonType() == TSkinTitleBarBtnType::skinCustom && OnCustomBtnsClick)
            OnCustomBtnsClick(this, hot);
        else if (b->ButtonType() == TSkinTitleBarBtnType::skinHelp && OnHelpBtnClick)
            OnHelpBtnClick(this, hot);
        if (!self)
            return;
    }
    m_MouseDown = false;
    update();
}

void TSkinTitleBar::mouseDoubleClickEvent(QMouseEvent *Event)
{
    if (Event->button() != Qt::LeftButton)
        return;
    m_MousePos = Event->position().toPoint();
    const int hot = ButtonAt(m_MousePos);
    if (hot == -1) {
        for (int i = 0; i < m_Buttons.Count(); ++i) {
            TSkinTitleBarButton *b = m_Buttons.Items(i);
            if (b->Visible() && b->ButtonType() == TSkinTitleBarBtnType::skinMax) {
                ButtonAct(b);
                break;
            }
        }
    } else if (m_Buttons.Items(hot)->ButtonType() == TSkinTitleBarBtnType::skinControlBox) {
        if (QWidget *form = Form())
            form->close();
    }
}

void TSkinTitleBar::leaveEvent(QEvent *Event)
{
    m_MouseInside = false;
    update();
    QWidget::leaveEvent(Event);
}

void TSkinTitleBar::changeEvent(QEvent *Event)
{
    if (Event->type() == QEvent::FontChange)
        update();
    if (Event->type() == QEvent::ParentChange) {
        WatchWindow();
        AlignToParent();
    }
    QWidget::changeEvent(Event);
}

void TSkinTitleBar::resizeEvent(QResizeEvent *Event)
{
    update();
    QWidget::resizeEvent(Event);
    // The bar stays across the top of its parent whatever it is given.
    AlignToParent();
}

void TSkinTitleBar::moveEvent(QMoveEvent *Event)
{
    QWidget::moveEvent(Event);
    AlignToParent();
}

void TSkinTitleBar::ButtonAct(TSkinTitleBarButton *Button)
{
    QWidget *form = Form();
    if (!Button || !form)
        return;
    switch (Button->ButtonType()) {
    case TSkinTitleBarBtnType::skinMax:
        if (form->isMaximized()) {
            form->showNormal();
        } else {
            form->showMaximized();
            if (form->isWindow() && FrameAnswer() == 0 && !qobject_cast<TSkinForm *>(parentWidget())) {
                // The window's own frame, where it has one, lies inside the work area too.
                QRect area;
                GetWorkArea(area);
                const QRect frame = form->frameGeometry();
                const QRect geo = form->geometry();
                form->setGeometry(area.adjusted(geo.left() - frame.left(), geo.top() - frame.top(),
                                                geo.right() - frame.right(), geo.bottom() - frame.bottom()));
            }
        }
        UpdateButtons();
        break;
    case TSkinTitleBarBtnType::skinMin:
        form->showMinimized();
        break;
    case TSkinTitleBarBtnType::skinClose:
        form->close();
        break;
    case TSkinTitleBarBtnType::skinControlBox:
        if (QMenu *menu = Button->ControlBoxMenu()) {
            QPoint p = mapToGlobal(QPoint(0, height()));
            if (MiddleEastRightToLeft(this))
                p.rx() += 176;
            if (const QScreen *screen = form->screen())
                p.setX(qMax(p.x(), screen->geometry().left()));
            menu->popup(p);
        }
        break;
    case TSkinTitleBarBtnType::skinHelp:
    case TSkinTitleBarBtnType::skinCustom:
        break;
    }
}
