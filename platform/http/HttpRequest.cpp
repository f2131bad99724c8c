#include "platform/http/HttpRequest.h"

#include "platform/Logging.h"
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
constexpr qsizetype kBufferAhead = qsizetype{64} * 1024;
// How long one wait for the network lasts before the stop request and the clocks are looked at.
constexpr int kPollMs = 50;

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// "host:port" of the loopback override as curl's connect-to target, or nothing when the
// variable holds anything but a loopback address and a port.
std::optional<QByteArray> OverrideTarget()
{
    const QString value = system::TestVariable(kServerOverrideVariable).trimmed();
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
QByteArray CheckedHost(const QString &Host)
{
    if (Host.isEmpty() || Host.size() > 253)
        return {};
    static const QRegularExpression kIpv6(QStringLiteral("^\\[[0-9A-Fa-f:.]+\\]$"));
    if (kIpv6.match(Host).hasMatch())
        return QHostAddress(Host.mid(1, Host.size() - 2)).isNull() ? QByteArray() : Host.toLatin1();
    QByteArray ace = QUrl::toAce(Host);
    static const QRegularExpression kName(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9_.-]*[A-Za-z0-9])?$"));
    if (ace.isEmpty() || !kName.match(QString::fromLatin1(ace)).hasMatch())
        return {};
    return ace;
}

// The path as it goes on the request line: printable ASCII stays, everything else is
// percent-encoded from its UTF-8 bytes.
QByteArray EncodedPath(const QString &Path)
{
    QByteArray out;
    const QByteArray utf8 = Path.toUtf8();
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b > 0x20 && b < 0x7F) {
            out += c;
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

bool StartsWithNoCase(const QByteArray &Line, const char *Prefix)
{
    const qsizetype n = qsizetype(std::strlen(Prefix));
    return Line.size() >= n && qstrnicmp(Line.constData(), Prefix, n) == 0;
}

} // namespace

bool ServerOverrideSet()
{
    return system::TestVariableIsSet(kServerOverrideVariable);
}

struct Request::Impl
{
    http::Limits Limits;
    std::function<bool()> StopRequested;

    CURL *Easy = nullptr;
    CURLM *Multi = nullptr;
    curl_slist *Headers = nullptr;
    curl_slist *ConnectTo = nullptr;
    bool Overridden = false;

    QByteArray Host;
    QByteArray Agent;
    QByteArray Url;
    bool Post = false;
    bool SessionOpen = false;
    bool Connected = false;
    bool RequestOpen = false;
    bool Added = false;
    bool Sent = false;

    // The answer as it arrives.
    bool HeadersDone = false;
    bool Done = false;
    CURLcode Result = CURLE_OK;
    bool Paused = false;
    bool Failed = false;
    qint64 HeaderBytes = 0;
    int CurrentStatus = 0;
    bool CurrentLocation = false;
    bool CurrentChunked = false;
    std::optional<qint64> CurrentLength;
    int Status = 0;
    std::optional<qint64> Length;
    QByteArray Buffer;
    qsizetype Position = 0;
    qint64 BodyBytes = 0;

    QElapsedTimer Started;
    QElapsedTimer LastActivity;
    QString Error;

    ~Impl()
    {
        if (Added)
            curl_multi_remove_handle(Multi, Easy);
        if (Easy)
            curl_easy_cleanup(Easy);
        if (Multi)
            curl_multi_cleanup(Multi);
        curl_slist_free_all(Headers);
        curl_slist_free_all(ConnectTo);
    }

    bool Fail(const QString &Why)
    {
        Failed = true;
        Error = Why;
        qCWarning(lcPlatform) << "HTTP request failed:" << Why;
        return false;
    }

