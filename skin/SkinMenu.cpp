#include "skin/SkinMenu.h"

#include "skin/Skin2Define.h"
#include "skin/SkinPng.h"
#include "skin/SkinPublic.h"

#include <QAction>
#include <QActionEvent>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHash>
#include <QMutex>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

namespace {

const char *const kImageIndexProperty = "SkinImageIndex";

QColor Q(TColor Color)
{
    return ColorToQColor(Color);
}

QImage Grayed(const QImage &Image)
{
    QImage out = Image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int g = qGray(line[x]);
            // Light the gray so that it reads as unavailable.
            const int v = 128 + g / 2;
            line[x] = qRgba(v, v, v, qAlpha(line[x]));
        }
    }
    return out;
}

} // namespace

// Routes the measuring and drawing of every item of the menus it is set on to their menu.
class TSkinMenuStyle : public QProxyStyle
{
public:
    explicit TSkinMenuStyle(TSkinCustomMenu *Menu) : m_Menu(Menu) {}

    int pixelMetric(PixelMetric Metric, const QStyleOption *Option, const QWidget *Widget) const override
    {
        switch (Metric) {
        case PM_MenuPanelWidth:
            // The width of the system's menu frame, which the flat frame paints over.
            return 3;
        case PM_MenuHMargin:
        case PM_MenuVMargin:
            return 0;
        default:
            return QProxyStyle::pixelMetric(Metric, Option, Widget);
        }
    }

    QSize sizeFromContents(ContentsType Type, const QStyleOption *Option, const QSize &Size,
                           const QWidget *Widget) const override
    {
        if (Type == CT_MenuItem) {
            if (const auto *mi = qstyleoption_cast<const QStyleOptionMenuItem *>(Option))
                return m_Menu->MeasureItem(StateOf(mi, nullptr));
        }
        return QProxyStyle::sizeFromContents(Type, Option, Size, Widget);
    }

    void drawControl(ControlElement Element, const QStyleOption *Option, QPainter *Painter,
                     const QWidget *Widget) const override
    {
        if (Element == CE_MenuItem) {
            if (const auto *mi = qstyleoption_cast<const QStyleOptionMenuItem *>(Option)) {
                const auto *menu = qobject_cast<const QMenu *>(Widget);
                const QAction *action = menu ? menu->actionAt(mi->rect.center()) : nullptr;
                m_Menu->DrawItem(*Painter, mi->rect, StateOf(mi, action), MiddleEastRightToLeft(Widget));
            }
            return;
        }
        if (Element == CE_MenuEmptyArea) {
            Painter->fillRect(Option->rect, Q(m_Menu->Color()));
            return;
        }
        QProxyStyle::drawControl(Element, Option, Painter, Widget);
    }

    void drawPrimitive(PrimitiveElement Element, const QStyleOption *Option, QPainter *Painter,
                       const QWidget *Widget) const override
    {
        if (Element == PE_PanelMenu) {
            Painter->fillRect(Option->rect, Q(m_Menu->Color()));
            return;
        }
        if (Element == PE_FrameMenu) {
            const auto *menu = qobject_cast<const QMenu *>(Widget);
            bool separator = false;
            if (menu) {
                for (const QAction *a : menu->actions())
                    separator = separator || (a->isVisible() && IsMenuSeparator(a));
            }
            if (separator) {
                m_Menu->DrawMenuFrame(*Painter, Widget->size());
                return;
            }
        }
        QProxyStyle::drawPrimitive(Element, Option, Painter, Widget);
    }

private:
    static TSkinMenuItemState StateOf(const QStyleOptionMenuItem *Option, const QAction *Action)
    {
        TSkinMenuItemState s;
        const qsizetype tab = Option->text.indexOf(QLatin1Char('\t'));
        s.Caption = tab < 0 ? Option->text : Option->text.left(tab);
        s.ShortCut = tab < 0 ? QString() : Option->text.mid(tab + 1);
        s.Separator = Option->menuItemType == QStyleOptionMenuItem::Separator || s.Caption == QLatin1String("-");
        s.Enabled = Option->state & QStyle::State_Enabled;
        s.Selected = Option->state & QStyle::State_Selected;
        s.Checked = Option->checkType != QStyleOptionMenuItem::NotCheckable && Option->checked;
        s.Default = Option->menuItemType == QStyleOptionMenuItem::DefaultItem;
        s.ImageIndex = Action ? MenuItemImageIndex(Action) : -1;
        return s;
    }

    TSkinCustomMenu *m_Menu;
};

// ---- TSkinImageList ----

int TSkinImageList::Add(const QImage &Image)
{
    m_Images.append(Image);
    return int(m_Images.size()) - 1;
}

