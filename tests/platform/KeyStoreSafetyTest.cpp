// The key store beside other users: nothing in its folder can make a read wait, create a file,
// or hand the program another user's store; a writer never waits without end.

#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/registry/KeyStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace platform::registry;
using tvtest::ScopedEnv;
using tvtest::WriteFile;

using tvtest::kOtherUid;
const QString kRun = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
// Long enough for any machine; a read that takes it has waited for someone.
constexpr auto kPatience = std::chrono::seconds(10);

QByteArray StoreWith(const char *Name)
{
    return QByteArray(
               "TASKVANE-KEYSTORE 1\nK \"\"\nK \"Software\"\nK \"Software\\\\Microsoft\"\n"
               "K \"Software\\\\Microsoft\\\\Windows\"\nK \"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\"\n"
               "K \"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run\"\nV \"") +
        Name + "\" SZ \"/bin/true\"\n";
}

QStringList RunNames(RootKey Root)
{
    QStringList names;
    if (const auto store = Load(Root)) {
        if (const Key *k = store->FindKey(kRun))
            for (const Value &v : k->Values())
                names << v.Name;
    }
    return names;
}

bool AddRun(RootKey Root, const QString &Name)
{
    return Modify(Root, [&](Store &s) {
        s.CreateKey(kRun).Add(Value{Name, ValueType::String, QStringLiteral("/bin/true"), 0});
        return Edit::Write;
    });
}

// Runs `Work` on a thread of its own; when it has not ended within kPatience, `Release` lets it go
// (so that the test never hangs) and the test fails.
template <typename Result>
Result WithinPatience(const std::function<Result()> &Work, const std::function<void()> &Release, bool &InTime)
{
    auto pending = std::async(std::launch::async, Work);
    InTime = pending.wait_for(kPatience) == std::future_status::ready;
    if (!InTime)
        Release();
    return pending.get();
}

class KeyStoreSafety : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString &Name) const { return dir.file(Name); }
    tvtest::TempDir dir;
    ScopedEnv registry{"TASKVANE_REGISTRY_DIR", dir.path()};
};

