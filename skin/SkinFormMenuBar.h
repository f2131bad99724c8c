#pragma once

// The skinned form's menu bar: one owner-drawn button per top-level item of its menu.

#include "skin/SkinMenu.h"

#include <QPointer>
#include <QToolButton>
#include <QWidget>

#include <vector>

class TSkinForm;
class TSkinMenuBar;

class TSkinMenuBarButton : public QToolButton
{
    Q_OBJECT
public:
    TSkinMenuBarButton(TSkinMenuBar *Bar, QAction *Item);

    QAction *MenuItem() const { return m_Item; }
    // 888 while the button is hot or pressed, else 0.
    int Tag() const { return m_Tag; }
    // Shows the item's sub-menu under the button, or runs the item.
    void Click();
    bool MenuShown() const { return m_MenuShown; }

protected:
    bool event(QEvent *Event) override;
    void paintEvent(QPaintEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void enterEvent(QEnterEvent *Event) override;
    void leaveEvent(QEvent *Event) override;

private:
    TSkinMenuBar *m_Bar;
    QPointer<QAction> m_Item;
    int m_Tag = 0;
    bool m_MenuShown = false;
};

class TSkinMenuBar : public QWidget
{
    Q_OBJECT
public:
    explicit TSkinMenuBar(TSkinForm *Form);

    // Frees the buttons and makes one per top-level item of Menu.
    void Fill(QMenu *Menu);
    // Each button takes its item's caption and enabled state again.
    void RefreshItems();
    int ButtonCount() const { return int(m_Buttons.size()); }
    TSkinMenuBarButton *Button(int Index) const;
    void SetButtonHeight(int Value);
    // The bar's accelerator handling: with Alt always, without only while a button is marked.
    bool DialogChar(QChar Char, bool Alt);
    bool AnyMarked() const;

    TSkinMenuBarLook Look() const;
    void SetBarFont(const QFont &Font);

protected:
    void paintEvent(QPaintEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;

private:
    void Realign();

    TSkinForm *m_Form;
    std::vector<TSkinMenuBarButton *> m_Buttons;
    int m_ButtonHeight = 22;
};
