// DDC transfers on the simulated board: EDID reads with retries, the
// same-monitor shortcut and slow reads, block checks, byte writes, the
// tied-lines test of an HD15-to-TV adaptor and the desktop expander's
// handshake, against monitors and devices hung on the connectors' DDC
// lines.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/tests/edid_fixture.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/ddc_devices.h"

namespace {

using orvsim::DdcMonitor;
using orvsim::DesktopExpander;

std::vector<uint8_t> Bytes(const hwtest::Edid1& e, size_t n = 128) { return {e.data(), e.data() + n}; }

hwtest::Edid1 Monitor(const char* vendor = "ABC") {
  hwtest::Edid1 e;
  e.SetVendor(vendor).SetDetailed(0, hwtest::Timing1080p());
  return e;
}

class Ddc : public testing::Test {
 protected:
  Ddc() : hw(hwtest::Config(0x0A42)) {
    EXPECT_EQ(hw.Open(), 0u);
    hw.Chip();
    h = hw.h();
    // Opening loaded the built-in board description; without a misc-IO map
    // of its own the library's default lines route the DDC ports.
    hwtest::PutPinsDword(h, kPinsMiscIoMap, 0);
    for (MONITORINFO& mi : h->aMonitorInfo) std::memset(&mi, 0, sizeof(mi));
  }
  orvsim::I2cBus& Connector(unsigned c) {
    const unsigned buses[4] = {orvsim::kBusDdcConnector0, orvsim::kBusDdcConnector1, orvsim::kBusDdcConnector2,
                               orvsim::kBusDdcConnector3};
    return hw.board().I2c(buses[c]);
  }
  DdcMonitor& Attach(unsigned connector, std::vector<uint8_t> edid) {
    return Connector(connector).Emplace<DdcMonitor>(std::move(edid), hw.board().GetClock());
  }
  uint64_t Now() { return hw.board().GetClock().Now(); }

  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

TEST_F(Ddc, ReadsAnEdidWithItsExtension) {
  hwtest::Edid1 e = Monitor();
  e.AddCea(3, {hwtest::VideoBlock({16})}, {});
  DdcMonitor& m = Attach(0, Bytes(e, 256));
  EXPECT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 1), kHalOk);
  const MONITORINFO& mi = h->aMonitorInfo[0];
  EXPECT_EQ(mi.flMonitor & 3u, 3u);
  EXPECT_EQ(mi.ulEdidVersion, 0x13u);
  EXPECT_EQ(std::memcmp(mi.aucEdid, e.data(), 256), 0);
  EXPECT_EQ(m.BytesRead(), 256u);

  // Port 17 reaches connector 2.
  Attach(2, Bytes(Monitor("XYZ")));
  EXPECT_EQ(HALPReadDDCEDID(h, 2, DdcPortOfOutput(2), kDdcEdidAddress, 3, 1), kHalOk);
  EXPECT_EQ(h->aMonitorInfo[2].aucEdid[9], Monitor("XYZ")[9]);
  EXPECT_EQ(h->aMonitorInfo[2].aucEdid[128], 0);
}

TEST_F(Ddc, NoMonitorEndsWithoutEdidAfterAWaitPerAttempt) {
  // The same three failed attempts with a wait of 0 and of W units: the
  // difference is three waits of W (three register reads a unit).
  constexpr uint32_t kWait = 1000;
  MONITORINFO& mi = h->aMonitorInfo[1];
  auto attempts = [&](uint32_t wait) {
    std::memcpy(mi.aucEdid, Monitor().data(), 128);  // a departed monitor's EDID
    mi.flMonitor = kMonitorPresent | kMonitorEdidValid;
    mi.ulEdidVersion = 0x13;
    const uint64_t start = Now();
    EXPECT_EQ(HALPReadDDCEDID(h, 1, 5, kDdcEdidAddress, 3, wait), kHalOk);
    return Now() - start;
  };
  const uint64_t noWait = attempts(0);
  const uint64_t withWait = attempts(kWait);
  EXPECT_EQ(withWait - noWait, 3 * kWait * 3 * hw.board().GetClock().ReadCost());
  EXPECT_EQ(mi.flMonitor & kMonitorEdidValid, 0u);
  EXPECT_EQ(mi.ulEdidVersion, 0u);
  EXPECT_EQ(mi.aucEdid[1], 0);  // nothing of the departed monitor stays
  EXPECT_EQ(h->status, kHalOk);

  // No attempts at all: no EDID, no transfer.
  mi.flMonitor = kMonitorEdidValid;
  EXPECT_EQ(HALPReadDDCEDID(h, 1, 5, kDdcEdidAddress, 0, 0), kHalOk);
  EXPECT_EQ(mi.flMonitor & kMonitorEdidValid, 0u);
}

