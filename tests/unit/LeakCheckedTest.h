#pragma once
// Fixture for the tests of the library's heap users: each test must give back every block it took.

#include <gtest/gtest.h>

#include "Memory.h"

class LeakCheckedTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(MemLiveBlocks(), m_liveBlocksBefore) << "blocks leaked or released twice";
    }

private:
    unsigned long m_liveBlocksBefore = MemLiveBlocks();
};
