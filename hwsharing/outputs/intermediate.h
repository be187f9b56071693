// The modules between a display controller and its connectors: the video
// data path (VDP) and the integrated TV encoder (TVE) of TV output 1, the
// two digital video outputs (DVO 1, DVO 2) with their clocks, the DAC sync
// routing and the expansion module's serial-parallel back end. The mode
// sequence switches a record's modules off before it reprograms the
// controller and on afterwards.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrDvoSource = 0xB1E02000;
inline constexpr HALSTATUS kErrDvoController = 0xB1E02131;

// Module types of HSLKSTIsModuleCurrentlyInUse.
inline constexpr uint32_t kModuleDac1 = 1;
inline constexpr uint32_t kModuleDac2 = 2;
inline constexpr uint32_t kModuleFirstPath = 3;
inline constexpr uint32_t kModuleSecondPath = 4;

// The analog, digital and TV bits of all four outputs: what one controller
// owns alone.
inline constexpr uint32_t kOutOwnedBits = 0xED000176;

struct VDPPARAMS {
  uint8_t aucBytes[12];
};
struct TVEPARAMS {
  uint32_t aulWord[20];  // words 9, 17, 18: registers 0x1DA4, 0x1DC4, 0x1DC8
};
static_assert(sizeof(TVEPARAMS) == 80);

HALSTATUS HSLKSTSetDisableIntermediateModule(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTDisableIntermediateModule(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTEnableIntermediateModule(BOARDHANDLE* h, MODEINFO* mode, uint32_t code);

HALSTATUS HSLKSTGetVDPParameters(BOARDHANDLE* h, const MODEINFO* mode, VDPPARAMS* vdp);
HALSTATUS HSLKSTSetVDPParameters(BOARDHANDLE* h, const VDPPARAMS* vdp);
HALSTATUS HSLKSTEnableVDP(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTDisableVDP(BOARDHANDLE* h);

HALSTATUS HSLKSTGetTVEParameters(BOARDHANDLE* h, const MODEINFO* mode, TVEPARAMS* tve);
HALSTATUS HSLKSTSetTVEParameters(BOARDHANDLE* h, const MODEINFO* mode, const TVEPARAMS* tve);
HALSTATUS HSLKSTDisableTVE(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTEnableTVE(BOARDHANDLE* h, MODEINFO* mode, uint32_t code);

HALSTATUS HSLKSTEnableDacSyncOnly(BOARDHANDLE* h, uint32_t dac, const MODEINFO* mode);
HALSTATUS HSLKSTDisableDVO(BOARDHANDLE* h, uint32_t dvo, MODEINFO* mode);
HALSTATUS HSLKSTSetDVOClock(BOARDHANDLE* h, uint32_t dvo, uint32_t source, uint32_t release);
HALSTATUS HSLKSTIsDvoLocked(BOARDHANDLE* h, MODEINFO* mode, uint32_t* locked);
HALSTATUS HSLKSTEnableDVO(BOARDHANDLE* h, uint32_t dvo, MODEINFO* mode, uint32_t source);
// Whether DVO 2 has a clock of its own (0x1C04) on this board.
bool HasSeparateDvo2Clock(const BOARDHANDLE* h);
// The board description's two DVO words (bytes 400 and 404) into 0x1C54
// (0x1C24 on the later devices, keeping its bits 0-2) and 0x1C70, or the
// defaults 0x1F and 0 when the description does not carry them.
void WriteDvoWords(BOARDHANDLE* h, bool described);

HALSTATUS HSLKSTIsModuleCurrentlyInUse(BOARDHANDLE* h, uint32_t type, uint32_t module,
                                       uint32_t* inUse);
HALSTATUS HSLKSTGetChrontelOutputMode(BOARDHANDLE* h, uint32_t encoder, uint32_t flOutput,
                                      uint32_t* mode);
HALSTATUS HSLKSTEnableCEM_SP_Backend(BOARDHANDLE* h, uint32_t fpga);
HALSTATUS HSLKSTDisableCEM_SP_Backend(BOARDHANDLE* h, uint32_t fpga);

// The TV-encoder video reset: restarts module 1 with the encoder's test
// mode until its output CRC shows a stable picture (at most 30 checks),
// then puts the registers back.
HALSTATUS HSLKSTTveApplyVidReset(BOARDHANDLE* h);
HALSTATUS HSLKSTTveVidReset_AccessRequiredReg(BOARDHANDLE* h, uint32_t write, uint32_t* block);
HALSTATUS HSLKSTTveVidReset_SetTvTestMode(BOARDHANDLE* h, uint32_t* block);
HALSTATUS HSLKSTTveVidReset_CheckCrc(BOARDHANDLE* h, uint32_t* match);
inline constexpr uint32_t kTveBlockWords = 30;
inline constexpr uint32_t kTveResetMaxChecks = 30;
