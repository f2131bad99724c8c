#include "dictdb/DictDB.h"

#include "dictdb/DictDBFileIO.h"
#include "dictdb/DictTableIO.h"
#include "dictdb/Logging.h"
#include "platform/Logging.h"

#include <QTimer>

#include <algorithm>
#include <atomic>

using namespace dictdb;

namespace {

QString L(const char *s)
{
    return QString::fromLatin1(s);
}

std::mutex g_loginLock;
TDictDBLoginHandler &LoginHandler()
{
    static TDictDBLoginHandler handler;
    return handler;
}

TDictDBClient *AsClient(QObject *o)
{
    return dynamic_cast<TDictDBClient *>(o);
}

} // namespace

void SetDictDBLoginHandler(TDictDBLoginHandler Handler)
{
    std::lock_guard<std::mutex> g(g_loginLock);
    LoginHandler() = std::move(Handler);
}

TDictDBLoginHandler DictDBLoginHandler()
{
    std::lock_guard<std::mutex> g(g_loginLock);
    return LoginHandler();
}

// ---------------------------------------------------------------- TDictDatabase

TDictDatabase::TDictDatabase(QObject *AOwner) : QObject(AOwner), m_tableDefs(std::make_unique<TDictTableDefs>(this))
{
    m_flushTimer = new QTimer(this);
    m_flushTimer->setInterval(m_autoFlushInterval);
    QObject::connect(m_flushTimer, &QTimer::timeout, this, [this] { FlushTimerTick(); });
    TDictSession *session = DefaultSession();
    session->AddDatabase(this);
}

TDictDatabase::~TDictDatabase()
{
    try {
        SetConnected(false);
    } catch (...) {
        // A destructor swallows the failure of its last disconnect.
        qCWarning(lcEngine) << "disconnect at destruction failed:" << platform::currentExceptionText();
    }
    if (m_session)
        m_session->RemoveDatabase(this);
}

bool TDictDatabase::Connected() const
{
    return m_fileIO && m_fileIO->IsOpen();
}

void TDictDatabase::CheckInactive()
{
    if (Connected())
        DatabaseError(L(msg::SDatabaseOpen));
}

void TDictDatabase::CheckActive() const
{
    if (!Connected())
        DatabaseError(L(msg::SDatabaseClosed));
}

void TDictDatabase::SetFileName(const QString &Value)
{
    if (Value == m_fileName)
        return;
    CheckInactive();
    m_fileName = Value;
}

void TDictDatabase::CheckDatabaseName(TDictSession *InSession, const QString &Name)
{
    if (!InSession || Name.isEmpty())
        return;
    for (TDictDatabase *other : QList<TDictDatabase *>(InSession->m_databases)) {
        if (other == this || other->m_databaseName.compare(Name, Qt::CaseInsensitive) != 0)
            continue;
        if (!other->m_temporary || other->m_refCount > 0)
            DatabaseErrorFmt(L(msg::SDuplicateDatabaseName), Name);
        delete other;
    }
}

void TDictDatabase::SetDatabaseName(const QString &Value)
{
    if (Value == m_databaseName)
        return;
    CheckInactive();
    if (!m_loading)
        CheckDatabaseName(m_session, Value);
    m_databaseName = Value;
}

void TDictDatabase::SetMediumType(TDictDBMediumType Value)
{
    if (Value == m_mediumType)
        return;
    CheckInactive();
    m_mediumType = Value;
    for (QObject *o : QList<QObject *>(m_dataSets))
        if (TDictDBClient *c = AsClient(o))
            c->SetClientMediumType(Value);
}

void TDictDatabase::SetExclusive(bool Value)
{
    if (Value == m_exclusive)
        return;
    CheckInactive();
    m_exclusive = Value;
}

void TDictDatabase::SetKeepConnection(bool Value)
{
    if (Value == m_keepConnection)
        return;
    m_keepConnection = Value;
    if (!Value && m_refCount == 0)
        SetConnected(false);
}

