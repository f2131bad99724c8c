#pragma once

#include "platform/services/ServiceManager.h"
#include "sysinfo/Optimization.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <functional>
#include <vector>

namespace optitest {

// One event as a handler saw it.
struct Event
{
    char Kind = '?'; // 'O' optimising, 'B' backing up, 'R' restoring
    quint32 Current = 0;
    quint32 Total = 0;
    QString Name;
    quint8 Mode = 0;
    bool OnMainThread = false;
    bool BusyDuringEvent = false;
};

// Records every event of a component.
struct Recorder
{
    std::vector<Event> Events;
    std::function<void(const Event &)> During; // runs inside the handler, while the worker waits

    void Attach(TOptimization &O)
    {
        auto make = [this, &O](char Kind) {
            return
                [this, &O, Kind](QObject *Sender, quint32 Cur, quint32 Total, const QString &Name, TServiceMode Mode) {
                    Event e{Kind, Cur, Total, Name, quint8(Mode), QThread::currentThread() == qApp->thread(), O.Busy()};
                    EXPECT_EQ(Sender, &O);
                    Events.push_back(e);
                    if (During)
                        During(e);
                };
        };
        O.OnOptimizingServices = make('O');
        O.OnBackuppingServices = make('B');
        O.OnRestoringServices = make('R');
    }
};

// Runs the events until the component has no job; false on time-out.
inline bool WaitIdle(TOptimization &O, int Ms = 30000)
{
    QDeadlineTimer deadline(Ms);
    while (O.Busy()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QCoreApplication::processEvents();
    return true;
}

// Runs the events until Done holds; false on time-out.
inline bool ProcessUntil(const std::function<bool()> &Done, int Ms = 10000)
{
    QDeadlineTimer deadline(Ms);
    while (!Done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Sends every service call of the test program to a bus that does not exist, so that no test
// can ever reach the machine's own service manager; tests with a fake manager point it there.
inline void IsolateFromSystemServices()
{
    qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-no-such-bus");
}

} // namespace optitest
