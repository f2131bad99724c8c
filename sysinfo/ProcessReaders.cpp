#include "sysinfo/ProcessReaders.h"

#include "platform/Logging.h"
#include "sysinfo/Logging.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A read that has run this long counts as one that may never return.
constexpr auto kLong = std::chrono::milliseconds(200);
// How long the pool's end waits for the reads that run.
constexpr auto kEndWait = std::chrono::milliseconds(100);

} // namespace

// Shared by the pool and its readers: a reader that outlives the pool (inside a read that does not
// return) keeps it, and finds it abandoned when the read returns.
struct TProcessReaders::TState
{
    using TKeyValue = std::pair<qint32, quint64>;
    struct TProcess
    {
        std::vector<std::shared_ptr<TJob>> Kept; // in the order asked
        bool Busy = false;                       // one of them runs
        const TJob *Runner = nullptr;            // that one
        bool Gone = false;                       // the process is: what still runs is let go when done
    };
    struct TRun
    {
        quint32 Lane;
        Clock::time_point Since;
    };

    mutable std::mutex Lock;
    std::condition_variable Work;
    mutable std::condition_variable Finished;
    int MaxThreads = 1;
    int PerLane = 1;
    std::deque<std::shared_ptr<TJob>> Queue;
    std::map<TKeyValue, TProcess> Processes;
    std::map<const TJob *, TRun> Running;
    int ThreadCount = 0;
    int Idle = 0;
    bool Abandoned = false;

    static TKeyValue KeyOf(TKey Key) { return {Key.Pid, Key.StartTime}; }

    // Reads of the lane that run, and those of them that have run for long.
    int Runs(quint32 Lane) const
    {
        int n = 0;
        for (const auto &[job, run] : Running)
            n += run.Lane == Lane ? 1 : 0;
        return n;
    }
    int LongRuns(quint32 Lane, Clock::time_point Now) const
    {
        int n = 0;
        for (const auto &[job, run] : Running)
            n += (run.Lane == Lane && Now - run.Since >= kLong) ? 1 : 0;
        return n;
    }

    // A job that has not started and will not start soon: a read of its process, or as many of
    // its lane as may take long, have run for long already.
    bool Held(const TJob &Job, Clock::time_point Now) const
    {
        if (Job.m_Started)
            return false;
        if (LongRuns(Job.m_Lane, Now) >= PerLane)
            return true;
        const auto p = Processes.find(KeyOf(Job.m_Key));
        if (p == Processes.end() || !p->second.Runner)
            return false;
        const auto run = Running.find(p->second.Runner);
        return run != Running.end() && Now - run->second.Since >= kLong;
    }

    // The first queued job that may start now.
    std::deque<std::shared_ptr<TJob>>::iterator Next()
    {
        const Clock::time_point now = Clock::now();
        for (auto it = Queue.begin(); it != Queue.end(); ++it) {
            const auto p = Processes.find(KeyOf((*it)->m_Key));
            if (p != Processes.end() && p->second.Busy)
                continue;
            // A lane leaves readers to the others: all but `PerLane` of them at any time, and no
            // further one once `PerLane` of its reads take long.
            const quint32 lane = (*it)->m_Lane;
            if (Runs(lane) >= qMax(1, MaxThreads - PerLane) || LongRuns(lane, now) >= PerLane)
                continue;
            return it;
        }
        return Queue.end();
    }

