#pragma once

// Answers the form's message boxes in the tests, in place of the user.

#include "ui/frmMessage.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <vector>

namespace uitest {

// What a message box showed.
struct Shown
{
    QString Text;
    QString Title;
    quint8 Icon = 0;
    quint8 Buttons = 0;
};

// The line breaks of a message text as the box shows them.
inline QString Shows(const QString &Text)
{
    QString s = Text;
    return s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// Records a message box and gives it the next queued answer (Default when none is left): 1 or 3
// clicks the first button, 2 or 4 the second, anything else the close button. The box's result;
// 0 for any other dialog.
inline int AnswerMessageBox(QDialog *Dialog, std::vector<Shown> &Log, QList<quint8> &Answers, quint8 Default = 4)
{
    auto *box = qobject_cast<TFormMessage *>(Dialog);
    if (!box)
        return 0;
    Log.push_back({box->lblText->text(), box->lblTitle->text(), quint8(box->IconKind()), quint8(box->ButtonSet())});
    const quint8 answer = Answers.isEmpty() ? Default : Answers.takeFirst();
    if (answer == 3 || answer == 1)
        box->btnButton1Click();
    else if (answer == 4 || answer == 2)
        box->btnButton2Click();
    else
        box->btnCloseClick();
    return int(box->Result());
}

} // namespace uitest
