#include "xdriver/pixel_xfer.h"

#include <string.h>

#include "core/bm_prim_int.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/packet2d.h"
#include "xdriver/pixel_convert.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/temp_bit.h"

namespace {

constexpr uint32_t kRopCopy = Control2dRop::Word(k2dRopCopy);
// A copy from descriptor 3 (the scratch surface).
constexpr uint32_t kFromScratch = k2dOpCopy | Control2dSource::Word(3);
// A copy into descriptor 3 with the copy raster operation.
constexpr uint32_t kIntoScratch = k2dOpCopy | kRopCopy | Control2dDest::Word(3);
constexpr uint32_t kAllOnes = 0xFFFFFFFF;

constexpr uint32_t kUploadAlign = 64;     // bytes
constexpr uint32_t kReadBackAlign = 128;  // bytes
constexpr uint32_t kReadBackMinPitch = 64;
constexpr uint32_t kReadBackMinPitchLog = 6;

// Memory types of a copy's temporary surface: by the placement flag and
// the destination's bank.
constexpr uint32_t kTmpPlacedBankB = 20;
constexpr uint32_t kTmpPlacedBankA = 22;
constexpr uint32_t kTmpBankB = 19;
constexpr uint32_t kTmpBankA = 21;

uint32_t PixelShift(uint32_t bytes) { return bytes >= 4 ? 2 : (bytes == 2 ? 1 : 0); }

// Rows of `rowBytes` from one pitch to another: one block when both are
// packed.
void CopyRows(uint8_t* to, int64_t toPitch, const uint8_t* from, int64_t fromPitch, size_t rowBytes,
              uint32_t rows) {
  if (toPitch == static_cast<int64_t>(rowBytes) && fromPitch == static_cast<int64_t>(rowBytes)) {
    memcpy(to, from, rowBytes * rows);
    return;
  }
  for (uint32_t row = 0; row < rows; ++row, to += toPitch, from += fromPitch) memcpy(to, from, rowBytes);
}

// Uploads through the bitmap's scratch surface. Without a converter the
// rows are copied as they are (the source has the bitmap's depth).
void Upload(PDEV* pdev, DeviceBitmap* bitmap, const uint8_t* src, int32_t pitch, uint32_t bpp,
            const uint32_t* table, const LRECT* dst, const LPOINT* srcPoint, uint32_t rop,
            bool transparent, uint32_t transColour, XferConverter converter) {
  TempBit* temp = TempBitFor(pdev, bitmap);
  if (temp == nullptr || !temp->enabled) return;
  TempBitBuffer* buffer = temp->buffer;
  const int32_t width = dst->right - dst->left;
  const int32_t height = dst->bottom - dst->top;
  if (width <= 0 || height <= 0) return;
  const uint32_t bytes = bitmap->bytesPerPixel;
  const uint32_t rowBytes = static_cast<uint32_t>(width) * bytes;
  // A chunk is a quarter of the buffer plus a row; a row must leave room.
  if (rowBytes > buffer->size / 2) return;
  const uint32_t rowsPerChunk = buffer->size / 4 / rowBytes + 1;

  XferRowSplit split{};
  const uint8_t* row = src + int64_t{srcPoint->y} * pitch;
  if (converter != nullptr) {
    split = XferSplitRow(bpp, static_cast<uint32_t>(srcPoint->x), static_cast<uint32_t>(width));
    row += bpp == 4 ? srcPoint->x / 2 : int64_t{srcPoint->x} * (bpp / 8);
  } else {
    row += int64_t{srcPoint->x} * bytes;
  }

  SharedLockedData_t* shared = pdev->sharedLocked;
  BmPrimInt* prim = pdev->primInt;
  const uint32_t d = Bind2dDescriptor(pdev, bitmap);
  uint32_t control = d | rop | kFromScratch;
  {
    BmBatch batch(prim);
    if (rop != kRopCopy) Write2dPacket(batch, {PacketHeader(k2dIdxControl), k2dControlIdle});
    if (transparent) {
      Write2dPacket(batch, {PacketHeader(k2dIdxForeground, k2dIdxBackground), transColour, kAllOnes});
      control |= k2dTransparent;
    }
    Write2dPacket(batch, {PacketHeader(k2dIdxControl, k2dIdxDescAddress3, k2dIdxDescMode3), control,
                          temp->addressWord, temp->ModeWord()});
  }
  shared->last1300Value = control;

  const uint32_t shift = PixelShift(bytes);
  int32_t top = dst->top;
  for (uint32_t left = static_cast<uint32_t>(height); left > 0;) {
    const uint32_t rows = left < rowsPerChunk ? left : rowsPerChunk;
    buffer->AlignCursor(kUploadAlign);
    const uint32_t offset = buffer->AllocSurfaceGen(rows * rowBytes);
    uint8_t* at = temp->OpenSurfaceWrite(0);
    if (at == nullptr) return;
    if (converter != nullptr) {
      row = converter(at, row, rows, split.leading, split.groups, split.trailing,
                      pitch - static_cast<int32_t>(split.bytes), table);
    } else {
      CopyRows(at, rowBytes, row, pitch, rowBytes, rows);
      row += int64_t{pitch} * rows;
    }
    temp->CloseSurfaceWrite();

    const uint32_t tag = Sync2dNewTag(shared);
    const uint32_t tagWord = tag | k2dTransferTagMark | Sync2dStreamBit(prim);
    {
      BmBatch batch(prim);
      if (converter == nullptr) {
        Write2dPacket(batch, {PacketHeader(k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo), offset >> shift,
                              Xy2d(dst->left, top), Size2d(width, static_cast<int32_t>(rows))});
        Write2dPacket(batch, {PacketHeader(k2dIdxForeground, k2dIdxSyncTag), transColour, tagWord});
      } else {
        Write2dPacket(batch, {PacketHeader(k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo, k2dIdxSyncZero),
                              offset >> shift, Xy2d(dst->left, top),
                              Size2d(width, static_cast<int32_t>(rows)), 0});
        Write2dPacket(batch, {PacketHeader(k2dIdxSyncTag), tagWord});
      }
    }
    buffer->SetRangeTag(tag);
    prim->Start();
    top += static_cast<int32_t>(rows);
    left -= rows;
  }
}

}  // namespace

