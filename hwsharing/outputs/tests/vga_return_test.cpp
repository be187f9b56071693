// The console's return on the simulated board: the output-state probe over
// the encoders, transmitters and the VGA CRTC; the controllers' switch-off;
// the return itself (VGA file, palette, DACs, DVOs, syncs); the FPGA
// register sets; the encoders' start with their PLL tables and lock checks.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/hal/facade.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/tests/chip_fixture.h"
#include "hwsharing/chip/vga.h"
#include "hwsharing/outputs/vga_return.h"
#include "platform/board/companion_chips.h"
#include "tests/support/chip_names.h"

namespace {

using hwtest::RegWrites;
using hwtest::WritesOf;
using Encoder = orvsim::EncoderChip;

constexpr uint32_t kEncoderPort[4] = {1, 1, 16, 16};
constexpr uint8_t kEncoderAddress[4] = {0xEC, 0xEA, 0xEC, 0xEA};

class VgaReturn : public hwtest::ChipTest {
 protected:
  explicit VgaReturn(uint16_t device = kDeviceKestrion2) : ChipTest(device) {
    h->ulFeatures = 0;
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(h->aFpga, 0, sizeof(h->aFpga));
    std::memset(&h->oVgaReturn, 0, sizeof(h->oVgaReturn));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    for (MODEINFO& m : h->aModeInfo) m.flOutput |= kOutControllerOff;
    Port1();
  }

  // Encoder n with its record, on port 1 (0, 1) or port 16 (2, 3).
  Encoder& AddEncoder(uint32_t n, uint8_t id) {
    h->aChrontel[n] = I2CDEVICE{1, kEncoderPort[n], kEncoderAddress[n], id};
    const unsigned bus = kEncoderPort[n] == 1 ? orvsim::kBusBoardPort1 : orvsim::kBusBoardPort16;
    return Board().I2c(bus).Emplace<Encoder>(kEncoderAddress[n], id);
  }
  orvsim::TransmitterChip& AddTransmitter(uint8_t reg8) {
    h->aSiI164[0] = I2CDEVICE{1, 1, 0x70, 0};
    h->ulFeatures |= kFeatureTransmitter0;
    auto& chip = OnPort1<orvsim::TransmitterChip>(0x70);
    chip.SetRegister(8, reg8);
    return chip;
  }
  void MakeQuad(uint32_t type) {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = type;
  }
  uint32_t Probe() {
    uint32_t word = 0;
    EXPECT_EQ(HSLKSTGetVgaOutputState(h, &word), 1u);
    return word;
  }
  uint32_t Reg(uint32_t r) { return hw.Reg(r); }
  void Set(uint32_t r, uint32_t v) { Board().Poke(r, 4, v); }
};

// ---- Output-state probe --------------------------------------------------------------

TEST_F(VgaReturn, TransmitterBoardsAskRegister8ThenTheCrtc) {
  struct Case {
    uint8_t reg8;
    uint8_t hblank;
    uint32_t word;
  } cases[] = {
      {0x39, 0x7F, 0x20000400}, {0x3F, 0x9F, 0x20000800}, {0xFF, 0xC7, 0x20001000},
      {0x39, 0x4F, 0x20002000}, {0x38, 0x7F, 0x10000000}, {0x00, 0x7F, 0x10000000},
  };
  auto& si = AddTransmitter(0);
  for (const Case& c : cases) {
    si.SetRegister(8, c.reg8);
    Vga().SetCrtc(2, c.hblank);
    EXPECT_EQ(Probe(), c.word) << std::hex << int(c.reg8) << " " << int(c.hblank);
  }
}

TEST_F(VgaReturn, TransmitterThatDoesNotAnswerLeavesTheDacs) {
  h->aSiI164[0] = I2CDEVICE{1, 1, 0x70, 0};
  h->ulFeatures |= kFeatureTransmitter0;
  h->status = 0x40000001;  // a warning the probe keeps
  EXPECT_EQ(Probe(), 0x10000000u);
  EXPECT_EQ(h->status, 0x40000001u);
}

// Which encoder carries the console, and what it says about the path.
TEST_F(VgaReturn, EncoderProbeTable) {
  struct Case {
    const char* what;
    int marked;      // encoder whose 0x49 holds `mark` (-1: none)
    uint8_t mark;
    uint8_t id0;     // ids of encoders 0..3 are id0, 0x80, 0x80, 0x80
    uint8_t r21, r22, r7;
    std::array<uint8_t, 4> crtc;  // CRTC 2, 0x15, 7, 9
    uint32_t word;
    uint32_t primary, secondary;
  } cases[] = {
      {"encoder 3 marked digital", 3, 0xDE, 0x80, 0, 0, 0, {0x9F, 0, 0, 0}, 0x20000800, 3, 2},
      {"encoder 2 marked digital", 2, 0xDE, 0x80, 0, 0, 0, {0x7F, 0, 0, 0}, 0x20000400, 2, 3},
      {"encoder 1 marked TV, DAC word", 1, 0x20, 0x80, 11, 0, 0, {0x7F, 0, 0, 0}, 0x10000000, 1, 0},
      {"encoder 3 marked TV, DAC2 word", 3, 0x20, 0x80, 0, 22, 0, {0x7F, 0, 0, 0}, 0x10000000, 3, 2},
      {"none marked, LVDS text", -1, 0, 0x81, 0, 0, 0, {0x63, 0x57, 0x00, 0x20}, 0x20005000, 0, 1},
      {"LVDS, overflow bit 3", -1, 0, 0x81, 0, 0, 0, {0x63, 0x57, 0x08, 0x20}, 0x20006000, 0, 1},
      {"LVDS at 1024", -1, 0, 0x81, 0, 0, 0, {0x7F, 0x57, 0x00, 0x20}, 0x20004400, 0, 1},
      {"encoder 0 TV class 131", -1, 0, 0x80, 0, 0, 131, {0x7F, 0, 0, 0}, 0x82000090, 0, 1},
      {"encoder 0 TV class 113", -1, 0, 0x80, 0, 0, 113, {0x7F, 0, 0, 0}, 0x82000090, 0, 1},
      {"encoder 0 TV other class", -1, 0, 0x80, 0, 0, 133, {0x7F, 0, 0, 0}, 0x82000088, 0, 1},
      {"mark other than the two", 2, 0x21, 0x80, 0, 0, 0, {0x7F, 0, 0, 0}, 0x82000088, 0, 1},
  };
  Encoder* encoders[4];
  for (uint32_t n = 0; n < 4; ++n) encoders[n] = &AddEncoder(n, 0x80);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (Encoder* e : encoders) {
      e->SetRegister(0x49, 0);
      e->SetRegister(0x21, 0);
      e->SetRegister(0x22, 0);
      e->SetRegister(0x07, 0);
    }
    encoders[0]->SetRegister(0x4A, c.id0);
    const uint32_t primary = c.marked < 0 ? 0 : uint32_t(c.marked);
    if (c.marked >= 0) encoders[c.marked]->SetRegister(0x49, c.mark);
    encoders[primary]->SetRegister(0x21, c.r21);
    encoders[primary]->SetRegister(0x22, c.r22);
    encoders[primary]->SetRegister(0x07, c.r7);
    Vga().SetCrtc(2, c.crtc[0]);
    Vga().SetCrtc(0x15, c.crtc[1]);
    Vga().SetCrtc(7, c.crtc[2]);
    Vga().SetCrtc(9, c.crtc[3]);
    EXPECT_EQ(Probe(), c.word) << std::hex << Probe();
    EXPECT_EQ(h->oVgaReturn.ulPrimaryChrontel, c.primary);
    EXPECT_EQ(h->oVgaReturn.ulSecondaryChrontel, c.secondary);
    EXPECT_EQ(h->status, kHalOk);
  }
}

