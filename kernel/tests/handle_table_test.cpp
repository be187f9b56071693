// Handle tables: handles from 1, the hint to the lowest free one, growth by
// the step and then by doubling, and nothing changed when growth fails.
#include "kernel/handle_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

namespace {

struct Light {
  uint32_t words[26];
};

// A polymorphic kernel object, made and deleted through the glue.
struct Counted : OsHeapObject {
  static inline int destroyed = 0;
  int value = 0;
  virtual ~Counted() { ++destroyed; }
};

class HandleTables : public ::testing::Test {
 protected:
  orvsim::Simulation sim;
  kglue::Glue glue;
};

TEST_F(HandleTables, TheStepGivesTheFirstCapacityThenItDoubles) {
  HandleTable<Light> lights(64);
  Light* light = nullptr;
  EXPECT_EQ(lights.Allocate(&light), 1u);
  EXPECT_EQ(lights.Capacity(), 64u);
  for (uint32_t word : light->words) EXPECT_EQ(word, 0u);  // made zeroed
  EXPECT_EQ(lights.AllocateAt(63, nullptr), 63u);
  EXPECT_EQ(lights.Capacity(), 64u);
  EXPECT_EQ(lights.AllocateAt(64, nullptr), 64u);
  EXPECT_EQ(lights.Capacity(), 128u);
  Light* again = nullptr;
  EXPECT_EQ(lights.AllocateAt(1, &again), 1u);  // present: the same object
  EXPECT_EQ(again, light);
  EXPECT_EQ(lights.Count(), 3u);
  EXPECT_EQ(lights.AllocateAt(0, nullptr), 0u);
  HandleTable<Light> defaulted;  // step 0 means 64
  EXPECT_EQ(defaulted.Allocate(nullptr), 1u);
  EXPECT_EQ(defaulted.Capacity(), 64u);
}

TEST_F(HandleTables, AFreedHandleBelowTheHintIsTheNextOneGiven) {
  HandleTable<Light> lights(16);
  for (uint32_t i = 1; i <= 6; ++i) ASSERT_EQ(lights.Allocate(nullptr), i);
  EXPECT_EQ(lights.Hint(), 7u);
  lights.Free(3);
  EXPECT_EQ(lights.Hint(), 3u);
  EXPECT_EQ(lights.Allocate(nullptr), 3u);
  EXPECT_EQ(lights.Hint(), 7u);  // past every taken handle
  lights.Free(5);
  lights.Free(6);
  EXPECT_EQ(lights.Hint(), 5u);
}

TEST_F(HandleTables, InsertingAtATakenHandleKeepsTheFirstObject) {
  HandleTable<Counted> objects(8);
  auto* first = new Counted;
  auto* second = new Counted;
  EXPECT_EQ(objects.InsertAt(first, 4), 4u);
  EXPECT_EQ(objects.InsertAt(second, 4), 4u);
  EXPECT_EQ(objects.Get(4), first);
  EXPECT_EQ(objects.InsertAt(nullptr, 5), 0u);
  EXPECT_EQ(objects.InsertAt(second, 0), 0u);
  EXPECT_EQ(objects.Insert(second), 1u);  // at the hint
  EXPECT_EQ(objects.Count(), 2u);
  std::vector<uint32_t> seen;
  objects.ForEach([&](Counted*, void*, uint32_t handle, uint32_t capacity) {
    seen.push_back(handle);
    EXPECT_EQ(capacity, 8u);
  }, nullptr);
  EXPECT_EQ(seen, (std::vector<uint32_t>{1, 4}));
  objects.Detach(1);  // not deleted
  Counted::destroyed = 0;
  objects.FreeAll();
  EXPECT_EQ(Counted::destroyed, 1);  // through its virtual destructor
  delete second;
  EXPECT_EQ(objects.Count(), 0u);
}

TEST_F(HandleTables, AKeyIsStoredOnce) {
  KeyedHandleTable<Counted> tables(4);
  auto* first = new Counted;
  auto* duplicate = new Counted;
  EXPECT_EQ(tables.Insert(first, 1234), 1234u);
  EXPECT_EQ(tables.Insert(duplicate, 1234), 1234u);
  EXPECT_EQ(tables.Count(), 1u);
  EXPECT_EQ(tables.Find(1234), first);
  EXPECT_EQ(tables.Insert(duplicate, 0), 0u);
  for (uint32_t key = 1; key <= 6; ++key) ASSERT_EQ(tables.Insert(new Counted, key), key);
  EXPECT_EQ(tables.Capacity(), 8u);  // the keys grew with the slots
  EXPECT_EQ(tables.Find(1234), first);
  Counted::destroyed = 0;
  tables.RemoveByKey(1234);
  EXPECT_EQ(Counted::destroyed, 1);
  EXPECT_EQ(tables.Find(1234), nullptr);
  delete duplicate;
}

TEST_F(HandleTables, AFailedGrowthChangesNothing) {
  HandleTable<Light> lights(4);
  for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(lights.Allocate(nullptr), i);
  const size_t live = glue.LiveBlocks().size();
  glue.FailAllocation(1);
  EXPECT_EQ(lights.Allocate(nullptr), 0u);  // handle 4 needs capacity 8
  EXPECT_EQ(lights.Capacity(), 4u);
  EXPECT_EQ(lights.Count(), 3u);
  EXPECT_EQ(lights.Hint(), 4u);
  EXPECT_EQ(glue.LiveBlocks().size(), live);
  glue.FailAllocation(2);  // the object, after the growth
  EXPECT_EQ(lights.Allocate(nullptr), 0u);
  EXPECT_EQ(lights.Count(), 3u);

  KeyedHandleTable<Counted> tables(2);
  ASSERT_EQ(tables.Insert(new Counted, 1), 1u);
  glue.FailAllocation(2);  // the new key array
  auto* refused = new Counted;
  EXPECT_EQ(tables.Insert(refused, 2), 0u);
  EXPECT_EQ(tables.Capacity(), 2u);
  EXPECT_NE(tables.Find(1), nullptr);
  delete refused;
}

TEST_F(HandleTables, AHandleAboveTheLargestIsRefusedBeforeAnyAllocation) {
  HandleTable<Light> lights(64, 255);
  const uint64_t allocations = glue.AllocationCount();
  EXPECT_EQ(lights.AllocateAt(256, nullptr), 0u);
  EXPECT_EQ(lights.AllocateAt(0xFFFFFFFF, nullptr), 0u);
  EXPECT_EQ(lights.InsertAt(reinterpret_cast<Light*>(16), 1000), 0u);
  EXPECT_EQ(glue.AllocationCount(), allocations);
  EXPECT_EQ(lights.AllocateAt(255, nullptr), 255u);
  EXPECT_EQ(lights.Capacity(), 256u);
}

}  // namespace
