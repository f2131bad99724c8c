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
inline constexpr const char *kSDatabaseNameMissing = "Database name missing";
inline constexpr const char *kSDatabaseOpen = "Cannot perform this operation on an open database";
inline constexpr const char *kSDuplicateDatabaseName = "Duplicate database name '%s'";
inline constexpr const char *kSAccessDenied = "Access denied";
inline constexpr const char *kSSessionNameMissing = "Session name missing";
inline constexpr const char *kSSessionActive = "Cannot perform this operation on an active session";
inline constexpr const char *kSDuplicateSessionName = "Duplicate session name '%s'";
inline constexpr const char *kSInvalidSessionName = "Invalid session name %s";
inline constexpr const char *kSAutoSessionExclusive =
    "Cannot enable AutoSessionName property with more than one session on a form or data-module";
inline constexpr const char *kSAutoSessionExists =
    "Cannot add a session to the form or data-module while session '%s' has AutoSessionName enabled";
inline constexpr const char *kSAutoSessionActive = "Cannot modify SessionName while AutoSessionName is enabled";
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
    const QString &FileName() const { return m_FileName; }
    void SetFileName(const QString &Value);
    const QString &DatabaseName() const { return m_DatabaseName; }
    void SetDatabaseName(const QString &Value);
    TDictDBMediumType MediumType() const { return m_MediumType; }
    void SetMediumType(TDictDBMediumType Value);
    bool Connected() const;
    void SetConnected(bool Value);
    bool Exclusive() const { return m_Exclusive; }
    void SetExclusive(bool Value);
    bool KeepConnection() const { return m_KeepConnection; }
    void SetKeepConnection(bool Value);
    const QString &SessionName() const { return m_SessionName; }
    void SetSessionName(const QString &Value);
    bool AutoFlush() const { return m_AutoFlush; }
    void SetAutoFlush(bool Value);
    int AutoFlushInterval() const { return m_AutoFlushInterval; }
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
    void BeginLoading() { m_Loading = true; }
    void Loaded();

    // State.
    TDictDBFileIO *FileIO() const override { return m_FileIo.get(); }
    TDictSession *Session() const { return m_Session; }
    bool Temporary() const { return m_Temporary; }
    void SetTemporary(bool Value) { m_Temporary = Value; }
    int RefCount() const { return m_RefCount; }
    bool CanAccess() const { return m_CanAccess; }
    TDictTableDefs *TableDefs() const { return m_TableDefs.get(); }
    // Passed by the data sets as the Flush argument of every write; never set by the engine.
    bool FlushAfterWrite() const { return m_FlushAfterWrite; }
    QTimer *FlushTimer() const { return m_FlushTimer; }

private:
    friend class TDictSession;
    void CheckInactive();
    void CheckActive() const;
    void CheckDatabaseName(TDictSession *InSession, const QString &Name);
    void MoveToSession(TDictSession *NewSession);
    void FlushTimerTick();
    TDictDBFileSettings FileSettings();
    void FreeTables();

    QString m_FileName;
    QString m_DatabaseName;
    TDictDBMediumType m_MediumType = mtDisk;
    bool m_Exclusive = false;
    bool m_KeepConnection = false;
    QString m_SessionName;
    bool m_AutoFlush = false;
    int m_AutoFlushInterval = 60000;
    bool m_Loading = false;
    bool m_StreamedConnected = false;
    bool m_Disconnecting = false;

    std::unique_ptr<TDictDBFileIO> m_FileIo;
    QList<QObject *> m_DataSets;
    bool m_Temporary = false;
    int m_RefCount = 0;
    bool m_CanAccess = false;
    QString m_Password;
    bool m_PasswordGiven = false;
    std::unique_ptr<TDictTableDefs> m_TableDefs;
    std::vector<std::unique_ptr<TDictTableIO>> m_TableIOs;
    QTimer *m_FlushTimer = nullptr;
    TDictSession *m_Session = nullptr;
    bool m_FlushAfterWrite = false;
};

class TDictSession : public QObject
{
public:
    explicit TDictSession(QObject *AOwner = nullptr);
    ~TDictSession() override;

    bool Active() const { return m_Active; }
    void SetActive(bool Value);
    bool AutoSessionName() const { return m_AutoSessionName; }
    void SetAutoSessionName(bool Value);
    bool KeepConnections() const { return m_KeepConnections; }
    void SetKeepConnections(bool Value) { m_KeepConnections = Value; }
    const QString &SessionName() const { return m_SessionName; }
    void SetSessionName(const QString &Value);
    bool SQLHourGlass() const { return m_SqlHourGlass; }
    void SetSQLHourGlass(bool Value) { m_SqlHourGlass = Value; }
    int LockRetryCount() const { return m_LockRetryCount; }
    void SetLockRetryCount(int Value) { m_LockRetryCount = Value < 0 ? 0 : Value; }
    int LockWaitTime() const { return m_LockWaitTime; }
    void SetLockWaitTime(int Value) { m_LockWaitTime = Value < 0 ? 0 : Value; }
    TNotifyEvent OnStartup;
    // Called with (1 closed, 2 added, 3 removed) and the database.
    std::function<void(int Event, TDictDatabase *Database)> NotifyHook;

    // The passwords tried, in order, for an enciphered file.
    QStringList Passwords;

    TDictDatabase *OpenDatabase(const QString &DatabaseName, QObject *DataSet, bool AddRef);
    void CloseDatabase(TDictDatabase *Database);
    TDictDatabase *FindDatabase(const QString &Name) const;
    const QList<TDictDatabase *> &Databases() const { return m_Databases; }
    int AutoSessionNumber() const { return m_AutoNumber; }

    // The component name; renames the session while AutoSessionName is on.
    void SetName(const QString &Value);

    // Streaming bracket, as for the database.
    void BeginLoading() { m_Loading = true; }
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

    std::atomic<bool> m_Active{false};
    bool m_AutoSessionName = false;
    bool m_KeepConnections = false;
    QString m_SessionName;
    bool m_SqlHourGlass = true;
    int m_LockRetryCount = 20;
    int m_LockWaitTime = 100;
    QList<TDictDatabase *> m_Databases;
    int m_AutoNumber = -1;
    int m_LockNesting = 0;
    bool m_Loading = false;
    bool m_StreamedActive = false;
    bool m_Renaming = false;
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
    std::recursive_mutex &GlobalLock() { return m_Global; }
    int TakeAutoNumber();
    void ReleaseAutoNumber(int Number);

private:
    mutable std::mutex m_ListLock;
    QList<TDictSession *> m_Sessions;
    std::vector<bool> m_Used;
    std::recursive_mutex m_Global;
};

// The session list and the session "Default", created on first use (and the plug-ins
// registered), freed by FinalizeDictDB or at exit.
TDictSessionList *Sessions();
TDictSession *DefaultSession();
TDictSession *GetDefaultSession();
void InitializeDictDB();
void FinalizeDictDB();
