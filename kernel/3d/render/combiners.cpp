// Texture-stage combiners: instructions translated into the two register
// images of a stage half, the stage images a program emits, and the fixed
// stage sequences.
#include "kernel/3d/render/combiners.h"

#include <math.h>
#include <string.h>

#include "core/same_bytes.h"
#include "kernel/3d/render/pixel_pipeline_state.h"
#include "kernel/3d/render/render_state.h"

const CombinerOperation kCombinerOperationTable[kCombinerOperations] = {
    {0, {0, kNoArgument, kNoArgument}, 0x400},  {0, {0, 1, kNoArgument}, 0xC00}, {0, {0, 1, kNoArgument}, 0x600},
    {0, {0, kNoArgument, 1}, 0x0},          {0, {0, kNoArgument, 1}, 0x1000}, {0, {0, kNoArgument, 1}, 0x2000},
    {0, {1, 2, 0}, 0x800},              {0, {0, 1, 2}, 0xA00},       {0, {0, 1, 2}, 0x4C00},
    {0, {0, 1, 2}, 0x5C00},             {0, {0, 1, 2}, 0x7C00},
};

const uint8_t kModifierRemap[16] = {4, 5, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15};

namespace {

// Field places of the three slots: register and modifier in word A,
// selector in word B.
constexpr uint32_t kRegShift[3] = {5, 14, 23};
constexpr uint32_t kModShift[3] = {10, 19, 28};
constexpr uint32_t kSelShift[3] = {0, 3, 6};
constexpr uint32_t kArgumentRegisterMask = 0x1F;
constexpr uint32_t kModMask = 0xF;
constexpr uint32_t kSelMask = 0x3;
constexpr uint32_t kDestShift = 20;
constexpr uint32_t kDestMask = 0xFu << kDestShift;

// The word-B flag changes of SubstituteRegister5 per slot: bits set and
// cleared.
constexpr uint32_t kSubstituteSet[3] = {1u << 1, 1u << 4, 1u << 7};
constexpr uint32_t kSubstituteClear[3] = {1u << 2, 1u << 5, 1u << 9};

uint32_t FieldOf(uint32_t word, uint32_t shift, uint32_t mask) { return word >> shift & mask; }
uint32_t WithField(uint32_t word, uint32_t shift, uint32_t mask, uint32_t value) {
  return (word & ~(mask << shift)) | (value & mask) << shift;
}

bool Replicated(uint32_t swizzle) {
  return swizzle == 0x00 || swizzle == 0x55 || swizzle == 0xAA || swizzle == 0xFF;
}

// A half of a fixed stage: one operation of the table over the registers
// given (255: none), to a destination register.
void FixedHalf(CombinerHalf& half, uint32_t operation, uint32_t destination, uint32_t a, uint32_t b, uint32_t c,
               UnitFormatEntry* entries, bool alphaFamily) {
  StageArgumentSet set;
  memset(&set, 0, sizeof set);
  set.operation = operation;
  set.word4 = destination;
  set.args[0].index = a;
  set.args[1].index = b;
  set.args[2].index = c;
  half.Build(set, entries, alphaFamily);
}

}  // namespace

RegisterClass ClassOfRegister(uint32_t reg) {
  if (reg < 4) return {3, static_cast<uint8_t>(reg)};
  switch (reg) {
    case 4: return {0, 0};
    case 5: return {0, 1};
    case 14: return {2, 0};
    case 15: return {2, 1};
    case 16: return {1, 0};
    case 17: return {1, 1};
    default: return {0, 0};
  }
}

bool IsTextureRegister(uint32_t reg) {
  const RegisterClass c = ClassOfRegister(reg);
  return c.cls == 3 && c.index < 4;
}

