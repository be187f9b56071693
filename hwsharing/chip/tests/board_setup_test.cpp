#include <gtest/gtest.h>

#include "hwsharing/chip/board_setup.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/tests/hw_fixture.h"

namespace {

constexpr uint64_t kFbBase = 0x90100000;   // inside a 16 MB block, outside an 8 MB one
constexpr uint64_t kRegBase = 0x81FFE000;  // 8 KB aligned, not 16 KB aligned

orvsim::BoardConfig SetupConfig(uint16_t device, uint8_t revision) {
  orvsim::BoardConfig c = hwtest::Config(device, revision);
  c.memory_size = 1u << 20;
  c.frame_buffer_base = kFbBase;
  c.register_base = kRegBase;
  return c;
}

struct SetupRow {
  const char* name;
  uint16_t device;
  uint8_t revision;
  HALSTATUS setupStatus;
  uint32_t fbLow;
  uint32_t regLow;
  HALSTATUS initStatus;
};

// The frame-buffer register reads 0x90100008 (prefetchable), the register
// window's 0x81FFE000.
const SetupRow kSetupRows[] = {
    {"0x0A41", 0x0A41, 0, 0, 0x90000000, 0x81FFE000, 0},
    {"0x0A42", 0x0A42, 0, 0, 0x90000000, 0x81FFE000, 0},
    {"0x5D61", 0x5D61, 1, 0, 0x90000000, 0x81FFE000, 0},
    {"0x5D62", 0x5D62, 0, 0, 0x90000000, 0x81FFE000, 0},
    {"0x5D63", 0x5D63, 0, 0, 0x90000000, 0x81FFE000, 0},
    {"older 0x6A19", 0x6A19, 0, 0, 0x90000000, 0x81FFC000, kErrChipNotSupported},
    {"older 0x6A1A rev 3", 0x6A1A, 3, 0, 0x90100000, 0x81FFE000, kErrChipNotSupported},
    {"older 0x6A1A rev 2, swapped", 0x6A1A, 2, 0, 0x81FFE000, 0x90100008, kErrChipNotSupported},
    {"older 0x6A1B", 0x6A1B, 0, 0, 0x90000000, 0x81FFC000, kErrChipNotSupported},
    {"older 0x6C27", 0x6C27, 0, 0, 0x90000000, 0x81FFC000, kErrChipNotSupported},
    {"unknown id", 0x1234, 0, kErrUnknownDeviceId, 0, 0, kErrUnknownDeviceId},
};

TEST(BoardSetup, MasksAndBaseRegisterOrderPerDevice) {
  for (const SetupRow& row : kSetupRows) {
    hwtest::HwBoard hw(SetupConfig(row.device, row.revision));
    BOARDHANDLE* h = hw.h();
    EXPECT_EQ(HALPGetBoardConfigSpaceInfo(h), row.setupStatus) << row.name;
    EXPECT_EQ(h->usDeviceId, row.device) << row.name;
    EXPECT_EQ(h->usVendorId, orvsim::kKestrionVendorId) << row.name;
    EXPECT_EQ(h->ulRevision, row.revision) << row.name;
    EXPECT_EQ(h->ulFrameBufferApertureLow, row.fbLow) << row.name;
    EXPECT_EQ(h->ulRegisterApertureLow, row.regLow) << row.name;
    EXPECT_EQ(h->ulFrameBufferApertureHigh, 0u) << row.name;
    EXPECT_EQ(h->ulRegisterApertureHigh, 0u) << row.name;
    EXPECT_EQ(HSLInit(h), row.initStatus) << row.name;
    EXPECT_EQ(h->pFPFunctions != nullptr, row.initStatus == 0) << row.name;
  }
}

TEST(BoardSetup, ClearsTheHandleButKeepsTheClientPointer) {
  hwtest::HwBoard hw(SetupConfig(0x5D61, 0));
  BOARDHANDLE* h = hw.h();
  ASSERT_EQ(HALPGetBoardConfigSpaceInfo(h), 0u);
  EXPECT_EQ(h->ulSignature, 15292u);
  EXPECT_EQ(h->ulLibraryVersion, 584u);
  EXPECT_EQ(h->pClient, &hw.client());
  for (uint8_t b : h->aucReserved) ASSERT_EQ(b, 0);
  EXPECT_EQ(h->aModeInfo[3].flOutput, 0u);
  for (const LUTRECORD& lut : h->aLut) {
    EXPECT_EQ(lut.flLutState, 0u);
    EXPECT_EQ(lut.ulLutKind, 0u);
    for (unsigned k = 0; k < 256; ++k) {
      ASSERT_EQ(lut.ausLutEntry[k], k * 257);
      ASSERT_EQ(lut.ausLutEntry[256 + k], k * 257);
      ASSERT_EQ(lut.ausLutEntry[512 + k], k * 257);
    }
  }
}

TEST(BoardSetup, SixtyFourBitFrameBuffer) {
  orvsim::BoardConfig c = SetupConfig(0x5D63, 0);
  c.frame_buffer_64bit = true;
  c.frame_buffer_base = 0x500000000ull;
  hwtest::HwBoard hw(c);
  // A 32-bit register base at 0x18; whatever sits at 0x1C is not its upper half.
  hw.board().Pci().Poke(0x1C, 4, 0x12345678);
  BOARDHANDLE* h = hw.h();
  EXPECT_EQ(HALPGetBoardConfigSpaceInfo(h), 0u);
  EXPECT_EQ(h->ulFrameBufferApertureLow, 0u);
  EXPECT_EQ(h->ulFrameBufferApertureHigh, 5u);
  EXPECT_EQ(h->ulRegisterApertureLow, 0x81FFE000u);
  EXPECT_EQ(h->ulRegisterApertureHigh, 0u);
}

TEST(BoardSetup, VgaFlagsAndChipOptionBits) {
  hwtest::HwBoard hw(SetupConfig(0x0A42, 0));
  hw.board().Pci().Poke(0x40, 4, 0x00000003);
  BOARDHANDLE* h = hw.h();
  EXPECT_EQ(HALPGetBoardConfigSpaceInfo(h), 0u);
  EXPECT_EQ(h->ulBoardFlags, kBoardFlagVgaDevice | kBoardFlagVgaClass | (3u << 25));
}

TEST(BoardSetup, VgaBoardWithoutIoDecodingGivesUpVgaAndDecodesMemory) {
  orvsim::BoardConfig c = SetupConfig(0x5D62, 0);
  c.command = 0;
  hwtest::HwBoard hw(c);
  hw.board().Pci().SetWritable(0x40, 4, 0xFFFFFFFF);
  hw.board().Pci().Poke(0x40, 4, 0x00000102);
  BOARDHANDLE* h = hw.h();
  EXPECT_EQ(HALPGetBoardConfigSpaceInfo(h), 0u);
  EXPECT_TRUE(hw.board().Pci().MemoryDecode());
  EXPECT_EQ(hw.board().Pci().Peek(0x40, 4), 0x00000002u);
  EXPECT_EQ(h->ulBoardFlags & kBoardFlagVgaDevice, 0u);
  EXPECT_NE(h->ulBoardFlags & kBoardFlagVgaClass, 0u);
}

TEST(BoardSetup, MemoryDecodingOffIsAnError) {
  struct Row {
    const char* name;
    uint32_t classCode;
    uint16_t command;
  } rows[] = {
      {"other display class", orvsim::kClassOtherDisplay, orvsim::kPciCommandIo},
      {"VGA class decoding I/O", orvsim::kClassVgaDisplay, orvsim::kPciCommandIo},
  };
  for (const Row& row : rows) {
    orvsim::BoardConfig c = SetupConfig(0x5D61, 0);
    c.class_code = row.classCode;
    c.command = row.command;
    hwtest::HwBoard hw(c);
    BOARDHANDLE* h = hw.h();
    EXPECT_EQ(HALPGetBoardConfigSpaceInfo(h), kErrMemoryDecodingOff) << row.name;
    EXPECT_EQ(h->ulRegisterApertureLow, 0x81FFE000u) << row.name;
    // Later chip-layer steps are no-ops.
    EXPECT_EQ(HSLInit(h), kErrMemoryDecodingOff) << row.name;
    EXPECT_EQ(h->pMISCFunctions, nullptr) << row.name;
  }
}

}  // namespace
