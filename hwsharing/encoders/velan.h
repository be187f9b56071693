// The Velan TV encoder, reached over I2C: its PLL search, the packing of a
// gamma curve into its registers and its view of a mode record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/regs/velan.h"
#include "hwsharing/chip/haltypes.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/encoders/tv_tables.h"

// The encoder's view of a mode record's four adjust groups (bytes 76-91):
// four signed 32-bit words, all -1 when the mode asks for no adjustment.
inline constexpr unsigned kVlnAdjustHOffset = 0;
inline constexpr unsigned kVlnAdjustVOffset = 1;
inline constexpr unsigned kVlnAdjustThird = 2;
inline constexpr unsigned kVlnAdjustVScaleStep = 3;
int32_t VlnAdjustWord(const MODEINFO* mode, unsigned word);
void SetVlnAdjustWord(MODEINFO* mode, unsigned word, int32_t value);
bool VlnNoAdjustment(const MODEINFO* mode);

// The encoder's PLL from its 27,000 kHz reference: M 1-13, N 1-126, P 3 or
// 1, and the VCO range code 0-3.
struct VLNPLL {
  uint32_t m, n, p, range;
};
VLNPLL VlnComputePll(uint32_t clockKHz);

// Registers 0x83-0x8B for a gamma curve of a level.
void VlnPackGamma(uint32_t level, const VLNGAMMA& gamma, uint8_t (&regs)[kVlnGammaRegisters]);

// ---- Status codes ---------------------------------------------------------------------
inline constexpr HALSTATUS kErrVlnI2cRead = 0xb0401121;
inline constexpr HALSTATUS kErrVlnI2cWrite = 0xb0402121;
inline constexpr HALSTATUS kErrVlnProcAmpNoVelan = 0xb0601060;
inline constexpr HALSTATUS kErrVlnValidateNoVelan = 0xb0701060;
inline constexpr HALSTATUS kErrVlnModeZoom = 0xb07010f0;
inline constexpr HALSTATUS kErrVlnModeSize = 0xb0701112;
inline constexpr HALSTATUS kErrVlnModeDesktop = 0xb0701113;
inline constexpr HALSTATUS kErrVlnRefresh = 0xb0703111;
inline constexpr HALSTATUS kErrVlnStandardUnknown = 0xb0703114;
inline constexpr HALSTATUS kErrVlnStandardNoVelan = 0xb0706060;
inline constexpr HALSTATUS kErrVlnStandard = 0xb0706130;
inline constexpr HALSTATUS kErrVlnCableNoVelan = 0xb0707060;
inline constexpr HALSTATUS kErrVlnCable = 0xb0707130;
inline constexpr HALSTATUS kErrVlnTvOutNoVelan = 0xb0709060;
inline constexpr HALSTATUS kErrVlnColorBarNoVelan = 0xb070a060;
inline constexpr HALSTATUS kErrVlnPassThroughNoVelan = 0xb070b060;
inline constexpr HALSTATUS kErrVlnDisableNoVelan = 0xb070d060;
inline constexpr HALSTATUS kErrVlnYuvNoVelan = 0xb0718060;
inline constexpr HALSTATUS kErrVlnGpioNoVelan = 0xb071a060;
inline constexpr HALSTATUS kErrVlnPixPllNoVelan = 0xb071b060;
inline constexpr HALSTATUS kErrVlnPosition = 0xb071c115;
inline constexpr HALSTATUS kErrVlnGpioStateNoVelan = 0xb071d060;
inline constexpr HALSTATUS kErrVlnStepNoAdjust = 0xb071e0e0;
inline constexpr HALSTATUS kErrVlnStep = 0xb071e130;

// TV mode states.
inline constexpr uint8_t kTvStateDisabled = 0;
inline constexpr uint8_t kTvStateTvOut = 1;
inline constexpr uint8_t kTvStateColorBars = 2;
inline constexpr uint8_t kTvStatePassThrough = 3;
inline constexpr uint8_t kTvStateCrtOut = 4;
inline constexpr uint8_t kTvStateYuv = 5;
inline constexpr uint8_t kTvStatePassThroughMaster = 6;
inline constexpr uint8_t kTvStatePixPll = 7;

// TV source routing codes of jump-table slots 32 and 33.
inline constexpr uint32_t kTvRouteOff = 0;
inline constexpr uint32_t kTvRoutePassThrough = 1;
inline constexpr uint32_t kTvRouteFirstController = 2;
inline constexpr uint32_t kTvRouteSecondController = 3;
inline constexpr uint32_t kTvRouteYuv = 4;

// Proc-amp mask bits of the encoder table's dispatch.
inline constexpr uint32_t kVlnProcAmpFilters = 0x01;
inline constexpr uint32_t kVlnProcAmpDeflicker = 0x02;
inline constexpr uint32_t kVlnProcAmpSaturation = 0x04;
inline constexpr uint32_t kVlnProcAmpBrightness = 0x08;
inline constexpr uint32_t kVlnProcAmpContrast = 0x10;
inline constexpr uint32_t kVlnProcAmpHue = 0x20;
inline constexpr uint32_t kVlnProcAmpGamma = 0x40;
inline constexpr uint32_t kVlnProcAmpAll = 0xFF;

