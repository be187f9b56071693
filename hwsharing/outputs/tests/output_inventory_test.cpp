// The output inventory (the hardware output table and the get-output-info
// answer), the link flags of outputs that move together, the cable table's
// capabilities and completions, and the expansion module's expander lines.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/outputs/cables.h"
#include "hwsharing/outputs/cem_miscio.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/outputs/output_links.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/companion_chips.h"
#include "platform/board/ddc_devices.h"

namespace {

// A standard board without companion chips, cables or monitors; the tests
// put what they need into the handle.
class Outputs : public hwtest::ChipTest {
 protected:
  Outputs() {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(h->aFpga, 0, sizeof(h->aFpga));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    std::memset(h->aCableInfo, 0, sizeof(h->aCableInfo));
    std::memset(h->aMonitorInfo, 0, sizeof(h->aMonitorInfo));
    for (uint32_t& f : h->aulDigitalOutputFormat) f = 0;
    h->ulOutputCaps = 0;
    h->ulFeatures = 0;
    h->usDeviceId = kDeviceKestrionNext2;
    h->status = 0;
  }
  // A cable with analog capability and a present analog monitor.
  void Analog(uint32_t k) {
    h->aCableInfo[k].ulCaps |= kCableCapAnalog;
    h->aMonitorInfo[k].flMonitor |= kMonitorPresent;
  }
  void Digital(uint32_t k) {
    h->aCableInfo[k].ulCaps |= kCableCapDigital | kCableCapAnalog;
    h->aMonitorInfo[k].flMonitor |= kMonitorPresent | kMonitorDigital;
  }
  void Board(uint32_t type, bool multiOutput = true) {
    h->oCem.ulPresent = multiOutput ? 1 : 0;
    h->oCem.ulBoardType = type;
  }
  std::vector<int32_t> Controllers() {
    std::vector<int32_t> out;
    for (const HWOUTPUTENTRY& e : h->aHwOutput) out.push_back(e.lController);
    return out;
  }
  OUTPUTINFO Info(uint32_t mask) {
    OUTPUTINFO info;
    std::memset(&info, 0xAB, sizeof(info));
    HSLKSTGetOutputInfo(h, &info, mask);
    return info;
  }
};

// ---- Get output info -------------------------------------------------------------------------

TEST_F(Outputs, RequestedOutputsWithoutCablesAreLeftOutWithAWarning) {
  Analog(0);
  Analog(1);
  const OUTPUTINFO info = Info(0xF);
  EXPECT_EQ(h->status, kWarnOutputsMissing);
  EXPECT_EQ(info.ulCount, 2u);
  EXPECT_EQ(std::vector<int32_t>(info.alOutput, info.alOutput + 4), (std::vector<int32_t>{0, 1, -1, -1}));
  EXPECT_EQ(std::vector<uint32_t>(info.aulCaps, info.aulCaps + 4), (std::vector<uint32_t>{2, 2, 0, 0}));
  // Both on one module (controllers 0 and 1 of a first-arrangement-free
  // board are modules 0 and 1): no video-parameter link.
  EXPECT_EQ(info.oVideoParameters.ulCount, 0u);
  // Asking for what exists is no warning; bits above output 3 are.
  h->status = 0;
  Info(0x3);
  EXPECT_EQ(h->status, 0u);
  Info(0x13);
  EXPECT_EQ(h->status, kWarnOutputsMissing);
}

TEST_F(Outputs, BoardsOfType3TakeTheEntriesInReverseWithTheirDvosInverted) {
  Board(3);  // a quad board
  for (uint32_t k = 0; k < 4; ++k) Digital(k);
  h->aCableInfo[3].ulCaps = kCableCapTv;  // output 0 is answered from entry 3
  uint32_t indices[4];
  HSLKSTGetHwOutputIndices(h, indices);
  EXPECT_EQ(std::vector<uint32_t>(indices, indices + 4), (std::vector<uint32_t>{3, 2, 1, 0}));
  const OUTPUTINFO info = Info(0x1);
  EXPECT_EQ(info.ulCount, 1u);
  EXPECT_EQ(info.aulCaps[0], kHwCapTv);
  EXPECT_EQ(h->aHwOutput[0].lDvo, 1);
  EXPECT_EQ(h->aHwOutput[1].lDvo, 1);
  EXPECT_EQ(h->aHwOutput[2].lDvo, 0);
  EXPECT_EQ(h->aHwOutput[3].lDvo, 0);
  // Another quad type keeps the table order and the DVOs.
  Board(2);
  uint32_t plain[4];
  HSLKSTGetHwOutputIndices(h, plain);
  EXPECT_EQ(plain[0], 0u);
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aHwOutput[0].lDvo, 0);
  EXPECT_EQ(h->aHwOutput[3].lDvo, 1);
}

