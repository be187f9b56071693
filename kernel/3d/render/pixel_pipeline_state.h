// The pixel-pipeline state record: everything a pixel program is built
// from and emits (ten sampler/stage entries, the bound client program or
// the fixed-function description, twenty constants) with the dirty and
// compare masks that say which parts changed. The render state keeps the
// live record; every pixel program keeps a copy of its own and brings it
// up to date before it emits, by comparing (TakeChanges) or by taking the
// groups the live record marks (TakeMarked).
//
// The record is a packed byte image (its stage entries are 130 bytes), so
// its fields are read and written by value only.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct PipelineRecord;
struct RenderContext3d;

inline constexpr uint32_t kPipelineEntries = 10;
inline constexpr uint32_t kPipelineConstants = 20;
// The constants the constant block (dirty bit 1) covers.
inline constexpr uint32_t kPipelineBlockConstants = 8;
// Entries 8 and 9 are the two auxiliary samplers.
inline constexpr uint32_t kPipelineAuxFirst = 8;

// Bits of the record's dirty word (and of its compare mask).
inline constexpr uint32_t kPpsProgram = 1u << 0;
inline constexpr uint32_t kPpsConstantBlock = 1u << 1;
inline constexpr uint32_t kPpsConstants = 1u << 2;
inline constexpr uint32_t kPpsStages = 1u << 3;
inline constexpr uint32_t kPpsOptionBit0 = 1u << 4;
inline constexpr uint32_t kPpsOptionField = 1u << 5;
inline constexpr uint32_t kPpsOptionBits12 = 1u << 6;
inline constexpr uint32_t kPpsStageMask = 1u << 7;
inline constexpr uint32_t kPpsLinkedFirst = 1u << 9;
inline constexpr uint32_t kPpsLinkedSecond = 1u << 10;

// Fields of the option word: bit 0 (the final-stage mode; it also sets bit
// 31 of the cache key), bits 1-2, and a 27-bit field in bits 3-29.
inline constexpr uint32_t kPpsOptionMode = 0x1;
inline constexpr uint32_t kPpsOptionPair = 0x6;
inline constexpr uint32_t kPpsOptionWide = 0x3FFFFFF8;

// Bits of a stage entry's dirty word (and compare mask), as the comparison
// sets them: the texture words taken; the bump environment; U addressing;
// V addressing or the coordinate index; the border; the filters; the LOD
// bias and level or the LOD words; coordinate generation, W addressing or
// the transform flags; the enable bytes; the texture factor. (A live
// entry's dirty word is its stage's, kSg*, whose bits fall at the same
// places.)
inline constexpr uint32_t kPeTexture = 0x08u << 8;
inline constexpr uint32_t kPeBumpEnvironment = 0x20u << 8;
inline constexpr uint32_t kPeAddressU = 0x40u << 8;
inline constexpr uint32_t kPeAddressVOrCoord = 0x80u << 8;
inline constexpr uint32_t kPeBorder = 0x01u << 16;
inline constexpr uint32_t kPeFilters = 0x02u << 16;
inline constexpr uint32_t kPeLod = 0x04u << 16;
inline constexpr uint32_t kPeTexGen = 0x08u << 16;
inline constexpr uint32_t kPeEnables = 0x10u << 16;
inline constexpr uint32_t kPeTextureFactor = 0x20u << 16;
// The compare-mask bits that select each group.
inline constexpr uint32_t kPeTextureGroup = (0xC8u << 8) | (0x0Fu << 16);
inline constexpr uint32_t kPeMatrixGroup = (0x20u << 8) | (0x20u << 16);
inline constexpr uint32_t kPeLodGroup = 0x10u << 16;

// The sampling bits (bytes 16-19 of an entry, as one little-endian word):
// U addressing, coordinate generation and V addressing; the coordinate
// index and the mip filter; anisotropic filtering, the minification and
// magnification filters; the filters' range (range 2 lets them reach 5),
// W addressing.
inline constexpr uint32_t kSampleAddressU = 0x7u;
inline constexpr uint32_t kSampleTexGen = 0x18u;
inline constexpr uint32_t kSampleAddressV = 0xE0u;
inline constexpr uint32_t kSampleCoordIndex = 0x3Fu << 8;
inline constexpr uint32_t kSampleMipFilter = 0xC0u << 8;
inline constexpr uint32_t kSampleAnisotropic = 0x01u << 16;
inline constexpr uint32_t kSampleMinFilter = 0x0Eu << 16;
inline constexpr uint32_t kSampleMagFilter = 0x70u << 16;
inline constexpr uint32_t kSampleRangeLow = 0x80u << 16;
inline constexpr uint32_t kSampleRangeHigh = 0x01u << 24;
inline constexpr uint32_t kSampleAddressW = 0x1Eu << 24;
inline constexpr uint32_t kSampleFilterBits =
    kSampleMipFilter | kSampleAnisotropic | kSampleMinFilter | kSampleMagFilter | kSampleRangeLow | kSampleRangeHigh;

#pragma pack(push, 1)

