// The X driver's facade: the mode-record conversions, the mode, TV, DPMS,
// cursor and VGA chains, and the monitor queries over monitor records built
// from small EDID blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/facade.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/tests/edid_fixture.h"
#include "hwsharing/tests/hw_fixture.h"
#include "hwsharing/tests/recording_slots.h"
#include "platform/board/companion_chips.h"
#include "platform/board/chip_cursor.h"
#include "platform/board/chip_gpio_i2c.h"

namespace {

using hwtest::Edid1;

struct OpenBoard {
  explicit OpenBoard(uint16_t device = kDeviceKestrion1) : hw(hwtest::Config(device)) {
    EXPECT_EQ(hw.Open(), kHalOk);
    h = hw.h();
    hwtest::RecordModeSlots(h);
    orvstandin::Reset();
  }
  // A quad board of the type.
  void MakeQuad(uint32_t type) {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = type;
  }
  MONITORINFO& Attach(uint32_t output, const uint8_t* edid) {
    MONITORINFO& mi = h->aMonitorInfo[output];
    std::memset(&mi, 0, sizeof(mi));
    std::memcpy(mi.aucEdid, edid, kEdidBufferSize);
    mi.flMonitor = kMonitorPresent | kMonitorEdidValid;
    mi.ulEdidVersion = HALPGetEDIDVersion(edid);
    HALPGetMonitorProperties(h, output);
    HALPGetEdidModes(h, output);
    HALPGetMonitorMinimalResolution(h, output);
    HALPGetMonitorMaximalResolution(h, output);
    HALPGetMonitorLimits(h, output);
    return mi;
  }
  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

// The TV slots hold written chip-layer functions; in the facade's tests
// these take their place and log their calls like the stand-ins, so the
// facade's order of calls shows.
constexpr char kGetTvProcAmp[] = "HSLKSTGetTVProcAmp";
constexpr char kSetTvProcAmp[] = "HSLKSTSetTVProcAmp";
constexpr char kSetTvStandard[] = "HSLKSTSetTVStandard";
constexpr char kSetTvCable[] = "HSLKSTSetTVCableType";
template <const char* kName, class... Args>
HALSTATUS LoggedSlot(BOARDHANDLE* h, Args...) {
  uint32_t chosen = 0;
  return orvstandin::Called(kName, &chosen, h) ? SetError(h, chosen) : h->status;
}
void LogTvSlots(BOARDHANDLE* h) {
  h->oJumpTable.GetTVProcAmp = LoggedSlot<kGetTvProcAmp>;
  h->oJumpTable.SetTVProcAmp = LoggedSlot<kSetTvProcAmp>;
  h->oJumpTable.SetTVStandard = LoggedSlot<kSetTvStandard>;
  h->oJumpTable.SetTVCableType = LoggedSlot<kSetTvCable>;
}

// Power states that reach slot 0, in order.
std::vector<uint32_t> g_powerStates;
HALSTATUS RecordPowerState(BOARDHANDLE* h, uint32_t state) {
  g_powerStates.push_back(state);
  return h->status;
}
// Controllers whose records reach the set-mode slot, in order.
std::vector<uint32_t> g_setControllers;
HALSTATUS RecordSetMode(BOARDHANDLE* h, MODEINFO* mode) {
  g_setControllers.push_back(static_cast<uint32_t>(mode - h->aModeInfo));
  return h->status;
}

// ---- Conversions ----------------------------------------------------------------------

TEST(ModeRecords, OutputBitsMapBothWays) {
  struct Row {
    uint32_t qlb, mode;
  };
  const Row rows[] = {
      {0x00000002, 0x01000000}, {0x00000004, 0x08000000}, {0x00000008, 0x00000002}, {0x00000010, 0x00000004},
      {0x00000020, 0x20000000}, {0x00000040, 0x40000000}, {0x00000080, 0x80000000}, {0x00000100, 0x00000100},
      {0x00000200, 0x00000010}, {0x00000400, 0x04000000}, {0x00000800, 0x00000020}, {0x00001000, 0x00000040},
      {0x00002000, 0x02000000}, {0x00010000, 0x00000001}, {0x00080000, 0x00080000}, {0x00100000, 0x00200000},
      {0x00200000, 0x00400000}, {0x00400000, 0x01000000}, {0x00800000, 0x08000000}, {0x01000000, 0x10000000},
  };
  for (const Row& r : rows) {
    QLBMODEINFO q{};
    q.flOutput = r.qlb;
    MODEINFO m;
    CastToMODEINFO(&m, &q);
    EXPECT_EQ(m.flOutput, r.mode) << std::hex << r.qlb;
    QLBMODEINFO back;
    CastToQLBMODEINFO(&back, &m);
    // The library's first two analog outputs have two X-side names each.
    uint32_t expected = r.qlb;
    if (r.mode == 0x01000000) expected = 0x2 | 0x400000;
    if (r.mode == 0x08000000) expected = 0x4 | 0x800000;
    EXPECT_EQ(back.flOutput, expected) << std::hex << r.qlb;
  }
  // The signal bit that stands for library output bit 0x200.
  QLBMODEINFO q{};
  q.flSignalMode = 0x80000 | 0x30;
  MODEINFO m;
  CastToMODEINFO(&m, &q);
  EXPECT_EQ(m.flOutput, 0x200u);
  QLBMODEINFO back;
  CastToQLBMODEINFO(&back, &m);
  EXPECT_EQ(back.flSignalMode, 0x80030u);
  EXPECT_EQ(back.ulTvStandard, 3u);
  EXPECT_EQ(back.flOutput, 0u);
}

TEST(ModeRecords, PitchAndOriginNeedTheirBitsAndNoUnitIsConverted) {
  QLBMODEINFO q{};
  q.ulDispWidth = 1280;
  q.ulDispHeight = 1024;
  q.ulDeskWidth = 2560;
  q.ulDeskHeight = 1024;
  q.ulFBPitch = 1024;
  q.ulDepth = 24;
  q.ulBpp = 32;
  q.ulZoom = 0x10001;
  q.flSignalMode = 0x1C;
  q.ulRefreshRate = 59940;  // millihertz, as the X side writes them
  q.ulHorizRate = 63981;    // hertz
  q.ulPixClock = 108000;
  q.ulHFPorch = 48;
  q.ulHSync = 112;
  q.ulHBPorch = 248;
  q.ulVFPorch = 1;
  q.ulVSync = 3;
  q.ulVBPorch = 38;
  q.ulDisplayOrg = 4096;
  q.ulDstOrg = 8192;
  q.ulPanXGran = 8;
  q.ulPanYGran = 2;
  q.ulTvStandard = 2;
  q.ulTvScaling = 5;
  q.ulTvCableType = 7;
  MODEINFO m;
  std::memset(&m, 0xCC, sizeof(m));
  CastToMODEINFO(&m, &q);
  EXPECT_EQ(m.ulFBPitch, 0u);
  EXPECT_EQ(m.ulDisplayOrg, 0u);
  EXPECT_EQ(m.ulRefreshRate, 59940u);
  EXPECT_EQ(m.ulHorizRate, 63981u);
  EXPECT_EQ(m.ulPixClock, 108000u);
  EXPECT_EQ(m.ulHBorder, 0u);
  EXPECT_EQ(m.acTvAdjust[3][3], 0);  // TV words are not carried
  EXPECT_EQ(m.flModeCaps, 0u);
  q.flOutput = kQlbPitchValid | kQlbOriginValid;
  CastToMODEINFO(&m, &q);
  EXPECT_EQ(m.ulFBPitch, 1024u);
  EXPECT_EQ(m.ulDisplayOrg, 4096u);
  EXPECT_EQ(m.ulReserved, 4096u);  // the origin's copy
  EXPECT_EQ(m.ulDstOrg, 8192u);
  EXPECT_EQ(m.ulZoom, 0x10001u);

  // Library record to X-side record and back: every shared field, bit for
  // bit.
  m.ulRefreshRate = 0xDEADBEEF;
  m.ulHorizRate = 0x12345678;
  m.ulPixClock = 0x87654321;
  QLBMODEINFO x;
  CastToQLBMODEINFO(&x, &m);
  EXPECT_EQ(x.ulFBPitch, 1024u);  // always copied back
  EXPECT_EQ(x.ulDepth, 0u);
  MODEINFO again;
  x.flOutput |= kQlbPitchValid | kQlbOriginValid;
  CastToMODEINFO(&again, &x);
  EXPECT_EQ(again.ulRefreshRate, 0xDEADBEEFu);
  EXPECT_EQ(again.ulHorizRate, 0x12345678u);
  EXPECT_EQ(again.ulPixClock, 0x87654321u);
  EXPECT_EQ(std::memcmp(&again.ulHFPorch, &m.ulHFPorch, 3 * sizeof(uint32_t)), 0);
  EXPECT_EQ(again.ulVBPorch, m.ulVBPorch);
  EXPECT_EQ(again.ulPanYGran, m.ulPanYGran);
}

// ---- Mode chains --------------------------------------------------------------------------

TEST(Facade, SetModeAsksForGenlockOnlyForTheListedSizesOnQuadBoards) {
  struct Case {
    bool quad;
    uint32_t w, h, deskW, deskH;
    bool genlock;
  };
  const Case cases[] = {
      {true, 1920, 1200, 3840, 2400, true}, {true, 1920, 600, 3840, 1200, false},
      {true, 960, 2400, 1920, 2400, true},  {true, 1024, 768, 1024, 768, false},
      {false, 1920, 1200, 3840, 2400, false},
  };
  for (const Case& c : cases) {
    OpenBoard b;
    if (c.quad) b.MakeQuad(4);
    QLBMODEINFO q{};
    q.ulDispWidth = c.w;
    q.ulDispHeight = c.h;
    q.ulDeskWidth = c.deskW;
    q.ulDeskHeight = c.deskH;
    ORVSetMode(b.h, &q);
    EXPECT_EQ((b.h->ulBoardFlags & kBoardFlagGenlock) != 0, c.genlock) << c.deskW << "x" << c.deskH;
  }
}

TEST(Facade, SetModeReturnsTheSetsStatusWhateverTheValidations) {
  OpenBoard b;
  orvstandin::SetResult("HSLKSTValidateMode", 0xB0000001);
  orvstandin::SetResult("HSLKSTValidateVideoParameters", 0xB0000002);
  QLBMODEINFO q{};
  q.ulDispWidth = 1024;
  EXPECT_EQ(ORVSetMode(b.h, &q), kHalOk);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetMode"), 1u);
  orvstandin::SetResult("HSLKSTSetMode", 0xB0000003);
  EXPECT_EQ(ORVSetMode(b.h, &q), 0xB0000003u);
  // Not a TV path: no proc-amp.
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTGetTVProcAmp"), 0u);
}

TEST(Facade, SetModeOnATvPathFetchesAndSetsTheProcAmp) {
  OpenBoard b;
  LogTvSlots(b.h);
  b.h->ulOutputCaps |= 0x8;  // TV output
  QLBMODEINFO q{};
  q.flOutput = 0x400;  // TV 1
  ORVSetMode(b.h, &q);
  const std::vector<std::string> expected = {"HSLKSTGetTVProcAmp", "HSLKSTSetTVProcAmp", "HSLKSTValidateMode",
                                             "HSLKSTValidateVideoParameters", "HSLKSTSetMode"};
  std::vector<std::string> calls;
  for (size_t i = 0; i < orvstandin::CallCount(); ++i) calls.push_back(orvstandin::CallAt(i));
  EXPECT_EQ(calls, expected);
}

TEST(Facade, TvModesSetStandardCableProcAmpAndMode) {
  OpenBoard b;
  LogTvSlots(b.h);
  b.h->ulOutputCaps |= 0x8;
  QLBMODEINFO q{};
  q.ulDispWidth = 640;
  q.ulDispHeight = 480;
  q.ulTvScaling = 0x103;
  EXPECT_EQ(ORVSetKvdTVMode(b.h, &q), kHalOk);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetTVStandard"), 1u);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetTVCableType"), 1u);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetMode"), 1u);
  orvstandin::Reset();
  orvstandin::SetResult("HSLKSTValidateMode", 0xB0000005);
  EXPECT_EQ(ORVSetTVMode(b.h, &q), kHalOk);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetMode"), 1u);
}

