// Texture-stage combiners: each stage of a pixel program has a colour half
// and an alpha half, and each half translates one combiner instruction (an
// operation with up to three arguments, a destination and modifiers) into
// two register images, word A and word B. Besides the ordinary stages
// built from a client's stage records (type 4), a program appends fixed
// stage sequences of its own, named by their type codes.
//
// The instructions come from a client's pipeline record: every operation,
// register index, modifier and selector is bounded to its table or field.
#pragma once

#include <stdint.h>

#include "core/regs/engine3d.h"

struct StageArgumentSet;
struct PixelPipelineState;

inline constexpr uint32_t kCombinerOperations = 11;
inline constexpr uint8_t kNoArgument = 7;
inline constexpr uint32_t kCombinerRegisters = 32;
inline constexpr uint32_t kWordADefault = 0x80;
inline constexpr uint32_t kWordBDefault = k3dStageSecondDefault;

// Stage types.
inline constexpr uint32_t kStagePassThrough = 1;
inline constexpr uint32_t kStageOrdinary = 4;
inline constexpr uint32_t kStageSingle5 = 5;
inline constexpr uint32_t kStageTriple6 = 6;
inline constexpr uint32_t kStageTriple9 = 9;
inline constexpr uint32_t kStagePairFirst = 12;
inline constexpr uint32_t kStagePairSecond = 13;
inline constexpr uint32_t kStageTriple14 = 14;
inline constexpr uint32_t kStageSingle17 = 17;
inline constexpr uint32_t kStageSingle18 = 18;
inline constexpr uint32_t kStageSingle19 = 19;

// One row of the operation table: the instruction argument that feeds each
// hardware slot (kNoArgument: empty) and the flags of word B.
struct CombinerOperation {
  uint8_t destination;
  uint8_t slot[3];
  uint32_t flags;
};
extern const CombinerOperation kCombinerOperationTable[kCombinerOperations];
// The modifier remap applied at emission, by the argument's 4-bit modifier.
extern const uint8_t kModifierRemap[16];

// The class and index of a register number; texture registers are class 3
// with an index below 4. Numbers from 32 (255: none) are class 0 index 0.
struct RegisterClass {
  uint8_t cls;
  uint8_t index;
};
RegisterClass ClassOfRegister(uint32_t reg);
bool IsTextureRegister(uint32_t reg);

// What a program keeps for each texture unit that the combiners read:
// flag bits (0-2 set by the chosen candidate; 1: modifiers are remapped
// at emission; 3: the unit is written by a stage; 4: see the unit check),
// the hardware unit number, the candidate's channel and derived masks, a
// 4-bit field and the unit's default word.
struct UnitFormatEntry {
  uint32_t flags;
  uint32_t unitNumber;  // bits 0-4
  uint8_t channelMask;
  uint8_t derivedMask;
  uint8_t field;        // 8 at reset
  uint32_t defaultWord;
};
inline constexpr uint32_t kUfRemap = 0x02;
inline constexpr uint32_t kUfWritten = 0x08;
inline constexpr uint32_t kUfRead = 0x10;

// A source that a fixed stage reads in place of a register: its register
// field (byte 8, bits 0-4) and selector (byte 9, bits 0-1).
struct SpecialSource {
  uint8_t bytes[10];
};

// Slot kinds.
inline constexpr uint32_t kSlotTexture = 1;
inline constexpr uint32_t kSlotOther = 2;
inline constexpr uint32_t kSlotSpecial = 3;
inline constexpr uint32_t kSlotKindMask = 7;
inline constexpr uint32_t kSlotWritten = 0x10;  // the texture was already written

struct CombinerSlot {
  uint32_t word;
  UnitFormatEntry* entry;
  const SpecialSource* special;
};

class CombinerStage;

class CombinerHalf {
 public:
  // Word A 0x80, word B 0x400400, every slot kind 2, no destination.
  void SetDefault();
  // Translates one instruction; entries are the program's four unit
  // format entries (texture registers 0-3).
  void Build(const StageArgumentSet& instruction, UnitFormatEntry* entries, bool alphaFamily);
  // Writes the two images into image[0] and image[1] with the unit numbers
  // and remapped modifiers, and ORs the register reads into bits 0-1 of
  // the binding flags.
  bool Emit(uint32_t* image, uint32_t* bindingFlags) const;
  // While stop is clear, every argument of register 5 reads 15 instead;
  // the alpha family then stops when its destination is register 5.
  void SubstituteRegister5(bool* stop, bool alphaFamily);

