// A small program of the tests' own: settles its environment as the program does at start, then
// does one thing the program does for the user, as the program does it, and says how it went.
//   tvtest_env_probe env                  prints the environment it runs with
//   tvtest_env_probe open-url ADDRESS     the web search and the download page
//   tvtest_env_probe open TARGET          the default program
//   tvtest_env_probe locate PATH          the process page's "定位文件"
//   tvtest_env_probe services             the services page's list, on the system bus
//   tvtest_env_probe image FILE           reads a picture, as the forms do

#include "platform/services/ServiceManager.h"
#include "platform/shell/Shell.h"
#include "platform/system/Environment.h"
#include "ui/UiHooks.h"

#include <QApplication>
#include <QImageReader>
#include <QProcessEnvironment>
#include <QTextStream>

int main(int argc, char **argv)
{
    platform::system::SettleEnvironment();
    QApplication app(argc, argv);
    platform::system::ToolkitStarted();
    const QString action = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString argument = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    QTextStream out(stdout);
    bool done = false;
    if (action == QLatin1String("env")) {
        for (const QString &entry : QProcessEnvironment::systemEnvironment().toStringList())
            out << entry << Qt::endl;
        done = true;
    } else if (action == QLatin1String("open-url")) {
        done = UiHooks().OpenUrl(argument);
    } else if (action == QLatin1String("open")) {
        done = platform::shell::OpenWithDefaultProgram(argument);
    } else if (action == QLatin1String("locate")) {
        done = UiHooks().ShowInFileManager(argument);
    } else if (action == QLatin1String("services")) {
        platform::services::ServiceManager manager;
        done = manager.Ping();
        done = manager.ListServices().has_value() || done;
    } else if (action == QLatin1String("image")) {
        done = !QImageReader(argument).read().isNull();
    } else {
        out << "unknown action" << Qt::endl;
        return 2;
    }
    out << action << ": " << (done ? "done" : "failed") << Qt::endl;
    return 0;
}
