#pragma once

// A scripted HTTP server on 127.0.0.1 for the transfer tests: it accepts one connection at a
// time on its own thread, records each request and lets the test's handler answer it.

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace httptest {

struct Recorded
{
    QByteArray method;
    QByteArray target;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

class LoopbackServer
{
public:
    // Writes to the connection; false once the peer is gone.
    class Conn
    {
    public:
        Conn(int fd, const std::atomic<bool> &stopping) : m_fd(fd), m_stopping(stopping) {}
        bool send(const QByteArray &data) const
        {
            qsizetype done = 0;
            while (done < data.size()) {
                const ssize_t n = ::send(m_fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                done += n;
            }
            return true;
        }
        bool stopping() const { return m_stopping; }
        // Waits, but not past the server's end or the client's leaving.
        void pause(int ms) const
        {
            QElapsedTimer t;
            t.start();
            while (!m_stopping && t.elapsed() < ms) {
                pollfd p{m_fd, POLLRDHUP, 0};
                if (::poll(&p, 1, 5) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                    return;
            }
        }

    private:
        int m_fd;
        const std::atomic<bool> &m_stopping;
    };
    using Handler = std::function<void(const Conn &, const Recorded &)>;

    explicit LoopbackServer(Handler handler) : m_handler(std::move(handler))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(m_listen, 8) != 0)
            return;
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { loop(); });
    }
    ~LoopbackServer()
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }

    quint16 port() const { return m_port; }
    QByteArray connectTo() const { return "127.0.0.1:" + QByteArray::number(m_port); }
    std::vector<Recorded> requests() const
    {
        std::lock_guard l(m_lock);
        return m_requests;
    }
    int connections() const { return m_connections; }

    // A whole answer with a status, headers and body.
    static QByteArray response(int status, const QByteArray &body, bool withLength = true,
                               const QByteArray &extraHeaders = QByteArray())
    {
        QByteArray r = "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Other") + "\r\n";
        if (withLength)
            r += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        r += extraHeaders;
        r += "Connection: close\r\n\r\n";
        return r + body;
    }

private:
    void loop()
    {
        while (!m_stopping) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            Recorded req;
            if (readRequest(fd, req)) {
                {
                    std::lock_guard l(m_lock);
                    m_requests.push_back(req);
                }
                m_handler(Conn(fd, m_stopping), req);
            }
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        }
    }

    bool readRequest(int fd, Recorded &req)
    {
        QByteArray data;
        QElapsedTimer t;
        t.start();
        qsizetype headerEnd = -1;
        qint64 bodyLength = 0;
        while (!m_stopping && t.elapsed() < 5000) {
            if (headerEnd >= 0 && data.size() >= headerEnd + 4 + bodyLength)
                break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            data.append(buf, n);
            if (headerEnd < 0 && (headerEnd = data.indexOf("\r\n\r\n")) >= 0) {
                const QList<QByteArray> lines = data.left(headerEnd).split('\n');
                const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
                req.method = first.value(0);
                req.target = first.value(1);
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const qsizetype c = lines[i].indexOf(':');
                    if (c > 0)
                        req.headers.insert(lines[i].left(c).trimmed().toLower(), lines[i].mid(c + 1).trimmed());
                }
                bodyLength = req.headers.value("content-length").toLongLong();
            }
        }
        if (headerEnd < 0)
            return false;
        req.body = data.mid(headerEnd + 4, bodyLength);
        return true;
    }

    Handler m_handler;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_lock;
    std::vector<Recorded> m_requests;
};

} // namespace httptest
