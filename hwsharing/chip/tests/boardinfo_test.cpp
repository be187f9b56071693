// Opening a board's description, synthesizer word decoding and the custom
// calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/regs/clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/boardinfo.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using hwtest::ChipTest;

class BoardInfoSlot : public ChipTest {
 protected:
  uint32_t PinsDwordAt(uint32_t at) { return PinsDword(h, at); }
  uint16_t PinsWordAt(uint32_t at) { return static_cast<uint16_t>(h->oPins.aucData[at] | h->oPins.aucData[at + 1] << 8); }
};

TEST_F(BoardInfoSlot, DefaultDescriptionSumsToZeroAndHoldsItsTable) {
  std::memset(h->oPins.aucData, 0x77, sizeof(h->oPins.aucData));
  EXPECT_EQ(HSLKSTCSetDefaultPins(h), 0u);
  uint8_t sum = 0;
  for (uint32_t i = 0; i < 512; ++i) sum = static_cast<uint8_t>(sum + h->oPins.aucData[i]);
  EXPECT_EQ(sum, 0);
  for (uint32_t i = 512; i < kPinsDataSize; ++i) ASSERT_EQ(h->oPins.aucData[i], 0) << i;
  EXPECT_EQ(PinsWordAt(0), 0x412E);
  EXPECT_EQ(PinsWordAt(2), 0x200);
  EXPECT_EQ(PinsWordAt(4), 0x600);
  EXPECT_EQ(PinsDwordAt(36), 220000u);
  EXPECT_EQ(PinsDwordAt(56), 500000u);
  const uint16_t limits[6] = {600, 1200, 600, 1200, 50, 400};
  for (uint32_t block : {64u, 84u, 104u})
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(PinsWordAt(block + 2 * i), limits[i]) << block;
  EXPECT_EQ(PinsWordAt(46), 1600);
  EXPECT_EQ(PinsDwordAt(132), 0x10114u);
  EXPECT_EQ(PinsDwordAt(140), 0x9f810002u);
  EXPECT_EQ(PinsDwordAt(164 + 12), 37u);
  EXPECT_EQ(PinsDwordAt(216 + 12), 37u);
  EXPECT_EQ(PinsDwordAt(268 + 12), 5u);
  EXPECT_EQ(PinsDwordAt(320 + 12), 5u);
  EXPECT_EQ(PinsDwordAt(320 + 40), 0xFFFFFFFFu);
  EXPECT_EQ(PinsDwordAt(392), 0x43706021u);
  EXPECT_EQ(PinsDwordAt(396), 8u);
}

TEST_F(BoardInfoSlot, BoardWithoutADescriptionGetsTheDefaultAndNoError) {
  std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
  h->status = 0;
  Board().Pci().Poke(0x3C, 4, 0x010B);
  EXPECT_EQ(HSLKSTGetBoardInfo(h), 0u) << "the BIOS read failed and was forgiven";
  EXPECT_EQ(PinsWordAt(0), 0x412E);
  EXPECT_EQ(h->oBoardInfo.ulRefClock, 27000u) << "the description was decoded";
  EXPECT_EQ(h->ulInterruptConfig, 0x010Bu);
  // The handle's system-clock record comes from the default description:
  // select word 0x10114 (system clock on FS 1 halved, graphics and third
  // clocks on FS 0 undivided), FS 0 at 220,000 kHz, FS 1 at 500,000 kHz.
  EXPECT_EQ(h->oSystemClock.aulWord[0], 250u | (18u << 16) | (2u << 24));
  EXPECT_EQ(h->oSystemClock.aulWord[1], 220u | (17u << 16) | (1u << 24));
  EXPECT_EQ(h->oSystemClock.aulWord[2], 220u | (17u << 16) | (1u << 24));
  EXPECT_EQ(h->aMcs[0].ulFactor, 0u);
}

TEST_F(BoardInfoSlot, SynthesizerWordsDecodeToKilohertz) {
  struct Row {
    uint32_t value;
    uint32_t khz;
  } rows[] = {
      // N field 0x38 is 40, M field 24 is 8, D field 29 is 3, P field 60 is 4:
      // 40 x 27,000 / 3 x 8 / 4.
      {0x3CEE38, 720000},
      {0x3DEE38, 1440000},  // P field with bit 16 set: divided by 2
      {0x00EE38, 1440000},  // P field 0 gives P 0: divided by 2 as well
  };
  for (const Row& r : rows) {
    uint32_t khz = 0;
    EXPECT_EQ(HSLKSTGetFSFreq(h, r.value, &khz), 0u);
    EXPECT_EQ(khz, r.khz) << std::hex << r.value;
  }
  uint32_t untouched = 1234;
  HSLKSTGetFSFreq(h, 0x3C0638, &untouched);  // D field 0
  EXPECT_EQ(untouched, 1234u);
}

