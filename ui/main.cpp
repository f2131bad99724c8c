#include <QApplication>
#include <QLabel>

// Placeholder until the main window lands.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Taskvane"));
    QLabel label(QStringLiteral("Taskvane: the main window is not built yet."));
    label.setWindowTitle(QStringLiteral("Taskvane"));
    label.resize(400, 100);
    label.show();
    return app.exec();
}