TEST(Facade, DpmsLevelsGiveTwoPowerStates) {
  OpenBoard b;
  b.h->oJumpTable.SetPowerState = RecordPowerState;
  const uint32_t s[4] = {0, 1, 4, 8};
  for (uint32_t level = 0; level < 4; ++level) {
    g_powerStates.clear();
    ORVSetDPMS(b.h, level);
    EXPECT_EQ(g_powerStates, (std::vector<uint32_t>{0x20000000 + s[level], 0x10000000 + s[level]})) << level;
  }
  g_powerStates.clear();
  ORVSetDPMS(b.h, 4);
  EXPECT_TRUE(g_powerStates.empty());
}

TEST(Facade, VgaControllersGoOffInTheBoardsOrder) {
  struct Case {
    bool quad;
    uint32_t type;
    std::vector<uint32_t> order;
  };
  const Case cases[] = {{false, 0, {1, 2, 3}}, {true, 3, {0, 1, 2}}, {true, 4, {3, 1, 2}}};
  for (const Case& c : cases) {
    OpenBoard b;
    if (c.quad) b.MakeQuad(c.type);
    b.h->oJumpTable.SetMode = RecordSetMode;
    for (MODEINFO& m : b.h->aModeInfo) m.flOutput = 0x01000000;
    g_setControllers.clear();
    ORVVgaDisableControllers(b.h);
    EXPECT_EQ(g_setControllers, c.order) << c.type;
    for (uint32_t controller : c.order) EXPECT_TRUE(b.h->aModeInfo[controller].flOutput & kOutControllerOff);
  }
}