void XferNativeToVid(PDEV* pdev, DeviceBitmap* bitmap, const void* src, int32_t pitch, uint32_t bpp,
                     const uint32_t* table, const LRECT* dst, const LPOINT* srcPoint, uint32_t rop,
                     uint8_t transparent, uint32_t transColour) {
  Upload(pdev, bitmap, static_cast<const uint8_t*>(src), pitch, bpp, table, dst, srcPoint, rop,
         transparent != 0, transColour, nullptr);
}

void XferXBppToVid(PDEV* pdev, DeviceBitmap* bitmap, const void* src, int32_t pitch, uint32_t bpp,
                   const uint32_t* table, const LRECT* dst, const LPOINT* srcPoint, uint32_t rop,
                   uint8_t transparent, uint32_t transColour) {
  const XferConverter converter = XferConverterFor(bpp, bitmap->bitsPerPixel, table != nullptr);
  if (converter == nullptr) return;
  Upload(pdev, bitmap, static_cast<const uint8_t*>(src), pitch, bpp, table, dst, srcPoint, rop,
         transparent != 0, transColour, converter);
}

void XferVidToNative(PDEV* pdev, DeviceBitmap* bitmap, void* dst, int32_t pitch, uint32_t,
                     const uint32_t*, const LRECT* dstRect, const LPOINT* srcPoint, uint32_t,
                     uint8_t, uint32_t) {
  TempBit* third = pdev->data2d.tempBits[2];
  const bool hostCopy = (bitmap->flags & kDevBitHostCopy) != 0;
  if (hostCopy || third == nullptr || !third->enabled || !third->IsSystemMemory()) {
    // The processor reads video memory itself: the engine must have
    // finished what it was given first (a valid host copy means it has
    // drawn nothing into the bitmap since).
    if (!hostCopy) Sync2dAndWait(pdev->common, pdev->primInt, "read-back");
    bitmap->XferBitmap(dst, pitch, dstRect, srcPoint, false);
    return;
  }
  const int32_t width = dstRect->right - dstRect->left;
  const int32_t height = dstRect->bottom - dstRect->top;
  if (width <= 0 || height <= 0) return;
  TempBitBuffer* buffer = third->buffer;
  const uint32_t bytes = bitmap->bytesPerPixel;
  // The scratch pitch: 64 pixels doubled until it holds a row.
  uint32_t tilePitch = kReadBackMinPitch, tilePitchLog = kReadBackMinPitchLog;
  while (tilePitch < static_cast<uint32_t>(width)) {
    tilePitch <<= 1;
    ++tilePitchLog;
  }
  const uint32_t rowsPerChunk = buffer->size >> (PixelShift(bytes) + tilePitchLog);
  if (rowsPerChunk == 0) return;
  const uint32_t mode = Mode2dPitch::Set(third->ModeWord(), tilePitch);
  third->options.desc.word1 = mode;

  SharedLockedData_t* shared = pdev->sharedLocked;
  BmPrimInt* prim = pdev->primInt;
  Write2dPacket(prim, {PacketHeader(k2dIdxControl), k2dControlIdle});
  if (shared->primaryEngineMode != kEngineOwner2d) prim->Start();
  const uint32_t o = Bind2dDescriptor(pdev, bitmap);
  const uint32_t control = (o >> 2) | kIntoScratch;
  Write2dPacket(prim, {PacketHeader(k2dIdxOrigin, k2dIdxDescMode3), 0, mode});

  const size_t rowBytes = static_cast<size_t>(width) * bytes;
  const int64_t scratchPitch = int64_t{tilePitch} * bytes;
  uint8_t* out = static_cast<uint8_t*>(dst) + int64_t{dstRect->top} * pitch + int64_t{dstRect->left} * bytes;
  int32_t y = srcPoint->y;
  for (uint32_t left = static_cast<uint32_t>(height); left > 0;) {
    const uint32_t rows = left < rowsPerChunk ? left : rowsPerChunk;
    buffer->AlignCursor(kReadBackAlign);
    const uint32_t offset = buffer->AllocSurfaceGen(
        (rows * tilePitch * bytes + kReadBackAlign - 1) & ~(kReadBackAlign - 1));
    Write2dPacket(prim, {PacketHeader(k2dIdxDescAddress3, k2dIdxControl, k2dIdxStart, k2dIdxSizeGo),
                         offset + third->addressWord, control, Xy2d(srcPoint->x, y),
                         Size2d(width, static_cast<int32_t>(rows))});
    const uint32_t tag = Sync2dWritePacket(prim);
    buffer->SetRangeTag(tag);
    prim->Start();
    const uint8_t* at = third->OpenSurfaceRead(tag);
    if (at == nullptr) return;
    CopyRows(out, pitch, at, scratchPitch, rowBytes, rows);
    third->CloseSurfaceWrite();
    out += int64_t{pitch} * rows;
    y += static_cast<int32_t>(rows);
    left -= rows;
  }
}

