// The Velan TV encoder on the simulated board's port 1: its register
// transfers, validation and settings, the encoder table's dispatch, the TV
// position steps and the mode sequences as they reach the encoder.
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/tv_parameters.h"
#include "hwsharing/encoders/velan.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/addon_chips.h"

namespace {

using Pairs = std::vector<std::pair<int, int>>;

constexpr uint8_t kAddress = 0x36;
constexpr uint8_t kVersion = 0x11;

// Slots of the test's copy of the encoder table and of the jump table log
// here: {slot, argument}.
std::vector<std::pair<int, uint32_t>> g_calls;
TVPROCAMP g_seen;

template <int N>
HALSTATUS LogProcAmp(BOARDHANDLE* h, TVPROCAMP* p) {
  g_calls.emplace_back(N, 0);
  if (N == 52) g_seen = *p;
  return h->status;
}
HALSTATUS FailingSaturation(BOARDHANDLE* h, TVPROCAMP*) {
  g_calls.emplace_back(55, 0);
  return h->status = 0xb0000001;
}
// A timing block whose word i is 0x10 + i, PLL words 1, 7, 3.
HALSTATUS StubTiming(BOARDHANDLE* h, uint32_t standard, MODEINFO*, VLNTIMING* b) {
  g_calls.emplace_back(46, standard);
  for (uint32_t i = 0; i < kVlnTimingWords; ++i) b->aulWord[i] = 0x10 + i;
  b->aulWord[0] = 1;
  b->aulWord[1] = 7;
  b->aulWord[2] = 3;
  return h->status;
}
HALSTATUS LogVScale(BOARDHANDLE* h, MODEINFO*, uint32_t standard) {
  g_calls.emplace_back(1, standard);
  return h->status;
}
template <int N>
HALSTATUS LogPosition(BOARDHANDLE* h, MODEINFO*, VLNTIMING*) {
  g_calls.emplace_back(N, 0);
  return h->status;
}
template <int N>
HALSTATUS LogRoute(BOARDHANDLE* h, uint32_t code) {
  g_calls.emplace_back(N, code);
  return h->status;
}
HALSTATUS LogColorBars(BOARDHANDLE* h) {
  g_calls.emplace_back(15, 0);
  return h->status;
}

std::vector<int> SlotsCalled() {
  std::vector<int> out;
  for (const auto& c : g_calls) out.push_back(c.first);
  return out;
}

class Velan : public hwtest::ChipTest {
 protected:
  Velan() : chip(OnPort1<orvsim::VelanEncoder>(kAddress, kVersion)), table(*h->pVLNFunctions) {
    std::memset(h->aucAddOnPresent, 0, sizeof(h->aucAddOnPresent));
    SetAddOn(h, kAddOnVelanAddress, kAddress);
    SetAddOn(h, kAddOnVelanVersion, kVersion);
    h->ulFeatures = kAddOnVelanA;
    h->ucTvStandard = 0;
    h->ucTvCableType = 1;
    h->ucTvDetected = 0;
    h->ucTvModeState = kTvStateDisabled;
    std::memset(&h->oTvProcAmp, 0, sizeof(h->oTvProcAmp));
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    g_calls.clear();
  }
  // The handle uses the test's copy of the encoder table from here on.
  VLNFUNCTIONS& Table() {
    h->pVLNFunctions = &table;
    return table;
  }
  void RecordRouting() {
    h->oJumpTable.Slot32 = LogRoute<32>;
    h->oJumpTable.Slot33 = LogRoute<33>;
  }
  Pairs Writes() const {
    Pairs out;
    for (const auto& w : chip.Writes()) out.emplace_back(w.reg, w.value);
    return out;
  }
  // The values written to one register, in order.
  std::vector<int> WritesTo(uint8_t reg) const {
    std::vector<int> out;
    for (const auto& w : chip.Writes())
      if (w.reg == reg) out.push_back(w.value);
    return out;
  }
  static MODEINFO Record(uint32_t w, uint32_t ht, uint32_t standard = 0) {
    MODEINFO m = hwtest::Mode(w, ht, 16, 27000, 16, 64, 48, 3, 3, 30);
    m.flSignalMode = standard << 4;
    for (unsigned i = 0; i < 4; ++i) SetVlnAdjustWord(&m, i, -1);
    return m;
  }

