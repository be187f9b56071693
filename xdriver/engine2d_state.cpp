#include "xdriver/engine2d_state.h"

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/dbg_output.h"
#include "core/hw_register_access.h"
#include "core/poll.h"
#include "core/regs/engine2d.h"
#include "core/shared_word.h"

uint32_t Sync2dNewTag(SharedLockedData_t* shared) {
  const uint32_t tag = BmNextSyncTag(shared->syncTagCounter);
  shared->syncTagCounter = tag;
  return tag;
}

uint32_t Sync2dStreamBit(const BmPrimInt* prim) { return prim->postingFlags & kBmPostingTagFlag; }

uint32_t Sync2dWritePacket(BmPrimInt* prim) {
  uint32_t* at = prim->Reserve(BmSyncTagWords());
  if (at == nullptr) return 0;
  const uint32_t tag = Sync2dNewTag(prim->shared);
  BmWriteSyncTag(at, tag | Sync2dStreamBit(prim));
  return tag;
}

uint32_t Sync2dCompletedTag(CommonData* common) {
  SharedLockedData_t* shared = common->sharedLocked;
  uint32_t reached;
  if (shared->dmaMode != kDmaModePost) {
    reached = HwReadRegister(common, kRegSyncTagReached);
  } else {
    reached = ReadShared(&shared->completedTag);
  }
  return reached & ~kSyncTagIgnoredBits;
}

bool Sync2dTagPassed(CommonData* common, uint32_t tag) {
  const uint32_t issued = ReadShared(&common->sharedLocked->syncTagCounter);
  return !BmSyncTagPending(tag, issued, Sync2dCompletedTag(common));
}

bool Sync2dWaitForTag(CommonData* common, uint32_t tag, const char* what) {
  char name[kDbgOutputMax];
  dbgOutputToString(name, sizeof(name), "sync tag 0x%x (%s)", tag, what);
  return WaitFor(name, kEngineWaitMicroseconds, [&] { return Sync2dTagPassed(common, tag); });
}

bool Sync2dAndWait(CommonData* common, BmPrimInt* prim, const char* what) {
  const uint32_t tag = Sync2dWritePacket(prim);
  if (tag == 0) {
    dbgOutput("No room for a sync packet (%s).\n", what);
    return false;
  }
  prim->Start();
  return Sync2dWaitForTag(common, tag, what);
}
