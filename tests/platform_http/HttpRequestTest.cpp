#include "platform_http/LoopbackServer.h"

#include "platform/http/HttpRequest.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using httptest::LoopbackServer;
using httptest::Recorded;
using platform::http::Limits;
using platform::http::Request;

namespace {

// Every transfer of these tests goes to the test's own server on 127.0.0.1.
class HttpRequestTest : public ::testing::Test
{
protected:
    void TearDown() override { qunsetenv(platform::http::kServerOverrideVariable); }

    void Serve(LoopbackServer::Handler handler)
    {
        server = std::make_unique<LoopbackServer>(std::move(handler));
        ASSERT_NE(server->port(), 0);
        qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    }

    static Limits Short()
    {
        Limits l;
        l.ConnectTimeoutMs = 2000;
        l.StallTimeoutMs = 500;
        l.TotalTimeoutMs = 5000;
        l.MaxBodyBytes = 64 * 1024;
        l.MaxHeaderBytes = 8 * 1024;
        return l;
    }

    // Opens, connects and requests `path` on the loopback address.
    static bool Prepare(Request &r, const QString &path, bool post = false, const QString &agent = QString(),
                        const QString &referer = QString(), bool reload = true)
    {
        return r.OpenSession(agent) && r.Connect(QStringLiteral("127.0.0.1"), QString(), QString()) &&
            r.OpenRequest(post, path, referer, reload);
    }

    static QByteArray ReadAll(Request &r, qint64 &last)
    {
        QByteArray out;
        char buf[512];
        for (;;) {
            last = r.Read(buf, sizeof buf);
            if (last <= 0)
                break;
            out.append(buf, qsizetype(last));
        }
        return out;
    }

    std::unique_ptr<LoopbackServer> server;
};

TEST_F(HttpRequestTest, GetSendsTheRequestAndReadsTheWholeBody)
{
    QByteArray body;
    for (int i = 0; i < 5000; ++i)
        body += char('a' + i % 26);
    Serve([&](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(200, body)); });

    Request r(Short());
    ASSERT_TRUE(Prepare(r, QStringLiteral("/dir/file name.txt"), false, QStringLiteral("Agent/1"),
                        QStringLiteral("http://ref.example/")));
    ASSERT_TRUE(r.Send()) << r.ErrorText().toStdString();
    EXPECT_EQ(r.StatusCode(), 200);
    EXPECT_EQ(r.ContentLength(), body.size());
    qint64 last = 0;
    EXPECT_EQ(ReadAll(r, last), body);
    EXPECT_EQ(last, 0);

    const auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].method, "GET");
    EXPECT_EQ(reqs[0].target, "/dir/file%20name.txt");
    EXPECT_EQ(reqs[0].headers.value("host"), "127.0.0.1");
    EXPECT_EQ(reqs[0].headers.value("accept"), "*/*");
    EXPECT_EQ(reqs[0].headers.value("user-agent"), "Agent/1");
    EXPECT_EQ(reqs[0].headers.value("referer"), "http://ref.example/");
    EXPECT_EQ(reqs[0].headers.value("cache-control"), "no-cache");
    EXPECT_FALSE(reqs[0].headers.contains("content-type"));
}

TEST_F(HttpRequestTest, CachedGetWithoutAgentSendsNeitherHeader)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(200, "x")); });
    Request r(Short());
    ASSERT_TRUE(Prepare(r, QStringLiteral("/"), false, QString(), QString(), false));
    ASSERT_TRUE(r.Send());
    const auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_FALSE(reqs[0].headers.contains("user-agent"));
    EXPECT_FALSE(reqs[0].headers.contains("cache-control"));
}

TEST_F(HttpRequestTest, PostSendsFormTypeAndBody)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(200, "ok")); });
    Request r(Short());
    ASSERT_TRUE(Prepare(r, QStringLiteral("/post"), true));
    ASSERT_TRUE(r.Send(QByteArray("a=1&b=2")));
    const auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].method, "POST");
    EXPECT_EQ(reqs[0].headers.value("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(reqs[0].body, "a=1&b=2");
    EXPECT_FALSE(reqs[0].headers.contains("expect"));
}

TEST_F(HttpRequestTest, StatusLengthAndRedirects)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &req) {
        if (req.target == "/missing")
            c.send(LoopbackServer::response(404, "gone"));
        else if (req.target == "/moved")
            c.send(LoopbackServer::response(302, "", true, "Location: /there\r\n"));
        else if (req.target == "/there")
            c.send(LoopbackServer::response(200, "arrived"));
        else
            c.send(LoopbackServer::response(200, "no length here", false));
    });
    {
        Request r(Short());
        ASSERT_TRUE(Prepare(r, QStringLiteral("/missing")));
        ASSERT_TRUE(r.Send());
        EXPECT_EQ(r.StatusCode(), 404);
    }
    {
        Request r(Short());
        ASSERT_TRUE(Prepare(r, QStringLiteral("/moved")));
        ASSERT_TRUE(r.Send());
        EXPECT_EQ(r.StatusCode(), 200);
        qint64 last = 0;
        EXPECT_EQ(ReadAll(r, last), "arrived");
    }
    {
        Request r(Short());
        ASSERT_TRUE(Prepare(r, QStringLiteral("/plain")));
        ASSERT_TRUE(r.Send());
        EXPECT_FALSE(r.ContentLength().has_value());
        qint64 last = 0;
        EXPECT_EQ(ReadAll(r, last), "no length here");
        EXPECT_EQ(last, 0);
    }
}