TEST_F(Outputs, ControllerTables) {
  struct Case {
    const char* name;
    uint32_t type;
    bool multiOutput;
    uint16_t moduleCode;
    uint32_t outputs;  // usable outputs 0..n-1
    std::vector<int32_t> controllers;
  } cases[] = {
      {"standard, two used", 0, false, 0, 2, {0, 1, -1, -1}},
      {"standard, three used", 0, false, 0, 3, {0, 3, 2, -1}},
      {"standard type 20, three used", 20, false, 0, 3, {0, 3, 1, -1}},
      {"standard, four used", 0, false, 0, 4, {0, 3, 2, 1}},
      {"quad", 2, true, 0, 4, {0, 0, 1, 1}},
      {"type 13, any module", 13, true, 37, 4, {0, 0, 1, 1}},
      {"type 14 wired", 14, true, 0, 4, {0, 1, -1, -1}},
      {"twin", 10, true, 0, 4, {0, 1, 3, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(h->aCableInfo, 0, sizeof(h->aCableInfo));
    Board(c.type, c.multiOutput);
    h->oCem.usModuleCode = c.moduleCode;
    for (uint32_t k = 0; k < c.outputs; ++k) Analog(k);
    HSLKSTGetDefaultAllHwOutputInfo(h);
    EXPECT_EQ(Controllers(), c.controllers);
  }
}

TEST_F(Outputs, TwoEncodersServeDigitalOutputs0And1AndBoth2And3) {
  h->aChrontel[0].ulPresent = 1;
  h->aChrontel[1].ulPresent = 1;
  Analog(0);
  Digital(1);
  Analog(2);
  Analog(3);
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aHwOutput[0].lEncoder, -1) << "an analog display on output 0";
  EXPECT_EQ(h->aHwOutput[1].lEncoder, 1);
  EXPECT_EQ(h->aHwOutput[2].lEncoder, 0);
  EXPECT_EQ(h->aHwOutput[3].lEncoder, 1);
  EXPECT_EQ(h->aHwOutput[0].lDac, 0);
  EXPECT_EQ(h->aHwOutput[1].lDac, -1) << "a digital display on output 1";
  EXPECT_EQ(h->aHwOutput[1].lDvo, 1);
  // Encoders 0 and 2 present make no usable pair: nobody gets one.
  h->aChrontel[1].ulPresent = 0;
  h->aChrontel[2].ulPresent = 1;
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aHwOutput[2].lEncoder, 0);
  EXPECT_EQ(h->aHwOutput[3].lEncoder, -1) << "encoder 1's record is not present";
}

TEST_F(Outputs, DualLinkFormatMergesTheSecondOutputAway) {
  Digital(0);
  Analog(1);
  h->aulDigitalOutputFormat[0] = 3;
  h->ulOutputCaps = 0x200000;  // output 1 has its digital output
  const OUTPUTINFO info = Info(0x3);
  EXPECT_EQ(info.ulCount, 1u);
  EXPECT_EQ(info.alOutput[0], 0);
  EXPECT_EQ(h->status, kWarnOutputsMissing);
  EXPECT_EQ(h->aHwOutput[1].ulUsable, 0u);
  EXPECT_EQ(h->aHwOutput[0].alTransmitter[0], 0) << "entry 1's pair base";
  // Without output 1's digital output the format joins nothing.
  h->status = 0;
  h->ulOutputCaps = 0;
  EXPECT_EQ(Info(0x3).ulCount, 2u);
  // Format 18 on the second pair with both transmitters found: entry 2's
  // list gets entry 3's pair base (2) and then entry 3's own transmitter.
  h->status = 0;
  Digital(2);
  Analog(3);
  h->aulDigitalOutputFormat[2] = 18;
  h->ulOutputCaps = 0x4 | 0x20;
  h->ulFeatures = kAddOnTransmitter2 | kAddOnTransmitter3;
  for (I2CDEVICE& t : h->aSiI164) t.ulPresent = 1;
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aHwOutput[3].ulUsable, 0u);
  EXPECT_EQ(h->aHwOutput[2].alTransmitter[0], 2);
  EXPECT_EQ(h->aHwOutput[2].alTransmitter[1], 3);
  EXPECT_EQ(h->aHwOutput[2].ulTransmitterPairBase, 2u);
}

