#include <gtest/gtest.h>

#include "platform/system/Version.h"

TEST(ProgramVersion, ComesFromTheBuild)
{
    const auto v = platform::programVersion();
    EXPECT_EQ(v.major, TASKVANE_VERSION_MAJOR);
    EXPECT_GE(v.minor, 0);
    EXPECT_TRUE(platform::isProgramFile(QStringLiteral("/proc/self/exe")));
    EXPECT_FALSE(platform::isProgramFile(QString()));
    EXPECT_FALSE(platform::isProgramFile(QStringLiteral("/nonexistent/file")));
}
