// EDID decoding on small blocks built for each rule: standard and detailed
// timings, frame sizes and aspect classes, the mode list's order, the
// CEA-861 extension and EDID 2.0. Buffers are exactly 256 bytes on the heap,
// so a read past them ends the test under the address sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/edid_text.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/timing_tables.h"
#include "hwsharing/tests/edid_fixture.h"

namespace {

using hwtest::Detailed;
using hwtest::Edid1;

MODEINFO Query(uint32_t w, uint32_t h) {
  MODEINFO m{};
  m.ulDispWidth = w;
  m.ulDispHeight = h;
  m.ulZoom = 1;
  return m;
}

std::vector<EDIDMODE> ListOf(const EDIDMODE* list) {
  std::vector<EDIDMODE> out;
  for (size_t i = 0; i < kEdidModeEntries && list[i].ulWidth != 0; ++i) out.push_back(list[i]);
  return out;
}

std::string Describe(const std::vector<EDIDMODE>& list) {
  std::string s;
  for (const EDIDMODE& m : list)
    s += std::to_string(m.ulWidth) + "x" + std::to_string(m.ulHeight) + "@" + std::to_string(m.ulRefresh) + "/" +
         std::to_string(m.flSource) + " ";
  return s;
}

TEST(EdidBlock, VersionSizeAndValidity) {
  Edid1 e;
  EXPECT_EQ(HALPGetEDIDVersion(e.data()), 0x13u);
  EXPECT_EQ(HALPGetEDIDBufferSize(e.data()), 128u);
  EXPECT_EQ(HALPIsEDIDBufferValid(e.data()), 1u);
  e[126] = 1;  // announces an extension, whose bytes (zeros) do not sum to 0 with it
  EXPECT_EQ(HALPGetEDIDBufferSize(e.data()), 256u);
  EXPECT_EQ(HALPIsEDIDBufferValid(e.data()), 0u);
  e.AddCea(3, {}, {});
  EXPECT_EQ(HALPIsEDIDBufferValid(e.data()), 1u);
  e[40] ^= 1;
  EXPECT_EQ(HALPIsEDIDBufferValid(e.data()), 0u);

  std::vector<uint8_t> v2(256, 0);
  v2[0] = 0x20;
  EXPECT_EQ(HALPGetEDIDVersion(v2.data()), 0x20u);
  EXPECT_EQ(HALPGetEDIDBufferSize(v2.data()), 256u);
  v2[0] = 0x31;
  EXPECT_EQ(HALPGetEDIDBufferSize(v2.data()), 0u);
  EXPECT_EQ(HALPIsEDIDBufferValid(v2.data()), 0u);
}

TEST(EdidBlock, StandardTimings) {
  struct Case {
    uint8_t revision, b0, b1;
    bool decodes;
    uint32_t w, h;
  };
  const Case cases[] = {
      {3, 0xD1, 0x00, true, 1920, 1200},  // 16:10 from revision 3
      {2, 0xD1, 0x00, true, 1920, 1920},  // 1:1 before
      {3, 0x8B, 0xC0, true, 1360, 768},   // 16:9 would give 765
      {3, 0x4B, 0xC0, true, 848, 480},
      {3, 0x8B, 0xC1, true, 1360, 765},   // only the 60 Hz pair is special
      {3, 0x81, 0x80, true, 1280, 1024},  // 5:4
      {3, 0x61, 0x40, true, 1024, 768},   // 4:3
      {3, 0x81, 0xC0, true, 1280, 720},   // 16:9
      {3, 0x01, 0x01, false, 0, 0},
      {3, 0x01, 0x40, false, 0, 0},
      {3, 0x61, 0x01, false, 0, 0},
  };
  for (const Case& c : cases) {
    const uint8_t bytes[2] = {c.b0, c.b1};
    uint32_t w = 0, h = 0;
    EXPECT_EQ(HALPGetResFromStandardTiming(0x10 | c.revision, bytes, &w, &h), c.decodes) << std::hex << +c.b0;
    EXPECT_EQ(w, c.w) << std::hex << +c.b0 << " " << +c.b1;
    EXPECT_EQ(h, c.h) << std::hex << +c.b0 << " " << +c.b1;
  }
}

TEST(EdidBlock, DetailedTimingDecoding) {
  uint8_t d[18];
  hwtest::PutDetailed(d, hwtest::Timing1080p());
  MODEINFO m{};
  ASSERT_TRUE(HALPGetEDIDDetailedTimingInfo(d, &m));
  EXPECT_EQ(m.ulDispWidth, 1920u);
  EXPECT_EQ(m.ulDispHeight, 1080u);
  EXPECT_EQ(m.ulPixClock, 148500u);
  EXPECT_EQ(m.ulRefreshRate, 60u);
  EXPECT_EQ(m.ulHorizRate, 68u);  // 67.5 rounds up
  EXPECT_EQ(m.ulHFPorch, 88u);
  EXPECT_EQ(m.ulHSync, 44u);
  EXPECT_EQ(m.ulHBPorch, 148u);
  EXPECT_EQ(m.ulVFPorch, 4u);
  EXPECT_EQ(m.ulVSync, 5u);
  EXPECT_EQ(m.ulVBPorch, 36u);
  EXPECT_EQ(m.flSignalMode, kSignalHSyncPositive | kSignalVSyncPositive);

  // Polarity bits count only for digital separate sync; high bits of every
  // field; a clock beyond 429 MHz keeps its refresh.
  hwtest::PutDetailed(d, {59400, 3840, 560, 2160, 90, 176, 88, 8, 10, 0x1A});
  ASSERT_TRUE(HALPGetEDIDDetailedTimingInfo(d, &m));
  EXPECT_EQ(m.ulDispWidth, 3840u);
  EXPECT_EQ(m.ulRefreshRate, 60u);
  EXPECT_EQ(m.ulHorizRate, 135u);
  EXPECT_EQ(m.ulHBPorch, 296u);
  EXPECT_EQ(m.flSignalMode, kSignalHSyncPositive);
  hwtest::PutDetailed(d, {10000, 1024, 320, 768, 38, 300, 260, 40, 33, 0x06});  // analog: no polarity
  ASSERT_TRUE(HALPGetEDIDDetailedTimingInfo(d, &m));
  EXPECT_EQ(m.ulHFPorch, 300u);
  EXPECT_EQ(m.ulHSync, 260u);
  EXPECT_EQ(m.ulVFPorch, 40u);
  EXPECT_EQ(m.ulVSync, 33u);
  EXPECT_EQ(m.flSignalMode, 0u);

  // Totals of 0 decode nothing.
  hwtest::PutDetailed(d, {10000, 0, 0, 768, 38, 0, 0, 1, 1});
  EXPECT_FALSE(HALPGetEDIDDetailedTimingInfo(d, &m));
  EXPECT_EQ(m.ulRefreshRate, 0u);
}

TEST(EdidBlock, FrameSizesOfDetailedTimings) {
  uint8_t d[18];
  uint32_t w = 0, h = 0;
  bool doubled = true;
  // Interlaced: two fields make the frame.
  hwtest::PutDetailed(d, {7425, 1920, 280, 540, 22, 88, 44, 2, 5, 0x9E});
  HALPGetResFromDetailedTiming(d, 0, &w, &h, &doubled);
  EXPECT_EQ(w, 1920u);
  EXPECT_EQ(h, 1080u);
  EXPECT_FALSE(doubled);
  // Pixel-doubled monitors: widths doubled unless that makes a very wide
  // picture.
  hwtest::PutDetailed(d, {1300, 320, 80, 240, 22, 8, 32, 3, 4});
  MODEINFO m{};
  ASSERT_TRUE(HALPGetTranslatedDetailedTimingInfo(d, kMonitorPixelDoubled, &m));
  EXPECT_EQ(m.ulDispWidth, 640u);
  EXPECT_EQ(m.flSignalMode & 0x4000, 0x4000u);
  hwtest::PutDetailed(d, {7425, 1280, 370, 720, 30, 110, 40, 5, 5});
  ASSERT_TRUE(HALPGetTranslatedDetailedTimingInfo(d, kMonitorPixelDoubled, &m));
  EXPECT_EQ(m.ulDispWidth, 1280u);
  EXPECT_EQ(m.flSignalMode & 0x4000, 0u);
  // Display descriptors and unused slots have no size.
  std::memset(d, 0, sizeof(d));
  d[3] = 0xFC;
  HALPGetResFromDetailedTiming(d, 0, &w, &h, &doubled);
  EXPECT_EQ(w, 0u);
  EXPECT_FALSE(HALPGetTranslatedDetailedTimingInfo(d, 0, &m));
  std::memset(d, 0x01, sizeof(d));
  HALPGetResFromDetailedTiming(d, 0, &w, &h, &doubled);
  EXPECT_EQ(w, 0u);
  EXPECT_FALSE(HALPGetTranslatedDetailedTimingInfo(d, 0, &m));
}

TEST(EdidBlock, AspectRatioClasses) {
  struct Case {
    uint32_t w, h, cls;
  };
  const Case cases[] = {
      {0, 480, 0},         {640, 0, 0},        {1024, 1024, kAspectSquare}, {320, 200, kAspectWide},
      {480, 640, kAspectTall}, {640, 350, kAspectWide}, {640, 480, kAspectWide},
      {1920, 1080, kAspect16x9}, {1920, 1200, kAspect16x10}, {1280, 1024, kAspectWide},
      {2560, 720, kAspectVeryWide}, {1366, 768, kAspect16x9}, {1024, 1280, kAspectTall},
      {1280, 768, kAspect16x10},
  };
  for (const Case& c : cases) EXPECT_EQ(HALPComputeAspectRatio(c.w, c.h), c.cls) << c.w << "x" << c.h;
}

TEST(EdidModeList, InsertionKeepsTheOrderAndItsTies) {
  EDIDMODE list[kEdidModeEntries] = {};
  HSLKSTInsertEDIDMode(list, {1024, 768, 60, kEdidModeEstablished});
  HSLKSTInsertEDIDMode(list, {1024, 768, 60, kEdidModeStandard});   // same refresh: before
  HSLKSTInsertEDIDMode(list, {1024, 768, 75, kEdidModeStandard});   // higher refresh: after
  HSLKSTInsertEDIDMode(list, {800, 600, 60, kEdidModeEstablished});  // narrower: first
  HSLKSTInsertEDIDMode(list, {1024, 600, 60, kEdidModeDetailed});    // same width, lower: before 768
  HSLKSTInsertEDIDMode(list, {1024, 768, 60, kEdidModeStandard});   // already there
  HSLKSTInsertEDIDMode(list, {0, 768, 60, kEdidModeStandard});      // no size
  EXPECT_EQ(Describe(ListOf(list)), "800x600@60/1 1024x600@60/4 1024x768@60/2 1024x768@60/1 1024x768@75/2 ");

  // A full list takes a smaller entry and drops its last one.
  EDIDMODE full[kEdidModeEntries] = {};
  for (uint32_t i = 0; i < kEdidModeEntries; ++i) HSLKSTInsertEDIDMode(full, {640 + 8 * i, 480, 60, 1});
  HSLKSTInsertEDIDMode(full, {4096, 2160, 60, 1});
  EXPECT_EQ(full[kEdidModeEntries - 1].ulWidth, 640u + 8 * 63);
  HSLKSTInsertEDIDMode(full, {320, 200, 70, 1});
  EXPECT_EQ(full[0].ulWidth, 320u);
  EXPECT_EQ(full[kEdidModeEntries - 1].ulWidth, 640u + 8 * 62);
}

TEST(EdidModeList, BuiltFromEveryKindOfTiming) {
  Edid1 e;
  e.SetEstablished(0, 0x21)   // 800x600@60 (bit 0), 640x480@60 (bit 5)
      .SetEstablished(1, 0x20)  // 832x624@75: not offered
      .SetStandard(0, 0x61, 0x4F)  // 1024x768@75
      .SetStandard(1, 0xD1, 0x00)  // 1920x1200@60
      .SetDetailed(0, hwtest::Timing1080p())
      .SetDetailed(1, {10650, 1440, 464, 900, 34, 80, 152, 3, 6})
      .SetText(2, 0xFC, "TEST")
      .SetRange(3, 56, 75, 30, 83, 16);
  EDIDMODE list[kEdidModeEntries];
  HALPGetEDID1EdidModes(e.data(), list, 0);
  EXPECT_EQ(Describe(ListOf(list)),
            "640x480@60/1 800x600@60/1 1024x768@75/2 1440x900@60/4 1920x1080@60/8 1920x1200@60/2 ");
  EXPECT_EQ(HALPGetEDID1AspectRatio(e.data(), 0), kAspectWide | kAspect16x9 | kAspect16x10);

  e[24] &= ~0x02;  // no preferred timing: the first detailed timing is a plain one
  e.Seal();
  HALPGetEDID1EdidModes(e.data(), list, 0);
  EXPECT_EQ(list[4].flSource, kEdidModeDetailed);
}

TEST(EdidCea, RevisionTwoGivesDetailedTimingsOnly) {
  Edid1 e;
  e.AddCea(2, {hwtest::VideoBlock({16, 4})}, {{7425, 1280, 370, 720, 30, 110, 40, 5, 5}});
  EXPECT_EQ(HALPGetExtCEA861VideoCodeNumber(e.data(), nullptr), 0u);
  EDIDMODE list[kEdidModeEntries];
  HALPGetEDID1EdidModes(e.data(), list, 0);
  EXPECT_EQ(Describe(ListOf(list)), "1280x720@60/4 ");
}

TEST(EdidCea, VideoCodesAfterAnAudioBlockWithTheNativeBit) {
  Edid1 e;
  e.AddCea(3, {hwtest::AudioBlock(), hwtest::VideoBlock({0x90, 4, 99, 2})}, {});
  uint8_t svd[kCeaMaxVideoDescriptors];
  ASSERT_EQ(HALPGetExtCEA861VideoCodeNumber(e.data(), svd), 4u);
  EXPECT_TRUE(HALPIsExtCEA861VideoCodeModeNative(svd[0]));
  EDIDMODE list[kEdidModeEntries];
  HALPGetEDID1EdidModes(e.data(), list, 0);
  // Code 99 has no timing in the library and is skipped.
  EXPECT_EQ(Describe(ListOf(list)), "720x480@60/2 1280x720@60/2 1920x1080@60/10 ");

  MODEINFO q = Query(1280, 720);
  EXPECT_EQ(HALPGetEDID1StandardTimingNumber(e.data(), &q, false), 1u);
  ASSERT_TRUE(HALPGetExtCEA861VideoCodeTiming(e.data(), &q, 0));
  EXPECT_EQ(q.ulPixClock, 74250u);
  EXPECT_EQ(q.ulHFPorch, 110u);
}

TEST(EdidCea, BlocksAndTimingsStayInsideTheExtension) {
  // A video block claiming 31 codes where the detailed timings start after
  // 6 bytes: only the bytes before them are codes.
  Edid1 e;
  e.AddCea(3, {{(2 << 5) | 31, 16, 4}}, {}, 10);
  uint8_t svd[kCeaMaxVideoDescriptors];
  EXPECT_EQ(HALPGetExtCEA861VideoCodeNumber(e.data(), svd), 5u);  // bytes 5..9

  struct Case {
    uint8_t offset;
    uint32_t descriptors;
  };
  // Offsets outside 4..127 name no detailed timings; from 111 on none fits.
  const Case cases[] = {{0, 4}, {2, 4}, {4, 10}, {20, 10}, {109, 5}, {110, 5}, {111, 4}, {127, 4}, {128, 4}, {255, 4}};
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(e.data(), e.data() + 256);
    buf[130] = c.offset;
    const uint8_t* d[kMaxDetailedBuffer];
    EXPECT_EQ(HALPGetCompleteDetailedTimingBuffer(buf.data(), d), c.descriptors) << +c.offset;
    EDIDMODE list[kEdidModeEntries];
    HALPGetEDID1EdidModes(buf.data(), list, 0);
    uint8_t codes[kCeaMaxVideoDescriptors];
    HALPGetExtCEA861VideoCodeNumber(buf.data(), codes);
  }
  // A block whose length runs past the end of the extension.
  std::vector<uint8_t> buf(e.data(), e.data() + 256);
  buf[130] = 127;
  for (size_t i = 132; i < 255; ++i) buf[i] = (2 << 5) | 31;
  EXPECT_LE(HALPGetExtCEA861VideoCodeNumber(buf.data(), nullptr), 123u);
}

