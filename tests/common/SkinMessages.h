#pragma once

#include "skin/SkinPublic.h"

#include <gtest/gtest.h>

namespace tvtest {

// A refusal that no test expects is a fault, and must not wait for a click in a headless run.
// Include once in a skin test program.
class UnexpectedSkinMessages : public ::testing::Environment
{
public:
    void SetUp() override
    {
        SetSkinMessageHandler(
            [](const QString &Text) { ADD_FAILURE() << "unexpected message: " << Text.toStdString(); });
    }
    void TearDown() override { SetSkinMessageHandler({}); }
};

} // namespace tvtest
