// Decoding of a monitor's EDID: EDID 1.x with its CEA-861 extension, and
// EDID 2.0 converted to 1.x. Every routine reads a 256-byte buffer (the raw
// EDID of a monitor record; a 128-byte EDID is followed by zeros) and never
// reads past it, whatever the monitor wrote into its counts and offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr size_t kEdidBlockSize = 128;
inline constexpr size_t kEdidBufferSize = 256;
inline constexpr size_t kEdidHeaderSize = 8;
inline constexpr uint8_t kEdidHeader[kEdidHeaderSize] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
inline constexpr size_t kEdidDescriptorSize = 18;
inline constexpr size_t kEdidDescriptorCount = 4;
inline constexpr size_t kEdidFirstDescriptor = 54;
inline constexpr size_t kEdidModeEntries = 64;

// Monitor record flags.
inline constexpr uint32_t kMonitorPresent = 0x1;
inline constexpr uint32_t kMonitorEdidValid = 0x2;
inline constexpr uint32_t kMonitorGtf = 0x4;
inline constexpr uint32_t kMonitorDigital = 0x8;
inline constexpr uint32_t kMonitorTv = 0x10;
inline constexpr uint32_t kMonitorHd15TvAdaptor = 0x20;
inline constexpr uint32_t kMonitorDesktopExpander = 0x800;
inline constexpr uint32_t kMonitorPixelDoubled = 0x1000;

// Source flags of an EDIDMODE entry.
inline constexpr uint32_t kEdidModeEstablished = 1;
inline constexpr uint32_t kEdidModeStandard = 2;  // also a CEA-861 video code
inline constexpr uint32_t kEdidModeDetailed = 4;
inline constexpr uint32_t kEdidModePreferred = 8;  // also a native video code

// Aspect-ratio classes.
inline constexpr uint32_t kAspectWide = 1;      // wider than tall, no other class
inline constexpr uint32_t kAspect16x9 = 2;
inline constexpr uint32_t kAspect16x10 = 4;
inline constexpr uint32_t kAspectTall = 8;
inline constexpr uint32_t kAspectVeryWide = 16;  // height at most half the width
inline constexpr uint32_t kAspectSquare = 32;

// ---- Version, size, validity ---------------------------------------------------
// 0x10 + revision for EDID 1.x (header present), else byte 0 (0x20 for 2.0).
uint32_t HALPGetEDIDVersion(const uint8_t* edid);
inline bool IsEdid1(uint32_t version) { return (version & 0xF0) == 0x10; }
inline bool IsEdid2(uint32_t version) { return (version & 0xF0) == 0x20; }
// 256 for EDID 2.0 and for EDID 1.x with extensions, 128 for EDID 1.x
// alone, 0 for anything else.
uint32_t HALPGetEDIDBufferSize(const uint8_t* edid);
// 1 when the size is known and its bytes sum to 0 modulo 256.
uint32_t HALPIsEDIDBufferValid(const uint8_t* edid);

// ---- Timings of an EDID 1.x block -------------------------------------------------
// A two-byte standard timing; false for an unused one.
bool HALPGetResFromStandardTiming(uint32_t version, const uint8_t* bytes, uint32_t* width, uint32_t* height);
// Decodes an 18-byte detailed timing into the mode (sizes as stored, field
// lines for an interlaced timing); false when a total is 0.
bool HALPGetEDIDDetailedTimingInfo(const uint8_t* descriptor, MODEINFO* mode);
// The frame size of a detailed timing: 0 x 0 for a display descriptor;
// interlaced heights doubled; with kMonitorPixelDoubled the width doubled
// unless twice the width is a very wide picture.
void HALPGetResFromDetailedTiming(const uint8_t* descriptor, uint32_t monitorFlags, uint32_t* width, uint32_t* height,
                                  bool* widthDoubled);
// Decodes with the frame size; false for display descriptors.
bool HALPGetTranslatedDetailedTimingInfo(const uint8_t* descriptor, uint32_t monitorFlags, MODEINFO* mode);
uint32_t HALPComputeAspectRatio(uint32_t width, uint32_t height);

