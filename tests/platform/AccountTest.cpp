// What the account database says of a user, whatever the length of the user's entry: run as root
// again in a mount namespace of the test's own, where /etc/passwd is a copy with the running
// user's entry made long.

#include "common/SelfCopy.h"
#include "common/TempDir.h"
#include "platform/processes/ProcFs.h"
#include "platform/system/Environment.h"
#include "platform/system/UserSession.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kInsideVariable[] = "TVTEST_LONG_ACCOUNT_HOME";
constexpr int kSkipped = 77;

// The running user's entry of /etc/passwd with a comment longer than any first guess of a buffer,
// and `Home` as its home; empty when the user has no entry there.
QByteArray WithLongEntry(const QByteArray &Home)
{
    QFile passwd(QStringLiteral("/etc/passwd"));
    if (!passwd.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray accounts;
    bool found = false;
    for (const QByteArray &line : passwd.readAll().split('\n')) {
        QList<QByteArray> fields = line.split(':');
        if (fields.size() == 7 && fields[2] == QByteArray::number(::geteuid()) && !found) {
            fields[4] = QByteArray(20000, 'x');
            fields[5] = Home;
            found = true;
        }
        if (!line.isEmpty())
            accounts += fields.join(':') + '\n';
    }
    return found ? accounts : QByteArray();
}

// The checks, in the namespace where the long entry is the one the C library reads.
void CheckInside(const QByteArray &Home)
{
    const auto account = platform::system::AccountOf(::geteuid());
    ASSERT_TRUE(account.has_value());
    EXPECT_FALSE(account->Name.isEmpty());
    EXPECT_EQ(account->Home, QFile::decodeName(Home));
    EXPECT_EQ(platform::processes::AccountName(::geteuid()), account->Name);
    // Another user's environment takes the home and the names from that entry.
    platform::system::ProcessFacts facts;
    facts.EffectiveUid = facts.RealUid = ::geteuid();
    facts.SecureExec = true;
    const platform::system::EnvironmentMap own =
        platform::system::OwnEnvironment({{"HOME", "/home/someone"}, {"USER", "someone"}}, facts);
    EXPECT_EQ(own.value("HOME"), Home);
    EXPECT_EQ(own.value("USER"), QFile::encodeName(account->Name));
    EXPECT_EQ(own.value("LOGNAME"), QFile::encodeName(account->Name));
}

} // namespace

TEST(Account, ALongEntryIsReadWhole)
{
    if (qEnvironmentVariableIsSet(kInsideVariable)) {
        CheckInside(qgetenv(kInsideVariable));
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "a passwd file of the test's own needs a mount namespace, and so root";
    tvtest::TempDir dir;
    const QByteArray home = QFile::encodeName(dir.file(QStringLiteral("home")));
    const QByteArray accounts = WithLongEntry(home);
    if (accounts.isEmpty())
        GTEST_SKIP() << "the running user has no entry in /etc/passwd";
    const QByteArray copy = QFile::encodeName(dir.file(QStringLiteral("passwd")));
    QFile file(dir.file(QStringLiteral("passwd")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(accounts) == accounts.size() &&
                file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    file.close();

    // The test program again, this test only, with the copy in place of /etc/passwd.
    const tvtest::SelfCopy self("Account.ALongEntryIsReadWhole", QByteArray(kInsideVariable) + '=' + home);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(copy.constData(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
            ::_exit(kSkipped);
        self.Exec();
        ::_exit(kSkipped);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkipped)
        GTEST_SKIP() << "mount namespaces refused here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run with the long entry failed (output above)";
}
