// The update check of the main form.

#include "ui/frmMainUpdate.h"

#include "dictdb/DBTools.h"
#include "platform/Logging.h"
#include "platform/files/IniFile.h"
#include "platform/files/OwnFolder.h"
#include "platform/http/HttpRequest.h"
#include "platform/shell/Shell.h"
#include "sysinfo/HandOff.h"
#include "sysinfo/HttpGet.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/FormControls.h"
#include "ui/Logging.h"
#include "ui/PageCommon.h"
#include "ui/UiHooks.h"
#include "ui/frmAbout.h"
#include "ui/frmMessage.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const QString kDescriptorFile = QStringLiteral("_update.tmp");
const QString kDictTempFile = QStringLiteral("_Ravel.tmp");
const QString kDictFile = QStringLiteral("Ravel.db");
const QString kDescriptorPath = QStringLiteral("/download/taskvane/update/update.html");
const QString kDictPath = QStringLiteral("/download/taskvane/update/Ravel.zip");
const QString kDownloadPage = QStringLiteral("/taskvane.html");
// Values of the descriptor are read up to this length.
constexpr qsizetype kMaxValueLength = 2047;

// The dictionary's version is the program's own data, as its descriptions are.
QString VersionText(const QString &Program, const QString &Dictionary)
{
    return QStringLiteral("主程序版本：%1 | 进程库版本：%2").arg(Program, Dictionary);
}

