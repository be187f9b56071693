// The blit set-up of a device's blit engine: the colour transform its
// blits run through (TransformState) and the texture stages that bind the
// blit's sources (TextureStageSetup). Both are register-image blocks: the
// transform fills texture-unit records, the stage set-up stage records;
// the blocks' emitters bring them to the engine.
#pragma once

#include <stddef.h>
#include <stdint.h>

class Surface3d;

// ---- Register-image blocks ---------------------------------------------------------------------

// One texture-unit record: flags (bit 0 full: words C and D are its own;
// bits 1-2: words E-H present) and the images of registers 0x99, 0x9B,
// 0x98, 0x9A, 0x9E, 0x9F, 0xA0, 0xA1.
struct HwUnitRecord {
  uint32_t flags;
  uint32_t a, b, c, d;
  uint32_t e, f, g, h;
};
static_assert(sizeof(HwUnitRecord) == 36);

inline constexpr uint32_t kHwUnitRecords = 10;
inline constexpr uint32_t kHwUnitFull = 0x1;
inline constexpr uint32_t kHwUnitSecondGroup = 0x6;
inline constexpr uint32_t kHwUnitDefaultB = 0x00400400;
inline constexpr uint32_t kHwUnitResetA = 0x80;

class HwStateBlock {
 public:
  HwStateBlock();
  virtual ~HwStateBlock() = default;
  HwStateBlock(const HwStateBlock&) = delete;
  HwStateBlock& operator=(const HwStateBlock&) = delete;

  // Runs the pending emission (false from it: false, nothing changed),
  // then resets the records from unitCount up to the last in use.
  bool Flush(uint8_t* wasPending = nullptr);
  virtual bool EmitPending() { return true; }
  // Records the block works on: 5 below six units, else 10.
  uint32_t RecordsInUse() const { return unitCount < 6 ? 5 : kHwUnitRecords; }

  uint32_t word = 0;
  uint32_t unitCount = 1;
  HwUnitRecord records[kHwUnitRecords];
  uint8_t pending = 0;
  uint8_t emitted = 0;
};

// One texture-stage record: word 0 the stage's control word (bits 16-18
// equal to 1: disabled), words 1-2 a pair, words 3-11 register images,
// then the texture size, offsets and scales.
struct BlitStageRecord {
  uint32_t words[12];
  int32_t width;
  int32_t height;
  float uOffset;
  float vOffset;
  float uScale;
  float vScale;
};
static_assert(sizeof(BlitStageRecord) == 72);
static_assert(offsetof(BlitStageRecord, width) == 48);

inline constexpr uint32_t kBlitStages = 4;
inline constexpr uint32_t kStageDisabledMask = 0x70000;
inline constexpr uint32_t kStageDisabled = 0x10000;

class StageStateBlock {
 public:
  StageStateBlock();
  virtual ~StageStateBlock() = default;
  StageStateBlock(const StageStateBlock&) = delete;
  StageStateBlock& operator=(const StageStateBlock&) = delete;

  // The pending emission first (its false is returned); true when nothing
  // was pending.
  bool FlushPending();
  virtual bool StampSources(uint32_t value) = 0;
  virtual bool FlushSources() = 0;
  virtual bool BuildStages() = 0;

  BlitStageRecord stages[kBlitStages];
  uint32_t stageCount = 0;
  uint8_t pending = 0;
  uint8_t emitted = 0;
};

// ---- Colour transform --------------------------------------------------------------------------

struct BlitColourControls {
  uint8_t enabled = 0;
  float brightness = 0.0f;
  float contrast = 1.0f;
  float saturation = 1.0f;
  float hue = 0.0f;
};

// Source and destination modes.
inline constexpr uint32_t kBlitModeRgb = 0;
inline constexpr uint32_t kBlitModeYuv = 1;
inline constexpr uint32_t kBlitModePlanar3 = 2;
inline constexpr uint32_t kBlitModePlanar2 = 3;

// A 4 x 4 matrix, row-major: out = M x in + bias.
struct BlitMatrix {
  float m[4][4];
};

// The two conversions of standard-definition studio range: RGB to Y'CbCr
// and back (each channel 0..1).
extern const BlitMatrix kBlitRgbToYuv;
extern const BlitMatrix kBlitYuvToRgb;

class TransformState : public HwStateBlock {
 public:
  TransformState();
  ~TransformState() override = default;

  // Writes the transform program (or the pass-through) into the records.
  bool EmitPending() override;

  bool SetSourceMode(uint32_t mode);
  bool SetDestinationMode(uint32_t mode);
  // Null disables the controls.
  bool SetControls(const BlitColourControls* controls);
  bool Setup(uint32_t sourceMode, uint32_t destinationMode, const BlitColourControls* controls);
  // Classifies the two surfaces' formats; false for a pair no blit takes.
  bool SetupBlit(const Surface3d* source, const Surface3d* destination, const BlitColourControls* controls);
  // Builds the result matrix and bias; false for a pair of modes it has
  // no transform for.
  bool Compute();