TEST(EdidCea, ExtensionTimingsJoinTheDetailedQueries) {
  Edid1 e;
  e.SetDetailed(0, hwtest::Timing1080p());
  e.AddCea(3, {}, {{7425, 1920, 280, 1080, 45, 88, 44, 4, 5, 0x1E}, {7425, 1280, 370, 720, 30, 110, 40, 5, 5}});
  MODEINFO q = Query(1920, 1080);
  EXPECT_EQ(HALPGetEDID1DetailedTimingNumber(e.data(), &q, 0), 2u);
  ASSERT_TRUE(HALPGetEDID1DetailedTiming(e.data(), &q, 1, 0));
  EXPECT_EQ(q.ulPixClock, 74250u);
  EXPECT_EQ(q.ulRefreshRate, 30u);
  EXPECT_FALSE(HALPGetEDID1DetailedTiming(e.data(), &q, 2, 0));
}

TEST(EdidTimings, StandardTimingsTakeVesaRowsOrGtf) {
  Edid1 e;
  e.SetStandard(0, 0x61, 0x40)   // 1024x768@60: a VESA row
      .SetStandard(1, 0x61, 0x42)  // 1024x768@62: GTF only
      .SetEstablished(1, 0x08);    // 1024x768@60
  MODEINFO q = Query(1024, 768);
  EXPECT_EQ(HALPGetEDID1StandardTimingNumber(e.data(), &q, false), 1u);
  EXPECT_EQ(HALPGetEDID1StandardTimingNumber(e.data(), &q, true), 2u);
  ASSERT_TRUE(HALPGetEDID1StandardTiming(e.data(), &q, 1, true));
  MODEINFO gtf = Query(1024, 768);
  HALPGetVerticalGTFParams(&gtf, 62);
  EXPECT_EQ(q.ulPixClock, gtf.ulPixClock);
  EXPECT_EQ(q.ulRefreshRate, 62u);
  q = Query(1024, 768);
  ASSERT_TRUE(HALPGetEDID1StandardTiming(e.data(), &q, 0, false));
  EXPECT_EQ(q.ulPixClock, 65000u);
  EXPECT_EQ(HALPGetEDID1EstablishedTimingNumber(e.data(), &q), 1u);
  ASSERT_TRUE(HALPGetEDID1EstablishedTiming(e.data(), &q, 0));
  EXPECT_EQ(q.ulHSync, 136u);
  EXPECT_FALSE(HALPGetEDID1EstablishedTiming(e.data(), &q, 1));
}

