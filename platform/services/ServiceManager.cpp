#include "platform/services/ServiceManager.h"

#include "platform/Logging.h"
#include "platform/files/NameBytes.h"

#include "platform/system/TestVariables.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::services {

namespace {

constexpr const char *kDestination = "org.freedesktop.systemd1";
constexpr const char *kManagerObject = "/org/freedesktop/systemd1";
constexpr const char *kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char *kBusDaemon = "org.freedesktop.DBus";
const QString kServiceSuffix = QStringLiteral(".service");

// How often a wait looks at the clock and at the caller's wish to stop.
constexpr quint64 kTickUs = 100000;
// The bus library's own bound on a call: past the manager's wait, so that the reader's own
// bounds act first.
constexpr quint64 kCallTimeoutUs = quint64(ServiceManager::kManagerWaitMs + 10000) * 1000;

struct MessageUnref
{
    void operator()(sd_bus_message *Msg) const { sd_bus_message_unref(Msg); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

QString ErrorText(int Code)
{
    return QString::fromLocal8Bit(std::strerror(Code < 0 ? -Code : Code));
}

// The text of a refusal: the manager's own message where it gave one.
QString ErrorOf(const sd_bus_error *Error)
{
    if (!Error)
        return {};
    if (Error->message && *Error->message)
        return QString::fromUtf8(Error->message);
    return Error->name ? QString::fromUtf8(Error->name) : QString();
}

// Errors that say the bus or the manager itself is gone, as opposed to a refusal about one unit
// (gone meanwhile, no such property) or a question left unanswered.
bool ManagerGone(sd_bus_message *Reply, const sd_bus_error *Error)
{
    for (const char *name : {SD_BUS_ERROR_DISCONNECTED, SD_BUS_ERROR_LIMITS_EXCEEDED, SD_BUS_ERROR_SERVICE_UNKNOWN,
                             SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_NO_MEMORY})
        if (sd_bus_error_has_name(Error, name))
            return true;
    // The bus daemon gives up a question for the manager only when the manager left the bus.
    const char *sender = sd_bus_message_get_sender(Reply);
    return sd_bus_error_has_name(Error, SD_BUS_ERROR_NO_REPLY) && sender && std::strcmp(sender, kBusDaemon) == 0;
}

// The answer came from the manager itself (not from the bus daemon or the bus library).
bool FromManager(sd_bus_message *Reply)
{
    const char *sender = sd_bus_message_get_sender(Reply);
    return sender && std::strcmp(sender, kBusDaemon) != 0;
}

QString Quoted(const QString &Arg)
{
    if (!Arg.isEmpty() && !Arg.contains(QLatin1Char(' ')) && !Arg.contains(QLatin1Char('\t')))
        return Arg;
    return QLatin1Char('"') + Arg + QLatin1Char('"');
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

#if TASKVANE_TEST_SEAMS
std::atomic<CallObserver *> s_observer{nullptr};

bool Observed()
{
    return s_observer.load() != nullptr;
}
#endif

// The system bus, or the bus the test suite names; null with Error set when it cannot be reached.
sd_bus *OpenBus(QString &Error)
{
    const QByteArray address = system::TestVariable(kBusAddressVariable).toLocal8Bit();
    sd_bus *bus = nullptr;
    int r = address.isEmpty() ? sd_bus_open_system(&bus) : sd_bus_new(&bus);
    if (r >= 0 && !address.isEmpty()) {
        r = sd_bus_set_address(bus, address.constData());
        if (r >= 0)
            r = sd_bus_set_bus_client(bus, 1);
        if (r >= 0)
            r = sd_bus_start(bus);
    }
    if (r < 0) {
        Error = QStringLiteral("no connection to the service manager: ") + ErrorText(r);
        if (bus)
            sd_bus_close_unref(bus);
        return nullptr;
    }
    return bus;
}

// What is asked of a unit, and on which interface.
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
    Job,
    JobType, // of a job object
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
    {"org.freedesktop.systemd1.Unit", "Job"},
    {"org.freedesktop.systemd1.Job", "JobType"},
};

// One unit (or job object) while its answers come in.
struct UnitRead
{
    QString Id;
    std::string Path;
    bool Listed = false;   // reported by ListUnits, with its state and description
    bool Link = false;     // its unit file is a symbolic link: it may name another unit
    bool Dangling = false; // a link to nothing
    QString Canonical;     // the name the manager knows the unit by, asked of links only
    QString Description, LoadState, ActiveState, JobType, FreezerState, UnitFileState, User, CommandLine;
    QStringList Documentation, RequiredBy, BoundBy, WantedBy;
    bool CanStop = false, CanFreeze = false;
    quint32 MainPID = 0;
    std::string JobPath; // the unit's job, empty without one
    bool Failed = false; // a question about it was refused or left unanswered
    QString Error;       // why, the first time
};

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

// The program and arguments of the unit's first start command.
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

// The unit's job: its object, or nothing when it has none.
bool ReadJob(sd_bus_message *Msg, std::string &Out)
{
    uint32_t id = 0;
    const char *path = nullptr;
    if (sd_bus_message_read(Msg, "v", "(uo)", &id, &path) < 0)
        return false;
    Out = (id != 0 && path && std::strcmp(path, "/") != 0) ? std::string(path) : std::string();
    return true;
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
    case Prop::Job:
        return ReadJob(Msg, Unit.JobPath);
    case Prop::JobType:
        return ReadString(Msg, Unit.JobType);
    }
    return false;
}

// A service unit file found in a unit folder.
struct UnitFileName
{
    QString Id;
    bool Link;
    bool Dangling;
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
            const QString id = files::DecodeNameBytes(e->d_name);
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
            struct stat target = {};
            const bool dangling =
                type == DT_LNK && ::fstatat(::dirfd(dir), e->d_name, &target, 0) != 0 && errno == ENOENT;
            seen.insert(id);
            Files.push_back({id, type == DT_LNK, dangling});
        }
        ::closedir(dir);
    }
    return true;
}

