// The kernel core's entry table, the one thing the glue calls it through
// and the module's one export besides the glue's own interface. Built into
// the module (and into tests that load the core as the glue would).
#include "kernel/entry.h"
#include "kernel/interrupts.h"
#include "kernel/kernel_device.h"
#include "platform/kglue/kglue.h"

extern "C" __attribute__((visibility("default"))) const OrvKstrnDriver orv_kstrn_driver = {
    KernelCoreInit, KernelCoreExit,    CreateDevice,      DestroyDevice,
    OpenClient,     ReleaseClient,     CollectInterrupts, RunDeferredInterruptWork,
};
