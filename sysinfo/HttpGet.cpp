#include "sysinfo/HttpGet.h"

#include "platform/files/FileHandle.h"
#include "platform/files/OwnFolder.h"

#include <QFile>

#include <limits>
#include <optional>

namespace {

// A local file that cannot be created or written ends the transfer with its error event.
struct EFileError
{};

// An early end of the transfer after everything due was reported.
struct EEnd
{};

constexpr qint64 kReadSize = 512;

} // namespace

// ---- TWorkThread ---------------------------------------------------------------------------

TWorkThread::TWorkThread(THttpGet *AOwner, const TJob &AJob) : Owner(AOwner), Job(AJob), FHandOff(this) {}

TWorkThread::~TWorkThread()
{
    Stopping = true;
    WaitEnded();
    FHandOff.Close();
}

bool TWorkThread::Ended()
{
    return FHandOff.Finished();
}

void TWorkThread::run()
{
    Execute();
    FHandOff.Finish();
}

void TWorkThread::Synchronize(const std::function<void()> &Call)
{
    FHandOff.Synchronize(Call);
}

void TWorkThread::ServePending()
{
    FHandOff.ServePending();
}

void TWorkThread::WaitEnded()
{
    FHandOff.WaitEnded([this] { return isRunning(); });
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
        if (!Owner->FDestroying && Owner->OnProcess)
            Owner->OnProcess(Owner, TotalRead, Owner->TotalSize);
    });
}

void TWorkThread::DoError()
{
    Synchronize([this] {
        if (!Owner->FDestroying && Owner->OnError)
            Owner->OnError(Owner);
    });
}

void TWorkThread::DoCompleted()
{
    Synchronize([this] {
        if (Owner->FDestroying)
            return;
        if (Succeeded) {
            if (Job.Mode == 0) {
                if (Owner->OnGetFileCompleted)
                    Owner->OnGetFileCompleted(Owner, Job.LocalFile, Owner->TotalSize);
            } else if (Owner->OnGetTextCompleted) {
                Owner->OnGetTextCompleted(Owner, Owner->Text);
            }
        } else if (Owner->OnError) {
            Owner->OnError(Owner);
        }
    });
}

void TWorkThread::Execute()
{
    Running = true;
    // Reached by the normal way: the answer was judged (the completion event follows).
    bool judged = false;
    {
        std::optional<platform::http::Request> request;
        try {
            QString host, path;
            THttpGet::ParseURL(Job.URL, host, path);
            if (Stopping)
                throw EEnd();
            request.emplace(Job.Limits, [this] { return Stopping.load(); });
            const bool post = !Job.PostQuery.isEmpty();
            if (!request->openSession(Job.Agent) || !request->connect(host, Job.UserName, Job.Password) ||
                !request->openRequest(post, path, Job.Referer, !Job.UseCache)) {
                DoError();
                throw EEnd();
            }
            // The body is the text's UTF-16 code units, as the form data has always been sent.
            QByteArray body;
            if (post) {
                body.resize(Job.PostQuery.size() * 2);
                for (qsizetype i = 0; i < Job.PostQuery.size(); ++i) {
                    const char16_t u = Job.PostQuery.at(i).unicode();
                    body[2 * i] = char(u & 0xFF);
                    body[2 * i + 1] = char(u >> 8);
                }
            }
            if (!request->send(body)) {
                if (!Stopping)
                    DoError();
                throw EEnd();
            }
            if (Stopping)
                throw EEnd();

            if (request->statusCode().value_or(404) != 200)
                throw EEnd();

            const std::optional<qint64> length = request->contentLength();
            Succeeded = length.has_value();
            if (Stopping)
                throw EEnd();
            if (length && *length > std::numeric_limits<qint32>::max()) {
                // Beyond what the size fields hold: refused like an answer without a length.
                Succeeded = false;
                judged = true;
                throw EEnd();
            }
            if (!length && Job.BinaryData) {
                Succeeded = false;
                judged = true;
                throw EEnd();
            }
            qint32 totalSize = 0;
            if (length) {
                totalSize = qint32(*length);
                Synchronize([this, totalSize] { Owner->TotalSize = totalSize; });
            }

            TotalRead = 0;
            char buffer[kReadSize];
            if (Job.Mode == 0) {
                // Never through a link, and only in a folder of the user's own.
                QFile file;
                const int fd = platform::files::createOwnFile(Job.LocalFile);
                if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
                    platform::files::closeHandle(fd);
                    throw EFileError();
                }
                while (!Stopping) {
                    const qint64 n = request->read(buffer, kReadSize);
                    if (n <= 0)
                        break;
                    if (file.write(buffer, n) != n)
                        throw EFileError();
                    BytesRead = qint32(n);
                    TotalRead += qint32(n);
                    DoProcess();
                }
                if (Stopping)
                    throw EEnd();
                if (!file.flush())
                    throw EFileError();
                file.close();
                if (file.error() != QFileDevice::NoError)
                    throw EFileError();
                Succeeded = totalSize == TotalRead;
            } else {
                QByteArray received;
                while (!Stopping) {
                    const qint64 n = request->read(buffer, kReadSize);
                    if (n <= 0)
                        break;
                    received.append(buffer, qsizetype(n));
                    BytesRead = qint32(n);
                    TotalRead += qint32(n);
                    DoProcess();
                }
                if (Stopping)
                    throw EEnd();
                QString text;
                if (Job.Mode == 1) {
                    text = QString::fromUtf8(received);
                } else {
                    text.reserve(received.size() / 2);
                    for (qsizetype i = 0; i + 1 < received.size(); i += 2)
                        text += QChar(char16_t(quint8(received[i]) | (quint8(received[i + 1]) << 8)));
                }
                Synchronize([this, &text] { Owner->Text = text; });
                Succeeded = TotalRead > 0;
            }
            judged = true;
        } catch (const EEnd &) {
            // An early end: what had to be reported was reported.
        } catch (...) {
            judged = false;
            if (!Stopping)
                DoError();
        }
        Running = false;
        // The request and its connection close before the outcome is told.
    }
    if (judged && !Stopping)
        DoCompleted();
}

// ---- THttpGet ------------------------------------------------------------------------------

THttpGet::THttpGet(QObject *AOwner) : QObject(AOwner) {}

THttpGet::~THttpGet()
{
    FDestroying = true;
    StopTransfer(false);
    FThread.reset();
    FRetired.clear();
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
    std::erase_if(FRetired, [](const std::unique_ptr<TWorkThread> &t) { return t->Ended(); });
    if (FThread) {
        // A worker handing over its last event (a new transfer asked for from inside it) is
        // kept until it has ended.
        if (FThread->Ended())
            FThread.reset();
        else
            FRetired.push_back(std::move(FThread));
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
    FThread = std::make_unique<TWorkThread>(this, job);
    // Busy from this moment, so that a second start right after this one is refused.
    FThread->Running = true;
    FThread->start();
    return true;
}

bool THttpGet::IsBusy() const
{
    return FThread && FThread->Running;
}

void THttpGet::Stop()
{
    StopTransfer(true);
}

void THttpGet::StopTransfer(bool FireEvent)
{
    if (!IsBusy())
        return;
    FThread->StopThread();
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