int32_t ConstantStep(float value) {
  // Without branches (NaN as 0, then clamped before the conversion, which
  // gives what truncating first and clamping after gives).
  float scaled = value == value ? value * 1024.0f : 0.0f;
  scaled = scaled < 1023.0f ? scaled : 1023.0f;
  scaled = scaled > -1024.0f ? scaled : -1024.0f;
  return static_cast<int32_t>(scaled);
}

uint32_t PackConstantImage(const int32_t v[4], uint32_t word) {
  const auto field = [](int32_t x) { return static_cast<uint32_t>(x) & 0x7FF; };
  return word == 0 ? field(v[0]) | field(v[3]) << 16 : field(v[2]) | field(v[1]) << 16;
}

// ---- Halves -----------------------------------------------------------------------------------

void CombinerHalf::SetDefault() {
  wordA = kWordADefault;
  wordB = kWordBDefault;
  noDestination = 1;
  destination = nullptr;
  for (CombinerSlot& s : slots) s = CombinerSlot{kSlotOther, nullptr, nullptr};
  readsRegister16 = readsRegister17 = 0;
}

void CombinerHalf::Build(const StageArgumentSet& in, UnitFormatEntry* entries, bool alphaFamily) {
  // An operation beyond the table takes its first row.
  const CombinerOperation& op = kCombinerOperationTable[in.operation < kCombinerOperations ? in.operation : 0];
  noDestination = 1;
  destination = nullptr;
  readsRegister16 = readsRegister17 = 0;
  for (CombinerSlot& s : slots) s = CombinerSlot{kSlotOther, nullptr, nullptr};
  wordA = 0;
  wordB = op.flags;

  if (op.destination != kNoArgument) {
    const uint32_t reg = in.word4;
    if (IsTextureRegister(reg) && entries != nullptr) {
      destination = &entries[reg];
      destination->flags |= kUfWritten;
      noDestination = 0;
    }
    wordB = WithField(wordB, kDestShift, 0xF, reg);
    wordB = WithField(wordB, 17, 7, in.word8);
    wordB = WithField(wordB, 24, 1, in.word12);
  }

  uint32_t regs[3] = {~0u, ~0u, ~0u};
  for (uint32_t k = 0; k < 3; ++k) {
    const uint8_t arg = op.slot[k];
    if (arg == kNoArgument) continue;
    const uint32_t reg = in.args[arg].index;
    regs[k] = reg;
    CombinerSlot& slot = slots[k];
    if (IsTextureRegister(reg) && entries != nullptr) {
      slot.entry = &entries[reg];
      slot.word = kSlotTexture | ((slot.entry->flags & kUfWritten) != 0 ? kSlotWritten : 0);
    } else {
      slot.word = kSlotOther;
    }
    wordA = WithField(wordA, kRegShift[k], kArgumentRegisterMask, reg < kCombinerRegisters ? reg : 0);
    wordA = WithField(wordA, kModShift[k], kModMask, in.args[arg].value[0]);
    wordB = WithField(wordB, kSelShift[k], kSelMask, in.args[arg].value[1]);
  }

  // A texture read with a modifier other than 0 or 1 before the texture
  // was written gives up the unit's read mark. The colour family tests bit
  // 3 of the slot word, the alpha family bit 4.
  const uint32_t testBit = alphaFamily ? kSlotWritten : 0x08;
  for (uint32_t k = 0; k < 3; ++k) {
    const CombinerSlot& slot = slots[k];
    if ((slot.word & kSlotKindMask) != kSlotTexture || (slot.word & testBit) != 0) continue;
    const uint32_t modifier = FieldOf(wordA, kModShift[k], kModMask);
    if (modifier > 1) slot.entry->flags &= ~kUfRead;
  }

  // The slots the operation reads.
  bool reads[3];
  if ((wordB >> 12 & 7) > 3) {
    reads[0] = reads[1] = reads[2] = true;
  } else {
    reads[0] = true;
    reads[1] = (wordB & 0x200) != 0 || (wordB & 0x800) != 0;
    reads[2] = (wordB & 0x400) == 0;
  }
  for (uint32_t k = 0; k < 3; ++k) {
    if (!reads[k]) continue;
    if (regs[k] == 16) readsRegister16 = 1;
    if (regs[k] == 17) readsRegister17 = 1;
  }
}

