#include "skin/SkinMainMenu.h"

#include "skin/SkinForm.h"
#include "skin/SkinPublic.h"

#include <QAction>
#include <QKeyEvent>

TSkinMainMenu::TSkinMainMenu(QWidget *AOwner) : TSkinCustomMenu(AOwner)
{
    const QImage check = MenuBitmap(QStringLiteral("MENU_CHECKED"));
    if (!check.isNull())
        m_OwnImages.Add(MaskedImage(check, Qt::white));
}

void TSkinMainMenu::SetMenuItemHeight(int Value)
{
    m_MenuItemHeight = Value;
}

void TSkinMainMenu::SetUseSystemFont(bool Value)
{
    TSkinCustomMenu::SetUseSystemFont(Value);
    if (TSkinForm *form = SkinForm())
        form->MenuFontChanged();
}

TSkinImageList *TSkinMainMenu::Images() const
{
    return TSkinCustomMenu::Images();
}

void TSkinMainMenu::SetImages(TSkinImageList *Value)
{
    TSkinCustomMenu::SetImages(Value);
}

TSkinForm *TSkinMainMenu::SkinForm() const
{
    return qobject_cast<TSkinForm *>(m_SkinForm.data());
}

void TSkinMainMenu::SetSkinForm(TSkinForm *Form)
{
    m_SkinForm = Form;
}

void TSkinMainMenu::ThemeRemoved()
{
    TSkinCustomMenu::ThemeRemoved();
    SetUIStyle(TSkinUIStyle::DeepBlue);
}

void TSkinMainMenu::MenuChanged()
{
    if (TSkinForm *form = SkinForm())
        form->MenuItemsChanged();
}

namespace {

QAction *FindShortCut(const QMenu *Menu, const QKeySequence &Key)
{
    for (QAction *a : Menu->actions()) {
        if (a->menu()) {
            if (QAction *found = FindShortCut(a->menu(), Key))
                return found;
            continue;
        }
        if (!a->isSeparator() && a->shortcut() == Key)
            return a;
    }
    return nullptr;
}

} // namespace

bool TSkinMainMenu::IsShortCut(const QKeyEvent *Key)
{
    if (!Key || Key->key() == 0 || Key->key() == Qt::Key_unknown)
        return false;
    switch (Key->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
        return false;
    default:
        break;
    }
    const QKeySequence seq(Key->keyCombination());
    QAction *item = FindShortCut(this, seq);
    if (!item || !item->isEnabled())
        return false;
    item->trigger();
    return true;
}
