// Opening a board: the DVI transmitters and the expansion module found on
// the simulated I2C ports, and the feature word, output-enable word and
// initial digital formats decided from the board description and what was
// found.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/outputs/cem_miscio.h"
#include "hwsharing/tests/chip_fixture.h"
#include "hwsharing/tests/hw_board.h"
#include "platform/board/companion_chips.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kF13 = 1u << 13, kF14 = 1u << 14, kF25 = 1u << 25, kF26 = 1u << 26,
                   kF27 = 1u << 27, kF29 = 1u << 29, kF30 = 1u << 30, kF31 = 1u << 31;

// An opened board with I2C ports 1 and 16 wired and no companion chip
// recorded.
struct Opened {
  explicit Opened(uint16_t device = kDeviceKestrion2, uint8_t revision = 0)
      : hw(hwtest::Config(device, revision)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    hw.Chip();
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    h->ulFeatures = 0;
    hw.board().SetLogging(false, true);
  }
  orvsim::I2cBus& Port(uint32_t port) {
    return hw.board().I2c(port == 16 ? orvsim::kBusBoardPort16 : orvsim::kBusBoardPort1);
  }
  orvsim::TransmitterChip& Transmitter(uint32_t port, uint8_t address, unsigned kind) {
    return Port(port).Emplace<orvsim::TransmitterChip>(address, kind);
  }
  void Connectors(uint8_t b0, uint8_t b1, uint8_t b2 = 0, uint8_t b3 = 0) {
    const uint8_t b[4] = {b0, b1, b2, b3};
    std::memcpy(h->oPins.aucData + kPinsConnectorBytes, b, 4);
  }
  void Version(uint16_t v) {
    h->oPins.aucData[kPinsVersion] = static_cast<uint8_t>(v);
    h->oPins.aucData[kPinsVersion + 1] = static_cast<uint8_t>(v >> 8);
  }

  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

// ---- Feature word, output-enable word and initial formats ------------------------------------

// Description fixtures: connector bytes, option word, version, board type,
// device; transmitters found at 0x76 and 0x72 on port 1 give feature bits
// 13 and 14 (no dual-link probe there).
TEST(AddOnInfo, WordsFromTheDescriptionAndWhatWasFound) {
  struct Row {
    const char* name;
    uint8_t b[4];
    uint32_t option;
    uint16_t version;
    uint16_t device;
    uint8_t revision;
    unsigned transmitters;  // on port 1 at 0x76, 0x72
    uint32_t multi, type;   // multi-output flag and board type of the handle
    uint8_t pinsType;       // board type byte of the description
    uint32_t features, enable;
    uint32_t formats[4];
  };
  constexpr uint16_t k0A42 = kDeviceKestrion2;
  const Row rows[] = {
      {"no connectors: analog 0 and 1", {0, 0, 0, 0}, 0, 0x600, k0A42, 0, 0, 0, 0, 0, kF30 | kF31,
       0x20003, {kNone, kNone, kNone, kNone}},
      {"analog, TV on connector 1, digital without a transmitter", {0x03, 0x05, 0, 0}, 0xBC, 0x600,
       k0A42, 0, 0, 0, 0, 0, kF30 | kF31, 0x2000B, {kNone, kNone, kNone, kNone}},
      {"digital 0 and 1 on a later chip: bit 31", {0x02, 0x02, 0, 0}, 0xBC, 0x600,
       kDeviceKestrionNext2, 0, 2, 0, 0, 0, kF13 | kF14 | kF30 | kF31, 0x80220004, {1, 1, kNone, kNone}},
      {"the same on 0x5D61 revision 1: no bit 31", {0x02, 0x02, 0, 0}, 0xBC, 0x600,
       kDeviceKestrionNext1, 1, 2, 0, 0, 0, kF13 | kF14 | kF30 | kF31, 0x220004, {1, 1, kNone, kNone}},
      {"the same on 0x5D61 revision 2", {0x02, 0x02, 0, 0}, 0xBC, 0x600, kDeviceKestrionNext1, 2, 2,
       0, 0, 0, kF13 | kF14 | kF30 | kF31, 0x80220004, {1, 1, kNone, kNone}},
      {"dual link over two transmitters: both formats", {0x12, 0, 0, 0}, 0xBC, 0x600, k0A42, 0, 2, 0,
       0, 0, kF13 | kF14 | kF30 | kF31, 0x24, {1, 1, kNone, kNone}},
      {"option bit 5 clear drops transmitter 1", {0x02, 0x02, 0, 0}, 0x9C, 0x604, k0A42, 0, 2, 0, 0,
       0, kF13 | kF30 | kF31, 0x4, {1, kNone, kNone, kNone}},
      {"analog variant with feature bit 31", {0x20, 0x20, 0, 0}, 0, 0x600, k0A42, 0, 0, 0, 0, 0,
       kF30 | kF31, 0x18020003, {kNone, kNone, kNone, kNone}},
      {"analog variant with option bit 16 only", {0x20, 0, 0, 0}, 0x10000, 0x609, k0A42, 0, 0, 0, 0,
       0, 0, 0x1, {kNone, kNone, kNone, kNone}},
      {"later description: option bits 9 and 13", {0x01, 0, 0, 0}, 0x2200, 0x609, k0A42, 0, 0, 0, 0,
       0, kF29 | kF31, 0x1, {kNone, kNone, kNone, kNone}},
      {"three connectors on a twin board", {0x01, 0x01, 0x0A, 0x0A}, 0, 0x609, k0A42, 0, 0, 1, 10, 0,
       0, 0x2820103, {kNone, kNone, 1, kNone}},
      {"quad module outputs on all four", {0x80, 0x80, 0x80, 0x80}, 0, 0x609, k0A42, 0, 0, 1, 2, 0, 0,
       0x6121C08, {kNone, kNone, kNone, kNone}},
      {"routed through the module (board type 16)", {0x40, 0x40, 0x40, 0}, 0, 0x609, k0A42, 0, 0, 0,
       0, 16, kF30, 0x60200104, {1, 1, 1, kNone}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Opened b(r.device, r.revision);
    BOARDHANDLE* h = b.h;
    const uint8_t addresses[2] = {0x76, 0x72};
    for (unsigned i = 0; i < r.transmitters; ++i) b.Transmitter(1, addresses[i], 0);
    b.Connectors(r.b[0], r.b[1], r.b[2], r.b[3]);
    hwtest::PutPinsDword(h, kPinsOptionWord, r.option);
    b.Version(r.version);
    h->oPins.aucData[kPinsBoardType] = r.pinsType;
    h->oCem.ulPresent = r.multi;
    h->oCem.ulBoardType = r.type;
    ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
    EXPECT_EQ(h->ulFeatures, r.features);
    EXPECT_EQ(h->ulOutputCaps, r.enable);
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(h->aulDigitalOutputFormat[i], r.formats[i]) << i;
  }
}

// TV output 1 with more than two synthesizers the description leaves to the
// bring-up (frequency and preset 0) gets bit 13; not on 0x0A42 revision 6,
// nor with the quad module's outputs.
TEST(AddOnInfo, TvOutputWithFewConfiguredSynthesizers) {
  struct Row {
    uint16_t device;
    uint8_t revision;
    unsigned unconfigured;  // FS 3, 2, 1 ... cleared
    uint32_t presetOf;      // a preset left on this FS (4: none)
    bool bit13;
  } rows[] = {
      {kDeviceKestrion2, 0, 2, 4, false}, {kDeviceKestrion2, 0, 3, 4, true},
      {kDeviceKestrion2, 0, 3, 1, false}, {kDeviceKestrion2, 6, 3, 4, false},
      {kDeviceKestrionNext2, 0, 4, 4, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << r.device << " rev " << int(r.revision) << " unconfigured "
                                    << r.unconfigured << " preset " << r.presetOf);
    Opened b(r.device, r.revision);
    BOARDHANDLE* h = b.h;
    for (uint32_t fs = 0; fs < 4; ++fs) {
      const bool cleared = fs >= 4 - r.unconfigured;
      hwtest::PutPinsDword(h, 36 + 20 * fs, cleared ? 0 : 100000);
      hwtest::PutPinsDword(h, 40 + 20 * fs, fs == r.presetOf ? 0x1234 : 0);
    }
    b.Connectors(0x01, 0x04);
    ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
    EXPECT_EQ((h->ulOutputCaps & kEnableTvFewClocks) != 0, r.bit13);
    EXPECT_NE(h->ulOutputCaps & kEnableTv1, 0u);
  }
  // The quad module's TV output (bit 20) never counts.
  Opened b;
  BOARDHANDLE* h = b.h;
  b.Version(0x609);
  for (uint32_t fs = 0; fs < 4; ++fs) hwtest::PutPinsDword(h, 36 + 20 * fs, 0), hwtest::PutPinsDword(h, 40 + 20 * fs, 0);
  b.Connectors(0, 0x80);
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 3;
  ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
  EXPECT_EQ(h->ulOutputCaps & (kEnableTv1 | kEnableQuadOutputs | kEnableTvFewClocks),
            kEnableTv1 | kEnableQuadOutputs);
}

// Outputs 2 and 3 of a standard board come from connectors 0 and 1 through
// encoders 0 and 1: the analog companions with the encoder found, the
// digital ones with an encoder of id 0x80.
TEST(AddOnInfo, StandardBoardOutputsTwoAndThreeThroughTheEncoders) {
  Opened b;
  BOARDHANDLE* h = b.h;
  b.Port(1).Emplace<orvsim::EncoderChip>(0xEC, 0x80);
  b.Port(1).Emplace<orvsim::EncoderChip>(0xEA, 0x81);
  b.Connectors(0x88, 0x88);
  ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
  EXPECT_EQ(h->ulFeatures & (kAddOnChrontel0 | kAddOnChrontel1), kAddOnChrontel0 | kAddOnChrontel1);
  // 0, 1 analog; 23, 24 analog 2 and 3; 8 and 14 from encoder 0 (id 0x80)
  // only; connectors 0, 1, 2 and 3 in use.
  EXPECT_EQ(h->ulOutputCaps, 0x1u | 0x2u | (1u << 23) | (1u << 24) | (1u << 8) | (1u << 14) |
                                 (1u << 17) | (1u << 25) | (1u << 26));
  EXPECT_EQ(h->aulDigitalOutputFormat[2], 1u);
  EXPECT_EQ(h->aulDigitalOutputFormat[3], kNone);
}

// Quad boards of the multi-output family get the encoders' TV parameters in
// slot 8; other boards keep theirs.
TEST(AddOnInfo, QuadBoardsTakeTheEncodersTvParameters) {
  Opened b;
  BOARDHANDLE* h = b.h;
  const auto standard = h->oJumpTable.GetTVParameters;
  ASSERT_NE(standard, &HSLCHRGetSDTVModeInfo);
  h->oCem.ulBoardType = 2;
  ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
  EXPECT_EQ(h->oJumpTable.GetTVParameters, standard) << "board type alone: no multi-output flag";
  h->oCem.ulPresent = 1;
  ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
  EXPECT_EQ(h->oJumpTable.GetTVParameters, &HSLCHRGetSDTVModeInfo);
}

// Description option bits clear what was found: the video decoder's bytes
// (bit 6) and the configuration EEPROM's record (bit 7).
TEST(AddOnInfo, OptionBitsForgetTheDecoderAndTheEeprom) {
  Opened b;
  BOARDHANDLE* h = b.h;
  b.Port(1).Emplace<orvsim::CompanionChip>(0xDA);  // a video decoder
  b.Port(16).Emplace<orvsim::CompanionChip>(0xA0);  // the configuration EEPROM
  b.Version(0x604);
  for (uint32_t option : {0xC0u, 0u}) {
    hwtest::PutPinsDword(h, kPinsOptionWord, option);
    ASSERT_EQ(HSLKSTGetAddOnInfo(h), 0u);
    const bool kept = option != 0;
    EXPECT_EQ(AddOn(h, kAddOnDecoderAddress), kept ? 0xDA : 0) << option;
    EXPECT_EQ(AddOn(h, kAddOnDecoderKind), kept ? 1 : 0) << option;
    EXPECT_EQ(h->oCfgEeprom.ulPresent, kept ? 1u : 0u) << option;
    EXPECT_EQ(h->oCfgEeprom.ulAddress, kept ? 0xA0u : 0u) << option;
  }
}

TEST(AddOnInfo, AFailedStatusTouchesNothing) {
  Opened b;
  BOARDHANDLE* h = b.h;
  h->ulFeatures = 0x1234;
  h->ulOutputCaps = 0x5678;
  h->status = 0xb0000001;
  EXPECT_EQ(HSLKSTGetAddOnInfo(h), 0xb0000001u);
  EXPECT_EQ(h->ulFeatures, 0x1234u);
  EXPECT_EQ(h->ulOutputCaps, 0x5678u);
}

// ---- Transmitter detection -----------------------------------------------------------------------

// Port 1 then port 16, on each 0x70, 0x76, 0x72; the kind from registers
// 2, 6 and 7; at most four records, with feature bits 13, 14, 26, 27.
TEST(AddOnInfo, TransmittersRecordedInPortAndAddressOrderWithTheirKinds) {
  Opened b;
  BOARDHANDLE* h = b.h;
  b.Transmitter(1, 0x72, 3);
  b.Transmitter(1, 0x76, 1);
  b.Transmitter(16, 0x70, 2);
  b.Transmitter(16, 0x76, 0);
  auto& fifth = b.Transmitter(16, 0x72, 1);
  h->aSiI164[3] = I2CDEVICE{1, 9, 0x99, 9};  // replaced
  uint32_t found = 0;
  ASSERT_EQ(HSLKSTDetectSiliconImage(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  const I2CDEVICE expected[4] = {{1, 1, 0x76, 1}, {1, 1, 0x72, 3}, {1, 16, 0x70, 2}, {1, 16, 0x76, 0}};
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(h->aSiI164[i].ulPresent, expected[i].ulPresent) << i;
    EXPECT_EQ(h->aSiI164[i].ulPort, expected[i].ulPort) << i;
    EXPECT_EQ(h->aSiI164[i].ulAddress, expected[i].ulAddress) << i;
    EXPECT_EQ(h->aSiI164[i].ulData, expected[i].ulData) << i;
  }
  EXPECT_EQ(h->ulFeatures, kF13 | kF14 | kF26 | kF27);
  EXPECT_TRUE(fifth.Transfers().empty()) << "four recorded: the search ends";
}

TEST(AddOnInfo, NoTransmitterLeavesTheStatusAndTheRecordsClear) {
  Opened b;
  BOARDHANDLE* h = b.h;
  h->aSiI164[0] = I2CDEVICE{1, 1, 0x70, 0};
  uint32_t found = 7;
  EXPECT_EQ(HSLKSTDetectSiliconImage(h, &found), 0u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(h->aSiI164[0].ulPresent, 0u);
  EXPECT_EQ(h->ulFeatures, 0u);
}

// A kind 0 or 1 transmitter at 0x70 is probed for dual link: register 8
// with bit 2 cleared and output 0's dual-link line driven, both undone
// after the port; a kind 2 or 3 transmitter is left alone.
TEST(AddOnInfo, DualLinkProbeOfTheTransmitterAt0x70) {
  for (unsigned kind : {0u, 1u, 2u, 3u}) {
    SCOPED_TRACE(kind);
    Opened b;
    BOARDHANDLE* h = b.h;
    // The built-in description's misc-IO line 3 carries the dual-link
    // function.
    uint32_t line = 0, reg = 0, out = 0, in = 0;
    ASSERT_EQ(HSLPIN60GetMISCIORegMasks(h, 6, 0, &line, &reg, &out, &in), 0u);
    ASSERT_NE(out, 0u);
    auto& tx = b.Transmitter(1, 0x70, kind);
    tx.SetRegister(8, 0x3D);
    b.hw.board().ClearLog();
    uint32_t found = 0;
    ASSERT_EQ(HSLKSTDetectSiliconImage(h, &found), 0u);
    EXPECT_EQ(tx.Register(8), 0x3D) << "the value is back";
    const bool probed = kind <= 1;
    const hwtest::RegWrites probe = {{8, 0x39}, {8, 0x3D}};
    EXPECT_EQ(hwtest::WritesOf(tx), probed ? probe : hwtest::RegWrites{});
    // The dual-link line: driven high during the probe, low afterwards.
    std::vector<uint32_t> levels;
    for (uint32_t v : b.hw.WritesTo(reg))
      if (levels.empty() || levels.back() != (v & (out | in))) levels.push_back(v & (out | in));
    if (probed) {
      EXPECT_NE(std::find(levels.begin(), levels.end(), out | in), levels.end());
      ASSERT_FALSE(levels.empty());
      EXPECT_EQ(levels.back(), out);
    } else {
      for (uint32_t level : levels) EXPECT_NE(level, out | in);
    }
  }
}

// When the expansion module carries the dual link (multi-output flag, an
// FPGA, a connector with the dual-link bit), the probe drives the module's
// lines of functions 4 and 5 high and low again instead.
TEST(AddOnInfo, DualLinkProbeThroughTheExpansionModule) {
  Opened b;
  BOARDHANDLE* h = b.h;
  b.Version(0x60B);
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 15;
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  auto& group0 = b.Port(1).Emplace<orvsim::FpgaChip>(0xE0);
  auto& group1 = b.Port(1).Emplace<orvsim::FpgaChip>(0xE2);
  // Function 4 on line 1 (group 0, bit 5), function 5 on line 5 (group 1, bit 5).
  hwtest::PutPinsDword(h, kPinsCemMiscIoCodes, 0x00500040);
  b.Connectors(0x12, 0);
  auto& tx = b.Transmitter(1, 0x70, 1);
  tx.SetRegister(8, 0x3D);
  uint32_t found = 0;
  ASSERT_EQ(HSLKSTDetectSiliconImage(h, &found), 0u);
  const hwtest::RegWrites line = {{8, 0x20}, {8, 0x00}};
  EXPECT_EQ(hwtest::WritesOf(group0), line);
  EXPECT_EQ(hwtest::WritesOf(group1), line);
  EXPECT_EQ(tx.Register(8), 0x3D);
}

// A transmitter that fails its reads is skipped; the status stays clear and
// the next address is tried.
TEST(AddOnInfo, ATransmitterThatFailsIsSkipped) {
  Opened b;
  BOARDHANDLE* h = b.h;
  auto& failing = b.Transmitter(1, 0x70, 0);
  failing.NakAddressOnAttempt(2);  // the second register read
  b.Transmitter(1, 0x76, 2);
  uint32_t found = 0;
  ASSERT_EQ(HSLKSTDetectSiliconImage(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->aSiI164[0].ulAddress, 0x76u);
  EXPECT_EQ(h->aSiI164[0].ulData, 2u);
  EXPECT_EQ(h->aSiI164[1].ulPresent, 0u);
}

// ---- Expansion module --------------------------------------------------------------------------

TEST(AddOnInfo, ExpansionModuleFromTheBoardType) {
  Opened b;
  BOARDHANDLE* h = b.h;
  struct Row {
    uint16_t version;
    uint8_t type;
    uint32_t method;
    uint32_t found, features;
    bool sharedAddress;
  } rows[] = {
      {0x608, 10, 2, 0, 0, false},   // descriptions up to 0x608 have none
      {0x609, 10, 0, 1, kF30, false}, {0x609, 1, 0, 1, kF30, false}, {0x609, 16, 0, 1, kF30, false},
      {0x609, 2, 2, 1, kF25, true},  {0x609, 18, 3, 1, kF25, true},  {0x609, 2, 1, 0, 0, false},
      {0x609, 6, 2, 0, 0, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << r.version << " type " << int(r.type) << " method " << r.method);
    b.Version(r.version);
    h->oPins.aucData[kPinsBoardType] = r.type;
    h->oCem.ulCntlMethod = r.method;
    h->ulFeatures = 0;
    h->aChrontel[0] = I2CDEVICE{};
    h->aChrontel[1] = I2CDEVICE{1, 16, 0xEC, 0x81};
    h->aChrontel[2] = I2CDEVICE{1, 1, 0xEA, 0x80};
    h->aChrontel[3] = I2CDEVICE{};
    uint32_t found = 9;
    ASSERT_EQ(HSLKSTDetectCEM(h, &found), 0u);
    EXPECT_EQ(found, r.found);
    EXPECT_EQ(h->ulFeatures, r.features);
    for (unsigned i = 0; i < 4; ++i) {
      if (r.sharedAddress) {
        // The first present encoder at 0xEA stands for all four.
        EXPECT_EQ(h->aChrontel[i].ulPresent, 1u) << i;
        EXPECT_EQ(h->aChrontel[i].ulPort, 16u) << i;
        EXPECT_EQ(h->aChrontel[i].ulAddress, 0xEAu) << i;
        EXPECT_EQ(h->aChrontel[i].ulData, 0x81u) << i;
      }
    }
    if (!r.sharedAddress) {
      EXPECT_EQ(h->aChrontel[1].ulAddress, 0xECu);
    }
  }
  // No encoder present: the records stay, the module is still found.
  std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
  h->oPins.aucData[kPinsBoardType] = 2;
  h->oCem.ulCntlMethod = 2;
  uint32_t found = 0;
  ASSERT_EQ(HSLKSTDetectCEM(h, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(h->aChrontel[0].ulPresent, 0u);
}

// ---- Initial digital formats --------------------------------------------------------------------

TEST(AddOnInfo, InitialDigitalFormats) {
  Opened b;
  BOARDHANDLE* h = b.h;
  struct Row {
    uint32_t features, enable;
    uint32_t formats[4];
  } rows[] = {
      {0, 0, {kNone, kNone, kNone, kNone}},
      {0, (1u << 2) | (1u << 21) | (1u << 8) | (1u << 9), {1, 1, 1, 1}},
      {kF13 | kF14, (1u << 2) | (1u << 5), {1, 1, kNone, kNone}},
      {kF13, (1u << 2) | (1u << 5), {1, kNone, kNone, kNone}},
      {kF13 | kF14, 1u << 5, {kNone, kNone, kNone, kNone}},
  };
  for (const Row& r : rows) {
    h->ulFeatures = r.features;
    h->ulOutputCaps = r.enable;
    for (uint32_t& f : h->aulDigitalOutputFormat) f = 1;  // from an earlier opening
    ASSERT_EQ(HSLKSTGetInitDigitalOutputFormats(h), 0u);
    for (unsigned i = 0; i < 4; ++i)
      EXPECT_EQ(h->aulDigitalOutputFormat[i], r.formats[i]) << std::hex << r.features << " " << r.enable << " " << i;
  }
}

}  // namespace
