#pragma once

#include <cstddef>

// Doubly linked list whose nodes carry a byte copy of the caller's record.
struct PrivateList;
using PrivateListDestructor = void (*)(PrivateList* node);
using PrivateListCompare = int (*)(const void* payload, const void* key, int keyNumber);

struct PrivateList {
  PrivateListDestructor destructor;
  PrivateList* next;
  PrivateList* prev;
  // The payload follows the three link words in the same block.
  void* Payload() { return this + 1; }
  const void* Payload() const { return this + 1; }
};

void DefaultDestructor(PrivateList* node);

PrivateList* PrivateListAppend(PrivateList* head, const void* payload, size_t size,
                               PrivateListDestructor destructor);
PrivateList* PrivateListInsertFirst(PrivateList* head, const void* payload, size_t size,
                                    PrivateListDestructor destructor);
PrivateList* PrivateListFind(PrivateList* head, const void* key, int keyNumber,
                             PrivateListCompare compare);
// Unlinks and frees the node (without calling its destructor); returns the
// list's first node afterwards.
PrivateList* PrivateRemoveElemList(PrivateList* head, PrivateList* node);
void PrivateDeleteList(PrivateList* head);

// Appends to a list at a remembered tail, in constant time, for loops that
// add many records; the tail is found once, when the object is made, and
// nothing else may change the list's end meanwhile.
class PrivateListTail {
 public:
  explicit PrivateListTail(PrivateList** head);
  void Append(const void* payload, size_t size, PrivateListDestructor destructor);

 private:
  PrivateList** head_;
  PrivateList* tail_;
};