// A board without any encoder shows its console on the DACs, and the
// missing encoders leave no error behind.
TEST_F(VgaReturn, BoardWithoutEncodersGivesTheDacs) {
  EXPECT_EQ(Probe(), 0x10000000u);
  EXPECT_EQ(h->status, kHalOk);
}

// ---- Switching the controllers off ------------------------------------------------

class ControllersOff : public hwtest::ModeChipTest {};

TEST_F(ControllersOff, RunningControllersGoOffOnTheBoard) {
  // Controllers 0 and 1 run 1024x768 on the DACs, 2 and 3 stay off.
  MODEINFO m0 = hwtest::XgaOn(0, kOutAnalog0);
  MODEINFO m1 = hwtest::XgaOn(1, kOutAnalog1);
  ASSERT_EQ(HSLKSTSetMode(h, &m0), kHalOk);
  ASSERT_EQ(HSLKSTSetMode(h, &m1), kHalOk);
  ASSERT_TRUE(Reg(0x1800) & 1);
  ASSERT_TRUE(Reg(0x1A00) & 1);
  Set(0x1C20, Reg(0x1C20) | (1u << 25));
  Board().ClearLog();
  ASSERT_EQ(HSLKSTDisableControllers(h), kHalOk);
  EXPECT_FALSE(Reg(0x1800) & 1);
  EXPECT_FALSE(Reg(0x1A00) & 1);
  EXPECT_FALSE(Reg(0x1C20) & (1u << 25));
  for (const MODEINFO& m : h->aModeInfo) EXPECT_TRUE(m.flOutput & kOutControllerOff);
  // Controller 0's control word went off before controller 1's.
  const std::vector<uint32_t> order = WrittenIn(0x1800, 0x1A00);
  auto first = [&](uint32_t reg) { return std::find(order.begin(), order.end(), reg) - order.begin(); };
  EXPECT_LT(first(0x1800), first(0x1A00));
}

// The controllers go through the set-mode slot in the order 0, 2, 1, 3,
// each as an off record; those already off are left alone.
std::vector<uint32_t> g_offControllers;
HALSTATUS RecordOff(BOARDHANDLE* h, MODEINFO* m) {
  EXPECT_TRUE(m->flOutput & kOutControllerOff);
  g_offControllers.push_back(((m->flOutput & kOutSecondController) ? 2 : 0) + ((m->flOutput & kOutModule1) ? 1 : 0));
  return h->status;
}

TEST_F(ControllersOff, TakenInTheOrder0213) {
  h->oJumpTable.SetMode = RecordOff;
  const std::vector<uint32_t> on[] = {{0, 1, 2, 3}, {1, 3}, {2}};
  const std::vector<uint32_t> expected[] = {{0, 2, 1, 3}, {1, 3}, {2}};
  for (size_t k = 0; k < 3; ++k) {
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c] = hwtest::XgaOn(c, 0, 32);
    for (uint32_t c = 0; c < 4; ++c)
      if (std::find(on[k].begin(), on[k].end(), c) == on[k].end()) h->aModeInfo[c].flOutput |= kOutControllerOff;
    g_offControllers.clear();
    ASSERT_EQ(HSLKSTDisableControllers(h), kHalOk);
    EXPECT_EQ(g_offControllers, expected[k]);
    for (const MODEINFO& m : h->aModeInfo) EXPECT_TRUE(m.flOutput & kOutControllerOff);
  }
}

TEST_F(ControllersOff, WithEveryControllerOffOnlyTheFormatBitGoes) {
  Set(0x1C20, 0x02000040);
  ASSERT_EQ(HSLKSTDisableControllers(h), kHalOk);
  EXPECT_EQ(WrittenIn(0, 0x3FFF), std::vector<uint32_t>{0x1C20});
  EXPECT_EQ(Reg(0x1C20), 0x40u);
}

// ---- The return ------------------------------------------------------------------

TEST_F(VgaReturn, WithVgaOnNothingPastTheCursorsAndTheFormatBit) {
  Encoder& e = AddEncoder(0, 0x80);
  Set(0x1C08, 1);
  Set(0x1C20, 0x02000000);
  std::array<uint8_t, kVgaStateSize> block{};
  ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), 0x20000400), kHalOk);
  std::vector<uint32_t> written = WrittenIn(0, 0x3FFF);
  EXPECT_EQ(written, (std::vector<uint32_t>{0x18C4, 0x1AC4, 0x1C20}));
  EXPECT_EQ(Reg(0x1C20), 0u);
  EXPECT_TRUE(e.Transfers().empty());
}

