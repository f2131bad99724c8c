#include "ui/frmMessage.h"
#include "ui/UiHooks.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <functional>

namespace {

using TAction = std::function<void(TFormMessage *Form)>;

void Click(QWidget *W)
{
    ASSERT_TRUE(W->isVisible()) << qPrintable(W->objectName());
    const QPointF Local(W->width() / 2.0, W->height() / 2.0);
    const QPointF Global = W->mapToGlobal(Local);
    QMouseEvent Press(QEvent::MouseButtonPress, Local, Global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(W, &Press);
    QMouseEvent Release(QEvent::MouseButtonRelease, Local, Global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(W, &Release);
}

void Key(QWidget *W, int K)
{
    QKeyEvent Press(QEvent::KeyPress, K, Qt::NoModifier);
    QCoreApplication::sendEvent(W, &Press);
}

enum TAnswer { Button1, Button2, Button3, CloseButton, Enter, KeypadEnter, Esc, WindowClose };

const char *AnswerName(TAnswer A)
{
    static const char *const Names[] = {"btnButton1", "btnButton2",   "btnButton3", "btnClose",
                                        "Enter",      "keypad Enter", "Esc",        "window close"};
    return Names[A];
}

void Answer(TFormMessage *F, TAnswer A)
{
    switch (A) {
    case Button1:
        Click(F->btnButton1);
        break;
    case Button2:
        Click(F->btnButton2);
        break;
    case Button3:
        Click(F->btnButton3);
        break;
    case CloseButton:
        Click(F->btnClose);
        break;
    case Enter:
        Key(F, Qt::Key_Return);
        break;
    case KeypadEnter:
        Key(F->lblText, Qt::Key_Enter);
        break; // keys reach the form from any child
    case Esc:
        Key(F->btnButton1, Qt::Key_Escape);
        break;
    case WindowClose:
        F->close();
        break;
    }
}

// Shows the box for real (a modal loop) and answers it from inside the loop.
// A watchdog ends a box that the action left open, so no test can hang.
class MessageBoxTest : public ::testing::Test
{
protected:
    void TearDown() override { RestoreDefaultUiHooks(); }

    quint8 Run(const QString &Text, const QString &Title, quint8 Icon, quint8 Set, TAction Action)
    {
        Shown = nullptr;
        TimedOut = false;
        UiHooks().ExecModal = [this, Action](QDialog *Dialog) {
            auto *Form = qobject_cast<TFormMessage *>(Dialog);
            Shown = Form;
            QTimer::singleShot(0, Dialog, [Form, Action] { Action(Form); });
            QTimer::singleShot(10000, Dialog, [this, Dialog] {
                TimedOut = true;
                Dialog->hide();
            });
            return Dialog->exec();
        };
        const quint8 Result = quint8(TFormMessage::MessageBox(Text, Title, TMessageIcon(Icon), TMessageButtons(Set)));
        EXPECT_FALSE(TimedOut) << "the box was not answered";
        return Result;
    }

    QPointer<TFormMessage> Shown;
    bool TimedOut = false;
};

TEST_F(MessageBoxTest, ResultTableByButtonSet)
{
    // -1: the set has no such button.
    const int Expected[4][8] = {
        // btn1 btn2 btn3 close Enter kpEnter Esc  window close
        {1, -1, -1, 2, 1, 1, 0, 2},
        {1, 2, -1, 2, 1, 1, 2, 2},
        {3, 4, -1, 4, 3, 3, 4, 4},
        {3, 4, 2, 2, 3, 3, 2, 2},
    };
    for (quint8 Set = 0; Set < 4; ++Set)
        for (int A = Button1; A <= WindowClose; ++A) {
            if (Expected[Set][A] < 0)
                continue;
            const quint8 R = Run(QStringLiteral("确定吗？"), QStringLiteral("警告"), 2, Set,
                                 [A](TFormMessage *F) { Answer(F, TAnswer(A)); });
            EXPECT_EQ(R, Expected[Set][A]) << "set " << int(Set) << ", " << AnswerName(TAnswer(A));
        }
}

TEST_F(MessageBoxTest, ButtonsCaptionsAndPlacesBySet)
{
    struct
    {
        quint8 Set;
        std::vector<std::pair<QString, int>> Shown; // caption, left edge; in button order
    } Cases[] = {
        {0, {{QStringLiteral("确认"), 120}}},
        {1, {{QStringLiteral("确认"), 70}, {QStringLiteral("取消"), 170}}},
        {2, {{QStringLiteral("是"), 70}, {QStringLiteral("否"), 170}}},
        {3, {{QStringLiteral("是"), 24}, {QStringLiteral("否"), 120}, {QStringLiteral("取消"), 216}}},
        {9, {}},
    };
    for (const auto &C : Cases) {
        Run(QStringLiteral("text"), QStringLiteral("t"), 1, C.Set, [&C](TFormMessage *F) {
            TPicButton *Buttons[] = {F->btnButton1, F->btnButton2, F->btnButton3};
            for (size_t i = 0; i < 3; ++i) {
                SCOPED_TRACE(testing::Message() << "set " << int(C.Set) << ", button " << i + 1);
                if (i < C.Shown.size()) {
                    ASSERT_TRUE(Buttons[i]->isVisible());
                    EXPECT_EQ(Buttons[i]->Caption(), C.Shown[i].first);
                    EXPECT_EQ(Buttons[i]->x(), C.Shown[i].second);
                    EXPECT_EQ(Buttons[i]->size(), QSize(80, 20));
                    // The buttons keep 46 pixels to the bottom edge.
                    EXPECT_EQ(F->height() - (Buttons[i]->y() + Buttons[i]->height()), 46);
                } else {
                    EXPECT_FALSE(Buttons[i]->isVisible());
                }
            }
            EXPECT_EQ(F->btnClose->geometry(), QRect(F->width() - 34, 7, 16, 16));
            F->btnCloseClick();
        });
    }
}

TEST_F(MessageBoxTest, UnknownButtonSetClosesWithZero)
{
    EXPECT_EQ(Run(QStringLiteral("x"), QStringLiteral("t"), 0, 7, [](TFormMessage *F) { Key(F, Qt::Key_Return); }), 0);
    EXPECT_EQ(Run(QStringLiteral("x"), QStringLiteral("t"), 0, 7, [](TFormMessage *F) { Key(F, Qt::Key_Escape); }), 0);
    EXPECT_EQ(Run(QStringLiteral("x"), QStringLiteral("t"), 0, 7, [](TFormMessage *F) { Click(F->btnClose); }), 0);
}

TEST_F(MessageBoxTest, OtherKeysDoNotCloseTheBox)
{
    const quint8 R = Run(QStringLiteral("x"), QStringLiteral("t"), 0, 2, [](TFormMessage *F) {
        Key(F, Qt::Key_Space);
        Key(F, Qt::Key_A);
        Key(F, Qt::Key_Tab);
        EXPECT_TRUE(F->isVisible());
        F->btnButton2Click();
    });
    EXPECT_EQ(R, 4);
}

TEST_F(MessageBoxTest, BlankTitleShowsTheApplicationTitle)
{
    const QString Blanks[] = {QString(), QStringLiteral("   "), QStringLiteral(" \t ")};
    for (const QString &Title : Blanks)
        Run(QStringLiteral("x"), Title, 0, 0, [](TFormMessage *F) {
            EXPECT_EQ(F->lblTitle->text(), QStringLiteral("Taskvane"));
            F->btnButton1Click();
        });
    Run(QStringLiteral("x"), QStringLiteral(" 失败 "), 0, 0, [](TFormMessage *F) {
        EXPECT_EQ(F->lblTitle->text(), QStringLiteral(" 失败 "));
        // The form's own caption never changes.
        EXPECT_EQ(F->windowTitle(), QStringLiteral("Details"));
        F->btnButton1Click();
    });
}

TEST_F(MessageBoxTest, LongerTextMakesATallerBox)
{
    int ShortHeight = 0, LongHeight = 0, TwoLineHeight = 0;
    auto Measure = [](int &Height) {
        return [&Height](TFormMessage *F) {
            Height = F->height();
            EXPECT_EQ(F->height(), F->lblText->y() + F->lblText->height() + 90);
            EXPECT_EQ(F->lblText->y(), 48);
            EXPECT_EQ(F->width(), 320);
            F->btnButton1Click();
        };
    };
    Run(QStringLiteral("结束进程操作失败！"), QStringLiteral("失败"), 5, 0, Measure(ShortHeight));
    Run(QStringLiteral("结束进程操作失败！\r\rbash [1234]"), QStringLiteral("失败"), 5, 0, Measure(TwoLineHeight));
    Run(QStringLiteral("word ").repeated(80), QStringLiteral("失败"), 5, 0, Measure(LongHeight));
    EXPECT_GT(TwoLineHeight, ShortHeight);
    EXPECT_GT(LongHeight, TwoLineHeight);
}

TEST_F(MessageBoxTest, HugeTextKeepsTheButtonsOnTheScreen)
{
    Run(QStringLiteral("line\r").repeated(2000), QStringLiteral("t"), 5, 2, [](TFormMessage *F) {
        ASSERT_NE(F->screen(), nullptr);
        EXPECT_LE(F->height(), F->screen()->availableGeometry().height());
        EXPECT_EQ(F->height(), F->lblText->y() + F->lblText->height() + 90);
        EXPECT_TRUE(F->screen()->availableGeometry().contains(F->btnButton2->mapToGlobal(QPoint(1, 1))));
        Click(F->btnButton2);
    });
}

TEST_F(MessageBoxTest, TextWrapsWithinItsWidth)
{
    Run(QString(), QStringLiteral("t"), 3, 0, [](TFormMessage *F) {
        // A path without blanks, wider than the label, still wraps.
        const QString Path = QStringLiteral("/usr/lib/") + QStringLiteral("verylongdirectoryname/").repeated(8);
        F->lblText->setText(QStringLiteral("x"));
        const int OneLine = F->lblText->TextHeight(F->lblText->width());
        F->lblText->setText(Path);
        EXPECT_GE(F->lblText->TextHeight(F->lblText->width()), 3 * OneLine);
        F->lblText->setText(QStringLiteral("a\nb\nc"));
        EXPECT_GE(F->lblText->TextHeight(F->lblText->width()), 3 * OneLine);
        F->btnButton1Click();
    });
}

TEST_F(MessageBoxTest, TextIsPlainAndCarriageReturnsBreakLines)
{
    Run(QStringLiteral("<b>evil</b> &amp; <img src=x>\rline 2\r\nline 3"), QStringLiteral("<i>t</i>"), 1, 0,
        [](TFormMessage *F) {
            EXPECT_EQ(F->lblText->textFormat(), Qt::PlainText);
            EXPECT_EQ(F->lblTitle->textFormat(), Qt::PlainText);
            EXPECT_EQ(F->lblText->text(), QStringLiteral("<b>evil</b> &amp; <img src=x>\nline 2\nline 3"));
            EXPECT_EQ(F->lblTitle->text(), QStringLiteral("<i>t</i>"));
            F->btnButton1Click();
        });
}

TEST_F(MessageBoxTest, IconKindsShowTheirPictureAndPlaceTheText)
{
    struct
    {
        quint8 Kind;
        const char *Icon; // nullptr: none
        int TextLeft;
    } Cases[] = {
        {0, nullptr, 30},           {1, "imgIcon_Information", 72}, {2, "imgIcon_Question", 72},
        {3, "imgIcon_Warning", 72}, {4, "imgIcon_Ban", 72},         {5, "imgIcon_Error", 72},
        {6, nullptr, 72},
    };
    for (const auto &C : Cases)
        Run(QStringLiteral("text"), QStringLiteral("t"), C.Kind, 0, [&C](TFormMessage *F) {
            SCOPED_TRACE(testing::Message() << "icon kind " << int(C.Kind));
            for (TImage *I :
                 {F->imgIcon_Information, F->imgIcon_Question, F->imgIcon_Warning, F->imgIcon_Ban, F->imgIcon_Error}) {
                const bool Expected = C.Icon && I->objectName() == QLatin1String(C.Icon);
                EXPECT_EQ(I->isVisible(), Expected) << qPrintable(I->objectName());
                EXPECT_EQ(I->geometry(), QRect(24, 42, 32, 32));
                EXPECT_FALSE(I->Picture().isNull());
            }
            EXPECT_EQ(F->lblText->x(), C.TextLeft);
            EXPECT_EQ(F->lblText->width(), 320 - C.TextLeft - 30);
            F->btnButton1Click();
        });
}

TEST_F(MessageBoxTest, FormIsFreedAfterEachCall)
{
    const int Before = QApplication::topLevelWidgets().size();
    for (int i = 0; i < 3; ++i) {
        Run(QStringLiteral("x"), QString(), 0, 0, [](TFormMessage *F) { F->btnButton1Click(); });
        EXPECT_TRUE(Shown.isNull());
    }
    EXPECT_EQ(QApplication::topLevelWidgets().size(), Before);
}

TEST_F(MessageBoxTest, LayoutRunsOnceOnTheFirstShow)
{
    TFormMessage Form;
    EXPECT_TRUE(Form.LayoutPending());
    Form.SetButtonSet(TMessageButtons::YesNo);
    Form.FormShow();
    EXPECT_FALSE(Form.LayoutPending());
    EXPECT_EQ(Form.btnButton1->Caption(), QStringLiteral("是"));
    // Later shows leave the layout alone.
    Form.SetButtonSet(TMessageButtons::Ok);
    Form.FormShow();
    EXPECT_EQ(Form.btnButton1->Caption(), QStringLiteral("是"));
    EXPECT_EQ(Form.Result(), TMessageResult::None);
}

TEST_F(MessageBoxTest, TitleDragsTheBoxUnlessMaximised)
{
    auto Drag = [](TFormMessage *F, QWidget *By) {
        const QPoint Start = F->pos();
        const QPointF Local(5, 5);
        QMouseEvent Press(QEvent::MouseButtonPress, Local, By->mapToGlobal(Local), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(By, &Press);
        const QPointF To = Local + QPointF(40, 25);
        QMouseEvent Move(QEvent::MouseMove, To, By->mapToGlobal(To), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(By, &Move);
        QMouseEvent Release(QEvent::MouseButtonRelease, To, By->mapToGlobal(To), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(By, &Release);
        return F->pos() - Start;
    };
    Run(QStringLiteral("x"), QStringLiteral("t"), 0, 0, [&Drag](TFormMessage *F) {
        EXPECT_EQ(Drag(F, F->lblTitle), QPoint(40, 25));
        EXPECT_EQ(Drag(F, F->imgBorder_Top), QPoint(40, 25));
        // The body of the box does not drag it.
        EXPECT_EQ(Drag(F, F->lblText), QPoint(0, 0));
        F->btnButton1Click();
    });
    Run(QStringLiteral("x"), QStringLiteral("t"), 0, 0, [&Drag](TFormMessage *F) {
        F->setWindowState(Qt::WindowMaximized);
        EXPECT_EQ(Drag(F, F->lblTitle), QPoint(0, 0));
        F->btnButton1Click();
    });
}

TEST(MessagePictures, EveryPictureDecodesAtItsSize)
{
    const struct
    {
        const char16_t *Name;
        QSize Size;
    } Pictures[] = {
        {u"border_topleft", {18, 31}},     {u"border_topright", {68, 31}}, {u"border_bottomleft", {53, 31}},
        {u"border_bottomright", {53, 31}}, {u"border_left", {4, 8}},       {u"border_right", {4, 8}},
        {u"border_top", {8, 31}},          {u"border_bottom", {8, 31}},    {u"icon_information", {32, 32}},
        {u"icon_question", {32, 32}},      {u"icon_warning", {32, 32}},    {u"icon_ban", {32, 32}},
        {u"icon_error", {32, 32}},         {u"button_normal", {80, 20}},   {u"button_hover", {80, 20}},
        {u"button_down", {80, 20}},        {u"button_disabled", {80, 20}}, {u"close_normal", {16, 16}},
        {u"close_hover", {16, 16}},        {u"close_down", {16, 16}},      {u"close_disabled", {16, 16}},
    };
    for (const auto &P : Pictures) {
        const QPixmap Pic = MessagePicture(QStringView(P.Name));
        EXPECT_EQ(Pic.size(), P.Size) << QString::fromUtf16(P.Name).toStdString();
    }
    EXPECT_TRUE(MessagePicture(u"no_such_picture").isNull());
}

} // namespace
