#include "common/TempDir.h"
#include "platform_http/LoopbackServer.h"

#include "sysinfo/HttpGet.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

using httptest::LoopbackServer;
using httptest::Recorded;

namespace {

// What the component reported, in order.
struct Events
{
    QList<QPair<qint32, qint32>> progress;
    QStringList order;
    QString fileName;
    qint32 fileSize = -1;
    QString text;
    bool offThread = false;
};

class HttpGetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        get = std::make_unique<THttpGet>();
        get->Limits.ConnectTimeoutMs = 2000;
        get->Limits.StallTimeoutMs = 500;
        get->Limits.TotalTimeoutMs = 5000;
        get->Limits.MaxBodyBytes = 256 * 1024;
        get->OnProcess = [this](QObject *s, qint32 cur, qint32 total) {
            Note(s);
            events.progress.append({cur, total});
        };
        get->OnGetFileCompleted = [this](QObject *s, const QString &f, qint32 n) {
            Note(s);
            events.order << QStringLiteral("file");
            events.fileName = f;
            events.fileSize = n;
        };
        get->OnGetTextCompleted = [this](QObject *s, const QString &t) {
            Note(s);
            events.order << QStringLiteral("text");
            events.text = t;
        };
        get->OnError = [this](QObject *s) {
            Note(s);
            events.order << QStringLiteral("error");
        };
        get->OnStopped = [this](QObject *s) {
            Note(s);
            events.order << QStringLiteral("stopped");
        };
        get->LocalFile = dir.file(QStringLiteral("out.bin"));
    }
    void TearDown() override
    {
        get.reset();
        server.reset();
        qunsetenv(platform::http::kServerOverrideVariable);
    }

    void Note(QObject *Sender)
    {
        EXPECT_EQ(Sender, get.get());
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            events.offThread = true;
    }

    void Serve(LoopbackServer::Handler handler)
    {
        server = std::make_unique<LoopbackServer>(std::move(handler));
        ASSERT_NE(server->port(), 0);
        qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    }

    // Serves events until the transfer has ended and delivered everything.
    bool WaitDone(int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (!get->IsBusy() && (!get->Thread() || get->Thread()->Ended())) {
                QCoreApplication::processEvents();
                return true;
            }
        }
        return false;
    }

    tvtest::TempDir dir;
    std::unique_ptr<LoopbackServer> server;
    std::unique_ptr<THttpGet> get;
    Events events;
};

TEST(HttpGetParse, SplitsHostAndPath)
{
    QString host, path;
    THttpGet::ParseURL(QStringLiteral("HTTP://Example.ORG/a/b.html"), host, path);
    EXPECT_EQ(host, QStringLiteral("Example.ORG"));
    EXPECT_EQ(path, QStringLiteral("/a/b.html"));
    THttpGet::ParseURL(QStringLiteral("http://example.org/a"), host, path);
    EXPECT_EQ(host, QStringLiteral("example.org"));
    EXPECT_EQ(path, QStringLiteral("/a"));
    THttpGet::ParseURL(QStringLiteral("example.org"), host, path);
    EXPECT_EQ(host, QString());
    EXPECT_EQ(path, QStringLiteral("example.org"));
    // Only a leading scheme is dropped: one further on belongs to the path.
    THttpGet::ParseURL(QStringLiteral("www.example.org/go?to=http://other/"), host, path);
    EXPECT_EQ(host, QStringLiteral("www.example.org"));
    EXPECT_EQ(path, QStringLiteral("/go?to=http://other/"));
}

TEST_F(HttpGetTest, FileTransferReportsProgressOnTheOwnThreadAndCompletes)
{
    QByteArray body;
    for (int i = 0; i < 1300; ++i)
        body += char(i % 251);
    Serve([&](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(200, body)); });
    get->URL = QStringLiteral("http://127.0.0.1/files/data.bin");
    ASSERT_TRUE(get->GetFile());
    EXPECT_TRUE(get->IsBusy());
    EXPECT_FALSE(get->GetFile()); // refused while busy
    ASSERT_TRUE(WaitDone());

    EXPECT_FALSE(events.offThread);
    EXPECT_EQ(events.order, QStringList{QStringLiteral("file")});
    EXPECT_EQ(events.fileName, dir.file(QStringLiteral("out.bin")));
    EXPECT_EQ(events.fileSize, body.size());
    ASSERT_FALSE(events.progress.isEmpty());
    EXPECT_EQ(events.progress.front().first, 512);
    EXPECT_EQ(events.progress.back(), qMakePair(qint32(body.size()), qint32(body.size())));
    for (qsizetype i = 1; i < events.progress.size(); ++i)
        EXPECT_GT(events.progress[i].first, events.progress[i - 1].first);
    QFile f(get->LocalFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), body);
    EXPECT_EQ(get->TotalSize, body.size());
    ASSERT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(server->requests()[0].method, "GET");
    EXPECT_EQ(server->requests()[0].target, "/files/data.bin");
}