TEST(Facade, CursorsOffThenAWaitForVerticalRetrace) {
  OpenBoard b;
  orvsim::ChipCursor& cursor = *b.hw.AddParts(orvmachine::kCursor).cursor;
  b.hw.board().RegWrite(0x18C4, 4, 3);
  b.hw.board().RegWrite(0x1AC4, 4, 4);
  EXPECT_EQ(ORVDisableCursors(b.h), kHalOk);
  EXPECT_FALSE(cursor.Shown(0));
  EXPECT_FALSE(cursor.Shown(1));
  // The wait read controller 0's line counter after both cursors went off.
  const std::vector<orvsim::RegAccessRecord> log = b.hw.board().Log();
  size_t lastCursorWrite = 0, counterRead = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].op == orvsim::RegOp::kWrite && (log[i].offset == 0x18C4 || log[i].offset == 0x1AC4))
      lastCursorWrite = i;
    if (log[i].op == orvsim::RegOp::kRead && log[i].offset == 0x1924) counterRead = i;
  }
  EXPECT_GT(counterRead, lastCursorWrite);
}

TEST(Facade, IsVgaAsksEveryEncoderThatDoesNotAnswer) {
  OpenBoard b;
  // Four encoder records on board port 1, at one chip that never answers.
  b.hw.Chip();
  for (I2CDEVICE& e : b.h->aChrontel) e = I2CDEVICE{1, 1, 0xEC, 0x80};
  auto& silent = b.hw.board().I2c(orvsim::kBusBoardPort1).Emplace<orvsim::EncoderChip>(0xEC, 0x80);
  for (unsigned attempt = 1; attempt <= 32; ++attempt) silent.NakAddressOnAttempt(attempt);
  EXPECT_EQ(ORVIsVGA(b.h), 0u);
  EXPECT_EQ(silent.AddressAttempts(), 4u * 8u) << "each encoder asked, eight attempts each";
  EXPECT_EQ(b.h->status, kHalOk);
}

