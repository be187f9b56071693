// The 2D engine against references written here: bytes per pixel by
// format, the raster operations against the X server's GC functions, plane
// mask, inclusive clip, pitch-linear addressing, memory spaces and faults,
// copies (source start, direction, transparency), 8x8 patterns and colour
// expansion in the bit order the XAA stand-in hands them over, lines, and
// writes that act alike by DMA and through the register window.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/board/chip_2d.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

constexpr uint32_t kSurface = 0x100000;   // a surface in local memory, bank A
constexpr uint32_t kSource = 0x200000;    // a second one
constexpr uint32_t kCommands = 0x7F0000;  // DMA command words

uint32_t Mode(uint32_t pitch, uint32_t layout, uint32_t format) {
  return pitch | layout << 16 | format << 24;
}
uint32_t XY(int x, int y) { return static_cast<uint32_t>(y) << 16 | (static_cast<uint32_t>(x) & 0xFFFF); }
uint32_t Size(int w, int h) { return static_cast<uint32_t>(h) << 16 | static_cast<uint32_t>(w); }

// The X server's sixteen GC functions, as the protocol defines them.
uint32_t XFunction(unsigned function, uint32_t s, uint32_t d) {
  switch (function) {
    case 0: return 0;            // GXclear
    case 1: return s & d;        // GXand
    case 2: return s & ~d;       // GXandReverse
    case 3: return s;            // GXcopy
    case 4: return ~s & d;       // GXandInverted
    case 5: return d;            // GXnoop
    case 6: return s ^ d;        // GXxor
    case 7: return s | d;        // GXor
    case 8: return ~(s | d);     // GXnor
    case 9: return ~(s ^ d);     // GXequiv
    case 10: return ~d;          // GXinvert
    case 11: return s | ~d;      // GXorReverse
    case 12: return ~s;          // GXcopyInverted
    case 13: return ~s | d;      // GXorInverted
    case 14: return ~(s & d);    // GXnand
    default: return 0xFFFFFFFF;  // GXset
  }
}
// The engine's raster-operation nibble of a GC function: its four bits reversed.
uint32_t EngineRop(unsigned function) {
  return (function & 1) << 3 | (function & 2) << 1 | (function & 4) >> 1 | (function & 8) >> 3;
}

class Engine2dTest : public ::testing::Test {
 protected:
  void Reg(uint32_t reg, uint32_t value) { board.RegWrite(reg, 4, value); }
  void Descriptor(unsigned d, uint32_t address, uint32_t mode) {
    Reg(k2dRegDescAddress0 + 8 * d, address);
    Reg(k2dRegDescMode0 + 8 * d, mode);
  }
  uint32_t Pixel(uint32_t base, uint32_t pitch, int bytes, int x, int y) {
    uint32_t v = 0;
    std::memcpy(&v, board.LocalMemory() + base + (y * pitch + x) * bytes, bytes);
    return v;
  }
  void SetPixel(uint32_t base, uint32_t pitch, int bytes, int x, int y, uint32_t v) {
    std::memcpy(board.LocalMemory() + base + (y * pitch + x) * bytes, &v, bytes);
  }
  void Fill(uint32_t base, uint32_t pitch, int bytes, uint8_t value, size_t rows) {
    std::memset(board.LocalMemory() + base, value, pitch * bytes * rows);
  }
  // A fill of (x, y, w, h) into descriptor 0 with the given control bits.
  void FillRect(uint32_t control, uint32_t fg, int x, int y, int w, int h) {
    Reg(k2dRegControl, control);
    Reg(k2dRegForeground, fg);
    Reg(k2dRegOrigin, XY(x, y));
    Reg(k2dRegSizeGo, Size(w, h));
  }
  void RunDma(const std::vector<uint32_t>& words) {
    std::memcpy(board.LocalMemory() + kCommands, words.data(), words.size() * 4);
    Reg(kDmaRegStart, kCommands);
    Reg(kDmaRegEnd, kCommands + 4 * static_cast<uint32_t>(words.size()));
  }

  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  DmaEngine dma{board};
  Engine2d engine{board, dma};
};

// 0xDD and 0xDE start the 3D engine's operations: each is recorded with the
// control word in force, from a count-prefixed range as from the processor,
// and nothing is drawn.
TEST_F(Engine2dTest, ThreeDOperationStartsAreRecordedWithTheControlWordInForce) {
  const uint32_t secondary = kCommands + 0x1000;
  const std::vector<uint32_t> counted = {
      3, 0x21DDC0C0, 0x360004, 0x30000C, 0,  // two control words, then the start
      1, 0x212121DE, 0,                      // a flush start
  };
  std::memcpy(board.LocalMemory() + secondary, counted.data(), counted.size() * 4);
  RunDma({0x20292820, 0, secondary | kDmaExecCounted, secondary + 4 * static_cast<uint32_t>(counted.size()), 0});
  Reg(k2dRegControl, 0x8002CD);
  Reg(k3dRegOperationStart, 0);
  EXPECT_EQ(engine.OperationStarts(), (std::vector<Engine2d::OperationStart>{
                                          {0xDD, 0x30000C}, {0xDE, 0x30000C}, {0xDD, 0x8002CD}}));
  EXPECT_EQ(engine.Operations(), 0u);
  EXPECT_TRUE(dma.DecodeErrors().empty());
  engine.ClearOperationStarts();
  EXPECT_TRUE(engine.OperationStarts().empty());
}

