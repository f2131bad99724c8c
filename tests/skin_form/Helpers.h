#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include "skin/SkinPublic.h"
#include "skin/SkinThemes.h"

#include <QStringList>

#include <memory>

namespace sftest {

// Catches the controls' refusal messages while it lives; any other message fails the test
// (see Messages.cpp), so none can block a run behind a modal box.
class MessageCatcher
{
public:
    MessageCatcher()
    {
        m_Previous = SetSkinMessageHandler([this](const QString &Text) { Messages << Text; });
    }
    ~MessageCatcher() { SetSkinMessageHandler(std::move(m_Previous)); }
    MessageCatcher(const MessageCatcher &) = delete;
    MessageCatcher &operator=(const MessageCatcher &) = delete;

    QStringList Messages;

private:
    TSkinMessageHandler m_Previous;
};

// A top-level window of the test's own, shown on the offscreen screen.
inline std::unique_ptr<QWidget> MakeForm(int W = 400, int H = 300)
{
    auto form = std::make_unique<QWidget>();
    form->setGeometry(50, 60, W, H);
    return form;
}

inline void Mouse(QWidget *W, QEvent::Type Type, const QPoint &Pos, Qt::MouseButton Button = Qt::LeftButton,
                  Qt::MouseButtons Buttons = Qt::LeftButton)
{
    QMouseEvent ev(Type, QPointF(Pos), QPointF(W->mapToGlobal(Pos)), Button, Buttons, Qt::NoModifier);
    QApplication::sendEvent(W, &ev);
}

inline void Click(QWidget *W, const QPoint &Pos)
{
    Mouse(W, QEvent::MouseMove, Pos, Qt::NoButton, Qt::NoButton);
    Mouse(W, QEvent::MouseButtonPress, Pos);
    Mouse(W, QEvent::MouseButtonRelease, Pos, Qt::LeftButton, Qt::NoButton);
}

// Presses at From (form coordinates), moves the mouse by Delta and lets go, as a user dragging
// the frame does; the global positions stay those of the drag, whatever the form does meanwhile.
inline void DragFrame(QWidget *Form, const QPoint &From, const QPoint &Delta)
{
    const QPoint global = Form->mapToGlobal(From);
    auto send = [Form](QEvent::Type Type, const QPoint &Local, const QPoint &Global, Qt::MouseButton Button,
                       Qt::MouseButtons Buttons) {
        QMouseEvent ev(Type, QPointF(Local), QPointF(Global), Button, Buttons, Qt::NoModifier);
        QApplication::sendEvent(Form, &ev);
    };
    send(QEvent::MouseButtonPress, From, global, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, From + Delta / 2, global + Delta / 2, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, From + Delta, global + Delta, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, From + Delta, global + Delta, Qt::LeftButton, Qt::NoButton);
}

// Frame Frame of a built-in style's title-button strip (18 frames).
inline QImage StripFrame(TSkinUIStyle Style, int Frame)
{
    QImage strip;
    LoadStyleBitmap(Style, 5, &strip);
    QImage out;
    ExtractFrame(strip, out, 18, Frame);
    return out;
}

inline QColor Pixel(const QImage &Img, int X, int Y)
{
    return QColor(Img.pixel(X, Y));
}

// A colour 0x00BBGGRR as the skinned controls store it.
inline QColor Bgr(quint32 C)
{
    return QColor(int(C & 0xFF), int((C >> 8) & 0xFF), int((C >> 16) & 0xFF));
}

inline void Settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace sftest