TEST(Facade, IsVgaReadsTheConsoleMarkFromEncoderRegister49) {
  OpenBoard b;
  b.hw.Chip();
  for (I2CDEVICE& e : b.h->aChrontel) e = I2CDEVICE{1, 1, 0xEC, 0x81};
  auto& encoder = b.hw.board().I2c(orvsim::kBusBoardPort1).Emplace<orvsim::EncoderChip>(0xEC, 0x81);
  const struct {
    uint8_t value;
    uint32_t vga;
  } cases[] = {{0xDE, 1}, {0x20, 1}, {0x1E, 0}, {0x00, 0}, {0xDF, 0}};
  for (const auto& c : cases) {
    encoder.SetRegister(0x49, c.value);
    EXPECT_EQ(ORVIsVGA(b.h), c.vga) << std::hex << int(c.value);
    EXPECT_EQ(encoder.Register(0x49), c.value) << "only read";
    EXPECT_EQ(b.h->status, kHalOk);
  }
}

// ---- Board queries ------------------------------------------------------------------------

TEST(Facade, OpenLibraryBringsUpASupportedBoard) {
  hwtest::HwBoard hw(hwtest::Config(kDeviceKestrionNext1));
  ORVClientRecord client = hw.client();
  orvstandin::Reset();
  // A monitor on output 0. The library's built-in description gives GPIO
  // line 2, the select of the first DDC pins, no function: the select
  // floats high and the pins reach connector 2's lines.
  hw.Chip();
  hwtest::Edid1 e;
  e.Seal();
  hw.board().I2c(orvsim::kBusDdcConnector2).Emplace<orvsim::EdidEeprom>(std::vector<uint8_t>(e.data(), e.data() + 128));
  EXPECT_EQ(ORVOpenLibrary(hw.h(), &client), kHalOk);
  EXPECT_EQ(hw.h()->pClient, &client);
  EXPECT_EQ(hw.h()->ulSignature, 15292u);
  EXPECT_NE(hw.h()->aMonitorInfo[0].flMonitor & kMonitorEdidValid, 0u) << "the monitors were gathered";
  EXPECT_EQ(ORVCloseLibrary(hw.h()), kHalOk);
  EXPECT_EQ(ORVGetBOARDHANDLESize(), 20392u);
}

