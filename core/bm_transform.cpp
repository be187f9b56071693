#include "core/bm_transform.h"

#include <string.h>

static_assert(sizeof(BmBufferPool::CreateOptions) <= kXformBufferOptionsSize);

BmXformInt::BmXformInt(CommonData* c, uint32_t u, const CreateOptions& o, uint32_t s,
                       EBmPostType postType)
    : BmPrimInt(c, u, o), slotIndex(s), slot(&c->sharedLocked->pendingSlots[s]) {
  slot->postType = postType;
}

BmXformInt::~BmXformInt() {
  slot->postType = kPendingSlotFree;
  slotIndex = kXformSlotNone;
}

bool BmXformInt::Open() {
  if (!BmBufferPool::Open()) return false;
  if (shared->dmaMode == kDmaModePost) postingFlags |= kBmPostingTagFlag;
  return true;
}

void BmXformInt::SwitchToNewBuffer() {
  overflowed = true;
  ResetCursor();
}

bool BmXformInt::BeginCmd() {
  if (!BmAcquireCommandLock(shared, kCmdLockOwnerXDriver)) return false;
  overflowed = false;
  ResetCursor();
  return true;
}

bool BmXformInt::EndCmd() {
  const bool whole = !overflowed;
  if (!whole) start = cursor;  // publish nothing of a broken sequence
  const uint32_t busType = head != nullptr ? head->busType : 0;
  slot->busStart = head != nullptr ? head->BusOf(start) : 0;
  slot->busEnd = (head != nullptr ? head->BusOf(cursor) : 0) | busType;
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
  return whole;
}

uint32_t BmXformMgr::GetFreeCmdBufferIndex(CommonData* common) {
  const SharedLockedData_t* shared = common->sharedLocked;
  for (uint32_t i = 0; i < kPendingSlotCount; ++i) {
    if (shared->pendingSlots[i].postType == kPendingSlotFree) return i;
  }
  return kXformSlotNone;
}

BmXformInt* BmXformMgr::AllocateInterface(CommonData* common, uint32_t unit,
                                          EBmPostType postType) {
  const uint32_t index = GetFreeCmdBufferIndex(common);
  if (index == kXformSlotNone) return nullptr;
  BmBufferPool::CreateOptions options;
  memcpy(&options, common->xformBufferOptions, sizeof(options));
  BmXformInt* xform = new BmXformInt(common, unit, options, index, postType);
  if (xform == nullptr) return nullptr;
  if (!xform->Open()) {
    delete xform;
    return nullptr;
  }
  return xform;
}

void BmXformMgr::FreeInterface(CommonData*, BmXformInt** xform) {
  if (xform == nullptr || *xform == nullptr) return;
  (*xform)->Close();
  delete *xform;
  *xform = nullptr;
}

BmBufferPool::CreateOptions BmXformOptions(uint32_t busFlags, uint32_t debugFlags) {
  BmBufferPool::CreateOptions options;
  options.bufferCount = 1;
  options.keepEntries = 0;
  options.reserve = 0;
  if ((busFlags & kBusFlagAgp) && !(debugFlags & (kBmDebugNoSystemMemory | kBmDebugNoAgp)))
    options.alloc.Add(kBmMemAgp, kXformBufferSize);
  if ((busFlags & kBusFlagsPciLocked) == kBusFlagsPciLocked && !(debugFlags & (kBmDebugNoSystemMemory | kBmDebugNoPciLocked)))
    options.alloc.Add(kBmMemPciLocked, kXformBufferSize);
  options.alloc.Add(kBmMemLocal, kXformBufferSize);
  return options;
}
