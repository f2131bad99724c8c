#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
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
    // A child with several threads for tests that act on every thread of a process: the test
    // program started again as "--threaded-child N" runs N sleeping threads besides its main one.
    if (argc == 3 && std::strcmp(argv[1], "--threaded-child") == 0) {
        std::vector<std::thread> threads;
        for (int i = std::atoi(argv[2]); i > 0; --i)
            threads.emplace_back([] { std::this_thread::sleep_for(std::chrono::seconds(60)); });
        std::this_thread::sleep_for(std::chrono::seconds(60));
        for (auto &t : threads)
            t.join();
        return 0;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The user's own stores (autostart folders, key store, data directory) are never read or
    // written by a test: every test program gets private ones; a test that needs its own sets
    // them again.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/taskvane-test-home-XXXXXX"));
    if (!home.isValid())
        return 2;
    qputenv("HOME", QFile::encodeName(home.filePath(QStringLiteral("home"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(home.filePath(QStringLiteral("xdg"))));
    qputenv("TASKVANE_REGISTRY_DIR", QFile::encodeName(home.filePath(QStringLiteral("registry"))));
    // Without a session folder the toolkit makes one of its own in the temporary folder and leaves
    // it there: the run's is in its private home instead, as a session's would be.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = home.filePath(QStringLiteral("runtime"));
        if (!QDir().mkpath(runtime) ||
            !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return 2;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    ::testing::InitGoogleTest(&argc, argv);
#ifdef TASKVANE_TEST_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    app.setApplicationName(QStringLiteral("Taskvane"));
    return RUN_ALL_TESTS();
}
