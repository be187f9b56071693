// Pixel transfers on a local-DMA board: uploads and read-backs through the
// scratch surfaces against the bytes that went in, the chunking and tag
// waits of long uploads with a slow engine, and the converters against
// per-pixel references written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "xdriver/pixel_convert.h"
#include "xdriver/pixel_xfer.h"
#include "xdriver/tests/xaa_fixture.h"
#include "xdriver/xaa_hooks.h"

namespace {

using Words = std::vector<uint32_t>;

std::vector<uint8_t> Image(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i < bytes; ++i)
    out[i] = static_cast<uint8_t>(twodtest::Noise(static_cast<int>(i), 7, seed) >> 5);
  return out;
}

class PixelXfer : public twodtest::XaaScreenTest {
 protected:
  long Count(const uint32_t* from, uint32_t word) {
    const Words words = WordsSince(pdev_->primInt, from);
    return std::count(words.begin(), words.end(), word);
  }
  // The rectangle of the primary as bytes, row after row.
  std::vector<uint8_t> Bytes(int x, int y, int w, int h) {
    std::vector<uint8_t> out;
    for (int row = 0; row < h; ++row) {
      const uint8_t* at = PixelAt(x, y + row);
      out.insert(out.end(), at, at + static_cast<size_t>(w) * XaaScreenTest::Bytes());
    }
    return out;
  }
  // The rows of an image at `pitch`, packed.
  static std::vector<uint8_t> Packed(const std::vector<uint8_t>& image, int pitch, int rowBytes, int h) {
    std::vector<uint8_t> out;
    for (int row = 0; row < h; ++row)
      out.insert(out.end(), image.begin() + static_cast<long>(row) * pitch,
                 image.begin() + static_cast<long>(row) * pitch + rowBytes);
    return out;
  }
};

class PixelXferAtDepth : public PixelXfer, public testing::WithParamInterface<uint32_t> {
 protected:
  void SetUp() override {
    PixelXfer::SetUp();
    Start(GetParam());
  }
};

