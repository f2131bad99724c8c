#pragma once

#include "ui/FormControls.h"
#include "ui/FormFrame.h"
#include "ui/PicButton.h"

#include <QByteArrayView>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QStringView>

class QScreen;

// A picture of the message box by name ("icon_error", "border_top"…), decoded
// from the data embedded in the program; null when missing or undecodable.
QPixmap MessagePicture(QStringView Name);

// Plain-text label that wraps at word boundaries and, where a word (a long
// path) is wider than the label, inside the word; its height follows its text.
class TMessageText : public QLabel
{
    Q_OBJECT
public:
    explicit TMessageText(QWidget *Parent);

    // Height of the text wrapped to this width.
    int TextHeight(int Width) const;

protected:
    void paintEvent(QPaintEvent *Event) override;
};

// The message box's icon kinds, button sets and answers.
enum class TMessageIcon : quint8 { None = 0, Information = 1, Question = 2, Warning = 3, Ban = 4, Error = 5 };
// "确认"; "确认"/"取消"; "是"/"否"; "是"/"否"/"取消".
enum class TMessageButtons : quint8 { Ok = 0, OkCancel = 1, YesNo = 2, YesNoCancel = 3 };
// The code of the button that ended the box; None for Esc in a one-button box.
enum class TMessageResult : quint8 { None = 0, Ok = 1, Cancel = 2, Yes = 3, No = 4 };

// The borderless message box of the program. Every confirmation, refusal,
// warning and failure report goes through TFormMessage::MessageBox.
class TFormMessage : public QDialog
{
    Q_OBJECT
public:
    explicit TFormMessage(QWidget *Parent = nullptr);
    ~TFormMessage() override;

    // Shows a message modally and returns the code of the button that ended it; closing the box
    // answers "取消", or "否" for the yes/no set. A blank title shows the application title. "\r"
    // in the text breaks a line.
    static TMessageResult MessageBox(const QString &Text, const QString &Title, TMessageIcon IconKind,
                                     TMessageButtons ButtonSet);

    TMessageIcon IconKind() const { return m_IconKind; }
    TMessageButtons ButtonSet() const { return m_ButtonSet; }
    TMessageResult Result() const { return m_Result; }
    bool LayoutPending() const { return m_LayoutPending; }

    void SetIconKind(TMessageIcon Kind) { m_IconKind = Kind; }
    void SetButtonSet(TMessageButtons Set) { m_ButtonSet = Set; }

    // Frame pictures.
    TImage *imgBorder_TopLeft = nullptr;
    TImage *imgBorder_Top = nullptr;
    TImage *imgBorder_TopRight = nullptr;
    TImage *imgBorder_Left = nullptr;
    TImage *imgBorder_Right = nullptr;
    TImage *imgBorder_BottomLeft = nullptr;
    TImage *imgBorder_Bottom = nullptr;
    TImage *imgBorder_BottomRight = nullptr;

    TLabel *lblTitle = nullptr;
    TMessageText *lblText = nullptr;

    TImage *imgIcon_Information = nullptr;
    TImage *imgIcon_Question = nullptr;
    TImage *imgIcon_Warning = nullptr;
    TImage *imgIcon_Ban = nullptr;
    TImage *imgIcon_Error = nullptr;

    TPicButton *btnButton1 = nullptr;
    TPicButton *btnButton2 = nullptr;
    TPicButton *btnButton3 = nullptr;
    TPicButton *btnClose = nullptr;

    // Handlers.
    void FormCreate();
    void FormShow();
    // Key is the typed character: 13 Enter, 27 Esc; others are ignored.
    void FormKeyPress(quint16 &Key);
    void btnCloseClick();
    void btnButton1Click();
    void btnButton2Click();
    void btnButton3Click();

    // Starts moving the window with the mouse, unless it is maximised.
    void DragMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;
    void showEvent(QShowEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

public:
    // Every way the box ends comes here: a close that no button handler
    // asked for (the window system's close) counts as the close button.
    void done(int Code) override;

private:
    void CloseWithResult(int Code);
    void PlaceFrame();
    void CentreOnScreen();
    QScreen *TargetScreen() const;

    bool m_LayoutPending = false;
    TMessageIcon m_IconKind = TMessageIcon::None;
    TMessageButtons m_ButtonSet = TMessageButtons::Ok;
    TMessageResult m_Result = TMessageResult::None;
    bool m_ClosedByButton = false;
    TFrameDrag m_Drag;
    QSize m_Shaped;
};
