// Monitor records per output on the simulated board: the EDID addresses an
// output's kind asks for, the limits (range descriptor, measured from the
// timings, the real dumps against edid-decode's report), the cross-checks
// between outputs, monitors that answer late, load sensing on the chip's
// DACs and the questions it asks (output in use, sense source).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/client_services.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/load_sense.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/outputs/monitor_info.h"
#include "hwsharing/tests/chip_fixture.h"
#include "hwsharing/tests/edid_fixture.h"
#include "platform/board/chip_dac_sense.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/ddc_devices.h"
#include "tests/standins/standin_log.h"

namespace {

std::vector<uint8_t> Bytes(const hwtest::Edid1& e) { return {e.data(), e.data() + 128}; }

// A valid EDID whose vendor letters tell the parts apart.
std::vector<uint8_t> Monitor(const char* vendor, bool digital = false) {
  hwtest::Edid1 e;
  e.SetVendor(vendor).SetDetailed(0, hwtest::Timing1080p());
  if (digital) e[20] = 0x80;
  e.Seal();
  return Bytes(e);
}

// What the library's EDID read does, replaced by a test: every call is
// logged, and the test's answer is put into the output's record.
struct EdidCall {
  uint32_t output, port, address, attempts, delay;
  uint64_t waitReads;  // reads of the wait register before the call
};
// Reads of the wait register while a test counts them (CountWaits).
uint64_t& WaitReads() {
  static uint64_t reads;
  return reads;
}
std::vector<EdidCall>& Calls() {
  static std::vector<EdidCall> calls;
  return calls;
}
// The address whose read gives a valid EDID (0: none), after how many calls,
// and the status each read merges.
struct EdidScript {
  uint32_t validAt = 0;
  size_t validFromCall = 0;
  HALSTATUS status = 0;
  std::vector<uint8_t> edid;
};
EdidScript& Script() {
  static EdidScript script;
  return script;
}
HALSTATUS ScriptedReadDdcEdid(BOARDHANDLE* h, uint32_t output, uint32_t port, uint32_t address,
                              uint32_t attempts, uint32_t delay) {
  Calls().push_back({output, port, address, attempts, delay, WaitReads()});
  const EdidScript& s = Script();
  if (s.validAt == address && Calls().size() > s.validFromCall && output < 4) {
    MONITORINFO& mi = h->aMonitorInfo[output];
    std::memcpy(mi.aucEdid, s.edid.data(), std::min<size_t>(s.edid.size(), sizeof(mi.aucEdid)));
    mi.flMonitor |= kMonitorPresent | kMonitorEdidValid;
    mi.ulEdidVersion = HALPGetEDIDVersion(mi.aucEdid);
  }
  if (s.status != 0) SetError(h, s.status);
  return h->status;
}

class MonitorInfo : public hwtest::ChipTest {
 protected:
  MonitorInfo() : sense(*hw.AddParts(orvmachine::kDacSense).dacSense) {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(h->aMonitorInfo, 0, sizeof(h->aMonitorInfo));
    std::memset(h->aCableInfo, 0, sizeof(h->aCableInfo));
    hwtest::PutPinsDword(h, kPinsMiscIoMap, 0);  // the default DDC lines
    h->ulOutputCaps = 0x1 | 0x2;
    h->ulBoardFlags &= ~kBoardFlagMonitorsSwapped;
    h->status = 0;
    Calls().clear();
    Script() = EdidScript();
    edid = *h->pEDIDFunctions;
    original = h->pEDIDFunctions;
  }
  ~MonitorInfo() override {
    h->pEDIDFunctions = original;
    hw.board().ClearHooks(kRegWaitDummy);
  }

