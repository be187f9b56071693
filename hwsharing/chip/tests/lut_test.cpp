// Colour tables: the caller's ranges, the load into the controllers' tables
// and the expansion module's table, the transforms for digital formats and
// the emulated 10-bit table read back from the chip.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/lut_ramp.h"
#include "hwsharing/chip/tests/lut_golden.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

using hwtest::ChipTest;

class ColourTable : public ChipTest {
 protected:
  ColourTable() {
    table = std::make_unique<PUBLICLUT>();
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c] & ~kOutControllerOff;
  }
  // A kind-0 table whose entry i of channel ch is i x 257 - 3 ch (never negative).
  void RampsTable() {
    table->ulKind = 0;
    for (uint32_t ch = 0; ch < 3; ++ch)
      for (uint32_t i = 0; i < 256; ++i)
        table->ausEntry[256 * ch + i] = static_cast<uint16_t>(i * 257 - (i ? 3 * ch : 0));
  }
  std::unique_ptr<PUBLICLUT> table;
};

TEST_F(ColourTable, RangesAreCheckedAgainstTheKindBeforeAnythingIsCopied) {
  RampsTable();
  h->aLut[0].ausLutEntry[5] = 0x1234;
  struct Row {
    uint32_t kind, first, count, controller;
    HALSTATUS status;
  } rows[] = {
      {0, 0, 256, 4, kErrLutRange},       // no controller 4: checked first
      {0, 256, 0, 0, kErrLutRange},
      {0, 255, 2, 0, kErrLutRange},
      {0, 1, 0xFFFFFFFF, 0, kErrLutRange},  // first + count would wrap
      {1, 1000, 25, 0, kErrLutRange},
      {0, 255, 1, 0, 0},
      {1, 1000, 24, 0, 0},
      {2, 7, 0, 0, 0},  // no entries for another kind, any first
      {2, 0, 1, 0, kErrLutRange},
  };
  for (const Row& r : rows) {
    h->status = 0;
    table->ulKind = r.kind;
    const uint16_t kept = h->aLut[0].ausLutEntry[5];
    EXPECT_EQ(HSLKSTSetColorLUT(h, r.first, r.count, table.get(), r.controller), r.status)
        << r.kind << " " << r.first << " " << r.count << " " << r.controller;
    if (r.status != 0) {
      EXPECT_EQ(h->aLut[0].ausLutEntry[5], kept) << "nothing copied";
    }
  }
}

TEST_F(ColourTable, WholeRampsReachTheControllersTablesWithTheirBits) {
  RampsTable();
  for (uint32_t c = 0; c < 4; ++c) {
    ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), c), 0u);
    const uint32_t mask = c < 2 ? 0xFFC0 : 0xFF00;
    for (uint32_t i : {0u, 1u, 77u, 255u}) {
      const orvsim::LutEntry want{table->ausEntry[i] & mask, table->ausEntry[256 + i] & mask,
                                  table->ausEntry[512 + i] & mask};
      EXPECT_EQ(Lut().At(c, i), want) << "controller " << c << " entry " << i;
    }
  }
  EXPECT_EQ(Lut().EntriesStored(), 4u * 256);
}

TEST_F(ColourTable, AnOffControllerKeepsItsTableForLater) {
  RampsTable();
  h->aModeInfo[1].flOutput |= kOutControllerOff;
  EXPECT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 1), 0u);
  EXPECT_EQ(Lut().EntriesStored(), 0u);
  EXPECT_EQ(h->aLut[1].ausLutEntry[256 + 100], table->ausEntry[256 + 100]);
}