// ---- CEA-861 extension -----------------------------------------------------------
inline constexpr size_t kCeaMaxVideoDescriptors = kEdidBlockSize;
// The offset of the extension's detailed timings (4..127), 0 when there is
// no CEA-861 extension or its offset is out of range.
uint32_t HALPGetExtCEA861DetailedTimingOffset(const uint8_t* edid);
// The short video descriptors of the extension's video data blocks, in
// order (revision 3 and later); fills up to kCeaMaxVideoDescriptors bytes
// when `descriptors` is given and returns their number.
uint32_t HALPGetExtCEA861VideoCodeNumber(const uint8_t* edid, uint8_t* descriptors);
bool HALPIsExtCEA861VideoCodeModeNative(uint8_t descriptor);
// The timing of a short video descriptor's code; false for a code the
// library has no timing for.
bool HALPGetExtCEA861StandardTimingFromVideoCode(uint8_t descriptor, MODEINFO* mode);
// The n-th video code whose timing has the query's size; copies its timing.
bool HALPGetExtCEA861VideoCodeTiming(const uint8_t* edid, MODEINFO* query, uint32_t n);

// The four descriptors of the base block, then the extension's detailed
// timings up to its end; answers their number (at most kMaxDetailedBuffer).
inline constexpr size_t kMaxDetailedBuffer = kEdidDescriptorCount + (kEdidBlockSize - 4) / kEdidDescriptorSize;
uint32_t HALPGetCompleteDetailedTimingBuffer(const uint8_t* edid, const uint8_t* descriptors[kMaxDetailedBuffer]);

// ---- EDID 2.0 ----------------------------------------------------------------------
// Where the sections of the variable part lie; every section lies inside the
// 256 bytes (counts are cut to what fits).
struct EDID2LAYOUT {
  uint32_t ulFrequencyOffset, ulFrequencyCount;  // 8 bytes each
  uint32_t ulRangeOffset, ulRangeCount;          // 27 bytes each
  uint32_t ulTimingCodeOffset, ulTimingCodeCount;  // 4 bytes each
  uint32_t ulDetailedOffset, ulDetailedCount;    // 18 bytes each
};
void HALPCalcEDID2Offset(const uint8_t* edid, EDID2LAYOUT* layout);
// Rewrites a 256-byte EDID 2.0 buffer as a checksummed EDID 1.x block
// without extensions (the second half is cleared).
void HALPConvertEDID2toEDID1(uint8_t* edid);

// ---- Mode list ------------------------------------------------------------------
// Inserts into a sorted list of kEdidModeEntries entries (width 0 ends it).
void HSLKSTInsertEDIDMode(EDIDMODE* list, const EDIDMODE& entry);
// Builds the list of an EDID 1.x buffer: established, standard, CEA-861 and
// detailed timings.
void HALPGetEDID1EdidModes(const uint8_t* edid, EDIDMODE* list, uint32_t monitorFlags);
// The OR of the aspect-ratio classes of the buffer's mode list.
uint32_t HALPGetEDID1AspectRatio(const uint8_t* edid, uint32_t monitorFlags);

// ---- Timing enumeration of an EDID 1.x buffer by the query's size -------------
uint32_t HALPGetEDID1EstablishedTimingNumber(const uint8_t* edid, const MODEINFO* query);
bool HALPGetEDID1EstablishedTiming(const uint8_t* edid, MODEINFO* query, uint32_t n);
// Standard timings with a VESA row (or, when allowed, a GTF timing), then the
// CEA-861 video codes.
uint32_t HALPGetEDID1StandardTimingNumber(const uint8_t* edid, const MODEINFO* query, bool gtfAllowed);
bool HALPGetEDID1StandardTiming(const uint8_t* edid, MODEINFO* query, uint32_t n, bool gtfAllowed);
uint32_t HALPGetEDID1DetailedTimingNumber(const uint8_t* edid, const MODEINFO* query, uint32_t monitorFlags);
bool HALPGetEDID1DetailedTiming(const uint8_t* edid, MODEINFO* query, uint32_t n, uint32_t monitorFlags);
