// The board's PCI access callbacks, its identity and name, and the text
// console's video mode through the video BIOS.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "xdriver/orv_rec.h"

// One board of the name table: PCI device id, PCI subsystem id, name.
struct OrvBoardName {
  int32_t deviceId;
  int32_t subsystemId;
  const char* name;
};
// Ends with a row whose ids are 0.
extern const OrvBoardName g_aOrvBoardNames[];

void ORVPreInitPciAccessDisable(ORVEntityRec* entity, EntityInfoPtr xentity, ScrnInfoPtr screen);
void ORVPostInitPciAccessDisable(ORVEntityRec* entity);

// Device id (upper half of configuration dword 0) and subsystem id (upper
// half of dword 0x2C); both -1 when they cannot be read.
void ORVGetPciIds(ORVRec* rec, int32_t* deviceId, int32_t* subsystemId);
// The board's name into buffer (at most size bytes, always terminated);
// 1 when the board is in the table, 0 (and the unknown-device text)
// otherwise.
int ORVGetDeviceNameStr(ScrnInfoPtr screen, char* buffer, size_t size);
// Logs the ids and the name; answers what ORVGetDeviceNameStr answered.
int ORVGetDeviceName(ScrnInfoPtr screen);

// The console's VBE mode: read it (saving the BIOS words the first time),
// set it back, and repair a console left in a VESA graphics mode.
int ORVGetConsoleMode(ScrnInfoPtr screen);
int ORVSetConsoleMode(ScrnInfoPtr screen);
void FixBios(ScrnInfoPtr screen);

// The four BIOS words at register aperture offsets 0, 4, 8 and 12, kept in
// the board's entity record.
void ORVSaveBiosMemory(ORVRec* rec);
void ORVRestoreBiosMemory(ORVRec* rec);
