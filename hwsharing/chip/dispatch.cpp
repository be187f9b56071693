#include "hwsharing/chip/dispatch.h"

#include <type_traits>

#include "core/chip_ids.h"
#include "core/client_services.h"
#include "core/regs/pci.h"
#include "hwsharing/encoders/addon_detect.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/b90_clocks.h"
#include "hwsharing/chip/bios_pins.h"
#include "hwsharing/chip/boardinfo.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/crtc.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/encoders/cve2_encoder.h"
#include "hwsharing/chip/dac.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/outputs/display_clocks.h"
#include "hwsharing/outputs/display_start.h"
#include "hwsharing/chip/load_sense.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/encoders/flat_panel.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/outputs/mode_validate.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/outputs/monitor_info.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/chip/power.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/encoders/tv_parameters.h"
#include "hwsharing/encoders/velan.h"
#include "hwsharing/outputs/tv_state.h"
#include "hwsharing/chip/vga.h"

namespace {

HALSTATUS EmptySlot(BOARDHANDLE* h) { return h->status; }

// The not-initialised function in the shape of any slot.
template <class SlotType>
struct NotInit;
template <class... Args>
struct NotInit<HALSTATUS(BOARDHANDLE*, Args...)> {
  static HALSTATUS Fn(BOARDHANDLE* h, Args...) { return HSLTBLNotInitFunction(h); }
};

// What a jump-table slot is filled with: the function, or the
// not-initialised function for a slot the chip leaves alone.
template <class SlotType>
constexpr SlotType* Filler(SlotType* function) {
  return function;
}
template <class SlotType>
constexpr SlotType* Filler(std::nullptr_t) {
  return &NotInit<SlotType>::Fn;
}

// Whether a table's function has the type of its slot.
template <class SlotType, class Function>
constexpr bool FitsSlot(Function*) {
  return std::is_same_v<SlotType, Function>;
}
template <class SlotType>
constexpr bool FitsSlot(std::nullptr_t) {
  return true;
}

// Whether the chip fills a jump-table slot at all.
template <class Function>
constexpr bool IsFilled(Function*) {
  return true;
}
constexpr bool IsFilled(std::nullptr_t) { return false; }

#define ORV_SLOT_FITS(index, Slot, SlotType, Function) \
  static_assert(FitsSlot<SlotType>(Function), "slot " #index " " #Slot ": wrong function type");
#define ORV_SLOT_AT(index, Slot, SlotType, Function)   \
  static_assert(offsetof(Table, Slot) == (index) * sizeof(void*), "slot " #index " " #Slot);
#define ORV_SLOT_FILL(index, Slot, SlotType, Function) .Slot = Filler<SlotType>(Function),
#define ORV_SLOT_NOT_INIT(index, Slot, SlotType, Function) .Slot = &NotInit<SlotType>::Fn,
#define ORV_SLOT_OVERRIDE(index, Slot, SlotType, Function) t.Slot = Function;

// Every slot sits at its index and every function fits its slot.
#define ORV_CHECK_TABLE(TableType, LIST) \
  namespace check_##TableType {          \
  using Table = TableType;               \
  LIST(ORV_SLOT_AT)                      \
  LIST(ORV_SLOT_FITS)                    \
  }

ORV_CHECK_TABLE(DEVICEJUMPTABLE, ORV_DEVICE_JUMP_TABLE)
ORV_CHECK_TABLE(DEVICEJUMPTABLE, ORV_LATER_CLOCK_SLOTS)
ORV_CHECK_TABLE(DEVICEJUMPTABLE, ORV_LATER_RESET_SLOTS)
ORV_CHECK_TABLE(MISCFUNCTIONS, ORV_MISC_TABLE)
ORV_CHECK_TABLE(CLIENTFUNCTIONS, ORV_CLIENT_TABLE)
ORV_CHECK_TABLE(MDACFUNCTIONS, ORV_MDAC_TABLE)
ORV_CHECK_TABLE(I2CFUNCTIONS, ORV_I2C_TABLE)
ORV_CHECK_TABLE(CRTCFUNCTIONS, ORV_CRTC_TABLE)
ORV_CHECK_TABLE(VLNFUNCTIONS, ORV_VLN_TABLE)
ORV_CHECK_TABLE(FPFUNCTIONS, ORV_FP_TABLE)
ORV_CHECK_TABLE(ADDONFUNCTIONS, ORV_ADDON_TABLE)
ORV_CHECK_TABLE(EDIDFUNCTIONS, ORV_EDID_TABLE)

// A fresh handle's jump table: every slot not initialised.
constexpr DEVICEJUMPTABLE kNotInitJumpTable = {ORV_DEVICE_JUMP_TABLE(ORV_SLOT_NOT_INIT)};

// The jump tables of the supported chips.
constexpr DEVICEJUMPTABLE kKestrionJumpTable = {ORV_DEVICE_JUMP_TABLE(ORV_SLOT_FILL)};
constexpr DEVICEJUMPTABLE WithLaterReset(DEVICEJUMPTABLE t) {
  ORV_LATER_RESET_SLOTS(ORV_SLOT_OVERRIDE)
  return t;
}
constexpr DEVICEJUMPTABLE WithLaterClocks(DEVICEJUMPTABLE t) {
  ORV_LATER_CLOCK_SLOTS(ORV_SLOT_OVERRIDE)
  return t;
}
constexpr DEVICEJUMPTABLE kKestrionNext2JumpTable = WithLaterReset(kKestrionJumpTable);
constexpr DEVICEJUMPTABLE kKestrionNext3JumpTable =
    WithLaterClocks(WithLaterReset(kKestrionJumpTable));

const DEVICEJUMPTABLE& JumpTableOf(uint16_t device) {
  if (HasLaterGenerationClocks(device)) return kKestrionNext3JumpTable;
  if (HasLaterHardwareReset(device)) return kKestrionNext2JumpTable;
  return kKestrionJumpTable;
}

uint16_t DeviceIdFromConfigSpace(BOARDHANDLE* h) {
  uint32_t id = 0;
  uint32_t subsystem = 0;
  ClientReadConfigSpaceDword(h, kCfgVendorDevice, &id);
  // Read for the board's own record; the device id alone decides.
  ClientReadConfigSpaceDword(h, kCfgSubsystem, &subsystem);
  return static_cast<uint16_t>(id >> 16);
}

}  // namespace

// ---- The static dispatch tables ---------------------------------------------------

const MISCFUNCTIONS MISCFunctions = {ORV_MISC_TABLE(ORV_SLOT_FILL)};
const CLIENTFUNCTIONS ClientFunctions = {ORV_CLIENT_TABLE(ORV_SLOT_FILL)};
const MDACFUNCTIONS MDACFunctions = {ORV_MDAC_TABLE(ORV_SLOT_FILL)};
const I2CFUNCTIONS I2CFunctions = {ORV_I2C_TABLE(ORV_SLOT_FILL)};
const CRTCFUNCTIONS CRTCFunctions = {ORV_CRTC_TABLE(ORV_SLOT_FILL)};
const VLNFUNCTIONS VLNFunctions = {ORV_VLN_TABLE(ORV_SLOT_FILL)};
const FPFUNCTIONS FPFunctions = {ORV_FP_TABLE(ORV_SLOT_FILL)};
const ADDONFUNCTIONS ADDONFunctions = {ORV_ADDON_TABLE(ORV_SLOT_FILL)};
const EDIDFUNCTIONS EDIDFunctions = {ORV_EDID_TABLE(ORV_SLOT_FILL)};

// ---- Jump table set-up ----------------------------------------------------------------

HALSTATUS HSLTBLNotInitFunction(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  return SetError(h, kErrSlotNotInitialised);
}

HALSTATUS HSLTBLDummyFunction(BOARDHANDLE* h) { return h->status; }

HALSTATUS HSLKSTInitAccess(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  // The X driver maps the window itself; the client is still told which.
  ClientOpenRegisterBase(h);
  return h->status;
}

HALSTATUS HSLInit(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  h->oJumpTable = kNotInitJumpTable;
  HSLInitDeviceJumpTable(h);
  // Each slot tests the status itself.
  h->oJumpTable.InitAccess(h);
  h->oJumpTable.InitExtraJmpTbl(h);
  h->oJumpTable.GetBoardInfo(h);
  h->aulConfigOverride[1] = 0;
  return h->status;
}

HALSTATUS HSLInitDeviceJumpTable(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  h->pMISCFunctions = &MISCFunctions;
  h->pClientFunctions = &ClientFunctions;
  h->pMDACFunctions = &MDACFunctions;
  h->pI2CFunctions = &I2CFunctions;
  h->pCRTCFunctions = &CRTCFunctions;
  h->pADDONFunctions = &ADDONFunctions;
  h->pEDIDFunctions = &EDIDFunctions;
  h->pVLNFunctions = &VLNFunctions;

  // The device id alone decides; the vendor is checked by the library's
  // board-support query.
  if (!IsSupportedChip(DeviceIdFromConfigSpace(h))) return SetError(h, kErrChipNotSupported);
  h->pFPFunctions = &FPFunctions;
  h->oJumpTable.InitAccess = HSLKSTInitAccess;
  h->oJumpTable.GetBoardInfo = HSLKSTGetBoardInfo;
  h->oJumpTable.InitExtraJmpTbl = HSLKSTInitExtraJmpTbl;
  return h->status;
}

HALSTATUS HSLKSTInitExtraJmpTbl(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  // Every slot the chip fills; the others keep what they hold.
  const DEVICEJUMPTABLE& chip = JumpTableOf(h->usDeviceId);
  DEVICEJUMPTABLE& t = h->oJumpTable;
#define ORV_COPY_FILLED_SLOT(index, Slot, SlotType, Function) \
  if constexpr (IsFilled(Function)) t.Slot = chip.Slot;
  ORV_DEVICE_JUMP_TABLE(ORV_COPY_FILLED_SLOT)
#undef ORV_COPY_FILLED_SLOT
  return h->status;
}
