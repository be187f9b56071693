// Layout of the board description block (PInS) that the option ROM or the
// configuration EEPROM carries: the version word, the offsets of the fields
// the hardware library reads, their bits, and the description versions
// from which a field is present. Every reader takes the layout from here.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---- Sizes -------------------------------------------------------------------------
// The board handle keeps 768 bytes: every field the library reads (the later
// generation's memory-controller words end at 704); a longer block is cut.
inline constexpr size_t kPinsDataSize = 768;
inline constexpr uint32_t kPinsBlockSize = 512;

// ---- Header -------------------------------------------------------------------------
inline constexpr uint16_t kPinsSignature = 0x412E;
inline constexpr uint32_t kPinsVersion = 4;  // the version word

// ---- Versions ------------------------------------------------------------------------
// Readers compare the version word with these (some fields are present from
// a version on, others only above it).
inline constexpr uint16_t kPinsVersion600 = 0x600;  // from here the header's length is a word
inline constexpr uint16_t kPinsVersion603 = 0x603;
inline constexpr uint16_t kPinsVersion604 = 0x604;
inline constexpr uint16_t kPinsVersion605 = 0x605;
inline constexpr uint16_t kPinsVersion608 = 0x608;
inline constexpr uint16_t kPinsVersion609 = 0x609;
inline constexpr uint16_t kPinsVersion60A = 0x60A;
inline constexpr uint16_t kPinsVersion60B = 0x60B;
inline constexpr uint16_t kPinsVersion700 = 0x700;

// ---- Board words and texts --------------------------------------------------------------
inline constexpr uint32_t kPinsBoardWord1 = 6;
inline constexpr uint32_t kPinsBoardWord2 = 10;
inline constexpr uint32_t kPinsSerialText = 12;
inline constexpr uint32_t kPinsBoardWord3 = 34;
inline constexpr uint32_t kPinsBoardText = 376;
inline constexpr uint32_t kPinsTextLength = 16;

// ---- Frequency synthesizers (36 + 20 n) -----------------------------------------------
inline constexpr uint32_t kPinsFsBlock = 36;
inline constexpr uint32_t kPinsFsStride = 20;
inline constexpr uint32_t kPinsFsFrequency = 0;  // u32 kHz
inline constexpr uint32_t kPinsFsPreset = 4;     // u32 register value, 0 = search
inline constexpr uint32_t kPinsFsLimits = 8;     // six s16 in MHz

// ---- Clocks and memory ----------------------------------------------------------------
inline constexpr uint32_t kPinsClockSelect = 132;  // register 0xE00, first generation
// The option word: bits 4 and 5 digital transmitters of outputs 0 and 1
// allowed, 6 video decoder, 7 configuration EEPROM, 9 and 13 feature bits
// 31 and 29, 10 and 16 the two readings of connector bit 5; bit 15 (of its
// low half) the digital outputs' termination: the Chrontel encoders'
// register 0x23 gets 0x06 instead of 0x04.
inline constexpr uint32_t kPinsOptionWord = 136;
inline constexpr uint32_t kPinsOptionDviTermination = 0x8000;
// The memory word: bit 3 controllers 4 and 8 unused; its top byte (143) the
// memory clock in MHz.
inline constexpr uint32_t kPinsMemoryConfig = 140;
inline constexpr uint32_t kPinsMemOptNoMc48 = 1u << 3;
inline constexpr uint32_t kPinsMemoryClock = 143;

// ---- Connectors and outputs -------------------------------------------------------------
// Connector codes (144-147, the code in the low six bits) and the connector
// description bytes after them (148-151; analog, digital, TV, dual-link and
// routing bits).
inline constexpr size_t kPinsConnectorCodes = 144;
inline constexpr size_t kPinsConnectorBytes = 148;
inline constexpr uint32_t kPinsOutputMaxClock = 152;     // outputs 0-3, 4 MHz units
inline constexpr uint32_t kPinsOutputSecondLimit = 158;  // outputs 0-1
inline constexpr uint32_t kPinsCapability = 161;

// ---- Memory controllers -----------------------------------------------------------------
inline constexpr uint32_t kPinsMcBlock1 = 164;
inline constexpr uint32_t kPinsMcBlock2 = 216;
inline constexpr uint32_t kPinsMcBlock4 = 268;
inline constexpr uint32_t kPinsMcBlock8 = 320;

// ---- Outputs, lines and modules ---------------------------------------------------------
inline constexpr uint32_t kPinsDacFields = 372;
inline constexpr uint32_t kPinsMiscIoMap = 392;      // function codes of lines 0-7
inline constexpr uint32_t kPinsMiscIoMapHigh = 396;  // lines 8-10 and their expander codes
inline constexpr uint32_t kPinsDvoWord = 400;
inline constexpr uint32_t kPinsClockModeByte = 403;
inline constexpr uint32_t kPinsDvoWord2 = 404;
inline constexpr uint32_t kPinsPostWord = 412;
inline constexpr uint32_t kPinsBoardType = 417;
inline constexpr uint32_t kPinsCemProgMethod = 418;
inline constexpr uint32_t kPinsCemCntlMethod = 419;
inline constexpr uint32_t kPinsCemControlByte = 420;
inline constexpr uint32_t kPinsCemCode = 421;
inline constexpr uint32_t kPinsFpgaClockLimit = 422;  // MHz above 255
inline constexpr uint32_t kPinsEncoderGpioMap = 424;
inline constexpr uint32_t kPinsExpanderMap = 428;
inline constexpr uint32_t kPinsDdcMap = 436;
inline constexpr uint32_t kPinsCemMiscIoCodes = 440;
// Digital flags: bit 0 spread spectrum allowed; bit 1 two digital outputs
// driven together above 65 MHz need the pixel clock detuned (and are
// refused by the mode check).
inline constexpr uint32_t kPinsDigitalFlags = 452;
inline constexpr uint8_t kPinsDigitalSpread = 0x1;
inline constexpr uint8_t kPinsDigitalDetune = 0x2;

// ---- The later generation's clocks and memory ---------------------------------------------
inline constexpr uint32_t kPinsB90ClockSelect0 = 512;  // registers 0xE00, 0xE04, 0xE08
inline constexpr uint32_t kPinsB90ClockSelect1 = 516;
inline constexpr uint32_t kPinsB90ClockSelect2 = 520;
inline constexpr uint32_t kPinsB90OscTest = 524;  // value for register 0xE24
inline constexpr uint32_t kPinsB90McWords = 528;  // 44 words
inline constexpr uint32_t kPinsB90Train1 = 616;
inline constexpr uint32_t kPinsB90Train2 = 664;

// ---- Port word bits: which board-line I2C ports exist ---------------------------------------
inline constexpr uint32_t kPinsPortWordPort1 = 1u << 2;
inline constexpr uint32_t kPinsPortWordPort16 = 1u << 3;
inline constexpr uint32_t kPinsPortSpeedPort1Fast = 0x40000;
inline constexpr uint32_t kPinsPortSpeedPort16Fast = 0x80000;

// ---- Defaults of descriptions that predate a field ---------------------------------------
inline constexpr uint32_t kPinsDefaultMiscIoMap = 0x43706521;
inline constexpr uint32_t kPinsDefaultDdcMap = 0x05070608;
inline constexpr uint32_t kPinsDefaultPostWord = 0x606;
