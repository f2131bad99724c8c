#pragma once

// A two-state check box drawn from a picture strip: the check image at the left, the caption to
// its right, an optional focus rectangle and optionally the parent's background behind it.
//
// It is a QCheckBox to the rest of the program (isChecked, setChecked, click and text keep their
// Qt meaning over the same state), but draws, clicks and takes keys as described here: the state
// changes through SetChecked, which fires OnClick.

#include "skin/SkinMgr.h"

#include <QCheckBox>
#include <QColor>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class TSkinCheckBox : public QCheckBox
{
    Q_OBJECT
    Q_PROPERTY(TSkinUIStyle UIStyle READ UIStyle WRITE SetUIStyle)
    Q_PROPERTY(TSkinFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)
public:
    explicit TSkinCheckBox(QWidget *AOwner = nullptr);

    bool Checked() const { return isChecked(); }
    // A change repaints and fires OnClick; setting the current value does nothing.
    void SetChecked(bool Value);
    Qt::CheckState State() const { return Checked() ? Qt::Checked : Qt::Unchecked; }
    // Checked sets the box; anything else (partially checked included) clears it.
    void SetState(Qt::CheckState Value) { SetChecked(Value == Qt::Checked); }
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    void SetUIStyle(TSkinUIStyle Value);
    TSkinFileTheme *FileTheme() const { return m_FileTheme.data(); }
    void SetFileTheme(TSkinFileTheme *Value);
    bool Transparent() const { return m_Transparent; }
    void SetTransparent(bool Value);
    bool AutoSize() const { return m_AutoSize; }
    void SetAutoSize(bool Value);
    QString Caption() const { return text(); }
    void SetCaption(const QString &Value);
    // The box's colour; an invalid colour follows the parent.
    QColor Color() const;
    void SetColor(const QColor &Value);
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool Value) { setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus); }

    // A click: by the mouse, an accelerator or Space/Enter.
    void Click();

    std::function<void(QObject *Sender)> OnClick;

    // The size AutoSize gives the box for its picture and caption.
    QSize sizeHint() const override;

protected:
    virtual bool NeedFocusRect() const;
    virtual bool ImageTransparent() const { return false; }
    virtual int ResourceKey() const { return 3; }
    virtual int ThemeKey() const { return 16; }
    virtual void DoClick();
    virtual void BeforeToggle() {}
    virtual void Toggle();
    virtual bool KeyToggles() const { return true; }

    // The picture of the current state, from the style strip or the skin file.
    QImage StateImage() const;

    void paintEvent(QPaintEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    void focusInEvent(QFocusEvent *Event) override;
    void focusOutEvent(QFocusEvent *Event) override;
    void keyReleaseEvent(QKeyEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void mouseDoubleClickEvent(QMouseEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    bool event(QEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    // A click through the QCheckBox interface toggles as the box's own clicks do.
    void nextCheckState() override;

private:
    void FileThemeRemoved();
    QSize AutoSizeFor(const QImage &Image) const;
    void ApplyAutoSize();

    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
    QPointer<TSkinFileTheme> m_FileTheme;
    QMetaObject::Connection m_ThemeConnection;
    bool m_Transparent = false;
    bool m_AutoSize = true;
    QColor m_Color;
    bool m_MouseDown = false;
};
