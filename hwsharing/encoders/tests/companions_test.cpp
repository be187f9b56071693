// The small chips beside the graphics chip, as their simulated counterparts
// see them: DVI transmitters by kind, the PanelLink module and transmitter,
// the feature-connector switch, the AV9110 serial load, the fan controller
// and the audio processor.
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/regs/dac.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/fan_pwm.h"
#include "hwsharing/encoders/flat_panel.h"
#include "hwsharing/encoders/msp.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/addon_chips.h"
#include "platform/board/chip_dac.h"
#include "platform/board/companion_chips.h"

namespace {

using Writes = hwtest::RegWrites;

using hwtest::WritesOf;

class Companions : public hwtest::ChipTest {
 protected:
  explicit Companions(uint16_t device = kDeviceKestrionNext2, uint32_t window = 0)
      : ChipTest(device, window) {
    std::memset(h->aucAddOnPresent, 0, sizeof(h->aucAddOnPresent));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    h->ulFeatures = 0;
    h->ulPanelLinkVersion = 0;
    h->ucTransmitterEdge = 0;
    h->ucSiParamsEdge = 0;
    Port1();
  }
  const FPFUNCTIONS& Fp() const { return *h->pFPFunctions; }
};

// ---- DVI transmitters ------------------------------------------------------------------------

// Parameterised by device: only 0x5D63 takes the edge setting.
class Transmitters : public Companions, public testing::WithParamInterface<uint16_t> {
 protected:
  Transmitters() : Companions(GetParam()) {}
  orvsim::TransmitterChip& Transmitter(uint32_t kind) {
    h->aSiI164[0] = I2CDEVICE{1, 1, 0x70, kind};
    return OnPort1<orvsim::TransmitterChip>(0x70);
  }
  bool EdgeTaken() const { return GetParam() == kDeviceKestrionNext3; }
};

TEST_P(Transmitters, EnableWritesTheKindsBlockInItsOrder) {
  struct Case {
    uint32_t kind;
    Writes writes;
    std::vector<size_t> edgeBytes;  // positions carrying the edge bit
  } cases[] = {
      {0, {{8, 0x39}, {10, 0x00}, {12, 0x89}}, {0}},
      {1, {{8, 0x39}, {10, 0x00}, {12, 0x89}}, {0}},
      {2, {{8, 0x30}, {9, 0x00}, {10, 0x90}, {12, 0x89}, {8, 0x31}}, {0, 4}},
      {3,
       {{15, 0x44}, {15, 0x4C}, {14, 0x01}, {10, 0x80}, {9, 0x00}, {12, 0x89}, {13, 0x60},
        {8, 0x34}, {8, 0x35}},
       {7, 8}},
  };
  for (const Case& c : cases) {
    for (uint8_t edge : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "kind " << c.kind << " edge " << int(edge));
      auto& chip = Transmitter(c.kind);
      h->ucTransmitterEdge = edge;
      ASSERT_EQ(HSLSI164Enable(h, 0), 0u);
      Writes expected = c.writes;
      if (edge && EdgeTaken())
        for (size_t i : c.edgeBytes) expected[i].second |= 0x02;
      EXPECT_EQ(WritesOf(chip), expected);
      Port1().Detach(&chip);
    }
  }
}

// Kinds without a block write nothing, yet the blocks follow the edge.
TEST_P(Transmitters, UnknownKindOnlyUpdatesTheBlocks) {
  auto& chip = Transmitter(4);
  h->ucTransmitterEdge = 1;
  ASSERT_EQ(HSLSI164Enable(h, 0), 0u);
  EXPECT_TRUE(WritesOf(chip).empty());
  const SIPARAMS p = SiParamsOf(h);
  const uint8_t bit = EdgeTaken() ? 0x02 : 0;
  EXPECT_EQ(p.si164[0], 0x39 | bit);
  EXPECT_EQ(p.si1162[0], 0x30 | bit);
  EXPECT_EQ(p.si1162[4], 0x31 | bit);
  EXPECT_EQ(p.si1178[7], 0x34 | bit);
  EXPECT_EQ(p.si1178[8], 0x35 | bit);
  EXPECT_EQ(p.si1178[0], 0x44);
}

