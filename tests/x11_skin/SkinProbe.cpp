// A skinned sizeable form for the window-system test: it shows itself and waits to be ended.

#include "skin/SkinForm.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget form;
    form.setWindowTitle(QStringLiteral("TaskvaneSkinProbe"));
    form.setGeometry(100, 100, 400, 300);
    new TSkinForm(&form);
    form.show();
    QTimer::singleShot(0, &form, [&form] {
        std::printf("ready %llu\n", static_cast<unsigned long long>(form.winId()));
        std::fflush(stdout);
    });
    return app.exec();
}