TEST_F(Outputs, QuadDualLayoutWithADigitalMonitorLosesOutputs2And3) {
  const uint8_t codes[8] = {6, 7, 0, 0, 0x09, 0x09, 0, 0};
  std::memcpy(h->oPins.aucData + 144, codes, sizeof(codes));
  Digital(0);
  for (uint32_t k = 1; k < 4; ++k) Analog(k);
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aHwOutput[2].ulUsable, 0u);
  EXPECT_EQ(h->aHwOutput[3].ulUsable, 0u);
  // An analog monitor on output 0 keeps them.
  h->aMonitorInfo[0].flMonitor = kMonitorPresent;
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aHwOutput[2].ulUsable, 1u);
}

TEST_F(Outputs, DefaultModeTypeTakesTheKindOfTheEntry) {
  struct Case {
    uint32_t entry, type, caps, word;
  } cases[] = {
      {2, kHwTypeDigital, kHwCapDigital, 0x80000000},
      {0, kHwTypeNone, 0, 0x1000000},
      {1, kHwTypeTv, kHwCapTv, 0x4000000},
      {3, kHwTypeFourth, kHwCapFourth, 0x8000},
      {0, kHwTypeDigital, kHwCapAnalog, 0x1000000},  // digital type, analog cable
  };
  for (const Case& c : cases) {
    h->aHwOutput[c.entry].ulDetectedType = c.type;
    h->aHwOutput[c.entry].ulCaps = c.caps;
    uint32_t word = 0x1;
    HSLKSTGetDefaultModeType(h, c.entry, &word);
    EXPECT_EQ(word, c.word | 0x1) << c.entry << " type " << c.type;
  }
}

// ---- Link flags ------------------------------------------------------------------------------

TEST_F(Outputs, LinkKeyListTakesFourDistinctNonZeroKeys) {
  uint32_t list[4] = {};
  uint32_t count = 0;
  for (uint32_t key : {3u, 0u, 3u, 5u, 12u, 1u, 2u}) HSLKSTAddOutputLinkFlags(h, list, &count, key);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(std::vector<uint32_t>(list, list + 4), (std::vector<uint32_t>{3, 5, 12, 1}));
}

TEST_F(Outputs, LinksFollowTheFpgaAndTheModule) {
  for (uint32_t k = 0; k < 4; ++k) h->aHwOutput[k].ulUsable = 1;
  for (uint32_t& cancel : h->aulHwOutputLinkCancel) cancel = 0;
  const int32_t fpga[4] = {0, 0, 1, -1};
  const int32_t controller[4] = {0, 2, 1, 3};
  for (uint32_t k = 0; k < 4; ++k) {
    h->aHwOutput[k].lFpga = fpga[k];
    h->aHwOutput[k].lController = controller[k];
  }
  uint32_t links = 99;
  HSLKSTGetOutputDisplayStartYLinkFlags(h, 0, 0xF, &links);
  EXPECT_EQ(links, 0x3u);
  HSLKSTGetOutputDisplayStartXLinkFlags(h, 0, 0xF, &links);
  EXPECT_EQ(links, 0x3u);
  HSLKSTGetOutputDisplayStartYLinkFlags(h, 0, 0xD, &links);
  EXPECT_EQ(links, 0u) << "output 1 not requested: no link, not even output 0's own bit";
  HSLKSTGetOutputDisplayStartYLinkFlags(h, 2, 0xF, &links);
  EXPECT_EQ(links, 0u);
  h->aHwOutput[1].ulUsable = 0;
  HSLKSTGetOutputDisplayStartYLinkFlags(h, 0, 0xF, &links);
  EXPECT_EQ(links, 0u) << "output 1 not in use";
  h->aHwOutput[1].ulUsable = 1;
  // Modules: controllers 0 and 2 are module 0, 1 and 3 module 1.
  HSLKSTGetOutputVidParmLinkFlags(h, 0, 0xF, &links);
  EXPECT_EQ(links, 0x3u);
  HSLKSTGetOutputVidParmLinkFlags(h, 2, 0xF, &links);
  EXPECT_EQ(links, 0xCu);
  // The first chips of the family change every controller together.
  h->usDeviceId = kDeviceKestrion2;
  HSLKSTGetOutputVidParmLinkFlags(h, 2, 0xF, &links);
  EXPECT_EQ(links, 0xFu);
}

