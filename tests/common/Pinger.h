#pragma once

// How long the window's thread stays away from its event loop: the longest a call posted to it,
// as another client would post one, waited before it ran.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <thread>

namespace tvtest {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Posts a call to the window every 10 ms from a thread of its own, as another client would, and
// keeps how late the latest-running one ran.
class Pinger
{
public:
    explicit Pinger(QObject *Window) : m_Window(Window)
    {
        m_Thread = std::thread([this] {
            while (!m_Stop) {
                const auto sent = steady_clock::now();
                ++m_Sent;
                QMetaObject::invokeMethod(
                    m_Window,
                    [this, sent] {
                        m_Longest =
                            std::max(m_Longest, std::chrono::duration_cast<milliseconds>(steady_clock::now() - sent));
                        ++m_Answered;
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(milliseconds(10));
            }
        });
    }
    ~Pinger() { Stop(); }

    // Stops posting, runs what is still waiting, and gives the longest wait.
    milliseconds Stop()
    {
        if (m_Thread.joinable()) {
            m_Stop = true;
            m_Thread.join();
        }
        QDeadlineTimer deadline(10000);
        while (m_Answered < m_Sent && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return m_Longest;
    }

private:
    QObject *m_Window;
    std::thread m_Thread;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_Sent{0};
    int m_Answered = 0;
    milliseconds m_Longest{0};
};

} // namespace tvtest
