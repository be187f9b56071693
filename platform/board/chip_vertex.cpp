#include "platform/board/chip_vertex.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace orvsim {

namespace {

constexpr unsigned kConstantHeaderWords = 4;  // {count, first, 1, 0}
// The self-test packet's constant indexes after its two patterns.
constexpr uint32_t kSelfTestTail[8] = {0, 64, 128, 192, 256, 320, 0, 0};

}  // namespace

unsigned VertexEngine::EntryWords(unsigned kind) {
  switch (kind) {
    case 0:
    case 1:
    case 3:
    case 5:
      return 4;
    case 2:
    case 4:
    case 8:
    case 9:
    case 10:
      return 1;
    default:
      return 0;
  }
}

VertexEngine::VertexEngine(Board& board, DmaEngine& dma) : board_(board), dma_(dma) {
  for (unsigned kind = 0; kind < 16; ++kind) {
    const unsigned words = EntryWords(kind);
    if (words == 0) continue;
    const unsigned entries = kind == kVertexConstantKind
                                 ? kVertexConstantUnits * kVertexConstantCount
                                 : kVertexMemoryUnits * kVertexMemoryEntries;
    memory_[kind].assign(static_cast<size_t>(entries) * words, 0);
  }
  board_.SetWriteHook(kVertexRegAddress, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    address_ = value;
    return value;
  });
  board_.SetWriteHook(kVertexRegArm, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    if (value == kVertexArmRead) Arm();
    return value;
  });
  board_.SetReadHook(kVertexRegData, 4, [this](Board&, RegAccess, uint32_t) -> uint32_t {
    if (!armed_) return latch_;
    if (++reads_ < kVertexReadsToSettle) return stale_;
    armed_ = false;
    return latch_;
  });
  dma_.SetCommandDecoder(kVertexCommandType, [this](uint32_t word, const std::vector<uint32_t>& body) {
    return DecodeCommand(word, body);
  });
  program_.assign(kVertexProgramWords, 0);
  board_.SetWriteHook(kVertexRegProgramIndex, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    program_cursor_ = value < kVertexProgramInstructions ? 3 * value : kVertexProgramWords;
    return value;
  });
  board_.SetWriteHook(kVertexRegProgramData, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    ++program_words_;
    if (program_cursor_ < kVertexProgramWords) {
      program_[program_cursor_++] = value;
    } else {
      ++program_dropped_;
    }
    return value;
  });
  board_.SetReadHook(kVertexRegPortStatus, 4, [this](Board&, RegAccess, uint32_t) -> uint32_t {
    if (status_busy_reads_ > 0) {
      --status_busy_reads_;
      return 0;
    }
    return kVertexPortStatusIdle;
  });
  board_.SetReadHook(kVertexRegPortLevel, 4, [this](Board&, RegAccess, uint32_t) -> uint32_t {
    if (level_busy_reads_ > 0) {
      --level_busy_reads_;
      return 0;
    }
    return kVertexPortLevelIdle;
  });
}

void VertexEngine::Reset() {
  for (unsigned kind = 0; kind < 16; ++kind) {
    if ((written_kinds_ >> kind & 1) != 0) std::fill(memory_[kind].begin(), memory_[kind].end(), 0u);
  }
  written_kinds_ = 0;
  std::fill(program_.begin(), program_.end(), 0u);
  address_ = 0;
  reads_ = 0;
  armed_ = false;
  latch_ = 0;
  stale_ = 0;
  constant_packets_ = 0;
  program_cursor_ = 0;
  program_words_ = 0;
  program_dropped_ = 0;
  status_busy_reads_ = 0;
  level_busy_reads_ = 0;
  self_test_loads_ = 0;
  held_ = false;
  held_unit_ = held_index_ = held_word_ = 0;
  held_mask_ = held_value_ = 0;
}

VertexEngine::~VertexEngine() {
  dma_.SetCommandDecoder(kVertexCommandType, nullptr);
  board_.ClearHooks(kVertexRegAddress);
  board_.ClearHooks(kVertexRegArm);
  board_.ClearHooks(kVertexRegData);
  board_.ClearHooks(kVertexRegProgramIndex);
  board_.ClearHooks(kVertexRegProgramData);
  board_.ClearHooks(kVertexRegPortStatus);
  board_.ClearHooks(kVertexRegPortLevel);
}

void VertexEngine::HoldConstantBit(unsigned unit, unsigned index, unsigned word, unsigned bit,
                                   bool value) {
  held_ = unit < kVertexConstantUnits && index < kVertexConstantCount && word < 4 && bit < 32;
  held_unit_ = unit;
  held_index_ = index;
  held_word_ = word;
  held_mask_ = 1u << (bit & 31);
  held_value_ = value ? held_mask_ : 0;
  if (held_) StoreConstant(unit, index, Entry(kVertexConstantKind, unit, index));
}