QImage TSkinImageList::Image(int Index) const
{
    return Index >= 0 && Index < Count() ? m_Images.at(Index) : QImage();
}

void TSkinImageList::Draw(QPainter &Canvas, int X, int Y, int Index, bool Enabled) const
{
    const QImage img = Image(Index);
    if (img.isNull())
        return;
    Canvas.drawImage(X, Y, Enabled ? img : Grayed(img));
}

// ---- free routines ----

int MenuItemImageIndex(const QAction *Item)
{
    if (!Item)
        return -1;
    const QVariant v = Item->property(kImageIndexProperty);
    return v.isValid() ? v.toInt() : -1;
}

void SetMenuItemImageIndex(QAction *Item, int Index)
{
    if (Item)
        Item->setProperty(kImageIndexProperty, Index);
}

bool IsMenuSeparator(const QAction *Item)
{
    return Item && (Item->isSeparator() || Item->text() == QLatin1String("-"));
}

QImage MenuBitmap(const QString &Name)
{
    QImage img = LoadSkinResourceBitmap(Name);
    if (!img.isNull())
        return img;
    // Decoded once for the program's run: the menus ask on every paint of every item.
    static QMutex lock;
    static QHash<QString, QImage> decoded;
    QMutexLocker guard(&lock);
    auto it = decoded.constFind(Name);
    if (it == decoded.constEnd()) {
        const QByteArrayView data = EmbeddedPng(u":/skin/menus/", Name);
        img = data.isEmpty() ? QImage() : DecodeSkinPng(data);
        if (!img.isNull())
            img = img.convertToFormat(QImage::Format_RGB32);
        it = decoded.insert(Name, img);
    }
    return *it;
}

QFont SystemMenuFont()
{
    return QApplication::font("QMenu");
}

QColor SkinOrStyleColor(const TSkinFileTheme *Theme, int SkinKey, TSkinUIStyle Style, int StyleKey)
{
    if (Theme)
        return ColorToQColor(TColor(Theme->GetColor(SkinKey)));
    return ColorToQColor(StyleColor(Style, StyleKey));
}

// ---- TSkinCustomMenu ----

TSkinCustomMenu::TSkinCustomMenu(QWidget *AOwner) : QMenu(AOwner), m_Style(std::make_unique<TSkinMenuStyle>(this))
{
    const QPalette pal = QApplication::palette();
    m_BarColor = QColorToColor(pal.color(QPalette::Button));
    m_BarToColor = m_BarColor;
    m_SelectedBorderColor = QColorToColor(pal.color(QPalette::Highlight));
    m_SelectedColor = m_SelectedBorderColor;
    HookMenu(this);
    m_UIStyle = FormStyleOfOwner(AOwner);
    ApplyUIStyle();
}

TSkinCustomMenu::~TSkinCustomMenu()
{
    UnhookAll();
}

void TSkinCustomMenu::SetFileTheme(TSkinFileTheme *Value)
{
    if (m_ThemeGone)
        disconnect(m_ThemeGone);
    m_FileTheme = Value;
    if (Value)
        m_ThemeGone = connect(Value, &QObject::destroyed, this, [this] { ThemeRemoved(); });
    ApplyUIStyle();
}

void TSkinCustomMenu::ThemeRemoved()
{
    m_FileTheme = nullptr;
    ApplyUIStyle();
}

void TSkinCustomMenu::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    ApplyUIStyle();
}

void TSkinCustomMenu::SetMenuItemHeight(int Value)
{
    if (m_UIStyle != TSkinUIStyle::MacOS)
        m_MenuItemHeight = Value;
}

void TSkinCustomMenu::SetSeparatorHeight(int Value)
{
    if (m_UIStyle != TSkinUIStyle::MacOS)
        m_SeparatorHeight = Value;
}

void TSkinCustomMenu::SetUseSystemFont(bool Value)
{
    m_UseSystemFont = Value;
}

TSkinUIStyle TSkinCustomMenu::EffectiveStyle() const
{
    TSkinUIStyle style;
    ThemeFileInEffect(m_FileTheme, m_UIStyle, style);
    return style;
}

bool TSkinCustomMenu::ThemeInEffect() const
{
    TSkinUIStyle style;
    return ThemeFileInEffect(m_FileTheme, m_UIStyle, style);
}