    void HeaderLine(const QByteArray &Line)
    {
        if (StartsWithNoCase(Line, "HTTP/")) {
            // A new answer begins (an interim one, or the next after a redirect).
            const QList<QByteArray> parts = Line.simplified().split(' ');
            bool ok = false;
            CurrentStatus = parts.size() > 1 ? parts.at(1).toInt(&ok) : 0;
            if (!ok)
                CurrentStatus = 0;
            CurrentLocation = false;
            CurrentChunked = false;
            CurrentLength.reset();
            return;
        }
        if (StartsWithNoCase(Line, "location:")) {
            CurrentLocation = true;
        } else if (StartsWithNoCase(Line, "transfer-encoding:")) {
            CurrentChunked = Line.toLower().contains("chunked");
        } else if (StartsWithNoCase(Line, "content-length:")) {
            const QByteArray value = Line.mid(15).trimmed();
            bool ok = !value.isEmpty();
            for (const char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 n = ok && value.size() <= 18 ? value.toLongLong(&ok) : -1;
            if (ok && n >= 0)
                CurrentLength = n;
            else
                CurrentLength.reset();
        } else if (Line.trimmed().isEmpty()) {
            const bool interim = CurrentStatus >= 100 && CurrentStatus < 200;
            const bool followed = CurrentLocation &&
                (CurrentStatus == 301 || CurrentStatus == 302 || CurrentStatus == 303 || CurrentStatus == 307 ||
                 CurrentStatus == 308);
            if (!interim && !followed && !HeadersDone) {
                HeadersDone = true;
                Status = CurrentStatus;
                if (!CurrentChunked)
                    Length = CurrentLength;
            }
        }
    }

    static size_t OnHeader(char *Data, size_t Size, size_t Count, void *User)
    {
        auto *self = static_cast<Impl *>(User);
        const size_t n = Size * Count;
        self->HeaderBytes += qint64(n);
        if (self->HeaderBytes > self->Limits.MaxHeaderBytes)
            return 0;
        self->LastActivity.restart();
        self->HeaderLine(QByteArray(Data, qsizetype(n)));
        return n;
    }

    static size_t OnBody(char *Data, size_t Size, size_t Count, void *User)
    {
        auto *self = static_cast<Impl *>(User);
        const size_t n = Size * Count;
        if (self->BodyBytes + qint64(n) > self->Limits.MaxBodyBytes)
            return 0;
        if (self->Buffer.size() - self->Position >= kBufferAhead) {
            self->Paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (self->Position > 0 && self->Position == self->Buffer.size()) {
            self->Buffer.clear();
            self->Position = 0;
        }
        self->Buffer.append(Data, qsizetype(n));
        self->BodyBytes += qint64(n);
        self->HeadersDone = true;
        self->LastActivity.restart();
        return n;
    }

    // One round of network work; false when the transfer must end (stop, timeout, failure).
    bool Pump()
    {
        if (StopRequested && StopRequested())
            return Fail(QStringLiteral("stopped"));
        const qint64 seenBefore = HeaderBytes + BodyBytes;
        int running = 0;
        if (curl_multi_perform(Multi, &running) != CURLM_OK)
            return Fail(QStringLiteral("transfer engine failure"));
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(Multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                Done = true;
                Result = msg->data.result;
                if (Result != CURLE_OK) {
                    Error = QString::fromLatin1(curl_easy_strerror(Result));
                    qCWarning(lcPlatform) << "HTTP transfer failed:" << Error;
                }
            }
        }
        if (Done)
            return true;
        if (Started.elapsed() > Limits.TotalTimeoutMs)
            return Fail(QStringLiteral("the transfer took too long"));
        if (!Paused && LastActivity.elapsed() > Limits.StallTimeoutMs)
            return Fail(QStringLiteral("the server stopped answering"));
        // What arrived is taken first: a transfer that paused itself for the reader to make room
        // has nothing to wait for, and a wait here would hold every buffer-full for a whole poll.
        if (HeaderBytes + BodyBytes != seenBefore)
            return true;
        if (curl_multi_poll(Multi, nullptr, 0, kPollMs, nullptr) != CURLM_OK)
            return Fail(QStringLiteral("transfer engine failure"));
        return true;
    }
};

Request::Request(const Limits &Limits, std::function<bool()> StopRequested) : m_D(std::make_unique<Impl>())
{
    m_D->Limits = Limits;
    m_D->StopRequested = std::move(StopRequested);
}

Request::~Request() = default;

bool Request::OpenSession(const QString &Agent)
{
    if (m_D->SessionOpen)
        return true;
    InitCurlOnce();
    m_D->Easy = curl_easy_init();
    m_D->Multi = curl_multi_init();
    if (!m_D->Easy || !m_D->Multi)
        return m_D->Fail(QStringLiteral("no transfer engine"));
    // A stopped transfer leaves a name look-up that still waits (for a name server that does not
    // answer) to end on its own, instead of waiting for it when the request goes.
    if (curl_easy_setopt(m_D->Easy, CURLOPT_QUICK_EXIT, 1L) != CURLE_OK)
        qCWarning(lcPlatform) << "HTTP: this transfer library waits for name look-ups when a transfer stops";
    m_D->Agent = Agent.toUtf8();
    m_D->SessionOpen = true;
    return true;
}

bool Request::Connect(const QString &Host, const QString &UserName, const QString &Password)
{
    if (!m_D->SessionOpen || m_D->Connected)
        return m_D->Fail(QStringLiteral("no session"));
    if (ServerOverrideSet()) {
        const std::optional<QByteArray> target = OverrideTarget();
        if (!target)
            return m_D->Fail(QStringLiteral("the server override is not a loopback address and port"));
        m_D->ConnectTo = curl_slist_append(nullptr, QByteArray("::" + *target).constData());
        if (!m_D->ConnectTo)
            return m_D->Fail(QStringLiteral("out of memory"));
        m_D->Overridden = true;
    }
    m_D->Host = CheckedHost(Host);
    if (m_D->Host.isEmpty())
        return m_D->Fail(QStringLiteral("not a host name"));
    CURL *e = m_D->Easy;
    if (!UserName.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, UserName.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, Password.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    }
    m_D->Connected = true;
    return true;
}

bool Request::OpenRequest(bool Post, const QString &Path, const QString &Referer, bool Reload)
{
    if (!m_D->Connected || m_D->RequestOpen)
        return m_D->Fail(QStringLiteral("not connected"));
    if (!Path.startsWith(QLatin1Char('/')))
        return m_D->Fail(QStringLiteral("the path does not begin with a slash"));
    m_D->Url = "http://" + m_D->Host + ":80" + EncodedPath(Path);
    // The address must read back with the same host, so that nothing in the path changes it.
    CURLU *u = curl_url();
    bool valid = u && curl_url_set(u, CURLUPART_URL, m_D->Url.constData(), 0) == CURLUE_OK;
    if (valid) {
        char *parsedHost = nullptr;
        valid = curl_url_get(u, CURLUPART_HOST, &parsedHost, 0) == CURLUE_OK && parsedHost &&
            QByteArray(parsedHost).compare(m_D->Host, Qt::CaseInsensitive) == 0;
        curl_free(parsedHost);
    }
    curl_url_cleanup(u);
    if (!valid)
        return m_D->Fail(QStringLiteral("not a valid address"));

    CURL *e = m_D->Easy;
    m_D->Post = Post;
    curl_easy_setopt(e, CURLOPT_URL, m_D->Url.constData());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, m_D->Overridden ? "http" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(m_D->Limits.ConnectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_D->Limits.MaxBodyBytes));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, m_D.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, m_D.get());
    if (!m_D->Agent.isEmpty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, m_D->Agent.constData());
    if (!Referer.isEmpty())
        curl_easy_setopt(e, CURLOPT_REFERER, Referer.toUtf8().constData());
    if (m_D->Overridden) {
        curl_easy_setopt(e, CURLOPT_CONNECT_TO, m_D->ConnectTo);
        curl_easy_setopt(e, CURLOPT_PROXY, "");
        curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    }
    curl_slist *h = nullptr;
    for (const char *line : {"Accept: */*", "Expect:"})
        h = curl_slist_append(h, line);
    if (Reload) {
        h = curl_slist_append(h, "Cache-Control: no-cache");
        h = curl_slist_append(h, "Pragma: no-cache");
    }
    if (Post)
        h = curl_slist_append(h, "Content-Type: application/x-www-form-urlencoded");
    if (!h)
        return m_D->Fail(QStringLiteral("out of memory"));
    m_D->Headers = h;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_D->Headers);
    m_D->RequestOpen = true;
    return true;
}

