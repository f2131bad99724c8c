#include "common/SkinMessages.h"

namespace {

[[maybe_unused]] ::testing::Environment *const Installed =
    ::testing::AddGlobalTestEnvironment(new tvtest::UnexpectedSkinMessages);

} // namespace
