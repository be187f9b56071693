// Linking a vertex program: the fragments an assembly listed are copied one
// after the other into the program's buffer, register operands of the
// copies are renumbered by light and fields of single instructions take
// patch values. The catalogue's fragments are never written.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kernel/3d/tnl/microcode_catalogue.h"

// A listed fragment: its catalogue entry and how many patch and fix-up
// records (taken in list order) belong to it.
struct FragmentRef {
  uint32_t entry;
  uint32_t patchCount;
  uint32_t fixupCount;
};

// A field patch: the instruction (within its fragment), the field's kind
// (0-35) and the value.
struct PatchRecord {
  uint32_t instruction;
  uint32_t kind;
  uint32_t value;
};

// A register renumbering: the instruction, which register field (0-2) and
// the register block (7 registers per block).
struct FixupRecord {
  uint32_t instruction;
  uint32_t kind;
  uint32_t block;
};

// The instruction word: 12 bytes, three little-endian words w0, w1, w2.
inline constexpr uint32_t kInstructionBytes = 12;
inline constexpr unsigned kPatchKinds = 36;

// Fields of the instruction word: the operand register number is split over
// three four-bit fields, a high part and a selector naming the field in use.
struct InstructionField {
  uint8_t word;
  uint8_t shift;
  uint8_t width;
};
inline constexpr InstructionField kOperandField1 = {1, 2, 4};
inline constexpr InstructionField kOperandField2 = {0, 27, 4};
inline constexpr InstructionField kOperandField3 = {0, 20, 4};
inline constexpr InstructionField kOperandHighBits = {1, 14, 3};
inline constexpr InstructionField kOperandHighSelector = {1, 17, 3};
inline constexpr InstructionField kOpcode = {2, 23, 8};

struct ProgramLists {
  const FragmentRef* fragments;
  size_t fragmentCount;
  const PatchRecord* patches;
  size_t patchCount;
  const FixupRecord* fixups;
  size_t fixupCount;
};

// Copies, renumbers and patches the listed fragments into destination,
// which holds destinationSize bytes. False, with nothing written, when a
// listed entry lies outside the directory or has no code, a record
// addresses an instruction outside its fragment, a fragment counts more
// records than its list has left, or the fragments do not fit.
bool LinkVertexProgram(const ProgramLists& lists, const FragmentDirEntry* directory,
                       size_t directoryEntries, uint8_t* destination, size_t destinationSize);

// Writes the value into the field of the patch kind (a kind above 35 leaves
// the instruction unchanged).
void PatchInstruction(uint32_t words[3], uint32_t kind, uint32_t value);
// Renumbers the register operand of fix-up kind 0-2 by block; other kinds
// leave the instruction unchanged.
void FixupInstruction(uint32_t words[3], uint32_t kind, uint32_t block);
