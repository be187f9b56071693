// The library's public entries on the simulated board: board support and
// bring-up, the status each entry starts from and returns, the mode-set
// notices, power states, custom calls, I2C ports and the hot-plug
// acknowledge.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/hal_entries.h"
#include "hwsharing/hal/hal_tools.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/tests/hw_fixture.h"
#include "hwsharing/tests/recording_slots.h"
#include "platform/board/addon_chips.h"
#include "platform/board/chip_cursor.h"
#include "tests/support/test_ids.h"

namespace {

constexpr HALSTATUS kEarlierError = 0xC0000001;

// The client notices of the test's board, in order.
std::vector<uint32_t>& Notices() {
  static std::vector<uint32_t> notices;
  return notices;
}
uint32_t RecordNotice(ORVClientRecord*, uint32_t code, void*, void*) {
  Notices().push_back(code);
  return 1;
}

struct OpenBoard {
  explicit OpenBoard(uint16_t device = kDeviceKestrion1) : hw(hwtest::Config(device)) {
    EXPECT_EQ(hw.Open(), kHalOk);
    h = hw.h();
    hwtest::RecordModeSlots(h);
    hw.client().customCall = RecordNotice;
    Notices().clear();
    orvstandin::Reset();
  }
  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

TEST(HalEntries, BoardSupportAcceptsExactlyTheFiveBoards) {
  struct Case {
    uint16_t vendor, device;
    HALSTATUS status;
  };
  const Case cases[] = {
      {kKestrionVendorId, kDeviceKestrion1, kHalOk},       {kKestrionVendorId, kDeviceKestrion2, kHalOk},
      {kKestrionVendorId, kDeviceKestrionNext1, kHalOk},   {kKestrionVendorId, kDeviceKestrionNext2, kHalOk},
      {kKestrionVendorId, kDeviceKestrionNext3, kHalOk},
      {kKestrionVendorId, kDeviceOlder6A19, kErrBoardNotSupported},  // the vendor alone is not enough
      {kKestrionVendorId, kTestUnknownDeviceId, kErrBoardNotSupported},
      {kTestOtherVendorId, kDeviceKestrion1, kErrBoardNotSupported},
  };
  for (const Case& c : cases) {
    orvsim::BoardConfig config = hwtest::Config(c.device);
    config.vendor_id = c.vendor;
    hwtest::HwBoard hw(config);
    hw.h()->status = kEarlierError;
    EXPECT_EQ(HALQueryBoardSupport(hw.h()), c.status) << std::hex << c.vendor << ":" << c.device;
  }
  EXPECT_EQ(HALQueryHandleSize(nullptr), 20392u);
  EXPECT_EQ(HALQueryLibraryVersion(nullptr), 584u);
}

TEST(HalEntries, BoardInfoBringsTheBoardUpWithEveryControllerOff) {
  hwtest::HwBoard hw(hwtest::Config(kDeviceKestrionNext2));
  BOARDHANDLE* h = hw.h();
  std::memset(h->aucTail, 0x5A, sizeof(h->aucTail));
  h->status = kEarlierError;
  EXPECT_EQ(HALGetBoardInfo(h), kHalOk);
  EXPECT_EQ(h->ulSignature, 15292u);
  EXPECT_EQ(h->ulLibraryVersion, 584u);
  const uint32_t second[3] = {0x56BABE78, 448, 1};
  const uint32_t pair[2] = {4632, 1};
  EXPECT_EQ(std::memcmp(h->aulSecondSignature, second, sizeof(second)), 0);
  EXPECT_EQ(std::memcmp(h->aulVersionPair, pair, sizeof(pair)), 0);
  EXPECT_EQ(h->pClient, &hw.client());  // the last 16 bytes survive
  EXPECT_EQ(h->aucTail[7], 0x5A);
  for (const LUTRECORD& lut : h->aLut)
    for (unsigned k = 0; k < 768; k += 97) ASSERT_EQ(lut.ausLutEntry[k], (k % 256) * 257);
  EXPECT_EQ(h->usDeviceId, kDeviceKestrionNext2);
  const uint32_t off[4] = {0x100000, 0x180000, 0x100001, 0x180001};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(h->aModeInfo[c].flOutput, off[c]) << c;
  // Add-on detection decided the outputs from the built-in description:
  // analog 0 and 1, TV output 1, two connectors.
  EXPECT_EQ(h->ulOutputCaps, 0x2000Bu);
}

TEST(HalEntries, BoardInfoOfARefusedDeviceStopsBeforeAddOnDetection) {
  hwtest::HwBoard old(hwtest::Config(kDeviceOlder6A19));
  orvstandin::Reset();
  EXPECT_EQ(HALGetBoardInfo(old.h()), kErrChipNotSupported);
  EXPECT_EQ(old.h()->ulOutputCaps, 0u) << "no add-on detection";
  EXPECT_EQ(old.h()->aModeInfo[1].flOutput, 0u);
}

// A slot that counts its calls and answers the code chosen for it: it takes
// the place of a slot whose chip-layer function is written, so the entry
// alone is under test.
int g_slotCalls = 0;
HALSTATUS g_slotCode = 0;
template <class... Args>
HALSTATUS RecordingSlot(BOARDHANDLE* h, Args...) {
  ++g_slotCalls;
  return g_slotCode != 0 ? SetError(h, g_slotCode) : h->status;
}

TEST(HalEntries, EveryEntryStartsFromAClearStatus) {
  OpenBoard b;
  BOARDHANDLE* h = b.h;
  MODEINFO mode{};
  uint32_t word = 0;
  DEVICEJUMPTABLE& t = h->oJumpTable;
  // Slots of written functions get the recording slot; the others are
  // recording stand-ins already.
  t.SwitchToVGA = RecordingSlot;
  t.SetDisplayStart = RecordingSlot;
  t.InitializeHardware = RecordingSlot;
  t.ValidatePhysAddr = RecordingSlot;
  t.SetColorLUT = RecordingSlot;
  t.DeviceIoControl = RecordingSlot;
  t.ValidateDigitalOutputFormat = RecordingSlot;
  t.SetDigitalOutputFormat = RecordingSlot;
  t.SetOverscanColor = RecordingSlot;
  t.ConfigOverride = RecordingSlot;
  t.CustomCall = RecordingSlot;
  t.GetAllMonitorInfo = RecordingSlot;
  t.GetOutputInfo = RecordingSlot;
  OUTPUTINFO info{};
  const char* const kRecorded = "recording slot";
  const std::pair<const char*, std::function<HALSTATUS()>> entries[] = {
      {"HSLKSTValidateMode", [&] { return HALValidateMode(h, &mode); }},
      {"HSLKSTValidateVideoParameters", [&] { return HALValidateVideoParameters(h, &mode); }},
      {kRecorded, [&] { return HALSwitchToVGA(h); }},
      {kRecorded, [&] { return HALSetDisplayStart(h, 1, 8, 16); }},
      {kRecorded, [&] { return HALInitHardware(h); }},
      {kRecorded, [&] { return HALValidatePhysAddr(h); }},
      {"HSLKSTClearDisplay", [&] { return HALClearDisplay(h, &mode); }},
      {kRecorded, [&] { return HALSetColorLUT(h, 0, 0, nullptr, 0); }},
      {kRecorded, [&] { return HALDeviceIoControl(h, 1, nullptr, 0, nullptr, 0, nullptr); }},
      {kRecorded, [&] { return HALGetAllMonitorInfo(h); }},
      {kRecorded, [&] { return HALValidateDigitalOutputFormat(h, &word, 1); }},
      {kRecorded, [&] { return HALSetDigitalOutputFormat(h, &word, 1); }},
      {kRecorded, [&] { return HALSetOverscanColor(h, 0xFF, 0); }},
      {kRecorded, [&] { return HALGetOutputInfo(h, &info, 0xF); }},
      {kRecorded, [&] { return HALConfigOverride(h, 7, 9); }},
      {"HSLKSTSetPowerState", [&] { return HALSetPowerState(h, 0x10000001); }},
      {kRecorded, [&] { return HALCustomCall(h, 0x0000000A, nullptr, nullptr); }},
  };
  for (const auto& [slot, run] : entries) {
    const bool recorded = slot == kRecorded;
    orvstandin::Reset();
    g_slotCalls = 0;
    g_slotCode = 0;
    h->status = kEarlierError;
    EXPECT_EQ(run(), kHalOk) << slot;
    EXPECT_EQ(recorded ? size_t(g_slotCalls) : orvstandin::TimesCalled(slot), 1u) << slot;
    // The slot's own error is the entry's result.
    if (recorded)
      g_slotCode = 0xB0000042;
    else
      orvstandin::SetResult(slot, 0xB0000042);
    EXPECT_EQ(run(), 0xB0000042u) << slot;
  }
  EXPECT_EQ(h->aulConfigOverride[0], 7u);
  EXPECT_EQ(h->aulConfigOverride[1], 9u);

  // Slots no chip fills answer that they are not initialised.
  SYSCLOCKINFO clock{{1, 2, 3, 4, 5}};
  EXPECT_EQ(HALSetSystemClock(h, &clock), kErrSlotNotInitialised);
  EXPECT_EQ(h->oSystemClock.aulWord[4], 5u);
  EXPECT_TRUE(h->ulBoardFlags & kBoardFlagCustomSysClock);
  EXPECT_EQ(HALSetStandardSystemClock(h), kErrSlotNotInitialised);
  EXPECT_FALSE(h->ulBoardFlags & kBoardFlagCustomSysClock);
  EXPECT_EQ(HALSetDisplayOrg(h, 0, 0), kErrSlotNotInitialised);

  // A handle never set up has no table: no call through a null slot.
  auto raw = std::make_unique<BOARDHANDLE>();
  std::memset(raw.get(), 0, sizeof(BOARDHANDLE));
  EXPECT_EQ(HALValidateMode(raw.get(), &mode), kErrSlotNotInitialised);
}

TEST(HalEntries, InternalRoutinesReturnAtOnceOnAnError) {
  OpenBoard b;
  b.h->oJumpTable.CustomCall = RecordingSlot;
  g_slotCalls = 0;
  b.h->status = 0x80000007;
  EXPECT_EQ(HALPCustomCall(b.h, 0, nullptr, nullptr), 0x80000007u);
  EXPECT_EQ(HALPCustomCall(b.h, 0x80000003, nullptr, nullptr), 0x80000007u);
  EXPECT_EQ(g_slotCalls, 0);
  EXPECT_TRUE(Notices().empty());
}

TEST(HalEntries, SetModeNotifiesTheClientAroundASuccessfulSet) {
  struct Case {
    const char* name;
    HALSTATUS slot;
    HALSTATUS result;
    std::vector<uint32_t> notices;
  };
  const Case cases[] = {
      {"success", kHalOk, kHalOk, {kNoticeBeforeSetMode, kNoticeAfterSetMode}},
      {"warning", 0x40001234, kHalOk, {kNoticeBeforeSetMode, kNoticeAfterSetMode}},
      {"failure", 0xB0001234, 0xB0001234, {kNoticeBeforeSetMode}},
  };
  for (const Case& c : cases) {
    OpenBoard b;
    orvstandin::SetResult("HSLKSTSetMode", c.slot);
    b.h->status = kEarlierError;
    MODEINFO mode{};
    EXPECT_EQ(HALSetMode(b.h, &mode), c.result) << c.name;
    EXPECT_EQ(b.h->status, c.result) << c.name;
    EXPECT_EQ(Notices(), c.notices) << c.name;
    EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetMode"), 1u) << c.name;
  }
}

TEST(HalEntries, PowerOffAndOnHappenOnceEachWay) {
  OpenBoard b;
  EXPECT_EQ(HALSetPowerState(b.h, kPowerStateOff), kHalOk);
  EXPECT_EQ(HALSetPowerState(b.h, kPowerStateOff), kHalOk);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetPowerState"), 1u);
  EXPECT_TRUE(b.h->ulBoardFlags & kBoardFlagAcpiOff);
  HALSetPowerState(b.h, kPowerStateOn);
  HALSetPowerState(b.h, kPowerStateOn);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetPowerState"), 2u);
  EXPECT_FALSE(b.h->ulBoardFlags & kBoardFlagAcpiOff);
  HALSetPowerState(b.h, 0x10000004);
  HALSetPowerState(b.h, 0x10000004);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTSetPowerState"), 4u);
}

TEST(HalEntries, CustomCallsByClass) {
  OpenBoard b;
  b.h->oJumpTable.CustomCall = RecordingSlot;
  g_slotCalls = 0;
  g_slotCode = 0;
  EXPECT_EQ(HALCustomCall(b.h, 0x40000123, nullptr, nullptr), kHalOk);
  EXPECT_EQ(HALCustomCall(b.h, 0x00010000, nullptr, nullptr), kErrCustomCallClass);
  EXPECT_EQ(HALCustomCall(b.h, 0x80000005, nullptr, nullptr), kHalOk);
  EXPECT_EQ(HALCustomCall(b.h, 0x00000006, nullptr, nullptr), kHalOk);
  EXPECT_EQ(Notices(), std::vector<uint32_t>{0x80000005});
  EXPECT_EQ(g_slotCalls, 1);
}

// An open-port slot that answers a chosen half period.
uint32_t g_halfPeriod = 0;
uint32_t g_portOpened = 0;
bool g_clockAsked = false;
HALSTATUS FakeOpenPort(BOARDHANDLE* h, uint32_t* halfPeriod, uint32_t port) {
  g_portOpened = port;
  g_clockAsked = halfPeriod != nullptr;
  if (halfPeriod != nullptr) *halfPeriod = g_halfPeriod;
  return h->status;
}

TEST(HalEntries, I2cPortRateFromItsHalfPeriod) {
  OpenBoard b;
  b.h->oJumpTable.I2COpenPort = FakeOpenPort;
  struct Case {
    uint32_t halfPeriod, rate;
  };
  for (const Case& c : {Case{0, 12500}, Case{20, 25000}, Case{2, 250000}}) {
    g_halfPeriod = c.halfPeriod;
    uint32_t rate = 0;
    EXPECT_EQ(HALI2COpenPort(b.h, 5, 0x77, &rate), kHalOk);
    EXPECT_EQ(rate, c.rate) << c.halfPeriod;
    EXPECT_TRUE(g_clockAsked);
    EXPECT_EQ(b.h->ulI2cPortWord, 0x77u);
  }
  uint32_t rate = 100000;
  HALI2COpenPort(b.h, 17, 0x78, &rate);
  EXPECT_FALSE(g_clockAsked);
  EXPECT_EQ(rate, 100000u);
  EXPECT_EQ(g_portOpened, 17u);
  HALI2COpenPort(b.h, 18, 0x79, nullptr);
  EXPECT_FALSE(g_clockAsked);
  EXPECT_EQ(b.h->ulI2cPortWord, 0x79u);

}

TEST(HalEntries, I2cPortRateOfARealDdcPort) {
  // The chip's open-port slot gives a DDC port the half period 20: 25 kHz.
  OpenBoard b;
  uint32_t rate = 0;
  EXPECT_EQ(HALI2COpenPort(b.h, 0, 1, &rate), kHalOk);
  EXPECT_EQ(rate, 25000u);
  EXPECT_EQ(HALI2CClosePort(b.h, 0), kHalOk);
}

TEST(HalEntries, HotPlugAcknowledge) {
  OpenBoard b;
  orvsim::ChipCursor& chip = *b.hw.AddParts(orvmachine::kCursor).cursor;
  chip.RaiseHotPlug();
  b.h->ulOutputCaps = 0;
  EXPECT_EQ(HALClearHotPlugHwInt(b.h), kErrNoHotPlugInterrupt);
  EXPECT_TRUE(chip.HotPlugPending());
  b.h->ulOutputCaps = kCapsHotPlugInterrupt;
  EXPECT_EQ(HALClearHotPlugHwInt(b.h), kHalOk);
  EXPECT_FALSE(chip.HotPlugPending());
  EXPECT_EQ(chip.HotPlugAcknowledges(), 1u);
  // With DVI transmitters found, their module takes the acknowledge.
  b.hw.Chip();
  auto& module =
      b.hw.board().I2c(orvsim::kBusBoardPort1).Emplace<orvsim::OneByteModule>(0x44, 0x03);
  SetAddOn(b.h, kAddOnPanelLinkAddress, 0x44);
  b.h->ulFeatures = kAddOnPanelLinkB;
  chip.RaiseHotPlug();
  EXPECT_EQ(HALClearHotPlugHwInt(b.h), kHalOk);
  EXPECT_TRUE(chip.HotPlugPending());
  EXPECT_EQ(module.Writes(), std::vector<uint8_t>{0x03 | kPanelLinkHotPlugAcknowledge});
}

TEST(HalEntries, DualControllerEntriesNeedTheCapability) {
  OpenBoard b;
  MODEINFO modes[2] = {};
  uint32_t bandwidth = 0;
  b.h->ulOutputCaps = 0;
  EXPECT_EQ(HALValidateDualCRTCConfig(b.h, modes), kHalOk);
  EXPECT_EQ(HALGetModeBandwidth(b.h, modes, &bandwidth), kHalOk);
  EXPECT_EQ(orvstandin::CallCount(), 0u);
  b.h->ulOutputCaps = kCapsDualController;
  HALValidateDualCRTCConfig(b.h, modes);
  HALGetModeBandwidth(b.h, modes, &bandwidth);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTValidateDualCRTCConfig"), 1u);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTGetModeBandwidth"), 1u);
}

