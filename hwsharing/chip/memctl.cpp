// Memory-controller programming for both chip generations.
#include "hwsharing/chip/memctl.h"

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "core/poll.h"
#include "core/regs/display.h"
#include "core/regs/memctl.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

// Waits of the programming sequences, in HWDelay units.
constexpr uint32_t kHoldSettleUnits = 1000;
constexpr uint32_t kDllResetUnits = 5000;
constexpr uint32_t kDllRunUnits = 10000;
constexpr uint32_t kStatusSettleUnits = 1000;
constexpr uint32_t kPhaseClearUnits = 10;
constexpr uint32_t kPhaseDoneUnits = 100;
constexpr uint32_t kB90StartUnits = 5;

// Block dword k (k = 1..12) goes to kMcBlockRegister[k]; dword 0 sets the
// status register last.
constexpr uint32_t kMcBlockRegister[kMcBlockDwords] = {
    kRegMcStatus, kRegMcRefresh, 0xF0C, 0xF20, 0xF14, 0xF18, 0xF1C,
    0xF10, 0xF48, 0xF4C, 0xF54, 0xF58, 0xF50,
};

// Module clocks (hold bit set) and controller enables (cleared) held while
// memory or clocks are reprogrammed.
constexpr uint32_t kHeldRegister[4] = {kRegModuleClock0, kRegModuleClock1,
                                       ControllerReg(kRegControllerCtl, 0),
                                       ControllerReg(kRegControllerCtl, 1)};

// The four first-generation controllers in programming order.
constexpr uint32_t kAllControllers[kMcControllerCount] = {kMc1, kMc2, kMc4, kMc8};

uint32_t SelectBits(uint32_t mask) {
  uint32_t bits = 0;
  for (uint32_t k = 0; k < kMcControllerCount; ++k)
    if (mask & (1u << k)) bits |= 1u << (kMcSelectShift * k);
  return bits;
}

// Runs `access` with the controllers of `mask` selected, then puts the
// select register back when the access left it changed.
template <class Access>
void WithSelected(BOARDHANDLE* h, uint32_t selectReg, uint32_t mask, Access access) {
  const uint32_t kept = RegRead(h, selectReg);
  if (selectReg == kRegMcSelect)
    SelectMemoryController(h, mask);
  else
    SelectB90MemoryController(h, mask);
  access();
  if (RegRead(h, selectReg) != kept) RegWrite(h, selectReg, kept);
}

}  // namespace

void HoldModules(BOARDHANDLE* h, MODULEHOLD* saved) {
  for (uint32_t i = 0; i < 4; ++i) saved->aulValue[i] = RegRead(h, kHeldRegister[i]);
  for (uint32_t i = 0; i < 2; ++i)
    RegWrite(h, kHeldRegister[i], saved->aulValue[i] | kModuleClockHold);
  for (uint32_t i = 2; i < 4; ++i)
    RegWrite(h, kHeldRegister[i], saved->aulValue[i] & ~kControllerEnable);
}

void ReleaseModules(BOARDHANDLE* h, const MODULEHOLD* saved) {
  for (uint32_t i = 0; i < 4; ++i) RegWrite(h, kHeldRegister[i], saved->aulValue[i]);
}

// ---- First generation -------------------------------------------------------------

HALSTATUS SelectMemoryController(BOARDHANDLE* h, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t value = RegRead(h, kRegMcSelect);
  RegWrite(h, kRegMcSelect, (value & ~kMcSelectBits) | SelectBits(mask));
  return h->status;
}

HALSTATUS WriteMemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask, uint32_t value) {
  if (HalFailed(h->status)) return h->status;
  WithSelected(h, kRegMcSelect, mask, [&] { RegWrite(h, reg, value); });
  return h->status;
}

HALSTATUS ReadMemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask, uint32_t* value) {
  *value = 0;
  if (HalFailed(h->status)) return h->status;
  WithSelected(h, kRegMcSelect, mask, [&] { *value = RegRead(h, reg); });
  return h->status;
}

bool WaitForMemoryIdle(BOARDHANDLE* h, uint32_t mask) {
  if (HalFailed(h->status)) return false;
  const uint32_t kept = RegRead(h, kRegMcSelect);
  bool allIdle = true;
  for (uint32_t controller : kAllControllers) {
    if ((mask & controller) == 0) continue;
    SelectMemoryController(h, controller);
    allIdle &= PollUntil([&] { return (RegRead(h, kRegMcStatus) & kMcStatusIdle) != 0; },
                         kMemoryIdleMaxReads);
  }
  RegWrite(h, kRegMcSelect, kept);
  return allIdle;
}

