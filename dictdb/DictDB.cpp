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

QString L(const char *S)
{
    return QString::fromLatin1(S);
}

std::mutex g_loginLock;
TDictDBLoginHandler &LoginHandler()
{
    static TDictDBLoginHandler handler;
    return handler;
}

TDictDBClient *AsClient(QObject *O)
{
    return dynamic_cast<TDictDBClient *>(O);
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

TDictDatabase::TDictDatabase(QObject *AOwner) : QObject(AOwner), m_TableDefs(std::make_unique<TDictTableDefs>(this))
{
    m_FlushTimer = new QTimer(this);
    m_FlushTimer->setInterval(m_AutoFlushInterval);
    QObject::connect(m_FlushTimer, &QTimer::timeout, this, [this] { FlushTimerTick(); });
    TDictSession *session = DefaultSession();
    session->AddDatabase(this);
}

TDictDatabase::~TDictDatabase()
{
    try {
        SetConnected(false);
    } catch (...) {
        // A destructor swallows the failure of its last disconnect.
        qCWarning(lcEngine) << "disconnect at destruction failed:" << platform::CurrentExceptionText();
    }
    if (m_Session)
        m_Session->RemoveDatabase(this);
}

bool TDictDatabase::Connected() const
{
    return m_FileIo && m_FileIo->IsOpen();
}

void TDictDatabase::CheckInactive()
{
    if (Connected())
        DatabaseError(L(msg::kSDatabaseOpen));
}

void TDictDatabase::CheckActive() const
{
    if (!Connected())
        DatabaseError(L(msg::kSDatabaseClosed));
}

void TDictDatabase::SetFileName(const QString &Value)
{
    if (Value == m_FileName)
        return;
    CheckInactive();
    m_FileName = Value;
}

void TDictDatabase::CheckDatabaseName(TDictSession *InSession, const QString &Name)
{
    if (!InSession || Name.isEmpty())
        return;
    // Databases made on other threads join and leave the session meanwhile.
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    for (TDictDatabase *other : QList<TDictDatabase *>(InSession->m_Databases)) {
        if (other == this || other->m_DatabaseName.compare(Name, Qt::CaseInsensitive) != 0)
            continue;
        if (!other->m_Temporary || other->m_RefCount > 0)
            DatabaseErrorFmt(L(msg::kSDuplicateDatabaseName), Name);
        delete other;
    }
}

void TDictDatabase::SetDatabaseName(const QString &Value)
{
    if (Value == m_DatabaseName)
        return;
    CheckInactive();
    if (!m_Loading)
        CheckDatabaseName(m_Session, Value);
    m_DatabaseName = Value;
}

void TDictDatabase::SetMediumType(TDictDBMediumType Value)
{
    if (Value == m_MediumType)
        return;
    CheckInactive();
    m_MediumType = Value;
    for (QObject *o : QList<QObject *>(m_DataSets))
        if (TDictDBClient *c = AsClient(o))
            c->SetClientMediumType(Value);
}

void TDictDatabase::SetExclusive(bool Value)
{
    if (Value == m_Exclusive)
        return;
    CheckInactive();
    m_Exclusive = Value;
}

void TDictDatabase::SetKeepConnection(bool Value)
{
    if (Value == m_KeepConnection)
        return;
    m_KeepConnection = Value;
    if (!Value && m_RefCount == 0)
        SetConnected(false);
}

void TDictDatabase::SetSessionName(const QString &Value)
{
    if (m_Loading) {
        m_SessionName = Value;
        return;
    }
    if (Value == m_SessionName)
        return;
    CheckInactive();
    TDictSession *target = Sessions()->GetSession(Value);
    m_SessionName = Value;
    MoveToSession(target);
}

void TDictDatabase::MoveToSession(TDictSession *NewSession)
{
    if (!NewSession || NewSession == m_Session)
        return;
    CheckDatabaseName(NewSession, m_DatabaseName);
    if (m_Session)
        m_Session->RemoveDatabase(this);
    NewSession->AddDatabase(this);
}

void TDictDatabase::SetAutoFlush(bool Value)
{
    m_AutoFlush = Value;
    if (Value) {
        m_FlushTimer->setInterval(m_AutoFlushInterval);
        m_FlushTimer->start();
    } else {
        m_FlushTimer->stop();
    }
}

void TDictDatabase::SetAutoFlushInterval(int Value)
{
    m_AutoFlushInterval = Value;
    if (m_FlushTimer->isActive())
        m_FlushTimer->start(Value);
}

void TDictDatabase::FlushTimerTick()
{
    if (Connected() && !m_FileIo->Flushed())
        FlushFile();
}

void TDictDatabase::SetConnected(bool Value)
{
    if (m_Loading) {
        m_StreamedConnected = Value;
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
            if (m_FileIo)
                m_FileIo->Close();
            m_FileIo.reset();
            m_CanAccess = false;
            FreeTables();
            throw;
        }
        for (QObject *o : QList<QObject *>(m_DataSets))
            if (TDictDBClient *c = AsClient(o))
                c->DatabaseConnectChange(true);
        if (AfterConnect)
            AfterConnect(this);
    } else {
        if (BeforeDisconnect)
            BeforeDisconnect(this);
        for (QObject *o : QList<QObject *>(m_DataSets))
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
    s.MediumType = m_MediumType;
    s.Exclusive = m_Exclusive;
    s.LockRetryCount = [this] { return m_Session ? m_Session->LockRetryCount() : 20; };
    s.LockWaitTime = [this] { return m_Session ? m_Session->LockWaitTime() : 100; };
    auto relay = [this](TOnProgressEvent TDictDatabase::*Event) {
        return [this, Event](QObject *, int Percent) {
            if (this->*Event)
                (this->*Event)(this, Percent);
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
    if (m_DatabaseName.isEmpty() && !m_Temporary)
        DatabaseError(L(msg::kSDatabaseNameMissing));
    TDictSession *session = Sessions()->GetSession(m_SessionName);
    if (session != m_Session)
        MoveToSession(session);
    m_Session->SetActive(true);
    if (!m_FileIo)
        m_FileIo = std::make_unique<TDictDBFileIO>(FileSettings());
    m_FileIo->Open(m_FileName.isEmpty() ? m_DatabaseName : m_FileName, m_MediumType, m_Exclusive);
    m_CanAccess = !m_FileIo->Encrypted();
    if (!m_CanAccess && m_PasswordGiven)
        m_CanAccess = m_FileIo->SetPassword(m_Password);
    QStringList names;
    m_FileIo->GetTableNames(names);
    FreeTables();
    for (int i = 0; i < names.size(); ++i) {
        TDictTableDef *def = m_TableDefs->Add();
        def->SetName(names.at(i));
        def->TableIdx = i;
        auto io = std::make_unique<TDictTableIO>(this);
        io->TableName = names.at(i);
        m_TableIOs.push_back(std::move(io));
    }
}

void TDictDatabase::FreeTables()
{
    m_TableIOs.clear();
    m_TableDefs->Clear();
}

void TDictDatabase::DoDisconnect()
{
    m_Disconnecting = true;
    if (m_FileIo)
        m_FileIo->Close();
    m_FileIo.reset();
    if (m_Session)
        m_Session->Notify(1, this);
    try {
        for (int i = int(m_DataSets.size()) - 1; i >= 0; --i) {
            if (i >= m_DataSets.size())
                continue;
            if (TDictDBClient *c = AsClient(m_DataSets.at(i)))
                c->CloseDataSet();
        }
    } catch (...) {
        m_Disconnecting = false;
        throw;
    }
    m_Disconnecting = false;
    m_RefCount = 0;
    m_CanAccess = false;
    m_Password.clear();
    m_PasswordGiven = false;
    FreeTables();
}

void TDictDatabase::FlushFile()
{
    if (m_FileIo)
        m_FileIo->Flush();
}

void TDictDatabase::GetTableNames(QStringList &List)
{
    if (!Connected())
        return;
    m_FileIo->GetTableNames(List);
}

TDictTableIO *TDictDatabase::TableIOByName(const QString &Name) const
{
    for (const auto &io : m_TableIOs)
        if (CompareDBString(io->TableName, Name, false, true, 0) == 0)
            return io.get();
    return nullptr;
}

bool TDictDatabase::Encrypted() const
{
    CheckActive();
    return m_FileIo->Encrypted();
}

bool TDictDatabase::Compressed() const
{
    CheckActive();
    return m_FileIo->Compressed();
}

bool TDictDatabase::VerifyWrites() const
{
    CheckActive();
    return m_FileIo->VerifyWrites();
}

void TDictDatabase::SetPassword(const QString &Password)
{
    m_Password = Password;
    m_PasswordGiven = true;
    if (Connected())
        m_CanAccess = m_FileIo->SetPassword(Password);
}

void TDictDatabase::CheckCanAccess()
{
    if (m_CanAccess)
        return;
    const QStringList passwords = m_Session ? m_Session->Passwords : QStringList();
    for (const QString &p : passwords) {
        SetPassword(p);
        if (m_CanAccess)
            return;
    }
    if (m_PasswordGiven) {
        SetPassword(m_Password);
        if (!m_CanAccess)
            DatabaseError(L(msg::kSAccessDenied));
        return;
    }
    const TDictDBLoginHandler login = DictDBLoginHandler();
    // Without a dialog to ask, a file whose password nobody gave is refused.
    if (!login)
        DatabaseError(L(msg::kSAccessDenied));
    QString password;
    if (!login(m_FileName.isEmpty() ? m_DatabaseName : m_FileName, password))
        Abort();
    SetPassword(password);
    if (!m_CanAccess)
        DatabaseError(L(msg::kSAccessDenied));
}

TDictDBClient *TDictDatabase::GetDataSet(int Index) const
{
    return AsClient(m_DataSets.value(Index));
}

int TDictDatabase::GetDataSetCount() const
{
    return int(m_DataSets.size());
}

void TDictDatabase::RegisterClient(QObject *Client)
{
    if (AsClient(Client) && !m_DataSets.contains(Client))
        m_DataSets.append(Client);
}

void TDictDatabase::UnregisterClient(QObject *Client)
{
    m_DataSets.removeAll(Client);
}

void TDictDatabase::Loaded()
{
    m_Loading = false;
    try {
        if (m_StreamedConnected)
            SetConnected(true);
        else if (!m_SessionName.isEmpty())
            MoveToSession(Sessions()->GetSession(m_SessionName));
    } catch (const EDatabaseError &) {
        throw;
    }
}

// ---------------------------------------------------------------- TDictSession

TDictSession::TDictSession(QObject *AOwner) : QObject(AOwner)
{
    if (AOwner)
        for (QObject *sibling : AOwner->children())
            if (auto *s = dynamic_cast<TDictSession *>(sibling); s && s != this && s->m_AutoSessionName)
                DatabaseErrorFmt(L(msg::kSAutoSessionExists), s->m_SessionName);
    if (Sessions())
        Sessions()->AddSession(this);
}

TDictSession::~TDictSession()
{
    // A destructor cannot report: a failed disconnect still lets the session go.
    try {
        SetActive(false);
    } catch (...) {
        qCWarning(lcEngine) << "closing a session failed:" << platform::CurrentExceptionText();
    }
    // Databases of a session that goes away disconnect and forget it.
    for (TDictDatabase *db : QList<TDictDatabase *>(m_Databases)) {
        try {
            db->SetConnected(false);
        } catch (...) {
            qCWarning(lcEngine) << "disconnect at a session's end failed:" << platform::CurrentExceptionText();
        }
        if (db->m_Temporary && db->parent() == this) {
            delete db;
            continue;
        }
        m_Databases.removeAll(db);
        db->m_Session = nullptr;
        db->m_SessionName.clear();
        if (TDictSession *def = DefaultSession(); def && def != this)
            def->AddDatabase(db);
    }
    if (m_AutoNumber >= 0)
        Sessions()->ReleaseAutoNumber(m_AutoNumber);
    Sessions()->RemoveSession(this);
}

void TDictSession::AddDatabase(TDictDatabase *Database)
{
    // Databases made on several threads join the default session at once.
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    if (!m_Databases.contains(Database))
        m_Databases.append(Database);
    Database->m_Session = this;
    Notify(2, Database);
}

void TDictSession::RemoveDatabase(TDictDatabase *Database)
{
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    if (m_Databases.removeAll(Database) > 0)
        Notify(3, Database);
    if (Database->m_Session == this)
        Database->m_Session = nullptr;
}

void TDictSession::Notify(int Event, TDictDatabase *Database)
{
    if (NotifyHook)
        NotifyHook(Event, Database);
}

void TDictSession::SetActive(bool Value)
{
    if (m_Loading) {
        m_StreamedActive = Value;
        return;
    }
    if (Value == m_Active)
        return;
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    if (Value == m_Active)
        return;
    if (Value) {
        if (OnStartup)
            OnStartup(this);
        if (m_SessionName.isEmpty())
            DatabaseError(L(msg::kSSessionNameMissing));
        TDictSession *def = DefaultSession();
        if (def && def != this)
            def->SetActive(true);
        m_Active = true;
    } else {
        for (int i = int(m_Databases.size()) - 1; i >= 0; --i) {
            if (i >= m_Databases.size())
                continue;
            TDictDatabase *db = m_Databases.at(i);
            if (db->m_Temporary)
                delete db;
            else
                db->SetConnected(false);
        }
        m_Active = false;
    }
}

void TDictSession::InternalSetSessionName(const QString &Value)
{
    for (TDictSession *s : Sessions()->List())
        if (s != this && s->m_SessionName.compare(Value, Qt::CaseInsensitive) == 0)
            DatabaseErrorFmt(L(msg::kSDuplicateSessionName), Value);
    m_SessionName = Value;
}

void TDictSession::SetSessionName(const QString &Value)
{
    if (Value == m_SessionName)
        return;
    if (m_AutoSessionName && !m_Renaming)
        DatabaseError(L(msg::kSAutoSessionActive));
    if (m_Active)
        DatabaseError(L(msg::kSSessionActive));
    InternalSetSessionName(Value);
}

void TDictSession::SetAutoSessionName(bool Value)
{
    if (Value == m_AutoSessionName)
        return;
    if (Value) {
        if (m_Active)
            DatabaseError(L(msg::kSSessionActive));
        if (QObject *owner = parent())
            for (QObject *sibling : owner->children())
                if (sibling != this && dynamic_cast<TDictSession *>(sibling))
                    DatabaseError(L(msg::kSAutoSessionExclusive));
        {
            std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
            m_AutoNumber = Sessions()->TakeAutoNumber();
        }
        m_AutoSessionName = true;
        ApplyAutoName();
    } else {
        m_AutoSessionName = false;
        if (m_AutoNumber >= 0) {
            std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
            Sessions()->ReleaseAutoNumber(m_AutoNumber);
        }
        m_AutoNumber = -1;
    }
}

void TDictSession::ApplyAutoName()
{
    const QString name = QStringLiteral("%1_%2").arg(objectName()).arg(m_AutoNumber + 1);
    m_Renaming = true;
    try {
        InternalSetSessionName(name);
    } catch (...) {
        m_Renaming = false;
        throw;
    }
    m_Renaming = false;
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
    if (m_AutoSessionName)
        ApplyAutoName();
}

void TDictSession::Loaded()
{
    m_Loading = false;
    if (m_StreamedActive)
        SetActive(true);
}

TDictDatabase *TDictSession::FindDatabase(const QString &Name) const
{
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    for (TDictDatabase *db : m_Databases)
        if (db->DatabaseName().compare(Name, Qt::CaseInsensitive) == 0)
            return db;
    return nullptr;
}

TDictDatabase *TDictSession::OpenDatabase(const QString &DatabaseName, QObject *DataSet, bool AddRef)
{
    std::lock_guard<std::recursive_mutex> g(Sessions()->GlobalLock());
    ++m_LockNesting;
    struct Nesting
    {
        int &N;
        ~Nesting() { --N; }
    } nesting{m_LockNesting};
    SetActive(true);
    TDictDatabase *db = FindDatabase(DatabaseName);
    bool created = false;
    if (!db) {
        db = new TDictDatabase(this);
        db->m_Temporary = true;
        created = true;
        if (db->m_Session != this) {
            if (db->m_Session)
                db->m_Session->RemoveDatabase(db);
            AddDatabase(db);
        }
        db->m_SessionName = m_SessionName;
        if (TDictDBClient *c = AsClient(DataSet))
            db->m_MediumType = c->ClientMediumType();
        db->m_DatabaseName = DatabaseName;
        db->m_KeepConnection = m_KeepConnections;
    }
    try {
        db->SetConnected(true);
    } catch (...) {
        if (created)
            delete db;
        throw;
    }
    if (AddRef)
        ++db->m_RefCount;
    return db;
}

void TDictSession::CloseDatabase(TDictDatabase *Database)
{
    if (!Database)
        return;
    if (Database->m_RefCount > 0)
        --Database->m_RefCount;
    if (Database->m_RefCount > 0 || Database->m_KeepConnection || Database->m_Disconnecting)
        return;
    if (Database->m_Temporary)
        delete Database;
    else
        Database->SetConnected(false);
}

// ---------------------------------------------------------------- TDictSessionList

TDictSessionList::TDictSessionList() = default;

TDictSessionList::~TDictSessionList() = default;

void TDictSessionList::AddSession(TDictSession *Session)
{
    std::lock_guard<std::mutex> g(m_ListLock);
    if (!m_Sessions.contains(Session))
        m_Sessions.append(Session);
}

void TDictSessionList::RemoveSession(TDictSession *Session)
{
    std::lock_guard<std::mutex> g(m_ListLock);
    m_Sessions.removeAll(Session);
}

QList<TDictSession *> TDictSessionList::List() const
{
    std::lock_guard<std::mutex> g(m_ListLock);
    return m_Sessions;
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
        DatabaseErrorFmt(L(msg::kSInvalidSessionName), Name);
    return s;
}

void TDictSessionList::CloseAll()
{
    for (TDictSession *s : List())
        s->SetActive(false);
}

int TDictSessionList::TakeAutoNumber()
{
    std::lock_guard<std::recursive_mutex> g(m_Global);
    for (size_t i = 0; i < m_Used.size(); ++i)
        if (!m_Used[i]) {
            m_Used[i] = true;
            return int(i);
        }
    m_Used.push_back(true);
    return int(m_Used.size()) - 1;
}

void TDictSessionList::ReleaseAutoNumber(int Number)
{
    std::lock_guard<std::recursive_mutex> g(m_Global);
    if (Number >= 0 && size_t(Number) < m_Used.size())
        m_Used[size_t(Number)] = false;
}

// ---------------------------------------------------------------- globals

namespace {

// The engine starts on its first use, from whichever thread comes first; the others wait
// for it. Creating the default session calls back into Sessions() on the same thread,
// which then sees the half-built state it is making.
struct EngineState
{
    std::recursive_mutex Lock;
    TDictSessionList *Sessions = nullptr;
    TDictSession *DefaultSession = nullptr;
    std::atomic<bool> Ready{false};
    bool Creating = false;
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
    if (!e.Ready.load(std::memory_order_acquire))
        InitializeDictDB();
    return e;
}

} // namespace

void InitializeDictDB()
{
    EngineState &e = Engine();
    std::lock_guard<std::recursive_mutex> g(e.Lock);
    if (e.Sessions || e.Creating)
        return;
    e.Creating = true;
    try {
        RegisterBuiltinDataProcessAlgos();
        e.Sessions = new TDictSessionList;
        e.DefaultSession = new TDictSession(nullptr);
        e.DefaultSession->m_SessionName = QStringLiteral("Default");
        e.DefaultSession->setObjectName(QStringLiteral("Default"));
    } catch (...) {
        e.Creating = false;
        throw;
    }
    e.Creating = false;
    e.Ready.store(true, std::memory_order_release);
}

void FinalizeDictDB()
{
    EngineState &e = Engine();
    std::lock_guard<std::recursive_mutex> g(e.Lock);
    if (!e.Sessions)
        return;
    e.Ready.store(false, std::memory_order_release);
    // Other sessions first, the default one last.
    for (TDictSession *s : e.Sessions->List())
        if (s != e.DefaultSession && !s->parent())
            delete s;
    TDictSession *def = e.DefaultSession;
    e.DefaultSession = nullptr;
    for (TDictDatabase *db : QList<TDictDatabase *>(def->Databases())) {
        // The engine's end: a failed disconnect cannot be reported any more.
        try {
            db->SetConnected(false);
        } catch (...) {
            qCWarning(lcEngine) << "disconnect at the engine's end failed:" << platform::CurrentExceptionText();
        }
        if (db->parent() == def)
            delete db;
        else
            def->RemoveDatabase(db);
    }
    delete def;
    delete e.Sessions;
    e.Sessions = nullptr;
}

TDictSessionList *Sessions()
{
    return StartedEngine().Sessions;
}

TDictSession *DefaultSession()
{
    return StartedEngine().DefaultSession;
}

TDictSession *GetDefaultSession()
{
    return DefaultSession();
}