TEST_P(PixelXferAtDepth, AnUploadReadBackRoundTripsByteForByteDirectlyAndThroughSystemMemory) {
  const int w = 37, h = 23, bytes = static_cast<int>(XaaScreenTest::Bytes());
  const int pitch = w * bytes + 6;
  const std::vector<uint8_t> image = Image(static_cast<size_t>(pitch) * h, GetParam());
  const std::vector<uint8_t> rows = Packed(image, pitch, w * bytes, h);
  KstrnXAAWritePixmap(scrn_, 13, 17, w, h, const_cast<uint8_t*>(image.data()), pitch, GXcopy,
                      0xFFFFFFFF, -1, static_cast<int>(GetParam()), scrn_->depth);
  EXPECT_TRUE(info_->NeedToSync);
  ASSERT_EQ(Bytes(13, 17, w, h), rows);

  const int outPitch = w * bytes + 10;
  std::vector<uint8_t> out(static_cast<size_t>(outPitch) * h, 0xEE);
  KstrnXAAReadPixmap(scrn_, 13, 17, w, h, out.data(), outPitch, static_cast<int>(GetParam()), scrn_->depth);
  EXPECT_EQ(Packed(out, outPitch, w * bytes, h), rows);
  EXPECT_EQ(out[static_cast<size_t>(w * bytes)], 0xEE) << "nothing past a row";

  // With a system-memory third scratch surface the engine copies the rows
  // there first.
  std::unique_ptr<TempBit> system = SystemScratch(0x20000);
  ASSERT_NE(system, nullptr);
  TempBit* third = pdev_->data2d.tempBits[2];
  pdev_->data2d.tempBits[2] = system.get();
  std::fill(out.begin(), out.end(), 0xEE);
  const uint32_t* from = pdev_->primInt->cursor;
  KstrnXAAReadPixmap(scrn_, 13, 17, w, h, out.data(), outPitch, static_cast<int>(GetParam()), scrn_->depth);
  EXPECT_EQ(Count(from, 0xE3C1C08E), 1) << "one chunk into the scratch surface";
  EXPECT_EQ(Packed(out, outPitch, w * bytes, h), rows);
  pdev_->data2d.tempBits[2] = third;
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(PixelXfer, ThreePackedRowsGoAsOneChunkAndALongImageInQuarterBufferChunks) {
  Start(32);
  const std::vector<uint8_t> small = Image(3 * 10 * 4, 1);
  const uint32_t* from = pdev_->primInt->cursor;
  KstrnXAAWritePixmap(scrn_, 2, 3, 10, 3, const_cast<uint8_t*>(small.data()), 40, GXcopy, 0xFFFFFFFF,
                      -1, 32, 24);
  const Words words = WordsSince(pdev_->primInt, from);
  const auto upload = std::find(words.begin(), words.end(), 0x21E3C2C1u);
  ASSERT_LE(upload + 4, words.end());
  EXPECT_EQ(upload[2], 3u << 16 | 2);
  EXPECT_EQ(upload[3], 3u << 16 | 10);
  EXPECT_EQ(std::count(words.begin(), words.end(), 0x21E3C2C1u), 1);
  EXPECT_EQ(Bytes(2, 3, 10, 3), small);

  // 300 rows of 4000 bytes in chunks of a quarter of the 512 KB buffer
  // plus a row: the buffer wraps twice, the engine lagging behind.
  engine_->SetLatencyReads(5000);
  const std::vector<uint8_t> big = Image(300 * 4000, 2);
  from = pdev_->primInt->cursor;
  KstrnXAAWritePixmap(scrn_, 0, 100, 1000, 300, const_cast<uint8_t*>(big.data()), 4000, GXcopy,
                      0xFFFFFFFF, -1, 32, 24);
  EXPECT_EQ(Count(from, 0x21E3C2C1), (300 + 32) / 33);
  engine_->RunPending();
  EXPECT_EQ(Bytes(0, 100, 1000, 300), big);
}

TEST_F(PixelXfer, ATransparentUploadLeavesTheScreenWhereTheImageHasTheColour) {
  Start(16);
  Scribble(0, 0, 20, 4);
  const std::vector<uint32_t> before = Snapshot(0, 0, 20, 4);
  std::vector<uint16_t> image(20 * 4);
  for (size_t i = 0; i < image.size(); ++i) image[i] = i % 3 == 0 ? 0xBEEF : static_cast<uint16_t>(i * 977);
  KstrnXAAWritePixmap(scrn_, 0, 0, 20, 4, reinterpret_cast<uint8_t*>(image.data()), 40, GXcopy, 0xFFFF,
                      0xBEEF, 16, 16);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 20; ++x) {
      const uint16_t v = image[static_cast<size_t>(y) * 20 + x];
      EXPECT_EQ(Pixel(x, y), v == 0xBEEF ? before[static_cast<size_t>(y) * 20 + x] : v) << x << "," << y;
    }
}

TEST_F(PixelXfer, AReadBackWithAValidHostCopySendsNoPacketAndOneWithoutWaitsForTheEngine) {
  Start(32);
  Scribble(0, 0, 8, 8);
  std::vector<uint8_t> out(8 * 8 * 4);
  pdev_->data2d.Primary().flags |= kDevBitHostCopy;
  const uint32_t* from = pdev_->primInt->cursor;
  KstrnXAAReadPixmap(scrn_, 0, 0, 8, 8, out.data(), 32, 32, 24);
  EXPECT_EQ(pdev_->primInt->cursor, from);
  EXPECT_EQ(out, Bytes(0, 0, 8, 8));
  pdev_->data2d.Primary().flags &= ~kDevBitHostCopy;

  // A fill the engine has not run yet is in what comes back.
  engine_->SetLatencyReads(20);
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x00ABCDEF;
  front.FillRects(gc, {BoxRec{2, 2, 6, 6}});
  KstrnXAAReadPixmap(scrn_, 0, 0, 8, 8, out.data(), 32, 32, 24);
  uint32_t pixel;
  std::memcpy(&pixel, out.data() + (3 * 8 + 3) * 4, 4);
  EXPECT_EQ(pixel, 0x00ABCDEFu);
}

