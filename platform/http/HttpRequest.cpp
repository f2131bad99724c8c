#include "platform/http/HttpRequest.h"

#include "platform/system/TestVariables.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace platform::http {

namespace {

// Body bytes held in memory ahead of the reader; beyond it the connection is paused.
constexpr qsizetype kBufferAhead = 64 * 1024;
// How long one wait for the network lasts before the stop request and the clocks are looked at.
constexpr int kPollMs = 50;

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// "host:port" of the loopback override as curl's connect-to target, or nothing when the
// variable holds anything but a loopback address and a port.
std::optional<QByteArray> overrideTarget()
{
    const QString value = system::testVariable(kServerOverrideVariable).trimmed();
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = value.left(colon);
    bool ok = false;
    const int port = value.mid(colon + 1).toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    const QHostAddress address(bracketed ? host.mid(1, host.size() - 2) : host);
    if (address.isNull() || !address.isLoopback())
        return std::nullopt;
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !bracketed)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return host.toLatin1() + ':' + QByteArray::number(port);
}

// A host name or address as it may stand in an address: letters, digits, dots and hyphens
// (international names in their ASCII form), or an IPv6 address in brackets.
QByteArray checkedHost(const QString &host)
{
    if (host.isEmpty() || host.size() > 253)
        return {};
    static const QRegularExpression ipv6(QStringLiteral("^\\[[0-9A-Fa-f:.]+\\]$"));
    if (ipv6.match(host).hasMatch())
        return QHostAddress(host.mid(1, host.size() - 2)).isNull() ? QByteArray() : host.toLatin1();
    const QByteArray ace = QUrl::toAce(host);
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9_.-]*[A-Za-z0-9])?$"));
    if (ace.isEmpty() || !name.match(QString::fromLatin1(ace)).hasMatch())
        return {};
    return ace;
}

// The path as it goes on the request line: printable ASCII stays, everything else is
// percent-encoded from its UTF-8 bytes.
QByteArray encodedPath(const QString &path)
{
    QByteArray out;
    const QByteArray utf8 = path.toUtf8();
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b > 0x20 && b < 0x7F) {
            out += c;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

bool startsWithNoCase(const QByteArray &line, const char *prefix)
{
    const qsizetype n = qsizetype(std::strlen(prefix));
    return line.size() >= n && qstrnicmp(line.constData(), prefix, n) == 0;
}

} // namespace

bool serverOverrideSet()
{
    return system::testVariableIsSet(kServerOverrideVariable);
}

struct Request::Impl
{
    Limits limits;
    std::function<bool()> stopRequested;

    CURL *easy = nullptr;
    CURLM *multi = nullptr;
    curl_slist *headers = nullptr;
    curl_slist *connectTo = nullptr;
    bool overridden = false;

    QByteArray host;
    QByteArray agent;
    QByteArray url;
    bool post = false;
    bool sessionOpen = false;
    bool connected = false;
    bool requestOpen = false;
    bool added = false;
    bool sent = false;

    // The answer as it arrives.
    bool headersDone = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    bool paused = false;
    bool failed = false;
    qint64 headerBytes = 0;
    int currentStatus = 0;
    bool currentLocation = false;
    bool currentChunked = false;
    std::optional<qint64> currentLength;
    int status = 0;
    std::optional<qint64> length;
    QByteArray buffer;
    qsizetype position = 0;
    qint64 bodyBytes = 0;

    QElapsedTimer started;
    QElapsedTimer lastActivity;
    QString error;

