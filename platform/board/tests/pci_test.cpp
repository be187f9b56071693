// Configuration space as a driver sees it: identity, base address sizing,
// decode bits, capability lists and a bus scan across bridges. The scan and
// the sizing here are written from the PCI rules, independently of the
// simulator's own code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/board/simulation.h"

namespace orvsim {
namespace {

BoardConfig At(unsigned bus, unsigned device, unsigned function = 0) {
  BoardConfig config;
  config.location = PciLocation{bus, device, function};
  return config;
}

// Sizes a base address register the way a driver does: remember, write
// all-ones, read back, put the old value back.
struct Sized {
  uint32_t original;
  uint32_t readback;
  uint32_t restored;
};

Sized SizeBar(PciBus& pci, const PciLocation& at, unsigned offset) {
  Sized s;
  s.original = pci.ConfigRead(at, offset, 4);
  pci.ConfigWrite(at, offset, 4, 0xFFFFFFFF);
  s.readback = pci.ConfigRead(at, offset, 4);
  pci.ConfigWrite(at, offset, 4, s.original);
  s.restored = pci.ConfigRead(at, offset, 4);
  return s;
}

TEST(PciIdentity, ChipsAndRevisionsReadBackAsConfigured) {
  struct Row {
    uint16_t device;
    uint8_t revision;
    uint32_t class_code;
    uint16_t subsystem_id;
  };
  const Row rows[] = {
      {0x0A41, 0, kClassVgaDisplay, 0x0101},
      {0x0A41, 3, kClassVgaDisplay, 0x0102},
      {0x0A42, 6, kClassOtherDisplay, 0x0201},
      {0x5D61, 1, kClassVgaDisplay, 0x0301},
      {0x5D62, 2, kClassVgaDisplay, 0x0401},
      {0x5D63, 1, kClassOtherDisplay, 0x0501},
  };
  Simulation sim;
  unsigned device = 1;
  for (const Row& row : rows) {
    BoardConfig config = At(0, device++);
    config.device_id = row.device;
    config.revision = row.revision;
    config.class_code = row.class_code;
    config.subsystem_vendor_id = 0x1E7A;
    config.subsystem_id = row.subsystem_id;
    const PciLocation at = sim.AddBoard(config).Location();
    SCOPED_TRACE(at.ToString());
    EXPECT_EQ(sim.Pci().ConfigRead(at, 0x00, 4), (uint32_t{row.device} << 16) | 0x1E7A);
    EXPECT_EQ(sim.Pci().ConfigRead(at, 0x08, 4), (row.class_code << 8) | row.revision);
    EXPECT_EQ(sim.Pci().ConfigRead(at, 0x0A, 2), row.class_code >> 8);
    EXPECT_EQ(sim.Pci().ConfigRead(at, 0x2C, 4), (uint32_t{row.subsystem_id} << 16) | 0x1E7A);
    EXPECT_EQ(sim.Pci().ConfigRead(at, 0x0E, 1), 0x00u) << "single-function, header type 0";
    EXPECT_EQ(sim.Pci().ConfigRead(at, 0x3D, 1), 1u) << "interrupt pin A";
  }
}

TEST(PciIdentity, AbsentFunctionsReadAllOnesAndIgnoreWrites) {
  Simulation sim;
  sim.AddBoard(At(0, 2));
  for (unsigned width : {1u, 2u, 4u}) {
    const uint32_t ones = width == 4 ? 0xFFFFFFFF : (1u << (8 * width)) - 1;
    EXPECT_EQ(sim.Pci().ConfigRead(0, 3, 0, 0, width), ones);
    EXPECT_EQ(sim.Pci().ConfigRead(0, 2, 1, 0, width), ones) << "no function 1";
    EXPECT_EQ(sim.Pci().ConfigRead(7, 0, 0, 4, width), ones) << "no bus 7";
  }
  sim.Pci().ConfigWrite(0, 3, 0, 0x04, 2, 0x0002);
  EXPECT_EQ(sim.Pci().ConfigRead(0, 3, 0, 0x04, 2), 0xFFFFu);
}

TEST(PciIdentity, ConventionalSpaceEndsAt256ExpressAt4096) {
  Simulation sim;
  BoardConfig conventional = At(0, 1);
  BoardConfig express = At(0, 2);
  express.capabilities = {kPciCapExpress};
  sim.AddBoard(conventional);
  sim.AddBoard(express);
  EXPECT_EQ(sim.Pci().ConfigRead(0, 1, 0, 0x100, 4), 0xFFFFFFFFu);
  EXPECT_EQ(sim.Pci().ConfigRead(0, 2, 0, 0x100, 4), 0u);
  EXPECT_EQ(sim.Pci().ConfigRead(0, 2, 0, 0xFFC, 4), 0u);
}

TEST(PciIdentityDeathTest, MisalignedOrOversizedAccessEndsTheTest) {
  Simulation sim;
  sim.AddBoard(At(0, 1));
  EXPECT_DEATH(sim.Pci().ConfigRead(0, 1, 0, 0x02, 4), "offset 0x2 width 4");
  EXPECT_DEATH(sim.Pci().ConfigRead(0, 1, 0, 0x04, 3), "width 3");
  EXPECT_DEATH(sim.Pci().ConfigWrite(0, 1, 0, 0x1000, 1, 0), "offset 0x1000");
  EXPECT_DEATH(sim.Pci().ConfigRead(0, 32, 0, 0, 4), "device 32");
}

// ---- Base address registers ---------------------------------------------------

TEST(PciBar, FrameBufferSizingAnswersTheMemorySizeAndRestores) {
  for (uint64_t size : {32ull << 20, 64ull << 20, 128ull << 20, 256ull << 20}) {
    Simulation sim;
    BoardConfig config = At(0, 1);
    config.memory_size = size;
    const PciLocation at = sim.AddBoard(config).Location();
    SCOPED_TRACE(size);
    const Sized s = SizeBar(sim.Pci(), at, 0x10);
    EXPECT_EQ(s.readback & 0xF, 0x8u) << "32-bit prefetchable memory";
    EXPECT_EQ(~(s.readback & 0xFFFFFFF0u) + 1, size);
    EXPECT_EQ(s.restored, s.original);
    EXPECT_NE(s.original & 0xFFFFFFF0u, 0u) << "the simulation gave it an address";
    EXPECT_EQ(s.original & (size - 1) & ~0xFu, 0u) << "aligned to its size";
  }
}

TEST(PciBar, RegisterWindowSizingFollowsTheWindow) {
  struct Row {
    uint32_t window;
    uint32_t bar_size;
  };
  const Row rows[] = {{8192, 8192}, {65536, 65536}, {0x3000, 0x4000}, {1024, 4096}};
  for (const Row& row : rows) {
    Simulation sim;
    BoardConfig config = At(0, 1);
    config.register_window_size = row.window;
    const PciLocation at = sim.AddBoard(config).Location();
    SCOPED_TRACE(row.window);
    const Sized s = SizeBar(sim.Pci(), at, 0x14);
    EXPECT_EQ(s.readback & 0xF, 0x0u) << "32-bit, not prefetchable";
    EXPECT_EQ(~(s.readback & 0xFFFFFFF0u) + 1, row.bar_size);
    EXPECT_EQ(s.restored, s.original);
  }
}

TEST(PciBar, SixtyFourBitFrameBufferTakesTwoRegistersAndMovesTheWindowTo0x18) {
  Simulation sim;
  BoardConfig config = At(0, 1);
  config.frame_buffer_64bit = true;
  config.memory_size = 256ull << 20;
  Board& board = sim.AddBoard(config);
  const PciLocation at = board.Location();

  const Sized low = SizeBar(sim.Pci(), at, 0x10);
  const Sized high = SizeBar(sim.Pci(), at, 0x14);
  EXPECT_EQ(low.original & 0x6, 0x4u) << "type bits say 64-bit";
  EXPECT_EQ(low.readback, 0xF000000Cu);
  EXPECT_EQ(high.readback, 0xFFFFFFFFu) << "every upper address bit is writable";
  EXPECT_EQ(low.restored, low.original);
  EXPECT_EQ(high.restored, high.original);
  EXPECT_NE(high.original, 0u) << "placed above 4 GiB";

  const Sized regs = SizeBar(sim.Pci(), at, 0x18);
  EXPECT_EQ(~(regs.readback & 0xFFFFFFF0u) + 1, 8192u);

  // The driver can move the range anywhere in 64-bit space.
  sim.Pci().ConfigWrite(at, 0x14, 4, 0x00000012);
  sim.Pci().ConfigWrite(at, 0x10, 4, 0x30000000);
  EXPECT_EQ(board.Pci().MemoryBarAddress(0x10), 0x1230000000ull);
}

TEST(PciBar, ExpansionRomSizesWithItsEnableBit) {
  Simulation sim;
  BoardConfig config = At(0, 1);
  config.rom_size = 64 * 1024;
  const PciLocation at = sim.AddBoard(config).Location();
  const Sized s = SizeBar(sim.Pci(), at, 0x30);
  EXPECT_EQ(s.original & 1, 0u) << "disabled after reset";
  EXPECT_EQ(s.readback, 0xFFFF0001u);
  EXPECT_EQ(s.restored, s.original);

  BoardConfig none = At(0, 2);
  const PciLocation bare = sim.AddBoard(none).Location();
  EXPECT_EQ(SizeBar(sim.Pci(), bare, 0x30).readback, 0u) << "no ROM: nothing to size";
}

TEST(PciBar, UnusedBaseRegistersStayZero) {
  Simulation sim;
  const PciLocation at = sim.AddBoard(At(0, 1)).Location();
  for (unsigned offset : {0x18u, 0x1Cu, 0x20u, 0x24u})
    EXPECT_EQ(SizeBar(sim.Pci(), at, offset).readback, 0u) << std::hex << offset;
}

TEST(PciCommand, OnlyTheDefinedBitsAreWritableAndStatusIsUntouched) {
  Simulation sim;
  BoardConfig config = At(0, 1);
  config.capabilities = {kPciCapPowerManagement};
  const PciLocation at = sim.AddBoard(config).Location();
  const uint32_t status = sim.Pci().ConfigRead(at, 0x06, 2);
  sim.Pci().ConfigWrite(at, 0x04, 4, 0xFFFFFFFF);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0x04, 2), 0x0547u);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0x06, 2), status);
  sim.Pci().ConfigWrite(at, 0x04, 1, 0x00);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0x04, 2), 0x0500u) << "a byte write leaves the high byte";
  // Identity and class are read-only.
  sim.Pci().ConfigWrite(at, 0x00, 4, 0);
  sim.Pci().ConfigWrite(at, 0x08, 4, 0);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0x00, 4), 0x0A411E7Au);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0x08, 4), kClassVgaDisplay << 8);
}