HALSTATUS HWKSTGetMCRegisters(BOARDHANDLE* h, uint32_t controller, MCREGISTERS* block) {
  if (HalFailed(h->status)) return h->status;
  uint32_t at = kPinsMcBlock1;
  if (controller == kMc2) at = kPinsMcBlock2;
  if (controller == kMc4) at = kPinsMcBlock4;
  if (controller == kMc8) at = kPinsMcBlock8;
  for (uint32_t k = 0; k < kMcBlockDwords; ++k) block->aulDword[k] = PinsDword(h, at + 4 * k);
  return h->status;
}

HALSTATUS HWKSTSetMCRegisters(BOARDHANDLE* h, uint32_t mask, const MCREGISTERS* block) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t kept = RegRead(h, kRegMcSelect);
  SelectMemoryController(h, mask);
  RegWrite(h, kRegMcStatus, kMcStatusQuiesce);
  // The sequence has no failure path: a controller still busy after the
  // bound is programmed all the same (the bound only keeps a dead
  // controller from hanging the bring-up).
  (void)WaitForMemoryIdle(h, mask);

  RegWrite(h, kRegMcDll, kMcDllReset);
  RegWrite(h, kRegMcTrain0, 0);
  RegWrite(h, kRegMcTrain1, 0);
  Delay(h, kDllResetUnits);

  const uint32_t* d = block->aulDword;
  RegWrite(h, kMcBlockRegister[1], d[1]);
  const uint32_t hold = d[0] & kMcStatusHoldMask;
  RegWrite(h, kRegMcStatus, hold + kMcStatusProgram);
  for (uint32_t k = 2; k < kMcBlockDwords; ++k) RegWrite(h, kMcBlockRegister[k], d[k]);

  RegWrite(h, kRegMcDll, kMcDllRun);
  Delay(h, kDllRunUnits);
  RegWrite(h, kRegMcDll, kMcDllLocked);

  RegWrite(h, kRegMcStatus, hold + kMcStatusProgramDone);
  Delay(h, kStatusSettleUnits);
  RegWrite(h, kRegMcStatus, d[0]);
  Delay(h, kStatusSettleUnits);
  RegWrite(h, kRegMcSelect, kept);
  return h->status;
}

HALSTATUS HWResetMemoryPhaseError(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t status[kMcControllerCount] = {};
  for (uint32_t k = 0; k < kMcControllerCount; ++k) {
    ReadMemoryControllerDword(h, kRegMcStatus, kAllControllers[k], &status[k]);
    WriteMemoryControllerDword(h, kRegMcStatus, kAllControllers[k],
                               status[k] | kMcPhaseErrorReset);
  }
  (void)WaitForMemoryIdle(h, kMc1 | kMc2 | kMc4 | kMc8);  // no failure path, as above
  for (uint32_t controller : kAllControllers) {
    uint32_t phase = 0;
    ReadMemoryControllerDword(h, kRegMcPhase, controller, &phase);
    WriteMemoryControllerDword(h, kRegMcPhase, controller, phase | kMcPhaseErrorClear);
    Delay(h, kPhaseClearUnits);
    WriteMemoryControllerDword(h, kRegMcPhase, controller, phase & ~kMcPhaseErrorClear);
  }
  for (uint32_t k = 0; k < kMcControllerCount; ++k)
    WriteMemoryControllerDword(h, kRegMcStatus, kAllControllers[k],
                               status[k] & ~kMcPhaseErrorReset);
  Delay(h, kPhaseDoneUnits);
  return h->status;
}

HALSTATUS HWKSTInitializeMemoryController(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  MODULEHOLD held;
  HoldModules(h, &held);
  Delay(h, kHoldSettleUnits);

  // The first generation's code also serves the later generation's first
  // two chips, which have two of the four controllers.
  const uint16_t device = CfgDeviceId(h);
  const bool twoControllers = device == kDeviceKestrionNext1 || device == kDeviceKestrionNext2;
  const uint32_t options = PinsDword(h, kPinsMemoryConfig);
  auto program = [&](uint32_t controller) {
    MCREGISTERS block;
    HWKSTGetMCRegisters(h, controller, &block);
    HWKSTSetMCRegisters(h, controller, &block);
  };
  program(kMc2);
  if (!twoControllers) program(kMc1);
  if ((options & kPinsMemOptNoMc48) == 0) {
    if (!twoControllers) program(kMc4);
    program(kMc8);
  }

  ReleaseModules(h, &held);
  HWResetMemoryPhaseError(h);
  return h->status;
}

// ---- Later generation ---------------------------------------------------------------