    ~Impl()
    {
        if (added)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectTo);
    }

    bool fail(const QString &why)
    {
        failed = true;
        error = why;
        return false;
    }

    void headerLine(const QByteArray &line)
    {
        if (startsWithNoCase(line, "HTTP/")) {
            // A new answer begins (an interim one, or the next after a redirect).
            const QList<QByteArray> parts = line.simplified().split(' ');
            bool ok = false;
            currentStatus = parts.size() > 1 ? parts.at(1).toInt(&ok) : 0;
            if (!ok)
                currentStatus = 0;
            currentLocation = false;
            currentChunked = false;
            currentLength.reset();
            return;
        }
        if (startsWithNoCase(line, "location:")) {
            currentLocation = true;
        } else if (startsWithNoCase(line, "transfer-encoding:")) {
            currentChunked = line.toLower().contains("chunked");
        } else if (startsWithNoCase(line, "content-length:")) {
            const QByteArray value = line.mid(15).trimmed();
            bool ok = !value.isEmpty();
            for (const char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 n = ok && value.size() <= 18 ? value.toLongLong(&ok) : -1;
            if (ok && n >= 0)
                currentLength = n;
            else
                currentLength.reset();
        } else if (line.trimmed().isEmpty()) {
            const bool interim = currentStatus >= 100 && currentStatus < 200;
            const bool followed = currentLocation &&
                (currentStatus == 301 || currentStatus == 302 || currentStatus == 303 || currentStatus == 307 ||
                 currentStatus == 308);
            if (!interim && !followed && !headersDone) {
                headersDone = true;
                status = currentStatus;
                if (!currentChunked)
                    length = currentLength;
            }
        }
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<Impl *>(user);
        const size_t n = size * count;
        self->headerBytes += qint64(n);
        if (self->headerBytes > self->limits.maxHeaderBytes)
            return 0;
        self->lastActivity.restart();
        self->headerLine(QByteArray(data, qsizetype(n)));
        return n;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<Impl *>(user);
        const size_t n = size * count;
        if (self->bodyBytes + qint64(n) > self->limits.maxBodyBytes)
            return 0;
        if (self->buffer.size() - self->position >= kBufferAhead) {
            self->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (self->position > 0 && self->position == self->buffer.size()) {
            self->buffer.clear();
            self->position = 0;
        }
        self->buffer.append(data, qsizetype(n));
        self->bodyBytes += qint64(n);
        self->headersDone = true;
        self->lastActivity.restart();
        return n;
    }

    // One round of network work; false when the transfer must end (stop, timeout, failure).
    bool pump()
    {
        if (stopRequested && stopRequested())
            return fail(QStringLiteral("stopped"));
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            return fail(QStringLiteral("transfer engine failure"));
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                done = true;
                result = msg->data.result;
                if (result != CURLE_OK)
                    error = QString::fromLatin1(curl_easy_strerror(result));
            }
        }
        if (done)
            return true;
        if (started.elapsed() > limits.totalTimeoutMs)
            return fail(QStringLiteral("the transfer took too long"));
        if (!paused && lastActivity.elapsed() > limits.stallTimeoutMs)
            return fail(QStringLiteral("the server stopped answering"));
        if (curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr) != CURLM_OK)
            return fail(QStringLiteral("transfer engine failure"));
        return true;
    }
};

Request::Request(const Limits &limits, std::function<bool()> stopRequested) : d(std::make_unique<Impl>())
{
    d->limits = limits;
    d->stopRequested = std::move(stopRequested);
}

Request::~Request() = default;

bool Request::openSession(const QString &agent)
{
    if (d->sessionOpen)
        return true;
    initCurlOnce();
    d->easy = curl_easy_init();
    d->multi = curl_multi_init();
    if (!d->easy || !d->multi)
        return d->fail(QStringLiteral("no transfer engine"));
    d->agent = agent.toUtf8();
    d->sessionOpen = true;
    return true;
}

bool Request::connect(const QString &host, const QString &userName, const QString &password)
{
    if (!d->sessionOpen || d->connected)
        return d->fail(QStringLiteral("no session"));
    if (serverOverrideSet()) {
        const std::optional<QByteArray> target = overrideTarget();
        if (!target)
            return d->fail(QStringLiteral("the server override is not a loopback address and port"));
        d->connectTo = curl_slist_append(nullptr, QByteArray("::" + *target).constData());
        if (!d->connectTo)
            return d->fail(QStringLiteral("out of memory"));
        d->overridden = true;
    }
    d->host = checkedHost(host);
    if (d->host.isEmpty())
        return d->fail(QStringLiteral("not a host name"));
    CURL *e = d->easy;
    if (!userName.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, userName.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    }
    d->connected = true;
    return true;
}

