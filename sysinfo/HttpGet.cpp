#include "sysinfo/HttpGet.h"

#include "platform/Logging.h"
#include "sysinfo/Logging.h"
#include "platform/files/FileHandle.h"
#include "platform/files/OwnFolder.h"

#include <QElapsedTimer>
#include <QFile>

#include <limits>
#include <optional>

namespace {

constexpr qint64 kReadSize = 512;
// Each progress event holds the worker until the window's thread has run it: the window hears of
// the transfer at most this often (and of its first and last piece always), so that the transfer
// runs at the network's pace and not at the window's.
constexpr qint64 kProgressIntervalMs = 100;

} // namespace

// ---- TWorkThread ---------------------------------------------------------------------------

TWorkThread::TWorkThread(THttpGet *AOwner, const TJob &AJob) : Owner(AOwner), m_Job(AJob), m_HandOff(this) {}

TWorkThread::~TWorkThread()
{
    Stopping = true;
    WaitEnded();
    m_HandOff.Close();
}

bool TWorkThread::Ended()
{
    return m_HandOff.Finished();
}

void TWorkThread::run()
{
    Execute();
    m_HandOff.Finish();
}

void TWorkThread::Synchronize(const std::function<void()> &Call)
{
    m_HandOff.Synchronize(Call);
}

void TWorkThread::ServePending()
{
    m_HandOff.ServePending();
}

void TWorkThread::WaitEnded()
{
    m_HandOff.WaitEnded([this] { return isRunning(); });
    if (Ended())
        wait();
}

void TWorkThread::StopThread()
{
    if (!Running)
        return;
    Stopping = true;
    WaitEnded();
}

void TWorkThread::DoProcess()
{
    Synchronize([this] {
        if (!Owner->m_Destroying && Owner->OnProcess)
            Owner->OnProcess(Owner, TotalRead, Owner->TotalSize);
    });
}

void TWorkThread::DoError()
{
    Synchronize([this] {
        if (!Owner->m_Destroying && Owner->OnError)
            Owner->OnError(Owner);
    });
}

void TWorkThread::DoCompleted()
{
    Synchronize([this] {
        if (Owner->m_Destroying)
            return;
        if (Succeeded) {
            if (m_Job.Mode == 0) {
                if (Owner->OnGetFileCompleted)
                    Owner->OnGetFileCompleted(Owner, m_Job.LocalFile, Owner->TotalSize);
            } else if (Owner->OnGetTextCompleted) {
                Owner->OnGetTextCompleted(Owner, Owner->Text);
            }
        } else if (Owner->OnError) {
            Owner->OnError(Owner);
        }
    });
}

// The body is the text's UTF-16 code units, as the form data has always been sent.
QByteArray TWorkThread::PostBody() const
{
    QByteArray body;
    body.resize(m_Job.PostQuery.size() * 2);
    for (qsizetype i = 0; i < m_Job.PostQuery.size(); ++i) {
        const char16_t u = m_Job.PostQuery.at(i).unicode();
        body[2 * i] = char(u & 0xFF);
        body[2 * i + 1] = char(u >> 8);
    }
    return body;
}

TWorkThread::TOutcome TWorkThread::FailUnlessStopping() const
{
    // A stop makes the failure its own doing: nothing more is told.
    return Stopping ? TOutcome::Ended : TOutcome::Failed;
}

TWorkThread::TOutcome TWorkThread::Connect(platform::http::Request &Request, const QString &Host, const QString &Path)
{
    if (!Request.OpenSession(m_Job.Agent) || !Request.Connect(Host, m_Job.UserName, m_Job.Password) ||
        !Request.OpenRequest(!m_Job.PostQuery.isEmpty(), Path, m_Job.Referer, !m_Job.UseCache))
        return TOutcome::Failed;
    return TOutcome::Next;
}

TWorkThread::TOutcome TWorkThread::Send(platform::http::Request &Request, qint32 &TotalSizeOut)
{
    if (!Request.Send(m_Job.PostQuery.isEmpty() ? QByteArray() : PostBody()))
        return FailUnlessStopping();
    if (Stopping)
        return TOutcome::Ended;
    if (Request.StatusCode().value_or(404) != 200) {
        qCWarning(lcSysinfo) << "HTTP transfer of" << m_Job.URL << "answered" << Request.StatusCode().value_or(0);
        return TOutcome::Ended;
    }

    const std::optional<qint64> length = Request.ContentLength();
    Succeeded = length.has_value();
    if (Stopping)
        return TOutcome::Ended;
    // A length beyond what the size fields hold is refused like an answer without one.
    if ((length && *length > std::numeric_limits<qint32>::max()) || (!length && m_Job.BinaryData)) {
        Succeeded = false;
        return TOutcome::Judged;
    }
    TotalSizeOut = 0;
    if (length) {
        TotalSizeOut = qint32(*length);
        Synchronize([this, size = TotalSizeOut] { Owner->TotalSize = size; });
    }
    return TOutcome::Next;
}

TWorkThread::TOutcome TWorkThread::Receive(platform::http::Request &Request, qint32 TotalSizeIn,
                                           const std::function<bool(const char *, qint64)> &Consume)
{
    TotalRead = 0;
    char buffer[kReadSize];
    QElapsedTimer sinceTold;
    bool untold = false;
    while (!Stopping) {
        const qint64 n = Request.Read(buffer, kReadSize);
        if (n <= 0)
            break;
        if (!Consume(buffer, n))
            return FailUnlessStopping();
        BytesRead = qint32(n);
        TotalRead += qint32(n);
        untold = sinceTold.isValid() && sinceTold.elapsed() < kProgressIntervalMs && TotalRead != TotalSizeIn;
        if (!untold) {
            DoProcess();
            sinceTold.start();
        }
    }
    if (Stopping)
        return TOutcome::Ended;
    // The last piece read is told before the outcome.
    if (untold)
        DoProcess();
    return TOutcome::Next;
}