TEST_F(Ddc, AnUnchangedMonitorIsReadForTwentyBytes) {
  DdcMonitor& m = Attach(0, Bytes(Monitor()));
  ASSERT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 1), kHalOk);
  EXPECT_EQ(m.BytesRead(), 128u);
  h->aMonitorInfo[0].flMonitor = 0;
  ASSERT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 1), kHalOk);
  EXPECT_EQ(m.BytesRead(), 148u);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & 3u, 3u);

  // Another monitor on the same connector: its first bytes differ, the rest
  // of block 0 is read on from there.
  hwtest::Edid1 other = Monitor("DEF");
  m.Contents().assign(other.data(), other.data() + 128);
  ASSERT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 1), kHalOk);
  EXPECT_EQ(m.BytesRead(), 148u + 128u);
  EXPECT_EQ(std::memcmp(h->aMonitorInfo[0].aucEdid, other.data(), 128), 0);
}

// A clock period between the normal and the slow rate of this board, as
// the monitor sees them.
uint64_t BetweenRates(BOARDHANDLE* h, const DdcMonitor& m) {
  uint8_t byte;
  HALPReadDDCByte(h, 0, kDdcEdidAddress, 0, &byte, 1);
  const uint64_t normal = m.AddressClockPeriodNs();
  HALPReadSlowDDCByte(h, 0, kDdcEdidAddress, 0, &byte, 1);
  const uint64_t slow = m.AddressClockPeriodNs();
  EXPECT_GT(slow, normal + normal / 2);
  return (normal + slow) / 2;
}

TEST_F(Ddc, SlowReadsStartAtTheFifteenthAttempt) {
  DdcMonitor& m = Attach(0, Bytes(Monitor()));
  const uint64_t between = BetweenRates(h, m);
  ASSERT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 0), kHalOk);
  // The same monitor, now readable only at the slow rate: fourteen attempts
  // read it fast and fail; the fifteenth asks its first 20 bytes slowly and
  // knows it.
  m.SetSlowReadsOnly(between);
  const unsigned goodBefore = m.GoodBytesRead();
  MONITORINFO& mi = h->aMonitorInfo[0];
  mi.flMonitor = 0;
  EXPECT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 15, 0), kHalOk);
  EXPECT_EQ(mi.flMonitor & 3u, 3u);
  EXPECT_EQ(m.FastBytesRead(), 14u * 128u);
  EXPECT_EQ(m.GoodBytesRead() - goodBefore, 20u);
}

TEST_F(Ddc, SecondBlockAtTheSlowRate) {
  hwtest::Edid1 e = Monitor();
  e.AddCea(3, {}, {hwtest::Timing1080p()});
  DdcMonitor& m = Attach(0, Bytes(e, 256));
  m.SetSlowReadsOnly(BetweenRates(h, m), 128);
  uint8_t block[128];
  EXPECT_EQ(HALGetEdidBlockContent(h, 0, kDdcEdidAddress, 1, 0, block), kErrEdidBlockChecksum);
  EXPECT_EQ(HALGetEdidBlockContent(h, 0, kDdcEdidAddress, 1, 1, block), kHalOk);
  EXPECT_EQ(std::memcmp(block, e.data() + 128, 128), 0);
}

TEST_F(Ddc, BlockChecksAndAnUnacknowledgedTransfer) {
  hwtest::Edid1 e = Monitor();
  e.AddCea(3, {}, {hwtest::Timing1080p()});
  DdcMonitor& m = Attach(0, Bytes(e, 256));
  m.CorruptBlock1Checksum();
  // The attempt fails on block 1's sum.
  EXPECT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 0), kHalOk);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & kMonitorEdidValid, 0u);

  uint8_t block[128];
  std::memset(block, 0x11, sizeof(block));
  h->status = 0xC0000001;
  EXPECT_EQ(HALGetEdidBlockContent(h, 0, kDdcEdidAddress, 1, 0, block), kErrEdidBlockChecksum);
  EXPECT_EQ(block[0], 0x11);
  EXPECT_EQ(HALGetEdidBlockContent(h, 0, kDdcEdidAddress, 2, 0, block), kErrEdidBlockNumber);
  EXPECT_EQ(HALGetEdidBlockContent(h, 0, kDdcEdidAddress, 0, 1, block), kHalOk);
  EXPECT_EQ(std::memcmp(block, e.data(), 128), 0);

  // Nobody at the address: the read ends with no acknowledge.
  h->status = 0;
  EXPECT_EQ(HALPReadDDCByte(h, 0, 0xA6, 0, block, 4), kErrDdcNoAck);
  h->status = 0;
  const unsigned before = m.AddressAttempts();
  EXPECT_EQ(HALPWriteDDCByte(h, 0, 0xA6, 0, block, 2), kErrDdcNoAck);
  EXPECT_EQ(m.AddressAttempts(), before);  // another address: the monitor is not asked
}

