#include "ui/frmDBLogin.h"

#include "dictdb/DictDB.h"
#include "ui/UiHooks.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QThread>

TDictDBLoginForm::TDictDBLoginForm(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("DictDBLoginForm"));
    setWindowTitle(QStringLiteral("Database Login"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The font boxes and prompts use, whatever the application font is.
    setFont(QApplication::font("QMessageBox"));
    setFixedSize(281, 154);

    BackPanel = new QFrame(this);
    BackPanel->setObjectName(QStringLiteral("BackPanel"));
    BackPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    BackPanel->setGeometry(8, 8, width() - 16, 78);

    DatabaseLabel = new QLabel(QStringLiteral("Database:"), BackPanel);
    DatabaseLabel->setObjectName(QStringLiteral("DatabaseLabel"));
    DatabaseLabel->move(12, 15);
    DatabaseLabel->adjustSize();

    PasswordLabel = new QLabel(QStringLiteral("Password:"), BackPanel);
    PasswordLabel->setObjectName(QStringLiteral("PasswordLabel"));
    PasswordLabel->move(12, 45);
    PasswordLabel->adjustSize();

    DatabaseEdit = new QLineEdit(BackPanel);
    DatabaseEdit->setObjectName(QStringLiteral("DatabaseEdit"));
    DatabaseEdit->setGeometry(86, 12, 165, 21);
    DatabaseEdit->setReadOnly(true);
    // Clickable to select and copy the name, but Tab passes it by.
    DatabaseEdit->setFocusPolicy(Qt::ClickFocus);
    QPalette pal = DatabaseEdit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    DatabaseEdit->setPalette(pal);

    PasswordEdit = new QLineEdit(BackPanel);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setGeometry(86, 42, 165, 21);
    PasswordEdit->setEchoMode(QLineEdit::Password);
    // The style's own mask character varies; this prompt always masks with '*'.
    PasswordEdit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));

    OKButton = new QPushButton(QStringLiteral("&OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(109, 94, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    // Esc rejects the dialog as this button does.
    CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(191, 94, 75, 25);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(PasswordEdit, OKButton);
    setTabOrder(OKButton, CancelButton);
    PasswordEdit->setFocus();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

bool DictDBLoginDialog(const QString &ADatabaseName, QString &APassword)
{
    // Without a widget application there is no one to ask.
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app)
        return false;

    // Widgets live on the user-interface thread only; a database opened on another
    // thread waits there until the user has answered.
    if (QThread::currentThread() != app->thread()) {
        bool ok = false;
        QString password;
        QMetaObject::invokeMethod(
            app, [&] { ok = DictDBLoginDialog(ADatabaseName, password); }, Qt::BlockingQueuedConnection);
        if (ok)
            APassword = password;
        return ok;
    }

    TDictDBLoginForm form;
    form.DatabaseEdit->setText(ADatabaseName);
    if (UiHooks().ExecModal(&form) != QDialog::Accepted)
        return false;
    APassword = form.PasswordEdit->text();
    return true;
}

void InstallDictDBLoginDialog()
{
    SetDictDBLoginHandler(&DictDBLoginDialog);
}