// Questions to the manager on one connection, up to a bound in flight at once, their answers taken
// in by this object alone, outside every event loop, so that nothing else runs meanwhile.
//
// A question about a unit that stays unanswered is given up, with that unit, once it is older than
// the query time-out and the manager has answered a question asked after it (the manager answers
// in order; when nothing asked later has come back yet, a ping asks). A manager that answers
// nothing at all is waited for up to its wait; only then, or when the connection or the manager's
// own list fails, does the whole read fail. A read with a deadline fails once it has passed,
// however steadily the manager answers meanwhile.
class Reader
{
public:
    // ManagerWaitMs: how long a manager that answers nothing at all is waited for.
    Reader(sd_bus *Bus, int ManagerWaitMs, const std::function<bool()> &Cancelled,
           QDeadlineTimer Deadline = QDeadlineTimer(QDeadlineTimer::Forever))
        : m_Bus(Bus), m_ManagerWaitMs(ManagerWaitMs), m_Cancelled(Cancelled), m_Deadline(Deadline)
    {
        m_Clock.start();
    }
    ~Reader()
    {
        for (Pending *p : m_Live) {
            sd_bus_slot_unref(p->Slot);
            delete p;
        }
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    std::size_t AddUnit(const QString &Id, std::string Path)
    {
        UnitRead u;
        u.Id = Id;
        u.Path = std::move(Path);
        Units.push_back(std::move(u));
        return Units.size() - 1;
    }

    void Ask(std::size_t Unit, Prop What) { m_Questions.push_back({Unit, What}); }

    // The loaded units and, from the unit folders, the unit files not loaded yet.
    bool ReadLists()
    {
        MessagePtr units, folders;
        if (!SendManager(kManagerInterface, "ListUnits", nullptr, &units) ||
            !SendManager(kPropertiesInterface, "Get", "UnitPath", &folders) || !Run() || !TakeUnits(units.get()))
            return false;
        QStringList paths;
        if (!folders || !ReadStrings(folders.get(), paths)) {
            Error = QStringLiteral("malformed unit search path");
            return Fail(-EBADMSG);
        }
        std::vector<UnitFileName> files;
        if (!FindUnitFiles(paths, ServiceManager::kMaxUnitFolderEntries, files, Error))
            return Fail(-E2BIG);
        TakeUnitFiles(files);
        return true;
    }

    // The state of each named unit file, as the manager's list of unit files gives it: a unit
    // whose own answers never came still has its start type there. Empty when the manager does
    // not answer that either.
    QHash<QString, QString> ReadFileStates(const QStringList &Ids)
    {
        QHash<QString, QString> states;
        std::vector<std::string> patterns;
        for (const QString &id : Ids)
            patterns.push_back(id.toStdString());
        MessagePtr reply;
        const bool sent = SendManager(kManagerInterface, "ListUnitFilesByPatterns", &reply, [&](sd_bus_message *M) {
            int r = sd_bus_message_append_strv(M, nullptr);
            if (r < 0 || (r = sd_bus_message_open_container(M, 'a', "s")) < 0)
                return r;
            for (const std::string &p : patterns)
                if ((r = sd_bus_message_append(M, "s", p.c_str())) < 0)
                    return r;
            return sd_bus_message_close_container(M);
        });
        if (!sent || !Run() || !reply || sd_bus_message_enter_container(reply.get(), 'a', "(ss)") <= 0)
            return states;
        const QSet<QString> wanted(Ids.cbegin(), Ids.cend());
        for (;;) {
            const char *path = nullptr, *state = nullptr;
            if (sd_bus_message_read(reply.get(), "(ss)", &path, &state) <= 0)
                break;
            // A name in several folders: the manager lists the file it uses first.
            const QString id = QString::fromUtf8(path).section(QLatin1Char('/'), -1);
            if (wanted.contains(id) && !states.contains(id))
                states.insert(id, QString::fromUtf8(state));
        }
        return states;
    }

    // What the listing shows of every unit.
    void AskListing()
    {
        for (std::size_t i = 0; i < Units.size(); ++i) {
            const UnitRead &u = Units[i];
            if (!u.Listed) {
                for (Prop p : {Prop::Description, Prop::LoadState, Prop::ActiveState})
                    Ask(i, p);
            }
            // A link may be another name of a unit listed under its own.
            if (u.Link)
                Ask(i, Prop::Id);
            Ask(i, Prop::Documentation);
            // A unit that is stopped has no process, accepts nothing and cannot be frozen: its
            // state, as the enumeration gave it, settles those fields.
            const bool stopped =
                u.Listed && ServiceManager::StateOf(u.ActiveState, QString(), u.JobType) == StateStopped;
            if (!stopped) {
                for (Prop p : {Prop::FreezerState, Prop::CanStop, Prop::CanFreeze, Prop::MainPID})
                    Ask(i, p);
            }
            for (Prop p :
                 {Prop::RequiredBy, Prop::BoundBy, Prop::WantedBy, Prop::UnitFileState, Prop::ExecStart, Prop::User})
                Ask(i, p);
        }
    }

    // Sends the questions asked, a bounded number at a time, and takes their answers in; false when
    // the connection or the manager itself fails, or the caller wants to stop.
    bool Run()
    {
        if (!Fill())
            return false;
        while (!m_Live.empty() && !m_Failed) {
            int r = sd_bus_process(m_Bus, nullptr);
            if (r < 0) {
                Error = QStringLiteral("the connection to the service manager was lost: ") + ErrorText(r);
                return Fail(r);
            }
            if (r > 0)
                continue;
            if (m_Cancelled && m_Cancelled()) {
                Cancelled = true;
                Error = QStringLiteral("cancelled");
                return Fail(-ECANCELED);
            }
            if (m_Deadline.hasExpired()) {
                Error = QStringLiteral("no answer in %1 s").arg(ServiceManager::kQueryTimeoutMs / 1000);
                return Fail(-ETIMEDOUT);
            }
            if (!Expire())
                return false;
            if (m_Live.empty())
                break;
            const qint64 left = m_Deadline.remainingTime();
            r = sd_bus_wait(m_Bus, left < 0 ? kTickUs : std::min<quint64>(kTickUs, quint64(left) * 1000));
            if (r < 0 && r != -EINTR) {
                Error = QStringLiteral("the connection to the service manager was lost: ") + ErrorText(r);
                return Fail(r);
            }
        }
        return !m_Failed;
    }

    QString Error;
    bool Cancelled = false;
    // The manager answered nothing for its whole wait: the questions still open were given up.
    bool Silent = false;
    std::vector<UnitRead> Units;

private:
    struct Question
    {
        std::size_t Unit;
        Prop What;
    };

    enum class Kind : quint8 { Manager, Unit, Probe };

    struct Pending
    {
        Reader *Owner = nullptr;
        Kind What = Kind::Unit;
        const char *Member = "Get";
        Question Asked{};
        MessagePtr *Reply = nullptr; // where a manager's answer goes
        sd_bus_slot *Slot = nullptr;
        quint64 Seq = 0;
        qint64 SentMs = 0;
    };

    bool Fail(int Code)
    {
        if (Error.isEmpty())
            Error = ErrorText(Code);
        m_Failed = true;
        return false;
    }

#if TASKVANE_TEST_SEAMS
    QString PathOf(const Pending &P) const
    {
        return P.What == Kind::Unit ? QString::fromStdString(Units[P.Asked.Unit].Path)
                                    : QString::fromLatin1(kManagerObject);
    }
#endif

    bool Send(sd_bus_message *Msg, std::unique_ptr<Pending> P)
    {
        P->Owner = this;
        P->Seq = ++m_LastSeq;
        P->SentMs = m_Clock.elapsed();
        TASKVANE_TEST_SEAM(if (Observed()) detail::NoteSent(QString::fromLatin1(P->Member), PathOf(*P)));
        const int r = sd_bus_call_async(m_Bus, &P->Slot, Msg, &Reader::Answered, P.get(), kCallTimeoutUs);
        if (r < 0) {
            TASKVANE_TEST_SEAM(if (Observed()) detail::NoteAnswered(QString::fromLatin1(P->Member), PathOf(*P)));
            Error = QStringLiteral("cannot ask the service manager: ") + ErrorText(r);
            return Fail(r);
        }
        if (P->What == Kind::Unit)
            ++m_UnitsInFlight;
        else if (P->What == Kind::Probe)
            m_Probing = true;
        m_Live.insert(P.release());
        return true;
    }

    // A call to the manager's own object; a property of it when Property is set.
    bool SendManager(const char *Interface, const char *Method, const char *Property, MessagePtr *Reply)
    {
        return SendManager(Interface, Method, Reply, [Property](sd_bus_message *M) {
            return Property ? sd_bus_message_append(M, "ss", kManagerInterface, Property) : 0;
        });
    }
    bool SendManager(const char *Interface, const char *Method, MessagePtr *Reply,
                     const std::function<int(sd_bus_message *)> &Append)
    {
        sd_bus_message *m = nullptr;
        int r = sd_bus_message_new_method_call(m_Bus, &m, kDestination, kManagerObject, Interface, Method);
        MessagePtr msg(m);
        if (r >= 0)
            r = Append(m);
        if (r < 0)
            return Fail(r);
        auto p = std::make_unique<Pending>();
        p->What = Kind::Manager;
        p->Member = Method;
        p->Reply = Reply;
        return Send(m, std::move(p));
    }

    bool SendProbe()
    {
        sd_bus_message *m = nullptr;
        const int r = sd_bus_message_new_method_call(m_Bus, &m, kDestination, kManagerObject,
                                                     "org.freedesktop.DBus.Peer", "Ping");
        MessagePtr msg(m);
        if (r < 0)
            return Fail(r);
        auto p = std::make_unique<Pending>();
        p->What = Kind::Probe;
        p->Member = "Ping";
        return Send(m, std::move(p));
    }

    bool AskNext()
    {
        const Question q = m_Questions[m_Next++];
        UnitRead &unit = Units[q.Unit];
        // A unit given up or refused is asked nothing more.
        if (unit.Failed)
            return true;
        const PropName &prop = kPropNames[std::size_t(q.What)];
        sd_bus_message *m = nullptr;
        int r = sd_bus_message_new_method_call(m_Bus, &m, kDestination, unit.Path.c_str(), kPropertiesInterface, "Get");
        MessagePtr msg(m);
        if (r >= 0)
            r = sd_bus_message_append(m, "ss", prop.Interface, prop.Name);
        if (r < 0)
            return Fail(r);
        auto p = std::make_unique<Pending>();
        p->Asked = q;
        return Send(m, std::move(p));
    }

    // Questions go out while there is room.
    bool Fill()
    {
        while (!m_Failed && m_Next < m_Questions.size() && m_UnitsInFlight < ServiceManager::kListingCallsInFlight)
            if (!AskNext())
                return false;
        return !m_Failed;
    }

    // Takes the call out of the live set; the caller deletes it.
    void Retire(Pending *P)
    {
        m_Live.erase(P);
        if (P->What == Kind::Unit)
            --m_UnitsInFlight;
        else if (P->What == Kind::Probe)
            m_Probing = false;
        TASKVANE_TEST_SEAM(if (Observed()) detail::NoteAnswered(QString::fromLatin1(P->Member), PathOf(*P)));
        sd_bus_slot_unref(P->Slot);
        P->Slot = nullptr;
    }

    void FailUnit(UnitRead &Unit, const QString &Why)
    {
        if (!Unit.Failed)
            Unit.Error = Why;
        Unit.Failed = true;
    }

    static int Answered(sd_bus_message *Reply, void *Data, sd_bus_error *)
    {
        std::unique_ptr<Pending> p(static_cast<Pending *>(Data));
        Reader &self = *p->Owner;
        self.Retire(p.get());
        self.Take(*p, Reply);
        if (!self.m_Failed)
            self.Fill();
        return 0;
    }

    void Take(const Pending &P, sd_bus_message *Reply)
    {
        m_LastAnswerMs = m_Clock.elapsed();
        const sd_bus_error *error = sd_bus_message_get_error(Reply);
        if (sd_bus_is_open(m_Bus) <= 0) {
            Error = QStringLiteral("the connection to the service manager was lost");
            Fail(-ECONNRESET);
            return;
        }
        if (error && ManagerGone(Reply, error)) {
            Error = ErrorOf(error);
            Fail(-ENOTCONN);
            return;
        }
        if (FromManager(Reply))
            m_LastAnsweredSeq = std::max(m_LastAnsweredSeq, P.Seq);
        switch (P.What) {
        case Kind::Manager:
            if (error) {
                Error = ErrorOf(error);
                Fail(-EIO);
            } else {
                *P.Reply = MessagePtr(sd_bus_message_ref(Reply));
            }
            break;
        case Kind::Unit: {
            UnitRead &unit = Units[P.Asked.Unit];
            // A property this manager does not have (an older one) is simply absent.
            if (unit.Failed || sd_bus_error_has_name(error, SD_BUS_ERROR_UNKNOWN_PROPERTY))
                break;
            if (error)
                FailUnit(unit, ErrorOf(error));
            else if (!ReadAnswer(Reply, P.Asked.What, unit))
                FailUnit(unit,
                         QStringLiteral("malformed %1").arg(QLatin1String(kPropNames[std::size_t(P.Asked.What)].Name)));
            break;
        }
        case Kind::Probe:
            break;
        }
    }

    // Gives up the questions the manager has passed by, and everything once it has answered
    // nothing for its whole wait; false when that fails the read.
    bool Expire()
    {
        const qint64 now = m_Clock.elapsed();
        if (now - m_LastAnswerMs > m_ManagerWaitMs) {
            for (Pending *p : std::vector<Pending *>(m_Live.begin(), m_Live.end())) {
                if (p->What == Kind::Manager) {
                    Error = QStringLiteral("the service manager did not answer in %1 s").arg(m_ManagerWaitMs / 1000);
                    return Fail(-ETIMEDOUT);
                }
                Retire(p);
                if (p->What == Kind::Unit)
                    FailUnit(Units[p->Asked.Unit], QStringLiteral("no answer from the service manager"));
                delete p;
            }
            // Nothing more is asked of a manager that answers nothing.
            m_Next = m_Questions.size();
            Silent = true;
            return true;
        }
        std::vector<Pending *> overdue;
        bool unproven = false;
        for (Pending *p : m_Live) {
            if (p->What != Kind::Unit || now - p->SentMs <= ServiceManager::kQueryTimeoutMs)
                continue;
            if (p->Seq < m_LastAnsweredSeq)
                overdue.push_back(p);
            else
                unproven = true;
        }
        for (Pending *p : overdue)
            FailUnit(Units[p->Asked.Unit],
                     QStringLiteral("no answer in %1 s").arg(ServiceManager::kQueryTimeoutMs / 1000));
        // The unit's other questions go with it.
        if (!overdue.empty()) {
            for (Pending *p : std::vector<Pending *>(m_Live.begin(), m_Live.end())) {
                if (p->What == Kind::Unit && Units[p->Asked.Unit].Failed) {
                    Retire(p);
                    delete p;
                }
            }
        }
        // Whether the manager passes the old questions by or is merely slow, the answer to a
        // question asked now tells.
        if (unproven && !m_Probing && !SendProbe())
            return false;
        return Fill();
    }

    bool TakeUnits(sd_bus_message *Reply)
    {
        if (!Reply || sd_bus_message_enter_container(Reply, 'a', "(ssssssouso)") <= 0) {
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
            UnitRead &u = Units[AddUnit(unit, path)];
            u.Listed = true;
            u.Description = QString::fromUtf8(description);
            u.LoadState = QString::fromUtf8(loadState);
            u.ActiveState = QString::fromUtf8(activeState);
            if (jobId != 0)
                u.JobType = QString::fromUtf8(jobType);
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
            m_Index.insert(f.Id, Units.size());
            UnitRead &u = Units[AddUnit(f.Id, object)];
            u.Link = f.Link;
            u.Dangling = f.Dangling;
            std::free(object);
        }
    }

    sd_bus *m_Bus;
    int m_ManagerWaitMs;
    std::function<bool()> m_Cancelled;
    QDeadlineTimer m_Deadline;
    QElapsedTimer m_Clock;
    bool m_Failed = false;
    std::vector<Question> m_Questions;
    std::size_t m_Next = 0;
    int m_UnitsInFlight = 0;
    std::unordered_set<Pending *> m_Live;
    quint64 m_LastSeq = 0;
    quint64 m_LastAnsweredSeq = 0;
    qint64 m_LastAnswerMs = 0;
    bool m_Probing = false;
    QHash<QString, std::size_t> m_Index;
};

// What a unit's answers say, the same for a listing and for one opened service.
ServiceInfo InfoOf(const UnitRead &Unit)
{
    ServiceInfo info;
    info.Entry.Name = ServiceNameOf(Unit.Id);
    info.Entry.DisplayName = Unit.Description;
    const QString freezer = Unit.Failed ? QString() : Unit.FreezerState;
    info.Entry.State = ServiceManager::StateOf(Unit.ActiveState, freezer, Unit.JobType);
    ServiceConfig &c = info.Config;
    if (Unit.Failed) {
        // The start type, where the manager's list of unit files gave it.
        if (!Unit.UnitFileState.isEmpty()) {
            info.StartTypeRead = true;
            c.StartType = ServiceManager::StartTypeOf(Unit.UnitFileState);
            c.StartTypeSettable = ServiceManager::StartTypeSettableOf(Unit.UnitFileState);
        }
        return info;
    }
    info.Read = true;
    c.DisplayName = Unit.Description;
    c.Description = Unit.Documentation.isEmpty() ? Unit.Description : Unit.Documentation.join(QStringLiteral(", "));
    // The manager names the user of a unit with a dynamic user itself (after the unit).
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

// A unit file found in the folders that the manager does not list as a service file of its own:
// one whose unit cannot be read, another name of a unit (the manager calls it an alias, or knows
// the unit by another name), or one the manager cannot find although it is there (it looks at
// other folders: another mount namespace). A link that leads nowhere the manager lists as a bad
// unit file, and so does the listing.
bool PassedOver(const UnitRead &Unit)
{
    if (Unit.Listed)
        return false;
    return Unit.Failed || Unit.UnitFileState == QLatin1String("alias") || (Unit.Link && Unit.Canonical != Unit.Id) ||
        (Unit.LoadState == QLatin1String("not-found") && !Unit.Dangling);
}

} // namespace

#if TASKVANE_TEST_SEAMS
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
#endif

void ServiceManager::BusCloser::operator()(sd_bus *Bus) const
{
    sd_bus_close_unref(Bus);
}

void ServiceManager::SetLastError(const QString &Error)
{
    m_LastError = Error;
    qCWarning(lcPlatform) << "service manager:" << Error;
}

ServiceManager::ServiceManager() = default;

ServiceManager::~ServiceManager() = default;

sd_bus *ServiceManager::Bus() const
{
    // One attempt per object: why it cannot connect is told by each call that needs the bus.
    if (!m_BusOpened) {
        m_BusOpened = true;
        m_Bus.reset(OpenBus(m_ConnectError));
    }
    return m_Bus.get();
}

bool ServiceManager::IsConnected() const
{
    sd_bus *bus = Bus();
    return bus && sd_bus_is_open(bus) > 0;
}

bool ServiceManager::Ping()
{
    return Call("org.freedesktop.DBus.Peer", "Ping", {}, false);
}

bool ServiceManager::Call(const char *Interface, const char *Method, const std::function<int(sd_bus_message *)> &Append,
                          bool Action, QString *ObjectPath, const QDeadlineTimer &Deadline)
{
    m_LastError.clear();
    sd_bus *bus = Bus();
    if (!bus) {
        SetLastError(m_ConnectError);
        return false;
    }
    sd_bus_message *m = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, kDestination, kManagerObject, Interface, Method);
    MessagePtr msg(m);
    if (r >= 0 && Append)
        r = Append(m);
    // Changes may need the user's consent (an authorisation agent asks): they get time for it.
    if (r >= 0)
        r = sd_bus_message_set_allow_interactive_authorization(m, Action);
    if (r < 0) {
        SetLastError(QStringLiteral("cannot ask the service manager: ") + ErrorText(r));
        return false;
    }
    const QString member = QString::fromLatin1(Method);
    TASKVANE_TEST_SEAM(detail::NoteSent(member, QString::fromLatin1(kManagerObject)));
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    qint64 timeoutMs = Action ? kActionTimeoutMs : kQueryTimeoutMs;
    if (!Deadline.isForever())
        timeoutMs = qBound<qint64>(1, Deadline.remainingTime(), timeoutMs);
    r = sd_bus_call(bus, m, quint64(timeoutMs) * 1000, &error, &reply);
    TASKVANE_TEST_SEAM(detail::NoteAnswered(member, QString::fromLatin1(kManagerObject)));
    MessagePtr answer(reply);
    const QString why = ErrorOf(&error);
    sd_bus_error_free(&error);
    if (r < 0) {
        SetLastError(why.isEmpty() ? ErrorText(r) : why);
        return false;
    }
    if (ObjectPath) {
        const char *path = nullptr;
        if (sd_bus_message_read(reply, "o", &path) < 0) {
            SetLastError(QStringLiteral("malformed answer to %1").arg(member));
            return false;
        }
        *ObjectPath = QString::fromUtf8(path);
    }
    return true;
}

