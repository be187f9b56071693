// Board description blocks and serial memories over the simulated board:
// the option ROM shown in the memory window, the SPI flash behind register
// 0x304 and the configuration EEPROM on I2C port 1.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hwsharing/chip/bios_pins.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/eeprom_flash.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/mcs.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/chip_rom_flash.h"

namespace {

constexpr uint32_t kRomSize = 64 * 1024;
constexpr uint32_t kWindow = 1u << 20;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A PInS block of `length` bytes at `at`: signature, length (byte below
// version 0x600, word from it), version, a pattern, and a last byte that
// makes the sum 0 unless `badSum`.
void PutPins(std::vector<uint8_t>& rom, size_t at, uint16_t version, uint32_t length,
             bool badSum = false) {
  for (uint32_t i = 0; i < length; ++i) rom[at + i] = static_cast<uint8_t>(i * 7 + 1);
  Put16(rom, at, 0x412E);
  if (version < 0x600)
    rom[at + 2] = static_cast<uint8_t>(length), rom[at + 3] = 0;
  else
    Put16(rom, at + 2, length);
  Put16(rom, at + 4, version);
  uint8_t sum = 0;
  for (uint32_t i = 0; i + 1 < length; ++i) sum = static_cast<uint8_t>(sum + rom[at + i]);
  rom[at + length - 1] = static_cast<uint8_t>(-sum + (badSum ? 1 : 0));
}

std::vector<uint8_t> BaseRom() {
  std::vector<uint8_t> rom(kRomSize, 0);
  rom[0] = 0x55;
  rom[1] = 0xAA;
  rom[2] = 0x80;  // 64 KiB image
  rom[5] = 3;     // fallback version 3 x 4096
  return rom;
}

class BoardDesc : public testing::Test {
 protected:
  void Make(const std::vector<uint8_t>& rom, uint16_t device = 0x5D61) {
    TearDown();
    orvsim::BoardConfig config = hwtest::Config(device);
    config.rom_size = kRomSize;
    config.rom_image = rom;
    hw = std::make_unique<hwtest::HwBoard>(config);
    chip = hw->AddParts(orvmachine::kRomFlash).rom.get();
    ASSERT_EQ(hw->Open(), 0u);
    mem = xf86open("/dev/mem", O_RDWR);
    for (const orvsim::BarInfo& bar : hw->board().Bars()) {
      if (bar.kind == orvsim::ResourceKind::kMemory)
        fb = xf86mmap(nullptr, kWindow, PROT_READ | PROT_WRITE, MAP_SHARED, mem,
                      static_cast<off_t>(bar.base));
    }
    ASSERT_NE(fb, MAP_FAILED);
    hw->client().frameBuffer = static_cast<volatile uint8_t*>(fb);
    std::memset(hw->board().Memory(), 0x5A, 4096);  // the frame buffer's own bytes
  }
  void TearDown() override {
    if (fb != nullptr && fb != MAP_FAILED) xf86munmap(fb, kWindow);
    if (mem >= 0) xf86close(mem);
    fb = nullptr;
    mem = -1;
    chip = nullptr;
    hw.reset();
  }
  BOARDHANDLE* h() { return hw->h(); }

  std::unique_ptr<hwtest::HwBoard> hw;
  orvsim::ChipRomFlash* chip = nullptr;  // the machine's
  int mem = -1;
  void* fb = nullptr;
};

TEST_F(BoardDesc, PinsFromTheOptionRom) {
  struct Row {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> build;
    bool fromRom;
    uint32_t copied;  // bytes of the block in the area
    size_t blockAt;
  };
  const Row rows[] = {
      {"version 5, length byte",
       [](std::vector<uint8_t>& r) { Put16(r, 0x7FFC, 0x4000); PutPins(r, 0x4000, 0x502, 64); },
       true, 64, 0x4000},
      {"version 6, length word",
       [](std::vector<uint8_t>& r) { Put16(r, 0x7FFC, 0x4000); PutPins(r, 0x4000, 0x60A, 300); },
       true, 300, 0x4000},
      {"length beyond the area is cut to it",
       [](std::vector<uint8_t>& r) { Put16(r, 0x7FFC, 0x4000); PutPins(r, 0x4000, 0x60A, 2000); },
       true, kPinsDataSize, 0x4000},
      {"bad sum: the scan finds a second block",
       [](std::vector<uint8_t>& r) {
         Put16(r, 0x7FFC, 0x4000);
         PutPins(r, 0x4000, 0x60A, 300, true);
         PutPins(r, 0x9000, 0x502, 100);
       },
       true, 100, 0x9000},
      {"no block at all",
       [](std::vector<uint8_t>& r) { Put16(r, 0x7FFC, 0x4000); }, false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> rom = BaseRom();
    row.build(rom);
    Make(rom);
    const uint32_t options = hw->board().Pci().Peek(0x40, 4);
    const uint32_t romBar = hw->board().Pci().Peek(0x30, 4);
    uint32_t version = 0;
    EXPECT_EQ(HSLBIOSReadPins(h(), &version), 0u);
    const uint8_t* area = h()->oPins.aucData;
    if (row.fromRom) {
      EXPECT_EQ(std::memcmp(area, rom.data() + row.blockAt, row.copied), 0);
      for (uint32_t i = row.copied; i < kPinsDataSize; ++i) ASSERT_EQ(area[i], 0) << i;
      EXPECT_EQ(h()->ulBoardFlags & kBoardFlagPinsNotFromRom, 0u);
    } else {
      for (uint32_t i = 0; i < kPinsDataSize; ++i) ASSERT_EQ(area[i], 0) << i;
      EXPECT_NE(h()->ulBoardFlags & kBoardFlagPinsNotFromRom, 0u);
    }
    EXPECT_EQ(version, 3u * 4096);  // no PCI data structure: byte 5
    // Configuration space and the memory window are as before.
    EXPECT_EQ(hw->board().Pci().Peek(0x40, 4), options);
    EXPECT_EQ(hw->board().Pci().Peek(0x30, 4), romBar);
    EXPECT_FALSE(chip->RomVisible());
    EXPECT_EQ(hw->board().Memory()[0], 0x5A);
    TearDown();
  }
}

TEST_F(BoardDesc, BiosVersionFlagsAndTextFromTheRom) {
  std::vector<uint8_t> rom = BaseRom();
  Put16(rom, 0x18, 0x60);
  std::memcpy(rom.data() + 0x60, "PCIR", 4);
  rom[0x60 + 18] = 0x12;
  rom[0x60 + 19] = 0x34;
  std::memcpy(rom.data() + 29, " IBM (V1.2ITVO)", 16);  // "TVO" six after "(V"
  rom[0x7FF1] = 0x21;
  Make(rom);
  uint32_t version = 0;
  EXPECT_EQ(HSLBIOSReadPins(h(), &version), 0u);
  EXPECT_EQ(version, 0x12034u);
  EXPECT_STREQ(h()->oPins.szBiosVersion, "1.2ITVO");
  EXPECT_EQ(h()->oPins.ulBiosFlags, 0x21u | kBiosFlagTv | kBiosFlagTextI);

  uint32_t only = 7;
  EXPECT_EQ(HSLBIOSGetVersion(h(), &only), 0u);
  EXPECT_EQ(only, 0x12034u);
}

TEST_F(BoardDesc, VersionWithoutPciDataIsAnError) {
  // The caller's version stays; a version of 0 comes from ROM byte 5.
  struct Row {
    uint32_t given, expected;
  } rows[] = {{7, 7}, {0, 3u * 4096}};
  for (const Row& row : rows) {
    Make(BaseRom());
    const uint32_t romBar = hw->board().Pci().Peek(0x30, 4);
    uint32_t version = row.given;
    EXPECT_EQ(HSLBIOSGetVersion(h(), &version), kErrBiosNoPciData) << row.given;
    EXPECT_EQ(version, row.expected) << row.given;
    EXPECT_EQ(hw->board().Pci().Peek(0x30, 4), romBar) << row.given;
    EXPECT_FALSE(chip->RomVisible()) << row.given;
    TearDown();
  }
}

TEST_F(BoardDesc, FlashIdentification) {
  struct Row {
    orvsim::FlashKind kind;
    uint32_t maker, page, size;
    const char* name;
    std::vector<uint8_t> commands;
  };
  const Row rows[] = {
      {orvsim::FlashKind::kAtmel, 31, 256, 0x20000, "ATMEL AT25F1024", {0x15}},
      {orvsim::FlashKind::kSt, 16, 128, 0x20000, "ST M25P10", {0x15, 0xAB}},
      {orvsim::FlashKind::kSst, 191, 1, 0x20000, "SST SST25VF010", {0x15, 0xAB}},
      {orvsim::FlashKind::kPmc, 157, 256, 0x20000, "PMC 25LV010", {0x15, 0xAB}},
      {orvsim::FlashKind::kUnknown, 0, 0, 0, "", {0x15, 0xAB}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Make(BaseRom());
    chip->SetFlash(row.kind, {});
    SEINFO se;
    uint32_t found = 0;
    EXPECT_EQ(HSLOpenSE(h(), kSeKindBios, &se, &found), 0u);
    EXPECT_EQ(found, 1u);  // an unidentified part still opens
    EXPECT_EQ(se.ulManufacturer, row.maker);
    EXPECT_EQ(se.ulPageSize, row.page);
    EXPECT_EQ(se.ulSize, row.size);
    EXPECT_STREQ(se.szPartName, row.name);
    EXPECT_EQ(chip->Commands(), row.commands);
    EXPECT_EQ(hw->Reg(0x304) & 1u, 0u);  // bypass dropped after each command
    HSLCloseSE(h(), &se);
    TearDown();
  }
}

TEST_F(BoardDesc, FlashReadsWhatTheFlashHolds) {
  Make(BaseRom());
  std::vector<uint8_t> image(0x20000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  chip->SetFlash(orvsim::FlashKind::kSst, image);
  SEINFO se;
  uint32_t found = 0;
  ASSERT_EQ(HSLOpenSE(h(), kSeKindBios, &se, &found), 0u);
  uint8_t got[40];
  EXPECT_EQ(HSLReadSE(&se, 0x1FFF0, sizeof got, got), 0u);  // wraps at the end of the part
  for (size_t i = 0; i < sizeof got; ++i)
    EXPECT_EQ(got[i], image[(0x1FFF0 + i) % image.size()]) << i;
  EXPECT_EQ(HSLWriteSE(&se, 0, 1, got), 0u);  // no write routine: nothing happens
}

// A flash image: ROM header, then a chain of blocks from 4 x 512.
std::vector<uint8_t> McsImage(bool goodSum1, uint32_t firstLength) {
  std::vector<uint8_t> f(0x20000, 0xFF);
  f[0] = 0x55;
  f[1] = 0xAA;
  f[2] = 4;
  Put32(f, 2048, 0x31415926);  // some other block
  Put32(f, 2052, firstLength);
  const size_t mcs = 2048 + 64;
  Put32(f, mcs, 0x2053434D);
  Put32(f, mcs + 4, 0x900);
  for (int r = 0; r < 2; ++r) {
    const size_t data = 0x100 + 0x400 * r;
    uint16_t sum = 0;
    for (int i = 0; i < 1024; ++i) {
      f[mcs + data + i] = static_cast<uint8_t>(i * (r + 3));
      sum = static_cast<uint16_t>(sum + f[mcs + data + i]);
    }
    const size_t e = mcs + 32 + 16 * r;
    Put32(f, e, static_cast<uint32_t>(data));
    Put16(f, e + 4, r == 1 && !goodSum1 ? sum + 1 : sum);
    Put16(f, e + 6, 0x1AC);  // fields 6, 5, 4
    f[e + 8] = static_cast<uint8_t>(9 + r);
  }
  return f;
}

TEST_F(BoardDesc, McsRecordsFromTheFlashChain) {
  struct Row {
    const char* name;
    bool goodSum1;
    uint32_t firstLength;
    bool found0, found1;
  };
  const Row rows[] = {
      {"good sums", true, 64, true, true},
      {"bad sum on record 1", false, 64, true, false},
      {"a zero length ends the walk", true, 0, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Make(BaseRom());
    const std::vector<uint8_t> image = McsImage(row.goodSum1, row.firstLength);
    chip->SetFlash(orvsim::FlashKind::kPmc, image);
    for (uint32_t r = 0; r < 2; ++r) {
      auto record = std::make_unique<MCSRECORD>();
      std::memset(record.get(), 0xEE, sizeof(MCSRECORD));
      EXPECT_EQ(HSLMCSReadData(h(), r, 1024, record.get()), 0u);
      const bool found = r == 0 ? row.found0 : row.found1;
      if (found) {
        EXPECT_EQ(record->ulFactor, 9 + r);
        EXPECT_EQ(record->ulFormatHigh, 6u);
        EXPECT_EQ(record->ulFormatMid, 5u);
        EXPECT_EQ(record->ulFormatLow, 4u);
        EXPECT_EQ(std::memcmp(record->aucData, image.data() + 2112 + 0x100 + 0x400 * r, 1024), 0);
      } else {
        const std::vector<uint8_t> zero(sizeof(MCSRECORD), 0);
        EXPECT_EQ(std::memcmp(record.get(), zero.data(), zero.size()), 0);
      }
    }
    TearDown();
  }
}

TEST_F(BoardDesc, McsChainWalkEndsAfter256Blocks) {
  // 8-byte blocks from the first image's end up to the blocks of McsImage:
  // from 1024 the MCS block is the 130th, from 0 the 258th.
  struct Row {
    uint8_t sectors;
    bool found;
  } const rows[] = {{2, true}, {0, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sectors);
    Make(BaseRom());
    std::vector<uint8_t> image = McsImage(true, 64);
    image[2] = row.sectors;
    for (uint32_t at = row.sectors * 512u; at < 2048; at += 8) {
      if (at != 0) Put32(image, at, 1);
      Put32(image, at + 4, 8);
    }
    chip->SetFlash(orvsim::FlashKind::kPmc, image);
    auto record = std::make_unique<MCSRECORD>();
    EXPECT_EQ(HSLMCSReadData(h(), 0, 1024, record.get()), 0u);
    EXPECT_EQ(record->ulFactor, row.found ? 9u : 0u);
    TearDown();
  }
}

TEST_F(BoardDesc, McsOnAnUnidentifiedFlashFindsNothing) {
  Make(BaseRom());
  chip->SetFlash(orvsim::FlashKind::kUnknown, McsImage(true, 64));
  auto record = std::make_unique<MCSRECORD>();
  EXPECT_EQ(HSLMCSReadData(h(), 0, 1024, record.get()), 0u);
  EXPECT_EQ(record->ulFactor, 0u);
}

TEST_F(BoardDesc, PinsAndVersionFromTheFlash) {
  Make(BaseRom());
  std::vector<uint8_t> image = BaseRom();
  image.resize(0x20000, 0xFF);
  Put16(image, 0x18, 0x40);
  std::memcpy(image.data() + 0x40, "PCIR", 4);
  image[0x40 + 18] = 0x21;
  image[0x40 + 19] = 7;
  std::memcpy(image.data() + 0x80, "BIOS (V2.1b07)", 14);
  Put16(image, 0x7FFC, 0x5000);
  PutPins(image, 0x5000, 0x60A, 900);  // longer than the area
  chip->SetFlash(orvsim::FlashKind::kAtmel, image);
  std::vector<uint8_t> area(kPinsDataSize + 16, 0xCC);
  uint32_t version = 0;
  char text[kBiosVersionTextSize];
  EXPECT_EQ(HSLBIOSReadData(h(), area.data(), &version, text), 0u);
  EXPECT_EQ(version, 0x21007u);
  EXPECT_STREQ(text, "2.1 - 7 b0");  // fifth and sixth after the '('
  EXPECT_EQ(std::memcmp(area.data(), image.data() + 0x5000, kPinsDataSize), 0);
  EXPECT_EQ(area[kPinsDataSize], 0xCC);  // nothing written past the area
}

TEST_F(BoardDesc, FlashWithoutPciDataGivesNoText) {
  Make(BaseRom());
  chip->SetFlash(orvsim::FlashKind::kAtmel, BaseRom());
  std::vector<uint8_t> area(kPinsDataSize);
  uint32_t version = 5;
  char text[kBiosVersionTextSize];
  EXPECT_EQ(HSLBIOSReadData(h(), area.data(), &version, text), kErrBiosNoVersionText);
  EXPECT_EQ(version, 0u);
}

// ---- Configuration EEPROM on I2C port 1 -------------------------------------------------

class Eeprom : public BoardDesc {
 protected:
  void SetUp() override {
    Make(BaseRom());
    hw->Chip();  // port 1 on GPIO lines 1 (SCL) and 0 (SDA)
    std::vector<uint8_t> contents(256);
    for (int i = 0; i < 256; ++i) contents[i] = static_cast<uint8_t>(255 - i);
    slave = &chip->AddConfigEeprom(1, 0x50, contents);
    h()->oCfgEeprom = {1, 1, 0xA0, 0};
    uint32_t found = 0;
    ASSERT_EQ(HSLOpenSE(h(), kSeKindConfig, &se, &found), 0u);
    ASSERT_EQ(found, 1u);
  }
  orvsim::I2cRegisterSlave* slave = nullptr;
  SEINFO se;
};

TEST_F(Eeprom, ReadBounds) {
  uint8_t got[6] = {};
  EXPECT_EQ(HSLReadSE(&se, 250, 6, got), 0u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], 255 - (250 + i));
  EXPECT_EQ(HSLReadSE(&se, 251, 6, got), kErrEepromReadParams);
  h()->status = 0;
  EXPECT_EQ(HSLReadSE(&se, 0xFFFFFFF0u, 32, got), kErrEepromReadParams);  // no wrap-around
  h()->status = 0;
  EXPECT_EQ(HSLReadSE(&se, 0, 1, nullptr), kErrEepromReadParams);
}

TEST_F(Eeprom, WriteStoresEveryByte) {
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(HSLWriteSE(&se, 100, 5, data), 0u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(slave->Contents()[100 + i], data[i]) << i;
  EXPECT_EQ(slave->Contents()[105], 255 - 105);
  EXPECT_EQ(HSLWriteSE(&se, 252, 5, data), kErrEepromWriteParams);
}

TEST_F(Eeprom, AMissingPartFailsTheWrite) {
  h()->oCfgEeprom.ulAddress = 0xA4;  // nobody answers there
  const std::vector<uint8_t> before = slave->Contents();
  const uint8_t data[2] = {0x11, 0x22};
  EXPECT_EQ(HSLWriteSE(&se, 10, 2, data), kErrEepromWriteFailed);
  EXPECT_EQ(slave->Contents(), before);
  // The port was closed and the bus left idle.
  EXPECT_EQ(h()->oI2cPort.ulOpen, 0u);
  EXPECT_TRUE(hw->board().I2c(orvsim::kBusBoardPort1).SclLevel());
  EXPECT_TRUE(hw->board().I2c(orvsim::kBusBoardPort1).SdaLevel());
}

TEST_F(Eeprom, AMissingPartFailsTheRead) {
  h()->oCfgEeprom.ulAddress = 0xA4;  // nobody answers there
  uint8_t got[4];
  EXPECT_EQ(HSLReadSE(&se, 0, 4, got), kErrEepromReadFailed);
  h()->status = 0;
  h()->oCfgEeprom.ulPresent = 0;
  EXPECT_EQ(HSLReadSE(&se, 0, 4, got), kErrEepromReadParams);
}

}  // namespace
