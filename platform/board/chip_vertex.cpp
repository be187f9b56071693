#include "platform/board/chip_vertex.h"

#include <cinttypes>
#include <cstdio>

namespace orvsim {

namespace {

constexpr unsigned kConstantHeaderWords = 4;  // {count, first, 1, 0}

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
}

VertexEngine::~VertexEngine() {
  dma_.SetCommandDecoder(kVertexCommandType, nullptr);
  board_.ClearHooks(kVertexRegAddress);
  board_.ClearHooks(kVertexRegArm);
  board_.ClearHooks(kVertexRegData);
}

uint32_t* VertexEngine::Entry(unsigned kind, unsigned unit, unsigned index) {
  return const_cast<uint32_t*>(static_cast<const VertexEngine*>(this)->Entry(kind, unit, index));
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
  // A microcode upload has a meaning of its own.
  if (board_.Peek(kVertexRegProgramControl, 4) == kVertexProgramUploadOpen) return {};
  const uint32_t k = word >> 17 & 0x3F;
  char text[160];
  if (k == 0 || body.size() != kConstantHeaderWords + 4 * size_t{k} || body[0] != k || body[2] != 1 ||
      body[3] != 0) {
    // So has the self-test's packet, whose word a packet of three
    // constants shares: its body is not of the constant form.
    if (word == kVertexSelfTestWord) return {};
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
      for (unsigned w = 0; w < 4; ++w)
        Entry(kVertexConstantKind, unit, first + c)[w] = body[kConstantHeaderWords + 4 * c + w];
  ++constant_packets_;
  return {};
}

}  // namespace orvsim