// ---- Conversion ---------------------------------------------------------------------------

// Per-pixel references of the conversions.
uint32_t SourcePixel(const uint8_t* row, uint32_t bpp, uint32_t x) {
  switch (bpp) {
    case 4: return x & 1 ? row[x / 2] & 0xF : row[x / 2] >> 4;
    case 8: return row[x];
    default: return row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
  }
}
uint32_t Converted(uint32_t source, uint32_t sourceBpp, uint32_t targetBpp, const uint32_t* table) {
  if (sourceBpp != 24) return table != nullptr ? table[source] : source;
  const uint32_t b = source & 0xFF, g = (source >> 8) & 0xFF, r = source >> 16;
  if (targetBpp == 16) return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
  return source;
}

struct ConvertCase {
  uint32_t sourceBpp, targetBpp, x, width;
  bool table;
};

TEST(PixelConvert, EveryConverterEqualsThePerPixelReference) {
  const ConvertCase cases[] = {
      {8, 32, 0, 5, true},  {8, 32, 3, 8, true},  {8, 16, 1, 7, true},  {8, 8, 0, 9, true},
      {8, 8, 2, 6, false},  {4, 8, 1, 7, true},   {4, 8, 1, 6, false},  {4, 16, 0, 5, true},
      {4, 32, 3, 8, true},  {4, 32, 0, 1, true},  {24, 16, 0, 4, false}, {24, 16, 1, 7, false},
      {24, 32, 0, 8, false}, {24, 32, 2, 5, false},
  };
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) table[i] = 0x01000193u * (i + 1) ^ 0xA5A5A5A5u;
  for (const ConvertCase& c : cases) {
    const std::string name = std::to_string(c.sourceBpp) + " to " + std::to_string(c.targetBpp) + " x " +
                             std::to_string(c.x) + " width " + std::to_string(c.width);
    const uint32_t rows = 3;
    const int32_t pitch = 40;
    const std::vector<uint8_t> source = Image(static_cast<size_t>(pitch) * rows, c.width + c.x);
    const uint32_t* t = c.table ? table : nullptr;
    const XferConverter convert = XferConverterFor(c.sourceBpp, c.targetBpp, c.table);
    ASSERT_NE(convert, nullptr) << name;
    const XferRowSplit split = XferSplitRow(c.sourceBpp, c.x, c.width);
    const uint32_t targetBytes = c.targetBpp / 8;
    std::vector<uint8_t> out(rows * c.width * targetBytes + 16, 0x5A);
    const uint8_t* start = source.data() + (c.sourceBpp == 4 ? c.x / 2 : c.x * c.sourceBpp / 8);
    const uint8_t* end = convert(out.data(), start, rows, split.leading, split.groups, split.trailing,
                                 pitch - static_cast<int32_t>(split.bytes), t);
    EXPECT_EQ(end, start + static_cast<ptrdiff_t>(rows) * pitch) << name;
    for (uint32_t row = 0; row < rows; ++row)
      for (uint32_t i = 0; i < c.width; ++i) {
        const uint32_t want = Converted(SourcePixel(source.data() + row * pitch, c.sourceBpp, c.x + i),
                                        c.sourceBpp, c.targetBpp, t);
        uint32_t got = 0;
        std::memcpy(&got, out.data() + (row * c.width + i) * targetBytes, targetBytes);
        const uint32_t mask = targetBytes == 4 ? 0xFFFFFFFFu : (1u << (8 * targetBytes)) - 1;
        ASSERT_EQ(got, want & mask) << name << " row " << row << " pixel " << i;
      }
    EXPECT_EQ(out[rows * c.width * targetBytes], 0x5A) << name << ": nothing past the rows";
  }
  EXPECT_EQ(XferConverterFor(8, 32, false), nullptr) << "a lookup without a table";
  EXPECT_EQ(XferConverterFor(24, 8, false), nullptr);
}