  orvsim::VelanEncoder& chip;
  VLNFUNCTIONS table;
};

// ---- Register transfers ---------------------------------------------------------------------

// Reads send the read address, then the register index, then read: the
// simulated Velan answers only that shape.
TEST_F(Velan, ReadsSendTheIndexAfterTheReadAddress) {
  uint8_t out[2] = {0x11, 0x22};
  ASSERT_EQ(HSLVLNI2CWrite(h, 0x90, out, 2), 0u);
  EXPECT_EQ(Writes(), (Pairs{{0x90, 0x11}, {0x91, 0x22}}));
  chip.Reg(0xA0) = 0x34;
  chip.Reg(0xA1) = 0x12;
  uint8_t in[2] = {};
  ASSERT_EQ(HSLVLNI2CRead(h, 0xA0, in, 2), 0u);
  EXPECT_EQ(in[0], 0x34);
  EXPECT_EQ(in[1], 0x12);
  EXPECT_EQ(chip.ReadIndexes(), std::vector<uint8_t>{0xA0});
}

// Up to three attempts, each from a clear status: a warning left before the
// call is gone after a success.
TEST_F(Velan, TransfersTryThreeTimes) {
  struct Case {
    bool read;
    unsigned naks;
    HALSTATUS status;
  } cases[] = {{true, 2, 0}, {true, 3, kErrVlnI2cRead}, {false, 2, 0}, {false, 3, kErrVlnI2cWrite}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.read ? "read" : "write") << " " << c.naks);
    const unsigned base = chip.AddressAttempts();
    for (unsigned k = 1; k <= c.naks; ++k) chip.NakAddressOnAttempt(base + k);
    h->status = 0x40000001;  // a warning
    chip.ClearWrites();
    chip.Reg(0x70) = 0x5A;
    uint8_t byte = c.read ? 0 : 0x66;
    const HALSTATUS s = c.read ? HSLVLNI2CRead(h, 0x70, &byte, 1) : HSLVLNI2CWrite(h, 0x70, &byte, 1);
    EXPECT_EQ(s, c.status);
    EXPECT_EQ(h->status, c.status);
    EXPECT_EQ(chip.AddressAttempts() - base, 3u);
    if (c.status == 0) {
      EXPECT_EQ(chip.Reg(0x70), c.read ? 0x5A : 0x66);
      if (c.read) {
        EXPECT_EQ(byte, 0x5A);
      }
    } else {
      EXPECT_TRUE(chip.Writes().empty());
    }
  }
}

// ---- Validation and settings ------------------------------------------------------------------

TEST_F(Velan, ValidateMode) {
  struct Case {
    uint32_t w, ht, zoom, deskW, deskH;
    HALSTATUS status;
  } cases[] = {
      {640, 400, 1, 640, 400, 0},         {720, 480, 1, 720, 480, 0},
      {720, 576, 1, 640, 480, 0},         {1024, 768, 1, 1024, 768, 0},
      {720, 486, 1, 720, 486, kErrVlnModeSize}, {640, 576, 1, 640, 576, kErrVlnModeSize},
      {800, 600, 2, 800, 600, kErrVlnModeZoom}, {800, 600, 1, 1024, 600, kErrVlnModeDesktop},
      {800, 600, 1, 800, 768, kErrVlnModeDesktop},
  };
  for (const Case& c : cases) {
    MODEINFO m = Record(c.w, c.ht);
    m.ulZoom = c.zoom;
    m.ulDeskWidth = c.deskW;
    m.ulDeskHeight = c.deskH;
    h->status = 0;
    EXPECT_EQ(HSLVLNValidateMode(h, &m), c.status) << c.w << "x" << c.ht << " zoom " << c.zoom;
  }
}

TEST_F(Velan, ValidateVideoParametersByStandard) {
  struct Case {
    uint32_t standard, refresh;
    HALSTATUS status;
  } cases[] = {{0, 50, 0}, {0, 60, kErrVlnRefresh}, {1, 60, 0}, {1, 50, kErrVlnRefresh},
               {2, 50, kErrVlnStandardUnknown}};
  for (const Case& c : cases) {
    MODEINFO m = Record(640, 480, c.standard);
    m.ulRefreshRate = c.refresh;
    h->status = 0;
    EXPECT_EQ(HSLVLNValidateVideoParameters(h, &m), c.status) << c.standard << " " << c.refresh;
  }
}

// Register 0xB0 keeps bits 3-7 and takes the cable's low bits.
TEST_F(Velan, CableTypes) {
  struct Case {
    uint32_t cable;
    uint8_t bits;
  } cases[] = {{1, 2}, {5, 0}, {7, 5}, {8, 1}};
  for (const Case& c : cases) {
    chip.Reg(0xB0) = 0xAF;
    h->status = 0;
    ASSERT_EQ(HSLVLNSetTVCableType(h, c.cable), 0u) << c.cable;
    EXPECT_EQ(chip.Reg(0xB0), 0xA8 | c.bits) << c.cable;
    EXPECT_EQ(h->ucTvCableType, c.cable);
  }
  chip.Reg(0xB0) = 0xAF;
  EXPECT_EQ(HSLVLNSetTVCableType(h, 3), kErrVlnCable);
  EXPECT_EQ(chip.Reg(0xB0), 0xAF);
  EXPECT_EQ(h->ucTvCableType, 8);
}