// The 3D engine's 2D operations are 2D control words: operation 5 with a
// raster operation in bits 4-7 fills descriptor 1 with the value under the
// write mask; 0x202 copies descriptor 2 into descriptor 0 with its
// directions and its key under the key mask. The size write starts them, as
// the 3D engine writes its groups; its start (0xDD) is only recorded.
TEST_F(Engine2dTest, TheThreeDEnginesFillAndCopyDrawAtTheirSizeWrite) {
  auto index = [&](uint32_t i, uint32_t v) { Reg(0x1000 + 4 * i, v); };
  constexpr int kPitch = 128;
  std::vector<uint32_t> before(kPitch * 70);
  for (size_t i = 0; i < before.size(); ++i) before[i] = 0x5000000 + static_cast<uint32_t>(i);
  std::memcpy(board.LocalMemory() + kSurface, before.data(), before.size() * 4);

  // A whole 128 x 64 fill of 32-bit pixels, the top byte kept by the mask.
  index(0x8A, kSurface);
  index(0x8B, Mode(kPitch, 3, 50));
  index(0xC5, 0xAA112233);
  index(0xC0, 0x5C0);
  index(0xC2, XY(0, 0));
  index(0xC9, 0x00FFFFFF);
  index(0xE3, Size(128, 64));
  index(0xDD, 0);
  std::vector<uint32_t> expected = before;
  for (int i = 0; i < kPitch * 64; ++i) expected[i] = (before[i] & 0xFF000000) | 0x112233;
  std::vector<uint32_t> after(before.size());
  std::memcpy(after.data(), board.LocalMemory() + kSurface, after.size() * 4);
  EXPECT_EQ(after, expected);
  EXPECT_EQ(engine.Operations(), 1u);
  EXPECT_EQ(engine.OperationStarts(), (std::vector<Engine2d::OperationStart>{{0xDD, 0x5C0}}));

  // One row down within the surface: bottom to top, both start rows on
  // the last row of the 20 x 6 rectangle; the result moves the picture.
  std::memcpy(board.LocalMemory() + kSurface, before.data(), before.size() * 4);
  index(0x88, kSurface);
  index(0x89, Mode(kPitch, 3, 50));
  index(0x8C, kSurface);
  index(0x8D, Mode(kPitch, 3, 50));
  index(0xC9, 0xFFFFFFFF);
  index(0xC0, 0x2C2 | k2dBottomToTop);
  index(0xC2, XY(3, 2 + 5));
  index(0xC1, XY(3, 1 + 5));
  index(0xE3, Size(20, 6));
  index(0xDD, 0);
  expected = before;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 20; ++i) expected[(2 + j) * kPitch + 3 + i] = before[(1 + j) * kPitch + 3 + i];
  std::memcpy(after.data(), board.LocalMemory() + kSurface, after.size() * 4);
  EXPECT_EQ(after, expected);

  // A keyed copy right to left: the key compared under 0x00FFFFFF skips
  // source pixels whatever their top byte.
  std::memcpy(board.LocalMemory() + kSurface, before.data(), before.size() * 4);
  const uint32_t keyed = before[10 * kPitch + 41];
  index(0xC6, 0x00FFFFFF);
  index(0xC5, (keyed & 0x00FFFFFF) | 0x7F000000);
  index(0xC0, 0x2C2 | k2dRightToLeft | k2dTransparent);
  index(0xC2, XY(4 + 3, 30));
  index(0xC1, XY(40 + 3, 10));
  index(0xE3, Size(4, 1));
  index(0xDD, 0);
  expected = before;
  for (int i = 0; i < 4; ++i)
    if (40 + i != 41) expected[30 * kPitch + 4 + i] = before[10 * kPitch + 40 + i];
  std::memcpy(after.data(), board.LocalMemory() + kSurface, after.size() * 4);
  EXPECT_EQ(after, expected);
  EXPECT_EQ(engine.Operations(), 3u);
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine2dTest, BytesPerPixelFollowTheFormatCode) {
  const std::pair<uint32_t, int> table[] = {
      {16, 1}, {17, 1}, {18, 1}, {32, 2}, {33, 2}, {40, 2}, {46, 2},
      {48, 4}, {49, 4}, {50, 4}, {51, 4}, {52, 4}, {59, 4},
  };
  for (const auto& [format, bytes] : table) {
    Fill(kSurface, 64, 4, 0xEE, 2);
    Descriptor(0, kSurface, Mode(64, 3, format));
    Reg(k2dRegPlaneMask, 0xFFFFFFFF);
    FillRect(0xC0, 0xA1B2C3D4, 1, 1, 2, 1);
    const uint8_t* row = board.LocalMemory() + kSurface + 64 * bytes;
    for (int i = 0; i < 64 * bytes; ++i) {
      const bool inside = i >= bytes && i < 3 * bytes;
      const uint8_t expected = inside ? static_cast<uint8_t>(0xA1B2C3D4u >> (8 * ((i - bytes) % bytes))) : 0xEE;
      ASSERT_EQ(row[i], expected) << "format " << format << " byte " << i;
    }
  }
  EXPECT_EQ(BytesPerPixelOfFormat(0), 0) << "format 0 is a 1-bit source";
  for (uint32_t format : {1u, 15u, 19u, 31u, 34u, 41u, 47u, 53u, 58u, 60u, 63u}) {
    EXPECT_EQ(BytesPerPixelOfFormat(format), -1) << format;
  }
  Descriptor(0, kSurface, Mode(64, 3, 19));
  EXPECT_DEATH(FillRect(0xC0, 0, 0, 0, 1, 1), "orvsim: 2D engine: .*pixel format 19");
  Descriptor(0, kSurface, Mode(64, 3, 0));
  EXPECT_DEATH(FillRect(0xC0, 0, 0, 0, 1, 1), "orvsim: 2D engine: .*1-bit surface");
}