std::optional<std::vector<ServiceInfo>> ServiceManager::ListServices(const std::function<bool()> &Cancelled)
{
    m_LastError.clear();
    sd_bus *bus = Bus();
    if (!bus) {
        SetLastError(m_ConnectError);
        return std::nullopt;
    }
    // The listing runs beside the window: a manager busy starting units is waited for.
    Reader reader(bus, kManagerWaitMs, Cancelled);
    bool ok = reader.ReadLists();
    if (ok) {
        reader.AskListing();
        ok = reader.Run();
    }
    if (!ok) {
        if (reader.Cancelled)
            m_LastError = reader.Error;
        else
            SetLastError(reader.Error.isEmpty() ? QStringLiteral("no answer from the service manager") : reader.Error);
        return std::nullopt;
    }
    // Units listed that gave no answer of their own take their start type from the manager's list
    // of unit files, asked of them alone (a manager that answered nothing at all is not asked).
    QStringList unanswered;
    for (const UnitRead &u : reader.Units)
        if (u.Listed && u.Failed)
            unanswered.append(u.Id);
    if (!unanswered.isEmpty() && !reader.Silent) {
        Reader files(bus, kQueryTimeoutMs, Cancelled, QDeadlineTimer(kQueryTimeoutMs));
        const QHash<QString, QString> states = files.ReadFileStates(unanswered);
        for (UnitRead &u : reader.Units)
            if (u.Listed && u.Failed && states.contains(u.Id))
                u.UnitFileState = states.value(u.Id);
    }
    std::vector<ServiceInfo> services;
    services.reserve(reader.Units.size());
    int unread = 0;
    const UnitRead *firstUnread = nullptr;
    for (const UnitRead &u : reader.Units) {
        if (u.Failed && !firstUnread)
            firstUnread = &u;
        unread += u.Failed ? 1 : 0;
        if (!PassedOver(u))
            services.push_back(InfoOf(u));
    }
    if (firstUnread)
        qCWarning(lcPlatform) << "service manager:" << unread << "services could not be read, among them"
                              << firstUnread->Id << "(" << firstUnread->Error << ")";
    return services;
}