TEST(PciCommand, ChipOptionRegisterIsWritable) {
  Simulation sim;
  const PciLocation at = sim.AddBoard(At(0, 1)).Location();
  sim.Pci().ConfigWrite(at, 0x40, 4, 0x00000103);
  sim.Pci().ConfigWrite(at, 0x41, 1, 0x00);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0x40, 4), 0x00000003u);
}

TEST(PciCommand, ConfigWriteHookSeesTheWriteAfterItLanded) {
  Simulation sim;
  Board& board = sim.AddBoard(At(0, 1));
  std::vector<uint32_t> seen;
  board.Pci().SetWriteHook([&](unsigned offset, unsigned width, uint32_t value) {
    seen.push_back(offset << 24 | width << 16 | (value & 0xFFFF));
    seen.push_back(board.Pci().Peek(0x40, 4));
  });
  sim.Pci().ConfigWrite(board.Location(), 0x42, 2, 0xBEEF);
  const std::vector<uint32_t> expected = {0x4202BEEFu, 0xBEEF0000u};
  EXPECT_EQ(seen, expected);
}

// ---- Capabilities -----------------------------------------------------------

// The walk a driver does: only when status bit 4 is set; start at the byte
// at 0x34 with the low bits cleared, follow the next pointers while they lie
// in 64..252.
std::vector<std::pair<uint8_t, unsigned>> WalkCapabilities(PciBus& pci, const PciLocation& at) {
  std::vector<std::pair<uint8_t, unsigned>> found;
  if (!(pci.ConfigRead(at, 0x04, 4) & (1u << 20))) return found;
  unsigned pointer = pci.ConfigRead(at, 0x34, 1) & ~3u;
  while (pointer >= 64 && pointer <= 252 && found.size() < 48) {
    const uint32_t header = pci.ConfigRead(at, pointer, 4);
    found.emplace_back(static_cast<uint8_t>(header), pointer);
    pointer = (header >> 8) & 0xFC;
  }
  return found;
}

