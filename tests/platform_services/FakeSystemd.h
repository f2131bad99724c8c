#pragma once

// A stand-in for the service manager: a private message bus started by the test, and on it an
// object that answers the calls the program makes, with a few scripted units whose state changes
// as the calls say. Nothing here touches the machine's own bus or services.

#include "common/TempDir.h"
#include "platform/services/ServiceManager.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <QWaitCondition>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace fakesd {

struct ExecCommand
{
    QString path;
    QStringList argv;
    bool ignoreFailure = false;
    quint64 t1 = 0, t2 = 0, t3 = 0, t4 = 0;
    quint32 pid = 0;
    qint32 code = 0, status = 0;
};

struct JobRef
{
    quint32 id = 0;
    QDBusObjectPath path{QStringLiteral("/")};
};

struct Change
{
    QString type, file, dest;
};

struct UnitFileEntry
{
    QString path, state;
};

struct ListedUnit
{
    QString id, description, loadState, activeState, subState, following;
    QDBusObjectPath path;
    quint32 jobId = 0;
    QString jobType;
    QDBusObjectPath jobPath;
};

inline QDBusArgument &operator<<(QDBusArgument &a, const ListedUnit &u)
{
    a.beginStructure();
    a << u.id << u.description << u.loadState << u.activeState << u.subState << u.following << u.path << u.jobId
      << u.jobType << u.jobPath;
    a.endStructure();
    return a;
}
inline const QDBusArgument &operator>>(const QDBusArgument &a, ListedUnit &u)
{
    a.beginStructure();
    a >> u.id >> u.description >> u.loadState >> u.activeState >> u.subState >> u.following >> u.path >> u.jobId >>
        u.jobType >> u.jobPath;
    a.endStructure();
    return a;
}
inline QDBusArgument &operator<<(QDBusArgument &a, const UnitFileEntry &f)
{
    a.beginStructure();
    a << f.path << f.state;
    a.endStructure();
    return a;
}
inline const QDBusArgument &operator>>(const QDBusArgument &a, UnitFileEntry &f)
{
    a.beginStructure();
    a >> f.path >> f.state;
    a.endStructure();
    return a;
}
inline QDBusArgument &operator<<(QDBusArgument &a, const ExecCommand &e)
{
    a.beginStructure();
    a << e.path << e.argv << e.ignoreFailure << qulonglong(e.t1) << qulonglong(e.t2) << qulonglong(e.t3)
      << qulonglong(e.t4) << e.pid << e.code << e.status;
    a.endStructure();
    return a;
}
inline const QDBusArgument &operator>>(const QDBusArgument &a, ExecCommand &e)
{
    qulonglong t1, t2, t3, t4;
    a.beginStructure();
    a >> e.path >> e.argv >> e.ignoreFailure >> t1 >> t2 >> t3 >> t4 >> e.pid >> e.code >> e.status;
    a.endStructure();
    return a;
}
inline QDBusArgument &operator<<(QDBusArgument &a, const JobRef &j)
{
    a.beginStructure();
    a << j.id << j.path;
    a.endStructure();
    return a;
}
inline const QDBusArgument &operator>>(const QDBusArgument &a, JobRef &j)
{
    a.beginStructure();
    a >> j.id >> j.path;
    a.endStructure();
    return a;
}
inline QDBusArgument &operator<<(QDBusArgument &a, const Change &c)
{
    a.beginStructure();
    a << c.type << c.file << c.dest;
    a.endStructure();
    return a;
}
inline const QDBusArgument &operator>>(const QDBusArgument &a, Change &c)
{
    a.beginStructure();
    a >> c.type >> c.file >> c.dest;
    a.endStructure();
    return a;
}

} // namespace fakesd

Q_DECLARE_METATYPE(fakesd::ExecCommand)
Q_DECLARE_METATYPE(fakesd::JobRef)
Q_DECLARE_METATYPE(fakesd::Change)
Q_DECLARE_METATYPE(fakesd::ListedUnit)
Q_DECLARE_METATYPE(fakesd::UnitFileEntry)