TEST_F(ColourTable, PartialSingleRampKeepsTheOtherEntriesAndLoadsNarrowed) {
  LUTRECORD& rec = h->aLut[0];
  rec.ulLutKind = 1;
  for (uint32_t i = 0; i < 1024; ++i) rec.ausLutEntry[i] = static_cast<uint16_t>(i << 6);
  table->ulKind = 1;
  for (uint32_t i = 0; i < 1024; ++i) table->ausEntry[i] = 0xFFFF;
  ASSERT_EQ(HSLKSTSetColorLUT(h, 512, 16, table.get(), 0), 0u);
  // The single ramp is narrowed to three of 256 for the chip's table.
  EXPECT_EQ(rec.ulLutKind, 0u);
  EXPECT_EQ(rec.flLutState & kLutCompensated, kLutCompensated);
  // Output 128 lies at 128 x 1023 / 255 = 513.5, inside the copied entries;
  // output 10 at 40.1, among the entries kept.
  EXPECT_EQ(rec.ausLutEntry[128], 0xFFFF);
  EXPECT_EQ(rec.ausLutEntry[10], 40u * 64 + (30 * 64 + 128) / 255);
  EXPECT_EQ(rec.ausLutEntry[256 + 10], rec.ausLutEntry[10]) << "all three channels";
  EXPECT_EQ(Lut().At(0, 128).red, 0xFFC0u);
  EXPECT_EQ(Lut().At(0, 10).green, rec.ausLutEntry[10] & 0xFFC0u);
}

TEST_F(ColourTable, PackedFormatMapsThePixelSumThroughTheShiftTable) {
  RampsTable();
  for (uint32_t ch = 0; ch < 3; ++ch) table->ausEntry[256 * ch + 10] = 10 * 257;
  h->aModeInfo[0].flOutput = kOutDigital0;
  h->aulDigitalOutputFormat[0] = 4;
  h->ulOutputCaps = 0x20;
  ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 0), 0u);
  // Entry 10: 10 + 2 x 10 + 10 = 40 = 0b101000. Red takes bits 6,7,2,3,8,9,0,1
  // (bit 3 set: 0x08), green 8,9,0,1,-,5,-,4 (bit 5: 0x20), blue
  // -,5,-,4,6,7,2,3 (bits 5 and 3: 0x82).
  EXPECT_EQ(Lut().At(0, 10), (orvsim::LutEntry{0x0800, 0x2000, 0x8200}));
  EXPECT_EQ(h->aLut[0].flLutState & kLutPacked8, kLutPacked8);
  // Without the packing bit, or with a module code above 24, nothing is packed.
  h->ulOutputCaps = 0;
  HSLKSTSetColorLUT(h, 0, 256, table.get(), 0);
  EXPECT_EQ(Lut().At(0, 10).red, 10u * 257 & 0xFFC0);
}

TEST_F(ColourTable, MonoFormatClearsRedAndBlue) {
  RampsTable();
  h->aModeInfo[0].flOutput = kOutDigital1;
  h->aulDigitalOutputFormat[1] = 10;
  ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 0), 0u);
  EXPECT_EQ(Lut().At(0, 200), (orvsim::LutEntry{0, (200 * 257 - 3) & 0xFFC0u, 0}));
}

TEST_F(ColourTable, CompensationUsesTheModulesTable) {
  RampsTable();
  h->ulOutputCaps = 1u << 28;  // module 1's compensation
  h->aMcs[1].ulFactor = 0x10000 + 300;  // only (4 F) mod 65,536 = 1,200 counts
  for (uint32_t g = 0; g < 1024; ++g) h->aMcs[1].aucData[g] = static_cast<uint8_t>(g / 4);
  ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 1), 0u);
  const uint32_t g = (100 * 257 - 3) >> 6;
  EXPECT_EQ(h->aLut[1].ausLutEntry[100], g * 1200 / 1023);
  EXPECT_EQ(h->aLut[1].ausLutEntry[512 + 100], (g / 4) * 256u);
  // Controller 0 (module 0) is not compensated.
  ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 0), 0u);
  EXPECT_EQ(h->aLut[0].ausLutEntry[100], table->ausEntry[100]);
}

