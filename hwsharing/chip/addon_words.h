// What opening a board decides about its outputs: the DVI transmitters and
// the expansion module found on its I2C ports, the board feature word, the
// output-enable word (which outputs the board offers) and the digital
// output formats the outputs start with.
#pragma once

#include <cstdint>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/haltypes.h"

// Output-enable word bits decided here.
inline constexpr uint32_t kEnableAnalog0 = 1u << 0;
inline constexpr uint32_t kEnableAnalog1 = 1u << 1;
inline constexpr uint32_t kEnableDigital0 = 1u << 2;
inline constexpr uint32_t kEnableTv1 = 1u << 3;
inline constexpr uint32_t kEnableDualLink0 = 1u << 5;
inline constexpr uint32_t kEnableDigital2 = 1u << 8;
inline constexpr uint32_t kEnableDigital3 = 1u << 9;
inline constexpr uint32_t kEnableQuad0 = 1u << 10;
inline constexpr uint32_t kEnableQuad2 = 1u << 11;
inline constexpr uint32_t kEnableQuad3 = 1u << 12;
inline constexpr uint32_t kEnableTvFewClocks = 1u << 13;
inline constexpr uint32_t kEnableCompanion2 = 1u << 14;
inline constexpr uint32_t kEnableCompanion3 = 1u << 15;
inline constexpr uint32_t kEnableTwoConnectors = 1u << 17;
inline constexpr uint32_t kEnableDualLink1 = 1u << 18;
inline constexpr uint32_t kEnableQuadOutputs = 1u << 20;
inline constexpr uint32_t kEnableDigital1 = 1u << 21;
inline constexpr uint32_t kEnableAnalog2 = 1u << 23;
inline constexpr uint32_t kEnableAnalog3 = 1u << 24;
inline constexpr uint32_t kEnableThreeConnectors = 1u << 25;
inline constexpr uint32_t kEnableFourConnectors = 1u << 26;
inline constexpr uint32_t kEnableAnalogVariant0 = 1u << 27;
inline constexpr uint32_t kEnableAnalogVariant1 = 1u << 28;
inline constexpr uint32_t kEnableRouted0 = kOutputCapsDigitalRoute0;
inline constexpr uint32_t kEnableRouted1 = kOutputCapsDigitalRoute1;
inline constexpr uint32_t kEnableBothDigital = 1u << 31;
// A board that describes no output offers analog outputs 0 and 1.
inline constexpr uint32_t kEnableNoConnectors = kEnableAnalog0 | kEnableAnalog1 | kEnableTwoConnectors;

// Board feature word bits decided here (besides the transmitter and encoder
// bits of addon_info.h).
inline constexpr uint32_t kFeatureTwinModule = 1u << 30;  // board types 1, 10, 16
inline constexpr uint32_t kFeatureOption9 = 1u << 31;

// Bits of the board description's option word read here.
inline constexpr uint32_t kOptionTransmitter0 = 1u << 4;
inline constexpr uint32_t kOptionTransmitter1 = 1u << 5;
inline constexpr uint32_t kOptionVideoDecoder = 1u << 6;
inline constexpr uint32_t kOptionCfgEeprom = 1u << 7;
inline constexpr uint32_t kOptionFeature31 = 1u << 9;
inline constexpr uint32_t kOptionAnalogVariant = 1u << 10;
inline constexpr uint32_t kOptionStereo = 1u << 13;
inline constexpr uint32_t kOptionAnalogVariantPlain = 1u << 16;

HALSTATUS HSLKSTGetAddOnInfo(BOARDHANDLE* h);  // slot 29
// `found` := 1 when a transmitter answered, else 0.
HALSTATUS HSLKSTDetectSiliconImage(BOARDHANDLE* h, uint32_t* found);
// `found` := 1 when the board carries an expansion module, else 0.
HALSTATUS HSLKSTDetectCEM(BOARDHANDLE* h, uint32_t* found);
HALSTATUS HSLKSTGetInitDigitalOutputFormats(BOARDHANDLE* h);
