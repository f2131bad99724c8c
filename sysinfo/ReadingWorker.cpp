#include "sysinfo/ReadingWorker.h"

#include "platform/Logging.h"
#include "sysinfo/Logging.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// How long the end of the owner waits for a reading under way before leaving it behind.
constexpr std::chrono::milliseconds kEndWait(250);
// How long the program's end waits for the readings left behind: one that ends while the
// program's statics are being torn down would run into them.
constexpr std::chrono::milliseconds kExitWait(1000);

// The readings left behind that still run.
struct TLeftBehind
{
    std::mutex Lock;
    std::condition_variable Cond;
    int Running = 0;
};

TLeftBehind &LeftBehind()
{
    // Never destroyed: a reading may end after the program's statics have gone.
    static auto *left = new TLeftBehind;
    return *left;
}

void WaitForLeftBehind()
{
    TLeftBehind &left = LeftBehind();
    std::unique_lock l(left.Lock);
    left.Cond.wait_for(l, kExitWait, [&] { return left.Running == 0; });
}

// On the application's thread, while the application lives: its end waits for them.
void LeaveBehind()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        if (QCoreApplication::instance())
            qAddPostRoutine(WaitForLeftBehind);
    });
    TLeftBehind &left = LeftBehind();
    std::lock_guard l(left.Lock);
    ++left.Running;
}

void LeftBehindEnded()
{
    TLeftBehind &left = LeftBehind();
    {
        std::lock_guard l(left.Lock);
        --left.Running;
    }
    left.Cond.notify_all();
}

} // namespace

struct TReadingWorker::TState
{
    std::mutex Lock;
    std::condition_variable Cond;
    // Receives the posted calls; a child of the context, so it goes with it at the latest.
    QObject *Relay = nullptr;
    std::thread Worker;
    TApply Apply;
    bool Closed = false;
    bool Running = false;   // started, its call not run yet
    bool Ready = false;     // the worker's call waits in Apply
    bool Finished = true;   // the worker thread has nothing left to do
    bool Abandoned = false; // the owner has gone and left the worker behind

    // On the context's thread: runs the waiting call, if any; true then.
    bool RunReady()
    {
        TApply apply;
        {
            std::lock_guard l(Lock);
            if (Closed || !Ready)
                return false;
            apply = std::move(Apply);
            Apply = nullptr;
            Ready = false;
            Running = false;
        }
        // The call may start the next reading.
        if (apply)
            apply();
        return true;
    }
};

TReadingWorker::TReadingWorker(QObject *Context) : m_State(std::make_shared<TState>())
{
    m_State->Relay = new QObject(Context);
}

TReadingWorker::~TReadingWorker()
{
    Close();
    TState &s = *m_State;
    bool finished = false;
    {
        std::unique_lock l(s.Lock);
        finished = s.Cond.wait_for(l, kEndWait, [&] { return s.Finished; });
        if (!finished) {
            // Counted before the worker can see it.
            LeaveBehind();
            s.Abandoned = true;
        }
    }
    if (!s.Worker.joinable())
        return;
    if (finished)
        s.Worker.join();
    else
        s.Worker.detach(); // its closure keeps what it reads alive; its call never runs
}

bool TReadingWorker::Start(TRead Read)
{
    TState &s = *m_State;
    {
        std::lock_guard l(s.Lock);
        if (s.Closed || s.Running)
            return false;
    }
    // The last worker has handed its call over and only returns now.
    if (s.Worker.joinable())
        s.Worker.join();
    {
        std::lock_guard l(s.Lock);
        s.Running = true;
        s.Ready = false;
        s.Finished = false;
    }
    try {
        s.Worker = std::thread([state = m_State, read = std::move(Read)]() mutable {
            TApply apply;
            try {
                apply = read();
            } catch (...) {
                qCWarning(lcSysinfo) << "reading failed:" << platform::CurrentExceptionText();
            }
            // What the reading reached goes now, on this thread.
            read = nullptr;
            bool abandoned = false;
            {
                std::lock_guard l(state->Lock);
                abandoned = state->Abandoned;
                state->Finished = true;
                if (!abandoned) {
                    state->Apply = std::move(apply);
                    state->Ready = true;
                    // Posted under the lock: a closed worker has let its relay go, and nothing
                    // reaches it.
                    if (!state->Closed && state->Relay)
                        QMetaObject::invokeMethod(
                            state->Relay, [state] { state->RunReady(); }, Qt::QueuedConnection);
                }
            }
            state->Cond.notify_all();
            if (abandoned) {
                apply = nullptr;
                LeftBehindEnded();
            }
        });
    } catch (const std::system_error &e) {
        qCWarning(lcSysinfo) << "no reading thread:" << e.what();
        std::lock_guard l(s.Lock);
        s.Running = false;
        s.Finished = true;
        return false;
    }
    return true;
}

bool TReadingWorker::Running() const
{
    std::lock_guard l(m_State->Lock);
    return m_State->Running;
}

bool TReadingWorker::Await(std::chrono::milliseconds Timeout)
{
    TState &s = *m_State;
    {
        std::unique_lock l(s.Lock);
        if (!s.Running || s.Closed)
            return false;
        s.Cond.wait_for(l, Timeout, [&] { return s.Ready || s.Closed; });
    }
    return s.RunReady();
}

void TReadingWorker::Close()
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
