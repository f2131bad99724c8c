#pragma once

// A flat panel that shows a picture (plain, stretched or tiled), can look transparent by drawing
// its parent's background, and draws its caption without bevels.

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <functional>

enum class TSkinDrawStyle { skinNormal, skinStretch, skinTile };

class TSkinCustomPanel : public QFrame
{
    Q_OBJECT
public:
    explicit TSkinCustomPanel(QWidget *AOwner = nullptr);

    QImage Picture() const { return m_Picture; }
    // The picture as the panel draws it: with Transparent, a picture without an alpha channel
    // leaves the pixels of its see-through colour (that of its bottom-left pixel) undrawn; a
    // picture with one keeps its own alpha either way.
    QImage DrawnPicture() const { return m_Drawn; }
    void SetPicture(const QImage &Value);
    void SetPicture(const QPixmap &Value);
    bool Transparent() const { return m_Transparent; }
    virtual void SetTransparent(bool Value);
    bool AutoSize() const { return m_AutoSize; }
    void SetAutoSize(bool Value);
    TSkinDrawStyle DrawStyle() const { return m_DrawStyle; }
    void SetDrawStyle(TSkinDrawStyle Value);
    int CaptionX() const { return m_CaptionX; }
    int CaptionY() const { return m_CaptionY; }
    // A fixed caption position; -1 in either lays the caption out by Alignment.
    void SetCaptionPos(int X, int Y);
    bool EraseBackground() const { return m_EraseBackground; }
    void SetEraseBackground(bool Value);
    QRect CaptionRect() const { return m_CaptionRect; }

    QString Caption() const { return m_Text; }
    void SetCaption(const QString &Value);
    Qt::Alignment Alignment() const { return m_Alignment; }
    void SetAlignment(Qt::Alignment Value);
    // The panel's colour; an invalid colour follows the parent.
    QColor Color() const;
    void SetColor(const QColor &Value);
    int BorderWidth() const { return m_BorderWidth; }
    void SetBorderWidth(int Value);

    // The side of its parent the panel is docked to by the owner's layout; AutoSize leaves the
    // docked dimension alone.
    enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
    TAlign Align() const { return m_Align; }
    void SetAlign(TAlign Value) { m_Align = Value; }

    std::function<void(QObject *Sender)> OnClick;
    std::function<void(QObject *Sender)> OnResize;

protected:
    virtual void PaintBackground();
    virtual void CaptionChanged(const QRect &ACaptionRect);
    virtual void PictureChanged();

    // The panel's own painting (parent background, picture or colour, caption) into Canvas.
    void PaintPanel(QPainter &Canvas);

    void paintEvent(QPaintEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;

    QColor m_Color;

private:
    void ApplyAutoSize();
    void UpdateDrawnPicture();

    QImage m_Picture;
    QImage m_Drawn;
    bool m_Transparent = false;
    bool m_AutoSize = false;
    int m_CaptionX = -1;
    int m_CaptionY = -1;
    TSkinDrawStyle m_DrawStyle = TSkinDrawStyle::skinNormal;
    bool m_EraseBackground = false;
    QRect m_CaptionRect;
    QString m_Text;
    Qt::Alignment m_Alignment = Qt::AlignHCenter;
    int m_BorderWidth = 0;
    TAlign m_Align = alNone;
};

class TSkinImagePanel : public TSkinCustomPanel
{
    Q_OBJECT
public:
    explicit TSkinImagePanel(QWidget *AOwner = nullptr) : TSkinCustomPanel(AOwner) {}
};