void TDictDatabase::SetSessionName(const QString &Value)
{
    if (m_loading) {
        m_sessionName = Value;
        return;
    }
    if (Value == m_sessionName)
        return;
    CheckInactive();
    TDictSession *target = Sessions()->GetSession(Value);
    m_sessionName = Value;
    MoveToSession(target);
}

void TDictDatabase::MoveToSession(TDictSession *NewSession)
{
    if (!NewSession || NewSession == m_session)
        return;
    CheckDatabaseName(NewSession, m_databaseName);
    if (m_session)
        m_session->RemoveDatabase(this);
    NewSession->AddDatabase(this);
}

void TDictDatabase::SetAutoFlush(bool Value)
{
    m_autoFlush = Value;
    if (Value) {
        m_flushTimer->setInterval(m_autoFlushInterval);
        m_flushTimer->start();
    } else {
        m_flushTimer->stop();
    }
}

void TDictDatabase::SetAutoFlushInterval(int Value)
{
    m_autoFlushInterval = Value;
    if (m_flushTimer->isActive())
        m_flushTimer->start(Value);
}

void TDictDatabase::FlushTimerTick()
{
    if (Connected() && !m_fileIO->Flushed())
        FlushFile();
}

void TDictDatabase::SetConnected(bool Value)
{
    if (m_loading) {
        m_streamedConnected = Value;
        return;
    }
    if (Value == Connected())
        return;
    if (Value) {
        if (BeforeConnect)
            BeforeConnect(this);
        try {
            DoConnect();
        } catch (...) {
            // A failed connect leaves the database closed.
            if (m_fileIO)
                m_fileIO->Close();
            m_fileIO.reset();
            m_canAccess = false;
            FreeTables();
            throw;
        }
        for (QObject *o : QList<QObject *>(m_dataSets))
            if (TDictDBClient *c = AsClient(o))
                c->DatabaseConnectChange(true);
        if (AfterConnect)
            AfterConnect(this);
    } else {
        if (BeforeDisconnect)
            BeforeDisconnect(this);
        for (QObject *o : QList<QObject *>(m_dataSets))
            if (TDictDBClient *c = AsClient(o))
                c->DatabaseConnectChange(false);
        DoDisconnect();
        if (AfterDisconnect)
            AfterDisconnect(this);
    }
}

// The file object asks the session in use at each lock for its waits, and reports the plug-ins'
// progress through this database's events, with the database as sender.
TDictDBFileSettings TDictDatabase::FileSettings()
{
    TDictDBFileSettings s;
    s.MediumType = m_mediumType;
    s.Exclusive = m_exclusive;
    s.LockRetryCount = [this] { return m_session ? m_session->LockRetryCount() : 20; };
    s.LockWaitTime = [this] { return m_session ? m_session->LockWaitTime() : 100; };
    auto relay = [this](TOnProgressEvent TDictDatabase::*event) {
        return [this, event](QObject *, int Percent) {
            if (this->*event)
                (this->*event)(this, Percent);
        };
    };
    s.OnCompressProgress = relay(&TDictDatabase::OnCompressProgress);
    s.OnUncompressProgress = relay(&TDictDatabase::OnUncompressProgress);
    s.OnEncryptProgress = relay(&TDictDatabase::OnEncryptProgress);
    s.OnDecryptProgress = relay(&TDictDatabase::OnDecryptProgress);
    return s;
}

void TDictDatabase::DoConnect()
{
    if (m_databaseName.isEmpty() && !m_temporary)
        DatabaseError(L(msg::SDatabaseNameMissing));
    TDictSession *session = Sessions()->GetSession(m_sessionName);
    if (session != m_session)
        MoveToSession(session);
    m_session->SetActive(true);
    if (!m_fileIO)
        m_fileIO = std::make_unique<TDictDBFileIO>(FileSettings());
    m_fileIO->Open(m_fileName.isEmpty() ? m_databaseName : m_fileName, m_mediumType, m_exclusive);
    m_canAccess = !m_fileIO->Encrypted();
    if (!m_canAccess && m_passwordGiven)
        m_canAccess = m_fileIO->SetPassword(m_password);
    QStringList names;
    m_fileIO->GetTableNames(names);
    FreeTables();
    for (int i = 0; i < names.size(); ++i) {
        TDictTableDef *def = m_tableDefs->Add();
        def->SetName(names.at(i));
        def->TableIdx = i;
        auto io = std::make_unique<TDictTableIO>(this);
        io->TableName = names.at(i);
        m_tableIOs.push_back(std::move(io));
    }
}

