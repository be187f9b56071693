#include "core/otl_vector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/tests/test_alloc.h"

namespace {

using IntVector = Otl::Vector<int, TestAlloc<int>>;

std::vector<int> Contents(const IntVector& v) { return std::vector<int>(v.begin(), v.end()); }

void Fill(IntVector& v, int count) {
  for (int i = 0; i < count; ++i) ASSERT_EQ(v.Insert(v.end(), 1, i), 1);
}

TEST(OtlVector, GrowthRule) {
  struct Case {
    const char* name;
    int fullSize;  // elements appended one at a time (then the vector is made full)
    size_t insert;
    size_t capacity;
  };
  const Case cases[] = {
      {"one into a full 10", 10, 1, 20},
      {"fifteen into a full 10", 10, 15, 25},
      {"ten into a full 10", 10, 10, 20},
      {"seven into an empty vector", 0, 7, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IntVector v;
    if (c.fullSize > 0) {
      ASSERT_EQ(v.Insert(v.end(), static_cast<size_t>(c.fullSize), 0), 1);
      ASSERT_EQ(v.capacity(), static_cast<size_t>(c.fullSize));
    }
    ASSERT_EQ(v.Insert(v.end(), c.insert, 9), 1);
    EXPECT_EQ(v.capacity(), c.capacity);
    EXPECT_EQ(v.size(), c.fullSize + c.insert);
  }
}

TEST(OtlVector, AppendingDoublesFromOne) {
  IntVector v;
  std::vector<size_t> capacities;
  for (int i = 0; i < 9; ++i) {
    v.Insert(v.end(), 1, i);
    capacities.push_back(v.capacity());
  }
  EXPECT_EQ(capacities, (std::vector<size_t>{1, 2, 4, 4, 8, 8, 8, 8, 16}));
}

// Inserting anywhere, with and without room, against std::vector.
TEST(OtlVector, InsertMatchesReference) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    IntVector v;
    std::vector<int> reference;
    // Leave spare room on some rounds so both in-place branches run.
    const int start = static_cast<int>(random() % 12);
    Fill(v, start);
    for (int i = 0; i < start; ++i) reference.push_back(i);
    const size_t position = random() % (v.size() + 1);
    const size_t count = random() % 8;
    const int value = 100 + round;
    SCOPED_TRACE("size " + std::to_string(start) + " capacity " + std::to_string(v.capacity()) +
                 " position " + std::to_string(position) + " count " + std::to_string(count));
    ASSERT_EQ(v.Insert(v.begin() + position, count, value), 1);
    reference.insert(reference.begin() + static_cast<long>(position), count, value);
    ASSERT_EQ(Contents(v), reference);
  }
}

TEST(OtlVector, InsertingAnElementOfItselfCopiesTheValue) {
  IntVector v;
  Fill(v, 4);  // capacity 4, full
  ASSERT_EQ(v.Insert(v.begin(), 3, v[3]), 1);  // grows: old storage is freed
  EXPECT_EQ(Contents(v), (std::vector<int>{3, 3, 3, 0, 1, 2, 3}));
  ASSERT_EQ(v.Insert(v.begin(), 1, v[6]), 1);  // in place
  EXPECT_EQ(Contents(v), (std::vector<int>{3, 3, 3, 3, 0, 1, 2, 3}));
}

TEST(OtlVector, FailedGrowthChangesNothing) {
  TestAllocState::Reset();
  IntVector v;
  Fill(v, 4);
  int* first = v.begin();
  int* last = v.end();
  const size_t capacity = v.capacity();
  TestAllocState::FailNext(1);
  EXPECT_EQ(v.Insert(v.begin() + 1, 1, 42), 0);
  EXPECT_EQ(v.begin(), first);
  EXPECT_EQ(v.end(), last);
  EXPECT_EQ(v.capacity(), capacity);
  EXPECT_EQ(Contents(v), (std::vector<int>{0, 1, 2, 3}));
}

