#include <gtest/gtest.h>

#include "Children.h"
#include "common/LogCapture.h"
#include "platform/processes/ProcFs.h"
#include "platform/services/ServiceManager.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Services.h"

#include <cstring>

using tvtest::Child;
using tvtest::LogCapture;

namespace {

const QString kOn = QStringLiteral("taskvane.*.warning=true");
const QString kPlatform = QStringLiteral("taskvane.platform");

// A child of the test that has ended and been reaped, with the start time it had.
struct EndedChild
{
    pid_t pid = -1;
    quint64 startTime = 0;
};

EndedChild endAndReap()
{
    Child child({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    EndedChild out;
    platform::processes::ProcStat st;
    if (child.pid() <= 0 || !platform::processes::ReadStat(child.pid(), st))
        return out;
    out.pid = child.pid();
    out.startTime = st.StartTime;
    child.kill();
    return out;
}

TEST(ProcessActionLogging, EndingAReapedChildLogsTheSystemsReasonOnlyWhenTurnedOn)
{
    if (LogCapture::environmentSetsRules())
        GTEST_SKIP() << "QT_LOGGING_RULES is set in the environment and overrides the test's rules";
    const EndedChild gone = endAndReap();
    ASSERT_GT(gone.pid, 0);
    {
        LogCapture log(kOn);
        EXPECT_FALSE(TProcessHelper::Terminate(quint32(gone.pid), gone.startTime));
        const QStringList warnings = log.warnings(kPlatform);
        ASSERT_FALSE(warnings.isEmpty());
        // The identifier is normally free again; were it reused meanwhile, the start time tells.
        const QString reason = warnings.join(QLatin1Char('\n'));
        const bool told = reason.contains(QString::fromLocal8Bit(std::strerror(ESRCH))) ||
            reason.contains(QStringLiteral("not the one listed"));
        EXPECT_TRUE(told) << reason.toStdString();
        EXPECT_TRUE(reason.contains(QString::number(gone.pid))) << reason.toStdString();
    }
    {
        LogCapture log{QString()};
        EXPECT_FALSE(TProcessHelper::Terminate(quint32(gone.pid), gone.startTime));
        EXPECT_TRUE(log.messages().isEmpty()) << log.messages().first().text.toStdString();
    }
}

TEST(ProcessActionLogging, ARefusalOfTheProgramItselfIsLoggedInItsOwnCategory)
{
    if (LogCapture::environmentSetsRules())
        GTEST_SKIP() << "QT_LOGGING_RULES is set in the environment and overrides the test's rules";
    LogCapture log(kOn);
    EXPECT_FALSE(TProcessHelper::Terminate(quint32(::getpid())));
    const QStringList warnings = log.warnings(QStringLiteral("taskvane.sysinfo"));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("this program"))) << warnings.first().toStdString();
    EXPECT_TRUE(log.warnings(kPlatform).isEmpty());
}

TEST(ProcessActionLogging, AProgramThatIsNotThereIsNamed)
{
    if (LogCapture::environmentSetsRules())
        GTEST_SKIP() << "QT_LOGGING_RULES is set in the environment and overrides the test's rules";
    LogCapture log(kOn);
    EXPECT_FALSE(TProcessHelper::CreateProcess(QStringLiteral("taskvane-no-such-program-here --flag")));
    const QString reason = log.warnings(kPlatform).join(QLatin1Char('\n'));
    EXPECT_TRUE(reason.contains(QStringLiteral("taskvane-no-such-program-here"))) << reason.toStdString();
}

} // namespace

TEST(ServiceLogging, AnUnreachableManagerIsNamedOnlyWhenTurnedOn)
{
    if (LogCapture::environmentSetsRules())
        GTEST_SKIP() << "QT_LOGGING_RULES is set in the environment and overrides the test's rules";
    const QByteArray saved = qgetenv(platform::services::kBusAddressVariable);
    qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-logging-test-bus");
    {
        LogCapture log(kOn);
        EXPECT_FALSE(TServices::SetServiceStartType(QStringLiteral("nothing.service"), TServiceStartType::Manual));
        const QString reason = log.warnings(kPlatform).join(QLatin1Char('\n'));
        EXPECT_TRUE(reason.contains(QStringLiteral("no connection to the service manager"))) << reason.toStdString();
    }
    {
        LogCapture log{QString()};
        EXPECT_FALSE(TServices::SetServiceStartType(QStringLiteral("nothing.service"), TServiceStartType::Manual));
        EXPECT_TRUE(log.messages().isEmpty());
    }
    if (saved.isNull())
        qunsetenv(platform::services::kBusAddressVariable);
    else
        qputenv(platform::services::kBusAddressVariable, saved);
}
