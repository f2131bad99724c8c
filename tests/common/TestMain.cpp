#include <gtest/gtest.h>

#include <QtGlobal>
#ifdef TASKVANE_TEST_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

// Tests run headless; a Qt application object exists for the whole run so that
// timers, event loops and widgets behave as in the program.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
#ifdef TASKVANE_TEST_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    app.setApplicationName(QStringLiteral("Taskvane"));
    return RUN_ALL_TESTS();
}
