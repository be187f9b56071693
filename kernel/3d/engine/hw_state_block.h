// Register images of the 3D engine kept outside a context state: up to ten
// texture-map units (HwStateBlock) and up to four texture stages of a blit
// (StageStateBlock). A block is filled by its derived class and marked
// pending while it holds unsent state; a flush runs the pending fill. The
// blit quad's texture coordinates for the enabled stages are written here
// too.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"

class BmBufferPool;

inline constexpr uint32_t kHwUnitRecords = 10;
// Below this unit count a block works on the first five records.
inline constexpr uint32_t kHwSmallUnitCount = 6;
inline constexpr uint32_t kHwStageRecords = 4;

// Unit record flags: the record carries its own words C and D; the second
// register group (words E-H) is present.
inline constexpr uint32_t kHwUnitFull = 0x1;
inline constexpr uint32_t kHwUnitSecondGroup = 0x6;

inline constexpr uint32_t kHwWordADefault = 0x80;       // bits 5-9: 4
inline constexpr uint32_t kHwWordBDefault = 0x00400400;

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

class HwStateBlock : public OsHeapObject {
 public:
  HwStateBlock();
  virtual ~HwStateBlock() = default;
  HwStateBlock(const HwStateBlock&) = delete;
  HwStateBlock& operator=(const HwStateBlock&) = delete;

  // Writes what the derived class holds into the records; the base has
  // nothing to write.
  virtual bool EmitPending() { return true; }

  // Runs the pending write (false, changing nothing, when it fails), then
  // resets the records from unitCount up to the last one in use. When
  // wasPending is given, it receives whether something was pending.
  bool Flush(uint8_t* wasPending = nullptr);

  // 5 records below kHwSmallUnitCount units, else 10.
  uint32_t RecordsInUse() const { return unitCount < kHwSmallUnitCount ? 5 : kHwUnitRecords; }
  void ResetRecord(uint32_t index);

  uint32_t word0 = 0;
  uint32_t unitCount = 1;
  HwUnitRecord units[kHwUnitRecords];
  uint8_t pending = 0;
  uint8_t emitted = 0;
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

struct BlitRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Rotates a normalised rectangle by quarter turns (the low two bits).
void RotateTexCoords(uint32_t turns, float& left, float& right, float& top, float& bottom);

// Writes the texture coordinates of three corners of a blit quad for every
// enabled stage of the block: the inner rectangle normalised within the
// outer one, turned back by the rotation, mapped into the source rectangle
// of a texture of width x height texels and through the stage's offsets
// and scales, with the half-texel terms of the mode (1: u kept unscaled,
// 2: v, 3: both), the mirror bits (0: u, 1: v) and the bias flag (v
// lowered half a texel). Each stage's three packets {0x58 + k, 0x5D, 0x5E,
// 0x63 + stage; 0, 0, v, u} go out as one run behind its count word.
// False when the stream has no room.
bool ComputeBlitTexCoords(StageStateBlock& block, BmBufferPool* stream, const BlitRect& source,
                          const BlitRect& outer, const BlitRect& inner, uint32_t textureWidth,
                          uint32_t textureHeight, uint32_t rotation, uint32_t mirror, uint32_t halfTexelMode,
                          bool bias);
