// Services through which the hardware library reaches the board: the Client
// functions (first argument the library's board handle), their HW
// forwarders, PCI configuration-space primitives, the PCI bus scan and
// capability look-up, and the core's debug output.
//
// The library never touches the machine itself; in the X driver these
// services reach the board through the per-board client record that the
// board handle points to.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// The hardware library's per-board record; its layout belongs to the library.
// Only its size and the place of the client record pointer are known here.
struct BOARDHANDLE;

// Bytes of a board handle, and the offset of the client record pointer: it
// sits at the start of the last 16 bytes, which the library's set-up leaves
// alone.
inline constexpr size_t kBoardHandleSize = 20392;
inline constexpr size_t kBoardHandleClientOffset = 20376;

// The X driver's per-board client record: what the access services need of
// the board. The X driver maps both windows before it opens the library.
struct ORVClientRecord {
  uint32_t pciHandle = 0;                 // PCI tag of the board (pciGetHandle)
  volatile uint8_t* registers = nullptr;  // mapped register window
  volatile uint8_t* frameBuffer = nullptr;// mapped frame-buffer window
  uint32_t fsCache[4] = {};               // shadows of 0xE30, 0xE34, 0xE38, 0xE3C
};

// Registers whose last written value is kept in the client's cache instead
// of being read back from the chip.
inline constexpr uint32_t kRegFsShadowFirst = 0xE30;
inline constexpr uint32_t kRegFsShadowLast = 0xE3C;

// Read by ClientWait, three times per unit: the delay is bus time.
inline constexpr uint32_t kRegWaitDummy = 0x8F4;
inline constexpr uint32_t kWaitReadsPerUnit = 3;

// ---- Look-ups of the library facade ----------------------------------------
// The client record stored in the board handle; no failure path.
ORVClientRecord* ORVGetClientPointer(BOARDHANDLE* board);
// The four cache words of the shadowed frequency-synthesizer registers.
uint32_t* ORVGetFsCache(BOARDHANDLE* board);
// The board handle's copy of the video-BIOS parameter block; supplied by the
// hardware library (used by HWKSTGetPINS only).
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
// Notification hook (0x80000101 before and 0x80000102 after a mode set);
// nothing; answers 1.
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

// ---- PCI configuration space -----------------------------------------------
// handle is a PCI handle (pciGetHandle). Accesses use the widest unit that
// the configuration offset allows; the buffer side may be unaligned.
bool csReadWrite(uint32_t handle, uint32_t offset, void* buffer, uint32_t count, bool write);
bool csRead(uint32_t handle, uint32_t offset, void* buffer, uint32_t count);
bool csWrite(uint32_t handle, uint32_t offset, const void* buffer, uint32_t count);
bool csReadDword(uint32_t handle, uint32_t offset, uint32_t* value);
bool csReadWord(uint32_t handle, uint32_t offset, uint16_t* value);
bool csReadByte(uint32_t handle, uint32_t offset, uint8_t* value);
bool csWriteDword(uint32_t handle, uint32_t offset, uint32_t value);
bool csWriteWord(uint32_t handle, uint32_t offset, uint16_t value);
bool csWriteByte(uint32_t handle, uint32_t offset, uint8_t value);

// ---- PCI -------------------------------------------------------------------
inline constexpr uint8_t kPciCapPowerManagement = 1;
inline constexpr uint8_t kPciCapAgp = 2;

uint32_t pciGetHandle(uint32_t bus, uint32_t device, uint32_t function);
// Sizes the base address range at the register offset and restores it.
bool pciGetTermbase(uint32_t handle, uint32_t reg, uint32_t* base, uint32_t* size);
bool pciFindCapability(uint32_t handle, uint32_t* offset, uint8_t id);
bool pciFindPMCapability(uint32_t handle, uint32_t* offset);
bool pciFindAGPCapability(uint32_t handle, uint32_t* offset);

// Called for every present function; a non-zero answer stops the scan.
using PciScanCallback = int (*)(uint32_t handle, void* data);
bool pciScanBus(PciScanCallback callback, void* data);
bool pciScan(PciScanCallback callback, void* data);
// Whether a bridge with that vendor-and-device dword has that secondary bus.
bool pciFindVideoBridge(uint32_t bus, uint32_t vendorDevice);
// Function in bits 0-2, device in bits 3-7, bus in bits 8-15.
bool pciGetLocation(uint32_t handle, uint32_t* location);

// ---- Debug output ------------------------------------------------------------
void dbgOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// At most kDbgOutputMax characters reach the log; the text is never used as
// a format.
inline constexpr size_t kDbgOutputMax = 124;
void dbgOutputVA(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));
// Format into the caller's buffer of size bytes (always terminated when
// size is not 0).
void dbgOutputToString(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void dbgOutputToStringVA(char* buffer, size_t size, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));
