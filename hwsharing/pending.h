// Functions of the hardware library whose code is not written yet, each
// with the parameters its caller or its dispatch-table slot needs. They are
// declared here so that the tables and the chip layer can name them; test
// executables and benchmarks link the recording stand-ins of tests/standins/
// in their place, and a shipped module cannot link until each is written.
//
// When one is written, its line goes from this list and its declaration
// moves to the header of the file that defines it (the slot's static_assert
// in dispatch.cpp checks that the signature still fits).
//
// X(name, (parameter list)); the board handle is always `h`.
#pragma once

#include <stdint.h>

#include "hwsharing/haltypes.h"

// ---- Device jump table ------------------------------------------------------
#define ORV_PENDING_JUMP_TABLE(X) \
  X(HSLKSTSetPowerState, (BOARDHANDLE* h, uint32_t state)) \
  X(HSLKSTValidateMode, (BOARDHANDLE* h, MODEINFO* mode)) \
  X(HSLKSTValidateVideoParameters, (BOARDHANDLE* h, MODEINFO* mode)) \
  X(HSLKSTSetMode, (BOARDHANDLE* h, MODEINFO* mode)) \
  X(HSLKSTSetDisplayStart, (BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y)) \
  X(HSLKSTGetTVProcAmp, (BOARDHANDLE* h, TVPROCAMP* values, uint32_t standard, uint32_t level)) \
  X(HSLKSTSetTVProcAmp, (BOARDHANDLE* h, TVPROCAMP* values, uint32_t mask)) \
  X(HSLKSTSetTVStandard, (BOARDHANDLE* h, uint32_t standard)) \
  X(HSLKSTSetTVCableType, (BOARDHANDLE* h, uint32_t cable)) \
  X(HSLKSTGetAddOnInfo, (BOARDHANDLE* h)) \
  X(HSLB90InitializeHardware, (BOARDHANDLE* h)) \
  X(HSLKSTValidateDualCRTCConfig, (BOARDHANDLE* h, MODEINFO* modes)) \
  X(HSLKSTGetModeBandwidth, (BOARDHANDLE* h, MODEINFO* mode, uint32_t* bandwidth)) \
  X(HSLKSTClearDisplay, (BOARDHANDLE* h, MODEINFO* mode)) \
  X(HSLB90GetFreeFS, (BOARDHANDLE* h, uint32_t index, uint32_t* fs)) \
  X(HSLKSTGetGclk, (BOARDHANDLE* h, uint32_t* khz)) \
  X(HSLB90GetGclk, (BOARDHANDLE* h, uint32_t* khz)) \
  X(HSLB90GetPInSSystemCLock, (BOARDHANDLE* h, SYSCLOCKINFO* clock)) \
  X(HSLKSTSetSystemCLock, (BOARDHANDLE* h, SYSCLOCKINFO* clock)) \
  X(HSLB90SetSystemCLock, (BOARDHANDLE* h, SYSCLOCKINFO* clock)) \
  X(HSLB90GetSystemCLock, (BOARDHANDLE* h, SYSCLOCKINFO* clock))

// ---- MISCFunctions ----------------------------------------------------------
#define ORV_PENDING_MISC_TABLE(X)

// ---- MDACFunctions ----------------------------------------------------------
#define ORV_PENDING_MDAC_TABLE(X)

// ---- CRTCFunctions ----------------------------------------------------------
#define ORV_PENDING_CRTC_TABLE(X)

// ---- Chip layer called by the library's facade -----------------------------------
#define ORV_PENDING_FACADE(X) \
  X(HSLKSTDisableControllers, (BOARDHANDLE* h)) \
  X(HSLKSTGetVgaState, (BOARDHANDLE* h, void* block, uint32_t kind)) \
  X(HSLKSTReturnToVga, (BOARDHANDLE* h, void* block, uint32_t word)) \
  X(HSLKSTGetFpgaVgaState, (BOARDHANDLE* h, uint32_t selector)) \
  X(HSLKSTGetVgaOutputState, (BOARDHANDLE* h, uint32_t* word))

// ---- Calls of the chip layer into later parts ------------------------------------
// X(name, (parameter list), (argument names)). Their stand-ins also log the
// integer arguments and fill the out-parameters (tests/standins).
#define ORV_PENDING_CALLS(X) \
  X(HSLKSTDisableDVI, (BOARDHANDLE* h, uint32_t path, MODEINFO* mode), (h, path, mode)) \
  X(HSLKSTEnableDVIDualLink, (BOARDHANDLE* h, uint32_t path), (h, path)) \
  X(HSLKSTDisableDVIDualLink, (BOARDHANDLE* h, uint32_t path), (h, path)) \
  X(HSLKSTDisableDisplayOutputs, (BOARDHANDLE* h, MODEINFO* mode), (h, mode)) \
  X(HSLKSTApplyVidReset, (BOARDHANDLE* h, uint32_t module), (h, module)) \
  X(HSLKSTDisableDisplayController, (BOARDHANDLE* h, MODEINFO* mode), (h, mode)) \
  X(HSLKSTUpdatePriorityLevels, (BOARDHANDLE* h), (h)) \
  X(HSLKSTGetCurrentBitRates, (BOARDHANDLE* h, uint32_t* rates, uint32_t* secondRates), \
    (h, rates, secondRates)) \
  X(HSLKSTGetChrontelOutputMode, (BOARDHANDLE* h, uint32_t encoder, uint32_t flOutput, \
                                  uint32_t* mode), (h, encoder, flOutput, mode)) \
  X(HSLKSTIsModuleCurrentlyInUse, (BOARDHANDLE* h, uint32_t type, uint32_t module, \
                                   uint32_t* inUse), (h, type, module, inUse)) \
  X(HSLKSTQuadBoardIsTVClockSourceEnabled, (BOARDHANDLE* h, uint32_t* enabled, \
                                            uint32_t* source), (h, enabled, source)) \
  X(HSLKSTGetFreeDCModule, (BOARDHANDLE* h, uint32_t* module, uint32_t* found), (h, module, found)) \
  X(HSLEnableSyncOnOutput, (BOARDHANDLE* h, uint32_t* flOutput, uint32_t syncOn, uint32_t* savedDac1, \
                            uint32_t* savedDac2), (h, flOutput, syncOn, savedDac1, savedDac2)) \
  X(HSLDisableSyncOnOutput, (BOARDHANDLE* h, uint32_t flOutput, const uint32_t* savedDac1, \
                             const uint32_t* savedDac2), (h, flOutput, savedDac1, savedDac2))

#define ORV_PENDING_HWLIB_FUNCTIONS(X) \
  ORV_PENDING_JUMP_TABLE(X) \
  ORV_PENDING_MISC_TABLE(X) \
  ORV_PENDING_MDAC_TABLE(X) \
  ORV_PENDING_CRTC_TABLE(X) \
  ORV_PENDING_FACADE(X)

#define ORV_DECLARE_PENDING(name, params) HALSTATUS name params;
ORV_PENDING_HWLIB_FUNCTIONS(ORV_DECLARE_PENDING)
#undef ORV_DECLARE_PENDING
#define ORV_DECLARE_PENDING_CALL(name, params, args) HALSTATUS name params;
ORV_PENDING_CALLS(ORV_DECLARE_PENDING_CALL)
#undef ORV_DECLARE_PENDING_CALL
