#pragma once

#include <QDeadlineTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The reads of a process that may wait on it or on its user: its command line and memory map
// (they take the process's memory-map lock, which the process itself may hold for as long as a
// file system of its user keeps it waiting), whatever goes through its program file, and account
// names (the name service may not answer). They run here, on a few threads of their own, never on
// the window's thread nor on the list's worker, so that such a read holds up nothing but itself.
//
// The reads of one process run one at a time, in the order asked; a read asked again while the
// same one waits or runs is not asked twice. At most `Threads` reads run at once. A lane (the user
// that runs the process; the name service has a lane of its own) takes at most all but `PerLane`
// of the readers, and no further one while `PerLane` of its reads have run for long, so that one
// user's stuck reads leave the others' readers free. When every reader is stuck, what is asked
// waits in the queue: nothing more is started until a read returns.
class TProcessReaders
{
public:
    // The process a read is of: its identifier and start time.
    struct TKey
    {
        qint32 Pid = 0;
        quint64 StartTime = 0;
        bool operator==(const TKey &) const = default;
    };

    // Reads asked together and waited for together (a pass's).
    class TBatch
    {
    public:
        TBatch() = default;
        TBatch(const TBatch &) = delete;
        TBatch &operator=(const TBatch &) = delete;

    private:
        friend class TProcessReaders;
        int m_Left = 0; // under the pool's lock
        bool m_Started = false;
    };

    // One read, handed to a reader; it has an answer once `Done`.
    class TJob
    {
    public:
        virtual ~TJob() = default;
        TJob(const TJob &) = delete;
        TJob &operator=(const TJob &) = delete;
        // The read has run (its answer may still be "nothing").
        bool Done() const;

    protected:
        TJob() = default;

    private:
        friend class TProcessReaders;
        virtual void Run() = 0;

        TKey m_Key;
        quint32 m_Lane = 0;
        int m_Kind = 0;
        QString m_Argument;
        std::atomic<bool> m_Done{false};                // set under the pool's lock
        bool m_Started = false;                         // under the pool's lock
        int m_Waiters = 0;                              // under the pool's lock: some wait for this one alone
        std::vector<std::shared_ptr<TBatch>> m_Batches; // under the pool's lock
    };

    template <typename T>
    class TAnswer : public TJob
    {
    public:
        explicit TAnswer(std::function<std::optional<T>()> Read) : m_Read(std::move(Read)) {}
        // Valid once the job is done: the answer, nothing when the read failed.
        const std::optional<T> &Value() const { return m_Value; }

    private:
        void Run() override
        {
            m_Value = m_Read();
            m_Read = nullptr;
        }

        std::function<std::optional<T>()> m_Read;
        std::optional<T> m_Value;
    };

    // The lane of the name service's look-ups.
    static constexpr quint32 kNameServiceLane = 0xFFFFFFFFu;
    // The readers at most, and those a lane leaves to the others.
    static constexpr int kThreads = 8;
    static constexpr int kPerLane = 2;
    static constexpr std::size_t kReadsPerReader = 64;

    explicit TProcessReaders(int Threads = kThreads, int PerLane = kPerLane);
    // Drops what is queued, waits a short while for the reads that run, and lets go of the
    // readers still inside one: such a reader ends when its read returns.
    ~TProcessReaders();
    TProcessReaders(const TProcessReaders &) = delete;
    TProcessReaders &operator=(const TProcessReaders &) = delete;

    // Which read asked before may stand for a new one: the read of the same kind and argument
    // asked last for that process, while it waits or runs, or also once done while its answer has
    // not been let go (`Forget`).
    enum class TReuse { Never, WhileOnItsWay, UntilForgotten };

    // Asks for a read of the process `Key` in `Lane`, unless one asked before stands for it.
    // `Urgent` reads (the user waits for them) go before the others. A read of a `Batch` waits
    // for the batch's `Start`.
    template <typename T>
    std::shared_ptr<TAnswer<T>> Ask(TKey Key, quint32 Lane, int Kind, const QString &Argument,
                                    std::function<std::optional<T>()> Read, TReuse Reuse, bool Urgent = false,
                                    const std::shared_ptr<TBatch> &Batch = nullptr)
    {
        if (Reuse != TReuse::Never) {
            auto known = std::dynamic_pointer_cast<TAnswer<T>>(Find(Key, Kind, Argument));
            if (known && (Reuse == TReuse::UntilForgotten || !known->Done())) {
                Join(known, Batch);
                return known;
            }
        }
        auto job = std::make_shared<TAnswer<T>>(std::move(Read));
        Submit(job, Key, Lane, Kind, Argument, Urgent, Batch);
        return job;
    }
    // The read of that kind and argument asked last for the process, if it is still kept.
    std::shared_ptr<TJob> Find(TKey Key, int Kind, const QString &Argument) const;
    // Lets go of the kept answer of a read: the next `Ask` for it reads again.
    void Forget(const std::shared_ptr<TJob> &Job);
    // Lets go of everything kept for a process that is gone.
    void ForgetProcess(TKey Key);

    // Sets the batch's reads going: one reader is woken for each `kReadsPerReader` of them (a
    // reader gets through dozens of quick reads in the time more readers would spend taking turns
    // at the queue).
    void Start(const std::shared_ptr<TBatch> &Batch);
    // Wakes readers for every read of the batch still queued: for a batch whose reads have stopped
    // coming in, as when one that waits on its process holds the reader that took it.
    void Hurry(const std::shared_ptr<TBatch> &Batch);
    // Waits until every read of the batch is done or the deadline passes; those not done yet.
    int WaitBatch(const std::shared_ptr<TBatch> &Batch, QDeadlineTimer Deadline) const;
    // Waits until `Job` is done or the deadline passes; true when it is done. Gives up at once on a
    // job that waits behind a read of its process, or of its lane, that has run for long.
    bool Wait(const TJob &Job, QDeadlineTimer Deadline) const;

    // Reads that are running now (on a reader, perhaps stuck), and reader threads alive.
    int Running() const;
    int Threads() const;

private:
    struct TState;

    void Submit(const std::shared_ptr<TJob> &Job, TKey Key, quint32 Lane, int Kind, const QString &Argument,
                bool Urgent, const std::shared_ptr<TBatch> &Batch);
    // A batch waits for a job asked before as well.
    void Join(const std::shared_ptr<TJob> &Job, const std::shared_ptr<TBatch> &Batch);
    // Wakes, or starts, readers for up to `Wanted` queued reads.
    void WakeReaders(std::size_t Wanted);

    std::shared_ptr<TState> m_State;
};
