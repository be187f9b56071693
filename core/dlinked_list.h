// Doubly linked list with a cursor. Insert makes the new node current and
// leaves its payload for the caller to fill through GetCurrent.
#pragma once

#include <stdint.h>

#include <new>

#include "core/otl_base.h"

template <class T, class Alloc = Otl::allocator<T>>
class DLinkedList {
 public:
  enum Position : uint32_t {
    kHead = 0,           // before the head
    kAfterCurrent = 1,   // after the current node
    kTail = 2,           // after the tail
  };

  DLinkedList() = default;
  ~DLinkedList() { RemoveAll(); }
  DLinkedList(const DLinkedList&) = delete;
  DLinkedList& operator=(const DLinkedList&) = delete;

  // False when no node could be allocated; the list is then unchanged.
  bool Insert(Position position) {
    Node* node = NodeAlloc::allocate(1);
    if (node == nullptr) return false;
    new (node) Node();
    if (current_ == nullptr) current_ = head_;
    if (head_ == nullptr) {
      head_ = tail_ = node;
    } else if (position == kHead) {
      node->next = head_;
      head_->prev = node;
      head_ = node;
    } else if (position == kAfterCurrent) {
      node->prev = current_;
      node->next = current_->next;
      if (current_->next != nullptr) current_->next->prev = node;
      current_->next = node;
      if (current_ == tail_) tail_ = node;
    } else {
      node->prev = tail_;
      tail_->next = node;
      tail_ = node;
    }
    current_ = node;
    ++count_;
    return true;
  }

  T* GetCurrent() { return current_ != nullptr ? &current_->payload : nullptr; }

  // Moves the cursor on; null (and no current node) past the tail.
  T* Next() {
    if (current_ == nullptr) return nullptr;
    current_ = current_->next;
    return GetCurrent();
  }

  // Removes the current node; its next node becomes current. 0 without one.
  int RemoveCurrent() {
    Node* node = current_;
    if (node == nullptr) return 0;
    if (node->prev != nullptr) node->prev->next = node->next;
    if (node->next != nullptr) node->next->prev = node->prev;
    if (node == head_) head_ = node->next;
    if (node == tail_) tail_ = node->prev;
    current_ = node->next;
    node->~Node();
    NodeAlloc::deallocate(node);
    --count_;
    return 1;
  }

  uint32_t Size() const { return count_; }

  void RemoveAll() {
    for (Node* node = head_; node != nullptr;) {
      Node* next = node->next;
      node->~Node();
      NodeAlloc::deallocate(node);
      node = next;
    }
    head_ = tail_ = current_ = nullptr;
    count_ = 0;
  }

  // Moves the cursor to the head; null when empty.
  T* First() {
    current_ = head_;
    return GetCurrent();
  }

 private:
  struct Node {
    Node* next = nullptr;
    Node* prev = nullptr;
    T payload{};
  };
  using NodeAlloc = typename Alloc::template rebind<Node>;

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  Node* current_ = nullptr;
  uint32_t count_ = 0;
};