    void Reader(const std::shared_ptr<TState> &Self)
    {
        std::unique_lock l(Lock);
        while (!Abandoned) {
            auto it = Next();
            if (it == Queue.end()) {
                ++Idle;
                // A lane held by long reads may let a queued read start without any wake-up.
                if (Queue.empty())
                    Work.wait(l);
                else
                    Work.wait_for(l, kLong);
                --Idle;
                continue;
            }
            std::shared_ptr<TJob> job = *it;
            Queue.erase(it);
            TProcess &process = Processes[KeyOf(job->m_Key)];
            process.Busy = true;
            process.Runner = job.get();
            Running[job.get()] = TRun{job->m_Lane, Clock::now()};
            job->m_Started = true;
            l.unlock();
            try {
                job->Run();
            } catch (...) {
                qCWarning(lcSysinfo) << "process read:" << platform::CurrentExceptionText();
            }
            l.lock();
            job->m_Done.store(true, std::memory_order_release);
            Running.erase(job.get());
            // Those who wait are woken once: a batch when its last read is done.
            bool wake = job->m_Waiters > 0;
            for (const auto &batch : job->m_Batches)
                wake = --batch->m_Left == 0 || wake;
            job->m_Batches.clear();
            if (wake)
                Finished.notify_all();
            if (const auto p = Processes.find(KeyOf(job->m_Key)); p != Processes.end()) {
                p->second.Busy = false;
                p->second.Runner = nullptr;
                if (p->second.Gone) {
                    std::erase(p->second.Kept, job);
                    if (p->second.Kept.empty())
                        Processes.erase(p);
                }
            }
            // What this read held back (a read of the same process) this reader takes next.
        }
        --ThreadCount;
        (void)Self; // kept to here: the state lives while a reader does
    }
};

bool TProcessReaders::TJob::Done() const
{
    return m_Done.load(std::memory_order_acquire);
}

TProcessReaders::TProcessReaders(int Threads, int PerLane) : m_State(std::make_shared<TState>())
{
    m_State->MaxThreads = qMax(1, Threads);
    m_State->PerLane = qMax(1, PerLane);
}

TProcessReaders::~TProcessReaders()
{
    std::unique_lock l(m_State->Lock);
    m_State->Queue.clear();
    // Reads that return at once end with their owner; one that waits on its process is not waited
    // for. Each running one wakes this thread as it ends.
    for (const auto &[job, run] : m_State->Running)
        ++const_cast<TJob *>(job)->m_Waiters;
    m_State->Finished.wait_for(l, kEndWait, [this] { return m_State->Running.empty(); });
    m_State->Abandoned = true;
    m_State->Processes.clear();
    l.unlock();
    m_State->Work.notify_all();
    m_State->Finished.notify_all();
}

void TProcessReaders::Submit(const std::shared_ptr<TJob> &Job, TKey Key, quint32 Lane, int Kind,
                             const QString &Argument, bool Urgent, const std::shared_ptr<TBatch> &Batch)
{
    TState &s = *m_State;
    Job->m_Key = Key;
    Job->m_Lane = Lane;
    Job->m_Kind = Kind;
    Job->m_Argument = Argument;
    {
        std::lock_guard l(s.Lock);
        if (s.Abandoned)
            return;
        s.Processes[TState::KeyOf(Key)].Kept.push_back(Job);
        if (Urgent)
            s.Queue.push_front(Job);
        else
            s.Queue.push_back(Job);
        if (Batch) {
            Job->m_Batches.push_back(Batch);
            ++Batch->m_Left;
            // Set going with the batch.
            if (!Batch->m_Started)
                return;
        }
    }
    WakeReaders(1);
}

void TProcessReaders::WakeReaders(std::size_t Wanted)
{
    TState &s = *m_State;
    int spawn = 0;
    std::size_t wake = 0;
    {
        std::lock_guard l(s.Lock);
        if (s.Abandoned)
            return;
        // Idle readers first; new ones only while the queue holds more than those take.
        const std::size_t idle = std::size_t(s.Idle);
        const std::size_t wanted = std::min(Wanted, s.Queue.size());
        wake = std::min(wanted, idle);
        if (wanted > idle)
            spawn = int(std::min<std::size_t>(wanted - idle, std::size_t(s.MaxThreads - s.ThreadCount)));
        s.ThreadCount += spawn;
    }
    // Detached: a reader inside a read that never returns must not hold up the pool's end.
    for (int i = 0; i < spawn; ++i)
        std::thread([state = m_State] { state->Reader(state); }).detach();
    // Only as many as wanted: the others would only take turns at the lock.
    for (std::size_t i = 0; i < wake; ++i)
        s.Work.notify_one();
}

void TProcessReaders::Join(const std::shared_ptr<TJob> &Job, const std::shared_ptr<TBatch> &Batch)
{
    if (!Batch)
        return;
    std::lock_guard l(m_State->Lock);
    if (Job->m_Done)
        return;
    Job->m_Batches.push_back(Batch);
    ++Batch->m_Left;
}

