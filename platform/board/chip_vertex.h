// The vertex engine's memories on the simulated board: the constant
// registers and the engine's other memories, read back through the
// indirect access registers and loaded by constant packets of the
// count-prefixed ranges the DMA engine runs.
//
// The program side: the program mode register, the engine's own program
// memory written through an index and a data port, the two status words a
// direct program write waits on, and the self-test's constant load.
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
// Register index 0x3C holds one of these while a program upload is open
// (the fence an upload writes, or the word it writes when the program
// memory changed); 0x41 words then carry the upload's program words,
// except those of the constant form, which load constants as always.
inline constexpr uint32_t kVertexRegProgramControl = 0x10F0;
inline constexpr uint32_t kVertexProgramUploadOpen = 0x20000028;
inline constexpr uint32_t kVertexProgramUploadChanged = 0x80000028;
// The self-test's packet of two patterns and their constant indexes.
inline constexpr uint32_t kVertexSelfTestWord = 0x4106000F;
// Index 0x3C holds this once the self-test's program is started; its
// packet then loads its two patterns.
inline constexpr uint32_t kVertexSelfTestRunning = 0xA0000028;
inline constexpr unsigned kVertexSelfTestBodyWords = 16;

// The program mode register (bit 0: slot mode); it reads back.
inline constexpr uint32_t kVertexRegProgramMode = 0x920;
// The engine's program memory: 512 instructions of three words. 0x918 takes
// the instruction index, 0x91C one word after the other.
inline constexpr uint32_t kVertexRegProgramIndex = 0x918;
inline constexpr uint32_t kVertexRegProgramData = 0x91C;
inline constexpr unsigned kVertexProgramInstructions = 512;
inline constexpr unsigned kVertexProgramWords = 3 * kVertexProgramInstructions;
// The two status words a direct program write polls, and what their
// masked bits read while the program port is idle.
inline constexpr uint32_t kVertexRegPortStatus = 0x908;
inline constexpr uint32_t kVertexRegPortLevel = 0x924;
inline constexpr uint32_t kVertexPortStatusIdle = 0x63A78001;
inline constexpr uint32_t kVertexPortLevelIdle = 0x100;

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

  // Back to the state the constructor gives (memories and program zeroed,
  // port idle, counters 0, no held bit); its registers stay installed. A
  // harness that runs many inputs on one machine keeps the engine and
  // resets it instead of making it again.
  void Reset();

  // Words per entry of a memory kind: 4 (kinds 0, 1, 3, 5), 1 (2, 4, 8-10)
  // or 0 (no memory).
  static unsigned EntryWords(unsigned kind);
  // The entry's words, or null outside the memory.
  uint32_t* Entry(unsigned kind, unsigned unit, unsigned index);
  const uint32_t* Entry(unsigned kind, unsigned unit, unsigned index) const;
  // Constant packets loaded, and reads that settled.
  uint64_t ConstantPackets() const { return constant_packets_; }

  // The program memory's words (instruction i at 3i .. 3i + 2).
  const std::vector<uint32_t>& ProgramMemory() const { return program_; }
  // Words written to 0x91C, and those that fell past the memory's end
  // (dropped).
  uint64_t ProgramWordsWritten() const { return program_words_; }
  uint64_t ProgramWordsDropped() const { return program_dropped_; }
  // The next `reads` reads of 0x908 answer busy (0), and of 0x924 too.
  void SetPortStatusBusyReads(uint64_t reads) { status_busy_reads_ = reads; }
  void SetPortLevelBusyReads(uint64_t reads) { level_busy_reads_ = reads; }
  // Self-test packets that loaded their patterns.
  uint64_t SelfTestLoads() const { return self_test_loads_; }
  // Fault mode: bit `bit` of word `word` of constant `index` in `unit`
  // holds `value` whatever is loaded into it.
  void HoldConstantBit(unsigned unit, unsigned index, unsigned word, unsigned bit, bool value);

 private:
  std::string DecodeCommand(uint32_t word, const std::vector<uint32_t>& body);
  bool IsSelfTestLoad(uint32_t word, const std::vector<uint32_t>& body) const;
  void StoreConstant(unsigned unit, unsigned index, const uint32_t* words);
  void Arm();

  Board& board_;
  DmaEngine& dma_;
  std::vector<uint32_t> memory_[16];
  // Memories written since the last reset (bit per kind): a reset clears
  // only these.
  uint32_t written_kinds_ = 0;
  uint32_t address_ = 0;   // last 0x910 write
  unsigned reads_ = 0;     // reads of 0x914 since arming
  bool armed_ = false;
  uint32_t latch_ = 0;     // what 0x914 answers once settled
  uint32_t stale_ = 0;     // what it answers before
  uint64_t constant_packets_ = 0;
  std::vector<uint32_t> program_;
  uint32_t program_cursor_ = 0;  // next word of the program memory
  uint64_t program_words_ = 0;
  uint64_t program_dropped_ = 0;
  uint64_t status_busy_reads_ = 0;
  uint64_t level_busy_reads_ = 0;
  uint64_t self_test_loads_ = 0;
  bool held_ = false;
  unsigned held_unit_ = 0, held_index_ = 0, held_word_ = 0;
  uint32_t held_mask_ = 0, held_value_ = 0;
};

}  // namespace orvsim