  // Reads go to ScriptedReadDdcEdid instead of the DDC lines.
  void ScriptReads() {
    edid.ReadDDCEDID = ScriptedReadDdcEdid;
    h->pEDIDFunctions = &edid;
  }
  orvsim::I2cBus& Connector(unsigned c) {
    hw.Chip();
    const unsigned buses[4] = {orvsim::kBusDdcConnector0, orvsim::kBusDdcConnector1,
                               orvsim::kBusDdcConnector2, orvsim::kBusDdcConnector3};
    return hw.board().I2c(buses[c]);
  }
  orvsim::DdcMonitor& Part(unsigned connector, uint8_t address8, std::vector<uint8_t> bytes) {
    return Connector(connector).Emplace<orvsim::DdcMonitor>(std::move(bytes), hw.board().GetClock(),
                                                            static_cast<uint8_t>(address8 >> 1));
  }
  void Record(uint32_t output, const std::vector<uint8_t>& bytes, uint32_t flags = kMonitorPresent | kMonitorEdidValid) {
    MONITORINFO& mi = h->aMonitorInfo[output];
    std::memset(&mi, 0, sizeof(mi));
    std::memcpy(mi.aucEdid, bytes.data(), std::min(bytes.size(), sizeof(mi.aucEdid)));
    mi.flMonitor = flags;
    mi.ulEdidVersion = HALPGetEDIDVersion(mi.aucEdid);
  }
  // Counts the reads of the wait register from now on (WaitUnits).
  void CountWaits() {
    WaitReads() = 0;
    hw.board().SetReadHook(kRegWaitDummy, 4, [](orvsim::Board&, orvsim::RegAccess, uint32_t stored) {
      ++WaitReads();
      return stored;
    });
  }
  static uint64_t WaitUnits() { return WaitReads() / kWaitReadsPerUnit; }

  orvsim::ChipDacSense& sense;  // the machine's
  EDIDFUNCTIONS edid;
  const EDIDFUNCTIONS* original;
};

// ---- EDID addresses --------------------------------------------------------------------------

TEST_F(MonitorInfo, AnalogOutputReadsOnlyTheAnalogPart) {
  orvsim::DdcMonitor& a6 = Part(0, 0xA6, Monitor("DIG", true));
  orvsim::DdcMonitor& a2 = Part(0, 0xA2, Monitor("PAN", true));
  Part(0, 0xA0, Monitor("ANA"));
  ASSERT_EQ(HSLKSTGetMonitorEDID(h, 0), 0u);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorEdidValid, 0u);
  EXPECT_EQ(a6.AddressAttempts(), 0u);
  EXPECT_EQ(a2.AddressAttempts(), 0u);
  EXPECT_EQ(h->aMonitorInfo[0].aucEdid[20] & 0x80, 0) << "the analog part's EDID";
}

TEST_F(MonitorInfo, DigitalCapableOutputStopsAtTheFirstValidEdid) {
  h->ulOutputCaps |= 0x4;  // output 0 may carry a digital monitor
  orvsim::DdcMonitor& a2 = Part(0, 0xA2, Monitor("PAN", true));
  orvsim::DdcMonitor& a0 = Part(0, 0xA0, Monitor("ANA"));
  ASSERT_EQ(HSLKSTGetMonitorEDID(h, 0), 0u);
  EXPECT_EQ(h->aMonitorInfo[0].aucEdid[20], 0x80u) << "the part at 0xA2";
  EXPECT_GT(a2.BytesRead(), 0u);
  EXPECT_EQ(a0.AddressAttempts(), 0u);
  // The order: 0xA6, 0xA2, 0xA0, each on the output's DDC port.
  ScriptReads();
  h->aMonitorInfo[0].flMonitor = 0;
  Script().validAt = 0xA0;
  Script().edid = Monitor("ANA");
  HSLKSTGetMonitorEDID(h, 0);
  ASSERT_EQ(Calls().size(), 3u);
  const uint32_t order[3] = {0xA6, 0xA2, 0xA0};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Calls()[i].address, order[i]);
    EXPECT_EQ(Calls()[i].port, 0u);
    EXPECT_EQ(Calls()[i].attempts, 3u);
  }
}

TEST_F(MonitorInfo, ReadErrorsAreClearedWarningsKept) {
  ScriptReads();
  Script().status = 0x80000777;
  EXPECT_EQ(HSLKSTGetMonitorEDID(h, 1), 0u);
  EXPECT_EQ(h->status, 0u);
  EXPECT_EQ(Calls().at(0).port, 5u) << "output 1's DDC port";
  Script().status = 0x40000777;
  EXPECT_EQ(HSLKSTGetMonitorEDID(h, 1), 0x40000777u);
}

// ---- Limits ----------------------------------------------------------------------------------

