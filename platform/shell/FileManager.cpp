#include "platform/shell/FileManager.h"

#include "platform/shell/Shell.h"
#include "platform/system/UserSession.h"

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

// The session bus the file manager is asked on: the running user's own, never the one of another
// user whose environment the program was started with.
QDBusConnection sessionBus()
{
    if (!environmentOfAnotherUser())
        return QDBusConnection::sessionBus();
    const QString address = system::ownSessionBusAddress();
    if (address.isEmpty())
        return QDBusConnection(QString()); // not connected
    return QDBusConnection::connectToBus(address, QStringLiteral("taskvane-own-session"));
}

bool callFileManager(const QString &method, const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusConnectionInterface *names = bus.interface();
    if (!names)
        return false;
    // Either running now or startable by the bus on demand.
    const bool running = names->isServiceRegistered(kService).value();
    if (!running && !names->activatableServiceNames().value().contains(kService))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kService, method);
    const QString uri = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
    call << QStringList{uri} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

bool fileManagerShowItem(const QString &path)
{
    return callFileManager(QStringLiteral("ShowItems"), path);
}

bool fileManagerShowItemProperties(const QString &path)
{
    return callFileManager(QStringLiteral("ShowItemProperties"), path);
}

QString containingFolder(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return QString();
    return info.isDir() ? info.absoluteFilePath() : info.absolutePath();
}

bool showItemInFileManager(const QString &path)
{
    if (fileManagerShowItem(path))
        return true;
    const QString folder = containingFolder(path);
    return !folder.isEmpty() && openWithDefaultProgram(folder);
}

bool showItemProperties(const QString &path)
{
    if (fileManagerShowItemProperties(path))
        return true;
    const QString folder = containingFolder(path);
    return !folder.isEmpty() && openWithDefaultProgram(folder);
}

} // namespace platform::shell