TEST_F(Velan, StandardIsStoredAndColourBarsFollowIt) {
  Table().SetTVColorBarMode = LogColorBars;
  EXPECT_EQ(HSLVLNSetTVStandard(h, 2), kErrVlnStandard);
  EXPECT_EQ(h->ucTvStandard, 0);
  h->status = 0;
  ASSERT_EQ(HSLVLNSetTVStandard(h, 1), 0u);
  EXPECT_EQ(h->ucTvStandard, 1);
  EXPECT_TRUE(g_calls.empty());
  h->ucTvModeState = kTvStateColorBars;
  ASSERT_EQ(HSLVLNSetTVStandard(h, 0), 0u);
  EXPECT_EQ(SlotsCalled(), std::vector<int>{15});
}

// Every operation that needs the Velan gives its own code without one, and
// nothing reaches the bus.
TEST_F(Velan, OperationsWithoutAVelan) {
  h->ulFeatures = 0;
  MODEINFO m = Record(640, 480);
  TVPROCAMP p{};
  uint32_t out = 0;
  struct Case {
    const char* name;
    std::function<HALSTATUS()> call;
    HALSTATUS status;
  } cases[] = {
      {"validate", [&] { return HSLVLNValidateMode(h, &m); }, kErrVlnValidateNoVelan},
      {"standard", [&] { return HSLVLNSetTVStandard(h, 0); }, kErrVlnStandardNoVelan},
      {"cable", [&] { return HSLVLNSetTVCableType(h, 1); }, kErrVlnCableNoVelan},
      {"tv out", [&] { return HSLVLNSetTVOutMode(h, &m); }, kErrVlnTvOutNoVelan},
      {"tv out 2", [&] { return HSLVLNSetTVOutModeCRTC2(h, &m); }, kErrVlnTvOutNoVelan},
      {"colour bars", [&] { return HSLVLNSetTVColorBarMode(h); }, kErrVlnColorBarNoVelan},
      {"pass-through", [&] { return HSLVLNSetTVPassThroughMode(h, 1); }, kErrVlnPassThroughNoVelan},
      {"disable", [&] { return HSLVLNSetTVDisableMode(h); }, kErrVlnDisableNoVelan},
      {"yuv", [&] { return HSLVLNSetTVYUVMode(h); }, kErrVlnYuvNoVelan},
      {"yuv rev 0", [&] { return HSLVLNSetTVYUVModeKalvoRev0(h); }, kErrVlnYuvNoVelan},
      {"gpio", [&] { return HSLVLNSetGPIODirect(h, 1); }, kErrVlnGpioNoVelan},
      {"pixel pll", [&] { return HSLVLNPIXPLLSET(h, &m); }, kErrVlnPixPllNoVelan},
      {"gpio state", [&] { return HSLVLNGetGPIOOutputState(h, &out); }, kErrVlnGpioStateNoVelan},
      {"proc-amp", [&] { return HSLVLNSetTVProcAmp(h, &p, 0); }, kErrVlnProcAmpNoVelan},
  };
  for (const Case& c : cases) {
    h->status = 0;
    EXPECT_EQ(c.call(), c.status) << c.name;
  }
  EXPECT_TRUE(chip.Writes().empty());
  EXPECT_EQ(chip.AddressAttempts(), 0u);
}

// ---- Encoder timing, PLL, gamma and filters ----------------------------------------------------