TEST_F(MonitorInfo, RangeDescriptorInTheSecondSlot) {
  hwtest::Edid1 e;
  e.SetDetailed(0, hwtest::Timing1080p()).SetRange(1, 48, 75, 31, 92, 16);
  e[21] = 52;
  e[22] = 32;
  e.Seal();
  Record(0, Bytes(e));
  ASSERT_EQ(HSLKSTGetMonitorLimits(h, 0), 0u);
  const MONITORINFO& mi = h->aMonitorInfo[0];
  EXPECT_EQ(mi.ulMaxPixClock, 160000u);
  EXPECT_EQ(mi.ulMinVRate, 48u);
  EXPECT_EQ(mi.ulMaxVRate, 75u);
  EXPECT_EQ(mi.ulMinHRate, 31u);
  EXPECT_EQ(mi.ulMaxHRate, 92u);
  EXPECT_EQ(mi.ulImageWidthMm, 520u);
  EXPECT_EQ(mi.ulImageHeightMm, 320u);
}

TEST_F(MonitorInfo, WithoutRangeDescriptorLimitsComeFromTheTimings) {
  hwtest::Edid1 e;
  e.SetEstablished(0, 0x21);  // 800x600 at 60 Hz (bit 0), 640x480 at 60 Hz (bit 5)
  e.Seal();
  Record(0, Bytes(e));
  HALPGetEdidModes(h, 0);
  h->status = 0;
  ASSERT_EQ(HSLKSTGetMonitorLimits(h, 0), 0u);
  const MONITORINFO& mi = h->aMonitorInfo[0];
  EXPECT_EQ(mi.ulMinVRate, 60u);
  EXPECT_EQ(mi.ulMaxVRate, 60u);
  EXPECT_EQ(mi.ulMinHRate, 31u);
  EXPECT_EQ(mi.ulMaxHRate, 37u);
  EXPECT_EQ(mi.ulMaxPixClock, 40000u);
}

