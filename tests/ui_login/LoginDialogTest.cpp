#include "common/TempDir.h"
#include "dictdb/DictDB.h"
#include "dictdb/DictDBCreator.h"
#include "dictdb/DictTable.h"
#include "ui/UiHooks.h"
#include "ui/frmDBLogin.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

namespace {

using TAction = std::function<void(TDictDBLoginForm *Form)>;

void Key(QWidget *W, int K, const QString &Text = QString())
{
    QKeyEvent Press(QEvent::KeyPress, K, Qt::NoModifier, Text);
    QApplication::sendEvent(W, &Press);
    QKeyEvent Release(QEvent::KeyRelease, K, Qt::NoModifier, Text);
    QApplication::sendEvent(W, &Release);
}

void Type(QWidget *W, const QString &Text)
{
    for (const QChar C : Text)
        Key(W, C.toUpper().unicode(), QString(C));
}

// The answers a user gives, sent as keys to the focused field as a user would.
TAction TypeAndEnter(const QString &Password)
{
    return [Password](TDictDBLoginForm *F) {
        Type(F->PasswordEdit, Password);
        Key(F->PasswordEdit, Qt::Key_Return);
    };
}

TAction PressEsc()
{
    return [](TDictDBLoginForm *F) {
        Type(F->PasswordEdit, QStringLiteral("typed"));
        Key(F->PasswordEdit, Qt::Key_Escape);
    };
}

// Shows every login dialog for real (a modal loop) and answers it from inside the loop.
// A watchdog ends a dialog that the action left open, so no test can hang.
class LoginDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Path = Dir.file(QStringLiteral("locked.db"));
        TDictDBTableLayout Config;
        Config.Name = QStringLiteral("Config");
        Config.Fields = {{QStringLiteral("Item"), ftString, 32, 0}, {QStringLiteral("Value"), ftString, 32, 0}};
        TDictDBFileLayout Layout;
        Layout.Tables = {Config};
        Layout.Encrypt = true;
        Layout.Compress = true;
        Layout.EncryptAlgo = QStringLiteral("Twofish");
        Layout.Password = QStringLiteral("s3cret");
        CreateDictDBFile(Path, Layout);
        InstallDictDBLoginDialog();
    }

    void TearDown() override
    {
        SetDictDBLoginHandler(nullptr);
        RestoreDefaultUiHooks();
    }

    // Each dialog shown takes the next action.
    void Answer(QList<TAction> Actions)
    {
        Pending = std::move(Actions);
        UiHooks().ExecModal = [this](QDialog *Dialog) {
            auto *Form = qobject_cast<TDictDBLoginForm *>(Dialog);
            EXPECT_NE(Form, nullptr);
            if (!Form || Pending.isEmpty()) {
                ++Unexpected;
                return int(QDialog::Rejected);
            }
            ++Shown;
            ShownOnThread = QThread::currentThread();
            ShownName = Form->DatabaseEdit->text();
            QTimer::singleShot(0, Dialog, [Form, A = Pending.takeFirst()] { A(Form); });
            QTimer::singleShot(10000, Dialog, [this, Dialog] {
                TimedOut = true;
                Dialog->reject();
            });
            return Dialog->exec();
        };
    }

    // Opens the table through the default session, as the dictionary does.
    void OpenTable(TDictTable &T)
    {
        T.SetDatabaseName(Path);
        T.SetTableName(QStringLiteral("Config"));
        T.Open();
    }

    QString ErrorOf(const std::function<void()> &F)
    {
        try {
            F();
        } catch (const EDatabaseError &E) {
            return E.Message();
        }
        return QString();
    }

    tvtest::TempDir Dir;
    QString Path;
    QList<TAction> Pending;
    int Shown = 0;
    int Unexpected = 0;
    bool TimedOut = false;
    QThread *ShownOnThread = nullptr;
    QString ShownName;
};

TEST_F(LoginDialogTest, TypedPasswordOpensTheEncipheredDatabase)
{
    Answer({TypeAndEnter(QStringLiteral("s3cret")), TypeAndEnter(QStringLiteral("s3cret"))});
    {
        TDictTable T;
        OpenTable(T);
        ASSERT_TRUE(T.Active());
        T.Append();
        T.FieldByName(QStringLiteral("Item"))->SetAsString(QStringLiteral("Version"));
        T.FieldByName(QStringLiteral("Value"))->SetAsString(QStringLiteral("2024-01-31"));
        T.Post();
        T.Close();
    }
    // A fresh connection asks again and reads back what the cipher stored.
    TDictTable T;
    OpenTable(T);
    ASSERT_TRUE(T.Active());
    ASSERT_EQ(T.RecordCount(), 1);
    T.First();
    EXPECT_EQ(T.FieldByName(QStringLiteral("Value"))->AsString(), QStringLiteral("2024-01-31"));
    T.Close();

    EXPECT_EQ(Shown, 2);
    EXPECT_EQ(Unexpected, 0);
    EXPECT_FALSE(TimedOut);
    EXPECT_EQ(ShownName, Path);
}