void TProcessReaders::Start(const std::shared_ptr<TBatch> &Batch)
{
    std::size_t reads = 0;
    {
        std::lock_guard l(m_State->Lock);
        Batch->m_Started = true;
        reads = std::size_t(Batch->m_Left);
    }
    if (reads > 0)
        WakeReaders((reads + kReadsPerReader - 1) / kReadsPerReader);
}

void TProcessReaders::Hurry(const std::shared_ptr<TBatch> &Batch)
{
    std::size_t left = 0;
    {
        std::lock_guard l(m_State->Lock);
        left = std::size_t(std::max(0, Batch->m_Left));
    }
    if (left > 0)
        WakeReaders(left);
}

int TProcessReaders::WaitBatch(const std::shared_ptr<TBatch> &Batch, QDeadlineTimer Deadline) const
{
    std::unique_lock l(m_State->Lock);
    while (Batch->m_Left > 0 && !m_State->Abandoned && !Deadline.hasExpired())
        m_State->Finished.wait_for(l, std::chrono::milliseconds(qMax<qint64>(1, Deadline.remainingTime())));
    return Batch->m_Left;
}

std::shared_ptr<TProcessReaders::TJob> TProcessReaders::Find(TKey Key, int Kind, const QString &Argument) const
{
    std::lock_guard l(m_State->Lock);
    const auto p = m_State->Processes.find(TState::KeyOf(Key));
    if (p == m_State->Processes.end())
        return nullptr;
    const auto &kept = p->second.Kept;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        if ((*it)->m_Kind == Kind && (*it)->m_Argument == Argument)
            return *it;
    }
    return nullptr;
}

void TProcessReaders::Forget(const std::shared_ptr<TJob> &Job)
{
    if (!Job)
        return;
    std::lock_guard l(m_State->Lock);
    const auto p = m_State->Processes.find(TState::KeyOf(Job->m_Key));
    if (p == m_State->Processes.end())
        return;
    // A job that waits or runs stays known, so that it is not asked twice.
    if (!Job->m_Done)
        return;
    std::erase(p->second.Kept, Job);
    if (p->second.Kept.empty() && !p->second.Busy)
        m_State->Processes.erase(p);
}

void TProcessReaders::ForgetProcess(TKey Key)
{
    std::lock_guard l(m_State->Lock);
    const auto p = m_State->Processes.find(TState::KeyOf(Key));
    if (p == m_State->Processes.end())
        return;
    // Its reads that have not started are not worth starting any more.
    std::erase_if(m_State->Queue, [Key](const std::shared_ptr<TJob> &J) { return J->m_Key == Key; });
    std::erase_if(p->second.Kept, [](const std::shared_ptr<TJob> &J) { return J->m_Done || !J->m_Started; });
    p->second.Gone = true;
    if (p->second.Kept.empty() && !p->second.Busy)
        m_State->Processes.erase(p);
}

bool TProcessReaders::Wait(const TJob &Job, QDeadlineTimer Deadline) const
{
    std::unique_lock l(m_State->Lock);
    // Counted while waited for, so that the job's end wakes this thread.
    int &waiters = const_cast<TJob &>(Job).m_Waiters;
    ++waiters;
    while (!Job.m_Done) {
        // Behind a read that waits on its process, or on its user's, there is nothing to wait for.
        if (m_State->Abandoned || Deadline.hasExpired() || m_State->Held(Job, Clock::now()))
            break;
        // Looked at again now and then, as a read may turn long meanwhile.
        m_State->Finished.wait_for(l,
                                   std::chrono::milliseconds(qBound(qint64(1), Deadline.remainingTime(), qint64(10))));
    }
    --waiters;
    return Job.m_Done;
}

int TProcessReaders::Running() const
{
    std::lock_guard l(m_State->Lock);
    return int(m_State->Running.size());
}

int TProcessReaders::Threads() const
{
    std::lock_guard l(m_State->Lock);
    return m_State->ThreadCount;
}