TEST(PciCommand, ChipConfigDwordF4IsTheConfiguredReadOnlyValue) {
  Simulation sim;
  BoardConfig config = At(0, 2);
  config.config_f4 = 0x12345678;
  config.capabilities = {kPciCapPowerManagement, kPciCapAgp, kPciCapExpress};
  sim.AddBoard(config);
  const PciLocation at{0, 2, 0};
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0xF4, 4), 0x12345678u);
  sim.Pci().ConfigWrite(at, 0xF4, 4, 0);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0xF4, 4), 0x12345678u);
  EXPECT_EQ(sim.Pci().ConfigRead(at, 0xF6, 2), 0x1234u);
}

TEST(PciCapabilities, WalkFindsEachListInOrder) {
  const std::vector<std::vector<uint8_t>> lists = {
      {},
      {kPciCapPowerManagement},
      {kPciCapAgp, kPciCapPowerManagement},
      {kPciCapExpress, kPciCapPowerManagement},
      {kPciCapPowerManagement, kPciCapAgp, kPciCapExpress},
  };
  for (const auto& list : lists) {
    Simulation sim;
    BoardConfig config = At(0, 1);
    config.capabilities = list;
    const PciLocation at = sim.AddBoard(config).Location();
    SCOPED_TRACE(list.size());
    const auto found = WalkCapabilities(sim.Pci(), at);
    ASSERT_EQ(found.size(), list.size());
    EXPECT_EQ((sim.Pci().ConfigRead(at, 0x06, 2) & 0x10) != 0, !list.empty());
    std::vector<unsigned> offsets;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(found[i].first, list[i]);
      EXPECT_EQ(found[i].second % 4, 0u);
      EXPECT_GE(found[i].second, 0x60u) << "clear of the chip option registers";
      offsets.push_back(found[i].second);
    }
    std::sort(offsets.begin(), offsets.end());
    for (size_t i = 1; i < offsets.size(); ++i) EXPECT_GE(offsets[i] - offsets[i - 1], 8u);
  }
}

