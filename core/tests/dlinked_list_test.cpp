#include "core/dlinked_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/tests/test_alloc.h"

namespace {

using List = DLinkedList<int, TestAlloc<int>>;

void InsertValue(List& list, List::Position position, int value) {
  ASSERT_TRUE(list.Insert(position));
  *list.GetCurrent() = value;
}

// Walks from the head and restores nothing: the cursor ends past the tail.
std::vector<int> Contents(List& list) {
  std::vector<int> out;
  for (int* p = list.First(); p != nullptr; p = list.Next()) out.push_back(*p);
  return out;
}

TEST(DLinkedList, InsertPositions) {
  List list;
  InsertValue(list, List::kTail, 2);        // only node
  InsertValue(list, List::kHead, 1);        // before the head
  InsertValue(list, List::kTail, 4);        // after the tail
  list.First();
  list.Next();                              // current: 2
  InsertValue(list, List::kAfterCurrent, 3);
  EXPECT_EQ(*list.GetCurrent(), 3);
  InsertValue(list, List::kAfterCurrent, 35);  // current was not the tail
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 2, 3, 35, 4}));
  EXPECT_EQ(list.Size(), 5u);
}

TEST(DLinkedList, InsertAfterTheTailCurrentMovesTheTail) {
  List list;
  InsertValue(list, List::kTail, 1);
  InsertValue(list, List::kAfterCurrent, 2);  // current is the tail
  InsertValue(list, List::kTail, 3);
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 2, 3}));
}

TEST(DLinkedList, NextPastTheTailThenInsertAfterHead) {
  List list;
  InsertValue(list, List::kTail, 1);
  InsertValue(list, List::kTail, 2);
  EXPECT_EQ(list.Next(), nullptr);          // current was the tail
  EXPECT_EQ(list.GetCurrent(), nullptr);
  EXPECT_EQ(list.Next(), nullptr);          // nothing without a current node
  InsertValue(list, List::kAfterCurrent, 9);  // the head became current first
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 9, 2}));
}

TEST(DLinkedList, RemoveCurrentCases) {
  List list;
  for (int v : {1, 2, 3}) InsertValue(list, List::kTail, v);
  // The tail: the previous node becomes the tail, no current node is left.
  EXPECT_EQ(list.RemoveCurrent(), 1);
  EXPECT_EQ(list.GetCurrent(), nullptr);
  EXPECT_EQ(list.RemoveCurrent(), 0);
  InsertValue(list, List::kTail, 4);  // lands after the new tail
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 2, 4}));
  // The head: its next node becomes current and head.
  list.First();
  EXPECT_EQ(list.RemoveCurrent(), 1);
  EXPECT_EQ(*list.GetCurrent(), 2);
  InsertValue(list, List::kHead, 0);
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 2, 4}));
  // A middle node: its neighbours are joined.
  list.First();
  list.Next();
  EXPECT_EQ(list.RemoveCurrent(), 1);
  EXPECT_EQ(*list.GetCurrent(), 4);
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 4}));
  EXPECT_EQ(list.Size(), 2u);
  // The last node: the list is empty and usable again.
  list.First();
  list.RemoveCurrent();
  list.RemoveCurrent();
  EXPECT_EQ(list.Size(), 0u);
  InsertValue(list, List::kAfterCurrent, 7);
  EXPECT_EQ(Contents(list), (std::vector<int>{7}));
}

TEST(DLinkedList, FailedInsertLeavesTheListAlone) {
  TestAllocState::Reset();
  {
    List list;
    InsertValue(list, List::kTail, 1);
    TestAllocState::FailNext(1);
    EXPECT_FALSE(list.Insert(List::kTail));
    EXPECT_EQ(list.Size(), 1u);
    EXPECT_EQ(*list.GetCurrent(), 1);
    InsertValue(list, List::kTail, 2);
    EXPECT_EQ(Contents(list), (std::vector<int>{1, 2}));
  }
  // The destructor freed every node.
  EXPECT_EQ(TestAllocState::allocations - 1, TestAllocState::frees);
}

TEST(DLinkedList, RemoveAllEmptiesTheList) {
  List list;
  for (int v : {1, 2, 3}) InsertValue(list, List::kTail, v);
  list.RemoveAll();
  EXPECT_EQ(list.Size(), 0u);
  EXPECT_EQ(list.GetCurrent(), nullptr);
  EXPECT_EQ(list.First(), nullptr);
}

}  // namespace
