// Every end-to-end test ends with as many handles open in this process as it started with: the
// manager connections, registry keys, tokens, processes and files that the tests open are all
// closed again.

#include <windows.h>

#include <gtest/gtest.h>

#include "TestEnvironment.h"

namespace {

class HandleCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { m_handles = OpenHandleCount(GetCurrentProcess()); }

    // Runs after the test's own objects are gone and before its result is printed.
    void OnTestEnd(const ::testing::TestInfo&) override {
        EXPECT_EQ(OpenHandleCount(GetCurrentProcess()), m_handles) << "handles left open by the test";
    }

    unsigned long m_handles = 0;
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new HandleCheck);
    return true;
}();

} // namespace
