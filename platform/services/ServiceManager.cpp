#include "platform/services/ServiceManager.h"

#include "platform/Logging.h"

#include "platform/system/TestVariables.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QHash>
#include <QSet>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::services {

namespace {

const QString kDestination = QStringLiteral("org.freedesktop.systemd1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString kServiceInterface = QStringLiteral("org.freedesktop.systemd1.Service");
const QString kJobInterface = QStringLiteral("org.freedesktop.systemd1.Job");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kServiceSuffix = QStringLiteral(".service");

QDBusConnection OpenBus()
{
    const QString address = system::TestVariable(kBusAddressVariable);
    if (address.isEmpty())
        return QDBusConnection::systemBus();
    // One named connection per address; connecting again hands back the existing one.
    return QDBusConnection::connectToBus(address, QStringLiteral("taskvane-systemd:") + address);
}

// A complex value arrives as a marshalled argument; anything of another shape is refused
// rather than read with the wrong layout.
bool ArgumentOf(const QVariant &Value, const char *Signature, QDBusArgument &Arg)
{
    if (Value.metaType() != QMetaType::fromType<QDBusArgument>())
        return false;
    Arg = Value.value<QDBusArgument>();
    return Arg.currentSignature() == QLatin1String(Signature);
}

QStringList StringsOf(const QVariant &Value)
{
    if (Value.metaType() == QMetaType::fromType<QStringList>())
        return Value.toStringList();
    QDBusArgument holder;
    if (!ArgumentOf(Value, "as", holder))
        return {};
    const QDBusArgument &arg = holder;
    QStringList list;
    arg >> list;
    return list;
}

QString StringOf(const QVariantMap &Props, const char *Key)
{
    const QVariant v = Props.value(QLatin1String(Key));
    return v.metaType() == QMetaType::fromType<QString>() ? v.toString() : QString();
}

bool BoolOf(const QVariantMap &Props, const char *Key)
{
    const QVariant v = Props.value(QLatin1String(Key));
    return v.metaType() == QMetaType::fromType<bool>() && v.toBool();
}

quint64 UintOf(const QVariantMap &Props, const char *Key)
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

QString Quoted(const QString &Arg)
{
    if (!Arg.isEmpty() && !Arg.contains(QLatin1Char(' ')) && !Arg.contains(QLatin1Char('\t')))
        return Arg;
    return QLatin1Char('"') + Arg + QLatin1Char('"');
}

// The program and arguments of the unit's first start command.
QString CommandLineOf(const QVariant &ExecStart)
{
    QDBusArgument holder;
    if (!ArgumentOf(ExecStart, "a(sasbttttuii)", holder))
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
        line = Quoted(path);
        for (qsizetype i = 1; i < argv.size(); ++i)
            line += QLatin1Char(' ') + Quoted(argv.at(i));
    }
    arg.endArray();
    return line;
}

bool IsServiceUnit(const QString &Unit)
{
    // Templates ("name@.service") cannot run by themselves.
    return Unit.endsWith(kServiceSuffix) && Unit.size() > kServiceSuffix.size() &&
        !Unit.endsWith(QStringLiteral("@") + kServiceSuffix);
}

QString ServiceNameOf(const QString &Unit)
{
    return Unit.left(Unit.size() - kServiceSuffix.size());
}

std::atomic<CallObserver *> s_observer{nullptr};

} // namespace

void SetCallObserver(CallObserver *Observer)
{
    s_observer = Observer;
}

void detail::NoteSent(const QString &Member, const QString &Path)
{
    if (CallObserver *o = s_observer.load())
        o->Sent(Member, Path);
}

void detail::NoteAnswered(const QString &Member, const QString &Path)
{
    if (CallObserver *o = s_observer.load())
        o->Answered(Member, Path);
}

void ServiceManager::SetLastError(const QString &Error)
{
    m_LastError = Error;
    qCWarning(lcPlatform) << "service manager:" << Error;
}

ServiceManager::ServiceManager() : m_Bus(OpenBus()) {}

bool ServiceManager::IsConnected() const
{
    return m_Bus.isConnected();
}