namespace fakesd {

// One scripted unit. Delays are in milliseconds; -1 keeps the change pending for ever.
struct Unit
{
    QString name; // without ".service"; other kinds give the whole id
    QString description;
    QStringList documentation;
    QString loadState = QStringLiteral("loaded");
    QString activeState = QStringLiteral("inactive");
    QString freezerState = QStringLiteral("running");
    QString unitFileState = QStringLiteral("disabled");
    QString user;
    QString execPath = QStringLiteral("/usr/bin/true");
    QStringList argv{QStringLiteral("/usr/bin/true")};
    QStringList requiredBy, wantedBy, boundBy; // unit ids
    bool canStop = true;
    bool canFreeze = true;
    bool loaded = true;       // listed by ListUnits; otherwise only its unit file is
    bool installable = true;  // false: a static unit that cannot be enabled
    bool startFails = false;  // a start ends in "failed"
    bool refusesStop = false; // a stop ends back in "active"
    bool unreadable = false;  // its properties are refused
    bool silent = false;      // questions about its properties are never answered
    // Each question about its properties is answered this much later (ms), one after the other:
    // a manager that answers, but slowly.
    int answerDelay = 0;
    bool dynamicUser = false;
    QStringList missing; // properties this manager does not have (an older one)
    int startDelay = 0;
    int stopDelay = 0;
    // Reads of the unit that still show it inactive with a job that has ended by the time it is
    // asked about (the unit changed between the two reads).
    int staleReads = 0;
    quint64 timeoutStartUSec = 3000000;
    quint64 timeoutStopUSec = 3000000;

    // Scripted change in progress.
    QString pendingTarget;
    std::optional<QDeadlineTimer> pendingUntil;
    quint32 jobId = 0;
    QString jobType;
    quint32 mainPid = 0;