bool Request::openRequest(bool post, const QString &path, const QString &referer, bool reload)
{
    if (!d->connected || d->requestOpen)
        return d->fail(QStringLiteral("not connected"));
    if (!path.startsWith(QLatin1Char('/')))
        return d->fail(QStringLiteral("the path does not begin with a slash"));
    d->url = "http://" + d->host + ":80" + encodedPath(path);
    // The address must read back with the same host, so that nothing in the path changes it.
    CURLU *u = curl_url();
    bool valid = u && curl_url_set(u, CURLUPART_URL, d->url.constData(), 0) == CURLUE_OK;
    if (valid) {
        char *parsedHost = nullptr;
        valid = curl_url_get(u, CURLUPART_HOST, &parsedHost, 0) == CURLUE_OK && parsedHost &&
            QByteArray(parsedHost).compare(d->host, Qt::CaseInsensitive) == 0;
        curl_free(parsedHost);
    }
    curl_url_cleanup(u);
    if (!valid)
        return d->fail(QStringLiteral("not a valid address"));

    CURL *e = d->easy;
    d->post = post;
    curl_easy_setopt(e, CURLOPT_URL, d->url.constData());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, d->overridden ? "http" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(d->limits.connectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(d->limits.maxBodyBytes));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, d.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d.get());
    if (!d->agent.isEmpty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, d->agent.constData());
    if (!referer.isEmpty())
        curl_easy_setopt(e, CURLOPT_REFERER, referer.toUtf8().constData());
    if (d->overridden) {
        curl_easy_setopt(e, CURLOPT_CONNECT_TO, d->connectTo);
        curl_easy_setopt(e, CURLOPT_PROXY, "");
        curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    }
    curl_slist *h = nullptr;
    for (const char *line : {"Accept: */*", "Expect:"})
        h = curl_slist_append(h, line);
    if (reload) {
        h = curl_slist_append(h, "Cache-Control: no-cache");
        h = curl_slist_append(h, "Pragma: no-cache");
    }
    if (post)
        h = curl_slist_append(h, "Content-Type: application/x-www-form-urlencoded");
    if (!h)
        return d->fail(QStringLiteral("out of memory"));
    d->headers = h;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, d->headers);
    d->requestOpen = true;
    return true;
}

bool Request::send(const QByteArray &body)
{
    if (!d->requestOpen || d->sent)
        return d->fail(QStringLiteral("no request"));
    CURL *e = d->easy;
    if (d->post) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, body.constData());
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    }
    if (curl_multi_add_handle(d->multi, e) != CURLM_OK)
        return d->fail(QStringLiteral("transfer engine failure"));
    d->added = true;
    d->started.start();
    d->lastActivity.start();
    while (!d->headersDone && !d->done) {
        if (!d->pump())
            return false;
    }
    if (d->done && d->result != CURLE_OK && !d->headersDone)
        return d->fail(d->error);
    if (!d->headersDone)
        return d->fail(QStringLiteral("no answer"));
    d->sent = true;
    return true;
}

std::optional<int> Request::statusCode() const
{
    if (!d->sent || d->status <= 0)
        return std::nullopt;
    return d->status;
}

std::optional<qint64> Request::contentLength() const
{
    return d->sent ? d->length : std::nullopt;
}

qint64 Request::read(char *buffer, qint64 size)
{
    if (!d->sent || size <= 0)
        return -1;
    while (d->buffer.size() - d->position == 0) {
        if (d->failed)
            return -1;
        if (d->done)
            return d->result == CURLE_OK ? 0 : -1;
        if (d->paused) {
            d->paused = false;
            d->lastActivity.restart();
            curl_easy_pause(d->easy, CURLPAUSE_CONT);
            continue;
        }
        if (!d->pump())
            return -1;
    }
    const qint64 n = qMin<qint64>(size, d->buffer.size() - d->position);
    std::memcpy(buffer, d->buffer.constData() + d->position, size_t(n));
    d->position += qsizetype(n);
    if (d->position == d->buffer.size()) {
        d->buffer.clear();
        d->position = 0;
    }
    return n;
}

QString Request::errorText() const
{
    return d->error;
}

} // namespace platform::http