TEST(Facade, OpenLibraryLeavesAnUnsupportedBoardAlone) {
  hwtest::HwBoard old(hwtest::Config(kDeviceOlder6A19));
  old.h()->ulSignature = 0;
  orvstandin::Reset();
  EXPECT_EQ(ORVOpenLibrary(old.h(), &old.client()), 0xA0203060u);
  EXPECT_EQ(old.h()->ulSignature, 0u);
  EXPECT_EQ(orvstandin::CallCount(), 0u);
}

TEST(Facade, BoardKindsAndLimits) {
  OpenBoard b;
  EXPECT_EQ(ORVIsQuadBoard(b.h), 0u);
  for (uint32_t type : {2u, 3u, 4u, 5u, 8u, 9u, 12u, 17u, 18u}) {
    b.MakeQuad(type);
    EXPECT_EQ(ORVIsQuadBoard(b.h), 1u) << type;
    EXPECT_EQ(ORVQuadChrontelInversion(b.h), type == 3 ? 1u : 0u) << type;
  }
  b.MakeQuad(10);
  EXPECT_EQ(ORVIsQuadBoard(b.h), 0u);

  OUTPUTLIMIT* l = b.h->oBoardInfo.aOutputLimit;
  l[0] = {0, 400000, 330000};
  l[1] = {0, 360000, 165000};
  l[2] = {0, 200000, 0};
  l[3] = {0, 180000, 0};
  struct Case {
    uint32_t type, head, khz;
  };
  for (const Case& c : {Case{0, 0, 400000}, Case{0, 1, 330000}, Case{0, 3, 400000}, Case{1, 1, 165000},
                        Case{1, 0, 360000}, Case{2, 1, 200000}, Case{3, 0, 180000}, Case{4, 0, 125000}})
    EXPECT_EQ(ORVGetMaxPixelClock(b.h, c.type, c.head), c.khz) << c.type << "/" << c.head;

  b.h->ulOutputCaps = 0x1 | 0x200000 | 0x100;
  EXPECT_EQ(ORVGetMaxOutputs(b.h), 3u);
  std::memset(b.h->aulOutputCapsWord, 0, sizeof(b.h->aulOutputCapsWord));
  ORVSetPackedPixelCaps(b.h, 2);
  ORVSetPackedPixelCaps(b.h, 9);
  for (uint32_t w : b.h->aulOutputCapsWord) EXPECT_EQ(w, 13u | 7u);
  uint8_t bios[129];
  bios[128] = 0x77;
  b.h->oPins.aucData[127] = 0x42;
  ORVGetBiosInfo(b.h, bios);
  EXPECT_EQ(bios[127], 0x42);
  EXPECT_EQ(bios[128], 0x77);
}