TEST_F(Engine2dTest, RasterOperationsAndPlaneMaskMatchTheGcFunctions) {
  const uint32_t formats[] = {17, 40, 50};
  const int sizes[] = {1, 2, 4};
  const uint32_t destination[] = {0x00000000, 0xFFFFFFFF, 0x5A3CC3A5, 0x0F0FF0F0};
  const uint32_t fg = 0x33CC6699, mask = 0xF0F0FF00;
  for (int f = 0; f < 3; ++f) {
    const int bytes = sizes[f];
    const uint32_t pixelMask = bytes == 4 ? 0xFFFFFFFF : (1u << (8 * bytes)) - 1;
    Descriptor(0, kSurface, Mode(32, 3, formats[f]));
    Reg(k2dRegPlaneMask, mask);
    for (unsigned function = 0; function < 16; ++function) {
      for (int i = 0; i < 4; ++i) SetPixel(kSurface, 32, bytes, i, 0, destination[i] & pixelMask);
      FillRect(EngineRop(function) << 4, fg, 0, 0, 4, 1);
      for (int i = 0; i < 4; ++i) {
        const uint32_t d = destination[i] & pixelMask;
        const uint32_t expected = ((XFunction(function, fg, d) & mask) | (d & ~mask)) & pixelMask;
        EXPECT_EQ(Pixel(kSurface, 32, bytes, i, 0), expected)
            << "GC function " << function << " at " << bytes << " bytes, destination " << i;
      }
    }
  }
  EXPECT_EQ(EngineRop(3), 0xCu) << "GXcopy is 0xC";
}

TEST_F(Engine2dTest, ClipIsInclusiveOnAllFourEdges) {
  Descriptor(0, kSurface, Mode(32, 3, 50));
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  Reg(k2dRegClipTopLeft, XY(2, 3));
  Reg(k2dRegClipBottomRight, XY(5, 6));
  for (bool clipping : {true, false}) {
    Fill(kSurface, 32, 4, 0, 12);
    FillRect(0xC0 | (clipping ? k2dClipOn : 0), 7, 0, 0, 10, 10);
    for (int y = 0; y < 11; ++y) {
      for (int x = 0; x < 11; ++x) {
        const bool drawn = clipping ? (x >= 2 && x <= 5 && y >= 3 && y <= 6) : (x < 10 && y < 10);
        EXPECT_EQ(Pixel(kSurface, 32, 4, x, y), drawn ? 7u : 0u)
            << "clip " << clipping << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(Engine2dTest, EveryLayoutIsPitchLinearAndAddressBitsNameTheMemory) {
  // Layouts 0 to 3 alike: pixel (x, y) at address + (y * pitch + x) * bytes.
  for (uint32_t layout = 0; layout < 4; ++layout) {
    Fill(kSurface, 96, 2, 0, 8);
    Descriptor(2, kSurface, Mode(96, layout, 40));
    Reg(k2dRegPlaneMask, 0xFFFFFFFF);
    FillRect(0xC0 | 2 << 10, 0xBEEF, 5, 6, 1, 1);
    EXPECT_EQ(Pixel(kSurface, 96, 2, 5, 6), 0xBEEFu) << "layout " << layout;
  }

  // Bit 27 is the second bank of local memory.
  Descriptor(0, 0x8000000 + 0x1000, Mode(32, 3, 50));
  FillRect(0xC0, 0x12345678, 1, 1, 1, 1);
  uint32_t v;
  std::memcpy(&v, board.LocalMemory() + 0x8000000 + 0x1000 + (32 + 1) * 4, 4);
  EXPECT_EQ(v, 0x12345678u);

  // Bits 0-1 = 2 or 3: system memory through the DMA engine's resolver.
  std::vector<uint32_t> system(64, 0);
  dma.SetSystemMemory([&](uint32_t bus, uint32_t length) -> uint8_t* {
    if (bus >= 0x40000000 && bus + length <= 0x40000000 + system.size() * 4)
      return reinterpret_cast<uint8_t*>(system.data()) + (bus - 0x40000000);
    return nullptr;
  });
  for (uint32_t space : {2u, 3u}) {
    system.assign(64, 0);
    Descriptor(0, 0x40000000 | space, Mode(8, 1, 50));
    FillRect(0xC0, 0xCAFE0000 | space, 3, 2, 1, 1);
    EXPECT_EQ(system[2 * 8 + 3], 0xCAFE0000 | space) << "space " << space;
  }
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine2dTest, AccessOutsideEveryMemoryWritesNothingAndIsListed) {
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  // Bus type 1 names no memory.
  Descriptor(0, kSurface | 1, Mode(32, 3, 50));
  Fill(kSurface, 32, 4, 0, 2);
  FillRect(0xC0, 9, 0, 0, 2, 1);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 0, 0), 0u);
  ASSERT_EQ(engine.Faults().size(), 1u);
  EXPECT_EQ(engine.Faults()[0].operation, "fill");
  EXPECT_TRUE(engine.Faults()[0].write);
  EXPECT_EQ(engine.Faults()[0].address, kSurface | 1);
  EXPECT_EQ(engine.Faults()[0].pixels, 2u);

  // A rectangle running off the end of local memory: the rows inside land.
  engine.ClearFaults();
  const uint32_t last = static_cast<uint32_t>(board.LocalMemorySize()) - 2 * 16 * 4;
  Descriptor(0, last, Mode(16, 3, 50));
  FillRect(0xC0, 0x55, 0, 0, 16, 4);
  EXPECT_EQ(Pixel(last, 16, 4, 15, 1), 0x55u);
  ASSERT_EQ(engine.Faults().size(), 1u);
  EXPECT_EQ(engine.Faults()[0].pixels, 32u);
  EXPECT_EQ(engine.Faults()[0].address, static_cast<uint32_t>(board.LocalMemorySize()));

  // A copy whose source lies outside reads nothing and writes nothing.
  engine.ClearFaults();
  Descriptor(0, kSurface, Mode(32, 3, 50));
  Descriptor(1, kSurface | 1, Mode(32, 3, 50));
  Fill(kSurface, 32, 4, 0, 1);
  Reg(k2dRegStart, 0);
  FillRect(0xC2 | 1 << 8, 0, 0, 0, 3, 1);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 0, 0), 0u);
  ASSERT_EQ(engine.Faults().size(), 1u);
  EXPECT_FALSE(engine.Faults()[0].write);
  EXPECT_EQ(engine.Faults()[0].operation, "copy");
}

