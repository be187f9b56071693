// The server's real-mode BIOS calls (int10): a record of the registers of
// one call, which the driver fills before running interrupt `num`.
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _int10Info {
  int entityIndex;
  int scrnIndex;
  pointer cpuRegs;
  CARD16 BIOSseg;
  pointer private_data;
  int num;  // interrupt number
  int ax, bx, cx, dx, si, di, es, bp;
  int flags;
  int stackseg;
} xf86Int10InfoRec, *xf86Int10InfoPtr;

// Null when the entity's BIOS cannot be run.
xf86Int10InfoPtr xf86InitInt10(int entityIndex);
void xf86FreeInt10(xf86Int10InfoPtr info);
// Runs interrupt info->num with the registers of the record and leaves the
// results there.
void xf86ExecX86int10(xf86Int10InfoPtr info);

#ifdef __cplusplus
}  // extern "C"
#endif
