// Colour expansion from the processor: XAA writes the monochrome rows
// into the expansion buffer and calls Sync, which streams them through the
// expansion scratch surface to the engine, chunk by chunk.
#include <string.h>

#include "core/regs/engine2d.h"
#include "xdriver/packet2d.h"
#include "xdriver/temp_bit.h"
#include "xdriver/xaa_common.h"
#include "xdriver/xaa_hooks.h"

namespace {

// Operation 3 from descriptor 3, always clipped to the rectangle.
constexpr uint32_t kExpandControl = k2dOpExpand | Control2dSource::Word(3) | k2dClipOn;
// Descriptor 3's mode word for a 1-bit source: layout and format cleared.
constexpr uint32_t kOneBitModeMask = ~(Mode2dLayout::kMask | Mode2dFormat::kMask);
constexpr uint32_t kChunkAlign = 64;           // bytes
constexpr uint32_t kBitOffsetSpan = 0x200000;  // a chunk never crosses 2 MB: the bit offset's reach

}  // namespace

void KstrnXAASetupForCPUToScreenColorExpandFill(ScrnInfoPtr scrn, int fg, int bg, int rop,
                                                unsigned int planemask) {
  KstrnXaaSetup(scrn, [&](KstrnXaaData* data, SharedLockedData_t* shared) {
    uint32_t control = KstrnXaaBindTarget(data) | KstrnXaaRop(rop) | kExpandControl;
    Shadow2dForeground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(fg));
    Shadow2dPlaneMask(shared) = KstrnXaaReplicate(data, planemask);
    uint32_t dirty = k2dDirtyForeground | k2dDirtyControl | k2dDirtyPlaneMask;
    if (bg == kXaaTransparentBackground) {
      control |= k2dTransparentBg;
    } else {
      Shadow2dBackground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(bg));
      dirty |= k2dDirtyBackground;
    }
    *data->control = control;
    return dirty;
  });
}

void KstrnXAASubsequentCPUToScreenColorExpandFill(ScrnInfoPtr scrn, int x, int y, int w, int h,
                                                  int skipleft) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  data->x = x;
  data->y = y;
  data->width = w;
  data->height = h;
  data->skipLeft = skipleft;
  data->expansionPending = 1;
}

void KstrnXAASyncCPUToScreenColorExpandFill(ScrnInfoPtr scrn) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  data->expansionPending = 0;
  PDEV* pdev = data->device;
  SharedLockedData_t* shared = pdev->sharedLocked;
  BmPrimInt* prim = pdev->primInt;
  TempBit* temp = data->expansionTemp;
  const int32_t x = data->x, w = data->width, skipLeft = data->skipLeft;
  int32_t y = data->y, h = data->height;
  if (temp == nullptr || !temp->enabled || w <= 0 || h <= 0 || skipLeft < 0) return;
  TempBitBuffer* buffer = temp->buffer;

  // Geometry: whole source bytes from the byte holding the first pixel;
  // the engine starts that many pixels left of x and the clip keeps them.
  const int32_t s = skipLeft & 7;
  const int32_t x0 = x - s;
  const uint32_t rowPixels = (static_cast<uint32_t>(w + s) + 7) & ~7u;
  const uint32_t rowBytes = rowPixels / 8;
  const uint32_t srcPitch = ((static_cast<uint32_t>(w) + 31) >> 5) * 4;
  const uint32_t srcStart = static_cast<uint32_t>(skipLeft - s) / 8;
  if (rowBytes > buffer->size / 2 || srcStart + rowBytes > kXaaExpansionBufferBytes) return;
  // Never read past the expansion buffer.
  const int32_t rowsInBuffer =
      static_cast<int32_t>((kXaaExpansionBufferBytes - srcStart - rowBytes) / srcPitch + 1);
  if (h > rowsInBuffer) h = rowsInBuffer;
  const uint32_t rowsPerChunk = buffer->size / 4 / rowBytes + 1;
  const uint8_t* source = data->expansionBuffer + srcStart;

  // A later round of the same set-up finds the control word sent already;
  // the preamble below overwrites it, so it goes out again.
  *data->control |= k2dClipOn;
  Shadow2dDirty(shared) |= k2dDirtyControl;
  Shadow2dEnable(shared) |= k2dDirtyControl;
  if (Control2dRop::Get(*data->control) != k2dRopCopy) {
    Write2dPacket(prim, {PacketHeader(k2dIdxControl), k2dControlIdle});
  }
  HwThread2d::SetupHardware(shared, prim);
  {
    // The clip is the rectangle itself, inclusive.
    BmBatch batch(prim);
    Write2dPacket(batch, {PacketHeader(k2dIdxClipTopLeft, k2dIdxClipBottomRight), Xy2d(x, y),
                          Xy2d(x + w - 1, y + h - 1)});
    Write2dPacket(batch, {PacketHeader(k2dIdxDescMode3), temp->ModeWord() & kOneBitModeMask});
  }

  for (uint32_t left = static_cast<uint32_t>(h); left > 0;) {
    const uint32_t rows = left < rowsPerChunk ? left : rowsPerChunk;
    const uint32_t bytes = rows * rowBytes;
    buffer->AlignCursor(kChunkAlign);
    const uint32_t boundary = (buffer->cursor + kBitOffsetSpan) & ~(kBitOffsetSpan - 1);
    if (buffer->cursor + bytes > boundary) buffer->cursor = boundary;
    const uint32_t offset = buffer->AllocSurfaceGen(bytes);
    uint8_t* at = temp->OpenSurfaceWrite(0);
    if (at == nullptr) break;
    if (srcPitch == rowBytes) {
      memcpy(at, source, bytes);
    } else {
      for (uint32_t row = 0; row < rows; ++row) memcpy(at + row * rowBytes, source + row * srcPitch, rowBytes);
    }
    source += static_cast<size_t>(rows) * srcPitch;
    temp->CloseSurfaceWrite();

    const uint32_t tag = Sync2dNewTag(shared);
    {
      BmBatch batch(prim);
      Write2dPacket(batch, {PacketHeader(k2dIdxDescAddress3, k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo),
                            (offset & ~(kBitOffsetSpan - 1)) + temp->addressWord,
                            (offset & (kBitOffsetSpan - 1)) << 3, Xy2d(x0, y), rows << 16 | rowPixels});
      Write2dPacket(batch, {PacketHeader(k2dIdxForeground, k2dIdxSyncTag), Shadow2dForeground(shared),
                            tag | k2dTransferTagMark | Sync2dStreamBit(prim)});
    }
    buffer->SetRangeTag(tag);
    prim->Start();
    y += static_cast<int32_t>(rows);
    left -= rows;
  }
  KstrnXaaDrawn(data, x, data->y, w, y - data->y);
  data->info->NeedToSync = TRUE;
}
