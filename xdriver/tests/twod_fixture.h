// Device objects in local-DMA mode on a simulated board that has the DMA
// engine, the 2D engine and the aperture windows, for the tests of the 2D
// layer: what reaches the command buffer, the registers and local memory.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "core/tests/pdev_fixture.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_aperture.h"
#include "xdriver/device_bitmap.h"

namespace twodtest {

// The mode record's pixel fields at each depth the engine draws.
struct PixelMode {
  uint32_t bitsPerPixel, bytesPerPixel, storageBits, format, format2;
};
inline PixelMode PixelModeOf(uint32_t bpp) {
  switch (bpp) {
    case 8:
      return {8, 1, 8, 17, 16};
    case 16:
      return {16, 2, 16, 40, 32};
    default:
      return {32, 4, 32, 50, 48};
  }
}

// A device bitmap a test places: it gives its memory back when the test
// ends, before the device object does.
struct TestBitmap : DeviceBitmap {
  ~TestBitmap() override { Destroy(); }
};

class Local2dTest : public coretest::LocalBoardTest {
 protected:
  void SetUp() override {
    coretest::LocalBoardTest::SetUp();
    AddBoard(coretest::LocalBoardConfig(), orvmachine::k2d | orvmachine::kWindows);
    engine2d_ = machine_.Board().engine2d.get();
    // The plane mask as the device start's engine preset leaves it.
    board_->Poke(orvsim::k2dRegPlaneMask, 4, 0xFFFFFFFF);
  }

  // A head on `unit` (its display controller too) with the mode's size and
  // bits per pixel.
  PDEV* Head(uint32_t unit, uint32_t width = 1024, uint32_t height = 768, uint32_t bpp = 32) {
    auto head = std::make_unique<coretest::Head>();
    head->mode = coretest::MakeMode(unit, &head->lastRegWord, true);
    const PixelMode m = PixelModeOf(bpp);
    head->mode.bitsPerPixel = m.bitsPerPixel;
    head->mode.bytesPerPixel = m.bytesPerPixel;
    head->mode.storageBits = m.storageBits;
    head->mode.pixelFormat = m.format;
    head->mode.pixelFormat2 = m.format2;
    head->mode.dimension1 = width;
    head->mode.dimension2 = height;
    head->pdev = new PDEV(device_.get(), &head->mode, 0, &head->ok);
    EXPECT_EQ(head->ok, 1);
    heads_.push_back(std::move(head));
    return heads_.back()->pdev;
  }

  // A device bitmap of w x h pixels placed like the primary surface (the
  // local-DMA memory manager has no heap for the device-bitmap memory type).
  static bool Place(PDEV* pdev, DeviceBitmap& b, uint32_t w, uint32_t h) {
    b.Describe(pdev, (w + 31) & 0x3FE0, k2dLayoutBitmap, pdev->mode.pixelFormat, h,
               k2dMemoryPrimary, k2dLocationLocal);
    return b.Create(pdev, static_cast<const LSIZE*>(nullptr));
  }

  // The words written into the primary buffer since `from`.
  static std::vector<uint32_t> WordsSince(BmPrimInt* prim, const uint32_t* from) {
    return std::vector<uint32_t>(from, static_cast<const uint32_t*>(prim->cursor));
  }

  uint32_t LocalWord(uint32_t address) const {
    uint32_t v;
    std::memcpy(&v, board_->LocalMemory() + address, 4);
    return v;
  }

  orvsim::Engine2d* engine2d_ = nullptr;
};

}  // namespace twodtest
