// The format capability table, the catalogue's descriptors, the client
// numbers and the colour conversions, checked against the format and
// capability tables the engine documents, and the catalogue's life on a
// board of several device objects.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

using ktest::KernelTest;

class Catalogue : public KernelTest {
 protected:
  void SetUp() override {
    InitFormatCapabilityTable();
    ASSERT_TRUE(catalogue.Build());
  }
  const FormatDescriptor& Format(uint32_t code) {
    const FormatDescriptor* d = catalogue.Find(code);
    EXPECT_NE(d, nullptr) << code;
    return *d;
  }
  FormatCatalogue catalogue;
};

// ---- Capability table --------------------------------------------------------------------------

TEST_F(Catalogue, TheTableHoldsEachPairOnceFormatByFormatInTheEnginesOrder) {
  ASSERT_EQ(FormatCapabilityCount(), 224u);
  const std::vector<uint32_t> order = {11, 12, 13, 14, 10, 8,  9,  6,  15, 16, 7,  31, 29, 32,
                                       30, 33, 34, 35, 36, 37, 38, 1,  2,  3,  4,  5,  18, 21,
                                       19, 25, 22, 23, 24, 26, 27, 28, 17, 41, 42, 43, 39, 40};
  std::vector<uint32_t> runs;
  std::set<std::pair<uint32_t, uint32_t>> pairs;
  for (uint32_t i = 0; i < FormatCapabilityCount(); ++i) {
    const FormatCapability* e = FormatCapabilityAt(i);
    if (runs.empty() || runs.back() != e->format) runs.push_back(e->format);
    EXPECT_TRUE(pairs.insert({e->format, e->usage}).second) << e->format << "/" << e->usage;
    const uint32_t expectedClass = (e->usage == 5 || e->usage == 7)   ? 0x2B
                                   : (e->usage == 2 || e->usage == 3) ? 0x10
                                                                      : 0x24;
    EXPECT_EQ(e->usageClassBits, expectedClass) << i;
    EXPECT_EQ(FindFormatCapability(e->format, e->usage), e);
  }
  EXPECT_EQ(runs, order);
  EXPECT_EQ(FormatCapabilityAt(224), nullptr);
}

struct CapabilityCase {
  uint32_t format, usage, hardware, swap, isSigned, noAlpha, p1, p2, p3, p4, extra;
};

