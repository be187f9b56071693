// The chip layer's small single-slot services: device I/O control, the free
// frequency synthesizer, the digital output formats, the overscan colour,
// the primary-surface address encoding and the two hardware resets.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrNoFreeFs = 0xb1c01240;
inline constexpr HALSTATUS kErrDigitalFormat = 0xb1d09131;
inline constexpr HALSTATUS kErrOverscanController = 0xb1d0c131;
inline constexpr uint32_t kFsNone = 15;
inline constexpr uint32_t kDigitalFormatNone = 0xFFFFFFFF;
inline constexpr uint32_t kDigitalOutputs = 4;

// Device I/O control codes.
inline constexpr uint32_t kIoNotifyOverlayChanged = 1;
inline constexpr uint32_t kIoCanUseOverlay = 2;
inline constexpr uint32_t kIoStereoGetSupport = 3;
inline constexpr uint32_t kIoStereoGetData = 6;
inline constexpr uint32_t kIoStereoSetData = 7;
inline constexpr uint32_t kIoStereoEnable = 8;
inline constexpr uint32_t kIoStereoIsEnabled = 9;
inline constexpr uint32_t kIoStereoToggleData = 10;
inline constexpr uint32_t kIoVidParmGetController = 11;
inline constexpr uint32_t kIoVinInputSelection = 12;
// CanUseOverlay answers.
inline constexpr uint32_t kOverlayUsable = 1;
inline constexpr uint32_t kOverlayNoBandwidth = 2;
inline constexpr uint32_t kOverlayClockTooHigh = 4;

HALSTATUS HSLKSTDeviceIoControl(BOARDHANDLE* h, uint32_t code, const void* in, uint32_t inSize,
                                void* out, uint32_t outSize, uint32_t* written);  // slot 42
HALSTATUS HSLKSTGetFreeFS(BOARDHANDLE* h, uint32_t n, uint32_t* fs);  // slot 49
// 1 when one of the three select fields of a clock-select word (register
// 0xE00) selects synthesizer `fs`.
uint32_t IsFSInUse(BOARDHANDLE* h, uint32_t value, uint32_t fs);
HALSTATUS HSLKSTValidateDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count);
HALSTATUS HSLKSTSetDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count);
HALSTATUS HSLKSTGetDigitalOutputFormat(BOARDHANDLE* h, const MODEINFO* mode, uint32_t* format,
                                       uint32_t* index);
HALSTATUS HSLKSTSetOverscanColor(BOARDHANDLE* h, uint32_t colour, uint32_t controller);
HALSTATUS HSLKST_Register_PriSurfAddr_Set(BOARDHANDLE* h, uint32_t address, uint32_t flag,
                                          uint32_t* value);
HALSTATUS HSLKST_Register_PriSurfAddr_Get(BOARDHANDLE* h, uint32_t value, uint32_t* address);
HALSTATUS HSLKSTHardwareReset(BOARDHANDLE* h);  // slot 54, devices 0x0A41, 0x0A42, 0x5D61
HALSTATUS HSLWQTHardwareReset(BOARDHANDLE* h);  // slot 54, devices 0x5D62, 0x5D63