// The block's words in the register table's order, the horizontal start
// with the depth correction.
TEST_F(Velan, PllAndCrtcWriteTheBlock) {
  uint32_t m = 0, n = 0, p = 0, range = 0;
  ASSERT_EQ(h->pVLNFunctions->ComputePLLParam(h, 27000, &m, &n, &p, &range), 0u);
  EXPECT_EQ((std::vector<uint32_t>{m, n, p, range}), (std::vector<uint32_t>{1, 7, 3, 1}));
  VLNTIMING b{};
  for (uint32_t i = 0; i < kVlnTimingWords; ++i) b.aulWord[i] = 0x1110 * (i + 1);
  b.aulWord[0] = m;
  b.aulWord[1] = n;
  b.aulWord[2] = p;
  MODEINFO r = Record(640, 480);
  r.ulBpp = 24;
  ASSERT_EQ(h->pVLNFunctions->SetPLL(h, &b), 0u);
  ASSERT_EQ(h->pVLNFunctions->SetCRTC(h, &r, &b), 0u);
  Pairs expected = {{0x80, 1}, {0x81, 7}, {0x82, 3}, {0x90, 0x40}};
  const std::pair<int, unsigned> twoByte[] = {{0x91, 4},  {0x9A, 5},  {0x9C, 6},  {0x9E, 7},
                                              {0xA0, 8},  {0xA2, 9},  {0xA4, 10}, {0xA6, 11},
                                              {0xA8, 12}, {0x98, 13}, {0xAE, 14}, {0x96, 15}};
  for (const auto& [reg, word] : twoByte) {
    expected.emplace_back(reg, b.aulWord[word] & 0xFF);
    expected.emplace_back(reg + 1, (b.aulWord[word] >> 8) & 0xFF);
  }
  const uint32_t hstart = b.aulWord[16] + 14;
  expected.insert(expected.end(), {{0xAA, int(hstart & 0xFF)},
                                   {0xAB, int((hstart >> 8) & 0xFF)},
                                   {0xAC, int(b.aulWord[17] & 0xFF)},
                                   {0xAD, int((b.aulWord[17] >> 8) & 0xFF)},
                                   {0xBE, int(b.aulWord[18] & 0xFF)},
                                   {0xC2, int(b.aulWord[19] & 0xFF)}});
  EXPECT_EQ(Writes(), expected);
}

TEST_F(Velan, GammaCurvesFromTheTable) {
  struct Case {
    uint32_t level;
    std::vector<int> regs;  // 0x83..0x8B
    bool curveBit;
  } cases[] = {
      {4, {0x83, 0x39, 0xDF, 0x0F, 0x75, 0xD4, 0xFB, 0x5B, 0x9C}, true},
      {40, {0x77, 0x9E, 0xB7, 0xF8, 0xF4, 0xE5, 0x95, 0x4E, 0xA5}, true},
  };
  for (const Case& c : cases) {
    chip.ClearWrites();
    chip.Reg(0x8D) = 0xF0;
    TVPROCAMP p{};
    p.aulValue[kProcAmpGamma] = 0xAB00 | c.level;  // only the low byte counts
    ASSERT_EQ(h->pVLNFunctions->SetGamma(h, &p), 0u) << c.level;
    Pairs expected;
    for (size_t i = 0; i < c.regs.size(); ++i) expected.emplace_back(0x83 + int(i), c.regs[i]);
    expected.emplace_back(0x8D, 0xF4);
    EXPECT_EQ(Writes(), expected) << c.level;
  }
  // Levels 0 and 10 clear the curve bit; a level without a row writes nothing.
  for (uint32_t level : {0u, 10u}) {
    chip.Reg(0x8D) = 0xFF;
    TVPROCAMP p{};
    p.aulValue[kProcAmpGamma] = level;
    ASSERT_EQ(h->pVLNFunctions->SetGamma(h, &p), 0u) << level;
    EXPECT_EQ(chip.Reg(0x8D), 0xFB) << level;
  }
  chip.ClearWrites();
  TVPROCAMP p{};
  p.aulValue[kProcAmpGamma] = 5;
  EXPECT_EQ(h->pVLNFunctions->SetGamma(h, &p), kErrTveGamma);
  EXPECT_TRUE(chip.Writes().empty());
}

TEST_F(Velan, DeflickerLevelsAndTextFilter) {
  for (uint32_t level : {0u, 1u, 2u, 3u, 7u}) {
    TVPROCAMP p{};
    p.aulValue[kProcAmpDeflicker] = level;
    ASSERT_EQ(h->pVLNFunctions->SetDeflicker(h, &p), 0u);
  }
  // Levels above 2 have no register value and write nothing.
  EXPECT_EQ(WritesTo(0x93), (std::vector<int>{0x00, 0xB1, 0xA2}));
  chip.Reg(0x8D) = 0x01;
  TVPROCAMP p{};
  p.aulValue[kProcAmpFlags] = kProcAmpFlagTextFilter;
  h->pVLNFunctions->SetTextFilter(h, &p);
  EXPECT_EQ(chip.Reg(0x8D), 0x09);
  p.aulValue[kProcAmpFlags] = kProcAmpFlagDotCrawl;
  h->pVLNFunctions->SetTextFilter(h, &p);
  EXPECT_EQ(chip.Reg(0x8D), 0x01);
}

// ---- Proc-amp dispatch ------------------------------------------------------------------------

