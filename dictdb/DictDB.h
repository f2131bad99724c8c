#pragma once

// The database component, its sessions and the session list.

#include "dictdb/DataProcess.h"
#include "dictdb/DictDBFileIO.h"
#include "dictdb/DictDBTypes.h"
#include "dictdb/DictDBUtils.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QTimer;
class TDictTableIO;
class TDictSession;
void InitializeDictDB();
void FinalizeDictDB();

using TNotifyEvent = std::function<void(QObject *Sender)>;

namespace dictdb::msg {
inline constexpr const char *SDatabaseNameMissing = "Database name missing";
inline constexpr const char *SDatabaseOpen = "Cannot perform this operation on an open database";
inline constexpr const char *SDuplicateDatabaseName = "Duplicate database name '%s'";
inline constexpr const char *SAccessDenied = "Access denied";
inline constexpr const char *SSessionNameMissing = "Session name missing";
inline constexpr const char *SSessionActive = "Cannot perform this operation on an active session";
inline constexpr const char *SDuplicateSessionName = "Duplicate session name '%s'";
inline constexpr const char *SInvalidSessionName = "Invalid session name %s";
inline constexpr const char *SAutoSessionExclusive =
    "Cannot enable AutoSessionName property with more than one session on a form or data-module";
inline constexpr const char *SAutoSessionExists =
    "Cannot add a session to the form or data-module while session '%s' has AutoSessionName enabled";
inline constexpr const char *SAutoSessionActive = "Cannot modify SessionName while AutoSessionName is enabled";
} // namespace dictdb::msg

// What a database asks of the data sets registered with it. The table data sets
// implement it; the database lists only objects that do.
class TDictDBClient
{
public:
    virtual ~TDictDBClient() = default;
    // Closes the data set (its database disconnects).
    virtual void CloseDataSet() = 0;
    // The connect-change data event.
    virtual void DatabaseConnectChange(bool Connected) = 0;
    // The medium type a temporary database for this data set gets; and its change.
    virtual TDictDBMediumType ClientMediumType() const = 0;
    virtual void SetClientMediumType(TDictDBMediumType Value) = 0;
    // Points the data set at a renamed session.
    virtual void SetClientSessionName(const QString &Value) = 0;
};

// Asks the user for the password of a database file; true with the password on OK.
using TDictDBLoginHandler = std::function<bool(const QString &DatabaseName, QString &Password)>;
// The program installs its login dialog here; without one a file that needs a password
// the session does not know is refused with "Access denied".
void SetDictDBLoginHandler(TDictDBLoginHandler Handler);
TDictDBLoginHandler DictDBLoginHandler();

class TDictDatabase : public QObject, public TDictDBFileOwner
{
public:
    explicit TDictDatabase(QObject *AOwner = nullptr);
    ~TDictDatabase() override;

    // Properties.
    const QString &FileName() const { return m_fileName; }
    void SetFileName(const QString &Value);
    const QString &DatabaseName() const { return m_databaseName; }
    void SetDatabaseName(const QString &Value);
    TDictDBMediumType MediumType() const { return m_mediumType; }
    void SetMediumType(TDictDBMediumType Value);
    bool Connected() const;
    void SetConnected(bool Value);
    bool Exclusive() const { return m_exclusive; }
    void SetExclusive(bool Value);
    bool KeepConnection() const { return m_keepConnection; }
    void SetKeepConnection(bool Value);
    const QString &SessionName() const { return m_sessionName; }
    void SetSessionName(const QString &Value);
    bool AutoFlush() const { return m_autoFlush; }
    void SetAutoFlush(bool Value);
    int AutoFlushInterval() const { return m_autoFlushInterval; }
    void SetAutoFlushInterval(int Value);

    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
    TOnProgressEvent OnCompressProgress, OnUncompressProgress, OnEncryptProgress, OnDecryptProgress,
        OnOperationProgress;

    // Operations.
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    void FlushFile();
    void GetTableNames(QStringList &List);
    TDictTableIO *TableIOByName(const QString &Name) const;
    bool Encrypted() const;
    bool Compressed() const;
    bool VerifyWrites() const;
    void SetPassword(const QString &Password);

    virtual void DoConnect();
    virtual void DoDisconnect();
    virtual void CheckCanAccess();
    TDictDBClient *GetDataSet(int Index) const;
    int GetDataSetCount() const;
    virtual void RegisterClient(QObject *Client);
    virtual void UnregisterClient(QObject *Client);

    // Streaming bracket: while loading, Connected and SessionName are only remembered.
    void BeginLoading() { m_loading = true; }
    void Loaded();

    // State.
    TDictDBFileIO *FileIO() const override { return m_fileIO.get(); }
    TDictSession *Session() const { return m_session; }
    bool Temporary() const { return m_temporary; }
    void SetTemporary(bool Value) { m_temporary = Value; }
    int RefCount() const { return m_refCount; }
    bool CanAccess() const { return m_canAccess; }
    TDictTableDefs *TableDefs() const { return m_tableDefs.get(); }
    // Passed by the data sets as the Flush argument of every write; never set by the engine.
    bool FlushAfterWrite() const { return m_flushAfterWrite; }
    QTimer *FlushTimer() const { return m_flushTimer; }

private:
    friend class TDictSession;
    void CheckInactive();
    void CheckActive() const;
    void CheckDatabaseName(TDictSession *InSession, const QString &Name);
    void MoveToSession(TDictSession *NewSession);
    void FlushTimerTick();
    TDictDBFileSettings FileSettings();
    void FreeTables();

