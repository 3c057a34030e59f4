// The hash index the list, the name registry and the run find names with.
#include "engine/flat_hash_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morix {
namespace {

// Keys whose hashes all fall on the table's last slot wrap around to its
// first ones, and are all found there; so are keys that share their stored
// hash bits with others.
TEST(FlatHashIndex, CollidingKeysWrapAroundTheTable) {
    std::vector<std::string> keys;
    for (int i = 0; i < 11; ++i)
        keys.push_back("key" + std::to_string(i));
    const auto hashOf = [](std::size_t k) -> std::uint64_t {
        return k < 6 ? 0xFFFFFFFFu : (std::uint64_t{k} << 32) | 0x12345678u;
    };
    FlatHashIndex index;
    index.Reserve(keys.size());  // 16 slots: these keys fill more than half
    for (std::uint32_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ(index.Insert(hashOf(k), k, [&](std::uint32_t o) { return keys[o] == keys[k]; }),
                  k);
    }
    for (std::uint32_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ(index.Find(hashOf(k), [&](std::uint32_t o) { return keys[o] == keys[k]; }), k);
        // A key already there keeps its id.
        EXPECT_EQ(index.Insert(hashOf(k), 99, [&](std::uint32_t o) { return keys[o] == keys[k]; }),
                  k);
    }
    EXPECT_EQ(index.Find(0xFFFFFFFFu, [](std::uint32_t) { return false; }), FlatHashIndex::kNone);
    EXPECT_EQ(index.Size(), keys.size());
}

// An index that grows from empty through many sizes, and one reserved for
// all its keys at once, find every key and no other.
TEST(FlatHashIndex, EveryKeyIsFoundAfterGrowingOrReserving) {
    constexpr std::uint32_t kKeys = 100000;
    std::vector<std::string> keys;
    for (std::uint32_t k = 0; k < kKeys; ++k)
        keys.push_back("/photos/" + std::to_string(k * 7919u));
    for (const bool reserve : {false, true}) {
        FlatHashIndex index;
        if (reserve) index.Reserve(kKeys);
        for (std::uint32_t k = 0; k < kKeys; ++k) {
            ASSERT_EQ(index.Insert(HashBytes(keys[k]), k,
                                   [&](std::uint32_t o) { return keys[o] == keys[k]; }),
                      k);
        }
        for (std::uint32_t k = 0; k < kKeys; ++k) {
            ASSERT_EQ(
                index.Find(HashBytes(keys[k]), [&](std::uint32_t o) { return keys[o] == keys[k]; }),
                k);
        }
        const std::string absent = "/photos/absent";
        EXPECT_EQ(index.Find(HashBytes(absent), [&](std::uint32_t o) { return keys[o] == absent; }),
                  FlatHashIndex::kNone);
        index.Clear();
        EXPECT_EQ(
            index.Find(HashBytes(keys[5]), [&](std::uint32_t o) { return keys[o] == keys[5]; }),
            FlatHashIndex::kNone);
    }
}

}  // namespace
}  // namespace morix