TEST_F(Engine2dTest, CopySourceStartByLayoutAndTransparency) {
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  Descriptor(0, kSurface, Mode(32, 3, 50));
  for (int i = 0; i < 32 * 8; ++i) {
    const uint32_t v = 0x1000 + static_cast<uint32_t>(i);
    std::memcpy(board.LocalMemory() + kSource + 4 * i, &v, 4);
  }
  // Layout 3: the start is y << 16 | x in the source's pitch.
  Descriptor(3, kSource, Mode(16, 3, 50));
  Fill(kSurface, 32, 4, 0, 8);
  Reg(k2dRegStart, XY(2, 1));
  FillRect(0xC2 | 3 << 8, 0, 4, 5, 3, 2);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(Pixel(kSurface, 32, 4, 4 + i, 5 + j), 0x1000u + (1 + j) * 16 + 2 + i);

  // Any other layout: a pixel offset, rows packed at the operation's width.
  for (uint32_t layout : {0u, 1u, 2u}) {
    Descriptor(3, kSource, Mode(16, layout, 50));
    Fill(kSurface, 32, 4, 0, 8);
    Reg(k2dRegStart, 7);
    FillRect(0xC2 | 3 << 8, 0, 4, 5, 3, 2);
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Pixel(kSurface, 32, 4, 4 + i, 5 + j), 0x1000u + 7 + 3 * j + i) << layout;
  }

  // Transparency: source pixels equal to the foreground under the
  // background (the key mask) are skipped.
  Descriptor(3, kSource, Mode(16, 3, 50));
  Fill(kSurface, 32, 4, 0xEE, 8);
  Reg(k2dRegStart, XY(0, 0));
  Reg(k2dRegBackground, 0xFFFFFFFF);
  FillRect(0xC2 | 3 << 8 | k2dTransparent, 0x1001, 0, 0, 3, 1);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 0, 0), 0x1000u);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 1, 0), 0xEEEEEEEEu);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 2, 0), 0x1002u);
  Fill(kSurface, 32, 4, 0xEE, 8);
  Reg(k2dRegBackground, 0x00FFFFFF);
  FillRect(0xC2 | 3 << 8 | k2dTransparent, 0xAB001001, 0, 0, 3, 1);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 0, 0), 0x1000u);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 1, 0), 0xEEEEEEEEu) << "the key's top byte is masked off";
  EXPECT_EQ(Pixel(kSurface, 32, 4, 2, 0), 0x1002u);
  EXPECT_DEATH(
      {
        Descriptor(3, kSource, Mode(16, 3, 40));
        FillRect(0xC2 | 3 << 8, 0, 0, 0, 1, 1);
      },
      "orvsim: 2D engine: .*copy from descriptor 3 \\(2 bytes per pixel\\)");
}

