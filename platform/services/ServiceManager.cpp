#include "platform/services/ServiceManager.h"

#include "platform/system/TestVariables.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSet>

#include <limits>

namespace platform::services {

namespace {

const QString Destination = QStringLiteral("org.freedesktop.systemd1");
const QString ManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString UnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString ServiceInterface = QStringLiteral("org.freedesktop.systemd1.Service");
const QString JobInterface = QStringLiteral("org.freedesktop.systemd1.Job");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString ServiceSuffix = QStringLiteral(".service");

QDBusConnection openBus()
{
    const QString address = system::testVariable(BusAddressVariable);
    if (address.isEmpty())
        return QDBusConnection::systemBus();
    // One named connection per address; connecting again hands back the existing one.
    return QDBusConnection::connectToBus(address, QStringLiteral("taskvane-systemd:") + address);
}

// A complex value arrives as a marshalled argument; anything of another shape is refused
// rather than read with the wrong layout.
bool argumentOf(const QVariant &Value, const char *Signature, QDBusArgument &Arg)
{
    if (Value.metaType() != QMetaType::fromType<QDBusArgument>())
        return false;
    Arg = Value.value<QDBusArgument>();
    return Arg.currentSignature() == QLatin1String(Signature);
}

QStringList stringsOf(const QVariant &Value)
{
    if (Value.metaType() == QMetaType::fromType<QStringList>())
        return Value.toStringList();
    QDBusArgument holder;
    if (!argumentOf(Value, "as", holder))
        return {};
    const QDBusArgument &arg = holder;
    QStringList list;
    arg >> list;
    return list;
}

QString stringOf(const QVariantMap &Props, const char *Key)
{
    const QVariant v = Props.value(QLatin1String(Key));
    return v.metaType() == QMetaType::fromType<QString>() ? v.toString() : QString();
}

bool boolOf(const QVariantMap &Props, const char *Key)
{
    const QVariant v = Props.value(QLatin1String(Key));
    return v.metaType() == QMetaType::fromType<bool>() && v.toBool();
}

quint64 uintOf(const QVariantMap &Props, const char *Key)
{
    const QVariant v = Props.value(QLatin1String(Key));
    switch (v.metaType().id()) {
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return v.toULongLong();
    default:
        return 0;
    }
}

QString quoted(const QString &Arg)
{
    if (!Arg.isEmpty() && !Arg.contains(QLatin1Char(' ')) && !Arg.contains(QLatin1Char('\t')))
        return Arg;
    return QLatin1Char('"') + Arg + QLatin1Char('"');
}

// The program and arguments of the unit's first start command.
QString commandLineOf(const QVariant &ExecStart)
{
    QDBusArgument holder;
    if (!argumentOf(ExecStart, "a(sasbttttuii)", holder))
        return {};
    // Reading goes through a const view: the non-const calls of the same names write.
    const QDBusArgument &arg = holder;
    QString line;
    arg.beginArray();
    bool first = true;
    while (!arg.atEnd()) {
        QString path;
        QStringList argv;
        bool ignoreFailure = false;
        qulonglong t1 = 0, t2 = 0, t3 = 0, t4 = 0;
        quint32 pid = 0;
        qint32 code = 0, status = 0;
        arg.beginStructure();
        arg >> path >> argv >> ignoreFailure >> t1 >> t2 >> t3 >> t4 >> pid >> code >> status;
        arg.endStructure();
        if (!first)
            continue;
        first = false;
        line = quoted(path);
        for (qsizetype i = 1; i < argv.size(); ++i)
            line += QLatin1Char(' ') + quoted(argv.at(i));
    }
    arg.endArray();
    return line;
}

bool isServiceUnit(const QString &Unit)
{
    // Templates ("name@.service") cannot run by themselves.
    return Unit.endsWith(ServiceSuffix) && Unit.size() > ServiceSuffix.size() &&
        !Unit.endsWith(QStringLiteral("@") + ServiceSuffix);
}

QString serviceNameOf(const QString &Unit)
{
    return Unit.left(Unit.size() - ServiceSuffix.size());
}

} // namespace

ServiceManager::ServiceManager() : m_bus(openBus()) {}

bool ServiceManager::isConnected() const
{
    return m_bus.isConnected();
}

bool ServiceManager::ping()
{
    return call(ManagerPath, QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"), {}, nullptr, false);
}

bool ServiceManager::call(const QString &Path, const QString &Interface, const QString &Method,
                          const QVariantList &Args, QList<QVariant> *Reply, bool Action)
{
    m_lastError.clear();
    if (!m_bus.isConnected()) {
        m_lastError = QStringLiteral("no connection to the service manager");
        return false;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(Destination, Path, Interface, Method);
    msg.setArguments(Args);
    // Changes may need the user's consent (an authorisation agent asks): give them time.
    msg.setInteractiveAuthorizationAllowed(Action);
    const QDBusMessage reply = m_bus.call(msg, QDBus::Block, Action ? ActionTimeoutMs : QueryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_lastError = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("no answer from the service manager");
        return false;
    }
    if (Reply)
        *Reply = reply.arguments();
    return true;
}

bool ServiceManager::getAll(const QString &Path, const QString &Interface, QVariantMap &Props)
{
    QList<QVariant> reply;
    if (!call(Path, PropertiesInterface, QStringLiteral("GetAll"), {Interface}, &reply, false))
        return false;
    if (reply.isEmpty())
        return false;
    const QVariant &v = reply.first();
    if (v.metaType() == QMetaType::fromType<QVariantMap>()) {
        Props = v.toMap();
        return true;
    }
    QDBusArgument holder;
    if (!argumentOf(v, "a{sv}", holder)) {
        m_lastError = QStringLiteral("malformed properties");
        return false;
    }
    const QDBusArgument &arg = holder;
    Props.clear();
    arg >> Props;
    return true;
}

std::optional<QString> ServiceManager::jobType(const QVariant &Job)
{
    QDBusArgument holder;
    if (!argumentOf(Job, "(uo)", holder))
        return QString();
    const QDBusArgument &arg = holder;
    quint32 id = 0;
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> id >> path;
    arg.endStructure();
    if (id == 0 || path.path().isEmpty() || path.path() == QLatin1String("/"))
        return QString();
    QList<QVariant> reply;
    // The job may have ended between the two reads: then what it did is not in the first one.
    if (!call(path.path(), PropertiesInterface, QStringLiteral("Get"), {JobInterface, QStringLiteral("JobType")},
              &reply, false) ||
        reply.isEmpty())
        return std::nullopt;
    const QVariant v = reply.first().value<QDBusVariant>().variant();
    return v.metaType() == QMetaType::fromType<QString>() ? v.toString() : QString();
}

std::optional<std::vector<ServiceEntry>> ServiceManager::enumServices()
{
    QList<QVariant> reply;
    if (!call(ManagerPath, ManagerInterface, QStringLiteral("ListUnits"), {}, &reply, false) || reply.isEmpty())
        return std::nullopt;
    QDBusArgument holder;
    if (!argumentOf(reply.first(), "a(ssssssouso)", holder)) {
        m_lastError = QStringLiteral("malformed unit list");
        return std::nullopt;
    }
    const QDBusArgument *arg = &holder;
    std::vector<ServiceEntry> entries;
    QSet<QString> seen;
    arg->beginArray();
    while (!arg->atEnd()) {
        QString id, description, loadState, activeState, subState, following, jobTypeText, dummy;
        QDBusObjectPath unitPath, jobPath;
        quint32 jobId = 0;
        arg->beginStructure();
        *arg >> id >> description >> loadState >> activeState >> subState >> following >> unitPath >> jobId >>
            jobTypeText >> jobPath;
        arg->endStructure();
        // A unit that is only referenced, without a file of its own, is no installed service.
        if (!isServiceUnit(id) || loadState == QLatin1String("not-found") || seen.contains(id))
            continue;
        seen.insert(id);
        ServiceEntry e;
        e.Name = serviceNameOf(id);
        e.DisplayName = description;
        e.State = StateOf(activeState, QString(), jobId ? jobTypeText : QString());
        entries.push_back(e);
    }
    arg->endArray();

    // Unit files that are not loaded yet: loading one reads its description.
    reply.clear();
    if (call(ManagerPath, ManagerInterface, QStringLiteral("ListUnitFiles"), {}, &reply, false) && !reply.isEmpty() &&
        argumentOf(reply.first(), "a(ss)", holder)) {
        arg = &holder;
        QStringList pending;
        arg->beginArray();
        while (!arg->atEnd()) {
            QString path, state;
            arg->beginStructure();
            *arg >> path >> state;
            arg->endStructure();
            const QString id = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            // An alias names a unit that is listed under its own name.
            if (!isServiceUnit(id) || state == QLatin1String("alias") || seen.contains(id))
                continue;
            seen.insert(id);
            pending.append(id);
        }
        arg->endArray();
        for (const QString &id : pending) {
            auto handle = openService(serviceNameOf(id));
            if (!handle)
                continue;
            ServiceEntry e;
            e.Name = serviceNameOf(id);
            e.DisplayName = stringOf(handle->m_unitProps, "Description");
            e.State = StateOf(stringOf(handle->m_unitProps, "ActiveState"),
                              stringOf(handle->m_unitProps, "FreezerState"), QString());
            entries.push_back(e);
        }
    }
    m_lastError.clear();
    return entries;
}

bool ServiceManager::fetch(ServiceHandle &Handle)
{
    QVariantMap unitProps;
    if (!getAll(Handle.m_path, UnitInterface, unitProps))
        return false;
    QVariantMap serviceProps;
    if (!getAll(Handle.m_path, ServiceInterface, serviceProps))
        serviceProps.clear();
    Handle.m_unitProps = std::move(unitProps);
    Handle.m_serviceProps = std::move(serviceProps);
    Handle.m_fresh = true;
    return true;
}

std::optional<ServiceHandle> ServiceManager::openService(const QString &Name)
{
    if (Name.trimmed().isEmpty())
        return std::nullopt;
    ServiceHandle handle;
    handle.m_name = Name;
    handle.m_unit = UnitName(Name);
    QList<QVariant> reply;
    if (!call(ManagerPath, ManagerInterface, QStringLiteral("LoadUnit"), {handle.m_unit}, &reply, false) ||
        reply.isEmpty())
        return std::nullopt;
    const QVariant &v = reply.first();
    if (v.metaType() != QMetaType::fromType<QDBusObjectPath>())
        return std::nullopt;
    handle.m_path = v.value<QDBusObjectPath>().path();
    if (handle.m_path.isEmpty() || !fetch(handle))
        return std::nullopt;
    if (stringOf(handle.m_unitProps, "LoadState") == QLatin1String("not-found")) {
        m_lastError = QStringLiteral("Unit %1 not found.").arg(handle.m_unit);
        return std::nullopt;
    }
    return handle;
}

bool ServiceManager::queryConfig(ServiceHandle &Handle, ServiceConfig &Config)
{
    if (!Handle.m_fresh && !fetch(Handle))
        return false;
    const QVariantMap &u = Handle.m_unitProps;
    const QVariantMap &s = Handle.m_serviceProps;
    Config.DisplayName = stringOf(u, "Description");
    const QStringList docs = stringsOf(u.value(QStringLiteral("Documentation")));
    Config.Description = docs.isEmpty() ? Config.DisplayName : docs.join(QStringLiteral(", "));
    Config.Account = stringOf(s, "User");
    if (Config.Account.isEmpty())
        Config.Account = boolOf(s, "DynamicUser") ? Handle.m_name : QStringLiteral("root");
    Config.BinaryPath = commandLineOf(s.value(QStringLiteral("ExecStart")));
    Config.LoadOrderGroup.clear();
    Config.StartType = StartTypeOf(stringOf(u, "UnitFileState"));
    Config.StartTypeSettable = StartTypeSettableOf(stringOf(u, "UnitFileState"));
    Config.ServiceType = TypeOwnProcess;
    Config.Interactive = false;
    return true;
}

bool ServiceManager::queryStatus(ServiceHandle &Handle, ServiceStatus &Status)
{
    if (!Handle.m_fresh && !fetch(Handle))
        return false;
    Handle.m_fresh = false; // the next status is read anew
    // A job that ended between reading the unit and reading the job has changed the unit: the
    // state read with it would be the one before (a start just done would read as stopped).
    std::optional<QString> job = jobType(Handle.m_unitProps.value(QStringLiteral("Job")));
    for (int again = 0; !job && again < 3; ++again) {
        if (!fetch(Handle))
            return false;
        Handle.m_fresh = false;
        job = jobType(Handle.m_unitProps.value(QStringLiteral("Job")));
    }
    const QVariantMap &u = Handle.m_unitProps;
    const QVariantMap &s = Handle.m_serviceProps;
    Status.State = StateOf(stringOf(u, "ActiveState"), stringOf(u, "FreezerState"), job.value_or(QString()));
    // The unit's timeouts bound a step (the manager fails it then); they say nothing about how
    // long it takes, and taken as an estimate they would make every wait poll in 9 s steps.
    Status.WaitHint = 0;
    Status.ProcessID = quint32(uintOf(s, "MainPID"));
    // A stopped service accepts no controls.
    const bool stopped = Status.State == StateStopped;
    Status.AcceptsStop = !stopped && boolOf(u, "CanStop");
    Status.AcceptsPause = !stopped && boolOf(u, "CanFreeze");
    return true;
}

std::optional<QStringList> ServiceManager::dependents(ServiceHandle &Handle, bool ActiveOnly)
{
    if (!Handle.m_fresh && !fetch(Handle))
        return std::nullopt;
    QStringList names;
    for (const char *key : {"RequiredBy", "BoundBy", "WantedBy"}) {
        for (const QString &unit : stringsOf(Handle.m_unitProps.value(QLatin1String(key)))) {
            // Targets, sockets and the like are no services (they stand where drivers would).
            if (!isServiceUnit(unit))
                continue;
            const QString name = serviceNameOf(unit);
            if (!names.contains(name))
                names.append(name);
        }
    }
    if (!ActiveOnly)
        return names;
    QStringList active;
    for (const QString &name : names) {
        auto dep = openService(name);
        ServiceStatus st;
        if (dep && queryStatus(*dep, st) && st.State != StateStopped)
            active.append(name);
    }
    m_lastError.clear();
    return active;
}

bool ServiceManager::unitCall(ServiceHandle &Handle, const QString &Method, const QVariantList &Args)
{
    Handle.m_fresh = false;
    return call(ManagerPath, ManagerInterface, Method, Args, nullptr, true);
}

bool ServiceManager::start(ServiceHandle &Handle)
{
    return unitCall(Handle, QStringLiteral("StartUnit"), {Handle.m_unit, QStringLiteral("replace")});
}

bool ServiceManager::stop(ServiceHandle &Handle)
{
    return unitCall(Handle, QStringLiteral("StopUnit"), {Handle.m_unit, QStringLiteral("replace")});
}

bool ServiceManager::pause(ServiceHandle &Handle)
{
    return unitCall(Handle, QStringLiteral("FreezeUnit"), {Handle.m_unit});
}

bool ServiceManager::resume(ServiceHandle &Handle)
{
    return unitCall(Handle, QStringLiteral("ThawUnit"), {Handle.m_unit});
}

bool ServiceManager::setStartType(ServiceHandle &Handle, quint8 StartType)
{
    if (StartType != StartAutomatic && StartType != StartManual && StartType != StartDisabled)
        return false;
    // A handle just opened holds the unit's file state already.
    if (!Handle.m_fresh && !fetch(Handle))
        return false;
    const QStringList files{Handle.m_unit};
    const QString fileState = stringOf(Handle.m_unitProps, "UnitFileState");
    const bool masked = StartTypeOf(fileState) == StartDisabled;
    bool ok = true;
    if (StartType == StartDisabled) {
        ok = unitCall(Handle, QStringLiteral("MaskUnitFiles"), {files, false, true});
    } else {
        // A mask made for this boot only lives in the runtime directory and is lifted there.
        if (masked)
            ok = unitCall(Handle, QStringLiteral("UnmaskUnitFiles"),
                          {files, fileState == QLatin1String("masked-runtime")});
        if (ok && StartType == StartAutomatic)
            ok = unitCall(Handle, QStringLiteral("EnableUnitFiles"), {files, false, true});
        else if (ok)
            ok = unitCall(Handle, QStringLiteral("DisableUnitFiles"), {files, false});
    }
    if (!ok)
        return false;
    if (!call(ManagerPath, ManagerInterface, QStringLiteral("Reload"), {}, nullptr, true))
        return false;
    // A unit without install information cannot be enabled: the change did not happen then.
    if (!fetch(Handle))
        return false;
    if (StartTypeOf(stringOf(Handle.m_unitProps, "UnitFileState")) != StartType) {
        m_lastError = QStringLiteral("the start type of %1 did not change").arg(Handle.m_unit);
        return false;
    }
    return true;
}

quint8 ServiceManager::StateOf(const QString &ActiveState, const QString &FreezerState, const QString &JobType)
{
    if (FreezerState == QLatin1String("frozen"))
        return StatePaused;
    if (FreezerState == QLatin1String("freezing"))
        return StatePausePending;
    if (FreezerState == QLatin1String("thawing"))
        return StateContinuePending;
    if (ActiveState == QLatin1String("activating") || ActiveState == QLatin1String("reloading"))
        return StateStartPending;
    if (ActiveState == QLatin1String("deactivating"))
        return StateStopPending;
    const bool active = ActiveState == QLatin1String("active");
    // A queued job is the change the unit is about to make.
    if (JobType == QLatin1String("stop"))
        return StateStopPending;
    if (JobType == QLatin1String("restart") || JobType == QLatin1String("try-restart"))
        return active ? StateStopPending : StateStartPending;
    if (!JobType.isEmpty() && JobType != QLatin1String("nop") &&
        (!active || JobType.startsWith(QLatin1String("reload"))))
        return StateStartPending;
    return active ? StateRunning : StateStopped;
}

bool ServiceManager::StartTypeSettableOf(const QString &UnitFileState)
{
    static const QStringList settable{QStringLiteral("enabled"), QStringLiteral("enabled-runtime"),
                                      QStringLiteral("disabled"), QStringLiteral("masked"),
                                      QStringLiteral("masked-runtime")};
    return settable.contains(UnitFileState);
}

quint8 ServiceManager::StartTypeOf(const QString &UnitFileState)
{
    if (UnitFileState == QLatin1String("enabled") || UnitFileState == QLatin1String("enabled-runtime"))
        return StartAutomatic;
    if (UnitFileState == QLatin1String("masked") || UnitFileState == QLatin1String("masked-runtime"))
        return StartDisabled;
    return StartManual;
}

} // namespace platform::services