TWorkThread::TOutcome TWorkThread::ReceiveFile(platform::http::Request &Request, qint32 TotalSizeIn)
{
    // Never through a link, and only in a folder of the user's own.
    QFile file;
    const int fd = platform::files::CreateOwnFile(m_Job.LocalFile);
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        platform::files::CloseHandle(fd);
        qCWarning(lcSysinfo) << "HTTP transfer: cannot create" << m_Job.LocalFile;
        return FailUnlessStopping();
    }
    const TOutcome received = Receive(
        Request, TotalSizeIn, [&file](const char *Data, qint64 Size) { return file.write(Data, Size) == Size; });
    if (received != TOutcome::Next)
        return received;
    if (!file.flush())
        return FailUnlessStopping();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return FailUnlessStopping();
    Succeeded = TotalSizeIn == TotalRead;
    return TOutcome::Judged;
}

TWorkThread::TOutcome TWorkThread::ReceiveText(platform::http::Request &Request, qint32 TotalSizeIn)
{
    QByteArray received;
    const TOutcome outcome = Receive(Request, TotalSizeIn, [&received](const char *Data, qint64 Size) {
        received.append(Data, qsizetype(Size));
        return true;
    });
    if (outcome != TOutcome::Next)
        return outcome;
    QString text;
    if (m_Job.Mode == 1) {
        text = QString::fromUtf8(received);
    } else {
        text.reserve(received.size() / 2);
        for (qsizetype i = 0; i + 1 < received.size(); i += 2)
            text += QChar(char16_t(quint8(received[i]) | (quint8(received[i + 1]) << 8)));
    }
    Synchronize([this, &text] { Owner->Text = text; });
    Succeeded = TotalRead > 0;
    return TOutcome::Judged;
}

TWorkThread::TOutcome TWorkThread::Transfer(std::optional<platform::http::Request> &Request)
{
    QString host, path;
    THttpGet::ParseURL(m_Job.URL, host, path);
    if (Stopping)
        return TOutcome::Ended;
    Request.emplace(m_Job.Limits, [this] { return Stopping.load(); });
    TOutcome outcome = Connect(*Request, host, path);
    qint32 totalSize = 0;
    if (outcome == TOutcome::Next)
        outcome = Send(*Request, totalSize);
    if (outcome == TOutcome::Next)
        outcome = m_Job.Mode == 0 ? ReceiveFile(*Request, totalSize) : ReceiveText(*Request, totalSize);
    return outcome;
}

void TWorkThread::Execute()
{
    Running = true;
    TOutcome outcome = TOutcome::Ended;
    {
        std::optional<platform::http::Request> request;
        try {
            outcome = Transfer(request);
        } catch (...) {
            // Such as memory running out: the transfer failed.
            qCWarning(lcSysinfo) << "HTTP transfer of" << m_Job.URL << "ended by" << platform::CurrentExceptionText()
                                 << "(local file" << m_Job.LocalFile << ")";
            outcome = FailUnlessStopping();
        }
        if (outcome == TOutcome::Failed)
            DoError();
        Running = false;
        // The request and its connection close before the outcome is told.
    }
    if (outcome == TOutcome::Judged && !Stopping)
        DoCompleted();
}

// ---- THttpGet ------------------------------------------------------------------------------

THttpGet::THttpGet(QObject *AOwner) : QObject(AOwner) {}

THttpGet::~THttpGet()
{
    m_Destroying = true;
    StopTransfer(false);
    m_Thread.reset();
    m_Retired.clear();
}

bool THttpGet::GetFile()
{
    return Start(0);
}

bool THttpGet::Start(quint8 AMode)
{
    if (IsBusy())
        return false;
    Mode = AMode;
    std::erase_if(m_Retired, [](const std::unique_ptr<TWorkThread> &T) { return T->Ended(); });
    if (m_Thread) {
        // A worker handing over its last event (a new transfer asked for from inside it) is
        // kept until it has ended.
        if (m_Thread->Ended())
            m_Thread.reset();
        else
            m_Retired.push_back(std::move(m_Thread));
    }
    TWorkThread::TJob job;
    job.Agent = Agent;
    job.URL = URL;
    job.LocalFile = LocalFile;
    job.UserName = UserName;
    job.Password = Password;
    job.PostQuery = PostQuery;
    job.Referer = Referer;
    job.BinaryData = BinaryData;
    job.UseCache = UseCache;
    job.Mode = AMode;
    job.Limits = Limits;
    TotalSize = 0;
    Text.clear();
    m_Thread = std::make_unique<TWorkThread>(this, job);
    // Busy from this moment, so that a second start right after this one is refused.
    m_Thread->Running = true;
    m_Thread->start();
    return true;
}

bool THttpGet::IsBusy() const
{
    return m_Thread && m_Thread->Running;
}

void THttpGet::Stop()
{
    StopTransfer(true);
}

void THttpGet::StopTransfer(bool FireEvent)
{
    if (!IsBusy())
        return;
    m_Thread->StopThread();
    if (FireEvent && OnStopped)
        OnStopped(this);
}

void THttpGet::ParseURL(const QString &AURL, QString &Host, QString &Path)
{
    QString url = AURL;
    if (url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        url.remove(0, 7);
    const qsizetype slash = url.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        Host.clear();
        Path = url;
        return;
    }
    Host = url.left(slash);
    Path = url.mid(slash);
}