TEST_F(Velan, ProcAmpDispatchOrderAndStoredFields) {
  VLNFUNCTIONS& t = Table();
  t.SetGamma = LogProcAmp<51>;
  t.SetBrightness = LogProcAmp<52>;
  t.SetContrast = LogProcAmp<53>;
  t.SetHue = LogProcAmp<54>;
  t.SetSaturation = LogProcAmp<55>;
  t.SetOutputBW = LogProcAmp<56>;
  t.SetDotCrawlFreeze = LogProcAmp<57>;
  t.SetTextFilter = LogProcAmp<58>;
  t.SetDeflicker = LogProcAmp<59>;
  TVPROCAMP p{};
  for (unsigned i = 0; i < 8; ++i) p.aulValue[i] = 10 + i;

  ASSERT_EQ(HSLVLNSetTVProcAmp(h, &p, 0), 0u);
  EXPECT_EQ(SlotsCalled(), (std::vector<int>{58, 57, 56, 59, 55, 54, 52, 51}));
  for (unsigned i : {kProcAmpFlags, kProcAmpDeflicker, kProcAmpSaturation, kProcAmpBrightness,
                     kProcAmpContrast, kProcAmpHue, kProcAmpGamma})
    EXPECT_EQ(h->oTvProcAmp.aulValue[i], 10 + i) << i;

  // Brightness alone keeps the stored contrast, contrast alone the stored
  // brightness; both together take the record's.
  struct Case {
    uint32_t mask, brightness, contrast;
  } cases[] = {{0x08, 1, 88}, {0x10, 77, 2}, {0x18, 1, 2}};
  for (const Case& c : cases) {
    g_calls.clear();
    h->oTvProcAmp.aulValue[kProcAmpBrightness] = 77;
    h->oTvProcAmp.aulValue[kProcAmpContrast] = 88;
    TVPROCAMP q{};
    q.aulValue[kProcAmpBrightness] = 1;
    q.aulValue[kProcAmpContrast] = 2;
    ASSERT_EQ(HSLVLNSetTVProcAmp(h, &q, c.mask), 0u);
    EXPECT_EQ(SlotsCalled(), std::vector<int>{52}) << c.mask;
    EXPECT_EQ(g_seen.aulValue[kProcAmpBrightness], c.brightness) << c.mask;
    EXPECT_EQ(g_seen.aulValue[kProcAmpContrast], c.contrast) << c.mask;
    EXPECT_EQ(h->oTvProcAmp.aulValue[kProcAmpBrightness], c.brightness) << c.mask;
    EXPECT_EQ(h->oTvProcAmp.aulValue[kProcAmpContrast], c.contrast) << c.mask;
  }

  // A failed group stores nothing.
  t.SetSaturation = FailingSaturation;
  h->oTvProcAmp.aulValue[kProcAmpSaturation] = 5;
  p.aulValue[kProcAmpSaturation] = 99;
  EXPECT_EQ(HSLVLNSetTVProcAmp(h, &p, kVlnProcAmpSaturation), 0xb0000001u);
  EXPECT_EQ(h->oTvProcAmp.aulValue[kProcAmpSaturation], 5u);
}

// ---- TV position ------------------------------------------------------------------------------

