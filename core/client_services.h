// Services through which the hardware library reaches the board: the Client
// functions (first argument the library's board handle) and their HW
// forwarders; with them come the PCI configuration-space primitives
// (core/pci_config.h) and the core's debug output (core/dbg_output.h).
//
// The library never touches the machine itself; in the X driver these
// services reach the board through the per-board client record that the
// board handle points to.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "core/dbg_output.h"
#include "core/pci_config.h"

// The hardware library's per-board record; its layout belongs to the library.
// Only its size and the place of the client record pointer are known here.
struct BOARDHANDLE;

// Bytes of a board handle, and the offset of the client record pointer: it
// sits at the start of the last 16 bytes, which the library's set-up leaves
// alone. The board description (PInS) copy sits at kBoardHandlePinsOffset.
inline constexpr size_t kBoardHandleSize = 20392;
inline constexpr size_t kBoardHandleClientOffset = 20376;
inline constexpr size_t kBoardHandlePinsOffset = 14612;

// The X driver's per-board client record: what the access services need of
// the board. The X driver maps both windows before it opens the library.
struct ORVClientRecord {
  uint32_t pciHandle = 0;                 // PCI tag of the board (pciGetHandle)
  volatile uint8_t* registers = nullptr;  // mapped register window
  volatile uint8_t* frameBuffer = nullptr;// mapped frame-buffer window
  uint32_t fsCache[4] = {};               // shadows of 0xE30, 0xE34, 0xE38, 0xE3C
  // Who hears the library's notices (ClientCustomCall); the X driver leaves
  // it empty, a test listens.
  uint32_t (*customCall)(ORVClientRecord* client, uint32_t code, void* in, void* out) = nullptr;
};

// ClientWait reads kRegWaitDummy this many times per unit: the delay is
// bus time.
inline constexpr uint32_t kWaitReadsPerUnit = 3;

// ---- Look-ups of the library facade ----------------------------------------
// The client record stored in the board handle; no failure path.
ORVClientRecord* ORVGetClientPointer(BOARDHANDLE* board);
// The four cache words of the shadowed frequency-synthesizer registers.
uint32_t* ORVGetFsCache(BOARDHANDLE* board);
// The board handle's copy of the video-BIOS parameter block (used by
// HWKSTGetPINS only).
void* ORVGetPinsPointer(BOARDHANDLE* board);

// ---- Client services -----------------------------------------------------
// Access services answer 0; the stubs answer as noted.
uint32_t ClientReadConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
uint32_t ClientReadConfigSpaceDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
uint32_t ClientWriteConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint8_t value);
uint32_t ClientWriteConfigSpaceDword(BOARDHANDLE* board, uint32_t offset, uint32_t value);

uint32_t ClientOpenRegisterBase(BOARDHANDLE* board);
uint32_t ClientCloseRegisterBase(BOARDHANDLE* board);
uint32_t ClientReadRegisterByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
uint32_t ClientReadRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
uint32_t ClientWriteRegisterByte(BOARDHANDLE* board, uint32_t offset, uint8_t value);
uint32_t ClientWriteRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t value);

uint32_t ClientOpenMemoryBase(BOARDHANDLE* board);
uint32_t ClientCloseMemoryBase(BOARDHANDLE* board);
uint32_t ClientReadMemoryByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
uint32_t ClientReadMemoryDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
uint32_t ClientWriteMemoryByte(BOARDHANDLE* board, uint32_t offset, uint8_t value);
uint32_t ClientWriteMemoryDword(BOARDHANDLE* board, uint32_t offset, uint32_t value);

// No system device in this driver: every call does nothing and answers 1.
uint32_t ClientOpenSystemDevice(BOARDHANDLE* board);
uint32_t ClientCloseSystemDevice(BOARDHANDLE* board);
uint32_t ClientReadSystemDeviceByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
uint32_t ClientReadSystemDeviceDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
uint32_t ClientWriteSystemDeviceByte(BOARDHANDLE* board, uint32_t offset, uint8_t value);
uint32_t ClientWriteSystemDeviceDword(BOARDHANDLE* board, uint32_t offset, uint32_t value);

// Busy wait: kWaitReadsPerUnit reads of kRegWaitDummy per unit; answers 0.
uint32_t ClientWait(BOARDHANDLE* board, uint32_t units);
// Nothing; answers 0.
uint32_t ClientGetBiosInfo(BOARDHANDLE* board, void* info, void* size);
// No custom EDID: answers 1 and leaves the buffer alone.
uint32_t ClientReadDDCEdid(BOARDHANDLE* board, uint32_t port, uint8_t* buffer, uint32_t size);
// Notification hook (0x80000101 before and 0x80000102 after a mode set):
// passed to the client record's listener when it has one; answers 1 (or
// the listener's answer).
uint32_t ClientCustomCall(BOARDHANDLE* board, uint32_t code, void* in, void* out);
// Nothing; answer 1.
uint32_t ClientApplyEpromPatch(BOARDHANDLE* board);
uint32_t ClientDetectHostInterface(BOARDHANDLE* board, void* out);

// The four shadowed registers (0xE30..0xE3C) answer 1 and use the cache,
// never the chip; any other register answers 0 and touches nothing.
uint32_t ClientReadRegShadowDword(BOARDHANDLE* board, uint32_t reg, uint32_t* value);
uint32_t ClientWriteRegShadowDword(BOARDHANDLE* board, uint32_t reg, const uint32_t* value);

// ---- HW forwarders -------------------------------------------------------
uint32_t HWReadConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
uint32_t HWReadConfigSpaceDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
uint32_t HWWriteConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint32_t value);  // low 8 bits
uint32_t HWWriteConfigSpaceULONG(BOARDHANDLE* board, uint32_t offset, uint32_t value);
uint32_t HWReadRegisterByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value);
uint32_t HWReadRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value);
uint32_t HWWriteRegisterByte(BOARDHANDLE* board, uint32_t offset, uint32_t value);  // low 8 bits
uint32_t HWWriteRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t value);
uint32_t HWDelay(BOARDHANDLE* board, uint32_t units);
uint32_t HWBri90ReadRegShadowDword(BOARDHANDLE* board, uint32_t reg, uint32_t* value);
uint32_t HWBri90WriteRegShadowDword(BOARDHANDLE* board, uint32_t reg, const uint32_t* value);
void* HWKSTGetPINS(BOARDHANDLE* board);

