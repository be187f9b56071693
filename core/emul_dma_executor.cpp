#include "core/emul_dma_executor.h"

#include <string.h>

#include "core/hw_register_access.h"
#include "core/orv_abi.h"
#include "core/regs/dma.h"
#include "core/wait_bounds.h"

namespace {

// Indexes whose data dword is consumed without a register write.
bool IsSilentIndex(uint32_t index) {
  switch (index) {
    case 0x20:
    case 0x24:
    case 0x27:
    case 0x28:
    case 0x29:
      return true;
    default:
      return false;
  }
}

// Low 4 bits of a 2D control value that are not kept for the sync packet.
bool Is2dControlTransient(uint32_t value) {
  uint32_t low = value & 0xF;
  return low == 6 || low == 7;
}

}  // namespace

void ExecuteEmulatedDma(CommonData* common, const void* start, const void* end) {
  HwEmulDmaState& state = common->emulDma;
  uintptr_t at = reinterpret_cast<uintptr_t>(start);
  const uintptr_t stop = reinterpret_cast<uintptr_t>(end);

  // Only whole dwords inside the range are executed: a start past the end or
  // a misaligned end never runs beyond it.
  while (at < stop && stop - at >= sizeof(uint32_t)) {
    if (state.indexesLeft == 0 || (state.header & 0xFF) == kDmaIndexPadding) {
      if (state.repeatCount != 0) {
        --state.repeatCount;
        state.header = state.savedHeader;
      } else {
        memcpy(&state.header, reinterpret_cast<const void*>(at), sizeof(uint32_t));
        at += sizeof(uint32_t);
      }
      state.indexesLeft = 4;
      continue;
    }

    uint32_t index = state.header & 0xFF;
    state.header >>= 8;
    uint32_t data;
    memcpy(&data, reinterpret_cast<const void*>(at), sizeof(uint32_t));
    at += sizeof(uint32_t);
    state.shadow[index] = data;
    --state.indexesLeft;

    if (index == kDmaIndexDropHeader) {
      // The count of headers to take from the saved one (a span list):
      // without it the repeated data words would be read as headers.
      state.repeatCount = data;
      state.indexesLeft = 0;
    } else if (IsSilentIndex(index)) {
      // consumed only
    } else if (index == kDmaIndexSyncTag) {
      uint32_t tag = data & ~kSyncTagWait;
      HwWriteRegister(common, kRegSyncTag, tag);
      // An engine that never reaches the tag gives up the rest of the range:
      // what follows relied on the engine being there.
      if ((data & kSyncTagWait) &&
          !HwPollRegister(common, kRegSyncTagReached, 0xFFFFFFFF, tag, "emulated DMA sync tag",
                          kEngineWaitMicroseconds)) {
        state.indexesLeft = 0;
        state.repeatCount = 0;
        return;
      }
    } else {
      if (index == kDmaIndexRepeatHeader) state.savedHeader = data;
      HwWriteRegister(common, DmaWindowReg(index), data);
      if (index == kDmaIndex2dControl && !Is2dControlTransient(data)) {
        common->sharedLocked->last1300Value = data;
      }
    }
  }
}