// Kinds 2 and 3 power down with the five-byte block's first byte as the
// board's last enable left it; another board's enable does not reach it.
TEST_P(Transmitters, DisableByKindWithTheBoardsOwnBlocks) {
  struct Case {
    uint32_t kind;
    int value;
  } cases[] = {{0, 0x38}, {1, 0x38}, {2, 0x30}, {3, 0x30}};
  for (const Case& c : cases) {
    auto& chip = Transmitter(c.kind);
    ASSERT_EQ(HSLSI164Disable(h, 0), 0u);
    EXPECT_EQ(WritesOf(chip), (Writes{{8, c.value}})) << c.kind;
    Port1().Detach(&chip);
  }
  // This board enables with the edge; a second board (its own handle on the
  // same bus) never did.
  auto& chip = Transmitter(2);
  h->ucTransmitterEdge = 1;
  ASSERT_EQ(HSLSI164Enable(h, 0), 0u);
  BOARDHANDLE other;
  std::memcpy(&other, h, sizeof(other));
  other.ucSiParamsEdge = 0;
  chip.ClearTransfers();
  ASSERT_EQ(HSLSI164Disable(&other, 0), 0u);
  ASSERT_EQ(HSLSI164Disable(h, 0), 0u);
  EXPECT_EQ(WritesOf(chip), (Writes{{8, 0x30}, {8, EdgeTaken() ? 0x32 : 0x30}}));
}

