// The device binding of the driver core: the enable request the kernel
// module receives, handles shared by the heads of a board, the first
// start's engine sequence and 2D preset as the board sees them, and the
// stop.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/lnx_device.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "core/wait_bounds.h"
#include "tests/support/chip_names.h"
#include "xdriver/engine2d_startup.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/orv_preinit.h"
#include "xdriver/temp_bit.h"
#include "xdriver/tests/screen_fixture.h"

namespace {

using fetest::Screens;

using fetest::KernelScreens;

constexpr uint64_t kFirstHandle = 0x1000;

struct FormatCase {
  int depth;
  uint32_t bitsPerPixel, storage, format2, format;
  uint32_t redMask;
};

void PrintTo(const FormatCase& c, std::ostream* out) {
  *out << "Depth" << c.depth << "_Bpp" << c.bitsPerPixel;
}

class EnableFormats : public KernelScreens, public testing::WithParamInterface<FormatCase> {};

TEST_P(EnableFormats, TheEnableRecordCarriesTheFormatCodesByBitsPerPixel) {
  const FormatCase& c = GetParam();
  KernelBoard(1, c.depth);
  ScrnInfoPtr screen = xf86Screens[0];
  ORVRec* rec = Rec(0);
  const uint32_t trackedValue = *rec->pBridgeStatus;
  ASSERT_TRUE(ORVKstrnOpenDevice(screen)) << box.LogText();
  uint64_t handle = 0;
  const VideoMode m = Sent(0, &handle);
  EXPECT_EQ(m.desktopKind, kDesktopSingle);
  EXPECT_EQ(m.dimension1, 1024u);
  EXPECT_EQ(m.dimension2, 768u);
  EXPECT_EQ(m.bitsPerPixel, c.bitsPerPixel);
  EXPECT_EQ(m.bytesPerPixel, c.storage / 8);
  EXPECT_EQ(m.storageBits, c.storage);
  EXPECT_EQ(m.pixelFormat2, c.format2);
  EXPECT_EQ(m.pixelFormat, c.format);
  EXPECT_EQ(m.redMask, c.redMask);
  EXPECT_EQ(m.redBits, static_cast<uint32_t>(__builtin_popcount(c.redMask)));
  EXPECT_EQ(m.virtualWidth, 1024u);
  EXPECT_EQ(m.virtualHeight, 768u);
  EXPECT_EQ(m.lines, rec->fbMemSize / (1024u * (static_cast<uint32_t>(screen->bitsPerPixel) / 8)));
  EXPECT_EQ(m.localDma, 0u);
  EXPECT_EQ(m.unit, 0u);
  // Through the kernel module the tracking word goes by value.
  EXPECT_EQ(m.lastRegWritten, trackedValue);
  EXPECT_EQ(m.registerMapping, reinterpret_cast<uint64_t>(rec->ioBase));
  EXPECT_EQ(m.registerWindowSize, 8192u);
  EXPECT_EQ(handle, 0u);  // the kernel fills it in
  ASSERT_NE(rec->pdev, nullptr);
  EXPECT_EQ(rec->pdev->kernelHandle, kFirstHandle);

  ORVKstrnCloseDevice(screen);
  const std::vector<xstub::KernelCall> disables = kernel.CallsTo(0x15);
  ASSERT_EQ(disables.size(), 1u);
  EXPECT_EQ(disables[0].value, kFirstHandle);  // the handle is the argument
  EXPECT_EQ(rec->pdev, nullptr);
  EXPECT_EQ(kernel.OpenCount(kMinor), 0u);
}

INSTANTIATE_TEST_SUITE_P(Depths, EnableFormats,
                         testing::Values(FormatCase{8, 8, 8, 16, 17, 0},
                                         FormatCase{16, 16, 16, 32, 40, 0xF800},
                                         FormatCase{24, 32, 32, 48, 50, 0xFF0000},
                                         FormatCase{30, 30, 32, 52, 52, 0x3FF00000}),
                         testing::PrintToStringParamName());

TEST_F(KernelScreens, TwoHeadsShareOneHandleOfTheBoardsMinor) {
  KernelBoard(2);
  ASSERT_TRUE(ORVKstrnOpenDevice(xf86Screens[0]));
  ASSERT_TRUE(ORVKstrnOpenDevice(xf86Screens[1]));
  PDEV* first = Rec(0)->pdev;
  PDEV* second = Rec(1)->pdev;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->device, second->device);
  EXPECT_EQ(kernel.CallsTo(0x14).size(), 2u);
  EXPECT_EQ(Sent(1).unit, 1u);
  EXPECT_NE(first->kernelHandle, second->kernelHandle);
  // The first head's close leaves the handle to the second.
  ORVKstrnCloseDevice(xf86Screens[0]);
  EXPECT_GT(kernel.OpenCount(kMinor), 0u);
  ORVKstrnCloseDevice(xf86Screens[1]);
  EXPECT_EQ(kernel.OpenCount(kMinor), 0u);
}