void TDictDatabase::FreeTables()
{
    m_tableIOs.clear();
    m_tableDefs->Clear();
}

void TDictDatabase::DoDisconnect()
{
    m_disconnecting = true;
    if (m_fileIO)
        m_fileIO->Close();
    m_fileIO.reset();
    if (m_session)
        m_session->Notify(1, this);
    try {
        for (int i = int(m_dataSets.size()) - 1; i >= 0; --i) {
            if (i >= m_dataSets.size())
                continue;
            if (TDictDBClient *c = AsClient(m_dataSets.at(i)))
                c->CloseDataSet();
        }
    } catch (...) {
        m_disconnecting = false;
        throw;
    }
    m_disconnecting = false;
    m_refCount = 0;
    m_canAccess = false;
    m_password.clear();
    m_passwordGiven = false;
    FreeTables();
}

void TDictDatabase::FlushFile()
{
    if (m_fileIO)
        m_fileIO->Flush();
}

void TDictDatabase::GetTableNames(QStringList &List)
{
    if (!Connected())
        return;
    m_fileIO->GetTableNames(List);
}

TDictTableIO *TDictDatabase::TableIOByName(const QString &Name) const
{
    for (const auto &io : m_tableIOs)
        if (CompareDBString(io->TableName, Name, false, true, 0) == 0)
            return io.get();
    return nullptr;
}

bool TDictDatabase::Encrypted() const
{
    CheckActive();
    return m_fileIO->Encrypted();
}

bool TDictDatabase::Compressed() const
{
    CheckActive();
    return m_fileIO->Compressed();
}

bool TDictDatabase::VerifyWrites() const
{
    CheckActive();
    return m_fileIO->VerifyWrites();
}

void TDictDatabase::SetPassword(const QString &Password)
{
    m_password = Password;
    m_passwordGiven = true;
    if (Connected())
        m_canAccess = m_fileIO->SetPassword(Password);
}

void TDictDatabase::CheckCanAccess()
{
    if (m_canAccess)
        return;
    const QStringList passwords = m_session ? m_session->Passwords : QStringList();
    for (const QString &p : passwords) {
        SetPassword(p);
        if (m_canAccess)
            return;
    }
    if (m_passwordGiven) {
        SetPassword(m_password);
        if (!m_canAccess)
            DatabaseError(L(msg::SAccessDenied));
        return;
    }
    const TDictDBLoginHandler login = DictDBLoginHandler();
    // Without a dialog to ask, a file whose password nobody gave is refused.
    if (!login)
        DatabaseError(L(msg::SAccessDenied));
    QString password;
    if (!login(m_fileName.isEmpty() ? m_databaseName : m_fileName, password))
        Abort();
    SetPassword(password);
    if (!m_canAccess)
        DatabaseError(L(msg::SAccessDenied));
}

TDictDBClient *TDictDatabase::GetDataSet(int Index) const
{
    return AsClient(m_dataSets.value(Index));
}

int TDictDatabase::GetDataSetCount() const
{
    return int(m_dataSets.size());
}

void TDictDatabase::RegisterClient(QObject *Client)
{
    if (AsClient(Client) && !m_dataSets.contains(Client))
        m_dataSets.append(Client);
}

void TDictDatabase::UnregisterClient(QObject *Client)
{
    m_dataSets.removeAll(Client);
}