// The emulated 10-bit table, read back from the chip and expanded the way the
// chip shows it: entry i gives outputs v, v + c, v + 2c, v + 3c; the first
// two or the last two groups of four take the compensation words.
std::vector<uint16_t> ChipOutputs(orvsim::Board& board, orvsim::ChipLut& lut, uint32_t channel) {
  std::vector<uint16_t> out(1024);
  for (uint32_t i = 0; i < 256; ++i) {
    const orvsim::LutEntry e = lut.At(0, i);
    const uint32_t word = channel == 0 ? e.red : channel == 1 ? e.green : e.blue;
    const uint32_t v = (word & 0xFFC0) >> 6, c = (word >> 16) & 7;
    for (uint32_t k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint16_t>((v + k * c) << 6);
  }
  const bool low = (board.Peek(0x1800, 4) & (1u << 10)) != 0;
  const uint32_t groups[2] = {low ? 0u : 1016u, low ? 4u : 1020u};
  for (uint32_t g = 0; g < 2; ++g)
    for (uint32_t k = 1; k < 4; ++k) {
      const uint32_t byte = (board.Peek(0x180C + 4 * (3 * g + k - 1), 4) >> (8 * channel)) & 0xFF;
      out[groups[g] + k] = static_cast<uint16_t>(std::min<uint32_t>(out[groups[g]] + 64 * byte, 0xFFC0));
    }
  return out;
}

TEST_F(ColourTable, EmulatedTenBitTableShowsTheGoldenOutputs) {
  const auto cases = hwtest::LoadGoldenLut();
  const hwtest::GoldenLut& dim = cases.at("dim");
  table->ulKind = 0;
  for (uint32_t ch = 0; ch < 3; ++ch)
    std::memcpy(table->ausEntry + 256 * ch, dim.in[ch].data(), 512);
  h->aModeInfo[0].ulBpp = 0xC0000;  // no digital output: the emulation is used
  ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 0), 0u);
  for (uint32_t ch = 0; ch < 3; ++ch)
    EXPECT_EQ(ChipOutputs(Board(), Lut(), ch), dim.hw[ch]) << "channel " << ch;
  // The per-channel emulation of the library says the same.
  for (uint32_t ch = 0; ch < 3; ++ch) {
    std::vector<uint16_t> out(1024);
    uint32_t linear = 9;
    EXPECT_EQ(HSLKSTSetEmulated10BitLutPerChannel(h, 0, nullptr, 0, ch, kLutEmulateHardware, &linear,
                                                  out.data()),
              0u);
    EXPECT_EQ(linear, 0u);
    EXPECT_EQ(out, dim.hw[ch]) << "channel " << ch;
    EXPECT_EQ(HSLKSTSetEmulated10BitLutPerChannel(h, 0, nullptr, 0, ch, kLutEmulateBest, &linear,
                                                  out.data()),
              0u);
    EXPECT_EQ(out, dim.best[ch]) << "channel " << ch;
  }
}

TEST_F(ColourTable, EmulationRefusesWhatItCannotShow) {
  uint32_t linear = 0;
  std::vector<uint16_t> out(1024);
  EXPECT_EQ(HSLKSTSetEmulated10BitLutPerChannel(h, 4, nullptr, 0, 0, 1, &linear, out.data()), kErrLutRange);
  h->status = 0;
  EXPECT_EQ(HSLKSTSetEmulated10BitLutPerChannel(h, 0, nullptr, 0, 3, 1, &linear, out.data()), kErrLutRange);
  h->status = 0;
  EXPECT_EQ(HSLKSTSetEmulated10BitLutPerChannel(h, 0, nullptr, 0, 0, 3, &linear, out.data()), kErrLutMethod);
  EXPECT_EQ(linear, 1u);
  h->status = 0;
  linear = 0;
  EXPECT_EQ(HSLKSTSetEmulated10BitLutPerChannel(h, 0, nullptr, 1, 0, 1, &linear, out.data()), kErrLutMethod)
      << "given ramps that are missing";
  EXPECT_EQ(linear, 1u);
}