// A console on the DACs: the VGA file and the palette as saved, DAC 1 on
// controller A and on, positive syncs, the VGA regime.
TEST_F(VgaReturn, FullReturnOnTheDacsRestoresTheSavedConsole) {
  // The console as the BIOS left it: a text mode and a palette ramp.
  for (unsigned i = 0; i < 25; ++i) Vga().SetCrtc(i, uint8_t(0x30 + i));
  Vga().SetCrtc(0x11, 0x0E);  // registers 0-7 writable
  Vga().SetMisc(0x67);
  Board().RegWrite(0x1FC8, 1, 0);
  for (unsigned i = 0; i < 768; ++i) Board().RegWrite(0x1FC9, 1, uint8_t(i * 7));
  std::array<uint8_t, kVgaStateSize> saved{};
  ASSERT_EQ(HSLKSTGetVgaState(h, saved.data(), 0), kHalOk);
  uint32_t word = 0;
  HSLKSTGetVgaOutputState(h, &word);
  ASSERT_EQ(word, 0x10000000u);
  // X runs: hires regime, another palette, other CRTC values, DAC 1 on
  // module 1 with negative syncs, DAC 2 off.
  Set(0x1C08, 2);
  Board().RegWrite(0x1FC8, 1, 0);
  for (unsigned i = 0; i < 768; ++i) Board().RegWrite(0x1FC9, 1, 0xAA);
  for (unsigned i = 0; i < 25; ++i) Vga().SetCrtc(i, 0);
  Vga().SetMisc(0x23);
  Set(0x1C18, (1u << 14) | (1u << 11) | (1u << 13));
  Set(0x1C1C, (1u << 11) | (1u << 13));

  ASSERT_EQ(HSLKSTReturnToVga(h, saved.data(), word), kHalOk);
  VGASTATE now{};
  ASSERT_EQ(HSLKSTVgaState(h, &now, 1), kHalOk);
  EXPECT_EQ(std::memcmp(saved.data(), &now, sizeof(now)), 0);
  EXPECT_EQ(Vga().Palette(5), (std::array<uint8_t, 3>{uint8_t(15 * 7), uint8_t(16 * 7), uint8_t(17 * 7)}));
  EXPECT_EQ(Reg(0x1C08) & 3, 1u);
  const orvsim::DacState dac1 = display.Outputs().Dac(0);
  EXPECT_TRUE(dac1.on);
  EXPECT_FALSE(dac1.blanked);
  EXPECT_EQ(dac1.source, 0u);
  EXPECT_FALSE(dac1.hsync_negative);
  EXPECT_FALSE(dac1.vsync_negative);
  EXPECT_FALSE(display.Outputs().Dac(1).hsync_negative);
  // Controller A scans under the VGA registers with the first free
  // synthesizer's select code; the priority word of the VGA regime.
  EXPECT_EQ(Reg(0x1C00) & 0x20, 0u);
  EXPECT_EQ(Reg(0x1C0C), 0x101u);
  EXPECT_EQ(Reg(0x1800), 0u);
}

TEST_F(VgaReturn, DacsEnabledByThePathBits) {
  struct Case {
    uint32_t word;
    bool dac1, dac2;
  } cases[] = {
      {0x10000000, true, false},
      {0x10000020, true, true},
      {0x10000040, false, true},
      {0x10000060, true, true},
      {0x10000002, true, false},
  };
  std::array<uint8_t, kVgaStateSize> block{};
  for (const Case& c : cases) {
    Set(0x1C08, 2);
    Set(0x1C18, 0x9400 | 0x10000);
    Set(0x1C1C, 0x31400);
    ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), c.word), kHalOk);
    EXPECT_EQ((Reg(0x1C18) & 0x19400) == 0, c.dac1) << std::hex << c.word;
    EXPECT_EQ((Reg(0x1C1C) & 0x31400) == 0, c.dac2) << std::hex << c.word;
  }
}

// A digital console on a board with encoders (second chip): the console
// encoder starts as a digital encoder, the sync buffers of encoders 1 and
// 2 are released, DVO 1 runs again, and controller A's soft video reset
// pulses once.
TEST_F(VgaReturn, DigitalReturnStartsTheConsoleEncoder) {
  Encoder* encoders[4];
  for (uint32_t n = 0; n < 4; ++n) encoders[n] = &AddEncoder(n, 0x80);
  encoders[0]->SetRegister(0x49, 0xDE);
  Vga().SetCrtc(2, 0x7F);
  const uint32_t word = Probe();
  ASSERT_EQ(word, 0x20000400u);
  Set(0x1C08, 2);
  Set(0x1C24, 7);
  Set(0x1C00, 1u << 12);
  const uint64_t resets = Raster().VideoResets();
  std::array<uint8_t, kVgaStateSize> block{};
  ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), word), kHalOk);
  const RegWrites w0 = WritesOf(*encoders[0]);
  ASSERT_GE(w0.size(), 3u);
  EXPECT_EQ(w0[0], (std::pair<int, int>{0x1C, 4}));
  EXPECT_EQ(w0[1], (std::pair<int, int>{0x1F, 0x80}));
  EXPECT_EQ(w0[2], (std::pair<int, int>{0x49, 0xDE}));
  EXPECT_EQ(w0.back(), (std::pair<int, int>{0x48, 0x18}));
  EXPECT_EQ(Raster().VideoResets(), resets + 1);
  EXPECT_EQ(Reg(0x1C24) & 5, 0u) << "DVO 1 and the both-off bit cleared";
  EXPECT_EQ(Reg(0x1C00) & (1u << 12), 0u);
  EXPECT_EQ(Reg(0x1C08) & 4, 0u) << "bit 2 only for an encoder path or a wide console";
  // Line 1 of encoders 1 and 2: an output, driven high.
  for (uint32_t n : {1u, 2u}) {
    EXPECT_EQ(encoders[n]->Register(0x1E) & 0xA0, 0x20) << n;
    ASSERT_FALSE(encoders[n]->GpioHistory(1).empty());
    EXPECT_TRUE(encoders[n]->GpioHistory(1).back()) << n;
  }
  EXPECT_TRUE(WritesOf(*encoders[3]).empty());
  EXPECT_EQ(h->status, kHalOk);
}

// A board with DVI transmitters 0 and 1 (0x70, 0x72 on port 1).
class TransmitterReturn : public VgaReturn {
 protected:
  TransmitterReturn() {
    t0 = &AddTransmitter(0x39);
    h->aSiI164[1] = I2CDEVICE{1, 1, 0x72, 0};
    h->ulFeatures |= kFeatureTransmitter1;
    t1 = &OnPort1<orvsim::TransmitterChip>(0x72);
    t1->SetRegister(8, 0x39);
  }
  orvsim::TransmitterChip* t0;
  orvsim::TransmitterChip* t1;
};

