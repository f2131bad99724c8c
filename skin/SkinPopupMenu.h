#pragma once

#include "skin/SkinMenu.h"

// An owner-drawn pop-up menu.
class TSkinPopupMenu : public TSkinCustomMenu
{
    Q_OBJECT
public:
    explicit TSkinPopupMenu(QWidget *AOwner = nullptr);

    // The check mark every pop-up menu shares ("MENU_CHECKED", white made transparent).
    static const TSkinImageList &SharedCheckImages();

protected:
    const TSkinImageList *CheckImages() const override { return &SharedCheckImages(); }
};