// One sampler/stage entry (130 bytes).
struct PipelineStageEntry {
  uint32_t dirty;
  uint32_t compareMask;
  uint32_t textureA;      // the handle kind of the texture
  uint32_t textureB;      // the texture handle
  uint8_t sampling[4];    // kSample*
  uint32_t border;
  uint32_t lodBias;
  uint32_t maxMipLevel;
  int32_t lodLevels;      // 1000
  float lodRange[2];      // -1000.0, 1000.0
  // The stage's colour and alpha operations, each with its three
  // arguments, and its result argument: an operation of 1 (the reset
  // value) is off, and the walk over the stages' textures ends there.
  uint32_t colourOp;      // 1
  uint32_t colourArgs[3];
  uint32_t alphaOp;       // 1
  uint32_t alphaArgs[3];
  uint32_t resultArg;     // 1
  uint32_t textureFactor[4];  // four floats
  float bumpEnvironment[6];   // the bump matrix 1.0, 0, 0, 1.0; luminance scale 1.0 and offset 0
  uint32_t transformFlags;
  uint8_t enables[2];     // entry 8: byte 124, entry 9: byte 125 switch its sampler on
  uint8_t tail[4];
};

struct PixelPipelineState {
  uint32_t dirty;
  uint32_t dirtyConstants;
  uint32_t compareMask;
  uint32_t constantMask;
  uint32_t options;
  uint32_t stageDirty;
  uint32_t stageDirtyMask;
  PipelineStageEntry entries[kPipelineEntries];
  uint32_t stageMask;
  uint32_t programId;
  const PipelineRecord* description;
  uint32_t clientProgram;
  uint8_t constants[kPipelineConstants][16];
  const uint32_t* firstLinked;   // its word 5 is tracked
  const uint32_t* secondLinked;  // its word 4 is tracked
  uint32_t reserved1684;
  uint8_t cleared1688[20];
  uint32_t mask;
  uint32_t firstLinkedValue;
  uint32_t secondLinkedValue;

  // The reset values; with a render context, entries 8 and 9 sample the
  // context's first and second auxiliary surface.
  void Reset(RenderContext3d* context);
  static void ResetStage(PipelineStageEntry& entry);
  // Copies every byte, then refreshes the linked values.
  void CopyFrom(const PixelPipelineState& live);
  // Whether an auxiliary sampler (entry 8 or 9) is switched on.
  bool AuxSamplerOn(uint32_t index) const {
    return index == 0 ? entries[8].enables[0] != 0 : entries[9].enables[1] != 0;
  }
  // The linked values as the linked records hold them now (the stored ones
  // without a link).
  uint32_t FirstLinkedNow() const;
  uint32_t SecondLinkedNow() const;
};

#pragma pack(pop)

static_assert(sizeof(PipelineStageEntry) == 130);
static_assert(offsetof(PipelineStageEntry, sampling) == 16);
static_assert(offsetof(PipelineStageEntry, lodLevels) == 32);
static_assert(offsetof(PipelineStageEntry, border) == 20);
static_assert(offsetof(PipelineStageEntry, lodBias) == 24);
static_assert(offsetof(PipelineStageEntry, colourOp) == 44);
static_assert(offsetof(PipelineStageEntry, colourArgs) == 48);
static_assert(offsetof(PipelineStageEntry, alphaOp) == 60);
static_assert(offsetof(PipelineStageEntry, resultArg) == 76);
static_assert(offsetof(PipelineStageEntry, textureFactor) == 80);
static_assert(offsetof(PipelineStageEntry, bumpEnvironment) == 96);
static_assert(offsetof(PipelineStageEntry, transformFlags) == 120);
static_assert(offsetof(PipelineStageEntry, enables) == 124);
static_assert(sizeof(PixelPipelineState) == 1720);
static_assert(offsetof(PixelPipelineState, options) == 16);
static_assert(offsetof(PixelPipelineState, entries) == 28);
static_assert(offsetof(PixelPipelineState, stageMask) == 1328);
static_assert(offsetof(PixelPipelineState, description) == 1336);
static_assert(offsetof(PixelPipelineState, clientProgram) == 1344);
static_assert(offsetof(PixelPipelineState, constants) == 1348);
static_assert(offsetof(PixelPipelineState, firstLinked) == 1668);
static_assert(offsetof(PixelPipelineState, secondLinked) == 1676);
static_assert(offsetof(PixelPipelineState, cleared1688) == 1688);
static_assert(offsetof(PixelPipelineState, mask) == 1708);
static_assert(offsetof(PixelPipelineState, secondLinkedValue) == 1716);

// Brings a program's copy up to date from the live record by comparison;
// stage counts above ten act as ten.
void TakeChanges(PixelPipelineState& copy, const PixelPipelineState& live, uint32_t count);
// Copies, without comparing, the groups the live record's dirty bits name;
// the copy's dirty words become the live record's.
void TakeMarked(PixelPipelineState& copy, const PixelPipelineState& live, uint32_t count);

// The texture-unit binding record of a pixel program (108 bytes): cleared,
// with bit 6 of byte 92 set.
inline constexpr uint32_t kUnitBindingBytes = 108;
inline constexpr uint32_t kUnitBindingControl = 92;
inline constexpr uint8_t kUnitBindingKind2 = 0x40;
void ClearUnitRecord(uint8_t* record);
