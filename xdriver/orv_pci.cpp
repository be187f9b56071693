// PCI access callbacks, the board's identity and name, and the console's
// video mode.
#include "xdriver/orv_pci.h"

#include <string.h>

#include "core/chip_ids.h"
#include "core/pci_config.h"
#include "core/regs/pci.h"
#include "platform/xserver/int10.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_regs.h"

// The boards of the database the configuration tools read (data/orvcards),
// so that the driver and the tools name a board alike.
const OrvBoardName g_aOrvBoardNames[] = {
    {kDeviceKestrion1, 0x0080, "Kestrion KA-100 Dual"},
    {kDeviceKestrion1, 0x0081, "Kestrion KA-100 Dual LP"},
    {kDeviceKestrion2, 0x00C0, "Kestrion KA-200 Quad"},
    {kDeviceKestrion2, 0x00C1, "Kestrion KA-200 Dual"},
    {kDeviceKestrionNext1, 0x0101, "Kestrion KB-400 Dual"},
    {kDeviceKestrionNext1, 0x0102, "Kestrion KB-400 Quad Display"},
    {kDeviceKestrionNext2, 0x0201, "Kestrion KB-500 Dual"},
    {kDeviceKestrionNext2, 0x0202, "Kestrion KB-500 Quad"},
    {kDeviceKestrionNext3, 0x0301, "Kestrion KB-600 Dual Display"},
    {kDeviceKestrionNext3, 0x0302, "Kestrion KB-600 Quad Display"},
    {0, 0, nullptr},
};

namespace {

// Command bits each enable callback switches on.
constexpr uint32_t kAccessMemBits = 0x6;    // memory space, bus master
constexpr uint32_t kAccessIoBits = 0x5;     // I/O space, bus master
constexpr uint32_t kAccessIoMemBits = 0x7;  // I/O and memory space, bus master

enum AccessKind { kAccessMem, kAccessIo, kAccessIoMem };

void AccessNothing(void*) {}

// The board's decoding and bus mastering are switched on at the first enable
// of each kind and never switched off; later enables only update the word.
template <uint32_t kBits, int kKind>
void AccessEnable(void* argument) {
  auto* arg = static_cast<OrvPciAccessArg*>(argument);
  arg->savedCommand |= kBits;
  if (arg->written[kKind]) return;
  arg->written[kKind] = 1;
  csWriteDword(arg->tag, kCfgCommand, arg->savedCommand);
}

constexpr int kVideoInterrupt = 0x10;
constexpr int kVbeGetMode = 0x4F03;
constexpr int kVbeSetMode = 0x4F02;
constexpr int kVbeSuccess = 0x004F;
constexpr uint32_t kNoConsoleMode = 0xFFFF;
constexpr uint32_t kTextMode3 = 3;
constexpr uint32_t kVesaModeMask = 0xFFF;
// VESA graphics modes the console must not be left in when the terminal is
// entered again.
constexpr uint32_t kVesa640x480x8 = 0x101;
constexpr uint32_t kVesa800x600x8 = 0x103;

// Runs one VBE call; answers the AX it leaves.
int RunVbe(xf86Int10InfoPtr pInt, int ax, int bx) {
  pInt->num = kVideoInterrupt;
  pInt->ax = ax;
  pInt->bx = bx;
  xf86ExecX86int10(pInt);
  return pInt->ax;
}

constexpr uint32_t kBiosWordOffsets[4] = {0, 4, 8, 12};

}  // namespace

void ORVPreInitPciAccessDisable(ORVEntityRec* entity, EntityInfoPtr xentity, ScrnInfoPtr screen) {
  auto* mem = static_cast<xf86AccessPtr>(xalloc(sizeof(xf86AccessRec)));
  auto* io = static_cast<xf86AccessPtr>(xalloc(sizeof(xf86AccessRec)));
  auto* both = static_cast<xf86AccessPtr>(xalloc(sizeof(xf86AccessRec)));
  if (mem == nullptr || io == nullptr || both == nullptr) {
    ErrorF("Error: Can't alloc xf86AccessRec\n");
    xfree(mem);
    xfree(io);
    xfree(both);
    return;
  }
  OrvPciAccessArg* arg = &entity->accessArg;
  arg->tag = entity->pciTag;
  csReadDword(arg->tag, kCfgCommand, &arg->savedCommand);
  *mem = {AccessNothing, AccessEnable<kAccessMemBits, kAccessMem>, arg};
  *io = {AccessNothing, AccessEnable<kAccessIoBits, kAccessIo>, arg};
  *both = {AccessNothing, AccessEnable<kAccessIoMemBits, kAccessIoMem>, arg};
  entity->pAccessMem = mem;
  entity->pAccessIo = io;
  entity->pAccessIoMem = both;
  xf86SetAccessFuncRec funcs = {mem, io, both};
  xf86SetAccessFuncs(xentity, &funcs, nullptr);
  screen->access = *both;
}

