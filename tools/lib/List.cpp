#include "tools/lib/List.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

PrivateList* NewNode(const void* payload, size_t size, PrivateListDestructor destructor) {
  auto* node = static_cast<PrivateList*>(std::malloc(sizeof(PrivateList) + size));
  if (node == nullptr) throw std::bad_alloc();
  node->destructor = destructor != nullptr ? destructor : DefaultDestructor;
  node->next = nullptr;
  node->prev = nullptr;
  if (size != 0) std::memcpy(node->Payload(), payload, size);
  return node;
}

}  // namespace

void DefaultDestructor(PrivateList* node) { std::free(node); }

PrivateList* PrivateListAppend(PrivateList* head, const void* payload, size_t size,
                               PrivateListDestructor destructor) {
  PrivateList* node = NewNode(payload, size, destructor);
  if (head == nullptr) return node;
  PrivateList* tail = head;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = node;
  node->prev = tail;
  return head;
}

PrivateList* PrivateListInsertFirst(PrivateList* head, const void* payload, size_t size,
                                    PrivateListDestructor destructor) {
  PrivateList* node = NewNode(payload, size, destructor);
  node->next = head;
  if (head != nullptr) head->prev = node;
  return node;
}

PrivateList* PrivateListFind(PrivateList* head, const void* key, int keyNumber,
                             PrivateListCompare compare) {
  for (PrivateList* node = head; node != nullptr; node = node->next) {
    if (compare(node->Payload(), key, keyNumber) != 0) return node;
  }
  return nullptr;
}

PrivateList* PrivateRemoveElemList(PrivateList* head, PrivateList* node) {
  if (node == nullptr) return head;
  if (node->prev != nullptr) node->prev->next = node->next;
  if (node->next != nullptr) node->next->prev = node->prev;
  if (node == head) head = node->next;
  std::free(node);
  return head;
}

void PrivateDeleteList(PrivateList* head) {
  while (head != nullptr) {
    PrivateList* next = head->next;
    head->destructor(head);
    head = next;
  }
}

PrivateListTail::PrivateListTail(PrivateList** head) : head_(head), tail_(*head) {
  while (tail_ != nullptr && tail_->next != nullptr) tail_ = tail_->next;
}

void PrivateListTail::Append(const void* payload, size_t size, PrivateListDestructor destructor) {
  if (tail_ == nullptr) {
    *head_ = tail_ = PrivateListAppend(nullptr, payload, size, destructor);
    return;
  }
  // From the tail, the append walks no further.
  PrivateListAppend(tail_, payload, size, destructor);
  tail_ = tail_->next;
}