void TDictDatabase::Loaded()
{
    m_loading = false;
    try {
        if (m_streamedConnected)
            SetConnected(true);
        else if (!m_sessionName.isEmpty())
            MoveToSession(Sessions()->GetSession(m_sessionName));
    } catch (const EDatabaseError &) {
        throw;
    }
}

// ---------------------------------------------------------------- TDictSession

TDictSession::TDictSession(QObject *AOwner) : QObject(AOwner)
{
    if (AOwner)
        for (QObject *sibling : AOwner->children())
            if (auto *s = dynamic_cast<TDictSession *>(sibling); s && s != this && s->m_autoSessionName)
                DatabaseErrorFmt(L(msg::SAutoSessionExists), s->m_sessionName);
    if (Sessions())
        Sessions()->AddSession(this);
}

TDictSession::~TDictSession()
{
    // A destructor cannot report: a failed disconnect still lets the session go.
    try {
        SetActive(false);
    } catch (...) {
        qCWarning(lcEngine) << "closing a session failed:" << platform::currentExceptionText();
    }
    // Databases of a session that goes away disconnect and forget it.
    for (TDictDatabase *db : QList<TDictDatabase *>(m_databases)) {
        try {
            db->SetConnected(false);
        } catch (...) {
            qCWarning(lcEngine) << "disconnect at a session's end failed:" << platform::currentExceptionText();
        }
        if (db->m_temporary && db->parent() == this) {
            delete db;
            continue;
        }
        m_databases.removeAll(db);
        db->m_session = nullptr;
        db->m_sessionName.clear();
        if (TDictSession *def = DefaultSession(); def && def != this)
            def->AddDatabase(db);
    }
    if (m_autoNumber >= 0)
        Sessions()->ReleaseAutoNumber(m_autoNumber);
    Sessions()->RemoveSession(this);
}

void TDictSession::AddDatabase(TDictDatabase *Database)
{
    // Databases made on several threads join the default session at once.
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    if (!m_databases.contains(Database))
        m_databases.append(Database);
    Database->m_session = this;
    Notify(2, Database);
}

void TDictSession::RemoveDatabase(TDictDatabase *Database)
{
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    if (m_databases.removeAll(Database) > 0)
        Notify(3, Database);
    if (Database->m_session == this)
        Database->m_session = nullptr;
}

void TDictSession::Notify(int Event, TDictDatabase *Database)
{
    if (NotifyHook)
        NotifyHook(Event, Database);
}

void TDictSession::SetActive(bool Value)
{
    if (m_loading) {
        m_streamedActive = Value;
        return;
    }
    if (Value == m_active)
        return;
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    if (Value == m_active)
        return;
    if (Value) {
        if (OnStartup)
            OnStartup(this);
        if (m_sessionName.isEmpty())
            DatabaseError(L(msg::SSessionNameMissing));
        TDictSession *def = DefaultSession();
        if (def && def != this)
            def->SetActive(true);
        m_active = true;
    } else {
        for (int i = int(m_databases.size()) - 1; i >= 0; --i) {
            if (i >= m_databases.size())
                continue;
            TDictDatabase *db = m_databases.at(i);
            if (db->m_temporary)
                delete db;
            else
                db->SetConnected(false);
        }
        m_active = false;
    }
}

void TDictSession::InternalSetSessionName(const QString &Value)
{
    for (TDictSession *s : Sessions()->List())
        if (s != this && s->m_sessionName.compare(Value, Qt::CaseInsensitive) == 0)
            DatabaseErrorFmt(L(msg::SDuplicateSessionName), Value);
    m_sessionName = Value;
}

void TDictSession::SetSessionName(const QString &Value)
{
    if (Value == m_sessionName)
        return;
    if (m_autoSessionName && !m_renaming)
        DatabaseError(L(msg::SAutoSessionActive));
    if (m_active)
        DatabaseError(L(msg::SSessionActive));
    InternalSetSessionName(Value);
}