// ---- The expansion module's table ---------------------------------------------------

class CemTable : public ColourTable {
 protected:
  CemTable() {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 10;
    h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
    h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
    fpga0 = &OnPort1<orvsim::FpgaChip>(0xE0);
    fpga1 = &OnPort1<orvsim::FpgaChip>(0xE2);
    h->aModeInfo[0].flOutput = kOutDigital2;  // through the module
  }
  orvsim::FpgaChip* fpga0;
  orvsim::FpgaChip* fpga1;
};

TEST_F(CemTable, LoadSendsOnlyTheBytesThatChanged) {
  table->ulKind = 1;
  for (uint32_t i = 0; i < 1024; ++i) table->ausEntry[i] = static_cast<uint16_t>(std::min(65535u, i * 70));
  ASSERT_EQ(HSLKSTSetColorLUT(h, 0, 1024, table.get(), 0), 0u);
  EXPECT_EQ(h->status, 0u);
  // The writes expected: each triple against the one before (0xFF x 3 at
  // first), every run of changed bytes in one transfer.
  std::vector<orvsim::I2cTransfer> want;
  uint8_t previous[3] = {0xFF, 0xFF, 0xFF};
  for (uint32_t i = 0; i < 1024; ++i) {
    const uint32_t v = std::min(table->ausEntry[i] + 32u, 0xFFFFu) & 0xFFC0;
    const uint8_t triple[3] = {static_cast<uint8_t>(i >> 2), static_cast<uint8_t>(v >> 8),
                               static_cast<uint8_t>((i & 3) | ((v >> 4) & 0x0C) | 0x90)};
    for (uint32_t k = 0; k < 3;) {
      if (triple[k] == previous[k]) {
        ++k;
        continue;
      }
      orvsim::I2cTransfer t{false, static_cast<uint8_t>(3 + k), {}};
      while (k < 3 && triple[k] != previous[k]) t.bytes.push_back(triple[k++]);
      want.push_back(t);
    }
    std::memcpy(previous, triple, 3);
  }
  const std::vector<orvsim::I2cTransfer> got = fpga1->DataWrites();
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) ASSERT_EQ(got[k], want[k]) << "transfer " << k;
  EXPECT_TRUE(fpga0->DataWrites().empty()) << "FPGA 1 serves digital output 2";
  EXPECT_EQ(hw.Reg(0x1800) & (1u << 9), 1u << 9) << "the chip's own table is bypassed";
  EXPECT_EQ(h->aLut[0].flLutState & kLutInCem, kLutInCem);
}

TEST_F(CemTable, PackedRampsAreWidenedForTheModule) {
  RampsTable();
  h->aulDigitalOutputFormat[2] = 5;
  // The FPGA does not answer: the load stops at its first entry.
  for (unsigned attempt = 1; attempt <= 8; ++attempt) fpga1->NakAddressOnAttempt(attempt);
  EXPECT_EQ(HSLKSTSetColorLUT(h, 0, 256, table.get(), 0), 0xb2504125u);
  EXPECT_EQ(h->aLut[0].ulLutKind, 1u);
  EXPECT_EQ(h->aLut[0].flLutState & kLutWidened, kLutWidened);
  uint16_t green[256], wide[1024];
  for (uint32_t i = 0; i < 256; ++i) green[i] = table->ausEntry[256 + i];
  RemapData_us256to1024(green, wide);
  EXPECT_EQ(std::memcmp(h->aLut[0].ausLutEntry, wide, sizeof(wide)), 0) << "the green ramp, widened";
  EXPECT_EQ(fpga1->AddressAttempts(), 8u);
  EXPECT_EQ(Lut().EntriesStored(), 0u) << "the chip's own table is not loaded";
}

}  // namespace