TEST(HalEntries, Edid2ConversionGivesAValidBlock) {
  OpenBoard b;
  uint8_t edid2[256] = {};
  edid2[0] = 0x20;
  edid2[1] = 'K';
  uint8_t out[129];
  out[128] = 0xEE;
  b.h->status = kEarlierError;
  EXPECT_EQ(HALConvertEDID2toEDID1(b.h, out, edid2), kHalOk);
  EXPECT_EQ(std::memcmp(out, kEdidHeader, 8), 0);
  EXPECT_EQ(out[8], 'K');
  uint8_t sum = 0;
  for (int i = 0; i < 128; ++i) sum = static_cast<uint8_t>(sum + out[i]);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(out[128], 0xEE);  // 128 bytes written, no more
}

TEST(HalTools, CopyFillCompareAndText) {
  uint8_t a[4] = {1, 2, 3, 4};
  uint8_t b[4] = {0};
  HAL_TOOL_memcpy(b, a, 3);
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[3], 0);
  HAL_TOOL_memset(b, 0x1FF, 2);
  EXPECT_EQ(b[0], 0xFF);
  EXPECT_EQ(b[2], 3);
  const uint8_t x[3] = {5, 200, 9};
  const uint8_t y[3] = {5, 10, 1};
  EXPECT_EQ(HAL_TOOL_memcmp(x, y, 0), 0);
  EXPECT_EQ(HAL_TOOL_memcmp(x, y, 3), 190);  // unsigned bytes
  EXPECT_EQ(HAL_TOOL_memcmp(y, x, 3), -190);
  EXPECT_EQ(HAL_TOOL_memcmp(x, x, 3), 0);
  EXPECT_EQ(HAL_TOOL_random(1), 1u + (1u ^ 0x80000000u));
  EXPECT_EQ(HAL_TOOL_random(6), 6u + (6u ^ 3u));

  struct Case {
    int32_t value;
    uint32_t base;
    const char* text;
  };
  const Case cases[] = {{0, 10, "0"},     {-1, 10, "-1"}, {255, 16, "FF"},         {35, 36, "Z"},
                        {-2147483647 - 1, 10, "-2147483648"}, {5, 2, "101"}, {123, 1, "123"}};
  char text[40];
  for (const Case& c : cases) EXPECT_STREQ(HAL_TOOL_ltoa(c.value, text, c.base), c.text) << c.value;
  EXPECT_STREQ(HAL_ultoa(0xFFFFFFFFu, text, 16), "FFFFFFFF");
  char joined[16] = "ab";
  EXPECT_STREQ(HAL_strcat(joined, "cd"), "abcd");
  EXPECT_EQ(HAL_strcat(nullptr, "x"), nullptr);
  EXPECT_STREQ(HAL_strcat(joined, nullptr), "abcd");
}

}  // namespace