TEST_F(Outputs, ModuleControlByteAbove9CancelsHorizontalLinksOfOutputs1And3) {
  Board(2);
  for (uint32_t k = 0; k < 4; ++k) Digital(k);
  h->aFpga[0].ulPresent = 1;
  h->aFpga[1].ulPresent = 1;
  h->oCem.usControlByte = 0x8A;  // low seven bits 10
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(std::vector<uint32_t>(h->aulHwOutputLinkCancel, h->aulHwOutputLinkCancel + 4),
            (std::vector<uint32_t>{0, 1, 0, 1}));
  EXPECT_EQ(h->aHwOutput[0].lFpga, 0);
  EXPECT_EQ(h->aHwOutput[1].lFpga, 0);
  uint32_t x = 0, y = 0;
  HSLKSTGetOutputDisplayStartXLinkFlags(h, 1, 0xF, &x);
  HSLKSTGetOutputDisplayStartYLinkFlags(h, 1, 0xF, &y);
  EXPECT_EQ(y, 0x3u);
  EXPECT_EQ(x & 0x1u, 0u) << "output 0 does not pan with output 1 horizontally";
  const OUTPUTINFO info = Info(0xF);
  EXPECT_EQ(info.ulCount, 4u);
  EXPECT_EQ(info.oDisplayStartY.ulCount, 2u);
  EXPECT_EQ(info.oDisplayStartY.aulMask[0], 0x3u);
  EXPECT_EQ(info.oDisplayStartY.aulMask[1], 0xCu);
  h->oCem.usControlByte = 0x09;
  HSLKSTGetDefaultAllHwOutputInfo(h);
  EXPECT_EQ(h->aulHwOutputLinkCancel[1], 0u);
}

// ---- Cables ----------------------------------------------------------------------------------

TEST_F(Outputs, ConnectorWithoutRequestBitsKeepsTheDefaultCable) {
  h->ulOutputCaps = (1u << 2) | (1u << 0);  // Q and S of connector 0
  ASSERT_EQ(HSLKSTGetAllCableInfo(h), 0u);
  for (uint32_t c = 0; c < 4; ++c) EXPECT_EQ(h->aCableInfo[c].ucCableType, kCableDefault) << c;
  EXPECT_EQ(h->aCableInfo[0].ulCaps, 3u);
  EXPECT_EQ(h->aCableInfo[1].ulCaps, 0u);
}

// An LFH-60 breakout joins the DDC lines of the connector pair: port 0
// alone is a TV cable of unknown signal (9), ports 0 and 5 together type 5.
TEST_F(Outputs, Lfh60CableByItsTiedDdcLines) {
  h->oPins.aucData[144] = 6;
  hw.Chip();
  ASSERT_EQ(HSLKSTGetCable(h, 0), 0u);
  EXPECT_EQ(h->aCableInfo[0].ucCableType, kCableDefault) << "nothing tied";
  hw.board().I2c(orvsim::kBusDdcConnector0).Emplace<orvsim::TiedLinesAdaptor>();
  ASSERT_EQ(HSLKSTGetCable(h, 0), 0u);
  EXPECT_EQ(h->aCableInfo[0].ucCableType, kCableTvUnknown);
  hw.board().I2c(orvsim::kBusDdcConnector1).Emplace<orvsim::TiedLinesAdaptor>();
  ASSERT_EQ(HSLKSTGetCable(h, 0), 0u);
  EXPECT_EQ(h->aCableInfo[0].ucCableType, 5);
  // Connector 2 asks ports 17 and 18, which are not tied.
  h->oPins.aucData[146] = 7;
  HSLKSTGetCable(h, 2);
  EXPECT_EQ(h->aCableInfo[2].ucCableType, kCableDefault);
}