void TSkinCustomMenu::ApplyUIStyle()
{
    m_BarWidth = 26;
    if (m_UIStyle == TSkinUIStyle::MacOS) {
        m_MenuItemHeight = 20;
        m_SeparatorHeight = 12;
        m_SeparatorColor = 0;
    } else {
        m_MenuItemHeight = 21;
        m_SeparatorHeight = 5;
        m_SeparatorColor = 0x848284;
    }
    TSkinUIStyle style;
    if (ThemeFileInEffect(m_FileTheme, m_UIStyle, style)) {
        m_BarColor = TColor(m_FileTheme->GetColor(SKIN2_LEFTBARSTARTCOLOR));
        m_BarToColor = TColor(m_FileTheme->GetColor(SKIN2_LEFTBARENDCOLOR));
        m_Color = TColor(m_FileTheme->GetColor(SKIN2_MENUITEMCOLOR));
        m_FontColor = TColor(m_FileTheme->GetColor(SKIN2_MENUITEMFONTCOLOR));
        m_SelectedColor = TColor(m_FileTheme->GetColor(SKIN2_SELECTEDMENUCOLOR));
        m_SelectedBorderColor = TColor(m_FileTheme->GetColor(SKIN2_SELECTEDMENUBORDERCOLOR));
        m_SelectedFontColor = TColor(m_FileTheme->GetColor(SKIN2_SELECTEDMENUFONTCOLOR));
    } else {
        m_BarColor = StyleColor(style, 23);
        m_BarToColor = m_BarColor;
        m_Color = StyleColor(style, 21);
        m_FontColor = StyleColor(style, 22);
        m_SelectedBorderColor = StyleColor(style, 18);
        m_SelectedColor = StyleColor(style, 19);
        m_SelectedFontColor = StyleColor(style, 20);
    }
    for (const QPointer<QMenu> &m : std::as_const(m_Hooked)) {
        if (m)
            m->update();
    }
}

QFont TSkinCustomMenu::ItemFont() const
{
    if (m_UseSystemFont)
        return SystemMenuFont();
    QFont f(m_FontName);
    if (m_FontSize > 0)
        f.setPointSize(m_FontSize);
    return f;
}

QSize TSkinCustomMenu::MeasureItem(const TSkinMenuItemState &Item) const
{
    const QFontMetrics fm(ItemFont());
    const int width = fm.horizontalAdvance(Item.Caption) + fm.horizontalAdvance(Item.ShortCut) + m_BarWidth + 40;
    if (Item.Separator || Item.Caption == QLatin1String("-"))
        return {width, m_SeparatorHeight};
    return {width, qMax(fm.height(), m_MenuItemHeight)};
}

QSize TSkinCustomMenu::MeasureItem(const QAction *Item) const
{
    return MeasureItem(ItemState(Item, false));
}

TSkinMenuItemState TSkinCustomMenu::ItemState(const QAction *Item, bool Selected) const
{
    TSkinMenuItemState s;
    if (!Item)
        return s;
    const QString text = Item->text();
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    s.Caption = tab < 0 ? text : text.left(tab);
    if (tab >= 0)
        s.ShortCut = text.mid(tab + 1);
    else if (!Item->shortcut().isEmpty())
        s.ShortCut = Item->shortcut().toString(QKeySequence::NativeText);
    s.Separator = IsMenuSeparator(Item);
    s.Enabled = Item->isEnabled();
    s.Selected = Selected;
    s.Checked = Item->isCheckable() && Item->isChecked();
    const QMenu *owner = qobject_cast<const QMenu *>(Item->parent());
    s.Default = owner && owner->defaultAction() == Item;
    s.ImageIndex = MenuItemImageIndex(Item);
    return s;
}

void TSkinCustomMenu::DrawMenuFrame(QPainter &Canvas, const QSize &Size) const
{
    const int w = Size.width();
    const int h = Size.height();
    Canvas.save();
    Canvas.setClipping(false);
    Canvas.setBrush(Qt::NoBrush);
    // A black frame one pixel in at the top, right and bottom, a white one inside it.
    Canvas.setPen(Qt::black);
    Canvas.drawRect(0, 1, w - 2, h - 3);
    Canvas.setPen(Qt::white);
    Canvas.drawRect(1, 2, w - 4, h - 5);
    TSkinUIStyle style;
    const QColor form = ThemeFileInEffect(m_FileTheme, m_UIStyle, style)
        ? Q(TColor(m_FileTheme->GetColor(SKIN2_FORMCOLOR)))
        : Q(StyleColor(style, 15));
    Canvas.setPen(form);
    Canvas.drawLine(0, h - 1, w - 1, h - 1);
    Canvas.drawLine(w - 1, 0, w - 1, h - 1);
    Canvas.drawLine(0, 0, w - 1, 0);
    Canvas.restore();
}