TEST_F(HttpRequestTest, RefusesBadHostsPathsAndOverrides)
{
    for (const QString &host : {QString(), QStringLiteral("a b"), QStringLiteral("user@host"),
                                QStringLiteral("host:8080"), QStringLiteral("host/x"), QStringLiteral("-x-")}) {
        Request r;
        ASSERT_TRUE(r.OpenSession(QString()));
        EXPECT_FALSE(r.Connect(host, QString(), QString())) << host.toStdString();
    }
    {
        Request r;
        ASSERT_TRUE(r.OpenSession(QString()) && r.Connect(QStringLiteral("127.0.0.1"), QString(), QString()));
        EXPECT_FALSE(r.OpenRequest(false, QStringLiteral("no-slash"), QString(), true));
    }
    // A server override that is not a loopback address stops every transfer at the connection.
    for (const char *value : {"10.0.0.1:80", "example.org:80", "127.0.0.1", "127.0.0.1:0", "127.0.0.1:99999"}) {
        qputenv(platform::http::kServerOverrideVariable, value);
        Request r;
        ASSERT_TRUE(r.OpenSession(QString()));
        EXPECT_FALSE(r.Connect(QStringLiteral("127.0.0.1"), QString(), QString())) << value;
    }
}

TEST_F(HttpRequestTest, ConnectionRefusedFailsTheSend)
{
    // A port that was just free: nothing listens there.
    quint16 port = 0;
    {
        LoopbackServer probe([](const LoopbackServer::Conn &, const Recorded &) {});
        port = probe.port();
    }
    qputenv(platform::http::kServerOverrideVariable, "127.0.0.1:" + QByteArray::number(port));
    Request r(Short());
    ASSERT_TRUE(Prepare(r, QStringLiteral("/")));
    EXPECT_FALSE(r.Send());
    EXPECT_FALSE(r.StatusCode().has_value());
}

// Hostile answers end in a failure within the limits, never in a hang or unbounded memory.
TEST_F(HttpRequestTest, HostileAnswersFailWithinTheLimits)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &req) {
        if (req.target == "/garbage") {
            c.send("THIS IS NOT HTTP\r\n\r\n");
        } else if (req.target == "/endless-headers") {
            c.send("HTTP/1.1 200 OK\r\n");
            for (int i = 0; i < 100000 && c.send("X-Filler: " + QByteArray(100, 'f') + "\r\n"); ++i) {
            }
        } else if (req.target == "/endless-body") {
            c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            while (c.send(QByteArray(4096, 'z'))) {
            }
        } else if (req.target == "/huge-length") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n");
            c.pause(2000);
        } else if (req.target == "/silent") {
            c.pause(3000);
        } else if (req.target == "/stalls") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
            c.pause(3000);
        } else if (req.target == "/short") {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
        }
    });
    QElapsedTimer t;
    t.start();
    for (const char *path : {"/garbage", "/endless-headers", "/huge-length", "/silent"}) {
        Request r(Short());
        ASSERT_TRUE(Prepare(r, QString::fromLatin1(path)));
        EXPECT_FALSE(r.Send()) << path;
    }
    for (const char *path : {"/endless-body", "/stalls", "/short"}) {
        Request r(Short());
        ASSERT_TRUE(Prepare(r, QString::fromLatin1(path)));
        ASSERT_TRUE(r.Send()) << path;
        qint64 last = 0;
        const QByteArray got = ReadAll(r, last);
        EXPECT_EQ(last, -1) << path;
        EXPECT_LE(got.size(), Short().MaxBodyBytes) << path;
    }
    EXPECT_LT(t.elapsed(), 20000);
}

TEST_F(HttpRequestTest, StopRequestEndsTheWaitPromptly)
{
    Serve([](const LoopbackServer::Conn &c, const Recorded &) { c.pause(5000); });
    std::atomic<bool> stop{false};
    Limits l = Short();
    l.StallTimeoutMs = 10000;
    l.TotalTimeoutMs = 10000;
    Request r(l, [&] { return stop.load(); });
    ASSERT_TRUE(Prepare(r, QStringLiteral("/")));
    std::thread stopper([&] {
        ::usleep(200 * 1000);
        stop = true;
    });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(r.Send());
    EXPECT_LT(t.elapsed(), 3000);
    stopper.join();
}

} // namespace
