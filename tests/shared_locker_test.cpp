// shared_locker and auto_locker under several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/asexception.h"
#include "common/shared_locker.h"
#include "host/host_hooks.h"

using ascommon::auto_locker;
using ascommon::shared_locker;

namespace {

// Spins (yielding) until the predicate holds; the tests bound every wait by the ctest timeout.
template <class Pred>
void WaitUntil(Pred pred) {
    while (!pred()) std::this_thread::yield();
}

void SettleBriefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

}  // namespace

TEST(SharedLockerTest, ReadersShareAndAWaitingWriterBlocksNewReaders) {
    shared_locker locker;
    std::atomic<int> readersIn{0};
    std::atomic<bool> releaseReaders{false};
    std::atomic<bool> writerIn{false};
    std::atomic<bool> lateReaderIn{false};
    std::atomic<bool> writerDone{false};

    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            auto_locker hold(&locker, auto_locker::kReadOnly);
            ++readersIn;
            WaitUntil([&] { return releaseReaders.load(); });
        });
    }
    WaitUntil([&] { return readersIn.load() == 2; });  // two readers at once

    std::thread writer([&] {
        auto_locker hold(&locker, auto_locker::kExclusive);
        writerIn = true;
        EXPECT_FALSE(lateReaderIn.load());  // the late reader queued behind the writer
        SettleBriefly();
        writerDone = true;
    });
    SettleBriefly();
    EXPECT_FALSE(writerIn.load());  // waits for both readers

    std::thread lateReader([&] {
        auto_locker hold(&locker, auto_locker::kReadOnly);
        lateReaderIn = true;
        EXPECT_TRUE(writerDone.load());
    });
    SettleBriefly();
    EXPECT_FALSE(lateReaderIn.load());

    releaseReaders = true;
    for (auto& t : readers) t.join();
    writer.join();
    lateReader.join();
    EXPECT_TRUE(lateReaderIn.load());
    EXPECT_EQ(locker.readers(), 0u);
}

TEST(SharedLockerTest, WriterIsReentrantAndMayReadToo) {
    shared_locker locker;
    locker.LockWrite();
    locker.LockWrite();
    locker.LockReadOnly();
    locker.UnlockReadOnly();
    locker.UnlockWrite();
    locker.UnlockWrite();
    EXPECT_EQ(locker.readers(), 0u);
}

TEST(SharedLockerTest, DeleteFlagRefusesHoldersUntilReset) {
    host::CaptureTraces(4);
    host::TakeTraces();
    shared_locker locker;
    locker.LockForDelete();
    EXPECT_TRUE(locker.marked_for_delete());
    try {
        locker.LockReadOnly();
        FAIL();
    } catch (const ascommon::ASInternalException& e) {
        EXPECT_STREQ(e.what(), "Unable to lock resource read only because it is being deleted!");
        EXPECT_EQ(e.GetCode(), 0);
    }
    EXPECT_TRUE(host::TakeTraces().empty());  // the read-only refusal writes no line
    try {
        auto_locker hold(&locker, auto_locker::kExclusive);
        FAIL();
    } catch (const ascommon::ASInternalException& e) {
        EXPECT_STREQ(e.what(),
                     "ASInternalException - CODE: 0 MESSAGE: Unable to lock resource "
                     "read only because it is being deleted!");
    }
    EXPECT_THROW(locker.LockForDelete(), ascommon::ASInternalException);
    EXPECT_EQ(locker.readers(), 0u);
    locker.ResetDeleteFlag();
    locker.LockReadOnly();
    locker.UnlockReadOnly();
    EXPECT_THROW(locker.ResetDeleteFlag(), ascommon::ASInternalException);
    EXPECT_TRUE(
        host::TraceContains("The resource is not being deleted! Cannot reset its delete flag."));
    host::CaptureTraces(0);
    host::TakeTraces();
}

TEST(SharedLockerTest, LockForDeleteWaitsForReaders) {
    shared_locker locker;
    locker.LockReadOnly();
    std::atomic<bool> marked{false};
    std::thread deleter([&] {
        locker.LockForDelete();
        marked = true;
    });
    SettleBriefly();
    EXPECT_FALSE(marked.load());
    locker.UnlockReadOnly();
    deleter.join();
    EXPECT_TRUE(marked.load());
    locker.ResetDeleteFlag();
}

TEST(AutoLockerTest, ReleasesOnExceptionAndRefusesNull) {
    shared_locker locker;
    try {
        auto_locker hold(&locker, auto_locker::kReadOnly);
        EXPECT_EQ(locker.readers(), 1u);
        throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(locker.readers(), 0u);
    {
        auto_locker hold(&locker, auto_locker::kReadOnly);
        hold.release();
        hold.release();  // a second release does nothing
        EXPECT_EQ(locker.readers(), 0u);
    }
    try {
        auto_locker hold(nullptr, auto_locker::kReadOnly);
        FAIL();
    } catch (const ascommon::ASInternalException& e) {
        EXPECT_STREQ(e.what(),
                     "ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!");
    }
}

TEST(SharedLockerTest, ManyThreadsNeverSeeATornResource) {
    shared_locker locker;
    int a = 0, b = 0;  // a writer keeps them equal; readers must never see them differ
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if ((i + t) % 10 == 0) {
                    auto_locker hold(&locker, auto_locker::kExclusive);
                    ++a;
                    std::this_thread::yield();
                    ++b;
                } else {
                    auto_locker hold(&locker, auto_locker::kReadOnly);
                    if (a != b) ++torn;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(a, 1200);
    EXPECT_EQ(b, 1200);
}

TEST(SharedLockerTest, DestroyingWithReadersWarns) {
    host::CaptureTraces(4);
    host::TakeTraces();
    {
        shared_locker locker;
        locker.LockReadOnly();
    }
    EXPECT_TRUE(host::TraceContains(
        "WARNING: Destroying the resource locker without releasing all the Read Only Locks!"));
    host::CaptureTraces(0);
    host::TakeTraces();
}