// Both paths digital: both transmitters off, then set up for the console
// (8 := 0x39, 10 := 0, 12 := 0x89); the expansion module's mode latched
// through 0x1C18; the VGA registers written a second time after the
// transmitters.
TEST_F(TransmitterReturn, BothPathsGoThroughTheTransmittersAndTheModuleMode) {
  Vga().SetCrtc(2, 0x7F);
  ASSERT_EQ(Probe(), 0x20000400u);
  Set(0x1C08, 2);
  Vga().ClearWrites();
  std::array<uint8_t, kVgaStateSize> block{};
  block[4] = 0x63;  // the saved miscellaneous output
  ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), 0x20000420), kHalOk);
  for (orvsim::TransmitterChip* t : {t0, t1}) {
    const RegWrites w = WritesOf(*t);
    ASSERT_GE(w.size(), 4u);
    EXPECT_FALSE(w.front().first == 8 && (w.front().second & 0x39) == 0x39) << "switched off first";
    const RegWrites setup(w.end() - 3, w.end());
    EXPECT_EQ(setup, (RegWrites{{8, 0x39}, {10, 0x00}, {12, 0x89}}));
    EXPECT_TRUE(t->Driving());
  }
  // The module mode: the (bit 11, bit 13) states of 0x1C18's last fifteen
  // writes.
  const std::vector<uint32_t> dac1 = hw.WritesTo(0x1C18);
  ASSERT_GE(dac1.size(), 15u);
  std::vector<std::pair<int, int>> states;
  for (size_t i = dac1.size() - 15; i < dac1.size(); ++i)
    states.emplace_back((dac1[i] >> 11) & 1, (dac1[i] >> 13) & 1);
  EXPECT_EQ(states, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {0, 0}, {0, 1}, {1, 1}, {0, 1}, {1, 1}, {0, 1},
                                                      {1, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 0}, {1, 0}, {0, 0}}));
  unsigned miscWrites = 0;
  for (const orvsim::VgaWrite& w : Vga().Writes())
    if (w.block == orvsim::VgaBlock::kMisc && w.value == 0x63) ++miscWrites;
  EXPECT_EQ(miscWrites, 2u);
  EXPECT_EQ(Reg(0x1C20) & 0x28002800, 0u) << "the DVOs' sync polarities cleared";
}

// Which DVOs the return switches off and on again, by path bits and board.
TEST_F(TransmitterReturn, DvosChosenByPathAndBoard) {
  struct Case {
    uint32_t quadType;  // 0: not a quad board
    uint32_t word;
    unsigned off, on;   // bit 0 DVO 1, bit 1 DVO 2
  } cases[] = {
      {0, 0x20000400, 1, 1}, {0, 0x20000420, 3, 3}, {0, 0x20000440, 2, 2}, {0, 0x20000402, 3, 3},
      {0, 0x20000600, 3, 3}, {3, 0x20000400, 2, 2}, {9, 0x20000420, 2, 3}, {2, 0x20000440, 2, 1},
      {4, 0x20000440, 2, 2},
  };
  std::array<uint8_t, kVgaStateSize> block{};
  for (const Case& c : cases) {
    h->oCem.ulPresent = c.quadType ? 1 : 0;
    h->oCem.ulBoardType = c.quadType;
    // Switched off: the DVO bits written set while they started clear.
    Set(0x1C08, 2);
    Set(0x1C24, 0);
    Board().ClearLog();
    ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), c.word), kHalOk);
    unsigned off = 0;
    for (uint32_t v : hw.WritesTo(0x1C24)) off |= v & 3;
    EXPECT_EQ(off, c.off) << c.quadType << " " << std::hex << c.word;
    // Switched on: the DVO bits cleared while they started set.
    Set(0x1C08, 2);
    Set(0x1C24, 7);
    ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), c.word), kHalOk);
    EXPECT_EQ(~Reg(0x1C24) & 3, c.on) << c.quadType << " " << std::hex << c.word;
  }
}

// The LVDS console's encoder takes DVO 2 both ways.
TEST_F(VgaReturn, LvdsConsoleUsesDvo2) {
  Encoder& e = AddEncoder(0, 0x81);
  e.SetLvdsLockTry(1);
  Vga().SetCrtc(2, 0x7F);
  const uint32_t word = Probe();
  ASSERT_EQ(word, 0x20004400u);
  std::array<uint8_t, kVgaStateSize> block{};
  Set(0x1C08, 2);
  Set(0x1C24, 0);
  Board().ClearLog();
  ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), word), kHalOk);
  unsigned off = 0;
  for (uint32_t v : hw.WritesTo(0x1C24)) off |= v & 3;
  EXPECT_EQ(off, 2u);
  EXPECT_EQ(Reg(0x1C24) & 3, 0u);
  EXPECT_EQ(Reg(0x1C08) & 4, 4u) << "an LVDS console sets bit 2";
  EXPECT_EQ(WritesOf(e).front(), (std::pair<int, int>{0x48, 0x08})) << "the LVDS start table";
}

TEST_F(VgaReturn, SoftVideoResetOfControllerA) {
  Set(0x1C00, 0x80902F);
  Board().ClearLog();
  ASSERT_EQ(HSLKSTSoftVidResetCRTCA(h), kHalOk);
  // Divided by two; reset hold with bits 2-3 clear; the pulse; restored.
  EXPECT_EQ(hw.WritesTo(0x1C00),
            (std::vector<uint32_t>{0x80902E, 0x809032, 0x809032, 0x1809032, 0x809032, 0x80902F}));
  EXPECT_EQ(hw.WritesTo(0x1900), (std::vector<uint32_t>{0x30000, 0}));
  EXPECT_EQ(WrittenIn(0, 0x3FFF), (std::vector<uint32_t>{0x1C00, 0x1900, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1900}));
}

// ---- FPGA register sets ----------------------------------------------------------

RegWrites Framed(const std::vector<std::pair<int, int>>& pairs) {
  RegWrites out = {{31, 0}, {30, 0}};
  out.insert(out.end(), pairs.begin(), pairs.end());
  out.emplace_back(30, 1);
  return out;
}

const std::vector<std::pair<int, int>> kRow1 = {
    {0x09, 0x00}, {0x0a, 0x00}, {0x0b, 0x21}, {0x10, 0x1e}, {0x11, 0xe0}, {0x12, 0x01},
    {0x13, 0x9e}, {0x14, 0xe2}, {0x15, 0x29}, {0x16, 0xe6}, {0x17, 0x62}, {0x18, 0x2e},
    {0x19, 0x16}, {0x1a, 0x60}, {0x1b, 0x01}, {0x1c, 0x0f}, {0x1d, 0x03}, {0x08, 0x00}};