TEST_F(Engine2dTest, TheStoredSizeStartsAnUploadFromSystemMemory) {
  // A 5 x 3 plane of bytes in page-locked system memory, packed rows.
  std::vector<uint8_t> system(4096, 0);
  for (int i = 0; i < 15; ++i) system[16 + i] = static_cast<uint8_t>(0x40 + i);
  dma.SetSystemMemory([&](uint32_t bus, uint32_t length) -> uint8_t* {
    if (bus >= 0x40000000 && bus + length <= 0x40000000 + system.size())
      return system.data() + (bus - 0x40000000);
    return nullptr;
  });
  Fill(kSurface, 5, 1, 0, 3);
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  // The upload's stream: the size goes to 0x130C, 0x13A4 starts the copy,
  // and the size register is cleared behind it.
  RunDma({0x212121BA, 0,
          0x8A8B8889, Mode(5, 1, 18), 0x40000010 | 3, Mode(5, 3, 18), kSurface,
          0xC3C2C1C0, 0x2004C2, 0, 0, Size(5, 3),
          0xC3E9C2C1, 0, 0, 0xFFFFFFFF, 0});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(Pixel(kSurface, 5, 1, x, y), 0x40u + y * 5 + x) << x << "," << y;
  EXPECT_EQ(engine.Operations(), 1u) << "0x130C alone starts nothing";
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine2dTest, OverlappingCopiesReadAndWritePixelByPixelInTheirDirection) {
  // A reference: the same copy done one pixel at a time in the same order.
  struct Case {
    const char* name;
    int sx, sy, dx, dy;
    bool rightToLeft, bottomToTop;
    bool safe;  // the direction that gives the moved picture
  };
  const Case cases[] = {
      {"right, walked right to left", 2, 2, 4, 2, true, false, true},
      {"left, walked left to right", 4, 2, 2, 2, false, false, true},
      {"down, walked bottom to top", 2, 2, 2, 4, false, true, true},
      {"up, walked top to bottom", 2, 4, 2, 2, false, false, true},
      {"right, walked left to right", 2, 2, 4, 2, false, false, false},
  };
  const int w = 6, h = 5, pitch = 32;
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  for (const Case& c : cases) {
    std::vector<uint32_t> before(pitch * 16);
    for (size_t i = 0; i < before.size(); ++i) before[i] = 0x100 + static_cast<uint32_t>(i);
    std::memcpy(board.LocalMemory() + kSurface, before.data(), before.size() * 4);
    std::vector<uint32_t> expected = before;
    for (int row = 0; row < h; ++row) {
      const int j = c.bottomToTop ? h - 1 - row : row;
      for (int column = 0; column < w; ++column) {
        const int i = c.rightToLeft ? w - 1 - column : column;
        expected[(c.dy + j) * pitch + c.dx + i] = expected[(c.sy + j) * pitch + c.sx + i];
      }
    }
    if (c.safe) {
      std::vector<uint32_t> moved = before;
      for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
          moved[(c.dy + j) * pitch + c.dx + i] = before[(c.sy + j) * pitch + c.sx + i];
      ASSERT_EQ(expected, moved) << c.name << ": the reference moves the picture";
    }
    // Both corners are named where the walk starts: the right column
    // right to left, the bottom row bottom to top.
    const int back = c.rightToLeft ? w - 1 : 0, up = c.bottomToTop ? h - 1 : 0;
    Descriptor(0, kSurface, Mode(pitch, 3, 50));
    Reg(k2dRegStart, XY(c.sx + back, c.sy + up));
    FillRect(0xC2 | (c.rightToLeft ? k2dRightToLeft : 0) | (c.bottomToTop ? k2dBottomToTop : 0), 0,
             c.dx + back, c.dy + up, w, h);
    std::vector<uint32_t> after(before.size());
    std::memcpy(after.data(), board.LocalMemory() + kSurface, after.size() * 4);
    EXPECT_EQ(after, expected) << c.name;
  }
}

// An 8x8 stipple as X defines it (pixel (X, Y) takes stipple bit
// ((X - originX) mod 8, (Y - originY) mod 8)), packed the way the XAA
// stand-in hands it over: row r in byte r, its leftmost pixel in bit 7.
TEST_F(Engine2dTest, PatternFillsFollowTheStippleWithItsOrigin) {
  bool stipple[8][8];
  uint64_t packed = 0;
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      stipple[r][c] = ((r * 3 + c * c) % 5) < 2;
      if (stipple[r][c]) packed |= uint64_t{1} << (8 * r + 7 - c);
    }
  }
  Descriptor(0, kSurface, Mode(32, 3, 17));
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  Reg(k2dRegPatternLow, static_cast<uint32_t>(packed));
  Reg(k2dRegPatternHigh, static_cast<uint32_t>(packed >> 32));
  Reg(k2dRegBackground, 0x22);
  for (bool transparent : {false, true}) {
    for (int ox : {0, 3}) {
      for (int oy : {0, 5}) {
        Fill(kSurface, 32, 1, 0x77, 20);
        const uint32_t control = 0xC0 | k2dPatternFill | (transparent ? k2dTransparentBg : 0) |
                                 static_cast<uint32_t>(ox) << 14 | static_cast<uint32_t>(oy) << 17;
        FillRect(control, 0x11, 3, 2, 13, 11);
        for (int y = 2; y < 13; ++y) {
          for (int x = 3; x < 16; ++x) {
            const bool set = stipple[((y - oy) % 8 + 8) % 8][((x - ox) % 8 + 8) % 8];
            const uint32_t expected = set ? 0x11 : (transparent ? 0x77 : 0x22);
            ASSERT_EQ(Pixel(kSurface, 32, 1, x, y), expected)
                << "transparent " << transparent << " origin " << ox << "," << oy << " at " << x
                << "," << y;
          }
        }
      }
    }
  }
}

