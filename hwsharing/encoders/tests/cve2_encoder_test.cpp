// The TV encoder integrated in the chip, reached through its register
// fields: the full load, levels, saturation and dot crawl, decoded from the
// chip registers with the field table of the chip's documentation.
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/cve2_encoder.h"
#include "hwsharing/encoders/tv_parameters.h"
#include "hwsharing/tests/chip_fixture.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/addon_chips.h"
#include "platform/board/chip_dac.h"

namespace {

// Field -> register and mask, as the chip documents them.
struct Field {
  uint32_t field, reg, mask;
};
constexpr Field kFields[] = {
    {0, 0x1D94, 0xFFFFFFFF}, {4, 0x1D98, 0xFF},     {8, 0x1D80, 0xFF},     {9, 0x1D84, 0x7F0000},
    {10, 0x1D84, 0xFF},      {11, 0x1D9C, 0xFF},    {12, 0x1D9C, 0xFF00},  {14, 0x1D90, 0x3FF},
    {16, 0x1D8C, 0x3FF},     {23, 0x1D88, 0x3FF},   {30, 0x1D90, 0xFFC00}, {32, 0x1DA0, 0xFF},
    {34, 0x1DA0, 0xFF00},    {37, 0x1DA0, 0xFF0000}, {41, 0x1D84, 0x1F00},  {44, 0x1D80, 0x3F00},
    {49, 0x1D80, 0x7FF0000}, {53, 0x1D90, 0xFF000000}, {62, 0x1DA4, 0x1},
};

uint32_t ChipField(hwtest::HwBoard& hw, uint32_t field) {
  for (const Field& f : kFields)
    if (f.field == field) return (hw.Reg(f.reg) & f.mask) >> __builtin_ctz(f.mask);
  ADD_FAILURE() << "no field " << field;
  return 0;
}

// Standard 0's values per register, as the full load leaves them.
struct Loaded {
  uint32_t field, value;
};
constexpr Loaded kStandard0[] = {
    {0, 0x2A098ACB}, {4, 0},    {44, 24},  {8, 126},  {10, 138}, {9, 58},  {41, 26},
    {49, 1440},      {23, 625}, {11, 44},  {12, 44},  {53, 13},  {16, 224}, {14, 224},
    {30, 881},       {32, 163}, {34, 163}, {37, 0},   {62, 0}};

class Cve2Chip : public testing::Test {
 protected:
  Cve2Chip() : hw(hwtest::Config(0x5D62)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aucAddOnPresent, 0, sizeof(h->aucAddOnPresent));
    h->ulFeatures = 0;
    h->ucTvStandard = 0;
    hw.board().SetLogging(false, true);
    hw.board().ClearLog();
  }

