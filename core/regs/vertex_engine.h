// Registers and packets of the vertex transform-and-lighting engine: the
// indirect access to its memories and the constant packets of the 3D
// command stream.
#pragma once

#include <stdint.h>

// ---- Indirect access to the engine's memories -------------------------------------------
// 0x910 takes the address word (entry index bits 0-8, unit bits 9-11, memory
// kind bits 24-27) with the dword in bits 16-17; writing kVertexArmRead to
// 0x938 arms a read that 0x914 answers on its fourth read.
inline constexpr uint32_t kRegVertexMemAddress = 0x910;
inline constexpr uint32_t kRegVertexMemData = 0x914;
inline constexpr uint32_t kRegVertexMemArm = 0x938;
inline constexpr uint32_t kVertexArmRead = 0xFFFFFFFC;
inline constexpr unsigned kVertexMemReads = 4;
inline constexpr unsigned kVertexMemKindShift = 24;
inline constexpr uint32_t kVertexMemKindMask = 15;
inline constexpr unsigned kVertexMemUnitShift = 9;
inline constexpr uint32_t kVertexMemSlotMask = 0xFFF;  // unit and entry index
inline constexpr unsigned kVertexMemDwordShift = 16;
// Memory kind of the constant registers.
inline constexpr uint32_t kVertexMemConstants = 3;

// ---- Constant packets ---------------------------------------------------------------
// Command word 0x41: constant count k in bits 17-22, the dwords that follow
// minus one (4k + 3) in bits 0-15; then {k, first constant, 1, 0} and the k
// constants of four dwords.
inline constexpr uint32_t kVertexConstantsType = 0x41000000;
inline constexpr unsigned kVertexConstantsCountShift = 17;
inline constexpr uint32_t kVertexConstantsCountMask = 0x7E0000;
inline constexpr uint32_t kVertexConstantsLengthMask = 0xFFFF;
inline constexpr uint32_t kVertexConstantsPerPacket = 63;
inline constexpr uint32_t kVertexConstantsHeaderWords = 5;

constexpr uint32_t VertexConstantsHeader(uint32_t k) {
  return kVertexConstantsType | ((k << kVertexConstantsCountShift) & kVertexConstantsCountMask) |
         ((4 * k + 3) & kVertexConstantsLengthMask);
}
static_assert(VertexConstantsHeader(63) == 0x417E00FF && VertexConstantsHeader(4) == 0x41080013);

// ---- Program memory ---------------------------------------------------------------------
// Direct mode: 0x918 takes the instruction index, 0x91C the instruction's
// three words one after the other (the index moves on by itself). Before a
// write the port must be idle: 0x908 and 0x924 read these masked values.
inline constexpr uint32_t kRegVertexProgramIndex = 0x918;
inline constexpr uint32_t kRegVertexProgramData = 0x91C;
inline constexpr uint32_t kRegVertexPortStatus = 0x908;
inline constexpr uint32_t kRegVertexPortLevel = 0x924;
inline constexpr uint32_t kVertexPortStatusMask = 0xFFF7FFBF;
inline constexpr uint32_t kVertexPortStatusIdle = 0x63A78001;
inline constexpr uint32_t kVertexPortLevelMask = 0xFFF;
inline constexpr uint32_t kVertexPortLevelIdle = 0x100;
// 0x8F0 bits 24-25: the engine still runs a program.
inline constexpr uint32_t kVertexEngineBusyBits = 0x3000000;
