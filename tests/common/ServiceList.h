#pragma once

// The service list is read in the background: tests wait for it to be taken in.

#include "sysinfo/Services.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace tvtest {

// Runs the event loop until the list's reading in the background has been taken in; false when it
// still reads after TimeoutMs.
inline bool WaitForServices(const TServices *Services, int TimeoutMs = 30000)
{
    QDeadlineTimer deadline(TimeoutMs);
    while (Services->Reloading() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return !Services->Reloading();
}

} // namespace tvtest
