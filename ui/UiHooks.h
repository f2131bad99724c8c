#pragma once

#include "platform/system/TestSeams.h"

#include <QString>
#include <QStringList>

#include <functional>

class QDialog;
class QWidget;

// Every modal dialog, address opening, file-manager call and file picker of the forms goes through
// these hooks. The program keeps the defaults; headless tests replace them with answers of their
// own so that nothing waits for a user (in the builds for tests only: elsewhere they are fixed).
struct TUiHooks
{
    // Shows a dialog modally and returns its result.
    std::function<int(QDialog *Dialog)> ExecModal;
    // Opens an address or document in the user's default program; false when it could not start.
    std::function<bool(const QString &Target)> OpenUrl;
    // Shows a file selected in the file manager. Both file-manager calls run beside the window, on
    // a thread of their own, since the file and the bus may keep them waiting.
    std::function<bool(const QString &Path)> ShowInFileManager;
    // Opens the properties window of a file.
    std::function<bool(const QString &Path)> ShowFileProperties;
    // Asks for a file to open; an empty text when the user cancels. `Filter` pairs a caption
    // with a pattern ("程序(*.exe)|*.exe|所有类型(*.*)|*.*"); "*.exe" means executable files
    // and "*.*" every file.
    std::function<QString(QWidget *Parent, const QString &Title, const QString &Directory, const QString &Filter)>
        PickOpenFile;
};

#if TASKVANE_TEST_SEAMS
// The hooks in effect; restored to the defaults by RestoreDefaultUiHooks.
TUiHooks &UiHooks();
void RestoreDefaultUiHooks();
#else
const TUiHooks &UiHooks();
#endif
