// The emulated DMA executor: runs DMA command packets on the processor by
// writing each packet's registers itself (DMA mode 1, and buffers the chip
// cannot reach). It keeps its decoding state in the board's common data, so
// a packet may be split over two calls.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/regs/engine2d.h"

// Packet indexes with their own meaning, as the decoder reads them out of
// a header.
inline constexpr uint32_t kDmaIndexPadding = kIdxPad.Byte();  // ends the header early
inline constexpr uint32_t kDmaIndexRepeatHeader = k2dIdxRepeatHeader.Byte();  // its dword is the header to repeat
// Its dword is how often that header comes next; the rest of the header is dropped.
inline constexpr uint32_t kDmaIndexDropHeader = k2dIdxRepeatCount.Byte();
inline constexpr uint32_t kDmaIndexSyncTag = k2dIdxSyncTag.Byte();
inline constexpr uint32_t kDmaIndex2dControl = k2dIdxControl.Byte();
inline constexpr uint32_t kSyncTagWait = 0x1;  // in a sync-tag dword: wait until reached

// Executes the packets in [start, end): each dword that lies wholly in the
// range is consumed; a start at or past the end executes nothing.
void ExecuteEmulatedDma(CommonData* common, const void* start, const void* end);
