#pragma once

#include "platform/http/HttpRequest.h"
#include "sysinfo/HandOff.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class THttpGet;

// Notifications of a transfer; the sender is always the transfer component.
using TProcessEvent = std::function<void(QObject *Sender, qint32 CurrentSize, qint32 TotalSize)>;
using TGetFileCompletedEvent = std::function<void(QObject *Sender, const QString &FileName, qint32 FileSize)>;
using TGetTextCompletedEvent = std::function<void(QObject *Sender, const QString &Text)>;
using THttpNotifyEvent = std::function<void(QObject *Sender)>;

// The worker of one transfer. Its events run on the thread of the component (the user-interface
// thread) while the worker waits for them.
class TWorkThread : public QThread
{
    Q_OBJECT
public:
    // What the transfer asks for, taken from the component when it starts.
    struct TJob
    {
        QString Agent, URL, LocalFile, UserName, Password, PostQuery, Referer;
        bool BinaryData = false;
        bool UseCache = false;
        quint8 Mode = 0;
        platform::http::Limits Limits;
    };

    TWorkThread(THttpGet *AOwner, const TJob &AJob);
    // Stops the transfer first; events still on their way are answered without their handlers.
    ~TWorkThread() override;

    THttpGet *Owner;
    std::atomic<bool> Running{false};
    std::atomic<bool> Stopping{false};
    qint32 BytesRead = 0;
    qint32 TotalRead = 0;
    bool Succeeded = true;

    // Asks the transfer to end and waits until it has, running the events it hands over
    // meanwhile. Called from inside one of its own events it only asks.
    void StopThread();
    // True once the worker has delivered its last event.
    bool Ended();

protected:
    void run() override;

private:
    friend class THttpGet;
    // How a step of the transfer ended.
    enum class TOutcome {
        Next,   // on to the next step
        Failed, // the transfer failed: the error event follows
        Judged, // the answer was judged: the completion event follows unless a stop came first
        Ended,  // an early end with nothing (more) to tell
    };
    TOutcome Transfer(std::optional<platform::http::Request> &Request);
    TOutcome Connect(platform::http::Request &Request, const QString &Host, const QString &Path);
    // Sends the request and judges the answer's status and length (into TotalSizeOut).
    TOutcome Send(platform::http::Request &Request, qint32 &TotalSizeOut);
    TOutcome ReceiveFile(platform::http::Request &Request, qint32 TotalSizeIn);
    TOutcome ReceiveText(platform::http::Request &Request, qint32 TotalSizeIn);
    // Reads the body piece by piece into Consume, which answers false when it cannot take one,
    // telling the progress now and then: TotalSizeIn (0 when unknown) marks the last piece.
    TOutcome Receive(platform::http::Request &Request, qint32 TotalSizeIn,
                     const std::function<bool(const char *, qint64)> &Consume);
    TOutcome FailUnlessStopping() const;
    QByteArray PostBody() const;
    void Execute();
    // Runs `Call` on the component's thread and waits until it has run.
    void Synchronize(const std::function<void()> &Call);
    // On the component's thread: runs the call the worker waits for, if any.
    void ServePending();
    // On the component's thread: waits for the worker's end, serving its calls.
    void WaitEnded();
    void DoProcess();
    void DoCompleted();
    void DoError();

    TJob m_Job;
    THandOff m_HandOff;
};

// Fetches one HTTP resource on a worker thread into a local file (or, for the text modes,
// into `Text`) and reports progress, completion, stop and failure through its events.
class THttpGet : public QObject
{
    Q_OBJECT
public:
    explicit THttpGet(QObject *AOwner = nullptr);
    ~THttpGet() override;

    // Published properties; not to be changed while a transfer runs.
    QString Agent;
    QString URL;
    QString LocalFile;
    QString UserName;
    QString Password;
    QString PostQuery;
    QString Referer;
    bool BinaryData = false;
    bool UseCache = false;
    TProcessEvent OnProcess;
    TGetFileCompletedEvent OnGetFileCompleted;
    TGetTextCompletedEvent OnGetTextCompleted;
    THttpNotifyEvent OnStopped;
    THttpNotifyEvent OnPaused;
    THttpNotifyEvent OnResumed;
    THttpNotifyEvent OnError;
    // Bounds of every transfer (time, sizes).
    platform::http::Limits Limits;

    // 0 file transfer, 1 text of single-byte (UTF-8) characters, 2 text of UTF-16 characters.
    quint8 Mode = 0;
    // Content length of the transfer's answer; 0 when it announced none.
    qint32 TotalSize = 0;
    QString Text;

    bool GetFile();
    bool Start(quint8 AMode);
    bool IsBusy() const;
    void Stop();
    void StopTransfer(bool FireEvent);
    TWorkThread *Thread() const { return m_Thread.get(); }

    // Splits an address into host and path: a leading "http://" (in any case) is dropped, the
    // host runs up to the first "/" and the path from it; without a slash the host is empty.
    static void ParseURL(const QString &AURL, QString &Host, QString &Path);

private:
    friend class TWorkThread;
    std::unique_ptr<TWorkThread> m_Thread;
    // Workers that were still handing over their last event when the next transfer began.
    std::vector<std::unique_ptr<TWorkThread>> m_Retired;
    bool m_Destroying = false;
};
