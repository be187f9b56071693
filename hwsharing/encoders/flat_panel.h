// The flat-panel table: the PanelLink module (one control register), the
// Silicon Image PanelLink transmitter (indexed registers, version, hot
// plug), the feature-connector interface and the AV9110 clock synthesizer
// loaded through the module register.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrPanelLinkRead = 0xb0f06123;
inline constexpr HALSTATUS kErrPanelLinkWrite = 0xb0f07123;
inline constexpr HALSTATUS kErrAv9110Clock = 0xb0f08130;

inline constexpr uint32_t kPanelLinkVersion40001 = 0x40001;
inline constexpr uint32_t kPanelLinkVersion60001 = 0x60001;

HALSTATUS HSLEnablePanelLinkModuleOutput(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLFlatEnableVFCI(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLReadPanelLinkModuleRegister(BOARDHANDLE* h, uint8_t* value);
HALSTATUS HSLWritePanelLinkModuleRegister(BOARDHANDLE* h, uint8_t value);
HALSTATUS HSLGetPanelLinkModuleOutputState(BOARDHANDLE* h, uint32_t* state);
HALSTATUS HSLReadSIPanelLinkRegister(BOARDHANDLE* h, uint32_t port, uint32_t reg, uint8_t* value);
HALSTATUS HSLWriteSIPanelLinkRegister(BOARDHANDLE* h, uint32_t port, uint32_t reg, uint8_t value);
HALSTATUS HSLGetSIPanelLinkVersion(BOARDHANDLE* h, uint32_t port, uint32_t* version);
HALSTATUS HSLEnableSIPanelLinkHotPlug(BOARDHANDLE* h, uint32_t on);
HALSTATUS HSLGetSIPanelLinkHotPlugStatus(BOARDHANDLE* h, uint32_t* status);
HALSTATUS HSLFlatAV9110WriteRegister(BOARDHANDLE* h, uint32_t word);
// Refuses a clock of 0 with kErrAv9110Clock.
HALSTATUS HSLAV9110SetPixelPLL(BOARDHANDLE* h, uint32_t clockKHz);