    QString m_fileName;
    QString m_databaseName;
    TDictDBMediumType m_mediumType = mtDisk;
    bool m_exclusive = false;
    bool m_keepConnection = false;
    QString m_sessionName;
    bool m_autoFlush = false;
    int m_autoFlushInterval = 60000;
    bool m_loading = false;
    bool m_streamedConnected = false;
    bool m_disconnecting = false;

    std::unique_ptr<TDictDBFileIO> m_fileIO;
    QList<QObject *> m_dataSets;
    bool m_temporary = false;
    int m_refCount = 0;
    bool m_canAccess = false;
    QString m_password;
    bool m_passwordGiven = false;
    std::unique_ptr<TDictTableDefs> m_tableDefs;
    std::vector<std::unique_ptr<TDictTableIO>> m_tableIOs;
    QTimer *m_flushTimer = nullptr;
    TDictSession *m_session = nullptr;
    bool m_flushAfterWrite = false;
};

class TDictSession : public QObject
{
public:
    explicit TDictSession(QObject *AOwner = nullptr);
    ~TDictSession() override;

    bool Active() const { return m_active; }
    void SetActive(bool Value);
    bool AutoSessionName() const { return m_autoSessionName; }
    void SetAutoSessionName(bool Value);
    bool KeepConnections() const { return m_keepConnections; }
    void SetKeepConnections(bool Value) { m_keepConnections = Value; }
    const QString &SessionName() const { return m_sessionName; }
    void SetSessionName(const QString &Value);
    bool SQLHourGlass() const { return m_sqlHourGlass; }
    void SetSQLHourGlass(bool Value) { m_sqlHourGlass = Value; }
    int LockRetryCount() const { return m_lockRetryCount; }
    void SetLockRetryCount(int Value) { m_lockRetryCount = Value < 0 ? 0 : Value; }
    int LockWaitTime() const { return m_lockWaitTime; }
    void SetLockWaitTime(int Value) { m_lockWaitTime = Value < 0 ? 0 : Value; }
    TNotifyEvent OnStartup;
    // Called with (1 closed, 2 added, 3 removed) and the database.
    std::function<void(int Event, TDictDatabase *Database)> NotifyHook;

    // The passwords tried, in order, for an enciphered file.
    QStringList Passwords;

    TDictDatabase *OpenDatabase(const QString &DatabaseName, QObject *DataSet, bool AddRef);
    void CloseDatabase(TDictDatabase *Database);
    TDictDatabase *FindDatabase(const QString &Name) const;
    const QList<TDictDatabase *> &Databases() const { return m_databases; }
    int AutoSessionNumber() const { return m_autoNumber; }

    // The component name; renames the session while AutoSessionName is on.
    void SetName(const QString &Value);

    // Streaming bracket, as for the database.
    void BeginLoading() { m_loading = true; }
    void Loaded();

private:
    friend class TDictDatabase;
    friend void InitializeDictDB();
    friend void FinalizeDictDB();
    void AddDatabase(TDictDatabase *Database);
    void RemoveDatabase(TDictDatabase *Database);
    void Notify(int Event, TDictDatabase *Database);
    void ApplyAutoName();
    void InternalSetSessionName(const QString &Value);

    std::atomic<bool> m_active{false};
    bool m_autoSessionName = false;
    bool m_keepConnections = false;
    QString m_sessionName;
    bool m_sqlHourGlass = true;
    int m_lockRetryCount = 20;
    int m_lockWaitTime = 100;
    QList<TDictDatabase *> m_databases;
    int m_autoNumber = -1;
    int m_lockNesting = 0;
    bool m_loading = false;
    bool m_streamedActive = false;
    bool m_renaming = false;
};

class TDictSessionList
{
public:
    TDictSessionList();
    ~TDictSessionList();

    void AddSession(TDictSession *Session);
    void RemoveSession(TDictSession *Session);
    // The empty name gives the default session; nullptr when there is none of that name.
    TDictSession *FindSession(const QString &Name) const;
    // Raises "Invalid session name %s".
    TDictSession *GetSession(const QString &Name) const;
    void CloseAll();
    QList<TDictSession *> List() const;

    // The global critical section: session activation, open-database brackets, numbers.
    std::recursive_mutex &GlobalLock() { return m_global; }
    int TakeAutoNumber();
    void ReleaseAutoNumber(int Number);

private:
    mutable std::mutex m_listLock;
    QList<TDictSession *> m_sessions;
    std::vector<bool> m_used;
    std::recursive_mutex m_global;
};

// The session list and the session "Default", created on first use (and the plug-ins
// registered), freed by FinalizeDictDB or at exit.
TDictSessionList *Sessions();
TDictSession *DefaultSession();
TDictSession *GetDefaultSession();
void InitializeDictDB();
void FinalizeDictDB();