bool CombinerHalf::Emit(uint32_t* image, uint32_t* bindingFlags) const {
  uint32_t a = wordA;
  uint32_t b = wordB;
  if (destination != nullptr) b = (b & ~kDestMask) | (destination->unitNumber & 0xF) << kDestShift;
  for (uint32_t k = 0; k < 3; ++k) {
    const CombinerSlot& slot = slots[k];
    const uint32_t kind = slot.word & kSlotKindMask;
    if (kind == kSlotTexture && slot.entry != nullptr) {
      a = WithField(a, kRegShift[k], kArgumentRegisterMask, slot.entry->unitNumber);
      if ((slot.word & kSlotWritten) == 0 && (slot.entry->flags & kUfRemap) != 0)
        a = WithField(a, kModShift[k], kModMask, kModifierRemap[FieldOf(a, kModShift[k], kModMask)]);
    } else if (kind == kSlotSpecial && slot.special != nullptr) {
      a = WithField(a, kRegShift[k], kArgumentRegisterMask, slot.special->bytes[8]);
      b = WithField(b, kSelShift[k], kSelMask, slot.special->bytes[9]);
    }
  }
  image[0] = a;
  image[1] = b;
  if (bindingFlags != nullptr) *bindingFlags |= uint32_t{readsRegister16} | uint32_t{readsRegister17} << 1;
  return true;
}

void CombinerHalf::SubstituteRegister5(bool* stop, bool alphaFamily) {
  if (*stop) return;
  for (uint32_t k = 0; k < 3; ++k) {
    if (FieldOf(wordA, kRegShift[k], kArgumentRegisterMask) != 5) continue;
    wordA = WithField(wordA, kRegShift[k], kArgumentRegisterMask, 15);
    wordB = (wordB | kSubstituteSet[k]) & ~kSubstituteClear[k];
  }
  if (alphaFamily && FieldOf(wordB, kDestShift, 0xF) == 5) *stop = true;
}

// ---- Stages -----------------------------------------------------------------------------------

CombinerStage::CombinerStage() { Clear(); }

void CombinerStage::Clear() {
  type = kStageOrdinary;
  generalCount = replicatedCount = 0;
  memset(constantImages, 0, sizeof constantImages);
  constantSourceValid = 0;
  imageFrom = kImageFromOther;
  constantCount = 0;
  readMask = 0;
  constantsPresent = 0;
  slotsUsed = 0;
  colour.SetDefault();
  alpha.SetDefault();
}

void CombinerStage::NoteRead(uint32_t reg, uint32_t swizzle) {
  const bool rep = Replicated(swizzle);
  CombinerRead* list = rep ? replicated : general;
  uint32_t& count = rep ? replicatedCount : generalCount;
  if (reg < 32) readMask |= 1u << reg;
  for (uint32_t i = 0; i < count; ++i)
    if (list[i].reg == reg && list[i].swizzle == swizzle) return;
  if (count < kStageReads) list[count++] = CombinerRead{reg, swizzle, 0};
}

bool CombinerStage::AssignReadSlots() {
  uint32_t next = 0;
  for (uint32_t i = 0; i < generalCount; ++i) {
    if (next < kReadSlots) general[i].slot = kFirstReadSlot + next++;
  }
  bool placed = true;
  for (uint32_t i = 0; i < replicatedCount; ++i) {
    if (next < kReadSlots) {
      replicated[i].slot = kFirstReadSlot + next++;
    } else {
      replicated[i].slot = 0;
      placed = false;
    }
  }
  slotsUsed = next;
  return placed;
}

