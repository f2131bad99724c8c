#include <gtest/gtest.h>

#include "platform/system/Version.h"

TEST(ProgramVersion, ComesFromTheBuild)
{
    const auto v = platform::ProgramVersion();
    EXPECT_EQ(v.Major, TASKVANE_VERSION_MAJOR);
    EXPECT_GE(v.Minor, 0);
    EXPECT_TRUE(platform::IsProgramFile(QStringLiteral("/proc/self/exe")));
    EXPECT_FALSE(platform::IsProgramFile(QString()));
    EXPECT_FALSE(platform::IsProgramFile(QStringLiteral("/nonexistent/file")));
}
