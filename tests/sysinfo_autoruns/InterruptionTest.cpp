// Disable, enable and delete interrupted before each of their steps: a child process runs the
// command and ends itself at the Nth step that changes a file (the writer's announcement of its
// steps), for every N until the command runs through. Afterwards no entry is lost, nothing the
// interrupted writes left behind is listed, and running the command again completes it.

#include "sysinfo_autoruns/AutorunEnv.h"

#include "platform/files/AtomicFile.h"
#include "sysinfo/Autoruns.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using autotest::AutorunEnv;

constexpr int kInterrupted = 77;
// Far more steps than any command takes: a command still running past this is a fault.
constexpr int kMostSteps = 40;

int s_stepsLeft = 0;

void CountDownStep()
{
    if (--s_stepsLeft == 0)
        ::_exit(kInterrupted);
}

enum class Place { Folder, Registry };
// DeleteDisabled deletes the entry from the backup.
enum class Op { Disable, Enable, Delete, DeleteDisabled };

const QString kName = QStringLiteral("tool");
const QString kCommand = QStringLiteral("/bin/true --tool");
const QByteArray kEntry = AutorunEnv::Entry(QStringLiteral("/bin/true --tool"));

int FindRow(const TAutoruns &List, bool Active, const QString &Name = kName)
{
    for (int i = 0; i < List.GetCount(); ++i)
        if (List.GetItem(i)->Name == Name && List.GetItem(i)->Active == Active)
            return i;
    return -1;
}

// The row the user would pick for the command: the one in the state the command acts on, else
// the other one.
int RowFor(const TAutoruns &List, Op Command)
{
    const bool active = Command == Op::Disable || Command == Op::Delete;
    const int row = FindRow(List, active);
    return row >= 0 ? row : FindRow(List, !active);
}

class Interrupted : public ::testing::TestWithParam<std::tuple<Place, Op>>
{
protected:
    Place place() const { return std::get<0>(GetParam()); }
    Op op() const { return std::get<1>(GetParam()); }

    void Prepare(AutorunEnv &Env, TAutoruns &List)
    {
        List.SetBackupFile(Env.BackupFile());
        if (place() == Place::Folder)
            ASSERT_TRUE(AutorunEnv::Write(Env.UserDir() + kName + ".desktop", kEntry));
        else
            ASSERT_TRUE(AutorunEnv::SetRun(autotest::kUserRun, kName, kCommand));
        // A neighbour in the backup that no interruption may touch.
        QDir().mkpath(QFileInfo(Env.BackupFile()).absolutePath());
        ASSERT_TRUE(AutorunEnv::Write(Env.BackupFile(), "[R_other]\nCommand=/bin/true\nUserType=1\nRunType=2\n"));
        List.Refresh();
        if (op() == Op::Enable || op() == Op::DeleteDisabled) {
            ASSERT_TRUE(List.Disable(FindRow(List, true)));
        }
        List.Refresh();
    }

    static bool Run(TAutoruns &List, Op Command)
    {
        const int row = RowFor(List, Command);
        switch (Command) {
        case Op::Disable:
            return List.Disable(row);
        case Op::Enable:
            return List.Enable(row);
        case Op::Delete:
        case Op::DeleteDisabled:
            return List.Delete(row);
        }
        return false;
    }

    // Whether the entry is in force, and whether the backup holds it.
    static std::pair<bool, bool> Where(const AutorunEnv &Env)
    {
        TAutoruns list;
        list.SetBackupFile(Env.BackupFile());
        list.Refresh();
        return {FindRow(list, true) >= 0, FindRow(list, false) >= 0};
    }

    // The entry in force is exactly the original.
    static bool InForceAsBefore(const AutorunEnv &Env, Place P)
    {
        if (P == Place::Folder)
            return AutorunEnv::Read(Env.UserDir() + kName + ".desktop") == kEntry;
        QString command;
        ReadRegistryString(autotest::kUserRun, kName, command);
        return command == kCommand;
    }
};

TEST_P(Interrupted, AtEveryStepTheCommandCanBeCompletedAndNothingIsLost)
{
    int completedAt = 0;
    for (int n = 1; n <= kMostSteps && completedAt == 0; ++n) {
        SCOPED_TRACE("interrupted before step " + std::to_string(n));
        AutorunEnv env;
        TAutoruns list;
        Prepare(env, list);
        if (HasFatalFailure())
            return;

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            s_stepsLeft = n;
            platform::files::SetStepHook(&CountDownStep);
            const bool ok = Run(list, op());
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        const int code = WEXITSTATUS(status);
        ASSERT_TRUE(code == 0 || code == kInterrupted) << "the command failed outright";
        if (code == 0)
            completedAt = n;

        // Whatever the interrupted writes left behind: the folder lists the entry and nothing else.
        TAutoruns after;
        after.SetBackupFile(env.BackupFile());
        after.Refresh();
        for (int i = 0; i < after.GetCount(); ++i)
            EXPECT_TRUE(after.GetItem(i)->Name == kName || after.GetItem(i)->Name == QStringLiteral("other"))
                << after.GetItem(i)->Name.toStdString();
        const auto where = Where(env);
        const bool deleting = op() == Op::Delete || op() == Op::DeleteDisabled;
        if (!deleting) {
            EXPECT_TRUE(where.first || where.second) << "the entry was lost";
        }
        EXPECT_GE(FindRow(after, false, QStringLiteral("other")), 0) << "the neighbour was lost";

        // Running the command again completes it (a deletion that went through, if only just
        // before the end, has nothing left to do).
        if (!deleting || where.first || where.second) {
            EXPECT_TRUE(Run(after, op()));
        }
        const auto done = Where(env);
        switch (op()) {
        case Op::Disable:
            EXPECT_FALSE(done.first);
            EXPECT_TRUE(done.second);
            break;
        case Op::Enable:
            EXPECT_TRUE(done.first);
            EXPECT_FALSE(done.second);
            EXPECT_TRUE(InForceAsBefore(env, place()));
            break;
        case Op::Delete:
        case Op::DeleteDisabled:
            EXPECT_FALSE(done.first);
            EXPECT_FALSE(done.second);
            break;
        }
        // And the way back still works, to the byte.
        if (op() == Op::Disable) {
            after.Refresh();
            ASSERT_TRUE(after.Enable(FindRow(after, false)));
            EXPECT_TRUE(InForceAsBefore(env, place()));
        }
    }
    EXPECT_GT(completedAt, 1) << "no step of the command was announced";
}

std::string Name(const ::testing::TestParamInfo<std::tuple<Place, Op>> &Info)
{
    const char *place = std::get<0>(Info.param) == Place::Folder ? "Folder" : "Registry";
    const char *ops[] = {"Disable", "Enable", "Delete", "DeleteDisabled"};
    return std::string(ops[int(std::get<1>(Info.param))]) + place;
}

INSTANTIATE_TEST_SUITE_P(Commands, Interrupted,
                         ::testing::Combine(::testing::Values(Place::Folder, Place::Registry),
                                            ::testing::Values(Op::Disable, Op::Enable, Op::Delete, Op::DeleteDisabled)),
                         Name);

} // namespace
