#include "Fixture.h"

#include "sysinfo/Children.h"

#include <QFileInfo>

#include <optional>

using namespace ptest;

namespace {

class ProcessRows : public FormTest
{
protected:
    QColor Colour(quint32 pid)
    {
        QColor c(1, 2, 3);
        form->ProcessPage->lvProcessesCustomDrawItem(List(), RowIndex(pid), c);
        return c;
    }
};

template <typename Pred>
bool WaitUntil(Pred pred)
{
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (pred())
            return true;
        QThread::msleep(10);
    }
    return pred();
}

QStringList ArgsOf(quint32 pid)
{
    return platform::processes::ReadCmdline(qint32(pid)).value_or(QStringList());
}

} // namespace

TEST_F(ProcessRows, NewProgramAndNewUserReachTheRowWithinTwoTicks)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString dict = dir.file(QStringLiteral("Ravel.db"));
    WriteDictionary(dict, {{QStringLiteral("sleep"), true}});

    tvtest::Gate gate(dir.file(QStringLiteral("gate")));
    ASSERT_TRUE(gate.isValid());
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("read x < \"$0\"; exec /bin/sleep 30"), gate.path()});
    ASSERT_TRUE(shell.waitForStarted(5000));
    const quint32 pid = quint32(shell.processId());
    ASSERT_TRUE(WaitUntil([&] { return ArgsOf(pid).size() == 4; }));
    // As root, a second child that gives up root for nobody when told.
    std::optional<tvtest::Forked> changer;
    if (::geteuid() == 0)
        changer.emplace(std::vector<std::function<void()>>{[] { (void)::setresuid(65534, 65534, 65534); }});

    Create(true);
    QString version;
    GetDictVersionIn(dict, version); // the form read its own; the test's is read from here on
    ASSERT_EQ(version, QStringLiteral("2031-02-03"));
    Fill();
    ASSERT_NE(Row(pid), nullptr);
    EXPECT_EQ(Row(pid)->text(0), QStringLiteral("sh"));
    EXPECT_EQ(Colour(pid), QColor(0, 0, 0xFF)) << "not in the dictionary";
    if (changer) {
        ASSERT_NE(Row(quint32(changer->pid())), nullptr);
        EXPECT_EQ(Row(quint32(changer->pid()))->text(2), QStringLiteral("root"));
    }

    ASSERT_TRUE(gate.open());
    ASSERT_TRUE(WaitUntil([&] { return ArgsOf(pid) == QStringList{"/bin/sleep", "30"}; }));
    if (changer) {
        ASSERT_TRUE(changer->step());
        ASSERT_TRUE(WaitUntil([&] { return platform::processes::ReadEffectiveUid(changer->pid()) == 65534u; }));
    }
    Tick();
    Tick();
    ASSERT_NE(Row(pid), nullptr);
    EXPECT_EQ(Row(pid)->text(0), QStringLiteral("sleep"));
    EXPECT_EQ(Row(pid)->text(6), QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
    EXPECT_EQ(Colour(pid), QColor(0xFF, 0, 0)) << "looked up again: dangerous";
    if (changer) {
        ASSERT_NE(Row(quint32(changer->pid())), nullptr);
        const QString nobody = platform::processes::AccountName(65534).value_or(QStringLiteral("65534"));
        EXPECT_EQ(Row(quint32(changer->pid()))->text(2), nobody);
    } else {
        std::printf("not root: the change of user is left out\n");
    }
    shell.kill();
    shell.waitForFinished(5000);
}