TEST_F(Ddc, TiedLinesAreAnAdaptor) {
  Connector(1).Emplace<orvsim::TiedLinesAdaptor>();
  Attach(0, Bytes(Monitor()));
  uint32_t found = 9;
  h->status = 0x80000001;
  EXPECT_EQ(HALPDetectHD15ToTVAdaptor(h, 1, &found), 0x80000001u);  // returns at once
  h->status = 0;
  EXPECT_EQ(HALPDetectHD15ToTVAdaptor(h, 1, &found), kHalOk);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(HALPDetectHD15ToTVAdaptor(h, 0, &found), kHalOk);
  EXPECT_EQ(found, 0u);
  // Lines released again afterwards.
  EXPECT_TRUE(Connector(1).SdaLevel());
  EXPECT_TRUE(Connector(1).SclLevel());
}

TEST_F(Ddc, DesktopExpanderHandshake) {
  using Message = DesktopExpander::Message;
  const Message idle{0, 1, 0x00, 0};
  const Message magicReady{0, 1, 0x02, 0xDE};
  struct Case {
    const char* name;
    const char* vendor;
    std::vector<Message> replies;
    size_t commands;
    bool flagged;
  };
  const Case cases[] = {
      {"the box", "ORV", {idle, idle, idle, magicReady, magicReady, magicReady}, 2, true},
      {"another magic", "ORV", {idle, idle, idle, {0, 1, 2, 0x42}}, 2, false},
      {"busy after the first command", "ORV", {{0, 1, 0x80, 0}}, 1, false},
      {"another maker's monitor", "ABC", {idle, idle, idle, magicReady}, 0, false},
  };
  for (const Case& c : cases) {
    DdcMonitor& m = Attach(0, Bytes(Monitor(c.vendor)));
    DesktopExpander& box = Connector(0).Emplace<DesktopExpander>();
    box.Script(c.replies);
    MONITORINFO& mi = h->aMonitorInfo[0];
    std::memset(&mi, 0, sizeof(mi));
    ASSERT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 0), kHalOk) << c.name;
    EXPECT_EQ(HALPDetectSpanbox(h, 0), kHalOk) << c.name;
    EXPECT_EQ((mi.flMonitor & kMonitorDesktopExpander) != 0, c.flagged) << c.name;
    ASSERT_EQ(box.Commands().size(), c.commands) << c.name;
    const std::vector<Message> sent = {{3, 0, 0, 0}, {4, 2, 1, 0}};
    for (size_t i = 0; i < c.commands; ++i) EXPECT_EQ(box.Commands()[i], sent[i]) << c.name;
    Connector(0).Detach(&box);
    Connector(0).Detach(&m);
  }
  // No box on the lines at all: no flag, no error.
  Attach(0, Bytes(Monitor("ORV")));
  ASSERT_EQ(HALPReadDDCEDID(h, 0, 0, kDdcEdidAddress, 3, 0), kHalOk);
  EXPECT_EQ(HALPDetectSpanbox(h, 0), kHalOk);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & kMonitorDesktopExpander, 0u);
}

TEST_F(Ddc, OutputsTwoAndThreeAreGatheredOnTheirOwnLines) {
  hwtest::Edid1 e = Monitor();
  e.SetEstablished(1, 0x08).SetRange(3, 56, 75, 30, 83, 16);
  Attach(3, Bytes(e));
  MONITORINFO& one = h->aMonitorInfo[1];
  one.flMonitor = kMonitorPresent;
  EXPECT_EQ(HALGetMonitorInfo(h, 3), kHalOk);
  const MONITORINFO& mi = h->aMonitorInfo[3];
  EXPECT_EQ(mi.flMonitor & 3u, 3u);
  EXPECT_EQ(mi.ulMaxResWidth, 1920u);
  EXPECT_EQ(mi.ulMaxVRate, 74u);
  EXPECT_EQ(one.flMonitor, kMonitorPresent);  // output 1 is not touched
}

}  // namespace
