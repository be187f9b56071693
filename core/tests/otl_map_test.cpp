#include "core/otl_map.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/tests/otl_tree_check.h"
#include "core/tests/test_alloc.h"

namespace {

using orvtest::CheckTree;
using IntMap = Otl::Map<unsigned int, int>;

template <class M>
std::vector<std::pair<unsigned, int>> Contents(const M& map) {
  std::vector<std::pair<unsigned, int>> out;
  for (auto it = map.begin(); it != map.end(); ++it) out.push_back({it->first, it->second});
  return out;
}

TEST(OtlMap, RandomOperationsMatchStdMap) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    IntMap map;
    std::map<unsigned, int> reference;
    for (int step = 0; step < 600; ++step) {
      const unsigned key = random() % 80;
      const int op = random() % 3;
      if (op < 2) {
        const int value = static_cast<int>(random());
        auto result = map.insert({key, value});
        auto expected = reference.insert({key, value});
        ASSERT_EQ(result.second, expected.second);
        ASSERT_FALSE(result.first == map.end());
        EXPECT_EQ(result.first->first, key);
        EXPECT_EQ(result.first->second, expected.first->second);
      } else {
        auto it = map.find(key);
        auto expected = reference.find(key);
        ASSERT_EQ(it == map.end(), expected == reference.end());
        if (expected != reference.end()) {
          auto next = map.erase(it);
          auto expectedNext = reference.erase(expected);
          if (expectedNext == reference.end()) {
            EXPECT_TRUE(next == map.end());
          } else {
            ASSERT_FALSE(next == map.end());
            EXPECT_EQ(next->first, expectedNext->first);
          }
        }
      }
      ASSERT_EQ(map.size(), reference.size());
      ASSERT_EQ(CheckTree(map), reference.size());
    }
    std::vector<std::pair<unsigned, int>> expected(reference.begin(), reference.end());
    EXPECT_EQ(Contents(map), expected);
    // Reverse iteration from the end reaches every node.
    size_t backwards = 0;
    for (auto it = map.end(); !(it == map.begin());) {
      --it;
      ++backwards;
    }
    EXPECT_EQ(backwards, reference.size());
  }
}

TEST(OtlMap, ExistingKeyIsRefusedAndReported) {
  IntMap map;
  auto first = map.insert({7, 70});
  ASSERT_TRUE(first.second);
  auto again = map.insert({7, 99});
  EXPECT_FALSE(again.second);
  EXPECT_TRUE(again.first == first.first);
  EXPECT_EQ(map.find(7)->second, 70);
  EXPECT_EQ(map.size(), 1u);
}

TEST(OtlMap, LowerBoundAndUnsignedOrder) {
  IntMap map;
  for (unsigned key : {0xFFFFFFFFu, 0u, 10u, 20u}) map.insert({key, 1});
  EXPECT_EQ(map.begin()->first, 0u);
  EXPECT_EQ(map.lower_bound(11)->first, 20u);
  EXPECT_EQ(map.lower_bound(20)->first, 20u);
  EXPECT_EQ(map.lower_bound(21)->first, 0xFFFFFFFFu);
  EXPECT_TRUE(map.find(15) == map.end());
  auto last = map.end();
  --last;
  EXPECT_EQ(last->first, 0xFFFFFFFFu);
}

TEST(OtlMap, ErasingLeftmostAndLastNode) {
  IntMap map;
  for (unsigned key : {5u, 3u, 8u}) map.insert({key, 0});
  auto next = map.erase(map.begin());
  EXPECT_EQ(next->first, 5u);
  EXPECT_EQ(map.begin()->first, 5u);
  map.erase(map.find(8));
  map.erase(map.begin());
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map._Header()->_Left, map._Header());
  EXPECT_EQ(map._Header()->_Right, map._Header());
  EXPECT_EQ(map._Root(), IntMap::_Nil);
  EXPECT_TRUE(map.begin() == map.end());
}

TEST(OtlMap, MapsOfOneTypeShareTheNilNode) {
  using M = Otl::Map<unsigned int, long>;  // a type no other test uses
  ASSERT_EQ(M::_Nil, nullptr);
  {
    auto* first = new M;
    auto* nil = M::_Nil;
    ASSERT_NE(nil, nullptr);
    EXPECT_EQ(M::_Nilrefs, 1u);
    {
      M second;
      EXPECT_EQ(M::_Nil, nil);
      EXPECT_EQ(M::_Nilrefs, 2u);
      second.insert({1, 1});
      delete first;  // the first goes; the nil node stays for the second
      EXPECT_EQ(M::_Nil, nil);
      EXPECT_EQ(M::_Nilrefs, 1u);
      EXPECT_EQ(second.find(1)->second, 1);
    }
  }
  EXPECT_EQ(M::_Nil, nullptr);
  EXPECT_EQ(M::_Nilrefs, 0u);
}

using FailMap = Otl::Map<unsigned int, int, TestAlloc<int>>;

TEST(OtlMap, FailedNodeAllocationLeavesTreeUnchanged) {
  TestAllocState::Reset();
  {
    FailMap map;
    for (unsigned key = 0; key < 10; ++key) ASSERT_TRUE(map.insert({key, 1}).second);
    TestAllocState::FailNext(1);
    auto result = map.insert({100, 2});
    EXPECT_FALSE(result.second);
    EXPECT_TRUE(result.first == map.end());
    EXPECT_EQ(map.size(), 10u);
    EXPECT_EQ(CheckTree(map), 10u);
    EXPECT_TRUE(map.find(100) == map.end());
  }
  EXPECT_EQ(TestAllocState::allocations - 1, TestAllocState::frees);  // every node freed
}

TEST(OtlMap, FailedHeaderAllocationGivesAnUnusableEmptyMap) {
  TestAllocState::Reset();
  {
    // Allocations: candidate nil node, then the header.
    TestAllocState::FailNext(2);
    FailMap map;
    EXPECT_FALSE(map.ok());
    EXPECT_EQ(map.size(), 0u);
    EXPECT_TRUE(map.begin() == map.end());
    EXPECT_FALSE(map.insert({1, 1}).second);
    EXPECT_TRUE(map.find(1) == map.end());
    EXPECT_EQ(FailMap::_Nil, nullptr);  // the reference was dropped again
  }
  EXPECT_EQ(TestAllocState::allocations - 1, TestAllocState::frees);
}

TEST(OtlMap, StringKeysCompareByPointer) {
  Otl::Map<const char*, int> map;
  static const char text[] = "ab";
  map.insert({text + 1, 2});
  map.insert({text, 1});
  EXPECT_EQ(map.begin()->first, text);
}

}  // namespace
