// Command packets of the primary DMA engine, sync tags, buffer counters and
// the shared command lock.
//
// A packet is a header of four register-index bytes (lowest first; index i
// names register 0x1000 + 4 * i) followed by one data word per index other
// than the padding index 0x21. Writers reserve room first (cursor + words
// against the pool's limit), then store the words with these builders.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/mm_surface.h"
#include "core/orv_abi.h"
#include "core/os.h"
#include "core/regs/dma.h"
#include "core/regs/engine2d.h"
#include "core/regs/engine3d.h"
#include "core/shared_word.h"

// ---- Progress packet --------------------------------------------------------------------
// The engine writes the counter into memory at the report address once it
// reaches the packet: the primary stream's buffer switch (the shared
// block's buffer-report word), the kernel's stream progress marks and a 3D
// client's draw progress. Every progress packet is written by
// BmWriteProgress.
inline constexpr uint32_t kPacketProgress = PacketHeader(kIdxBufferCounter, kIdxBufferReport);
inline constexpr uint32_t kProgressWords = 3;

inline uint32_t* BmWriteProgress(uint32_t* at, uint32_t counter, uint32_t reportAddress) {
  at[0] = kPacketProgress;
  at[1] = counter;
  at[2] = reportAddress;
  return at + kProgressWords;
}

// ---- Sync-tag packet ---------------------------------------------------------------------
// 0x1300 := the idle 2D control word, 0x1374 := 0, 0x12BC := the tag word
// (the tag with its flag bits), then one more register: none (kIdxPad, four
// words), the sync tag again (k2dIdxSyncTag, with the plain tag), the 2D
// control word a writer saved (k2dIdxControl), or, in place of it while no
// word is saved, the discarding index (kIdxDiscard), which keeps the
// packet's length. The control word is the idle one but where a writer
// starts from another (the kernel's plain tags). Every packet of this form,
// the X driver's and the kernel's, is written by BmWriteSyncTag.
constexpr uint32_t SyncTagHeader(PacketIndex last = kIdxPad) {
  return PacketHeader(k2dIdxControl, k2dIdxSyncZero, k2dIdxSyncTag, last);
}
inline constexpr uint32_t kPacketSyncTag = SyncTagHeader();
inline constexpr uint32_t kPacketSyncTagTwice = SyncTagHeader(k2dIdxSyncTag);
inline constexpr uint32_t kPacketSyncTagRestore = SyncTagHeader(k2dIdxControl);
static_assert(kPacketSyncTag == 0x21AFDDC0 && kPacketSyncTagTwice == 0xAFAFDDC0 &&
              kPacketSyncTagRestore == 0xC0AFDDC0 && SyncTagHeader(kIdxDiscard) == 0x20AFDDC0);

constexpr uint32_t BmSyncTagWords(PacketIndex last = kIdxPad) { return last == kIdxPad ? 4 : 5; }

inline uint32_t* BmWriteSyncTag(uint32_t* at, uint32_t tagWord, PacketIndex last = kIdxPad,
                                uint32_t lastWord = 0, uint32_t control = k2dControlIdle) {
  at[0] = SyncTagHeader(last);
  at[1] = control;
  at[2] = 0;
  at[3] = tagWord;
  if (last == kIdxPad) return at + 4;
  at[4] = lastWord;
  return at + 5;
}

// The 3D stream's operation tag: 0x1300 := an operation word, 0x12BC :=
// the tag with its flag bits, then the tag again, then one more register
// as above (none, or V's place).
constexpr uint32_t OperationTagHeader(PacketIndex last = kIdxPad) {
  return PacketHeader(k2dIdxControl, k2dIdxSyncTag, k2dIdxSyncTag, last);
}
static_assert(OperationTagHeader(k2dIdxControl) == 0xC0AFAFC0 && OperationTagHeader() == 0x21AFAFC0);

// The primary interface's sync packet restores the 2D control word while a
// value is saved in the shared locked block.
inline PacketIndex BmSyncLastIndex(const SharedLockedData_t* shared) {
  return shared->last1300Value == kLastRegNone ? kIdxPad : k2dIdxControl;
}
inline uint32_t BmSyncPacketWords(const SharedLockedData_t* shared) {
  return BmSyncTagWords(BmSyncLastIndex(shared));
}
inline uint32_t* BmWriteSync(uint32_t* at, const SharedLockedData_t* shared, uint32_t tagWord) {
  return BmWriteSyncTag(at, tagWord, BmSyncLastIndex(shared), shared->last1300Value);
}

