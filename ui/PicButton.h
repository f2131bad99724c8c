#pragma once

#include "ui/CustomButton.h"

// A picture button: one picture per state (normal, mouse over, pressed, disabled).
class TPicButton : public TCustomButton
{
    Q_OBJECT
public:
    explicit TPicButton(QWidget *AOwner = nullptr);

    QPixmap PicNormal() const { return m_PicNormal; }
    void SetPicNormal(const QPixmap &Value);
    QPixmap PicMouseHover() const { return m_PicMouseHover; }
    void SetPicMouseHover(const QPixmap &Value);
    QPixmap PicMouseDown() const { return m_PicMouseDown; }
    void SetPicMouseDown(const QPixmap &Value);
    QPixmap PicDisabled() const { return m_PicDisabled; }
    void SetPicDisabled(const QPixmap &Value);

    // Loads the four pictures "<Base>_normal" … "<Base>_disabled" embedded in the program.
    void LoadStatePictures(const QString &Base);

protected:
    bool GetStatePicture(QPixmap &Picture) override;

private:
    void RekeyPictures();

    QPixmap m_PicNormal, m_PicMouseHover, m_PicMouseDown, m_PicDisabled;
    // The same pictures with the transparency key applied.
    QPixmap m_KeyNormal, m_KeyMouseHover, m_KeyMouseDown, m_KeyDisabled;
    QColor m_KeyedColor;
};