    QString id() const { return name.contains(QLatin1Char('.')) ? name : name + QStringLiteral(".service"); }
};

inline QString escapePath(const QString &Id)
{
    QString out;
    for (QChar c : Id) {
        if (c.isLetterOrNumber() && c.unicode() < 128)
            out += c;
        else
            out += QStringLiteral("_%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return QStringLiteral("/org/freedesktop/systemd1/unit/") + out;
}

// The object on the bus. Its calls run on its own thread, so a test may block on a call to it.
class Manager : public QDBusVirtualObject
{
public:
    // Every call received: "Method unit" (or just "Method").
    QStringList calls() const
    {
        QMutexLocker l(&m_mutex);
        return m_calls;
    }
    void clearCalls()
    {
        QMutexLocker l(&m_mutex);
        m_calls.clear();
    }
    // Where the unit files are: the manager's only unit folder.
    void setUnitFolder(const QString &Folder)
    {
        QMutexLocker l(&m_mutex);
        m_folder = Folder;
    }
    // A unit file for every unit that has one, a template, and another name of the first unit.
    void setUnits(const std::vector<Unit> &Units)
    {
        QMutexLocker l(&m_mutex);
        m_units = Units;
        m_calls.clear();
        // Answers held back for units no longer there go now.
        m_wake.wakeAll();
        m_aliases.clear();
        if (m_folder.isEmpty())
            return;
        QDir folder(m_folder);
        folder.removeRecursively();
        QDir().mkpath(m_folder);
        auto write = [&](const QString &Id) {
            QFile f(folder.filePath(Id));
            f.open(QIODevice::WriteOnly);
        };
        for (const Unit &u : m_units)
            if (u.loadState != QLatin1String("not-found"))
                write(u.id());
        write(QStringLiteral("getty@.service"));
        if (!m_units.empty()) {
            const QString alias = QStringLiteral("alias-of-") + m_units.front().id();
            QFile::link(m_units.front().id(), folder.filePath(alias));
            m_aliases.insert(alias, m_units.front().id());
        }
    }
    // Runs F on the unit under the lock (null when absent).
    template <typename F>
    void withUnit(const QString &Name, F Fn)
    {
        QMutexLocker l(&m_mutex);
        Fn(find(Name + QStringLiteral(".service")) ? find(Name + QStringLiteral(".service")) : find(Name));
    }
    std::optional<Unit> unit(const QString &Name)
    {
        QMutexLocker l(&m_mutex);
        advance();
        Unit *u = find(Name + QStringLiteral(".service"));
        return u ? std::optional(*u) : std::nullopt;
    }
    // The unit list is answered this much later, and every call after it waits its turn: a
    // manager busy starting units.
    void setListDelay(int Ms)
    {
        QMutexLocker l(&m_mutex);
        m_listDelay = Ms;
    }
    // The unit list is refused with this error (an empty name answers it again).
    void setListError(const QString &Name, const QString &Text)
    {
        QMutexLocker l(&m_mutex);
        m_listError = {Name, Text};
    }
    // Answers every call with values of the wrong shape.
    void setHostile(bool Value)
    {
        QMutexLocker l(&m_mutex);
        m_hostile = Value;
    }

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &Msg, const QDBusConnection &Conn) override
    {
        QMutexLocker l(&m_mutex);
        advance();
        const QString member = Msg.member();
        const QVariantList args = Msg.arguments();
        auto reply = [&](const QVariantList &Out) { Conn.send(Msg.createReply(Out)); };
        if (m_hostile) {
            QVariantMap odd;
            odd[QStringLiteral("ActiveState")] = 42;
            odd[QStringLiteral("Job")] = QStringLiteral("(uo)");
            odd[QStringLiteral("ExecStart")] = QStringList{QStringLiteral("/bin/sh")};
            odd[QStringLiteral("RequiredBy")] = 7;
            odd[QStringLiteral("LoadState")] = QStringLiteral("loaded");
            if (member == QLatin1String("LoadUnit"))
                reply({QVariant::fromValue(QDBusObjectPath(escapePath(args.value(0).toString())))});
            else if (member == QLatin1String("GetAll"))
                reply({QVariant::fromValue(odd)});
            else if (member == QLatin1String("Get"))
                reply({QVariant::fromValue(QDBusVariant(odd.value(args.value(1).toString(), 42)))});
            else
                reply({QStringLiteral("nonsense"), 12});
            return true;
        }
        auto error = [&](const char *Name, const QString &Text) {
            Conn.send(Msg.createErrorReply(QLatin1String(Name), Text));
        };
        const QString arg0 = args.isEmpty() ? QString() : args.first().toString();
        if (Msg.interface() == QLatin1String("org.freedesktop.DBus.Peer") && member == QLatin1String("Ping")) {
            reply({});
            return true;
        }
        if (Msg.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
            m_calls << member + QLatin1Char(' ') + arg0;
            if (Msg.path().startsWith(QLatin1String("/org/freedesktop/systemd1/job/"))) {
                const quint32 id = Msg.path().section(QLatin1Char('/'), -1).toUInt();
                for (const Unit &u : m_units)
                    if (u.jobId == id && id != 0) {
                        reply({QVariant::fromValue(QDBusVariant(u.jobType))});
                        return true;
                    }
                error("org.freedesktop.DBus.Error.UnknownObject", QStringLiteral("no such job"));
                return true;
            }
            if (Msg.path() == QLatin1String("/org/freedesktop/systemd1")) {
                if (member == QLatin1String("Get") && args.value(1).toString() == QLatin1String("UnitPath"))
                    reply({QVariant::fromValue(
                        QDBusVariant(QStringList{m_folder + QStringLiteral("-missing"), m_folder}))});
                else
                    error("org.freedesktop.DBus.Error.UnknownProperty", args.value(1).toString());
                return true;
            }
            Unit *u = byPath(Msg.path());
            if (!u) {
                error("org.freedesktop.DBus.Error.UnknownObject", QStringLiteral("no such unit"));
                return true;
            }
            if (u->unreadable) {
                error("org.freedesktop.DBus.Error.AccessDenied", QStringLiteral("refused"));
                return true;
            }
            if (u->silent)
                return true;
            if (u->answerDelay > 0) {
                // Held back without the lock, so that the test may change the units meanwhile.
                const QString path = Msg.path();
                QDeadlineTimer until(u->answerDelay);
                while (u && u->answerDelay > 0 && !until.hasExpired()) {
                    m_wake.wait(&m_mutex, until);
                    u = byPath(path);
                }
                if (!u) {
                    error("org.freedesktop.DBus.Error.UnknownObject", QStringLiteral("no such unit"));
                    return true;
                }
            }
            if (member == QLatin1String("Get")) {
                // One property, from the same values GetAll gives.
                const QString name = args.value(1).toString();
                QVariantMap props;
                if (arg0 == QLatin1String("org.freedesktop.systemd1.Unit") && u->staleReads > 0) {
                    // The unit as it was before its job ended; its job is gone once asked about.
                    Unit before = *u;
                    before.activeState = QStringLiteral("inactive");
                    before.jobId = 999999;
                    props = unitProps(before);
                    if (name == QLatin1String("Job"))
                        --u->staleReads;
                } else if (arg0 == QLatin1String("org.freedesktop.systemd1.Unit"))
                    props = unitProps(*u);
                else if (arg0 == QLatin1String("org.freedesktop.systemd1.Service"))
                    props = serviceProps(*u);
                if (props.contains(name))
                    reply({QVariant::fromValue(QDBusVariant(props.value(name)))});
                else
                    error("org.freedesktop.DBus.Error.UnknownProperty", name);
                return true;
            }
            if (arg0 == QLatin1String("org.freedesktop.systemd1.Unit") && u->staleReads > 0) {
                --u->staleReads;
                Unit before = *u;
                before.activeState = QStringLiteral("inactive");
                before.jobId = 999999;
                reply({QVariant::fromValue(unitProps(before))});
            } else if (arg0 == QLatin1String("org.freedesktop.systemd1.Unit"))
                reply({QVariant::fromValue(unitProps(*u))});
            else if (arg0 == QLatin1String("org.freedesktop.systemd1.Service"))
                reply({QVariant::fromValue(serviceProps(*u))});
            else
                error("org.freedesktop.DBus.Error.UnknownInterface", arg0);
            return true;
        }
        m_calls << (arg0.isEmpty() ? member : member + QLatin1Char(' ') + arg0);
        if (member == QLatin1String("ListUnits") && !m_listError.first.isEmpty()) {
            Conn.send(Msg.createErrorReply(m_listError.first, m_listError.second));
        } else if (member == QLatin1String("ListUnits")) {
            if (m_listDelay > 0)
                QThread::msleep(ulong(m_listDelay));
            advance();
            reply({QVariant::fromValue(listUnits())});
        } else if (member == QLatin1String("ListUnitFilesByPatterns")) {
            const QStringList patterns = args.value(1).toStringList();
            m_calls.last() = member + QLatin1Char(' ') + patterns.join(QLatin1Char(','));
            QList<UnitFileEntry> files;
            for (const Unit &u : m_units)
                if (u.loadState != QLatin1String("not-found") && (patterns.isEmpty() || patterns.contains(u.id())))
                    files.append({m_folder + QLatin1Char('/') + u.id(), u.unitFileState});
            reply({QVariant::fromValue(files)});
        } else if (member == QLatin1String("LoadUnit")) {
            Unit *u = find(arg0);
            if (!u) {
                // Like the real manager: a stub that is not found.
                Unit stub;
                stub.name = arg0.endsWith(QLatin1String(".service")) ? arg0.chopped(8) : arg0;
                stub.loadState = QStringLiteral("not-found");
                stub.loaded = false;
                m_stubs.push_back(stub);
                reply({QVariant::fromValue(QDBusObjectPath(escapePath(arg0)))});
            } else {
                u->loaded = true;
                reply({QVariant::fromValue(QDBusObjectPath(escapePath(u->id())))});
            }
        } else if (member == QLatin1String("StartUnit") || member == QLatin1String("StopUnit")) {
            Unit *u = find(arg0);
            if (!u) {
                error("org.freedesktop.systemd1.NoSuchUnit", QStringLiteral("Unit %1 not found.").arg(arg0));
            } else if (member == QLatin1String("StartUnit") && u->unitFileState == QLatin1String("masked")) {
                error("org.freedesktop.systemd1.UnitMasked", QStringLiteral("Unit %1 is masked.").arg(arg0));
            } else {
                const bool start = member == QLatin1String("StartUnit");
                begin(*u, start);
                reply({QVariant::fromValue(
                    QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/%1").arg(++m_lastJob)))});
            }
        } else if (member == QLatin1String("FreezeUnit") || member == QLatin1String("ThawUnit")) {
            Unit *u = find(arg0);
            if (!u || u->activeState != QLatin1String("active") || !u->canFreeze) {
                error("org.freedesktop.systemd1.UnitInactive", QStringLiteral("cannot"));
            } else {
                u->freezerState =
                    member == QLatin1String("FreezeUnit") ? QStringLiteral("frozen") : QStringLiteral("running");
                reply({});
            }
        } else if (member.endsWith(QLatin1String("UnitFiles"))) {
            const QStringList files = args.isEmpty() ? QStringList() : args.first().toStringList();
            m_calls.last() = member + QLatin1Char(' ') + files.join(QLatin1Char(','));
            QList<Change> changes;
            for (const QString &f : files) {
                Unit *u = find(f);
                if (!u) {
                    error("org.freedesktop.DBus.Error.FileNotFound", f);
                    return true;
                }
                if (member == QLatin1String("EnableUnitFiles")) {
                    if (u->unitFileState == QLatin1String("masked")) {
                        error("org.freedesktop.systemd1.UnitMasked", f);
                        return true;
                    }
                    if (u->installable)
                        u->unitFileState = QStringLiteral("enabled");
                } else if (member == QLatin1String("DisableUnitFiles")) {
                    if (u->installable && u->unitFileState != QLatin1String("masked"))
                        u->unitFileState = QStringLiteral("disabled");
                } else if (member == QLatin1String("MaskUnitFiles")) {
                    u->unitFileState = QStringLiteral("masked");
                } else if (member == QLatin1String("UnmaskUnitFiles")) {
                    if (u->unitFileState == QLatin1String("masked"))
                        u->unitFileState = u->installable ? QStringLiteral("disabled") : QStringLiteral("static");
                }
                changes.append({QStringLiteral("symlink"), f, QString()});
            }
            if (member == QLatin1String("EnableUnitFiles"))
                reply({true, QVariant::fromValue(changes)});
            else
                reply({QVariant::fromValue(changes)});
        } else if (member == QLatin1String("Reload")) {
            reply({});
        } else {
            error("org.freedesktop.DBus.Error.UnknownMethod", member);
        }
        return true;
    }

private:
    Unit *find(const QString &Id)
    {
        for (Unit &u : m_units)
            if (u.id() == Id)
                return &u;
        return nullptr;
    }
    Unit *byPath(const QString &Path)
    {
        for (Unit &u : m_units)
            if (escapePath(u.id()) == Path)
                return &u;
        for (Unit &u : m_stubs)
            if (escapePath(u.id()) == Path)
                return &u;
        // Another name of a unit reaches the unit itself.
        for (auto it = m_aliases.cbegin(); it != m_aliases.cend(); ++it)
            if (escapePath(it.key()) == Path)
                return find(it.value());
        return nullptr;
    }
    void finish(Unit &u)
    {
        u.activeState = u.pendingTarget;
        u.pendingTarget.clear();
        u.pendingUntil.reset();
        u.jobId = 0;
        u.jobType.clear();
        u.mainPid = u.activeState == QLatin1String("active") ? 4000000 + quint32(&u - m_units.data()) : 0;
        if (u.activeState != QLatin1String("active"))
            u.freezerState = QStringLiteral("running");
    }
    void begin(Unit &u, bool Start)
    {
        const QString want = Start ? QStringLiteral("active") : QStringLiteral("inactive");
        const bool already = (u.activeState == want) || (!Start && u.activeState == QLatin1String("failed"));
        if (already && u.pendingTarget.isEmpty())
            return;
        QString target = want;
        if (Start && u.startFails)
            target = QStringLiteral("failed");
        if (!Start && u.refusesStop)
            target = QStringLiteral("active");
        const int delay = Start ? u.startDelay : u.stopDelay;
        u.pendingTarget = target;
        if (delay == 0) {
            finish(u);
            return;
        }
        u.activeState = Start ? QStringLiteral("activating") : QStringLiteral("deactivating");
        u.jobId = ++m_lastJob;
        u.jobType = Start ? QStringLiteral("start") : QStringLiteral("stop");
        u.pendingUntil = delay < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(delay);
    }
    void advance()
    {
        for (Unit &u : m_units)
            if (u.pendingUntil && u.pendingUntil->hasExpired())
                finish(u);
    }
    QVariantMap unitProps(const Unit &u) const
    {
        QVariantMap m;
        m[QStringLiteral("Id")] = u.id();
        m[QStringLiteral("Description")] = u.description;
        m[QStringLiteral("Documentation")] = u.documentation;
        m[QStringLiteral("LoadState")] = u.loadState;
        m[QStringLiteral("ActiveState")] = u.activeState;
        m[QStringLiteral("SubState")] =
            u.activeState == QLatin1String("active") ? QStringLiteral("running") : QStringLiteral("dead");
        m[QStringLiteral("FreezerState")] = u.freezerState;
        m[QStringLiteral("UnitFileState")] = u.loadState == QLatin1String("not-found") ? QString() : u.unitFileState;
        m[QStringLiteral("CanStop")] = u.canStop;
        m[QStringLiteral("CanFreeze")] = u.canFreeze;
        m[QStringLiteral("RequiredBy")] = u.requiredBy;
        m[QStringLiteral("WantedBy")] = u.wantedBy;
        m[QStringLiteral("BoundBy")] = u.boundBy;
        JobRef job;
        if (u.jobId) {
            job.id = u.jobId;
            job.path = QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/%1").arg(u.jobId));
        }
        m[QStringLiteral("Job")] = QVariant::fromValue(job);
        for (const QString &name : u.missing)
            m.remove(name);
        return m;
    }
    QVariantMap serviceProps(const Unit &u) const
    {
        QVariantMap m;
        m[QStringLiteral("Type")] = QStringLiteral("simple");
        m[QStringLiteral("User")] = u.user;
        m[QStringLiteral("DynamicUser")] = u.dynamicUser;
        m[QStringLiteral("MainPID")] = u.mainPid;
        m[QStringLiteral("TimeoutStartUSec")] = qulonglong(u.timeoutStartUSec);
        m[QStringLiteral("TimeoutStopUSec")] = qulonglong(u.timeoutStopUSec);
        QList<ExecCommand> exec;
        if (!u.execPath.isEmpty()) {
            ExecCommand e;
            e.path = u.execPath;
            e.argv = u.argv;
            exec.append(e);
        }
        m[QStringLiteral("ExecStart")] = QVariant::fromValue(exec);
        return m;
    }
    QList<ListedUnit> listUnits() const
    {
        QList<ListedUnit> out;
        for (const Unit &u : m_units) {
            if (!u.loaded)
                continue;
            const QString job =
                u.jobId ? QStringLiteral("/org/freedesktop/systemd1/job/%1").arg(u.jobId) : QStringLiteral("/");
            out.append({u.id(), u.description, u.loadState, u.activeState, QStringLiteral("running"), QString(),
                        QDBusObjectPath(escapePath(u.id())), u.jobId, u.jobType, QDBusObjectPath(job)});
        }
        return out;
    }

private:
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    std::vector<Unit> m_units;
    std::vector<Unit> m_stubs;
    QHash<QString, QString> m_aliases; // another name -> the unit's id
    QString m_folder;
    QStringList m_calls;
    quint32 m_lastJob = 100;
    int m_listDelay = 0;
    std::pair<QString, QString> m_listError;
    bool m_hostile = false;
};

// The private bus with the fake manager on it. The platform layer is pointed at the bus
// through its variable for the life of this object.
class Bus
{
public:
    Bus()
    {
        qDBusRegisterMetaType<ExecCommand>();
        qDBusRegisterMetaType<QList<ExecCommand>>();
        qDBusRegisterMetaType<JobRef>();
        qDBusRegisterMetaType<Change>();
        qDBusRegisterMetaType<QList<Change>>();
        qDBusRegisterMetaType<ListedUnit>();
        qDBusRegisterMetaType<UnitFileEntry>();
        qDBusRegisterMetaType<QList<UnitFileEntry>>();
        qDBusRegisterMetaType<QList<ListedUnit>>();

        const QString config = m_dir.file(QStringLiteral("bus.conf"));
        if (!writeConfig(false))
            return;
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        m_daemon.setArguments(
            {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        m_daemon.start();
        if (!m_daemon.waitForStarted(5000))
            return;
        QDeadlineTimer deadline(5000);
        while (!m_daemon.canReadLine() && !deadline.hasExpired())
            m_daemon.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty())
            return;
        m_server = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_address, QStringLiteral("fake-systemd-server")));
        if (!m_server->isConnected() || !m_server->registerService(QStringLiteral("org.freedesktop.systemd1")))
            return;
        if (!m_server->registerVirtualObject(QStringLiteral("/org/freedesktop/systemd1"), &manager,
                                             QDBusConnection::SubPath))
            return;
        // Its calls are answered on a thread of its own: the test's thread blocks in them.
        m_thread.start();
        manager.moveToThread(&m_thread);
        manager.setUnitFolder(m_dir.file(QStringLiteral("units")));
        qputenv(platform::services::kBusAddressVariable, m_address.toUtf8());
        m_ok = true;
    }
    ~Bus()
    {
        qunsetenv(platform::services::kBusAddressVariable);
        if (m_server) {
            m_server->unregisterObject(QStringLiteral("/org/freedesktop/systemd1"), QDBusConnection::UnregisterTree);
            m_server.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-systemd-server"));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("taskvane-systemd:") + m_address);
        m_thread.quit();
        m_thread.wait();
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
    bool ok() const { return m_ok; }
    const QString &address() const { return m_address; }
    // The bus itself refuses pings to the manager. The toolkit answers them for the stand-in at
    // once, past the questions it holds back; a real manager answers them in their turn, and so
    // its pings tell nothing sooner than its other answers.
    bool refusePing(bool Refuse)
    {
        if (!writeConfig(Refuse))
            return false;
        const QDBusMessage reload = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig"));
        return m_server && m_server->call(reload, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    }

    Manager manager;

private:
    bool writeConfig(bool RefusePing)
    {
        QFile f(m_dir.file(QStringLiteral("bus.conf")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        const QString refusal = RefusePing ? QStringLiteral("<deny send_destination=\"org.freedesktop.systemd1\" "
                                                            "send_interface=\"org.freedesktop.DBus.Peer\"/>")
                                           : QString();
        f.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                               "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                               "<allow eavesdrop=\"true\"/><allow own=\"*\"/>%2</policy></busconfig>\n")
                    .arg(m_dir.path(), refusal)
                    .toUtf8());
        return f.error() == QFileDevice::NoError;
    }

    tvtest::TempDir m_dir;
    QProcess m_daemon;
    QThread m_thread;
    QString m_address;
    std::unique_ptr<QDBusConnection> m_server;
    bool m_ok = false;
};

// A service unit with a description and a start command.
inline Unit Service(const QString &Name, const QString &State = QStringLiteral("inactive"),
                    const QString &FileState = QStringLiteral("disabled"))
{
    Unit u;
    u.name = Name;
    u.description = Name + QStringLiteral(" daemon");
    u.activeState = State;
    u.unitFileState = FileState;
    u.execPath = QStringLiteral("/usr/sbin/") + Name;
    u.argv = {QStringLiteral("/usr/sbin/") + Name, QStringLiteral("--foreground")};
    if (State == QLatin1String("active"))
        u.mainPid = 4100000;
    return u;
}

} // namespace fakesd