// An EDID 2.0 block: map bytes, a frequency range, four timing codes and two
// detailed timings.
std::vector<uint8_t> Edid2() {
  std::vector<uint8_t> b(256, 0);
  b[0] = 0x20;
  b[1] = 'Z';
  b[2] = 'Y';
  b[3] = 0x12;
  b[4] = 0x34;
  b[5] = 10;
  b[6] = 40;
  b[66] = 0x0C;
  b[79] = 3;  // analog interface
  b[86] = 120;
  b[91] = 0x80;
  b[114] = 0x10;  // 0x1210 = 4,624 (little-endian for the image size in cm)
  b[115] = 0x12;
  b[116] = 0x3A;
  b[117] = 0x0B;
  b[126] = (1 << 2) | 0x40;      // one frequency range, preferred timing first
  b[127] = (4 << 3) | 2;         // four timing codes, two detailed timings
  const uint8_t range[8] = {14, 18, 7, 20, 0x00, 0, 0x10, 0x01};  // 56-72 Hz, 28-80 kHz, 272 x 10 MHz
  std::memcpy(&b[128], range, 8);
  const uint8_t codes[4][4] = {{48, 0, 125, 60}, {32, 0, 133, 75}, {104, 0, 178, 60}, {32, 0, 100, 130}};
  std::memcpy(&b[136], codes, sizeof(codes));
  hwtest::PutDetailed(&b[152], hwtest::Timing1080p());
  hwtest::PutDetailed(&b[170], {10650, 1440, 464, 900, 34, 80, 152, 3, 6});
  return b;
}

