#include "EngineFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <latch>
#include <thread>
#include <vector>

using namespace tvtest;

TEST(DictDBSession, DatabasePropertiesAndNames)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("s.db"));
    CreateDictDBFile(path, PeopleLayout());
    TDictDatabase db;
    EXPECT_EQ(DbErrorOf([&] { db.Open(); }), QStringLiteral("Database name missing"));
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(DbErrorOf([&] { db.Encrypted(); }), QStringLiteral("Cannot perform this operation on a closed database"));
    db.SetDatabaseName(path);
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_FALSE(db.Encrypted());
    EXPECT_TRUE(db.CanAccess());
    EXPECT_EQ(db.TableDefs()->Count(), 1);
    EXPECT_EQ(DbErrorOf([&] { db.SetDatabaseName(QStringLiteral("other")); }),
              QStringLiteral("Cannot perform this operation on an open database"));
    EXPECT_EQ(DbErrorOf([&] { db.SetExclusive(true); }),
              QStringLiteral("Cannot perform this operation on an open database"));
    TDictDatabase twin;
    EXPECT_EQ(DbErrorOf([&] { twin.SetDatabaseName(path.toUpper()); }),
              QStringLiteral("Duplicate database name '%1'").arg(path.toUpper()));
    db.Close();
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.TableIOByName(QStringLiteral("People")), nullptr);

    TDictSession *def = DefaultSession();
    EXPECT_EQ(def->SessionName(), QStringLiteral("Default"));
    EXPECT_EQ(Sessions()->FindSession(QString()), def);
    EXPECT_EQ(DbErrorOf([&] { Sessions()->GetSession(QStringLiteral("nope")); }),
              QStringLiteral("Invalid session name nope"));
    def->SetLockRetryCount(-5);
    EXPECT_EQ(def->LockRetryCount(), 0);
    def->SetLockRetryCount(20);
    def->SetLockWaitTime(-1);
    EXPECT_EQ(def->LockWaitTime(), 0);
    def->SetLockWaitTime(100);
}

TEST(DictDBSession, SessionNamesAndAutoNames)
{
    TDictSession a;
    a.SetSessionName(QStringLiteral("Mine"));
    TDictSession b;
    EXPECT_EQ(DbErrorOf([&] { b.SetSessionName(QStringLiteral("mine")); }),
              QStringLiteral("Duplicate session name 'mine'"));
    // ctest runs each case in its own process: make the default session active here.
    DefaultSession()->SetActive(true);
    EXPECT_EQ(DbErrorOf([&] { DefaultSession()->SetSessionName(QStringLiteral("x")); }),
              QStringLiteral("Cannot perform this operation on an active session"));
    b.SetSessionName(QStringLiteral("Theirs"));
    b.SetActive(true);
    EXPECT_TRUE(DefaultSession()->Active());
    EXPECT_EQ(DbErrorOf([&] { b.SetSessionName(QStringLiteral("y")); }),
              QStringLiteral("Cannot perform this operation on an active session"));
    b.SetActive(false);
    TDictSession unnamed;
    EXPECT_EQ(DbErrorOf([&] { unnamed.SetActive(true); }), QStringLiteral("Session name missing"));

    QObject owner;
    auto *s = new TDictSession(&owner);
    s->SetName(QStringLiteral("X"));
    s->SetAutoSessionName(true);
    EXPECT_EQ(s->SessionName(), QStringLiteral("X_%1").arg(s->AutoSessionNumber() + 1));
    EXPECT_EQ(DbErrorOf([&] { s->SetSessionName(QStringLiteral("z")); }),
              QStringLiteral("Cannot modify SessionName while AutoSessionName is enabled"));
    EXPECT_EQ(
        DbErrorOf([&] { new TDictSession(&owner); }),
        QStringLiteral("Cannot add a session to the form or data-module while session '%1' has AutoSessionName enabled")
            .arg(s->SessionName()));
    s->SetName(QStringLiteral("Y"));
    EXPECT_TRUE(s->SessionName().startsWith(QStringLiteral("Y_")));
}

TEST(DictDBSession, TemporaryDatabasesLiveWhileUsed)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("t.db"));
    CreateDictDBFile(path, PeopleLayout());
    TDictSession *def = DefaultSession();
    TDictDatabase *db = def->OpenDatabase(path, nullptr, true);
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->Temporary());
    EXPECT_TRUE(db->Connected());
    EXPECT_EQ(def->OpenDatabase(path, nullptr, true), db);
    EXPECT_EQ(db->RefCount(), 2);
    def->CloseDatabase(db);
    EXPECT_EQ(def->FindDatabase(path), db);
    def->CloseDatabase(db);
    EXPECT_EQ(def->FindDatabase(path), nullptr);
    // A file that fails to open leaves no temporary database behind.
    EXPECT_EQ(DbErrorOf([&] { def->OpenDatabase(dir.file(QStringLiteral("none.db")), nullptr, true); }),
              QStringLiteral("Failed to open file"));
    EXPECT_EQ(def->FindDatabase(dir.file(QStringLiteral("none.db"))), nullptr);
}