// An EDID 2.0 block's range block: four 10-bit rates (a byte times four
// plus two bits of byte 4) and a 12-bit clock in MHz; the image size in mm,
// big-endian. The map's sections are cut at the block's end, so the range
// block read always lies inside it.
TEST_F(MonitorInfo, Edid2RangeBlock) {
  std::vector<uint8_t> b(256, 0);
  b[0] = 0x20;
  b[114] = 0x01;  // 300 mm
  b[115] = 0x2C;
  b[116] = 0x00;  // 200 mm
  b[117] = 0xC8;
  b[126] = 1u << 2;  // one frequency range, right after the map
  const uint8_t range[8] = {12, 21, 7, 23, 0b10'01'11'01, 0, 0x2C, 0x31};
  std::memcpy(&b[128], range, sizeof(range));
  Record(0, b);
  ASSERT_EQ(HSLKSTGetMonitorLimits(h, 0), 0u);
  const MONITORINFO& mi = h->aMonitorInfo[0];
  EXPECT_EQ(mi.ulMinVRate, 12u * 4 + 1);
  EXPECT_EQ(mi.ulMaxVRate, 21u * 4 + 3);
  EXPECT_EQ(mi.ulMinHRate, 7u * 4 + 1);
  EXPECT_EQ(mi.ulMaxHRate, 23u * 4 + 2);
  EXPECT_EQ(mi.ulMaxPixClock, 0x12Cu * 1000);  // the high nibble of byte 7 is not part of it
  EXPECT_EQ(mi.ulImageWidthMm, 300u);
  EXPECT_EQ(mi.ulImageHeightMm, 200u);
  // Behind the largest luminance table (1 + 31 x 3 bytes) the block sits
  // at byte 222 and is still whole.
  b[128] = 0x80 | 31;
  std::memcpy(&b[222], range, sizeof(range));
  b[126] = 0x20 | (1u << 2);
  Record(0, b);
  HSLKSTGetMonitorLimits(h, 0);
  EXPECT_EQ(h->aMonitorInfo[0].ulMaxPixClock, 0x12Cu * 1000);
  // A map without a frequency range: the limits come from the timings.
  b[126] = 0;
  Record(0, b);
  HSLKSTGetMonitorLimits(h, 0);
  EXPECT_EQ(h->aMonitorInfo[0].ulMaxPixClock, 0u);
  EXPECT_EQ(h->aMonitorInfo[0].ulMinVRate, 0u);
  EXPECT_EQ(h->aMonitorInfo[0].ulImageWidthMm, 300u);
}

// Limits and image size of real monitors, as edid-decode reports them, for
// every dump whose range descriptor carries no rate offsets.
TEST_F(MonitorInfo, RealDumpsAgreeWithEdidDecode) {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  const std::filesystem::path dir = std::filesystem::path(source != nullptr ? source : ".") / "tests/data/edid";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no dumps at " << dir;
  unsigned checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".bin") continue;
    std::ifstream bin(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(bin)), std::istreambuf_iterator<char>());
    std::filesystem::path txtPath = entry.path();
    txtPath.replace_extension(".txt");
    std::ifstream txt(txtPath);
    const std::string text((std::istreambuf_iterator<char>(txt)), std::istreambuf_iterator<char>());
    const std::string base = text.substr(0, text.find("\nChecksum:"));
    const size_t ranges = base.find("Monitor ranges (");
    if (bytes.size() < 128 || ranges == std::string::npos) continue;
    // The base block's range descriptor must carry no offsets (byte 4).
    bool offsets = false;
    for (size_t d = 54; d < 126; d += 18)
      if (bytes[d] == 0 && bytes[d + 1] == 0 && bytes[d + 3] == 0xFD && bytes[d + 4] != 0) offsets = true;
    if (offsets) continue;
    unsigned vmin = 0, vmax = 0, hmin = 0, hmax = 0, clock = 0;
    const std::string line = base.substr(base.find("):", ranges) + 2);
    ASSERT_EQ(std::sscanf(line.c_str(), " %u-%u Hz V, %u-%u kHz H, max dotclock %u MHz", &vmin, &vmax, &hmin, &hmax,
                          &clock),
              5)
        << entry.path();
    Record(0, bytes);
    h->status = 0;
    HSLKSTGetMonitorLimits(h, 0);
    const MONITORINFO& mi = h->aMonitorInfo[0];
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(mi.ulMinVRate, vmin);
    EXPECT_EQ(mi.ulMaxVRate, vmax);
    EXPECT_EQ(mi.ulMinHRate, hmin);
    EXPECT_EQ(mi.ulMaxHRate, hmax);
    EXPECT_EQ(mi.ulMaxPixClock, clock * 1000u);
    unsigned wcm = 0, hcm = 0;
    const size_t size = base.find("Maximum image size: ");
    if (size != std::string::npos &&
        std::sscanf(base.c_str() + size, "Maximum image size: %u cm x %u cm", &wcm, &hcm) == 2) {
      EXPECT_EQ(mi.ulImageWidthMm, wcm * 10u);
      EXPECT_EQ(mi.ulImageHeightMm, hcm * 10u);
    }
    ++checked;
  }
  EXPECT_GT(checked, 100u);
}

// ---- Cross-checks between outputs ------------------------------------------------------------

TEST_F(MonitorInfo, FastDigitalMonitorsAreMarked) {
  hwtest::Detailed fast = hwtest::Timing1080p();
  fast.clock10k = 26850;  // 268,500 kHz
  hwtest::Edid1 e;
  e.SetDetailed(0, fast);
  e[20] = 0x80;
  e.Seal();
  Record(0, Bytes(e), kMonitorPresent | kMonitorEdidValid | kMonitorDigital);
  Record(1, Bytes(e), kMonitorPresent | kMonitorEdidValid | kMonitorDigital);
  Record(2, Bytes(e), kMonitorPresent | kMonitorEdidValid);  // analog: not looked at
  ASSERT_EQ(HSLKSTDetectSpecialMonitor(h), 0u);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorFastDigital, 0u);
  EXPECT_NE(h->aMonitorInfo[1].flMonitor & kMonitorFastDigital, 0u);
  EXPECT_EQ(h->aMonitorInfo[2].flMonitor & kMonitorFastDigital, 0u);
  // 1080p at 148,500 kHz is not fast.
  hwtest::Edid1 slow;
  slow.SetDetailed(0, hwtest::Timing1080p()).Seal();
  Record(0, Bytes(slow), kMonitorPresent | kMonitorEdidValid | kMonitorDigital);
  HSLKSTDetectSpecialMonitor(h);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & kMonitorFastDigital, 0u);
}

