// Hardware access services of the hardware library over the simulated
// board: register and frame-buffer windows mapped through /dev/mem,
// configuration space through the X server's PCI access.
#include <string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/client_services.h"
#include "core/lnx_device.h"
#include "core/os.h"
#include "core/regs/dma.h"
#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"
#include "tests/support/test_ids.h"

namespace {

using orvsim::RegOp;

struct Access {
  RegOp op;
  unsigned width;
  uint32_t offset;
  bool operator==(const Access&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Access& a) {
  return out << (a.op == RegOp::kRead ? "read" : "write") << a.width << "@0x" << std::hex
             << a.offset;
}

class HwAccess : public testing::Test {
 protected:
  HwAccess() {
    orvsim::BoardConfig config;
    config.device_id = orvsim::kDeviceKestrionNext1;
    config.capabilities = {orvsim::kPciCapPowerManagement, orvsim::kPciCapAgp};
    config.location = orvsim::PciLocation{0, 4, 0};
    board = &sim.AddBoard(config);
  }

  void SetUp() override {
    device = std::make_unique<EmulatedLnxDevice>(pciGetHandle(0, 4, 0));
    ASSERT_TRUE(device->Open());
    regs = board->Bar(orvsim::ResourceKind::kRegisters).value();
    fb = board->Bar(orvsim::ResourceKind::kMemory).value();
    client.pciHandle = device->minor;
    client.registers = static_cast<volatile uint8_t*>(
        OsMapPhysicalMemory(device.get(), regs.base, static_cast<uint32_t>(regs.size)));
    client.frameBuffer = static_cast<volatile uint8_t*>(
        OsMapPhysicalMemory(device.get(), fb.base, 1u << 20));
    ASSERT_NE(client.registers, nullptr);
    ASSERT_NE(client.frameBuffer, nullptr);
    ORVClientRecord* pointer = &client;
    memcpy(handleBytes.data() + kBoardHandleClientOffset, &pointer, sizeof(pointer));
    board->ClearLog();
  }

  void TearDown() override {
    OsUnmapMemory(device.get(), const_cast<uint8_t*>(client.registers),
                  static_cast<uint32_t>(regs.size));
    OsUnmapMemory(device.get(), const_cast<uint8_t*>(client.frameBuffer), 1u << 20);
    device.reset();
  }

  BOARDHANDLE* Handle() { return reinterpret_cast<BOARDHANDLE*>(handleBytes.data()); }

  std::vector<Access> Accesses() {
    std::vector<Access> out;
    for (const auto& r : board->Log()) out.push_back({r.op, r.width, r.offset});
    return out;
  }

