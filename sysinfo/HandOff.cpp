#include "sysinfo/HandOff.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

struct THandOff::TState
{
    struct TCall
    {
        const std::function<void()> *Call = nullptr;
        bool Running = false;
        bool Done = false;
    };

    std::mutex Lock;
    std::condition_variable Cond;
    // Receives the posted calls; a child of the context, so it goes with it at the latest.
    QObject *Relay = nullptr;
    QThread *Thread = nullptr;
    std::deque<TCall *> Pending;
    int Serving = 0;
    bool Closed = false;
    bool Finished = false;

    void ServeOne()
    {
        TCall *call = nullptr;
        {
            std::lock_guard l(Lock);
            if (Closed || Pending.empty())
                return;
            call = Pending.front();
            Pending.pop_front();
            call->Running = true;
            ++Serving;
        }
        struct TRelease
        {
            TState *State;
            TCall *Call;
            ~TRelease()
            {
                {
                    std::lock_guard l(State->Lock);
                    Call->Running = false;
                    Call->Done = true;
                    --State->Serving;
                }
                State->Cond.notify_all();
            }
        } release{this, call};
        (*call->Call)();
    }
};

THandOff::THandOff(QObject *Context) : m_State(std::make_shared<TState>())
{
    m_State->Relay = new QObject(Context);
    m_State->Thread = Context->thread();
}

bool THandOff::Synchronize(const std::function<void()> &Call) const
{
    TState &s = *m_State;
    if (QThread::currentThread() == s.Thread) {
        if (Closed())
            return false;
        Call();
        return true;
    }
    TState::TCall entry{&Call};
    {
        std::lock_guard l(s.Lock);
        if (s.Closed)
            return false;
        s.Pending.push_back(&entry);
        // Posted under the lock: a closed hand-off has let its relay go, and nothing reaches it then.
        QMetaObject::invokeMethod(
            s.Relay, [state = m_State] { state->ServeOne(); }, Qt::QueuedConnection);
    }
    s.Cond.notify_all();
    std::unique_lock l(s.Lock);
    s.Cond.wait(l, [&] { return entry.Done || (s.Closed && !entry.Running); });
    if (entry.Done)
        return true;
    std::erase(s.Pending, &entry);
    return false;
}

void THandOff::Finish() const
{
    {
        std::lock_guard l(m_State->Lock);
        m_State->Finished = true;
    }
    m_State->Cond.notify_all();
}

void THandOff::ServePending() const
{
    for (;;) {
        {
            std::lock_guard l(m_State->Lock);
            if (m_State->Closed || m_State->Pending.empty())
                return;
        }
        m_State->ServeOne();
    }
}

void THandOff::WaitEnded(const std::function<bool()> &Alive) const
{
    TState &s = *m_State;
    for (;;) {
        std::unique_lock l(s.Lock);
        if (s.Finished || s.Serving > 0)
            return;
        auto callWaits = [&] { return !s.Closed && !s.Pending.empty(); };
        s.Cond.wait_for(l, std::chrono::milliseconds(100), [&] { return s.Finished || callWaits(); });
        if (s.Finished)
            return;
        const bool pending = callWaits();
        l.unlock();
        if (pending)
            ServePending();
        else if (!Alive())
            return;
    }
}

bool THandOff::Finished() const
{
    std::lock_guard l(m_State->Lock);
    return m_State->Finished;
}

void THandOff::Close() const
{
    QObject *relay = nullptr;
    {
        std::lock_guard l(m_State->Lock);
        if (m_State->Closed)
            return;
        m_State->Closed = true;
        relay = m_State->Relay;
        m_State->Relay = nullptr;
    }
    m_State->Cond.notify_all();
    // Later: this may run inside one of the relay's own calls.
    if (relay)
        relay->deleteLater();
}

bool THandOff::Closed() const
{
    std::lock_guard l(m_State->Lock);
    return m_State->Closed;
}
