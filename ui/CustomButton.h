#pragma once

#include "ui/QMUtils.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QTimer;
class QShortcut;

// An owner-drawn, flicker-free button: caption, per-state fonts, alignment, optional border and
// focus rectangle, transparency over what lies beneath, and a repeat event while held down.
class TCustomButton : public QWidget
{
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TCustomButton(QWidget *AOwner = nullptr);
    ~TCustomButton() override;

    QString Caption() const { return m_Caption; }
    void SetCaption(const QString &Value);
    bool Cancel() const { return m_Cancel; }
    void SetCancel(bool Value) { m_Cancel = Value; }
    bool Default() const { return m_Default; }
    void SetDefault(bool Value);
    bool Transparent() const { return m_Transparent; }
    void SetTransparent(bool Value);
    int ModalResult() const { return m_ModalResult; }
    void SetModalResult(int Value) { m_ModalResult = Value; }
    bool EnableTransparentColor() const { return m_EnableTransparentColor; }
    void SetEnableTransparentColor(bool Value);
    QColor TransparentColor() const { return m_TransparentColor; }
    void SetTransparentColor(const QColor &Value);
    int RepeatInterval() const { return m_RepeatInterval; }
    void SetRepeatInterval(int Value) { m_RepeatInterval = Value; }
    int FocusedRectMargin() const { return m_FocusedRectMargin; }
    void SetFocusedRectMargin(int Value);
    TAlignment TextAlign() const { return m_TextAlign; }
    void SetTextAlign(TAlignment Value);
    TAlignment PictureAlign() const { return m_PictureAlign; }
    void SetPictureAlign(TAlignment Value);
    int TextX() const { return m_TextX; }
    void SetTextX(int Value);
    int TextY() const { return m_TextY; }
    void SetTextY(int Value);
    int PictureX() const { return m_PictureX; }
    void SetPictureX(int Value);
    int PictureY() const { return m_PictureY; }
    void SetPictureY(int Value);
    bool MultiLines() const { return m_MultiLines; }
    void SetMultiLines(bool Value);
    bool ShowDisabledShadow() const { return m_ShowDisabledShadow; }
    void SetShowDisabledShadow(bool Value);
    bool EnableStatesFont() const { return m_EnableStatesFont; }
    void SetEnableStatesFont(bool Value);
    QFont Font() const { return font(); }
    void SetFont(const QFont &Value);
    QFont FontMouseHover() const { return m_FontMouseHover; }
    void SetFontMouseHover(const QFont &Value);
    QFont FontMouseDown() const { return m_FontMouseDown; }
    void SetFontMouseDown(const QFont &Value);
    QFont FontDisabled() const { return m_FontDisabled; }
    void SetFontDisabled(const QFont &Value);
    // Qt fonts carry no colour: each caption font has its colour beside it.
    QColor FontColor() const { return m_FontColor; }
    void SetFontColor(const QColor &Value);
    QColor FontMouseHoverColor() const { return m_FontMouseHoverColor; }
    void SetFontMouseHoverColor(const QColor &Value);
    QColor FontMouseDownColor() const { return m_FontMouseDownColor; }
    void SetFontMouseDownColor(const QColor &Value);
    QColor FontDisabledColor() const { return m_FontDisabledColor; }
    void SetFontDisabledColor(const QColor &Value);
    bool Stretch() const { return m_Stretch; }
    void SetStretch(bool Value);
    bool DrawFocused() const { return m_DrawFocused; }
    void SetDrawFocused(bool Value);
    bool DrawBorder() const { return m_DrawBorder; }
    void SetDrawBorder(bool Value);
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool Value);
    QColor Color() const { return m_Color; }
    void SetColor(const QColor &Value);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool Value);

    // Observable state, for the form and its tests.
    bool IsHover() const { return m_Hover; }
    bool IsDown() const { return m_Down; }
    bool IsActiveDefault() const { return m_ActiveDefault; }
    bool IsRepeating() const { return m_RepeatTimer != nullptr; }

    // Runs the click as a release inside the button does.
    virtual void Click();
    // Forgets hover and press: the pointer left without the button being told (its window was
    // minimised or moved away under it).
    void ResetMouseState();

    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseExit;
    TNotifyEvent OnMouseContinuouslyDown;

protected:
    virtual void PaintPicture(QPainter &Canvas, const QPixmap &Picture);
    virtual void PaintText(QPainter &Canvas);
    virtual void PaintFocusRect(QPainter &Canvas);
    virtual void PaintBorder(QPainter &Canvas);
    virtual bool GetStatePicture(QPixmap &Picture);

    void paintEvent(QPaintEvent *Event) override;
    void enterEvent(QEnterEvent *Event) override;
    void leaveEvent(QEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void mouseMoveEvent(QMouseEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    void mouseDoubleClickEvent(QMouseEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    void keyReleaseEvent(QKeyEvent *Event) override;
    void focusInEvent(QFocusEvent *Event) override;
    void focusOutEvent(QFocusEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

    // The key colour applied to a picture as a mask: computed once when the picture is set.
    QPixmap KeyedPicture(const QPixmap &Picture) const;

private:
    void StartRepeat();
    void StopRepeat();
    void FocusChanged(QWidget *Now);
    void WatchWindow();
    void UpdateAccelerator();

    QString m_Caption;
    bool m_Cancel = false;
    bool m_Default = false;
    bool m_Transparent = false;
    int m_ModalResult = 0;
    bool m_EnableTransparentColor = false;
    QColor m_TransparentColor = QColor(0xFF, 0x00, 0xFF);
    QTimer *m_RepeatTimer = nullptr;
    int m_RepeatInterval = 100;
    int m_FocusedRectMargin = 2;
    bool m_ActiveDefault = false;
    TAlignment m_TextAlign = alCenter;
    TAlignment m_PictureAlign = alTopLeft;
    int m_TextX = 0;
    int m_TextY = 0;
    int m_PictureX = 0;
    int m_PictureY = 0;
    bool m_MultiLines = false;
    bool m_ShowDisabledShadow = false;
    bool m_EnableStatesFont = false;
    QFont m_FontMouseHover;
    QFont m_FontMouseDown;
    QFont m_FontDisabled;
    QColor m_FontColor = Qt::black;
    QColor m_FontMouseHoverColor = Qt::black;
    QColor m_FontMouseDownColor = Qt::black;
    QColor m_FontDisabledColor = Qt::black;
    bool m_Stretch = false;
    bool m_DrawFocused = true;
    bool m_DrawBorder = false;
    QColor m_Color;
    bool m_Hover = false;
    bool m_Down = false;
    QPointer<QWidget> m_WatchedWindow;
    QShortcut *m_Accelerator = nullptr;
};