// Every progress event holds the transfer until the window has run it: the window is told at
// most about ten times a second, of the first piece and always of the last, whatever the body's
// size and whether its length was announced.
TEST_F(HttpGetTest, ProgressIsToldAtMostTenTimesASecondAndAlwaysAtTheEnd)
{
    get->Limits.MaxBodyBytes = qint64{64} * 1024 * 1024;
    get->Limits.TotalTimeoutMs = 120000;
    QByteArray body(int(get->Limits.MaxBodyBytes), '\0');
    for (qsizetype i = 0; i < body.size(); i += 4096)
        body[i] = char(i / 4096);
    Serve([&](const LoopbackServer::Conn &c, const Recorded &r) {
        if (r.target == "/sized")
            c.send(LoopbackServer::response(200, body));
        else if (r.target == "/unsized")
            c.send(LoopbackServer::response(200, body.left(4 * 1024 * 1024), false));
        else
            c.send(LoopbackServer::response(200, body.left(300 * 1024)));
    });
    struct Case
    {
        const char *Url;
        quint8 Mode;
        qint32 Size;
        qint32 Total; // as the events carry it
        const char *Outcome;
    };
    const Case cases[] = {
        {"http://127.0.0.1/sized", 0, qint32(body.size()), qint32(body.size()), "file"},
        // Judged by a length it never announced: an error, told after the progress.
        {"http://127.0.0.1/unsized", 0, 4 * 1024 * 1024, 0, "error"},
        {"http://127.0.0.1/text", 1, 300 * 1024, 300 * 1024, "text"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Url);
        events = Events();
        get->URL = QString::fromLatin1(c.Url);
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(get->Start(c.Mode));
        ASSERT_TRUE(WaitDone(120000));
        const double seconds = double(took.elapsed()) / 1000.0;
        const qsizetype told = events.progress.size();
        std::printf("%s: %.1f MB/s, %lld progress events in %.2f s\n", c.Url, double(c.Size) / 1e6 / seconds,
                    static_cast<long long>(told), seconds);
        EXPECT_EQ(events.order, QStringList{QString::fromLatin1(c.Outcome)});
        ASSERT_FALSE(events.progress.isEmpty());
        EXPECT_LE(double(told), 10.0 * seconds + 2.0);
        EXPECT_EQ(events.progress.back(), qMakePair(c.Size, c.Total));
        for (qsizetype i = 1; i < told; ++i)
            EXPECT_GT(events.progress[i].first, events.progress[i - 1].first);
    }
    QFile f(get->LocalFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.size(), 4 * 1024 * 1024);
}

TEST_F(HttpGetTest, PostOfThreeCharactersSendsSixBytes)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(200, "ok")); });
    get->URL = QStringLiteral("127.0.0.1/form");
    get->PostQuery = QStringLiteral("a=b");
    ASSERT_TRUE(get->GetFile());
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(server->requests().size(), 1u);
    const Recorded r = server->requests()[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.headers.value("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.body, QByteArray("a\0=\0b\0", 6));
    EXPECT_EQ(events.order, QStringList{QStringLiteral("file")});
}

TEST_F(HttpGetTest, NotFoundGivesNoEventAndNoFile)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(404, "nope")); });
    get->URL = QStringLiteral("http://127.0.0.1/missing");
    ASSERT_TRUE(get->GetFile());
    ASSERT_TRUE(WaitDone());
    EXPECT_TRUE(events.order.isEmpty());
    EXPECT_TRUE(events.progress.isEmpty());
    EXPECT_FALSE(QFile::exists(get->LocalFile));
}

TEST_F(HttpGetTest, StopWithNothingRunningFiresNothing)
{
    get->Stop();
    EXPECT_TRUE(events.order.isEmpty());
    EXPECT_FALSE(get->IsBusy());
}

// Each failing answer ends with exactly one error event.
TEST_F(HttpGetTest, FailuresEndWithOneErrorEvent)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &req) {
        if (req.target == "/nolength")
            c.send(LoopbackServer::response(200, "body", false));
        else if (req.target == "/short")
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n" + QByteArray(700, 's'));
        else if (req.target == "/endless") {
            c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            while (c.send(QByteArray(4096, 'e'))) {
            }
        } else
            c.send(LoopbackServer::response(200, "fine"));
    });
    struct Case
    {
        const char *url;
        bool binary;
        QString localFile;
        bool fileExpected;
    };
    const QString good = dir.file(QStringLiteral("case.bin"));
    const QString unwritable = dir.file(QStringLiteral("no/such/dir/file.bin"));
    const Case cases[] = {
        {"http://127.0.0.1/nolength", true, good, false},    // binary data needs a length
        {"http://127.0.0.1/nolength", false, good, true},    // length unknown: judged by the size
        {"http://127.0.0.1/short", false, good, true},       // fewer bytes than announced
        {"http://127.0.0.1/endless", false, good, true},     // no end, beyond the limit
        {"http://127.0.0.1/fine", false, unwritable, false}, // local file cannot be made
        {"nohost", false, good, false},                      // no host at all
    };
    for (const Case &c : cases) {
        QFile::remove(good);
        events = Events();
        get->URL = QString::fromLatin1(c.url);
        get->BinaryData = c.binary;
        get->LocalFile = c.localFile;
        ASSERT_TRUE(get->GetFile()) << c.url;
        ASSERT_TRUE(WaitDone()) << c.url;
        EXPECT_EQ(events.order, QStringList{QStringLiteral("error")}) << c.url;
        EXPECT_EQ(QFile::exists(c.localFile), c.fileExpected) << c.url;
    }
}

