// The expansion FPGAs on the board: which FPGA mode a mode record needs, the
// controller timing behind the FPGAs, the enable and disable programs, where
// a program goes, the video reset and the translated pixel clock of a
// controller. The arithmetic is fpga_modes.h's.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"
#include "hwsharing/encoders/fpga_modes.h"

inline constexpr HALSTATUS kErrFpgaTiming = 0xb2506070;
inline constexpr HALSTATUS kErrFpgaNoMode = 0xb2508070;
inline constexpr HALSTATUS kErrFpgaController = 0xb2509130;

bool HSLKSTModeUsesCEMFpga(BOARDHANDLE* h, const MODEINFO* mode);
// `adjusted` may be null; it gets the adjusted record when `copy` is 1 and
// a mode was found.
HALSTATUS HSLKSTGetFpgaMode(BOARDHANDLE* h, MODEINFO* mode, MODEINFO* adjusted, uint8_t* fpgaMode,
                            uint32_t copy);
HALSTATUS HSLKSTGetFPGAVideoParameters(BOARDHANDLE* h, uint32_t fpgaMode, MODEINFO* mode,
                                       MODEINFO* adjusted, MODEINFO* out);
HALSTATUS HSLKSTValidateFPGAFeaturePresence(BOARDHANDLE* h, uint32_t fpgaMode, MODEINFO* mode);
HALSTATUS HSLKSTTranslateFPGAVideoParameters(BOARDHANDLE* h, MODEINFO* mode, MODEINFO* scratch,
                                             MODEINFO* out);
HALSTATUS HSLKSTGetCrtcPixelClk(BOARDHANDLE* h, uint32_t* clockKHz, uint32_t controller);
HALSTATUS HSLKSTApplyFPGAReset(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTGetCEMData_2FPgasI2C_Enable(BOARDHANDLE* h, MODEINFO* mode, FPGAPROGRAM* program);
HALSTATUS HSLKSTGetCEMData_2FPgasI2C_Disable(BOARDHANDLE* h, MODEINFO* mode,
                                             FPGAPROGRAM* program);
HALSTATUS HSLKSTSetCEMData_2FPgasI2C(BOARDHANDLE* h, MODEINFO* mode, FPGAPROGRAM* program);
HALSTATUS HSLKSTEnableCEM_2FPgasI2C(BOARDHANDLE* h, MODEINFO* mode, uint32_t enable);

// The horizontal shift a record asks of the FPGAs: bit 15 the direction.
// No field of the mode record carries one, so every record answers 0.
uint32_t FpgaShiftOf(const MODEINFO* mode);
// The primary FPGA's I2C address: 0xE2 under control methods 3 and 8.
uint32_t PrimaryFpgaAddress(const BOARDHANDLE* h);
// Whether outputs of the word go through side A of the expansion module
// (the primary FPGA, which a program reaches first) or side B (the other
// FPGA), by the board's wiring.
bool HSLKSTOutputsOnFpgaA(const BOARDHANDLE* h, uint32_t flOutput);
bool HSLKSTOutputsOnFpgaB(const BOARDHANDLE* h, uint32_t flOutput);