// Reserving grows the storage as inserting the missing elements at the end
// would, keeps the contents and constructs nothing; enough room, or a
// failed allocation, changes nothing.
TEST(OtlVector, ReserveGrowsAsAnInsertWouldAndKeepsTheContents) {
  struct Case {
    const char* name;
    int size;  // elements appended one at a time first
    size_t reserve;
    size_t capacity;
  };
  const Case cases[] = {
      {"256 in an empty vector", 0, 256, 256},
      {"room already there", 3, 4, 4},
      {"one more than a full 8", 8, 9, 16},
      {"far more than a full 8", 8, 30, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IntVector v;
    Fill(v, c.size);
    const std::vector<int> before = Contents(v);
    IntVector reference;
    Fill(reference, c.size);
    if (c.reserve > reference.size()) {
      ASSERT_EQ(reference.Insert(reference.end(), c.reserve - reference.size(), 0), 1);
    }
    ASSERT_EQ(v.Reserve(c.reserve), 1);
    EXPECT_EQ(v.capacity(), c.capacity);
    EXPECT_EQ(v.capacity(), std::max(reference.capacity(), c.reserve));
    EXPECT_EQ(Contents(v), before);
  }
  TestAllocState::Reset();
  IntVector v;
  Fill(v, 4);
  int* first = v.begin();
  TestAllocState::FailNext(1);
  EXPECT_EQ(v.Reserve(5), 0);
  EXPECT_EQ(v.begin(), first);
  EXPECT_EQ(v.capacity(), 4u);
  EXPECT_EQ(Contents(v), (std::vector<int>{0, 1, 2, 3}));
  Otl::Vector<std::string> strings;
  ASSERT_EQ(strings.Insert(strings.end(), 2, std::string(40, 'x')), 1);
  ASSERT_EQ(strings.Reserve(64), 1);
  EXPECT_EQ(strings.size(), 2u);
  EXPECT_EQ(strings[1], std::string(40, 'x'));
}

// A count whose byte size wraps past SIZE_MAX must not turn into a small
// block that the copies then overrun.
TEST(OtlVector, CountsBeyondTheAddressSpaceAreRefused) {
  const size_t wrapping = SIZE_MAX / sizeof(int) + 2;  // 4 bytes once wrapped
  EXPECT_EQ(Otl::allocator<int>::allocate(wrapping), nullptr);

  struct Case {
    const char* name;
    int size;
    size_t count;
  };
  const Case cases[] = {
      {"empty vector", 0, wrapping},
      {"count wraps with the size", 10, SIZE_MAX / sizeof(int) - 5},
      {"count beyond the limit", 10, SIZE_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestAllocState::Reset();
    IntVector v;
    Fill(v, c.size);
    int* first = v.begin();
    const size_t capacity = v.capacity();
    EXPECT_EQ(v.Insert(v.end(), c.count, 1), 0);
    EXPECT_EQ(v.begin(), first);
    EXPECT_EQ(v.size(), static_cast<size_t>(c.size));
    EXPECT_EQ(v.capacity(), capacity);
  }
}

TEST(OtlVector, EraseRangeKeepsStorage) {
  IntVector v;
  Fill(v, 8);
  int* result = v.erase(v.begin() + 2, v.begin() + 5);
  EXPECT_EQ(result, v.begin() + 2);
  EXPECT_EQ(Contents(v), (std::vector<int>{0, 1, 5, 6, 7}));
  v.erase(v.begin() + 1, v.begin() + 1);
  EXPECT_EQ(v.size(), 5u);
  TestAllocState::Reset();
  v.erase(v.begin(), v.end());
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(v.capacity(), 8u);
  Fill(v, 8);
  EXPECT_EQ(TestAllocState::allocations, 0u);
}

TEST(OtlVector, ErasingOnePositionMovesTheRestDownAndKeepsStorage) {
  IntVector v;
  Fill(v, 6);
  int* const storage = v.begin();
  EXPECT_EQ(v.erase(v.begin() + 2), v.begin() + 2);
  EXPECT_EQ(Contents(v), (std::vector<int>{0, 1, 3, 4, 5}));
  int* const last = v.end() - 1;
  EXPECT_EQ(v.erase(last), last);  // the last only steps back
  EXPECT_EQ(v.end(), last);
  EXPECT_EQ(Contents(v), (std::vector<int>{0, 1, 3, 4}));
  while (!v.empty()) v.erase(v.begin());
  EXPECT_EQ(v.capacity(), 8u);
  EXPECT_EQ(v.begin(), storage);
}

// Elements with owned state are constructed and destroyed exactly once.
TEST(OtlVector, ElementsWithResourcesAreCopiedAndDestroyed) {
  Otl::Vector<std::string> v;
  const std::string longText(40, 'x');  // beyond the small-string buffer
  for (int i = 0; i < 5; ++i) v.Insert(v.end(), 1, longText + std::to_string(i));
  v.Insert(v.begin() + 1, 2, std::string("mid") + longText);
  v.erase(v.begin(), v.begin() + 2);
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[0], "mid" + longText);
  EXPECT_EQ(v[4], longText + "4");
}

}  // namespace
