// Command packets of the primary DMA engine, sync tags, buffer counters and
// the shared command lock.
//
// A packet is a header of four register-index bytes (lowest first; index i
// names register 0x1000 + 4 * i) followed by one data word per index other
// than the padding index 0x21. Writers reserve room first (cursor + words
// against the pool's limit), then store the words with these builders.
#pragma once

#include <stdint.h>

#include "core/mm_surface.h"
#include "core/orv_abi.h"
#include "core/regs/dma.h"

// ---- Packets ---------------------------------------------------------------------------
// Buffer switch: 0x1094 := new buffer counter, 0x1090 := buffer-report word.
inline constexpr uint32_t kPacketBufferSwitch = 0x21212425;
inline constexpr uint32_t kBufferSwitchWords = 3;
// Sync: 0x1300 := 0x707, 0x1374 := 0, 0x12BC := tag [, 0x1300 := saved].
inline constexpr uint32_t kPacketSyncShort = 0x21AFDDC0;
inline constexpr uint32_t kPacketSyncLong = 0xC0AFDDC0;
inline constexpr uint32_t kSync2dControl = 0x707;
inline constexpr uint32_t kSyncTagStep = 8;
inline constexpr uint32_t kSyncTagIgnoredBits = 0x7;
inline constexpr uint32_t kPostingFlagTag = 0x1;  // posting flag bit copied into tags

inline uint32_t* BmWriteBufferSwitch(uint32_t* at, uint32_t counter, uint32_t reportWord) {
  at[0] = kPacketBufferSwitch;
  at[1] = counter;
  at[2] = reportWord;
  return at + kBufferSwitchWords;
}

// Words of the sync packet: the long form restores a saved 2D control value.
inline uint32_t BmSyncPacketWords(const SharedLockedData_t* shared) {
  return shared->last1300Value == kLastRegNone ? 4 : 5;
}

inline uint32_t* BmWriteSync(uint32_t* at, const SharedLockedData_t* shared, uint32_t tagWord) {
  const bool restore = shared->last1300Value != kLastRegNone;
  at[0] = restore ? kPacketSyncLong : kPacketSyncShort;
  at[1] = kSync2dControl;
  at[2] = 0;
  at[3] = tagWord;
  if (!restore) return at + 4;
  at[4] = shared->last1300Value;
  return at + 5;
}

// ---- Counters --------------------------------------------------------------------------
// Tags are multiples of 8 and never 0; the low three bits carry flags.
inline uint32_t BmNextSyncTag(uint32_t counter) {
  uint32_t tag = counter + kSyncTagStep;
  if (tag == 0) tag += kSyncTagStep;
  return tag;
}

inline uint32_t BmNextBufferCounter(uint32_t counter) {
  ++counter;
  return counter == 0 ? 1 : counter;
}

// Whether a stamp (a sync tag, a buffer counter) is still pending, given the
// newest one issued and the one the engine reached; right across the wrap of
// the counter: of the three orderings newest < stamp, newest < reached and
// reached < stamp, an odd number holds exactly when the engine has not yet
// passed the stamp. For tags the reached tag's flag bits are ignored.
// Surfaces, the primary interface and the kernel's buffer fences use it.
inline bool BmStampPending(uint32_t stamp, uint32_t newest, uint32_t reached) {
  const int odd = (newest < stamp) + (newest < reached) + (reached < stamp);
  return (odd & 1) != 0;
}
inline bool BmSyncTagPending(uint32_t tag, uint32_t newest, uint32_t reached) {
  return BmStampPending(tag, newest, reached & ~kSyncTagIgnoredBits);
}

// ---- Command lock ----------------------------------------------------------------------
// The lock word (offset 124) is taken by exchanging 1 until the old value is
// 0. The depth word (offset 128) belongs to the holder: it carries the
// holder's owner id above its nesting count, so an owner re-enters only a
// lock that it holds itself, never one that the kernel module holds.
inline constexpr uint32_t kCmdLockOwnerXDriver = 0x5844;
inline constexpr uint32_t kCmdLockOwnerKernel = 0x4B4D;
inline constexpr uint32_t kCmdLockOwnerShift = 16;
inline constexpr uint32_t kCmdLockDepthMask = 0xFFFF;

// Takes the lock, or enters it once more when owner holds it already. The
// wait for another holder is bounded: false, logged, when the holder never
// lets go; the caller then gives up what needed the lock and does not
// release it.
[[nodiscard]] bool BmAcquireCommandLock(SharedLockedData_t* shared, uint32_t owner);
void BmReleaseCommandLock(SharedLockedData_t* shared, uint32_t owner);
// The nesting depth that owner holds; 0 when it does not hold the lock.
uint32_t BmCommandLockDepth(const SharedLockedData_t* shared, uint32_t owner);
