// Client services of the hardware library over the X driver's client record.
#include "core/client_services.h"

#include <string.h>

#include "core/os.h"
#include "core/regs/clocks.h"
#include "core/regs/dma.h"
#include "core/wait_bounds.h"

namespace {

// Cache word of a shadowed register, or null for any other register.
uint32_t* ShadowWord(BOARDHANDLE* board, uint32_t reg) {
  if (reg < kRegFsShadowFirst || reg > kRegFsShadowLast || (reg & 3) != 0) return nullptr;
  return &ORVGetFsCache(board)[(reg - kRegFsShadowFirst) / 4];
}

volatile uint8_t* Registers(BOARDHANDLE* board) { return ORVGetClientPointer(board)->registers; }
volatile uint8_t* FrameBuffer(BOARDHANDLE* board) { return ORVGetClientPointer(board)->frameBuffer; }
uint32_t PciHandle(BOARDHANDLE* board) { return ORVGetClientPointer(board)->pciHandle; }

}  // namespace

ORVClientRecord* ORVGetClientPointer(BOARDHANDLE* board) {
  ORVClientRecord* client;
  memcpy(&client, reinterpret_cast<unsigned char*>(board) + kBoardHandleClientOffset,
         sizeof(client));
  return client;
}

uint32_t* ORVGetFsCache(BOARDHANDLE* board) { return ORVGetClientPointer(board)->fsCache; }

void* ORVGetPinsPointer(BOARDHANDLE* board) {
  return reinterpret_cast<unsigned char*>(board) + kBoardHandlePinsOffset;
}

// ---- Configuration space --------------------------------------------------------

uint32_t ClientReadConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value) {
  csReadByte(PciHandle(board), offset, value);
  return 0;
}

uint32_t ClientReadConfigSpaceDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value) {
  csReadDword(PciHandle(board), offset, value);
  return 0;
}

uint32_t ClientWriteConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint8_t value) {
  csWriteByte(PciHandle(board), offset, value);
  return 0;
}

uint32_t ClientWriteConfigSpaceDword(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  csWriteDword(PciHandle(board), offset, value);
  return 0;
}

// ---- Register and frame-buffer windows ---------------------------------------------

uint32_t ClientOpenRegisterBase(BOARDHANDLE*) { return 0; }
uint32_t ClientCloseRegisterBase(BOARDHANDLE*) { return 0; }
uint32_t ClientOpenMemoryBase(BOARDHANDLE*) { return 0; }
uint32_t ClientCloseMemoryBase(BOARDHANDLE*) { return 0; }

uint32_t ClientReadRegisterByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value) {
  memReadByte(Registers(board), offset, value);
  return 0;
}

uint32_t ClientReadRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value) {
  memReadDword(Registers(board), offset, value);
  return 0;
}

uint32_t ClientWriteRegisterByte(BOARDHANDLE* board, uint32_t offset, uint8_t value) {
  memWriteByte(Registers(board), offset, value);
  return 0;
}

uint32_t ClientWriteRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  memWriteDword(Registers(board), offset, value);
  return 0;
}

uint32_t ClientReadMemoryByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value) {
  memReadByte(FrameBuffer(board), offset, value);
  return 0;
}

uint32_t ClientReadMemoryDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value) {
  memReadDword(FrameBuffer(board), offset, value);
  return 0;
}

uint32_t ClientWriteMemoryByte(BOARDHANDLE* board, uint32_t offset, uint8_t value) {
  memWriteByte(FrameBuffer(board), offset, value);
  return 0;
}

uint32_t ClientWriteMemoryDword(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  memWriteDword(FrameBuffer(board), offset, value);
  return 0;
}

// ---- Stubs ----------------------------------------------------------------------

