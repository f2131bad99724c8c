#pragma once

// Holds the process operations' reads of the processes a test shuts in, as a process whose stat
// file does not answer would, until the test lets them go. A window that waits for such a read
// (the fault the tests catch) is let go after a few seconds, so that the test ends and fails.

#include "sysinfo/ProcessHelper.h"

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace tvtest {

class OperationGate
{
public:
    // The one gate, set as the operations' hook for the whole test program.
    static OperationGate &Get()
    {
        static OperationGate gate;
        return gate;
    }

    void Shut(quint32 Pid)
    {
        std::lock_guard l(m_Lock);
        m_Shut.insert(Pid);
    }
    void Open()
    {
        {
            std::lock_guard l(m_Lock);
            m_Shut.clear();
        }
        m_Changed.notify_all();
    }
    // Reads of the process that have passed the gate (held or not).
    int Passed(quint32 Pid)
    {
        std::lock_guard l(m_Lock);
        return m_Passed[Pid];
    }
    // Waits until `Count` reads of the process have passed, and none is held.
    bool WaitPassed(quint32 Pid, int Count, int Ms = 10000)
    {
        std::unique_lock l(m_Lock);
        return m_Changed.wait_for(l, std::chrono::milliseconds(Ms),
                                  [&] { return m_Passed[Pid] >= Count && m_Held == 0; });
    }
    // A read was held until the gate gave up on the test.
    bool GaveUp()
    {
        std::lock_guard l(m_Lock);
        return m_GaveUp;
    }

private:
    OperationGate() { SetOperationReadHook(&Hook); }

    static void Hook(quint32 Pid) { Get().Hold(Pid); }
    void Hold(quint32 Pid)
    {
        std::unique_lock l(m_Lock);
        if (m_Shut.count(Pid)) {
            ++m_Held;
            if (!m_Changed.wait_for(l, std::chrono::seconds(3), [&] { return !m_Shut.count(Pid); })) {
                m_GaveUp = true;
                m_Shut.erase(Pid);
            }
            --m_Held;
        }
        ++m_Passed[Pid];
        l.unlock();
        m_Changed.notify_all();
    }

    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::set<quint32> m_Shut;
    std::map<quint32, int> m_Passed;
    int m_Held = 0;
    bool m_GaveUp = false;
};

} // namespace tvtest