void CombinerStage::SetConstantImageFixed(uint32_t i, const int32_t v[4]) {
  if (i > 1) return;
  constantImages[i][0] = PackConstantImage(v, 0);
  constantImages[i][1] = PackConstantImage(v, 1);
  constantSourceValid = 0;
  if (constantCount < i + 1) constantCount = i + 1;
  constantsPresent = 1;
}

void CombinerStage::SetConstantImage(uint32_t i, const float values[4]) {
  const int32_t v[4] = {ConstantStep(values[0]), ConstantStep(values[1]), ConstantStep(values[2]),
                        ConstantStep(values[3])};
  SetConstantImageFixed(i, v);
}

bool CombinerStage::EmitImage(const PixelPipelineState& state, CombinerStageImage* image, uint32_t* bindingFlags) {
  image->flags = 0;
  image->register15 &= ~0xFFu;
  colour.Emit(image->colour, bindingFlags);
  alpha.Emit(image->alpha, bindingFlags);
  if (type == kStagePairFirst && parameter < kPipelineEntries) {
    const PipelineStageEntry& e = state.entries[parameter];
    const float fifth[4] = {e.bumpEnvironment[4], e.bumpEnvironment[4], e.bumpEnvironment[4], e.bumpEnvironment[4]};
    const float sixth[4] = {e.bumpEnvironment[5], e.bumpEnvironment[5], e.bumpEnvironment[5], e.bumpEnvironment[5]};
    SetConstantImage(0, fifth);
    SetConstantImage(1, sixth);
  }
  const bool marked = ConstantsMarked(state);
  if (type == kStageOrdinary) {
    if (marked) {
      // Each constant image is made again only when its constant is not
      // the one it was made from: the others already hold it.
      const uint8_t* source = state.constants[2 * index];
      for (uint32_t k = 0; k < 2; ++k) {
        const uint8_t* constant = source + 16 * k;
        if (constantSourceValid != 0 && SameBytes(constantSource[k], constant, 16)) continue;
        float c[4];
        memcpy(c, constant, 16);
        const int32_t v[4] = {ConstantStep(c[0]), ConstantStep(c[1]), ConstantStep(c[2]), ConstantStep(c[3])};
        constantImages[k][0] = PackConstantImage(v, 0);
        constantImages[k][1] = PackConstantImage(v, 1);
        memcpy(constantSource[k], constant, 16);
      }
      constantSourceValid = 1;
      if (constantCount < 2) constantCount = 2;
      constantsPresent = 1;
    }
    for (uint32_t shift : kRegShift) {
      if (FieldOf(image->colour[0], shift, kArgumentRegisterMask) == 15) image->register15 |= 1;
    }
  }
  // What the image was made from: the halves alone, or the halves and
  // the constants the state marked; anything else (the pair's matrix
  // values, constant images set by a build) is not kept.
  if (type == kStagePairFirst)
    imageFrom = kImageFromOther;
  else if (constantsPresent == 0)
    imageFrom = kImageFromHalves;
  else
    imageFrom = type == kStageOrdinary && marked ? kImageFromConstants : kImageFromOther;
  if (constantsPresent != 0) {
    image->constants[0] = constantImages[0][0];
    image->constants[1] = constantImages[0][1];
    image->constants[2] = constantImages[1][0];
    image->constants[3] = constantImages[1][1];
    image->flags |= kImageConstantsPresent;
    constantsPresent = 0;
  }
  return true;
}

bool CombinerStage::ConstantsMarked(const PixelPipelineState& state) const {
  return type == kStageOrdinary && (state.dirty & (kPpsConstants | kPpsConstantBlock)) != 0 &&
         2 * index + 1 < kPipelineConstants;
}

bool CombinerStage::KeepsImage(const PixelPipelineState& state) const {
  // A constant image set since the last emission goes into the next one.
  if (constantsPresent != 0) return false;
  const bool marked = ConstantsMarked(state);
  if (imageFrom == kImageFromHalves) return !marked;
  if (imageFrom != kImageFromConstants || !marked || constantSourceValid == 0) return false;
  return SameBytes(constantSource[0], state.constants[2 * index], 16) &&
         SameBytes(constantSource[1], state.constants[2 * index + 1], 16);
}