// ---- The kernel's stream packets ----------------------------------------------------------
// A header of padding only: fills room that was reserved and not used.
inline constexpr uint32_t kPacketFill = PacketHeader(kIdxPad, kIdxPad, kIdxPad, kIdxPad);
// Runs the range [start, end) of another buffer (the start's low bits its
// grammar, the end's its memory space); the discarding words around it
// carry nothing.
inline constexpr uint32_t kPacketExecute = PacketHeader(kIdxDiscard, kIdxExecuteStart, kIdxExecuteEnd, kIdxDiscard);
inline constexpr uint32_t kExecuteWords = 5;
inline uint32_t* BmWriteExecute(uint32_t* at, uint32_t start, uint32_t end) {
  at[0] = kPacketExecute;
  at[1] = 0;
  at[2] = start;
  at[3] = end;
  at[4] = 0;
  return at + kExecuteWords;
}
// The progress packet followed by a jump to the next buffer.
inline constexpr uint32_t kPacketSwitchAndJump = PacketHeader(kIdxBufferCounter, kIdxBufferReport, kIdxJump);
inline constexpr uint32_t kSwitchAndJumpWords = 4;
inline uint32_t* BmWriteSwitchAndJump(uint32_t* at, uint32_t counter, uint32_t reportAddress, uint32_t next) {
  at[0] = kPacketSwitchAndJump;
  at[1] = counter;
  at[2] = reportAddress;
  at[3] = next;
  return at + kSwitchAndJumpWords;
}
// The kernel's tags. V is the shared block's saved 2D control word; while
// it holds the "no value saved" marker, V's place is the discarding index,
// so a packet keeps its length and 0x1300 never takes the marker.
// The sync prologue of a start: 0x1300 three times (the done word, 4, the idle
// word), then 0x1374 := 0, two progress tags and 0x1300 := V.
inline constexpr uint32_t kPacketSyncPrologueA = PacketHeader(k2dIdxControl, k2dIdxControl, k2dIdxControl);
constexpr uint32_t SyncPrologueHeaderB(PacketIndex v) {
  return PacketHeader(k2dIdxSyncZero, k2dIdxSyncTag, k2dIdxSyncTag, v);
}
inline constexpr uint32_t kSyncPrologueWords = 9;
// The two control words the prologue writes before the idle word.
inline constexpr uint32_t kSyncPrologueControls[2] = {k2dControlDone, 4};
inline uint32_t* BmWriteSyncPrologue(uint32_t* at, uint32_t firstTag, uint32_t secondTag, PacketIndex v,
                                     uint32_t vWord) {
  at[0] = kPacketSyncPrologueA;
  at[1] = kSyncPrologueControls[0];
  at[2] = kSyncPrologueControls[1];
  at[3] = k2dControlIdle;
  at[4] = SyncPrologueHeaderB(v);
  at[5] = 0;
  at[6] = firstTag;
  at[7] = secondTag;
  at[8] = vWord;
  return at + kSyncPrologueWords;
}
// The event tag: 0x1374, the event tag (the tag | 4), 0x1300 := a control
// word, 0x1374; then the progress tag (the tag | 1), V, 0x1374, and the
// event index with the word that pauses the engine.
inline constexpr uint32_t kPacketEventTagA =
    PacketHeader(k2dIdxSyncZero, k2dIdxSyncTag, k2dIdxControl, k2dIdxSyncZero);
constexpr uint32_t EventTagHeaderB(PacketIndex v) { return PacketHeader(k2dIdxSyncTag, v, k2dIdxSyncZero, kIdxEvent); }
inline constexpr uint32_t kEventTagPacketWords = 10;
inline uint32_t* BmWriteEventTag(uint32_t* at, uint32_t eventTag, uint32_t control, uint32_t progressTag,
                                 PacketIndex v, uint32_t vWord, uint32_t pauseWord) {
  at[0] = kPacketEventTagA;
  at[1] = 0;
  at[2] = eventTag;
  at[3] = control;
  at[4] = 0;
  at[5] = EventTagHeaderB(v);
  at[6] = progressTag;
  at[7] = vWord;
  at[8] = 0;
  at[9] = pauseWord;
  return at + kEventTagPacketWords;
}
// Padding over `words` words of room (kPacketFill).
inline uint32_t* BmWriteFill(uint32_t* at, uint32_t words) {
  for (uint32_t i = 0; i < words; ++i) at[i] = kPacketFill;
  return at + words;
}
static_assert(kPacketFill == 0x21212121 && kPacketExecute == 0x20292820 && kPacketSwitchAndJump == 0x21272425);
static_assert(kPacketSyncPrologueA == 0x21C0C0C0 && SyncPrologueHeaderB(k2dIdxControl) == 0xC0AFAFDD);
static_assert(kPacketEventTagA == 0xDDC0AFDD && EventTagHeaderB(kIdxDiscard) == 0x26DD20AF);