TEST_F(KeyStoreSafety, AFifoInPlaceOfTheStoreIsRefusedAtOnce)
{
    const QString store = Store::FileOf(RootKey::CurrentUser);
    ASSERT_EQ(::mkfifo(QFile::encodeName(store).constData(), 0600), 0);
    // A writer that comes and goes ends a read that waits for one.
    const auto release = [&] {
        const int fd = ::open(QFile::encodeName(store).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    };
    bool inTime = false;
    const bool read = WithinPatience<bool>([] { return Load(RootKey::CurrentUser).has_value(); }, release, inTime);
    EXPECT_TRUE(inTime) << "the read waited on the FIFO";
    EXPECT_FALSE(read);
    const bool written =
        WithinPatience<bool>([] { return AddRun(RootKey::CurrentUser, QStringLiteral("x")); }, release, inTime);
    EXPECT_TRUE(inTime) << "the writer waited on the FIFO";
    EXPECT_FALSE(written);
}

TEST_F(KeyStoreSafety, ALinkedLockFileIsNeverCreatedNorFollowed)
{
    ASSERT_TRUE(WriteFile(Store::FileOf(RootKey::CurrentUser), StoreWith("agent")));
    const QString lock = Store::FileOf(RootKey::CurrentUser) + ".lock";
    ASSERT_TRUE(QFile::link(Path("made-through-link"), lock));
    // A read takes no lock at all; a write refuses the link.
    EXPECT_EQ(RunNames(RootKey::CurrentUser), QStringList{"agent"});
    EXPECT_FALSE(QFileInfo::exists(Path("made-through-link")));
    EXPECT_FALSE(AddRun(RootKey::CurrentUser, QStringLiteral("more")));
    EXPECT_FALSE(QFileInfo::exists(Path("made-through-link")));
    EXPECT_EQ(RunNames(RootKey::CurrentUser), QStringList{"agent"});
    // Once the link is gone the writer makes its own lock, for itself alone.
    ASSERT_TRUE(QFile::remove(lock));
    EXPECT_TRUE(AddRun(RootKey::CurrentUser, QStringLiteral("more")));
    EXPECT_EQ(tvtest::FileMode(lock), 0600);
}

TEST_F(KeyStoreSafety, AWriterGivesUpOnALockThatIsNeverReleased)
{
    ASSERT_TRUE(AddRun(RootKey::LocalMachine, QStringLiteral("agent")));
    const QString lock = Store::FileOf(RootKey::LocalMachine) + ".lock";
    const int holder = ::open(QFile::encodeName(lock).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    bool inTime = false;
    const bool written = WithinPatience<bool>([] { return AddRun(RootKey::LocalMachine, QStringLiteral("late")); },
                                              [&] { ::flock(holder, LOCK_UN); }, inTime);
    EXPECT_TRUE(inTime) << "the writer waited for the lock without end";
    EXPECT_FALSE(written);
    // Readers never wait for it.
    EXPECT_EQ(RunNames(RootKey::LocalMachine), QStringList{"agent"});
    ::close(holder);
    EXPECT_TRUE(AddRun(RootKey::LocalMachine, QStringLiteral("late")));
}

TEST_F(KeyStoreSafety, AStoreThatOthersMayWriteIsNotRead)
{
    const QString store = Store::FileOf(RootKey::LocalMachine);
    ASSERT_TRUE(WriteFile(store, StoreWith("planted")));
    ASSERT_EQ(::chmod(QFile::encodeName(store).constData(), 0666), 0);
    EXPECT_FALSE(Load(RootKey::LocalMachine).has_value());
    EXPECT_FALSE(AddRun(RootKey::LocalMachine, QStringLiteral("x")));
}

// The lock an earlier version left readable to all, held by another user.
TEST_F(KeyStoreSafety, AnotherUsersLockOnTheAllUsersStoreStopsNoRead)
{
    if (const QString why = tvtest::otherUserUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    if (!QFileInfo(QStringLiteral("/usr/bin/flock")).isExecutable())
        GTEST_SKIP() << "no flock to hold a lock as another user with";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_TRUE(WriteFile(Store::FileOf(RootKey::LocalMachine), StoreWith("agent")));
    const QString lock = Store::FileOf(RootKey::LocalMachine) + ".lock";
    ASSERT_TRUE(WriteFile(lock, QByteArray()));
    ASSERT_EQ(::chmod(QFile::encodeName(lock).constData(), 0644), 0);
    if (!tvtest::runAsOtherUser({QStringLiteral("/usr/bin/test"), QStringLiteral("-r"), lock}))
        GTEST_SKIP() << "the other user cannot reach the test's folder (it lies below a closed folder)";

    // The other user opens the lock file for reading and holds it (the lock stays with the file
    // description that sleep inherits).
    QProcess holder;
    holder.start(QStringLiteral("/usr/bin/setpriv"),
                 tvtest::asOtherUser(
                     {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                      QStringLiteral("exec 3<\"$0\" && /usr/bin/flock -x 3 && echo held && exec sleep 60"), lock}));
    ASSERT_TRUE(holder.waitForStarted(10000));
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_TRUE(holder.readAll().startsWith("held"));

    bool inTime = false;
    const QStringList names =
        WithinPatience<QStringList>([] { return RunNames(RootKey::LocalMachine); }, [&] { holder.kill(); }, inTime);
    EXPECT_TRUE(inTime) << "the read waited for another user's lock";
    EXPECT_EQ(names, QStringList{"agent"});
    holder.kill();
    holder.waitForFinished(10000);
}

// As after "sudo -E": HOME names another user's home, whose store and lock are theirs.
TEST_F(KeyStoreSafety, AnotherUsersHomeGivesNeitherTheirStoreNorAFileOfTheirChoice)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a home to another user";
    qunsetenv("TASKVANE_REGISTRY_DIR");
    const QString theirs = Path("theirs/.config/taskvane");
    ASSERT_TRUE(QDir().mkpath(theirs));
    ASSERT_TRUE(WriteFile(theirs + "/HKEY_CURRENT_USER.reg", StoreWith("their-agent")));
    ASSERT_TRUE(QFile::link(Path("root-only/made"), theirs + "/HKEY_CURRENT_USER.reg.lock"));
    ASSERT_TRUE(QDir().mkpath(Path("root-only")));
    for (const char *p :
         {"theirs", "theirs/.config", "theirs/.config/taskvane", "theirs/.config/taskvane/HKEY_CURRENT_USER.reg",
          "theirs/.config/taskvane/HKEY_CURRENT_USER.reg.lock"})
        ASSERT_EQ(::lchown(QFile::encodeName(Path(p)).constData(), kOtherUid, kOtherUid), 0) << p;

    for (const bool viaXdg : {false, true}) {
        ScopedEnv home("HOME", Path("theirs"));
        ScopedEnv config("XDG_CONFIG_HOME", viaXdg ? Path("theirs/.config") : QString());
        // Their store is not the running user's store; reading the running user's own creates nothing.
        EXPECT_FALSE(Store::FileOf(RootKey::CurrentUser).startsWith(Path("theirs")));
        EXPECT_FALSE(RunNames(RootKey::CurrentUser).contains(QStringLiteral("their-agent")));
        EXPECT_FALSE(QFileInfo::exists(Path("root-only/made")));
    }
    // Named directly as the store's folder, their folder is neither read nor written.
    ScopedEnv registryDir("TASKVANE_REGISTRY_DIR", theirs);
    EXPECT_FALSE(Load(RootKey::CurrentUser).has_value());
    EXPECT_FALSE(AddRun(RootKey::CurrentUser, QStringLiteral("mine")));
    EXPECT_FALSE(QFileInfo::exists(Path("root-only/made")));
}

TEST(KeyStoreIndex, FindsAndRemovesValuesByNameIgnoringCase)
{
    Store store = *Store::Parse("TASKVANE-KEYSTORE 1\n");
    Key &k = store.CreateKey(QStringLiteral("A\\B"));
    for (const char *n : {"One", "Two", "Three"})
        ASSERT_NE(k.Add({QLatin1String(n), ValueType::String, QLatin1String(n), 0}), nullptr);
    EXPECT_EQ(k.Add({QStringLiteral("ONE"), ValueType::String, {}, 0}), nullptr);
    EXPECT_TRUE(k.Remove(QStringLiteral("two")));
    EXPECT_FALSE(k.Remove(QStringLiteral("two")));
    ASSERT_NE(k.Find(QStringLiteral("THREE")), nullptr);
    EXPECT_EQ(k.Find(QStringLiteral("three"))->Text, QStringLiteral("Three"));
    EXPECT_EQ(k.Find(QStringLiteral("one"))->Text, QStringLiteral("One"));
    EXPECT_EQ(store.FindKey(QStringLiteral("a\\b")), &k);
    EXPECT_NE(store.FindKey(QStringLiteral("A")), nullptr);
    // A key or a value twice, in any spelling, is a damaged store.
    EXPECT_FALSE(Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\nK \"a\"\nK \"A\"\n").has_value());
    EXPECT_FALSE(Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\nV \"x\" DWORD 1\nV \"X\" DWORD 2\n").has_value());
    const auto back = Store::Parse(store.Serialize());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Serialize(), store.Serialize());

    // A key of many values, past the point where they are indexed; letters beyond ASCII fold too.
    Key &many = store.CreateKey(QStringLiteral("Many"));
    for (int i = 0; i < 40; ++i)
        ASSERT_NE(many.Add({QStringLiteral("Ä%1").arg(i), ValueType::DWord, {}, quint32(i)}), nullptr);
    EXPECT_EQ(many.Add({QStringLiteral("ä7"), ValueType::DWord, {}, 0}), nullptr);
    EXPECT_TRUE(many.Remove(QStringLiteral("ä0")));
    ASSERT_NE(many.Find(QStringLiteral("ä39")), nullptr);
    EXPECT_EQ(many.Find(QStringLiteral("Ä39"))->Dword, 39u);
    EXPECT_EQ(many.Values().size(), 39u);
    EXPECT_EQ(many.Values().front().Name, QStringLiteral("Ä1"));
}