void TSkinCustomMenu::DrawItem(QPainter &Canvas, const QRect &Rect, const TSkinMenuItemState &Item,
                               bool RightToLeft) const
{
    Canvas.save();
    const bool macos = EffectiveStyle() == TSkinUIStyle::MacOS;
    const int left = Rect.x();
    const int right = Rect.x() + Rect.width();
    const int top = Rect.y();

    auto plainBackground = [&] {
        if (macos) {
            const QImage bar = MenuBitmap(QStringLiteral("MACOS_MENU_BAR"));
            if (!bar.isNull())
                Canvas.drawImage(Rect, bar);
            else
                Canvas.fillRect(Rect, Q(m_Color));
            return;
        }
        const QRect barRect = RightToLeft ? QRect(right - m_BarWidth, top, m_BarWidth, Rect.height())
                                          : QRect(left, top, m_BarWidth, Rect.height());
        if (m_BarColor != m_BarToColor)
            DrawHorizontalGradient(Canvas, barRect, Q(m_BarColor), Q(m_BarToColor));
        else
            Canvas.fillRect(barRect, Q(m_BarColor));
        const QRect rest = RightToLeft ? QRect(left, top, Rect.width() - m_BarWidth, Rect.height())
                                       : QRect(left + m_BarWidth, top, Rect.width() - m_BarWidth, Rect.height());
        Canvas.fillRect(rest, Q(m_Color));
    };

    if (Item.Separator || Item.Caption == QLatin1String("-")) {
        plainBackground();
        if (!macos) {
            Canvas.setPen(Q(m_SeparatorColor));
            const int y = top + 2;
            if (RightToLeft)
                Canvas.drawLine(left + 2, y, right - m_BarWidth - 5, y);
            else
                Canvas.drawLine(left + m_BarWidth + 4, y, right - 3, y);
        }
        Canvas.restore();
        return;
    }

    if (Item.Selected && Item.Enabled) {
        if (macos) {
            const QImage sel = MenuBitmap(QStringLiteral("MACOS_MENU_SELECT"));
            if (!sel.isNull())
                Canvas.drawImage(Rect, sel);
            else
                Canvas.fillRect(Rect, Q(m_SelectedColor));
        } else {
            Canvas.fillRect(Rect, Q(m_SelectedColor));
            Canvas.setPen(Q(m_SelectedBorderColor));
            Canvas.setBrush(Qt::NoBrush);
            Canvas.drawRect(Rect.adjusted(0, 0, -1, -1));
        }
    } else {
        plainBackground();
    }

    QFont font = ItemFont();
    font.setBold(Item.Default);
    Canvas.setFont(font);
    QColor text = Q(m_FontColor);
    if (!Item.Enabled)
        text = QColor(Qt::gray);
    else if (Item.Selected)
        text = Q(m_SelectedFontColor);
    Canvas.setPen(text);
    const QFontMetrics fm(font);
    const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic | Qt::AlignVCenter;
    if (RightToLeft) {
        Canvas.drawText(QRect(left + m_BarWidth, top, Rect.width() - m_BarWidth - 4, Rect.height()),
                        flags | Qt::AlignRight, Item.Caption);
        if (!Item.ShortCut.isEmpty())
            Canvas.drawText(QRect(left + m_BarWidth + 4, top, Rect.width(), Rect.height()), flags | Qt::AlignLeft,
                            Item.ShortCut);
    } else {
        Canvas.drawText(QRect(left + m_BarWidth + 4, top, Rect.width() - m_BarWidth - 4, Rect.height()),
                        flags | Qt::AlignLeft, Item.Caption);
        if (!Item.ShortCut.isEmpty()) {
            const int w = fm.horizontalAdvance(Item.ShortCut);
            Canvas.drawText(QRect(right - w - 16, top, w + 16, Rect.height()), flags | Qt::AlignLeft, Item.ShortCut);
        }
    }

    const int x = RightToLeft ? right - 20 : left + 4;
    const int y = top + 3;
    const TSkinImageList *images = ItemImages();
    const bool hasImage = Item.ImageIndex != -1 && images && Item.ImageIndex < images->Count();
    if (Item.Checked) {
        if (hasImage) {
            Canvas.setPen(Qt::black);
            Canvas.setBrush(Qt::NoBrush);
            Canvas.drawRect(x - 2, top + 1, 18, 18);
            Canvas.fillRect(QRect(x - 1, top + 2, 17, 17), Q(m_SelectedColor));
        } else if (const TSkinImageList *checks = CheckImages()) {
            checks->Draw(Canvas, x, y, 0, true);
        }
    }
    if (hasImage)
        images->Draw(Canvas, x, y, Item.ImageIndex, Item.Enabled);
    Canvas.restore();
}

