// VGA register state saved and restored as one block, and the low-level
// device access lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/vga.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

using hwtest::ChipTest;

// The 80x25 colour text mode (mode 3) of the public VGA register tables.
const uint8_t kPublicSeq[4] = {0x00, 0x03, 0x00, 0x02};
const uint8_t kPublicMisc = 0x67;
const uint8_t kPublicCrtc[25] = {0x5F, 0x4F, 0x50, 0x82, 0x55, 0x81, 0xBF, 0x1F, 0x00,
                                 0x4F, 0x0D, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x9C, 0x8E,
                                 0x8F, 0x28, 0x1F, 0x96, 0xB9, 0xA3, 0xFF};
const uint8_t kPublicAttr[20] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x14, 0x07, 0x38, 0x39,
                                 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x0C, 0x00, 0x0F, 0x08};
const uint8_t kPublicGfx[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x0E, 0x00, 0xFF};

class VgaState : public ChipTest {};

TEST_F(VgaState, BlockRoundTripsThroughTheChip) {
  VGAINFO written;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(&written);
  for (size_t i = 0; i < sizeof(written); ++i) bytes[i] = static_cast<uint8_t>(0x11 + 7 * i);
  std::memset(written.aucReserved, 0, sizeof(written.aucReserved));
  written.aucCrtc[0x11] = 0x0E;  // ends unprotected so the test can compare
  EXPECT_EQ(HSLVGAWriteVgaInfo(h, &written), 0u);
  VGAINFO read;
  std::memset(&read, 0xEE, sizeof(read));
  std::memset(read.aucReserved, 0, sizeof(read.aucReserved));
  EXPECT_EQ(HSLVGAReadVgaInfo(h, &read), 0u);
  EXPECT_EQ(std::memcmp(&read, &written, sizeof(VGAINFO)), 0);
  for (unsigned i = 0; i < 20; ++i) EXPECT_EQ(Vga().Attr(i), written.aucAttr[i]) << "attribute " << i;
  // The save leaves the display on: index 0x20 written last.
  EXPECT_EQ(Board().RegRead(orvsim::kVgaAttribute, 1), 0x20u);
}

TEST_F(VgaState, DefaultBlockIsTheTextModeWithTheScreenOff) {
  VGAINFO block = HSLVGAInfoDefault;
  HSLVGAWriteVgaInfo(h, &block);
  EXPECT_EQ(Vga().Seq(1), 0x20) << "screen off where the text mode has 0";
  for (unsigned i = 2; i <= 4; ++i) EXPECT_EQ(Vga().Seq(i), kPublicSeq[i - 1]) << "sequencer " << i;
  EXPECT_EQ(Vga().Misc(), kPublicMisc);
  for (unsigned i = 0; i < 25; ++i) EXPECT_EQ(Vga().Crtc(i), kPublicCrtc[i]) << "CRTC " << i;
  for (unsigned i = 0; i < 20; ++i) EXPECT_EQ(Vga().Attr(i), kPublicAttr[i]) << "attribute " << i;
  for (unsigned i = 0; i < 9; ++i) EXPECT_EQ(Vga().Gfx(i), kPublicGfx[i]) << "graphics " << i;
}

TEST_F(VgaState, ProtectedBlockStillRewritesTheGuardedRegisters) {
  Vga().SetCrtc(0x11, 0x80);  // the chip is protected now
  VGAINFO block = HSLVGAInfoDefault;
  block.aucCrtc[0x11] = 0x8E;  // and the saved block protects too
  for (uint8_t i = 0; i < 8; ++i) block.aucCrtc[i] = static_cast<uint8_t>(0xA0 + i);
  HSLVGAWriteVgaInfo(h, &block);
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(Vga().Crtc(i), 0xA0 + i) << "CRTC " << i;
  EXPECT_EQ(Vga().Crtc(0x11), 0x8E);
  for (const orvsim::VgaWrite& w : Vga().Writes()) EXPECT_FALSE(w.dropped) << int(w.index);
}

// ---- Low-level device access ------------------------------------------------------

class DeviceAccess : public ChipTest {
 protected:
  uint32_t Run(std::vector<uint32_t> words) {
    results.assign(8, 0xDEADBEEF);
    count = 0xFFFF;
    return HALPLowLevelDeviceAccess(h, static_cast<uint32_t>(words.size()), words.data(), &count,
                                    results.data());
  }
  uint64_t NowUs() { return hw.sim().GetClock().Now() / 1000; }

  std::vector<uint32_t> results;
  uint32_t count = 0;
};

TEST_F(DeviceAccess, WaitsRunAndGiveNoResults) {
  uint64_t before = NowUs();
  EXPECT_EQ(Run({0x01020064}), 1u);  // control 2: 100 microseconds
  EXPECT_EQ(count, 0u);
  EXPECT_NEAR(double(NowUs() - before), 100.0, 2.0);
  before = NowUs();
  EXPECT_EQ(Run({0x01030000, 5000, 0x01010000}), 1u);  // control 3 then nothing
  EXPECT_NEAR(double(NowUs() - before), 5000.0, 10.0);
}

TEST_F(DeviceAccess, RefusedWordsEndTheListWithNoCount) {
  struct Row {
    const char* name;
    std::vector<uint32_t> words;
  } rows[] = {
      {"register access", {0x01010000, 0x02000800, 0x1C00}},
      {"configuration access", {0x03000000, 0x04}},
      {"class 0", {0x00000000}},
      {"class 5", {0x05000000}},
      {"control code 4", {0x01040000}},
      {"long wait without its word", {0x01010000, 0x01030000}},
      {"I2C command without its device word", {0x04000000}},
      {"device kind 4", {0x04000000, 0x04000000}},
      {"encoder 4", {0x04000000, 0x41004A00}},
      {"FPGA 2", {0x04000000, 0x23001E00}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Run(r.words), 0u) << r.name;
    EXPECT_EQ(count, 0u) << r.name;
  }
}

TEST_F(DeviceAccess, I2cCommandsReachTheirChips) {
  h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x81};
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  auto& encoder = OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  auto& fpga = OnPort1<orvsim::FpgaChip>(0xE0);
  auto& fan = OnPort1<orvsim::FanChip>();
  EXPECT_EQ(Run({0x04000000, 0x11004A00,     // encoder 1, read 0x4A
                 0x04000400, 0x03001E5A,     // FPGA 0, write 0x5A to 30
                 0x04000000, 0x02000700,     // fan, read its id
                 0x04000800, 0x11004A00}),   // operation 2 does nothing
            1u);
  EXPECT_EQ(h->status, 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(results[0], 0x81u);
  EXPECT_EQ(results[1], 0x54u);
  EXPECT_EQ(results[2], 0xDEADBEEFu);
  EXPECT_EQ(fpga.Register(30), 0x5A);
  EXPECT_EQ(encoder.Transfers().size(), 2u) << "pointer write, then the read";
  EXPECT_EQ(fan.Transfers().size(), 2u);
}

TEST_F(DeviceAccess, FailedTransfersGoToTheStatusAndTheListGoesOn) {
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x80};  // nobody answers
  Port1();
  EXPECT_EQ(Run({0x04000000, 0x01004A00, 0x01010000}), 1u);
  EXPECT_EQ(h->status, kErrChrRead);
  EXPECT_EQ(count, 1u);
}

}  // namespace