TEST_P(Transmitters, DualLinkByKind) {
  struct Case {
    uint32_t kind;
    Writes enable, disable;
  } cases[] = {
      {0, {{8, 0xFB}}, {}},
      {1, {{8, 0xFB}}, {}},
      {2, {}, {}},
      {3, {{13, 0xFF}}, {{13, 0xEF}}},
  };
  for (const Case& c : cases) {
    auto& chip = Transmitter(c.kind);
    chip.SetRegister(8, 0xFF);
    chip.SetRegister(13, 0xEF);
    ASSERT_EQ(HSLSI164EnableDualLinkMode(h, 0), 0u);
    EXPECT_EQ(WritesOf(chip), c.enable) << c.kind;
    chip.ClearTransfers();
    chip.SetRegister(13, 0xFF);
    ASSERT_EQ(HSLSI164DisableDualLinkMode(h, 0), 0u);
    EXPECT_EQ(WritesOf(chip), c.disable) << c.kind;
    Port1().Detach(&chip);
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, Transmitters,
                         testing::Values(kDeviceKestrionNext2, kDeviceKestrionNext3),
                         [](const testing::TestParamInfo<uint16_t>& info) {
                           return "Device" + std::to_string(info.param);
                         });

// ---- PanelLink ------------------------------------------------------------------------------------

TEST_F(Companions, PanelLinkTransmitterOutputByVersion) {
  struct Case {
    uint32_t version;
    Writes on;
  } cases[] = {
      {kPanelLinkVersion40001, {{8, 0xF9}, {9, 0x9F}, {10, 0x81}, {12, 0x8D}}},
      {kPanelLinkVersion60001, {{8, 0xF9}, {9, 0x9F}, {10, 0x81}, {12, 0x89}}},
      {0x00050001, {{8, 0xF9}, {9, 0x9F}, {10, 0x81}}},
  };
  auto& chip = OnPort1<orvsim::TransmitterChip>(0x70);
  SetAddOn(h, kAddOnPanelLinkAddress, 0x70);
  for (const Case& c : cases) {
    chip.ClearTransfers();
    h->ulPanelLinkVersion = c.version;
    ASSERT_EQ(Fp().EnablePanelLinkModuleOutput(h, 1), 0u);
    EXPECT_EQ(WritesOf(chip), c.on) << std::hex << c.version;
  }
  chip.ClearTransfers();
  ASSERT_EQ(Fp().EnablePanelLinkModuleOutput(h, 0), 0u);
  EXPECT_EQ(WritesOf(chip).front(), (std::pair<int, int>{8, 0xF8}));
}

// Without a version the one-byte module is switched: on writes 0xFB, then
// 0xBB or 0xEB by its bit 5; off writes 0xFF.
TEST_F(Companions, PanelLinkModuleOutput) {
  auto& module = OnPort1<orvsim::OneByteModule>(0x44, 0x00);
  SetAddOn(h, kAddOnPanelLinkAddress, 0x44);
  module.SetInputBits(0x20, 0x20);
  ASSERT_EQ(Fp().EnablePanelLinkModuleOutput(h, 1), 0u);
  module.SetInputBits(0x20, 0x00);
  ASSERT_EQ(Fp().EnablePanelLinkModuleOutput(h, 1), 0u);
  ASSERT_EQ(Fp().EnablePanelLinkModuleOutput(h, 0), 0u);
  EXPECT_EQ(module.Writes(), (std::vector<uint8_t>{0xFB, 0xBB, 0xFB, 0xEB, 0xFF}));

  struct Case {
    uint8_t byte;
    uint32_t state;
  } cases[] = {{0x40, 1}, {0x50, 0}, {0x00, 0}, {0xEB, 1}};
  for (const Case& c : cases) {
    ASSERT_EQ(Fp().WritePanelLinkModuleRegister(h, c.byte), 0u);
    uint32_t state = 9;
    ASSERT_EQ(Fp().GetPanelLinkModuleOutputState(h, &state), 0u);
    EXPECT_EQ(state, c.state) << int(c.byte);
  }
}

// A module that does not answer reads 0 and sets no error.
TEST_F(Companions, MissingModuleReadsZero) {
  SetAddOn(h, kAddOnPanelLinkAddress, 0x4C);
  uint8_t v = 0x77;
  EXPECT_EQ(Fp().ReadPanelLinkModuleRegister(h, &v), 0u);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(Fp().WritePanelLinkModuleRegister(h, 0x12), 0u);
}

TEST_F(Companions, PanelLinkRegistersVersionAndHotPlug) {
  auto& chip = OnPort1<orvsim::TransmitterChip>(0x76);
  SetAddOn(h, kAddOnPanelLinkAddress, 0x76);
  for (uint8_t i = 0; i < 4; ++i) chip.SetRegister(i, static_cast<uint8_t>(0x10 + i));
  uint32_t version = 0;
  ASSERT_EQ(Fp().GetSIPanelLinkVersion(h, 1, &version), 0u);
  EXPECT_EQ(version, 0x13121110u);

  chip.SetRegister(9, 0xFF);
  ASSERT_EQ(Fp().EnableSIPanelLinkHotPlug(h, 1), 0u);
  EXPECT_EQ(chip.Register(9), 0x9F);
  ASSERT_EQ(Fp().EnableSIPanelLinkHotPlug(h, 0), 0u);
  EXPECT_EQ(chip.Register(9), 0x8F);

  struct Case {
    uint8_t reg9;
    uint32_t status;
    Writes writes;
  } cases[] = {{0x02, 3, {{9, 0x03}}}, {0x00, 2, {{9, 0x01}}}, {0x03, 1, {}}, {0x01, 0, {}}};
  for (const Case& c : cases) {
    chip.SetRegister(9, c.reg9);
    chip.ClearTransfers();
    uint32_t status = 9;
    ASSERT_EQ(Fp().GetSIPanelLinkHotPlugStatus(h, &status), 0u);
    EXPECT_EQ(status, c.status) << int(c.reg9);
    EXPECT_EQ(WritesOf(chip), c.writes) << int(c.reg9);
  }

  SetAddOn(h, kAddOnPanelLinkAddress, 0x72);
  uint8_t v = 0;
  EXPECT_EQ(Fp().ReadSIPanelLinkRegister(h, 1, 9, &v), kErrPanelLinkRead);
  h->status = 0;
  EXPECT_EQ(Fp().WriteSIPanelLinkRegister(h, 1, 9, 0), kErrPanelLinkWrite);
}

// ---- Feature connector ------------------------------------------------------------------------

class FeatureConnector : public Companions {
 protected:
  FeatureConnector()
      : Companions(kDeviceKestrionNext2, orvsim::kDacMinimumWindow), dac(Board(), &Raster()) {}
  orvsim::ChipDac dac;
};

TEST_F(FeatureConnector, OnClearsBitOneOffSetsBitsOneAndTwo) {
  dac.SetReg(kDacOutputCtl, 0x0F);
  ASSERT_EQ(Fp().FlatEnableVFCI(h, 1), 0u);
  EXPECT_EQ(dac.Reg(kDacOutputCtl), 0x0D);
  dac.SetReg(kDacOutputCtl, 0x01);
  ASSERT_EQ(Fp().FlatEnableVFCI(h, 0), 0u);
  EXPECT_EQ(dac.Reg(kDacOutputCtl), 0x07);
}

// ---- AV9110 -------------------------------------------------------------------------------------

// The 24-bit word goes out lowest bit first on bit 2 of the module byte,
// each bit clocked by bit 7; the module's other kept bits stay.
TEST_F(Companions, Av9110SerialLoad) {
  auto& module = OnPort1<orvsim::OneByteModule>(0x44, 0xFF);
  SetAddOn(h, kAddOnPanelLinkAddress, 0x44);
  ASSERT_EQ(HSLAV9110SetPixelPLL(h, 65000), 0u);
  const std::vector<uint8_t>& w = module.Writes();
  ASSERT_EQ(w.size(), 1u + 3 * 24 + 1);
  EXPECT_EQ(w.front(), 0x73);
  uint32_t word = 0;
  for (unsigned i = 0; i < 24; ++i) {
    const uint8_t b = w[1 + 3 * i];
    EXPECT_EQ(b & ~0x04, 0x73) << i;
    EXPECT_EQ(w[2 + 3 * i], b | 0x80) << i;
    EXPECT_EQ(w[3 + 3 * i], b) << i;
    word |= uint32_t((b >> 2) & 1) << i;
  }
  EXPECT_EQ(word, 0xBA86F6u);
  EXPECT_EQ(w.back(), 0xFB);

  EXPECT_EQ(HSLAV9110SetPixelPLL(h, 0), kErrAv9110Clock);
  EXPECT_EQ(module.Writes().size(), 1u + 3 * 24 + 1);
}

// ---- Fan controller -------------------------------------------------------------------------------

TEST_F(Companions, FanControllerDetect) {
  auto& fan = OnPort1<orvsim::FanChip>();
  uint32_t present = 9;
  ASSERT_EQ(HSLPWMTC664Detect(h, 0, &present), 0u);
  EXPECT_EQ(present, 1u);
  fan.SetRegister(7, 0x33);
  ASSERT_EQ(HSLPWMTC664Detect(h, 0, &present), 0u);
  EXPECT_EQ(present, 0u);
  // Nothing on port 16: a failed read answers "absent" with the status clear.
  hw.Chip();
  present = 9;
  EXPECT_EQ(HSLPWMTC664Detect(h, 1, &present), 0u);
  EXPECT_EQ(present, 0u);
  EXPECT_EQ(h->status, 0u);
}

TEST_F(Companions, FanPowerSequences) {
  auto& fan = OnPort1<orvsim::FanChip>();
  ASSERT_EQ(HSLPWMInit(h, 0), 0u);
  const Writes init = {{6, 0x0F}, {2, 0x3C}, {4, 0xA4}, {4, 0x24}};
  EXPECT_EQ(WritesOf(fan), init);
  fan.ClearTransfers();
  ASSERT_EQ(HSLPWMPowerDown(h, 0), 0u);
  EXPECT_EQ(WritesOf(fan), (Writes{{4, 0x25}, {4, 0xA5}, {4, 0x25}}));
  fan.ClearTransfers();
  ASSERT_EQ(HSLPWMPowerUp(h, 0), 0u);
  Writes up = {{4, 0x24}};
  up.insert(up.end(), init.begin(), init.end());
  EXPECT_EQ(WritesOf(fan), up);
}

// ---- Audio processor ----------------------------------------------------------------------------

TEST_F(Companions, AudioVersionWordsAndReset) {
  auto& msp = OnPort1<orvsim::MspAudio>(0x80, 0x0A0B, 0x0C0D);
  uint32_t version = 9;
  ASSERT_EQ(HSLMSPI2CGetVersion(h, 0x80, &version), 0u);
  EXPECT_EQ(version, 0x0A0B0C0Du);
  ASSERT_EQ(HSLMSPI2CGetVersion(h, 0x84, &version), 0u);
  EXPECT_EQ(version, 0u);

  SetAddOn(h, kAddOnMspAddress, 0x80);
  ASSERT_EQ(HSLMSPI2CWriteWord(h, 0x1234, 0xBEEF), 0u);
  EXPECT_EQ(msp.Writes(), (std::vector<orvsim::MspAudio::Write>{{0x1234, 0xBEEF}}));
  ASSERT_EQ(HSLMSPI2CSoftReset(h), 0u);
  EXPECT_EQ(msp.Controls(), (std::vector<uint16_t>{0x8000, 0x0000}));

  SetAddOn(h, kAddOnMspAddress, 0x88);
  EXPECT_EQ(HSLMSPI2CWriteWord(h, 0x1234, 0), kErrMspWrite);
  h->status = 0;
  EXPECT_EQ(HSLMSPI2CSoftReset(h), kErrMspReset);
}

TEST_F(Companions, AudioPassThroughSettings) {
  auto& msp = OnPort1<orvsim::MspAudio>(0x84);
  SetAddOn(h, kAddOnMspAddress, 0x84);
  using Words = std::vector<orvsim::MspAudio::Write>;
  ASSERT_EQ(HSLMSPSetAudioPassThroughMode(h), 0u);
  EXPECT_EQ(msp.Writes(), (Words{{0x000A, 0x0220}, {0x000D, 0x1900}, {0x0007, 0x7301}, {0x0013, 0x0C00}}));
  ASSERT_EQ(HSLMSPSetAudioPassThroughModeForBreakOutBox(h), 0u);
  EXPECT_EQ(Words(msp.Writes().begin() + 4, msp.Writes().end()),
            (Words{{0x0007, 0x0001}, {0x000D, 0x1900}, {0x0013, 0x0400}, {0x0008, 0x0220}, {0x0000, 0x7300}}));
  EXPECT_EQ(msp.Controls(), (std::vector<uint16_t>{0x8000, 0x0000, 0x8000, 0x0000}));
}

}  // namespace
