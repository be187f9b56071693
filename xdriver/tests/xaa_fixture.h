// A screen with XAA on a local-DMA board, at 8, 16 or 32 bits per pixel:
// the device object started for the 2D layer (primary surface, scratch
// bitmaps), the driver's XAA data in the screen's private slot and the
// record given to the XAA stand-in. Pixels are read from the board's local
// memory, where the 2D engine drew them.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/xserver/server.h"
#include "platform/xserver/xaa_front.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/primary_surface.h"
#include "xdriver/temp_bit.h"
#include "xdriver/tests/twod_fixture.h"
#include "xdriver/xaa_setup.h"

namespace twodtest {

// A value that differs from place to place and seed to seed.
inline uint32_t Noise(int x, int y, uint32_t seed) {
  uint32_t v = seed ^ (static_cast<uint32_t>(x) * 0x85EBCA6Bu) ^ (static_cast<uint32_t>(y) * 0xC2B2AE35u);
  v ^= v >> 15;
  v *= 0x2C1B3C6Du;
  v ^= v >> 12;
  return v;
}

class XaaScreenTest : public Local2dTest {
 protected:
  // Brings the screen up at `bpp` bits per pixel with XAA on it.
  void Start(uint32_t bpp = 32, uint32_t width = 1024, uint32_t height = 768) {
    server_ = std::make_unique<xstub::XServer>();
    scrn_ = server_->NewScrnInfo();
    scrn_->bitsPerPixel = static_cast<int>(bpp);
    scrn_->depth = bpp == 32 ? 24 : static_cast<int>(bpp);
    scrn_->virtualX = static_cast<int>(width);
    scrn_->virtualY = static_cast<int>(height);
    screen_ = server_->NewScreen(scrn_);
    screen_->width = static_cast<int>(width);
    screen_->height = static_cast<int>(height);
    pdev_ = Head(0, width, height, bpp);
    ASSERT_TRUE(CreatePrimarySurface(pdev_));
    for (TempBit* bit : pdev_->data2d.tempBits) bit->Enable(pdev_->surfaceManager);
    BeforeXaa();
    if (index_ < 0) index_ = xf86AllocateScrnInfoPrivateIndex();
    info_ = XAACreateInfoRec();
    ASSERT_EQ(KstrnXAAInit(pdev_, scrn_, index_, info_), 1u);
    ASSERT_TRUE(XAAInit(screen_, info_));
    data_ = KstrnXaaDataOf(scrn_);
  }
  void TearDown() override {
    if (pdev_ != nullptr) KstrnXAACleanup(pdev_, scrn_);
    if (info_ != nullptr) XAADestroyInfoRec(info_);
    server_.reset();
    Local2dTest::TearDown();
  }

  // A scratch bitmap of `pixels` in "system memory" that is local memory
  // seen at its own address: the engine reaches it through the DMA
  // engine's system-memory resolver, the processor through the block. (The
  // local-DMA memory manager places no system memory of its own.)
  std::unique_ptr<TempBit> SystemScratch(uint32_t pixels) {
    uint8_t ok = 0;
    auto* buffer = new TempBitBuffer(pdev_, pixels, kTempBitLocalSecond, &ok);
    buffer->options.requestedKind = kSurfAgp;
    auto bit = std::make_unique<TempBit>(pdev_, buffer, &ok);
    if (!ok || !buffer->Enable(pdev_->surfaceManager)) return nullptr;
    buffer->block->cpuAddress = board_->LocalMemory() + buffer->block->offset;
    buffer->cpuAddress = buffer->block->cpuAddress;
    if (!bit->Enable(pdev_->surfaceManager) || !bit->IsSystemMemory()) return nullptr;
    orvsim::Board* board = board_;
    engine_->SetSystemMemory([board](uint32_t bus, uint32_t length) -> uint8_t* {
      return uint64_t{bus} + length <= board->LocalMemorySize() ? board->LocalMemory() + bus : nullptr;
    });
    return bit;
  }

  // What the device start sets up after the 2D layer and before XAA.
  virtual void BeforeXaa() {}

  const DeviceBitmap& Primary() { return pdev_->data2d.Primary(); }
  uint32_t Bytes() { return pdev_->mode.bytesPerPixel; }
  uint8_t* PixelAt(int x, int y) {
    const DeviceBitmap& p = Primary();
    return board_->LocalMemory() + (p.addressWord & ~3u) +
           (static_cast<size_t>(y) * p.width + static_cast<size_t>(x)) * Bytes();
  }
  uint32_t Pixel(int x, int y) {
    uint32_t v = 0;
    std::memcpy(&v, PixelAt(x, y), Bytes());
    return v;
  }
  void SetPixel(int x, int y, uint32_t v) { std::memcpy(PixelAt(x, y), &v, Bytes()); }
  // The depth's mask of a 32-bit value.
  uint32_t Mask() { return Bytes() == 4 ? 0xFFFFFFFFu : (1u << (8 * Bytes())) - 1; }
  // Fills a rectangle of the primary with a pattern that differs pixel by
  // pixel (and in every byte), so that a misplaced pixel shows.
  void Scribble(int x0, int y0, int w, int h, uint32_t seed = 0x9E3779B9) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) SetPixel(x, y, Noise(x, y, seed) & Mask());
  }
  // A copy of a rectangle of the primary, row by row.
  std::vector<uint32_t> Snapshot(int x0, int y0, int w, int h) {
    std::vector<uint32_t> out;
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) out.push_back(Pixel(x, y));
    return out;
  }

  static inline int index_ = -1;
  std::unique_ptr<xstub::XServer> server_;
  ScrnInfoPtr scrn_ = nullptr;
  ScreenPtr screen_ = nullptr;
  PDEV* pdev_ = nullptr;
  XAAInfoRecPtr info_ = nullptr;
  KstrnXaaData* data_ = nullptr;
};

// The X protocol's GC functions on pixel values.
inline uint32_t ReferenceAlu(int alu, uint32_t s, uint32_t d) {
  switch (alu & 0xF) {
    case 0x0: return 0;
    case 0x1: return s & d;
    case 0x2: return s & ~d;
    case 0x3: return s;
    case 0x4: return ~s & d;
    case 0x5: return d;
    case 0x6: return s ^ d;
    case 0x7: return s | d;
    case 0x8: return ~(s | d);
    case 0x9: return ~(s ^ d);
    case 0xa: return ~d;
    case 0xb: return s | ~d;
    case 0xc: return ~s;
    case 0xd: return ~s | d;
    case 0xe: return ~(s & d);
    default: return 0xFFFFFFFF;
  }
}

}  // namespace twodtest