  orvsim::Simulation sim;  // outlives the sandbox's mappings
  orvsim::Board* board;
  xstub::Sandbox box;
  std::unique_ptr<EmulatedLnxDevice> device;
  orvsim::BarInfo regs{}, fb{};
  ORVClientRecord client;
  std::vector<unsigned char> handleBytes = std::vector<unsigned char>(kBoardHandleSize);
};

TEST_F(HwAccess, ClientPointerComesFromTheBoardHandle) {
  EXPECT_EQ(ORVGetClientPointer(Handle()), &client);
  EXPECT_EQ(ORVGetFsCache(Handle()), client.fsCache);
}

TEST_F(HwAccess, MemCopiesUseTheWidestAlignedUnit) {
  struct Case {
    const char* name;
    uint32_t offset;
    uint32_t count;
    std::vector<std::pair<unsigned, uint32_t>> units;  // width, offset
  };
  const Case cases[] = {
      {"7 bytes at 2", 0x1002, 7, {{2, 0x1002}, {4, 0x1004}, {1, 0x1008}}},
      {"7 bytes at 1", 0x1001, 7, {{1, 0x1001}, {2, 0x1002}, {4, 0x1004}}},
      {"8 bytes at 0", 0x1000, 8, {{4, 0x1000}, {4, 0x1004}}},
      {"3 bytes at 4", 0x1004, 3, {{2, 0x1004}, {1, 0x1006}}},
      {"nothing", 0x1000, 0, {}},
  };
  unsigned char source[16];
  for (int i = 0; i < 16; ++i) source[i] = static_cast<unsigned char>(0x10 + i);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board->ClearLog();
    // The source side is deliberately unaligned.
    EXPECT_TRUE(memWrite(client.registers, c.offset, source + 1, c.count));
    unsigned char back[16] = {};
    EXPECT_TRUE(memRead(client.registers, c.offset, back + 3, c.count));
    EXPECT_EQ(memcmp(back + 3, source + 1, c.count), 0);
    std::vector<Access> expected;
    for (auto [width, offset] : c.units) expected.push_back({RegOp::kWrite, width, offset});
    for (auto [width, offset] : c.units) expected.push_back({RegOp::kRead, width, offset});
    EXPECT_EQ(Accesses(), expected);
  }
}

TEST_F(HwAccess, ClientRegisterAndMemoryAccessWidths) {
  EXPECT_EQ(ClientWriteRegisterDword(Handle(), 0x1C00, 0x809020), 0u);
  EXPECT_EQ(ClientWriteRegisterByte(Handle(), 0x1FC2, 0x67), 0u);
  EXPECT_EQ(HWWriteRegisterByte(Handle(), 0x1FD4, 0x1AB), 0u);  // cut to 8 bits
  uint32_t dword = 0;
  uint8_t byte = 0;
  EXPECT_EQ(HWReadRegisterDword(Handle(), 0x1C00, &dword), 0u);
  EXPECT_EQ(ClientReadRegisterByte(Handle(), 0x1FD4, &byte), 0u);
  EXPECT_EQ(dword, 0x809020u);
  EXPECT_EQ(byte, 0xAB);
  const std::vector<Access> expected = {
      {RegOp::kWrite, 4, 0x1C00}, {RegOp::kWrite, 1, 0x1FC2}, {RegOp::kWrite, 1, 0x1FD4},
      {RegOp::kRead, 4, 0x1C00},  {RegOp::kRead, 1, 0x1FD4},
  };
  EXPECT_EQ(Accesses(), expected);
  EXPECT_EQ(board->Peek(0x1FD4, 1), 0xABu);

  EXPECT_EQ(ClientWriteMemoryDword(Handle(), 0x40, 0xA1B2C3D4), 0u);
  EXPECT_EQ(ClientWriteMemoryByte(Handle(), 0x45, 0x99), 0u);
  uint32_t word;
  memcpy(&word, board->Memory() + 0x40, 4);
  EXPECT_EQ(word, 0xA1B2C3D4u);
  EXPECT_EQ(board->Memory()[0x45], 0x99);
  EXPECT_EQ(ClientReadMemoryDword(Handle(), 0x40, &dword), 0u);
  EXPECT_EQ(dword, 0xA1B2C3D4u);
  EXPECT_EQ(ClientReadMemoryByte(Handle(), 0x45, &byte), 0u);
  EXPECT_EQ(byte, 0x99);
}

TEST_F(HwAccess, StubsAnswerWithoutTouchingTheBoard) {
  uint8_t byte = 0x5A;
  uint32_t dword = 0x5A5A;
  EXPECT_EQ(ClientOpenRegisterBase(Handle()), 0u);
  EXPECT_EQ(ClientCloseMemoryBase(Handle()), 0u);
  EXPECT_EQ(ClientOpenSystemDevice(Handle()), 1u);
  EXPECT_EQ(ClientReadSystemDeviceByte(Handle(), 0, &byte), 1u);
  EXPECT_EQ(ClientReadSystemDeviceDword(Handle(), 0, &dword), 1u);
  EXPECT_EQ(ClientWriteSystemDeviceDword(Handle(), 0, 1), 1u);
  EXPECT_EQ(ClientGetBiosInfo(Handle(), &dword, &dword), 0u);
  EXPECT_EQ(ClientReadDDCEdid(Handle(), 0, &byte, 1), 1u);
  EXPECT_EQ(ClientCustomCall(Handle(), 0x80000101, nullptr, nullptr), 1u);
  EXPECT_EQ(ClientApplyEpromPatch(Handle()), 1u);
  EXPECT_EQ(ClientDetectHostInterface(Handle(), &dword), 1u);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(dword, 0x5A5Au);
  EXPECT_TRUE(Accesses().empty());
}

TEST_F(HwAccess, WaitReadsTheDummyRegisterAndAdvancesTime) {
  const uint64_t before = sim.GetClock().Now();
  EXPECT_EQ(HWDelay(Handle(), 5), 0u);
  const auto log = Accesses();
  ASSERT_EQ(log.size(), 15u);
  for (const Access& a : log) EXPECT_EQ(a, (Access{RegOp::kRead, 4, kRegWaitDummy}));
  EXPECT_EQ(sim.GetClock().Now() - before, 15 * sim.GetClock().ReadCost());
  EXPECT_GT(sim.GetClock().Now(), before);
  board->ClearLog();
  EXPECT_EQ(ClientWait(Handle(), 0), 0u);
  EXPECT_TRUE(Accesses().empty());
}

TEST_F(HwAccess, ShadowRegistersLiveInTheCache) {
  for (uint32_t reg = 0xE30; reg <= 0xE3C; reg += 4) {
    const uint32_t value = 0xF0000000 | reg;
    EXPECT_EQ(HWBri90WriteRegShadowDword(Handle(), reg, &value), 1u) << std::hex << reg;
  }
  EXPECT_EQ(client.fsCache[0], 0xF0000E30u);
  EXPECT_EQ(client.fsCache[3], 0xF0000E3Cu);
  uint32_t out = 0;
  EXPECT_EQ(ClientReadRegShadowDword(Handle(), 0xE38, &out), 1u);
  EXPECT_EQ(out, 0xF0000E38u);
  struct Miss {
    uint32_t reg;
  };
  for (Miss m : {Miss{0xE40}, Miss{0xE2C}, Miss{0xE32}}) {
    out = 0x12345678;
    const uint32_t value = 1;
    EXPECT_EQ(HWBri90ReadRegShadowDword(Handle(), m.reg, &out), 0u) << std::hex << m.reg;
    EXPECT_EQ(out, 0x12345678u);
    EXPECT_EQ(ClientWriteRegShadowDword(Handle(), m.reg, &value), 0u);
  }
  EXPECT_EQ(client.fsCache[0], 0xF0000E30u);
  EXPECT_TRUE(Accesses().empty());  // the chip is never touched
}

TEST_F(HwAccess, ConfigurationAccessIsSplitByOffset) {
  std::vector<std::pair<unsigned, unsigned>> writes;  // offset, width
  board->Pci().SetWritable(0x40, 4, 0xFFFFFFFF);
  board->Pci().SetWritable(0x44, 4, 0xFFFFFFFF);
  board->Pci().SetWritable(0x48, 4, 0xFFFFFFFF);
  board->Pci().SetWriteHook(
      [&](unsigned offset, unsigned width, uint32_t) { writes.push_back({offset, width}); });
  struct Case {
    const char* name;
    uint32_t offset;
    uint32_t count;
    std::vector<std::pair<unsigned, unsigned>> units;
  };
  const Case cases[] = {
      {"3 bytes at 0x41", 0x41, 3, {{0x41, 1}, {0x42, 2}}},
      {"8 bytes at 0x40", 0x40, 8, {{0x40, 4}, {0x44, 4}}},
      {"4 bytes at 0x42", 0x42, 4, {{0x42, 2}, {0x44, 2}}},
      {"6 bytes at 0x43", 0x43, 6, {{0x43, 1}, {0x44, 4}, {0x48, 1}}},
  };
  const uint32_t handle = device->minor;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writes.clear();
    unsigned char data[12];
    for (int i = 0; i < 12; ++i) data[i] = static_cast<unsigned char>(c.offset * 3 + i);
    EXPECT_TRUE(csWrite(handle, c.offset, data + 1, c.count));
    EXPECT_EQ(writes, c.units);
    unsigned char back[12] = {};
    EXPECT_TRUE(csRead(handle, c.offset, back + 1, c.count));
    EXPECT_EQ(memcmp(back + 1, data + 1, c.count), 0);
  }
  writes.clear();
  EXPECT_EQ(HWWriteConfigSpaceByte(Handle(), 0x4A, 0x1C3), 0u);
  EXPECT_EQ(writes, (std::vector<std::pair<unsigned, unsigned>>{{0x4A, 1}}));
  EXPECT_EQ(board->Pci().Peek(0x4A, 1), 0xC3u);
  uint32_t id = 0;
  EXPECT_EQ(ClientReadConfigSpaceDword(Handle(), 0, &id), 0u);
  EXPECT_EQ(id, (uint32_t{orvsim::kDeviceKestrionNext1} << 16) | orvsim::kKestrionVendorId);
  uint8_t byte = 0;
  EXPECT_EQ(HWReadConfigSpaceByte(Handle(), 0x4A, &byte), 0u);
  EXPECT_EQ(byte, 0xC3);
}