void TDictSession::SetAutoSessionName(bool Value)
{
    if (Value == m_autoSessionName)
        return;
    if (Value) {
        if (m_active)
            DatabaseError(L(msg::SSessionActive));
        if (QObject *owner = parent())
            for (QObject *sibling : owner->children())
                if (sibling != this && dynamic_cast<TDictSession *>(sibling))
                    DatabaseError(L(msg::SAutoSessionExclusive));
        {
            std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
            m_autoNumber = Sessions()->TakeAutoNumber();
        }
        m_autoSessionName = true;
        ApplyAutoName();
    } else {
        m_autoSessionName = false;
        if (m_autoNumber >= 0) {
            std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
            Sessions()->ReleaseAutoNumber(m_autoNumber);
        }
        m_autoNumber = -1;
    }
}

void TDictSession::ApplyAutoName()
{
    const QString name = QStringLiteral("%1_%2").arg(objectName()).arg(m_autoNumber + 1);
    m_renaming = true;
    try {
        InternalSetSessionName(name);
    } catch (...) {
        m_renaming = false;
        throw;
    }
    m_renaming = false;
    // Data sets and databases beside the session follow it.
    if (QObject *owner = parent())
        for (QObject *sibling : owner->children()) {
            if (TDictDBClient *c = AsClient(sibling))
                c->SetClientSessionName(name);
            else if (auto *db = dynamic_cast<TDictDatabase *>(sibling); db && !db->Connected())
                db->SetSessionName(name);
        }
}

void TDictSession::SetName(const QString &Value)
{
    setObjectName(Value);
    if (m_autoSessionName)
        ApplyAutoName();
}

void TDictSession::Loaded()
{
    m_loading = false;
    if (m_streamedActive)
        SetActive(true);
}

TDictDatabase *TDictSession::FindDatabase(const QString &Name) const
{
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    for (TDictDatabase *db : m_databases)
        if (db->DatabaseName().compare(Name, Qt::CaseInsensitive) == 0)
            return db;
    return nullptr;
}

TDictDatabase *TDictSession::OpenDatabase(const QString &DatabaseName, QObject *DataSet, bool AddRef)
{
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    ++m_lockNesting;
    struct Nesting
    {
        int &n;
        ~Nesting() { --n; }
    } nesting{m_lockNesting};
    SetActive(true);
    TDictDatabase *db = FindDatabase(DatabaseName);
    bool created = false;
    if (!db) {
        db = new TDictDatabase(this);
        db->m_temporary = true;
        created = true;
        if (db->m_session != this) {
            if (db->m_session)
                db->m_session->RemoveDatabase(db);
            AddDatabase(db);
        }
        db->m_sessionName = m_sessionName;
        if (TDictDBClient *c = AsClient(DataSet))
            db->m_mediumType = c->ClientMediumType();
        db->m_databaseName = DatabaseName;
        db->m_keepConnection = m_keepConnections;
    }
    try {
        db->SetConnected(true);
    } catch (...) {
        if (created)
            delete db;
        throw;
    }
    if (AddRef)
        ++db->m_refCount;
    return db;
}

void TDictSession::CloseDatabase(TDictDatabase *Database)
{
    if (!Database)
        return;
    if (Database->m_refCount > 0)
        --Database->m_refCount;
    if (Database->m_refCount > 0 || Database->m_keepConnection || Database->m_disconnecting)
        return;
    if (Database->m_temporary)
        delete Database;
    else
        Database->SetConnected(false);
}

// ---------------------------------------------------------------- TDictSessionList

TDictSessionList::TDictSessionList() = default;

TDictSessionList::~TDictSessionList() = default;

void TDictSessionList::AddSession(TDictSession *Session)
{
    std::lock_guard<std::mutex> g(m_listLock);
    if (!m_sessions.contains(Session))
        m_sessions.append(Session);
}

void TDictSessionList::RemoveSession(TDictSession *Session)
{
    std::lock_guard<std::mutex> g(m_listLock);
    m_sessions.removeAll(Session);
}

QList<TDictSession *> TDictSessionList::List() const
{
    std::lock_guard<std::mutex> g(m_listLock);
    return m_sessions;
}

