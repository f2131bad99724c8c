// The details panel's digest runs on a worker the panel owns: a new fill drops it without waiting,
// and so does the panel's end, whatever it is reading: the worker ends by itself once its read
// returns, touching nothing of the panel's. A pipe stands for a file on a slow path: a read of it
// waits until the test writes.

#include "ui/frmMainDetails.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QStringList Threads()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// A thread that has ended leaves the task list at once.
bool EndsWithin(const QString &Tid, int Ms)
{
    QDeadlineTimer deadline(Ms);
    while (Threads().contains(Tid) && !deadline.hasExpired())
        QThread::msleep(5);
    return !Threads().contains(Tid);
}

} // namespace

TEST(DigestWorker, NeitherARefillNorThePanelsEndWaitsForADigestReadThatKeepsGoing)
{
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    const int readEnd = pipe[0], writeEnd = pipe[1];
    QWidget window;
    auto panel = std::make_unique<TDetailsPanel>(&window, QRect(0, 0, 300, 400));

    // The slow read returns 1.5 s after the writer is let go: it fills the rest of the read.
    std::atomic<bool> letGo{false};
    std::thread writer([&] {
        while (!letGo)
            QThread::msleep(5);
        QThread::msleep(1500);
        const QByteArray rest(64 * 1024 - 16, 'x');
        EXPECT_EQ(::write(writeEnd, rest.constData(), size_t(rest.size())), ssize_t(rest.size()));
    });
    // Ends before the panel, which may wait for that read.
    struct Release
    {
        std::atomic<bool> &LetGo;
        std::thread &Writer;
        ~Release()
        {
            LetGo = true;
            Writer.join();
        }
    } release{letGo, writer};

    const QStringList before = Threads();
    ASSERT_EQ(::write(writeEnd, "0123456789abcdef", 16), 16);
    panel->AddDigestLine(QStringLiteral("MD5 值"), readEnd, false);
    QString worker;
    int unread = -1;
    for (QDeadlineTimer deadline(10000); (worker.isEmpty() || unread != 0) && !deadline.hasExpired();) {
        for (const QString &tid : Threads())
            if (!before.contains(tid))
                worker = tid;
        ::ioctl(readEnd, FIONREAD, &unread);
        QThread::msleep(5);
    }
    ASSERT_FALSE(worker.isEmpty()) << "the digest runs on a thread of its own";
    ASSERT_EQ(unread, 0) << "the digest has begun its read";

    QElapsedTimer refill;
    refill.start();
    panel->AddDigestLine(QStringLiteral("MD5 值"), -1, false);
    EXPECT_LT(refill.elapsed(), 1000) << "a refill does not wait for the dropped digest";
    EXPECT_TRUE(Threads().contains(worker)) << "which still reads";

    letGo = true;
    QElapsedTimer end;
    end.start();
    panel.reset();
    EXPECT_LT(end.elapsed(), 1000) << "the panel's end does not wait for a read that keeps going";
    EXPECT_TRUE(Threads().contains(worker));
    EXPECT_TRUE(EndsWithin(worker, 10000)) << "the digest's thread ends once its read returns";
    ::close(writeEnd);
}