// ---- Register groups ----------------------------------------------------------------------
// One group of a fixed register program: its header and a data word for
// each register it names. Programs are const tables of groups; the
// primary stream takes the groups as they stand, the kernel's 3D stream
// behind a count word (kernel/3d/engine/packets.h).
struct RegGroup {
  uint32_t header;
  uint32_t data[4];
};
// The words of a table of groups: each header and its data words.
template <size_t N>
constexpr uint32_t RegGroupWords(const RegGroup (&groups)[N]) {
  uint32_t n = 0;
  for (const RegGroup& g : groups) n += 1 + PacketDataWords(g.header);
  return n;
}
// Writes the groups at `at` (room for RegGroupWords known) and answers the
// position after them.
inline uint32_t* BmWriteGroups(uint32_t* at, const RegGroup* groups, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t words = PacketDataWords(groups[i].header);
    *at++ = groups[i].header;
    for (uint32_t k = 0; k < words; ++k) *at++ = groups[i].data[k];
  }
  return at;
}
template <size_t N>
inline uint32_t* BmWriteGroups(uint32_t* at, const RegGroup (&groups)[N]) {
  return BmWriteGroups(at, groups, N);
}

// ---- The engines' preset ------------------------------------------------------------------
// The state the drawing engines start from: the X driver's first start
// writes it, the kernel writes it again when a mode change re-initialises
// the engines. Each texture unit's two groups, on the later chips also
// its table word (the kernel's re-initialisation only), then the rest.
inline constexpr uint32_t kPresetUnits = 4;
// The header of unit u's control word, filter, word 585 and word C8.
constexpr uint32_t UnitStateHeader(uint32_t u) {
  return PacketHeader(k3dIdxUnitControl0 + u, k3dIdxTexFilter, k3dIdxTexWord585, k3dIdxTexWordC8);
}
// A texture unit's control word: enabled, with its own unit bit.
constexpr uint32_t PresetUnitOn(uint32_t u) { return 0x40100u | 1u << u; }
extern const RegGroup kPresetUnitGroups[kPresetUnits][2];
extern const RegGroup kPresetUnitTable;
extern const RegGroup kPresetEngine[13];
// The words of the preset, with or without the units' table words.
uint32_t BmEnginePresetWords(bool unitTables);
// Writes the preset at `at` (room for BmEnginePresetWords known) and
// answers the position after it.
uint32_t* BmWriteEnginePreset(uint32_t* at, bool unitTables);

// ---- Engine-state headers ------------------------------------------------------------------
// The groups of the preset, which the video layer's texture and stage
// set-up writes too, and the kernel's re-initialisation after the preset:
// the device word and the engine word B0.
inline constexpr uint32_t kPacketUnitWords =
    PacketHeader(k3dIdxTexWordCC, k3dIdxTexWordD0, k3dIdxTexWordD4, k3dIdxTexWordD8);
inline constexpr uint32_t kPacketUnitTable = PacketHeader(k3dIdxTexTable);
inline constexpr uint32_t kPacketAllUnits =
    PacketHeader(k3dIdxUnitControl0, k3dIdxUnitControl0 + 1, k3dIdxUnitControl0 + 2, k3dIdxUnitControl0 + 3);
inline constexpr uint32_t kPacketControl = PacketHeader(k2dIdxControl);
inline constexpr uint32_t kPacketSyncZero = PacketHeader(k2dIdxSyncZero);
inline constexpr uint32_t kPacketStageWithOption =
    PacketHeader(k3dIdxStageControl, k3dIdxStageSecond, k3dIdxStageOption, k3dIdxStageOption2);
inline constexpr uint32_t kPacketEngineWordsA =
    PacketHeader(k3dIdxWordE4, k3dIdxWordC0, k3dIdxWordC4, k3dIdxWordE8);