TEST_F(MonitorInfo, MonitorOnOutput2TakesOutput0sDigitalLines) {
  const std::vector<uint8_t> m = Monitor("ABC", true);
  auto setUp = [&] {
    Record(0, m, kMonitorPresent | kMonitorEdidValid | kMonitorDigital);
    Record(1, m, kMonitorPresent | kMonitorEdidValid | kMonitorDigital);
    Record(2, m);
  };
  setUp();
  h->ulOutputCaps |= 0x2000000;
  HSLKSTValidateAllMonitorInfo(h);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & kMonitorDigital, 0u);
  EXPECT_NE(h->aMonitorInfo[1].flMonitor & kMonitorDigital, 0u) << "nothing on output 3";
  // Without the capability bit, or on a quad board, nothing changes.
  setUp();
  h->ulOutputCaps &= ~0x2000000u;
  HSLKSTValidateAllMonitorInfo(h);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorDigital, 0u);
  h->ulOutputCaps |= 0x2000000;
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  HSLKSTValidateAllMonitorInfo(h);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorDigital, 0u);
}

// ---- Monitors that answer late ---------------------------------------------------------------

// The chip's controller 1 is off: its module is free to give the output
// sync while the monitor is asked again.
TEST_F(MonitorInfo, SensedMonitorAnsweringInTheThirdPass) {
  ScriptReads();
  Script().validAt = 0xA0;
  Script().validFromCall = 2;
  Script().edid = Monitor("LATE");
  h->aMonitorInfo[0].flMonitor = kMonitorPresent | kSenseLoadChannel0;
  std::memset(h->aModeInfo, 0, sizeof(h->aModeInfo));  // no controller drives output 0
  hw.board().Poke(kRegControllerCtl + 0x200, 4, 0);
  const uint32_t dac1 = hw.board().Peek(kRegDacCtl1, 4), dac2 = hw.board().Peek(kRegDacCtl2, 4);
  CountWaits();
  ASSERT_EQ(HSLKSTGetNotRespondingMonitorInfo(h), 0u);
  ASSERT_EQ(Calls().size(), 3u);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorEdidValid, 0u);
  // A wait of 100,000 units between the passes, none after the last.
  EXPECT_EQ(Calls()[1].waitReads - Calls()[0].waitReads, uint64_t{kNotRespondingWaitUnits} * kWaitReadsPerUnit);
  EXPECT_EQ(Calls()[2].waitReads - Calls()[1].waitReads, uint64_t{kNotRespondingWaitUnits} * kWaitReadsPerUnit);
  EXPECT_LT(WaitReads() - Calls()[2].waitReads, uint64_t{kNotRespondingWaitUnits} * kWaitReadsPerUnit);
  // Sync is off again, the DAC words as found.
  EXPECT_EQ(hw.board().Peek(kRegDacCtl1, 4), dac1);
  EXPECT_EQ(hw.board().Peek(kRegDacCtl2, 4), dac2);
}

TEST_F(MonitorInfo, WithoutAFreeModuleNothingIsDone) {
  ScriptReads();
  h->aMonitorInfo[0].flMonitor = kMonitorPresent;
  // Both controllers of the modules on.
  hw.board().Poke(kRegControllerCtl, 4, 1);
  hw.board().Poke(kRegControllerCtl + 0x200, 4, 1);
  hw.board().SetLogging(false, true);
  hw.board().ClearLog();
  ASSERT_EQ(HSLKSTGetNotRespondingMonitorInfo(h), 0u);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

// A monitor that answers DDC only while its output carries sync is found
// once sync is switched on for it; afterwards sync is off again and the DAC
// words are as found.
TEST_F(MonitorInfo, MonitorThatAnswersOnlyWithSync) {
  orvsim::DdcMonitor& m = Part(0, 0xA0, Monitor("SYN"));
  orvsim::Board& board = hw.board();
  m.AnswerOnlyWhile([&board] { return orvsim::DacCarriesSync(board, 0); });
  std::memset(h->aModeInfo, 0, sizeof(h->aModeInfo));
  board.Poke(kRegDacCtl1, 4, kDacOff);  // the console's DAC is off
  ASSERT_FALSE(orvsim::DacCarriesSync(board, 0));
  ASSERT_EQ(HSLKSTGetSpecificMonitorInfo(h, 0), 0u);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & kMonitorEdidValid, 0u) << "no sync, no answer";
  h->aMonitorInfo[0].flMonitor = kMonitorPresent | kSenseLoadChannel0;  // sensed
  const uint32_t dac1 = board.Peek(kRegDacCtl1, 4), dac2 = board.Peek(kRegDacCtl2, 4);
  ASSERT_EQ(HSLKSTGetNotRespondingMonitorInfo(h), 0u);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorEdidValid, 0u);
  EXPECT_GT(m.BytesRead(), 0u);
  EXPECT_FALSE(orvsim::DacCarriesSync(board, 0));
  EXPECT_EQ(board.Peek(kRegDacCtl1, 4), dac1);
  EXPECT_EQ(board.Peek(kRegDacCtl2, 4), dac2);
}