TEST_F(KernelScreens, ARefusedEnableFailsTheOpenWithFiveAndReleasesTheHandle) {
  KernelBoard(1);
  kernel.SetAnswer(0x14, 0);
  EXPECT_FALSE(ORVKstrnOpenDevice(xf86Screens[0]));
  EXPECT_TRUE(box.Logged(
      "Cannot use Kestrion module for acceleration, device failed to open with error code 5.\n",
      X_WARNING));
  EXPECT_EQ(Rec(0)->pdev, nullptr);
  EXPECT_EQ(kernel.OpenCount(kMinor), 0u);
  EXPECT_TRUE(kernel.CallsTo(0x15).empty());
}

TEST_F(KernelScreens, UnsupportedBitsPerPixelOrDesktopKindIsABadArgument) {
  KernelBoard(1);
  ORVRec* rec = Rec(0);
  for (auto [bpp, kind] : {std::pair<uint32_t, uint32_t>{24, kDesktopSingle}, {15, kDesktopSingle},
                           {16, kDesktopFourHead + 1}}) {
    KstrnDesktopDesc d{};
    d.bus = 1;
    d.device = 4;
    d.width = d.virtualWidth = 1024;
    d.height = d.virtualHeight = 768;
    d.bitsPerPixel = bpp;
    d.desktopKind = kind;
    d.trackingWord = rec->pBridgeStatus;
    d.registers = rec->ioBase;
    d.frameBuffer = rec->fbBase;
    d.registerSize = 8192;
    EXPECT_EQ(KstrnEnableDevice(&d), kKstrnBadArgument) << bpp << " " << kind;
    EXPECT_EQ(d.pdev, nullptr);
  }
  EXPECT_TRUE(kernel.CallsTo(0x14).empty());
  EXPECT_EQ(kernel.OpenCount(kMinor), 0u);
}

