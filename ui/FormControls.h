#pragma once

#include "skin/SkinButton.h"
#include "skin/SkinGroupBox.h"
#include "skin/SkinImagePanel.h"
#include "skin/SkinProgressBar.h"

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

#include <functional>

// Mouse events that a form binds to its pictures and labels at run time; each fires only when set.
struct TMouseEvents
{
    std::function<void(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)> OnMouseDown;
    std::function<void(QObject *Sender, Qt::MouseButtons Shift, int X, int Y)> OnMouseMove;
    std::function<void(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)> OnMouseUp;
    std::function<void(QObject *Sender)> OnClick;
    std::function<void(QObject *Sender)> OnDblClick;

protected:
    void FireMouse(QObject *Sender, QEvent *Event);
};

// A picture on the form, plain or stretched over its bounds (a frame piece, an icon, a bar).
class TImage : public QWidget, public TMouseEvents
{
    Q_OBJECT
public:
    explicit TImage(QWidget *Parent = nullptr);

    QPixmap Picture() const { return m_Picture; }
    void SetPicture(const QPixmap &Picture);
    bool Stretch() const { return m_Stretch; }
    void SetStretch(bool Value);

protected:
    void paintEvent(QPaintEvent *Event) override;
    bool event(QEvent *Event) override;

private:
    QPixmap m_Picture;
    bool m_Stretch = false;
};

// A text label that also takes the form's mouse bindings.
class TLabel : public QLabel, public TMouseEvents
{
    Q_OBJECT
public:
    explicit TLabel(QWidget *Parent = nullptr);

protected:
    bool event(QEvent *Event) override;
};

// A flat panel: a colour or a picture (plain or stretched) with a centred caption, no bevels.
class TPanel : public QFrame
{
    Q_OBJECT
public:
    explicit TPanel(QWidget *Parent = nullptr);

    QString Caption() const { return m_Caption; }
    void SetCaption(const QString &Value);
    QColor Color() const { return m_Color; }
    void SetColor(const QColor &Value);
    QPixmap Picture() const { return m_Picture; }
    void SetPicture(const QPixmap &Picture, bool Stretch = true);
    // A panel without a colour of its own shows what lies under it.
    void SetParentBackground(bool Value);

protected:
    void paintEvent(QPaintEvent *Event) override;

private:
    QString m_Caption;
    QColor m_Color;
    QPixmap m_Picture;
    bool m_Stretch = true;
    bool m_ParentBackground = false;
};