TEST_F(Outputs, CableCapabilitiesFromThePQRSFlags) {
  struct Bits {
    uint32_t p, q, r, s;
  } bits[4] = {{6, 2, 10, 0}, {7, 21, 3, 1}, {14, 8, 11, 23}, {15, 9, 12, 24}};
  struct Case {
    uint8_t type;
    char flag;
    uint32_t caps;
  } cases[] = {{1, 'S', 1}, {1, 'Q', 0}, {3, 'Q', 2}, {3, 'S', 1}, {4, 'Q', 2}, {4, 'S', 0},
               {5, 'R', 4}, {6, 'P', 8}, {7, 'R', 4}, {8, 'R', 4}, {9, 'R', 0}, {2, 'S', 0}};
  for (uint32_t c = 0; c < 4; ++c) {
    for (const Case& k : cases) {
      const Bits& b = bits[c];
      const uint32_t bit = k.flag == 'P' ? b.p : k.flag == 'Q' ? b.q : k.flag == 'R' ? b.r : b.s;
      h->ulOutputCaps = 1u << bit;
      h->aCableInfo[c].ucCableType = k.type;
      HSLKSTGetCableOutputCaps(h, c);
      EXPECT_EQ(h->aCableInfo[c].ulCaps, k.caps) << "connector " << c << " type " << int(k.type) << " " << k.flag;
    }
    // Type 6 with P and R: the TV bit and the fourth kind.
    h->ulOutputCaps = (1u << bits[c].p) | (1u << bits[c].r);
    h->aCableInfo[c].ucCableType = 6;
    HSLKSTGetCableOutputCaps(h, c);
    EXPECT_EQ(h->aCableInfo[c].ulCaps, 12u) << c;
  }
  // Connector 1's Q is either bit 21 or bit 5.
  h->ulOutputCaps = 1u << 5;
  h->aCableInfo[1].ucCableType = 4;
  HSLKSTGetCableOutputCaps(h, 1);
  EXPECT_EQ(h->aCableInfo[1].ulCaps, 2u);
}

TEST_F(Outputs, TvCompletionByTheSensedSignal) {
  struct Case {
    uint32_t flags;
    uint8_t type;
  } cases[] = {{0x100, 7}, {0x200, 8}, {0x300, 7}, {0, 9}};
  for (const Case& c : cases) {
    h->aCableInfo[2].ucCableType = kCableTvUnknown;
    h->aMonitorInfo[2].flMonitor = c.flags;
    h->ulOutputCaps = 1u << 11;  // R of connector 2
    HSLKSTCompleteTVCableDetection(h);
    EXPECT_EQ(h->aCableInfo[2].ucCableType, c.type) << c.flags;
    EXPECT_EQ(h->aCableInfo[2].ulCaps, c.type == 9 ? 0u : 4u) << "capabilities computed again";
  }
  // A quad board keeps connector 0's TV cable (connector 3's on type 3).
  Board(2);
  h->aCableInfo[0].ucCableType = kCableTvUnknown;
  h->aMonitorInfo[0].flMonitor = 0x200;
  HSLKSTCompleteTVCableDetection(h);
  EXPECT_EQ(h->ucTvCableType, 8);
}

TEST_F(Outputs, ComboConnectorTakesTwoRecords) {
  h->oPins.aucData[144] = 17;
  auto fill = [&](bool digital0) {
    for (uint32_t k = 0; k < 4; ++k) {
      std::memset(&h->aMonitorInfo[k], 0, sizeof(MONITORINFO));
      h->aMonitorInfo[k].flMonitor = kMonitorPresent;
      h->aMonitorInfo[k].ulMaxPixClock = 1000 + k;  // marks the source record
    }
    if (digital0) h->aMonitorInfo[0].flMonitor |= kMonitorDigital;
  };
  auto sources = [&] {
    std::vector<uint32_t> out;
    for (const MONITORINFO& mi : h->aMonitorInfo) out.push_back(mi.ulMaxPixClock);
    return out;
  };
  fill(true);
  HSLKSTCompleteComboCableDetection(h);
  EXPECT_EQ(sources(), (std::vector<uint32_t>{1000, 1002, 1003, 0}));
  EXPECT_EQ(h->aMonitorInfo[3].flMonitor, 0u);
  fill(false);
  HSLKSTCompleteComboCableDetection(h);
  EXPECT_EQ(sources(), (std::vector<uint32_t>{1001, 1002, 1003, 0}));
  // Without a combo connector the records stay.
  h->oPins.aucData[144] = 0;
  fill(false);
  HSLKSTCompleteComboCableDetection(h);
  EXPECT_EQ(sources(), (std::vector<uint32_t>{1000, 1001, 1002, 1003}));
}