TEST(PciCapabilities, ControlWordsAreWritableAndHeadersAreNot) {
  Simulation sim;
  BoardConfig config = At(0, 1);
  config.capabilities = {kPciCapPowerManagement, kPciCapAgp};
  Board& board = sim.AddBoard(config);
  const PciLocation at = board.Location();
  const unsigned pm = board.Pci().FindCapability(kPciCapPowerManagement);
  const unsigned agp = board.Pci().FindCapability(kPciCapAgp);
  ASSERT_NE(pm, 0u);
  ASSERT_NE(agp, 0u);

  sim.Pci().ConfigWrite(at, pm + 4, 2, 0x0003);  // power state D3
  EXPECT_EQ(sim.Pci().ConfigRead(at, pm + 4, 2) & 3, 3u);
  sim.Pci().ConfigWrite(at, pm, 2, 0xFFFF);  // id and next pointer stay
  EXPECT_EQ(sim.Pci().ConfigRead(at, pm, 1), kPciCapPowerManagement);
  EXPECT_EQ(sim.Pci().ConfigRead(at, pm + 1, 1), agp);

  const uint32_t agp_status = sim.Pci().ConfigRead(at, agp + 4, 4);
  EXPECT_EQ(agp_status & 7, 7u) << "1x, 2x and 4x";
  sim.Pci().ConfigWrite(at, agp + 8, 4, 0x1F000304);  // enable at 4x with sideband
  EXPECT_EQ(sim.Pci().ConfigRead(at, agp + 8, 4), 0x1F000304u);
  sim.Pci().ConfigWrite(at, agp + 4, 4, 0);
  EXPECT_EQ(sim.Pci().ConfigRead(at, agp + 4, 4), agp_status) << "status is read-only";
}