const std::vector<std::pair<int, int>> kRow2 = {
    {0x09, 0x00}, {0x0a, 0x00}, {0x0b, 0x21}, {0x10, 0x1e}, {0x11, 0xe0}, {0x12, 0x01},
    {0x13, 0x9e}, {0x14, 0xe2}, {0x15, 0x29}, {0x16, 0x02}, {0x17, 0x23}, {0x18, 0x30},
    {0x19, 0x42}, {0x1a, 0x23}, {0x1b, 0x34}, {0x1c, 0x47}, {0x1d, 0x03}, {0x08, 0x00}};
const std::vector<std::pair<int, int>> kRow3 = {
    {0x09, 0x40}, {0x0a, 0x00}, {0x0b, 0x00}, {0x10, 0x1e}, {0x11, 0x90}, {0x12, 0x44},
    {0x13, 0x5e}, {0x14, 0x96}, {0x15, 0x21}, {0x16, 0xc6}, {0x17, 0x16}, {0x18, 0x28},
    {0x19, 0x76}, {0x1a, 0x17}, {0x1b, 0x33}, {0x1c, 0x6f}, {0x1d, 0x08}, {0x08, 0x88}};

std::vector<std::pair<int, int>> Patched(std::vector<std::pair<int, int>> row, int reg, int bits) {
  for (auto& p : row)
    if (p.first == reg) p.second |= bits;
  return row;
}

struct FpgaCase {
  uint16_t device;
  uint32_t selector;
  uint32_t word;
  RegWrites fpga0, fpga1;
};

// The chip, the path the return word takes and the preset the selector
// picks: "Kestrion2_Encoder_PresetB".
void PrintTo(const FpgaCase& c, std::ostream* out) {
  *out << TestChipName(c.device);
  if (c.word & kVgaOutEncoder) *out << "_Encoder";
  if (c.word & kVgaOutDvo) *out << "_Dvo";
  if (static_cast<int32_t>(c.selector) >= 0) {
    *out << "_FromTheFpgas";
  } else {
    *out << ((c.selector & kFpgaPresetB) ? "_PresetB" : "_PresetA");
  }
}

class FpgaSets : public VgaReturn, public testing::WithParamInterface<FpgaCase> {
 protected:
  FpgaSets() : VgaReturn(GetParam().device) {}
};

TEST_P(FpgaSets, ReturnWritesTheSetsFramedWithTheDevicesPatches) {
  const FpgaCase& c = GetParam();
  MakeQuad(2);
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  auto& f0 = OnPort1<orvsim::FpgaChip>(0xE0);
  auto& f1 = OnPort1<orvsim::FpgaChip>(0xE2);
  AddEncoder(0, 0x80);
  std::array<uint8_t, kVgaStateSize> block{};
  ASSERT_EQ(HSLKSTGetVgaState(h, block.data(), c.selector), kHalOk);
  f0.ClearTransfers();
  f1.ClearTransfers();
  Set(0x1C08, 2);
  ASSERT_EQ(HSLKSTReturnToVga(h, block.data(), c.word), kHalOk);
  EXPECT_EQ(WritesOf(f0), c.fpga0);
  EXPECT_EQ(WritesOf(f1), c.fpga1);
}

INSTANTIATE_TEST_SUITE_P(
    Presets, FpgaSets,
    testing::Values(
        // The encoder path writes the sets as they are.
        FpgaCase{kDeviceKestrion2, 0xFFFFFFFF, 0x82000088, Framed(kRow3), Framed(kRow2)},
        FpgaCase{kDeviceKestrion2, 0x80000000, 0x82000088, Framed(kRow3), Framed(kRow1)},
        // Other paths patch them: FPGA 0's 8 and 10 on the first chips,
        // FPGA 1's 8 on the later ones.
        FpgaCase{kDeviceKestrion1, 0x80000000, 0x20000400,
                 Framed(Patched(Patched(kRow3, 0x08, 0x04), 0x0a, 0x40)), Framed(kRow1)},
        FpgaCase{kDeviceKestrionNext1, 0xFFFFFFF0, 0x20000400, Framed(kRow3),
                 Framed(Patched(kRow2, 0x08, 0x04))}),
    testing::PrintToStringParamName());

// FPGAs that do not answer: the VGA state is saved all the same, and the
// FPGAs' error is reported.
TEST_F(VgaReturn, SaveWithSilentFpgasStillSavesTheVgaState) {
  MakeQuad(2);
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  Vga().SetCrtc(2, 0x7F);
  Vga().SetMisc(0x67);
  std::array<uint8_t, kVgaStateSize> block{};
  const HALSTATUS status = HSLKSTGetVgaState(h, block.data(), 0);
  EXPECT_TRUE(HalFailed(status));
  EXPECT_EQ(h->status, status);
  const VGAINFO* info = reinterpret_cast<const VGAINFO*>(block.data());
  EXPECT_EQ(info->ucMisc, 0x67);
  EXPECT_EQ(info->aucCrtc[2], 0x7F);
}

TEST_F(VgaReturn, NonNegativeSelectorReadsTheSetsFromTheFpgas) {
  MakeQuad(2);
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  auto& f0 = OnPort1<orvsim::FpgaChip>(0xE0);
  auto& f1 = OnPort1<orvsim::FpgaChip>(0xE2);
  for (uint8_t r = 8; r <= 0x1D; ++r) {
    f0.SetRegister(r, uint8_t(0x80 + r));
    f1.SetRegister(r, uint8_t(0xC0 + r));
  }
  ASSERT_EQ(HSLKSTGetFpgaVgaState(h, 0), kHalOk);
  std::vector<std::pair<int, int>> read0, read1;
  for (auto p : kRow3) read0.emplace_back(p.first, 0x80 + p.first);
  for (auto p : kRow1) read1.emplace_back(p.first, 0xC0 + p.first);
  f0.ClearTransfers();
  f1.ClearTransfers();
  ASSERT_EQ(SetFPGARegisters(h, h->oVgaReturn.aucFpgaSet[0], 0), kHalOk);
  ASSERT_EQ(SetFPGARegisters(h, h->oVgaReturn.aucFpgaSet[1], 1), kHalOk);
  EXPECT_EQ(WritesOf(f0), Framed(read0));
  EXPECT_EQ(WritesOf(f1), Framed(read1));
}

// ---- The encoders' start ---------------------------------------------------------