TEST_F(Outputs, QuadDualCompletion) {
  const uint8_t codes[8] = {6, 7, 0, 0, 0x09, 0x09, 0, 0};
  std::memcpy(h->oPins.aucData + 144, codes, sizeof(codes));
  auto fill = [&] {
    for (uint32_t c = 0; c < 4; ++c) {
      h->aCableInfo[c] = CABLEINFO{3, 0x7};
      h->aMonitorInfo[c].flMonitor = 0;
    }
    h->ulOutputCaps = (1u << 2) | (1u << 21) | (1u << 6);
  };
  fill();
  h->aMonitorInfo[2].flMonitor = kMonitorTv;  // not a present monitor
  HSLKSTCompleteQuadDualCableDetection(h);
  for (uint32_t c = 2; c < 4; ++c) {
    EXPECT_EQ(h->aCableInfo[c].ucCableType, 0) << c;
    EXPECT_EQ(h->aCableInfo[c].ulCaps, 0u) << c;
    EXPECT_EQ(h->aMonitorInfo[c].flMonitor, 0u) << c;
  }
  EXPECT_EQ(h->aCableInfo[0].ucCableType, 3);
  fill();
  h->aMonitorInfo[3].flMonitor = kMonitorPresent;
  HSLKSTCompleteQuadDualCableDetection(h);
  for (uint32_t c = 0; c < 4; ++c) {
    EXPECT_EQ(h->aCableInfo[c].ucCableType, 1) << c;
    EXPECT_EQ(h->aCableInfo[c].ulCaps, 0x5u) << c;
  }
  EXPECT_EQ(h->ulOutputCaps, 1u << 6);
  // Another layout is left alone.
  h->oPins.aucData[150] = 1;
  fill();
  HSLKSTCompleteQuadDualCableDetection(h);
  EXPECT_EQ(h->aCableInfo[3].ucCableType, 3);
}

// ---- The TL40 cable code from the encoders' GPIO lines ----------------------------------------

TEST_F(Outputs, Tl40CableCodesFromTheEncoderGpioLines) {
  // Functions 10 and 11 on encoder 0's lines 0 and 1, 12 and 13 on
  // encoder 1's.
  h->oPins.aucData[4] = 0x09;
  h->oPins.aucData[5] = 0x06;
  hwtest::PutPinsDword(h, 424, 0xDCBA);
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x80};
  h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x81};
  orvsim::EncoderChip& e0 = OnPort1<orvsim::EncoderChip>(0xEC, 0x80);
  orvsim::EncoderChip& e1 = OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  struct Row {
    uint32_t code;
    uint8_t type[4];
    bool found;
  } rows[] = {
      {0, {3, 3, 3, 3}, false}, {1, {4, 4, 4, 4}, true},  {2, {3, 3, 3, 3}, true},
      {3, {1, 1, 1, 1}, true},  {4, {3, 3, 3, 3}, true},  {5, {5, 5, 5, 5}, true},
      {6, {9, 9, 9, 9}, true},  {7, {3, 3, 3, 0}, true},  {8, {3, 3, 0, 0}, true},
      {9, {1, 1, 5, 6}, true},  {10, {3, 3, 3, 3}, false}, {15, {3, 3, 3, 3}, false},
  };
  // Every code through the table; every code read from the lines on
  // connector 3, and code 9 on all four (a detection reads four lines over
  // I2C: the rest of the table is not read again).
  for (const Row& r : rows) {
    for (uint32_t c = 0; c < 4; ++c) {
      bool found = !r.found;
      EXPECT_EQ(Tl40CableType(r.code, c, &found), r.type[c]) << "code " << r.code << " connector " << c;
      EXPECT_EQ(found, r.found) << "code " << r.code;
    }
    e0.SetGpioInput(0, (r.code & 1) != 0);
    e0.SetGpioInput(1, (r.code & 2) != 0);
    e1.SetGpioInput(0, (r.code & 4) != 0);
    e1.SetGpioInput(1, (r.code & 8) != 0);
    for (uint32_t c = r.code == 9 ? 0 : 3; c < 4; ++c) {
      uint32_t type = 0, found = 7;
      ASSERT_EQ(HSLKSTDetectTL40Cable(h, c, &type, &found), 0u);
      EXPECT_EQ(type, r.type[c]) << "code " << r.code << " connector " << c;
      EXPECT_EQ(found, r.found ? 1u : 0u) << "code " << r.code;
    }
  }
  // Through the cable table: connector 2 coded as a TL40 connector.
  e0.SetGpioInput(0, true);
  e0.SetGpioInput(1, false);
  e1.SetGpioInput(0, false);
  e1.SetGpioInput(1, true);  // code 9
  h->oPins.aucData[146] = 12;
  HSLKSTGetAllCableInfo(h);
  EXPECT_EQ(h->aCableInfo[2].ucCableType, 5);
  EXPECT_EQ(h->aCableInfo[0].ucCableType, kCableDefault);
}

