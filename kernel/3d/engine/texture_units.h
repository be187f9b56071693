// The texture-unit block of a context state: up to four texture stages of
// the pixel pipeline (a control word and twelve register images each) and
// ten texture units, with three dirty bits per stage in the state's second
// dirty word and two per unit in its third. The pixel-program builder fills
// a block of its own; its changes are taken over by TakeChanges and written
// into the 3D stream by Emit.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/float_bits.h"
#include "core/regs/engine3d.h"

class BmBufferPool;
struct StreamSink;
struct DirectSink;

// A set of masks in the form of the dirty words: three words of register
// groups (the first: engine blocks; the second: texture stages, 3 bits
// each; the third: texture units, 2 bits each) and the flag fields.
struct ContextStateMasks {
  uint32_t words[3];
  uint32_t flagWord;
  uint8_t flagByte;
  uint32_t flagWord2;
};

inline constexpr uint32_t kTuStages = 4;
inline constexpr uint32_t kTuUnits = 10;
// Above this many units the block works on all ten.
inline constexpr uint32_t kTuSmallUnitSet = 5;
// The most words one Emit writes: the stage-enable packet, the stage
// synchronisation, four stages, the stage controls, ten units and the
// reset of five.
inline constexpr uint32_t kTuMaxEmitWords = 3 + 4 + 4 * 18 + 11 + 10 * 11 + (1 + 5 * 3);

// Stage dirty word: three bits per stage (bits 3i to 3i + 2), bit 31 all.
// Unit dirty word: two bits per unit (bits 2u, 2u + 1), bit 31 all.
inline constexpr uint32_t kTuAllBit = 0x80000000u;

// Stage control word: the channel write mask, the mode.
inline constexpr uint32_t kTuChannelMask = 0xF;
inline constexpr uint32_t kTuModeMask = 0x70000;
inline constexpr uint32_t kTuModeDisabled = 0x10000;

// Flag byte: the stage-enable register (0xBD) must be written.
inline constexpr uint8_t kTuFlagStageEnable = 0x10;


// One stage: word 0 the change bits (in the builder's block), word 1 the
// control word, words 2-13 the register images.
struct TextureStageRecord {
  uint32_t words[14];
};
static_assert(sizeof(TextureStageRecord) == 56);

// One unit: word 0 the change bits, word 1 its flag byte, words 2-9 the
// register images: 2, 3, 8, 9 go to 0x99, 0x9B, 0x98, 0x9A (word 2, the
// unit's control word, carries the hardware unit number in bits 0-4);
// 4 to 7 go to 0x9E, 0x9F, 0xA0, 0xA1.
struct TextureUnitRecord {
  uint32_t words[10];
};
static_assert(sizeof(TextureUnitRecord) == 40);

// Hardware number of a unit record.
inline constexpr uint8_t kTuHardwareUnit[kTuUnits] = {0, 2, 4, 8, 10, 1, 3, 5, 9, 11};

// Header tables indexed by the stage count: the stages in use go to the
// discarding index.
extern const uint32_t kTuStageHeader[5];
extern const uint32_t kTuFirstPairHeader[5];
extern const uint32_t kTuSecondPairHeader[5];

// Whether a unit format is a plain one (false for 2, 3, 8, 9, 10, 14).
bool IsPlainUnitFormat(uint32_t format);
// Class of a format by its low four bits: 0 (4, 5, 12), 1 (0-3), 2 (others).
uint32_t IsNarrowFormat(uint32_t format);

struct TextureUnitBlock {
  ContextStateMasks* dirty;  // the state's dirty set
  uint32_t stageCount;       // 0 to 4
  uint32_t unitCount;        // 0 to 10
  uint8_t flags[2];          // the first: kTuFlag*; the second taken from the builder
  uint8_t unitReset;         // the units past the count are reset when all are rewritten
  uint8_t reserved;
  uint32_t flagWord;         // in the builder's block: bit 0 the stage-enable word changed
  uint32_t stageEnable;      // register 0xBD
  uint32_t scale[2];
  TextureStageRecord stages[kTuStages];
  TextureUnitRecord units[kTuUnits];
  uint32_t pairWords[kTuStages];  // the 0x7A word written after each stage control register

  void LoadDefaults();
  // Writes the dirty stage-enable word, stages and units. capable: the
  // device has the pair registers (any of bits 10-18 of its capability
  // word); stages: the device supports 3D stages.
  void Emit(BmBufferPool* stream, bool capable, bool stages);
  // The same into a sink of packets.h (StreamSink, DirectSink or BatchSink).
  template <class Sink>
  void EmitTo(Sink& sink, bool capable, bool stages);
  // The stage writer for stages that write only some colour channels.
  void EmitMasked(BmBufferPool* stream, bool capable);
  // Takes the builder's block whole; TakeChanges takes what it marks.
  void CopyFrom(const TextureUnitBlock& source);
  void TakeChanges(TextureUnitBlock& source);

  uint32_t& StageDirty() { return dirty->words[1]; }
  uint32_t& UnitDirty() { return dirty->words[2]; }

 private:
  void EmitStage(BmBufferPool* stream, uint32_t stage, uint32_t bits, bool capable);
  void EmitStageControls(BmBufferPool* stream, bool capable);
  void CountChanged(uint32_t oldCount, uint32_t newCount);
};