class EncoderStart : public VgaReturn {
 protected:
  // What the encoder saw written from the start up to register 0x48 := 0x18.
  static RegWrites StartWrites(const Encoder& e) {
    RegWrites w = WritesOf(e);
    auto end = std::find(w.begin(), w.end(), std::pair<int, int>{0x48, 0x18});
    return RegWrites(w.begin(), end == w.end() ? end : end + 1);
  }
};

TEST_F(EncoderStart, DigitalPllTableByIdAndValue) {
  const RegWrites kind[7] = {
      {},
      {{0x31, 0x00}, {0x32, 0x2d}, {0x33, 0x07}, {0x34, 0x26}, {0x35, 0x30}, {0x36, 0xe0}, {0x37, 0x00}},
      {{0x31, 0x00}, {0x32, 0x23}, {0x33, 0x08}, {0x34, 0x16}, {0x35, 0x30}, {0x36, 0x10}, {0x37, 0x00}},
      {{0x31, 0x00}, {0x32, 0x23}, {0x33, 0x08}, {0x34, 0x16}, {0x35, 0x30}, {0x36, 0x60}, {0x37, 0x00}},
      {{0x31, 0x00}, {0x32, 0x2d}, {0x33, 0x06}, {0x34, 0x26}, {0x35, 0x30}, {0x36, 0xa0}, {0x37, 0x00}},
      {{0x31, 0x00}, {0x32, 0x23}, {0x33, 0x08}, {0x34, 0x16}, {0x35, 0x30}, {0x36, 0x60}, {0x37, 0x00}},
      {{0x31, 0x00}, {0x32, 0x2d}, {0x33, 0x06}, {0x34, 0x26}, {0x35, 0x70}, {0x36, 0xa0}, {0x37, 0x00}},
  };
  struct Case {
    uint8_t id;
    uint32_t value;
    bool external;  // board description word 136 bit 15
    int kind;
  } cases[] = {
      {0x85, 0, false, 2},  {0x85, 32, true, 2},   {0x85, 33, false, 3}, {0x85, 64, false, 3},
      {0x85, 65, true, 4},  {0x95, 29, false, 5},  {0x95, 64, true, 5},  {0x95, 65, false, 6},
      {0x80, 29, false, 1}, {0x80, 100, true, 1},
  };
  Encoder& e = AddEncoder(0, 0x80);
  e.ScriptPllLock({true});
  for (const Case& c : cases) {
    e.SetRegister(0x4A, c.id);
    e.ClearTransfers();
    h->oPins.aucData[137] = c.external ? 0x80 : 0x00;
    ASSERT_EQ(HSLKSTEnableChrontelDevice(h, 0, c.value, 0x20000000), kHalOk);
    RegWrites expected = {{0x1C, 4}, {0x1F, 0x80}, {0x49, 0xDE}};
    if (c.id == 0x95) expected.emplace_back(0x70, 0xA0);
    if (c.id != 0x80) expected.emplace_back(0x23, c.external ? 6 : 4);
    expected.insert(expected.end(), kind[c.kind].begin(), kind[c.kind].end());
    expected.emplace_back(0x48, 0x18);
    EXPECT_EQ(StartWrites(e), expected) << std::hex << int(c.id) << std::dec << " V " << c.value;
  }
}

TEST_F(EncoderStart, AnalogConsoleMarksTheEncoderForTheProbe) {
  Encoder& e = AddEncoder(0, 0x80);
  ASSERT_EQ(HSLKSTEnableChrontelDevice(h, 0, kVgaEnableValue, 0x10000000), kHalOk);
  EXPECT_EQ(StartWrites(e),
            (RegWrites{{0x1C, 4}, {0x1F, 0x80}, {0x49, 0x20}, {0x21, 11}, {0x22, 22}, {0x48, 0x18}}));
  // What it wrote is what the probe reads back: the DACs carry the console.
  EXPECT_EQ(Probe(), 0x10000000u);
}

TEST_F(EncoderStart, TvConsoleByClassAndLevels) {
  struct Case {
    uint32_t word;
    uint8_t r21, r07;
    bool classB;
  } cases[] = {
      {0x82000088, 18, 133, false},
      {0x82000090, 16, 113, true},
      {0x82000188, 2, 133, false},
  };
  Encoder& e = AddEncoder(0, 0x80);
  for (const Case& c : cases) {
    e.SetRegister(0x01, 0x80);
    e.ClearTransfers();
    ASSERT_EQ(HSLKSTEnableChrontelDevice(h, 0, kVgaEnableValue, c.word), kHalOk);
    RegWrites w = StartWrites(e);
    RegWrites head = {{0x1C, 4}, {0x1F, 0x80}, {0x49, 0x20}, {0x1d, 0xc8}, {0x02, 0x60}, {0x15, 0x00},
                      {0x1e, 0xf2}, {0x1f, 0x80}, {0x1C, 0x0C}, {0x10, 0}};
    ASSERT_GE(w.size(), head.size() + 6 + 12 + 1);
    EXPECT_EQ(RegWrites(w.begin(), w.begin() + head.size()), head) << std::hex << c.word;
    // Register 2 keeps bits 5-7 of the table's 0x60.
    EXPECT_EQ(w[head.size()], (std::pair<int, int>{0x02, 0x7A}));
    const bool alt = c.word & 0x100;
    EXPECT_EQ(w[head.size() + 1], (std::pair<int, int>{0x01, 0x80 | (alt ? 0x56 : 0x16)}));
    EXPECT_EQ(w[head.size() + 2], (std::pair<int, int>{0x01, 0x80 | (alt ? 0x56 : 0x16) | (alt ? 0x40 : 0x10)}));
    EXPECT_EQ(w[head.size() + 3], (std::pair<int, int>{0x21, c.r21}));
    EXPECT_EQ(w[head.size() + 4], (std::pair<int, int>{0x07, c.r07}));
    EXPECT_EQ(w[head.size() + 5], (std::pair<int, int>{0x08, 1}));
    EXPECT_EQ(w[head.size() + 6], (std::pair<int, int>{0x00, c.classB ? 0x61 : 0x6a}));
    EXPECT_EQ(w[head.size() + 17], (std::pair<int, int>{0x03, c.classB ? 0x0d : 0x05}));
  }
}

