#include "platform/shell/FileManager.h"

#include "platform/Logging.h"
#include "platform/shell/Shell.h"
#include "platform/system/Environment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace platform::shell {

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObject = QStringLiteral("/org/freedesktop/FileManager1");
// A file manager that is being started by the bus may take a moment; the user waits for it.
constexpr int kCallTimeoutMs = 5000;

// The session bus the file manager is asked on: the running user's own, looked at when the
// connection is made (a socket of anyone else's is never connected to); none when there is none.
QDBusConnection SessionBus()
{
    const QString address = system::SessionBusAddress();
    if (address.isEmpty())
        return QDBusConnection(QString()); // not connected
    return QDBusConnection::connectToBus(address, QStringLiteral("taskvane-session:") + address);
}

bool CallFileManager(const QString &Method, const QString &Path)
{
    const QFileInfo info(Path);
    if (!Path.startsWith(QLatin1Char('/')) || !info.exists())
        return false;
    QDBusConnection bus = SessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcPlatform) << "file manager: no session bus:" << bus.lastError().message();
        return false;
    }
    QDBusConnectionInterface *names = bus.interface();
    if (!names)
        return false;
    // Either running now or startable by the bus on demand.
    const bool running = names->isServiceRegistered(kService).value();
    if (!running && !names->activatableServiceNames().value().contains(kService)) {
        qCWarning(lcPlatform) << "file manager:" << kService << "is neither running nor activatable";
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kService, Method);
    const QString uri = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
    call << QStringList{uri} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    qCWarning(lcPlatform) << "file manager:" << Method << reply.errorName() << reply.errorMessage();
    return false;
}

} // namespace

bool FileManagerShowItem(const QString &Path)
{
    return CallFileManager(QStringLiteral("ShowItems"), Path);
}

bool FileManagerShowItemProperties(const QString &Path)
{
    return CallFileManager(QStringLiteral("ShowItemProperties"), Path);
}

QString ContainingFolder(const QString &Path)
{
    const QFileInfo info(Path);
    if (!Path.startsWith(QLatin1Char('/')) || !info.exists())
        return QString();
    return info.isDir() ? info.absoluteFilePath() : info.absolutePath();
}

bool ShowItemInFileManager(const QString &Path)
{
    if (FileManagerShowItem(Path))
        return true;
    const QString folder = ContainingFolder(Path);
    return !folder.isEmpty() && OpenWithDefaultProgram(folder);
}

bool ShowItemProperties(const QString &Path)
{
    if (FileManagerShowItemProperties(Path))
        return true;
    const QString folder = ContainingFolder(Path);
    return !folder.isEmpty() && OpenWithDefaultProgram(folder);
}

} // namespace platform::shell
