#include "skin/SkinPublic.h"

#include <gtest/gtest.h>

namespace {

// A refusal that no test expects is a fault, and must not wait for a click in a headless run.
class UnexpectedMessages : public ::testing::Environment
{
public:
    void SetUp() override
    {
        SetSkinMessageHandler(
            [](const QString &Text) { ADD_FAILURE() << "unexpected message: " << Text.toStdString(); });
    }
    void TearDown() override { SetSkinMessageHandler({}); }
};

[[maybe_unused]] ::testing::Environment *const Installed = ::testing::AddGlobalTestEnvironment(new UnexpectedMessages);

} // namespace
