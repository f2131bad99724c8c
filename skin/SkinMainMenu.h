#pragma once

#include "skin/SkinMenu.h"

#include <QPointer>

class QKeyEvent;
class TSkinForm;

// An owner-drawn main menu, shown by a skinned form's menu bar: its top-level items become the
// bar's buttons and their sub-menus drop down from them.
class TSkinMainMenu : public TSkinCustomMenu
{
    Q_OBJECT
public:
    explicit TSkinMainMenu(QWidget *AOwner = nullptr);

    // The main menu's item height always takes the value, whatever the style.
    void SetMenuItemHeight(int Value) override;
    void SetUseSystemFont(bool Value) override;
    // Nil while the menu's own list (the check mark) is in use; assigning nil puts it back.
    TSkinImageList *Images() const override;
    void SetImages(TSkinImageList *Value) override;
    const TSkinImageList *OwnImages() const { return &m_OwnImages; }

    // The skinned form that shows this menu (set by the form).
    TSkinForm *SkinForm() const;
    void SetSkinForm(TSkinForm *Form);

    // Runs the enabled item whose shortcut is the key; false when none is.
    bool IsShortCut(const QKeyEvent *Key);

protected:
    void ThemeRemoved() override;
    void MenuChanged() override;
    const TSkinImageList *CheckImages() const override { return &m_OwnImages; }
    const TSkinImageList *ItemImages() const override { return Images() ? Images() : &m_OwnImages; }

private:
    TSkinImageList m_OwnImages;
    QPointer<QWidget> m_SkinForm;
};