TEST_F(HwAccess, BarSizingRestoresTheBar) {
  const uint32_t handle = device->minor;
  struct Case {
    uint32_t reg;
    const orvsim::BarInfo& bar;
  };
  for (const Case& c : {Case{orvsim::kFrameBufferBar, fb}, Case{orvsim::kRegisterBar32, regs}}) {
    const uint32_t before = board->Pci().Peek(c.reg, 4);
    uint32_t base = 0, size = 0;
    EXPECT_TRUE(pciGetTermbase(handle, c.reg, &base, &size));
    EXPECT_EQ(base, static_cast<uint32_t>(c.bar.base)) << std::hex << c.reg;
    EXPECT_EQ(size, static_cast<uint32_t>(c.bar.size)) << std::hex << c.reg;
    EXPECT_EQ(board->Pci().Peek(c.reg, 4), before) << std::hex << c.reg;
  }
}

TEST_F(HwAccess, CapabilityWalk) {
  const uint32_t handle = device->minor;
  uint32_t offset = 0;
  EXPECT_TRUE(pciFindPMCapability(handle, &offset));
  EXPECT_EQ(offset, board->Pci().FindCapability(orvsim::kPciCapPowerManagement));
  EXPECT_TRUE(pciFindAGPCapability(handle, &offset));
  EXPECT_EQ(offset, board->Pci().FindCapability(orvsim::kPciCapAgp));
  offset = 0x77;
  EXPECT_FALSE(pciFindCapability(handle, &offset, orvsim::kPciCapExpress));
  EXPECT_EQ(offset, 0x77u);

  // A list that points back at itself ends the walk instead of hanging.
  const unsigned agp = board->Pci().FindCapability(orvsim::kPciCapAgp);
  board->Pci().Poke(agp + 1, 1, board->Pci().Peek(orvsim::kPciCapabilityPointer, 1));
  EXPECT_FALSE(pciFindCapability(handle, &offset, orvsim::kPciCapExpress));
  EXPECT_TRUE(pciFindAGPCapability(handle, &offset));

  // Without the status bit the list is not walked, even where 0x34 still
  // points at one.
  const uint32_t status = board->Pci().Peek(0x06, 2);
  board->Pci().Poke(0x06, 2, status & ~0x10u);
  EXPECT_FALSE(pciFindPMCapability(handle, &offset));
  board->Pci().Poke(0x06, 2, status);
  EXPECT_TRUE(pciFindPMCapability(handle, &offset));
  board->Pci().BuildCapabilities({});
  EXPECT_FALSE(pciFindPMCapability(handle, &offset));
}