// ---- Load sensing ----------------------------------------------------------------------------

class LoadSense : public MonitorInfo {
 protected:
  LoadSense() {
    hw.board().Poke(kRegRegime, 4, 0);  // high-resolution regime
    hw.board().Poke(kRegDacCtl1, 4, 0x0800);
    hw.board().Poke(kRegDacCtl2, 4, 0x0800);
    hw.board().Poke(kRegOverscan, 4, 0x123456);
    hw.board().Poke(kRegHTotal, 4, 0x04FF0677);
  }
  std::vector<uint32_t> WritesTo(uint32_t reg) { return hw.WritesTo(reg); }
};

TEST_F(LoadSense, ComparatorChannelsGiveTheResultBits) {
  struct Case {
    uint8_t loads;  // channels with a load
    uint32_t result;
  } cases[] = {{0b010, 0x4000}, {0b111, 0xE000}, {0b001, 0x8000}, {0b100, 0x2000}, {0, 0}};
  for (const Case& c : cases) {
    sense.SetLoads(0, c.loads);
    sense.SetLoads(1, 0);
    uint32_t result = 99;
    ASSERT_EQ(HSLKSTSenseLoadOnInternalDAC(h, 0, &result), 0u);
    EXPECT_EQ(result, c.result) << int(c.loads);
  }
  // DAC 1 (the second) reads bits 3-5.
  sense.SetLoads(0, 0);
  sense.SetLoads(1, 0b001);
  uint32_t result = 0;
  HSLKSTSenseLoadOnInternalDAC(h, 1, &result);
  EXPECT_EQ(result, 0x8000u);
}