bool ServiceManager::Ping()
{
    return Call(kManagerPath, QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"), {}, nullptr, false);
}

bool ServiceManager::Call(const QString &Path, const QString &Interface, const QString &Method,
                          const QVariantList &Args, QList<QVariant> *Reply, bool Action)
{
    m_LastError.clear();
    if (!m_Bus.isConnected()) {
        SetLastError(QStringLiteral("no connection to the service manager"));
        return false;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(kDestination, Path, Interface, Method);
    msg.setArguments(Args);
    // Changes may need the user's consent (an authorisation agent asks): give them time.
    msg.setInteractiveAuthorizationAllowed(Action);
    detail::NoteSent(Method, Path);
    const QDBusMessage reply = m_Bus.call(msg, QDBus::Block, Action ? kActionTimeoutMs : kQueryTimeoutMs);
    detail::NoteAnswered(Method, Path);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString why = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        SetLastError(why.isEmpty() ? QStringLiteral("no answer from the service manager") : why);
        return false;
    }
    if (Reply)
        *Reply = reply.arguments();
    return true;
}

bool ServiceManager::GetAll(const QString &Path, const QString &Interface, QVariantMap &Props)
{
    QList<QVariant> reply;
    if (!Call(Path, kPropertiesInterface, QStringLiteral("GetAll"), {Interface}, &reply, false))
        return false;
    if (reply.isEmpty())
        return false;
    const QVariant &v = reply.first();
    if (v.metaType() == QMetaType::fromType<QVariantMap>()) {
        Props = v.toMap();
        return true;
    }
    QDBusArgument holder;
    if (!ArgumentOf(v, "a{sv}", holder)) {
        SetLastError(QStringLiteral("malformed properties"));
        return false;
    }
    const QDBusArgument &arg = holder;
    Props.clear();
    arg >> Props;
    return true;
}

std::optional<QString> ServiceManager::JobType(const QVariant &Job)
{
    QDBusArgument holder;
    if (!ArgumentOf(Job, "(uo)", holder))
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
    if (!Call(path.path(), kPropertiesInterface, QStringLiteral("Get"), {kJobInterface, QStringLiteral("JobType")},
              &reply, false) ||
        reply.isEmpty())
        return std::nullopt;
    const QVariant v = reply.first().value<QDBusVariant>().variant();
    return v.metaType() == QMetaType::fromType<QString>() ? v.toString() : QString();
}

namespace {

// What a listing asks each unit, and on which interface.
enum class Prop : quint8 {
    Description,
    LoadState,
    ActiveState,
    Documentation,
    FreezerState,
    CanStop,
    CanFreeze,
    RequiredBy,
    BoundBy,
    WantedBy,
    UnitFileState,
    ExecStart,
    User,
    MainPID,
    Id,
};

struct PropName
{
    const char *Interface;
    const char *Name;
};

constexpr PropName kPropNames[] = {
    {"org.freedesktop.systemd1.Unit", "Description"},
    {"org.freedesktop.systemd1.Unit", "LoadState"},
    {"org.freedesktop.systemd1.Unit", "ActiveState"},
    {"org.freedesktop.systemd1.Unit", "Documentation"},
    {"org.freedesktop.systemd1.Unit", "FreezerState"},
    {"org.freedesktop.systemd1.Unit", "CanStop"},
    {"org.freedesktop.systemd1.Unit", "CanFreeze"},
    {"org.freedesktop.systemd1.Unit", "RequiredBy"},
    {"org.freedesktop.systemd1.Unit", "BoundBy"},
    {"org.freedesktop.systemd1.Unit", "WantedBy"},
    {"org.freedesktop.systemd1.Unit", "UnitFileState"},
    {"org.freedesktop.systemd1.Service", "ExecStart"},
    {"org.freedesktop.systemd1.Service", "User"},
    {"org.freedesktop.systemd1.Service", "MainPID"},
    {"org.freedesktop.systemd1.Unit", "Id"},
};

// One unit while its answers come in.
struct UnitRead
{
    QString Id;
    std::string Path;
    bool Listed = false; // reported by ListUnits, with its state and description
    bool Link = false;   // its unit file is a symbolic link: it may name another unit
    QString Canonical;   // the name the manager knows the unit by, asked of links only
    QString Description, LoadState, ActiveState, JobType, FreezerState, UnitFileState, User, CommandLine;
    QStringList Documentation, RequiredBy, BoundBy, WantedBy;
    bool CanStop = false, CanFreeze = false;
    quint32 MainPID = 0;
    bool Failed = false; // a question about it was refused
};

struct Question
{
    std::size_t Unit;
    Prop What;
};

struct BusUnref
{
    void operator()(sd_bus *Bus) const { sd_bus_close_unref(Bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;

struct MessageUnref
{
    void operator()(sd_bus_message *Msg) const { sd_bus_message_unref(Msg); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

QString ErrorText(int Code)
{
    return QString::fromLocal8Bit(std::strerror(Code < 0 ? -Code : Code));
}

// Errors that say the bus or the manager cannot answer at all, as opposed to a refusal about
// one unit (gone meanwhile, no such property).
bool IsFatal(const sd_bus_error *Error)
{
    for (const char *name :
         {SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT, SD_BUS_ERROR_DISCONNECTED, SD_BUS_ERROR_LIMITS_EXCEEDED,
          SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_NO_MEMORY})
        if (sd_bus_error_has_name(Error, name))
            return true;
    return false;
}

bool ReadString(sd_bus_message *Msg, QString &Out)
{
    const char *text = nullptr;
    if (sd_bus_message_read(Msg, "v", "s", &text) < 0)
        return false;
    Out = QString::fromUtf8(text);
    return true;
}

bool ReadBool(sd_bus_message *Msg, bool &Out)
{
    int value = 0;
    if (sd_bus_message_read(Msg, "v", "b", &value) < 0)
        return false;
    Out = value != 0;
    return true;
}

bool ReadUint(sd_bus_message *Msg, quint32 &Out)
{
    uint32_t value = 0;
    if (sd_bus_message_read(Msg, "v", "u", &value) < 0)
        return false;
    Out = value;
    return true;
}

QStringList TakeStrings(char **List)
{
    QStringList out;
    for (char **p = List; p && *p; ++p) {
        out.append(QString::fromUtf8(*p));
        std::free(*p);
    }
    std::free(List);
    return out;
}

bool ReadStrings(sd_bus_message *Msg, QStringList &Out)
{
    if (sd_bus_message_enter_container(Msg, 'v', "as") <= 0)
        return false;
    char **list = nullptr;
    if (sd_bus_message_read_strv(Msg, &list) < 0)
        return false;
    Out = TakeStrings(list);
    return sd_bus_message_exit_container(Msg) >= 0;
}

// The program and arguments of the first start command, as commandLineOf gives them.
bool ReadCommandLine(sd_bus_message *Msg, QString &Out)
{
    if (sd_bus_message_enter_container(Msg, 'v', "a(sasbttttuii)") <= 0 ||
        sd_bus_message_enter_container(Msg, 'a', "(sasbttttuii)") <= 0)
        return false;
    Out.clear();
    bool first = true;
    for (;;) {
        const int r = sd_bus_message_enter_container(Msg, 'r', "sasbttttuii");
        if (r < 0)
            return false;
        if (r == 0)
            break;
        const char *path = nullptr;
        char **argv = nullptr;
        if (sd_bus_message_read(Msg, "s", &path) < 0 || sd_bus_message_read_strv(Msg, &argv) < 0)
            return false;
        const QStringList args = TakeStrings(argv);
        if (sd_bus_message_skip(Msg, "bttttuii") < 0 || sd_bus_message_exit_container(Msg) < 0)
            return false;
        if (!first)
            continue;
        first = false;
        Out = Quoted(QString::fromUtf8(path));
        for (qsizetype i = 1; i < args.size(); ++i)
            Out += QLatin1Char(' ') + Quoted(args.at(i));
    }
    return sd_bus_message_exit_container(Msg) >= 0 && sd_bus_message_exit_container(Msg) >= 0;
}

bool ReadAnswer(sd_bus_message *Msg, Prop What, UnitRead &Unit)
{
    switch (What) {
    case Prop::Description:
        return ReadString(Msg, Unit.Description);
    case Prop::LoadState:
        return ReadString(Msg, Unit.LoadState);
    case Prop::ActiveState:
        return ReadString(Msg, Unit.ActiveState);
    case Prop::Documentation:
        return ReadStrings(Msg, Unit.Documentation);
    case Prop::FreezerState:
        return ReadString(Msg, Unit.FreezerState);
    case Prop::CanStop:
        return ReadBool(Msg, Unit.CanStop);
    case Prop::CanFreeze:
        return ReadBool(Msg, Unit.CanFreeze);
    case Prop::RequiredBy:
        return ReadStrings(Msg, Unit.RequiredBy);
    case Prop::BoundBy:
        return ReadStrings(Msg, Unit.BoundBy);
    case Prop::WantedBy:
        return ReadStrings(Msg, Unit.WantedBy);
    case Prop::UnitFileState:
        return ReadString(Msg, Unit.UnitFileState);
    case Prop::ExecStart:
        return ReadCommandLine(Msg, Unit.CommandLine);
    case Prop::User:
        return ReadString(Msg, Unit.User);
    case Prop::MainPID:
        return ReadUint(Msg, Unit.MainPID);
    case Prop::Id:
        return ReadString(Msg, Unit.Canonical);
    }
    return false;
}

// A service unit file found in a unit folder.
struct UnitFileName
{
    QString Id;
    bool Link;
};

// The service unit files in the manager's unit folders, as the manager itself finds them: a name
// is taken from the first folder that has it, hidden entries and anything but files and links
// are passed over. Missing or unreadable folders hold nothing. False when the folders hold more
// entries than MaxEntries together (Error says where).
bool FindUnitFiles(const QStringList &Folders, std::size_t MaxEntries, std::vector<UnitFileName> &Files, QString &Error)
{
    QSet<QString> seen;
    std::size_t entries = 0;
    for (const QString &folder : Folders) {
        if (!folder.startsWith(QLatin1Char('/')))
            continue;
        DIR *dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            continue;
        while (const dirent *e = ::readdir(dir)) {
            if (++entries > MaxEntries) {
                ::closedir(dir);
                Error = QStringLiteral("more than %1 entries in the unit folders (at %2)").arg(MaxEntries).arg(folder);
                return false;
            }
            if (e->d_name[0] == '.')
                continue;
            const QString id = QFile::decodeName(e->d_name);
            if (!IsServiceUnit(id) || seen.contains(id))
                continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st = {};
                if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
            }
            if (type != DT_REG && type != DT_LNK)
                continue;
            seen.insert(id);
            Files.push_back({id, type == DT_LNK});
        }
        ::closedir(dir);
    }
    return true;
}

// A listing on a bus connection of its own: its answers are taken in by this object alone,
// outside every event loop, so that nothing else runs while the list is read.
class Listing
{
public:
    bool Open()
    {
        const QByteArray address = system::TestVariable(kBusAddressVariable).toLocal8Bit();
        sd_bus *bus = nullptr;
        int r = address.isEmpty() ? sd_bus_open_system(&bus) : sd_bus_new(&bus);
        if (r >= 0)
            m_Bus.reset(bus);
        if (r >= 0 && !address.isEmpty()) {
            r = sd_bus_set_address(bus, address.constData());
            if (r >= 0)
                r = sd_bus_set_bus_client(bus, 1);
            if (r >= 0)
                r = sd_bus_start(bus);
        }
        if (r >= 0)
            r = sd_bus_set_method_call_timeout(bus, quint64(ServiceManager::kQueryTimeoutMs) * 1000);
        if (r < 0) {
            Error = QStringLiteral("no connection to the service manager: ") + ErrorText(r);
            m_Bus.reset();
            return false;
        }
        return true;
    }

    // The loaded units and, from the unit folders, the unit files not loaded yet.
    bool ReadLists()
    {
        MessagePtr units, folders;
        auto take = [](sd_bus_message *Reply, void *Slot, sd_bus_error *) {
            *static_cast<MessagePtr *>(Slot) = MessagePtr(sd_bus_message_ref(Reply));
            return 0;
        };
        if (!CallManager("ListUnits", take, &units) || !GetManager("UnitPath", take, &folders) || !Run() ||
            !TakeUnits(units.get()))
            return false;
        QStringList paths;
        if (!folders || sd_bus_message_is_method_error(folders.get(), nullptr) || !ReadStrings(folders.get(), paths)) {
            const sd_bus_error *error = folders ? sd_bus_message_get_error(folders.get()) : nullptr;
            Error = error ? QString::fromUtf8(error->message ? error->message : error->name)
                          : QStringLiteral("malformed unit search path");
            return Fail(-EBADMSG);
        }
        std::vector<UnitFileName> files;
        if (!FindUnitFiles(paths, ServiceManager::kMaxUnitFolderEntries, files, Error))
            return Fail(-E2BIG);
        TakeUnitFiles(files);
        return true;
    }

    // Every question about every unit, a bounded number in flight at once.
    bool ReadUnits()
    {
        for (std::size_t i = 0; i < Units.size(); ++i) {
            const UnitRead &u = Units[i];
            auto ask = [&](Prop What) { m_Questions.push_back({i, What}); };
            if (!u.Listed) {
                for (Prop p : {Prop::Description, Prop::LoadState, Prop::ActiveState})
                    ask(p);
            }
            // A link may be another name of a unit listed under its own.
            if (u.Link)
                ask(Prop::Id);
            ask(Prop::Documentation);
            // A unit that is stopped has no process, accepts nothing and cannot be frozen: its
            // state, as the enumeration gave it, settles those fields.
            const bool stopped =
                u.Listed && ServiceManager::StateOf(u.ActiveState, QString(), u.JobType) == StateStopped;
            if (!stopped) {
                for (Prop p : {Prop::FreezerState, Prop::CanStop, Prop::CanFreeze, Prop::MainPID})
                    ask(p);
            }
            for (Prop p :
                 {Prop::RequiredBy, Prop::BoundBy, Prop::WantedBy, Prop::UnitFileState, Prop::ExecStart, Prop::User})
                ask(p);
        }
        while (m_Next < m_Questions.size() && m_InFlight < ServiceManager::kListingCallsInFlight)
            if (!AskNext())
                return false;
        return Run();
    }

    QString Error;
    std::vector<UnitRead> Units;

private:
    using Handler = int (*)(sd_bus_message *, void *, sd_bus_error *);

    struct Pending
    {
        Listing *Owner;
        QString Member, Path;
        Handler Then;
        void *Data;
    };

    bool CallManager(const char *Method, Handler Then, void *Data)
    {
        MessagePtr msg;
        sd_bus_message *m = nullptr;
        int r = sd_bus_message_new_method_call(m_Bus.get(), &m, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                               "org.freedesktop.systemd1.Manager", Method);
        msg.reset(m);
        if (r < 0)
            return Fail(r);
        return Send(m, QString::fromLatin1(Method), kManagerPath, Then, Data);
    }

    bool GetManager(const char *Property, Handler Then, void *Data)
    {
        sd_bus_message *m = nullptr;
        int r = sd_bus_message_new_method_call(m_Bus.get(), &m, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                               "org.freedesktop.DBus.Properties", "Get");
        MessagePtr msg(m);
        if (r >= 0)
            r = sd_bus_message_append(m, "ss", "org.freedesktop.systemd1.Manager", Property);
        if (r < 0)
            return Fail(r);
        static const QString kGet = QStringLiteral("Get");
        return Send(m, kGet, kManagerPath, Then, Data);
    }

    // Each call is bounded by the query time-out.
    bool Send(sd_bus_message *Msg, const QString &Member, const QString &Path, Handler Then, void *Data)
    {
        m_Pending.push_back(std::make_unique<Pending>(Pending{this, Member, Path, Then, Data}));
        detail::NoteSent(Member, Path);
        const int r = sd_bus_call_async(m_Bus.get(), nullptr, Msg, &Listing::Answered, m_Pending.back().get(), 0);
        if (r < 0)
            return Fail(r);
        ++m_InFlight;
        return true;
    }

    static int Answered(sd_bus_message *Reply, void *Data, sd_bus_error *Error)
    {
        auto *p = static_cast<Pending *>(Data);
        Listing *self = p->Owner;
        --self->m_InFlight;
        detail::NoteAnswered(p->Member, p->Path);
        const sd_bus_error *error = sd_bus_message_get_error(Reply);
        if (error && IsFatal(error)) {
            self->Error = QString::fromUtf8(error->message ? error->message : error->name);
            self->m_Failed = true;
            return 0;
        }
        p->Then(Reply, p->Data, Error);
        // Each answer makes room for the next question.
        if (!self->m_Failed && self->m_Next < self->m_Questions.size())
            self->AskNext();
        return 0;
    }

    static int AnsweredProperty(sd_bus_message *Reply, void *Data, sd_bus_error *)
    {
        auto *q = static_cast<std::pair<Listing *, Question> *>(Data);
        UnitRead &unit = q->first->Units[q->second.Unit];
        if (sd_bus_message_is_method_error(Reply, nullptr) || !ReadAnswer(Reply, q->second.What, unit))
            unit.Failed = true;
        return 0;
    }

    bool AskNext()
    {
        const Question q = m_Questions[m_Next++];
        const PropName &prop = kPropNames[std::size_t(q.What)];
        UnitRead &unit = Units[q.Unit];
        sd_bus_message *m = nullptr;
        int r = sd_bus_message_new_method_call(m_Bus.get(), &m, "org.freedesktop.systemd1", unit.Path.c_str(),
                                               "org.freedesktop.DBus.Properties", "Get");
        MessagePtr msg(m);
        if (r >= 0)
            r = sd_bus_message_append(m, "ss", prop.Interface, prop.Name);
        if (r < 0)
            return Fail(r);
        m_Answers.push_back(std::make_unique<std::pair<Listing *, Question>>(this, q));
        static const QString kGet = QStringLiteral("Get");
        return Send(m, kGet, QString::fromStdString(unit.Path), &Listing::AnsweredProperty, m_Answers.back().get());
    }

    // Takes answers in until none is outstanding; false when the bus fails or a question
    // times out (each is bounded by the query time-out).
    bool Run()
    {
        while (m_InFlight > 0 && !m_Failed) {
            int r = sd_bus_process(m_Bus.get(), nullptr);
            if (r < 0)
                return Fail(r);
            if (r > 0)
                continue;
            r = sd_bus_wait(m_Bus.get(), UINT64_MAX);
            if (r < 0 && r != -EINTR)
                return Fail(r);
        }
        return !m_Failed;
    }

    bool Fail(int Code)
    {
        if (Error.isEmpty())
            Error = ErrorText(Code);
        m_Failed = true;
        return false;
    }

    bool TakeUnits(sd_bus_message *Reply)
    {
        if (!Reply || sd_bus_message_is_method_error(Reply, nullptr))
            return Fail(-EIO);
        if (sd_bus_message_enter_container(Reply, 'a', "(ssssssouso)") <= 0) {
            Error = QStringLiteral("malformed unit list");
            return Fail(-EBADMSG);
        }
        for (;;) {
            const char *id = nullptr, *description = nullptr, *loadState = nullptr, *activeState = nullptr,
                       *subState = nullptr, *following = nullptr, *path = nullptr, *jobType = nullptr,
                       *jobPath = nullptr;
            uint32_t jobId = 0;
            const int r = sd_bus_message_read(Reply, "(ssssssouso)", &id, &description, &loadState, &activeState,
                                              &subState, &following, &path, &jobId, &jobType, &jobPath);
            if (r < 0) {
                Error = QStringLiteral("malformed unit list");
                return Fail(r);
            }
            if (r == 0)
                break;
            const QString unit = QString::fromUtf8(id);
            // A unit that is only referenced, without a file of its own, is no installed service.
            if (!IsServiceUnit(unit) || std::strcmp(loadState, "not-found") == 0 || m_Index.contains(unit))
                continue;
            m_Index.insert(unit, Units.size());
            UnitRead u;
            u.Id = unit;
            u.Path = path;
            u.Listed = true;
            u.Description = QString::fromUtf8(description);
            u.LoadState = QString::fromUtf8(loadState);
            u.ActiveState = QString::fromUtf8(activeState);
            if (jobId != 0)
                u.JobType = QString::fromUtf8(jobType);
            Units.push_back(std::move(u));
        }
        return true;
    }

    // The unit files not loaded follow the loaded units, by name.
    void TakeUnitFiles(std::vector<UnitFileName> &Files)
    {
        std::sort(Files.begin(), Files.end(), [](const UnitFileName &A, const UnitFileName &B) { return A.Id < B.Id; });
        for (const UnitFileName &f : Files) {
            if (m_Index.contains(f.Id))
                continue;
            char *object = nullptr;
            if (sd_bus_path_encode("/org/freedesktop/systemd1/unit", f.Id.toUtf8().constData(), &object) < 0)
                continue;
            UnitRead u;
            u.Id = f.Id;
            u.Path = object;
            u.Link = f.Link;
            std::free(object);
            m_Index.insert(f.Id, Units.size());
            Units.push_back(std::move(u));
        }
    }

    BusPtr m_Bus;
    bool m_Failed = false;
    int m_InFlight = 0;
    std::size_t m_Next = 0;
    std::vector<Question> m_Questions;
    std::vector<std::unique_ptr<Pending>> m_Pending;
    std::vector<std::unique_ptr<std::pair<Listing *, Question>>> m_Answers;
    QHash<QString, std::size_t> m_Index;
};

ServiceInfo InfoOf(const UnitRead &Unit)
{
    ServiceInfo info;
    info.Entry.Name = ServiceNameOf(Unit.Id);
    info.Entry.DisplayName = Unit.Description;
    const QString freezer = Unit.Failed ? QString() : Unit.FreezerState;
    info.Entry.State = ServiceManager::StateOf(Unit.ActiveState, freezer, Unit.JobType);
    if (Unit.Failed)
        return info;
    info.Read = true;
    ServiceConfig &c = info.Config;
    c.DisplayName = Unit.Description;
    c.Description = Unit.Documentation.isEmpty() ? Unit.Description : Unit.Documentation.join(QStringLiteral(", "));
    // The manager names the user of a unit with a dynamic user after the unit.
    c.Account = Unit.User.isEmpty() ? QStringLiteral("root") : Unit.User;
    c.BinaryPath = Unit.CommandLine;
    c.StartType = ServiceManager::StartTypeOf(Unit.UnitFileState);
    c.StartTypeSettable = ServiceManager::StartTypeSettableOf(Unit.UnitFileState);
    ServiceStatus &s = info.Status;
    s.State = info.Entry.State;
    s.ProcessID = Unit.MainPID;
    const bool stopped = s.State == StateStopped;
    s.AcceptsStop = !stopped && Unit.CanStop;
    s.AcceptsPause = !stopped && Unit.CanFreeze;
    for (const QStringList *names : {&Unit.RequiredBy, &Unit.BoundBy, &Unit.WantedBy}) {
        for (const QString &unit : *names) {
            // Targets, sockets and the like are no services (they stand where drivers would).
            if (!IsServiceUnit(unit))
                continue;
            const QString name = ServiceNameOf(unit);
            if (!info.Dependents.contains(name))
                info.Dependents.append(name);
        }
    }
    return info;
}

} // namespace

std::optional<std::vector<ServiceInfo>> ServiceManager::ListServices()
{
    Listing listing;
    if (!listing.Open() || !listing.ReadLists() || !listing.ReadUnits()) {
        SetLastError(listing.Error.isEmpty() ? QStringLiteral("no answer from the service manager") : listing.Error);
        return std::nullopt;
    }
    std::vector<ServiceInfo> services;
    services.reserve(listing.Units.size());
    for (const UnitRead &u : listing.Units) {
        // A unit file whose unit cannot be read, that names no unit after all, or that is another
        // name of a unit (listed under its own), is passed over.
        if (!u.Listed && (u.Failed || u.LoadState == QLatin1String("not-found") || (u.Link && u.Canonical != u.Id)))
            continue;
        services.push_back(InfoOf(u));
    }
    m_LastError.clear();
    return services;
}

bool ServiceManager::Fetch(ServiceHandle &Handle)
{
    QVariantMap unitProps;
    if (!GetAll(Handle.m_Path, kUnitInterface, unitProps))
        return false;
    QVariantMap serviceProps;
    if (!GetAll(Handle.m_Path, kServiceInterface, serviceProps))
        serviceProps.clear();
    Handle.m_UnitProps = std::move(unitProps);
    Handle.m_ServiceProps = std::move(serviceProps);
    Handle.m_Fresh = true;
    return true;
}

std::optional<ServiceHandle> ServiceManager::OpenService(const QString &Name)
{
    if (Name.trimmed().isEmpty())
        return std::nullopt;
    ServiceHandle handle;
    handle.m_Name = Name;
    handle.m_Unit = UnitName(Name);
    QList<QVariant> reply;
    if (!Call(kManagerPath, kManagerInterface, QStringLiteral("LoadUnit"), {handle.m_Unit}, &reply, false) ||
        reply.isEmpty())
        return std::nullopt;
    const QVariant &v = reply.first();
    if (v.metaType() != QMetaType::fromType<QDBusObjectPath>())
        return std::nullopt;
    handle.m_Path = v.value<QDBusObjectPath>().path();
    if (handle.m_Path.isEmpty() || !Fetch(handle))
        return std::nullopt;
    if (StringOf(handle.m_UnitProps, "LoadState") == QLatin1String("not-found")) {
        SetLastError(QStringLiteral("Unit %1 not found.").arg(handle.m_Unit));
        return std::nullopt;
    }
    return handle;
}

bool ServiceManager::QueryConfig(ServiceHandle &Handle, ServiceConfig &Config)
{
    if (!Handle.m_Fresh && !Fetch(Handle))
        return false;
    const QVariantMap &u = Handle.m_UnitProps;
    const QVariantMap &s = Handle.m_ServiceProps;
    Config.DisplayName = StringOf(u, "Description");
    const QStringList docs = StringsOf(u.value(QStringLiteral("Documentation")));
    Config.Description = docs.isEmpty() ? Config.DisplayName : docs.join(QStringLiteral(", "));
    Config.Account = StringOf(s, "User");
    if (Config.Account.isEmpty())
        Config.Account = BoolOf(s, "DynamicUser") ? Handle.m_Name : QStringLiteral("root");
    Config.BinaryPath = CommandLineOf(s.value(QStringLiteral("ExecStart")));
    Config.LoadOrderGroup.clear();
    Config.StartType = StartTypeOf(StringOf(u, "UnitFileState"));
    Config.StartTypeSettable = StartTypeSettableOf(StringOf(u, "UnitFileState"));
    Config.ServiceType = TypeOwnProcess;
    Config.Interactive = false;
    return true;
}

bool ServiceManager::QueryStatus(ServiceHandle &Handle, ServiceStatus &Status)
{
    if (!Handle.m_Fresh && !Fetch(Handle))
        return false;
    Handle.m_Fresh = false; // the next status is read anew
    // A job that ended between reading the unit and reading the job has changed the unit: the
    // state read with it would be the one before (a start just done would read as stopped).
    std::optional<QString> job = JobType(Handle.m_UnitProps.value(QStringLiteral("Job")));
    for (int again = 0; !job && again < 3; ++again) {
        if (!Fetch(Handle))
            return false;
        Handle.m_Fresh = false;
        job = JobType(Handle.m_UnitProps.value(QStringLiteral("Job")));
    }
    const QVariantMap &u = Handle.m_UnitProps;
    const QVariantMap &s = Handle.m_ServiceProps;
    Status.State = StateOf(StringOf(u, "ActiveState"), StringOf(u, "FreezerState"), job.value_or(QString()));
    // The unit's timeouts bound a step (the manager fails it then); they say nothing about how
    // long it takes, and taken as an estimate they would make every wait poll in 9 s steps.
    Status.WaitHint = 0;
    Status.ProcessID = quint32(UintOf(s, "MainPID"));
    // A stopped service accepts no controls.
    const bool stopped = Status.State == StateStopped;
    Status.AcceptsStop = !stopped && BoolOf(u, "CanStop");
    Status.AcceptsPause = !stopped && BoolOf(u, "CanFreeze");
    return true;
}

std::optional<QStringList> ServiceManager::Dependents(ServiceHandle &Handle, bool ActiveOnly)
{
    if (!Handle.m_Fresh && !Fetch(Handle))
        return std::nullopt;
    QStringList names;
    for (const char *key : {"RequiredBy", "BoundBy", "WantedBy"}) {
        for (const QString &unit : StringsOf(Handle.m_UnitProps.value(QLatin1String(key)))) {
            // Targets, sockets and the like are no services (they stand where drivers would).
            if (!IsServiceUnit(unit))
                continue;
            const QString name = ServiceNameOf(unit);
            if (!names.contains(name))
                names.append(name);
        }
    }
    if (!ActiveOnly)
        return names;
    QStringList active;
    for (const QString &name : names) {
        auto dep = OpenService(name);
        ServiceStatus st;
        if (dep && QueryStatus(*dep, st) && st.State != StateStopped)
            active.append(name);
    }
    m_LastError.clear();
    return active;
}

bool ServiceManager::UnitCall(ServiceHandle &Handle, const QString &Method, const QVariantList &Args)
{
    Handle.m_Fresh = false;
    return Call(kManagerPath, kManagerInterface, Method, Args, nullptr, true);
}

bool ServiceManager::Start(ServiceHandle &Handle)
{
    return UnitCall(Handle, QStringLiteral("StartUnit"), {Handle.m_Unit, QStringLiteral("replace")});
}

bool ServiceManager::Stop(ServiceHandle &Handle)
{
    return UnitCall(Handle, QStringLiteral("StopUnit"), {Handle.m_Unit, QStringLiteral("replace")});
}

bool ServiceManager::Pause(ServiceHandle &Handle)
{
    return UnitCall(Handle, QStringLiteral("FreezeUnit"), {Handle.m_Unit});
}

bool ServiceManager::Resume(ServiceHandle &Handle)
{
    return UnitCall(Handle, QStringLiteral("ThawUnit"), {Handle.m_Unit});
}

bool ServiceManager::SetStartType(ServiceHandle &Handle, quint8 StartType)
{
    if (StartType != StartAutomatic && StartType != StartManual && StartType != StartDisabled)
        return false;
    // A handle just opened holds the unit's file state already.
    if (!Handle.m_Fresh && !Fetch(Handle))
        return false;
    const QStringList files{Handle.m_Unit};
    const QString fileState = StringOf(Handle.m_UnitProps, "UnitFileState");
    const bool masked = StartTypeOf(fileState) == StartDisabled;
    bool ok = true;
    if (StartType == StartDisabled) {
        ok = UnitCall(Handle, QStringLiteral("MaskUnitFiles"), {files, false, true});
    } else {
        // A mask made for this boot only lives in the runtime directory and is lifted there.
        if (masked)
            ok = UnitCall(Handle, QStringLiteral("UnmaskUnitFiles"),
                          {files, fileState == QLatin1String("masked-runtime")});
        if (ok && StartType == StartAutomatic)
            ok = UnitCall(Handle, QStringLiteral("EnableUnitFiles"), {files, false, true});
        else if (ok)
            ok = UnitCall(Handle, QStringLiteral("DisableUnitFiles"), {files, false});
    }
    if (!ok)
        return false;
    if (!Call(kManagerPath, kManagerInterface, QStringLiteral("Reload"), {}, nullptr, true))
        return false;
    // A unit without install information cannot be enabled: the change did not happen then.
    if (!Fetch(Handle))
        return false;
    if (StartTypeOf(StringOf(Handle.m_UnitProps, "UnitFileState")) != StartType) {
        SetLastError(QStringLiteral("the start type of %1 did not change").arg(Handle.m_Unit));
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
    static const QStringList kSettable{QStringLiteral("enabled"), QStringLiteral("enabled-runtime"),
                                       QStringLiteral("disabled"), QStringLiteral("masked"),
                                       QStringLiteral("masked-runtime")};
    return kSettable.contains(UnitFileState);
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