TEST_F(EncoderStart, LvdsEncoderGetsItsStartTableAndWaits) {
  Encoder& e = AddEncoder(0, 0x81);
  e.SetLvdsLockTry(1);
  ASSERT_EQ(HSLKSTEnableChrontelDevice(h, 0, kVgaEnableValue, 0x20004400), kHalOk);
  const RegWrites w = WritesOf(e);
  ASSERT_GE(w.size(), 21u);
  EXPECT_EQ(w[0], (std::pair<int, int>{0x48, 0x08}));
  EXPECT_EQ(w[20], (std::pair<int, int>{0x66, 0x01}));
  EXPECT_EQ(e.LvdsRestarts(), 0u);
  EXPECT_EQ(e.Register(0x66) & 1, 1) << "the LVDS runs";
}

// The lock poll: 150 reads for three locked in a row, 20 that must hold;
// after a failed poll the data path (0x48 bit 3) is pulsed, after the
// fourth also the PLL power (0x49 bit 6); the eighth failure is an error.
TEST_F(EncoderStart, PllLockPollCases) {
  auto repeat = [](std::vector<bool> v, bool b, size_t n) {
    v.insert(v.end(), n, b);
    return v;
  };
  const std::vector<bool> clearInConfirmation =
      repeat(repeat(repeat({}, true, 3 + 5), false, 1), true, 1);  // fails once, then holds
  // Two locked reads and a clear one for a whole poll, then locked.
  std::vector<bool> flickering;
  for (unsigned i = 0; i < 150; ++i) flickering.push_back(i % 3 != 2);
  flickering.push_back(true);
  struct Case {
    const char* what;
    std::vector<bool> script;
    HALSTATUS status;
    unsigned dataPathPulses, powerPulses;
    unsigned reads;
  } cases[] = {
      {"locked", {true}, kHalOk, 0, 0, 23},
      {"locked after 100 reads", repeat(repeat({}, false, 100), true, 1), kHalOk, 0, 0, 123},
      {"three then twenty", repeat({}, true, 23), kHalOk, 0, 0, 23},
      {"clear in the confirmation", clearInConfirmation, kHalOk, 1, 0, 9 + 23},
      {"flickering", flickering, kHalOk, 1, 0, 150 + 23},
  };
  Encoder& e = AddEncoder(0, 0x85);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e.ScriptPllLock(c.script);
    e.ClearTransfers();
    for (uint8_t reg : {0x23, 0x35, 0x48, 0x49}) e.SetRegister(reg, 0);
    h->status = kHalOk;
    EXPECT_EQ(HSLKSTCheckChrontelPllLocked(h, 0x20000000, 0), c.status);
    EXPECT_EQ(e.PllLockReads(), c.reads);
    unsigned data = 0, power = 0;
    for (auto [reg, value] : WritesOf(e)) {
      if (reg == 0x48 && !(value & 0x08)) ++data;
      if (reg == 0x49 && !(value & 0x40)) ++power;
    }
    EXPECT_EQ(data, c.dataPathPulses);
    EXPECT_EQ(power, c.powerPulses);
    EXPECT_EQ(e.Register(0x23) & 4, 4);
    EXPECT_EQ(e.Register(0x35) & 0x40, 0x40);
  }
}

TEST_F(EncoderStart, PllThatNeverLocksFailsAfterEightPolls) {
  Encoder& e = AddEncoder(0, 0x95);
  e.ScriptPllLock({false});
  EXPECT_EQ(HSLKSTCheckChrontelPllLocked(h, 0x20000000, 0), 0xB26011A0);
  EXPECT_EQ(e.PllLockReads(), 8u * 150u);
  // Data path pulsed after polls 1-7, the PLL power once, after poll 4.
  std::vector<int> pulses;
  for (auto [reg, value] : WritesOf(e)) {
    if (reg == 0x48 && !(value & 0x08)) pulses.push_back(0x48);
    if (reg == 0x49 && !(value & 0x40)) pulses.push_back(0x49);
  }
  EXPECT_EQ(pulses, (std::vector<int>{0x48, 0x48, 0x48, 0x49, 0x48, 0x48, 0x48, 0x48}));
}

TEST_F(EncoderStart, PllCheckOnlyForDigitalPathsOfTheDigitalEncoders) {
  Encoder& e = AddEncoder(0, 0x80);
  e.ScriptPllLock({false});
  EXPECT_EQ(HSLKSTCheckChrontelPllLocked(h, 0x20000000, 0), kHalOk);
  e.SetRegister(0x4A, 0x95);
  EXPECT_EQ(HSLKSTCheckChrontelPllLocked(h, 0x10000000, 0), kHalOk);
  EXPECT_EQ(e.PllLockReads(), 0u);
}

TEST_F(EncoderStart, LvdsWaitTriesFiveTimesWithoutAnError) {
  struct Case {
    unsigned lockTry;
    unsigned restarts, reads;
  } cases[] = {{1, 0, 1}, {3, 2, 2 * 150 + 1}, {0, 4, 5 * 150}};
  Encoder& e = AddEncoder(0, 0x81);
  for (const Case& c : cases) {
    e.SetLvdsLockTry(c.lockTry);
    e.SetRegister(0x66, 0);
    e.SetRegister(0x76, 0xFF);
    EXPECT_EQ(HSLKSTCheckChrontelLvdsPllLocked(h, 0), kHalOk) << c.lockTry;
    EXPECT_EQ(e.LvdsRestarts(), c.restarts) << c.lockTry;
    // The poll's reads, and one read of each read-change-write of 0x66.
    EXPECT_EQ(e.LvdsLockReads(), c.reads + 2 + c.restarts);
    EXPECT_EQ(e.Register(0x66) & 1, 1);
    EXPECT_EQ(e.Register(0x76), c.restarts ? 0xFB : 0xFF);
  }
}

// Which encoders the return starts.
TEST_F(EncoderStart, PicksThePrimaryAndSecondaryByPath) {
  struct Case {
    bool quad, multi;
    uint32_t word;
    bool primary, secondary;
  } cases[] = {
      {true, true, 0x10000000, true, false},  {true, true, 0x10000020, true, true},
      {true, true, 0x10000040, true, false},  {false, true, 0x10000040, false, true},
      {false, false, 0x10000040, true, false}, {false, false, 0x10000002, true, true},
      {false, true, 0x10000060, true, true},  {false, false, 0x10000200, true, false},
  };
  Encoder& p = AddEncoder(2, 0x80);
  Encoder& s = AddEncoder(3, 0x80);
  p.SetRegister(0x49, 0xDE);
  Probe();  // encoder 2 primary, 3 secondary
  for (const Case& c : cases) {
    h->oCem.ulPresent = c.multi ? 1 : 0;
    h->oCem.ulBoardType = c.quad ? 2 : 0;
    p.ClearTransfers();
    s.ClearTransfers();
    ASSERT_EQ(HSLKSTEnableChrontel(h, kVgaEnableValue, c.word), kHalOk);
    EXPECT_EQ(!WritesOf(p).empty(), c.primary) << std::hex << c.word;
    EXPECT_EQ(!WritesOf(s).empty(), c.secondary) << std::hex << c.word;
  }
}

}  // namespace

