// Board-wide objects of the 2D layer (the descriptor list, the 2D context):
// the first device object of a board makes the object, every device object
// points at it, the last one deletes it. An object names an owning device,
// which must stay a live one.
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
