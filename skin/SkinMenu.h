#pragma once

// Owner-drawn menus in the look of a built-in style or a skin file: the property set and item
// drawing shared by the pop-up and the main menu, and the menu-bar drawing of the skinned form.

#include "skin/SkinMgr.h"
#include "skin/SkinThemes.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QPainter;
class TSkinMenuStyle;

// A list of equally treated item pictures, looked up by index.
class TSkinImageList
{
public:
    int Add(const QImage &Image);
    int Count() const { return int(m_Images.size()); }
    QImage Image(int Index) const;
    void Clear() { m_Images.clear(); }
    // Draws picture Index at (X, Y); a disabled item gets it grayed.
    void Draw(QPainter &Canvas, int X, int Y, int Index, bool Enabled) const;

private:
    QList<QImage> m_Images;
};

// The index of an item's picture in its menu's image list; -1 when it has none.
int MenuItemImageIndex(const QAction *Item);
void SetMenuItemImageIndex(QAction *Item, int Index);
// An item is a separator when it is one or when its caption is "-".
bool IsMenuSeparator(const QAction *Item);

// A bitmap of the program by name: the style bitmaps, then the menus' own ("MENU_CHECKED",
// "MACOS_MENU_BAR", "MACOS_MENU_SELECT"); a null image when there is none.
QImage MenuBitmap(const QString &Name);

// The font the system uses for menus.
QFont SystemMenuFont();

// What drawing an item needs to know of it.
struct TSkinMenuItemState
{
    QString Caption;
    QString ShortCut;
    bool Separator = false;
    bool Enabled = true;
    bool Selected = false;
    bool Checked = false;
    bool Default = false;
    int ImageIndex = -1;
};

// The properties and drawing shared by TSkinPopupMenu and TSkinMainMenu.
class TSkinCustomMenu : public QMenu
{
    Q_OBJECT
    Q_PROPERTY(TSkinUIStyle UIStyle READ UIStyle WRITE SetUIStyle)
    Q_PROPERTY(TSkinFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)
public:
    explicit TSkinCustomMenu(QWidget *AOwner = nullptr);
    ~TSkinCustomMenu() override;

    // Always owner-drawn; writes are ignored.
    bool OwnerDraw() const { return true; }
    void SetOwnerDraw(bool) {}

    TSkinFileTheme *FileTheme() const { return m_FileTheme; }
    void SetFileTheme(TSkinFileTheme *Value);
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    void SetUIStyle(TSkinUIStyle Value);

    int MenuItemHeight() const { return m_MenuItemHeight; }
    virtual void SetMenuItemHeight(int Value);
    int SeparatorHeight() const { return m_SeparatorHeight; }
    void SetSeparatorHeight(int Value);
    int BarWidth() const { return m_BarWidth; }
    void SetBarWidth(int Value) { m_BarWidth = Value; }
    TColor BarColor() const { return m_BarColor; }
    void SetBarColor(TColor Value) { m_BarColor = Value; }
    TColor BarToColor() const { return m_BarToColor; }
    void SetBarToColor(TColor Value) { m_BarToColor = Value; }
    TColor Color() const { return m_Color; }
    void SetColor(TColor Value) { m_Color = Value; }
    TColor SeparatorColor() const { return m_SeparatorColor; }
    void SetSeparatorColor(TColor Value) { m_SeparatorColor = Value; }
    TColor SelectedBorderColor() const { return m_SelectedBorderColor; }
    void SetSelectedBorderColor(TColor Value) { m_SelectedBorderColor = Value; }
    TColor SelectedColor() const { return m_SelectedColor; }
    void SetSelectedColor(TColor Value) { m_SelectedColor = Value; }
    TColor SelectedFontColor() const { return m_SelectedFontColor; }
    void SetSelectedFontColor(TColor Value) { m_SelectedFontColor = Value; }
    TColor FontColor() const { return m_FontColor; }
    void SetFontColor(TColor Value) { m_FontColor = Value; }
    TColor BorderColor() const { return m_BorderColor; }
    void SetBorderColor(TColor Value) { m_BorderColor = Value; }
    bool FlatMenu() const { return m_FlatMenu; }
    void SetFlatMenu(bool Value) { m_FlatMenu = Value; }
    QString FontName() const { return m_FontName; }
    void SetFontName(const QString &Value) { m_FontName = Value; }
    int FontSize() const { return m_FontSize; }
    void SetFontSize(int Value) { m_FontSize = Value; }
    int FontCharset() const { return m_FontCharset; }
    void SetFontCharset(int Value) { m_FontCharset = Value; }
    bool UseSystemFont() const { return m_UseSystemFont; }
    virtual void SetUseSystemFont(bool Value);