TEST(Facade, DualLinkCapsKeepTheMonitorsAndTheSavedConsole) {
  OpenBoard b;
  Edid1 e;
  e.SetDetailed(0, hwtest::Timing1080p());
  b.Attach(0, e.data());
  b.h->aucVgaState[100] = 0x5A;
  b.h->oVgaReturn = VGARETURNSTATE{1, 3, 2, {}};
  b.h->oVgaReturn.aucFpgaSet[1][0] = 0x09;
  b.h->oVgaReturn.aucFpgaSet[1][1] = 0x77;
  b.h->oVgaReturn.aucFpgaSet[1][2] = 0xFF;
  // Add-on detection leaves this board without the two capability bits.
  EXPECT_EQ(ORVSetDualLinkCaps(b.h), 0u);
  EXPECT_EQ(b.h->aMonitorInfo[0].ulMaxResWidth, 1920u);
  EXPECT_EQ(b.h->ulSignature, 15292u);
  EXPECT_EQ(b.h->aucVgaState[100], 0x5A);
  EXPECT_EQ(b.h->oVgaReturn.ulPrimaryChrontel, 3u);
  EXPECT_EQ(b.h->oVgaReturn.ulSecondaryChrontel, 2u);
  EXPECT_EQ(b.h->oVgaReturn.aucFpgaSet[1][1], 0x77);
}

TEST(Facade, HardwareInfoFlagsPerDevice) {
  struct Case {
    uint16_t device;
    uint32_t flags0, flags1, boardFlags;
    uint32_t word0, word1;
  };
  const Case cases[] = {
      {kDeviceKestrion1, kMonitorDigital, kMonitorTv, 0, 18, 32},
      {kDeviceKestrion2, kMonitorTv | kMonitorPresent, 0, 0x10000, 64 | 32, 9},
      {kDeviceKestrionNext1, 0, kMonitorDigital | kMonitorTv, 0, 9, 18},
      {kDeviceKestrionNext2, kMonitorDigital, 0, 0x10000, 1, 0},
      {kDeviceKestrionNext3, 0, 0, 0, 1, 0},
  };
  for (const Case& c : cases) {
    OpenBoard b(c.device);
    b.h->aMonitorInfo[0].flMonitor = c.flags0;
    b.h->aMonitorInfo[1].flMonitor = c.flags1;
    b.h->ulBoardFlags |= c.boardFlags;
    b.h->oBoardInfo.ulMemorySize = 64u << 20;
    b.h->oBoardInfo.ulAvailMemorySize = 60u << 20;
    uint32_t info[5] = {7, 7, 7, 7, 7};
    EXPECT_EQ(ORVGetHardwareInfo(b.h, info), 0u);
    EXPECT_EQ(info[0], c.word0) << std::hex << c.device;
    EXPECT_EQ(info[1], c.word1) << std::hex << c.device;
    EXPECT_EQ(info[2], info[3] + info[4]);
  }
}

// ---- Monitor queries ------------------------------------------------------------------------