  uint32_t FieldValue(uint32_t field) { return ChipField(hw, field); }
  // The standard control byte, spread over two registers.
  uint32_t StandardControl() {
    const uint32_t c = hw.Reg(0x1DA4), s = hw.Reg(0x1D98);
    return ((c >> 22) & 1) | (((s >> 8) & 3) << 1) | (((c >> 21) & 1) << 3) |
           (((c >> 4) & 1) << 4) | (((c >> 8) & 1) << 5) | ((((c >> 20) | (c >> 9)) & 1) << 6) |
           (((c >> 7) & 1) << 7);
  }
  std::vector<uint32_t> WrittenRegisters() {
    std::vector<uint32_t> regs;
    for (const auto& w : hw.board().LoggedWrites()) regs.push_back(w.offset);
    return regs;
  }

  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

// Standard 0's full load: the encoder is off while its 19 registers are
// written in load order, then on again.
TEST_F(Cve2Chip, InitLoadsTheStandardInLoadOrder) {
  ASSERT_EQ(HSLCVE2InitTVEncoder(h), 0u);
  const std::vector<uint32_t> order = {
      0x1DA4,                                   // 62 := 1
      0x1D94, 0x1D98, 0x1D80, 0x1D80, 0x1D84,   // 0, 4, 44, 8, 10
      0x1D84, 0x1D84, 0x1D80, 0x1D88, 0x1D9C,   // 9, 41, 49, 23, 11
      0x1D9C, 0x1D90, 0x1D8C, 0x1D90, 0x1D90,   // 12, 53, 16, 14, 30
      0x1DA0, 0x1DA0, 0x1DA0, 0x1DA4, 0x1D98,   // 32, 34, 37, 52
      0x1DA4,                                   // 62 := 0
  };
  EXPECT_EQ(WrittenRegisters(), order);
  EXPECT_EQ(hw.board().LoggedWrites().front().value & 1, 1u);
  for (const Loaded& e : kStandard0) EXPECT_EQ(FieldValue(e.field), e.value) << "field " << e.field;
  EXPECT_EQ(StandardControl(), 73u);
}

TEST_F(Cve2Chip, RegisterFormats) {
  struct Case {
    uint32_t kind, value;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {8, 0x1234, {0x34}},
      {10, 0x2A0, {0x02, 0xA0}},
      {11, 1440, {0x05, 0xA0}},
      {15, 0x1234, {0x12, 0x34}},
      {16, 0xABCD, {0xAB, 0xCD}},
      {32, 0x2A098ACB, {0x2A, 0x09, 0x8A, 0xCB}},
      {12, 0x55, {}},
  };
  for (const Case& c : cases) {
    uint8_t bytes[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    HSLCVE2ConvertMUINT32ToRegisterFormat(h, c.value, c.kind, bytes);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + c.bytes.size()), c.bytes) << c.kind;
    EXPECT_EQ(bytes[c.bytes.size()], 0xEE) << "kind " << c.kind << " wrote past its bytes";
    uint32_t back = 0x77;
    HSLCVE2ConvertRegisterFormatToMUINT32(h, bytes, c.kind, &back);
    if (!c.bytes.empty())
      EXPECT_EQ(back, c.value & (c.kind == 32 ? 0xFFFFFFFF : c.kind == 8 ? 0xFF : 0xFFFF));
    else
      EXPECT_EQ(back, 0x77u);
  }
}

TEST_F(Cve2Chip, LevelsFromBrightnessContrastAndTrims) {
  struct Case {
    const char* name;
    uint32_t brightness, contrast, blackTrim, whiteTrim;
    uint32_t blank, black, white;
  } cases[] = {
      {"default", 162, 255, 127, 127, 272, 272, 876},
      {"brightness 0", 0, 255, 127, 127, 272, 272, 574},
      {"black trim 128", 0, 255, 128, 127, 272, 273, 574},
      {"black trim 300", 0, 255, 300, 127, 272, 400, 574},
      {"white trim 300 to the limit", 162, 255, 127, 300, 272, 272, 968},
  };
  for (const Case& c : cases) {
    TVPROCAMP p{};
    p.aulValue[kProcAmpBrightness] = c.brightness;
    p.aulValue[kProcAmpContrast] = c.contrast;
    p.aulValue[kProcAmpBlackTrim] = c.blackTrim;
    p.aulValue[kProcAmpWhiteTrim] = c.whiteTrim;
    h->status = 0;
    ASSERT_EQ(h->pVLNFunctions->SetBrightness(h, &p), 0u) << c.name;
    EXPECT_EQ(FieldValue(16), c.blank) << c.name;
    EXPECT_EQ(FieldValue(14), c.black) << c.name;
    EXPECT_EQ(FieldValue(30), c.white) << c.name;
  }
}