    // User pictures of the items; nil when none are assigned.
    virtual TSkinImageList *Images() const { return m_Images; }
    virtual void SetImages(TSkinImageList *Value) { m_Images = Value; }

    // The look actually drawn: the style, DeepBlue for a theme that is not ready.
    TSkinUIStyle EffectiveStyle() const;
    bool ThemeInEffect() const;
    // The item font: the system menu font, or FontName and FontSize.
    QFont ItemFont() const;

    QSize MeasureItem(const TSkinMenuItemState &Item) const;
    QSize MeasureItem(const QAction *Item) const;
    // Draws one item into Rect; RightToLeft mirrors the bar and the texts.
    void DrawItem(QPainter &Canvas, const QRect &Rect, const TSkinMenuItemState &Item, bool RightToLeft = false) const;
    // The flat frame around a menu window of Size drawn when it shows a separator.
    void DrawMenuFrame(QPainter &Canvas, const QSize &Size) const;
    TSkinMenuItemState ItemState(const QAction *Item, bool Selected) const;

    // Gives every item, through every sub-menu, this menu's measuring and drawing.
    void HookItems();

protected:
    // Runs when the theme component goes away.
    virtual void ThemeRemoved();
    // Re-applies the colours and sizes of the current style.
    void ApplyUIStyle();
    // Runs when an item of the menu or of a sub-menu is added, changed or removed.
    virtual void MenuChanged() {}
    // The list item pictures are drawn from.
    virtual const TSkinImageList *ItemImages() const { return Images(); }
    // The pictures checked items without a picture of their own show.
    virtual const TSkinImageList *CheckImages() const = 0;

    bool event(QEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
    int m_MenuItemHeight = 21;
    int m_SeparatorHeight = 21;

private:
    void HookMenu(QMenu *Menu);
    void UnhookAll();

    std::unique_ptr<TSkinMenuStyle> m_Style;
    QList<QPointer<QMenu>> m_Hooked;
    QPointer<TSkinFileTheme> m_FileTheme;
    QMetaObject::Connection m_ThemeGone;
    int m_BarWidth = 0;
    TColor m_BarColor;
    TColor m_BarToColor;
    TColor m_Color = 0xFFFFFF;
    TColor m_SeparatorColor = 0x808080;
    TColor m_SelectedBorderColor;
    TColor m_SelectedColor;
    TColor m_SelectedFontColor = 0xFFFFFF;
    TColor m_FontColor = 0xFFFFFF;
    TColor m_BorderColor = 0;
    bool m_FlatMenu = false;
    QString m_FontName = QStringLiteral("MS Sans Serif");
    int m_FontSize = 8;
    int m_FontCharset = 1;
    bool m_UseSystemFont = true;
    TSkinImageList *m_Images = nullptr;
};

// ---- the skinned form's menu bar ----

// What the menu bar draws with: taken from the main menu when it is a skinned one, else from
// the skinned form.
struct TSkinMenuBarLook
{
    TSkinUIStyle Style = TSkinUIStyle::DeepBlue;
    const TSkinFileTheme *Theme = nullptr; // set only while a skin file is in effect
    QColor BarColor;
    QColor BarToColor;
    QFont Font;
};

// The bar's background: the MacOS picture, else the top-to-bottom gradient when the colours
// differ (else the bar's colour, already there, shows).
void DrawMenuBarBackground(QPainter &Canvas, const QRect &Rect, const TSkinMenuBarLook &Look);
// One top-level button; Marked is a hot or pressed button.
void DrawMenuBarButton(QPainter &Canvas, const QRect &Rect, const QString &Caption, bool Marked, bool Enabled,
                       const TSkinMenuBarLook &Look);

// The colour of a skin-file key or, without a skin file, of a style key.
QColor SkinOrStyleColor(const TSkinFileTheme *Theme, int SkinKey, TSkinUIStyle Style, int StyleKey);