  uint32_t wordA = kWordADefault;
  uint32_t wordB = kWordBDefault;
  uint8_t noDestination = 1;
  UnitFormatEntry* destination = nullptr;
  CombinerSlot slots[3] = {};
  uint8_t readsRegister16 = 0;
  uint8_t readsRegister17 = 0;
};

// One read a stage records: a register and its swizzle, and the hardware
// read slot it was given.
struct CombinerRead {
  uint32_t reg;
  uint32_t swizzle;
  uint32_t slot;
};
inline constexpr uint32_t kStageReads = 8;
inline constexpr uint32_t kFirstReadSlot = 14;
inline constexpr uint32_t kReadSlots = 2;

// A stage image of the program's register block (40 bytes): its flag word
// (bit 0x02: constants present), the register-15 byte, the colour half's
// words at 2-3, the two constant images at 4-7 and the alpha half's words
// at 8-9.
struct CombinerStageImage {
  uint32_t flags;
  uint32_t register15;  // low byte
  uint32_t colour[2];
  uint32_t constants[4];
  uint32_t alpha[2];
};
static_assert(sizeof(CombinerStageImage) == 40);
inline constexpr uint32_t kImageConstantsPresent = 0x02;

class CombinerStage {
 public:
  CombinerStage();
  // Back to an ordinary stage with empty read lists and constants and both
  // halves in their defaults.
  void Clear();
  // Records that the stage reads a register.
  void NoteRead(uint32_t reg, uint32_t swizzle);
  // Gives the recorded reads hardware read slots from 14 (general reads
  // first; at most two slots); false when a replicated read found none.
  bool AssignReadSlots();
  // Constant image 0 or 1 from four values, each trunc(c x 1024) clamped
  // to [-1024, 1023] (NaN as 0): x | w << 16 and z | y << 16.
  void SetConstantImage(uint32_t index, const float values[4]);
  // The same from values already in 11-bit steps.
  void SetConstantImageFixed(uint32_t index, const int32_t values[4]);
  // Writes the stage's image from its halves and constants.
  bool EmitImage(const PixelPipelineState& state, CombinerStageImage* image, uint32_t* bindingFlags);
  // Whether the state marks the constants for this stage's emission (an
  // ordinary stage's two constants are then made into its images).
  bool ConstantsMarked(const PixelPipelineState& state) const;
  // Whether an emission now would write the image the last one wrote, the
  // halves and the unit entries they read unchanged since: no constant
  // image was set since, and the image came from the halves alone with
  // the constants not marked now, or from the halves and the marked
  // constants, marked again and equal to those it was made from.
  bool KeepsImage(const PixelPipelineState& state) const;
  // What such an emission leaves besides the image: the register reads
  // ORed into bits 0-1 of the binding flags and the constant count; the
  // image's flag word is returned.
  uint32_t KeepImage(uint32_t* bindingFlags);

  // The fixed sequences: each sets the type, clears the lists and builds
  // both halves from the registers given.
  void BuildPassThrough();
  void BuildPair(uint32_t type, uint32_t parameter, uint32_t format);
  void BuildSingle5(uint32_t first, uint32_t second);
  void BuildTriple6(uint32_t step);
  void BuildTriple9(uint32_t step);
  void BuildTriple14(uint32_t step);
  void BuildSingle17();
  void BuildSingle18(uint32_t format);
  void BuildSingle19();

  uint32_t type = kStageOrdinary;
  CombinerRead general[kStageReads] = {};
  uint32_t generalCount = 0;
  CombinerRead replicated[kStageReads] = {};
  uint32_t replicatedCount = 0;
  uint32_t constantImages[2][2] = {};
  uint32_t constantCount = 0;
  uint32_t readMask = 0;
  uint8_t constantsPresent = 0;
  uint32_t index = 0;
  uint32_t parameter = 0;
  uint32_t slotsUsed = 0;
  CombinerHalf colour;
  CombinerHalf alpha;
  CombinerStage* next = nullptr;  // the program's linked stage list
  // The two constants the constant images were last made from by the
  // emission of an ordinary stage (valid while no other writer replaced
  // the images since): an emission with the same constants keeps them.
  uint8_t constantSourceValid = 0;
  uint8_t constantSource[2][16] = {};
  // What the last emission made the image from (kImageFrom*).
  uint8_t imageFrom = 0;
};
inline constexpr uint8_t kImageFromOther = 0;
inline constexpr uint8_t kImageFromHalves = 1;
inline constexpr uint8_t kImageFromConstants = 2;

// The 11-bit conversion of a constant: trunc(c x 1024) clamped to
// [-1024, 1023], NaN as 0.
int32_t ConstantStep(float value);
uint32_t PackConstantImage(const int32_t values[4], uint32_t word);
