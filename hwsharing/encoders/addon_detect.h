// Detection of the chips beside the graphics chip on the board's I2C buses:
// each detector probes its addresses, records where a chip answered in the
// board handle and raises its bits in the add-on flag word.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// A missing acknowledge ends the probe of an address with a stop; the bus
// then rests before the next address.
inline constexpr uint32_t kProbeRestUnits = 500;

HALSTATUS HALPDetectAddOn(BOARDHANDLE* h);
HALSTATUS HSLDetectVelan(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectVideoDecoder(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectPanelLinkModule(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectVB2(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectMSP(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectDVD(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectMJPEG(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectTVTuner(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectSecondHD15(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectSIPanelLink(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectChrontel(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLDetectCfgSEEprom(BOARDHANDLE* h, uint32_t* found);
// Register access of the DVI transmitters, failing with the transfer codes
// of companion.h.
HALSTATUS HSLReadSIRegister(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                            uint8_t* value);
HALSTATUS HSLWriteSIRegister(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                             uint8_t value);
