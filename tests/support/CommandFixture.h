#pragma once
// The fixture of the console command tests: a simulated machine, and a teardown that closes every
// connection quietly and checks that nothing the commands opened is still held.

#include <gtest/gtest.h>

#include "Connections.h"
#include "FakePlatform.h"
#include "OutputCapture.h"

class CommandFixture : public ::testing::Test {
protected:
    ~CommandFixture() override {
        {
            OutputCapture discard;
            CloseAllConnections();
        }
        EXPECT_EQ(fake.OpenServiceHandles(), 0u) << "service handles left open";
        EXPECT_EQ(fake.OpenManagers(), 0u) << "manager handles left open";
        EXPECT_EQ(fake.OpenRegistryKeys(), 0u) << "registry keys left open";
        EXPECT_EQ(fake.OpenLocks(), 0u) << "database locks left held";
    }

    FakePlatform fake;
};
