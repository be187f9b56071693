// The decoding state of the processor-side DMA executor, kept in the board's
// common data.
#pragma once

#include <stdint.h>

// Decoding state of the processor-side DMA executor; it persists between
// executed ranges, so a header may span two of them.
inline constexpr unsigned kDmaIndexCount = 256;
struct HwEmulDmaState {
  uint32_t header;       // header dword being decoded
  uint32_t indexesLeft;  // 0..4
  uint32_t repeatCount;
  uint32_t savedHeader;
  uint32_t spare;
  uint32_t shadow[kDmaIndexCount];  // last data written for each index
};

// Forgets a half-decoded packet: the next dword is a header.
inline void ResetEmulatedDma(HwEmulDmaState& state) {
  state.indexesLeft = 0;
  state.header = 0;
  state.repeatCount = 0;
  state.spare = 0;
}