uint32_t CombinerStage::KeepImage(uint32_t* bindingFlags) {
  if (bindingFlags != nullptr)
    *bindingFlags |= uint32_t{colour.readsRegister16} | uint32_t{colour.readsRegister17} << 1 |
                     uint32_t{alpha.readsRegister16} | uint32_t{alpha.readsRegister17} << 1;
  if (imageFrom != kImageFromConstants) return 0;
  if (constantCount < 2) constantCount = 2;
  return kImageConstantsPresent;
}

// The fixed sequences read and write registers of the engine's own: the
// temporaries 4 and 5, the special reads 14-17 and the texture registers
// the program names.

void CombinerStage::BuildPassThrough() {
  Clear();
  type = kStagePassThrough;
}

void CombinerStage::BuildPair(uint32_t pairType, uint32_t pairParameter, uint32_t format) {
  Clear();
  type = pairType == kStagePairSecond ? kStagePairSecond : kStagePairFirst;
  parameter = pairParameter;
  const uint32_t source = format & 3;
  FixedHalf(colour, type == kStagePairFirst ? 1 : 7, 4, source, 14, 4, nullptr, false);
  FixedHalf(alpha, 0, 4, source, 255, 255, nullptr, true);
}

void CombinerStage::BuildSingle5(uint32_t first, uint32_t second) {
  Clear();
  type = kStageSingle5;
  FixedHalf(colour, 2, 4, first & 3, second & 3, 255, nullptr, false);
  FixedHalf(alpha, 0, 4, first & 3, 255, 255, nullptr, true);
}

void CombinerStage::BuildTriple6(uint32_t step) {
  Clear();
  type = kStageTriple6 + (step < 3 ? step : 2);
  FixedHalf(colour, 7, 4, 4, 16, 17, nullptr, false);
  FixedHalf(alpha, 0, 5, 5, 255, 255, nullptr, true);
}

void CombinerStage::BuildTriple9(uint32_t step) {
  Clear();
  type = kStageTriple9 + (step < 3 ? step : 2);
  FixedHalf(colour, 8, 4, 4, 16, 17, nullptr, false);
  FixedHalf(alpha, 0, 5, 5, 255, 255, nullptr, true);
}

void CombinerStage::BuildTriple14(uint32_t step) {
  Clear();
  type = kStageTriple14 + (step < 3 ? step : 2);
  FixedHalf(colour, 9, 4, 4, 14, 15, nullptr, false);
  FixedHalf(alpha, 0, 5, 5, 255, 255, nullptr, true);
  if (step == 0) {
    // The colour conversion's constants, in 11-bit steps.
    static constexpr int32_t kFirst[4] = {297, 297, 297, 0};
    static constexpr int32_t kSecond[4] = {-222, 135, -276, 0};
    SetConstantImageFixed(0, kFirst);
    SetConstantImageFixed(1, kSecond);
  }
}

void CombinerStage::BuildSingle17() {
  Clear();
  type = kStageSingle17;
  FixedHalf(colour, 1, 4, 4, 17, 255, nullptr, false);
  FixedHalf(alpha, 0, 5, 5, 255, 255, nullptr, true);
}

void CombinerStage::BuildSingle18(uint32_t format) {
  Clear();
  type = kStageSingle18;
  parameter = format;
  FixedHalf(colour, 0, 4, 4, 255, 255, nullptr, false);
  FixedHalf(alpha, 0, 5, 5, 255, 255, nullptr, true);
}

void CombinerStage::BuildSingle19() {
  Clear();
  type = kStageSingle19;
  FixedHalf(colour, 3, 4, 4, 255, 16, nullptr, false);
  FixedHalf(alpha, 0, 5, 5, 255, 255, nullptr, true);
}