TEST(DictDBSession, EncipheredFilesNeedTheirPassword)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("enc.db"));
    TDictDBFileLayout layout = PeopleLayout();
    layout.Encrypt = true;
    layout.Compress = true;
    layout.EncryptAlgo = QStringLiteral("Blowfish");
    layout.EncryptMode = 1;
    layout.Password = QStringLiteral("secret");
    CreateDictDBFile(path, layout);

    TDictDatabase db;
    db.SetDatabaseName(path);
    db.Open();
    EXPECT_TRUE(db.Encrypted());
    EXPECT_FALSE(db.CanAccess());
    EXPECT_FALSE(db.FileIO()->SetPassword(QStringLiteral("wrong")));
    // No dialog installed: refused.
    EXPECT_EQ(DbErrorOf([&] { db.CheckCanAccess(); }), QStringLiteral("Access denied"));

    int asked = 0;
    SetDictDBLoginHandler([&](const QString &name, QString &pw) {
        ++asked;
        EXPECT_EQ(name, path);
        pw = QStringLiteral("wrong");
        return asked > 1;
    });
    EXPECT_THROW(db.CheckCanAccess(), EAbort); // Cancel
    EXPECT_EQ(DbErrorOf([&] { db.CheckCanAccess(); }), QStringLiteral("Access denied"));
    EXPECT_EQ(asked, 2);
    db.Close();
    // The session's list is tried first, without a dialog.
    DefaultSession()->Passwords = QStringList{QStringLiteral("no"), QStringLiteral("nope")};
    db.Open();
    EXPECT_EQ(DbErrorOf([&] { db.CheckCanAccess(); }), QStringLiteral("Access denied"));
    EXPECT_EQ(asked, 2);
    db.Close();
    DefaultSession()->Passwords = QStringList{QStringLiteral("no"), QStringLiteral("secret")};
    db.Open();
    EXPECT_EQ(DbErrorOf([&] { db.CheckCanAccess(); }), QString());
    DefaultSession()->Passwords.clear();
    SetDictDBLoginHandler(nullptr);

    // Records survive the round trip through compression and the cipher.
    TDictTableIO *t = db.TableIOByName(QStringLiteral("People"));
    t->Open();
    Record r(t);
    r.SetText(QStringLiteral("Name"), "hidden");
    r.SetText(QStringLiteral("Note"), QByteArray(5000, 'z'));
    t->AppendRecordData(r.Buffers(), false, nullptr);
    t->Close();
    db.Close();
    EXPECT_FALSE(ReadAll(path).contains("hidden"));
    db.SetPassword(QStringLiteral("secret"));
    db.Open();
    EXPECT_TRUE(db.CanAccess());
    t = db.TableIOByName(QStringLiteral("People"));
    t->Open();
    Record back(t);
    back.Read(0);
    EXPECT_EQ(back.Text(QStringLiteral("Name")), QByteArray("hidden"));
    EXPECT_EQ(back.Text(QStringLiteral("Note")), QByteArray(5000, 'z'));
    t->Close();
}

TEST(DictDBSession, FlushTimerFlushesWrittenFiles)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("f.db"));
    CreateDictDBFile(path, PeopleLayout());
    Database d(path);
    EXPECT_FALSE(d.db.FlushTimer()->isActive());
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    Record r(t);
    t->AppendRecordData(r.Buffers(), false, nullptr);
    EXPECT_FALSE(d.db.FileIO()->Flushed());
    d.db.SetAutoFlushInterval(20);
    EXPECT_FALSE(d.db.FlushTimer()->isActive());
    d.db.SetAutoFlush(true);
    EXPECT_EQ(d.db.FlushTimer()->interval(), 20);
    QElapsedTimer clock;
    clock.start();
    while (!d.db.FileIO()->Flushed() && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(d.db.FileIO()->Flushed());
    d.db.SetAutoFlush(false);
    EXPECT_FALSE(d.db.FlushTimer()->isActive());
}

// The engine starts on whichever thread calls it first; threads that call at the same moment
// all find the one session list and default session, and open their own files through it.
TEST(DictDBSession, FirstCallsFromSeveralThreadsAtOnce)
{
    TempDir dir;
    constexpr int kThreads = 4;
    QStringList paths;
    for (int i = 0; i < kThreads; ++i) {
        paths << dir.file(QStringLiteral("t%1.db").arg(i));
        CreateDictDBFile(paths.last(), PeopleLayout());
        Database d(paths.last());
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        Record r(t);
        r.SetText(QStringLiteral("Name"), "row" + QByteArray::number(i));
        t->AppendRecordData(r.Buffers(), false, nullptr);
    }
    for (int round = 0; round < 5; ++round) {
        FinalizeDictDB(); // back to the state before any first call
        std::latch start(kThreads);
        std::vector<TDictSessionList *> lists(kThreads);
        std::vector<TDictSession *> defaults(kThreads);
        std::vector<QString> errors(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                lists[size_t(i)] = Sessions();
                defaults[size_t(i)] = DefaultSession();
                errors[size_t(i)] = DbErrorOf([&] {
                    TDictDatabase db;
                    db.SetDatabaseName(paths.at(i));
                    db.Open();
                    TDictTableIO *t = db.TableIOByName(QStringLiteral("People"));
                    t->Open();
                    Record r(t);
                    r.Read(0);
                    if (r.Text(QStringLiteral("Name")) != "row" + QByteArray::number(i))
                        DatabaseError(QStringLiteral("wrong record"));
                    t->Close();
                });
            });
        for (std::thread &t : threads)
            t.join();
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_NE(lists[size_t(i)], nullptr);
            EXPECT_EQ(lists[size_t(i)], lists[0]);
            EXPECT_EQ(defaults[size_t(i)], defaults[0]);
            EXPECT_EQ(errors[size_t(i)], QString()) << i;
        }
        EXPECT_EQ(defaults[0]->SessionName(), QStringLiteral("Default"));
        EXPECT_TRUE(defaults[0]->Databases().isEmpty());
    }
}