TEST_F(PixelXfer, ConvertedUploadsLandAsTheReferenceSaysAndUnconvertibleImagesDrawNothing) {
  Start(32);
  // 8 to 32 bits with a table, 5-pixel rows from an odd x.
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) table[i] = i * 0x00010203u;
  const std::vector<uint8_t> indexed = Image(4 * 12, 3);
  const LRECT rect = {30, 40, 35, 44};
  const LPOINT at = {3, 0};
  XferXBppToVid(pdev_, &pdev_->data2d.Primary(), indexed.data(), 12, 8, table, &rect, &at, 0xC0, 0, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(Pixel(30 + x, 40 + y), table[indexed[static_cast<size_t>(y) * 12 + 3 + x]]) << x << "," << y;

  // 24 bits onto 32: blue, green, red bytes.
  const std::vector<uint8_t> rgb = Image(6 * 3 * 2, 4);
  KstrnXAAWritePixmap(scrn_, 0, 0, 6, 2, const_cast<uint8_t*>(rgb.data()), 18, GXcopy, 0xFFFFFFFF, -1, 24, 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(Pixel(x, y), SourcePixel(rgb.data() + y * 18, 24, static_cast<uint32_t>(x))) << x << "," << y;

  // XAA hands no table: an 8-bit image onto 32 bits draws nothing, and so
  // does a 24-bit one on a depth-30 screen.
  const uint32_t* from = pdev_->primInt->cursor;
  KstrnXAAWritePixmap(scrn_, 0, 0, 4, 4, const_cast<uint8_t*>(indexed.data()), 12, GXcopy, 0xFFFFFFFF, -1, 8, 8);
  pdev_->mode.redMask = 0x3FF00000;
  KstrnXAAWritePixmap(scrn_, 0, 0, 6, 2, const_cast<uint8_t*>(rgb.data()), 18, GXcopy, 0xFFFFFFFF, -1, 24, 24);
  EXPECT_EQ(pdev_->primInt->cursor, from);
}

TEST_F(PixelXfer, OnEightAndSixteenBitScreensIndexesStayAndTrueColourBecomes565) {
  Start(8);
  // 4-bit pixels widen to their index on an 8-bit screen; 24 bits draw nothing.
  const std::vector<uint8_t> nibbles = {0x12, 0x34, 0x5F, 0xA0};
  KstrnXAAWritePixmap(scrn_, 10, 10, 3, 2, const_cast<uint8_t*>(nibbles.data()), 2, GXcopy, 0xFF, -1, 4, 4);
  EXPECT_EQ((std::vector<uint32_t>{Pixel(10, 10), Pixel(11, 10), Pixel(12, 10), Pixel(10, 11), Pixel(11, 11),
                                   Pixel(12, 11)}),
            (std::vector<uint32_t>{1, 2, 3, 5, 0xF, 0xA}));
  const uint32_t* from = pdev_->primInt->cursor;
  const std::vector<uint8_t> rgb(24, 0x80);
  KstrnXAAWritePixmap(scrn_, 0, 0, 4, 2, const_cast<uint8_t*>(rgb.data()), 12, GXcopy, 0xFF, -1, 24, 24);
  EXPECT_EQ(pdev_->primInt->cursor, from);
}

TEST_F(PixelXfer, TwentyFourBitImagesOnASixteenBitScreenAre565) {
  Start(16);
  const std::vector<uint8_t> rgb = {0x08, 0x04, 0xF8, 0xFF, 0xFF, 0xFF, 0x00, 0xFC, 0x00, 0x10, 0x20, 0x30, 0x07, 0x03, 0x07};
  KstrnXAAWritePixmap(scrn_, 5, 5, 5, 1, const_cast<uint8_t*>(rgb.data()), 15, GXcopy, 0xFFFF, -1, 24, 16);
  EXPECT_EQ((std::vector<uint32_t>{Pixel(5, 5), Pixel(6, 5), Pixel(7, 5), Pixel(8, 5), Pixel(9, 5)}),
            (std::vector<uint32_t>{0xF821, 0xFFFF, 0x07E0, 0x3102, 0x0000}));
}

INSTANTIATE_TEST_SUITE_P(Depths, PixelXferAtDepth, testing::Values(8u, 16u, 32u),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                           return std::to_string(info.param) + "bpp";
                         });

}  // namespace