inline constexpr uint32_t kPacketEngineWordsB =
    PacketHeader(k3dIdxWordD4, k3dIdxWordC8, k3dIdxWordCC, k3dIdxWordD0);
inline constexpr uint32_t kPacketMaskAndColours =
    PacketHeader(k2dIdxPlaneMask, k2dIdxBackground, k2dIdxForeground, k3dIdxWordFC);
inline constexpr uint32_t kPacketClipAndPlace =
    PacketHeader(k2dIdxClipTopLeft, k2dIdxClipBottomRight, k2dIdxStart, k2dIdxOrigin);
inline constexpr uint32_t kPacketStretchBias = PacketHeader(k3dIdxStretchBias);
inline constexpr uint32_t kPacketDeviceWordB = PacketHeader(IndexOfReg(kRegDeviceWordB));
inline constexpr uint32_t kPacketEngineWordB0 = PacketHeader(k3dIdxWordB0);
static_assert(UnitStateHeader(1) == 0x72717081 && kPacketUnitWords == 0x76757473);
static_assert(kPacketUnitTable == 0x2121217A && kPacketAllUnits == 0x83828180);
static_assert(kPacketControl == 0x212121C0 && kPacketSyncZero == 0x212121DD);
static_assert(kPacketStageWithOption == 0x9A989B99 && kPacketEngineWordsA == 0xBAB1B0B9);
static_assert(kPacketEngineWordsB == 0xB4B3B2B5 && kPacketMaskAndColours == 0xBFC5C6C9);
static_assert(kPacketClipAndPlace == 0xC2C1CBCA && kPacketStretchBias == 0x212121BD);
static_assert(kPacketDeviceWordB == 0x212121AE && kPacketEngineWordB0 == 0x212121AC);

// ---- Counters --------------------------------------------------------------------------
// Tags are multiples of 8 and never 0; the low three bits carry flags.
inline constexpr uint32_t kSyncTagStep = 8;
inline constexpr uint32_t kSyncTagIgnoredBits = 0x7;
inline constexpr uint32_t kPostingFlagTag = 0x1;  // posting flag bit copied into tags
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

// The nesting depth that owner holds; 0 when it does not hold the lock.
inline uint32_t BmCommandLockDepth(const SharedLockedData_t* shared, uint32_t owner) {
  const uint32_t depth = static_cast<uint32_t>(ReadShared(&shared->commandLockDepth));
  if ((depth >> kCmdLockOwnerShift) != owner) return 0;
  return depth & kCmdLockDepthMask;
}

// The wait for a lock that another holder has: bounded; false, logged, when
// the holder never lets go.
[[nodiscard]] bool BmWaitCommandLock(SharedLockedData_t* shared);

// Takes the lock, or enters it once more when owner holds it already. The
// wait for another holder is bounded: false, logged, when the holder never
// lets go; the caller then gives up what needed the lock and does not
// release it. False too, with the lock as it was, for a nesting deeper than
// the depth word counts. Inline, as the drawing code takes and releases the
// lock around every few commands: a free lock costs its one exchange.
[[nodiscard]] inline bool BmAcquireCommandLock(SharedLockedData_t* shared, uint32_t owner) {
  // Only the holder writes the depth word, so finding our own id there
  // means we hold the lock already.
  const uint32_t depth = BmCommandLockDepth(shared, owner);
  if (depth == kCmdLockDepthMask) return false;
  if (depth == 0 && OsInterlockedExchange(&shared->commandLock, 1) != 0 &&
      !BmWaitCommandLock(shared)) {
    return false;
  }
  *static_cast<volatile int32_t*>(&shared->commandLockDepth) =
      static_cast<int32_t>((owner << kCmdLockOwnerShift) | (depth + 1));
  return true;
}

inline void BmReleaseCommandLock(SharedLockedData_t* shared, uint32_t owner) {
  const uint32_t depth = BmCommandLockDepth(shared, owner);
  if (depth == 0) return;  // not ours
  if (depth > 1) {
    *static_cast<volatile int32_t*>(&shared->commandLockDepth) =
        static_cast<int32_t>((owner << kCmdLockOwnerShift) | (depth - 1));
    return;
  }
  *static_cast<volatile int32_t*>(&shared->commandLockDepth) = 0;
  // Released by storing 0, ordered after every write made under the lock:
  // a store with release order, which costs no more than a plain store
  // (an exchange would also wait for every pending store to drain).
  __atomic_store_n(&shared->commandLock, 0, __ATOMIC_RELEASE);
}