// ---- Two boards ------------------------------------------------------------------

// Two quad boards save their consoles one after the other and return in
// turn: each gets its own VGA file, palette, FPGA sets and console encoder
// back, although the second board's save and probe ran in between.
TEST(VgaReturnTwoBoards, EachBoardGetsItsOwnConsoleBack) {
  orvsim::BoardConfig a = hwtest::Config(kDeviceKestrion2), b = hwtest::Config(kDeviceKestrion2);
  b.location = orvsim::PciLocation{2, 0, 0};
  hwtest::HwBoards boards({a, b});
  struct PerBoard {
    orvsim::ChipDisplay* display;  // the machine's
    BOARDHANDLE* h;
    orvsim::FpgaChip* fpga[2];
    Encoder* encoder[4] = {};
    uint32_t word = 0;
  } per[2];
  for (uint32_t i = 0; i < 2; ++i) {
    hwtest::BoardHandleOn& on = boards[i];
    PerBoard& p = per[i];
    p.display = on.AddParts(orvmachine::kControllers).display.get();
    ASSERT_EQ(on.Open(), kHalOk);
    p.h = on.h();
    BOARDHANDLE* h = p.h;
    h->ulFeatures = 0;
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
    on.Chip();
    for (uint32_t f = 0; f < 2; ++f) {
      h->aFpga[f] = I2CDEVICE{1, 1, uint32_t(0xE0 + 2 * f), 0};
      p.fpga[f] = &on.board().I2c(orvsim::kBusBoardPort1).Emplace<orvsim::FpgaChip>(uint8_t(0xE0 + 2 * f));
      for (uint8_t r = 8; r <= 0x1D; ++r) p.fpga[f]->SetRegister(r, uint8_t(0x10 * i + r + 0x40 * f));
    }
    // Board 0: encoders 0 and 2, encoder 2 carries a digital console.
    // Board 1: encoder 0 shows the console on the DACs.
    for (uint32_t n : i == 0 ? std::vector<uint32_t>{0, 2} : std::vector<uint32_t>{0}) {
      h->aChrontel[n] = I2CDEVICE{1, kEncoderPort[n], kEncoderAddress[n], 0x80};
      const unsigned bus = kEncoderPort[n] == 1 ? orvsim::kBusBoardPort1 : orvsim::kBusBoardPort16;
      p.encoder[n] = &on.board().I2c(bus).Emplace<Encoder>(kEncoderAddress[n], 0x80);
    }
    if (i == 0) p.encoder[2]->SetRegister(0x49, 0xDE);
    if (i == 1) p.encoder[0]->SetRegister(0x21, 11);
    // Each console its own CRTC values and palette.
    for (unsigned r = 0; r < 25; ++r) p.display->Vga().SetCrtc(r, uint8_t(0x20 * i + r));
    p.display->Vga().SetCrtc(2, 0x7F);
    on.board().RegWrite(0x1FC8, 1, 0);
    for (unsigned k = 0; k < 768; ++k) on.board().RegWrite(0x1FC9, 1, uint8_t(k * (3 + i)));
  }
  // Interleaved: both probes, both saves.
  for (PerBoard& p : per) ORVGetVgaOutputState(p.h, &p.word);
  EXPECT_EQ(per[0].word, 0x20000400u);
  EXPECT_EQ(per[1].word, 0x10000000u);
  for (PerBoard& p : per) ASSERT_EQ(ORVSaveVgaState(p.h, 0), kHalOk);
  // X runs on both.
  for (uint32_t i = 0; i < 2; ++i) {
    orvsim::Board& board = boards[i].board();
    board.Poke(0x1C08, 4, 2);
    board.RegWrite(0x1FC8, 1, 0);
    for (unsigned k = 0; k < 768; ++k) board.RegWrite(0x1FC9, 1, 0x55);
    for (unsigned r = 0; r < 25; ++r) per[i].display->Vga().SetCrtc(r, 0);
    for (orvsim::FpgaChip* f : per[i].fpga) {
      for (uint8_t r = 8; r <= 0x1D; ++r) f->SetRegister(r, 0);
      f->ClearTransfers();
    }
    for (Encoder* e : per[i].encoder)
      if (e != nullptr) e->ClearTransfers();
  }
  for (PerBoard& p : per) ASSERT_EQ(ORVRestoreVgaState(p.h, p.word), kHalOk);

  for (uint32_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(testing::Message() << "board " << i);
    PerBoard& p = per[i];
    VGASTATE now{};
    ASSERT_EQ(HSLKSTVgaState(p.h, &now, 1), kHalOk);
    EXPECT_EQ(std::memcmp(&now, p.h->aucVgaState, sizeof(now)), 0);
    EXPECT_EQ(p.display->Vga().Palette(1)[0], uint8_t(3 * (3 + i)));
    EXPECT_EQ(boards[i].Reg(0x1C08) & 3, 1u);
    // The FPGA sets as this board saved them, with the first chips' patches.
    for (uint32_t f = 0; f < 2; ++f) {
      for (uint8_t r = 9; r <= 0x1D; ++r) {
        if (r >= 0x0C && r <= 0x0F) continue;  // not in the sets
        uint8_t expected = uint8_t(0x10 * i + r + 0x40 * f);
        if (f == 0 && r == 0x0A) expected |= 0x40;
        EXPECT_EQ(p.fpga[f]->Register(r), expected) << "FPGA " << f << " register " << int(r);
      }
    }
  }
  // Each return started its own board's console encoder.
  EXPECT_FALSE(WritesOf(*per[0].encoder[2]).empty());
  EXPECT_EQ(per[0].encoder[2]->Register(0x49), 0xDE);
  EXPECT_TRUE(WritesOf(*per[0].encoder[0]).empty());
  EXPECT_EQ(per[1].encoder[0]->Register(0x49), 0x20);
  EXPECT_EQ(per[1].encoder[0]->Register(0x21), 11);
}