TEST_F(Catalogue, EntriesCarryTheirHardwareCodeFlagsAndTextureParameters) {
  const CapabilityCase cases[] = {
      {1, 2, 8, 0, 0, 0, 31, 4, 0, 1, 0},    {7, 1, 36, 0, 0, 1, 0, 0, 0, 0, 0},
      {7, 2, 37, 0, 0, 0, 31, 4, 1, 0, 0},   {9, 7, 38, 0, 0, 0, 0, 0, 0, 0, 0},
      {13, 3, 50, 1, 0, 0, 31, 4, 1, 1, 0},  {15, 2, 52, 1, 0, 0, 31, 4, 0, 0, 0},
      {18, 4, 43, 0, 0, 0, 0, 0, 0, 0, 0},   {32, 2, 34, 0, 0, 0, 31, 4, 0, 1, 0},
      {32, 3, 34, 0, 0, 0, 31, 4, 1, 1, 0},  {33, 2, 44, 1, 1, 0, 31, 8, 0, 0, 0},
      {34, 3, 45, 1, 1, 0, 19, 8, 0, 0, 0},  {35, 5, 51, 0, 0, 0, 0, 0, 0, 0, 0},
      {37, 3, 58, 1, 1, 0, 3, 8, 0, 0, 0},   {38, 3, 52, 1, 1, 0, 23, 4, 0, 0, 0},
      {39, 7, 18, 0, 0, 0, 0, 0, 0, 0, 0},   {42, 2, 46, 0, 0, 0, 32, 0, 0, 0, 1},
      {42, 5, 46, 0, 0, 0, 0, 0, 0, 0, 1},   {42, 6, 46, 0, 0, 0, 0, 0, 0, 0, 1},
      {42, 7, 46, 0, 0, 0, 0, 0, 0, 0, 0},   {43, 8, 59, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const CapabilityCase& c : cases) {
    const FormatCapability* e = FindFormatCapability(c.format, c.usage);
    ASSERT_NE(e, nullptr) << c.format << "/" << c.usage;
    EXPECT_EQ(e->hardwareCode, c.hardware) << c.format << "/" << c.usage;
    EXPECT_EQ(e->swap, c.swap) << c.format << "/" << c.usage;
    EXPECT_EQ(e->isSigned, c.isSigned) << c.format << "/" << c.usage;
    EXPECT_EQ(e->noAlpha, c.noAlpha) << c.format << "/" << c.usage;
    EXPECT_EQ(e->p1, c.p1) << c.format << "/" << c.usage;
    EXPECT_EQ(e->p2, c.p2);
    EXPECT_EQ(e->p3, c.p3) << c.format << "/" << c.usage;
    EXPECT_EQ(e->p4, c.p4) << c.format << "/" << c.usage;
    EXPECT_EQ(e->extra, c.extra) << c.format << "/" << c.usage;
  }
  // Pairs that are not there.
  for (uint32_t usage = 0; usage < 12; ++usage) EXPECT_EQ(FindFormatCapability(44, usage), nullptr);
  EXPECT_EQ(FindFormatCapability(21, 1), nullptr);
  EXPECT_NE(FindFormatCapability(19, 1), nullptr);
  EXPECT_EQ(FindFormatCapability(20, 0), nullptr);
  EXPECT_EQ(FindFormatCapability(6, 4), nullptr);
}

TEST_F(Catalogue, UsageZeroFollowsThePixelSizeAndEveryFormatWithEntriesHasTheCpuView) {
  for (uint32_t i = 0; i < catalogue.Count(); ++i) {
    const FormatDescriptor* d = catalogue.At(i);
    if (d->code >= 44) continue;  // no entries at all
    const FormatCapability* surface = FindFormatCapability(d->code, 0);
    ASSERT_NE(surface, nullptr) << d->code;
    const uint32_t expected = d->bitsPerPixel <= 8 ? 16 : d->bitsPerPixel == 16 ? 32 : 48;
    EXPECT_EQ(surface->hardwareCode, expected) << d->code;
    EXPECT_NE(FindFormatCapability(d->code, 5), nullptr) << d->code;
  }
}

// ---- Descriptors -------------------------------------------------------------------------------

struct FormatRow {
  uint32_t code, formatClass, bpp, flags;
};

// The format table: class, bits per pixel and flags of every code.
const FormatRow kFormats[] = {
    {1, 1, 4, 1},   {2, 1, 8, 1},   {3, 1, 8, 1},   {4, 1, 8, 1},   {5, 1, 8, 1},   {6, 2, 16, 3},
    {7, 2, 16, 3},  {8, 2, 16, 3},  {9, 2, 16, 3},  {10, 2, 16, 3}, {11, 2, 32, 3}, {12, 2, 32, 3},
    {13, 2, 32, 1}, {14, 2, 32, 1}, {15, 2, 32, 3}, {16, 2, 32, 3}, {17, 3, 16, 0}, {18, 3, 16, 0},
    {19, 3, 32, 0}, {21, 3, 32, 0}, {22, 3, 32, 0}, {23, 3, 32, 0}, {24, 3, 32, 0}, {25, 3, 32, 0},
    {26, 3, 32, 0}, {27, 3, 32, 0}, {28, 3, 32, 0}, {29, 4, 8, 1},  {30, 4, 16, 1}, {31, 4, 8, 1},
    {32, 4, 16, 1}, {33, 5, 16, 1}, {34, 6, 16, 1}, {35, 6, 32, 1}, {36, 5, 32, 1}, {37, 5, 32, 1},
    {38, 5, 32, 1}, {39, 7, 8, 2},  {40, 7, 8, 2},  {41, 7, 16, 2}, {42, 7, 16, 2}, {43, 7, 32, 3},
    {44, 8, 32, 1}, {45, 8, 32, 1}, {46, 8, 8, 1},
};

TEST_F(Catalogue, FortyFiveDescriptorsInBuildOrderWithTheTablesClassSizeAndFlags) {
  const std::vector<uint32_t> buildOrder = {10, 6,  7,  8,  9,  12, 11, 14, 13, 15, 16, 17, 18, 19, 21,
                                            23, 24, 26, 27, 28, 25, 22, 1,  2,  3,  4,  5,  31, 29, 30,
                                            32, 33, 34, 35, 37, 36, 38, 41, 42, 43, 39, 40, 44, 45, 46};
  ASSERT_EQ(catalogue.Count(), 45u);
  for (uint32_t i = 0; i < catalogue.Count(); ++i) EXPECT_EQ(catalogue.At(i)->code, buildOrder[i]) << i;
  for (const FormatRow& row : kFormats) {
    const FormatDescriptor& d = Format(row.code);
    EXPECT_EQ(d.formatClass, row.formatClass) << row.code;
    EXPECT_EQ(FormatClassOf(row.code), row.formatClass) << row.code;
    EXPECT_EQ(d.bitsPerPixel, row.bpp) << row.code;
    EXPECT_EQ(d.flags, row.flags) << row.code;
    EXPECT_STREQ(d.name, "");
    for (uint32_t usage = 0; usage < kUsageCount; ++usage)
      EXPECT_EQ(d.capabilities[usage], FindFormatCapability(row.code, usage)) << row.code << "/" << usage;
  }
  EXPECT_EQ(catalogue.Find(20), nullptr);
  EXPECT_EQ(catalogue.Find(0), nullptr);
  EXPECT_EQ(catalogue.Find(47), nullptr);
  for (uint32_t code : {0u, 20u, 47u, 1000u}) EXPECT_EQ(FormatClassOf(code), 0u);
}

TEST_F(Catalogue, MasksComeFromTheTableAndShiftsFromTheirLowestBit) {
  struct MaskCase {
    uint32_t code;
    FormatChannel channel;
    uint32_t mask, shift;
  };
  const MaskCase cases[] = {
      {6, kChannelAlpha, 0xF000, 12},        {6, kChannelBlue, 0x000F, 0},
      {10, kChannelGreen, 0x07E0, 5},        {13, kChannelBlue, 0x00FF0000, 16},
      {15, kChannelBlue, 0x3FF00000, 20},    {16, kChannelRed, 0x3FF00000, 20},
      {18, kChannelStencil, 0x0001, 0},      {21, kChannelExtra, 0x01000000, 24},
      {22, kChannelStencil, 0x80000000, 31}, {32, kChannelAlpha, 0xFF00, 8},
      {34, kChannelLuminance, 0xFC00, 10},   {38, kChannelV, 0x000FFC00, 10},
      {1, kChannelRed, 0, 0},                {43, kChannelAlpha, 0, 0},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(Format(c.code).masks[c.channel], c.mask) << c.code << "/" << c.channel;
    EXPECT_EQ(Format(c.code).shifts[c.channel], c.shift) << c.code << "/" << c.channel;
  }
}

TEST_F(Catalogue, ClientNumbersTranslateBothWays) {
  const std::pair<uint32_t, uint32_t> toCode[] = {
      {20, 12}, {21, 11}, {22, 12}, {23, 10}, {24, 9},  {25, 8},  {26, 6},  {28, 31}, {30, 7},
      {31, 13}, {50, 29}, {51, 32}, {60, 33}, {61, 34}, {62, 35}, {64, 37}, {65, 41}, {66, 42},
      {67, 1},  {68, 2},  {69, 3},  {70, 4},  {72, 5},  {73, 18}, {75, 19}, {79, 21}, {80, 17}};
  for (auto [client, code] : toCode) {
    EXPECT_EQ(FormatCatalogue::ClientFormatToCode(client), code) << client;
    EXPECT_EQ(catalogue.FindByClientFormat(client), catalogue.Find(code)) << client;
  }
  const std::pair<uint32_t, uint32_t> toClient[] = {
      {0, 77},  {1, 67},  {2, 68},  {3, 69},  {4, 70},  {5, 72},  {6, 26},  {7, 30},  {8, 25},
      {9, 24},  {10, 23}, {11, 21}, {12, 22}, {13, 31}, {17, 80}, {18, 73}, {19, 75}, {21, 79},
      {29, 50}, {31, 28}, {32, 51}, {33, 60}, {34, 61}, {35, 62}, {37, 64}, {41, 65}, {42, 66}};
  for (auto [code, client] : toClient) EXPECT_EQ(FormatCatalogue::ToClientFormat(code), client) << code;
  for (uint32_t client : {0u, 27u, 29u, 52u, 71u, 77u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FormatCatalogue::ClientFormatToCode(client), 0u) << client;
    EXPECT_EQ(catalogue.FindByClientFormat(client), nullptr) << client;
  }
  for (uint32_t code : {14u, 15u, 20u, 46u, 0xFFFFFFFFu}) EXPECT_EQ(FormatCatalogue::ToClientFormat(code), 0u);
}

// ---- Conversions -------------------------------------------------------------------------------

// A channel of the pixel, taken through its mask and widened to `bits` by
// repeating its bit pattern.
uint32_t Widened(uint32_t pixel, uint32_t mask, uint32_t bits) {
  if (mask == 0) return 0;
  uint32_t shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  uint32_t width = 0;
  while (((mask >> (shift + width)) & 1) != 0) ++width;
  const uint32_t c = (pixel & mask) >> shift;
  uint32_t out = 0;
  for (int at = static_cast<int>(bits) - static_cast<int>(width); at > -static_cast<int>(width); at -= width)
    out |= at >= 0 ? c << at : c >> -at;
  return out & ((1u << bits) - 1);
}

// The expected ARGB of a pixel, worked out from the format's channel masks.
uint32_t ReferenceArgb(const FormatDescriptor& d, uint32_t pixel, bool swap) {
  auto ch = [&](FormatChannel c, uint32_t bits) { return Widened(pixel, d.masks[c], bits); };
  switch (d.code) {
    case 6:
    case 7:
      return (d.code == 6 ? ch(kChannelAlpha, 8) : 0xFF) << 24 | ch(kChannelRed, 8) << 16 |
             ch(kChannelGreen, 8) << 8 | ch(kChannelBlue, 8);
    case 8:
    case 9:
    case 10: {
      uint32_t red = ch(kChannelRed, 10), blue = ch(kChannelBlue, 10);
      if (swap) std::swap(red, blue);
      const uint32_t alpha = d.code == 8 ? ch(kChannelAlpha, 2) : 3;
      return alpha << 30 | red << 20 | ch(kChannelGreen, 10) << 10 | blue;
    }
    case 15:
    case 16: {
      uint32_t low = pixel & 0x3FF, high = (pixel >> 20) & 0x3FF;
      if (swap) std::swap(low, high);
      return (pixel & 0xC00FFC00) | high << 20 | low;
    }
    case 11:
      return pixel;
    case 12:
      return pixel | 0xFF000000;
    case 29:
      return 0xFF000000 | 0x010101 * ch(kChannelLuminance, 8);
    case 30:
      return ch(kChannelLuminance, 16) << 16 | 0xFFFF;
    case 31:
      return ch(kChannelAlpha, 8) << 24;
    case 32:
      return ch(kChannelAlpha, 8) << 24 | 0x010101 * ch(kChannelLuminance, 8);
  }
  ADD_FAILURE() << "no reference for " << d.code;
  return 0;
}

TEST_F(Catalogue, ExpansionMatchesTheReferenceOnRandomPixels) {
  uint32_t out = 0;
  ASSERT_TRUE(Format(6).ExpandToArgb(&out, 0x1234, 0));
  EXPECT_EQ(out, 0x11223344u);
  ASSERT_TRUE(Format(29).ExpandToArgb(&out, 0x80, 0));
  EXPECT_EQ(out, 0xFF808080u);

  std::mt19937 random(46);
  for (uint32_t code : {6u, 7u, 8u, 9u, 10u, 11u, 12u, 15u, 16u, 29u, 30u, 31u, 32u}) {
    const FormatDescriptor& d = Format(code);
    const uint32_t pixelMask = d.bitsPerPixel == 32 ? 0xFFFFFFFF : (1u << d.bitsPerPixel) - 1;
    for (int i = 0; i < 200; ++i) {
      const uint32_t pixel = random() & pixelMask;
      for (uint32_t usage = 0; usage < kUsageCount; ++usage) {
        const FormatCapability* entry = d.capabilities[usage];
        if (entry == nullptr) continue;
        ASSERT_EQ(entry->isSigned, 0);  // no entry of these formats is signed
        uint32_t value = 0;
        ASSERT_TRUE(d.ExpandToArgb(&value, pixel, usage)) << code;
        EXPECT_EQ(value, ReferenceArgb(d, pixel, entry->swap != 0))
            << "format " << code << " usage " << usage << " pixel " << std::hex << pixel;
      }
    }
  }
  // The 2:10:10:10 texture records exchange red and blue.
  ASSERT_TRUE(Format(16).ExpandToArgb(&out, 0x40300401, kUsageTexture));
  EXPECT_EQ(out, 0x40100403u);
  ASSERT_TRUE(Format(16).ExpandToArgb(&out, 0x40300401, kUsageSurface));
  EXPECT_EQ(out, 0x40300401u);
}

TEST_F(Catalogue, ExpansionWithoutAnEntryOrAConversionLeavesTheOutputAlone) {
  struct Missing {
    uint32_t code, usage;
  };
  const Missing cases[] = {{6, 4}, {6, 9}, {6, 0xFFFFFFFF}, {17, 2}, {21, 1}, {44, 0},
                           {13, 2}, {19, 0}, {33, 2}, {43, 0}, {1, 2}};
  for (const Missing& c : cases) {
    uint32_t out = 0xDEADBEEF;
    EXPECT_FALSE(Format(c.code).ExpandToArgb(&out, 0x1234, c.usage)) << c.code << "/" << c.usage;
    EXPECT_EQ(out, 0xDEADBEEFu);
  }
}

TEST_F(Catalogue, TextureUnitColours) {
  struct ColourCase {
    uint32_t code, argb, expected;
  };
  const ColourCase cases[] = {
      {10, 0xFFFFFFFF, 0xFFFFFFFF}, {8, 0x00000000, 0x00000000}, {16, 0x80FF8000, 0x40000000 | 1023u << 20 | 513u << 10},
      {1, 0x12345678, 0x12345678},  {36, 0x12345678, 0x12345678}, {33, 0x12345678, 0x12345678},
      {30, 0x12345678, 0xFFFF3434}, {34, 0x12345678, 0x123456FF}, {35, 0x12345600, 0x123456FF},
      {37, 0x00FF0080, 0xC03FFFFF}, {38, 0xC0FF8000, 0xBFFC0200},
  };
  for (const ColourCase& c : cases) {
    uint32_t out = 0;
    ASSERT_TRUE(Format(c.code).ToTextureUnitColour(&out, c.argb)) << c.code;
    EXPECT_EQ(out, c.expected) << c.code << std::hex << " " << out;
  }
  for (uint32_t code : {13u, 14u, 17u, 19u, 39u, 43u, 44u}) {
    uint32_t out = 0xDEADBEEF;
    EXPECT_FALSE(Format(code).ToTextureUnitColour(&out, 0x12345678)) << code;
    EXPECT_EQ(out, 0xDEADBEEFu);
  }
}

// ---- The catalogue's life ----------------------------------------------------------------------

TEST_F(Catalogue, EveryRefusedAllocationOfTheBuildLeavesNoBlock) {
  const size_t liveBefore = glue.LiveBlocks().size();
  for (uint64_t nth = 1; nth <= kCatalogueDescriptors + 1; ++nth) {
    glue.FailAllocation(nth);
    FormatCatalogue* made = new FormatCatalogue();
    const bool built = made != nullptr && made->Build();
    EXPECT_FALSE(built) << nth;
    delete made;
    glue.FailAllocation(0);
    EXPECT_EQ(glue.LiveBlocks().size(), liveBefore) << nth;
  }
}

TEST_F(KernelTest, TheFirstDeviceBuildsTheCatalogueTheOthersShareItAndTheLastFreesIt) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  PDEV* a = Enable(file, 0);
  PDEV* b = Enable(file, 1);
  ASSERT_TRUE(a && b);
  CommonData* common = Common();
  ASSERT_NE(common->formatCatalogue, nullptr);
  EXPECT_EQ(common->formatCatalogue->Count(), 45u);
  EXPECT_EQ(a->formatCatalogue, common->formatCatalogue);
  EXPECT_EQ(b->formatCatalogue, common->formatCatalogue);

  OrvRegion* region = OrvRegion_FindFromVirtual(device, common);
  OrvRegion_IncrementRefCount(region);
  DestroyPdev(kdev, a);
  EXPECT_NE(common->formatCatalogue, nullptr);
  EXPECT_EQ(b->formatCatalogue, common->formatCatalogue);
  const size_t liveBefore = glue.LiveBlocks().size();
  DestroyPdev(kdev, b);
  EXPECT_EQ(common->formatCatalogue, nullptr);
  // The catalogue and its 45 descriptors went with the rest of the objects.
  EXPECT_LT(glue.LiveBlocks().size() + 46, liveBefore + 1);
  OrvRegion_DecrementRefCount(region);
}

}  // namespace
