#pragma once

#include <QObject>

#include <functional>
#include <memory>

// One way a worker thread hands work to the thread of a context object (the window's): the
// worker hands over a call and waits until it has run there. While the context's thread waits
// for a worker to end it keeps running the calls that worker hands over, so neither waits for
// the other. Once closed, no call runs any more: a worker that waits, or comes later, is released
// at once, so nothing needs draining when the context goes.
//
// Copies are ends of the same hand-off: a worker that may outlive its owner keeps one. The owner
// closes it before its context object goes.
class THandOff
{
public:
    // Calls run on the thread of `Context`; this must be made on that thread.
    explicit THandOff(QObject *Context);

    // Worker side: runs `Call` on the context's thread and waits until it has run; true then.
    // False, with the call not run, once the hand-off is closed. Called on the context's thread
    // itself, the call runs at once.
    bool Synchronize(const std::function<void()> &Call) const;
    // Worker side: the worker hands over nothing more; a wait for its end returns.
    void Finish() const;

    // Context side: runs the calls that wait, if any.
    void ServePending() const;
    // Context side: waits until the worker has finished, running its calls meanwhile. Returns at
    // once inside one of its calls (the worker waits for that one: it cannot end now), and when
    // `Alive` says the worker's thread does not run (it never started).
    void WaitEnded(const std::function<bool()> &Alive) const;
    bool Finished() const;
    // No call runs from now on; workers that wait are released.
    void Close() const;
    bool Closed() const;

private:
    struct TState;
    std::shared_ptr<TState> m_State;
};
