// Register images of the 3D engine kept outside a context state: up to ten
// texture-map units (HwStateBlock), up to four texture stages of a blit or
// copy (StageStateBlock) and the unit set-up of copies between mip levels
// (LevelCopyState). A block is filled by its derived class, marked pending
// while it holds unsent state, and brought to the engine either by writing
// its register groups into a DMA stream or by folding them into a context
// state; both flush the pending state first.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/bm_packets.h"
#include "core/regs/engine3d.h"

class BmBufferPool;
class ContextState3d;

inline constexpr uint32_t kHwUnitRecords = 10;
// Below this unit count a block works on the first five records.
inline constexpr uint32_t kHwSmallUnitCount = 6;
inline constexpr uint32_t kHwStageRecords = 4;

// Unit record flags: the record carries its own words C and D; the second
// register group (words E-H) is present.
inline constexpr uint32_t kHwUnitFull = 0x1;
inline constexpr uint32_t kHwUnitSecondGroup = 0x6;

inline constexpr uint32_t kHwWordADefault = 0x80;       // bits 5-9: 4
inline constexpr uint32_t kHwWordBDefault = k3dStageSecondDefault;
inline constexpr uint32_t kHwUnitNumberMask = 0x1F;
// Bits of words A and B a record without its own C and D leaves out of
// them.
inline constexpr uint32_t kHwDerivedClear = 0x124;

// A full record's first group is the stage packet with its options
// (kPacketStageWithOption); a padded one writes A and B and sends C and D
// to the discarding index.
inline constexpr uint32_t kHwHeaderPadded =
    PacketHeader(k3dIdxStageControl, k3dIdxStageSecond, kIdxDiscard, kIdxDiscard);
inline constexpr uint32_t kHwHeaderSecond =
    PacketHeader(k3dIdxStageConst0, k3dIdxStageConst1, k3dIdxStageConst2, k3dIdxStageConst3);
static_assert(kHwHeaderPadded == 0x20209B99 && kHwHeaderSecond == 0xA1A09F9E);

// Hardware unit numbers of records 0-9 (6 and 7 are never used).
inline constexpr uint8_t kHwUnitNumber[kHwUnitRecords] = {0, 2, 4, 8, 10, 1, 3, 5, 9, 11};

struct HwUnitRecord {
  uint32_t flags;
  uint32_t a;  // 0x99
  uint32_t b;  // 0x9B
  uint32_t c;  // 0x98
  uint32_t d;  // 0x9A
  uint32_t e;  // 0x9E
  uint32_t f;  // 0x9F
  uint32_t g;  // 0xA0
  uint32_t h;  // 0xA1
};
static_assert(sizeof(HwUnitRecord) == 36);
// ApplyTo copies A-B and E-H as runs.
static_assert(offsetof(HwUnitRecord, b) == offsetof(HwUnitRecord, a) + 4);
static_assert(offsetof(HwUnitRecord, h) == offsetof(HwUnitRecord, e) + 12);

class HwStateBlock : public OsHeapObject {
 public:
  HwStateBlock();
  virtual ~HwStateBlock() = default;
  HwStateBlock(const HwStateBlock&) = delete;
  HwStateBlock& operator=(const HwStateBlock&) = delete;

  // Writes what the derived class holds into the records; the base has
  // nothing to write.
  virtual bool EmitPending() { return true; }
  // Whether the units convert colour (the blit's transform bit).
  virtual bool ConvertsColour() const { return false; }

  // Runs the pending write (false, changing nothing, when it fails), then
  // resets the records from unitCount up to the last one in use. When
  // wasPending is given, it receives whether something was pending.
  bool Flush(uint8_t* wasPending = nullptr);
  // Flushes, then writes every record in use as register groups, each
  // behind its count word. False when the flush fails or the stream has no
  // room for a group.
  bool Emit(BmBufferPool* stream);
  // Flushes, then folds the records in use into the state's texture units.
  bool ApplyTo(ContextState3d& state);

  // 5 records below kHwSmallUnitCount units, else 10.
  uint32_t RecordsInUse() const { return unitCount < kHwSmallUnitCount ? 5 : kHwUnitRecords; }
  void ResetRecord(uint32_t index);

  uint32_t word0 = 0;
  uint32_t unitCount = 1;
  HwUnitRecord units[kHwUnitRecords];
  uint8_t pending = 0;
  uint8_t emitted = 0;
};

// The unit set-up of a copy between mip levels: record 0 in its defaults
// with word B bits 0-2 = 3, one unit.
class LevelCopyState : public HwStateBlock {
 public:
  LevelCopyState() { pending = 1; }
  bool EmitPending() override;
};

// One stage of a StageStateBlock (72 bytes): word 0 the control word (bits
// 16-18 = 1: disabled), words 1-2 a pair, words 3-11 register images, then
// the texture size and the coordinate offsets and scales.
struct HwStageRecord {
  uint32_t words[12];
  int32_t width;
  int32_t height;
  float uOffset;
  float vOffset;
  float uScale;
  float vScale;
};
static_assert(sizeof(HwStageRecord) == 72);

inline constexpr uint32_t kHwStageModeMask = 0x70000;
inline constexpr uint32_t kHwStageDisabled = 0x10000;

class StageStateBlock : public OsHeapObject {
 public:
  StageStateBlock();
  virtual ~StageStateBlock() = default;
  StageStateBlock(const StageStateBlock&) = delete;
  StageStateBlock& operator=(const StageStateBlock&) = delete;

  // Fills the stage records from the derived class's sources (run by
  // FlushPending); then the two operations the blit drives directly.
  virtual bool EmitPending() = 0;
  virtual void FlushSources() = 0;
  virtual bool BuildStages() = 0;

  // Runs the pending fill; false when it fails, true when nothing was
  // pending.
  bool FlushPending();
  // Flushes, then folds the stages in use into the state's texture stages.
  bool ApplyTo(ContextState3d& state);
  // Writes one stage's registers: a disabled stage only its control word.
  static bool EmitStage(const HwStageRecord& stage, uint32_t number, BmBufferPool* stream);
  static bool Disabled(const HwStageRecord& stage) {
    return (stage.words[0] & kHwStageModeMask) == kHwStageDisabled;
  }
  // stageCount, at most the four records.
  uint32_t StagesInUse() const { return stageCount < kHwStageRecords ? stageCount : kHwStageRecords; }

  HwStageRecord stages[kHwStageRecords];
  uint32_t stageCount = 0;
  uint8_t pending = 0;
  uint8_t emitted = 0;
};

// The stages' coordinate-format words by stage count (0-4).
extern const uint32_t kHwCoordinateFormats[5][kHwStageRecords];

struct BlitRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Rotates a normalised rectangle by quarter turns (the low two bits).
void RotateTexCoords(uint32_t turns, float& left, float& right, float& top, float& bottom);

// Writes the texture coordinates of three corners of a blit quad for every
// enabled stage of the block. False when the stream has no room.
bool ComputeBlitTexCoords(StageStateBlock& block, BmBufferPool* stream, const BlitRect& source,
                          const BlitRect& outer, const BlitRect& inner, uint32_t textureWidth,
                          uint32_t textureHeight, uint32_t rotation, uint32_t mirror, uint32_t halfTexelMode,
                          bool bias);
