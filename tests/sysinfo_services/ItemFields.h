#pragma once

// A service read after an action against the same service in a listing made then: both readers
// must agree on every field the re-read fills.

#include "sysinfo/Services.h"

#include <gtest/gtest.h>

namespace svctest {

inline void ExpectSameFields(const TServiceItem &Listed, const TServiceItem &Reread)
{
    SCOPED_TRACE(Listed.Name.toStdString());
    EXPECT_EQ(Reread.Name, Listed.Name);
    EXPECT_EQ(Reread.Description, Listed.Description);
    EXPECT_EQ(Reread.Account, Listed.Account);
    EXPECT_EQ(Reread.BinaryPath, Listed.BinaryPath);
    EXPECT_EQ(Reread.LoadOrderGroup, Listed.LoadOrderGroup);
    EXPECT_EQ(Reread.StartType, Listed.StartType);
    EXPECT_EQ(Reread.StartTypeSettable, Listed.StartTypeSettable);
    EXPECT_EQ(Reread.State, Listed.State);
    EXPECT_EQ(Reread.ProcessID, Listed.ProcessID);
    EXPECT_EQ(Reread.AcceptsStop, Listed.AcceptsStop);
    EXPECT_EQ(Reread.AcceptsPause, Listed.AcceptsPause);
}

} // namespace svctest
