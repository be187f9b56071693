// A pixel program: the compiled form of one pixel pipeline. It is built
// from a pipeline description (the render state's pipeline record, or a
// client program's) into up to four texture units and up to ten combiner
// stages, keeps its own copy of the pixel-pipeline state record, and is
// committed before each draw: only what changed since its last commit is
// computed again and handed to the context state.
//
// Descriptions are client data: stage counts, dependent lists and unit
// kinds are bounded before they index anything.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "kernel/3d/engine/texture_units.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/combiners.h"
#include "kernel/3d/render/pixel_pipeline_state.h"

class ContextState3d;
class PixelProgramCache;
class Surface3d;
struct PipelineRecord;

inline constexpr uint32_t kProgramModeClient = 2;
inline constexpr uint32_t kProgramModeFixed = 3;
inline constexpr uint32_t kProgramUnits = 4;
inline constexpr uint32_t kProgramStages = 11;  // ten ordinary stages and one more
inline constexpr uint32_t kProgramOrdinaryStages = 10;
inline constexpr uint32_t kProgramDependents = 4;
inline constexpr uint32_t kUnitKinds = 32;
inline constexpr uint32_t kStageBudget = 10;
inline constexpr uint32_t kMaxCandidates = 8;

// The program's texture-unit binding record, in the form of the render
// state's pipeline sub-block: word 0 the register shadow (all ones: every
// group of the binding changed), word 1 the binding flags (bit 0: a stage
// reads register 16, bit 1: register 17), byte 92 the target flags.
inline constexpr size_t kUbShadow = 0;
inline constexpr size_t kUbFlags = 4;
inline constexpr size_t kUbControl = 92;

// Bits of the program's dirty word beyond the state record's.
inline constexpr uint32_t kPgFirstCommit = 1u << 23;
inline constexpr uint32_t kPgUnitsChanged = 1u << 24;
inline constexpr uint32_t kPgCandidates = 1u << 25;
inline constexpr uint32_t kPgFinalStage = 1u << 26;
inline constexpr uint32_t kPgChosen = 1u << 27;
inline constexpr uint32_t kPgStageLayout = 1u << 28;
// The steps' trigger masks.
inline constexpr uint32_t kPgRegisterStepSkip = 0x20800200;
inline constexpr uint32_t kPgStageStep = 0x05800010;
inline constexpr uint32_t kPgEmitStages = 0x19A02006;

// Unit kinds the program names.
inline constexpr uint32_t kUnitKindTexture = 1;
inline constexpr uint32_t kUnitKindAuxFirst = 8;
inline constexpr uint32_t kUnitKindAuxSecond = 9;

// What the device tells the pixel programs: its texture-capability bits
// (0x7FC00 and 0x3C0 of its capability word), the level and flag word of
// its texture-capability object, and the override word of the sampling
// values (byte 255: no override).
struct PixelDeviceCaps {
  uint32_t bits = 0;
  uint32_t level = 4;
  uint32_t flags = 3;
  uint32_t samplingOverride = 0xFFFFFFFF;
};
inline constexpr uint32_t kCapsLaterBits = 0x7FC00;
inline constexpr uint32_t kCapsMiddleBits = 0x3C0;