TDictSession *TDictSessionList::FindSession(const QString &Name) const
{
    if (Name.isEmpty())
        return DefaultSession();
    for (TDictSession *s : List())
        if (s->SessionName().compare(Name, Qt::CaseInsensitive) == 0)
            return s;
    return nullptr;
}

TDictSession *TDictSessionList::GetSession(const QString &Name) const
{
    TDictSession *s = FindSession(Name);
    if (!s)
        DatabaseErrorFmt(L(msg::SInvalidSessionName), Name);
    return s;
}

void TDictSessionList::CloseAll()
{
    for (TDictSession *s : List())
        s->SetActive(false);
}

int TDictSessionList::TakeAutoNumber()
{
    std::lock_guard<std::recursive_mutex> g(m_global);
    for (size_t i = 0; i < m_used.size(); ++i)
        if (!m_used[i]) {
            m_used[i] = true;
            return int(i);
        }
    m_used.push_back(true);
    return int(m_used.size()) - 1;
}

void TDictSessionList::ReleaseAutoNumber(int Number)
{
    std::lock_guard<std::recursive_mutex> g(m_global);
    if (Number >= 0 && size_t(Number) < m_used.size())
        m_used[size_t(Number)] = false;
}

// ---------------------------------------------------------------- globals

namespace {

// The engine starts on its first use, from whichever thread comes first; the others wait
// for it. Creating the default session calls back into Sessions() on the same thread,
// which then sees the half-built state it is making.
struct EngineState
{
    std::recursive_mutex lock;
    TDictSessionList *sessions = nullptr;
    TDictSession *defaultSession = nullptr;
    std::atomic<bool> ready{false};
    bool creating = false;
    ~EngineState() { FinalizeDictDB(); }
};

EngineState &Engine()
{
    static EngineState state;
    return state;
}

// The engine, started if it is not yet; nullptr only while it is being torn down.
EngineState &StartedEngine()
{
    EngineState &e = Engine();
    if (!e.ready.load(std::memory_order_acquire))
        InitializeDictDB();
    return e;
}

} // namespace

void InitializeDictDB()
{
    EngineState &e = Engine();
    std::lock_guard<std::recursive_mutex> g(e.lock);
    if (e.sessions || e.creating)
        return;
    e.creating = true;
    try {
        RegisterBuiltinDataProcessAlgos();
        e.sessions = new TDictSessionList;
        e.defaultSession = new TDictSession(nullptr);
        e.defaultSession->m_sessionName = QStringLiteral("Default");
        e.defaultSession->setObjectName(QStringLiteral("Default"));
    } catch (...) {
        e.creating = false;
        throw;
    }
    e.creating = false;
    e.ready.store(true, std::memory_order_release);
}

void FinalizeDictDB()
{
    EngineState &e = Engine();
    std::lock_guard<std::recursive_mutex> g(e.lock);
    if (!e.sessions)
        return;
    e.ready.store(false, std::memory_order_release);
    // Other sessions first, the default one last.
    for (TDictSession *s : e.sessions->List())
        if (s != e.defaultSession && !s->parent())
            delete s;
    TDictSession *def = e.defaultSession;
    e.defaultSession = nullptr;
    for (TDictDatabase *db : QList<TDictDatabase *>(def->Databases())) {
        // The engine's end: a failed disconnect cannot be reported any more.
        try {
            db->SetConnected(false);
        } catch (...) {
            qCWarning(lcEngine) << "disconnect at the engine's end failed:" << platform::currentExceptionText();
        }
        if (db->parent() == def)
            delete db;
        else
            def->RemoveDatabase(db);
    }
    delete def;
    delete e.sessions;
    e.sessions = nullptr;
}

TDictSessionList *Sessions()
{
    return StartedEngine().sessions;
}

TDictSession *DefaultSession()
{
    return StartedEngine().defaultSession;
}

TDictSession *GetDefaultSession()
{
    return DefaultSession();
}
