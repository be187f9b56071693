// Board-wide objects of the 2D layer (the descriptor list, the 2D context):
// the first device object of a board makes the object, every device object
// points at it, the last one deletes it. An object names an owning device,
// which must stay a live one. And the walk over a board's device objects.
#pragma once

#include "core/pdev.h"

template <class T>
bool ShareBoardObject(PDEV* pdev, T*& board, T*& mine) {
  if (pdev->IsFirstForBoard()) board = new T(pdev);
  mine = board;
  return mine != nullptr;
}

template <class T>
void ReleaseBoardObject(PDEV* pdev, T*& board, T*& mine) {
  if (pdev->IsFirstForBoard()) {
    delete board;
    board = nullptr;
  } else if (board != nullptr && board->owner == pdev) {
    board->owner = pdev->next;
  }
  mine = nullptr;
}

// Every device object of the board of `any`, the ring's head first.
template <class Visit>
void ForEachDeviceOfBoard(PDEV* any, Visit visit) {
  if (any == nullptr || any->common == nullptr || any->common->ringHead == nullptr) return;
  PDEV* head = any->common->ringHead;
  PDEV* pdev = head;
  do {
    visit(pdev);
    pdev = pdev->next;
  } while (pdev != nullptr && pdev != head);
}