const PINSMCROW pinsDatasConvertor[kB90McProgramRows] = {
    // Both controllers.
    {0, 0xF00, kB90McBoth},   {4, 0xF04, kB90McBoth},   {8, 0xF08, kB90McBoth},
    {12, 0xF10, kB90McBoth},  {16, 0xF1C, kB90McBoth},  {20, 0xF20, kB90McBoth},
    {24, 0xF24, kB90McBoth},  {28, 0xF28, kB90McBoth},  {32, 0xF2C, kB90McBoth},
    {36, 0xF44, kB90McBoth},  {40, 0xF94, kB90McBoth},  {44, 0xF98, kB90McBoth},
    {48, 0xF9C, kB90McBoth},  {52, 0xFA0, kB90McBoth},  {56, 0xFC0, kB90McBoth},
    {60, 0xFC4, kB90McBoth},  {64, 0xFC8, kB90McBoth},  {68, 0xFCC, kB90McBoth},
    {72, 0xFF0, kB90McBoth},  {76, 0xFF8, kB90McBoth},
    // Controller 1.
    {80, 0xF14, kMc1},  {84, 0xF18, kMc1},  {88, 0xF48, kMc1},  {92, 0xF4C, kMc1},
    {96, 0xF58, kMc1},  {100, 0xF5C, kMc1}, {104, 0xF68, kMc1}, {108, 0xF6C, kMc1},
    {112, 0xF70, kMc1}, {116, 0xF74, kMc1}, {120, 0xF8C, kMc1}, {124, 0xF90, kMc1},
    // Controller 2.
    {128, 0xF14, kMc2}, {132, 0xF18, kMc2}, {136, 0xF48, kMc2}, {140, 0xF4C, kMc2},
    {144, 0xF58, kMc2}, {148, 0xF5C, kMc2}, {152, 0xF68, kMc2}, {156, 0xF6C, kMc2},
    {160, 0xF70, kMc2}, {164, 0xF74, kMc2}, {168, 0xF8C, kMc2}, {172, 0xF90, kMc2},
};

namespace {

// Late training words: four registers per controller.
constexpr uint32_t kB90TrainRegister[4] = {0xF48, 0xF4C, 0xF58, 0xF5C};

void StartB90(BOARDHANDLE* h) {
  WriteB90MemoryControllerDword(h, kRegB90McStart, kB90McBoth, 1);
  Delay(h, kB90StartUnits);
  // No failure path: a controller still busy after the bound is left to
  // the next step, as on the first generation.
  (void)WaitForB90MemoryIdle(h);
}

}  // namespace

HALSTATUS SelectB90MemoryController(BOARDHANDLE* h, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  RegWrite(h, kRegB90McSelect, mask & kB90McSelectMask);
  return h->status;
}

HALSTATUS WriteB90MemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask,
                                        uint32_t value) {
  if (HalFailed(h->status)) return h->status;
  WithSelected(h, kRegB90McSelect, mask, [&] { RegWrite(h, reg, value); });
  return h->status;
}

HALSTATUS ReadB90MemoryControllerDword(BOARDHANDLE* h, uint32_t reg, uint32_t mask,
                                       uint32_t* value) {
  *value = 0;
  if (HalFailed(h->status)) return h->status;
  WithSelected(h, kRegB90McSelect, mask, [&] { *value = RegRead(h, reg); });
  return h->status;
}

bool WaitForB90MemoryIdle(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return false;
  const uint32_t kept = RegRead(h, kRegB90McSelect);
  SelectB90MemoryController(h, kMc1);
  const bool idle = PollUntil(
      [&] { return (RegRead(h, kRegB90McStatus) & kB90McBusy) != kB90McBusy; }, kMemoryIdleMaxReads);
  RegWrite(h, kRegB90McSelect, kept);
  return idle;
}

HALSTATUS HWB90ResetMemoryController(BOARDHANDLE* h) {
  return WriteB90MemoryControllerDword(h, kRegB90McStart, kB90McBoth, 0);
}

HALSTATUS HWB90InitializeMemoryController(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (const PINSMCROW& row : pinsDatasConvertor)
    WriteB90MemoryControllerDword(h, row.ulRegister, row.ulMask,
                                  PinsDword(h, kPinsB90McWords + row.ulOffset));
  StartB90(h);

  uint32_t config = 0;
  ReadB90MemoryControllerDword(h, kRegB90McConfig, kMc1, &config);
  WriteB90MemoryControllerDword(h, kRegB90McConfig, kB90McBoth, config | kB90McSecondPhase);
  (void)WaitForB90MemoryIdle(h);  // no failure path, as in StartB90

  HWB90ResetMemoryController(h);
  for (uint32_t k = 0; k < 4; ++k)
    WriteB90MemoryControllerDword(h, kB90TrainRegister[k], kMc1,
                                  PinsDword(h, kPinsB90Train1 + 4 * k));
  for (uint32_t k = 0; k < 4; ++k)
    WriteB90MemoryControllerDword(h, kB90TrainRegister[k], kMc2,
                                  PinsDword(h, kPinsB90Train2 + 4 * k));
  StartB90(h);
  return h->status;
}
