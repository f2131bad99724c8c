#pragma once

// A window title drawn from pictures: sections, buttons, the application icon and the caption.
// It drags, maximises, minimises and closes its form and offers a system menu.

#include "skin/SkinPopupMenu.h"
#include "skin/SkinMgr.h"
#include "skin/SkinThemes.h"

#include <QFont>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class TSkinForm;
class TSkinTitleBar;
class TSkinTitleBarSections;
class TSkinTitleBarButtons;

enum class TSkinTitleBarAlign { skinLeft, skinRight, skinClient };
enum class TSkinTitleBarBtnType { skinMax, skinMin, skinClose, skinHelp, skinControlBox, skinCustom };

using TSkinTitleBarButtonClickEvent = std::function<void(QObject *Sender, int ButtonIndex)>;

// One picture of the bar.
class TSkinTitleBarSection
{
public:
    explicit TSkinTitleBarSection(TSkinTitleBarSections *Collection) : m_Collection(Collection) {}

    int Index() const;
    int Width() const { return m_Width; }
    void SetWidth(int Value);
    TSkinTitleBarAlign Align() const { return m_Align; }
    // Only one section may stretch over the middle; a second one is refused.
    void SetAlign(TSkinTitleBarAlign Value);
    const QImage &Picture() const { return m_Picture; }
    void SetPicture(const QImage &Value);
    bool Stretch() const { return m_Stretch; }
    void SetStretch(bool Value);
    bool AutoSize() const { return m_AutoSize; }
    void SetAutoSize(bool Value);
    bool CapSec() const { return m_CapSec; }
    void SetCapSec(bool Value);
    void Assign(const TSkinTitleBarSection &Source);

private:
    void Changed();

    TSkinTitleBarSections *m_Collection;
    int m_Width = 10;
    TSkinTitleBarAlign m_Align = TSkinTitleBarAlign::skinLeft;
    QImage m_Picture;
    bool m_Stretch = false;
    bool m_AutoSize = false;
    bool m_CapSec = false;
};

class TSkinTitleBarSections
{
public:
    explicit TSkinTitleBarSections(TSkinTitleBar *Owner) : m_Owner(Owner) {}
    TSkinTitleBarSection *Add();
    int Count() const { return int(m_Items.size()); }
    TSkinTitleBarSection *Items(int Index) const;
    void Delete(int Index);
    void Clear();
    void Assign(const TSkinTitleBarSections &Source);
    TSkinTitleBar *Owner() const { return m_Owner; }
    int IndexOf(const TSkinTitleBarSection *Item) const;
    void Changed();

private:
    TSkinTitleBar *m_Owner;
    std::vector<std::unique_ptr<TSkinTitleBarSection>> m_Items;
};

// One button of the bar with its three pictures (normal, mouse on, mouse down).
class TSkinTitleBarButton
{
public:
    explicit TSkinTitleBarButton(TSkinTitleBarButtons *Collection) : m_Collection(Collection) {}

    int Index() const;
    bool Visible() const { return m_Visible; }
    void SetVisible(bool Value);
    TSkinTitleBarBtnType ButtonType() const { return m_ButtonType; }
    // Only one button may be the control box; a second one is refused.
    void SetButtonType(TSkinTitleBarBtnType Value);
    bool Transparent() const { return m_Transparent; }
    void SetTransparent(bool Value);
    int Top() const { return m_Top; }
    void SetTop(int Value);
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    // Takes the button's frames of the bar's button strip (a custom button keeps its own).
    void SetUIStyle(TSkinUIStyle Value);
    const QImage &PicNormal() const { return m_PicNormal; }
    void SetPicNormal(const QImage &Value);
    const QImage &PicMouseOn() const { return m_PicMouseOn; }
    void SetPicMouseOn(const QImage &Value);
    const QImage &PicMouseDown() const { return m_PicMouseDown; }
    void SetPicMouseDown(const QImage &Value);
    QMenu *ControlBoxMenu() const { return m_ControlBoxMenu; }
    void SetControlBoxMenu(QMenu *Value);
    void Assign(const TSkinTitleBarButton &Source);
    bool HasPictures() const { return !m_PicNormal.isNull() && !m_PicMouseOn.isNull() && !m_PicMouseDown.isNull(); }

private:
    friend class TSkinTitleBar;
    void Changed();

