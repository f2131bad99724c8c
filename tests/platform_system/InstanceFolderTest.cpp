// The folder of the program's sockets of an ordinary user without a session folder, when another
// user took its name in the temporary folder first: this program run again as that user, through
// a copy other users can reach.

#include "common/LogCapture.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "platform/system/UserSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The path the user's folder is expected at, for the run as that user.
constexpr char kExpectedVariable[] = "TVTEST_INSTANCE_FOLDER";
// Takes the user's folder's name first.
constexpr quint32 kSquatter = tvtest::kOtherUid + 1;

bool RunAs(quint32 Uid, const QStringList &Argv)
{
    const QString id = QString::number(Uid);
    QProcess p;
    p.start(QStringLiteral("/usr/bin/setpriv"),
            QStringList{QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                        QStringLiteral("--clear-groups"), QStringLiteral("--")} +
                Argv);
    return p.waitForStarted(10000) && p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
        p.exitCode() == 0;
}

} // namespace

// Run only by the test below, as the user whose folder's name was taken.
TEST(InstanceFolder, DISABLED_OfTheUserWhoseNameWasTaken)
{
    const QString expected = qEnvironmentVariable(kExpectedVariable);
    if (expected.isEmpty())
        GTEST_SKIP() << "run by InstanceFolder.ANameTakenByAnotherUserIsPassedOverForAnotherPrivateFolder";
    if (tvtest::LogCapture::environmentSetsRules())
        GTEST_SKIP() << "QT_LOGGING_RULES would hide the log";
    tvtest::LogCapture log(QStringLiteral("taskvane.platform.warning=true"));
    // Every start finds the same one, so that a second start finds the first.
    for (int start = 0; start < 2; ++start) {
        const auto folder = platform::system::InstanceFolder::Open();
        ASSERT_TRUE(folder.has_value()) << start;
        EXPECT_EQ(folder->Path(), expected);
    }
    struct stat st = {};
    ASSERT_EQ(::lstat(QFile::encodeName(expected).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    // Each start says which name it passed over.
    const QString taken = expected.chopped(2);
    const QStringList said = log.warnings(QStringLiteral("taskvane.platform"));
    EXPECT_EQ(said.filter(taken + QLatin1Char(' ')).size(), 2) << said.join(QLatin1Char('\n')).toStdString();
}

TEST(InstanceFolder, ANameTakenByAnotherUserIsPassedOverForAnotherPrivateFolder)
{
    const tvtest::OtherUserCopy copy;
    if (!copy.SkipReason().isEmpty())
        GTEST_SKIP() << copy.SkipReason().toStdString();
    // A temporary folder as the system's is, and a folder of users' session folders without one
    // of the user's.
    tvtest::TempDir temp;
    ASSERT_EQ(::chmod(QFile::encodeName(temp.path()).constData(), 01777), 0);
    const QString runUser = temp.file(QStringLiteral("run-user"));
    ASSERT_TRUE(QDir().mkdir(runUser));
    const QString taken = temp.file(QStringLiteral("taskvane-%1").arg(tvtest::kOtherUid));
    const QString theirs = temp.file(QStringLiteral("theirs"));
    if (!RunAs(kSquatter, {QStringLiteral("/bin/mkdir"), QStringLiteral("-m"), QStringLiteral("0700"), theirs}))
        GTEST_SKIP() << "another uid cannot make a folder in the test's own temporary folder";
    // Made first by the other user: a folder of theirs open to all, or a link to one of theirs.
    const QStringList squats[] = {{QStringLiteral("/bin/mkdir"), QStringLiteral("-m"), QStringLiteral("0777"), taken},
                                  {QStringLiteral("/bin/ln"), QStringLiteral("-s"), theirs, taken}};
    for (const QStringList &squat : squats) {
        ASSERT_TRUE(RunAs(kSquatter, squat));
        QProcessEnvironment env;
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "PATH"})
            if (qEnvironmentVariableIsSet(name))
                env.insert(QLatin1String(name), qEnvironmentVariable(name));
        env.insert(QStringLiteral("TASKVANE_TEMP_DIR"), temp.path());
        env.insert(QStringLiteral("TASKVANE_RUN_USER_DIR"), runUser);
        env.insert(QLatin1String(kExpectedVariable), taken + QStringLiteral("-1"));
        const tvtest::UserRun run = copy.Run(tvtest::kOtherUid, tvtest::kOtherUid,
                                             {QStringLiteral("--gtest_also_run_disabled_tests"),
                                              QStringLiteral("--gtest_filter=InstanceFolder.DISABLED_*")},
                                             env, 120000);
        const std::string output = squat.first().toStdString() + ": " + run.output.toStdString();
        EXPECT_EQ(run.exitCode, 0) << output;
        EXPECT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output;
        for (const QString &dir : {taken, theirs})
            EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                      QStringList());
        ASSERT_TRUE(RunAs(kSquatter, {QStringLiteral("/bin/rm"), QStringLiteral("-rf"), taken}));
        ASSERT_TRUE(QDir(taken + QStringLiteral("-1")).removeRecursively());
    }
}
