// The blit set-up of a device's blit engine: the colour transform its
// blits run through (TransformState) and the texture stages that bind the
// blit's sources (TextureStageSetup). Both are register-image blocks: the
// transform fills texture-unit records, the stage set-up stage records;
// the blocks' emitters bring them to the engine.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kernel/3d/engine/hw_state_block.h"

class Surface3d;

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
  bool ConvertsColour() const override { return active != 0; }

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

  // The pending fill: the stages built from the sources.
  bool EmitPending() override { return BuildStages(); }
  // Each present source surface brought in step with the processor's
  // writes (its synchronisation sequence) unless it is in it already.
  void FlushSources() override;
  bool BuildStages() override;
  // The value stored in each present source surface's usage stamp.
  bool StampSources(uint32_t value);

  // False (nothing changed) without a main source; absent optional
  // sources are zeroed.
  bool SetSources(const BlitSource* main, const BlitSource* optional1, const BlitSource* optional2,
                  const BlitSource* optional3);
  // The stage mask: 0x1000 for each stage in use, from bit 12 up.
  uint32_t StageMask() const { return stageMask; }

  BlitSource sources[kHwStageRecords];
  uint32_t mainPresent = 0;
  uint32_t stageMask = 0;

 private:
  void BuildStage(uint32_t index);
  void ClearStage(uint32_t index);
};

// The control byte k of a stage record.
uint8_t& StageControlByte(HwStageRecord& stage, uint32_t k);

// The device blit engine's set-up, made in and cleared from its bytes.
void InitBlitSetup3d(void* transformState, void* stageSetup);
void CleanupBlitSetup3d(void* transformState, void* stageSetup);