bool ServiceManager::Fetch(ServiceHandle &Handle)
{
    return Fetch(Handle, QDeadlineTimer(kQueryTimeoutMs));
}

bool ServiceManager::Fetch(ServiceHandle &Handle, const QDeadlineTimer &Deadline)
{
    sd_bus *bus = Bus();
    if (!bus) {
        SetLastError(m_ConnectError);
        return false;
    }
    // A job that ends between reading the unit and reading the job has changed the unit: the
    // state read with it would be the one before (a start just done would read as stopped).
    for (int attempt = 0;; ++attempt) {
        // A single service is read while its caller waits: the whole read has one deadline.
        Reader reader(bus, kQueryTimeoutMs, {}, Deadline);
        const std::size_t i = reader.AddUnit(Handle.m_Unit, Handle.m_Path.toStdString());
        for (Prop p : {Prop::Description, Prop::LoadState, Prop::ActiveState, Prop::Job, Prop::Documentation,
                       Prop::FreezerState, Prop::CanStop, Prop::CanFreeze, Prop::MainPID, Prop::RequiredBy,
                       Prop::BoundBy, Prop::WantedBy, Prop::UnitFileState, Prop::ExecStart, Prop::User})
            reader.Ask(i, p);
        if (!reader.Run()) {
            SetLastError(reader.Error);
            return false;
        }
        UnitRead &unit = reader.Units[i];
        if (unit.Failed) {
            SetLastError(QStringLiteral("%1: %2").arg(Handle.m_Unit, unit.Error));
            return false;
        }
        bool jobGone = false;
        if (!unit.JobPath.empty()) {
            const std::size_t j = reader.AddUnit(Handle.m_Unit, unit.JobPath);
            reader.Ask(j, Prop::JobType);
            if (!reader.Run()) {
                SetLastError(reader.Error);
                return false;
            }
            jobGone = reader.Units[j].Failed;
            reader.Units[i].JobType = reader.Units[j].JobType;
        }
        // After a few tries the job counts as none.
        if (jobGone && attempt < 3)
            continue;
        const UnitRead &read = reader.Units[i];
        Handle.m_Info = InfoOf(read);
        Handle.m_UnitFileState = read.UnitFileState;
        Handle.m_LoadState = read.LoadState;
        Handle.m_Fresh = true;
        return true;
    }
}