// One texture unit of a program.
//
// Its register image, by register: image[0] 0x99 (bits 0-4 the hardware
// unit number, written at emission; bits 5-9 4; bits 10-17 the minimum
// and bits 18-25 the maximum LOD, x 16), image[1] 0x9B (0x400400 with the
// three sampling values in bits 0-2, 3-5 and 6-8), image[2] 0x9E (width in
// bits 0-13, height in bits 14-27), image[3] 0x9F (pitch in bits 0-11, the
// 9-bit LOD bias in bits 12-20), image[4] 0xA0 and image[5] 0xA1 (the four
// 16-bit transform coefficients), image[6] 0x98 (the surface's address
// word) and image[7] 0x9A (its format word).
struct PixelUnit {
  uint32_t kind;
  uint32_t texture;         // the state entry it samples (0-9)
  uint32_t cls;             // by kind: 0-3
  uint32_t flags;           // kPu*
  uint8_t status;
  uint8_t mode[2];
  uint32_t dependentCount;  // units that take this one's parameters
  uint32_t dependents[kProgramDependents];
  uint32_t classValues[3];
  uint32_t sizes[3];        // width, height, pitch as computed
  uint32_t sampling[3];
  uint16_t coefficients[4];
  float extraBias;
  uint32_t usageMask;
  int32_t placement;        // -1: none yet
  uint32_t selection;
  uint32_t flagWord;        // from the stage budget: byte 1 bits 0-7, byte 2 bits 8-15
  uint32_t formatValue;
  uint32_t image[8];
  uint32_t change;          // 1: first group, 2: second group
  Surface3d* surface;
  // The surface and placement the usage check last passed for.
  Surface3d* checkedSurface;
  uint32_t checkedPlacement;
  // The sizes the build gave the unit: what it goes back to without a
  // surface.
  uint32_t baseSizes[3];
  // The LOD and bias inputs the parameter fields were last made from (the
  // two LOD values, the bias and the extra bias, as bits) and the fields
  // made from them (the LOD fields in bits 0-15, the bias field in bits
  // 16-24), valid while paramsMade is set: the same inputs take the same
  // fields without converting again.
  uint32_t paramInputs[4];
  uint32_t paramFields;
  uint8_t paramsMade;
};
inline constexpr uint32_t kPuDirect = 0x1;
inline constexpr uint32_t kPuBound = 0x2;    // a texture is bound
inline constexpr uint32_t kPuFlagged = 0x4;  // the usage check failed
inline constexpr uint32_t kPuOnTarget = 0x8;  // its handle named nothing: it takes the colour target

// One candidate configuration: a channel mask per unit.
struct PixelCandidate {
  uint8_t masks[kProgramUnits];
  uint8_t travel[4];
};

// What the unit check of a candidate looks at for one unit.
struct UnitCheckView {
  uint32_t kind;
  uint32_t mask;
  uint32_t derivedMask;
  uint32_t dependents;
  uint32_t maxDependentSelection;  // the largest selection value among its dependents
  uint32_t boundWords[2];
};
// The unit check of one candidate over its units (in order); false rejects
// it.
bool CandidatePasses(const UnitCheckView* units, uint32_t count, const PixelDeviceCaps& caps,
                     uint32_t totalDependents);

// The per-unit value of the score: a (low, high) pair by the device bits
// and the channel mask, read at 16 x kind + 12, 8, 4 or 0 by the level
// mode, + 2 and + 1 by the sampling values. The tables hold one pair per
// channel-mask class for every kind and level mode, so only the mask-15
// place without the + 1 reads 0.0; the device bits 0x3C0 add no cases of
// their own (their places read the pairs of the same device set), and only
// the bits 0x7FC00 choose the second set.
float UnitScore(const PixelDeviceCaps& caps, uint32_t mask, uint32_t kind, uint32_t levelMode,
                const uint32_t sampling[3], uint32_t width, uint32_t height);
// The cap of the score: 4.0, 2.0 with six or more stages, halved with the
// device's texture-capability bits.
float ScoreCap(const PixelDeviceCaps& caps, uint32_t stageCount);

// Texture-unit parameter conversions: LOD to 8-bit x 16 in [0, 15], bias
// to 9 bits, coefficients to 16 bits (with or without the unit factor).
uint32_t LodField(float lod);
uint32_t BiasField(float bias, float extraBias);
uint16_t CoefficientField(float c, bool factor);

class PixelProgram : public OsHeapObject {
 public:
  PixelProgram();
  ~PixelProgram();
  PixelProgram(const PixelProgram&) = delete;
  PixelProgram& operator=(const PixelProgram&) = delete;

  void Reset();
  // False without a description.
  bool Build(PixelProgramCache* owner, const PipelineRecord* description, uint32_t buildMode);
  // Emits what changed into the target (the render context's context
  // state). False when never built, when a texture cannot be used or
  // without a target.
  bool Commit(uint32_t changedArgument, const PixelPipelineState& live, ContextState3d* target,
              const PixelDeviceCaps& caps);

