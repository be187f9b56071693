// The output expansion module of multi-output boards: its initialisation by
// module kind, switching it for a mode by its control method (two FPGAs over
// I2C, three control lines, or a clock-gating CPLD), dual-link and DDC
// routing through its misc-IO lines, the FPGAs' embedded sync and the data
// path of the opposite Chrontel encoder. The FPGA and CPLD register
// transfers are in cem.h, the FPGA modes and programs in cem_fpga.h.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"
#include "hwsharing/encoders/fpga_modes.h"

inline constexpr HALSTATUS kErrCemControlMethod = 0xb25010e0;
inline constexpr HALSTATUS kErrCemOutputFormat = 0xb25020e0;

// Module kinds.
inline constexpr uint32_t kCemKindActive = 3;
inline constexpr uint32_t kCemKindPassive = 4;
inline constexpr uint32_t kCemKindCpld = 9;

// Misc-IO functions of the module's expander lines.
inline constexpr uint32_t kCemMiscIoDdcSel2 = 3;
inline constexpr uint32_t kCemMiscIoDualLinkA = 4;
inline constexpr uint32_t kCemMiscIoDualLinkB = 5;

HALSTATUS HSLKSTInitCEM(BOARDHANDLE* h);
HALSTATUS HSLKSTInitCEM_Active(BOARDHANDLE* h);
HALSTATUS HSLKSTInitCEM_Passive(BOARDHANDLE* h);
HALSTATUS HSLKSTInitCEM_CPLD(BOARDHANDLE* h);
HALSTATUS HSLKSTInitCEM_Hybrid(BOARDHANDLE* h);
HALSTATUS HSLKSTEnableCEM(BOARDHANDLE* h, MODEINFO* mode, uint32_t enable);
HALSTATUS HSLKSTEnableCEMDualDVI(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTDisableCEMDualDVI(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTEnableCEMDDCSel2(BOARDHANDLE* h);
HALSTATUS HSLKSTDisableCEMDDCSel2(BOARDHANDLE* h);
HALSTATUS HSLKSTEnableCEMClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t fpga);
HALSTATUS HSLKSTDisableCEMClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t fpga);
HALSTATUS HSLKSTShutdownOpositeDVI(BOARDHANDLE* h, uint32_t module, MODEINFO* mode,
                                   uint8_t* saved);
HALSTATUS HSLKSTWakeUpOpositeDVI(BOARDHANDLE* h, uint32_t module, MODEINFO* mode,
                                 uint8_t* saved);
HALSTATUS HSLKSTShowCEMData_2FPgasI2C(BOARDHANDLE* h, MODEINFO* mode, FPGAPROGRAM* program);