  bool dirty = true;
  BlitColourControls controls;
  uint32_t active = 0;
  uint32_t count = 4;
  uint32_t sourceMode = 0;
  uint32_t destinationMode = 0;
  // The conversion pair (into Y'CbCr, into RGB).
  const BlitMatrix* toYuv = &kBlitRgbToYuv;
  const BlitMatrix* toRgb = &kBlitYuvToRgb;
  BlitMatrix result;
  float bias[4] = {};
  // The control terms: brightness, contrast, saturation (for each chroma
  // row) and the hue rotation {cos, sin, -sin, cos}.
  float brightness = 0.0f;
  float contrast = 1.0f;
  float saturation[2] = {1.0f, 1.0f};
  float hueRotation[4] = {1.0f, 0.0f, -0.0f, 1.0f};
};

// The 11-bit two's-complement field of a coefficient: value x 1024
// truncated toward zero (clamped to 32 bits, NaN as 0), its low 11 bits.
uint32_t BlitCoefficientField(float value);

// ---- Texture stages ----------------------------------------------------------------------------

// Flag bits of a blit source.
inline constexpr uint64_t kBlitSourcePalette = 0x1;
inline constexpr uint64_t kBlitSourceHeightFromBottom = 0x2;
// Filters (anything else: none).
inline constexpr uint32_t kBlitFilterLinear = 1;
inline constexpr uint32_t kBlitFilterOther = 2;

struct BlitSource {
  uint64_t flags = 0;
  Surface3d* surface = nullptr;
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  uint32_t filter = 0;
  uint32_t palette = 0;
};
static_assert(sizeof(BlitSource) == 40);

// Stage-record words the set-up writes: the pair and third word copied
// from the surface's descriptor (address, format and width, height), the
// palette slot and the word after it, and the control bytes 0-15 in
// words 8-11.
inline constexpr uint32_t kStageWordAddress = 1;
inline constexpr uint32_t kStageWordFormat = 2;
inline constexpr uint32_t kStageWordHeight = 3;
inline constexpr uint32_t kStageWordPalette = 4;
inline constexpr uint32_t kStageWordPaletteNext = 5;
inline constexpr uint32_t kStageWordControl = 8;

class TextureStageSetup : public StageStateBlock {
 public:
  TextureStageSetup();
  ~TextureStageSetup() override = default;

  bool StampSources(uint32_t value) override;
  bool FlushSources() override;
  bool BuildStages() override;

  // False (nothing changed) without a main source; absent optional
  // sources are zeroed.
  bool SetSources(const BlitSource* main, const BlitSource* optional1, const BlitSource* optional2,
                  const BlitSource* optional3);
  // The stage mask: 0x1000 for each stage in use, from bit 12 up.
  uint32_t StageMask() const { return stageMask; }

  BlitSource sources[kBlitStages];
  uint32_t mainPresent = 0;
  uint32_t stageMask = 0;

 private:
  void BuildStage(uint32_t index);
  void ClearStage(uint32_t index);
};

// The control byte k of a stage record.
uint8_t& StageControlByte(BlitStageRecord& stage, uint32_t k);

// ---- Texture coordinates of a blit quad --------------------------------------------------------

struct BlitRect {
  int32_t left, top, right, bottom;
};

// Rotates a normalised rectangle by quarter turns (the low two bits).
void RotateTexCoords(uint32_t turns, float* left, float* right, float* top, float* bottom);

// The texture coordinates of the quad's three corners for every enabled
// stage: the inner rectangle normalised within the outer one, turned back
// by the rotation, mapped into the source rectangle of a texture of
// width x height texels and through each stage's offsets and scales, with
// the half-texel terms of the mode (1: u unscaled, 2: v, 3: both), the
// mirror bits (0: u, 1: v) and the bias flag (v lowered half a texel).
// Each stage goes out as one run of three packets {0x58 + k, 0x5D, 0x5E,
// 0x63 + stage; 0, 0, v, u} behind its count word. Words written (0 when
// the stream had no room or an extent is empty).
uint32_t ComputeBlitTexCoords(StageStateBlock& stages, uint32_t* (*reserve)(void*, uint32_t), void* stream,
                              const BlitRect& source, const BlitRect& outer, const BlitRect& inner,
                              uint32_t textureWidth, uint32_t textureHeight, uint32_t rotation, uint32_t mirror,
                              uint32_t halfTexelMode, bool bias);

// The device blit engine's set-up, made in and cleared from its bytes.
void InitBlitSetup3d(void* transformState, void* stageSetup);
void CleanupBlitSetup3d(void* transformState, void* stageSetup);
