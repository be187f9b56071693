// Module load and unload: the module's parameters and the request handlers
// are handed to the glue at load and taken back at unload.
#include "kernel/entry.h"
#include "kernel/ioctl_3d.h"

#include "core/orv_ioctl.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/tnl/microcode_catalogue.h"
#include "kernel/kernel_device.h"
#include "kernel/x_requests.h"
#include "platform/kglue/kglue.h"

namespace {

struct IoctlEntry {
  uint32_t code;
  OrvIoctlHandler handler;
  int a, b;
};

// The X driver's requests (0, 1) and then the 3D clients' (1, 0), in the
// order they are registered and unregistered.
constexpr IoctlEntry kIoctlTable[] = {
    {ORV_IOCTL_ENABLE_DEVICE, IoctlEnableDevice, 0, 1},
    {ORV_IOCTL_DISABLE_DEVICE, IoctlDisableDevice, 0, 1},
    {ORV_IOCTL_START_DEVICE, IoctlStartDevice, 0, 1},
    {ORV_IOCTL_STOP_DEVICE, IoctlStopDevice, 0, 1},
    {ORV_IOCTL_ALLOC_BLOCK, IoctlAllocBlockMemory, 0, 1},
    {ORV_IOCTL_FREE_BLOCK, IoctlFreeBlockMemory, 0, 1},
    {ORV_IOCTL_LOCAL_MEMORY, IoctlGetLocalMemoryInfo, 0, 1},
    {ORV_IOCTL_POST_DMA, IoctlPostBusmasteringBuffer, 0, 1},
    {ORV_IOCTL_DECLARE_PRIMARY, IoctlSetPrimarySurface, 0, 1},
    {ORV_IOCTL_VSYNC_STATE, IoctlSetVSyncInterruptState, 0, 1},
    {ORV_IOCTL_CREATE_3D_CONTEXT, IoctlCreate3dContext, 1, 0},
    {ORV_IOCTL_DESTROY_3D_CONTEXT, IoctlDestroy3dContext, 1, 0},
    {ORV_IOCTL_EXECUTE_3D, IoctlExecute3dRequest, 1, 0},
};
static_assert(sizeof(kIoctlTable) / sizeof(kIoctlTable[0]) == 13);

// Registering with kind 1: the glue hands each request its file's client.
constexpr int kIoctlKindClient = 1;

}  // namespace

int KernelCoreInit() {
  OrvParm_InitLut(1, g_aoOrvModKstrnParms);
  for (const IoctlEntry& entry : kIoctlTable)
    OrvIoctl_Register(entry.code, entry.handler, kIoctlKindClient, entry.a, entry.b);
  InitFormatCapabilityTable();
  // Every board's vertex program builder reads the fragment directory and
  // the light-keyed tables from here.
  InitMicrocodeSharedTables();
  return 0;
}

int KernelCoreExit() {
  // Whatever render contexts are still alive go with the module.
  EmptyRenderContextTable();
  for (const IoctlEntry& entry : kIoctlTable) OrvIoctl_UnRegister(entry.code);
  return 0;
}
