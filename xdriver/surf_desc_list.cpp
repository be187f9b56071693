#include "xdriver/surf_desc_list.h"

#include "core/bm_prim_int.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/board_object.h"
#include "xdriver/device_bitmap.h"
#include "xdriver/engine2d_state.h"

namespace {

// A bound bitmap's block is in use by the engine until it is unbound.
constexpr int32_t kBlockInUse = -1;

}  // namespace

SurfDesc2dList::SurfDesc2dList(PDEV* o) : owner(o) {
  for (unsigned i = 0; i < 2; ++i) {
    nodes[i].bitmap = nullptr;
    nodes[i].next = &nodes[(i + 1) % 2];
    nodes[i].word = Control2dDest::Word(i);
    nodes[i].header = DescriptorHeader(i);
  }
  current = &nodes[0];
}

void SurfDesc2dList::Release(Node* n, uint32_t tag) {
  DeviceBitmap* o = n->bitmap;
  n->bitmap = nullptr;
  if (o == nullptr) return;
  if (n->word == o->assignedWord) {
    o->flags &= ~kDevBitBound;
    o->assignedWord = kNoDescriptor;
  }
  if (n->word == 0) o->flags &= ~kDevBitBoundLinear;
  const bool elsewhere = nodes[0].bitmap == o || nodes[1].bitmap == o;
  if (tag != 0 && !elsewhere && o->block != nullptr) o->block->drawSyncTag = static_cast<int32_t>(tag);
}

uint32_t SurfDesc2dList::AssignCurrentSurfDescTo(DeviceBitmap* b, bool temporary) {
  Node* n = current;
  BmPrimInt* prim = owner->primInt;
  const uint32_t tag = Sync2dNewTag(owner->sharedLocked);
  Release(n, tag);
  n->bitmap = b;
  if (b->block != nullptr) b->block->drawSyncTag = kBlockInUse;

  uint32_t mode;
  uint32_t result;
  if (temporary) {
    mode = Mode2dFormat::Set(Mode2dLayout::Set(b->ModeWord(), k2dLayoutLinear), b->formatCode);
    b->flags |= kDevBitBoundLinear;
    result = 0;
  } else {
    b->flags |= kDevBitBound;
    b->assignedWord = n->word;
    mode = b->ModeWord();
    result = n->word;
  }

  // The sync and the descriptor go out as one batch.
  BmBatch batch(prim);
  if (uint32_t* at = batch.Put(4)) {
    at[0] = PacketHeader(k2dIdxControl, k2dIdxSyncZero, k2dIdxSyncTag);
    at[1] = k2dControlIdle;
    at[2] = 0;
    at[3] = tag | Sync2dStreamBit(prim);
  }
  if (uint32_t* at = batch.Put(3)) {
    at[0] = n->header;
    at[1] = b->addressWord;
    at[2] = mode;
  }
  current = n->next;
  b->flags &= ~kDevBitCleared;
  return result;
}

void SurfDesc2dList::UnassignSurfDescFrom(DeviceBitmap* b) {
  for (Node& n : nodes)
    if (n.bitmap == b) Release(&n, 0);
}

void SurfDesc2dList::UnassignAll() {
  for (Node& n : nodes) Release(&n, 0);
}

uint32_t Bind2dDescriptor(PDEV* pdev, DeviceBitmap* b) {
  uint32_t word;
  if (b->flags & kDevBitBound) {
    word = b->assignedWord;
  } else {
    SurfDesc2dList* list = b->surfDescList;
    list->current = list->nodes[1].bitmap == b ? &list->nodes[0] : &list->nodes[1];
    word = list->AssignCurrentSurfDescTo(b, false);
  }
  b->flags &= ~kDevBitHostCopy;
  const uint32_t index = Control2dDest::Get(word);
  SharedLockedData_t* shared = pdev->sharedLocked;
  Shadow2dDirty(shared) |= k2dDirtyDescriptor0 << index;
  shared->thread2d.even[index] = b->addressWord;
  shared->thread2d.odd[index] = b->ModeWord();
  return word;
}

bool InitSurfDesc2dList(PDEV* pdev) {
  return ShareBoardObject(pdev, pdev->common->surfDesc2dList, pdev->data2d.surfDescList);
}

void CleanupSurfDesc2dList(PDEV* pdev) {
  ReleaseBoardObject(pdev, pdev->common->surfDesc2dList, pdev->data2d.surfDescList);
}