TEST_F(LoginDialogTest, CancelAbortsSilentlyAndWrongPasswordIsDenied)
{
    const TAction CancelButton = [](TDictDBLoginForm *F) {
        Type(F->PasswordEdit, QStringLiteral("s3cret"));
        F->CancelButton->click();
    };
    const TAction CloseWindow = [](TDictDBLoginForm *F) { F->close(); };
    Answer({PressEsc(), CancelButton, CloseWindow, TypeAndEnter(QStringLiteral("s3cre")), TypeAndEnter(QString())});

    for (int i = 0; i < 3; ++i) {
        TDictTable T;
        EXPECT_THROW(OpenTable(T), EAbort) << "answer " << i;
        EXPECT_FALSE(T.Active());
    }
    for (int i = 0; i < 2; ++i) {
        TDictTable T;
        EXPECT_EQ(ErrorOf([&] { OpenTable(T); }), QStringLiteral("Access denied")) << "answer " << i;
        EXPECT_FALSE(T.Active());
    }
    EXPECT_EQ(Shown, 5);
    EXPECT_EQ(Unexpected, 0);
    EXPECT_FALSE(TimedOut);
}

TEST_F(LoginDialogTest, DialogFace)
{
    TDictDBLoginForm F;
    EXPECT_EQ(F.windowTitle(), QStringLiteral("Database Login"));
    EXPECT_EQ(F.size(), QSize(281, 154));
    EXPECT_EQ(F.minimumSize(), F.maximumSize()); // a dialog border: not resizable
    EXPECT_EQ(F.font(), QApplication::font("QMessageBox"));
    const QRect Screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LE((F.geometry().center() - Screen.center()).manhattanLength(), 2);

    EXPECT_EQ(F.BackPanel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(F.BackPanel->pos(), QPoint(8, 8));
    EXPECT_EQ(F.DatabaseLabel->text(), QStringLiteral("Database:"));
    EXPECT_EQ(F.DatabaseLabel->pos(), QPoint(12, 15));
    EXPECT_EQ(F.PasswordLabel->text(), QStringLiteral("Password:"));
    EXPECT_EQ(F.PasswordLabel->pos(), QPoint(12, 45));
    EXPECT_EQ(F.OKButton->text(), QStringLiteral("&OK"));
    EXPECT_EQ(F.OKButton->geometry().topLeft(), QPoint(109, 94));
    EXPECT_TRUE(F.OKButton->isDefault());
    EXPECT_EQ(F.CancelButton->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(F.CancelButton->geometry().topLeft(), QPoint(191, 94));
    // Both buttons lie wholly inside the dialog.
    EXPECT_TRUE(F.rect().contains(F.CancelButton->geometry()));

    // The name field is read-only and shaded; Tab never lands on it.
    EXPECT_TRUE(F.DatabaseEdit->isReadOnly());
    EXPECT_FALSE(F.DatabaseEdit->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(F.DatabaseEdit->palette().color(QPalette::Base), F.palette().color(QPalette::Button));
    EXPECT_EQ(F.focusWidget(), F.PasswordEdit);
    EXPECT_EQ(F.PasswordEdit->nextInFocusChain(), F.OKButton);
    EXPECT_EQ(F.OKButton->nextInFocusChain(), F.CancelButton);

    // Every typed character shows as '*', whatever the style's own mask.
    F.show();
    Type(F.PasswordEdit, QStringLiteral("pa55"));
    EXPECT_EQ(F.PasswordEdit->text(), QStringLiteral("pa55"));
    EXPECT_EQ(F.PasswordEdit->displayText(), QStringLiteral("****"));
    F.hide();
}

TEST_F(LoginDialogTest, WorkerThreadIsAnsweredOnTheUserInterfaceThread)
{
    Answer({TypeAndEnter(QStringLiteral("from-ui"))});
    std::atomic<bool> Done{false};
    bool Ok = false;
    QString Password = QStringLiteral("untouched");
    QThread *Worker = QThread::create([&] {
        Ok = DictDBLoginHandler()(Path, Password);
        Done = true;
    });
    Worker->start();
    // The worker waits for the user-interface thread, which must keep its events flowing.
    for (int i = 0; i < 2000 && !Done; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    ASSERT_TRUE(Done);
    Worker->wait();
    delete Worker;
    EXPECT_TRUE(Ok);
    EXPECT_EQ(Password, QStringLiteral("from-ui"));
    EXPECT_EQ(ShownOnThread, QApplication::instance()->thread());
    EXPECT_EQ(ShownName, Path);
}

} // namespace