TEST(KeyStoreIndex, ValueNamesSharedByKeysAndMalformedText)
{
    // The same names under many keys, escaped names beside plain ones.
    const QByteArray text = "TASKVANE-KEYSTORE 1\nK \"\"\nK \"a\"\nV \"n\" SZ \"1\"\nV \"q\\\"\" SZ \"2\"\n"
                            "K \"b\"\nV \"n\" SZ \"3\"\nV \"q\\\\\" SZ \"4\"\nV \"q\" SZ \"5\"\n";
    const auto store = Store::Parse(text);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->FindKey(QStringLiteral("a"))->Find(QStringLiteral("q\""))->Text, QStringLiteral("2"));
    EXPECT_EQ(store->FindKey(QStringLiteral("b"))->Find(QStringLiteral("q\\"))->Text, QStringLiteral("4"));
    EXPECT_EQ(store->FindKey(QStringLiteral("b"))->Find(QStringLiteral("q"))->Text, QStringLiteral("5"));
    EXPECT_EQ(store->FindKey(QStringLiteral("b"))->Find(QStringLiteral("n"))->Text, QStringLiteral("3"));
    EXPECT_EQ(store->Serialize(), text);
    // A parent written after its child still counts; a missing one does not.
    EXPECT_TRUE(Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\nK \"x\\\\y\"\nK \"x\"\n").has_value());
    EXPECT_FALSE(Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\nK \"x\\\\y\"\n").has_value());
    // Text that is no UTF-8: overlong, a surrogate, beyond U+10FFFF, cut short.
    for (const char *bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8", "\x80"})
        EXPECT_FALSE(Store::Parse(QByteArray("TASKVANE-KEYSTORE 1\nK \"\"\nV \"") + bad + "\" DWORD 1\n").has_value())
            << bad;
    const auto emoji = Store::Parse("TASKVANE-KEYSTORE 1\nK \"\"\nV \"\xF0\x9F\x98\x80\" DWORD 1\n");
    ASSERT_TRUE(emoji);
    EXPECT_NE(emoji->FindKey(QString())->Find(QString::fromUtf8("\xF0\x9F\x98\x80")), nullptr);
    // Sub-key paths that are not as the store writes them.
    for (const char *path : {"\\\\a", "a\\\\", "a\\\\\\\\b"})
        EXPECT_FALSE(Store::Parse(QByteArray("TASKVANE-KEYSTORE 1\nK \"\"\nK \"") + path + "\"\n").has_value()) << path;
}

} // namespace