// Without luma levels or limits for the standard nothing is divided and
// nothing written.
TEST_F(Cve2Chip, LevelsNeedTheirLookUps) {
  TVPROCAMP p{};
  p.aulValue[kProcAmpBrightness] = 100;
  h->ucTvStandard = 4;
  EXPECT_EQ(h->pVLNFunctions->SetContrast(h, &p), kErrTveLuma);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
  h->status = 0;
  h->ucTvStandard = 0;
  h->oCem.ulPresent = 1;  // a quad board: no luma rows for its ID
  h->oCem.ulBoardType = 3;
  EXPECT_EQ(h->pVLNFunctions->SetContrast(h, &p), kErrTveLuma);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

TEST_F(Cve2Chip, DotCrawlFreezeOnlyOnTheSixtyHertzStandard) {
  TVPROCAMP p{};
  p.aulValue[kProcAmpFlags] = kProcAmpFlagDotCrawl;
  EXPECT_EQ(h->pVLNFunctions->SetDotCrawlFreeze(h, &p), 0u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
  h->ucTvStandard = 1;
  h->pVLNFunctions->SetDotCrawlFreeze(h, &p);
  EXPECT_EQ(FieldValue(0), 0x21F072CCu);
  p.aulValue[kProcAmpFlags] = 0;
  h->pVLNFunctions->SetDotCrawlFreeze(h, &p);
  EXPECT_EQ(FieldValue(0), 0x21F07C1Fu);
}

TEST_F(Cve2Chip, SaturationWaitsWhileBlackAndWhite) {
  h->oTvProcAmp.aulValue[kProcAmpSaturation] = 150;
  TVPROCAMP p{};
  p.aulValue[kProcAmpFlags] = kProcAmpFlagBlackWhite;
  p.aulValue[kProcAmpSaturation] = 99;
  h->pVLNFunctions->SetOutputBW(h, &p);
  EXPECT_EQ(FieldValue(32), 0u);
  EXPECT_EQ(FieldValue(34), 0u);
  h->pVLNFunctions->SetSaturation(h, &p);
  EXPECT_EQ(FieldValue(32), 0u);  // still black and white
  p.aulValue[kProcAmpFlags] = 0;
  h->pVLNFunctions->SetOutputBW(h, &p);
  EXPECT_EQ(FieldValue(32), 150u);  // the stored saturation comes back
  EXPECT_EQ(FieldValue(34), 150u);
  h->pVLNFunctions->SetSaturation(h, &p);
  EXPECT_EQ(FieldValue(34), 99u);
  p.aulValue[kProcAmpHue] = 0x42;
  h->pVLNFunctions->SetHue(h, &p);
  EXPECT_EQ(FieldValue(37), 0x42u);
}

// The blank level is read back in register order and copied whole.
TEST_F(Cve2Chip, BlankCopiesTheBlankLevel) {
  hw.board().Poke(0x1D8C, 4, 0x2B3);  // blank level 0x2B3 = 691
  hw.board().Poke(0x1DA0, 4, 0x00FFFF);
  ASSERT_EQ(HSLCVE2Blank(h), 0u);
  EXPECT_EQ(FieldValue(14), 0x2B3u);
  EXPECT_EQ(FieldValue(30), 0x2B3u);
  EXPECT_EQ(FieldValue(32), 0u);
  EXPECT_EQ(FieldValue(34), 0u);
  uint8_t bytes[2] = {};
  HSLCVE2ReadRegister(h, 16, bytes, 2);
  EXPECT_EQ(bytes[0], 0x02);
  EXPECT_EQ(bytes[1], 0xB3);
}

TEST_F(Cve2Chip, EnableTogglesTheDisableRegister) {
  HSLCVE2EnableEncoder(h, 0);
  EXPECT_EQ(FieldValue(62), 1u);
  HSLCVE2EnableEncoder(h, 1);
  EXPECT_EQ(FieldValue(62), 0u);
  h->status = 0xb1d05120;
  EXPECT_EQ(HSLCVE2EnableEncoder(h, 0), 0xb1d05120u);
  EXPECT_EQ(FieldValue(62), 0u);
}

// ---- The other two routes ------------------------------------------------------------------

using RegBytes = std::vector<std::pair<int, int>>;

// Standard 0's full load as (register, byte) pairs, most significant byte
// first within a register: the order and values the chip route decodes to.
RegBytes Standard0Load() {
  static constexpr struct {
    uint8_t reg;
    unsigned bytes;
  } kOrder[] = {{0, 4},  {4, 1},  {44, 1}, {8, 1},  {10, 1}, {9, 1},  {41, 1},
                {49, 2}, {23, 2}, {11, 1}, {12, 1}, {53, 1}, {16, 2}, {14, 2},
                {30, 2}, {32, 1}, {34, 1}, {37, 1}, {52, 1}};
  RegBytes out{{62, 1}};
  for (const auto& r : kOrder) {
    uint32_t v = 73;  // register 52: the standard control byte
    for (const Loaded& l : kStandard0)
      if (l.field == r.reg) v = l.value;
    for (unsigned i = 0; i < r.bytes; ++i)
      out.emplace_back(r.reg + i, (v >> (8 * (r.bytes - 1 - i))) & 0xFF);
  }
  out.emplace_back(62, 0);
  return out;
}

RegBytes PairsOf(const std::vector<orvsim::VelanEncoder::Write>& writes) {
  RegBytes out;
  for (const auto& w : writes) out.emplace_back(w.reg, w.value);
  return out;
}
RegBytes PairsOf(const std::vector<std::pair<uint8_t, uint8_t>>& writes) {
  RegBytes out;
  for (const auto& w : writes) out.emplace_back(w.first, w.second);
  return out;
}

// The same register file behind the Velan on port 1 and behind the DAC's
// index pair 0x87/0x88, on a board with the 16 KiB register window.
class Cve2Routes : public hwtest::ChipTest {
 protected:
  Cve2Routes()
      : ChipTest(kDeviceKestrionNext2, orvsim::kDacMinimumWindow), dac(Board(), &Raster()) {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aucAddOnPresent, 0, sizeof(h->aucAddOnPresent));
    h->ulFeatures = 0;
    h->ucTvStandard = 0;
  }
  orvsim::VelanEncoder& AddVelan() {
    SetAddOn(h, kAddOnVelanAddress, 0x36);
    SetAddOn(h, kAddOnVelanVersion, 0x11);
    h->ulFeatures |= kAddOnVelanA;
    return OnPort1<orvsim::VelanEncoder>(0x36, 0x11);
  }
  size_t ChipFieldWrites() { return WrittenIn(0x1D80, 0x1DA4).size(); }

  orvsim::ChipDac dac;
};

TEST_F(Cve2Routes, InitIsTheSameOnEveryRoute) {
  // The chip's fields, without a Velan or the DAC bit.
  ASSERT_EQ(HSLCVE2InitTVEncoder(h), 0u);
  for (const Loaded& e : kStandard0) EXPECT_EQ(ChipField(hw, e.field), e.value) << e.field;
  EXPECT_TRUE(dac.Cve2Writes().empty());
  const size_t chipWrites = ChipFieldWrites();

  h->ulFeatures = kAddOnCve2ThroughDac;
  ASSERT_EQ(HSLCVE2InitTVEncoder(h), 0u);
  EXPECT_EQ(PairsOf(dac.Cve2Writes()), Standard0Load());
  EXPECT_EQ(ChipFieldWrites(), chipWrites);

  // A Velan version takes the registers to the Velan, DAC bit or not.
  orvsim::VelanEncoder& velan = AddVelan();
  ASSERT_EQ(HSLCVE2InitTVEncoder(h), 0u);
  EXPECT_EQ(PairsOf(velan.Writes()), Standard0Load());
  EXPECT_EQ(dac.Cve2Writes().size(), Standard0Load().size());
  EXPECT_EQ(ChipFieldWrites(), chipWrites);
}

// A DAC register that does not keep the byte written stops the load.
TEST_F(Cve2Routes, DacRouteStopsAtAMismatch) {
  h->ulFeatures = kAddOnCve2ThroughDac;
  dac.DropCve2Bits(1, 0x01);  // register 0's second byte, 0x09
  EXPECT_EQ(HSLCVE2InitTVEncoder(h), kErrCve2DacMismatch);
  EXPECT_EQ(PairsOf(dac.Cve2Writes()), (RegBytes{{62, 1}, {0, 0x2A}, {1, 0x09}}));
}

// The blank level copied whole to black and white, saturation off, on both
// byte routes.
TEST_F(Cve2Routes, BlankCopiesTheBlankLevel) {
  h->ulFeatures = kAddOnCve2ThroughDac;
  dac.SetCve2(16, 0x02);
  dac.SetCve2(17, 0xB3);
  dac.SetCve2(32, 0x55);
  ASSERT_EQ(HSLCVE2Blank(h), 0u);
  EXPECT_EQ(PairsOf(dac.Cve2Writes()),
            (RegBytes{{14, 0x02}, {15, 0xB3}, {30, 0x02}, {31, 0xB3}, {32, 0}, {34, 0}}));

  orvsim::VelanEncoder& velan = AddVelan();
  velan.Reg(16) = 0x01;
  velan.Reg(17) = 0x10;
  ASSERT_EQ(HSLCVE2Blank(h), 0u);
  EXPECT_EQ(PairsOf(velan.Writes()),
            (RegBytes{{14, 0x01}, {15, 0x10}, {30, 0x01}, {31, 0x10}, {32, 0}, {34, 0}}));
}

}  // namespace