void TSkinCustomMenu::HookItems()
{
    HookMenu(this);
}

void TSkinCustomMenu::HookMenu(QMenu *Menu)
{
    if (!Menu)
        return;
    bool known = false;
    for (const QPointer<QMenu> &m : std::as_const(m_Hooked))
        known = known || m == Menu;
    if (!known) {
        Menu->setStyle(m_Style.get());
        if (Menu != this)
            Menu->installEventFilter(this);
        m_Hooked.append(Menu);
    }
    for (QAction *a : Menu->actions()) {
        if (a->text() == QLatin1String("-") && !a->isSeparator())
            a->setSeparator(true);
        if (a->menu())
            HookMenu(a->menu());
    }
}

void TSkinCustomMenu::UnhookAll()
{
    // Menus that outlive this one go back to the application's look.
    for (const QPointer<QMenu> &m : std::as_const(m_Hooked)) {
        if (m && m != this) {
            m->removeEventFilter(this);
            m->setStyle(nullptr);
        }
    }
    m_Hooked.clear();
    setStyle(nullptr);
}

bool TSkinCustomMenu::event(QEvent *Event)
{
    const bool result = QMenu::event(Event);
    if (Event->type() == QEvent::ActionAdded || Event->type() == QEvent::ActionChanged)
        HookMenu(this);
    if (Event->type() == QEvent::ActionAdded || Event->type() == QEvent::ActionChanged ||
        Event->type() == QEvent::ActionRemoved)
        MenuChanged();
    return result;
}

bool TSkinCustomMenu::eventFilter(QObject *Watched, QEvent *Event)
{
    const QEvent::Type t = Event->type();
    if (t == QEvent::ActionAdded || t == QEvent::ActionChanged || t == QEvent::ActionRemoved) {
        if (auto *m = qobject_cast<QMenu *>(Watched)) {
            if (t != QEvent::ActionRemoved)
                HookMenu(m);
            MenuChanged();
        }
    }
    return QMenu::eventFilter(Watched, Event);
}

// ---- menu bar drawing ----

void DrawMenuBarBackground(QPainter &Canvas, const QRect &Rect, const TSkinMenuBarLook &Look)
{
    if (!Look.Theme && Look.Style == TSkinUIStyle::MacOS) {
        const QImage bar = MenuBitmap(QStringLiteral("MACOS_MENU_BAR"));
        if (!bar.isNull()) {
            Canvas.drawImage(Rect, bar);
            return;
        }
    }
    if (Look.BarColor != Look.BarToColor)
        DrawVerticalGradient(Canvas, Rect, Look.BarColor, Look.BarToColor);
}

void DrawMenuBarButton(QPainter &Canvas, const QRect &Rect, const QString &Caption, bool Marked, bool Enabled,
                       const TSkinMenuBarLook &Look)
{
    Canvas.save();
    Canvas.setFont(Look.Font);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    if (Marked) {
        if (!Look.Theme && Look.Style == TSkinUIStyle::MacOS) {
            const QImage sel = MenuBitmap(QStringLiteral("MACOS_MENU_SELECT"));
            QImage off(Rect.size(), QImage::Format_RGB32);
            off.fill(ColorToQColor(StyleColor(Look.Style, 19)));
            {
                QPainter p(&off);
                if (!sel.isNull())
                    p.drawImage(off.rect(), sel);
                p.setFont(Look.Font);
                p.setPen(ColorToQColor(StyleColor(Look.Style, 20)));
                p.drawText(off.rect().translated(0, 2), flags, Caption);
            }
            Canvas.drawImage(Rect.topLeft(), off);
        } else {
            Canvas.fillRect(Rect, SkinOrStyleColor(Look.Theme, SKIN2_TOPSELECTEDMENUCOLOR, Look.Style, 19));
            Canvas.setPen(SkinOrStyleColor(Look.Theme, SKIN2_TOPSELECTEDMENUBORDERCOLOR, Look.Style, 18));
            Canvas.setBrush(Qt::NoBrush);
            Canvas.drawRect(Rect.adjusted(0, 0, -1, -1));
            Canvas.setPen(SkinOrStyleColor(Look.Theme, SKIN2_TOPSELECTEDMENUFONTCOLOR, Look.Style, 20));
            Canvas.drawText(Rect.translated(0, 2), flags, Caption);
        }
    } else {
        Canvas.setPen(Enabled ? SkinOrStyleColor(Look.Theme, SKIN2_TOPMENUFONTCOLOR, Look.Style, 22)
                              : QColor(0x80, 0x80, 0x80));
        Canvas.drawText(Rect, flags, Caption);
    }
    Canvas.restore();
}