TEST_F(KernelScreens, TheStartUpTagCountsAsIssuedOnAFreshSharedBlock) {
  KernelBoard(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  PDEV* pdev = Rec(0)->pdev;
  ASSERT_NE(pdev, nullptr);
  SharedLockedData_t* shared = pdev->sharedLocked;
  // issued: the counter before the start-up sequence; want: after it.
  for (auto [issued, want] : {std::pair<uint32_t, uint32_t>{0, 8}, {0x40, 0x40}}) {
    shared->syncTagCounter = issued;
    ASSERT_EQ(ApplyEAR547(pdev), kKstrnSuccess);
    EXPECT_EQ(shared->syncTagCounter, want) << issued;
    // With the kernel module running the streams, the engine reports the
    // tag it reached in the shared block.
    const uint32_t reached = dma_.back()->ReachedTag();
    ASSERT_EQ(reached, 8u);
    shared->completedTag = reached;
    // A block never drawn is idle, and the next tag issued waits for the
    // engine instead of reading as reached already.
    EXPECT_FALSE(BmSyncTagPending(0, shared->syncTagCounter, reached)) << issued;
    const uint32_t next = BmNextSyncTag(shared->syncTagCounter);
    shared->syncTagCounter = next;
    EXPECT_TRUE(pdev->primInt->IsSyncTagPending(next)) << issued;
  }
}

struct EnableRotationCase {
  int rotation;
  uint32_t flags;
};

void PrintTo(const EnableRotationCase& c, std::ostream* out) {
  *out << (c.rotation == 0 ? "NoRotation" : c.rotation > 0 ? "RotateCW" : "RotateCCW");
}

class EnableRotation : public KernelScreens, public testing::WithParamInterface<EnableRotationCase> {};

TEST_P(EnableRotation, AHardwareRotationMarksTheDevice) {
  KernelBoard(1);
  Rec(0)->hwRotate = GetParam().rotation;
  ASSERT_TRUE(ORVKstrnOpenDevice(xf86Screens[0]));
  EXPECT_EQ(Rec(0)->pdev->bindingFlags & (kPdevRotateCW | kPdevRotateCCW), GetParam().flags);
  ORVKstrnCloseDevice(xf86Screens[0]);
}

INSTANTIATE_TEST_SUITE_P(Rotations, EnableRotation,
                         testing::Values(EnableRotationCase{0, 0}, EnableRotationCase{1, 0x10000000},
                                         EnableRotationCase{-1, 0x40000000}),
                         testing::PrintToStringParamName());

TEST_F(KernelScreens, AFailureAfterTheDeviceStartedDisablesTheScratchBitmapsAgain) {
  KernelBoard(1);
  kernel.SetAnswer(0x1C, -22);  // the primary surface's declaration
  EXPECT_FALSE(server.InitScreens());
  EXPECT_TRUE(box.Logged(
      "Cannot use Kestrion module for acceleration, device failed to start with error code 5.\n",
      X_WARNING))
      << box.LogText();
  EXPECT_EQ(kernel.CallsTo(0x1C).size(), 1u);
  PDEV* pdev = Rec(0)->pdev;
  ASSERT_NE(pdev, nullptr);
  for (TempBit* t : pdev->data2d.tempBits) {
    if (t != nullptr) {
      EXPECT_EQ(t->enabled, 0);
    }
  }
  EXPECT_EQ(pdev->bindingFlags & kPdevPrimaryDeclared, 0u);
  EXPECT_FALSE(Rec(0)->deviceStarted);
}

// ---- The first start, in the modes without the kernel module ---------------------

using Writes = std::vector<std::pair<uint32_t, uint32_t>>;

const Writes kEar547 = {
    {0x1324, 0xFFFFFFFF}, {0x1328, 0},          {0x132C, 0x08000800}, {0x1220, 0x00100000},
    {0x1224, 0x30010400}, {0x1228, 0x00100000}, {0x122C, 0x30030400}, {0x1300, 0x1C2},
    {0x1304, 0},          {0x1308, 0},          {0x138C, 0x00010001}, {0x1300, 0x707},
    {0x1374, 0},          {0x12BC, 8}};

// The processor's register writes from the first write of 0x1324 on, at
// most `count`; the guard register's dummies left out.
Writes WritesFrom(const std::vector<orvsim::RegAccessRecord>& log, uint32_t first, size_t count) {
  Writes out;
  bool on = false;
  for (const auto& a : log) {
    if (a.op != orvsim::RegOp::kWrite || a.offset == 0x384) continue;
    on = on || a.offset == first;
    if (on && out.size() < count) out.push_back({a.offset, a.value});
  }
  return out;
}

// What the 2D preset makes the board write, packet by packet: each header's
// register indexes (lowest byte first) take the data words in turn.
Writes Decoded(const std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& packets) {
  Writes out;
  for (const auto& [header, data] : packets) {
    size_t next = 0;
    for (int i = 0; i < 4; ++i) {
      const uint32_t index = (header >> (8 * i)) & 0xFF;
      if (index == 0x21) continue;
      out.push_back({0x1000 + 4 * index, data.at(next++)});
    }
  }
  return out;
}

Writes PresetStream() {
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> p;
  for (uint32_t i = 0; i < 4; ++i) {
    p.push_back({0x72717080u + i, {0x40100u | (1u << i), 0, 0x249, 0}});
    p.push_back({0x76757473, {0xFFFFFFFF, 0, 0, 0}});
  }
  p.push_back({0x212121DD, {0}});
  p.push_back({0x83828180, {0x1000F, 0, 0, 0}});
  p.push_back({0x212121C0, {0x2010CC}});
  for (uint32_t c : {0x80u, 0x82u, 0x84u, 0x88u, 0x8Au}) p.push_back({0x9A989B99, {c, 0x400400, 0x80, 0x400400}});
  p.push_back({0xBAB1B0B9, {0, 0xFFFFFFFF, 0x7FFFFFFF, 0}});
  p.push_back({0xB4B3B2B5, {0, 0, 0xFFFF, 0x1FF}});
  p.push_back({0xBFC5C6C9, {0xFFFFFFFF, 0, 0, 0}});
  p.push_back({0xC2C1CBCA, {0, 0x10001000, 0, 0}});
  p.push_back({0x212121BD, {0x41F80000}});
  return Decoded(p);
}

struct StartCase {
  uint16_t chip;
  const char* options;
  bool ear547;
};

// The chip and the options the configuration gives by name:
// "KestrionNext3_DmaEmulated".
void PrintTo(const StartCase& c, std::ostream* out) {
  *out << TestChipName(c.chip);
  for (const char* at = c.options; (at = std::strstr(at, "Option \"")) != nullptr;) {
    at += std::strlen("Option \"");
    const char* end = std::strchr(at, '"');
    if (end == nullptr) break;
    *out << "_" << std::string(at, end);
    at = end + 1;
  }
}

class FirstStart : public Screens, public testing::WithParamInterface<StartCase> {};

TEST_P(FirstStart, EngineSequenceAndPresetAsTheBoardSawThem) {
  const StartCase& c = GetParam();
  orvsim::Board& board = AddEngineBoard(c.chip);
  ASSERT_EQ(PreInit(Config(1, c.options)), 1);
  board.SetLogCapacity(1 << 20);
  board.SetLogging(true, true);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  const std::vector<orvsim::RegAccessRecord> log = board.Log();
  // Nothing the engine ran on the way up reached outside the board's memory.
  EXPECT_TRUE(engines_.back()->Faults().empty()) << engines_.back()->Faults().front().address;

  // The start-up sequence: 14 writes in order, then reads of the tag
  // register until it shows 8..15.
  const Writes seen = WritesFrom(log, 0x1324, kEar547.size());
  if (!c.ear547) {
    EXPECT_TRUE(seen.empty());
  } else {
    EXPECT_EQ(seen, kEar547);
    size_t at = 0;
    while (at < log.size() && !(log[at].op == orvsim::RegOp::kWrite && log[at].offset == 0x12BC)) ++at;
    uint32_t lastTag = 0;
    size_t tagReads = 0;
    for (++at; at < log.size() && log[at].op == orvsim::RegOp::kRead; ++at) {
      if (log[at].offset == 0x41C) {
        lastTag = log[at].value;
        ++tagReads;
      }
    }
    EXPECT_GE(tagReads, 1u);
    EXPECT_GE(lastTag, 8u);
    EXPECT_LE(lastTag, 15u);
  }

  // The 2D preset as the DMA engine decoded it, then its sync packet.
  const Writes expected = PresetStream();
  const auto& dma = dma_.back()->Writes();
  ASSERT_GE(dma.size(), expected.size() + 4);
  Writes decoded;
  for (size_t i = 0; i < expected.size(); ++i) decoded.push_back({dma[i].reg, dma[i].value});
  EXPECT_EQ(decoded, expected);
  const size_t s = expected.size();
  EXPECT_EQ(dma[s].reg, 0x1300u);
  EXPECT_EQ(dma[s].value, 0x707u);
  EXPECT_EQ(dma[s + 1].reg, 0x1374u);
  EXPECT_EQ(dma[s + 1].value, 0u);
  EXPECT_EQ(dma[s + 2].reg, 0x12BCu);
  EXPECT_EQ(dma[s + 3].reg, 0x12BCu);
  const uint32_t tag = dma[s + 3].value;
  EXPECT_NE(tag, 0u);
  EXPECT_EQ(tag % 8, 0u);
  EXPECT_EQ(dma[s + 2].value & ~1u, tag);

  // A later start repeats neither.
  server.LeaveVT();
  board.ClearLog();
  dma_.back()->ClearWrites();
  ASSERT_TRUE(server.EnterVT());
  EXPECT_TRUE(WritesFrom(board.Log(), 0x1324, 1).empty());
  for (const auto& w : dma_.back()->Writes()) EXPECT_NE(w.value, 0x41F80000u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FirstStart,
                         testing::Values(StartCase{0x5D63, "", true},
                                         StartCase{0x5D63, "  Option \"DmaEmulated\"\n", true},
                                         StartCase{0x5D62, "", false}),
                         testing::PrintToStringParamName());

TEST_F(Screens, TheStartUpCopyRunsAndLeavesEveryByteOfMemoryAsItWas) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  PDEV* pdev = Rec(0)->pdev;
  orvsim::Engine2d* engine = engines_.back();
  // Every pixel of local memory different from its neighbours, and the
  // start-up's own pixel too.
  uint8_t* memory = board.LocalMemory();
  for (size_t i = 0; i < board.LocalMemorySize(); ++i) memory[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  const std::vector<uint8_t> before(memory, memory + board.LocalMemorySize());
  const uint64_t operations = engine->Operations(), pixels = engine->PixelsWritten();
  engine->ClearFaults();
  ASSERT_EQ(ApplyEAR547(pdev), kKstrnSuccess);
  // The copy ran, wrote its one pixel inside local memory, and wrote it
  // with the value it already held.
  EXPECT_EQ(engine->Operations(), operations + 1);
  EXPECT_EQ(engine->PixelsWritten(), pixels + 1);
  EXPECT_TRUE(engine->Faults().empty()) << engine->Faults().front().address;
  EXPECT_EQ(board.Peek(0x1220, 4) & 3u, 0u) << "descriptor 0 names local memory";
  EXPECT_TRUE(std::equal(before.begin(), before.end(), memory));
}

TEST_F(Screens, StopWaitsForTheEngineSyncsAndStopsLocalDma) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  PDEV* pdev = Rec(0)->pdev;
  ASSERT_NE(pdev->bindingFlags & kPdevPrimaryDeclared, 0u);
  ASSERT_NE(pdev->bindingFlags & kPdevLocalDmaRunning, 0u);
  board.SetLogging(true, true);
  board.ClearLog();
  dma_.back()->ClearWrites();
  ASSERT_TRUE(ORVKstrnStopDevice(xf86Screens[0]));
  EXPECT_TRUE(box.Logged("Kestrion device stopped.\n", X_INFO));
  // The idle register was read before the sync packet went out, and the
  // sync packet reached the engine.
  const auto log = board.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().op, orvsim::RegOp::kRead);
  EXPECT_EQ(log.front().offset, 0x31Cu);  // the idle register of this chip
  const auto& dma = dma_.back()->Writes();
  const orvsim::DmaEngine::RegWrite sync[] = {{0x1300, 0x707}, {0x1374, 0}};
  auto at = std::search(dma.begin(), dma.end(), std::begin(sync), std::end(sync));
  ASSERT_LT(std::distance(dma.begin(), at) + 2, static_cast<ptrdiff_t>(dma.size()));
  EXPECT_EQ(at[2].reg, 0x12BCu);
  // The engine reached the sync (the feature stop drains once more after it).
  EXPECT_GE(dma_.back()->ReachedTag(), at[2].value & ~7u);
  EXPECT_EQ(pdev->bindingFlags & (kPdevPrimaryDeclared | kPdevLocalDmaRunning), 0u);

  // Stopping what is not started does nothing and answers false.
  board.ClearLog();
  EXPECT_FALSE(ORVKstrnStopDevice(xf86Screens[0]));
  EXPECT_TRUE(board.Log().empty());
  EXPECT_EQ(KstrnStopDevice(nullptr), kKstrnNoDevice);
  EXPECT_EQ(KstrnStartDevice(nullptr, nullptr), kKstrnNoDevice);
  ASSERT_TRUE(server.EnterVT());
}

TEST_F(Screens, AStartUpTagThatNeverComesFailsTheStartAfterItsBound) {
  orvsim::Board& board = Up(1);
  // Once the start-up sequence began (its first write), the tag register
  // never shows what the sequence waits for.
  board.ClearHooks(0x41C);
  uint64_t reads = 0;
  board.SetReadHook(0x41C, 4, [&reads](orvsim::Board& b, orvsim::RegAccess, uint32_t stored) -> uint32_t {
    if (b.Peek(0x1324, 4) != 0xFFFFFFFF) return stored;
    ++reads;
    return 0;
  });
  const uint64_t slept = box.SleptMicroseconds();
  EXPECT_FALSE(server.InitScreens());
  EXPECT_GT(reads, 0u);
  EXPECT_GE(box.SleptMicroseconds() - slept, kEngineWaitMicroseconds) << "the whole bound waited";
  EXPECT_TRUE(box.Logged("[orv] *ERROR* the engine's start-up tag: no progress after 2000000 us\n"))
      << box.LogText();
  EXPECT_TRUE(box.Logged(
      "Cannot use Kestrion module for acceleration, device failed to start with error code 5.\n",
      X_WARNING));
}

}  // namespace
