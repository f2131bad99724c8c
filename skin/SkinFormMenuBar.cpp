#include "skin/SkinFormMenuBar.h"

#include "skin/SkinForm.h"
#include "skin/SkinMainMenu.h"
#include "skin/SkinPublic.h"

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The caption as shown: "&&" is a literal ampersand, a single one marks the accelerator.
QString ShownCaption(const QString &Caption)
{
    QString out;
    for (qsizetype i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == QLatin1Char('&') && i + 1 < Caption.size())
            ++i;
        out += Caption[i];
    }
    return out;
}

QChar Accelerator(const QString &Caption)
{
    for (qsizetype i = 0; i + 1 < Caption.size(); ++i) {
        if (Caption[i] != QLatin1Char('&'))
            continue;
        if (Caption[i + 1] != QLatin1Char('&'))
            return Caption[i + 1];
        ++i;
    }
    return {};
}

} // namespace

// ---- TSkinMenuBarButton ----

TSkinMenuBarButton::TSkinMenuBarButton(TSkinMenuBar *Bar, QAction *Item) : QToolButton(Bar), m_Bar(Bar), m_Item(Item)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setText(Item->text());
    setEnabled(Item->isEnabled());
    if (QMenu *sub = Item->menu()) {
        connect(sub, &QMenu::aboutToHide, this, [this] {
            m_MenuShown = false;
            m_Tag = underMouse() ? 888 : 0;
            update();
        });
    }
}

void TSkinMenuBarButton::Click()
{
    if (!m_Item || !isEnabled())
        return;
    if (QMenu *sub = m_Item->menu()) {
        m_MenuShown = true;
        m_Tag = 888;
        update();
        sub->popup(mapToGlobal(QPoint(0, height())));
        return;
    }
    m_Item->trigger();
}

bool TSkinMenuBarButton::event(QEvent *Event)
{
    // Alt and the caption's accelerator reach the button as its mnemonic.
    if (Event->type() == QEvent::Shortcut) {
        Click();
        return true;
    }
    return QToolButton::event(Event);
}

void TSkinMenuBarButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    DrawMenuBarButton(p, rect(), text(), m_Tag == 888, isEnabled(), m_Bar->Look());
}

void TSkinMenuBarButton::mousePressEvent(QMouseEvent *Event)
{
    if (Event->button() == Qt::LeftButton)
        Click();
}

void TSkinMenuBarButton::enterEvent(QEnterEvent *Event)
{
    m_Tag = 888;
    update();
    QToolButton::enterEvent(Event);
}

void TSkinMenuBarButton::leaveEvent(QEvent *Event)
{
    m_Tag = m_MenuShown ? 888 : 0;
    update();
    QToolButton::leaveEvent(Event);
}

// ---- TSkinMenuBar ----

TSkinMenuBar::TSkinMenuBar(TSkinForm *Form) : QWidget(Form), m_Form(Form)
{
    m_ButtonHeight = Form->MenuBarHeight() > 0 ? Form->MenuBarHeight() : 22;
}

void TSkinMenuBar::Fill(QMenu *Menu)
{
    for (TSkinMenuBarButton *b : m_Buttons)
        delete b;
    m_Buttons.clear();
    if (!Menu)
        return;
    for (QAction *item : Menu->actions()) {
        if (item->isSeparator() || !item->isVisible())
            continue;
        auto *b = new TSkinMenuBarButton(this, item);
        b->show();
        m_Buttons.push_back(b);
    }
    if (auto *main = qobject_cast<TSkinMainMenu *>(Menu))
        SetBarFont(main->UseSystemFont() ? SystemMenuFont() : main->ItemFont());
    Realign();
}

void TSkinMenuBar::RefreshItems()
{
    for (TSkinMenuBarButton *b : m_Buttons) {
        if (QAction *item = b->MenuItem()) {
            b->setText(item->text());
            b->setEnabled(item->isEnabled());
        }
    }
    Realign();
    update();
}

TSkinMenuBarButton *TSkinMenuBar::Button(int Index) const
{
    return Index >= 0 && Index < ButtonCount() ? m_Buttons[size_t(Index)] : nullptr;
}

void TSkinMenuBar::SetButtonHeight(int Value)
{
    m_ButtonHeight = Value;
    Realign();
}

bool TSkinMenuBar::AnyMarked() const
{
    for (const TSkinMenuBarButton *b : m_Buttons) {
        if (b->Tag() == 888)
            return true;
    }
    return false;
}

bool TSkinMenuBar::DialogChar(QChar Char, bool Alt)
{
    if (!Alt && !AnyMarked())
        return false;
    for (TSkinMenuBarButton *b : m_Buttons) {
        const QChar acc = Accelerator(b->text());
        if (!acc.isNull() && acc.toUpper() == Char.toUpper() && b->isEnabled()) {
            b->Click();
            return true;
        }
    }
    return false;
}

TSkinMenuBarLook TSkinMenuBar::Look() const
{
    TSkinMenuBarLook look;
    look.BarColor = ColorToQColor(m_Form->MenuBarColor());
    look.BarToColor = ColorToQColor(m_Form->MenuBarToColor());
    look.Font = font();
    TSkinUIStyle style;
    if (auto *main = qobject_cast<TSkinMainMenu *>(m_Form->Menu())) {
        if (ThemeFileInEffect(main->FileTheme(), main->UIStyle(), style))
            look.Theme = main->FileTheme();
        look.Font = main->UseSystemFont() ? SystemMenuFont() : main->ItemFont();
    } else if (ThemeFileInEffect(m_Form->FileTheme(), m_Form->UIStyle(), style)) {
        look.Theme = m_Form->FileTheme();
    }
    look.Style = style;
    return look;
}

void TSkinMenuBar::SetBarFont(const QFont &Font)
{
    setFont(Font);
    Realign();
    update();
}

void TSkinMenuBar::Realign()
{
    const QFontMetrics fm(Look().Font);
    int x = 0;
    int y = 0;
    for (TSkinMenuBarButton *b : m_Buttons) {
        const int w = fm.horizontalAdvance(ShownCaption(b->text())) + 16;
        if (x > 0 && x + w > width()) {
            x = 0;
            y += m_ButtonHeight;
        }
        b->setGeometry(x, y, w, m_ButtonHeight);
        x += w;
    }
}

void TSkinMenuBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const TSkinMenuBarLook look = Look();
    p.fillRect(rect(), look.BarColor);
    DrawMenuBarBackground(p, rect(), look);
}

void TSkinMenuBar::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    Realign();
}