TEST_F(LoadSense, SensingDrivesTheTestColourAndRestoresTheRegisters) {
  sense.SetLoads(0, 0b111);
  hw.board().ClearLog();
  uint32_t result = 0;
  ASSERT_EQ(HSLKSTSenseLoadOnInternalDAC(h, 0, &result), 0u);
  EXPECT_EQ(sense.Reads(), 1u);
  const std::vector<uint32_t> overscan = WritesTo(kRegOverscan);
  ASSERT_EQ(overscan.size(), 2u);
  EXPECT_EQ(overscan[0], 0x16459164u);
  EXPECT_EQ(WritesTo(kRegHTotal).at(0), 0x04FF0677u & ~0x0FFF0000u);
  EXPECT_NE(WritesTo(kRegDacCtl1).at(0) & kDacOff, 0u) << "the DAC's syncs stopped";
  EXPECT_EQ(hw.board().Peek(kRegDacCtl1, 4), 0x0800u);
  EXPECT_EQ(hw.board().Peek(kRegDacCtl2, 4), 0x0800u);
  EXPECT_EQ(hw.board().Peek(kRegOverscan, 4), 0x123456u);
  EXPECT_EQ(hw.board().Peek(kRegHTotal, 4), 0x04FF0677u);
  // A third DAC does not exist: nothing is written.
  hw.board().ClearLog();
  result = 99;
  ASSERT_EQ(HSLKSTSenseLoadOnInternalDAC(h, 2, &result), 0u);
  EXPECT_EQ(result, 0u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

TEST_F(LoadSense, OutputsWithAValidEdidArePresentWithoutSensing) {
  for (uint32_t k = 0; k < 4; ++k) Record(k, Monitor("ABC"), kMonitorEdidValid);
  sense.SetLoads(0, 0b111);
  ASSERT_EQ(HSLKSTSenseAllLoads(h), 0u);
  EXPECT_EQ(sense.Reads(), 0u);
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(h->aMonitorInfo[k].flMonitor, kMonitorEdidValid | kMonitorPresent) << k;
  // Output 0 without EDID is sensed on DAC 0, output 1 on DAC 1.
  std::memset(h->aMonitorInfo, 0, sizeof(h->aMonitorInfo));
  sense.SetLoads(0, 0b010);
  sense.SetLoads(1, 0);
  HSLKSTSenseAllLoads(h);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor, kMonitorPresent | kSenseLoadChannel1);
  EXPECT_EQ(h->aMonitorInfo[1].flMonitor, 0u);
}

TEST_F(LoadSense, SourceOfEachOutput) {
  h->oCem.ulPresent = 0;
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(HSLKSTGetLoadSenseSource(h, k), k) << k;
  EXPECT_EQ(HSLKSTGetLoadSenseSource(h, 4), kSenseSourceNone);
  // A quad board without its four transmitters has no first DAC: output 0
  // goes to an encoder, or to none.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  const uint32_t source = HSLKSTGetLoadSenseSource(h, 0);
  EXPECT_TRUE(source == kSenseSourceNone || (source >= kSenseSourceEncoder0 && source < kSenseSourceEncoder0 + 4))
      << source;
}

TEST_F(LoadSense, MonitorEdidKinds) {
  ScriptReads();
  EXPECT_EQ(HSLKSTGetMonitorEDID_OLD(h, 3), kErrMonitorEdidKind);
  h->status = 0;
  // Kind 4 is flat panel 0: 0xA6, 0xA2, 0xA0 on port 0. An analog EDID
  // there leaves the panel not present.
  Script().validAt = 0xA2;
  Script().edid = Monitor("ANA");
  HSLKSTGetMonitorEDID_OLD(h, 4);
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[0].address, 0xA6u);
  EXPECT_EQ(Calls()[1].address, 0xA2u);
  EXPECT_EQ(Calls()[1].delay, 1u);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & (kMonitorPresent | kMonitorEdidValid), 0u);
  // Kind 2 is flat panel 1 on port 5; a digital EDID stays.
  Calls().clear();
  Script().edid = Monitor("DIG", true);
  h->ulOutputCaps |= 0x200000;
  HSLKSTGetMonitorEDID_OLD(h, 2);
  EXPECT_EQ(Calls().at(0).port, 5u);
  // Analog output 0 with the swap flag reads port 5.
  Calls().clear();
  h->ulBoardFlags |= kBoardFlagMonitorsSwapped;
  Script().validAt = 0xA0;
  HSLKSTGetMonitorEDID_OLD(h, 0);
  EXPECT_EQ(Calls().at(0).port, 5u);
  EXPECT_EQ(Calls().at(0).address, 0xA0u);
}

TEST_F(LoadSense, OutputInUseReadsTheModuleTheWordNeedsFirst) {
  h->oCem.ulPresent = 0;
  h->oCem.ulBoardType = 0;
  hw.board().Poke(kRegDvoPower, 4, 0x2);  // DVO 1 on, DVO 2 off
  hw.board().SetLogging(true, true);
  hw.board().ClearLog();
  uint32_t inUse = 9;
  ASSERT_EQ(HSLKSTIsOutputInUse(h, kOutAnalog2, &inUse), 0u);
  EXPECT_EQ(inUse, 1u);
  h->oCem.ulBoardType = 4;  // without the multi-output flag: DVO 2
  HSLKSTIsOutputInUse(h, kOutAnalog2, &inUse);
  EXPECT_EQ(inUse, 0u);
  hw.board().ClearLog();
  HSLKSTIsOutputInUse(h, 0x1000, &inUse);
  EXPECT_EQ(inUse, 0u);
  EXPECT_TRUE(hw.board().Log().empty()) << "no module for 0x1000 alone";
  hw.board().SetLogging(false, true);
}

}  // namespace
