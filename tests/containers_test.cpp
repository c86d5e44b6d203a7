// CArray and CMap: growth and its failures, copies of class elements, chain order, rehashing
// against a std::map, and the default hashes.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>

#include "common/asexception.h"
#include "common/carray.h"
#include "common/cmap.h"
#include "common/status.h"
#include "host/host_hooks.h"

using ascommon::CArray;
using ascommon::CMap;
using ascommon::kKeyPresent;
using ascommon::kNoBuffer;
using ascommon::sstring;

namespace {

// The keys of chain b from the head, flagged when the tail is not the chain's last node.
std::string Chain(const CMap<sstring, int>& map, uint32_t b) {
    std::string keys;
    const void* last = nullptr;
    for (auto* n = map.head(b); n; n = n->next) {
        keys += n->key.c_str();
        last = n;
    }
    return map.tail(b) == last ? keys : keys + " (tail is not the last node)";
}

}  // namespace

// Capacity is the next multiple of the step above count + 1: 63 elements fit 64, the 64th grows;
// resize never shrinks the count and zeroes new plain elements; failed growth changes nothing.
TEST(CArrayTest, GrowthResizeAndFailedGrowth) {
    CArray<uint64_t, 64> array;
    EXPECT_THROW(array.at(0), ascommon::InvalidIndexException);
    for (uint64_t i = 1; i <= 64; ++i)
        EXPECT_TRUE(array.add(i) == 0 && array.capacity() == (i < 64 ? 64u : 128u)) << i;
    EXPECT_EQ(array.at(63), 64u);
    // clang-format off
    EXPECT_EQ(array.resize(100, true), 0); EXPECT_EQ(array.resize(10, true), 0);
    // clang-format on
    EXPECT_TRUE(array.size() == 100 && array.at(99) == 0);
    EXPECT_THROW(array.at(100), ascommon::InvalidIndexException);
    for (uint64_t i = array.size(); i < 127; ++i) array.add(i);
    // clang-format off
    host::FailAllocationNumber(1); EXPECT_EQ(array.add(1), kNoBuffer); host::FailAllocationNumber(0);
    // clang-format on
    EXPECT_EQ(array.size() + array.capacity() + array.at(126), 127u + 128u + 126u);
    EXPECT_EQ(array.resize(UINT64_MAX / 4, false), kNoBuffer);  // byte size would overflow
}

// String elements and keys are copied (and released with the container); a copy that cannot get
// its buffer fails the call like storage that cannot grow, and the container keeps what it held.
TEST(ContainersTest, ClassElementsAndFailedCopies) {
    auto text = [](int i) { return sstring((std::string(24, 'e') + std::to_string(i)).c_str()); };
    CArray<sstring, 64> array;
    for (int i = 0; i < 63; ++i) ASSERT_EQ(array.add(text(i)), 0);
    const sstring element = text(63);
    for (uint64_t fail : {1, 2, 40, 65}) {  // storage, copies of the 63, the new element
        // clang-format off
        host::FailAllocationNumber(fail); EXPECT_EQ(array.add(element), kNoBuffer) << fail; host::FailAllocationNumber(0);
        // clang-format on
        EXPECT_EQ(array.size(), 63u) << fail;
        for (int i = 0; i < 63; ++i) EXPECT_EQ(array.at(i), text(i)) << fail;
    }
    for (int i = 63; i < 200; ++i) ASSERT_EQ(array.add(text(i)), 0);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(array.at(i), text(i));
    CMap<sstring, int> map;
    // clang-format off
    host::FailAllocationNumber(2);  // the node is had, its key copy is not
    EXPECT_EQ(map.insert(element, 1), kNoBuffer); host::FailAllocationNumber(0);
    EXPECT_TRUE(map.size() == 0 && map.insert(element, 1) == 0);
    host::FailAllocationNumber(2);  // a constructor's second block: the first is given back
    EXPECT_THROW((CMap<uint64_t, uint32_t>()), std::bad_alloc); host::FailAllocationNumber(0);
    // clang-format on
}

// Ordered chains keep ascending keys, unordered ones insertion order, also through a rehash;
// removing the head, the tail or the only node of a chain relinks it. The first value of a key
// stays.
TEST(CMapTest, InsertRemoveAndChainOrder) {
    const auto oneBucket = [](const sstring&) -> uint32_t { return 3; };
    CMap<sstring, int> ordered(oneBucket), unordered(oneBucket);
    ordered.set_ordered(true);
    EXPECT_EQ(ordered.bucket_count(), 32u);
    for (const char* key : {"b", "a", "c"})
        ASSERT_TRUE(ordered.insert(sstring(key), 1) == 0 &&
                    unordered.insert(sstring(key), *key) == 0);
    EXPECT_TRUE(unordered.insert(sstring("b"), 2) == kKeyPresent &&
                *unordered.lookup(sstring("b")) == 'b');
    EXPECT_TRUE(unordered.lookup(sstring("d")) == nullptr &&
                unordered.remove(sstring("d")) == ascommon::kKeyAbsent);
    EXPECT_EQ(Chain(ordered, 3) + ", " + Chain(unordered, 3), "abc, bac");
    ASSERT_TRUE(ordered.rehash(5) == 0 && unordered.rehash(5) == 0);  // new chains keep the order
    EXPECT_EQ(Chain(ordered, 3) + ", " + Chain(unordered, 3), "abc, bac");
    // clang-format off
    EXPECT_EQ(unordered.remove(sstring("b")), 0); EXPECT_EQ(unordered.remove(sstring("c")), 0);  // head, tail
    // clang-format on
    EXPECT_EQ(Chain(unordered, 3), "a");
    EXPECT_EQ(unordered.remove(sstring("a")), 0);  // the only node: head and tail are cleared
    EXPECT_TRUE(Chain(unordered, 3).empty() && unordered.size() == 0 &&
                unordered.first() == nullptr);
    // Eight key bytes, low first; the byte 0xFF enters sign-extended, then seven zero bytes.
    EXPECT_EQ(ascommon::DefaultHash(uint64_t{0xFF}),
              ((5381u * 33u) ^ 0xFFFFFFFFu) * 33u * 33u * 33u * 33u * 33u * 33u * 33u);
}

TEST(CMapTest, RehashKeepsEveryEntry) {
    CMap<uint64_t, uint32_t> map;
    std::map<uint64_t, uint32_t> reference;
    std::mt19937_64 random(42);
    for (uint32_t i = 0; i < 5000; ++i) {
        const uint64_t key = random();
        // clang-format off
        reference[key] = i; map.insert(key, i);
        // clang-format on
    }
    EXPECT_TRUE(map.rehash(0) == 0 && map.bucket_count() == 32);
    ASSERT_EQ(map.rehash(4099), 0);
    std::map<uint64_t, uint32_t> walked;  // each node once, in its own chain; each tail is last
    for (uint32_t b = 0; b < map.bucket_count(); ++b) {
        for (auto* n = map.head(b); n; n = n->next) {
            EXPECT_TRUE(walked.emplace(n->key, n->value).second) << "seen twice: " << n->key;
            EXPECT_TRUE(ascommon::DefaultHash(n->key) % 4099 == b && (n->next || map.tail(b) == n));
        }
    }
    EXPECT_EQ(walked, reference);
    host::FailAllocationNumber(2);  // the second bucket array fails: nothing changes
    EXPECT_EQ(map.rehash(64), kNoBuffer);
    host::FailAllocationNumber(0);
    EXPECT_EQ(map.bucket_count(), 4099u);
    EXPECT_TRUE(map.clear() == 0 && map.size() == 0 && map.first() == nullptr);
}