void VertexEngine::StoreConstant(unsigned unit, unsigned index, const uint32_t* words) {
  uint32_t* entry = Entry(kVertexConstantKind, unit, index);
  uint32_t copy[4];
  std::memcpy(copy, words, sizeof copy);
  if (held_ && unit == held_unit_ && index == held_index_)
    copy[held_word_] = (copy[held_word_] & ~held_mask_) | held_value_;
  std::memcpy(entry, copy, sizeof copy);
}

bool VertexEngine::IsSelfTestLoad(uint32_t word, const std::vector<uint32_t>& body) const {
  if (word != kVertexSelfTestWord || body.size() != kVertexSelfTestBodyWords) return false;
  if (board_.Peek(kVertexRegProgramControl, 4) != kVertexSelfTestRunning) return false;
  return std::memcmp(body.data() + 8, kSelfTestTail, sizeof kSelfTestTail) == 0;
}

uint32_t* VertexEngine::Entry(unsigned kind, unsigned unit, unsigned index) {
  uint32_t* entry =
      const_cast<uint32_t*>(static_cast<const VertexEngine*>(this)->Entry(kind, unit, index));
  if (entry != nullptr) written_kinds_ |= 1u << kind;
  return entry;
}

const uint32_t* VertexEngine::Entry(unsigned kind, unsigned unit, unsigned index) const {
  if (kind >= 16) return nullptr;
  const unsigned words = EntryWords(kind);
  if (words == 0) return nullptr;
  const unsigned units = kind == kVertexConstantKind ? kVertexConstantUnits : kVertexMemoryUnits;
  const unsigned entries = kind == kVertexConstantKind ? kVertexConstantCount : kVertexMemoryEntries;
  if (unit >= units || index >= entries) return nullptr;
  return memory_[kind].data() + (static_cast<size_t>(unit) * entries + index) * words;
}

void VertexEngine::Arm() {
  // The address word: entry index in bits 0-8, unit in bits 9-11, kind in
  // bits 24-27; the dword in bits 16-17.
  const unsigned kind = address_ >> 24 & 15;
  const unsigned unit = address_ >> 9 & 7;
  const unsigned index = address_ & 0x1FF;
  const unsigned dword = address_ >> 16 & 3;
  const uint32_t* entry = Entry(kind, unit, index);
  uint32_t value = 0;
  if (entry != nullptr && dword < EntryWords(kind)) value = entry[dword];
  stale_ = latch_;
  latch_ = value;
  reads_ = 0;
  armed_ = true;
}

std::string VertexEngine::DecodeCommand(uint32_t word, const std::vector<uint32_t>& body) {
  const uint32_t control = board_.Peek(kVertexRegProgramControl, 4);
  const bool uploadOpen = control == kVertexProgramUploadOpen || control == kVertexProgramUploadChanged;
  // The self-test's program loads pattern A into the even and B into the
  // odd constants of every unit.
  if (IsSelfTestLoad(word, body)) {
    for (unsigned unit = 0; unit < kVertexConstantUnits; ++unit)
      for (unsigned c = 0; c < kVertexConstantCount; ++c) StoreConstant(unit, c, body.data() + (c & 1) * 4);
    ++self_test_loads_;
    return {};
  }
  const uint32_t k = word >> 17 & 0x3F;
  char text[160];
  if (k == 0 || body.size() != kConstantHeaderWords + 4 * size_t{k} || body[0] != k || body[2] != 1 ||
      body[3] != 0) {
    // A program upload's words have a meaning of their own, and so has
    // the self-test's packet, whose word a packet of three constants
    // shares: neither body is of the constant form.
    if (uploadOpen || word == kVertexSelfTestWord) return {};
    std::snprintf(text, sizeof text,
                  "command word 0x%08" PRIX32 " with %zu words is no constant packet", word,
                  body.size());
    return text;
  }
  const uint32_t first = body[1];
  if (first >= kVertexConstantCount || k > kVertexConstantCount - first) {
    std::snprintf(text, sizeof text,
                  "constant packet 0x%08" PRIX32 " loads %" PRIu32 " constants from %" PRIu32
                  ", past constant 383",
                  word, k, first);
    return text;
  }
  for (unsigned unit = 0; unit < kVertexConstantUnits; ++unit)
    for (uint32_t c = 0; c < k; ++c)
      StoreConstant(unit, first + c, body.data() + kConstantHeaderWords + 4 * c);
  ++constant_packets_;
  return {};
}

}  // namespace orvsim