void ORVPostInitPciAccessDisable(ORVEntityRec*) {}

void ORVGetPciIds(ORVRec* rec, int32_t* deviceId, int32_t* subsystemId) {
  *deviceId = -1;
  *subsystemId = -1;
  if (rec == nullptr || rec->pEnt == nullptr) return;
  uint32_t value = 0;
  if (csReadDword(rec->pEnt->pciTag, kCfgVendorDevice, &value))
    *deviceId = static_cast<int32_t>(value >> 16);
  if (csReadDword(rec->pEnt->pciTag, kCfgSubsystem, &value))
    *subsystemId = static_cast<int32_t>(value >> 16);
}

int ORVGetDeviceNameStr(ScrnInfoPtr screen, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  int32_t device, subsystem;
  ORVGetPciIds(ORVPTR(screen), &device, &subsystem);
  const char* name = "Device Name [Unknown Orvane Device]\n";
  int found = 0;
  for (const OrvBoardName* row = g_aOrvBoardNames; row->deviceId != 0 && row->subsystemId != 0;
       ++row) {
    if (row->deviceId == device && row->subsystemId == subsystem) {
      name = row->name;
      found = 1;
      break;
    }
  }
  // A name that fills the buffer is cut, never left unterminated.
  strncpy(buffer, name, size);
  buffer[size - 1] = '\0';
  return found;
}

int ORVGetDeviceName(ScrnInfoPtr screen) {
  int32_t device, subsystem;
  ORVGetPciIds(ORVPTR(screen), &device, &subsystem);
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Device Id [%04x] Subsys Id [%04x]\n", device, subsystem);
  char name[255];
  const int found = ORVGetDeviceNameStr(screen, name, sizeof(name));
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Device Name [%s]\n", name);
  return found;
}

void ORVSaveBiosMemory(ORVRec* rec) {
  ORVEntityRec* entity = rec->pEnt;
  if (entity == nullptr || rec->ioBase == nullptr) return;
  for (int i = 0; i < 4; ++i) entity->biosWords[i] = ORV_IN_REG32(rec, rec->ioBase, kBiosWordOffsets[i]);
  entity->biosWordsSaved = 1;
}

void ORVRestoreBiosMemory(ORVRec* rec) {
  ORVEntityRec* entity = rec->pEnt;
  if (entity == nullptr || rec->ioBase == nullptr || !entity->biosWordsSaved) return;
  for (int i = 0; i < 4; ++i) ORV_OUT_REG32(rec, rec->ioBase, kBiosWordOffsets[i], entity->biosWords[i]);
}

int ORVGetConsoleMode(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pInt10 == nullptr || RunVbe(rec->pInt10, kVbeGetMode, 0) != kVbeSuccess) {
    rec->consoleMode = kNoConsoleMode;
    return 0;
  }
  rec->consoleMode = static_cast<uint32_t>(rec->pInt10->bx) & 0xFFFF;
  // Each board's words are saved once, when its console is first read.
  if (rec->pEnt != nullptr && !rec->pEnt->biosWordsSaved) ORVSaveBiosMemory(rec);
  FixBios(screen);
  return 1;
}

void FixBios(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  const uint32_t mode = rec->consoleMode & kVesaModeMask;
  if (rec->consoleMode == kNoConsoleMode || (mode != kVesa640x480x8 && mode != kVesa800x600x8))
    return;
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Fixing bios mode from %d\n",
             static_cast<int>(rec->consoleMode));
  if (rec->pInt10 != nullptr) RunVbe(rec->pInt10, kVbeSetMode, kTextMode3);
}

int ORVSetConsoleMode(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->pInt10 == nullptr) return 0;
  if (rec->consoleMode != kNoConsoleMode)
    RunVbe(rec->pInt10, kVbeSetMode, static_cast<int>(rec->consoleMode));
  return rec->pInt10->ax == kVbeSuccess;
}
