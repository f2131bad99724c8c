#pragma once

#include "ui/FormControls.h"
#include "ui/FormFrame.h"
#include "ui/PicButton.h"

#include <QDialog>
#include <QPoint>
#include <QString>

class QFrame;

// The maker's web host (the update check fetches from it and the about box names it), mail
// address and rights line: the one place they are written.
namespace maker {
inline const QString kWebHost = QStringLiteral("www.taskvane.org");
inline const QString kMailAddress = QStringLiteral("support@taskvane.org");
inline const QString kRightsLine = QStringLiteral("Copyright (C) Taskvane 开发组");
} // namespace maker

// The borderless about box: product, versions, platforms, licence, the maker's contact and the
// terms of use. Filled once, when it is made.
class TFormAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TFormAbout(QWidget *AOwner = nullptr);
    ~TFormAbout() override;

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
    TPicButton *btnClose = nullptr;
    TImage *imgLogo = nullptr;
    TLabel *lblTilte = nullptr;
    TLabel *lblText = nullptr;
    QFrame *shpLine = nullptr;
    TLabel *lblNotice = nullptr;

    // The information text for a program and a dictionary version.
    static QString InformationText(const QString &ProgramVersion, const QString &DictVersion);

    void FormCreate(QObject *Sender);
    // Esc (27) closes the box.
    void FormKeyPress(QObject *Sender, QChar &Key);
    void btnCloseClick(QObject *Sender);
    // Starts moving the window with the mouse, unless it is maximised.
    void DragMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;

private:
    void PlaceFrame();

    TFrameDrag m_Drag;
};