// Colour expansion: a 1-bit source whose leftmost pixel is bit 0 of each
// byte (the order XAA hands rows over without the MSB-first flag); the
// start register counts bits, rows packed at the operation's width.
TEST_F(Engine2dTest, ColourExpansionReadsBitsLsbFirstFromABitOffset) {
  const int w = 16, h = 3;
  std::vector<uint8_t> bits(64);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 37 + 11);
  std::memcpy(board.LocalMemory() + kSource, bits.data(), bits.size());
  const uint32_t startBit = 13;
  auto bit = [&](int i, int j) {
    const uint32_t b = startBit + static_cast<uint32_t>(j * w + i);
    return (bits[b / 8] >> (b % 8)) & 1;
  };
  Descriptor(0, kSurface, Mode(32, 3, 50));
  Descriptor(3, kSource, Mode(32, 0, 0));
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  Reg(k2dRegBackground, 0xBB);
  Reg(k2dRegStart, startBit);
  for (bool transparent : {false, true}) {
    Fill(kSurface, 32, 4, 0, 8);
    FillRect(0xC3 | 3 << 8 | (transparent ? k2dTransparentBg : 0), 0xFF, 1, 2, w, h);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        EXPECT_EQ(Pixel(kSurface, 32, 4, 1 + i, 2 + j), bit(i, j) ? 0xFFu : (transparent ? 0u : 0xBBu))
            << i << "," << j;
  }
  EXPECT_DEATH(
      {
        Descriptor(3, kSource, Mode(32, 0, 50));
        FillRect(0xC3 | 3 << 8, 0xFF, 0, 0, 1, 1);
      },
      "orvsim: 2D engine: .*not a 1-bit surface");
}

// Lines: every pixel from the start to the end, the minor coordinate the
// exact one rounded with halves going away from the start; the end pixel
// only with the last-pixel bit, so a line has max(|dx|, |dy|) pixels plus
// that one.
TEST_F(Engine2dTest, LinesHitTheirEndpointsWithTheStatedPixelCount) {
  struct Case {
    int x1, y1, x2, y2;
  };
  const Case cases[] = {{5, 7, 14, 7}, {5, 7, 5, 1}, {0, 0, 7, 3}, {9, 2, 1, 5},
                        {3, 3, 3, 3},  {2, 9, 6, 1}, {1, 1, 8, 8}, {10, 4, 0, 0}};
  Descriptor(1, kSurface, Mode(32, 3, 50));
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  for (const Case& c : cases) {
    for (bool last : {true, false}) {
      // Reference: walk the major axis; the minor offset is the nearest
      // integer to i * minor / n, a half rounded away from the start.
      std::set<std::pair<int, int>> expected;
      const int dx = c.x2 - c.x1, dy = c.y2 - c.y1;
      const int n = std::max(std::abs(dx), std::abs(dy));
      for (int i = 0; i <= n; ++i) {
        if (i == n && !last) break;
        const double t = n == 0 ? 0 : static_cast<double>(i) / n;
        const double fx = c.x1 + t * dx, fy = c.y1 + t * dy;
        auto nearest = [](double v, int direction) {
          const double down = std::floor(v);
          const double frac = v - down;
          if (frac > 0.5 || (frac == 0.5 && direction > 0)) return static_cast<int>(down) + 1;
          return static_cast<int>(down);
        };
        expected.insert({nearest(fx, dx), nearest(fy, dy)});
      }
      ASSERT_EQ(expected.size(), static_cast<size_t>(last ? n + 1 : n));
      if (last) {
        EXPECT_TRUE(expected.count({c.x1, c.y1}) && expected.count({c.x2, c.y2}));
      }

      Fill(kSurface, 32, 4, 0, 16);
      Reg(k2dRegControl, 0xC1 | 1 << 10 | 0x300000 | (last ? k2dLineLastPixel : 0));
      Reg(k2dRegForeground, 0x99);
      Reg(k2dRegStart, XY(c.x1, c.y1));
      Reg(k2dRegLineEnd, XY(c.x2, c.y2));
      std::set<std::pair<int, int>> drawn;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
          if (Pixel(kSurface, 32, 4, x, y) != 0) drawn.insert({x, y});
      EXPECT_EQ(drawn, expected) << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2
                                 << " last " << last;
    }
  }
}

