// A skinned sizeable form for the window-system test: it shows itself and waits to be ended.

#include "skin/SkinForm.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget form;
    form.setWindowTitle(QStringLiteral("TaskvaneSkinProbe"));
    form.setGeometry(100, 100, 400, 300);
    new TSkinForm(&form);
    form.show();
    return app.exec();
}
