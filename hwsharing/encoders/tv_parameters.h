// The TV parameter look-ups (slots of the TV encoder table) and the
// library's public TV entry points.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"
#include "hwsharing/encoders/tv_tables.h"

inline constexpr HALSTATUS kErrTveTvParameters = 0xb0501070;
inline constexpr HALSTATUS kErrTveEncoderParameters = 0xb0502071;
inline constexpr HALSTATUS kErrTveTimingOld = 0xb0504071;
inline constexpr HALSTATUS kErrTveColorBar = 0xb0505071;
inline constexpr HALSTATUS kErrTveProcAmp = 0xb0506071;
inline constexpr HALSTATUS kErrTveLuma = 0xb0507071;
inline constexpr HALSTATUS kErrTveGamma = 0xb0508071;
inline constexpr HALSTATUS kErrTveVScale = 0xb050a070;
inline constexpr HALSTATUS kErrTveItu656 = 0xb050b070;

inline constexpr HALSTATUS kErrHalTvParameters = 0xa0601060;
inline constexpr HALSTATUS kErrHalTvGetProcAmp = 0xa0602060;
inline constexpr HALSTATUS kErrHalTvSetProcAmp = 0xa0603060;
inline constexpr HALSTATUS kErrHalTvOutMode = 0xa0604060;
inline constexpr HALSTATUS kErrHalTvColorBar = 0xa0605060;
inline constexpr HALSTATUS kErrHalTvPassThrough = 0xa0606060;
inline constexpr HALSTATUS kErrHalTvPassThroughMaster = 0xa0607060;
inline constexpr HALSTATUS kErrHalTvDisable = 0xa0608060;
inline constexpr HALSTATUS kErrHalTvCable = 0xa0609060;
inline constexpr HALSTATUS kErrHalTvStandard = 0xa060a060;

// flOutput: the mode is shown in the YUV timing.
inline constexpr uint32_t kOutputYuvTiming = 0x00800000;
// Output capability bits: TV output, DTV output.
inline constexpr uint32_t kOutputCapsTvOut = 0x8;
inline constexpr uint32_t kOutputCapsDtvOut = 0xC0C0;

// ---- Look-ups -----------------------------------------------------------------------------
HALSTATUS HSLTVEGetTVParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t standard);
HALSTATUS HSLTVEGetVScaleTVParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t standard);
HALSTATUS HSLTVEGetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* out, uint32_t standard, uint32_t level);
HALSTATUS HSLTVEGetCVE2ITU656Parameters(BOARDHANDLE* h, MODEINFO* mode, CVE2ITU656* out);
HALSTATUS HSLTVEGetEncoderParameters(BOARDHANDLE* h, uint32_t standard, CVE2PARAMS* out);
HALSTATUS HSLTVEGetTimingParametersOldMethod(BOARDHANDLE* h, uint32_t standard, uint32_t width,
                                             uint32_t height, VLNTIMING* out);
HALSTATUS HSLTVEGetTimingParameters(BOARDHANDLE* h, uint32_t standard, MODEINFO* mode,
                                    VLNTIMING* out);
HALSTATUS HSLTVEGetGammaParameters(BOARDHANDLE* h, uint32_t level, VLNGAMMA* out);
HALSTATUS HSLTVEGetLumaParameters(BOARDHANDLE* h, uint32_t standard, CVE2LUMA* out);
HALSTATUS HSLTVEGetColorBarTimingParameters(BOARDHANDLE* h, uint32_t standard, VLNTIMING* out);
HALSTATUS HSLTVEGetIDForParameters(BOARDHANDLE* h, uint8_t* id);

// ---- Public entries ----------------------------------------------------------------------------
HALSTATUS HALGetTVOutputParameters(BOARDHANDLE* h, MODEINFO* mode, uint8_t standard);
HALSTATUS HALGetDTVOutputParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t index);
HALSTATUS HALGetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint8_t standard, uint8_t level);
HALSTATUS HALSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t mask);
HALSTATUS HALSetTVOutMode(BOARDHANDLE* h);
HALSTATUS HALSetTVColorBarMode(BOARDHANDLE* h);
HALSTATUS HALSetTVPassThroughMode(BOARDHANDLE* h);
HALSTATUS HALSetTVPassThroughMasterMode(BOARDHANDLE* h);
HALSTATUS HALSetTVDisableMode(BOARDHANDLE* h);
HALSTATUS HALDetectTV(BOARDHANDLE* h, uint32_t* detected);
HALSTATUS HALSetTVCableType(BOARDHANDLE* h, uint8_t cable);
HALSTATUS HALSetTVStandard(BOARDHANDLE* h, uint8_t standard);
