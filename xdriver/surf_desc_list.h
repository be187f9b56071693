// The board's ring of the engine's two bindable surface descriptors (0 and
// 1; descriptor 3 is the scratch descriptor the transfers load themselves),
// and component-table row 12.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"

class DeviceBitmap;
class PDEV;

class SurfDesc2dList : public OsHeapObject {
 public:
  explicit SurfDesc2dList(PDEV* owner);
  SurfDesc2dList(const SurfDesc2dList&) = delete;
  SurfDesc2dList& operator=(const SurfDesc2dList&) = delete;

  // Binds b to the current node's descriptor with a sync packet (a new
  // tag) and the descriptor packet, taking the node from the bitmap bound
  // there; the node after it becomes current. A temporary binding loads the
  // descriptor as linear (layout 2, b's format code) and answers 0;
  // otherwise b keeps the descriptor word, which is the answer.
  uint32_t AssignCurrentSurfDescTo(DeviceBitmap* b, bool temporary);
  // Empties the nodes holding b (or every node), clearing the bitmaps'
  // binding flags.
  void UnassignSurfDescFrom(DeviceBitmap* b);
  void UnassignAll();

  struct Node {
    DeviceBitmap* bitmap;
    Node* next;
    uint32_t word;    // descriptor index << 10, as the control word takes it
    uint32_t header;  // the packet header that loads the descriptor
  };

  PDEV* owner;
  Node* current;
  Node nodes[2];

 private:
  // b loses the binding of node n; the block takes `tag` (0: keeps its tag)
  // as the point after which the engine no longer uses it, unless b is
  // still bound at the other node.
  void Release(Node* n, uint32_t tag);
};

// Binds b for drawing: the descriptor it holds, else the list's second node
// (the first when the second holds b) takes it. The descriptor's words go
// into the 2D state shadow, marked dirty, and b's host copy is no longer
// valid. Answers the descriptor word (index << 10).
uint32_t Bind2dDescriptor(PDEV* pdev, DeviceBitmap* b);

// Row 12: the first device object of the board creates the list.
bool InitSurfDesc2dList(PDEV* pdev);
void CleanupSurfDesc2dList(PDEV* pdev);