TEST_F(Engine2dTest, PacketsAndRegisterWritesDrawAlike) {
  Descriptor(0, kSurface, Mode(32, 3, 50));
  const std::vector<uint32_t> packets = {
      0xC5C08988, kSurface, Mode(32, 3, 50), 0xC0, 0x0BADF00D,  // descriptor 0, control, fg
      0x2121C9C2, XY(3, 4), 0xFFFFFFFF,                          // origin, plane mask
      0x212121E3, Size(5, 2),                                    // size: draws
  };
  Fill(kSurface, 32, 4, 0, 8);
  RunDma(packets);
  std::vector<uint8_t> byDma(board.LocalMemory() + kSurface, board.LocalMemory() + kSurface + 32 * 4 * 8);

  Fill(kSurface, 32, 4, 0, 8);
  Reg(k2dRegControl, 0xC0);
  Reg(k2dRegForeground, 0x0BADF00D);
  Reg(k2dRegOrigin, XY(3, 4));
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  board.RegWrite(k2dRegSizeGo, 2, 5);       // the low half alone...
  board.RegWrite(k2dRegSizeGo + 2, 2, 2);   // ...then the high half: the whole word draws
  std::vector<uint8_t> byMmio(board.LocalMemory() + kSurface, board.LocalMemory() + kSurface + 32 * 4 * 8);
  EXPECT_EQ(byDma, byMmio);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 7, 5), 0x0BADF00Du);
  EXPECT_EQ(Pixel(kSurface, 32, 4, 8, 5), 0u);

  // Writes that start nothing are only stored: the size register 0x130C,
  // and a size write under a control word of no drawing operation.
  const uint64_t before = engine.Operations();
  Reg(k2dRegSize, Size(4, 4));
  Reg(k2dRegControl, 0x707);
  Reg(k2dRegSizeGo, Size(4, 4));
  Reg(k2dRegLineEnd, XY(4, 4));
  EXPECT_EQ(engine.Operations(), before);
  EXPECT_EQ(board.Peek(k2dRegSizeGo, 4), Size(4, 4));
}

// The display clear of the hardware library: descriptor 0 at the display
// origin, fill with copy and foreground 0, one write of 0x138C per tile.
TEST_F(Engine2dTest, TheDisplayClearZeroesExactlyItsArea) {
  const uint32_t width = 40, height = 6;
  std::memset(board.LocalMemory() + kSurface, 0xA5, width * 4 * (height + 1));
  Reg(k2dRegDescAddress0, kSurface);
  Reg(k2dRegDescMode0, width | 0x30000 | 0x30000000);
  Reg(k2dRegControl, 0x2000C0);
  Reg(k2dRegForeground, 0);
  Reg(k2dRegPlaneMask, 0xFFFFFFFF);
  Reg(k2dRegStart, 0);
  Reg(k2dRegOrigin, 0);
  Reg(k2dRegSizeGo, Size(width, height));
  for (uint32_t i = 0; i < width * (height + 1); ++i) {
    EXPECT_EQ(board.LocalMemory()[kSurface + 4 * i], i < width * height ? 0 : 0xA5) << i;
  }
}