TEST(Edid2, LayoutAndConversionToEdid1) {
  std::vector<uint8_t> b = Edid2();
  EDID2LAYOUT l;
  HALPCalcEDID2Offset(b.data(), &l);
  EXPECT_EQ(l.ulFrequencyOffset, 128u);
  EXPECT_EQ(l.ulFrequencyCount, 1u);
  EXPECT_EQ(l.ulTimingCodeOffset, 136u);
  EXPECT_EQ(l.ulTimingCodeCount, 4u);
  EXPECT_EQ(l.ulDetailedOffset, 152u);
  EXPECT_EQ(l.ulDetailedCount, 2u);

  HALPConvertEDID2toEDID1(b.data());
  EXPECT_EQ(HALPGetEDIDVersion(b.data()), 0x11u);
  EXPECT_EQ(HALPGetEDIDBufferSize(b.data()), 128u);
  EXPECT_EQ(HALPIsEDIDBufferValid(b.data()), 1u);
  char vendor[4];
  ORVGetVendorSign(b.data(), vendor);
  EXPECT_EQ(b[8], 'Z');
  EXPECT_EQ(b[17], 98);
  EXPECT_EQ(b[20], 0x0C);
  EXPECT_EQ(b[21], (0x1210 + 5) / 10 % 256);  // tenths of the millimetre word, in a byte
  EXPECT_EQ(b[22], (0x0B3A + 5) / 10 % 256);
  EXPECT_EQ(b[24], 0x0C | 0x02);
  // Timing codes to standard timings: ratio 125 is 5:4, 133 (any other)
  // 4:3, 178 16:9, 100 1:1; a refresh of 130 is limited to 123.
  const uint8_t standard[8] = {97, 0x80, 65, 0x4F, 209, 0xC0, 65, 0x3F};  // 5:4, 4:3, 16:9, 1:1
  EXPECT_EQ(std::memcmp(&b[38], standard, 8), 0);
  EXPECT_EQ(b[46], 0x01);
  EXPECT_EQ(b[47], 0x01);
  uint8_t d[18];
  hwtest::PutDetailed(d, hwtest::Timing1080p());
  EXPECT_EQ(std::memcmp(&b[54], d, 18), 0);
  EXPECT_EQ(b[90], 0);
  EDIDMODE list[kEdidModeEntries];
  HALPGetEDID1EdidModes(b.data(), list, 0);
  EXPECT_EQ(Describe(ListOf(list)),
            "768x576@75/2 768x768@123/2 1024x819@60/2 1440x900@60/4 1920x1080@60/8 1920x1080@60/2 ");
}