// ---- Bus scan ---------------------------------------------------------------

// The scan a driver does: buses from 0 up to a limit that starts at 1,
// devices 0-31, functions 1-7 only when function 0 has the multi-function
// bit; a vendor of 0 or 0xFFFF means absent; a bridge's secondary bus (not 0
// or 255) raises the limit to that bus + 1.
std::vector<PciLocation> Scan(PciBus& pci) {
  std::vector<PciLocation> found;
  unsigned limit = 1;
  for (unsigned bus = 0; bus < limit; ++bus) {
    for (unsigned device = 0; device < 32; ++device) {
      unsigned functions = 1;
      for (unsigned function = 0; function < functions; ++function) {
        const uint32_t header = pci.ConfigRead(bus, device, function, 0x0C, 4);
        if (function == 0 && (header & (1u << 23))) functions = 8;
        const uint32_t vendor = pci.ConfigRead(bus, device, function, 0x00, 4) & 0xFFFF;
        if (vendor == 0 || vendor == 0xFFFF) continue;
        found.push_back({bus, device, function});
        if (((header >> 16) & 0x7F) == 1) {
          const unsigned secondary = (pci.ConfigRead(bus, device, function, 0x18, 4) >> 8) & 0xFF;
          if (secondary != 0 && secondary != 255 && limit <= secondary)
            limit = std::min(secondary + 1, 255u);
        }
      }
    }
  }
  return found;
}