struct Found {
  std::vector<uint32_t> handles;
  uint32_t stopAt = 0xFFFFFFFF;
};

int Collect(uint32_t handle, void* data) {
  auto* found = static_cast<Found*>(data);
  found->handles.push_back(handle);
  return handle == found->stopAt;
}

TEST_F(HwAccess, BusScanReachesBoardsBehindBridges) {
  const uint32_t bridgeId = (uint32_t{0x0B00} << 16) | orvsim::kKestrionVendorId;
  sim.AddBridge(orvsim::PciLocation{0, 1, 0}, 2);
  sim.AddBridge(orvsim::PciLocation{2, 0, 0}, 5);
  orvsim::BoardConfig config;
  config.location = orvsim::PciLocation{5, 3, 0};
  sim.AddBoard(config);
  sim.AddFunction(orvsim::PciLocation{0, 7, 0}, kTestOtherVendorId, 0x0001, 0x060000);
  sim.AddFunction(orvsim::PciLocation{0, 7, 2}, kTestOtherVendorId, 0x0002, 0x060000);

  Found found;
  EXPECT_FALSE(pciScanBus(Collect, &found));
  auto has = [&](unsigned bus, unsigned dev, unsigned fn) {
    return std::count(found.handles.begin(), found.handles.end(), pciGetHandle(bus, dev, fn)) == 1;
  };
  EXPECT_TRUE(has(0, 4, 0));  // the fixture's board
  EXPECT_TRUE(has(0, 1, 0));
  EXPECT_TRUE(has(2, 0, 0));
  EXPECT_TRUE(has(5, 3, 0));  // two bridges down
  EXPECT_TRUE(has(0, 7, 0));
  EXPECT_TRUE(has(0, 7, 2));  // a further function of a multi-function device
  EXPECT_EQ(found.handles.size(), 6u);

  Found stop;
  stop.stopAt = pciGetHandle(2, 0, 0);
  EXPECT_TRUE(pciScan(Collect, &stop));
  EXPECT_EQ(stop.handles.back(), stop.stopAt);

  EXPECT_TRUE(pciFindVideoBridge(2, bridgeId));
  EXPECT_TRUE(pciFindVideoBridge(5, bridgeId));
  EXPECT_FALSE(pciFindVideoBridge(3, bridgeId));
  EXPECT_FALSE(pciFindVideoBridge(2, 0x12345678));
}

