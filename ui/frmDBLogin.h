#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The password prompt of the dictionary database: shown when a database file is
// enciphered and neither the program nor the session knows its password.
// Built in code; it is never loaded from a form description.
class TDictDBLoginForm : public QDialog
{
    Q_OBJECT
public:
    explicit TDictDBLoginForm(QWidget *Parent = nullptr);

    QFrame *BackPanel = nullptr;
    QLabel *DatabaseLabel = nullptr;
    QLabel *PasswordLabel = nullptr;
    QLineEdit *DatabaseEdit = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QPushButton *OKButton = nullptr;
    QPushButton *CancelButton = nullptr;
};

// Asks for the password of the database file ADatabaseName. True with the typed
// password on OK; false (APassword untouched) on Cancel or when no window can be shown.
// Safe to call from any thread: the dialog itself always runs on the user-interface thread.
bool DictDBLoginDialog(const QString &ADatabaseName, QString &APassword);

// Makes the dialog above the database engine's way of asking for a password.
void InstallDictDBLoginDialog();