uint32_t ClientOpenSystemDevice(BOARDHANDLE*) { return 1; }
uint32_t ClientCloseSystemDevice(BOARDHANDLE*) { return 1; }
uint32_t ClientReadSystemDeviceByte(BOARDHANDLE*, uint32_t, uint8_t*) { return 1; }
uint32_t ClientReadSystemDeviceDword(BOARDHANDLE*, uint32_t, uint32_t*) { return 1; }
uint32_t ClientWriteSystemDeviceByte(BOARDHANDLE*, uint32_t, uint8_t) { return 1; }
uint32_t ClientWriteSystemDeviceDword(BOARDHANDLE*, uint32_t, uint32_t) { return 1; }

uint32_t ClientWait(BOARDHANDLE* board, uint32_t units) {
  volatile uint8_t* registers = Registers(board);
  // A delay only costs time: the fuzz build spends the share of it that it
  // spends of every wait's bound (core/wait_bounds.h).
  const uint32_t spent = units / kWaitBoundDivisor + (units % kWaitBoundDivisor != 0 ? 1 : 0);
  for (uint32_t unit = 0; unit < spent; ++unit) {
    for (uint32_t i = 0; i < kWaitReadsPerUnit; ++i) {
      uint32_t discarded;
      memReadDword(registers, kRegWaitDummy, &discarded);
    }
  }
  return 0;
}

uint32_t ClientGetBiosInfo(BOARDHANDLE*, void*, void*) { return 0; }
uint32_t ClientReadDDCEdid(BOARDHANDLE*, uint32_t, uint8_t*, uint32_t) { return 1; }
uint32_t ClientCustomCall(BOARDHANDLE* board, uint32_t code, void* in, void* out) {
  ORVClientRecord* client = ORVGetClientPointer(board);
  if (client != nullptr && client->customCall != nullptr) return client->customCall(client, code, in, out);
  return 1;
}
uint32_t ClientApplyEpromPatch(BOARDHANDLE*) { return 1; }
uint32_t ClientDetectHostInterface(BOARDHANDLE*, void*) { return 1; }

uint32_t ClientReadRegShadowDword(BOARDHANDLE* board, uint32_t reg, uint32_t* value) {
  uint32_t* word = ShadowWord(board, reg);
  if (word == nullptr) return 0;
  *value = *word;
  return 1;
}

uint32_t ClientWriteRegShadowDword(BOARDHANDLE* board, uint32_t reg, const uint32_t* value) {
  uint32_t* word = ShadowWord(board, reg);
  if (word == nullptr) return 0;
  *word = *value;
  return 1;
}

// ---- HW forwarders ----------------------------------------------------------------

uint32_t HWReadConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value) {
  return ClientReadConfigSpaceByte(board, offset, value);
}
uint32_t HWReadConfigSpaceDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value) {
  return ClientReadConfigSpaceDword(board, offset, value);
}
uint32_t HWWriteConfigSpaceByte(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  return ClientWriteConfigSpaceByte(board, offset, static_cast<uint8_t>(value));
}
uint32_t HWWriteConfigSpaceULONG(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  return ClientWriteConfigSpaceDword(board, offset, value);
}
uint32_t HWReadRegisterByte(BOARDHANDLE* board, uint32_t offset, uint8_t* value) {
  return ClientReadRegisterByte(board, offset, value);
}
uint32_t HWReadRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t* value) {
  return ClientReadRegisterDword(board, offset, value);
}
uint32_t HWWriteRegisterByte(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  return ClientWriteRegisterByte(board, offset, static_cast<uint8_t>(value));
}
uint32_t HWWriteRegisterDword(BOARDHANDLE* board, uint32_t offset, uint32_t value) {
  return ClientWriteRegisterDword(board, offset, value);
}
uint32_t HWDelay(BOARDHANDLE* board, uint32_t units) { return ClientWait(board, units); }
uint32_t HWBri90ReadRegShadowDword(BOARDHANDLE* board, uint32_t reg, uint32_t* value) {
  return ClientReadRegShadowDword(board, reg, value);
}
uint32_t HWBri90WriteRegShadowDword(BOARDHANDLE* board, uint32_t reg, const uint32_t* value) {
  return ClientWriteRegShadowDword(board, reg, value);
}
void* HWKSTGetPINS(BOARDHANDLE* board) { return ORVGetPinsPointer(board); }