// A whole number as the class library reads one: blanks before it, a sign, decimal digits or
// "$"/"0x" and hexadecimal digits; anything else (or a value beyond 32 bits) is an error.
bool ReadInt(const QString &Text, int &Value)
{
    qsizetype i = 0;
    while (i < Text.size() && Text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text.at(i) == QLatin1Char('-') || Text.at(i) == QLatin1Char('+'))) {
        negative = Text.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < Text.size() && Text.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < Text.size() && Text.at(i) == QLatin1Char('0') &&
               (Text.at(i + 1) == QLatin1Char('x') || Text.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    const QString digits = Text.mid(i);
    if (digits.isEmpty())
        return false;
    for (const QChar c : digits) {
        const bool ok = base == 10 ? (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                                   : (c.isDigit() && c.unicode() < 128) ||
                (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
        if (!ok)
            return false;
    }
    bool ok = false;
    const qlonglong v = digits.toLongLong(&ok, base);
    const qlonglong signedValue = negative ? -v : v;
    if (!ok || signedValue < std::numeric_limits<int>::min() || signedValue > std::numeric_limits<int>::max())
        return false;
    Value = int(signedValue);
    return true;
}

} // namespace

// ---- building and the form's steps -------------------------------------------------------------

// One worker of the check: its hand-off to the window's thread, and the wish to stop it.
struct TUpdateCheck::TWorker
{
    explicit TWorker(QObject *Context) : HandOff(Context) {}
    THandOff HandOff;
    std::atomic<bool> Stop{false};
};

TUpdateCheck::TUpdateCheck(TLabel *Version, const QString &DataDir) : UpdateDir(DataDir), lblVersion(Version)
{
    objHttpGet = new THttpGet(this);
    objHttpGet->setObjectName(QStringLiteral("objHttpGet"));
    objHttpGet->BinaryData = false;
    objHttpGet->UseCache = false;
    objHttpGet->OnProcess = [this](QObject *S, qint32 C, qint32 T) { objHttpGetProcess(S, C, T); };
    objHttpGet->OnGetFileCompleted = [this](QObject *S, const QString &F, qint32 N) {
        objHttpGetGetFileCompleted(S, F, N);
    };
    objHttpGet->OnError = [this](QObject *S) { objHttpGetError(S); };
    objHttpGet->OnStopped = [this](QObject *S) { objHttpGetError(S); };
}

TUpdateCheck::~TUpdateCheck()
{
    // A transfer still running reports to nobody once the check is gone.
    objHttpGet->OnProcess = nullptr;
    objHttpGet->OnGetFileCompleted = nullptr;
    objHttpGet->OnError = nullptr;
    objHttpGet->OnStopped = nullptr;
    StopWorker();
}

bool TUpdateCheck::Busy() const
{
    return m_Worker || (objHttpGet && objHttpGet->IsBusy());
}

void TUpdateCheck::RunInBackground(TWork Work)
{
    StopWorker();
    auto worker = std::make_shared<TWorker>(this);
    m_Worker = worker;
    m_Thread = std::thread([this, worker, work = std::move(Work)] {
        std::function<void()> show;
        try {
            show = work(worker->Stop);
        } catch (...) {
            qCWarning(lcUi) << "update:" << platform::CurrentExceptionText();
        }
        // Runs only while the hand-off is open, that is while the check lives and wants it.
        worker->HandOff.Synchronize([&] { WorkerEnded(worker, show); });
    });
}

void TUpdateCheck::WorkerEnded(const std::shared_ptr<TWorker> &Worker, const std::function<void()> &Show)
{
    if (m_Worker != Worker)
        return;
    m_Worker.reset();
    Worker->HandOff.Close();
    if (Worker->Stop || !Show)
        return;
    // The worker waits until this has run: a worker started meanwhile cannot wait for it.
    m_InShow = true;
    Show();
    m_InShow = false;
}

bool TUpdateCheck::StopWorker()
{
    const bool running = m_Worker != nullptr;
    if (m_Worker) {
        // It sees the wish at its next record; its outcome is handed to nobody.
        m_Worker->Stop = true;
        m_Worker->HandOff.Close();
        m_Worker.reset();
    }
    if (m_Thread.joinable()) {
        if (m_InShow)
            m_Showing.push_back(std::move(m_Thread));
        else
            m_Thread.join();
    }
    if (!m_InShow) {
        for (std::thread &t : m_Showing)
            t.join();
        m_Showing.clear();
    }
    return running;
}

QString TUpdateCheck::ProgramVersionText()
{
    QString version;
    GetFileVersion(QString(), version);
    return version;
}

bool TUpdateCheck::UpdateCheckAllowed() const
{
    const QString platformName = QGuiApplication::platformName();
    const bool headless = platformName == QLatin1String("offscreen") || platformName == QLatin1String("minimal");
    return !headless || platform::http::ServerOverrideSet();
}

QString TUpdateCheck::UpdateURL(const QString &Path)
{
    return QStringLiteral("http://") + maker::kWebHost + Path;
}

QString TUpdateCheck::UpdateVersionText() const
{
    // The dictionary the update may just have written is not opened on the window's thread.
    return VersionText(ProgramVersionText(), CheckedDictVersion());
}

void TUpdateCheck::DeleteUpdateFiles()
{
    // Without a program directory the names would point into the working directory.
    if (UpdateDir.isEmpty())
        return;
    platform::files::RemoveOwnFile(UpdateDir + kDescriptorFile);
    platform::files::RemoveOwnFile(UpdateDir + kDictTempFile);
}

void TUpdateCheck::StartUpdateCheck()
{
    if (!objHttpGet || UpdateDir.isEmpty() || !UpdateCheckAllowed())
        return;
    StopWorker();
    m_Stopped = false;
    UpdateStage = 0;
    // The download's first write makes the folder; a folder that cannot be made fails the transfer.
    platform::shell::MakePrivateDirs(UpdateDir);
    objHttpGet->URL = UpdateURL(kDescriptorPath);
    objHttpGet->LocalFile = UpdateDir + kDescriptorFile;
    objHttpGet->GetFile();
}

void TUpdateCheck::StopUpdateCheck()
{
    m_Stopped = true;
    if (objHttpGet)
        objHttpGet->Stop();
    // A stopped worker ends its stage as a stopped transfer does.
    if (StopWorker())
        objHttpGetError(objHttpGet);
}

// ---- the transfer's events ---------------------------------------------------------------------

void TUpdateCheck::objHttpGetProcess(QObject *, qint32 CurrentSize, qint32 TotalSize)
{
    if (UpdateStage == 0) {
        lblVersion->setText(QStringLiteral("正在检查更新..."));
        return;
    }
    // Halves go to the even neighbour, as the form's rounding does everywhere.
    const int percent = TotalSize == 0 ? 0 : int(std::nearbyint(double(CurrentSize) * 100.0 / double(TotalSize)));
    lblVersion->setText(QStringLiteral("正在下载更新文件... %1 %").arg(percent));
}

void TUpdateCheck::objHttpGetGetFileCompleted(QObject *, const QString &, qint32)
{
    if (UpdateStage == 0) {
        CheckUpdate();
        return;
    }
    // Only a whole dictionary replaces the user's copy (a torn, damaged or padded download would
    // answer no look-up, or claim its version forever), and it replaces it whole: written beside
    // it and renamed over it, so that a failure leaves the old one as it was. The shipped copy is
    // never written. Checking and copying up to the transfer's size bound takes the worker a while.
    const QString downloaded = UpdateDir + kDictTempFile;
    const QString dictionary = UpdateDir + kDictFile;
    const qint64 limit = objHttpGet->Limits.MaxBodyBytes;
    RunInBackground([this, downloaded, dictionary, limit](const std::atomic<bool> &Stop) {
        TDictFileCheck installed;
        const bool copied = InstallDictFile(downloaded, dictionary, limit, installed, [&Stop] { return Stop.load(); });
        platform::files::RemoveOwnFile(downloaded);
        return std::function<void()>([this, copied, installed] { ShowInstalled(copied, installed); });
    });
}

void TUpdateCheck::ShowInstalled(bool Copied, const TDictFileCheck &Installed)
{
    lblVersion->setText(Copied ? QStringLiteral("更新成功！") : QStringLiteral("更新失败！"));
    if (Copied)
        TakeDictFileCheck(UpdateDir + kDictFile, Installed);
    lblVersion->setText(UpdateVersionText());
}

void TUpdateCheck::objHttpGetError(QObject *)
{
    // Whatever a failed or stopped download left is no file of use.
    if (!UpdateDir.isEmpty())
        platform::files::RemoveOwnFile(UpdateDir + (UpdateStage == 0 ? kDescriptorFile : kDictTempFile));
    lblVersion->setText(UpdateStage == 0 ? QStringLiteral("检查更新失败！") : QStringLiteral("下载更新文件失败！"));
    lblVersion->setText(UpdateVersionText());
}

// ---- reading the descriptor --------------------------------------------------------------------

bool TUpdateCheck::CheckUpdate()
{
    if (UpdateDir.isEmpty())
        return false;
    const QString descriptor = UpdateDir + kDescriptorFile;
    RunInBackground([this, descriptor](const std::atomic<bool> &) {
        TDescriptor offered;
        if (QFileInfo::exists(descriptor)) {
            try {
                platform::files::IniFile ini;
                // A descriptor that cannot be read gives the defaults: nothing is newer.
                ini.Load(descriptor);
                offered.App = ini.Value(QStringLiteral("VERSION"), QStringLiteral("APP"), QStringLiteral("0.0.0.0"))
                                  .left(kMaxValueLength);
                offered.Db =
                    ini.Value(QStringLiteral("VERSION"), QStringLiteral("DB"), kNoDictVersion).left(kMaxValueLength);
                offered.Read = true;
            } catch (...) {
                qCWarning(lcUi) << "update descriptor" << descriptor << "unread:" << platform::CurrentExceptionText();
            }
            platform::files::RemoveOwnFile(descriptor);
        }
        return std::function<void()>([this, offered] { ShowDescriptor(offered); });
    });
    return true;
}

void TUpdateCheck::ShowDescriptor(const TDescriptor &Descriptor)
{
    if (!Descriptor.Read)
        return;
    try {
        const QString programVersion = ProgramVersionText();
        if (IsNewerVersion(Descriptor.App, programVersion, QLatin1Char('.'), 4)) {
            const TMessageResult answer = TFormMessage::MessageBox(
                QStringLiteral("已发现新版本 Taskvane v%1，建议下载更新。是否立即打开下载页面？")
                    .arg(VisibleText(Descriptor.App)),
                QStringLiteral("信息"), TMessageIcon::Information, TMessageButtons::YesNo);
            if (answer == TMessageResult::Yes && !UiHooks().OpenUrl(UpdateURL(kDownloadPage)))
                ReportFailure(QStringLiteral("打开下载页面操作失败！\r\r%1").arg(UpdateURL(kDownloadPage)));
        }

        // Compared with the dictionary in use, the user's copy or the shipped one, as its check
        // found it.
        const QString dictVersion = CheckedDictVersion();
        // The question above may have been open while the window closed.
        if (IsNewerVersion(Descriptor.Db, dictVersion, QLatin1Char('-'), 3) && !m_Stopped) {
            UpdateStage = 1;
            objHttpGet->URL = UpdateURL(kDictPath);
            objHttpGet->LocalFile = UpdateDir + kDictTempFile;
            objHttpGet->GetFile();
        }
        lblVersion->setText(VersionText(programVersion, dictVersion));
    } catch (...) {
        qCWarning(lcUi) << "update descriptor unread:" << platform::CurrentExceptionText();
    }
}

QStringList TUpdateCheck::SplitDelimited(const QString &Text, QChar Delimiter)
{
    auto blank = [](QChar C) { return C.unicode() >= 1 && C.unicode() <= 32; };
    QStringList fields;
    const qsizetype n = Text.size();
    qsizetype i = 0;
    while (i < n && blank(Text.at(i)))
        ++i;
    while (i < n) {
        QString field;
        if (Text.at(i) == QLatin1Char('"')) {
            // A quoted field: a doubled quote stands for one; it ends at the closing quote.
            ++i;
            while (i < n) {
                if (Text.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && Text.at(i + 1) == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += Text.at(i++);
            }
        } else {
            const qsizetype start = i;
            while (i < n && Text.at(i).unicode() > 32 && Text.at(i) != Delimiter)
                ++i;
            field = Text.mid(start, i - start);
        }
        fields << field;
        while (i < n && blank(Text.at(i)))
            ++i;
        if (i < n && Text.at(i) == Delimiter) {
            if (i + 1 == n)
                fields << QString();
            do {
                ++i;
            } while (i < n && blank(Text.at(i)));
        } else if (i < n && Text.at(i).unicode() == 0) {
            break;
        }
    }
    return fields;
}

bool TUpdateCheck::IsNewerVersion(const QString &Offered, const QString &Own, QChar Delimiter, int Fields)
{
    const QStringList offered = SplitDelimited(Offered, Delimiter);
    const QStringList own = SplitDelimited(Own, Delimiter);
    for (int i = 0; i < Fields; ++i) {
        if (i >= offered.size() || i >= own.size())
            return false;
        int a = 0, b = 0;
        if (!ReadInt(offered.at(i), a) || !ReadInt(own.at(i), b))
            return false;
        if (a < b)
            return false;
        if (a > b)
            return true;
    }
    return false;
}