TEST_F(HwAccess, LocationOfAHandle) {
  uint32_t location = 0xFFFFFFFF;
  EXPECT_TRUE(pciGetLocation(pciGetHandle(0x12, 0x1F, 5), &location));
  EXPECT_EQ(location, (0x12u << 8) | (0x1Fu << 3) | 5u);
}

TEST_F(HwAccess, DebugOutputGoesToTheServerLog) {
  dbgOutput("value %d\n", 42);
  EXPECT_TRUE(box.Logged("value 42\n"));
  const std::string longText(200, 'x');
  box.ClearMessages();
  dbgOutput("%s", longText.c_str());
  EXPECT_EQ(box.LogText(), longText);
  box.ClearMessages();
  dbgOutput("%s|%s", longText.c_str(), "100%d");  // arguments are printed as given
  EXPECT_EQ(box.LogText(), longText + "|100%d");
  char text[256];
  dbgOutputToString(text, sizeof(text), "%s", "100%d");
  EXPECT_STREQ(text, "100%d");
  char small[8];
  dbgOutputToString(small, sizeof(small), "%s", "overlong text");
  EXPECT_STREQ(small, "overlon");
}

void CallVA(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  dbgOutputVA(format, arguments);
  va_end(arguments);
}

TEST_F(HwAccess, DebugOutputVAIsBoundedAndLiteral) {
  const std::string longText(200, 'y');
  CallVA("%s", longText.c_str());
  EXPECT_EQ(box.LogText(), std::string(kDbgOutputMax, 'y'));
  box.ClearMessages();
  CallVA("%s", "50%s%n");
  EXPECT_EQ(box.LogText(), "50%s%n");
}

}  // namespace