bool Request::Send(const QByteArray &Body)
{
    if (!m_D->RequestOpen || m_D->Sent)
        return m_D->Fail(QStringLiteral("no request"));
    CURL *e = m_D->Easy;
    if (m_D->Post) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(Body.size()));
        curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, Body.constData());
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    }
    if (curl_multi_add_handle(m_D->Multi, e) != CURLM_OK)
        return m_D->Fail(QStringLiteral("transfer engine failure"));
    m_D->Added = true;
    m_D->Started.start();
    m_D->LastActivity.start();
    while (!m_D->HeadersDone && !m_D->Done) {
        if (!m_D->Pump())
            return false;
    }
    if (m_D->Done && m_D->Result != CURLE_OK && !m_D->HeadersDone)
        return m_D->Fail(m_D->Error);
    if (!m_D->HeadersDone)
        return m_D->Fail(QStringLiteral("no answer"));
    m_D->Sent = true;
    return true;
}

std::optional<int> Request::StatusCode() const
{
    if (!m_D->Sent || m_D->Status <= 0)
        return std::nullopt;
    return m_D->Status;
}

std::optional<qint64> Request::ContentLength() const
{
    return m_D->Sent ? m_D->Length : std::nullopt;
}

qint64 Request::Read(char *Buffer, qint64 Size)
{
    if (!m_D->Sent || Size <= 0)
        return -1;
    while (m_D->Buffer.size() - m_D->Position == 0) {
        if (m_D->Failed)
            return -1;
        if (m_D->Done)
            return m_D->Result == CURLE_OK ? 0 : -1;
        if (m_D->Paused) {
            m_D->Paused = false;
            m_D->LastActivity.restart();
            curl_easy_pause(m_D->Easy, CURLPAUSE_CONT);
            continue;
        }
        if (!m_D->Pump())
            return -1;
    }
    const qint64 n = qMin<qint64>(Size, m_D->Buffer.size() - m_D->Position);
    std::memcpy(Buffer, m_D->Buffer.constData() + m_D->Position, size_t(n));
    m_D->Position += qsizetype(n);
    if (m_D->Position == m_D->Buffer.size()) {
        m_D->Buffer.clear();
        m_D->Position = 0;
    }
    return n;
}

QString Request::ErrorText() const
{
    return m_D->Error;
}

} // namespace platform::http