std::optional<ServiceHandle> ServiceManager::OpenService(const QString &Name)
{
    if (Name.trimmed().isEmpty())
        return std::nullopt;
    ServiceHandle handle;
    handle.m_Name = Name;
    handle.m_Unit = UnitName(Name);
    const QByteArray unit = handle.m_Unit.toUtf8();
    // Finding the unit and reading it are one question with one deadline.
    const QDeadlineTimer deadline(kQueryTimeoutMs);
    if (!Call(
            kManagerInterface, "LoadUnit",
            [&](sd_bus_message *M) { return sd_bus_message_append(M, "s", unit.constData()); }, false, &handle.m_Path,
            deadline) ||
        handle.m_Path.isEmpty() || !Fetch(handle, deadline))
        return std::nullopt;
    if (handle.m_LoadState == QLatin1String("not-found")) {
        SetLastError(QStringLiteral("Unit %1 not found.").arg(handle.m_Unit));
        return std::nullopt;
    }
    return handle;
}

bool ServiceManager::QueryConfig(ServiceHandle &Handle, ServiceConfig &Config)
{
    if (!Handle.m_Fresh && !Fetch(Handle))
        return false;
    Config = Handle.m_Info.Config;
    return true;
}

bool ServiceManager::QueryStatus(ServiceHandle &Handle, ServiceStatus &Status)
{
    if (!Handle.m_Fresh && !Fetch(Handle))
        return false;
    Handle.m_Fresh = false; // the next status is read anew
    // The unit's timeouts bound a step (the manager fails it then); they say nothing about how
    // long it takes, and taken as an estimate they would make every wait poll in 9 s steps.
    Status = Handle.m_Info.Status;
    return true;
}