TEST(Facade, MonitorInputType) {
  struct Case {
    const char* name;
    bool quad;
    uint32_t asked;
    uint32_t stored;  // output whose record and cable entry are set
    uint8_t cable;
    int edid;  // 0 none, 1 analog 1.x, 2 digital 1.x, 3 analog 2.0, 4 digital 2.0
    uint32_t type;
  };
  const Case cases[] = {
      {"no EDID", false, 0, 0, 0, 0, 1},
      {"analog EDID", false, 0, 0, 0, 1, 1},
      {"digital EDID", false, 0, 0, 0, 2, 2},
      {"EDID 2.0 analog", false, 1, 1, 0, 3, 1},
      {"EDID 2.0 digital", false, 1, 1, 0, 4, 2},
      {"TV cable on output 1", false, 1, 1, 5, 2, 3},
      {"TV cable on output 0 counts only on quad boards", false, 0, 0, 5, 2, 2},
      {"quad board: output 0 cable", true, 0, 0, 5, 1, 3},
      {"quad board: output 1 is read as output 2", true, 1, 2, 0, 2, 2},
      {"quad board: output 2's TV", true, 1, 2, 5, 1, 3},
  };
  for (const Case& c : cases) {
    OpenBoard b;
    if (c.quad) b.MakeQuad(2);
    b.h->aCableInfo[c.stored].ucCableType = c.cable;
    uint8_t* raw = b.h->aMonitorInfo[c.stored].aucEdid;
    std::memset(raw, 0, kEdidBufferSize);
    if (c.edid == 1 || c.edid == 2) {
      Edid1 e;
      e[20] = c.edid == 2 ? 0x80 : 0x08;
      std::memcpy(raw, e.data(), kEdidBufferSize);
    } else if (c.edid >= 3) {
      raw[0] = 0x20;
      raw[79] = c.edid == 4 ? 16 : 15;
    }
    EXPECT_EQ(ORVGetMonitorInputType(b.h, c.asked), c.type) << c.name;
  }
}

TEST(Facade, MonitorEdidOnlyWhenValid) {
  OpenBoard b;
  Edid1 e;
  std::memcpy(b.h->aMonitorInfo[1].aucEdid, e.data(), kEdidBufferSize);
  uint8_t out[128];
  std::memset(out, 0xAB, sizeof(out));
  ORVGetMonitorEDID(b.h, out, 1);
  EXPECT_EQ(std::memcmp(out, e.data(), 128), 0);
  b.h->aMonitorInfo[1].aucEdid[60] ^= 1;  // checksum broken
  std::memset(out, 0xAB, sizeof(out));
  ORVGetMonitorEDID(b.h, out, 1);
  EXPECT_EQ(out[0], 0xAB);
  ORVGetMonitorEDID(b.h, out, 4);
  EXPECT_EQ(out[0], 0xAB);
}

TEST(Facade, DeviceEdidInfoDescribesTheMonitor) {
  OpenBoard b;
  Edid1 e;
  e.SetVendor("ORV")
      .SetEstablished(0, 0x01)     // 800x600 at 60
      .SetStandard(0, 0x61, 0x40)  // 1024x768 at 60
      .SetStandard(1, 0x61, 0x41)  // 1024x768 at 61: no VESA row
      .SetDetailed(0, hwtest::Timing1080p())
      .SetText(1, 0xFC, "Kestrion View")
      .SetText(2, 0xFF, "A1B2");
  b.Attach(0, e.data());
  DEVICEEDIDINFO info;
  std::memset(&info, 0x5C, sizeof(info));
  EXPECT_EQ(ORVGetDeviceEdidInfo(b.h, 0, &info), &info);
  EXPECT_STREQ(info.szVendorSign, "ORV");
  EXPECT_STREQ(info.szMonitorName, "Kestrion View");
  EXPECT_EQ(std::string(info.szSerialNumber, 5), "A1B2\n");
  EXPECT_EQ(info.szSerialNumber[13], 0);
  EXPECT_EQ(info.ulModeCount, 25u);
  EXPECT_EQ(info.aoModes[0].ulDispWidth, 800u);
  EXPECT_EQ(info.aoModes[0].ulPixClock, 40000u);
  EXPECT_EQ(info.aoModes[1].ulPixClock, 65000u);
  EXPECT_EQ(info.aoModes[2].ulDispWidth, 1024u);  // a miss keeps only the size
  EXPECT_EQ(info.aoModes[2].ulPixClock, 0u);
  EXPECT_EQ(info.aoModes[2].ulZoom, 1u);
  EXPECT_EQ(info.aoModes[3].ulDispWidth, 1920u);
  EXPECT_EQ(info.aoModes[4].ulDispWidth, 0u);
  EXPECT_EQ(info.oPreferredTiming.ulPixClock, 148500u);
  EXPECT_EQ(info.oPreferredTiming.ulHSync, 44u);

  // Without a valid EDID the texts are empty.
  std::memset(&info, 0x5C, sizeof(info));
  ORVGetDeviceEdidInfo(b.h, 2, &info);
  EXPECT_EQ(info.szVendorSign[0], 0);
  EXPECT_EQ(info.szMonitorName[0], 0);
  EXPECT_EQ(info.oPreferredTiming.ulDispWidth, 0u);
}

