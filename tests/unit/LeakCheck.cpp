// Every unit test ends with the library's heap as it found it, and with nothing handed out by
// the simulated machines it used: no handle of any kind, lock or SID left open.

#include <gtest/gtest.h>

#include "CommandTree.h"
#include "FakePlatform.h"
#include "Memory.h"

namespace {

class LeakCheck : public ::testing::EmptyTestEventListener {
    // The command tree lives as long as the process: it is built before any test counts blocks.
    void OnTestProgramStart(const ::testing::UnitTest&) override { RegisterCommands(); }

    void OnTestStart(const ::testing::TestInfo&) override {
        m_liveBlocks = MemLiveBlocks();
        FakePlatform::ForgetObjectsLeftOpen();
    }

    // Runs after the fixture is gone, and before the result is printed, so that a leak fails the test.
    void OnTestEnd(const ::testing::TestInfo&) override {
        EXPECT_EQ(MemLiveBlocks(), m_liveBlocks) << "library blocks leaked or released twice";
        EXPECT_EQ(FakePlatform::ObjectsLeftOpen(), 0u) << "handles, locks or SIDs left open on the simulated machine";
    }

    unsigned long m_liveBlocks = 0;
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
    return true;
}();

} // namespace
