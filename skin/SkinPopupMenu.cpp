#include "skin/SkinPopupMenu.h"

#include "skin/SkinPublic.h"

TSkinPopupMenu::TSkinPopupMenu(QWidget *AOwner) : TSkinCustomMenu(AOwner) {}

const TSkinImageList &TSkinPopupMenu::SharedCheckImages()
{
    static const TSkinImageList kList = [] {
        TSkinImageList l;
        const QImage check = MenuBitmap(QStringLiteral("MENU_CHECKED"));
        if (!check.isNull())
            l.Add(MaskedImage(check, Qt::white));
        return l;
    }();
    return kList;
}