bool XferVidToTmpToVid(DeviceBitmap* dst, DeviceBitmap* src, const LPOINT* dstPoint,
                       const LPOINT* srcPoint, const LSIZE* size, uint32_t rop, uint8_t transparent,
                       uint32_t transColour, uint8_t placement) {
  PDEV* pdev = dst->pdev;
  if (size->width <= 0 || size->height <= 0) return true;
  const bool bankB = (dst->addressWord & k2dAddressBankB) != 0;
  const uint32_t memoryType =
      placement ? (bankB ? kTmpPlacedBankB : kTmpPlacedBankA) : (bankB ? kTmpBankB : kTmpBankA);
  Surface2d temp;
  temp.memoryId = pdev->data2d.memoryId;
  LSIZE tile = *size;
  if (!temp.AllocTmp(pdev, &tile, dst->options.desc.Format(), memoryType)) return false;

  BmPrimInt* prim = pdev->primInt;
  uint32_t toDestination = rop | kFromScratch;
  {
    BmBatch batch(prim);
    if (transparent) {
      Write2dPacket(batch, {PacketHeader(k2dIdxForeground, k2dIdxBackground), transColour, kAllOnes});
      toDestination |= k2dTransparent;
    }
    Write2dPacket(batch, {PacketHeader(k2dIdxDescAddress3, k2dIdxDescMode3), temp.addressWord,
                          temp.ModeWord()});
  }

  // Tiles in the order that never reads what the copy already wrote: rows
  // of tiles away from where the destination lies, and so within a row.
  const int32_t columns = (size->width + tile.width - 1) / tile.width;
  const int32_t rows = (size->height + tile.height - 1) / tile.height;
  const bool downwards = dstPoint->y < srcPoint->y;
  const bool rightwards = dstPoint->x < srcPoint->x;
  for (int32_t r = 0; r < rows; ++r) {
    const int32_t ty = (downwards ? r : rows - 1 - r) * tile.height;
    const int32_t th = size->height - ty < tile.height ? size->height - ty : tile.height;
    for (int32_t c = 0; c < columns; ++c) {
      const int32_t tx = (rightwards ? c : columns - 1 - c) * tile.width;
      const int32_t tw = size->width - tx < tile.width ? size->width - tx : tile.width;
      const uint32_t tileSize = Size2d(tw, th);
      // Each copy is a batch of its two packets; a binding may write
      // packets of its own, so it comes between the batches.
      const uint32_t s = Bind2dDescriptor(pdev, src);
      {
        BmBatch batch(prim);
        Write2dPacket(batch, {PacketHeader(k2dIdxControl), k2dControlIdle});
        Write2dPacket(batch, {PacketHeader(k2dIdxControl, k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo),
                              (s >> 2) | kIntoScratch, Xy2d(srcPoint->x + tx, srcPoint->y + ty), 0,
                              tileSize});
      }
      const uint32_t d = Bind2dDescriptor(pdev, dst);
      {
        BmBatch batch(prim);
        Write2dPacket(batch, {PacketHeader(k2dIdxControl), k2dControlIdle});
        Write2dPacket(batch, {PacketHeader(k2dIdxControl, k2dIdxStart, k2dIdxOrigin, k2dIdxSizeGo),
                              d | toDestination, 0, Xy2d(dstPoint->x + tx, dstPoint->y + ty),
                              tileSize});
      }
      prim->Start();
    }
  }
  temp.Disable(pdev->surfaceManager);
  return true;
}