std::optional<QStringList> ServiceManager::Dependents(ServiceHandle &Handle, bool ActiveOnly)
{
    if (!Handle.m_Fresh && !Fetch(Handle))
        return std::nullopt;
    const QStringList names = Handle.m_Info.Dependents;
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

bool ServiceManager::UnitCall(ServiceHandle &Handle, const char *Method,
                              const std::function<int(sd_bus_message *)> &Append)
{
    Handle.m_Fresh = false;
    return Call(kManagerInterface, Method, Append, true);
}

bool ServiceManager::Start(ServiceHandle &Handle)
{
    const QByteArray unit = Handle.m_Unit.toUtf8();
    return UnitCall(Handle, "StartUnit",
                    [&](sd_bus_message *M) { return sd_bus_message_append(M, "ss", unit.constData(), "replace"); });
}

bool ServiceManager::Stop(ServiceHandle &Handle)
{
    const QByteArray unit = Handle.m_Unit.toUtf8();
    return UnitCall(Handle, "StopUnit",
                    [&](sd_bus_message *M) { return sd_bus_message_append(M, "ss", unit.constData(), "replace"); });
}

bool ServiceManager::Pause(ServiceHandle &Handle)
{
    const QByteArray unit = Handle.m_Unit.toUtf8();
    return UnitCall(Handle, "FreezeUnit",
                    [&](sd_bus_message *M) { return sd_bus_message_append(M, "s", unit.constData()); });
}

bool ServiceManager::Resume(ServiceHandle &Handle)
{
    const QByteArray unit = Handle.m_Unit.toUtf8();
    return UnitCall(Handle, "ThawUnit",
                    [&](sd_bus_message *M) { return sd_bus_message_append(M, "s", unit.constData()); });
}

bool ServiceManager::SetStartType(ServiceHandle &Handle, quint8 StartType)
{
    if (StartType != StartAutomatic && StartType != StartManual && StartType != StartDisabled)
        return false;
    // A handle just opened holds the unit's file state already.
    if (!Handle.m_Fresh && !Fetch(Handle))
        return false;
    const QByteArray unit = Handle.m_Unit.toUtf8();
    const char *file = unit.constData();
    const QString fileState = Handle.m_UnitFileState;
    const bool masked = StartTypeOf(fileState) == StartDisabled;
    // The unit files' changes: for this boot only (runtime), and whether to replace what is there.
    auto files = [file](bool Runtime) {
        return [file, Runtime](sd_bus_message *M) { return sd_bus_message_append(M, "asb", 1, file, int(Runtime)); };
    };
    auto forced = [file](sd_bus_message *M) { return sd_bus_message_append(M, "asbb", 1, file, 0, 1); };
    bool ok = true;
    if (StartType == StartDisabled) {
        ok = UnitCall(Handle, "MaskUnitFiles", forced);
    } else {
        // A mask made for this boot only lives in the runtime directory and is lifted there.
        if (masked)
            ok = UnitCall(Handle, "UnmaskUnitFiles", files(fileState == QLatin1String("masked-runtime")));
        if (ok && StartType == StartAutomatic)
            ok = UnitCall(Handle, "EnableUnitFiles", forced);
        else if (ok)
            ok = UnitCall(Handle, "DisableUnitFiles", files(false));
    }
    if (!ok)
        return false;
    if (!Call(kManagerInterface, "Reload", {}, true))
        return false;
    // A unit without install information cannot be enabled: the change did not happen then.
    if (!Fetch(Handle))
        return false;
    if (StartTypeOf(Handle.m_UnitFileState) != StartType) {
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