// ---- Expander lines --------------------------------------------------------------------------

class Expander : public Outputs {
 protected:
  Expander() {
    h->oPins.aucData[4] = 0x0B;  // description 0x60B
    h->oPins.aucData[5] = 0x06;
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 15;
    h->oCem.ulCntlMethod = 2;
    h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
    h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
    f0 = &OnPort1<orvsim::FpgaChip>(0xE0);
    f2 = &OnPort1<orvsim::FpgaChip>(0xE2);
  }
  void Codes(uint32_t word) { hwtest::PutPinsDword(h, kPinsCemMiscIoCodes, word); }
  orvsim::FpgaChip* f0;
  orvsim::FpgaChip* f2;
};

TEST_F(Expander, InitialisationDrivesTheCodedLevels) {
  Codes(0);
  ASSERT_EQ(HSLKstCEMSpInitMiscIO(h), 0u);
  EXPECT_TRUE(f0->Transfers().empty());
  EXPECT_TRUE(f2->Transfers().empty());
  // Line 0 high, line 1 low, line 6 high, line 7 coded with a function.
  f0->SetRegister(8, 0x23);
  f2->SetRegister(8, 0x81);
  Codes(0x31000021);
  ASSERT_EQ(HSLKstCEMSpInitMiscIO(h), 0u);
  EXPECT_EQ(f0->Register(8), 0x13);
  EXPECT_EQ(f2->Register(8), 0xC1);
  // Module kinds 3 and 8 have group 0 on the FPGA at 0xE2.
  f0->SetRegister(8, 0);
  f2->SetRegister(8, 0);
  h->oCem.ulProgMethod = 3;
  HSLKstCEMSpInitMiscIO(h);
  EXPECT_EQ(f2->Register(8), 0x10);
  EXPECT_EQ(f0->Register(8), 0x40);
}

TEST_F(Expander, FunctionOnLine5SetsBit5OfTheGroup1Fpga) {
  Codes(0x00700040);  // function 7 on line 5, function 4 on line 1
  for (uint32_t kind : {0u, 8u}) {
    h->oCem.ulProgMethod = kind;
    f0->SetRegister(8, 0);
    f2->SetRegister(8, 0);
    ASSERT_EQ(HSLKstCEMSpSetMiscIO(h, 7, 1), 0u);
    orvsim::FpgaChip* group1 = kind == 8 ? f0 : f2;
    orvsim::FpgaChip* group0 = kind == 8 ? f2 : f0;
    EXPECT_EQ(group1->Register(8), 0x20) << kind;
    EXPECT_EQ(group0->Register(8), 0) << kind;
    HSLKstCEMSpSetMiscIO(h, 7, 0);
    EXPECT_EQ(group1->Register(8), 0) << kind;
  }
  // A function no line carries drives nothing.
  const size_t before = f0->Transfers().size() + f2->Transfers().size();
  HSLKstCEMSpSetMiscIO(h, 9, 1);
  EXPECT_EQ(f0->Transfers().size() + f2->Transfers().size(), before);
}

TEST_F(Expander, OlderDescriptionsAndMissingFpgasDriveNothing) {
  Codes(0x00000011);
  h->oPins.aucData[4] = 0x0A;  // description 0x60A
  HSLKstCEMSpInitMiscIO(h);
  HSLKstCEMSpSetMiscIO(h, 1, 1);
  EXPECT_TRUE(f0->Transfers().empty());
  // No FPGA record at the group's address: nothing is written and no error
  // is set.
  h->oPins.aucData[4] = 0x0B;
  h->aFpga[0].ulAddress = 0x70;
  h->aFpga[1].ulAddress = 0x72;
  EXPECT_EQ(CemMiscIoFpga(h, 0), kCemNoFpga);
  EXPECT_EQ(HSLKstCEMSpInitMiscIO(h), 0u);
  EXPECT_EQ(HSLKstCEMSpWriteMiscIO(h, 1, 2, 1), 0u);
  EXPECT_TRUE(f0->Transfers().empty());
  EXPECT_TRUE(f2->Transfers().empty());
}

}  // namespace