TEST(PciScan, ReachesBoardsBehindNestedBridges) {
  Simulation sim;
  sim.AddFunction({0, 0, 0}, 0x1E7A, 0x0C00, 0x060000);  // host bridge
  sim.AddBridge({0, 1, 0}, 1);
  sim.AddBoard(At(0, 2));
  sim.AddBoard(At(1, 0));
  sim.AddFunction({1, 0, 1}, 0x1E7A, 0x0A49, 0x040300);  // second function of that board
  sim.AddBridge({1, 3, 0}, 4);
  sim.AddBoard(At(4, 0));
  BoardConfig other = At(4, 5);
  other.device_id = 0x5D63;
  sim.AddBoard(other);
  // An empty slot's function 0 reads all-ones, multi-function bit included,
  // so the scan looks at all eight functions of every empty slot and finds
  // a function even where function 0 is missing.
  sim.AddFunction({0, 6, 3}, 0x1E7A, 0x0D00, 0x088000);
  // A bus nothing points to is never reached.
  sim.AddBoard(At(9, 0));

  const std::vector<PciLocation> expected = {{0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 6, 3},
                                             {1, 0, 0}, {1, 0, 1}, {1, 3, 0}, {4, 0, 0},
                                             {4, 5, 0}};
  const std::vector<PciLocation> found = Scan(sim.Pci());
  ASSERT_EQ(found.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(found[i], expected[i]) << found[i].ToString() << " vs " << expected[i].ToString();

  EXPECT_EQ(sim.Pci().ConfigRead(1, 0, 0, 0x0E, 1), 0x80u) << "multi-function board";
  EXPECT_EQ(sim.Pci().ConfigRead(0, 2, 0, 0x0E, 1), 0x00u);
  EXPECT_EQ(sim.Pci().ConfigRead(0, 1, 0, 0x0E, 1), 0x01u) << "bridge header";
  EXPECT_EQ(sim.Pci().ConfigRead(0, 1, 0, 0x08, 4) >> 8, 0x060400u);
  EXPECT_EQ(sim.Pci().ConfigRead(1, 3, 0, 0x18, 4) & 0xFFFFFF, 0x040401u)
      << "primary 1, secondary 4, subordinate 4";
}

TEST(PciScan, SeveralBoardsOnOneBusGetDisjointRanges) {
  Simulation sim;
  for (int i = 0; i < 4; ++i) {
    BoardConfig config;
    config.memory_size = 256ull << 20;
    config.frame_buffer_64bit = i % 2 == 1;
    config.rom_size = 32768;
    sim.AddBoard(config);
  }
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (size_t i = 0; i < sim.BoardCount(); ++i) {
    EXPECT_EQ(sim.GetBoard(i).Location(), (PciLocation{0, static_cast<unsigned>(i), 0}));
    for (const BarInfo& bar : sim.GetBoard(i).Bars()) {
      EXPECT_EQ(bar.base % bar.size, 0u);
      ranges.emplace_back(bar.base, bar.base + bar.size);
    }
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) EXPECT_LE(ranges[i - 1].second, ranges[i].first);
  const auto found = Scan(sim.Pci());
  EXPECT_EQ(found.size(), 4u);
}

TEST(PciScan, HostBridgeSitsAt0000WithItsIdentity) {
  Simulation sim;
  EXPECT_EQ(sim.HostBridge(), nullptr);
  sim.AddHostBridge(0x25008086);
  Board& board = sim.AddBoard(BoardConfig());
  EXPECT_EQ(board.Location().device, 1u);  // 00:00.0 is the bridge's
  ASSERT_NE(sim.HostBridge(), nullptr);
  EXPECT_EQ(sim.Pci().ConfigRead({0, 0, 0}, 0, 4), 0x25008086u);
  EXPECT_EQ(sim.Pci().ConfigRead({0, 0, 0}, 8, 4) >> 8, 0x060000u);
  EXPECT_THROW(sim.AddHostBridge(0x25018086), std::invalid_argument);

  Simulation other;  // a board at 00:00.0 is no host bridge
  other.AddBoard(At(0, 0));
  EXPECT_EQ(other.HostBridge(), nullptr);
  EXPECT_THROW(other.AddHostBridge(0x25008086), std::invalid_argument);
}

TEST(PciScan, TakenLocationsAndBadConfigsAreRefused) {
  Simulation sim;
  sim.AddBoard(At(0, 1));
  EXPECT_THROW(sim.AddBoard(At(0, 1)), std::invalid_argument);
  EXPECT_THROW(sim.AddBridge({0, 1, 0}, 2), std::invalid_argument);
  EXPECT_THROW(sim.AddBridge({0, 2, 0}, 0), std::invalid_argument);
  BoardConfig odd = At(0, 3);
  odd.memory_size = 48u << 20;
  EXPECT_THROW(sim.AddBoard(odd), std::invalid_argument);
  BoardConfig rom = At(0, 3);
  rom.rom_size = 4096;
  rom.rom_image.assign(8192, 0x55);
  EXPECT_THROW(sim.AddBoard(rom), std::invalid_argument);
}

}  // namespace
}  // namespace orvsim

namespace orvsim {
namespace {

TEST(PciOptions, FirstOptionRegisterStartsWithTheMemorySizeCode) {
  const struct {
    uint64_t size;
    uint32_t code;
  } kCases[] = {{32u << 20, 0}, {64u << 20, 1}, {128u << 20, 2}, {256u << 20, 3}, {16u << 20, 0}};
  for (const auto& c : kCases) {
    Simulation sim;
    BoardConfig config = At(0, 2);
    config.memory_size = c.size;
    sim.AddBoard(config);
    EXPECT_EQ(sim.Pci().ConfigRead(PciLocation{0, 2, 0}, 0x40, 4), c.code) << (c.size >> 20) << " MB";
    // Software may set other values.
    sim.Pci().ConfigWrite(PciLocation{0, 2, 0}, 0x40, 4, 0x103);
    EXPECT_EQ(sim.Pci().ConfigRead(PciLocation{0, 2, 0}, 0x40, 4), 0x103u);
  }
}

}  // namespace
}  // namespace orvsim
