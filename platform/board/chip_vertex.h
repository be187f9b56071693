// The vertex engine's memories on the simulated board: the constant
// registers and the engine's other memories, read back through the
// indirect access registers and loaded by constant packets of the
// count-prefixed ranges the DMA engine runs.
//
// The rules are written down in README.md ("The vertex engine").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/chip_dma.h"

namespace orvsim {

// Indirect access: 0x910 selects the entry (address word) and the dword
// (bits 16-17), 0x938 = kVertexArmRead arms a read, 0x914 answers it.
inline constexpr uint32_t kVertexRegAddress = 0x910;
inline constexpr uint32_t kVertexRegData = 0x914;
inline constexpr uint32_t kVertexRegArm = 0x938;
inline constexpr uint32_t kVertexArmRead = 0xFFFFFFFC;
// Reads of 0x914 after arming before it answers the entry's dword.
inline constexpr unsigned kVertexReadsToSettle = 4;

// The command type of constant packets (bits 24-31).
inline constexpr uint8_t kVertexCommandType = 0x41;
// Register index 0x3C holds this while a microcode upload is open; 0x41
// words then carry microcode, not constants.
inline constexpr uint32_t kVertexRegProgramControl = 0x10F0;
inline constexpr uint32_t kVertexProgramUploadOpen = 0x20000028;
// The self-test's packet of two patterns and their constant indexes.
inline constexpr uint32_t kVertexSelfTestWord = 0x4106000F;

// Memory kinds and their shapes.
inline constexpr unsigned kVertexConstantKind = 3;
inline constexpr unsigned kVertexConstantUnits = 4;
inline constexpr unsigned kVertexConstantCount = 384;
inline constexpr unsigned kVertexMemoryUnits = 4;     // every other memory
inline constexpr unsigned kVertexMemoryEntries = 512;

class VertexEngine {
 public:
  // Installs the access registers on the board and the constant packets'
  // decoder on its DMA engine; both must outlive the vertex engine.
  VertexEngine(Board& board, DmaEngine& dma);
  ~VertexEngine();
  VertexEngine(const VertexEngine&) = delete;
  VertexEngine& operator=(const VertexEngine&) = delete;

  // Words per entry of a memory kind: 4 (kinds 0, 1, 3, 5), 1 (2, 4, 8-10)
  // or 0 (no memory).
  static unsigned EntryWords(unsigned kind);
  // The entry's words, or null outside the memory.
  uint32_t* Entry(unsigned kind, unsigned unit, unsigned index);
  const uint32_t* Entry(unsigned kind, unsigned unit, unsigned index) const;
  // Constant packets loaded, and reads that settled.
  uint64_t ConstantPackets() const { return constant_packets_; }

 private:
  std::string DecodeCommand(uint32_t word, const std::vector<uint32_t>& body);
  void Arm();

  Board& board_;
  DmaEngine& dma_;
  std::vector<uint32_t> memory_[16];
  uint32_t address_ = 0;   // last 0x910 write
  unsigned reads_ = 0;     // reads of 0x914 since arming
  bool armed_ = false;
  uint32_t latch_ = 0;     // what 0x914 answers once settled
  uint32_t stale_ = 0;     // what it answers before
  uint64_t constant_packets_ = 0;
};

}  // namespace orvsim
