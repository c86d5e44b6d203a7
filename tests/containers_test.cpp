// CArray and CMap.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/asexception.h"
#include "common/carray.h"
#include "common/cmap.h"
#include "common/ustring.h"
#include "host/host_hooks.h"

using ascommon::CArray;
using ascommon::CMap;
using ascommon::sstring;

TEST(CArrayTest, GrowsInStepsAndKeepsOneSlotFree) {
    CArray<void*, 64> array;
    EXPECT_EQ(array.data(), nullptr);
    for (uintptr_t i = 1; i <= 63; ++i) ASSERT_EQ(array.add(reinterpret_cast<void*>(i)), 0);
    EXPECT_EQ(array.capacity(), 64u);  // 63 elements fit a capacity of 64
    ASSERT_EQ(array.add(reinterpret_cast<void*>(64)), 0);
    EXPECT_EQ(array.capacity(), 128u);
    for (uintptr_t i = 0; i < 64; ++i) EXPECT_EQ(array.at(i), reinterpret_cast<void*>(i + 1));
    EXPECT_EQ(array.step(), 64u);
}

TEST(CArrayTest, AtPastTheCountThrowsInvalidIndex) {
    CArray<int, 64> array;
    EXPECT_THROW(array.at(0), ascommon::InvalidIndexException);
    array.add(5);
    try {
        array.at(1);
        FAIL();
    } catch (const ascommon::InvalidIndexException& e) {
        EXPECT_EQ(e.GetCode(), -301);
        EXPECT_STREQ(e.what(), "unknown exception");
    }
}

TEST(CArrayTest, ResizeAndFailedGrowth) {
    CArray<uint64_t, 64> array;
    EXPECT_EQ(array.resize(100, true), 0);
    EXPECT_EQ(array.size(), 100u);
    EXPECT_EQ(array.capacity(), 128u);
    EXPECT_EQ(array.at(99), 0u);  // new plain elements are zeroed
    EXPECT_EQ(array.resize(10, true), 0);
    EXPECT_EQ(array.size(), 100u);  // never shrinks the count
    for (uint64_t i = array.size(); i < 127; ++i) array.add(i);
    host::FailAllocationNumber(1);
    EXPECT_EQ(array.add(1), -2);  // growth failed: unchanged
    host::FailAllocationNumber(0);
    EXPECT_EQ(array.size(), 127u);
    EXPECT_EQ(array.capacity(), 128u);
    EXPECT_EQ(array.resize(UINT64_MAX / 4, false), -2);  // byte size would overflow
}

TEST(CArrayTest, ClassElementsAreCopiedAndReleased) {
    const uint64_t before = host::Counters().liveBytes;
    {
        CArray<sstring, 64> array;
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(
                array.add(sstring(("a long element text number " + std::to_string(i)).c_str())), 0);
        }
        EXPECT_STREQ(array.at(150).c_str(), "a long element text number 150");
        CArray<ascommon::usstring, 64> wide;
        ascommon::usstring w;
        w.assign(u"x", 1);
        wide.add(w);
        EXPECT_EQ(wide.at(0).length(), 1u);
    }
    EXPECT_EQ(host::Counters().liveBytes, before);
}

TEST(CMapTest, InsertLookupRemove) {
    CMap<uint64_t, uint32_t> map;
    EXPECT_EQ(map.bucket_count(), 32u);
    EXPECT_EQ(map.insert(7, 70), 0);
    EXPECT_EQ(map.insert(7, 71), -451);  // the first value stays
    EXPECT_EQ(*map.lookup(7), 70u);
    EXPECT_EQ(map.lookup(8), nullptr);
    EXPECT_EQ(map.remove(8), -450);
    EXPECT_EQ(map.remove(7), 0);
    EXPECT_EQ(map.size(), 0u);
    const uint32_t b = ascommon::DefaultHash(uint64_t{7}) % 32;
    EXPECT_EQ(map.head(b), nullptr);  // removing the only node clears head and tail
    EXPECT_EQ(map.tail(b), nullptr);
}

TEST(CMapTest, DefaultHashes) {
    uint32_t h = 5381;
    for (int i = 0; i < 8; ++i) h = (h * 33) ^ (i == 0 ? 0xFFFFFFFFu : 0u);
    EXPECT_EQ(ascommon::DefaultHash(uint64_t{0xFF}), h);  // byte 0xFF enters sign-extended
    EXPECT_EQ(ascommon::DefaultHash(sstring("a")), 177604u);
}

// All keys in one bucket, to check chain order.
uint32_t OneBucket(const sstring&) {
    return 3;
}

TEST(CMapTest, OrderedChainsKeepAscendingKeys) {
    CMap<sstring, int> map(OneBucket);
    map.set_ordered(true);
    for (const char* key : {"b", "a", "c"}) ASSERT_EQ(map.insert(sstring(key), 1), 0);
    std::string order;
    for (auto* n = map.head(3); n; n = n->next) order += n->key.c_str();
    EXPECT_EQ(order, "abc");
    EXPECT_STREQ(map.tail(3)->key.c_str(), "c");
    EXPECT_EQ(map.insert(sstring("b"), 2), -451);

    CMap<sstring, int> unordered(OneBucket);
    for (const char* key : {"b", "a", "c"}) unordered.insert(sstring(key), 1);
    order.clear();
    for (auto* n = unordered.head(3); n; n = n->next) order += n->key.c_str();
    EXPECT_EQ(order, "bac");
}

TEST(CMapTest, RehashKeepsEveryEntry) {
    CMap<uint64_t, uint32_t> map;
    std::map<uint64_t, uint32_t> reference;
    std::mt19937_64 random(42);
    for (uint32_t i = 0; i < 5000; ++i) {
        const uint64_t key = random();
        reference[key] = i;
        map.insert(key, i);
    }
    EXPECT_EQ(map.rehash(0), 0);
    EXPECT_EQ(map.bucket_count(), 32u);
    ASSERT_EQ(map.rehash(4099), 0);
    EXPECT_EQ(map.size(), reference.size());
    for (const auto& item : reference) {
        ASSERT_NE(map.lookup(item.first), nullptr);
        EXPECT_EQ(*map.lookup(item.first), item.second);
    }
    uint32_t walked = 0;
    for (uint32_t b = 0; b < map.bucket_count(); ++b) {
        for (auto* n = map.head(b); n; n = n->next) {
            EXPECT_EQ(ascommon::DefaultHash(n->key) % 4099, b);
            if (n->next == nullptr) {
                EXPECT_EQ(map.tail(b), n);
            }
            ++walked;
        }
    }
    EXPECT_EQ(walked, reference.size());
    host::FailAllocationNumber(2);  // the second bucket array fails: nothing changes
    EXPECT_EQ(map.rehash(64), -2);
    host::FailAllocationNumber(0);
    EXPECT_EQ(map.bucket_count(), 4099u);
    EXPECT_EQ(map.clear(), 0);
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.first(), nullptr);
}

TEST(CMapTest, ConstructorFailureFreesWhatItGot) {
    const auto before = host::Counters();
    host::FailAllocationNumber(2);
    EXPECT_THROW((CMap<uint64_t, uint32_t>()), std::bad_alloc);
    host::FailAllocationNumber(0);
    const auto after = host::Counters();
    EXPECT_EQ(after.allocations - before.allocations, after.frees - before.frees);
}
