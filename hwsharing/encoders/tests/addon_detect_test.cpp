// Detection of the chips on the board's I2C buses, against the simulated
// chips: probe shapes and their ends, where each detector records what it
// found, the flag bits it raises and the errors it leaves behind.
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/client_services.h"
#include "core/regs/dma.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/encoders/addon_detect.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/companion.h"
#include "hwsharing/encoders/flat_panel.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/addon_chips.h"
#include "platform/board/chip_dac.h"
#include "platform/board/companion_chips.h"

namespace {

constexpr uint32_t kRestReads = kProbeRestUnits * kWaitReadsPerUnit;

class AddOnDetect : public hwtest::ChipTest {
 protected:
  explicit AddOnDetect(uint16_t device = kDeviceKestrion2, uint32_t window = 0)
      : ChipTest(device, window) {
    std::memset(h->aucAddOnPresent, 0, sizeof(h->aucAddOnPresent));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(&h->oCfgEeprom, 0, sizeof(h->oCfgEeprom));
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    h->ulFeatures = 0;
    h->ulMspVersion = 0;
    h->ulPanelLinkVersion = 0;
    Port1();
    Port16();
  }
  orvsim::I2cBus& Port16() {
    hw.Chip();
    return hw.board().I2c(orvsim::kBusBoardPort16);
  }
  template <class Chip, class... Args>
  Chip& OnPort16(Args... args) {
    return Port16().Emplace<Chip>(args...);
  }
  // Runs of delay reads as long as a rest at least; the bus's own bit
  // delays are far shorter.
  uint32_t Rests() {
    uint32_t rests = 0, run = 0;
    for (const orvsim::RegAccessRecord& r : hw.board().Log()) {
      if (r.op == orvsim::RegOp::kRead && r.offset == kRegWaitDummy) {
        ++run;
        continue;
      }
      if (run >= kRestReads) ++rests;
      run = 0;
    }
    return rests + (run >= kRestReads ? 1 : 0);
  }
  void LogReads() {
    hw.board().SetLogging(true, true);
    hw.board().ClearLog();
  }
};

// ---- Probe shapes ------------------------------------------------------------------------------

// Each address that does not answer ends with a stop of its own and a rest
// of 500 before the next one.
TEST_F(AddOnDetect, MissingAcknowledgeEndsWithAStopAndARest) {
  auto& bystander = OnPort1<orvsim::CompanionChip>(0x10);
  LogReads();
  uint32_t found = 9;
  ASSERT_EQ(HSLDetectTVTuner(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(bystander.Starts(), 4u);
  EXPECT_EQ(bystander.Stops(), 4u);
  EXPECT_EQ(Rests(), 4u);

  // A tuner at the third address: two rests, then the register probe.
  auto& tuner = OnPort1<orvsim::CompanionChip>(0xC4);
  tuner.SetRegister(0, 0x5A);
  hw.board().ClearLog();
  ASSERT_EQ(HSLDetectTVTuner(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(Rests(), 2u);
  EXPECT_EQ(tuner.Transfers(), (std::vector<orvsim::I2cTransfer>{{false, 0, {}}, {true, 0, {0x5A}}}));
  EXPECT_EQ(AddOn(h, kAddOnTunerAddress), 0xC4);
}

// The address probe reads one byte and writes nothing.
TEST_F(AddOnDetect, AddressProbeOnlyReads) {
  auto& module = OnPort1<orvsim::OneByteModule>(0x74, 0x3C);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectPanelLinkModule(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_TRUE(module.Writes().empty());
  EXPECT_EQ(module.AddressAttempts(), 1u);
  EXPECT_EQ(AddOn(h, kAddOnPanelLinkAddress), 0x74);
  EXPECT_EQ(h->ulFeatures, kAddOnPanelLinkA);
  EXPECT_EQ(h->ulPanelLinkVersion, 0u);
}

// ---- Velan ---------------------------------------------------------------------------------------

TEST_F(AddOnDetect, VelanVersionAfterTheReadAddress) {
  auto& velan = OnPort1<orvsim::VelanEncoder>(0x34, 0xB7);
  SetAddOn(h, kAddOnConfigByte, kAddOnConfigVelanB);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectVelan(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(velan.ReadIndexes(), std::vector<uint8_t>{0xB2});
  EXPECT_EQ(h->ulFeatures, kAddOnVelanB);
  EXPECT_EQ(AddOn(h, kAddOnVelanAddress), 0x34);
  EXPECT_EQ(VelanVersion(h), 0xB7);
}

TEST_F(AddOnDetect, NoVelanClearsBothBitsAndBytes) {
  h->ulFeatures = kAddOnVelan | kAddOnTunerA;
  SetAddOn(h, kAddOnVelanAddress, 0x36);
  SetAddOn(h, kAddOnVelanVersion, 0x11);
  uint32_t found = 9;
  ASSERT_EQ(HSLDetectVelan(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(h->ulFeatures, kAddOnTunerA);
  EXPECT_EQ(AddOn(h, kAddOnVelanAddress), 0);
  EXPECT_EQ(VelanVersion(h), 0);
}

// ---- Video decoder, VB2, MJPEG --------------------------------------------------------------------

// Added from the end of the list forward, each decoder is the first that
// answers.
TEST_F(AddOnDetect, DecoderAddressesAndKinds) {
  struct Case {
    uint8_t address, kind;
  } cases[] = {{0xBA, 1}, {0xB8, 1}, {0xDE, 0}, {0xDC, 1}, {0xDA, 1}, {0xD8, 0}};
  for (const Case& c : cases) {
    auto& decoder = OnPort1<orvsim::CompanionChip>(c.address);
    uint32_t found = 0;
    ASSERT_EQ(HSLDetectVideoDecoder(h, &found), 0u);
    EXPECT_EQ(found, 1u) << int(c.address);
    EXPECT_EQ(AddOn(h, kAddOnDecoderAddress), c.address);
    EXPECT_EQ(AddOn(h, kAddOnDecoderKind), c.kind);
    // Register 0 written alone, then read after a new start.
    ASSERT_EQ(decoder.Transfers().size(), 2u);
    EXPECT_FALSE(decoder.Transfers()[0].read);
    EXPECT_TRUE(decoder.Transfers()[1].read);
  }
}

// The decoder's two bytes decide the VB2 and MJPEG bits.
TEST_F(AddOnDetect, Vb2AndMjpegFromTheDecoderBytes) {
  struct Case {
    uint8_t address, kind, config;
    uint32_t before;
    uint32_t vb2Found, mjpegFound;
    uint32_t after;
  } cases[] = {
      {0, 0, 0, kAddOnVb2Kind1 | kAddOnVb2Kind0 | kAddOnMjpegKind1 | kAddOnMjpegKind0 | kAddOnDvd,
       0, 0, kAddOnDvd},
      {0xD8, 0, 0, 0, 1, 1, kAddOnVb2Kind0 | kAddOnMjpegKind0},
      {0xDA, 1, 0, 0, 1, 1, kAddOnVb2Kind1 | kAddOnMjpegKind1},
      // Kind 1 with configuration bit 2: MJPEG leaves everything as it was.
      {0xDA, 1, kAddOnConfigMjpeg, kAddOnMjpegKind0, 1, 0, kAddOnVb2Kind1 | kAddOnMjpegKind0},
  };
  for (const Case& c : cases) {
    SetAddOn(h, kAddOnDecoderAddress, c.address);
    SetAddOn(h, kAddOnDecoderKind, c.kind);
    SetAddOn(h, kAddOnConfigByte, c.config);
    h->ulFeatures = c.before;
    uint32_t vb2 = 9, mjpeg = 9;
    ASSERT_EQ(HSLDetectVB2(h, &vb2), 0u);
    ASSERT_EQ(HSLDetectMJPEG(h, &mjpeg), 0u);
    EXPECT_EQ(vb2, c.vb2Found) << int(c.address);
    EXPECT_EQ(mjpeg, c.mjpegFound) << int(c.address);
    EXPECT_EQ(h->ulFeatures, c.after) << int(c.address);
  }
}

// ---- Chrontel encoders -------------------------------------------------------------------------

TEST_F(AddOnDetect, FourEncodersPortThenAddress) {
  OnPort16<orvsim::EncoderChip>(0xEA, 0x50);
  OnPort16<orvsim::EncoderChip>(0xEC, 0x3A);
  OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  OnPort1<orvsim::EncoderChip>(0xEC, 0x80);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectChrontel(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  const I2CDEVICE expected[4] = {{1, 1, 0xEC, 0x80}, {1, 1, 0xEA, 0x81}, {1, 16, 0xEC, 0x3A},
                                 {1, 16, 0xEA, 0x50}};
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(h->aChrontel[i].ulPresent, expected[i].ulPresent) << i;
    EXPECT_EQ(h->aChrontel[i].ulPort, expected[i].ulPort) << i;
    EXPECT_EQ(h->aChrontel[i].ulAddress, expected[i].ulAddress) << i;
    EXPECT_EQ(h->aChrontel[i].ulData, expected[i].ulData) << i;
  }
  EXPECT_EQ(h->ulFeatures, kAddOnChrontel0 | kAddOnChrontel1);
  EXPECT_TRUE(ChrontelEncoderFound(h, 0));
  EXPECT_TRUE(ChrontelEncoderFound(h, 1));
}

// Records already present are kept; only free records are filled, so no
// more than four in all.
TEST_F(AddOnDetect, EncodersFillOnlyFreeRecords) {
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x80};
  h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x80};
  h->aChrontel[2] = I2CDEVICE{1, 16, 0xEC, 0x80};
  OnPort16<orvsim::EncoderChip>(0xEA, 0x50);
  OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectChrontel(h, &found), 0u);
  EXPECT_EQ(h->aChrontel[3].ulPort, 1u);
  EXPECT_EQ(h->aChrontel[3].ulData, 0x81u);
  EXPECT_EQ(h->aChrontel[0].ulData, 0x80u);
  EXPECT_EQ(h->ulFeatures, 0u);  // neither encoder 0 nor 1 was found here
}

// On the family's first chip up to revision 1, port 16 runs over GPIO lines
// 1 and 0 (the wires of port 1 on this board) until feature bit 24 is set;
// finding encoder 0 on port 1 sets it, so the rest of the search reaches
// the encoders on the real port 16.
struct EarlyCase {
  const char* name;
  uint8_t revision;
  bool encoderOnPort1;
  std::vector<uint32_t> ports;  // of the records filled
};

void PrintTo(const EarlyCase& c, std::ostream* out) { *out << c.name; }

class EarlyPort16 : public testing::TestWithParam<EarlyCase> {
 protected:
  EarlyPort16() : hw(hwtest::Config(kDeviceKestrion1, GetParam().revision)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    hw.Chip();
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    h->ulFeatures = 0;
  }
  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

TEST_P(EarlyPort16, EncoderZeroMovesPort16OntoTheBoardLines) {
  const EarlyCase& c = GetParam();
  ASSERT_EQ(h->ulRevision, c.revision);
  if (c.encoderOnPort1)
    hw.board().I2c(orvsim::kBusBoardPort1).Emplace<orvsim::EncoderChip>(0xEC, 0x80);
  hw.board().I2c(orvsim::kBusBoardPort16).Emplace<orvsim::EncoderChip>(0xEA, 0x81);
  EXPECT_EQ(Port16OnBoardLines(h), c.revision > 1);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectChrontel(h, &found), 0u);
  std::vector<uint32_t> ports;
  for (const I2CDEVICE& d : h->aChrontel)
    if (d.ulPresent) ports.push_back(d.ulPort);
  EXPECT_EQ(ports, c.ports);
  EXPECT_EQ(ChrontelEncoderFound(h, 0), !c.ports.empty());
  EXPECT_EQ(Port16OnBoardLines(h), c.revision > 1 || c.encoderOnPort1);
}

INSTANTIATE_TEST_SUITE_P(
    Revisions, EarlyPort16,
    testing::Values(EarlyCase{"Rev0EncoderOnPort1", 0, true, {1, 16}},
                    EarlyCase{"Rev0", 0, false, {}}, EarlyCase{"Rev1", 1, false, {}},
                    EarlyCase{"Rev2", 2, false, {16}}),
    [](const testing::TestParamInfo<EarlyCase>& info) { return std::string(info.param.name); });

// ---- Configuration EEPROM ------------------------------------------------------------------------

TEST_F(AddOnDetect, EepromOnPort16First) {
  auto& on1 = OnPort1<orvsim::CompanionChip>(0xA0);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectCfgSEEprom(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->oCfgEeprom.ulPort, 1u);
  EXPECT_EQ(h->oCfgEeprom.ulAddress, 0xA0u);

  auto& on16 = OnPort16<orvsim::CompanionChip>(0xA0);
  on1.ClearTransfers();
  ASSERT_EQ(HSLDetectCfgSEEprom(h, &found), 0u);
  EXPECT_EQ(h->oCfgEeprom.ulPresent, 1u);
  EXPECT_EQ(h->oCfgEeprom.ulPort, 16u);
  EXPECT_EQ(on16.Transfers().size(), 2u);
  EXPECT_TRUE(on1.Transfers().empty());  // the search stopped at port 16
}

TEST_F(AddOnDetect, NoEepromClearsTheRecord) {
  h->oCfgEeprom = I2CDEVICE{1, 16, 0xA0, 0};
  uint32_t found = 9;
  ASSERT_EQ(HSLDetectCfgSEEprom(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(h->oCfgEeprom.ulPresent, 0u);
}

// ---- Silicon Image transmitters ----------------------------------------------------------------

orvsim::TransmitterChip& WithVersion(orvsim::TransmitterChip& chip, uint32_t version) {
  for (uint8_t i = 0; i < 4; ++i) chip.SetRegister(i, static_cast<uint8_t>(version >> (8 * i)));
  return chip;
}

TEST_F(AddOnDetect, TransmittersFillRecordsInPortThenAddressOrder) {
  WithVersion(OnPort16<orvsim::TransmitterChip>(0x72), 0x00020001);
  WithVersion(OnPort1<orvsim::TransmitterChip>(0x76), 0x00010001);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectSIPanelLink(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->aSiI164[0].ulPort, 1u);
  EXPECT_EQ(h->aSiI164[0].ulAddress, 0x76u);
  EXPECT_EQ(h->aSiI164[0].ulData, 0x00010001u);
  EXPECT_EQ(h->aSiI164[1].ulPort, 16u);
  EXPECT_EQ(h->aSiI164[1].ulAddress, 0x72u);
  EXPECT_EQ(h->aSiI164[1].ulData, 0x00020001u);
  EXPECT_EQ(h->aSiI164[2].ulPresent, 0u);
  EXPECT_EQ(h->ulFeatures, kAddOnPanelLinkA | kAddOnPanelLinkB);
  EXPECT_EQ(AddOn(h, kAddOnPanelLinkAddress), 0x72);  // the last that answered
}

// Version 0x40001 is a PanelLink module: a flag by configuration bit 6, the
// version kept, no transmitter record.
TEST_F(AddOnDetect, Version40001IsAPanelLinkModule) {
  WithVersion(OnPort1<orvsim::TransmitterChip>(0x70), kPanelLinkVersion40001);
  SetAddOn(h, kAddOnConfigByte, kAddOnConfigPanelLinkB);
  uint32_t found = 0;
  // The module detector finds no one-byte module and hands over.
  ASSERT_EQ(HSLDetectPanelLinkModule(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->ulFeatures, kAddOnPanelLinkB);
  EXPECT_EQ(h->ulPanelLinkVersion, kPanelLinkVersion40001);
  EXPECT_EQ(h->aSiI164[0].ulPresent, 0u);
  EXPECT_EQ(AddOn(h, kAddOnPanelLinkAddress), 0x70);
}

// ---- Bus faults ------------------------------------------------------------------------------------

// With port 1's clock held low every probe fails on the bus: the decoder,
// Chrontel, EEPROM and transmitter detectors clear the error, the others
// leave it.
TEST_F(AddOnDetect, BusFaultsClearedOnlyByFourDetectors) {
  hw.board().I2c(orvsim::kBusBoardPort1).Scl().SetStuckLow(true);
  hw.board().I2c(orvsim::kBusBoardPort16).Scl().SetStuckLow(true);
  struct Case {
    const char* name;
    HALSTATUS (*detect)(BOARDHANDLE*, uint32_t*);
    bool cleared;
  } cases[] = {
      {"decoder", HSLDetectVideoDecoder, true},   {"chrontel", HSLDetectChrontel, true},
      {"eeprom", HSLDetectCfgSEEprom, true},      {"transmitters", HSLDetectSIPanelLink, true},
      {"velan", HSLDetectVelan, false},           {"tuner", HSLDetectTVTuner, false},
      {"second hd15", HSLDetectSecondHD15, false}, {"panel link module", HSLDetectPanelLinkModule, false},
  };
  for (const Case& c : cases) {
    h->status = 0;
    uint32_t found = 9;
    const HALSTATUS s = c.detect(h, &found);
    EXPECT_EQ(s == 0, c.cleared) << c.name << " " << std::hex << s;
    EXPECT_EQ(found, 0u) << c.name;
  }
}

// ---- DVD decoder ---------------------------------------------------------------------------------

class DvdDetect : public AddOnDetect {
 protected:
  DvdDetect() : AddOnDetect(kDeviceKestrion2, orvsim::kDacMinimumWindow), dac(Board(), &Raster()) {}
  // Byte writes to the two video-port registers, in order.
  std::vector<std::pair<uint32_t, uint32_t>> PortWrites() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const orvsim::RegAccessRecord& r : hw.board().LoggedWrites())
      if (r.offset == 0x3E40 || r.offset == 0x3E43) out.emplace_back(r.offset, r.value);
    return out;
  }
  orvsim::ChipDac dac;
};

TEST_F(DvdDetect, OnlyWithTheConfigurationBit) {
  h->ulFeatures = kAddOnDvdBits | kAddOnVelanA;
  dac.SetDvdDecoder(true);
  uint32_t found = 9;
  ASSERT_EQ(HSLDetectDVD(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(h->ulFeatures, kAddOnVelanA);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

TEST_F(DvdDetect, SequenceWithAndWithoutADecoder) {
  SetAddOn(h, kAddOnConfigByte, kAddOnConfigDvd);
  hw.board().Poke(0x3E40, 1, 0x80);
  hw.board().Poke(0x3E43, 1, 0x0F);
  using Writes = std::vector<std::pair<uint32_t, uint32_t>>;
  const Writes probe = {{0x3E40, 0x81}, {0x3E43, 0x0B}, {0x3E40, 0x80}};

  h->ulFeatures = kAddOnDvd;
  uint32_t found = 9;
  ASSERT_EQ(HSLDetectDVD(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(h->ulFeatures, 0u);
  EXPECT_EQ(PortWrites(), probe);

  hw.board().ClearLog();
  dac.SetDvdDecoder(true);
  ASSERT_EQ(HSLDetectDVD(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->ulFeatures, kAddOnDvd);
  Writes expected = probe;
  expected.insert(expected.end(), {{0x3E40, 0x81}, {0x3E43, 0x4B}, {0x3E43, 0x0B}, {0x3E40, 0x80}});
  EXPECT_EQ(PortWrites(), expected);
}

// ---- The detection entry -----------------------------------------------------------------------

std::vector<int> g_slots;
uint32_t g_found[11];
template <int N>
HALSTATUS Detector(BOARDHANDLE* h, uint32_t* found) {
  g_slots.push_back(N);
  *found = g_found[N];
  return h->status;
}

TEST_F(AddOnDetect, DetectAddOnOrderAndItsConditionalSteps) {
  ADDONFUNCTIONS table = *h->pADDONFunctions;
  table.DetectVelan = Detector<1>;
  table.DetectVideoDecoder = Detector<2>;
  table.DetectPanelLinkModule = Detector<3>;
  table.DetectVB2 = Detector<4>;
  table.DetectMSP = Detector<5>;
  table.DetectDVD = Detector<6>;
  table.DetectMJPEG = Detector<7>;
  table.DetectTVTuner = Detector<8>;
  table.DetectSecondHD15 = Detector<9>;
  table.DetectSIPanelLink = Detector<10>;
  h->pADDONFunctions = &table;
  auto& msp = OnPort1<orvsim::MspAudio>(0x84);
  SetAddOn(h, kAddOnMspAddress, 0x84);

  struct Case {
    const char* name;
    uint32_t decoderFound, mspFound, features;
    std::vector<int> slots;
    std::vector<uint16_t> mspRegisters;  // words written by the pass-through
  } cases[] = {
      {"nothing found", 0, 0, 0, {1, 2, 6, 7, 3, 5, 8}, {}},
      {"decoder", 1, 0, 0, {1, 2, 4, 6, 7, 3, 5, 8}, {}},
      {"audio", 0, 1, 0, {1, 2, 6, 7, 3, 5, 8}, {0x0A, 0x0D, 0x07, 0x13}},
      {"audio with the break-out box", 0, 1, kAddOnVb2Kind1, {1, 2, 6, 7, 3, 5, 8},
       {0x07, 0x0D, 0x13, 0x08, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_slots.clear();
    std::memset(g_found, 0, sizeof(g_found));
    g_found[2] = c.decoderFound;
    g_found[5] = c.mspFound;
    h->ulFeatures = c.features;
    const size_t before = msp.Writes().size();
    ASSERT_EQ(table.DetectAddOn(h), 0u);
    EXPECT_EQ(g_slots, c.slots);
    std::vector<uint16_t> regs;
    for (size_t i = before; i < msp.Writes().size(); ++i) regs.push_back(msp.Writes()[i].reg);
    EXPECT_EQ(regs, c.mspRegisters);
  }
}

// ---- Single-address detectors ------------------------------------------------------------------

TEST_F(AddOnDetect, SecondHd15TunerAndAudio) {
  OnPort1<orvsim::OneByteModule>(0x40);
  OnPort1<orvsim::CompanionChip>(0xC0);
  OnPort1<orvsim::MspAudio>(0x88, 0x0102, 0x0304);
  SetAddOn(h, kAddOnConfigByte, kAddOnConfigTunerB);
  uint32_t found = 0;
  ASSERT_EQ(HSLDetectSecondHD15(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(AddOn(h, kAddOnSecondHd15Address), 0x40);
  ASSERT_EQ(HSLDetectTVTuner(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->ulFeatures, kAddOnSecondHd15 | kAddOnTunerB);
  ASSERT_EQ(HSLDetectMSP(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(AddOn(h, kAddOnMspAddress), 0x88);
  EXPECT_EQ(h->ulMspVersion, 0x01020304u);
}

TEST_F(AddOnDetect, SingleAddressDetectorsClearWhatTheyDoNotFind) {
  h->ulFeatures = kAddOnSecondHd15 | kAddOnTunerA | kAddOnTunerB | kAddOnVelanA;
  SetAddOn(h, kAddOnSecondHd15Address, 0x40);
  SetAddOn(h, kAddOnTunerAddress, 0xC2);
  SetAddOn(h, kAddOnMspAddress, 0x80);
  h->ulMspVersion = 0x1234;
  uint32_t found = 9;
  ASSERT_EQ(HSLDetectSecondHD15(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(HSLDetectTVTuner(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(HSLDetectMSP(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(h->ulFeatures, kAddOnVelanA);
  EXPECT_EQ(AddOn(h, kAddOnSecondHd15Address), 0);
  EXPECT_EQ(AddOn(h, kAddOnTunerAddress), 0);
  EXPECT_EQ(AddOn(h, kAddOnMspAddress), 0);
  EXPECT_EQ(h->ulMspVersion, 0u);
}

// ---- Silicon Image register access ---------------------------------------------------------------

TEST_F(AddOnDetect, SiliconImageRegisters) {
  auto& chip = OnPort16<orvsim::TransmitterChip>(0x72);
  chip.SetRegister(9, 0x44);
  uint8_t v = 0;
  ASSERT_EQ(HSLReadSIRegister(h, 16, 0x72, 9, &v), 0u);
  EXPECT_EQ(v, 0x44);
  ASSERT_EQ(HSLWriteSIRegister(h, 16, 0x72, 10, 0x81), 0u);
  EXPECT_EQ(chip.Register(10), 0x81);
  EXPECT_EQ(HSLReadSIRegister(h, 16, 0x70, 9, &v), kErrSi164Read);
  h->status = 0;
  EXPECT_EQ(HSLWriteSIRegister(h, 1, 0x72, 9, 0), kErrSi164Write);
}

}  // namespace
