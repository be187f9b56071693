#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/outputs/ddc_lines.h"

namespace {

std::unique_ptr<BOARDHANDLE> EmptyHandle() {
  auto h = std::make_unique<BOARDHANDLE>();
  std::memset(h.get(), 0, sizeof(BOARDHANDLE));
  return h;
}

TEST(PinsMaps, MiscIoMapOfZeroIsTheDefault) {
  auto h = EmptyHandle();
  // Function code -> line in 0x43706521.
  const uint32_t expected[][2] = {{1, 0}, {2, 1}, {5, 2}, {6, 3}, {0, 4}, {7, 5}, {3, 6}, {4, 7}};
  for (const auto& row : expected) {
    uint32_t line = 99, reg = 0, out = 0, in = 0;
    HSLPIN60GetMISCIORegMasks(h.get(), row[0], 0, &line, &reg, &out, &in);
    EXPECT_EQ(line, row[1]) << "function " << row[0];
    EXPECT_EQ(reg, 0x1C4Cu);
    EXPECT_EQ(in, 1u << row[1]);
    EXPECT_EQ(out, (1u << row[1]) << 10);
  }
  uint32_t reg = 0, out = 1, in = 1;
  HSLPIN60GetMISCIORegMasks(h.get(), 9, 0, nullptr, &reg, &out, &in);
  EXPECT_EQ(out | in, 0u);
}

TEST(PinsMaps, HighLinesUseTheirOwnRegister) {
  auto h = EmptyHandle();
  h->oPins.aucData[396] = 0xA0;  // line 9: function 10
  uint32_t line = 0, reg = 0, out = 0, in = 0;
  HSLPIN60GetMISCIORegMasks(h.get(), 10, 0, &line, &reg, &out, &in);
  EXPECT_EQ(line, 9u);
  EXPECT_EQ(reg, 0x308u);
  EXPECT_EQ(out, 0x1u);
  EXPECT_EQ(in, 0x10u);
}

TEST(PinsMaps, DefaultDdcMapAndDdcLinePairs) {
  auto h = EmptyHandle();
  const uint32_t masks[][2] = {{8, 1}, {6, 2}, {7, 4}, {5, 8}, {1, 0}};
  for (const auto& row : masks) {
    uint32_t out = 0, in = 0;
    HSLPIN60GetDDCIORegMasks(h.get(), row[0], &out, &in);
    EXPECT_EQ(in, row[1]) << "id " << row[0];
    EXPECT_EQ(out, row[1] << 16) << "id " << row[0];
  }
  struct Row {
    uint32_t ddcLine;
    uint32_t sda, scl;
    int32_t kind;
  } lines[] = {{0, 8, 2, 0}, {1, 4, 1, 0}, {2, 8, 2, 1}, {3, 4, 1, 1}, {4, 0, 0, -1}};
  for (const Row& row : lines) {
    uint32_t r1 = 1, m1 = 1, r2 = 1, m2 = 1;
    int32_t kind = 5;
    HSLKSTGetDDCIORegMasks(h.get(), row.ddcLine, &r1, &m1, &r2, &m2, &kind);
    EXPECT_EQ(m1, row.sda) << row.ddcLine;
    EXPECT_EQ(m2, row.scl) << row.ddcLine;
    EXPECT_EQ(r1, row.kind < 0 ? 0u : 0x1C48u) << row.ddcLine;
    EXPECT_EQ(kind, row.kind) << row.ddcLine;
  }
}

TEST(PinsMaps, EncoderGpioLookUpHonoursTheSlotMask) {
  auto h = EmptyHandle();
  h->oPins.aucData[4] = 0x09;
  h->oPins.aucData[5] = 0x06;                         // version 0x609
  h->oPins.aucData[424] = 0x21;                       // slot 0: functions 1, 2
  h->oPins.aucData[426] = 0x40;                       // slot 2: nibble 1 = 4
  uint32_t slot = 9, nibble = 9, found = 9;
  HSLPIN60GetCHRGPIOData(h.get(), 0xF, 2, &slot, &nibble, &found);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(slot, 0u);
  EXPECT_EQ(nibble, 1u);
  HSLPIN60GetCHRGPIOData(h.get(), 0xB, 4, &slot, &nibble, &found);
  EXPECT_EQ(found, 0u);
  HSLPIN60GetCHRGPIOData(h.get(), 0x4, 4, &slot, &nibble, &found);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(slot, 2u);
  EXPECT_EQ(nibble, 1u);
}

}  // namespace