TEST_F(BoardInfoSlot, PixelClockSourcesOfQuadBoards) {
  struct Row {
    const char* name;
    uint32_t multiOutput, type, gpioMap;
    uint32_t caps;
  } rows[] = {
      {"single-output board", 0, 2, 0x6666, 0},
      {"quad board type 5", 1, 5, 0, 2},
      {"quad board, clock function in slots 0 and 2", 1, 2, 0x00060006, 0x5},
      {"quad board, clock function in slot 3's second nibble", 1, 8, 0x60000000, 0x8},
      {"twin board", 1, 10, 0x6666, 0},
  };
  for (const Row& r : rows) {
    h->oCem.ulPresent = r.multiOutput;
    h->oCem.ulBoardType = r.type;
    h->oPins.aucData[4] = 0x09;
    h->oPins.aucData[5] = 0x06;
    hwtest::PutPinsDword(h, 424, r.gpioMap);
    EXPECT_EQ(HSLKSTGetPixelClockSourceCaps(h), 0u);
    EXPECT_EQ(h->ulPixClockSourceCaps, r.caps) << r.name;
  }
}

TEST_F(BoardInfoSlot, CustomCalls) {
  SYSCLOCKINFO clock{};
  Board().Poke(kRegClockSelect0, 4, 1u << 1);  // system clock on FS 0
  Board().Poke(kRegFs0, 4, 0x3CEE38);          // 720,000 kHz
  EXPECT_EQ(HSLKSTCustomCall(h, kCustomGetSystemClock, nullptr, &clock), 0u);
  EXPECT_EQ(clock.aulWord[0], 360u | (1u << 24)) << "read back from the chip";
  // Code 1 sets it: the description's system clock on FS 0 at twice the MHz.
  for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
  SYSCLOCKINFO set{};
  set.aulWord[0] = clock.aulWord[0];
  EXPECT_EQ(HSLKSTCustomCall(h, kCustomSetSystemClock, &set, nullptr), 0u);
  EXPECT_EQ((PinsDword(h, kPinsClockSelect) >> 1) & 7, 1u);
  EXPECT_EQ(PinsDword(h, 36), 720000u);

  // Code 6: a list of one fan read.
  auto& fan = OnPort1<orvsim::FanChip>();
  const uint32_t in[3] = {2, 0x04000000, 0x02000700};
  uint32_t out[4] = {99, 0, 0, 0};
  EXPECT_EQ(HSLKSTCustomCall(h, kCustomLowLevelAccess, const_cast<uint32_t*>(in), out), 0u);
  EXPECT_EQ(out[0], 1u);
  EXPECT_EQ(out[1], 0x54u);
  EXPECT_EQ(fan.Transfers().size(), 2u);

  // Code 7: the emulated table of controller 1's green channel.
  std::vector<uint16_t> ramps(768);
  for (uint32_t i = 0; i < 768; ++i) ramps[i] = static_cast<uint16_t>((i % 256) * 257);
  std::vector<uint16_t> result(1024, 0xEEEE);
  uint8_t input[32] = {};
  const uint32_t controller = 1, useGiven = 1, channel = 1, method = kLutEmulateBest;
  const uint16_t* rampsPointer = ramps.data();
  std::memcpy(input, &controller, 4);
  std::memcpy(input + 8, &rampsPointer, 8);
  std::memcpy(input + 16, &useGiven, 4);
  std::memcpy(input + 20, &channel, 4);
  std::memcpy(input + 24, &method, 4);
  uint8_t output[16] = {};
  uint16_t* resultPointer = result.data();
  std::memcpy(output, &resultPointer, 8);
  EXPECT_EQ(HSLKSTCustomCall(h, kCustomEmulatedLut, input, output), 0u);
  uint32_t linear = 0;
  std::memcpy(&linear, output + 8, 4);
  EXPECT_EQ(linear, 1u);
  EXPECT_EQ(result[1023], 1023u << 6);
  // An unknown code does nothing.
  EXPECT_EQ(HSLKSTCustomCall(h, 5, nullptr, nullptr), 0u);
}

}  // namespace
