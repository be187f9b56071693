// The red-black and header invariants of an Otl map, checked node by node
// (for the map tests of both builds).
#pragma once

#include <gtest/gtest.h>

#include <stddef.h>

#include <functional>

namespace orvtest {

// Checks the red-black and header invariants and answers the node count.
template <class M>
size_t CheckTree(const M& map) {
  using Node = typename M::_Node;
  using Key = unsigned int;
  Node* nil = M::_Nil;
  Node* head = map._Header();
  EXPECT_EQ(head->_Color, M::_Red);
  Node* root = map._Root();
  if (root == nil) {
    EXPECT_EQ(head->_Left, head);
    EXPECT_EQ(head->_Right, head);
    return 0;
  }
  EXPECT_EQ(root->_Color, M::_Black);
  EXPECT_EQ(root->_Parent, head);
  size_t count = 0;
  // Returns the black height of the subtree; checks order, links and colours.
  std::function<int(Node*, const Key*, const Key*)> check =
      [&](Node* node, const Key* low, const Key* high) -> int {
    if (node == nil) return 1;
    ++count;
    const Key key = node->_Value().first;
    if (low) {
      EXPECT_LT(*low, key);
    }
    if (high) {
      EXPECT_LT(key, *high);
    }
    if (node->_Left != nil) {
      EXPECT_EQ(node->_Left->_Parent, node);
    }
    if (node->_Right != nil) {
      EXPECT_EQ(node->_Right->_Parent, node);
    }
    if (node->_Color == M::_Red) {
      EXPECT_EQ(node->_Left->_Color, M::_Black) << "red node " << key << " has a red child";
      EXPECT_EQ(node->_Right->_Color, M::_Black) << "red node " << key << " has a red child";
    }
    const int left = check(node->_Left, low, &key);
    const int right = check(node->_Right, &key, high);
    EXPECT_EQ(left, right) << "black heights differ below " << key;
    return left + (node->_Color == M::_Black ? 1 : 0);
  };
  check(root, nullptr, nullptr);
  Node* leftmost = root;
  while (leftmost->_Left != nil) leftmost = leftmost->_Left;
  Node* rightmost = root;
  while (rightmost->_Right != nil) rightmost = rightmost->_Right;
  EXPECT_EQ(head->_Left, leftmost);
  EXPECT_EQ(head->_Right, rightmost);
  EXPECT_EQ(nil->_Color, M::_Black);
  return count;
}

}  // namespace orvtest
