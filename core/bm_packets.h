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
#include "core/regs/engine2d.h"
#include "core/regs/engine3d.h"

// ---- Packets ---------------------------------------------------------------------------
// Buffer switch: 0x1094 := new buffer counter, 0x1090 := buffer-report word.
inline constexpr uint32_t kPacketBufferSwitch = 0x21212425;
inline constexpr uint32_t kBufferSwitchWords = 3;
inline constexpr uint32_t kSyncTagStep = 8;
inline constexpr uint32_t kSyncTagIgnoredBits = 0x7;
inline constexpr uint32_t kPostingFlagTag = 0x1;  // posting flag bit copied into tags

inline uint32_t* BmWriteBufferSwitch(uint32_t* at, uint32_t counter, uint32_t reportWord) {
  at[0] = kPacketBufferSwitch;
  at[1] = counter;
  at[2] = reportWord;
  return at + kBufferSwitchWords;
}

// ---- Sync-tag packet ---------------------------------------------------------------------
// 0x1300 := the idle 2D control word, 0x1374 := 0, 0x12BC := the tag word
// (the tag with its flag bits), then one more register: none (kIdxPad, four
// words), the sync tag again (k2dIdxSyncTag, with the plain tag), or the 2D
// control word a writer saved (k2dIdxControl). Every sync tag of the X
// driver and the kernel's progress tags are written by BmWriteSyncTag.
constexpr uint32_t SyncTagHeader(uint8_t last = kIdxPad) {
  return PacketHeader(k2dIdxControl, k2dIdxSyncZero, k2dIdxSyncTag, last);
}
inline constexpr uint32_t kPacketSyncTag = SyncTagHeader();
inline constexpr uint32_t kPacketSyncTagTwice = SyncTagHeader(k2dIdxSyncTag);
inline constexpr uint32_t kPacketSyncTagRestore = SyncTagHeader(k2dIdxControl);
static_assert(kPacketSyncTag == 0x21AFDDC0 && kPacketSyncTagTwice == 0xAFAFDDC0 &&
              kPacketSyncTagRestore == 0xC0AFDDC0);

constexpr uint32_t BmSyncTagWords(uint8_t last = kIdxPad) { return last == kIdxPad ? 4 : 5; }

inline uint32_t* BmWriteSyncTag(uint32_t* at, uint32_t tagWord, uint8_t last = kIdxPad,
                                uint32_t lastWord = 0) {
  at[0] = SyncTagHeader(last);
  at[1] = k2dControlIdle;
  at[2] = 0;
  at[3] = tagWord;
  if (last == kIdxPad) return at + 4;
  at[4] = lastWord;
  return at + 5;
}

// The primary interface's sync packet restores the 2D control word while a
// value is saved in the shared locked block.
inline uint8_t BmSyncLastIndex(const SharedLockedData_t* shared) {
  return shared->last1300Value == kLastRegNone ? kIdxPad : k2dIdxControl;
}
inline uint32_t BmSyncPacketWords(const SharedLockedData_t* shared) {
  return BmSyncTagWords(BmSyncLastIndex(shared));
}
inline uint32_t* BmWriteSync(uint32_t* at, const SharedLockedData_t* shared, uint32_t tagWord) {
  return BmWriteSyncTag(at, tagWord, BmSyncLastIndex(shared), shared->last1300Value);
}

// ---- Engine-state headers ------------------------------------------------------------------
// The packets that set the drawing engines' state up (the X driver's first
// start, the kernel's re-initialisation on a mode change) and the video
// layer's texture and stage set-up.
constexpr uint8_t Idx3d(uint32_t reg) { return IndexOfReg(reg); }
// Texture unit u's control word, filter, word 585 and word C8.
constexpr uint32_t UnitStateHeader(uint32_t u) {
  return PacketHeader(static_cast<uint8_t>(Idx3d(k3dRegUnitControl0) + u), Idx3d(k3dRegTexFilter),
                      Idx3d(k3dRegTexWord585), Idx3d(k3dRegTexWordC8));
}
inline constexpr uint32_t kPacketUnitWords = PacketHeader(
    Idx3d(k3dRegTexWordCC), Idx3d(k3dRegTexWordD0), Idx3d(k3dRegTexWordD4), Idx3d(k3dRegTexWordD8));
inline constexpr uint32_t kPacketUnitTable = PacketHeader(Idx3d(k3dRegTexTable));
inline constexpr uint32_t kPacketAllUnits =
    PacketHeader(Idx3d(k3dRegUnitControl0), Idx3d(k3dRegUnitControl0) + 1,
                 Idx3d(k3dRegUnitControl0) + 2, Idx3d(k3dRegUnitControl0) + 3);
inline constexpr uint32_t kPacketControl = PacketHeader(k2dIdxControl);
inline constexpr uint32_t kPacketSyncZero = PacketHeader(k2dIdxSyncZero);
inline constexpr uint32_t kPacketStageWithOption =
    PacketHeader(Idx3d(k3dRegStageControl), Idx3d(k3dRegStageSecond), Idx3d(k3dRegStageOption),
                 Idx3d(k3dRegStageOption2));
inline constexpr uint32_t kPacketEngineWordsA = PacketHeader(
    Idx3d(k3dRegWordE4), Idx3d(k3dRegWordC0), Idx3d(k3dRegWordC4), Idx3d(k3dRegWordE8));
inline constexpr uint32_t kPacketEngineWordsB = PacketHeader(
    Idx3d(k3dRegWordD4), Idx3d(k3dRegWordC8), Idx3d(k3dRegWordCC), Idx3d(k3dRegWordD0));
inline constexpr uint32_t kPacketMaskAndColours =
    PacketHeader(k2dIdxPlaneMask, k2dIdxBackground, k2dIdxForeground, Idx3d(k3dRegWordFC));
inline constexpr uint32_t kPacketClipAndPlace =
    PacketHeader(k2dIdxClipTopLeft, k2dIdxClipBottomRight, k2dIdxStart, k2dIdxOrigin);
inline constexpr uint32_t kPacketStretchBias = PacketHeader(Idx3d(k3dRegStretchBias));
inline constexpr uint32_t kPacketDeviceWordB = PacketHeader(Idx3d(kRegDeviceWordB));
inline constexpr uint32_t kPacketEngineWordB0 = PacketHeader(Idx3d(k3dRegWordB0));
static_assert(UnitStateHeader(1) == 0x72717081 && kPacketUnitWords == 0x76757473);
static_assert(kPacketUnitTable == 0x2121217A && kPacketAllUnits == 0x83828180);
static_assert(kPacketControl == 0x212121C0 && kPacketSyncZero == 0x212121DD);
static_assert(kPacketStageWithOption == 0x9A989B99 && kPacketEngineWordsA == 0xBAB1B0B9);
static_assert(kPacketEngineWordsB == 0xB4B3B2B5 && kPacketMaskAndColours == 0xBFC5C6C9);
static_assert(kPacketClipAndPlace == 0xC2C1CBCA && kPacketStretchBias == 0x212121BD);
static_assert(kPacketDeviceWordB == 0x212121AE && kPacketEngineWordB0 == 0x212121AC);

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
