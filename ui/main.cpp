#include "platform/system/EndRequests.h"
#include "platform/system/Environment.h"
#include "platform/system/TestVariables.h"
#include "sysinfo/Processes.h"
#include "ui/ScreenColormap.h"
#include "ui/SingleInstance.h"
#include "ui/Translations.h"
#include "ui/frmDBLogin.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv)
{
    // Before the application object loads plugins and reaches buses as the environment says, and
    // before anything is started: an environment left by another user (sudo -E, su) is replaced by
    // the running user's own.
    platform::system::SettleEnvironment();
    QApplication app(argc, argv);
    platform::system::ToolkitStarted();

    // Asked to end (the session ends, Ctrl-C in a terminal), the program ends as when the user
    // closes it: every window is closed, a question still open included, and the loops end. Asked
    // again before that is done, or once the loop has ended (the forms' teardown may wait on
    // workers), the process ends at once.
    static bool endRequested = false;
    platform::system::WatchEndRequests(&app, [] {
        endRequested = true;
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    });

    // One instance per user: a second start hands over to the first and ends before any form
    // exists, so it neither touches the first instance's files nor starts a second update check.
    TSingleInstance guard;
    if (!guard.InitSingleInstance())
        return 0;

    ProcessesUnitInitialization();
    InstallDictDBLoginDialog();

    InstallToolkitTranslations();
    InstallScreenColormaps();
    app.setApplicationName(QStringLiteral("Taskvane"));
    app.setApplicationDisplayName(QStringLiteral("Taskvane"));
    TFormMain formMain;
    // The about form of the program's start lives, hidden, for the whole run.
    TFormAbout formAbout(&formMain);
    guard.OnActivate = [&formMain] { formMain.RestoreAndRaise(); };
    formMain.show();

    // Used by the end-to-end tests only (a build for tests reads it): report the shown window's
    // title and its version line, then close it as the user would.
    bool ok = false;
    const int closeAfter = platform::system::TestVariable("TASKVANE_TEST_CLOSE_AFTER_MS").toInt(&ok, 0);
    if (ok && closeAfter >= 0) {
        QTimer::singleShot(closeAfter, &formMain, [&formMain] {
            QTextStream(stdout) << "window title: " << formMain.windowTitle() << Qt::endl;
            QTextStream(stdout) << "version line: " << formMain.lblVersion->text() << Qt::endl;
            formMain.close();
        });
    }
    // A request answered while starting (a question of the start ran a loop of its own) ended only
    // that loop: the program's loop is not entered at all.
    if (endRequested)
        return 0;
    return app.exec();
}