// Fills and copies drawn a row at a time, as one block where the
// operation allows, leave memory, faults and counts exactly as the same
// operations walked pixel by pixel. Two boards start alike, one drawing
// pixel by pixel, and take the same random operations: solid and pattern
// fills, copies and expansions, every raster operation, plane masks,
// transparency, both directions of copies over themselves, clipping, every
// pixel size, surfaces in local and system memory and running off the end
// of either, or in no memory at all.
TEST(Engine2dRowsTest, RowsDrawnAtOnceLeaveWhatThePixelWalkLeaves) {
  constexpr uint32_t kSystemBus = 0x40000000;
  constexpr size_t kSystemBytes = 64 * 1024;
  struct Drawn {
    explicit Drawn(Simulation& sim, const BoardConfig& config)
        : board(sim.AddBoard(config)), dma(board), engine(board, dma), system(kSystemBytes) {
      dma.SetSystemMemory([this](uint32_t bus, uint32_t length) -> uint8_t* {
        if (bus >= kSystemBus && uint64_t{bus} + length <= kSystemBus + system.size())
          return system.data() + (bus - kSystemBus);
        return nullptr;
      });
    }
    Board& board;
    DmaEngine dma;
    Engine2d engine;
    std::vector<uint8_t> system;
  };
  Simulation sim;
  BoardConfig config;
  config.memory_size = 1u << 20;
  config.partition1_size = 0;
  Drawn rows(sim, config), pixels(sim, config);
  pixels.engine.SetPixelByPixel(true);
  const uint32_t memory = static_cast<uint32_t>(rows.board.LocalMemorySize());
  ASSERT_EQ(memory, pixels.board.LocalMemorySize());

  std::mt19937 random(67);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  auto between = [&](int low, int high) { return low + static_cast<int>(below(static_cast<uint32_t>(high - low + 1))); };
  // Memory of few distinct words, so that transparency keys meet pixels.
  const uint32_t words[] = {0x11111111, 0xA5A5A5A5, 0x00FF00FF, 0};
  auto scribble = [&](uint8_t* at, size_t length) {
    for (size_t i = 0; i + 4 <= length; i += 4) {
      const uint32_t v = below(5) == 4 ? static_cast<uint32_t>(random()) : words[below(4)];
      std::memcpy(at + i, &v, 4);
    }
  };
  scribble(rows.board.LocalMemory(), memory);
  scribble(rows.system.data(), kSystemBytes);
  std::memcpy(pixels.board.LocalMemory(), rows.board.LocalMemory(), memory);
  pixels.system = rows.system;

  const uint32_t formats[] = {16, 40, 50};  // 1, 2 and 4 bytes a pixel
  for (int n = 0; n < 4000; ++n) {
    const uint32_t format = formats[below(3)];
    const uint32_t bytes = static_cast<uint32_t>(BytesPerPixelOfFormat(format));
    const uint32_t pitch = 1 + below(96);
    // An address word: local memory (inside, or running off its end),
    // system memory (inside, or off its end), no memory, or near the
    // destination so that a copy overlaps itself.
    auto place = [&](uint32_t near) -> uint32_t {
      switch (below(near != 0 ? 7 : 6)) {
        case 0: case 1: return (0x40000 + below(0x10000)) & ~3u;
        case 2: return (memory - below(pitch * bytes * 48)) & ~3u;
        case 3: return ((kSystemBus + below(kSystemBytes)) & ~3u) | (below(2) == 0 ? kBusAgp : kBusPciLocked);
        case 4: return below(4096) & ~3u;
        case 5: return ((0x20000 + below(0x1000)) & ~3u) | 1;
        default: return ((near + below(pitch * bytes * 8)) & ~3u) | (near & 3u);
      }
    };
    const uint32_t dst = place(0);
    const uint32_t src = below(3) == 0 ? dst : place(dst);
    const uint32_t srcPitch = below(2) == 0 ? pitch : 1 + below(96);
    const uint32_t op = std::array<uint32_t, 4>{k2dOpFill, k2dOpFill, k2dOpCopy, k2dOpExpand}[below(4)];
    const uint32_t rop = below(2) == 0 ? 0xC : below(16);
    const uint32_t flags = (below(2) ? 0x1000u : 0) | (below(2) ? 0x2000u : 0) | below(64) << 14 |
                           (below(3) == 0 ? 0x400000u : 0) | (below(3) == 0 ? k2dClipOn : 0);
    const uint32_t control = op | rop << k2dRopShift | (op == k2dOpExpand ? 2u : 1u) << k2dSourceShift | flags;
    const uint32_t masks[] = {0xFFFFFFFF, 0xFFFFFFFF, 0x00FFFFFF, 0xFFFF00FF, static_cast<uint32_t>(random())};
    const uint32_t planeMask = masks[below(5)];
    const uint32_t fg = below(3) == 0 ? static_cast<uint32_t>(random()) : words[below(4)];
    const uint32_t bg = below(2) == 0 ? 0xFFFFFFFF : static_cast<uint32_t>(random());
    const uint32_t start = below(2) == 0 ? XY(between(-4, 60), between(-4, 60)) : below(8192);
    const int w = below(8) == 0 ? between(0, 300) : between(0, 48);
    const uint32_t writes[][2] = {
        {k2dRegDescAddress0, dst},
        {k2dRegDescMode0, Mode(pitch, below(4), format)},
        {k2dRegDescAddress0 + 8, src},
        {k2dRegDescMode0 + 8, Mode(srcPitch, below(4), format)},
        {k2dRegDescAddress0 + 16, src},
        {k2dRegDescMode0 + 16, Mode(srcPitch * 8, below(4), k2dFormatOneBit)},
        {k2dRegControl, control},
        {k2dRegForeground, fg},
        {k2dRegBackground, bg},
        {k2dRegPatternLow, static_cast<uint32_t>(random())},
        {k2dRegPatternHigh, static_cast<uint32_t>(random())},
        {k2dRegPlaneMask, planeMask},
        {k2dRegClipTopLeft, XY(between(-8, 40), between(-8, 40))},
        {k2dRegClipBottomRight, XY(between(-8, 80), between(-8, 80))},
        {k2dRegStart, start},
        {k2dRegOrigin, XY(between(-10, 60), between(-10, 60))},
        {k2dRegSizeGo, Size(w, between(0, 48))},
    };
    for (Drawn* drawn : {&rows, &pixels}) {
      drawn->engine.ClearFaults();
      for (const auto& write : writes) drawn->board.RegWrite(write[0], 4, write[1]);
    }
    SCOPED_TRACE(testing::Message() << "operation " << n << ": control 0x" << std::hex << control << ", plane mask 0x"
                                    << planeMask << ", destination 0x" << dst << ", source 0x" << src << std::dec
                                    << ", " << bytes << " bytes a pixel, pitch " << pitch);
    ASSERT_EQ(std::memcmp(rows.board.LocalMemory(), pixels.board.LocalMemory(), memory), 0);
    ASSERT_EQ(rows.system, pixels.system);
    ASSERT_EQ(rows.engine.PixelsWritten(), pixels.engine.PixelsWritten());
    ASSERT_EQ(rows.engine.Faults().size(), pixels.engine.Faults().size());
    for (size_t i = 0; i < rows.engine.Faults().size(); ++i) {
      const Engine2d::Fault& a = rows.engine.Faults()[i];
      const Engine2d::Fault& b = pixels.engine.Faults()[i];
      ASSERT_EQ(std::tie(a.operation, a.write, a.address, a.pixels), std::tie(b.operation, b.write, b.address, b.pixels));
    }
  }
  EXPECT_EQ(rows.engine.Operations(), pixels.engine.Operations());
}

}  // namespace
}  // namespace orvsim
