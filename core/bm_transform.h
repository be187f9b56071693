// Transform command interfaces: short command sequences that the X driver
// writes but does not start. At the end of a sequence the written range is
// left in one of the 15 pending command-buffer slots of the shared locked
// block, from which the kernel module submits it.
#pragma once

#include <stdint.h>

#include "core/bm_prim_int.h"

class PDEV;

inline constexpr uint32_t kXformSlotNone = kPendingSlotCount;
inline constexpr uint32_t kXformBufferSize = 4096;

// Posting types are chosen by the callers and only stored here.
using EBmPostType = uint32_t;

class BmXformInt : public BmPrimInt {
 public:
  // Claims the pending slot by writing the posting type into it.
  BmXformInt(CommonData* common, uint32_t unit, const CreateOptions& options, uint32_t slot,
             EBmPostType postType);
  // Frees the slot.
  ~BmXformInt() override;

  // Opens the pool only: the primary DMA registers belong to the primary
  // interface.
  bool Open() override;
  // A sequence that fills the buffer is lost: it is marked overflowed and
  // written on from the start of the buffer, and EndCmd reports it.
  void SwitchToNewBuffer() override;
  // The kernel module starts the range: nothing to do here.
  bool Start() override { return true; }

  // What a VSync request names to have the kernel module run this
  // interface's sequence: its pending slot.
  uint32_t InterruptIdentity() const { return slotIndex; }

  // Takes the command lock (nested in a caller's hold) and starts a
  // sequence from the start of the buffer. False when the lock's holder
  // never let go: nothing was touched, and the caller writes no sequence
  // and does not call EndCmd.
  [[nodiscard]] bool BeginCmd();
  // False when the sequence overflowed its buffer; the slot then holds an
  // empty range.
  bool EndCmd();

  uint32_t slotIndex;
  SharedPendingSlot* slot;
  bool overflowed = false;
};

class BmXformMgr {
 public:
  static uint32_t GetFreeCmdBufferIndex(CommonData* common);
  static BmXformInt* AllocateInterface(CommonData* common, uint32_t unit, EBmPostType postType);
  static void FreeInterface(CommonData* common, BmXformInt** interface);
};

// Transform buffer options for these bus flags and BmDebugFlags value.
BmBufferPool::CreateOptions BmXformOptions(uint32_t busFlags, uint32_t debugFlags);