    TSkinTitleBarButtons *m_Collection;
    bool m_Visible = true;
    TSkinTitleBarBtnType m_ButtonType = TSkinTitleBarBtnType::skinCustom;
    bool m_Transparent = false;
    int m_Top = 2;
    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
    QImage m_PicNormal;
    QImage m_PicMouseOn;
    QImage m_PicMouseDown;
    QPointer<QMenu> m_ControlBoxMenu;
};

class TSkinTitleBarButtons
{
public:
    explicit TSkinTitleBarButtons(TSkinTitleBar *Owner) : m_Owner(Owner) {}
    TSkinTitleBarButton *Add();
    int Count() const { return int(m_Items.size()); }
    TSkinTitleBarButton *Items(int Index) const;
    void Delete(int Index);
    void Clear();
    void Assign(const TSkinTitleBarButtons &Source);
    TSkinTitleBar *Owner() const { return m_Owner; }
    int IndexOf(const TSkinTitleBarButton *Item) const;
    void Changed();

private:
    TSkinTitleBar *m_Owner;
    std::vector<std::unique_ptr<TSkinTitleBarButton>> m_Items;
};

// The bar's system menu: minimise, maximise/restore and close.
class TSkinTitleBarPopupMenu : public TSkinPopupMenu
{
    Q_OBJECT
public:
    explicit TSkinTitleBarPopupMenu(TSkinTitleBar *TitleBar);

    QAction *MinimizeItem() const { return m_Minimize; }
    QAction *MaximizeItem() const { return m_Maximize; }
    QAction *CloseItem() const { return m_Close; }
    // Enables each item only when the bar shows a button that does the same.
    void UpdateItems();
    // Pops up at Pos, further right in a right-to-left layout.
    void PopupAt(const QPoint &Pos);

private:
    TSkinTitleBar *m_TitleBar;
    QAction *m_Minimize;
    QAction *m_Maximize;
    QAction *m_Close;
};

class TSkinTitleBar : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(TSkinUIStyle UIStyle READ UIStyle WRITE SetUIStyle)
    Q_PROPERTY(TSkinFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)
public:
    explicit TSkinTitleBar(QWidget *AOwner = nullptr);
    ~TSkinTitleBar() override;

    bool Custom() const { return m_Custom; }
    void SetCustom(bool Value) { m_Custom = Value; }
    TSkinFileTheme *FileTheme() const { return m_FileTheme; }
    void SetFileTheme(TSkinFileTheme *Value);
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    void SetUIStyle(TSkinUIStyle Value);
    bool AutoSize() const { return m_AutoSize; }
    void SetAutoSize(bool Value);
    TSkinTitleBarSections *Sections() { return &m_Sections; }
    TSkinTitleBarButtons *Buttons() { return &m_Buttons; }
    int ButtonInterval() const { return m_ButtonInterval; }
    void SetButtonInterval(int Value);
    QString Caption() const { return m_Caption; }
    void SetCaption(const QString &Value);
    bool FormActive() const { return m_FormActive; }
    void SetFormActive(bool Value);
    int LeftBtnXOffset() const { return m_LeftBtnXOffset; }
    void SetLeftBtnXOffset(int Value);
    int RightBtnXOffset() const { return m_RightBtnXOffset; }
    void SetRightBtnXOffset(int Value);
    bool DrawAppIcon() const { return m_DrawAppIcon; }
    void SetDrawAppIcon(bool Value);
    int RoundCorner() const { return m_RoundCorner; }
    void SetRoundCorner(int Value) { m_RoundCorner = Value; }
    int RoundCornerBottom() const { return m_RoundCornerBottom; }
    void SetRoundCornerBottom(int Value) { m_RoundCornerBottom = Value; }
    TColor InactiveCaptionColor() const { return m_InactiveCaptionColor; }
    void SetInactiveCaptionColor(TColor Value);
    // The caption's colour while the form is active (the font's colour).
    TColor FontColor() const { return m_FontColor; }
    void SetFontColor(TColor Value);

    TSkinTitleBarButtonClickEvent OnCustomBtnsClick;
    TSkinTitleBarButtonClickEvent OnHelpBtnClick;

    TSkinTitleBarPopupMenu *SystemMenu() const { return m_SystemMenu; }

    // -1 the composed title picture, -2 its copy filled with the background colour, another
    // index that section's picture (with more than two sections); a null image otherwise.
    QImage Pictures(int Index) const;
    // Exactly 3 or 5 sections, all with pictures.
    bool HasFullTitlePictures() const;
    // The bar belongs to a form's frame: its parent is a skinned form or its owner is a form.
    bool OnFormFrame() const;
    // What the skinned form of the bar's window answers for its frame; 0 without one.
    int FrameAnswer() const;
    QColor BackgroundColor() const { return m_BackgroundColor; }
    QColor TransparentColor() const { return m_TransparentColor; }
    int ButtonTop() const { return m_ButtonTop; }

    // Where each button is drawn (an empty rectangle for a button that is not); by index.
    QRect ButtonRect(int Index) const;
    // The button under the point, -1 for none.
    int ButtonAt(const QPoint &Pos) const;
    int HotButton() const { return m_HotButton; }
    bool MouseIsDown() const { return m_MouseDown; }
    // The caption as last drawn (shortened or fitted), and where it starts.
    QString DrawnCaption() const { return m_DrawnCaption; }
    int CaptionLeft() const { return m_CaptionLeft; }

    // The form the bar stands on (a window or a child form); nil for a bar of its own.
    QWidget *Form() const;

    // A maximised child form of the bar's form, whose buttons (minimise, restore, close) the
    // bar shows left of its own and acts on; nil for none.
    TSkinForm *MaximizedChild() const;
    void SetMaximizedChild(TSkinForm *Child);
    enum TChildButton { cbMinimize, cbRestore, cbClose };
    // Where a maximised child's button is drawn; empty without one.
    QRect ChildButtonRect(int Index) const;
    int ChildButtonAt(const QPoint &Pos) const;

    // The maximise buttons follow the form's state.
    void UpdateButtons();
    // What a button does when clicked.
    void ButtonAct(TSkinTitleBarButton *Button);
    // Rebuilds the pictures of the style or skin file (also used by the skinned form).
    void ApplyStyle(bool KeepFontColor = false);
    // Draws the bar (and composes the title picture) into Canvas's device of the bar's size.
    void PaintTo(QImage &Bitmap);