TEST(Facade, TimingsAgainstTheMonitorsLimits) {
  OpenBoard b;
  MONITORINFO& mi = b.h->aMonitorInfo[0];
  mi.ulMaxResWidth = 1600;
  mi.ulMaxResHeight = 1200;
  mi.ulMinVRate = 50;
  mi.ulMaxVRate = 75;
  mi.ulMinHRate = 30;
  mi.ulMaxHRate = 80;
  mi.ulMaxPixClock = 162000;
  struct Case {
    const char* name;
    uint32_t w, h, refresh, hrate, clock, result;
  };
  const Case cases[] = {
      {"inside", 1280, 1024, 60, 64, 108000, 0},
      {"too wide", 1920, 1080, 60, 67, 148500, 274},
      {"refresh too high", 1280, 1024, 85, 64, 108000, 274},
      {"refresh too low", 1280, 1024, 43, 64, 108000, 274},
      {"320x200 skips the refresh test", 320, 200, 85, 64, 20000, 0},
      {"640x399 skips it too", 640, 399, 85, 64, 20000, 0},
      {"horizontal rate too high", 1280, 1024, 60, 91, 108000, 274},
      {"horizontal rate too low", 640, 480, 60, 25, 25175, 274},
      {"clock too high", 1600, 1200, 75, 80, 202500, 49},
      // X-side records are compared as they stand: millihertz are high.
      {"millihertz", 1280, 1024, 60000, 64, 108000, 274},
  };
  for (const Case& c : cases) {
    QLBMODEINFO q{};
    q.ulDispWidth = c.w;
    q.ulDispHeight = c.h;
    q.ulRefreshRate = c.refresh;
    q.ulHorizRate = c.hrate;
    q.ulPixClock = c.clock;
    EXPECT_EQ(ORVValidateTimingsWithEdid(b.h, 0, &q), c.result) << c.name;
  }
  QLBMODEINFO q{};
  q.ulDispWidth = 4096;
  EXPECT_EQ(ORVValidateTimingsWithEdid(b.h, 3, &q), 0u);  // nothing known
}

TEST(Facade, VideoParametersAtARefreshOrTheBestLowerOrGtf) {
  OpenBoard b;
  Edid1 e;
  e.SetEstablished(1, 0x0E)  // 1024x768 at 75, 70 and 60
      .SetDetailed(0, hwtest::Timing1080p());
  b.Attach(0, e.data());
  QLBMODEINFO q{};
  q.ulDispWidth = 1024;
  q.ulDispHeight = 768;
  EXPECT_EQ(ORVGetVideoParameters(b.h, &q, 70), kHalOk);
  EXPECT_EQ(q.ulPixClock, 75000u);
  q = {};
  q.ulDispWidth = 1024;
  q.ulDispHeight = 768;
  EXPECT_EQ(ORVGetVideoParameters(b.h, &q, 72), kVideoParametersNotFound);
  EXPECT_EQ(q.ulRefreshRate, 70u);  // the best lower one stays
  q = {};
  q.ulDispWidth = 1024;
  q.ulDispHeight = 768;
  EXPECT_EQ(ORVGetVideoParameters(b.h, &q, 50), kHalOk);  // only higher ones: GTF
  EXPECT_EQ(q.ulRefreshRate, 50u);
  EXPECT_EQ(q.ulVSync, 3u);
  q = {};
  q.ulDispWidth = 1280;
  q.ulDispHeight = 960;
  EXPECT_EQ(ORVGetVideoParameters(b.h, &q, 66), kHalOk);
  MODEINFO gtf{};
  gtf.ulDispWidth = 1280;
  gtf.ulDispHeight = 960;
  HALPGetVerticalGTFParams(&gtf, 66);
  EXPECT_EQ(q.ulPixClock, gtf.ulPixClock);
  EXPECT_EQ(q.ulRefreshRate, 66u);
}

}  // namespace