TEST(Edid2, SectionsBeyondTheBlockAreCut) {
  std::vector<uint8_t> b(256, 0);
  b[0] = 0x20;
  b[126] = 0x20 | (7 << 2) | 3;  // luminance table, 7 frequency ranges, 3 range blocks
  b[127] = 0xFF;                 // 31 timing codes, 7 detailed timings
  b[128] = 0x9F;                 // 31 luminance entries of 3 bytes
  EDID2LAYOUT l;
  HALPCalcEDID2Offset(b.data(), &l);
  EXPECT_EQ(l.ulFrequencyOffset, 128u + 94);
  EXPECT_EQ(l.ulFrequencyCount, 4u);  // (256 - 222) / 8
  EXPECT_EQ(l.ulRangeCount, 0u);
  EXPECT_EQ(l.ulTimingCodeCount, 0u);
  EXPECT_EQ(l.ulDetailedCount, 0u);
  HALPConvertEDID2toEDID1(b.data());
  EXPECT_EQ(HALPIsEDIDBufferValid(b.data()), 1u);
}

TEST(EdidText, VendorNameAndSerial) {
  Edid1 e;
  e.SetVendor("ORV").SetText(1, kEdidTagMonitorName, "Kestrion 2000X").SetText(2, kEdidTagSerialText, "SN42");
  e[12] = 0x78;
  e[13] = 0x56;
  e[14] = 0x34;
  e[15] = 0x12;
  e.Seal();
  char vendor[4] = {1, 1, 1, 1};
  ORVGetVendorSign(e.data(), vendor);
  EXPECT_STREQ(vendor, "ORV");

  char name[64];
  std::memset(name, 'x', sizeof(name));
  EXPECT_EQ(ORVGetMonitorName(e.data(), name), 12u);
  EXPECT_STREQ(name, "Kestrion 2000");  // 13 bytes, terminated
  char serial[64];
  std::memset(serial, 'x', sizeof(serial));
  ORVGetSerialNumber(e.data(), serial);
  EXPECT_EQ(std::string(serial, 5), "SN42\n");
  EXPECT_EQ(serial[13], 0);

  // Without a serial text: the four binary bytes, byte 4 untouched, a zero
  // at 5.
  e.SetText(2, 0xFE, "other");
  std::memset(serial, 'x', sizeof(serial));
  EXPECT_EQ(ORVGetSerialNumber(e.data(), serial), 0u);
  EXPECT_EQ(static_cast<uint8_t>(serial[0]), 0x78);
  EXPECT_EQ(static_cast<uint8_t>(serial[3]), 0x12);
  EXPECT_EQ(serial[4], 'x');
  EXPECT_EQ(serial[5], 0);
  EXPECT_EQ(serial[6], 'x');
  // No name: the caller's field stays as it was.
  Edid1 plain;
  std::memset(name, 'x', sizeof(name));
  EXPECT_EQ(ORVGetMonitorName(plain.data(), name), 0u);
  EXPECT_EQ(name[0], 'x');
  // The blanking byte of a detailed timing is no tag.
  plain.SetDetailed(0, {10000, 1024, 0xFC, 768, 38, 24, 136, 3, 6});
  EXPECT_EQ(ORVGetMonitorName(plain.data(), name), 0u);
}

}  // namespace