  // Constant slot 2b + a; false (nothing stored) unless a is 0 or 1 and
  // the slot is below 20.
  bool SetConstant(uint32_t a, uint32_t b, const void* bytes);
  // Copies every set slot below limit into out (20 slots of 16 bytes).
  void ReadConstants(uint8_t (*out)[16], uint32_t limit) const;
  // The four coefficients of unit 0-3.
  void SetParams(uint32_t unit, const float coefficients[4]);

  // Whether the units that take the render context's colour target took
  // another one than the context holds now.
  bool TargetMoved() const;
  // Every unit that samples the surface (or its companion) lets go of it
  // and takes its surface again at the next commit. False when nothing
  // named it.
  bool ForgetSurface(const Surface3d* surface);

  // The steps of a commit, for the program's own use and its tests.
  bool UnitStep(const PixelDeviceCaps& caps);
  bool StageStep(const PixelDeviceCaps& caps);
  // The stage budget of a candidate already applied: the unit flag words
  // and the stage count; false over budget (redo set for a video texture).
  bool CountStages(uint32_t* count);
  void ApplyCandidate(const PixelCandidate& candidate);
  void AppendFixedStages();
  void EmitStages();

  PixelProgramCache* cache = nullptr;
  const ContextState3d* lastTarget = nullptr;
  uint8_t built = 0;
  uint8_t valid = 0;
  uint8_t redo = 0;
  uint32_t changed = 0;
  uint32_t unitCountShadow = 0;
  uint32_t stageCountShadow = 0;
  uint32_t mode = kProgramModeFixed;
  uint32_t samplerCount = 0;
  uint32_t unitCount = 0;
  uint32_t dirty = 0;
  PixelPipelineState state;
  uint8_t unitBinding[kUnitBindingBytes];
  // The engine register block handed to the context state.
  ContextStateMasks blockDirty = {};
  TextureUnitBlock block;
  PixelUnit units[kProgramUnits];
  uint32_t textureToUnit[kProgramUnits];
  uint32_t unitToTexture[kProgramUnits];
  UnitFormatEntry formats[kProgramUnits];
  struct {
    uint8_t set;
    uint8_t bytes[16];
  } constants[kPipelineConstants];
  uint32_t stageCount = 0;
  CombinerStage stages[kProgramStages];
  CombinerStageImage images[kProgramStages];
  uint32_t imageCount = 0;
  uint8_t imageSummary = 0;
  // Set by an emission and cleared by whatever changes the stage list or
  // the unit entries the halves read: while set, each image is the one its
  // stage last wrote, and an emission keeps those its stage would write
  // again unchanged.
  uint8_t imagesCurrent = 0;
  uint32_t bindingFlags = 0;
  CombinerStage* stageHead = nullptr;
  uint32_t appendedStages = 0;
  // The stage step: the accepted candidates, the chosen one and its score,
  // the final-stage flag byte, the step counter and the saved flag words.
  uint8_t candidateFlag = 0;
  PixelCandidate accepted[kMaxCandidates];
  uint32_t acceptedCount = 0;
  int32_t chosen = -1;
  float score = 0.0f;
  uint8_t finalStage = 0;
  uint32_t stageSteps = 0;
  uint32_t savedFlagWords[kProgramUnits] = {};
  uint32_t budgetStages = 0;
  // Set when a unit's handle named nothing at the last texture-unit step
  // and it took the render context's colour target (targetTaken, none
  // too): a target that changes since makes the units take it again.
  uint8_t takesTarget = 0;
  const Surface3d* targetTaken = nullptr;
  // The description the program was built from, kept whole so that a
  // cache hit can tell programs whose keys collide apart.
  PipelineRecord* source = nullptr;

 private:
  void SetUpUnit(uint32_t index, const PipelineRecord& d, uint32_t texture, uint32_t kind);
  void FinishUnit(PixelUnit& u);
  bool UnitParameters(PixelUnit& u, const PipelineStageEntry& e);
  bool UsageCheck(PixelUnit& u);
  void DropSurface(PixelUnit& u);
  void RegisterStep();
  void LoadClientConstants();
  void HandOverBinding(ContextState3d* target, bool all);
};