TEST_F(HttpGetTest, RefusedConnectionIsAnError)
{
    quint16 port = 0;
    {
        LoopbackServer probe([](const LoopbackServer::Conn &, const Recorded &) {});
        port = probe.port();
    }
    qputenv(platform::http::kServerOverrideVariable, "127.0.0.1:" + QByteArray::number(port));
    get->URL = QStringLiteral("http://127.0.0.1/x");
    ASSERT_TRUE(get->GetFile());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.order, QStringList{QStringLiteral("error")});
}

TEST_F(HttpGetTest, StopEndsARunningTransferWithTheStopEventOnly)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 200 && !c.stopping(); ++i) {
            if (!c.send(QByteArray(100, 'd')))
                break;
            c.pause(20);
        }
    });
    get->Limits.StallTimeoutMs = 5000;
    get->URL = QStringLiteral("http://127.0.0.1/slow");
    ASSERT_TRUE(get->GetFile());
    QDeadlineTimer deadline(5000);
    while (events.progress.isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_FALSE(events.progress.isEmpty());
    QDeadlineTimer stopDeadline(2000);
    get->Stop();
    EXPECT_FALSE(stopDeadline.hasExpired());
    EXPECT_FALSE(get->IsBusy());
    QCoreApplication::processEvents();
    EXPECT_EQ(events.order, QStringList{QStringLiteral("stopped")});
}

TEST_F(HttpGetTest, TextModesCollectTheBody)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &req) {
        if (req.target == "/utf8")
            c.send(LoopbackServer::response(200, QStringLiteral("版本 1.2").toUtf8()));
        else if (req.target == "/utf16")
            c.send(LoopbackServer::response(200, QByteArray("h\0i\0", 4)));
        else
            c.send(LoopbackServer::response(200, ""));
    });
    get->URL = QStringLiteral("http://127.0.0.1/utf8");
    ASSERT_TRUE(get->Start(1));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.order, QStringList{QStringLiteral("text")});
    EXPECT_EQ(events.text, QStringLiteral("版本 1.2"));

    events = Events();
    get->URL = QStringLiteral("http://127.0.0.1/utf16");
    ASSERT_TRUE(get->Start(2));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.text, QStringLiteral("hi"));

    events = Events();
    get->URL = QStringLiteral("http://127.0.0.1/empty");
    ASSERT_TRUE(get->Start(1));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.order, QStringList{QStringLiteral("error")}); // nothing arrived
}

TEST_F(HttpGetTest, NewTransferFromInsideTheCompletionEvent)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &req) {
        c.send(LoopbackServer::response(200, req.target == "/first" ? "one" : "second body"));
    });
    int completions = 0;
    get->OnGetFileCompleted = [&](QObject *, const QString &, qint32 n) {
        ++completions;
        if (completions == 1) {
            EXPECT_EQ(n, 3);
            get->URL = QStringLiteral("http://127.0.0.1/second");
            get->LocalFile = dir.file(QStringLiteral("second.bin"));
            EXPECT_TRUE(get->GetFile());
        }
    };
    get->URL = QStringLiteral("http://127.0.0.1/first");
    ASSERT_TRUE(get->GetFile());
    QDeadlineTimer deadline(10000);
    while (completions < 2 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(completions, 2);
    QFile f(dir.file(QStringLiteral("second.bin")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "second body");
}

TEST_F(HttpGetTest, DestroyingTheComponentMidTransferRunsNoHandler)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 300 && !c.stopping() && c.send(QByteArray(512, 'q')); ++i)
            c.pause(10);
    });
    get->Limits.StallTimeoutMs = 5000;
    get->URL = QStringLiteral("http://127.0.0.1/slow");
    ASSERT_TRUE(get->GetFile());
    QDeadlineTimer deadline(5000);
    while (events.progress.isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const qsizetype seen = events.progress.size();
    bool called = false;
    get->OnProcess = [&](QObject *, qint32, qint32) { called = true; };
    get->OnStopped = [&](QObject *) { called = true; };
    get.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_GT(seen, 0);
}

} // namespace
