#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform::http {

// Bounds of one transfer, so that a slow, endless or oversized answer ends it instead of
// holding the worker or the memory forever.
struct Limits
{
    int ConnectTimeoutMs = 15000;
    // No byte received for this long while waiting for one ends the transfer.
    int StallTimeoutMs = 30000;
    // The whole exchange, headers and body.
    int TotalTimeoutMs = 10 * 60 * 1000;
    // Largest body accepted (and largest content length believed).
    qint64 MaxBodyBytes = qint64{64} * 1024 * 1024;
    // Largest header block of one answer.
    qint64 MaxHeaderBytes = qint64{256} * 1024;
};

// The environment variable that points every transfer at a loopback server ("127.0.0.1:8080",
// "[::1]:8080"), read only in builds for tests. Only tests set it; a value that is not a loopback address and port
// stops every transfer at the connection step, so a mistake can never reach another host.
inline constexpr char kServerOverrideVariable[] = "TASKVANE_HTTP_CONNECT_TO";
// True when the variable above is set (valid or not).
bool ServerOverrideSet();

// One HTTP exchange, driven step by step from the thread that owns it: a session (agent),
// a connection (host, port 80, credentials), a request (verb, path, referrer, cache), sending
// it and waiting for the final answer's headers, then reading the body in pieces. Each step
// reports failure by its result. Not for use from several threads at once.
class Request
{
public:
    // `StopRequested` is polled while the request waits for the network; when it answers true
    // the waiting step gives up and fails.
    explicit Request(const http::Limits &Limits = http::Limits(), std::function<bool()> StopRequested = {});
    ~Request();
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    // The session; an empty agent sends no user-agent header.
    bool OpenSession(const QString &Agent);
    // The server: a host name or address without port (the port is always 80). Credentials
    // are offered to the server when the user name is not empty.
    bool Connect(const QString &Host, const QString &UserName, const QString &Password);
    // The request: GET, or POST when `Post`; the path begins with "/". `Reload` asks every
    // cache on the way for a fresh copy.
    bool OpenRequest(bool Post, const QString &Path, const QString &Referer, bool Reload);
    // Sends the request (with "Content-Type: application/x-www-form-urlencoded" and `Body`
    // for a POST) and waits until the final answer's headers have arrived.
    bool Send(const QByteArray &Body = QByteArray());

    // The status code of the answer; none before `Send` succeeded.
    std::optional<int> StatusCode() const;
    // The content length the answer announced; none when it announced none.
    std::optional<qint64> ContentLength() const;
    // Reads up to `Size` bytes of the body: the count read, 0 at its end, -1 on failure (a
    // broken or timed-out connection, a body beyond the limit, a stop).
    qint64 Read(char *Buffer, qint64 Size);

    // Why the last step failed, for diagnostics.
    QString ErrorText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_D;
};

} // namespace platform::http
