#include "kernel/3d/tnl/program_linker.h"

#include <string.h>

namespace {

// A patch kind writes one field, or a value split over two (kinds 23, 35):
// piece p takes `width` bits of the value from bit `from`.
struct PatchPiece {
  uint8_t word;
  uint8_t shift;
  uint8_t width;
  uint8_t from;
};
struct PatchField {
  PatchPiece piece[2];  // a second piece of width 0 is none
};

constexpr PatchField kPatchFields[kPatchKinds] = {
    {{{0, 0, 4, 0}}},                      // 0: w0 bits 0-3
    {{{0, 4, 4, 0}}},                      // 1: w0 bits 4-7
    {{{0, 8, 2, 0}}},                      // 2: w0 bits 8-9
    {{{0, 10, 4, 0}}},                     // 3: w0 bits 10-13
    {{{0, 14, 4, 0}}},                     // 4: w0 bits 14-17
    {{{0, 18, 2, 0}}},                     // 5: w0 bits 18-19
    {{{0, 20, 4, 0}}},                     // 6: register field 3
    {{{0, 24, 1, 0}}},                     // 7: w0 bit 24
    {{{0, 25, 2, 0}}},                     // 8: w0 bits 25-26
    {{{0, 27, 4, 0}}},                     // 9: register field 2
    {{{0, 31, 1, 0}}},                     // 10: w0 bit 31
    {{{1, 0, 2, 0}}},                      // 11: w1 bits 0-1
    {{{1, 2, 4, 0}}},                      // 12: register field 1
    {{{1, 6, 1, 0}}},                      // 13: w1 bit 6
    {{{1, 7, 2, 0}}},                      // 14: w1 bits 7-8
    {{{1, 9, 4, 0}}},                      // 15: w1 bits 9-12
    {{{1, 13, 1, 0}}},                     // 16: w1 bit 13
    {{{1, 14, 3, 0}}},                     // 17: register high bits
    {{{1, 0, 2, 0}}},                      // 18: as kind 11
    {{{1, 20, 2, 0}}},                     // 19: w1 bits 20-21
    {{{1, 22, 3, 0}}},                     // 20: w1 bits 22-24
    {{{1, 25, 2, 0}}},                     // 21: w1 bits 25-26
    {{{1, 27, 3, 0}}},                     // 22: w1 bits 27-29
    {{{1, 30, 2, 0}, {2, 0, 10, 2}}},      // 23: 12 bits over w1 30-31 and w2 0-9
    {{{2, 10, 12, 0}}},                    // 24: w2 bits 10-21
    {{{2, 22, 1, 0}}},                     // 25: w2 bit 22
    {{{2, 23, 8, 0}}},                     // 26: opcode
    {{{2, 31, 1, 0}}},                     // 27: w2 bit 31
    {{{0, 10, 4, 0}}},                     // 28: as kind 3 (second layout)
    {{{0, 14, 4, 0}}},                     // 29: as kind 4
    {{{0, 18, 1, 0}}},                     // 30: w0 bit 18
    {{{0, 19, 1, 0}}},                     // 31: w0 bit 19
    {{{0, 20, 5, 0}}},                     // 32: w0 bits 20-24
    {{{0, 27, 5, 0}}},                     // 33: w0 bits 27-31
    {{{1, 2, 5, 0}}},                      // 34: w1 bits 2-6
    {{{1, 22, 10, 0}, {2, 0, 22, 10}}},    // 35: 32 bits over w1 22-31 and w2 0-21
};

uint32_t Mask(unsigned width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

void Put(uint32_t words[3], InstructionField f, uint32_t value) {
  const uint32_t mask = Mask(f.width) << f.shift;
  words[f.word] = (words[f.word] & ~mask) | ((value << f.shift) & mask);
}

uint32_t Get(const uint32_t words[3], InstructionField f) {
  return words[f.word] >> f.shift & Mask(f.width);
}

constexpr InstructionField kFixupFields[3] = {kOperandField1, kOperandField2, kOperandField3};

void Load(const uint8_t* at, uint32_t words[3]) { memcpy(words, at, kInstructionBytes); }
void Store(uint8_t* at, const uint32_t words[3]) { memcpy(at, words, kInstructionBytes); }

bool InFragment(uint32_t instruction, uint32_t size) {
  return instruction < size / kInstructionBytes;
}

}  // namespace

void PatchInstruction(uint32_t words[3], uint32_t kind, uint32_t value) {
  if (kind >= kPatchKinds) return;
  for (const PatchPiece& p : kPatchFields[kind].piece) {
    if (p.width == 0) continue;
    Put(words, InstructionField{p.word, p.shift, p.width}, value >> p.from);
  }
}

void FixupInstruction(uint32_t words[3], uint32_t kind, uint32_t block) {
  if (kind > 2) return;
  // Fragments carry operands 0-15 in the low field; the old high bits are
  // not added.
  const uint32_t n = Get(words, kFixupFields[kind]) + 7 * block;
  Put(words, kFixupFields[kind], n & 15);
  Put(words, kOperandHighBits, n >> 4 & 7);
  Put(words, kOperandHighSelector, kind);
}

bool LinkVertexProgram(const ProgramLists& lists, const FragmentDirEntry* directory,
                       size_t directoryEntries, uint8_t* destination, size_t destinationSize) {
  if (directory == nullptr || (lists.fragmentCount != 0 && lists.fragments == nullptr)) return false;
  if ((lists.patchCount != 0 && lists.patches == nullptr) ||
      (lists.fixupCount != 0 && lists.fixups == nullptr))
    return false;
  // Everything is checked before the first byte is written.
  size_t bytes = 0, patch = 0, fixup = 0;
  for (size_t i = 0; i < lists.fragmentCount; ++i) {
    const FragmentRef& ref = lists.fragments[i];
    if (ref.entry >= directoryEntries) return false;
    const FragmentDirEntry& e = directory[ref.entry];
    if (e.size != 0 && e.code == nullptr) return false;
    if (e.size > destinationSize - bytes || (destination == nullptr && e.size != 0)) return false;
    bytes += e.size;
    if (ref.fixupCount > lists.fixupCount - fixup || ref.patchCount > lists.patchCount - patch)
      return false;
    for (uint32_t r = 0; r < ref.fixupCount; ++r)
      if (!InFragment(lists.fixups[fixup + r].instruction, e.size)) return false;
    for (uint32_t r = 0; r < ref.patchCount; ++r)
      if (!InFragment(lists.patches[patch + r].instruction, e.size)) return false;
    fixup += ref.fixupCount;
    patch += ref.patchCount;
  }

  uint8_t* cursor = destination;
  patch = fixup = 0;
  for (size_t i = 0; i < lists.fragmentCount; ++i) {
    const FragmentRef& ref = lists.fragments[i];
    const FragmentDirEntry& e = directory[ref.entry];
    if (e.size != 0) memcpy(cursor, e.code, e.size);
    uint32_t words[3];
    for (uint32_t r = 0; r < ref.fixupCount; ++r) {
      const FixupRecord& f = lists.fixups[fixup++];
      uint8_t* at = cursor + kInstructionBytes * f.instruction;
      Load(at, words);
      FixupInstruction(words, f.kind, f.block);
      Store(at, words);
    }
    for (uint32_t r = 0; r < ref.patchCount; ++r) {
      const PatchRecord& p = lists.patches[patch++];
      uint8_t* at = cursor + kInstructionBytes * p.instruction;
      Load(at, words);
      PatchInstruction(words, p.kind, p.value);
      Store(at, words);
    }
    cursor += e.size;
  }
  return true;
}