TEST_F(Velan, ModifyTvParametersSteps) {
  VLNFUNCTIONS& t = Table();
  t.GetTimingParameters = StubTiming;
  t.GetVScaleTVParameters = LogVScale;
  t.CalculateTVPosition = LogPosition<35>;
  t.ValidateTVPosition = LogPosition<36>;
  struct Case {
    uint32_t step;
    int32_t adjust[4];      // h-offset, v-offset, third, v-scale step
    uint32_t porches[4];    // hfp, hbp, vfp, vbp
    HALSTATUS status;
    int32_t adjustAfter[4];
    uint32_t porchesAfter[4];
    std::vector<int> slots;
  } cases[] = {
      {0, {0, 0, 0, 3}, {16, 16, 3, 3}, kErrVlnStep, {0, 0, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {39, {0, 0, 0, 3}, {16, 16, 3, 3}, kErrVlnStep, {0, 0, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {21, {0, 0, 0, 3}, {16, 16, 3, 3}, kErrVlnStepNoAdjust, {0, 0, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {13, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {4, 0, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {14, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {-4, 0, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {15, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {0, -2, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {16, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {0, 2, 0, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {17, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {0, 0, 1, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {19, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {0, 0, -1, 3}, {16, 16, 3, 3}, {46, 35, 36}},
      {18, {0, 0, 0, 3}, {16, 16, 3, 3}, 0, {0, 0, 0, 4}, {16, 16, 3, 3}, {46, 1, 46, 35, 36}},
      {18, {0, 0, 0, 5}, {16, 16, 3, 3}, kErrVlnStep, {0, 0, 0, 6}, {16, 16, 3, 3}, {46, 35, 36}},
      {20, {0, 0, 0, 1}, {16, 16, 3, 3}, kErrVlnStep, {0, 0, 0, 0}, {16, 16, 3, 3}, {46, 35, 36}},
      {24, {0, 0, 0, 3}, {16, 8, 3, 3}, 0, {0, 0, 0, 3}, {24, 0, 3, 3}, {46, 35, 36}},
      {35, {0, 0, 0, 3}, {16, 7, 3, 3}, kErrVlnStep, {0, 0, 0, 3}, {16, 7, 3, 3}, {46, 35, 36}},
      {33, {0, 0, 0, 3}, {8, 16, 3, 3}, 0, {0, 0, 0, 3}, {0, 24, 3, 3}, {46, 35, 36}},
      {26, {0, 0, 0, 3}, {7, 16, 3, 3}, kErrVlnStep, {0, 0, 0, 3}, {7, 16, 3, 3}, {46, 35, 36}},
      {27, {0, 0, 0, 3}, {16, 16, 3, 2}, 0, {0, 0, 0, 3}, {16, 16, 4, 1}, {46, 35, 36}},
      {38, {0, 0, 0, 3}, {16, 16, 3, 1}, kErrVlnStep, {0, 0, 0, 3}, {16, 16, 3, 1}, {46, 35, 36}},
      {29, {0, 0, 0, 3}, {16, 16, 2, 3}, 0, {0, 0, 0, 3}, {16, 16, 1, 4}, {46, 35, 36}},
      {36, {0, 0, 0, 3}, {16, 16, 1, 3}, kErrVlnStep, {0, 0, 0, 3}, {16, 16, 1, 3}, {46, 35, 36}},
      // Without adjustments: the error first, the step still applied.
      {13, {-1, -1, -1, -1}, {16, 16, 3, 3}, kErrVlnStepNoAdjust, {3, -1, -1, -1}, {16, 16, 3, 3}, {46, 35, 36}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "step " << c.step);
    MODEINFO m = Record(640, 480);
    for (unsigned i = 0; i < 4; ++i) SetVlnAdjustWord(&m, i, c.adjust[i]);
    m.ulHFPorch = c.porches[0];
    m.ulHBPorch = c.porches[1];
    m.ulVFPorch = c.porches[2];
    m.ulVBPorch = c.porches[3];
    h->status = 0;
    g_calls.clear();
    EXPECT_EQ(HSLVLNModifyTVParameters(h, &m, c.step), c.status);
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(VlnAdjustWord(&m, i), c.adjustAfter[i]) << i;
    EXPECT_EQ((std::vector<uint32_t>{m.ulHFPorch, m.ulHBPorch, m.ulVFPorch, m.ulVBPorch}),
              std::vector<uint32_t>(c.porchesAfter, c.porchesAfter + 4));
    EXPECT_EQ(SlotsCalled(), c.slots);
  }
}

// ---- Detection, GPIO and sync polarity -----------------------------------------------------

TEST_F(Velan, DetectTv) {
  struct Case {
    const char* name;
    uint8_t reg3E, regC6, state, detectedBefore;
    std::vector<uint8_t> sense;
    uint8_t connection;
    uint32_t out;
    bool probed;
  } cases[] = {
      {"all zero reads as a TV", 0, 0, kTvStateDisabled, 0, {}, 15, 1, false},
      {"probe finds a TV", 1, 0, kTvStateDisabled, 0, {0x0A}, 5, 1, true},
      {"probe finds nothing", 1, 0, kTvStateDisabled, 0, {0x08}, 7, 0, true},
      {"no probe while on", 1, 0, kTvStateTvOut, 7, {0x00}, 7, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chip.ClearWrites();
    chip.Reg(0x3E) = c.reg3E;
    chip.Reg(0xC6) = c.regC6;
    chip.Reg(0xA0) = 0x34;
    chip.Reg(0xA1) = 0x12;
    if (!c.sense.empty()) chip.ScriptSense(c.sense);
    h->ucTvModeState = c.state;
    h->ucTvDetected = c.detectedBefore;
    uint32_t out = 9;
    ASSERT_EQ(HSLVLNDetectTV(h, &out), 0u);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(h->ucTvDetected, c.connection);
    EXPECT_EQ(!WritesTo(0x9A).empty(), c.probed);
    if (c.probed) {
      EXPECT_EQ(WritesTo(0x9A), std::vector<int>{0x32});
      EXPECT_EQ(WritesTo(0x9B), std::vector<int>{0x12});
      EXPECT_EQ(WritesTo(0x06), std::vector<int>{0xF9});
      EXPECT_EQ(WritesTo(0xB0), std::vector<int>{1});
    }
  }
  // Without a Velan: nothing detected, no error, no traffic.
  h->ulFeatures = 0;
  h->ucTvDetected = 5;
  const unsigned attempts = chip.AddressAttempts();
  uint32_t out = 9;
  EXPECT_EQ(HSLVLNDetectTV(h, &out), 0u);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(h->ucTvDetected, 0);
  EXPECT_EQ(chip.AddressAttempts(), attempts);
}

// Register 0xB9 bits 4-5: 11 on, 01 off; four pulses for "on"; the reset
// puts the line back as it found it.
TEST_F(Velan, GpioLineAndReset) {
  chip.Reg(0x8C) = 0xFF;
  ASSERT_EQ(HSLVLNSetGPIO(h, 1), 0u);
  EXPECT_EQ(WritesTo(0xB9), (std::vector<int>{0x10, 0x30, 0x10, 0x30, 0x10, 0x30, 0x10, 0x30}));
  EXPECT_EQ(chip.Reg(0x8C), 0xBF);
  uint32_t state = 0;
  ASSERT_EQ(HSLVLNGetGPIOOutputState(h, &state), 0u);
  EXPECT_EQ(state, 0x20u);

  chip.ClearWrites();
  chip.Reg(0xB9) = 0x10;  // line low
  ASSERT_EQ(HSLVLNReset(h), 0u);
  EXPECT_EQ(WritesTo(0x8E), std::vector<int>{0xFF});
  EXPECT_EQ(WritesTo(0x8F), std::vector<int>{0x1E});
  EXPECT_EQ(WritesTo(0xC6), std::vector<int>{1});
  EXPECT_EQ(chip.Reg(0xB9) & 0x30, 0x10);
  EXPECT_EQ(WritesTo(0xB9).size(), 9u);  // four pulses up, one call down
}

TEST_F(Velan, SyncPolarityByGpioPulses) {
  struct Case {
    uint32_t first, second, pulses;
  } cases[] = {{1, 0, 3}, {0, 0, 2}, {0, 1, 1}, {1, 1, 0}};
  for (const Case& c : cases) {
    chip.ClearWrites();
    hw.board().ClearLog();
    ASSERT_EQ(HSLVLNSynchPol(h, c.first, c.second), 0u);
    EXPECT_EQ(hw.WritesTo(0x1E40), (std::vector<uint32_t>{2, 0}));
    std::vector<int> expected{0x30};
    for (uint32_t i = 0; i < c.pulses; ++i) expected.insert(expected.end(), {0x10, 0x30});
    EXPECT_EQ(WritesTo(0xB9), expected) << c.first << c.second;
  }
}

// With the second HD15 module, bits 3 and 4 of its byte carry the
// polarities (set for a 0 flag).
TEST_F(Velan, SyncPolarityThroughTheSecondModule) {
  auto& module = Port1().Emplace<orvsim::OneByteModule>(0x40, 0x08);
  SetAddOn(h, kAddOnSecondHd15Address, 0x40);
  h->ulFeatures = kAddOnVelanB;
  ASSERT_EQ(HSLVLNSynchPol(h, 0, 1), 0u);
  ASSERT_EQ(HSLVLNSynchPol(h, 1, 0), 0u);
  EXPECT_EQ(module.Writes(), (std::vector<uint8_t>{0x08, 0x10}));
  EXPECT_TRUE(hw.WritesTo(0x1E40).empty());
  EXPECT_TRUE(chip.Writes().empty());
}

// ---- Mode sequences -----------------------------------------------------------------------------

// The jump table's routing slots hold the not-initialised stub: every
// sequence that routes ends with its code and keeps the previous state.
TEST_F(Velan, RoutedSequencesEndAtTheRoutingStub) {
  MODEINFO m = Record(640, 480);
  struct Case {
    const char* name;
    std::function<HALSTATUS()> call;
    HALSTATUS status;
  } cases[] = {
      {"tv out", [&] { return HSLVLNSetTVOutMode(h, &m); }, kErrSlotNotInitialised},
      {"tv out 2", [&] { return HSLVLNSetTVOutModeCRTC2(h, &m); }, kErrSlotNotInitialised},
      {"pass-through", [&] { return HSLVLNSetTVPassThroughMode(h, 0); }, kErrSlotNotInitialised},
      {"pass-through master", [&] { return HSLVLNSetTVPassThroughMode(h, 1); }, kErrSlotNotInitialised},
      {"yuv", [&] { return HSLVLNSetTVYUVMode(h); }, kErrSlotNotInitialised},
      {"yuv rev 0", [&] { return HSLVLNSetTVYUVModeKalvoRev0(h); }, kErrSlotNotInitialised},
      {"disable", [&] { return HSLVLNSetTVDisableMode(h); }, kErrSlotNotInitialised},
      {"crt out", [&] { return HSLVLNSetCRTOutMode(h, &m); }, kErrSlotNotInitialised},
      // These stop earlier, at a look-up the supported devices lack.
      {"colour bars", [&] { return HSLVLNSetTVColorBarMode(h); }, kErrTveColorBar},
      {"itu-656", [&] { return HSLVLNCRTC2SetITU656(h, &m); }, kErrTveItu656},
  };
  for (const Case& c : cases) {
    h->status = 0;
    h->ucTvModeState = kTvStatePixPll;
    EXPECT_EQ(c.call(), c.status) << c.name;
    EXPECT_EQ(h->ucTvModeState, kTvStatePixPll) << c.name;
  }
}

// With routing slots that answer, TV out runs to its end: the standard from
// the record, the block's PLL, the encoder off first and on before the sync
// and the phase patch, the state stored.
TEST_F(Velan, TvOutSequenceWithRouting) {
  Table().GetTimingParameters = StubTiming;
  RecordRouting();
  struct Case {
    std::function<HALSTATUS(MODEINFO*)> call;
    uint32_t route;
  } cases[] = {{[&](MODEINFO* m) { return HSLVLNSetTVOutMode(h, m); }, kTvRouteFirstController},
               {[&](MODEINFO* m) { return HSLVLNSetTVOutModeCRTC2(h, m); }, kTvRouteSecondController}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.route);
    chip.ClearWrites();
    g_calls.clear();
    chip.Reg(0x94) = 0x5C;
    h->ucTvModeState = kTvStateDisabled;
    h->ucTvStandard = 0;
    MODEINFO m = Record(640, 480, 1);
    ASSERT_EQ(c.call(&m), 0u);
    EXPECT_EQ(h->ucTvModeState, kTvStateTvOut);
    EXPECT_EQ(h->ucTvStandard, 1);
    std::vector<std::pair<int, uint32_t>> routes;
    for (const auto& call : g_calls)
      if (call.first == 32 || call.first == 33) routes.push_back(call);
    EXPECT_EQ(routes, (std::vector<std::pair<int, uint32_t>>{{32, c.route}, {33, c.route}}));
    std::vector<uint32_t> blockStandards;
    for (const auto& call : g_calls)
      if (call.first == 46) blockStandards.push_back(call.second);
    EXPECT_EQ(blockStandards, std::vector<uint32_t>{1});
    EXPECT_EQ(Writes().front(), (std::pair<int, int>{62, 1}));
    EXPECT_EQ((std::vector<int>{chip.Reg(0x80), chip.Reg(0x81), chip.Reg(0x82)}),
              (std::vector<int>{1, 7, 3}));
    EXPECT_EQ(chip.Reg(0x94), 0xBD);
    EXPECT_EQ(chip.Reg(0x8C), 0x20);
    EXPECT_EQ(chip.Reg(0xB3), 1);
    // Encoder on, sync, then the horizontal start's phase patch.
    const Pairs w = Writes();
    ASSERT_GE(w.size(), 4u);
    EXPECT_EQ(w[w.size() - 4], (std::pair<int, int>{62, 0}));
    EXPECT_EQ(w[w.size() - 3], (std::pair<int, int>{0x95, 0x20}));
    EXPECT_EQ(w[w.size() - 2].first, 0xAA);
    EXPECT_EQ(w[w.size() - 1].first, 0xAB);
  }
}

// Sequences without routing store their state.
TEST_F(Velan, PixelPllAndSkippedDisableStoreTheirState) {
  MODEINFO m = Record(640, 480);
  ASSERT_EQ(HSLVLNPIXPLLSET(h, &m), 0u);
  EXPECT_EQ(h->ucTvModeState, kTvStatePixPll);
  EXPECT_EQ(chip.Reg(0x8C), 0x20);
  EXPECT_EQ(chip.Reg(0xB3), 1);
  // htotal 640 + 16 + 64 + 48 = 768: word 8 = 769, word 15 = 768.
  EXPECT_EQ(chip.Reg(0xA0) | (chip.Reg(0xA1) << 8), 769);
  EXPECT_EQ(chip.Reg(0x96) | (chip.Reg(0x97) << 8), 768);

  // Encoder register 0x3E set and 0xBF clear: nothing to switch off.
  chip.ClearWrites();
  chip.Reg(0x3E) = 1;
  chip.Reg(0xBF) = 0;
  ASSERT_EQ(HSLVLNSetTVDisableMode(h), 0u);
  EXPECT_EQ(h->ucTvModeState, kTvStateDisabled);
  EXPECT_TRUE(chip.Writes().empty());
}

}  // namespace
