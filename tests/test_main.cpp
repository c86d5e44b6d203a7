// The main of every test program: GoogleTest plus one leak check for every test. The host's
// hooks count the bytes that the module and the host's copy of the common classes hold; a test
// must give back all it took, and must never free a block that the hooks did not make.
#include <gtest/gtest.h>

#include "host/host_hooks.h"

namespace {

class LeakCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { m_start = host::Counters(); }

    void OnTestEnd(const ::testing::TestInfo&) override {
        const host::HookCounters end = host::Counters();
        EXPECT_EQ(end.liveBytes, m_start.liveBytes) << "bytes from the hooks left behind";
        EXPECT_EQ(end.untaggedFrees, m_start.untaggedFrees) << "blocks freed that no hook made";
    }

    host::HookCounters m_start{};
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
    return RUN_ALL_TESTS();
}
