// shared_locker and auto_locker: readers sharing and a waiting writer holding back new readers
// across threads, reentrant writers, the delete flag, and the destructor's warning and its level.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/asexception.h"
#include "common/shared_locker.h"
#include "host/host_hooks.h"
#include "tests/test_support.h"

using ascommon::auto_locker;
using ascommon::shared_locker;

namespace {

const auto SettleBriefly = [] { std::this_thread::sleep_for(std::chrono::milliseconds(30)); };

// The message of the ASInternalException the call throws ("" when it throws none).
// clang-format off
template <class Call>
std::string InternalFailure(Call call) {
    try { call(); } catch (const ascommon::ASInternalException& e) { EXPECT_EQ(e.GetCode(), 0); return e.what(); }
    return "";
}
// clang-format on

}  // namespace

// Every wait on another thread is bounded by the ctest timeout.
TEST(SharedLockerTest, ReadersShareAndAWaitingWriterBlocksNewReaders) {
    shared_locker locker;
    std::atomic<int> readersIn{0};
    std::atomic<bool> releaseReaders{false}, writerIn{false}, writerDone{false}, lateIn{false};
    std::vector<std::thread> threads;
    // clang-format off
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            auto_locker hold(&locker, auto_locker::kReadOnly);
            ++readersIn;
            while (!releaseReaders) std::this_thread::yield();
        });
    }
    while (readersIn != 2) std::this_thread::yield();  // two readers at once
    threads.emplace_back([&] {  // the late reader must queue behind this writer
        auto_locker hold(&locker, auto_locker::kExclusive);
        writerIn = true; EXPECT_FALSE(lateIn.load()); SettleBriefly(); writerDone = true;
    });
    SettleBriefly();
    EXPECT_FALSE(writerIn.load());  // waits for both readers
    threads.emplace_back([&] {
        auto_locker hold(&locker, auto_locker::kReadOnly);
        lateIn = true; EXPECT_TRUE(writerDone.load());
    });
    // clang-format on
    SettleBriefly();
    EXPECT_FALSE(lateIn.load());
    releaseReaders = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(locker.readers(), 0u);
}

// A writer may lock again and read; LockForDelete (which waits for readers like a writer) refuses
// every holder (the read-only refusal without a trace line) until the flag is reset.
TEST(SharedLockerTest, ReentrantWriterAndTheDeleteFlag) {
    host::CaptureTraces(4);
    host::TakeTraces();
    shared_locker locker;
    // clang-format off
    locker.LockWrite(); locker.LockWrite(); locker.LockReadOnly();
    locker.UnlockReadOnly(); locker.UnlockWrite(); locker.UnlockWrite();
    // clang-format on
    locker.LockForDelete();
    EXPECT_TRUE(locker.marked_for_delete());
    const std::string refused = "Unable to lock resource read only because it is being deleted!";
    EXPECT_EQ(InternalFailure([&] { locker.LockReadOnly(); }), refused);
    EXPECT_TRUE(host::TakeTraces().empty());
    EXPECT_NE(InternalFailure([&] { locker.LockForDelete(); }), "");
    EXPECT_EQ(locker.readers(), 0u);
    // clang-format off
    locker.ResetDeleteFlag(); locker.LockReadOnly(); locker.UnlockReadOnly();
    // clang-format on
    EXPECT_NE(InternalFailure([&] { locker.ResetDeleteFlag(); }), "");
    EXPECT_TRUE(
        host::TraceContains("The resource is not being deleted! Cannot reset its delete flag."));
    // LockForDelete let its sections go: another thread writes once the flag is reset.
    // clang-format off
    locker.LockForDelete(); locker.ResetDeleteFlag();
    std::thread([&] { locker.LockWrite(); locker.UnlockWrite(); }).join();
    // clang-format on
    // clang-format off
    host::CaptureTraces(0); host::TakeTraces();
    // clang-format on
}

// auto_locker releases on an exception and on release() (a second release, and the destructor
// after it, do nothing); a null locker is refused. A locker destroyed with a reader left warns,
// as an error (level 1); one with none says nothing.
TEST(AutoLockerTest, ReleasesRefusesNullAndTheDestructorWarning) {
    host::CaptureTraces(4);
    testing_support::LeveledTraces traces;
    const std::string warning =
        "WARNING: Destroying the resource locker without releasing all the Read Only Locks!";
    {
        shared_locker locker;
        try {
            auto_locker hold(&locker, auto_locker::kReadOnly);
            throw std::runtime_error("boom");
        } catch (const std::runtime_error&) {
        }
        auto_locker hold(&locker, auto_locker::kReadOnly);
        // clang-format off
        hold.release(); hold.release();
        // clang-format on
        EXPECT_EQ(locker.readers(), 0u);
    }
    EXPECT_EQ(traces.Level(warning), 0);
    std::make_unique<shared_locker>()->LockReadOnly();
    EXPECT_EQ(traces.Level(warning), 1);
    EXPECT_EQ(InternalFailure([] { auto_locker hold(nullptr, auto_locker::kReadOnly); }),
              "ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!");
    // clang-format off
    host::CaptureTraces(0); host::TakeTraces();
    // clang-format on
}