// ---- Register access ----------------------------------------------------------------
// One transfer on an open port at the target's address: the address (the
// read address for a read) with a start, the register index, then the bytes,
// the last one with a stop (not acknowledged on a read). Answers whether
// every acknowledge came; a failure sends a stop.
bool VlnRegisterTransfer(BOARDHANDLE* h, const I2cTarget& target, uint32_t reg, uint8_t* data,
                         uint32_t count, bool read);
// Register helpers over the table's I2C slots: a 16-bit value goes low byte
// to the register and high byte to the next, in one transfer; Modify keeps
// the bits of `keep`, ORs `set` and writes the byte back.
uint8_t VlnRead8(BOARDHANDLE* h, uint8_t reg);
void VlnWrite8(BOARDHANDLE* h, uint8_t reg, uint32_t value);
uint32_t VlnRead16(BOARDHANDLE* h, uint8_t reg);
void VlnWrite16(BOARDHANDLE* h, uint8_t reg, uint32_t value);
void VlnModify8(BOARDHANDLE* h, uint8_t reg, uint8_t keep, uint8_t set);

HALSTATUS HSLVLNI2CRead(BOARDHANDLE* h, uint32_t reg, uint8_t* data, uint32_t count);
HALSTATUS HSLVLNI2CWrite(BOARDHANDLE* h, uint32_t reg, uint8_t* data, uint32_t count);
HALSTATUS HSLVLNI2CReadSecondHD15Module(BOARDHANDLE* h, uint8_t* value);
HALSTATUS HSLVLNI2CWriteSecondHD15Module(BOARDHANDLE* h, uint8_t value);
HALSTATUS HSLVLNSync(BOARDHANDLE* h);
HALSTATUS HSLVLNEnableDataTransfer(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLVLNResetVFCIInterface(BOARDHANDLE* h);
HALSTATUS HSLVLNReset(BOARDHANDLE* h);

// ---- Validation and settings ----------------------------------------------------------
HALSTATUS HSLVLNValidateMode(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNValidateVideoParameters(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNSetTVStandard(BOARDHANDLE* h, uint32_t standard);
HALSTATUS HSLVLNSetTVCableType(BOARDHANDLE* h, uint32_t cable);
HALSTATUS HSLVLNDetectTV(BOARDHANDLE* h, uint32_t* detected);

// ---- GPIO and sync polarity -------------------------------------------------------------
HALSTATUS HSLVLNSetGPIODirect(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLVLNSetGPIO(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLVLNGetGPIOOutputState(BOARDHANDLE* h, uint32_t* state);
HALSTATUS HSLVLNSynchPol(BOARDHANDLE* h, uint32_t first, uint32_t second);

// ---- PLL, timing and position ----------------------------------------------------------
HALSTATUS HSLVLNComputePLLParam(BOARDHANDLE* h, uint32_t clockKHz, uint32_t* m, uint32_t* n,
                                uint32_t* p, uint32_t* range);
HALSTATUS HSLVLNSetPLL(BOARDHANDLE* h, VLNTIMING* block);
HALSTATUS HSLVLNSetCRTC(BOARDHANDLE* h, MODEINFO* mode, VLNTIMING* block);
HALSTATUS HSLVLNCalculateTVPosition(BOARDHANDLE* h, MODEINFO* mode, VLNTIMING* block);
HALSTATUS HSLVLNValidateTVPosition(BOARDHANDLE* h, MODEINFO* mode, VLNTIMING* block);
HALSTATUS HSLVLNAdjustTVPosition(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNModifyTVParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t step);
HALSTATUS HSLVLNApplyVrstPatch(BOARDHANDLE* h, MODEINFO* mode);

// ---- Gamma, filters, proc-amp -----------------------------------------------------------
HALSTATUS HSLVLNSetGamma(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLVLNSetDeflicker(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLVLNSetTextFilter(BOARDHANDLE* h, TVPROCAMP* values);
HALSTATUS HSLVLNSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t mask);

// ---- Mode sequences ---------------------------------------------------------------------
HALSTATUS HSLVLNSetTVOutMode(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNSetTVOutModeCRTC2(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNSetTVColorBarMode(BOARDHANDLE* h);
HALSTATUS HSLVLNSetTVPassThroughMode(BOARDHANDLE* h, uint32_t master);
HALSTATUS HSLVLNSetTVYUVMode(BOARDHANDLE* h);
HALSTATUS HSLVLNSetTVYUVModeKalvoRev0(BOARDHANDLE* h);
HALSTATUS HSLVLNSetTVDisableMode(BOARDHANDLE* h);
HALSTATUS HSLVLNSetCRTOutMode(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNPIXPLLSET(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLVLNCRTC2SetITU656(BOARDHANDLE* h, MODEINFO* mode);
