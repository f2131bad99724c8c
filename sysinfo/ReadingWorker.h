#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

// Reads beside the thread of a context object (the window's), one reading at a time: a worker
// thread runs the reading, and the call it gives back runs later on the context's thread. The
// worker never waits for that thread, and that thread waits for a worker only as long as it
// says: a reading may hang in the system (a file system whose server is gone), and neither the
// window nor its end may hang with it. Once closed, no call runs any more; a reading still under
// way is left to end by itself, with everything it uses kept alive by its own closure, and the
// application's end waits a moment for such readings before the program's statics go.
class TReadingWorker
{
public:
    using TApply = std::function<void()>;
    // What the worker runs; what it gives back runs on the context's thread. Whatever it reaches
    // must be its own (captured by value or shared): it may outlive the worker's owner.
    using TRead = std::function<TApply()>;

    // Made on the context's thread.
    explicit TReadingWorker(QObject *Context);
    // Closes, and waits a short while for a reading under way, which is then left behind.
    ~TReadingWorker();
    TReadingWorker(const TReadingWorker &) = delete;
    TReadingWorker &operator=(const TReadingWorker &) = delete;

    // Starts Read on a worker; false, with nothing started, while a reading runs or once closed.
    bool Start(TRead Read);
    // A reading has started whose call has not run yet.
    bool Running() const;
    // Runs the call of the reading under way now, when it is ready within Timeout; true then.
    // Only on the context's thread.
    bool Await(std::chrono::milliseconds Timeout);
    // No call runs from now on.
    void Close();

private:
    struct TState;
    std::shared_ptr<TState> m_State;
};