protected:
    virtual void DrawSections(QPainter &Canvas);
    virtual void DrawButtons(QPainter &Canvas);

    void paintEvent(QPaintEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void mouseMoveEvent(QMouseEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    void mouseDoubleClickEvent(QMouseEvent *Event) override;
    void leaveEvent(QEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void moveEvent(QMoveEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    friend class TSkinTitleBarButton;
    void BuildFromStyle(TSkinUIStyle Style);
    void BuildFromTheme();
    void LoadButtonPictures(TSkinTitleBarButton *Button);
    void LayoutButtons();
    int TotalButtonWidth() const;
    bool FormIsMaximized() const;
    void ThemeRemoved();
    void WatchWindow();
    void AlignToParent();
    void ChildButtonAct(int Index);
    // The 18 button frames of the style or the skin file.
    QImage ButtonStrip() const;

    QPointer<QObject> m_Owner;
    TSkinTitleBarSections m_Sections;
    TSkinTitleBarButtons m_Buttons;
    TSkinTitleBarPopupMenu *m_SystemMenu = nullptr;
    bool m_Custom = false;
    QPointer<TSkinFileTheme> m_FileTheme;
    QMetaObject::Connection m_ThemeGone;
    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
    bool m_AutoSize = false;
    int m_ButtonInterval = 0;
    QString m_Caption;
    bool m_FormActive = true;
    int m_LeftBtnXOffset = 0;
    int m_RightBtnXOffset = 0;
    bool m_DrawAppIcon = true;
    int m_RoundCorner = 0;
    int m_RoundCornerBottom = 0;
    TColor m_InactiveCaptionColor = 0;
    TColor m_FontColor = 0xFFFFFF;
    QPoint m_MousePos;
    bool m_MouseInside = false;
    bool m_CaptionSection = false;
    QString m_FittedCaption;
    QImage m_Composed;
    QImage m_Filled;
    QColor m_BackgroundColor;
    QColor m_TransparentColor{255, 0, 255};
    bool m_MouseDown = false;
    int m_HotButton = -1;
    int m_ButtonHeight = 0;
    int m_ButtonTop = 0;
    int m_IconTop = 0;
    int m_CaptionTop = 0;
    std::vector<QRect> m_ButtonRects;
    QString m_DrawnCaption;
    int m_CaptionLeft = 0;
    // Manual dragging when the window system does not move the window itself.
    bool m_Dragging = false;
    QPoint m_DragOffset;
    QPointer<QWidget> m_Watched;
    QPointer<QWidget> m_AlignedTo;
    QPointer<TSkinForm> m_MaximizedChild;
    QMetaObject::Connection m_ChildGone;
    QImage m_ChildPictures[3][3];
    QRect m_ChildButtonRects[3];
};
