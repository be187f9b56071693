// Writers of 2D command packets into the primary command buffer: a packet
// is its header and the data words of its register indexes, reserved
// whole (a new buffer first when it does not fit), never split.
#pragma once

#include <stdint.h>

#include <initializer_list>

#include "core/bm_prim_int.h"

// False, with nothing written, when no buffer holds the packet.
inline bool Write2dPacket(BmPrimInt* prim, std::initializer_list<uint32_t> words) {
  uint32_t* at = prim->Reserve(static_cast<uint32_t>(words.size()));
  if (at == nullptr) return false;
  for (uint32_t word : words) *at++ = word;
  return true;
}

// The same into a batch of packets written in a row (BmBatch).
inline bool Write2dPacket(BmBatch& batch, std::initializer_list<uint32_t> words) {
  uint32_t* at = batch.Put(static_cast<uint32_t>(words.size()));
  if (at == nullptr) return false;
  for (uint32_t word : words) *at++ = word;
  return true;
}

// A coordinate pair as the engine's registers take it: y in the high half,
// x in the low half.
inline uint32_t Xy2d(int32_t x, int32_t y) {
  return static_cast<uint32_t>(y) << 16 | (static_cast<uint32_t>(x) & 0xFFFF);
}

// A size the same way: the height in the high half, the width in the low.
inline uint32_t Size2d(int32_t width, int32_t height) { return Xy2d(width, height); }
